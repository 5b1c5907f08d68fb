#include "link/FailureHint.h"

#include "link/PortInfo.h"
#include "support/Text.h"

namespace {

std::string presentPorts() {
    std::vector<std::string> names;
    for (const PortInfo& port : describePorts()) {
        if (port.present) {
            names.push_back(port.name == port.device ? port.name
                                                     : port.name + " (" + port.device + ")");
        }
    }
    return names.empty() ? "none" : joinTexts(names);
}

std::string heldHint(const std::string& device) {
    const std::vector<std::string> holders = portHolders(device);
    if (holders.empty()) {
        return device + " is in use by another program: close it, or pick another port.";
    }
    std::string text =
        device + " is held by " + joinTexts(holders) + ": close it, or pick another port.";
    if (text.find("ModemManager") != std::string::npos) {
        text +=
            " To keep ModemManager away from the instrument's port, add a udev rule with "
            "ENV{ID_MM_DEVICE_IGNORE}=\"1\" for it, or stop ModemManager (sudo systemctl "
            "stop ModemManager).";
    }
    return text;
}
}  // namespace

std::string portFailureHint(PortFailure what, const std::string& name, const std::string& device,
                            int error) {
    switch (what) {
        case PortFailure::Transfer:
            return connectionLost(error)
                       ? "The connection to the instrument on " + name +
                             " was lost: it was unplugged, reset or powered off. Connect it "
                             "again and repeat the operation."
                       : std::string();
        case PortFailure::Settings:
            return "The driver of " + device +
                   " refused the line settings: is it the instrument's serial port?";
        case PortFailure::Open:
            break;
    }
    switch (classifyOpenError(error)) {
        case OpenError::Missing:
            return "There is no port " + name + (name == device ? "" : " (" + device + ")") +
                   " on this computer. Ports present: " + presentPorts() + ".";
        case OpenError::Held:
            return heldHint(device);
        case OpenError::Forbidden: {
            const std::string advice = permissionAdvice(device);
            return "No permission to open " + device + (advice.empty() ? "." : ": " + advice + ".");
        }
        case OpenError::Other:
            break;
    }
    return std::string();
}

void throwWithHint(Exception e, PortFailure what, const std::string& name,
                   const std::string& device, int error) {
    e.hint = portFailureHint(what, name, device, error);
    throw e;
}
