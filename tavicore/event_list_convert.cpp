// Bringing old event files and list files up to date: their times were stored as
// seconds since 1970 in the low half of each FILETIME field.

#include "tavicore/event_file.h"

#include "tavicore/event_file_internal.h"
#include "tavicore/record_convert.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using namespace eventfile;

namespace {

FILETIME secondsToFileTime(LONG seconds) {
    FILETIME out{};
    CStructConvertor().Time_tToFileTime(seconds, &out);
    return out;
}

LONG fileTimeToSeconds(FILETIME ft) {
    LONG out = 0;
    CStructConvertor().FileTimeToTime_t(ft, &out);
    return out;
}

}  // namespace

int CEventFile::evEventHeaderTimeConvert(tagEventHeader* header, short direction) {
    if (header == nullptr) {
        return 0;
    }
    if (direction == 1) {
        header->ftStartTime = secondsToFileTime(LONG(header->ftStartTime.dwLowDateTime));
        header->ftEndTime = secondsToFileTime(LONG(header->ftEndTime.dwLowDateTime));
    } else if (direction == 2) {
        header->ftStartTime = FILETIME{DWORD(fileTimeToSeconds(header->ftStartTime)), 0};
        header->ftEndTime = FILETIME{DWORD(fileTimeToSeconds(header->ftEndTime)), 0};
    } else {
        return 0;
    }
    header->dwChkSum = headerChecksum(*header);
    return 1;
}

int CEventFile::evEventFileHeaderListTimeConvert(const char* path, short direction) {
    if (direction != 1 && direction != 2) {
        trace(5, "CEventFile::evEventHeaderTimeConvert Failed!!!!");
        return 0;
    }
    int fd = path != nullptr ? ::open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW) : -1;
    if (fd < 0) {
        trace(5, "CEventFile::evEventFileHeaderListTimeConverte Failed!!!! Read File %s failed "
                 "reason=%s\n",
              path != nullptr ? path : "", zoGetFileExceptionError(platform::fileCauseFromErrno(errno)).c_str());
        return 0;
    }
    BYTE head[kEventDirListRecordSize];
    if (!preadAll(fd, head, sizeof head, 0)) {
        trace(5, "CEventFile::evEventFileHeaderListTimeConverte Failed!!!! Read File %s "
                 "reason=Empty\n",
              path);
        ::close(fd);
        return 0;
    }
    DWORD count = DWORD(head[4]) | DWORD(head[5]) << 8 | DWORD(head[6]) << 16 | DWORD(head[7]) << 24;
    int result = 1;
    std::uint64_t offset = sizeof head;
    for (DWORD i = 0; i < count; ++i) {
        tagEventHeader h{};
        // The count comes from the file: a file holding fewer headers ends the
        // conversion at its end rather than converting what is not there.
        if (!preadAll(fd, &h, sizeof h, offset)) {
            trace(5, "CEventFile::evEventFileHeaderListTimeConvert %lu of %lu headers present",
                  static_cast<unsigned long>(i), static_cast<unsigned long>(count));
            result = 0;
            break;
        }
        trace(3, "CEventFile::evEventFileHeaderListTimeConvert Start:%d Finish %d",
              int(h.ftStartTime.dwLowDateTime), int(h.ftEndTime.dwLowDateTime));
        if (!evEventHeaderTimeConvert(&h, direction)) {
            trace(5, "CEventFile::evEventHeaderTimeConvert Failed!!!!");
            result = 0;
            break;
        }
        if (!pwriteAll(fd, &h, sizeof h, offset)) {
            result = 0;
            break;
        }
        offset += sizeof h;
    }
    if (::close(fd) != 0) {
        result = 0;
    }
    return result;
}

int CEventFile::evEventFileTimeConvert(const char* source, const char* target, short direction) {
    if (source == nullptr || target == nullptr) {
        return 0;
    }
    CEventFile in(9, nullptr, const_cast<char*>(source), m_station);
    WORD code = 0;
    in.GetLastError(&code);
    if (code != 0) {
        trace(1, "CEventFile::evTimeConverte Cant open %s for reading", source);
        return 0;
    }
    tagEventHeader header{};
    in.GetEventHeader(&header);
    if (!evEventHeaderTimeConvert(&header, direction)) {
        trace(5, "CEventFile::evEventHeaderTimeConvert Failed!!!!");
        return 0;
    }
    CEventFile out(10, &header, const_cast<char*>(target), m_station);
    out.GetLastError(&code);
    if (code != 0) {
        trace(5, "CEventFile::evTimeConverte Cant open %s for reading", target);
        return 0;
    }
    std::vector<BYTE> data;
    for (DWORD i = 0; i < header.dwSnapShotNum; ++i) {
        tagEventSnapshot snap{};
        if (!in.ReadSnapShotHeader(&snap)) {
            trace(5, "CEventFile::evTimeConverte Cant read header of %s", source);
            return 0;
        }
        if (snap.dwOrdinal != i) {
            // The walk is back on the newest snapshot: the count in the header
            // promised more than the file holds.
            trace(5, "CEventFile::evTimeConverte %s holds %lu of %lu snapshots", source,
                  static_cast<unsigned long>(i), static_cast<unsigned long>(header.dwSnapShotNum));
            break;
        }
        data.resize(snap.dwSize);
        if (!in.ReadSnapShotData(data.data(), snap.dwSize, 1)) {
            trace(5, "CEventFile::evTimeConverte Cant read snapshot data of %s", source);
            return 0;
        }
        if (direction == 1) {
            snap.ftTime = secondsToFileTime(LONG(snap.ftTime.dwLowDateTime));
        } else {
            snap.ftTime = FILETIME{DWORD(fileTimeToSeconds(snap.ftTime)), 0};
        }
        snap.dwOrdinal = 0;
        if (!out.AddSnapShot(&snap, nullptr, data.data(), 0)) {
            trace(5, "CEventFile::evTimeConverte Cant Add snapshot data to %s\n", target);
            return 0;
        }
    }
    return 1;
}
