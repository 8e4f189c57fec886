#include "pelmo/rs_main.h"
#include "pelmo/zo_serial.h"
#include "platform/com/com.h"
#include "platform/com/com_ptr.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The server created by its class id through the registry, as its clients do,
// on a pty mapped to COM3.
class ZoSerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        platform::com::ensureServersRegistered();
        ASSERT_EQ(CoCreateInstance(CLSID_ZoSerial, nullptr, CLSCTX_INPROC_SERVER, IID_IZoSerial, serial.putVoid()),
                  S_OK);
        auto p = platform::openPseudoTerminal();
        ASSERT_TRUE(p);
        pty = *p;
        ::setenv("VELMOOR_COM3", pty.device.c_str(), 1);
    }
    void TearDown() override {
        if (serial) serial->Disconnect();
        serial.reset();
        if (pty.master >= 0) ::close(pty.master);
        CoUninitialize();
    }
    void configure(BYTE parity = 'N') {
        ZoSerialConfig config{};
        config.port = 3;
        config.dataBits = 8;
        config.parity = parity;
        config.stopBits = 1;
        config.baudRate = 9600;
        ASSERT_EQ(serial->SetConfig(reinterpret_cast<LONG*>(&config)), S_OK);
    }
    std::string masterRead(std::size_t n) {
        std::string out;
        char buffer[512];
        while (out.size() < n) {
            const ssize_t r = ::read(pty.master, buffer, std::min(sizeof buffer, n - out.size()));
            if (r <= 0) break;
            out.append(buffer, static_cast<std::size_t>(r));
        }
        return out;
    }
    platform::com::ComPtr<IZoSerial> serial;
    platform::PseudoTerminal pty;
};

TEST_F(ZoSerialTest, ReadsAndWritesThePortThroughItsFifos) {
    configure();
    LONG connected = 1;
    ASSERT_EQ(serial->IsConnected(&connected), S_OK);
    EXPECT_EQ(connected, 0);
    ASSERT_EQ(serial->Connect(), S_OK);
    ASSERT_EQ(serial->IsConnected(&connected), S_OK);
    EXPECT_EQ(connected, 1);

    std::string text = "to the line";
    ULONG sent = 0;
    ASSERT_EQ(serial->SendData(reinterpret_cast<BYTE*>(text.data()), ULONG(text.size()), &sent), S_OK);
    EXPECT_EQ(sent, text.size());
    EXPECT_EQ(masterRead(text.size()), text);

    ASSERT_EQ(::write(pty.master, "from the line", 13), 13);
    ULONG waiting = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waiting < 13 && std::chrono::steady_clock::now() < deadline) {
        ASSERT_EQ(serial->GetFIFOSize(kZoSerialReadFifo, &waiting), S_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(waiting, 13u);
    BYTE buffer[64] = {};
    ULONG got = 0;
    ASSERT_EQ(serial->ReadData(buffer, 5, &got), S_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "from ");
    ASSERT_EQ(serial->ReadData(buffer, sizeof buffer, &got), S_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "the line");

    LONG dsr = 0;
    ASSERT_EQ(serial->IsDSROn(&dsr), S_OK);
    EXPECT_EQ(dsr, 1);
    EXPECT_EQ(serial->GetFIFOSize(2, &waiting), ZOSERIAL_E_FAIL);
    // Nothing was dropped and nothing failed; the FIFOs are empty again.
    for (ULONG fifo : {kZoSerialReadFifo, kZoSerialWriteFifo}) {
        LONG ovf = 1;
        EXPECT_EQ(serial->IsOverflow(fifo, &ovf), S_OK);
        EXPECT_EQ(ovf, 0);
        ULONG left = 0, most = 0;
        ASSERT_EQ(serial->GetFIFOSizeLeft(fifo, &left), S_OK);
        ASSERT_EQ(serial->GetMaxFIFOSize(fifo, &most), S_OK);
        EXPECT_EQ(most, pelmo::CRSMain::kFifoBytes);
        EXPECT_EQ(left, most);
    }
    ULONG error = 1;
    EXPECT_EQ(serial->GetLatestError(&error), S_OK);
    EXPECT_EQ(error, 0u);

    // After a close the port can be opened directly again.
    ASSERT_EQ(serial->Disconnect(), S_OK);
    platform::SerialPort direct;
    EXPECT_EQ(direct.open("COM3"), DWORD(ERROR_SUCCESS));
}

// A megabyte from the line while the client reads nothing: the read FIFO
// fills, the reader drops the rest, and the server says so until the client
// cleans the FIFO.
TEST_F(ZoSerialTest, AFloodTheClientDoesNotReadReportsTheOverflow) {
    configure();
    ASSERT_EQ(serial->Connect(), S_OK);
    LONG ovf = 1;
    ASSERT_EQ(serial->IsOverflow(kZoSerialReadFifo, &ovf), S_OK);
    EXPECT_EQ(ovf, 0);
    constexpr std::size_t kFlood = 1024 * 1024;
    std::thread flood([&] {
        const std::vector<char> bytes(kFlood, 'f');
        std::size_t at = 0;
        const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (at < kFlood && std::chrono::steady_clock::now() < guard) {
            const ssize_t n = ::write(pty.master, bytes.data() + at, std::min<std::size_t>(4096, kFlood - at));
            if (n > 0) at += static_cast<std::size_t>(n);
        }
    });
    flood.join();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ovf == 0 && std::chrono::steady_clock::now() < deadline) {
        ASSERT_EQ(serial->IsOverflow(kZoSerialReadFifo, &ovf), S_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(ovf, 1);
    ULONG held = 0, left = 1, most = 0, error = 0;
    ASSERT_EQ(serial->GetFIFOSize(kZoSerialReadFifo, &held), S_OK);
    ASSERT_EQ(serial->GetMaxFIFOSize(kZoSerialReadFifo, &most), S_OK);
    ASSERT_EQ(serial->GetFIFOSizeLeft(kZoSerialReadFifo, &left), S_OK);
    EXPECT_EQ(most, pelmo::CRSMain::kFifoBytes);
    EXPECT_EQ(held + left, most);
    ASSERT_EQ(serial->GetLatestError(&error), S_OK);
    EXPECT_EQ(error, static_cast<ULONG>(ERROR_INSUFFICIENT_BUFFER));
    // Reading makes room but the loss stays reported ...
    std::vector<BYTE> buffer(4096);
    ULONG got = 0;
    ASSERT_EQ(serial->ReadData(buffer.data(), static_cast<ULONG>(buffer.size()), &got), S_OK);
    EXPECT_GT(got, 0u);
    ASSERT_EQ(serial->IsOverflow(kZoSerialReadFifo, &ovf), S_OK);
    EXPECT_EQ(ovf, 1);
    // ... until the FIFO is cleaned.
    ASSERT_EQ(serial->Clean(kZoSerialReadFifo), S_OK);
    ASSERT_EQ(serial->IsOverflow(kZoSerialReadFifo, &ovf), S_OK);
    EXPECT_EQ(ovf, 0);
}

TEST_F(ZoSerialTest, ParityLetterIsKeptButTheLineHasNoParity) {
    configure('E');
    ZoSerialConfig back{};
    ASSERT_EQ(serial->GetConfig(reinterpret_cast<LONG*>(&back)), S_OK);
    EXPECT_EQ(back.parity, 'E');
    EXPECT_EQ(back.port, 3);
    EXPECT_EQ(back.baudRate, 9600u);
    EXPECT_EQ(back.portHandle, 0xFFFFFFFFu);
    EXPECT_EQ(serial->SetConfig(nullptr), ZOSERIAL_E_FAIL);

    pelmo::CRSMain engine;
    ZoSerialConfig config = back;
    ASSERT_EQ(engine.SetConfig(&config), S_OK);
    ASSERT_EQ(engine.Connect(), S_OK);
    // The port is open: a second opener is refused, and the line runs with no parity.
    platform::SerialPort other;
    EXPECT_EQ(other.open("COM3"), DWORD(ERROR_ACCESS_DENIED));
    ASSERT_EQ(engine.GetConfig(&back), S_OK);
    EXPECT_NE(back.portHandle, 0xFFFFFFFFu);
    EXPECT_EQ(engine.PollMs(), 500u);  // 9600 baud: 1000 / (9600 / 8 / 512)
}

TEST(RSMain, FifosTakeAllOrNothingAndPollPeriodsFollowTheRate) {
    pelmo::CRSMain engine;
    std::vector<BYTE> block(pelmo::CRSMain::kFifoBytes - 10, 0x33);
    ULONG sent = 0;
    ASSERT_EQ(engine.SendData(block.data(), ULONG(block.size()), &sent), S_OK);
    EXPECT_EQ(sent, block.size());
    EXPECT_EQ(engine.SendData(block.data(), 11, &sent), ZOSERIAL_E_FAIL);  // no room: nothing taken
    EXPECT_EQ(sent, 0u);
    ULONG size = 0;
    ASSERT_EQ(engine.GetFIFOSize(kZoSerialWriteFifo, &size), S_OK);
    EXPECT_EQ(size, block.size());
    ASSERT_EQ(engine.Clean(kZoSerialWriteFifo), S_OK);
    ASSERT_EQ(engine.GetFIFOSize(kZoSerialWriteFifo, &size), S_OK);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(engine.Clean(7), ZOSERIAL_E_FAIL);

    EXPECT_EQ(engine.PollMs(), 50u);  // not open yet
    EXPECT_EQ(pelmo::CRSMain::pollPeriodFor(115200), 35u);
    EXPECT_EQ(pelmo::CRSMain::pollPeriodFor(9600), 500u);
    EXPECT_EQ(pelmo::CRSMain::pollPeriodFor(2400), 50u);

    ZoSerialConfig config{};
    config.port = 9;  // nothing is mapped to COM9 in a test
    ::setenv("VELMOOR_COM9", "/dev/no-such-serial-device", 1);
    config.dataBits = 8;
    config.baudRate = 9600;
    ASSERT_EQ(engine.SetConfig(&config), S_OK);
    EXPECT_EQ(engine.Connect(), ZOSERIAL_E_FAIL);
    LONG connected = 1;
    ASSERT_EQ(engine.IsConnected(&connected), S_OK);
    EXPECT_EQ(connected, 0);
}

TEST(RSMain, DisconnectGivesUpAStalledWriteFifo) {
    auto pty = platform::openPseudoTerminal();
    ASSERT_TRUE(pty);
    ::setenv("VELMOOR_COM4", pty->device.c_str(), 1);
    pelmo::CRSMain engine;
    ZoSerialConfig config{};
    config.port = 4;
    config.dataBits = 8;
    config.stopBits = 1;
    config.baudRate = 115200;
    ASSERT_EQ(engine.SetConfig(&config), S_OK);
    ASSERT_EQ(engine.Connect(), S_OK);
    // Nobody reads the line: the pty fills and the FIFO stays full.
    std::vector<BYTE> block(90000, 0x55);
    ULONG sent = 0;
    ASSERT_EQ(engine.SendData(block.data(), ULONG(block.size()), &sent), S_OK);
    EXPECT_EQ(engine.Disconnect(), S_OK);  // returns after its drain limit instead of waiting on
    LONG connected = 1;
    ASSERT_EQ(engine.IsConnected(&connected), S_OK);
    EXPECT_EQ(connected, 0);
    ::close(pty->master);
}

}  // namespace
