// The run command's operator: instance 2, prepared as a demonstration station
// by velmoor-demo-station (a process of its own), starts already set up (its
// card named, so no setup wizard; the default-password warning answered) and
// shows the stand-in site's video (another process, on loopback) in a window
// beside its main window. Whatever an instance already holds is kept.

#include "trennick/app/testing/app_test_support.h"
#include "common/kc_reg.h"
#include "platform/process.h"
#include "tavicore/product_key.h"
#include "tavicore/tavicore_globals.h"
#include "trennick/app/demo_station.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/link/cards.h"
#include "trennick/link/packet_connection.h"
#include "trennick/net/testing/net_test_util.h"
#include "trennick/video/remote_wnd.h"
#include "trennick/video/video_main.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>

using namespace trennick;
using namespace apptest;
namespace fs = std::filesystem;

namespace {

bool prepare(const std::string& instance) {
    const auto tool = platform::findProgram("velmoor-demo-station");
    if (!tool) return false;
    platform::Process run = platform::Process::start(tool->string(), {"/U" + instance});
    const platform::ProcessExit exit = run.wait(60000);
    return exit.kind == platform::ProcessExit::Kind::Exited && exit.code == 0;
}

DWORD instanceDword(const std::string& instance, const char* section, const char* name, DWORD missing) {
    gcsVlmInsID = "\\Velmoor" + instance;
    DWORD value = missing;
    CKcReg reg = ProductKey(section);
    if (!reg.GetDword(nullptr, name, &value)) value = missing;
    gcsVlmInsID.clear();
    return value;
}

}  // namespace

TEST(DemoStation, ThePreparedOperatorStartsSetUpAndShowsTheVideoBesideItsWindow) {
    const fs::path home = std::getenv("VELMOOR_HOME");
    // A choice the instance already made survives the preparation.
    gcsVlmInsID = "\\Velmoor2";
    {
        CKcReg reg = ProductKey("VideoWindow");
        const DWORD y = 40;
        reg.SetDword(nullptr, "YPos", &y);
    }
    gcsVlmInsID.clear();
    ASSERT_TRUE(prepare("2"));
    EXPECT_EQ(instanceDword("2", "Users", "DontShowWarning", 0), 1u);
    EXPECT_EQ(instanceDword("2", "VideoWindow", "YPos", 0), 40u);
    // Nobody prepared instance 3: its first start keeps its own steps.
    EXPECT_EQ(instanceDword("3", "Users", "DontShowWarning", 9), 9u);

    const std::string sitePort = std::to_string(nettest::freePort());
    const auto siteProgram = platform::findProgram("velmoor-site");
    ASSERT_TRUE(siteProgram.has_value());
    const fs::path siteLog = home / "site.log";
    platform::Process site = platform::Process::start(
        "sh", {"-c", "exec \"" + siteProgram->string() + "\" --port " + sitePort + " > \"" + siteLog.string() + "\" 2>&1"});
    ASSERT_TRUE(site.valid());
    ASSERT_TRUE(pumpUntil([&] { return readAll(siteLog).find("listening on port") != std::string::npos; },
                          std::chrono::seconds(60)))
        << readAll(siteLog);

    AnsweringUi ui;
    auto app = std::make_unique<CKivApp>(
        std::vector<std::string>{"/NOSPLASH", "/I", "/U2", "/P=" + std::to_string(nettest::freePort()),
                                 "/D=127.0.0.1:" + sitePort, "/C"},
        "", quietServices(&ui));
    ASSERT_TRUE(app->InitInstance());
    CMainFrame* frame = app->MainFrame();
    ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone(); }));
    // The card has a name: the setup wizard has nothing to ask.
    EXPECT_NE(frame->Settings().general.BusinessCard[kCardNameOffset], '\0');
    frame->show();
    CRemoteWnd* remote = nullptr;
    ASSERT_TRUE(pumpUntil(
        [&] {
            remote = frame->VideoMain() != nullptr ? frame->VideoMain()->RemoteWnd() : nullptr;
            return remote != nullptr && remote->isVisible() && remote->FramesDecoded() > 0;
        },
        std::chrono::seconds(60)))
        << readAll(siteLog);
    EXPECT_FALSE(frame->frameGeometry().intersects(remote->frameGeometry()))
        << "main window at " << frame->frameGeometry().x() << "," << frame->frameGeometry().y() << " "
        << frame->frameGeometry().width() << "x" << frame->frameGeometry().height() << "; video window at "
        << remote->frameGeometry().x() << "," << remote->frameGeometry().y();

    platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
    EXPECT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }, std::chrono::seconds(60)));
    app->ExitInstance();
    app.reset();
    site.kill(SIGTERM);
    site.wait(30000);
}
