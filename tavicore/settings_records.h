#pragma once
// The fixed-size records of a station's settings. They are copied whole between
// the settings database and its callers, stored in the registry value by value,
// and the hardware profile also travels between stations, so every record is
// packed, little-endian, and its size is checked at compile time.

#include "platform/types.h"

#include <bit>

static_assert(std::endian::native == std::endian::little,
              "the settings records are stored and sent little-endian");

// Adapters (capture cards or card groups) per station, cameras and relay slots per
// adapter. A camera index over the station is adapter * kCamerasPerAdapter + camera.
inline constexpr int kMaxAdapters = 6;
inline constexpr int kCamerasPerAdapter = 16;
inline constexpr int kRelaysPerAdapter = 16;
inline constexpr int kStationCameras = kMaxAdapters * kCamerasPerAdapter;  // 96
// Adapter, camera and relay names: not necessarily zero-terminated.
inline constexpr int kSettingsNameBytes = 30;
// Bytes of an adapter block that the remote-station side fills; carried unchanged.
inline constexpr int kAdapterDeviceDataBytes = 1805;

// A count clamped to a record's capacity. Takes its arguments by value: fields of
// packed records must not be bound to references.
template <typename T>
constexpr T capCount(T value, int capacity) {
    return value > static_cast<T>(capacity) ? static_cast<T>(capacity) : value;
}

#pragma pack(push, 1)

struct tagRelayBlock {
    WORD state;                      // "Relay State"
    char name[kSettingsNameBytes];   // "Relay Name"
    DWORD status;                    // "Relay Status"
    WORD type;                       // "Relay Type"
};
static_assert(sizeof(tagRelayBlock) == 38);

struct tagCameraBlock {
    char name[kSettingsNameBytes];   // "Camera Name"
    DWORD popupAlarm;                // "Popup Alarm"
    DWORD captureSnapshots;          // "Capture Snapshots"
    DWORD automaticSwitch;           // "Automatic Switch": camera is in the switching cycle
    DWORD dialOnAlarm;               // "DialOnAlarm"
    DWORD maxEventNumber;            // "Max Event Number"
    DWORD lastEventIndex;            // "Last Event Index"
    DWORD snapshotNum;               // "Snapshot Num"
    DWORD snapshotDelayMs;           // "Snapshot Delay"
    DWORD carried;                   // travels with the record; not kept in the registry
    DWORD activeHigh;                // "Active High"
};
static_assert(sizeof(tagCameraBlock) == 70);

struct tagAdapterBlock {
    char name[kSettingsNameBytes];   // "Adapter Name"
    WORD camerasNumber;              // "CamerasNumber"
    WORD relaysNumber;               // "RelaysNumber"
    WORD notInterpreted;
    WORD selectedInput;              // "Selected Input"
    WORD videoStandard;              // "Video Standard"
    WORD brightness;                 // "Brightness"
    WORD contrast;                   // "Contrast"
    WORD hue;                        // "Hue"
    WORD saturation;                 // "Saturation"
    DWORD automaticSwitch;           // "Automatic Switch": switching on for this adapter
    tagRelayBlock relays[kRelaysPerAdapter];
    tagCameraBlock cameras[kCamerasPerAdapter];
    BYTE deviceData[kAdapterDeviceDataBytes];
};
static_assert(sizeof(tagAdapterBlock) == 3585);
static_assert(offsetof(tagAdapterBlock, relays) == 52);
static_assert(offsetof(tagAdapterBlock, cameras) == 660);
static_assert(offsetof(tagAdapterBlock, deviceData) == 1780);

// The adapter block's device data (its last 1,805 bytes), as the station
// link fills and reads it.
struct tagSerialOutSettings {
    WORD portId;
    WORD commandType;
    WORD portStyle;
    DWORD baudRate;
    WORD parity;
    WORD dataBits;
    WORD stopBits;
    WORD furtherSetting;
    char protocolName[40];
};
static_assert(sizeof(tagSerialOutSettings) == 58);

inline constexpr int kQuadInputsPerAdapter = 6;
inline constexpr int kQuadInputNameBytes = 260;

struct tagAdapterDeviceData {
    WORD maxUsers;
    DWORD maxFrames;
    tagSerialOutSettings serialOut;
    WORD quadInputCount;                                     // cameras of type 1 or 2
    char quadInputs[kQuadInputsPerAdapter][kQuadInputNameBytes];  // each beginning with a name
    WORD keyLockCount;
    WORD selectedPage;                                       // page chosen by a text request
    WORD pageSelected;                                       // 1: the adapter shows a page
    BYTE reserved[169];
    DWORD swCapability;                                      // last word of the adapter block
};
static_assert(sizeof(tagAdapterDeviceData) == kAdapterDeviceDataBytes);
static_assert(offsetof(tagAdapterBlock, deviceData) + offsetof(tagAdapterDeviceData, swCapability) == 3581);

// The hardware profile of a station; also exchanged between stations.
struct tagHWProfile {
    WORD version;                    // hardware profile version
    WORD adaptersNumber;             // adapters present
    char siteName[kSettingsNameBytes];
    WORD currentAdapter;
    WORD snapshotResolution;         // "Snapshot Resolution"
    WORD jpegQuality;                // "JPEG Quality"
    DWORD jpegCompression;           // "JPEG Compresion"
    DWORD automaticSwitchIntervalMs; // "Automatic Switch Interval"
    tagAdapterBlock adapters[kMaxAdapters];
    WORD reasonForCall;              // closes the record; 0 by default
};
static_assert(sizeof(tagHWProfile) == 21560);
static_assert(offsetof(tagHWProfile, currentAdapter) == 34);
static_assert(offsetof(tagHWProfile, jpegCompression) == 40);
static_assert(offsetof(tagHWProfile, adapters) == 48);
static_assert(offsetof(tagHWProfile, reasonForCall) == 21558);

// Flag bits of a partial hardware-profile update.
inline constexpr DWORD kMaskOneAdapter = 0x001;        // only the adapter named in the mask
inline constexpr DWORD kMaskSwitchInterval = 0x002;    // profile: automatic switch interval
inline constexpr DWORD kMaskSnapshotResolution = 0x004;
inline constexpr DWORD kMaskAdapterName = 0x008;
inline constexpr DWORD kMaskRelays = 0x010;            // all 16 relay blocks
inline constexpr DWORD kMaskAdapterSwitching = 0x020;
inline constexpr DWORD kMaskPicture = 0x040;           // standard, brightness, contrast, hue, saturation
inline constexpr DWORD kMaskSelectedInput = 0x080;
inline constexpr DWORD kMaskCameras = 0x100;           // all 16 camera blocks
inline constexpr DWORD kMaskMaxEventNumber = 0x200;    // of the camera named in the mask
inline constexpr DWORD kMaskJpeg = 0x400;              // JPEG quality and compression

struct tagMask {
    WORD adapter;
    WORD camera;
    DWORD flags;
};
static_assert(sizeof(tagMask) == 8);

struct tagSplitProfiles {
    DWORD splitDelay;                    // "SplitDelay"
    DWORD splitDelayForRecord;           // "SplitDelayForRecord"
    DWORD minimumSplitDelay;             // "MinimumSplitDelay"
    DWORD minimumSplitDelayForRecord;    // "MinimumSplitDelayForRecord"
    DWORD useMinimumDelay;               // "UseMinimumDelay"
    DWORD useMinimumDelayForRecord;      // "UseMinimumDelayForRecord"
    DWORD splitEnable[kMaxAdapters];     // "Split Enable"
    DWORD quadOrSplitActive[kMaxAdapters];  // "Quad or Split Active "
    DWORD cameraInCycle[kMaxAdapters][kCamerasPerAdapter];
    WORD camerasInCycle[kMaxAdapters];   // computed from cameraInCycle
};
static_assert(sizeof(tagSplitProfiles) == 468);

// Per-camera events index; kept in memory only and not interpreted by the database.
struct tagEvents {
    DWORD values[5][kStationCameras];
};
static_assert(sizeof(tagEvents) == 1920);

struct tagRecordMode {
    DWORD mode[kStationCameras];         // "Record Mode" by camera index
};
static_assert(sizeof(tagRecordMode) == 384);

// The event explorer's settings; opaque to the database.
struct tagDebriefSettings {
    DWORD values[11];
};
static_assert(sizeof(tagDebriefSettings) == 44);

// The sound settings.
struct tagSBProfiles {
    char alarmFile[256];                 // "Wav Alarm File Name"
    char ringFile[256];                  // "Wav Ring File Name"
    DWORD ringEnable;                    // "Wav Ring Enable"
    DWORD alarmEnable;                   // "Wav Alarm Enable"
    DWORD playRingTimeMs;                // "PlayRingTime"
    DWORD playAlarmTimeMs;               // "PlayAlarmTime"
};
static_assert(sizeof(tagSBProfiles) == 528);

struct tagPreAlarmAdapter {
    DWORD isActive;                      // "IsActive"
    WORD cameraInput;                    // "CameraInput"
    DWORD preAlarmFrames;                // "PreAlarmFrames"
};
static_assert(sizeof(tagPreAlarmAdapter) == 10);

struct tagPreAlarm {
    tagPreAlarmAdapter adapters[kMaxAdapters];
    DWORD maxPreAlarmFrames;             // "MaxPreAlarmFrames"
};
static_assert(sizeof(tagPreAlarm) == 64);

struct tagRelayTriggerCell {
    DWORD action;                        // "Action"
    DWORD notKept[2];
    DWORD delayForToggleMs;              // "DelayForToggle"
    DWORD isDelayForToggleSet;           // "IsDelayForToggleSet"
};
static_assert(sizeof(tagRelayTriggerCell) == 20);

// Cells ordered adapter, camera, relay: cell (a, c, r) = cells[a][c][r].
struct tagRelayTriggerMtx {
    tagRelayTriggerCell cells[kMaxAdapters][kCamerasPerAdapter][kRelaysPerAdapter];
};
static_assert(sizeof(tagRelayTriggerMtx) == 30720);

struct tagHistoryRec {
    DWORD framesInterval;                // "FramesInterval"
    DWORD framesNumber;                  // "FramesNumber"
    DWORD splitToFiles;                  // "SplitToFiles"
    DWORD isHistoryRecordingMode;        // "IsHistoryRecordingMode"
    WORD lastInputForCycRecording;       // "LastInputForCycRecording"
    DWORD isLastRecordModeIsQuad;        // "IsLastRecordModeIsQUAD"
};
static_assert(sizeof(tagHistoryRec) == 22);

struct tagTriggerProfiles {
    DWORD isEnablePollingTriggers;       // "IsEnablePollingTriggers"
};
static_assert(sizeof(tagTriggerProfiles) == 4);

#pragma pack(pop)

using tagRECT = RECT;
using tagSIZE = SIZE;
// The remote view's pane layout; only passed through the database's empty
// pane-configuration operation.
struct tagRemoteQuad;
