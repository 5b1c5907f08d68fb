// ostraloader-cli: every capability of the engine from a shell, CI job or production line.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>

#include "cli/Platform.h"
#include "cli/PortIdentity.h"
#include "cli/Reporter.h"
#include "cli/Service.h"
#include "cli/Station.h"
#include "image/FirmwareImage.h"
#include "link/PortInfo.h"
#include "link/PortNames.h"
#include "support/Exception.h"
#include "support/Version.h"

namespace {
const char* kExitCodes =
    "Exit codes: 0 success, 1 the device or line failed (time-out, refusal, line error), "
    "2 wrong usage, 3 the image is not acceptable (also an older version than the firmware "
    "loaded). Several ports: the largest of the instruments' codes.";

nlohmann::json imageJson(const FirmwareImageInfo& info) {
    nlohmann::json j = {{"event", "image"},
                        {"verdict", info.verdictText()},
                        {"intact", info.verdict == FirmwareImageInfo::Verdict::Intact}};
    if (info.verdict == FirmwareImageInfo::Verdict::Intact) {
        j["deviceType"] = info.deviceType;
        j["product"] = productName(info.deviceType);
        j["version"] = versionText(info.versionMajor, info.versionMinor);
        j["flags"] = firmwareFlagsText(info.flags);
        j["build"] = info.build;
        j["buildTime"] = formatCalendarTime(firmwareBuildTime(info.timestamp));
        j["length"] = info.length;
    }
    return j;
}

std::string imageText(const FirmwareImageInfo& info) {
    if (info.verdict != FirmwareImageInfo::Verdict::Intact) {
        return info.verdictText();
    }
    const nlohmann::json j = imageJson(info);
    return "Product             " + j["product"].get<std::string>() + "\nFirmware version    " +
           j["version"].get<std::string>() + " " + j["flags"].get<std::string>() +
           "\nBuild number        " + std::to_string(info.build) + "\nBuild timestamp     " +
           j["buildTime"].get<std::string>() + "\nLength              " +
           std::to_string(info.length) + " bytes";
}

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
            line += "  " + portSummary(port);
        }
        out.event(line, j);
    }
    return kOk;
}

int probeCommand(Reporter& out, bool allPorts) {
    for (const ProbeAnswer& a : probePorts(allPorts)) {
        nlohmann::json j = {{"event", "probe"},
                            {"name", a.port.name},
                            {"device", a.port.device},
                            {"answered", a.answered}};
        std::string line = a.port.name + "  " + a.port.device + "  ";
        if (a.answered) {
            const StatusInfo& s = a.status;
            const std::string bootloader = versionText(s.bootloaderMajor, s.bootloaderMinor);
            const std::string firmware = versionText(s.firmwareMajor, s.firmwareMinor);
            j.update({{"deviceType", deviceStatusName(s.deviceType)},
                      {"bootloader", bootloader},
                      {"firmware", firmware},
                      {"firmwareSize", s.firmwareSize}});
            line += std::string(deviceStatusName(s.deviceType)) + "  bootloader " + bootloader +
                    "  firmware " + firmware + "  " + std::to_string(s.firmwareSize) + " bytes";
        } else {
            j["error"] = a.error;
            line += "no bootloader answers";
        }
        out.event(line, j);
    }
    return kOk;
}
}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Ostraloader command line: status, upload, read-back and erase of an instrument's flash"};
    app.footer(kExitCodes);
    app.set_version_flag("--version", kOstraVersion);
    CliOptions o;
    app.add_option("--port", o.ports,
                   "Port: COMn, a device path, usb:SERIAL, usb:VVVV:PPPP[:SERIAL] or auto "
                   "(default COM2); repeated: every port at once")
        ->take_all();
    app.add_option("--route", o.route, "Route path to a routed instrument, e.g. 2.5");
    app.add_option("--report", o.report,
                   "Append one JSON service record per instrument and command to this file");
    app.add_flag("--json", o.json,
                 "One JSON object per line for every event, then a result object");
    app.add_flag("--trace", o.trace, "Every frame in and out on standard error");
    app.add_flag("--station-copy", o.stationCopy)->group("");  // one port of a station
    app.require_subcommand(1);
    app.fallthrough();  // the options above also after the command

    bool probe = false, allPorts = false;
    auto* ports =
        app.add_subcommand("ports", "The ports a user can pick, and whether they can be opened");
    ports->add_flag("--probe", probe,
                    "Ask each USB serial port and registered COM name for a bootloader's status");
    ports->add_flag("--all-ports", allPorts, "With --probe: every present port");
    std::string inspectFile;
    auto* inspect = app.add_subcommand("inspect", "Check an image file offline");
    inspect->add_option("FILE", inspectFile, "Image file")->required();
    auto* status = app.add_subcommand("status", "Connect and show the bootloader's status");
    auto* upload = app.add_subcommand("upload", "Check an image, upload it, optionally start it");
    upload->add_option("FILE", o.file, "Image file")->required();
    upload->add_flag("--run", o.runAfter, "Start the firmware after the upload");
    upload->add_flag("--force-product", o.forceProduct,
                     "Skip the product comparison; the bootloader judges");
    upload->add_flag("--allow-downgrade", o.allowDowngrade,
                     "Upload an image older than the firmware loaded");
    upload->add_flag("--verify", o.verify, "Read the flash back and compare it with the image");
    auto* run = app.add_subcommand("run", "Start the firmware in the instrument");
    auto* read = app.add_subcommand("read", "Read the flash back into a file");
    read->add_option("FILE", o.file,
                     "File to write; with several ports a pattern holding {port} or {serial}")
        ->required();
    auto* erase = app.add_subcommand("erase", "Erase the flash");

    try {
        // CLI11 takes the arguments after the program name, last first.
        std::vector<std::string> args = utf8Arguments(argc, argv);
        args.erase(args.begin());
        std::reverse(args.begin(), args.end());
        app.parse(args);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return rc == 0 ? kOk : kUsage;
    }
    if (o.ports.empty()) {
        o.ports.push_back("COM2");
    }
    for (const auto& [sub, name] : {std::pair{status, "status"},
                                    {upload, "upload"},
                                    {run, "run"},
                                    {read, "read"},
                                    {erase, "erase"}}) {
        if (*sub) {
            o.command = name;
        }
    }

    Reporter out(o.json, outputIsTerminal());
    if (o.stationCopy) {
        out.errorsInJsonOnly();
    }
    auto result = [&](int code, const std::string& message = "") {
        if (!message.empty()) {
            out.error(message);
        }
        out.result({{"event", "result"}, {"ok", code == kOk}, {"exit", code}});
        return code;
    };

    if (*ports) {
        return probe ? probeCommand(out, allPorts) : listPortsCommand(out);
    }
    if (*inspect) {
        const FirmwareImageInfo info = examineFirmwareImage(inspectFile);
        out.event(imageText(info), imageJson(info));
        return result(info.verdict == FirmwareImageInfo::Verdict::Intact ? kOk : kImageRefused);
    }

    const bool station = o.ports.size() > 1;
    if (station && o.command == "read" && o.file.find("{port}") == std::string::npos &&
        o.file.find("{serial}") == std::string::npos) {
        return result(kUsage, "read with several ports: the file name " + o.file +
                                  " needs {port} or {serial}, or every instrument would write "
                                  "the same file");
    }
    if (!o.report.empty()) {
        if (const std::string error = checkReportFile(o.report); !error.empty()) {
            return result(kUsage, error);
        }
    }
    // The image is checked once, before anything is sent to any instrument.
    FirmwareImageInfo image;
    if (o.command == "upload") {
        image = examineFirmwareImage(o.file);
        if (!o.stationCopy) {
            out.event(imageText(image), imageJson(image));
        }
        if (image.verdict != FirmwareImageInfo::Verdict::Intact) {
            return result(kImageRefused, o.file + ": " + image.verdictText());
        }
    }
    if (station) {
        return result(runStation(o, out, outputIsTerminal()));
    }
    ServiceRecord record;
    int code = serviceInstrument(o, o.ports[0], image, out, record);
    if (!o.report.empty()) {
        if (const std::string error = appendRecord(o.report, record); !error.empty()) {
            out.error(error);
            code = std::max(code, static_cast<int>(kDeviceFailed));
        }
    }
    return result(code);
}
