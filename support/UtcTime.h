#pragma once
// Times in service records: seconds since 1970, written in ISO 8601 UTC.
#include <cstdint>
#include <string>

// "2026-12-08T03:14:07Z".
std::string isoUtc(int64_t seconds);
// The current time in seconds since 1970.
int64_t secondsNow();
