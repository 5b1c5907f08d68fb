// ostraloader-cli: every capability of the engine from a shell, CI job or production line.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <thread>

#include "cli/ImageText.h"
#include "cli/Platform.h"
#include "cli/Reporter.h"
#include "cli/Routes.h"
#include "cli/Service.h"
#include "cli/StationText.h"
#include "image/FirmwareImage.h"
#include "link/PortInfo.h"
#include "link/PortNames.h"
#include "station/PortIdentity.h"
#include "support/Exception.h"
#include "support/Version.h"

namespace {
const char* kExitCodes =
    "Exit codes: 0 success, 1 the device or line failed (time-out, refusal, line error), "
    "2 wrong usage, 3 the image is not acceptable (also an older version than the firmware "
    "loaded). Several ports: the largest of the instruments' codes.";

// What is wrong with the way the command was asked for, or nothing.
std::string usageProblem(const CliOptions& o, bool station) {
    if (station && o.command == "read" && o.file.find("{port}") == std::string::npos &&
        o.file.find("{serial}") == std::string::npos) {
        return "read with several ports: the file name " + o.file +
               " needs {port} or {serial}, or every instrument would write the same file";
    }
    if (o.count > 0 && !o.watch) {
        return "--count goes with --watch";
    }
    if (o.watch && std::find(o.ports.begin(), o.ports.end(), "auto") != o.ports.end()) {
        return "--watch finds every instrument itself; --port auto does not go with it";
    }
    if (station && !o.watch && !o.stationCopy) {
        return sameInstrumentTwice(o.ports, selfPath());
    }
    return "";
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
    for (const ProbeAnswer& a : probePorts(selfPath(), allPorts)) {
        nlohmann::json j = {{"event", "probe"},
                            {"name", a.port.name},
                            {"device", a.port.device},
                            {"answered", a.answered}};
        std::string line = a.port.name + "  " + a.port.device + "  ";
        if (a.answered) {
            const StatusInfo& s = a.status;
            j.update({{"deviceType", deviceStatusName(s.deviceType)},
                      {"bootloader", versionText(s.bootloaderMajor, s.bootloaderMinor)},
                      {"firmware", versionText(s.firmwareMajor, s.firmwareMinor)},
                      {"firmwareSize", s.firmwareSize}});
            line += statusLine(s);
        } else {
            j["error"] = a.error;
            line += "no bootloader answers";
        }
        out.event(line, j);
    }
    return kOk;
}
// The images an upload will use: one named file as the check shows it; several, or a
// folder's, a line each, and the files of a folder that were passed over.
void showImages(const ImageSet& images, Reporter& out) {
    if (images.singleFile()) {
        out.event(imageText(images.images()[0].info), imageJson(images.images()[0].info));
        return;
    }
    for (const Image& image : images.images()) {
        nlohmann::json j = imageJson(image.info);
        j["file"] = image.file;
        out.event(pad(productName(image.info.deviceType), 12) + j["version"].get<std::string>() +
                      "  build " + std::to_string(image.info.build) + "  " + image.file,
                  j);
    }
    for (const auto& [file, verdict] : images.skipped()) {
        out.event("skipped, not an intact image (" + verdict + "): " + file,
                  {{"event", "skipped"}, {"file", file}, {"verdict", verdict}});
    }
}

// Several ports, or every instrument plugged in: a copy of this program for each.
int stationCommand(const CliOptions& o, const ImageSet& images, Reporter& out) {
    StationSetup setup;
    setup.program = selfPath();
    setup.ports = o.ports;
    setup.watch = o.watch;
    setup.count = o.count;
    setup.attempts = o.attempts;
    setup.report = o.report;
    StationJob job;
    job.command = o.command;
    job.route = o.route;
    job.images = images.images();
    job.readPattern = o.command == "read" ? o.file : "";
    job.runAfter = o.runAfter;
    job.forceProduct = o.forceProduct;
    job.allowDowngrade = o.allowDowngrade;
    job.verify = o.verify;
    job.trace = o.trace;
    StationText text(out, outputIsTerminal(), o.watch);
    Station station(setup, job, text);
    onInterrupt([&station] { station.stop(); });
    if (o.watch) {
        out.event("watching for instruments; Ctrl-C ends", {{"event", "watching"}});
    }
    const int code = station.run();
    text.summary(station);
    return code;
}

// One instrument, tried again after a device or line failure while attempts are left.
// A Ctrl-C ends the program at once, with the attempt's record written.
int singleCommand(const CliOptions& o, const ImageSet& images, Reporter& out) {
    RecordKeeper keeper;
    if (o.stationCopy) {
        ignoreInterrupts();
    } else if (!o.report.empty()) {
        onInterrupt([&] {
            if (keeper.claim()) {
                appendToReport(o.report, keeper.interrupted().toJson());
            }
            endAsInterrupted();
        });
    }
    int code = kOk;
    for (int attempt = 1;; ++attempt) {
        keeper.begin(attempt);
        code = serviceInstrument(o, o.ports[0], images, out, keeper);
        if (o.stationCopy) {
            out.event("", {{"event", "record"}, {"record", keeper.record().toJson()}});
        } else if (!o.report.empty() && keeper.claim()) {
            if (const std::string error = appendToReport(o.report, keeper.record().toJson());
                !error.empty()) {
                out.error(error);
                code = std::max(code, static_cast<int>(kDeviceFailed));
            }
        }
        if (code != kDeviceFailed || attempt >= o.attempts) {
            return code;
        }
        out.event("attempt " + std::to_string(attempt) + " failed; trying again in a second",
                  {{"event", "retry"}, {"attempt", attempt + 1}});
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
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
    app.add_flag("--watch", o.watch,
                 "Service every instrument plugged in (USB serial ports and registered COM "
                 "names, only those --port names when given) until Ctrl-C");
    app.add_option("--count", o.count, "With --watch: end after this many instruments")
        ->check(CLI::PositiveNumber);
    app.add_option("--attempts", o.attempts,
                   "Service an instrument again after a device or line failure, up to this many "
                   "times in all (default 1)")
        ->check(CLI::PositiveNumber);
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
    upload
        ->add_option("FILE", o.files,
                     "Image file; several files or folders: each instrument gets the image for "
                     "its product (in a folder the newest)")
        ->required();
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
    auto* routes = app.add_subcommand(
        "routes", "Find the instruments reachable through the one on the port, hop after hop");
    routes->add_option("--depth", o.depth, "Look this many hops behind it (1 to 8, default 8)")
        ->check(CLI::Range(1, 8));

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
    if (o.ports.empty() && !o.watch) {
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
    if (*routes) {
        if (!o.route.empty() || o.ports.size() != 1 || o.watch) {
            return result(kUsage,
                          "routes starts from the one instrument on the port, connected "
                          "directly: name one --port, without --route or --watch");
        }
        try {
            return result(routesCommand(o, out));
        } catch (const Exception& e) {
            return result(kDeviceFailed, e.report());
        }
    }
    if (*inspect) {
        const FirmwareImageInfo info = examineFirmwareImage(inspectFile);
        out.event(imageText(info), imageJson(info));
        return result(info.verdict == FirmwareImageInfo::Verdict::Intact ? kOk : kImageRefused);
    }

    const bool station = o.ports.size() > 1 || o.watch;
    if (const std::string misuse = usageProblem(o, station); !misuse.empty()) {
        return result(kUsage, misuse);
    }
    if (!o.report.empty()) {
        if (const std::string error = checkReportFile(o.report); !error.empty()) {
            return result(kUsage, error);
        }
    }
    // The images are checked once, before anything is sent to any instrument.
    ImageSet images;
    if (o.command == "upload") {
        try {
            images = ImageSet::load(o.files);
        } catch (const Refusal& refusal) {
            return result(refusal.code, refusal.message);
        }
        if (!o.stationCopy) {
            showImages(images, out);
        }
        if (o.forceProduct && !images.singleFile()) {
            return result(kUsage, "--force-product takes one image file, not several");
        }
    }
    return result(station ? stationCommand(o, images, out) : singleCommand(o, images, out));
}
