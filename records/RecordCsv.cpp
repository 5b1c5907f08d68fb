#include "records/RecordCsv.h"

#include <cmath>

#include "support/UtcTime.h"

namespace {
const char* const kColumns[] = {"time",           "port",       "slot",         "serial",
                                "label",          "device",     "bootloader",   "firmware_before",
                                "firmware_after", "image_file", "image_sha256", "attempt",
                                "result",         "exit",       "milliseconds", "batch",
                                "operator"};

std::string field(const std::string& text, char separator) {
    if (text.find_first_of(std::string("\"\r\n") + separator) == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}
}  // namespace

std::string csvHeader(char separator) {
    std::string row;
    for (const char* column : kColumns) {
        row += (row.empty() ? "" : std::string(1, separator)) + column;
    }
    return row + "\r\n";
}

std::string csvRow(const RecordLine& r, char separator) {
    const std::string milliseconds =
        r.seconds < 0 ? "" : std::to_string(static_cast<long long>(std::llround(r.seconds * 1000)));
    const std::string fields[] = {isoUtc(r.time),  r.port,
                                  r.slot,          r.serial,
                                  r.label,         r.deviceType,
                                  r.bootloader,    r.firmwareBefore,
                                  r.firmwareAfter, r.imageFile,
                                  r.imageSha256,   std::to_string(r.attempt),
                                  r.result,        std::to_string(r.exit),
                                  milliseconds,    r.batch,
                                  r.operatorName};
    std::string row;
    for (const std::string& f : fields) {
        row += (row.empty() && &f == &fields[0] ? "" : std::string(1, separator)) +
               field(f, separator);
    }
    return row + "\r\n";
}
