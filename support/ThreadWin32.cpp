// Threads on Windows: CreateThread, one thread-local storage slot for the whole process,
// and asynchronous procedure calls as the message queue.
//
// The object keeps its thread handle open until the next start or its destruction, so
// that posting to an ended thread reads its exit code from a live handle and is refused,
// instead of touching a handle that the thread had already released.
#include <windows.h>

#include "support/Exception.h"
#include "support/Thread.h"

namespace {
DWORD g_slot = TLS_OUT_OF_INDEXES;

DWORD WINAPI threadEntry(LPVOID parameter) {
    Thread* object = static_cast<Thread*>(parameter);
    ::TlsSetValue(g_slot, object);
    object->run();
    return 0;
}

HANDLE asHandle(ThreadHandle h) {
    return reinterpret_cast<HANDLE>(h);
}
}  // namespace

Thread::Thread() {
    if (g_slot == TLS_OUT_OF_INDEXES) {
        const DWORD slot = ::TlsAlloc();
        if (slot == TLS_OUT_OF_INDEXES) {
            throw Exception("TlsAlloc failed");
        }
        g_slot = slot;
    }
}

Thread::~Thread() {
    if (const ThreadHandle h = handle_.exchange(0)) {
        ::CloseHandle(asHandle(h));
    }
}

Thread* Thread::current() {
    return g_slot == TLS_OUT_OF_INDEXES ? nullptr : static_cast<Thread*>(::TlsGetValue(g_slot));
}

ThreadHandle Thread::start(bool wait, uint32_t timeout) {
    HANDLE h = ::CreateThread(nullptr, 0, threadEntry, this, 0, nullptr);
    if (h == nullptr) {
        throw Exception("Could not create thread, error: %d", static_cast<int>(::GetLastError()));
    }
    if (const ThreadHandle previous = handle_.exchange(reinterpret_cast<ThreadHandle>(h))) {
        ::CloseHandle(asHandle(previous));
    }
    if (!wait) {
        return reinterpret_cast<ThreadHandle>(h);
    }
    return static_cast<ThreadHandle>(::WaitForSingleObject(h, timeout));
}

void Thread::stop(bool wait, uint32_t timeout) {
    const ThreadHandle h = handle_.load();
    if (wait && h != 0) {
        ::WaitForSingleObject(asHandle(h), timeout);
    }
}

bool Thread::post(uint32_t message) {
    return postTo(handle_.load(), message);
}

static VOID CALLBACK messageRoutine(ULONG_PTR parameter) {
    // Runs on the target thread during one of its alertable waits.
    Thread::deliver(static_cast<uint32_t>(parameter));
}

bool Thread::postTo(ThreadHandle thread, uint32_t message) {
    DWORD exitCode = 0;
    if (thread == 0 || !::GetExitCodeThread(asHandle(thread), &exitCode)) {
        throw Exception("can't get status of thread");
    }
    if (exitCode != STILL_ACTIVE) {
        throw Exception("Thread with handle 0x%x is not running", static_cast<unsigned>(thread));
    }
    if (::QueueUserAPC(messageRoutine, asHandle(thread), message)) {
        return true;
    }
    if (const DWORD error = ::GetLastError()) {
        throw Exception("send APC msg failed, error: %d", static_cast<int>(error));
    }
    return false;
}

void Thread::deliver(uint32_t message) {
    if (Thread* target = current()) {
        target->lastMessage = message;
        target->onMessage(message);
    }
}

uint32_t Thread::waitMessage(uint32_t timeout) {
    lastMessage = 0;
    for (;;) {
        if (::SleepEx(timeout, TRUE) != WAIT_IO_COMPLETION) {
            return 0;
        }
        if (lastMessage != 0) {
            return lastMessage;
        }
    }
}

void Thread::onMessage(uint32_t) {}
