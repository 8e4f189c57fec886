#include "platform/file_exception.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>

using namespace platform;

TEST(FileException, EveryCauseHasItsTextAndOthersAreUnknown) {
    struct Case {
        int cause;
        const char* text;
    };
    constexpr Case kCases[] = {
        {kCauseNone, "No Error Occured"},
        {kCauseNotFound, "The file could not be located"},
        {kCauseLockViolation, "There was an attempt to lock a region that was already locked."},
        {kCauseDiskFull, "The disk is full."},
        {kCauseEndOfFile, "The end of file was reached."},
        {kCauseEndOfFile + 1, "Uknown error"},
        {-1, "Uknown error"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.cause);
        EXPECT_STREQ(fileCauseText(c.cause), c.text);
    }
    for (int cause = kCauseNone; cause <= kCauseEndOfFile; ++cause) {
        EXPECT_STRNE(fileCauseText(cause), "Uknown error") << cause;
    }
}

TEST(FileException, ErrnoValuesMapToTheirCause) {
    struct Case {
        int err;
        int cause;
    };
    constexpr Case kCases[] = {
        {0, kCauseNone},           {ENOENT, kCauseNotFound},      {ENAMETOOLONG, kCauseBadPath},
        {EMFILE, kCauseTooManyOpen}, {EACCES, kCauseAccessDenied}, {EBADF, kCauseInvalidFile},
        {ESPIPE, kCauseBadSeek},   {EIO, kCauseHardIO},           {ETXTBSY, kCauseSharingViolation},
        {ENOSPC, kCauseDiskFull},  {EDQUOT, kCauseDiskFull},      {ECONNRESET, kCauseGeneric},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.err);
        EXPECT_EQ(fileCauseFromErrno(c.err), c.cause);
    }
}
