#include "station/ServiceRecord.h"

#include <cstdlib>
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

nlohmann::json statusJson(const StatusInfo& s) {
    return {{"event", "status"},
            {"deviceType", s.deviceType},
            {"device", deviceStatusName(s.deviceType)},
            {"bootloader", versionText(s.bootloaderMajor, s.bootloaderMinor)},
            {"firmware", versionText(s.firmwareMajor, s.firmwareMinor)},
            {"firmwareTime", s.firmwareTime},
            {"firmwareSize", s.firmwareSize},
            {"loaded", s.firmwareLoaded()}};
}

StatusInfo statusFromJson(const nlohmann::json& event) {
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
        {"attempt", attempt},
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

std::string appendToReport(const std::string& path, const nlohmann::json& record) {
    const std::string error = appendToFile(path, record.dump() + "\n");
    return error.empty() ? "" : "cannot append to the report " + path + ": " + error;
}
