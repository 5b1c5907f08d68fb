#pragma once
// Base of an object that runs its body once on a new thread of its own, with a small
// message facility: 32-bit messages posted to a running thread are handled there, in the
// order posted, at its next wait in waitMessage.
//
// The body MUST NOT let an exception escape run(). Posting to a thread that has ended is
// refused with "Thread with handle 0x%x is not running"; a handle this process never
// issued is refused with "can't get status of thread". No handle that was released is
// ever used again.
#include <atomic>
#include <cstdint>

using ThreadHandle = std::uintptr_t;

class Thread {
  public:
    static constexpr uint32_t kInfinite = 0xFFFFFFFFu;
    // Outcomes of start(true, ...), the platform's wait results.
    static constexpr ThreadHandle kWaitEnded = 0;
    static constexpr ThreadHandle kWaitTimedOut = 258;
    static constexpr ThreadHandle kWaitFailed = 0xFFFFFFFFu;

    Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    virtual void run() = 0;
    // Neither stops nor waits for the thread.
    virtual ~Thread();
    // Creates the thread. Returns its handle, or with wait the outcome of waiting up to
    // timeout ms for it to end.
    virtual ThreadHandle start(bool wait, uint32_t timeout);
    // With wait, waits up to timeout ms for the last started thread to end.
    virtual void stop(bool wait, uint32_t timeout);
    virtual bool post(uint32_t message);
    virtual bool postTo(ThreadHandle thread, uint32_t message);
    // On the object's own thread: handles posted messages; returns the last non-zero one,
    // or 0 when a whole timeout passed with none. Messages that all carry 0 restart the
    // wait with a fresh timeout.
    virtual uint32_t waitMessage(uint32_t timeout);
    virtual void onMessage(uint32_t message);

    // The object whose body runs on the calling thread, or nullptr.
    static Thread* current();
    ThreadHandle handle() const { return handle_.load(); }

    // The platform's message routine: delivers one message to the object whose body runs
    // on the calling thread.
    static void deliver(uint32_t message);

  protected:
    uint32_t lastMessage = 0;  // only touched on the object's own thread

  private:
    std::atomic<ThreadHandle> handle_{0};
};
