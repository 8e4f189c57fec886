// The link's settings reports and the station directory: the site's reports
// on the settings it was sent, the end of an upgrade, and the connected
// site written into the stations manager's directory. Each runs under the
// bucket lock; the receiving ones inside the token dispatch.

#include "trennick/link/packet_connection.h"

#include "common/fixed_text.h"
#include "tavicore/stations_mgr.h"
#include "tavicore/tavicore_globals.h"
#include "trennick/link/link_payloads.h"
#include "trennick/link/link_trace.h"

#include <cstring>

namespace trennick {

// ---- settings reports and the station directory ----

LONG CPacketConnection::SendSettingsError(const BYTE* report, WORD length) {
    std::lock_guard lock(m_bucketLock);
    const std::string_view token = tokenText(ID_DSVD_SETTINGS_ERROR);
    const std::vector<BYTE> payload = buildGuardedPayload(token, report, length);
    if (payload.empty()) {
        return 0;
    }
    if (SendBucket(kTokenBucket, payload.data(), static_cast<DWORD>(payload.size())) == 0) {
        linkTrace(3, "CPacketConnection::SendSettingsError() not written to the line");
        return 0;
    }
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

}  // namespace trennick
