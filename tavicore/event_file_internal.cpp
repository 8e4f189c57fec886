// Helpers of the event file code: trace, local time, fixed buffers, file I/O.

#include "tavicore/event_file_internal.h"

#include "common/lumo_deb.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace eventfile {

namespace {
constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kEpochDiffSeconds = 11'644'473'600;  // 1601-01-01 to 1970-01-01
}  // namespace

void trace(int level, const char* format, ...) {
    if (!gpLumoDeb->IsLevelOn(level)) {
        return;
    }
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    gpLumoDeb->Trace(level, "%s", line);
}

std::uint64_t localNowTicks() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return utcToLocalTicks(now.tv_sec, now.tv_nsec);
}

std::uint64_t utcToLocalTicks(std::int64_t seconds, long nanoseconds) {
    time_t t = static_cast<time_t>(seconds);
    tm local{};
    ::localtime_r(&t, &local);
    std::int64_t localSeconds = seconds + local.tm_gmtoff;
    if (localSeconds < -kEpochDiffSeconds) {
        return 0;
    }
    return std::uint64_t(localSeconds + kEpochDiffSeconds) * kTicksPerSecond +
           std::uint64_t(nanoseconds / 100);
}

bool localTicksToUtc(std::uint64_t localTicks, std::int64_t* seconds, long* nanoseconds) {
    std::int64_t localSeconds = std::int64_t(localTicks / kTicksPerSecond) - kEpochDiffSeconds;
    time_t asUtc = static_cast<time_t>(localSeconds);
    tm fields{};
    if (::gmtime_r(&asUtc, &fields) == nullptr) {
        return false;
    }
    fields.tm_isdst = -1;
    time_t utc = ::mktime(&fields);
    if (utc == time_t(-1) && localSeconds != -1) {
        return false;
    }
    *seconds = utc;
    *nanoseconds = long(localTicks % kTicksPerSecond) * 100;
    return true;
}

bool ticksToSystemTime(std::uint64_t t, SYSTEMTIME* out) {
    time_t seconds = static_cast<time_t>(std::int64_t(t / kTicksPerSecond) - kEpochDiffSeconds);
    tm fields{};
    if (::gmtime_r(&seconds, &fields) == nullptr || fields.tm_year + 1900 > 30827) {
        return false;
    }
    out->wYear = WORD(fields.tm_year + 1900);
    out->wMonth = WORD(fields.tm_mon + 1);
    out->wDayOfWeek = WORD(fields.tm_wday);
    out->wDay = WORD(fields.tm_mday);
    out->wHour = WORD(fields.tm_hour);
    out->wMinute = WORD(fields.tm_min);
    out->wSecond = WORD(fields.tm_sec);
    out->wMilliseconds = WORD((t % kTicksPerSecond) / 10'000);
    return true;
}

bool systemTimeToTicks(const SYSTEMTIME& st, std::uint64_t* out) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
        st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59 || st.wMilliseconds > 999) {
        return false;
    }
    bool leap = (st.wYear % 4 == 0 && st.wYear % 100 != 0) || st.wYear % 400 == 0;
    int days = kDays[st.wMonth - 1] + (st.wMonth == 2 && leap ? 1 : 0);
    if (st.wDay > days) {
        return false;
    }
    tm fields{};
    fields.tm_year = st.wYear - 1900;
    fields.tm_mon = st.wMonth - 1;
    fields.tm_mday = st.wDay;
    fields.tm_hour = st.wHour;
    fields.tm_min = st.wMinute;
    fields.tm_sec = st.wSecond;
    std::int64_t seconds = ::timegm(&fields);
    *out = std::uint64_t(seconds + kEpochDiffSeconds) * kTicksPerSecond +
           std::uint64_t(st.wMilliseconds) * 10'000;
    return true;
}

bool copyText(char* out, std::size_t size, std::string_view text) {
    if (out == nullptr || size == 0) {
        return false;
    }
    if (text.size() >= size) {
        out[0] = '\0';
        return false;
    }
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return true;
}

bool formatText(char* out, std::size_t size, const char* format, ...) {
    if (out == nullptr || size == 0) {
        return false;
    }
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(out, size, format, args);
    va_end(args);
    if (n < 0 || std::size_t(n) >= size) {
        out[0] = '\0';
        return false;
    }
    return true;
}

bool preadAll(int fd, void* out, std::size_t bytes, std::uint64_t offset) {
    auto* p = static_cast<char*>(out);
    while (bytes > 0) {
        ssize_t n = ::pread(fd, p, bytes, off_t(offset));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            errno = 0;
            return false;
        }
        p += n;
        bytes -= std::size_t(n);
        offset += std::uint64_t(n);
    }
    return true;
}

bool pwriteAll(int fd, const void* in, std::size_t bytes, std::uint64_t offset) {
    const auto* p = static_cast<const char*>(in);
    while (bytes > 0) {
        ssize_t n = ::pwrite(fd, p, bytes, off_t(offset));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        p += n;
        bytes -= std::size_t(n);
        offset += std::uint64_t(n);
    }
    return true;
}

bool pwritevAll(int fd, const iovec* parts, int count, std::uint64_t offset) {
    std::size_t total = 0;
    for (int i = 0; i < count; ++i) {
        total += parts[i].iov_len;
    }
    std::size_t done = 0;
    while (done < total) {
        ssize_t n;
        if (done == 0) {
            n = ::pwritev(fd, parts, count, off_t(offset));
        } else {
            // Finish a partial vector write piece by piece.
            std::size_t skip = done;
            int i = 0;
            while (skip >= parts[i].iov_len) {
                skip -= parts[i].iov_len;
                ++i;
            }
            n = ::pwrite(fd, static_cast<const char*>(parts[i].iov_base) + skip, parts[i].iov_len - skip,
                         off_t(offset + done));
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0) {
            errno = ENOSPC;
        }
        if (n <= 0) {
            return false;
        }
        done += std::size_t(n);
    }
    return true;
}

bool isSafeStationName(const char* station) {
    if (station == nullptr) {
        return false;
    }
    std::size_t length = ::strnlen(station, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    std::string_view name(station, length);
    if (name == "." || name == "..") {
        return false;
    }
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' ||
            c == '"' || c == '<' || c == '>' || c == '|') {
            return false;
        }
    }
    return true;
}

bool copyFile(const char* from, const char* to) {
    int in = ::open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return false;
    }
    // Write beside the target and rename, so a failed copy never leaves half a file
    // under the target's name.
    std::string temp = std::string(to) + ".part";
    int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    char buffer[1 << 16];
    std::uint64_t offset = 0;
    for (;;) {
        ssize_t n = ::pread(in, buffer, sizeof buffer, off_t(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (!pwriteAll(out, buffer, std::size_t(n), offset)) {
            ok = false;
            break;
        }
        offset += std::uint64_t(n);
    }
    ::close(in);
    if (::close(out) != 0) {
        ok = false;
    }
    if (ok && offset != std::uint64_t(st.st_size)) {
        ok = false;
    }
    if (ok && ::rename(temp.c_str(), to) != 0) {
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.c_str());
    }
    return ok;
}

std::string folderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return std::string();
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool matchesPattern(const std::string& name, const std::string& pattern) {
    if (pattern == "*.*" || pattern == "*") {
        return true;
    }
    auto star = pattern.find('*');
    if (star == std::string::npos) {
        return name == pattern;
    }
    std::string head = pattern.substr(0, star);
    std::string tail = pattern.substr(star + 1);
    if (name.size() < head.size() + tail.size()) {
        return false;
    }
    auto lower = [](std::string s) {
        for (auto& c : s) {
            if (c >= 'A' && c <= 'Z') {
                c = char(c - 'A' + 'a');
            }
        }
        return s;
    };
    // Event folders are written by this system only, but the extension of a
    // received file may come in any case.
    return name.compare(0, head.size(), head) == 0 &&
           lower(name.substr(name.size() - tail.size())) == lower(tail);
}

}  // namespace eventfile
