// ostraloader-sim: a virtual instrument on a pseudo-terminal, for rehearsing a service
// visit without hardware. Prints the terminal's path on its first line, then answers the
// bootloader protocol until SIGINT or SIGTERM.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "sim/VirtualInstrument.h"
#include "support/CInteger.h"
#include "support/Exception.h"
#include "support/Version.h"

namespace {
bool parseVersion(const std::string& text, uint8_t& major, uint8_t& minor) {
    const size_t dot = text.find('.');
    if (dot == std::string::npos) {
        return false;
    }
    major = static_cast<uint8_t>(readCInteger(text.c_str()));
    minor = static_cast<uint8_t>(readCInteger(text.c_str() + dot + 1));
    return true;
}

// Firmware X.Y loaded: 64 KiB, loaded 2026-01-01 00:00:00 UTC.
void loadFirmware(SimConfig& config) {
    config.firmwareLoaded = true;
    config.firmwareSize = 64 * 1024;
    config.firmwareTime = 1767225600;
}

// "2.5:type=3:bootloader=1.4:firmware=2.0" -> path "2.5" and the instrument's
// configuration, as the options of the instrument itself give it.
void parseChild(const std::string& text, std::string& path, SimConfig& config) {
    std::istringstream in(text);
    std::getline(in, path, ':');
    for (std::string option; std::getline(in, option, ':');) {
        const size_t eq = option.find('=');
        const std::string key = option.substr(0, eq), value = option.substr(eq + 1);
        if (eq == std::string::npos) {
            throw Exception("child '%s': '%s' needs a value", text.c_str(), option.c_str());
        } else if (key == "type") {
            config.deviceType = static_cast<uint8_t>(readCInteger(value.c_str()));
        } else if (key == "bootloader" &&
                   parseVersion(value, config.bootloaderMajor, config.bootloaderMinor)) {
        } else if (key == "firmware" &&
                   parseVersion(value, config.firmwareMajor, config.firmwareMinor)) {
            loadFirmware(config);
        } else {
            throw Exception("child '%s': expected PATH[:type=N][:bootloader=X.Y][:firmware=X.Y]",
                            text.c_str());
        }
    }
}
// What the command line asks of the instrument.
struct SimOptions {
    SimConfig config;
    int type = 1;
    std::string bootloader = "1.2", firmware = "0.0", com, device;
    std::vector<std::string> children, faults;
    uint32_t baud = 0;
    bool trace = false;
    CLI::Option* loaded = nullptr;  // --firmware
};

void addOptions(CLI::App& app, SimOptions& o) {
    app.add_option("--type", o.type, "Device type 1 to 5")->check(CLI::Range(1, 5));
    app.add_option("--bootloader", o.bootloader, "Bootloader version MAJOR.MINOR");
    o.loaded = app.add_option(
        "--firmware", o.firmware,
        "Firmware MAJOR.MINOR is loaded (64 KiB, loaded 2026-01-01 00:00:00 UTC); by default "
        "none is");
    app.add_option("--flash-size", o.config.flashSize, "Flash size in bytes (default 524288)");
    app.add_option("--erase-delay", o.config.eraseDelayMs,
                   "Milliseconds an erase takes (default 3000)");
    app.add_flag("--stay", o.config.stayAfterRun, "Keep answering after the firmware is started");
    app.add_option("--com", o.com, "Register as this port name (COMn) for the loader");
    app.add_option("--device", o.device,
                   "Serve this existing terminal (e.g. /dev/ttyGS0) instead of a pseudo-terminal");
    app.add_option("--child", o.children,
                   "Routed instrument PATH[:type=N][:bootloader=X.Y][:firmware=X.Y], e.g. "
                   "2:type=5 or 2.5:type=3:firmware=1.4; a fault for it takes route=PATH");
    app.add_option(
        "--fault", o.faults,
        "Fault KIND[:code=N][:nth=N][:delay=MS][:reply=N][:at=N][:type=N][:route=PATH]; KIND: "
        "silent, late, corrupt, wrong-type, wrong-tag, noise, reply-code, hang-up, flip-flash, "
        "other-device (its status names device type N), short (a reply cut after its header)");
    app.add_option("--baud", o.baud, "Pace every byte as a UART at this speed");
    app.add_flag("--trace", o.trace, "Every frame in and out on standard error");
    app.set_version_flag("--version", kOstraVersion);
}

// The instrument the options describe, its children and faults added, served until a stop
// signal comes.
int serveUntilStopped(SimOptions& o) {
    SimConfig& config = o.config;
    config.deviceType = static_cast<uint8_t>(o.type);
    if (!parseVersion(o.bootloader, config.bootloaderMajor, config.bootloaderMinor) ||
        !parseVersion(o.firmware, config.firmwareMajor, config.firmwareMinor)) {
        throw Exception("versions are MAJOR.MINOR");
    }
    if (o.loaded->count() > 0) {
        loadFirmware(config);
    }
    // Block the stop signals before any thread exists, then wait for them here.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    VirtualInstrument instrument(config, o.device);
    for (const std::string& text : o.children) {
        std::string path;
        SimConfig child;
        parseChild(text, path, child);
        instrument.addChild(path, child);
    }
    for (const std::string& text : o.faults) {
        instrument.addFault(parseSimFault(text));
    }
    instrument.setBaud(o.baud);
    if (o.trace) {
        instrument.setTrace(stderr);
    }
    if (!o.com.empty()) {
        instrument.registerAlias(o.com);
    }
    instrument.start();
    std::printf("%s\n", instrument.devicePath().c_str());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Virtual instrument: a bootloader stand-in on a pseudo-terminal"};
    SimOptions options;
    addOptions(app, options);
    CLI11_PARSE(app, argc, argv);
    try {
        return serveUntilStopped(options);
    } catch (const Exception& e) {
        std::fprintf(stderr, "ostraloader-sim: %s\n", e.text());
        return 1;
    }
}
