#include "app/StationFrame.h"

#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/stdpaths.h>

#include <algorithm>
#include <regex>

#include "app/AppIcon.h"
#include "app/ImageLabel.h"
#include "app/Translate.h"
#include "link/PortNames.h"
#include "station/ExitCodes.h"
#include "station/PortIdentity.h"

namespace {
// How often the port list is compared with the machine's ports while stopped.
constexpr int kPortScanMs = 3000;

}  // namespace

// The station's reports, copied and queued for the window's thread.
class StationFrame::Relay : public StationListener {
  public:
    explicit Relay(StationFrame* frame) : frame_(frame) {}
    void unitChanged(const Unit& unit, const nlohmann::json*) override {
        frame_->CallAfter([frame = frame_, unit] { frame->unitChanged(unit); });
    }
    void portPassed(const std::string& port, const std::string& why) override {
        const wxString text =
            wxString::Format(tr("%s: no bootloader answers (%s)"), fromUtf8(port), fromUtf8(why));
        frame_->CallAfter([frame = frame_, text] { frame->SetStatusText(text); });
    }
    void stopping(size_t running) override {
        const wxString text = wxString::Format(
            tr("Stopping: %d still running; Stop again abandons them"), static_cast<int>(running));
        frame_->CallAfter([frame = frame_, text] { frame->SetStatusText(text); });
    }
    void problem(const std::string& report) override {
        const wxString text = fromUtf8(report);
        frame_->CallAfter([frame = frame_, text] {
            wxMessageDialog(frame, text, tr("Error"), wxOK | wxICON_ERROR).ShowModal();
        });
    }

  private:
    StationFrame* frame_;
};

std::string StationFrame::commandLineBeside(const wxString& windowProgram) {
    const wxFileName window(windowProgram);
    for (const wxString& folder : {window.GetPath(), window.GetPath() + "/../cli"}) {
        wxFileName cli(folder, "ostraloader-cli");
#ifdef __WXMSW__
        cli.SetExt("exe");
#endif
        if (cli.FileExists()) {
            cli.Normalize(wxPATH_NORM_DOTS | wxPATH_NORM_ABSOLUTE);
            return cli.GetFullPath().utf8_string();
        }
    }
    return wxFileName(window.GetPath(), "ostraloader-cli").GetFullPath().utf8_string();
}

StationFrame::StationFrame(wxWindow* parent, const std::string& program)
    : wxFrame(parent, wxID_ANY, tr("Ostraloader Station"), wxDefaultPosition,
              wxWindow::FromDIP(wxSize(900, 700), nullptr)),
      commandLine(program),
      relay(std::make_unique<Relay>(this)) {
    SetIcons(appIcons());
    layOut();
    reportPath =
        (wxStandardPaths::Get().GetDocumentsDir() + wxFILE_SEP_PATH + "ostraloader-service.jsonl")
            .utf8_string();
    refreshImages();
    refreshPorts();
    bindEvents();
    updateControls();
    clock.SetOwner(this);
    portScan.SetOwner(this);
    portScan.Start(kPortScanMs);
}

StationFrame::~StationFrame() {
    // A close that could not be refused: the instruments are abandoned, each recorded.
    if (running()) {
        station->stop();
        station->stop();
        worker.join();
    }
}

void StationFrame::bindEvents() {
    Bind(wxEVT_CLOSE_WINDOW, &StationFrame::onClose, this);
    m_buttonAddFiles->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        wxFileDialog dialog(this, tr("Select firmware"), wxEmptyString, wxEmptyString,
                            "Encrypted files (*.enc)|*.enc|BIN files (*.bin)|*.bin",
                            wxFD_OPEN | wxFD_MULTIPLE | wxFD_FILE_MUST_EXIST);
        if (dialog.ShowModal() == wxID_OK) {
            wxArrayString paths;
            dialog.GetPaths(paths);
            std::vector<std::string> files;
            for (const wxString& path : paths) {
                files.push_back(path.utf8_string());
            }
            addImages(files);
        }
    });
    m_buttonAddFolder->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        wxDirDialog dialog(this, tr("Select a folder of images"));
        if (dialog.ShowModal() == wxID_OK) {
            addImages({dialog.GetPath().utf8_string()});
        }
    });
    m_buttonClearImages->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        imageSources.clear();
        refreshImages();
    });
    for (wxRadioButton* radio : {m_radioTicked, m_radioEvery}) {
        radio->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { updateControls(); });
    }
    m_buttonChangeReport->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        const wxFileName now(fromUtf8(reportPath));
        wxFileDialog dialog(this, tr("Service records"), now.GetPath(), now.GetFullName(),
                            "JSON lines (*.jsonl)|*.jsonl", wxFD_SAVE);
        if (dialog.ShowModal() == wxID_OK) {
            reportPath = dialog.GetPath().utf8_string();
            updateControls();
        }
    });
    m_buttonStart->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { onStart(); });
    m_buttonStop->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { onStop(); });
    m_viewRows->Bind(wxEVT_DATAVIEW_ITEM_ACTIVATED, [this](wxDataViewEvent& event) {
        if (event.GetItem().IsOk()) {
            showDetails(rows->GetRow(event.GetItem()));
        }
    });
    // The row's tooltip: the one chosen, or the one under the pointer.
    const auto tip = [this](const wxDataViewItem& item) {
        m_viewRows->SetToolTip(item.IsOk() ? rows->tooltip(rows->GetRow(item)) : wxString());
    };
    m_viewRows->Bind(wxEVT_DATAVIEW_SELECTION_CHANGED,
                     [this, tip](wxDataViewEvent&) { tip(m_viewRows->GetSelection()); });
    m_viewRows->GetMainWindow()->Bind(wxEVT_MOTION, [this, tip](wxMouseEvent& event) {
        wxDataViewItem item;
        wxDataViewColumn* column = nullptr;
        m_viewRows->HitTest(event.GetPosition(), item, column);
        tip(item);
        event.Skip();
    });
    Bind(
        wxEVT_TIMER, [this](wxTimerEvent&) { rows->tick(); }, clock.GetId());
    Bind(
        wxEVT_TIMER,
        [this](wxTimerEvent&) {
            std::vector<std::string> shown;
            for (const PortInfo& port : ports) {
                shown.push_back(port.name);
            }
            std::vector<std::string> now = listPorts();
            if (!running() && now != shown) {
                refreshPorts();
            }
        },
        portScan.GetId());
    m_viewRows->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        event.Skip();
        CallAfter([this] { widenStateColumn(); });
    });
    Bind(wxEVT_DPI_CHANGED, [this](wxDPIChangedEvent& event) {
        event.Skip();
        CallAfter([this] { fitContent(); });
    });
}

void StationFrame::addImages(const std::vector<std::string>& sources) {
    imageSources.insert(imageSources.end(), sources.begin(), sources.end());
    refreshImages();
}

void StationFrame::refreshImages() {
    m_listImages->DeleteAllItems();
    m_staticImagesProblem->SetLabel(wxEmptyString);
    imagesUsable = false;
    if (imageSources.empty()) {
        m_staticImagesProblem->SetLabel(tr("Add the images to upload: files or a folder"));
    } else {
        try {
            images = ImageSet::load(imageSources);
            imagesUsable = true;
        } catch (const Refusal& refusal) {
            images = ImageSet();
            m_staticImagesProblem->SetLabel(fromUtf8(refusal.message));
        }
    }
    // Each image as the main window shows it; a file passed over shows its verdict.
    long row = 0;
    for (const Image& image : images.images()) {
        const FirmwareImageInfo& info = image.info;
        m_listImages->InsertItem(row, wxFileName(fromUtf8(image.file)).GetFullName());
        m_listImages->SetItem(row, 1, tr(productName(info.deviceType)));
        m_listImages->SetItem(row, 2, imageVersionLabel(info));
        m_listImages->SetItem(row, 3, wxString::Format("%u", info.build));
        ++row;
    }
    for (const auto& [file, verdict] : images.skipped()) {
        m_listImages->InsertItem(row, wxFileName(fromUtf8(file)).GetFullName());
        m_listImages->SetItem(row, 1, tr(verdict.c_str()));
        m_listImages->SetItemTextColour(row, wxColour(192, 0, 0));
        ++row;
    }
    fitContent();
}

void StationFrame::refreshPorts() {
    std::vector<std::string> ticked;
    for (unsigned i = 0; i < m_listPorts->GetCount(); ++i) {
        if (m_listPorts->IsChecked(i)) {
            ticked.push_back(ports[i].name);
        }
    }
    ports.clear();
    for (const PortInfo& port : describePorts()) {
        if (port.present) {
            ports.push_back(port);
        }
    }
    m_listPorts->Clear();
    for (const PortInfo& port : ports) {
        const int at = m_listPorts->Append(fromUtf8(port.name + "  " + portSummary(port)));
        m_listPorts->Check(static_cast<unsigned>(at),
                           std::find(ticked.begin(), ticked.end(), port.name) != ticked.end());
    }
}

void StationFrame::updateControls() {
    const bool idle = !running();
    for (wxWindow* setting :
         {static_cast<wxWindow*>(m_listImages), static_cast<wxWindow*>(m_buttonAddFiles),
          static_cast<wxWindow*>(m_buttonAddFolder), static_cast<wxWindow*>(m_buttonClearImages),
          static_cast<wxWindow*>(m_radioTicked), static_cast<wxWindow*>(m_radioEvery),
          static_cast<wxWindow*>(m_checkVerify), static_cast<wxWindow*>(m_checkRunAfterUpload),
          static_cast<wxWindow*>(m_checkAllowDowngrade), static_cast<wxWindow*>(m_spinAttempts),
          static_cast<wxWindow*>(m_buttonChangeReport), static_cast<wxWindow*>(m_buttonStart)}) {
        setting->Enable(idle);
    }
    m_listPorts->Enable(idle && m_radioTicked->GetValue());
    m_textUsbFilter->Enable(idle && m_radioEvery->GetValue());
    m_buttonStop->Enable(!idle);
    m_staticReport->SetLabel(fromUtf8(reportPath));
    updateCounts();
    fitContent();
}

void StationFrame::updateCounts() {
    const StationRows::Counts c = rows->counts();
    m_staticCounts->SetLabel(
        wxString::Format(tr("%d passed, %d failed, %d running"), static_cast<int>(c.passed),
                         static_cast<int>(c.failed), static_cast<int>(c.running)));
    Layout();
}

void StationFrame::onStart() {
    // What the operator set, each checked before anything is sent.
    refreshImages();
    const auto refuse = [this](const wxString& why) {
        wxMessageDialog(this, why, tr("Error"), wxOK | wxICON_ERROR).ShowModal();
    };
    if (!imagesUsable) {
        refuse(m_staticImagesProblem->GetLabel());
        return;
    }
    StationSetup setup;
    setup.program = commandLine;
    setup.watch = m_radioEvery->GetValue();
    setup.attempts = m_spinAttempts->GetValue();
    setup.report = reportPath;
    const std::string filter = m_textUsbFilter->GetValue().Strip(wxString::both).utf8_string();
    if (setup.watch && !filter.empty()) {
        if (!std::regex_match(filter, std::regex("[0-9A-Fa-f]{4}:[0-9A-Fa-f]{4}"))) {
            refuse(wxString::Format(tr("The USB filter '%s' is not a VID:PID such as 0403:6001"),
                                    fromUtf8(filter)));
            return;
        }
        setup.ports = {"usb:" + filter};
    }
    if (!setup.watch) {
        for (unsigned i = 0; i < m_listPorts->GetCount(); ++i) {
            if (m_listPorts->IsChecked(i)) {
                setup.ports.push_back(ports[i].name);
            }
        }
        if (setup.ports.empty()) {
            refuse(tr("Tick the ports of the instruments to service"));
            return;
        }
        if (const std::string twice = sameInstrumentTwice(setup.ports, commandLine);
            !twice.empty()) {
            refuse(fromUtf8(twice));
            return;
        }
    }
    if (const std::string error = checkReportFile(reportPath); !error.empty()) {
        refuse(fromUtf8(error));
        return;
    }
    StationJob job;
    job.command = "upload";
    job.images = images.images();
    job.verify = m_checkVerify->GetValue();
    job.runAfter = m_checkRunAfterUpload->GetValue();
    job.allowDowngrade = m_checkAllowDowngrade->GetValue();
    rows->clear();
    stopsAsked = 0;
    station = std::make_unique<Station>(setup, job, *relay);
    worker = std::thread([this] {
        station->run();
        CallAfter([this] { finished(); });
    });
    clock.Start(500);
    SetStatusText(setup.watch ? tr("Waiting for instruments to be plugged in")
                              : tr("Servicing the ticked instruments"));
    updateControls();
}

void StationFrame::onStop() {
    if (!running()) {
        return;
    }
    if (stopsAsked == 0 || confirmAbandon()) {
        ++stopsAsked;
        station->stop();
    }
}

bool StationFrame::confirmAbandon() {
    const size_t working = rows->counts().running;
    return wxMessageDialog(this,
                           wxString::Format(tr("Abandon the %d instruments still running? Each "
                                               "is recorded as interrupted."),
                                            static_cast<int>(working)),
                           tr("Stop"), wxYES_NO | wxNO_DEFAULT | wxICON_WARNING)
               .ShowModal() == wxID_YES;
}

void StationFrame::unitChanged(const Unit& unit) {
    rows->show(unit);
    updateCounts();
}

void StationFrame::finished() {
    worker.join();
    clock.Stop();
    station.reset();
    rows->tick();
    updateControls();
    SetStatusText(tr("Stopped"));
}

void StationFrame::onClose(wxCloseEvent& event) {
    if (rows->counts().running > 0 && event.CanVeto()) {
        event.Veto();
        SetStatusText(tr("Instruments are being serviced; close the window when they have ended"));
        return;
    }
    if (running()) {
        station->stop();  // only watching: nothing runs
        worker.join();
    }
    event.Skip();
}

void StationFrame::showDetails(size_t row) {
    const Unit& u = rows->unit(row);
    wxString text = wxString::Format(tr("Port: %s (%s)"), fromUtf8(u.port), fromUtf8(u.device)) +
                    "\n" + wxString::Format(tr("Serial number: %s"), fromUtf8(u.serial)) + "\n" +
                    wxString::Format(tr("Device: %s"), fromUtf8(u.deviceType)) + "\n" +
                    wxString::Format(tr("Image: %s"), fromUtf8(u.image)) + "\n" +
                    wxString::Format(tr("Result: %s"), rows->stateText(row)) + "\n";
    if (!u.hint.empty()) {
        text += wxString::Format(tr("Hint: %s"), fromUtf8(u.hint)) + "\n";
    }
    text += wxString::Format(tr("Attempts: %d"), u.attempt) + "\n\n" + tr("Events:") + "\n";
    for (const nlohmann::json& event : u.events) {
        text += fromUtf8(event.dump()) + "\n";
    }
    wxDialog box(this, wxID_ANY, wxString::Format(tr("Instrument on %s"), fromUtf8(u.port)),
                 wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    auto* field =
        new wxTextCtrl(&box, wxID_ANY, text, wxDefaultPosition, box.FromDIP(wxSize(640, 360)),
                       wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP);
    sizer->Add(field, 1, wxEXPAND | wxALL, box.FromDIP(8));
    sizer->Add(box.CreateStdDialogButtonSizer(wxCLOSE), 0, wxEXPAND | wxALL, box.FromDIP(8));
    box.SetSizerAndFit(sizer);
    box.SetEscapeId(wxID_CLOSE);
    box.ShowModal();
}
