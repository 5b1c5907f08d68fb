// The station's own rules, with scripted copies and ports instead of processes: attempts,
// both stops, a copy that dies, the count of a watch, pluggings and second names, and a
// report that cannot be written.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "records/Report.h"
#include "station/Station.h"
#include "tests/ScriptedStation.h"
#include "tests/TestSupport.h"

namespace {
// Each unit's latest state and what else the station told, for the test's thread.
class Seen : public StationListener {
  public:
    void unitChanged(const Unit& unit, const CopyEvent*) override {
        std::lock_guard<std::mutex> lock(mutex_);
        units_[unit.id] = unit;
    }
    void portPassed(const std::string& port, const std::string&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        passed_.push_back(port);
    }
    void stopping(size_t running) override {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_.push_back(running);
    }
    void problem(const Problem& problem) override {
        std::lock_guard<std::mutex> lock(mutex_);
        problems_.push_back(problem.message + " | " + problem.hint);
    }
    void reportRepaired(const std::string&, bool, size_t) override {}
    void batchChanged(size_t passed, int quantity) override {
        std::lock_guard<std::mutex> lock(mutex_);
        batch_.push_back(std::to_string(passed) + " of " + std::to_string(quantity));
    }
    std::vector<std::string> batch() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return batch_;
    }
    // "PORT PHASE attempt": each unit, by id.
    std::vector<std::string> units() const {
        static const char* const kPhases[] = {"running", "waiting", "passed", "failed",
                                              "interrupted"};
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> all;
        for (const auto& [id, u] : units_)
            all.push_back(u.port + " " + kPhases[static_cast<int>(u.phase)] + " " +
                          std::to_string(u.attempt));
        return all;
    }
    Unit unit(size_t id) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return units_.at(id);
    }
    std::vector<size_t> stopping() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return stopping_;
    }
    std::vector<std::string> problems() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return problems_;
    }

  private:
    mutable std::mutex mutex_;
    std::map<size_t, Unit> units_;
    std::vector<std::string> passed_;
    std::vector<size_t> stopping_;
    std::vector<std::string> problems_;
    std::vector<std::string> batch_;
};

// A station's request without images: the copies' command names them apart from probes.
CheckedRequest eraseRequest(std::vector<std::string> ports, const std::string& report,
                            int attempts = 1) {
    CheckedRequest checked;
    checked.request.command = Command::Erase;
    checked.request.ports = std::move(ports);
    checked.request.report = report;
    checked.request.attempts = attempts;
    return checked;
}

CopyScript ends(int exit, const std::string& result = "ok") {
    CopyScript s;
    s.exit = exit;
    s.result = result;
    return s;
}

CopyScript held(int exit = 0, const std::string& result = "ok") {
    CopyScript s = ends(exit, result);
    s.held = true;
    return s;
}

CopyScript answers() {
    StatusInfo status;
    status.deviceType = 1;
    status.firmwareMajor = 1;
    status.firmwareMinor = 5;
    CopyScript s;
    s.events = {CopyEvent::statusOf(status)};
    return s;
}

// "PORT attempt exit result": each record of the report, sorted.
std::vector<std::string> records(const std::string& report) {
    return recordFields(report, {"port", "attempt", "exit", "result"});
}

// The station run on a thread of its own; ended (both stops) and joined on every way out.
class Running {
  public:
    explicit Running(Station& station)
        : station_(station), thread_([this] { code_ = station_.run(); }) {}
    ~Running() {
        if (thread_.joinable()) {
            station_.stop();
            station_.stop();
            thread_.join();
        }
    }
    int join() {
        thread_.join();
        return code_;
    }

  private:
    Station& station_;
    int code_ = -1;
    std::thread thread_;
};

// Waits up to 10 s for `done`.
bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}
}  // namespace

// A device or line failure is tried again while attempts are left, a refusal never; a copy
// that dies gets a record built from what it told, its firmware before kept from its
// first status; the station ends with the worst code.
TEST(StationRun, AttemptsFollowOneRuleAndEveryAttemptIsRecorded) {
    TempDir dir;
    const std::string report = dir.path("report.jsonl");
    StatusInfo before, after;
    before.deviceType = after.deviceType = 2;
    before.firmwareMajor = after.firmwareMajor = 1;
    before.firmwareMinor = 5;
    after.firmwareMinor = 7;
    CopyScript dies;
    dies.events = {CopyEvent::connected("D", "/dev/ttyD", "S7", ""), CopyEvent::statusOf(before),
                   CopyEvent::statusOf(after)};
    dies.signal = 9;
    ScriptedCopies copies;
    copies.script("A", {ends(1, "line lost"), ends(0)});
    copies.script("B", {ends(3, "image refused"), ends(0)});
    copies.script("C", {ends(1, "line lost"), ends(1, "line lost"), ends(0)});
    copies.script("D", {dies, ends(0)});
    Seen seen;
    Station station(eraseRequest({"A", "B", "C", "D"}, report, 2), seen, copies);
    station.setRetryPause(std::chrono::milliseconds(1));
    EXPECT_EQ(station.run(), 3);
    EXPECT_EQ(seen.units(),
              (std::vector<std::string>{"A passed 2", "B failed 1", "C failed 2", "D passed 2"}));
    EXPECT_EQ(station.passed(), 2u);
    EXPECT_EQ(station.failed(), 2u);
    EXPECT_EQ(records(report),
              (std::vector<std::string>{"A 1 1 line lost", "A 2 0 ok", "B 1 3 image refused",
                                        "C 1 1 line lost", "C 2 1 line lost",
                                        "D 1 1 ended by signal 9", "D 2 0 ok"}));
    EXPECT_EQ(seen.unit(3).firmwareBefore, "1.5");
    nlohmann::json died;
    for (const nlohmann::json& line : reportLines(report))
        if (line["result"] == "ended by signal 9")
            died = line;
    EXPECT_EQ(died["firmwareBefore"], "1.5");
    EXPECT_EQ(died["firmwareAfter"], nullptr);
    EXPECT_EQ(died["device"], "/dev/ttyD");
    EXPECT_EQ(died["serial"], "S7");
    EXPECT_EQ(died["deviceType"], "TAMRIK");
}

// The first stop lets the running instruments finish and makes no further attempt, also
// for one whose attempt fails after it; the second ends those still running, each
// recorded as interrupted.
TEST(StationRun, TheFirstStopLetsTheRunningFinishTheSecondAbandonsThem) {
    TempDir dir;
    const std::string report = dir.path("report.jsonl");
    ScriptedCopies copies;
    copies.script("A", {held(0)});
    copies.script("B", {held(1, "line lost"), ends(0)});
    copies.script("C", {held(0)});
    Seen seen;
    Station station(eraseRequest({"A", "B", "C"}, report, 3), seen, copies);
    station.setRetryPause(std::chrono::milliseconds(1));
    Running run(station);
    ASSERT_TRUE(copies.waitForStarts(3));
    station.stop();
    ASSERT_TRUE(eventually([&] { return !seen.stopping().empty(); }));
    copies.release("A");
    copies.release("B");
    ASSERT_TRUE(eventually([&] { return records(report).size() == 2; }));
    station.stop();
    EXPECT_EQ(run.join(), 1);
    EXPECT_EQ(seen.stopping(), std::vector<size_t>{3});
    EXPECT_EQ(seen.units(),
              (std::vector<std::string>{"A passed 1", "B failed 1", "C interrupted 1"}));
    EXPECT_EQ(records(report),
              (std::vector<std::string>{"A 1 0 ok", "B 1 1 line lost", "C 1 1 interrupted"}));
    EXPECT_EQ(copies.started().size(), 3u) << "no attempt after the stop";
}

// Watching: a port another program holds is left alone; the probes under way count
// towards --count, so three instruments plugged at once with a count of two start two; a
// device under a second name while its own unit is serviced is the same plugging, never
// probed; pulled and plugged again it is serviced again.
TEST(StationRun, WatchingServicesEachPluggingOnceWhateverItsNames) {
    TempDir dir;
    ScriptedCopies copies;
    ScriptedPorts ports;
    for (const char* port : {"COM51", "COM52", "COM53"})
        copies.script(port, {answers(), ends(0)});
    CheckedRequest counted = eraseRequest({}, dir.path("counted.jsonl"));
    counted.request.watch = true;
    counted.request.count = 2;
    ports.plug("COM50", "/dev/pts/0");
    ports.hold("COM50");  // a terminal program has it open
    ports.plug("COM51", "/dev/pts/1");
    ports.plug("COM52", "/dev/pts/2");
    ports.plug("COM53", "/dev/pts/3");
    Seen seen;
    EXPECT_EQ(Station(counted, seen, copies, &ports).run(), 0);
    EXPECT_EQ(copies.started(), (std::vector<std::string>{"COM51 probe", "COM52 probe",
                                                          "COM51 erase", "COM52 erase"}));

    ScriptedCopies replug;
    ScriptedPorts names;
    replug.script("COM61", {answers(), held(0), answers(), ends(0)});
    CheckedRequest watch = eraseRequest({}, dir.path("watch.jsonl"));
    watch.request.watch = true;
    watch.request.count = 2;
    names.plug("COM61", "/dev/pts/9");
    Station station(watch, seen, replug, &names);
    Running run(station);
    ASSERT_TRUE(replug.waitForStarts(2));
    names.plug("by-id-61", "/dev/pts/9");                         // the same device, a second name
    std::this_thread::sleep_for(std::chrono::milliseconds(600));  // two looks at least
    replug.release("COM61");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    names.touch();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(replug.started().size(), 2u) << "the second name is the same plugging";
    names.pull("COM61");
    names.pull("by-id-61");
    names.plug("COM61", "/dev/pts/9");
    run.join();
    EXPECT_EQ(replug.started(), (std::vector<std::string>{"COM61 probe", "COM61 erase",
                                                          "COM61 probe", "COM61 erase"}));
}

// Records that cannot be written are not a success: the station says why and ends with
// exit code 1 though every instrument passed.
TEST(StationRun, ARecordThatCannotBeWrittenFailsTheStation) {
    TempDir dir;
    const std::string report = dir.path("missing/report.jsonl");
    ScriptedCopies copies;
    copies.script("A", {ends(0)});
    Seen seen;
    Station station(eraseRequest({"A"}, report), seen, copies);
    EXPECT_EQ(station.run(), 1);
    EXPECT_EQ(station.passed(), 1u);
    ASSERT_FALSE(seen.problems().empty());
    EXPECT_EQ(
        seen.problems().back(),
        "A: cannot append to the report " + report +
            ": No such file or directory | This instrument's record is lost: make room on the "
            "disk, or give the station a report file it may write to.");
}

// Labels: a tray's given before the start, each instrument's record carrying its label,
// slot, batch and operator; one without a label is refused, and its record says so; a
// label that passed in this batch before (the report says when) is not serviced again
// unless the job allows it; one that failed before is.
TEST(StationRun, ATraysLabelsGoIntoItsRecordsAndALabelPassedBeforeIsFlagged) {
    TempDir dir;
    const std::string report = dir.path("report.jsonl");
    writeFileBytes(report, std::vector<uint8_t>{});
    for (const auto& [label, result] : {std::pair{"SN-1", "ok"}, std::pair{"SN-2", "line lost"}})
        ASSERT_FALSE(appendRecord(report, {{"time", "2026-12-08T09:00:00Z"},
                                           {"port", "COM9"},
                                           {"result", result},
                                           {"batch", "WO-7"},
                                           {"label", label},
                                           {"deviceType", "SOLVAR CU"},
                                           {"attempt", 1}}));
    for (const bool repeat : {false, true}) {
        ScriptedCopies copies;
        copies.script("A", {ends(0)});
        copies.script("B", {ends(0)});
        CheckedRequest checked = eraseRequest({"A", "B", "C"}, report);
        checked.request.labels = true;
        checked.request.slots = {{"Slot 1", "A"}};
        checked.request.labelsByPort = {{"A", "SN-1"}, {"B", "SN-2"}};
        checked.request.batch = "WO-7";
        checked.request.operatorName = "Žofie";
        checked.request.repeatLabels = repeat;
        Seen seen;
        Station station(checked, seen, copies);
        station.run();
        const Unit first = seen.unit(0);
        EXPECT_EQ(first.slot, "Slot 1");
        EXPECT_EQ(first.servicedBefore, "2026-12-08");
        EXPECT_EQ(first.phase, repeat ? Unit::Phase::Passed : Unit::Phase::Failed) << repeat;
        EXPECT_EQ(copies.started().size(), repeat ? 2u : 1u) << "SN-1 serviced again: " << repeat;
        EXPECT_EQ(seen.unit(1).servicedBefore, "") << "SN-2 failed before: it is serviced";
        EXPECT_EQ(seen.unit(2).result, "no label");
    }
    EXPECT_EQ(recordFields(report, {"port", "slot", "label", "batch", "operator", "exit"}),
              (std::vector<std::string>{"A Slot 1 SN-1 WO-7 Žofie 0", "B - SN-2 WO-7 Žofie 0",
                                        "B - SN-2 WO-7 Žofie 0", "C - - WO-7 Žofie 2",
                                        "C - - WO-7 Žofie 2", "COM9 - SN-1 WO-7 - -",
                                        "COM9 - SN-2 WO-7 - -"}));
}

// Watching with labels: the label scanned last goes to the next instrument plugged in; a
// second scan before that replaces it.
TEST(StationRun, AScannedLabelGoesToTheNextInstrumentPluggedIn) {
    TempDir dir;
    ScriptedCopies copies;
    ScriptedPorts ports;
    copies.script("COM51", {answers(), ends(0)});
    copies.script("COM52", {answers(), ends(0)});
    CheckedRequest watch = eraseRequest({}, dir.path("report.jsonl"));
    watch.request.watch = true;
    watch.request.count = 2;
    watch.request.labels = true;
    Seen seen;
    Station station(watch, seen, copies, &ports);
    Running run(station);
    station.labelScanned("SN-1");
    station.labelScanned("SN-2");  // the first was scanned by mistake
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ports.plug("COM51", "/dev/pts/1");
    ASSERT_TRUE(eventually([&] { return copies.started().size() == 2; }));
    ASSERT_TRUE(eventually([&] { return seen.units().size() == 1; }));
    ports.plug("COM52", "/dev/pts/2");
    EXPECT_EQ(run.join(), 0);
    EXPECT_EQ(seen.unit(0).label, "SN-2");
    EXPECT_EQ(seen.unit(1).label, "") << "a label goes to one instrument";
}

// A batch's target: the instruments its earlier records passed count (also one that passed
// at a later attempt), and the watch ends once the target is reached, whatever else is
// plugged in.
TEST(StationRun, ABatchEndsAtItsTargetCountingTheReportsEarlierRecords) {
    TempDir dir;
    const std::string report = dir.path("report.jsonl");
    // Passed: A1 at once, A2 at its second attempt; A3 in another batch.
    const std::tuple<const char*, const char*, const char*, int> kEarlier[] = {
        {"A1", "WO-7", "ok", 1},
        {"A2", "WO-7", "line lost", 1},
        {"A2", "WO-7", "ok", 2},
        {"A3", "WO-6", "ok", 1}};
    for (const auto& [serial, batch, result, attempt] : kEarlier)
        ASSERT_FALSE(appendRecord(report, {{"time", "2026-12-08T09:00:00Z"},
                                           {"port", "COM9"},
                                           {"result", result},
                                           {"batch", batch},
                                           {"serial", serial},
                                           {"deviceType", "SOLVAR CU"},
                                           {"attempt", attempt}}));
    ScriptedCopies copies;
    ScriptedPorts ports;
    for (const char* port : {"COM51", "COM52", "COM53"})
        copies.script(port, {answers(), ends(0)});
    CheckedRequest watch = eraseRequest({}, report);
    watch.request.watch = true;
    watch.request.batch = "WO-7";
    watch.request.quantity = 3;
    ports.plug("COM51", "/dev/pts/1");
    Seen seen;
    Station station(watch, seen, copies, &ports);
    Running run(station);
    ASSERT_TRUE(eventually([&] { return seen.units().size() == 1; }));
    ports.plug("COM52", "/dev/pts/2");
    EXPECT_EQ(run.join(), 0) << "it ends by itself";
    EXPECT_EQ(copies.started(), (std::vector<std::string>{"COM51 probe", "COM51 erase"}));
    EXPECT_EQ(seen.batch(), (std::vector<std::string>{"2 of 3", "3 of 3"}));
}
