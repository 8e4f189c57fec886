#include "tavicore/record_convert.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>

TEST(StructConvertor, TimeFormsConvertAsTheyStand) {
    CStructConvertor convertor;
    struct Case { LONG seconds; ULONGLONG fileTime; };
    const Case cases[] = {
        {0, 116444736000000000ULL},
        {-86400, 116444736000000000ULL - 864000000000ULL},  // before 1970: negative seconds
        {1700000000, 116444736000000000ULL + 17000000000000000ULL},
        {0x7FFFFFFF, 116444736000000000ULL + 0x7FFFFFFFULL * 10000000ULL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        FILETIME ft{};
        ASSERT_EQ(convertor.Time_tToFileTime(c.seconds, &ft), 1);
        EXPECT_EQ((ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime, c.fileTime);
        LONG back = 1;
        ASSERT_EQ(convertor.FileTimeToTime_t(ft, &back), 1);
        EXPECT_EQ(back, c.seconds);
    }
    SYSTEMTIME st{};
    ASSERT_EQ(convertor.Time_tToSysTime(86400 * 365 + 3600 + 61, &st), 1);
    EXPECT_EQ(st.wYear, 1971);
    EXPECT_EQ(st.wMonth, 1);
    EXPECT_EQ(st.wDay, 1);
    EXPECT_EQ(st.wHour, 1);
    EXPECT_EQ(st.wMinute, 1);
    EXPECT_EQ(st.wSecond, 1);
    LONG seconds = 0;
    ASSERT_EQ(convertor.SysTimeToTime_t(st, &seconds), 1);
    EXPECT_EQ(seconds, 86400 * 365 + 3600 + 61);
    st.wMonth = 13;
    seconds = 5;
    EXPECT_EQ(convertor.SysTimeToTime_t(st, &seconds), 0);
    EXPECT_EQ(seconds, 0);
}

TEST(StructConvertor, TriggerEntriesMoveIntoTheirGroups) {
    CStructConvertor convertor;
    tagTrigger_VER_0 old{};
    for (int g = 0; g < 6; ++g)
        for (int e = 0; e < 6; ++e) {
            old.entries[g][e][0] = WORD(g * 100 + e * 2);
            old.entries[g][e][1] = WORD(g * 100 + e * 2 + 1);
        }
    tagTrigger out;
    std::memset(&out, 0xEE, sizeof out);
    ASSERT_EQ(convertor.ConverteTrigger(&old, &out), 1);
    for (int g = 0; g < 6; ++g) {
        for (int e = 0; e < 6; ++e) {
            EXPECT_EQ(out.entries[g][e][0], g * 100 + e * 2);
            EXPECT_EQ(out.entries[g][e][1], g * 100 + e * 2 + 1);
        }
        EXPECT_EQ(out.entries[g][6][0], 0xEEEE);  // the rest is the caller's
    }
}

TEST(StructConvertor, OldHardwareProfileFillsTheNewLayout) {
    CStructConvertor convertor;
    auto old = std::make_unique<tagHWProfile_VER_0>();
    std::memset(old.get(), 0, sizeof *old);
    old->adaptersNumber = 2;
    old->snapshotResolution = 3;
    old->jpegQuality = 75;
    old->jpegCompression = 0x11223344;
    old->automaticSwitchIntervalMs = 5000;
    for (int k = 0; k < 6; ++k) {
        auto& block = old->adapters[k];
        std::memset(block.name, 'A' + k, sizeof block.name);  // 20 characters, no end
        for (int s = 0; s < 6; ++s) block.settings[s] = WORD(10 * k + s);
        block.automaticSwitch = DWORD(k);
        for (int j = 0; j < 3; ++j) {
            block.relays[j].state = WORD(j + 1);
            std::snprintf(block.relays[j].name, sizeof block.relays[j].name, "relay %d", j);
            block.relays[j].status = DWORD(100 + j);
        }
        for (int i = 0; i < 6; ++i) {
            std::snprintf(block.cameras[i].name, sizeof block.cameras[i].name, "cam %d.%d", k, i);
            for (int v = 0; v < 9; ++v) block.cameras[i].values[v] = DWORD(v + 1);
        }
    }
    auto out = std::make_unique<tagHWProfile>();
    std::memset(out.get(), 0xEE, sizeof *out);
    ASSERT_EQ(convertor.ConverteHWProfiles(old.get(), out.get()), 1);
    const auto* bytes = reinterpret_cast<const BYTE*>(out.get());
    EXPECT_EQ(bytes[0] | bytes[1] << 8, 0);
    EXPECT_EQ(+out->adaptersNumber, 2);
    EXPECT_EQ(+out->currentAdapter, 0);
    EXPECT_EQ(+out->snapshotResolution, 3);
    EXPECT_EQ(+out->jpegQuality, 75);
    EXPECT_EQ(+out->jpegCompression, 0x11223344u);
    EXPECT_EQ(+out->automaticSwitchIntervalMs, 5000u);
    for (int k = 0; k < 6; ++k) {
        SCOPED_TRACE(k);
        const auto& block = out->adapters[k];
        EXPECT_EQ(std::string(block.name, 21), std::string(20, char('A' + k)) + '\0');
        EXPECT_EQ(+block.camerasNumber, 6);
        EXPECT_EQ(+block.relaysNumber, 3);
        EXPECT_EQ(+block.saturation, 10 * k + 5);
        EXPECT_EQ(+block.automaticSwitch, DWORD(k));
        EXPECT_STREQ(block.relays[1].name, "relay 1");
        EXPECT_EQ(+block.relays[2].status, 102u);
        EXPECT_EQ(+block.relays[0].type, 0);
        EXPECT_EQ(+block.relays[2].type, 1);
        EXPECT_EQ(+block.relays[3].state, 0);
        const auto& cam = block.cameras[5];
        EXPECT_EQ(std::string(cam.name), "cam " + std::to_string(k) + ".5");
        const DWORD expected[10] = {1, 2, 3, 0, 4, 5, 6, 7, 8, 9};
        const DWORD got[10] = {cam.popupAlarm, cam.captureSnapshots, cam.automaticSwitch, cam.dialOnAlarm,
                               cam.maxEventNumber, cam.lastEventIndex, cam.snapshotNum, cam.snapshotDelayMs,
                               cam.carried, cam.activeHigh};
        EXPECT_TRUE(std::equal(got, got + 10, expected));
        EXPECT_EQ(+block.cameras[6].popupAlarm, 0u);
        EXPECT_EQ(+block.deviceData[0], 0);
    }
    EXPECT_EQ(+out->reasonForCall, 0);
    EXPECT_EQ(convertor.ConverteHWProfiles(nullptr, out.get()), 0);
}
