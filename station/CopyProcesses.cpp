#include "station/CopyProcesses.h"

#include "support/Exception.h"

CopyProcesses::CopyProcesses(std::string program) : program_(std::move(program)) {}

CopyProcesses::~CopyProcesses() {
    std::map<size_t, Child> children;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        children.swap(children_);
    }
    for (auto& [number, child] : children) {
        if (child.program) {
            child.program->terminate();
        }
    }
    for (auto& [number, child] : children) {
        if (child.reader.joinable()) {
            child.reader.join();
        }
    }
}

void CopyProcesses::post(CopyMessage message) {
    std::lock_guard<std::mutex> lock(mutex_);
    inbox_.push_back(std::move(message));
    arrived_.notify_one();
}

size_t CopyProcesses::start(const CopyOrder& order, const std::string& port) {
    return startWith(serviceArguments(order, port));
}

size_t CopyProcesses::startWith(const std::vector<std::string>& args) {
    std::unique_ptr<ChildProgram> program;
    std::string error;
    try {
        program = startChild(program_, args);
    } catch (const Exception& e) {
        error = e.text();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t copy = next_++;
    Child& child = children_[copy];
    if (!program) {
        inbox_.push_back(
            {copy, false, CopyEvent::error(Problem(kDeviceFailed, error)), ChildExit{}});
        inbox_.push_back({copy, true, CopyEvent{}, ChildExit{}});
        arrived_.notify_one();
        return copy;
    }
    child.program = std::move(program);
    ChildProgram* running = child.program.get();
    child.reader = std::thread([this, copy, running] {
        for (std::string line; running->readLine(line);) {
            post({copy, false, readEvent(line), ChildExit{}});
        }
        post({copy, true, CopyEvent{}, running->wait()});
    });
    return copy;
}

bool CopyProcesses::next(CopyMessage& message, Clock::time_point until) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait_until(lock, until, [&] { return !inbox_.empty() || woken_; });
        woken_ = false;
        if (inbox_.empty()) {
            return false;
        }
        message = std::move(inbox_.front());
        inbox_.pop_front();
    }
    if (message.ended) {
        release(message.copy);
    }
    return true;
}

void CopyProcesses::release(size_t copy) {
    Child child;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = children_.find(copy);
        if (it == children_.end()) {
            return;
        }
        child = std::move(it->second);
        children_.erase(it);
    }
    if (child.reader.joinable()) {
        child.reader.join();  // it posted its end, its last act
    }
    child.program.reset();  // the pipe closed, the process reaped
}

void CopyProcesses::wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
    arrived_.notify_one();
}

void CopyProcesses::terminate(size_t copy) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = children_.find(copy);
    if (it != children_.end() && it->second.program) {
        it->second.program->terminate();
    }
}

size_t CopyProcesses::running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return children_.size();
}

std::vector<int> runCopies(const std::string& program,
                           const std::vector<std::vector<std::string>>& argLists,
                           const std::function<void(size_t, const CopyEvent&)>& onEvent) {
    std::vector<int> codes(argLists.size(), 1);
    CopyProcesses copies(program);
    for (const std::vector<std::string>& args : argLists) {
        copies.startWith(args);
    }
    CopyMessage m;
    while (copies.running() > 0) {
        if (!copies.next(m, CopyRunner::Clock::now() + std::chrono::hours(1))) {
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
