#include "station/WatchedPorts.h"

#include "link/PortNames.h"
#include "station/PortIdentity.h"

std::vector<WatchedPort> SystemPorts::present() {
    std::vector<WatchedPort> ports;
    // Described without opening any port: a port in use must not be taken from its user.
    for (const PortInfo& port : describePorts(false)) {
        if (port.present && isProbeCandidate(port)) {
            ports.push_back({port, ::realPath(port.device)});
        }
    }
    return ports;
}

bool SystemPorts::heldByAnother(const PortInfo& port) {
    return ::heldByAnother(port);
}

std::string SystemPorts::realPath(const std::string& device) {
    return ::realPath(device);
}
