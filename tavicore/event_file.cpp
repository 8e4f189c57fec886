// Event files: creating, writing, closing, reading, checking and erasing one file.

#include "tavicore/event_file.h"

#include "tavicore/event_file_internal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

using namespace eventfile;

namespace {

constexpr DWORD kFirstSnapshotOffset = kEventHeaderSize;

bool isKnownMagic(const char* magic) {
    return magicIs(magic, "LUMA") || magicIs(magic, "LPRE") || magicIs(magic, "NVID");
}

// The error a mode's operation reports when its file name could not be built.
WORD nameFailureCode(WORD mode) {
    switch (mode) {
    case 1:
    case 10: return EVERR_CREATE;
    case 2:
    case 4: return EVERR_ERASE;
    case 6: return EVERR_MAKE_PATH;
    case 7: return EVERR_MODE;
    default: return EVERR_OPEN_READ;
    }
}

}  // namespace

// --- construction ---------------------------------------------------------------

CEventFile::CEventFile() { InitializeMembers(); }

CEventFile::CEventFile(WORD mode, tagEventHeader* target, tagEventHeader* source,
                       const char* station) {
    InitializeMembers();
    setStationName(station);
    m_mode = mode;
    if (target == nullptr || source == nullptr) {
        m_lastError = EVERR_NO_HEADER;
        return;
    }
    char kept[MAX_PATH] = {};
    if (!MakeFileName(mode, source, m_station, kept) ||
        !MakeFileName(mode, target, m_station, nullptr)) {
        if (m_lastError == 0) {
            m_lastError = nameFailureCode(mode);
        }
        return;
    }
    HandleMode(mode, target, kept);
}

CEventFile::CEventFile(WORD mode, tagEventHeader* header, char* fileName, const char* station) {
    InitializeMembers();
    evHandleEvents(mode, header, fileName, station);
}

CEventFile::CEventFile(WORD mode, char* fileName, tagEventHeader* header, const char* station,
                       CDBLumo*) {
    InitializeMembers();
    if (mode != 7) {
        mode = 8;
    }
    m_mode = mode;
    setStationName(station);
    if (header != nullptr && !MakeFileName(mode, header, m_station, nullptr)) {
        if (m_lastError == 0) {
            m_lastError = nameFailureCode(mode);
        }
        return;
    }
    HandleMode(mode, header, fileName);
}

CEventFile::CEventFile(WORD mode, tagEventDirListCamera* list, char* path, const char* station) {
    InitializeMembers();
    if (list == nullptr) {
        m_mode = mode;
        m_lastError = EVERR_NO_HEADER;
        return;
    }
    char listStation[sizeof list->szStation] = {};
    if (station == nullptr) {
        std::size_t n = ::strnlen(list->szStation, sizeof list->szStation);
        if (n == sizeof list->szStation) {
            m_mode = mode;
            m_lastError = nameFailureCode(mode);
            return;
        }
        std::memcpy(listStation, list->szStation, n);
        station = listStation;
    }
    tagEventHeader header{};
    header.dwType = list->dwType;
    header.wAdapter = list->wAdapter;
    header.wCamera = list->wCamera;
    evHandleEvents(mode, &header, path, station);
}

CEventFile::~CEventFile() {
    CloseEvent(m_mode);
    evCloseLoadThread();
}

void CEventFile::setStationName(const char* station) {
    copyText(m_station, sizeof m_station, station != nullptr ? station : "");
}

void CEventFile::evHandleEvents(WORD mode, tagEventHeader* header, char* fileName,
                                const char* station) {
    setStationName(station);
    m_mode = mode;
    if (mode != 9 && mode != 10) {
        if (!MakeFileName(mode, header, m_station, nullptr)) {
            // Without its own name the operation would act on whatever the
            // path argument or an empty folder names: stop here.
            if (m_lastError == 0) {
                m_lastError = nameFailureCode(mode);
            }
            return;
        }
    }
    HandleMode(mode, header, fileName);
}

void CEventFile::InitializeMembers() {
    m_mode = 0;
    m_lastError = 0;
    m_readState = 0;
    m_stopEvent = nullptr;
    m_filePath[0] = m_folderPath[0] = m_destFolder[0] = m_station[0] = '\0';
    std::memset(&m_header, 0, sizeof m_header);
    std::memset(&m_snapshot, 0, sizeof m_snapshot);
    std::memset(&m_lastDestHeader, 0, sizeof m_lastDestHeader);
    m_filterFrom = FILETIME{};
    m_filterTo = FILETIME{};
    m_filterType = 0;
    m_earliestDate = SYSTEMTIME{};
    m_wrapIndex = m_earliestIndex = m_prevOffset = m_currentOffset = 0;
    m_lastAction = 0;
    m_written = 0;
    m_filePos = 0;
    m_fileSize = 0;
    m_params = tagParamsForLoadThread{};
}

int CEventFile::HandleMode(WORD mode, tagEventHeader* header, char* path) {
    m_mode = mode;
    switch (mode) {
    case 0:
        return OpenEventRead(header);
    case 1: {
        if (!MakePath(m_filePath)) {
            trace(5, "CEventFile::HandleMode() MakePath(%s) failed", m_filePath);
            return 0;
        }
        return OpenEventWrite();
    }
    case 2:
        return OpenEventErase();
    case 4:
        return OpenEventEraseAll();
    case 5:
        return 1;
    case 6: {
        if (path == nullptr || !copyText(m_destFolder, sizeof m_destFolder, path)) {
            m_lastError = EVERR_MAKE_PATH;
            return 0;
        }
        std::string probe = std::string(m_destFolder) + "/x";
        if (!MakePath(probe.c_str())) {
            return 0;
        }
        return CopyAllEventsToFolder();
    }
    case 7:
        return HandleCopyToDataBaseMode(header, path);
    case 8:
    case 9:
    case 10: {
        if (path == nullptr || !copyText(m_filePath, sizeof m_filePath, path)) {
            m_lastError = mode == 10 ? EVERR_CREATE : EVERR_OPEN_READ;
            return 0;
        }
        if (mode == 10) {
            return OpenEventWrite(header);
        }
        int ok = OpenEventRead(header);
        if (mode == 8) {
            closeFile();
        }
        return ok;
    }
    case 11:
        if (path != nullptr) {
            copyText(path, MAX_PATH, m_filePath);
        }
        return 1;
    default:
        m_lastError = EVERR_MODE;
        return 0;
    }
}

int CEventFile::GetLastError(WORD* code) {
    if (code != nullptr) {
        *code = WORD(m_lastError);
    }
    m_lastError = 0;
    return 1;
}

DWORD CEventFile::CalculateChkSum(const BYTE* bytes, DWORD length) {
    return bytes == nullptr ? 0 : byteSum(bytes, length);
}

int CEventFile::GetEventHeader(tagEventHeader* out) {
    if (out == nullptr) {
        return 0;
    }
    *out = m_header;
    return 1;
}

int CEventFile::evGetFileName(char* out, DWORD size) {
    if (m_fd < 0) {
        return 0;
    }
    if (out != nullptr && size > 0) {
        std::size_t n = std::min<std::size_t>(std::strlen(m_filePath), size - 1);
        std::memcpy(out, m_filePath, n);
        out[n] = '\0';
    }
    return 1;
}

int CEventFile::evGetLastFileName(char* out, DWORD size) {
    if (out == nullptr || size == 0) {
        return 0;
    }
    std::size_t n = std::min<std::size_t>(std::strlen(m_filePath), size - 1);
    std::memcpy(out, m_filePath, n);
    out[n] = '\0';
    return 1;
}

DWORD CEventFile::evGetNumOfPreAlarmFrames() { return m_header.dwPreAlarmFrames; }
DWORD CEventFile::evGetMaxNumOfPostAlarmFrames() { return m_header.dwPostAlarmFrames; }
void CEventFile::evSetNumOfPostAlarmFrames(DWORD frames) { m_header.dwPostAlarmFrames = frames; }
WORD CEventFile::evGetLastAction() { return m_lastAction; }
DWORD CEventFile::evGetCurrentSnapshotIndex() { return m_snapshot.dwIndex; }

void CEventFile::ZoGetTime(FILETIME* out) {
    if (out != nullptr) {
        *out = fileTime(localNowTicks());
    }
}

std::string CEventFile::zoGetFileExceptionError(int cause, char* buffer, DWORD size) {
    std::string text = platform::fileCauseText(cause);
    if (buffer != nullptr && size > 0) {
        std::size_t n = std::min<std::size_t>(text.size(), size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return text;
}

std::string CEventFile::zoGetLastError(char* buffer) {
    std::string text = std::strerror(errno);
    if (buffer != nullptr) {
        copyText(buffer, MAX_PATH, text.substr(0, MAX_PATH - 1));
    }
    return text;
}

// --- file handling --------------------------------------------------------------

void CEventFile::closeFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_filePos = 0;
    m_fileSize = 0;
    m_readState = 0;
}

void CEventFile::closeAndErase(const char* why) {
    trace(5, "%s", why);
    closeFile();
    if (!OpenEventErase()) {
        trace(5, "!!!!!!!! Could not erase the file");
    }
}

bool CEventFile::refreshFileSize() {
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
        return false;
    }
    m_fileSize = std::uint64_t(st.st_size);
    return true;
}

bool CEventFile::readAt(std::uint64_t offset, void* out, std::size_t bytes) {
    if (m_fd < 0) {
        return false;
    }
    // A file still being written grows: look again before calling a read short.
    if (offset + bytes > m_fileSize && (!refreshFileSize() || offset + bytes > m_fileSize)) {
        errno = 0;
        return false;
    }
    return preadAll(m_fd, out, bytes, offset);
}

bool CEventFile::readSnapshotHeaderAt(std::uint64_t offset, tagEventSnapshot* out) {
    return offset >= kFirstSnapshotOffset && readAt(offset, out, sizeof *out);
}

WORD CEventFile::GetEventSize() {
    std::uint64_t length = 0;
    if (m_fd >= 0 && refreshFileSize()) {
        length = m_fileSize;
    } else {
        struct stat st {};
        if (m_filePath[0] == '\0' || ::stat(m_filePath, &st) != 0 || !S_ISREG(st.st_mode)) {
            return 0;
        }
        length = std::uint64_t(st.st_size);
    }
    // Files beyond 65,535,000 bytes report the largest size rather than a wrapped one.
    return WORD(std::min<std::uint64_t>(length / 1000, 0xFFFF));
}

int CEventFile::EventExist() {
    std::string path = m_filePath;
    if (path.empty()) {
        return 0;
    }
    if (path.find('*') == std::string::npos) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? 1 : 0;
    }
    std::string folder = folderOf(path);
    std::string pattern = fileNameOf(path);
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) {
        return 0;
    }
    int found = 0;
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.' && matchesPattern(entry->d_name, pattern)) {
            found = 1;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// --- writing --------------------------------------------------------------------

int CEventFile::OpenEventWrite(tagEventHeader* header) {
    closeFile();
    if (header != nullptr) {
        m_header = *header;
    }
    // The file is new, so its bookkeeping starts fresh whatever the given header
    // carried from the file it was taken from.
    m_header.dwSnapShotNum = 0;
    m_header.dwLastIndex = 0;
    m_header.dwLastOffset = 0;
    m_header.dwEarliestOffset = kFirstSnapshotOffset;
    m_header.dwWrapOffset = 0;
    m_header.dwEarliestIndex = 0;
    m_header.dwWrapIndex = 0;
    m_header.dwWrapped = 0;
    m_header.dwChkSum = headerChecksum(m_header);
    m_fd = ::open(m_filePath, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (m_fd < 0) {
        int err = errno;
        trace(5, "CEventFile::OpenEventWrite() %s",
              zoGetFileExceptionError(platform::fileCauseFromErrno(err)).c_str());
        m_lastError = platform::fileCauseFromErrno(err) == kCauseDiskFull ? EVERR_DISK_FULL : EVERR_CREATE;
        return 0;
    }
    m_readOnly = false;
    if (!pwriteAll(m_fd, &m_header, sizeof m_header, 0)) {
        int err = errno;
        trace(5, "CEventFile::OpenEventWrite() %s",
              zoGetFileExceptionError(platform::fileCauseFromErrno(err)).c_str());
        m_lastError = platform::fileCauseFromErrno(err) == kCauseDiskFull ? EVERR_DISK_FULL : EVERR_WRITE_HEADER;
        closeFile();
        return 0;
    }
    m_filePos = kFirstSnapshotOffset;
    m_fileSize = kFirstSnapshotOffset;
    m_snapshot = tagEventSnapshot{};
    m_prevOffset = 0;
    m_wrapIndex = 0;
    m_earliestIndex = 0;
    m_written = 0;
    return 1;
}

int CEventFile::OpenEventWrite() {
    if (m_folderPath[0] != '\0' && !evUpdateLstIdx(m_folderPath, m_header.dwEventNumber)) {
        trace(5, "CEventFile::OpenEventWrite() could not record the event number in %s",
              m_folderPath);
    }
    m_header.dwPreAlarmFrames = 0;
    std::memcpy(m_header.chMagic, "VHED", 4);
    ZoGetTime(&m_header.ftStartTime);
    int ok = OpenEventWrite(&m_header);
    m_written = 0;
    return ok;
}

int CEventFile::AddSnapShot(tagEventSnapshot* snapshot, BITMAPINFOHEADER* bitmap, BYTE* data,
                            int wrapAfter) {
    if (m_fd < 0 || m_readOnly) {
        trace(1, "CEventFile::AddSnapShot Error m_cFile.m_hFile == CFile::hFileNull");
        return 0;
    }
    if (snapshot == nullptr) {
        m_lastError = EVERR_WRITE_SNAPSHOT;
        return 0;
    }
    tagEventSnapshot snap = *snapshot;
    const DWORD counter = m_snapshot.dwIndex;
    snap.dwIndex = counter;
    bool preAlarm = magicIs(snap.chMagic, "LPRE") || magicIs(snap.chMagic, "NVID");
    if (!preAlarm) {
        std::memcpy(snap.chMagic, "LUMA", 4);
    }
    if (snap.ftTime.dwLowDateTime == 0 && snap.ftTime.dwHighDateTime == 0) {
        ZoGetTime(&snap.ftTime);
    }
    // Readers step over a snapshot by its size, so the size always says what follows.
    std::uint64_t dataBytes = bitmap != nullptr ? std::uint64_t(sizeof *bitmap) + bitmap->biSizeImage
                                                : snap.dwSize;
    const std::uint64_t imageBytes = bitmap != nullptr ? bitmap->biSizeImage : snap.dwSize;
    const std::uint64_t offset = m_filePos;
    if (dataBytes > 0xFFFFFFFFu - sizeof snap ||
        offset + sizeof snap + dataBytes > 0xFFFFFFFFu || (imageBytes > 0 && data == nullptr)) {
        trace(5, "CEventFile::AddSnapshot %s", "snapshot does not fit the file's 32-bit offsets");
        m_lastError = EVERR_WRITE_SNAPSHOT;
        return 0;
    }
    snap.dwSize = DWORD(dataBytes);
    snap.dwPrevOffset = m_prevOffset;
    snap.dwChkSum = snapshotChecksum(snap);

    // Three steps, so that a writer killed at any point never leaves a header
    // that vouches for bytes it does not describe: first the header marked
    // pending (its checksum complemented, which no reader accepts) replaces
    // whatever lay at this offset, an older cycle's header included; then the
    // data; the whole header last. The pending header keeps the real previous
    // offset, so a reader can still find the cycle before it.
    iovec parts[2];
    int count = 0;
    std::size_t dataTotal = 0;
    if (bitmap != nullptr) {
        parts[count++] = iovec{bitmap, sizeof *bitmap};
        dataTotal += sizeof *bitmap;
        if (bitmap->biSizeImage > 0) {
            parts[count++] = iovec{data, bitmap->biSizeImage};
            dataTotal += bitmap->biSizeImage;
        }
    } else if (snap.dwSize > 0) {
        parts[count++] = iovec{data, snap.dwSize};
        dataTotal += snap.dwSize;
    }
    auto fail = [&](int err) {
        trace(5, "CEventFile::AddSnapshot %s", zoGetFileExceptionError(platform::fileCauseFromErrno(err)).c_str());
        m_lastError = platform::fileCauseFromErrno(err) == kCauseDiskFull ? EVERR_DISK_FULL : EVERR_WRITE_SNAPSHOT;
        // The header keeps describing the snapshots that are whole; the next
        // snapshot overwrites what was partly written.
        return 0;
    };
    tagEventSnapshot pending = snap;
    pending.dwChkSum = ~snap.dwChkSum;
    if (!pwriteAll(m_fd, &pending, sizeof pending, offset)) {
        return fail(errno == 0 ? ENOSPC : errno);
    }
    const std::uint64_t dataOffset = offset + sizeof snap;
    if (!pwritevAll(m_fd, parts, count, dataOffset)) {
        return fail(errno == 0 ? ENOSPC : errno);
    }
    if (!pwriteAll(m_fd, &snap, sizeof snap, offset)) {
        return fail(errno == 0 ? ENOSPC : errno);
    }
    const std::size_t total = sizeof snap + dataTotal;

    if (preAlarm) {
        m_header.dwPreAlarmFrames = counter + 1;
    }
    m_header.dwLastIndex = counter;
    m_header.dwLastOffset = DWORD(offset);
    m_prevOffset = DWORD(offset);
    m_filePos = offset + total;
    m_fileSize = std::max(m_fileSize, m_filePos);
    if (wrapAfter == 0) {
        if (!m_header.dwWrapped) {
            ++m_header.dwSnapShotNum;
        }
        m_snapshot.dwIndex = counter + 1;
    } else {
        m_header.dwWrapIndex = counter;
        m_wrapIndex = counter;
        m_header.dwWrapOffset = DWORD(offset);
        m_snapshot.dwIndex = 0;
        if (!m_header.dwWrapped) {
            ++m_header.dwSnapShotNum;
        }
        m_header.dwWrapped = 1;
        m_filePos = kFirstSnapshotOffset;
    }
    if (bitmap != nullptr) {
        m_header.dwWidth = DWORD(bitmap->biWidth);
        m_header.dwHeight = DWORD(bitmap->biHeight);
    }
    m_written = 1;
    DWORD runningIndex = m_snapshot.dwIndex;
    m_snapshot = snap;
    m_snapshot.dwIndex = runningIndex;
    *snapshot = snap;
    return 1;
}

int CEventFile::CloseEvent(WORD mode) {
    if (mode == 1 || mode == 10) {
        if (m_fd < 0 || m_readOnly) {
            closeFile();
            return 1;
        }
        evCloseEventForWriteMode(mode);
        // The file is gone when the close found nothing worth keeping.
        struct stat st {};
        if (::lstat(m_filePath, &st) == 0 && !UpdateEventFileTime()) {
            trace(1, "CEventFile::CloseEvent Error UpdateEventFileTime");
        }
        return 1;
    }
    if (mode == 7) {
        bool wasOpen = m_fd >= 0;
        closeFile();
        if (wasOpen && !UpdateEventFileTime()) {
            trace(1, "CEventFile::CloseEvent Error UpdateEventFileTime");
        }
        return 1;
    }
    closeFile();
    return 1;
}

void CEventFile::evCloseEventForWriteMode(WORD mode) {
    if (m_fd < 0) {
        trace(5, "CEventFile::evCloseEventForWriteMode File handle =NULL!!!!!!!");
        return;
    }
    if (!m_written) {
        closeAndErase(
            "CEventFile::evCloseEventForWriteMode Failed!!! The file is empty..Erasing the file");
        return;
    }
    if (!evUpdateEarliestSnapshot()) {
        closeAndErase("CEventFile::evCloseEventForWriteMode Failed!!! evUpdateEarliestSnapshot() "
                      "failed...Erasing the file");
        return;
    }
    m_header.wState = 2;
    if (mode != 10) {
        ZoGetTime(&m_header.ftEndTime);
    }
    if (evCompareTime(m_header.ftStartTime, m_header.ftEndTime) > 0) {
        // The clock went back while recording: the frames are good, only the
        // times disagree. Keep the recording and let it end where it starts.
        trace(5, "CEventFile::evCloseEventForWriteMode() Start time greater then finish time..."
                 "end time set to the start time");
        m_header.ftEndTime = m_header.ftStartTime;
    }
    if (m_header.dwWrapped && m_header.dwWrapOffset == m_header.dwLastOffset) {
        m_header.dwWrapped = 0;
        trace(5, "CEventFile::evCloseEventForWriteMode()  cyclic was not accomplished!!!!");
    }
    if (!m_header.dwWrapped) {
        m_header.dwWrapOffset = 0;
    }
    m_header.dwChkSum = headerChecksum(m_header);
    if (!pwriteAll(m_fd, &m_header, sizeof m_header, 0)) {
        trace(1, "CEventFile::evCloseEventForWriteMode() writing the header failed: %s",
              std::strerror(errno));
    }
    closeFile();
}

bool CEventFile::findEarliestAfter(DWORD lastOffset, DWORD wrapOffset, DWORD wrapIndex,
                                   DWORD* earliestOffset, tagEventSnapshot* earliest) {
    tagEventSnapshot last{};
    if (!readSnapshotHeaderAt(lastOffset, &last)) {
        return false;
    }
    return findEarliestFrom(std::uint64_t(lastOffset) + sizeof last + last.dwSize, wrapOffset,
                            wrapIndex, earliestOffset, earliest);
}

bool CEventFile::findEarliestFrom(std::uint64_t start, DWORD wrapOffset, DWORD wrapIndex,
                                  DWORD* earliestOffset, tagEventSnapshot* earliest) {
    refreshFileSize();
    if (start > wrapOffset || std::uint64_t(wrapOffset) + sizeof(tagEventSnapshot) > m_fileSize) {
        return false;
    }
    // Checks that the snapshots from `at` run without a gap, index after index,
    // to the snapshot at the wrap offset: only then is `at` a survivor of the
    // cycle that ended there, not image bytes that look like a header or a frame
    // left from an older cycle.
    auto chainReachesWrap = [&](std::uint64_t at, const tagEventSnapshot& first) {
        tagEventSnapshot s = first;
        std::uint64_t pos = at;
        while (pos != wrapOffset) {
            std::uint64_t next = pos + sizeof s + s.dwSize;
            if (next > wrapOffset) {
                return false;
            }
            tagEventSnapshot n{};
            if (!readSnapshotHeaderAt(next, &n) || snapshotChecksum(n) != n.dwChkSum ||
                !isKnownMagic(n.chMagic) || n.dwIndex != s.dwIndex + 1 || n.dwPrevOffset != pos) {
                return false;
            }
            s = n;
            pos = next;
        }
        return s.dwIndex == wrapIndex;
    };

    // The scan goes byte by byte, since the old data need not line up with the
    // new snapshot boundaries; it reads the region in large blocks.
    constexpr std::size_t kBlock = 1 << 20;
    std::vector<BYTE> block;
    std::uint64_t endCandidate = wrapOffset;  // the last position a survivor can start at
    for (std::uint64_t base = start; base <= endCandidate;) {
        std::size_t want = std::size_t(
            std::min<std::uint64_t>(kBlock + sizeof(tagEventSnapshot), endCandidate + 32 - base));
        block.resize(want);
        if (!preadAll(m_fd, block.data(), want, base)) {
            return false;
        }
        std::size_t positions = want >= 32 ? want - 31 : 0;
        positions = std::min<std::size_t>(positions, kBlock);
        for (std::size_t i = 0; i < positions; ++i) {
            const BYTE* p = block.data() + i;
            if (!(std::memcmp(p, "LUMA", 4) == 0 || std::memcmp(p, "LPRE", 4) == 0)) {
                continue;
            }
            tagEventSnapshot s{};
            std::memcpy(&s, p, sizeof s);
            if (snapshotChecksum(s) != s.dwChkSum || s.dwIndex > wrapIndex) {
                continue;
            }
            if (chainReachesWrap(base + i, s)) {
                *earliestOffset = DWORD(base + i);
                *earliest = s;
                return true;
            }
        }
        base += positions;
        if (positions == 0) {
            break;
        }
    }
    return false;
}

int CEventFile::evUpdateEarliestSnapshot() {
    if (!m_header.dwWrapped || m_header.dwWrapOffset == m_header.dwLastOffset) {
        // Never wrapped, or the last cycle ended on the last snapshot: the file
        // reads straight from its first snapshot.
        m_header.dwEarliestOffset = kFirstSnapshotOffset;
        m_earliestIndex = 0;
        m_header.dwEarliestIndex = 0;
        m_header.dwSnapShotNum = m_header.dwLastIndex + 1;
    } else {
        DWORD offset = 0;
        tagEventSnapshot earliest{};
        if (findEarliestAfter(m_header.dwLastOffset, m_header.dwWrapOffset, m_header.dwWrapIndex,
                              &offset, &earliest)) {
            m_earliestIndex = earliest.dwIndex;
            m_header.dwSnapShotNum =
                m_header.dwWrapIndex + m_header.dwLastIndex - earliest.dwIndex + 2;
            trace(5, "evUpdateEarliestSnapshot() success dwSnapShotNum = %ld",
                  long(m_header.dwSnapShotNum));
            m_header.dwEarliestOffset = offset;
            m_header.dwEarliestIndex = earliest.dwIndex;
        } else {
            // The last cycle overwrote every snapshot of the one before: what is
            // left reads straight, and the old wrap position means nothing now.
            trace(5, "evSeektoEarliestSnapshot not found EOF");
            m_header.dwWrapIndex = m_header.dwLastIndex;
            m_wrapIndex = m_header.dwLastIndex;
            m_earliestIndex = 0;
            m_header.dwSnapShotNum = m_header.dwLastIndex + 1;
            m_header.dwEarliestOffset = kFirstSnapshotOffset;
            m_header.dwEarliestIndex = 0;
            m_header.dwWrapped = 0;
            m_header.dwWrapOffset = 0;
        }
    }
    tagEventSnapshot first{};
    if (!readSnapshotHeaderAt(m_header.dwEarliestOffset, &first)) {
        trace(5, "evUpdateEarliestSnapshot() Failed!!!!! m_cFile.Read failed m_cause=%ld!!!",
              long(platform::fileCauseFromErrno(errno == 0 ? EIO : errno)));
        return 0;
    }
    m_header.ftStartTime = first.ftTime;
    return 1;
}

int CEventFile::EditEventFile() {
    closeFile();
    // A file that cannot be opened is left as it is: it may be a good recording
    // that is only busy or unreadable for the moment.
    m_fd = ::open(m_filePath, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (m_fd < 0) {
        m_lastError = EVERR_CREATE;
        return 0;
    }
    m_readOnly = false;
    refreshFileSize();
    std::memcpy(m_header.chMagic, "VHED", 4);
    m_header.dwChkSum = headerChecksum(m_header);
    if (!pwriteAll(m_fd, &m_header, sizeof m_header, 0)) {
        m_lastError = EVERR_WRITE_HEADER;
        return 0;
    }
    return 1;
}

int CEventFile::UpdateEventFileTime() {
    return evSetFileTime(m_filePath, &m_header.ftStartTime, nullptr, &m_header.ftEndTime);
}

int CEventFile::evSetFileTime(const char* path, const FILETIME* creation, const FILETIME* access,
                              const FILETIME* lastWrite) {
    // The file system keeps no creation time that can be set: the start of an
    // event is read from its header instead. Access and last-write are set.
    (void)creation;
    int fd = path != nullptr ? ::open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW) : -1;
    if (fd < 0) {
        trace(1, "CEventFile::evSetFileTime Error open File Sys Error %d", errno);
        return 0;
    }
    timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
    auto put = [](const FILETIME* ft, timespec* out) {
        std::int64_t seconds = 0;
        long nanoseconds = 0;
        if (ft != nullptr && localTicksToUtc(ticks(*ft), &seconds, &nanoseconds)) {
            out->tv_sec = time_t(seconds);
            out->tv_nsec = nanoseconds;
        }
    };
    put(access, &times[0]);
    put(lastWrite, &times[1]);
    if (::futimens(fd, times) != 0) {
        trace(5, "CEventFile::evSetFileTime Error SetFileTime Sys error%d", errno);
    }
    if (::close(fd) != 0) {
        trace(5, "CEventFile::evSetFileTime Error open File %d", errno);
        return 0;
    }
    return 1;
}

// --- erasing --------------------------------------------------------------------

int CEventFile::OpenEventErase() {
    closeFile();
    struct stat st {};
    // Only a file (or a link, which is removed itself) is erased; never a folder.
    if (m_filePath[0] == '\0' || ::lstat(m_filePath, &st) != 0 || S_ISDIR(st.st_mode) ||
        ::unlink(m_filePath) != 0) {
        trace(5, "CEventFile::OpenEventErase() %s: %s", m_filePath, std::strerror(errno));
        m_lastError = EVERR_ERASE;
        return 0;
    }
    return 1;
}

int CEventFile::OpenEventEraseAll() {
    closeFile();
    std::string folder = m_folderPath;
    std::string pattern = fileNameOf(m_filePath);
    if (folder.empty() || folder == "/" || pattern.empty()) {
        m_lastError = EVERR_ERASE;
        return 0;
    }
    int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* dir = dirFd >= 0 ? ::fdopendir(dirFd) : nullptr;
    if (dir == nullptr) {
        if (dirFd >= 0) {
            ::close(dirFd);
        }
        return 0;
    }
    int matched = 0;
    bool allErased = true;
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.' && (entry->d_name[1] == '\0' ||
                                        (entry->d_name[1] == '.' && entry->d_name[2] == '\0'))) {
            continue;
        }
        if (!matchesPattern(entry->d_name, pattern)) {
            continue;
        }
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) {
            continue;
        }
        ++matched;
        if (::unlinkat(dirFd, entry->d_name, 0) != 0) {
            allErased = false;
        }
    }
    ::closedir(dir);
    if (matched == 0 || !allErased) {
        if (!allErased) {
            m_lastError = EVERR_ERASE;
        }
        return 0;
    }
    return 1;
}

// --- reading --------------------------------------------------------------------

int CEventFile::ReadEventHeader(tagEventHeader* out) {
    tagEventHeader header{};
    if (!readAt(0, &header, sizeof header)) {
        trace(5, "CEventFile::ReadEventHeader() %s",
              zoGetFileExceptionError(errno == 0 ? kCauseEndOfFile : platform::fileCauseFromErrno(errno)).c_str());
        m_lastError = EVERR_READ_HEADER;
        return 0;
    }
    m_header = header;
    if (out != nullptr) {
        *out = header;
    }
    m_filePos = kFirstSnapshotOffset;
    m_readState = 1;
    if (headerChecksum(header) != header.dwChkSum) {
        trace(5, "CEventFile::ReadEventHeader() checksum mismatch");
        m_lastError = EVERR_HEADER_CHKSUM;
        return 0;
    }
    return 1;
}

bool CEventFile::headerLooksConsistent() const {
    const tagEventHeader& h = m_header;
    auto fits = [&](DWORD offset) {
        return offset >= kFirstSnapshotOffset &&
               std::uint64_t(offset) + kEventSnapshotHeaderSize <= m_fileSize;
    };
    if (h.dwSnapShotNum == 0 || !fits(h.dwLastOffset) || !fits(h.dwEarliestOffset)) {
        return false;
    }
    if (h.dwWrapped) {
        return fits(h.dwWrapOffset) && h.dwLastOffset < h.dwEarliestOffset &&
               h.dwEarliestOffset <= h.dwWrapOffset;
    }
    return h.dwEarliestOffset == kFirstSnapshotOffset && h.dwLastOffset >= h.dwEarliestOffset;
}

void CEventFile::recoverHeaderFromSnapshots() {
    // A file that was never closed (the recorder died) has the header of its
    // creation: rebuild the bookkeeping from the snapshots that are whole.
    tagEventHeader& h = m_header;
    refreshFileSize();
    std::uint64_t pos = kFirstSnapshotOffset;
    std::uint64_t lastPos = 0;
    tagEventSnapshot first{}, last{};
    DWORD expected = 0;
    while (true) {
        tagEventSnapshot s{};
        if (!readSnapshotHeaderAt(pos, &s) || snapshotChecksum(s) != s.dwChkSum ||
            !isKnownMagic(s.chMagic) || s.dwIndex != expected ||
            (expected > 0 && s.dwPrevOffset != lastPos) ||
            pos + sizeof s + s.dwSize > m_fileSize) {
            break;
        }
        if (expected == 0) {
            first = s;
        }
        last = s;
        lastPos = pos;
        ++expected;
        pos += sizeof s + s.dwSize;
        if (pos > 0xFFFFFFFFu) {
            break;
        }
    }
    h.dwWrapped = 0;
    h.dwWrapOffset = 0;
    h.dwWrapIndex = 0;
    h.dwEarliestIndex = 0;
    h.dwEarliestOffset = kFirstSnapshotOffset;
    if (expected == 0 && recoverCycleBeforePending()) {
        return;
    }
    if (expected == 0) {
        h.dwSnapShotNum = 0;
        h.dwLastIndex = 0;
        h.dwLastOffset = 0;
        h.dwChkSum = headerChecksum(h);
        return;
    }
    h.dwLastIndex = last.dwIndex;
    h.dwLastOffset = DWORD(lastPos);
    h.dwSnapShotNum = last.dwIndex + 1;
    h.ftStartTime = first.ftTime;
    h.ftEndTime = last.ftTime;
    // The first snapshot of a later cycle points back at the last one of the
    // cycle before: its survivors lie behind the newest snapshot.
    tagEventSnapshot wrap{};
    DWORD wrapOffset = first.dwPrevOffset;
    if (wrapOffset > lastPos && readSnapshotHeaderAt(wrapOffset, &wrap) &&
        snapshotChecksum(wrap) == wrap.dwChkSum && isKnownMagic(wrap.chMagic)) {
        DWORD earliestOffset = 0;
        tagEventSnapshot earliest{};
        if (findEarliestAfter(DWORD(lastPos), wrapOffset, wrap.dwIndex, &earliestOffset,
                              &earliest)) {
            h.dwWrapped = 1;
            h.dwWrapOffset = wrapOffset;
            h.dwWrapIndex = wrap.dwIndex;
            h.dwEarliestOffset = earliestOffset;
            h.dwEarliestIndex = earliest.dwIndex;
            h.dwSnapShotNum = wrap.dwIndex + last.dwIndex - earliest.dwIndex + 2;
            h.ftStartTime = earliest.ftTime;
        }
    }
    h.dwChkSum = headerChecksum(h);
}

bool CEventFile::recoverCycleBeforePending() {
    // The writer died while the first snapshot of a new cycle was pending: no
    // snapshot of the new cycle is whole, but the pending header still points
    // at the last snapshot of the cycle before, whose survivors read on their own.
    tagEventHeader& h = m_header;
    tagEventSnapshot pending{};
    if (!readSnapshotHeaderAt(kFirstSnapshotOffset, &pending) ||
        pending.dwChkSum != ~snapshotChecksum(pending) || pending.dwIndex != 0 ||
        pending.dwPrevOffset <= kFirstSnapshotOffset) {
        return false;
    }
    const DWORD wrapOffset = pending.dwPrevOffset;
    tagEventSnapshot wrap{};
    if (!readSnapshotHeaderAt(wrapOffset, &wrap) || snapshotChecksum(wrap) != wrap.dwChkSum ||
        !isKnownMagic(wrap.chMagic)) {
        return false;
    }
    DWORD earliestOffset = 0;
    tagEventSnapshot earliest{};
    if (!findEarliestFrom(kFirstSnapshotOffset + sizeof pending, wrapOffset, wrap.dwIndex,
                          &earliestOffset, &earliest)) {
        return false;
    }
    // Read as one wrapped cycle whose newest snapshot is the one it wrapped at.
    h.dwWrapped = 1;
    h.dwWrapOffset = wrapOffset;
    h.dwWrapIndex = wrap.dwIndex;
    h.dwLastOffset = wrapOffset;
    h.dwLastIndex = wrap.dwIndex;
    h.dwEarliestOffset = earliestOffset;
    h.dwEarliestIndex = earliest.dwIndex;
    h.dwSnapShotNum = wrap.dwIndex - earliest.dwIndex + 1;
    h.ftStartTime = earliest.ftTime;
    h.ftEndTime = wrap.ftTime;
    h.dwChkSum = headerChecksum(h);
    return true;
}

int CEventFile::OpenEventRead(tagEventHeader* out) {
    m_lastAction = 1;
    closeFile();
    m_fd = ::open(m_filePath, O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        m_openCause = platform::fileCauseFromErrno(errno);
        trace(5, "CEventFile::OpenEventRead() %s: %s", m_filePath,
              zoGetFileExceptionError(m_openCause).c_str());
        m_lastError = EVERR_OPEN_READ;
        return 0;
    }
    m_readOnly = true;
    refreshFileSize();
    if (!evReadEventHeaderAndSeekToEarliestFrame(out)) {
        return 0;
    }
    return 1;
}

int CEventFile::evReadEventHeaderAndSeekToEarliestFrame(tagEventHeader* out) {
    if (!ReadEventHeader(out)) {
        return 0;
    }
    refreshFileSize();
    if (m_header.wState != 2 || !headerLooksConsistent()) {
        recoverHeaderFromSnapshots();
        if (out != nullptr) {
            *out = m_header;
        }
    }
    m_wrapIndex = m_header.dwWrapIndex;
    m_earliestIndex = m_header.dwEarliestIndex;
    m_filePos = m_header.dwEarliestOffset;
    m_currentOffset = m_header.dwEarliestOffset;
    m_lastAction = 1;
    m_readState = 1;
    return 1;
}

int CEventFile::evSeekToEarliestSnapshot() {
    trace(5, "ENTER %s", "CEventFile::evSeekToEarliestSnapshot()");
    m_filePos = m_header.dwEarliestOffset;
    if (m_readState == 2) {
        m_readState = 1;
    }
    trace(5, "LEAVE %s", "CEventFile::evSeekToEarliestSnapshot()");
    return 1;
}

int CEventFile::ReadSnapShotHeader(tagEventSnapshot* out) {
    if (m_readState == 2 || m_fd < 0) {
        return 0;
    }
    tagEventSnapshot s{};
    const std::uint64_t at = m_filePos;
    if (!readSnapshotHeaderAt(at, &s)) {
        trace(5, "CEventFile::ReadSnapShotHeader() no snapshot header at %llu",
              static_cast<unsigned long long>(at));
        m_lastError = EVERR_SNAPSHOT_HEADER;
        return 0;
    }
    if (snapshotChecksum(s) != s.dwChkSum) {
        trace(5, "CEventFile::ReadSnapShotHeader() checksum mismatch at %llu",
              static_cast<unsigned long long>(at));
        m_lastError = EVERR_SNAPSHOT_HEADER;
        return 0;
    }
    // The data must lie inside the file before anyone sizes a read by it.
    if (at + sizeof s + s.dwSize > m_fileSize &&
        (!refreshFileSize() || at + sizeof s + s.dwSize > m_fileSize)) {
        trace(5, "CEventFile::ReadSnapShotHeader() snapshot of %lu bytes at %llu passes the end",
              static_cast<unsigned long>(s.dwSize), static_cast<unsigned long long>(at));
        m_lastError = EVERR_SNAPSHOT_HEADER;
        return 0;
    }
    m_currentOffset = DWORD(at);
    m_snapshot = s;
    DWORD ordinal = evGetCurrentSnapshotIndexFromEarliest();
    if (out != nullptr) {
        *out = s;
        out->dwOrdinal = ordinal;
    }
    m_filePos = at + sizeof s;
    m_readState = 2;
    return 1;
}

std::uint64_t CEventFile::forwardNext(std::uint64_t current, const tagEventSnapshot& snap) const {
    const tagEventHeader& h = m_header;
    const std::uint64_t next = current + sizeof snap + snap.dwSize;
    if (current == h.dwLastOffset) {
        return h.dwLastOffset;  // past the newest the newest comes again
    }
    if (h.dwWrapped) {
        if (current == h.dwWrapOffset) {
            return kFirstSnapshotOffset;
        }
        if (current >= h.dwEarliestOffset) {
            // The older cycle ends at the wrap offset; stepping over it means the
            // chain is broken, and the newer cycle starts behind the header.
            return next > h.dwWrapOffset ? kFirstSnapshotOffset : next;
        }
    }
    // Never beyond the newest: a walk that steps over it (the chain and the
    // header disagree) stays on the last snapshot it could read.
    return next > h.dwLastOffset ? current : next;
}

int CEventFile::ReadSnapShotData(BYTE* buffer, DWORD length, int forward) {
    if (m_readState != 2 || m_fd < 0) {
        return 0;
    }
    if (length > m_snapshot.dwSize || (length > 0 && buffer == nullptr)) {
        trace(5, "CEventFile::ReadSnapShotData() %lu bytes asked, the snapshot holds %lu",
              static_cast<unsigned long>(length), static_cast<unsigned long>(m_snapshot.dwSize));
        m_lastError = EVERR_SNAPSHOT_DATA;
        return 0;
    }
    if (length > 0 && !readAt(std::uint64_t(m_currentOffset) + sizeof m_snapshot, buffer, length)) {
        trace(5, "CEventFile::ReadSnapShotData() %s",
              zoGetFileExceptionError(errno == 0 ? kCauseEndOfFile : platform::fileCauseFromErrno(errno)).c_str());
        m_lastError = EVERR_SNAPSHOT_DATA;
        return 0;
    }
    if (!forward) {
        if (m_currentOffset == m_header.dwEarliestOffset) {
            // Nothing lies before the earliest snapshot: stand where a forward
            // read would have left the file, so the next forward step shows the
            // frame after it.
            m_filePos = forwardNext(m_currentOffset, m_snapshot);
            m_lastAction = 1;
        } else {
            m_filePos = m_snapshot.dwPrevOffset;
            m_lastAction = 2;
        }
    } else {
        if (m_header.dwWrapped && m_currentOffset == m_header.dwWrapOffset) {
            tagEventHeader check{};
            if (!readAt(0, &check, sizeof check) || headerChecksum(check) != check.dwChkSum) {
                m_lastError = EVERR_HEADER_CHKSUM;
                return 0;
            }
        }
        m_filePos = forwardNext(m_currentOffset, m_snapshot);
        m_lastAction = 1;
    }
    m_readState = 3;
    return 1;
}

int CEventFile::evSeekToPreviousFrame(tagEventSnapshot* out) {
    if (m_currentOffset == m_header.dwEarliestOffset) {
        m_filePos = m_header.dwEarliestOffset;
    } else {
        m_filePos = m_snapshot.dwPrevOffset;
    }
    if (m_readState == 2) {
        m_readState = 1;
    }
    if (!ReadSnapShotHeader(out)) {
        trace(5, "CEventFile::evSeekToPreviousFrame() Failed!!!! ReadSnapshotHeader failed");
        return 0;
    }
    return 1;
}

DWORD CEventFile::evGetCurrentSnapshotIndexFromEarliest() {
    const DWORD i = m_snapshot.dwIndex;
    DWORD ordinal;
    if (!m_header.dwWrapped) {
        ordinal = i;
    } else if (m_currentOffset < m_header.dwEarliestOffset) {
        ordinal = m_wrapIndex - m_earliestIndex + 1 + i;
    } else {
        ordinal = i - m_earliestIndex;
    }
    m_snapshot.dwOrdinal = ordinal;
    trace(5, "CEventFile::evGetCurrentSnapshotIndexFromEarliest() dwIndex = %ld", long(ordinal));
    return ordinal;
}
