// The recorder: each camera's pictures
// go into that camera's own event file (the last picture of a recording
// included), single view closes a camera's file when the input changes, split
// view keeps one file per camera of the cycle, slots outside the table and
// files that cannot be opened switch recording off once.

#include "common/kc_reg.h"
#include "tavicore/event_file.h"
#include "tavicore/frame_rtv.h"
#include "tavicore/product_key.h"
#include "tavicore/testing/event_test_support.h"
#include "trennick/link/link_host.h"
#include "trennick/record/remote_quad.h"
#include "trennick/record/picture_builder.h"
#include "trennick/record/video_recorder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace trennick;
using Bytes = std::vector<BYTE>;

struct Post {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class Host : public VideoRecorderHost {
public:
    WORD recordingStatusWord() override { return status; }
    void setRecordingValues(BOOL ok, BOOL, WORD) override { ok ? ++writes : ++writeFailures; }
    void postToMainWindow(UINT m, WPARAM w, LPARAM l) override { posts.push_back({m, w, l}); }
    std::string storageStation() override { return "Site"; }
    void recordFileOpened(const std::string& name) override { opened.push_back(name); }
    void recordFileClosed(const std::string& name) override { closed.push_back(name); }
    void receivedPictureSize(DWORD& w, DWORD& h) override {
        w = 176;
        h = 144;
    }
    DWORD nowMs() override { return clock; }

    WORD status = 0;
    int writes = 0;
    int writeFailures = 0;
    DWORD clock = 1000;
    std::vector<Post> posts;
    std::vector<std::string> opened;
    std::vector<std::string> closed;
};

// An H.263 picture of `size` bytes: its start code, the intra bit of byte 4
// clear for a key picture, then bytes that say which camera and picture it is.
Bytes picture(int camera, int index, bool key, std::size_t size = 300) {
    Bytes p(size);
    for (std::size_t i = 0; i < size; ++i) p[i] = BYTE(camera * 41 + index * 7 + i);
    p[0] = 0;
    p[1] = 0;
    p[2] = 0x80;
    p[3] = BYTE(camera);
    p[4] = key ? 0x00 : 0x02;
    p[5] = BYTE(index);
    return p;
}

// A frame as the video manager hands it on.
struct Frame {
    Bytes data;
    DWORD camera;
    DWORD kind;
};
Frame frame(const Bytes& data, int camera, DWORD kind = 4) { return Frame{data, DWORD(camera), kind}; }

BOOL give(CVideoRecorder& recorder, const Frame& f) {
    return recorder.OnVideoFrame(f.data.data(), DWORD(f.data.size()), f.camera, f.kind);
}

// Every snapshot of an event file, played back frame by frame.
std::vector<Bytes> playBack(const std::string& path) {
    std::vector<Bytes> frames;
    CFrmRtvZO rtv(path.c_str());
    if (rtv.rtvOpenEvent() != 1) return frames;
    for (BYTE* f = rtv.rtvGetFirstFrame(); f != nullptr && frames.size() < rtv.rtvGetSnapshotNumber();
         f = rtv.rtvGetNextFrame()) {
        frames.emplace_back(f, f + rtv.rtvGetImageSize());
    }
    return frames;
}

tagEventHeader headerOf(const std::string& path) {
    tagEventHeader h{};
    CEventFile file(9, nullptr, const_cast<char*>(path.c_str()), nullptr);
    file.GetEventHeader(&h);
    return h;
}

class VideoRecorderTest : public ::testing::Test {
protected:
    void SetUp() override { eventtest::useTestRoot(); }
    void TearDown() override { evSetEventsStorageRoot(""); }
    Host host;
};

TEST(PictureBuilder, HandsOnAPictureWhenTheNextBeginsAndKeepsTheBufferBound) {
    PictureBuilder builder;
    const Bytes first = picture(0, 0, true, 100);
    EXPECT_FALSE(builder.BuildFrame(first.data(), DWORD(first.size())));  // nothing before it
    const Bytes tail(50, 0x55);
    EXPECT_FALSE(builder.BuildFrame(tail.data(), DWORD(tail.size())));
    const Bytes second = picture(0, 1, false, 80);
    ASSERT_TRUE(builder.BuildFrame(second.data(), DWORD(second.size())));
    ASSERT_EQ(builder.FrameSize(), 150u);
    EXPECT_EQ(Bytes(builder.Frame(), builder.Frame() + 100), first);
    // The last picture comes out on Flush.
    ASSERT_TRUE(builder.Flush());
    EXPECT_EQ(Bytes(builder.Frame(), builder.Frame() + builder.FrameSize()), second);
    EXPECT_FALSE(builder.Flush());

    // Exactly 65,536 bytes stay whole; one byte more loses the picture.
    const Bytes start = picture(0, 2, true, 65536 - 1000);
    const Bytes rest(1000, 1);
    EXPECT_FALSE(builder.BuildFrame(start.data(), DWORD(start.size())));
    EXPECT_FALSE(builder.BuildFrame(rest.data(), DWORD(rest.size())));
    EXPECT_EQ(builder.Collected(), 65536u);
    const BYTE one = 1;
    EXPECT_FALSE(builder.BuildFrame(&one, 1));
    EXPECT_EQ(builder.Collected(), 0u);
    const Bytes huge = picture(0, 3, true, 65537);
    EXPECT_FALSE(builder.BuildFrame(huge.data(), DWORD(huge.size())));
    EXPECT_EQ(builder.Collected(), 0u);
}

TEST_F(VideoRecorderTest, SingleViewClosesACamerasFileWhenTheInputChangesWithItsLastPicture) {
    CVideoRecorder mgr(host);
    mgr.Attach(nullptr);
    mgr.SetStreamVersion(2);
    host.status = 1;
    std::map<int, std::vector<Bytes>> sent;
    for (int i = 0; i < 4; ++i) {
        sent[2].push_back(picture(2, i, i == 0));
        give(mgr, frame(sent[2].back(), 2));
    }
    ASSERT_EQ(host.opened.size(), 1u);
    const std::string camera2 = host.opened[0];
    for (int i = 0; i < 3; ++i) {
        sent[3].push_back(picture(3, i, i == 0));
        give(mgr, frame(sent[3].back(), 3));
    }
    // The camera-2 file was closed (told to the kit), a camera-3 file opened.
    ASSERT_EQ(host.closed, std::vector<std::string>{camera2});
    ASSERT_EQ(host.opened.size(), 2u);
    const std::string camera3 = host.opened[1];
    EXPECT_NE(camera2, camera3);
    EXPECT_EQ(mgr.OpenFileName(0, 3), camera3);
    EXPECT_EQ(playBack(camera2), sent[2]);

    // Stopping writes camera 3's last picture and closes its file.
    host.status = 0;
    mgr.CloseAllEventFiles();
    EXPECT_EQ(host.closed.size(), 2u);
    EXPECT_FALSE(mgr.HasEventFiles());
    EXPECT_EQ(playBack(camera3), sent[3]);
    const tagEventHeader h = headerOf(camera3);
    EXPECT_EQ(DWORD{h.dwType}, EVENT_TYPE_MOVIE_256);
    EXPECT_EQ(WORD{h.wCamera}, 3);
    EXPECT_EQ(DWORD{h.dwWidth}, 176u);
    EXPECT_TRUE(host.posts.empty());
}

TEST_F(VideoRecorderTest, ASecondRecordingOfACameraGoesIntoANewFile) {
    CVideoRecorder mgr(host);
    mgr.Attach(nullptr);
    std::vector<std::string> files;
    for (int recording = 0; recording < 2; ++recording) {
        host.status = 1;
        Bytes key(40, BYTE(recording));
        key[6] = 0x1F;
        give(mgr, frame(key, 1));
        Bytes next(30, BYTE(recording + 10));
        give(mgr, frame(next, 1));
        host.status = 0;
        mgr.CloseAllEventFiles();
        ASSERT_EQ(host.closed.size(), std::size_t(recording + 1));
        files.push_back(host.closed.back());
        ASSERT_EQ(playBack(files.back()).size(), 2u);
        EXPECT_EQ(playBack(files.back())[1], next);
        EXPECT_EQ(DWORD{headerOf(files.back()).dwType}, EVENT_TYPE_MOVIE);
    }
    EXPECT_NE(files[0], files[1]);
    EXPECT_TRUE(std::filesystem::exists(files[0]));
}

TEST_F(VideoRecorderTest, SplitViewRecordsEachCameraIntoItsOwnFile) {
    {
        CKcReg reg = ProductKey("RemoteQuad");
        reg.SetSection("RemoteQuad\\Adapters\\0");
        reg.SetValueName("IsSplitOrAutoSwitchMode");
        reg.Write(DWORD{1});
        for (int c = 0; c < 4; ++c) {
            reg.SetSection(("RemoteQuad\\Adapters\\0\\Cameras\\" + std::to_string(c)).c_str());
            reg.SetValueName("IsCameraInCycle");
            reg.Write(DWORD{1});
        }
    }
    CVideoRecorder mgr(host);
    mgr.Attach(nullptr);
    ASSERT_TRUE(mgr.IsSplitOrAutoSwitchMode());
    EXPECT_TRUE(mgr.HasSeveralInputs());
    mgr.SetStreamVersion(2);
    host.status = 1;
    // The cycle 0, 1, 2, 3, 0, 1, ... with one picture per turn: each picture
    // of a camera completes only when that camera's next one begins.
    std::map<int, std::vector<Bytes>> sent;
    for (int turn = 0; turn < 10; ++turn) {
        const int camera = turn % 4;
        const Bytes p = picture(camera, turn, turn < 4);
        sent[camera].push_back(p);
        mgr.SetCurrentVideoInput(WORD(camera));
        give(mgr, frame(p, camera));
    }
    ASSERT_EQ(host.opened.size(), 4u);
    EXPECT_TRUE(host.closed.empty());
    host.status = 0;
    mgr.CloseAllEventFiles();
    ASSERT_EQ(host.closed.size(), 4u);
    for (int camera = 0; camera < 4; ++camera) {
        SCOPED_TRACE(camera);
        const std::string& path = host.closed[std::size_t(camera)];
        EXPECT_EQ(WORD{headerOf(path).wCamera}, camera);
        EXPECT_EQ(playBack(path), sent[camera]);
    }
}

TEST_F(VideoRecorderTest, AFrameOutsideTheTableSwitchesRecordingOffOnce) {
    CVideoRecorder mgr(host);
    mgr.Attach(nullptr);
    Bytes key(20, 1);
    key[6] = 0x1F;
    give(mgr, frame(key, 0));
    host.status = 1;
    for (int i = 0; i < 5; ++i) {
        // Camera 18 and above have no slot.
        EXPECT_FALSE(give(mgr, frame(Bytes(20, 2), 18 + i)));
    }
    EXPECT_TRUE(host.opened.empty());
    ASSERT_EQ(host.posts.size(), 2u);
    EXPECT_EQ(host.posts[0].message, kMsgTokenRefused);
    EXPECT_EQ(host.posts[0].wParam, kCmdRecordStart);
    EXPECT_EQ(host.posts[1].message, kMsgCommand);
    EXPECT_EQ(host.posts[1].wParam, kCmdRecordFinish);

    // A new recording is a new episode: a good camera records again.
    mgr.CloseAllEventFiles();
    give(mgr, frame(Bytes(20, 3), 5));
    EXPECT_EQ(host.opened.size(), 1u);
    EXPECT_EQ(host.posts.size(), 2u);
}

TEST_F(VideoRecorderTest, AFileThatCannotBeOpenedIsReportedOnce) {
    // No events storage: no file can be made.
    evSetEventsStorageRoot("");
    CVideoRecorder mgr(host);
    mgr.Attach(nullptr);
    Bytes key(20, 1);
    key[6] = 0x1F;
    host.status = 1;
    for (int i = 0; i < 4; ++i) give(mgr, frame(key, 0));
    EXPECT_TRUE(host.opened.empty());
    EXPECT_EQ(host.posts.size(), 2u);
}

}  // namespace
