// A peer process that sends file refusals and chat to a listening program,
// before its hello and after it: nothing it sends opens a box inside the
// program's read pass, nothing before its hello is acted on, and the program
// keeps answering at once.

#include "trennick/app/testing/app_test_support.h"
#include "common/fixed_text.h"
#include "platform/folders.h"
#include "platform/testing/child_process.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/link/bucket.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/prot_list.h"
#include "trennick/link/station_info.h"
#include "trennick/net/testing/net_test_util.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace trennick;
using namespace apptest;

namespace {

constexpr const char* kEarlyChat = "before the hello";
constexpr const char* kLateChat = "after the hello";

class ChatRecorder : public LinkChatWindow {
public:
    void chatText(std::string_view text) override { texts.emplace_back(text); }
    void UpdateTitle(std::string_view) override {}
    std::vector<std::string> texts;
};

class ChatWindows : public LaterWindows {
public:
    LinkChatWindow* OpenChat(CMainFrame&) override { return &chat; }
    ChatRecorder chat;
};

// The peer's side of the socket: raw buckets out, the program's bytes in.
class RawPeer {
public:
    explicit RawPeer(int fd) : m_fd(fd) {}
    ~RawPeer() {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool send(WORD type, std::string_view payload) {
        std::vector<BYTE> out(payload.size() + 64);
        const DWORD n = buildBucket(out, type, reinterpret_cast<const BYTE*>(payload.data()),
                                    static_cast<DWORD>(payload.size()), kOwnProtocolNumber, 0,
                                    static_cast<DWORD>(out.size()));
        return n != 0 && nettest::writeAll(m_fd, out.data(), n);
    }
    bool token(WORD id) { return send(kTokenBucket, tokenText(id)); }
    // Reads until `text` arrives behind everything read so far; false after the guard.
    bool waitFor(std::string_view text, std::chrono::milliseconds guard = std::chrono::seconds(20)) {
        const std::size_t from = m_seen;
        const auto deadline = std::chrono::steady_clock::now() + guard;
        while (m_bytes.find(text, from) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char chunk[4096];
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0) return false;
            m_bytes.append(chunk, static_cast<std::size_t>(n));
        }
        m_seen = m_bytes.size();
        return true;
    }

private:
    int m_fd;
    std::string m_bytes;
    std::size_t m_seen = 0;
};

// Everything a file transfer or a chat can make the program tell its user.
void sendNuisance(RawPeer& peer, const char* chat) {
    peer.token(ID_DSVD_STOP_SENDING);
    peer.token(ID_DSVD_DO_NOT_SEND);
    peer.send(kChatBucket, chat);
}

long msSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

}  // namespace

// args: the program's port, the report file, the file that lets it hang up.
VELMOOR_TEST_CHILD(noisy_peer) {
    std::ofstream report(args.at(1) + ".part");
    const int fd = nettest::connectRaw(static_cast<unsigned short>(std::stoi(args.at(0))));
    if (fd < 0) return 2;
    RawPeer peer(fd);

    sendNuisance(peer, kEarlyChat);
    StationInfoBlock block{};
    block.length = kStationInfoBytes;
    fixed_text::Write(block.title, sizeof block.title, "Noisy");
    fixed_text::Write(block.versionText, sizeof block.versionText, "Noisy 1.0");
    block.protocolNumber = kOwnProtocolNumber;
    block.versionNumber = 1;
    block.capabilities = kCapNewLayout;
    const auto hello = buildHelloPayload(tokenText(ID_DSVD_HELLO_V1_2), block, true);
    auto start = std::chrono::steady_clock::now();
    if (!peer.send(kTokenBucket, std::string_view(reinterpret_cast<const char*>(hello.data()), hello.size()))) {
        return 3;
    }
    if (!peer.waitFor("<OKHello>")) return 4;
    report << "hello=" << msSince(start);

    sendNuisance(peer, kLateChat);
    start = std::chrono::steady_clock::now();
    peer.token(ID_DSVD_VIDEOOPEN);
    if (!peer.waitFor("<YourVideoSettings>")) return 5;
    report << " video=" << msSince(start) << "\n";
    report.close();
    std::filesystem::rename(args.at(1) + ".part", args.at(1));

    // The line stays up until the program has been looked at.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(args.at(2))) {
        if (std::chrono::steady_clock::now() > deadline) return 6;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    peer.token(ID_DSVD_DISCONNECT);
    return 0;
}

TEST(PeerNotices, NothingAPeerSendsOpensABoxOrIsActedOnBeforeItsHello) {
    AnsweringUi ui;
    ChatWindows windows;
    AppServices services = quietServices(&ui);
    services.windows = &windows;
    const unsigned short port = nettest::freePort();
    CKivApp app({"/NOSPLASH", "/I", "/U31", "/P=" + std::to_string(port)}, "", services);
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
    ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone() && frame->Connection()->IsListeningFor(2); }));
    const std::size_t boxesBefore = ui.messages.size();

    const auto home = platform::homeFolder();
    const std::string report = (home / "noisy-peer-report").string();
    const std::string release = (home / "noisy-peer-release").string();
    auto peer = velmoor::testing::ChildProcess::start("noisy_peer", {std::to_string(port), report, release});
    ASSERT_TRUE(pumpUntil([&] { return std::filesystem::exists(report); }, std::chrono::seconds(60)));
    pumpUntil([&] { return frame->LinkNoticesShown() >= 2 && !windows.chat.texts.empty(); });

    // No box was opened for anything the peer sent; what came after its hello
    // was told by the self-closing notice, one replacing the other.
    EXPECT_EQ(ui.messages.size(), boxesBefore);
    EXPECT_EQ(frame->LinkNoticesShown(), 2);
    // What came before the hello was never acted on.
    EXPECT_EQ(windows.chat.texts, std::vector<std::string>{kLateChat});
    // Both answers came at once; the bound is generous for a loaded machine
    // (a box in the read pass would hold them for its whole time).
    std::ifstream in(report);
    std::string hello, video;
    in >> hello >> video;
    const long helloMs = std::stol(hello.substr(hello.find('=') + 1));
    const long videoMs = std::stol(video.substr(video.find('=') + 1));
    EXPECT_LT(helloMs, 5000);
    EXPECT_LT(videoMs, 5000);

    std::ofstream(release).put('1');
    EXPECT_EQ(peer.wait(std::chrono::seconds(30)), 0);
    ASSERT_TRUE(pumpUntil([&] { return !frame->Connection()->IsConnected(); }));
    platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
    app.ExitInstance();
}
