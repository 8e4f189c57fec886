#pragma once
// Test and benchmark fixtures: H.263 and H.261 streams encoded by the ffmpeg
// program, cut into pictures, and libavcodec's decoding of them.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kcexpand::testing {

using Bytes = std::vector<std::uint8_t>;

struct Picture {
    int width = 0, height = 0;
    Bytes y, cb, cr;  // raster planes, chroma at half size
};

// Encodes `frames` pictures of the moving test pattern with the ffmpeg
// program: codec "h263" or "h261", size "cif", "qcif" or "4cif", a key frame
// every 12 pictures, fixed quantiser. Empty when the program failed.
inline Bytes encodeStream(const std::filesystem::path& folder, const std::string& codec, const std::string& size,
                          int qscale, int frames, const std::string& extra = "") {
    std::filesystem::create_directories(folder);
    const std::filesystem::path out = folder / (codec + "_" + size + "_q" + std::to_string(qscale) + "_" +
                                                std::to_string(frames) + (extra.empty() ? "" : "_x") + "." + codec);
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=" + size +
                                ":rate=25 -frames:v " + std::to_string(frames) + " -c:v " + codec +
                                " -g 12 -qscale:v " + std::to_string(qscale) + " " + extra + " -f " + codec + " '" +
                                out.string() + "'";
    if (std::system(command.c_str()) != 0) {
        return {};
    }
    std::ifstream in(out, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Cuts a stream at its byte-aligned picture start codes.
inline std::vector<Bytes> splitPictures(const Bytes& stream, bool h261) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i + 2 < stream.size(); ++i) {
        const bool psc = h261 ? stream[i] == 0 && stream[i + 1] == 1 && (stream[i + 2] & 0xF0) == 0
                              : stream[i] == 0 && stream[i + 1] == 0 && (stream[i + 2] & 0xFC) == 0x80;
        if (psc) {
            starts.push_back(i);
        }
    }
    std::vector<Bytes> pictures;
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const std::size_t end = k + 1 < starts.size() ? starts[k + 1] : stream.size();
        pictures.emplace_back(stream.begin() + std::ptrdiff_t(starts[k]), stream.begin() + std::ptrdiff_t(end));
    }
    return pictures;
}

// libavcodec's decoder of the same codec, picture by picture.
class AvDecoder {
public:
    explicit AvDecoder(bool h261, int idctAlgo = FF_IDCT_AUTO) {
        const AVCodec* codec = avcodec_find_decoder(h261 ? AV_CODEC_ID_H261 : AV_CODEC_ID_H263);
        m_context = avcodec_alloc_context3(codec);
        m_context->idct_algo = idctAlgo;
        m_context->thread_count = 1;
        avcodec_open2(m_context, codec, nullptr);
        m_packet = av_packet_alloc();
        m_frame = av_frame_alloc();
    }
    ~AvDecoder() {
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
        avcodec_free_context(&m_context);
    }
    AvDecoder(const AvDecoder&) = delete;
    AvDecoder& operator=(const AvDecoder&) = delete;

    // Decodes one picture; the frame stays valid until the next call.
    const AVFrame* decode(const Bytes& picture) {
        m_packet->data = const_cast<std::uint8_t*>(picture.data());
        m_packet->size = int(picture.size());
        if (avcodec_send_packet(m_context, m_packet) < 0) {
            return nullptr;
        }
        av_frame_unref(m_frame);
        return avcodec_receive_frame(m_context, m_frame) == 0 ? m_frame : nullptr;
    }

    static Picture planes(const AVFrame* frame) {
        Picture p;
        p.width = frame->width;
        p.height = frame->height;
        auto copy = [](const AVFrame* f, int plane, int w, int h) {
            Bytes out(std::size_t(w) * std::size_t(h));
            for (int r = 0; r < h; ++r) {
                std::copy_n(f->data[plane] + std::ptrdiff_t(r) * f->linesize[plane], w, out.begin() + r * w);
            }
            return out;
        };
        p.y = copy(frame, 0, p.width, p.height);
        p.cb = copy(frame, 1, p.width / 2, p.height / 2);
        p.cr = copy(frame, 2, p.width / 2, p.height / 2);
        return p;
    }

private:
    AVCodecContext* m_context = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
};

inline double psnr(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size() || a.empty()) {
        return 0.0;
    }
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0) {
        return 99.0;
    }
    return 10.0 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

}  // namespace kcexpand::testing
