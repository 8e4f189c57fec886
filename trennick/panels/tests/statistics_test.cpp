// The link statistics dialog's figures.

#include "tavicore/ui/testing/ui_test_support.h"
#include "trennick/net/testing/link_station.h"
#include "trennick/panels/statistics_dlg.h"

#include <gtest/gtest.h>

using namespace trennick;

TEST(Statistics, RatesAndLineUseNeverDivideByZero) {
    EXPECT_EQ(StatisticsRate(3000, 1500), 2000u);
    EXPECT_EQ(StatisticsRate(3000, 999), 0u);   // under a second: 0
    EXPECT_EQ(StatisticsRate(0, 5000), 0u);
    EXPECT_EQ(FrameRateHundredths(0, 0), 0u);
    EXPECT_EQ(FrameRateHundredths(101, 20000), 505u);
    EXPECT_EQ(FrameRateText(505), "5.05");
    EXPECT_EQ(FrameRateText(1250), "12.50");
    EXPECT_EQ(LineUsePercent(1000, 500, 0), 0u);           // no line speed
    EXPECT_EQ(LineUsePercent(1000, 500, 80000), 50u);      // 5 fps x 8000 bits of 80000
    EXPECT_EQ(LineUsePercent(100000, 2500, 9600), 100u);   // capped
}

TEST(Statistics, WithoutAConnectionOnlyTheInitialTextsShow) {
    uitest::installLanguage();
    nettest::Station station(false, nettest::freePort());
    CStatistics dialog(nullptr, station.link);
    dialog.SetLineSpeed(56700);
    dialog.SetSite("North Gate", "555-0101");
    dialog.SetVideoStatistics(10000, 50, 50000);
    dialog.Fill();
    EXPECT_EQ(dialog.Text(kStatLineSpeed), "0 bps");
    EXPECT_EQ(dialog.Text(kStatSiteName), "");
    EXPECT_EQ(dialog.Text(kStatReceiveFrameRate), "0");
    uitest::saveScreenshot(&dialog, "link_statistics_idle");
}
