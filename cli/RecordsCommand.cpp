// `records`: the station's reports read back, as a summary table per product (and group),
// one instrument's history, or CSV.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "cli/Commands.h"
#include "records/RecordCsv.h"
#include "records/RecordSummary.h"
#include "support/UtcTime.h"

namespace {
std::string fixed(double value, const char* format) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The filter the options ask for; throws a Problem for a time that is not one.
SummaryFilter filterOf(const RecordsOptions& r) {
    SummaryFilter filter;
    filter.product = r.product;
    filter.batch = r.batch;
    for (const auto& [text, dayEnd, into] :
         {std::tuple{r.since, false, &filter.since}, std::tuple{r.until, true, &filter.until}}) {
        int64_t seconds = 0;
        if (text.empty()) {
            continue;
        }
        if (!parseLocalTime(text, dayEnd, seconds)) {
            throw Problem(kUsage, "'" + text + "' is not a date or a date and time",
                          "Write 2026-12-08, or 2026-12-08 14:30 (local time).");
        }
        *into = seconds;
    }
    return filter;
}

GroupBy groupBy(const std::string& by) {
    return by == "day"        ? GroupBy::Day
           : by == "batch"    ? GroupBy::Batch
           : by == "operator" ? GroupBy::Operator
           : by == "port"     ? GroupBy::Port
                              : GroupBy::None;
}

nlohmann::json rowJson(const SummaryRow& row, const std::string& by) {
    nlohmann::json failures = nlohmann::json::array();
    for (const auto& [text, count] : row.failures) {
        failures.push_back({{"result", text}, {"count", count}});
    }
    nlohmann::json j = {
        {"event", "summary"},
        {"product", row.product},
        {"instruments", row.instruments},
        {"passedFirst", row.passedFirst},
        {"passedAfter", row.passedAfter},
        {"failed", row.failed},
        {"firstPassYield", std::round(row.firstPassYield() * 10) / 10},
        {"finalYield", std::round(row.finalYield() * 10) / 10},
        {"medianSeconds", row.medianSeconds < 0
                              ? nlohmann::json(nullptr)
                              : nlohmann::json(std::round(row.medianSeconds * 10) / 10)},
        {"failures", failures}};
    if (!by.empty()) {
        j[by] = row.group;
    }
    return j;
}

// The table: a line per product and group, its failures under it.
void showSummary(const RecordSummary& summary, const std::string& by, Reporter& out) {
    const std::vector<SummaryRow> rows = summary.rows();
    size_t productWidth = 7, groupWidth = by.size();
    for (const SummaryRow& row : rows) {
        productWidth = std::max(productWidth, row.product.size());
        groupWidth = std::max(groupWidth, row.group.size());
    }
    std::string table = pad("product", productWidth) + "  " +
                        (by.empty() ? "" : pad(by, groupWidth) + "  ") +
                        "instruments  first pass  after attempts  failed  first-pass yield  "
                        "final yield  median\n";
    for (const SummaryRow& row : rows) {
        const auto column = [](uint64_t n, size_t width) {
            const std::string text = std::to_string(n);
            return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
        };
        table +=
            pad(row.product, productWidth) + "  " +
            (by.empty() ? "" : pad(row.group, groupWidth) + "  ") + column(row.instruments, 11) +
            "  " + column(row.passedFirst, 10) + "  " + column(row.passedAfter, 14) + "  " +
            column(row.failed, 6) + "  " + fixed(row.firstPassYield(), "%14.1f %%") + "  " +
            fixed(row.finalYield(), "%9.1f %%") + "  " +
            (row.medianSeconds < 0 ? std::string("-") : fixed(row.medianSeconds, "%.1f s")) + "\n";
        for (const auto& [text, count] : row.failures) {
            table += "    " + std::to_string(count) + "  " + text + "\n";
        }
        out.event("", rowJson(row, by));
    }
    out.event(table + std::to_string(summary.records()) + " records", {});
}

nlohmann::json recordJson(const RecordLine& r) {
    const auto orNull = [](const std::string& text) {
        return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
    };
    return {{"event", "record"},
            {"time", isoUtc(r.time)},
            {"port", r.port},
            {"deviceType", orNull(r.deviceType)},
            {"firmwareBefore", orNull(r.firmwareBefore)},
            {"firmwareAfter", orNull(r.firmwareAfter)},
            {"image", orNull(r.imageFile)},
            {"attempt", r.attempt},
            {"result", r.result}};
}

// The lines that were not records, each named once, after everything else. The exit code:
// 0 when there were none, 4 when some were skipped, 2 when a report could not be read.
int tellBadLines(const RecordReader& reader, Reporter& out) {
    for (const RecordReader::BadLine& line : reader.notUtf8Lines()) {
        out.error(Problem(kOk, line.file + ": line " + std::to_string(line.line) +
                                   " is not UTF-8 (another program's code page?); read with "
                                   "U+FFFD for each byte that was not"));
    }
    for (const RecordReader::BadLine& bad : reader.badLines()) {
        out.error(Problem(kRecordsSkipped, bad.file + ": line " + std::to_string(bad.line) +
                                               " is not a service record; skipped"));
    }
    const uint64_t more = reader.badCount() - reader.badLines().size();
    if (more > 0) {
        out.error(Problem(kRecordsSkipped,
                          "and " + std::to_string(more) + " more lines that are not records"));
    }
    if (reader.problem()) {
        out.error(*reader.problem());
        return kUsage;
    }
    return reader.badCount() > 0 ? kRecordsSkipped : kOk;
}

std::string history(const RecordLine& r) {
    const std::string before = r.firmwareBefore.empty() ? "-" : r.firmwareBefore;
    const std::string after = r.firmwareAfter.empty() ? "-" : r.firmwareAfter;
    const std::string image = r.imageFile.empty() ? "-" : r.imageFile;
    return localTime(r.time) + "  " + r.port + "  " + (r.deviceType.empty() ? "-" : r.deviceType) +
           "  " + before + " -> " + after + "  " + image + "  attempt " +
           std::to_string(r.attempt) + "  " + r.result;
}
}  // namespace

int recordsCommand(const RecordsOptions& r, bool json, Reporter& out) {
    if (r.csv && (json || !r.unit.empty())) {
        throw Problem(kUsage, "--csv writes CSV alone: not with --json or --unit");
    }
    const SummaryFilter filter = filterOf(r);
    RecordReader reader(r.reports);
    RecordLine record;
    if (r.csv) {
        std::fputs(csvHeader(r.separator[0]).c_str(), stdout);
    }
    RecordSummary summary(groupBy(r.by), filter);
    std::vector<RecordLine> unit;  // one instrument's: a few, kept to be put in order
    while (reader.next(record)) {
        if (!r.unit.empty()) {
            if ((record.label == r.unit || record.serial == r.unit) && filter.accepts(record)) {
                unit.push_back(record);
            }
        } else if (r.csv) {
            if (filter.accepts(record)) {
                std::fputs(csvRow(record, r.separator[0]).c_str(), stdout);
            }
        } else {
            summary.add(record);
        }
    }
    if (!r.unit.empty()) {
        std::stable_sort(unit.begin(), unit.end(),
                         [](const RecordLine& a, const RecordLine& b) { return a.time < b.time; });
        for (const RecordLine& line : unit) {
            out.event(history(line), recordJson(line));
        }
    } else if (!r.csv) {
        showSummary(summary, r.by, out);
    }
    const int code = tellBadLines(reader, out);
    const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (!written) {
        out.error(Problem(kUsage, std::string("cannot write the records: ") + std::strerror(errno),
                          "Make room where the output goes, or send it to another file."));
        return kUsage;
    }
    return code;
}
