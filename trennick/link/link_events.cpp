// The link's event requests and trigger notifications: the lists and files
// of recorded events asked of the site, and the cameras its alarms marked.
// Each runs under the bucket lock; the receiving ones inside the token
// dispatch.

#include "trennick/link/packet_connection.h"

#include "trennick/link/link_payloads.h"
#include "trennick/link/link_trace.h"
#include "trennick/link/trigger_list.h"

#include <cstring>

namespace trennick {

namespace {

constexpr DWORD kOldTriggerBytes = sizeof(tagTrigger_VER_0);
constexpr DWORD kTriggerBytes = sizeof(tagTrigger);

}  // namespace

// ---- event requests and trigger notifications ----

LONG CPacketConnection::SendEventDirListCameraRequest(const EventListRequest& request) {
    std::lock_guard lock(m_bucketLock);
    linkTrace(5, "CPacketConnection::SendEventDirListCameraRequest\n");
    const std::vector<BYTE> payload =
        buildTokenPayload(ID_DSVD_REFRESHDEBRIEF, buildEventListRequest(request, GetProtocolVersion()));
    linkTrace(5, "CPacketConnection::SendEventDirListCameraRequest");
    return SendBucket(kTokenBucket, payload.data(), static_cast<DWORD>(payload.size()));
}

LONG CPacketConnection::SendEventRequest(const tagEventHeader* header) {
    std::lock_guard lock(m_bucketLock);
    linkTrace(5, "CPacketConnection::SendEventDirListCameraRequest\n");
    if (header == nullptr) {
        linkTrace(1, "CPacketConnection::SendEventRequest pEventHeader is NULL\n");
        return 0;
    }
    tagEventHeader h = *header;
    if (GetProtocolVersion() == 2) {
        CEventFile eventFile;
        if (!eventFile.evEventHeaderTimeConvert(&h, 2)) {
            linkTrace(1, "CPacketConnection::SendEventRequest evEventHeaderTimeConverte FAILED !!!\n");
        }
        h.dwType &= 0xFFu;
    }
    const std::vector<BYTE> payload = buildTokenPayload(ID_DSVD_GETEVNTFILE, buildEventFileRequest(h));
    return SendBucket(kTokenBucket, payload.data(), static_cast<DWORD>(payload.size()));
}

LONG CPacketConnection::DispatchEventDirListCameraRequest(const BYTE* body, DWORD length) {
    std::lock_guard lock(m_bucketLock);
    linkTrace(5, "CPacketConnection::DispatchEventDirListCameraRequest() %s\n", linkTraceText(body, length).c_str());
    const auto request = parseEventListRequest(body, length);
    if (!request) {
        linkTrace(1, "CPacketConnection::DispatchEventDirListCameraRequest() malformed request dropped");
        return 0;
    }
    linkTrace(5, "CPacketConnection::DispatchEventDirListCameraRequest() dwEventType=%lx wAdapter=%ld wSelectedInput=%ld\n",
              static_cast<unsigned long>(request->eventType), static_cast<long>(request->adapter),
              static_cast<long>(request->selectedInput));
    if (m_window == nullptr) {
        return 1;
    }
    auto record = std::make_unique<EventListRequestBlock>();
    record->fill(0);
    const DWORD type = request->eventType | EVENT_TYPE_FROM_REMOTE;
    std::memcpy(record->data() + offsetof(tagEventDirListCamera, dwType), &type, sizeof type);
    std::memcpy(record->data() + offsetof(tagEventDirListCamera, wAdapter), &request->adapter, sizeof(WORD));
    std::memcpy(record->data() + offsetof(tagEventDirListCamera, wCamera), &request->selectedInput, sizeof(WORD));
    m_window->postOwned(kMsgEventListRequest, 0, std::move(record));
    return 1;
}

LONG CPacketConnection::DispatchEventRequest(const BYTE* body, DWORD length) {
    std::lock_guard lock(m_bucketLock);
    linkTrace(5, "CPacketConnection::DispatchEventRequest() %s\n", linkTraceText(body, length).c_str());
    const auto header = parseEventFileRequest(body, length);
    if (!header) {
        linkTrace(1, "CPacketConnection::DispatchEventRequest() malformed request dropped");
        return 0;
    }
    linkTrace(5, "CPacketConnection::DispatchEventRequest() dwEventType=%lx wAdapter=%ld wCamera=%ld wIndex=%ld\n",
              static_cast<unsigned long>(header->dwType), static_cast<long>(header->wAdapter),
              static_cast<long>(header->wCamera), static_cast<long>(header->dwEventNumber));
    if (m_window == nullptr) {
        return 1;
    }
    m_window->postOwned(kMsgEventFileRequest, 0, std::make_unique<tagEventHeader>(*header));
    return 1;
}

LONG CPacketConnection::ReceiveTriggerNotification(const BYTE* body, DWORD length) {
    std::lock_guard lock(m_bucketLock);
    const char* token = tokenText(ID_DSVD_TRIGGERNOTIFICATION).data();
    linkTrace(3, "CPacketConnection::ReceiveTriggerNotification()");
    const GuardedRecord record = parseGuardedPayload(body, length);
    const bool oldPeer = m_peerProtocolNumber <= 5;
    const int protocol = GetProtocolVersion();
    const bool lengthOk = record.result != GuardedResult::Short && record.result != GuardedResult::BadLength &&
                          (oldPeer ? record.length == kOldTriggerBytes
                                   : (protocol != 1 || record.length == kTriggerBytes));
    if (!lengthOk) {
        linkTrace(1, "%s Receive ERROR: Invalid trigger length", token);
        errorLamp();
        return 0;
    }
    if (record.result == GuardedResult::BadChecksum) {
        linkTrace(1, "%s ERROR: Invalid CRC, read: %ld, calc: %ld", token, static_cast<long>(record.readChecksum),
                  static_cast<long>(record.calcChecksum));
        return 0;
    }
    // Each notification stands alone: triggers of an earlier one are not repeated.
    m_triggerNotification = tagTrigger{};
    if (oldPeer) {
        tagTrigger_VER_0 old{};
        std::memcpy(&old, record.bytes, sizeof old);
        CStructConvertor().ConverteTrigger(&old, &m_triggerNotification);
    } else if (protocol == 1) {
        std::memcpy(&m_triggerNotification, record.bytes, sizeof m_triggerNotification);
    } else {
        CTRiggerList list;
        const BOOL flag = peerVersionHoldsAny({"2.6", "2.7", "2.8", "2.81"}) ? TRUE : FALSE;
        if (!list.DispatchTriggerList(record.bytes, record.length, &m_triggerNotification, flag)) {
            linkTrace(1, "CPacketConnection::ReceiveTriggerNotification->Error DispatchTriggerList");
        }
    }
    if (m_remoteView != nullptr) {
        m_remoteView->postMessage(kMsgTriggerNotified, 0, 0);
    }
    for (int a = 0; a < kMaxAdapters; ++a) {
        for (int c = 0; c < kCamerasPerAdapter; ++c) {
            if (m_triggerNotification.entries[a][c][0] == 1) {
                linkTrace(3, "PostMessage WM_TESS_TRIGGR Adapter %d Camere %d", a, c);
                post(kMsgTrigger, static_cast<WPARAM>(a), static_cast<LPARAM>(c));
            }
        }
    }
    return 1;
}

tagTrigger CPacketConnection::GetTriggerNotification() {
    std::lock_guard lock(m_bucketLock);
    return m_triggerNotification;
}

}  // namespace trennick
