#include "station/JobFile.h"

#include <algorithm>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "support/Files.h"
#include "support/JsonText.h"
#include "support/Text.h"

namespace fs = std::filesystem;

namespace {
const char* const kInstruments[] = {"ticked", "slots", "automatic"};
// The fields beside the options' (kSwitchOptions, kNumberOptions, kTextOptions).
const char* const kFields[] = {"ostrajob",  "images", "instruments", "ports", "slots",
                               "usbFilter", "report", "batch",       "locked"};

// Whether `key` is an option's in a job: "verify", or within the batch, "batch.quantity".
bool isOptionKey(const std::string& key) {
    bool known = false;
    forEachOption([&](const auto& option) {
        known = known || (option.jobKey != nullptr && key == option.jobKey);
    });
    return known;
}

// The object an option's key lies in ("batch.quantity": the batch), and its last part.
std::pair<const nlohmann::json*, std::string> place(const nlohmann::json& j,
                                                    const std::string& key) {
    const size_t dot = key.find('.');
    if (dot == std::string::npos) {
        return {&j, key};
    }
    const auto outer = j.find(key.substr(0, dot));
    return {outer != j.end() && outer->is_object() ? &*outer : nullptr, key.substr(dot + 1)};
}

[[noreturn]] void refuse(const std::string& path, const std::string& why,
                         const std::string& hint = "") {
    throw Problem(kUsage, "the job " + path + " " + why, hint);
}

// A job is a few kilobytes nested a few levels (the job, its slots, a slot): what is far
// larger or deeper is no job, and would cost the memory or the stack of what reads it.
constexpr size_t kJobBytes = 1 << 20;
constexpr int kJobDepth = 8;

std::string readWhole(const std::string& path) {
    StdioFile file = openFile(path, "rb");
    if (!file) {
        refuse(path, "cannot be read", "Name a job file (.ostrajob) that exists.");
    }
    std::string text;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;) {
        text.append(chunk, n);
        if (text.size() > kJobBytes) {
            refuse(path, "is larger than a job is (over 1 MiB)",
                   "Open a file that Ostraloader saved.");
        }
    }
    return text;
}

nlohmann::json parseJob(const std::string& path) {
    bool deep = false;
    nlohmann::json j = nlohmann::json::parse(
        readWhole(path),
        [&deep](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
            deep = deep || depth > kJobDepth;
            return !deep;  // what lies deeper is not kept
        },
        false);
    if (deep) {
        refuse(path, "is nested deeper than a job is (over 8 levels)",
               "Open a file that Ostraloader saved.");
    }
    return j;
}

// A value as a refusal quotes it: its start alone when it is long.
std::string quoted(const nlohmann::json& value) {
    const std::string text = jsonText(value);
    return text.size() <= 40 ? text : text.substr(0, 40) + "...";
}

// The field's value, of the kind asked for; refuses the job otherwise.
template <class T>
T take(const nlohmann::json& j, const char* field, const T& otherwise, const std::string& path) {
    const auto it = j.find(field);
    if (it == j.end()) {
        return otherwise;
    }
    try {
        return it->get<T>();
    } catch (const nlohmann::json::exception&) {
        refuse(path, std::string("has a \"") + field + "\" of the wrong kind: " + quoted(*it));
    }
}

// The options a job keeps, each of its kind and, a number, within its range.
void takeOptions(const nlohmann::json& j, JobFile& job, const std::string& path) {
    for (const SwitchOption& option : kSwitchOptions) {
        if (option.jobKey != nullptr) {
            job.*option.field = take(j, option.jobKey, false, path);
        }
    }
    for (const NumberOption& option : kNumberOptions) {
        if (option.jobKey == nullptr) {
            continue;
        }
        const auto [object, key] = place(j, option.jobKey);
        if (object == nullptr || object->find(key) == object->end()) {
            continue;
        }
        const auto it = object->find(key);
        const bool whole = it->is_number_integer();
        const long long n = whole ? it->get<long long>() : 0;
        if (!whole || (n != option.none && (n < option.least || n > option.most))) {
            refuse(path, std::string("has \"") + option.jobKey + "\": " + quoted(*it) + ", not " +
                             rangeText(option));
        }
        job.*option.field = static_cast<int>(n);
    }
    for (const TextOption& option : kTextOptions) {
        if (option.jobKey != nullptr) {
            const auto [object, key] = place(j, option.jobKey);
            if (object != nullptr) {
                job.*option.field = take<std::string>(*object, key.c_str(), "", path);
            }
        }
    }
}

// The options a job keeps, into its object; those within the batch under "batch".
void putOptions(const JobFile& job, nlohmann::json& j) {
    const auto put = [&j](const std::string& jobKey, const nlohmann::json& value) {
        const size_t dot = jobKey.find('.');
        if (dot == std::string::npos) {
            j[jobKey] = value;
        } else {
            j[jobKey.substr(0, dot)][jobKey.substr(dot + 1)] = value;
        }
    };
    forEachOption([&](const auto& option) {
        if (option.jobKey != nullptr) {
            put(option.jobKey, job.*option.field);
        }
    });
}

std::vector<Slot> takeSlots(const nlohmann::json& j, const std::string& path) {
    std::vector<Slot> slots;
    for (const nlohmann::json& s : take(j, "slots", nlohmann::json::array(), path)) {
        if (!s.is_object() || s.size() != 2 || !s.value("name", nlohmann::json()).is_string() ||
            !s.value("port", nlohmann::json()).is_string()) {
            refuse(path, "has a slot that is not {\"name\": ..., \"port\": ...}: " + quoted(s));
        }
        slots.push_back({s["name"], s["port"]});
    }
    return slots;
}

// A path as the job keeps it: relative to its folder when it lies within it, so that the
// folder may move; as it is otherwise.
std::string relativeTo(const fs::path& folder, const std::string& path) {
    if (path.empty()) {
        return path;
    }
    std::error_code error;
    const fs::path relative = fs::relative(fs::u8path(path), folder, error);
    const bool within = !error && !relative.empty() && *relative.begin() != "..";
    return within ? relative.generic_u8string() : path;
}

// A path the job keeps, as the station uses it: from the job's folder where it is relative.
std::string resolved(const fs::path& folder, const std::string& path) {
    const fs::path p = fs::u8path(path);
    return path.empty() || p.is_absolute() ? path : (folder / p).lexically_normal().u8string();
}
}  // namespace

bool JobFile::operator==(const JobFile& o) const {
    bool same = images == o.images && instruments == o.instruments && ports == o.ports &&
                slots == o.slots && usbFilter == o.usbFilter && report == o.report &&
                locked == o.locked;
    forEachOption([&](const auto& option) {
        same = same && (option.jobKey == nullptr || this->*option.field == o.*option.field);
    });
    return same;
}

JobFile loadJob(const std::string& path) {
    const nlohmann::json j = parseJob(path);
    if (!j.is_object() || !j.contains("ostrajob")) {
        refuse(path, "is not an Ostraloader station job", "Open a file that Ostraloader saved.");
    }
    if (!j["ostrajob"].is_number_integer() || j["ostrajob"].get<long long>() != JobFile::kVersion) {
        refuse(path,
               "is a job of version " + quoted(j["ostrajob"]) +
                   "; this Ostraloader reads "
                   "version " +
                   std::to_string(JobFile::kVersion),
               "Open it with the Ostraloader that saved it, or a newer one.");
    }
    for (const auto& [key, value] : j.items()) {
        if (std::find(std::begin(kFields), std::end(kFields), key) == std::end(kFields) &&
            !isOptionKey(key)) {
            refuse(path, "has a field \"" + key + "\" this Ostraloader does not know",
                   "Open it with the Ostraloader that saved it, or a newer one.");
        }
    }
    JobFile job;
    job.images = take(j, "images", job.images, path);
    const std::string instruments = take<std::string>(j, "instruments", "ticked", path);
    const auto kind = std::find(std::begin(kInstruments), std::end(kInstruments), instruments);
    if (kind == std::end(kInstruments)) {
        refuse(path, "has instruments \"" + instruments + "\": ticked, slots or automatic");
    }
    job.instruments = static_cast<JobFile::Instruments>(kind - std::begin(kInstruments));
    job.ports = take(j, "ports", job.ports, path);
    job.slots = takeSlots(j, path);
    job.usbFilter = take(j, "usbFilter", job.usbFilter, path);
    job.report = take(j, "report", job.report, path);
    const nlohmann::json batch = take(j, "batch", nlohmann::json::object(), path);
    for (const auto& [key, value] : batch.items()) {
        if (!isOptionKey("batch." + key)) {
            refuse(path, "has a batch field \"" + key + "\" this Ostraloader does not know",
                   "Open it with the Ostraloader that saved it, or a newer one.");
        }
    }
    takeOptions(j, job, path);
    job.locked = take(j, "locked", false, path);
    return job;
}

void saveJob(const std::string& path, JobFile job) {
    const fs::path folder = fs::absolute(fs::u8path(path)).parent_path();
    for (std::string& image : job.images) {
        image = relativeTo(folder, image);
    }
    job.report = relativeTo(folder, job.report);
    nlohmann::json slots = nlohmann::json::array();
    for (const Slot& slot : job.slots) {
        slots.push_back({{"name", slot.name}, {"port", slot.port}});
    }
    nlohmann::json j = {{"ostrajob", JobFile::kVersion},
                        {"images", job.images},
                        {"instruments", kInstruments[static_cast<int>(job.instruments)]},
                        {"ports", job.ports},
                        {"slots", slots},
                        {"usbFilter", job.usbFilter},
                        {"report", job.report},
                        {"locked", job.locked}};
    putOptions(job, j);
    const std::string error = replaceFile(path, jsonText(j, 2) + "\n");
    if (!error.empty()) {
        throw Problem(kUsage, "cannot save the job " + path + ": " + error,
                      "Save it in a folder that exists and that this user may write to.");
    }
}

StationRequest requestOf(const JobFile& job, const std::string& jobPath) {
    const fs::path folder = fs::absolute(fs::u8path(jobPath)).parent_path();
    StationRequest r;
    std::vector<std::string> missing;
    std::error_code error;
    for (const std::string& image : job.images) {
        r.images.push_back(resolved(folder, image));
        if (!fs::exists(fs::u8path(r.images.back()), error)) {
            missing.push_back(r.images.back() + " (an image file or folder)");
        }
    }
    r.report = resolved(folder, job.report);
    const fs::path reportFolder = fs::u8path(r.report).parent_path();
    if (!r.report.empty() && !reportFolder.empty() && !fs::is_directory(reportFolder, error)) {
        missing.push_back(reportFolder.u8string() + " (the report's folder)");
    }
    if (!missing.empty()) {
        refuse(jobPath, "names what is missing: " + joinTexts(missing),
               "Put them back, or open the job in the station window and choose again.");
    }
    r.watch = job.instruments == JobFile::Instruments::Automatic;
    if (job.instruments == JobFile::Instruments::Ticked) {
        r.ports = job.ports;
    } else if (job.instruments == JobFile::Instruments::Slots) {
        r.slots = job.slots;
    } else if (!job.usbFilter.empty()) {
        r.ports = {"usb:" + job.usbFilter};
    }
    static_cast<ServiceSettings&>(r) = job;
    return r;
}

JobFile jobOf(const StationRequest& r) {
    JobFile job;
    job.images = r.images;
    job.instruments = !r.slots.empty() ? JobFile::Instruments::Slots
                      : r.watch        ? JobFile::Instruments::Automatic
                                       : JobFile::Instruments::Ticked;
    if (job.instruments == JobFile::Instruments::Ticked) {
        job.ports = r.ports;
    }
    job.slots = r.slots;
    if (r.watch && r.ports.size() == 1 && startsWith(r.ports[0], "usb:") &&
        r.ports[0].size() == 13) {
        job.usbFilter = r.ports[0].substr(4);
    }
    static_cast<ServiceSettings&>(job) = r;
    job.report = r.report;
    return job;
}
