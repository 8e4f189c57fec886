#include "trennick/serial/modem_connection.h"

#include "platform/folders.h"
#include "platform/shipped_defaults.h"
#include "trennick/link/link_trace.h"
#include "trennick/link/testing/link_fakes.h"
#include "trennick/serial/testing/fake_modem_process.h"
#include "trennick/serial/tests/link_station.h"
#include "trennick/serial/tests/silent_peer.h"
#include "trennick/serial/tests/transfer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace trennick;
using namespace linktest;
using serialtest::FakeModemProcess;

TEST(ModemScript, CommandTextIsTranslatedBeforeSending) {
    struct Case {
        const char* text;
        const char* sent;
        DWORD pauseMs;
    };
    const Case cases[] = {
        {"ATZ|", "ATZ\r", 0},
        {"AT~~H|", "ATH\r", 2000},   // each tilde: a second of pause, not sent
        {"^M", "\r", 0},             // caret and a letter: that control character
        {"ATZ^m", "ATZ\r", 0},       // whatever the letter's case
        {"^c^C^z", "\x03\x03\x1a", 0},
        {"^[", "\x1b", 0},           // the signs between Z and a keep their codes less 64
        {"AT^1", "AT^1", 0},         // caret and a digit: sent as it is
        {"^", "^", 0},
        {"~+++~", "+++", 2000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        DWORD pause = 0;
        EXPECT_EQ(ModemTransport::TranslateCommand(c.text, pause), c.sent);
        EXPECT_EQ(pause, c.pauseMs);
    }
    DWORD pause = 0;
    EXPECT_EQ(ModemTransport::TranslateCommand(ModemTransport::InsertPhoneNumber("ATDT%PhoneNumber%", "0", "5551234"),
                                                 pause),
              "ATDT05551234\r");
    EXPECT_EQ(ModemTransport::InsertPhoneNumber("ATDT%PhoneNumber%;", "", "77"), "ATDT77|");
    EXPECT_EQ(ModemTransport::InsertPhoneNumber("ATDT%PhoneNumber%", "9", ""), "ATDT%PhoneNumber%");
}

TEST(ModemScript, VoiceCommandFormatsTakeOnlyArgumentsOfTheirKind) {
    struct Case {
        const char* format;
        std::vector<VoiceArg> args;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {"AT#SPK=1,%d,%d|", {2L, 10L}, "AT#SPK=1,2,10|"},
        {"AT#VTS=%s|", {std::string("123#")}, "AT#VTS=123#|"},
        {"AT#VGT=%03d|", {7L}, "AT#VGT=007|"},
        {"100%%|", {}, "100%|"},
        {"AT#VTS=%s|", {5L}, std::nullopt},        // a number where a text is asked
        {"AT#SPK=%d,%d|", {1L}, std::nullopt},     // an argument missing
        {"AT%n|", {1L}, std::nullopt},             // a conversion no command has
        {"AT#VGT=%d", {std::string("x")}, std::nullopt},
        {"AT%", {}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(formatVoiceCommand(c.format, c.args), c.text);
    }
}

using Station = serialtest::LinkStation;
using serialtest::runUntil;

class ModemTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GE(platform::installShippedDefaults(), 1);
        if (getenv("SERIAL_DEBUG")) setLinkTraceSink([](unsigned l, const char* t) { fprintf(stderr, "%u %s\n", l, t); });
    }
    ModemLineSettings lineFor(const std::string& device, const char* script = "Standard Modem.ini") {
        ModemLineSettings s;
        s.ModemFile = script;
        s.PortName = device;
        s.RingsCount = 2;
        return s;
    }
    // What the station sent to the modem at the pty's master: `bytes` of it,
    // fewer when the line ends first or nothing comes for 30 seconds.
    static std::string readSent(int master, std::size_t bytes) {
        std::string sent;
        char buffer[64];
        while (sent.size() < bytes) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 30000) <= 0) break;
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0) break;
            sent.append(buffer, static_cast<std::size_t>(n));
        }
        return sent;
    }
};

TEST_F(ModemTest, StepsWithoutTimeOutDoNotWaitAndPausesDo) {
    const auto script = platform::programFolder() / "modems" / "Quick.ini";
    std::ofstream(script) << "[Modem]\nType=DATA\n[Init Commands]\nCommand1=ATZ^m\nCommand2=AT~~E0|\n"
                             "[Init Commands Success]\nCommand1=OK\nCommand2=OK\n"
                             "[Init Commands TimeOut]\nCommand1=0\nCommand2=0\n[Listen Commands]\nWaitCommand=RING\n";
    auto pty = platform::openPseudoTerminal();
    ASSERT_TRUE(pty);
    Station s(1);
    s.link->SetModemLineSettings(lineFor(pty->device.string(), "Quick.ini"));
    ASSERT_EQ(s.link->SetListenOn(0), 1);
    // Nothing answered, yet both commands went out: a zero time-out awaits nothing.
    EXPECT_EQ(readSent(pty->master, 9), "ATZ\rATE0\r");
    // The second command's two seconds of pause are still being kept.
    EXPECT_EQ(s.link->FuncWaitRead(), MW_INIT);
    EXPECT_TRUE(runUntil({&s}, [&] { return s.link->FuncWaitRead() == MW_DETECTCON; }));
    EXPECT_EQ(s.link->ModemState(), CS_LISTENING);
    ::close(pty->master);
}

TEST_F(ModemTest, ALongScriptTimeOutIsWaitedNotTakenAsPassed) {
    // 3,000,000 seconds: more milliseconds than the tick counter can compare.
    const auto script = platform::programFolder() / "modems" / "Patient.ini";
    std::ofstream(script) << "[Modem]\nType=DATA\n[Init Commands]\nCommand1=ATZ|\n"
                             "[Init Commands Success]\nCommand1=OK\n"
                             "[Init Commands TimeOut]\nCommand1=3000000\n[Listen Commands]\nWaitCommand=RING\n";
    auto pty = platform::openPseudoTerminal();
    ASSERT_TRUE(pty);
    Station s(1);
    s.link->SetModemLineSettings(lineFor(pty->device.string(), "Patient.ini"));
    ASSERT_EQ(s.link->SetListenOn(0), 1);
    EXPECT_EQ(readSent(pty->master, 4), "ATZ\r");
    // The modem has not answered: the step still waits, and no call failed.
    for (int i = 0; i < 20; ++i) s.pass();
    EXPECT_EQ(s.link->FuncWaitRead(), MW_INIT);
    EXPECT_EQ(s.link->LastCallResult(), 0u);
    ::close(pty->master);
}

TEST_F(ModemTest, VoiceModemGoesToVoiceModeAndWorksTheSpeakerphone) {
    FakeModemProcess modems({"--number", "5550001"});
    ASSERT_TRUE(modems.ok());
    Station s(1);
    s.link->SetModemLineSettings(lineFor(modems.device("5550001"), "Voice Modem.ini"));
    // Voice commands the owner hears of (notice 40 with the command's number).
    auto voiceCommands = [&] {
        std::vector<LPARAM> out;
        for (const auto& p : s.window.messages) {
            if (p.message == kMsgCommMessage && p.wParam == 40) out.push_back(p.lParam);
        }
        return out;
    };
    ASSERT_EQ(s.link->InitVoice(), 0);
    ASSERT_TRUE(runUntil({&s}, [&] { return s.link->ModemState() == CS_VOICE; }));
    EXPECT_TRUE(s.link->HasSpeakerphone());
    EXPECT_TRUE(s.link->CanUseVoice());
    EXPECT_TRUE(s.link->IsListeningFor(3));
    // The levels in steps: the speaker counts down from its largest attenuation.
    EXPECT_EQ(s.link->GetDefaultMicLevel(), 2);
    EXPECT_EQ(s.link->GetMaxMicLevel(), 3);
    EXPECT_EQ(s.link->GetMinMicLevel(), 0);
    EXPECT_EQ(s.link->GetDefaultSpeakerLevel(), 6);
    EXPECT_EQ(s.link->GetMaxSpeakerLevel(), 0);
    EXPECT_EQ(s.link->GetMinSpeakerLevel(), 16);
    EXPECT_EQ(voiceCommands(), (std::vector<LPARAM>{0, VC_SetHandset}));  // InitVoice's own notice, then the handset

    EXPECT_EQ(s.link->SpeakerKey(), 6);  // voice mode: the speakerphone is taken
    EXPECT_EQ(s.link->Target(), CS_VOICECALL);
    ASSERT_TRUE(runUntil({&s}, [&] { return s.link->FuncWaitRead() == MW_VOICEMODE; }));
    s.link->GoOnHook();
    EXPECT_EQ(s.link->Target(), CS_VOICE);
    EXPECT_EQ(voiceCommands(), (std::vector<LPARAM>{0, VC_SetHandset, VC_SetSpeaker, VC_OnHook}));

    // A data-only script has no voice.
    Station data(2);
    data.link->SetModemLineSettings(lineFor(modems.device("5550001")));
    EXPECT_FALSE(data.link->HasSpeakerphone());
    EXPECT_EQ(data.link->SendVoiceCommand(VC_OnHook), -1);
}

TEST_F(ModemTest, DummyModemTalksToItselfAtItsRate) {
    Station s(1);
    s.link->SetModemLineSettings(lineFor("", "Local Dummy Modem.ini"));
    EXPECT_EQ(s.link->InitModem(), 0);
    EXPECT_TRUE(s.link->IsLinkUp());
    EXPECT_TRUE(s.link->LoopBack());
    EXPECT_EQ(s.link->GetBytesPerSecond(), 3600u);
}

TEST_F(ModemTest, TwoStationsDialRingAnswerTalkAndHangUp) {
    FakeModemProcess modems({"--number", "5550001", "--number", "5550002", "--ring-ms", "200"});
    ASSERT_TRUE(modems.ok());
    Station caller(1), callee(2);
    caller.link->SetModemLineSettings(lineFor(modems.device("5550001")));
    callee.link->SetModemLineSettings(lineFor(modems.device("5550002")));
    // The callee's read queue is held to far less than the file: the line
    // waits for it instead of bytes being dropped.
    callee.link->SetMaxReadQueueBytes(1024);
    EXPECT_EQ(callee.link->MaxReadQueueBytes(), 1024u);

    ASSERT_EQ(callee.link->SetListenOn(0), 1);
    ASSERT_TRUE(runUntil({&callee}, [&] { return callee.link->IsListeningFor(2); }));
    ASSERT_EQ(caller.link->DialNumber("555-0002"), 1);
    ASSERT_TRUE(runUntil({&caller, &callee}, [&] { return caller.link->IsConnected() && callee.link->IsConnected(); }));
    EXPECT_TRUE(callee.posted(kMsgRing, 2));   // it rang before it answered
    EXPECT_TRUE(caller.link->IsOutgoingCall());
    EXPECT_FALSE(callee.link->IsOutgoingCall());
    EXPECT_EQ(caller.host.remoteStationByte, 2);
    EXPECT_EQ(callee.host.remoteStationByte, 1);

    // Chat crosses the line.
    FakeRemoteView unused;
    struct Chat : LinkChatWindow {
        void chatText(std::string_view t) override { text += t; }
        void UpdateTitle(std::string_view) override {}
        std::string text;
    } chat;
    callee.link->SetChatWindow(&chat);
    EXPECT_NE(caller.link->SendChatString("hello over the modem"), 0);
    ASSERT_TRUE(runUntil({&caller, &callee}, [&] { return chat.text.find("hello over the modem") != std::string::npos; }));

    // A file crosses the line whole.
    EXPECT_TRUE(serialtest::transferFile(*caller.link, *callee.link, [&] {
        caller.pass();
        callee.pass();
    }));

    // The caller hangs up: its modem drops the call, the callee sees the carrier go.
    caller.link->SetNotConnected();
    ASSERT_TRUE(runUntil({&caller, &callee}, [&] {
        return caller.link->IsLinkDown() && caller.link->FuncWaitRead() == MW_DONTWAIT &&
               callee.posted(kMsgLinkFailed, kStrCallNormal);
    }));
    EXPECT_FALSE(caller.link->IsPortOpen());
    callee.link->SetChatWindow(nullptr);
}

// A caller that gets the line and never says its hello is hung up after the
// set-up limit; the called station listens again.
TEST_F(ModemTest, CallerThatNeverSaysHelloIsHungUpAfterTheSetupLimit) {
    FakeModemProcess modems({"--number", "5550001", "--number", "5550002", "--ring-ms", "100"});
    ASSERT_TRUE(modems.ok());
    Station callee(2);
    callee.link->SetModemLineSettings(lineFor(modems.device("5550002")));
    callee.link->SetSessionSetupLimit(300);
    ASSERT_EQ(callee.link->SetListenOn(0), 1);
    ASSERT_TRUE(runUntil({&callee}, [&] { return callee.link->IsListeningFor(2); }));

    serialtest::SilentPeer caller(modems.device("5550001"));
    ASSERT_TRUE(caller.ok());
    caller.start("ATDT5550002\r");
    ASSERT_TRUE(runUntil({&callee}, [&] { return callee.link->IsLinkUp(); }));
    ASSERT_TRUE(runUntil({&callee}, [&] { return callee.posted(kMsgLinkFailed, kStrCallTimedOut); }));
    EXPECT_FALSE(callee.link->IsConnected());
    EXPECT_EQ(callee.link->LastCallResult(), kStrCallTimedOut);
    EXPECT_GT(caller.received(), 0u);  // it heard the callee's hello
    EXPECT_TRUE(runUntil({&callee}, [&] { return callee.link->IsListeningFor(2) != FALSE; }));
}

TEST_F(ModemTest, BusyAndUnansweredCallsEndTheAttempt) {
    FakeModemProcess modems({"--number", "5550001", "--number", "5550002", "--busy", "5550009", "--ring-ms", "100",
                             "--max-rings", "3"});
    ASSERT_TRUE(modems.ok());
    Station caller(1);
    caller.link->SetModemLineSettings(lineFor(modems.device("5550001")));

    ASSERT_EQ(caller.link->DialNumber("5550009"), 1);
    ASSERT_TRUE(runUntil({&caller}, [&] { return caller.link->LastCallResult() != 0; }));
    EXPECT_EQ(caller.link->LastCallResult(), kStrCallBusy);
    EXPECT_TRUE(caller.posted(kMsgLinkFailed, kStrCallBusy));
    EXPECT_TRUE(caller.link->IsLinkDown());
    EXPECT_FALSE(caller.link->IsPortOpen());

    // The other modem's station has its port open but never answers.
    platform::SerialPort idle;
    ASSERT_EQ(idle.open(modems.device("5550002")), DWORD(ERROR_SUCCESS));
    ASSERT_EQ(caller.link->DialNumber("5550002"), 1);
    ASSERT_TRUE(runUntil({&caller}, [&] { return caller.link->LastCallResult() != 0; }));
    EXPECT_EQ(caller.link->LastCallResult(), kStrCallNoAnswer);
    EXPECT_TRUE(caller.posted(kMsgLinkFailed, kStrCallNoAnswer));
}

}  // namespace
