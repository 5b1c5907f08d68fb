#include "station/ServiceRecord.h"

#include "image/Sha256.h"
#include "support/Files.h"
#include "support/Text.h"
#include "support/UtcTime.h"

const char* const kStationEndedFirst = "interrupted: the station ended before the instrument did";

namespace {
nlohmann::json versions(const std::optional<StatusInfo>& s, bool bootloader) {
    if (!s) {
        return nullptr;
    }
    return bootloader ? versionText(s->bootloaderMajor, s->bootloaderMinor)
                      : versionText(s->firmwareMajor, s->firmwareMinor);
}

nlohmann::json textOrNull(const std::string& text) {
    return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}
}  // namespace

std::string fileSha256(const std::string& path) {
    StdioFile file = openFile(path, "rb");
    if (!file) {
        return "";
    }
    Sha256Context context;
    Sha256Reset(&context);
    uint8_t chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;) {
        Sha256Input(&context, chunk, n);
    }
    if (std::ferror(file.get())) {
        return "";
    }
    uint8_t digest[kSha256DigestSize];
    Sha256Result(&context, digest);
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : digest) {
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
    }
    return hex;
}

ServiceRecord ServiceRecord::start(Command command, const std::string& port, int attempt,
                                   const ImageSet& images) {
    ServiceRecord record;
    record.startedAt = secondsNow();
    record.port = port;
    record.command = command;
    record.attempt = attempt;
    if (command == Command::Upload && images.singleFile()) {
        const Image& only = images.images().front();
        record.take(CopyEvent::imageOf(only.file, only.info));
    }
    return record;
}

void ServiceRecord::take(const CopyEvent& event) {
    switch (event.kind) {
        case CopyEvent::Kind::Connected:
            device = event.device;
            serial = event.serial;
            break;
        case CopyEvent::Kind::Status:
            if (!before) {  // the first status is the one before the command
                before = event.status;
            }
            break;
        case CopyEvent::Kind::Image:
            if (imageFile != event.file) {
                imageSha256 = fileSha256(event.file);
            }
            imageFile = event.file;
            image = event.image;
            break;
        case CopyEvent::Kind::Error:
            error = event.problem.message;
            hint = event.problem.hint;
            break;
        default:
            break;
    }
}

ServiceRecord ServiceRecord::endedWithout(const std::string& how, double took) const {
    ServiceRecord ended = *this;
    ended.error = how;
    ended.hint.clear();
    ended.exitCode = kDeviceFailed;
    ended.after.reset();
    ended.seconds = took;
    return ended;
}

nlohmann::json ServiceRecord::toJson() const {
    nlohmann::json j = {
        {"time", isoUtc(startedAt)},
        {"port", port},
        {"device", device},
        {"serial", textOrNull(serial)},
        {"deviceType", before ? nlohmann::json(deviceStatusName(before->deviceType)) : nullptr},
        {"bootloader", versions(before, true)},
        {"firmwareBefore", versions(before, false)},
        {"firmwareAfter", versions(after, false)},
        {"command", commandName(command)},
        {"attempt", attempt},
        {"result", error.empty() ? "ok" : error},
        {"exit", exitCode},
        {"seconds", seconds < 0 ? nlohmann::json(nullptr)
                                : nlohmann::json(static_cast<double>(
                                                     static_cast<int64_t>(seconds * 1000 + 0.5)) /
                                                 1000)}};
    if (!hint.empty()) {
        j["hint"] = hint;
    }
    const std::pair<const char*, const std::string*> kStation[] = {
        {"slot", &slot}, {"label", &label}, {"batch", &batch}, {"operator", &operatorName}};
    for (const auto& [field, value] : kStation) {
        if (!value->empty()) {
            j[field] = *value;
        }
    }
    if (!imageFile.empty()) {
        nlohmann::json i = {{"file", imageFile}, {"sha256", imageSha256}};
        if (image && image->verdict == FirmwareImageInfo::Verdict::Intact) {
            i.update({{"product", productName(image->deviceType)},
                      {"version", versionText(image->versionMajor, image->versionMinor)},
                      {"build", image->build},
                      {"length", image->length}});
        }
        j["image"] = i;
    }
    return j;
}
