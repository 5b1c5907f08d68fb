// The station window at work: Start, Stop and closing, each reading the run's state again
// after any question it asks, and the station's reports handled on the window's thread.
#include <regex>

#include "app/StationRelay.h"
#include "support/JsonText.h"

StationFrame::~StationFrame() {
    // A close that could not be refused: the instruments are abandoned, each recorded.
    abandonAndWait();
}

void StationFrame::abandonAndWait() {
    if (worker.joinable()) {
        station->stop();
        station->stop();
        worker.join();
        state = RunState::Idle;
    }
}

void StationFrame::refuse(const wxString& why) {
    wxMessageDialog(this, why, tr("Error"), wxOK | wxICON_ERROR).ShowModal();
}

void StationFrame::refuse(const Problem& refusal) {
    refuse(fromUtf8(refusal.message) +
           (refusal.hint.empty() ? wxString() : "\n" + fromUtf8(refusal.hint)));
}

bool StationFrame::requestFromSettings(StationRequest& request) {
    if (!imagesUsable) {
        refuse(m_staticImagesProblem->GetLabel());
        return false;
    }
    const JobFile job = jobFromSettings();
    if (!job.usbFilter.empty() &&
        !std::regex_match(job.usbFilter, std::regex("[0-9A-Fa-f]{4}:[0-9A-Fa-f]{4}"))) {
        refuse(wxString::Format(tr("The USB filter '%s' is not a VID:PID such as 0403:6001"),
                                fromUtf8(job.usbFilter)));
        return false;
    }
    if (job.instruments == JobFile::Instruments::Ticked && job.ports.empty()) {
        refuse(tr("Tick the ports of the instruments to service"));
        return false;
    }
    if (job.instruments == JobFile::Instruments::Slots && job.slots.empty()) {
        refuse(tr("Name the fixture's slots, a line each: Slot 1=usb-port:1-2.1"));
        return false;
    }
    try {
        request = requestOf(job, jobPath.empty() ? reportPath : jobPath);  // as --job runs it
    } catch (const Problem& refusal) {
        refuse(refusal);
        return false;
    }
    request.command = Command::Upload;
    if (!request.batch.empty() && !askOperator()) {
        return false;
    }
    request.operatorName = operatorName;
    return !request.labels || request.watch || askTrayLabels(request);
}

bool StationFrame::askOperator() {
    wxTextEntryDialog dialog(this, tr("Who runs this batch?"), tr("Operator"),
                             fromUtf8(operatorName));
    if (dialog.ShowModal() != wxID_OK) {
        return false;
    }
    operatorName = dialog.GetValue().Strip(wxString::both).utf8_string();
    return true;
}

bool StationFrame::askTrayLabels(StationRequest& request) {
    std::vector<std::pair<std::string, std::string>> places;  // port, what it is called
    for (const Slot& slot : request.slots) {
        places.emplace_back(slot.port, slot.name);
    }
    for (const std::string& port : request.ports) {
        places.emplace_back(port, port);
    }
    wxDialog box(this, wxID_ANY, tr("Labels"));
    auto* grid = new wxFlexGridSizer(2, box.FromDIP(5), box.FromDIP(5));
    std::vector<wxTextCtrl*> fields;
    for (const auto& [port, name] : places) {
        grid->Add(new wxStaticText(&box, wxID_ANY, fromUtf8(name)), 0, wxALIGN_CENTER_VERTICAL);
        fields.push_back(new wxTextCtrl(&box, wxID_ANY, fromUtf8(request.labelsByPort[port]),
                                        wxDefaultPosition, box.FromDIP(wxSize(220, -1)),
                                        wxTE_PROCESS_ENTER));
        grid->Add(fields.back());
    }
    // A scanner ends each label with Enter: on to the next field, or done after the last.
    for (size_t i = 0; i < fields.size(); ++i) {
        fields[i]->Bind(wxEVT_TEXT_ENTER, [&box, &fields, i](wxCommandEvent&) {
            if (i + 1 < fields.size()) {
                fields[i + 1]->SetFocus();
            } else {
                box.EndModal(wxID_OK);
            }
        });
    }
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(new wxStaticText(&box, wxID_ANY, tr("Scan or type each instrument's label")), 0,
               wxALL, box.FromDIP(8));
    sizer->Add(grid, 1, wxEXPAND | wxALL, box.FromDIP(8));
    sizer->Add(box.CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL,
               box.FromDIP(8));
    box.SetSizerAndFit(sizer);
    if (box.ShowModal() != wxID_OK) {
        return false;
    }
    for (size_t i = 0; i < fields.size(); ++i) {
        const std::string label = fields[i]->GetValue().Strip(wxString::both).utf8_string();
        if (!label.empty()) {
            request.labelsByPort[places[i].first] = label;
        }
    }
    return true;
}

void StationFrame::onStart() {
    refreshImages();
    StationRequest request;
    if (state != RunState::Idle || !requestFromSettings(request)) {
        return;
    }
    CheckedRequest checked;
    try {
        checked = checkRequest(request, commandLine);
    } catch (const Problem& refusal) {
        refuse(refusal);
        return;
    }
    if (state != RunState::Idle) {
        return;  // the boxes above ran the event loop (a second Start may have come)
    }
    rows->clear();
    std::vector<std::string> slots;
    for (const Slot& slot : checked.request.slots) {
        slots.push_back(slot.name);
    }
    m_tiles->setSlots(slots);
    batchPassed = 0;
    batchQuantity = checked.request.quantity;
    m_staticNextLabel->SetLabel(wxEmptyString);
    station.reset();  // the last run's, with its copies and ports
    relay = std::make_unique<Relay>(this);
    copies = std::make_unique<CopyProcesses>(commandLine);
    watchedPorts = request.watch ? std::make_unique<SystemPorts>() : nullptr;
    station = std::make_unique<Station>(checked, *relay, *copies, watchedPorts.get());
    state = RunState::Running;
    worker = std::thread([this, run = station.get()] {
        run->run();
        CallAfter([this] { finished(); });  // its last act
    });
    clock.Start(500);
    SetStatusText(request.watch           ? tr("Waiting for instruments to be plugged in")
                  : request.slots.empty() ? tr("Servicing the ticked instruments")
                                          : tr("Servicing the fixture's slots"));
    updateControls();
}

void StationFrame::onStop() {
    if (state == RunState::Running) {
        state = RunState::Stopping;
        station->stop();
    } else if (state == RunState::Stopping && confirmAbandon() && state == RunState::Stopping) {
        state = RunState::Abandoning;
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

void StationFrame::unitsChanged() {
    for (const auto& [id, unit] : relay->takeChanged()) {
        rows->show(unit);
        m_tiles->show(unit);
        if (!unit.label.empty() &&
            m_staticNextLabel->GetLabel().EndsWith(": " + fromUtf8(unit.label))) {
            m_staticNextLabel->SetLabel(wxEmptyString);  // taken by this instrument
        }
    }
    updateCounts();
}

void StationFrame::finished() {
    if (!worker.joinable()) {
        return;  // a forced close waited for it already
    }
    worker.join();  // it has posted this, its last act
    state = RunState::Idle;
    clock.Stop();
    rows->tick();
    updateControls();
    SetStatusText(tr("Stopped"));
    if (closeWhenEnded) {
        Close(true);
    }
}

void StationFrame::onClose(wxCloseEvent& event) {
    if (state == RunState::Idle) {
        event.Skip();
        return;
    }
    if (!event.CanVeto()) {
        abandonAndWait();  // the session ends: every instrument recorded before it does
        event.Skip();
        return;
    }
    event.Veto();
    const size_t working = rows->counts().running;
    if (working > 0 &&
        wxMessageDialog(this,
                        wxString::Format(tr("Close the window once the %d instruments being "
                                            "serviced have ended?"),
                                         static_cast<int>(working)),
                        tr("Close"), wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION)
                .ShowModal() != wxID_YES) {
        return;
    }
    if (state == RunState::Idle) {  // it ended while the question was open
        Close(true);
        return;
    }
    closeWhenEnded = true;
    if (state == RunState::Running) {
        state = RunState::Stopping;
        station->stop();
    }
    SetStatusText(tr("Closing once the instruments being serviced have ended"));
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
        text += fromUtf8(jsonText(event)) + "\n";
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
