// The telephony line layer with our telephony library over the fake modem.
// The library serves one application per process, so the called station runs
// in a child process, as a second station on another machine would.

#include "common/kc_reg.h"
#include "platform/testing/child_process.h"
#include "tavicore/product_key.h"
#include "trennick/link/link_trace.h"
#include "trennick/link/testing/link_fakes.h"
#include "trennick/serial/comm.h"
#include "trennick/serial/modem_connection.h"
#include "trennick/serial/tapi_binding.h"
#include "trennick/serial/tapi_connection.h"
#include "trennick/serial/tests/fake_modem_process.h"
#include "trennick/serial/tests/link_station.h"
#include "trennick/serial/tests/transfer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

namespace {

using namespace trennick;
using namespace linktest;
using serialtest::FakeModemProcess;

using TapiStation = serialtest::LinkStation;

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
    FakeModemProcess modems({"--number", "5550001", "--number", "5550002", "--ring-ms", "200"});
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
    ASSERT_TRUE(runUntil(caller, [&] { return caller.link->GetFileSendStatus() == SEND_CANCELLED; }));

    caller.link->SetNotConnected();
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

}  // namespace
