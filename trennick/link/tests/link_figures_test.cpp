// The link's figures for the link profile window: handed to the sink once a
// period of a second has passed, with the rates over that period, and never
// after the sink was taken away.

#include "trennick/link/bucket.h"
#include "trennick/link/testing/link_fakes.h"

#include <gtest/gtest.h>

#include <vector>

using namespace trennick;
using namespace linktest;

namespace {

class CollectingFigures : public LinkFiguresSink {
public:
    void linkFigures(const LinkFigures& f) override { got.push_back(f); }
    std::vector<LinkFigures> got;
};

void sendVideoFrames(LinkPair& pair, int count) {
    const std::vector<BYTE> frame(200, 0x5A);
    for (int i = 0; i < count; ++i) EXPECT_NE(pair.b->SendBucket(kVideoBucket, frame.data(), DWORD(frame.size())), 0);
    pair.pump();
}

}  // namespace

TEST(LinkFigures, EachPeriodGivesItsRatesAndCountsOnce) {
    LinkPair pair;
    pair.helloBothWays();
    CollectingFigures sink;
    pair.a->SetFiguresSink(&sink);

    // Within the first second nothing is handed on, however much arrives.
    sendVideoFrames(pair, 5);
    pair.clock.ms += 999;
    sendVideoFrames(pair, 5);
    EXPECT_TRUE(sink.got.empty());

    // The second is over: ten frames in 1000 ms.
    pair.clock.ms += 1;
    sendVideoFrames(pair, 0);
    EXPECT_NE(pair.b->SendBucket(kVideoBucket, std::vector<BYTE>(10, 1).data(), 10), 0);
    pair.pump();
    ASSERT_EQ(sink.got.size(), 1u);
    EXPECT_EQ(sink.got[0].framesPerSecondHundredths, 1100u);  // eleven frames over a second
    EXPECT_EQ(sink.got[0].bucketsReceived, 11u);
    EXPECT_GT(sink.got[0].charsPerSecond, 11u * 200 / 2);
    EXPECT_EQ(sink.got[0].sendRetries, 0u);
    EXPECT_EQ(sink.got[0].receiveErrors, 0u);

    // The next period starts from there: two seconds, four frames.
    pair.clock.ms += 2000;
    sendVideoFrames(pair, 4);
    ASSERT_EQ(sink.got.size(), 2u);
    EXPECT_EQ(sink.got[1].framesPerSecondHundredths, 200u);
    EXPECT_EQ(sink.got[1].bucketsReceived, 4u);

    // Taken away: nothing more.
    pair.a->SetFiguresSink(nullptr);
    pair.clock.ms += 5000;
    sendVideoFrames(pair, 3);
    EXPECT_EQ(sink.got.size(), 2u);
}
