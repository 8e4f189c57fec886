#include "trennick/ui/lcd_panel.h"

#include "tavicore/ui/testing/ui_test_support.h"

#include <thread>

namespace {

class LcdPanel : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::installLanguage();
        panel = std::make_unique<CLcdPanel>();
        panel->SetClock([this] { return clockMs; });
        panel->show();
    }
    void tick() { platform::SendMessage(panel->messageHandle(), platform::WM_TIMER, CLcdPanel::kTimerId, 0); }
    void drain() {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
    }

    DWORD clockMs = 100000;
    std::unique_ptr<CLcdPanel> panel;
};

}  // namespace

TEST_F(LcdPanel, MeterLevelsFollowTheTableOfRates) {
    struct LineCase {
        long rate;
        int level;
    } lines[] = {{33600, 10}, {3360, 1}, {3359, 0}, {0, 0}, {30240, 9}, {336000, 10}, {-5, 0}};
    for (const auto& c : lines) {
        SCOPED_TRACE(c.rate);
        panel->SetLineRateMeter(c.rate, 2000);
        EXPECT_EQ(panel->MeterLevel(LcdElement::LineMeter), c.level);
        EXPECT_EQ(panel->ElementBitmap(LcdElement::LineMeter), c.level == 0 ? 400u : 378u + c.level);
        EXPECT_TRUE(panel->IsElementShown(LcdElement::LineMeter));
    }
    struct FrameCase {
        double fps;
        int level;
        UINT bitmap;
    } frames[] = {{7.5, 5, 393}, {15, 10, 397}, {0, 0, 399}, {1.4, 0, 399}, {1.5, 1, 389}, {14.9, 9, 397},
                  {-1, 0, 399}};
    for (const auto& c : frames) {
        SCOPED_TRACE(c.fps);
        panel->SetFrameRateMeter(c.fps, 2000);
        EXPECT_EQ(panel->MeterLevel(LcdElement::FrameRateMeter), c.level);
        EXPECT_EQ(panel->ElementBitmap(LcdElement::FrameRateMeter), c.bitmap);
    }
}

TEST_F(LcdPanel, LineSpeedShowsOneMark) {
    struct Case {
        long rate;
        LcdElement mark;  // Count: none
    } cases[] = {
        {110, LcdElement::Speed9600},      {9600, LcdElement::Speed9600},     {9601, LcdElement::Speed28800},
        {14400, LcdElement::Speed28800},   {28800, LcdElement::Speed28800},   {38400, LcdElement::Speed28800},
        {33600, LcdElement::Speed57600},   {40000, LcdElement::Speed57600},   {57600, LcdElement::Speed57600},
        {115200, LcdElement::Speed115200}, {-1, LcdElement::SpeedNetwork},   {0, LcdElement::Count},
    };
    const LcdElement marks[] = {LcdElement::Speed9600, LcdElement::Speed28800, LcdElement::Speed57600,
                                LcdElement::Speed115200, LcdElement::SpeedNetwork};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        panel->ShowLineSpeed(c.rate);
        for (LcdElement mark : marks) {
            EXPECT_EQ(panel->IsElementShown(mark), mark == c.mark) << static_cast<int>(mark);
        }
    }
}

TEST_F(LcdPanel, HeldLampsAndMetersGoOutAtTheFirstTickAfterTheirTime) {
    panel->SetReceiveLamp(1, 200);
    panel->SetReceiveLamp(1, 200);  // before the tick: no second message
    EXPECT_EQ(panel->postedLampMessages(), 1);
    drain();
    EXPECT_TRUE(panel->IsElementShown(LcdElement::ReceiveLamp));
    panel->SetHeldLampA(1, 200);
    panel->SetLineRateMeter(33600, 2000);
    panel->SetFrameRateMeter(15, 2000);
    panel->ShowLinkLamp(1);
    panel->ShowMarkC(1);
    panel->ShowLineSpeed(-1);
    panel->ShowNetConnectedLamp(1);
    uitest::saveScreenshot(panel.get(), "lcd_panel");

    clockMs += 200;  // not yet past the hold
    tick();
    EXPECT_TRUE(panel->IsElementShown(LcdElement::ReceiveLamp));
    EXPECT_TRUE(panel->IsElementShown(LcdElement::HeldLampA));
    clockMs += 1;
    tick();
    EXPECT_FALSE(panel->IsElementShown(LcdElement::ReceiveLamp));
    EXPECT_FALSE(panel->IsElementShown(LcdElement::HeldLampA));
    EXPECT_EQ(panel->MeterLevel(LcdElement::LineMeter), 10);
    clockMs += 2000;
    tick();
    EXPECT_EQ(panel->MeterLevel(LcdElement::LineMeter), 0);
    EXPECT_EQ(panel->MeterLevel(LcdElement::FrameRateMeter), 0);
    EXPECT_TRUE(panel->IsElementShown(LcdElement::LineMeter));  // back to slot 0, still shown
    EXPECT_TRUE(panel->IsElementShown(LcdElement::LinkLamp));  // not held: stays

    // Lit again after going out: a new message.
    panel->SetReceiveLamp(1, 200);
    EXPECT_EQ(panel->postedLampMessages(), 2);
}

TEST_F(LcdPanel, SendLampFromAnotherThreadAndOffAtOnce) {
    std::thread([&] { panel->SetSendLamp(1, 200); }).join();
    drain();
    EXPECT_TRUE(panel->IsElementShown(LcdElement::SendLamp));
    panel->SetSendLamp(0, 0);
    EXPECT_FALSE(panel->IsElementShown(LcdElement::SendLamp));
    std::thread([&] { panel->SetSendLamp(1, 200); }).join();
    std::thread([&] { panel->SetSendLamp(0, 0); }).join();
    drain();
    EXPECT_FALSE(panel->IsElementShown(LcdElement::SendLamp));
}

TEST_F(LcdPanel, TimerRunsOnlyWhileSomethingIsHeld) {
    EXPECT_FALSE(panel->TimerRunning());
    panel->ShowLinkLamp(1);
    panel->SetHeldLampA(1, 0);  // lit without a hold: nothing to put out
    panel->SetLineRateMeter(0, 2000);  // held at slot 0: nothing to put out
    EXPECT_FALSE(panel->TimerRunning());
    panel->SetHeldLampB(1, 200);
    panel->SetFrameRateMeter(15, 2000);
    EXPECT_TRUE(panel->TimerRunning());
    clockMs += 201;
    tick();
    EXPECT_FALSE(panel->IsElementShown(LcdElement::HeldLampB));
    EXPECT_TRUE(panel->TimerRunning());  // the meter is still held
    clockMs += 2000;
    tick();
    EXPECT_EQ(panel->MeterLevel(LcdElement::FrameRateMeter), 0);
    EXPECT_FALSE(panel->TimerRunning());
    // A lamp lit from another thread starts it again, and goes out with it.
    std::thread([&] { panel->SetReceiveLamp(1, 200); }).join();
    drain();
    EXPECT_TRUE(panel->TimerRunning());
    EXPECT_TRUE(panel->IsElementShown(LcdElement::ReceiveLamp));
    clockMs += 201;
    tick();
    EXPECT_FALSE(panel->IsElementShown(LcdElement::ReceiveLamp));
    EXPECT_FALSE(panel->TimerRunning());
    EXPECT_TRUE(panel->IsElementShown(LcdElement::LinkLamp));
    EXPECT_TRUE(panel->IsElementShown(LcdElement::HeldLampA));
}

TEST_F(LcdPanel, ModemAndRemoteImagesStartAtSlotZero) {
    panel->SetLineRateMeter(33600, 0);
    panel->ShowModemConnectedImage(0);
    EXPECT_FALSE(panel->IsElementShown(LcdElement::LineMeter));
    panel->ShowModemConnectedImage(1);
    EXPECT_TRUE(panel->IsElementShown(LcdElement::LineMeter));
    EXPECT_EQ(panel->ElementBitmap(LcdElement::LineMeter), 400u);
    panel->ShowRemoteImage(1);
    EXPECT_EQ(panel->ElementBitmap(LcdElement::FrameRateMeter), 399u);
    EXPECT_TRUE(panel->IsElementShown(LcdElement::Background));
}
