#include "ambrel32/testing/speech_sample.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace audiotest {

namespace {

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

std::uint32_t le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }

std::vector<double> envelope(const std::vector<std::int16_t>& s) {
    constexpr std::size_t kWindow = 80;  // 10 ms at 8 kHz
    std::vector<double> e(s.size() / kWindow);
    for (std::size_t w = 0; w < e.size(); ++w) {
        double sum = 0;
        for (std::size_t i = 0; i < kWindow; ++i) {
            const double v = s[w * kWindow + i];
            sum += v * v;
        }
        e[w] = std::sqrt(sum / kWindow);
    }
    return e;
}

}  // namespace

bool makeSpeechWav(const std::string& path, const std::string& text) {
    const std::string raw = path + ".espeak.wav";
    const std::string speak = "espeak-ng -w " + quoted(raw) + " " + quoted(text) + " >/dev/null 2>&1";
    const std::string convert = "ffmpeg -nostdin -y -loglevel error -i " + quoted(raw) +
                                " -ar 8000 -ac 1 -c:a pcm_s16le " + quoted(path) + " >/dev/null 2>&1";
    const bool ok = std::system(speak.c_str()) == 0 && std::system(convert.c_str()) == 0;
    std::remove(raw.c_str());
    return ok;
}

std::vector<std::int16_t> readWavSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0) {
        return {};
    }
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const std::uint32_t size = le32(&bytes[at + 4]);
        if (std::memcmp(&bytes[at], "data", 4) == 0) {
            const std::size_t n = std::min<std::size_t>(size, bytes.size() - at - 8) / 2;
            std::vector<std::int16_t> samples(n);
            if (n > 0) std::memcpy(samples.data(), &bytes[at + 8], n * 2);
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

double envelopeCorrelation(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b, int maxShiftMs) {
    const std::vector<double> ea = envelope(a), eb = envelope(b);
    const int maxShift = maxShiftMs / 10;
    double best = -1;
    for (int shift = -maxShift; shift <= maxShift; ++shift) {
        double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
        std::size_t n = 0;
        for (std::size_t i = 0; i < ea.size(); ++i) {
            const long j = long(i) + shift;
            if (j < 0 || j >= long(eb.size())) continue;
            const double x = ea[i], y = eb[std::size_t(j)];
            sa += x;
            sb += y;
            saa += x * x;
            sbb += y * y;
            sab += x * y;
            ++n;
        }
        if (n < 10) continue;
        const double cov = sab - sa * sb / double(n);
        const double va = saa - sa * sa / double(n), vb = sbb - sb * sb / double(n);
        if (va <= 0 || vb <= 0) continue;
        best = std::max(best, cov / std::sqrt(va * vb));
    }
    return best;
}

std::size_t audibleSamples(const std::vector<std::int16_t>& samples) {
    return std::size_t(std::count_if(samples.begin(), samples.end(), [](std::int16_t v) { return std::abs(v) > 300; }));
}

}  // namespace audiotest
