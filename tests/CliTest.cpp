// The built ostraloader-cli and ostraloader-image programs, run as a user runs them, against
// one virtual instrument with routed children.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/wait.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>

#include <functional>
#include <map>
#include <thread>

#include "link/FailureHint.h"
#include "sim/VirtualInstrument.h"
#include "tests/TestSupport.h"
#include "tools/ImageSigner.h"

namespace {
using Bytes = std::vector<uint8_t>;

// Exit code, and what the program wrote to its standard output and error.
std::pair<int, std::string> run(const TempDir& dir, const char* program, const std::string& args) {
    const std::string output = dir.path("output.txt");
    const int status =
        std::system((std::string(program) + " " + args + " >" + output + " 2>&1").c_str());
    const Bytes text = readFileBytes(output);
    return {WEXITSTATUS(status), std::string(text.begin(), text.end())};
}

SimConfig type(uint8_t deviceType) {
    SimConfig c;
    c.deviceType = deviceType;
    c.eraseDelayMs = 300;
    return c;
}
}  // namespace

// Each row runs in turn against the same instrument: what it prints and its exit code
// (0 success, 1 the device failed, 2 wrong usage, 3 a refused image), and what it left.
TEST(Cli, EveryCommandItsTextAndItsExitCode) {
    TempDir dir;
    VirtualInstrument sim(type(1));
    sim.addChild("2", type(2));
    sim.addChild("2.5", type(5));
    sim.start();
    const std::string fw = dir.path("fw.enc"), bad = dir.path("bad.enc"),
                      other = dir.path("other.enc"), dump = dir.path("dump.bin");
    writeFileBytes(fw, makeFirmwareImage(developmentKey(1), randomBody(3000, 9), ImageSpec{}));
    writeFileBytes(other, makeFirmwareImage(developmentKey(4), Bytes(100, 1), ImageSpec{}));
    const Bytes file = readFileBytes(fw);
    Bytes damaged = file;
    damaged[600] ^= 1;
    writeFileBytes(bad, damaged);
    writeFileBytes(dir.path("body"), Bytes(100, 1));
    const std::string port = "--port " + sim.devicePath() + " ";
    const std::string sign = "sign --key " + developmentKey(1) + " " + dir.path("body") + " " +
                             dir.path("out.enc") + " ";
    const char* const notResponding =
        "ostraloader-cli: BPROT_MSG_STATUSINFO error, bootloader not responding\n";
    const char* const kImage = OSTRA_IMAGE;
    const struct {
        std::string args;
        int exitCode;
        std::string text;  // found in the output
        const char* program = OSTRA_CLI;
    } kRuns[] = {
        {port + "status", 0,
         "Device type         SOLVAR CU\nBootloader version  1.2\nFirmware version    0.0\n"
         "Firmware loaded     \nFirmware size       0 bytes\nFirmware status     Not loaded\n"},
        {port + "--route 2 status", 0, "Device type         TAMRIK\n"},
        {port + "--route 2.5 status", 0, "TAMRIK 3\nBootloader version  "},
        {port + "--route 3 status", 1, notResponding},
        {"frobnicate", 2, ""},
        {"upload", 2, ""},
        {"--help", 0, "3 the image is not acceptable"},
        {port + "upload " + bad, 3, bad + ": Firmware corrupted\n"},
        {port + "upload " + other, 3, "image is for Solvar HS3, the instrument is a Solvar CU"},
        {port + "upload " + other + " --force-product", 1,
         "Nekompatibilni firmware nebo do jineho zarizeni"},
        {"inspect " + other, 0, "Product             Solvar HS3\n"},
        {"inspect " + bad, 3, "Firmware corrupted"},
        {port + "erase", 0, "Firmware successfully erased\n"},
        {port + "upload " + fw, 0, "Firmware uploaded successfully\n"},
        {"--json " + port + "upload " + fw, 0, "{\"event\":\"result\",\"exit\":0,\"ok\":true}\n"},
        {port + "read " + dump, 0, "Firmware successfully read\n"},
        {port + "upload " + fw + " --run", 0, "Firmware uploaded and started\n"},
        {port + "status", 1, notResponding},  // the firmware runs
        {sign + "--version 256.0", 1,
         "ostraloader-image: --version: '256' is not a whole number from 0 to 255\n", kImage},
        {sign + "--version 1.300", 1, "--version: '300' is not a whole number from 0 to 255\n",
         kImage},
        {sign + "--time -5", 1, "--time: '-5' is not a whole number from 0 to 4294967295\n",
         kImage},
        {sign + "--time 4294967296", 1,
         "--time: '4294967296' is not a whole number from 0 to 4294967295\n", kImage},
        {sign + "--length 4294967296", 1,
         "--length: '4294967296' is not a whole number from 0 to 4294967295\n", kImage},
        {sign + "--version 255.255 --time 4294967295", 0, "", kImage},
        {"inspect " + dir.path("out.enc"), 0, "version:   255.255", kImage},
    };
    for (const auto& r : kRuns) {
        const uint32_t requestsBefore = sim.requestCount();
        const auto [code, out] = run(dir, r.program, r.args);
        EXPECT_EQ(code, r.exitCode) << r.args << "\n" << out;
        EXPECT_NE(out.find(r.text), std::string::npos) << r.args << "\n" << out;
        if (r.args.rfind("--json", 0) == 0) {
            // One JSON object a line, one progress object for each of the 24 pages.
            std::istringstream lines(out);
            int progress = 0;
            for (std::string line; std::getline(lines, line);)
                progress += nlohmann::json::parse(line)["event"] == "progress";
            EXPECT_EQ(progress, 24);
        }
        if (r.args.find(bad) != std::string::npos) {
            EXPECT_EQ(sim.requestCount(), requestsBefore) << "nothing is sent for a damaged image";
        }
    }
    EXPECT_EQ(readFileBytes(dump), Bytes(file.begin() + 128, file.end())) << "the body as uploaded";
}

// A port failure keeps its message as the first line and says why on the next: a port that
// is not a serial line, one another program holds, and a line that goes away during an
// upload (the instrument hangs up at its third page, twice). (A port that is not there: the
// window's test.) "{line}" stands for the instrument's line at the time.
TEST(Cli, PortFailuresSayWhyOnTheNextLine) {
    TempDir dir;
    VirtualInstrument sim(type(1));
    sim.addFault(parseSimFault("hang-up:code=110:nth=3"));
    sim.addFault(parseSimFault("hang-up:code=110:nth=6"));
    sim.start();
    const std::string fw = dir.path("fw.enc"), pid = dir.path("pid");
    writeFileBytes(fw, makeFirmwareImage(developmentKey(1), randomBody(3000, 9), ImageSpec{}));
    const std::string lost =
        "The connection to the instrument on {line} was lost: it was "
        "unplugged, reset or powered off. Connect it again and repeat the "
        "operation.";
    const std::pair<std::string, std::vector<std::string>> kFailures[] = {
        {"--port /dev/null status",
         {"ostraloader-cli: GetCommState failed\nThe driver of /dev/null refused the line "
          "settings: is it the instrument's serial port?\n"}},
        {"held: --port {line} status",
         {"ostraloader-cli: open port '{line}' failed\n{line} is held by ", "flock (process ",
          ": close it, or pick another port.\n"}},
        {"--port {line} upload " + fw,
         {"ostraloader-cli: read data failed, err: 5\n" + lost + "\n"}},
        {"--json --port {line} upload " + fw,
         {"{\"event\":\"error\",\"hint\":\"" + lost +
          "\",\"message\":\"read data failed, err: 5\"}\n"}},
    };
    for (auto [args, texts] : kFailures) {
        const std::string line = sim.devicePath();
        const auto place = [&](std::string text) {
            for (size_t at; (at = text.find("{line}")) != std::string::npos;)
                text.replace(at, 6, line);
            return text;
        };
        if (args.rfind("held: ", 0) == 0) {
            args = args.substr(6);  // flock(1) holds the line while the loader tries it
            ASSERT_EQ(
                std::system(
                    ("flock -o " + line + " sleep 30 >/dev/null 2>&1 & echo $! >" + pid).c_str()),
                0);
            // Held by this program (the instrument's own end) and by flock.
            for (int i = 0; i < 100 && portHolders(line).size() < 2; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const std::string out = run(dir, OSTRA_CLI, place(args)).second;
        std::system(("[ -f " + pid + " ] && kill $(cat " + pid + ") && rm " + pid).c_str());
        for (const std::string& text : texts)
            EXPECT_NE(out.find(place(text)), std::string::npos) << place(text) << "\n---\n" << out;
    }
}

namespace {
// Virtual instruments on COM aliases of a private folder, as a station's tray is wired;
// firmware 1.5 loaded in each.
struct Tray {
    explicit Tray(const TempDir& dir) { ::setenv("XDG_RUNTIME_DIR", dir.dir.c_str(), 1); }
    ~Tray() {
        instruments.clear();
        ::unsetenv("XDG_RUNTIME_DIR");
    }
    VirtualInstrument& add(const std::string& com, const char* fault = nullptr) {
        SimConfig c = type(1);
        c.firmwareMajor = 1;
        c.firmwareMinor = 5;
        c.firmwareLoaded = true;
        c.firmwareSize = 65536;
        instruments.push_back(std::make_unique<VirtualInstrument>(c));
        if (fault != nullptr)
            instruments.back()->addFault(parseSimFault(fault));
        instruments.back()->registerAlias(com);
        instruments.back()->start();
        return *instruments.back();
    }
    std::vector<std::unique_ptr<VirtualInstrument>> instruments;
};

std::vector<nlohmann::json> jsonLines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(nlohmann::json::parse(line));
    return lines;
}

std::string sha256Hex(const Bytes& bytes) {
    uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
    return hexBytes(digest, size);
}
}  // namespace

// Four instruments at once, one of them silent: three are updated, the silent one fails with
// its own text, the table names all four, the exit code is the worst, and the report holds a
// line for each.
TEST(Cli, AStationServesEveryPortAtOnceAndRecordsEachInstrument) {
    TempDir dir;
    Tray tray(dir);
    tray.add("COM11");
    tray.add("COM14", "silent");  // not last: the worst code wins, not the last one
    tray.add("COM12");
    tray.add("COM13");
    const std::string fw = dir.path("fw.enc"), report = dir.path("report.jsonl");
    ImageSpec v21;
    v21.versionMajor = 2;
    v21.versionMinor = 1;
    v21.build = 77;
    writeFileBytes(fw, makeFirmwareImage(developmentKey(1), randomBody(3000, 4), v21));
    const std::string ports = "--port COM11 --port COM14 --port COM12 --port COM13 ";
    const auto [code, out] = run(dir, OSTRA_CLI, ports + "--report " + report + " upload " + fw);
    EXPECT_EQ(code, 1) << out;
    for (const char* text :
         {"\nport   device        result\n", "\nCOM11  SOLVAR CU     ok  (",
          "\nCOM12  SOLVAR CU     ok  (", "\nCOM13  SOLVAR CU     ok  (",
          "\nCOM14  -             BPROT_MSG_STATUSINFO error, bootloader not responding  (",
          "ostraloader-cli: COM14: BPROT_MSG_STATUSINFO error, bootloader not responding\n"})
        EXPECT_NE(out.find(text), std::string::npos) << text << "\n---\n" << out;
    for (size_t i : {0, 2, 3})
        EXPECT_EQ(tray.instruments[i]->status().firmwareMinor, 1) << "2.1 loaded";
    EXPECT_EQ(tray.instruments[1]->status().firmwareMinor, 5) << "1.5 kept";

    std::map<std::string, nlohmann::json> byPort;
    const Bytes lines = readFileBytes(report);
    for (const nlohmann::json& line : jsonLines(std::string(lines.begin(), lines.end())))
        byPort[line["port"]] = line;
    ASSERT_EQ(byPort.size(), 4u);
    const nlohmann::json image = {{"file", fw},
                                  {"sha256", sha256Hex(readFileBytes(fw))},
                                  {"product", "Solvar CU"},
                                  {"version", "2.1"},
                                  {"build", 77},
                                  {"length", 3000}};
    for (const char* com : {"COM11", "COM12", "COM13", "COM14"}) {
        nlohmann::json line = byPort[com];
        const bool silent = std::string(com) == "COM14";
        const nlohmann::json none;
        EXPECT_EQ(std::string(line["time"]).size(), 20u) << line["time"];  // 2026-12-08T03:14:07Z
        EXPECT_GT(line["seconds"].get<double>(), silent ? 0.9 : 0.0);
        line.erase("time");
        line.erase("seconds");
        EXPECT_EQ(line,
                  (nlohmann::json{{"port", com},
                                  {"device", dir.path("ostraloader/ports/") + com},
                                  {"serial", none},
                                  {"deviceType", silent ? none : "SOLVAR CU"},
                                  {"bootloader", silent ? none : "1.2"},
                                  {"firmwareBefore", silent ? none : "1.5"},
                                  {"firmwareAfter", silent ? none : "2.1"},
                                  {"command", "upload"},
                                  {"attempt", 1},
                                  {"image", image},
                                  {"result", silent ? "BPROT_MSG_STATUSINFO error, bootloader not "
                                                      "responding"
                                                    : "ok"},
                                  {"exit", silent ? 1 : 0}}));
    }

    // In JSON every instrument's event names its port; the summary and result close.
    const std::vector<nlohmann::json> events =
        jsonLines(run(dir, OSTRA_CLI, "--json " + ports + "status").second);
    ASSERT_GE(events.size(), 2u);
    for (size_t i = 0; i + 2 < events.size(); ++i)
        EXPECT_TRUE(events[i].contains("port")) << events[i];
    EXPECT_EQ(events.back(), (nlohmann::json{{"event", "result"}, {"exit", 1}, {"ok", false}}));
    EXPECT_EQ(events[events.size() - 2]["instruments"].size(), 4u);
}

// Ports found by what answers, an older image refused until allowed, a read-back that
// verifies or finds the changed byte, and refusals made before anything is sent.
TEST(Cli, PortsByIdentityDowngradeVerifyAndRefusalsBeforeSending) {
    TempDir dir;
    Tray tray(dir);
    VirtualInstrument& plain = tray.add("COM21");
    tray.add("COM22", "silent");
    const std::string fw = dir.path("fw.enc"), old = dir.path("old.enc");
    writeFileBytes(fw, makeFirmwareImage(developmentKey(1), randomBody(3000, 5), ImageSpec{2, 0}));
    writeFileBytes(old, makeFirmwareImage(developmentKey(1), randomBody(900, 6), ImageSpec{1, 0}));
    const std::string dumps = dir.path("dump-{port}.bin");
    const struct {
        std::string args;
        int exitCode;
        std::string text;   // found in the output
        bool sends = true;  // whether anything reaches the plain instrument on COM21
    } kRuns[] = {
        {"--port auto status", 0, "Connected to auto (COM21)\nDevice type         SOLVAR CU\n"},
        {"ports --probe", 0,
         "COM21  " + dir.path("ostraloader/ports/COM21") +
             "  SOLVAR CU  bootloader 1.2  firmware 1.5  65536 bytes\nCOM22  " +
             dir.path("ostraloader/ports/COM22") + "  no bootloader answers\n"},
        {"--port usb:A7F3 status", 1,
         "ostraloader-cli: usb:A7F3: no USB serial port matches; USB serial ports found: none\n",
         false},
        {"--port COM21 upload " + old, 3,
         "ostraloader-cli: " + old +
             ": image version 1.0 is older than firmware 1.5 loaded in the instrument\n"
             "--allow-downgrade lets it through.\n"},
        {"--port COM21 upload " + old + " --allow-downgrade --verify", 0, "\nFirmware verified\n"},
        {"--port COM23 upload " + fw + " --verify", 1,
         "ostraloader-cli: verify failed: the flash differs from " + fw +
             " at body offset 1500 (0x5dc)\n",
         false},
        {"--port COM21 --report " + dir.path("missing/report.jsonl") + " erase", 2,
         "ostraloader-cli: cannot append to the report " + dir.path("missing/report.jsonl") +
             ": No such file or directory\nName a file in a folder that exists",
         false},
        {"--port COM21 --port COM23 read " + dir.path("dump.bin"), 2,
         "the file name " + dir.path("dump.bin") + " needs {port} or {serial}", false},
        {"--port COM21 --port COM23 read " + dumps, 0, "\nCOM23  SOLVAR CU     ok  ("},
    };
    for (const auto& r : kRuns) {
        if (r.args.find("COM23") != std::string::npos && tray.instruments.size() < 3)
            tray.add("COM23", "flip-flash");  // after the probes: it would answer them too
        const uint32_t before = plain.requestCount();
        const auto [code, out] = run(dir, OSTRA_CLI, r.args);
        EXPECT_EQ(code, r.exitCode) << r.args << "\n" << out;
        EXPECT_NE(out.find(r.text), std::string::npos) << r.args << "\n---\n" << out;
        EXPECT_EQ(plain.requestCount() > before, r.sends) << r.args;
    }
    EXPECT_EQ(plain.status().firmwareMinor, 0) << "1.0 loaded after the allowed downgrade";
    EXPECT_EQ(readFileBytes(dir.path("dump-COM21.bin")).size(), 904u);  // whole GOST blocks
    EXPECT_EQ(readFileBytes(dir.path("dump-COM23.bin")).size(), 3000u);
}
