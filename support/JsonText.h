#pragma once
// JSON as this program writes it: always valid. A string that is not UTF-8 (checked at its
// border already, this is the last guard) is written with U+FFFD in place of what is not,
// never an exception that ends a station mid-shift.
#include <string>

#include <nlohmann/json.hpp>

inline std::string jsonText(const nlohmann::json& j, int indent = -1) {
    return j.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}
