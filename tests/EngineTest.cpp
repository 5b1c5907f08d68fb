// The engine against the virtual instrument: its short operations, routes and worker
// failures; upload, read-back and erase with the bytes on the wire, the events and every
// failure's text; and each wait's limit, measured on a tick clock that runs ten times
// faster than real time while the engine can only wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "engine/Crc16.h"
#include "engine/RouteScan.h"
#include "engine/VantorBootloader.h"
#include "sim/VirtualInstrument.h"
#include "support/Files.h"
#include "support/LittleEndian.h"
#include "support/TickClock.h"
#include "tests/TestSupport.h"
#include "tools/ImageSigner.h"

namespace {
using Bytes = std::vector<uint8_t>;
using Events = std::vector<std::string>;
using Kind = SimFault::Kind;

// The tick clock runs ten times faster than real time while the engine can only wait (no
// frame on its way, and the instrument left the last request unanswered or holds its answer
// back), at real speed otherwise: waits in vain cost a tenth, while an answer on a busy
// machine keeps its whole limit. A stall of the clock's readers counts at real speed
// beyond 20 ms, so that a late scheduler does not become ten times as many ticks.
class WaitClock {
  public:
    WaitClock() {
        running().store(this);
        setTickSource([] { return running().load()->advance(); });
    }
    ~WaitClock() { setTickSource(nullptr); }
    void follow(const VirtualInstrument& sim) { sim_.store(&sim); }
    void hostSent() { sent_.fetch_add(1); }

  private:
    static std::atomic<WaitClock*>& running() {
        static std::atomic<WaitClock*> clock{nullptr};
        return clock;
    }
    uint32_t advance() {
        // The count first: the instrument clears its flag before it counts a new request.
        const VirtualInstrument* sim = sim_.load();
        const bool fast = sim && sent_.load() == sim->requestCount() && sim->hostOnlyWaits();
        std::lock_guard<std::mutex> lock(mutex_);
        const auto now = std::chrono::steady_clock::now();
        const int64_t step =
            std::chrono::duration_cast<std::chrono::microseconds>(now - last_).count();
        last_ = now;
        micros_ += static_cast<uint64_t>(fast ? step + 9 * std::min<int64_t>(step, 20000) : step);
        return static_cast<uint32_t>(micros_ / 1000);
    }

    std::atomic<const VirtualInstrument*> sim_{nullptr};
    std::atomic<uint32_t> sent_{0};
    std::mutex mutex_;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
    uint64_t micros_ = 0;
};

int openDescriptorCount() {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(begin(fds), end(fds)));
}

// Beyond a limit a wait ends within this many ticks (the port polls in steps of a few ms
// of real time, each ten ticks while waiting in vain; sanitizer builds are slow).
constexpr uint32_t kSlack = 900;
const char* const kStatusFailed = "BPROT_MSG_STATUSINFO error, bootloader not responding";

SimConfig config(uint32_t flashSize, uint32_t eraseDelayMs) {
    SimConfig c;
    c.flashSize = flashSize;
    c.eraseDelayMs = eraseDelayMs;
    return c;
}

// The fixture is the engine's listener: it records every event as text ("UploadStarted
// path 3", "Error text", ...) with the tick count at which it came and IsBusy() inside
// it. Events come on the worker's thread and are read once that thread has ended.
class Engine : public ::testing::Test, public VantorBootloaderEventListener {
  protected:
    explicit Engine(SimConfig c = config(512 * 1024, 100)) : sim(c), engine(this) {
        sim.addChild("3", c);
        sim.addChild("3.1", c);
        sim.start();
        clock.follow(sim);
        engine.SetFrameTrace([this](bool outgoing, const uint8_t*, size_t) {
            if (outgoing)
                clock.hostSent();
        });
        engine.Connect(sim.devicePath());
    }

    void OnConnected() override { add("Connected"); }
    void OnDisconnected() override { add("Disconnected"); }
    void OnUploadStarted(const char* path, int32_t pages) override {
        add("UploadStarted " + std::string(path) + " " + std::to_string(pages));
    }
    void OnUploadProgress(int32_t done) override { add("UploadProgress " + std::to_string(done)); }
    void OnUploadFinished() override { add("UploadFinished"); }
    void OnReadStarted(const char* path, int32_t size, int32_t pages) override {
        add("ReadStarted " + std::string(path) + " " + std::to_string(size) + " " +
            std::to_string(pages));
    }
    void OnReadProgress(int32_t done) override { add("ReadProgress " + std::to_string(done)); }
    void OnReadFinished() override { add("ReadFinished"); }
    void OnEraseStarted() override { add("EraseStarted"); }
    void OnEraseTick() override { ++eraseTicks; }
    void OnEraseFinished() override { add("EraseFinished"); }
    void OnError(const char* message) override { add(std::string("Error ") + message); }
    void add(const std::string& event) {
        busyInside.push_back(engine.IsBusy());
        if (onEvent)
            onEvent(event);
        events.push_back(event);
        at.push_back(tickCount());
    }

    // A file of a header the instrument accepts, followed by `body` as it is.
    std::string image(const Bytes& body, int keyType = 1) {
        const Bytes header = makeFirmwareImage(developmentKey(keyType), Bytes(), ImageSpec{});
        writeFileBytes(dir.path("image.enc"), concat({header, body}));
        return dir.path("image.enc");
    }
    Events run(const std::function<void()>& start) {
        events.clear();
        at.clear();
        busyInside.clear();
        start();
        engine.stop(true, 60000);
        EXPECT_FALSE(engine.IsBusy()) << "the operation did not end";
        return events;
    }
    std::vector<Bytes> sent(uint16_t code) const {
        std::vector<Bytes> found = sim.requests();
        found.erase(
            std::remove_if(found.begin(), found.end(),
                           [code](const Bytes& r) { return getLe16(r.data() + 8) != code; }),
            found.end());
        return found;
    }
    // Ticks from the event before the last one to the last one.
    uint32_t lastWait() const { return at.size() < 2 ? 0 : at.back() - at[at.size() - 2]; }
    // Route word and code of the last request the instrument received.
    std::pair<uint32_t, uint16_t> lastRequest() const {
        const Bytes r = sim.requests().back();
        return {getLe32(r.data() + 4), getLe16(r.data() + 8)};
    }
    // The link waits 1000 ms again: a silent instrument shows it.
    void expectLinkWaitOfOneSecond(const std::function<void()>& request = {}) {
        sim.setInBootloader(false);
        const uint32_t start = tickCount();
        EXPECT_EQ(messageOf(request ? request : [&] { engine.RequestStatus(); }), kStatusFailed);
        const uint32_t waited = tickCount() - start;
        EXPECT_GE(waited, 1000u);
        EXPECT_LT(waited, 1000u + kSlack);
        sim.setInBootloader(true);
    }

    std::function<void(const std::string&)> onEvent;
    Events events;
    std::vector<uint32_t> at;
    std::vector<bool> busyInside;  // IsBusy() inside each event of the last run
    int eraseTicks = 0;
    // Waits of seconds in vain are measured in their own milliseconds at a tenth of the
    // cost; first in, last out, so that no wait spans a change of tick source.
    WaitClock clock;
    TempDir dir;
    VirtualInstrument sim;
    VantorBootloader engine;
};

class SmallFlash : public Engine {
  protected:
    SmallFlash() : Engine(config(256, 1500)) {}  // two pages; an erase of 15 000 ticks
};
}  // namespace

TEST_F(Engine, ConnectReadsTheStatusReconnectingDisconnectsFirstAndRunLeavesTheBootloader) {
    const StatusInfo& s = engine.Status();
    EXPECT_EQ(std::make_tuple(s.deviceType, s.bootloaderMajor, s.bootloaderMinor, s.areaSize),
              std::make_tuple(1, 1, 2, 512u * 1024u));
    EXPECT_FALSE(engine.IsFirmwareLoaded());
    EXPECT_EQ(lastRequest(), std::make_pair(0u, uint16_t{100}));
    engine.Connect(sim.devicePath());
    engine.RunFirmware();
    EXPECT_EQ(lastRequest().second, 105);
    EXPECT_TRUE(engine.IsConnected()) << "the caller disconnects";
    EXPECT_EQ(messageOf([&] { engine.RunFirmware(); }),
              "BPROT_MSG_RUNFW - sendreceive packet failed");
    engine.Disconnect();
    engine.Disconnect();
    EXPECT_EQ(events, (Events{"Connected", "Disconnected", "Connected", "Disconnected"}));
    EXPECT_EQ(messageOf([&] { engine.SetRoutePath("1"); }),
              "Bootloader is not connected to any device");

    expectLinkWaitOfOneSecond([&] { engine.Connect(sim.devicePath()); });
    EXPECT_FALSE(engine.IsConnected());
    EXPECT_EQ(events.size(), 4u) << "a failed connect reports no event";
    SerialPort().open(sim.devicePath(), "115200,N,8,1", 0);  // the engine closed the port again
    EXPECT_EQ(messageOf([&] { engine.Connect("/dev/no-such-port"); }),
              "open port '/dev/no-such-port' failed");
}

TEST_F(Engine, RoutedRequestsReachTheRightChild) {
    // Path, route word, device type.
    const std::tuple<const char*, uint32_t, uint8_t> kRoutes[] = {
        {"2", 0x0A, 5}, {"2.5", 0xDA, 3}, {"1.2.3.4.5.6.7.0", 0x8FEDCBA9u, 4}};
    SimConfig child;
    for (const auto& [path, word, type] : kRoutes) {
        child.deviceType = type;
        sim.addChild(path, child);
    }
    for (const auto& [path, word, type] : kRoutes) {
        engine.SetRoutePath(path);
        EXPECT_EQ(engine.RequestStatus().deviceType, type) << path;
        EXPECT_EQ(lastRequest(), std::make_pair(word, uint16_t{100})) << path;
    }
    engine.SetRoutePath("4");  // nobody on port 4
    EXPECT_EQ(messageOf([&] { engine.RequestStatus(); }), kStatusFailed);
    EXPECT_EQ(engine.Status().deviceType, 4) << "a failed request keeps the old status";
    engine.ClearRoute();
    EXPECT_EQ(engine.RequestStatus().deviceType, 1);
    engine.SetRoutePath("2");
    engine.Connect(sim.devicePath());
    EXPECT_FALSE(engine.IsRouted()) << "a new connection is direct";
}

TEST_F(Engine, FailingWorkItemGivesOneErrorWithTheEngineIdle) {
    EXPECT_EQ(run([&] { engine.UploadFirmware("/no/such/image.enc"); }),
              Events{"Error can't open file /no/such/image.enc"});
    EXPECT_EQ(busyInside, std::vector<bool>{false});

    // A listener that throws anything, then an error handler that throws too: the process
    // lives on, one error is reported and the engine is idle.
    std::vector<std::string> errors;
    onEvent = [&](const std::string& e) {
        if (e == "EraseStarted")
            throw 42;
        if (e.rfind("Error", 0) == 0) {
            errors.push_back(e);
            throw std::runtime_error("handler failed");
        }
    };
    engine.EraseFlash();
    engine.stop(true, 5000);
    EXPECT_EQ(errors, std::vector<std::string>{"Error unexpected failure in the worker"});
    EXPECT_FALSE(engine.IsBusy());
}

TEST_F(Engine, UploadPutsPagesFillAndTheFinishingMessageOnTheWireAndReadBackGetsThemBack) {
    const Bytes body = randomBody(300, 300);
    const std::string path = image(body);
    const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
    EXPECT_EQ(run([&] { engine.UploadFirmware(path); }),
              (Events{"UploadStarted " + path + " 3", "UploadProgress 1", "UploadProgress 2",
                      "UploadProgress 3", "UploadFinished"}));
    EXPECT_EQ(busyInside, (std::vector<bool>{true, true, true, true, false}));
    const std::vector<Bytes> pages = sent(110);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(Bytes(pages[2].begin() + 8, pages[2].begin() + 14), (Bytes{110, 0, 130, 0, 2, 0}));
    EXPECT_EQ(Bytes(pages[2].begin() + 14, pages[2].begin() + 58),
              Bytes(body.begin() + 256, body.end()));
    EXPECT_EQ(Bytes(pages[2].begin() + 58, pages[2].end()), Bytes(84, 0xFF));
    const Bytes finish = sent(101).at(0);
    ASSERT_EQ(finish.size(), 23u);
    const uint16_t crc = crc16ArcUpdate(0, body.data(), body.size());
    EXPECT_EQ(
        Bytes(finish.begin() + 12, finish.begin() + 19),
        (Bytes{0x10, 0x2C, 0x01, 0, 0, static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)}));
    const uint32_t finishedAt = getLe32(finish.data() + 19);
    EXPECT_GE(finishedAt, before) << "the finishing message carries the time of the upload";
    EXPECT_LE(finishedAt, static_cast<uint32_t>(std::time(nullptr)));
    const Bytes flash = sim.flash();
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 300), body);
    EXPECT_EQ(engine.Status().firmwareSize, 300u) << "the status is read again";

    const std::string dump = dir.path("dump.bin");
    EXPECT_EQ(run([&] { engine.ReadFlash(dump); }),
              (Events{"ReadStarted " + dump + " 300 3", "ReadProgress 1", "ReadProgress 2",
                      "ReadProgress 3", "ReadFinished"}));
    EXPECT_EQ(busyInside, (std::vector<bool>{true, true, true, true, false}));
    EXPECT_EQ(readFileBytes(dump), body);
    const Bytes third = sent(103).at(2);
    EXPECT_EQ(Bytes(third.begin() + 8, third.end()), (Bytes{103, 0, 2, 0, 2, 0}));
    const std::string bad = dir.path("no-folder/dump.bin");
    EXPECT_EQ(run([&] { engine.ReadFlash(bad); }),
              Events{"Error can't create file '" + bad + "'\n"});
    EXPECT_EQ(run([&] { engine.ReadFlash("/dev/full"); }),
              (Events{"ReadStarted /dev/full 300 3", "ReadProgress 1", "ReadProgress 2",
                      "ReadProgress 3", "Error write into file '/dev/full' failed"}))
        << "a dump that could not be written whole is not reported as read";
}

TEST_F(Engine, UploadOfWholePagesAndOfAnEmptyBodyOverARoute) {
    engine.SetRoutePath("3.1");
    std::string path = image(randomBody(256, 1));
    EXPECT_EQ(run([&] { engine.UploadFirmware(path); }).size(), 4u);
    EXPECT_EQ(sent(110).size(), 2u);
    EXPECT_EQ(getLe32(sent(110)[0].data() + 4), 0x9Bu) << "every request carries the route";
    EXPECT_EQ(sim.status("3.1").firmwareSize, 256u);
    EXPECT_EQ(sim.status().firmwareSize, 0u) << "the router's own flash is untouched";
    path = image(Bytes());
    EXPECT_EQ(run([&] { engine.UploadFirmware(path); }),
              (Events{"UploadStarted " + path + " 0", "UploadFinished"}));
    const Bytes finish = sent(101).back();
    EXPECT_EQ(Bytes(finish.begin() + 12, finish.begin() + 19), (Bytes{0x10, 0, 0, 0, 0, 0, 0}));
}

TEST_F(Engine, AFileThatGrowsDuringTheUploadSendsOnlyTheAnnouncedPages) {
    const std::string path = image(randomBody(300, 8));
    onEvent = [&](const std::string& e) {
        if (e == "UploadProgress 1")
            writeFileBytes(path, concat({readFileBytes(path), randomBody(300, 9)}));
    };
    EXPECT_EQ(run([&] { engine.UploadFirmware(path); }).back(), "UploadFinished");
    EXPECT_EQ(sent(110).size(), 3u);
}

TEST_F(Engine, UploadRefusalsAndAnswerCodes) {
    const std::string tiny = dir.path("tiny.enc");
    writeFileBytes(tiny, Bytes(127, 1));
    // A folder: its size is known but reading it fails.
    const std::string folder = "/";
    uint64_t size = 0;
    ASSERT_TRUE(fileSize(folder, size) && size >= 128);
    const std::string folderPages = std::to_string((size - 1) / 128);
    // The most pages a 16-bit page index reaches, and one more.
    const std::string most = dir.path("most.enc"), tooMany = dir.path("too-many.enc");
    writeFileBytes(most, Bytes(128 + 65536 * 128, 1));
    writeFileBytes(tooMany, Bytes(128 + 65536 * 128 + 1, 1));
    // The file, how many requests reach the instrument, the events.
    const std::tuple<std::string, uint32_t, Events> kCases[] = {
        {dir.path("missing.enc"), 0, {"Error can't open file " + dir.path("missing.enc")}},
        {tiny, 0, {"Error firmware file " + tiny + " is shorter than its 128-byte header"}},
        {folder, 0, {"UploadStarted / " + folderPages, "Error read firmware file / error"}},
        {most,
         1,
         {"UploadStarted " + most + " 65536",
          "Error Nekompatibilni firmware nebo do jineho zarizeni"}},
        {tooMany,
         0,
         {"Error firmware file " + tooMany +
          " needs 65537 pages, more than the 65536 a page index reaches"}},
        {image(randomBody(500, 2), 2),
         1,
         {"UploadStarted " + dir.path("image.enc") + " 4",
          "Error Nekompatibilni firmware nebo do jineho zarizeni"}},
    };
    for (const auto& [file, requests, expected] : kCases) {
        const uint32_t before = sim.requestCount();
        EXPECT_EQ(run([&, f = file] { engine.UploadFirmware(f); }), expected);
        EXPECT_EQ(sim.requestCount(), before + requests) << file;
    }
    const std::string path = image(randomBody(500, 3));
    for (const auto& [code, reply, text] :
         {std::tuple<uint16_t, uint16_t, const char*>{109, 100, "Error Jina chyba"},
          {101, 403, "Error Write flash firmware error"}}) {
        sim.clearFaults();
        sim.addFault(SimFault{Kind::ReplyCode, code, 1, 0, reply});
        EXPECT_EQ(run([&] { engine.UploadFirmware(path); }).back(), text);
    }
    expectLinkWaitOfOneSecond();
}

TEST_F(SmallFlash, ReadBackOfTheWholeAreaAndAnEraseOfFifteenSeconds) {
    const std::string dump = dir.path("area.bin");
    EXPECT_EQ(run([&] { engine.ReadFlash(dump); }).front(), "ReadStarted " + dump + " 256 2")
        << "with no firmware the whole area is read";
    const size_t statusBefore = sent(100).size();
    EXPECT_EQ(run([&] { engine.EraseFlash(); }), (Events{"EraseStarted", "EraseFinished"}));
    EXPECT_EQ(busyInside, (std::vector<bool>{true, false}));
    // The instrument works 1.5 s of real time, 15 000 ticks; the moments before it has
    // the request run at real speed.
    EXPECT_GE(lastWait(), 14000u) << "the engine waited out the whole erase";
    EXPECT_GT(eraseTicks, 10) << "ticks come many times a second while waiting";
    EXPECT_EQ(sent(100).size(), statusBefore + 1) << "the status is read again";
}

// Every request of an upload, a read-back and an erase meets each fault of the instrument
// in turn. The operation either succeeds (the fault was harmless) or ends in exactly one
// error with the request's own text after that request's own wait; no file stays open, the
// link waits 1000 ms again, and the next status request works once the fault is gone.
namespace {
// Operation, request code, which one of that code, its failure's text, how long the engine
// waits for its reply.
using Request = std::tuple<std::string, uint16_t, uint32_t, std::string, uint32_t>;
const Request kRequests[] = {
    {"Upload", 109, 1, "BPROT_MSG_WRITE_START error", 4000},
    {"Upload", 110, 1, "BPROT_MSG_WRITE_PAGE error", 4000},
    {"Upload", 110, 2, "BPROT_MSG_WRITE_PAGE error", 4000},
    {"Upload", 101, 1, "BPROT_WRITE_FINISH_REQ error", 4000},
    {"Upload", 100, 1, kStatusFailed, 4000},
    {"ReadBack", 103, 1, "BPROT_MSG_READ_PAGE - send/receive packet failed", 1000},
    {"ReadBack", 103, 2, "BPROT_MSG_READ_PAGE - send/receive packet failed", 1000},
    {"Erase", 104, 1, "BPROT_MSG_ERASE_FLASH - receive packet failed", 20000},
    // after the erase itself: 1000 ticks, less the moment before the instrument has it
    {"Erase", 100, 1, kStatusFailed, 1900},
};
// A request and a fault as the virtual instrument's --fault option names it.
using Case = std::tuple<Request, std::string>;

class FaultMatrix : public Engine, public ::testing::WithParamInterface<Case> {
  protected:
    FaultMatrix() : Engine(config(256, 100)) {}
};

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    const auto& [request, fault] = info.param;
    std::string name = std::get<0>(request) + "_" + std::to_string(std::get<1>(request)) + "_" +
                       std::to_string(std::get<2>(request)) + "_" + fault;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}
}  // namespace

TEST_P(FaultMatrix, EndsInSuccessOrOneErrorAfterItsOwnWait) {
    const auto& [operation, code, nth, text, waitMs] = std::get<0>(GetParam());
    const std::string path = image(Bytes(200, 0x3C));  // two pages
    const std::string dump = dir.path("dump.bin");
    const int descriptors = openDescriptorCount();
    const SimFault fault = parseSimFault(std::get<1>(GetParam()) + ":code=" + std::to_string(code) +
                                         ":nth=" + std::to_string(nth) + ":delay=30");
    // Late by 300 ticks, frames of another type or tag, and noise are all harmless; a reply
    // cut after its header is harmless where only its arrival or its code counts, and an error
    // where its status record or its page is read.
    const Kind kind = fault.kind;
    const bool harmless = kind == Kind::Late || kind == Kind::WrongType || kind == Kind::WrongTag ||
                          kind == Kind::Noise ||
                          (kind == Kind::Short && code != 100 && code != 103);
    sim.addFault(fault);
    run([&, op = operation] {
        if (op == "Upload")
            engine.UploadFirmware(path);
        else if (op == "ReadBack")
            engine.ReadFlash(dump);
        else
            engine.EraseFlash();
    });
    const std::string last = events.back();
    if (harmless) {
        EXPECT_NE(last.find("Finished"), std::string::npos) << last;
    } else if (kind == Kind::HangUp) {
        EXPECT_EQ(last.rfind("Error read data failed, err: ", 0), 0u) << last;
    } else {
        EXPECT_EQ(last, "Error " + text);
    }
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const std::string& e) { return e.rfind("Error", 0) == 0; }),
              harmless ? 0 : 1);
    if (kind == Kind::Silent) {
        EXPECT_GE(lastWait(), waitMs);
        EXPECT_LT(lastWait(), waitMs + kSlack);
    }
    EXPECT_EQ(openDescriptorCount(), descriptors) << "no file stays open";
    if (operation == "ReadBack") {
        EXPECT_EQ(readFileBytes(dump).size(), harmless ? 256 : 128 * (nth - 1))
            << "a dump never holds more than was received";
    }
    sim.clearFaults();
    if (kind == Kind::HangUp)
        engine.Connect(sim.devicePath());  // the line came back on a fresh terminal
    expectLinkWaitOfOneSecond();
    EXPECT_EQ(engine.RequestStatus().deviceType, 1);
}

INSTANTIATE_TEST_SUITE_P(EveryRequestEveryFault, FaultMatrix,
                         ::testing::Combine(::testing::ValuesIn(kRequests),
                                            ::testing::Values("silent", "late", "corrupt",
                                                              "wrong-type", "wrong-tag", "noise",
                                                              "hang-up", "short")),
                         caseName);

// The map of what lies behind an instrument: a root with children on ports 2 and 5 and a
// grandchild on 2.5 gives exactly those, in path order, each with its own device type,
// every port of each tried once; one hop stops at the children. A child whose second
// answer names another device is doubtful and not looked behind. The connection is direct
// again at the end.
TEST(RouteScan, FindsEveryInstrumentBehindThePortInPathOrder) {
    WaitClock clock;
    SimConfig root = config(64 * 1024, 100), tamrik = root, hs = root, tamrik3 = root;
    tamrik.deviceType = 2;
    hs.deviceType = 3;
    tamrik3.deviceType = 5;
    VirtualInstrument sim(root);
    sim.addChild("2", tamrik);
    sim.addChild("5", hs);
    sim.addChild("2.5", tamrik3);
    sim.start();
    clock.follow(sim);
    NoWorkListener quiet;
    VantorBootloader engine(&quiet);
    engine.SetFrameTrace([&](bool outgoing, const uint8_t*, size_t) {
        if (outgoing)
            clock.hostSent();
    });
    engine.Connect(sim.devicePath());
    // Depth, then each instrument found ("path type") and the ports tried; the last scan
    // with the child on port 2 answering its second request as a Solvar HS3.
    const std::tuple<int, std::vector<std::string>, int> kScans[] = {
        {8, {" 1", "2 2", "2.5 5", "5 3"}, 32},
        {1, {" 1", "2 2", "5 3"}, 8},
        {8, {" 1", "2 2 doubtful", "5 3"}, 16},
    };
    for (const auto& [depth, instruments, ports] : kScans) {
        if (&instruments == &std::get<1>(kScans[2]))
            sim.addFault(parseSimFault("other-device:type=4:nth=2:route=2"));
        int tried = 0;
        RouteScanEvents events;
        events.portTried = [&](int n) { tried = n; };
        std::vector<std::string> found;
        for (const RoutedInstrument& i : scanRoutes(engine, depth, events, false))
            found.push_back(i.path + " " + std::to_string(i.status.deviceType) +
                            (i.doubtful ? " doubtful" : ""));
        EXPECT_EQ(found, instruments) << "depth " << depth;
        EXPECT_EQ(tried, ports) << "depth " << depth;
        EXPECT_FALSE(engine.IsRouted());
        EXPECT_EQ(engine.Status().deviceType, 1) << "the direct instrument's status";
    }
}
