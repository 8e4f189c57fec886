#include "trennick/app/main_frame.h"

#include "app_test_support.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/remote_requests.h"
#include "trennick/link/cards.h"
#include "trennick/link/prot_list.h"
#include "trennick/link/station_info.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace trennick;
using namespace apptest;

namespace {

// A link whose peer is played by the test: tokens are fed in as if they had
// arrived, and whatever the link writes is taken and dropped.
class ScriptedLink : public CPacketConnection {
public:
    explicit ScriptedLink(const LinkServices& services) : CPacketConnection(services) {}
    ~ScriptedLink() override { FinishLink(); }
    LONG ConnectWrite(const BYTE*, DWORD length, LONG, LONG) override { return static_cast<LONG>(length); }
    BOOL IsOutgoingCall() override { return FALSE; }
    BOOL IsLinkUp() override { return up ? TRUE : FALSE; }
    BOOL IsLinkDown() override { return up ? FALSE : TRUE; }
    BOOL IsTargetConnected() override { return up ? TRUE : FALSE; }
    BOOL IsTargetNotConnected() override { return up ? FALSE : TRUE; }
    void feed(std::string_view token, const std::vector<BYTE>& body = {}) {
        std::vector<BYTE> payload(token.begin(), token.end());
        payload.insert(payload.end(), body.begin(), body.end());
        CheckAcknowledgment(payload.data(), static_cast<DWORD>(payload.size()));
    }
    bool up = false;
};

ScriptedLink* g_link = nullptr;

std::unique_ptr<CPacketConnection> makeScriptedLink(const LinkServices& services) {
    auto link = std::make_unique<ScriptedLink>(services);
    g_link = link.get();
    return link;
}

}  // namespace

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
