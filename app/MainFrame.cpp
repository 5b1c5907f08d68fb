#include "app/MainFrame.h"

#include <wx/aboutdlg.h>
#include <wx/datetime.h>
#include <wx/filedlg.h>

#include "app/Translate.h"
#include "link/PortNames.h"
#include "support/Exception.h"

namespace {
wxString fromEngine(const std::string& text) {
    return wxString::FromUTF8(text.c_str());
}
}  // namespace

MainFrame::MainFrame(wxWindow* parent)
    : MainFrameBase(parent, -1, tr("Ostraloader"), wxDefaultPosition, wxSize(650, 710),
                    wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL),
      engine(this) {
    // After the eight fixed names, the serial devices found on this machine.
    const std::vector<std::string> ports = listPorts();
    for (size_t i = 8; i < ports.size(); ++i) {
        m_comboPort->Append(fromEngine(ports[i]));
    }
    m_comboPort->SetValue("COM2");
    m_textRoutePath->SetValue("0");
    m_textFirmwareFile->SetValue(wxEmptyString);
    SetTitle(wxString::Format("Ostraloader ver. %s", kVersion));
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
    if (engine.IsConnected()) {
        m_menuItemRunFirmware->Enable(engine.IsFirmwareLoaded());
        m_comboPort->Disable();
        m_buttonRoute->Enable();
        m_textRoutePath->Enable(!engine.IsRouted());
        m_buttonConnect->SetLabel(tr("Disconnect"));
        m_textFirmwareFile->Enable();
        m_buttonBrowseFirmware->Enable();
        m_checkRunAfterUpload->Enable();
        UpdateFirmwareInfo();
        setStatusText(tr("Connected"));
        m_staticInfoCaption->SetLabel(
            engine.IsRouted() ? wxString::Format(tr("Information - routed connection to '%s'"),
                                                 m_textRoutePath->GetValue())
                              : tr("Information - direct USB connection"));
    } else {
        m_menuItemRunFirmware->Enable(false);
        m_comboPort->Enable();
        m_buttonRoute->Disable();
        m_textRoutePath->Disable();
        m_buttonConnect->SetLabel(tr("Connect"));
        m_staticInfoCaption->SetLabel(tr("Information"));
        for (wxStaticText* field :
             {m_staticDeviceType, m_staticBootloaderVersion, m_staticFirmwareVersion,
              m_staticFirmwareLoaded, m_staticFirmwareSize, m_staticFirmwareStatus}) {
            field->SetLabel(wxEmptyString);
        }
        m_textFirmwareFile->Disable();
        m_buttonBrowseFirmware->Disable();
        m_buttonUploadFirmware->Disable();
        m_checkRunAfterUpload->Disable();
        ClearFirmwareInfo();
        setStatusText(tr("Disconnected"));
    }
    m_buttonRoute->SetLabel(engine.IsRouted() ? tr("Disable routing") : tr("Enable routing"));
    Layout();  // the captions and labels may have grown
    Enable(!engine.IsBusy());
}

void MainFrame::UpdateDeviceStatus() {
    deviceStatus = engine.RequestStatus();
    const StatusInfo& s = deviceStatus;
    m_staticDeviceType->SetLabel(deviceStatusName(s.deviceType));
    m_staticBootloaderVersion->SetLabel(
        wxString::Format("%d.%d", s.bootloaderMajor, s.bootloaderMinor));
    m_staticFirmwareVersion->SetLabel(wxString::Format("%d.%d", s.firmwareMajor, s.firmwareMinor));
    m_staticFirmwareLoaded->SetLabel(
        s.firmwareTime > 0
            // The time_t constructor scales by TIME_T_FACTOR, which 3.2 keeps private.
            ? wxDateTime(static_cast<time_t>(s.firmwareTime))
                  .Format(wxDefaultDateTimeFormat, wxDateTime::TimeZone(wxDateTime::Local))
            : wxString());
    m_staticFirmwareSize->SetLabel(wxString::Format("%u bytes", s.firmwareSize));
    m_staticFirmwareStatus->SetLabel(s.firmwareLoaded() ? "Loaded" : "Not loaded");
}

void MainFrame::OnQuit(wxCommandEvent&) {
    try {
        if (engine.IsConnected()) {
            engine.Disconnect();
        }
    } catch (const Exception& e) {
        ShowError(fromEngine(e.message));
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
        ShowError(fromEngine(e.message));
    }
}

void MainFrame::OnAbout(wxCommandEvent&) {
    wxAboutDialogInfo info;
    info.SetName(tr("Ostraloader"));
    info.SetVersion(tr(kVersion));
    info.SetDescription("Service tool for the bootloader of Solvar and Tamrik instruments");
    info.SetCopyright("(C) Vantor instruments");
    info.SetWebSite("https://www.vantor.example");
    wxAboutBox(info, this);
}

void MainFrame::OnRoute(wxCommandEvent&) {
    try {
        if (!engine.IsRouted()) {
            engine.SetRoutePath(m_textRoutePath->GetValue().utf8_string());
        } else {
            engine.ClearRoute();
        }
        UpdateDeviceStatus();
        UpdateControls();
    } catch (const Exception& e) {
        engine.ClearRoute();
        UpdateControls();
        ShowError(fromEngine(e.message));
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
        ShowError(fromEngine(e.message));
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
        engine.UploadFirmware(m_textFirmwareFile->GetValue().utf8_string());
        UpdateControls();
    } catch (const Exception& e) {
        UpdateControls();
        ShowError(fromEngine(e.message));
        m_gauge->SetValue(0);
    }
}

void MainFrame::onClose(wxCloseEvent& event) {
    // Destroying the window would destroy the engine under a running worker: refuse, the
    // operation ends by itself. Any other close releases the port first.
    if (engine.IsBusy() && event.CanVeto()) {
        event.Veto();
        setStatusText(tr("An operation is running; close the window when it has ended"));
        return;
    }
    if (engine.IsConnected()) {
        try {
            engine.Disconnect();
        } catch (const Exception&) {
            // Closing anyway: the port is released with the engine.
        }
    }
    event.Skip();
}
