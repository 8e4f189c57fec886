// Event lists: the in-memory header lists, the list files "Events.hdr" and
// "EventsRemote.hdr", and the folder scan (at once or on its own thread).

#include "tavicore/event_file.h"

#include "tavicore/event_file_internal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace eventfile;

namespace {

constexpr const char* kLocalListName = "Events.hdr";
constexpr const char* kRemoteListName = "EventsRemote.hdr";

// The station name of a camera record, which may have come from another
// station: false when it is not terminated inside its field.
bool recordStation(const tagEventDirListCamera* list, char (&out)[MAX_PATH]) {
    std::size_t n = ::strnlen(list->szStation, sizeof list->szStation);
    if (n == sizeof list->szStation) {
        return false;
    }
    std::memcpy(out, list->szStation, n);
    out[n] = '\0';
    return true;
}

tagEventHeader keyHeader(const tagEventDirListCamera* list) {
    tagEventHeader h{};
    h.dwType = list->dwType;
    h.wAdapter = list->wAdapter;
    h.wCamera = list->wCamera;
    return h;
}

// The folder of a camera record's events, its station and numbers checked.
bool recordFolder(const tagEventDirListCamera* list, char (&folder)[MAX_PATH]) {
    char station[MAX_PATH] = {};
    if (!recordStation(list, station)) {
        trace(1, "CEventFile: camera list station name is not terminated");
        return false;
    }
    tagEventHeader key = keyHeader(list);
    return CEventFile::evMakePathName(station, &key, folder, sizeof folder) != 0;
}

bool makeFolders(const std::string& folder) {
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at == folder.size() || folder[at] == '/') {
            std::string level = folder.substr(0, at);
            if (::mkdir(level.c_str(), 0755) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void post(EventWindowHandle window, UINT msg, WPARAM w, LPARAM l) {
    if (window != 0) {
        // Posted, never sent: the window may be waiting for this very scan.
        platform::PostMessage(window, msg, w, l);
    }
}

}  // namespace

// --- header lists ---------------------------------------------------------------

int CEventFile::evCompareTime(FILETIME a, FILETIME b) {
    std::uint64_t x = ticks(a);
    std::uint64_t y = ticks(b);
    return x < y ? -1 : (x == y ? 0 : 1);
}

int CEventFile::evAddToTail(tagEventHeaderList* list, tagEventHeaderNode* node) {
    if (list == nullptr || node == nullptr) {
        return 0;
    }
    node->pNext = nullptr;
    node->pPrev = list->pTail;
    if (list->pTail == nullptr) {
        list->pHead = list->pTail = node;
        list->dwCount = 1;
    } else {
        list->pTail->pNext = node;
        list->pTail = node;
        ++list->dwCount;
    }
    return 1;
}

int CEventFile::evFind(tagEventHeaderList* list, tagEventHeaderNode* node,
                       tagEventHeaderNode** found) {
    if (list == nullptr || node == nullptr) {
        return 0;
    }
    for (tagEventHeaderNode* n = list->pHead; n != nullptr; n = n->pNext) {
        if (evCompareTime(n->header.ftStartTime, node->header.ftStartTime) == 0) {
            if (found != nullptr) {
                *found = n;
            }
            return 1;
        }
    }
    return 0;
}

int CEventFile::evRemove(tagEventHeaderList* list, tagEventHeaderNode* node) {
    tagEventHeaderNode* hit = nullptr;
    if (!evFind(list, node, &hit)) {
        return 0;
    }
    if (hit->pPrev != nullptr) {
        hit->pPrev->pNext = hit->pNext;
    } else {
        list->pHead = hit->pNext;
    }
    if (hit->pNext != nullptr) {
        hit->pNext->pPrev = hit->pPrev;
    } else {
        list->pTail = hit->pPrev;
    }
    if (list->dwCount > 0) {
        --list->dwCount;
    }
    delete hit;
    return 1;
}

int CEventFile::evFree(tagEventHeaderList* list) {
    if (list == nullptr) {
        return 0;
    }
    tagEventHeaderNode* n = list->pHead;
    while (n != nullptr) {
        tagEventHeaderNode* next = n->pNext;
        delete n;
        n = next;
    }
    list->pHead = list->pTail = nullptr;
    list->dwCount = 0;
    return 1;
}

// --- list records and files -----------------------------------------------------

void CEventFile::evListRecordToBytes(const tagEventDirListCamera* list,
                                     BYTE out[kEventDirListRecordSize]) {
    std::memcpy(out, list, kEventDirListHeadBytes);
    std::memset(out + kEventDirListHeadBytes, 0, kEventDirListRecordSize - kEventDirListHeadBytes);
}

void CEventFile::evListRecordFromBytes(const BYTE in[kEventDirListRecordSize],
                                       tagEventDirListCamera* list) {
    std::memcpy(list, in, kEventDirListHeadBytes);
}

int CEventFile::evAddHdrsToHdrFile(tagEventDirListCamera* list, const char* path, int local) {
    if (list == nullptr || path == nullptr || path[0] == '\0') {
        return 0;
    }
    const tagEventHeaderList& headers = local ? list->localList : list->remoteList;
    if (headers.pHead == nullptr) {
        struct stat st {};
        if (::lstat(path, &st) == 0 && !S_ISDIR(st.st_mode)) {
            ::unlink(path);
        }
        return 1;
    }
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        trace(5, "evAddHdrsToHdrFile()  chdrfile.Open failed reason=%s",
              zoGetFileExceptionError(platform::fileCauseFromErrno(errno)).c_str());
        list->szListFile[0] = '\0';
        return 0;
    }
    std::vector<BYTE> bytes(kEventDirListRecordSize);
    evListRecordToBytes(list, bytes.data());
    for (const tagEventHeaderNode* n = headers.pHead; n != nullptr; n = n->pNext) {
        const auto* h = reinterpret_cast<const BYTE*>(&n->header);
        bytes.insert(bytes.end(), h, h + sizeof n->header);
    }
    bool ok = pwriteAll(fd, bytes.data(), bytes.size(), 0);
    if (::close(fd) != 0) {
        ok = false;
    }
    if (!ok) {
        trace(5, "evAddHdrsToHdrFile() writing %s failed: %s", path, std::strerror(errno));
        list->szListFile[0] = '\0';
        return 0;
    }
    return 1;
}

int CEventFile::evSaveRemoteListToFile(tagEventDirListCamera* list) {
    char folder[MAX_PATH] = {};
    if (list == nullptr || !recordFolder(list, folder)) {
        trace(5, "CEventFile::evLoadEventsHeadersFromFile() Failed!!!");
        return 0;
    }
    char path[MAX_PATH] = {};
    if (!formatText(path, sizeof path, "%s/%s", folder, kRemoteListName) || !makeFolders(folder)) {
        return 0;
    }
    return evAddHdrsToHdrFile(list, path, 0);
}

int CEventFile::evLoadEventsHeadersFromFile(tagEventDirListCamera* list) {
    if (list == nullptr) {
        trace(1, "CEventFile::evLoadEventsHeadersFromFile peventDirListCamera is NULL");
        return 0;
    }
    char folder[MAX_PATH] = {};
    if (!recordFolder(list, folder)) {
        trace(5, "CEventFile::evLoadEventsHeadersFromFile() Failed!!!");
        return 0;
    }
    return loadRemoteHeaders(list, folder);
}

int CEventFile::loadRemoteHeaders(tagEventDirListCamera* list, const char* folder) {
    char path[MAX_PATH] = {};
    if (!formatText(path, sizeof path, "%s/%s", folder, kRemoteListName)) {
        trace(5, "CEventFile::evLoadEventsHeadersFromFile() Failed!!!");
        return 0;
    }
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        trace(5, "CEventFile::evLoadEventsHeadersFromFile() Failed!!!! Read File %s", path);
        return 0;
    }
    BYTE head[kEventDirListRecordSize];
    if (!preadAll(fd, head, sizeof head, 0)) {
        trace(5, "CEventFile::evLoadEventsHeadersFromFile() Failed!!!! Read File %s", path);
        ::close(fd);
        return 0;
    }
    evFree(&list->remoteList);
    std::uint64_t offset = sizeof head;
    for (;;) {
        tagEventHeader h{};
        if (!preadAll(fd, &h, sizeof h, offset)) {
            trace(5, "CEventFile::evLoadEventsHeadersFromFile() Failed!!!! Read Event Header "
                     "dwType = %lx wAdapter=%ld wCamera=%ld",
                  static_cast<unsigned long>(list->dwType), long(list->wAdapter),
                  long(list->wCamera));
            break;
        }
        offset += sizeof h;
        if (headerChecksum(h) != h.dwChkSum) {
            trace(5, "CEventFile::evLoadEventsHeadersFromFile() ChkSum failed!!!! Read Event Header "
                     "failed on ChkSum dwType = %lx wAdapter=%ld wCamera=%ld",
                  static_cast<unsigned long>(h.dwType), long(h.wAdapter), long(h.wCamera));
            continue;
        }
        h.dwType |= EVENT_TYPE_FROM_REMOTE;
        h.dwChkSum = headerChecksum(h);
        auto* node = new tagEventHeaderNode{h, nullptr, nullptr};
        if (evFind(&list->localList, node, nullptr)) {
            trace(5, "evLoadEventsHeadersFromFile() Cant add the event to list - found on local");
            delete node;
            continue;
        }
        evAddToTail(&list->remoteList, node);
    }
    ::close(fd);
    return 1;
}

int CEventFile::evCopyEventListHeaderFileToDataBase(const char* path, tagEventDirListCamera* list) {
    if (path == nullptr || list == nullptr) {
        return 0;
    }
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        trace(5, "CEventFile::evCopyEventListHeaderFileToDataBaseFile() Failed!!!! Read File %s "
                 "failed reason=%s",
              path, zoGetFileExceptionError(platform::fileCauseFromErrno(errno)).c_str());
        return 0;
    }
    BYTE head[kEventDirListRecordSize];
    bool ok = preadAll(fd, head, sizeof head, 0);
    ::close(fd);
    if (!ok) {
        trace(5, "CEventFile::evCopyEventListHeaderFileToDataBaseFile() Failed!!!! Read File %s "
                 "reason=Empty",
              path);
        return 0;
    }
    // Everything in the received head is checked before it names a folder or
    // replaces the caller's record.
    tagEventDirListCamera received{};
    evListRecordFromBytes(head, &received);
    if (received.szStation[0] == '\0') {
        std::memcpy(received.szStation, list->szStation, sizeof received.szStation);
    }
    char folder[MAX_PATH] = {};
    if (!recordFolder(&received, folder)) {
        trace(5, "evCopyEventListHeaderFileToDataBase evMakePathName() Failed!!!!");
        return 0;
    }
    std::memcpy(static_cast<void*>(list), &received, kEventDirListHeadBytes);
    trace(5, "CEventFile::evCopyEventListHeaderFileToDataBase the path to copy to...%s", folder);
    char target[MAX_PATH] = {};
    if (!formatText(target, sizeof target, "%s/%s", folder, kRemoteListName)) {
        return 0;
    }
    if (!makeFolders(folder)) {
        trace(5, "CEventFile::evCopyEventListHeaderFileToDataBase() Failed!!! MakePath(%s) "
                 "Failed!!!",
              target);
        return 0;
    }
    if (std::string(path) != target && !copyFile(path, target)) {
        trace(5, "CEventFile::evCopyEventListHeaderFileToDataBase() Failed!!! the path to copy to "
                 "is...%s",
              target);
        return 0;
    }
    trace(5, "CEventFile::evCopyEventListHeaderFileToDataBase() success. The path to copy to "
             "is...%s",
          target);
    return 1;
}

// --- folder scan ----------------------------------------------------------------

CEventFile::CEventFile(tagEventDirListCamera* list, EventWindowHandle progress,
                       const char* station, EventStopFlag* stopEvent, int inThread,
                       EventWindowHandle notify, int saveList) {
    InitializeMembers();
    evFillEventDirList(list, progress, station, stopEvent, inThread, notify, saveList);
}

int CEventFile::evFillEventDirList(tagEventDirListCamera* list, EventWindowHandle progress,
                                   const char* station, EventStopFlag* stopEvent, int inThread,
                                   EventWindowHandle notify, int saveList) {
    SYSTEMTIME earliest{};
    if (evFilterRead("First Event Date", earliest)) {
        m_earliestDate = earliest;
    }
    if (!inThread) {
        return evLoadEvents(list, progress, station, stopEvent, notify, saveList);
    }
    if (list != nullptr) {
        tagEventHeader key = keyHeader(list);
        if (!MakeFileName(5, &key, station, nullptr)) {
            m_folderPath[0] = '\0';
        }
    }
    m_params = tagParamsForLoadThread{};
    m_params.pThis = this;
    m_params.pList = list;
    m_params.hProgress = progress;
    copyText(m_params.szStation, sizeof m_params.szStation, station != nullptr ? station : "");
    m_params.pStop = stopEvent;
    m_params.hNotify = notify;
    m_params.nSaveList = saveList;
    return evCreateLoadThread(&m_params);
}

int CEventFile::evCreateLoadThread(tagParamsForLoadThread* params) {
    if (m_loadThread != nullptr || params == nullptr) {
        return 0;
    }
    if (params != &m_params) {
        m_params = *params;
    }
    m_loadThread = std::make_unique<LoadThread>();
    try {
        m_loadThread->thread = std::thread([this] { loadThreadMain(); });
    } catch (...) {
        m_loadThread.reset();
        return 0;
    }
    return 1;
}

void CEventFile::loadThreadMain() {
    evLoadEvents(m_params.pList, m_params.hProgress, m_params.szStation, m_params.pStop,
                 m_params.hNotify, m_params.nSaveList);
    m_loadThread->done = true;
}

int CEventFile::evCloseLoadThread() {
    if (m_loadThread == nullptr) {
        return 1;
    }
    if (!m_loadThread->done) {
        m_loadThread->stop = true;
        if (m_params.pStop != nullptr) {
            *m_params.pStop = true;
        }
        trace(5, "CEventFile::evCloseLoadThread() waiting for ManageThread termination...");
    }
    if (m_loadThread->thread.joinable()) {
        m_loadThread->thread.join();
    }
    trace(5, "CEventFile::evCloseLoadThread() LoadThread terminated...");
    m_loadThread.reset();
    return 1;
}

int CEventFile::evTerminateEventListCameraLoad() { return evCloseLoadThread(); }

int CEventFile::evLoadEvents(tagEventDirListCamera* list, EventWindowHandle progress,
                             const char* station, EventStopFlag* stopEvent,
                             EventWindowHandle notify, int saveList) {
    trace(5, "ENTER %s", "CEventFile::evLoadEvents()");
    m_stopEvent = stopEvent;
    int result = 0;
    auto stopRequested = [&] {
        return (stopEvent != nullptr && stopEvent->load()) ||
               (m_loadThread != nullptr && m_loadThread->stop.load());
    };
    tagEventHeader key = list != nullptr ? keyHeader(list) : tagEventHeader{};
    // On the scan thread the names were made by the caller's thread already:
    // the stations directory belongs to that thread.
    bool named = m_loadThread != nullptr ? m_folderPath[0] != '\0'
                                         : MakeFileName(5, &key, station, nullptr) != 0;
    if (list != nullptr && named) {
        post(progress, EVMSG_PROGRESS_SETRANGE, 0, 20);
        post(progress, EVMSG_PROGRESS_SETSTEP, 1, 0);
        evFree(&list->localList);
        trace(5, "CEventFile::evLoadEvents m_chFileName =%s ", m_filePath);
        result = 1;

        std::string folder = m_folderPath;
        std::string pattern = fileNameOf(m_filePath);
        std::vector<std::string> names;
        if (DIR* dir = ::opendir(folder.c_str())) {
            while (dirent* entry = ::readdir(dir)) {
                if (entry->d_name[0] != '.' && matchesPattern(entry->d_name, pattern)) {
                    names.emplace_back(entry->d_name);
                }
            }
            ::closedir(dir);
        }
        std::sort(names.begin(), names.end());
        if (names.empty()) {
            trace(5, "CEventFile::evLoadEvents File not found");
        }
        DWORD count = 0;
        int position = 0;
        auto lastStep = std::chrono::steady_clock::now();
        for (const auto& name : names) {
            if (stopRequested()) {
                trace(5, "Finish the loading....");
                m_lastError = EVERR_LOAD_STOPPED;
                result = 0;
                break;
            }
            std::string path = folder + "/" + name;
            int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            if (fd < 0) {
                continue;
            }
            struct stat st {};
            tagEventHeader onDisk{};
            bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
            bool haveHeader = regular && preadAll(fd, &onDisk, sizeof onDisk, 0) &&
                              headerChecksum(onDisk) == onDisk.dwChkSum;
            ::close(fd);
            if (!regular) {
                continue;
            }
            auto* node = new tagEventHeaderNode{key, nullptr, nullptr};
            std::memcpy(node->header.chMagic, "VHED", 4);
            // The file system keeps the end in the last-write time; the start
            // comes from the event's own header.
            FILETIME end = fileTime(utcToLocalTicks(st.st_mtim.tv_sec, st.st_mtim.tv_nsec));
            node->header.ftEndTime = end;
            node->header.ftStartTime = haveHeader ? onDisk.ftStartTime : end;
            DWORD number = 0;
            evGetEventIndexByFileName(path.c_str(), &number);
            node->header.dwEventNumber = number;
            // A list leaves this station as a file of headers whose checksums the
            // receiver checks.
            node->header.dwChkSum = headerChecksum(node->header);
            evFindearliest(node->header);
            evAddToTail(&list->localList, node);
            ++count;
            auto now = std::chrono::steady_clock::now();
            if (progress != 0 && now - lastStep >= std::chrono::milliseconds(1000)) {
                position = (position + 1) % 20;
                post(progress, EVMSG_PROGRESS_SETPOS, WPARAM(position), 0);
                lastStep = now;
                std::this_thread::yield();
            }
        }
        list->dwEventCount = count;
        evWriteEarliest();
        loadRemoteHeaders(list, folder.c_str());
        if (saveList) {
            if (formatText(list->szListFile, sizeof list->szListFile, "%s/%s", folder.c_str(),
                           kLocalListName)) {
                evAddHdrsToHdrFile(list, list->szListFile, 1);
            }
        }
    } else if (m_lastError == 0) {
        m_lastError = EVERR_OPEN_READ;
    }
    // The notified window waits for this message before it touches the record,
    // so it comes whatever the scan found.
    post(notify, EVMSG_LIST_LOADED, 0, 0);
    trace(5, "LEAVE %s", "CEventFile::evLoadEvents()");
    return result;
}
