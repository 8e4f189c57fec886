#include "common/version_stamp.h"

#include "platform/folders.h"
#include "platform/ini_file.h"
#include "platform/library.h"
#include "platform/time_convert.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <thread>

namespace {

std::string stamped(const char* section, const char* key) {
    return platform::iniReadValue("Quennel.ini", section, key).value_or("<missing>");
}

// The test library with a version note, built beside the test programs.
struct NotedLibrary {
    HMODULE handle = platform::loadLibrary("vlmfixture_noted.dll");
    ~NotedLibrary() { platform::freeLibrary(handle); }
    const void* address() const { return platform::librarySymbol(handle, "vlmFixtureValue"); }
};

bool looksLikeAStamp(const std::string& text) {
    static const std::regex form(R"(\d{4}/\d{2}/\d{2} - \d{2}:\d{2}:\d{2}\.\d{4})");
    return std::regex_match(text, form);
}

}  // namespace

TEST(VersionStamp, RecordsVersionAndTimeInQuennelIni) {
    NotedLibrary library;
    ASSERT_NE(library.handle, nullptr) << "the test library vlmfixture_noted is built with the platform tests";
    // Stale values from an earlier start are overwritten.
    ASSERT_TRUE(platform::iniWriteString("Quennel.ini", "Version", "AMBRELSB", "0.9"));
    ASSERT_TRUE(platform::iniWriteString("Quennel.ini", "Last Access", "AMBRELSB", "old"));
    ASSERT_TRUE(platform::iniWriteString("Quennel.ini", "Version", "other", "1.1"));

    RecordModuleVersion("AMBRELSB", library.address());
    EXPECT_TRUE(std::filesystem::exists(platform::windowsFolder() / "Quennel.ini"));
    EXPECT_EQ(stamped("Version", "AMBRELSB"), "2.3.4.5");
    EXPECT_TRUE(looksLikeAStamp(stamped("Last Access", "AMBRELSB"))) << stamped("Last Access", "AMBRELSB");
    EXPECT_EQ(stamped("Version", "other"), "1.1");  // other modules' records stay
}

TEST(VersionStamp, ModuleWithoutVersionGetsNA) {
    // The C library carries no version note of ours.
    RecordModuleVersion("trennick", reinterpret_cast<const void*>(&std::strlen));
    EXPECT_EQ(stamped("Version", "trennick"), "N/A");
    EXPECT_TRUE(looksLikeAStamp(stamped("Last Access", "trennick")));
    // An address in no module at all is recorded the same way.
    RecordModuleVersion("nowhere", reinterpret_cast<const void*>(std::uintptr_t{16}));
    EXPECT_EQ(stamped("Version", "nowhere"), "N/A");
}

TEST(VersionStamp, NullKeyWritesNothing) {
    ASSERT_TRUE(platform::iniWriteString("Quennel.ini", "Version", "keep", "1.0"));
    RecordModuleVersion(nullptr, nullptr);
    EXPECT_EQ(stamped("Version", "keep"), "1.0");
    EXPECT_EQ(platform::iniSectionNames("Quennel.ini"), std::vector<std::string>{"Version"});
}

TEST(VersionStamp, VersionStringsAreBoundedAndKeptWhenAbsent) {
    NotedLibrary library;
    ASSERT_NE(library.handle, nullptr);
    char description[8];
    char version[4];
    EXPECT_EQ(GetModuleVersionStrings(library.address(), description, sizeof description, version, sizeof version),
              TRUE);
    EXPECT_STREQ(description, "Velmoor");
    EXPECT_STREQ(version, "2.3");

    std::strcpy(description, "keep");
    std::strcpy(version, "me");
    EXPECT_EQ(GetFileVersionStrings((platform::homeFolder() / "none.so").c_str(), description, sizeof description,
                                    version, sizeof version),
              FALSE);
    EXPECT_EQ(GetFileVersionStrings(nullptr, description, sizeof description, version, sizeof version), FALSE);
    EXPECT_STREQ(description, "keep");
    EXPECT_STREQ(version, "me");
}

TEST(VersionStamp, TimeStampIsTheLocalTime) {
    ::setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    ::tzset();
    SYSTEMTIME before = platform::currentLocalTime();
    std::string stamp = GetTimeStampString();
    ASSERT_TRUE(looksLikeAStamp(stamp)) << stamp;
    SYSTEMTIME read{};
    ASSERT_EQ(std::sscanf(stamp.c_str(), "%4hu/%2hu/%2hu - %2hu:%2hu:%2hu.%4hu", &read.wYear, &read.wMonth, &read.wDay,
                          &read.wHour, &read.wMinute, &read.wSecond, &read.wMilliseconds),
              7);
    FILETIME a{};
    FILETIME b{};
    ASSERT_TRUE(platform::systemTimeToFileTime(before, a));
    ASSERT_TRUE(platform::systemTimeToFileTime(read, b));
    auto apart = static_cast<long long>(platform::fileTimeValue(b)) - static_cast<long long>(platform::fileTimeValue(a));
    EXPECT_GE(apart, 0);
    EXPECT_LT(apart, 5LL * 10000000);
    EXPECT_EQ(stamp.substr(stamp.size() - 5, 1), ".");
    EXPECT_EQ(stamp.substr(stamp.size() - 4, 1), "0");  // milliseconds take four digits
}

TEST(VersionStamp, EachThreadHasItsOwnStampBuffer) {
    const char* mine = GetTimeStampString();
    const char* theirs = nullptr;
    std::thread([&] { theirs = GetTimeStampString(); }).join();
    EXPECT_NE(mine, theirs);
    EXPECT_EQ(GetTimeStampString(), mine);  // the same thread reuses its buffer
}
