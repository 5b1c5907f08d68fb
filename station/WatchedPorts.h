#pragma once
// What a watching station sees of the machine's ports: when they may have changed, which
// are there, and whether another program holds one. SystemPorts is the machine; a test
// gives ports that come and go as its script says.
#include <chrono>
#include <string>
#include <vector>

#include "link/PortInfo.h"
#include "station/PortWatch.h"

// A present port that a watch may probe, described without opening it.
struct WatchedPort {
    PortInfo info;
    std::string real;  // its device with every link resolved: two names, one device
};

class WatchedPorts {
  public:
    virtual ~WatchedPorts() = default;
    // Whether the ports may have changed since the last call (always true the first time).
    // `gone`: the paths of devices and aliases removed meanwhile, so that one pulled and
    // plugged again between two looks still counts as gone and back.
    virtual bool changed(std::vector<std::string>& gone) = 0;
    // The ports now present that a probe may send bytes to unasked.
    virtual std::vector<WatchedPort> present() = 0;
    // Held open by another program (not this station's copies: the station knows those).
    virtual bool heldByAnother(const PortInfo& port) = 0;
    // A device path with every link resolved.
    virtual std::string realPath(const std::string& device) = 0;
};

class SystemPorts : public WatchedPorts {
  public:
    bool changed(std::vector<std::string>& gone) override { return watch_.changed(gone); }
    std::vector<WatchedPort> present() override;
    bool heldByAnother(const PortInfo& port) override;
    std::string realPath(const std::string& device) override;

  private:
    PortWatch watch_;
};
