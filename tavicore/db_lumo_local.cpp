#include "tavicore/db_lumo.h"

#include "tavicore/capture_base.h"
#include "tavicore/settings_store.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

using settings_store::Missing;
using settings_store::Store;
using settings_store::sub;

namespace {

constexpr const char* kVideoDevices = "VideoDevices";
constexpr const char* kPreAlarm = "PreAlarm\\";
constexpr const char* kRelayMatrix = "TriggerRelayMTX\\";
constexpr const char* kHistory = "HistoryRecording\\";
constexpr const char* kTriggerProfiles = "TriggerProfiles";

// Height of a window caption and of an icon, for the default window positions.
constexpr LONG kCaptionHeight = 19;
constexpr LONG kIconHeight = 32;

std::string cellSection(int a, int c, int r) {
    char text[96];
    std::snprintf(text, sizeof text, "TriggerRelayMTX\\Adapter_%d\\Camera_%d\\Relay_%d", a, c, r);
    return text;
}

bool validAdapter(int adapter) { return adapter >= 0 && adapter < kMaxAdapters; }

// The values of each record, in the order they are read and written. Numbers
// without a default of their own take the default record's.

// Section "Adapters".
constexpr settings_store::Field<tagHWProfile> kHWProfileFields[] = {
    SETTINGS_NUMBER(tagHWProfile, snapshotResolution, "Snapshot Resolution", 0),
    SETTINGS_NUMBER(tagHWProfile, jpegCompression, "JPEG Compresion", 0),
    SETTINGS_NUMBER(tagHWProfile, jpegQuality, "JPEG Quality", 0),
    SETTINGS_NUMBER(tagHWProfile, automaticSwitchIntervalMs, "Automatic Switch Interval", 0),
};

// Section "Adapters\<a>".
constexpr settings_store::Field<tagAdapterBlock> kAdapterFields[] = {
    SETTINGS_NUMBER(tagAdapterBlock, selectedInput, "Selected Input", 0),
    SETTINGS_NUMBER(tagAdapterBlock, videoStandard, "Video Standard", 0),
    SETTINGS_NUMBER(tagAdapterBlock, brightness, "Brightness", 0),
    SETTINGS_NUMBER(tagAdapterBlock, contrast, "Contrast", 0),
    SETTINGS_NUMBER(tagAdapterBlock, hue, "Hue", 0),
    SETTINGS_NUMBER(tagAdapterBlock, saturation, "Saturation", 0),
    SETTINGS_NUMBER(tagAdapterBlock, camerasNumber, "CamerasNumber", 0),
    SETTINGS_NUMBER(tagAdapterBlock, relaysNumber, "RelaysNumber", 0),
    SETTINGS_NUMBER(tagAdapterBlock, automaticSwitch, "Automatic Switch", 0),
    SETTINGS_TEXT(tagAdapterBlock, name, "Adapter Name", kSettingsNameBytes, nullptr),
};

// Section "Adapters\<a>\Cameras\<c>"; "Record Mode" (of another record) and
// "Camera Name" follow.
constexpr settings_store::Field<tagCameraBlock> kCameraFields[] = {
    SETTINGS_NUMBER(tagCameraBlock, maxEventNumber, "Max Event Number", 0),
    SETTINGS_NUMBER(tagCameraBlock, lastEventIndex, "Last Event Index", 0),
    SETTINGS_NUMBER(tagCameraBlock, snapshotNum, "Snapshot Num", 0),
    SETTINGS_NUMBER(tagCameraBlock, snapshotDelayMs, "Snapshot Delay", 0),
    SETTINGS_NUMBER(tagCameraBlock, popupAlarm, "Popup Alarm", 0),
    SETTINGS_NUMBER(tagCameraBlock, activeHigh, "Active High", 0),
    SETTINGS_NUMBER(tagCameraBlock, captureSnapshots, "Capture Snapshots", 0),
    SETTINGS_NUMBER(tagCameraBlock, automaticSwitch, "Automatic Switch", 0),
    SETTINGS_NUMBER(tagCameraBlock, dialOnAlarm, "DialOnAlarm", 0),
};
constexpr settings_store::Field<tagCameraBlock> kCameraNameField[] = {
    SETTINGS_TEXT(tagCameraBlock, name, "Camera Name", kSettingsNameBytes, nullptr),
};

// Section "Adapters\<a>\Relays\<r>".
constexpr settings_store::Field<tagRelayBlock> kRelayFields[] = {
    SETTINGS_NUMBER(tagRelayBlock, state, "Relay State", 0),
    SETTINGS_NUMBER(tagRelayBlock, type, "Relay Type", 0),
    SETTINGS_NUMBER(tagRelayBlock, status, "Relay Status", 0),
    SETTINGS_TEXT(tagRelayBlock, name, "Relay Name", kSettingsNameBytes, nullptr),
};

// Section "Adapters", then per adapter in "Adapters\<a>".
constexpr settings_store::Field<tagSplitProfiles> kSplitFields[] = {
    SETTINGS_NUMBER(tagSplitProfiles, splitDelay, "SplitDelay", 0),
    SETTINGS_NUMBER(tagSplitProfiles, splitDelayForRecord, "SplitDelayForRecord", 0),
    SETTINGS_NUMBER(tagSplitProfiles, minimumSplitDelay, "MinimumSplitDelay", 0),
    SETTINGS_NUMBER(tagSplitProfiles, minimumSplitDelayForRecord, "MinimumSplitDelayForRecord", 0),
    SETTINGS_NUMBER(tagSplitProfiles, useMinimumDelay, "UseMinimumDelay", 0),
    SETTINGS_NUMBER(tagSplitProfiles, useMinimumDelayForRecord, "UseMinimumDelayForRecord", 0),
};
constexpr settings_store::Field<tagSplitProfiles> kSplitAdapterFields[] = {
    SETTINGS_NUMBER_AT(tagSplitProfiles, splitEnable, "Split Enable"),
    SETTINGS_NUMBER_AT(tagSplitProfiles, quadOrSplitActive, "Quad or Split Active "),
};

// Section "PreAlarm\Adapters\<a>", written back on reading; "PreAlarmFrames"
// follows, clamped to the maximum.
constexpr settings_store::Field<tagPreAlarmAdapter> kPreAlarmFields[] = {
    SETTINGS_NUMBER(tagPreAlarmAdapter, isActive, "IsActive", 0),
    SETTINGS_NUMBER(tagPreAlarmAdapter, cameraInput, "CameraInput", 0),
};

// Section "TriggerRelayMTX\Adapter_<a>\Camera_<c>\Relay_<r>", written back on reading.
constexpr settings_store::Field<tagRelayTriggerCell> kRelayTriggerFields[] = {
    SETTINGS_NUMBER(tagRelayTriggerCell, action, "Action", 3),
    SETTINGS_NUMBER(tagRelayTriggerCell, delayForToggleMs, "DelayForToggle", 1000),
    SETTINGS_NUMBER(tagRelayTriggerCell, isDelayForToggleSet, "IsDelayForToggleSet", 0),
};

// Section "HistoryRecording", written back on reading.
constexpr settings_store::Field<tagHistoryRec> kHistoryFields[] = {
    SETTINGS_NUMBER(tagHistoryRec, framesNumber, "FramesNumber", 20),
    SETTINGS_NUMBER(tagHistoryRec, framesInterval, "FramesInterval", 1000),
    SETTINGS_NUMBER(tagHistoryRec, splitToFiles, "SplitToFiles", 1),
    SETTINGS_NUMBER(tagHistoryRec, isHistoryRecordingMode, "IsHistoryRecordingMode", 0),
    SETTINGS_NUMBER(tagHistoryRec, isLastRecordModeIsQuad, "IsLastRecordModeIsQUAD", 0),
    SETTINGS_NUMBER(tagHistoryRec, lastInputForCycRecording, "LastInputForCycRecording", 0),
};

// Section "TriggerProfiles", written back on reading.
constexpr settings_store::Field<tagTriggerProfiles> kTriggerFields[] = {
    SETTINGS_NUMBER(tagTriggerProfiles, isEnablePollingTriggers, "IsEnablePollingTriggers", 1),
};

// A copy of a record the settings lock guards, taken under the lock.
template <class T>
T lockedCopy(std::mutex& lock, const T& record) {
    std::lock_guard hold(lock);
    return record;
}

}  // namespace

CDBLumoLocal::CDBLumoLocal(CLumora* card, WORD readOnlyMode) : m_card(card), m_readOnlyMode(readOnlyMode) {
    std::memset(m_adaptersSection, 0, sizeof m_adaptersSection);
    std::strcpy(m_adaptersSection, "Adapters");
    ReadHWProfiles();
    ReadSplitProfiles();
    SetMinNumOfCamerasInCycle(2);

    Store store;
    {
        std::lock_guard lock(m_lock);
        m_hwProfile.adaptersNumber = 0;
    }
    const DWORD reportCounts = store.readDwordBack(kVideoDevices, "IsReportNumOfCamerasAndRelays", 1);
    if (m_card != nullptr) {
        // Counts from the card are clamped to what the record holds.
        WORD adapters = 0;
        if (m_card->IsCardDetected() != 0) {
            m_card->GetAdaptersCount(&adapters);
            adapters = capCount<WORD>(adapters, kMaxAdapters);
        }
        std::lock_guard lock(m_lock);
        m_hwProfile.adaptersNumber = adapters;
        if (reportCounts != 0) {
            for (WORD a = 0; a < adapters; ++a) {
                WORD cameras = m_hwProfile.adapters[a].camerasNumber;
                m_card->GetCamerasCount(a, &cameras);
                m_hwProfile.adapters[a].camerasNumber = capCount<WORD>(cameras, kCamerasPerAdapter);
            }
            for (WORD a = 0; a < adapters; ++a) {
                WORD relays = m_hwProfile.adapters[a].relaysNumber;
                m_card->GetRelaysCount(a, &relays);
                m_hwProfile.adapters[a].relaysNumber = capCount<WORD>(relays, kRelaysPerAdapter);
            }
        }
    }
    if (m_readOnlyMode != 1) {
        WORD adapters;
        {
            std::lock_guard lock(m_lock);
            adapters = m_hwProfile.adaptersNumber;
        }
        store.writeDword(m_adaptersSection, "Adapters Num", adapters);
    }
    UpdateCurrentAdapter(0);
    ReadPreAlarmSettings();
    ReadRelayTriggerMtx();
    ReadHistoryProfiles();
    ReadTriggerProfiles();
}

CDBLumoLocal::~CDBLumoLocal() {
    if (m_readOnlyMode != 1) {
        WriteSplitProfiles();
        WriteHWProfiles();
        WritePreAlarmSettings();
        WriteRelayTriggerMtx();
        WriteHistoryProfiles();
        WriteTriggerProfiles();
    }
}

int CDBLumoLocal::ReadHWProfiles() {
    Store store;
    {
        auto values = std::make_unique<tagHWProfile>(m_defaultHWProfile);
        store.readFields<tagHWProfile>(m_adaptersSection, kHWProfileFields, *values, &m_defaultHWProfile,
                                       Missing::UseDefault);
        std::lock_guard lock(m_lock);
        settings_store::copyFields<tagHWProfile>(kHWProfileFields, *values, m_hwProfile);
    }
    for (int a = 0; a < kMaxAdapters; ++a) {
        ReadAdapterValues(a);
        for (WORD c = 0; c < kCamerasPerAdapter; ++c) {
            ReadCameraKeyValues(nullptr, static_cast<WORD>(a), c);
        }
        for (WORD r = 0; r < kRelaysPerAdapter; ++r) {
            ReadRelayKeyValues(nullptr, static_cast<WORD>(a), r);
        }
        std::lock_guard lock(m_lock);
        m_hwProfile.adapters[a].camerasNumber = m_hwProfile.adapters[0].camerasNumber;
        m_hwProfile.adapters[a].relaysNumber = m_hwProfile.adapters[0].relaysNumber;
    }
    return 1;
}

int CDBLumoLocal::WriteHWProfiles(int) {
    Store store;
    {
        auto profile = std::make_unique<tagHWProfile>();
        GetHWProfiles(profile.get());
        store.writeFields<tagHWProfile>(m_adaptersSection, kHWProfileFields, *profile);
    }
    for (int a = 0; a < kMaxAdapters; ++a) {
        WriteAdapterValues(a);
        for (WORD c = 0; c < kCamerasPerAdapter; ++c) {
            WriteCameraKeyValues(nullptr, static_cast<WORD>(a), c);
        }
        for (WORD r = 0; r < kRelaysPerAdapter; ++r) {
            WriteRelayKeyValues(nullptr, static_cast<WORD>(a), r);
        }
        std::lock_guard lock(m_lock);
        m_hwProfile.adapters[a].camerasNumber = m_hwProfile.adapters[0].camerasNumber;
        m_hwProfile.adapters[a].relaysNumber = m_hwProfile.adapters[0].relaysNumber;
    }
    return 1;
}

int CDBLumoLocal::ReadAdapterValues(int adapter) {
    if (!validAdapter(adapter)) {
        return 0;
    }
    Store store;
    const std::string section = sub(m_adaptersSection, adapter);
    const tagAdapterBlock& def = m_defaultHWProfile.adapters[adapter];
    tagAdapterBlock values = lockedCopy(m_lock, m_hwProfile.adapters[adapter]);
    store.readFields<tagAdapterBlock>(section, kAdapterFields, values, &def, Missing::UseDefault);
    values.camerasNumber = capCount<WORD>(values.camerasNumber, kCamerasPerAdapter);
    values.relaysNumber = capCount<WORD>(values.relaysNumber, kRelaysPerAdapter);
    std::lock_guard lock(m_lock);
    settings_store::copyFields<tagAdapterBlock>(kAdapterFields, values, m_hwProfile.adapters[adapter]);
    return 1;
}

int CDBLumoLocal::WriteAdapterValues(int adapter) {
    if (!validAdapter(adapter)) {
        return 0;
    }
    Store store;
    const std::string section = sub(m_adaptersSection, adapter);
    const tagAdapterBlock values = lockedCopy(m_lock, m_hwProfile.adapters[adapter]);
    store.writeFields<tagAdapterBlock>(section, kAdapterFields, values);
    return 1;
}

int CDBLumoLocal::ReadCameraKeyValues(void*, WORD adapter, WORD camera, int) {
    if (adapter >= kMaxAdapters || camera >= kCamerasPerAdapter) {
        return 0;
    }
    Store store;
    const std::string section = sub(sub(m_adaptersSection, adapter) + "\\Cameras", camera);
    const tagCameraBlock& def = m_defaultHWProfile.adapters[adapter].cameras[camera];
    const int index = adapter * kCamerasPerAdapter + camera;
    tagCameraBlock values = lockedCopy(m_lock, m_hwProfile.adapters[adapter].cameras[camera]);
    store.readFields<tagCameraBlock>(section, kCameraFields, values, &def, Missing::UseDefault);
    const DWORD recordMode = store.readDword(section, "Record Mode", m_defaultRecordMode.mode[index]);
    store.readFields<tagCameraBlock>(section, kCameraNameField, values, &def, Missing::UseDefault);
    m_recordMode.mode[index] = recordMode;
    std::lock_guard lock(m_lock);
    m_hwProfile.adapters[adapter].cameras[camera] = values;
    return 1;
}

int CDBLumoLocal::WriteCameraKeyValues(void*, WORD adapter, WORD camera, int) {
    if (adapter >= kMaxAdapters || camera >= kCamerasPerAdapter) {
        return 0;
    }
    Store store;
    const std::string section = sub(sub(m_adaptersSection, adapter) + "\\Cameras", camera);
    const tagCameraBlock values = lockedCopy(m_lock, m_hwProfile.adapters[adapter].cameras[camera]);
    store.writeFields<tagCameraBlock>(section, kCameraFields, values);
    store.writeDword(section, "Record Mode", m_recordMode.mode[adapter * kCamerasPerAdapter + camera]);
    store.writeFields<tagCameraBlock>(section, kCameraNameField, values);
    return 1;
}

int CDBLumoLocal::ReadRelayKeyValues(void*, WORD adapter, WORD relay, int) {
    if (adapter >= kMaxAdapters || relay >= kRelaysPerAdapter) {
        return 0;
    }
    Store store;
    const std::string section = sub(sub(m_adaptersSection, adapter) + "\\Relays", relay);
    const tagRelayBlock& def = m_defaultHWProfile.adapters[adapter].relays[relay];
    tagRelayBlock values = lockedCopy(m_lock, m_hwProfile.adapters[adapter].relays[relay]);
    store.readFields<tagRelayBlock>(section, kRelayFields, values, &def, Missing::UseDefault);
    std::lock_guard lock(m_lock);
    m_hwProfile.adapters[adapter].relays[relay] = values;
    return 1;
}

int CDBLumoLocal::WriteRelayKeyValues(void*, WORD adapter, WORD relay, int) {
    if (adapter >= kMaxAdapters || relay >= kRelaysPerAdapter) {
        return 0;
    }
    Store store;
    const std::string section = sub(sub(m_adaptersSection, adapter) + "\\Relays", relay);
    const tagRelayBlock values = lockedCopy(m_lock, m_hwProfile.adapters[adapter].relays[relay]);
    store.writeFields<tagRelayBlock>(section, kRelayFields, values);
    return 1;
}

int CDBLumoLocal::ReadSplitProfiles() {
    Store store;
    const std::string section = m_adaptersSection;
    const tagSplitProfiles& def = m_defaultSplitProfiles;
    tagSplitProfiles split;
    GetSplitProfiles(&split);
    store.readFields<tagSplitProfiles>(section, kSplitFields, split, &def, Missing::UseDefault);
    for (int a = 0; a < kMaxAdapters; ++a) {
        store.readFields<tagSplitProfiles>(sub(section, a), kSplitAdapterFields, split, &def, Missing::UseDefault,
                                           static_cast<std::size_t>(a));
    }
    std::lock_guard lock(m_lock);
    m_splitProfiles = split;
    return 1;
}

int CDBLumoLocal::WriteSplitProfiles(int) {
    Store store;
    const std::string section = m_adaptersSection;
    tagSplitProfiles split;
    GetSplitProfiles(&split);
    store.writeFields<tagSplitProfiles>(section, kSplitFields, split);
    for (int a = 0; a < kMaxAdapters; ++a) {
        store.writeFields<tagSplitProfiles>(sub(section, a), kSplitAdapterFields, split, static_cast<std::size_t>(a));
    }
    return 1;
}

int CDBLumoLocal::GetPosition(tagRECT* out, WORD adapter) {
    Store store;
    tagRECT rect;
    if (!store.readBinary(sub(m_adaptersSection, adapter), "Position", &rect, sizeof rect)) {
        rect.left = rect.top = static_cast<LONG>(adapter) * kCaptionHeight;
        rect.right = rect.left + 320;
        rect.bottom = rect.top + 240 + kCaptionHeight + kIconHeight;
    }
    *out = rect;
    return 1;
}

int CDBLumoLocal::SetPosition(tagRECT rect, WORD adapter) {
    Store store;
    store.writeBinary(sub(m_adaptersSection, adapter), "Position", &rect, sizeof rect);
    return 1;
}

int CDBLumoLocal::GetVisibility(int* out, WORD adapter) {
    Store store;
    *out = static_cast<int>(store.readDwordBack(sub("Adapters", adapter), "IsVisible", 1));
    return 1;
}

int CDBLumoLocal::SetVisibility(int visible, WORD adapter) {
    Store store;
    store.writeDword(sub("Adapters", adapter), "IsVisible", static_cast<DWORD>(visible));
    return 1;
}

int CDBLumoLocal::ReadPreAlarmSettings() {
    Store store;
    tagPreAlarm pre = m_preAlarm;
    pre.maxPreAlarmFrames = store.readDwordBack(kPreAlarm, "MaxPreAlarmFrames", 100);
    for (int a = 0; a < kMaxAdapters; ++a) {
        const std::string section = sub("PreAlarm\\Adapters", a);
        tagPreAlarmAdapter& entry = pre.adapters[a];
        store.readFields<tagPreAlarmAdapter>(section, kPreAlarmFields, entry, nullptr, Missing::WriteDefault);
        const DWORD frames = store.readDword(section, "PreAlarmFrames", 100);
        const DWORD maxFrames = pre.maxPreAlarmFrames;
        entry.preAlarmFrames = frames > maxFrames ? maxFrames : frames;
        store.writeDword(section, "PreAlarmFrames", entry.preAlarmFrames);
    }
    m_preAlarm = pre;
    return 1;
}

int CDBLumoLocal::WritePreAlarmSettings() {
    Store store;
    tagPreAlarm& pre = m_preAlarm;
    store.writeDword(kPreAlarm, "MaxPreAlarmFrames", pre.maxPreAlarmFrames);
    for (int a = 0; a < kMaxAdapters; ++a) {
        const std::string section = sub("PreAlarm\\Adapters", a);
        tagPreAlarmAdapter& entry = pre.adapters[a];
        const DWORD frames = entry.preAlarmFrames;
        const DWORD maxFrames = pre.maxPreAlarmFrames;
        entry.preAlarmFrames = frames > maxFrames ? maxFrames : frames;
        store.writeFields<tagPreAlarmAdapter>(section, kPreAlarmFields, entry);
        store.writeDword(section, "PreAlarmFrames", entry.preAlarmFrames);
    }
    return 1;
}

int CDBLumoLocal::ReadRelayTriggerMtx() {
    Store store;
    store.createKey(kRelayMatrix);
    for (int a = 0; a < kMaxAdapters; ++a) {
        for (int c = 0; c < kCamerasPerAdapter; ++c) {
            for (int r = 0; r < kRelaysPerAdapter; ++r) {
                const std::string section = cellSection(a, c, r);
                store.readFields<tagRelayTriggerCell>(section, kRelayTriggerFields, m_relayTriggerMtx.cells[a][c][r],
                                                      nullptr, Missing::WriteDefault);
            }
        }
    }
    return 1;
}

int CDBLumoLocal::WriteRelayTriggerMtx() {
    Store store;
    store.createKey(kRelayMatrix);
    for (int a = 0; a < kMaxAdapters; ++a) {
        for (int c = 0; c < kCamerasPerAdapter; ++c) {
            for (int r = 0; r < kRelaysPerAdapter; ++r) {
                const std::string section = cellSection(a, c, r);
                store.writeFields<tagRelayTriggerCell>(section, kRelayTriggerFields, m_relayTriggerMtx.cells[a][c][r]);
            }
        }
    }
    return 1;
}

void CDBLumoLocal::ReadHistoryProfiles() {
    Store store;
    store.readFields<tagHistoryRec>(kHistory, kHistoryFields, m_historyRec, nullptr, Missing::WriteDefault);
}

void CDBLumoLocal::WriteHistoryProfiles() {
    Store store;
    store.writeFields<tagHistoryRec>(kHistory, kHistoryFields, m_historyRec);
}

void CDBLumoLocal::ReadTriggerProfiles() {
    Store store;
    store.readFields<tagTriggerProfiles>(kTriggerProfiles, kTriggerFields, m_triggerProfiles, nullptr,
                                         Missing::WriteDefault);
}

void CDBLumoLocal::WriteTriggerProfiles() {
    Store store;
    store.writeFields<tagTriggerProfiles>(kTriggerProfiles, kTriggerFields, m_triggerProfiles);
}
