#include "app/MainFrame.h"

#include <wx/aboutdlg.h>
#include <wx/datetime.h>
#include <wx/filedlg.h>
#include <wx/stdpaths.h>

#include "app/AppIcon.h"
#include "app/RouteScanDialog.h"
#include "app/StationFrame.h"
#include "app/Translate.h"
#include "support/Exception.h"
#include "support/Version.h"

MainFrame::MainFrame(wxWindow* parent)
    : MainFrameBase(parent, -1, tr("Ostraloader"), wxDefaultPosition,
                    wxWindow::FromDIP(wxSize(650, 710), nullptr),
                    wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL),
      engine(this) {
    // After the eight fixed names, the serial devices found on this machine.
    m_comboPort->SetValue("COM2");
    watchPorts();
    watchDrops();
    m_textRoutePath->SetValue("0");
    m_textFirmwareFile->SetValue(wxEmptyString);
    SetTitle(wxString::Format("Ostraloader ver. %s", kOstraVersion));
    SetIcons(appIcons());
    Bind(wxEVT_CLOSE_WINDOW, &MainFrame::onClose, this);
    UpdateControls();
}

MainFrame::~MainFrame() = default;

void MainFrame::ShowError(const wxString& text) {
    wxMessageDialog(this, text, tr("Error"), wxOK).ShowModal();
}

void MainFrame::ShowInfo(const wxString& text) {
    wxMessageDialog(this, text, tr("OK"), wxOK).ShowModal();
}

void MainFrame::UpdateControls() {
    describeChosenPort();
    const bool connected = engine.IsConnected();
    const bool routed = engine.IsRouted();
    const bool idle = !isBusy();
    if (connected) {
        m_buttonConnect->SetLabel(tr("Disconnect"));
        UpdateFirmwareInfo();
        setStatusText(tr("Connected"));
        m_staticInfoCaption->SetLabel(
            routed ? wxString::Format(tr("Information - routed connection to '%s'"),
                                      m_textRoutePath->GetValue())
                   : tr("Information - direct USB connection"));
    } else {
        m_buttonConnect->SetLabel(tr("Connect"));
        m_staticInfoCaption->SetLabel(tr("Information"));
        for (wxStaticText* field :
             {m_staticDeviceType, m_staticBootloaderVersion, m_staticFirmwareVersion,
              m_staticFirmwareLoaded, m_staticFirmwareSize, m_staticFirmwareStatus}) {
            field->SetLabel(wxEmptyString);
        }
        m_buttonUploadFirmware->Disable();
        ClearFirmwareInfo();
        setStatusText(tr("Disconnected"));
    }
    m_buttonRoute->SetLabel(routed ? tr("Disable routing") : tr("Enable routing"));
    // Each input by its own rule, none while busy. The gauge is never disabled: a
    // disabled gauge is drawn without its progress.
    m_menuItemRunFirmware->Enable(idle && connected && engine.IsFirmwareLoaded());
    m_menuItemFindRoutes->Enable(idle && connected && !routed);
    for (size_t i = 0; i < m_menubar->GetMenuCount(); ++i) {
        m_menubar->EnableTop(i, idle);
    }
    m_comboPort->Enable(idle && !connected);
    m_buttonConnect->Enable(idle);
    m_buttonRoute->Enable(idle && connected);
    m_textRoutePath->Enable(idle && connected && !routed);
    for (wxWindow* input : {static_cast<wxWindow*>(m_textFirmwareFile),
                            static_cast<wxWindow*>(m_buttonBrowseFirmware),
                            static_cast<wxWindow*>(m_checkRunAfterUpload)}) {
        input->Enable(idle && connected);
    }
    if (!idle) {
        m_buttonUploadFirmware->Disable();
    }
    fitContent();  // the captions and labels may have grown
}

void MainFrame::UpdateDeviceStatus() {
    deviceStatus = engine.RequestStatus();
    const StatusInfo& s = deviceStatus;
    m_staticDeviceType->SetLabel(s.deviceType >= 1 && s.deviceType <= 5
                                     ? wxString(deviceStatusName(s.deviceType))
                                     : tr("Unknown"));
    m_staticBootloaderVersion->SetLabel(
        wxString::Format("%d.%d", s.bootloaderMajor, s.bootloaderMinor));
    m_staticFirmwareVersion->SetLabel(wxString::Format("%d.%d", s.firmwareMajor, s.firmwareMinor));
    m_staticFirmwareLoaded->SetLabel(
        s.firmwareTime > 0
            // The time_t constructor scales by TIME_T_FACTOR, which 3.2 keeps private.
            ? wxDateTime(static_cast<time_t>(s.firmwareTime))
                  .Format(wxDefaultDateTimeFormat, wxDateTime::TimeZone(wxDateTime::Local))
            : wxString());
    m_staticFirmwareSize->SetLabel(wxString::Format(tr("%u bytes"), s.firmwareSize));
    m_staticFirmwareStatus->SetLabel(s.firmwareLoaded() ? tr("Loaded") : tr("Not loaded"));
}

void MainFrame::OnQuit(wxCommandEvent&) {
    try {
        if (engine.IsConnected()) {
            engine.Disconnect();
        }
    } catch (const Exception& e) {
        ShowError(fromUtf8(e.report()));
    }
    Close(false);
}

void MainFrame::OnRunFirmware(wxCommandEvent&) {
    try {
        engine.RunFirmware();
        engine.Disconnect();
        UpdateControls();
        ShowInfo(tr("Firmware running"));
    } catch (const Exception& e) {
        ShowError(fromUtf8(e.report()));
    }
}

void MainFrame::OnAbout(wxCommandEvent&) {
    wxAboutDialogInfo info;
    info.SetName(tr("Ostraloader"));
    info.SetVersion(tr(kOstraVersion));
    info.SetIcon(aboutIcon());
    info.SetDescription(tr("Service tool for the bootloader of Solvar and Tamrik instruments"));
    info.SetCopyright("(C) Vantor instruments");
    info.SetWebSite("https://www.vantor.example");
    wxAboutBox(info, this);
}

void MainFrame::OnRoute(wxCommandEvent&) {
    bool backToDirect = false;
    try {
        if (!engine.IsRouted()) {
            engine.SetRoutePath(m_textRoutePath->GetValue().utf8_string());
        } else {
            engine.ClearRoute();
            backToDirect = true;
        }
        UpdateDeviceStatus();
        UpdateControls();
    } catch (const Exception& e) {
        engine.ClearRoute();
        if (backToDirect) {
            // The direct line did not answer: what is shown is the routed instrument's,
            // and Upload must not be offered for its product.
            forgetDeviceStatus();
        }
        UpdateControls();
        ShowError(fromUtf8(e.report()));
    }
}

void MainFrame::OnConnect(wxCommandEvent&) {
    try {
        if (!engine.IsConnected()) {
            engine.Connect(m_comboPort->GetValue().utf8_string());
            UpdateDeviceStatus();
        } else {
            engine.Disconnect();
        }
        UpdateControls();
    } catch (const Exception& e) {
        engine.Disconnect();
        UpdateControls();
        ShowError(fromUtf8(e.report()));
    }
}

void MainFrame::OnFirmwareFileChanged(wxCommandEvent&) {
    UpdateFirmwareInfo();
}

void MainFrame::OnBrowseFirmware(wxCommandEvent&) {
    wxFileDialog dialog(this, tr("Select firmware"), wxEmptyString, wxEmptyString,
                        "Encrypted files (*.enc)|*.enc|BIN files (*.bin)|*.bin", wxFD_OPEN);
    if (dialog.ShowModal() == wxID_OK) {
        m_textFirmwareFile->SetValue(dialog.GetPath());
        UpdateFirmwareInfo();
    }
}

void MainFrame::OnUploadFirmware(wxCommandEvent&) {
    try {
        UpdateFirmwareInfo();
        // Busy before the worker exists: it may end, and the engine turn idle, before this
        // handler returns, while its reaction is still queued.
        operationRunning = true;
        engine.UploadFirmware(m_textFirmwareFile->GetValue().utf8_string());
        UpdateControls();
    } catch (const Exception& e) {
        endOperation();
        UpdateControls();
        ShowError(fromUtf8(e.report()));
        m_gauge->SetValue(0);
    }
}

void MainFrame::OnStation(wxCommandEvent&) {
    // A window of its own: it services instruments through copies of the command line,
    // and this window's engine takes no part.
    (new StationFrame(nullptr,
                      StationFrame::commandLineBeside(wxStandardPaths::Get().GetExecutablePath())))
        ->Show();
}

void MainFrame::OnFindRoutes(wxCommandEvent& event) {
    std::string path;
    std::string error;
    {
        RouteScanDialog dialog(this, engine);
        dialog.start();
        dialog.ShowModal();
        path = dialog.chosen();
        error = dialog.error();
    }
    if (!error.empty()) {
        // The instrument connected directly stopped answering during the scan.
        engine.Disconnect();
        UpdateControls();
        ShowError(fromUtf8(error));
    } else if (!path.empty()) {
        // As the routing button does it.
        m_textRoutePath->SetValue(fromUtf8(path));
        OnRoute(event);
    }
}

void MainFrame::forgetDeviceStatus() {
    deviceStatus = StatusInfo();
    for (wxStaticText* field :
         {m_staticDeviceType, m_staticBootloaderVersion, m_staticFirmwareVersion,
          m_staticFirmwareLoaded, m_staticFirmwareSize, m_staticFirmwareStatus}) {
        field->SetLabel(wxEmptyString);
    }
}

void MainFrame::onClose(wxCloseEvent& event) {
    // Destroying the window would destroy the engine under a running worker: refuse, the
    // operation ends by itself. A close that cannot be refused (the session ends) waits
    // for the worker first, so the port is never closed under it.
    if (isBusy() && event.CanVeto()) {
        event.Veto();
        setStatusText(tr("An operation is running; close the window when it has ended"));
        return;
    }
    closing = true;
    engine.stop(true, Thread::kInfinite);
    if (engine.IsConnected()) {
        try {
            engine.Disconnect();
        } catch (const Exception&) {
            // Closing anyway: the port is released with the engine.
        }
    }
    event.Skip();
}
