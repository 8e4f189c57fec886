// Two stations in two processes on loopback: one listens, the other calls by
// "host:port"; hello, chat, hang-up from either side, and a caller killed in
// the middle of a stream.

#include "trennick/net/testing/link_station.h"
#include "platform/folders.h"
#include "platform/testing/child_process.h"
#include "trennick/link/file_transfer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

using namespace trennick;
using namespace nettest;
using velmoor::testing::ChildProcess;

namespace {

constexpr const char* kCallerHello = "hello from the caller";
constexpr const char* kListenerHello = "hello from the listener";

// Each child keeps its settings in a home of its own below the parent's.
void useOwnHome(const char* name) {
    const std::filesystem::path home = std::filesystem::path(std::getenv("VELMOOR_HOME")) / name;
    std::filesystem::create_directories(home);
    ::setenv("VELMOOR_HOME", home.c_str(), 1);
}

bool heard(const Station& s, const std::string& text) {
    for (const auto& t : s.chat.texts) {
        if (t == text) return true;
    }
    return false;
}

std::filesystem::path readyFile() { return std::filesystem::path(std::getenv("VELMOOR_HOME")) / "listener.ready"; }

std::vector<char> fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

// Calls 127.0.0.1:<port>. "hangup": greets, waits for the answer and says
// "<Disconnect>", then waits for the listener to close the call. "send": sends
// a file the parent wrote, then says "<Disconnect>".
VELMOOR_TEST_CHILD(tcp_caller) {
    if (args.size() != 2) return 90;
    useOwnHome("caller");
    Station caller(false, freePort());
    if (!caller.open()) return 91;
    const std::string address = "127.0.0.1:" + args[0];
    caller.link.ConnectToRemote(address.c_str(), "listener");
    if (!caller.runUntil([&] { return caller.link.IsConnected(); })) return 92;
    if (args[1] == "send") {
        // Sends the file <parent home>/outgoing/report.bin, then hangs up.
        const std::filesystem::path file =
            std::filesystem::path(std::getenv("VELMOOR_HOME")).parent_path() / "outgoing" / "report.bin";
        if (caller.link.SetSendStatus(1, kFileKindAny, file.c_str()) != 1) return 96;
        if (!caller.runUntil([&] { return caller.link.GetFileSendStatus() == SEND_COMPLETE; })) return 97;
        if (caller.link.SendDisconnect() == 0) return 86;
        return caller.runUntil([&] { return caller.drops == 1; }) ? 0 : 98;
    }
    if (caller.link.SendChatString(kCallerHello) != 1) return 87;
    if (!caller.runUntil([&] { return heard(caller, kListenerHello); })) return 93;
    // Say goodbye and let the listener close the call on hearing it.
    if (caller.link.SendDisconnect() == 0) return 88;
    if (!caller.runUntil([&] { return caller.drops == 1; })) return 94;
    return caller.link.IsLinkDown() ? 0 : 95;
}

// Listens on <port>, answers a caller's greeting, hangs up itself and waits
// until it listens again.
VELMOOR_TEST_CHILD(tcp_listener) {
    if (args.size() != 1) return 90;
    const std::filesystem::path ready = readyFile();
    useOwnHome("listener");
    Station listener(true, static_cast<WORD>(std::stoi(args[0])));
    if (!listener.open()) return 91;
    std::ofstream(ready) << "ready";
    if (!listener.runUntil([&] { return heard(listener, kCallerHello); })) return 92;
    if (listener.link.SendChatString(kListenerHello) != 1) return 88;
    if (listener.link.SendDisconnect() == 0) return 89;
    if (!listener.runUntil([&] { return listener.link.IsReadyToSend() != FALSE; })) return 93;
    listener.link.SetNotConnected(TRUE);
    if (!listener.runUntil([&] { return listener.link.IsListeningFor(2) != FALSE; })) return 94;
    return 0;
}

TEST(TwoStations, CallerGreetsAndHangsUp) {
    const WORD port = freePort();
    Station listener(true, port);
    ASSERT_TRUE(listener.open());
    auto child = ChildProcess::start("tcp_caller", {std::to_string(port), "hangup"});
    ASSERT_TRUE(listener.runUntil([&] { return heard(listener, kCallerHello); }));
    EXPECT_TRUE(listener.link.IsConnected());
    EXPECT_EQ(listener.callsUp, 1);
    EXPECT_FALSE(listener.link.IsOutgoingCall());
    EXPECT_EQ(listener.link.SendChatString(kListenerHello), 1);
    ASSERT_TRUE(listener.runUntil([&] { return listener.drops == 1; }));
    EXPECT_EQ(listener.lastDrop, -4) << "the caller's <Disconnect> was not seen";
    EXPECT_TRUE(listener.runUntil([&] { return listener.link.IsListeningFor(2) != FALSE; }));
    EXPECT_EQ(child.wait(std::chrono::seconds(20)), 0);
}

TEST(TwoStations, ListenerHangsUp) {
    const WORD port = freePort();
    auto child = ChildProcess::start("tcp_listener", {std::to_string(port)});
    ASSERT_TRUE(pumpUntil([] { return std::filesystem::exists(readyFile()); }));
    Station caller(false, freePort());
    ASSERT_TRUE(caller.open());
    const std::string address = "127.0.0.1:" + std::to_string(port);
    caller.link.ConnectToRemote(address.c_str(), "listener");
    ASSERT_TRUE(caller.runUntil([&] { return caller.link.IsConnected() != FALSE; }));
    EXPECT_TRUE(caller.link.IsOutgoingCall());
    EXPECT_EQ(caller.link.SendChatString(kCallerHello), 1);
    ASSERT_TRUE(caller.runUntil([&] { return caller.drops == 1; }));
    EXPECT_TRUE(heard(caller, kListenerHello));
    EXPECT_TRUE(caller.link.IsLinkDown());
    EXPECT_EQ(child.wait(std::chrono::seconds(20)), 0);
}

TEST(TwoStations, CallerKilledMidTransferIsSeenAndListeningResumes) {
    const auto home = platform::homeFolder();
    std::filesystem::create_directories(home / "outgoing");
    std::filesystem::create_directories(home / "incoming");
    std::vector<char> bytes(64u << 20, 'v');
    std::ofstream(home / "outgoing" / "report.bin", std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

    const WORD port = freePort();
    Station listener(true, port);
    listener.link.SetReceiveFolders((home / "incoming").c_str(), (home / "incoming").c_str());
    ASSERT_TRUE(listener.open());
    auto child = ChildProcess::start("tcp_caller", {std::to_string(port), "send"});
    ASSERT_TRUE(listener.runUntil([&] {
        ULONGLONG received = 0;
        const LONG state = listener.link.GetReceiveStatus(nullptr, &received, nullptr, nullptr, nullptr);
        return state == REC_RECEIVING && received > 200000;
    }));
    child.kill();
    ASSERT_TRUE(listener.runUntil([&] { return listener.drops == 1; }));
    EXPECT_TRUE(listener.runUntil([&] { return listener.link.IsListeningFor(2) != FALSE; }));
    std::string received;
    EXPECT_FALSE(listener.link.GetReceivedFileName(received));
    EXPECT_FALSE(std::filesystem::exists(home / "incoming" / "report.bin"));
    // The next caller is taken.
    const int next = connectRaw(port);
    ASSERT_GE(next, 0);
    EXPECT_TRUE(listener.runUntil([&] { return listener.callsUp == 2; }));
    ::close(next);
}

TEST(TwoStations, CallerSendsAFile) {
    const auto home = platform::homeFolder();
    std::filesystem::create_directories(home / "outgoing");
    std::filesystem::create_directories(home / "incoming");
    std::vector<char> bytes(300000);
    std::mt19937 random(3);
    for (auto& b : bytes) b = static_cast<char>(random() % 4);  // plenty of 0x01 bytes to escape
    std::ofstream(home / "outgoing" / "report.bin", std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

    const WORD port = freePort();
    Station listener(true, port);
    listener.link.SetReceiveFolders((home / "incoming").c_str(), (home / "incoming").c_str());
    ASSERT_TRUE(listener.open());
    auto child = ChildProcess::start("tcp_caller", {std::to_string(port), "send"});
    ASSERT_TRUE(listener.runUntil([&] { return listener.drops == 1; }, std::chrono::seconds(60)));
    std::string received;
    ASSERT_TRUE(listener.link.GetReceivedFileName(received));
    EXPECT_EQ(received, (home / "incoming" / "report.bin").string());
    EXPECT_EQ(fileBytes(received), bytes);
    EXPECT_EQ(child.wait(std::chrono::seconds(20)), 0);
}
