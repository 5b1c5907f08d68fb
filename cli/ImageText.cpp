#include "cli/ImageText.h"

#include "station/ServiceRecord.h"

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
