#include "tests/TestSupport.h"

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <stdexcept>

#include "support/TickClock.h"

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

int openDescriptorCount() {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(begin(fds), end(fds)));
}

namespace {
std::atomic<uint32_t> g_factor{1};
const auto g_origin = std::chrono::steady_clock::now();
uint32_t fastTicks() {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - g_origin);
    return static_cast<uint32_t>(static_cast<uint64_t>(us.count()) * g_factor.load() / 1000);
}
}  // namespace

FastClock::FastClock(uint32_t factor) {
    g_factor.store(factor);
    setTickSource(&fastTicks);
}

FastClock::~FastClock() {
    setTickSource(nullptr);
}

void RecordingListener::add(const std::string& event) {
    if (onEvent) {
        onEvent(event);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
    at_.push_back(tickCount());
    changed_.notify_all();
}

void RecordingListener::OnEraseTick() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++ticks_;
}

bool RecordingListener::waitForEnd(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
        return std::any_of(events_.begin(), events_.end(), [](const std::string& e) {
            return e.find("Finished") != std::string::npos || e.rfind("Error", 0) == 0;
        });
    });
}

std::vector<std::string> RecordingListener::events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::vector<uint32_t> RecordingListener::ticksAt() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return at_;
}

int RecordingListener::ticks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ticks_;
}

void RecordingListener::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
    at_.clear();
    ticks_ = 0;
}
