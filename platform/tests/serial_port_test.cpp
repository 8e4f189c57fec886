#include "platform/serial_port.h"

#include "platform/registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace platform;

// A pty whose device side is opened through the layer.
struct PtyPort {
    PtyPort() {
        auto p = openPseudoTerminal();
        if (!p) return;
        pty = *p;
        ok = port.open(pty.device.string()) == ERROR_SUCCESS;
    }
    ~PtyPort() {
        port.close();
        closeMaster();
    }
    void closeMaster() {
        if (pty.master >= 0) ::close(pty.master);
        pty.master = -1;
    }
    void masterWrite(std::string_view text) const {
        ASSERT_EQ(::write(pty.master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    std::string masterRead(std::size_t n) const {
        std::string out;
        while (out.size() < n) {
            char buffer[256];
            const ssize_t r = ::read(pty.master, buffer, std::min(sizeof buffer, n - out.size()));
            if (r <= 0) break;
            out.append(buffer, static_cast<std::size_t>(r));
        }
        return out;
    }
    PseudoTerminal pty;
    SerialPort port;
    bool ok = false;
};

TEST(SerialPort, ComNamesMapByEnvironmentCallersMapOrDefault) {
    ::unsetenv("VELMOOR_COM3");
    ::unsetenv("VELMOOR_COM4");
    EXPECT_EQ(serialDevicePath("COM3"), "/dev/ttyS2");
    EXPECT_EQ(serialDevicePath("com1"), "/dev/ttyS0");
    EXPECT_EQ(serialDevicePath("/dev/pts/7"), "/dev/pts/7");
    EXPECT_EQ(serialDevicePath("COMX"), "COMX");

    const SerialPortMap ports{{4, "/dev/ttyUSB0"}, {5, ""}};
    EXPECT_EQ(serialDevicePath("COM4", ports), "/dev/ttyUSB0");
    EXPECT_EQ(serialDevicePath("COM3", ports), "/dev/ttyS2");  // not in the map
    EXPECT_EQ(serialDevicePath("COM5", ports), "/dev/ttyS4");  // an empty path is no setting
    EXPECT_EQ(serialDevicePath("/dev/pts/7", ports), "/dev/pts/7");
    ::setenv("VELMOOR_COM4", "/dev/pts/9", 1);
    EXPECT_EQ(serialDevicePath("COM4", ports), "/dev/pts/9");  // the environment wins
    ::unsetenv("VELMOOR_COM4");
}

TEST(SerialPort, OpensExclusivelyAndReportsMissingDevices) {
    PtyPort p;
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.port.isPseudoTerminal());
    SerialPort second;
    EXPECT_EQ(second.open(p.pty.device.string()), DWORD(ERROR_ACCESS_DENIED));
    p.port.close();
    EXPECT_EQ(second.open(p.pty.device.string()), DWORD(ERROR_SUCCESS));

    SerialPort missing;
    EXPECT_EQ(missing.open("/dev/no-such-serial-device"), DWORD(ERROR_FILE_NOT_FOUND));
    ::setenv("VELMOOR_COM2", p.pty.device.c_str(), 1);
    second.close();
    SerialPort byName;
    EXPECT_EQ(byName.open("COM2"), DWORD(ERROR_SUCCESS));
    ::unsetenv("VELMOOR_COM2");
}

TEST(SerialPort, BytesPassBothWaysUnchanged) {
    PtyPort p;
    ASSERT_TRUE(p.ok);
    SerialSettings s;
    s.baudRate = 115200;
    s.parity = 2;
    s.stopBits = 2;
    ASSERT_EQ(p.port.setSettings(s), DWORD(ERROR_SUCCESS));
    SerialSettings back;
    ASSERT_EQ(p.port.getSettings(back), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(back, s);
    s.byteSize = 9;
    EXPECT_EQ(p.port.setSettings(s), DWORD(ERROR_INVALID_PARAMETER));

    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    DWORD written = 0;
    ASSERT_EQ(p.port.write(all.data(), DWORD(all.size()), written), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(written, all.size());
    EXPECT_EQ(p.masterRead(all.size()), all);

    p.masterWrite(all);
    std::string got(all.size(), '\0');
    DWORD n = 0;
    ASSERT_EQ(p.port.setTimeouts({0, 0, 2000, 0, 0}), DWORD(ERROR_SUCCESS));
    ASSERT_EQ(p.port.read(got.data(), DWORD(got.size()), n), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(n, all.size());
    EXPECT_EQ(got, all);
}

TEST(SerialPort, ReadTimeoutsEndReadsAsTheirRulesSay) {
    struct Case {
        const char* name;
        SerialTimeouts timeouts;
        const char* before;      // written before the read
        const char* later;       // written 50 ms into the read (null: nothing)
        DWORD ask;
        DWORD expect;
    };
    const Case cases[] = {
        {"return at once with what is there", {kSerialNoTimeout, 0, 0, 0, 0}, "abc", nullptr, 10, 3},
        {"return at once with nothing", {kSerialNoTimeout, 0, 0, 0, 0}, "", nullptr, 10, 0},
        {"total limit ends a read with nothing", {0, 0, 100, 0, 0}, "", nullptr, 10, 0},
        {"total limit keeps the bytes that came", {0, 0, 300, 0, 0}, "ab", nullptr, 10, 2},
        {"interval ends the read after the last byte", {30, 0, 0, 0, 0}, "abcd", nullptr, 10, 4},
        {"first-byte wait returns with the first burst", {kSerialNoTimeout, kSerialNoTimeout, 5000, 0, 0}, "",
         "xyz", 10, 3},
        {"no limit waits for every byte", {0, 0, 0, 0, 0}, "ab", "cde", 5, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PtyPort p;
        ASSERT_TRUE(p.ok);
        ASSERT_EQ(p.port.setTimeouts(c.timeouts), DWORD(ERROR_SUCCESS));
        if (*c.before) p.masterWrite(c.before);
        std::thread writer;
        if (c.later) {
            writer = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                p.masterWrite(c.later);
            });
        }
        std::vector<char> buffer(c.ask);
        DWORD got = 99;
        EXPECT_EQ(p.port.read(buffer.data(), c.ask, got), DWORD(ERROR_SUCCESS));
        if (writer.joinable()) writer.join();
        EXPECT_EQ(got, c.expect);
    }
}

TEST(SerialPort, WriteTimeoutReportsThePartWritten) {
    PtyPort p;
    ASSERT_TRUE(p.ok);
    // Nobody reads the master: the pty's buffer fills and the write must stop.
    ASSERT_EQ(p.port.setTimeouts({0, 0, 0, 0, 200}), DWORD(ERROR_SUCCESS));
    std::vector<char> block(1 << 20, 'x');
    DWORD written = 0;
    EXPECT_EQ(p.port.write(block.data(), DWORD(block.size()), written), DWORD(ERROR_TIMEOUT));
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, block.size());
}

// A write with its own limit stops at it even when the port's time-outs
// would wait for ever.
TEST(SerialPort, WriteWithALimitStopsAtItWithoutTimeouts) {
    PtyPort p;
    ASSERT_TRUE(p.ok);
    ASSERT_EQ(p.port.setTimeouts({0, 0, 0, 0, 0}), DWORD(ERROR_SUCCESS));
    std::vector<char> block(1 << 20, 'x');
    DWORD written = 0;
    EXPECT_EQ(p.port.write(block.data(), DWORD(block.size()), written, 200), DWORD(ERROR_TIMEOUT));
    EXPECT_LT(written, block.size());
}

// Rates outside the termios table are set exactly: the device itself runs at
// them (a port opened on it afterwards reads them back), never at a neighbour.
TEST(SerialPort, NonStandardRatesAreSetExactly) {
    PtyPort p;
    ASSERT_TRUE(p.ok);
    for (DWORD rate : {14400u, 56000u, 128000u, 256000u, 57600u}) {
        SCOPED_TRACE(rate);
        SerialSettings s;
        s.baudRate = rate;
        ASSERT_EQ(p.port.setSettings(s), DWORD(ERROR_SUCCESS));
        SerialSettings back;
        ASSERT_EQ(p.port.getSettings(back), DWORD(ERROR_SUCCESS));
        EXPECT_EQ(back.baudRate, rate);
        p.port.close();
        ASSERT_EQ(p.port.open(p.pty.device.string()), DWORD(ERROR_SUCCESS));
        ASSERT_EQ(p.port.getSettings(back), DWORD(ERROR_SUCCESS));
        EXPECT_EQ(back.baudRate, rate);
    }
}

TEST(SerialPort, CancelWakesABlockedRead) {
    PtyPort p;
    ASSERT_TRUE(p.ok);
    DWORD result = 0;
    std::atomic<bool> returned{false};
    std::thread reader([&] {
        char buffer[8];
        DWORD got = 0;
        result = p.port.read(buffer, sizeof buffer, got);  // no limits: waits for ever
        returned = true;
    });
    // A cancel wakes only a read already under way: cancel until the reader
    // has returned, however late its thread starts.
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!returned && std::chrono::steady_clock::now() < guard) {
        p.port.cancel();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(returned) << "the read was never woken";
    reader.join();
    EXPECT_EQ(result, DWORD(ERROR_OPERATION_ABORTED));
    // The port works normally afterwards.
    p.masterWrite("k");
    char c = 0;
    DWORD got = 0;
    ASSERT_EQ(p.port.setTimeouts({0, 0, 1000, 0, 0}), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(p.port.read(&c, 1, got), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(c, 'k');
}

TEST(SerialPort, PseudoTerminalLinesFollowTheTestPortAndTheHangUp) {
    PtyPort p;
    ASSERT_TRUE(p.ok);
    DWORD status = 0;
    ASSERT_EQ(p.port.modemStatus(status), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(status, MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);  // a cable, as nobody configured it

    setTestPortLines(p.pty.device, MS_CTS_ON);
    ASSERT_EQ(p.port.modemStatus(status), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(status, MS_CTS_ON);

    EXPECT_FALSE(testPortOutputs(p.pty.device).dtr);
    ASSERT_EQ(p.port.setDtr(true), DWORD(ERROR_SUCCESS));
    ASSERT_EQ(p.port.setRts(true), DWORD(ERROR_SUCCESS));
    EXPECT_TRUE(testPortOutputs(p.pty.device).dtr);
    EXPECT_TRUE(testPortOutputs(p.pty.device).rts);
    ASSERT_EQ(p.port.setDtr(false), DWORD(ERROR_SUCCESS));
    EXPECT_FALSE(testPortOutputs(p.pty.device).dtr);
    EXPECT_TRUE(testPortOutputs(p.pty.device).rts);

    // A change made by another thread (or process) is seen by a waiter. The
    // ring comes and goes until the waiter has returned, so a change falls in
    // the wait however the two threads are scheduled.
    std::atomic<bool> waited{false};
    std::thread ring([&] {
        for (bool on = true; !waited; on = !on) {
            setTestPortLines(p.pty.device, on ? MS_CTS_ON | MS_RING_ON : MS_CTS_ON);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    EXPECT_TRUE(p.port.waitModemChange(MS_RING_ON, 30000));
    waited = true;
    ring.join();
    setTestPortLines(p.pty.device, MS_CTS_ON);
    EXPECT_FALSE(p.port.waitModemChange(MS_DSR_ON, 50));

    // The other side hangs up: no lines, and a read fails once nothing is left.
    p.masterWrite("z");
    p.closeMaster();
    ASSERT_EQ(p.port.modemStatus(status), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(status, 0u);
    char buffer[4];
    DWORD got = 0;
    ASSERT_EQ(p.port.setTimeouts({0, 0, 1000, 0, 0}), DWORD(ERROR_SUCCESS));
    DWORD first = p.port.read(buffer, 4, got);
    if (got == 1) {
        EXPECT_EQ(first, DWORD(ERROR_SUCCESS));
        first = p.port.read(buffer, 4, got);
    }
    EXPECT_EQ(first, DWORD(ERROR_READ_FAULT));
    EXPECT_EQ(got, 0u);
    // Closing the port drops its outputs.
    ASSERT_EQ(p.port.setDtr(true), DWORD(ERROR_SUCCESS));
    p.port.close();
    EXPECT_FALSE(testPortOutputs(p.pty.device).dtr);
}

}  // namespace

namespace {

TEST(SerialPort, AnOpenPortChangesHandsWithItsLinesKept) {
    PtyPort p;
    ASSERT_TRUE(p.ok);
    ASSERT_EQ(p.port.setDtr(true), DWORD(ERROR_SUCCESS));
    const int fd = p.port.releaseDescriptor();
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(p.port.isOpen());
    EXPECT_TRUE(platform::testPortOutputs(p.pty.device).dtr);  // no hang-up in between

    platform::SerialPort taker;
    ASSERT_EQ(taker.adopt(fd, p.pty.device), DWORD(ERROR_SUCCESS));
    EXPECT_TRUE(taker.isPseudoTerminal());
    platform::SerialPort third;
    EXPECT_EQ(third.open(p.pty.device.string()), DWORD(ERROR_ACCESS_DENIED));
    DWORD written = 0;
    ASSERT_EQ(taker.write("ok", 2, written), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(p.masterRead(2), "ok");
    taker.close();
    EXPECT_FALSE(platform::testPortOutputs(p.pty.device).dtr);
}

}  // namespace
