#include "tavicore/db_lumo.h"

#include "platform/registry.h"
#include "tavicore/capture_base.h"
#include "tavicore/testing/card_test_support.h"
#include "tavicore/station_identity.h"
#include "tavicore/tavicore_globals.h"
#include "tavicore/users_manager.h"

#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

using platform::HKEY_CURRENT_USER;
using platform::KEY_ALL_ACCESS;
using platform::RegistryKey;
using platform::RegistryValue;

namespace {

std::string product() { return "Software\\Quennel\\Velmoor" + gcsVlmInsID + "\\1.000.0\\"; }

std::optional<RegistryValue> stored(const std::string& section, const char* name) {
    RegistryKey key;
    RegistryValue value;
    if (RegistryKey::open(HKEY_CURRENT_USER, product() + section, KEY_ALL_ACCESS, key) != ERROR_SUCCESS ||
        key.readValue(name, value) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

std::optional<DWORD> storedDword(const std::string& section, const char* name) {
    auto value = stored(section, name);
    if (!value || value->type != platform::REG_DWORD || value->data.size() != 4) {
        return std::nullopt;
    }
    DWORD v;
    std::memcpy(&v, value->data.data(), 4);
    return v;
}

std::optional<std::string> storedText(const std::string& section, const char* name) {
    auto value = stored(section, name);
    if (!value || value->type != platform::REG_SZ) {
        return std::nullopt;
    }
    std::string text(value->data.begin(), value->data.end());
    return text.substr(0, text.find('\0'));
}

void store(const std::string& section, const char* name, DWORD type, const void* data, DWORD size) {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::create(HKEY_CURRENT_USER, product() + section, KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    ASSERT_EQ(key.setValue(name, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}

void storeDword(const std::string& section, const char* name, DWORD value) {
    store(section, name, platform::REG_DWORD, &value, 4);
}

void storeText(const std::string& section, const char* name, const std::string& text) {
    store(section, name, platform::REG_SZ, text.data(), static_cast<DWORD>(text.size()));
}

std::string name30(const char (&field)[kSettingsNameBytes]) { return std::string(field, ::strnlen(field, 30)); }

}  // namespace

TEST(SettingsRecords, SizesAreTheStoredAndWireSizes) {
    struct Case { const char* record; std::size_t size, expected; };
    const Case kCases[] = {
        {"tagHWProfile", sizeof(tagHWProfile), 21560},
        {"tagAdapterBlock", sizeof(tagAdapterBlock), 3585},
        {"tagRelayBlock", sizeof(tagRelayBlock), 38},
        {"tagCameraBlock", sizeof(tagCameraBlock), 70},
        {"tagMask", sizeof(tagMask), 8},
        {"tagSplitProfiles", sizeof(tagSplitProfiles), 468},
        {"tagEvents", sizeof(tagEvents), 1920},
        {"tagRecordMode", sizeof(tagRecordMode), 384},
        {"tagDebriefSettings", sizeof(tagDebriefSettings), 44},
        {"tagSBProfiles", sizeof(tagSBProfiles), 528},
        {"tagPreAlarm", sizeof(tagPreAlarm), 64},
        {"tagRelayTriggerMtx", sizeof(tagRelayTriggerMtx), 30720},
        {"tagHistoryRec", sizeof(tagHistoryRec), 22},
        {"tagTriggerProfiles", sizeof(tagTriggerProfiles), 4},
        {"_tag_user", sizeof(_tag_user), 208},
        {"tagSiteInfo", sizeof(tagSiteInfo), 512},
        {"StationData", sizeof(StationData), 16},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(+c.size, c.expected) << c.record;
    }
}

TEST(CDBLumo, DefaultsOfAFreshDatabase) {
    CDBLumoRemote db;
    tagHWProfile p;
    ASSERT_EQ(db.GetDefaultHWProfiles(&p), 1);
    EXPECT_EQ(+p.version, 1);
    EXPECT_EQ(+p.adaptersNumber, 6);
    EXPECT_EQ(+p.currentAdapter, 0);
    EXPECT_EQ(+p.snapshotResolution, 1);
    EXPECT_EQ(+p.jpegQuality, 70);
    EXPECT_EQ(+p.jpegCompression, 1u);
    EXPECT_EQ(+p.automaticSwitchIntervalMs, 3000u);
    EXPECT_EQ(+p.reasonForCall, 0);
    for (int a = 0; a < kMaxAdapters; ++a) {
        SCOPED_TRACE(a);
        const tagAdapterBlock& ad = p.adapters[a];
        EXPECT_EQ(name30(ad.name), "Group #" + std::to_string(a + 1));
        EXPECT_EQ(+ad.camerasNumber, 16);
        EXPECT_EQ(+ad.relaysNumber, 8);
        EXPECT_EQ(+ad.videoStandard, 1);
        EXPECT_EQ(ad.brightness + ad.contrast + ad.hue + ad.saturation, 200);
        EXPECT_EQ(+ad.automaticSwitch, 0u);
        for (int c = 0; c < kCamerasPerAdapter; ++c) {
            const tagCameraBlock& cam = ad.cameras[c];
            EXPECT_EQ(name30(cam.name), "Camera #" + std::to_string(a * 16 + c + 1));
            EXPECT_EQ(+cam.maxEventNumber, 3u);
            EXPECT_EQ(+cam.snapshotNum, 3u);
            EXPECT_EQ(+cam.snapshotDelayMs, 3000u);
            EXPECT_EQ(+cam.automaticSwitch, c == 0 ? 1u : 0u);
            EXPECT_EQ(cam.popupAlarm + cam.captureSnapshots + cam.dialOnAlarm + cam.lastEventIndex +
                          cam.carried + cam.activeHigh,
                      0u);
        }
        for (int r = 0; r < kRelaysPerAdapter; ++r) {
            const tagRelayBlock& rel = ad.relays[r];
            EXPECT_EQ(name30(rel.name), "Relay #" + std::to_string(a * 16 + r + 1));
            EXPECT_EQ(+rel.type, r == 2 ? 1 : 0);
            EXPECT_EQ(rel.state + rel.status, 0u);
        }
    }
    tagSplitProfiles s;
    db.GetDefaultSplitProfiles(&s);
    EXPECT_EQ(s.splitDelay + s.splitDelayForRecord + s.minimumSplitDelay + s.minimumSplitDelayForRecord, 80u);
    EXPECT_EQ(s.useMinimumDelay + s.useMinimumDelayForRecord, 2u);
    for (int a = 0; a < kMaxAdapters; ++a) {
        EXPECT_EQ(+s.splitEnable[a], 1u);
        EXPECT_EQ(+s.quadOrSplitActive[a], 0u);
    }
    tagHWProfile current;
    db.GetHWProfiles(&current);
    EXPECT_EQ(std::memcmp(&current, &p, sizeof p), 0);
    EXPECT_EQ(db.IsHWProfilesUpdated(), 0);
    EXPECT_EQ(db.IsVideoAutoDetectEnabled(), 1);
    tagSBProfiles sb;
    db.GetSBProfiles(&sb);
    EXPECT_STREQ(sb.alarmFile, "siren.wav");
    EXPECT_STREQ(sb.ringFile, "resource");
    EXPECT_EQ(sb.ringEnable + sb.alarmEnable, 2u);
    EXPECT_EQ(sb.playRingTimeMs + sb.playAlarmTimeMs, 20000u);
}

namespace {

struct Region { std::size_t offset, length; };

// The byte ranges of `after` that differ from `before`, merged.
std::vector<Region> changedRegions(const tagHWProfile& before, const tagHWProfile& after) {
    const auto* b = reinterpret_cast<const BYTE*>(&before);
    const auto* a = reinterpret_cast<const BYTE*>(&after);
    std::vector<Region> out;
    for (std::size_t i = 0; i < sizeof before; ++i) {
        if (a[i] == b[i]) {
            continue;
        }
        if (!out.empty() && out.back().offset + out.back().length == i) {
            ++out.back().length;
        } else {
            out.push_back({i, 1});
        }
    }
    return out;
}

constexpr std::size_t adapterAt(int a) { return offsetof(tagHWProfile, adapters) + a * sizeof(tagAdapterBlock); }

}  // namespace

TEST(CDBLumo, EveryMaskBitCopiesItsPartsOnly) {
    tagHWProfile source;
    std::memset(&source, 0x5A, sizeof source);
    source.adaptersNumber = 5;
    struct Case {
        DWORD flags;
        WORD adapter, camera;
        std::vector<Region> perAdapter;  // offsets within an adapter block
        std::vector<Region> profile;     // offsets within the profile, besides the adapter count
    };
    const Case kCases[] = {
        {0, 0, 0, {}, {}},
        {0x002, 0, 0, {}, {{44, 4}}},
        {0x004, 0, 0, {}, {{36, 2}}},
        {0x400, 0, 0, {}, {{38, 6}}},
        {0x008, 0, 0, {{0, 30}}, {}},
        {0x010, 0, 0, {{52, 608}}, {}},
        {0x020, 0, 0, {{48, 4}}, {}},
        {0x040, 0, 0, {{38, 10}}, {}},
        {0x080, 0, 0, {{36, 2}}, {}},
        {0x100, 0, 0, {{660, 1120}}, {}},
        {0x200, 0, 5, {{660 + 5 * 70 + 46, 4}}, {}},
        {0x7FE, 0, 15, {{0, 30}, {36, 1744}}, {{36, 12}}},
    };
    for (const auto& c : kCases) {
        for (bool oneAdapter : {false, true}) {
            SCOPED_TRACE(testing::Message() << std::hex << c.flags << (oneAdapter ? " adapter 3" : ""));
            CDBLumoRemote db;
            tagHWProfile before;
            db.GetHWProfiles(&before);
            tagMask mask{static_cast<WORD>(oneAdapter ? 3 : 0), c.camera, c.flags | (oneAdapter ? 0x001u : 0u)};
            ASSERT_EQ(db.UpdateHWProfiles(&source, &mask), 1);
            EXPECT_EQ(db.IsHWProfilesUpdated(), 1);
            tagHWProfile after;
            db.GetHWProfiles(&after);
            std::vector<Region> expected{{2, 1}};  // the adapter count (6 -> 5: one byte)
            for (const auto& r : c.profile) {
                expected.push_back(r);
            }
            for (int a = 0; a < kMaxAdapters; ++a) {
                if (oneAdapter && a != 3) {
                    continue;
                }
                for (const auto& r : c.perAdapter) {
                    expected.push_back({adapterAt(a) + r.offset, r.length});
                }
            }
            // Neighbouring parts show as one changed range.
            std::vector<Region> merged;
            for (const auto& r : expected) {
                if (!merged.empty() && merged.back().offset + merged.back().length == r.offset) {
                    merged.back().length += r.length;
                } else {
                    merged.push_back(r);
                }
            }
            expected = merged;
            const auto got = changedRegions(before, after);
            ASSERT_EQ(got.size(), expected.size());
            for (std::size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(+got[i].offset, expected[i].offset) << i;
                EXPECT_EQ(+got[i].length, expected[i].length) << i;
            }
        }
    }
}

TEST(CDBLumo, RefusedMasksChangeNothingButMarkTheUpdate) {
    tagHWProfile source;
    std::memset(&source, 0x5A, sizeof source);
    struct Case { DWORD flags; WORD adapter, camera; };
    constexpr Case kRefused[] = {{0x001, 6, 0}, {0x1FF, 65535, 0}, {0x200, 0, 16}, {0x201, 0, 999}};
    for (const auto& c : kRefused) {
        SCOPED_TRACE(testing::Message() << std::hex << c.flags << " " << std::dec << c.adapter << "/" << c.camera);
        CDBLumoRemote db;
        tagHWProfile before, after;
        db.GetHWProfiles(&before);
        tagMask mask{c.adapter, c.camera, c.flags};
        EXPECT_EQ(db.UpdateHWProfiles(&source, &mask), 0);
        db.GetHWProfiles(&after);
        EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
        EXPECT_EQ(db.IsHWProfilesUpdated(), 1);
    }
}

TEST(CDBLumo, WholeUpdateClampsCountsAndDefaultsStay) {
    CDBLumoRemote db;
    tagHWProfile source;
    std::memset(&source, 0x5A, sizeof source);
    ASSERT_EQ(db.UpdateHWProfiles(&source, nullptr), 1);
    tagHWProfile after;
    db.GetHWProfiles(&after);
    EXPECT_EQ(+after.adaptersNumber, 6);
    EXPECT_EQ(+after.adapters[5].camerasNumber, 16);
    EXPECT_EQ(+after.adapters[5].relaysNumber, 16);
    EXPECT_EQ(+after.adapters[5].deviceData[1804], 0x5A);  // carried unchanged
    db.UpdateCurrentAdapter(4);
    WORD current = 0;
    EXPECT_EQ(db.GetCurrentAdapter(&current), 0);
    EXPECT_EQ(current, 4);
    tagHWProfile def;
    db.GetDefaultHWProfiles(&def);
    EXPECT_EQ(name30(def.adapters[5].name), "Group #6");
    EXPECT_EQ(+def.currentAdapter, 0);
}

TEST(CDBLumo, SplitUpdateRaisesBothCyclesToTwoCameras) {
    CDBLumoRemote db;
    tagSplitProfiles split;
    db.GetSplitProfiles(&split);
    split.cameraInCycle[1][7] = 1;  // adapter 1 has one, the others none
    split.cameraInCycle[2][0] = 1;
    split.cameraInCycle[2][9] = 1;
    split.cameraInCycle[2][12] = 1;
    ASSERT_EQ(db.UpdateSplitProfiles(&split), 1);
    tagSplitProfiles stored;
    db.GetSplitProfiles(&stored);
    EXPECT_EQ(std::memcmp(&split, &stored, sizeof split), 0);  // the caller's record changed too
    EXPECT_EQ(stored.cameraInCycle[0][0] + stored.cameraInCycle[0][1] + stored.cameraInCycle[0][2], 2u);
    EXPECT_EQ(+stored.camerasInCycle[0], 2);
    EXPECT_EQ(stored.cameraInCycle[1][0] + stored.cameraInCycle[1][7], 2u);
    EXPECT_EQ(+stored.camerasInCycle[1], 2);
    EXPECT_EQ(+stored.camerasInCycle[2], 3);  // never lowered
    tagHWProfile p;
    db.GetHWProfiles(&p);
    for (int a = 0; a < kMaxAdapters; ++a) {
        EXPECT_EQ(p.adapters[a].cameras[0].automaticSwitch + p.adapters[a].cameras[1].automaticSwitch, 2u);
        EXPECT_EQ(+p.adapters[a].cameras[2].automaticSwitch, 0u);
    }
    db.SetMinNumOfCamerasInCycle(40);  // more than an adapter has: all 16
    db.GetHWProfiles(&p);
    EXPECT_EQ(+p.adapters[5].cameras[15].automaticSwitch, 1u);
}

TEST(CDBLumoLocal, EmptyRegistryGetsTheWrittenBackValuesOnly) {
    struct Dw { std::string section; const char* name; DWORD value; };
    const Dw kWrittenBack[] = {
        {"Video", "Use Video Standard Autodection", 1},
        {"General", "Wav Alarm Enable", 1},
        {"General", "Wav Ring Enable", 1},
        {"General", "PlayAlarmTime", 10000},
        {"General", "PlayRingTime", 10000},
        {"VideoDevices", "IsReportNumOfCamerasAndRelays", 1},
        {"Adapters", "Adapters Num", 0},
        {"PreAlarm", "MaxPreAlarmFrames", 100},
        {"PreAlarm\\Adapters\\0", "IsActive", 0},
        {"PreAlarm\\Adapters\\5", "CameraInput", 0},
        {"PreAlarm\\Adapters\\5", "PreAlarmFrames", 100},
        {"TriggerRelayMTX\\Adapter_0\\Camera_0\\Relay_0", "Action", 3},
        {"TriggerRelayMTX\\Adapter_5\\Camera_15\\Relay_15", "DelayForToggle", 1000},
        {"TriggerRelayMTX\\Adapter_5\\Camera_15\\Relay_15", "IsDelayForToggleSet", 0},
        {"HistoryRecording", "FramesNumber", 20},
        {"HistoryRecording", "FramesInterval", 1000},
        {"HistoryRecording", "SplitToFiles", 1},
        {"HistoryRecording", "IsHistoryRecordingMode", 0},
        {"HistoryRecording", "IsLastRecordModeIsQUAD", 0},
        {"HistoryRecording", "LastInputForCycRecording", 0},
        {"TriggerProfiles", "IsEnablePollingTriggers", 1},
    };
    struct Later { std::string section; const char* name; };
    const Later kOnlyAtDestruction[] = {
        {"Adapters", "Snapshot Resolution"}, {"Adapters", "SplitDelay"},
        {"Adapters\\0", "Brightness"}, {"Adapters\\3", "Split Enable"},
        {"Adapters\\0\\Cameras\\0", "Camera Name"}, {"Adapters\\5\\Relays\\15", "Relay Name"},
    };
    {
        CDBLumoLocal db(nullptr, 0);
        for (const auto& v : kWrittenBack) {
            EXPECT_EQ(storedDword(v.section, v.name), v.value) << v.section << " " << v.name;
        }
        EXPECT_EQ(storedText("General", "Wav Alarm File Name"), "siren.wav");
        EXPECT_EQ(storedText("General", "Wav Ring File Name"), "resource");
        auto debrief = stored("General", "Debrief Profiles");
        ASSERT_TRUE(debrief);
        EXPECT_EQ(+debrief->type, platform::REG_BINARY);
        EXPECT_EQ(debrief->data, std::vector<BYTE>(44, 0));
        for (const auto& v : kOnlyAtDestruction) {
            EXPECT_FALSE(stored(v.section, v.name)) << v.section << " " << v.name;
        }
        EXPECT_EQ(db.IsHWProfilesUpdated(), 1);
        tagHWProfile p;
        db.GetHWProfiles(&p);
        EXPECT_EQ(+p.adaptersNumber, 0);  // no card
    }
    EXPECT_EQ(storedDword("Adapters", "Snapshot Resolution"), 1u);
    EXPECT_EQ(storedDword("Adapters", "SplitDelay"), 20u);
    EXPECT_EQ(storedDword("Adapters\\0", "Brightness"), 50u);
    EXPECT_EQ(storedDword("Adapters\\3", "Split Enable"), 1u);
    EXPECT_EQ(storedText("Adapters\\0\\Cameras\\0", "Camera Name"), "Camera #1");
    EXPECT_EQ(storedText("Adapters\\5\\Relays\\15", "Relay Name"), "Relay #96");
    EXPECT_EQ(storedDword("Adapters\\5\\Cameras\\15", "Max Event Number"), 3u);
}

TEST(CDBLumoLocal, EveryStoredValueRoundTrips) {
    tagHWProfile set;
    tagSplitProfiles split;
    tagPreAlarm pre;
    tagRelayTriggerMtx mtx;
    tagHistoryRec history{7, 8, 0, 1, 5, 1};
    tagRecordMode mode;
    tagSBProfiles sb{};
    tagDebriefSettings debrief;
    {
        CDBLumoLocal db(nullptr, 0);
        db.GetHWProfiles(&set);
        set.snapshotResolution = 2;
        set.jpegQuality = 55;
        set.jpegCompression = 0;
        set.automaticSwitchIntervalMs = 4500;
        for (int a = 0; a < kMaxAdapters; ++a) {
            tagAdapterBlock& ad = set.adapters[a];
            std::memset(ad.name, 'A' + a, sizeof ad.name);  // all 30 bytes, no terminator
            ad.camerasNumber = 12;
            ad.relaysNumber = 4;
            ad.selectedInput = static_cast<WORD>(a);
            ad.videoStandard = 0;
            ad.brightness = static_cast<WORD>(10 + a);
            ad.contrast = 11;
            ad.hue = 12;
            ad.saturation = 13;
            ad.automaticSwitch = 1;
            for (int c = 0; c < kCamerasPerAdapter; ++c) {
                tagCameraBlock& cam = ad.cameras[c];
                std::memset(cam.name, 0, sizeof cam.name);
                std::snprintf(cam.name, sizeof cam.name, "cam %d.%d", a, c);
                cam.popupAlarm = 1;
                cam.captureSnapshots = 1;
                cam.automaticSwitch = c % 2;
                cam.dialOnAlarm = 1;
                cam.maxEventNumber = static_cast<DWORD>(c + 1);
                cam.lastEventIndex = static_cast<DWORD>(c + 100);
                cam.snapshotNum = 9;
                cam.snapshotDelayMs = 1234;
                cam.activeHigh = 1;
            }
            for (int r = 0; r < kRelaysPerAdapter; ++r) {
                tagRelayBlock& rel = ad.relays[r];
                std::memset(rel.name, 0, sizeof rel.name);
                std::snprintf(rel.name, sizeof rel.name, "out %d.%d", a, r);
                rel.state = 1;
                rel.status = static_cast<DWORD>(r);
                rel.type = 2;
            }
        }
        ASSERT_EQ(db.UpdateHWProfiles(&set, nullptr), 1);
        db.GetSplitProfiles(&split);
        split.splitDelay = 31;
        split.minimumSplitDelayForRecord = 32;
        split.useMinimumDelay = 0;
        split.splitEnable[4] = 0;
        split.quadOrSplitActive[5] = 1;
        ASSERT_EQ(db.UpdateSplitProfiles(&split), 1);
        db.GetPreAlarmSettings(&pre);
        pre.maxPreAlarmFrames = 50;
        pre.adapters[2] = {1, 3, 40};
        pre.adapters[3] = {0, 0, 90};  // clamped to 50 when written
        db.UpdatePreAlarmSettings(&pre);
        db.GetRelayTriggerMatrix(&mtx);
        mtx.cells[5][15][15] = {1, {0, 0}, 250, 1};
        mtx.cells[0][3][7].action = 0;
        db.UpdateRelayTriggerMatrix(&mtx);
        db.UpdateHistoryProfiles(&history);
        tagTriggerProfiles trig{0};
        db.UpdateTriggerProfiles(&trig);
        db.GetRecordMode(&mode);
        mode.mode[95] = 2;
        mode.mode[17] = 1;
        db.UpdateRecordMode(mode);
        db.GetSBProfiles(&sb);
        std::strcpy(sb.alarmFile, "bell.wav");
        sb.playRingTimeMs = 77;
        db.UpdateSBProfiles(&sb);
        for (int i = 0; i < 11; ++i) {
            debrief.values[i] = static_cast<DWORD>(i * 3 + 1);
        }
        db.UpdateDebriefProfiles(&debrief);
    }
    CDBLumoLocal db(nullptr, 0);
    tagHWProfile got;
    db.GetHWProfiles(&got);
    EXPECT_EQ(+got.snapshotResolution, 2);
    EXPECT_EQ(+got.jpegQuality, 55);
    EXPECT_EQ(+got.jpegCompression, 0u);
    EXPECT_EQ(+got.automaticSwitchIntervalMs, 4500u);
    for (int a = 0; a < kMaxAdapters; ++a) {
        SCOPED_TRACE(a);
        // Everything stored comes back, except what the database does not keep.
        tagAdapterBlock expected = set.adapters[a];
        tagAdapterBlock actual = got.adapters[a];
        EXPECT_EQ(std::memcmp(actual.name, expected.name, 30), 0);
        EXPECT_EQ(std::memcmp(&actual.camerasNumber, &expected.camerasNumber, 4), 0);
        EXPECT_EQ(std::memcmp(&actual.selectedInput, &expected.selectedInput, 16), 0);
        EXPECT_EQ(std::memcmp(actual.relays, expected.relays, sizeof actual.relays), 0);
        for (int c = 0; c < kCamerasPerAdapter; ++c) {
            expected.cameras[c].automaticSwitch = actual.cameras[c].automaticSwitch;  // cycle raised
        }
        EXPECT_EQ(std::memcmp(actual.cameras, expected.cameras, sizeof actual.cameras), 0);
    }
    tagSplitProfiles gotSplit;
    db.GetSplitProfiles(&gotSplit);
    EXPECT_EQ(+gotSplit.splitDelay, 31u);
    EXPECT_EQ(+gotSplit.minimumSplitDelayForRecord, 32u);
    EXPECT_EQ(+gotSplit.useMinimumDelay, 0u);
    EXPECT_EQ(+gotSplit.splitEnable[4], 0u);
    EXPECT_EQ(+gotSplit.quadOrSplitActive[5], 1u);
    tagPreAlarm gotPre;
    db.GetPreAlarmSettings(&gotPre);
    EXPECT_EQ(+gotPre.maxPreAlarmFrames, 50u);
    EXPECT_EQ(+gotPre.adapters[2].isActive, 1u);
    EXPECT_EQ(+gotPre.adapters[2].cameraInput, 3);
    EXPECT_EQ(+gotPre.adapters[2].preAlarmFrames, 40u);
    EXPECT_EQ(+gotPre.adapters[3].preAlarmFrames, 50u);
    tagRelayTriggerMtx gotMtx;
    db.GetRelayTriggerMatrix(&gotMtx);
    EXPECT_EQ(+gotMtx.cells[5][15][15].action, 1u);
    EXPECT_EQ(+gotMtx.cells[5][15][15].delayForToggleMs, 250u);
    EXPECT_EQ(+gotMtx.cells[5][15][15].isDelayForToggleSet, 1u);
    EXPECT_EQ(+gotMtx.cells[0][3][7].action, 0u);
    EXPECT_EQ(+gotMtx.cells[0][3][6].action, 3u);
    tagHistoryRec gotHistory;
    db.GetHistoryProfiles(&gotHistory);
    EXPECT_EQ(std::memcmp(&gotHistory, &history, sizeof history), 0);
    tagTriggerProfiles gotTrig;
    db.GetTriggerProfiles(&gotTrig);
    EXPECT_EQ(+gotTrig.isEnablePollingTriggers, 0u);
    tagRecordMode gotMode;
    db.GetRecordMode(&gotMode);
    EXPECT_EQ(std::memcmp(&gotMode, &mode, sizeof mode), 0);
    tagSBProfiles gotSb;
    db.GetSBProfiles(&gotSb);
    EXPECT_EQ(std::memcmp(&gotSb, &sb, sizeof sb), 0);
    tagDebriefSettings gotDebrief;
    db.GetDebriefProfiles(&gotDebrief);
    EXPECT_EQ(std::memcmp(&gotDebrief, &debrief, sizeof debrief), 0);
}

TEST(CDBLumoLocal, ReadOnlyModeWritesOnlySoundAndDebrief) {
    {
        CDBLumoLocal db(nullptr, 1);
        EXPECT_EQ(db.readOnlyMode(), 1);
        tagHWProfile p;
        db.GetHWProfiles(&p);
        p.jpegQuality = 11;
        db.UpdateHWProfiles(&p, nullptr);
        tagSBProfiles sb;
        db.GetSBProfiles(&sb);
        std::strcpy(sb.ringFile, "ring.wav");
        db.UpdateSBProfiles(&sb);
        tagDebriefSettings debrief{{9}};
        db.UpdateDebriefProfiles(&debrief);
    }
    EXPECT_FALSE(stored("Adapters", "Adapters Num"));
    EXPECT_FALSE(stored("Adapters", "JPEG Quality"));
    EXPECT_FALSE(stored("Adapters\\0\\Cameras\\0", "Camera Name"));
    EXPECT_FALSE(stored("Adapters", "SplitDelay"));
    EXPECT_EQ(storedText("General", "Wav Ring File Name"), "ring.wav");
    auto debrief = stored("General", "Debrief Profiles");
    ASSERT_TRUE(debrief);
    EXPECT_EQ(+debrief->data[0], 9);
    // The written-back values were still written at construction.
    EXPECT_EQ(storedDword("HistoryRecording", "FramesNumber"), 20u);
}

TEST(CDBLumoLocal, StoredValuesAreCheckedOnLoading) {
    storeDword("PreAlarm", "MaxPreAlarmFrames", 100);
    storeDword("PreAlarm\\Adapters\\1", "PreAlarmFrames", 500);
    storeDword("Adapters\\0", "CamerasNumber", 40);  // beyond the record: 16
    storeDword("Adapters\\0", "RelaysNumber", 3);
    storeDword("Adapters\\2", "CamerasNumber", 4);   // adapter 0's count wins
    storeText("Adapters\\1\\Cameras\\2", "Camera Name", std::string(40, 'x'));
    storeText("Adapters\\1", "Adapter Name", "Lobby");
    storeText("General", "Wav Alarm File Name", std::string(300, 'w'));
    storeDword("Adapters\\1\\Relays\\0", "Relay State", 0x10001);  // 16-bit field: low word
    CDBLumoLocal db(nullptr, 0);
    tagPreAlarm pre;
    db.GetPreAlarmSettings(&pre);
    EXPECT_EQ(+pre.adapters[1].preAlarmFrames, 100u);
    EXPECT_EQ(storedDword("PreAlarm\\Adapters\\1", "PreAlarmFrames"), 100u);
    tagHWProfile p;
    db.GetHWProfiles(&p);
    for (int a = 0; a < kMaxAdapters; ++a) {
        EXPECT_EQ(+p.adapters[a].camerasNumber, 16) << a;
        EXPECT_EQ(+p.adapters[a].relaysNumber, 3) << a;
    }
    EXPECT_EQ(name30(p.adapters[1].cameras[2].name), std::string(30, 'x'));  // cut, not the default
    EXPECT_EQ(name30(p.adapters[1].name), "Lobby");
    EXPECT_EQ(+p.adapters[1].relays[0].state, 1);
    tagSBProfiles sb;
    db.GetSBProfiles(&sb);
    EXPECT_EQ(std::string(sb.alarmFile), std::string(255, 'w'));
}

TEST(CDBLumoLocal, CardCountsAreTakenAndClamped) {
    struct Case { int detected; DWORD report; WORD adapters, cameras, relays; WORD wantAdapters, wantCameras, wantRelays; };
    constexpr Case kCases[] = {
        {1, 1, 2, 4, 3, 2, 4, 3},
        {1, 1, 9, 20, 40, 6, 16, 16},
        {1, 0, 3, 4, 3, 3, 16, 8},
        {0, 1, 3, 4, 3, 0, 16, 8},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.detected << " " << c.report << " " << c.adapters);
        storeDword("VideoDevices", "IsReportNumOfCamerasAndRelays", c.report);
        cardtest::FakeCard card(c.detected, c.adapters, c.cameras, c.relays);
        CDBLumoLocal db(&card, 1);
        tagHWProfile p;
        db.GetHWProfiles(&p);
        EXPECT_EQ(+p.adaptersNumber, c.wantAdapters);
        EXPECT_EQ(+p.adapters[0].camerasNumber, c.wantCameras);
        EXPECT_EQ(+p.adapters[0].relaysNumber, c.wantRelays);
    }
}

TEST(CDBLumoLocal, DebriefSettingsOfAnotherSizeAreReplaced) {
    const BYTE wrong[10] = {1, 2, 3};
    store("General", "Debrief Profiles", platform::REG_BINARY, wrong, sizeof wrong);
    {
        CDBLumoRemote db;
        tagDebriefSettings d;
        db.GetDebriefProfiles(&d);
        EXPECT_EQ(+d.values[0], 0u);
        EXPECT_EQ(stored("General", "Debrief Profiles")->data.size(), 44u);
    }
    tagDebriefSettings good{};
    good.values[10] = 0xABCD;
    store("General", "Debrief Profiles", platform::REG_BINARY, &good, sizeof good);
    CDBLumoRemote db;
    tagDebriefSettings d;
    db.GetDebriefProfiles(&d);
    EXPECT_EQ(+d.values[10], 0xABCDu);
}

TEST(CDBLumoLocal, WindowPositionAndVisibility) {
    CDBLumoLocal db(nullptr, 0);
    tagRECT r;
    ASSERT_EQ(db.GetPosition(&r, 2), 1);
    EXPECT_EQ(+r.left, r.top);
    EXPECT_EQ(r.right - r.left, 320);
    EXPECT_GT(r.bottom - r.top, 240);
    EXPECT_FALSE(stored("Adapters\\2", "Position"));  // the default is not written
    ASSERT_EQ(db.SetPosition(tagRECT{5, 6, 700, 800}, 2), 1);
    ASSERT_EQ(db.GetPosition(&r, 2), 1);
    EXPECT_EQ(+r.left, 5);
    EXPECT_EQ(+r.bottom, 800);
    int visible = 0;
    ASSERT_EQ(db.GetVisibility(&visible, 4), 1);
    EXPECT_EQ(visible, 1);
    EXPECT_EQ(storedDword("Adapters\\4", "IsVisible"), 1u);
    db.SetVisibility(0, 4);
    db.GetVisibility(&visible, 4);
    EXPECT_EQ(visible, 0);
}

TEST(CDBLumoLocal, InstanceIdSelectsTheProductKey) {
    gcsVlmInsID = "3";
    { CDBLumoLocal db(nullptr, 0); }
    EXPECT_EQ(storedDword("Adapters\\0", "Brightness"), 50u);
    gcsVlmInsID.clear();
    EXPECT_FALSE(stored("Adapters\\0", "Brightness"));
}

TEST(CDBLumoRemote, TouchesOnlyTheBaseAndHistoryValues) {
    {
        CDBLumoRemote db;
        db.ReadHistoryProfiles();
        tagHistoryRec h;
        db.GetHistoryProfiles(&h);
        EXPECT_EQ(+h.framesInterval, 1u);
        EXPECT_EQ(+h.framesNumber, 20u);
        EXPECT_EQ(storedDword("HistoryRecording", "FramesInterval"), 1u);
        tagRECT r{1, 2, 3, 4};
        EXPECT_EQ(db.GetPosition(&r, 0), 1);
        EXPECT_EQ(+r.left, 1);  // untouched
        tagHWProfile p;
        db.GetHWProfiles(&p);
        db.UpdateHWProfiles(&p, nullptr);
        db.WriteHWProfiles();
        db.WriteSplitProfiles();
        db.WriteTriggerProfiles();
    }
    EXPECT_FALSE(stored("Adapters", "Snapshot Resolution"));
    EXPECT_FALSE(stored("HistoryRecording", "SplitToFiles"));
    EXPECT_FALSE(stored("TriggerProfiles", "IsEnablePollingTriggers"));
    EXPECT_EQ(storedDword("Video", "Use Video Standard Autodection"), 1u);
}
