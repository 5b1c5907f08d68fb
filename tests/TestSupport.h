#pragma once
// Shared helpers of the test programs: temporary folders, keys, a fast tick clock and a
// listener that records the engine's events. Files are read and written with the image
// tool's readFileBytes and writeFileBytes.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/VantorBootloaderEventListener.h"
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
int openDescriptorCount();

// While it lives, the tick clock runs `factor` times faster than real time, so that waits
// of seconds are measured in their own milliseconds at a fraction of the cost.
struct FastClock {
    explicit FastClock(uint32_t factor);
    ~FastClock();
};

// Records every event as text ("UploadStarted path 3", "Error text", ...), each with the
// tick count at which it came and, through onEvent, whatever the test looks at inside it.
class RecordingListener : public VantorBootloaderEventListener {
  public:
    void OnConnected() override { add("Connected"); }
    void OnDisconnected() override { add("Disconnected"); }
    void OnUploadStarted(const char* path, int32_t pages) override {
        add("UploadStarted " + std::string(path) + " " + std::to_string(pages));
    }
    void OnUploadProgress(int32_t done) override { add("UploadProgress " + std::to_string(done)); }
    void OnUploadFinished() override { add("UploadFinished"); }
    void OnReadStarted(const char* path, int32_t size, int32_t pages) override {
        add("ReadStarted " + std::string(path) + " " + std::to_string(size) + " " +
            std::to_string(pages));
    }
    void OnReadProgress(int32_t done) override { add("ReadProgress " + std::to_string(done)); }
    void OnReadFinished() override { add("ReadFinished"); }
    void OnEraseStarted() override { add("EraseStarted"); }
    void OnEraseTick() override;
    void OnEraseFinished() override { add("EraseFinished"); }
    void OnError(const char* message) override { add(std::string("Error ") + message); }

    // Waits until a finished or error event has come; false on time-out.
    bool waitForEnd(std::chrono::milliseconds limit = std::chrono::seconds(60));
    std::vector<std::string> events() const;
    std::vector<uint32_t> ticksAt() const;  // the tick count of each event
    int ticks() const;
    void clear();
    std::function<void(const std::string&)> onEvent;

  private:
    void add(const std::string& event);
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    std::vector<uint32_t> at_;
    int ticks_ = 0;
};
