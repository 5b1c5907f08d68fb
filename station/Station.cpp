#include "station/Station.h"

#include <algorithm>

#include "records/RecordSummary.h"
#include "records/Report.h"
#include "station/Attempts.h"
#include "station/PortIdentity.h"
#include "support/Text.h"
#include "support/UtcTime.h"

namespace {
std::string textField(const nlohmann::json& object, const char* field) {
    const auto it = object.find(field);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
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

Station::Station(CheckedRequest request, StationListener& listener, CopyRunner& copies,
                 WatchedPorts* ports)
    : request_(std::move(request)),
      order_(request_.order()),
      listener_(listener),
      copies_(copies),
      ports_(ports),
      journal_(request_.request.report),
      retryPause_(kRetryAfter) {}

double Station::secondsOf(const Unit& unit) const {
    return std::chrono::duration<double>(Clock::now() - firstStart_.at(unit.id)).count();
}

void Station::stop() {
    ++stopsAsked_;
    copies_.wake();
}

void Station::labelScanned(const std::string& label) {
    {
        std::lock_guard<std::mutex> lock(labelMutex_);
        scannedLabel_ = label;
    }
    copies_.wake();
}

void Station::countBatch() {
    const StationRequest& r = request_.request;
    if (r.batch.empty()) {
        return;
    }
    if (!r.report.empty()) {
        SummaryFilter batch;
        batch.batch = r.batch;
        RecordSummary summary(GroupBy::None, batch);
        RecordReader reader({r.report});
        for (RecordLine record; reader.next(record);) {
            summary.add(record);
            if (record.ok() && record.batch == r.batch && !record.label.empty()) {
                labelsPassed_[record.label] = localDay(record.time);
            }
        }
        for (const SummaryRow& row : summary.rows()) {
            passedInBatch_ += row.passedFirst + row.passedAfter;
        }
    }
    listener_.batchChanged(passedInBatch_, r.quantity);
}

bool Station::targetReached() const {
    const int quantity = request_.request.quantity;
    return quantity > 0 && passedInBatch_ >= static_cast<size_t>(quantity);
}

bool Station::mayService(Unit& unit) {
    // A tray's labels are given before the start, one a place; a watch's go to the next
    // instrument plugged in, which may come without.
    if (request_.request.labels && !request_.request.watch && unit.label.empty()) {
        unit.code = kUsage;
        unit.result = "no label";
        unit.hint = "Give each instrument its label (type or scan it) before the start.";
        ServiceRecord refused =
            ServiceRecord::start(order_.command, unit.port, unit.attempt, request_.images);
        refused.error = unit.result;
        refused.hint = unit.hint;
        refused.exitCode = unit.code;
        refused.seconds = 0;
        appendLine(unit, refused.toJson());
        return false;
    }
    const auto before = labelsPassed_.find(unit.label);
    if (unit.label.empty() || before == labelsPassed_.end()) {
        return true;
    }
    unit.servicedBefore = before->second;
    if (request_.request.repeatLabels) {
        return true;
    }
    unit.code = kUsage;
    unit.result = "serviced before (" + before->second + "): the job services a label once";
    return false;
}

void Station::report(const std::optional<Problem>& problem, bool recordLost) {
    if (problem) {
        reportFailed_ = reportFailed_ || recordLost;
        listener_.problem(*problem);
    }
}

void Station::mendReport() {
    const std::string& path = request_.request.report;
    if (path.empty()) {
        return;
    }
    const ReportRepair repair = ::repairReport(path);
    report(repair.problem, true);
    if (repair.sealed || repair.recovered > 0) {
        listener_.reportRepaired(path, repair.sealed, repair.recovered);
    }
}

void Station::startUnit(const std::string& port, const Probe* probe) {
    Unit unit;
    unit.id = unitsStarted_++;
    unit.port = port;
    unit.slot = request_.request.slotOf(port);
    if (probe == nullptr) {  // a tray's: its label given before the start
        const auto label = request_.request.labelsByPort.find(port);
        unit.label = label == request_.request.labelsByPort.end() ? "" : label->second;
    } else if (request_.request.labels) {  // the label scanned last, taken
        std::lock_guard<std::mutex> lock(labelMutex_);
        unit.label = std::exchange(scannedLabel_, "");
    }
    if (probe != nullptr) {  // what the probe found
        unit.device = probe->port.info.device;
        unit.serial = probe->port.info.serial;
        unit.deviceType = deviceStatusName(probe->status.deviceType);
        unit.firmwareBefore = versionText(probe->status.firmwareMajor, probe->status.firmwareMinor);
    }
    firstStart_[unit.id] = Clock::now();
    Unit& started = units_.emplace(unit.id, unit).first->second;
    if (!mayService(started)) {
        endUnit(started, Unit::Phase::Failed);  // nothing sent
        return;
    }
    startAttempt(started);
}

void Station::startAttempt(Unit& unit) {
    Attempt attempt;
    attempt.unit = unit.id;
    attempt.started = Clock::now();
    attempt.record = ServiceRecord::start(order_.command, unit.port, unit.attempt, request_.images);
    attempt.record.device = unit.device;
    attempt.record.serial = unit.serial;
    attempt.record.slot = unit.slot;
    attempt.record.label = unit.label;
    attempt.record.batch = request_.request.batch;
    attempt.record.operatorName = request_.request.operatorName;
    std::optional<Problem> problem;
    attempt.entry =
        journal_.begin(attempt.record.endedWithout(kStationEndedFirst, -1).toJson(), problem);
    report(problem, false);
    attempts_[copies_.start(order_, unit.port)] = std::move(attempt);
    unit.phase = Unit::Phase::Running;
    unit.connected = false;
    unit.operation = Operation::Connect;
    unit.done = unit.pages = 0;
    unit.seconds = secondsOf(unit);
    listener_.unitChanged(unit, nullptr);
}

void Station::startProbe(const WatchedPort& port) {
    Probe probe;
    probe.port = port;
    probes_[copies_.start(CopyOrder::probeOrder(), port.info.name)] = probe;
}

void Station::handle(const CopyMessage& message) {
    if (const auto p = probes_.find(message.copy); p != probes_.end()) {
        Probe& probe = p->second;
        if (message.event.kind == CopyEvent::Kind::Status) {
            probe.answered = true;
            probe.status = message.event.status;
        } else if (message.event.kind == CopyEvent::Kind::Error) {
            probe.error = message.event.problem.message;
        }
        if (message.ended) {
            const Probe ended = std::move(probe);
            probes_.erase(p);
            probeEnded(ended);
        }
        return;
    }
    const auto a = attempts_.find(message.copy);
    if (a == attempts_.end()) {
        return;
    }
    Unit& unit = units_.at(a->second.unit);
    if (!message.ended) {
        unitEvent(unit, a->second, message.event);
        return;
    }
    const Attempt ended = std::move(a->second);
    attempts_.erase(a);
    attemptEnded(unit, ended, message.exit);
}

void Station::probeEnded(const Probe& probe) {
    if (probe.answered && acceptsNew()) {
        startUnit(probe.port.info.name, &probe);
    } else if (!probe.answered && !probe.abandoned) {
        listener_.portPassed(probe.port.info.name,
                             probe.error.empty() ? "no bootloader answers" : probe.error);
    }
}

void Station::unitEvent(Unit& unit, Attempt& attempt, const CopyEvent& event) {
    using Kind = CopyEvent::Kind;
    if (event.kind != Kind::Progress) {  // one per page: the events say what happened without
        unit.events.push_back(eventJson(event));
    }
    attempt.record.take(event);
    switch (event.kind) {
        case Kind::Connected:
            unit.device = event.device;
            unit.serial = event.serial;
            unit.connected = true;
            break;
        case Kind::Status:
            unit.deviceType = deviceStatusName(event.status.deviceType);
            if (unit.firmwareBefore.empty()) {
                unit.firmwareBefore =
                    versionText(event.status.firmwareMajor, event.status.firmwareMinor);
            }
            break;
        case Kind::Image:
            unit.image = event.file;
            break;
        case Kind::Started:
        case Kind::Progress:
            unit.operation = event.operation;
            unit.done = event.done;
            unit.pages = event.pages;
            break;
        case Kind::Finished:
            unit.operation = event.operation;
            unit.done = unit.pages = std::max(unit.pages, 1);
            break;
        case Kind::Error:
            unit.result = event.problem.message;
            unit.hint = event.problem.hint;
            break;
        case Kind::Record:
            attempt.own = event.record;
            unit.firmwareAfter = textField(event.record, "firmwareAfter");
            break;
        case Kind::Retry:
        case Kind::Text:
            break;
    }
    if (event.kind == Kind::Status || event.kind == Kind::Image) {
        std::optional<Problem> problem;
        journal_.update(attempt.entry, attempt.record.endedWithout(kStationEndedFirst, -1).toJson(),
                        problem);
        report(problem, false);
    }
    unit.seconds = secondsOf(unit);
    listener_.unitChanged(unit, &event);
}

void Station::attemptEnded(Unit& unit, const Attempt& attempt, const ChildExit& exit) {
    nlohmann::json line = attempt.own;
    if (line.is_object()) {
        const auto code = line.find("exit");
        unit.code =
            code != line.end() && code->is_number_integer() ? code->get<int>() : kDeviceFailed;
        unit.result = textField(line, "result");
        unit.hint = textField(line, "hint");
    } else {
        // It ended without its record: abandoned by a stop, killed or crashed.
        const std::string how = attempt.abandoned ? "interrupted" : exit.text();
        const double took = std::chrono::duration<double>(Clock::now() - attempt.started).count();
        line = attempt.record.endedWithout(how, took).toJson();
        unit.code = kDeviceFailed;
        unit.result = how;
        unit.hint.clear();
    }
    writeRecord(unit, attempt, line);
    if (worthAnotherAttempt(unit.code, unit.attempt, request_.request.attempts) &&
        stopLevel_ == 0 && !attempt.abandoned) {
        unit.phase = Unit::Phase::Waiting;
        unit.seconds = secondsOf(unit);
        retries_.emplace(Clock::now() + retryPause_, unit.id);
        listener_.unitChanged(unit, nullptr);
        return;
    }
    endUnit(unit, unit.code == kOk                                ? Unit::Phase::Passed
                  : attempt.abandoned && !attempt.own.is_object() ? Unit::Phase::Interrupted
                                                                  : Unit::Phase::Failed);
}

void Station::writeRecord(const Unit& unit, const Attempt& attempt, nlohmann::json line) {
    if (!appendLine(unit, std::move(line))) {
        return;  // its journal entry stays: the next run records it as interrupted
    }
    std::optional<Problem> problem;
    journal_.end(attempt.entry, problem);
    report(problem, false);
}

bool Station::appendLine(const Unit& unit, nlohmann::json line) {
    if (request_.request.report.empty()) {
        return false;
    }
    line["attempt"] = unit.attempt;
    const std::pair<const char*, std::string> kStation[] = {
        {"slot", unit.slot},
        {"label", unit.label},
        {"batch", request_.request.batch},
        {"operator", request_.request.operatorName}};
    for (const auto& [field, value] : kStation) {
        if (!value.empty()) {
            line[field] = value;
        }
    }
    std::optional<Problem> problem = appendRecord(request_.request.report, line);
    if (problem) {
        problem->message = unit.port + ": " + problem->message;
        report(problem, true);
        return false;
    }
    return true;
}

void Station::endUnit(Unit& unit, Unit::Phase phase) {
    unit.phase = phase;
    unit.seconds = secondsOf(unit);
    (phase == Unit::Phase::Passed ? passed_ : failed_) += 1;
    worst_ = std::max(worst_, unit.code);
    if (phase == Unit::Phase::Passed && !request_.request.batch.empty()) {
        ++passedInBatch_;
        if (!unit.label.empty()) {
            labelsPassed_[unit.label] = localDay(secondsNow());
        }
        listener_.batchChanged(passedInBatch_, request_.request.quantity);
    }
    listener_.unitChanged(unit, nullptr);
    firstStart_.erase(unit.id);
    units_.erase(unit.id);  // the last use of `unit`
}

std::vector<WatchedPort> Station::freshPorts() {
    std::vector<std::string> gone;
    if (!ports_->changed(gone)) {
        return {};
    }
    const auto wentAway = [&](const Plugging& p) {
        return std::any_of(gone.begin(), gone.end(), [&](const std::string& path) {
            return path == p.device || path == p.real;
        });
    };
    // By device, not by name: one device may show under a second name (its link in
    // /dev/serial/by-id, an alias) and is still the one plugging, done with or being
    // serviced by a copy of this station.
    std::map<std::string, Plugging> now;
    std::vector<WatchedPort> fresh;
    for (const WatchedPort& port : ports_->present()) {
        if (!named(port.info, request_.request.ports) || now.count(port.real) > 0) {
            continue;
        }
        const auto before = plugged_.find(port.real);
        if (before != plugged_.end() && !wentAway(before->second)) {
            now[port.real] = before->second;
        } else if (!ports_->heldByAnother(port.info)) {
            now[port.real] = Plugging{port.real, port.info.device};
            fresh.push_back(port);
        }
    }
    plugged_ = now;
    return fresh;
}

void Station::lookAtPorts() {
    for (const WatchedPort& port : freshPorts()) {
        if (!acceptsNew()) {
            plugged_.erase(port.real);  // looked at again if the station takes more
            continue;
        }
        startProbe(port);
    }
}

bool Station::acceptsNew() const {
    const size_t count = static_cast<size_t>(std::max(request_.request.count, 0));
    return stopLevel_ == 0 && !targetReached() &&
           (count == 0 || unitsStarted_ + probes_.size() < count);
}

bool Station::finished() const {
    if (!attempts_.empty() || !probes_.empty() || !retries_.empty()) {
        return false;
    }
    if (!request_.request.watch || stopLevel_ > 0 || targetReached()) {
        return true;
    }
    const int count = request_.request.count;
    return count > 0 && unitsStarted_ >= static_cast<size_t>(count);
}

void Station::applyStop() {
    const int asked = stopsAsked_.load();
    while (stopLevel_ < asked && stopLevel_ < 2) {
        ++stopLevel_;
        if (stopLevel_ == 1) {
            // Waiting attempts are not made: their last result stands.
            for (const auto& [when, unit] : retries_) {
                endUnit(units_.at(unit), Unit::Phase::Failed);
            }
            retries_.clear();
            listener_.stopping(attempts_.size());
            continue;
        }
        for (auto& [number, attempt] : attempts_) {
            attempt.abandoned = true;
            copies_.terminate(number);
        }
        for (auto& [number, probe] : probes_) {
            probe.abandoned = true;
            copies_.terminate(number);
        }
    }
}

void Station::startDueRetries() {
    const Clock::time_point now = Clock::now();
    while (!retries_.empty() && retries_.begin()->first <= now) {
        Unit& unit = units_.at(retries_.begin()->second);
        retries_.erase(retries_.begin());
        ++unit.attempt;
        startAttempt(unit);
    }
}

int Station::run() {
    mendReport();
    countBatch();
    if (!request_.request.watch) {
        for (const std::string& port : request_.request.ports) {
            startUnit(port, nullptr);
        }
    }
    for (;;) {
        applyStop();
        if (request_.request.watch && stopLevel_ == 0) {
            lookAtPorts();
        }
        startDueRetries();
        if (finished()) {
            break;
        }
        Clock::time_point until =
            Clock::now() + (request_.request.watch ? Clock::duration(PortWatch::kLookEvery)
                                                   : Clock::duration(std::chrono::hours(1)));
        if (!retries_.empty()) {
            until = std::min(until, retries_.begin()->first);
        }
        CopyMessage message;
        if (copies_.next(message, until)) {
            handle(message);
        }
    }
    return std::max(worst_, reportFailed_ ? static_cast<int>(kDeviceFailed) : kOk);
}
