#include "station/ImageSet.h"

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "support/Problem.h"
#include "support/Text.h"

namespace fs = std::filesystem;

namespace {
bool newer(const FirmwareImageInfo& a, const FirmwareImageInfo& b) {
    return std::make_tuple(a.versionMajor, a.versionMinor, a.build) >
           std::make_tuple(b.versionMajor, b.versionMinor, b.build);
}

// The folder's files (not its sub-folders, nor hidden files), by name.
std::vector<std::string> folderFiles(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (fs::directory_iterator it(fs::u8path(folder), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().u8string();
        if (!name.empty() && name[0] != '.' && it->is_regular_file(error)) {
            files.push_back(it->path().u8string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}
}  // namespace

ImageSet ImageSet::load(const std::vector<std::string>& paths) {
    ImageSet set;
    std::vector<Image> named, found;
    for (const std::string& path : paths) {
        std::error_code error;
        if (!fs::is_directory(fs::u8path(path), error)) {
            Image image{path, examineFirmwareImage(path)};
            if (image.info.verdict != FirmwareImageInfo::Verdict::Intact) {
                throw Problem(kImageRefused, path + ": " + image.info.verdictText());
            }
            for (const Image& other : named) {
                if (other.info.deviceType == image.info.deviceType) {
                    throw Problem(kUsage,
                                  other.file + " and " + path + " are both images for " +
                                      productName(image.info.deviceType),
                                  "Name one image per product.");
                }
            }
            named.push_back(image);
            continue;
        }
        for (const std::string& file : folderFiles(path)) {
            Image image{file, examineFirmwareImage(file)};
            if (image.info.verdict == FirmwareImageInfo::Verdict::Intact) {
                found.push_back(image);
            } else {
                set.skipped_.emplace_back(file, image.info.verdictText());
            }
        }
    }
    // A named file is the one meant for its product; a folder offers its newest.
    set.images_ = named;
    for (const Image& image : found) {
        auto same = std::find_if(set.images_.begin(), set.images_.end(), [&](const Image& i) {
            return i.info.deviceType == image.info.deviceType;
        });
        if (same == set.images_.end()) {
            set.images_.push_back(image);
        } else if (same - set.images_.begin() >= static_cast<long>(named.size()) &&
                   newer(image.info, same->info)) {
            *same = image;
        }
    }
    if (set.images_.empty()) {
        throw Problem(kImageRefused, joinTexts(paths) + ": no intact image");
    }
    std::sort(set.images_.begin(), set.images_.end(),
              [](const Image& a, const Image& b) { return a.info.deviceType < b.info.deviceType; });
    set.singleFile_ = paths.size() == 1 && named.size() == 1;
    return set;
}

const Image* ImageSet::forProduct(DeviceType product) const {
    for (const Image& image : images_) {
        if (image.info.deviceType == product) {
            return &image;
        }
    }
    return nullptr;
}

std::string ImageSet::products() const {
    std::vector<std::string> names;
    for (const Image& image : images_) {
        names.emplace_back(productName(image.info.deviceType));
    }
    return joinTexts(names);
}
