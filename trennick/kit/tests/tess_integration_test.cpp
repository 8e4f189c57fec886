#include "trennick/kit/tess_integration.h"

#include "platform/local_bus.h"
#include "platform/message_window.h"
#include "platform/shared_memory.h"
#include "platform/testing/child_process.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace trennick;
using platform::HWND;

constexpr char kInstance[] = "-kit-test";

// Runs the calling thread's loop until pred holds; false when the guard ran out.
bool runUntil(const std::function<bool()>& pred, std::chrono::milliseconds guard = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + guard;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Sends one request block the way the kit does; the answer is the result,
// the block (with the recorder's answers in it) is copied back into `block`.
LRESULT sendRequest(HWND recorder, TessBlock& block, DWORD pid = static_cast<DWORD>(::getpid()),
                    std::size_t blockBytes = kTessBlockBytes) {
    platform::SharedMemory memory = platform::SharedMemory::create(blockBytes);
    if (!memory.valid()) {
        return -100;
    }
    std::memcpy(memory.data(), &block, std::min(blockBytes, kTessBlockBytes));
    const LRESULT answer = platform::SendMessageFd(recorder, CTessIntegration::OutMessage(), pid, memory.fd());
    std::memcpy(&block, memory.data(), std::min(blockBytes, kTessBlockBytes));
    return answer;
}

TessBlock requestBlock(HWND client, WORD code) {
    TessBlock block{};
    block.dwSenderId = static_cast<DWORD>(client);
    block.wCode = code;
    return block;
}

LRESULT request(HWND recorder, HWND client, WORD code, DWORD firstDword = 0) {
    TessBlock block = requestBlock(client, code);
    std::memcpy(block.payload, &firstDword, sizeof firstDword);
    return sendRequest(recorder, block);
}

// A kit client's proxy window: keeps each notification it receives.
class ProxyWindow : public platform::MessageWindow {
public:
    struct Received {
        WORD code;
        DWORD sender;
        std::vector<BYTE> payload;
    };
    std::vector<Received> received;
    std::function<void()> onReceive;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg != CTessIntegration::InMessage()) {
            return MessageWindow::WindowProc(msg, wParam, lParam);
        }
        platform::SharedMemory memory = platform::SharedMemory::open(static_cast<int>(lParam), kTessBlockBytes);
        if (!memory.valid()) {
            return 0;
        }
        const auto* block = static_cast<const TessBlock*>(memory.data());
        received.push_back({block->wCode, block->dwSenderId,
                            std::vector<BYTE>(block->payload, block->payload + kTessPayloadBytes)});
        if (onReceive) {
            onReceive();
        }
        return 1;
    }
};

// The base class's handlers, with information a client can recognise and a
// request (3) that makes the recorder raise an alarm notification.
class TestKit : public CTessIntegration {
public:
    TestKit() : CTessIntegration(kInstance) {}
    DWORD lockHolderAtRequest3 = 0xFFFFFFFF;
    UINT answerTimeoutMs = 5000;

    LONG FillClientInfo(BYTE* buffer) override {
        std::memcpy(buffer, "kit-test", 9);
        return 0;
    }
    LONG OLSetProperty(DWORD, BYTE*) override {
        lockHolderAtRequest3 = FirstOwnerLock();
        NotifyAlarmDetected(1, 2, 3, "12/10/2026 10:11:12");
        return 0;
    }
    UINT GetAnswerTimeout() override { return answerTimeoutMs; }
    DWORD lastLocker = 0;
    LONG SetOwnerLock(DWORD clientId, DWORD set) override {
        const LONG answer = CTessIntegration::SetOwnerLock(clientId, set);
        if (answer == 0 && set != 0) {
            lastLocker = clientId;
        }
        return answer;
    }
};

TEST(TessIntegration, WindowIsFoundByTitleWithInstanceId) {
    TestKit kit;
    ASSERT_TRUE(kit.Create());
    EXPECT_EQ(kit.WindowTitle(), std::string("TESS integration module") + kInstance);
    EXPECT_EQ(platform::FindWindow(nullptr, kit.WindowTitle().c_str()), kit.hwnd());
    EXPECT_EQ(platform::FindWindow(nullptr, "TESS integration module-other"), HWND{0});
    EXPECT_NE(CTessIntegration::OutMessage(), CTessIntegration::InMessage());
    EXPECT_EQ(CTessIntegration::OutMessage(), platform::RegisterWindowMessage("Corvasta TESS OUT"));
}

TEST(TessIntegration, RegistrationAnswersWithInformationAndUnregisterRemoves) {
    TestKit kit;
    ASSERT_TRUE(kit.Create());
    ProxyWindow client;
    ASSERT_TRUE(client.create());
    TessBlock block = requestBlock(client.hwnd(), kTessRequestRegister);
    EXPECT_EQ(sendRequest(kit.hwnd(), block), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(block.payload), "kit-test");
    EXPECT_EQ(kit.ClientIds(), std::vector<DWORD>{static_cast<DWORD>(client.hwnd())});
    // Registering again keeps one record.
    EXPECT_EQ(request(kit.hwnd(), client.hwnd(), kTessRequestRegister), 0);
    EXPECT_EQ(kit.ClientIds().size(), 1u);
    EXPECT_EQ(request(kit.hwnd(), client.hwnd(), kTessRequestUnregister), 0);
    EXPECT_TRUE(kit.ClientIds().empty());
}

TEST(TessIntegration, OwnerLocksRefuseOtherClientsAndGoWithTheirHolder) {
    TestKit kit;
    ASSERT_TRUE(kit.Create());
    ProxyWindow a, b;
    ASSERT_TRUE(a.create());
    ASSERT_TRUE(b.create());
    for (HWND c : {a.hwnd(), b.hwnd()}) {
        ASSERT_EQ(request(kit.hwnd(), c, kTessRequestRegister), 0);
    }
    for (WORD code : {kTessRequestOwnerLock, kTessRequestSecondOwnerLock}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(request(kit.hwnd(), a.hwnd(), code, 1), 0);
        EXPECT_EQ(request(kit.hwnd(), b.hwnd(), code, 1), TESS_ERROR_LOCKED);
        EXPECT_EQ(request(kit.hwnd(), b.hwnd(), code, 0), TESS_ERROR_LOCKED);
        EXPECT_EQ(request(kit.hwnd(), a.hwnd(), code, 0), 0);
        EXPECT_EQ(request(kit.hwnd(), b.hwnd(), code, 1), 0);
    }
    EXPECT_EQ(kit.FirstOwnerLock(), b.hwnd());
    EXPECT_EQ(kit.SecondOwnerLock(), b.hwnd());
    // A holder that leaves frees both locks.
    EXPECT_EQ(request(kit.hwnd(), b.hwnd(), kTessRequestUnregister), 0);
    EXPECT_EQ(kit.FirstOwnerLock(), 0u);
    EXPECT_EQ(kit.SecondOwnerLock(), 0u);
}

TEST(TessIntegration, ChangeModeNotifiesOnlyWhenUnlockedAndModeMatches) {
    TestKit kit;
    ASSERT_TRUE(kit.Create());
    kit.SetCurrentMode(2);
    ProxyWindow client;
    ASSERT_TRUE(client.create());
    ASSERT_EQ(request(kit.hwnd(), client.hwnd(), kTessRequestRegister), 0);
    auto changeMode = [&](WORD oldMode, WORD newMode) {
        TessBlock block = requestBlock(client.hwnd(), kTessRequestChangeMode);
        std::memcpy(block.payload, &oldMode, 2);
        std::memcpy(block.payload + 2, &newMode, 2);
        return sendRequest(kit.hwnd(), block);
    };
    EXPECT_EQ(changeMode(1, 3), 0);  // the recorder is not in mode 1
    EXPECT_TRUE(client.received.empty());

    ASSERT_EQ(request(kit.hwnd(), client.hwnd(), kTessRequestOwnerLock, 1), 0);
    EXPECT_EQ(changeMode(2, 3), 0);  // locked: nothing
    EXPECT_TRUE(client.received.empty());

    ASSERT_EQ(request(kit.hwnd(), client.hwnd(), kTessRequestOwnerLock, 0), 0);
    EXPECT_EQ(changeMode(2, 3), 0);
    ASSERT_EQ(client.received.size(), 1u);  // synchronous: here before the answer
    EXPECT_EQ(client.received[0].code, kTessBeforeModeChanged);
    EXPECT_EQ(client.received[0].sender, kit.hwnd());
    WORD words[2];
    std::memcpy(words, client.received[0].payload.data(), 4);
    EXPECT_EQ(words[0], 2);
    EXPECT_EQ(words[1], 3);
}

TEST(TessIntegration, BadBlocksAndUnknownCodesAreRefused) {
    TestKit kit;
    ASSERT_TRUE(kit.Create());
    ProxyWindow client;
    ASSERT_TRUE(client.create());
    ASSERT_EQ(request(kit.hwnd(), client.hwnd(), kTessRequestRegister), 0);
    for (WORD code : {WORD{62}, WORD{71}, WORD{0x7FFF}, WORD{0xFFFF}}) {
        EXPECT_EQ(request(kit.hwnd(), client.hwnd(), code), TESS_ERROR_METHOD_UNSUPPORTED) << code;
    }
    EXPECT_EQ(request(kit.hwnd(), client.hwnd(), 40), 0);

    // A block shorter than 1032 bytes is never mapped.
    TessBlock small = requestBlock(client.hwnd(), kTessRequestOwnerLock);
    EXPECT_EQ(sendRequest(kit.hwnd(), small, static_cast<DWORD>(::getpid()), 100), kTessBlockRefused);
    // A block that claims a window that is not the sender's, or none.
    EXPECT_EQ(request(kit.hwnd(), 0, kTessRequestOwnerLock, 1), kTessBlockRefused);
    TessBlock other = requestBlock(client.hwnd(), kTessRequestOwnerLock);
    std::memcpy(other.payload, "\1\0\0\0", 4);
    EXPECT_EQ(sendRequest(kit.hwnd(), other, static_cast<DWORD>(::getpid()) + 1), kTessBlockRefused);
    EXPECT_EQ(kit.FirstOwnerLock(), 0u);
    // A message without a block.
    EXPECT_EQ(platform::SendMessage(kit.hwnd(), CTessIntegration::OutMessage(), ::getpid(), -1), kTessBlockRefused);
}

TEST(TessIntegration, ClientThatNeverAnswersIsDroppedAfterTooManyMissedSends) {
    TestKit kit;
    kit.answerTimeoutMs = 60000;
    ASSERT_TRUE(kit.Create());

    // The client's window lives on a thread that blocks in its first
    // notification until the test lets it go.
    std::promise<HWND> made;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::thread clientThread([&] {
        platform::MessageLoop loop;
        ProxyWindow client;
        client.create();
        bool first = true;
        client.onReceive = [&] {
            if (first) {
                first = false;
                released.wait();
            }
        };
        made.set_value(client.hwnd());
        loop.run();
    });
    const HWND client = made.get_future().get();
    ASSERT_EQ(request(kit.hwnd(), client, kTessRequestRegister), 0);

    for (int i = 0; i < 10; ++i) {
        kit.NotifyMemoryFree();  // each takes one of the client's ten counts
    }
    EXPECT_EQ(kit.MissedSends(client), 0u);
    for (int i = 1; i <= 11; ++i) {
        kit.NotifyMemoryFree();
        EXPECT_EQ(kit.MissedSends(client), DWORD(i));
        kit.PurgeClients();
        EXPECT_EQ(kit.ClientIds().empty(), i == 11) << i;  // removed after the eleventh miss
    }
    release.set_value();
    kit.WaitForSends();
    platform::PostMessage(client, platform::WM_QUIT, 0, 0);
    clientThread.join();
}

TEST(TessIntegration, NotificationPayloadsFollowTheirLayouts) {
    TestKit kit;
    ASSERT_TRUE(kit.Create());
    ProxyWindow client;
    ASSERT_TRUE(client.create());
    ASSERT_EQ(request(kit.hwnd(), client.hwnd(), kTessRequestRegister), 0);
    kit.SetCurrentMode(4);
    const std::string longText(300, 'p');
    kit.NotifyAlarmDetected(1, 2, 3, longText.c_str());
    ASSERT_TRUE(runUntil([&] { return client.received.size() == 1; }));
    kit.NotifyGetSerialOutConfigAck(1, 2, 3, 0x11223344, 5, 6, 7, 8, "proto", 9);
    ASSERT_TRUE(runUntil([&] { return client.received.size() == 2; }));
    kit.NotifyEventDownloadFinished(longText.c_str(), 10, 11, 12);
    ASSERT_TRUE(runUntil([&] { return client.received.size() == 3; }));
    kit.WaitForSends();

    auto word = [](const std::vector<BYTE>& p, std::size_t at) {
        WORD v;
        std::memcpy(&v, p.data() + at, 2);
        return v;
    };
    auto dword = [](const std::vector<BYTE>& p, std::size_t at) {
        DWORD v;
        std::memcpy(&v, p.data() + at, 4);
        return v;
    };
    const auto& alarm = client.received[0];
    EXPECT_EQ(alarm.code, kTessAlarmDetected);
    EXPECT_EQ(alarm.sender, kit.hwnd());
    EXPECT_EQ(word(alarm.payload, 0), 4);  // the current mode
    EXPECT_EQ(word(alarm.payload, 6), 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(alarm.payload.data() + 8)), std::string(49, 'p'));

    const auto& config = client.received[1];
    EXPECT_EQ(config.code, kTessGetSerialOutConfigAck);
    EXPECT_EQ(word(config.payload, 4), 3);
    EXPECT_EQ(dword(config.payload, 8), 0x11223344u);
    EXPECT_EQ(word(config.payload, 18), 8);
    EXPECT_STREQ(reinterpret_cast<const char*>(config.payload.data() + 20), "proto");
    EXPECT_EQ(word(config.payload, 1020), 9);

    const auto& download = client.received[2];
    EXPECT_EQ(download.code, kTessEventDownloadFinished);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(download.payload.data())), std::string(259, 'p'));
    EXPECT_EQ(dword(download.payload, 260), 10u);
    EXPECT_EQ(dword(download.payload, 264), 11u);
    EXPECT_EQ(dword(download.payload, 276), 12u);
}

TEST(TessIntegration, AnnouncementAndGoodbyeCarryTheRecorderInformation) {
    ProxyWindow client;
    ASSERT_TRUE(client.create("CorvastaProxy", "Corvasta proxy window"));
    HWND recorder = 0;
    {
        TestKit kit;
        ASSERT_TRUE(kit.Create());
        recorder = kit.hwnd();
        kit.SetCurrentMode(3);
        kit.SetInfoValue(0xABCD);
        kit.Announce(client.hwnd(), 0);
        ASSERT_TRUE(runUntil([&] { return !client.received.empty(); }));
        const auto& hello = client.received[0];
        EXPECT_EQ(hello.code, kTessAnnounce);
        EXPECT_EQ(hello.sender, recorder);
        EXPECT_STREQ(reinterpret_cast<const char*>(hello.payload.data()), "kit-test");
        WORD mode = 0;
        std::memcpy(&mode, hello.payload.data() + 50, 2);
        EXPECT_EQ(mode, 3);
        DWORD value = 0;
        std::memcpy(&value, hello.payload.data() + 56, 4);
        EXPECT_EQ(value, 0xABCDu);
    }
    // The goodbye goes to every window when the channel closes.
    ASSERT_EQ(client.received.size(), 2u);
    EXPECT_EQ(client.received[1].code, kTessGoodbye);
    EXPECT_EQ(client.received[1].sender, recorder);
}

// The kit client of the two-process tests. Args: recorder title, "stay" to
// finish normally or "die" to leave without unregistering while holding the lock.
VELMOOR_TEST_CHILD(kit_client) {
    const std::string& title = args.at(0);
    const bool die = args.at(1) == "die";
    ProxyWindow proxy;
    if (!proxy.create("CorvastaProxy", "Corvasta proxy window")) {
        return 10;
    }
    const HWND recorder = platform::FindWindow(nullptr, title.c_str());
    if (recorder == 0) {
        return 11;
    }
    TessBlock block = requestBlock(proxy.hwnd(), kTessRequestRegister);
    if (sendRequest(recorder, block) != 0 || std::strcmp(reinterpret_cast<char*>(block.payload), "kit-test") != 0) {
        return 12;
    }
    if (request(recorder, proxy.hwnd(), kTessRequestOwnerLock, 1) != 0) {
        return 13;
    }
    if (die) {
        std::_Exit(0);  // no goodbye, window and lock left behind
    }
    if (request(recorder, proxy.hwnd(), 3) != 0) {  // the recorder raises an alarm notification
        return 14;
    }
    if (!runUntil([&] { return !proxy.received.empty(); })) {
        return 15;
    }
    const auto& n = proxy.received.front();
    WORD words[4];
    std::memcpy(words, n.payload.data(), sizeof words);
    if (n.code != kTessAlarmDetected || n.sender != recorder || words[1] != 1 || words[2] != 2 || words[3] != 3 ||
        std::strcmp(reinterpret_cast<const char*>(n.payload.data() + 8), "12/10/2026 10:11:12") != 0) {
        return 16;
    }
    if (request(recorder, proxy.hwnd(), kTessRequestOwnerLock, 0) != 0) {
        return 17;
    }
    if (request(recorder, proxy.hwnd(), kTessRequestUnregister) != 0) {
        return 18;
    }
    return 0;
}

TEST(TessIntegration, ClientInAnotherProcessRegistersLocksIsNotifiedAndLeaves) {
    TestKit kit;
    ASSERT_TRUE(kit.Create());
    auto child = velmoor::testing::ChildProcess::start("kit_client", {kit.WindowTitle(), "stay"});
    bool registered = false;
    ASSERT_TRUE(runUntil([&] {
        registered = registered || !kit.ClientIds().empty();
        return registered && kit.ClientIds().empty();
    }));
    EXPECT_EQ(child.wait(std::chrono::seconds(20)), 0);
    EXPECT_NE(kit.lockHolderAtRequest3, 0u);
    EXPECT_NE(kit.lockHolderAtRequest3, 0xFFFFFFFFu);
    EXPECT_EQ(kit.FirstOwnerLock(), 0u);
    kit.WaitForSends();
}

TEST(TessIntegration, ClientWhoseProcessDiedIsPurgedAndItsLockFreed) {
    TestKit kit;
    ASSERT_TRUE(kit.Create());
    kit.SetPurgePeriod(50);
    auto child = velmoor::testing::ChildProcess::start("kit_client", {kit.WindowTitle(), "die"});
    ASSERT_TRUE(runUntil([&] { return kit.lastLocker != 0; }));
    EXPECT_EQ(child.wait(std::chrono::seconds(20)), 0);
    // The timer's purge finds the window gone.
    ASSERT_TRUE(runUntil([&] { return kit.ClientIds().empty(); }));
    EXPECT_FALSE(platform::IsWindow(kit.lastLocker));
    EXPECT_EQ(kit.FirstOwnerLock(), 0u);
}

}  // namespace
