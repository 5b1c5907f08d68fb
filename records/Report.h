#pragma once
// The report: one service record a line (JSON), appended by the station, or by the command
// line for a single instrument, and put on the disk before it counts as written.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "support/Problem.h"

// Throws a Problem (exit code 2) when the report cannot be appended to; creates it when
// missing.
void checkReportFile(const std::string& path);
// Ends a last line that was cut short (the power cut while it was written) with a line
// break, so that every record appended later reads as a line of its own. Whether one was.
bool sealCutLine(const std::string& path);
// Appends a record's line and waits until it is on the disk; the problem when it failed.
std::optional<Problem> appendRecord(const std::string& path, const nlohmann::json& record);
