// Fuzzes a whole link object inside the recorder program: the real main frame
// and its link host, with the peer played by the input. Bytes go through the
// link's read path (bucket decoding, the hello gate, token dispatch, file
// transfers, chat, audio, serial-out and video), and the messages the link
// posts are then handled by the frame, so notices, profiles and received files
// are fuzzed too.
//
// Input: the first byte chooses the mode. Bit 0 greets first (the peer's hello
// and <OKHello>, so what follows is acted on); bit 1 sends the rest as raw
// wire bytes. Otherwise the rest is a list of records, kind (1 byte), length
// (2 bytes, little-endian) and payload, each sent as a well-formed bucket of
// that kind, so the checks of the framing are passed and the payload reaches
// its handler.

#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/app/testing/app_test_support.h"
#include "trennick/link/bucket.h"
#include "trennick/link/common_base.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/prot_list.h"
#include "trennick/link/station_info.h"
#include "trennick/link/testing/sink_transport.h"

#include <QApplication>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace trennick;

namespace {

// A link whose transport is the fuzzer: what it writes is dropped, what the
// input holds is read through the link's own read path.
class FuzzLink : public CPacketConnection {
public:
    explicit FuzzLink(const LinkServices& services)
        : CPacketConnection(services, makeUpTransport()), m_buffer(BucketBuffLen() + 1) {}

    // Reads `bytes` as a transport's read pass does: into the receive buffer,
    // as much as fits, parsed after each fill. False when the link gave up
    // on the stream (a disconnect asked for by a transfer).
    bool read(const BYTE* bytes, std::size_t length) {
        const DWORD capacity = static_cast<DWORD>(m_buffer.size() - 1);
        while (length > 0) {
            const std::size_t room = capacity - m_fill;
            if (room == 0) {
                m_fill = 0;  // a bucket that can never be cut: dropped, as a real transport would fail
                continue;
            }
            const std::size_t take = std::min(room, length);
            std::memcpy(m_buffer.data() + m_fill, bytes, take);
            m_fill += static_cast<DWORD>(take);
            m_buffer[m_fill] = 0;
            bytes += take;
            length -= take;
            if (FilterPollBuff(std::span<BYTE>(m_buffer.data(), capacity), m_fill) < 0) {
                m_fill = 0;
                return false;
            }
        }
        return true;
    }

    void sendAsPeer(WORD kind, const BYTE* payload, DWORD length) {
        std::vector<BYTE> wire(length + 64);
        const DWORD n = buildBucket(wire, kind, payload, length, GetPeerProtocolNumber(), m_bucketNo++,
                                    BucketBuffLen());
        if (n != 0) read(wire.data(), n);
    }

    void greet() {
        StationInfoBlock peer{};
        peer.length = kStationInfoBytes;
        peer.protocolNumber = kOwnProtocolNumber;
        peer.capabilities = kCapNewLayout;
        const std::vector<BYTE> hello = buildHelloPayload(tokenText(ID_DSVD_HELLO_V1_2), peer, true);
        sendAsPeer(kTokenBucket, hello.data(), static_cast<DWORD>(hello.size()));
        const std::string_view ok = tokenText(ID_DSVD_OKHELLO);
        sendAsPeer(kTokenBucket, reinterpret_cast<const BYTE*>(ok.data()), static_cast<DWORD>(ok.size()));
    }

private:
    std::vector<BYTE> m_buffer;
    DWORD m_fill = 0;
    WORD m_bucketNo = 0;
};

FuzzLink* g_link = nullptr;

std::unique_ptr<CPacketConnection> makeFuzzLink(const LinkServices& services) {
    auto link = std::make_unique<FuzzLink>(services);
    g_link = link.get();
    return link;
}

constexpr std::array<BYTE, 9> kKinds = {kTokenBucket, kFileBlockBucket, kVideoBucket,   kChatBucket,   kVideoKeyBucket,
                                        kAudioBucket, kSerialOutBucket, kVideoBucket10, kVideoBucket11};

void handlePostedMessages() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string home = (std::filesystem::temp_directory_path() / "vlm-fuzz-XXXXXX").string();
    if (::mkdtemp(home.data()) == nullptr) std::abort();
    ::setenv("VELMOOR_HOME", home.c_str(), 1);
    // The program lives for the whole run: it is built once, as a station on
    // a call, and every input is more of what its peer says. It is never torn
    // down: its windows are still open when the fuzzer exits, and destroying
    // the application under them at exit crashes inside the GUI library.
    static auto* application = new QApplication(*argc, *argv);
    static auto* ui = new apptest::AnsweringUi;
    (void)application;
    SetModemLinkFactory(&makeFuzzLink);
    static auto* app = new CKivApp(std::vector<std::string>{"/NOSPLASH", "/M", "/U1"}, "", apptest::quietServices(ui));
    if (!app->InitInstance() || g_link == nullptr) std::abort();
    CMainFrame* frame = app->MainFrame();
    if (!apptest::pumpUntil([&] { return frame->PostCreateDone(); })) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 0x40000) return 0;
    const BYTE mode = data[0];
    ++data;
    --size;
    if (mode & 1) g_link->greet();
    if (mode & 2) {
        g_link->read(data, size);
    } else {
        while (size >= 3) {
            const WORD kind = kKinds[data[0] % kKinds.size()];
            const std::size_t length = std::min<std::size_t>(data[1] | (data[2] << 8), size - 3);
            g_link->sendAsPeer(kind, data + 3, static_cast<DWORD>(length));
            data += 3 + length;
            size -= 3 + length;
        }
    }
    handlePostedMessages();
    return 0;
}
