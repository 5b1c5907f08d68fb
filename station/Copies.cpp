#include "station/Copies.h"

#include "support/Exception.h"

namespace {
nlohmann::json parseLine(const std::string& line) {
    nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        return {{"event", "text"}, {"text", line}};
    }
    return j;
}
}  // namespace

Copies::Copies(std::string program) : program_(std::move(program)) {}

Copies::~Copies() {
    for (const auto& child : children_) {
        if (child) {
            child->terminate();
        }
    }
    for (std::thread& reader : readers_) {
        reader.join();
    }
}

void Copies::post(Message message) {
    std::lock_guard<std::mutex> lock(mutex_);
    inbox_.push_back(std::move(message));
    arrived_.notify_one();
}

size_t Copies::start(const std::vector<std::string>& args) {
    const size_t copy = children_.size();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++running_;
    }
    try {
        children_.push_back(startChild(program_, args));
    } catch (const Exception& e) {
        children_.emplace_back();
        post({copy, false, {{"event", "error"}, {"message", e.text()}}, {}});
        post({copy, true, {}, {}});
        return copy;
    }
    ChildProgram* child = children_.back().get();
    readers_.emplace_back([this, copy, child] {
        for (std::string line; child->readLine(line);) {
            post({copy, false, parseLine(line), {}});
        }
        post({copy, true, {}, child->wait()});
    });
    return copy;
}

bool Copies::next(Message& message, Clock::time_point until) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_until(lock, until, [&] { return !inbox_.empty() || woken_; });
    woken_ = false;
    if (inbox_.empty()) {
        return false;
    }
    message = std::move(inbox_.front());
    inbox_.pop_front();
    if (message.ended) {
        --running_;
    }
    return true;
}

void Copies::wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
    arrived_.notify_one();
}

void Copies::terminate(size_t copy) {
    if (copy < children_.size() && children_[copy]) {
        children_[copy]->terminate();
    }
}

size_t Copies::running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

std::vector<int> runCopies(const std::string& program,
                           const std::vector<std::vector<std::string>>& argLists,
                           const std::function<void(size_t, const nlohmann::json&)>& onEvent) {
    std::vector<int> codes(argLists.size(), 1);
    Copies copies(program);
    for (const std::vector<std::string>& args : argLists) {
        copies.start(args);
    }
    Copies::Message m;
    while (copies.running() > 0) {
        if (!copies.next(m, Copies::Clock::now() + std::chrono::hours(1))) {
            continue;
        }
        if (m.ended) {
            codes[m.copy] = m.exit.code;
        } else {
            onEvent(m.copy, m.event);
        }
    }
    return codes;
}
