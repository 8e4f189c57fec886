#include "trennick/remset/remote_set_list.h"

#include "common/fixed_text.h"
#include "common/lumo_deb.h"
#include "platform/time_convert.h"
#include "tavicore/log_write.h"
#include "tavicore/record_convert.h"
#include "tavicore/stations_mgr.h"
#include "tavicore/tavicore_globals.h"
#include "trennick/clients/zo_tiltwork.h"
#include "trennick/link/packet_connection.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace trennick {
namespace {

constexpr short kLogSiteClockSet = 42;

#pragma pack(push, 1)
struct RecSiteInfo { SetListHeader h; WORD selectedAdapter; DWORD siteTime; char siteName[30]; };
struct RecAdapter { SetListHeader h; char name[30]; };
struct RecCamera { SetListHeader h; WORD cameraType; char name[30]; };
struct RecRelay { SetListHeader h; BYTE bType, bState, bPolarity; DWORD dwTimeOut; char name[30]; };
struct RecVideoIn { SetListHeader h; WORD reserved; BYTE standard, sampleMode, brightness, contrast, hue, saturation; };
struct RecVideoOut { SetListHeader h; BYTE standard, sampleMode; };
struct RecAudioIn { SetListHeader h; BYTE inputType, inputVol, agc, bass, treble, signalLevel, disable, reserved[3]; };
struct RecAudioOut { SetListHeader h; BYTE disable, reserved[3], outputVol; };
struct RecAlarm { SetListHeader h; BYTE polarity, enable; char name[30]; };
struct RecComm { SetListHeader h; WORD commType, subCommType; char name[30]; };
struct RecUsedComm { SetListHeader h; BYTE reserved1, rings; WORD reserved2; char name[30]; };
struct RecMask { SetListHeader h; DWORD mask; };  // relay matrix, alarm recording, dial on no video
struct RecStills { SetListHeader h; WORD type, quality, resolution; DWORD framesDelay; };
struct RecRecCameras { SetListHeader h; BYTE enableWithConnection; DWORD cameras; };
struct RecPreAlarm { SetListHeader h; WORD delay, frames; };
struct RecPostAlarm { SetListHeader h; WORD delay, frames, maxEvents; };
struct RecPostAlarm2 { SetListHeader h; DWORD delay, frames, maxEvents; };
struct RecDialOnAlarm {
    SetListHeader h; DWORD entryDelay, exitDelay; char phones[4][30]; BYTE tries[4]; BYTE dialToSuccess;
    DWORD unattendedTimeOut, cameras;
};
struct RecDialOnAlarm2 {
    SetListHeader h; DWORD entryDelay, exitDelay; char phones[4][256]; BYTE tries[4];
    DWORD dialToSuccess, unattendedTimeOut, cameras;
};
struct RecUser { SetListHeader h; char name[90]; char password[90]; BYTE level, operation; };
struct RecRemoteControl { SetListHeader h; BYTE arm[4], disarm[4]; DWORD features, reserved; };
struct RecAlarm2 { SetListHeader h; BYTE polarity, enable; char name[30]; DWORD entryDelay, flags; };
struct RecSerialOut {
    SetListHeader h; WORD portId, command, portStyle; DWORD baudRate; WORD parity, dataBits, stopBits, serialType;
    char protocol[30]; DWORD reserved;
};
struct RecControlPanel { SetListHeader h; BYTE enable, polarityNO; };
struct RecTask { SetListHeader h; WORD operation; BYTE day, hour, minute, second, active; };
#pragma pack(pop)

constexpr WORD kLengths[kSettingsKinds + 1] = {
    0,
    sizeof(RecSiteInfo), sizeof(RecAdapter), sizeof(RecCamera), sizeof(RecRelay), sizeof(RecVideoIn),
    sizeof(RecVideoOut), sizeof(RecAudioIn), sizeof(RecAudioOut), sizeof(RecAlarm), sizeof(RecComm),
    sizeof(RecUsedComm), sizeof(RecMask), sizeof(RecStills), sizeof(RecRecCameras), sizeof(RecPreAlarm),
    sizeof(RecPostAlarm), sizeof(RecDialOnAlarm), sizeof(RecMask), sizeof(RecUser), sizeof(RecPostAlarm2),
    sizeof(RecRemoteControl), sizeof(RecAlarm2), sizeof(RecSerialOut), sizeof(RecSerialOut), sizeof(RecControlPanel),
    10, sizeof(RecMask), sizeof(RecTask), sizeof(RecDialOnAlarm2),
};
static_assert(sizeof(RecSiteInfo) == 44 && sizeof(RecAdapter) == 38 && sizeof(RecCamera) == 40);
static_assert(sizeof(RecRelay) == 45 && sizeof(RecVideoIn) == 16 && sizeof(RecVideoOut) == 10);
static_assert(sizeof(RecAudioIn) == 18 && sizeof(RecAudioOut) == 13 && sizeof(RecAlarm) == 40);
static_assert(sizeof(RecComm) == 42 && sizeof(RecUsedComm) == 42 && sizeof(RecMask) == 12);
static_assert(sizeof(RecStills) == 18 && sizeof(RecRecCameras) == 13 && sizeof(RecPreAlarm) == 12);
static_assert(sizeof(RecPostAlarm) == 14 && sizeof(RecDialOnAlarm) == 149 && sizeof(RecUser) == 190);
static_assert(sizeof(RecPostAlarm2) == 20 && sizeof(RecRemoteControl) == 24 && sizeof(RecAlarm2) == 48);
static_assert(sizeof(RecSerialOut) == 60 && sizeof(RecControlPanel) == 10 && sizeof(RecTask) == 15);
static_assert(sizeof(RecDialOnAlarm2) == 1056);

// Copies a text into a fixed slot: cut to the slot less one, zero-filled.
void putText(char* slot, std::size_t size, const char* text, std::size_t textSize) {
    std::memset(slot, 0, size);
    std::memcpy(slot, text, std::min(strnlen(text, textSize), size - 1));
}
template <std::size_t N, std::size_t M>
void putText(char (&slot)[N], const char (&text)[M]) {
    putText(slot, N, text, M);
}

// Appends records to the caller's buffer while they fit.
class ListWriter {
public:
    ListWriter(BYTE* buffer, DWORD capacity) : m_buffer(buffer), m_capacity(capacity) {}
    template <class R>
    void add(WORD kind, WORD adapter, WORD index, R& record) {
        static_assert(std::is_trivially_copyable_v<R>);
        record.h = {WORD(sizeof(R)), kind, adapter, index};
        if (m_buffer == nullptr || m_capacity - m_used < sizeof(R)) {
            LUMO_TRACE(3, "CRemoteSetList::CreateList record of kind %u does not fit: left out", kind);
            return;
        }
        std::memcpy(m_buffer + m_used, &record, sizeof(R));
        m_used += DWORD(sizeof(R));
    }
    DWORD used() const { return m_used; }

private:
    BYTE* m_buffer;
    DWORD m_capacity;
    DWORD m_used = 0;
};

int capped(int count, int table) { return std::clamp(count, 0, table); }

// The entry of the adapter's serial outputs that goes in its list, or -1: the
// first selected entry of the run of defined entries from entry 0.
int selectedSerialOut(const tagRemSetAdapter& adapter) {
    for (int i = 0; i < RS_MAX_SERIAL_OUT; ++i) {
        const tagRemSetSerialout& entry = adapter.SerialOutSetting[i];
        if (entry.eUseStatus == USE_STATUS_NOT_USE) return -1;
        if (entry.eConfigStatus == CONFIG_STATUS_ACTIVE) return i;
    }
    return -1;
}

BYTE invertedPolarity(BYTE polarity) { return polarity == 0 ? 1 : 0; }

}  // namespace

WORD SettingsRecordLength(WORD kind) { return kind >= 1 && kind <= kSettingsKinds ? kLengths[kind] : 0; }

// ---- the program's host ----

std::string LinkSetListHost::siteVersionText() {
    if (m_link == nullptr) return {};
    const StationInfoBlock info = m_link->GetRemoteStationInfo();
    return fixed_text::Read(info.versionText, sizeof info.versionText);
}

namespace {

// The connected station's record in the stations directory, selected and read.
IZoStationsMgr* selectedStation(const std::string& id, ZoStationRecord& record) {
    if (stationsMgr == nullptr || id.empty()) return nullptr;
    IZoStationsMgr* mgr = stationsMgr->Get();
    if (mgr == nullptr || mgr->StartQueryStation(id.c_str()) != 0 || mgr->ReadStationInfo() != 0) return nullptr;
    record.version = kZoStationRecordVersion;
    if (mgr->GetStationInfo(&record) != 0 || record.version != kZoStationRecordVersion) return nullptr;
    return mgr;
}

}  // namespace

bool LinkSetListHost::readSiteDetails(std::string& details) {
    auto record = std::make_unique<ZoStationRecord>();
    if (selectedStation(m_stationId ? m_stationId() : std::string(), *record) == nullptr) return false;
    details = fixed_text::Read(record->details, 255);
    return true;
}

bool LinkSetListHost::writeSiteDetails(const std::string& details) {
    auto record = std::make_unique<ZoStationRecord>();
    IZoStationsMgr* mgr = selectedStation(m_stationId ? m_stationId() : std::string(), *record);
    if (mgr == nullptr) return false;
    putText(record->details, sizeof record->details, details.c_str(), details.size() + 1);
    return mgr->SetStationInfo(record.get()) == 0 && mgr->WriteStationInfo() == 0;
}

void LinkSetListHost::logEntry(short eventId) {
    if (logWrite != nullptr) logWrite->AddEntryEx(nullptr, eventId, 0, "", 0, "");
}

void LinkSetListHost::addRemoteProtocols(tagRemSettings& record) {
    CZoTiltwork tiltwork;
    auto lists = std::make_unique<PtzProtocolLists>();
    tiltwork.AddRemoteProtocols(*lists);
    for (int a = 0; a < RS_MAX_ADAPTERS && a < kPtzProtocolLists; ++a) {
        for (int i = 0; i < RS_MAX_SERIAL_OUT && i < kPtzProtocolEntries; ++i) {
            const PtzProtocolEntry& from = lists->lists[a][i];
            if (from.used == 0) continue;
            tagRemSetSerialout& to = record.Adapter[a].SerialOutSetting[i];
            to.wPortID = from.portId;
            to.wPortStyle = from.portStyle;
            to.dwBaudRate = from.baudRate;
            to.wParityBit = from.parity;
            to.wDataBits = from.dataBits;
            to.wStopBits = from.stopBits;
            to.wSerialType = from.serialType;
            putText(to.szProtocolName, sizeof to.szProtocolName, from.name, sizeof from.name);
            to.eUseStatus = USE_STATUS_REMOTE_USE;
            to.eConfigStatus = CONFIG_STATUS_NON_ACTIVE;
        }
    }
}

// ---- building ----

bool CRemoteSetList::fixPolarity() {
    const std::string version = m_host.siteVersionText();
    for (const char* old : {"2.6", "2.7", "2.8", "2.81"}) {
        if (version.find(old) != std::string::npos) return true;
    }
    return false;
}

LONG CRemoteSetList::UpdateTimeDiff(const SYSTEMTIME& last, const SYSTEMTIME& now) {
    const LONG diff = (LONG(now.wHour) * 3600 + now.wMinute * 60 + now.wSecond) -
                      (LONG(last.wHour) * 3600 + last.wMinute * 60 + last.wSecond);
    LUMO_TRACE(1, "CRemoteSetList::UpdateTimeDiff changed in time was %d", int(diff));
    return diff;
}

DWORD CRemoteSetList::GetListSize(const tagHWProfile& profile, const tagRemSettings& settings) {
    DWORD size = 0;
    const int adapters = capped(profile.adaptersNumber, RS_MAX_ADAPTERS);
    for (int a = 0; a < adapters; ++a) {
        const int cameras = capped(profile.adapters[a].camerasNumber, RS_MAX_CAMERAS);
        const int relays = capped(profile.adapters[a].relaysNumber, RS_MAX_RELAYS);
        size += 38 + 45 * relays + 186 * cameras + 1353;
        if (selectedSerialOut(settings.Adapter[a]) >= 0) size += sizeof(RecSerialOut);
    }
    for (const auto& user : settings.AutenticationInfo) {
        if (user.UserNameOperation != 0) size += sizeof(RecUser);
    }
    size += 42 + 44 + 24 + 10 + 12;
    for (const auto& task : settings.Scheduler.SchedTask) {
        if (task.eConfigStatus == CONFIG_STATUS_ACTIVE) size += sizeof(RecTask);
    }
    return size;
}

DWORD CRemoteSetList::CreateList(const tagHWProfile& profile, tagRemSettings& settings, BYTE* buffer,
                                 DWORD capacity) {
    ListWriter out(buffer, capacity);
    const bool invert = fixPolarity();
    // The site's counts are capped at the record's tables.
    const int adapters = capped(profile.adaptersNumber, RS_MAX_ADAPTERS);
    for (int ai = 0; ai < adapters; ++ai) {
        const WORD a = WORD(ai);
        const tagRemSetAdapter& ad = settings.Adapter[ai];
        const int cameras = capped(profile.adapters[ai].camerasNumber, RS_MAX_CAMERAS);
        const int relays = capped(profile.adapters[ai].relaysNumber, RS_MAX_RELAYS);
        LUMO_TRACE(5, "CRemoteSetList::CreateList adapter %d: %d cameras, %d relays", ai, cameras, relays);

        RecAdapter adapter{};
        putText(adapter.name, ad.szName);
        out.add(ID_SETTINGS_ADAPTER, a, 0, adapter);
        for (int c = 0; c < cameras; ++c) {
            RecCamera camera{};
            putText(camera.name, ad.Camera[c].szName);
            out.add(ID_SETTINGS_CAMERA, a, WORD(c), camera);
        }
        for (int r = 0; r < relays; ++r) {
            const tagRemSetRelay& from = ad.Relay[r];
            RecRelay relay{};
            relay.bType = from.bType;
            relay.bState = from.bState;
            relay.bPolarity = from.bPolarity;
            relay.dwTimeOut = from.dwTimeOut;
            putText(relay.name, from.szName);
            LUMO_TRACE(5, "CRemoteSetList::AddRecordRelay dwTimeOut   %d", int(relay.dwTimeOut));
            out.add(ID_SETTINGS_RELAY, a, WORD(r), relay);
        }
        RecVideoIn videoIn{};
        videoIn.standard = ad.VideoIn.bVideoStandart;
        videoIn.sampleMode = ad.VideoIn.bSampleMode;
        videoIn.brightness = ad.VideoIn.bBrightness;
        videoIn.contrast = ad.VideoIn.bContrast;
        videoIn.hue = ad.VideoIn.bHue;
        videoIn.saturation = ad.VideoIn.bSaturation;
        out.add(ID_SETTINGS_VIDEO_IN, a, 0, videoIn);
        RecVideoOut videoOut{};
        videoOut.standard = ad.VideoOut.bVideoStandart;
        videoOut.sampleMode = ad.VideoOut.bSampleMode;
        out.add(ID_SETTINGS_VIDEO_OUT, a, 0, videoOut);
        RecAudioIn audioIn{};
        audioIn.inputVol = ad.AudioIn.bInputVol;
        audioIn.bass = ad.AudioIn.bBass;
        audioIn.treble = ad.AudioIn.bTreble;
        audioIn.disable = ad.AudioIn.bDisable;
        out.add(ID_SETTINGS_AUDIO_IN, a, 0, audioIn);
        RecAudioOut audioOut{};
        audioOut.disable = ad.AudioOut.bDisable;
        out.add(ID_SETTINGS_AUDIO_OUT, a, 0, audioOut);
        for (int c = 0; c < cameras; ++c) {
            RecAlarm alarm{};
            alarm.polarity = invert ? invertedPolarity(ad.Alarm[c].bPolarity) : ad.Alarm[c].bPolarity;
            if (invert) LUMO_TRACE(5, " FIX POLARITY CRemoteSetList::AddRecordAlarm bPolarity %d", alarm.polarity);
            alarm.enable = 1;
            putText(alarm.name, ad.Alarm[c].szName);
            out.add(ID_SETTINGS_ALARM, a, WORD(c), alarm);
        }
        auto relayEvent = [&](int event) {
            RecMask matrix{};
            matrix.mask = ad.RelayMatrix[event].dwRelaysState;
            out.add(ID_SETTINGS_RELAY_MATRIX, a, WORD(event), matrix);
        };
        for (int c = 0; c < cameras; ++c) relayEvent(c);
        for (int event = 16; event <= 20; ++event) relayEvent(event);
        RecStills stills{};
        stills.type = ad.StillsFormat.wCompressionType;
        stills.quality = ad.StillsFormat.wCompressionQuality;
        stills.resolution = ad.StillsFormat.wRecordingResolution;
        stills.framesDelay = ad.RecCameras.dwFramesDelay;
        out.add(ID_SETTINGS_STILLS_RECORDING_FORMAT, a, 0, stills);
        RecRecCameras recCameras{};
        recCameras.enableWithConnection = ad.RecCameras.bEnableRecWithConnection;
        recCameras.cameras = ad.RecCameras.dwRecordingCameras;
        out.add(ID_SETTINGS_RECORDING_CAMERAS, a, 0, recCameras);
        for (int c = 0; c < cameras; ++c) {
            RecPreAlarm pre{};
            pre.delay = WORD(ad.RecPreAlarm[c].dwDelay);
            pre.frames = WORD(ad.RecPreAlarm[c].dwNumberOfFrames);
            out.add(ID_SETTINGS_RECORDING_PRE_ALARM, a, WORD(c), pre);
        }
        for (int c = 0; c < cameras; ++c) {
            RecPostAlarm post{};
            post.delay = WORD(ad.RecPostAlarm[c].dwDelay);
            post.frames = WORD(ad.RecPostAlarm[c].dwNumberOfFrames);
            post.maxEvents = WORD(ad.RecPostAlarm[c].dwMaxNumberofEvents);
            out.add(ID_SETTINGS_RECORDING_POST_ALARM, a, WORD(c), post);
        }
        for (int c = 0; c < cameras; ++c) {
            RecPostAlarm2 post{};
            post.delay = ad.RecPostAlarm[c].dwDelay;
            post.frames = ad.RecPostAlarm[c].dwNumberOfFrames;
            post.maxEvents = ad.RecPostAlarm[c].dwMaxNumberofEvents;
            out.add(ID_SETTINGS_RECORDING_POST_ALARM2, a, WORD(c), post);
        }
        const tagRemSetRecDialOnAlarm& doa = ad.RecDialOnAlarm;
        RecDialOnAlarm dial{};
        dial.entryDelay = doa.dwEntrytDelay;
        dial.exitDelay = doa.dwExitDelay;
        for (int p = 0; p < RS_MAX_PHONES; ++p) putText(dial.phones[p], 30, doa.szPhoneList[p], RS_PHONE_BYTES);
        std::memcpy(dial.tries, doa.bTriesForThisNum, sizeof dial.tries);
        // The short form carries the inverse of the flag.
        const DWORD dialToSuccess = doa.dwDialToSuccess;
        dial.dialToSuccess = BYTE(dialToSuccess == 0 ? 1 : dialToSuccess == 1 ? 0 : dialToSuccess);
        dial.unattendedTimeOut = doa.UnattendedTimeOut;
        dial.cameras = doa.dwDoaCameras;
        out.add(ID_SETTINGS_RECORDING_DIAL_ON_ALARM, a, 0, dial);
        auto dial2 = std::make_unique<RecDialOnAlarm2>();
        dial2->entryDelay = doa.dwEntrytDelay;
        dial2->exitDelay = doa.dwExitDelay;
        for (int p = 0; p < RS_MAX_PHONES; ++p) putText(dial2->phones[p], doa.szPhoneList[p]);
        std::memcpy(dial2->tries, doa.bTriesForThisNum, sizeof dial2->tries);
        dial2->dialToSuccess = doa.dwDialToSuccess;
        dial2->unattendedTimeOut = doa.UnattendedTimeOut;
        dial2->cameras = doa.dwDoaCameras;
        out.add(ID_SETTINGS_RECORDING_DIAL_ON_ALARM2, a, 0, *dial2);
        for (int c = 0; c < cameras; ++c) {
            const tagRemSetAlarm& from = ad.Alarm[c];
            RecAlarm2 alarm{};
            alarm.polarity = invert ? invertedPolarity(from.bPolarity) : from.bPolarity;
            if (invert) LUMO_TRACE(5, " FIX POLARITY CRemoteSetList::AddRecordAlarm2 bPolarity %d", alarm.polarity);
            alarm.enable = 1;
            putText(alarm.name, from.szName);
            alarm.entryDelay = from.dwEntryDelay;
            alarm.flags = from.bPanicButton != 0 ? 1 : 0;
            out.add(ID_SETTINGS_ALARM2, a, WORD(c), alarm);
        }
        if (const int s = selectedSerialOut(ad); s >= 0) {
            const tagRemSetSerialout& from = ad.SerialOutSetting[s];
            RecSerialOut serial{};
            serial.portId = from.wPortID;
            serial.command = from.eUseStatus == USE_STATUS_REMOTE_USE ? 0 : 1;
            serial.portStyle = from.wPortStyle;
            serial.baudRate = from.dwBaudRate;
            serial.parity = from.wParityBit;
            serial.dataBits = from.wDataBits;
            serial.stopBits = from.wStopBits;
            serial.serialType = from.wSerialType;
            putText(serial.protocol, from.szProtocolName);
            out.add(ID_SETTINGS_USED_SERIAL_OUT, a, WORD(s), serial);
        }
    }

    for (int u = 0; u < RS_MAX_USERS; ++u) {
        const tagRemSetAutenticationInfo& from = settings.AutenticationInfo[u];
        if (from.UserNameOperation == 0) continue;
        RecUser user{};
        putText(user.name, from.szUserName);
        putText(user.password, from.szPassword);
        user.level = from.bUserLevel;
        user.operation = from.UserNameOperation;
        out.add(ID_SETTINGS_AUTENTICATION_INFO, 0, WORD(u), user);
    }

    RecUsedComm comm{};
    comm.rings = BYTE(settings.ModemParam.wRingsToAnswer);
    putText(comm.name, "Modem settings");
    out.add(ID_SETTINGS_USED_COMM, 0, 0, comm);

    tagRemSetSiteInfo& site = settings.SiteInfo;
    RecSiteInfo siteRecord{};
    putText(siteRecord.siteName, site.szSiteName);
    CStructConvertor convert;
    LONG seconds = 0;
    bool timeOk = true;
    switch (site.eTimeSyncOption) {
    case TIME_SYNC_OPTION_NONE:
        // Keep the site's clock: its time at the download plus the time since.
        timeOk = convert.SysTimeToTime_t(site.tSysTime, &seconds) != 0;
        seconds += UpdateTimeDiff(site.sTimeLastDownloadTime, platform::currentLocalTime());
        break;
    case TIME_SYNC_OPTION_MANUAL:
        timeOk = convert.SysTimeToTime_t(site.tSysTime, &seconds) != 0;
        m_host.logEntry(kLogSiteClockSet);
        break;
    case TIME_SYNC_OPTION_PC:
        site.tSysTime = platform::currentLocalTime();
        timeOk = convert.SysTimeToTime_t(site.tSysTime, &seconds) != 0;
        m_host.logEntry(kLogSiteClockSet);
        break;
    default:
        LUMO_TRACE(1, "CRemoteSetList::AddRecordSiteInfo ERROR:Invalid Sync Time Option reseting time");
        seconds = 0;
        break;
    }
    if (!timeOk) {
        LUMO_TRACE(1, "CRemoteSetList::cStructConvertor.SysTimeToTime_t Failed");
        seconds = 0;
    }
    siteRecord.siteTime = DWORD(seconds);
    out.add(ID_SETTINGS_SITE_INFO, 0, 0, siteRecord);
    m_host.writeSiteDetails(fixed_text::Read(site.sSiteDetails, sizeof site.sSiteDetails));

    RecRemoteControl rc{};
    std::memcpy(rc.arm, settings.RemoteControl.bRcArmCode, 4);
    std::memcpy(rc.disarm, settings.RemoteControl.bRcDisArmCode, 4);
    rc.features = settings.RemoteControl.dwFeatures;
    out.add(ID_SETTINGS_REMOTE_CONTROL, 0, 0, rc);
    RecControlPanel cp{};
    cp.enable = settings.ControlPanel.bEnable;
    cp.polarityNO = settings.ControlPanel.bPolarityNO;
    out.add(ID_SETTINGS_CP, 0, 0, cp);
    RecMask noVideo{};
    noVideo.mask = settings.Adapter[0].RecDialOnAlarm.dwDialOnNoVideo;
    out.add(ID_SETTINGS_DIAL_ON_NOVIDEO, 0, 0, noVideo);

    for (int k = 0; k < MAX_NUMBER_OF_TASKS; ++k) {
        const tagRemSetSchedulerTask& from = settings.Scheduler.SchedTask[k];
        if (from.eConfigStatus != CONFIG_STATUS_ACTIVE) continue;
        RecTask task{};
        task.operation = from.wOperationCode;
        task.day = from.bDayOfWeek;
        task.hour = from.bHour;
        task.minute = from.bMinute;
        task.second = from.bSecond;
        task.active = 1;
        out.add(ID_SETTINGS_SCHEDULER_TASK, 0, WORD(k), task);
    }
    LUMO_TRACE(5, "CRemoteSetList::CreateList List size is %d", int(out.used()));
    return out.used();
}

// ---- parsing ----

bool CRemoteSetList::DispatchList(const BYTE* buffer, DWORD length, tagRemSettings& settings) {
    if (buffer == nullptr || length == 0) {
        LUMO_TRACE(1, "ERROR:CRemoteSetList::DispatchList the list is empty");
        return false;
    }
    // Check the whole list before taking anything of it.
    int known = 0;
    for (DWORD at = 0; at < length;) {
        SetListHeader h{};
        if (length - at < sizeof h) {
            LUMO_TRACE(1, "ERROR:CRemoteSetList::DispatchList %lu bytes at %lu cannot hold a record header",
                       static_cast<unsigned long>(length - at), static_cast<unsigned long>(at));
            return false;
        }
        std::memcpy(&h, buffer + at, sizeof h);
        if (h.wSize < sizeof h || h.wSize > length - at) {
            LUMO_TRACE(1, "ERROR:CRemoteSetList::DispatchList::RecordLen is %d at %lu with %lu bytes left", h.wSize,
                       static_cast<unsigned long>(at), static_cast<unsigned long>(length - at));
            return false;
        }
        const WORD expected = SettingsRecordLength(h.wSettingsID);
        if (expected != 0 && h.wSize != expected) {
            LUMO_TRACE(1, "CRemoteSetList::DispatchList ERROR in wRecordLen: kind %d of %d bytes, %d expected",
                       h.wSettingsID, h.wSize, expected);
            return false;
        }
        if (expected != 0 && h.wSettingsID != ID_SETTINGS_RESERVED_26) ++known;
        at += h.wSize;
    }
    if (known == 0) {
        LUMO_TRACE(1, "ERROR:CRemoteSetList::DispatchList the list of %lu bytes holds no settings",
                   static_cast<unsigned long>(length));
        return false;
    }

    auto record = std::make_unique<tagRemSettings>();
    m_host.addRemoteProtocols(*record);
    for (DWORD at = 0; at < length;) {
        SetListHeader h{};
        std::memcpy(&h, buffer + at, sizeof h);
        if (h.wSettingsID < 1 || h.wSettingsID > kSettingsKinds) {
            LUMO_TRACE(1, "CPacketConnection::Dispatch Setting List->Record of Type %d not supported", h.wSettingsID);
        } else if (h.wSettingsID != ID_SETTINGS_RESERVED_26) {
            dispatchRecord(buffer + at, h, *record);
        }
        at += h.wSize;
    }
    settings = *record;
    return true;
}

void CRemoteSetList::dispatchRecord(const BYTE* bytes, const SetListHeader& h, tagRemSettings& s) {
    auto as = [&](auto& rec) { std::memcpy(&rec, bytes, sizeof rec); };
    // Texts from the wire are terminated inside their fields.
    auto text = [](char* field, std::size_t size, const char* from, std::size_t fromSize) {
        putText(field, size, from, fromSize);
    };
    const WORD kind = h.wSettingsID;
    const bool stationKind = kind == ID_SETTINGS_SITE_INFO || kind == ID_SETTINGS_COMM ||
                             kind == ID_SETTINGS_USED_COMM || kind == ID_SETTINGS_AUTENTICATION_INFO ||
                             kind == ID_SETTINGS_REMOTE_CONTROL || kind == ID_SETTINGS_CP ||
                             kind == ID_SETTINGS_SCHEDULER_TASK;
    if (!stationKind && h.wAdIdx >= RS_MAX_ADAPTERS) {
        LUMO_TRACE(3, "CRemoteSetList::DispatchRecord kind %d for adapter %d: ignored", kind, h.wAdIdx);
        return;
    }
    tagRemSetAdapter& ad = s.Adapter[stationKind ? 0 : h.wAdIdx];
    auto inRange = [&](int table) {
        if (h.wIndex < table) return true;
        LUMO_TRACE(3, "CRemoteSetList::DispatchRecord kind %d index %d outside its %d entries: ignored", kind,
                   h.wIndex, table);
        return false;
    };
    const bool invert = (kind == ID_SETTINGS_ALARM || kind == ID_SETTINGS_ALARM2) && fixPolarity();

    switch (kind) {
    case ID_SETTINGS_SITE_INFO: {
        RecSiteInfo r;
        as(r);
        LUMO_TRACE(5, "ID_SETTINGS_SITE_INFO: selected adapter %d, time %lu", r.selectedAdapter,
                   static_cast<unsigned long>(r.siteTime));
        text(s.SiteInfo.szSiteName, sizeof s.SiteInfo.szSiteName, r.siteName, sizeof r.siteName);
        CStructConvertor convert;
        if (!convert.Time_tToSysTime(LONG(r.siteTime), &s.SiteInfo.tSysTime)) {
            LUMO_TRACE(1, "CRemoteSetList::DispatchRecord the site time %lu cannot be converted",
                       static_cast<unsigned long>(r.siteTime));
        }
        s.SiteInfo.sTimeLastDownloadTime = platform::currentLocalTime();
        std::string details;
        if (m_host.readSiteDetails(details)) {
            text(s.SiteInfo.sSiteDetails, sizeof s.SiteInfo.sSiteDetails, details.c_str(), details.size() + 1);
        }
        break;
    }
    case ID_SETTINGS_ADAPTER: {
        RecAdapter r;
        as(r);
        text(ad.szName, sizeof ad.szName, r.name, sizeof r.name);
        break;
    }
    case ID_SETTINGS_CAMERA: {
        RecCamera r;
        as(r);
        if (!inRange(RS_MAX_CAMERAS)) break;
        LUMO_TRACE(5, "ID_SETTINGS_CAMERA: Camera type:%d", r.cameraType);
        text(ad.Camera[h.wIndex].szName, RS_NAME_BYTES, r.name, sizeof r.name);
        break;
    }
    case ID_SETTINGS_RELAY: {
        RecRelay r;
        as(r);
        if (!inRange(RS_MAX_RELAYS)) break;
        tagRemSetRelay& to = ad.Relay[h.wIndex];
        LUMO_TRACE(5, "ID_SETTINGS_RELAY: Relay Time out:%d", int(r.dwTimeOut));
        to.bType = r.bType;
        to.bState = r.bState;
        to.bPolarity = r.bPolarity;
        to.dwTimeOut = r.dwTimeOut;
        text(to.szName, sizeof to.szName, r.name, sizeof r.name);
        break;
    }
    case ID_SETTINGS_VIDEO_IN: {
        RecVideoIn r;
        as(r);
        ad.VideoIn.bVideoStandart = r.standard;
        ad.VideoIn.bSampleMode = r.sampleMode;
        ad.VideoIn.bBrightness = r.brightness;
        ad.VideoIn.bContrast = r.contrast;
        ad.VideoIn.bHue = r.hue;
        ad.VideoIn.bSaturation = r.saturation;
        break;
    }
    case ID_SETTINGS_VIDEO_OUT: {
        RecVideoOut r;
        as(r);
        ad.VideoOut.bVideoStandart = r.standard;
        ad.VideoOut.bSampleMode = r.sampleMode;
        break;
    }
    case ID_SETTINGS_AUDIO_IN: {
        RecAudioIn r;
        as(r);
        ad.AudioIn.bInputType = r.inputType;
        ad.AudioIn.bInputVol = r.inputVol;
        ad.AudioIn.bAgc = r.agc;
        ad.AudioIn.bBass = r.bass;
        ad.AudioIn.bTreble = r.treble;
        ad.AudioIn.bSignalLevel = r.signalLevel;
        ad.AudioIn.bDisable = r.disable;
        break;
    }
    case ID_SETTINGS_AUDIO_OUT: {
        RecAudioOut r;
        as(r);
        ad.AudioOut.bDisable = r.disable;
        ad.AudioOut.bOutPutVol = r.outputVol;
        break;
    }
    case ID_SETTINGS_ALARM:
    case ID_SETTINGS_ALARM2: {
        if (!inRange(RS_MAX_ALARMS)) break;
        tagRemSetAlarm& to = ad.Alarm[h.wIndex];
        RecAlarm2 r{};
        std::memcpy(&r, bytes, kind == ID_SETTINGS_ALARM ? sizeof(RecAlarm) : sizeof(RecAlarm2));
        to.bPolarity = invert ? invertedPolarity(r.polarity) : r.polarity;
        if (invert) {
            LUMO_TRACE(5, kind == ID_SETTINGS_ALARM ? "FIX FOR POLARITY(NEG) ID_SETTINGS_ALARM: Alarm Polarity :%d"
                                                    : "FIX FOR POLARITY(NEG) ID_SETTINGS_ALARM2: Alarm Polarity :%d",
                       to.bPolarity);
        }
        to.bEnable = r.enable;
        text(to.szName, sizeof to.szName, r.name, sizeof r.name);
        if (kind == ID_SETTINGS_ALARM2) {
            to.dwEntryDelay = r.entryDelay;
            to.bPanicButton = (r.flags & 1) ? 1 : 0;
        }
        break;
    }
    case ID_SETTINGS_COMM: {
        RecComm r;
        as(r);
        if (h.wIndex >= RS_MAX_NUMBER_OF_COMM) {
            LUMO_TRACE(3, "CRemoteSetList::DispatchRecord sComms.wIndex > RS_MAX_NUMBER_OF_COMM");
            break;
        }
        LUMO_TRACE(3, "ID_SETTINGS_COMM: type %d, sub type %d", r.commType, r.subCommType);
        tagRemSetComm& to = s.CommDevice[h.wIndex];
        to.wCommType = r.commType;
        to.wSubCommType = r.subCommType;
        text(to.szName, sizeof to.szName, r.name, sizeof r.name);
        break;
    }
    case ID_SETTINGS_USED_COMM: {
        RecUsedComm r;
        as(r);
        s.SiteInfo.wSelectedComm = h.wIndex;
        s.ModemParam.wRingsToAnswer = r.rings;
        break;
    }
    case ID_SETTINGS_RELAY_MATRIX: {
        RecMask r;
        as(r);
        if (inRange(RS_MAX_RELAY_MATRIX)) ad.RelayMatrix[h.wIndex].dwRelaysState = r.mask;
        break;
    }
    case ID_SETTINGS_STILLS_RECORDING_FORMAT: {
        RecStills r;
        as(r);
        ad.StillsFormat.wCompressionType = r.type;
        ad.StillsFormat.wCompressionQuality = r.quality;
        ad.StillsFormat.wRecordingResolution = r.resolution;
        ad.RecCameras.dwFramesDelay = r.framesDelay;
        break;
    }
    case ID_SETTINGS_RECORDING_CAMERAS: {
        RecRecCameras r;
        as(r);
        ad.RecCameras.bEnableRecWithConnection = r.enableWithConnection;
        ad.RecCameras.dwRecordingCameras = r.cameras;
        break;
    }
    case ID_SETTINGS_RECORDING_PRE_ALARM: {
        RecPreAlarm r;
        as(r);
        if (!inRange(RS_MAX_CAMERAS)) break;
        ad.RecPreAlarm[h.wIndex].dwDelay = r.delay;
        ad.RecPreAlarm[h.wIndex].dwNumberOfFrames = r.frames;
        break;
    }
    case ID_SETTINGS_RECORDING_POST_ALARM: {
        RecPostAlarm r;
        as(r);
        if (!inRange(RS_MAX_CAMERAS)) break;
        ad.RecPostAlarm[h.wIndex] = {r.delay, r.frames, r.maxEvents};
        break;
    }
    case ID_SETTINGS_RECORDING_POST_ALARM2: {
        RecPostAlarm2 r;
        as(r);
        if (!inRange(RS_MAX_CAMERAS)) break;
        ad.RecPostAlarm[h.wIndex] = {r.delay, r.frames, r.maxEvents};
        break;
    }
    case ID_SETTINGS_RECORDING_DIAL_ON_ALARM: {
        RecDialOnAlarm r;
        as(r);
        tagRemSetRecDialOnAlarm& to = ad.RecDialOnAlarm;
        to.dwEntrytDelay = r.entryDelay;
        to.dwExitDelay = r.exitDelay;
        for (int p = 0; p < RS_MAX_PHONES; ++p) text(to.szPhoneList[p], RS_PHONE_BYTES, r.phones[p], 30);
        std::memcpy(to.bTriesForThisNum, r.tries, 4);
        to.dwDialToSuccess = r.dialToSuccess == 0 ? 1 : 0;
        to.UnattendedTimeOut = r.unattendedTimeOut;
        to.dwDoaCameras = r.cameras;
        break;
    }
    case ID_SETTINGS_RECORDING_DIAL_ON_ALARM2: {
        auto r = std::make_unique<RecDialOnAlarm2>();
        as(*r);
        tagRemSetRecDialOnAlarm& to = ad.RecDialOnAlarm;
        to.dwEntrytDelay = r->entryDelay;
        to.dwExitDelay = r->exitDelay;
        for (int p = 0; p < RS_MAX_PHONES; ++p) text(to.szPhoneList[p], RS_PHONE_BYTES, r->phones[p], RS_PHONE_BYTES);
        std::memcpy(to.bTriesForThisNum, r->tries, 4);
        to.dwDialToSuccess = r->dialToSuccess;
        to.UnattendedTimeOut = r->unattendedTimeOut;
        to.dwDoaCameras = r->cameras;
        break;
    }
    case ID_SETTINGS_ALARM_RECORDING: {
        RecMask r;
        as(r);
        if (inRange(RS_MAX_ALARMS)) ad.AlarmsRecording[h.wIndex].dwRecordingCameras = r.mask;
        break;
    }
    case ID_SETTINGS_AUTENTICATION_INFO: {
        RecUser r;
        as(r);
        if (!inRange(RS_MAX_USERS)) break;
        tagRemSetAutenticationInfo& to = s.AutenticationInfo[h.wIndex];
        text(to.szUserName, sizeof to.szUserName, r.name, sizeof r.name);
        text(to.szPassword, sizeof to.szPassword, r.password, sizeof r.password);
        to.bUserLevel = r.level;
        to.UserNameOperation = r.operation;
        break;
    }
    case ID_SETTINGS_REMOTE_CONTROL: {
        RecRemoteControl r;
        as(r);
        std::memcpy(s.RemoteControl.bRcArmCode, r.arm, 4);
        std::memcpy(s.RemoteControl.bRcDisArmCode, r.disarm, 4);
        s.RemoteControl.dwFeatures = r.features;
        break;
    }
    case ID_SETTINGS_SERIAL_OUT:
    case ID_SETTINGS_USED_SERIAL_OUT: {
        RecSerialOut r;
        as(r);
        if (!inRange(RS_MAX_SERIAL_OUT) || r.command != 0) break;
        char wanted[RS_NAME_BYTES];
        text(wanted, sizeof wanted, r.protocol, sizeof r.protocol);
        for (tagRemSetSerialout& entry : ad.SerialOutSetting) {
            if (entry.eUseStatus == USE_STATUS_REMOTE_USE &&
                strncasecmp(entry.szProtocolName, wanted, sizeof entry.szProtocolName) == 0) {
                entry.eConfigStatus = CONFIG_STATUS_ACTIVE;
                break;
            }
        }
        break;
    }
    case ID_SETTINGS_CP: {
        RecControlPanel r;
        as(r);
        s.ControlPanel.bEnable = r.enable;
        s.ControlPanel.bPolarityNO = r.polarityNO;
        break;
    }
    case ID_SETTINGS_DIAL_ON_NOVIDEO: {
        RecMask r;
        as(r);
        ad.RecDialOnAlarm.dwDialOnNoVideo = r.mask;
        break;
    }
    case ID_SETTINGS_SCHEDULER_TASK: {
        RecTask r;
        as(r);
        if (h.wIndex >= MAX_NUMBER_OF_TASKS) {
            LUMO_TRACE(1, "CRemoteSetList::DispatchRecord SETTINGS_SCHEDULER_TASK INDEX > MAX_NUMBER_OF_TASKS");
            break;
        }
        tagRemSetSchedulerTask& to = s.Scheduler.SchedTask[h.wIndex];
        to.wOperationCode = r.operation;
        to.bDayOfWeek = r.day;
        to.bHour = r.hour;
        to.bMinute = r.minute;
        to.bSecond = r.second;
        to.eConfigStatus = CONFIG_STATUS_ACTIVE;
        break;
    }
    default:
        break;
    }
}

// ---- the list file ----

int CRemoteSetList::CreateSetFile(const BYTE* buffer, DWORD length, const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        LUMO_TRACE(5, "CRemoteSetList::CreateSetFile CreateFile %s Failed ", path.c_str());
        return 0;
    }
    DWORD done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd, buffer + done, length - done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            ::close(fd);
            LUMO_TRACE(5, "CRemoteSetList::CreateSetFile WriteFile %s Failed ", path.c_str());
            return 0;
        }
        done += DWORD(n);
    }
    return ::close(fd) == 0 ? 1 : 0;
}

int CRemoteSetList::GetSetListFileSize(const std::string& path, DWORD& size) {
    size = 0;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > 0x7FFFFFFF) return 0;
    size = DWORD(st.st_size);
    return 1;
}

int CRemoteSetList::ReadSetFile(BYTE* buffer, DWORD length, const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    DWORD done = 0;
    while (done < length) {
        const ssize_t n = ::read(fd, buffer + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += DWORD(n);
    }
    ::close(fd);
    return done == length ? 1 : 0;
}

}  // namespace trennick
