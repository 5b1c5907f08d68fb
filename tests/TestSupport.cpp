#include "tests/TestSupport.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <stdexcept>

TempDir::TempDir() {
    char pattern[] = "/tmp/ostra-test-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

std::string developmentKey(int deviceType) {
    return std::string(OSTRA_SOURCE_DIR) + "/keys/development-only/product" +
           std::to_string(deviceType) + ".pem";
}

std::vector<nlohmann::json> jsonLines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(nlohmann::json::parse(line));
    return lines;
}

std::vector<nlohmann::json> reportLines(const std::string& path) {
    std::error_code missing;
    if (!std::filesystem::exists(path, missing))
        return {};
    const std::vector<uint8_t> text = readFileBytes(path);
    return jsonLines(std::string(text.begin(), text.end()));
}

std::vector<std::string> recordFields(const std::string& path,
                                      std::initializer_list<const char*> keys, bool inOrder) {
    std::vector<std::string> all;
    for (const nlohmann::json& record : reportLines(path)) {
        std::string fields;
        for (const char* key : keys) {
            const nlohmann::json value = record.value(key, nlohmann::json());
            fields += (fields.empty() ? "" : " ") + (value.is_null()     ? "-"
                                                     : value.is_string() ? value.get<std::string>()
                                                                         : value.dump());
        }
        all.push_back(fields);
    }
    if (!inOrder)
        std::sort(all.begin(), all.end());
    return all;
}
