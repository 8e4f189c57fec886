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

TEST(TessIntegration, PurgeTimerRunsOnlyWhileAClientOrALockIsThere) {
    TestKit kit;
    ASSERT_TRUE(kit.Create());
    EXPECT_FALSE(kit.PurgeTimerRunning());  // nobody to purge: the channel rests
    ProxyWindow client;
    ASSERT_TRUE(client.create());
    ASSERT_EQ(request(kit.hwnd(), client.hwnd(), kTessRequestRegister), 0);
    EXPECT_TRUE(kit.PurgeTimerRunning());
    ASSERT_EQ(request(kit.hwnd(), client.hwnd(), kTessRequestUnregister), 0);
    EXPECT_FALSE(kit.PurgeTimerRunning());
    // A lock taken without registering is a holder the purge must watch too.
    ASSERT_EQ(request(kit.hwnd(), client.hwnd(), kTessRequestOwnerLock, 1), 0);
    EXPECT_TRUE(kit.PurgeTimerRunning());
    // The purge frees the lock of a holder that is no client, then rests.
    ASSERT_TRUE(runUntil([&] { return kit.FirstOwnerLock() == 0 && !kit.PurgeTimerRunning(); }));
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

// Every notification's arguments land at the offsets the kit reads, numbers
// little-endian in their width and texts cut to their room and terminated.
TEST(TessIntegration, EveryNotificationPutsItsArgumentsWhereTheKitReadsThem) {
    struct Expect {
        char kind;  // 'w' 16-bit, 'd' 32-bit, 't' text
        std::size_t offset;
        DWORD number;
        std::string text;
    };
    struct Case {
        WORD code;
        std::function<void(CTessIntegration&)> notify;
        std::vector<Expect> expect;
    };
    const std::string t300(300, 'x');
    const std::string t1100(1100, 'y');
    const std::vector<Case> cases = {
        {kTessAuthorizationError, nullptr, {{'w', 0, 0x0102, ""}, {'t', 2, 0, std::string(99, 'x')}}},
        {kTessAlarmDetected, [&](auto& k) { k.NotifyAlarmDetected(0x11, 0x12, 0x13, t300.c_str()); },
         {{'w', 0, 7, ""}, {'w', 2, 0x11, ""}, {'w', 4, 0x12, ""}, {'w', 6, 0x13, ""}, {'t', 8, 0, std::string(49, 'x')}}},
        {kTessAfterConnect, [](auto& k) { k.NotifyAfterConnect(0xA1B2C3D4); }, {{'d', 0, 0xA1B2C3D4, ""}}},
        {kTessAfterDisconnect, [](auto& k) { k.NotifyAfterDisconnect(0xBEEF); }, {{'w', 0, 0xBEEF, ""}}},
        {kTessBeforeDialOnAlarm, [](auto& k) { k.NotifyBeforeDialOnAlarm(3, 4); }, {{'w', 0, 3, ""}, {'w', 2, 4, ""}}},
        {kTessGroupsChanged, [](auto& k) { k.NotifyCode8(); }, {}},
        {kTessVideoIsStreaming, [](auto& k) { k.NotifyVideoIsStreaming(); }, {{'w', 0, 0, ""}}},
        {kTessFileAccepted, [&](auto& k) { k.NotifyFileAccepted(5, t300.c_str()); },
         {{'w', 0, 5, ""}, {'t', 2, 0, std::string(259, 'x')}}},
        {kTessFileStarted, [](auto& k) { k.NotifyFileStarted(); }, {}},
        {kTessRecordStart, [](auto& k) { k.NotifyRecordStart("a.trg", 6, 7); },
         {{'t', 0, 0, "a.trg"}, {'d', 260, 6, ""}, {'d', 264, 7, ""}}},
        {kTessRecordFinish, [&](auto& k) { k.NotifyRecordFinish(t300.c_str(), 8, 9); },
         {{'t', 0, 0, std::string(259, 'x')}, {'d', 260, 8, ""}, {'d', 264, 9, ""}}},
        {kTessFullEvents, [](auto& k) { k.NotifyFullEvents(); }, {}},
        {kTessEventModeChanged, [](auto& k) { k.NotifyEventModeChanged(2); }, {{'w', 0, 2, ""}}},
        {kTessMemoryFree, [](auto& k) { k.NotifyMemoryFree(); }, {}},
        {kTessSetSerialOutConfigAck, [](auto& k) { k.NotifySetSerialOutConfigAck(1, 2); },
         {{'w', 0, 1, ""}, {'w', 2, 2, ""}}},
        {kTessGetSerialOutConfigAck,
         [&](auto& k) { k.NotifyGetSerialOutConfigAck(1, 2, 3, 0x01020304, 5, 6, 7, 8, t1100.c_str(), 9); },
         {{'w', 0, 1, ""}, {'w', 2, 2, ""}, {'w', 4, 3, ""}, {'d', 8, 0x01020304, ""}, {'w', 12, 5, ""},
          {'w', 14, 6, ""}, {'w', 16, 7, ""}, {'w', 18, 8, ""}, {'t', 20, 0, std::string(999, 'y')}, {'w', 1020, 9, ""}}},
        {kTessSerialOutDataWriteAck, [](auto& k) { k.NotifySerialOutDataWriteAck(1, 2, 3); },
         {{'w', 0, 1, ""}, {'w', 2, 2, ""}, {'w', 6, 3, ""}}},
        {kTessSerialOutDataRead, [](auto& k) { k.NotifySerialOutDataRead(1, "data", 2, 3); },
         {{'w', 0, 1, ""}, {'t', 4, 0, "data"}, {'w', 1004, 2, ""}, {'w', 1006, 3, ""}}},
        {kTessTermSerialOutAck, [](auto& k) { k.NotifyTermSerialOutAck(1, 2); }, {{'w', 0, 1, ""}, {'w', 1020, 2, ""}}},
        {kTessSerialOutError, [](auto& k) { k.NotifySerialOutError(1, 2, 3); },
         {{'w', 0, 1, ""}, {'w', 2, 2, ""}, {'w', 4, 3, ""}}},
        {kTessSerialOutDataReadAck, [](auto& k) { k.NotifySerialOutDataReadAck(1, 2); },
         {{'w', 0, 1, ""}, {'w', 1020, 2, ""}}},
        {kTessSetActiveProtocol, [](auto& k) { k.NotifySetActiveProtocol(1, "proto", 2); },
         {{'w', 0, 0, ""}, {'w', 2, 1, ""}, {'t', 20, 0, "proto"}, {'w', 1020, 2, ""}}},
        {kTessListDownloadStarted, [](auto& k) { k.NotifyListDownloadStarted(); }, {}},
        {kTessListDownloadFinished, [](auto& k) { k.NotifyListDownloadFinished(0x10203040); },
         {{'d', 0, 0x10203040, ""}}},
        {kTessEventDownloadStarted, [](auto& k) { k.NotifyEventDownloadStarted(); }, {}},
        {kTessEventDownloadFinished, [](auto& k) { k.NotifyEventDownloadFinished("e", 1, 2, 3); },
         {{'t', 0, 0, "e"}, {'d', 260, 1, ""}, {'d', 264, 2, ""}, {'d', 276, 3, ""}}},
        {kTessLineConnected, [](auto& k) { k.NotifyLineConnected(0x11223344, "line 1"); },
         {{'d', 0, 0x11223344, ""}, {'t', 4, 0, "line 1"}}},
        {kTessLineDisconnected, [&](auto& k) { k.NotifyLineDisconnected(2, t300.c_str()); },
         {{'d', 0, 2, ""}, {'t', 4, 0, std::string(259, 'x')}}},
        {kTessLineRing, [](auto& k) { k.NotifyLineRing(3, "ring"); }, {{'d', 0, 3, ""}, {'t', 4, 0, "ring"}}},
        {kTessGetProfileDone, [](auto& k) { k.NotifyGetProfileDone("p.ini", 4); },
         {{'t', 0, 0, "p.ini"}, {'w', 260, 4, ""}}},
        {kTessSetProfileDone, [](auto& k) { k.NotifySetProfileDone("q.ini", 5); },
         {{'t', 0, 0, "q.ini"}, {'w', 260, 5, ""}}},
        {kTessBeforeModeChanged, [](auto& k) { k.NotifyBeforeModeChanged(6, 7); }, {{'w', 0, 6, ""}, {'w', 2, 7, ""}}},
    };

    TestKit kit;
    ASSERT_TRUE(kit.Create());
    ProxyWindow client;
    ASSERT_TRUE(client.create());
    ASSERT_EQ(request(kit.hwnd(), client.hwnd(), kTessRequestRegister), 0);
    kit.SetCurrentMode(7);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const std::size_t before = client.received.size();
        if (c.notify) {
            c.notify(kit);
        } else {
            kit.NotifyAuthorizationError(static_cast<DWORD>(client.hwnd()), 0x0102, t300.c_str());
        }
        ASSERT_TRUE(runUntil([&] { return client.received.size() == before + 1; }));
        kit.WaitForSends();
        const auto& got = client.received.back();
        EXPECT_EQ(got.code, c.code);
        std::vector<BYTE> expected(kTessPayloadBytes, 0);
        for (const Expect& e : c.expect) {
            if (e.kind == 'w') {
                const WORD v = static_cast<WORD>(e.number);
                std::memcpy(expected.data() + e.offset, &v, sizeof v);
            } else if (e.kind == 'd') {
                std::memcpy(expected.data() + e.offset, &e.number, sizeof e.number);
            } else {
                std::memcpy(expected.data() + e.offset, e.text.data(), e.text.size());
            }
        }
        // Nothing but the arguments: every other byte stays zero.
        EXPECT_EQ(got.payload, expected);
    }
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
