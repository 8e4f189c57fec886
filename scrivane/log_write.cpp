#include "scrivane/log_write.h"

#include "common/lumo_deb.h"
#include "platform/last_error.h"
#include "platform/time_convert.h"
#include "platform/com/guarded.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

using namespace scrivane;

namespace {

// Holds the writers' mutex for one scope. A mutex whose last holder died is
// taken as well: every append reads the file's state again, so a half-done
// write of a dead writer does not mislead the next one.
class MutexHold {
public:
    explicit MutexHold(platform::NamedMutex& mutex) : m_mutex(mutex) {
        platform::LockResult result = mutex.wait(platform::INFINITE);
        m_held = result == platform::LockResult::Acquired || result == platform::LockResult::Abandoned;
    }
    ~MutexHold() {
        if (m_held) {
            m_mutex.release();
        }
    }
    bool held() const { return m_held; }

private:
    platform::NamedMutex& m_mutex;
    bool m_held = false;
};

std::string_view textOf(BSTR text) { return platform::com::bstrView(text); }

// A text up to its first NUL: what an 8-bit caller meant.
std::string cText(BSTR text) {
    std::string_view view = textOf(text);
    return std::string(view.substr(0, view.find('\0')));
}

bool writeAll(int fd, const std::string& data, off_t offset) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, offset + off_t(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += std::size_t(n);
    }
    return true;
}

// What an append needs to know of a file: which it is and its size. Asked
// for without its times, so the look does not make the next write stamp the
// file with a fine-grained time (an inode update of its own).
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t bytes = 0;
};

bool identify(int dirFd, const char* path, FileIdentity& out) {
    struct statx info {};
    const int flags = (*path == '\0' ? AT_EMPTY_PATH : 0) | AT_STATX_SYNC_AS_STAT;
    if (::statx(dirFd, path, flags, STATX_INO | STATX_SIZE, &info) != 0 ||
        (info.stx_mask & (STATX_INO | STATX_SIZE)) != (STATX_INO | STATX_SIZE)) {
        return false;
    }
    out.device = makedev(info.stx_dev_major, info.stx_dev_minor);
    out.inode = info.stx_ino;
    out.bytes = off_t(info.stx_size);
    return true;
}

// Opens a log for appending. Its access time is left alone where the system
// allows (it would otherwise be stamped at the first read after each append).
int openLog(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOATIME);
    if (fd < 0 && errno == EPERM) {
        fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    }
    return fd;
}

// The bytes in front of the first entry: the header lines, then blanks and a
// line end up to exactly `room` bytes, so no entry line is touched.
std::string headerRegion(const LogHeader& header, std::size_t room) {
    std::string text = headerText(header);
    std::size_t extra = room - text.size();
    if (extra >= 2) {
        text.append(extra - 2, ' ');
        text += "\r\n";
    } else if (extra == 1) {
        text += "\n";
    }
    return text;
}

}  // namespace

Czo_LogWrite::Czo_LogWrite() {
    m_eventNames = loadEventNames();
    auto mutex = std::make_unique<platform::NamedMutex>(kMutexName);
    if (mutex->isOpen()) {
        m_mutex = std::move(mutex);
    }
}

Czo_LogWrite::~Czo_LogWrite() {
    m_events.unadviseAll();
    closeFile();
    if (m_kept.fd >= 0) {
        ::close(m_kept.fd);
    }
}

std::span<const platform::com::DispatchMember<Czo_LogWrite>> Czo_LogWrite::dispatchMembers() {
    using platform::com::dispatchMethod;
    static const platform::com::DispatchMember<Czo_LogWrite> table[] = {
        {"CreateLogFile", 1, &dispatchMethod<&Czo_LogWrite::CreateLogFile>},
        {"CloseLogFile", 2, &dispatchMethod<&Czo_LogWrite::CloseLogFile>},
        {"AddLogEntry", 3, &dispatchMethod<&Czo_LogWrite::AddLogEntry>},
        {"OpenLogFile", 4, &dispatchMethod<&Czo_LogWrite::OpenLogFile>},
        {"AddLogEntryEx", 5, &dispatchMethod<&Czo_LogWrite::AddLogEntryEx>},
    };
    return table;
}

HRESULT Czo_LogWrite::fail(int code) {
    LUMO_TRACE(1, "[E] Scrivane Error(%d)", code);
    m_lastError = code;
    return logEngineError(code);
}

void Czo_LogWrite::keepSystemError(int errnoValue) {
    m_errorText = platform::systemMessage(platform::errorFromErrno(errnoValue)).substr(0, 255);
}

void Czo_LogWrite::closeFile() {
    m_headerCurrent = false;
    m_knownBytes = -1;
    m_knownNewestPlace.reset();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void Czo_LogWrite::keepFile() {
    m_headerCurrent = false;
    m_knownBytes = -1;
    m_knownNewestPlace.reset();
    if (m_fd < 0) {
        return;
    }
    if (m_kept.fd >= 0) {
        ::close(m_kept.fd);
    }
    m_kept = KeptFile{std::move(m_fdPath), m_fd, m_fdDevice, m_fdInode};
    m_fd = -1;
}

HRESULT Czo_LogWrite::CreateLogFile(BSTR szFormat, BSTR szVersion, BSTR szLogName, short nLogType,
                                    short nCycleType, LONG nCycleParam1, BSTR szFilePath) try {
    m_lastAppend.reset();
    if (!m_mutex) {
        LUMO_TRACE(1, "[E] No Mutex object");
        return fail(LEERR_NO_MUTEX_OBJECT);
    }
    // Every argument is checked before the file is touched: a refused call
    // leaves an existing log as it was. The checks are those the open at the end
    // applies, so a log that is created can also be opened.
    const std::string name = cText(szLogName);
    int refused = LEERR_NOERROR;
    if (textOf(szFormat).size() > 5) {
        refused = LEERR_INVALID_LOGSTAMP;
    } else if (textOf(szVersion).size() > 6) {
        refused = LEERR_INVALID_VERSION;
    } else if (name.size() > 30 ||
               std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
        refused = LEERR_INVALID_LOGNAME;
    } else if (nLogType < 0 || nLogType > 5) {
        refused = LEERR_INVALID_LOG_TYPE;
    } else if (nCycleType < 0 || nCycleType > 4) {
        refused = LEERR_INVALID_CYCTYPE;
    }
    if (refused != LEERR_NOERROR) {
        fail(refused);
        return hresult(0xFFFFFFFFu);
    }
    const std::string path = localLogPath(cText(szFilePath));

    {
        MutexHold hold(*m_mutex);
        if (!hold.held()) {
            return fail(LEERR_NO_MUTEX_OBJECT);
        }
        closeFile();
        int fd = path.empty() ? -1 : ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            keepSystemError(path.empty() ? ENOENT : errno);
            return fail(LEERR_SYSTEM);
        }
        LogHeader header;
        header.lines = {kLogStamp, kLogVersion, name, std::to_string(nLogType), "0",
                        std::to_string(nCycleType == LOGCYCLE_MAX_KBSIZE ? nCycleParam1 : 100),
                        std::to_string(int(LOGCYCLE_MAX_KBSIZE)), "0"};
        header.lastEntryId = 0;
        bool written = writeAll(fd, headerText(header) + "\r\n", 0);
        ::close(fd);
        if (!written) {
            keepSystemError(errno);
            return fail(LEERR_LOGFILE_WRITE_FAIL);
        }
        m_header = header;
    }
    return OpenLogFile(szFilePath);
} catch (...) {
    return platform::com::entryFault("Czo_LogWrite::CreateLogFile");
}

HRESULT Czo_LogWrite::CloseLogFile() try {
    m_lastAppend.reset();
    closeFile();
    if (m_kept.fd >= 0) {
        ::close(m_kept.fd);
        m_kept = KeptFile{};
    }
    return S_OK;
} catch (...) {
    return platform::com::entryFault("Czo_LogWrite::CloseLogFile");
}

HRESULT Czo_LogWrite::OpenLogFile(BSTR szFilePath) try {
    m_lastAppend.reset();
    closeFile();
    m_header = LogHeader{};
    if (!m_mutex) {
        return fail(LEERR_NO_MUTEX_OBJECT);
    }
    MutexHold hold(*m_mutex);
    if (!hold.held()) {
        return fail(LEERR_NO_MUTEX_OBJECT);
    }
    HRESULT result = openLocked(cText(szFilePath));
    // The mutex goes: another writer may append before our next call.
    m_headerCurrent = false;
    m_knownBytes = -1;
    return result;
} catch (...) {
    return platform::com::entryFault("Czo_LogWrite::OpenLogFile");
}

HRESULT Czo_LogWrite::openLocked(const std::string& clientPath) {
    LUMO_TRACE(5, "ENTER Czo_LogWrite::OpenLogFile");
    struct Leave {
        ~Leave() { LUMO_TRACE(5, "LEAVE Czo_LogWrite::OpenLogFile"); }
    } leave;
    closeFile();
    m_header = LogHeader{};
    const std::string path = localLogPath(clientPath);
    // The file kept from the last append is used again while the path still
    // names it; the look at the path also tells the file's size.
    FileIdentity info;
    // What the last append left, while nobody else has held the mutex since.
    std::optional<LastAppend> lastAppend = std::exchange(m_lastAppend, std::nullopt);
    if (m_kept.fd >= 0 && m_kept.path == path && identify(AT_FDCWD, path.c_str(), info) &&
        info.device == m_kept.device && info.inode == m_kept.inode) {
        m_fd = std::exchange(m_kept.fd, -1);
        if (lastAppend && (lastAppend->fileBytes != info.bytes || m_mutex->holdNumber() != lastAppend->hold + 1)) {
            lastAppend.reset();
        }
    } else {
        lastAppend.reset();
        if (m_kept.fd >= 0 && m_kept.path == path) {
            ::close(std::exchange(m_kept.fd, -1));
        }
        m_fd = path.empty() ? -1 : openLog(path);
        if (m_fd < 0) {
            keepSystemError(path.empty() ? ENOENT : errno);
            return fail(LEERR_SYSTEM);
        }
        if (!identify(m_fd, "", info)) {
            keepSystemError(errno);
            return fail(LEERR_SYSTEM);
        }
    }
    m_fdPath = path;
    m_fdDevice = info.device;
    m_fdInode = info.inode;
    LogHeader header;
    off_t entryStart = 0;
    int code = LEERR_NOERROR;
    if (lastAppend) {
        header = lastAppend->header;
        entryStart = lastAppend->entryStart;
        m_knownNewestPlace = lastAppend->newestPlace;
    } else {
        code = readHead(header, entryStart);
    }
    if (code == LEERR_SYSTEM) {
        keepSystemError(errno);
        LUMO_TRACE(1, "[E] Failed to read log header (%s)", m_errorText.c_str());
        return fail(code);
    }
    if (code == LEERR_LOGFILE_READ_FAIL) {
        LUMO_TRACE(1, "[E] Failed to read file header");
        return fail(code);
    }
    if (code != LEERR_NOERROR) {
        return fail(code);  // the file stays open; appends check the header again
    }
    m_header = header;
    m_lastEntryId = header.lastEntryId;
    m_cycleParam = header.cycleParam;
    m_cycleType = header.cycleType;
    // The cycling state belongs to the file just opened, not to a file this
    // object wrote before.
    m_cyclicStatus = 0;
    m_firstEntryPos = entryStart;
    LUMO_TRACE(3, "[I] Last entry ID in File header = %d", int(m_lastEntryId));
    // Current only while the caller still holds the mutex of this open.
    m_headerCurrent = true;
    m_knownBytes = info.bytes;
    return S_OK;
}

HRESULT Czo_LogWrite::AddLogEntry(short nEntryID, short nFlags, BSTR szUserName, short nStatus, BSTR szInfo) try {
    m_lastAppend.reset();
    if (m_fd < 0) {
        LUMO_TRACE(1, "[E] Log file wasn't opened");
        return fail(LEERR_LOGFILE_NOT_OPEN);
    }
    if (!m_mutex) {
        return fail(LEERR_NO_MUTEX_OBJECT);
    }
    MutexHold hold(*m_mutex);
    if (!hold.held()) {
        return fail(LEERR_NO_MUTEX_OBJECT);
    }
    int code = appendLocked(Caller::AddLogEntry, nEntryID, nFlags, szUserName, nStatus, szInfo);
    return code == LEERR_NOERROR ? S_OK : fail(code);
} catch (...) {
    return platform::com::entryFault("Czo_LogWrite::AddLogEntry");
}

HRESULT Czo_LogWrite::AddLogEntryEx(BSTR szFilePath, short nEntryID, short nFlags, BSTR szUserName, short nStatus,
                                    BSTR szInfo) try {
    // One hold of the writers' mutex for the open, the append and the close:
    // the header read by the open is still the file's own for the append.
    const bool wasOpen = m_fd >= 0;
    std::optional<MutexHold> hold;
    if (m_mutex) {
        hold.emplace(*m_mutex);
    }
    const bool held = hold && hold->held();
    if (!wasOpen) {
        closeFile();
        m_header = LogHeader{};
        if (held) {
            openLocked(cText(szFilePath));
        } else {
            fail(LEERR_NO_MUTEX_OBJECT);
        }
    }
    if (m_fd < 0) {
        LUMO_TRACE(1, "[E] AddLogEntryEx() - Log file wasn't opened");
        return fail(LEERR_LOGFILE_NOT_OPEN);
    }
    if (!m_mutex) {
        closeFile();
        return fail(LEERR_NO_MUTEX_OBJECT);
    }
    int code = LEERR_NO_MUTEX_OBJECT;
    LastAppend written;
    if (held) {
        code = appendLocked(Caller::AddLogEntryEx, nEntryID, nFlags, szUserName, nStatus, szInfo, &written);
    }
    // Remembered for the next append to the file kept open.
    if (!wasOpen && code == LEERR_NOERROR && written.hold != 0) {
        m_lastAppend = std::move(written);
    } else {
        m_lastAppend.reset();
    }
    // Closed on every way out, so the next call (often for another log)
    // never writes into this one; a file this call opened is kept aside for
    // the next call to the same log.
    if (wasOpen) {
        closeFile();
    } else {
        keepFile();
    }
    hold.reset();
    return code == LEERR_NOERROR ? S_OK : fail(code);
} catch (...) {
    return platform::com::entryFault("Czo_LogWrite::AddLogEntryEx");
}

int Czo_LogWrite::readHead(LogHeader& header, off_t& entryStart) {
    LogLineReader reader(m_fd, 0, LogLineReader::kHeadBlockBytes);
    if (int code = readLogHeader(reader, header); code != LEERR_NOERROR) {
        return code;
    }
    // The first entry follows the header within a line or two, mostly inside
    // the block already read.
    LogLine line;
    DWORD index = 0;
    while (reader.next(line)) {
        if (lineIndex(line.text, index)) {
            entryStart = line.start;
            return LEERR_NOERROR;
        }
    }
    entryStart = reader.position();
    return LEERR_NOERROR;
}

int Czo_LogWrite::ensureHeaderRoom(LogHeader& header, off_t& entryStart) {
    // The header is rewritten after every entry with the new last entry id, so
    // it must be able to hold the longest id without reaching the first entry.
    if (std::size_t(entryStart) >= headerTextBytes(header, header.lastEntryId + 1)) {
        return LEERR_NOERROR;
    }
    // Grow it once to the room of the longest id.
    const std::size_t needed = headerTextBytes(header, 0xFFFFFFFFu);
    // Move every line from the first entry on behind a larger header region
    // (once in a log's life; logs of this writer start without that room).
    struct stat info {};
    if (::fstat(m_fd, &info) != 0) {
        return LEERR_SYSTEM;
    }
    std::string tail(std::size_t(info.st_size > entryStart ? info.st_size - entryStart : 0), '\0');
    std::size_t done = 0;
    while (done < tail.size()) {
        ssize_t n = ::pread(m_fd, tail.data() + done, tail.size() - done, entryStart + off_t(done));
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return LEERR_LOGFILE_READ_FAIL;
        }
        done += std::size_t(n);
    }
    const std::size_t room = needed + 2;  // always ends with a separator line
    if (!writeAll(m_fd, headerRegion(header, room) + tail, 0)) {
        keepSystemError(errno);
        return LEERR_LOGFILE_WRITE_FAIL;
    }
    header.afterHeader = off_t(headerTextBytes(header, header.lastEntryId));
    entryStart = off_t(room);
    return LEERR_NOERROR;
}

int Czo_LogWrite::setFilePos(const LogHeader& header, off_t entryStart, off_t knownBytes,
                             std::optional<off_t> newest, off_t& position, off_t& fileBytes) {
    struct stat info {};
    if (knownBytes >= 0) {
        info.st_size = knownBytes;
    } else if (::fstat(m_fd, &info) != 0) {
        return LEERR_SYSTEM;
    }
    fileBytes = info.st_size;
    if (m_cyclicStatus != 1) {
        switch (header.cycleType) {
            case LOGCYCLE_MAX_KBSIZE:
                if (LONG((info.st_size / 1024) % 65536) > header.cycleParam) {
                    m_cyclicStatus = 1;
                }
                break;
            case LOGCYCLE_MAX_ENTRIES: {
                // The entry count of the file counts too: once ids have wrapped,
                // the last id alone no longer tells that the log is full.
                off_t lines = info.st_size > entryStart ? (info.st_size - entryStart) / off_t(kEntryLineBytes) : 0;
                if (LONG(header.lastEntryId) >= header.cycleParam || lines >= header.cycleParam) {
                    m_cyclicStatus = 1;
                }
                break;
            }
            default:
                LUMO_TRACE(1, "[E] SetFilePos() - Failed to set Cyc status");
                fail(LEERR_INVALID_CYCTYPE);
                fail(LEERR_SET_CYCSTATUS_FAIL);
                return LEERR_ADD_ENTRY_FAILED;
        }
    }
    if (m_cyclicStatus == 0 || entryStart >= info.st_size) {
        // Appending; a log that has no entry yet is appended to even when its
        // limit is already passed, as there is nothing to overwrite.
        position = info.st_size;
        m_newEntryId = header.lastEntryId + 1;
        return LEERR_NOERROR;
    }
    // Cycling: the entry after the newest one is the oldest; it is replaced.
    // Entry lines have a fixed width, so the newest entry sits where its id
    // says: the id's line counted from the first entry's id (before the first
    // wrap), or from 0 (after it). One read checks the place (none when this
    // object wrote that entry and nobody has written since); only a file of
    // other line widths is walked line by line.
    if (!newest) {
        newest = placeOfEntry(header.lastEntryId, entryStart, info.st_size);
    }
    if (newest) {
        const off_t next = *newest + off_t(kEntryLineBytes);
        if (next >= info.st_size) {
            LUMO_TRACE(3, "[I] Reached the end of file");
            position = entryStart;
            m_newEntryId = 0;
        } else {
            position = next;
            m_newEntryId = header.lastEntryId + 1;
        }
        LUMO_TRACE(3, "[I] New CYC entry ID: (%d)", int(m_newEntryId));
        return LEERR_NOERROR;
    }
    LogLineReader reader(m_fd, entryStart);
    LogLine line;
    DWORD index = 0;
    bool found = false;
    while (reader.next(line)) {
        if (lineIndex(line.text, index) && index == header.lastEntryId) {
            found = true;
            break;
        }
    }
    if (!found) {
        if (reader.failed()) {
            LUMO_TRACE(1, "SeekCycLogNewEntry() - Seek to first entry pos. failed");
        }
        LUMO_TRACE(1, "[E] SetFilePos() - Failed to seek to new entry position");
        fail(LEERR_FIND_NEW_INDEX_FAILED);
        return LEERR_ADD_ENTRY_FAILED;
    }
    LogLine following;
    if (!reader.next(following)) {
        LUMO_TRACE(3, "[I] Reached the end of file");
        position = entryStart;
        m_newEntryId = 0;
    } else {
        position = following.start;
        m_newEntryId = header.lastEntryId + 1;
    }
    LUMO_TRACE(3, "[I] New CYC entry ID: (%d)", int(m_newEntryId));
    return LEERR_NOERROR;
}

bool Czo_LogWrite::entryLineAt(off_t start, off_t fileBytes, DWORD& index) {
    if (start < 0 || start + off_t(kEntryLineBytes) > fileBytes) {
        return false;
    }
    char line[kEntryLineBytes];
    ssize_t n;
    do {
        n = ::pread(m_fd, line, sizeof line, start);
    } while (n < 0 && errno == EINTR);
    if (n != ssize_t(sizeof line) || line[kEntryTextChars] != '\r' || line[kEntryTextChars + 1] != '\n') {
        return false;
    }
    const std::string_view text(line, kEntryTextChars);
    return text.find('\n') == std::string_view::npos && lineIndex(text, index);
}

std::optional<off_t> Czo_LogWrite::placeOfEntry(DWORD id, off_t entryStart, off_t fileBytes) {
    // A log of this writer numbers its first cycle from 1 and every later one
    // from 0: the line before the id's own, or the id's own, in one read.
    if (id >= 1) {
        const off_t before = entryStart + off_t(id - 1) * off_t(kEntryLineBytes);
        char lines[2 * kEntryLineBytes];
        ssize_t n;
        do {
            n = ::pread(m_fd, lines, sizeof lines, before);
        } while (n < 0 && errno == EINTR);
        for (int i = 0; i < 2 && n >= ssize_t((i + 1) * kEntryLineBytes); ++i) {
            const char* line = lines + i * kEntryLineBytes;
            DWORD found = 0;
            const std::string_view text(line, kEntryTextChars);
            if (line[kEntryTextChars] == '\r' && line[kEntryTextChars + 1] == '\n' &&
                text.find('\n') == std::string_view::npos && lineIndex(text, found) && found == id) {
                return before + off_t(i) * off_t(kEntryLineBytes);
            }
        }
    }
    DWORD firstId = 0;
    if (!entryLineAt(entryStart, fileBytes, firstId)) {
        return std::nullopt;
    }
    // Candidates in file order, as a walk from the first entry would meet them.
    std::array<off_t, 2> candidates{-1, -1};
    if (id >= firstId) {
        candidates[0] = entryStart + off_t(id - firstId) * off_t(kEntryLineBytes);
    }
    candidates[1] = entryStart + off_t(id) * off_t(kEntryLineBytes);
    if (candidates[0] > candidates[1]) {
        std::swap(candidates[0], candidates[1]);
    }
    for (off_t place : candidates) {
        DWORD found = 0;
        if (place >= entryStart && entryLineAt(place, fileBytes, found) && found == id) {
            return place;
        }
    }
    return std::nullopt;
}

bool Czo_LogWrite::updateLogHeader(const LogHeader& header, off_t entryStart) {
    if (!writeAll(m_fd, headerRegion(header, std::size_t(entryStart)), 0)) {
        keepSystemError(errno);
        LUMO_TRACE(1, "[E] Failed to update log header (%s)", m_errorText.c_str());
        m_lastError = LEERR_LOGFILE_WRITE_FAIL;
        return false;
    }
    return true;
}

int Czo_LogWrite::appendLocked(Caller caller, short eventId, short flags, BSTR user, short status, BSTR info,
                               LastAppend* written) {
    const bool ex = caller == Caller::AddLogEntryEx;
    // The header is read again under the mutex: another process may have
    // appended since this object last looked.
    LogHeader header;
    off_t entryStart = 0;
    off_t knownBytes = -1;
    if (m_headerCurrent) {
        // Read by the open under this same hold of the mutex.
        header = m_header;
        entryStart = m_firstEntryPos;
        knownBytes = m_knownBytes;
    } else if (int code = readHead(header, entryStart); code != LEERR_NOERROR) {
        if (code == LEERR_SYSTEM) {
            keepSystemError(errno);
        }
        return code;
    }
    std::optional<off_t> knownNewestPlace = std::exchange(m_knownNewestPlace, std::nullopt);
    if (!m_headerCurrent) {
        knownNewestPlace.reset();  // it belongs to the header read by the open
    }
    m_headerCurrent = false;
    m_knownBytes = -1;
    m_lastEntryId = header.lastEntryId;
    m_cycleParam = header.cycleParam;
    m_cycleType = header.cycleType;

    EntryFields fields;
    fields.eventId = eventId;
    fields.flags = flags;
    fields.status = status;
    if (!entryFieldsFit(fields)) {
        return LEERR_INVALID_ENTRY_STR;  // would not fit its field: refused, nothing written
    }

    const off_t startBefore = entryStart;
    if (int room = ensureHeaderRoom(header, entryStart); room != LEERR_NOERROR) {
        return room;
    }
    if (entryStart != startBefore) {
        knownBytes = -1;  // the entries moved behind a larger header
        knownNewestPlace.reset();
    }
    m_firstEntryPos = entryStart;

    off_t position = 0;
    off_t fileBytes = 0;
    if (int pos = setFilePos(header, entryStart, knownBytes, knownNewestPlace, position, fileBytes);
        pos != LEERR_NOERROR) {
        LUMO_TRACE(1, ex ? "[E] AddLogEntryEx() - Failed to set file position" : "[E] Failed to set file position");
        return pos;
    }

    fields.index = m_newEntryId;
    fields.localTime = platform::currentLocalTime();
    fields.user = cText(user);
    fields.info = cText(info);
    if (!writeAll(m_fd, entryLine(fields), position)) {
        keepSystemError(errno);
        LUMO_TRACE(1, ex ? "[E] AddLogEntryEx() - Failed to write (%s)" : "[E] Failed to write. (%s)",
                   m_errorText.c_str());
        return LEERR_LOGFILE_WRITE_FAIL;
    }
    m_lastEntryId = m_newEntryId;
    header.lastEntryId = m_newEntryId;
    // A failed rewrite does not fail the call, but leaves the file's header
    // unknown to the next append.
    const bool headerWritten = updateLogHeader(header, entryStart);
    m_header = header;
    if (written != nullptr && headerWritten && m_mutex) {
        *written = LastAppend{m_mutex->holdNumber(), header, entryStart, position,
                              std::max(fileBytes, position + off_t(kEntryLineBytes))};
    }
    return LEERR_NOERROR;
}
