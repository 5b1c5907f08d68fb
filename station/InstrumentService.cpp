#include "station/InstrumentService.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <random>

#include "engine/FrameTrace.h"
#include "engine/VantorBootloader.h"
#include "station/PortIdentity.h"
#include "station/ServiceRecord.h"
#include "support/Exception.h"
#include "support/Files.h"
#include "support/Text.h"

namespace {
// Carries the engine's events to the output and wakes the servicing thread at the end of a
// work item.
class EngineEvents : public VantorBootloaderEventListener {
  public:
    explicit EngineEvents(ServiceOutput& reporter) : reporter_(reporter) {}
    void OnConnected() override {}
    void OnDisconnected() override {}
    void OnUploadStarted(const char*, int32_t pages) override {
        reporter_.started(Operation::Upload, pages);
    }
    void OnUploadProgress(int32_t done) override { reporter_.progress(done); }
    void OnUploadFinished() override { finish(false); }
    void OnReadStarted(const char*, int32_t, int32_t pages) override {
        reporter_.started(operation_, pages);
    }
    void OnReadProgress(int32_t done) override { reporter_.progress(done); }
    void OnReadFinished() override { finish(false); }
    void OnEraseStarted() override { reporter_.started(Operation::Erase, -1); }
    void OnEraseTick() override { reporter_.tick(); }
    void OnEraseFinished() override { finish(false); }
    void OnError(const char*) override { finish(true); }

    // A read-back is told as the operation it serves: a read, or an upload's verify.
    void readingFor(Operation operation) { operation_ = operation; }
    // Waits for the end of the work item; whether it succeeded (the engine keeps why not).
    bool wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        ended_.wait(lock, [&] { return done_; });
        done_ = false;
        return !failed_;
    }

  private:
    void finish(bool failed) {
        std::lock_guard<std::mutex> lock(mutex_);
        failed_ = failed;
        done_ = true;
        ended_.notify_all();
    }
    ServiceOutput& reporter_;
    std::atomic<Operation> operation_{Operation::Read};
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    bool failed_ = false;
};

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

std::vector<uint8_t> readAll(const std::string& path, long from = 0) {
    std::vector<uint8_t> bytes;
    StdioFile file = openFile(path, "rb");
    if (!file || std::fseek(file.get(), from, SEEK_SET) != 0) {
        throw Exception("can't open file %s", path.c_str());
    }
    uint8_t chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;) {
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

bool olderThan(const FirmwareImageInfo& image, const StatusInfo& s) {
    return image.versionMajor != s.firmwareMajor ? image.versionMajor < s.firmwareMajor
                                                 : image.versionMinor < s.firmwareMinor;
}

std::string safeForFileName(const std::string& text) {
    std::string safe;
    for (char c : text) {
        const bool plain =
            std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
        if (plain || (!safe.empty() && safe.back() != '-')) {
            safe += plain ? c : '-';
        }
    }
    return safe;
}

// One attempt at one instrument: each step told as it happens, for people, for tools (and
// the station), and for the record.
class Service {
  public:
    Service(const CopyOrder& order, const ImageSet& images, const std::string& port,
            const std::string& program, ServiceOutput& out)
        : r_(order),
          images_(images),
          port_(port),
          program_(program),
          out_(out),
          record_(ServiceRecord::start(order.command, port, 1, images)),
          listener_(out),
          engine_(&listener_) {}
    int run();

  private:
    void tell(const std::string& text, const CopyEvent& event) {
        record_.take(event);
        out_.event(text, eventJson(event));
    }
    int fail(const Problem& problem) {
        out_.error(problem);
        record_.take(CopyEvent::error(problem));
        return problem.code;
    }
    PortInfo connect(const std::string& port);
    void carryOut(const StatusInfo& s, const PortInfo& resolved);
    const Image& chooseImage(const StatusInfo& s) const;
    void upload(const Image& chosen, const StatusInfo& s);
    void verify(const Image& chosen);
    // Waits for the engine's work item; throws its failure.
    void awaitWork() {
        if (!listener_.wait()) {
            throw engine_.WorkFailure();
        }
    }
    void finished(const std::string& text, Operation operation) {
        tell(text, CopyEvent::finished(operation));
    }

    const CopyOrder& r_;
    const ImageSet& images_;
    const std::string port_, program_;
    ServiceOutput& out_;
    ServiceRecord record_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    EngineEvents listener_;
    VantorBootloader engine_;
};

PortInfo Service::connect(const std::string& port) {
    const PortInfo resolved = resolvePortIdentity(port, program_);
    const CopyEvent connected =
        CopyEvent::connected(port, resolved.device, resolved.serial, r_.route);
    record_.take(connected);  // the record names the device even when nothing answers on it
    engine_.Connect(resolved.name);
    if (!r_.route.empty()) {
        try {
            engine_.SetRoutePath(r_.route);
            engine_.RequestStatus();
        } catch (const Exception&) {
            engine_.ClearRoute();
            throw;
        }
    }
    const std::string where = resolved.name == port ? port : port + " (" + resolved.name + ")";
    tell("Connected to " + where + (r_.route.empty() ? "" : " through route " + r_.route),
         connected);
    return resolved;
}

// The image for the instrument's product. One named file is meant for the instrument, and
// is judged as it always was.
const Image& Service::chooseImage(const StatusInfo& s) const {
    if (images_.singleFile()) {
        const Image& only = images_.images().front();
        if (!r_.forceProduct && only.info.deviceType != s.deviceType) {
            throw Problem(kImageRefused, only.file + ": image is for " +
                                             productName(only.info.deviceType) +
                                             ", the instrument is a " + productName(s.deviceType));
        }
        return only;
    }
    const Image* image = images_.forProduct(s.deviceType);
    if (image == nullptr) {
        throw Problem(kImageRefused,
                      "the instrument is a " + std::string(productName(s.deviceType)) +
                          " and no image is for it: the images are for " + images_.products());
    }
    return *image;
}

// Reads the flash back and compares it with the body as sent. A bootloader that keeps the
// body decrypted passes too, when the first `length` bytes carry the header's body digest.
void Service::verify(const Image& chosen) {
    // The read-back's file, removed on every way out.
    struct Scratch {
        ~Scratch() {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
        std::filesystem::path path;
    } scratch{std::filesystem::temp_directory_path() /
              ("ostraloader-verify-" + std::to_string(std::random_device()()) + ".bin")};
    listener_.readingFor(Operation::Verify);
    engine_.ReadFlash(scratch.path.u8string());
    awaitWork();
    const std::vector<uint8_t> flash = readAll(scratch.path.u8string());
    const int64_t at =
        flashDifference(flash, readAll(chosen.file, kFirmwareHeaderSize), chosen.info.header);
    if (at >= 0) {
        throw Exception("verify failed: the flash differs from %s at body offset %lld (0x%llx)",
                        chosen.file.c_str(), static_cast<long long>(at),
                        static_cast<unsigned long long>(at));
    }
    finished("Firmware verified", Operation::Verify);
}

void Service::upload(const Image& chosen, const StatusInfo& s) {
    const FirmwareImageInfo& image = chosen.info;
    if (!r_.allowDowngrade && s.firmwareLoaded() && olderThan(image, s)) {
        throw Problem(
            kImageRefused,
            chosen.file + ": image version " + versionText(image.versionMajor, image.versionMinor) +
                " is older than firmware " + versionText(s.firmwareMajor, s.firmwareMinor) +
                " loaded in the instrument",
            "--allow-downgrade lets it through.");
    }
    engine_.UploadFirmware(chosen.file);
    awaitWork();
    finished("Firmware uploaded successfully", Operation::Upload);
    if (r_.verify) {
        verify(chosen);
    }
    if (r_.runAfter) {
        engine_.RunFirmware();
        engine_.Disconnect();
        finished("Firmware uploaded and started", Operation::Run);
    }
}

// The command itself, once connected and the status before is known.
void Service::carryOut(const StatusInfo& s, const PortInfo& resolved) {
    switch (r_.command) {
        case Command::Status:
            break;
        case Command::Run:
            engine_.RunFirmware();
            engine_.Disconnect();
            finished("Firmware running", Operation::Run);
            break;
        case Command::Upload: {
            const Image& chosen = chooseImage(s);
            tell(images_.singleFile() ? ""
                                      : "Image for " + std::string(deviceStatusName(s.deviceType)) +
                                            ": " + chosen.file,
                 CopyEvent::imageOf(chosen.file, chosen.info));
            upload(chosen, s);
            break;
        }
        case Command::Read:
            listener_.readingFor(Operation::Read);
            engine_.ReadFlash(readFileFor(r_.readFile, port_, resolved.serial));
            awaitWork();
            finished("Firmware successfully read", Operation::Read);
            break;
        case Command::Erase:
            engine_.EraseFlash();
            awaitWork();
            finished("Firmware successfully erased", Operation::Erase);
            break;
    }
}

int Service::run() {
    if (r_.trace) {
        engine_.SetFrameTrace([](bool outgoing, const uint8_t* wire, size_t size) {
            std::fprintf(stderr, "%s %s\n", outgoing ? "->" : "<-",
                         describeFrame(wire, size).c_str());
        });
    }
    int code = kOk;
    std::optional<StatusInfo> after;
    try {
        const PortInfo resolved = connect(port_);
        const StatusInfo s = engine_.Status();
        // Shown for status; the state before, for tools, with every command.
        tell(r_.command == Command::Status ? statusText(s) : "", CopyEvent::statusOf(s));
        carryOut(s, resolved);
        if (engine_.IsConnected()) {
            after = engine_.Status();
            engine_.Disconnect();
        }
    } catch (const Problem& problem) {
        code = fail(problem);
    } catch (const Exception& e) {
        code = fail(Problem(kDeviceFailed, e));
    }
    record_.after = after;
    record_.exitCode = code;
    record_.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    out_.event("", eventJson(CopyEvent::recordOf(record_.toJson())));
    return code;
}
}  // namespace

std::string readFileFor(const std::string& pattern, const std::string& port,
                        const std::string& serial) {
    std::string name = pattern;
    const std::pair<std::string, std::string> kFields[] = {
        {"{port}", safeForFileName(port)},
        {"{serial}", safeForFileName(serial.empty() ? port : serial)}};
    for (const auto& [field, value] : kFields) {
        for (size_t at; (at = name.find(field)) != std::string::npos;) {
            name.replace(at, field.size(), value);
        }
    }
    return name;
}

int serviceInstrument(const CopyOrder& order, const ImageSet& images, const std::string& port,
                      const std::string& program, ServiceOutput& out) {
    return Service(order, images, port, program, out).run();
}
