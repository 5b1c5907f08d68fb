#pragma once
// An image as the command line shows it: the check's fields, for people and in JSON.
#include <string>

#include <nlohmann/json.hpp>

#include "image/FirmwareImage.h"

// The "image" event: verdict, and for an intact image its product, version, flags, build,
// build time and length.
nlohmann::json imageJson(const FirmwareImageInfo& info);
// The same as lines of "Field    value", or the verdict alone.
std::string imageText(const FirmwareImageInfo& info);
