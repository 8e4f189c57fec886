#include "platform/last_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

TEST(LastError, IsKeptPerThread) {
    platform::SetLastError(ERROR_ACCESS_DENIED);
    std::thread other([] {
        EXPECT_EQ(platform::GetLastError(), 0u);
        platform::SetLastError(ERROR_TIMEOUT);
    });
    other.join();
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(LastError, ErrnoMapsToSystemCodesWithTexts) {
    struct Case {
        int errnoValue;
        LONG code;
    };
    const Case cases[] = {
        {0, ERROR_SUCCESS},
        {ENOENT, ERROR_FILE_NOT_FOUND},
        {EACCES, ERROR_ACCESS_DENIED},
        {ENOSPC, platform::ERROR_DISK_FULL},
        {ETIMEDOUT, ERROR_TIMEOUT},
        {EDOM, platform::ERROR_INVALID_FUNCTION},  // unknown errno
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.errnoValue);
        EXPECT_EQ(platform::setLastErrorFromErrno(c.errnoValue), static_cast<DWORD>(c.code));
        EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(c.code));
        auto text = platform::systemMessage(static_cast<DWORD>(c.code));
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text.find('\n'), std::string::npos);
    }
    EXPECT_TRUE(platform::systemMessage(0xDEADBEEF).empty());
}
