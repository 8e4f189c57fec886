// The small services of the link object: hardware profiles and text
// requests, event requests and trigger notifications, settings reports and
// the station directory update, business cards, snapshot and notification
// requests, serial-out commands. Each runs under the bucket lock; the
// receiving ones inside the token dispatch.

#include "trennick/link/packet_connection.h"

#include "common/fixed_text.h"
#include "tavicore/stations_mgr.h"
#include "tavicore/tavicore_globals.h"
#include "trennick/link/hw_profile_list.h"
#include "trennick/link/link_payloads.h"
#include "trennick/link/link_trace.h"
#include "trennick/link/trigger_list.h"

#include <cstring>

namespace trennick {

namespace {

constexpr DWORD kOldProfileBytes = sizeof(tagHWProfile_VER_0);
constexpr DWORD kOldTriggerBytes = sizeof(tagTrigger_VER_0);
constexpr DWORD kTriggerBytes = sizeof(tagTrigger);

std::vector<BYTE> tokenPayload(WORD tokenId, const std::vector<BYTE>& body) {
    const std::string_view token = tokenText(tokenId);
    std::vector<BYTE> out(token.begin(), token.end());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// At most the first 128 characters of a payload, printable, for traces.
std::string traceText(const BYTE* bytes, DWORD length) {
    std::string out;
    for (DWORD i = 0; i < length && i < 128; ++i) {
        const char c = static_cast<char>(bytes[i]);
        out += (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? c : '.';
    }
    return out;
}

bool fieldHoldsPage(std::string_view field) { return CCommon::FindStringNoCase("PAGE", field) >= 0; }

// The number at the end of a field ("PAGE12" gives 12); -1 when none.
long trailingNumber(std::string_view field) {
    std::size_t start = field.size();
    while (start > 0 && field[start - 1] >= '0' && field[start - 1] <= '9') --start;
    if (start == field.size() || field.size() - start > 9) return -1;
    return std::strtol(std::string(field.substr(start)).c_str(), nullptr, 10);
}

}  // namespace

void CPacketConnection::resetServices() {
    m_files.ResetFiles();
    m_myCard = tagBusinessCard{};
    m_peerCard = tagBusinessCard{};
    m_myCardStatus = 0;
    m_peerCardStatus = 0;
}

// ---- hardware profiles and text requests ----

LONG CPacketConnection::ReceiveLumoraHWProfile(const BYTE* body, DWORD length) {
    std::lock_guard lock(m_bucketLock);
    const char* token = tokenText(ID_DSVD_HWPROFILE_V1_2).data();
    linkTrace(3, "CPacketConnection::ReceiveLumoraHWProfile()");
    const GuardedRecord record = parseGuardedPayload(body, length);
    const bool oldPeer = m_peerProtocolNumber <= 5;
    if (oldPeer) {
        linkTrace(3, "CPacketConnection::ReceiveLumoraHWProfile()->Receive OLD LumoraHWProfile() - Converting...");
    }
    if (record.result == GuardedResult::Short || record.result == GuardedResult::BadLength ||
        (oldPeer && record.length != kOldProfileBytes)) {
        linkTrace(1, "%s Receive ERROR: Invalid profile length", token);
        SetNotConnected();
        errorLamp();
        return 0;
    }
    if (record.result == GuardedResult::BadChecksum) {
        linkTrace(1, "%s ERROR: Invalid CRC, read: %ld, calc: %ld", token, static_cast<long>(record.readChecksum),
                  static_cast<long>(record.calcChecksum));
        SetNotConnected();
        errorLamp();
        return 0;
    }
    if (oldPeer) {
        tagHWProfile_VER_0 old{};
        std::memcpy(&old, record.bytes, sizeof old);
        CStructConvertor().ConverteHWProfiles(&old, &m_remoteHWProfile);
        linkTrace(3, "CPacketConnection::ReceiveLumoraHWProfile()->OLD HW Profile has been Converted to NEW HW Profile");
    } else {
        DispatchHWProfileList(record.bytes, record.length);
    }
    // Counts the peer sent are kept to what the profile holds, so no reader
    // of the stored profile walks past its arrays.
    m_remoteHWProfile.adaptersNumber = capCount<WORD>(m_remoteHWProfile.adaptersNumber, kMaxAdapters);
    for (tagAdapterBlock& adapter : m_remoteHWProfile.adapters) {
        adapter.camerasNumber = capCount<WORD>(adapter.camerasNumber, kCamerasPerAdapter);
        adapter.relaysNumber = capCount<WORD>(adapter.relaysNumber, kRelaysPerAdapter);
    }
    m_host->storeRemoteHWProfile(m_remoteHWProfile);
    m_remoteAdapters = capCount<WORD>(m_remoteHWProfile.adaptersNumber, kMaxAdapters);
    UpdateStationDataBase();
    ++m_profilesReceived;
    const WORD current = m_remoteHWProfile.currentAdapter;
    linkTrace(3, "CPacketConnection::ReceiveLumoraHWProfile() wAdapter=%ld wSelectedInput=%ld\n", static_cast<long>(current),
              current < kMaxAdapters ? static_cast<long>(m_remoteHWProfile.adapters[current].selectedInput) : -1L);
    post(kMsgRemoteProfiles, m_remoteAdapters, 0);
    linkTrace(3, "%s Received, %d remote Lumora adapters detected", token, static_cast<int>(m_remoteAdapters));
    if (m_remoteView != nullptr) {
        m_remoteView->hwProfilesReceived(m_remoteAdapters);
    }
    if (IsOutgoingCall()) {
        post(kMsgProfilesWeCalled, 0, 0);
    } else {
        post(kMsgCommand, kCmdProfilesTheyCalled, 0);
    }
    return 1;
}

int CPacketConnection::DispatchHWProfileList(const BYTE* list, DWORD length) {
    linkTrace(5, "CPacketConnection::DispatchHWProfileList->Dispatching HW profile Device List...");
    int result;
    {
        CHWProfileList decoder([this](const SiteInfoBlock& site) {
            if (m_window == nullptr) {
                return false;
            }
            m_host->recordRemoteSite(site);
            return true;
        });
        result = decoder.DispatchHWProfileList(list, static_cast<LONG>(length), &m_remoteHWProfile);
    }
    linkTrace(5, "CPacketConnection::DispatchHWProfileList->Dispatching HW profile Device List Done");
    return result;
}

tagHWProfile CPacketConnection::GetRemoteHWProfile() {
    std::lock_guard lock(m_bucketLock);
    return m_remoteHWProfile;
}

WORD CPacketConnection::GetRemoteAdapterCount() {
    std::lock_guard lock(m_bucketLock);
    return m_remoteAdapters;
}

LONG CPacketConnection::SendLumoraRPC(const char* request, WORD length) {
    std::lock_guard lock(m_bucketLock);
    linkTrace(5, "CPacketConnection::SendLumoraRPC( LPSTR pszRPC, WORD wLen)\n");
    if (request == nullptr && length != 0) {
        return 0;
    }
    std::vector<BYTE> body(request, request + length);
    const std::vector<BYTE> payload = tokenPayload(ID_DSVD_LUMORARPC, body);
    return SendBucket(kTokenBucket, payload.data(), static_cast<DWORD>(payload.size()));
}

LONG CPacketConnection::ReceiveLumoraRPC(const BYTE* body, DWORD length) {
    std::lock_guard lock(m_bucketLock);
    ++m_rpcReceived;
    const int result = DispatchLumoraRPC(body, length);
    if (result == 1 || result == 2 || result == 5) {
        linkTrace(3, "CPacketConnection::ReceiveLumoraRPC() Received back RPC_SETVIDEOINPUT");
        if (m_remoteView != nullptr) {
            m_remoteView->postMessage(kMsgRpcDone, static_cast<WPARAM>(result), 0);
        }
    }
    return result != 0 ? 1 : 0;
}

int CPacketConnection::DispatchLumoraRPC(const BYTE* text, DWORD length) {
    linkTrace(5, "DispatchLumoraRPC()  len = %ld pszCommand = %s \n", static_cast<long>(length),
              traceText(text, length).c_str());
    BracketFields fields(text, length);
    const auto code = fields.nextNumber();
    if (!code || *code < 1 || *code > 4) {
        linkTrace(1, "CPacketConnection::DispatchLumoraRPC ERROR: Unknown Lumora RPC code: %d",
                  code ? static_cast<int>(*code) : -1);
        return 0;
    }
    if (*code == 3 || *code == 4) {
        return static_cast<int>(*code);
    }
    if (*code == 1) {
        const auto adapter = fields.nextNumber();
        const auto camera = fields.next();
        if (!adapter || !camera || *adapter < 0 || *adapter >= kMaxAdapters) {
            linkTrace(1, "CPacketConnection::DispatchLumoraRPC RPC_SETVIDEOINPUT: adapter or camera missing or out of range");
            return 0;
        }
        const int a = static_cast<int>(*adapter);
        int result = 1;
        long value = 0;
        if (fieldHoldsPage(*camera)) {
            result = 5;
            value = trailingNumber(*camera);
            if (value < 0 || value > 0xFFFF) {
                linkTrace(1, "CPacketConnection::DispatchLumoraRPC RPC_SETVIDEOINPUT: page field without a number or out of range");
                return 0;
            }
        } else {
            const std::string cameraText(*camera);
            char* end = nullptr;
            value = std::strtol(cameraText.c_str(), &end, 10);
            if (end == cameraText.c_str() || value < 0 || value >= kCamerasPerAdapter) {
                linkTrace(1, "CPacketConnection::DispatchLumoraRPC RPC_SETVIDEOINPUT: camera \"%s\" out of range",
                          cameraText.c_str());
                return 0;
            }
        }
        linkTrace(3, "Received RPC_SETVIDEOINPUT: Adapter=%ld, Camera=%ld", static_cast<long>(a), value);
        if (result == 5 && value == 0) {
            return result;  // page 0 changes nothing
        }
        const bool stored = m_host->editLocalHWProfile([&](tagHWProfile& profile) {
            tagAdapterBlock& block = profile.adapters[a];
            tagAdapterDeviceData data = readDeviceData(block);
            if (result == 5) {
                data.selectedPage = static_cast<WORD>(value - 1);
                data.pageSelected = 1;
            } else {
                block.selectedInput = static_cast<WORD>(value);
                data.pageSelected = 0;
            }
            writeDeviceData(block, data);
            return true;
        });
        if (!stored) {
            linkTrace(1, "CPacketConnection::DispatchLumoraRPC no settings database to store the video input in");
            return 0;
        }
        return result;
    }
    // Code 2: a digital output.
    DWORD at = 0;
    const auto adapter = fields.nextNumber(&at);
    if (!adapter) {
        if (at >= length) {
            linkTrace(1, "Received RPC_SETDIGITALOUTPUT: Error !! Adapter pos = %ld <= wCmdLen = %ld ", static_cast<long>(at),
                      static_cast<long>(length));
        }
        return 0;
    }
    const auto bit = fields.nextNumber(&at);
    if (!bit) {
        if (at >= length) {
            linkTrace(1, "Received RPC_SETDIGITALOUTPUT: Error !! Index pos = %ld <= wCmdLen = %ld", static_cast<long>(at),
                      static_cast<long>(length));
        }
        return 0;
    }
    const auto value = fields.nextNumber(&at);
    if (!value) {
        if (at >= length) {
            linkTrace(1, "Received RPC_SETDIGITALOUTPUT: Error !! Value pos = %ld <= wCmdLen = %ld \n", static_cast<long>(at),
                      static_cast<long>(length));
        }
        return 0;
    }
    linkTrace(3, "Received RPC_SETDIGITALOUTPUT: Adapter=%ld, Bit=%ld, Value=%ld", *adapter, *bit, *value);
    if (*adapter < 0 || *adapter >= kMaxAdapters || *bit < 0 || *bit >= kRelaysPerAdapter || *value < 0 ||
        *value > 0xFFFF) {
        linkTrace(1, "CPacketConnection::DispatchLumoraRPC RPC_SETDIGITALOUTPUT: output outside the profile");
        return 0;
    }
    const bool stored = m_host->editLocalHWProfile([&](tagHWProfile& profile) {
        profile.adapters[*adapter].relays[*bit].state = static_cast<WORD>(*value);
        return true;
    });
    return stored ? 2 : 0;
}

// ---- event requests and trigger notifications ----

LONG CPacketConnection::SendEventDirListCameraRequest(const EventListRequest& request) {
    std::lock_guard lock(m_bucketLock);
    linkTrace(5, "CPacketConnection::SendEventDirListCameraRequest\n");
    const std::vector<BYTE> payload =
        tokenPayload(ID_DSVD_REFRESHDEBRIEF, buildEventListRequest(request, GetProtocolVersion()));
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
    const std::vector<BYTE> payload = tokenPayload(ID_DSVD_GETEVNTFILE, buildEventFileRequest(h));
    return SendBucket(kTokenBucket, payload.data(), static_cast<DWORD>(payload.size()));
}

LONG CPacketConnection::DispatchEventDirListCameraRequest(const BYTE* body, DWORD length) {
    std::lock_guard lock(m_bucketLock);
    linkTrace(5, "CPacketConnection::DispatchEventDirListCameraRequest() %s\n", traceText(body, length).c_str());
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
    linkTrace(5, "CPacketConnection::DispatchEventRequest() %s\n", traceText(body, length).c_str());
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

// ---- settings reports and the station directory ----

LONG CPacketConnection::SendSettingsError(const BYTE* report, WORD length) {
    std::lock_guard lock(m_bucketLock);
    const std::string_view token = tokenText(ID_DSVD_SETTINGS_ERROR);
    const std::vector<BYTE> payload = buildGuardedPayload(token, report, length);
    if (payload.empty()) {
        return 0;
    }
    SendBucket(kTokenBucket, payload.data(), static_cast<DWORD>(payload.size()));
    linkTrace(5, "\t%s Sent...", token.data());
    return 1;
}

LONG CPacketConnection::receiveSettingsReport(WORD tokenId, UINT message, const BYTE* body, DWORD length) {
    std::lock_guard lock(m_bucketLock);
    const char* token = tokenText(tokenId).data();
    const GuardedRecord record = parseGuardedPayload(body, length);
    if (record.result == GuardedResult::Short || record.result == GuardedResult::BadLength) {
        linkTrace(1, "%s Receive ERROR: the report's length reaches past the %lu bytes received", token,
                  static_cast<unsigned long>(length));
        return 0;
    }
    if (record.result == GuardedResult::BadChecksum) {
        linkTrace(5, "%s ERROR: Invalid CRC, read: %ld, calc: %ld", token, static_cast<long>(record.readChecksum),
                  static_cast<long>(record.calcChecksum));
        errorLamp();
        return 0;
    }
    if (m_window != nullptr) {
        m_window->postOwned(message, record.length,
                            std::make_unique<SettingsReport>(record.bytes, record.bytes + record.length));
    }
    linkTrace(5, " %s Settings Error Bucket Received", token);
    return 1;
}

LONG CPacketConnection::ReceiveSettingsError(const BYTE* body, DWORD length) {
    return receiveSettingsReport(ID_DSVD_SETTINGS_ERROR, kMsgSettingsError, body, length);
}

LONG CPacketConnection::ReceiveSettingsError2(const BYTE* body, DWORD length) {
    return receiveSettingsReport(ID_DSVD_SETTINGSERROR2, kMsgSettingsError2, body, length);
}

LONG CPacketConnection::OnFinishUpgrade() {
    post(kMsgFinishUpgrade, 0, 0);
    return 1;
}

bool CPacketConnection::UpdateStationDataBase() {
    SiteInfoBlock site{};
    if (!m_host->remoteSiteInfo(site)) {
        site = SiteInfoBlock{};
    }
    terminateTexts(site);
    IZoStationsMgr* directory = stationsMgr != nullptr ? stationsMgr->Get() : nullptr;
    if (directory == nullptr) {
        linkTrace(5, "[E] UpdateStationDataBase() No Station Mgr interface !!!");
        return false;
    }
    tagHWProfile profile;
    WORD adapters;
    {
        std::lock_guard lock(m_bucketLock);
        profile = m_remoteHWProfile;
        adapters = m_remoteAdapters;
    }
    auto record = std::make_unique<ZoStationRecord>();
    std::memset(record.get(), 0, sizeof *record);
    record->version = kZoStationRecordVersion;
    directory->StartQueryStation(site.guid);
    directory->ReadStationInfo();
    directory->GetStationInfo(record.get());
    record->adapterNum = capCount<WORD>(adapters, kZoMaxAdapters);
    std::memset(record->name, 0, sizeof record->name);
    std::memset(record->phone, 0, sizeof record->phone);
    std::memcpy(record->name, site.siteName, strnlen(site.siteName, sizeof record->name - 1));
    std::memcpy(record->phone, site.sitePhone, strnlen(site.sitePhone, sizeof record->phone - 1));
    for (DWORD a = 0; a < record->adapterNum; ++a) {
        const tagAdapterBlock& block = profile.adapters[a];
        ZoAdapterRecord& entry = record->adapters[a];
        entry.cameraNum = capCount<WORD>(block.camerasNumber, kZoMaxCameras);
        std::memset(entry.name, 0, sizeof entry.name);
        std::memcpy(entry.name, block.name, strnlen(block.name, sizeof block.name));
        for (DWORD c = 0; c < entry.cameraNum; ++c) {
            std::memset(entry.cameraNames[c], 0, sizeof entry.cameraNames[c]);
            const char* name = block.cameras[c].name;
            std::memcpy(entry.cameraNames[c], name, strnlen(name, sizeof block.cameras[c].name));
        }
    }
    directory->SetStationInfo(record.get());
    directory->WriteStationInfo();
    return true;
}

// ---- cards, snapshot and notification requests ----

WORD CPacketConnection::GetCardStatus(int which) {
    std::lock_guard lock(m_bucketLock);
    return which != 0 ? m_peerCardStatus : m_myCardStatus;
}

LONG CPacketConnection::GetRemoteCard(tagBusinessCard& card) {
    std::lock_guard lock(m_bucketLock);
    std::memcpy(card.name, m_peerCard.name, sizeof card.name);
    std::memcpy(card.text2, m_peerCard.text2, sizeof card.text2);
    std::memcpy(card.text3, m_peerCard.text3, sizeof card.text3);
    if (m_peerCard.picture[0] != 0 && (m_peerCardStatus & kCardPictureReceived)) {
        std::memcpy(card.picture, m_peerCard.picture, sizeof card.picture);
        m_peerCardStatus &= static_cast<WORD>(~kCardPictureReceived);
    } else {
        std::memset(card.picture, 0, sizeof card.picture);
    }
    m_peerCardStatus &= static_cast<WORD>(~kCardReceived);
    return 1;
}

LONG CPacketConnection::SendMyCard(const tagBusinessCard* card) {
    std::lock_guard lock(m_bucketLock);
    if (card != nullptr) {
        m_myCard = *card;
    }
    const std::vector<BYTE> payload = tokenPayload(ID_DSVD_MY_CARD, buildCardBody(m_myCard));
    SendBucket(kTokenBucket, payload.data(), static_cast<DWORD>(payload.size()));
    m_myCardStatus |= kCardSent;
    m_myCardSentMs = now();
    return 1;
}

LONG CPacketConnection::ReceiveMyCard(const BYTE* body, DWORD length) {
    std::lock_guard lock(m_bucketLock);
    const auto texts = parseCardBody(body, length);
    if (!texts) {
        linkTrace(1, "CPacketConnection::ReceiveMyCard() malformed card dropped");
        return 0;
    }
    fixed_text::Write(m_peerCard.name, sizeof m_peerCard.name, texts->name);
    fixed_text::Write(m_peerCard.text2, sizeof m_peerCard.text2, texts->text2);
    fixed_text::Write(m_peerCard.text3, sizeof m_peerCard.text3, texts->text3);
    // The picture field is handed out only as the path of a received picture
    // file; while one is waiting to be fetched, a card's wire name (which
    // could name any path) never replaces it.
    if ((m_peerCardStatus & kCardPictureReceived) == 0) {
        fixed_text::Write(m_peerCard.picture, sizeof m_peerCard.picture, texts->picture);
    }
    m_peerCardStatus |= kCardReceived;
    sendToken(ID_DSVD_YOURBCRECEIVED);
    return 1;
}

LONG CPacketConnection::SendGetSnapshot(WORD first, DWORD second, WORD third) {
    std::lock_guard lock(m_bucketLock);
    const std::vector<BYTE> payload = tokenPayload(ID_DSVD_GETSNAP, buildSnapshotRequest(first, second, third));
    SendBucket(kTokenBucket, payload.data(), static_cast<DWORD>(payload.size()));
    return 1;
}

LONG CPacketConnection::ReceiveNotificationRPC(const BYTE* body, DWORD length) {
    std::lock_guard lock(m_bucketLock);
    if (!DispatchNotificationRPC(body, length)) {
        linkTrace(1, "CPacketConnection::ReceiveNotificationRPC()");
    }
    return 1;
}

bool CPacketConnection::DispatchNotificationRPC(const BYTE* body, DWORD length) {
    NotificationRequest request;
    DWORD at = 0;
    switch (parseNotificationRequest(body, length, request, at)) {
    case NotificationParse::Ok:
        return HandleNotificationRPC(request.type, request.code, request.value);
    case NotificationParse::NoCode:
        linkTrace(5, "RCPacketConnection::DispatchNotificationRPC: Error !! pos = %ld <= wCmdLen = %ld", static_cast<long>(at),
                  static_cast<long>(length));
        return false;
    case NotificationParse::NoValue:
        linkTrace(5, "RCPacketConnection::DispatchNotificationRPC: Error !! Index pos = %ld <= wCmdLen = %ld",
                  static_cast<long>(at), static_cast<long>(length));
        return false;
    default:
        linkTrace(5, "RCPacketConnection::DispatchNotificationRPC: malformed request");
        return false;
    }
}

bool CPacketConnection::HandleNotificationRPC(long type, long code, long) {
    if (type != 1) {
        linkTrace(1, "CPacketConnection::HandleNotificationRPC Unknown RPC type");
        return false;
    }
    static constexpr UINT kNotices[] = {kStrNotice1, kStrNotice2, kStrNotice3};
    if (code < 1 || code > 3) {
        return false;
    }
    if (m_window == nullptr) {
        return true;  // nothing to show it in
    }
    notice(kNotices[code - 1], {});
    post(kMsgNotificationShown, 0, 0);
    return true;
}

// ---- serial-out commands ----

LONG CPacketConnection::SendSerialOutCommand(const BYTE* message, WORD length) {
    std::lock_guard lock(m_bucketLock);
    linkTrace(5, "ENTER %s", "CPacketConnection::SendSerialOutCommand");
    const LONG written = SendBucket(kSerialOutBucket, message, length, 0);
    linkTrace(5, "LEAVE %s", "CPacketConnection::SendSerialOutCommand");
    return written;
}

void CPacketConnection::SetSerialOutSink(LinkSerialOutSink* sink) {
    std::lock_guard lock(m_bucketLock);
    m_serialOutSink = sink;
}

}  // namespace trennick
