#include "cli/ServiceRecord.h"

#include <ctime>

#include "image/Sha256.h"
#include "support/Files.h"

namespace {
nlohmann::json versions(const std::optional<StatusInfo>& s, bool bootloader) {
    if (!s) {
        return nullptr;
    }
    return bootloader ? versionText(s->bootloaderMajor, s->bootloaderMinor)
                      : versionText(s->firmwareMajor, s->firmwareMinor);
}
}  // namespace

std::string versionText(int major, int minor) {
    return std::to_string(major) + "." + std::to_string(minor);
}

std::string isoUtc(int64_t seconds) {
    const time_t t = static_cast<time_t>(seconds);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &t);
#else
    gmtime_r(&t, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

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

nlohmann::json ServiceRecord::toJson() const {
    nlohmann::json j = {
        {"time", isoUtc(startedAt)},
        {"port", port},
        {"device", device},
        {"serial", serial.empty() ? nlohmann::json(nullptr) : nlohmann::json(serial)},
        {"deviceType", before ? nlohmann::json(deviceStatusName(before->deviceType)) : nullptr},
        {"bootloader", versions(before, true)},
        {"firmwareBefore", versions(before, false)},
        {"firmwareAfter", versions(after, false)},
        {"command", command},
        {"result", error.empty() ? "ok" : error},
        {"exit", exitCode},
        {"seconds", static_cast<double>(static_cast<int64_t>(seconds * 1000 + 0.5)) / 1000}};
    if (!hint.empty()) {
        j["hint"] = hint;
    }
    if (!imageFile.empty()) {
        nlohmann::json i = {{"file", imageFile}, {"sha256", fileSha256(imageFile)}};
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

std::string checkReportFile(const std::string& path) {
    const std::string error = appendToFile(path, "");
    return error.empty() ? ""
                         : "cannot append to the report " + path + ": " + error +
                               "\nName a file in a folder that exists and that this user may "
                               "write to.";
}

std::string appendRecord(const std::string& path, const ServiceRecord& record) {
    const std::string error = appendToFile(path, record.toJson().dump() + "\n");
    return error.empty() ? "" : "cannot append to the report " + path + ": " + error;
}
