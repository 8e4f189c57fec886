// The stand-in site and the operator's program in two processes on loopback:
// the site opens its live video, the operator's program decodes and shows it
// in the remote station window, and a picture of that window (saved under the
// screenshots folder) shows the moving test pattern. Both of the site's
// streams: standard H.263 (second protocol) and the block-transform stream.

#include "app_test_support.h"
#include "platform/process.h"
#include "trennick/app/frame_messages.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/book/addr_book_dialogs.h"
#include "trennick/book/addr_book_file.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/net/testing/net_test_util.h"
#include "trennick/video/lumora_remote.h"
#include "trennick/video/video_main.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <csignal>
#include <set>

using namespace trennick;
using namespace apptest;

namespace {

// Distinct colours in a grid of sample points: a blank or flat window has one or two.
int distinctColours(const QImage& image) {
    std::set<QRgb> colours;
    for (int y = 4; y < image.height(); y += 7) {
        for (int x = 4; x < image.width(); x += 7) colours.insert(image.pixel(x, y));
    }
    return int(colours.size());
}

struct StreamCase {
    const char* stream;
    const char* instance;
    int width;  // the picture the operator sees
};

class VideoDisplay : public ::testing::TestWithParam<StreamCase> {};

TEST_P(VideoDisplay, SiteVideoIsDecodedAndShownInTheRemoteWindow) {
    const StreamCase c = GetParam();
    const WORD sitePort = nettest::freePort();
    platform::Process site =
        platform::Process::start("velmoor-site", {"--port", std::to_string(sitePort), "--stream", c.stream});
    ASSERT_TRUE(site.valid());
    AnsweringUi ui;
    {
        CKivApp app({"/NOSPLASH", "/I", std::string("/U") + c.instance, "/P=" + std::to_string(nettest::freePort()),
                     "/D=127.0.0.1:" + std::to_string(sitePort), "/C"},
                    "", quietServices(&ui));
        ASSERT_TRUE(app.InitInstance());
        CMainFrame* frame = app.MainFrame();
        ASSERT_NE(frame, nullptr);
        ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone(); }));
        CVideoMain* video = frame->VideoMain();
        ASSERT_NE(video, nullptr);
        CRemoteWnd* remote = video->RemoteWnd();
        ASSERT_NE(remote, nullptr);
        // The site starts listening a moment after its start: the call is
        // placed again until it is answered.
        auto lastCall = std::chrono::steady_clock::now();
        ASSERT_TRUE(pumpUntil(
            [&] {
                const auto now = std::chrono::steady_clock::now();
                if (!frame->Connection()->IsLinkUp() && now - lastCall > std::chrono::seconds(3)) {
                    lastCall = now;
                    frame->AutoConnect("127.0.0.1:" + std::to_string(sitePort));
                }
                return remote->FramesDecoded() >= 5;
            },
            std::chrono::seconds(90)))
            << "frames decoded: " << remote->FramesDecoded();
        EXPECT_EQ(remote->State(), RemoteState::Receiving);
        CVideoWnd* child = video->VideoMgr().VideoWindow();
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(child->Dib().Width(), c.width);
        // The capture object standing for the site's card sends on the link.
        EXPECT_TRUE(frame->RemoteCapture()->SetVideoInput(0, 1, 0));

        QDir().mkpath(VELMOOR_SCREENSHOT_DIR);
        const QImage first = remote->grab().toImage();
        first.save(QString(VELMOOR_SCREENSHOT_DIR) + "/video_window_" + c.stream + ".png");
        EXPECT_GT(distinctColours(first), 20) << "the test pattern, not a blank window";
        const DWORD seen = remote->FramesDecoded();
        ASSERT_TRUE(pumpUntil([&] { return remote->FramesDecoded() >= seen + 3; }, std::chrono::seconds(30)));
        const QImage later = remote->grab().toImage();
        EXPECT_NE(first, later) << "the pattern moves from frame to frame";

        // A size the site announces beyond the largest picture is bounded.
        remote->OnNewVideoSettings(3, 5000, 4000, 10);
        const DWORD before = remote->FramesDecoded();
        ASSERT_TRUE(pumpUntil([&] { return remote->FramesDecoded() >= before + 2; }, std::chrono::seconds(30)));
        EXPECT_LE(child->Dib().Width(), 352);
        EXPECT_LE(child->Dib().Height(), 288);
        EXPECT_LE(child->width(), 352);

        // The main frame's video display commands hide and show the window.
        frame->OnCommand(ID_DISPLAY_OFF);
        EXPECT_FALSE(remote->isVisible());
        frame->OnCommand(ID_DISPLAY_ON);
        EXPECT_TRUE(remote->isVisible());
        for (const std::string& text : ui.messages) EXPECT_EQ(text.find("not available"), std::string::npos) << text;

        // Capture takes the picture the display shows into a new file of the
        // site's snapshots; the address book's entry editor uses it.
        const std::string captured = frame->CaptureVideoPicture();
        ASSERT_FALSE(captured.empty());
        const QImage picture(QString::fromStdString(captured));
        EXPECT_EQ(picture.width(), child->width());
        EXPECT_GT(distinctColours(picture), 20) << "the test pattern, not a blank picture";
        {
            AddrBookEntry entry;
            CEditAddrBook editor("Edit", entry, nullptr, nullptr);
            auto* capture = UiControl<QPushButton>(&editor, CEditAddrBook::kCaptureId);
            ASSERT_NE(capture, nullptr);
            EXPECT_TRUE(capture->isEnabled());
            QTest::mouseClick(capture, Qt::LeftButton);
            EXPECT_FALSE(editor.PicturePath().isEmpty());
            EXPECT_NE(editor.PicturePath().toStdString(), captured) << "each capture is a file of its own";
            EXPECT_TRUE(QImage(editor.PicturePath()).width() > 0);
        }


        platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
        ASSERT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
        app.ExitInstance();
        // Without the video display there is nothing to capture.
        AddrBookEntry entry;
        CEditAddrBook editor("Edit", entry, nullptr, nullptr);
        EXPECT_FALSE(UiControl<QPushButton>(&editor, CEditAddrBook::kCaptureId)->isEnabled());
    }
    site.kill(SIGTERM);
    EXPECT_NE(site.wait(20000).kind, platform::ProcessExit::Kind::Running);
}

INSTANTIATE_TEST_SUITE_P(Streams, VideoDisplay,
                         ::testing::Values(StreamCase{"h263", "21", 176}, StreamCase{"block", "22", 320}),
                         [](const auto& info) { return std::string(info.param.stream); });

}  // namespace
