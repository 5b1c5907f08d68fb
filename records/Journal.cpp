#include "records/Journal.h"

#include <filesystem>
#include <random>
#include <vector>

#include "records/Report.h"
#include "support/JsonText.h"
#include "support/Text.h"

namespace fs = std::filesystem;

namespace {
const char kSuffix[] = ".journal";

// A name of its own for each station's journal: two stations may share a report.
std::string randomId() {
    std::random_device random;
    char id[17];
    std::snprintf(id, sizeof id, "%08x%08x", random(), random());
    return id;
}

std::string readWhole(const std::string& path) {
    std::string text;
    StdioFile file = openFile(path, "rb");
    char chunk[4096];
    for (size_t n; file && (n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;) {
        text.append(chunk, n);
    }
    return text;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}
}  // namespace

Journal::Journal(const std::string& report) {
    if (report.empty()) {
        return;
    }
    path_ = report + "." + randomId() + kSuffix;
    lock_ = std::make_unique<FileLock>(path_ + ".lock");
}

Journal::~Journal() {
    if (!path_.empty() && entries_.empty()) {
        removeFile(path_);
        removeFile(path_ + ".lock");  // still held: nobody takes it for an ended station's
    }
}

void Journal::write(std::optional<Problem>& problem) {
    std::string text;
    for (const auto& [entry, record] : entries_) {
        text += jsonText(record) + "\n";
    }
    const std::string error = replaceFile(path_, text);
    if (!error.empty() && !problem) {
        problem = Problem(kDeviceFailed, "cannot keep the journal " + path_ + ": " + error,
                          "Should the station end before an instrument, that instrument will "
                          "have no record: free space on the disk.");
    }
}

size_t Journal::begin(const nlohmann::json& record, std::optional<Problem>& problem) {
    const size_t entry = next_++;
    if (!path_.empty()) {
        entries_[entry] = record;
        write(problem);
    }
    return entry;
}

void Journal::update(size_t entry, const nlohmann::json& record, std::optional<Problem>& problem) {
    const auto it = entries_.find(entry);
    if (it != entries_.end() && it->second != record) {
        it->second = record;
        write(problem);
    }
}

void Journal::end(size_t entry, std::optional<Problem>& problem) {
    if (entries_.erase(entry) > 0) {
        write(problem);
    }
}

size_t recoverJournals(const std::string& report, std::optional<Problem>& problem) {
    const fs::path reportPath = fs::u8path(report);
    const std::string prefix = reportPath.filename().u8string() + ".";
    fs::path folder = reportPath.parent_path();
    folder = folder.empty() ? fs::path(".") : folder;
    std::vector<std::string> journals;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().u8string();
        if (startsWith(name, prefix) && endsWith(name, kSuffix)) {
            journals.push_back(it->path().u8string());
        }
    }
    size_t written = 0;
    for (const std::string& journal : journals) {
        FileLock lock(journal + ".lock");
        if (!lock.held()) {
            continue;  // its station is alive
        }
        const std::string text = readWhole(journal);
        for (size_t at = 0, end; at < text.size(); at = end + 1) {
            end = text.find('\n', at);
            end = end == std::string::npos ? text.size() : end;
            const nlohmann::json record =
                nlohmann::json::parse(text.substr(at, end - at), nullptr, false);
            if (!record.is_object()) {
                continue;
            }
            std::optional<Problem> failed = appendRecord(report, record);
            if (failed) {
                problem = failed;
                return written;  // the journal stays for the next run
            }
            ++written;
        }
        removeFile(journal + ".new");
        removeFile(journal);
        removeFile(journal + ".lock");
    }
    return written;
}

ReportRepair repairReport(const std::string& report) {
    ReportRepair repair;
    repair.sealed = sealCutLine(report);
    repair.recovered = recoverJournals(report, repair.problem);
    return repair;
}
