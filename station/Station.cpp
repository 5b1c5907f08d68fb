#include "station/Station.h"

#include <algorithm>
#include <ctime>
#include <optional>

#include "link/PortInfo.h"
#include "link/PortNames.h"
#include "station/ExitCodes.h"
#include "station/PortIdentity.h"
#include "station/PortWatch.h"

namespace {
// A failed attempt is tried again after this pause (the line or the device may recover).
constexpr std::chrono::seconds kRetryAfter{1};

std::string text(const nlohmann::json& event, const char* field) {
    const auto it = event.find(field);
    return it != event.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// Whether a watched port is one the user named: a "usb:" identity, a port name or its
// device. No names: every port counts.
bool named(const PortInfo& port, const std::vector<std::string>& names) {
    if (names.empty()) {
        return true;
    }
    for (const std::string& name : names) {
        if (isPortIdentity(name) ? !matchUsbIdentity(name, {port}).empty()
                                 : name == port.name || name == port.device) {
            return true;
        }
    }
    return false;
}
}  // namespace

Station::Station(StationSetup setup, StationJob job, StationListener& listener)
    : setup_(std::move(setup)),
      job_(std::move(job)),
      listener_(listener),
      copies_(setup_.program) {}

double Station::secondsOf(const Unit& unit) const {
    return std::chrono::duration<double>(Clock::now() - firstStart_[unit.id]).count();
}

void Station::stop() {
    ++stopsAsked_;
    copies_.wake();
}

size_t Station::passed() const {
    return static_cast<size_t>(std::count_if(units_.begin(), units_.end(), [](const Unit& u) {
        return u.phase == Unit::Phase::Passed;
    }));
}

size_t Station::failed() const {
    return static_cast<size_t>(std::count_if(units_.begin(), units_.end(), [](const Unit& u) {
        return u.ended() && u.phase != Unit::Phase::Passed;
    }));
}

std::vector<std::string> Station::copyArguments(const std::string& port, bool probe) const {
    std::vector<std::string> args = {"--json", "--station-copy", "--port", port};
    if (probe) {
        args.push_back("status");
        return args;
    }
    if (!job_.route.empty()) {
        args.insert(args.end(), {"--route", job_.route});
    }
    if (job_.trace) {
        args.push_back("--trace");
    }
    args.push_back(job_.command);
    for (const Image& image : job_.images) {
        args.push_back(image.file);
    }
    if (!job_.readPattern.empty()) {
        args.push_back(job_.readPattern);
    }
    const std::pair<const char*, bool> kFlags[] = {{"--run", job_.runAfter},
                                                   {"--force-product", job_.forceProduct},
                                                   {"--allow-downgrade", job_.allowDowngrade},
                                                   {"--verify", job_.verify}};
    for (const auto& [name, on] : kFlags) {
        if (on) {
            args.push_back(name);
        }
    }
    return args;
}

void Station::startUnit(const std::string& port, const nlohmann::json* status) {
    Unit unit;
    unit.id = units_.size();
    unit.port = port;
    if (status != nullptr) {  // what the probe found
        unit.deviceType = text(*status, "device");
        unit.firmwareBefore = text(*status, "firmware");
    }
    units_.push_back(unit);
    firstStart_.push_back(Clock::now());
    startAttempt(units_.back());
}

void Station::startAttempt(Unit& unit) {
    Copy copy;
    copy.unit = unit.id;
    copy.started = Clock::now();
    copy.startedAt = static_cast<int64_t>(std::time(nullptr));
    running_[copies_.start(copyArguments(unit.port, false))] = copy;
    unit.phase = Unit::Phase::Running;
    unit.operation = "connect";
    unit.done = unit.pages = 0;
    unit.seconds = secondsOf(unit);
    listener_.unitChanged(unit, nullptr);
}

void Station::handle(const Copies::Message& message) {
    const auto it = running_.find(message.copy);
    if (it == running_.end()) {
        return;
    }
    Copy& copy = it->second;
    if (!message.ended) {
        const std::string kind = text(message.event, "event");
        if (kind == "status") {
            copy.status = message.event;
        } else if (kind == "error") {
            copy.error = text(message.event, "message");
        } else if (kind == "record") {
            copy.record = message.event.value("record", nlohmann::json());
        }
        if (!copy.probe) {
            unitEvent(units_[copy.unit], message.event);
        }
        return;
    }
    const Copy ended = std::move(copy);
    running_.erase(it);
    if (!ended.probe) {
        attemptEnded(units_[ended.unit], ended, message.exit);
        return;
    }
    if (!ended.status.is_null() && acceptsNew()) {
        startUnit(ended.port, &ended.status);
    } else if (ended.status.is_null() && !ended.abandoned) {
        listener_.portPassed(ended.port,
                             ended.error.empty() ? "no bootloader answers" : ended.error);
    }
}

void Station::unitEvent(Unit& unit, const nlohmann::json& event) {
    const std::string kind = text(event, "event");
    if (kind != "progress") {  // one per page: the events say what happened without them
        unit.events.push_back(event);
    }
    if (kind == "connected") {
        unit.device = text(event, "device");
        unit.serial = text(event, "serial");
        unit.operation = "connected";
    } else if (kind == "status") {
        unit.deviceType = text(event, "device");
        if (unit.firmwareBefore.empty()) {
            unit.firmwareBefore = text(event, "firmware");
        }
    } else if (kind == "image") {
        unit.image = text(event, "file");
    } else if (kind == "started" || kind == "progress") {
        unit.operation = text(event, "operation");
        unit.done = event.value("done", 0);
        unit.pages = event.value("pages", 0);
    } else if (kind == "finished") {
        unit.operation = text(event, "operation");
        unit.done = unit.pages = std::max(unit.pages, 1);
    } else if (kind == "error") {
        unit.result = text(event, "message");
        unit.hint = text(event, "hint");
    } else if (kind == "record") {
        unit.firmwareAfter = text(event.value("record", nlohmann::json::object()), "firmwareAfter");
    }
    unit.seconds = secondsOf(unit);
    listener_.unitChanged(unit, &event);
}

void Station::attemptEnded(Unit& unit, const Copy& copy, const ChildExit& exit) {
    if (!copy.record.is_null()) {
        unit.code = copy.record.value("exit", 1);
        unit.result = text(copy.record, "result");
        unit.hint = text(copy.record, "hint");
    } else {
        // It ended without its record: abandoned by a stop, killed or crashed.
        unit.code = kDeviceFailed;
        unit.result = copy.abandoned ? "interrupted" : exit.text();
        unit.hint.clear();
    }
    writeRecord(unit, copy);
    const bool again = unit.code == kDeviceFailed && unit.attempt < setup_.attempts &&
                       stopLevel_ == 0 && !copy.abandoned;
    if (again) {
        unit.phase = Unit::Phase::Waiting;
        unit.seconds = secondsOf(unit);
        retries_.emplace(Clock::now() + kRetryAfter, unit.id);
        listener_.unitChanged(unit, nullptr);
        return;
    }
    endUnit(unit, unit.code == kOk                          ? Unit::Phase::Passed
                  : copy.abandoned && copy.record.is_null() ? Unit::Phase::Interrupted
                                                            : Unit::Phase::Failed);
}

void Station::endUnit(Unit& unit, Unit::Phase phase) {
    unit.phase = phase;
    unit.seconds = secondsOf(unit);
    listener_.unitChanged(unit, nullptr);
}

void Station::writeRecord(const Unit& unit, const Copy& copy) {
    if (setup_.report.empty()) {
        return;
    }
    nlohmann::json line = copy.record;
    if (line.is_null()) {
        // Built from what the copy told before it ended.
        ServiceRecord record;
        record.startedAt = copy.startedAt;
        record.port = unit.port;
        record.device = unit.device;
        record.serial = unit.serial;
        if (!copy.status.is_null()) {
            record.before = statusFromJson(copy.status);
        }
        record.command = job_.command;
        record.imageFile = unit.image;
        for (const Image& image : job_.images) {
            if (image.file == unit.image) {
                record.image = image.info;
            }
        }
        record.error = unit.result;
        record.exitCode = unit.code;
        record.seconds = std::chrono::duration<double>(Clock::now() - copy.started).count();
        line = record.toJson();
    }
    line["attempt"] = unit.attempt;
    const std::string error = appendToReport(setup_.report, line);
    if (!error.empty()) {
        reportFailed_ = true;
        listener_.problem(unit.port + ": " + error);
    }
}

void Station::lookAtPorts(PortWatch& watch) {
    std::vector<std::string> gone;
    if (!watch.changed(gone)) {
        return;
    }
    std::vector<std::string> busy;  // devices our own copies hold, links resolved
    for (const auto& [number, copy] : running_) {
        if (!copy.probe && !units_[copy.unit].device.empty()) {
            busy.push_back(realPath(units_[copy.unit].device));
        }
    }
    std::map<std::string, Plugging> now;
    std::vector<PortInfo> fresh;
    for (const PortInfo& port : describePorts(false)) {
        if (!port.present || !isProbeCandidate(port) || !named(port, setup_.ports)) {
            continue;
        }
        const std::string real = realPath(port.device);
        const auto before = plugged_.find(port.name);
        const bool same = before != plugged_.end() && before->second.real == real &&
                          std::none_of(gone.begin(), gone.end(), [&](const std::string& path) {
                              return path == before->second.device || path == before->second.real;
                          });
        if (same) {
            now[port.name] = before->second;  // the same plugging: done with, or under way
        } else if (std::find(busy.begin(), busy.end(), real) == busy.end() &&
                   !heldByAnother(port)) {
            now[port.name] = Plugging{real, port.device};
            fresh.push_back(port);
        }
    }
    plugged_ = now;
    for (const PortInfo& port : fresh) {
        if (!acceptsNew()) {
            plugged_.erase(port.name);  // looked at again if the station takes more
            continue;
        }
        Copy copy;
        copy.probe = true;
        copy.port = port.name;
        copy.started = Clock::now();
        running_[copies_.start(copyArguments(port.name, true))] = copy;
    }
}

bool Station::acceptsNew() const {
    size_t underWay = units_.size();
    for (const auto& [number, copy] : running_) {
        underWay += copy.probe ? 1 : 0;
    }
    return stopLevel_ == 0 && (setup_.count <= 0 || underWay < static_cast<size_t>(setup_.count));
}

bool Station::finished() const {
    if (!running_.empty() || !retries_.empty()) {
        return false;
    }
    if (!setup_.watch || stopLevel_ > 0) {
        return true;
    }
    return setup_.count > 0 && units_.size() >= static_cast<size_t>(setup_.count);
}

void Station::applyStop() {
    const int asked = stopsAsked_.load();
    while (stopLevel_ < asked && stopLevel_ < 2) {
        ++stopLevel_;
        if (stopLevel_ == 1) {
            // Waiting attempts are not made: their last result stands.
            for (const auto& [when, unit] : retries_) {
                endUnit(units_[unit], Unit::Phase::Failed);
            }
            retries_.clear();
            size_t working = 0;
            for (const auto& [number, copy] : running_) {
                working += copy.probe ? 0 : 1;
            }
            listener_.stopping(working);
        } else {
            for (auto& [number, copy] : running_) {
                copy.abandoned = true;
                copies_.terminate(number);
            }
        }
    }
}

int Station::run() {
    std::optional<PortWatch> watch;
    if (setup_.watch) {
        watch.emplace();
    } else {
        for (const std::string& port : setup_.ports) {
            startUnit(port, nullptr);
        }
    }
    for (;;) {
        applyStop();
        if (watch && stopLevel_ == 0) {
            lookAtPorts(*watch);
        }
        const Clock::time_point now = Clock::now();
        while (!retries_.empty() && retries_.begin()->first <= now) {
            Unit& unit = units_[retries_.begin()->second];
            retries_.erase(retries_.begin());
            ++unit.attempt;
            startAttempt(unit);
        }
        if (finished()) {
            break;
        }
        Clock::time_point until = now + (watch ? Clock::duration(PortWatch::kLookEvery)
                                               : Clock::duration(std::chrono::hours(1)));
        if (!retries_.empty()) {
            until = std::min(until, retries_.begin()->first);
        }
        Copies::Message message;
        if (copies_.next(message, until)) {
            handle(message);
        }
    }
    int worst = reportFailed_ ? kDeviceFailed : kOk;
    for (const Unit& unit : units_) {
        worst = std::max(worst, unit.code);
    }
    return worst;
}
