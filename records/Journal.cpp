#include "records/Journal.h"

#include <algorithm>
#include <cstdio>
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

namespace {
// The report's last whole line, without its line break; empty when it has none.
std::string lastLine(const std::string& report) {
    StdioFile file = openFile(report, "rb");
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0) {
        return "";
    }
    const long size = std::ftell(file.get());
    const long from = std::max(0L, size - 65536L);  // a record is far shorter
    std::string tail(static_cast<size_t>(std::max(0L, size - from)), '\0');
    if (tail.empty() || std::fseek(file.get(), from, SEEK_SET) != 0) {
        return "";
    }
    tail.resize(std::fread(&tail[0], 1, tail.size(), file.get()));
    if (tail.empty() || tail.back() != '\n') {
        return "";
    }
    const size_t start = tail.rfind('\n', tail.size() - 2);
    const size_t first = start == std::string::npos ? 0 : start + 1;
    return start == std::string::npos && from > 0 ? ""
                                                  : tail.substr(first, tail.size() - 1 - first);
}

// One ended station's journal turned into records, rewritten after each so that whatever
// stops it (a full disk, the power), each entry reaches the report once. Only its first
// entry can be in the report already: appended by a recovery stopped before its rewrite.
bool recoverJournal(const std::string& journal, const std::string& report, size_t& written,
                    std::optional<Problem>& problem) {
    std::vector<nlohmann::json> entries;
    const std::string text = readWhole(journal);
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = std::min(text.find('\n', at), text.size());
        nlohmann::json record = nlohmann::json::parse(text.substr(at, end - at), nullptr, false);
        if (record.is_object()) {
            entries.push_back(std::move(record));
        }
    }
    const bool firstWritten = !entries.empty() && jsonText(entries[0]) == lastLine(report);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i > 0 || !firstWritten) {
            if (std::optional<Problem> failed = appendRecord(report, entries[i])) {
                problem = failed;
                return false;
            }
            ++written;
        }
        std::string rest;
        for (size_t j = i + 1; j < entries.size(); ++j) {
            rest += jsonText(entries[j]) + "\n";
        }
        if (const std::string error = replaceFile(journal, rest); !error.empty()) {
            problem =
                Problem(kUsage, "cannot rewrite the journal " + journal + ": " + error,
                        "Make room on the disk: the next run goes on where this one stopped.");
            return false;
        }
    }
    return true;
}
}  // namespace

size_t recoverJournals(const std::string& report, std::optional<Problem>& problem) {
    const fs::path reportPath = fs::u8path(report);
    const std::string prefix = reportPath.filename().u8string() + ".";
    fs::path folder = reportPath.parent_path();
    folder = folder.empty() ? fs::path(".") : folder;
    std::vector<std::string> journals, locks;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().u8string();
        if (startsWith(name, prefix) && endsWith(name, kSuffix)) {
            journals.push_back(it->path().u8string());
        } else if (startsWith(name, prefix) && endsWith(name, std::string(kSuffix) + ".lock")) {
            locks.push_back(it->path().u8string());
        }
    }
    // A lock without its journal: a station that ended between removing the one and the
    // other. Nobody holds it; it goes.
    for (const std::string& stale : locks) {
        const std::string journal = stale.substr(0, stale.size() - 5);
        std::error_code missing;
        FileLock lock(stale);
        if (lock.held() && !fs::exists(fs::u8path(journal), missing)) {
            removeFile(stale);
        }
    }
    size_t written = 0;
    for (const std::string& journal : journals) {
        FileLock lock(journal + ".lock");
        if (!lock.held()) {
            continue;  // its station is alive
        }
        if (!recoverJournal(journal, report, written, problem)) {
            return written;  // what is left of the journal stays for the next run
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
