#include "tests/ScriptedStation.h"

#include <algorithm>

void ScriptedCopies::script(const std::string& port, std::vector<CopyScript> scripts) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (CopyScript& s : scripts)
        scripts_[port].push_back(std::move(s));
}

size_t ScriptedCopies::start(const CopyOrder& order, const std::string& port) {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t copy = started_.size();
    started_.push_back(port + " " + (order.probe ? "probe" : commandName(order.command)));
    CopyScript script;
    if (scripts_[port].empty()) {
        script.events = {CopyEvent::error(Problem(kDeviceFailed, "no script for " + port))};
        script.exit = 1;
    } else {
        script = scripts_[port].front();
        scripts_[port].pop_front();
    }
    for (const CopyEvent& event : script.events)
        inbox_.push_back({copy, false, event, ChildExit{}});
    if (script.held)
        held_[copy] = {port, script};
    else
        end(copy, port, script, false);
    changed_.notify_all();
    return copy;
}

void ScriptedCopies::end(size_t copy, const std::string& port, const CopyScript& script,
                         bool terminated) {
    const bool recorded = script.record && script.signal == 0 && !terminated;
    if (recorded) {
        const nlohmann::json record = {
            {"port", port}, {"result", script.result}, {"exit", script.exit}};
        inbox_.push_back({copy, false, CopyEvent::recordOf(record), ChildExit{}});
    }
    ChildExit exit;
    exit.code = recorded ? script.exit : 1;
    exit.signal = terminated ? 15 : script.signal;
    inbox_.push_back({copy, true, CopyEvent{}, exit});
    changed_.notify_all();
}

bool ScriptedCopies::next(CopyMessage& message, Clock::time_point until) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_until(lock, until, [&] { return !inbox_.empty() || woken_; });
    woken_ = false;
    if (inbox_.empty())
        return false;
    message = inbox_.front();
    inbox_.pop_front();
    return true;
}

void ScriptedCopies::wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
    changed_.notify_all();
}

void ScriptedCopies::terminate(size_t copy) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = held_.find(copy);
    if (it != held_.end()) {
        end(copy, it->second.first, it->second.second, true);
        held_.erase(it);
    }
}

void ScriptedCopies::release(const std::string& port) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = held_.begin(); it != held_.end(); ++it) {
        if (it->second.first == port) {
            end(it->first, it->second.first, it->second.second, false);
            held_.erase(it);
            return;
        }
    }
}

bool ScriptedCopies::waitForStarts(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return started_.size() >= count; });
}

std::vector<std::string> ScriptedCopies::started() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_;
}

void ScriptedPorts::plug(const std::string& name, const std::string& real) {
    std::lock_guard<std::mutex> lock(mutex_);
    WatchedPort port;
    port.info.name = name;
    port.info.device = "/dev/" + name;
    port.info.present = true;
    port.real = real;
    present_[name] = port;
    links_[port.info.device] = real;
    changed_ = true;
}

void ScriptedPorts::pull(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    gone_.push_back("/dev/" + name);
    present_.erase(name);
    changed_ = true;
}

void ScriptedPorts::hold(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    held_.push_back(name);
}

bool ScriptedPorts::heldByAnother(const PortInfo& port) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(held_.begin(), held_.end(), port.name) != held_.end();
}

void ScriptedPorts::touch() {
    std::lock_guard<std::mutex> lock(mutex_);
    changed_ = true;
}

bool ScriptedPorts::changed(std::vector<std::string>& gone) {
    std::lock_guard<std::mutex> lock(mutex_);
    gone.insert(gone.end(), gone_.begin(), gone_.end());
    gone_.clear();
    return std::exchange(changed_, false);
}

std::vector<WatchedPort> ScriptedPorts::present() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<WatchedPort> all;
    for (const auto& [name, port] : present_)
        all.push_back(port);
    return all;
}

std::string ScriptedPorts::realPath(const std::string& device) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = links_.find(device);
    return it == links_.end() ? device : it->second;
}
