// ostraloader-cli: every capability of the engine from a shell, CI job or production line.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "cli/Platform.h"
#include "cli/Reporter.h"
#include "engine/FrameTrace.h"
#include "engine/VantorBootloader.h"
#include "image/FirmwareImage.h"
#include "link/PortInfo.h"
#include "link/PortNames.h"
#include "support/Exception.h"
#include "support/Version.h"

namespace {
enum ExitCode { kOk = 0, kDeviceFailed = 1, kUsage = 2, kImageRefused = 3 };

const char* kExitCodes =
    "Exit codes: 0 success, 1 the device or line failed (time-out, refusal, line error), "
    "2 wrong usage, 3 the image is not acceptable.";

// Carries the engine's events to the reporter and wakes the main thread at the end of a
// work item.
class CliListener : public VantorBootloaderEventListener {
  public:
    explicit CliListener(Reporter& reporter) : reporter_(reporter) {}
    void OnConnected() override {}
    void OnDisconnected() override {}
    void OnUploadStarted(const char*, int32_t pages) override {
        reporter_.started("upload", pages);
    }
    void OnUploadProgress(int32_t done) override { reporter_.progress(done); }
    void OnUploadFinished() override { finish(""); }
    void OnReadStarted(const char*, int32_t, int32_t pages) override {
        reporter_.started("read", pages);
    }
    void OnReadProgress(int32_t done) override { reporter_.progress(done); }
    void OnReadFinished() override { finish(""); }
    void OnEraseStarted() override { reporter_.started("erase", -1); }
    void OnEraseTick() override { reporter_.tick(); }
    void OnEraseFinished() override { finish(""); }
    void OnError(const char* message) override { finish(message); }

    // Waits for the end of the work item; returns its error text, empty on success.
    std::string wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        ended_.wait(lock, [&] { return done_; });
        done_ = false;
        return error_;
    }

  private:
    void finish(const std::string& error) {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = error;
        done_ = true;
        ended_.notify_all();
    }
    Reporter& reporter_;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    std::string error_;
};

nlohmann::json statusJson(const StatusInfo& s) {
    return {
        {"event", "status"},
        {"deviceType", s.deviceType},
        {"device", deviceStatusName(s.deviceType)},
        {"bootloader", std::to_string(s.bootloaderMajor) + "." + std::to_string(s.bootloaderMinor)},
        {"firmware", std::to_string(s.firmwareMajor) + "." + std::to_string(s.firmwareMinor)},
        {"firmwareTime", s.firmwareTime},
        {"firmwareSize", s.firmwareSize},
        {"loaded", s.firmwareLoaded()}};
}

std::string statusText(const StatusInfo& s) {
    char when[64] = "";
    if (s.firmwareTime > 0) {
        const time_t t = s.firmwareTime;
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&t));
    }
    char text[512];
    std::snprintf(text, sizeof text,
                  "Device type         %s\nBootloader version  %d.%d\nFirmware version    %d.%d\n"
                  "Firmware loaded     %s\nFirmware size       %u bytes\nFirmware status     %s",
                  deviceStatusName(s.deviceType), s.bootloaderMajor, s.bootloaderMinor,
                  s.firmwareMajor, s.firmwareMinor, when, s.firmwareSize,
                  s.firmwareLoaded() ? "Loaded" : "Not loaded");
    return text;
}

nlohmann::json imageJson(const FirmwareImageInfo& info) {
    nlohmann::json j = {{"event", "image"},
                        {"verdict", info.verdictText()},
                        {"intact", info.verdict == FirmwareImageInfo::Verdict::Intact}};
    if (info.verdict == FirmwareImageInfo::Verdict::Intact) {
        j["deviceType"] = info.deviceType;
        j["product"] = productName(info.deviceType);
        j["version"] = std::to_string(info.versionMajor) + "." + std::to_string(info.versionMinor);
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
}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Ostraloader command line: status, upload, read-back and erase of an instrument's flash"};
    app.footer(kExitCodes);
    app.set_version_flag("--version", kOstraVersion);
    std::string port = "COM2", route;
    bool json = false, trace = false;
    app.add_option("--port", port, "Port name: COMn, or a device path (default COM2)");
    app.add_option("--route", route, "Route path to a routed instrument, e.g. 2.5");
    app.add_flag("--json", json, "One JSON object per line for every event, then a result object");
    app.add_flag("--trace", trace, "Every frame in and out on standard error");
    app.require_subcommand(1);

    auto* ports =
        app.add_subcommand("ports", "The ports a user can pick, and whether they can be opened");
    std::string inspectFile, uploadFile, readFile;
    auto* inspect = app.add_subcommand("inspect", "Check an image file offline");
    inspect->add_option("FILE", inspectFile, "Image file")->required();
    auto* status = app.add_subcommand("status", "Connect and show the bootloader's status");
    bool runAfter = false, forceProduct = false;
    auto* upload = app.add_subcommand("upload", "Check an image, upload it, optionally start it");
    upload->add_option("FILE", uploadFile, "Image file")->required();
    upload->add_flag("--run", runAfter, "Start the firmware after the upload");
    upload->add_flag("--force-product", forceProduct,
                     "Skip the product comparison; the bootloader judges");
    auto* run = app.add_subcommand("run", "Start the firmware in the instrument");
    auto* read = app.add_subcommand("read", "Read the flash back into a file");
    read->add_option("FILE", readFile, "File to write")->required();
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

    Reporter out(json, outputIsTerminal());
    auto result = [&](int code, const std::string& message = "") {
        if (!message.empty()) {
            out.error(message);
        }
        out.result({{"event", "result"}, {"ok", code == kOk}, {"exit", code}});
        return code;
    };

    if (*ports) {
        return listPortsCommand(out);
    }
    if (*inspect) {
        const FirmwareImageInfo info = examineFirmwareImage(inspectFile);
        out.event(imageText(info), imageJson(info));
        return result(info.verdict == FirmwareImageInfo::Verdict::Intact ? kOk : kImageRefused);
    }

    FirmwareImageInfo image;
    if (*upload) {
        image = examineFirmwareImage(uploadFile);
        out.event(imageText(image), imageJson(image));
        if (image.verdict != FirmwareImageInfo::Verdict::Intact) {
            return result(kImageRefused, uploadFile + ": " + image.verdictText());
        }
    }

    CliListener listener(out);
    VantorBootloader engine(&listener);
    if (trace) {
        engine.SetFrameTrace([](bool outgoing, const uint8_t* wire, size_t size) {
            std::fprintf(stderr, "%s %s\n", outgoing ? "->" : "<-",
                         describeFrame(wire, size).c_str());
        });
    }
    try {
        engine.Connect(port);
        if (!route.empty()) {
            try {
                engine.SetRoutePath(route);
                engine.RequestStatus();
            } catch (const Exception&) {
                engine.ClearRoute();
                throw;
            }
        }
        out.event("Connected to " + port + (route.empty() ? "" : " through route " + route),
                  {{"event", "connected"}, {"port", port}, {"route", route}});
        const StatusInfo s = engine.Status();
        if (*status) {
            out.event(statusText(s), statusJson(s));
        } else if (*run) {
            engine.RunFirmware();
            engine.Disconnect();
            out.event("Firmware running", {{"event", "finished"}, {"operation", "run"}});
        } else if (*upload) {
            if (!forceProduct && image.deviceType != s.deviceType) {
                return result(kImageRefused,
                              uploadFile + ": image is for " + productName(image.deviceType) +
                                  ", the instrument is a " + productName(s.deviceType));
            }
            engine.UploadFirmware(uploadFile);
            if (const std::string error = listener.wait(); !error.empty()) {
                return result(kDeviceFailed, error);
            }
            out.event("Firmware uploaded successfully",
                      {{"event", "finished"}, {"operation", "upload"}});
            if (runAfter) {
                engine.RunFirmware();
                engine.Disconnect();
                out.event("Firmware uploaded and started",
                          {{"event", "finished"}, {"operation", "run"}});
            }
        } else if (*read) {
            engine.ReadFlash(readFile);
            if (const std::string error = listener.wait(); !error.empty()) {
                return result(kDeviceFailed, error);
            }
            out.event("Firmware successfully read", {{"event", "finished"}, {"operation", "read"}});
        } else if (*erase) {
            engine.EraseFlash();
            if (const std::string error = listener.wait(); !error.empty()) {
                return result(kDeviceFailed, error);
            }
            out.event("Firmware successfully erased",
                      {{"event", "finished"}, {"operation", "erase"}});
        }
        engine.Disconnect();
        return result(kOk);
    } catch (const Exception& e) {
        return result(kDeviceFailed, e.report());
    }
}
