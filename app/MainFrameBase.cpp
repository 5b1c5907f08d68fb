#include "app/MainFrameBase.h"

#include <algorithm>

#include "app/Layout.h"
#include "app/Translate.h"

namespace {
// The explicit font of some labels: the normal GUI font's size, default family, normal
// style and weight, no underline.
wxFont plainFont() {
    return wxFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT).GetPointSize(),
                  wxFONTFAMILY_DEFAULT, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL, false,
                  wxEmptyString);
}

// A label and the value field beside it, with the value's placeholder text.
struct LabelledValue {
    const char* label;
    const char* sample;
    wxStaticText** value;
};

}  // namespace

void MainFrameBase::fitContent() {
    // 650 x 710 at the normal size; larger text (GTK's text scaling, Czech) may need more.
    fitFrame(this, wxSize(650, 710), true);
}

wxStaticText* MainFrameBase::addLabel(wxWindow* parent, wxSizer* sizer, const char* text,
                                      bool plain, int flags) {
    auto* label = new wxStaticText(parent, wxID_ANY, tr(text), wxDefaultPosition, wxDefaultSize, 0);
    label->Wrap(-1);
    if (plain) {
        label->SetFont(plainFont());
    }
    sizer->Add(label, 0, flags, FromDIP(5));
    return label;
}

void MainFrameBase::makeMenus() {
    m_menubar = new wxMenuBar(0);
    m_menuFile = new wxMenu();
    m_menuItemQuit =
        new wxMenuItem(m_menuFile, wxID_ANY, tr("&Quit"), wxEmptyString, wxITEM_NORMAL);
    m_menuFile->Append(m_menuItemQuit);
    m_menuOperation = new wxMenu();
    m_menuItemRunFirmware = new wxMenuItem(m_menuOperation, wxID_ANY, tr("Run &Firmware"),
                                           wxEmptyString, wxITEM_NORMAL);
    m_menuOperation->Append(m_menuItemRunFirmware);
    m_menuItemStation =
        new wxMenuItem(m_menuOperation, wxID_ANY, tr("&Station..."), wxEmptyString, wxITEM_NORMAL);
    m_menuOperation->Append(m_menuItemStation);
    m_menuItemFindRoutes = new wxMenuItem(
        m_menuOperation, wxID_ANY, tr("Find &routed instruments..."), wxEmptyString, wxITEM_NORMAL);
    m_menuOperation->Append(m_menuItemFindRoutes);
    m_menuHelp = new wxMenu();
    m_menuItemAbout =
        new wxMenuItem(m_menuHelp, wxID_ANY, tr("&About"), wxEmptyString, wxITEM_NORMAL);
    m_menuHelp->Append(m_menuItemAbout);
    m_menubar->Append(m_menuFile, tr("&File"));
    m_menubar->Append(m_menuOperation, tr("&Operation"));
    m_menubar->Append(m_menuHelp, tr("&Help"));
    SetMenuBar(m_menubar);
}

// The Connection group: the port, the route path with its button, and Connect.
wxWindow* MainFrameBase::makeConnection() {
    Group connection = makeGroup(this, trLater("Connection"), true);
    auto* connectionGrid = flexGrid(0, 3);
    addLabel(connection.content, connectionGrid, trLater("COM port"), false,
             wxALIGN_CENTER_VERTICAL | wxALL);
    const wxString ports[] = {tr("COM1"), tr("COM2"), tr("COM3"), tr("COM4"),
                              tr("COM5"), tr("COM6"), tr("COM7"), tr("COM8")};
    m_comboPort = new wxComboBox(connection.content, wxID_ANY, tr("Combo!"), wxDefaultPosition,
                                 wxDefaultSize, 8, ports, wxCB_DROPDOWN | wxCB_READONLY);
    connectionGrid->Add(m_comboPort, 0, wxALL, FromDIP(5));
    connectionGrid->Add(0, 0, 1, wxEXPAND, FromDIP(5));
    addLabel(connection.content, connectionGrid, trLater("Route path"), false);
    m_textRoutePath = new wxTextCtrl(connection.content, wxID_ANY, tr("0"));
    connectionGrid->Add(m_textRoutePath, 0, wxALL, FromDIP(5));
    // The routing button under its field, not beside it: beside it the Connection group
    // took so much of the 650 pixels that the Information group cut its longest texts.
    connectionGrid->Add(0, 0, 1, wxEXPAND, FromDIP(5));
    connectionGrid->Add(0, 0, 1, wxEXPAND, FromDIP(5));
    m_buttonRoute = new wxButton(connection.content, wxID_ANY, tr("Route"));
    connectionGrid->Add(m_buttonRoute, 0, wxEXPAND | wxALL, FromDIP(5));
    finishPanel(connection.content, connectionGrid);
    m_buttonConnect = new wxButton(connection.panel, wxID_ANY, tr("Connect"));
    // Centred: the 2.8 series let centring win over right alignment; 3.2 refuses the pair.
    connection.sizer->Add(m_buttonConnect, 0, wxALIGN_CENTER_HORIZONTAL | wxALL, FromDIP(5));
    finishPanel(connection.panel, connection.sizer);
    return connection.panel;
}

// The Information group: the connected instrument's status, a label and a value a row.
wxWindow* MainFrameBase::makeInformation() {
    Group information = makeGroup(this, trLater("Information "), false);
    m_staticInfoCaption = information.caption;
    auto* infoGrid = flexGrid(0, 2);
    const LabelledValue kInfo[] = {
        {trLater("Device type"), "CU STR911", &m_staticDeviceType},
        {trLater("Bootloader version"), "1.0", &m_staticBootloaderVersion},
        {trLater("Firmware version"), "2.1", &m_staticFirmwareVersion},
        {trLater("Firmware loaded"), "11.6.2009 10:20:00", &m_staticFirmwareLoaded},
        {trLater("Firmware size"), "40567 bytes", &m_staticFirmwareSize},
        {trLater("Firmware status"), "OK", &m_staticFirmwareStatus},
    };
    for (const auto& row : kInfo) {
        addLabel(information.content, infoGrid, row.label, true);
        *row.value =
            addLabel(information.content, infoGrid, row.sample, row.value == &m_staticDeviceType);
    }
    finishPanel(information.content, infoGrid);
    finishPanel(information.panel, information.sizer);
    return information.panel;
}

// The Upload firmware group: the file, Run after upload and Upload, the image's data, and the
// gauge.
wxWindow* MainFrameBase::makeUpload() {
    Group upload = makeGroup(this, trLater("Upload firmware"), true);
    auto* uploadGrid = flexGrid(0, 3);
    uploadGrid->AddGrowableCol(1);
    addLabel(upload.content, uploadGrid, trLater("Firmware file name"), true,
             wxALIGN_CENTER_VERTICAL | wxALL);
    m_textFirmwareFile = new wxTextCtrl(upload.content, wxID_ANY, tr("firmware filename"));
    uploadGrid->Add(m_textFirmwareFile, 0, wxEXPAND | wxALL, FromDIP(5));
    m_buttonBrowseFirmware = new wxButton(upload.content, wxID_ANY, tr("Browse"));
    uploadGrid->Add(m_buttonBrowseFirmware, 0, wxALL, FromDIP(5));
    uploadGrid->Add(0, 0, 1, wxEXPAND, FromDIP(5));
    m_checkRunAfterUpload = new wxCheckBox(upload.content, wxID_ANY, tr("Run after upload"));
    uploadGrid->Add(m_checkRunAfterUpload, 0, wxALIGN_CENTER_VERTICAL | wxALL, FromDIP(5));
    m_buttonUploadFirmware = new wxButton(upload.content, wxID_ANY, tr("Upload"));
    uploadGrid->Add(m_buttonUploadFirmware, 0, wxALL, FromDIP(5));
    const LabelledValue kFile[] = {
        {trLater("Product"), "device type", &m_staticFileProduct},
        {trLater("Firmware version"), "revision", &m_staticFileVersion},
        {trLater("Build number"), "build", &m_staticFileBuild},
        {trLater("Build timestamp"), "timestamp", &m_staticFileTimestamp},
        {trLater("Length"), "length", &m_staticFileLength},
    };
    for (const auto& row : kFile) {
        addLabel(upload.content, uploadGrid, row.label, false);
        *row.value = addLabel(upload.content, uploadGrid, row.sample, false);
        if (row.value != &m_staticFileLength) {
            uploadGrid->Add(0, 0, 1, wxEXPAND, FromDIP(5));
        }
    }
    finishPanel(upload.content, uploadGrid);
    auto* gaugeRow = flexGrid(1, 2);
    gaugeRow->AddGrowableCol(0);
    m_gauge =
        new wxGauge(upload.panel, wxID_ANY, 100, wxDefaultPosition, wxDefaultSize, wxGA_HORIZONTAL);
    m_gauge->SetValue(0);
    gaugeRow->Add(m_gauge, 0, wxEXPAND | wxALL, FromDIP(5));
    upload.sizer->Add(gaugeRow, 1, wxEXPAND, FromDIP(5));
    finishPanel(upload.panel, upload.sizer);
    return upload.panel;
}

MainFrameBase::MainFrameBase(wxWindow* parent, wxWindowID id, const wxString& title,
                             const wxPoint& pos, const wxSize& size, long style)
    : wxFrame(parent, id, title, pos, size, style) {
    SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));

    makeMenus();
    m_statusBar = CreateStatusBar(1, wxST_SIZEGRIP, wxID_ANY);

    auto* frameSizer = flexGrid(0, 1);
    frameSizer->AddGrowableCol(0);
    frameSizer->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_NONE);

    // Top row: Connection and Information.
    auto* topRow = flexGrid(1, 2);
    topRow->AddGrowableCol(0);
    topRow->AddGrowableCol(1);
    topRow->AddGrowableRow(0);
    topRow->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);

    topRow->Add(makeConnection(), 1, wxEXPAND | wxTOP | wxBOTTOM | wxLEFT, FromDIP(3));
    topRow->Add(makeInformation(), 1, wxEXPAND | wxALL, FromDIP(3));
    frameSizer->Add(topRow, 1, wxEXPAND, FromDIP(5));

    // Firmware row: Upload firmware and the gauge.
    auto* firmwareRow = flexGrid(1, 1);
    firmwareRow->AddGrowableCol(0);
    firmwareRow->AddGrowableRow(0);
    firmwareRow->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);
    firmwareRow->Add(makeUpload(), 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(3));
    frameSizer->Add(firmwareRow, 1, wxEXPAND, FromDIP(5));

    SetSizer(frameSizer);
    fitContent();
    Bind(wxEVT_DPI_CHANGED, [this](wxDPIChangedEvent& event) {
        event.Skip();
        CallAfter([this] { fitContent(); });  // once the fonts have followed the new DPI
    });

    for (const Binding& b : bindings()) {
        b.source->Connect(b.id, b.type, b.handler, nullptr, b.sink);
    }
}

// Menu items are bound on the window by their ids; controls on themselves, with the window
// as the sink.
std::vector<MainFrameBase::Binding> MainFrameBase::bindings() {
    const wxEventType menu = wxEVT_COMMAND_MENU_SELECTED;
    const wxEventType click = wxEVT_COMMAND_BUTTON_CLICKED;
    return {
        {this, m_menuItemQuit->GetId(), menu, wxCommandEventHandler(MainFrameBase::OnQuit),
         nullptr},
        {this, m_menuItemRunFirmware->GetId(), menu,
         wxCommandEventHandler(MainFrameBase::OnRunFirmware), nullptr},
        {this, m_menuItemStation->GetId(), menu, wxCommandEventHandler(MainFrameBase::OnStation),
         nullptr},
        {this, m_menuItemFindRoutes->GetId(), menu,
         wxCommandEventHandler(MainFrameBase::OnFindRoutes), nullptr},
        {this, m_menuItemAbout->GetId(), menu, wxCommandEventHandler(MainFrameBase::OnAbout),
         nullptr},
        {m_buttonRoute, wxID_ANY, click, wxCommandEventHandler(MainFrameBase::OnRoute), this},
        {m_buttonConnect, wxID_ANY, click, wxCommandEventHandler(MainFrameBase::OnConnect), this},
        {m_textFirmwareFile, wxID_ANY, wxEVT_COMMAND_TEXT_UPDATED,
         wxCommandEventHandler(MainFrameBase::OnFirmwareFileChanged), this},
        {m_buttonBrowseFirmware, wxID_ANY, click,
         wxCommandEventHandler(MainFrameBase::OnBrowseFirmware), this},
        {m_buttonUploadFirmware, wxID_ANY, click,
         wxCommandEventHandler(MainFrameBase::OnUploadFirmware), this},
    };
}

MainFrameBase::~MainFrameBase() {
    for (const Binding& b : bindings()) {
        b.source->Disconnect(b.id, b.type, b.handler, nullptr, b.sink);
    }
}
