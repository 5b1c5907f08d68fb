#include "records/RecordCsv.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "support/UtcTime.h"

namespace {
const char* const kColumns[] = {"time",           "port",       "slot",         "serial",
                                "label",          "device",     "bootloader",   "firmware_before",
                                "firmware_after", "image_file", "image_sha256", "attempt",
                                "result",         "exit",       "milliseconds", "batch",
                                "operator"};

// A number as a spreadsheet reads one ("-5", "+1.25", "2e3"): left as it is.
bool isNumber(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    return !text.empty() && !std::isspace(static_cast<unsigned char>(text[0])) &&
           end == text.c_str() + text.size() && std::isfinite(value);
}

std::string field(std::string text, char separator) {
    // A cell a spreadsheet would run as a formula starts with a quote instead (OWASP's rule
    // for CSV exports): a label "=HYPERLINK(...)" is shown, never followed.
    if (!text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos &&
        !isNumber(text)) {
        text.insert(0, 1, '\'');
    }
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
