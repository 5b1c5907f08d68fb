#pragma once
// Shared helpers of the test programs: temporary folders, signed images made with the
// development keys, and a listener that records the engine's events.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/VantorBootloaderEventListener.h"
#include "tests/TestHelpers.h"

// A fresh folder under the system's temporary folder, removed with its files.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

  private:
    std::string dir_;
};

std::string developmentKey(int deviceType);
std::vector<uint8_t> randomBody(size_t size, uint32_t seed);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readFile(const std::string& path);
// Number of open file descriptors of this process.
int openDescriptorCount();

// Records every event as text ("UploadStarted path 3", "Error text", ...).
class RecordingListener : public VantorBootloaderEventListener {
  public:
    void OnConnected() override { add("Connected"); }
    void OnDisconnected() override { add("Disconnected"); }
    void OnUploadStarted(const char* path, int32_t pages) override;
    void OnUploadProgress(int32_t pagesDone) override;
    void OnUploadFinished() override { add("UploadFinished"); }
    void OnReadStarted(const char* path, int32_t size, int32_t pages) override;
    void OnReadProgress(int32_t pagesDone) override;
    void OnReadFinished() override { add("ReadFinished"); }
    void OnEraseStarted() override { add("EraseStarted"); }
    void OnEraseTick() override;
    void OnEraseFinished() override { add("EraseFinished"); }
    void OnError(const char* message) override { add(std::string("Error ") + message); }

    // Waits until an event ending a work item (finished or error) has come; false on
    // time-out.
    bool waitForEnd(std::chrono::milliseconds limit = std::chrono::seconds(60));
    std::vector<std::string> events() const;
    int ticks() const;
    void clear();
    // Called inside every event with the engine's busy flag, when set.
    std::function<void(const std::string&)> onEvent;

  private:
    void add(const std::string& event);
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    int ticks_ = 0;
};
