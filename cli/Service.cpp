#include "cli/Service.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <random>

#include "cli/ImageText.h"
#include "cli/Platform.h"
#include "engine/FrameTrace.h"
#include "engine/VantorBootloader.h"
#include "station/PortIdentity.h"
#include "support/Exception.h"
#include "support/Files.h"

namespace {
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

    // Waits for the end of the work item; throws its error.
    void wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        ended_.wait(lock, [&] { return done_; });
        done_ = false;
        if (!error_.empty()) {
            throw Exception("%s", error_.c_str());
        }
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

// Reads the flash back and compares it with the body as sent. A bootloader that keeps the
// body decrypted passes too, when the first `length` bytes carry the header's body digest.
void verifyUpload(VantorBootloader& engine, CliListener& listener, const std::string& imageFile,
                  const FirmwareImageInfo& image) {
    // The read-back's file, removed on every way out.
    struct Scratch {
        ~Scratch() {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
        std::filesystem::path path;
    } scratch{std::filesystem::temp_directory_path() /
              ("ostraloader-verify-" + std::to_string(std::random_device()()) + ".bin")};
    engine.ReadFlash(scratch.path.u8string());
    listener.wait();
    const std::vector<uint8_t> flash = readAll(scratch.path.u8string());
    const int64_t at =
        flashDifference(flash, readAll(imageFile, kFirmwareHeaderSize), image.header);
    if (at >= 0) {
        throw Exception("verify failed: the flash differs from %s at body offset %lld (0x%llx)",
                        imageFile.c_str(), static_cast<long long>(at),
                        static_cast<unsigned long long>(at));
    }
}

bool olderThan(const FirmwareImageInfo& image, const StatusInfo& s) {
    return image.versionMajor != s.firmwareMajor ? image.versionMajor < s.firmwareMajor
                                                 : image.versionMinor < s.firmwareMinor;
}

// The image for the instrument's product. One named file is meant for the instrument, and
// is judged as it always was.
const Image& chooseImage(const CliOptions& o, const ImageSet& images, const StatusInfo& s) {
    if (images.singleFile()) {
        const Image& only = images.images().front();
        if (!o.forceProduct && only.info.deviceType != s.deviceType) {
            throw Refusal{kImageRefused, only.file + ": image is for " +
                                             productName(only.info.deviceType) +
                                             ", the instrument is a " + productName(s.deviceType)};
        }
        return only;
    }
    const Image* image = images.forProduct(s.deviceType);
    if (image == nullptr) {
        throw Refusal{kImageRefused,
                      "the instrument is a " + std::string(productName(s.deviceType)) +
                          " and no image is for it: the images are for " + images.products()};
    }
    return *image;
}

void upload(const CliOptions& o, const Image& chosen, VantorBootloader& engine,
            CliListener& listener, Reporter& out, const StatusInfo& s) {
    const FirmwareImageInfo& image = chosen.info;
    if (!o.allowDowngrade && s.firmwareLoaded() && olderThan(image, s)) {
        throw Refusal{
            kImageRefused,
            chosen.file + ": image version " + versionText(image.versionMajor, image.versionMinor) +
                " is older than firmware " + versionText(s.firmwareMajor, s.firmwareMinor) +
                " loaded in the instrument\n--allow-downgrade lets it through."};
    }
    engine.UploadFirmware(chosen.file);
    listener.wait();
    out.event("Firmware uploaded successfully", {{"event", "finished"}, {"operation", "upload"}});
    if (o.verify) {
        verifyUpload(engine, listener, chosen.file, image);
        out.event("Firmware verified", {{"event", "finished"}, {"operation", "verify"}});
    }
    if (o.runAfter) {
        engine.RunFirmware();
        engine.Disconnect();
        out.event("Firmware uploaded and started", {{"event", "finished"}, {"operation", "run"}});
    }
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

void RecordKeeper::begin(int attempt) {
    std::lock_guard<std::mutex> lock(mutex_);
    record_ = ServiceRecord();
    record_.attempt = attempt;
    record_.startedAt = static_cast<int64_t>(std::time(nullptr));
    start_ = std::chrono::steady_clock::now();
    claimed_ = false;
}

double RecordKeeper::seconds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

ServiceRecord RecordKeeper::interrupted() const {
    const double took = seconds();
    std::lock_guard<std::mutex> lock(mutex_);
    ServiceRecord record = record_;
    record.error = "interrupted";
    record.hint.clear();
    record.exitCode = kDeviceFailed;
    record.seconds = took;
    return record;
}

ServiceRecord RecordKeeper::record() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return record_;
}

bool RecordKeeper::claim() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !std::exchange(claimed_, true);
}

int serviceInstrument(const CliOptions& o, const std::string& port, const ImageSet& images,
                      Reporter& out, RecordKeeper& keeper) {
    keeper.update([&](ServiceRecord& record) {
        record.port = port;
        record.command = o.command;
        if (o.command == "upload" && images.singleFile()) {
            record.imageFile = images.images().front().file;
            record.image = images.images().front().info;
        }
    });
    CliListener listener(out);
    VantorBootloader engine(&listener);
    if (o.trace) {
        engine.SetFrameTrace([](bool outgoing, const uint8_t* wire, size_t size) {
            std::fprintf(stderr, "%s %s\n", outgoing ? "->" : "<-",
                         describeFrame(wire, size).c_str());
        });
    }
    // The message and its hint (the report's further line), shown and kept.
    const auto fail = [&](int failure, const std::string& report) {
        out.error(report);
        const size_t cut = report.find('\n');
        keeper.update([&](ServiceRecord& record) {
            record.error = report.substr(0, cut);
            record.hint = cut == std::string::npos ? "" : report.substr(cut + 1);
        });
        return failure;
    };
    int code = kOk;
    try {
        const PortInfo resolved = resolvePortIdentity(port, selfPath());
        keeper.update([&](ServiceRecord& record) {
            record.device = resolved.device;
            record.serial = resolved.serial;
        });
        engine.Connect(resolved.name);
        if (!o.route.empty()) {
            try {
                engine.SetRoutePath(o.route);
                engine.RequestStatus();
            } catch (const Exception&) {
                engine.ClearRoute();
                throw;
            }
        }
        const std::string where = resolved.name == port ? port : port + " (" + resolved.name + ")";
        out.event("Connected to " + where + (o.route.empty() ? "" : " through route " + o.route),
                  {{"event", "connected"},
                   {"port", port},
                   {"device", resolved.device},
                   {"serial", resolved.serial},
                   {"route", o.route}});
        const StatusInfo s = engine.Status();
        keeper.update([&](ServiceRecord& record) { record.before = s; });
        // Shown for status; the state before, for tools, with every command.
        out.event(o.command == "status" ? statusText(s) : "", statusJson(s));
        if (o.command == "run") {
            engine.RunFirmware();
            engine.Disconnect();
            out.event("Firmware running", {{"event", "finished"}, {"operation", "run"}});
        } else if (o.command == "upload") {
            const Image& chosen = chooseImage(o, images, s);
            keeper.update([&](ServiceRecord& record) {
                record.imageFile = chosen.file;
                record.image = chosen.info;
            });
            nlohmann::json j = imageJson(chosen.info);
            j["file"] = chosen.file;
            out.event(images.singleFile()
                          ? ""
                          : "Image for " + std::string(deviceStatusName(s.deviceType)) + ": " +
                                chosen.file,
                      j);
            upload(o, chosen, engine, listener, out, s);
        } else if (o.command == "read") {
            engine.ReadFlash(o.stationCopy ? readFileFor(o.file, port, resolved.serial) : o.file);
            listener.wait();
            out.event("Firmware successfully read", {{"event", "finished"}, {"operation", "read"}});
        } else if (o.command == "erase") {
            engine.EraseFlash();
            listener.wait();
            out.event("Firmware successfully erased",
                      {{"event", "finished"}, {"operation", "erase"}});
        }
        if (engine.IsConnected()) {
            const StatusInfo after = engine.Status();
            keeper.update([&](ServiceRecord& record) { record.after = after; });
            engine.Disconnect();
        }
    } catch (const Refusal& r) {
        code = fail(r.code, r.message);
    } catch (const Exception& e) {
        code = fail(kDeviceFailed, e.report());
    }
    const double took = keeper.seconds();
    keeper.update([&](ServiceRecord& record) {
        record.exitCode = code;
        record.seconds = took;
    });
    return code;
}
