#include "tavicore/frame_rtv.h"

#include "tavicore/testing/event_test_support.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

using namespace eventtest;

namespace {

long long shown(CFrmRtvZO& rtv, BYTE* frame) {
    if (frame == nullptr || rtv.rtvGetFrameInfo() == nullptr) {
        return -2;
    }
    return serialOf(frame, rtv.rtvGetImageSize());
}

// A file of frames 0..9 that wrapped after frame 7: frames 2..9 survive, 8 and 9
// behind the header.
std::string wrappedEvent(DWORD number) {
    std::vector<Frame> frames(10, Frame{200, false});
    frames[7].wrapAfter = true;
    return writeEvent(key(EVENT_TYPE_AUTOMATIC, 0, 0, number), frames);
}

// The player's failures shown to the user while it lives: (text id, text).
class ShownNotices {
public:
    ShownNotices() : m_previous(GetRtvNoticePresenter()) {
        shown().clear();
        SetRtvNoticePresenter([](UINT id, const char* text) { shown().emplace_back(id, text); });
    }
    ~ShownNotices() { SetRtvNoticePresenter(m_previous); }
    static std::vector<std::pair<UINT, std::string>>& shown() {
        static std::vector<std::pair<UINT, std::string>> notices;
        return notices;
    }

private:
    RtvNoticePresenter m_previous;
};

}  // namespace

TEST(FrameRtv, StepsBothWaysWithoutSkippingOrRepeating) {
    useTestRoot();
    struct Case {
        const char* name;
        std::string path;
        long long first;
        long long last;
    };
    std::vector<Case> cases = {
        {"straight", writeEvent(key(EVENT_TYPE_AUTOMATIC, 0, 0, 1), std::vector<Frame>(6, Frame{100, false})), 0, 5},
        {"wrapped", wrappedEvent(2), 2, 9},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        CFrmRtvZO rtv(c.path.c_str());
        ASSERT_EQ(rtv.rtvOpenEvent(), 1);
        EXPECT_EQ(rtv.rtvGetSnapshotNumber(), DWORD(c.last - c.first + 1));
        EXPECT_EQ(shown(rtv, rtv.rtvGetFirstFrame()), c.first);
        EXPECT_EQ(rtv.rtvGetFrameIndex(), 0u);
        // Back from the earliest keeps the earliest, and forward then goes on to
        // the second frame.
        EXPECT_EQ(shown(rtv, rtv.rtvGetPrevFrame()), c.first);
        EXPECT_EQ(shown(rtv, rtv.rtvGetPrevFrame()), c.first);
        EXPECT_EQ(shown(rtv, rtv.rtvGetNextFrame()), c.first + 1);
        EXPECT_EQ(rtv.rtvGetFrameIndex(), 1u);
        // Walk to the newest, then past it.
        for (long long s = c.first + 2; s <= c.last; ++s) {
            ASSERT_EQ(shown(rtv, rtv.rtvGetNextFrame()), s);
            EXPECT_EQ(rtv.rtvGetFrameIndex(), DWORD(s - c.first));
        }
        EXPECT_EQ(shown(rtv, rtv.rtvGetNextFrame()), c.last);
        EXPECT_EQ(shown(rtv, rtv.rtvGetNextFrame()), c.last);
        // Alternate: each step shows the neighbour.
        EXPECT_EQ(shown(rtv, rtv.rtvGetPrevFrame()), c.last - 1);
        EXPECT_EQ(shown(rtv, rtv.rtvGetNextFrame()), c.last);
        EXPECT_EQ(shown(rtv, rtv.rtvGetPrevFrame()), c.last - 1);
        EXPECT_EQ(shown(rtv, rtv.rtvGetPrevFrame()), c.last - 2);
        EXPECT_EQ(shown(rtv, rtv.rtvGetNextFrame()), c.last - 1);
        // All the way back, across the wrap, to the earliest, and once more.
        for (long long s = c.last - 2; s >= c.first; --s) {
            ASSERT_EQ(shown(rtv, rtv.rtvGetPrevFrame()), s);
        }
        EXPECT_EQ(shown(rtv, rtv.rtvGetPrevFrame()), c.first);
        EXPECT_EQ(shown(rtv, rtv.rtvGetNextFrame()), c.first + 1);
        // The first frame after backward steps is the first frame.
        EXPECT_EQ(shown(rtv, rtv.rtvGetPrevFrame()), c.first);
        EXPECT_EQ(shown(rtv, rtv.rtvGetFirstFrame()), c.first);
        EXPECT_EQ(shown(rtv, rtv.rtvGetNextFrame()), c.first + 1);
    }
}

TEST(FrameRtv, AnswersWithoutAnOpenEventAndRefusesAnEmptyOne) {
    ShownNotices notices;
    std::string root = useTestRoot();
    CFrmRtvZO closed(0, 0, 1, EVENT_TYPE_AUTOMATIC, "");
    EXPECT_EQ(closed.rtvGetEventType(), 0x80u);
    EXPECT_EQ(closed.rtvGetEventSize(), 0);
    EXPECT_EQ(closed.rtvGetFirstFrame(), nullptr);
    EXPECT_EQ(closed.rtvGetNextFrame(), nullptr);
    EXPECT_EQ(closed.rtvGetFrameInfo(), nullptr);
    SIZE size{};
    EXPECT_EQ(closed.rtvGetFrameSize(&size), 0);
    EXPECT_EQ(closed.rtvOpenEvent(), 0);  // no such file

    // A properly closed header that claims no snapshot, and nothing behind it.
    tagEventHeader h = key(EVENT_TYPE_AUTOMATIC, 0, 0, 4);
    std::memcpy(h.chMagic, "VHED", 4);
    h.wState = 2;
    h.dwEarliestOffset = 86;
    h.dwChkSum = CEventFile().CalculateChkSum(reinterpret_cast<BYTE*>(&h), 82);
    std::string path = root + "/empty.trg";
    writeBytes(path, std::vector<BYTE>(reinterpret_cast<BYTE*>(&h), reinterpret_cast<BYTE*>(&h) + 86));
    CFrmRtvZO empty(path.c_str());
    EXPECT_EQ(empty.rtvOpenEvent(), 0);
    ASSERT_EQ(ShownNotices::shown().size(), 2u);
    EXPECT_EQ(ShownNotices::shown()[0].first, IDS_RTV_OPEN_FAILED);
    EXPECT_EQ(ShownNotices::shown()[1].first, IDS_RTV_EMPTY_EVENT);
}

// Each failure reaches the user with its own text: a file that does not open,
// an event without frames, a frame that does not read.
TEST(FrameRtv, FailuresAreShownWithTheirTexts) {
    ShownNotices notices;
    std::string root = useTestRoot();
    std::string good = writeEvent(key(EVENT_TYPE_AUTOMATIC, 0, 0, 21), std::vector<Frame>(3, Frame{100, false}));
    // The second snapshot's header is damaged: the first frame reads, the next does not.
    auto bytes = readBytes(good);
    bytes[86 + 32 + 100 + 5] ^= 0xFF;
    std::string broken = root + "/broken.trg";
    writeBytes(broken, bytes);
    CFrmRtvZO reader(broken.c_str());
    ASSERT_EQ(reader.rtvOpenEvent(), 1);
    EXPECT_NE(reader.rtvGetFirstFrame(), nullptr);
    EXPECT_TRUE(ShownNotices::shown().empty());
    EXPECT_EQ(reader.rtvGetNextFrame(), nullptr);
    CFrmRtvZO missing((root + "/none.trg").c_str());
    EXPECT_EQ(missing.rtvOpenEvent(), 0);
    const auto& shown = ShownNotices::shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].first, IDS_RTV_READ_FAILED);
    EXPECT_EQ(shown[0].second, "The frame could not be read from the event file.");
    EXPECT_EQ(shown[1].first, IDS_RTV_OPEN_FAILED);
    EXPECT_EQ(shown[1].second, "The event file could not be opened.");
}

TEST(FrameRtv, OpensByKeyAndReadsAFrameLargerThanItsBuffer) {
    useTestRoot();
    const std::size_t big = CFrmRtvZO::kFrameBufferBytes + 12345;
    std::string path = writeEvent(key(EVENT_TYPE_DOA, 1, 2, 7), {Frame{100, false}, Frame{big, false}});
    CFrmRtvZO rtv(1, 2, 7, EVENT_TYPE_DOA, "");
    ASSERT_EQ(rtv.rtvOpenEvent(), 1);
    EXPECT_EQ(rtv.rtvGetEventType(), EVENT_TYPE_DOA);
    EXPECT_EQ(rtv.rtvGetEventInfo()->wEventNumber, 7);
    EXPECT_EQ(std::string(rtv.rtvGetEventInfo()->szFilePath), path);
    char name[MAX_PATH] = {};
    EXPECT_EQ(rtv.rtvGetFileName(name, sizeof name), 1);
    EXPECT_EQ(std::string(name), path);
    EXPECT_EQ(rtv.rtvGetEventSize(), WORD((86 + 64 + 100 + big) / 1000));
    EXPECT_EQ(shown(rtv, rtv.rtvGetFirstFrame()), 0);
    EXPECT_EQ(shown(rtv, rtv.rtvGetNextFrame()), 1);
    EXPECT_EQ(rtv.rtvGetImageSize(), big);
    EXPECT_EQ(rtv.rtvIsLastPreFrame(), 0);
}

TEST(FrameRtv, MoveCopiesThenErasesAndEraseRemoves) {
    std::string root = useTestRoot();
    std::string source = writeEvent(key(EVENT_TYPE_DOA, 0, 1, 3), std::vector<Frame>(3, Frame{500, false}));
    // The events database already holds event 4 of the automatic kind.
    writeEvent(key(EVENT_TYPE_AUTOMATIC, 0, 1, 4), std::vector<Frame>(1, Frame{10, false}));
    {
        CFrmRtvZO rtv(0, 1, 3, EVENT_TYPE_DOA, "");
        ASSERT_EQ(rtv.rtvOpenEvent(), 1);
        ASSERT_EQ(rtv.MoveEvent(), 1);
    }
    EXPECT_FALSE(fs::exists(source));
    std::string moved = root + "/triggers/Adapter_0/Camera_1/Automatic_Trigger/Event_5.trg";
    ASSERT_TRUE(fs::exists(moved));
    tagEventHeader h{};
    auto serials = readSerials(moved, 3, &h);
    EXPECT_EQ(serials, (std::vector<long long>{0, 1, 2}));
    EXPECT_EQ(+h.dwType, EVENT_TYPE_AUTOMATIC);
    EXPECT_EQ(+h.dwEventNumber, 5u);

    // When the copy cannot be made, the original stays.
    std::string second = writeEvent(key(EVENT_TYPE_DOA, 0, 2, 1), std::vector<Frame>(2, Frame{50, false}));
    fs::create_directories(root + "/triggers/Adapter_0/Camera_2");
    writeBytes(root + "/triggers/Adapter_0/Camera_2/Automatic_Trigger", {0});  // a file in the folder's place
    {
        CFrmRtvZO rtv(0, 2, 1, EVENT_TYPE_DOA, "");
        EXPECT_EQ(rtv.MoveEvent(), 0);
    }
    EXPECT_TRUE(fs::exists(second));

    CFrmRtvZO eraser(0, 2, 1, EVENT_TYPE_DOA, "");
    EXPECT_EQ(eraser.EraseTheEventFromDisk(), 1);
    EXPECT_FALSE(fs::exists(second));
    EXPECT_EQ(eraser.EraseTheEventFromDisk(), 0);
}
