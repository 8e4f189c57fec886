#include "nordel/stations_mgr.h"

#include "common/fixed_text.h"
#include "common/lumo_deb.h"
#include "nordel/event_header.h"
#include "platform/folders.h"
#include "platform/last_error.h"
#include "platform/time_convert.h"
#include "platform/com/guarded.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <strings.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kText = 260;

// Copies at most 259 characters and always terminates: a caller's buffer of
// 260 characters is never overrun.
void copyOut(char* out, std::string_view text) { fixed_text::Write(out, kText, text); }

// A fixed text field of a record, which may lack its terminator.
std::string fieldText(const char* field) { return fixed_text::Read(field, kText); }

void setField(char* field, std::string_view text) { copyOut(field, text); }

// A folder text as given (either separator) in the local form.
std::string localPath(std::string_view text) {
    std::string path(text);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string joined(std::string_view folder, std::string_view name) {
    std::string path = localPath(folder);
    if (path.empty()) {
        return std::string(name);
    }
    if (path.back() != '/') {
        path += '/';
    }
    path += name;
    return path;
}

bool hasExtension(const std::string& name, const char* extension) {
    std::size_t n = std::strlen(extension);
    return name.size() > n && ::strcasecmp(name.c_str() + name.size() - n, extension) == 0;
}

// The regular files of a folder whose names end with the extension, sorted.
bool listFiles(const std::string& folder, const char* extension, std::vector<std::string>& names) {
    names.clear();
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) {
        platform::setLastErrorFromErrno(error.value());
        return false;
    }
    for (const auto& entry : it) {
        std::string name = entry.path().filename().string();
        if (entry.is_regular_file(error) && hasExtension(name, extension)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return true;
}

FILETIME fileTimeOf(std::int64_t seconds, std::int64_t nanoseconds) {
    std::int64_t ticks = (seconds + 11644473600LL) * 10000000LL + nanoseconds / 100;
    return platform::fileTimeFrom(ULONGLONG(std::max<std::int64_t>(ticks, 0)));
}

std::string lastErrorText() { return platform::systemMessage(platform::GetLastError()); }

}  // namespace

namespace nordel {

bool isSafeFileName(std::string_view name) {
    if (name.empty() || name.size() > 255 || name == "." || name.find("..") != std::string_view::npos) {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](char c) {
        return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
    });
}

bool isSafeStationId(const char* id) {
    if (!id) {
        return false;
    }
    std::size_t n = strnlen(id, 256);
    return n < 256 && isSafeFileName(std::string_view(id, n));
}

std::string eventFileId(const ZoStationEventInfo& event) {
    std::string name = fieldText(event.fileName);
    std::string number;
    if (std::size_t underscore = name.find('_'); underscore != std::string::npos) {
        std::size_t dot = name.find('.', underscore + 1);
        number = name.substr(underscore + 1, dot == std::string::npos ? std::string::npos : dot - underscore - 1);
    }
    char head[64];
    std::snprintf(head, sizeof head, "%s%.2d%d%d%d", event.eventType == 1 && event.streamType == 1 ? "T" : "L",
                  int(event.camera + 1), int(event.eventType), int(event.adapter), int(event.streamType));
    std::string id = head + number;
    for (char& c : id) {
        c = char(std::toupper(static_cast<unsigned char>(c)));
    }
    return id;
}

ZoStationEventInfo parseEventFileId(std::string_view given) {
    std::string id(given.substr(0, std::min<std::size_t>(given.size(), kText)));
    for (char& c : id) {
        c = char(std::toupper(static_cast<unsigned char>(c)));
    }
    auto digits = [&](std::size_t from, std::size_t count) {
        return from < id.size() ? std::atoi(id.substr(from, count).c_str()) : 0;
    };
    ZoStationEventInfo event{};
    event.camera = DWORD(digits(1, 2) - 1);
    event.eventType = DWORD(digits(3, 1));
    event.adapter = DWORD(digits(4, 1));
    event.streamType = DWORD(digits(5, 1));
    std::string number = id.size() > 6 ? id.substr(6, 6) : std::string();
    bool named = !id.empty() && (id[0] == 'T' || id[0] == 'L');
    copyOut(event.fileName, (named ? "Event_" : "") + number + ".trg");
    return event;
}

}  // namespace nordel

CZoStationsMgr::CZoStationsMgr() {
    LUMO_TRACE(3, "ENTER %s", "CZoStationsMgr::CZoStationsMgr()");
    // The program folder stands for the process's current directory.
    const std::string current = platform::programFolder().string();
    m_chStationsDBPath = joined(current, "StationsDB").substr(0, kText - 1);
    m_defaultStorage = current.substr(0, kText - 1);
    resetRecord();
    LUMO_TRACE(3, "LEAVE %s", "CZoStationsMgr::CZoStationsMgr()");
}

CZoStationsMgr::~CZoStationsMgr() {
    LUMO_TRACE(3, "ENTER %s", "CZoStationsMgr::~CZoStationsMgr()");
    m_events.unadviseAll();
    LUMO_TRACE(3, "LEAVE %s", "CZoStationsMgr::~CZoStationsMgr()");
}

std::span<const platform::com::DispatchMember<CZoStationsMgr>> CZoStationsMgr::dispatchMembers() {
    // Methods that fill a caller's text buffer are reached through the
    // interface only (see platform/com/dispatch.h).
    using platform::com::dispatchMethod;
    static const platform::com::DispatchMember<CZoStationsMgr> table[] = {
        {"SetWorkingFolder", 1, &dispatchMethod<&CZoStationsMgr::SetWorkingFolder>},
        {"StartEnumStations", 3, &dispatchMethod<&CZoStationsMgr::StartEnumStations>},
        {"FinishEnumStations", 4, &dispatchMethod<&CZoStationsMgr::FinishEnumStations>},
        {"NextStation", 5, &dispatchMethod<&CZoStationsMgr::NextStation>},
        {"FirstStation", 11, &dispatchMethod<&CZoStationsMgr::FirstStation>},
        {"StartQueryStation", 14, &dispatchMethod<&CZoStationsMgr::StartQueryStation>},
        {"GetLatestError", 31, &dispatchMethod<&CZoStationsMgr::GetLatestError>},
        {"GetStationInfo", 36, &dispatchMethod<&CZoStationsMgr::GetStationInfo>},
        {"ReadStationInfo", 37, &dispatchMethod<&CZoStationsMgr::ReadStationInfo>},
        {"SetStationInfo", 38, &dispatchMethod<&CZoStationsMgr::SetStationInfo>},
        {"WriteStationInfo", 39, &dispatchMethod<&CZoStationsMgr::WriteStationInfo>},
        {"SetStorageWorkFolder", 40, &dispatchMethod<&CZoStationsMgr::SetStorageWorkFolder>},
        {"DeleteStation", 41, &dispatchMethod<&CZoStationsMgr::DeleteStation>},
        {"FindFirstEvent", 43, &dispatchMethod<&CZoStationsMgr::FindFirstEvent>},
        {"FindNext", 44, &dispatchMethod<&CZoStationsMgr::FindNext>},
        {"GetEventInfo", 45, &dispatchMethod<&CZoStationsMgr::GetEventInfo>},
        {"SetActiveStation", 48, &dispatchMethod<&CZoStationsMgr::SetActiveStation>},
        {"QueryFirstEvent", 49, &dispatchMethod<&CZoStationsMgr::QueryFirstEvent>},
        {"QueryNextEvent", 50, &dispatchMethod<&CZoStationsMgr::QueryNextEvent>},
        {"SetDefaultStorageWorkFolder", 54, &dispatchMethod<&CZoStationsMgr::SetDefaultStorageWorkFolder>},
        {"SetStationsDBFolder", 55, &dispatchMethod<&CZoStationsMgr::SetStationsDBFolder>},
    };
    return table;
}

HRESULT CZoStationsMgr::failWith(LONG error) {
    m_error = error;
    return S_FALSE;  // 1: failure to the clients, who compare with 0
}

void CZoStationsMgr::resetRecord() {
    std::memset(&m_record, 0, sizeof m_record);
    m_record.version = kZoStationRecordVersion;
    setField(m_record.storage, std::string_view(m_defaultStorage).substr(0, 4));
}

DWORD CZoStationsMgr::adapterCount() const { return std::min<DWORD>(m_record.adapterNum, kZoMaxAdapters); }

DWORD CZoStationsMgr::cameraCount(DWORD adapter) const {
    return adapter < adapterCount() ? std::min<DWORD>(m_record.adapters[adapter].cameraNum, kZoMaxCameras) : 0;
}

HRESULT CZoStationsMgr::SetWorkingFolder(const char* chWorkFolder) try {
    m_error = ZO_SM_ERR_NOERROR;
    m_chStationsDBPath = joined(chWorkFolder ? chWorkFolder : "", "StationsDB").substr(0, kText - 1);
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::SetWorkingFolder");
}

HRESULT CZoStationsMgr::GetWorkingFolder(char* chWorkFolder) try {
    m_error = ZO_SM_ERR_NOERROR;
    if (!chWorkFolder) {
        return E_POINTER;
    }
    copyOut(chWorkFolder, m_chStationsDBPath);
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::GetWorkingFolder");
}

HRESULT CZoStationsMgr::StartEnumStations() try {
    m_error = ZO_SM_ERR_NOERROR;
    return FirstStation();
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::StartEnumStations");
}

HRESULT CZoStationsMgr::FinishEnumStations() try {
    m_error = ZO_SM_ERR_NOERROR;
    m_stationSearchOpen = false;
    m_stationFiles.clear();
    m_stationNext = 0;
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::FinishEnumStations");
}

void CZoStationsMgr::loadStation(const std::string& fileName) {
    m_emptyQuery = false;
    const std::string path = joined(m_chStationsDBPath, fileName);
    LUMO_TRACE(5, "InitStation() Based on INI file (%s) \n", path.c_str());
    resetRecord();
    setField(m_record.stationId, fileName.substr(0, fileName.find('.')));
    m_iniPath = path;
    m_ini.Open(m_iniPath.c_str(), "General");
    ReadStationInfo();
}

HRESULT CZoStationsMgr::FirstStation() try {
    m_error = ZO_SM_ERR_NOERROR;
    FinishEnumStations();
    std::vector<std::string> files;
    bool listed = listFiles(m_chStationsDBPath, ".ini", files);
    // A file whose name is no station id (".ini", "..ini") is no station.
    std::erase_if(files, [](const std::string& name) {
        return !nordel::isSafeStationId(name.substr(0, name.find('.')).c_str());
    });
    if (!listed || files.empty()) {
        if (listed) platform::SetLastError(ERROR_FILE_NOT_FOUND);
        LUMO_TRACE(5, "zoFindFirstFile() Failed!!! FindFirstFile() Failed m_chStationsDBPath = %s GLE=%s\n",
                   m_chStationsDBPath.c_str(), lastErrorText().c_str());
        return failWith(ZO_SM_ERR_STATION_NOT_EXIST);
    }
    m_stationFiles = std::move(files);
    m_stationSearchOpen = true;
    m_stationNext = 1;
    loadStation(m_stationFiles.front());
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::FirstStation");
}

HRESULT CZoStationsMgr::NextStation() try {
    if (!m_stationSearchOpen) {
        LUMO_TRACE(5, "NextStation() Failed!!! m_hFind = INVALID_HANDLE_VALUE\n");
        return failWith(ZO_SM_ERR_ENUM_STATION_NOT_STARTED);
    }
    // Files removed since the search began are passed over.
    while (m_stationNext < m_stationFiles.size()) {
        const std::string& name = m_stationFiles[m_stationNext++];
        std::error_code error;
        if (fs::is_regular_file(joined(m_chStationsDBPath, name), error)) {
            loadStation(name);
            return S_OK;
        }
    }
    platform::SetLastError(ERROR_NO_MORE_ITEMS);
    LUMO_TRACE(5, "NextStation() Failed!!! FindNextFile() Failed GLE=%s\n", lastErrorText().c_str());
    return failWith(ZO_SM_ERR_STATION_NOT_EXIST);
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::NextStation");
}

HRESULT CZoStationsMgr::StartQueryStation(const char* chUUID) try {
    if (!chUUID || !*chUUID) {
        // No station is named: the current one stays, but a delete that
        // follows must not take it for the station that was asked for.
        m_emptyQuery = true;
        return S_FALSE;
    }
    m_emptyQuery = false;
    if (!nordel::isSafeStationId(chUUID)) {
        LUMO_TRACE(1, "[E] StartQueryStation() refused station id \"%.64s\"\n", chUUID);
        return failWith(ZO_SM_ERR_GENERAL);
    }
    m_error = ZO_SM_ERR_NOERROR;
    FinishEnumStations();
    const std::string fileName = std::string(chUUID) + ".ini";
    std::error_code error;
    if (fs::is_regular_file(joined(m_chStationsDBPath, fileName), error)) {
        loadStation(fileName);
        return S_OK;
    }
    platform::SetLastError(ERROR_FILE_NOT_FOUND);
    LUMO_TRACE(5, "zoFindFirstFile() Failed!!! FindFirstFile() Failed m_chStationsDBPath = %s GLE=%s\n",
               m_chStationsDBPath.c_str(), lastErrorText().c_str());
    LUMO_TRACE(5, "StartQueryStation() Failed!!! zoFindFirstFile(%s) Failed...Create new file \n", chUUID);
    resetRecord();
    setField(m_record.stationId, chUUID);
    m_iniPath = joined(m_chStationsDBPath, fileName);
    m_ini.Open(m_iniPath.c_str(), "General");
    ReadStationInfo();
    return failWith(ZO_SM_ERR_STATION_NOT_EXIST);
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::StartQueryStation");
}

HRESULT CZoStationsMgr::GetLatestError(LONG* pErr) try {
    if (!pErr) {
        return E_POINTER;
    }
    *pErr = m_error;
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::GetLatestError");
}

bool CZoStationsMgr::buildEventPath(const char* storage, const char* uuid, LONG zost, ULONG adapter, ULONG camera,
                                    LONG zoet, std::string& path) {
    m_error = ZO_SM_ERR_NOERROR;
    if (zost != ZOST_LIVE && zost != ZOST_EVENT) {
        LUMO_TRACE(5, "GetPathEvent Failed!!! zost = %ld Illegal!!! \n", long(zost));
        m_error = ZO_SM_ERR_ILLEGAL_STREAM_TYPE;
        return false;
    }
    if (zoet != ZOET_MANUAL && zoet != ZOET_AUTOMATIC) {
        LUMO_TRACE(5, "GetPathEvent Failed!!! zoet = %ld Illegal!!! \n", long(zoet));
        m_error = ZO_SM_ERR_ILLEGAL_EVENT_TYPE;
        return false;
    }
    if (!nordel::isSafeStationId(uuid)) {
        LUMO_TRACE(1, "[E] GetPathEvent() refused station id\n");
        m_error = ZO_SM_ERR_GENERAL;
        return false;
    }
    char tail[200];
    std::snprintf(tail, sizeof tail, "%s/Adapter_%lu/Camera_%lu/%s", zost == ZOST_EVENT ? "Triggers" : "Movies",
                  static_cast<unsigned long>(adapter), static_cast<unsigned long>(camera),
                  zoet == ZOET_AUTOMATIC ? "Automatic_Trigger" : "Manual_Trigger");
    path = joined(joined(joined(storage ? storage : "", "TriggersMoviesDB"), uuid), tail).substr(0, kText - 1);
    LUMO_TRACE(5, "GetPathEvent() path = %s \n", path.c_str());
    return true;
}

HRESULT CZoStationsMgr::GetPathEvent(const char* chStorageWorkFolder, const char* chUUID, LONG zost, ULONG dwAdapter,
                                     ULONG dwCamera, LONG zoet, char* chPath) try {
    std::string path;
    if (!buildEventPath(chStorageWorkFolder, chUUID, zost, dwAdapter, dwCamera, zoet, path)) {
        return S_FALSE;
    }
    if (chPath) {
        copyOut(chPath, path);
    }
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::GetPathEvent");
}

HRESULT CZoStationsMgr::GetStationInfo(ZoStationRecord* lpStationInfo) try {
    m_error = ZO_SM_ERR_NOERROR;
    if (!lpStationInfo) {
        return failWith(ZO_SM_ERR_GENERAL);
    }
    if (lpStationInfo->version != kZoStationRecordVersion) {
        LUMO_TRACE(5, "GetStationInfo() Failed!!!  [in]ver = %ld ver = %ld \n", long(lpStationInfo->version),
                   long(kZoStationRecordVersion));
        return failWith(ZO_SM_ERR_SI_VER_NOT_COMPATIBLE);
    }
    std::memcpy(lpStationInfo, &m_record, sizeof m_record);
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::GetStationInfo");
}

HRESULT CZoStationsMgr::SetStationInfo(const ZoStationRecord* lpStationInfo) try {
    m_error = ZO_SM_ERR_NOERROR;
    if (!lpStationInfo) {
        return failWith(ZO_SM_ERR_GENERAL);
    }
    if (lpStationInfo->version != kZoStationRecordVersion) {
        LUMO_TRACE(5, "SetStationInfo() Failed!!!  [in]ver = %ld ver = %ld \n", long(lpStationInfo->version),
                   long(kZoStationRecordVersion));
        return failWith(ZO_SM_ERR_SI_VER_NOT_COMPATIBLE);
    }
    // The record keeps its station: a caller cannot move it to another one.
    char keep[kText];
    std::memcpy(keep, m_record.stationId, kText);
    std::memcpy(&m_record, lpStationInfo, sizeof m_record);
    std::memcpy(m_record.stationId, keep, kText);
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::SetStationInfo");
}

HRESULT CZoStationsMgr::ReadStationInfo() try {
    if (m_iniPath.empty()) {
        return S_OK;  // no station is bound: the record keeps what it has
    }
    char text[kText];
    int value = 0;
    m_ini.SetSection("General");
    // Counts from the file are kept to what the record holds.
    m_ini.GetInt("AdapterNum", &value, kZoMaxAdapters);
    m_record.adapterNum = DWORD(std::clamp(value, 0, kZoMaxAdapters));
    m_ini.GetInt("Group", &value, 0);
    m_record.group = value;
    m_ini.GetInt("SubGroup", &value, 0);
    m_record.subGroup = value;
    m_ini.GetString("Phone", text, sizeof text, "");
    setField(m_record.phone, text);
    m_ini.GetString("Details", text, sizeof text, "");
    setField(m_record.details, text);
    m_ini.GetString("Name", text, sizeof text, "");
    setField(m_record.name, text);
    m_ini.GetString("Storage", text, sizeof text, m_defaultStorage.c_str());
    setField(m_record.storage, text);
    for (DWORD a = 0; a < m_record.adapterNum; ++a) {
        ZoAdapterRecord& adapter = m_record.adapters[a];
        const std::string section = "Adapter_" + std::to_string(a);
        m_ini.SetSection(section.c_str());
        m_ini.GetString("Name", text, sizeof text, "");
        setField(adapter.name, text);
        m_ini.GetInt("CameraNum", &value, kZoMaxCameras);
        adapter.cameraNum = DWORD(std::clamp(value, 0, kZoMaxCameras));
        for (DWORD c = 0; c < adapter.cameraNum; ++c) {
            const std::string camera = "Camera_" + std::to_string(a) + "_" + std::to_string(c);
            m_ini.SetSection(camera.c_str());
            m_ini.GetString("Name", text, sizeof text, "");
            setField(adapter.cameraNames[c], text);
        }
    }
    m_ini.SetSection("General");
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::ReadStationInfo");
}

HRESULT CZoStationsMgr::WriteStationInfo() try {
    m_error = ZO_SM_ERR_NOERROR;
    if (m_iniPath.empty()) {
        return failWith(ZO_SM_ERR_STATION_NOT_EXIST);  // nothing to write to
    }
    bool ok = true;
    m_ini.SetSection("General");
    const DWORD adapters = adapterCount();
    ok &= m_ini.WriteInt("AdapterNum", int(adapters)) != 0;
    ok &= m_ini.WriteInt("Group", m_record.group) != 0;
    ok &= m_ini.WriteInt("SubGroup", m_record.subGroup) != 0;
    ok &= m_ini.WriteString("Phone", fieldText(m_record.phone).c_str()) != 0;
    ok &= m_ini.WriteString("Details", fieldText(m_record.details).c_str()) != 0;
    ok &= m_ini.WriteString("Name", fieldText(m_record.name).c_str()) != 0;
    ok &= m_ini.WriteString("Storage", fieldText(m_record.storage).c_str()) != 0;
    for (DWORD a = 0; a < adapters; ++a) {
        const ZoAdapterRecord& adapter = m_record.adapters[a];
        const std::string section = "Adapter_" + std::to_string(a);
        m_ini.SetSection(section.c_str());
        ok &= m_ini.WriteString("Name", fieldText(adapter.name).c_str()) != 0;
        const DWORD cameras = cameraCount(a);
        ok &= m_ini.WriteInt("CameraNum", int(cameras)) != 0;
        for (DWORD c = 0; c < cameras; ++c) {
            const std::string camera = "Camera_" + std::to_string(a) + "_" + std::to_string(c);
            m_ini.SetSection(camera.c_str());
            ok &= m_ini.WriteString("Name", fieldText(adapter.cameraNames[c]).c_str()) != 0;
        }
    }
    m_ini.SetSection("General");
    // A text the file cannot hold (a line break) or a file that cannot be
    // written is reported, not passed over.
    return ok ? S_OK : failWith(ZO_SM_ERR_GENERAL);
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::WriteStationInfo");
}

HRESULT CZoStationsMgr::SetStorageWorkFolder(const char* chStorageWorkFolder) try {
    setField(m_record.storage, chStorageWorkFolder ? chStorageWorkFolder : "");
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::SetStorageWorkFolder");
}

HRESULT CZoStationsMgr::DeleteStation() try {
    // Only the file of a real station is deleted: with no station bound, or a
    // record without a station id, nothing is touched.
    if (m_emptyQuery || m_iniPath.empty() || !nordel::isSafeStationId(fieldText(m_record.stationId).c_str())) {
        return failWith(ZO_SM_ERR_STATION_NOT_EXIST);
    }
    std::error_code error;
    fs::remove(m_iniPath, error);
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::DeleteStation");
}

HRESULT CZoStationsMgr::GetStorageWorkingFolder(char* chStorageWorkFolder) try {
    if (!chStorageWorkFolder) {
        return E_POINTER;
    }
    copyOut(chStorageWorkFolder, fieldText(m_record.storage));
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::GetStorageWorkingFolder");
}

bool CZoStationsMgr::normalize(Cursor& c) const {
    for (;;) {
        if (c.stream > 1) {
            return false;
        }
        if (c.adapter >= adapterCount()) {
            c = Cursor{c.stream + 1, 0, 0, 0};
        } else if (c.camera >= cameraCount(c.adapter)) {
            c = Cursor{c.stream, c.adapter + 1, 0, 0};
        } else if (c.eventType > 1) {
            c = Cursor{c.stream, c.adapter, c.camera + 1, 0};
        } else {
            return true;
        }
    }
}

void CZoStationsMgr::fillEvent(ZoStationEventInfo* event, const std::string& fileName, const std::string& path) const {
    event->adapter = m_cursor.adapter;
    event->camera = m_cursor.camera;
    event->streamType = m_cursor.stream;
    event->eventType = m_cursor.eventType;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        event->lastWriteTime = fileTimeOf(info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
        // A file's creation time cannot be set on every file system (a copied or
        // restored event file gets a new one), so the event's start comes from the
        // file's own header; a file that is not an event file, or whose header is
        // damaged, reports its last write.
        auto start = nordel::eventStartTime(path);
        event->creationTime = start ? *start : event->lastWriteTime;
    } else {
        event->creationTime = FILETIME{0, 0};
        event->lastWriteTime = FILETIME{0, 0};
    }
    copyOut(event->fileName, fileName);
}

HRESULT CZoStationsMgr::searchEvents(ZoStationEventInfo* event) {
    const std::string storage = fieldText(m_record.storage);
    const std::string station = fieldText(m_record.stationId);
    for (bool valid = normalize(m_cursor); valid; ++m_cursor.eventType, valid = normalize(m_cursor)) {
        std::string folder;
        if (!buildEventPath(storage.c_str(), station.c_str(), LONG(m_cursor.stream), m_cursor.adapter,
                            m_cursor.camera, LONG(m_cursor.eventType), folder)) {
            continue;
        }
        // A missing folder or one without event files only moves the cursor on.
        if (listFiles(folder, ".trg", m_eventFiles) && !m_eventFiles.empty()) {
            m_eventSearchOpen = true;
            m_eventFolder = folder;
            m_eventNext = 1;
            fillEvent(event, m_eventFiles.front(), joined(folder, m_eventFiles.front()));
            m_error = ZO_SM_ERR_NOERROR;
            return S_OK;
        }
    }
    m_eventSearchOpen = false;
    m_eventFiles.clear();
    return failWith(ZO_SM_ERR_NO_EVENT_FILES_FOUND);
}

HRESULT CZoStationsMgr::FindFirstEvent(const char* chUUID, ULONG, ZoStationEventInfo* lpEventStruct) try {
    if (StartQueryStation(chUUID) != S_OK) {
        return S_FALSE;
    }
    if (!lpEventStruct) {
        return failWith(ZO_SM_ERR_GENERAL);
    }
    m_cursor = Cursor{};
    m_eventSearchOpen = false;
    m_eventFiles.clear();
    return searchEvents(lpEventStruct);
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::FindFirstEvent");
}

HRESULT CZoStationsMgr::FindNext(ZoStationEventInfo* lpEventStruct) try {
    if (!m_eventSearchOpen) {
        return S_OK;  // no search: the argument is left as it was
    }
    if (!lpEventStruct) {
        return failWith(ZO_SM_ERR_GENERAL);
    }
    while (m_eventNext < m_eventFiles.size()) {
        const std::string& name = m_eventFiles[m_eventNext++];
        std::string path = joined(m_eventFolder, name);
        std::error_code error;
        if (fs::is_regular_file(path, error)) {
            fillEvent(lpEventStruct, name, path);
            return S_OK;
        }
    }
    m_eventSearchOpen = false;
    ++m_cursor.eventType;
    return searchEvents(lpEventStruct);
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::FindNext");
}

HRESULT CZoStationsMgr::GetEventInfo(const ZoStationEventInfo* lpInEventStruct, ZoStationEventInfo* lpOutEventStruct) try {
    if (!lpInEventStruct || !lpOutEventStruct) {
        return failWith(ZO_SM_ERR_GENERAL);
    }
    std::string folder;
    if (!buildEventPath(fieldText(m_record.storage).c_str(), fieldText(m_record.stationId).c_str(),
                        LONG(lpInEventStruct->streamType), lpInEventStruct->adapter, lpInEventStruct->camera,
                        LONG(lpInEventStruct->eventType), folder)) {
        return S_FALSE;
    }
    const std::string name = fieldText(lpInEventStruct->fileName);
    if (!nordel::isSafeFileName(name)) {
        LUMO_TRACE(1, "[E] GetEventInfo() refused file name\n");
        return failWith(ZO_SM_ERR_GENERAL);
    }
    const std::string path = joined(folder, name);
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        platform::SetLastError(ERROR_FILE_NOT_FOUND);
        LUMO_TRACE(5, "GetEventInfo() Failed!!! FindFirstFile() Failed GLE=%s", lastErrorText().c_str());
        return failWith(ZO_SM_ERR_GENERAL);
    }
    const Cursor keep = m_cursor;
    m_cursor = Cursor{lpInEventStruct->streamType, lpInEventStruct->adapter, lpInEventStruct->camera,
                      lpInEventStruct->eventType};
    ZoStationEventInfo out{};
    fillEvent(&out, name, path);
    m_cursor = keep;
    *lpOutEventStruct = out;
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::GetEventInfo");
}

HRESULT CZoStationsMgr::GetNextGroup(char*) { return S_OK; }

HRESULT CZoStationsMgr::FindFirstGroup(const char*, char*) { return S_OK; }

HRESULT CZoStationsMgr::SetActiveStation(const char* szStationID) try {
    if (!szStationID || (*szStationID && !nordel::isSafeStationId(szStationID))) {
        return E_FAIL;
    }
    m_activeStation = std::string(szStationID).substr(0, kText - 1);
    StartQueryStation(szStationID);
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::GetNextGroup");
}

namespace {

void fillFindData(WIN32_FIND_DATA* out, const ZoStationEventInfo& event) {
    copyOut(out->cFileName, nordel::eventFileId(event));
    out->ftCreationTime = event.creationTime;
    out->ftLastWriteTime = event.lastWriteTime;
}

}  // namespace

HRESULT CZoStationsMgr::QueryFirstEvent(ULONG dwFilter, WIN32_FIND_DATA* win32FindData) try {
    ZoStationEventInfo event{};
    HRESULT hr = FindFirstEvent(fieldText(m_record.stationId).c_str(), dwFilter, &event);
    if (hr == S_OK && win32FindData) {
        fillFindData(win32FindData, event);
    }
    return hr;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::QueryFirstEvent");
}

HRESULT CZoStationsMgr::QueryNextEvent(ULONG, WIN32_FIND_DATA* win32FindData) try {
    ZoStationEventInfo event{};
    HRESULT hr = FindNext(&event);
    if (win32FindData) {
        fillFindData(win32FindData, event);
    }
    return hr;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::QueryNextEvent");
}

HRESULT CZoStationsMgr::TranslateFileName(const char* chFileID, char* chFilePath) try {
    if (!chFileID || !chFilePath) {
        return failWith(ZO_SM_ERR_GENERAL);
    }
    ZoStationEventInfo event = nordel::parseEventFileId(chFileID);
    // An identifier is text from a peer or a list: its number must not make a
    // file name that leaves the event folder.
    if (!nordel::isSafeFileName(fieldText(event.fileName))) {
        return failWith(ZO_SM_ERR_GENERAL);
    }
    copyOut(chFilePath, fieldText(event.fileName));
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::TranslateFileName");
}

HRESULT CZoStationsMgr::GetEventFilePath(const char* szFileID, char* szFilePath) try {
    if (!szFileID || !szFilePath) {
        return failWith(ZO_SM_ERR_GENERAL);
    }
    ZoStationEventInfo event = nordel::parseEventFileId(szFileID);
    const std::string name = fieldText(event.fileName);
    if (!nordel::isSafeFileName(name)) {
        return failWith(ZO_SM_ERR_GENERAL);
    }
    std::string folder;
    if (!buildEventPath(fieldText(m_record.storage).c_str(), fieldText(m_record.stationId).c_str(),
                        LONG(event.streamType), event.adapter, event.camera, LONG(event.eventType), folder)) {
        return S_FALSE;
    }
    copyOut(szFilePath, joined(folder, name));
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::GetEventFilePath");
}

HRESULT CZoStationsMgr::Get_NAStationStorage(const char* chUUID, char* szStoragePath) try {
    LUMO_TRACE(5, "ENTER %s", "Get_NAStationStorage()");
    struct Leave {
        ~Leave() { LUMO_TRACE(5, "LEAVE %s", "Get_NAStationStorage()"); }
    } leave;
    if (!chUUID || !*chUUID || !nordel::isSafeStationId(chUUID)) {
        LUMO_TRACE(1, "[E] No Station ID. EXIT");
        return E_FAIL;
    }
    if (!szStoragePath) {
        return E_POINTER;
    }
    const std::string path = joined(m_chStationsDBPath, std::string(chUUID) + ".ini");
    std::error_code error;
    std::string storage = m_defaultStorage;
    if (fs::is_regular_file(path, error)) {
        char text[kText];
        CKcIni other(path.c_str(), "General");
        other.GetString("Storage", text, sizeof text, m_defaultStorage.c_str());
        if (*text) {
            storage = text;
        }
    }
    copyOut(szStoragePath, storage);
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::Get_NAStationStorage");
}

HRESULT CZoStationsMgr::SetDefaultStorageWorkFolder(const char* chWorkFolder) try {
    m_defaultStorage = std::string(chWorkFolder ? chWorkFolder : "").substr(0, kText - 1);
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::SetDefaultStorageWorkFolder");
}

HRESULT CZoStationsMgr::SetStationsDBFolder(const char* chWorkFolder) try {
    std::string folder = chWorkFolder ? chWorkFolder : "";
    if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) {
        folder.pop_back();
    }
    m_chStationsDBPath = joined(folder, "StationsDB").substr(0, kText - 1);
    ::mkdir(m_chStationsDBPath.c_str(), 0755);  // only this folder: its parent must exist
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZoStationsMgr::SetStationsDBFolder");
}
