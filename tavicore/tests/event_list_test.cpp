#include "tavicore/event_file.h"

#include "common/kc_reg.h"
#include "tavicore/testing/event_test_support.h"
#include "platform/com/com.h"
#include "platform/message_window.h"
#include "platform/registry.h"
#include "platform/time_convert.h"
#include "tavicore/stations_mgr.h"
#include "tavicore/tavicore_globals.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace eventtest;

namespace {

tagEventDirListCamera cameraList(DWORD type, WORD adapter, WORD camera, const char* station = "") {
    tagEventDirListCamera list{};
    list.dwType = type;
    list.wAdapter = adapter;
    list.wCamera = camera;
    std::snprintf(list.szStation, sizeof list.szStation, "%s", station);
    return list;
}

std::vector<BYTE> listFile(const tagEventDirListCamera& head, const std::vector<tagEventHeader>& headers) {
    std::vector<BYTE> bytes(kEventDirListRecordSize);
    CEventFile::evListRecordToBytes(&head, bytes.data());
    for (const auto& h : headers) {
        const auto* p = reinterpret_cast<const BYTE*>(&h);
        bytes.insert(bytes.end(), p, p + sizeof h);
    }
    return bytes;
}

tagEventHeader sealed(tagEventHeader h) {
    std::memcpy(h.chMagic, "VHED", 4);
    h.dwChkSum = CEventFile().CalculateChkSum(reinterpret_cast<BYTE*>(&h), 82);
    return h;
}

// Collects the messages posted to it; ends the running loop on the list-loaded message.
class Collector : public platform::MessageWindow {
public:
    struct Message {
        UINT msg;
        WPARAM w;
        LPARAM l;
    };
    std::vector<Message> messages;
    QEventLoop* loop = nullptr;

protected:
    LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override {
        if (msg >= 0x8000) {
            messages.push_back({msg, w, l});
            if (msg == EVMSG_LIST_LOADED && loop != nullptr) {
                loop->quit();
            }
        }
        return 0;
    }
};

}  // namespace

TEST(EventFolders, NamesFollowTheTreeAndCheckTheStation) {
    std::string root = useTestRoot();
    struct Case {
        DWORD type;
        const char* station;
        const char* folder;  // below the storage root; null: refused
    };
    const Case cases[] = {
        {1, "", "/triggers/Adapter_2/Camera_3/Automatic_Trigger"},
        {2, "", "/triggers/Adapter_2/Camera_3/Manual_Trigger"},
        {8, "", "/triggers/Adapter_2/Camera_3/DOA_Trigger"},
        {16, "", "/triggers/Adapter_2/Camera_3/Remote_Manual_Trigger"},
        {32, "", "/triggers/Adapter_2/Camera_3/Lapse_Manual_Trigger"},
        {64, "", "/triggers/Adapter_2/Camera_3/Lapse_Automatic_Trigger"},
        {4, "", "/Movies/Adapter_2/Camera_3/Manual_Trigger"},
        {256, "", "/Movies/Adapter_2/Camera_3/Manual_Trigger"},
        {260, "", "/Movies/Adapter_2/Camera_3/Manual_Trigger"},
        {772, "", "/Movies/Adapter_2/Camera_3/Manual_Trigger"},
        {512, "", "/Movies/Adapter_2/Quad_77/Manual_Trigger"},
        {512 | 0x20000, "", "/Movies/Adapter_2/Camera_3/Manual_Trigger"},
        {1 | 0x20000, "", "/triggers/Adapter_2/Camera_3/Automatic_Trigger"},
        {1, "{0A1B-77}", "/TriggersMoviesDB/{0A1B-77}/triggers/Adapter_2/Camera_3/Automatic_Trigger"},
        {0, "", nullptr},
        {3, "", nullptr},
        {0x10000, "", nullptr},
        {1, "..", nullptr},
        {1, ".", nullptr},
        {1, "a/b", nullptr},
        {1, "a\\b", nullptr},
        {1, "line\nbreak", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " " + c.station);
        tagEventHeader h = key(c.type, 2, 3, 77);
        char out[MAX_PATH] = "before";
        int ok = CEventFile::evMakePathName(c.station, &h, out, sizeof out);
        EXPECT_EQ(ok, c.folder != nullptr ? 1 : 0);
        if (c.folder != nullptr) {
            EXPECT_EQ(std::string(out), root + c.folder);
        }
    }
    // No storage: no folder.
    evSetEventsStorageRoot("");
    tagEventHeader h = key(1, 0, 0, 1);
    char out[MAX_PATH] = {};
    EXPECT_EQ(CEventFile::evMakePathName("", &h, out, sizeof out), 0);
}

TEST(EventFolders, LatestIndexFromTheIndexFileOrTheNewestEvent) {
    std::string root = useTestRoot();
    tagEventHeader h = key(EVENT_TYPE_MANUAL, 0, 0, 0);
    writeEvent(key(EVENT_TYPE_MANUAL, 0, 0, 12), {Frame{10, false}});
    std::string newer = writeEvent(key(EVENT_TYPE_MANUAL, 0, 0, 4), {Frame{10, false}});
    std::string folder = fs::path(newer).parent_path().string();
    DWORD index = 0;
    ASSERT_EQ(CEventFile::evGetLatestEventIndex("", &h, &index), 1);
    EXPECT_EQ(index, 4u);  // the last created, as the index file says

    // Without the index file the newest file wins; equal times: the later listed.
    fs::remove(folder + "/LastEvnt.idx");
    timespec times[2] = {{1000, 0}, {2000000000, 0}};
    ::utimensat(AT_FDCWD, (folder + "/Event_12.trg").c_str(), times, 0);
    ASSERT_EQ(CEventFile::evGetLatestEventIndex("", &h, &index), 1);
    EXPECT_EQ(index, 12u);
    EXPECT_EQ(fs::file_size(folder + "/LastEvnt.idx"), 4u);
    fs::remove(folder + "/LastEvnt.idx");
    ::utimensat(AT_FDCWD, (folder + "/Event_4.trg").c_str(), times, 0);
    ASSERT_EQ(CEventFile::evGetLatestEventIndex("", &h, &index), 1);
    EXPECT_EQ(index, 4u);  // "Event_12" lists before "Event_4"

    DWORD number = 0;
    EXPECT_EQ(CEventFile::evGetEventIndexByFileName("/x/Event_42.trg", &number), 1);
    EXPECT_EQ(number, 42u);
    EXPECT_EQ(CEventFile::evGetEventIndexByFileName("/x/Event42.trg", &number), 0);
    EXPECT_EQ(CEventFile::evGetEventIndexByFileName("/x/Event_99999999999.trg", &number), 0);
    EXPECT_EQ(CEventFile::evIsEventFile("/a/b.TRG"), 1);
    EXPECT_EQ(CEventFile::evIsEventFile("/a/b.trgx"), 0);
}

TEST(EventLists, ScanListsTheFolderAndWritesItsListFile) {
    std::string root = useTestRoot();
    std::vector<std::string> paths;
    for (DWORD n : {1u, 2u, 3u}) {
        paths.push_back(writeEvent(key(EVENT_TYPE_AUTOMATIC, 1, 1, n), {Frame{10, false}}));
    }
    tagEventDirListCamera list = cameraList(EVENT_TYPE_AUTOMATIC, 1, 1);
    {
        CEventFile scan(&list, 0, "", nullptr, 0, 0, 1);
        WORD code = 0;
        scan.GetLastError(&code);
        EXPECT_EQ(code, 0);
    }
    EXPECT_EQ(list.dwEventCount, 3u);
    ASSERT_EQ(list.localList.dwCount, 3u);
    DWORD n = 1;
    for (auto* node = list.localList.pHead; node != nullptr; node = node->pNext, ++n) {
        tagEventHeader onDisk{};
        readSerials(paths[n - 1], 0, &onDisk);
        EXPECT_EQ(+node->header.dwEventNumber, n);
        EXPECT_EQ(CEventFile::evCompareTime(node->header.ftStartTime, onDisk.ftStartTime), 0);
        EXPECT_GE(CEventFile::evCompareTime(node->header.ftEndTime, node->header.ftStartTime), 0);
    }
    std::string listPath = list.szListFile;
    EXPECT_EQ(listPath, fs::path(paths[0]).parent_path().string() + "/Events.hdr");
    auto bytes = readBytes(listPath);
    ASSERT_EQ(bytes.size(), 576u + 3 * 86);
    // The file's headers pass the check a receiving station makes.
    tagEventDirListCamera received = cameraList(EVENT_TYPE_AUTOMATIC, 1, 1, "{PEER}");
    fs::path peer = fs::path(root) / "TriggersMoviesDB" / "{PEER}" / "triggers" / "Adapter_1" /
                    "Camera_1" / "Automatic_Trigger";
    fs::create_directories(peer);
    writeBytes((peer / "EventsRemote.hdr").string(), bytes);
    CEventFile loader;
    ASSERT_EQ(loader.evLoadEventsHeadersFromFile(&received), 1);
    EXPECT_EQ(received.remoteList.dwCount, 3u);
    CEventFile::evFree(&received.remoteList);

    // An empty folder deletes the list file instead of writing a head alone.
    for (const auto& p : paths) {
        fs::remove(p);
    }
    CEventFile rescan(&list, 0, "", nullptr, 0, 0, 1);
    EXPECT_EQ(list.localList.dwCount, 0u);
    EXPECT_FALSE(fs::exists(listPath));
    CEventFile::evFree(&list.localList);
}

TEST(EventLists, RemoteListDropsBadAndLocalHeaders) {
    std::string root = useTestRoot();
    tagEventDirListCamera list = cameraList(EVENT_TYPE_MANUAL, 0, 2);
    auto* local = new tagEventHeaderNode{key(EVENT_TYPE_MANUAL, 0, 2, 1), nullptr, nullptr};
    local->header.ftStartTime = FILETIME{100, 1};
    CEventFile::evAddToTail(&list.localList, local);

    tagEventHeader same = key(EVENT_TYPE_MANUAL, 0, 2, 8);
    same.ftStartTime = FILETIME{100, 1};
    tagEventHeader good = key(EVENT_TYPE_MANUAL, 0, 2, 9);
    good.ftStartTime = FILETIME{200, 1};
    tagEventHeader bad = sealed(key(EVENT_TYPE_MANUAL, 0, 2, 10));
    bad.dwEventNumber = 11;  // after sealing: the checksum no longer matches
    std::vector<BYTE> bytes = listFile(list, {sealed(same), bad, sealed(good)});
    bytes.resize(bytes.size() + 40);  // a cut header at the end is no header

    char folder[MAX_PATH] = {};
    tagEventHeader k = key(EVENT_TYPE_MANUAL, 0, 2, 0);
    ASSERT_EQ(CEventFile::evMakePathName("", &k, folder, sizeof folder), 1);
    fs::create_directories(folder);
    writeBytes(std::string(folder) + "/EventsRemote.hdr", bytes);

    CEventFile loader;
    ASSERT_EQ(loader.evLoadEventsHeadersFromFile(&list), 1);
    ASSERT_EQ(list.remoteList.dwCount, 1u);
    const tagEventHeader& got = list.remoteList.pHead->header;
    EXPECT_EQ(+got.dwEventNumber, 9u);
    EXPECT_EQ(+got.dwType, EVENT_TYPE_MANUAL | EVENT_TYPE_FROM_REMOTE);
    EXPECT_EQ(+got.dwChkSum, CEventFile().CalculateChkSum(reinterpret_cast<const BYTE*>(&got), 82));

    // Saved back: one header; then removed from the list, the file goes.
    ASSERT_EQ(CEventFile::evSaveRemoteListToFile(&list), 1);
    EXPECT_EQ(fs::file_size(std::string(folder) + "/EventsRemote.hdr"), 576u + 86);
    tagEventHeaderNode probe{got, nullptr, nullptr};
    EXPECT_EQ(CEventFile::evRemove(&list.remoteList, &probe), 1);
    EXPECT_EQ(CEventFile::evRemove(&list.remoteList, &probe), 0);
    ASSERT_EQ(CEventFile::evSaveRemoteListToFile(&list), 1);
    EXPECT_FALSE(fs::exists(std::string(folder) + "/EventsRemote.hdr"));
    CEventFile::evFree(&list.localList);
    EXPECT_EQ(list.localList.pHead, nullptr);
    EXPECT_EQ(CEventFile().evLoadEventsHeadersFromFile(nullptr), 0);
}

TEST(EventLists, ReceivedListIsCheckedBeforeItNamesAFolder) {
    std::string root = useTestRoot();
    std::string received = root + "/received.hdr";
    struct Case {
        const char* name;
        DWORD type;
        std::string station;
        bool terminated;
        bool ok;
    };
    const Case cases[] = {
        {"good", EVENT_TYPE_AUTOMATIC, "{PEER-1}", true, true},
        {"empty station takes the caller's", EVENT_TYPE_AUTOMATIC, "", true, true},
        {"climbs out", EVENT_TYPE_AUTOMATIC, "..", true, false},
        {"names a subfolder", EVENT_TYPE_AUTOMATIC, "x/../../..", true, false},
        {"unknown kind", 0x4000, "{PEER-1}", true, false},
        {"station without its end", EVENT_TYPE_AUTOMATIC, std::string(256, 'A'), false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tagEventDirListCamera head = cameraList(c.type, 3, 4);
        std::memcpy(head.szStation, c.station.data(), std::min<std::size_t>(c.station.size(), 256));
        if (c.terminated) {
            head.szStation[std::min<std::size_t>(c.station.size(), 255)] = '\0';
        }
        head.dwCallerData = 0xABCD;
        writeBytes(received, listFile(head, {sealed(key(c.type, 3, 4, 1))}));
        tagEventDirListCamera mine = cameraList(EVENT_TYPE_MANUAL, 0, 0, "{CALLER}");
        int ok = CEventFile().evCopyEventListHeaderFileToDataBase(received.c_str(), &mine);
        EXPECT_EQ(ok, c.ok ? 1 : 0);
        if (c.ok) {
            EXPECT_EQ(mine.dwCallerData, 0xABCDu);
            EXPECT_EQ(mine.dwType, EVENT_TYPE_AUTOMATIC);
            std::string station = c.station.empty() ? "{CALLER}" : c.station;
            EXPECT_EQ(std::string(mine.szStation), station);
            EXPECT_TRUE(fs::exists(root + "/TriggersMoviesDB/" + station +
                                   "/triggers/Adapter_3/Camera_4/Automatic_Trigger/EventsRemote.hdr"));
        } else {
            EXPECT_EQ(mine.dwType, EVENT_TYPE_MANUAL);  // the caller's record is untouched
            EXPECT_EQ(std::string(mine.szStation), "{CALLER}");
        }
    }
    // Only the files of the tree were made.
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(root).parent_path())) {
        EXPECT_EQ(entry.path().string().rfind(fs::path(root).parent_path().string(), 0), 0u);
    }
    tagEventDirListCamera none{};
    EXPECT_EQ(CEventFile().evCopyEventListHeaderFileToDataBase((root + "/none").c_str(), &none), 0);
}

TEST(EventLists, ScanThreadPostsProgressAndNeverWaitsOnTheWindow) {
    useTestRoot();
    for (DWORD n = 1; n <= 5; ++n) {
        writeEvent(key(EVENT_TYPE_AUTOMATIC, 0, 5, n), {Frame{10, false}});
    }
    Collector window;
    ASSERT_TRUE(window.create());
    QEventLoop loop;
    window.loop = &loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);

    tagEventDirListCamera list = cameraList(EVENT_TYPE_AUTOMATIC, 0, 5);
    EventStopFlag stop{false};
    {
        CEventFile scan(&list, window.hwnd(), "", &stop, 1, window.hwnd(), 0);
        guard.start(10000);
        loop.exec();
        EXPECT_TRUE(guard.isActive()) << "the scan never said it was done";
        scan.evCloseLoadThread();
        WORD code = 0;
        scan.GetLastError(&code);
        EXPECT_EQ(code, 0);
    }
    EXPECT_EQ(list.localList.dwCount, 5u);
    ASSERT_GE(window.messages.size(), 3u);
    EXPECT_EQ(window.messages[0].msg, EVMSG_PROGRESS_SETRANGE);
    EXPECT_EQ(window.messages[0].l, 20);
    EXPECT_EQ(window.messages[1].msg, EVMSG_PROGRESS_SETSTEP);
    EXPECT_EQ(window.messages[1].w, 1u);
    EXPECT_EQ(window.messages.back().msg, EVMSG_LIST_LOADED);
    CEventFile::evFree(&list.localList);

    // The owner thread waits for the scan without serving its window: the scan
    // must finish all the same, and a stopped scan says so.
    window.messages.clear();
    {
        EventStopFlag stopNow{true};
        CEventFile scan(&list, window.hwnd(), "", &stopNow, 1, window.hwnd(), 0);
        scan.evCloseLoadThread();
        WORD code = 0;
        scan.GetLastError(&code);
        EXPECT_EQ(code, EVERR_LOAD_STOPPED);
    }
    {
        CEventFile scan(&list, window.hwnd(), "", nullptr, 1, window.hwnd(), 0);
    }  // closing stops and joins the scan
    QCoreApplication::processEvents();
    EXPECT_EQ(window.messages.back().msg, EVMSG_LIST_LOADED);
    CEventFile::evFree(&list.localList);
}

TEST(EventLists, ListTimeConversionStopsAtTheFileEnd) {
    std::string root = useTestRoot();
    tagEventDirListCamera head = cameraList(EVENT_TYPE_AUTOMATIC, 0, 0);
    head.dwEventCount = 5;  // the file holds two
    tagEventHeader a = key(EVENT_TYPE_AUTOMATIC, 0, 0, 1);
    a.ftStartTime = FILETIME{0, 0};
    a.ftEndTime = FILETIME{60, 0};
    tagEventHeader b = a;
    b.ftStartTime = FILETIME{DWORD(-60), 0};  // a minute before 1970
    std::string path = root + "/old.hdr";
    writeBytes(path, listFile(head, {a, b}));
    CEventFile converter;
    EXPECT_EQ(converter.evEventFileHeaderListTimeConvert(path.c_str(), 1), 0);
    auto bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 576u + 2 * 86);
    tagEventHeader got{};
    std::memcpy(&got, bytes.data() + 576, 86);
    EXPECT_EQ(((ULONGLONG)got.ftStartTime.dwHighDateTime << 32) | got.ftStartTime.dwLowDateTime,
              116444736000000000ULL);
    EXPECT_EQ(((ULONGLONG)got.ftEndTime.dwHighDateTime << 32) | got.ftEndTime.dwLowDateTime,
              116444736000000000ULL + 600000000ULL);
    std::memcpy(&got, bytes.data() + 576 + 86, 86);
    EXPECT_EQ(((ULONGLONG)got.ftStartTime.dwHighDateTime << 32) | got.ftStartTime.dwLowDateTime,
              116444736000000000ULL - 600000000ULL);
    tagEventHeader back = got;
    ASSERT_EQ(converter.evEventHeaderTimeConvert(&back, 2), 1);
    EXPECT_EQ(LONG(back.ftStartTime.dwLowDateTime), -60);
    EXPECT_EQ(converter.evEventHeaderTimeConvert(&back, 3), 0);
}

// A list converted one way and back holds its seconds again; a direction that
// is neither leaves the file as it was.
TEST(EventLists, ListTimeConversionHonoursItsDirection) {
    std::string root = useTestRoot();
    tagEventDirListCamera head = cameraList(EVENT_TYPE_AUTOMATIC, 0, 0);
    head.dwEventCount = 1;
    tagEventHeader a = key(EVENT_TYPE_AUTOMATIC, 0, 0, 1);
    a.ftStartTime = FILETIME{1000, 0};
    a.ftEndTime = FILETIME{1060, 0};
    std::string path = root + "/round.hdr";
    writeBytes(path, listFile(head, {a}));
    auto original = readBytes(path);
    CEventFile converter;
    EXPECT_EQ(converter.evEventFileHeaderListTimeConvert(path.c_str(), 0), 0);
    EXPECT_EQ(converter.evEventFileHeaderListTimeConvert(path.c_str(), 3), 0);
    EXPECT_EQ(readBytes(path), original);
    ASSERT_EQ(converter.evEventFileHeaderListTimeConvert(path.c_str(), 1), 1);
    tagEventHeader got{};
    auto bytes = readBytes(path);
    std::memcpy(&got, bytes.data() + 576, 86);
    EXPECT_EQ(((ULONGLONG)got.ftStartTime.dwHighDateTime << 32) | got.ftStartTime.dwLowDateTime,
              116444736000000000ULL + 1000 * 10000000ULL);
    ASSERT_EQ(converter.evEventFileHeaderListTimeConvert(path.c_str(), 2), 1);
    bytes = readBytes(path);
    std::memcpy(&got, bytes.data() + 576, 86);
    EXPECT_EQ(+got.ftStartTime.dwLowDateTime, 1000u);
    EXPECT_EQ(+got.ftStartTime.dwHighDateTime, 0u);
    EXPECT_EQ(+got.ftEndTime.dwLowDateTime, 1060u);
    EXPECT_EQ(+got.dwChkSum, CEventFile().CalculateChkSum(reinterpret_cast<BYTE*>(&got), 82));
}

TEST(EventLists, DateFilterTakesWholeSecondsBetweenItsDates) {
    useTestRoot();
    const std::string product = "Velmoor" + gcsVlmInsID;
    CKcReg reg("Quennel", product.c_str(), "1.000.0", "Filter");
    DWORD type = 1;
    ASSERT_TRUE(reg.SetDword("Filter", "Filter Type", &type));
    ASSERT_TRUE(reg.SetString("Filter\\DateFilter", "From Date", "5/3/2024 10:20:30"));
    ASSERT_TRUE(reg.SetString("Filter\\DateFilter", "To Date", "5/3/2024 10:20:30"));
    CEventFile filter;
    ASSERT_EQ(filter.evFilterSet(), 1);
    SYSTEMTIME st{2024, 3, 0, 5, 10, 20, 30, 999};
    tagEventHeader h{};
    FILETIME ft{};
    ASSERT_TRUE(platform::systemTimeToFileTime(st, ft));
    h.ftStartTime = ft;
    EXPECT_EQ(filter.evFilter(&h), 1);  // milliseconds do not count
    st.wSecond = 31;
    platform::systemTimeToFileTime(st, ft);
    h.ftStartTime = ft;
    EXPECT_EQ(filter.evFilter(&h), 0);
    st.wSecond = 29;
    platform::systemTimeToFileTime(st, ft);
    h.ftStartTime = ft;
    EXPECT_EQ(filter.evFilter(&h), 0);

    type = 0;
    reg.SetDword("Filter", "Filter Type", &type);
    ASSERT_EQ(filter.evFilterSet(), 1);
    EXPECT_EQ(filter.evFilter(&h), 1);

    // A range whose dates do not read is reported and filters nothing.
    type = 1;
    reg.SetDword("Filter", "Filter Type", &type);
    reg.SetString("Filter\\DateFilter", "To Date", "31/2/2024 10:20:30");
    EXPECT_EQ(filter.evFilterSet(), 0);
    EXPECT_EQ(filter.evFilter(&h), 1);

    // The scan keeps the date of the oldest event.
    writeEvent(key(EVENT_TYPE_AUTOMATIC, 0, 0, 1), {Frame{10, false}});
    tagEventDirListCamera list = cameraList(EVENT_TYPE_AUTOMATIC, 0, 0);
    { CEventFile scan(&list, 0, "", nullptr, 0, 0, 0); }
    char text[64] = {};
    DWORD size = sizeof text;
    ASSERT_TRUE(reg.GetString("Filter\\DateFilter", "First Event Date", text, &size));
    SYSTEMTIME now = platform::currentLocalTime();
    EXPECT_NE(std::string(text).find("/" + std::to_string(now.wYear) + " "), std::string::npos) << text;
    CEventFile::evFree(&list.localList);
}

TEST(EventFolders, StationStorageComesFromTheStationsDirectory) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    platform::com::ensureServersRegistered();
    const std::string storage = (platform::homeFolder() / "disk").string();
    fs::create_directories(storage);
    {
        platform::RegistryKey key;
        ASSERT_EQ(platform::RegistryKey::create(platform::HKEY_CURRENT_USER,
                                                "Software\\Quennel\\Velmoor\\Common\\Storage",
                                                platform::KEY_ALL_ACCESS, key),
                  ERROR_SUCCESS);
        ASSERT_EQ(key.setValue("DefaultPath", platform::REG_SZ,
                               reinterpret_cast<const BYTE*>(storage.c_str()), DWORD(storage.size() + 1)),
                  ERROR_SUCCESS);
    }
    evSetEventsStorageRoot("");
    tagEventHeader h = key(EVENT_TYPE_MANUAL, 1, 2, 3);
    char out[MAX_PATH] = {};
    EXPECT_EQ(CEventFile::evMakePathName("{AB-1}", &h, out, sizeof out), 0);  // no directory yet
    {
        CStationsMgr manager;
        ASSERT_NE(manager.Get(), nullptr);
        stationsMgr = &manager;
        ASSERT_EQ(CEventFile::evMakePathName("{AB-1}", &h, out, sizeof out), 1);
        EXPECT_EQ(std::string(out),
                  storage + "/TriggersMoviesDB/{AB-1}/triggers/Adapter_1/Camera_2/Manual_Trigger");
        // A station name that could leave the tree never reaches the directory.
        EXPECT_EQ(CEventFile::evMakePathName("../x", &h, out, sizeof out), 0);
        stationsMgr = nullptr;
    }
    CoUninitialize();
}
