// Network audio: a program on the network hands the operator's audio client
// coded speech through the network audio input; it crosses the link, and the
// site's audio client hands it on, unchanged, to a program attached to its
// network audio output. Both ends are the real network stream server
// component, the programs raw TCP sockets on loopback.

#include "trennick/audio/aud_comp.h"
#include "trennick/audio/audio_net.h"

#include "common/kc_reg.h"
#include "platform/com/com.h"
#include "platform/folders.h"
#include "platform/testing/child_process.h"
#include "tavicore/product_key.h"
#include "trennick/net/testing/link_station.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <poll.h>

namespace {

using namespace trennick;
using Bytes = std::vector<BYTE>;
using Clock = std::chrono::steady_clock;

void setAudio(const char* name, DWORD value) {
    CKcReg reg = ProductKey("Audio");
    reg.SetDword(nullptr, name, &value);
}
void setAudioText(const char* name, const std::string& value) {
    CKcReg reg = ProductKey("Audio");
    reg.SetString(nullptr, name, value.c_str());
}

class NoHost : public AudioHost {
public:
    bool hasMainWindow() override { return true; }
    bool remoteAudioState(DWORD& state) override {
        state = 1;
        return true;
    }
    std::string stationId() override { return "SITE"; }
    void notifyRecordStart(const std::string&) override {}
    void notifyRecordFinish(const std::string&, DWORD) override {}
    void dataLamp() override {}
};

// A program on the network: connects to a component's port, sends and takes records.
int attach(WORD port) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    int fd = -1;
    while (fd < 0 && Clock::now() < deadline) {
        fd = nettest::connectRaw(port);
        if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return fd;
}

bool sendRecord(int fd, const Bytes& payload) {
    ZoNetRecordHeader h{{'Z', 'N', 'E', 'T'}, DWORD(payload.size())};
    Bytes bytes(sizeof h);
    std::memcpy(bytes.data(), &h, sizeof h);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

// Appends to `stream` the payloads of the records that have arrived.
void takeRecords(int fd, Bytes& pending, Bytes& stream) {
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
        BYTE chunk[4096];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        pending.insert(pending.end(), chunk, chunk + n);
    }
    while (pending.size() >= sizeof(ZoNetRecordHeader)) {
        ZoNetRecordHeader h{};
        std::memcpy(&h, pending.data(), sizeof h);
        if (pending.size() < sizeof h + h.length) break;
        stream.insert(stream.end(), pending.begin() + sizeof h, pending.begin() + long(sizeof h + h.length));
        pending.erase(pending.begin(), pending.begin() + long(sizeof h + h.length));
    }
}

// A program on the network at another of this computer's addresses.
int connectFrom127002(WORD port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(0x7F000002);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

// A program on the network in a process of its own: attaches to the network
// input's port, sends one record larger than a frame's payload room, then a
// frame, and stays attached until the file args[1] appears. args: port, file.
VELMOOR_TEST_CHILD(net_speaker) {
    const int fd = attach(WORD(std::stoi(args.at(0))));
    if (fd < 0) return 2;
    Bytes frame(24, 0x2C);
    frame[0] = 0x28;
    if (!sendRecord(fd, Bytes(200, 0x10)) || !sendRecord(fd, frame)) return 3;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(args.at(1)) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::close(fd);
    return std::filesystem::exists(args.at(1)) ? 0 : 4;
}

namespace {

// The network input listens on this computer alone unless NetInAddress names
// another address; a record too large for a frame's payload is dropped and
// the speech after it still comes in.
TEST(NetworkAudio, InputListensOnLoopbackAndSurvivesAnOversizedRecord) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    platform::com::ensureServersRegistered();
    struct Case {
        const char* address;  // NetInAddress; null: the default
        bool otherAddressServed;
    };
    for (const Case c : {Case{nullptr, false}, Case{"0.0.0.0", true}}) {
        SCOPED_TRACE(c.address != nullptr ? c.address : "default");
        const WORD inPort = nettest::freePort();
        setAudio("NetOut", 0);
        setAudio("NetIn", 1);
        setAudioText("NetInPort", std::to_string(inPort));
        if (c.address != nullptr) setAudioText("NetInAddress", c.address);
        nettest::Station operatorSide(false, nettest::freePort());
        NoHost host;
        auto audio = std::make_unique<CAudComp>(operatorSide.link, host);
        ASSERT_NE(audio->NetIn(), nullptr);
        ASSERT_TRUE(audio->NetIn()->HasComponent());

        const int other = connectFrom127002(inPort);
        EXPECT_EQ(other >= 0, c.otherAddressServed);
        if (other >= 0) ::close(other);

        ASSERT_LT(audio->PayloadCapacity(), 200u);  // the speaker's first record does not fit
        const std::string heardFile = (platform::homeFolder() / ("heard-" + std::to_string(inPort))).string();
        auto speaker = velmoor::testing::ChildProcess::start("net_speaker", {std::to_string(inPort), heardFile});
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        Bytes got(audio->PayloadCapacity());
        DWORD length = 0;
        Bytes heard;
        while (heard.size() < 24 && Clock::now() < deadline) {
            if (audio->NetIn()->Read(got.data(), DWORD(got.size()), length) && length > 0) {
                heard.insert(heard.end(), got.begin(), got.begin() + long(length));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        Bytes frame(24, 0x2C);
        frame[0] = 0x28;
        EXPECT_EQ(heard, frame);
        std::ofstream(heardFile) << "heard";
        EXPECT_EQ(speaker.wait(std::chrono::seconds(30)), 0);
        audio.reset();
    }
    setAudioText("NetInAddress", "127.0.0.1");
    setAudio("NetIn", 0);
    CoUninitialize();
}

TEST(NetworkAudio, SpeechFromANetworkProgramReachesTheSitesNetworkProgram) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    platform::com::ensureServersRegistered();
    const WORD inPort = nettest::freePort(), outPort = nettest::freePort();

    using nettest::Station;
    const WORD sitePort = nettest::freePort();
    Station site(true, sitePort);
    Station operatorSide(false, nettest::freePort());
    NoHost host;
    setAudio("NetOut", 1);
    setAudioText("NetOutPort", std::to_string(outPort));
    auto siteAudio = std::make_unique<CAudComp>(site.link, host);
    setAudio("NetOut", 0);
    setAudio("NetIn", 1);
    setAudioText("NetInPort", std::to_string(inPort));
    auto operatorAudio = std::make_unique<CAudComp>(operatorSide.link, host);
    ASSERT_NE(operatorAudio->NetIn(), nullptr);
    ASSERT_TRUE(operatorAudio->NetIn()->HasComponent());
    ASSERT_NE(siteAudio->NetOut(), nullptr);
    // Nobody attached yet.
    EXPECT_FALSE(operatorAudio->NetIn()->IsConnected());
    EXPECT_FALSE(siteAudio->NetOut()->IsConnected());
    EXPECT_EQ(siteAudio->NetOut()->Write(Bytes(24).data(), 24), 0);
    site.link.SetAudComp(siteAudio.get());
    operatorSide.link.SetAudComp(operatorAudio.get());

    ASSERT_TRUE(site.open());
    ASSERT_TRUE(operatorSide.open());
    const std::string address = "127.0.0.1:" + std::to_string(sitePort);
    operatorSide.link.ConnectToRemote(address.c_str(), "");
    auto run = [&](auto done) {
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (!done()) {
            if (Clock::now() > deadline) return false;
            site.pass();
            operatorSide.pass();
            operatorAudio->ProcessVoice();
            siteAudio->ProcessVoice();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    };
    ASSERT_TRUE(run([&] { return site.link.IsConnected() && operatorSide.link.IsConnected(); }));

    const int listener = attach(outPort);
    ASSERT_GE(listener, 0);
    ASSERT_TRUE(run([&] { return siteAudio->NetOut()->IsConnected(); }));
    const int speaker = attach(inPort);
    ASSERT_GE(speaker, 0);
    ASSERT_TRUE(run([&] { return operatorAudio->NetIn()->IsConnected(); }));

    // Twenty 24-byte frames, then a 20-byte and a 4-byte one.
    Bytes sent;
    for (int i = 0; i < 22; ++i) {
        Bytes frame(i < 20 ? 24 : i == 20 ? 20 : 4, BYTE(i * 4));
        frame[0] = BYTE((i * 4) | (i < 20 ? 0 : i == 20 ? 1 : 2));
        ASSERT_TRUE(sendRecord(speaker, frame));
        sent.insert(sent.end(), frame.begin(), frame.end());
    }
    Bytes pending, heard;
    ASSERT_TRUE(run([&] {
        takeRecords(listener, pending, heard);
        return heard.size() >= sent.size();
    }));
    EXPECT_EQ(heard, sent);
    EXPECT_GT(operatorAudio->FramesSent(), 0u);
    EXPECT_EQ(siteAudio->FramesSent(), 0u);

    ::close(speaker);
    ::close(listener);
    site.link.SetAudComp(nullptr);
    operatorSide.link.SetAudComp(nullptr);
    siteAudio.reset();
    operatorAudio.reset();
    CoUninitialize();
}

}  // namespace
