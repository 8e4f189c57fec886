// The gauge, the report list and the status bar of the transfer window.

#include "tavicore/ui/testing/ui_test_support.h"
#include "trennick/panels/gauge_control.h"
#include "trennick/panels/w95_list_view.h"
#include "trennick/panels/w95_status_bar.h"

#include <QApplication>
#include <QStyle>
#include <gtest/gtest.h>

using namespace trennick;

TEST(GaugeControl, PositionZeroAlwaysReachesTheBarAndRepeatsAreSkipped) {
    QWidget owner;
    CGaugeControl gauge(&owner);
    gauge.Create(&owner, QRect(0, 0, 100, 10), 7);
    EXPECT_FALSE(gauge.isVisible());
    EXPECT_FALSE(gauge.isEnabled());
    gauge.SetRange(0, 100);
    gauge.SetPos(40);
    EXPECT_EQ(gauge.value(), 40);
    // A bar moved behind the gauge's back: a repeat of the stored position is
    // skipped, while 0 is always passed on.
    gauge.setValue(10);
    gauge.SetPos(40);
    EXPECT_EQ(gauge.value(), 10);
    gauge.SetPos(0);
    gauge.setValue(5);
    gauge.SetPos(0);
    EXPECT_EQ(gauge.value(), 0);
}

TEST(GaugeControl, TipTextIsCaptionBlankPercentCutToItsBuffer) {
    CGaugeControl gauge;
    gauge.SetPos(42);
    EXPECT_EQ(gauge.GetTipText(), " 42%");
    gauge.SetCaption("report.bin");
    EXPECT_EQ(gauge.GetTipText(), "report.bin 42%");
    gauge.SetCaption(std::string(700, 'x'));
    EXPECT_EQ(gauge.Caption().size(), kGaugeCaptionChars);
    EXPECT_EQ(gauge.GetTipText().size(), kTipTextChars - 1);
    EXPECT_EQ(gauge.GetTipText(5), "xxxx");
}

TEST(W95ListView, DeletingSelectedRowsMovesTheSelectionAndNothingSelectedChangesNothing) {
    CW95ListView list;
    list.InsertColumn(0, 100, "File");
    const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    for (const char* name : {"a", "b", "c", "d"}) list.InsertItemWithIcon(-1, name, icon);
    // Each row brings its image, the same icon or not, besides the program's own.
    EXPECT_EQ(list.ImageCount(), 5);

    list.clearSelection();
    list.DeleteItems(-1);
    EXPECT_EQ(list.GetItemCount(), 4);
    EXPECT_EQ(list.GetSelectedCount(), 0);

    list.topLevelItem(1)->setSelected(true);  // b
    list.topLevelItem(2)->setSelected(true);  // c
    EXPECT_EQ(list.GetNextSelected(-1), 1);
    EXPECT_EQ(list.GetNextSelected(1), 2);
    EXPECT_EQ(list.GetNextSelected(2), -1);
    list.DeleteItems(-1);
    ASSERT_EQ(list.GetItemCount(), 2);
    // The place of the last deleted row: "d" stands there now.
    EXPECT_EQ(list.GetSelectedCount(), 1);
    EXPECT_EQ(list.GetItemText(list.GetNextSelected(-1), 0), "d");

    // The two last rows: the selection falls beyond the end, on no row.
    list.topLevelItem(0)->setSelected(true);
    list.DeleteItems(-1);
    ASSERT_EQ(list.GetItemCount(), 0);
    EXPECT_EQ(list.GetSelectedCount(), 0);
}

TEST(W95StatusBar, PanesFollowTheWidthAndProgressShowsOnItsSide) {
    struct Case {
        int width;
        std::array<int, 5> edges;
    };
    constexpr Case kCases[] = {
        {400, {60, 180, 200, 280, 400}},
        {375, {55, 166, 184, 258, 369}},
        {0, {0, 0, 0, 0, 0}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.width);
        EXPECT_EQ(StatusPaneEdges(c.width), c.edges);
    }
    QWidget window;
    window.resize(425, 200);
    CW95StatusBar bar(&window);
    bar.Create(&window);
    bar.SetupPanes();
    EXPECT_EQ(bar.geometry(), QRect(0, 175, 400, 25));
    window.show();
    bar.StartProgress(true, "incoming.bin");
    EXPECT_EQ(bar.PaneText(3), "Receiving:");
    EXPECT_TRUE(bar.Gauge(true).isVisible());
    EXPECT_FALSE(bar.Gauge(false).isVisible());
    EXPECT_EQ(bar.Gauge(true).geometry(), QRect(280, 5, 120, 15));
    bar.SetProgress(30, true);
    EXPECT_EQ(bar.Gauge(true).GetTipText(), "incoming.bin 30%");
    // Texts that differ only in case are left as they are.
    bar.SetPaneText(3, "RECEIVING:");
    EXPECT_EQ(bar.PaneText(3), "Receiving:");
    bar.SetPaneText(-1, "last");
    EXPECT_EQ(bar.PaneText(4), "last");
    uitest::saveScreenshot(&window, "transfer_status_bar");
    bar.EndProgress(true);
    EXPECT_FALSE(bar.Gauge(true).isVisible());
    EXPECT_EQ(bar.PaneText(3), " ");
}
