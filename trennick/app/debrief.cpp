#include "trennick/app/debrief.h"

#include "common/fixed_text.h"
#include "common/lumo_deb.h"
#include "trennick/link/event_requests.h"
#include "trennick/link/packet_connection.h"

#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

namespace trennick {

namespace {

// The head of a list file: the camera record of the list, as it lies on disk.
constexpr std::size_t kListHeadBytes = kEventDirListRecordSize;

// Reads up to `size` bytes; the count read (short only at the end of the file).
std::size_t readSome(int fd, void* into, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, static_cast<BYTE*>(into) + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += std::size_t(n);
    }
    return done;
}

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
    m_nodes.clear();
    m_cursorSet = false;
    return kDebriefDone;
}

int CDebrief::DownloadEventList() {
    if (!connected()) return kDebriefNoLink;
    EventListRequest request;
    request.eventType = m_kind;
    request.adapter = m_adapter;
    request.selectedInput = m_camera;
    m_link->SendEventDirListCameraRequest(request);
    return kDebriefDone;
}

void CDebrief::insert(const tagEventHeader& header) {
    // Before the first node that is later; equal times keep the file's order.
    auto at = m_nodes.begin();
    while (at != m_nodes.end() && CEventFile::evCompareTime(at->header.ftStartTime, header.ftStartTime) <= 0) ++at;
    m_nodes.insert(at, Node{header, m_nextHandle++});
    if (m_nextHandle == 0) m_nextHandle = 1;  // 0 is never a handle
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
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        LUMO_TRACE(5, "CDebrief::LoadEventList cannot open %s", path.c_str());
        return kDebriefNoListFile;
    }
    BYTE head[kListHeadBytes];
    if (readSome(fd, head, sizeof head) != sizeof head) {
        ::close(fd);
        return kDebriefNoListHead;
    }
    m_nodes.clear();
    m_cursorSet = false;
    // Every complete header that follows; a partial one at the end is ignored.
    tagEventHeader header{};
    while (readSome(fd, &header, sizeof header) == sizeof header) insert(header);
    ::close(fd);
    LUMO_TRACE(5, "CDebrief::LoadEventList %zu events from %s", m_nodes.size(), path.c_str());
    return kDebriefDone;
}

int CDebrief::FindFirstEvent(DWORD& handle) {
    if (m_nodes.empty()) return kDebriefNoEvent;
    handle = m_nodes.front().handle;
    m_cursor = 1;
    m_cursorSet = true;
    return kDebriefDone;
}

int CDebrief::FindNextEvent(DWORD& handle) {
    if (!m_cursorSet || m_cursor >= m_nodes.size()) return kDebriefNoEvent;
    handle = m_nodes[m_cursor++].handle;
    return kDebriefDone;
}

int CDebrief::FindClose() {
    m_cursorSet = false;
    m_cursor = 0;
    return kDebriefDone;
}

int CDebrief::GetEventInfo(tagEventHeader& out, DWORD handle) const {
    if (m_nodes.empty()) return kDebriefNoSuchEvent;
    for (const Node& node : m_nodes) {
        if (node.handle == handle) {
            out = node.header;
            return kDebriefDone;
        }
    }
    return kDebriefNoLink;
}

int CDebrief::GetEvent(DWORD timeLow, DWORD timeHigh) {
    if (!connected()) return kDebriefNoLink;
    const Node* found = nullptr;
    for (const Node& node : m_nodes) {
        if (node.header.ftStartTime.dwLowDateTime == timeLow && node.header.ftStartTime.dwHighDateTime == timeHigh) {
            found = &node;
            break;
        }
    }
    if (found == nullptr) return kDebriefNoSuchEvent;
    if (!m_link->IsLinkUp()) return kDebriefNoLink;
    m_link->SendEventRequest(&found->header);
    return kDebriefDone;
}

}  // namespace trennick
