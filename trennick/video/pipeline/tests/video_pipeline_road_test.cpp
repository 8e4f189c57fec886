// The pipeline's road for one frame: the view admits it, the key-frame wait,
// the recorder's tap, the decoder and "picture ready", in that order, as the
// frame arrives on the owner's thread; a frame from another thread waits for
// the owner's drain.

#include "trennick/video/pipeline/video_pipeline.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using namespace trennick;

// Notes every call of the pipeline, in order, in one list.
struct Road : VideoPictureView, VideoFrameDecoder, VideoFrameSink {
    std::vector<std::string> calls;
    bool admits = true;
    bool decodes = true;
    bool admitFrame(DWORD bytes) override {
        calls.push_back("admit " + std::to_string(bytes));
        return admits;
    }
    void pictureReady(DWORD bytes, DWORD) override { calls.push_back("ready " + std::to_string(bytes)); }
    DWORD nowMs() override { return 0; }
    bool decodeFrame(const VideoFrame& frame) override {
        calls.push_back("decode camera " + std::to_string(frame.camera) + " kind " + std::to_string(frame.kind));
        return decodes;
    }
    void OnVideoFrame(const VideoFrame& frame) override {
        calls.push_back("record " + std::to_string(frame.data.size()));
    }
    void OnFrameHandled(BOOL shown) override { calls.push_back(shown ? "handled shown" : "handled"); }
};

// A block-transform key frame (0x1F in byte 6) and an ordinary one.
const std::vector<BYTE> kKey = {0x01, 0x00, 0x08, 0x00, 0x00, 0x00, 0x1F, 0x00};
const std::vector<BYTE> kOrdinary = {0x01, 0x00, 0x08, 0x00, 0x00, 0x00, 0x1E, 0x00};
constexpr WORD kCamera2Kind4 = 0x0204;

struct RoadCase {
    const char* what;
    bool admits, decodes, decoding;
    std::vector<std::vector<BYTE>> frames;
    std::vector<std::string> calls;
};

TEST(VideoPipeline, EachFrameGoesTheWholeRoadAsItArrives) {
    const RoadCase cases[] = {
        {"ordinary frames wait for the key frame, which goes all the way", true, true, true,
         {kOrdinary, kKey, kOrdinary},
         {"admit 8", "admit 8", "record 8", "decode camera 2 kind 4", "handled shown", "ready 8", "admit 8",
          "record 8", "decode camera 2 kind 4", "handled shown", "ready 8"}},
        {"a frame the view does not take goes no further", false, true, true, {kKey}, {"admit 8"}},
        {"a frame that does not decode is recorded, not shown", true, false, true, {kKey},
         {"admit 8", "record 8", "decode camera 2 kind 4", "handled"}},
        {"with decoding off the link's frames are not taken: nothing is recorded or shown", true, true, false,
         {kKey, kOrdinary}, {}},
    };
    for (const RoadCase& c : cases) {
        SCOPED_TRACE(c.what);
        Road road;
        road.admits = c.admits;
        road.decodes = c.decodes;
        VideoPipeline pipeline;
        pipeline.setView(&road);
        pipeline.setDecoder(&road);
        pipeline.setFrameSink(&road);
        pipeline.setDecoding(c.decoding);
        for (const auto& frame : c.frames) pipeline.push(kCamera2Kind4, frame.data(), DWORD(frame.size()), false);
        EXPECT_EQ(road.calls, c.calls);
    }
}

TEST(VideoPipeline, FramesFromAnotherThreadWaitForTheOwnersDrain) {
    Road road;
    VideoPipeline pipeline;
    pipeline.setView(&road);
    pipeline.setDecoder(&road);
    std::thread reader([&] {
        pipeline.push(kCamera2Kind4, kKey.data(), DWORD(kKey.size()), false);
        pipeline.push(kCamera2Kind4, kOrdinary.data(), DWORD(kOrdinary.size()), false);
    });
    reader.join();
    EXPECT_TRUE(road.calls.empty()) << "nothing of the view is touched from the reader's thread";
    pipeline.drain();
    EXPECT_EQ(road.calls.size(), 6u);
    EXPECT_EQ(road.calls.back(), "ready 8");
    // A cleared pipeline drops what waits.
    road.calls.clear();
    std::thread again([&] { pipeline.push(kCamera2Kind4, kOrdinary.data(), DWORD(kOrdinary.size()), false); });
    again.join();
    pipeline.clear();
    pipeline.drain();
    EXPECT_TRUE(road.calls.empty());
}

TEST(VideoPipeline, APostedFrameNeedsNoAdmission) {
    Road road;
    road.admits = false;
    VideoPipeline pipeline;
    pipeline.setView(&road);
    pipeline.setDecoder(&road);
    auto frame = std::make_unique<VideoFrame>();
    frame->data = kKey;
    EXPECT_TRUE(pipeline.deliver(std::move(frame), FrameEntry::Posted));
    EXPECT_EQ(road.calls, (std::vector<std::string>{"decode camera 0 kind 0", "ready 8"}));
    EXPECT_FALSE(pipeline.deliver(nullptr, FrameEntry::Posted));
}

}  // namespace
