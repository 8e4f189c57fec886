// The station without a window: two stations call each other on loopback and
// their observers hear the call come up and end, a file go across, and the
// arming follow the site's answers.

#include "trennick/station/station.h"

#include "common/fixed_text.h"
#include "trennick/link/file_transfer.h"
#include "trennick/net/testing/net_test_util.h"
#include "trennick/station/station_messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

using namespace trennick;
using nettest::freePort;
using nettest::pumpUntil;

namespace {

// Keeps every event a station tells, in order.
struct Recorder : StationObserver {
    std::vector<CallStateChanged> calls;
    std::vector<TransferEnded> transfers;
    std::vector<ArmChanged> arms;
    std::vector<std::string> notices;
    std::vector<PeerCard> cards;
    void onPeerCard(const PeerCard& e) override { cards.push_back(e); }
    void onCallStateChanged(const CallStateChanged& e) override { calls.push_back(e); }
    void onTransferEnded(const TransferEnded& e) override { transfers.push_back(e); }
    void onArmChanged(const ArmChanged& e) override { arms.push_back(e); }
    void onNotice(const std::string& text) override { notices.push_back(text); }
    int count(CallState state) const {
        int n = 0;
        for (const auto& c : calls) n += c.state == state;
        return n;
    }
};

// A TCP station as the program starts one, with its loop running.
struct RunningStation {
    Recorder events;
    Station station;
    explicit RunningStation(WORD listenPort, std::function<DWORD()> now = {})
        : station(StationConfig{1, std::to_string(listenPort), "", std::move(now), {}, 0}) {
        station.AddObserver(&events);
        station.ReadSettings();
        station.StartLink();
        station.SetLoopActive(true);
        station.ConnectToInternet();
    }
};

std::vector<char> fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

// Calls the listener from the caller and waits until both see the call up.
void connect(RunningStation& listener, WORD port, RunningStation& caller) {
    listener.station.SetListenOn(0);
    caller.station.Call("127.0.0.1:" + std::to_string(port), "listener");
    ASSERT_TRUE(pumpUntil([&] {
        return listener.events.count(CallState::Connected) == 1 && caller.events.count(CallState::Connected) == 1;
    }));
}

}  // namespace

TEST(Station, ObserversHearTheCallComeUpAndEnd) {
    const WORD port = freePort();
    RunningStation listener(port);
    RunningStation caller(freePort());
    connect(listener, port, caller);
    EXPECT_TRUE(caller.station.Link().IsOutgoingCall());
    EXPECT_FALSE(listener.station.Link().IsOutgoingCall());

    // The caller hangs up: both hear the call end.
    ASSERT_TRUE(caller.station.MakeDisconnect(kReasonNone, 0));
    ASSERT_TRUE(pumpUntil([&] {
        return listener.events.count(CallState::Disconnected) == 1 && caller.events.count(CallState::Disconnected) == 1;
    }));
    for (const auto& c : caller.events.calls) {
        if (c.state == CallState::Disconnected) {
            EXPECT_TRUE(c.localHangUp);
        }
    }
    // Going back to listening is told too, and the listener listens again.
    EXPECT_GE(listener.events.count(CallState::Listening), 1);
    EXPECT_TRUE(pumpUntil([&] { return listener.station.Link().IsListeningFor(2) != FALSE; }));
}

TEST(Station, TheCallersCardReachesTheListenersObservers) {
    const WORD port = freePort();
    RunningStation listener(port);
    RunningStation caller(freePort());
    // The General switch that sends this station's card once a call is up.
    CFrameSettings& settings = caller.station.Settings();
    settings.general.Flags[0] |= 1;
    tagBusinessCard card{};
    fixed_text::Write(card.name, sizeof card.name, "Night desk");
    fixed_text::Write(card.text2, sizeof card.text2, "555 0199");
    static_assert(sizeof card == sizeof settings.general.BusinessCard);
    std::memcpy(settings.general.BusinessCard, &card, sizeof card);
    connect(listener, port, caller);

    ASSERT_TRUE(pumpUntil([&] { return !listener.events.cards.empty(); }));
    const PeerCard& got = listener.events.cards.front();
    EXPECT_NE(got.status & kCardReceived, 0);
    EXPECT_EQ(fixed_text::Read(got.card.name, sizeof got.card.name), "Night desk");
    EXPECT_EQ(fixed_text::Read(got.card.text2, sizeof got.card.text2), "555 0199");
    EXPECT_EQ(listener.station.PeerCardName(), "Night desk");
    EXPECT_TRUE(caller.station.CardSentThisConnection());
    EXPECT_TRUE(caller.events.cards.empty()) << "the listener sends no card of its own";
}

TEST(Station, TransferEndedCarriesKindPathAndResult) {
    const WORD port = freePort();
    RunningStation listener(port);
    RunningStation caller(freePort());
    connect(listener, port, caller);

    const std::filesystem::path file = std::filesystem::path(std::getenv("VELMOOR_HOME")) / "report.bin";
    {
        std::ofstream out(file, std::ios::binary);
        for (int i = 0; i < 50000; ++i) out.put(static_cast<char>(i * 7));
    }
    ASSERT_TRUE(caller.station.SendFile(file.string(), ""));
    ASSERT_TRUE(pumpUntil([&] { return !caller.events.transfers.empty() && !listener.events.transfers.empty(); },
                          std::chrono::seconds(60)));

    const TransferEnded& sent = caller.events.transfers.front();
    EXPECT_EQ(sent.direction, TransferDirection::Send);
    EXPECT_EQ(sent.path, file.string());
    EXPECT_EQ(sent.result, caller.station.LastSendResult());
    EXPECT_EQ(sent.result, SEND_COMPLETE);

    const TransferEnded& received = listener.events.transfers.front();
    EXPECT_EQ(received.direction, TransferDirection::Receive);
    EXPECT_EQ(received.fileKind, sent.fileKind);
    EXPECT_EQ(received.result, REC_COMPLETE);
    EXPECT_EQ(received.path, listener.station.LastReceivedFile());
    EXPECT_EQ(fileBytes(received.path), fileBytes(file));

    // Each end is told once, however many passes follow.
    const DWORD passes = caller.station.LoopPasses() + listener.station.LoopPasses();
    ASSERT_TRUE(pumpUntil([&] { return caller.station.LoopPasses() + listener.station.LoopPasses() > passes + 10; }));
    EXPECT_EQ(caller.events.transfers.size(), 1u);
    EXPECT_EQ(listener.events.transfers.size(), 1u);
}

TEST(Station, ArmingFollowsTheSitesAnswers) {
    DWORD nowMs = 1000;
    RunningStation station(freePort(), [&] { return nowMs; });
    Station& s = station.station;
    const platform::HWND hwnd = s.Hwnd();
    DWORD armed = 7;
    ASSERT_EQ(platform::SendMessage(hwnd, kMsgIsSysArm, 0, reinterpret_cast<LPARAM>(&armed)), 0);
    EXPECT_EQ(armed, 0u);

    struct Step {
        const char* what;
        UINT msg;
        WPARAM wParam;
        ArmCause cause;
        bool systemArmed;
        bool waiting;
        bool toggleAllowed;
    };
    const Step steps[] = {
        {"the kit asks to arm", kMsgTessArm, 0, ArmCause::Requested, false, true, false},
        {"the site armed", kMsgUserActionAck, kTokEnablePollTriggers, ArmCause::Acknowledged, true, false, true},
        {"the kit asks to disarm", kMsgTessDisarm, 0, ArmCause::Requested, true, true, false},
        {"the site ignored it", kMsgUserActionAck, kTokDisarmIgnored, ArmCause::Ignored, true, false, true},
        {"the kit asks again", kMsgTessDisarm, 0, ArmCause::Requested, true, true, false},
        {"the site disarmed", kMsgUserActionAck, kTokDisarmAccepted, ArmCause::Acknowledged, false, false, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const std::size_t before = station.events.arms.size();
        platform::SendMessage(hwnd, step.msg, step.wParam, 0);
        ASSERT_EQ(station.events.arms.size(), before + 1);
        const ArmChanged& e = station.events.arms.back();
        EXPECT_EQ(e.cause, step.cause);
        EXPECT_EQ(e.systemArmed, step.systemArmed);
        EXPECT_EQ(e.toggleAllowed, step.toggleAllowed);
        EXPECT_EQ(s.IsSystemArmed(), step.systemArmed);
        EXPECT_EQ(s.WaitingForArmAck(), step.waiting);
        platform::SendMessage(hwnd, kMsgIsSysArm, 0, reinterpret_cast<LPARAM>(&armed));
        EXPECT_EQ(armed, step.systemArmed ? 1u : 0u);
    }

    // The site's alarm panel: armed only while enabled, armed, and the triggers armed.
    platform::SendMessage(hwnd, kMsgCpEnabled, 0, 0);
    platform::SendMessage(hwnd, kMsgCpArmed, 0, 0);
    EXPECT_FALSE(s.SiteArmed());
    platform::SendMessage(hwnd, kMsgUserActionAck, kTokEnablePollTriggers, 0);
    platform::SendMessage(hwnd, kMsgCpArmed, 0, 0);
    EXPECT_TRUE(s.SiteArmed());
    EXPECT_EQ(station.events.arms.back().cause, ArmCause::SiteArmChanged);
    EXPECT_TRUE(station.events.arms.back().siteArmed);
    // Going back to listening forgets the site's arming.
    s.SetListenOn(0);
    EXPECT_FALSE(s.IsSystemArmed());
}

TEST(Station, UnansweredArmRequestGivesTheCommandBackAfterItsTimeOut) {
    // The peer here is another recorder: it takes the arm token and never answers.
    std::atomic<DWORD> nowMs{1000};
    const WORD port = freePort();
    RunningStation listener(port);
    RunningStation caller(freePort(), [&] { return nowMs.load(); });
    connect(listener, port, caller);
    Station& s = caller.station;
    s.OnTogglePollTriggers();
    ASSERT_TRUE(s.WaitingForArmAck());
    s.OnTogglePollTriggers();  // a second request before an answer: nothing goes
    ASSERT_EQ(caller.events.arms.size(), 1u);
    EXPECT_EQ(caller.events.arms[0].cause, ArmCause::Requested);
    EXPECT_FALSE(caller.events.arms[0].toggleAllowed);

    nowMs += kArmAckTimeoutMs - 1;
    const DWORD passes = s.LoopPasses();
    ASSERT_TRUE(pumpUntil([&] { return s.LoopPasses() > passes + 2; }));
    EXPECT_TRUE(s.WaitingForArmAck());
    nowMs += 1;
    ASSERT_TRUE(pumpUntil([&] { return !s.WaitingForArmAck(); }));
    EXPECT_EQ(caller.events.arms.back().cause, ArmCause::AckTimedOut);
    EXPECT_TRUE(caller.events.arms.back().toggleAllowed) << "the call is up: another request may go";
    EXPECT_FALSE(s.IsSystemArmed());
}
