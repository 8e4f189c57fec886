// Stills and motion: the qel library against libjpeg-turbo called directly on
// 704 x 576 frames, and motion detection per frame against a full decompression.
// The counter "qel_speed_vs_direct" is direct time / qel time (1.0 = as fast).
// The direct baseline is libjpeg-turbo used the fastest way it offers for the
// same input and output: bottom-up BGR rows handed over as they lie in memory
// (its extended colour spaces), all rows in one call.

#include "qel/qel.h"

#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace {

constexpr int kWidth = 704;
constexpr int kHeight = 576;
constexpr int kQuality = 75;

// A 24-bit bottom-up record with texture and a square at (x, y).
std::vector<BYTE> frame(int squareX, int squareY) {
    std::vector<BYTE> record(40 + std::size_t(kWidth) * kHeight * 3);
    *reinterpret_cast<BITMAPINFOHEADER*>(record.data()) =
        BITMAPINFOHEADER{40, kWidth, kHeight, 1, 24, 0, DWORD(kWidth * kHeight * 3), 0, 0, 0, 0};
    BYTE* p = record.data() + 40;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x, p += 3) {
            const int top = kHeight - 1 - y;
            const bool square = x >= squareX && x < squareX + 48 && top >= squareY && top < squareY + 48;
            p[0] = square ? 240 : BYTE((x * 7 + top * 3) & 0xFF);
            p[1] = square ? 30 : BYTE((x ^ top) & 0xFF);
            p[2] = square ? 30 : BYTE(top / 3);
        }
    }
    return record;
}

// Compresses into `target` (room for the record and its picture), as a caller
// that keeps its buffer does; returns the stream's bytes.
std::size_t qelCompressInto(std::vector<BYTE>& source, std::vector<BYTE>& target) {
    char* text = nullptr;
    QEL_Compress(reinterpret_cast<BITMAPINFOHEADER*>(source.data()),
                 reinterpret_cast<BITMAPINFOHEADER*>(target.data()), &text, kQuality);
    return reinterpret_cast<BITMAPINFOHEADER*>(target.data())->biSizeImage;
}

std::vector<BYTE> qelCompress(std::vector<BYTE>& source) {
    std::vector<BYTE> target(source.size() + 40);
    char* text = nullptr;
    QEL_Compress(reinterpret_cast<BITMAPINFOHEADER*>(source.data()),
                 reinterpret_cast<BITMAPINFOHEADER*>(target.data()), &text, kQuality);
    target.resize(40 + reinterpret_cast<BITMAPINFOHEADER*>(target.data())->biSizeImage);
    return target;
}

// The same work through libjpeg-turbo's own API: bottom-up BGR rows in, memory out.
std::size_t directCompress(const std::vector<BYTE>& source, std::vector<BYTE>& out) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = out.data();
    unsigned long size = out.size();
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, kQuality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPROW> rows(kHeight);
    for (int r = 0; r < kHeight; ++r) {
        rows[r] = const_cast<BYTE*>(source.data() + 40 + std::size_t(kHeight - 1 - r) * kWidth * 3);
    }
    while (cinfo.next_scanline < cinfo.image_height) {
        jpeg_write_scanlines(&cinfo, rows.data() + cinfo.next_scanline, kHeight - cinfo.next_scanline);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    if (buffer != out.data()) {
        free(buffer);
    }
    return size;
}

void directDecompress(const std::vector<BYTE>& jpeg, std::vector<BYTE>& out) {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data() + 40, jpeg.size() - 40);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    std::vector<JSAMPROW> rows(kHeight);
    for (int r = 0; r < kHeight; ++r) {
        rows[r] = out.data() + 40 + std::size_t(kHeight - 1 - r) * kWidth * 3;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        jpeg_read_scanlines(&cinfo, rows.data() + cinfo.output_scanline, kHeight - cinfo.output_scanline);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
}

using Clock = std::chrono::steady_clock;

void BM_StillsCompress704x576(benchmark::State& state) {
    std::vector<BYTE> source = frame(100, 100);
    std::vector<BYTE> out(source.size());
    std::vector<BYTE> target(source.size() + 40);
    double qelSeconds = 0;
    double directSeconds = 0;
    for (auto _ : state) {
        const auto a = Clock::now();
        benchmark::DoNotOptimize(qelCompressInto(source, target));
        const auto b = Clock::now();
        benchmark::DoNotOptimize(directCompress(source, out));
        const auto c = Clock::now();
        qelSeconds += std::chrono::duration<double>(b - a).count();
        directSeconds += std::chrono::duration<double>(c - b).count();
    }
    state.counters["qel_speed_vs_direct"] = qelSeconds > 0 ? directSeconds / qelSeconds : 0;
    state.counters["qel_ms"] = 1000 * qelSeconds / double(state.iterations());
}
BENCHMARK(BM_StillsCompress704x576)->Unit(benchmark::kMillisecond);

void BM_StillsDecompress704x576(benchmark::State& state) {
    std::vector<BYTE> source = frame(100, 100);
    std::vector<BYTE> jpeg = qelCompress(source);
    std::vector<BYTE> out(source.size());
    double qelSeconds = 0;
    double directSeconds = 0;
    for (auto _ : state) {
        const auto a = Clock::now();
        char* text = nullptr;
        QEL_Decompress(reinterpret_cast<BITMAPINFOHEADER*>(jpeg.data()),
                       reinterpret_cast<BITMAPINFOHEADER*>(out.data()), &text);
        const auto b = Clock::now();
        directDecompress(jpeg, out);
        const auto c = Clock::now();
        qelSeconds += std::chrono::duration<double>(b - a).count();
        directSeconds += std::chrono::duration<double>(c - b).count();
    }
    state.counters["qel_speed_vs_direct"] = qelSeconds > 0 ? directSeconds / qelSeconds : 0;
    state.counters["qel_ms"] = 1000 * qelSeconds / double(state.iterations());
}
BENCHMARK(BM_StillsDecompress704x576)->Unit(benchmark::kMillisecond);

// Motion detection of one frame against the previous one (all changed MCUs found).
void BM_MotionDetectPerFrame704x576(benchmark::State& state) {
    std::vector<BYTE> a = frame(100, 100);
    std::vector<BYTE> b = frame(300, 200);
    const std::vector<BYTE> jpegA = qelCompress(a);
    const std::vector<BYTE> jpegB = qelCompress(b);
    QelMotionContext context{};
    QEL_open_lib(&context);
    QEL_set_history(&context, 2);
    QEL_set_depth(&context, 6);
    bool flip = false;
    long changed = 0;
    for (auto _ : state) {
        const std::vector<BYTE>& jpeg = flip ? jpegB : jpegA;
        flip = !flip;
        QEL_open_image(&context, jpeg.data() + 40, DWORD(jpeg.size() - 40));
        int mcu = -1;
        for (int advance = 1;; advance = 0) {
            if (!QEL_compare(&context, &mcu, advance) || mcu < 0) {
                break;
            }
            ++changed;
        }
        QEL_close_image(&context);
    }
    QEL_close_lib(&context);
    state.counters["changed_mcus_per_frame"] = double(changed) / double(state.iterations());
}
BENCHMARK(BM_MotionDetectPerFrame704x576)->Unit(benchmark::kMillisecond);

// The cost motion detection is measured against: a full decompression.
void BM_FullDecompressPerFrame704x576(benchmark::State& state) {
    std::vector<BYTE> source = frame(100, 100);
    std::vector<BYTE> jpeg = qelCompress(source);
    std::vector<BYTE> out(source.size());
    for (auto _ : state) {
        char* text = nullptr;
        QEL_Decompress(reinterpret_cast<BITMAPINFOHEADER*>(jpeg.data()),
                       reinterpret_cast<BITMAPINFOHEADER*>(out.data()), &text);
    }
}
BENCHMARK(BM_FullDecompressPerFrame704x576)->Unit(benchmark::kMillisecond);

}  // namespace
