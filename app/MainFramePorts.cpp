// The port selector follows the machine: instruments plugged in or pulled out while the
// window is open appear in and leave the list, and the chosen port's tooltip says what
// device it is.
#include "app/MainFrame.h"
#include "app/Translate.h"
#include "link/PortInfo.h"
#include "link/PortNames.h"

void MainFrame::watchPorts() {
    m_comboPort->Bind(wxEVT_COMBOBOX_DROPDOWN, [this](wxCommandEvent&) {
        portListOpen = true;
        refreshPorts();
    });
    m_comboPort->Bind(wxEVT_COMBOBOX_CLOSEUP, [this](wxCommandEvent&) { portListOpen = false; });
    m_comboPort->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent& event) {
        describeChosenPort();
        event.Skip();
    });
    // Never while the list is open under the pointer or a port is in use.
    portWatcher = std::make_unique<PortWatcher>(
        this, [this] { return !portListOpen && !engine.IsConnected() && !isBusy(); },
        [this](const std::vector<std::string>&) { refreshPorts(); });
    portWatcher->look();
}

void MainFrame::scanPorts() {
    portWatcher->look();
}

void MainFrame::refreshPorts() {
    ports = describePorts();
    const wxString chosen = m_comboPort->GetValue();
    // "COM1" to "COM8" always stay, first; the machine's other ports follow them.
    while (m_comboPort->GetCount() > 8) {
        m_comboPort->Delete(m_comboPort->GetCount() - 1);
    }
    for (size_t i = 8; i < ports.size(); ++i) {
        m_comboPort->Append(fromUtf8(ports[i].name));
    }
    m_comboPort->SetValue(m_comboPort->FindString(chosen, true) != wxNOT_FOUND ? chosen
                                                                               : wxString("COM2"));
    describeChosenPort();
}

void MainFrame::describeChosenPort() {
    const std::string chosen = m_comboPort->GetValue().utf8_string();
    for (const PortInfo& port : ports) {
        if (port.name == chosen) {
            m_comboPort->SetToolTip(fromUtf8(portSummary(port)));
            return;
        }
    }
    m_comboPort->SetToolTip(fromUtf8(resolvePortName(chosen)));
}

#ifdef __WXMSW__
WXLRESULT MainFrame::MSWWindowProc(WXUINT message, WXWPARAM wParam, WXLPARAM lParam) {
    // A device arrived or left: compare the list with the machine's ports at once.
    if (message == 0x0219 /* WM_DEVICECHANGE */) {
        CallAfter([this] { scanPorts(); });
    }
    return MainFrameBase::MSWWindowProc(message, wParam, lParam);
}
#endif
