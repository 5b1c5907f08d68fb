#pragma once
// Drives the window from code, as the window's tests and the picture program do: the
// toolkit started without a command line, clicks delivered as the button would deliver
// them, and the event loop run until a condition holds.
#include <wx/evtloop.h>
#include <wx/wx.h>

#include <chrono>
#include <functional>
#include <memory>
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
#ifdef __WXMSW__
    // Windows delivers timers only to an active loop, and the tests run none of their own.
    std::unique_ptr<wxGUIEventLoop> loop;
    std::unique_ptr<wxEventLoopActivator> active;
    if (wxEventLoopBase::GetActive() == nullptr) {
        loop = std::make_unique<wxGUIEventLoop>();
        active = std::make_unique<wxEventLoopActivator>(loop.get());
    }
#endif
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
