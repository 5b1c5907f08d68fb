#pragma once
// Images as the command line shows them: one image's check for people, and the images an
// upload will use.
#include <string>

#include "cli/Reporter.h"
#include "image/FirmwareImage.h"
#include "station/ImageSet.h"

// The check's fields as lines of "Field    value", or the verdict alone.
std::string imageText(const FirmwareImageInfo& info);
// One named file as the check shows it; several, or a folder's, a line each, and the files
// of a folder that were passed over.
void showImages(const ImageSet& images, Reporter& out);
