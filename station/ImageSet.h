#pragma once
// The images an upload may use, one per product, each checked once before anything is
// sent: named files, and folders in which the newest intact image of each product wins
// (version, then build). Every instrument gets the image for its own product.
#include <string>
#include <utility>
#include <vector>

#include "image/FirmwareImage.h"

struct Image {
    std::string file;
    FirmwareImageInfo info;
};

class ImageSet {
  public:
    // Throws a Problem: a named file that is not an intact image (exit code 3), two named
    // files for one product (2), no intact image at all (3).
    static ImageSet load(const std::vector<std::string>& paths);

    // The image for this product; nullptr when none is.
    const Image* forProduct(DeviceType product) const;
    // One per product, in product order.
    const std::vector<Image>& images() const { return images_; }
    // Files of the folders that are not intact images, with their verdict.
    const std::vector<std::pair<std::string, std::string>>& skipped() const { return skipped_; }
    // "Solvar CU, Tamrik 3".
    std::string products() const;
    // One file named, no folder: a refusal names the image's product, as it always did.
    bool singleFile() const { return singleFile_; }

  private:
    std::vector<Image> images_;
    std::vector<std::pair<std::string, std::string>> skipped_;
    bool singleFile_ = false;
};
