#include "cli/Commands.h"

#include "cli/ImageText.h"
#include "cli/Platform.h"
#include "link/PortInfo.h"
#include "station/PortIdentity.h"

int listPortsCommand(Reporter& out) {
    for (const PortInfo& port : describePorts()) {
        const PortAccess access = portAccess(port.device);
        const bool present = port.present && access.present;
        nlohmann::json j = {{"event", "port"},
                            {"name", port.name},
                            {"device", port.device},
                            {"present", present},
                            {"accessible", present && access.accessible}};
        std::string line = port.name + "  " + port.device + "  " +
                           (present ? access.note : std::string("not present"));
        if (port.usb) {
            const std::string id = usbId(port.vid, port.pid);
            j.update({{"vid", id.substr(0, 4)},
                      {"pid", id.substr(5)},
                      {"serial", port.serial},
                      {"product", port.product},
                      {"manufacturer", port.manufacturer},
                      {"location", port.location}});
            line += "  " + portSummary(port) +
                    (port.location.empty() ? "" : ", socket " + port.location);
        }
        out.event(line, j);
    }
    return kOk;
}

int probeCommand(Reporter& out, bool allPorts) {
    for (const ProbeAnswer& a : probePorts(selfPath(), allPorts)) {
        nlohmann::json j = {{"event", "probe"},
                            {"name", a.port.name},
                            {"device", a.port.device},
                            {"answered", a.answered}};
        std::string line = a.port.name + "  " + a.port.device + "  ";
        if (a.answered) {
            j.update(statusFields(a.status));
            line += statusLine(a.status);
        } else {
            j["error"] = a.error;
            line += "no bootloader answers";
        }
        out.event(line, j);
    }
    return kOk;
}

int inspectCommand(const std::string& file, Reporter& out) {
    const FirmwareImageInfo info = examineFirmwareImage(file);
    nlohmann::json j = imageFields(info);
    j["event"] = "image";
    out.event(imageText(info), j);
    return info.verdict == FirmwareImageInfo::Verdict::Intact ? kOk : kImageRefused;
}
