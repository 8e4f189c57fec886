#include "trennick/station/remote_requests.h"

#include "platform/folders.h"
#include "platform/message_window.h"
#include "tavicore/stills_devices.h"
#include "tavicore/testing/event_test_support.h"
#include "trennick/link/common_base.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace trennick;
using namespace eventtest;
namespace fs = std::filesystem;

constexpr char kStation[] = "North Site";

class FakeHost : public RemoteRequestsHost {
public:
    CPacketConnection* link() override { return nullptr; }
    std::string connectedStationName() override { return station; }
    void showMessage(UINT id, const std::string& argument) override { messages.push_back({id, argument}); }
    void showTimedMessage(UINT id) override { timed.push_back(id); }
    void postToFrame(UINT m, WPARAM w, LPARAM l) override { posted.push_back({m, w, l}); }
    bool eventToBeShown(const std::string&, const tagEventHeader&) override { return true; }
    void announceEvent(const tagEventHeader& h) override { announced.push_back(h); }
    void announceEventList(const tagEventDirListCamera&) override { ++listsAnnounced; }
    void kitNoEvents() override { ++kitNoEventsCalls; }
    void kitEventNotFound() override { ++kitNotFoundCalls; }
    void kitEventFiled(const std::string& path) override { filed.push_back(path); }
    void kitEventListReceived(const std::string& s, const tagEventDirListCamera&) override { listsFor.push_back(s); }
    bool settingsErrorReport(UINT, const BYTE* block, DWORD length) override {
        reports.emplace_back(reinterpret_cast<const char*>(block), length);
        return true;
    }

    struct Message {
        UINT id;
        std::string argument;
        bool operator==(const Message&) const = default;
    };
    struct Post {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        bool operator==(const Post&) const = default;
    };
    std::string station = kStation;
    std::vector<Message> messages;
    std::vector<UINT> timed;
    std::vector<Post> posted;
    std::vector<tagEventHeader> announced;
    int listsAnnounced = 0;
    int kitNoEventsCalls = 0;
    int kitNotFoundCalls = 0;
    std::vector<std::string> filed;
    std::vector<std::string> listsFor;
    std::vector<std::string> reports;
};

// An event written by this station, then copied where the link leaves a
// received file.
std::string receivedEvent(const std::string& root, const tagEventHeader& key, const std::vector<Frame>& frames,
                          const char* name = "Event_7.trg") {
    const std::string written = writeEvent(key, frames);
    fs::path received = fs::path(root).parent_path() / "received";
    fs::create_directories(received);
    received /= name;
    fs::copy_file(written, received, fs::copy_options::overwrite_existing);
    fs::remove(written);
    return received.string();
}

std::vector<std::string> filesUnder(const fs::path& folder) {
    std::vector<std::string> out;
    if (!fs::exists(folder)) return out;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) out.push_back(entry.path().string());
    }
    return out;
}

void patch(const std::string& path, std::size_t offset, const void* bytes, std::size_t length) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(length));
}

// Rewrites the header with a change and a fresh checksum.
void resealHeader(const std::string& path, void (*change)(tagEventHeader&)) {
    tagEventHeader h{};
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(&h), sizeof h);
    in.close();
    change(h);
    h.dwChkSum = CEventFile().CalculateChkSum(reinterpret_cast<const BYTE*>(&h), 82);
    patch(path, 0, &h, sizeof h);
}

tagEventDirListCamera cameraList(DWORD type, WORD adapter, WORD camera) {
    tagEventDirListCamera list{};
    list.dwType = type;
    list.wAdapter = adapter;
    list.wCamera = camera;
    return list;
}

TEST(RemoteRequests, ReceivedEventLandsInTheStationsFolderAndIsListed) {
    const std::string root = useTestRoot();
    FakeHost host;
    CRemoteRequests requests(host);
    const std::string received =
        receivedEvent(root, key(EVENT_TYPE_AUTOMATIC, 1, 2, 3), {Frame{100, false}, Frame{200, false}, Frame{50, false}});

    requests.FileReceivedEvent(received);
    ASSERT_EQ(host.filed.size(), 1u);
    const fs::path folder =
        fs::path(root) / "TriggersMoviesDB" / kStation / "triggers" / "Adapter_1" / "Camera_2" / "Automatic_Trigger";
    EXPECT_EQ(fs::path(host.filed[0]).parent_path(), folder);
    EXPECT_TRUE(fs::exists(host.filed[0]));
    EXPECT_FALSE(fs::exists(received));  // the received copy goes once filed
    EXPECT_TRUE(host.posted.empty());
    ASSERT_EQ(host.announced.size(), 1u);
    EXPECT_EQ(host.announced[0].wCamera, 2);
    // The filed copy reads back whole.
    EXPECT_EQ(readSerials(host.filed[0], 3), (std::vector<long long>{0, 1, 2}));

    // The station's folder scan lists it; this station's own folder does not.
    tagEventDirListCamera list = cameraList(EVENT_TYPE_AUTOMATIC, 1, 2);
    CEventFile scan(&list, 0, kStation, nullptr, 0, 0, 0);
    EXPECT_EQ(list.localList.dwCount, 1u);
    CEventFile::evFree(&list.localList);
    tagEventDirListCamera own = cameraList(EVENT_TYPE_AUTOMATIC, 1, 2);
    CEventFile ownScan(&own, 0, "", nullptr, 0, 0, 0);
    EXPECT_EQ(own.localList.dwCount, 0u);
    CEventFile::evFree(&own.localList);
}

TEST(RemoteRequests, DamagedEventIsRejectedAndNothingIsFiled) {
    struct Case {
        const char* name;
        void (*damage)(const std::string& path);
    };
    const Case cases[] = {
        {"header byte flipped",
         [](const std::string& p) {
             BYTE b = 0x5A;
             patch(p, 20, &b, 1);
         }},
        {"cut inside the last snapshot", [](const std::string& p) { fs::resize_file(p, fs::file_size(p) - 10); }},
        {"cut to half a header", [](const std::string& p) { fs::resize_file(p, 40); }},
        {"empty", [](const std::string& p) { fs::resize_file(p, 0); }},
        {"snapshot header flipped",
         [](const std::string& p) {
             BYTE b = 0x77;
             patch(p, kEventHeaderSize + 10, &b, 1);
         }},
        {"second snapshot header flipped",
         [](const std::string& p) {
             BYTE b = 0x77;
             patch(p, kEventHeaderSize + kEventSnapshotHeaderSize + 100 + 12, &b, 1);
         }},
        {"adapter out of range", [](const std::string& p) { resealHeader(p, [](tagEventHeader& h) { h.wAdapter = 9; }); }},
        {"camera out of range", [](const std::string& p) { resealHeader(p, [](tagEventHeader& h) { h.wCamera = 16; }); }},
        {"kind without a folder", [](const std::string& p) { resealHeader(p, [](tagEventHeader& h) { h.dwType = 3; }); }},
        {"never closed", [](const std::string& p) { resealHeader(p, [](tagEventHeader& h) { h.wState = 1; }); }},
        {"more snapshots claimed than fit",
         [](const std::string& p) { resealHeader(p, [](tagEventHeader& h) { h.dwSnapShotNum = 1000; }); }},
        {"missing", [](const std::string& p) { fs::remove(p); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string root = useTestRoot();
        FakeHost host;
        CRemoteRequests requests(host);
        const std::string received =
            receivedEvent(root, key(EVENT_TYPE_MANUAL, 0, 3, 1), {Frame{100, false}, Frame{120, false}});
        c.damage(received);
        requests.FileReceivedEvent(received);
        EXPECT_TRUE(host.filed.empty());
        EXPECT_TRUE(filesUnder(fs::path(root) / "TriggersMoviesDB").empty());
        EXPECT_EQ(host.posted, (std::vector<FakeHost::Post>{{kMsgEventFilingFailed, 0, 1}}));
        EXPECT_TRUE(host.announced.empty());
        fs::remove_all(fs::path(root).parent_path() / "received");
    }
}

TEST(RemoteRequests, EventWithoutAConnectedStationIsNotFiled) {
    const std::string root = useTestRoot();
    FakeHost host;
    host.station.clear();
    CRemoteRequests requests(host);
    const std::string received = receivedEvent(root, key(EVENT_TYPE_AUTOMATIC, 0, 0, 1), {Frame{10, false}});
    std::string newPath = "unchanged";
    tagEventHeader header{};
    EXPECT_FALSE(requests.DispatchEventToFolder(received, newPath, header));
    EXPECT_TRUE(newPath.empty());
    EXPECT_TRUE(filesUnder(fs::path(root) / "TriggersMoviesDB").empty());
}

TEST(RemoteRequests, ReceivedEventListIsFiledForTheConnectedStationOnly) {
    const std::string root = useTestRoot();
    for (DWORD n : {1u, 2u}) {
        writeEvent(key(EVENT_TYPE_MANUAL, 2, 4, n), {Frame{10, false}});
    }
    tagEventDirListCamera local = cameraList(EVENT_TYPE_MANUAL, 2, 4);
    { CEventFile scan(&local, 0, "", nullptr, 0, 0, 1); }
    CEventFile::evFree(&local.localList);
    const auto bytes = readBytes(local.szListFile);
    ASSERT_EQ(bytes.size(), 576u + 2 * 86);
    const fs::path received = fs::path(root).parent_path() / "received";
    fs::create_directories(received);

    FakeHost host;
    CRemoteRequests requests(host);
    std::ofstream(received / "list.hdr", std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                                 static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(requests.FileReceivedEventList((received / "list.hdr").string()));
    EXPECT_EQ(host.listsFor, std::vector<std::string>{kStation});
    EXPECT_EQ(host.listsAnnounced, 1);
    tagEventDirListCamera remote = cameraList(EVENT_TYPE_MANUAL, 2, 4);
    std::strcpy(remote.szStation, kStation);
    CEventFile loader;
    ASSERT_EQ(loader.evLoadEventsHeadersFromFile(&remote), 1);
    EXPECT_EQ(remote.remoteList.dwCount, 2u);
    CEventFile::evFree(&remote.remoteList);

    // A list whose head names another station is not filed anywhere.
    std::vector<BYTE> other = bytes;
    std::memcpy(other.data() + 20, "Elsewhere", 10);
    std::ofstream(received / "other.hdr", std::ios::binary).write(reinterpret_cast<const char*>(other.data()),
                                                                  static_cast<std::streamsize>(other.size()));
    EXPECT_FALSE(requests.FileReceivedEventList((received / "other.hdr").string()));
    EXPECT_FALSE(fs::exists(fs::path(root) / "TriggersMoviesDB" / "Elsewhere"));
    EXPECT_EQ(host.listsAnnounced, 1);
}

TEST(RemoteRequests, RefusalsTellTheUserAndTheKit) {
    struct Case {
        WPARAM token;
        std::vector<UINT> messages;
        std::vector<UINT> timed;
        int kitNoEvents;
        int kitNotFound;
    };
    const Case cases[] = {
        {61, {65090}, {}, 0, 0}, {62, {65090}, {}, 0, 0}, {69, {65090}, {}, 0, 0}, {74, {5410}, {}, 0, 0},
        {75, {5390}, {}, 1, 0},  {87, {}, {5400}, 0, 1},  {32891, {}, {5460}, 0, 0}, {12, {}, {}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.token);
        FakeHost host;
        CRemoteRequests requests(host);
        LRESULT result = -1;
        ASSERT_TRUE(requests.Handle(0x8018, c.token, 0, result));
        std::vector<UINT> ids;
        for (const auto& m : host.messages) ids.push_back(m.id);
        EXPECT_EQ(ids, c.messages);
        EXPECT_EQ(host.timed, c.timed);
        EXPECT_EQ(host.kitNoEventsCalls, c.kitNoEvents);
        EXPECT_EQ(host.kitNotFoundCalls, c.kitNotFound);
    }
}

// Hands a message to Handle as the window layer delivers one posted with data.
template <class T>
bool handleWithData(CRemoteRequests& requests, UINT message, WPARAM wParam, std::unique_ptr<T> value,
                    LRESULT& result) {
    platform::PostedBlock<T> block(std::move(value));
    platform::PostedDataScope scope(&block);
    return requests.Handle(message, wParam, scope.lParam(), result);
}

TEST(RemoteRequests, DataThatComesWithMessagesIsTakenWhetherServedOrNot) {
    FakeHost host;
    CRemoteRequests requests(host);
    LRESULT result = 0;
    // Without a connection, a request for the connected station's events is
    // refused with the message (the leak check of the sanitizer build reports
    // any data left behind).
    auto record = std::make_unique<EventListRequestBlock>();
    record->fill(0);
    std::memcpy(record->data() + 20, kStation, sizeof kStation);
    ASSERT_TRUE(handleWithData(requests, kMsgRequestEventList, 0, std::move(record), result));
    auto request = std::make_unique<EventFileRequest>();
    request->station = "Elsewhere";
    ASSERT_TRUE(handleWithData(requests, kMsgRequestEvent, 0, std::move(request), result));
    EXPECT_EQ(host.messages, (std::vector<FakeHost::Message>{{5370, ""}, {5370, ""}}));

    ASSERT_TRUE(handleWithData(requests, kMsgSettingsErrorReport, 5,
                               std::make_unique<SettingsReport>(SettingsReport{'o', 'o', 'p', 's', '!'}), result));
    EXPECT_EQ(host.reports, std::vector<std::string>{"oops!"});
    // Without a link the peer's list request is only taken.
    ASSERT_TRUE(handleWithData(requests, kMsgPeerEventListRequest, 0, std::make_unique<EventListRequestBlock>(),
                               result));
    ASSERT_TRUE(handleWithData(requests, kMsgCmdToDispatch, 1, std::make_unique<std::string>("<Command>"), result));
    // A message that names no data (a plain number, data of another type) is
    // handled without touching memory it does not own.
    ASSERT_TRUE(requests.Handle(kMsgSettingsErrorReport, 5, 0x1234, result));
    ASSERT_TRUE(handleWithData(requests, kMsgSettingsErrorReport, 5, std::make_unique<std::string>("oops!"), result));
    EXPECT_EQ(host.reports, std::vector<std::string>{"oops!"});
    EXPECT_FALSE(requests.Handle(0x8051, 0, 0, result));
}

TEST(RemoteRequests, FirstSnapshotIsExpandedIntoAPictureBesideTheEvent) {
    const std::string root = useTestRoot();
    const fs::path folder = fs::path(root).parent_path() / "cards";
    fs::create_directories(folder);

    // A bitmap snapshot: its data is a bitmap information header and pixels.
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = 2;
    info.biHeight = 2;
    info.biPlanes = 1;
    info.biBitCount = 24;
    std::vector<BYTE> dib(sizeof info + 16, 0x33);
    std::memcpy(dib.data(), &info, sizeof info);
    // A JPEG snapshot: "JPEG" at 16, the stream's length at 20, the stream from 40.
    std::vector<BYTE> jpeg(40 + 6, 0);
    std::memcpy(jpeg.data() + 16, "JPEG", 4);
    const DWORD streamBytes = 6;
    std::memcpy(jpeg.data() + 20, &streamBytes, 4);
    std::memcpy(jpeg.data() + 40, "\xFF\xD8stre", 6);
    std::vector<BYTE> lying = jpeg;
    const DWORD tooLong = 7;
    std::memcpy(lying.data() + 20, &tooLong, 4);

    struct Case {
        const char* eventName;
        std::vector<BYTE> data;
        const char* picture;  // null: refused
    };
    const Case cases[] = {
        {"Event_1.trg", dib, "QbSnap.BMP"},
        {"HDEvent.trg", jpeg, "HDSnap.JPG"},
        {"hdevent.trg", dib, "HDSnap.BMP"},
        {"Event_2.trg", lying, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.eventName);
        tagEventHeader header = key(EVENT_TYPE_AUTOMATIC, 0, 1, 1);
        CEventFile file(1, &header, static_cast<char*>(nullptr), "");
        tagEventSnapshot snap{};
        std::memcpy(snap.chMagic, "NVID", 4);
        snap.dwSize = DWORD(c.data.size());
        std::vector<BYTE> data = c.data;
        ASSERT_EQ(file.AddSnapShot(&snap, nullptr, data.data(), 0), 1);
        char written[MAX_PATH] = {};
        file.evGetFileName(written, sizeof written);
        file.CloseEvent(1);
        const fs::path event = folder / c.eventName;
        fs::rename(written, event);

        FakeHost host;
        CRemoteRequests requests(host);
        BOOL isVideo = FALSE;
        const BOOL ok = requests.ExpandTheEventRecieved(event.string(), &isVideo);
        EXPECT_TRUE(isVideo);
        if (c.picture == nullptr) {
            EXPECT_FALSE(ok);
            continue;
        }
        ASSERT_TRUE(ok);
        EXPECT_EQ(requests.ReceivedFilePath(), (folder / c.picture).string());
        const auto bytes = readBytes(requests.ReceivedFilePath());
        if (c.data == jpeg) {
            EXPECT_EQ(bytes, std::vector<BYTE>(jpeg.begin() + 40, jpeg.end()));
        } else {
            ASSERT_EQ(bytes.size(), 14 + dib.size());
            BITMAPFILEHEADER fileHeader{};
            std::memcpy(&fileHeader, bytes.data(), 14);
            EXPECT_EQ(+fileHeader.bfType, 0x4D42);
            EXPECT_EQ(+fileHeader.bfSize, 14 + dib.size());
            EXPECT_EQ(+fileHeader.bfOffBits, 54u);
            EXPECT_TRUE(std::equal(dib.begin(), dib.end(), bytes.begin() + 14));
        }
        fs::remove(requests.ReceivedFilePath());
    }
}

TEST(RemoteRequests, JpegStillBecomesABitmapFileWithPaddedRows) {
    CStillsDevices stills;
    const tagSTILLCODEC kind = STILLCODEC_JPEG;
    if (stills.InitDevices(&kind, 1) != STILLS_NO_ERROR) {
        GTEST_SKIP() << "the stills library is not built beside the tests";
    }
    // A 5 x 3 picture: rows of 15 bytes, 16 in a bitmap file.
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = 5;
    info.biHeight = 3;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = 100000;  // the codec's room for the stream
    std::vector<BYTE> source(sizeof info + 16 * 3, 0x80);
    std::memcpy(source.data(), &info, sizeof info);
    std::vector<BYTE> compressed(sizeof info + 100000);
    ASSERT_EQ(stills[STILLCODEC_JPEG]->Compress(reinterpret_cast<BITMAPINFOHEADER*>(source.data()),
                                                 reinterpret_cast<BITMAPINFOHEADER*>(compressed.data()), 90),
              STILLS_NO_ERROR);
    BITMAPINFOHEADER out{};
    std::memcpy(&out, compressed.data(), sizeof out);
    const fs::path folder = platform::homeFolder() / "card";
    fs::create_directories(folder);
    {
        std::ofstream jpg(folder / "QbSnap.jpg", std::ios::binary);
        jpg.write(reinterpret_cast<const char*>(compressed.data() + sizeof out), out.biSizeImage);
    }
    FakeHost host;
    CRemoteRequests requests(host);
    ASSERT_TRUE(requests.JpegFileToDIBFile((folder / "QbSnap.jpg").string(), (folder / "QbSnap.BMP").string()));
    const auto bytes = readBytes((folder / "QbSnap.BMP").string());
    ASSERT_EQ(bytes.size(), 14u + 40u + 16u * 3u);
    BITMAPINFOHEADER written{};
    std::memcpy(&written, bytes.data() + 14, sizeof written);
    EXPECT_EQ(+written.biWidth, 5);
    EXPECT_EQ(std::abs(+written.biHeight), 3);
    EXPECT_EQ(+written.biBitCount, 24);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    // A grey picture stays grey through the codec, and the padding is zero.
    EXPECT_NEAR(bytes[54], 0x80, 8);
    EXPECT_EQ(bytes[54 + 15], 0);

    EXPECT_FALSE(requests.JpegFileToDIBFile((folder / "missing.jpg").string(), (folder / "x.BMP").string()));
}

}  // namespace
