#pragma once
// Event files: the recording of one alarm or manual event of one camera (or quad
// view), an 86-byte event header followed by a chain of snapshots, each a 32-byte
// snapshot header and its data. The file may be written cyclically, the write
// position going back to just behind the header. Beside the per-file operations,
// CEventFile carries the event folder tree, the "LastEvnt.idx" index files, the
// event list files ("Events.hdr", "EventsRemote.hdr"), the folder scan and the
// date filter (most of them static).

#include "platform/message_window.h"
#include "platform/types.h"
#include "tavicore/tavicore_api.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

class CDBLumo;

#pragma pack(push, 1)

// The event header at file offset 0.
struct tagEventHeader {
    char chMagic[4];           // "VHED"
    WORD wState;               // 2 once the writer closed the file properly
    FILETIME ftStartTime;      // local time of the earliest surviving snapshot
    WORD wAdapter;
    WORD wCamera;
    DWORD dwType;              // event kind bit, flags above (0x20000: from a remote list)
    DWORD dwEventNumber;       // n of "Event_<n>.trg"; the quad number for the quad kind
    DWORD dwSnapShotNum;       // snapshots the file holds
    DWORD dwWidth;             // biWidth of the last snapshot added with a bitmap header
    DWORD dwHeight;            // biHeight of the same
    FILETIME ftEndTime;        // local time at which the writer closed the file
    DWORD dwLastIndex;         // index of the last snapshot written
    DWORD dwLastOffset;        // file offset of the last snapshot written
    DWORD dwEarliestOffset;    // file offset of the earliest surviving snapshot
    DWORD dwWrapOffset;        // the snapshot after which writing went back to 86
    DWORD dwEarliestIndex;     // index of the earliest surviving snapshot
    DWORD dwWrapIndex;         // index of the snapshot at the wrap offset
    DWORD dwWrapped;           // 1 once writing went back to 86
    DWORD dwPreAlarmFrames;    // index + 1 of the last "LPRE"/"NVID" snapshot
    DWORD dwPostAlarmFrames;   // set by the recorder only
    DWORD dwChkSum;            // byte sum of bytes 0..81
};
static_assert(sizeof(tagEventHeader) == 86);

// The header of one snapshot; its data follow it directly.
struct tagEventSnapshot {
    char chMagic[4];       // "LUMA", "LPRE" (pre-alarm) or "NVID" (no video)
    FILETIME ftTime;       // local time of the frame
    DWORD dwSize;          // data bytes after this header (bitmap header included)
    DWORD dwIndex;         // running index within the current cycle
    DWORD dwOrdinal;       // position from the earliest snapshot, filled in by readers
    DWORD dwPrevOffset;    // offset of the snapshot written just before this one
    DWORD dwChkSum;        // byte sum of bytes 0..27
};
static_assert(sizeof(tagEventSnapshot) == 32);

#pragma pack(pop)

inline constexpr DWORD kEventHeaderSize = sizeof(tagEventHeader);
inline constexpr DWORD kEventSnapshotHeaderSize = sizeof(tagEventSnapshot);

// Event kinds (the low 16 bits choose the folder).
inline constexpr DWORD EVENT_TYPE_AUTOMATIC = 1;
inline constexpr DWORD EVENT_TYPE_MANUAL = 2;
inline constexpr DWORD EVENT_TYPE_MOVIE = 4;
inline constexpr DWORD EVENT_TYPE_DOA = 8;
inline constexpr DWORD EVENT_TYPE_REMOTE_MANUAL = 16;
inline constexpr DWORD EVENT_TYPE_LAPSE_MANUAL = 32;
inline constexpr DWORD EVENT_TYPE_LAPSE_AUTOMATIC = 64;
inline constexpr DWORD EVENT_TYPE_MOVIE_256 = 256;
inline constexpr DWORD EVENT_TYPE_QUAD = 512;
inline constexpr DWORD EVENT_TYPE_FROM_REMOTE = 0x20000;

// Error codes kept by CEventFile and returned by GetLastError.
enum : WORD {
    EVERR_NONE = 0,
    EVERR_CREATE = 2,
    EVERR_OPEN_READ = 3,
    EVERR_WRITE_SNAPSHOT = 4,
    EVERR_READ_HEADER = 5,
    EVERR_HEADER_CHKSUM = 6,
    EVERR_SNAPSHOT_HEADER = 7,
    EVERR_SNAPSHOT_DATA = 8,
    EVERR_WRITE_HEADER = 9,
    EVERR_MODE = 10,
    EVERR_ERASE = 11,
    EVERR_NO_HEADER = 13,
    EVERR_LOAD_STOPPED = 14,
    EVERR_DISK_FULL = 15,
    EVERR_MAKE_PATH = 19,
    EVERR_NO_LATEST_INDEX = 20,
};

// Messages of the folder scan: to the progress window (range, step, position)
// and to the notified window when the scan is done.
inline constexpr UINT EVMSG_PROGRESS_SETRANGE = 0x8001;
inline constexpr UINT EVMSG_PROGRESS_SETSTEP = 0x8002;
inline constexpr UINT EVMSG_PROGRESS_SETPOS = 0x8003;
inline constexpr UINT EVMSG_LIST_LOADED = 0x803A;

// One node of an in-memory header list; nodes are allocated one by one and owned
// by their list.
struct tagEventHeaderNode {
    tagEventHeader header;
    tagEventHeaderNode* pNext;
    tagEventHeaderNode* pPrev;
};

struct tagEventHeaderList {
    tagEventHeaderNode* pHead;
    tagEventHeaderNode* pTail;
    DWORD dwCount;
};

// The record of one camera's event lists. Its first 552 bytes are the head of a
// list file (and of the list a station sends), byte for byte; in a file the head
// is followed by 24 bytes where the list anchors lay, which mean nothing there.
// In memory the anchors hold real pointers, so the record is larger than the
// 576 bytes it has on disk: convert with evListRecordFromBytes/evListRecordToBytes.
struct tagEventDirListCamera {
    DWORD dwLoaded;            // 0..3: the caller's
    DWORD dwEventCount;        // 4: local events found by the last folder scan
    DWORD dwCallerData;        // 8..11: the caller's
    DWORD dwType;              // 12: event kind of the folder
    WORD wAdapter;             // 16
    WORD wCamera;              // 18
    char szStation[256];       // 20: station name, empty for the local station
    char szListFile[260];      // 276: path of the local list file
    BYTE bCallerData[16];      // 536..551: the caller's
    tagEventHeaderList localList;   // events found in the folder
    tagEventHeaderList remoteList;  // events received from a remote station
};
inline constexpr std::size_t kEventDirListHeadBytes = 552;
inline constexpr std::size_t kEventDirListRecordSize = 576;
static_assert(offsetof(tagEventDirListCamera, szListFile) == 276);
static_assert(offsetof(tagEventDirListCamera, localList) == kEventDirListHeadBytes);

// Handle of a window that receives posted messages (0: none).
using EventWindowHandle = platform::HWND;

// The stop signal of a folder scan: set by the caller (or by closing the scan).
using EventStopFlag = std::atomic<bool>;

class CEventFile;

struct tagParamsForLoadThread {
    CEventFile* pThis;
    tagEventDirListCamera* pList;
    EventWindowHandle hProgress;
    char szStation[MAX_PATH];
    EventStopFlag* pStop;
    EventWindowHandle hNotify;
    int nSaveList;
};

// One event file (or one folder operation) at a time. An object is used by one
// thread at a time and takes no lock; a folder scan started on its own thread
// touches only the camera record it was given until it posts EVMSG_LIST_LOADED.
// Failures leave a code for GetLastError (and a trace); nothing is thrown.
class TAVICORE_API CEventFile {
public:
    CEventFile();
    CEventFile(WORD mode, tagEventHeader* target, tagEventHeader* source, const char* station);
    CEventFile(WORD mode, tagEventHeader* header, char* fileName, const char* station);
    CEventFile(WORD mode, char* fileName, tagEventHeader* header, const char* station, CDBLumo* db);
    // The operation on the events of one camera list: its kind, adapter and
    // camera make the header (operation 4 erases them all). A null station
    // takes the list's own.
    CEventFile(WORD mode, tagEventDirListCamera* list, char* path, const char* station);
    // Without a header or list (modes 9 and 10 by file name).
    CEventFile(WORD mode, std::nullptr_t, char* fileName, const char* station)
        : CEventFile(mode, static_cast<tagEventHeader*>(nullptr), fileName, station) {}
    CEventFile(tagEventDirListCamera* list, EventWindowHandle progress, const char* station,
               EventStopFlag* stopEvent, int inThread, EventWindowHandle notify, int saveList);
    virtual ~CEventFile();

    CEventFile(const CEventFile&) = delete;
    CEventFile& operator=(const CEventFile&) = delete;

    // Per-file operations (1 for success, 0 for failure).
    virtual int ReadEventHeader(tagEventHeader* out);
    virtual int OpenEventWrite(tagEventHeader* header);
    virtual int OpenEventWrite();
    virtual int OpenEventRead(tagEventHeader* out);
    virtual int OpenEventErase();
    virtual int CopyAllEventsToFolder();
    virtual int GetLastError(WORD* code);
    virtual int AddSnapShot(tagEventSnapshot* snapshot, BITMAPINFOHEADER* bitmap, BYTE* data,
                            int wrapAfter);
    virtual int evReadEventHeaderAndSeekToEarliestFrame(tagEventHeader* out);
    virtual DWORD CalculateChkSum(const BYTE* bytes, DWORD length);
    virtual int ReadSnapShotHeader(tagEventSnapshot* out);
    virtual int ReadSnapShotData(BYTE* buffer, DWORD length, int forward);
    virtual int GetEventHeader(tagEventHeader* out);
    virtual int OpenEventEraseAll();
    virtual int MakeFileName(WORD mode, tagEventHeader* header, const char* station, char* out);
    virtual int CloseEvent(WORD mode);
    virtual int HandleMode(WORD mode, tagEventHeader* header, char* path);
    virtual int MakePath(const char* filePath);
    virtual int evGetFileName(char* out, DWORD size);

    WORD GetEventSize();
    int EventExist();
    int EditEventFile();
    DWORD evGetCurrentSnapshotIndex();
    DWORD evGetCurrentSnapshotIndexFromEarliest();
    int evSeekToEarliestSnapshot();
    int evSeekToPreviousFrame(tagEventSnapshot* out);
    int evUpdateEarliestSnapshot();
    int UpdateEventFileTime();
    static int evSetFileTime(const char* path, const FILETIME* creation, const FILETIME* access,
                             const FILETIME* lastWrite);
    static void ZoGetTime(FILETIME* out);
    DWORD evGetNumOfPreAlarmFrames();
    DWORD evGetMaxNumOfPostAlarmFrames();
    void evSetNumOfPostAlarmFrames(DWORD frames);
    WORD evGetLastAction();
    void InitializeMembers();
    static std::string zoGetFileExceptionError(int cause, char* buffer = nullptr, DWORD size = 0);
    static std::string zoGetLastError(char* buffer = nullptr);

    // Folder tree, names and index files.
    static int getWorkDirForEvents(char* out, const char* station);
    static int getWorkDirForEvents(char* out);
    static int ReadWorkDirForEvents(char* out);
    int WriteWorkDirForEvents(const char* dir);
    static int setWorkDirForEvents(const char* dir);
    static int evMakePathName(const char* station, const tagEventHeader* header, char* out,
                              DWORD size);
    static int evGetLstIdx(const char* folder, DWORD* index);
    static int evUpdateLstIdx(const char* folder, DWORD index);
    static int evGetLatestEventIndex(const char* station, const tagEventHeader* header,
                                     DWORD* index);
    static int evUpdateLatestEventIndex(const char* station, tagEventHeader header);
    static int evIsEventFile(const char* path);
    static int evGetEventIndexByFileName(const char* path, DWORD* index);
    static int EraseDir(const char* folder);

    // In-memory header lists.
    static int evAddToTail(tagEventHeaderList* list, tagEventHeaderNode* node);
    static int evRemove(tagEventHeaderList* list, tagEventHeaderNode* node);
    static int evFind(tagEventHeaderList* list, tagEventHeaderNode* node,
                      tagEventHeaderNode** found);
    static int evFree(tagEventHeaderList* list);
    static int evCompareTime(FILETIME a, FILETIME b);

    // Folder scan.
    int evFillEventDirList(tagEventDirListCamera* list, EventWindowHandle progress,
                           const char* station, EventStopFlag* stopEvent, int inThread,
                           EventWindowHandle notify, int saveList);
    int evLoadEvents(tagEventDirListCamera* list, EventWindowHandle progress, const char* station,
                     EventStopFlag* stopEvent, EventWindowHandle notify, int saveList);
    int evCreateLoadThread(tagParamsForLoadThread* params);
    int evCloseLoadThread();
    int evTerminateEventListCameraLoad();

    // List files.
    static int evAddHdrsToHdrFile(tagEventDirListCamera* list, const char* path, int local);
    static int evSaveRemoteListToFile(tagEventDirListCamera* list);
    int evLoadEventsHeadersFromFile(tagEventDirListCamera* list);
    int evCopyEventListHeaderFileToDataBase(const char* path, tagEventDirListCamera* list);
    // The 576 bytes of a list head as it lies in a file or travels to a station.
    static void evListRecordToBytes(const tagEventDirListCamera* list,
                                    BYTE out[kEventDirListRecordSize]);
    // Takes the head fields from those bytes; the caller's list anchors stay.
    static void evListRecordFromBytes(const BYTE in[kEventDirListRecordSize],
                                      tagEventDirListCamera* list);

    // Date filter.
    int evFilterSet();
    int evFilterRead(const char* valueName, SYSTEMTIME& out);
    int evFilter(const tagEventHeader* header);
    void evFindearliest(const tagEventHeader& header);
    int evWriteEarliest();

    // Copying, moving and sending.
    int HandleCopyToDataBaseMode(tagEventHeader* header, const char* sourcePath);
    int evMakeFileForDispatch(const tagEventHeader* header, const char* station, char* out);
    int evGetLastDestinationHeader(tagEventHeader* out);
    int evGetLastFileName(char* out, DWORD size);

    // Old files whose times were stored as seconds since 1970.
    int evEventHeaderTimeConvert(tagEventHeader* header, short direction);
    int evEventFileHeaderListTimeConvert(const char* path, short direction);
    int evEventFileTimeConvert(const char* source, const char* target, short direction);

protected:
    void evCloseEventForWriteMode(WORD mode);

private:
    void evHandleEvents(WORD mode, tagEventHeader* header, char* fileName, const char* station);
    void closeFile();
    void closeAndErase(const char* why);
    bool refreshFileSize();
    bool readAt(std::uint64_t offset, void* out, std::size_t bytes);
    bool readSnapshotHeaderAt(std::uint64_t offset, tagEventSnapshot* out);
    bool headerLooksConsistent() const;
    void recoverHeaderFromSnapshots();
    bool recoverCycleBeforePending();
    bool findEarliestAfter(DWORD lastOffset, DWORD wrapOffset, DWORD wrapIndex,
                           DWORD* earliestOffset, tagEventSnapshot* earliest);
    bool findEarliestFrom(std::uint64_t start, DWORD wrapOffset, DWORD wrapIndex,
                          DWORD* earliestOffset, tagEventSnapshot* earliest);
    std::uint64_t forwardNext(std::uint64_t current, const tagEventSnapshot& snap) const;
    void loadThreadMain();
    int loadRemoteHeaders(tagEventDirListCamera* list, const char* folder);
    void setStationName(const char* station);

    tagEventSnapshot m_snapshot{};
    tagEventHeader m_header{};
    int m_fd = -1;
    int m_openCause = 0;  // why the last open failed (a file-exception cause)
    char m_filePath[MAX_PATH]{};
    char m_folderPath[MAX_PATH]{};
    char m_destFolder[MAX_PATH]{};
    char m_station[MAX_PATH]{};
    DWORD m_lastError = 0;
    WORD m_mode = 0;
    WORD m_readState = 0;
    EventStopFlag* m_stopEvent = nullptr;
    DWORD m_wrapIndex = 0;
    DWORD m_earliestIndex = 0;
    DWORD m_prevOffset = 0;
    DWORD m_currentOffset = 0;
    WORD m_lastAction = 0;
    struct LoadThread;
    std::unique_ptr<LoadThread> m_loadThread;
    tagParamsForLoadThread m_params{};
    tagEventHeader m_lastDestHeader{};
    FILETIME m_filterFrom{};
    FILETIME m_filterTo{};
    DWORD m_filterType = 0;
    SYSTEMTIME m_earliestDate{};
    DWORD m_written = 0;
    std::uint64_t m_filePos = 0;   // the file position of the open file
    std::uint64_t m_fileSize = 0;  // its length when last looked at
    bool m_readOnly = false;
};

// Where event folders live when no stations manager is in the process (and in
// tests): every station's work folder is this folder. Empty to use the stations
// manager again.
TAVICORE_API void evSetEventsStorageRoot(const char* folder);
