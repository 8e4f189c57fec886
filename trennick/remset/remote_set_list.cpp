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
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <memory>
#include <strings.h>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <utility>

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

// ---- where each kind lands in the settings record ----

// The part of the settings record that a record's fields are relative to.
enum class Place : BYTE {
    Settings,  // the whole record: station-wide kinds, adapter and index not used
    Adapter,   // Adapter[adapter]
    Camera,    // the rest: entry [index] of a table of Adapter[adapter] ...
    Relay,
    Alarm,
    RelayMatrix,
    PreAlarm,
    PostAlarm,
    AlarmRecording,
    SerialOut,
    Comm,  // ... or of the whole record
    User,
    Task,
};

struct PlaceRow {
    bool perAdapter;
    std::uint32_t at;       // the table's offset in its adapter or in the record
    std::uint32_t stride;   // the size of one entry
    std::uint32_t entries;  // 0: the place is not a table
};

#define VM_TABLE(Owner, table)                                                           \
    {std::is_same_v<Owner, tagRemSetAdapter>, offsetof(Owner, table),                    \
     sizeof(std::declval<Owner&>().table[0]),                                            \
     sizeof(std::declval<Owner&>().table) / sizeof(std::declval<Owner&>().table[0])}

constexpr PlaceRow kPlaces[] = {
    {false, 0, 0, 0},
    {true, 0, 0, 0},
    VM_TABLE(tagRemSetAdapter, Camera),
    VM_TABLE(tagRemSetAdapter, Relay),
    VM_TABLE(tagRemSetAdapter, Alarm),
    VM_TABLE(tagRemSetAdapter, RelayMatrix),
    VM_TABLE(tagRemSetAdapter, RecPreAlarm),
    VM_TABLE(tagRemSetAdapter, RecPostAlarm),
    VM_TABLE(tagRemSetAdapter, AlarmsRecording),
    VM_TABLE(tagRemSetAdapter, SerialOutSetting),
    VM_TABLE(tagRemSettings, CommDevice),
    VM_TABLE(tagRemSettings, AutenticationInfo),
    VM_TABLE(tagRemSettings, Scheduler.SchedTask),
};
#undef VM_TABLE
static_assert(std::size(kPlaces) == std::size_t(Place::Task) + 1);

struct KindRow {
    WORD length;  // of the whole record, header included
    Place place;
};

// Indexed by kind; kind 26 is reserved: checked for its length, never read.
constexpr KindRow kKinds[kSettingsKinds + 1] = {
    {0, Place::Settings},
    {sizeof(RecSiteInfo), Place::Settings},
    {sizeof(RecAdapter), Place::Adapter},
    {sizeof(RecCamera), Place::Camera},
    {sizeof(RecRelay), Place::Relay},
    {sizeof(RecVideoIn), Place::Adapter},
    {sizeof(RecVideoOut), Place::Adapter},
    {sizeof(RecAudioIn), Place::Adapter},
    {sizeof(RecAudioOut), Place::Adapter},
    {sizeof(RecAlarm), Place::Alarm},
    {sizeof(RecComm), Place::Comm},
    {sizeof(RecUsedComm), Place::Settings},
    {sizeof(RecMask), Place::RelayMatrix},
    {sizeof(RecStills), Place::Adapter},
    {sizeof(RecRecCameras), Place::Adapter},
    {sizeof(RecPreAlarm), Place::PreAlarm},
    {sizeof(RecPostAlarm), Place::PostAlarm},
    {sizeof(RecDialOnAlarm), Place::Adapter},
    {sizeof(RecMask), Place::AlarmRecording},
    {sizeof(RecUser), Place::User},
    {sizeof(RecPostAlarm2), Place::PostAlarm},
    {sizeof(RecRemoteControl), Place::Settings},
    {sizeof(RecAlarm2), Place::Alarm},
    {sizeof(RecSerialOut), Place::SerialOut},
    {sizeof(RecSerialOut), Place::SerialOut},
    {sizeof(RecControlPanel), Place::Settings},
    {10, Place::Settings},
    {sizeof(RecMask), Place::Adapter},
    {sizeof(RecTask), Place::Task},
    {sizeof(RecDialOnAlarm2), Place::Adapter},
};
constexpr std::size_t kLongestRecord = sizeof(RecDialOnAlarm2);

// The bytes of the record's part that a record of the kind is about; nullptr
// (and a trace) when its adapter or index is outside the record's tables.
BYTE* placeOf(WORD kind, tagRemSettings& settings, WORD adapter, WORD index) {
    const PlaceRow& place = kPlaces[std::size_t(kKinds[kind].place)];
    BYTE* base = reinterpret_cast<BYTE*>(&settings);
    if (place.perAdapter) {
        if (adapter >= RS_MAX_ADAPTERS) {
            LUMO_TRACE(3, "CRemoteSetList::DispatchRecord kind %d for adapter %d: ignored", kind, adapter);
            return nullptr;
        }
        base = reinterpret_cast<BYTE*>(&settings.Adapter[adapter]);
    }
    if (place.entries == 0) return base;
    if (index >= place.entries) {
        LUMO_TRACE(3, "CRemoteSetList::DispatchRecord kind %d index %d outside its %u entries: ignored", kind, index,
                   unsigned(place.entries));
        return nullptr;
    }
    return base + place.at + std::size_t(index) * place.stride;
}

const BYTE* placeOf(WORD kind, const tagRemSettings& settings, WORD adapter, WORD index) {
    return placeOf(kind, const_cast<tagRemSettings&>(settings), adapter, index);
}

// ---- the fields of each kind, both ways ----

// Which way a field is copied: most go both ways; some only one, because the
// site sends what it does not take back, or the other way round.
enum class Way : BYTE { Both, ToRecord, ToWire };

enum class Form : BYTE {
    Number,    // unsigned, little-endian: widened with zeros or cut to the width it lands in
    Text,      // cut to its slot less one and zero-filled, so a text from the wire ends inside its field
    Bytes,     // copied as they are; both sides have the same length
    Polarity,  // a number, 0 and anything else swapped for the sites that read their alarm inputs the other way
    Flag,      // to the wire 1 for non-zero; to the record bit 0
    NotFlag,   // the short dial-on-alarm form carries the inverse: to the record 1 for 0, else 0; to the
               // wire 0 and 1 swapped, other values as they are
    One,       // to the wire always 1 (an alarm input sent is enabled, a task sent is active)
};

struct FieldRow {
    WORD kind;
    Way way;
    Form form;
    std::uint32_t wireAt, wireBytes;    // in the record on the wire
    std::uint32_t placeAt, placeBytes;  // in the part of the settings record of placeOf
    std::uint32_t count;                // a run of equal fields side by side (the phone numbers)
};

// Offset and size of a member, for the rows below.
#define VM_AT(Type, member) std::uint32_t(offsetof(Type, member)), std::uint32_t(sizeof(std::declval<Type&>().member))

constexpr std::uint32_t kNoPlace = 0;
constexpr Way B = Way::Both, In = Way::ToRecord, Out = Way::ToWire;
constexpr Form N = Form::Number, T = Form::Text;

constexpr FieldRow kFields[] = {
    {ID_SETTINGS_SITE_INFO, B, T, VM_AT(RecSiteInfo, siteName), VM_AT(tagRemSettings, SiteInfo.szSiteName), 1},
    {ID_SETTINGS_ADAPTER, B, T, VM_AT(RecAdapter, name), VM_AT(tagRemSetAdapter, szName), 1},
    {ID_SETTINGS_CAMERA, B, T, VM_AT(RecCamera, name), VM_AT(tagRemSetCamera, szName), 1},
    {ID_SETTINGS_RELAY, B, N, VM_AT(RecRelay, bType), VM_AT(tagRemSetRelay, bType), 1},
    {ID_SETTINGS_RELAY, B, N, VM_AT(RecRelay, bState), VM_AT(tagRemSetRelay, bState), 1},
    {ID_SETTINGS_RELAY, B, N, VM_AT(RecRelay, bPolarity), VM_AT(tagRemSetRelay, bPolarity), 1},
    {ID_SETTINGS_RELAY, B, N, VM_AT(RecRelay, dwTimeOut), VM_AT(tagRemSetRelay, dwTimeOut), 1},
    {ID_SETTINGS_RELAY, B, T, VM_AT(RecRelay, name), VM_AT(tagRemSetRelay, szName), 1},
    {ID_SETTINGS_VIDEO_IN, B, N, VM_AT(RecVideoIn, standard), VM_AT(tagRemSetAdapter, VideoIn.bVideoStandart), 1},
    {ID_SETTINGS_VIDEO_IN, B, N, VM_AT(RecVideoIn, sampleMode), VM_AT(tagRemSetAdapter, VideoIn.bSampleMode), 1},
    {ID_SETTINGS_VIDEO_IN, B, N, VM_AT(RecVideoIn, brightness), VM_AT(tagRemSetAdapter, VideoIn.bBrightness), 1},
    {ID_SETTINGS_VIDEO_IN, B, N, VM_AT(RecVideoIn, contrast), VM_AT(tagRemSetAdapter, VideoIn.bContrast), 1},
    {ID_SETTINGS_VIDEO_IN, B, N, VM_AT(RecVideoIn, hue), VM_AT(tagRemSetAdapter, VideoIn.bHue), 1},
    {ID_SETTINGS_VIDEO_IN, B, N, VM_AT(RecVideoIn, saturation), VM_AT(tagRemSetAdapter, VideoIn.bSaturation), 1},
    {ID_SETTINGS_VIDEO_OUT, B, N, VM_AT(RecVideoOut, standard), VM_AT(tagRemSetAdapter, VideoOut.bVideoStandart), 1},
    {ID_SETTINGS_VIDEO_OUT, B, N, VM_AT(RecVideoOut, sampleMode), VM_AT(tagRemSetAdapter, VideoOut.bSampleMode), 1},
    {ID_SETTINGS_AUDIO_IN, In, N, VM_AT(RecAudioIn, inputType), VM_AT(tagRemSetAdapter, AudioIn.bInputType), 1},
    {ID_SETTINGS_AUDIO_IN, B, N, VM_AT(RecAudioIn, inputVol), VM_AT(tagRemSetAdapter, AudioIn.bInputVol), 1},
    {ID_SETTINGS_AUDIO_IN, In, N, VM_AT(RecAudioIn, agc), VM_AT(tagRemSetAdapter, AudioIn.bAgc), 1},
    {ID_SETTINGS_AUDIO_IN, B, N, VM_AT(RecAudioIn, bass), VM_AT(tagRemSetAdapter, AudioIn.bBass), 1},
    {ID_SETTINGS_AUDIO_IN, B, N, VM_AT(RecAudioIn, treble), VM_AT(tagRemSetAdapter, AudioIn.bTreble), 1},
    {ID_SETTINGS_AUDIO_IN, In, N, VM_AT(RecAudioIn, signalLevel), VM_AT(tagRemSetAdapter, AudioIn.bSignalLevel), 1},
    {ID_SETTINGS_AUDIO_IN, B, N, VM_AT(RecAudioIn, disable), VM_AT(tagRemSetAdapter, AudioIn.bDisable), 1},
    {ID_SETTINGS_AUDIO_OUT, B, N, VM_AT(RecAudioOut, disable), VM_AT(tagRemSetAdapter, AudioOut.bDisable), 1},
    {ID_SETTINGS_AUDIO_OUT, In, N, VM_AT(RecAudioOut, outputVol), VM_AT(tagRemSetAdapter, AudioOut.bOutPutVol), 1},
    {ID_SETTINGS_ALARM, B, Form::Polarity, VM_AT(RecAlarm, polarity), VM_AT(tagRemSetAlarm, bPolarity), 1},
    {ID_SETTINGS_ALARM, In, N, VM_AT(RecAlarm, enable), VM_AT(tagRemSetAlarm, bEnable), 1},
    {ID_SETTINGS_ALARM, Out, Form::One, VM_AT(RecAlarm, enable), kNoPlace, 0, 1},
    {ID_SETTINGS_ALARM, B, T, VM_AT(RecAlarm, name), VM_AT(tagRemSetAlarm, szName), 1},
    {ID_SETTINGS_COMM, In, N, VM_AT(RecComm, commType), VM_AT(tagRemSetComm, wCommType), 1},
    {ID_SETTINGS_COMM, In, N, VM_AT(RecComm, subCommType), VM_AT(tagRemSetComm, wSubCommType), 1},
    {ID_SETTINGS_COMM, In, T, VM_AT(RecComm, name), VM_AT(tagRemSetComm, szName), 1},
    {ID_SETTINGS_USED_COMM, B, N, VM_AT(RecUsedComm, rings), VM_AT(tagRemSettings, ModemParam.wRingsToAnswer), 1},
    {ID_SETTINGS_RELAY_MATRIX, B, N, VM_AT(RecMask, mask), VM_AT(tagRemSetRelayMatrix, dwRelaysState), 1},
    {ID_SETTINGS_STILLS_RECORDING_FORMAT, B, N, VM_AT(RecStills, type),
     VM_AT(tagRemSetAdapter, StillsFormat.wCompressionType), 1},
    {ID_SETTINGS_STILLS_RECORDING_FORMAT, B, N, VM_AT(RecStills, quality),
     VM_AT(tagRemSetAdapter, StillsFormat.wCompressionQuality), 1},
    {ID_SETTINGS_STILLS_RECORDING_FORMAT, B, N, VM_AT(RecStills, resolution),
     VM_AT(tagRemSetAdapter, StillsFormat.wRecordingResolution), 1},
    {ID_SETTINGS_STILLS_RECORDING_FORMAT, B, N, VM_AT(RecStills, framesDelay),
     VM_AT(tagRemSetAdapter, RecCameras.dwFramesDelay), 1},
    {ID_SETTINGS_RECORDING_CAMERAS, B, N, VM_AT(RecRecCameras, enableWithConnection),
     VM_AT(tagRemSetAdapter, RecCameras.bEnableRecWithConnection), 1},
    {ID_SETTINGS_RECORDING_CAMERAS, B, N, VM_AT(RecRecCameras, cameras),
     VM_AT(tagRemSetAdapter, RecCameras.dwRecordingCameras), 1},
    {ID_SETTINGS_RECORDING_PRE_ALARM, B, N, VM_AT(RecPreAlarm, delay), VM_AT(tagRemSetRecPreAlarm, dwDelay), 1},
    {ID_SETTINGS_RECORDING_PRE_ALARM, B, N, VM_AT(RecPreAlarm, frames), VM_AT(tagRemSetRecPreAlarm, dwNumberOfFrames),
     1},
    {ID_SETTINGS_RECORDING_POST_ALARM, B, N, VM_AT(RecPostAlarm, delay), VM_AT(tagRemSetRecPostAlarm, dwDelay), 1},
    {ID_SETTINGS_RECORDING_POST_ALARM, B, N, VM_AT(RecPostAlarm, frames),
     VM_AT(tagRemSetRecPostAlarm, dwNumberOfFrames), 1},
    {ID_SETTINGS_RECORDING_POST_ALARM, B, N, VM_AT(RecPostAlarm, maxEvents),
     VM_AT(tagRemSetRecPostAlarm, dwMaxNumberofEvents), 1},
    {ID_SETTINGS_RECORDING_DIAL_ON_ALARM, B, N, VM_AT(RecDialOnAlarm, entryDelay),
     VM_AT(tagRemSetAdapter, RecDialOnAlarm.dwEntrytDelay), 1},
    {ID_SETTINGS_RECORDING_DIAL_ON_ALARM, B, N, VM_AT(RecDialOnAlarm, exitDelay),
     VM_AT(tagRemSetAdapter, RecDialOnAlarm.dwExitDelay), 1},
    {ID_SETTINGS_RECORDING_DIAL_ON_ALARM, B, T, VM_AT(RecDialOnAlarm, phones[0]),
     VM_AT(tagRemSetAdapter, RecDialOnAlarm.szPhoneList[0]), RS_MAX_PHONES},
    {ID_SETTINGS_RECORDING_DIAL_ON_ALARM, B, Form::Bytes, VM_AT(RecDialOnAlarm, tries),
     VM_AT(tagRemSetAdapter, RecDialOnAlarm.bTriesForThisNum), 1},
    {ID_SETTINGS_RECORDING_DIAL_ON_ALARM, B, Form::NotFlag, VM_AT(RecDialOnAlarm, dialToSuccess),
     VM_AT(tagRemSetAdapter, RecDialOnAlarm.dwDialToSuccess), 1},
    {ID_SETTINGS_RECORDING_DIAL_ON_ALARM, B, N, VM_AT(RecDialOnAlarm, unattendedTimeOut),
     VM_AT(tagRemSetAdapter, RecDialOnAlarm.UnattendedTimeOut), 1},
    {ID_SETTINGS_RECORDING_DIAL_ON_ALARM, B, N, VM_AT(RecDialOnAlarm, cameras),
     VM_AT(tagRemSetAdapter, RecDialOnAlarm.dwDoaCameras), 1},
    {ID_SETTINGS_ALARM_RECORDING, In, N, VM_AT(RecMask, mask), VM_AT(tagRemAlarmsRec, dwRecordingCameras), 1},
    {ID_SETTINGS_AUTENTICATION_INFO, B, T, VM_AT(RecUser, name), VM_AT(tagRemSetAutenticationInfo, szUserName), 1},
    {ID_SETTINGS_AUTENTICATION_INFO, B, T, VM_AT(RecUser, password), VM_AT(tagRemSetAutenticationInfo, szPassword),
     1},
    {ID_SETTINGS_AUTENTICATION_INFO, B, N, VM_AT(RecUser, level), VM_AT(tagRemSetAutenticationInfo, bUserLevel), 1},
    {ID_SETTINGS_AUTENTICATION_INFO, B, N, VM_AT(RecUser, operation),
     VM_AT(tagRemSetAutenticationInfo, UserNameOperation), 1},
    {ID_SETTINGS_RECORDING_POST_ALARM2, B, N, VM_AT(RecPostAlarm2, delay), VM_AT(tagRemSetRecPostAlarm, dwDelay), 1},
    {ID_SETTINGS_RECORDING_POST_ALARM2, B, N, VM_AT(RecPostAlarm2, frames),
     VM_AT(tagRemSetRecPostAlarm, dwNumberOfFrames), 1},
    {ID_SETTINGS_RECORDING_POST_ALARM2, B, N, VM_AT(RecPostAlarm2, maxEvents),
     VM_AT(tagRemSetRecPostAlarm, dwMaxNumberofEvents), 1},
    {ID_SETTINGS_REMOTE_CONTROL, B, Form::Bytes, VM_AT(RecRemoteControl, arm),
     VM_AT(tagRemSettings, RemoteControl.bRcArmCode), 1},
    {ID_SETTINGS_REMOTE_CONTROL, B, Form::Bytes, VM_AT(RecRemoteControl, disarm),
     VM_AT(tagRemSettings, RemoteControl.bRcDisArmCode), 1},
    {ID_SETTINGS_REMOTE_CONTROL, B, N, VM_AT(RecRemoteControl, features),
     VM_AT(tagRemSettings, RemoteControl.dwFeatures), 1},
    {ID_SETTINGS_ALARM2, B, Form::Polarity, VM_AT(RecAlarm2, polarity), VM_AT(tagRemSetAlarm, bPolarity), 1},
    {ID_SETTINGS_ALARM2, In, N, VM_AT(RecAlarm2, enable), VM_AT(tagRemSetAlarm, bEnable), 1},
    {ID_SETTINGS_ALARM2, Out, Form::One, VM_AT(RecAlarm2, enable), kNoPlace, 0, 1},
    {ID_SETTINGS_ALARM2, B, T, VM_AT(RecAlarm2, name), VM_AT(tagRemSetAlarm, szName), 1},
    {ID_SETTINGS_ALARM2, B, N, VM_AT(RecAlarm2, entryDelay), VM_AT(tagRemSetAlarm, dwEntryDelay), 1},
    {ID_SETTINGS_ALARM2, B, Form::Flag, VM_AT(RecAlarm2, flags), VM_AT(tagRemSetAlarm, bPanicButton), 1},
    // Serial outputs are built from here; a received one only marks this
    // station's protocol of its name as in use (dispatchRecord).
    {ID_SETTINGS_USED_SERIAL_OUT, Out, N, VM_AT(RecSerialOut, portId), VM_AT(tagRemSetSerialout, wPortID), 1},
    {ID_SETTINGS_USED_SERIAL_OUT, Out, N, VM_AT(RecSerialOut, portStyle), VM_AT(tagRemSetSerialout, wPortStyle), 1},
    {ID_SETTINGS_USED_SERIAL_OUT, Out, N, VM_AT(RecSerialOut, baudRate), VM_AT(tagRemSetSerialout, dwBaudRate), 1},
    {ID_SETTINGS_USED_SERIAL_OUT, Out, N, VM_AT(RecSerialOut, parity), VM_AT(tagRemSetSerialout, wParityBit), 1},
    {ID_SETTINGS_USED_SERIAL_OUT, Out, N, VM_AT(RecSerialOut, dataBits), VM_AT(tagRemSetSerialout, wDataBits), 1},
    {ID_SETTINGS_USED_SERIAL_OUT, Out, N, VM_AT(RecSerialOut, stopBits), VM_AT(tagRemSetSerialout, wStopBits), 1},
    {ID_SETTINGS_USED_SERIAL_OUT, Out, N, VM_AT(RecSerialOut, serialType), VM_AT(tagRemSetSerialout, wSerialType), 1},
    {ID_SETTINGS_USED_SERIAL_OUT, Out, T, VM_AT(RecSerialOut, protocol), VM_AT(tagRemSetSerialout, szProtocolName),
     1},
    {ID_SETTINGS_CP, B, N, VM_AT(RecControlPanel, enable), VM_AT(tagRemSettings, ControlPanel.bEnable), 1},
    {ID_SETTINGS_CP, B, N, VM_AT(RecControlPanel, polarityNO), VM_AT(tagRemSettings, ControlPanel.bPolarityNO), 1},
    {ID_SETTINGS_DIAL_ON_NOVIDEO, B, N, VM_AT(RecMask, mask), VM_AT(tagRemSetAdapter, RecDialOnAlarm.dwDialOnNoVideo),
     1},
    {ID_SETTINGS_SCHEDULER_TASK, B, N, VM_AT(RecTask, operation), VM_AT(tagRemSetSchedulerTask, wOperationCode), 1},
    {ID_SETTINGS_SCHEDULER_TASK, B, N, VM_AT(RecTask, day), VM_AT(tagRemSetSchedulerTask, bDayOfWeek), 1},
    {ID_SETTINGS_SCHEDULER_TASK, B, N, VM_AT(RecTask, hour), VM_AT(tagRemSetSchedulerTask, bHour), 1},
    {ID_SETTINGS_SCHEDULER_TASK, B, N, VM_AT(RecTask, minute), VM_AT(tagRemSetSchedulerTask, bMinute), 1},
    {ID_SETTINGS_SCHEDULER_TASK, B, N, VM_AT(RecTask, second), VM_AT(tagRemSetSchedulerTask, bSecond), 1},
    {ID_SETTINGS_SCHEDULER_TASK, Out, Form::One, VM_AT(RecTask, active), kNoPlace, 0, 1},
    {ID_SETTINGS_RECORDING_DIAL_ON_ALARM2, B, N, VM_AT(RecDialOnAlarm2, entryDelay),
     VM_AT(tagRemSetAdapter, RecDialOnAlarm.dwEntrytDelay), 1},
    {ID_SETTINGS_RECORDING_DIAL_ON_ALARM2, B, N, VM_AT(RecDialOnAlarm2, exitDelay),
     VM_AT(tagRemSetAdapter, RecDialOnAlarm.dwExitDelay), 1},
    {ID_SETTINGS_RECORDING_DIAL_ON_ALARM2, B, T, VM_AT(RecDialOnAlarm2, phones[0]),
     VM_AT(tagRemSetAdapter, RecDialOnAlarm.szPhoneList[0]), RS_MAX_PHONES},
    {ID_SETTINGS_RECORDING_DIAL_ON_ALARM2, B, Form::Bytes, VM_AT(RecDialOnAlarm2, tries),
     VM_AT(tagRemSetAdapter, RecDialOnAlarm.bTriesForThisNum), 1},
    {ID_SETTINGS_RECORDING_DIAL_ON_ALARM2, B, N, VM_AT(RecDialOnAlarm2, dialToSuccess),
     VM_AT(tagRemSetAdapter, RecDialOnAlarm.dwDialToSuccess), 1},
    {ID_SETTINGS_RECORDING_DIAL_ON_ALARM2, B, N, VM_AT(RecDialOnAlarm2, unattendedTimeOut),
     VM_AT(tagRemSetAdapter, RecDialOnAlarm.UnattendedTimeOut), 1},
    {ID_SETTINGS_RECORDING_DIAL_ON_ALARM2, B, N, VM_AT(RecDialOnAlarm2, cameras),
     VM_AT(tagRemSetAdapter, RecDialOnAlarm.dwDoaCameras), 1},
};
#undef VM_AT

// Every field lies inside its record on the wire; a number is at most 4
// bytes; bytes have the same length on both sides.
constexpr bool fieldsFit() {
    for (const FieldRow& f : kFields) {
        if (f.kind < 1 || f.kind > kSettingsKinds || f.count == 0) return false;
        if (f.wireAt < sizeof(SetListHeader) || f.wireAt + f.wireBytes * f.count > kKinds[f.kind].length) return false;
        const bool number = f.form != Form::Text && f.form != Form::Bytes;
        if (number && (f.wireBytes > 4 || f.placeBytes > 4)) return false;
        if (f.form == Form::Bytes && f.wireBytes != f.placeBytes) return false;
        if (f.form == Form::One && f.way != Way::ToWire) return false;
    }
    return true;
}
static_assert(fieldsFit());

DWORD loadNumber(const BYTE* at, std::size_t bytes) {
    DWORD value = 0;
    for (std::size_t i = 0; i < bytes; ++i) value |= DWORD(at[i]) << (8 * i);
    return value;
}

void storeNumber(BYTE* at, std::size_t bytes, DWORD value) {
    for (std::size_t i = 0; i < bytes; ++i) at[i] = BYTE(value >> (8 * i));
}

// Whether the site reads its alarm inputs the other way (see fixPolarity).
enum class Polarity : BYTE { AsItIs, Inverted };

DWORD polarity(DWORD value, Polarity p) { return p == Polarity::Inverted ? (value == 0 ? 1 : 0) : value; }

// One field from the wire into the settings record.
void fieldToRecord(const FieldRow& f, const BYTE* wire, BYTE* place, Polarity p) {
    const BYTE* from = wire + f.wireAt;
    BYTE* to = place + f.placeAt;
    const DWORD value = f.form == Form::Text || f.form == Form::Bytes ? 0 : loadNumber(from, f.wireBytes);
    switch (f.form) {
    case Form::Text:
        for (std::uint32_t i = 0; i < f.count; ++i) {
            putText(reinterpret_cast<char*>(to + i * f.placeBytes), f.placeBytes,
                    reinterpret_cast<const char*>(from + i * f.wireBytes), f.wireBytes);
        }
        return;
    case Form::Bytes: std::memcpy(to, from, f.placeBytes); return;
    case Form::Number: storeNumber(to, f.placeBytes, value); return;
    case Form::Polarity: storeNumber(to, f.placeBytes, polarity(value, p)); return;
    case Form::Flag: storeNumber(to, f.placeBytes, value & 1); return;
    case Form::NotFlag: storeNumber(to, f.placeBytes, value == 0 ? 1 : 0); return;
    case Form::One: return;
    }
}

// One field from the settings record onto the wire.
void fieldToWire(const FieldRow& f, const BYTE* place, BYTE* wire, Polarity p) {
    const BYTE* from = place + f.placeAt;
    BYTE* to = wire + f.wireAt;
    const bool number = f.form != Form::Text && f.form != Form::Bytes && f.form != Form::One;
    const DWORD value = number ? loadNumber(from, f.placeBytes) : 0;
    switch (f.form) {
    case Form::Text:
        for (std::uint32_t i = 0; i < f.count; ++i) {
            putText(reinterpret_cast<char*>(to + i * f.wireBytes), f.wireBytes,
                    reinterpret_cast<const char*>(from + i * f.placeBytes), f.placeBytes);
        }
        return;
    case Form::Bytes: std::memcpy(to, from, f.wireBytes); return;
    case Form::Number: storeNumber(to, f.wireBytes, value); return;
    case Form::Polarity: storeNumber(to, f.wireBytes, polarity(value, p)); return;
    case Form::Flag: storeNumber(to, f.wireBytes, value != 0 ? 1 : 0); return;
    case Form::NotFlag: storeNumber(to, f.wireBytes, value == 0 ? 1 : value == 1 ? 0 : value); return;
    case Form::One: storeNumber(to, f.wireBytes, 1); return;
    }
}

// A record being built: its header and the fields of its kind from the
// settings record; the caller sets what no field row covers.
struct WireRecord {
    std::array<BYTE, kLongestRecord> bytes{};
    WORD length = 0;

    WireRecord(WORD kind, WORD adapter, WORD index, const tagRemSettings& settings, Polarity p)
        : length(kKinds[kind].length) {
        const SetListHeader h{length, kind, adapter, index};
        std::memcpy(bytes.data(), &h, sizeof h);
        const BYTE* place = placeOf(kind, settings, adapter, index);
        if (place == nullptr) return;  // the builder keeps to the record's tables: never
        for (const FieldRow& f : kFields) {
            if (f.kind == kind && f.way != Way::ToRecord) fieldToWire(f, place, bytes.data(), p);
        }
    }
    void setNumber(std::size_t at, std::size_t size, DWORD value) { storeNumber(bytes.data() + at, size, value); }
};

// Appends records to the caller's buffer while they fit.
class ListWriter {
public:
    ListWriter(BYTE* buffer, DWORD capacity) : m_buffer(buffer), m_capacity(capacity) {}
    void add(const WireRecord& record) {
        if (m_buffer == nullptr || m_capacity - m_used < record.length) {
            LUMO_TRACE(3, "CRemoteSetList::CreateList record of kind %u does not fit: left out",
                       unsigned(loadNumber(record.bytes.data() + 2, 2)));
            return;
        }
        std::memcpy(m_buffer + m_used, record.bytes.data(), record.length);
        m_used += record.length;
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

}  // namespace

WORD SettingsRecordLength(WORD kind) { return kind >= 1 && kind <= kSettingsKinds ? kKinds[kind].length : 0; }

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
    const Polarity p = fixPolarity() ? Polarity::Inverted : Polarity::AsItIs;
    auto add = [&](WORD kind, int adapter, int index) {
        out.add(WireRecord(kind, WORD(adapter), WORD(index), settings, p));
    };
    auto addEach = [&](WORD kind, int adapter, int count) {
        for (int i = 0; i < count; ++i) add(kind, adapter, i);
    };
    // The site's counts are capped at the record's tables.
    const int adapters = capped(profile.adaptersNumber, RS_MAX_ADAPTERS);
    for (int a = 0; a < adapters; ++a) {
        const int cameras = capped(profile.adapters[a].camerasNumber, RS_MAX_CAMERAS);
        const int relays = capped(profile.adapters[a].relaysNumber, RS_MAX_RELAYS);
        LUMO_TRACE(5, "CRemoteSetList::CreateList adapter %d: %d cameras, %d relays", a, cameras, relays);
        add(ID_SETTINGS_ADAPTER, a, 0);
        addEach(ID_SETTINGS_CAMERA, a, cameras);
        addEach(ID_SETTINGS_RELAY, a, relays);
        add(ID_SETTINGS_VIDEO_IN, a, 0);
        add(ID_SETTINGS_VIDEO_OUT, a, 0);
        add(ID_SETTINGS_AUDIO_IN, a, 0);
        add(ID_SETTINGS_AUDIO_OUT, a, 0);
        addEach(ID_SETTINGS_ALARM, a, cameras);
        // The relay matrix: one entry per camera, then the events 16 to 20.
        addEach(ID_SETTINGS_RELAY_MATRIX, a, cameras);
        for (int event = 16; event <= 20; ++event) add(ID_SETTINGS_RELAY_MATRIX, a, event);
        add(ID_SETTINGS_STILLS_RECORDING_FORMAT, a, 0);
        add(ID_SETTINGS_RECORDING_CAMERAS, a, 0);
        addEach(ID_SETTINGS_RECORDING_PRE_ALARM, a, cameras);
        addEach(ID_SETTINGS_RECORDING_POST_ALARM, a, cameras);
        addEach(ID_SETTINGS_RECORDING_POST_ALARM2, a, cameras);
        add(ID_SETTINGS_RECORDING_DIAL_ON_ALARM, a, 0);
        add(ID_SETTINGS_RECORDING_DIAL_ON_ALARM2, a, 0);
        addEach(ID_SETTINGS_ALARM2, a, cameras);
        if (const int s = selectedSerialOut(settings.Adapter[a]); s >= 0) {
            WireRecord serial(ID_SETTINGS_USED_SERIAL_OUT, WORD(a), WORD(s), settings, p);
            // Command word 0 asks the site to use this station's protocol.
            const bool remote = settings.Adapter[a].SerialOutSetting[s].eUseStatus == USE_STATUS_REMOTE_USE;
            serial.setNumber(offsetof(RecSerialOut, command), sizeof(WORD), remote ? 0 : 1);
            out.add(serial);
        }
    }

    for (int u = 0; u < RS_MAX_USERS; ++u) {
        if (settings.AutenticationInfo[u].UserNameOperation != 0) add(ID_SETTINGS_AUTENTICATION_INFO, 0, u);
    }

    WireRecord comm(ID_SETTINGS_USED_COMM, 0, 0, settings, p);
    const char kCommName[] = "Modem settings";
    std::memcpy(comm.bytes.data() + offsetof(RecUsedComm, name), kCommName, sizeof kCommName);
    out.add(comm);

    WireRecord site(ID_SETTINGS_SITE_INFO, 0, 0, settings, p);
    site.setNumber(offsetof(RecSiteInfo, siteTime), sizeof(DWORD), DWORD(siteClockToSend(settings.SiteInfo)));
    out.add(site);
    m_host.writeSiteDetails(fixed_text::Read(settings.SiteInfo.sSiteDetails, sizeof settings.SiteInfo.sSiteDetails));

    add(ID_SETTINGS_REMOTE_CONTROL, 0, 0);
    add(ID_SETTINGS_CP, 0, 0);
    add(ID_SETTINGS_DIAL_ON_NOVIDEO, 0, 0);
    for (int k = 0; k < MAX_NUMBER_OF_TASKS; ++k) {
        if (settings.Scheduler.SchedTask[k].eConfigStatus == CONFIG_STATUS_ACTIVE) {
            add(ID_SETTINGS_SCHEDULER_TASK, 0, k);
        }
    }
    LUMO_TRACE(5, "CRemoteSetList::CreateList List size is %d", int(out.used()));
    return out.used();
}

LONG CRemoteSetList::siteClockToSend(tagRemSetSiteInfo& site) {
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
        return 0;
    }
    if (!timeOk) {
        LUMO_TRACE(1, "CRemoteSetList::cStructConvertor.SysTimeToTime_t Failed");
        return 0;
    }
    return seconds;
}

// ---- parsing ----

bool CRemoteSetList::DispatchList(const BYTE* buffer, DWORD length, tagRemSettings& settings) {
    if (buffer == nullptr || length == 0) {
        LUMO_TRACE(1, "ERROR:CRemoteSetList::DispatchList the list is empty");
        return false;
    }
    // Check the whole list before taking anything of it. A record whose length
    // is not its kind's (a site's newer firmware may lengthen one kind) is
    // skipped, as are kinds this station does not read; the rest is taken. A
    // record header cut short by the end, shorter than itself or running past
    // the end means a damaged list: refused whole, as is a list holding no
    // settings.
    std::vector<DWORD> taken;  // where the records to read start
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
        if (h.wSettingsID < 1 || h.wSettingsID > kSettingsKinds) {
            LUMO_TRACE(1, "CPacketConnection::Dispatch Setting List->Record of Type %d not supported", h.wSettingsID);
        } else if (expected != 0 && h.wSize != expected) {
            LUMO_TRACE(1, "CRemoteSetList::DispatchList ERROR in wRecordLen: kind %d of %d bytes, %d expected: skipped",
                       h.wSettingsID, h.wSize, expected);
        } else if (expected != 0 && h.wSettingsID != ID_SETTINGS_RESERVED_26) {
            taken.push_back(at);
        }
        at += h.wSize;
    }
    if (taken.empty()) {
        LUMO_TRACE(1, "ERROR:CRemoteSetList::DispatchList the list of %lu bytes holds no settings",
                   static_cast<unsigned long>(length));
        return false;
    }

    auto record = std::make_unique<tagRemSettings>();
    m_host.addRemoteProtocols(*record);
    for (const DWORD at : taken) {
        SetListHeader h{};
        std::memcpy(&h, buffer + at, sizeof h);
        dispatchRecord(buffer + at, h, *record);
    }
    settings = *record;
    return true;
}

void CRemoteSetList::dispatchRecord(const BYTE* bytes, const SetListHeader& h, tagRemSettings& s) {
    const WORD kind = h.wSettingsID;
    BYTE* place = placeOf(kind, s, h.wAdIdx, h.wIndex);
    if (place == nullptr) return;
    const bool alarm = kind == ID_SETTINGS_ALARM || kind == ID_SETTINGS_ALARM2;
    const Polarity p = alarm && fixPolarity() ? Polarity::Inverted : Polarity::AsItIs;
    for (const FieldRow& f : kFields) {
        if (f.kind == kind && f.way != Way::ToWire) fieldToRecord(f, bytes, place, p);
    }

    // What no field row covers.
    switch (kind) {
    case ID_SETTINGS_SITE_INFO: {
        const DWORD siteTime = loadNumber(bytes + offsetof(RecSiteInfo, siteTime), sizeof(DWORD));
        CStructConvertor convert;
        if (!convert.Time_tToSysTime(LONG(siteTime), &s.SiteInfo.tSysTime)) {
            LUMO_TRACE(1, "CRemoteSetList::DispatchRecord the site time %lu cannot be converted",
                       static_cast<unsigned long>(siteTime));
        }
        s.SiteInfo.sTimeLastDownloadTime = platform::currentLocalTime();
        std::string details;
        if (m_host.readSiteDetails(details)) {
            putText(s.SiteInfo.sSiteDetails, sizeof s.SiteInfo.sSiteDetails, details.c_str(), details.size() + 1);
        }
        break;
    }
    case ID_SETTINGS_USED_COMM:
        s.SiteInfo.wSelectedComm = h.wIndex;
        break;
    case ID_SETTINGS_SERIAL_OUT:
    case ID_SETTINGS_USED_SERIAL_OUT: {
        // Command word 0: the site uses the protocol of that name; mark this
        // station's entry of the name as the one in use.
        if (loadNumber(bytes + offsetof(RecSerialOut, command), sizeof(WORD)) != 0) break;
        char wanted[RS_NAME_BYTES];
        putText(wanted, sizeof wanted, reinterpret_cast<const char*>(bytes + offsetof(RecSerialOut, protocol)),
                sizeof(RecSerialOut::protocol));
        for (tagRemSetSerialout& entry : s.Adapter[h.wAdIdx].SerialOutSetting) {
            if (entry.eUseStatus == USE_STATUS_REMOTE_USE &&
                strncasecmp(entry.szProtocolName, wanted, sizeof entry.szProtocolName) == 0) {
                entry.eConfigStatus = CONFIG_STATUS_ACTIVE;
                break;
            }
        }
        break;
    }
    case ID_SETTINGS_SCHEDULER_TASK:
        s.Scheduler.SchedTask[h.wIndex].eConfigStatus = CONFIG_STATUS_ACTIVE;
        break;
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
