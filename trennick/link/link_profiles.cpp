// The link's hardware profiles and text requests: the site's profiles of
// its adapters and cameras, and the remote calls that select a camera, set
// an output or page. Each runs under the bucket lock; the receiving ones
// inside the token dispatch.

#include "trennick/link/packet_connection.h"

#include "trennick/link/hw_profile_list.h"
#include "trennick/link/link_payloads.h"
#include "trennick/link/link_trace.h"

#include <cstdlib>
#include <cstring>

namespace trennick {

namespace {

constexpr DWORD kOldProfileBytes = sizeof(tagHWProfile_VER_0);

bool fieldHoldsPage(std::string_view field) { return CCommon::FindStringNoCase("PAGE", field) >= 0; }

// The number at the end of a field ("PAGE12" gives 12); -1 when none.
long trailingNumber(std::string_view field) {
    std::size_t start = field.size();
    while (start > 0 && field[start - 1] >= '0' && field[start - 1] <= '9') --start;
    if (start == field.size() || field.size() - start > 9) return -1;
    return std::strtol(std::string(field.substr(start)).c_str(), nullptr, 10);
}

}  // namespace

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
    // Without the stations manager the site stays out of the directory (traced there).
    (void)UpdateStationDataBase();
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
    const std::vector<BYTE> payload = buildTokenPayload(ID_DSVD_LUMORARPC, body);
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
              linkTraceText(text, length).c_str());
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
        const bool stored = m_host->editLocalHWProfile([a, result, value](tagHWProfile& profile) {
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
    const bool stored = m_host->editLocalHWProfile([a = *adapter, b = *bit, v = *value](tagHWProfile& profile) {
        profile.adapters[a].relays[b].state = static_cast<WORD>(v);
        return true;
    });
    return stored ? 2 : 0;
}

}  // namespace trennick
