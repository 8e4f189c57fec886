// The stand-in site: its block-transform coder against the decoder, and the
// site program in a process of its own against an operator's link in this
// one: the login, site information, profile, video opened, paused, resumed and
// closed with decodable frames of both streams, key-frame requests, event
// list and file served, a relay request obeyed and an alarm on command.

#include "common/fixed_text.h"
#include "kcexpand/kcexpand.h"
#include "platform/process.h"
#include "platform/testing/child_process.h"
#include "tavicore/event_file.h"
#include "tavicore/users_manager.h"
#include "tools/site/block_encoder.h"
#include "tools/site/site_audio.h"
#include "trennick/audio/aud_comp.h"
#include "tools/site/site_station.h"
#include "tools/site/test_pattern.h"
#include "trennick/link/file_transfer.h"
#include "trennick/link/hw_profile_list.h"
#include "trennick/link/prot_list.h"
#include "trennick/remset/remote_set_list.h"
#include "trennick/net/testing/link_station.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

namespace {

using namespace trennick;
using velmoor::testing::ChildProcess;
using Bytes = std::vector<std::uint8_t>;

// Decodes a block-transform frame chunk by chunk, as the receiving window
// does: each chunk's length is the big-endian word in its bytes 1 and 2.
struct BlockDecoder {
    KcExpandContext* ctx = KcExpandOpen();
    BITMAPINFOHEADER format{};
    Bytes image;
    BlockDecoder(int w, int h) : image(std::size_t(w) * std::size_t(h) * 3, 0) {
        format.biSize = 40;
        format.biWidth = w;
        format.biHeight = -h;
        format.biBitCount = 24;
        const MetaItem items[] = {{KCATTR_FORMAT, 40, reinterpret_cast<std::uintptr_t>(&format)},
                                  {KCATTR_OUTPUT_MODE, 2, KCMODE_BGR24}};
        KcExpandSetAttributes(ctx, items, 2);
    }
    ~BlockDecoder() { KcExpandClose(ctx); }
    // Chunks decoded; -1 when a chunk's length runs past the frame.
    int decode(const Bytes& frame) {
        std::size_t at = 0;
        int chunks = 0;
        while (at + 3 <= frame.size()) {
            const std::size_t n = (std::size_t(frame[at + 1]) << 8) | frame[at + 2];
            if (n < 12 || at + n > frame.size()) return -1;
            KcExpandBuffer(ctx, frame.data() + at, std::uint32_t(n), image.data());
            at += n;
            ++chunks;
        }
        return at == frame.size() ? chunks : -1;
    }
};

// Mean absolute difference per channel between a decoded image and a picture.
double meanError(const Bytes& image, const site::RgbPicture& p) {
    double sum = 0;
    for (std::size_t i = 0; i < p.bgr.size(); ++i) sum += std::abs(int(image[i]) - int(p.bgr[i]));
    return sum / double(p.bgr.size());
}

TEST(BlockEncoder, FramesDecodeToThePatternAndDeltasCarryOnlyWhatMoved) {
    site::BlockEncoder encoder;
    BlockDecoder decoder(site::kBlockStreamWidth, site::kBlockStreamHeight);
    const std::time_t t = 1700000000;
    int keyBlocks = 0;
    for (unsigned n = 0; n < 6; ++n) {
        const site::RgbPicture picture = site::drawTestPattern(site::kBlockStreamWidth, site::kBlockStreamHeight, n, t);
        const Bytes frame = encoder.encode(site::toYuv420(picture), n == 0, site::kMaxVideoFrameBytes);
        ASSERT_FALSE(frame.empty()) << n;
        EXPECT_LE(frame.size(), site::kMaxVideoFrameBytes);
        EXPECT_EQ(frame[6], 30) << "height in blocks";
        const int chunks = decoder.decode(frame);
        ASSERT_GT(chunks, 0) << n;
        if (n == 0) {
            keyBlocks = encoder.lastCodedBlocks();
            EXPECT_EQ(keyBlocks, 40 * 30 + 2 * 20 * 15);
            EXPECT_GT(chunks, 1) << "a key frame spans several chunks";
        } else {
            EXPECT_GT(encoder.lastCodedBlocks(), 0);
            EXPECT_LT(encoder.lastCodedBlocks(), keyBlocks / 4) << "a delta carries the moving square only";
        }
        // Quantised blocks and the colour round trip stay close to the picture.
        EXPECT_LT(meanError(decoder.image, picture), 20.0) << n;
        const std::uint8_t* red = decoder.image.data() + (20 * 320 + 5 * 40 + 10) * 3;
        EXPECT_LT(red[0], 60);
        EXPECT_GT(red[2], 180);
    }
    // A picture of another size is refused, and nothing is taken as sent.
    site::YuvPicture small = site::toYuv420(site::drawTestPattern(176, 144, 0, t));
    EXPECT_TRUE(encoder.encode(small, true, site::kMaxVideoFrameBytes).empty());
    // A limit no frame can meet gives nothing.
    const site::RgbPicture busy = site::drawTestPattern(320, 240, 99, t);
    EXPECT_TRUE(encoder.encode(site::toYuv420(busy), true, 100).empty());
}

// ---- the site in its own process ----

std::filesystem::path home() { return std::getenv("VELMOOR_HOME"); }
std::filesystem::path siteLog() { return home() / "site.log"; }

std::atomic<bool> g_childAlarm{false};

// Runs the site: <port> <stream> [<user> <password>]; its log lines go to site.log.
VELMOOR_TEST_CHILD(site) {
    if (args.size() < 2) return 90;
    site::SiteOptions options;
    options.port = WORD(std::stoi(args[0]));
    options.stream = args[1] == "block" ? site::Stream::Block : site::Stream::H263;
    if (args.size() >= 4) {
        options.user = args[2];
        options.password = args[3];
    }
    options.eventsFolder = (home() / "site-events").string();
    std::mutex lock;
    std::ofstream log(siteLog(), std::ios::app);
    site::SiteStation station(options, [&](const std::string& line) {
        std::lock_guard guard(lock);
        log << line << std::endl;
    });
    std::signal(SIGUSR1, [](int) { g_childAlarm = true; });
    if (!station.Open()) return 91;
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < guard) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        station.Pass();
        if (g_childAlarm.exchange(false)) station.Alarm(2);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
}

int logCount(const std::string& text) {
    std::ifstream in(siteLog());
    std::string line;
    int n = 0;
    while (std::getline(in, line)) n += line.find(text) != std::string::npos;
    return n;
}

std::string siteLogText() {
    std::ifstream in(siteLog());
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool logHas(const std::string& text) {
    std::ifstream in(siteLog());
    std::string line;
    while (std::getline(in, line)) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

struct Frame {
    WORD type;
    Bytes data;
};

class FrameSink : public RemoteFrameList {
public:
    void clear() override {}
    void push(WORD bucketType, const BYTE* frame, DWORD length, bool) override {
        frames.push_back({bucketType, Bytes(frame, frame + length)});
    }
    std::vector<Frame> frames;
};

// The operator's station: a TCP link that calls the site, logs in as `user`.
class OperatorHost : public LinkHost {
public:
    UserRecord loggedInUserRecord() override {
        UserRecord r{};
        std::memcpy(r.data() + kUserNameOffset, user.data(), std::min<std::size_t>(user.size(), 89));
        std::memcpy(r.data() + kUserPasswordOffset, password.data(), std::min<std::size_t>(password.size(), 89));
        return r;
    }
    void recordRemoteSite(const SiteInfoBlock& s) override { site = s; ++sites; }
    void storeRemoteHWProfile(const tagHWProfile& p) override {
        profile = p;
        ++profiles;
    }
    std::string user = "operator", password = "secret";
    SiteInfoBlock site{};
    int sites = 0;
    tagHWProfile profile{};
    int profiles = 0;
};

class OperatorIdentity : public LinkIdentity {
public:
    std::string encrypt(std::string_view text) override { return CUsersManager::Encrypt(text); }
    bool thisSiteInfo(SiteInfoBlock& s) override {
        s = SiteInfoBlock{};
        fixed_text::Write(s.guid, sizeof s.guid, "{0PE4A70R-0000-4000-8000-000000000002}");
        return true;
    }
};

struct Operator {
    nettest::RecordingWindow window;
    OperatorHost host;
    OperatorIdentity identity;
    FrameSink sink;
    std::unique_ptr<CInetConnection> link;
    Operator() {
        LinkServices services = nettest::servicesFor(&window);
        services.host = &host;
        services.identity = &identity;
        link = std::make_unique<CInetConnection>(services, InetOptions{std::to_string(nettest::freePort()), "", nullptr});
        link->SetVideoTarget(&sink);
        const std::filesystem::path incoming = home() / "incoming";
        std::filesystem::create_directories(incoming);
        link->SetReceiveFolders(incoming.c_str(), incoming.c_str());
    }
    void pass() {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        if (link->TimeToRead() == -3) {
            EXPECT_NE(link->SendHello(), 0);
        }
        if (link->GetRemoteVideoStatus() == VIDEO_OPEN) {
            // As the remote window does: accept and take the frames.
            EXPECT_NE(link->SendAcknowledgment(ID_DSVD_OKVIDEOOPEN), 0);
            link->SetVideoStatus(1, 3);
        }
    }
    template <typename F>
    bool runUntil(F done, std::chrono::milliseconds guard = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + guard;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            pass();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    // Asks the site for a camera (0-based) or, with `page`, its quad input.
    void selectInput(int input, bool page = false) {
        const std::string request = "< 1>< 0><" + std::string(page ? "PAGE" : " ") + std::to_string(input) + ">";
        (void)link->SendLumoraRPC(request.c_str(), WORD(request.size()));  // what reaches the site is checked below
    }
    bool call(WORD port) {
        if (!link->ConnectToLan()) return false;
        const std::string address = "127.0.0.1:" + std::to_string(port);
        link->ConnectToRemote(address.c_str(), "site");
        return runUntil([&] { return link->IsConnected() != FALSE; });
    }
    // The port a freshly started site took (it binds port 0 and says which
    // port it got); 0 when it never said.
    static WORD waitForSite() {
        const std::string said = "listening on port ";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            std::ifstream in(siteLog());
            std::string line;
            while (std::getline(in, line)) {
                const std::size_t at = line.find(said);
                if (at != std::string::npos) return WORD(std::stoi(line.substr(at + said.size())));
            }
            if (std::chrono::steady_clock::now() > deadline) return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
};

// Joins H.263 pieces into pictures at each picture start and decodes them.
class H263Decoder {
public:
    H263Decoder() {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H263);
        m_context = avcodec_alloc_context3(codec);
        avcodec_open2(m_context, codec, nullptr);
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
    }
    ~H263Decoder() {
        av_packet_free(&m_packet);
        av_frame_free(&m_frame);
        avcodec_free_context(&m_context);
    }
    // Pictures decoded so far.
    int add(const Bytes& piece) {
        const bool start = piece.size() > 3 && piece[0] == 0 && piece[1] == 0 && (piece[2] & 0xFC) == 0x80;
        if (start && !m_pending.empty()) decodePending();
        m_pending.insert(m_pending.end(), piece.begin(), piece.end());
        return decoded;
    }
    int decoded = 0;
    int width = 0;
    int lumaAt(int x, int y) const { return m_luma[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }

private:
    void decodePending() {
        av_new_packet(m_packet, int(m_pending.size()));
        std::memcpy(m_packet->data, m_pending.data(), m_pending.size());
        m_pending.clear();
        if (avcodec_send_packet(m_context, m_packet) == 0 && avcodec_receive_frame(m_context, m_frame) == 0) {
            ++decoded;
            width = m_frame->width;
            m_luma.resize(std::size_t(m_frame->width) * std::size_t(m_frame->height));
            for (int y = 0; y < m_frame->height; ++y) {
                std::memcpy(m_luma.data() + std::size_t(y) * std::size_t(width),
                            m_frame->data[0] + y * m_frame->linesize[0], std::size_t(width));
            }
        }
        av_packet_unref(m_packet);
    }
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    Bytes m_pending;
    std::vector<std::uint8_t> m_luma;
};

TEST(StandInSite, H263VideoOpensPausesResumesAndCloses) {
    auto child = ChildProcess::start("site", {"0", "h263"});
    const WORD port = Operator::waitForSite();
    ASSERT_NE(port, 0);
    Operator op;
    ASSERT_TRUE(op.call(port));
    EXPECT_EQ(op.link->GetProtocolVersion(), 2);

    // Site information and the hardware profile arrive.
    ASSERT_TRUE(op.runUntil([&] { return op.host.sites > 0 && op.host.profiles > 0; }));
    EXPECT_STREQ(op.host.site.siteName, "Stand-in site");
    EXPECT_EQ(op.host.profile.adaptersNumber, 1);
    EXPECT_EQ(op.host.profile.adapters[0].camerasNumber, 4);
    EXPECT_STREQ(op.host.profile.adapters[0].cameras[1].name, "Camera 2");

    // Video opens; pictures arrive and decode, the first one whole.
    H263Decoder decoder;
    std::size_t seen = 0;
    auto drain = [&] {
        for (; seen < op.sink.frames.size(); ++seen) decoder.add(op.sink.frames[seen].data);
        return decoder.decoded;
    };
    ASSERT_TRUE(op.runUntil([&] { return drain() >= 5; }));
    EXPECT_EQ(op.sink.frames[0].type & 0xFF, kVideoKeyBucket);
    EXPECT_EQ(decoder.width, 352);
    EXPECT_NEAR(decoder.lumaAt(10, 20), 219, 25) << "the white bar";
    EXPECT_NEAR(decoder.lumaAt(351 - 10, 20), 16, 25) << "the black bar";
    EXPECT_TRUE(logHas("video accepted: 352x288, H.263"));

    // QCIF, then a key-frame request: the next picture is whole.
    EXPECT_NE(op.link->SendAcknowledgment(ID_DSVD_QCIF), 0);
    ASSERT_TRUE(op.runUntil([&] { return drain() > 0 && decoder.width == 176; }));
    const std::size_t before = op.sink.frames.size();
    EXPECT_NE(op.link->SendAcknowledgment(ID_DSVD_ERRORKVFRAME), 0);
    ASSERT_TRUE(op.runUntil([&] {
        for (std::size_t i = before; i < op.sink.frames.size(); ++i) {
            if ((op.sink.frames[i].type & 0xFF) == kVideoKeyBucket) return true;
        }
        return false;
    }));

    // Pause: once the site has answered a later request, no frame follows.
    op.link->SetVideoStatus(1, 6);
    EventListRequest request;
    request.eventType = EVENT_TYPE_AUTOMATIC;
    EXPECT_NE(op.link->SendEventDirListCameraRequest(request), 0);
    ASSERT_TRUE(op.runUntil([&] { return op.window.count(kMsgTokenRefused, ID_DSVD_NOEVENTSREC) == 1; }));
    const std::size_t paused = op.sink.frames.size();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    for (int answers = 2; std::chrono::steady_clock::now() < until; ++answers) {
        EXPECT_NE(op.link->SendEventDirListCameraRequest(request), 0);
        ASSERT_TRUE(op.runUntil([&] { return op.window.count(kMsgTokenRefused, ID_DSVD_NOEVENTSREC) == answers; }));
    }
    EXPECT_EQ(op.sink.frames.size(), paused) << "frames came while paused";
    EXPECT_TRUE(logHas("video paused"));

    // Resume: frames again, beginning with a whole picture.
    op.link->SetVideoStatus(1, 7);
    ASSERT_TRUE(op.runUntil([&] { return op.sink.frames.size() > paused + 2; }));
    EXPECT_EQ(op.sink.frames[paused].type & 0xFF, kVideoKeyBucket);

    // Close: the site stops and says so.
    op.link->SetVideoStatus(1, VIDEO_CLOSED);
    ASSERT_TRUE(op.runUntil([&] { return op.link->GetRemoteVideoStatus() == VIDEO_CLOSED || logHas("video closed"); }));
    ASSERT_TRUE(op.runUntil([&] { return logHas("video closed"); }));
    child.kill();
}

TEST(StandInSite, BlockStreamOverTheFirstProtocolDecodes) {
    auto child = ChildProcess::start("site", {"0", "block"});
    const WORD port = Operator::waitForSite();
    ASSERT_NE(port, 0);
    Operator op;
    ASSERT_TRUE(op.call(port));
    EXPECT_EQ(op.link->GetProtocolVersion(), 1);
    // The hello says what the site is.
    const auto hello = op.link->GetRemoteInfo();
    ASSERT_TRUE(hello.has_value());
    EXPECT_STREQ(hello->title, "Velmoor stand-in site");
    EXPECT_STREQ(hello->versionText, "Velmoor stand-in site Version 1.0");
    ASSERT_TRUE(op.runUntil([&] { return op.sink.frames.size() >= 5; }));
    // The first frame is the key frame; the link marks its byte 6 for the
    // receiver, which restores it before decoding.
    ASSERT_EQ(op.sink.frames[0].type & 0xFF, kVideoKeyBucket);
    EXPECT_EQ(op.sink.frames[0].data[6], 0x1F);
    op.sink.frames[0].data[6] = 0x1E;
    BlockDecoder decoder(site::kBlockStreamWidth, site::kBlockStreamHeight);
    for (int i = 0; i < 5; ++i) ASSERT_GT(decoder.decode(op.sink.frames[std::size_t(i)].data), 0) << i;
    const std::uint8_t* white = decoder.image.data() + (20 * 320 + 10) * 3;
    EXPECT_NEAR(white[0], 235, 20);
    EXPECT_NEAR(white[2], 235, 20);
    const std::uint8_t* red = decoder.image.data() + (20 * 320 + 5 * 40 + 10) * 3;  // bar 5: red
    EXPECT_LT(red[0], 60);
    EXPECT_GT(red[2], 180);
    child.kill();
}

TEST(StandInSite, RelayAndInputRequestsAlarmEventListAndEventFile) {
    auto child = ChildProcess::start("site", {"0", "h263"});
    const WORD port = Operator::waitForSite();
    ASSERT_NE(port, 0);
    Operator op;
    ASSERT_TRUE(op.call(port));

    const std::string relay = "< 2>< 0>< 1>< 1>";
    EXPECT_NE(op.link->SendLumoraRPC(relay.c_str(), WORD(relay.size())), 0);
    const std::string input = "< 1>< 0>< 3>";
    EXPECT_NE(op.link->SendLumoraRPC(input.c_str(), WORD(input.size())), 0);
    ASSERT_TRUE(op.runUntil([&] { return logHas("relay 1 set to 1") && logHas("camera 3 selected"); }));
    // Frames now come from camera 3 (the camera in the bucket's high byte).
    ASSERT_TRUE(op.runUntil([&] { return !op.sink.frames.empty() && (op.sink.frames.back().type >> 8) == 3; }));

    // An alarm on command: the trigger, then the event file it recorded.
    ASSERT_EQ(::kill(child.pid(), SIGUSR1), 0);
    ASSERT_TRUE(op.runUntil([&] { return op.window.count(kMsgTrigger, 0) == 1; }));
    ASSERT_TRUE(op.runUntil([&] { return op.window.count(kMsgFileReceivedKind1, 0) >= 1; }));
    std::string received;
    ASSERT_TRUE(op.link->GetReceivedFileName(received));
    {
        CEventFile event(9, nullptr, received.data(), "");
        tagEventHeader header{};
        event.GetEventHeader(&header);
        EXPECT_EQ(+header.wCamera, 2);
        EXPECT_EQ(+header.dwType, EVENT_TYPE_AUTOMATIC);
        EXPECT_EQ(+header.dwWidth, 176u);
        tagEventSnapshot snapshot{};
        EXPECT_EQ(event.ReadSnapShotHeader(&snapshot), 1);
    }

    // The event list of that camera names the event; the event file comes on request.
    EventListRequest request;
    request.eventType = EVENT_TYPE_AUTOMATIC;
    request.selectedInput = 2;
    EXPECT_NE(op.link->SendEventDirListCameraRequest(request), 0);
    ASSERT_TRUE(op.runUntil([&] { return op.window.count(kMsgFileReceivedKind2, 0) == 1; }));
    EXPECT_TRUE(logHas("event list asked for kind 1, camera 3: 1 events"));

    // The event file itself, asked for by its header as the operator has it.
    tagEventHeader wanted{};
    {
        CEventFile event(9, nullptr, received.data(), "");
        event.GetEventHeader(&wanted);
    }
    EXPECT_NE(op.link->SendEventRequest(&wanted), 0);
    ASSERT_TRUE(op.runUntil([&] { return op.window.count(kMsgFileReceivedKind1, 0) >= 2; })) << siteLogText();
    // One that the site does not have is answered "not found".
    tagEventHeader missing = wanted;
    missing.dwEventNumber = 77;
    missing.wCamera = 1;
    EXPECT_NE(op.link->SendEventRequest(&missing), 0);
    ASSERT_TRUE(op.runUntil([&] { return op.window.count(kMsgTokenRefused, ID_DSVD_EVTNOTFOUND) == 1; }));
    child.kill();
}

TEST(StandInSite, AFreshCallAfterAHangUpGetsVideoAgain) {
    auto child = ChildProcess::start("site", {"0", "block"});
    const WORD port = Operator::waitForSite();
    ASSERT_NE(port, 0);
    for (int call = 1; call <= 2; ++call) {
        SCOPED_TRACE(call);
        Operator op;
        ASSERT_TRUE(op.call(port));
        ASSERT_TRUE(op.runUntil([&] { return op.sink.frames.size() >= 3; }));
        EXPECT_EQ(op.sink.frames[0].type & 0xFF, kVideoKeyBucket) << "each opening starts with a key frame";
        EXPECT_NE(op.link->SendDisconnect(), 0);
        ASSERT_TRUE(op.runUntil([&] { return logCount("call ended") == call; }));
    }
    child.kill();
}

TEST(StandInSite, TheLoginIsChecked) {
    struct Case {
        const char* user;
        const char* password;
        const char* siteUser;
        const char* sitePassword;
        const char* logLine;
        LPARAM refusal;  // -1: accepted
    };
    const Case cases[] = {
        {"operator", "wrong", "operator", "right", "login refused: wrong password", kWrongPasswordStringId},
        {"intruder", "right", "operator", "right", "login refused: unknown user", 0},
        {"operat", "right", "operator", "right", "login refused: unknown user", 0},
        {"operator", "right", "operator", "right", "operator logged in", -1},
        {"operator", "", "operator", "", "operator logged in", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user) + "/" + c.password);
        std::filesystem::remove(siteLog());
        auto child = ChildProcess::start("site", {"0", "h263", c.siteUser, c.sitePassword});
        const WORD port = Operator::waitForSite();
        ASSERT_NE(port, 0);
        Operator op;
        op.host.user = c.user;
        op.host.password = c.password;
        ASSERT_TRUE(op.call(port));
        ASSERT_TRUE(op.runUntil([&] { return logHas(c.logLine); }));
        if (c.refusal >= 0) {
            ASSERT_TRUE(op.runUntil([&] { return op.link->GetFailedLogins() == 1; }));
            EXPECT_EQ(op.window.count(kMsgLoginRefused, 0), 1);
            EXPECT_TRUE(op.sink.frames.empty());
        } else {
            ASSERT_TRUE(op.runUntil([&] { return !op.sink.frames.empty(); }));
            EXPECT_EQ(op.link->GetFailedLogins(), 0u);
        }
        child.kill();
    }
}

}  // namespace

namespace {

Bytes fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}


// ---- the site's audio ----

TEST(SiteAudio, EachFrameCarriesThirtyMillisecondsOfTheCodedTone) {
    site::SiteAudio audio;
    ASSERT_TRUE(audio.Open());
    SX5363_HANDLE decoder = nullptr;
    ASSERT_EQ(SX5363_Open(&decoder), SX5363_OK);
    ASSERT_EQ(SX5363_InitDecod(decoder), SX5363_OK);
    std::vector<std::int16_t> speech;
    for (DWORD n = 0; n < 50; ++n) {
        const Bytes frame = audio.NextFrame(1000 + 30 * n);
        // The link's audio frame: the header, one 6.3 kbit/s frame, the closing zero.
        ASSERT_EQ(frame.size(), sizeof(trennick::AudioFrameHeader) + kSx5363FrameBytes + 1);
        trennick::AudioFrameHeader header{};
        std::memcpy(&header, frame.data(), sizeof header);
        const WORD length = header.length;
        const DWORD tick = header.tickMs;
        EXPECT_EQ(length, kSx5363FrameBytes);
        EXPECT_EQ(tick, 1000 + 30 * n);
        EXPECT_EQ(frame.back(), 0);
        const BYTE* coded = frame.data() + sizeof header;
        EXPECT_EQ(Sx5363FrameSize(coded[0]), kSx5363FrameBytes);
        BYTE pcm[kSx5363DecodeBytes] = {};
        DWORD used = 0;
        ASSERT_EQ(SX5363_SpeechDecode(decoder, kSx5363Mode, coded, pcm, &used), SX5363_OK);
        for (DWORD i = 0; i < kSx5363PcmBytes / 2; ++i) {
            std::int16_t s = 0;
            std::memcpy(&s, pcm + 2 * i, 2);
            speech.push_back(s);
        }
    }
    SX5363_Close(&decoder);
    // After the coder settles (the first 10 frames), the sound is a 440 Hz
    // tone: 880 sign changes a second, give or take what the coder blurs.
    const std::size_t from = 10 * kSx5363PcmBytes / 2;
    int changes = 0;
    double energy = 0;
    for (std::size_t i = from + 1; i < speech.size(); ++i) {
        changes += (speech[i - 1] < 0) != (speech[i] < 0);
        energy += double(speech[i]) * speech[i];
    }
    const double seconds = double(speech.size() - from) / 8000.0;
    EXPECT_NEAR(changes / seconds, 880.0, 80.0);
    EXPECT_GT(energy / double(speech.size() - from), 1000.0 * 1000.0);  // loud, not silence
    // What the operator sends is only counted.
    const BYTE talk[34] = {};
    audio.ProcessRemoteAudio(talk, sizeof talk);
    EXPECT_EQ(audio.BytesReceived(), sizeof talk);
}

}  // namespace

TEST(StandInSite, KeepsAnUploadedSettingsListAndReturnsItOnDownload) {
    auto child = ChildProcess::start("site", {"0", "h263"});
    const WORD port = Operator::waitForSite();
    ASSERT_NE(port, 0);
    Operator op;
    ASSERT_TRUE(op.call(port));

    // Before any upload the site answers with a list of its own name and shape.
    ASSERT_NE(op.link->SendGetSettings(), 0);
    ASSERT_TRUE(op.runUntil([&] { return op.window.count(kMsgFileReceivedKind3, 0) == 1; })) << siteLogText();
    std::string received;
    ASSERT_TRUE(op.link->GetReceivedFileName(received));
    Bytes first = fileBytes(received);
    RemoteSetListHost plain;
    auto settings = std::make_unique<tagRemSettings>();
    ASSERT_TRUE(CRemoteSetList(plain).DispatchList(first.data(), DWORD(first.size()), *settings));
    EXPECT_STREQ(settings->SiteInfo.szSiteName, "Stand-in site");

    // An upload is kept and confirmed; the next download returns it byte for byte.
    std::strcpy(settings->Adapter[0].szName, "Uploaded card");
    settings->Scheduler.SchedTask[3] = {7, 1, 2, 3, 4, CONFIG_STATUS_ACTIVE};
    tagHWProfile shape{};
    shape.adaptersNumber = 1;
    shape.adapters[0].camerasNumber = 4;
    shape.adapters[0].relaysNumber = 4;
    CRemoteSetList list(plain);
    Bytes upload(list.GetListSize(shape, *settings));
    upload.resize(list.CreateList(shape, *settings, upload.data(), DWORD(upload.size())));
    const std::string path = (home() / "upload.bin").string();
    ASSERT_EQ(CRemoteSetList::CreateSetFile(upload.data(), DWORD(upload.size()), path), 1);
    // A reader of the kept list while the upload lands reads the old list
    // whole: the new one is written beside it and renamed over it.
    std::ifstream reader(home() / "site-settings" / "SetList.Bin", std::ios::binary);
    ASSERT_TRUE(reader.is_open());
    ASSERT_EQ(op.link->SetSendStatus(1, kFileKindRemoteSettings, path.c_str()), 1);
    ASSERT_TRUE(op.runUntil([&] {
        op.link->ProcessSending();
        return op.window.count(kMsgFinishUpgrade, 0) == 1;
    })) << siteLogText();
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(reader), std::istreambuf_iterator<char>()), first);
    ASSERT_EQ(op.link->SetSendStatus(-1, 0, nullptr), 1);
    ASSERT_NE(op.link->SendGetSettings(), 0);
    ASSERT_TRUE(op.runUntil([&] { return op.window.count(kMsgFileReceivedKind3, 0) == 2; })) << siteLogText();
    ASSERT_TRUE(op.link->GetReceivedFileName(received));
    EXPECT_EQ(fileBytes(received), upload);

    // A damaged list is answered with an error report, and the kept list stays.
    Bytes damaged = upload;
    damaged[0] = 0;
    damaged[1] = 0;
    ASSERT_EQ(CRemoteSetList::CreateSetFile(damaged.data(), DWORD(damaged.size()), path), 1);
    ASSERT_EQ(op.link->SetSendStatus(1, kFileKindRemoteSettings, path.c_str()), 1);
    ASSERT_TRUE(op.runUntil([&] {
        op.link->ProcessSending();
        return op.window.count(kMsgSettingsError, 8) == 1;
    })) << siteLogText();
    EXPECT_EQ(op.window.count(kMsgFinishUpgrade, 0), 1);
    EXPECT_EQ(fileBytes((home() / "site-settings" / "SetList.Bin").string()), upload);
    child.kill();
}

namespace {

// An H.263 picture's start: its picture start code and whether it is intra.
bool isPictureStart(const Bytes& piece) {
    return piece.size() > 4 && piece[0] == 0 && piece[1] == 0 && (piece[2] & 0xFC) == 0x80;
}
bool isIntraPicture(const Bytes& piece) { return isPictureStart(piece) && (piece[4] & 0x02) == 0; }

}  // namespace

// Each camera shows a picture of its own (its bars begin with a colour of
// its own) and the quad input shows cameras 1 to 4 in the quarters of one
// picture, so choosing a camera visibly reaches the site.
TEST(StandInSite, EachCameraAndTheQuadInputShowTheirOwnPicture) {
    auto child = ChildProcess::start("site", {"0", "h263"});
    const WORD port = Operator::waitForSite();
    ASSERT_NE(port, 0);
    Operator op;
    ASSERT_TRUE(op.call(port));
    ASSERT_TRUE(op.runUntil([&] { return op.host.profiles > 0; }));
    EXPECT_EQ(readDeviceData(op.host.profile.adapters[0]).quadInputCount, 1) << "the quad input is offered";
    H263Decoder decoder;
    std::size_t seen = 0;
    // Decodes what came; true once a picture from `camera` (the bucket's
    // high byte) decoded after the request, its luma near `luma` at each point.
    auto shows = [&](int camera, std::vector<std::pair<int, int>> points, std::vector<int> luma) {
        const int before = decoder.decoded;
        bool fromCamera = false;
        return op.runUntil([&] {
            for (; seen < op.sink.frames.size(); ++seen) {
                fromCamera = (op.sink.frames[seen].type >> 8) == camera;
                decoder.add(op.sink.frames[seen].data);
            }
            if (!fromCamera || decoder.decoded <= before + 1 || decoder.width != 352) return false;
            for (std::size_t i = 0; i < points.size(); ++i) {
                if (std::abs(decoder.lumaAt(points[i].first, points[i].second) - luma[i]) > 25) return false;
            }
            return true;
        });
    };
    // Camera 1: white first; camera 2: cyan first (luma 219 and 162).
    ASSERT_TRUE(shows(0, {{10, 20}}, {219})) << decoder.lumaAt(10, 20);
    op.selectInput(1);
    ASSERT_TRUE(shows(1, {{10, 20}}, {162})) << "camera 2's own picture; luma " << decoder.lumaAt(10, 20);
    // The quad: cameras 1 and 2 above, 3 (magenta first) and 4 (blue first) below.
    op.selectInput(1, true);
    ASSERT_TRUE(shows(1, {{10, 20}, {186, 20}, {10, 164}, {186, 164}}, {219, 162, 108, 51}))
        << decoder.lumaAt(10, 20) << " " << decoder.lumaAt(186, 20) << " " << decoder.lumaAt(10, 164) << " "
        << decoder.lumaAt(186, 164);
    EXPECT_TRUE(logHas("quad input selected"));
    op.selectInput(3);
    ASSERT_TRUE(shows(3, {{10, 20}}, {51}));
    child.kill();
}

// The encoder makes an intra picture on its own every ten seconds: the site
// sends it as a key frame (type 6), as it does the pictures asked for, and
// sends no other picture as one.
TEST(StandInSite, EveryIntraPictureGoesAsAKeyFrame) {
    auto child = ChildProcess::start("site", {"0", "h263"});
    const WORD port = Operator::waitForSite();
    ASSERT_NE(port, 0);
    Operator op;
    ASSERT_TRUE(op.call(port));
    int intra = 0;
    std::size_t seen = 0;
    ASSERT_TRUE(op.runUntil(
        [&] {
            for (; seen < op.sink.frames.size(); ++seen) {
                const Frame& f = op.sink.frames[seen];
                const bool key = (f.type & 0xFF) == kVideoKeyBucket;
                EXPECT_EQ(key, isIntraPicture(f.data)) << "frame " << seen;
                intra += isIntraPicture(f.data);
            }
            return intra >= 2;
        },
        std::chrono::seconds(40)))
        << "intra pictures: " << intra << " of " << op.sink.frames.size();
    child.kill();
}

// A caller whose login the site refused gets the refusal and nothing else:
// its relay, camera, event-list, snapshot and settings requests and its
// uploaded settings list are discarded, the line is dropped, and the next
// operator's call finds nothing of it.
TEST(StandInSite, ARefusedCallerGetsOnlyTheRefusalAndLeavesNothing) {
    auto child = ChildProcess::start("site", {"0", "h263", "operator", "right"});
    const WORD port = Operator::waitForSite();
    ASSERT_NE(port, 0);
    RemoteSetListHost plain;
    auto settings = std::make_unique<tagRemSettings>();
    std::strcpy(settings->Adapter[0].szName, "Intruder's card");
    tagHWProfile shape{};
    shape.adaptersNumber = 1;
    shape.adapters[0].camerasNumber = 4;
    CRemoteSetList list(plain);
    Bytes upload(list.GetListSize(shape, *settings));
    upload.resize(list.CreateList(shape, *settings, upload.data(), DWORD(upload.size())));
    const std::string path = (home() / "intruder.bin").string();
    ASSERT_EQ(CRemoteSetList::CreateSetFile(upload.data(), DWORD(upload.size()), path), 1);
    {
        Operator intruder;
        intruder.host.password = "wrong";
        ASSERT_TRUE(intruder.call(port));
        const std::string relay = "< 2>< 0>< 1>< 1>";
        (void)intruder.link->SendLumoraRPC(relay.c_str(), WORD(relay.size()));  // what reaches the site is checked below
        intruder.selectInput(2);
        EventListRequest request;
        request.eventType = EVENT_TYPE_AUTOMATIC;
        (void)intruder.link->SendEventDirListCameraRequest(request);  // what reaches the site is checked below
        intruder.link->SendGetSnapshot(0, 0, 0);
        (void)intruder.link->SendGetSettings();  // what reaches the site is checked below
        ASSERT_EQ(intruder.link->SetSendStatus(1, kFileKindRemoteSettings, path.c_str()), 1);
        ASSERT_TRUE(intruder.runUntil([&] {
            intruder.link->ProcessSending();
            return intruder.window.count(kMsgLoginRefused, 0) == 1 && !intruder.link->IsLinkUp();
        })) << siteLogText();
        EXPECT_EQ(intruder.host.sites, 0);
        EXPECT_EQ(intruder.host.profiles, 0);
        EXPECT_TRUE(intruder.sink.frames.empty());
        for (UINT kind : {kMsgFileReceivedKind1, kMsgFileReceivedKind2, kMsgFileReceivedKind3}) {
            EXPECT_EQ(intruder.window.count(kind, 0), 0);
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!logHas("call ended") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(logHas("call ended")) << siteLogText();

    // The operator's call: none of the intruder's requests is served in it.
    Operator op;
    op.host.password = "right";
    ASSERT_TRUE(op.call(port));
    ASSERT_TRUE(op.runUntil([&] { return op.sink.frames.size() >= 3; }));
    ASSERT_NE(op.link->SendGetSettings(), 0);
    ASSERT_TRUE(op.runUntil([&] { return op.window.count(kMsgFileReceivedKind3, 0) == 1; })) << siteLogText();
    std::string received;
    ASSERT_TRUE(op.link->GetReceivedFileName(received));
    Bytes kept = fileBytes(received);
    auto back = std::make_unique<tagRemSettings>();
    ASSERT_TRUE(CRemoteSetList(plain).DispatchList(kept.data(), DWORD(kept.size()), *back));
    EXPECT_STRNE(back->Adapter[0].szName, "Intruder's card");
    EXPECT_EQ(op.window.count(kMsgFileReceivedKind1, 0), 0) << "no snapshot of the intruder's";
    EXPECT_EQ(op.window.count(kMsgFileReceivedKind2, 0), 0) << "no event list of the intruder's";
    const std::string log = siteLogText();
    for (const char* served : {"relay 1 set", "camera 2 selected", "event list asked", "snapshot", "bytes taken"}) {
        EXPECT_EQ(log.find(served), std::string::npos) << served << "\n" << log;
    }
    EXPECT_EQ(logCount("settings list asked for"), 1) << "the operator's own request only";
    child.kill();
}

// Each refused login makes the next login from the same address wait longer
// before it is checked; the site says so, and an accepted login clears it.
TEST(StandInSite, RefusedLoginsMakeTheNextLoginFromTheAddressWaitLonger) {
    auto child = ChildProcess::start("site", {"0", "h263", "operator", "right"});
    const WORD port = Operator::waitForSite();
    ASSERT_NE(port, 0);
    std::vector<long> held;
    for (int attempt = 1; attempt <= 4; ++attempt) {
        SCOPED_TRACE(attempt);
        Operator op;
        op.host.password = attempt < 4 ? "guess" + std::to_string(attempt) : "right";
        // The site listens again once the last call ended.
        ASSERT_TRUE(op.runUntil([&] { return logCount("listening on port") == attempt; })) << siteLogText();
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(op.call(port));
        if (attempt < 4) {
            ASSERT_TRUE(op.runUntil([&] { return op.window.count(kMsgLoginRefused, 0) == 1; })) << siteLogText();
        } else {
            ASSERT_TRUE(op.runUntil([&] { return !op.sink.frames.empty(); })) << siteLogText();
        }
        const long waited = long(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start).count());
        const long hold = attempt == 1 ? 0 : 500L << (attempt - 2);
        EXPECT_GE(waited, hold) << "the answer came before the hold ran out";
        if (hold > 0) {
            EXPECT_EQ(logCount("login from 127.0.0.1 held " + std::to_string(hold) + " ms after " +
                               std::to_string(attempt - 1) + " refused login(s)"), 1) << siteLogText();
        }
        (void)op.link->SendDisconnect();  // what reaches the site is checked below
        ASSERT_TRUE(op.runUntil([&] { return logCount("call ended") == attempt; })) << siteLogText();
    }
    EXPECT_EQ(logCount("login refused"), 3);
    EXPECT_EQ(logCount("operator logged in"), 1);
    // Accepted: the next call is checked at once again.
    Operator again;
    again.host.password = "right";
    ASSERT_TRUE(again.call(port));
    ASSERT_TRUE(again.runUntil([&] { return logCount("operator logged in") == 2; }));
    EXPECT_EQ(logCount(" held "), 3);
    child.kill();
}

// Ended by SIGTERM during a call, the site program tells the operator with
// "<Disconnect>" before it goes.
TEST(StandInSite, TheSiteProgramHangsUpWhenTerminated) {
    const auto program = platform::findProgram("velmoor-site");
    ASSERT_TRUE(program.has_value());
    platform::Process site = platform::Process::start(
        "sh", {"-c", "exec \"$0\" --port 0 --no-video >\"$1\" 2>&1", program->string(), siteLog().string()});
    ASSERT_TRUE(site.valid());
    const WORD port = Operator::waitForSite();
    ASSERT_NE(port, 0);
    Operator op;
    ASSERT_TRUE(op.call(port));
    ASSERT_TRUE(op.runUntil([&] { return logHas("operator logged in"); }));
    ASSERT_TRUE(site.kill(SIGTERM));
    ASSERT_TRUE(op.runUntil([&] { return op.window.count(kMsgTokenDone, ID_DSVD_DISCONNECT) == 1; }))
        << siteLogText();
    EXPECT_NE(site.wait(20000).kind, platform::ProcessExit::Kind::Running);
    EXPECT_TRUE(logHas("call ended: the site closed"));
}
