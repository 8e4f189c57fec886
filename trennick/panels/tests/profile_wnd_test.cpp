// The link profile window: the figures it shows by their dirty bits, the two
// values derived from the slider, the ranges of the edited values, and the
// live figures of a real link on loopback.

#include "tavicore/ui/testing/ui_test_support.h"
#include "trennick/net/testing/link_station.h"
#include "trennick/net/testing/net_test_util.h"
#include "trennick/panels/profile_wnd.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using namespace trennick;

TEST(Profile, SliderDerivesTheTwoValues) {
    struct Case {
        DWORD a, b, c, d;
        int slider;
        LONG first, second;
    };
    const Case cases[] = {
        {25, 60, 35, 60, 100, 25, 35},                                  // at 100: a and c
        {25, 60, 35, 60, 1, 25 + 35 * 99 / 100, 35 + 25 * 99 / 100},    // at 1: nearly b and d
        {80, 20, 10, 90, 50, 50, 50},                                   // b below a: going down
        {0, 100, 0, 100, 0, 99, 99},                                    // below the range: as 1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slider);
        ProfileTuning t;
        t.a = c.a;
        t.b = c.b;
        t.c = c.c;
        t.d = c.d;
        DeriveProfileTuning(t, c.slider);
        EXPECT_EQ(t.first, c.first);
        EXPECT_EQ(t.second, c.second);
    }
}

TEST(Profile, FiguresShowByTheirBitsAndSilentBitsChangeNothing) {
    uitest::installLanguage();
    DWORD now = 5000;
    CProfile window(nullptr, [&] { return now; });
    window.Figures().charsPerSecond = 1234;
    window.Figures().framesPerSecondHundredths = 705;
    window.Figures().firstCount = 9;
    window.Figures().linkState = 0x1F;
    window.Figures().furtherCount = 3;
    window.MarkDirty(kProfDirtySilent);
    window.UpdateDisplay();
    EXPECT_EQ(window.Dirty(), 0u);
    for (int id : {kProfCps, kProfFps, kProfCount1, kProfLinkState, kProfVideoStatus}) EXPECT_EQ(window.Text(id), "") << id;
    window.MarkDirty(kProfDirtyRates | kProfDirtyState | kProfDirtyFurther | 0x40);
    window.UpdateDisplay();
    EXPECT_EQ(window.Dirty(), 0u);
    EXPECT_EQ(window.Text(kProfCps), "1234 cps");
    EXPECT_EQ(window.Text(kProfFps), "7.05 fps");
    EXPECT_EQ(window.Text(kProfCount1), "9");
    EXPECT_EQ(window.Text(kProfLinkState), "0x1f");
    EXPECT_EQ(window.Text(kProfVideoStatus), "3");
    // The period's figures start again; the counts of the link stay.
    EXPECT_EQ(window.Figures().charsPerSecond, 0u);
    EXPECT_EQ(window.Figures().framesPerSecondHundredths, 0u);
    EXPECT_EQ(window.Figures().periodStartMs, 5000u);
}

TEST(Profile, SetKeepsTheValuesInRangeAndHandsThemOn) {
    nettest::Station station(false, nettest::freePort());
    CProfile window(nullptr, [] { return DWORD(0); });
    ProfileTuning given;
    ProfileTuning got;
    int applied = 0;
    window.SetData(&station.link, given, [&](const ProfileTuning& t) {
        got = t;
        ++applied;
    });
    struct Edit {
        int id;
        LONG typed;
        DWORD ProfileTuning::*field;
        DWORD kept;
    };
    const Edit edits[] = {
        {kProfWord1, 150, &ProfileTuning::word1, 100}, {kProfWord2, -5, &ProfileTuning::word2, 0},
        {kProfPacket, 2000000, &ProfileTuning::packetLength, 1048576},
        {kProfBlock, 10001, &ProfileTuning::blockBytes, 10000}, {kProfA, 30, &ProfileTuning::a, 30},
        {kProfB, 90, &ProfileTuning::b, 90},
    };
    for (const Edit& e : edits) window.SetEdit(e.id, e.typed);
    window.SetSlider(100);
    window.Apply();
    ASSERT_EQ(applied, 1);
    for (const Edit& e : edits) {
        SCOPED_TRACE(e.id);
        EXPECT_EQ(got.*(e.field), e.kept);
        EXPECT_EQ(window.Text(e.id), std::to_string(e.kept));
    }
    EXPECT_EQ(got.first, 30);
    EXPECT_EQ(window.Text(kProfFirst), "30");
    // Timers: 308, 309 and 310 by their bits; 310 runs from the start.
    EXPECT_EQ(window.RunningTimers(), 4u);
    window.SetTimer(2);
    EXPECT_EQ(window.RunningTimers(), 6u);
    window.KillTimer(6);
    EXPECT_EQ(window.RunningTimers(), 0u);
}

// The link's figures come posted from the thread that reads the link and are
// shown on the window's own; a decoded frame's figures are kept silently.
TEST(Profile, FiguresPushedFromTheLinksThreadAreShown) {
    uitest::installLanguage();
    CProfile window(nullptr, [] { return DWORD(7000); });
    LinkFigures figures;
    figures.charsPerSecond = 2500;
    figures.framesPerSecondHundredths = 1250;
    figures.bucketsReceived = 14;
    figures.bucketsSent = 40;
    figures.sendRetries = 2;
    figures.receiveErrors = 1;
    std::thread reader([&] { window.linkFigures(figures); });
    reader.join();
    EXPECT_EQ(window.Text(kProfCps), "") << "shown on the window's thread, not the reader's";
    ASSERT_TRUE(nettest::pumpUntil([&] { return window.Text(kProfCps) == "2500 cps"; }));
    EXPECT_EQ(window.Text(kProfFps), "12.50 fps");
    EXPECT_EQ(window.Text(kProfCount1), "14");
    EXPECT_EQ(window.Text(kProfCount2), "40");
    EXPECT_EQ(window.Text(kProfCount3), "2");
    EXPECT_EQ(window.Text(kProfCount4), "1");
    EXPECT_EQ(window.Dirty(), 0u);

    window.VideoFrameShown(4321, 6);
    EXPECT_EQ(window.Figures().lastFrameLength, 4321u);
    EXPECT_EQ(window.Figures().lastDecodeMs, 6u);
    EXPECT_EQ(window.Dirty(), 0u);
    EXPECT_EQ(window.Text(kProfCps), "2500 cps") << "a frame's figures have no display";
}

// A closed window lets the link go: deleted after the link (as a window
// deleted late at the program's end), it does not reach it.
TEST(Profile, AClosedWindowNoLongerReachesTheLink) {
    uitest::installLanguage();
    auto window = std::make_unique<CProfile>(nullptr, [] { return DWORD(0); });
    {
        nettest::Station station(false, nettest::freePort());
        window->SetData(&station.link, ProfileTuning{}, nullptr);
        window->show();
        window->close();
    }
    window->OnStatusTimer();
    window.reset();
}
