#include "support/UtcTime.h"

#include <cstdio>
#include <ctime>

namespace {
// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// The days of a month of the Gregorian calendar: a date beyond them is no date.
int daysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// `count` decimal digits at `text`, into `value`.
bool digits(const char* text, int count, int& value) {
    value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

std::tm localParts(int64_t seconds) {
    const time_t t = static_cast<time_t>(seconds);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    return local;
}

std::string formatLocal(int64_t seconds, const char* format) {
    const std::tm local = localParts(seconds);
    char text[32];
    std::strftime(text, sizeof text, format, &local);
    return text;
}
}  // namespace

std::string isoUtc(int64_t seconds) {
    const time_t t = static_cast<time_t>(seconds);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &t);
#else
    gmtime_r(&t, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

int64_t secondsNow() {
    return static_cast<int64_t>(std::time(nullptr));
}

bool parseIsoUtc(const char* t, size_t size, int64_t& seconds) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (size != 20 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':' ||
        t[19] != 'Z' || !digits(t, 4, y) || !digits(t + 5, 2, mo) || !digits(t + 8, 2, d) ||
        !digits(t + 11, 2, h) || !digits(t + 14, 2, mi) || !digits(t + 17, 2, s) || mo < 1 ||
        mo > 12 || d < 1 || d > daysInMonth(y, mo) || h > 23 || mi > 59 || s > 60) {
        return false;
    }
    seconds = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 +
              h * 3600 + mi * 60 + s;
    return true;
}

bool parseLocalTime(const std::string& text, bool dayEnd, int64_t& seconds) {
    const char* t = text.c_str();
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    const size_t n = text.size();
    const bool dateOk = n >= 10 && t[4] == '-' && t[7] == '-' && digits(t, 4, y) &&
                        digits(t + 5, 2, mo) && digits(t + 8, 2, d);
    const bool withTime = n >= 16 && (t[10] == ' ' || t[10] == 'T') && t[13] == ':' &&
                          digits(t + 11, 2, h) && digits(t + 14, 2, mi) &&
                          (n == 16 || (n == 19 && t[16] == ':' && digits(t + 17, 2, s)));
    if (!dateOk || (n != 10 && !withTime) || mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) ||
        h > 23 || mi > 59 || s > 59) {
        return false;
    }
    std::tm local{};
    local.tm_year = y - 1900;
    local.tm_mon = mo - 1;
    local.tm_mday = d + (n == 10 && dayEnd ? 1 : 0);
    local.tm_hour = h;
    local.tm_min = mi;
    local.tm_sec = s;
    local.tm_isdst = -1;  // the system knows whether summer time was in force
    const time_t t0 = std::mktime(&local);
    seconds = static_cast<int64_t>(t0);
    return t0 != static_cast<time_t>(-1);
}

std::string localDay(int64_t seconds) {
    return formatLocal(seconds, "%Y-%m-%d");
}

std::string localHour(int64_t seconds) {
    return formatLocal(seconds, "%Y-%m-%d %H:00");
}

std::string localTime(int64_t seconds) {
    return formatLocal(seconds, "%Y-%m-%d %H:%M:%S");
}

int64_t localDayStart(int64_t seconds) {
    std::tm local = localParts(seconds);
    local.tm_hour = local.tm_min = local.tm_sec = 0;
    local.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&local));
}
