#include "trennick/serial/null_modem.h"

#include "common/kc_reg.h"
#include "platform/com/com.h"
#include "tavicore/product_key.h"
#include "trennick/link/link_trace.h"
#include "trennick/link/testing/link_fakes.h"
#include "trennick/serial/modem_connection.h"
#include "trennick/serial/tapi_binding.h"
#include "trennick/serial/tapi_connection.h"
#include "trennick/serial/tests/pty_cable.h"
#include "trennick/serial/tests/link_station.h"
#include "trennick/serial/tests/silent_peer.h"
#include "trennick/serial/tests/transfer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <unistd.h>

namespace {

using namespace trennick;
using namespace linktest;
using serialtest::PtyCable;

void setCommsValue(const char* section, const char* name, DWORD value) {
    CKcReg reg = ProductKey(section);
    reg.SetValueName(name);
    reg.Write(value);
}

class CableTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        platform::com::ensureServersRegistered();
        // No telephony library here: the direct lines must not need one.
        tapi::setLibraryName("velmoortapi-not-installed");
        setCommsValue("Comms", "MinTimeBetweenConnect", 0);
        if (getenv("SERIAL_DEBUG")) setLinkTraceSink([](unsigned l, const char* t) { fprintf(stderr, "%u %s\n", l, t); });
    }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(CableTest, SettingsAreClampedAndWrittenBack) {
    struct Case {
        DWORD baud, port, expectBaud, expectPort;
    };
    const Case cases[] = {{20000, 7, 19200, 4}, {5000, 0, 9600, 1}, {115200, 2, 115200, 2}, {56000, 3, 56000, 3},
                          {14400, 1, 14400, 1}, {14399, 1, 9600, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.baud);
        setCommsValue("Comms\\NULLModem", "BaudRate_BPS", c.baud);
        setCommsValue("Comms\\NULLModem", "COMPortNumber_1-4", c.port);
        const NullModemSettings s = readNullModemSettings();
        EXPECT_EQ(s.baud, c.expectBaud);
        EXPECT_EQ(s.port, c.expectPort);
    }
    // The caller's dial text is the one on the wire ("+++RING", repeated until
    // answered); a listener with the default settings answers exactly that
    // text, so two stations left at their defaults meet over a cable.
    const NullModemSettings s = readNullModemSettings();
    EXPECT_EQ(s.dial, "+++RING");
    EXPECT_EQ(s.ring, s.dial);
    CKcReg reg = ProductKey("Comms\\NULLModem");
    char text[64] = {};
    DWORD size = sizeof text;
    ASSERT_TRUE(reg.GetString(nullptr, "DISCONNECT", text, &size));
    EXPECT_STREQ(text, "<+++ATH>");
}

TEST_F(CableTest, ListenerAnswersARingTextBehindNoise) {
    auto pty = platform::openPseudoTerminal();
    ASSERT_TRUE(pty);
    ::setenv("VELMOOR_COM2", pty->device.c_str(), 1);
    CNULLModem modem(nullptr);
    ASSERT_TRUE(modem.HasServer());
    modem.SetPort(2);
    ASSERT_EQ(modem.SetListenOn(), 1);
    EXPECT_EQ(modem.State(), NULL_MODEM_STATE_LISTENING);
    const std::string ring = "xy" + modem.Texts().ring;
    ASSERT_EQ(::write(pty->master, ring.data(), ring.size()), static_cast<ssize_t>(ring.size()));
    // The answer, then the connect text, reach the caller's end.
    const std::string expect = modem.Texts().answer + modem.ConnectText();
    std::string got;
    char buffer[128];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got.size() < expect.size() && std::chrono::steady_clock::now() < deadline) {
        const ssize_t n = ::read(pty->master, buffer, sizeof buffer);
        if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(got, expect);
    EXPECT_TRUE(modem.Buffer().empty());
    ::close(pty->master);
}

TEST_F(CableTest, CallerRepeatsItsDialTextUntilAnswered) {
    auto pty = platform::openPseudoTerminal();
    ASSERT_TRUE(pty);
    ::setenv("VELMOOR_COM3", pty->device.c_str(), 1);
    CNULLModem modem(nullptr);
    modem.SetPort(3);
    ASSERT_EQ(modem.SetListenOn(), 1);
    modem.Connect();
    const std::string dial = modem.Texts().dial;
    std::string got;
    char buffer[128];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got.size() < 3 * dial.size() && std::chrono::steady_clock::now() < deadline) {
        const ssize_t n = ::read(pty->master, buffer, sizeof buffer);
        if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(got.substr(0, 3 * dial.size()), dial + dial + dial);
    EXPECT_EQ(modem.State(), NULL_MODEM_STATE_CONNECTING);
    modem.HangUp();
    ::close(pty->master);
}

// A station whose modem link runs a direct line (the cable).
using CableStation = serialtest::LinkStation;
using serialtest::runUntil;

TEST_F(CableTest, TwoStationsHandshakeTalkAndSeeTheCableCut) {
    PtyCable cable;
    ASSERT_TRUE(cable.ok());
    cable.mapCom(1, cable.endA());
    cable.mapCom(2, cable.endB());
    CableStation a(1, "Direct to com1");
    CableStation b(2, "Direct to com2");
    ASSERT_EQ(a.link->SetListenOn(0), 1);
    ASSERT_EQ(b.link->SetListenOn(0), 1);
    ASSERT_EQ(a.link->ConnectToRemote("", "North Gate"), 1);
    ASSERT_TRUE(runUntil({&a, &b}, [&] { return a.link->IsConnected() && b.link->IsConnected(); }));
    EXPECT_TRUE(a.link->IsOutgoingCall());
    EXPECT_FALSE(b.link->IsOutgoingCall());
    EXPECT_TRUE(b.posted(kMsgRing, 2));  // the call arrived at b
    EXPECT_EQ(a.host.remoteStationByte, 2);

    struct Chat : LinkChatWindow {
        void chatText(std::string_view t) override { text += t; }
        void UpdateTitle(std::string_view) override {}
        std::string text;
    } chat;
    a.link->SetChatWindow(&chat);
    EXPECT_NE(b.link->SendChatString("over the cable"), 0);
    ASSERT_TRUE(runUntil({&a, &b}, [&] { return chat.text.find("over the cable") != std::string::npos; }));
    a.link->SetChatWindow(nullptr);

    EXPECT_TRUE(serialtest::transferFile(*b.link, *a.link, [&] {
        a.pass();
        b.pass();
    }));

    // a hangs up: b sees its DSR go (the cable carries a's DTR) and reports it.
    a.link->SetNotConnected();
    ASSERT_TRUE(runUntil({&a, &b}, [&] { return b.posted(kMsgLinkFailed, kStrCallNormal); }));
    EXPECT_TRUE(b.link->IsLinkDown());
    EXPECT_FALSE(a.link->IsPortOpen());

    // They call again; then the cable is pulled: both ends report the dropped
    // line, and nothing waits on.
    a.window.messages.clear();
    b.window.messages.clear();
    a.upsSeen = b.upsSeen = 0;
    ASSERT_EQ(a.link->SetListenOn(0), 1);
    ASSERT_EQ(b.link->SetListenOn(0), 1);
    ASSERT_EQ(a.link->ConnectToRemote("", "North Gate"), 1);
    ASSERT_TRUE(runUntil({&a, &b}, [&] { return a.link->IsConnected() && b.link->IsConnected(); }));
    cable.cut();
    ASSERT_TRUE(runUntil({&a, &b}, [&] {
        return a.posted(kMsgLinkFailed, kStrCallNormal) && b.posted(kMsgLinkFailed, kStrCallNormal);
    }));
    EXPECT_TRUE(a.link->IsLinkDown());
    EXPECT_TRUE(b.link->IsLinkDown());
}

// A station on the cable that never says its hello is hung up after the
// set-up limit: the listener drops the line and listens again.
TEST_F(CableTest, CallerThatNeverSaysHelloIsHungUpAfterTheSetupLimit) {
    PtyCable cable;
    ASSERT_TRUE(cable.ok());
    cable.mapCom(2, cable.endB());
    CableStation b(2, "Direct to com2");
    b.link->SetSessionSetupLimit(300);
    ASSERT_EQ(b.link->SetListenOn(0), 1);
    serialtest::SilentPeer a(cable.endA());
    ASSERT_TRUE(a.ok());
    a.start(b.link->Tapi()->NullModem()->Texts().dial);
    ASSERT_TRUE(runUntil({&b}, [&] { return b.link->IsLinkUp(); }));
    ASSERT_TRUE(runUntil({&b}, [&] { return b.posted(kMsgLinkFailed, kStrCallTimedOut); }));
    EXPECT_FALSE(b.link->IsConnected());
    EXPECT_GT(a.received(), 0u);
    EXPECT_TRUE(runUntil({&b}, [&] {
        return b.link->IsTargetListeningFor(2) && b.link->Tapi()->NullModem()->State() == NULL_MODEM_STATE_LISTENING;
    }));
}

TEST_F(CableTest, WithoutTheTelephonyLibraryEveryLineCallFails) {
    using namespace tapi;
    EXPECT_FALSE(libraryPresent());
    HLINEAPP app = 0;
    HLINE line = 0;
    HCALL call = 0;
    DWORD n = 0;
    LineDevCaps caps;
    LineAddressCaps addressCaps;
    LineAddressStatus addressStatus;
    LineCallInfo info;
    LineCallStatus callStatus;
    VarString vs;
    const LONG results[] = {
        lineAnswer(1, nullptr, 0),
        lineClose(1),
        lineConfigDialogEdit(0, nullptr, "comm/datamodem", nullptr, 0, &vs),
        lineDeallocateCall(1),
        lineDial(1, "1", 0),
        lineDrop(1, nullptr, 0),
        lineGetAddressCaps(0, 0, 0, 0, 0, &addressCaps),
        lineGetAddressStatus(1, 0, &addressStatus),
        lineGetCallInfo(1, &info),
        lineGetCallStatus(1, &callStatus),
        lineGetDevCaps(0, 0, 0, 0, &caps),
        lineGetDevConfig(0, &vs, "comm/datamodem"),
        lineGetID(1, 0, 1, 0, &vs, "comm/datamodem"),
        lineInitialize(&app, nullptr, nullptr, "Velmoor", &n),
        lineMakeCall(1, &call, "1", 0, nullptr),
        lineNegotiateAPIVersion(0, 0, 0, 0, &n, nullptr),
        lineOpen(0, 0, &line, 0, 0, 0, 0, 0, nullptr),
        lineSetDevConfig(0, nullptr, 0, "comm/datamodem"),
        lineSetStatusMessages(1, 0, 0),
        lineShutdown(0),
        lineTranslateAddress(0, 0, 0, "1", 0, 0, &vs),
        lineTranslateDialog(0, 0, 0, nullptr, "1"),
    };
    for (LONG r : results) EXPECT_EQ(static_cast<DWORD>(r), 0x80000049u);

    // A station on a telephony line can neither listen nor call, and says so.
    std::vector<UINT> shown;
    CCommon::setMessagePresenter([&](UINT id, UINT, const std::string&) {
        shown.push_back(id);
        return 0;
    });
    CableStation s(1, "Standard modem on COM1");
    EXPECT_EQ(s.link->SetListenOn(0), 0);
    EXPECT_EQ(s.link->DialNumber("5550002"), 0);
    EXPECT_FALSE(s.link->Tapi()->Started());
    EXPECT_EQ(s.link->Tapi()->HandleLineErr(LINEERR_OPERATIONUNAVAIL), 0);
    CCommon::setMessagePresenter(nullptr);
    const auto lines = s.link->Tapi()->FillTAPILine();
    EXPECT_EQ(lines, (std::vector<TapiLineEntry>{{"Direct to com1", kDirectLineDevice},
                                                  {"Direct to com2", kDirectLineDevice},
                                                  {"Direct to com3", kDirectLineDevice},
                                                  {"Direct to com4", kDirectLineDevice}}));
}

TEST(TapiDialing, NumbersAreCutAtTheStopsTheLineCannotHandle) {
    using namespace tapi;
    // A line that waits for dial tones itself dials "W" in one piece.
    const std::string withTone = CTAPIConnection::StopCharacters(LINEDEVCAPFLAGS_DIALDIALTONE);
    EXPECT_EQ(CTAPIConnection::DialPieces("9W5550002", withTone), (std::vector<std::string>{"9W5550002"}));
    const std::string none = CTAPIConnection::StopCharacters(0);
    EXPECT_EQ(CTAPIConnection::DialPieces("9W5550002", none), (std::vector<std::string>{"9;", "5550002"}));
    EXPECT_EQ(CTAPIConnection::DialPieces("1$2@3?4", none), (std::vector<std::string>{"1;", "2;", "3;", "4"}));
    EXPECT_EQ(CTAPIConnection::DirectLineNumber("Direct to com3"), 3);
    EXPECT_EQ(CTAPIConnection::DirectLineNumber("direct to COM1"), 1);
    EXPECT_EQ(CTAPIConnection::DirectLineNumber("Direct to com5"), 0);
    EXPECT_EQ(CTAPIConnection::DirectLineNumber("Modem"), 0);
}

}  // namespace
