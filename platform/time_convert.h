#pragma once
// Conversions between the time forms of the system's records: FILETIME (100 ns
// intervals since 1601-01-01 UTC), SYSTEMTIME (broken-down calendar time), UTC
// and local time (the process's time zone, TZ), plus the current time and the
// millisecond tick counts. Safe from any thread.

#include "platform/types.h"

namespace platform {

// FILETIME of 1970-01-01 00:00:00 UTC.
inline constexpr ULONGLONG kFileTimeOf1970 = 116444736000000000ULL;
inline constexpr ULONGLONG kFileTicksPerSecond = 10000000ULL;

inline ULONGLONG fileTimeValue(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}
inline FILETIME fileTimeFrom(ULONGLONG value) {
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

// Calendar fields of a FILETIME (wDayOfWeek filled, 0 = Sunday). Fails for
// values of 2^63 and above, as the original platform does.
bool fileTimeToSystemTime(const FILETIME& in, SYSTEMTIME& out);
// FILETIME of calendar fields; wDayOfWeek is ignored. Fails (out untouched)
// for fields out of range: years 1601 to 30827, a day the month does not have,
// hour 24, and so on.
bool systemTimeToFileTime(const SYSTEMTIME& in, FILETIME& out);

// UTC <-> local time, with the offset (daylight saving included) in force at
// that moment. A local time that a clock change skips or repeats is taken with
// the offset in force just before the change.
bool fileTimeToLocalFileTime(const FILETIME& utc, FILETIME& local);
bool localFileTimeToFileTime(const FILETIME& local, FILETIME& utc);
bool systemTimeToLocalTime(const SYSTEMTIME& utc, SYSTEMTIME& local);
bool localTimeToSystemTime(const SYSTEMTIME& local, SYSTEMTIME& utc);

// The current time, with milliseconds.
FILETIME currentFileTime();
SYSTEMTIME currentSystemTime();  // UTC
SYSTEMTIME currentLocalTime();

// Milliseconds of the monotonic clock: the 32-bit count wraps after 49.7 days,
// as tick counts compared by subtraction expect; the 64-bit one does not.
DWORD tickCountMs();
ULONGLONG tickCount64Ms();

}  // namespace platform
