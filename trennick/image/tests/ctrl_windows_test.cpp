#include "trennick/image/ctrl_windows.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

// A content change skips exactly one background erase.
TEST(CCntrlWnd, ContentChangeSkipsOneErase) {
    CCntrlWnd window;
    window.resize(10, 10);
    window.SetBackground(0x0000FF);  // red
    QImage image(10, 10, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter p(&image);
        window.OnContentChanged();
        EXPECT_FALSE(window.EraseBackground(p));
    }
    EXPECT_EQ(image.pixelColor(5, 5), QColor(Qt::white));
    {
        QPainter p(&image);
        EXPECT_TRUE(window.EraseBackground(p));
    }
    EXPECT_EQ(image.pixelColor(5, 5), QColor(255, 0, 0));
}

// Steps of 20 pixels, pages of the client height, always within the range.
TEST(CScrlWnd, ScrollsInStepsWithinItsRange) {
    CScrlWnd window(0xC0C0C0);
    window.resize(100, 70);
    window.SetContentHeight(300);
    EXPECT_EQ(window.Range(), 230);
    window.LineDown();
    EXPECT_EQ(window.Position(), 20);
    EXPECT_TRUE(window.SkipsNextErase());
    window.PageDown();  // 70 / 20 = 3 steps
    EXPECT_EQ(window.Position(), 80);
    window.ThumbTo(1000);
    EXPECT_EQ(window.Position(), 230);
    window.LineUp();
    window.ThumbTo(-5);
    EXPECT_EQ(window.Position(), 0);
    window.resize(100, 10);  // a page is at least one step
    window.PageDown();
    EXPECT_EQ(window.Position(), 20);
}

TEST(CTextEditWnd, KeepsItsTextFontAndPlace) {
    QWidget parent;
    parent.resize(200, 40);
    CTextEditWnd text("Gate 1", 12, "DejaVu Sans", &parent);
    EXPECT_TRUE(text.isReadOnly());
    EXPECT_EQ(text.font().pointSize(), 12);
    EXPECT_EQ(text.toPlainText(), "Gate 1");
    text.SetText("Gate 1\r\nNorth");
    EXPECT_EQ(text.toPlainText(), "Gate 1\nNorth");
    text.SetText("Gate 2");
    EXPECT_EQ(text.Text(), "Gate 2");
    RECT r{5, 6, 105, 26};
    text.MoveToRect(&r);
    EXPECT_EQ(text.geometry(), QRect(5, 6, 100, 20));
    text.MoveToRect();
    EXPECT_EQ(text.geometry(), parent.rect());
}
