// The link's small services between two links joined back to back: hardware
// profiles in both layouts and the station directory update, text requests,
// event requests filed through real event files, trigger notifications,
// settings reports, business cards, snapshot and notification requests,
// chat and serial-out buckets; malformed forms are dropped.

#include "trennick/link/testing/link_fakes.h"

#include "common/fixed_text.h"
#include "platform/com/com.h"
#include "platform/folders.h"
#include "tavicore/stations_mgr.h"
#include "tavicore/tavicore_globals.h"
#include "tavicore/testing/event_test_support.h"
#include "trennick/link/hw_profile_list.h"
#include "trennick/link/link_payloads.h"
#include "trennick/link/link_trace.h"
#include "trennick/link/serial_out_command.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using namespace linktest;
namespace fs = std::filesystem;


std::vector<BYTE> guarded(WORD tokenId, const void* bytes, DWORD length) {
    return buildGuardedPayload(tokenText(tokenId), static_cast<const BYTE*>(bytes), length);
}

std::string asText(const std::vector<BYTE>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::vector<Posted> postsOf(const FakeWindow& w, UINT message) {
    std::vector<Posted> out;
    for (const auto& p : w.messages) {
        if (p.message == message) out.push_back(p);
    }
    return out;
}

class Services : public ::testing::Test {
protected:
    void SetUp() override {
        traces().clear();
        previous = setLinkTraceSink(collect);
        p.a->captureData = false;
        p.b->captureData = false;
        p.helloBothWays();
        ASSERT_TRUE(p.a->IsConnected());
        ASSERT_TRUE(p.b->IsConnected());
    }
    void TearDown() override { setLinkTraceSink(previous); }
    void send(LoopbackLink& from, const std::vector<BYTE>& payload) {
        ASSERT_GT(from.SendBucket(kTokenBucket, payload.data(), static_cast<DWORD>(payload.size())), 0);
        p.pump();
    }
    LinkPair p;
    LinkTraceSink previous = nullptr;
};

// A stand-alone link of an older peer: no hello, so its protocol number is 0.
struct OldPeerLink {
    FakeClock clock;
    FakeWindow window;
    FakeHost host;
    FakeRemoteView view;
    LoopbackLink link{{&window, &host, nullptr, clock.fn(), LinkSettings{}, 200000, {}}, true};
    OldPeerLink() { link.SetRemoteView(&view); }
    void feed(const std::vector<BYTE>& payload) { link.feedToken(asText(payload)); }
};

// ---- hardware profiles and the station directory ----

TEST(HWProfiles, OldLayoutIsConvertedAndAWrongLengthDropsTheLink) {
    OldPeerLink peer;
    tagHWProfile_VER_0 old{};
    old.adaptersNumber = 2;
    std::memcpy(old.adapters[1].name, "Yard", 4);
    std::memcpy(old.adapters[1].cameras[0].name, "Gate cam", 8);
    peer.feed(guarded(ID_DSVD_HWPROFILE_V1_2, &old, sizeof old));
    ASSERT_EQ(peer.host.storedProfiles.size(), 1u);
    const tagHWProfile& stored = peer.host.storedProfiles[0];
    EXPECT_EQ(+stored.adaptersNumber, 2);
    EXPECT_STREQ(stored.adapters[1].name, "Yard");
    EXPECT_STREQ(stored.adapters[1].cameras[0].name, "Gate cam");
    EXPECT_EQ(postsOf(peer.window, kMsgRemoteProfiles), (std::vector<Posted>{{kMsgRemoteProfiles, 2, 0, false}}));
    EXPECT_EQ(peer.window.count(kMsgProfilesWeCalled), 1);  // this side placed the call
    EXPECT_EQ(peer.link.dropped, 0);

    // Counts beyond the profile's arrays are kept to them.
    old.adaptersNumber = 40;
    peer.feed(guarded(ID_DSVD_HWPROFILE_V1_2, &old, sizeof old));
    ASSERT_EQ(peer.host.storedProfiles.size(), 2u);
    EXPECT_EQ(+peer.host.storedProfiles[1].adaptersNumber, 6);

    std::vector<BYTE> shortProfile(sizeof old - 1, 0);
    peer.feed(guarded(ID_DSVD_HWPROFILE_V1_2, shortProfile.data(), static_cast<DWORD>(shortProfile.size())));
    EXPECT_EQ(peer.link.dropped, 1);
    EXPECT_EQ(peer.host.lamps, std::vector<DWORD>{3000});
    EXPECT_EQ(peer.host.storedProfiles.size(), 2u);
}

std::vector<BYTE> deviceRecord(WORD kind, WORD adapter, WORD index, std::vector<BYTE> fields) {
    std::vector<BYTE> r;
    appendLe16(r, static_cast<WORD>(8 + fields.size()));
    appendLe16(r, kind);
    appendLe16(r, adapter);
    appendLe16(r, index);
    r.insert(r.end(), fields.begin(), fields.end());
    return r;
}

std::vector<BYTE> named(WORD prefix, const std::string& name) {
    std::vector<BYTE> f;
    appendLe16(f, prefix);
    std::vector<BYTE> text(30, 0);
    std::memcpy(text.data(), name.data(), name.size());
    f.insert(f.end(), text.begin(), text.end());
    return f;
}

TEST_F(Services, ProfileListFillsTheStationDirectory) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    platform::com::ensureServersRegistered();
    CStationsMgr manager;
    ASSERT_NE(manager.Get(), nullptr);
    stationsMgr = &manager;
    IZoStationsMgr* directory = manager.Get();
    const std::string guid = p.identityB.guid;

    // The directory already knows the station with six adapters.
    auto before = std::make_unique<ZoStationRecord>();
    std::memset(before.get(), 0, sizeof *before);
    before->version = kZoStationRecordVersion;
    directory->StartQueryStation(guid.c_str());
    directory->GetStationInfo(before.get());
    before->adapterNum = 6;
    for (int a = 0; a < 6; ++a) std::snprintf(before->adapters[a].name, 260, "old %d", a);
    directory->SetStationInfo(before.get());
    ASSERT_EQ(directory->WriteStationInfo(), S_OK);

    // Three adapters with 4, 16 and 0 cameras.
    std::vector<BYTE> list;
    const int cameras[3] = {4, 16, 0};
    for (WORD a = 0; a < 3; ++a) {
        auto adapterName = named(0, "Adapter " + std::to_string(a));
        adapterName.erase(adapterName.begin(), adapterName.begin() + 2);
        const auto adapter = deviceRecord(2, a, 0, adapterName);
        list.insert(list.end(), adapter.begin(), adapter.end());
        for (WORD c = 0; c < cameras[a]; ++c) {
            const auto camera = deviceRecord(7, a, c, named(0, "Cam " + std::to_string(a) + "." + std::to_string(c)));
            list.insert(list.end(), camera.begin(), camera.end());
        }
    }
    send(*p.b, guarded(ID_DSVD_HWPROFILE_V1_2, list.data(), static_cast<DWORD>(list.size())));

    EXPECT_EQ(p.a->GetRemoteAdapterCount(), 3);
    ASSERT_EQ(p.hostA.storedProfiles.size(), 1u);
    EXPECT_EQ(+p.hostA.storedProfiles[0].adapters[1].camerasNumber, 16);
    EXPECT_EQ(postsOf(p.windowA, kMsgRemoteProfiles), (std::vector<Posted>{{kMsgRemoteProfiles, 3, 0, false}}));

    auto after = std::make_unique<ZoStationRecord>();
    std::memset(after.get(), 0, sizeof *after);
    after->version = kZoStationRecordVersion;
    ASSERT_EQ(directory->GetStationInfo(after.get()), S_OK);
    EXPECT_STREQ(after->name, "Control Room");
    EXPECT_EQ(after->adapterNum, 3u);
    for (int a = 0; a < 3; ++a) {
        SCOPED_TRACE(a);
        EXPECT_EQ(after->adapters[a].cameraNum, DWORD(cameras[a]));
        EXPECT_EQ(std::string(after->adapters[a].name), "Adapter " + std::to_string(a));
    }
    EXPECT_STREQ(after->adapters[1].cameraNames[15], "Cam 1.15");
    EXPECT_STREQ(after->adapters[3].name, "old 3");  // entries 4 to 6 keep what the service returned
    EXPECT_STREQ(after->adapters[5].name, "old 5");
    stationsMgr = nullptr;
    // Without the directory the update reports it.
    EXPECT_FALSE(p.a->UpdateStationDataBase());
    EXPECT_EQ(tracesHolding("No Station Mgr interface"), 1);
    CoUninitialize();
}

// ---- text requests ----

TEST_F(Services, TextRequestsChangeTheLocalProfileOrAreRefused) {
    FakeRemoteView viewB;
    p.b->SetRemoteView(&viewB);
    struct Case {
        const char* request;
        WPARAM result;  // 0: no notice
        std::function<void(const tagHWProfile&)> check;
        const char* trace;
    };
    const Case cases[] = {
        {"<1><2><3>", 1, [](const tagHWProfile& h) { EXPECT_EQ(+h.adapters[2].selectedInput, 3); }, nullptr},
        {"<1><1><PAGE3>", 5,
         [](const tagHWProfile& h) {
             const auto d = readDeviceData(h.adapters[1]);
             EXPECT_EQ(+d.selectedPage, 2);
             EXPECT_EQ(+d.pageSelected, 1);
         },
         nullptr},
        {"<2><1><4><1>", 2, [](const tagHWProfile& h) { EXPECT_EQ(+h.adapters[1].relays[4].state, 1); }, nullptr},
        {"<7><1><1>", 0, nullptr, "Unknown Lumora RPC code: 7"},
        {"<2><1>", 0, nullptr, "Error !! Index pos"},
        {"<2>", 0, nullptr, "Error !! Adapter pos"},
        {"<2><1><4>", 0, nullptr, "Error !! Value pos"},
        {"<1><6><3>", 0, nullptr, nullptr},   // no such adapter
        {"<1><0><16>", 0, nullptr, nullptr},  // no such camera
        {"<2><0><16><1>", 0, nullptr, nullptr},
        {"<3>", 0, nullptr, nullptr},
        // Numbers that do not fit the profile's 16-bit fields are refused,
        // not cut to some other page or output state.
        {"<1><1><PAGE65537>", 0, nullptr, nullptr},
        {"<2><1><4><65537>", 0, nullptr, nullptr},
        {"<2><1><4><-1>", 0, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        traces().clear();
        viewB.posts.clear();
        p.hostB.localProfile = tagHWProfile{};
        ASSERT_GT(p.a->SendLumoraRPC(c.request, static_cast<WORD>(std::strlen(c.request))), 0);
        p.pump();
        if (c.result != 0) {
            EXPECT_EQ(viewB.posts, (std::vector<Posted>{{kMsgRpcDone, c.result, 0, false}}));
        } else {
            EXPECT_TRUE(viewB.posts.empty());
            const tagHWProfile zero{};
            EXPECT_EQ(std::memcmp(&zero, &p.hostB.localProfile, sizeof zero), 0);
        }
        if (c.check) c.check(p.hostB.localProfile);
        if (c.trace) {
            EXPECT_EQ(tracesHolding(c.trace), 1);
        }
    }
}

// ---- event requests ----

TEST_F(Services, EventListRequestInBothForms) {
    struct Form {
        const char* name;
        bool old;
        std::string body;
    };
    const Form forms[] = {
        {"protocol 2: binary", false, std::string("\x05\x00\x00\x00\x01\x00\x03\x00", 8)},
        {"protocol 1: text", true, "<0000000000000005>< 1>< 3>"},
    };
    for (const auto& form : forms) {
        SCOPED_TRACE(form.name);
        // Before a hello the peer counts as protocol 2 after ResetLinkState
        // and as protocol 1 after InitializePakconnState.
        LinkPair q;
        if (form.old) {
            q.a->InitializePakconnState();
        } else {
            q.a->ResetLinkState();
        }
        ASSERT_EQ(q.a->GetProtocolVersion(), form.old ? 1 : 2);
        // B has A's hello, so it listens; A has not heard B's yet.
        EXPECT_NE(q.a->SendHello(), 0);
        deliver(*q.a, *q.b, q.pendingB);
        q.b->wire.clear();
        EXPECT_NE(q.a->SendEventDirListCameraRequest({5, 1, 3}), 0);
        EXPECT_EQ(tokenTexts(q.a->wire), std::vector<std::string>{"<REFRESHDEBRIEF>"});
        const std::string wire(q.a->wire.begin(), q.a->wire.end());
        EXPECT_NE(wire.find("<REFRESHDEBRIEF>" + form.body), std::string::npos);
        q.pump();
        const auto posted = postsOf(q.windowB, kMsgEventListRequest);
        ASSERT_EQ(posted.size(), 1u);
        const EventListRequestBlock* record = dataOf<EventListRequestBlock>(posted[0]);
        ASSERT_NE(record, nullptr);
        tagEventDirListCamera head{};
        std::memcpy(&head, record->data(), kEventDirListHeadBytes);
        EXPECT_EQ(head.dwType, 0x20005u);
        EXPECT_EQ(head.wAdapter, 1);
        EXPECT_EQ(head.wCamera, 3);
    }
    // Malformed requests are dropped.
    for (const char* bad : {"<5><1>", "<x><1><2>", "", "1234567", "<5><1><23"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parseEventListRequest(reinterpret_cast<const BYTE*>(bad), static_cast<DWORD>(std::strlen(bad))));
    }
}

TEST_F(Services, EventFileRequestIsAnsweredWithTheEventFile) {
    eventtest::useTestRoot();
    const fs::path incoming = platform::homeFolder() / "incoming";
    fs::create_directories(incoming);
    p.a->SetReceiveFolders(incoming.c_str(), incoming.c_str());

    EXPECT_EQ(p.a->SendEventRequest(nullptr), 0);
    EXPECT_TRUE(p.a->wire.empty());

    tagEventHeader wanted = eventtest::key(EVENT_TYPE_MANUAL, 1, 2, 7);
    ASSERT_GT(p.a->SendEventRequest(&wanted), 0);
    p.pump();
    const auto requests = postsOf(p.windowB, kMsgEventFileRequest);
    ASSERT_EQ(requests.size(), 1u);
    const tagEventHeader* asked = dataOf<tagEventHeader>(requests[0]);
    ASSERT_NE(asked, nullptr);
    EXPECT_EQ(+asked->wAdapter, 1);
    EXPECT_EQ(+asked->wCamera, 2);
    EXPECT_EQ(+asked->dwEventNumber, 7u);
    EXPECT_EQ(+asked->dwType, EVENT_TYPE_MANUAL);

    // B plays its main frame: the event file is written and sent back.
    const std::string path = eventtest::writeEvent(*asked, {{1000, false}, {2000, false}, {1500, false}});
    ASSERT_EQ(p.b->SetSendStatus(1, kFileKindEvent, path.c_str()), 1);
    for (int step = 0; step < 100 && p.b->GetFileSendStatus() != SEND_COMPLETE; ++step) {
        p.b->ProcessSending();
        p.pump();
    }
    ASSERT_EQ(p.b->GetFileSendStatus(), SEND_COMPLETE);
    EXPECT_EQ(p.windowA.count(kMsgFileReceivedKind1), 1);
    std::string received;
    ASSERT_TRUE(p.a->GetReceivedFileName(received));
    tagEventHeader header{};
    EXPECT_EQ(eventtest::readSerials(received, 3, &header), (std::vector<long long>{0, 1, 2}));
    EXPECT_EQ(+header.wCamera, 2);
    EXPECT_EQ(+header.dwSnapShotNum, 3u);
}

TEST(EventRequests, FileRequestHeaderTakenByLengthOrUpToTheBracket) {
    tagEventHeader h{};
    h.wAdapter = '>';  // a header holding the byte ">"
    h.dwEventNumber = 9;
    const auto body = buildEventFileRequest(h);
    const auto parsed = parseEventFileRequest(body.data(), static_cast<DWORD>(body.size()));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(std::memcmp(&*parsed, &h, sizeof h), 0);
    const std::string older = "<VHED\x02>";
    const auto cut = parseEventFileRequest(reinterpret_cast<const BYTE*>(older.data()), static_cast<DWORD>(older.size()));
    ASSERT_TRUE(cut);
    EXPECT_EQ(std::string(cut->chMagic, 4), "VHED");
    EXPECT_EQ(+cut->wState, 2);
    EXPECT_FALSE(parseEventFileRequest(reinterpret_cast<const BYTE*>("<abc"), 4));
}

// ---- trigger notifications ----

TEST(TriggerNotifications, EachFormPostsItsTriggers) {
    // An older peer's 144-byte record.
    OldPeerLink peer;
    tagTrigger_VER_0 old{};
    old.entries[1][2][0] = 1;
    peer.feed(guarded(ID_DSVD_TRIGGERNOTIFICATION, &old, sizeof old));
    EXPECT_EQ(postsOf(peer.window, kMsgTrigger), (std::vector<Posted>{{kMsgTrigger, 1, 2, false}}));
    EXPECT_EQ(peer.view.posts, (std::vector<Posted>{{kMsgTriggerNotified, 0, 0, false}}));
    EXPECT_EQ(+peer.link.GetTriggerNotification().entries[1][2][1], 0);

    // A wrong length or checksum posts nothing.
    peer.window.messages.clear();
    std::vector<BYTE> wrong(143, 0);
    peer.feed(guarded(ID_DSVD_TRIGGERNOTIFICATION, wrong.data(), 143));
    auto bad = guarded(ID_DSVD_TRIGGERNOTIFICATION, &old, sizeof old);
    bad.back() ^= 1;
    peer.feed(bad);
    EXPECT_EQ(peer.window.count(kMsgTrigger), 0);
    EXPECT_EQ(peer.host.lamps, std::vector<DWORD>{3000});

    struct Form {
        const char* name;
        bool old;
        std::vector<BYTE> record;
        Posted expected;
    };
    tagTrigger full{};
    full.entries[5][15][0] = 1;
    std::vector<BYTE> list;
    for (WORD v : {WORD(12), WORD(1), WORD(1), WORD(3), WORD(1), WORD(0)}) appendLe16(list, v);
    const Form forms[] = {
        {"protocol 1: the 384-byte record", true,
         std::vector<BYTE>(reinterpret_cast<BYTE*>(&full), reinterpret_cast<BYTE*>(&full) + sizeof full),
         {kMsgTrigger, 5, 15, false}},
        {"protocol 2: a trigger list", false, list, {kMsgTrigger, 1, 3, false}},
    };
    for (const auto& form : forms) {
        SCOPED_TRACE(form.name);
        LinkPair q;
        q.helloBothWays();
        if (form.old) {
            // A peer of protocol number 8 whose hello lacks the protocol-2 bit.
            StationInfoBlock block{};
            block.length = kStationInfoBytes;
            block.protocolNumber = 8;
            q.a->feedToken(asText(buildHelloPayload(tokenText(ID_DSVD_HELLO_V1_2), block, false)));
            q.a->wire.clear();
            ASSERT_EQ(q.a->GetProtocolVersion(), 1);
        }
        const auto payload = guarded(ID_DSVD_TRIGGERNOTIFICATION, form.record.data(), static_cast<DWORD>(form.record.size()));
        EXPECT_NE(q.b->SendBucket(kTokenBucket, payload.data(), static_cast<DWORD>(payload.size())), 0);
        q.pump();
        EXPECT_EQ(postsOf(q.windowA, kMsgTrigger), std::vector<Posted>{form.expected});
    }
}

// ---- settings reports ----

TEST_F(Services, SettingsReportsArriveWholeOrNotAtAll) {
    ASSERT_EQ(p.a->SendSettingsError(nullptr, 0), 1);
    const std::string wire(p.a->wire.begin(), p.a->wire.end());
    EXPECT_NE(wire.find(std::string("<SETTINGS ERROR>\xFF\xFF\xFF\xFF\x00\x00", 22)), std::string::npos);
    p.pump();
    auto reports = postsOf(p.windowB, kMsgSettingsError);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].wParam, 0u);
    ASSERT_NE(dataOf<SettingsReport>(reports[0]), nullptr);
    EXPECT_TRUE(dataOf<SettingsReport>(reports[0])->empty());

    const BYTE text[] = {'b', 'a', 'd', ' ', 'f', 'p', 's'};
    ASSERT_EQ(p.a->SendSettingsError(text, sizeof text), 1);
    p.pump();
    reports = postsOf(p.windowB, kMsgSettingsError);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].wParam, sizeof text);
    ASSERT_NE(dataOf<SettingsReport>(reports[1]), nullptr);
    EXPECT_EQ(*dataOf<SettingsReport>(reports[1]), SettingsReport(text, text + sizeof text));

    auto wrong = guarded(ID_DSVD_SETTINGSERROR2, text, sizeof text);
    wrong.back() ^= 0x20;
    send(*p.a, wrong);
    EXPECT_EQ(tracesHolding("<SETTINGSERROR2> ERROR: Invalid CRC"), 1);
    auto tooLong = guarded(ID_DSVD_SETTINGSERROR2, text, sizeof text);
    tooLong.pop_back();  // the length field now reaches past the payload
    send(*p.a, tooLong);
    EXPECT_EQ(p.windowB.count(kMsgSettingsError2), 0);
    EXPECT_EQ(p.hostB.lamps, std::vector<DWORD>{3000});

    send(*p.a, guarded(ID_DSVD_SETTINGSERROR2, text, 3));
    reports = postsOf(p.windowB, kMsgSettingsError2);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].wParam, 3u);
    ASSERT_NE(dataOf<SettingsReport>(reports[0]), nullptr);
    EXPECT_EQ(*dataOf<SettingsReport>(reports[0]), SettingsReport(text, text + 3));

    EXPECT_NE(p.a->SendAcknowledgment(ID_DSVD_FINISHUPGRADE), 0);
    p.pump();
    EXPECT_EQ(p.windowB.count(kMsgFinishUpgrade), 1);
}

// ---- business cards ----

tagBusinessCard card(const char* name, const char* picture = "") {
    tagBusinessCard c{};
    fixed_text::Write(c.name, sizeof c.name, name);
    fixed_text::Write(c.picture, sizeof c.picture, picture);
    return c;
}

TEST_F(Services, CardsAreExchangedConfirmedAndResent) {
    const tagBusinessCard mine = card("Ann");
    p.a->SendMyCard(&mine);
    const std::string expected("<My Card><Ann\0><\0><\0><\0>", 24);  // the 24-byte payload
    const std::string wire(p.a->wire.begin(), p.a->wire.end());
    EXPECT_NE(wire.find(expected), std::string::npos);
    EXPECT_EQ(p.a->GetCardStatus(0), kCardSent);
    p.pump();
    EXPECT_EQ(p.b->GetCardStatus(1), kCardReceived);
    EXPECT_EQ(p.a->GetCardStatus(0), kCardConfirmed);
    tagBusinessCard got = card("", "stale");
    EXPECT_EQ(p.b->GetRemoteCard(got), 1);
    EXPECT_STREQ(got.name, "Ann");
    EXPECT_STREQ(got.picture, "");
    EXPECT_EQ(p.b->GetCardStatus(1), 0);

    // Unconfirmed, the card goes again once the confirmation period passed.
    p.b->writeHook = [](std::vector<BYTE>&, const BYTE*, DWORD) {};  // B's answers are lost
    p.a->SendMyCard(nullptr);
    p.pump();
    EXPECT_EQ(p.a->GetCardStatus(0), kCardSent | kCardConfirmed);
    p.a->ProcessSending();
    EXPECT_TRUE(p.a->wire.empty());
    p.clock.ms += 6001;
    p.a->ProcessSending();
    EXPECT_EQ(tokenTexts(p.a->wire), std::vector<std::string>{"<My Card>"});

    // A card without its closing fields is dropped unanswered.
    p.b->writeHook = nullptr;
    p.a->wire.clear();
    p.b->feedToken(std::string("<My Card><Bob\0><x", 17));
    EXPECT_TRUE(p.b->wire.empty());
}

TEST_F(Services, CardPictureTravelsAsAFile) {
    const fs::path special = platform::homeFolder() / "special";
    fs::create_directories(special);
    p.b->SetReceiveFolders(special.c_str(), special.c_str());
    const fs::path picture = platform::homeFolder() / "me.jpg";
    eventtest::writeBytes(picture.string(), {0xFF, 0xD8, 0x01, 0x01, 0xFF, 0xD9});
    const tagBusinessCard mine = card("Ann", picture.c_str());
    p.a->SendMyCard(&mine);
    ASSERT_EQ(p.a->SetSendStatus(1, kFileKindCardPicture, picture.c_str()), 1);
    for (int step = 0; step < 50 && p.a->GetFileSendStatus() != SEND_COMPLETE; ++step) {
        p.a->ProcessSending();
        p.pump();
    }
    EXPECT_EQ(p.a->GetCardStatus(0), kCardConfirmed | kCardPictureSent);
    EXPECT_EQ(p.b->GetCardStatus(1), kCardReceived | kCardPictureReceived);
    tagBusinessCard got{};
    p.b->GetRemoteCard(got);
    EXPECT_EQ(std::string(got.picture), (special / "me.jpg").string());
    EXPECT_EQ(eventtest::readBytes(got.picture), (std::vector<BYTE>{0xFF, 0xD8, 0x01, 0x01, 0xFF, 0xD9}));
    EXPECT_EQ(p.b->GetCardStatus(1), 0);
}

// A card that arrives after its picture file (or a second card) never puts
// its wire picture name where the received file's path is handed out: the
// name could point anywhere on this station.
TEST_F(Services, LaterCardKeepsTheReceivedPicturePath) {
    const fs::path special = platform::homeFolder() / "special";
    fs::create_directories(special);
    p.b->SetReceiveFolders(special.c_str(), special.c_str());
    const fs::path picture = platform::homeFolder() / "me.jpg";
    eventtest::writeBytes(picture.string(), {0xFF, 0xD8, 0xFF, 0xD9});
    const tagBusinessCard mine = card("Ann", picture.c_str());
    p.a->SendMyCard(&mine);
    ASSERT_EQ(p.a->SetSendStatus(1, kFileKindCardPicture, picture.c_str()), 1);
    for (int step = 0; step < 50 && p.a->GetFileSendStatus() != SEND_COMPLETE; ++step) {
        p.a->ProcessSending();
        p.pump();
    }
    ASSERT_EQ(p.b->GetCardStatus(1), kCardReceived | kCardPictureReceived);
    for (const char* hostile : {"/etc/passwd", "../../outside.jpg", "me.jpg"}) {
        SCOPED_TRACE(hostile);
        using namespace std::string_literals;
        p.b->feedToken(std::string(tokenText(ID_DSVD_MY_CARD)) + "<Eve\0><\0><\0><"s + hostile + "\0>"s);
    }
    tagBusinessCard got{};
    p.b->GetRemoteCard(got);
    EXPECT_EQ(std::string(got.name), "Eve");
    EXPECT_EQ(std::string(got.picture), (special / "me.jpg").string());
    // With no picture file pending, a card's wire name is never handed out.
    p.b->feedToken(std::string(tokenText(ID_DSVD_MY_CARD)) + std::string("<Eve\0><\0><\0></etc/passwd\0>", 26));
    p.b->GetRemoteCard(got);
    EXPECT_EQ(got.picture[0], '\0');
}

// ---- snapshot, notification, chat, serial-out ----

TEST_F(Services, SnapshotRequestCarriesItsCheckedRecord) {
    EXPECT_EQ(p.a->SendGetSnapshot(1, 2, 3), 1);
    const std::vector<BYTE> request = {0x0A, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x03, 0x00};
    std::vector<BYTE> body;
    appendLe32(body, static_cast<DWORD>(WireChecksum(request)));
    body.insert(body.end(), request.begin(), request.end());
    const std::string wire(p.a->wire.begin(), p.a->wire.end());
    EXPECT_NE(wire.find("<GETSNAP>" + asText(body)), std::string::npos);
    p.pump();  // the receiving station of this system ignores it
    EXPECT_TRUE(p.windowB.notices().empty());
}

TEST(SnapshotRequests, ParsedOnlyWhenWholeAndSound) {
    const std::vector<BYTE> good = buildSnapshotRequest(2, 1, 60);
    const auto parsed = parseSnapshotRequest(good.data(), DWORD(good.size()));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->first, 2);
    EXPECT_EQ(parsed->second, 1u);
    EXPECT_EQ(parsed->third, 60);
    // Every flipped bit of the checksum or the request is refused, and so is
    // a request cut short.
    for (std::size_t bit = 0; bit < good.size() * 8; ++bit) {
        std::vector<BYTE> bad = good;
        bad[bit / 8] ^= BYTE(1u << (bit % 8));
        EXPECT_FALSE(parseSnapshotRequest(bad.data(), DWORD(bad.size())).has_value()) << bit;
    }
    EXPECT_FALSE(parseSnapshotRequest(good.data(), DWORD(good.size() - 1)).has_value());
    EXPECT_FALSE(parseSnapshotRequest(nullptr, 14).has_value());
}

TEST(Notifications, UserNoticesOrTraces) {
    struct Case {
        const char* request;
        std::vector<UINT> shown;
        const char* trace;
    };
    const Case cases[] = {
        {"<NOTIFYRPC><1><2><0>", {kStrNotice2}, nullptr},
        {"<NOTIFYRPC><1><1><9>", {kStrNotice1}, nullptr},
        {"<NOTIFYRPC><1><3><0>", {kStrNotice3}, nullptr},
        {"<NOTIFYRPC><2><1><0>", {}, "HandleNotificationRPC Unknown RPC type"},
        {"<NOTIFYRPC><1>", {}, "DispatchNotificationRPC: Error !! pos"},
        {"<NOTIFYRPC><1><2>", {}, "DispatchNotificationRPC: Error !! Index pos"},
        {"<NOTIFYRPC><1><4><0>", {}, "ReceiveNotificationRPC()"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        traces().clear();
        const LinkTraceSink previous = setLinkTraceSink(collect);
        OldPeerLink peer;
        peer.link.feedToken(c.request);
        setLinkTraceSink(previous);
        EXPECT_EQ(peer.window.userNotices(), c.shown);
        EXPECT_EQ(peer.window.count(kMsgNotificationShown), c.shown.empty() ? 0 : 1);
        if (c.trace) {
            EXPECT_GE(tracesHolding(c.trace), 1);
        }
        EXPECT_EQ(peer.link.dropped, 0);  // the link stays up
    }
}

TEST_F(Services, ChatTextsFitOrAreRefusedAndOpenTheWindow) {
    EXPECT_EQ(p.a->SendChatString(std::string(1023993, 'x')), 0);
    EXPECT_TRUE(p.a->wire.empty());
    EXPECT_EQ(p.a->SendChatString("good evening"), 1);
    EXPECT_EQ(p.a->SendChatString("anyone there?"), 1);
    p.pump();
    // The open request is posted once; the texts wait in the link for the
    // window the frame opens on its own time.
    const auto opened = postsOf(p.windowB, kMsgCommand);
    EXPECT_EQ(opened, (std::vector<Posted>{{kMsgCommand, kCmdOpenChat, kOpenChatForPeerText, false}}));
    struct Chat : LinkChatWindow {
        void chatText(std::string_view t) override { texts.emplace_back(t); }
        void UpdateTitle(std::string_view) override {}
        std::vector<std::string> texts;
    } chat;
    p.b->SetChatWindow(&chat);
    EXPECT_EQ(chat.texts, (std::vector<std::string>{"good evening", "anyone there?"}));
    EXPECT_EQ(p.a->SendChatString("yes"), 1);
    p.pump();
    EXPECT_EQ(chat.texts.back(), "yes");
    p.b->SetChatWindow(nullptr);

    // Without a window the waiting text is bounded.
    const std::string big(40000, 'y');
    for (int i = 0; i < 4; ++i) EXPECT_EQ(p.a->SendChatString(big), 1);
    p.pump();
    Chat late;
    p.b->SetChatWindow(&late);
    EXPECT_EQ(late.texts.size(), 1u);
    p.b->SetChatWindow(nullptr);
}

class SerialSink : public LinkSerialOutSink {
public:
    void serialOutMessage(const BYTE* m, DWORD n) override { messages.emplace_back(m, m + n); }
    std::vector<std::vector<BYTE>> messages;
};

TEST_F(Services, SerialOutMessagesReachTheKitChannelWhenIntact) {
    SerialSink sink;
    CSerialOutCommand command;
    WORD length = 0;
    ASSERT_TRUE(command.BuildGetSerialOutConfig(2, length));
    const std::vector<BYTE> message(command.Message(), command.Message() + length);
    EXPECT_NE(p.a->SendSerialOutCommand(message.data(), length), 0);
    p.pump();
    EXPECT_EQ(tracesHolding("pNightTessIntegration Error"), 1);  // no kit channel yet
    p.b->SetSerialOutSink(&sink);
    EXPECT_NE(p.a->SendSerialOutCommand(message.data(), length), 0);
    p.pump();
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0], message);
    p.a->writeHook = [](std::vector<BYTE>& wire, const BYTE* data, DWORD n) {
        std::vector<BYTE> copy(data, data + n);
        copy[n - 3] ^= 0x04;  // a payload byte
        wire.insert(wire.end(), copy.begin(), copy.end());
    };
    EXPECT_NE(p.a->SendSerialOutCommand(message.data(), length), 0);
    p.pump();
    EXPECT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(p.hostB.lamps, std::vector<DWORD>{3000});
}

}  // namespace
