#include "station/PortIdentity.h"

#include <algorithm>
#include <cstdlib>

#include "link/FailureHint.h"
#include "link/PortNames.h"
#include "station/CopyProcesses.h"
#include "support/Exception.h"
#include "support/Text.h"

namespace {
const char kUsb[] = "usb:";
const char kUsbPort[] = "usb-port:";

bool sameText(std::string a, std::string b) {
    for (std::string* s : {&a, &b}) {
        std::transform(s->begin(), s->end(), s->begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    return a == b;
}

std::string listed(const std::vector<ProbeAnswer>& answers) {
    std::vector<std::string> each;
    for (const ProbeAnswer& a : answers) {
        each.push_back(a.port.name + " (" +
                       (a.answered ? deviceStatusName(a.status.deviceType) : "no answer") + ")");
    }
    return each.empty() ? "no port to probe" : joinTexts(each);
}

// "usb:" followed by SERIAL, VVVV:PPPP or VVVV:PPPP:SERIAL.
bool matchesUsb(const PortInfo& port, const std::string& spec) {
    if (!port.usb) {
        return false;
    }
    const size_t colon = spec.find(':');
    if (colon == 4 && spec.size() >= 9 && (spec.size() == 9 || spec[9] == ':')) {
        if (!sameText(spec.substr(0, 9), usbId(port.vid, port.pid))) {
            return false;
        }
        return spec.size() <= 10 || spec.substr(10) == port.serial;
    }
    return spec == port.serial;
}
}  // namespace

bool isProbeCandidate(const PortInfo& port) {
    if (port.usb) {
        return true;
    }
#ifdef _WIN32
    return comPortNumber(port.name) > 8;
#else
    return comPortNumber(port.name) > 0 && startsWith(port.device, portAliasFolder());
#endif
}

bool heldByAnother(const PortInfo& port) {
#ifdef _WIN32
    // The open is exclusive: a held port is refused by it.
    return !portHolders(port.device).empty();
#else
    return !startsWith(realPath(port.device), "/dev/pts/") && !portHolders(port.device).empty();
#endif
}

std::vector<ProbeAnswer> probePorts(const std::string& program, bool allPorts) {
    std::vector<PortInfo> ports;
    for (const PortInfo& port : describePorts()) {
        if (port.present && (allPorts || isProbeCandidate(port)) && !heldByAnother(port)) {
            ports.push_back(port);
        }
    }
    return probe(program, ports);
}

std::vector<ProbeAnswer> probe(const std::string& program, const std::vector<PortInfo>& ports) {
    std::vector<ProbeAnswer> answers;
    for (const PortInfo& port : ports) {
        answers.push_back({port, false, {}, "no answer"});
    }
    std::vector<std::vector<std::string>> copies;
    for (const ProbeAnswer& a : answers) {
        copies.push_back(serviceArguments(CopyOrder::probeOrder(), a.port.name));
    }
    runCopies(program, copies, [&](size_t i, const CopyEvent& event) {
        if (event.kind == CopyEvent::Kind::Status) {
            answers[i].answered = true;
            answers[i].status = event.status;
        } else if (event.kind == CopyEvent::Kind::Error) {
            answers[i].error = event.problem.message;
        }
    });
    return answers;
}

bool isPortIdentity(const std::string& typed) {
    return typed == "auto" || startsWith(typed, kUsb) || startsWith(typed, kUsbPort);
}

std::vector<PortInfo> matchUsbIdentity(const std::string& typed,
                                       const std::vector<PortInfo>& ports) {
    std::vector<PortInfo> found;
    const bool bySocket = startsWith(typed, kUsbPort);
    const std::string spec = typed.substr(bySocket ? sizeof kUsbPort - 1 : sizeof kUsb - 1);
    for (const PortInfo& port : ports) {
        const bool matches = bySocket ? port.location == spec : matchesUsb(port, spec);
        if (port.usb && port.present && matches) {
            found.push_back(port);
        }
    }
    return found;
}

PortInfo resolvePortIdentity(const std::string& typed, const std::string& program) {
    if (typed == "auto") {
        const std::vector<ProbeAnswer> answers = probePorts(program, false);
        const auto count = std::count_if(answers.begin(), answers.end(),
                                         [](const ProbeAnswer& a) { return a.answered; });
        if (count != 1) {
            throw Exception(
                "auto: %s; probed: %s",
                count == 0 ? "no bootloader answers" : "bootloaders answer on several ports",
                listed(answers).c_str());
        }
        return std::find_if(answers.begin(), answers.end(),
                            [](const ProbeAnswer& a) { return a.answered; })
            ->port;
    }
    if (!startsWith(typed, kUsb) && !startsWith(typed, kUsbPort)) {
        PortInfo port;
        port.name = typed;
        port.device = resolvePortName(typed);
        return port;
    }
    const std::vector<PortInfo> all = describePorts();
    const std::vector<PortInfo> found = matchUsbIdentity(typed, all);
    if (found.size() == 1) {
        return found[0];
    }
    std::vector<std::string> seen;
    for (const PortInfo& port : found.empty() ? all : found) {
        if (port.usb && port.present) {
            seen.push_back(port.name + " " + usbId(port.vid, port.pid) +
                           (port.serial.empty() ? "" : " serial " + port.serial) +
                           (port.location.empty() ? "" : " at " + port.location));
        }
    }
    throw Exception("%s: %s; USB serial ports found: %s", typed.c_str(),
                    found.empty() ? "no USB serial port matches" : "several USB serial ports match",
                    seen.empty() ? "none" : joinTexts(seen).c_str());
}

std::string sameInstrumentTwice(const std::vector<std::string>& typed, const std::string& program) {
    std::vector<std::string> devices;
    for (const std::string& name : typed) {
        std::string device;
        if (name != "auto") {  // known only by probing, which sends bytes
            try {
                device = resolvePortIdentity(name, program).device;
            } catch (const Exception&) {
                // Its own copy says what is wrong with it.
            }
        }
        device = device.empty() ? device : realPath(device);
        for (size_t i = 0; i < devices.size(); ++i) {
            if (typed[i] == name || (!device.empty() && devices[i] == device)) {
                return typed[i] == name ? name + " is named twice: name each instrument once"
                                        : typed[i] + " and " + name + " are both " + device +
                                              ": name each instrument once";
            }
        }
        devices.push_back(device);
    }
    return "";
}
