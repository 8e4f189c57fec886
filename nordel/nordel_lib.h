#pragma once
// NordelLib: the stations manager's class, interface, records and enumerations,
// shared by the server and its clients (the engine library, the site book).

#include "platform/com/oleauto.h"
#include "platform/types.h"

#include <cstddef>

// {700BA259-FEBE-4A49-9B3B-BDD01FF9828A}
inline constexpr CLSID CLSID_ZoStationsMgr = {0x700BA259, 0xFEBE, 0x4A49, {0x9B, 0x3B, 0xBD, 0xD0, 0x1F, 0xF9, 0x82, 0x8A}};
// {B423CD3E-6D70-423B-AEAB-50E395124BB1}
inline constexpr IID IID_IZoStationsMgr = {0xB423CD3E, 0x6D70, 0x423B, {0xAE, 0xAB, 0x50, 0xE3, 0x95, 0x12, 0x4B, 0xB1}};
// {9B1FBE47-542D-48F4-9B00-9CA1451E8D9B}
inline constexpr IID DIID__IZoStationsMgrEvents = {0x9B1FBE47, 0x542D, 0x48F4, {0x9B, 0x00, 0x9C, 0xA1, 0x45, 0x1E, 0x8D, 0x9B}};
// {28D2E6D2-400B-4D36-9A1E-217D70548D6C}
inline constexpr GUID LIBID_NordelLib = {0x28D2E6D2, 0x400B, 0x4D36, {0x9A, 0x1E, 0x21, 0x7D, 0x70, 0x54, 0x8D, 0x6C}};

inline constexpr DWORD kZoStationRecordVersion = 10;
inline constexpr int kZoMaxAdapters = 6;
inline constexpr int kZoMaxCameras = 16;

#pragma pack(push, 1)

struct ZoAdapterRecord {
    char name[260];
    DWORD cameraNum;  // 0 to 16
    char cameraNames[kZoMaxCameras][260];
};
static_assert(sizeof(ZoAdapterRecord) == 4424);

// One station's record; crosses the interface as a caller-owned block.
struct ZoStationRecord {
    DWORD version;  // must be 10
    char name[260];
    char phone[260];
    char stationId[260];  // the UUID text that names the station's ini file
    char details[260];
    char storage[260];    // root of the station's event folders
    LONG group;
    LONG subGroup;
    BYTE reserved[520];   // carried through Get/SetStationInfo, never stored
    DWORD adapterNum;     // 0 to 6
    ZoAdapterRecord adapters[kZoMaxAdapters];
};
static_assert(sizeof(ZoStationRecord) == 28380);
static_assert(offsetof(ZoStationRecord, stationId) == 524);
static_assert(offsetof(ZoStationRecord, storage) == 1044);
static_assert(offsetof(ZoStationRecord, adapterNum) == 1832);
static_assert(offsetof(ZoStationRecord, adapters) == 1836);

// One event file as the event methods describe it.
struct ZoStationEventInfo {
    DWORD adapter;
    DWORD camera;
    DWORD streamType;  // tagZO_STREAM_TYPE
    DWORD eventType;   // tagZO_EVENT_TYPE
    FILETIME creationTime;
    FILETIME lastWriteTime;
    char fileName[260];
};
static_assert(sizeof(ZoStationEventInfo) == 292);

#pragma pack(pop)

// What a file search reports of one file (the members the stations manager fills:
// cFileName, ftCreationTime, ftLastWriteTime).
struct WIN32_FIND_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[260];
    char cAlternateFileName[14];
};

enum tag_ZO_SM_ERROR : LONG {
    ZO_SM_ERR_NOERROR = 0,
    ZO_SM_ERR_GENERAL = 1,
    ZO_SM_ERR_SI_VER_NOT_COMPATIBLE = 2,
    ZO_SM_ERR_STATION_NOT_EXIST = 3,
    ZO_SM_ERR_ILLEGAL_STREAM_TYPE = 4,
    ZO_SM_ERR_ILLEGAL_EVENT_TYPE = 5,
    ZO_SM_ERR_ILLEGAL_OPERATION = 6,
    ZO_SM_ERR_ENUM_STATION_NOT_STARTED = 7,
    ZO_SM_ERR_NO_EVENT_FILES_FOUND = 8,
    ZO_SM_NUM_OF_ERRORS = 9,
};

enum tagZO_STREAM_TYPE : LONG {
    ZOST_LIVE = 0,   // folder Movies
    ZOST_EVENT = 1,  // folder Triggers
};

enum tagZO_EVENT_TYPE : LONG {
    ZOET_MANUAL = 0,     // folder Manual_Trigger
    ZOET_AUTOMATIC = 1,  // folder Automatic_Trigger
};

// The stations manager (Nordel.ZoStationsMgr). Results are 0 for success and 1
// for failure unless said otherwise (1 is a success code to COM: compare with
// 0); GetLatestError gives the reason. Text outputs are caller buffers of 260
// characters; texts in are NUL-terminated.
struct IZoStationsMgr : IDispatch {
    static constexpr IID iid = IID_IZoStationsMgr;
    using Base = IDispatch;
    virtual HRESULT SetWorkingFolder(const char* chWorkFolder) = 0;                      // dispid 1
    virtual HRESULT GetWorkingFolder(char* chWorkFolder) = 0;                            // 2
    virtual HRESULT StartEnumStations() = 0;                                             // 3
    virtual HRESULT FinishEnumStations() = 0;                                            // 4
    virtual HRESULT NextStation() = 0;                                                   // 5
    virtual HRESULT FirstStation() = 0;                                                  // 11
    virtual HRESULT StartQueryStation(const char* chUUID) = 0;                           // 14
    virtual HRESULT GetLatestError(LONG* pErr) = 0;                                      // 31
    virtual HRESULT GetPathEvent(const char* chStorageWorkFolder, const char* chUUID, LONG zost, ULONG dwAdapter,
                                 ULONG dwCamera, LONG zoet, char* chPath) = 0;           // 34
    virtual HRESULT GetStationInfo(ZoStationRecord* lpStationInfo) = 0;                  // 36
    virtual HRESULT ReadStationInfo() = 0;                                               // 37
    virtual HRESULT SetStationInfo(const ZoStationRecord* lpStationInfo) = 0;            // 38
    virtual HRESULT WriteStationInfo() = 0;                                              // 39
    virtual HRESULT SetStorageWorkFolder(const char* chStorageWorkFolder) = 0;           // 40
    virtual HRESULT DeleteStation() = 0;                                                 // 41
    virtual HRESULT GetStorageWorkingFolder(char* chStorageWorkFolder) = 0;              // 42
    virtual HRESULT FindFirstEvent(const char* chUUID, ULONG dwFilter, ZoStationEventInfo* lpEventStruct) = 0;  // 43
    virtual HRESULT FindNext(ZoStationEventInfo* lpEventStruct) = 0;                     // 44
    virtual HRESULT GetEventInfo(const ZoStationEventInfo* lpInEventStruct,
                                 ZoStationEventInfo* lpOutEventStruct) = 0;              // 45
    virtual HRESULT GetNextGroup(char* chGroup) = 0;                                     // 46
    virtual HRESULT FindFirstGroup(const char* chUUID, char* chGroup) = 0;               // 47
    virtual HRESULT SetActiveStation(const char* szStationID) = 0;                       // 48
    virtual HRESULT QueryFirstEvent(ULONG dwFilter, WIN32_FIND_DATA* win32FindData) = 0; // 49
    virtual HRESULT QueryNextEvent(ULONG dwFilter, WIN32_FIND_DATA* win32FindData) = 0;  // 50
    virtual HRESULT GetEventFilePath(const char* szFileID, char* szFilePath) = 0;        // 51
    virtual HRESULT TranslateFileName(const char* chFileID, char* chFilePath) = 0;       // 52
    virtual HRESULT Get_NAStationStorage(const char* chUUID, char* szStoragePath) = 0;   // 53
    virtual HRESULT SetDefaultStorageWorkFolder(const char* chWorkFolder) = 0;           // 54
    virtual HRESULT SetStationsDBFolder(const char* chWorkFolder) = 0;                   // 55

protected:
    ~IZoStationsMgr() = default;
};
