#pragma once
// Shared helpers of the test programs: temporary folders and keys. Files are read and
// written with the image tool's readFileBytes and writeFileBytes.
#include <string>

#include "tests/TestHelpers.h"
#include "tools/ImageSigner.h"

// A fresh folder under the system's temporary folder, removed with its files.
struct TempDir {
    TempDir();
    ~TempDir();
    std::string path(const std::string& name) const { return dir + "/" + name; }
    std::string dir;
};

std::string developmentKey(int deviceType);
