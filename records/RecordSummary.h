#pragma once
// What a production engineer asks of the reports: per product (and per day, batch,
// operator or port), the instruments serviced, how many passed at their first attempt,
// after further attempts, or failed, the yields, the median time per instrument and the
// most frequent failures; and the passed and failed records hour by hour.
//
// An instrument is known by its label, else its USB serial number, else its port and the
// time of its first attempt there. Counts follow the records as they are added, so a
// summary can follow a report the station is writing. Its memory does not grow with the
// report: it remembers the latest kUnitsRemembered instruments, and one serviced again
// after that many others counts as a new one.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "records/RecordReader.h"

struct SummaryFilter {
    std::optional<int64_t> since, until;  // records from `since`, before `until`
    std::string product;                  // the instrument's product, any case
    std::string batch;

    bool accepts(const RecordLine& record) const;
};

enum class GroupBy { None, Day, Batch, Operator, Port };

// The product an instrument was serviced as: what its status named, or when it never
// answered, the product of the image meant for it as a status names it ("SOLVAR CU"); "-"
// when neither is known.
std::string productOf(const RecordLine& record);

struct SummaryRow {
    std::string product;  // as the instrument's status names it (or its image's, when it never
                          // answered); "-" when neither is known
    std::string group;    // the day, batch, operator or port; empty without grouping
    uint64_t instruments = 0, passedFirst = 0, passedAfter = 0, failed = 0;
    double medianSeconds = -1;                               // < 0: no instrument with a known time
    std::vector<std::pair<std::string, uint64_t>> failures;  // the most frequent first

    // In %: passed at the first attempt, and passed at all, of the instruments.
    double firstPassYield() const;
    double finalYield() const;
};

// Passed and failed records per hour (or per day) of a span of time.
struct TimelineBucket {
    int64_t start = 0;  // seconds since 1970
    uint64_t passed = 0, failed = 0;
};

class RecordSummary {
  public:
    static constexpr size_t kUnitsRemembered = 1 << 18;
    static constexpr size_t kFailuresShown = 3;

    RecordSummary(GroupBy by, SummaryFilter filter);
    ~RecordSummary();
    RecordSummary(const RecordSummary&) = delete;
    RecordSummary& operator=(const RecordSummary&) = delete;

    // A record read, in the order written; one the filter refuses is passed over.
    void add(const RecordLine& record);
    // A row per product and group, by product, then group.
    std::vector<SummaryRow> rows() const;
    // The records that passed the filter, by hour (`bucketSeconds` 3600) or day (86400,
    // local days), oldest first.
    std::vector<TimelineBucket> timeline(int64_t bucketSeconds) const;
    // The failures of one product (every group), each with how often, the most frequent
    // first.
    std::vector<std::pair<std::string, uint64_t>> failuresOf(const std::string& product) const;
    uint64_t records() const { return records_; }

  private:
    struct Group;
    class Units;
    std::string groupOf(const RecordLine& record) const;
    std::string unitOf(const RecordLine& record);

    GroupBy by_;
    SummaryFilter filter_;
    std::map<std::pair<std::string, std::string>, std::unique_ptr<Group>> groups_;
    std::unique_ptr<Units> units_;
    std::map<std::string, int64_t> firstAttempt_;  // by port: its latest first attempt's time
    std::map<int64_t, std::pair<uint64_t, uint64_t>> hours_;  // passed, failed per hour
    uint64_t records_ = 0;
};
