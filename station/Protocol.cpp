#include "station/Protocol.h"

#include <cstdlib>

#include "support/JsonText.h"
#include "support/Text.h"

namespace {
const char* const kCommands[] = {"status", "upload", "run", "read", "erase"};
const char* const kOperations[] = {"connect", "upload", "verify", "read", "erase", "run"};
const char* const kKinds[] = {"connected", "status", "image",  "started", "progress",
                              "finished",  "error",  "record", "retry",   "text"};

template <size_t N>
int indexOf(const char* const (&names)[N], const std::string& name) {
    for (size_t i = 0; i < N; ++i) {
        if (name == names[i]) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string text(const nlohmann::json& object, const char* field) {
    const auto it = object.find(field);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

int number(const nlohmann::json& object, const char* field) {
    const auto it = object.find(field);
    return it != object.end() && it->is_number_integer() ? it->get<int>() : 0;
}

// "2.1" into its two numbers.
void splitVersion(const std::string& v, uint8_t& major, uint8_t& minor) {
    major = static_cast<uint8_t>(std::atoi(v.c_str()));
    const size_t dot = v.find('.');
    minor = static_cast<uint8_t>(dot == std::string::npos ? 0 : std::atoi(v.c_str() + dot + 1));
}

StatusInfo statusFromFields(const nlohmann::json& j) {
    StatusInfo s;
    s.deviceType = static_cast<uint8_t>(number(j, "deviceCode"));
    splitVersion(text(j, "bootloader"), s.bootloaderMajor, s.bootloaderMinor);
    splitVersion(text(j, "firmware"), s.firmwareMajor, s.firmwareMinor);
    s.firmwareSize = j.value("firmwareSize", 0u);
    s.firmwareTime = j.value("firmwareTime", 0);
    s.flags = j.value("loaded", false) ? kStatusFlagLoaded : 0;
    return s;
}

FirmwareImageInfo imageFromFields(const nlohmann::json& j) {
    FirmwareImageInfo info;
    info.verdict = j.value("intact", false) ? FirmwareImageInfo::Verdict::Intact
                                            : FirmwareImageInfo::Verdict::Corrupted;
    info.deviceType = static_cast<DeviceType>(number(j, "deviceCode"));
    splitVersion(text(j, "version"), info.versionMajor, info.versionMinor);
    info.build = j.value("build", 0u);
    info.length = j.value("length", 0u);
    return info;
}

Operation operationNamed(const std::string& name) {
    const int at = indexOf(kOperations, name);
    return at < 0 ? Operation::Connect : static_cast<Operation>(at);
}
}  // namespace

const char* commandName(Command command) {
    return kCommands[static_cast<int>(command)];
}

const char* operationName(Operation operation) {
    return kOperations[static_cast<int>(operation)];
}

CopyOrder CopyOrder::probeOrder() {
    CopyOrder order;
    order.command = Command::Status;
    order.probe = true;
    return order;
}

std::vector<std::string> serviceArguments(const CopyOrder& order, const std::string& port) {
    std::vector<std::string> args = {"--json", "--station-copy", "--port", port};
    if (order.probe) {
        args.push_back("status");
        return args;
    }
    for (const TextOption& option : kTextOptions) {
        if (option.toCopy && !(order.*option.field).empty()) {
            args.insert(args.end(), {option.flag, order.*option.field});
        }
    }
    for (const SwitchOption& option : kSwitchOptions) {
        if (option.toCopy && option.place == OptionPlace::Common && order.*option.field) {
            args.push_back(option.flag);
        }
    }
    args.push_back(commandName(order.command));
    args.insert(args.end(), order.images.begin(), order.images.end());
    if (!order.readFile.empty()) {
        args.push_back(order.readFile);
    }
    for (const SwitchOption& option : kSwitchOptions) {
        if (option.toCopy && option.place == OptionPlace::Upload &&
            order.command == Command::Upload && order.*option.field) {
            args.push_back(option.flag);
        }
    }
    return args;
}

namespace {
// An event of `kind` with the fields `fill` sets.
template <class Fill>
CopyEvent eventOf(CopyEvent::Kind kind, Fill fill) {
    CopyEvent e;
    e.kind = kind;
    fill(e);
    return e;
}
}  // namespace

CopyEvent CopyEvent::connected(const std::string& port, const std::string& device,
                               const std::string& serial, const std::string& route) {
    return eventOf(Kind::Connected, [&](CopyEvent& e) {
        e.port = port;
        e.device = device;
        e.serial = serial;
        e.route = route;
    });
}

CopyEvent CopyEvent::statusOf(const StatusInfo& status) {
    return eventOf(Kind::Status, [&](CopyEvent& e) { e.status = status; });
}

CopyEvent CopyEvent::imageOf(const std::string& file, const FirmwareImageInfo& image) {
    return eventOf(Kind::Image, [&](CopyEvent& e) {
        e.file = file;
        e.image = image;
    });
}

CopyEvent CopyEvent::started(Operation operation, int pages) {
    return eventOf(Kind::Started, [&](CopyEvent& e) {
        e.operation = operation;
        e.pages = pages;
    });
}

CopyEvent CopyEvent::progress(Operation operation, int done, int pages) {
    return eventOf(Kind::Progress, [&](CopyEvent& e) {
        e.operation = operation;
        e.done = done;
        e.pages = pages;
    });
}

CopyEvent CopyEvent::finished(Operation operation) {
    return eventOf(Kind::Finished, [&](CopyEvent& e) { e.operation = operation; });
}

CopyEvent CopyEvent::error(const Problem& problem) {
    return eventOf(Kind::Error, [&](CopyEvent& e) { e.problem = problem; });
}

CopyEvent CopyEvent::recordOf(const nlohmann::json& record) {
    return eventOf(Kind::Record, [&](CopyEvent& e) { e.record = record; });
}

CopyEvent CopyEvent::retry(int attempt) {
    return eventOf(Kind::Retry, [&](CopyEvent& e) { e.attempt = attempt; });
}

nlohmann::json statusFields(const StatusInfo& s) {
    return {{"deviceType", deviceStatusName(s.deviceType)},
            {"deviceCode", s.deviceType},
            {"bootloader", versionText(s.bootloaderMajor, s.bootloaderMinor)},
            {"firmware", versionText(s.firmwareMajor, s.firmwareMinor)},
            {"firmwareTime", s.firmwareTime},
            {"firmwareSize", s.firmwareSize},
            {"loaded", s.firmwareLoaded()}};
}

nlohmann::json imageFields(const FirmwareImageInfo& info) {
    nlohmann::json j = {{"verdict", info.verdictText()},
                        {"intact", info.verdict == FirmwareImageInfo::Verdict::Intact}};
    if (info.verdict == FirmwareImageInfo::Verdict::Intact) {
        j["deviceCode"] = info.deviceType;
        j["product"] = productName(info.deviceType);
        j["version"] = versionText(info.versionMajor, info.versionMinor);
        j["flags"] = firmwareFlagsText(info.flags);
        j["build"] = info.build;
        j["buildTime"] = formatCalendarTime(firmwareBuildTime(info.timestamp));
        j["length"] = info.length;
    }
    return j;
}

nlohmann::json eventJson(const CopyEvent& e) {
    nlohmann::json j = {{"event", kKinds[static_cast<int>(e.kind)]}};
    switch (e.kind) {
        case CopyEvent::Kind::Connected:
            j.update({{"port", e.port}, {"device", e.device}, {"serial", e.serial}});
            j["route"] = e.route;
            break;
        case CopyEvent::Kind::Status:
            j.update(statusFields(e.status));
            break;
        case CopyEvent::Kind::Image:
            j.update(imageFields(e.image));
            j["file"] = e.file;
            break;
        case CopyEvent::Kind::Started:
        case CopyEvent::Kind::Progress:
            j.update({{"operation", operationName(e.operation)}, {"pages", e.pages}});
            if (e.kind == CopyEvent::Kind::Progress) {
                j["done"] = e.done;
                j["percent"] = e.pages > 0 ? static_cast<int>(100LL * e.done / e.pages) : 100;
            }
            break;
        case CopyEvent::Kind::Finished:
            j["operation"] = operationName(e.operation);
            break;
        case CopyEvent::Kind::Error:
            j["message"] = e.problem.message;
            if (!e.problem.hint.empty()) {
                j["hint"] = e.problem.hint;
            }
            break;
        case CopyEvent::Kind::Record:
            j["record"] = e.record;
            break;
        case CopyEvent::Kind::Retry:
            j["attempt"] = e.attempt;
            break;
        case CopyEvent::Kind::Text:
            j["text"] = e.text;
            break;
    }
    return j;
}

CopyEvent readEvent(const nlohmann::json& j) {
    CopyEvent e;
    e.kind = static_cast<CopyEvent::Kind>(indexOf(kKinds, text(j, "event")));
    switch (e.kind) {
        case CopyEvent::Kind::Connected:
            return CopyEvent::connected(text(j, "port"), text(j, "device"), text(j, "serial"),
                                        text(j, "route"));
        case CopyEvent::Kind::Status:
            return CopyEvent::statusOf(statusFromFields(j));
        case CopyEvent::Kind::Image:
            return CopyEvent::imageOf(text(j, "file"), imageFromFields(j));
        case CopyEvent::Kind::Started:
        case CopyEvent::Kind::Progress:
            e.operation = operationNamed(text(j, "operation"));
            e.done = number(j, "done");
            e.pages = number(j, "pages");
            return e;
        case CopyEvent::Kind::Finished:
            return CopyEvent::finished(operationNamed(text(j, "operation")));
        case CopyEvent::Kind::Error:
            return CopyEvent::error(Problem(kDeviceFailed, text(j, "message"), text(j, "hint")));
        case CopyEvent::Kind::Record:
            return CopyEvent::recordOf(j.value("record", nlohmann::json::object()));
        case CopyEvent::Kind::Retry:
            return CopyEvent::retry(number(j, "attempt"));
        case CopyEvent::Kind::Text:
            e.text = text(j, "text");
            return e;
    }
    // Not one of the copies' events (indexOf's -1 lands here too): kept as its text.
    e.kind = CopyEvent::Kind::Text;
    e.text = jsonText(j);
    return e;
}

CopyEvent readEvent(const std::string& line) {
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_discarded() && j.is_object()) {
        return readEvent(j);
    }
    CopyEvent e;
    e.text = line;
    return e;
}
