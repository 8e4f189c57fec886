#include "platform/last_error.h"

#include <cerrno>
#include <utility>

namespace platform {
namespace {

thread_local DWORD tLastError = 0;

struct ErrnoCode {
    int errnoValue;
    LONG code;
};

constexpr ErrnoCode kErrnoCodes[] = {
    {EPERM, ERROR_ACCESS_DENIED},
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ESRCH, ERROR_INVALID_HANDLE},
    {EINTR, ERROR_OPERATION_ABORTED},
    {EIO, ERROR_READ_FAULT},
    {ENXIO, ERROR_FILE_NOT_FOUND},
    {E2BIG, ERROR_INVALID_PARAMETER},
    {ENOEXEC, ERROR_BAD_EXE_FORMAT},
    {EBADF, ERROR_INVALID_HANDLE},
    {EAGAIN, ERROR_BUSY},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EACCES, ERROR_ACCESS_DENIED},
    {EFAULT, ERROR_NOACCESS},
    {EBUSY, ERROR_BUSY},
    {EEXIST, ERROR_ALREADY_EXISTS},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EFBIG, ERROR_DISK_FULL},
    {ENOSPC, ERROR_DISK_FULL},
    {EROFS, ERROR_ACCESS_DENIED},
    {EPIPE, ERROR_BROKEN_PIPE},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {ENOTSUP, ERROR_NOT_SUPPORTED},
    {ETIMEDOUT, ERROR_TIMEOUT},
    {ECONNREFUSED, ERROR_CONNECTION_REFUSED},
    {EMSGSIZE, ERROR_INVALID_PARAMETER},
    {ENOBUFS, ERROR_NOT_ENOUGH_MEMORY},
};

struct CodeText {
    LONG code;
    const char* text;
};

// Our own wording of the codes the layer reports.
constexpr CodeText kTexts[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_FILE_NOT_FOUND, "The file was not found."},
    {ERROR_PATH_NOT_FOUND, "The path was not found."},
    {ERROR_TOO_MANY_OPEN_FILES, "Too many files are open."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory to complete the operation."},
    {ERROR_INVALID_DATA, "The data is invalid."},
    {ERROR_OUTOFMEMORY, "Not enough storage to complete the operation."},
    {ERROR_NOT_READY, "The device is not ready."},
    {ERROR_WRITE_FAULT, "The device cannot be written."},
    {ERROR_READ_FAULT, "The device cannot be read."},
    {ERROR_SHARING_VIOLATION, "The file is in use by another process."},
    {ERROR_HANDLE_EOF, "The end of the file was reached."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_BROKEN_PIPE, "The pipe has been ended."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed is too small."},
    {ERROR_INVALID_NAME, "The name is not valid."},
    {ERROR_DIR_NOT_EMPTY, "The folder is not empty."},
    {ERROR_BUSY, "The resource is in use."},
    {ERROR_ALREADY_EXISTS, "The object already exists."},
    {ERROR_BAD_EXE_FORMAT, "The program is not a valid executable."},
    {ERROR_FILENAME_EXCED_RANGE, "The file name is too long."},
    {ERROR_MORE_DATA, "More data is available."},
    {ERROR_WAIT_TIMEOUT, "The wait operation timed out."},
    {ERROR_NO_MORE_ITEMS, "No more data is available."},
    {ERROR_NOT_OWNER, "The caller does not own the lock it releases."},
    {ERROR_TOO_MANY_POSTS, "Too many posts were made to a semaphore."},
    {ERROR_OPERATION_ABORTED, "The operation was aborted."},
    {ERROR_IO_PENDING, "The operation is in progress."},
    {ERROR_NOACCESS, "Invalid access to a memory location."},
    {ERROR_BADKEY, "The configuration key is invalid."},
    {ERROR_CANTOPEN, "The configuration key cannot be opened."},
    {ERROR_CANTREAD, "The configuration key cannot be read."},
    {ERROR_CANTWRITE, "The configuration key cannot be written."},
    {ERROR_CONNECTION_REFUSED, "The remote end refused the connection."},
    {ERROR_INVALID_WINDOW_HANDLE, "The window handle is invalid."},
    {ERROR_TIMEOUT, "The operation returned because the time-out expired."},
};

}  // namespace

DWORD GetLastError() noexcept { return tLastError; }

void SetLastError(DWORD code) noexcept { tLastError = code; }

DWORD errorFromErrno(int errnoValue) noexcept {
    if (errnoValue == 0) {
        return ERROR_SUCCESS;
    }
    for (const auto& entry : kErrnoCodes) {
        if (entry.errnoValue == errnoValue) {
            return static_cast<DWORD>(entry.code);
        }
    }
    return ERROR_INVALID_FUNCTION;
}

DWORD setLastErrorFromErrno(int errnoValue) noexcept {
    tLastError = errorFromErrno(errnoValue);
    return tLastError;
}

std::string systemMessage(DWORD code) {
    for (const auto& entry : kTexts) {
        if (static_cast<DWORD>(entry.code) == code) {
            return entry.text;
        }
    }
    return {};
}

}  // namespace platform
