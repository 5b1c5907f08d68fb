// The built ostraloader-cli program against virtual instruments.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "engine/Messages.h"
#include "sim/VirtualInstrument.h"
#include "tests/TestSupport.h"
#include "tools/ImageSigner.h"

namespace {
using Bytes = std::vector<uint8_t>;

struct CliRun {
    int exitCode = -1;
    std::string out;  // standard output and standard error, in that order
};

CliRun run(const char* program, const std::string& args) {
    const std::string command = std::string(program) + " " + args +
                                " 2>/tmp/ostra-cli-err.$$; echo \"#rc=$?\"; cat "
                                "/tmp/ostra-cli-err.$$; rm -f /tmp/ostra-cli-err.$$";
    CliRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        run.out.append(chunk, n);
    }
    ::pclose(pipe);
    const size_t rc = run.out.find("#rc=");
    run.exitCode = std::atoi(run.out.c_str() + rc + 4);
    run.out.erase(rc, run.out.find('\n', rc) - rc + 1);
    return run;
}

CliRun cli(const std::string& args) {
    return run(OSTRA_CLI, args);
}

std::string imagePath(const TempDir& dir, int type, const Bytes& body,
                      const std::string& name = "fw.enc") {
    const std::string path = dir.path(name);
    writeFile(path, makeFirmwareImage(developmentKey(type), body, ImageSpec{}));
    return path;
}
}  // namespace

TEST(Cli, StatusAndRoutedStatus) {
    SimConfig config;
    config.deviceType = 2;
    VirtualInstrument sim(config);
    SimConfig child;
    child.deviceType = 5;
    sim.addChild("2.5", child);
    sim.start();
    CliRun r = cli("--port " + sim.devicePath() + " status");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Device type         TAMRIK\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Not loaded"), std::string::npos);
    r = cli("--port " + sim.devicePath() + " --route 2.5 status");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("TAMRIK 3"), std::string::npos) << r.out;
    r = cli("--port " + sim.devicePath() + " --route 3 status");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("ostraloader-cli: BPROT_MSG_STATUSINFO error, bootloader not responding"),
              std::string::npos);
}

TEST(Cli, SilentPortAndUsageErrors) {
    VirtualInstrument sim(SimConfig{});
    sim.setInBootloader(false);
    sim.start();
    CliRun r = cli("--port " + sim.devicePath() + " status");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("ostraloader-cli: BPROT_MSG_STATUSINFO error, bootloader not responding"),
              std::string::npos);
    EXPECT_EQ(cli("frobnicate").exitCode, 2);
    EXPECT_EQ(cli("upload").exitCode, 2);
    r = cli("--help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("3 the image is not acceptable"), std::string::npos);
}

TEST(Cli, UploadWritesTheBodyAndRefusesBadImagesBeforeSending) {
    TempDir dir;
    VirtualInstrument sim(SimConfig{});
    sim.start();
    const std::string path = imagePath(dir, 1, randomBody(1000, 9));
    CliRun r = cli("--port " + sim.devicePath() + " upload " + path + " --run");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Firmware uploaded and started"), std::string::npos) << r.out;
    const Bytes file = readFile(path);
    const Bytes flash = sim.flash();
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + static_cast<long>(file.size() - 128)),
              Bytes(file.begin() + 128, file.end()));
    EXPECT_FALSE(sim.inBootloader());
    sim.setInBootloader(true);

    Bytes corrupted = file;
    corrupted[600] ^= 1;
    writeFile(dir.path("bad.enc"), corrupted);
    const uint32_t before = sim.requestCount();
    r = cli("--port " + sim.devicePath() + " upload " + dir.path("bad.enc"));
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.out.find("Firmware corrupted"), std::string::npos);
    EXPECT_EQ(sim.requestCount(), before) << "nothing is sent for a refused image";

    const std::string other = imagePath(dir, 4, randomBody(100, 1), "other.enc");
    EXPECT_EQ(cli("--port " + sim.devicePath() + " upload " + other).exitCode, 3);
    r = cli("--port " + sim.devicePath() + " upload " + other + " --force-product");
    EXPECT_EQ(r.exitCode, 1) << "the bootloader judges and refuses";
    EXPECT_NE(r.out.find("Nekompatibilni firmware nebo do jineho zarizeni"), std::string::npos);
    EXPECT_EQ(cli("inspect " + other).exitCode, 0);
    EXPECT_EQ(cli("inspect " + dir.path("bad.enc")).exitCode, 3);
}

TEST(Cli, JsonLinesCarryProgressAndReadBackAndEraseWork) {
    TempDir dir;
    SimConfig config;
    config.eraseDelayMs = 300;
    VirtualInstrument sim(config);
    sim.start();
    const std::string path = imagePath(dir, 1, randomBody(3000, 4));
    const CliRun r = cli("--json --port " + sim.devicePath() + " upload " + path);
    EXPECT_EQ(r.exitCode, 0);
    std::istringstream lines(r.out);
    std::string line;
    int progress = 0;
    nlohmann::json last;
    while (std::getline(lines, line)) {
        last = nlohmann::json::parse(line);
        if (last["event"] == "progress")
            ++progress;
    }
    EXPECT_EQ(progress, 24);
    EXPECT_EQ(last["event"], "result");
    EXPECT_EQ(last["ok"], true);

    EXPECT_EQ(cli("--port " + sim.devicePath() + " read " + dir.path("dump.bin")).exitCode, 0);
    EXPECT_EQ(readFile(dir.path("dump.bin")).size(), readFile(path).size() - 128);
    EXPECT_EQ(cli("--port " + sim.devicePath() + " erase").exitCode, 0);
    EXPECT_EQ(sim.status().firmwareSize, 0u);
}

TEST(ImageTool, RefusesValuesTheHeaderCannotHold) {
    TempDir dir;
    writeFile(dir.path("body"), randomBody(100, 1));
    const std::string sign = "sign --key " + developmentKey(1) + " " + dir.path("body") + " " +
                             dir.path("out.enc") + " ";
    const std::pair<const char*, const char*> kRefusals[] = {
        {"--version 256.0", "--version: '256' is not a whole number from 0 to 255"},
        {"--version 1.300", "--version: '300' is not a whole number from 0 to 255"},
        {"--time -5", "--time: '-5' is not a whole number from 0 to 4294967295"},
        {"--time 4294967296", "--time: '4294967296' is not a whole number from 0 to 4294967295"},
        {"--length 4294967296",
         "--length: '4294967296' is not a whole number from 0 to 4294967295"},
    };
    for (const auto& [options, message] : kRefusals) {
        const CliRun r = run(OSTRA_IMAGE, sign + options);
        EXPECT_EQ(r.exitCode, 1) << options;
        EXPECT_EQ(r.out, std::string("ostraloader-image: ") + message + "\n");
    }
    EXPECT_EQ(run(OSTRA_IMAGE, sign + "--version 255.255 --time 4294967295").exitCode, 0);
    EXPECT_NE(run(OSTRA_IMAGE, "inspect " + dir.path("out.enc")).out.find("version:   255.255"),
              std::string::npos);
}
