// The operator's program connected to the stand-in site (another process on
// loopback), with a kit client listening: the line meter follows the link's
// own rates while video runs, video that carries no camera counts as the
// camera the operator selected, a command to forward reaches the site, an
// input alarm reaches the kit for an input the site has, and an event the
// site sends after an alarm is filed, told to the kit and announced.

#include "trennick/app/testing/app_test_support.h"
#include "trennick/app/testing/kit_proxy.h"
#include "platform/message_window.h"
#include "platform/process.h"
#include "tavicore/db_lumo.h"
#include "tavicore/testing/event_test_support.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/app/received_video.h"
#include "trennick/kit/tess_integration.h"
#include "trennick/link/packet_connection.h"
#include "trennick/net/testing/net_test_util.h"
#include "trennick/station/remote_requests.h"
#include "trennick/ui/lcd_panel.h"
#include "trennick/video/remote_wnd.h"
#include "trennick/video/video_main.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>

using namespace trennick;
using namespace apptest;
namespace fs = std::filesystem;

namespace {

std::size_t countOf(const KitProxy& kit, WORD code) {
    std::size_t n = 0;
    for (const auto& r : kit.received) n += r.code == code ? 1 : 0;
    return n;
}

TEST(SiteRequests, TheProgramsRoadsForTheSitesVideoCommandsAlarmsAndEvents) {
    const std::string sitePort = std::to_string(nettest::freePort());
    // Pictures other than key frames come without their camera.
    LoggedSite site(sitePort, "--stream h263 --cameras 4 --cameraless");
    ASSERT_TRUE(site.valid()) << site.log();

    AnsweringUi ui;
    auto app = std::make_unique<CKivApp>(callSiteArgs("73", sitePort, nettest::freePort()), "", quietServices(&ui));
    ASSERT_TRUE(app->InitInstance());
    CMainFrame* frame = app->MainFrame();
    KitProxy kit;
    ASSERT_TRUE(kit.create("CorvastaProxy", "Corvasta listener window"));
    {
        std::vector<BYTE> hello(kTessPayloadBytes, 0);
        ASSERT_EQ(kitRequest(app->GetTessIntegration()->hwnd(), kit.hwnd(), 0, hello), 0);
    }
    // Connected, the site's profile stored and its video shown.
    ASSERT_TRUE(pumpUntil(
        [&] {
            tagHWProfile profile{};
            CRemoteWnd* remote = frame->VideoMain() != nullptr ? frame->VideoMain()->RemoteWnd() : nullptr;
            return frame->PostCreateDone() && frame->Connection()->IsConnected() &&
                   frame->RemoteDB()->GetHWProfiles(&profile, 0) != 0 && profile.adapters[0].camerasNumber == 4 &&
                   remote != nullptr && remote->FramesDecoded() >= 5;
        },
        std::chrono::seconds(90)))
        << site.log();

    // The line meter shows the link's rates: video alone moves it.
    ASSERT_TRUE(pumpUntil([&] { return frame->LcdPanel()->MeterLevel(LcdElement::LineMeter) > 0; }))
        << "no file moves; the meter stayed at 0 during video";

    // The operator selects camera 3 of the site's only adapter: this program's
    // settings hold the selection, and the command forwarded to the site
    // makes it send that camera.
    {
        auto profile = std::make_unique<tagHWProfile>();
        frame->RemoteDB()->GetHWProfiles(profile.get(), 0);
        profile->adapters[0].selectedInput = 2;
        frame->RemoteDB()->UpdateHWProfiles(profile.get(), nullptr);
    }
    ASSERT_TRUE(platform::PostMessageOwned(frame->Hwnd(), kMsgCmdToDispatch, 0, std::make_unique<std::string>("< 1>< 0>< 2>")));
    ASSERT_TRUE(pumpUntil([&] { return site.said("camera 2 selected"); }, std::chrono::seconds(30))) << site.log();
    // Every picture from then on, those without a camera among them, is of camera 3.
    CReceivedVideo& video = *frame->ReceivedVideo();
    DWORD taken = video.FramesTaken();
    ASSERT_TRUE(pumpUntil([&] { return video.FramesTaken() >= taken + 3; }, std::chrono::seconds(30)));
    taken = video.FramesTaken();
    std::set<WORD> cameras;
    ASSERT_TRUE(pumpUntil(
        [&] {
            cameras.insert(video.Recorder().CurrentCamera());
            return video.FramesTaken() >= taken + 15;
        },
        std::chrono::seconds(30)));
    EXPECT_EQ(cameras, std::set<WORD>{2});

    // An input alarm of an input the site has reaches the kit: the input
    // (code 7), then the alarm with source 0 (code 4); one it has not, nothing.
    platform::PostMessage(frame->Hwnd(), kMsgInputAlarm, 0, 9);
    platform::PostMessage(frame->Hwnd(), kMsgInputAlarm, 0, 1);
    ASSERT_TRUE(pumpUntil([&] { return kit.heard(7) != nullptr && kit.heard(4) != nullptr; }));
    EXPECT_EQ(countOf(kit, 7), 1u);
    EXPECT_EQ(at16(kit.heard(7)->payload, 0), 0);
    EXPECT_EQ(at16(kit.heard(7)->payload, 2), 1);
    EXPECT_EQ(at16(kit.heard(4)->payload, 4), 1);  // the input
    EXPECT_EQ(at16(kit.heard(4)->payload, 6), 0);  // source 0: an input

    // An alarm at the site: its event comes and is filed; the kit hears of it
    // once (code 28: the filed path, 0 and the header's two values at 38 and
    // 42, which the kit's event information gives as well) and the frame
    // announces it.
    EXPECT_EQ(kit.heard(28), nullptr);
    EXPECT_EQ(frame->EventsAnnounced(), 0);
    site.process().kill(SIGUSR1);
    ASSERT_TRUE(pumpUntil([&] { return kit.heard(28) != nullptr; }, std::chrono::seconds(60))) << site.log();
    EXPECT_EQ(frame->EventsAnnounced(), 1);
    EXPECT_EQ(countOf(kit, 28), 1u);
    const std::vector<BYTE>& told = kit.heard(28)->payload;
    const std::string filed(reinterpret_cast<const char*>(told.data()), strnlen(reinterpret_cast<const char*>(told.data()), 260));
    ASSERT_TRUE(fs::is_regular_file(filed)) << filed;
    EXPECT_EQ(at32(told, 260), 0u);
    const tagEventHeader header = eventtest::headerOf(filed);
    const DWORD endLow = header.ftEndTime.dwLowDateTime, endHigh = header.ftEndTime.dwHighDateTime;
    EXPECT_EQ(at32(told, 264), endLow);
    EXPECT_EQ(at32(told, 276), endHigh);
    EXPECT_NE(endLow | endHigh, 0u);

    platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
    app->ExitInstance();
    app.reset();
    site.process().kill(SIGTERM);
    EXPECT_NE(site.process().wait(20000).kind, platform::ProcessExit::Kind::Running);
}

}  // namespace
