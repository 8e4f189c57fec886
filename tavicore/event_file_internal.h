#pragma once
// Helpers shared by the event file, folder, list and filter sources; not exported.

#include "platform/file_exception.h"
#include "tavicore/event_file.h"

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include <sys/uio.h>

// The folder-scan thread of a CEventFile: its own stop signal and whether it ended.
struct CEventFile::LoadThread {
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
};

namespace eventfile {

// Trace levels: 1 error, 3 information, 5 detail.
void trace(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Local wall-clock time as 100-ns units since 1601 (the FILETIME form of the
// local time; no zone conversion happens on it afterwards).
std::uint64_t localNowTicks();
inline std::uint64_t ticks(const FILETIME& ft) {
    return (std::uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
inline FILETIME fileTime(std::uint64_t t) {
    return FILETIME{DWORD(t & 0xFFFFFFFFu), DWORD(t >> 32)};
}
// Local FILETIME ticks to a UTC instant (seconds, nanoseconds) and back, through
// the zone rules of the machine.
bool localTicksToUtc(std::uint64_t localTicks, std::int64_t* seconds, long* nanoseconds);
std::uint64_t utcToLocalTicks(std::int64_t seconds, long nanoseconds);
// A local FILETIME as calendar fields and back (no zone conversion).
bool ticksToSystemTime(std::uint64_t t, SYSTEMTIME* out);
bool systemTimeToTicks(const SYSTEMTIME& st, std::uint64_t* out);

// The byte sum checksum of records.
inline DWORD byteSum(const void* bytes, std::size_t length) {
    const auto* p = static_cast<const BYTE*>(bytes);
    DWORD sum = 0;
    for (std::size_t i = 0; i < length; ++i) {
        sum += p[i];
    }
    return sum;
}
inline DWORD headerChecksum(const tagEventHeader& h) { return byteSum(&h, 82); }
inline DWORD snapshotChecksum(const tagEventSnapshot& s) { return byteSum(&s, 28); }

inline bool magicIs(const char* magic, const char* four) { return std::memcmp(magic, four, 4) == 0; }

// Copies a text into a fixed buffer; false (and an empty buffer) when it does
// not fit, so a cut path never names another file.
bool copyText(char* out, std::size_t size, std::string_view text);
// Formats into a fixed buffer; false when it does not fit.
bool formatText(char* out, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// File-exception causes, as the texts of zoGetFileExceptionError number them.
using enum platform::FileCause;

// Whole-buffer positional I/O on a descriptor; false on failure or a short
// transfer (errno is set; 0 for a short read at the end of the file).
bool preadAll(int fd, void* out, std::size_t bytes, std::uint64_t offset);
bool pwriteAll(int fd, const void* in, std::size_t bytes, std::uint64_t offset);
// The pieces one after another from `offset`, as one vector write while the
// system takes them whole, a partial write finished piece by piece.
bool pwritevAll(int fd, const iovec* parts, int count, std::uint64_t offset);

// Whether a station name can be one folder name of the tree (it comes from
// other stations too).
bool isSafeStationName(const char* station);

// Copies a file onto another (overwriting); false on any failure.
bool copyFile(const char* from, const char* to);

// The folder part and the file part of a path.
std::string folderOf(const std::string& path);
std::string fileNameOf(const std::string& path);

// Matches a file name against a pattern of the forms "*.*" and "Event_*.trg".
bool matchesPattern(const std::string& name, const std::string& pattern);

}  // namespace eventfile
