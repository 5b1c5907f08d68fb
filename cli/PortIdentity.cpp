#include "cli/PortIdentity.h"

#include <algorithm>
#include <cstdlib>

#include "cli/Copies.h"
#include "link/FailureHint.h"
#include "link/PortNames.h"
#include "support/Exception.h"

namespace {
const char kUsb[] = "usb:";

bool startsWith(const std::string& text, const std::string& head) {
    return text.compare(0, head.size(), head) == 0;
}

bool sameText(std::string a, std::string b) {
    for (std::string* s : {&a, &b}) {
        std::transform(s->begin(), s->end(), s->begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    return a == b;
}

// A port a probe may send bytes to unasked: a USB serial port, or a name a virtual
// instrument registered (POSIX: a COMn alias; Windows: the serial map beyond COM8).
bool mayProbe(const PortInfo& port) {
    if (port.usb) {
        return true;
    }
#ifdef _WIN32
    return comPortNumber(port.name) > 8;
#else
    return comPortNumber(port.name) > 0 && startsWith(port.device, portAliasFolder());
#endif
}

// Held by another program. A pseudo-terminal's other end is always held, by the instrument
// that serves it. (Windows opens ports exclusively: a held one is refused by the open.)
bool heldByAnother(const PortInfo& port) {
#ifdef _WIN32
    return !portHolders(port.device).empty();
#else
    return !startsWith(realPath(port.device), "/dev/pts/") && !portHolders(port.device).empty();
#endif
}

StatusInfo statusFrom(const nlohmann::json& event) {
    StatusInfo s;
    s.deviceType = event.value("deviceType", 0);
    const auto split = [](const std::string& v, uint8_t& major, uint8_t& minor) {
        major = static_cast<uint8_t>(std::atoi(v.c_str()));
        const size_t dot = v.find('.');
        minor = static_cast<uint8_t>(dot == std::string::npos ? 0 : std::atoi(v.c_str() + dot + 1));
    };
    split(event.value("bootloader", "0.0"), s.bootloaderMajor, s.bootloaderMinor);
    split(event.value("firmware", "0.0"), s.firmwareMajor, s.firmwareMinor);
    s.firmwareSize = event.value("firmwareSize", 0u);
    s.firmwareTime = event.value("firmwareTime", 0);
    s.flags = event.value("loaded", false) ? kStatusFlagLoaded : 0;
    return s;
}

std::string listed(const std::vector<ProbeAnswer>& answers) {
    std::string text;
    for (const ProbeAnswer& a : answers) {
        text += (text.empty() ? "" : ", ") + a.port.name + " (" +
                (a.answered ? deviceStatusName(a.status.deviceType) : "no answer") + ")";
    }
    return text.empty() ? "no port to probe" : text;
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

std::vector<ProbeAnswer> probePorts(bool allPorts) {
    std::vector<ProbeAnswer> answers;
    for (const PortInfo& port : describePorts()) {
        if (port.present && (allPorts || mayProbe(port)) && !heldByAnother(port)) {
            answers.push_back({port, false, {}, "no answer"});
        }
    }
    std::vector<std::vector<std::string>> copies;
    for (const ProbeAnswer& a : answers) {
        copies.push_back({"--json", "--station-copy", "--port", a.port.name, "status"});
    }
    runCopies(copies, [&](size_t i, const nlohmann::json& event) {
        const std::string kind = event.value("event", "");
        if (kind == "status") {
            answers[i].answered = true;
            answers[i].status = statusFrom(event);
        } else if (kind == "error") {
            answers[i].error = event.value("message", "");
        }
    });
    return answers;
}

bool isPortIdentity(const std::string& typed) {
    return typed == "auto" || startsWith(typed, kUsb);
}

PortInfo resolvePortIdentity(const std::string& typed) {
    if (typed == "auto") {
        const std::vector<ProbeAnswer> answers = probePorts(false);
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
    if (!startsWith(typed, kUsb)) {
        PortInfo port;
        port.name = typed;
        port.device = resolvePortName(typed);
        return port;
    }
    const std::string spec = typed.substr(sizeof kUsb - 1);
    std::vector<PortInfo> found, usb;
    for (const PortInfo& port : describePorts()) {
        if (port.usb && port.present) {
            usb.push_back(port);
            if (matchesUsb(port, spec)) {
                found.push_back(port);
            }
        }
    }
    if (found.size() == 1) {
        return found[0];
    }
    std::string seen;
    for (const PortInfo& port : found.empty() ? usb : found) {
        seen += (seen.empty() ? "" : ", ") + port.name + " " + usbId(port.vid, port.pid) +
                (port.serial.empty() ? "" : " serial " + port.serial);
    }
    throw Exception("%s: %s; USB serial ports found: %s", typed.c_str(),
                    found.empty() ? "no USB serial port matches" : "several USB serial ports match",
                    seen.empty() ? "none" : seen.c_str());
}
