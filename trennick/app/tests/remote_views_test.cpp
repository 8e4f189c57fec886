// The remote views through the real program connected to the stand-in site in
// another process: the camera sequence of the split view switches the site's
// cameras on the sequence clock (an injected clock); a snapshot asked of the
// site comes back and is shown, a save into a folder that cannot be written is
// reported, the fast snapshot is stored as an event; the link profile window
// shows the live link. Screenshots of each window are saved.

#include "trennick/app/testing/app_test_support.h"
#include "platform/message_window.h"
#include "platform/process.h"
#include "tavicore/ui/testing/ui_test_support.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/frame_panels.h"
#include "trennick/app/frame_remote_views.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/app/received_video.h"
#include "trennick/image/image_wnd.h"
#include "trennick/image/snapshot_wnd.h"
#include "trennick/net/testing/net_test_util.h"
#include "trennick/panels/profile_wnd.h"
#include "trennick/panels/statistics_dlg.h"
#include "trennick/panels/receive_snapshot.h"
#include "trennick/panels/remote_quad_dlg.h"
#include "trennick/record/remote_quad.h"
#include "trennick/video/remote_wnd.h"
#include "trennick/video/video_main.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QAction>
#include <QRadioButton>
#include <atomic>
#include <csignal>
#include <filesystem>

using namespace trennick;
using namespace apptest;
namespace fs = std::filesystem;

namespace {

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The stand-in site (H.263, four cameras, no quad input of its own: the
// program's quad view is its split view) with its log, and the operator's
// program calling it, on a clock the test moves.
class RemoteViews : public ::testing::Test {
protected:
    void SetUp() override {
        home = std::getenv("VELMOOR_HOME");
        siteLog = home / "site.log";
        const auto program = platform::findProgram("velmoor-site");
        ASSERT_TRUE(program.has_value());
        sitePort = nettest::freePort();
        site = platform::Process::start(
            "sh", {"-c", "exec \"" + program->string() + "\" --port " + std::to_string(sitePort) +
                             " --cameras 4 --no-quad --name 'Views site' > \"" + siteLog.string() + "\" 2>&1"});
        ASSERT_TRUE(site.valid());
        ASSERT_TRUE(pumpUntil([&] { return readAll(siteLog).find("listening on port") != std::string::npos; },
                              std::chrono::seconds(60)))
            << readAll(siteLog);
        AppServices services = quietServices(&ui);
        services.clock = [this] { return clock.load(); };
        app = std::make_unique<CKivApp>(
            std::vector<std::string>{"/NOSPLASH", "/I", "/U" + std::string(instance()),
                                     "/P=" + std::to_string(nettest::freePort()),
                                     "/D=127.0.0.1:" + std::to_string(sitePort), "/C"},
            "", services);
        ASSERT_TRUE(app->InitInstance());
        frame = app->MainFrame();
        ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone(); }));
        remote = frame->VideoMain()->RemoteWnd();
        ASSERT_NE(remote, nullptr);
        ASSERT_TRUE(pumpUntil([&] { return remote->FramesDecoded() >= 3; }, std::chrono::seconds(90)))
            << readAll(siteLog);
    }
    void TearDown() override {
        if (app != nullptr) {
            platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
            EXPECT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }, std::chrono::seconds(60)));
            app->ExitInstance();
            app.reset();
        }
        if (site.valid()) {
            site.kill(SIGTERM);
            site.wait(20000);
        }
    }
    virtual const char* instance() const = 0;
    bool framesMore(DWORD n) {
        const DWORD seen = remote->FramesDecoded();
        return pumpUntil([&] { return remote->FramesDecoded() >= seen + n; }, std::chrono::seconds(60));
    }

    fs::path home, siteLog;
    WORD sitePort = 0;
    platform::Process site;
    AnsweringUi ui;
    std::atomic<DWORD> clock{100000};
    std::unique_ptr<CKivApp> app;
    CMainFrame* frame = nullptr;
    CRemoteWnd* remote = nullptr;
};

class QuadView : public RemoteViews {
    const char* instance() const override { return "31"; }
};
class Snapshots : public RemoteViews {
    const char* instance() const override { return "32"; }
};
class LinkProfile : public RemoteViews {
    const char* instance() const override { return "33"; }
};
class RemoteWindowViews : public RemoteViews {
    const char* instance() const override { return "34"; }
};

}  // namespace

TEST_F(QuadView, SequenceSwitchesTheSitesCamerasOnItsClock) {
    CFrameRemoteViews* views = frame->RemoteViews();
    ASSERT_NE(views, nullptr);
    CRemoteQuad* quad = views->SplitView();
    ASSERT_NE(quad, nullptr);
    // Cameras 1 and 3 (0 and 2) in the cycle, two seconds apart.
    for (WORD c = 0; c < kQuadCameras; ++c) quad->SetCameraInSequence(c, c == 0 || c == 2);
    quad->SetSequenceDelay(2);
    quad->AssignPanes();
    frame->OnCommand(ID_SEQUENCE_ON);
    CVideoRecorder& recorder = frame->ReceivedVideo()->Recorder();
    ASSERT_TRUE(recorder.IsSplitOrAutoSwitchMode());
    EXPECT_EQ(quad->rqGetPaneCount(), 2);

    // The first switch is due at once: the site is asked for camera 2 (input
    // 2), and its pictures come.
    ASSERT_TRUE(pumpUntil([&] { return readAll(siteLog).find("camera 2 selected") != std::string::npos; },
                          std::chrono::seconds(30)))
        << readAll(siteLog);
    ASSERT_TRUE(pumpUntil([&] { return recorder.CurrentCamera() == 2; }, std::chrono::seconds(30)));
    // With the clock held, no further switch however many pictures come.
    const std::size_t backToZero = countOf(readAll(siteLog), "camera 0 selected");
    ASSERT_TRUE(framesMore(10));
    EXPECT_EQ(countOf(readAll(siteLog), "camera 0 selected"), backToZero);
    EXPECT_EQ(recorder.CurrentCamera(), 2);
    // Just under the delay: still none; past it: the cycle goes on to camera 0.
    clock += 2000;
    ASSERT_TRUE(framesMore(5));
    EXPECT_EQ(countOf(readAll(siteLog), "camera 0 selected"), backToZero);
    clock += 1;
    ASSERT_TRUE(pumpUntil([&] { return countOf(readAll(siteLog), "camera 0 selected") > backToZero; },
                          std::chrono::seconds(30)))
        << readAll(siteLog);
    ASSERT_TRUE(pumpUntil([&] { return recorder.CurrentCamera() == 0; }, std::chrono::seconds(30)));
    uitest::saveScreenshot(remote, "remote_quad_sequence");

    // The sequence settings dialog: one camera left in the cycle ends the
    // split view and brings camera 0 back.
    frame->OnCommand(ID_QUAD_SETTINGS);
    CRemoteQuadDlg* dialog = views->QuadDialog();
    ASSERT_NE(dialog, nullptr);
    uitest::saveScreenshot(dialog, "remote_quad_settings");
    dialog->reject();
    ASSERT_TRUE(pumpUntil([&] { return views->QuadDialog() == nullptr; }));
    EXPECT_TRUE(recorder.IsSplitOrAutoSwitchMode()) << "a cancelled dialog changes nothing";
}

TEST_F(Snapshots, SiteSnapshotIsShownAndAnUnwritableSaveIsReported) {
    CFrameRemoteViews* views = frame->RemoteViews();
    ASSERT_NE(views, nullptr);
    frame->OnCommand(ID_REQUEST_SNAPSHOT);
    CReceiveSnapshot* dialog = views->SnapshotDialog();
    ASSERT_NE(dialog, nullptr);
    static_cast<QRadioButton*>(dialog->Control(kSnapRes1))->setChecked(true);
    static_cast<QRadioButton*>(dialog->Control(kSnapRemote))->setChecked(true);
    static_cast<QCheckBox*>(dialog->Control(kSnapCompress))->setChecked(true);
    static_cast<QLineEdit*>(dialog->Control(kSnapQuality))->setText("60");
    dialog->accept();
    ASSERT_TRUE(pumpUntil([&] { return views->SnapshotDialog() == nullptr; }));
    EXPECT_EQ(views->SnapshotsRequested(), 1u);
    ASSERT_TRUE(pumpUntil([&] { return readAll(siteLog).find("snapshot of camera") != std::string::npos; },
                          std::chrono::seconds(30)))
        << readAll(siteLog);
    EXPECT_NE(readAll(siteLog).find("352x288 JPEG quality 60"), std::string::npos) << readAll(siteLog);
    ASSERT_TRUE(pumpUntil([&] { return views->SnapshotWindow() != nullptr && views->SnapshotWindow()->isVisible(); },
                          std::chrono::seconds(60)));
    CSnapshotWnd* window = views->SnapshotWindow();
    EXPECT_EQ(window->ImageWindow()->ImageWidth(), 352);
    EXPECT_EQ(window->ImageWindow()->ImageHeight(), 288);
    EXPECT_NE(window->windowTitle().toStdString().find("Views site - "), std::string::npos);
    EXPECT_FALSE(window->TextLine().empty());
    uitest::saveScreenshot(window, "snapshot_window");
    const std::string shown = window->CurrentFile();
    ASSERT_TRUE(fs::exists(shown));

    // A folder that cannot hold it: reported, the picture stays.
    const fs::path blocker = home / "not-a-folder";
    std::ofstream(blocker) << "x";
    window->SetPathChooser([&](const std::string&) { return (blocker / "gate.bmp").string(); });
    window->OnSaveAsBitmap();
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_NE(ui.messages.back().find("was not saved"), std::string::npos) << ui.messages.back();
    EXPECT_EQ(window->CurrentFile(), shown);
    EXPECT_TRUE(fs::exists(shown));
    // A folder that can: moved there whole.
    const auto bytes = readAll(shown);
    const fs::path target = home / "saved" / "gate.bmp";
    fs::create_directories(target.parent_path());
    window->SetPathChooser([&](const std::string&) { return target.string(); });
    window->OnSaveAsBitmap();
    EXPECT_EQ(window->CurrentFile(), target.string());
    EXPECT_EQ(readAll(target), bytes);
    EXPECT_FALSE(fs::exists(shown));

    // The fast snapshot, from the stored choice: the picture shown here is
    // kept as a manual event of the site, and shown; nothing is asked.
    SnapshotChoice fast = ReadSnapshotChoice();
    fast.fast = 1;
    WriteSnapshotChoice(fast);
    const std::size_t asked = countOf(readAll(siteLog), "snapshot of camera");
    const std::size_t messages = ui.messages.size();
    frame->OnCommand(ID_SNAPSHOT_STORED);
    EXPECT_EQ(views->SnapshotsRequested(), 1u);
    EXPECT_EQ(ui.messages.size(), messages) << ui.messages.back();
    EXPECT_EQ(window->ImageWindow()->ImageWidth(), frame->VideoMain()->VideoMgr().VideoWindow()->Dib().Width());
    ASSERT_TRUE(framesMore(3));
    EXPECT_EQ(countOf(readAll(siteLog), "snapshot of camera"), asked);
}

TEST_F(LinkProfile, WindowShowsTheLiveLinkOnceAndGoesWhenClosed) {
    CFrameRemoteViews* views = frame->RemoteViews();
    ASSERT_NE(views, nullptr);
    frame->OnCommand(ID_START_PROFILE);
    CProfile* window = views->Profile();
    ASSERT_NE(window, nullptr);
    frame->OnCommand(ID_START_PROFILE);
    EXPECT_EQ(views->Profile(), window) << "one window at most";
    // Each second of its clock the link pushes its figures: bytes, buckets,
    // frames. The window's own second shows the status text.
    ASSERT_TRUE(pumpUntil(
        [&] {
            clock += 50;
            return window->Text(kProfCps).find("cps") != std::string::npos && window->Text(kProfCount1) != "0" &&
                   window->Text(kProfFps) != "0.00 fps";
        },
        std::chrono::seconds(30)));
    ASSERT_TRUE(pumpUntil([&] { return !window->Text(kProfStatusText).empty(); }));
    EXPECT_EQ(window->Text(kProfLinkState).rfind("0x", 0), 0u);
    EXPECT_EQ(window->Text(kProfVideoStatus).rfind("W0,", 0), 0u);
    uitest::saveScreenshot(window, "link_profile");
    // The remote window hands over each decoded frame's length.
    ASSERT_TRUE(pumpUntil([&] { return window->Figures().lastFrameLength > 0; }));
    // The stream opened before the window: its video timer does not run. A
    // new call's stream starts it.
    EXPECT_EQ(window->RunningTimers() & kProfileVideoTimer, 0u);
    frame->OnCommand(ID_CONNECT_DISCONNECT);
    ASSERT_TRUE(pumpUntil([&] { return !frame->Connection()->IsLinkUp(); }, std::chrono::seconds(30)));
    auto lastCall = std::chrono::steady_clock::now() - std::chrono::seconds(10);
    ASSERT_TRUE(pumpUntil(
        [&] {
            if (!frame->Connection()->IsLinkUp() && std::chrono::steady_clock::now() - lastCall > std::chrono::seconds(3)) {
                lastCall = std::chrono::steady_clock::now();
                frame->AutoConnect("127.0.0.1:" + std::to_string(sitePort));
            }
            return (window->RunningTimers() & kProfileVideoTimer) != 0;
        },
        std::chrono::seconds(60)))
        << readAll(siteLog);
    ASSERT_TRUE(framesMore(3));
    // "Set" keeps the tuning in the program's video settings.
    window->SetEdit(kProfBlock, 777);
    window->Apply();
    EXPECT_EQ(frame->Settings().video.BytesPerFrame, 777u);
    window->close();
    ASSERT_TRUE(pumpUntil([&] { return views->Profile() == nullptr; }));
    frame->OnCommand(ID_START_PROFILE);
    EXPECT_NE(views->Profile(), nullptr) << "a new one after the first closed";
}

// The remote window's own entry points open the program's windows: its quad
// settings item the sequence settings dialog, its quad button the split view
// (a camera button ends it), its snapshot request item the snapshot dialog
// and its snapshot button a snapshot with the stored choice.
TEST_F(RemoteWindowViews, QuadAndSnapshotEntryPointsOpenTheProgramsWindows) {
    CFrameRemoteViews* views = frame->RemoteViews();
    ASSERT_NE(views, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return frame->Connection()->IsConnected(); }));
    auto snapshotButton = [&] { return UiControl(remote, int(ID_RW_SNAPSHOT)); };

    remote->OnCommand(ID_RW_QUAD_SETTINGS);
    ASSERT_TRUE(pumpUntil([&] { return views->QuadDialog() != nullptr; }));
    views->QuadDialog()->reject();
    ASSERT_TRUE(pumpUntil([&] { return views->QuadDialog() == nullptr; }));

    CVideoRecorder& recorder = frame->ReceivedVideo()->Recorder();
    ASSERT_FALSE(recorder.IsSplitOrAutoSwitchMode());
    remote->OnCommand(ID_RW_QUAD);
    EXPECT_TRUE(recorder.IsSplitOrAutoSwitchMode());
    EXPECT_FALSE(snapshotButton()->isEnabled()) << "no snapshot of a split picture";
    auto menuItemEnabled = [&](WPARAM id) {
        std::unique_ptr<QMenu> menu = remote->BuildContextMenu();
        for (QAction* action : menu->actions()) {
            if (action->data().toULongLong() == id) return action->isEnabled();
        }
        ADD_FAILURE() << "no menu item " << id;
        return false;
    };
    EXPECT_TRUE(menuItemEnabled(ID_RW_FRAME_32826));
    EXPECT_FALSE(menuItemEnabled(ID_RW_FRAME_32822)) << "a single picture's command, not in split view";
    ASSERT_TRUE(framesMore(3));
    uitest::saveScreenshot(remote, "remote_window_split");
    remote->OnCommand(ID_RW_CAMERA_FIRST + 1);
    EXPECT_FALSE(recorder.IsSplitOrAutoSwitchMode());
    EXPECT_TRUE(snapshotButton()->isEnabled());
    EXPECT_TRUE(menuItemEnabled(ID_RW_FRAME_32822));
    EXPECT_TRUE(menuItemEnabled(ID_RW_FRAME_32826));
    ASSERT_TRUE(pumpUntil([&] { return readAll(siteLog).find("camera 1 selected") != std::string::npos; },
                          std::chrono::seconds(30)))
        << readAll(siteLog);

    remote->OnCommand(ID_RW_SNAPSHOT_DIALOG);
    ASSERT_TRUE(pumpUntil([&] { return views->SnapshotDialog() != nullptr; }));
    views->SnapshotDialog()->reject();
    ASSERT_TRUE(pumpUntil([&] { return views->SnapshotDialog() == nullptr; }));
    EXPECT_EQ(views->SnapshotsRequested(), 0u) << "a cancelled request asks nothing";

    // The stored choice asks the site; its picture is shown.
    SnapshotChoice stored = ReadSnapshotChoice();
    stored.fast = 0;
    WriteSnapshotChoice(stored);
    remote->OnCommand(ID_RW_SNAPSHOT);
    ASSERT_TRUE(pumpUntil([&] { return views->SnapshotsRequested() == 1; }));
    ASSERT_TRUE(pumpUntil([&] { return views->SnapshotWindow() != nullptr && views->SnapshotWindow()->isVisible(); },
                          std::chrono::seconds(60)))
        << readAll(siteLog);
    for (const std::string& text : ui.messages) EXPECT_EQ(text.find("not available"), std::string::npos) << text;
}

// The link statistics dialog shows the received video's figures that the
// remote window gives: a frame rate, an average frame size, a line use.
TEST_F(RemoteWindowViews, StatisticsDialogShowsTheReceivedVideosFigures) {
    CFramePanels* panels = frame->Panels();
    ASSERT_NE(panels, nullptr);
    // The figures are those of the window's current period, which restarts
    // every second: the dialog is opened again until the period holds frames.
    ASSERT_TRUE(pumpUntil(
        [&] {
            if (panels->Statistics() != nullptr) panels->Statistics()->close();
            frame->OnCommand(ID_STATISTICS);
            CStatistics* dialog = panels->Statistics();
            return dialog != nullptr && dialog->Text(kStatReceiveFrameSize) != "0";
        },
        std::chrono::seconds(30)));
    CStatistics* dialog = panels->Statistics();
    EXPECT_NE(dialog->Text(kStatReceiveFrameRate), "0");
    EXPECT_NE(dialog->Text(kStatReceiveFrameRate), "0.00");
    EXPECT_GT(std::stoul(dialog->Text(kStatReceiveFrameSize)), 0ul);
    EXPECT_EQ(dialog->Text(kStatSendFrameRate), "0") << "the send side has no frame count";
    uitest::saveScreenshot(dialog, "link_statistics_video");
    DWORD elapsedMs = 0, frames = 0, bytes = 0;
    remote->GetStatistics(elapsedMs, frames, bytes);
    EXPECT_GE(bytes, frames);
}

// The operator's choices in the remote window (always on top, double size,
// frame rate) are kept with the program's video settings when it closes.
TEST_F(RemoteWindowViews, OperatorsWindowChoicesAreKeptWithTheVideoSettings) {
    const VideoRecord before = frame->Settings().video;
    remote->OnCommand(ID_RW_ON_TOP);
    remote->OnCommand(ID_RW_DOUBLE);
    const DWORD rate = before.RemotePreferRate == 30 ? 40 : 30;
    platform::PostMessage(remote->Handle(), kMsgRemoteFrameRate, rate, 0);
    ASSERT_TRUE(pumpUntil([&] {
        RemoteVideoSettings shown;
        remote->GetVideoSettings(shown);
        return shown.frameRate == rate;
    }));
    platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }, std::chrono::seconds(60)));
    const VideoRecord& kept = frame->Settings().video;
    EXPECT_EQ(kept.RemoteAlwaysOnTop, before.RemoteAlwaysOnTop != 0 ? 0u : 1u);
    EXPECT_EQ(kept.RemoteDoubleSize, before.RemoteDoubleSize != 0 ? 0u : 1u);
    EXPECT_EQ(kept.RemotePreferRate, rate);
}
