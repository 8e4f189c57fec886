// The operator's program and the stand-in site (a process of its own) in a
// call with live video through three minutes of line time: the site sends
// its line syncs as a site must, so the program's keep-alive check never
// finds the line silent, the call stays up and pictures keep arriving. Both
// run on a clock six times faster than the system's (and the program's
// keep-alive thread checks six times as often), so the minutes pass in
// half a minute.

#include "trennick/app/testing/app_test_support.h"
#include "platform/folders.h"
#include "platform/testing/child_process.h"
#include "tools/site/site_station.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/link/packet_connection.h"
#include "trennick/net/testing/net_test_util.h"
#include "trennick/video/remote_wnd.h"
#include "trennick/video/video_main.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

using namespace trennick;
using namespace apptest;

namespace {

constexpr DWORD kClockRate = 6;
constexpr DWORD kThreeMinutesMs = 180000;

// Milliseconds of the fast clock since the process's first look at it.
DWORD fastClock() {
    static const auto start = std::chrono::steady_clock::now();
    const auto real = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return DWORD(real.count()) * kClockRate;
}

std::filesystem::path siteLogPath() { return platform::homeFolder() / "site.log"; }

std::string siteLog() {
    std::ifstream in(siteLogPath());
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// The port the site took; 0 until it said.
WORD sitePort() {
    const std::string said = "listening on port ";
    const std::string log = siteLog();
    const std::size_t at = log.find(said);
    return at == std::string::npos ? 0 : WORD(std::stoi(log.substr(at + said.size())));
}

}  // namespace

// The stand-in site with video on the fast clock, on a port of its choosing.
VELMOOR_TEST_CHILD(fast_clock_site) {
    site::SiteOptions options;
    options.port = 0;
    options.clock = fastClock;
    std::ofstream log(siteLogPath(), std::ios::app);
    site::SiteStation station(options, [&](const std::string& line) { log << line << std::endl; });
    if (!station.Open()) return 91;
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(150);
    while (std::chrono::steady_clock::now() < guard) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        station.Pass();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
}

TEST(SiteLine, TheCallAndItsVideoLastThreeMinutesOfLineTime) {
    auto child = velmoor::testing::ChildProcess::start("fast_clock_site", {});
    ASSERT_TRUE(pumpUntil([] { return sitePort() != 0; })) << siteLog();

    AnsweringUi ui;
    AppServices services = quietServices(&ui);
    services.clock = fastClock;
    services.keepAlivePeriodMs = 20000 / kClockRate;
    CKivApp app({"/NOSPLASH", "/I", "/U43", "/P=" + std::to_string(nettest::freePort()),
                 "/D=127.0.0.1:" + std::to_string(sitePort()), "/C"},
                "", services);
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone(); }));
    CRemoteWnd* remote = frame->VideoMain()->RemoteWnd();
    ASSERT_NE(remote, nullptr);
    CPacketConnection& link = *frame->Connection();
    ASSERT_TRUE(pumpUntil([&] { return link.IsConnected() && remote->FramesDecoded() >= 5; }, std::chrono::seconds(60)))
        << siteLog();

    // Three minutes of line time from the call's start, the call up all along.
    const DWORD start = fastClock();
    DWORD lastMinuteFrames = 0;
    const bool lasted = pumpUntil(
        [&] {
            if (!link.IsConnected()) return true;
            if (lastMinuteFrames == 0 && fastClock() - start >= kThreeMinutesMs - 60000) {
                lastMinuteFrames = std::max<DWORD>(remote->FramesDecoded(), 1);
            }
            return fastClock() - start >= kThreeMinutesMs;
        },
        std::chrono::seconds(kThreeMinutesMs / kClockRate / 1000 + 30));
    ASSERT_TRUE(lasted);
    EXPECT_TRUE(link.IsConnected()) << "the call dropped after " << (fastClock() - start) / 1000
                                    << " s of line time\n" << siteLog();
    // Pictures still arrive in the last minute.
    EXPECT_GT(remote->FramesDecoded(), lastMinuteFrames + 10) << siteLog();
    EXPECT_EQ(siteLog().find("call ended"), std::string::npos) << siteLog();

    platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
    app.ExitInstance();
    child.kill();
}
