// A line that holds a shift, run as an operator meets it: the station ended by a signal
// (polite or not) and by its terminal hanging up, started again after being killed, a
// report whose last line a power cut left short, and hundreds of instruments through one
// watch under a small open-file limit.
#include <dirent.h>
#include <poll.h>
#include <pty.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include <filesystem>

#include "tests/CliSupport.h"

namespace {
// The command line as a terminal's only program: its output goes to the terminal, and
// closing the terminal hangs up on it (SIGHUP) as closing a window or a dropped remote
// session does.
class Terminal {
  public:
    explicit Terminal(const std::string& args) {
        const std::string line = "exec " OSTRA_CLI " " + args;
        pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            ::execl("/bin/sh", "sh", "-c", line.c_str(), nullptr);
            ::_exit(127);
        }
        EXPECT_GT(pid_, 0);
        reader_ = std::thread([this] { read(); });
    }
    ~Terminal() {
        hangUp();
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    // Keys typed on the terminal.
    void type(const std::string& keys) {
        EXPECT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    // Closes the terminal: the program on it is hung up on.
    void hangUp() {
        if (master_ < 0)
            return;
        reading_ = false;
        reader_.join();
        ::close(master_);
        master_ = -1;
    }
    // The wait status, or -1 when it has not ended within a minute.
    int wait() {
        int status = -1;
        for (int i = 0; i < 6000 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!WIFEXITED(status) && !WIFSIGNALED(status))
            return -1;
        pid_ = -1;
        return status;
    }
    std::string output() {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }

  private:
    void read() {
        while (reading_) {
            pollfd p = {master_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char chunk[4096];
            const ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the program ended
                continue;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            text_.append(chunk, static_cast<size_t>(n));
        }
    }

    int master_ = -1;
    pid_t pid_ = -1;
    std::atomic<bool> reading_{true};
    std::thread reader_;
    std::mutex mutex_;
    std::string text_;
};

// How many entries a folder of /proc has at rest: a process's open files or threads. The
// least of a few looks, as one may catch the process listing the machine's ports.
size_t entries(const std::string& folder) {
    size_t least = SIZE_MAX;
    for (int look = 0; look < 5; ++look) {
        size_t n = 0;
        if (DIR* dir = ::opendir(folder.c_str())) {
            while (const dirent* e = ::readdir(dir))
                n += e->d_name[0] != '.';
            ::closedir(dir);
        }
        least = std::min(least, n);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return least;
}

// Two paced instruments, COM71 and COM72, and an image that takes them seconds to upload.
struct PacedPair {
    PacedPair() : tray(dir), watched(tray.add("COM72", nullptr, 1, 115200)) {
        tray.add("COM71", nullptr, 1, 115200);
        writeFileBytes(fw,
                       makeFirmwareImage(developmentKey(1), randomBody(16384, 7), ImageSpec{2, 0}));
    }
    TempDir dir;
    Tray tray;
    VirtualInstrument& watched;  // COM72: once it has asked for 20 pages, both upload
    const std::string fw = dir.path("fw.enc"), report = dir.path("report.jsonl");
};

// The report's results, sorted: "PORT RESULT".
std::vector<std::string> results(const std::string& report) {
    return recordFields(report, {"port", "result"});
}
}  // namespace

// Two instruments uploading when the station is ended: by its terminal hanging up, by a
// signal to it alone, by Ctrl-C to it and its copies (-SIGINT), or by one copy being
// killed (0). The first stop lets the uploads finish, a second abandons them, and every
// instrument keeps its record with its own time and device either way; Ctrl-C in a run
// of one instrument abandons it at once.
TEST(Shift, EverySignalThatEndsAStationLeavesEachInstrumentItsRecord) {
    PacedPair pair;
    const std::string &fw = pair.fw, &report = pair.report;
    const TempDir& dir = pair.dir;
    VirtualInstrument& watched = pair.watched;
    const std::string two = "--port COM71 --port COM72";
    const std::vector<std::string> passed = {"COM71 ok", "COM72 ok"},
                                   abandoned = {"COM71 interrupted", "COM72 interrupted"};
    const struct {
        const char* how;
        std::string ports;
        std::vector<int> signals;  // none: the terminal is hung up on
        int exitCode;              // 130: ended by SIGINT
        std::vector<std::string> results;
        std::string text;  // found in the output
    } kEndings[] = {
        {"hang-up", two, {}, 0, passed, ""},
        {"Ctrl-C",
         two,
         {-SIGINT},
         0,
         passed,
         "stopping: 2 instruments still running; Ctrl-C again abandons them\n"},
        {"SIGTERM", two, {SIGTERM}, 0, passed, ""},
        {"SIGHUP", two, {SIGHUP}, 0, passed, ""},
        {"Ctrl-C twice", two, {-SIGINT, -SIGINT}, 1, abandoned, "\n0 passed, 2 failed\n"},
        {"SIGTERM, then SIGHUP", two, {SIGTERM, SIGHUP}, 1, abandoned, ""},
        // The power failing, as a UPS's daemon tells: no time to wait, as a console that
        // closes on Windows.
        {"SIGPWR", two, {SIGPWR}, 1, abandoned, ""},
        {"a copy killed",
         two,
         {0},
         1,
         {"COM71 ok", "COM72 ended by signal 9"},
         "\nCOM72  SOLVAR CU     ended by signal 9  ("},
        {"Ctrl-C, one instrument", "--port COM72", {-SIGINT}, 130, {"COM72 interrupted"}, ""},
    };
    for (const auto& e : kEndings) {
        std::remove(report.c_str());
        const uint32_t before = watched.requestCount();
        const std::string args = e.ports + " --report " + report + " upload " + fw;
        std::unique_ptr<Terminal> terminal;
        std::unique_ptr<Background> background;
        if (e.signals.empty())
            terminal = std::make_unique<Terminal>(args);
        else
            background = std::make_unique<Background>(dir, args);
        ASSERT_TRUE(eventually([&] { return watched.requestCount() > before + 20; })) << e.how;
        if (terminal)
            terminal->hangUp();
        for (size_t i = 0; i < e.signals.size(); ++i) {
            const int signal = e.signals[i];
            if (signal == 0)
                ASSERT_EQ(::kill(copyServing(watched), SIGKILL), 0);
            else if (signal < 0)
                background->interrupt();
            else
                background->signal(signal);
            if (i + 1 < e.signals.size()) {
                ASSERT_TRUE(eventually([&] {
                    return background->output().find("stopping") != std::string::npos;
                })) << e.how;
            }
        }
        const int status = terminal ? terminal->wait() : background->wait();
        const std::string out = terminal ? terminal->output() : background->output();
        EXPECT_EQ(exitOf(status), e.exitCode) << e.how << "\n" << out;
        EXPECT_NE(out.find(e.text), std::string::npos) << e.how << "\n" << out;
        EXPECT_EQ(results(report), e.results) << e.how;
        for (const nlohmann::json& line : reportLines(report)) {
            EXPECT_GT(line["seconds"].get<double>(), 0.2) << e.how << ": each its own time";
            EXPECT_EQ(line["device"],
                      dir.path("ostraloader/ports/") + line["port"].get<std::string>())
                << "what its copy told, whoever wrote the record";
        }
    }
}

// The station killed outright (nothing of it runs on) during two uploads: the next run on
// the same report records both from the journal the station left, says so, and does so
// once; the journal is gone after it.
TEST(Shift, AStationKilledMidUploadIsRecordedByTheNextRun) {
    PacedPair pair;
    const std::string &fw = pair.fw, &report = pair.report;
    const TempDir& dir = pair.dir;
    VirtualInstrument& watched = pair.watched;
    {
        Background station(dir, "--port COM71 --port COM72 --report " + report + " upload " + fw);
        ASSERT_TRUE(eventually([&] { return watched.requestCount() > 20; }));
        station.signal(SIGKILL);
        EXPECT_EQ(exitOf(station.wait()), 128 + SIGKILL);
    }
    // Its copies end with it: the uploads stop where they were, so that the instruments
    // hold what the next run records.
    for (const auto& sim : pair.tray.instruments) {
        EXPECT_TRUE(eventually([&] { return copyServing(*sim) < 0; })) << sim->devicePath();
        EXPECT_EQ(sim->status().firmwareMajor, 1) << "an upload finished for nobody";
    }
    EXPECT_TRUE(reportLines(report).empty()) << "nothing ended before the station did";
    const auto [code, out] = run(dir, OSTRA_CLI, "--port COM71 --report " + report + " status");
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find(report + ": 2 instruments left behind by a station that ended before "
                                "them recorded as interrupted\n"),
              std::string::npos)
        << out;
    const char* const kLost = "interrupted: the station ended before the instrument did";
    EXPECT_EQ(results(report), (std::vector<std::string>{"COM71 " + std::string(kLost), "COM71 ok",
                                                         "COM72 " + std::string(kLost)}));
    for (const nlohmann::json& line : reportLines(report)) {
        if (line["result"] != kLost)
            continue;
        EXPECT_EQ(line["command"], "upload");
        EXPECT_EQ(line["firmwareBefore"], "1.5") << "its status was journaled";
        EXPECT_EQ(line["firmwareAfter"], nullptr);
        EXPECT_EQ(line["image"]["file"], fw);
        EXPECT_EQ(line["exit"], 1);
        EXPECT_EQ(line["seconds"], nullptr) << "its end is not known";
    }
    run(dir, OSTRA_CLI, "--port COM71 --report " + report + " status");
    EXPECT_EQ(reportLines(report).size(), 4u) << "recorded once";
    for (const auto& entry : std::filesystem::directory_iterator(dir.dir))
        EXPECT_EQ(entry.path().string().find(".journal"), std::string::npos) << entry.path();
}

// A power cut while a record was written leaves its line cut short: the next run ends
// that line, says so, and its own record reads as a line of its own.
TEST(Shift, AReportWhoseLastLineWasCutIsSealed) {
    TempDir dir;
    Tray tray(dir);
    tray.add("COM71");
    const std::string report = dir.path("report.jsonl");
    const std::string whole = R"({"port":"COM70","result":"ok"})";
    const std::string cut = R"({"time":"2026-12-09T03:14:07Z","port":"COM7)";
    const std::string text = whole + "\n" + cut;
    writeFileBytes(report, Bytes(text.begin(), text.end()));
    const auto [code, out] = run(dir, OSTRA_CLI, "--port COM71 --report " + report + " status");
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find(report + ": its last line was cut short; the records after it start a "
                                "line of their own\n"),
              std::string::npos)
        << out;
    const Bytes bytes = readFileBytes(report);
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    std::vector<std::string> read;
    for (std::string line; std::getline(lines, line);)
        read.push_back(line);
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0], whole);
    EXPECT_EQ(read[1], cut);
    EXPECT_EQ(nlohmann::json::parse(read[2])["port"], "COM71");
}

// A shift's worth of instruments plugged in one after another into one watch whose open
// files are limited to 64: every one serviced and recorded, and the station's open files
// and threads the same after the last as after the first.
TEST(Shift, AWatchHoldsAShiftWithItsOpenFilesAndThreadsFlat) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const int kInstruments = 40;  // each copy starts ten times slower
#else
    const int kInstruments = 300;
#endif
    TempDir dir;
    Tray tray(dir);
    const std::string report = dir.path("report.jsonl");
    Background station(dir, "--watch --port COM80 --report " + report + " status",
                       "ulimit -n 64 && ");
    ASSERT_TRUE(eventually([&] { return station.output().find("watching") != std::string::npos; }));
    const std::string proc = "/proc/" + std::to_string(station.pid());
    size_t files = 0, threads = 0;
    for (int i = 1; i <= kInstruments; ++i) {
        tray.add("COM80");
        ASSERT_TRUE(eventually([&] {
            return reportLines(report).size() == static_cast<size_t>(i);
        })) << "instrument "
            << i << "\n"
            << station.output();
        tray.instruments.clear();  // pulled out
        if (i == 1) {
            files = entries(proc + "/fd");
            threads = entries(proc + "/task");
        }
    }
    EXPECT_EQ(entries(proc + "/fd"), files) << "open files after the last";
    EXPECT_EQ(entries(proc + "/task"), threads) << "threads after the last";
    station.interrupt();
    EXPECT_EQ(exitOf(station.wait()), 0) << station.output();
    EXPECT_EQ(reportLines(report).size(), static_cast<size_t>(kInstruments));
    EXPECT_NE(station.output().find(std::to_string(kInstruments) + " passed, 0 failed"),
              std::string::npos);
}

// A record counts as written only once it is on the disk: every piece appended to the
// report is followed by its fdatasync before the file is closed (seen through strace, on
// the thread that writes the records).
TEST(Shift, EveryRecordIsOnTheDiskBeforeItCounts) {
    TempDir dir;
    Tray tray(dir);
    tray.add("COM71");
    const std::string report = dir.path("report.jsonl"), trace = dir.path("trace.txt");
    const std::string cli =
        "strace -qq -A -o " + trace + " -e trace=openat,write,fdatasync,close " OSTRA_CLI;
    for (const char* ports : {"--port COM71", "--port COM71 --port COM72"})
        EXPECT_NE(std::system((cli + " " + std::string(ports) + " --report " + report +
                               " status >" + dir.path("out.txt") + " 2>&1")
                                  .c_str()),
                  -1);
    ASSERT_EQ(reportLines(report).size(), 3u);
    // Each call on the report's descriptors, in order.
    std::map<std::string, std::string> open;  // descriptor: how it stands
    int appended = 0, synced = 0;
    const Bytes traced = readFileBytes(trace);
    std::istringstream lines(std::string(traced.begin(), traced.end()));
    for (std::string line; std::getline(lines, line);) {
        const std::string name = line.substr(0, line.find('('));
        const size_t from = line.find('(') + 1;
        const std::string fd = line.substr(from, line.find_first_of(",)", from) - from);
        if (name == "openat" && line.find('"' + report + '"') != std::string::npos) {
            open[line.substr(line.rfind("= ") + 2)] = "opened";
        } else if (open.count(fd) > 0) {
            std::string& state = open[fd];
            if (name == "write" && line.find("\"\", 0)") == std::string::npos) {
                state = "written";
                ++appended;
            } else if (name == "fdatasync" && state == "written") {
                state = "synced";
                ++synced;
            } else if (name == "close") {
                EXPECT_NE(state, "written") << "closed before it was on the disk: " << line;
                open.erase(fd);
            }
        }
    }
    EXPECT_EQ(appended, 3);
    EXPECT_EQ(synced, 3);
}

// On a terminal the command line draws in place: one instrument's bar is redrawn and its
// line ended once before the next message (no line left blank); a tray's table is drawn
// again over itself, the cursor moved up its two rows.
TEST(Terminal, ProgressIsDrawnInPlaceAndEndedBeforeWhatFollows) {
    PacedPair pair;
    const struct {
        const char* ports;
        const char* seen;  // text that only drawing in place puts there
        const char* last;  // the output's last line
    } kDrawings[] = {
        {"--port COM71", " s left \r\nFirmware uploaded successfully\r\n",
         "Firmware uploaded successfully\r\n"},
        {"--port COM71 --port COM72", "\x1b[2A\r\x1b[KCOM71", "2 passed, 0 failed\r\n"},
    };
    for (const auto& d : kDrawings) {
        Terminal terminal(std::string(d.ports) + " upload " + pair.fw);
        EXPECT_EQ(exitOf(terminal.wait()), 0) << d.ports;
        const std::string last = d.last;
        ASSERT_TRUE(eventually([&] {
            const std::string o = terminal.output();
            return o.size() >= last.size() &&
                   o.compare(o.size() - last.size(), last.size(), last) == 0;
        })) << d.ports;
        const std::string out = terminal.output();
        EXPECT_NE(out.find(d.seen), std::string::npos) << d.ports << ": " << out;
        EXPECT_EQ(out.find("\r\n\r\n"), std::string::npos) << d.ports << ": " << out;
    }
}

// A person at a terminal who answers a label's prompt with Enter alone is asked again.
TEST(Terminal, AnEmptyLabelIsAskedAgain) {
    TempDir dir;
    Tray tray(dir);
    tray.add("COM71");
    const std::string report = dir.path("report.jsonl");
    Terminal terminal("--port COM71 --labels --report " + report + " status");
    terminal.type("\rSN-1\r");
    EXPECT_EQ(exitOf(terminal.wait()), 0) << terminal.output();
    EXPECT_EQ(recordFields(report, {"label"}), std::vector<std::string>{"SN-1"});
    const std::string out = terminal.output(), prompt = "Label of the instrument in COM71: ";
    EXPECT_NE(out.find(prompt), out.rfind(prompt)) << "asked twice: " << out;
}

// A second stop abandons at once an instrument that says nothing meanwhile (an erase whose
// answer is far off), rather than when its copy next speaks.
TEST(Shift, ASecondStopAbandonsAnInstrumentThatSaysNothingMeanwhile) {
    TempDir dir;
    Tray tray(dir);
    VirtualInstrument& slow = tray.add("COM75", "late:code=104:nth=1:delay=30000");
    tray.add("COM76");
    const std::string report = dir.path("report.jsonl");
    Background station(dir, "--port COM75 --port COM76 --report " + report + " erase");
    ASSERT_TRUE(eventually([&] { return slow.requestCount() >= 2 && results(report).size() == 1; }))
        << station.output();
    const auto asked = std::chrono::steady_clock::now();
    station.signal(SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    station.signal(SIGTERM);
    EXPECT_EQ(exitOf(station.wait()), 1) << station.output();
    // The erase's own wait is 20 s; a station that waits for it has not abandoned anything.
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(10));
    EXPECT_EQ(results(report), (std::vector<std::string>{"COM75 interrupted", "COM76 ok"}));
}
