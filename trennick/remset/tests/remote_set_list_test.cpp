#include "trennick/remset/remote_set_list.h"

#include "platform/folders.h"
#include "platform/time_convert.h"
#include "tavicore/record_convert.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using namespace trennick;

namespace {

// A host with a site version, a details text and this station's protocols.
struct TestHost : RemoteSetListHost {
    std::string version = "Velmoor 3.0";
    std::string details = "gate house";
    std::string written;
    std::vector<short> logged;
    std::vector<std::string> protocols;  // entered into every adapter
    std::string siteVersionText() override { return version; }
    bool readSiteDetails(std::string& d) override {
        d = details;
        return true;
    }
    bool writeSiteDetails(const std::string& d) override {
        written = d;
        return true;
    }
    void logEntry(short id) override { logged.push_back(id); }
    void addRemoteProtocols(tagRemSettings& r) override {
        for (auto& a : r.Adapter) {
            for (std::size_t i = 0; i < protocols.size(); ++i) {
                tagRemSetSerialout& entry = a.SerialOutSetting[i];
                std::strncpy(entry.szProtocolName, protocols[i].c_str(), 29);
                entry.wPortID = WORD(i + 1);
                entry.wPortStyle = 2;
                entry.dwBaudRate = 19200;
                entry.wParityBit = 1;
                entry.wDataBits = 7;
                entry.wStopBits = 2;
                entry.wSerialType = WORD(10 + i);
                entry.eUseStatus = USE_STATUS_REMOTE_USE;
            }
        }
    }
};

void put(char* field, std::size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

tagHWProfile shape(int adapters, int cameras, int relays) {
    tagHWProfile p{};
    p.adaptersNumber = WORD(adapters);
    for (int a = 0; a < kMaxAdapters; ++a) {
        p.adapters[a].camerasNumber = WORD(cameras);
        p.adapters[a].relaysNumber = WORD(relays);
    }
    return p;
}

// A record with a distinct value in every member the list carries.
std::unique_ptr<tagRemSettings> filledRecord() {
    auto r = std::make_unique<tagRemSettings>();
    for (int n = 0; n < RS_MAX_ADAPTERS; ++n) {
        tagRemSetAdapter& a = r->Adapter[n];
        put(a.szName, sizeof a.szName, "Card " + std::to_string(n));
        for (int i = 0; i < 8; ++i) {
            put(a.Camera[i].szName, 30, "Camera " + std::to_string(n * 8 + i));
            a.Relay[i].bType = BYTE(i + 1);
            a.Relay[i].bState = BYTE(i & 1);
            a.Relay[i].bPolarity = BYTE((i + 1) & 1);
            a.Relay[i].dwTimeOut = 100000u + DWORD(i);
            put(a.Relay[i].szName, 30, "Relay " + std::to_string(i));
            a.Alarm[i].bPolarity = BYTE(i & 1);
            a.Alarm[i].bEnable = 1;
            put(a.Alarm[i].szName, 30, "Alarm " + std::to_string(i));
            a.Alarm[i].dwEntryDelay = 70000u + DWORD(i);
            a.Alarm[i].bPanicButton = i == 2;
            a.RecPreAlarm[i] = {DWORD(i + 1), DWORD(i + 2)};
            a.RecPostAlarm[i] = {100000u + DWORD(i), 200000u + DWORD(i), 300000u + DWORD(i)};
            a.RelayMatrix[i].dwRelaysState = DWORD(0x80000000u | (n << 8) | i);
        }
        for (int e = 16; e <= 20; ++e) a.RelayMatrix[e].dwRelaysState = DWORD(e * 7 + n);
        a.VideoIn = {0, 3, 2, 140, 60, 10, 90};
        a.VideoOut = {2, 1};
        a.AudioIn.bInputVol = 40;
        a.AudioIn.bBass = 5;
        a.AudioIn.bTreble = 6;
        a.AudioIn.bDisable = 1;
        a.AudioOut.bDisable = 1;
        a.StillsFormat = {2, 85, 3};
        a.RecCameras = {0x85, 1, 777};
        tagRemSetRecDialOnAlarm& d = a.RecDialOnAlarm;
        d.dwEntrytDelay = 12;
        d.dwExitDelay = 34;
        put(d.szPhoneList[0], 256, std::string(200, '5'));
        put(d.szPhoneList[3], 256, "0044 1632 960000");
        d.bTriesForThisNum[0] = 1;
        d.bTriesForThisNum[3] = 4;
        d.dwDialToSuccess = 0;
        d.UnattendedTimeOut = 99;
        d.dwDoaCameras = 0x81;
    }
    r->Adapter[0].RecDialOnAlarm.dwDialOnNoVideo = 0x42;
    for (int u : {0, 5, 11}) {
        put(r->AutenticationInfo[u].szUserName, 90, "user" + std::to_string(u));
        put(r->AutenticationInfo[u].szPassword, 90, std::string(89, 'p'));
        r->AutenticationInfo[u].bUserLevel = BYTE(u);
        r->AutenticationInfo[u].UserNameOperation = 2;
    }
    put(r->SiteInfo.szSiteName, 30, "North gate");
    r->SiteInfo.eTimeSyncOption = TIME_SYNC_OPTION_MANUAL;
    CStructConvertor().Time_tToSysTime(1700000000, &r->SiteInfo.tSysTime);
    put(r->SiteInfo.sSiteDetails, 256, "gate house");
    r->RemoteControl = {{1, 2, 3, 4}, {9, 8, 7, 6}, 0x5};
    r->ModemParam.wRingsToAnswer = 5;
    r->ControlPanel = {1, 1};
    for (int k : {0, 17, 999}) r->Scheduler.SchedTask[k] = {WORD(k), 2, 3, 4, 5, CONFIG_STATUS_ACTIVE};
    return r;
}

// What a list round trip gives back of `r`: the members the list carries, the
// others as a parse leaves them.
std::unique_ptr<tagRemSettings> carried(const tagRemSettings& r, const tagRemSettings& parsed) {
    auto e = std::make_unique<tagRemSettings>(r);
    for (auto& a : e->Adapter) {
        a.VideoIn.wSelectedInput = 0;
        a.AudioIn.bInputType = a.AudioIn.bAgc = a.AudioIn.bSignalLevel = 0;
        a.AudioIn.dwSelectedInput = 0;
        a.AudioOut.dwSelectedOutput = 0;
        a.AudioOut.bOutPutVol = 0;
        for (auto& alarm : a.Alarm) alarm.dwExitDelay = 0;
        for (int m = 0; m < RS_MAX_RELAY_MATRIX; ++m) {
            a.RelayMatrix[m].wRelayMatrixIdx = 0;
            if ((m >= 8 && m < 16) || m > 20) a.RelayMatrix[m].dwRelaysState = 0;
        }
        std::memset(a.AlarmsRecording, 0, sizeof a.AlarmsRecording);
        std::memset(a.SerialOutSetting, 0, sizeof a.SerialOutSetting);
    }
    e->SiteInfo.eTimeSyncOption = TIME_SYNC_OPTION_NONE;
    e->SiteInfo.sTimeLastDownloadTime = parsed.SiteInfo.sTimeLastDownloadTime;
    return e;
}

std::vector<BYTE> build(CRemoteSetList& list, const tagHWProfile& p, tagRemSettings& r) {
    std::vector<BYTE> bytes(list.GetListSize(p, r) + 64);
    bytes.resize(list.CreateList(p, r, bytes.data(), DWORD(bytes.size())));
    return bytes;
}

template <class F>
void eachRecord(const std::vector<BYTE>& list, F f) {
    for (std::size_t at = 0; at + 8 <= list.size();) {
        SetListHeader h;
        std::memcpy(&h, list.data() + at, 8);
        f(h, list.data() + at);
        at += h.wSize;
    }
}

std::vector<BYTE> record(WORD kind, WORD adapter, WORD index, std::vector<BYTE> payload) {
    SetListHeader h{WORD(8 + payload.size()), kind, adapter, index};
    std::vector<BYTE> out(8);
    std::memcpy(out.data(), &h, 8);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

TEST(RemoteSetList, EveryBuiltKindRoundTripsThroughAList) {
    TestHost host;
    CRemoteSetList list(host);
    auto r = filledRecord();
    const tagHWProfile p = shape(4, 8, 8);
    const std::vector<BYTE> bytes = build(list, p, *r);
    ASSERT_EQ(bytes.size(), list.GetListSize(p, *r));
    std::vector<int> kinds(kSettingsKinds + 1);
    eachRecord(bytes, [&](const SetListHeader& h, const BYTE*) {
        ASSERT_EQ(h.wSize, SettingsRecordLength(h.wSettingsID));
        ++kinds[h.wSettingsID];
    });
    for (WORD kind : {10, 18, 23, 26}) EXPECT_EQ(kinds[kind], 0) << kind;  // never built
    EXPECT_EQ(kinds[ID_SETTINGS_AUTENTICATION_INFO], 3);
    EXPECT_EQ(kinds[ID_SETTINGS_SCHEDULER_TASK], 3);
    EXPECT_EQ(kinds[ID_SETTINGS_RELAY_MATRIX], 4 * (8 + 5));
    EXPECT_EQ(host.written, "gate house");
    EXPECT_EQ(host.logged, std::vector<short>{42});  // the site's clock is set from here

    auto back = std::make_unique<tagRemSettings>();
    ASSERT_TRUE(list.DispatchList(bytes.data(), DWORD(bytes.size()), *back));
    auto expected = carried(*r, *back);
    for (int n = 0; n < RS_MAX_ADAPTERS; ++n) {
        SCOPED_TRACE(n);
        if (n > 0) {  // adapter 0's only
            EXPECT_EQ(+back->Adapter[n].RecDialOnAlarm.dwDialOnNoVideo, 0u);
        }
        expected->Adapter[n].RecDialOnAlarm.dwDialOnNoVideo = back->Adapter[n].RecDialOnAlarm.dwDialOnNoVideo;
        EXPECT_EQ(std::memcmp(&back->Adapter[n], &expected->Adapter[n], sizeof(tagRemSetAdapter)), 0);
    }
    EXPECT_EQ(std::memcmp(back.get(), expected.get(), sizeof(tagRemSettings)), 0);
}

// A list the station built, read back into a record and built again, gives
// the same bytes: every field of every kind the station builds goes out and
// comes back unchanged, for current sites and for those whose alarm inputs
// read the other way.
TEST(RemoteSetList, BuiltListsComeBackByteForByteThroughTheRecord) {
    for (const char* version : {"Velmoor 3.0", "Velmoor 2.81"}) {
        SCOPED_TRACE(version);
        TestHost host;
        host.version = version;
        host.protocols = {"None", "Pelco-D", "Kalatel"};
        CRemoteSetList list(host);
        auto r = filledRecord();
        host.addRemoteProtocols(*r);
        for (int n = 0; n < RS_MAX_ADAPTERS; ++n) {
            r->Adapter[n].SerialOutSetting[n % 3].eConfigStatus = CONFIG_STATUS_ACTIVE;
            r->Adapter[n].RecDialOnAlarm.dwDialToSuccess = DWORD(n & 1);
        }
        const tagHWProfile p = shape(4, 8, 8);
        const std::vector<BYTE> bytes = build(list, p, *r);

        std::vector<bool> built(kSettingsKinds + 1);
        eachRecord(bytes, [&](const SetListHeader& h, const BYTE*) { built[h.wSettingsID] = true; });
        for (WORD kind = 1; kind <= kSettingsKinds; ++kind) {
            const bool parsedOnly = kind == ID_SETTINGS_COMM || kind == ID_SETTINGS_ALARM_RECORDING ||
                                    kind == ID_SETTINGS_SERIAL_OUT || kind == ID_SETTINGS_RESERVED_26;
            EXPECT_EQ(built[kind], !parsedOnly) << kind;
        }

        auto back = std::make_unique<tagRemSettings>();
        ASSERT_TRUE(list.DispatchList(bytes.data(), DWORD(bytes.size()), *back));
        back->SiteInfo.eTimeSyncOption = r->SiteInfo.eTimeSyncOption;  // the operator's choice, not on the wire
        EXPECT_EQ(build(list, p, *back), bytes);
    }
}

TEST(RemoteSetList, SizeMatchesTheBuildAndCountsAreCappedAtTheTables) {
    TestHost host;
    CRemoteSetList list(host);
    auto r = std::make_unique<tagRemSettings>();
    r->AutenticationInfo[1].UserNameOperation = 1;
    r->AutenticationInfo[7].UserNameOperation = 3;
    for (int k : {4, 9, 500}) r->Scheduler.SchedTask[k].eConfigStatus = CONFIG_STATUS_ACTIVE;
    const tagHWProfile p = shape(1, 4, 4);
    std::vector<BYTE> bytes = build(list, p, *r);
    EXPECT_EQ(bytes.size(), 2872u);
    EXPECT_EQ(list.GetListSize(p, *r), 2872u);
    SetListHeader last;
    std::memcpy(&last, bytes.data() + bytes.size() - 15, 8);
    EXPECT_EQ(last.wSettingsID, ID_SETTINGS_SCHEDULER_TASK);
    EXPECT_EQ(last.wIndex, 500);

    // A site that claims more adapters, cameras and relays than the record
    // holds gets a list of what the record holds.
    const tagHWProfile big = shape(6, 16, 16);
    bytes = build(list, big, *r);
    EXPECT_EQ(bytes.size(), list.GetListSize(shape(4, 8, 8), *r));
    eachRecord(bytes, [&](const SetListHeader& h, const BYTE*) {
        EXPECT_LT(h.wAdIdx, RS_MAX_ADAPTERS);
        if (h.wSettingsID == ID_SETTINGS_CAMERA || h.wSettingsID == ID_SETTINGS_RELAY) {
            EXPECT_LT(h.wIndex, 8);
        }
    });

    // A buffer too small for the whole list takes the records that fit, and
    // smaller ones after a record that did not.
    std::vector<BYTE> small(100);
    const DWORD used = list.CreateList(p, *r, small.data(), DWORD(small.size()));
    EXPECT_EQ(used, 38u + 40u + 16u);  // the adapter, one camera, the video input
}

TEST(RemoteSetList, ShortFormsAndOldSitesFollowTheirRules) {
    TestHost host;
    host.version = "Velmoor 2.81";
    CRemoteSetList list(host);
    auto r = std::make_unique<tagRemSettings>();
    r->Adapter[0].Alarm[0].bPolarity = 0;
    r->Adapter[0].RecDialOnAlarm.dwDialToSuccess = 0;
    put(r->Adapter[0].RecDialOnAlarm.szPhoneList[0], 256, std::string(40, '7'));
    const std::vector<BYTE> bytes = build(list, shape(1, 1, 0), *r);
    eachRecord(bytes, [&](const SetListHeader& h, const BYTE* at) {
        if (h.wSettingsID == ID_SETTINGS_ALARM || h.wSettingsID == ID_SETTINGS_ALARM2) {
            EXPECT_EQ(at[8], 1);
        }
        if (h.wSettingsID == ID_SETTINGS_RECORDING_DIAL_ON_ALARM) {
            EXPECT_EQ(at[140], 1);  // dial-to-success inverted
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(at + 16)), std::string(29, '7'));
        }
        if (h.wSettingsID == ID_SETTINGS_RECORDING_DIAL_ON_ALARM2) {
            DWORD flag;
            std::memcpy(&flag, at + 1044, 4);
            EXPECT_EQ(flag, 0u);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(at + 16)), std::string(40, '7'));
        }
    });
    // A received 1 is stored as 0 for such a site.
    auto back = std::make_unique<tagRemSettings>();
    const auto alarm = record(ID_SETTINGS_ALARM, 0, 0, std::vector<BYTE>(32, 0));
    std::vector<BYTE> in = alarm;
    in[8] = 1;
    ASSERT_TRUE(list.DispatchList(in.data(), DWORD(in.size()), *back));
    EXPECT_EQ(+back->Adapter[0].Alarm[0].bPolarity, 0);
}

TEST(RemoteSetList, KeptClockAddsTheTimeSinceTheDownload) {
    TestHost host;
    CRemoteSetList list(host);
    SYSTEMTIME last{2026, 3, 0, 1, 10, 0, 0, 0}, now{2026, 3, 0, 1, 10, 1, 30, 0};
    EXPECT_EQ(list.UpdateTimeDiff(last, now), 90);

    auto r = std::make_unique<tagRemSettings>();
    CStructConvertor().Time_tToSysTime(1000000, &r->SiteInfo.tSysTime);
    r->SiteInfo.eTimeSyncOption = TIME_SYNC_OPTION_NONE;
    r->SiteInfo.sTimeLastDownloadTime = platform::currentLocalTime();
    const std::vector<BYTE> bytes = build(list, shape(0, 0, 0), *r);
    bool seen = false;
    eachRecord(bytes, [&](const SetListHeader& h, const BYTE* at) {
        if (h.wSettingsID != ID_SETTINGS_SITE_INFO) return;
        DWORD t;
        std::memcpy(&t, at + 10, 4);
        EXPECT_GE(t, 1000000u);
        EXPECT_LE(t, 1000005u);
        seen = true;
    });
    EXPECT_TRUE(seen);
    EXPECT_TRUE(host.logged.empty());
    // An unknown option sends no time.
    r->SiteInfo.eTimeSyncOption = Time_Sync_Option_Enum(7);
    eachRecord(build(list, shape(0, 0, 0), *r), [&](const SetListHeader& h, const BYTE* at) {
        if (h.wSettingsID == ID_SETTINGS_SITE_INFO) {
            EXPECT_EQ(at[10] | at[11] | at[12] | at[13], 0);
        }
    });
}

TEST(RemoteSetList, ParsedOnlyKindsAndIndexLimits) {
    TestHost host;
    host.protocols = {"None", "Pelco-D"};
    CRemoteSetList list(host);
    std::vector<BYTE> in;
    auto add = [&](const std::vector<BYTE>& rec) { in.insert(in.end(), rec.begin(), rec.end()); };
    std::vector<BYTE> comm(34, 0);
    comm[0] = 3;
    std::memcpy(comm.data() + 4, "ISDN line", 9);
    add(record(ID_SETTINGS_COMM, 0, 49, comm));
    add(record(ID_SETTINGS_COMM, 0, 50, comm));  // past the 50 devices: ignored
    add(record(ID_SETTINGS_ALARM_RECORDING, 1, 7, {0x85, 0, 0, 0}));
    add(record(ID_SETTINGS_ALARM_RECORDING, 1, 8, {0xFF, 0, 0, 0}));  // no ninth alarm
    add(record(ID_SETTINGS_CAMERA, 4, 0, std::vector<BYTE>(32, 'x')));  // no fifth adapter
    add(record(ID_SETTINGS_SCHEDULER_TASK, 0, 1000, {1, 0, 1, 1, 1, 1, 1}));
    std::vector<BYTE> serial(52, 0);
    std::memcpy(serial.data() + 18, "PELCO-D", 7);
    serial[2] = 1;  // command word 1: nothing changes
    add(record(ID_SETTINGS_SERIAL_OUT, 2, 0, serial));
    serial[2] = 0;
    add(record(ID_SETTINGS_USED_SERIAL_OUT, 3, 0, serial));
    add(record(ID_SETTINGS_RESERVED_26, 0, 0, {9, 9}));
    add(record(40, 0, 0, {1, 2, 3}));  // a kind this station does not know: skipped
    // A name that fills its field arrives terminated.
    add(record(ID_SETTINGS_ADAPTER, 2, 0, std::vector<BYTE>(30, 'A')));

    auto r = std::make_unique<tagRemSettings>();
    ASSERT_TRUE(list.DispatchList(in.data(), DWORD(in.size()), *r));
    EXPECT_STREQ(r->CommDevice[49].szName, "ISDN line");
    EXPECT_EQ(+r->CommDevice[49].wCommType, 3);
    EXPECT_EQ(+r->Adapter[1].AlarmsRecording[7].dwRecordingCameras, 0x85u);
    EXPECT_EQ(std::string(r->Adapter[2].szName), std::string(29, 'A'));
    EXPECT_EQ(+r->Adapter[2].SerialOutSetting[1].eConfigStatus, 0);
    EXPECT_EQ(+r->Adapter[3].SerialOutSetting[1].eConfigStatus, 1);
    EXPECT_EQ(+r->Adapter[3].SerialOutSetting[0].eConfigStatus, 0);
    for (int k = 0; k < MAX_NUMBER_OF_TASKS; ++k) EXPECT_EQ(+r->Scheduler.SchedTask[k].eConfigStatus, 0) << k;
}

TEST(RemoteSetList, DamagedOrEmptyListsAreRefusedWhole) {
    TestHost host;
    CRemoteSetList list(host);
    auto good = filledRecord();
    const std::vector<BYTE> bytes = build(list, shape(1, 2, 2), *good);
    std::vector<BYTE> zeroSize = bytes;
    zeroSize[38] = zeroSize[39] = 0;  // the second record's length
    std::vector<BYTE> pastTheEnd(bytes.begin(), bytes.end() - 1);
    std::vector<BYTE> shortHeader = bytes;
    shortHeader.insert(shortHeader.end(), {20, 0, 1});
    const std::vector<BYTE> garbage(300, 0xA5);
    const std::vector<BYTE> onlyUnknown = record(40, 0, 0, {1, 2});
    struct Case {
        const char* name;
        const std::vector<BYTE>* list;
    } cases[] = {{"zero size", &zeroSize},     {"past the end", &pastTheEnd},
                 {"short header", &shortHeader}, {"garbage", &garbage},        {"only unknown", &onlyUnknown}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = filledRecord();
        ASSERT_FALSE(list.DispatchList(c.list->data(), DWORD(c.list->size()), *r));
        EXPECT_EQ(std::memcmp(r.get(), good.get(), sizeof(tagRemSettings)), 0);
    }
    auto r = filledRecord();
    EXPECT_FALSE(list.DispatchList(bytes.data(), 0, *r));
    EXPECT_FALSE(list.DispatchList(nullptr, 10, *r));
}

// A record whose length is not its kind's (a site's newer firmware may
// lengthen one kind) is skipped and the rest of the list is taken, as if the
// record were not there.
TEST(RemoteSetList, RecordsOfAnotherLengthAreSkippedAndTheRestTaken) {
    TestHost host;
    CRemoteSetList list(host);
    auto r = filledRecord();
    const std::vector<BYTE> bytes = build(list, shape(1, 2, 2), *r);
    std::vector<BYTE> longerCameras, withoutCameras;
    int cameras = 0;
    eachRecord(bytes, [&](const SetListHeader& h, const BYTE* at) {
        std::vector<BYTE> one(at, at + h.wSize);
        if (h.wSettingsID == ID_SETTINGS_CAMERA) {
            ++cameras;
            one.insert(one.end(), 4, 0xEE);
            const WORD longer = WORD(one.size());
            std::memcpy(one.data(), &longer, sizeof longer);
            longerCameras.insert(longerCameras.end(), one.begin(), one.end());
            return;
        }
        longerCameras.insert(longerCameras.end(), one.begin(), one.end());
        withoutCameras.insert(withoutCameras.end(), one.begin(), one.end());
    });
    ASSERT_EQ(cameras, 2);
    auto expected = std::make_unique<tagRemSettings>();
    ASSERT_TRUE(list.DispatchList(withoutCameras.data(), DWORD(withoutCameras.size()), *expected));
    auto back = std::make_unique<tagRemSettings>();
    ASSERT_TRUE(list.DispatchList(longerCameras.data(), DWORD(longerCameras.size()), *back));
    EXPECT_EQ(std::string(back->Adapter[0].Camera[0].szName), "");
    EXPECT_EQ(std::string(back->SiteInfo.szSiteName), "North gate");
    back->SiteInfo.sTimeLastDownloadTime = expected->SiteInfo.sTimeLastDownloadTime;
    EXPECT_EQ(std::memcmp(back.get(), expected.get(), sizeof(tagRemSettings)), 0);
    // A list of nothing but records of other lengths holds no settings.
    std::vector<BYTE> onlyLonger;
    eachRecord(longerCameras, [&](const SetListHeader& h, const BYTE* at) {
        if (h.wSettingsID == ID_SETTINGS_CAMERA) onlyLonger.insert(onlyLonger.end(), at, at + h.wSize);
    });
    EXPECT_FALSE(list.DispatchList(onlyLonger.data(), DWORD(onlyLonger.size()), *back));
}

TEST(RemoteSetList, ListFileIsWrittenAndReadWhole) {
    const std::string path = (platform::homeFolder() / "SetList.Bin").string();
    const std::vector<BYTE> bytes = {1, 2, 3, 4, 5};
    ASSERT_EQ(CRemoteSetList::CreateSetFile(bytes.data(), DWORD(bytes.size()), path), 1);
    DWORD size = 0;
    ASSERT_EQ(CRemoteSetList::GetSetListFileSize(path, size), 1);
    EXPECT_EQ(size, 5u);
    std::vector<BYTE> back(size);
    ASSERT_EQ(CRemoteSetList::ReadSetFile(back.data(), size, path), 1);
    EXPECT_EQ(back, bytes);
    EXPECT_EQ(CRemoteSetList::GetSetListFileSize(path + ".missing", size), 0);
    EXPECT_EQ(CRemoteSetList::CreateSetFile(bytes.data(), 5, (platform::homeFolder() / "no" / "x").string()), 0);
}

}  // namespace
