// The built ostraloader-cli and ostraloader-image programs, run as a user runs them, against
// one virtual instrument with routed children.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>

#include <functional>
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
