#pragma once
// Tells a window when the machine's ports change, by their names alone: it never opens a
// port (a port in use must not be taken from the program using it). Its timer looks every
// 3 s; a window looks at once when the system says a device arrived or left. Each window
// decides what it shows of the ports.
#include <wx/timer.h>
#include <wx/wx.h>

#include <functional>
#include <string>
#include <vector>

class PortWatcher {
  public:
    // `ready`: whether the window may change its list now (a change stays pending until
    // it may); `changed`: the names now listed, after they changed.
    PortWatcher(wxWindow* owner, std::function<bool()> ready,
                std::function<void(const std::vector<std::string>&)> changed);
    // Compares the machine's port names with those last handed on.
    void look();

  private:
    wxTimer timer_;
    std::function<bool()> ready_;
    std::function<void(const std::vector<std::string>&)> changed_;
    std::vector<std::string> seen_;
};
