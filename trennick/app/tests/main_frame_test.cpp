#include "trennick/app/main_frame.h"
#include "trennick/app/frame_panels.h"

#include "trennick/app/testing/app_test_support.h"
#include "trennick/app/kiv_app.h"
#include "trennick/station/remote_requests.h"
#include "trennick/book/bc_wnd.h"
#include "tavicore/db_lumo.h"
#include "tavicore/stations_mgr.h"
#include "tavicore/tavicore_globals.h"
#include "tavicore/ui/testing/ui_test_support.h"
#include "tavicore/ui/ui_resources.h"
#include "trennick/station/station_messages.h"
#include "trennick/kit/tess_integration.h"
#include "trennick/link/cards.h"
#include "trennick/link/common_base.h"
#include "trennick/link/link_payloads.h"
#include "trennick/link/serial_out_command.h"
#include "trennick/ui/lcd_panel.h"
#include "trennick/link/prot_list.h"
#include "trennick/link/station_info.h"
#include "trennick/link/testing/sink_transport.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QFontMetrics>
#include <QMenuBar>
#include <QToolBar>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

using namespace trennick;
using namespace apptest;

namespace {

// A link whose peer is played by the test: tokens are fed in as if they had
// arrived, and whatever the link writes is taken and dropped.
class ScriptedLink : public CPacketConnection {
public:
    explicit ScriptedLink(const LinkServices& services)
        : CPacketConnection(services, makeKeepingTransport()), line(static_cast<SinkTransport&>(Transport())) {}
    void feed(std::string_view token, const std::vector<BYTE>& body = {}) {
        std::vector<BYTE> payload(token.begin(), token.end());
        payload.insert(payload.end(), body.begin(), body.end());
        CheckAcknowledgment(payload.data(), static_cast<DWORD>(payload.size()));
    }
    SinkTransport& line;
    bool& up = line.up;  // the call is up while the test says so
    std::vector<BYTE>& written = line.written;
};

ScriptedLink* g_link = nullptr;

std::unique_ptr<CPacketConnection> makeScriptedLink(const LinkServices& services) {
    auto link = std::make_unique<ScriptedLink>(services);
    g_link = link.get();
    return link;
}

// The hello of a peer of this program's protocol.
void greet(ScriptedLink& link) {
    StationInfoBlock peer{};
    peer.length = kStationInfoBytes;
    peer.protocolNumber = kOwnProtocolNumber;
    peer.capabilities = kCapNewLayout;
    const std::vector<BYTE> hello = buildHelloPayload(tokenText(ID_DSVD_HELLO_V1_2), peer, true);
    link.feed({reinterpret_cast<const char*>(hello.data()), hello.size()});
}

// Starts a program on the scripted link and brings its call up.
struct ConnectedFrame {
    AnsweringUi ui;
    std::unique_ptr<CKivApp> app;
    CMainFrame* frame = nullptr;

    explicit ConnectedFrame(const char* instance) {
        SetModemLinkFactory(&makeScriptedLink);
        app = std::make_unique<CKivApp>(std::vector<std::string>{"/NOSPLASH", "/M", instance}, "",
                                        quietServices(&ui));
        EXPECT_TRUE(app->InitInstance());
        frame = app->MainFrame();
        EXPECT_TRUE(pumpUntil([&] { return frame->PostCreateDone(); }));
        StationInfoBlock peer{};
        peer.length = kStationInfoBytes;
        peer.protocolNumber = kOwnProtocolNumber;
        peer.capabilities = kCapNewLayout;
        const std::vector<BYTE> hello = buildHelloPayload(tokenText(ID_DSVD_HELLO_V1_2), peer, true);
        g_link->feed({reinterpret_cast<const char*>(hello.data()), hello.size()});
        g_link->feed(tokenText(ID_DSVD_OKHELLO));
        g_link->up = true;
    }
    ~ConnectedFrame() {
        g_link->up = false;
        platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
        EXPECT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
        app->ExitInstance();
        app.reset();
        SetModemLinkFactory(nullptr);
        g_link = nullptr;
    }
};

void appendLe16(std::vector<BYTE>& out, WORD v) {
    out.push_back(static_cast<BYTE>(v & 0xFF));
    out.push_back(static_cast<BYTE>(v >> 8));
}

// One record of a hardware-profile list: an adapter (kind 2) or a camera (7) with its name.
std::vector<BYTE> profileRecord(WORD kind, WORD adapter, WORD index, const std::string& name) {
    std::vector<BYTE> fields;
    if (kind == 7) appendLe16(fields, 0);
    std::vector<BYTE> text(30, 0);
    std::memcpy(text.data(), name.data(), name.size());
    fields.insert(fields.end(), text.begin(), text.end());
    std::vector<BYTE> r;
    appendLe16(r, static_cast<WORD>(8 + fields.size()));
    appendLe16(r, kind);
    appendLe16(r, adapter);
    appendLe16(r, index);
    r.insert(r.end(), fields.begin(), fields.end());
    return r;
}

std::string_view asText(const std::vector<BYTE>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

// Everything the link asks of its host reaches the real frame: the peer's
// identity lands in the station directory with its profile, a text request
// switches an output of this station's profile, a notice is shown in the
// timed box, a checksum error lights the data lamp and a serial-out answer
// reaches the frame.
TEST(MainFrame, LinkHostHooksReachTheRealFrame) {
    ConnectedFrame c("/U24");
    CMainFrame* frame = c.frame;
    ASSERT_TRUE(g_link->IsConnected());
    ASSERT_NE(stationsMgr, nullptr);

    // The frame told the peer who it is right after the hello.
    ASSERT_TRUE(pumpUntil([&] {
        return asText(g_link->written).find("<SiteInfo>") != std::string_view::npos;
    }));

    SiteInfoBlock site{};
    std::strcpy(site.guid, "{5A1E0000-0000-4000-8000-00000000A1A1}");
    std::strcpy(site.siteName, "North Gate");
    std::strcpy(site.sitePhone, "555-0100");
    g_link->feed(asText(buildGuardedPayload(tokenText(ID_DSVD_SITEINFO), reinterpret_cast<const BYTE*>(&site),
                                            sizeof site)));
    BYTE held[kSiteInfoBytes];
    ASSERT_TRUE(frame->GetSiteInfo(held));

    std::vector<BYTE> list = profileRecord(2, 0, 0, "Yard");
    const auto camera = profileRecord(7, 0, 0, "Gate cam");
    list.insert(list.end(), camera.begin(), camera.end());
    g_link->feed(asText(buildGuardedPayload(tokenText(ID_DSVD_HWPROFILE_V1_2), list.data(),
                                            static_cast<DWORD>(list.size()))));
    // The remote settings database holds the profile ...
    auto profile = std::make_unique<tagHWProfile>();
    ASSERT_NE(frame->RemoteDB()->GetHWProfiles(profile.get(), 0), 0);
    EXPECT_STREQ(profile->adapters[0].name, "Yard");
    // ... and the station directory the peer's real name and phone.
    IZoStationsMgr* directory = stationsMgr->Get();
    ASSERT_NE(directory, nullptr);
    auto record = std::make_unique<ZoStationRecord>();
    std::memset(record.get(), 0, sizeof *record);
    record->version = kZoStationRecordVersion;
    directory->StartQueryStation(site.guid);
    directory->ReadStationInfo();
    ASSERT_EQ(directory->GetStationInfo(record.get()), S_OK);
    EXPECT_STREQ(record->name, "North Gate");
    EXPECT_STREQ(record->phone, "555-0100");
    EXPECT_EQ(record->adapterNum, 1u);

    // A text request switches output 3 of adapter 0 of this station's
    // profile. The link's read never waits for this station's settings: they
    // are read, changed and written on the frame's thread after it.
    g_link->feed("<LumoraRPC><2><0><3><1>");
    EXPECT_EQ(frame->LocalDB(), nullptr) << "the read loaded this station's settings itself";
    ASSERT_TRUE(pumpUntil([&] {
        return frame->LocalDB() != nullptr && frame->LocalDB()->GetHWProfiles(profile.get(), 0) != 0 &&
               profile->adapters[0].relays[3].state == 1;
    }));
    g_link->feed("<LumoraRPC><2><0><3><0>");
    ASSERT_TRUE(pumpUntil([&] {
        frame->LocalDB()->GetHWProfiles(profile.get(), 0);
        return profile->adapters[0].relays[3].state == 0;
    }));

    // A peer's notice is shown and leaves the call up.
    g_link->feed("<NOTIFYRPC><1><2><0>");
    ASSERT_TRUE(pumpUntil([&] { return frame->LastNotice() == UiString(kStrNotice2); }));
    EXPECT_FALSE(frame->LastNotice().empty());
    EXPECT_TRUE(g_link->IsConnected());

    // A site info whose checksum is wrong lights the data lamp.
    std::vector<BYTE> bad = buildGuardedPayload(tokenText(ID_DSVD_SITEINFO), reinterpret_cast<const BYTE*>(&site),
                                                sizeof site);
    bad.back() ^= 0x01;
    EXPECT_FALSE(frame->LcdPanel()->IsElementShown(LcdElement::DataLamp));
    g_link->feed(asText(bad));
    ASSERT_TRUE(pumpUntil([&] { return frame->LcdPanel()->IsElementShown(LcdElement::DataLamp); }));
}

// A serial-out answer in a type-9 bucket is handed to the frame.
TEST(MainFrame, SerialOutBucketsReachTheFrame) {
    ConnectedFrame c("/U25");
    CMainFrame* frame = c.frame;
    // The bucket as a peer's link writes it.
    LinkServices services;
    ScriptedLink peer(services);
    peer.up = true;
    greet(peer);
    CSerialOutCommand command;
    WORD length = 0;
    ASSERT_TRUE(command.BuildTermSerialOut(2, length));
    const std::size_t before = peer.written.size();
    ASSERT_GT(peer.SendSerialOutCommand(command.Message(), length), 0);
    std::vector<BYTE> wire(peer.written.begin() + static_cast<std::ptrdiff_t>(before), peer.written.end());
    ASSERT_FALSE(wire.empty());
    DWORD fill = static_cast<DWORD>(wire.size());
    wire.resize(wire.size() + 1024);
    ASSERT_EQ(g_link->FilterPollBuff(wire, fill), 1);
    ASSERT_TRUE(pumpUntil([&] { return frame->SerialOutMessages() == 1; }));
}

// A card the peer sent is fetched from the link by the frame's loop and goes
// to the card display; the picture name the peer wrote into its card is never
// taken as a path here (only a picture that arrived as a file is).
TEST(MainFrame, ReceivedCardIsFetchedAndItsWireNameIsNoPath) {
    SetModemLinkFactory(&makeScriptedLink);
    AnsweringUi ui;
    CKivApp app({"/NOSPLASH", "/M", "/U23"}, "", quietServices(&ui));
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
    ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone(); }));
    ASSERT_EQ(frame->Connection(), g_link);

    StationInfoBlock peer{};
    peer.length = kStationInfoBytes;
    peer.protocolNumber = kOwnProtocolNumber;
    peer.capabilities = kCapNewLayout;
    const std::vector<BYTE> hello = buildHelloPayload(tokenText(ID_DSVD_HELLO_V1_2), peer, true);
    g_link->feed({reinterpret_cast<const char*>(hello.data()), hello.size()});
    g_link->feed(tokenText(ID_DSVD_OKHELLO));
    g_link->up = true;
    ASSERT_TRUE(g_link->IsConnected());

    frame->Requests()->SetReceivedFilePath("unchanged");
    tagBusinessCard card{};
    std::strcpy(card.name, "North Gate");
    std::strcpy(card.picture, "../../outside.jpg");
    g_link->feed(tokenText(ID_DSVD_MY_CARD), buildCardBody(card));
    ASSERT_NE(g_link->GetCardStatus(1) & kCardReceived, 0);
    ASSERT_TRUE(pumpUntil([&] { return (g_link->GetCardStatus(1) & kCardReceived) == 0; }));
    EXPECT_EQ(frame->Requests()->ReceivedFilePath(), "");

    g_link->up = false;
    platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
    app.ExitInstance();
    SetModemLinkFactory(nullptr);
    g_link = nullptr;
}

// The card window shows the connected site's card for that call only: it is
// cleared when the peer ends the call and when this station hangs up.
TEST(MainFrame, PeersCardIsClearedWhenItsCallEnds) {
    ConnectedFrame c("/U19");
    CMainFrame* frame = c.frame;
    auto receiveCard = [&](const char* name) {
        tagBusinessCard card{};
        std::strcpy(card.name, name);
        std::strcpy(card.text2, "555-0100");
        g_link->feed(tokenText(ID_DSVD_MY_CARD), buildCardBody(card));
        return pumpUntil([&] {
            return frame->HisCardShown() && frame->HisCardWindow()->CaptionText().rfind(name, 0) == 0;
        });
    };
    ASSERT_TRUE(receiveCard("North Gate"));

    // The peer hangs up: the line goes down and the link is reset, as its
    // transport does at the end of a call.
    g_link->up = false;
    g_link->ResetLinkState();
    ASSERT_TRUE(pumpUntil([&] { return !frame->HisCardShown(); }));
    EXPECT_EQ(frame->HisCardWindow()->CaptionText(), "");

    // The next call's card, then this station hangs up.
    greet(*g_link);
    g_link->feed(tokenText(ID_DSVD_OKHELLO));
    g_link->up = true;
    ASSERT_TRUE(receiveCard("South Gate"));
    EXPECT_TRUE(frame->MakeDisconnect(kReasonNone, 0));
    EXPECT_FALSE(frame->HisCardShown());
    EXPECT_EQ(frame->HisCardWindow()->CaptionText(), "");
}

// The menu holds every command the window offers, minus the ones the frame
// takes out; each command either acts or says that its window is not there
// yet, and none of them ends the call by itself.
TEST(MainFrame, MenuToolbarButtonsAndEveryCommand) {
    ConnectedFrame c("/U26");
    CMainFrame* frame = c.frame;
    CFrameMenu* menu = frame->Menu();
    ASSERT_NE(menu, nullptr);
    for (WPARAM removed : kRemovedMenuItems) EXPECT_EQ(menu->Action(removed), nullptr) << removed;
    for (WPARAM id : {ID_APP_ABOUT, ID_USERS, ID_STATISTICS, ID_OPTIONS, ID_CONNECT_CONNECT, ID_APP_EXIT_CMD}) {
        EXPECT_NE(menu->Action(id), nullptr) << id;
    }
    // The toolbar's six check buttons.
    ASSERT_NE(frame->ToolBar(), nullptr);
    std::vector<WPARAM> toolbar;
    for (QAction* a : frame->ToolBar()->actions()) {
        EXPECT_TRUE(a->isCheckable());
        toolbar.push_back(static_cast<WPARAM>(a->data().toULongLong()));
    }
    EXPECT_EQ(toolbar, (std::vector<WPARAM>{32892, 32893, 32894, 32895, 32896, 32897}));
    // The button row: no speakerphone on this line, so connect and not phone.
    CFrameButtonRow* buttons = frame->ButtonRow();
    EXPECT_TRUE(buttons->IsShown(ID_CONNECT_CONNECT));
    EXPECT_FALSE(buttons->IsShown(ID_PHONE));
    EXPECT_FALSE(buttons->Button(ID_CONNECT_CONNECT)->Bitmaps().up == 0);
    EXPECT_EQ(frame->width(), 322);

    // Update handlers while the call is up.
    EXPECT_TRUE(frame->UpdateCommand(ID_HOLD_CALL).enabled);
    EXPECT_FALSE(frame->UpdateCommand(ID_HOLD_CALL).checked);
    EXPECT_EQ(frame->OnToolTipText(ID_HOLD_CALL), UiString(kStrHoldCall));
    // The hold button holds the call on this side, and releases it.
    frame->OnCommand(ID_HOLD_CALL);
    EXPECT_EQ(g_link->GetHoldStatus() & kHoldLocal, kHoldLocal);
    EXPECT_TRUE(frame->UpdateCommand(ID_HOLD_CALL).checked);
    EXPECT_EQ(frame->OnToolTipText(ID_HOLD_CALL), UiString(kStrCallHeld));
    frame->OnCommand(ID_HOLD_CALL);
    EXPECT_EQ(g_link->GetHoldStatus() & kHoldLocal, 0);
    EXPECT_FALSE(frame->UpdateCommand(ID_HOLD_CALL).checked);
    // Posted commands that name the state wanted (the kit's): twice the same
    // request before the frame serves them holds, or releases, once.
    for (LPARAM wanted : {kHoldCallWantedOn, kHoldCallWantedOff}) {
        const int expected = wanted == kHoldCallWantedOn ? kHoldLocal : 0;
        platform::PostMessage(frame->Hwnd(), trennick::WM_COMMAND, ID_HOLD_CALL, wanted);
        platform::PostMessage(frame->Hwnd(), trennick::WM_COMMAND, ID_HOLD_CALL, wanted);
        pumpUntil([] { return false; }, std::chrono::milliseconds(200));
        EXPECT_EQ(g_link->GetHoldStatus() & kHoldLocal, expected) << wanted;
    }
    EXPECT_TRUE(frame->UpdateCommand(ID_OPEN_CHAT).enabled);
    EXPECT_FALSE(frame->UpdateCommand(ID_UPGRADE_SITE).enabled);
    EXPECT_FALSE(frame->UpdateCommand(ID_CONNECT_CONNECT).enabled);
    menu->UpdateAll();
    EXPECT_FALSE(menu->Action(ID_CONNECT_CONNECT)->isEnabled());

    // Every command of the menu and the toolbar, but those that end the call
    // or the program.
    std::vector<WPARAM> ids = menu->Ids();
    ids.insert(ids.end(), toolbar.begin(), toolbar.end());
    for (WPARAM id : ids) {
        if (id == ID_APP_EXIT_CMD || id == ID_CONNECT_DISCONNECT || id == ID_LISTEN) continue;
        SCOPED_TRACE(id);
        frame->UpdateCommand(id);
        frame->OnCommand(id);
        EXPECT_TRUE(g_link->IsConnected());
    }
    EXPECT_TRUE(frame->AboutShown());
    auto said = [&](const std::string& what) {
        for (const auto& m : c.ui.messages) {
            if (m.rfind(what, 0) == 0 && m.find("not available") != std::string::npos) return true;
        }
        return false;
    };
    for (const char* later : {"The event explorer"}) {
        EXPECT_TRUE(said(later)) << later;
    }
    // The program's own windows opened instead (its dialogs wait for nobody
    // while it runs hidden).
    for (const char* own : {"The statistics window", "The file transfer window", "The chat window",
                            "The settings editor", "The setup wizard", "The site book"}) {
        EXPECT_FALSE(said(own)) << own;
    }
    ASSERT_NE(frame->Panels(), nullptr);
    EXPECT_NE(frame->Panels()->TransferWindow(), nullptr);
    EXPECT_NE(frame->Panels()->Chat(), nullptr);
    EXPECT_EQ(frame->ChatWindow(), frame->Panels()->Chat());
    EXPECT_NE(frame->Panels()->Statistics(), nullptr);
    // Lock and unlock went to the site; its acknowledgement sets the check mark.
    g_link->feed(tokenText(ID_DSVD_LOCKSERVERACK));
    ASSERT_TRUE(pumpUntil([&] { return frame->SiteLocked(); }));
    EXPECT_TRUE(frame->UpdateCommand(ID_UNLOCK_SITE).checked);

    // Messages that carry data own it: taken or not, it goes with the message
    // (the leak check at exit sees any that does not).
    platform::PostMessageOwned(frame->Hwnd(), kMsgDebriefStart, 0, std::make_unique<std::array<BYTE, 264>>());
    platform::PostMessageOwned(frame->Hwnd(), kMsgVideoWindowRecord, 0, std::make_unique<std::array<BYTE, 20>>());
    struct Counted : PostedObject {
        explicit Counted(int& n) : count(n) {}
        ~Counted() override { ++count; }
        int& count;
    };
    int deleted = 0;
    platform::PostMessageOwned<PostedObject>(frame->Hwnd(), kMsgDeleteObject, 0,
                                             std::make_unique<Counted>(deleted));
    ASSERT_TRUE(pumpUntil([&] { return deleted == 1; }));
    // The site's record-mode answers light their lamps.
    platform::PostMessage(frame->Hwnd(), kMsgRecordModeFixed, 96, 0);
    platform::PostMessage(frame->Hwnd(), kMsgMemoryFull, 98, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->RecordMode() == 2; }));
    ASSERT_TRUE(pumpUntil([&] { return frame->LcdPanel()->IsElementShown(LcdElement::MarkE); }));
    EXPECT_TRUE(frame->LcdPanel()->IsElementShown(LcdElement::MarkD));
    platform::PostMessage(frame->Hwnd(), kMsgRecModeCyclic, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->RecordMode() == 1; }));
    EXPECT_FALSE(frame->LcdPanel()->IsElementShown(LcdElement::MarkD));
}

// At the window's own width every button's label fits its button, and every
// button and menu title lies inside the window.
TEST(MainFrame, EveryButtonAndMenuTextShowsWholeAtTheWindowsWidth) {
    ConnectedFrame c("/U27");
    CMainFrame* frame = c.frame;
    frame->show();
    ASSERT_TRUE(pumpUntil([&] { return frame->isVisible(); }));
    EXPECT_EQ(frame->width(), 322);
    uitest::saveScreenshot(frame, "main_window_labels");
    // The labels of the faces, in the font they are drawn with.
    const std::map<WPARAM, const char*> labels = {
        {ID_CONNECT_CONNECT, "Call"}, {ID_PHONE, "Phone"},         {ID_CONNECT_DISCONNECT, "Hang up"},
        {ID_RESTART_VIDEO, "Video"},  {ID_FILE_TRANSFER, "Files"}, {ID_OPEN_CHAT, "Chat"},
        {ID_OPTIONS, "Setup"},        {ID_COLLAPSE, "Less"},       {ID_EXPAND, "More"},
        {ID_HOLD_CALL, "My video"},   {ID_TOGGLE_ARM, "Arm"},      {ID_DEBRIEF_BUTTON, "Events"},
        {ID_TALK, "Talk"},            {ID_ADDRESS_BOOK, "Cards"},
    };
    QFont face("DejaVu Sans");
    face.setPixelSize(9);
    face.setBold(true);
    const QFontMetrics faceMetrics(face);
    constexpr int kBorders = 4;  // the face's border line and a pixel of air on each side
    for (const auto& [id, button] : frame->ButtonRow()->Buttons()) {
        SCOPED_TRACE(id);
        ASSERT_EQ(labels.count(id), 1u);
        EXPECT_LE(faceMetrics.horizontalAdvance(QString::fromLatin1(labels.at(id))) + kBorders, button->width())
            << labels.at(id);
        if (button->isHidden()) continue;
        EXPECT_LE(button->mapTo(frame, QPoint(button->width(), 0)).x(), frame->width()) << labels.at(id);
    }
    QMenuBar* bar = frame->menuBar();
    const QFontMetrics menuMetrics(bar->font());
    for (QAction* menu : bar->actions()) {
        SCOPED_TRACE(menu->text().toStdString());
        const QRect place = bar->actionGeometry(menu);
        ASSERT_FALSE(place.isEmpty());
        EXPECT_LE(place.right(), bar->width());
        EXPECT_LE(menuMetrics.horizontalAdvance(QString(menu->text()).remove('&')), place.width());
    }
}

// The snapshots a connection left behind are removed after it, and only
// while the General switch allows it.
TEST(MainFrame, SnapshotsOfAConnectionAreRemoved) {
    ConnectedFrame c("/U27");
    CMainFrame* frame = c.frame;
    const std::string folder = std::string(frame->Settings().general.HomeDir) + "/Snapshots";
    std::filesystem::create_directories(folder);
    auto make = [&](const char* name) { std::ofstream(folder + "/" + name) << "x"; };
    for (const char* n : {"QbSnap.bmp", "HDSnap.JPG", "DOAEvent.TRG", "keep.txt"}) make(n);
    frame->Settings().general.Flags[0] &= ~1;
    frame->SnapshotIsRemove();
    EXPECT_TRUE(std::filesystem::exists(folder + "/QbSnap.bmp"));
    frame->Settings().general.Flags[0] |= 1;
    frame->SnapshotIsRemove();
    for (const char* n : {"QbSnap.bmp", "HDSnap.JPG", "DOAEvent.TRG"}) {
        EXPECT_FALSE(std::filesystem::exists(folder + "/" + n)) << n;
    }
    EXPECT_TRUE(std::filesystem::exists(folder + "/keep.txt"));
    // Beside a received file.
    const std::string received = folder + "/in/Event_1.trg";
    std::filesystem::create_directories(folder + "/in");
    for (const char* n : {"in/QbSnap.JPG", "in/HDSnap.bmp"}) make(n);
    frame->RemoveRemoteSnap(received);
    EXPECT_FALSE(std::filesystem::exists(folder + "/in/QbSnap.JPG"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/in/HDSnap.bmp"));
}

// The peer's lines open the chat window and show there, with no box per line.
TEST(MainFrame, ChatTextOpensTheChatWindowNotBoxes) {
    ConnectedFrame c("/U28");
    CMainFrame* frame = c.frame;
    const std::string path = frame->ChatCapturePath();
    std::filesystem::remove(path);
    LinkServices services;
    ScriptedLink peer(services);
    peer.up = true;
    greet(peer);
    for (const char* line : {"first line", "second line", "third line"}) {
        peer.written.clear();
        ASSERT_GT(peer.SendChatString(line), 0);
        std::vector<BYTE> wire = peer.written;
        DWORD fill = static_cast<DWORD>(wire.size());
        wire.resize(wire.size() + 1024);
        ASSERT_EQ(g_link->FilterPollBuff(wire, fill), 1);
    }
    ASSERT_TRUE(pumpUntil([&] {
        return frame->Panels()->Chat() != nullptr &&
               frame->Panels()->Chat()->Conversation().find("third line") != std::string::npos;
    }));
    const std::string shown = frame->Panels()->Chat()->Conversation();
    for (const char* line : {"first line", "second line", "third line"}) {
        EXPECT_NE(shown.find(std::string("<< ") + line), std::string::npos) << line;
    }
    EXPECT_FALSE(std::filesystem::exists(path)) << "no capture was asked for";
    // Nothing was put in a box: no message at all, not even "not available".
    EXPECT_TRUE(c.ui.messages.empty());
}

// The site's panel, alarm and record-mode tokens and its requests about our
// video reach the real frame; each bucket the read pass takes lights the data
// lamp briefly, and a file block that fails its check lights it for longer.
TEST(MainFrame, PeerTokensAndTheDataLampReachTheRealFrame) {
    ConnectedFrame c("/U29");
    CMainFrame* frame = c.frame;
    CLcdPanel* lcd = frame->LcdPanel();

    // Armed polling triggers and an enabled, armed control panel: the site is armed.
    g_link->feed(tokenText(ID_DSVD_ENABLEPOLLTRIGGERS));
    g_link->feed(tokenText(ID_DSVD_CPISENABLED));
    g_link->feed(tokenText(ID_DSVD_CPISARMED));
    ASSERT_TRUE(pumpUntil([&] { return lcd->IsElementShown(LcdElement::MarkC); }));
    g_link->feed(tokenText(ID_DSVD_CPISDISARMED));
    ASSERT_TRUE(pumpUntil([&] { return !lcd->IsElementShown(LcdElement::MarkC); }));
    g_link->feed(tokenText(ID_DSVD_RPCDISARMISACCEPT));
    ASSERT_TRUE(pumpUntil([&] { return !frame->Station().IsSystemArmed(); }));
    g_link->feed(tokenText(ID_DSVD_SETRECMODEFIX));
    ASSERT_TRUE(pumpUntil([&] { return frame->RecordMode() == 2; }));
    g_link->feed(tokenText(ID_DSVD_SETRECMODECYC));
    ASSERT_TRUE(pumpUntil([&] { return frame->RecordMode() == 1; }));
    const std::size_t told = c.ui.messages.size();
    g_link->feed(tokenText(ID_DSVD_ENABLEDISABLEALARMREJECT));
    ASSERT_TRUE(pumpUntil([&] { return c.ui.messages.size() == told + 1; }));

    // Our video, paused, resumed and closed by the peer.
    const BYTE picture[16] = {};
    g_link->SetVideoStatus(0, 3);
    ASSERT_FALSE(frame->MyVideoPausedByPeer());
    g_link->feed(tokenText(ID_DSVD_VIDEORPAUSE));
    ASSERT_TRUE(pumpUntil([&] { return frame->MyVideoPausedByPeer(); }));
    EXPECT_EQ(g_link->SendFrame(kVideoBucket, picture, sizeof picture), 0);
    g_link->feed(tokenText(ID_DSVD_VIDEORRESUME));
    ASSERT_TRUE(pumpUntil([&] { return !frame->MyVideoPausedByPeer(); }));
    EXPECT_GT(g_link->SendFrame(kVideoBucket, picture, sizeof picture), 0);
    g_link->feed(tokenText(ID_DSVD_VIDEORPAUSE));
    ASSERT_TRUE(pumpUntil([&] { return frame->MyVideoPausedByPeer(); }));
    g_link->feed(tokenText(ID_DSVD_CLOSEYOURVIDEO));
    ASSERT_TRUE(pumpUntil([&] { return !frame->MyVideoPausedByPeer(); }));
    EXPECT_EQ(g_link->GetLocalVideoStatus(), VIDEO_CLOSED);

    // The data lamp: briefly for a bucket ...
    auto readPass = [&](WORD type, std::string_view payload, const char* check) {
        std::vector<BYTE> wire(payload.size() + 1024);
        DWORD fill = buildBucketWithCheck(wire, type, reinterpret_cast<const BYTE*>(payload.data()),
                                          static_cast<DWORD>(payload.size()), kOwnProtocolNumber, 0,
                                          static_cast<DWORD>(wire.size()), check);
        ASSERT_GT(fill, 0u);
        ASSERT_EQ(g_link->FilterPollBuff(wire, fill), 1);
    };
    readPass(kChatBucket, "a line", nullptr);
    ASSERT_TRUE(pumpUntil([&] {
        return lcd->IsElementShown(LcdElement::DataLamp) && lcd->HoldMs(LcdElement::DataLamp) == kActivityLampMs;
    }));
    // ... and for longer for a file block whose check fails, the brief lamp
    // not replacing it.
    g_link->feed("<Send NF><Name><lamp.bin><Size><10>");
    ASSERT_EQ(g_link->GetFileReceiveStatus(), REC_RECEIVING);
    readPass(kFileBlockBucket, "0123456789", "         12345");
    ASSERT_TRUE(pumpUntil([&] { return lcd->HoldMs(LcdElement::DataLamp) == kErrorLampMs; }));
    const DWORD passes = frame->LoopPasses();
    ASSERT_TRUE(pumpUntil([&] { return frame->LoopPasses() > passes + 2; }));
    EXPECT_EQ(lcd->HoldMs(LcdElement::DataLamp), kErrorLampMs);
    EXPECT_TRUE(lcd->IsElementShown(LcdElement::DataLamp));
}
