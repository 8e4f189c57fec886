// The network video output over the real network stream server component:
// nothing is written while no viewer is there, each joining viewer is
// reported once and gets the frames, a leaving one is reported once, and
// what was queued for the last viewer is thrown away after it left.

#include "trennick/clients/video_out_net.h"

#include "common/kc_reg.h"
#include "platform/com/com.h"
#include "platform/com/com_ptr.h"
#include "platform/fd.h"
#include "tavicore/product_key.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace trennick;
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

platform::Fd connectTo(LONG port) {
    platform::Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
}

// One served frame: its header and payload.
bool receive(int fd, Bytes& payload) {
    BYTE header[8];
    std::size_t have = 0;
    auto readSome = [&](BYTE* into, std::size_t size) {
        while (size > 0) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20000) <= 0) return false;
            const ssize_t n = ::recv(fd, into, size, 0);
            if (n <= 0) return false;
            into += n;
            size -= std::size_t(n);
        }
        return true;
    };
    if (!readSome(header, sizeof header) || std::memcmp(header, "ZNET", 4) != 0) return false;
    DWORD length = 0;
    std::memcpy(&length, header + 4, 4);
    payload.resize(length);
    (void)have;
    return readSome(payload.data(), payload.size());
}

TEST(VideoOutNet, ServesViewersAndReportsEachJoiningAndLeavingOnce) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    platform::com::ensureServersRegistered();
    {
        ComPtr<IZoNet> component;
        ASSERT_EQ(CoCreateInstance(CLSID_ZOTCPServer, nullptr, CLSCTX_INPROC_SERVER, IID_IZoNet, component.putVoid()),
                  S_OK);
        CVideoOutNet out(component.get(), "127.0.0.1:0");
        ASSERT_TRUE(out.HasComponent());
        // The output's limits were read with their defaults and written back.
        LONG rate = 0;
        ASSERT_EQ(component->GetMaxBitRate(&rate), S_OK);
        EXPECT_EQ(rate, 900000);
        EXPECT_EQ(ProductDwordBack("Video\\Network", "ZoNetFifoSize", 1), 512000u);
        LONG port = 0;
        ASSERT_EQ(component->GetLocalPort(&port), S_OK);
        ASSERT_GT(port, 0);

        // No viewer: nothing is written.
        const Bytes frame(300, 0x42);
        EXPECT_FALSE(out.isClientConnected());
        EXPECT_FALSE(out.writeFrame(frame.data(), DWORD(frame.size())));
        EXPECT_FALSE(out.clientNewlyConnected());

        platform::Fd first = connectTo(port);
        ASSERT_TRUE(waitFor([&] { return out.isClientConnected(); }));
        EXPECT_TRUE(out.clientNewlyConnected());
        EXPECT_FALSE(out.clientNewlyConnected());
        ASSERT_TRUE(out.writeFrame(frame.data(), DWORD(frame.size())));
        Bytes got;
        ASSERT_TRUE(receive(first.get(), got));
        EXPECT_EQ(got, frame);

        platform::Fd second = connectTo(port);
        LONG count = 0;
        ASSERT_TRUE(waitFor([&] { return component->GetClientCount(&count) == S_OK && count == 2; }));
        EXPECT_TRUE(out.clientNewlyConnected());
        EXPECT_FALSE(out.clientLeft());

        second.reset();
        ASSERT_TRUE(waitFor([&] { return component->GetClientCount(&count) == S_OK && count == 1; }));
        EXPECT_TRUE(out.clientLeft());
        EXPECT_FALSE(out.clientLeft());
        EXPECT_FALSE(out.clientNewlyConnected());
        EXPECT_FALSE(out.wantsBufferCleaned());

        first.reset();
        ASSERT_TRUE(waitFor([&] { return !out.isClientConnected(); }));
        EXPECT_TRUE(out.clientLeft());
        EXPECT_TRUE(out.wantsBufferCleaned());
        out.cleanBuffer();
        EXPECT_FALSE(out.wantsBufferCleaned());
    }
    CoUninitialize();
}

TEST(VideoOutNet, WithoutAServingComponentEveryOperationDoesNothing) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    platform::com::ensureServersRegistered();
    {
        CVideoOutNet none(nullptr, "4598");
        EXPECT_FALSE(none.HasComponent());
        const BYTE byte = 1;
        EXPECT_FALSE(none.Open());
        EXPECT_FALSE(none.IsConnected());
        EXPECT_FALSE(none.Write(&byte, 1));
        EXPECT_FALSE(none.CleanBuf());
        EXPECT_FALSE(none.OnNewClientConnect());
        EXPECT_FALSE(none.OnClientDisconnect());
        // A port that is no port: the component stays, but never serves.
        CVideoOutNet bad("not a port");
        EXPECT_TRUE(bad.HasComponent());
        EXPECT_FALSE(bad.IsConnected());
        EXPECT_FALSE(bad.Write(&byte, 1));
    }
    CoUninitialize();
}

}  // namespace
