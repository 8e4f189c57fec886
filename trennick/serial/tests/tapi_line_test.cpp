// The telephony line layer with our telephony library over the fake modem.
// The library serves one application per process, so the called station runs
// in a child process, as a second station on another machine would.

#include "common/kc_reg.h"
#include "common/product_registry.h"
#include "platform/serial_port.h"
#include "platform/testing/child_process.h"
#include "tavicore/product_key.h"
#include "trennick/link/link_trace.h"
#include "trennick/link/testing/link_fakes.h"
#include "trennick/serial/comm.h"
#include "trennick/serial/modem_connection.h"
#include "trennick/serial/tapi_binding.h"
#include "trennick/serial/tapi_connection.h"
#include "trennick/serial/testing/fake_modem_process.h"
#include "trennick/serial/tests/link_station.h"
#include "trennick/serial/tests/transfer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

namespace {

using namespace trennick;
using namespace linktest;
using serialtest::FakeModemProcess;

using TapiStation = serialtest::LinkStation;

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool runUntil(TapiStation& s, const std::function<bool()>& done, int seconds = 40) {
    return serialtest::runUntil({&s}, done, seconds);
}

void noWaitBetweenCalls() {
    CKcReg reg = ProductKey("Comms");
    reg.SetValueName("MinTimeBetweenConnect");
    reg.Write(static_cast<DWORD>(0));
}

// The called station: listens on "Line B", answers, takes the file, and ends
// when the caller has hung up. Exit codes say where it stopped.
VELMOOR_TEST_CHILD(tapi_callee) {
    TapiStation s(2, "Line B");
    std::filesystem::create_directories(platform::homeFolder() / "callee");
    s.link->SetReceiveFolders((platform::homeFolder() / "callee").c_str(), (platform::homeFolder() / "callee").c_str());
    if (s.link->SetListenOn(0) != 1) return 10;
    if (!runUntil(s, [&] { return s.link->IsConnected(); })) return 11;
    if (s.link->IsOutgoingCall()) return 12;
    std::string path;
    if (!runUntil(s, [&] { return s.link->GetReceivedFileName(path); })) return 13;
    if (!runUntil(s, [&] { return s.posted(kMsgLinkFailed, kStrCallNormal); })) return 14;
    return 0;
}

class TapiLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (getenv("SERIAL_DEBUG")) setLinkTraceSink([](unsigned l, const char* t) { fprintf(stderr, "%u %s\n", l, t); });
        tapi::setLibraryName("velmoortapi");
        noWaitBetweenCalls();
    }
};

TEST_F(TapiLineTest, CallPlacedAndAnsweredThroughTheTelephonyLibrary) {
    const auto log = platform::homeFolder() / "modem-commands.log";
    FakeModemProcess modems(
        {"--number", "5550001", "--number", "5550002", "--ring-ms", "200", "--command-log", log.string()});
    ASSERT_TRUE(modems.ok());
    ::setenv("VELMOOR_TAPI_LINES",
             ("Line A=" + modems.device("5550001") + ";Line B=" + modems.device("5550002")).c_str(), 1);
    ASSERT_TRUE(tapi::libraryPresent());
    auto callee = velmoor::testing::ChildProcess::start("tapi_callee");

    TapiStation caller(1, "Line A");
    // The callee's line must be open before the call; it rings until answered.
    // Opening the port sets its outputs in the line file the two share.
    const std::string calleeDevice = modems.device("5550002");
    ASSERT_TRUE(runUntil(caller, [&] { return platform::testPortOutputs(calleeDevice).known; }, 60));
    ASSERT_EQ(caller.link->DialNumber("5550002"), 1);
    ASSERT_TRUE(runUntil(caller, [&] { return caller.link->IsConnected(); }));
    EXPECT_TRUE(caller.link->IsOutgoingCall());
    EXPECT_EQ(caller.host.remoteStationByte, 2);

    // A file goes to the callee; the transfer ends confirmed.
    const auto file = platform::homeFolder() / "report.bin";
    std::ofstream(file, std::ios::binary) << std::string(5000, '\x01') << "end";
    ASSERT_EQ(caller.link->SetSendStatus(1, 0, file.c_str()), 1);
    ASSERT_TRUE(runUntil(caller, [&] { return caller.link->GetFileSendStatus() == SEND_COMPLETE; }));

    // The hang-up returns once the modem was told to hang up and the call went idle.
    caller.link->SetNotConnected();
    EXPECT_NE(readAll(log).find("5550001 ATH"), std::string::npos);
    EXPECT_EQ(caller.link->Tapi()->LastStatus(), "Ready to make a call.");
    EXPECT_EQ(callee.wait(std::chrono::seconds(60)), 0);
}

TEST_F(TapiLineTest, BusyAndUnansweredCallsAreReported) {
    FakeModemProcess modems({"--number", "5550001", "--number", "5550002", "--busy", "5550009", "--ring-ms", "100",
                             "--max-rings", "3"});
    ASSERT_TRUE(modems.ok());
    ::setenv("VELMOOR_TAPI_LINES", ("Line A=" + modems.device("5550001")).c_str(), 1);
    TapiStation caller(1, "Line A");
    ASSERT_EQ(caller.link->DialNumber("5550009"), 1);
    ASSERT_TRUE(runUntil(caller, [&] { return caller.link->LastCallResult() != 0; }));
    EXPECT_EQ(caller.link->LastCallResult(), kStrCallBusy);
    EXPECT_TRUE(caller.posted(kMsgLinkFailed, kStrCallBusy));

    platform::SerialPort idle;  // a station that never answers
    ASSERT_EQ(idle.open(modems.device("5550002")), DWORD(ERROR_SUCCESS));
    // The hang-up ended with the result; calls at the same tick are refused.
    const DWORD hungUpMs = systemTimerMs();
    ASSERT_TRUE(runUntil(caller, [&] { return systemTimerMs() != hungUpMs; }));
    ASSERT_EQ(caller.link->DialNumber("5550002"), 1);
    ASSERT_TRUE(runUntil(caller, [&] { return caller.link->LastCallResult() == kStrCallNoAnswer; }));
    EXPECT_TRUE(caller.posted(kMsgLinkFailed, kStrCallNoAnswer));
}

// Holds "Line B" through the telephony library (listening on it) until the
// parent is done with its checks.
VELMOOR_TEST_CHILD(tapi_line_holder) {
    TapiStation s(2, "Line B");
    if (s.link->SetListenOn(0) != 1) return 10;
    std::ofstream(platform::homeFolder() / "holder.ready") << "held";
    const auto done = platform::homeFolder() / "holder.done";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (!std::filesystem::exists(done)) {
        if (std::chrono::steady_clock::now() > deadline) return 11;
        s.pass();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

// The setup pages' line check names what keeps a line from being used: a
// program that has the port, another telephony application that has the line,
// a line the library does not know; a free line and the direct lines pass.
TEST_F(TapiLineTest, TheLineCheckNamesWhatHoldsTheLine) {
    FakeModemProcess modems({"--number", "5550001", "--number", "5550002", "--number", "5550003"});
    ASSERT_TRUE(modems.ok());
    ::setenv("VELMOOR_TAPI_LINES",
             ("Line A=" + modems.device("5550001") + ";Line B=" + modems.device("5550002") +
              ";Line C=" + modems.device("5550003"))
                 .c_str(),
             1);
    auto holder = velmoor::testing::ChildProcess::start("tapi_line_holder");
    const auto ready = platform::homeFolder() / "holder.ready";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(ready) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(std::filesystem::exists(ready));
    platform::SerialPort other;  // a program that is no telephony application
    ASSERT_EQ(other.open(modems.device("5550003")), DWORD(ERROR_SUCCESS));

    TapiStation station(1, "Line A");
    CTAPIConnection& tapi = *station.link->Tapi();
    struct Case {
        const char* line;
        const char* warning;
    };
    const Case cases[] = {
        {"Line A", ""},
        {"Line B", "TAPI WARNING: The selected line is already in use by a TAPI application"},
        {"Line C", "TAPI WARNING: The selected line is already in use by a non-TAPI application"},
        {"Line Z", "TAPI WARNING: The selected line doesn't support the COMM/DATAMODEM device class"},
        {"Direct to com2", ""},
    };
    std::vector<std::string> shown;
    CCommon::setMessagePresenter([&](UINT, UINT, const std::string& text) {
        shown.push_back(text);
        return 0;
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        shown.clear();
        const bool usable = c.warning[0] == '\0';
        EXPECT_EQ(tapi.VerifyAndWarn(c.line), usable ? TRUE : FALSE);
        EXPECT_EQ(shown, usable ? std::vector<std::string>{} : std::vector<std::string>{c.warning});
    }
    CCommon::setMessagePresenter(nullptr);

    // The check let go of the free line: this station can still listen on it.
    EXPECT_EQ(station.link->SetListenOn(0), 1);
    EXPECT_EQ(tapi.VerifyAndWarn("Line A"), TRUE);  // its own line stays usable
    // A call on the line another application holds is not placed.
    TapiStation blocked(3, "Line B");
    EXPECT_EQ(blocked.link->DialNumber("5550001"), 0);
    EXPECT_FALSE(blocked.link->IsConnected());

    std::ofstream(platform::homeFolder() / "holder.done") << "done";
    EXPECT_EQ(holder.wait(std::chrono::seconds(60)), 0);
}

// The line's device configuration and the dialing location are checked before
// they are kept; what is kept holds across a restart of the library and is what
// the modem gets before the next call.
TEST_F(TapiLineTest, DeviceConfigurationIsCheckedKeptAndDialled) {
    using namespace tapi;
    const auto log = platform::homeFolder() / "modem-commands.log";
    FakeModemProcess modems({"--number", "5550001", "--number", "5550002", "--command-log", log.string()});
    ASSERT_TRUE(modems.ok());
    ::setenv("VELMOOR_TAPI_LINES", ("Line A=" + modems.device("5550001")).c_str(), 1);

    ModemDevConfig good;
    good.size = sizeof good;
    good.pulseDialing = 1;
    good.speakerMode = 0;
    good.speakerVolume = 3;
    good.waitForDialTone = 0;
    good.callSetupSeconds = 30;
    std::strcpy(good.extraInit, "&C1&D2");
    struct Damage {
        const char* what;
        std::function<void(ModemDevConfig&)> change;
        DWORD size;
    };
    const Damage damages[] = {
        {"wrong magic", [](ModemDevConfig& c) { c.magic[0] = 'X'; }, sizeof good},
        {"short record", [](ModemDevConfig&) {}, sizeof good - 1},
        {"size field", [](ModemDevConfig& c) { c.size = 4; }, sizeof good},
        {"odd speed", [](ModemDevConfig& c) { c.baudRate = 14400; }, sizeof good},
        {"speaker mode", [](ModemDevConfig& c) { c.speakerMode = 3; }, sizeof good},
        {"no call time", [](ModemDevConfig& c) { c.callSetupSeconds = 0; }, sizeof good},
        {"line end in settings", [](ModemDevConfig& c) { std::strcpy(c.extraInit, "&C1\rATH"); }, sizeof good},
        {"escape in settings", [](ModemDevConfig& c) { std::strcpy(c.extraInit, "+++"); }, sizeof good},
        {"unterminated settings", [](ModemDevConfig& c) { std::memset(c.extraInit, 'A', sizeof c.extraInit); },
         sizeof good},
    };

    TapiStation caller(1, "Line A");
    CTAPIConnection& tapi = *caller.link->Tapi();
    ASSERT_EQ(tapi.FillTAPILine().front(), (TapiLineEntry{"Line A", 0}));
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        ModemDevConfig bad = good;
        d.change(bad);
        EXPECT_EQ(lineSetDevConfig(0, &bad, d.size, "comm/datamodem"), LINEERR_INVALPARAM);
    }
    EXPECT_EQ(lineSetDevConfig(0, &good, sizeof good, "comm/datamodem"), 0);
    EXPECT_EQ(lineSetDevConfig(7, &good, sizeof good, "comm/datamodem"), LINEERR_BADDEVICEID);

    // Nobody can answer a dialog in a program without widgets: nothing is kept.
    EXPECT_FALSE(tapi.PreConfigureDevice(nullptr, 0));
    EXPECT_FALSE(tapi.TranslateDialog(nullptr, 0));
    EXPECT_TRUE(tapi.DevConfig().empty());

    // A location with only dialable characters is used; a damaged one is not.
    const auto setLocation = [](const char* outside, const char* waiting) {
        CKcReg location = CommonKey("TelephonyLocation");
        location.SetString(nullptr, "OutsideLine", outside);
        location.SetString(nullptr, "DisableCallWaiting", waiting);
    };
    const auto translated = [&](const char* number) {
        std::vector<BYTE> buffer(256);
        auto* out = reinterpret_cast<VarString*>(buffer.data());
        out->totalSize = static_cast<DWORD>(buffer.size());
        if (lineTranslateAddress(0, 0, 0, number, 0, 0, out) != 0) return std::string("(failed)");
        return std::string(reinterpret_cast<const char*>(buffer.data() + out->stringOffset));
    };
    setLocation("9;ATH", "");
    EXPECT_EQ(translated("5550002"), "5550002");
    setLocation("9", "*70");
    EXPECT_EQ(translated("5550002"), "9,*70,5550002");

    // The library starts again: the kept configuration is the line's.
    tapi.StopTAPI();
    ASSERT_EQ(tapi.StartTAPI(), 1);
    std::vector<BYTE> buffer(sizeof(VarString) + sizeof(ModemDevConfig));
    auto* answer = reinterpret_cast<VarString*>(buffer.data());
    answer->totalSize = static_cast<DWORD>(buffer.size());
    ASSERT_EQ(lineGetDevConfig(0, answer, "comm/datamodem"), 0);
    ASSERT_EQ(answer->stringSize, sizeof(ModemDevConfig));
    EXPECT_EQ(std::memcmp(buffer.data() + answer->stringOffset, &good, sizeof good), 0);

    // The call: the modem is set up as configured, then dialled by pulse
    // through the location's prefixes.
    platform::SerialPort callee;  // rings, never answers
    ASSERT_EQ(callee.open(modems.device("5550002")), DWORD(ERROR_SUCCESS));
    ASSERT_EQ(caller.link->DialNumber("5550002"), 1);
    ASSERT_TRUE(runUntil(caller, [&] { return readAll(log).find("5550001 ATDP9,*70,5550002") != std::string::npos; }));
    const std::string commands = readAll(log);
    const auto setup = commands.find("5550001 ATM0L3X3S7=30&C1&D2");
    ASSERT_NE(setup, std::string::npos) << commands;
    EXPECT_LT(setup, commands.find("5550001 ATDP9,*70,5550002"));
    caller.link->SetNotConnected();
    EXPECT_EQ(tapi.LastStatus(), "Ready to make a call.");
}

// A request refused at once is not waited for; a reply is matched to its
// request.
TEST_F(TapiLineTest, RefusedRequestsAreNotWaitedForAndRepliesAreMatched) {
    using namespace tapi;
    TapiStation s(1, "Direct to com1");
    CTAPIConnection& tapi = *s.link->Tapi();
    for (LONG id : {0L, -1L, static_cast<long>(LINEERR_INVALCALLHANDLE)}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(tapi.WaitForReply(id), LINEERR_OPERATIONFAILED);
    }
    const auto self = reinterpret_cast<std::uintptr_t>(&tapi);
    CTAPIConnection::LineCallbackFunc(0, LINE_REPLY, self, 6, 0x111, 0);
    CTAPIConnection::LineCallbackFunc(0, LINE_REPLY, self, 7, 0x222, 0);
    EXPECT_EQ(tapi.WaitForReply(7), 0x222);
}

// A wait entered from inside another (here: a ring answered while the call is
// being dialled) answers "aborted" at once and aborts the outer wait too, so
// the dial gives up instead of trusting a reply meant for the other request.
TEST_F(TapiLineTest, AWaitInsideAWaitAbortsBoth) {
    using namespace tapi;
    FakeModemProcess modems({"--number", "5550001", "--number", "5550002"});
    ASSERT_TRUE(modems.ok());
    ::setenv("VELMOOR_TAPI_LINES", ("Line A=" + modems.device("5550001")).c_str(), 1);
    TapiStation caller(1, "Line A");
    ModemLineSettings settings = caller.link->LineSettings();
    settings.AutoAnswer = true;
    settings.RingsCount = 1;
    caller.link->SetModemLineSettings(settings);
    static std::vector<std::string> traces;  // the sink is a plain function
    traces.clear();
    const auto previous = setLinkTraceSink([](unsigned, const char* text) { traces.emplace_back(text); });
    CTAPIConnection& tapi = *caller.link->Tapi();
    ASSERT_EQ(tapi.StartTAPI(), 1);
    // Handled by the dial's wait for its reply: the ring starts the answer's wait.
    CTAPIConnection::LineCallbackFunc(0, LINE_LINEDEVSTATE, reinterpret_cast<std::uintptr_t>(&tapi),
                                      LINEDEVSTATE_RINGING, 0, 1);
    EXPECT_EQ(caller.link->DialNumber("5550002"), 0);
    setLinkTraceSink(previous);
    const auto count = [&](const char* text) {
        return std::count_if(traces.begin(), traces.end(),
                             [&](const std::string& t) { return t.find(text) != std::string::npos; });
    };
    EXPECT_EQ(count("WAITERR_WAITABORTED"), 2);
    EXPECT_EQ(count("While Dialing, WaitForReply aborted."), 1);
    EXPECT_FALSE(caller.link->IsConnected());
}

// A modem that went away under a listening line (its device hung up, and so
// stays ready for poll) does not keep the telephony engine turning without
// rest: over a second of quiet the process uses a small part of it.
TEST_F(TapiLineTest, AModemThatWentAwayDoesNotKeepTheEngineTurning) {
    auto modems = std::make_unique<FakeModemProcess>(std::vector<std::string>{"--number", "5550001"});
    ASSERT_TRUE(modems->ok());
    ::setenv("VELMOOR_TAPI_LINES", ("Line A=" + modems->device("5550001")).c_str(), 1);
    TapiStation station(1, "Line A");
    ASSERT_EQ(station.link->SetListenOn(0), 1);
    modems.reset();
    const auto processorSeconds = [] {
        timespec t{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
    };
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double before = processorSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(processorSeconds() - before, 0.5);
}

}  // namespace
