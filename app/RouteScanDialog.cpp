#include "app/RouteScanDialog.h"

#include <algorithm>
#include <tuple>

#include "app/Layout.h"
#include "app/Translate.h"
#include "support/Exception.h"
#include "support/Text.h"

RouteScanDialog::RouteScanDialog(wxWindow* parent, VantorBootloader& engine)
    : wxDialog(parent, wxID_ANY, tr("Find routed instruments"), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      engine_(engine) {
    const int gap = FromDIP(6);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    auto* intro = new wxStaticText(
        this, wxID_ANY,
        tr("Each port of the instrument, and of every instrument found behind it, is asked "
           "for a bootloader's status. A port where nothing answers takes a second."));
    sizer->Add(intro, 0, wxALL, gap);
    m_staticProgress = new wxStaticText(this, wxID_ANY, tr("Starting"));
    sizer->Add(m_staticProgress, 0, wxLEFT | wxRIGHT | wxTOP, gap);
    m_gauge = new wxGauge(this, wxID_ANY, 8, wxDefaultPosition, wxDefaultSize, wxGA_HORIZONTAL);
    sizer->Add(m_gauge, 0, wxEXPAND | wxALL, gap);
    m_listFound = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(540, 180)),
                                 wxLC_REPORT | wxLC_SINGLE_SEL);
    const int listWidth =
        appendColumns(m_listFound, {{trLater("Route path"), "7.7.7.7.7.7.7.7", 90},
                                    {trLater("Device type"), "SOLVAR HS3", 170},
                                    {trLater("Bootloader version"), "10.10", 140},
                                    {trLater("Firmware version"), "10.10", 130}});
    intro->Wrap(listWidth);
    sizer->Add(m_listFound, 1, wxEXPAND | wxLEFT | wxRIGHT, gap);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->AddStretchSpacer();
    m_buttonUse = new wxButton(this, wxID_OK, tr("Use"));
    m_buttonCancel = new wxButton(this, wxID_CANCEL, tr("Cancel"));
    buttons->Add(m_buttonUse, 0, wxALL, gap);
    buttons->Add(m_buttonCancel, 0, wxALL, gap);
    sizer->Add(buttons, 0, wxEXPAND);
    SetSizerAndFit(sizer);
    SetEscapeId(wxID_NONE);  // Escape and the title bar's close go through Cancel's rule

    m_listFound->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent&) { updateButtons(); });
    m_listFound->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) {
        if (m_buttonUse->IsEnabled()) {
            wxCommandEvent use(wxEVT_BUTTON, wxID_OK);
            ProcessWindowEvent(use);
        }
    });
    m_buttonUse->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        const long row = m_listFound->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
        if (row >= 0 && !scanning()) {
            chosen_ = found[static_cast<size_t>(row)].path;
            EndModal(wxID_OK);
        }
    });
    // Cancel stops a scan (a port already asked still has its second to answer), and what
    // answered so far stays listed to be used; once stopped it closes the dialog. Closing
    // it stops the scan and closes when it has stopped.
    const auto cancel = [this](bool close) {
        if (scanning()) {
            cancel_ = true;
            closeWhenDone_ = closeWhenDone_ || close;
            m_staticProgress->SetLabel(tr("Stopping after the port being asked"));
        } else {
            EndModal(wxID_CANCEL);
        }
    };
    m_buttonCancel->Bind(wxEVT_BUTTON, [cancel](wxCommandEvent&) { cancel(false); });
    Bind(wxEVT_CLOSE_WINDOW, [cancel](wxCloseEvent&) { cancel(true); });
    updateButtons();
}

RouteScanDialog::~RouteScanDialog() {
    if (scanning()) {
        cancel_ = true;
        worker_.join();
    }
}

void RouteScanDialog::start() {
    RouteScanEvents events;
    events.hopStarted = [this](int, int ports) { CallAfter([this, ports] { hopStarted(ports); }); };
    events.portTried = [this](int tried) { CallAfter([this, tried] { portTried(tried); }); };
    events.found = [this](const RoutedInstrument& i) {
        CallAfter([this, i] { instrumentFound(i); });
    };
    worker_ = std::thread([this, events] {
        std::string error;
        try {
            scanRoutes(engine_, 8, events, cancel_);
        } catch (const Exception& e) {
            error = e.report();
        }
        CallAfter([this, error] { finished(error); });
    });
    updateButtons();
}

void RouteScanDialog::hopStarted(int ports) {
    ports_ += ports;
    m_gauge->SetRange(ports_);
}

void RouteScanDialog::portTried(int tried) {
    m_gauge->SetValue(std::min(tried, ports_));
    m_staticProgress->SetLabel(wxString::Format(tr("%d of %d ports tried: about %d s left"), tried,
                                                ports_, ports_ - tried));
}

void RouteScanDialog::instrumentFound(const RoutedInstrument& i) {
    found.push_back(i);
    std::sort(found.begin(), found.end(), inPathOrder);
    m_listFound->DeleteAllItems();
    for (size_t row = 0; row < found.size(); ++row) {
        const RoutedInstrument& f = found[row];
        const StatusInfo& s = f.status;
        wxString device = deviceStatusName(s.deviceType);
        if (f.doubtful) {
            device += wxString::Format(tr(" (doubtful: a second answer was %s)"),
                                       deviceStatusName(f.second.deviceType));
        }
        const long at = m_listFound->InsertItem(static_cast<long>(row), f.path);
        m_listFound->SetItem(at, 1, device);
        m_listFound->SetItem(at, 2, versionText(s.bootloaderMajor, s.bootloaderMinor));
        m_listFound->SetItem(at, 3, versionText(s.firmwareMajor, s.firmwareMinor));
    }
}

void RouteScanDialog::finished(const std::string& error) {
    worker_.join();
    error_ = error;
    m_gauge->SetValue(m_gauge->GetRange());
    m_staticProgress->SetLabel(cancel_ ? tr("Stopped: what answered so far")
                                       : tr("Every port tried"));
    updateButtons();
    if (closeWhenDone_ || !error_.empty()) {
        EndModal(wxID_CANCEL);  // with an error, the window says what went wrong
    }
}

void RouteScanDialog::updateButtons() {
    m_buttonUse->Enable(!scanning() && m_listFound->GetSelectedItemCount() > 0);
}
