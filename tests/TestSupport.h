#pragma once
// Shared helpers of the test programs: temporary folders and keys. Files are read and
// written with the image tool's readFileBytes and writeFileBytes.
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

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

// Each line of `text` as JSON.
std::vector<nlohmann::json> jsonLines(const std::string& text);
// The report's lines, in the order written; none where it is not written yet.
std::vector<nlohmann::json> reportLines(const std::string& path);
// Each record of the report as the values of `keys` joined by blanks ("-" for one it
// lacks), sorted unless `inOrder`.
std::vector<std::string> recordFields(const std::string& path,
                                      std::initializer_list<const char*> keys,
                                      bool inOrder = false);
