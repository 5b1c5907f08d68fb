#include "records/Report.h"

#include "support/Files.h"
#include "support/JsonText.h"

void checkReportFile(const std::string& path) {
    const std::string error = appendToFile(path, "");
    if (!error.empty()) {
        throw Problem(kUsage, "cannot append to the report " + path + ": " + error,
                      "Name a file in a folder that exists and that this user may write to.");
    }
}

bool sealCutLine(const std::string& path) {
    StdioFile file = openFile(path, "rb");
    if (!file || std::fseek(file.get(), -1, SEEK_END) != 0) {
        return false;  // missing or empty
    }
    const int last = std::fgetc(file.get());
    file.reset();
    return last != '\n' && last != EOF && appendToFile(path, "\n", true).empty();
}

std::optional<Problem> appendRecord(const std::string& path, const nlohmann::json& record) {
    const std::string error = appendToFile(path, jsonText(record) + "\n", true);
    if (error.empty()) {
        return std::nullopt;
    }
    return Problem(kDeviceFailed, "cannot append to the report " + path + ": " + error,
                   "This instrument's record is lost: make room on the disk, or give the station a "
                   "report file it may write to.");
}
