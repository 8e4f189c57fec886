#include "nordel/nordel_lib.h"
#include "platform/com/com.h"
#include "platform/com/com_ptr.h"
#include "platform/folders.h"
#include "platform/ini_file.h"
#include "platform/testing/child_process.h"
#include "platform/time_convert.h"

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;
using platform::com::ComPtr;

namespace {

constexpr const char* kStation = "{0B7A31C2-5D1E-4C8F-9A66-2E4F00A1B2C3}";

class StationsMgrTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        platform::com::ensureServersRegistered();
        root = (platform::homeFolder() / "data").string();
        storage = (platform::homeFolder() / "storage").string();
        fs::create_directories(root);
        mgr = make();
    }
    void TearDown() override {
        mgr.reset();
        CoUninitialize();
    }

    ComPtr<IZoStationsMgr> make() {
        ComPtr<IZoStationsMgr> m;
        EXPECT_EQ(platform::com::createInstance(CLSID_ZoStationsMgr, m), S_OK);
        if (m) {
            m->SetDefaultStorageWorkFolder(storage.c_str());
            m->SetStationsDBFolder((root + "/").c_str());  // one trailing separator is dropped
        }
        return m;
    }
    LONG error(IZoStationsMgr* m = nullptr) {
        LONG e = -1;
        (m ? m : mgr.get())->GetLatestError(&e);
        return e;
    }
    std::string iniPath(const std::string& id) { return root + "/StationsDB/" + id + ".ini"; }
    static ZoStationRecord* fresh(std::vector<char>& block) {
        block.assign(sizeof(ZoStationRecord), 0);
        auto* r = reinterpret_cast<ZoStationRecord*>(block.data());
        r->version = 10;
        return r;
    }
    void touch(const std::string& path) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << "x";
    }

    std::string root, storage;
    ComPtr<IZoStationsMgr> mgr;
};

}  // namespace

TEST_F(StationsMgrTest, NewStationGetsDefaultsAndRecordRoundTrips) {
    EXPECT_EQ(mgr->StartQueryStation(kStation), S_FALSE);
    EXPECT_EQ(error(), ZO_SM_ERR_STATION_NOT_EXIST);
    std::vector<char> block;
    ZoStationRecord* r = fresh(block);
    ASSERT_EQ(mgr->GetStationInfo(r), S_OK);
    EXPECT_STREQ(r->stationId, kStation);
    EXPECT_EQ(r->adapterNum, 6u);
    for (const auto& adapter : r->adapters) {
        EXPECT_EQ(adapter.cameraNum, 16u);
        EXPECT_STREQ(adapter.name, "");
    }
    EXPECT_EQ(std::string(r->storage), storage);
    EXPECT_FALSE(fs::exists(iniPath(kStation)));

    std::strcpy(r->name, "Harbour gate");
    std::strcpy(r->phone, "+44 20 7946 0000");
    std::strcpy(r->details, "north side");
    std::strcpy(r->stationId, "{another station}");  // cannot move the record
    r->group = 4;
    r->subGroup = -2;
    r->reserved[0] = 0x5A;
    r->adapterNum = 2;
    std::strcpy(r->adapters[0].name, "Front");
    r->adapters[0].cameraNum = 3;
    std::strcpy(r->adapters[0].cameraNames[2], "Gate cam");
    r->adapters[1].cameraNum = 0;
    ASSERT_EQ(mgr->SetStationInfo(r), S_OK);
    ASSERT_EQ(mgr->WriteStationInfo(), S_OK);
    EXPECT_FALSE(fs::exists(iniPath("{another station}")));
    EXPECT_EQ(platform::iniReadValue(iniPath(kStation), "General", "Name"), "Harbour gate");
    EXPECT_EQ(platform::iniReadValue(iniPath(kStation), "Adapter_0", "CameraNum"), "3");
    EXPECT_EQ(platform::iniReadValue(iniPath(kStation), "Camera_0_2", "Name"), "Gate cam");

    auto other = make();
    ASSERT_EQ(other->StartQueryStation(kStation), S_OK);
    std::vector<char> block2;
    ZoStationRecord* back = fresh(block2);
    ASSERT_EQ(other->GetStationInfo(back), S_OK);
    EXPECT_STREQ(back->name, "Harbour gate");
    EXPECT_STREQ(back->phone, "+44 20 7946 0000");
    EXPECT_STREQ(back->stationId, kStation);
    EXPECT_EQ(back->group, 4);
    EXPECT_EQ(back->subGroup, -2);
    EXPECT_EQ(back->reserved[0], 0);  // never stored
    EXPECT_EQ(back->adapterNum, 2u);
    EXPECT_EQ(back->adapters[0].cameraNum, 3u);
    EXPECT_STREQ(back->adapters[0].cameraNames[2], "Gate cam");
    EXPECT_EQ(back->adapters[1].cameraNum, 0u);

    // A block of another version is refused and changes nothing.
    back->version = 9;
    EXPECT_EQ(other->GetStationInfo(back), S_FALSE);
    EXPECT_EQ(error(other.get()), ZO_SM_ERR_SI_VER_NOT_COMPATIBLE);
    EXPECT_EQ(back->version, 9u);
    std::vector<char> block3;
    ZoStationRecord* changed = fresh(block3);
    changed->version = 11;
    std::strcpy(changed->name, "changed");
    EXPECT_EQ(other->SetStationInfo(changed), S_FALSE);
    back->version = 10;
    ASSERT_EQ(other->GetStationInfo(back), S_OK);
    EXPECT_STREQ(back->name, "Harbour gate");
}

TEST_F(StationsMgrTest, CountsFromTheFileAreKeptInsideTheRecord) {
    ASSERT_TRUE(platform::iniWriteString(iniPath("big"), "General", "AdapterNum", "99"));
    ASSERT_TRUE(platform::iniWriteString(iniPath("big"), "Adapter_0", "CameraNum", "500"));
    ASSERT_TRUE(platform::iniWriteString(iniPath("big"), "Adapter_1", "CameraNum", "-3"));
    ASSERT_EQ(mgr->StartQueryStation("big"), S_OK);
    std::vector<char> block;
    ZoStationRecord* r = fresh(block);
    ASSERT_EQ(mgr->GetStationInfo(r), S_OK);
    EXPECT_EQ(r->adapterNum, 6u);
    EXPECT_EQ(r->adapters[0].cameraNum, 16u);
    EXPECT_EQ(r->adapters[1].cameraNum, 0u);
    // A record that claims more than it holds is written within its bounds.
    r->adapterNum = 1000;
    ASSERT_EQ(mgr->SetStationInfo(r), S_OK);
    ASSERT_EQ(mgr->WriteStationInfo(), S_OK);
    EXPECT_EQ(platform::iniReadValue(iniPath("big"), "General", "AdapterNum"), "6");
}

TEST_F(StationsMgrTest, FoldersAndEventPaths) {
    char text[260];
    ASSERT_EQ(mgr->SetWorkingFolder("/srv/data"), S_OK);
    ASSERT_EQ(mgr->GetWorkingFolder(text), S_OK);
    EXPECT_STREQ(text, "/srv/data/StationsDB");
    mgr = make();
    EXPECT_TRUE(fs::is_directory(root + "/StationsDB"));

    struct Case { LONG zost; ULONG adapter; ULONG camera; LONG zoet; HRESULT hr; LONG error; const char* tail; };
    const Case cases[] = {
        {1, 2, 3, 1, S_OK, 0, "Triggers/Adapter_2/Camera_3/Automatic_Trigger"},
        {0, 0, 15, 0, S_OK, 0, "Movies/Adapter_0/Camera_15/Manual_Trigger"},
        {2, 0, 0, 0, S_FALSE, ZO_SM_ERR_ILLEGAL_STREAM_TYPE, nullptr},
        {0, 0, 0, 2, S_FALSE, ZO_SM_ERR_ILLEGAL_EVENT_TYPE, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(mgr->GetPathEvent("/st", kStation, c.zost, c.adapter, c.camera, c.zoet, text), c.hr);
        EXPECT_EQ(error(), c.error);
        if (c.tail) {
            EXPECT_EQ(std::string(text), std::string("/st/TriggersMoviesDB/") + kStation + "/" + c.tail);
        }
    }
    EXPECT_EQ(mgr->GetPathEvent("/st", "../../etc", 1, 0, 0, 1, text), S_FALSE);
    EXPECT_EQ(error(), ZO_SM_ERR_GENERAL);
}

TEST_F(StationsMgrTest, FileIdentifiersTranslateBack) {
    char text[260];
    ASSERT_EQ(mgr->TranslateFileName("l160507", text), S_OK);
    EXPECT_STREQ(text, "Event_7.trg");
    mgr->StartQueryStation(kStation);
    ASSERT_EQ(mgr->GetEventFilePath("L160507", text), S_OK);
    EXPECT_EQ(std::string(text),
              storage + "/TriggersMoviesDB/" + kStation + "/Movies/Adapter_5/Camera_15/Manual_Trigger/Event_7.trg");
    ASSERT_EQ(mgr->TranslateFileName("T0112112", text), S_OK);
    EXPECT_STREQ(text, "Event_12.trg");
    ASSERT_EQ(mgr->TranslateFileName("X0101042", text), S_OK);
    EXPECT_STREQ(text, "42.trg");
    // An identifier whose number would lead out of the event folder is refused.
    EXPECT_EQ(mgr->TranslateFileName("X0101../..", text), S_FALSE);
    EXPECT_EQ(mgr->GetEventFilePath("X0101../..", text), S_FALSE);
    EXPECT_EQ(mgr->GetEventFilePath("L0101/etc/", text), S_FALSE);
}

TEST_F(StationsMgrTest, EventsAreEnumeratedInCursorOrder) {
    ASSERT_EQ(mgr->StartQueryStation(kStation), S_FALSE);
    std::vector<char> block;
    ZoStationRecord* r = fresh(block);
    mgr->GetStationInfo(r);
    r->adapterNum = 2;
    r->adapters[0].cameraNum = 2;
    r->adapters[1].cameraNum = 0;  // contributes nothing
    mgr->SetStationInfo(r);
    ASSERT_EQ(mgr->WriteStationInfo(), S_OK);

    const std::string base = storage + "/TriggersMoviesDB/" + kStation;
    touch(base + "/Triggers/Adapter_0/Camera_1/Automatic_Trigger/Event_4.trg");
    touch(base + "/Triggers/Adapter_0/Camera_1/Automatic_Trigger/Event_3.trg");
    touch(base + "/Triggers/Adapter_0/Camera_1/Automatic_Trigger/notes.txt");
    touch(base + "/Movies/Adapter_0/Camera_0/Manual_Trigger/Event_1.trg");
    touch(base + "/Triggers/Adapter_1/Camera_0/Manual_Trigger/Event_9.trg");

    auto other = make();
    ZoStationEventInfo untouched{};
    untouched.adapter = 77;
    EXPECT_EQ(other->FindNext(&untouched), S_OK);  // no search yet
    EXPECT_EQ(untouched.adapter, 77u);

    std::vector<std::string> seen;
    ZoStationEventInfo ev{};
    HRESULT hr = other->FindFirstEvent(kStation, 0, &ev);
    while (hr == S_OK) {
        seen.push_back(std::to_string(ev.streamType) + std::to_string(ev.adapter) + std::to_string(ev.camera) +
                       std::to_string(ev.eventType) + ":" + ev.fileName);
        EXPECT_NE(ev.lastWriteTime.dwHighDateTime, 0u);
        hr = other->FindNext(&ev);
    }
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(error(other.get()), ZO_SM_ERR_NO_EVENT_FILES_FOUND);
    EXPECT_EQ(seen, (std::vector<std::string>{"0000:Event_1.trg", "1011:Event_3.trg", "1011:Event_4.trg"}));

    // The same as file identifiers.
    WIN32_FIND_DATA fd{};
    std::vector<std::string> ids;
    for (hr = other->QueryFirstEvent(0, &fd); hr == S_OK; hr = other->QueryNextEvent(0, &fd)) {
        ids.push_back(fd.cFileName);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"L010001", "T021013", "T021014"}));

    ZoStationEventInfo in{}, out{};
    in.streamType = 1;
    in.camera = 1;
    in.eventType = 1;
    std::strcpy(in.fileName, "Event_4.trg");
    ASSERT_EQ(other->GetEventInfo(&in, &out), S_OK);
    EXPECT_STREQ(out.fileName, "Event_4.trg");
    EXPECT_EQ(out.camera, 1u);
    std::strcpy(in.fileName, "../../../StationsDB/x.ini");
    EXPECT_EQ(other->GetEventInfo(&in, &out), S_FALSE);

    // No event folders at all, or no adapters: nothing found.
    EXPECT_EQ(other->FindFirstEvent("{empty}", 0, &ev), S_FALSE);  // no ini yet
    ASSERT_TRUE(platform::iniWriteString(iniPath("none"), "General", "AdapterNum", "0"));
    EXPECT_EQ(other->FindFirstEvent("none", 0, &ev), S_FALSE);
    EXPECT_EQ(error(other.get()), ZO_SM_ERR_NO_EVENT_FILES_FOUND);
}

TEST_F(StationsMgrTest, StationsAreEnumeratedAndHostileIdsRefused) {
    for (const char* id : {"b-station", "a-station", "c-station"}) {
        mgr->StartQueryStation(id);
        ASSERT_EQ(mgr->WriteStationInfo(), S_OK);
    }
    touch(root + "/StationsDB/.ini");  // a file no station id names
    auto other = make();
    EXPECT_EQ(other->NextStation(), S_FALSE);
    EXPECT_EQ(error(other.get()), ZO_SM_ERR_ENUM_STATION_NOT_STARTED);
    std::vector<std::string> ids;
    std::vector<char> block;
    ZoStationRecord* r = fresh(block);
    for (HRESULT hr = other->StartEnumStations(); hr == S_OK; hr = other->NextStation()) {
        other->GetStationInfo(r);
        ids.push_back(r->stationId);
    }
    EXPECT_EQ(error(other.get()), ZO_SM_ERR_STATION_NOT_EXIST);
    EXPECT_EQ(ids, (std::vector<std::string>{"a-station", "b-station", "c-station"}));
    other->FinishEnumStations();
    EXPECT_EQ(other->NextStation(), S_FALSE);

    // Ids that would leave the stations folder select nothing and write nothing.
    ASSERT_EQ(other->StartQueryStation("a-station"), S_OK);
    const char* hostile[] = {"../evil", "a/b", "a\\b", "..", ".", "x\n"};
    for (const char* id : hostile) {
        SCOPED_TRACE(id);
        EXPECT_EQ(other->StartQueryStation(id), S_FALSE);
        EXPECT_EQ(error(other.get()), ZO_SM_ERR_GENERAL);
        EXPECT_EQ(other->SetActiveStation(id), E_FAIL);
        char out[260];
        EXPECT_EQ(other->Get_NAStationStorage(id, out), E_FAIL);
    }
    EXPECT_EQ(other->StartQueryStation(""), S_FALSE);
    other->GetStationInfo(r);
    EXPECT_STREQ(r->stationId, "a-station");
    ASSERT_EQ(other->WriteStationInfo(), S_OK);
    EXPECT_FALSE(fs::exists(root + "/evil.ini"));
    EXPECT_FALSE(fs::exists(root + "/StationsDB/a"));
}

TEST_F(StationsMgrTest, DeleteRemovesOnlyTheCurrentStationsFile) {
    mgr->StartQueryStation("keep");
    mgr->WriteStationInfo();
    touch(root + "/StationsDB/.ini");
    auto other = make();
    EXPECT_EQ(other->DeleteStation(), S_FALSE);  // no station: nothing deleted
    EXPECT_TRUE(fs::exists(iniPath("keep")));
    EXPECT_TRUE(fs::exists(root + "/StationsDB/.ini"));

    other->StartQueryStation("gone");
    ASSERT_EQ(other->WriteStationInfo(), S_OK);
    ASSERT_TRUE(fs::exists(iniPath("gone")));
    EXPECT_EQ(other->DeleteStation(), S_OK);
    EXPECT_FALSE(fs::exists(iniPath("gone")));
    EXPECT_TRUE(fs::exists(iniPath("keep")));

    // A query for an empty id after a station was current (the explorer's
    // removal of a station without an id): the delete that follows deletes
    // nothing, least of all the station queried before.
    ASSERT_EQ(other->StartQueryStation("keep"), S_OK);
    EXPECT_EQ(other->StartQueryStation(""), S_FALSE);
    EXPECT_EQ(other->DeleteStation(), S_FALSE);
    EXPECT_TRUE(fs::exists(iniPath("keep")));
    EXPECT_TRUE(fs::exists(root + "/StationsDB/.ini"));
}

TEST_F(StationsMgrTest, StorageOfAnyStationWithoutMakingItCurrent) {
    ASSERT_TRUE(platform::iniWriteString(iniPath("far"), "General", "Storage", "/mnt/far"));
    ASSERT_TRUE(platform::iniWriteString(iniPath("blank"), "General", "Storage", ""));
    mgr->StartQueryStation("near");
    char out[260];
    ASSERT_EQ(mgr->Get_NAStationStorage("far", out), S_OK);
    EXPECT_STREQ(out, "/mnt/far");
    ASSERT_EQ(mgr->Get_NAStationStorage("blank", out), S_OK);
    EXPECT_EQ(std::string(out), storage);
    ASSERT_EQ(mgr->Get_NAStationStorage("unknown", out), S_OK);
    EXPECT_EQ(std::string(out), storage);
    EXPECT_EQ(mgr->Get_NAStationStorage("", out), E_FAIL);
    std::vector<char> block;
    ZoStationRecord* r = fresh(block);
    mgr->GetStationInfo(r);
    EXPECT_STREQ(r->stationId, "near");
}

// A process that starts the library by making one object.
VELMOOR_TEST_CHILD(stations_object) {
    if (CoInitialize(nullptr) != S_OK) return 2;
    ComPtr<IZoStationsMgr> mgr;
    if (platform::com::createInstance(CLSID_ZoStationsMgr, mgr) != S_OK) return 3;
    mgr.reset();
    CoUninitialize();
    return 0;
}

TEST_F(StationsMgrTest, LibraryStampsTheVersionItsFileCarries) {
    // The library stamps once per process, when it starts: a process of its
    // own starts it afresh, whatever this process has done with it before.
    fs::remove(platform::windowsFolder() / "Quennel.ini");
    auto child = velmoor::testing::ChildProcess::start("stations_object");
    ASSERT_EQ(child.wait(std::chrono::seconds(60)), 0);
    EXPECT_EQ(platform::iniReadValue("Quennel.ini", "Version", "Nordel"), "1.0.0.0");
    EXPECT_TRUE(platform::iniReadValue("Quennel.ini", "Last Access", "Nordel").has_value());
}

namespace {

// An event file's 86-byte header: magic, the local start time at byte 6, the
// byte sum of bytes 0..81 at byte 82.
std::string eventHeader(const char* magic, ULONGLONG localStart, int checksumError = 0) {
    std::string bytes(86, '\0');
    std::memcpy(bytes.data(), magic, 4);
    for (int i = 0; i < 8; ++i) {
        bytes[6 + i] = char(localStart >> (8 * i));
    }
    bytes[14] = 3;  // an adapter number, so the sum covers more than the time
    DWORD sum = 0;
    for (int i = 0; i < 82; ++i) {
        sum += BYTE(bytes[i]);
    }
    sum += DWORD(checksumError);
    for (int i = 0; i < 4; ++i) {
        bytes[82 + i] = char(sum >> (8 * i));
    }
    return bytes;
}

}  // namespace

TEST_F(StationsMgrTest, EventStartTimeComesFromTheEventHeader) {
    ASSERT_EQ(mgr->StartQueryStation(kStation), S_FALSE);
    std::vector<char> block;
    ZoStationRecord* r = fresh(block);
    mgr->GetStationInfo(r);
    mgr->SetStationInfo(r);
    ASSERT_EQ(mgr->WriteStationInfo(), S_OK);

    SYSTEMTIME st{};
    st.wYear = 2020;
    st.wMonth = 5;
    st.wDay = 6;
    st.wHour = 7;
    st.wMinute = 8;
    st.wSecond = 9;
    FILETIME localStart{};
    ASSERT_TRUE(platform::systemTimeToFileTime(st, localStart));
    FILETIME utcStart{};
    ASSERT_TRUE(platform::localFileTimeToFileTime(localStart, utcStart));
    const ULONGLONG start = platform::fileTimeValue(localStart);

    struct Case {
        const char* name;
        std::string content;
        bool fromHeader;
    };
    const Case cases[] = {
        {"Event_1.trg", eventHeader("VHED", start) + "snapshots follow", true},
        {"Event_2.trg", eventHeader("VHED", start), true},                       // header only
        {"Event_3.trg", eventHeader("VHED", start, 1), false},                   // checksum off by one
        {"Event_4.trg", eventHeader("LUMA", start), false},                      // not an event header
        {"Event_5.trg", eventHeader("VHED", start).substr(0, 85), false},        // cut short
        {"Event_6.trg", eventHeader("VHED", 0), false},                          // no start time yet
        {"Event_7.trg", "", false},
        {"Event_8.trg", eventHeader("VHED", ~0ULL), false},                      // no calendar time
    };
    const std::string folder = storage + "/TriggersMoviesDB/" + kStation + "/Triggers/Adapter_0/Camera_0/Manual_Trigger/";
    fs::create_directories(folder);
    for (const auto& c : cases) {
        std::ofstream(folder + c.name, std::ios::binary) << c.content;
        // A last write far from the header's time, so each source is told apart.
        const timespec old[2] = {{978307200, 0}, {978307200, 0}};  // 2001-01-01 UTC
        ASSERT_EQ(::utimensat(AT_FDCWD, (folder + c.name).c_str(), old, 0), 0);
    }
    const FILETIME oldWrite = platform::fileTimeFrom(platform::kFileTimeOf1970 + 978307200ULL * platform::kFileTicksPerSecond);

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ZoStationEventInfo in{}, out{};
        in.streamType = 1;
        std::strcpy(in.fileName, c.name);
        ASSERT_EQ(mgr->GetEventInfo(&in, &out), S_OK);
        EXPECT_EQ(platform::fileTimeValue(out.lastWriteTime), platform::fileTimeValue(oldWrite));
        EXPECT_EQ(platform::fileTimeValue(out.creationTime),
                  platform::fileTimeValue(c.fromHeader ? utcStart : oldWrite));
    }

    // The search reports the same time as the single look-up.
    ZoStationEventInfo first{};
    ASSERT_EQ(mgr->FindFirstEvent(kStation, 0, &first), S_OK);
    EXPECT_STREQ(first.fileName, "Event_1.trg");
    EXPECT_EQ(platform::fileTimeValue(first.creationTime), platform::fileTimeValue(utcStart));
    WIN32_FIND_DATA fd{};
    ASSERT_EQ(mgr->QueryFirstEvent(0, &fd), S_OK);
    EXPECT_EQ(platform::fileTimeValue(fd.ftCreationTime), platform::fileTimeValue(utcStart));
}
