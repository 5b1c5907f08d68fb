#include "cli/ImageText.h"

#include "support/Text.h"

std::string imageText(const FirmwareImageInfo& info) {
    if (info.verdict != FirmwareImageInfo::Verdict::Intact) {
        return info.verdictText();
    }
    return "Product             " + std::string(productName(info.deviceType)) +
           "\nFirmware version    " + versionText(info.versionMajor, info.versionMinor) + " " +
           firmwareFlagsText(info.flags) + "\nBuild number        " + std::to_string(info.build) +
           "\nBuild timestamp     " + formatCalendarTime(firmwareBuildTime(info.timestamp)) +
           "\nLength              " + std::to_string(info.length) + " bytes";
}

void showImages(const ImageSet& images, Reporter& out) {
    if (images.singleFile()) {
        const Image& only = images.images()[0];
        nlohmann::json j = imageFields(only.info);
        j["event"] = "image";
        out.event(imageText(only.info), j);
        return;
    }
    for (const Image& image : images.images()) {
        out.event(pad(productName(image.info.deviceType), 12) +
                      versionText(image.info.versionMajor, image.info.versionMinor) + "  build " +
                      std::to_string(image.info.build) + "  " + image.file,
                  eventJson(CopyEvent::imageOf(image.file, image.info)));
    }
    for (const auto& [file, verdict] : images.skipped()) {
        out.event("skipped, not an intact image (" + verdict + "): " + file,
                  {{"event", "skipped"}, {"file", file}, {"verdict", verdict}});
    }
}
