#include "tests/TestSupport.h"

#include <stdlib.h>

#include <filesystem>
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
