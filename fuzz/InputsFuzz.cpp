// The readers of what a line meets from outside, one target each (OSTRA_FUZZ_INPUT names
// it): a job file, a report's line with the summary and the CSV behind it, a journal a
// killed station left, and a label's or an option's text. Each takes or refuses its input,
// never crashes, and what it takes keeps the rules its readers rely on.
#include <cmath>
#include <cstdlib>
#include <string>

#include "records/Journal.h"
#include "records/RecordCsv.h"
#include "records/RecordReader.h"
#include "records/RecordSummary.h"
#include "station/JobFile.h"
#include "support/Problem.h"
#include "support/Utf8.h"
#include "tests/TestSupport.h"

namespace {
const TempDir& scratch() {
    static const TempDir dir;  // removed with its files when the fuzzer exits
    return dir;
}

void job(const std::string& text) {
    const std::string path = scratch().path("fuzz.ostrajob");
    writeFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
    try {
        const JobFile taken = loadJob(path);
        if (taken.attempts < 1 || taken.attempts > 99 || taken.quantity < 0) {
            std::abort();  // a job's numbers are in their range
        }
    } catch (const Problem& refusal) {
        if (refusal.code != 2 || !isUtf8(refusal.message)) {
            std::abort();  // refused as wrong usage, in words a terminal may show
        }
    }
}

void recordLine(const std::string& text) {
    RecordLine record;
    if (!parseRecordLine(text.data(), text.size(), record)) {
        return;
    }
    if (record.attempt < 1 || record.attempt > 99 || record.exit < 0 || record.exit > 255 ||
        !std::isfinite(record.seconds) || !isUtf8(record.port + record.result + record.label)) {
        std::abort();  // a record taken is one the summary and the CSV may rely on
    }
    RecordSummary summary(GroupBy::Day, {});
    summary.add(record);
    if (summary.rows().size() != 1 || !isUtf8(csvRow(record, ';'))) {
        std::abort();
    }
}

void journal(const std::string& text) {
    const std::string report = scratch().path("report.jsonl");
    writeFileBytes(report, {});
    writeFileBytes(report + ".0123456789abcdef.journal",
                   std::vector<uint8_t>(text.begin(), text.end()));
    repairReport(report);
    const std::vector<uint8_t> written = readFileBytes(report);
    if (!isUtf8(std::string(written.begin(), written.end())) ||
        repairReport(report).recovered != 0) {
        std::abort();  // valid text, and each entry recovered once
    }
}

void label(const std::string& text) {
    for (const std::string& shown : {validUtf8(text), printable(text), withoutControls(text)}) {
        if (!isUtf8(shown)) {
            std::abort();
        }
    }
    for (const char c : printable(text) + withoutControls(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\n' && c != '\t') || byte == 0x7F) {
            std::abort();  // nothing that moves a terminal's cursor or retitles it
        }
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    void (*const kReaders[])(const std::string&) = {job, recordLine, journal, label};
    kReaders[OSTRA_FUZZ_INPUT](text);
    return 0;
}
