// The event folder tree: folder and file names, "LastEvnt.idx", erasing folders,
// copying events into the tree and out of it.

#include "tavicore/event_file.h"

#include "common/kc_reg.h"
#include "tavicore/event_file_internal.h"
#include "tavicore/product_key.h"
#include "tavicore/stations_mgr.h"
#include "tavicore/tavicore_globals.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace eventfile;

namespace {

std::mutex gRootLock;
std::string gStorageRoot;  // guarded by gRootLock

constexpr const char* kIndexFileName = "LastEvnt.idx";

// The kind folder of an event type, or null for a type the tree has no place for.
bool kindFolder(DWORD type, const char** group, const char** kind, bool* quad) {
    *quad = false;
    switch (type & 0xFFFF) {
    case 1: *group = "triggers"; *kind = "Automatic_Trigger"; return true;
    case 2: *group = "triggers"; *kind = "Manual_Trigger"; return true;
    case 8: *group = "triggers"; *kind = "DOA_Trigger"; return true;
    case 16: *group = "triggers"; *kind = "Remote_Manual_Trigger"; return true;
    case 32: *group = "triggers"; *kind = "Lapse_Manual_Trigger"; return true;
    case 64: *group = "triggers"; *kind = "Lapse_Automatic_Trigger"; return true;
    case 4:
    case 256:
    case 260:
    case 772: *group = "Movies"; *kind = "Manual_Trigger"; return true;
    case 512:
        *group = "Movies";
        *kind = "Manual_Trigger";
        *quad = type == EVENT_TYPE_QUAD;
        return true;
    default: return false;
    }
}

bool hasParentStep(const std::string& path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        if (path.compare(start, end - start, "..") == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// Removes everything inside the folder open as `dirFd`, never following a link
// (a link is removed itself). Subfolders whose names begin with "." stay.
void eraseInside(int dirFd, const std::string& shownPath) {
    DIR* dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
        ::close(dirFd);
        return;
    }
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    for (const auto& name : names) {
        struct stat st {};
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            ::unlinkat(dirFd, name.c_str(), 0);
            continue;
        }
        if (name[0] == '.') {
            continue;
        }
        std::string child = shownPath + "/" + name;
        int childFd = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (childFd >= 0) {
            eraseInside(childFd, child);
        }
        trace(5, "CEventFile::EraseDir(%s): RemoveDirectory(%s)", shownPath.c_str(), child.c_str());
        if (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0) {
            trace(5, "CEventFile::EraseDir(): RemoveDirectory(%s) failed err=%s", child.c_str(),
                  CEventFile::zoGetLastError().c_str());
        }
    }
    ::closedir(dir);
}

struct FolderEntry {
    std::string name;
    struct stat st;
};

// The plain entries of a folder (no "." and ".."), in name order so that every
// listing of the same folder comes out the same.
bool listFolder(const std::string& folder, std::vector<FolderEntry>* out) {
    int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        return false;
    }
    DIR* dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
        ::close(dirFd);
        return false;
    }
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        FolderEntry e{name, {}};
        if (::fstatat(dirFd, name.c_str(), &e.st, AT_SYMLINK_NOFOLLOW) == 0) {
            out->push_back(std::move(e));
        }
    }
    ::closedir(dir);
    std::sort(out->begin(), out->end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return true;
}

}  // namespace

void evSetEventsStorageRoot(const char* folder) {
    std::lock_guard<std::mutex> lock(gRootLock);
    gStorageRoot = folder != nullptr ? folder : "";
}

int CEventFile::getWorkDirForEvents(char* out, const char* station) {
    if (out == nullptr) {
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(gRootLock);
        if (!gStorageRoot.empty()) {
            return copyText(out, MAX_PATH, gStorageRoot) ? 1 : 0;
        }
    }
    IZoStationsMgr* directory = stationsMgr != nullptr ? stationsMgr->Get() : nullptr;
    if (directory == nullptr) {
        trace(5, "[E] getWorkDirForEvents() failed!!! (no Nordel interface)");
        return 0;
    }
    if (FAILED(directory->StartQueryStation(station != nullptr ? station : ""))) {
        trace(1, "CEventFile::getWorkDirForEvents  pSM->StartQueryStation failed");
        return 0;
    }
    char folder[MAX_PATH + 1] = {};
    if (FAILED(directory->GetStorageWorkingFolder(folder))) {
        trace(5, "CEventFile::getWorkDirForEvents pSM->GetStorageWorkingFolder failed");
        return 0;
    }
    folder[MAX_PATH] = '\0';
    return copyText(out, MAX_PATH, folder) ? 1 : 0;
}

int CEventFile::setWorkDirForEvents(const char*) { return 1; }

namespace {

bool isFolder(const char* path) {
    struct stat st {};
    return path != nullptr && path[0] != '\0' && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

CKcReg generalSettings() { return ProductKey("General"); }

}  // namespace

int CEventFile::ReadWorkDirForEvents(char* out) {
    if (out == nullptr) {
        return 0;
    }
    char current[MAX_PATH] = {};
    if (::getcwd(current, sizeof current) == nullptr) {
        current[0] = '\0';
    }
    char stored[CKcReg::kTextBytes] = {};
    DWORD size = sizeof stored;
    CKcReg reg = generalSettings();
    const char* dir = reg.GetString("General", "EventsWorkDir", stored, &size) ? stored : current;
    if (!isFolder(dir)) {
        trace(5, "CEventFile::getWorkDirForEvents %s not found", dir);
        return 0;
    }
    reg.SetString("General", "EventsWorkDir", dir);
    return copyText(out, MAX_PATH, dir) ? 1 : 0;
}

int CEventFile::WriteWorkDirForEvents(const char* dir) {
    if (!isFolder(dir)) {
        trace(5, "CEventFile::setWorkDirForEvents %s not found", dir != nullptr ? dir : "");
        return 0;
    }
    CKcReg reg = generalSettings();
    return reg.SetString("General", "EventsWorkDir", dir) ? 1 : 0;
}

int CEventFile::getWorkDirForEvents(char* out) {
    if (out == nullptr || ::getcwd(out, MAX_PATH) == nullptr) {
        trace(5, "CEventFile::getWorkDirForEvents %s not found", "the current folder");
        return 0;
    }
    return ReadWorkDirForEvents(out);
}

int CEventFile::evMakePathName(const char* station, const tagEventHeader* header, char* out,
                               DWORD size) {
    if (header == nullptr) {
        trace(5, "CEventFile::evMakePathName() Failed!!! pEventHeader=NULL");
        return 0;
    }
    if (out == nullptr || size == 0) {
        return 0;
    }
    const char* group = nullptr;
    const char* kind = nullptr;
    bool quad = false;
    // A type without a folder fails: an empty folder would send erasing and
    // listing to wherever the caller's buffer happened to point.
    if (!kindFolder(header->dwType, &group, &kind, &quad)) {
        trace(5, "CEventFile::evMakePathName() Failed!!! unknown event type %lx",
              static_cast<unsigned long>(header->dwType));
        return 0;
    }
    const bool local = station == nullptr || station[0] == '\0';
    if (!local && !isSafeStationName(station)) {
        trace(1, "CEventFile::evMakePathName() Failed!!! station name is not a folder name");
        return 0;
    }
    char work[MAX_PATH] = {};
    if (!getWorkDirForEvents(work, station) || work[0] == '\0') {
        trace(1, "CEventFile::evMakePathName() getWorkDirForEvents() Failed!!!");
        return 0;
    }
    char base[MAX_PATH] = {};
    if (local) {
        copyText(base, sizeof base, work);
    } else if (!formatText(base, sizeof base, "%s/%s/%s", work, "TriggersMoviesDB", station)) {
        return 0;
    }
    char folder[MAX_PATH] = {};
    bool fits = quad ? formatText(folder, sizeof folder, "%s/%s/Adapter_%u/Quad_%u/%s", base, group,
                                  unsigned(header->wAdapter), unsigned(header->dwEventNumber), kind)
                     : formatText(folder, sizeof folder, "%s/%s/Adapter_%u/Camera_%u/%s", base,
                                  group, unsigned(header->wAdapter), unsigned(header->wCamera),
                                  kind);
    if (!fits || !copyText(out, size, folder)) {
        return 0;
    }
    return 1;
}

int CEventFile::MakeFileName(WORD mode, tagEventHeader* header, const char* station, char* out) {
    trace(5, "ENTER %s", "CEventFile::MakeFileName()");
    m_lastError = 0;
    m_readState = 0;
    std::memset(&m_header, 0, sizeof m_header);
    std::memset(&m_snapshot, 0, sizeof m_snapshot);
    if (header == nullptr) {
        m_lastError = EVERR_NO_HEADER;
        trace(5, "LEAVE %s", "CEventFile::MakeFileName()");
        return 0;
    }
    m_header = *header;
    if (!evMakePathName(station, header, m_folderPath, sizeof m_folderPath)) {
        trace(5, "CEventFile::MakeFileName() evMakePathName() Failed!!!!");
        m_folderPath[0] = '\0';
        m_filePath[0] = '\0';
        trace(5, "LEAVE %s", "CEventFile::MakeFileName()");
        return 0;
    }
    trace(5, "CEventFile::MakeFileName() Path=%s", m_folderPath);
    bool fits;
    if (mode == 4) {
        fits = formatText(m_filePath, sizeof m_filePath, "%s/*.*", m_folderPath);
    } else if (mode == 5 || mode == 6) {
        fits = formatText(m_filePath, sizeof m_filePath, "%s/Event_*.trg", m_folderPath);
    } else {
        fits = formatText(m_filePath, sizeof m_filePath, "%s/Event_%u.trg", m_folderPath,
                          unsigned(header->dwEventNumber));
    }
    if (!fits) {
        m_folderPath[0] = '\0';
        trace(5, "LEAVE %s", "CEventFile::MakeFileName()");
        return 0;
    }
    if (out != nullptr) {
        copyText(out, MAX_PATH, m_filePath);
    }
    trace(5, "LEAVE %s", "CEventFile::MakeFileName()");
    return 1;
}

int CEventFile::MakePath(const char* filePath) {
    if (filePath == nullptr) {
        m_lastError = EVERR_MAKE_PATH;
        return 0;
    }
    std::string folder = folderOf(filePath);
    if (folder.empty()) {
        return 1;  // a bare name lies in the current folder
    }
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at == folder.size() || folder[at] == '/') {
            std::string level = folder.substr(0, at);
            if (::mkdir(level.c_str(), 0755) != 0 && errno != EEXIST) {
                break;
            }
        }
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        trace(5, "CEventFile::MakePath(%s) Failed!!!!", filePath);
        m_lastError = EVERR_MAKE_PATH;
        return 0;
    }
    return 1;
}

int CEventFile::evGetLstIdx(const char* folder, DWORD* index) {
    if (folder == nullptr || index == nullptr) {
        return 0;
    }
    std::string path = std::string(folder) + "/" + kIndexFileName;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        trace(5, "CEventFile::evGetLstIdx() Failed!!! CreateFile(%s, GENERIC_READ) failed!!! GLE=%ld",
              path.c_str(), long(errno));
        return 0;
    }
    BYTE bytes[4];
    bool ok = preadAll(fd, bytes, sizeof bytes, 0);
    ::close(fd);
    if (!ok) {
        trace(5, "CEventFile::evGetLstIdx() Failed!!! ReadFile(%s) failed, dwGLE=%ld", path.c_str(),
              long(errno));
        return 0;
    }
    *index = DWORD(bytes[0]) | DWORD(bytes[1]) << 8 | DWORD(bytes[2]) << 16 | DWORD(bytes[3]) << 24;
    return 1;
}

int CEventFile::evUpdateLstIdx(const char* folder, DWORD index) {
    if (folder == nullptr || folder[0] == '\0') {
        return 0;
    }
    std::string path = std::string(folder) + "/" + kIndexFileName;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        trace(5, "CEventFile::evUpdateLstIdx() Failed!!! CreateFile(%s, GENERIC_WRITE) failed!!! "
                 "GLE=%ld",
              path.c_str(), long(errno));
        return 0;
    }
    BYTE bytes[4] = {BYTE(index), BYTE(index >> 8), BYTE(index >> 16), BYTE(index >> 24)};
    bool ok = pwriteAll(fd, bytes, sizeof bytes, 0);
    if (::close(fd) != 0) {
        ok = false;
    }
    if (!ok) {
        trace(5, "CEventFile::evUpdateLstIdx() Failed!!! WriteFile(%s) failed!!! GLE = %ld",
              path.c_str(), long(errno));
        return 0;
    }
    return 1;
}

int CEventFile::evGetLatestEventIndex(const char* station, const tagEventHeader* header,
                                      DWORD* index) {
    if (index == nullptr) {
        return 0;
    }
    *index = 0;
    char folder[MAX_PATH] = {};
    if (!evMakePathName(station, header, folder, sizeof folder)) {
        trace(5, "CEventFile::evGetLatestEventIndex Failed!!! evMakePathName() Failed");
        return 0;
    }
    trace(5, "CEventFile::evGetLatestEventIndex evMakePathName() Success: Path = %s", folder);
    if (evGetLstIdx(folder, index)) {
        trace(5, "CEventFile::evGetLatestEventIndex The last index is found in the %s = %ld",
              kIndexFileName, long(*index));
        return 1;
    }
    std::vector<FolderEntry> entries;
    listFolder(folder, &entries);
    bool any = false;
    timespec best{};
    for (const auto& e : entries) {
        DWORD number = 0;
        std::string path = std::string(folder) + "/" + e.name;
        if (!S_ISREG(e.st.st_mode) || !evIsEventFile(path.c_str()) ||
            !evGetEventIndexByFileName(path.c_str(), &number)) {
            continue;
        }
        const timespec& t = e.st.st_mtim;
        if (!any || t.tv_sec > best.tv_sec || (t.tv_sec == best.tv_sec && t.tv_nsec >= best.tv_nsec)) {
            best = t;
            *index = number;
            any = true;
        }
    }
    evUpdateLstIdx(folder, *index);
    return 1;
}

int CEventFile::evUpdateLatestEventIndex(const char* station, tagEventHeader header) {
    char folder[MAX_PATH] = {};
    if (!evMakePathName(station, &header, folder, sizeof folder)) {
        return 0;
    }
    return evUpdateLstIdx(folder, header.dwEventNumber);
}

int CEventFile::evIsEventFile(const char* path) {
    if (path == nullptr) {
        return 0;
    }
    std::string name = fileNameOf(path);
    auto dot = name.find_last_of('.');
    if (dot == std::string::npos) {
        return 0;
    }
    std::string ext = name.substr(dot);
    return ext.size() == 4 && (ext[1] | 0x20) == 't' && (ext[2] | 0x20) == 'r' &&
                   (ext[3] | 0x20) == 'g'
               ? 1
               : 0;
}

int CEventFile::evGetEventIndexByFileName(const char* path, DWORD* index) {
    if (path == nullptr || index == nullptr) {
        return 0;
    }
    std::string name = fileNameOf(path);
    auto dot = name.find_last_of('.');
    if (dot != std::string::npos) {
        name.resize(dot);
    }
    auto underscore = name.find('_');
    if (underscore == std::string::npos) {
        return 0;
    }
    std::uint64_t value = 0;
    for (std::size_t i = underscore + 1; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
        value = value * 10 + std::uint64_t(name[i] - '0');
        if (value > 0xFFFFFFFFu) {
            return 0;  // not a number a file of ours carries
        }
    }
    *index = DWORD(value);
    return 1;
}

int CEventFile::EraseDir(const char* folder) {
    if (folder == nullptr) {
        return 0;
    }
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    // Only a real folder named plainly is erased: never the root, never a path
    // that climbs out with "..", never through a link.
    if (path.empty() || path == "/" || path == "." || hasParentStep(path)) {
        trace(1, "CEventFile::EraseDir(%s) refused", folder);
        return 0;
    }
    int dirFd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0) {
        trace(5, "CEventFile::EraseDir(%s) cannot list the folder", folder);
        return 0;
    }
    eraseInside(dirFd, path);
    if (::rmdir(path.c_str()) != 0) {
        trace(5, "CEventFile::EraseDir(): RemoveDirectory(%s) failed err=%s", path.c_str(),
              zoGetLastError().c_str());
    }
    return 1;
}

namespace {

// The time of an event, to order events by: its header's end time (the start
// time of a file that was never closed; 0 when the header does not read), then
// the file's last write.
std::pair<std::uint64_t, std::uint64_t> eventTimeOf(const std::string& path,
                                                    const struct stat& st) {
    tagEventHeader h{};
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    bool ok = fd >= 0 && preadAll(fd, &h, sizeof h, 0) && headerChecksum(h) == h.dwChkSum &&
              magicIs(h.chMagic, "VHED");
    if (fd >= 0) {
        ::close(fd);
    }
    std::uint64_t headerTime = 0;
    if (ok) {
        headerTime = ticks(h.ftEndTime) != 0 ? ticks(h.ftEndTime) : ticks(h.ftStartTime);
    }
    std::uint64_t written = std::uint64_t(st.st_mtim.tv_sec) * 1000000000ULL +
                            std::uint64_t(st.st_mtim.tv_nsec);
    return {headerTime, written};
}

}  // namespace

int CEventFile::CopyAllEventsToFolder() {
    std::string pattern = fileNameOf(m_filePath);
    std::vector<FolderEntry> entries;
    if (m_folderPath[0] == '\0' || m_destFolder[0] == '\0' || !listFolder(m_folderPath, &entries)) {
        return 0;
    }
    std::vector<const FolderEntry*> events;
    for (const auto& e : entries) {
        if (S_ISREG(e.st.st_mode) && matchesPattern(e.name, pattern)) {
            events.push_back(&e);
        }
    }
    const int matched = int(events.size());
    // These kinds keep one file under a fixed name: it must be the newest event,
    // chosen by its time, since name order puts "Event_9" after "Event_10".
    const bool singleTarget =
        m_header.dwType == EVENT_TYPE_DOA || m_header.dwType == EVENT_TYPE_REMOTE_MANUAL;
    if (singleTarget && events.size() > 1) {
        auto newer = [&](const FolderEntry* a, const FolderEntry* b) {
            return eventTimeOf(std::string(m_folderPath) + "/" + a->name, a->st) <
                   eventTimeOf(std::string(m_folderPath) + "/" + b->name, b->st);
        };
        events = {*std::max_element(events.begin(), events.end(), newer)};
    }
    bool allCopied = true;
    for (const FolderEntry* entry : events) {
        const FolderEntry& e = *entry;
        std::string target = e.name;
        if (m_header.dwType == EVENT_TYPE_DOA) {
            target = "DOAEvent.trg";
        } else if (m_header.dwType == EVENT_TYPE_REMOTE_MANUAL) {
            target = "HDEvent.trg";
        }
        std::string from = std::string(m_folderPath) + "/" + e.name;
        std::string to = std::string(m_destFolder) + "/" + target;
        if (!copyFile(from.c_str(), to.c_str())) {
            trace(5, "CEventFile::CopyAllEventsToFolder() copying %s to %s failed", from.c_str(),
                  to.c_str());
            allCopied = false;
        }
    }
    if (!allCopied) {
        m_lastError = EVERR_MODE;
    }
    return matched > 0 && allCopied ? 1 : 0;
}

int CEventFile::HandleCopyToDataBaseMode(tagEventHeader* header, const char* sourcePath) {
    std::string source;
    tagEventHeader sourceHeader{};
    if (header != nullptr) {
        if (!MakeFileName(7, header, m_station, nullptr) || !OpenEventRead(&sourceHeader)) {
            closeFile();
            trace(5, "CEventFile::HandleCopyToDataBaseMode() Failed!!! Source file is not read");
            m_lastError = EVERR_MODE;
            return 0;
        }
        sourceHeader = m_header;
        closeFile();
        source = m_filePath;
    } else {
        if (sourcePath == nullptr || sourcePath[0] == '\0') {
            m_lastError = EVERR_MODE;
            return 0;
        }
        source = sourcePath;
        CEventFile reader(8, const_cast<char*>(sourcePath), nullptr, m_station, nullptr);
        WORD code = 0;
        reader.GetLastError(&code);
        if (code != 0) {
            trace(5, "CEventFile::HandleCopyToDataBaseMode() Failed!!! Source file is not read");
            m_lastError = EVERR_MODE;
            return 0;
        }
        reader.GetEventHeader(&sourceHeader);
    }

    tagEventHeader dest = sourceHeader;
    switch (dest.dwType) {
    case 1:
    case 8: dest.dwType = 1; break;
    case 2:
    case 16: dest.dwType = 2; break;
    default: break;
    }
    DWORD latest = 0;
    if (!evGetLatestEventIndex(m_station, &dest, &latest)) {
        trace(5, "CEventFile::HandleCopyToDataBaseMode() evGetLatestEventIndex Failed!!!");
        m_lastError = EVERR_NO_LATEST_INDEX;
        return 0;
    }
    dest.dwEventNumber = latest + 1;
    if (!MakeFileName(7, &dest, m_station, nullptr) || !MakePath(m_filePath)) {
        m_lastError = EVERR_MODE;
        return 0;
    }
    // An index file behind the folder's contents must not make the copy land on
    // an event that is there already.
    for (int tries = 0; tries < 1000; ++tries) {
        struct stat st {};
        if (::lstat(m_filePath, &st) != 0) {
            break;
        }
        ++dest.dwEventNumber;
        formatText(m_filePath, sizeof m_filePath, "%s/Event_%u.trg", m_folderPath,
                   unsigned(dest.dwEventNumber));
    }
    evUpdateLstIdx(m_folderPath, dest.dwEventNumber);
    if (source == m_filePath || !copyFile(source.c_str(), m_filePath)) {
        trace(5, "CEventFile::HandleCopyToDataBaseMode() Failed!!! CopyFile() failed");
        m_lastError = EVERR_MODE;
        return 0;
    }
    dest.dwChkSum = headerChecksum(dest);
    int fd = ::open(m_filePath, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    bool written = fd >= 0 && pwriteAll(fd, &dest, sizeof dest, 0);
    if (fd >= 0 && ::close(fd) != 0) {
        written = false;
    }
    if (!written) {
        trace(5, "CEventFile::HandleCopyToDataBaseMode() Failed!!! writing the header failed");
        ::unlink(m_filePath);
        m_lastError = EVERR_MODE;
        return 0;
    }
    m_header = dest;
    m_lastDestHeader = dest;
    UpdateEventFileTime();
    trace(5, "CEventFile::evGetLatestEventIndex exit");
    return 1;
}

int CEventFile::evMakeFileForDispatch(const tagEventHeader* header, const char* station, char* out) {
    if (header == nullptr) {
        return 0;
    }
    tagEventHeader copy = *header;
    if (!MakeFileName(7, &copy, station, out)) {
        trace(5, "CEventFile::evMakeFileForDispatch() Failed!!! MakeFileName() failed");
        return 0;
    }
    int fd = ::open(m_filePath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        trace(5, "CEventFile::evMakeFileForDispatch Failed!!! Open the file failed reason=%s",
              zoGetFileExceptionError(platform::fileCauseFromErrno(errno)).c_str());
        return 0;
    }
    tagEventHeader onDisk{};
    bool ok = preadAll(fd, &onDisk, sizeof onDisk, 0);
    ::close(fd);
    if (!ok) {
        trace(5, "CEventFile::evMakeFileForDispatch Failed!!! Read event header failed");
        return 0;
    }
    if (evCompareTime(onDisk.ftStartTime, header->ftStartTime) != 0) {
        trace(5, "CEventFile::evMakeFileForDispatch Failed!!! The event file times not equal");
        return 0;
    }
    return 1;
}

int CEventFile::evGetLastDestinationHeader(tagEventHeader* out) {
    if (out == nullptr) {
        return 0;
    }
    *out = m_lastDestHeader;
    return 1;
}
