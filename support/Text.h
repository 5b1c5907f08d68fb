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
