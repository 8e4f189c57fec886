#include "trennick/link/link_trace.h"
#include "trennick/link/testing/link_fakes.h"

#include <gtest/gtest.h>
#include <functional>
#include <string>

namespace {

using namespace linktest;


class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        CCommon::setStringLoader([this](UINT id) -> std::string {
            if (id == kStrProgramTitle) return "Velmoor";
            if (id == kStrProgramVersion) return version;
            if (id == kStrStopSending) return "stop";
            if (id == kStrDoNotSend) return "refused";
            return {};
        });
        CCommon::setMessagePresenter([this](UINT id, UINT, const std::string&) {
            shown.push_back(id);
            return 0;
        });
    }
    void TearDown() override {
        CCommon::setStringLoader(nullptr);
        CCommon::setMessagePresenter(nullptr);
    }
public:
    std::string version = "1.0";
    std::vector<UINT> shown;
};

TEST_F(LinkTest, HelloAndOkHelloBothWaysInBothBlockForms) {
    struct Form {
        const char* name;
        std::function<void(CPacketConnection&)> reset;
        std::size_t blockBytes;
    };
    const Form forms[] = {
        {"after ResetLinkState: current layout", [](CPacketConnection& l) { l.ResetLinkState(); }, 1609},
        {"after InitializePakconnState: older layout", [](CPacketConnection& l) { l.InitializePakconnState(); }, 1612},
    };
    for (const auto& form : forms) {
        SCOPED_TRACE(form.name);
        LinkPair p;
        FakeRemoteView viewB;
        p.b->SetRemoteView(&viewB);
        form.reset(*p.a);
        form.reset(*p.b);
        EXPECT_NE(p.a->SendHello(), 0);
        EXPECT_EQ(p.a->wire.size(), 5 + 12 + 4 + form.blockBytes + 1 + 1);
        EXPECT_NE(p.a->SendSiteInfo(), 0);
        EXPECT_NE(p.b->SendHello(), 0);
        EXPECT_NE(p.b->SendSiteInfo(), 0);
        p.pump();

        EXPECT_TRUE(p.a->IsConnected());
        EXPECT_TRUE(p.b->IsConnected());
        EXPECT_EQ(p.a->GetPeerProtocolNumber(), 8);
        EXPECT_EQ(p.b->GetProtocolVersion(), 2);
        EXPECT_EQ(viewB.versions, std::vector<int>{2});

        // The peer's station data reached the main frame.
        BYTE expected[kStationDataBytes];
        BYTE stationByte = 0;
        p.hostA.localStationData(expected, stationByte);
        EXPECT_EQ(p.hostB.remoteData, std::vector<BYTE>(expected, expected + kStationDataBytes));
        EXPECT_EQ(p.hostB.remoteStationByte, stationByte);

        // The user record travels scrambled; the older layout does not carry it over.
        const StationInfoBlock peer = p.b->GetRemoteStationInfo();
        EXPECT_STREQ(peer.versionText, "Velmoor 1.0");
        const std::string scrambled = p.identityA.encrypt("admin");
        if (form.blockBytes == 1609) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(peer.userRecord), scrambled.size()), scrambled);
        } else {
            for (BYTE b : peer.userRecord) ASSERT_EQ(b, 0);
        }

        // Site info both ways.
        ASSERT_EQ(p.hostB.sites.size(), 1u);
        EXPECT_STREQ(p.hostB.sites[0].siteName, "North Gate");
        EXPECT_STREQ(p.hostB.sites[0].guid, p.identityA.guid.c_str());
        ASSERT_EQ(p.hostA.sites.size(), 1u);
        EXPECT_STREQ(p.hostA.sites[0].siteName, "Control Room");

        // Nothing but traffic notices reached either window.
        EXPECT_TRUE(p.windowA.notices().empty());
        EXPECT_TRUE(p.windowB.notices().empty());
        EXPECT_GT(p.windowA.count(kMsgBytesWritten), 0);
        EXPECT_GT(p.hostB.activityLamps, 0);
    }
}

std::vector<std::string>& errorTraces() {
    static std::vector<std::string> lines;
    return lines;
}

// The first hello each side sends comes in the older block layout (the sender
// does not know the peer's yet); taking it is no error. Every bucket goes to
// one of the transport's write queues 1-4.
TEST_F(LinkTest, HelloExchangeTracesNoErrorAndUsesAWriteQueue) {
    errorTraces().clear();
    const LinkTraceSink previous = setLinkTraceSink([](unsigned level, const char* line) {
        if (level == 1) errorTraces().emplace_back(line);
    });
    LinkPair p;
    p.helloBothWays();
    EXPECT_NE(p.a->SendGetMonkey(), 0);
    p.pump();
    setLinkTraceSink(previous);
    EXPECT_TRUE(p.a->IsConnected());
    EXPECT_TRUE(p.b->IsConnected());
    EXPECT_EQ(errorTraces(), std::vector<std::string>{});
    for (const auto* link : {p.a.get(), p.b.get()}) {
        ASSERT_FALSE(link->queues.empty());
        for (LONG q : link->queues) EXPECT_TRUE(q >= 1 && q <= 4) << q;
    }

    // A hello that passes neither layout's check is still reported.
    errorTraces().clear();
    setLinkTraceSink([](unsigned level, const char* line) {
        if (level == 1) errorTraces().emplace_back(line);
    });
    p.b->feedToken(std::string("<HELLO V1.2>") + std::string(1700, 'x'));
    setLinkTraceSink(previous);
    EXPECT_EQ(p.b->dropped, 1);
    ASSERT_FALSE(errorTraces().empty());
    EXPECT_NE(errorTraces()[0].find("Invalid CRC"), std::string::npos);
}

TEST_F(LinkTest, HelloSurvivesAnySplitOfTheStream) {
    for (std::size_t chunk : {1u, 7u, 500u, 1700u}) {
        SCOPED_TRACE(chunk);
        LinkPair p;
        EXPECT_NE(p.a->SendHello(), 0);
        EXPECT_NE(p.a->SendSiteInfo(), 0);
        EXPECT_NE(p.b->SendHello(), 0);
        EXPECT_NE(p.b->SendSiteInfo(), 0);
        p.pump(chunk);
        EXPECT_TRUE(p.a->IsConnected());
        EXPECT_TRUE(p.b->IsConnected());
        EXPECT_EQ(p.hostB.sites.size(), 1u);
    }
}

TEST_F(LinkTest, GuardedBucketsCarryBucketNoOnlyAfterTheHello) {
    // Before the hello the read pass acts on no data bucket; the layout is
    // seen by cutting the bytes with the receiver's own decoder.
    auto cutOne = [](LoopbackLink& from, LoopbackLink& to) {
        std::vector<BYTE> bytes;
        bytes.swap(from.wire);
        const DWORD length = static_cast<DWORD>(bytes.size());
        bytes.resize(bytes.size() + 16);
        ParseCursor cursor;
        cursor.dataLength = length;
        EXPECT_TRUE(to.GetBucket(bytes.data(), static_cast<DWORD>(bytes.size()), cursor));
        return LoopbackLink::copy(to.CurrBucket());
    };
    LinkPair p;
    const BYTE block[] = {'b', 'l', 'k'};
    EXPECT_NE(p.a->SendBucket(kFileBlockBucket, block, 3, 17), 0);
    LoopbackLink::Frame early = cutOne(*p.a, *p.b);
    EXPECT_EQ(early.bucketNo, 0u);
    EXPECT_TRUE(early.checksumOk);
    EXPECT_NE(p.a->SendBucket(kFileBlockBucket, block, 3, 17), 0);
    p.pump();
    EXPECT_TRUE(p.b->frames.empty());

    p.helloBothWays();
    EXPECT_NE(p.a->SendBucket(kFileBlockBucket, block, 3, 17), 0);
    EXPECT_NE(p.a->SendBucket(0x0506, block, 3, 18), 0);  // key frame of camera 5
    p.pump();
    ASSERT_EQ(p.b->frames.size(), 2u);
    EXPECT_EQ(p.b->frames[0].bucketNo, 17u);
    EXPECT_TRUE(p.b->frames[0].checksumOk);
    EXPECT_EQ(p.b->frames[1].type, 0x0506u);
    EXPECT_EQ(p.b->frames[1].bucketNo, 18u);
    EXPECT_EQ(p.b->frames[1].payload, std::vector<BYTE>(block, block + 3));

    // A reset forgets the peer's number: back to the layout without BucketNo.
    p.a->ResetLinkState();
    p.b->ResetLinkState();
    EXPECT_NE(p.a->SendBucket(kAudioBucket, block, 3, 19), 0);
    early = cutOne(*p.a, *p.b);
    EXPECT_EQ(early.bucketNo, 0u);
    EXPECT_TRUE(early.checksumOk);
}

TEST_F(LinkTest, LineSyncEvery20SecondsAndLossAfter60) {
    LinkPair p;
    p.helloBothWays();
    const DWORD t0 = p.clock.ms;
    EXPECT_EQ(p.a->CheckSync(), 1);

    p.clock.ms = t0 + 20001;
    EXPECT_EQ(p.a->SendLineSync(), 1);
    EXPECT_EQ(p.a->SendLineSync(), 0);  // not due again yet
    EXPECT_EQ(tokenTexts(p.a->wire), std::vector<std::string>{"<Line Sync>"});
    p.pump();

    p.clock.ms = t0 + 40001;
    EXPECT_EQ(p.a->SendLineSync(), 0);
    p.clock.ms = t0 + 40002;
    EXPECT_EQ(p.a->SendLineSync(), 1);
    p.a->wire.clear();  // this one is lost on the way

    // B last heard a sync at t0 + 20001; A heard none since the hello at t0.
    p.clock.ms = t0 + 20001 + 60000;
    EXPECT_EQ(p.b->CheckSync(), 1);
    EXPECT_EQ(p.a->CheckSync(), 0);
    p.clock.ms = t0 + 20001 + 60001;
    EXPECT_EQ(p.b->CheckSync(), 0);
}

TEST_F(LinkTest, LineSyncsFollowSettingsAndTheReadQueue) {
    FakeClock clock;
    FakeWindow window;
    LinkSettings settings;
    settings.sendSyncs = false;
    settings.syncsVerification = false;
    LoopbackLink link({&window, nullptr, nullptr, clock.fn(), settings, 4096, {}}, true);
    StationInfoBlock peer{};
    peer.length = kStationInfoBytes;
    peer.protocolNumber = 8;
    peer.capabilities = kCapNewLayout;
    const auto hello = buildHelloPayload("<HELLO V1.2>", peer, true);
    link.feedToken(std::string_view(reinterpret_cast<const char*>(hello.data()), hello.size()));
    link.feedToken("<OKHello>");
    link.wire.clear();
    clock.ms += 100000;
    EXPECT_EQ(link.SendLineSync(), 0);
    EXPECT_EQ(link.CheckSync(), 1);
    EXPECT_TRUE(link.wire.empty());
}

TEST_F(LinkTest, PeerWithProtocolNumber3GetsNoSyncsAndNoSyncCheck) {
    LinkPair p;
    StationInfoBlock peer{};
    peer.length = kStationInfoBytes;
    peer.protocolNumber = 3;
    peer.capabilities = kCapNewLayout;
    const auto hello = buildHelloPayload("<HELLO V1.2>", peer, true);
    p.b->feedToken(std::string_view(reinterpret_cast<const char*>(hello.data()), hello.size()));
    p.b->feedToken("<OKHello>");
    ASSERT_TRUE(p.b->IsConnected());
    p.b->wire.clear();
    p.clock.ms += 1000000;
    EXPECT_EQ(p.b->SendLineSync(), 0);
    EXPECT_EQ(p.b->CheckSync(), 1);
    EXPECT_TRUE(p.b->wire.empty());
}

// Peers of versions 4.8.4, 4.6.2 and 4.1.9 get a line sync back at once.
TEST_F(LinkTest, SomePeerVersionsGetTheirSyncAnswered) {
    for (const char* peerVersion : {"4.6.2", "1.0"}) {
        SCOPED_TRACE(peerVersion);
        version = peerVersion;
        LinkPair p;
        p.helloBothWays();
        const DWORD t0 = p.clock.ms;
        p.clock.ms = t0 + 20001;
        EXPECT_NE(p.a->SendLineSync(), 0);
        p.pump();
        p.clock.ms = t0 + 60001;
        EXPECT_EQ(p.a->CheckSync(), version == "1.0" ? 0 : 1);
    }
}

TEST_F(LinkTest, DisconnectEndsTheLink) {
    LinkPair p;
    p.helloBothWays();
    p.clock.ms += 500;
    EXPECT_NE(p.a->SendDisconnect(), 0);
    p.pump();
    EXPECT_EQ(p.lastB, -1);  // the transport closes
    EXPECT_EQ(p.b->GetDisconnectTime(), p.clock.ms);
    EXPECT_EQ(p.b->GetFileReceiveStatus(), REC_USER_DISCONNECTING);
    EXPECT_EQ(p.b->GetFileSendStatus(), SEND_IDLE);  // idle stays idle
    EXPECT_EQ(p.b->GetLocalVideoStatus(), VIDEO_CLOSED);
    EXPECT_EQ(p.windowB.notices(), (std::vector<Posted>{{kMsgTokenDone, ID_DSVD_DISCONNECT, 0, false}}));
    p.b->ClearDisconnectTime();
    EXPECT_EQ(p.b->GetDisconnectTime(), 0u);
}

// What each received token does: notices to the main window, tokens sent in
// answer, handlers called, and state.
TEST_F(LinkTest, TokenEffects) {
    struct Case {
        std::string payload;
        std::vector<Posted> notices;
        std::vector<std::string> replies;
        std::vector<WORD> handled;
        std::function<void(LoopbackLink&, LinkTest&)> check;
    };
    auto cmd = [](WPARAM id) { return Posted{kMsgCommand, id, 0, false}; };
    auto post = [](UINT m, WPARAM w, LPARAM l = 0) { return Posted{m, w, l, false}; };
    const std::vector<Case> cases = {
        {"<GetMonkey>", {cmd(kCmdGetMonkey)}, {}, {}, {}},
        {"<CANTTRANSFERFILEACK>", {post(kMsgTokenRefused, 74)}, {}, {}, {}},
        {"<NOEVENTSREC>", {post(kMsgTokenRefused, 75)}, {}, {}, {}},
        {"<EVTNOTFOUND>", {post(kMsgTokenRefused, 87)}, {}, {}, {}},
        {"<UPGRADEVER>", {post(kMsgFileRequest, 76)}, {}, {}, {}},
        {"<GETLOGFILES>", {post(kMsgFileRequest, 77)}, {}, {}, {}},
        {"<UNLOCKSERVERREJECT>", {post(kMsgTokenRefused, 62)}, {}, {}, {}},
        {"<LOCKSERVERREJECT>", {post(kMsgTokenRefused, 61)}, {}, {}, {}},
        {"<LOCKSERVERACK>", {post(kMsgTokenDone, 54)}, {}, {}, {}},
        {"<UNLOCKSERVERACK>", {post(kMsgTokenDone, 56)}, {}, {}, {}},
        {"<RECORDEVENT>", {cmd(kCmdRecordEvent)}, {}, {}, {}},
        {"<RECORDEVENTACK>", {post(kMsgTokenDone, 64)}, {}, {}, {}},
        {"<RECORDFINISH>", {cmd(kCmdRecordFinish)}, {}, {}, {}},
        {"<RECORDFINISHACK>", {post(kMsgTokenDone, 66)}, {}, {}, {}},
        {"<AUDIOOUTMUTEACK>", {post(kMsgTokenDone, 107)}, {}, {}, {}},
        {"<AUDIOOUTUNMUTEACK>", {post(kMsgTokenDone, 108)}, {}, {}, {}},
        {"<ENABLEPOLLTRIGGERS>", {post(kMsgTokenDone, 67)}, {}, {}, {}},
        {"<DISABLEPOLLTRIGGERS>", {post(kMsgTokenDone, 68)}, {}, {}, {}},
        {"<SETRECMODEFIX>", {post(kMsgRecordModeFixed, 96)}, {}, {}, {}},
        {"<MEMORYFULL>", {post(kMsgMemoryFull, 98)}, {}, {}, {}},
        {"<MEMORYFREE>", {post(kMsgMemoryFree, 99)}, {}, {}, {}},
        {"<REMREJREM>", {cmd(kCmdCallRefused)}, {}, {}, {}},
        {"<LOCREJLOC>", {cmd(kCmdCallRefused)}, {}, {}, {}},
        {"<Disconnect>", {post(kMsgTokenDone, 7)}, {}, {}, {}},
        {"<WrongUser>", {post(kMsgLoginRefused, 0)}, {}, {},
         [](LoopbackLink& l, LinkTest&) { EXPECT_EQ(l.GetFailedLogins(), 1u); }},
        {"<WrongPwd>", {post(kMsgLoginRefused, 0, kWrongPasswordStringId)}, {}, {},
         [](LoopbackLink& l, LinkTest&) { EXPECT_EQ(l.GetFailedLogins(), 1u); }},
        // Posted, never sent: the window's 30-second question must not hold
        // the read pass or the bucket lock.
        {"<Attend TIMEOUT>", {post(kMsgAttendTimeout, 0)}, {"<ATTENDTIMEOUTACK>"}, {}, {}},
        {"<Attend TIMEOUT Reject>", {post(kMsgAttendTimeoutReject, 0)}, {}, {}, {}},
        // Our default video quality goes back; the video was not running, so
        // it is marked open and no "<OkVideoOpen>" is sent.
        {"<VideoOpen>", {}, {"<YourVideoSettings>"}, {ID_DSVD_VIDEOOPEN},
         [](LoopbackLink& l, LinkTest&) { EXPECT_EQ(l.GetRemoteVideoStatus(), VIDEO_OPEN); }},
        {"<HOLDCALL>", {}, {}, {}, [](LoopbackLink& l, LinkTest&) { EXPECT_EQ(l.GetHoldStatus(), 2); }},
        {"<CANCELHOLDCALL>", {}, {}, {}, [](LoopbackLink& l, LinkTest&) { EXPECT_EQ(l.GetHoldStatus(), 0); }},
        {"<okhello>", {}, {}, {}, [](LoopbackLink& l, LinkTest&) { EXPECT_EQ(l.GetHelloAccepted(), 1); }},
        {"<Line Sync><GetMonkey>", {}, {}, {}, {}},  // a line sync only
        // Told by a posted notice, never by a box inside the read pass.
        {"<Stop Sending>", {post(kMsgUserNotice, kStrStopSending)}, {}, {},
         [](LoopbackLink& l, LinkTest& t) {
             EXPECT_EQ(l.GetFileReceiveStatus(), REC_STOPPED);
             EXPECT_TRUE(t.shown.empty());
         }},
        {"<Do Not Send>", {post(kMsgUserNotice, kStrDoNotSend)}, {}, {},
         [](LoopbackLink& l, LinkTest& t) {
             EXPECT_EQ(l.GetFileSendStatus(), SEND_REFUSED);
             EXPECT_TRUE(t.shown.empty());
         }},
        {"<FinishSending>", {}, {}, {},
         [](LoopbackLink& l, LinkTest&) { EXPECT_EQ(l.GetFileReceiveStatus(), REC_COMPLETE); }},
        {"<CRCOK>", {}, {}, {}, {}},  // no file being sent: traced only
        {"<GETSETTINGS>", {}, {}, {}, {}},
        {"<Send NF><Name>a.txt<Size>3", {}, {"<Do Not Send>"}, {ID_DSVD_SEND_NF}, {}},  // no size: refused
        {"<FCRC>", {}, {}, {ID_DSVD_FCRC}, {}},
        // The site's control panel, alarm and record-mode answers.
        {"<CPISENABLED>", {post(kMsgCpEnabled, 0)}, {}, {}, {}},
        {"<CPISDISABLED>", {post(kMsgCpDisabled, 0)}, {}, {}, {}},
        {"<CPISARMED>", {post(kMsgCpArmed, 0)}, {}, {}, {}},
        {"<CPISDISARMED>", {post(kMsgCpDisarmed, 0)}, {}, {}, {}},
        {"<ENABLEDISABLEALARMREJECT>", {post(kMsgTokenRefused, 69)}, {}, {}, {}},
        {"<RPCDISARMISIGNORED>", {post(kMsgTokenDone, 93)}, {}, {}, {}},
        {"<RPCDISARMISACCEPT>", {post(kMsgTokenDone, 94)}, {}, {}, {}},
        {"<SETRECMODECYC>", {post(kMsgRecModeCyclic, 95)}, {}, {}, {}},
        // The peer's requests about our video are obeyed and told.
        {"<VIDEOPALETTE>", {post(kMsgPeerVideoRequest, ID_DSVD_VIDEOPALETTE)}, {}, {}, {}},
        {"<VIDEORPAUSE>", {post(kMsgPeerVideoRequest, ID_DSVD_VIDEORPAUSE)}, {}, {},
         [](LoopbackLink& l, LinkTest&) {
             const BYTE frame[16] = {};
             l.SetVideoStatus(0, 3);
             l.feedToken("<VIDEORPAUSE>");
             EXPECT_EQ(l.GetLocalVideoStatus(), kVideoStatePaused);
             EXPECT_EQ(l.SendFrame(kVideoBucket, frame, sizeof frame), 0);
             l.feedToken("<VIDEORRESUME>");
             EXPECT_EQ(l.GetLocalVideoStatus(), 3);
             EXPECT_GT(l.SendFrame(kVideoBucket, frame, sizeof frame), 0);
         }},
        {"<VIDEORRESUME>", {post(kMsgPeerVideoRequest, ID_DSVD_VIDEORRESUME)}, {}, {},
         [](LoopbackLink& l, LinkTest&) { EXPECT_EQ(l.GetLocalVideoStatus(), 1); }},  // nothing was paused
        {"<CloseYourVideo>", {post(kMsgPeerVideoRequest, ID_DSVD_CLOSEYOURVIDEO)}, {}, {},
         [](LoopbackLink& l, LinkTest&) {
             const BYTE frame[16] = {};
             EXPECT_EQ(l.GetLocalVideoStatus(), VIDEO_CLOSED);
             EXPECT_EQ(l.SendFrame(kVideoBucket, frame, sizeof frame), 0);
             l.feedToken("<VIDEORRESUME>");  // a closed video stays closed
             EXPECT_EQ(l.GetLocalVideoStatus(), VIDEO_CLOSED);
         }},
        {"<SETTINGS ERROR>", {}, {}, {ID_DSVD_SETTINGS_ERROR}, {}},
        {"<TriggerNotification>", {}, {}, {ID_DSVD_TRIGGERNOTIFICATION}, {}},
        {"<HWProfile V1.2>", {}, {}, {ID_DSVD_HWPROFILE_V1_2}, {}},
        {"no token in here", {}, {}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        shown.clear();
        FakeClock clock;
        FakeWindow window;
        FakeHost host;
        FakeRemoteView view;
        LoopbackLink link({&window, &host, nullptr, clock.fn(), LinkSettings{}, 4096, {}}, false);
        link.SetRemoteView(&view);
        link.feedToken(c.payload);
        EXPECT_EQ(window.notices(), c.notices);
        EXPECT_EQ(tokenTexts(link.wire), c.replies);
        EXPECT_EQ(link.handled, c.handled);
        if (c.check) c.check(link, *this);
        if (c.payload == "<Attend TIMEOUT>") {
            EXPECT_EQ(host.attendLogs, 1);
        }
        if (c.payload == "<Attend TIMEOUT Reject>") {
            EXPECT_EQ(view.posts, (std::vector<Posted>{{kMsgAttendTimeoutReject, 0, 0, false}}));
        }
    }
}

TEST_F(LinkTest, FileTransferTokensMoveTheSendState) {
    FakeClock clock;
    LoopbackLink link({nullptr, nullptr, nullptr, clock.fn(), LinkSettings{}, 4096, {}}, true);
    link.feedToken("<OK for Send>");
    EXPECT_EQ(link.GetFileSendStatus(), SEND_IDLE);  // only an announced file starts sending
}

TEST_F(LinkTest, HelloRetriesEndAfterTheLimit) {
    LinkPair p;
    EXPECT_NE(p.a->SendHello(), 0);
    deliver(*p.a, *p.b, p.pendingB);  // B has A's hello; A never hears B
    p.b->wire.clear();
    int hellos = 0;
    LONG result = 1;
    for (int step = 0; step < 40 && result == 1; ++step) {
        p.clock.ms += 3001;
        result = p.b->CheckTimeOuts();
        const auto tokens = tokenTexts(p.b->wire);
        hellos += static_cast<int>(std::count(tokens.begin(), tokens.end(), "<HELLO V1.2>"));
        p.b->wire.clear();
    }
    EXPECT_EQ(result, -2);
    EXPECT_EQ(hellos, 20);

    // Within the retry period nothing is resent.
    LinkPair q;
    q.b->SetHelloRetry(1000, 3);
    EXPECT_NE(q.a->SendHello(), 0);
    deliver(*q.a, *q.b, q.pendingB);
    EXPECT_NE(q.b->SendHello(), 0);
    q.b->wire.clear();
    q.clock.ms += 1000;
    EXPECT_EQ(q.b->CheckTimeOuts(), 1);
    EXPECT_TRUE(q.b->wire.empty());
    q.clock.ms += 1;
    EXPECT_EQ(q.b->CheckTimeOuts(), 1);
    EXPECT_EQ(tokenTexts(q.b->wire), (std::vector<std::string>{"<HELLO V1.2>", "<SiteInfo>"}));
    q.clock.ms += 1001;
    EXPECT_EQ(q.b->CheckTimeOuts(), 1);
    q.clock.ms += 1001;
    EXPECT_EQ(q.b->CheckTimeOuts(), -2);
}

TEST_F(LinkTest, LoginRefusalStopsHelloRetries) {
    LinkPair p;
    EXPECT_NE(p.a->SendHello(), 0);
    deliver(*p.a, *p.b, p.pendingB);
    p.b->feedToken("<WrongPwd>");
    p.b->wire.clear();
    p.clock.ms += 100000;
    EXPECT_EQ(p.b->CheckTimeOuts(), 1);
    EXPECT_TRUE(p.b->wire.empty());
}

TEST_F(LinkTest, CallerThatTakesNoStationCallsIsRefused) {
    LinkPair p(/*aOutgoing=*/false);  // B places the call
    p.hostB.capabilityFlags = kCapRefusesStationCalls;
    EXPECT_NE(p.b->SendHello(), 0);
    p.pump();
    EXPECT_EQ(p.a->GetHelloReceived(), 0);
    EXPECT_FALSE(p.b->IsConnected());
    EXPECT_EQ(p.windowB.notices(), std::vector<Posted>{(Posted{kMsgCommand, kCmdCallRefused, 0, false})});
}

TEST_F(LinkTest, HoldReachesBothSidesAndTheRemoteViews) {
    LinkPair p;
    FakeRemoteView viewA, viewB;
    p.a->SetRemoteView(&viewA);
    p.b->SetRemoteView(&viewB);
    p.helloBothWays();
    p.a->SetHoldCall(kHoldLocal, true);
    p.pump();
    EXPECT_EQ(p.a->GetHoldStatus(), 1);
    EXPECT_EQ(p.b->GetHoldStatus(), 2);
    p.a->SetHoldCall(kHoldLocal, false);
    p.pump();
    EXPECT_EQ(p.b->GetHoldStatus(), 0);
    EXPECT_EQ(viewA.holds, (std::vector<std::pair<int, bool>>{{1, true}, {1, false}}));
    EXPECT_EQ(viewB.holds, (std::vector<std::pair<int, bool>>{{2, true}, {2, false}}));
}

class FakeAudio : public LinkAudioClient {
public:
    explicit FakeAudio(bool flag) : m_flag(flag) {}
    bool audioFlag() const override { return m_flag; }
    void ProcessRemoteAudio(const BYTE*, DWORD length) override { received.push_back(length); }
    std::vector<DWORD> received;

private:
    bool m_flag;
};

TEST_F(LinkTest, AudioFollowsThePeersBitAndOldVersions) {
    struct Case {
        const char* version;
        bool aHasAudio;
        bool bFlag;
        BOOL expected;
    };
    const Case cases[] = {
        {"1.0", true, true, 1},
        {"1.0", false, true, 0},
        {"2.6", true, true, 0},   // an old peer while our client's flag is set
        {"2.6", true, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.version) + (c.aHasAudio ? " audio" : " no audio"));
        version = c.version;
        LinkPair p;
        FakeAudio audioA(false), audioB(c.bFlag);
        if (c.aHasAudio) p.a->SetAudComp(&audioA);
        p.b->SetAudComp(&audioB);
        BOOL enabled = 7;
        EXPECT_FALSE(p.b->IsAudioEnabled(enabled));
        p.helloBothWays();
        ASSERT_TRUE(p.b->IsAudioEnabled(enabled));
        EXPECT_EQ(enabled, c.expected);

        // Audio goes out only while the peer announced it, and reaches the
        // peer's codec through its link.
        BOOL aEnabled = 0;
        ASSERT_TRUE(p.a->IsAudioEnabled(aEnabled));
        p.b->captureFrames = false;
        const BYTE frame[24] = {1, 2, 3, 4, 5, 6, 7, 8};
        EXPECT_EQ(p.a->SendAudioFrame(frame, sizeof frame), aEnabled != 0);
        p.pump();
        EXPECT_EQ(audioB.received, aEnabled ? std::vector<DWORD>{24} : std::vector<DWORD>{});
    }
}

TEST_F(LinkTest, AdminConnectedOnlyOnOurOwnCall) {
    LinkPair p;
    p.hostA.user = "AdMiN";
    p.hostB.user = "admin";
    EXPECT_TRUE(p.a->IsAdminConnected());
    EXPECT_FALSE(p.b->IsAdminConnected());  // B did not place the call
    p.hostA.user = "administrator";
    EXPECT_FALSE(p.a->IsAdminConnected());
}

TEST_F(LinkTest, ResetsReturnToIdle) {
    LinkPair p;
    p.helloBothWays();
    p.a->SetHoldCall(kHoldLocal, true);
    p.a->ResetLinkState();
    EXPECT_FALSE(p.a->IsConnected());
    EXPECT_EQ(p.a->GetHoldStatus(), 0);
    EXPECT_EQ(p.a->GetPeerProtocolNumber(), 0);
    EXPECT_EQ(p.a->GetProtocolVersion(), 2);
    EXPECT_EQ(p.a->GetFileReceiveStatus(), REC_READY);
    EXPECT_FALSE(p.a->GetRemoteInfo().has_value());
    p.a->InitializePakconnState();
    EXPECT_EQ(p.a->GetProtocolVersion(), 1);
    EXPECT_TRUE(p.a->GetRemoteInfo().has_value());
    p.a->wire.clear();
    EXPECT_NE(p.a->SendHello(), 0);
    EXPECT_EQ(p.a->wire.size(), 5 + 12 + 4 + 1612 + 1 + 1u);

    // ResetHelloState forgets the answer and the sync times only.
    p.b->ResetHelloState();
    EXPECT_EQ(p.b->GetHelloAccepted(), 0);
    EXPECT_EQ(p.b->GetHelloReceived(), 1);
}

TEST_F(LinkTest, SetDisconnectStatusStopsTransfersAndVideo) {
    LinkPair p;
    p.helloBothWays();
    p.b->feedToken("<VideoOpen>");
    p.b->SetDisconnectStatus();
    EXPECT_EQ(p.b->GetFileReceiveStatus(), REC_USER_DISCONNECTING);
    EXPECT_EQ(p.b->GetFileSendStatus(), SEND_USER_DISCONNECTING);
    EXPECT_EQ(p.b->GetRemoteVideoStatus(), VIDEO_CLOSED);
    EXPECT_EQ(p.b->GetLocalVideoStatus(), VIDEO_CLOSED);
    // Any token bucket now makes the transport close.
    EXPECT_NE(p.a->SendGetMonkey(), 0);
    p.pump();
    EXPECT_EQ(p.lastB, -1);
}

// ---- untrusted input ----

// A token inside the peer's own text (here its site name) is data, not a token.
TEST_F(LinkTest, TokenTextInsidePeerDataIsNotDispatched) {
    LinkPair p;
    p.identityA.name = "<Disconnect>";
    p.helloBothWays();
    ASSERT_EQ(p.hostB.sites.size(), 1u);
    EXPECT_STREQ(p.hostB.sites[0].siteName, "<Disconnect>");
    EXPECT_EQ(p.b->GetDisconnectTime(), 0u);
    EXPECT_TRUE(p.b->IsConnected());
}

TEST_F(LinkTest, MalformedHelloOrSiteInfoDropsTheLink) {
    struct Case {
        const char* name;
        std::string payload;
        bool lamp;
    };
    std::string shortSite = "<SiteInfo>";
    shortSite += std::string("\x01\x02\x03\x04\xff\x02", 6) + std::string(767, 'x');
    const Case cases[] = {
        {"hello cut short", "<HELLO V1.2>" + std::string(100, 'h'), false},
        {"hello with no body", "<HELLO V1.2>", false},
        {"site info of 767 bytes", shortSite, true},
        {"site info with no body", "<SiteInfo>", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clock;
        FakeWindow window;
        FakeHost host;
        LoopbackLink link({&window, &host, nullptr, clock.fn(), LinkSettings{}, 4096, {}}, false);
        link.feedToken(c.payload);
        EXPECT_EQ(link.dropped, 1);
        EXPECT_EQ(link.GetHelloReceived(), 0);
        EXPECT_TRUE(tokenTexts(link.wire).empty());
        EXPECT_TRUE(host.sites.empty());
        EXPECT_EQ(host.lamps, c.lamp ? std::vector<DWORD>{3000} : std::vector<DWORD>{});
    }
}

TEST_F(LinkTest, ChatTextReachesTheChatWindow) {
    struct Chat : LinkChatWindow {
        void chatText(std::string_view t) override { texts.emplace_back(t); }
        void UpdateTitle(std::string_view n) override { titles.emplace_back(n); }
        std::vector<std::string> texts, titles;
    } chat;
    LinkPair p;
    p.helloBothWays();
    p.b->SetChatWindow(&chat);
    EXPECT_NE(p.a->SendChatString("good evening"), 0);
    p.pump();
    EXPECT_EQ(chat.texts, std::vector<std::string>{"good evening"});
    p.b->ResetLinkState();
    EXPECT_EQ(chat.titles, std::vector<std::string>{""});
}

}  // namespace

namespace {

struct RecordingChat : LinkChatWindow {
    void chatText(std::string_view t) override { texts.emplace_back(t); }
    void UpdateTitle(std::string_view) override {}
    std::vector<std::string> texts;
};

}  // namespace

// Until the peer's own hello has arrived and checked out, nothing it sends
// but the hello exchange is acted on: no notice, no command, no chat, no state.
TEST_F(LinkTest, BeforeThePeersHelloOnlyTheHelloExchangeIsActedOn) {
    auto speakOutOfTurn = [](LinkPair& p) {
        for (WORD token : {ID_DSVD_STOP_SENDING, ID_DSVD_DO_NOT_SEND, ID_DSVD_GETMONKEY, ID_DSVD_HOLDCALL,
                           ID_DSVD_ATTEND_TIMEOUT, ID_DSVD_RECORDEVENT}) {
            EXPECT_NE(p.a->SendAcknowledgment(token), 0);
        }
        EXPECT_NE(p.a->SendChatString("too early"), 0);
        p.pump();
    };
    for (bool badHello : {false, true}) {
        SCOPED_TRACE(badHello ? "after a hello that fails its check" : "before any hello");
        LinkPair p;
        RecordingChat chat;
        p.b->SetChatWindow(&chat);
        if (badHello) {
            StationInfoBlock block{};
            block.length = kStationInfoBytes;
            auto hello = buildHelloPayload("<HELLO V1.2>", block, true);
            hello[20] ^= 0x55;  // the checksum no longer matches
            EXPECT_NE(p.a->SendBucket(kTokenBucket, hello.data(), static_cast<DWORD>(hello.size())), 0);
            p.pump();
            EXPECT_EQ(p.b->GetHelloReceived(), 0);
            p.windowB.messages.clear();
            p.hostB.activityLamps = 0;
        }
        speakOutOfTurn(p);
        EXPECT_TRUE(p.windowB.notices().empty());
        EXPECT_EQ(p.b->GetFileReceiveStatus(), REC_READY);
        EXPECT_EQ(p.b->GetFileSendStatus(), SEND_IDLE);
        EXPECT_EQ(p.b->GetHoldStatus(), 0);
        EXPECT_EQ(p.hostB.attendLogs, 0);
        EXPECT_TRUE(chat.texts.empty());
        EXPECT_EQ(p.hostB.activityLamps, 0);  // nothing was dispatched
    }

    // The exchange itself goes through, and then the peer is heard.
    LinkPair p;
    RecordingChat chat;
    p.b->SetChatWindow(&chat);
    p.helloBothWays();
    ASSERT_TRUE(p.a->IsConnected());
    ASSERT_TRUE(p.b->IsConnected());
    EXPECT_EQ(p.hostB.sites.size(), 1u);
    p.windowB.messages.clear();
    speakOutOfTurn(p);
    EXPECT_EQ(p.windowB.userNotices(), (std::vector<UINT>{kStrStopSending, kStrDoNotSend}));
    EXPECT_EQ(p.windowB.count(kMsgAttendTimeout), 1);
    EXPECT_EQ(p.b->GetHoldStatus(), 2);
    EXPECT_EQ(chat.texts, std::vector<std::string>{"too early"});
}

// A peer's refusal of our hello and its hanging up arrive before its hello.
TEST_F(LinkTest, RefusalsOfOurHelloArriveBeforeThePeersHello) {
    for (WORD token : {ID_DSVD_WRONGPWD, ID_DSVD_REMREJREM, ID_DSVD_DISCONNECT}) {
        SCOPED_TRACE(tokenName(token));
        LinkPair p;
        EXPECT_NE(p.a->SendAcknowledgment(token), 0);
        p.pump();
        EXPECT_EQ(p.windowB.notices().size(), 1u);
    }
}

// The statistics count what crossed the line: every byte each side wrote is
// a byte the other read, noise included, however the reads cut the stream.
TEST(LinkStatistics, CountExactlyWhatCrossedTheLineBothWays) {
    LinkPair p;
    ULONGLONG writtenByA = 0, writtenByB = 0;
    // Each side's writes are counted as they go out.
    auto move = [&](std::size_t chunk) {
        while (!p.a->wire.empty() || !p.b->wire.empty()) {
            writtenByA += p.a->wire.size();
            deliver(*p.a, *p.b, p.pendingB, chunk);
            writtenByB += p.b->wire.size();
            deliver(*p.b, *p.a, p.pendingA, chunk);
        }
    };
    EXPECT_NE(p.a->SendHello(), 0);
    EXPECT_NE(p.a->SendSiteInfo(), 0);
    EXPECT_NE(p.b->SendHello(), 0);
    EXPECT_NE(p.b->SendSiteInfo(), 0);
    move(7);  // buckets cut across reads
    ASSERT_TRUE(p.a->IsConnected());
    const std::string noise = "line noise";
    p.a->wire.insert(p.a->wire.end(), noise.begin(), noise.end());
    EXPECT_NE(p.a->SendChatString("from A"), 0);
    EXPECT_NE(p.b->SendChatString("from B, a little longer"), 0);
    p.clock.ms += 1234;
    move(0);

    CPacketConnection::LinkStatistics a, b;
    p.a->GetLinkStatistics(a);
    p.b->GetLinkStatistics(b);
    EXPECT_EQ(a.bytesSent + noise.size(), writtenByA);
    EXPECT_EQ(b.bytesSent, writtenByB);
    EXPECT_EQ(b.bytesReceived, writtenByA);
    EXPECT_EQ(a.bytesReceived, writtenByB);
    EXPECT_EQ(b.bucketsReceived, a.bucketsSent);
    EXPECT_EQ(a.bucketsReceived, b.bucketsSent);
    EXPECT_GE(a.bucketsSent, 4u);  // hello, site info, "<OKHello>", chat
    EXPECT_EQ(a.elapsedMs, 1234u);

    // A new call starts from nothing.
    p.a->ResetLinkState();
    p.a->GetLinkStatistics(a);
    EXPECT_EQ(a.bytesSent + a.bytesReceived + a.bucketsSent + a.bucketsReceived, 0u);
}
