#include "trennick/link/bucket.h"
#include "trennick/link/common_base.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace trennick;
using Bytes = std::vector<BYTE>;

Bytes bucket(WORD type, std::string_view payload, LONG peerProtocolNumber = 0, WORD bucketNo = 0) {
    Bytes out(payload.size() + 32);
    const DWORD n = buildBucket(out, type, reinterpret_cast<const BYTE*>(payload.data()),
                                static_cast<DWORD>(payload.size()), peerProtocolNumber, bucketNo, kMaxBucketBytes);
    out.resize(n);
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes raw(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

struct Decoded {
    DWORD type;
    DWORD bucketNo;
    std::string payload;
    bool checksumOk;
    bool operator==(const Decoded&) const = default;
};

struct Outcome {
    std::vector<Decoded> buckets;
    std::vector<DecodeError> errors;
    DWORD leftover = 0;
};

// Feeds the stream to a decoder the way a transport does: each chunk is
// appended behind what the last call left at the buffer's start.
Outcome decode(const Bytes& stream, const std::vector<std::size_t>& chunkEnds, DWORD buffLen = 4096,
               LONG peerProtocolNumber = 0, DWORD capacity = 4096) {
    BucketDecoder decoder(buffLen);
    decoder.setPeerProtocolNumber(peerProtocolNumber);
    Outcome out;
    decoder.onDecodeError = [&](DecodeError e) { out.errors.push_back(e); };
    Bytes buffer(capacity);
    DWORD length = 0;
    std::size_t at = 0;
    auto run = [&] {
        ParseCursor cursor;
        cursor.dataLength = length;
        while (decoder.getBucket(buffer.data(), capacity, cursor)) {
            const auto& b = decoder.current();
            out.buckets.push_back({b.BucketType, b.BucketNo,
                                   std::string(reinterpret_cast<const char*>(b.Payload), b.BucketLen),
                                   isGuardedBucketKind(b.kind()) ? b.checksumMatches() : true});
            EXPECT_EQ(b.Payload[b.BucketLen], 0) << "payload is NUL-terminated";
        }
        length = cursor.remaining;
    };
    for (std::size_t end : chunkEnds) {
        while (at < end) {
            const std::size_t n = std::min<std::size_t>(end - at, capacity - length);
            std::copy(stream.begin() + at, stream.begin() + at + n, buffer.begin() + length);
            length += static_cast<DWORD>(n);
            at += n;
            run();
        }
    }
    out.leftover = length;
    return out;
}

TEST(Bucket, OkHelloTokenOnTheWire) {
    const Bytes expected = Bytes{0x01, 0x02, 0x00, 0x09, 0x00} + raw("<OKHello>") + Bytes{0x01, 0x00};
    EXPECT_EQ(bucket(kTokenBucket, "<OKHello>"), expected);
}

TEST(Bucket, GuardedLayoutFollowsThePeersProtocolNumber) {
    const Bytes before = bucket(kAudioBucket, "xyz", 0, 0x1234);
    ASSERT_EQ(before.size(), 3u + 22 + 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&before[5])), std::to_string(WireChecksum({before.data() + 21, 3})));
    EXPECT_EQ(raw("xyz"), Bytes(before.begin() + 21, before.begin() + 24));

    const Bytes after = bucket(kAudioBucket, "xyz", 2, 0x1234);
    ASSERT_EQ(after.size(), 3u + 24 + 1);
    EXPECT_EQ(after[5], 0x34);
    EXPECT_EQ(after[6], 0x12);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&after[7])), std::string(reinterpret_cast<const char*>(&before[5])));
    EXPECT_EQ(after[after.size() - 2], kBucketMarker);
    EXPECT_EQ(after.back(), 0x00);
}

TEST(Bucket, EmptyPayloadCheckHeaderReadsMinusOne) {
    const Bytes b = bucket(kFileBlockBucket, "");
    EXPECT_STREQ(reinterpret_cast<const char*>(&b[5]), "-1");
    for (int i = 7; i < 21; ++i) EXPECT_EQ(b[i], 0) << i;
}

TEST(Bucket, BuilderRefusesWhatCannotBeABucket) {
    Bytes out(200000);
    const Bytes big(70000, 'v');
    EXPECT_EQ(buildBucket(out, kVideoBucket, big.data(), 65536, 0, 0, kMaxBucketBytes), 0u);  // length field is 16-bit
    EXPECT_EQ(buildBucket(out, kVideoBucket, big.data(), 1000, 0, 0, 1000), 0u);            // over the link's buffer
    Bytes small(10);
    EXPECT_EQ(buildBucket(small, kTokenBucket, big.data(), 5, 0, 0, kMaxBucketBytes), 0u);  // over the output
}

// Every stream is decoded whole, split at every position, and byte by byte.
TEST(BucketDecoder, StreamsDecodeAlikeWhateverTheSplit) {
    const Bytes okHello = bucket(kTokenBucket, "<OKHello>");
    const Bytes chat = bucket(kChatBucket, "hello there");
    const Bytes video = bucket(0x0304, "frame-bytes");  // camera 3 in the high byte
    Bytes badEnd = bucket(kTokenBucket, "<Disconnect>");
    badEnd[badEnd.size() - 2] = 0x02;
    Bytes wrongType = bucket(kTokenBucket, "<GetMonkey>");
    wrongType[1] = 8;
    Bytes typeTwelve = bucket(kTokenBucket, "<GetMonkey>");
    typeTwelve[1] = 12;
    Bytes tooLong = bucket(kChatBucket, std::string(300, 'A'));
    Bytes corrupted = bucket(kAudioBucket, "voice");
    corrupted[corrupted.size() - 4] ^= 0x20;  // a payload byte: the end marker still holds

    struct Case {
        const char* name;
        Bytes stream;
        std::vector<Decoded> buckets;
        std::vector<DecodeError> errors;
        DWORD buffLen = 4096;
        LONG peerProtocolNumber = 0;
    };
    const std::vector<Case> cases = {
        {"whole buckets", okHello + chat + video,
         {{2, 0, "<OKHello>", true}, {5, 0, "hello there", true}, {0x0304, 0, "frame-bytes", true}}, {}},
        {"noise around and between", raw("\x7f\xfe junk") + okHello + Bytes{0x01, 0x01, 0x00, 0x7a, 0x7a} + chat + raw("tail"),
         {{2, 0, "<OKHello>", true}, {5, 0, "hello there", true}}, {DecodeError::InvalidType}},
        {"bad end marker", badEnd + okHello, {{2, 0, "<OKHello>", true}}, {DecodeError::EndMarker}},
        {"type 8", wrongType + chat, {{5, 0, "hello there", true}}, {DecodeError::InvalidType}},
        {"type 12", typeTwelve + chat, {{5, 0, "hello there", true}}, {DecodeError::InvalidType}},
        {"too long for the link's buffer", tooLong + okHello, {{2, 0, "<OKHello>", true}}, {DecodeError::TooLong}, 256},
        {"guarded before the hello", bucket(kAudioBucket, "voice") + okHello,
         {{7, 0, "voice", true}, {2, 0, "<OKHello>", true}}, {}},
        {"guarded after a protocol-2 hello", bucket(kFileBlockBucket, "block", 8, 41) + okHello,
         {{3, 41, "block", true}, {2, 0, "<OKHello>", true}}, {}, 4096, 8},
        {"checksum mismatch is the consumer's to see", corrupted, {{7, 0, "voiCe", false}}, {}},
        {"only noise", raw("no markers here at all"), {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome whole = decode(c.stream, {c.stream.size()}, c.buffLen, c.peerProtocolNumber);
        EXPECT_EQ(whole.buckets, c.buckets);
        // A rejected start may leave further false starts behind it (its own
        // end marker, for one); the first error is the one that tells.
        ASSERT_EQ(whole.errors.empty(), c.errors.empty());
        if (!c.errors.empty()) {
            EXPECT_EQ(whole.errors.front(), c.errors.front());
        }
        for (std::size_t split = 1; split < c.stream.size(); ++split) {
            SCOPED_TRACE(split);
            const Outcome two = decode(c.stream, {split, c.stream.size()}, c.buffLen, c.peerProtocolNumber);
            ASSERT_EQ(two.buckets, c.buckets);
        }
        std::vector<std::size_t> each;
        for (std::size_t i = 1; i <= c.stream.size(); ++i) each.push_back(i);
        EXPECT_EQ(decode(c.stream, each, c.buffLen, c.peerProtocolNumber).buckets, c.buckets);
    }
}

TEST(BucketDecoder, PartialThirdBucketStaysAtTheStart) {
    const Bytes third = bucket(kTokenBucket, "<Line Sync>");
    Bytes first = bucket(kTokenBucket, "<OKHello>");
    Bytes second = bucket(kChatBucket, "hi");
    first.pop_back();  // without the 0x00 that follows each on the wire
    second.pop_back();
    Bytes stream = first + second;
    stream.insert(stream.end(), third.begin(), third.begin() + 3);

    BucketDecoder decoder(4096);
    Bytes buffer(4096);
    std::copy(stream.begin(), stream.end(), buffer.begin());
    ParseCursor cursor;
    cursor.dataLength = static_cast<DWORD>(stream.size());
    ASSERT_TRUE(decoder.getBucket(buffer.data(), 4096, cursor));
    ASSERT_TRUE(decoder.getBucket(buffer.data(), 4096, cursor));
    ASSERT_FALSE(decoder.getBucket(buffer.data(), 4096, cursor));
    EXPECT_EQ(cursor.remaining, 3u);
    EXPECT_EQ(cursor.nextIndex, 0u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 3), Bytes(third.begin(), third.begin() + 3));
}

TEST(BucketDecoder, LargestBucketDecodes) {
    const std::string payload(0xFFFF, 'q');
    const Bytes big = bucket(kVideoKeyBucket, payload, 8, 7);
    ASSERT_EQ(big.size(), 0xFFFFu + 24 + 1);
    const Outcome out = decode(big, {big.size()}, 70000, 8, 70000);
    ASSERT_EQ(out.buckets.size(), 1u);
    EXPECT_EQ(out.buckets[0].payload, payload);
    EXPECT_TRUE(out.buckets[0].checksumOk);
}

// A whole bucket that arrives late in a full receive buffer is moved to the
// front and completed, not rejected for where it started.
TEST(BucketDecoder, BucketStartingLateInAFullBufferIsKept) {
    const Bytes b = bucket(kChatBucket, std::string(34, 'c'));  // 41 bytes on the wire
    const Bytes stream = Bytes(40, 'n') + b;
    const Outcome out = decode(stream, {stream.size()}, 64, 0, 64);
    ASSERT_EQ(out.buckets.size(), 1u);
    EXPECT_TRUE(out.errors.empty());
}

// A bucket larger than the caller's buffer could never be completed there:
// it is dropped as too long and the stream resynchronises.
TEST(BucketDecoder, BucketLargerThanTheCallersBufferIsDropped) {
    const Bytes stream = bucket(kChatBucket, std::string(150, 'x')) + bucket(kTokenBucket, "<OKHello>");
    const Outcome out = decode(stream, {stream.size()}, 4096, 0, 100);
    ASSERT_EQ(out.buckets.size(), 1u);
    EXPECT_EQ(out.buckets[0].payload, "<OKHello>");
    ASSERT_FALSE(out.errors.empty());
    EXPECT_EQ(out.errors.front(), DecodeError::TooLong);
}

// Flip every bit of a guarded bucket: each flip is rejected by the framing or
// caught by the checksum; none yields a bucket that passes as good.
TEST(BucketDecoder, EveryBitFlipOfAGuardedBucketIsCaught) {
    const Bytes good = bucket(kFileBlockBucket, "file block payload", 8, 3);
    for (std::size_t byte = 0; byte + 1 < good.size(); ++byte) {  // the trailing 0x00 is not part of the bucket
        for (int bit = 0; bit < 8; ++bit) {
            Bytes flipped = good;
            flipped[byte] ^= static_cast<BYTE>(1 << bit);
            const Outcome out = decode(flipped, {flipped.size()}, 4096, 8);
            for (const auto& d : out.buckets) {
                const bool same = d.type == 3 && d.bucketNo == 3 && d.payload == "file block payload";
                EXPECT_TRUE(!d.checksumOk || same || byte == 1 || byte == 2 || byte == 5 || byte == 6)
                    << "byte " << byte << " bit " << bit;
                // Type high byte (camera) and BucketNo are not guarded by the sum.
            }
        }
    }
}

}  // namespace
