#pragma once
// Texts put together for messages.
#include <string>
#include <vector>

// "a, b, c": the items with `separator` between them; empty for none.
inline std::string joinTexts(const std::vector<std::string>& items,
                             const std::string& separator = ", ") {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : separator) + item;
    }
    return text;
}

// "2.1": a version as every output of the program shows it.
inline std::string versionText(int major, int minor) {
    return std::to_string(major) + "." + std::to_string(minor);
}

inline bool startsWith(const std::string& text, const std::string& head) {
    return text.compare(0, head.size(), head) == 0;
}
