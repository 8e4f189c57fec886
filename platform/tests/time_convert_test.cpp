#include "platform/time_convert.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

using namespace platform;

namespace {

SYSTEMTIME at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(y);
    t.wMonth = static_cast<WORD>(mo);
    t.wDay = static_cast<WORD>(d);
    t.wHour = static_cast<WORD>(h);
    t.wMinute = static_cast<WORD>(mi);
    t.wSecond = static_cast<WORD>(s);
    t.wMilliseconds = static_cast<WORD>(ms);
    return t;
}

bool sameFields(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
           a.wMinute == b.wMinute && a.wSecond == b.wSecond && a.wMilliseconds == b.wMilliseconds;
}

void useZone(const char* tz) {
    ::setenv("TZ", tz, 1);
    ::tzset();
}

// Central Europe and US Eastern as POSIX rules, so no zone database is needed.
constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr const char* kNewYork = "EST5EDT,M3.2.0,M11.1.0";

}  // namespace

TEST(TimeConvert, FileTimeAndCalendarAgree) {
    struct Case {
        ULONGLONG fileTime;
        SYSTEMTIME fields;
        WORD dayOfWeek;
    };
    const Case cases[] = {
        {0, at(1601, 1, 1), 1},
        {116444736000000000ULL, at(1970, 1, 1), 4},
        {116444735990000000ULL, at(1969, 12, 31, 23, 59, 59), 3},
        {125963012967890000ULL, at(2000, 2, 29, 12, 34, 56, 789), 2},
        {133801631999990000ULL, at(2024, 12, 31, 23, 59, 59, 999), 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileTime);
        SYSTEMTIME fields{};
        ASSERT_TRUE(fileTimeToSystemTime(fileTimeFrom(c.fileTime), fields));
        EXPECT_TRUE(sameFields(fields, c.fields));
        EXPECT_EQ(fields.wDayOfWeek, c.dayOfWeek);
        FILETIME back{};
        ASSERT_TRUE(systemTimeToFileTime(c.fields, back));
        EXPECT_EQ(fileTimeValue(back), c.fileTime);
    }
    // Sub-millisecond ticks are dropped on the way to calendar fields.
    SYSTEMTIME fields{};
    ASSERT_TRUE(fileTimeToSystemTime(fileTimeFrom(116444736000009999ULL), fields));
    EXPECT_EQ(fields.wMilliseconds, 0);
    EXPECT_FALSE(fileTimeToSystemTime(fileTimeFrom(0x8000000000000000ULL), fields));
    ASSERT_TRUE(fileTimeToSystemTime(fileTimeFrom(0x7FFFFFFFFFFFFFFFULL), fields));
    EXPECT_EQ(fields.wYear, 30828);
}

TEST(TimeConvert, RejectsImpossibleCalendarFields) {
    const SYSTEMTIME bad[] = {
        at(2023, 2, 29), at(2100, 2, 29), at(2024, 4, 31), at(2024, 13, 1), at(2024, 0, 1),
        at(2024, 1, 0),  at(2024, 1, 1, 24), at(2024, 1, 1, 0, 60), at(2024, 1, 1, 0, 0, 60),
        at(2024, 1, 1, 0, 0, 0, 1000), at(1600, 12, 31), at(30828, 1, 1),
    };
    for (const auto& t : bad) {
        SCOPED_TRACE(testing::Message() << t.wYear << "-" << t.wMonth << "-" << t.wDay << " " << t.wHour
                                        << ":" << t.wMinute << ":" << t.wSecond << "." << t.wMilliseconds);
        FILETIME out = fileTimeFrom(12345);
        EXPECT_FALSE(systemTimeToFileTime(t, out));
        EXPECT_EQ(fileTimeValue(out), 12345u);
    }
    FILETIME out{};
    EXPECT_TRUE(systemTimeToFileTime(at(2000, 2, 29), out));
    EXPECT_TRUE(systemTimeToFileTime(at(30827, 12, 31, 23, 59, 59, 999), out));
}

TEST(TimeConvert, LocalAndUtcFollowTheZone) {
    struct Case {
        const char* zone;
        SYSTEMTIME utc;
        SYSTEMTIME local;
    };
    const Case cases[] = {
        {kBerlin, at(2024, 1, 15, 12), at(2024, 1, 15, 13)},
        {kBerlin, at(2024, 7, 1, 12), at(2024, 7, 1, 14)},          // summer time
        {kBerlin, at(2024, 12, 31, 23, 30), at(2025, 1, 1, 0, 30)},  // across the year
        {kNewYork, at(2024, 7, 1, 2, 15, 7, 250), at(2024, 6, 30, 22, 15, 7, 250)},
        {kNewYork, at(2024, 1, 1, 12), at(2024, 1, 1, 7)},
        {"UTC0", at(2024, 7, 1, 12), at(2024, 7, 1, 12)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zone);
        useZone(c.zone);
        SYSTEMTIME out{};
        ASSERT_TRUE(systemTimeToLocalTime(c.utc, out));
        EXPECT_TRUE(sameFields(out, c.local)) << out.wDay << " " << out.wHour << ":" << out.wMinute;
        ASSERT_TRUE(localTimeToSystemTime(c.local, out));
        EXPECT_TRUE(sameFields(out, c.utc)) << out.wDay << " " << out.wHour << ":" << out.wMinute;

        FILETIME utcFile{};
        FILETIME localFile{};
        FILETIME back{};
        ASSERT_TRUE(systemTimeToFileTime(c.utc, utcFile));
        ASSERT_TRUE(fileTimeToLocalFileTime(utcFile, localFile));
        ASSERT_TRUE(localFileTimeToFileTime(localFile, back));
        EXPECT_EQ(fileTimeValue(back), fileTimeValue(utcFile));
    }
}

TEST(TimeConvert, ClockChangeHoursUseTheEarlierOffset) {
    useZone(kBerlin);
    SYSTEMTIME utc{};
    // 02:30 on the last Sunday of March does not exist locally.
    ASSERT_TRUE(localTimeToSystemTime(at(2024, 3, 31, 2, 30), utc));
    EXPECT_TRUE(sameFields(utc, at(2024, 3, 31, 1, 30)));
    // 02:30 on the last Sunday of October happens twice: the summer-time one.
    ASSERT_TRUE(localTimeToSystemTime(at(2024, 10, 27, 2, 30), utc));
    EXPECT_TRUE(sameFields(utc, at(2024, 10, 27, 0, 30)));
    // Just either side of the change hour.
    ASSERT_TRUE(localTimeToSystemTime(at(2024, 3, 31, 3, 0), utc));
    EXPECT_TRUE(sameFields(utc, at(2024, 3, 31, 1, 0)));
    ASSERT_TRUE(localTimeToSystemTime(at(2024, 10, 27, 3, 0), utc));
    EXPECT_TRUE(sameFields(utc, at(2024, 10, 27, 2, 0)));
}

TEST(TimeConvert, CurrentTimeMatchesTheSystemClock) {
    useZone(kNewYork);
    // The same clock as the file time's: time() may read a coarser clock
    // that lags it by up to a tick, across a second's change.
    auto realtimeSeconds = [] {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        return static_cast<std::int64_t>(now.tv_sec);
    };
    const std::int64_t before = realtimeSeconds();
    FILETIME now = currentFileTime();
    SYSTEMTIME utc = currentSystemTime();
    SYSTEMTIME local = currentLocalTime();
    const std::int64_t after = realtimeSeconds();

    auto seconds = static_cast<std::int64_t>((fileTimeValue(now) - kFileTimeOf1970) / kFileTicksPerSecond);
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);

    FILETIME utcFile{};
    FILETIME localAsUtc{};
    ASSERT_TRUE(systemTimeToFileTime(utc, utcFile));
    ASSERT_TRUE(localTimeToSystemTime(local, utc));
    ASSERT_TRUE(systemTimeToFileTime(utc, localAsUtc));
    // Both readings were taken within the same second or two.
    auto apart = static_cast<std::int64_t>(fileTimeValue(localAsUtc)) - static_cast<std::int64_t>(fileTimeValue(utcFile));
    EXPECT_LT(std::llabs(apart), static_cast<long long>(2 * kFileTicksPerSecond));
}

TEST(TimeConvert, TickCountsAreMonotonicMilliseconds) {
    ULONGLONG first = tickCount64Ms();
    DWORD first32 = tickCountMs();
    timespec pause{0, 20 * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
    ULONGLONG second = tickCount64Ms();
    EXPECT_GE(second - first, 20u);
    EXPECT_EQ(static_cast<DWORD>(second) - first32 >= 20u, true);
    EXPECT_EQ(static_cast<DWORD>(tickCount64Ms()) - tickCountMs() <= 1u || tickCountMs() - static_cast<DWORD>(tickCount64Ms()) <= 1u, true);
}
