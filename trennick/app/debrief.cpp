#include "trennick/app/debrief.h"

#include "common/fixed_text.h"
#include "common/lumo_deb.h"
#include "trennick/link/event_requests.h"
#include "trennick/link/packet_connection.h"

#include <cstring>
#include <strings.h>

namespace trennick {

namespace {

// The kind flag of the opened kind that a requested kind must carry.
DWORD kindBit(DWORD opened) {
    switch (opened) {
    case 2: return 1u << 1;
    case 0x20: return 1u << 5;
    case 0x40: return 1u << 6;
    default: return 1u << 0;
    }
}

}  // namespace

bool CDebrief::connected() const { return m_link != nullptr && m_link->IsConnected(); }

int CDebrief::Open(const char* connectedStationId, const char* stationId, DWORD kind, WORD camera, WORD adapter,
                   const char* folderStation) {
    if (!connected()) return kDebriefNoLink;
    if (connectedStationId == nullptr || stationId == nullptr ||
        ::strcasecmp(connectedStationId, stationId) != 0) {
        return kDebriefOtherStation;
    }
    m_station = fixed_text::Read(stationId, MAX_PATH - 1);
    m_folderStation = folderStation != nullptr ? folderStation : "";
    m_camera = camera;
    m_adapter = adapter;
    m_kind = kind == 2 || kind == 0x20 || kind == 0x40 ? kind : 1;
    return kDebriefDone;
}

int CDebrief::Close() {
    m_station.clear();
    m_folderStation.clear();
    m_kind = 1;
    m_camera = 0;
    m_adapter = 0;
    m_events.Clear();
    m_cursorSet = false;
    return kDebriefDone;
}

int CDebrief::DownloadEventList() {
    if (!connected()) return kDebriefNoLink;
    EventListRequest request;
    request.eventType = m_kind;
    request.adapter = m_adapter;
    request.selectedInput = m_camera;
    // A request the line did not take is no download under way.
    if (m_link->SendEventDirListCameraRequest(request) == 0) return kDebriefNoLink;
    return kDebriefDone;
}

int CDebrief::LoadEventList(const char* stationId, DWORD kind, WORD adapter, WORD camera) {
    if ((kind & kindBit(m_kind)) == 0) return kDebriefOtherKind;
    if (camera != m_camera) return kDebriefOtherCamera;
    if (stationId == nullptr || m_station.empty() || ::strcasecmp(stationId, m_station.c_str()) != 0) {
        return kDebriefOtherStation;
    }
    tagEventHeader key{};
    key.dwType = m_kind;
    key.wAdapter = adapter;
    key.wCamera = camera;
    char folder[MAX_PATH] = {};
    if (!CEventFile::evMakePathName(m_folderStation.c_str(), &key, folder, sizeof folder)) return kDebriefNoFolder;
    const std::string path = std::string(folder) + "/EventsRemote.hdr";
    m_cursorSet = false;
    switch (m_events.LoadFile(path, m_progress)) {
    case RemoteEventList::Load::NoFile:
        return kDebriefNoListFile;
    case RemoteEventList::Load::NoHead:
        return kDebriefNoListHead;
    case RemoteEventList::Load::Loaded:
        break;
    }
    LUMO_TRACE(5, "CDebrief::LoadEventList %zu events from %s", m_events.Count(), path.c_str());
    return kDebriefDone;
}

int CDebrief::FindFirstEvent(DWORD& handle) {
    if (m_events.Count() == 0) return kDebriefNoEvent;
    handle = m_events.HandleAt(0);
    m_cursor = 1;
    m_cursorSet = true;
    return kDebriefDone;
}

int CDebrief::FindNextEvent(DWORD& handle) {
    if (!m_cursorSet || m_cursor >= m_events.Count()) return kDebriefNoEvent;
    handle = m_events.HandleAt(m_cursor++);
    return kDebriefDone;
}

int CDebrief::FindClose() {
    m_cursorSet = false;
    m_cursor = 0;
    return kDebriefDone;
}

int CDebrief::GetEventInfo(tagEventHeader& out, DWORD handle) const {
    if (m_events.Count() == 0) return kDebriefNoSuchEvent;
    const tagEventHeader* found = m_events.Find(handle);
    if (found == nullptr) return kDebriefNoLink;
    out = *found;
    return kDebriefDone;
}

int CDebrief::GetEvent(DWORD timeLow, DWORD timeHigh) {
    if (!connected()) return kDebriefNoLink;
    const tagEventHeader* found = m_events.FindByStartTime(FILETIME{timeLow, timeHigh});
    if (found == nullptr) return kDebriefNoSuchEvent;
    if (!m_link->IsLinkUp()) return kDebriefNoLink;
    if (m_link->SendEventRequest(found) == 0) return kDebriefNoLink;
    return kDebriefDone;
}

}  // namespace trennick
