// The station core's choices that need no instrument: which described port a "usb:" name
// means, and which image each product gets from named files and folders.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <filesystem>

#include "records/Journal.h"
#include "records/Report.h"
#include "station/ImageSet.h"
#include "station/JobFile.h"
#include "station/PortIdentity.h"
#include "station/ServiceRecord.h"
#include "support/Problem.h"
#include "tests/TestSupport.h"

namespace {
using Bytes = std::vector<uint8_t>;

PortInfo usbPort(const char* name, int vid, int pid, const char* serial, bool present = true,
                 const char* socket = "") {
    PortInfo port;
    port.name = port.device = name;
    port.usb = true;
    port.present = present;
    port.vid = vid;
    port.pid = pid;
    port.serial = serial;
    port.location = socket;
    return port;
}
}  // namespace

// A line of identical adapters: one VID:PID, serial numbers apart. A name with a serial
// number means that device alone, whatever the case of its hexadecimal numbers; a socket
// means what is plugged into it, whatever its numbers.
TEST(Station, AUsbNameMeansTheDevicesWithItsNumbersAndSerial) {
    std::vector<PortInfo> ports = {
        usbPort("/dev/ttyUSB0", 0x0403, 0x6001, "A7F3", true, "1-2.1"),
        usbPort("/dev/ttyUSB1", 0x0403, 0x6001, "B2C9", true, "1-2.2"),
        usbPort("/dev/ttyUSB2", 0x10c4, 0xea60, "A7F3X", true, "1-2.4"),
        usbPort("/dev/ttyUSB3", 0x0403, 0x6001, "C001", false, "1-2.3"),  // pulled out
        usbPort("COM3", 0, 0, "A7F3"),
    };
    ports.back().usb = false;  // a UART: never a USB name's
    const std::pair<const char*, std::vector<std::string>> kNames[] = {
        {"usb:0403:6001", {"/dev/ttyUSB0", "/dev/ttyUSB1"}},
        {"usb:0403:6001:B2C9", {"/dev/ttyUSB1"}},
        {"usb:0403:6001:A7F3", {"/dev/ttyUSB0"}},
        {"usb:0403:6001:a7f3", {}},  // a serial number is matched exactly
        {"usb:10C4:EA60", {"/dev/ttyUSB2"}},
        {"usb:10c4:ea60:B2C9", {}},
        {"usb:A7F3", {"/dev/ttyUSB0"}},
        {"usb:A7F", {}},
        {"usb:0403:6001:C001", {}},
        {"usb:0403:60", {}},
        {"usb-port:1-2.2", {"/dev/ttyUSB1"}},
        {"usb-port:1-2.4", {"/dev/ttyUSB2"}},
        {"usb-port:1-2", {}},
        {"usb-port:1-2.3", {}},
    };
    for (const auto& [name, devices] : kNames) {
        std::vector<std::string> found;
        for (const PortInfo& port : matchUsbIdentity(name, ports))
            found.push_back(port.device);
        EXPECT_EQ(found, devices) << name;
    }
}

// Named files and folders: the newest intact image per product (version, then build), a
// named file before any folder's, each damaged file named once as skipped, and the
// refusals made before anything is sent.
TEST(Station, EachProductGetsItsNewestIntactImage) {
    TempDir dir;
    const auto sign = [&](const std::string& name, int type, uint8_t minor, uint32_t build) {
        ImageSpec spec;
        spec.versionMajor = 2;
        spec.versionMinor = minor;
        spec.build = build;
        writeFileBytes(dir.path(name),
                       makeFirmwareImage(developmentKey(type), randomBody(200, build), spec));
        return dir.path(name);
    };
    std::filesystem::create_directory(dir.path("folder"));
    std::filesystem::create_directory(dir.path("empty"));
    sign("folder/cu-2.1-b4.enc", 1, 1, 4);
    sign("folder/cu-2.0-b9.enc", 1, 0, 9);
    sign("folder/cu-2.1-b3.enc", 1, 1, 3);
    sign("folder/t3.enc", 5, 0, 1);
    writeFileBytes(dir.path("folder/notes.txt"), Bytes(300, 'x'));
    const std::string named = sign("cu-2.0.enc", 1, 0, 1), hs = sign("hs.enc", 3, 0, 1);
    writeFileBytes(dir.path("damaged.enc"), Bytes(300, 1));

    const ImageSet folder = ImageSet::load({dir.path("folder")});
    ASSERT_EQ(folder.images().size(), 2u);
    EXPECT_EQ(folder.forProduct(1)->file, dir.path("folder/cu-2.1-b4.enc"));
    EXPECT_EQ(folder.forProduct(5)->file, dir.path("folder/t3.enc"));
    EXPECT_EQ(folder.forProduct(3), nullptr);
    EXPECT_EQ(folder.products(), "Solvar CU, Tamrik 3");
    EXPECT_FALSE(folder.singleFile());
    EXPECT_EQ(folder.skipped(),
              (std::vector<std::pair<std::string, std::string>>{
                  {dir.path("folder/notes.txt"), "Unknown product or firmware corrupted"}}));

    const ImageSet mixed = ImageSet::load({dir.path("folder"), named, hs});
    EXPECT_EQ(mixed.forProduct(1)->file, named) << "the file named wins over the folder's";
    EXPECT_EQ(mixed.products(), "Solvar CU, Solvar HS, Tamrik 3");
    EXPECT_TRUE(ImageSet::load({hs}).singleFile());

    // Paths, the refusal's exit code, its message and its hint.
    const std::tuple<std::vector<std::string>, int, std::string, std::string> kRefused[] = {
        {{named, dir.path("folder/cu-2.1-b3.enc")},
         2,
         named + " and " + dir.path("folder/cu-2.1-b3.enc") + " are both images for Solvar CU",
         "Name one image per product."},
        {{hs, dir.path("damaged.enc")},
         3,
         dir.path("damaged.enc") + ": Unknown product or firmware corrupted",
         ""},
        {{dir.path("empty")}, 3, dir.path("empty") + ": no intact image", ""},
    };
    for (const auto& [paths, code, message, hint] : kRefused) {
        try {
            ImageSet::load(paths);
            ADD_FAILURE() << message;
        } catch (const Problem& refusal) {
            EXPECT_EQ(refusal.code, code) << message;
            EXPECT_EQ(refusal.message, message);
            EXPECT_EQ(refusal.hint, hint);
        }
    }
}

// A disk that fills while a killed station's journal becomes records: a record that goes in
// only in part is cut off again, and a recovery that stops midway (at the journal's
// rewrite, or at an append) is taken up where it stopped, each entry in the report once.
TEST(Station, AFullDiskLeavesEachRecordWholeAndOnce) {
    const auto record = [](const char* port) {
        return std::string("{\"port\":\"") + port + "\",\"result\":\"interrupted\"}\n";
    };
    const std::string journal = record("COM5") + record("COM6") + record("COM7");
    const size_t line = record("COM5").size();
    const struct {
        std::string before;   // the report's records before
        size_t room;          // the largest file the disk takes, in bytes
        std::string stopped;  // the report once the recovery stopped
        size_t rest;          // the entries the next run recovers
    } kDisks[] = {
        {"", line * 3 / 2, record("COM5"), 2},
        {record("COM1"), line * 10 / 3, record("COM1") + record("COM5") + record("COM6"), 1},
    };
    ::signal(SIGXFSZ, SIG_IGN);
    for (const auto& d : kDisks) {
        TempDir dir;
        const std::string report = dir.path("report.jsonl");
        writeFileBytes(report, Bytes(d.before.begin(), d.before.end()));
        writeFileBytes(dir.path("report.jsonl.dead.journal"),
                       Bytes(journal.begin(), journal.end()));
        rlimit was{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &was), 0);
        rlimit full = was;
        full.rlim_cur = d.room;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
        const ReportRepair stopped = repairReport(report);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &was), 0);
        EXPECT_TRUE(stopped.problem) << d.room;
        const Bytes first = readFileBytes(report);
        EXPECT_EQ(std::string(first.begin(), first.end()), d.stopped) << "whole records alone";
        EXPECT_EQ(repairReport(report).recovered, d.rest) << d.room;
        const Bytes all = readFileBytes(report);
        EXPECT_EQ(std::string(all.begin(), all.end()), d.before + journal) << "each once";
        for (const auto& entry : std::filesystem::directory_iterator(dir.dir))
            EXPECT_EQ(entry.path().filename(), "report.jsonl");
    }
}

// A journal whose station lives (its lock held) is left alone; once that station has
// ended without ending its entries, they become records, once, and its files go, as does a
// lock whose journal is gone.
TEST(Station, OnlyTheJournalsOfEndedStationsBecomeRecords) {
    TempDir dir;
    const std::string report = dir.path("report.jsonl");
    std::optional<Problem> problem;
    auto live = std::make_unique<Journal>(report);
    live->begin({{"port", "COM5"}, {"result", kStationEndedFirst}}, problem);
    live->begin({{"port", "COM6"}, {"result", kStationEndedFirst}}, problem);
    live->end(live->begin({{"port", "COM7"}}, problem), problem);
    EXPECT_FALSE(problem);
    EXPECT_EQ(repairReport(report).recovered, 0u) << "its station lives";
    live.reset();  // it ends as a killed station does: its entries left, its lock gone
    EXPECT_EQ(repairReport(report).recovered, 2u);
    // A lock left without its journal by a station that ended between removing the two.
    writeFileBytes(report + ".0123456789abcdef.journal.lock", {});
    EXPECT_EQ(repairReport(report).recovered, 0u) << "once";
    // A station without a report keeps no journal, not even in its working folder.
    const std::filesystem::path workingFolder = std::filesystem::current_path();
    std::filesystem::current_path(dir.dir);
    Journal none("");
    none.begin({{"port", "COM8"}}, problem);
    std::filesystem::current_path(workingFolder);
    const Bytes lines = readFileBytes(report);
    EXPECT_EQ(std::string(lines.begin(), lines.end()),
              "{\"port\":\"COM5\",\"result\":\"interrupted: the station ended before the "
              "instrument did\"}\n{\"port\":\"COM6\",\"result\":\"interrupted: the station "
              "ended before the instrument did\"}\n");
    for (const auto& entry : std::filesystem::directory_iterator(dir.dir))
        EXPECT_EQ(entry.path().filename(), "report.jsonl");
}

// A job saved and opened again is the same job, its paths kept relative to its folder, so
// that the folder may move; a damaged, newer or unknown job is refused, never half-read,
// and one that names what is missing says what.
TEST(Station, AJobSavedAndOpenedAgainIsTheSameWhereverItsFolderGoes) {
    TempDir dir;
    const std::string first = dir.path("line"), moved = dir.path("moved");
    std::filesystem::create_directories(first + "/images");
    writeFileBytes(first + "/images/cu.enc", Bytes(10, 1));
    JobFile job;
    job.images = {first + "/images", "/srv/elsewhere/tamrik3.enc"};
    job.instruments = JobFile::Instruments::Slots;
    job.slots = {{"Slot 1", "usb-port:1-2.1"}, {"Slot 2", "usb-port:1-2.2"}};
    job.verify = job.runAfter = job.labels = job.locked = true;
    job.attempts = 3;
    job.report = first + "/service.jsonl";
    job.batch = "WO-7";
    job.quantity = 200;
    saveJob(first + "/line.ostrajob", job);
    JobFile saved = job;
    saved.images = {"images", "/srv/elsewhere/tamrik3.enc"};  // within its folder: relative
    saved.report = "service.jsonl";
    EXPECT_EQ(loadJob(first + "/line.ostrajob"), saved);
    std::filesystem::rename(first, moved);
    const StationRequest request = [&] {
        JobFile found = loadJob(moved + "/line.ostrajob");
        found.images.pop_back();  // the one outside its folder is not there on this machine
        return requestOf(found, moved + "/line.ostrajob");
    }();
    EXPECT_EQ(request.images, std::vector<std::string>{moved + "/images"});
    EXPECT_EQ(request.report, moved + "/service.jsonl");
    EXPECT_EQ(request.slots, job.slots);
    EXPECT_EQ(request.batch, "WO-7");
    EXPECT_EQ(request.quantity, 200);
    // The file's text (none: no file), and the refusal's message.
    const std::pair<std::string, std::string> kRefused[] = {
        {"", "cannot be read"},
        {"{\"ostrajob\": 1, \"images\": [", "is not an Ostraloader station job"},
        {"{\"images\": []}", "is not an Ostraloader station job"},
        {"{\"ostrajob\": 2}", "is a job of version 2; this Ostraloader reads version 1"},
        {"{\"ostrajob\": 1, \"colour\": \"red\"}",
         "has a field \"colour\" this Ostraloader does not know"},
        {"{\"ostrajob\": 1, \"batch\": {\"size\": 3}}",
         "has a batch field \"size\" this Ostraloader does not know"},
        {"{\"ostrajob\": 4294967297}",
         "is a job of version 4294967297; this Ostraloader reads version 1"},
        {"{\"ostrajob\": 1, \"verify\": \"yes\"}", "has a \"verify\" of the wrong kind: \"yes\""},
        {"{\"ostrajob\": 1, \"verify\": \"" + std::string(5000, 'y') + "\"}",
         "has a \"verify\" of the wrong kind: \"" + std::string(39, 'y') + "..."},
        {"{\"ostrajob\": 1, \"attempts\": \"two\"}",
         "has \"attempts\": \"two\", not a whole number from 1 to 99"},
        {"{\"ostrajob\": 1, \"attempts\": 2.9}",
         "has \"attempts\": 2.9, not a whole number from 1 to 99"},
        {"{\"ostrajob\": 1, \"attempts\": true}",
         "has \"attempts\": true, not a whole number from 1 to 99"},
        {"{\"ostrajob\": 1, \"attempts\": 100}",
         "has \"attempts\": 100, not a whole number from 1 to 99"},
        {"{\"ostrajob\": 1, \"batch\": {\"quantity\": 4294967297}}",
         "has \"batch.quantity\": 4294967297, not a whole number from 1 to 1000000"},
        {"{\"ostrajob\": 1, \"instruments\": \"all\"}",
         "has instruments \"all\": ticked, slots or automatic"},
        // As deep as a job goes, and one level deeper; a hundred thousand levels.
        {"{\"ostrajob\": 1, \"x\": [[[[[[[[]]]]]]]]}",
         "has a field \"x\" this Ostraloader does not know"},
        {"{\"ostrajob\": 1, \"x\": [[[[[[[[[]]]]]]]]]}",
         "is nested deeper than a job is (over 8 levels)"},
        {"{\"ostrajob\": 1, \"images\": " + std::string(100000, '[') + std::string(100000, ']') +
             "}",
         "is nested deeper than a job is (over 8 levels)"},
        {"{\"ostrajob\": 1, \"x\": \"" + std::string(1 << 20, 'x') + "\"}",
         "is larger than a job is (over 1 MiB)"},
    };
    for (const auto& [text, why] : kRefused) {
        std::remove(dir.path("bad.ostrajob").c_str());
        if (!text.empty())
            writeFileBytes(dir.path("bad.ostrajob"), Bytes(text.begin(), text.end()));
        try {
            loadJob(dir.path("bad.ostrajob"));
            ADD_FAILURE() << text;
        } catch (const Problem& refusal) {
            EXPECT_EQ(refusal.code, 2);
            EXPECT_EQ(refusal.message, "the job " + dir.path("bad.ostrajob") + " " + why);
        }
    }
    try {
        requestOf(loadJob(moved + "/line.ostrajob"), moved + "/line.ostrajob");
        ADD_FAILURE() << "a missing image";
    } catch (const Problem& refusal) {
        EXPECT_EQ(refusal.message, "the job " + moved +
                                       "/line.ostrajob names what is missing: "
                                       "/srv/elsewhere/tamrik3.enc (an image file or folder)");
    }
}

// A copy is given the options its command takes, from the options' one table: an upload's
// switches only to an upload (a job's --verify does not reach a status), the route and the
// trace to every command, and never what is the station's own (labels, the batch).
TEST(Station, ACopyIsGivenTheOptionsOfItsCommand) {
    const auto order = [](Command command, bool settings) {
        CopyOrder o;
        o.command = command;
        if (settings) {
            o.verify = o.runAfter = o.trace = o.labels = true;
            o.route = "2.5";
            o.batch = "WO-7";
        }
        if (command == Command::Upload)
            o.images = {"cu.enc"};
        if (command == Command::Read)
            o.readFile = "{port}.bin";
        return o;
    };
    const std::pair<CopyOrder, std::string> kOrders[] = {
        {order(Command::Upload, true), "--route 2.5 --trace upload cu.enc --run --verify"},
        {order(Command::Upload, false), "upload cu.enc"},
        {order(Command::Status, true), "--route 2.5 --trace status"},
        {order(Command::Read, false), "read {port}.bin"},
        {CopyOrder::probeOrder(), "status"},
    };
    for (const auto& [o, args] : kOrders) {
        std::string joined;
        for (const std::string& arg : serviceArguments(o, "COM3"))
            joined += (joined.empty() ? "" : " ") + arg;
        EXPECT_EQ(joined, "--json --station-copy --port COM3 " + args);
    }
}
