// velmoor-netviewer: a small viewer of the network video output. It connects
// to the operator's network stream server, takes the compressed frames it
// serves (each an 8-byte "ZNET" header and the frame), joins the H.263 pieces
// into pictures at their start codes and decodes them, and prints what it saw.
// See --help.

#include "zonet/zonet_lib.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "usage: velmoor-netviewer [options]\n"
    "  --host ADDRESS   the operator's station (default 127.0.0.1)\n"
    "  --port N         its network video port (default 4598)\n"
    "  --frames N       end after N frames (default: run until the time is up)\n"
    "  --seconds N      end after N seconds (default 30); a refused connection is tried again meanwhile\n"
    "  --help           this text\n"
    "The exit code is 0 when frames came and pictures decoded (and --frames was reached), else 1.\n";

bool takeNumber(const char* text, long low, long high, long& out) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || n < low || n > high) return false;
    out = n;
    return true;
}

// H.263 pictures out of the served pieces, decoded by libavcodec.
class Decoder {
public:
    Decoder() {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H263);
        m_context = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
        if (m_context != nullptr && avcodec_open2(m_context, codec, nullptr) < 0) avcodec_free_context(&m_context);
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
    }
    ~Decoder() {
        av_packet_free(&m_packet);
        av_frame_free(&m_frame);
        avcodec_free_context(&m_context);
    }
    void add(const Bytes& piece) {
        const bool start = piece.size() > 3 && piece[0] == 0 && piece[1] == 0 && (piece[2] & 0xFC) == 0x80;
        if (start && !m_pending.empty()) decodePending();
        if (start || !m_pending.empty()) m_pending.insert(m_pending.end(), piece.begin(), piece.end());
    }
    void finish() {
        if (!m_pending.empty()) decodePending();
    }
    int decoded = 0;
    int width = 0;
    int height = 0;

private:
    void decodePending() {
        if (m_context != nullptr && av_new_packet(m_packet, int(m_pending.size())) == 0) {
            std::memcpy(m_packet->data, m_pending.data(), m_pending.size());
            if (avcodec_send_packet(m_context, m_packet) == 0 && avcodec_receive_frame(m_context, m_frame) == 0) {
                ++decoded;
                width = m_frame->width;
                height = m_frame->height;
            }
            av_packet_unref(m_packet);
        }
        m_pending.clear();
    }
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    Bytes m_pending;
};

// Reads exactly `size` bytes before the deadline; false on the end, an error or the time.
bool readAll(int fd, void* out, std::size_t size, Clock::time_point deadline) {
    auto* p = static_cast<std::uint8_t*>(out);
    while (size > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd pf{fd, POLLIN, 0};
        if (::poll(&pf, 1, int(left)) <= 0) return false;
        const ssize_t n = ::recv(fd, p, size, 0);
        if (n <= 0) return false;
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1";
    long port = 4598, frames = 0, seconds = 30;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "velmoor-netviewer: %s needs a value (see --help)\n", what);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--host") {
            host = value("--host");
        } else if (a == "--port") {
            if (!takeNumber(value("--port"), 1, 65535, port)) {
                std::fprintf(stderr, "velmoor-netviewer: --port takes 1 to 65535\n");
                return 2;
            }
        } else if (a == "--frames") {
            if (!takeNumber(value("--frames"), 1, 1000000, frames)) {
                std::fprintf(stderr, "velmoor-netviewer: --frames takes 1 to 1000000\n");
                return 2;
            }
        } else if (a == "--seconds") {
            if (!takeNumber(value("--seconds"), 1, 86400, seconds)) {
                std::fprintf(stderr, "velmoor-netviewer: --seconds takes 1 to 86400\n");
                return 2;
            }
        } else {
            std::fprintf(stderr, "velmoor-netviewer: unknown option %s (see --help)\n", a.c_str());
            return 2;
        }
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        std::fprintf(stderr, "velmoor-netviewer: %s is not an IPv4 address\n", host.c_str());
        return 2;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);

    // The output starts serving with the operator's program: try until it does.
    int fd = -1;
    while (Clock::now() < deadline) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) break;
        if (fd >= 0) ::close(fd);
        fd = -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (fd < 0) {
        std::printf("netviewer: no connection to %s:%ld\n", host.c_str(), port);
        return 1;
    }
    std::printf("netviewer: connected to %s:%ld\n", host.c_str(), port);
    std::fflush(stdout);

    Decoder decoder;
    long received = 0;
    unsigned long long bytes = 0;
    const char* ended = "the time is up";
    while (frames == 0 || received < frames) {
        ZoNetRecordHeader header{};
        if (!readAll(fd, &header, sizeof header, deadline)) {
            ended = Clock::now() >= deadline ? "the time is up" : "the output closed the connection";
            break;
        }
        if (std::memcmp(header.magic, "ZNET", 4) != 0 || header.length > kZoNetMaxRecordBytes) {
            ended = "the output sent something else than a frame";
            break;
        }
        Bytes frame(header.length);
        if (!readAll(fd, frame.data(), frame.size(), deadline)) {
            ended = "a frame was cut short";
            break;
        }
        ++received;
        bytes += frame.size();
        decoder.add(frame);
    }
    if (frames != 0 && received >= frames) ended = "enough frames";
    decoder.finish();
    ::close(fd);
    std::printf("netviewer: %ld frames, %llu bytes, %d pictures decoded (%dx%d); ended: %s\n", received, bytes,
                decoder.decoded, decoder.width, decoder.height, ended);
    const bool ok = received > 0 && decoder.decoded > 0 && (frames == 0 || received >= frames);
    return ok ? 0 : 1;
}
