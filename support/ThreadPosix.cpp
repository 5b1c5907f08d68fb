// Threads on POSIX: each started thread has a mailbox that stands in for the platform's
// queue of asynchronous procedure calls. Handles are sequence numbers looked up in a
// registry, so an ended thread's handle refers to nothing that could be released twice.
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "support/Exception.h"
#include "support/Thread.h"
#include "support/TickClock.h"

namespace {
struct Mailbox {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<uint32_t> messages;
    bool ended = false;
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<ThreadHandle, std::shared_ptr<Mailbox>> running;
    ThreadHandle lastIssued = 0;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

thread_local Thread* t_current = nullptr;
thread_local std::shared_ptr<Mailbox> t_mailbox;

// Waits on `box` until `done` holds or the deadline passes; returns done().
template <typename Done>
bool waitUntil(std::unique_lock<std::mutex>& lock, Mailbox& box, const Deadline& deadline,
               Done done) {
    while (!done()) {
        const uint32_t ms = deadline.msUntilPassed();
        if (ms == Deadline::kNever) {
            box.changed.wait(lock);
        } else if (ms == 0) {
            return false;
        } else {
            box.changed.wait_for(lock, std::chrono::milliseconds(ms));
        }
    }
    return true;
}

std::shared_ptr<Mailbox> find(ThreadHandle handle) {
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    const auto it = reg.running.find(handle);
    return it == reg.running.end() ? nullptr : it->second;
}

void threadEntry(Thread* object, ThreadHandle handle, std::shared_ptr<Mailbox> box) {
    t_current = object;
    t_mailbox = box;
    object->run();
    {
        Registry& reg = registry();
        std::lock_guard<std::mutex> lock(reg.mutex);
        reg.running.erase(handle);
    }
    std::lock_guard<std::mutex> lock(box->mutex);
    box->ended = true;
    box->changed.notify_all();
}

ThreadHandle waitForEnd(ThreadHandle handle, uint32_t timeout) {
    const std::shared_ptr<Mailbox> box = find(handle);
    if (!box) {
        return Thread::kWaitEnded;
    }
    const Deadline deadline(timeout);
    std::unique_lock<std::mutex> lock(box->mutex);
    return waitUntil(lock, *box, deadline, [&] { return box->ended; }) ? Thread::kWaitEnded
                                                                       : Thread::kWaitTimedOut;
}
}  // namespace

Thread::Thread() = default;

Thread::~Thread() = default;

Thread* Thread::current() {
    return t_current;
}

ThreadHandle Thread::start(bool wait, uint32_t timeout) {
    auto box = std::make_shared<Mailbox>();
    Registry& reg = registry();
    ThreadHandle handle = 0;
    {
        std::lock_guard<std::mutex> lock(reg.mutex);
        handle = ++reg.lastIssued;
        reg.running.emplace(handle, box);
    }
    try {
        std::thread(threadEntry, this, handle, box).detach();
    } catch (const std::system_error& e) {
        std::lock_guard<std::mutex> lock(reg.mutex);
        reg.running.erase(handle);
        throw Exception("Could not create thread, error: %d", e.code().value());
    }
    handle_.store(handle);
    return wait ? waitForEnd(handle, timeout) : handle;
}

void Thread::stop(bool wait, uint32_t timeout) {
    if (wait) {
        waitForEnd(handle_.load(), timeout);
    }
}

bool Thread::post(uint32_t message) {
    return postTo(handle_.load(), message);
}

bool Thread::postTo(ThreadHandle thread, uint32_t message) {
    Registry& reg = registry();
    std::shared_ptr<Mailbox> box;
    {
        std::lock_guard<std::mutex> lock(reg.mutex);
        if (thread == 0 || thread > reg.lastIssued) {
            throw Exception("can't get status of thread");
        }
        const auto it = reg.running.find(thread);
        if (it == reg.running.end()) {
            throw Exception("Thread with handle 0x%x is not running",
                            static_cast<unsigned>(thread));
        }
        box = it->second;
    }
    std::lock_guard<std::mutex> lock(box->mutex);
    box->messages.push_back(message);
    box->changed.notify_all();
    return true;
}

void Thread::deliver(uint32_t message) {
    Thread* target = t_current;
    if (target != nullptr) {
        target->lastMessage = message;
        target->onMessage(message);
    }
}

uint32_t Thread::waitMessage(uint32_t timeout) {
    lastMessage = 0;
    if (!t_mailbox) {
        // Not a thread of ours: nothing can be posted here, so this is a plain sleep.
        t_mailbox = std::make_shared<Mailbox>();
    }
    Mailbox& box = *t_mailbox;
    for (;;) {
        const Deadline deadline(timeout);
        std::unique_lock<std::mutex> lock(box.mutex);
        if (!waitUntil(lock, box, deadline, [&] { return !box.messages.empty(); })) {
            return 0;
        }
        while (!box.messages.empty()) {
            const uint32_t message = box.messages.front();
            box.messages.pop_front();
            lock.unlock();
            deliver(message);
            lock.lock();
        }
        if (lastMessage != 0) {
            return lastMessage;
        }
    }
}

void Thread::onMessage(uint32_t) {}
