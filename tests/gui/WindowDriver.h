#pragma once
// Drives the window from code, as the window's tests and the picture program do: the
// toolkit started without a command line, clicks delivered as the button would deliver
// them, and the event loop run until a condition holds.
#include <wx/wx.h>

#include <chrono>
#include <functional>
#include <thread>

// The toolkit, from construction to destruction; no arguments reach wxApp, which would
// refuse other programs' flags in a message box.
struct WindowSession {
    explicit WindowSession(char** argv) {
        int argc = 1;
        wxApp::SetInstance(new wxApp);
        wxEntryStart(argc, argv);
        wxTheApp->OnInit();
        wxInitAllImageHandlers();
    }
    ~WindowSession() { wxEntryCleanup(); }
};

inline void clickButton(wxButton* button) {
    wxCommandEvent event(wxEVT_COMMAND_BUTTON_CLICKED, button->GetId());
    event.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(event);
}

// Runs the event loop until `done` holds or the limit passes; whether it held.
inline bool runEventsUntil(const std::function<bool()>& done,
                           std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        wxTheApp->ProcessPendingEvents();
        wxYield();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
