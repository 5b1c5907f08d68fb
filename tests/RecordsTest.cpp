// The reports read back by `ostraloader-cli records`: a real station's report summarised to
// exact counts and yields, days that meet at local midnight, one instrument's history
// across two reports, CSV that Python's csv module reads back, lines that are not
// records, and the summary's own counts and medians.
#include "records/RecordSummary.h"
#include "tests/CliSupport.h"

namespace {
// The output's lines that hold `text`.
std::vector<std::string> linesWith(const std::string& out, const std::string& text) {
    std::vector<std::string> found;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.find(text) != std::string::npos)
            found.push_back(line);
    return found;
}

void writeText(const std::string& path, const std::string& text) {
    writeFileBytes(path, Bytes(text.begin(), text.end()));
}

// A record's line as the station writes it, with the fields a test sets.
std::string record(const char* time, const char* port, const char* result,
                   const std::string& more = "") {
    return std::string(R"({"time":")") + time + R"(","port":")" + port + R"(","result":")" +
           result + R"(","exit":)" + (std::string(result) == "ok" ? "0" : "1") +
           R"(,"deviceType":"SOLVAR CU","attempt":1,"seconds":2.5)" + more + "}\n";
}
}  // namespace

// A station's own report: a tray with one passing at once, one after a second attempt, one
// that never answers (counted as the product of the image meant for it) and one abandoned
// by Ctrl-C twice, summarised to exact counts and yields.
TEST(Records, ARealStationsReportIsSummarisedToExactCountsAndYields) {
    TempDir dir;
    Tray tray(dir);
    tray.add("COM11");
    tray.add("COM12", "silent:code=100:nth=1");
    tray.add("COM13", "silent");
    VirtualInstrument& paced = tray.add("COM14", nullptr, 1, 115200);
    const std::string fw = dir.path("fw.enc"), report = dir.path("report.jsonl");
    writeFileBytes(fw, makeFirmwareImage(developmentKey(1), randomBody(98304, 3), ImageSpec{2, 0}));
    {
        Background station(dir,
                           "--port COM11 --port COM12 --port COM13 --port COM14 "
                           "--attempts 2 --report " +
                               report + " upload " + fw);
        ASSERT_TRUE(eventually([&] { return reportLines(report).size() == 5; }));
        ASSERT_GT(paced.requestCount(), 20u) << "still uploading";
        station.interrupt();
        ASSERT_TRUE(
            eventually([&] { return station.output().find("stopping") != std::string::npos; }));
        station.interrupt();
        station.wait();
    }
    ASSERT_EQ(reportLines(report).size(), 6u);
    const auto [code, out] = run(dir, OSTRA_CLI, "records " + report);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("\nSOLVAR CU            4           1               1       2            "
                       "25.0 %       50.0 %  "),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("    3  BPROT_MSG_STATUSINFO error, bootloader not responding\n    1  "
                       "interrupted\n6 records"),
              std::string::npos)
        << out;
}

// Days are local: two records a minute either side of midnight in Prague are two days
// there and one day in UTC.
TEST(Records, DaysMeetAtLocalMidnight) {
    TempDir dir;
    const std::string report = dir.path("report.jsonl");
    writeText(report, record("2026-12-08T22:59:30Z", "COM11", "ok") +
                          record("2026-12-08T23:00:30Z", "COM12", "interrupted"));
    const std::pair<const char*, std::vector<std::string>> kZones[] = {
        {"Europe/Prague",
         {"SOLVAR CU  2026-12-08            1           1               0       0           100.0 "
          "%",
          "SOLVAR CU  2026-12-09            1           0               0       1             0.0 "
          "%"}},
        {"UTC",
         {"SOLVAR CU  2026-12-08            2           1               0       1            50.0 "
          "%"}},
    };
    for (const auto& [zone, rows] : kZones) {
        const auto [code, out] = run(dir, ("TZ=" + std::string(zone) + " " OSTRA_CLI).c_str(),
                                     "records --by day " + report);
        EXPECT_EQ(code, 0) << out;
        std::vector<std::string> found;
        for (const std::string& line : linesWith(out, "SOLVAR CU  2026"))
            found.push_back(line.substr(0, rows[0].size()));
        EXPECT_EQ(found, rows) << zone;
    }
}

// A span's bounds: --since takes a record at its moment or day start, --until leaves out one
// at its moment and takes its whole day; a day that is not in the calendar is refused.
TEST(Records, ASpansBoundsHoldAsAMomentAndAsADay) {
    TempDir dir;
    const std::string report = dir.path("report.jsonl");
    writeText(report, record("2026-12-08T14:29:59Z", "COM1", "ok") +
                          record("2026-12-08T14:30:00Z", "COM2", "ok") +
                          record("2026-12-08T23:59:59Z", "COM3", "ok") +
                          record("2026-12-09T00:00:00Z", "COM4", "ok"));
    const std::tuple<const char*, int, const char*> kSpans[] = {
        {"--since '2026-12-08 14:30'", 0, "COM2 COM3 COM4"},
        {"--until '2026-12-08 14:30'", 0, "COM1"},
        {"--since 2026-12-09", 0, "COM4"},
        {"--until 2026-12-08", 0, "COM1 COM2 COM3"},
        {"--since 2026-12-08 --until 2026-12-08", 0, "COM1 COM2 COM3"},
        {"--until 2028-02-29", 0, "COM1 COM2 COM3 COM4"},
        {"--since 2026-02-29", 2, "ostraloader-cli: '2026-02-29' is not a date or a date and time"},
        {"--until '2026-04-31 08:00'", 2,
         "ostraloader-cli: '2026-04-31 08:00' is not a date or a date and time"},
    };
    for (const auto& [span, exit, seen] : kSpans) {
        const auto [code, out] =
            run(dir, "TZ=UTC " OSTRA_CLI, "records --csv " + std::string(span) + " " + report);
        EXPECT_EQ(code, exit) << out;
        std::string taken;
        for (const std::string& row : linesWith(out, ",COM"))
            taken += (taken.empty() ? "" : " ") + row.substr(row.find(',') + 1, 4);
        EXPECT_EQ(exit == 0 ? taken : out.substr(0, out.find('\n')), seen) << span;
    }
}

// One instrument's history across two reports, oldest first, known by its serial number
// or its label; the others' records left out.
TEST(Records, AUnitsHistoryComesFromEveryReportInTimeOrder) {
    TempDir dir;
    const std::string a = dir.path("a.jsonl"), b = dir.path("b.jsonl");
    writeText(a, record("2026-12-08T08:00:00Z", "COM11", "ok",
                        R"(,"serial":"A7F3","firmwareAfter":"2.0")") +
                     record("2026-12-08T09:00:00Z", "COM12", "ok", R"(,"serial":"B2C9")") +
                     record("2026-12-10T08:00:00Z", "COM11", "ok",
                            R"(,"serial":"A7F3","firmwareAfter":"2.2")"));
    writeText(b, record("2026-12-09T08:00:00Z", "COM21", "BPROT_MSG_WRITE_PAGE error",
                        R"(,"serial":"A7F3","label":"SN-0042","firmwareBefore":"2.0")"));
    for (const char* unit : {"A7F3", "SN-0042"}) {
        const auto [code, out] =
            run(dir, "TZ=UTC " OSTRA_CLI, "records " + a + " " + b + " --unit " + unit);
        EXPECT_EQ(code, 0) << out;
        const std::vector<std::string> expected =
            std::string(unit) == "A7F3"
                ? std::vector<std::string>{"2026-12-08 08:00:00  COM11  SOLVAR CU  - -> 2.0  -  attempt 1  ok",
                                           "2026-12-09 08:00:00  COM21  SOLVAR CU  2.0 -> -  -  attempt 1  BPROT_MSG_WRITE_PAGE error",
                                           "2026-12-10 08:00:00  COM11  SOLVAR CU  - -> 2.2  -  attempt 1  ok"}
                : std::vector<std::string>{"2026-12-09 08:00:00  COM21  SOLVAR CU  2.0 -> -  -  attempt 1  BPROT_MSG_WRITE_PAGE error"};
        EXPECT_EQ(linesWith(out, "2026-12-"), expected) << unit;
    }
}

// CSV as a factory's systems take it: Python's csv module reads back every value, Czech
// text, commas and quotes in a message included; a value a spreadsheet would run as a
// formula starts with a quote, a number does not; a separator nobody reads is refused.
TEST(Records, CsvReadsBackToTheSameValues) {
    TempDir dir;
    const std::string report = dir.path("report.jsonl"), csv = dir.path("records.csv");
    writeText(
        report,
        record("2026-12-08T08:00:00Z", "COM11", "verify failed: the flash differs, \\\"here\\\"",
               R"(,"label":"Jiří, šarže 7","batch":"WO-1","operator":"Žofie","seconds":4.125,)"
               R"("image":{"file":"C:\\fw, 2.1.enc","sha256":"ab"})") +
            record("2026-12-08T08:01:00Z", "COM12", "+cmd",
                   R"j(,"label":"=HYPERLINK(\"x\")","batch":"-5","operator":"@SUM(1)")j"));
    ASSERT_EQ(std::system((OSTRA_CLI " records --csv " + report + " >" + csv).c_str()), 0);
    const std::string script = dir.path("read.py");
    writeText(script,
              "import csv, json, sys\n"
              "rows = list(csv.DictReader(open(sys.argv[1], newline='', encoding='utf-8')))\n"
              "print(json.dumps(rows, ensure_ascii=False))\n");
    const auto [code, out] = run(dir, "python3", script + " " + csv);
    ASSERT_EQ(code, 0) << out;
    const nlohmann::json rows = nlohmann::json::parse(out);
    ASSERT_EQ(rows.size(), 2u) << out;
    EXPECT_EQ(std::vector<std::string>(
                  {rows[1]["label"], rows[1]["result"], rows[1]["batch"], rows[1]["operator"]}),
              std::vector<std::string>({"'=HYPERLINK(\"x\")", "'+cmd", "-5", "'@SUM(1)"}));
    const auto [refused, why] = run(dir, OSTRA_CLI, "records --csv --csv-separator '\"' " + report);
    EXPECT_EQ(refused, 2);
    EXPECT_NE(why.find("a comma, a semicolon, a tab or '|'"), std::string::npos) << why;
    EXPECT_EQ(rows[0], (nlohmann::json{{"time", "2026-12-08T08:00:00Z"},
                                       {"port", "COM11"},
                                       {"slot", ""},
                                       {"serial", ""},
                                       {"label", "Jiří, šarže 7"},
                                       {"device", "SOLVAR CU"},
                                       {"bootloader", ""},
                                       {"firmware_before", ""},
                                       {"firmware_after", ""},
                                       {"image_file", "C:\\fw, 2.1.enc"},
                                       {"image_sha256", "ab"},
                                       {"attempt", "1"},
                                       {"result", "verify failed: the flash differs, \"here\""},
                                       {"exit", "1"},
                                       {"milliseconds", "4125"},
                                       {"batch", "WO-1"},
                                       {"operator", "Žofie"}}));
}

// Lines that are not records (cut short, edited by hand, another program's) are skipped,
// each named once at the end by its report and line, and the exit code says so; the
// records around them count.
TEST(Records, LinesThatAreNotRecordsAreSkippedAndNamed) {
    TempDir dir;
    const std::string report = dir.path("report.jsonl");
    // A record as another tool writes it (blanks between its fields, a CR LF line end) is one.
    const std::string spaced =
        " { \"time\": \"2026-12-08T08:01:30Z\",\t\"port\": \"COM13\", \"result\": \"ok\", "
        "\"exit\": 0, \"deviceType\": \"SOLVAR CU\" } \r\n";
    writeText(report, record("2026-12-08T08:00:00Z", "COM11", "ok") + "not a record\n" +
                          R"({"event":"started","operation":"upload"})"
                          "\n\n" +
                          record("2026-12-08T08:01:00Z", "COM12", "ok") + spaced +
                          R"({"time":"2026-12-08T08:02:00Z","port":"COM1)");
    const auto [code, out] = run(dir, OSTRA_CLI, "records " + report);
    EXPECT_EQ(code, 4) << out;
    EXPECT_EQ(linesWith(out, "is not a service record"),
              (std::vector<std::string>{
                  "ostraloader-cli: " + report + ": line 2 is not a service record; skipped",
                  "ostraloader-cli: " + report + ": line 3 is not a service record; skipped",
                  "ostraloader-cli: " + report + ": line 7 is not a service record; skipped"}));
    EXPECT_NE(out.find("\nSOLVAR CU            3           3"), std::string::npos) << out;
    // What cannot be read or written: exit code 2, never "0 records".
    const std::pair<std::string, std::string> kUnreadable[] = {
        {"records " + dir.path("missing.jsonl"),
         "ostraloader-cli: cannot read the report " + dir.path("missing.jsonl") + "\n"},
        {"records " + dir.dir,
         "ostraloader-cli: cannot read the report " + dir.dir + ": Is a directory\n"},
        {"records --csv " + report + " >/dev/full",
         "ostraloader-cli: cannot write the records: No space left on device\n"},
    };
    for (const auto& [args, text] : kUnreadable) {
        const auto [failed, why] = run(dir, "(" OSTRA_CLI, args + ")");
        EXPECT_EQ(failed, 2) << args;
        EXPECT_NE(why.find(text), std::string::npos) << args << "\n" << why;
    }
    // Each report's lines are numbered from 1; a record of a day not in the calendar is none.
    const std::string a = dir.path("a.jsonl"), b = dir.path("b.jsonl"), c = dir.path("c.jsonl");
    writeText(a, record("2026-12-08T08:00:00Z", "COM11", "ok") + "bad\n");
    writeText(b, "bad\n" + record("2026-12-08T08:01:00Z", "COM12", "ok"));
    writeText(c, record("2026-12-08T08:02:00Z", "COM13", "ok") +
                     record("2026-12-08T08:03:00Z", "COM14", "ok") +
                     record("2026-02-29T08:04:00Z", "COM15", "ok"));  // no such day in 2026
    const std::string many = run(dir, OSTRA_CLI, "records " + a + " " + b + " " + c).second;
    EXPECT_EQ(linesWith(many, "is not a service record"),
              (std::vector<std::string>{
                  "ostraloader-cli: " + a + ": line 2 is not a service record; skipped",
                  "ostraloader-cli: " + b + ": line 1 is not a service record; skipped",
                  "ostraloader-cli: " + c + ": line 3 is not a service record; skipped"}));
    // A thousand are named; the rest are counted.
    std::string junk;
    for (int i = 0; i < 1003; ++i)
        junk += "junk\n";
    writeText(report, junk);
    const auto [junkCode, junkOut] = run(dir, OSTRA_CLI, "records " + report);
    EXPECT_EQ(junkCode, 4);
    EXPECT_EQ(linesWith(junkOut, "is not a service record").size(), 1000u);
    EXPECT_EQ(linesWith(junkOut, "more lines"),
              std::vector<std::string>{"ostraloader-cli: and 3 more lines that are not records"});
}

// A record's numbers are in their range (an attempt from 1 to 99, an exit code from 0 to
// 255, a time finite and not negative; null for one not known): otherwise the line is none.
// Its text is UTF-8.
TEST(Records, ARecordsNumbersAreInTheirRange) {
    const std::pair<const char*, bool> kFields[] = {
        {R"("attempt":2)", true},      {R"("attempt":null)", true}, {R"("attempt":1e300)", false},
        {R"("attempt":2.5)", false},   {R"("attempt":0)", false},   {R"("attempt":100)", false},
        {R"("exit":255)", true},       {R"("exit":256)", false},    {R"("exit":-1)", false},
        {R"("seconds":0)", true},      {R"("seconds":null)", true}, {R"("seconds":-0.5)", false},
        {R"("seconds":1e999)", false},
    };
    for (const auto& [field, taken] : kFields) {
        const std::string line =
            std::string(R"({"time":"2026-12-08T08:00:00Z","port":"COM1","result":"ok",)") + field +
            "}";
        RecordLine record;
        EXPECT_EQ(parseRecordLine(line.c_str(), line.size(), record), taken) << field;
    }
    // Text that another program wrote in its code page is taken as UTF-8, for every reader.
    const std::string latin1 = R"({"time":"2026-12-08T08:00:00Z","port":"COM1","result":"ok",)"
                               "\"label\":\"BAD-\xE9\"}";
    RecordLine record;
    ASSERT_TRUE(parseRecordLine(latin1.c_str(), latin1.size(), record));
    EXPECT_EQ(record.label, "BAD-\xEF\xBF\xBD");
}

namespace {
// A record as the summary takes it: its port, label, serial and batch, ok or not, its time,
// its attempt, and when it started (seconds after 2026-12-08 00:00 UTC).
RecordLine line(const std::string& port, const std::string& label, const std::string& serial,
                const std::string& batch, bool ok, double seconds, int attempt = 1,
                int64_t started = 0) {
    RecordLine r;
    r.time = 1796716800 + started;
    r.attempt = attempt;
    r.port = port;
    r.label = label;
    r.serial = serial;
    r.batch = batch;
    r.deviceType = "SOLVAR CU";
    r.result = ok ? "ok" : "read data failed, err: 5";
    r.seconds = seconds;
    return r;
}

// "instruments passedFirst passedAfter failed" of each row: "group: counts".
std::vector<std::string> countsOf(const RecordSummary& summary) {
    std::vector<std::string> all;
    for (const SummaryRow& r : summary.rows())
        all.push_back(r.group + ": " + std::to_string(r.instruments) + " " +
                      std::to_string(r.passedFirst) + " " + std::to_string(r.passedAfter) + " " +
                      std::to_string(r.failed));
    return all;
}
}  // namespace

// The summary itself: an instrument known by its label, else its serial (a fixture's
// adapter keeps its serial while instruments come and go), else its port and first
// attempt; one row per batch (none: "-"); a product named in any case; the median of one
// time, of two (the lower), and of an instrument's attempts together; and five thousand
// instruments that all fail once and then all pass, each counted once.
TEST(Records, TheSummaryCountsEachInstrumentOnceAndTakesTheMedianTime) {
    const struct {
        const char* what;
        GroupBy by;
        SummaryFilter filter;
        std::vector<RecordLine> records;
        std::vector<std::string> counts;
    } kSummaries[] = {
        {"labels before the adapter's serial they share, then serial",
         GroupBy::None,
         {},
         {line("COM1", "SN-1", "FT1", "", true, 1), line("COM1", "SN-2", "FT1", "", false, 1),
          line("COM1", "SN-3", "FT1", "", true, 1), line("COM2", "SN-1", "B3", "", true, 1),
          line("COM4", "", "C9", "", false, 1), line("COM5", "", "C9", "", true, 1)},
         {": 4 2 1 1"}},
        {"unlabelled on one port, one after another, with attempts",
         GroupBy::None,
         {},
         {line("COM1", "", "", "", false, 1, 1, 0), line("COM1", "", "", "", true, 1, 2, 10),
          line("COM1", "", "", "", true, 1, 1, 20), line("COM1", "", "", "", false, 1, 1, 30),
          line("COM1", "", "", "", false, 1, 2, 40)},
         {": 3 1 1 1"}},
        {"unlabelled on one port, one attempt each",
         GroupBy::None,
         {},
         {line("COM1", "", "", "", true, 1, 1, 0), line("COM1", "", "", "", true, 1, 1, 10)},
         {": 2 2 0 0"}},
        {"by batch",
         GroupBy::Batch,
         {},
         {line("COM1", "", "", "WO-1", true, 1), line("COM2", "", "", "", true, 1)},
         {"-: 1 1 0 0", "WO-1: 1 1 0 0"}},
        {"a product in small letters",
         GroupBy::None,
         [] {
             SummaryFilter f;
             f.product = "solvar cu";
             return f;
         }(),
         {line("COM1", "", "", "", true, 1)},
         {": 1 1 0 0"}},
    };
    for (const auto& s : kSummaries) {
        RecordSummary summary(s.by, s.filter);
        for (const RecordLine& r : s.records)
            summary.add(r);
        EXPECT_EQ(countsOf(summary), s.counts) << s.what;
    }
    // Medians, to within the 2 % of the summary's bins.
    for (const auto& [times, median] :
         std::vector<std::pair<std::vector<double>, double>>{{{2.5}, 2.5}, {{1.0, 100.0}, 1.0}}) {
        RecordSummary summary(GroupBy::None, {});
        for (size_t i = 0; i < times.size(); ++i)
            summary.add(line("COM" + std::to_string(i), "", "", "", true, times[i]));
        ASSERT_EQ(summary.rows().size(), 1u);
        EXPECT_NEAR(summary.rows()[0].medianSeconds, median, median * 0.02) << times.size();
    }
    RecordSummary retried(GroupBy::None, {});
    retried.add(line("COM1", "SN-1", "", "", false, 2.0));
    retried.add(line("COM1", "SN-1", "", "", true, 3.0, 2));
    EXPECT_NEAR(retried.rows()[0].medianSeconds, 5.0, 0.1) << "its attempts' times together";
    RecordSummary many(GroupBy::None, {});
    for (const bool ok : {false, true}) {
        for (int n = 0; n < 5000; ++n) {
            char serial[16];
            std::snprintf(serial, sizeof serial, "SN-%05d", n);  // a dozen share index slots
            many.add(line("COM1", "", serial, "", ok, 1));
        }
    }
    EXPECT_EQ(countsOf(many), std::vector<std::string>{": 5000 0 5000 0"});
}

// A station job made by a script (--save-job) and run (--job), an option given on the
// command line over the job's; a fixture's labels read from a scanner's lines, one a slot,
// a slot left without refused with a record that says so; the batch and operator in every
// record; a job that names a missing image refused before anything.
TEST(Jobs, AJobMadeByAScriptRunsAsSavedWithLabelsFromAScanner) {
    TempDir dir;
    Tray tray(dir);
    tray.add("COM81");
    tray.add("COM82", "silent:code=100:nth=1");
    tray.add("COM83");
    const std::string fw = dir.path("fw.enc"), report = dir.path("report.jsonl"),
                      job = dir.path("line.ostrajob");
    writeFileBytes(fw, makeFirmwareImage(developmentKey(1), randomBody(900, 1), ImageSpec{2, 0}));
    const auto [saved, said] = run(dir, OSTRA_CLI,
                                   "--save-job " + job +
                                       " --slot 'Slot 1=COM81' --slot 'Slot 2=COM82' --slot "
                                       "'Slot 3=COM83' --batch WO-9 --quantity 5 --labels "
                                       "--report " +
                                       report + " upload " + fw + " --verify");
    ASSERT_EQ(saved, 0) << said;
    const Bytes text = readFileBytes(job);
    const nlohmann::json j = nlohmann::json::parse(std::string(text.begin(), text.end()));
    EXPECT_EQ(j["images"], nlohmann::json::array({"fw.enc"}));
    EXPECT_EQ(j["report"], "report.jsonl");
    EXPECT_EQ(j["slots"][2], (nlohmann::json{{"name", "Slot 3"}, {"port", "COM83"}}));
    EXPECT_EQ(j["batch"], (nlohmann::json{{"quantity", 5}, {"workOrder", "WO-9"}}));
    EXPECT_TRUE(j["labels"]);
    EXPECT_TRUE(j["verify"]);
    // A scanner on Windows ends its lines with CR LF; trailing blanks are not the label's.
    const auto [code, out] = run(dir, "printf 'SN-81\\r\\nSN-82 \\n\\n' | " OSTRA_CLI,
                                 "--job " + job + " --operator Jana --attempts 2");
    EXPECT_EQ(code, 2) << out;
    EXPECT_NE(out.find("\nSlot 3 COM83  -             no label  ("), std::string::npos) << out;
    EXPECT_NE(out.find("ostraloader-cli: COM83: no label\nGive each instrument its label (type "
                       "or scan it) before the start.\n"),
              std::string::npos)
        << out;
    const std::string silent = "BPROT_MSG_STATUSINFO error, bootloader not responding";
    EXPECT_EQ(recordFields(report, {"port", "slot", "label", "batch", "operator", "attempt",
                                    "result", "exit"}),
              (std::vector<std::string>{"COM81 Slot 1 SN-81 WO-9 Jana 1 ok 0",
                                        "COM82 Slot 2 SN-82 WO-9 Jana 1 " + silent + " 1",
                                        "COM82 Slot 2 SN-82 WO-9 Jana 2 ok 0",
                                        "COM83 Slot 3 - WO-9 Jana 1 no label 2"}))
        << "--attempts 2 over the job's 1";
    // Saved again from itself, a locked job stays locked; one that could not run is not saved.
    std::string locked(text.begin(), text.end());
    locked.replace(locked.find("\"locked\": false"), 15, "\"locked\": true");
    writeFileBytes(job, Bytes(locked.begin(), locked.end()));
    ASSERT_EQ(run(dir, OSTRA_CLI, "--job " + job + " --save-job " + job).first, 0);
    EXPECT_NE(readFileBytes(job), text);
    EXPECT_EQ(readFileBytes(job), Bytes(locked.begin(), locked.end()));
    const std::string elsewhere = dir.path("missing/report.jsonl");
    const auto [unsaved, said2] = run(dir, OSTRA_CLI,
                                      "--save-job " + dir.path("other.ostrajob") +
                                          " --port COM81 --report " + elsewhere + " status");
    EXPECT_EQ(unsaved, 2);
    EXPECT_NE(said2.find("cannot append to the report " + elsewhere), std::string::npos) << said2;
    EXPECT_NE(::access(dir.path("other.ostrajob").c_str(), F_OK), 0) << "not saved";
    std::remove(fw.c_str());
    const auto [refused, why] = run(dir, OSTRA_CLI, "--job " + job);
    EXPECT_EQ(refused, 2);
    EXPECT_NE(why.find("ostraloader-cli: the job " + job + " names what is missing: " + fw +
                       " (an image file or folder)\n"),
              std::string::npos)
        << why;
}
