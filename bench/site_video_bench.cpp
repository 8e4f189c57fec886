// Live video from the stand-in site's encoders to a painted picture on
// loopback: per frame, the test pattern is drawn and coded (the block coder,
// or H.263 through the video encoder component), sent as video buckets by one
// TCP link, received by another, decoded and painted into a 24-bit picture
// (the block-transform decoder, or libavcodec for H.263), one frame at a time.
// Counters: "fps" end to end, "latency_ms" from the start of coding to the
// painted picture, and the baseline in the same run, the same coding and
// decoding with no link between them: "baseline_fps", "baseline_latency_ms",
// and "link_ms" (the latency the link adds).

#include "bench/bench_support.h"
#include "kcexpand/kcexpand.h"
#include "platform/com/com.h"
#include "platform/com/com_ptr.h"
#include "tools/site/block_encoder.h"
#include "tools/site/site_station.h"
#include "tools/site/test_pattern.h"
#include "trennick/link/bucket.h"
#include "trennick/net/inet_connection.h"
#include "trennick/net/testing/net_test_util.h"
#include "zoenc/zoenc_lib.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include <QCoreApplication>

#include <cstdio>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace trennick;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<BYTE>;

constexpr int kFramesPerIteration = 60;

void prepareProcess() {
    static const bool done = [] {
        bench::temporaryHome();
        if (QCoreApplication::instance() == nullptr) {
            static int argc = 1;
            static char name[] = "velmoor_bench";
            static char* argv[] = {name, nullptr};
            new QCoreApplication(argc, argv);
        }
        CoInitialize(nullptr);
        platform::com::ensureServersRegistered();
        return true;
    }();
    (void)done;
}

// The site's coder of one stream: a picture in, the frame the site sends out.
class SiteCoder {
public:
    SiteCoder(bool h263, int width, int height) : m_h263(h263), m_width(width), m_height(height), m_block(width, height) {
        if (!h263) return;
        if (CoCreateInstance(CLSID_ZoVideoEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_IZoEncoder, m_encoder.putVoid()) !=
                S_OK ||
            m_encoder->Open() != S_OK || m_encoder->SetAttribute(ZOENC_ATTR_FORMAT, width, height, 30) != S_OK) {
            m_encoder.reset();
        }
    }
    bool ready() const { return !m_h263 || m_encoder; }
    Bytes code(unsigned n) {
        const site::RgbPicture picture = site::drawTestPattern(m_width, m_height, n, std::time(nullptr));
        if (!m_h263) return m_block.encode(site::toYuv420(picture), n == 0, site::kMaxVideoFrameBytes);
        Bytes image(40 + picture.bgr.size());
        BITMAPINFOHEADER header{};
        header.biSize = 40;
        header.biWidth = m_width;
        header.biHeight = -m_height;
        header.biPlanes = 1;
        header.biBitCount = 24;
        std::memcpy(image.data(), &header, 40);
        std::memcpy(image.data() + 40, picture.bgr.data(), picture.bgr.size());
        if (m_encoder->AddImage(image.data(), ULONG(image.size())) != S_OK) return {};
        Bytes out(kZoEncOutputBytes);
        ULONG length = 0;
        if (m_encoder->GetData(out.data(), ULONG(out.size()), &length) != S_OK || length <= 40) return {};
        return Bytes(out.begin() + 40, out.begin() + length);
    }

private:
    bool m_h263;
    int m_width, m_height;
    site::BlockEncoder m_block;
    platform::com::ComPtr<IZoEncoder> m_encoder;
};

// The operator's decoding and painting into a 24-bit picture.
class Painter {
public:
    Painter(bool h263, int width, int height) : m_h263(h263), m_width(width), m_height(height), m_image(std::size_t(width) * std::size_t(height) * 3) {
        if (h263) {
            const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H263);
            m_context = avcodec_alloc_context3(codec);
            avcodec_open2(m_context, codec, nullptr);
            m_frame = av_frame_alloc();
            m_packet = av_packet_alloc();
            return;
        }
        m_kc = KcExpandOpen();
        m_format.biSize = 40;
        m_format.biWidth = width;
        m_format.biHeight = -height;
        m_format.biBitCount = 24;
        const MetaItem items[] = {{KCATTR_FORMAT, 40, reinterpret_cast<std::uintptr_t>(&m_format)},
                                  {KCATTR_OUTPUT_MODE, 2, KCMODE_BGR24}};
        KcExpandSetAttributes(m_kc, items, 2);
    }
    ~Painter() {
        if (m_kc != nullptr) KcExpandClose(m_kc);
        if (m_scale != nullptr) sws_freeContext(m_scale);
        av_packet_free(&m_packet);
        av_frame_free(&m_frame);
        avcodec_free_context(&m_context);
    }
    // True when a picture was painted.
    bool paint(const Bytes& frame) {
        if (!m_h263) {
            bool painted = false;
            for (std::size_t at = 0; at + 3 <= frame.size();) {
                const std::size_t n = (std::size_t(frame[at + 1]) << 8) | frame[at + 2];
                if (n < 12 || at + n > frame.size()) break;
                painted |= (KcExpandBuffer(m_kc, frame.data() + at, std::uint32_t(n), m_image.data()) & kKcNotPainted) == 0;
                at += n;
            }
            return painted;
        }
        av_new_packet(m_packet, int(frame.size()));
        std::memcpy(m_packet->data, frame.data(), frame.size());
        const bool sent = avcodec_send_packet(m_context, m_packet) == 0;
        av_packet_unref(m_packet);
        if (!sent || avcodec_receive_frame(m_context, m_frame) != 0) return false;
        m_scale = sws_getCachedContext(m_scale, m_frame->width, m_frame->height, AVPixelFormat(m_frame->format), m_width,
                                       m_height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        std::uint8_t* planes[1] = {m_image.data()};
        const int strides[1] = {m_width * 3};
        sws_scale(m_scale, m_frame->data, m_frame->linesize, 0, m_frame->height, planes, strides);
        return true;
    }

private:
    bool m_h263;
    int m_width, m_height;
    Bytes m_image;
    KcExpandContext* m_kc = nullptr;
    BITMAPINFOHEADER m_format{};
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_scale = nullptr;
};

// The operator's link: keeps the video frames it takes.
class OperatorLink : public CInetConnection, public RemoteFrameList {
public:
    using CInetConnection::CInetConnection;
    void clear() override {}
    void push(WORD, const BYTE* frame, DWORD length, bool) override { frames.emplace_back(frame, frame + length); }
    std::vector<Bytes> frames;
};

LinkServices quietServices() {
    LinkServices services;
    services.settings = LinkSettings{};
    return services;
}

void pass(CInetConnection& link) {
    if (link.TimeToRead() == -3 && link.SendHello() == 0) {
        std::fprintf(stderr, "site_video_bench: the hello was not written\n");
    }
}

void siteToPicture(benchmark::State& state, bool h263, int width, int height) {
    prepareProcess();
    SiteCoder coder(h263, width, height), baselineCoder(h263, width, height);
    if (!coder.ready()) {
        state.SkipWithError("the video encoder component is missing");
        return;
    }
    const WORD port = nettest::freePort();
    CInetConnection site(quietServices(), InetOptions{std::to_string(port), "", nullptr});
    OperatorLink op(quietServices(), InetOptions{std::to_string(nettest::freePort()), "", nullptr});
    if (!site.ConnectToLan() || !op.ConnectToLan() || site.SetListenOn(0) != 1) {
        state.SkipWithError("cannot open the links");
        return;
    }
    op.SetVideoTarget(&op);
    const std::string address = "127.0.0.1:" + std::to_string(port);
    op.ConnectToRemote(address.c_str(), "site");
    const bool connected = nettest::pumpUntil([&] {
        pass(site);
        pass(op);
        return site.IsConnected() && op.IsConnected();
    });
    if (!connected) {
        state.SkipWithError("the links did not connect");
        return;
    }
    op.SetVideoStatus(1, 3);  // the operator takes the site's video

    Painter painter(h263, width, height), baselinePainter(h263, width, height);
    unsigned n = 0, b = 0;
    double linkSeconds = 0, baselineSeconds = 0;
    std::size_t frames = 0, baselineFrames = 0;
    for (auto _ : state) {
        for (int i = 0; i < kFramesPerIteration; ++i) {
            const auto start = Clock::now();
            const Bytes frame = coder.code(n++);
            for (std::size_t at = 0; at < frame.size(); at += site::kMaxVideoFrameBytes) {
                const std::size_t len = std::min(site::kMaxVideoFrameBytes, frame.size() - at);
                if (site.SendFrame(WORD(n == 1 ? kVideoKeyBucket : kVideoBucket), frame.data() + at, DWORD(len)) == 0) {
                    state.SkipWithError("a frame was not written");
                    return;
                }
            }
            Bytes received;
            const bool arrived = nettest::pumpUntil([&] {
                pass(site);
                pass(op);
                for (Bytes& piece : op.frames) received.insert(received.end(), piece.begin(), piece.end());
                op.frames.clear();
                return received.size() >= frame.size();
            });
            if (!arrived) {
                state.SkipWithError("a frame did not arrive");
                return;
            }
            benchmark::DoNotOptimize(painter.paint(received));
            linkSeconds += std::chrono::duration<double>(Clock::now() - start).count();
            ++frames;

            const auto baseStart = Clock::now();
            benchmark::DoNotOptimize(baselinePainter.paint(baselineCoder.code(b++)));
            baselineSeconds += std::chrono::duration<double>(Clock::now() - baseStart).count();
            ++baselineFrames;
        }
    }
    state.counters["fps"] = double(frames) / linkSeconds;
    state.counters["latency_ms"] = 1000.0 * linkSeconds / double(frames);
    state.counters["baseline_fps"] = double(baselineFrames) / baselineSeconds;
    state.counters["baseline_latency_ms"] = 1000.0 * baselineSeconds / double(baselineFrames);
    state.counters["link_ms"] = 1000.0 * (linkSeconds / double(frames) - baselineSeconds / double(baselineFrames));
    op.SetNotConnected(TRUE);
    site.SetNotConnected(TRUE);
}

void BM_SiteVideoToPicture_H263Cif(benchmark::State& state) { siteToPicture(state, true, 352, 288); }
void BM_SiteVideoToPicture_H263Qcif(benchmark::State& state) { siteToPicture(state, true, 176, 144); }
void BM_SiteVideoToPicture_Block(benchmark::State& state) {
    siteToPicture(state, false, site::kBlockStreamWidth, site::kBlockStreamHeight);
}
BENCHMARK(BM_SiteVideoToPicture_H263Cif)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SiteVideoToPicture_H263Qcif)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SiteVideoToPicture_Block)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
