#include "morvel/profile_file.h"

#include "common/fixed_text.h"
#include "platform/ini_file.h"
#include "platform/time_convert.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <string_view>
#include <vector>

namespace morvel {
namespace {

// The digit a missing arm or disarm code digit reads as.
constexpr DWORD kDefaultCodeDigit = 0;

enum class Form { Number, Text, List };
// Where the default of a missing key comes from.
enum class Default {
    Fixed,          // `number` (numbers, lists) or `text`
    Numbered,       // `text` + "#" + the key's number
    NumberMinusOne  // the decimal text of the key's number less one, read as a list
};

// One key of a section, or one family of numbered keys ("CameraName#1" to
// "#8") when `count` > 1: element i lies at offset + i * stride and is
// `bytes` wide.
struct Key {
    const char* name;
    Form form;
    std::size_t offset;
    std::size_t bytes;
    int count = 1;
    std::size_t stride = 0;
    DWORD number = 0;
    const char* text = "";
    Default def = Default::Fixed;
};

#define A_OFF(member) offsetof(tagRemSetAdapter, member)
#define A_SIZE(member) sizeof(tagRemSetAdapter::member)
#define NUM(key, member, def) Key{key, Form::Number, A_OFF(member), A_SIZE(member), 1, 0, DWORD(def)}
#define LIST(key, member) Key{key, Form::List, A_OFF(member), A_SIZE(member)}
// Element `field` of the array `array` of the adapter, `count` of them.
#define EACH(key, form, array, Elem, field, count, def)                                                     \
    Key {                                                                                                    \
        key, form, A_OFF(array) + offsetof(Elem, field), sizeof(Elem::field), count, sizeof(Elem), DWORD(def) \
    }

// Section "Adapter#n", in the order the keys are written.
const Key kAdapterKeys[] = {
    // A missing name reads as the section's own name (see readProfile).
    {"Name", Form::Text, A_OFF(szName), A_SIZE(szName)},
    {"CameraName", Form::Text, A_OFF(Camera), RS_NAME_BYTES, RS_MAX_CAMERAS, sizeof(tagRemSetCamera), 0, "Camera",
     Default::Numbered},
    {"RelayName", Form::Text, A_OFF(Relay) + offsetof(tagRemSetRelay, szName), RS_NAME_BYTES, RS_MAX_RELAYS,
     sizeof(tagRemSetRelay), 0, "Relay", Default::Numbered},
    EACH("RelayType", Form::Number, Relay, tagRemSetRelay, bType, RS_MAX_RELAYS, 0),
    EACH("RelayPolarity", Form::Number, Relay, tagRemSetRelay, bPolarity, RS_MAX_RELAYS, 0),
    EACH("RelayTimeout", Form::Number, Relay, tagRemSetRelay, dwTimeOut, RS_MAX_RELAYS, 0),
    EACH("RelayState", Form::Number, Relay, tagRemSetRelay, bState, RS_MAX_RELAYS, 0),
    NUM("VideoInSampleMode", VideoIn.bSampleMode, 0),
    NUM("VideoInStandart", VideoIn.bVideoStandart, 0),
    NUM("VideoInBrightness", VideoIn.bBrightness, 128),
    NUM("VideoInContrast", VideoIn.bContrast, 64),
    NUM("VideoInHue", VideoIn.bHue, 0),
    NUM("VideoInSaturation", VideoIn.bSaturation, 64),
    NUM("VideoOutStandart", VideoOut.bVideoStandart, 0),
    NUM("VideoOutSmapleMode", VideoOut.bSampleMode, 0),
    NUM("AudioInputType", AudioIn.bInputType, 1),
    NUM("AudioinputVol", AudioIn.bInputVol, 0),
    NUM("AudioInputAgc", AudioIn.bAgc, 100),
    NUM("AudioInputBass", AudioIn.bBass, 0),
    NUM("AudioInputTreble", AudioIn.bTreble, 0),
    // The input's own flag has a key of its own, so that neither flag is lost
    // in a save and a load.
    NUM("AudioInputDisable", AudioIn.bDisable, 0),
    NUM("AudioOutDisable", AudioOut.bDisable, 0),
    NUM("AudioOutPutVol", AudioOut.bOutPutVol, 100),
    LIST("AudioOutput", AudioOut.dwSelectedOutput),
    {"AlarmName", Form::Text, A_OFF(Alarm) + offsetof(tagRemSetAlarm, szName), RS_NAME_BYTES, RS_MAX_ALARMS,
     sizeof(tagRemSetAlarm), 0, "Alarm", Default::Numbered},
    EACH("AlarmPolarity", Form::Number, Alarm, tagRemSetAlarm, bPolarity, RS_MAX_ALARMS, 1),
    EACH("AlarmEnable", Form::Number, Alarm, tagRemSetAlarm, bEnable, RS_MAX_ALARMS, 1),
    EACH("AlarmEntryDelay", Form::Number, Alarm, tagRemSetAlarm, dwEntryDelay, RS_MAX_ALARMS, 0),
    EACH("AlarmPanicButton", Form::Number, Alarm, tagRemSetAlarm, bPanicButton, RS_MAX_ALARMS, 0),
    EACH("RelayEvent", Form::List, RelayMatrix, tagRemSetRelayMatrix, dwRelaysState, RS_MAX_RELAY_MATRIX, 0),
    NUM("StillsRecordingType", StillsFormat.wCompressionType, 1),
    NUM("StillsRecordingQuality", StillsFormat.wCompressionQuality, 70),
    NUM("StillsRecordingResolution", StillsFormat.wRecordingResolution, 1),
    LIST("RecordingCameras", RecCameras.dwRecordingCameras),
    NUM("RecordingEnableOnConnection", RecCameras.bEnableRecWithConnection, 0),
    NUM("RecordingCamerasDelay", RecCameras.dwFramesDelay, 1000),
    {"RecordingCamerasForAlarm", Form::List, A_OFF(AlarmsRecording) + offsetof(tagRemAlarmsRec, dwRecordingCameras),
     sizeof(DWORD), RS_MAX_ALARMS, sizeof(tagRemAlarmsRec), 0, "", Default::NumberMinusOne},
    EACH("PreAlarmDelayCamera", Form::Number, RecPreAlarm, tagRemSetRecPreAlarm, dwDelay, RS_MAX_CAMERAS, 1),
    EACH("PreAlarmNumOfFrames", Form::Number, RecPreAlarm, tagRemSetRecPreAlarm, dwNumberOfFrames, RS_MAX_CAMERAS, 3),
    EACH("PostAlarmDelayCamera", Form::Number, RecPostAlarm, tagRemSetRecPostAlarm, dwDelay, RS_MAX_CAMERAS, 1),
    EACH("PostAlarmNumOfFrames", Form::Number, RecPostAlarm, tagRemSetRecPostAlarm, dwNumberOfFrames, RS_MAX_CAMERAS,
         3),
    EACH("MaxNumberOfEvents", Form::Number, RecPostAlarm, tagRemSetRecPostAlarm, dwMaxNumberofEvents, RS_MAX_CAMERAS,
         5),
    {"DoaPhone", Form::Text, A_OFF(RecDialOnAlarm.szPhoneList), RS_PHONE_BYTES, RS_MAX_PHONES, RS_PHONE_BYTES},
    {"DoaNumberOfRetries", Form::Number, A_OFF(RecDialOnAlarm.bTriesForThisNum), 1, RS_MAX_PHONES, 1, 3},
    NUM("DoaEntryDelay", RecDialOnAlarm.dwEntrytDelay, 1),
    NUM("DoaExitDelay", RecDialOnAlarm.dwExitDelay, 30),
    NUM("DoaDialToSucsess", RecDialOnAlarm.dwDialToSuccess, 1),
    NUM("DoaUnAttendedTimeOut", RecDialOnAlarm.UnattendedTimeOut, 120),
    LIST("DoaCameras", RecDialOnAlarm.dwDoaCameras),
    LIST("DialOnNoVideoCameras", RecDialOnAlarm.dwDialOnNoVideo),
};

#define R_OFF(member) offsetof(tagRemSettings, member)

const Key kRemoteControlKeys[] = {
    {"DisarmCode", Form::Number, R_OFF(RemoteControl.bRcDisArmCode), 1, 4, 1, kDefaultCodeDigit},
    {"ArmCode", Form::Number, R_OFF(RemoteControl.bRcArmCode), 1, 4, 1, kDefaultCodeDigit},
    {"Features", Form::List, R_OFF(RemoteControl.dwFeatures), sizeof(DWORD), 1, 0, 1u << 0},
};

const Key kCommunicationKeys[] = {
    {"NumberOfRings", Form::Number, R_OFF(ModemParam.wRingsToAnswer), sizeof(WORD), 1, 0, 2},
};

#define T_KEY(key, field) Key{key, Form::Number, offsetof(tagRemSetSchedulerTask, field), sizeof(tagRemSetSchedulerTask::field)}
const Key kTaskKeys[] = {
    T_KEY("OperationCode", wOperationCode), T_KEY("Day", bDayOfWeek), T_KEY("Hour", bHour),
    T_KEY("Minute", bMinute),               T_KEY("Second", bSecond), T_KEY("Active", eConfigStatus),
};

std::string numbered(std::string_view base, int number) { return std::string(base) + "#" + std::to_string(number); }

// ---- the members, reached by offset (the record is packed) ----

DWORD loadNumber(const BYTE* at, std::size_t bytes) {
    if (bytes == 1) return at[0];
    if (bytes == 2) {
        WORD v;
        std::memcpy(&v, at, 2);
        return v;
    }
    DWORD v;
    std::memcpy(&v, at, 4);
    return v;
}

void storeNumber(BYTE* at, std::size_t bytes, DWORD value) {
    if (bytes == 1) {
        at[0] = static_cast<BYTE>(value);
    } else if (bytes == 2) {
        const WORD v = static_cast<WORD>(value);
        std::memcpy(at, &v, 2);
    } else {
        std::memcpy(at, &value, 4);
    }
}

// The text of a fixed field: up to its terminator (or its end), and no further
// than a line break, which an ini line cannot hold.
std::string fieldText(const BYTE* at, std::size_t bytes) {
    std::string text = fixed_text::Read(at, bytes);
    text.resize(std::min(text.size(), text.find_first_of("\r\n")));
    return text;
}

void storeText(BYTE* at, std::size_t bytes, const std::string& text) {
    fixed_text::Write(reinterpret_cast<char*>(at), bytes, text);
}

// A number as GetPrivateProfileInt reads it: optional sign, leading digits;
// anything else reads as 0.
DWORD parseNumber(const std::string& text) {
    return static_cast<DWORD>(static_cast<LONG>(std::strtoll(text.c_str(), nullptr, 10)));
}

std::string valueText(const Key& key, const BYTE* at) {
    switch (key.form) {
    case Form::Text:
        return fieldText(at, key.bytes);
    case Form::List:
        return listText(loadNumber(at, key.bytes));
    case Form::Number:
    default: {
        const DWORD v = loadNumber(at, key.bytes);
        // 32-bit members as signed decimal ("%d"), narrower ones unsigned.
        return key.bytes == 4 ? std::to_string(static_cast<LONG>(v)) : std::to_string(v);
    }
    }
}

std::string defaultText(const Key& key, int number) {
    switch (key.def) {
    case Default::Numbered: return numbered(key.text, number);
    case Default::NumberMinusOne: return std::to_string(number - 1);
    case Default::Fixed:
    default:
        if (key.form == Form::Text) return key.text;
        if (key.form == Form::List) return listText(key.number);
        return std::to_string(static_cast<LONG>(key.number));
    }
}

void storeValue(const Key& key, BYTE* at, const std::string& text) {
    switch (key.form) {
    case Form::Text: storeText(at, key.bytes, text); break;
    case Form::List: storeNumber(at, key.bytes, parseList(text)); break;
    case Form::Number: storeNumber(at, key.bytes, parseNumber(text)); break;
    }
}

// The entries of one section, by key without regard to case (the first of
// a key that appears twice wins, as a read of the file finds it).
class SectionValues {
public:
    SectionValues() = default;
    explicit SectionValues(const std::vector<platform::IniEntry>& entries) {
        for (const auto& e : entries) m_values.emplace(lowered(e.key), e.value);
    }
    const std::string* find(const std::string& key) const {
        auto it = m_values.find(lowered(key));
        return it == m_values.end() ? nullptr : &it->second;
    }
    bool empty() const { return m_values.empty(); }

private:
    std::multimap<std::string, std::string> m_values;
};

template <std::size_t N>
void readKeys(const Key (&keys)[N], const SectionValues& values, BYTE* base) {
    for (const Key& key : keys) {
        for (int i = 0; i < key.count; ++i) {
            const std::string name = key.count > 1 ? numbered(key.name, i + 1) : std::string(key.name);
            const std::string* value = values.find(name);
            storeValue(key, base + key.offset + std::size_t(i) * key.stride, value ? *value : defaultText(key, i + 1));
        }
    }
}

template <std::size_t N>
std::vector<platform::IniEntry> writeKeys(const Key (&keys)[N], const BYTE* base) {
    std::vector<platform::IniEntry> entries;
    for (const Key& key : keys) {
        for (int i = 0; i < key.count; ++i) {
            const std::string name = key.count > 1 ? numbered(key.name, i + 1) : std::string(key.name);
            entries.push_back({name, valueText(key, base + key.offset + std::size_t(i) * key.stride)});
        }
    }
    return entries;
}

}  // namespace

std::string lowered(std::string text) {
    for (char& c : text) c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return text;
}

std::string listText(DWORD bits) {
    std::string text;
    for (int bit = 0; bit <= 30; ++bit) {
        if (bits & (1u << bit)) text += std::to_string(bit + 1) + ",";
    }
    return text;
}

DWORD parseList(const std::string& text) {
    DWORD bits = 0;
    auto setItem = [&](long long n) { bits |= 1u << ((n - 1) & 31); };
    if (text.find(',') == std::string::npos) {
        // One number alone; 0 (or no number) is the empty set.
        if (long long n = std::strtoll(text.c_str(), nullptr, 10); n != 0) setItem(n);
        return bits;
    }
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!item.empty()) setItem(std::strtoll(item.c_str(), nullptr, 10));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return bits;
}

void readProfile(const std::string& path, tagRemSettings& record) {
    std::memset(&record, 0, sizeof record);
    std::map<std::string, SectionValues> sections;
    if (!path.empty()) {
        for (const auto& section : platform::iniReadFile(path)) {
            sections.try_emplace(lowered(section.name), section.entries);
        }
    }
    auto section = [&](const std::string& name) -> const SectionValues& {
        static const SectionValues none;
        auto it = sections.find(lowered(name));
        return it == sections.end() ? none : it->second;
    };
    BYTE* base = reinterpret_cast<BYTE*>(&record);
    for (int n = 0; n < RS_MAX_ADAPTERS; ++n) {
        BYTE* adapter = reinterpret_cast<BYTE*>(&record.Adapter[n]);
        const std::string name = numbered("Adapter", n + 1);
        readKeys(kAdapterKeys, section(name), adapter);
        // A missing name defaults to the section's own name.
        const SectionValues& values = section(name);
        if (values.find("Name") == nullptr) storeText(adapter + A_OFF(szName), A_SIZE(szName), name);
        for (int m = 0; m < RS_MAX_RELAY_MATRIX; ++m) record.Adapter[n].RelayMatrix[m].wRelayMatrixIdx = WORD(m + 1);
    }
    record.SiteInfo.tSysTime = platform::currentLocalTime();
    readKeys(kRemoteControlKeys, section("RemoteControl"), base);
    readKeys(kCommunicationKeys, section("Communication"), base);
    // Tasks are saved under the number of their place, with gaps for the
    // unused ones: every task section is read, not only those before a gap.
    for (int k = 0; k < MAX_NUMBER_OF_TASKS; ++k) {
        const SectionValues& values = section(numbered("SchedTask", k + 1));
        if (values.empty()) continue;
        readKeys(kTaskKeys, values, reinterpret_cast<BYTE*>(&record.Scheduler.SchedTask[k]));
    }
}

bool writeProfile(const std::string& path, const tagRemSettings& record) {
    std::vector<platform::IniSection> sections;
    const BYTE* base = reinterpret_cast<const BYTE*>(&record);
    for (int n = 0; n < RS_MAX_ADAPTERS; ++n) {
        sections.push_back({numbered("Adapter", n + 1),
                            writeKeys(kAdapterKeys, reinterpret_cast<const BYTE*>(&record.Adapter[n]))});
    }
    sections.push_back({"RemoteControl", writeKeys(kRemoteControlKeys, base)});
    sections.push_back({"Communication", writeKeys(kCommunicationKeys, base)});
    for (int k = 0; k < MAX_NUMBER_OF_TASKS; ++k) {
        const tagRemSetSchedulerTask& task = record.Scheduler.SchedTask[k];
        if (task.eConfigStatus != CONFIG_STATUS_ACTIVE) continue;
        sections.push_back({numbered("SchedTask", k + 1), writeKeys(kTaskKeys, reinterpret_cast<const BYTE*>(&task))});
    }
    return platform::iniWriteFile(path, sections);
}

}  // namespace morvel
