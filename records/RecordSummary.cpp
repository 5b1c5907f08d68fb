#include "records/RecordSummary.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "support/UtcTime.h"

namespace {
// Times per instrument, in bins 2 % apart from a millisecond up: the median to within a
// percent in a few kilobytes, however many instruments.
constexpr size_t kBins = 1000;
constexpr double kFirstBin = 0.001, kBinRatio = 1.02;
// Distinct failure texts counted per group; the rest count as one.
constexpr size_t kFailureTexts = 1000;
const char kOtherFailures[] = "(other failures)";

size_t binOf(double seconds) {
    if (seconds <= kFirstBin) {
        return 0;
    }
    const double bin = 1 + std::floor(std::log(seconds / kFirstBin) / std::log(kBinRatio));
    return std::min(kBins - 1, static_cast<size_t>(bin));
}

double binMiddle(size_t bin) {
    return bin == 0 ? kFirstBin : kFirstBin * std::pow(kBinRatio, static_cast<double>(bin) - 0.5);
}

bool sameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// FNV-1a, 64 bits: an instrument's key in little room.
uint64_t hashOf(const std::string& text, uint64_t hash = 1469598103934665603ull) {
    for (unsigned char c : text) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    return hash;
}

std::vector<std::pair<std::string, uint64_t>> mostFrequent(
    const std::map<std::string, uint64_t>& counts, size_t most) {
    std::vector<std::pair<std::string, uint64_t>> all(counts.begin(), counts.end());
    std::stable_sort(all.begin(), all.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    all.resize(std::min(all.size(), most));
    return all;
}
}  // namespace

std::string productOf(const RecordLine& r) {
    if (!r.deviceType.empty()) {
        return r.deviceType;
    }
    std::string product = r.imageProduct;
    std::transform(product.begin(), product.end(), product.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return product.empty() ? "-" : product;
}

// One row's counts; an instrument is in one of three classes at a time.
struct RecordSummary::Group {
    enum Class : uint8_t { PassedFirst, PassedAfter, Failed };
    uint64_t counts[3] = {};
    std::vector<uint32_t> times = std::vector<uint32_t>(kBins);  // instruments per bin
    std::map<std::string, uint64_t> failures;

    void count(Class c, double seconds, int by) {
        counts[c] += static_cast<uint64_t>(by);
        if (seconds >= 0) {
            times[binOf(seconds)] += static_cast<uint32_t>(by);
        }
    }
    void failure(const std::string& result) {
        const bool known = failures.count(result) > 0 || failures.size() < kFailureTexts;
        ++failures[known ? result : kOtherFailures];
    }
    double median() const {
        uint64_t total = 0;
        for (uint32_t n : times) {
            total += n;
        }
        uint64_t seen = 0;
        for (size_t bin = 0; bin < kBins && total > 0; ++bin) {
            seen += times[bin];
            if (2 * seen >= total) {
                return binMiddle(bin);
            }
        }
        return -1;
    }
};

// The latest instruments seen, in a ring of fixed size with an index by key: room taken
// once, never more.
class RecordSummary::Units {
  public:
    struct Unit {
        uint64_t key = 0;
        float seconds = -1;  // its records' times together; < 0: none known
        bool firstOk = false, lastOk = false;
        bool used = false;
    };
    Units() : ring_(kUnitsRemembered), index_(2 * kUnitsRemembered) {}

    Unit* find(uint64_t key) {
        for (size_t at = slot(key);; at = (at + 1) % index_.size()) {
            const uint32_t entry = index_[at];
            if (entry == 0) {
                return nullptr;
            }
            if (ring_[entry - 1].key == key) {
                return &ring_[entry - 1];
            }
        }
    }
    // A new instrument in the oldest one's place.
    Unit& add(uint64_t key) {
        Unit& place = ring_[next_];
        if (place.used) {
            forget(place.key);
        }
        place = Unit{key, -1, false, false, true};
        size_t at = slot(key);
        while (index_[at] != 0) {
            at = (at + 1) % index_.size();
        }
        index_[at] = static_cast<uint32_t>(next_ + 1);
        next_ = (next_ + 1) % ring_.size();
        return place;
    }

  private:
    size_t slot(uint64_t key) const { return static_cast<size_t>(key % index_.size()); }
    // Takes a key out of the index, moving back the entries after it that it displaced.
    void forget(uint64_t key) {
        size_t hole = slot(key);
        while (index_[hole] == 0 || ring_[index_[hole] - 1].key != key) {
            hole = (hole + 1) % index_.size();
        }
        index_[hole] = 0;
        for (size_t at = (hole + 1) % index_.size(); index_[at] != 0;
             at = (at + 1) % index_.size()) {
            const size_t home = slot(ring_[index_[at] - 1].key);
            const bool movable = hole <= at ? home <= hole || home > at : home <= hole && home > at;
            if (movable) {
                index_[hole] = index_[at];
                index_[at] = 0;
                hole = at;
            }
        }
    }

    std::vector<Unit> ring_;
    std::vector<uint32_t> index_;  // ring position + 1; 0: free
    size_t next_ = 0;
};

bool SummaryFilter::accepts(const RecordLine& r) const {
    return (!since || r.time >= *since) && (!until || r.time < *until) &&
           (product.empty() || sameText(product, r.deviceType) ||
            sameText(product, r.imageProduct)) &&
           (batch.empty() || batch == r.batch);
}

double SummaryRow::firstPassYield() const {
    return instruments == 0 ? 0 : 100.0 * static_cast<double>(passedFirst) / instruments;
}

double SummaryRow::finalYield() const {
    return instruments == 0 ? 0
                            : 100.0 * static_cast<double>(passedFirst + passedAfter) / instruments;
}

RecordSummary::RecordSummary(GroupBy by, SummaryFilter filter)
    : by_(by), filter_(std::move(filter)), units_(std::make_unique<Units>()) {}

RecordSummary::~RecordSummary() = default;

std::string RecordSummary::groupOf(const RecordLine& r) const {
    const auto orDash = [](const std::string& text) { return text.empty() ? "-" : text; };
    switch (by_) {
        case GroupBy::Day:
            return localDay(r.time);
        case GroupBy::Batch:
            return orDash(r.batch);
        case GroupBy::Operator:
            return orDash(r.operatorName);
        case GroupBy::Port:
            return orDash(r.slot.empty() ? r.port : r.slot);
        case GroupBy::None:
            break;
    }
    return "";
}

std::string RecordSummary::unitOf(const RecordLine& r) {
    if (!r.label.empty()) {
        return "label " + r.label;
    }
    if (!r.serial.empty()) {
        return "serial " + r.serial;
    }
    // Attempts follow each other on one port: they are the instrument of its first attempt.
    int64_t& first = firstAttempt_[r.port];
    if (r.attempt <= 1 || first == 0) {
        first = r.time;
    }
    return "port " + r.port + " " + std::to_string(first);
}

void RecordSummary::add(const RecordLine& r) {
    if (!filter_.accepts(r)) {
        return;
    }
    ++records_;
    auto& hour = hours_[r.time - r.time % 3600];
    (r.ok() ? hour.first : hour.second) += 1;
    const std::string product = productOf(r);
    const auto key = std::make_pair(product, groupOf(r));
    std::unique_ptr<Group>& found = groups_[key];
    if (!found) {
        found = std::make_unique<Group>();
    }
    Group& group = *found;
    if (!r.ok()) {
        group.failure(r.result);
    }
    const uint64_t unitKey = hashOf(unitOf(r), hashOf(key.first + '\0' + key.second + '\0'));
    Units::Unit* unit = units_->find(unitKey);
    const auto classOf = [](const Units::Unit& u) {
        return !u.lastOk ? Group::Failed : u.firstOk ? Group::PassedFirst : Group::PassedAfter;
    };
    if (unit == nullptr) {
        unit = &units_->add(unitKey);
        unit->firstOk = r.ok();
    } else {
        // Its class and time as they stood come off; as they stand now go on.
        group.count(classOf(*unit), unit->seconds, -1);
    }
    if (r.seconds >= 0) {
        unit->seconds = std::max(unit->seconds, 0.0f) + static_cast<float>(r.seconds);
    }
    unit->lastOk = r.ok();
    group.count(classOf(*unit), unit->seconds, +1);
}

std::vector<SummaryRow> RecordSummary::rows() const {
    std::vector<SummaryRow> rows;
    for (const auto& [key, found] : groups_) {
        const Group& g = *found;
        SummaryRow row;
        row.product = key.first;
        row.group = key.second;
        row.passedFirst = g.counts[Group::PassedFirst];
        row.passedAfter = g.counts[Group::PassedAfter];
        row.failed = g.counts[Group::Failed];
        row.instruments = row.passedFirst + row.passedAfter + row.failed;
        row.medianSeconds = g.median();
        row.failures = mostFrequent(g.failures, kFailuresShown);
        rows.push_back(row);
    }
    return rows;
}

std::vector<TimelineBucket> RecordSummary::timeline(int64_t bucketSeconds) const {
    std::map<int64_t, TimelineBucket> buckets;
    for (const auto& [hour, counts] : hours_) {
        const int64_t start =
            bucketSeconds >= 86400 ? localDayStart(hour) : hour - hour % bucketSeconds;
        TimelineBucket& b = buckets[start];
        b.start = start;
        b.passed += counts.first;
        b.failed += counts.second;
    }
    std::vector<TimelineBucket> all;
    for (const auto& [start, bucket] : buckets) {
        all.push_back(bucket);
    }
    return all;
}

std::vector<std::pair<std::string, uint64_t>> RecordSummary::failuresOf(
    const std::string& product) const {
    std::map<std::string, uint64_t> all;
    for (const auto& [key, found] : groups_) {
        if (key.first == product) {
            for (const auto& [text, n] : found->failures) {
                all[text] += n;
            }
        }
    }
    return mostFrequent(all, all.size());
}
