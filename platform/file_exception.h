#pragma once
// The causes a failed file operation reports, numbered as the system's code
// stores and traces them, with their fixed texts and the cause of an errno
// value. Plain functions over constant tables: safe from any thread.

namespace platform {

enum FileCause : int {
    kCauseNone = 0,
    kCauseGeneric = 1,
    kCauseNotFound = 2,
    kCauseBadPath = 3,
    kCauseTooManyOpen = 4,
    kCauseAccessDenied = 5,
    kCauseInvalidFile = 6,
    kCauseRemoveCurrentDir = 7,
    kCauseDirectoryFull = 8,
    kCauseBadSeek = 9,
    kCauseHardIO = 10,
    kCauseSharingViolation = 11,
    kCauseLockViolation = 12,
    kCauseDiskFull = 13,
    kCauseEndOfFile = 14,
};

// The text of a cause; "Uknown error" (sic, as stored traces have it) for a
// number outside the table.
const char* fileCauseText(int cause);

// The cause that best describes an errno value (0 gives kCauseNone; a value
// without a closer cause gives kCauseGeneric).
int fileCauseFromErrno(int err);

}  // namespace platform
