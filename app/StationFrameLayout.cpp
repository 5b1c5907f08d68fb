// The station window's layout: the settings in four groups, Start and Stop with the counts,
// and the table below them, which takes what room is left. Sizes in device-independent
// pixels; at larger text or DPI the window is as large as its contents need.
#include <algorithm>
#include <tuple>

#include "app/Layout.h"
#include "app/StationFrame.h"
#include "app/Translate.h"

namespace {
// A label; an empty one is filled in later (the catalog's empty entry is its header).
wxStaticText* label(wxWindow* parent, const char* text) {
    auto* label = new wxStaticText(parent, wxID_ANY, *text ? tr(text) : wxString());
    label->Wrap(-1);
    return label;
}
}  // namespace

void StationFrame::layOut() {
    SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));
    CreateStatusBar(1, wxST_SIZEGRIP);
    auto* top = new wxBoxSizer(wxHORIZONTAL);
    top->Add(layOutImages(), 1, wxEXPAND | wxALL, FromDIP(3));
    top->Add(layOutInstruments(), 1, wxEXPAND | wxALL, FromDIP(3));
    auto* middle = new wxBoxSizer(wxHORIZONTAL);
    middle->Add(layOutOptions(), 0, wxEXPAND | wxALL, FromDIP(3));
    middle->Add(layOutBatch(), 0, wxEXPAND | wxALL, FromDIP(3));
    middle->Add(layOutReport(), 1, wxEXPAND | wxALL, FromDIP(3));
    auto* frameSizer = new wxBoxSizer(wxVERTICAL);
    frameSizer->Add(top, 0, wxEXPAND);
    frameSizer->Add(middle, 0, wxEXPAND);
    frameSizer->Add(layOutControls(), 0, wxEXPAND);
    m_tiles = new SlotTiles(this);
    m_tiles->Hide();
    frameSizer->Add(m_tiles, 0, wxEXPAND | wxALL, FromDIP(3));
    layOutRows();
    frameSizer->Add(m_viewRows, 1, wxEXPAND | wxALL, FromDIP(3));
    SetSizer(frameSizer);
}

wxWindow* StationFrame::layOutImages() {
    const int gap = FromDIP(5);
    Group group = makeGroup(this, trLater("Images"), true);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    m_listImages = new wxListCtrl(group.content, wxID_ANY, wxDefaultPosition,
                                  FromDIP(wxSize(420, 110)), wxLC_REPORT | wxLC_SINGLE_SEL);
    appendColumns(m_listImages, {{trLater("File"), "firmware-2.1.enc", 130},
                                 {trLater("Product"), "Solvar HS3", 100},
                                 {trLater("Version"), "10.10 Beta", 80},
                                 {trLater("Build"), "123456", 70}});
    sizer->Add(m_listImages, 1, wxEXPAND | wxALL, gap);
    m_staticImagesProblem = label(group.content, "");
    m_staticImagesProblem->SetForegroundColour(wxColour(192, 0, 0));
    sizer->Add(m_staticImagesProblem, 0, wxLEFT | wxRIGHT, gap);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    m_buttonAddFiles = new wxButton(group.content, wxID_ANY, tr("Add files..."));
    m_buttonAddFolder = new wxButton(group.content, wxID_ANY, tr("Add folder..."));
    m_buttonClearImages = new wxButton(group.content, wxID_ANY, tr("Clear"));
    for (wxButton* button : {m_buttonAddFiles, m_buttonAddFolder, m_buttonClearImages}) {
        buttons->Add(button, 0, wxALL, gap);
    }
    sizer->Add(buttons);
    finishPanel(group.content, sizer);
    finishPanel(group.panel, group.sizer);
    return group.panel;
}

wxWindow* StationFrame::layOutInstruments() {
    const int gap = FromDIP(5);
    Group group = makeGroup(this, trLater("Instruments"), true);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    m_radioTicked = new wxRadioButton(group.content, wxID_ANY, tr("Ticked ports"),
                                      wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
    sizer->Add(m_radioTicked, 0, wxALL, gap);
    m_listPorts =
        new wxCheckListBox(group.content, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(380, 100)));
    sizer->Add(m_listPorts, 1, wxEXPAND | wxLEFT | wxRIGHT, gap);
    m_radioSlots = new wxRadioButton(group.content, wxID_ANY, tr("Slots of a fixture"));
    sizer->Add(m_radioSlots, 0, wxALL, gap);
    auto* slotsRow = new wxBoxSizer(wxHORIZONTAL);
    m_textSlots = new wxTextCtrl(group.content, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                 FromDIP(wxSize(240, 48)), wxTE_MULTILINE | wxTE_DONTWRAP);
    m_textSlots->SetHint("Slot 1=usb-port:1-2.1");
    slotsRow->Add(m_textSlots, 1, wxEXPAND | wxRIGHT, gap);
    m_buttonSlotsFromTicked = new wxButton(group.content, wxID_ANY, tr("From ticked ports"));
    slotsRow->Add(m_buttonSlotsFromTicked, 0, wxALIGN_TOP);
    sizer->Add(slotsRow, 0, wxEXPAND | wxLEFT | wxRIGHT, FromDIP(20));
    m_radioEvery = new wxRadioButton(group.content, wxID_ANY, tr("Every instrument plugged in"));
    sizer->Add(m_radioEvery, 0, wxALL, gap);
    auto* filterRow = new wxBoxSizer(wxHORIZONTAL);
    filterRow->Add(label(group.content, trLater("Only USB VID:PID")), 0,
                   wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, gap);
    m_textUsbFilter = new wxTextCtrl(group.content, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                     wxSize(columnWidth(group.content, "", "0403:6001", 100), -1));
    m_textUsbFilter->SetHint("0403:6001");
    filterRow->Add(m_textUsbFilter, 0, wxALL, gap);
    sizer->Add(filterRow, 0, wxLEFT, FromDIP(20));
    finishPanel(group.content, sizer);
    finishPanel(group.panel, group.sizer);
    return group.panel;
}

wxWindow* StationFrame::layOutOptions() {
    const int gap = FromDIP(5);
    Group group = makeGroup(this, trLater("Options"), true);
    auto* grid = flexGrid(0, 2);
    m_checkVerify = new wxCheckBox(group.content, wxID_ANY, tr("Verify"));
    m_checkRunAfterUpload = new wxCheckBox(group.content, wxID_ANY, tr("Run after upload"));
    m_checkAllowDowngrade = new wxCheckBox(group.content, wxID_ANY, tr("Allow downgrade"));
    for (wxCheckBox* option : {m_checkVerify, m_checkRunAfterUpload, m_checkAllowDowngrade}) {
        grid->Add(option, 0, wxALL, gap);
    }
    auto* attemptsRow = new wxBoxSizer(wxHORIZONTAL);
    attemptsRow->Add(label(group.content, trLater("Attempts")), 0,
                     wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
    m_spinAttempts = new wxSpinCtrl(group.content, wxID_ANY, "1", wxDefaultPosition, wxDefaultSize,
                                    wxSP_ARROW_KEYS, 1, 9, 1);
    attemptsRow->Add(m_spinAttempts);
    grid->Add(attemptsRow, 0, wxALL, gap);
    m_checkLocked = new wxCheckBox(group.content, wxID_ANY, tr("Lock the job when saved"));
    grid->Add(m_checkLocked, 0, wxALL, gap);
    finishPanel(group.content, grid);
    finishPanel(group.panel, group.sizer);
    return group.panel;
}

wxWindow* StationFrame::layOutBatch() {
    const int gap = FromDIP(5);
    Group group = makeGroup(this, trLater("Batch"), true);
    auto* grid = flexGrid(0, 2);
    grid->Add(label(group.content, trLater("Work order")), 0, wxALIGN_CENTER_VERTICAL | wxALL, gap);
    m_textWorkOrder =
        new wxTextCtrl(group.content, wxID_ANY, wxEmptyString, wxDefaultPosition,
                       wxSize(columnWidth(group.content, "", "WO-2026-0042", 110), -1));
    grid->Add(m_textWorkOrder, 0, wxALL, gap);
    grid->Add(label(group.content, trLater("Quantity")), 0, wxALIGN_CENTER_VERTICAL | wxALL, gap);
    m_spinQuantity = new wxSpinCtrl(group.content, wxID_ANY, "0", wxDefaultPosition, wxDefaultSize,
                                    wxSP_ARROW_KEYS, 0, 1000000, 0);
    grid->Add(m_spinQuantity, 0, wxALL, gap);
    m_checkLabels = new wxCheckBox(group.content, wxID_ANY, tr("Ask each instrument's label"));
    grid->Add(m_checkLabels, 0, wxALL, gap);
    grid->AddSpacer(0);
    m_checkRepeatLabels = new wxCheckBox(group.content, wxID_ANY, tr("Service a label again"));
    grid->Add(m_checkRepeatLabels, 0, wxALL, gap);
    finishPanel(group.content, grid);
    finishPanel(group.panel, group.sizer);
    return group.panel;
}

wxWindow* StationFrame::layOutReport() {
    const int gap = FromDIP(5);
    Group group = makeGroup(this, trLater("Report file"), true);
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    m_staticReport = label(group.content, "");
    sizer->Add(m_staticReport, 1, wxALIGN_CENTER_VERTICAL | wxALL, gap);
    m_buttonChangeReport = new wxButton(group.content, wxID_ANY, tr("Change..."));
    sizer->Add(m_buttonChangeReport, 0, wxALL, gap);
    finishPanel(group.content, sizer);
    finishPanel(group.panel, group.sizer);
    return group.panel;
}

wxSizer* StationFrame::layOutControls() {
    const int gap = FromDIP(5);
    auto* controls = new wxBoxSizer(wxHORIZONTAL);
    m_buttonStart = new wxButton(this, wxID_ANY, tr("Start"));
    m_buttonStop = new wxButton(this, wxID_ANY, tr("Stop"));
    m_buttonRecords = new wxButton(this, wxID_ANY, tr("Records..."));
    controls->Add(m_buttonStart, 0, wxALL, gap);
    controls->Add(m_buttonStop, 0, wxALL, gap);
    controls->Add(m_buttonRecords, 0, wxALL, gap);
    controls->Add(label(this, trLater("Label")), 0, wxALIGN_CENTER_VERTICAL | wxALL, gap);
    m_textLabel = new wxTextCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                 wxSize(columnWidth(this, "", "SN-2026-000042", 120), -1),
                                 wxTE_PROCESS_ENTER);
    controls->Add(m_textLabel, 0, wxALIGN_CENTER_VERTICAL | wxALL, gap);
    m_staticNextLabel = label(this, "");
    controls->Add(m_staticNextLabel, 0, wxALIGN_CENTER_VERTICAL | wxALL, gap);
    controls->AddStretchSpacer();
    m_staticCounts = label(this, "");
    wxFont large = m_staticCounts->GetFont();  // read at two metres
    large.SetFractionalPointSize(large.GetFractionalPointSize() * 1.6);
    m_staticCounts->SetFont(large.Bold());
    controls->Add(m_staticCounts, 0, wxALIGN_CENTER_VERTICAL | wxALL, gap);
    return controls;
}

void StationFrame::layOutRows() {
    m_viewRows = new wxDataViewCtrl(this, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(-1, 200)),
                                    wxDV_SINGLE | wxDV_ROW_LINES | wxDV_VERT_RULES);
    rows = new StationRows;
    m_viewRows->AssociateModel(rows);
    rows->DecRef();  // the view holds it
    // Title, a sample of the longest values, least width.
    const std::tuple<const char*, const char*, int> kColumns[] = {
        {trLater("Port"), "Slot 10 (COM88)", 70},
        {trLater("Serial number"), "A7F3B2C9", 115},
        {trLater("Label"), "SN-000042", 90},
        {trLater("Device"), "SOLVAR HS3", 95},
        {trLater("Firmware"), "10.10 \xE2\x86\x92 10.10", 85},
        {trLater("Progress"), "", 100},
        {trLater("State"), "", 325},
        {trLater("Time"), "999.9 s", 60}};
    int rowsWidth = FromDIP(8);
    for (unsigned column = 0; column < StationRows::kColumns; ++column) {
        const auto& [title, sample, dip] = kColumns[column];
        const int width = columnWidth(m_viewRows, tr(title), fromUtf8(sample), dip);
        rowsWidth += width;
        columnLeast[column] = width;
        if (column == StationRows::kProgress) {
            m_viewRows->AppendProgressColumn(tr(title), column, wxDATAVIEW_CELL_INERT, width);
        } else {
            m_viewRows->AppendTextColumn(tr(title), column, wxDATAVIEW_CELL_INERT, width,
                                         wxALIGN_NOT, wxDATAVIEW_COL_RESIZABLE);
        }
    }
    m_viewRows->SetMinSize(wxSize(rowsWidth + wxSystemSettings::GetMetric(wxSYS_VSCROLL_X),
                                  m_viewRows->GetMinSize().y));
}

void StationFrame::widenStateColumn() {
    // A failure's message is long: the state column takes whatever room the table has
    // beyond the other columns (and a scroll bar), never less than its own least width.
    // The last column counts at its least width: the generic control (Windows) stretches
    // it over whatever room is left.
    int others = FromDIP(4) + wxSystemSettings::GetMetric(wxSYS_VSCROLL_X);
    for (unsigned column = 0; column < StationRows::kColumns; ++column) {
        if (column == StationRows::kState) {
            continue;
        }
        others += column + 1 == StationRows::kColumns ? columnLeast[column]
                                                      : m_viewRows->GetColumn(column)->GetWidth();
    }
    const int room = m_viewRows->GetClientSize().x - others;
    wxDataViewColumn* stateColumn = m_viewRows->GetColumn(StationRows::kState);
    const int width = std::max(columnLeast[StationRows::kState], room);
    if (stateColumn->GetWidth() != width) {
        stateColumn->SetWidth(width);
    }
}

void StationFrame::fitContent() {
    // 900 x 700 at the normal size; the table takes what room the window is given.
    fitFrame(this, wxSize(900, 700), false);
}
