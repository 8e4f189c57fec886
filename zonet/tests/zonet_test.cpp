// The network stream server component, created through the registry as its
// clients create it, with viewers on loopback: records reach every viewer
// whole and in order, records from a viewer come back through Read, the
// state follows the viewers, and bad calls and bad viewers are refused.

#include "platform/com/com.h"
#include "platform/com/com_ptr.h"
#include "platform/fd.h"
#include "zonet/zonet_lib.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;
using platform::com::ComPtr;

bool waitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A viewer: a plain TCP client of the server.
class Viewer {
public:
    explicit Viewer(LONG port) : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(std::uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(m_fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    void send(const Bytes& bytes) { ASSERT_EQ(::send(m_fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size())); }
    // The next record's payload; false when none came in time.
    bool receive(Bytes& payload) {
        ZoNetRecordHeader header{};
        if (!readAll(&header, sizeof header)) return false;
        if (std::memcmp(header.magic, "ZNET", 4) != 0) return false;
        payload.resize(header.length);
        return readAll(payload.data(), payload.size());
    }
    // True when the server closed the connection.
    bool closedByServer() {
        pollfd p{m_fd.get(), POLLIN, 0};
        if (::poll(&p, 1, 20000) <= 0) return false;
        BYTE b;
        return ::recv(m_fd.get(), &b, 1, 0) == 0;
    }
    void close() { m_fd.reset(); }
    bool connected = false;

private:
    bool readAll(void* out, std::size_t size) {
        auto* p = static_cast<BYTE*>(out);
        while (size > 0) {
            pollfd pf{m_fd.get(), POLLIN, 0};
            if (::poll(&pf, 1, 20000) <= 0) return false;
            const ssize_t n = ::recv(m_fd.get(), p, size, 0);
            if (n <= 0) return false;
            p += n;
            size -= std::size_t(n);
        }
        return true;
    }
    platform::Fd m_fd;
};

Bytes record(const Bytes& payload) {
    Bytes out(8 + payload.size());
    std::memcpy(out.data(), "ZNET", 4);
    const DWORD n = DWORD(payload.size());
    std::memcpy(out.data() + 4, &n, 4);
    std::copy(payload.begin(), payload.end(), out.begin() + 8);
    return out;
}

class ZoNet : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        platform::com::ensureServersRegistered();
        ASSERT_EQ(CoCreateInstance(CLSID_ZOTCPServer, nullptr, CLSCTX_INPROC_SERVER, IID_IZoNet, net.putVoid()), S_OK);
    }
    void TearDown() override {
        net.reset();
        CoUninitialize();
    }
    // Opened, with a queue, serving on a free loopback port.
    LONG serve(LONG fifo = 100000, LONG rate = 0) {
        EXPECT_EQ(net->Open(0), S_OK);
        EXPECT_EQ(net->FifoInit(fifo), S_OK);
        EXPECT_EQ(net->SetMaxBitRate(rate), S_OK);
        BSTR address = SysAllocString("127.0.0.1:0");
        EXPECT_EQ(net->Connect(0, address), S_OK);
        SysFreeString(address);
        LONG port = 0;
        EXPECT_EQ(net->GetLocalPort(&port), S_OK);
        return port;
    }
    LONG state() {
        LONG s = -1;
        net->GetState(&s);
        return s;
    }
    LONG clients() {
        LONG n = -1;
        net->GetClientCount(&n);
        return n;
    }
    ComPtr<IZoNet> net;
};

TEST_F(ZoNet, EveryViewerGetsTheRecordsWholeAndInOrderAndTheirOwnComeBack) {
    EXPECT_EQ(state(), ZONET_STATE_CLOSED);
    const LONG port = serve();
    ASSERT_GT(port, 0);
    EXPECT_EQ(state(), ZONET_STATE_LISTENING);
    Bytes frame(500, 7);
    LONG queued = 0;
    EXPECT_EQ(net->Write(frame.data(), LONG(frame.size()), &queued), ZONET_E_NOT_CONNECTED);

    Viewer a(port), b(port);
    ASSERT_TRUE(a.connected && b.connected);
    ASSERT_TRUE(waitFor([&] { return clients() == 2; }));
    EXPECT_EQ(state(), ZONET_STATE_CONNECTED);
    std::vector<Bytes> sent;
    for (int i = 0; i < 20; ++i) {
        Bytes p(std::size_t(100 + i * 37));
        for (std::size_t k = 0; k < p.size(); ++k) p[k] = BYTE(i * 13 + k);
        sent.push_back(p);
        ASSERT_EQ(net->Write(p.data(), LONG(p.size()), &queued), S_OK) << i;
    }
    for (Viewer* v : {&a, &b}) {
        for (const Bytes& expected : sent) {
            Bytes got;
            ASSERT_TRUE(v->receive(got));
            EXPECT_EQ(got, expected);
        }
    }

    // What a viewer sends comes back through Read, whole records only.
    a.send(record(Bytes{1, 2, 3}));
    a.send(record(Bytes(40, 9)));
    Bytes in(100);
    LONG length = 0;
    ASSERT_TRUE(waitFor([&] {
        LONG n = 0;
        net->Read(in.data() + length, LONG(in.size()) - length, &n);
        length += n;
        return length == 43;
    }));
    EXPECT_EQ(Bytes(in.begin(), in.begin() + 3), (Bytes{1, 2, 3}));
    b.send(record(Bytes(60, 5)));
    LONG needed = 0;
    ASSERT_TRUE(waitFor([&] { return net->Read(in.data(), 10, &needed) == ZONET_E_ROOM; }));
    EXPECT_EQ(needed, 60);  // the room the next record wants
    ASSERT_EQ(net->Read(in.data(), 60, &length), S_OK);
    EXPECT_EQ(length, 60);

    // A viewer that leaves is counted out; the last one takes the state back.
    a.close();
    ASSERT_TRUE(waitFor([&] { return clients() == 1; }));
    b.close();
    ASSERT_TRUE(waitFor([&] { return clients() == 0; }));
    EXPECT_EQ(state(), ZONET_STATE_LISTENING);
    EXPECT_EQ(net->Disconnect(), S_OK);
    EXPECT_EQ(state(), ZONET_STATE_OPEN);
    EXPECT_EQ(net->Close(), S_OK);
    EXPECT_EQ(state(), ZONET_STATE_CLOSED);
}

TEST_F(ZoNet, RefusesBadCallsWithTheirCodes) {
    BSTR address = SysAllocString("127.0.0.1:0");
    EXPECT_EQ(net->Connect(0, address), ZONET_E_NOT_OPEN);
    ASSERT_EQ(net->Open(0), S_OK);
    for (const char* bad : {"", "port", "127.0.0.1:", "1.2.3:80", "99999", "127.0.0.1:12a", ":-1"}) {
        SCOPED_TRACE(bad);
        BSTR text = SysAllocString(bad);
        EXPECT_EQ(net->Connect(0, text), ZONET_E_ADDRESS);
        SysFreeString(text);
    }
    EXPECT_EQ(net->FifoInit(0), E_INVALIDARG);
    EXPECT_EQ(net->FifoInit(LONG(kZoNetMaxFifoBytes) + 1), E_INVALIDARG);
    EXPECT_EQ(net->SetMaxBitRate(-1), E_INVALIDARG);
    BYTE byte = 0;
    LONG n = 0;
    EXPECT_EQ(net->Write(&byte, 1, &n), ZONET_E_NO_FIFO);
    EXPECT_EQ(net->Read(&byte, 1, &n), ZONET_E_NO_FIFO);
    ASSERT_EQ(net->Connect(0, address), S_OK);
    EXPECT_EQ(net->Connect(0, address), ZONET_E_STATE);
    SysFreeString(address);
    EXPECT_EQ(net->GetState(nullptr), E_POINTER);
    EXPECT_EQ(net->Write(&byte, -1, &n), E_INVALIDARG);
}

TEST_F(ZoNet, AFullQueueRefusesAndCleanBufEmptiesIt) {
    // 8 bits per second: the first record goes, the rest wait in the queue.
    const LONG port = serve(1000, 8);
    Viewer v(port);
    ASSERT_TRUE(waitFor([&] { return clients() == 1; }));
    Bytes p(200, 3);
    LONG queued = 0;
    HRESULT hr = S_OK;
    int written = 0;
    while ((hr = net->Write(p.data(), LONG(p.size()), &queued)) == S_OK && written < 20) ++written;
    EXPECT_EQ(hr, ZONET_E_FIFO_FULL);
    LONG used = 0;
    ASSERT_EQ(net->GetFifoUsed(&used), S_OK);
    EXPECT_GT(used, 0);
    EXPECT_LE(used, 1000);
    ASSERT_EQ(net->CleanBuf(0), S_OK);
    ASSERT_EQ(net->GetFifoUsed(&used), S_OK);
    EXPECT_EQ(used, 0);
}

TEST_F(ZoNet, AViewerThatSendsNoRecordIsDropped) {
    const LONG port = serve();
    Viewer good(port), bad(port);
    ASSERT_TRUE(waitFor([&] { return clients() == 2; }));
    Bytes garbage = record(Bytes(10, 1));
    std::memcpy(garbage.data(), "XXXX", 4);
    bad.send(garbage);
    EXPECT_TRUE(bad.closedByServer());
    ASSERT_TRUE(waitFor([&] { return clients() == 1; }));
    // A length past the bound is refused before anything is kept.
    Viewer huge(port);
    ASSERT_TRUE(waitFor([&] { return clients() == 2; }));
    Bytes header = record({});
    const DWORD tooLong = kZoNetMaxRecordBytes + 1;
    std::memcpy(header.data() + 4, &tooLong, 4);
    huge.send(header);
    EXPECT_TRUE(huge.closedByServer());
    ASSERT_TRUE(waitFor([&] { return clients() == 1; }));
    EXPECT_EQ(state(), ZONET_STATE_CONNECTED);
}

}  // namespace
