#pragma once
// CZoStationsMgr: the stations manager object (Nordel.ZoStationsMgr).
//
// It keeps one ini file per known station in the stations folder, hands the
// current station's record to its clients, and answers where a station's event
// files lie, enumerating them and translating them to and from short file
// identifiers. A station id is a file name inside the stations folder and a
// folder name inside the storage tree: an id that could leave them (separators,
// "..", empty) is refused. An object is used on the thread that created it;
// failures return 1 (or E_FAIL where said) and keep the reason for
// GetLatestError. Nothing throws.

#include "common/kc_ini.h"
#include "nordel/nordel_lib.h"
#include "platform/com/com_object.h"
#include "platform/com/connection_point.h"
#include "platform/com/dispatch.h"

#include <array>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nordel {

// True when the text can name a station: not empty, at most 255 characters,
// no folder separator, no "..", no control character.
bool isSafeStationId(const char* id);
// True when the text can name a file inside a folder (the same rules).
bool isSafeFileName(std::string_view name);

// The event file identifier of an event ("T0112112") and its reading back.
std::string eventFileId(const ZoStationEventInfo& event);
// The indexes and the file name an identifier names (times left zero).
ZoStationEventInfo parseEventFileId(std::string_view id);

}  // namespace nordel

class CZoStationsMgr
    : public platform::com::ComObject<CZoStationsMgr, platform::com::DispatchImpl<CZoStationsMgr, IZoStationsMgr>,
                                      platform::com::ConnectionPointContainerImpl<CZoStationsMgr>> {
public:
    CZoStationsMgr();
    ~CZoStationsMgr() override;

    static std::span<const platform::com::DispatchMember<CZoStationsMgr>> dispatchMembers();
    std::span<platform::com::ConnectionPoint* const> connectionPoints() { return m_points; }

    HRESULT SetWorkingFolder(const char* chWorkFolder) override;
    HRESULT GetWorkingFolder(char* chWorkFolder) override;
    HRESULT StartEnumStations() override;
    HRESULT FinishEnumStations() override;
    HRESULT NextStation() override;
    HRESULT FirstStation() override;
    HRESULT StartQueryStation(const char* chUUID) override;
    HRESULT GetLatestError(LONG* pErr) override;
    HRESULT GetPathEvent(const char* chStorageWorkFolder, const char* chUUID, LONG zost, ULONG dwAdapter,
                         ULONG dwCamera, LONG zoet, char* chPath) override;
    HRESULT GetStationInfo(ZoStationRecord* lpStationInfo) override;
    HRESULT ReadStationInfo() override;
    HRESULT SetStationInfo(const ZoStationRecord* lpStationInfo) override;
    HRESULT WriteStationInfo() override;
    HRESULT SetStorageWorkFolder(const char* chStorageWorkFolder) override;
    HRESULT DeleteStation() override;
    HRESULT GetStorageWorkingFolder(char* chStorageWorkFolder) override;
    HRESULT FindFirstEvent(const char* chUUID, ULONG dwFilter, ZoStationEventInfo* lpEventStruct) override;
    HRESULT FindNext(ZoStationEventInfo* lpEventStruct) override;
    HRESULT GetEventInfo(const ZoStationEventInfo* lpInEventStruct, ZoStationEventInfo* lpOutEventStruct) override;
    HRESULT GetNextGroup(char* chGroup) override;
    HRESULT FindFirstGroup(const char* chUUID, char* chGroup) override;
    HRESULT SetActiveStation(const char* szStationID) override;
    HRESULT QueryFirstEvent(ULONG dwFilter, WIN32_FIND_DATA* win32FindData) override;
    HRESULT QueryNextEvent(ULONG dwFilter, WIN32_FIND_DATA* win32FindData) override;
    HRESULT GetEventFilePath(const char* szFileID, char* szFilePath) override;
    HRESULT TranslateFileName(const char* chFileID, char* chFilePath) override;
    HRESULT Get_NAStationStorage(const char* chUUID, char* szStoragePath) override;
    HRESULT SetDefaultStorageWorkFolder(const char* chWorkFolder) override;
    HRESULT SetStationsDBFolder(const char* chWorkFolder) override;

private:
    // Where the event enumeration stands.
    struct Cursor {
        DWORD stream = 0;
        DWORD adapter = 0;
        DWORD camera = 0;
        DWORD eventType = 0;
    };

    HRESULT failWith(LONG error);
    void resetRecord();
    // Makes the station of the found ini file current (name without folder).
    void loadStation(const std::string& fileName);
    bool buildEventPath(const char* storage, const char* uuid, LONG zost, ULONG adapter, ULONG camera, LONG zoet,
                        std::string& path);
    DWORD adapterCount() const;
    DWORD cameraCount(DWORD adapter) const;
    bool normalize(Cursor& cursor) const;
    // Searches folders from the cursor on until one holds an event file.
    HRESULT searchEvents(ZoStationEventInfo* event);
    void fillEvent(ZoStationEventInfo* event, const std::string& fileName, const std::string& path) const;

    LONG m_error = ZO_SM_ERR_NOERROR;
    std::string m_chStationsDBPath;
    std::string m_defaultStorage;
    std::string m_activeStation;
    ZoStationRecord m_record{};
    std::string m_iniPath;  // the file the ini object is bound to; empty when none
    bool m_emptyQuery = false;  // the last StartQueryStation named no station
    CKcIni m_ini;

    bool m_stationSearchOpen = false;  // m_hFind
    std::vector<std::string> m_stationFiles;
    std::size_t m_stationNext = 0;

    bool m_eventSearchOpen = false;
    Cursor m_cursor;
    std::vector<std::string> m_eventFiles;
    std::string m_eventFolder;
    std::size_t m_eventNext = 0;

    platform::com::ConnectionPoint m_events{*this, DIID__IZoStationsMgrEvents};
    std::array<platform::com::ConnectionPoint*, 1> m_points{&m_events};
};
