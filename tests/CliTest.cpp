// The built ostraloader-cli and ostraloader-image programs, run as a user runs them, against
// one virtual instrument with routed children.
#include <sys/stat.h>

#include "support/LittleEndian.h"
#include "tests/CliSupport.h"
#include "tools/ImageSigner.h"

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
        // Not a terminal: a line at each tenth reached, 24 pages.
        {port + "upload " + fw, 0,
         "upload: 5/24 pages (20%)\nupload: 12/24 pages (50%)\nupload: 17/24 pages "
         "(70%)\nupload: 24/24 pages (100%)\nFirmware uploaded successfully\n"},
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
        EXPECT_EQ(out.find('\r'), std::string::npos) << "a pipe gets whole lines: " << r.args;
        if (r.args.rfind("--json", 0) == 0) {
            // One JSON object a line, one progress object for each of the 24 pages.
            std::istringstream lines(out);
            int progress = 0, records = 0;
            for (std::string line; std::getline(lines, line);) {
                progress += nlohmann::json::parse(line)["event"] == "progress";
                records += nlohmann::json::parse(line)["event"] == "record";
            }
            EXPECT_EQ(progress, 24);
            EXPECT_EQ(records, 0) << "the record is the report's, not an event for tools";
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

// `auto` waits for every probe: the one instrument that answers, last of all, is found.
TEST(Cli, AutoWaitsForItsLastProbe) {
    TempDir dir;
    Tray tray(dir);
    tray.add("COM26", "hang-up");
    tray.add("COM27", "late:code=100:nth=1:delay=400");
    const auto [code, out] = run(dir, OSTRA_CLI, "--port auto status");
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("Connected to auto (COM27)\n"), std::string::npos) << out;
}

// `ports` says whether this user may open each port, and what to do where not: run as root
// and as nobody (the program copied where nobody may run it, the ports' folder opened).
TEST(Cli, PortsSayWhetherTheUserMayOpenThem) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "acting as another user needs root";
    TempDir dir;
    Tray tray(dir);
    tray.add("COM29");
    const std::string cli = dir.path("ostraloader-cli");
    const Bytes program = readFileBytes(OSTRA_CLI);
    writeFileBytes(cli, program);
    for (const std::string& path :
         {cli, dir.dir, dir.path("ostraloader"), dir.path("ostraloader/ports")})
        ASSERT_EQ(::chmod(path.c_str(), 0755), 0) << path;
    const std::string listed = "COM29  " + dir.path("ostraloader/ports/COM29") + "  ";
    const struct {
        std::string user;
        std::string text;
    } kUsers[] = {
        {"", listed + "available\n"},
        {"setpriv --reuid=65534 --regid=65534 --clear-groups ",
         listed + "no permission: join the group '"},
    };
    for (const auto& u : kUsers) {
        const auto [code, out] = run(dir, (u.user + cli).c_str(), "ports");
        EXPECT_EQ(code, 0) << out;
        EXPECT_NE(out.find(u.text), std::string::npos) << u.text << "\n---\n" << out;
    }
}

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
    // Its time alone: an instrument done at its first attempt has no count of attempts.
    const std::string row = "\nCOM11  SOLVAR CU     ok  (";
    const size_t at = out.find(row) + row.size();
    const std::string time = out.substr(at, out.find('\n', at) - at);
    EXPECT_EQ(time.substr(time.size() - 3), " s)") << out;
    EXPECT_EQ(time.find("attempt"), std::string::npos) << out;
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
// verifies or finds the changed byte, refusals made before anything is sent, and one
// instrument tried again.
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
        {"--port auto status", 1,
         "ostraloader-cli: auto: bootloaders answer on several ports; probed: COM21 (SOLVAR CU), "
         "COM22 (no answer), COM23 (SOLVAR CU)\n"},
        {"--port COM24 upload " + fw + " --verify", 1,
         "ostraloader-cli: verify failed: the flash differs from " + fw +
             " at body offset 0 (0x0)\n",
         false},
        {"--port COM25 upload " + fw + " --verify", 1,
         "ostraloader-cli: verify failed: the flash differs from " + fw +
             " at body offset 2999 (0xbb7)\n",
         false},
        {"--port COM21 --port COM25 --port COM21 status", 2,
         "ostraloader-cli: COM21 is named twice: name each instrument once\n", false},
        {"--port COM21 --port " + dir.path("ostraloader/ports/COM21") + " status", 2,
         "ostraloader-cli: COM21 and " + dir.path("ostraloader/ports/COM21") +
             " are both /dev/pts/",
         false},
        {"--port COM21 --report " + dir.path("missing/report.jsonl") + " erase", 2,
         "ostraloader-cli: cannot append to the report " + dir.path("missing/report.jsonl") +
             ": No such file or directory\nName a file in a folder that exists",
         false},
        {"--port COM21 --port COM23 read " + dir.path("dump.bin"), 2,
         "the file name " + dir.path("dump.bin") + " needs {port} or {serial}", false},
        {"--port COM21 --port COM23 read " + dumps, 0, "\nCOM23  SOLVAR CU     ok  ("},
        // No USB serial number: each instrument's file is named after its port instead.
        {"--port COM21 --port COM23 read " + dir.path("serial-{serial}.bin"), 0,
         "\nCOM21  SOLVAR CU     ok  ("},
        // One instrument's run takes its further attempt as a station's.
        {"--port COM28 --attempts 2 status", 0, "attempt 1 failed; trying again in a second\n",
         false},
    };
    // Plugged in when a row first names them: the probes before would find them too. Each
    // keeps one byte of an upload wrong: in the middle, the first, the last.
    std::map<std::string, const char*> unplugged = {{"COM23", "flip-flash"},
                                                    {"COM24", "flip-flash:at=0"},
                                                    {"COM25", "flip-flash:at=2999"},
                                                    {"COM28", "silent:code=100:nth=1"}};
    for (const auto& r : kRuns) {
        for (auto it = unplugged.begin(); it != unplugged.end();) {
            if (r.args.find(it->first) != std::string::npos) {
                tray.add(it->first, it->second);
                it = unplugged.erase(it);
            } else {
                ++it;
            }
        }
        const uint32_t before = plain.requestCount();
        const auto [code, out] = run(dir, OSTRA_CLI, r.args);
        EXPECT_EQ(code, r.exitCode) << r.args << "\n" << out;
        EXPECT_NE(out.find(r.text), std::string::npos) << r.args << "\n---\n" << out;
        EXPECT_EQ(plain.requestCount() > before, r.sends) << r.args;
    }
    EXPECT_EQ(plain.status().firmwareMinor, 0) << "1.0 loaded after the allowed downgrade";
    EXPECT_EQ(readFileBytes(dir.path("dump-COM21.bin")).size(), 904u);  // whole GOST blocks
    EXPECT_EQ(readFileBytes(dir.path("dump-COM23.bin")).size(), 3000u);
    EXPECT_EQ(readFileBytes(dir.path("serial-COM21.bin")).size(), 904u);
    EXPECT_EQ(readFileBytes(dir.path("serial-COM23.bin")).size(), 3000u);
}

// A tray that mixes products, served from a folder (which image wins: the station's test):
// each instrument gets its product's image, the damaged file is named once, and an
// instrument whose product has no image is refused before anything but its status request
// is sent.
TEST(Cli, AMixedTrayGetsEachProductsImageFromAFolder) {
    TempDir dir;
    Tray tray(dir);
    tray.add("COM11");
    tray.add("COM12", nullptr, 5);
    VirtualInstrument& hs = tray.add("COM13", nullptr, 3);
    ::mkdir(dir.path("images").c_str(), 0700);
    const auto sign = [&](const std::string& name, int type, uint8_t minor, uint32_t build) {
        writeFileBytes(dir.path("images/" + name),
                       makeFirmwareImage(developmentKey(type), randomBody(1000, build),
                                         ImageSpec{2, minor, 0, build}));
    };
    sign("cu-2.1.enc", 1, 1, 4);
    sign("tamrik3.enc", 5, 0, 2);
    Bytes damaged = readFileBytes(dir.path("images/cu-2.1.enc"));
    damaged[700] ^= 1;
    writeFileBytes(dir.path("images/damaged.enc"), damaged);
    const std::string report = dir.path("report.jsonl");
    const auto [code, out] = run(dir, OSTRA_CLI,
                                 "--port COM11 --port COM12 --port COM13 --report " + report +
                                     " upload " + dir.path("images"));
    EXPECT_EQ(code, 3) << out;
    const std::string skipped =
        "skipped, not an intact image (Firmware corrupted): " + dir.path("images/damaged.enc");
    EXPECT_EQ(out.find(skipped), out.rfind(skipped)) << out;
    EXPECT_NE(out.find(skipped + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\nCOM13  SOLVAR HS     the instrument is a Solvar HS and no image is for "
                       "it: the images are for Solvar CU, Tamrik 3  ("),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\n2 passed, 1 failed\n"), std::string::npos) << out;
    EXPECT_EQ(tray.instruments[0]->status().firmwareMinor, 1);
    EXPECT_EQ(tray.instruments[1]->status().deviceType, 5);
    EXPECT_EQ(tray.instruments[1]->status().firmwareMajor, 2) << "its own product's image";
    EXPECT_EQ(hs.requestCount(), 1u) << "only its status was asked";
    std::map<std::string, nlohmann::json> images;
    for (const nlohmann::json& line : reportLines(report))
        images[line["port"]] = line.value("image", nlohmann::json());
    EXPECT_EQ(images["COM11"]["file"], dir.path("images/cu-2.1.enc"));
    EXPECT_EQ(images["COM12"]["file"], dir.path("images/tamrik3.enc"));
    EXPECT_TRUE(images["COM13"].is_null());
}

// Watching with a scanner: instruments plugged in one after another are serviced once
// each, one pulled out and plugged in again is serviced again, a port where no bootloader
// answers is named once, a port not named is left alone, the fourth instrument ends the
// run, and the label scanned last (read from standard input) goes to the first.
TEST(Cli, WatchingServicesEachInstrumentOncePerPlugging) {
    TempDir dir;
    Tray tray(dir);
    VirtualInstrument& notNamed = tray.add("COM59");
    ::mkdir(dir.path("images").c_str(), 0700);
    for (const int type : {1, 5})
        writeFileBytes(
            dir.path("images/" + std::to_string(type) + ".enc"),
            makeFirmwareImage(developmentKey(type), randomBody(900, type), ImageSpec{2, 0}));
    const std::string report = dir.path("report.jsonl"), scanned = dir.path("scanned.txt");
    writeFileBytes(scanned, {'S', 'N', '-', '1', '\n', 'S', 'N', '-', '2', '\n'});
    Background cli(dir,
                   "--watch --labels --count 4 --port COM51 --port COM52 --port COM53 "
                   "--report " +
                       report + " upload " + dir.path("images") + " <" + scanned);
    const auto lines = [&] { return reportLines(report).size(); };
    ASSERT_TRUE(eventually([&] {
        return cli.output().find("label SN-2: for the next instrument plugged in\n") !=
               std::string::npos;
    })) << cli.output();
    tray.add("COM51");
    ASSERT_TRUE(eventually([&] { return lines() == 1; })) << cli.output();
    tray.add("COM52", nullptr, 5);
    ASSERT_TRUE(eventually([&] { return lines() == 2; })) << cli.output();
    tray.add("COM53", "silent");
    ASSERT_TRUE(eventually([&] { return cli.output().find("COM53: no") != std::string::npos; }));
    Tray::replug("COM51");
    ASSERT_TRUE(eventually([&] { return lines() == 3; })) << cli.output();
    Tray::replug("COM52");
    const int status = cli.wait();
    const std::string out = cli.output();
    EXPECT_EQ(exitOf(status), 0) << out;
    EXPECT_NE(out.find("\n4 passed, 0 failed\n"), std::string::npos) << out;
    const std::string silent =
        "COM53: no bootloader answers (BPROT_MSG_STATUSINFO error, bootloader not responding)\n";
    EXPECT_EQ(out.find(silent), out.rfind(silent)) << out;
    EXPECT_EQ(notNamed.requestCount(), 0u);
    std::vector<std::string> serviced;
    for (const nlohmann::json& line : reportLines(report))
        serviced.push_back(line["port"].get<std::string>() + " " + line.value("label", "-") + " " +
                           line["image"]["file"].get<std::string>());
    const std::string cu = dir.path("images/1.enc"), tamrik = dir.path("images/5.enc");
    EXPECT_EQ(serviced, (std::vector<std::string>{"COM51 SN-2 " + cu, "COM52 - " + tamrik,
                                                  "COM51 - " + cu, "COM52 - " + tamrik}));
}

// routes through the program: the tree one hop deep as text; a child on port 3 that
// answers 1.5 s late, never credited to port 4; Ctrl-C during a scan prints what was
// found so far.
TEST(Cli, RoutesShowsTheInstrumentsBehindThePort) {
    TempDir dir;
    VirtualInstrument tree(type(1)), late(type(1));
    tree.addChild("2", type(2));
    tree.addChild("5", type(3));
    tree.addChild("2.5", type(5));
    late.addChild("3", type(2));
    late.addFault(parseSimFault("late:route=3:delay=1500"));
    tree.start();
    late.start();
    const std::string root = tree.devicePath();
    const auto [code, out] = run(dir, OSTRA_CLI, "--port " + root + " routes --depth 1");
    EXPECT_EQ(code, 0) << out;
    const std::string line = "bootloader 1.2  firmware 0.0  0 bytes\n";
    EXPECT_NE(
        out.find("Trying the 8 ports of " + root +
                 ": about 8 s (a port where nothing answers takes a second)\n" +
                 root.substr(0, 20) + std::string(20 - std::min<size_t>(20, root.size()), ' ') +
                 "SOLVAR CU  " + line + "  2                 TAMRIK     " + line +
                 "  5                 SOLVAR HS  " + line + "3 instruments (scan complete"),
        std::string::npos)
        << out;
    std::vector<std::string> routes;
    for (const nlohmann::json& event :
         jsonLines(run(dir, OSTRA_CLI, "--json --port " + late.devicePath() + " routes --depth 1")
                       .second)) {
        if (event["event"] == "instrument")
            routes.push_back(event["route"].get<std::string>() +
                             (event["doubtful"] ? " doubtful" : ""));
    }
    EXPECT_EQ(routes, std::vector<std::string>{""}) << "nothing but the instrument itself";

    const auto asked = [&](uint32_t route) {
        int n = 0;
        for (const Bytes& request : tree.requests())
            n += request.size() >= 8 && getLe32(request.data() + 4) == route;
        return n;
    };
    const int before = asked(0x0B);
    Background cli(dir, "--port " + root + " routes");
    ASSERT_TRUE(eventually([&] { return asked(0x0B) > before; }))
        << "port 3, after 2 answered twice";
    cli.interrupt();
    const int status = cli.wait();
    const std::string found = cli.output();
    EXPECT_EQ(exitOf(status), 130) << found;
    EXPECT_NE(found.find("SOLVAR CU  " + line + "  2                 TAMRIK     " + line +
                         "2 instruments (scan stopped by Ctrl-C after "),
              std::string::npos)
        << found;
}

// Bytes that are not UTF-8 in a label from a scanner in another code page, and in an
// argument: each taken with U+FFFD in its place and told, never an abort; the records hold
// valid JSON.
TEST(Cli, TextThatIsNotUtf8IsTakenWithReplacementsAndTold) {
    TempDir dir;
    Tray tray(dir);
    tray.add("COM71");
    tray.add("COM72");
    const std::string report = dir.path("report.jsonl"), scanned = dir.path("scanned.txt");
    writeFileBytes(scanned, {'G', 'O', 'O', 'D', '\n', 'B', 'A', 'D', '-', 0xE9, '\n'});
    const auto [code, out] =
        run(dir, OSTRA_CLI,
            "--port COM71 --port COM72 --labels --batch WO-1 --operator \"$(printf 'J\\351rome')\" "
            "--report " +
                report + " status <" + scanned);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("ostraloader-cli: an argument is not UTF-8 (a terminal or scanner in "
                       "another code page?): taken as \"J\xEF\xBF\xBDrome\", each byte that was "
                       "not as U+FFFD\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("the label of COM72 is not UTF-8"), std::string::npos) << out;
    std::map<std::string, std::string> labels;
    for (const nlohmann::json& line : reportLines(report)) {
        labels[line["port"]] = line["label"];
        EXPECT_EQ(line["operator"], "J\xEF\xBF\xBDrome");
    }
    EXPECT_EQ(labels, (std::map<std::string, std::string>{{"COM71", "GOOD"},
                                                          {"COM72", "BAD-\xEF\xBF\xBD"}}));
    // A report another program wrote, its operator in Latin-1: read back, told in JSON.
    Bytes line = readFileBytes(report);
    line.resize(std::find(line.begin(), line.end(), '\n') - line.begin() + 1);
    const std::string text(line.begin(), line.end()), replaced = "J\xEF\xBF\xBDrome";
    const std::string latin1 = text.substr(0, text.find(replaced)) + "J\xE9rome" +
                               text.substr(text.find(replaced) + replaced.size());
    writeFileBytes(report, Bytes(latin1.begin(), latin1.end()));
    const auto [read, json] = run(dir, OSTRA_CLI, "records --json --by operator " + report);
    EXPECT_EQ(read, 0) << json;
    const std::string told = "ostraloader-cli: " + report +
                             ": line 1 is not UTF-8 (another program's code page?); read with "
                             "U+FFFD for each byte that was not\n";
    ASSERT_NE(json.find(told), std::string::npos) << json;
    const std::vector<nlohmann::json> events = jsonLines(json.substr(0, json.find(told)));
    ASSERT_EQ(events.size(), 1u) << "one row, nothing else: " << json;
    EXPECT_EQ(events[0]["operator"], replaced) << json;
    // An operator that would retitle the terminal: shown escaped in the table.
    const std::string retitling = text.substr(0, text.find(replaced)) + "\\u001b]0;owned\\u0007" +
                                  text.substr(text.find(replaced) + replaced.size());
    writeFileBytes(report, Bytes(retitling.begin(), retitling.end()));
    const std::string table = run(dir, OSTRA_CLI, "records --by operator " + report).second;
    EXPECT_NE(table.find("\\x1b]0;owned\\x07"), std::string::npos) << table;
    EXPECT_EQ(table.find('\x1b'), std::string::npos) << table;
}

// Input from an unlucky or hostile world, each with the word it must get and never a hang:
// a scanner that ends its labels with CR alone, a NUL inside a label, a report and a job
// that are a pipe nobody writes to, a report line of 10 MB.
TEST(Cli, HostileInputGetsAClearWordAndNeverAHang) {
    TempDir dir;
    Tray tray(dir);
    tray.add("COM91");
    tray.add("COM92");
    const std::string report = dir.path("report.jsonl"), pipe = dir.path("pipe"),
                      big = dir.path("big.jsonl");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string bigText = std::string(10 << 20, 'x') + "\n" +
                                R"({"time":"2026-12-08T08:00:00Z","port":"COM1","result":"ok"})";
    writeFileBytes(big, Bytes(bigText.begin(), bigText.end()));
    const std::string labelled = " --labels --report " + report + " status";
    const struct {
        const char* typed;  // standard input, as printf reads it
        std::string args;
        int exitCode;
        std::string text;  // found in the output
    } kInputs[] = {
        {"SN-1\\rSN-2\\r", "--port COM91 --port COM92" + labelled, 0, "  label SN-2\n"},
        {"SN\\000-1\\nSN-3\\n", "--port COM91 --port COM92" + labelled, 0, "  label SN\\x00-1\n"},
        {"", "--port COM91 --report " + pipe + " status", 2,
         "cannot append to the report " + pipe + ": it is a pipe, not a file\n"},
        {"", "--job " + pipe, 2, "the job " + pipe + " is not an Ostraloader station job\n"},
        {"", "records " + big, 4, big + ": line 1 is not a service record; skipped\n"},
    };
    for (const auto& i : kInputs) {
        const std::string program = "printf '" + std::string(i.typed) + "' | timeout 60 " OSTRA_CLI;
        const auto [code, out] = run(dir, program.c_str(), i.args);
        EXPECT_EQ(code, i.exitCode) << i.args << "\n" << out;
        EXPECT_NE(out.find(i.text), std::string::npos) << i.text << "\n---\n" << out;
    }
    EXPECT_EQ(recordFields(report, {"label"}),
              (std::vector<std::string>{std::string("SN\0-1", 5), "SN-1", "SN-2", "SN-3"}));
}
