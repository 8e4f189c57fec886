#pragma once
// MorvelLib: the remote settings record of one site and the settings-profile
// store's class and interface, shared by the store, the settings editor and
// the main program, which exchange the record as one flat block: every offset
// below is part of that interface.

#include "platform/com/oleauto.h"
#include "platform/types.h"

#include <bit>
#include <cstddef>

static_assert(std::endian::native == std::endian::little, "the remote settings record is little-endian");

// {4C1D7E52-8A3B-4F0E-9D21-6B5A0C3E7F18}
inline constexpr CLSID CLSID_RemSetDB = {0x4C1D7E52, 0x8A3B, 0x4F0E, {0x9D, 0x21, 0x6B, 0x5A, 0x0C, 0x3E, 0x7F, 0x18}};
// {9E2F61A4-3C57-4B8D-A0E6-17D4B9C28F35}
inline constexpr IID IID_IRemSetDB = {0x9E2F61A4, 0x3C57, 0x4B8D, {0xA0, 0xE6, 0x17, 0xD4, 0xB9, 0xC2, 0x8F, 0x35}};
// {D36A0B81-5E4C-4A92-8F17-C0B3E5D64A29}
inline constexpr GUID LIBID_MorvelLib = {0xD36A0B81, 0x5E4C, 0x4A92, {0x8F, 0x17, 0xC0, 0xB3, 0xE5, 0xD6, 0x4A, 0x29}};

// Counts fixed by the record.
inline constexpr int RS_MAX_ADAPTERS = 4;
inline constexpr int RS_MAX_CAMERAS = 8;
inline constexpr int RS_MAX_RELAYS = 8;
inline constexpr int RS_MAX_ALARMS = 8;
inline constexpr int RS_MAX_RELAY_MATRIX = 32;
inline constexpr int RS_MAX_PHONES = 4;
inline constexpr int RS_MAX_SERIAL_OUT = 50;
inline constexpr int RS_MAX_USERS = 12;
inline constexpr int RS_MAX_NUMBER_OF_COMM = 50;
inline constexpr int MAX_NUMBER_OF_TASKS = 1000;
inline constexpr int RS_NAME_BYTES = 30;
inline constexpr int RS_PHONE_BYTES = 256;

enum UseStatus_Enum : LONG {
    USE_STATUS_NOT_USE = 0,
    USE_STATUS_REMOTE_USE = 1,
    USE_STATUS_LOCAL_USE = 2,
};
enum Config_Status_Enum : LONG {
    CONFIG_STATUS_NON_ACTIVE = 0,
    CONFIG_STATUS_ACTIVE = 1,
};
enum Time_Sync_Option_Enum : LONG {
    TIME_SYNC_OPTION_NONE = 0,
    TIME_SYNC_OPTION_MANUAL = 1,
    TIME_SYNC_OPTION_PC = 2,
};

#pragma pack(push, 1)

// Members called bit sets number their items from 1: item n is bit n - 1.
struct tagRemSetCamera {
    char szName[RS_NAME_BYTES];
};
static_assert(sizeof(tagRemSetCamera) == 30);

struct tagRemSetRelay {
    BYTE bType;
    BYTE bState;
    BYTE bPolarity;
    DWORD dwTimeOut;
    char szName[RS_NAME_BYTES];
};
static_assert(sizeof(tagRemSetRelay) == 37);
static_assert(offsetof(tagRemSetRelay, dwTimeOut) == 3);

struct tagRemSetVideoIn {
    WORD wSelectedInput;
    BYTE bSampleMode;
    BYTE bVideoStandart;
    BYTE bBrightness;
    BYTE bContrast;
    BYTE bHue;
    BYTE bSaturation;
};
static_assert(sizeof(tagRemSetVideoIn) == 8);

struct tagRemSetVideoOut {
    BYTE bVideoStandart;
    BYTE bSampleMode;
};
static_assert(sizeof(tagRemSetVideoOut) == 2);

struct tagRemSetAudioIn {
    BYTE bInputType;
    BYTE bInputVol;
    BYTE bAgc;
    BYTE bBass;
    BYTE bTreble;
    BYTE bSignalLevel;
    DWORD dwSelectedInput;
    BYTE bDisable;
};
static_assert(sizeof(tagRemSetAudioIn) == 11);

struct tagRemSetAudioOut {
    DWORD dwSelectedOutput;  // bit set of outputs
    BYTE bOutPutVol;
    BYTE bDisable;
};
static_assert(sizeof(tagRemSetAudioOut) == 6);

struct tagRemSetAlarm {
    BYTE bPolarity;
    BYTE bEnable;
    char szName[RS_NAME_BYTES];
    DWORD dwEntryDelay;
    DWORD dwExitDelay;
    LONG bPanicButton;  // a 32-bit flag
};
static_assert(sizeof(tagRemSetAlarm) == 44);

struct tagRemSetRelayMatrix {
    WORD wRelayMatrixIdx;  // 1-based number of the entry
    DWORD dwRelaysState;   // bit set of relays
};
static_assert(sizeof(tagRemSetRelayMatrix) == 6);

struct tagRemSetStillsRecFormat {
    WORD wCompressionType;
    WORD wCompressionQuality;
    WORD wRecordingResolution;
};
static_assert(sizeof(tagRemSetStillsRecFormat) == 6);

struct tagRemSetRecCameras {
    DWORD dwRecordingCameras;  // bit set of cameras
    BYTE bEnableRecWithConnection;
    DWORD dwFramesDelay;
};
static_assert(sizeof(tagRemSetRecCameras) == 9);

struct tagRemSetRecPreAlarm {
    DWORD dwDelay;
    DWORD dwNumberOfFrames;
};
static_assert(sizeof(tagRemSetRecPreAlarm) == 8);

struct tagRemSetRecPostAlarm {
    DWORD dwDelay;
    DWORD dwNumberOfFrames;
    DWORD dwMaxNumberofEvents;
};
static_assert(sizeof(tagRemSetRecPostAlarm) == 12);

struct tagRemSetRecDialOnAlarm {
    DWORD dwEntrytDelay;
    DWORD dwExitDelay;
    char szPhoneList[RS_MAX_PHONES][RS_PHONE_BYTES];
    BYTE bTriesForThisNum[RS_MAX_PHONES];
    DWORD dwDialToSuccess;
    DWORD UnattendedTimeOut;
    DWORD dwDoaCameras;     // bit set of cameras
    DWORD dwDialOnNoVideo;  // bit set of cameras
};
static_assert(sizeof(tagRemSetRecDialOnAlarm) == 1052);
static_assert(offsetof(tagRemSetRecDialOnAlarm, bTriesForThisNum) == 1032);
static_assert(offsetof(tagRemSetRecDialOnAlarm, dwDialOnNoVideo) == 1048);

struct tagRemAlarmsRec {
    WORD bAlarmIndex;          // 16 bits
    DWORD dwRecordingCameras;  // bit set of cameras recorded for this alarm input
};
static_assert(sizeof(tagRemAlarmsRec) == 6);

struct tagRemSetSerialout {
    WORD wPortID;
    WORD wCommandType;
    WORD wPortStyle;
    DWORD dwBaudRate;
    WORD wParityBit;
    WORD wDataBits;
    WORD wStopBits;
    WORD wSerialType;
    char szProtocolName[RS_NAME_BYTES];
    UseStatus_Enum eUseStatus;
    Config_Status_Enum eConfigStatus;
};
static_assert(sizeof(tagRemSetSerialout) == 56);
static_assert(offsetof(tagRemSetSerialout, eUseStatus) == 48);

struct tagRemSetAdapter {
    char szName[RS_NAME_BYTES];
    tagRemSetCamera Camera[RS_MAX_CAMERAS];
    tagRemSetRelay Relay[RS_MAX_RELAYS];
    tagRemSetVideoIn VideoIn;
    tagRemSetVideoOut VideoOut;
    tagRemSetAudioIn AudioIn;
    tagRemSetAudioOut AudioOut;
    tagRemSetAlarm Alarm[RS_MAX_ALARMS];
    tagRemSetRelayMatrix RelayMatrix[RS_MAX_RELAY_MATRIX];
    tagRemSetStillsRecFormat StillsFormat;
    tagRemSetRecCameras RecCameras;
    tagRemSetRecPreAlarm RecPreAlarm[RS_MAX_CAMERAS];
    tagRemSetRecPostAlarm RecPostAlarm[RS_MAX_CAMERAS];
    tagRemSetRecDialOnAlarm RecDialOnAlarm;
    tagRemAlarmsRec AlarmsRecording[RS_MAX_ALARMS];
    tagRemSetSerialout SerialOutSetting[RS_MAX_SERIAL_OUT];
};
static_assert(sizeof(tagRemSetAdapter) == 5212);
static_assert(offsetof(tagRemSetAdapter, Relay) == 270);
static_assert(offsetof(tagRemSetAdapter, VideoIn) == 566);
static_assert(offsetof(tagRemSetAdapter, AudioIn) == 576);
static_assert(offsetof(tagRemSetAdapter, AudioOut) == 587);
static_assert(offsetof(tagRemSetAdapter, Alarm) == 593);
static_assert(offsetof(tagRemSetAdapter, RelayMatrix) == 945);
static_assert(offsetof(tagRemSetAdapter, StillsFormat) == 1137);
static_assert(offsetof(tagRemSetAdapter, RecCameras) == 1143);
static_assert(offsetof(tagRemSetAdapter, RecPreAlarm) == 1152);
static_assert(offsetof(tagRemSetAdapter, RecPostAlarm) == 1216);
static_assert(offsetof(tagRemSetAdapter, RecDialOnAlarm) == 1312);
static_assert(offsetof(tagRemSetAdapter, AlarmsRecording) == 2364);
static_assert(offsetof(tagRemSetAdapter, SerialOutSetting) == 2412);

struct tagRemSetAutenticationInfo {
    char szUserName[90];
    char szPassword[90];
    BYTE bUserLevel;
    BYTE UserNameOperation;
};
static_assert(sizeof(tagRemSetAutenticationInfo) == 182);

struct tagRemSetSiteInfo {
    char szSiteName[RS_NAME_BYTES];
    WORD wSelectedComm;
    SYSTEMTIME tSysTime;  // the station clock
    Time_Sync_Option_Enum eTimeSyncOption;
    SYSTEMTIME sTimeLastDownloadTime;
    char sSiteDetails[256];
};
static_assert(sizeof(tagRemSetSiteInfo) == 324);
static_assert(offsetof(tagRemSetSiteInfo, sSiteDetails) == 68);

struct tagRemSetComm {
    char szName[RS_NAME_BYTES];
    WORD wCommType;
    WORD wSubCommType;
};
static_assert(sizeof(tagRemSetComm) == 34);

struct tagRemSetRemoteControl {
    BYTE bRcArmCode[4];     // one digit a byte
    BYTE bRcDisArmCode[4];  // one digit a byte
    DWORD dwFeatures;       // bit set of features
};
static_assert(sizeof(tagRemSetRemoteControl) == 12);

struct tagRemSetModemParam {
    WORD wRingsToAnswer;
};
static_assert(sizeof(tagRemSetModemParam) == 2);

struct tagRemSetControlPanel {
    BYTE bEnable;
    BYTE bPolarityNO;
};
static_assert(sizeof(tagRemSetControlPanel) == 2);

struct tagRemSetKeyLock {
    BYTE bEnable;
    BYTE bPolarityNO;
};
static_assert(sizeof(tagRemSetKeyLock) == 2);

struct tagRemSetSchedulerTask {
    WORD wOperationCode;
    BYTE bDayOfWeek;
    BYTE bHour;
    BYTE bMinute;
    BYTE bSecond;
    Config_Status_Enum eConfigStatus;  // in use when CONFIG_STATUS_ACTIVE
};
static_assert(sizeof(tagRemSetSchedulerTask) == 10);

struct tagRemSetScheduler {
    LONG bEnable;
    tagRemSetSchedulerTask SchedTask[MAX_NUMBER_OF_TASKS];
};
static_assert(sizeof(tagRemSetScheduler) == 10004);

// A remote station's whole settings record.
struct tagRemSettings {
    tagRemSetAdapter Adapter[RS_MAX_ADAPTERS];
    tagRemSetAutenticationInfo AutenticationInfo[RS_MAX_USERS];
    tagRemSetSiteInfo SiteInfo;
    tagRemSetComm CommDevice[RS_MAX_NUMBER_OF_COMM];
    tagRemSetRemoteControl RemoteControl;
    tagRemSetModemParam ModemParam;
    tagRemSetControlPanel ControlPanel;
    tagRemSetKeyLock KeyLock;
    tagRemSetScheduler Scheduler;
};
static_assert(sizeof(tagRemSettings) == 35078);
static_assert(offsetof(tagRemSettings, AutenticationInfo) == 20848);
static_assert(offsetof(tagRemSettings, SiteInfo) == 23032);
static_assert(offsetof(tagRemSettings, CommDevice) == 23356);
static_assert(offsetof(tagRemSettings, RemoteControl) == 25056);
static_assert(offsetof(tagRemSettings, ModemParam) == 25068);
static_assert(offsetof(tagRemSettings, ControlPanel) == 25070);
static_assert(offsetof(tagRemSettings, KeyLock) == 25072);
static_assert(offsetof(tagRemSettings, Scheduler) == 25074);
static_assert(offsetof(tagRemSettings, Scheduler) + offsetof(tagRemSetScheduler, SchedTask) +
                  (MAX_NUMBER_OF_TASKS - 1) * sizeof(tagRemSetSchedulerTask) + sizeof(tagRemSetSchedulerTask) ==
              35078);

#pragma pack(pop)

// Result codes of the store: 0 for success, small positive numbers otherwise.
enum RemSetDBError : HRESULT {
    RSDB_OK = 0,
    RSDB_ERR_NOT_FOUND = 3,        // no system profile; no profile to enumerate; a search step failed
    RSDB_ERR_NO_MORE = 4,          // end of the enumeration
    RSDB_ERR_NO_PROFILE = 5,       // the named profile does not exist, or the name cannot name a file
    RSDB_ERR_DELETE = 7,           // the profile file could not be deleted
    RSDB_ERR_EXISTS = 10,          // a profile of that name already exists
    RSDB_ERR_NO_ENUM = 11,         // no memory; no running enumeration; closing the search failed
    RSDB_ERR_WRITE = 12,           // the profile file could not be written (nothing was changed)
};

// Profile names are cut to this many characters.
inline constexpr int RSDB_MAX_PROFILE_NAME = 29;

// The settings-profile store (Morvel.RemSetDB). Every method returns one of
// the codes above. Texts are BSTRs; an out-text is allocated by the store and
// freed by the caller.
struct IRemSetDB : IDispatch {
    static constexpr IID iid = IID_IRemSetDB;
    using Base = IDispatch;
    virtual HRESULT Get(tagRemSettings* pRemoteSettingsDB) = 0;                           // dispid 1
    virtual HRESULT Set(tagRemSettings* pRemoteSettingsDB) = 0;                           // 2
    virtual HRESULT LoadProfile(BSTR bstrProfileName) = 0;                                // 3
    virtual HRESULT SaveProfile(BSTR bstrProfileName) = 0;                                // 4
    virtual HRESULT GetFirstProfileName(BSTR* bstrProfileName, ULONG dwBufSize) = 0;      // 5
    virtual HRESULT GetNextProfileName(BSTR* bstrProfileName, ULONG dwBufSize) = 0;       // 6
    virtual HRESULT CloseGetProfileName() = 0;                                            // 7
    virtual HRESULT GetSystemProfileName(BSTR* bstrProfileName) = 0;                      // 8
    virtual HRESULT DeleteProfile(BSTR bstrProfileName) = 0;                              // 9
    virtual HRESULT RenameProfile(BSTR bstrName, BSTR bstrNewName) = 0;                   // 10
    virtual HRESULT NewProfile(BSTR bstrProfileName) = 0;                                 // 11
    virtual HRESULT SaveAsProfile(BSTR bstrProfileName) = 0;                              // 12

protected:
    ~IRemSetDB() = default;
};
