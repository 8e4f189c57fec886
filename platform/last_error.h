#pragma once
// The calling thread's last error, in the system's own error codes (the ERROR_
// values of platform/types.h), and the message text that goes with a code.
// Every function here is safe from any thread: the code is per thread.

#include "platform/types.h"

#include <string>

namespace platform {

// More codes the layer reports besides those of types.h.
inline constexpr LONG ERROR_INVALID_FUNCTION = 1;
inline constexpr LONG ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr LONG ERROR_OUTOFMEMORY = 14;
inline constexpr LONG ERROR_NOT_READY = 21;
inline constexpr LONG ERROR_SHARING_VIOLATION = 32;
inline constexpr LONG ERROR_HANDLE_EOF = 38;
inline constexpr LONG ERROR_NOT_SUPPORTED = 50;
inline constexpr LONG ERROR_FILE_EXISTS = 80;
inline constexpr LONG ERROR_BROKEN_PIPE = 109;
inline constexpr LONG ERROR_DISK_FULL = 112;
inline constexpr LONG ERROR_INVALID_NAME = 123;
inline constexpr LONG ERROR_DIR_NOT_EMPTY = 145;
inline constexpr LONG ERROR_BUSY = 170;
inline constexpr LONG ERROR_BAD_EXE_FORMAT = 193;
inline constexpr LONG ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr LONG ERROR_WAIT_TIMEOUT = 258;
inline constexpr LONG ERROR_NOT_OWNER = 288;
inline constexpr LONG ERROR_TOO_MANY_POSTS = 298;
inline constexpr LONG ERROR_OPERATION_ABORTED = 995;
inline constexpr LONG ERROR_IO_PENDING = 997;
inline constexpr LONG ERROR_NOACCESS = 998;
inline constexpr LONG ERROR_INVALID_WINDOW_HANDLE = 1400;
inline constexpr LONG ERROR_CONNECTION_REFUSED = 1225;

// The calling thread's last error code (0 when none was set).
DWORD GetLastError() noexcept;
void SetLastError(DWORD code) noexcept;

// The system code for a C library errno value (ERROR_INVALID_FUNCTION for an errno
// the table does not know, 0 for 0).
DWORD errorFromErrno(int errnoValue) noexcept;

// Sets the calling thread's last error from an errno value and returns the code.
DWORD setLastErrorFromErrno(int errnoValue) noexcept;

// The English message text of a system code, without a line end; empty when the
// code has no text.
std::string systemMessage(DWORD code);

}  // namespace platform
