#include "tavicore/db_lumo.h"

#include "tavicore/capture_base.h"
#include "tavicore/settings_store.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

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

// A copy of a record the settings lock guards, taken under the lock.
template <class T>
T lockedCopy(std::mutex& lock, const T& record) {
    std::lock_guard hold(lock);
    return record;
}

// Reads a name field; its default is a field of the same size that may fill it
// without a terminator.
void readName(Store& store, const std::string& section, const char* key, char (&field)[kSettingsNameBytes],
              const char (&def)[kSettingsNameBytes]) {
    char defName[kSettingsNameBytes + 1] = {};
    std::memcpy(defName, def, sizeof def);
    store.readText(section, key, field, sizeof field, kSettingsNameBytes, defName);
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
    const std::string section = m_adaptersSection;
    const tagHWProfile& def = m_defaultHWProfile;
    const WORD resolution = static_cast<WORD>(store.readDword(section, "Snapshot Resolution", def.snapshotResolution));
    const DWORD compression = store.readDword(section, "JPEG Compresion", def.jpegCompression);
    const WORD quality = static_cast<WORD>(store.readDword(section, "JPEG Quality", def.jpegQuality));
    const DWORD interval = store.readDword(section, "Automatic Switch Interval", def.automaticSwitchIntervalMs);
    {
        std::lock_guard lock(m_lock);
        m_hwProfile.snapshotResolution = resolution;
        m_hwProfile.jpegCompression = compression;
        m_hwProfile.jpegQuality = quality;
        m_hwProfile.automaticSwitchIntervalMs = interval;
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
    const std::string section = m_adaptersSection;
    tagHWProfile profile;
    GetHWProfiles(&profile);
    store.writeDword(section, "Snapshot Resolution", profile.snapshotResolution);
    store.writeDword(section, "JPEG Compresion", profile.jpegCompression);
    store.writeDword(section, "JPEG Quality", profile.jpegQuality);
    store.writeDword(section, "Automatic Switch Interval", profile.automaticSwitchIntervalMs);
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
    auto word = [&](const char* name, WORD d) { return static_cast<WORD>(store.readDword(section, name, d)); };
    values.selectedInput = word("Selected Input", def.selectedInput);
    values.videoStandard = word("Video Standard", def.videoStandard);
    values.brightness = word("Brightness", def.brightness);
    values.contrast = word("Contrast", def.contrast);
    values.hue = word("Hue", def.hue);
    values.saturation = word("Saturation", def.saturation);
    values.camerasNumber = capCount<WORD>(word("CamerasNumber", def.camerasNumber), kCamerasPerAdapter);
    values.relaysNumber = capCount<WORD>(word("RelaysNumber", def.relaysNumber), kRelaysPerAdapter);
    values.automaticSwitch = store.readDword(section, "Automatic Switch", def.automaticSwitch);
    readName(store, section, "Adapter Name", values.name, def.name);
    std::lock_guard lock(m_lock);
    tagAdapterBlock& to = m_hwProfile.adapters[adapter];
    std::memcpy(to.name, values.name, sizeof to.name);
    to.selectedInput = values.selectedInput;
    to.videoStandard = values.videoStandard;
    to.brightness = values.brightness;
    to.contrast = values.contrast;
    to.hue = values.hue;
    to.saturation = values.saturation;
    to.camerasNumber = values.camerasNumber;
    to.relaysNumber = values.relaysNumber;
    to.automaticSwitch = values.automaticSwitch;
    return 1;
}

int CDBLumoLocal::WriteAdapterValues(int adapter) {
    if (!validAdapter(adapter)) {
        return 0;
    }
    Store store;
    const std::string section = sub(m_adaptersSection, adapter);
    tagAdapterBlock values = lockedCopy(m_lock, m_hwProfile.adapters[adapter]);
    store.writeDword(section, "Selected Input", values.selectedInput);
    store.writeDword(section, "Video Standard", values.videoStandard);
    store.writeDword(section, "Brightness", values.brightness);
    store.writeDword(section, "Contrast", values.contrast);
    store.writeDword(section, "Hue", values.hue);
    store.writeDword(section, "Saturation", values.saturation);
    store.writeDword(section, "CamerasNumber", values.camerasNumber);
    store.writeDword(section, "RelaysNumber", values.relaysNumber);
    store.writeDword(section, "Automatic Switch", values.automaticSwitch);
    store.writeText(section, "Adapter Name", values.name, kSettingsNameBytes);
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
    values.maxEventNumber = store.readDword(section, "Max Event Number", def.maxEventNumber);
    values.lastEventIndex = store.readDword(section, "Last Event Index", def.lastEventIndex);
    values.snapshotNum = store.readDword(section, "Snapshot Num", def.snapshotNum);
    values.snapshotDelayMs = store.readDword(section, "Snapshot Delay", def.snapshotDelayMs);
    values.popupAlarm = store.readDword(section, "Popup Alarm", def.popupAlarm);
    values.activeHigh = store.readDword(section, "Active High", def.activeHigh);
    values.captureSnapshots = store.readDword(section, "Capture Snapshots", def.captureSnapshots);
    values.automaticSwitch = store.readDword(section, "Automatic Switch", def.automaticSwitch);
    values.dialOnAlarm = store.readDword(section, "DialOnAlarm", def.dialOnAlarm);
    const DWORD recordMode = store.readDword(section, "Record Mode", m_defaultRecordMode.mode[index]);
    readName(store, section, "Camera Name", values.name, def.name);
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
    tagCameraBlock values = lockedCopy(m_lock, m_hwProfile.adapters[adapter].cameras[camera]);
    store.writeDword(section, "Max Event Number", values.maxEventNumber);
    store.writeDword(section, "Last Event Index", values.lastEventIndex);
    store.writeDword(section, "Snapshot Num", values.snapshotNum);
    store.writeDword(section, "Snapshot Delay", values.snapshotDelayMs);
    store.writeDword(section, "Popup Alarm", values.popupAlarm);
    store.writeDword(section, "Active High", values.activeHigh);
    store.writeDword(section, "Capture Snapshots", values.captureSnapshots);
    store.writeDword(section, "Automatic Switch", values.automaticSwitch);
    store.writeDword(section, "DialOnAlarm", values.dialOnAlarm);
    store.writeDword(section, "Record Mode", m_recordMode.mode[adapter * kCamerasPerAdapter + camera]);
    store.writeText(section, "Camera Name", values.name, kSettingsNameBytes);
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
    values.state = static_cast<WORD>(store.readDword(section, "Relay State", def.state));
    values.type = static_cast<WORD>(store.readDword(section, "Relay Type", def.type));
    values.status = store.readDword(section, "Relay Status", def.status);
    readName(store, section, "Relay Name", values.name, def.name);
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
    tagRelayBlock values = lockedCopy(m_lock, m_hwProfile.adapters[adapter].relays[relay]);
    store.writeDword(section, "Relay State", values.state);
    store.writeDword(section, "Relay Type", values.type);
    store.writeDword(section, "Relay Status", values.status);
    store.writeText(section, "Relay Name", values.name, kSettingsNameBytes);
    return 1;
}

int CDBLumoLocal::ReadSplitProfiles() {
    Store store;
    const std::string section = m_adaptersSection;
    const tagSplitProfiles& def = m_defaultSplitProfiles;
    tagSplitProfiles split;
    GetSplitProfiles(&split);
    split.splitDelay = store.readDword(section, "SplitDelay", def.splitDelay);
    split.splitDelayForRecord = store.readDword(section, "SplitDelayForRecord", def.splitDelayForRecord);
    split.minimumSplitDelay = store.readDword(section, "MinimumSplitDelay", def.minimumSplitDelay);
    split.minimumSplitDelayForRecord =
        store.readDword(section, "MinimumSplitDelayForRecord", def.minimumSplitDelayForRecord);
    split.useMinimumDelay = store.readDword(section, "UseMinimumDelay", def.useMinimumDelay);
    split.useMinimumDelayForRecord = store.readDword(section, "UseMinimumDelayForRecord", def.useMinimumDelayForRecord);
    for (int a = 0; a < kMaxAdapters; ++a) {
        const std::string adapter = sub(section, a);
        split.splitEnable[a] = store.readDword(adapter, "Split Enable", def.splitEnable[a]);
        split.quadOrSplitActive[a] = store.readDword(adapter, "Quad or Split Active ", def.quadOrSplitActive[a]);
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
    store.writeDword(section, "SplitDelay", split.splitDelay);
    store.writeDword(section, "SplitDelayForRecord", split.splitDelayForRecord);
    store.writeDword(section, "MinimumSplitDelay", split.minimumSplitDelay);
    store.writeDword(section, "MinimumSplitDelayForRecord", split.minimumSplitDelayForRecord);
    store.writeDword(section, "UseMinimumDelay", split.useMinimumDelay);
    store.writeDword(section, "UseMinimumDelayForRecord", split.useMinimumDelayForRecord);
    for (int a = 0; a < kMaxAdapters; ++a) {
        const std::string adapter = sub(section, a);
        store.writeDword(adapter, "Split Enable", split.splitEnable[a]);
        store.writeDword(adapter, "Quad or Split Active ", split.quadOrSplitActive[a]);
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
        entry.isActive = store.readDwordBack(section, "IsActive", 0);
        entry.cameraInput = static_cast<WORD>(store.readDwordBack(section, "CameraInput", 0));
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
        store.writeDword(section, "IsActive", entry.isActive);
        store.writeDword(section, "CameraInput", entry.cameraInput);
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
                tagRelayTriggerCell& cell = m_relayTriggerMtx.cells[a][c][r];
                cell.action = store.readDwordBack(section, "Action", 3);
                cell.delayForToggleMs = store.readDwordBack(section, "DelayForToggle", 1000);
                cell.isDelayForToggleSet = store.readDwordBack(section, "IsDelayForToggleSet", 0);
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
                const tagRelayTriggerCell& cell = m_relayTriggerMtx.cells[a][c][r];
                store.writeDword(section, "Action", cell.action);
                store.writeDword(section, "DelayForToggle", cell.delayForToggleMs);
                store.writeDword(section, "IsDelayForToggleSet", cell.isDelayForToggleSet);
            }
        }
    }
    return 1;
}

void CDBLumoLocal::ReadHistoryProfiles() {
    Store store;
    m_historyRec.framesNumber = store.readDwordBack(kHistory, "FramesNumber", 20);
    m_historyRec.framesInterval = store.readDwordBack(kHistory, "FramesInterval", 1000);
    m_historyRec.splitToFiles = store.readDwordBack(kHistory, "SplitToFiles", 1);
    m_historyRec.isHistoryRecordingMode = store.readDwordBack(kHistory, "IsHistoryRecordingMode", 0);
    m_historyRec.isLastRecordModeIsQuad = store.readDwordBack(kHistory, "IsLastRecordModeIsQUAD", 0);
    m_historyRec.lastInputForCycRecording =
        static_cast<WORD>(store.readDwordBack(kHistory, "LastInputForCycRecording", 0));
}

void CDBLumoLocal::WriteHistoryProfiles() {
    Store store;
    store.writeDword(kHistory, "FramesNumber", m_historyRec.framesNumber);
    store.writeDword(kHistory, "FramesInterval", m_historyRec.framesInterval);
    store.writeDword(kHistory, "SplitToFiles", m_historyRec.splitToFiles);
    store.writeDword(kHistory, "IsHistoryRecordingMode", m_historyRec.isHistoryRecordingMode);
    store.writeDword(kHistory, "IsLastRecordModeIsQUAD", m_historyRec.isLastRecordModeIsQuad);
    store.writeDword(kHistory, "LastInputForCycRecording", m_historyRec.lastInputForCycRecording);
}

void CDBLumoLocal::ReadTriggerProfiles() {
    Store store;
    m_triggerProfiles.isEnablePollingTriggers = store.readDwordBack(kTriggerProfiles, "IsEnablePollingTriggers", 1);
}

void CDBLumoLocal::WriteTriggerProfiles() {
    Store store;
    store.writeDword(kTriggerProfiles, "IsEnablePollingTriggers", m_triggerProfiles.isEnablePollingTriggers);
}
