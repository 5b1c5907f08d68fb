#pragma once
// What the engine tells its owner. Work-item events come on the worker thread,
// synchronously; text arguments are valid only during the call. Exactly one started
// event, progress or ticks, then either the finished event or OnError, never both.
#include <cstdint>

class VantorBootloaderEventListener {
  public:
    virtual void OnConnected() = 0;
    virtual void OnDisconnected() = 0;
    virtual void OnUploadStarted(const char* path, int32_t pages) = 0;
    virtual void OnUploadProgress(int32_t pagesDone) = 0;
    virtual void OnUploadFinished() = 0;
    virtual void OnReadStarted(const char* path, int32_t size, int32_t pages) = 0;
    virtual void OnReadProgress(int32_t pagesDone) = 0;
    virtual void OnReadFinished() = 0;
    virtual void OnEraseStarted() = 0;
    virtual void OnEraseTick() = 0;
    virtual void OnEraseFinished() = 0;
    virtual void OnError(const char* message) = 0;

  protected:
    // The engine never destroys its listener.
    ~VantorBootloaderEventListener() = default;
};

// A listener for an owner that starts no work item and has nothing to do on connecting
// (a route scan from the command line).
class NoWorkListener : public VantorBootloaderEventListener {
  public:
    void OnConnected() override {}
    void OnDisconnected() override {}
    void OnUploadStarted(const char*, int32_t) override {}
    void OnUploadProgress(int32_t) override {}
    void OnUploadFinished() override {}
    void OnReadStarted(const char*, int32_t, int32_t) override {}
    void OnReadProgress(int32_t) override {}
    void OnReadFinished() override {}
    void OnEraseStarted() override {}
    void OnEraseTick() override {}
    void OnEraseFinished() override {}
    void OnError(const char*) override {}
};
