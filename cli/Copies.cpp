#include "cli/Copies.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/Platform.h"
#include "support/Exception.h"

namespace {
// Lines from the readers, handed to the calling thread.
struct Inbox {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<std::pair<size_t, nlohmann::json>> events;
    size_t running = 0;

    void post(size_t copy, nlohmann::json event) {
        std::lock_guard<std::mutex> lock(mutex);
        events.emplace_back(copy, std::move(event));
        arrived.notify_one();
    }
    void ended() {
        std::lock_guard<std::mutex> lock(mutex);
        --running;
        arrived.notify_one();
    }
};

nlohmann::json parseLine(const std::string& line) {
    nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        return {{"event", "text"}, {"text", line}};
    }
    return j;
}
}  // namespace

std::vector<int> runCopies(const std::vector<std::vector<std::string>>& argLists,
                           const std::function<void(size_t, const nlohmann::json&)>& onEvent) {
    const std::string self = selfPath();
    std::vector<int> codes(argLists.size(), 1);
    std::vector<std::unique_ptr<ChildProgram>> children(argLists.size());
    Inbox inbox;
    std::vector<std::thread> readers;
    for (size_t i = 0; i < argLists.size(); ++i) {
        try {
            children[i] = startChild(self, argLists[i]);
        } catch (const Exception& e) {
            inbox.post(i, {{"event", "error"}, {"message", e.text()}});
            continue;
        }
        {
            // Under the lock: a reader started earlier may be ending meanwhile.
            std::lock_guard<std::mutex> lock(inbox.mutex);
            ++inbox.running;
        }
        readers.emplace_back([&inbox, &children, &codes, i] {
            for (std::string line; children[i]->readLine(line);) {
                inbox.post(i, parseLine(line));
            }
            codes[i] = children[i]->wait();
            inbox.ended();
        });
    }
    std::unique_lock<std::mutex> lock(inbox.mutex);
    for (;;) {
        inbox.arrived.wait(lock, [&] { return !inbox.events.empty() || inbox.running == 0; });
        if (inbox.events.empty()) {
            break;
        }
        const auto [copy, event] = std::move(inbox.events.front());
        inbox.events.pop_front();
        lock.unlock();
        onEvent(copy, event);
        lock.lock();
    }
    lock.unlock();
    for (std::thread& reader : readers) {
        reader.join();
    }
    return codes;
}
