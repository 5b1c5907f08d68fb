#pragma once
// Tells when the machine's serial ports may have changed, so that an instrument plugged in
// is found within a second without listing the ports over and over. Linux: the device
// folders and the virtual instruments' alias folder watched (inotify); Windows: a rescan
// twice a second.
#include <chrono>
#include <string>
#include <vector>

class PortWatch {
  public:
    PortWatch();
    ~PortWatch();
    PortWatch(const PortWatch&) = delete;
    PortWatch& operator=(const PortWatch&) = delete;

    // Whether the ports may have changed since the last call (always true the first time,
    // and now and then regardless). `gone`: the paths of port devices and aliases removed
    // meanwhile, so that one pulled and plugged again between two looks still counts as
    // gone and back.
    bool changed(std::vector<std::string>& gone);
    // How long the owner may wait before it asks again: a look that finds nothing changed
    // costs one read of the watch, so an instrument plugged in is probed at once.
    static constexpr std::chrono::milliseconds kLookEvery{50};

  private:
    int fd_ = -1;
    std::vector<std::pair<int, std::string>> folders_;  // watch descriptor, folder
    std::chrono::steady_clock::time_point lastRescan_{};
    bool first_ = true;
};
