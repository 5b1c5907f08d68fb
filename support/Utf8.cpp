#include "support/Utf8.h"

#include <cstdio>

namespace {
const char kReplacement[] = "\xEF\xBF\xBD";

// The length of the UTF-8 sequence at `at`, or 0 when the byte there begins none.
size_t sequenceAt(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        return 1;
    }
    size_t length = 0;
    unsigned long value = 0, least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    return value < least || surrogate || value > 0x10FFFF ? 0 : length;
}
}  // namespace

std::string validUtf8(const std::string& text) {
    std::string valid;
    valid.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t length = sequenceAt(text, at);
        if (length == 0) {
            valid += kReplacement;
            ++at;
        } else {
            valid.append(text, at, length);
            at += length;
        }
    }
    return valid;
}

bool isUtf8(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        const size_t length = sequenceAt(text, at);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

namespace {
// The text with each control character but a line break and a tab escaped (`escape`) or
// replaced by U+FFFD, and each byte that is not UTF-8 replaced.
std::string shownText(const std::string& text, bool escape) {
    std::string shown;
    shown.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t length = sequenceAt(text, at);
        const auto lead = static_cast<unsigned char>(text[at]);
        const auto next = length == 2 ? static_cast<unsigned char>(text[at + 1]) : 0;
        char escaped[8] = {};
        if (length == 0) {
            shown += kReplacement;
            ++at;
            continue;
        }
        if (length == 1 && ((lead < 0x20 && lead != '\n' && lead != '\t') || lead == 0x7F)) {
            std::snprintf(escaped, sizeof escaped, "\\x%02x", lead);
        } else if (lead == 0xC2 && next < 0xA0) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", next);
        }
        if (escaped[0] != 0) {
            shown += escape ? escaped : kReplacement;
        } else {
            shown.append(text, at, length);
        }
        at += length;
    }
    return shown;
}
}  // namespace

std::string printable(const std::string& text) {
    return shownText(text, true);
}

std::string withoutControls(const std::string& text) {
    return shownText(text, false);
}
