// The recorder: each camera's pictures go into that camera's own event file
// (its pending picture at a switch and the last picture of a recording
// included), single view closes a camera's file when the input changes, split
// view keeps one file per camera of the cycle and moves on only once the new
// camera was shown, slots outside the table and files that cannot be opened
// switch recording off once.

#include "common/kc_reg.h"
#include "tavicore/product_key.h"
#include "tavicore/testing/event_test_support.h"
#include "trennick/link/link_host.h"
#include "trennick/record/remote_quad.h"
#include "trennick/record/testing/split_view_settings.h"
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
using eventtest::headerOf;
using eventtest::playBack;

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
    void snapshotWritten() override { ++snapshots; }
    void selectVideoInput(WORD, WORD camera, WORD) override { selected.push_back(camera); }

    WORD status = 0;
    int writes = 0;
    int writeFailures = 0;
    int snapshots = 0;
    std::vector<WORD> selected;
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

class VideoRecorderTest : public ::testing::Test {
protected:
    void SetUp() override { eventtest::useTestRoot(); }
    void TearDown() override { evSetEventsStorageRoot(""); }
    Host host;
};

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
    splittest::StoreSplitViewOfCameras(4);
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
    // Each switch wrote the previous camera's picture: all but the last.
    EXPECT_EQ(host.snapshots, 9);
    host.status = 0;
    mgr.CloseAllEventFiles();
    EXPECT_EQ(host.snapshots, 10);
    ASSERT_EQ(host.closed.size(), 4u);
    for (int camera = 0; camera < 4; ++camera) {
        SCOPED_TRACE(camera);
        const std::string& path = host.closed[std::size_t(camera)];
        EXPECT_EQ(WORD{headerOf(path).wCamera}, camera);
        EXPECT_EQ(playBack(path), sent[camera]);
    }
}

TEST_F(VideoRecorderTest, APendingPictureGoesIntoItsOwnCamerasFileAtASwitch) {
    CVideoRecorder mgr(host);
    mgr.Attach(nullptr);
    mgr.SetStreamVersion(2);
    host.status = 1;
    // Camera 0 sends one picture in two pieces; the site has no signal on it
    // (kind 10), so its snapshot carries the no-video mark.
    const Bytes head = picture(0, 0, true, 200);
    const Bytes tail(120, 0x33);
    mgr.SetCurrentVideoInput(0);
    give(mgr, frame(head, 0, 10));
    EXPECT_EQ(mgr.PendingLength(), 200u);
    // The same camera made current again (the cycle's time-out) keeps the
    // picture pending: more of its pieces may follow.
    mgr.SetCurrentVideoInput(0);
    EXPECT_EQ(mgr.PendingLength(), 200u);
    give(mgr, frame(tail, 0, 10));
    EXPECT_EQ(mgr.PendingLength(), 320u);
    EXPECT_EQ(host.snapshots, 0);
    const std::string camera0 = mgr.OpenFileName(0, 0);
    ASSERT_FALSE(camera0.empty());

    // Camera 1 becomes current: camera 0's picture is whole and goes into
    // camera 0's file at once.
    mgr.SetCurrentVideoInput(1);
    EXPECT_EQ(host.snapshots, 1);
    EXPECT_EQ(mgr.PendingLength(), 0u);
    const Bytes p1 = picture(1, 0, true, 90);
    give(mgr, frame(p1, 1));
    host.status = 0;
    mgr.CloseAllEventFiles();
    EXPECT_EQ(host.snapshots, 2);

    Bytes whole = head;
    whole.insert(whole.end(), tail.begin(), tail.end());
    EXPECT_EQ(playBack(camera0), std::vector<Bytes>{whole});
    ASSERT_EQ(host.closed.size(), 2u);
    EXPECT_EQ(playBack(host.closed[1]), std::vector<Bytes>{p1});
    CEventFile file(9, nullptr, const_cast<char*>(camera0.c_str()), nullptr);
    tagEventSnapshot snapshot{};
    ASSERT_TRUE(file.ReadSnapShotHeader(&snapshot));
    EXPECT_EQ(std::string(snapshot.chMagic, 4), "NVID");

    // A block-transform stream has nothing pending: every frame is written whole.
    CVideoRecorder v1(host);
    v1.Attach(nullptr);
    host.status = 1;
    Bytes key(30, 7);
    key[6] = 0x1F;
    give(v1, frame(key, 0));
    EXPECT_EQ(v1.PendingLength(), 0u);
    EXPECT_FALSE(v1.WritePendingFrame());
}

TEST_F(VideoRecorderTest, TheSplitCycleMovesOnOnlyOnceTheNewCameraWasShown) {
    splittest::StoreSplitViewOfCameras(4);
    struct Case {
        std::vector<BOOL> shown;  // the video window's result for each frame of camera 1
        std::vector<WORD> selected;
    };
    const Case cases[] = {
        {{FALSE}, {}},           // nothing decoded yet: the cycle waits
        {{FALSE, FALSE}, {}},
        {{FALSE, TRUE}, {2}},    // the first picture of camera 1 lets it move on
        {{TRUE}, {2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown.size());
        Host h;
        CVideoRecorder mgr(h);
        mgr.Attach(nullptr);
        ASSERT_TRUE(mgr.IsSplitOrAutoSwitchMode());
        mgr.SetCurrentVideoInput(1);
        EXPECT_TRUE(mgr.InputChanged());
        h.clock += 2000;  // the split delay has passed, the 5 s time-out not
        for (BOOL shown : c.shown) {
            give(mgr, frame(picture(1, 0, true), 1));
            mgr.OnFrameHandled(shown);
        }
        EXPECT_EQ(h.selected, c.selected);
        EXPECT_EQ(mgr.InputChanged(), c.selected.empty());
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
