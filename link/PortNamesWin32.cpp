#include "link/PortNames.h"

std::string portAliasFolder() {
    return std::string();
}

std::string resolvePortName(const std::string& name) {
    return name;
}

std::vector<std::string> listPorts() {
    std::vector<std::string> ports;
    for (int i = 1; i <= 8; ++i) {
        ports.push_back("COM" + std::to_string(i));
    }
    return ports;
}
