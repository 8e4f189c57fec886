// The clipboard as files and back.

#include "panels_test_support.h"
#include "trennick/panels/clipboard_files.h"

#include <QImage>
#include <QMimeData>
#include <gtest/gtest.h>
#include <memory>

using namespace trennick;
using namespace panelstest;

TEST(ClipboardFiles, TextAndPictureBecomeFilesAndComeBack) {
    QImage picture(33, 17, QImage::Format_RGB32);
    picture.fill(QColor(10, 200, 30));
    picture.setPixelColor(3, 4, QColor(250, 1, 2));
    QMimeData data;
    data.setText("Gate 4 is open \xc3\xa9");
    data.setImageData(picture);
    data.setData(ClipboardFormatMime(9), "palette bytes");       // never sent
    data.setData(ClipboardFormatMime(49999), "private bytes");   // a private format: never sent
    data.setData(ClipboardFormatMime(12), QByteArray("RIFF\0wave", 9));
    data.setData("text/html", "<b>not a format of ours</b>");

    const std::string folder = (platform::homeFolder() / "Temp").string();
    const ClipboardWrite written = WriteClipboardFiles(data, folder);
    EXPECT_EQ(written.failedMessage, 0u);
    std::vector<std::string> names;
    for (const auto& p : written.paths) names.push_back(std::filesystem::path(p).filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Text.clp", "bitmap.clp", "wave.clp"}));
    EXPECT_EQ(readAll(folder + "/Text.clp"), std::string("Gate 4 is open \xc3\xa9") + '\0');
    EXPECT_EQ(readAll(folder + "/bitmap.clp").substr(0, 2), "BM");

    std::unique_ptr<QMimeData> text(ReadClipboardFile(folder + "/Text.clp"));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->text().toStdString(), "Gate 4 is open \xc3\xa9");
    std::unique_ptr<QMimeData> image(ReadClipboardFile(folder + "/bitmap.clp"));
    ASSERT_NE(image, nullptr);
    const QImage back = qvariant_cast<QImage>(image->imageData());
    ASSERT_EQ(back.size(), picture.size());
    EXPECT_EQ(back.pixelColor(3, 4), QColor(250, 1, 2));
    EXPECT_EQ(back.pixelColor(0, 0), QColor(10, 200, 30));
    std::unique_ptr<QMimeData> wave(ReadClipboardFile(folder + "/wave.clp"));
    ASSERT_NE(wave, nullptr);
    EXPECT_EQ(wave->data(ClipboardFormatMime(12)), QByteArray("RIFF\0wave", 9));
}

TEST(ClipboardFiles, NamesThatAreNotClipboardFilesAndBadPicturesAreIgnored) {
    const auto folder = platform::homeFolder() / "in";
    writeFile(folder / "notes.txt", "text");
    writeFile(folder / "bitmap.clp", "BM but nothing after it");
    writeFile(folder / "private.clp", "x");
    EXPECT_EQ(ReadClipboardFile((folder / "notes.txt").string()), nullptr);
    EXPECT_EQ(ReadClipboardFile((folder / "bitmap.clp").string()), nullptr);
    EXPECT_EQ(ReadClipboardFile((folder / "private.clp").string()), nullptr);
    EXPECT_EQ(ReadClipboardFile((folder / "missing" / "Text.clp").string()), nullptr);

    QMimeData onlyPrivate;
    onlyPrivate.setData(ClipboardFormatMime(49999), "x");
    onlyPrivate.setData("text/html", "<i>x</i>");
    EXPECT_TRUE(WriteClipboardFiles(onlyPrivate, (platform::homeFolder() / "Temp2").string()).paths.empty());
}

// A peer's packed-bitmap clipboard file shorter than a bitmap header, or one
// whose header claims more than the file holds, gives no picture and is
// never read past its end.
TEST(ClipboardFiles, PackedBitmapsShorterThanTheirHeaderAreRefused) {
    const auto folder = platform::homeFolder() / "short";
    std::string info(40, '\0');
    info[0] = 40;  // a bitmap-info header's size, then nothing of the header
    for (std::size_t size = 1; size < 40; ++size) {
        SCOPED_TRACE(size);
        writeFile(folder / "DIB.clp", info.substr(0, size));
        EXPECT_EQ(ReadClipboardFile((folder / "DIB.clp").string()), nullptr);
    }
    std::string core(12, '\0');
    core[0] = 12;  // a core header names 12 bytes: 11 are too few
    writeFile(folder / "DIB.clp", core.substr(0, 11));
    EXPECT_EQ(ReadClipboardFile((folder / "DIB.clp").string()), nullptr);

    // A whole packed bitmap still comes through.
    QImage picture(4, 3, QImage::Format_RGB32);
    picture.fill(QColor(1, 2, 3));
    QMimeData data;
    data.setImageData(picture);
    const ClipboardWrite written = WriteClipboardFiles(data, (folder / "whole").string());
    ASSERT_EQ(written.paths.size(), 1u);
    const std::string file = readAll(written.paths[0]);
    ASSERT_GT(file.size(), 14u);
    writeFile(folder / "DIB.clp", file.substr(14));  // the bitmap without its file header
    std::unique_ptr<QMimeData> back(ReadClipboardFile((folder / "DIB.clp").string()));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(qvariant_cast<QImage>(back->imageData()).size(), picture.size());
}
