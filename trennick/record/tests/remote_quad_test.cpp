// The split view's cycle: at least two cameras take part (and are kept),
// the panes and their fillers follow the number of cameras in the cycle,
// the layout runs serpentine, and the next camera wraps around the cycle.

#include "common/kc_reg.h"
#include "tavicore/product_key.h"
#include "trennick/record/remote_quad.h"
#include "trennick/record/testing/split_view_settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace trennick;

using splittest::CameraSection;

void flag(const std::vector<int>& cameras) {
    for (int c : cameras) {
        CKcReg reg = ProductKey("RemoteQuad");
        reg.SetSection(CameraSection(c).c_str());
        reg.SetValueName("IsCameraInCycle");
        reg.Write(DWORD{1});
    }
}

TEST(RemoteQuad, AnAdapterWithoutACycleGetsTwoCamerasAndKeepsThem) {
    {
        CRemoteQuad quad(nullptr);
        EXPECT_EQ(quad.rqCountCamerasInCycle(), 2);
        EXPECT_EQ(quad.rqGetPaneCount(), 2);
        EXPECT_FALSE(quad.rqIsSplitOrAutoSwitchMode());  // the mode is off
        EXPECT_EQ(quad.rqGetNextCamera(), 1);
    }
    EXPECT_EQ(ProductDwordBack(CameraSection(0).c_str(), "IsCameraInCycle", 0), 1u);
    EXPECT_EQ(ProductDwordBack(CameraSection(1).c_str(), "IsCameraInCycle", 0), 1u);
    EXPECT_EQ(ProductDwordBack(CameraSection(2).c_str(), "IsCameraInCycle", 0), 0u);
}

TEST(RemoteQuad, PanesAndFillersFollowTheCycle) {
    struct Case {
        std::vector<int> cameras;
        int panes;
        std::vector<int> fillers;
    };
    const Case cases[] = {
        {{0, 1, 2}, 4, {3}},
        {{0, 1, 2, 3}, 4, {}},
        {{1, 3, 5, 7, 9}, 6, {4}},
        {{0, 1, 2, 3, 4, 5, 6}, 9, {3, 5}},
        {{0, 1, 2, 3, 4, 5, 6, 7, 8}, 0, {}},  // nine or more: no split view
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cameras.size());
        for (int cam = 0; cam < kQuadCameras; ++cam) {
            CKcReg reg = ProductKey("RemoteQuad");
            reg.SetSection(CameraSection(cam).c_str());
            reg.SetValueName("IsCameraInCycle");
            reg.Write(DWORD{0});
        }
        flag(c.cameras);
        CRemoteQuad quad(nullptr);
        quad.rqSetSplitOrAutoSwitchMode(TRUE);
        ASSERT_EQ(quad.rqGetPaneCount(), c.panes);
        EXPECT_EQ(quad.rqIsSplitOrAutoSwitchMode() != FALSE, c.panes != 0);
        if (c.panes == 0) continue;
        quad.rqCalcLayout(176, 144);
        // Every camera of the cycle has a pane; the fillers are the panes left.
        std::vector<RECT> seen;
        for (int cam : c.cameras) {
            RECT r{};
            ASSERT_TRUE(quad.rqFindPaneOfCamera(0, WORD(cam), r)) << cam;
            EXPECT_EQ(r.right - r.left, 176);
            seen.push_back(r);
        }
        EXPECT_EQ(int(seen.size() + c.fillers.size()), c.panes);
        // The cycle after the last camera starts again at the first.
        ASSERT_TRUE(quad.rqSetCurrentCamera(WORD(c.cameras.back()), 5000));
        EXPECT_EQ(quad.rqGetNextCamera(), c.cameras.front());
    }
}

TEST(RemoteQuad, FourPanesRunSerpentineAndTheNextFillerIsReported) {
    flag({0, 1, 2});
    CRemoteQuad quad(nullptr);
    quad.rqSetSplitOrAutoSwitchMode(TRUE);
    quad.rqCalcLayout(176, 144);
    int w = 0, h = 0;
    quad.rqGetQuadSize(w, h);
    EXPECT_EQ(w, 352);
    EXPECT_EQ(h, 2 * int(176 * 0.8183306055646481));
    RECT r{};
    ASSERT_TRUE(quad.rqFindPaneOfCamera(0, 2, r));
    EXPECT_EQ(r.left, 176);  // pane 2: right column, second row
    EXPECT_EQ(r.top, h / 2);
    // After camera 2 (pane 2) comes the filler, pane 3: bottom left.
    ASSERT_TRUE(quad.rqSetCurrentCamera(2, 1000));
    EXPECT_TRUE(quad.rqIsNextPaneEmpty());
    ASSERT_TRUE(quad.rqGetNextPaneRect(r));
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, h / 2);
    // The switching clock: not before the delay has passed.
    EXPECT_FALSE(quad.rqIsTimeToSwitch(1000 + quad.SplitDelayMs()));
    EXPECT_TRUE(quad.rqIsTimeToSwitch(1001 + quad.SplitDelayMs()));
    EXPECT_FALSE(quad.rqSetCurrentCamera(9, 2000));  // not in the cycle
}

TEST(RemoteQuad, StateRoundTripsWholeAndIsCheckedOnTheWayIn) {
    CRemoteQuad quad(nullptr);
    RemoteQuadState state{};
    quad.GetState(state);
    // Three cameras of adapter 0 in the cycle, laid out as 2 x 2 with a filler.
    for (int c = 0; c < kQuadCameras; ++c) state.adapters[0].cameraInCycle[c] = (c == 1 || c == 4 || c == 6) ? 1 : 0;
    state.adapters[0].splitOrAutoSwitchMode = 1;
    quad.SetState(state);
    quad.rqCalcLayout(176, 144);
    ASSERT_TRUE(quad.rqSetCurrentCamera(6, 500));
    RemoteQuadState whole{};
    quad.GetState(whole);
    {
        CRemoteQuad copy(nullptr);
        copy.SetState(whole);
        RemoteQuadState again{};
        copy.GetState(again);
        EXPECT_EQ(std::memcmp(&whole, &again, sizeof whole), 0) << "a sound record comes back byte for byte";
    }

    struct Bad {
        const char* what;
        void (*spoil)(RemoteQuadState&);
        DWORD delayMs;
        WORD paneCount;
        WORD currentPane;
        WORD currentCamera;
    };
    const Bad cases[] = {
        {"no delay", [](RemoteQuadState& s) { s.splitDelayMs = 0; }, 1000, 4, 2, 6},
        {"a delay of days", [](RemoteQuadState& s) { s.splitDelayMs = 0xFFFFFFFF; }, 10000, 4, 2, 6},
        {"a pane count of no layout", [](RemoteQuadState& s) { s.adapters[0].paneCount = 7; }, 1000, 4, 2, 6},
        {"a current pane beyond the panes", [](RemoteQuadState& s) { s.adapters[0].currentPane = 12; }, 1000, 4, 0, 6},
        {"a camera beyond 15", [](RemoteQuadState& s) { s.adapters[0].currentCamera = 300; }, 1000, 4, 2, 0},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.what);
        RemoteQuadState spoilt = whole;
        spoilt.splitDelayMs = 1000;
        c.spoil(spoilt);
        CRemoteQuad target(nullptr);
        target.SetState(spoilt);
        RemoteQuadState got{};
        target.GetState(got);
        EXPECT_EQ(got.splitDelayMs, c.delayMs);
        EXPECT_EQ(got.adapters[0].paneCount, c.paneCount);
        EXPECT_EQ(got.adapters[0].currentPane, c.currentPane);
        EXPECT_EQ(got.adapters[0].currentCamera, c.currentCamera);
        EXPECT_EQ(target.rqGetNextCamera(), 1);  // after 6 (or 0) the cycle goes on at camera 1
        RECT r{};
        EXPECT_TRUE(target.rqGetCurrentPane(r));
    }
}

TEST(RemoteQuad, SequenceRequestsAreKeptInRange) {
    CRemoteQuad quad(nullptr);
    struct Delay {
        DWORD seconds;
        DWORD ms;
    };
    for (const Delay& d : {Delay{0, 1000}, Delay{4, 4000}, Delay{10, 10000}, Delay{11, 10000}, Delay{4294968, 10000},
                           Delay{0xFFFFFFFF, 10000}}) {
        SCOPED_TRACE(d.seconds);
        quad.SetSequenceDelay(d.seconds);
        EXPECT_EQ(quad.SplitDelayMs(), d.ms);
    }
    // Cameras beyond 15 change nothing.
    RemoteQuadState before{};
    quad.GetState(before);
    for (WORD camera : {WORD(16), WORD(0xFFFF)}) quad.SetCameraInSequence(camera, TRUE);
    RemoteQuadState after{};
    quad.GetState(after);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
    // Panes are asked for within their counts.
    RECT r{};
    WORD camera = 0, index = 0;
    EXPECT_FALSE(quad.rqGetPane(9, r));
    EXPECT_FALSE(quad.rqGetPane(-1, r));
    EXPECT_TRUE(quad.rqGetPane(8, r));
    EXPECT_FALSE(quad.rqGetPaneCamera(quad.rqGetPaneCount(), camera));
    ASSERT_TRUE(quad.rqGetPaneCamera(1, camera));
    ASSERT_TRUE(quad.rqGetPaneIndexOfCamera(camera, index));
    EXPECT_EQ(index, 1);
    EXPECT_FALSE(quad.rqGetPaneIndexOfCamera(15, index));
}

}  // namespace
