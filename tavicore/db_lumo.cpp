#include "tavicore/db_lumo.h"

#include "common/product_registry.h"
#include "platform/registry.h"
#include "tavicore/settings_store.h"
#include "tavicore/tavicore_globals.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

using settings_store::Store;

namespace {

constexpr const char* kGeneral = "General";
constexpr const char* kVideo = "Video";
constexpr const char* kDebriefValue = "Debrief Profiles";

// The sound settings in section "General", in the order they are read and written.
constexpr settings_store::Field<tagSBProfiles> kSBFields[] = {
    SETTINGS_NUMBER(tagSBProfiles, alarmEnable, "Wav Alarm Enable", 1),
    SETTINGS_NUMBER(tagSBProfiles, ringEnable, "Wav Ring Enable", 1),
    SETTINGS_NUMBER(tagSBProfiles, playAlarmTimeMs, "PlayAlarmTime", 10000),
    SETTINGS_NUMBER(tagSBProfiles, playRingTimeMs, "PlayRingTime", 10000),
    SETTINGS_TEXT(tagSBProfiles, alarmFile, "Wav Alarm File Name", 255, "siren.wav"),
    SETTINGS_TEXT(tagSBProfiles, ringFile, "Wav Ring File Name", 255, "resource"),
};

void setName(char (&field)[kSettingsNameBytes], const char* format, int n) {
    char text[64];
    std::snprintf(text, sizeof text, format, n);
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text, ::strnlen(text, sizeof field));
}

}  // namespace

CDBLumo::CDBLumo() {
    // The defaults, built once.
    std::memset(&m_defaultHWProfile, 0, sizeof m_defaultHWProfile);
    m_defaultHWProfile.version = 1;
    m_defaultHWProfile.adaptersNumber = kMaxAdapters;
    m_defaultHWProfile.currentAdapter = 0;
    m_defaultHWProfile.snapshotResolution = 1;
    m_defaultHWProfile.jpegQuality = 70;
    m_defaultHWProfile.jpegCompression = 1;
    m_defaultHWProfile.automaticSwitchIntervalMs = 3000;

    std::memset(&m_defaultSplitProfiles, 0, sizeof m_defaultSplitProfiles);
    m_defaultSplitProfiles.splitDelay = 20;
    m_defaultSplitProfiles.splitDelayForRecord = 20;
    m_defaultSplitProfiles.minimumSplitDelay = 20;
    m_defaultSplitProfiles.minimumSplitDelayForRecord = 20;
    m_defaultSplitProfiles.useMinimumDelay = 1;
    m_defaultSplitProfiles.useMinimumDelayForRecord = 1;
    m_hwProfilesUpdated = 0;

    std::memset(&m_defaultEvents, 0, sizeof m_defaultEvents);
    std::memset(&m_defaultRecordMode, 0, sizeof m_defaultRecordMode);
    for (int a = 0; a < kMaxAdapters; ++a) {
        tagAdapterBlock& adapter = m_defaultHWProfile.adapters[a];
        setName(adapter.name, "Group #%d", a + 1);
        adapter.camerasNumber = 16;
        adapter.relaysNumber = 8;
        adapter.selectedInput = 0;
        adapter.videoStandard = 1;
        adapter.brightness = 50;
        adapter.contrast = 50;
        adapter.hue = 50;
        adapter.saturation = 50;
        adapter.automaticSwitch = 0;
        for (int c = 0; c < kCamerasPerAdapter; ++c) {
            tagCameraBlock& camera = adapter.cameras[c];
            setName(camera.name, "Camera #%d", a * kCamerasPerAdapter + c + 1);
            camera.maxEventNumber = 3;
            camera.lastEventIndex = 0;
            camera.snapshotNum = 3;
            camera.snapshotDelayMs = 3000;
        }
        adapter.cameras[0].automaticSwitch = 1;
        for (int r = 0; r < kRelaysPerAdapter; ++r) {
            tagRelayBlock& relay = adapter.relays[r];
            setName(relay.name, "Relay #%d", a * kRelaysPerAdapter + r + 1);
            relay.type = r == 2 ? 1 : 0;
        }
        m_defaultSplitProfiles.splitEnable[a] = 1;
        m_defaultSplitProfiles.quadOrSplitActive[a] = 0;
    }

    m_hwProfile = m_defaultHWProfile;
    m_splitProfiles = m_defaultSplitProfiles;
    m_events = m_defaultEvents;
    m_recordMode = m_defaultRecordMode;
    std::memset(&m_relayTriggerMtx, 0, sizeof m_relayTriggerMtx);
    std::memset(&m_historyRec, 0, sizeof m_historyRec);
    m_triggerProfiles.isEnablePollingTriggers = 1;

    // The three records every station keeps.
    std::memset(&m_debrief, 0, sizeof m_debrief);
    std::memset(&m_sbProfiles, 0, sizeof m_sbProfiles);
    {
        // Read the debrief settings; a missing or misshapen value gets the
        // record's contents, so it exists afterwards.
        char path[512];
        BuildRegPath(gcsVlmInsID.c_str(), kGeneral, path, sizeof path);
        platform::RegistryKey key;
        if (platform::RegistryKey::create(platform::HKEY_CURRENT_USER, path, platform::KEY_ALL_ACCESS, key) ==
            ERROR_SUCCESS) {
            DWORD type = 0;
            tagDebriefSettings read{};
            DWORD size = sizeof read;
            if (key.queryValue(kDebriefValue, &type, reinterpret_cast<BYTE*>(&read), &size) == ERROR_SUCCESS &&
                type == platform::REG_BINARY && size == sizeof read) {
                m_debrief = read;
            } else {
                (void)key.setValue(kDebriefValue, platform::REG_BINARY, reinterpret_cast<const BYTE*>(&m_debrief),
                                   sizeof m_debrief);
            }
        }
    }
    ReadSBProfiles();
    WriteSBProfiles();
    Store store;
    m_videoAutoDetect = store.readDwordBack(kVideo, "Use Video Standard Autodection", 1);
    std::memset(&m_preAlarm, 0, sizeof m_preAlarm);
}

CDBLumo::~CDBLumo() {
    // The debrief settings are taken under the lock and written while the lock
    // still exists; then the sound settings.
    WriteDebriefProfiles();
    WriteSBProfiles();
}

int CDBLumo::BuildRegPath(const char* instanceId, const char* section, char* out, DWORD outBytes) {
    return CopyInstanceKeyPath(instanceId, section, out, outBytes) ? 1 : 0;
}

void CDBLumo::WriteDebriefProfiles() {
    tagDebriefSettings copy;
    {
        std::lock_guard lock(m_lock);
        copy = m_debrief;
    }
    char path[512];
    BuildRegPath(gcsVlmInsID.c_str(), kGeneral, path, sizeof path);
    platform::RegistryKey key;
    if (platform::RegistryKey::create(platform::HKEY_CURRENT_USER, path, platform::KEY_ALL_ACCESS, key) ==
        ERROR_SUCCESS) {
        (void)key.setValue(kDebriefValue, platform::REG_BINARY, reinterpret_cast<const BYTE*>(&copy), sizeof copy);
    }
}

void CDBLumo::ReadSBProfiles() {
    Store store;
    store.readFields<tagSBProfiles>(kGeneral, kSBFields, m_sbProfiles, nullptr, settings_store::Missing::UseDefault);
}

void CDBLumo::WriteSBProfiles() {
    Store store;
    store.writeFields<tagSBProfiles>(kGeneral, kSBFields, m_sbProfiles);
}

int CDBLumo::GetHWProfiles(tagHWProfile* out, int) {
    std::lock_guard lock(m_lock);
    *out = m_hwProfile;
    return 1;
}

int CDBLumo::GetDefaultHWProfiles(tagHWProfile* out, int) {
    std::lock_guard lock(m_lock);
    *out = m_defaultHWProfile;
    return 1;
}

int CDBLumo::GetSplitProfiles(tagSplitProfiles* out, int) {
    std::lock_guard lock(m_lock);
    *out = m_splitProfiles;
    return 1;
}

int CDBLumo::GetDefaultSplitProfiles(tagSplitProfiles* out, int) {
    std::lock_guard lock(m_lock);
    *out = m_defaultSplitProfiles;
    return 1;
}

void CDBLumo::clampCounts(tagHWProfile& profile) {
    profile.adaptersNumber = capCount<WORD>(profile.adaptersNumber, kMaxAdapters);
    for (auto& adapter : profile.adapters) {
        adapter.camerasNumber = capCount<WORD>(adapter.camerasNumber, kCamerasPerAdapter);
        adapter.relaysNumber = capCount<WORD>(adapter.relaysNumber, kRelaysPerAdapter);
    }
}

int CDBLumo::UpdateHWProfiles(const tagHWProfile* in, const tagMask* mask, int) {
    std::lock_guard lock(m_lock);
    m_hwProfilesUpdated = 1;
    if (mask == nullptr) {
        m_hwProfile = *in;
        clampCounts(m_hwProfile);
        return 1;
    }
    const DWORD flags = mask->flags;
    if (((flags & kMaskOneAdapter) && mask->adapter >= kMaxAdapters) ||
        ((flags & kMaskMaxEventNumber) && mask->camera >= kCamerasPerAdapter)) {
        return 0;
    }
    m_hwProfile.adaptersNumber = capCount<WORD>(in->adaptersNumber, kMaxAdapters);
    if (flags & kMaskSnapshotResolution) {
        m_hwProfile.snapshotResolution = in->snapshotResolution;
    }
    if (flags & kMaskJpeg) {
        m_hwProfile.jpegQuality = in->jpegQuality;
        m_hwProfile.jpegCompression = in->jpegCompression;
    }
    if (flags & kMaskSwitchInterval) {
        m_hwProfile.automaticSwitchIntervalMs = in->automaticSwitchIntervalMs;
    }
    const int first = (flags & kMaskOneAdapter) ? mask->adapter : 0;
    const int last = (flags & kMaskOneAdapter) ? mask->adapter : kMaxAdapters - 1;
    for (int a = first; a <= last; ++a) {
        tagAdapterBlock& to = m_hwProfile.adapters[a];
        const tagAdapterBlock& from = in->adapters[a];
        if (flags & kMaskAdapterName) {
            std::memcpy(to.name, from.name, sizeof to.name);
        }
        if (flags & kMaskSelectedInput) {
            to.selectedInput = from.selectedInput;
        }
        if (flags & kMaskPicture) {
            to.videoStandard = from.videoStandard;
            to.brightness = from.brightness;
            to.contrast = from.contrast;
            to.hue = from.hue;
            to.saturation = from.saturation;
        }
        if (flags & kMaskAdapterSwitching) {
            to.automaticSwitch = from.automaticSwitch;
        }
        if (flags & kMaskCameras) {
            std::memcpy(to.cameras, from.cameras, sizeof to.cameras);
        }
        if (flags & kMaskMaxEventNumber) {
            to.cameras[mask->camera].maxEventNumber = from.cameras[mask->camera].maxEventNumber;
        }
        if (flags & kMaskRelays) {
            std::memcpy(to.relays, from.relays, sizeof to.relays);
        }
    }
    return 1;
}

void CDBLumo::raiseCycle(tagHWProfile& profile, WORD n) {
    n = capCount<WORD>(n, kCamerasPerAdapter);
    for (auto& adapter : profile.adapters) {
        int count = 0;
        for (const auto& camera : adapter.cameras) {
            count += camera.automaticSwitch != 0;
        }
        for (int c = 0; c < kCamerasPerAdapter && count < n; ++c) {
            if (adapter.cameras[c].automaticSwitch == 0) {
                adapter.cameras[c].automaticSwitch = 1;
                ++count;
            }
        }
    }
}

void CDBLumo::raiseCycle(tagSplitProfiles& split, WORD n) {
    n = capCount<WORD>(n, kCamerasPerAdapter);
    for (int a = 0; a < kMaxAdapters; ++a) {
        int count = 0;
        for (int c = 0; c < kCamerasPerAdapter; ++c) {
            count += split.cameraInCycle[a][c] != 0;
        }
        for (int c = 0; c < kCamerasPerAdapter && count < n; ++c) {
            if (split.cameraInCycle[a][c] == 0) {
                split.cameraInCycle[a][c] = 1;
                ++count;
            }
        }
        split.camerasInCycle[a] = static_cast<WORD>(count);
    }
}

void CDBLumo::SetMinNumOfCamerasInCycle(WORD n) {
    std::lock_guard lock(m_lock);
    raiseCycle(m_hwProfile, n);
}

void CDBLumo::SetMinNumOfCamerasInCycle(tagSplitProfiles& split, WORD n) { raiseCycle(split, n); }

int CDBLumo::UpdateSplitProfiles(tagSplitProfiles* in, int) {
    raiseCycle(*in, 2);
    std::lock_guard lock(m_lock);
    raiseCycle(m_hwProfile, 2);
    m_splitProfiles = *in;
    return 1;
}

void CDBLumo::SetActivePaneConfiguration(tagRemoteQuad&, WORD, tagSplitProfiles, tagSIZE, tagSIZE, int, int) {}

int CDBLumo::GetDebriefProfiles(tagDebriefSettings* out, int) {
    std::lock_guard lock(m_lock);
    *out = m_debrief;
    return 1;
}

int CDBLumo::UpdateDebriefProfiles(const tagDebriefSettings* in, int) {
    std::lock_guard lock(m_lock);
    m_debrief = *in;
    return 1;
}

int CDBLumo::GetDefaultEventsIndex(tagEvents* out) {
    std::lock_guard lock(m_lock);
    *out = m_defaultEvents;
    return 1;
}

int CDBLumo::GetEventsIndex(tagEvents* out) {
    std::lock_guard lock(m_lock);
    *out = m_events;
    return 1;
}

int CDBLumo::UpdateEventsIndex(const tagEvents* in) {
    std::lock_guard lock(m_lock);
    m_events = *in;
    return 1;
}

int CDBLumo::UpdateCurrentAdapter(WORD adapter, int) {
    std::lock_guard lock(m_lock);
    m_hwProfile.currentAdapter = adapter;
    m_hwProfilesUpdated = 1;
    return 1;
}

int CDBLumo::GetCurrentAdapter(WORD* out, int) {
    std::lock_guard lock(m_lock);
    *out = m_hwProfile.currentAdapter;
    return 0;
}

int CDBLumo::GetSBProfiles(tagSBProfiles* out, int) {
    *out = m_sbProfiles;
    return 1;
}

int CDBLumo::UpdateSBProfiles(const tagSBProfiles* in, int) {
    m_sbProfiles = *in;
    return 1;
}

void CDBLumo::GetRecordMode(tagRecordMode* out) { *out = m_recordMode; }

void CDBLumo::GetDefaultRecordMode(tagRecordMode* out) { *out = m_defaultRecordMode; }

void CDBLumo::UpdateRecordMode(tagRecordMode in) { m_recordMode = in; }

int CDBLumo::IsVideoAutoDetectEnabled() { return static_cast<int>(m_videoAutoDetect); }

void CDBLumo::SetAppMode(WORD mode) { m_appMode = mode; }

WORD CDBLumo::GetAppMode() { return m_appMode; }

int CDBLumo::GetPreAlarmSettings(tagPreAlarm* out) {
    *out = m_preAlarm;
    return 1;
}

int CDBLumo::UpdatePreAlarmSettings(const tagPreAlarm* in) {
    m_preAlarm = *in;
    return 1;
}

int CDBLumo::GetRelayTriggerMatrix(tagRelayTriggerMtx* out) {
    *out = m_relayTriggerMtx;
    return 1;
}

int CDBLumo::UpdateRelayTriggerMatrix(const tagRelayTriggerMtx* in) {
    m_relayTriggerMtx = *in;
    return 1;
}

void CDBLumo::GetHistoryProfiles(tagHistoryRec* out) { *out = m_historyRec; }

void CDBLumo::UpdateHistoryProfiles(const tagHistoryRec* in) { m_historyRec = *in; }

void CDBLumo::GetTriggerProfiles(tagTriggerProfiles* out) { *out = m_triggerProfiles; }

void CDBLumo::UpdateTriggerProfiles(const tagTriggerProfiles* in) { m_triggerProfiles = *in; }

int CDBLumo::IsHWProfilesUpdated() { return static_cast<int>(m_hwProfilesUpdated); }
