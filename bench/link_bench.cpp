// Station link throughput on video-sized buckets (15,000-byte payloads, key
// frames of a protocol-2 peer): building a bucket (check header included),
// cutting a receive buffer of such buckets back into payloads, and, for scale
// in the same run, memcpy plus zlib's crc32 of the same bytes. Reported as
// bytes_per_second of payload.

#include "trennick/link/bucket.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <vector>

using namespace trennick;

namespace {

constexpr DWORD kPayloadBytes = 15000;
constexpr LONG kPeerProtocolNumber = 8;
constexpr int kBucketsPerBuffer = 64;

std::vector<BYTE> samplePayload() {
    std::vector<BYTE> payload(kPayloadBytes);
    DWORD x = 0x12345678;
    for (BYTE& b : payload) {
        x = x * 1103515245u + 12345u;
        b = static_cast<BYTE>(x >> 16);
    }
    return payload;
}

void BM_LinkBuildVideoBucket(benchmark::State& state) {
    const std::vector<BYTE> payload = samplePayload();
    std::vector<BYTE> out(kNominalBucketBuffLen);
    WORD bucketNo = 0;
    for (auto _ : state) {
        const DWORD n = buildBucket(out, 0x0306, payload.data(), kPayloadBytes, kPeerProtocolNumber, ++bucketNo,
                                    kNominalBucketBuffLen);
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPayloadBytes);
}
BENCHMARK(BM_LinkBuildVideoBucket);

// Decodes a receive buffer of back-to-back buckets and checks each one's sum,
// as a video consumer does.
void BM_LinkDecodeVideoBuckets(benchmark::State& state) {
    const std::vector<BYTE> payload = samplePayload();
    std::vector<BYTE> stream;
    std::vector<BYTE> one(kPayloadBytes + 64);
    for (int i = 0; i < kBucketsPerBuffer; ++i) {
        const DWORD n = buildBucket(one, 0x0306, payload.data(), kPayloadBytes, kPeerProtocolNumber,
                                    static_cast<WORD>(i), kNominalBucketBuffLen);
        stream.insert(stream.end(), one.begin(), one.begin() + n);
    }
    BucketDecoder decoder(kNominalBucketBuffLen);
    decoder.setPeerProtocolNumber(kPeerProtocolNumber);
    std::vector<BYTE> buffer(kNominalBucketBuffLen);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(buffer.data(), stream.data(), stream.size());
        state.ResumeTiming();
        ParseCursor cursor;
        cursor.dataLength = static_cast<DWORD>(stream.size());
        int good = 0;
        while (decoder.getBucket(buffer.data(), static_cast<DWORD>(buffer.size()), cursor)) {
            good += decoder.current().checksumMatches() ? 1 : 0;
        }
        if (good != kBucketsPerBuffer) {
            state.SkipWithError("a bucket did not decode");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPayloadBytes * kBucketsPerBuffer);
}
BENCHMARK(BM_LinkDecodeVideoBuckets);

// The floor to compare with: one copy of the payload and a table CRC-32 over it.
void BM_LinkBaselineMemcpyCrc32(benchmark::State& state) {
    const std::vector<BYTE> payload = samplePayload();
    std::vector<BYTE> out(kPayloadBytes);
    for (auto _ : state) {
        std::memcpy(out.data(), payload.data(), kPayloadBytes);
        uLong crc = crc32(0L, out.data(), kPayloadBytes);
        benchmark::DoNotOptimize(crc);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPayloadBytes);
}
BENCHMARK(BM_LinkBaselineMemcpyCrc32);

}  // namespace
