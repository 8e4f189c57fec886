// The stand-in site and the operator's program in two processes on loopback:
// the site opens its live video, the operator's program decodes and shows it
// in the remote station window, and a picture of that window (saved under the
// screenshots folder) shows the moving test pattern. Both of the site's
// streams: standard H.263 (second protocol) and the block-transform stream.

#include "trennick/app/testing/app_test_support.h"
#include "platform/process.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/app/night_tess_integration.h"
#include "trennick/book/addr_book_dialogs.h"
#include "trennick/book/addr_book_file.h"
#include "trennick/image/animate_ctrl.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/net/testing/net_test_util.h"
#include "trennick/video/lumora_remote.h"
#include "trennick/video/video_main.h"
#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_toolbar.h"
#include "tavicore/ui/ui_window.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QAction>
#include <QImage>
#include <QMenu>
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

// The operator's program as an instance of its own that calls the site.
std::vector<std::string> programArgs(const char* instance, WORD sitePort) {
    return {"/NOSPLASH", "/I", std::string("/U") + instance, "/P=" + std::to_string(nettest::freePort()),
            "/D=127.0.0.1:" + std::to_string(sitePort), "/C"};
}

// Calls the site until its video runs and a few frames were shown. The site
// starts listening a moment after its start: the call is placed again until
// it is answered.
bool watchSiteVideo(CMainFrame& frame, CRemoteWnd& remote, WORD sitePort) {
    auto lastCall = std::chrono::steady_clock::now();
    return pumpUntil(
        [&] {
            const auto now = std::chrono::steady_clock::now();
            if (!frame.Connection()->IsLinkUp() && now - lastCall > std::chrono::seconds(3)) {
                lastCall = now;
                frame.AutoConnect("127.0.0.1:" + std::to_string(sitePort));
            }
            return remote.FramesDecoded() >= 5;
        },
        std::chrono::seconds(90));
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
        CKivApp app(programArgs(c.instance, sitePort), "", quietServices(&ui));
        ASSERT_TRUE(app.InitInstance());
        CMainFrame* frame = app.MainFrame();
        ASSERT_NE(frame, nullptr);
        ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone(); }));
        CVideoMain* video = frame->VideoMain();
        ASSERT_NE(video, nullptr);
        CRemoteWnd* remote = video->RemoteWnd();
        ASSERT_NE(remote, nullptr);
        ASSERT_TRUE(watchSiteVideo(*frame, *remote, sitePort)) << "frames decoded: " << remote->FramesDecoded();
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

// The operator's controls on the site's video, each state photographed: the
// two picture sizes, the pause, the hold, a trigger from the site lighting its
// camera on the video toolbar, and the video closing when the site goes.
// The kit's client gives a window of its own: the video child goes into it,
// sized to its client area, the remote window stops decoding and drops its
// toolbar; a record without a window gives the video back and it runs again.
TEST(VideoHosting, AKitWindowHostsTheSitesVideoAndGivesItBack) {
    const WORD sitePort = nettest::freePort();
    platform::Process site = platform::Process::start("velmoor-site", {"--port", std::to_string(sitePort)});
    ASSERT_TRUE(site.valid());
    AnsweringUi ui;
    {
        CKivApp app(programArgs("24", sitePort), "", quietServices(&ui));
        ASSERT_TRUE(app.InitInstance());
        CMainFrame* frame = app.MainFrame();
        ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone(); }));
        CVideoMain* video = frame->VideoMain();
        CRemoteWnd* remote = video->RemoteWnd();
        ASSERT_NE(remote, nullptr);
        ASSERT_TRUE(watchSiteVideo(*frame, *remote, sitePort));
        CVideoWnd* child = video->VideoMgr().VideoWindow();
        ASSERT_NE(child, nullptr);

        QWidget host;
        host.resize(240, 180);
        host.show();
        auto hostRecord = std::make_unique<VideoWindowRecord>(
            VideoWindowRecord{LONG(host.winId()), 0, 0, 240, 180});
        ASSERT_TRUE(platform::PostMessageOwned(frame->Hwnd(), kMsgVideoWindowRecord, 0, std::move(hostRecord)));
        ASSERT_TRUE(pumpUntil([&] { return remote->HostedCount() == 1; }));
        EXPECT_EQ(child->parentWidget(), &host);
        EXPECT_EQ(child->size(), QSize(240, 183)) << "the host's client area plus 3 pixels of height";
        EXPECT_TRUE(child->isVisible());
        EXPECT_EQ(remote->LumoraBar(), nullptr);
        const DWORD decodedWhileHosted = remote->FramesDecoded();
        pumpUntil([] { return false; }, std::chrono::milliseconds(800));
        EXPECT_EQ(remote->FramesDecoded(), decodedWhileHosted) << "the remote window does not decode while hosted";

        // An unknown window hosts nothing.
        video->SetVideoWindowRecord(LONG(0x7FFFFF00), RECT{0, 0, 10, 10});
        EXPECT_EQ(remote->HostedCount(), 1u);

        ASSERT_TRUE(platform::PostMessageOwned(frame->Hwnd(), kMsgVideoWindowRecord, 0,
                                               std::make_unique<VideoWindowRecord>(VideoWindowRecord{})));
        ASSERT_TRUE(pumpUntil([&] { return remote->HostedCount() == 0; }));
        EXPECT_EQ(child->parentWidget(), remote->VideoArea());
        // The video child named as its own host is refused; the window keeps its toolbar.
        const auto* toolbar = remote->LumoraBar();
        video->SetVideoWindowRecord(LONG(child->winId()), RECT{0, 0, 10, 10});
        EXPECT_EQ(remote->HostedCount(), 0u);
        EXPECT_EQ(child->parentWidget(), remote->VideoArea());
        EXPECT_EQ(remote->LumoraBar(), toolbar);
        const DWORD back = remote->FramesDecoded();
        EXPECT_TRUE(pumpUntil([&] { return remote->FramesDecoded() >= back + 3; }, std::chrono::seconds(30)))
            << "the video runs in the remote window again";

        // A host window that goes while it hosts takes the child with it; the
        // window makes a new one when the video comes back.
        auto doomed = std::make_unique<QWidget>();
        doomed->resize(200, 150);
        doomed->show();
        video->SetVideoWindowRecord(LONG(doomed->winId()), RECT{0, 0, 200, 150});
        ASSERT_EQ(remote->HostedCount(), 1u);
        doomed.reset();
        EXPECT_EQ(video->VideoMgr().VideoWindow(), nullptr);
        video->SetVideoWindowRecord(0, RECT{});
        EXPECT_EQ(remote->HostedCount(), 0u);
        const DWORD again = remote->FramesDecoded();
        EXPECT_TRUE(pumpUntil([&] { return remote->FramesDecoded() >= again + 3; }, std::chrono::seconds(30)));
        ASSERT_NE(video->VideoMgr().VideoWindow(), nullptr);
        EXPECT_EQ(video->VideoMgr().VideoWindow()->parentWidget(), remote->VideoArea());

        platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
        ASSERT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
        app.ExitInstance();
    }
    site.kill(SIGTERM);
    EXPECT_NE(site.wait(20000).kind, platform::ProcessExit::Kind::Running);
}

TEST(RemoteWindow, ControlsDriveTheSitesVideoAndATriggerLightsItsCamera) {
    const WORD sitePort = nettest::freePort();
    platform::Process site = platform::Process::start(
        "velmoor-site",
        {"--port", std::to_string(sitePort), "--stream", "h263", "--cameras", "4", "--alarm-camera", "3"});
    ASSERT_TRUE(site.valid());
    AnsweringUi ui;
    {
        CKivApp app(programArgs("23", sitePort), "", quietServices(&ui));
        ASSERT_TRUE(app.InitInstance());
        CMainFrame* frame = app.MainFrame();
        ASSERT_NE(frame, nullptr);
        ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone(); }));
        CRemoteWnd* remote = frame->VideoMain()->RemoteWnd();
        ASSERT_NE(remote, nullptr);
        ASSERT_TRUE(watchSiteVideo(*frame, *remote, sitePort)) << "frames decoded: " << remote->FramesDecoded();
        CVideoWnd* child = frame->VideoMain()->VideoMgr().VideoWindow();
        ASSERT_NE(child, nullptr);

        QDir().mkpath(VELMOOR_SCREENSHOT_DIR);
        auto shot = [&](QWidget* window, const char* name) {
            window->grab().toImage().save(QString(VELMOOR_SCREENSHOT_DIR) + "/" + name + ".png");
        };
        auto shown = [&](WPARAM id) {
            QWidget* control = UiControl(remote, int(id));
            return control != nullptr && control->isVisible();
        };
        auto decodedMore = [&](DWORD count) {
            const DWORD seen = remote->FramesDecoded();
            return pumpUntil([&] { return remote->FramesDecoded() >= seen + count; }, std::chrono::seconds(30));
        };

        // Receiving a QCIF picture: the lower panel is open with the
        // statistics, the button row offers CIF and the recording start.
        ASSERT_TRUE(pumpUntil([&] { return remote->StatisticsText().rfind("Fp/s: ", 0) == 0; }))
            << remote->StatisticsText();
        EXPECT_TRUE(remote->PanelOpen());
        EXPECT_EQ(remote->size(), remote->MaximumWindowSize());
        EXPECT_EQ(remote->height(), kIdleHeight + kButtonRowHeight + kPanelHeight);
        EXPECT_TRUE(shown(ID_RW_CIF));
        EXPECT_FALSE(shown(ID_RW_QCIF));
        EXPECT_TRUE(shown(ID_RW_START));
        EXPECT_TRUE(UiControl(remote, int(ID_RW_START))->isEnabled());
        EXPECT_TRUE(UiControl(remote, int(ID_RW_HOLD))->isEnabled());
        EXPECT_FALSE(shown(ID_RW_IDLE_PICTURE));
        shot(remote, "remote_window_receiving");

        // CIF: the site changes its picture and the window grows to it; QCIF
        // brings it back.
        struct SizeStep {
            WPARAM command;
            int width, height;
            WPARAM offered;  // the size button shown afterwards
            const char* shot;
        };
        for (const SizeStep& step : {SizeStep{ID_RW_CIF, 352, 288, ID_RW_QCIF, "remote_window_cif"},
                                     SizeStep{ID_RW_QCIF, 176, 144, ID_RW_CIF, "remote_window_qcif"}}) {
            SCOPED_TRACE(step.shot);
            remote->OnCommand(step.command);
            ASSERT_TRUE(pumpUntil([&] { return child->Dib().Width() == step.width && !remote->SizeChangePending(); },
                                  std::chrono::seconds(30)));
            ASSERT_TRUE(decodedMore(3));
            EXPECT_EQ(remote->size(), QSize(step.width, step.height + kButtonRowHeight + kPanelHeight));
            EXPECT_TRUE(shown(step.offered));
            EXPECT_FALSE(shown(step.offered == ID_RW_CIF ? ID_RW_QCIF : ID_RW_CIF));
            shot(remote, step.shot);
        }

        // Pause: the site stops, the paused picture shows; resume brings the
        // pictures back.
        remote->OnCommand(ID_RW_PAUSE);
        EXPECT_EQ(remote->State(), RemoteState::Paused);
        EXPECT_TRUE(shown(ID_RW_PAUSED));
        {
            std::unique_ptr<QMenu> menu = remote->BuildContextMenu();
            bool ticked = false;
            for (QAction* action : menu->actions()) {
                if (action->data().toULongLong() == ID_RW_PAUSE) ticked = action->isChecked();
            }
            EXPECT_TRUE(ticked);
        }
        shot(remote, "remote_window_paused");
        remote->OnCommand(ID_RW_PAUSE);
        EXPECT_EQ(remote->State(), RemoteState::Receiving);
        EXPECT_FALSE(shown(ID_RW_PAUSED));
        ASSERT_TRUE(decodedMore(3)) << "the site's pictures come again";

        // Hold: the link holds the call, the hold clip takes the picture's place.
        remote->OnCommand(ID_RW_HOLD);
        ASSERT_TRUE(pumpUntil([&] { return (remote->HoldFlags() & 1) != 0; }));
        EXPECT_EQ(frame->Connection()->GetHoldStatus() & 1, 1);
        EXPECT_TRUE(shown(ID_RW_HOLD_CLIP));
        // The shipped hold clip plays in the picture's place.
        ASSERT_TRUE(remote->HoldClip()->IsOpen());
        EXPECT_TRUE(remote->HoldClip()->IsPlaying());
        const DWORD clipFrames = remote->HoldClip()->FramesShown();
        ASSERT_TRUE(pumpUntil([&] { return remote->HoldClip()->FramesShown() >= clipFrames + 3; }));
        EXPECT_TRUE(shown(ID_RW_HOLDING));
        EXPECT_FALSE(remote->VideoArea()->isVisible());
        EXPECT_EQ(remote->ToolTipText(ID_RW_HOLD), UiString(32805, ""));
        ASSERT_TRUE(pumpUntil([&] { return !shown(ID_RW_CIF) && !UiControl(remote, int(ID_RW_START))->isEnabled(); }));
        shot(remote, "remote_window_hold");
        remote->OnCommand(ID_RW_HOLD);
        ASSERT_TRUE(pumpUntil([&] { return remote->HoldFlags() == 0; }));
        EXPECT_EQ(frame->Connection()->GetHoldStatus() & 1, 0);
        EXPECT_FALSE(shown(ID_RW_HOLD_CLIP));
        EXPECT_FALSE(remote->HoldClip()->IsPlaying());
        EXPECT_TRUE(remote->VideoArea()->isVisible());
        ASSERT_TRUE(pumpUntil([&] { return shown(ID_RW_CIF); })) << "the size button comes back after the hold";
        ASSERT_TRUE(decodedMore(3));

        // The recording buttons go to the main window: start shows the stop
        // button and the recording mark, stop brings the start button back.
        remote->OnCommand(ID_RW_START);
        ASSERT_TRUE(pumpUntil([&] { return frame->IsRecording() && shown(ID_RW_STOP) && shown(ID_RW_BLINK); }));
        EXPECT_FALSE(shown(ID_RW_START));
        shot(remote, "remote_window_recording");
        remote->OnCommand(ID_RW_STOP);
        ASSERT_TRUE(pumpUntil([&] { return !frame->IsRecording() && shown(ID_RW_START); }));
        EXPECT_FALSE(shown(ID_RW_STOP));

        // Double size shows the QCIF picture at 352 x 288, and back.
        remote->OnCommand(ID_RW_DOUBLE);
        ASSERT_TRUE(decodedMore(2));
        EXPECT_EQ(child->width(), 352);
        EXPECT_EQ(remote->width(), 352);
        shot(remote, "remote_window_double");
        remote->OnCommand(ID_RW_DOUBLE);
        ASSERT_TRUE(decodedMore(2));
        EXPECT_EQ(remote->width(), kIdleWidth);

        // A trigger of the site's third camera lights that camera's button.
        ASSERT_TRUE(pumpUntil([&] { return remote->LumoraBar() != nullptr; }));
        site.kill(SIGUSR1);
        ASSERT_TRUE(pumpUntil([&] { return remote->TriggersHandled() >= 1; }, std::chrono::seconds(30)));
        EXPECT_EQ(remote->LastTriggeredCameras(), (std::vector<std::pair<int, int>>{{0, 2}}));
        CQbBar* bar = remote->LumoraBar()->GetToolBar();
        ASSERT_NE(bar, nullptr);
        UINT id = 0, style = 0;
        int image = 0;
        bar->GetButtonInfo(bar->CommandToIndex(kCmdFirstCamera + 2), id, style, image);
        EXPECT_EQ(image, kImageTriggered);
        bar->GetButtonInfo(bar->CommandToIndex(kCmdFirstCamera + 0), id, style, image);
        EXPECT_NE(image, kImageTriggered);
        shot(remote, "remote_window_trigger");
        shot(remote->LumoraBar(), "remote_toolbar_trigger");

        // The site goes: the video closes and the idle picture returns.
        site.kill(SIGTERM);
        ASSERT_TRUE(pumpUntil([&] { return remote->State() == RemoteState::Idle; }, std::chrono::seconds(30)));
        EXPECT_TRUE(shown(ID_RW_IDLE_PICTURE));
        EXPECT_FALSE(remote->VideoArea()->isVisible());
        EXPECT_EQ(remote->width(), kIdleWidth);
        EXPECT_EQ(remote->LumoraBar(), nullptr);
        EXPECT_EQ(remote->windowTitle(), QString("Remote Camera"));
        shot(remote, "remote_window_closed");
        for (const std::string& text : ui.messages) EXPECT_EQ(text.find("not available"), std::string::npos) << text;

        platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
        ASSERT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
        app.ExitInstance();
    }
    EXPECT_NE(site.wait(20000).kind, platform::ProcessExit::Kind::Running);
}

}  // namespace
