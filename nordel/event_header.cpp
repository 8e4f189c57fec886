#include "nordel/event_header.h"

#include "platform/time_convert.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace nordel {
namespace {

constexpr std::size_t kHeaderBytes = 86;
constexpr std::size_t kStartTimeOffset = 6;
constexpr std::size_t kChecksummedBytes = 82;
constexpr std::size_t kChecksumOffset = 82;

DWORD readLe32(const unsigned char* p) {
    return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24;
}

// Reads exactly the header's bytes from the start of the file; false when the
// file cannot be opened or is shorter than a header.
bool readHeader(const std::string& path, unsigned char (&out)[kHeaderBytes]) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    std::size_t have = 0;
    while (have < kHeaderBytes) {
        ssize_t got = ::pread(fd, out + have, kHeaderBytes - have, static_cast<off_t>(have));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        have += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return have == kHeaderBytes;
}

}  // namespace

std::optional<FILETIME> eventStartTime(const std::string& path) {
    unsigned char header[kHeaderBytes];
    if (!readHeader(path, header) || std::memcmp(header, "VHED", 4) != 0) {
        return std::nullopt;
    }
    DWORD sum = 0;
    for (std::size_t i = 0; i < kChecksummedBytes; ++i) {
        sum += header[i];
    }
    if (sum != readLe32(header + kChecksumOffset)) {
        return std::nullopt;
    }
    FILETIME local{readLe32(header + kStartTimeOffset), readLe32(header + kStartTimeOffset + 4)};
    // A header written before its first snapshot may carry no time yet.
    if (platform::fileTimeValue(local) == 0) {
        return std::nullopt;
    }
    FILETIME utc{};
    if (!platform::localFileTimeToFileTime(local, utc)) {
        return std::nullopt;
    }
    return utc;
}

}  // namespace nordel
