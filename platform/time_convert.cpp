#include "platform/time_convert.h"

#include <cstdint>
#include <ctime>

namespace platform {
namespace {

constexpr std::int64_t kTicksPerMs = 10000;
constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

// Days since 1970-01-01 of a proleptic Gregorian date, and back
// (the well-known era-based algorithm; exact over the whole FILETIME range).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

bool isLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned daysInMonth(unsigned y, unsigned m) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

// Seconds since 1970 of a FILETIME value, rounded down, and the rest in ticks.
std::int64_t unixSeconds(ULONGLONG value) {
    std::int64_t ticks = static_cast<std::int64_t>(value);
    std::int64_t seconds = ticks / static_cast<std::int64_t>(kFileTicksPerSecond);
    return seconds - kSecondsFrom1601To1970;
}

// Offset of local time from UTC at a moment, in seconds.
bool utcOffsetAt(std::int64_t unixTime, long& offset) {
    std::time_t t = static_cast<std::time_t>(unixTime);
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr) {
        return false;
    }
    offset = local.tm_gmtoff;
    return true;
}

bool shifted(ULONGLONG value, std::int64_t seconds, FILETIME& out) {
    std::int64_t ticks = seconds * static_cast<std::int64_t>(kFileTicksPerSecond);
    std::int64_t result = static_cast<std::int64_t>(value) + ticks;
    if (result < 0) {
        return false;
    }
    out = fileTimeFrom(static_cast<ULONGLONG>(result));
    return true;
}

FILETIME fromTimespec(const timespec& ts) {
    std::int64_t ticks = (static_cast<std::int64_t>(ts.tv_sec) + kSecondsFrom1601To1970) *
                             static_cast<std::int64_t>(kFileTicksPerSecond) +
                         ts.tv_nsec / 100;
    return fileTimeFrom(static_cast<ULONGLONG>(ticks));
}

}  // namespace

bool fileTimeToSystemTime(const FILETIME& in, SYSTEMTIME& out) {
    ULONGLONG value = fileTimeValue(in);
    if (value > static_cast<ULONGLONG>(INT64_MAX)) {
        return false;
    }
    std::int64_t ms = static_cast<std::int64_t>(value) / kTicksPerMs;
    std::int64_t days = ms / kMsPerDay;
    std::int64_t msOfDay = ms % kMsPerDay;
    std::int64_t days1970 = days + daysFromCivil(1601, 1, 1);
    std::int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    civilFromDays(days1970, year, month, day);
    out.wYear = static_cast<WORD>(year);
    out.wMonth = static_cast<WORD>(month);
    out.wDay = static_cast<WORD>(day);
    out.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    out.wHour = static_cast<WORD>(msOfDay / 3600000);
    out.wMinute = static_cast<WORD>(msOfDay / 60000 % 60);
    out.wSecond = static_cast<WORD>(msOfDay / 1000 % 60);
    out.wMilliseconds = static_cast<WORD>(msOfDay % 1000);
    return true;
}

bool systemTimeToFileTime(const SYSTEMTIME& in, FILETIME& out) {
    if (in.wYear < 1601 || in.wYear > 30827 || in.wMonth < 1 || in.wMonth > 12 || in.wDay < 1 ||
        in.wDay > daysInMonth(in.wYear, in.wMonth) || in.wHour > 23 || in.wMinute > 59 || in.wSecond > 59 ||
        in.wMilliseconds > 999) {
        return false;
    }
    std::int64_t days = daysFromCivil(in.wYear, in.wMonth, in.wDay) - daysFromCivil(1601, 1, 1);
    std::int64_t ms = days * kMsPerDay + in.wHour * 3600000LL + in.wMinute * 60000LL + in.wSecond * 1000LL +
                      in.wMilliseconds;
    out = fileTimeFrom(static_cast<ULONGLONG>(ms * kTicksPerMs));
    return true;
}

bool fileTimeToLocalFileTime(const FILETIME& utc, FILETIME& local) {
    ULONGLONG value = fileTimeValue(utc);
    long offset = 0;
    if (value > static_cast<ULONGLONG>(INT64_MAX) || !utcOffsetAt(unixSeconds(value), offset)) {
        return false;
    }
    return shifted(value, offset, local);
}

bool localFileTimeToFileTime(const FILETIME& local, FILETIME& utc) {
    ULONGLONG value = fileTimeValue(local);
    if (value > static_cast<ULONGLONG>(INT64_MAX)) {
        return false;
    }
    // The offsets in force a day before and a day after the reading (clock
    // changes are months apart). Whichever of them maps back to the reading is
    // the answer; when both do (a repeated hour) or neither does (a skipped
    // hour), the earlier offset wins.
    std::int64_t wall = unixSeconds(value);
    long before = 0;
    long after = 0;
    long check = 0;
    if (!utcOffsetAt(wall - 86400, before) || !utcOffsetAt(wall + 86400, after)) {
        return false;
    }
    long offset = before;
    if (before != after && (!utcOffsetAt(wall - before, check) || check != before) &&
        utcOffsetAt(wall - after, check) && check == after) {
        offset = after;
    }
    return shifted(value, -offset, utc);
}

bool systemTimeToLocalTime(const SYSTEMTIME& utc, SYSTEMTIME& local) {
    FILETIME in{};
    FILETIME out{};
    return systemTimeToFileTime(utc, in) && fileTimeToLocalFileTime(in, out) && fileTimeToSystemTime(out, local);
}

bool localTimeToSystemTime(const SYSTEMTIME& local, SYSTEMTIME& utc) {
    FILETIME in{};
    FILETIME out{};
    return systemTimeToFileTime(local, in) && localFileTimeToFileTime(in, out) && fileTimeToSystemTime(out, utc);
}

FILETIME currentFileTime() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return fromTimespec(now);
}

SYSTEMTIME currentSystemTime() {
    SYSTEMTIME out{};
    fileTimeToSystemTime(currentFileTime(), out);
    return out;
}

SYSTEMTIME currentLocalTime() {
    FILETIME local{};
    SYSTEMTIME out{};
    if (!fileTimeToLocalFileTime(currentFileTime(), local)) {
        local = currentFileTime();
    }
    fileTimeToSystemTime(local, out);
    return out;
}

ULONGLONG tickCount64Ms() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<ULONGLONG>(now.tv_sec) * 1000 + static_cast<ULONGLONG>(now.tv_nsec) / 1000000;
}

DWORD tickCountMs() { return static_cast<DWORD>(tickCount64Ms()); }

}  // namespace platform
