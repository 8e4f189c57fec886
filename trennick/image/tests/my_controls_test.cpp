// The small look-giving controls: the picture sized to its home, its palette
// and copy command; the static text's styles; the cut text and its clear.

#include "trennick/image/my_controls.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QTemporaryDir>

namespace {

std::string writeBitmap(const QString& dir, const char* name, int width, int height, QImage::Format format) {
    QImage image(width, height, format);
    if (format == QImage::Format_Indexed8) {
        image.setColorTable({qRgb(10, 20, 30), qRgb(200, 100, 50)});
        image.fill(1);
    } else {
        image.fill(QColor(40, 80, 120));
    }
    const QString path = dir + "/" + name;
    EXPECT_TRUE(image.save(path, "BMP"));
    return path.toStdString();
}

QAction* actionFor(QMenu* menu, int command) {
    for (QAction* a : menu->actions()) {
        if (a->data().toInt() == command) return a;
    }
    return nullptr;
}

}  // namespace

TEST(MyImageCtrl, APictureIsCutToItsHomeOrCentredInIt) {
    QTemporaryDir dir;
    QWidget parent;
    auto* image = new CMyImageCtrl(&parent);
    image->setGeometry(10, 10, 100, 80);
    const std::string large = writeBitmap(dir.path(), "large.bmp", 300, 200, QImage::Format_RGB888);
    const std::string small = writeBitmap(dir.path(), "small.bmp", 40, 20, QImage::Format_Indexed8);

    QMenu* menu = image->BuildContextMenu(&parent);
    EXPECT_FALSE(actionFor(menu, CMyImageCtrl::kCmdCopy)->isEnabled());  // nothing to copy yet

    image->LoadImageFile(large);
    EXPECT_EQ(image->HomeRect(), QRect(10, 10, 100, 80));
    EXPECT_EQ(image->geometry(), QRect(10, 10, 100, 80));
    EXPECT_TRUE(image->Palette().empty());
    menu = image->BuildContextMenu(&parent);
    EXPECT_TRUE(actionFor(menu, CMyImageCtrl::kCmdCopy)->isEnabled());

    image->LoadImageFile(small);
    EXPECT_EQ(image->geometry(), QRect(40, 40, 40, 20));
    ASSERT_GE(image->Palette().size(), 2u);
    EXPECT_EQ(image->Palette()[1], qRgb(200, 100, 50));

    // The same name in another case is not loaded again.
    QString upper = QString::fromStdString(small);
    upper.replace("small.bmp", "SMALL.BMP");
    image->LoadImageFile(upper.toStdString());
    EXPECT_EQ(image->SourceName(), small);

    image->FreeImage(true);
    EXPECT_FALSE(image->HasPicture());
    EXPECT_EQ(image->geometry(), QRect(10, 10, 100, 80));
    // A file without a bitmap shows nothing.
    image->LoadImageFile(dir.path().toStdString() + "/missing.bmp");
    EXPECT_FALSE(image->HasPicture());
}

TEST(MyStaticText, StylesPaintTheirBackgrounds) {
    CMyStaticText text;
    text.resize(60, 20);
    // The default single space in style 1: the grey background only.
    QImage shot = text.grab().toImage();
    EXPECT_EQ(shot.pixelColor(30, 10), QColor(128, 128, 128));
    text.SetStyle(2);
    text.SetText("REC");
    shot = text.grab().toImage();
    EXPECT_EQ(shot.pixelColor(1, 1), QColor(0, 0, 0));
    bool green = false;
    for (int x = 0; x < shot.width(); ++x) {
        for (int y = 0; y < shot.height(); ++y) green = green || shot.pixelColor(x, y) == QColor(0, 255, 0);
    }
    EXPECT_TRUE(green);
}

TEST(CutTextCtrl, ShowsTheCutTextAndClearsIt) {
    QWidget parent;
    auto* cut = new CCutTextCtrl(8, &parent);
    cut->SetText("/home/operator/event.kiv", "second");
    EXPECT_EQ(cut->text(), "/home/op");
    EXPECT_EQ(cut->FullText(), "/home/operator/event.kiv");
    QMenu* menu = cut->BuildContextMenu(&parent);
    QAction* clear = actionFor(menu, CCutTextCtrl::kCmdClear);
    ASSERT_TRUE(clear->isEnabled());
    clear->trigger();
    EXPECT_TRUE(cut->FullText().isEmpty());
    EXPECT_TRUE(cut->SecondText().isEmpty());
    EXPECT_FALSE(actionFor(cut->BuildContextMenu(&parent), CCutTextCtrl::kCmdClear)->isEnabled());
}
