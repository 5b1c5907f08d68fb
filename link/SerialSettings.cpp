#include "link/SerialSettings.h"

#include <vector>

#include "support/CInteger.h"
#include "support/Exception.h"

namespace {
std::vector<std::string> splitFields(const std::string& text) {
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}
}  // namespace

LineSettings parseLineSettings(const std::string& text) {
    const std::vector<std::string> fields = splitFields(text);
    if (fields.size() != 4) {
        throw Exception("not valid format of com settings, (have to be 19200,8,N,1)");
    }
    LineSettings settings;
    settings.baud = readCInteger(fields[0].c_str());
    switch (fields[1].empty() ? '\0' : fields[1][0]) {
        case 'E':
        case 'e':
            settings.parity = LineSettings::Parity::Even;
            break;
        case 'N':
        case 'n':
            settings.parity = LineSettings::Parity::None;
            break;
        case 'O':
        case 'o':
            settings.parity = LineSettings::Parity::Odd;
            break;
        default:
            throw Exception("Not valid type of parity");
    }
    settings.dataBits = readCInteger(fields[2].c_str());
    const long stopBits = readCInteger(fields[3].c_str());
    if (stopBits != 1 && stopBits != 2) {
        throw Exception("Not valid number of stop bits");
    }
    settings.stopBits = static_cast<int>(stopBits);
    return settings;
}
