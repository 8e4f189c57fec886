#include "morvel/morvel_lib.h"
#include "platform/com/com.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "platform/folders.h"
#include "platform/ini_file.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using platform::com::ComPtr;

namespace {

// A BSTR that frees itself.
struct Text {
    explicit Text(const std::string& s) : b(SysAllocStringByteLen(s.data(), UINT(s.size()))) {}
    Text() = default;
    ~Text() { SysFreeString(b); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    std::string str() const { return b ? std::string(b, SysStringByteLen(b)) : std::string(); }
    BSTR b = nullptr;
};

class RemSetDBTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        platform::com::ensureServersRegistered();
        ASSERT_EQ(platform::com::createInstance(CLSID_RemSetDB, db), S_OK);
        folder = platform::programFolder() / "Profiles";
    }
    void TearDown() override {
        db.reset();
        CoUninitialize();
    }
    HRESULT load(const std::string& name) { return db->LoadProfile(Text(name).b); }
    HRESULT save(const std::string& name) { return db->SaveProfile(Text(name).b); }
    std::unique_ptr<tagRemSettings> get() {
        auto r = std::make_unique<tagRemSettings>();
        EXPECT_EQ(db->Get(r.get()), RSDB_OK);
        return r;
    }
    void set(const tagRemSettings& r) {
        auto copy = std::make_unique<tagRemSettings>(r);
        ASSERT_EQ(db->Set(copy.get()), RSDB_OK);
    }
    void writeProfile(const std::string& name, const std::string& text) {
        fs::create_directories(folder);
        std::ofstream(folder / (name + ".Ini"), std::ios::binary) << text;
    }
    std::string fileText(const std::string& name) {
        std::ifstream in(folder / (name + ".Ini"), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    ComPtr<IRemSetDB> db;
    fs::path folder;
};

TEST_F(RemSetDBTest, EmptyNameLoadsEveryDefault) {
    ASSERT_EQ(load(""), RSDB_OK);
    auto r = get();
    const tagRemSetAdapter& a = r->Adapter[2];
    EXPECT_STREQ(a.szName, "Adapter#3");
    EXPECT_STREQ(a.Camera[7].szName, "Camera#8");
    EXPECT_STREQ(a.Relay[0].szName, "Relay#1");
    EXPECT_STREQ(a.Alarm[4].szName, "Alarm#5");
    EXPECT_EQ(+a.VideoIn.bBrightness, 128);
    EXPECT_EQ(+a.VideoIn.bContrast, 64);
    EXPECT_EQ(+a.VideoIn.bSaturation, 64);
    EXPECT_EQ(+a.AudioIn.bInputType, 1);
    EXPECT_EQ(+a.AudioIn.bAgc, 100);
    EXPECT_EQ(+a.AudioOut.bOutPutVol, 100);
    EXPECT_EQ(+a.Alarm[0].bPolarity, 1);
    EXPECT_EQ(+a.Alarm[0].bEnable, 1);
    EXPECT_EQ(+a.StillsFormat.wCompressionType, 1);
    EXPECT_EQ(+a.StillsFormat.wCompressionQuality, 70);
    EXPECT_EQ(+a.RecCameras.dwFramesDelay, 1000u);
    // Alarm a records camera a-1 by default (so alarm 1 records none).
    EXPECT_EQ(+a.AlarmsRecording[0].dwRecordingCameras, 0u);
    EXPECT_EQ(+a.AlarmsRecording[3].dwRecordingCameras, 1u << 2);
    EXPECT_EQ(+a.RecPreAlarm[5].dwNumberOfFrames, 3u);
    EXPECT_EQ(+a.RecPostAlarm[5].dwMaxNumberofEvents, 5u);
    EXPECT_EQ(+a.RecDialOnAlarm.bTriesForThisNum[3], 3);
    EXPECT_EQ(+a.RecDialOnAlarm.dwExitDelay, 30u);
    EXPECT_EQ(+a.RecDialOnAlarm.UnattendedTimeOut, 120u);
    EXPECT_EQ(+a.RelayMatrix[31].wRelayMatrixIdx, 32);
    EXPECT_EQ(+r->RemoteControl.dwFeatures, 1u);
    EXPECT_EQ(+r->ModemParam.wRingsToAnswer, 2);
    EXPECT_EQ(+r->Scheduler.SchedTask[0].eConfigStatus, CONFIG_STATUS_NON_ACTIVE);
    // The clock is the local time of the load.
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    EXPECT_EQ(+r->SiteInfo.tSysTime.wYear, local.tm_year + 1900);
    EXPECT_EQ(+r->SiteInfo.tSysTime.wMonth, local.tm_mon + 1);
}

TEST_F(RemSetDBTest, SavedProfileLoadsBackEveryCarriedMember) {
    ASSERT_EQ(load(""), RSDB_OK);
    auto r = get();
    for (int n = 0; n < RS_MAX_ADAPTERS; ++n) {
        tagRemSetAdapter& a = r->Adapter[n];
        // Texts are kept up to their terminator: the fields are cleared first.
        auto put = [](char* field, std::size_t size, const std::string& text) {
            std::memset(field, 0, size);
            std::memcpy(field, text.data(), std::min(text.size(), size - 1));
        };
        put(a.szName, sizeof a.szName, "Card " + std::to_string(n));
        for (int i = 0; i < 8; ++i) {
            put(a.Camera[i].szName, sizeof a.Camera[i].szName, "Gate " + std::to_string(n * 10 + i));
            a.Relay[i] = {BYTE(i), BYTE(i + 1), BYTE(i & 1), 0xFFFFFFF0u - i, {}};
            put(a.Relay[i].szName, sizeof a.Relay[i].szName, "Door " + std::to_string(i));
            put(a.Alarm[i].szName, sizeof a.Alarm[i].szName, "Window " + std::to_string(i));
            a.Alarm[i].bPolarity = BYTE(i & 1);
            a.Alarm[i].bEnable = BYTE((i + 1) & 1);
            a.Alarm[i].dwEntryDelay = 10u * i;
            a.Alarm[i].bPanicButton = i == 3;
            a.AlarmsRecording[i].dwRecordingCameras = 0x7FFFFFFFu >> i;
            a.RecPreAlarm[i] = {DWORD(i + 2), DWORD(i + 4)};
            a.RecPostAlarm[i] = {DWORD(i + 5), DWORD(i + 6), DWORD(i + 7)};
        }
        a.VideoIn = {0, 2, 1, 200, 33, 44, 55};
        a.VideoOut = {1, 2};
        a.AudioIn = {3, 4, 5, 6, 7, 0, 0, 1};
        a.AudioOut = {0x85, 77, 1};
        for (int m = 0; m < RS_MAX_RELAY_MATRIX; ++m) a.RelayMatrix[m].dwRelaysState = DWORD(m * 3 + n);
        a.StillsFormat = {2, 90, 3};
        a.RecCameras = {0x85, 1, 250};
        std::string longPhone(255, '7');
        std::memcpy(a.RecDialOnAlarm.szPhoneList[0], longPhone.c_str(), 256);
        put(a.RecDialOnAlarm.szPhoneList[2], 256, "+44 20 7946 0000");
        a.RecDialOnAlarm.bTriesForThisNum[1] = 9;
        a.RecDialOnAlarm.dwEntrytDelay = 11;
        a.RecDialOnAlarm.dwExitDelay = 12;
        a.RecDialOnAlarm.dwDialToSuccess = 0;
        a.RecDialOnAlarm.UnattendedTimeOut = 13;
        a.RecDialOnAlarm.dwDoaCameras = 0x40000001u;
        a.RecDialOnAlarm.dwDialOnNoVideo = 0x3;
    }
    for (int d = 0; d < 4; ++d) {
        r->RemoteControl.bRcArmCode[d] = BYTE(d + 1);
        r->RemoteControl.bRcDisArmCode[d] = BYTE(9 - d);
    }
    r->RemoteControl.dwFeatures = 0x6;
    r->ModemParam.wRingsToAnswer = 7;
    // Tasks 1, 5 and 1000 in use, with gaps between them.
    for (int k : {0, 4, 999}) r->Scheduler.SchedTask[k] = {WORD(k + 1), 3, 23, 59, 58, CONFIG_STATUS_ACTIVE};
    set(*r);
    ASSERT_EQ(save("Night shift"), RSDB_OK);
    EXPECT_NE(fileText("Night shift").find("RecordingCameras=1,3,8,\r\n"), std::string::npos);
    EXPECT_NE(fileText("Night shift").find("[SchedTask#1000]"), std::string::npos);

    ASSERT_EQ(load(""), RSDB_OK);
    ASSERT_EQ(load("Night shift"), RSDB_OK);
    auto back = get();
    back->SiteInfo.tSysTime = r->SiteInfo.tSysTime;
    for (int n = 0; n < RS_MAX_ADAPTERS; ++n) {
        SCOPED_TRACE(n);
        const BYTE* x = reinterpret_cast<const BYTE*>(&back->Adapter[n]);
        const BYTE* y = reinterpret_cast<const BYTE*>(&r->Adapter[n]);
        for (std::size_t i = 0; i < sizeof(tagRemSetAdapter); ++i) {
            ASSERT_EQ(x[i], y[i]) << "adapter byte " << i;
        }
    }
    EXPECT_EQ(std::memcmp(back.get(), r.get(), sizeof *r), 0);
}

TEST_F(RemSetDBTest, ListsAndNumbersReadAsTheFileHasThem) {
    writeProfile("Lists", "[Adapter#1]\r\nRecordingCameras=0\r\nDoaCameras=0,2,\r\nAudioOutput=3\r\n"
                          "DialOnNoVideoCameras=\r\nRelayTimeout#1=-1\r\nVideoInHue=abc\r\n");
    ASSERT_EQ(load("lists"), RSDB_OK);  // the name's case does not matter
    auto r = get();
    const tagRemSetAdapter& a = r->Adapter[0];
    EXPECT_EQ(+a.RecCameras.dwRecordingCameras, 0u);
    EXPECT_EQ(+a.RecDialOnAlarm.dwDoaCameras, 0x80000002u);  // "0" is item 32 once split at commas
    EXPECT_EQ(+a.AudioOut.dwSelectedOutput, 0x4u);
    EXPECT_EQ(+a.RecDialOnAlarm.dwDialOnNoVideo, 0u);
    EXPECT_EQ(+a.Relay[0].dwTimeOut, 0xFFFFFFFFu);
    EXPECT_EQ(+a.VideoIn.bHue, 0);  // present but not a number
    EXPECT_STREQ(a.szName, "Adapter#1");
}

TEST_F(RemSetDBTest, TasksAfterAGapAreNotLost) {
    writeProfile("Gap", "[SchedTask#1]\r\nOperationCode=4\r\nActive=1\r\n[SchedTask#3]\r\nOperationCode=6\r\nHour=7\r\n"
                        "Active=1\r\n");
    ASSERT_EQ(load("Gap"), RSDB_OK);
    auto r = get();
    EXPECT_EQ(+r->Scheduler.SchedTask[0].wOperationCode, 4);
    EXPECT_EQ(+r->Scheduler.SchedTask[1].eConfigStatus, CONFIG_STATUS_NON_ACTIVE);
    EXPECT_EQ(+r->Scheduler.SchedTask[2].wOperationCode, 6);
    EXPECT_EQ(+r->Scheduler.SchedTask[2].bHour, 7);
    EXPECT_EQ(+r->Scheduler.SchedTask[2].eConfigStatus, CONFIG_STATUS_ACTIVE);
}

TEST_F(RemSetDBTest, MissingProfilesAndTakenNamesChangeNothing) {
    ASSERT_EQ(load(""), RSDB_OK);
    auto before = get();
    before->ModemParam.wRingsToAnswer = 9;
    set(*before);
    EXPECT_EQ(load("Nowhere"), RSDB_ERR_NO_PROFILE);
    EXPECT_EQ(+get()->ModemParam.wRingsToAnswer, 9);
    EXPECT_EQ(db->DeleteProfile(Text("Nowhere").b), RSDB_ERR_NO_PROFILE);

    writeProfile("Taken", "[Communication]\r\nNumberOfRings=4\r\n");
    EXPECT_EQ(db->NewProfile(Text("TAKEN").b), RSDB_ERR_EXISTS);
    EXPECT_EQ(db->SaveAsProfile(Text("Taken").b), RSDB_ERR_EXISTS);
    EXPECT_EQ(fileText("Taken"), "[Communication]\r\nNumberOfRings=4\r\n");
    EXPECT_EQ(db->NewProfile(Text("Fresh").b), RSDB_OK);
    EXPECT_TRUE(fs::exists(folder / "Fresh.Ini"));

    // Names are cut to 29 characters: two names that differ after that are one profile.
    const std::string base(29, 'n');
    ASSERT_EQ(save(base + "first"), RSDB_OK);
    EXPECT_EQ(load(base + "second"), RSDB_OK);
    EXPECT_TRUE(fs::exists(folder / (base + ".Ini")));

    // Names that would leave the folder name no profile.
    for (const char* bad : {"../escape", "a/b", "..", ".hidden", "tab\tname"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(save(bad), RSDB_ERR_WRITE);
        EXPECT_EQ(load(bad), RSDB_ERR_NO_PROFILE);
    }
    EXPECT_FALSE(fs::exists(platform::programFolder() / "escape.Ini"));
}

TEST_F(RemSetDBTest, EnumerationListsProfilesAndEnds) {
    Text name;
    EXPECT_EQ(db->GetFirstProfileName(&name.b, 30), RSDB_ERR_NOT_FOUND);
    EXPECT_EQ(db->GetNextProfileName(&name.b, 30), RSDB_ERR_NO_ENUM);
    writeProfile("beta", "");
    writeProfile("Alpha", "");
    std::ofstream(folder / "zo10.set") << "";
    ASSERT_EQ(db->GetFirstProfileName(&name.b, 30), RSDB_OK);
    EXPECT_EQ(name.str(), "Alpha");
    ASSERT_EQ(db->GetNextProfileName(&name.b, 30), RSDB_OK);
    EXPECT_EQ(name.str(), "beta");
    EXPECT_EQ(db->GetNextProfileName(&name.b, 30), RSDB_ERR_NO_MORE);
    EXPECT_EQ(db->CloseGetProfileName(), RSDB_ERR_NO_ENUM);
    ASSERT_EQ(db->GetFirstProfileName(&name.b, 30), RSDB_OK);
    EXPECT_EQ(db->CloseGetProfileName(), RSDB_OK);

    Text system;
    ASSERT_EQ(db->GetSystemProfileName(&system.b), RSDB_OK);
    EXPECT_EQ(system.str(), (folder / "zo10.set").string());
    fs::remove(folder / "zo10.set");
    EXPECT_EQ(db->GetSystemProfileName(&system.b), RSDB_ERR_NOT_FOUND);
}

TEST_F(RemSetDBTest, RenameKeepsTheOldProfileUnlessTheNewOneIsWritten) {
    writeProfile("Old", "[Communication]\r\nNumberOfRings=6\r\n");
    writeProfile("Other", "");
    EXPECT_EQ(db->RenameProfile(Text("Old").b, Text("other").b), RSDB_ERR_EXISTS);
    EXPECT_EQ(db->RenameProfile(Text("Ghost").b, Text("New").b), RSDB_ERR_NO_PROFILE);
    EXPECT_FALSE(fs::exists(folder / "New.Ini"));

    // A new name whose file cannot be written: the old profile stays.
    fs::create_directories(folder / "Blocked.Ini" / "inside");
    EXPECT_EQ(db->RenameProfile(Text("Old").b, Text("Blocked").b), RSDB_ERR_WRITE);
    EXPECT_TRUE(fs::exists(folder / "Old.Ini"));

    ASSERT_EQ(db->RenameProfile(Text("Old").b, Text("New").b), RSDB_OK);
    EXPECT_FALSE(fs::exists(folder / "Old.Ini"));
    EXPECT_EQ(+get()->ModemParam.wRingsToAnswer, 6);
    ASSERT_EQ(load("New"), RSDB_OK);
    EXPECT_EQ(+get()->ModemParam.wRingsToAnswer, 6);
}

TEST_F(RemSetDBTest, ReachableByDispatchNames) {
    ComPtr<IDispatch> disp;
    ASSERT_EQ(db->QueryInterface(IID_IDispatch, disp.putVoid()), S_OK);
    const char* names[] = {"Get", "Set", "LoadProfile", "SaveProfile", "GetFirstProfileName", "GetNextProfileName",
                           "CloseGetProfileName", "GetSystemProfileName", "DeleteProfile", "RenameProfile",
                           "NewProfile", "SaveAsProfile"};
    for (int i = 0; i < 12; ++i) {
        LPOLESTR name = const_cast<LPOLESTR>(names[i]);
        DISPID id = 0;
        ASSERT_EQ(disp->GetIDsOfNames(platform::com::IID_NULL, &name, 1, 0, &id), S_OK) << names[i];
        EXPECT_EQ(id, i + 1) << names[i];
    }
}

}  // namespace
