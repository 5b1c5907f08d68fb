#include "tests/TestSupport.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>

TempDir::TempDir() {
    char pattern[] = "/tmp/ostra-test-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir_ = pattern;
}

TempDir::~TempDir() {
    if (DIR* dir = ::opendir(dir_.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                ::unlink(path(name).c_str());
            }
        }
        ::closedir(dir);
    }
    ::rmdir(dir_.c_str());
}

std::string developmentKey(int deviceType) {
    return std::string(OSTRA_SOURCE_DIR) + "/keys/development-only/product" +
           std::to_string(deviceType) + ".pem";
}

std::vector<uint8_t> randomBody(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> body(size);
    for (auto& b : body) {
        b = static_cast<uint8_t>(rng());
    }
    return body;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        throw std::runtime_error("cannot write " + path);
    }
    std::fclose(f);
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        throw std::runtime_error("cannot read " + path);
    }
    int c;
    while ((c = std::fgetc(f)) != EOF) {
        bytes.push_back(static_cast<uint8_t>(c));
    }
    std::fclose(f);
    return bytes;
}

int openDescriptorCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) {
            ++count;
        }
        ::closedir(dir);
    }
    return count;
}

void RecordingListener::add(const std::string& event) {
    if (onEvent) {
        onEvent(event);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
    changed_.notify_all();
}

void RecordingListener::OnUploadStarted(const char* path, int32_t pages) {
    add("UploadStarted " + std::string(path) + " " + std::to_string(pages));
}

void RecordingListener::OnUploadProgress(int32_t pagesDone) {
    add("UploadProgress " + std::to_string(pagesDone));
}

void RecordingListener::OnReadStarted(const char* path, int32_t size, int32_t pages) {
    add("ReadStarted " + std::string(path) + " " + std::to_string(size) + " " +
        std::to_string(pages));
}

void RecordingListener::OnReadProgress(int32_t pagesDone) {
    add("ReadProgress " + std::to_string(pagesDone));
}

void RecordingListener::OnEraseTick() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++ticks_;
}

bool RecordingListener::waitForEnd(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
        for (const std::string& e : events_) {
            if (e.find("Finished") != std::string::npos || e.rfind("Error", 0) == 0) {
                return true;
            }
        }
        return false;
    });
}

std::vector<std::string> RecordingListener::events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

int RecordingListener::ticks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ticks_;
}

void RecordingListener::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
    ticks_ = 0;
}
