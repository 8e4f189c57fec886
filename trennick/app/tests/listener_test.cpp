// The recorder program in its own process, listening on loopback, against raw
// callers from this test: a caller that trickles bytes and never finishes its
// hello is dropped after the set-up limit (set short here), and callers that
// follow one another back to back are each taken at once.

#include "trennick/app/testing/app_test_support.h"
#include "common/product_registry.h"
#include "platform/folders.h"
#include "platform/testing/child_process.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/net/testing/net_test_util.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace trennick;
using namespace apptest;

namespace {

using Clock = std::chrono::steady_clock;

// The station: instance 21 on the port of args[0], with the set-up limit of
// args[1] ms, until the file args[2] appears.
VELMOOR_TEST_CHILD(listeningStation) {
    {
        CKcReg comms = InstanceKey("\\Velmoor21", "Comms");
        comms.SetValueName("Hello SetupLimit");
        comms.Write(static_cast<DWORD>(std::stoul(args.at(1))));
    }
    AnsweringUi ui;
    CKivApp app({"/NOSPLASH", "/I", "/U21", "/P=" + args.at(0)}, "", quietServices(&ui));
    if (!app.InitInstance()) return 2;
    CMainFrame* frame = app.MainFrame();
    if (!pumpUntil([&] { return std::filesystem::exists(args.at(2)); }, std::chrono::seconds(120))) return 3;
    platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
    if (!pumpUntil([&] { return frame->IsDestroyed(); })) return 4;
    app.ExitInstance();
    return 0;
}

// Waits for bytes from the station (its hello) or the end of the call: the
// count read, 0 at the end, -1 when the guard ran out.
ssize_t awaitStation(int fd, std::chrono::seconds guard) {
    const auto deadline = Clock::now() + guard;
    char buffer[4096];
    while (Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        return n < 0 ? 0 : n;
    }
    return -1;
}

// Reads until the station ends the call; true when it did within the guard.
bool awaitEnd(int fd, std::chrono::seconds guard, const std::function<void()>& meanwhile = {}) {
    const auto deadline = Clock::now() + guard;
    char buffer[4096];
    while (Clock::now() < deadline) {
        if (meanwhile) meanwhile();
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return true;
    }
    return false;
}

class ListenerTest : public ::testing::Test {
protected:
    void SetUp() override {
        port = nettest::freePort();
        stopFile = (platform::homeFolder() / "station.stop").string();
        std::filesystem::remove(stopFile);
        station = std::make_unique<velmoor::testing::ChildProcess>(velmoor::testing::ChildProcess::start(
            "listeningStation", {std::to_string(port), "1000", stopFile}));
        // The station listens once a call gets its hello.
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        bool up = false;
        while (!up && Clock::now() < deadline) {
            const int fd = nettest::connectRaw(port);
            if (fd < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            up = awaitStation(fd, std::chrono::seconds(20)) > 0;
            ::close(fd);
        }
        ASSERT_TRUE(up);
    }
    void TearDown() override {
        std::ofstream(stopFile) << "stop";
        EXPECT_EQ(station->wait(std::chrono::seconds(60)), 0);
    }

    unsigned short port = 0;
    std::string stopFile;
    std::unique_ptr<velmoor::testing::ChildProcess> station;
};

TEST_F(ListenerTest, ACallerTricklingBytesIsDroppedAfterTheSetupLimit) {
    const int slow = nettest::connectRaw(port);
    ASSERT_GE(slow, 0);
    ASSERT_GT(awaitStation(slow, std::chrono::seconds(20)), 0);  // the station's hello
    // One byte every 100 ms keeps the line busy but never makes a hello.
    auto lastByte = Clock::now();
    const bool ended = awaitEnd(slow, std::chrono::seconds(30), [&] {
        if (Clock::now() - lastByte >= std::chrono::milliseconds(100)) {
            ::send(slow, "x", 1, MSG_NOSIGNAL);
            lastByte = Clock::now();
        }
    });
    EXPECT_TRUE(ended);
    ::close(slow);
    // The next caller is taken.
    const int next = nettest::connectRaw(port);
    ASSERT_GE(next, 0);
    EXPECT_GT(awaitStation(next, std::chrono::seconds(20)), 0);
    ::close(next);
}

TEST_F(ListenerTest, BackToBackCallersAreEachTakenAtOnce) {
    for (int call = 0; call < 30; ++call) {
        SCOPED_TRACE(call);
        const int fd = nettest::connectRaw(port);
        ASSERT_GE(fd, 0) << "refused";
        ASSERT_GT(awaitStation(fd, std::chrono::seconds(20)), 0) << "not answered";
        ::close(fd);
    }
    // A caller that waits until the station has seen the last one go is taken too.
    const int silent = nettest::connectRaw(port);
    ASSERT_GE(silent, 0);
    ASSERT_GT(awaitStation(silent, std::chrono::seconds(20)), 0);
    EXPECT_TRUE(awaitEnd(silent, std::chrono::seconds(30)));  // the limit ends a silent caller too
    ::close(silent);
}

}  // namespace
