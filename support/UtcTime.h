#pragma once
// Times in service records: seconds since 1970, written in ISO 8601 UTC, and the local
// dates and times a person types and reads.
#include <cstdint>
#include <string>

// "2026-12-08T03:14:07Z".
std::string isoUtc(int64_t seconds);
// The current time in seconds since 1970.
int64_t secondsNow();
// "2026-12-08T03:14:07Z" back into seconds; false for anything else.
bool parseIsoUtc(const char* text, size_t size, int64_t& seconds);
// A local date ("2026-12-08") or date and time ("2026-12-08 14:30", "2026-12-08T14:30:05")
// into seconds since 1970. A date alone is its day's first second, or with `dayEnd` the
// first second of the day after. False for anything else.
bool parseLocalTime(const std::string& text, bool dayEnd, int64_t& seconds);
// The local date ("2026-12-08"), hour ("2026-12-08 14:00") and time ("2026-12-08
// 14:30:05") of a moment.
std::string localDay(int64_t seconds);
std::string localHour(int64_t seconds);
std::string localTime(int64_t seconds);
// The first second of the local day that `seconds` falls in.
int64_t localDayStart(int64_t seconds);
