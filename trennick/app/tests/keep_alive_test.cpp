#include "trennick/station/keep_alive.h"

#include "trennick/app/testing/app_test_support.h"
#include "tavicore/ui/ui_resources.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/net/testing/link_station.h"
#include "trennick/link/testing/sink_transport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace trennick;
using namespace apptest;

namespace {

struct FakeClock {
    std::shared_ptr<std::atomic<DWORD>> ms = std::make_shared<std::atomic<DWORD>>(500000);
    AppClock clock() const {
        auto t = ms;
        return [t] { return t->load(); };
    }
    void advance(DWORD by) { *ms += by; }
};

}  // namespace

// A peer that stops sending its line syncs is dropped by the keep-alive
// thread within one period: the frame disconnects, tells the user, and
// listens again; the peer sees its line go.
TEST(KeepAlive, SilentPeerIsDroppedWithinOnePeriod) {
    AnsweringUi ui;
    FakeClock clock;
    AppServices services = quietServices(&ui);
    services.clock = clock.clock();
    services.keepAlivePeriodMs = 50;
    const WORD port = nettest::freePort();
    CKivApp app({"/NOSPLASH", "/I", "/U3", "/P=" + std::to_string(port)}, "", services);
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
    ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone() && frame->Connection()->IsListeningFor(2); }));

    nettest::Station caller(false, nettest::freePort());
    ASSERT_TRUE(caller.open());
    const std::string address = "127.0.0.1:" + std::to_string(port);
    caller.link.ConnectToRemote(address.c_str(), "");
    CPacketConnection& link = *frame->Connection();
    ASSERT_TRUE(caller.runUntil([&] { return link.IsConnected() && caller.link.IsConnected(); }));

    // Periods pass while the peer is in time: nothing happens.
    CKeepAliveThread& keepAlive = *frame->KeepAlive();
    const DWORD checks = keepAlive.ChecksDone();
    ASSERT_TRUE(caller.runUntil([&] { return keepAlive.ChecksDone() > checks + 2; }));
    EXPECT_TRUE(link.IsConnected());
    EXPECT_TRUE(ui.messages.empty());

    // The peer has been silent for longer than the line allows.
    clock.advance(61000);
    ASSERT_TRUE(caller.runUntil([&] { return !link.IsConnected(); }, std::chrono::seconds(10)));
    ASSERT_EQ(ui.messages.size(), 1u);  // the lost-line notice
    EXPECT_EQ(ui.messages[0], UiString(kReasonSyncLost, "The connection was lost."));
    ASSERT_TRUE(caller.runUntil([&] { return caller.drops == 1; }));
    ASSERT_TRUE(pumpUntil([&] { return link.IsListeningFor(2) != FALSE; }));

    platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
    app.ExitInstance();
}

// Closing stops a worker that waits in its period at once, and a second
// start while it runs does nothing.
TEST(KeepAlive, StartIsIdempotentAndCloseIsPrompt) {
    nettest::RecordingWindow window;
    CInetConnection link(nettest::servicesFor(&window));
    CKeepAliveThread thread(link, 0, 3600 * 1000);
    thread.Start();
    thread.Start();
    EXPECT_TRUE(thread.IsRunning());
    thread.Cancel();
    EXPECT_TRUE(thread.Close(5000));
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.ChecksDone(), 0u);  // the link was never up
}

namespace {

// A link whose sync check blocks until the test lets it go; it counts the
// calls in progress.
class StuckLink : public CPacketConnection {
public:
    explicit StuckLink(const LinkServices& services) : CPacketConnection(services, makeUpTransport()) {}
    LONG CheckSync() override {
        ++inside;
        entered = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        --inside;
        return 1;
    }
    LONG SendLineSync() override {
        ++inside;
        --inside;
        return 1;
    }
    std::atomic<int> inside{0};
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
};

}  // namespace

// A worker stuck inside the link past the close time-out: Close reports the
// time-out, but returns only once the worker has left the link, so the owner
// may free it at once (the sanitizers would see a later touch).
TEST(KeepAlive, AWorkerThatMissesItsCloseTimeOutNeverTouchesAFreedLink) {
    nettest::RecordingWindow window;
    auto link = std::make_unique<StuckLink>(nettest::servicesFor(&window));
    CKeepAliveThread thread(*link, 0, 5);
    thread.Start();
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!link->entered && std::chrono::steady_clock::now() < guard) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(link->entered);
    constexpr DWORD kCloseTimeoutMs = 100;
    const auto closeStart = std::chrono::steady_clock::now();
    // The link lets go only after the close has given up waiting.
    std::thread releaser([&] {
        while (std::chrono::steady_clock::now() < closeStart + std::chrono::milliseconds(2 * kCloseTimeoutMs)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        link->release = true;
    });
    EXPECT_FALSE(thread.Close(kCloseTimeoutMs));
    EXPECT_EQ(link->inside.load(), 0);
    releaser.join();
    link.reset();
    EXPECT_FALSE(thread.IsRunning());
}
