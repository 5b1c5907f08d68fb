// The station window's settings: images, instruments, options and the report file, and
// how they follow the operator and the machine.
#include "app/StationFrame.h"

#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/stdpaths.h>

#include <algorithm>

#include "app/AppIcon.h"
#include "app/ImageLabel.h"
#include "app/RecordsFrame.h"
#include "app/StationRelay.h"
#include "app/Translate.h"

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
      commandLine(program) {
    SetIcons(appIcons());
    layOutJobMenu();
    layOut();
    reportPath =
        (wxStandardPaths::Get().GetDocumentsDir() + wxFILE_SEP_PATH + "ostraloader-service.jsonl")
            .utf8_string();
    refreshImages();
    bindEvents();
    updateControls();
    // The port list follows the machine while stopped.
    portWatcher = std::make_unique<PortWatcher>(
        this, [this] { return !running(); },
        [this](const std::vector<std::string>&) { refreshPorts(); });
    portWatcher->look();
}

void StationFrame::bindEvents() {
    Bind(wxEVT_CLOSE_WINDOW, &StationFrame::onClose, this);
    bindSettings();
    bindJobMenu();
    // A label typed or scanned (a scanner types it and Enter) for the next instrument.
    m_textLabel->Bind(wxEVT_TEXT_ENTER, [this](wxCommandEvent&) {
        const std::string label = m_textLabel->GetValue().Strip(wxString::both).utf8_string();
        m_textLabel->Clear();
        if (!label.empty() && running() && station) {
            station->labelScanned(label);
            m_staticNextLabel->SetLabel(
                wxString::Format(tr("next instrument: %s"), fromUtf8(label)));
            Layout();
        }
    });
    m_buttonStart->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { onStart(); });
    m_buttonStop->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { onStop(); });
    m_buttonRecords->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        (new RecordsFrame(this, reportPath, ""))->Show();
    });
    bindRows();
    // On the timer itself: an id taken before the timer had its owner would never match.
    clock.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { rows->tick(); });
    Bind(wxEVT_DPI_CHANGED, [this](wxDPIChangedEvent& event) {
        event.Skip();
        CallAfter([this] { fitContent(); });
    });
}

void StationFrame::bindSettings() {
    m_buttonAddFiles->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        wxFileDialog dialog(this, tr("Select firmware"), wxEmptyString, wxEmptyString,
                            "Encrypted files (*.enc)|*.enc|BIN files (*.bin)|*.bin",
                            wxFD_OPEN | wxFD_MULTIPLE | wxFD_FILE_MUST_EXIST);
        if (dialog.ShowModal() == wxID_OK && !running()) {
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
        if (dialog.ShowModal() == wxID_OK && !running()) {
            addImages({dialog.GetPath().utf8_string()});
        }
    });
    m_buttonClearImages->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        imageSources.clear();
        refreshImages();
    });
    for (wxRadioButton* radio : {m_radioTicked, m_radioSlots, m_radioEvery}) {
        radio->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { updateControls(); });
    }
    // Each ticked port's socket a slot: "Slot 1" and on, whatever is plugged in later.
    m_buttonSlotsFromTicked->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        wxString slots;
        int n = 0;
        for (unsigned i = 0; i < m_listPorts->GetCount(); ++i) {
            if (m_listPorts->IsChecked(i)) {
                const PortInfo& p = ports[i];
                slots += wxString::Format(
                    "%s %d=%s\n", tr("Slot"), ++n,
                    fromUtf8(p.location.empty() ? p.name : "usb-port:" + p.location));
            }
        }
        m_textSlots->SetValue(slots.Trim());
        m_radioSlots->SetValue(true);
        updateControls();
    });
    m_buttonChangeReport->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        const wxFileName now(fromUtf8(reportPath));
        wxFileDialog dialog(this, tr("Service records"), now.GetPath(), now.GetFullName(),
                            "JSON lines (*.jsonl)|*.jsonl", wxFD_SAVE);
        if (dialog.ShowModal() == wxID_OK && !running()) {
            reportPath = dialog.GetPath().utf8_string();
            updateControls();
        }
    });
}

void StationFrame::bindRows() {
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
    m_viewRows->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        event.Skip();
        CallAfter([this] { widenStateColumn(); });
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
        } catch (const Problem& refusal) {
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
    std::vector<PortInfo> now;
    // Described without opening any port: the names alone changed.
    for (const PortInfo& port : describePorts(false)) {
        if (port.present) {
            now.push_back(port);
        }
    }
    showPorts(now);
}

void StationFrame::showPorts(const std::vector<PortInfo>& now) {
    const auto listed = [](const std::vector<PortInfo>& in, const std::string& name) {
        return std::any_of(in.begin(), in.end(), [&](const PortInfo& p) { return p.name == name; });
    };
    const int selected = m_listPorts->GetSelection();
    const std::string chosen = selected == wxNOT_FOUND ? "" : ports[selected].name;
    for (size_t i = ports.size(); i-- > 0;) {  // the gone ones, from the end
        if (!listed(now, ports[i].name)) {
            m_listPorts->Delete(static_cast<unsigned>(i));
            ports.erase(ports.begin() + static_cast<long>(i));
        }
    }
    for (size_t i = 0; i < now.size(); ++i) {  // the new ones, in the machine's order
        const wxString label = fromUtf8(now[i].name + "  " + portSummary(now[i]));
        if (i < ports.size() && ports[i].name == now[i].name) {
            if (m_listPorts->GetString(static_cast<unsigned>(i)) != label) {
                const bool ticked = m_listPorts->IsChecked(static_cast<unsigned>(i));
                m_listPorts->SetString(static_cast<unsigned>(i), label);
                m_listPorts->Check(static_cast<unsigned>(i), ticked);
            }
            ports[i] = now[i];
        } else {
            m_listPorts->Insert(label, static_cast<unsigned>(i));
            ports.insert(ports.begin() + static_cast<long>(i), now[i]);
        }
        if (ports[i].name == chosen && m_listPorts->GetSelection() != static_cast<int>(i)) {
            m_listPorts->SetSelection(static_cast<int>(i));  // an insertion may drop it
        }
    }
}

void StationFrame::updateControls() {
    const bool idle = !running();
    const bool editable = idle && !jobLocked;  // a locked job's settings are read-only
    for (wxWindow* setting : std::initializer_list<wxWindow*>{
             m_listImages, m_buttonAddFiles, m_buttonAddFolder, m_buttonClearImages, m_radioTicked,
             m_radioSlots, m_radioEvery, m_checkVerify, m_checkRunAfterUpload,
             m_checkAllowDowngrade, m_spinAttempts, m_checkLocked, m_buttonChangeReport,
             m_textWorkOrder, m_spinQuantity, m_checkLabels, m_checkRepeatLabels}) {
        setting->Enable(editable);
    }
    m_buttonStart->Enable(idle);
    m_listPorts->Enable(editable && !m_radioEvery->GetValue());
    m_textSlots->Enable(editable && m_radioSlots->GetValue());
    m_buttonSlotsFromTicked->Enable(editable);
    m_textUsbFilter->Enable(editable && m_radioEvery->GetValue());
    m_textLabel->Enable(!idle && m_radioEvery->GetValue() && m_checkLabels->GetValue());
    m_menuItemEditJob->Enable(idle && jobLocked);
    for (int id : {wxID_NEW, wxID_OPEN, wxID_SAVE, wxID_SAVEAS}) {
        m_menuJob->Enable(id, idle);
    }
    m_buttonStop->Enable(!idle);
    m_staticReport->SetLabel(fromUtf8(reportPath));
    updateCounts();
    fitContent();
}

void StationFrame::updateCounts() {
    const StationRows::Counts c = rows->counts();
    // A batch counts what its earlier runs passed too, towards its target.
    const wxString passed =
        batchQuantity > 0
            ? wxString::Format(tr("%d of %d passed"), static_cast<int>(batchPassed), batchQuantity)
            : wxString::Format(tr("%d passed"), static_cast<int>(c.passed));
    const wxString counts =
        passed + wxString::Format(tr(", %d failed, %d running"), static_cast<int>(c.failed),
                                  static_cast<int>(c.running));
    if (counts != m_staticCounts->GetLabel()) {  // not at every page of every instrument
        m_staticCounts->SetLabel(counts);
        Layout();
    }
}
