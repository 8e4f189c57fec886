#include "tavicore/ui_engine.h"
#include "tavicore/frame_rtv.h"
#include "tavicore/ui/ui_prog_manager.h"
#include "tavicore/ui/ui_time_msg_box.h"

#include "platform/folders.h"
#include "platform/local_bus.h"
#include "platform/testing/child_process.h"
#include "tavicore/ui/testing/ui_test_support.h"
#include "common/kc_ini.h"
#include "tavicore/testing/card_test_support.h"

#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Records the messages it gets.
class Recorder : public platform::MessageWindow {
public:
    struct Message {
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
        std::string data;
    };
    std::vector<Message> messages;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        Message m{msg, wParam, lParam, {}};
        if (msg == platform::WM_COPYDATA) {
            const auto* copy = reinterpret_cast<const platform::COPYDATASTRUCT*>(lParam);
            m.data.assign(static_cast<const char*>(copy->lpData), copy->cbData);
        }
        messages.push_back(m);
        return 1;
    }
};

void waitUntil(const std::function<bool()>& done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
}

void touch(const fs::path& file) {
    std::ofstream(file) << "x";
}

}  // namespace

VELMOOR_TEST_CHILD(second_instance) {
    CProgManager manager("/tmp/", "child");
    return manager.IsSecondInstance();
}

TEST(TimeMsgBox, ShowsStringTenThousandForAnEmptyCaptionAndHidesAfterItsTime) {
    uitest::installLanguage();
    uitest::Guard guard;
    CTimeMsgBox box;
    EXPECT_FALSE(box.isVisible());  // hidden until the first message
    EXPECT_EQ(box.DisplayMessage("Recording stopped: the disk is full.", "", 0, 40), 1);
    EXPECT_TRUE(box.isVisible());
    EXPECT_EQ(box.windowTitle().toStdString(), UiString(10000));
    EXPECT_EQ(UiControl<QLabel>(&box, 1047)->text(), "Recording stopped: the disk is full.");
    EXPECT_NE(UiControl<QLabel>(&box, 65535), nullptr);
    uitest::saveScreenshot(&box, "timed_message_box");
    waitUntil([&] { return !box.isVisible(); });

    // Shown again by the same object, with its own caption.
    box.DisplayMessage("Second", "Notice", 0, 60000);
    EXPECT_TRUE(box.isVisible());
    EXPECT_EQ(box.windowTitle(), "Notice");
}

TEST(TimeMsgBox, SecondMessageReplacesTheTextAndRestartsTheTimer) {
    uitest::installLanguage();
    uitest::Guard guard;
    CTimeMsgBox box;
    box.DisplayMessage("first", "A", 0, 600000);
    box.DisplayMessage("second", "B", 0, 30);  // the new, short time counts
    EXPECT_EQ(UiControl<QLabel>(&box, 1047)->text(), "second");
    EXPECT_EQ(box.displayTimeMs(), 30u);
    waitUntil([&] { return !box.isVisible(); });
}

TEST(TimeMsgBox, OkBeforeTheTimeHidesAndStopsTheTimer) {
    uitest::installLanguage();
    CTimeMsgBox box;
    box.DisplayMessage("text", "", 0, 600000);
    QTest::mouseClick(UiControl<QPushButton>(&box, IDOK), Qt::LeftButton);
    EXPECT_FALSE(box.isVisible());
    EXPECT_FALSE(platform::KillTimer(box.messageHandle(), CTimeMsgBox::kTimerId));  // none left

    // HideMessage leaves the timer running; its tick only hides again.
    box.DisplayMessage("text", "", 0, 600000);
    box.HideMessage();
    EXPECT_FALSE(box.isVisible());
    EXPECT_TRUE(platform::KillTimer(box.messageHandle(), CTimeMsgBox::kTimerId));
}

TEST(ProgManager, InstalledModesByTheProgramsInTheFolder) {
    const fs::path folder = platform::homeFolder() / "suite";
    fs::create_directories(folder);
    CProgManager manager((folder.string() + "/").c_str(), "1");
    EXPECT_EQ(manager.GetInstalledModes(), 0);
    touch(folder / "pallomar.exe");
    EXPECT_EQ(manager.GetInstalledModes(), kModeDayRecorder);
    touch(folder / "trennick");  // our programs carry no extension
    EXPECT_EQ(manager.GetInstalledModes(), kModeDayRecorder | kModeMainRecorder);
    EXPECT_EQ(manager.FindFile((folder / "missing").c_str()), 0);
    EXPECT_EQ(manager.LaunchApp(0, (folder / "missing").c_str()), 0);
    EXPECT_EQ(manager.DoVideoSource(nullptr, nullptr, 0, nullptr), 1);
}

TEST(ProgManager, SecondInstanceWhileTheFirstLives) {
    {
        CProgManager first("/tmp/", "1");
        EXPECT_EQ(first.IsSecondInstance(), 0);
        EXPECT_EQ(velmoor::testing::ChildProcess::start("second_instance").wait(10s), 1);
    }
    EXPECT_EQ(velmoor::testing::ChildProcess::start("second_instance").wait(10s), 0);
}

TEST(ProgManager, LaunchAppStartsAProgram) {
    const fs::path folder = platform::homeFolder() / "suite";
    fs::create_directories(folder);
    const fs::path script = folder / "helper.sh";
    const fs::path mark = folder / "started";
    std::ofstream(script) << "#!/bin/sh\ntouch '" << mark.string() << "'\n";
    fs::permissions(script, fs::perms::owner_all);
    uitest::Guard guard;
    CProgManager manager((folder.string() + "/").c_str(), "1");
    EXPECT_EQ(manager.LaunchApp(0, script.c_str()), 1);
    waitUntil([&] { return fs::exists(mark); });
}

TEST(Options, OkPostsTheTwoChoicesToTheParent) {
    uitest::installLanguage();
    uitest::Guard guard;
    Recorder parent;
    ASSERT_TRUE(parent.create());
    struct Case {
        int first, second;
        bool flip;
        WPARAM w;
        LPARAM l;
    } cases[] = {{1, 0, false, 1, 0}, {0, 3, false, 0, 1}, {1, 0, true, 0, 1}};
    for (const auto& c : cases) {
        parent.messages.clear();
        COptions options(c.first, c.second, parent.hwnd());
        EXPECT_EQ(UiControl<QRadioButton>(&options, c.first > 0 ? 1005 : 1043)->isChecked(), true);
        EXPECT_EQ(UiControl<QRadioButton>(&options, c.second > 0 ? 1138 : 1139)->isChecked(), true);
        QTimer::singleShot(0, [&] {
            if (c.flip) {
                QTest::mouseClick(UiControl<QRadioButton>(&options, 1043), Qt::LeftButton, {}, QPoint(5, 5));
                QTest::mouseClick(UiControl<QRadioButton>(&options, 1138), Qt::LeftButton, {}, QPoint(5, 5));
            }
            uitest::saveScreenshot(&options, "options_dialog");
            QTest::mouseClick(UiControl<QPushButton>(&options, IDOK), Qt::LeftButton);
        });
        EXPECT_EQ(options.DoModal(), IDOK);
        waitUntil([&] { return !parent.messages.empty(); });
        EXPECT_EQ(parent.messages[0].msg, COptions::kChoicesMessage);
        EXPECT_EQ(parent.messages[0].wParam, c.w);
        EXPECT_EQ(parent.messages[0].lParam, c.l);
    }
}

TEST(MxException, ReportsToTheTraceViewerWhenItRuns) {
    CMxException report;
    EXPECT_EQ(report.Report(205), 1);  // no viewer: stored, nothing sent
    EXPECT_EQ(report.LastCode(), 205);
    EXPECT_EQ(report.ReportText(199), "MxException ");
    EXPECT_EQ(report.ReportText(214), "MxException ");
    EXPECT_EQ(report.ReportText(200), "MxException ERR: Ok");

    Recorder viewer;
    ASSERT_TRUE(viewer.create("LUMODEBWIN-CLASS", "LumoDebWin"));
    EXPECT_EQ(report.Report(213), 1);
    EXPECT_EQ(report.Report(199), 1);
    ASSERT_EQ(viewer.messages.size(), 2u);
    EXPECT_EQ(viewer.messages[0].msg, platform::WM_COPYDATA);
    EXPECT_EQ(viewer.messages[0].data, std::string("MxException ERR: WM_QUIT message was received") + '\0');
    EXPECT_EQ(viewer.messages[1].data, std::string("MxException ") + '\0');
    EXPECT_EQ(report.LastCode(), 199);
}

TEST(EngineStartup, RecordsItsVersionAndBuildsItsTrace) {
    EXPECT_EQ(TavicoreDllMain(DLL_PROCESS_ATTACH), 1);
    std::ifstream ini(platform::windowsFolder() / "Quennel.ini");
    std::stringstream text;
    text << ini.rdbuf();
    EXPECT_NE(text.str().find("Tavicore="), std::string::npos) << text.str();
    EXPECT_EQ(TavicoreDllMain(DLL_THREAD_ATTACH), 1);
    EXPECT_EQ(TavicoreDllMain(DLL_PROCESS_DETACH), 1);
}

// The program's exit command (32154) passing through a capture object's yield
// is told in the engine's trace.
TEST(EngineStartup, YieldTracesTheExitCommandAsItPasses) {
    Recorder viewer;
    ASSERT_TRUE(viewer.create("LUMODEBWIN-CLASS", "LumoDebWin"));
    {
        CKcIni ini("LUMODEBWIN.INI", "LumoDeb");
        ASSERT_TRUE(ini.WriteInt("Output", 2));
        ASSERT_TRUE(ini.WriteInt("Level", 5));
    }
    ASSERT_EQ(TavicoreDllMain(DLL_PROCESS_ATTACH), 1);
    Recorder target;
    ASSERT_TRUE(target.create());
    cardtest::FakeCard card;
    auto told = [&] {
        for (const auto& m : viewer.messages) {
            if (m.data.find("CLumora::YieldProcess Message ID_EXIT Received") != std::string::npos) {
                return true;
            }
        }
        return false;
    };
    platform::PostMessage(target.hwnd(), 32153, 0, 0);
    card.YieldProcess(0);
    EXPECT_FALSE(told());
    platform::PostMessage(target.hwnd(), 32154, 0, 0);
    card.YieldProcess(0);
    EXPECT_TRUE(told());
    ASSERT_EQ(target.messages.size(), 2u);  // both handled as usual
    EXPECT_EQ(target.messages[1].msg, 32154u);
    TavicoreDllMain(DLL_PROCESS_DETACH);
}

// With the window part loaded, a player's failure is a box with its text.
TEST(FrameRtv, FailureOpensABoxWithItsText) {
    std::string root = platform::homeFolder().string();
    ASSERT_NE(GetRtvNoticePresenter(), nullptr);
    std::string text;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box != nullptr) {
            text = box->text().toStdString();
            box->button(QMessageBox::Ok)->click();
        }
    });
    CFrmRtvZO missing((root + "/none.trg").c_str());
    EXPECT_EQ(missing.rtvOpenEvent(), 0);
    EXPECT_FALSE(text.empty());
}
