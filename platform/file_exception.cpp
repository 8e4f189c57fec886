#include "platform/file_exception.h"

#include <cerrno>
#include <iterator>

namespace platform {

const char* fileCauseText(int cause) {
    static constexpr const char* kTexts[] = {
        "No Error Occured",
        "An unspecified error occurred",
        "The file could not be located",
        "All or part of the path is invalid",
        "The permitted number of open files was exceeded",
        "The file could not be accessed.",
        "There was an attempt to use an invalid file handle.",
        "The current working directory cannot be removed.",
        "There are no more directory entries.",
        "There was an error trying to set the file pointer.",
        "There was a hardware error.",
        "SHARE.EXE was not loaded, or a shared region was locked.",
        "There was an attempt to lock a region that was already locked.",
        "The disk is full.",
        "The end of file was reached.",
    };
    static_assert(std::size(kTexts) == kCauseEndOfFile + 1);
    return cause >= 0 && cause < static_cast<int>(std::size(kTexts)) ? kTexts[cause] : "Uknown error";
}

int fileCauseFromErrno(int err) {
    switch (err) {
    case 0: return kCauseNone;
    case ENOENT: return kCauseNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return kCauseBadPath;
    case EMFILE:
    case ENFILE: return kCauseTooManyOpen;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return kCauseAccessDenied;
    case EBADF: return kCauseInvalidFile;
    case ESPIPE:
    case EINVAL: return kCauseBadSeek;
    case EIO: return kCauseHardIO;
    case EBUSY:
    case ETXTBSY: return kCauseSharingViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return kCauseDiskFull;
    default: return kCauseGeneric;
    }
}

}  // namespace platform
