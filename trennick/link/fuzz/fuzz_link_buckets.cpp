// Fuzzes the bucket decoder: the input is cut at a position it chooses and fed
// in two pieces the way a transport does; every decoded bucket must lie within
// the limits. Then the input, taken as a payload, must survive building and
// decoding unchanged.

#include "trennick/link/bucket.h"
#include "trennick/link/common_base.h"

#include <cstring>
#include <vector>

using namespace trennick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const LONG peerProtocolNumber = data[0] & 3;
    constexpr DWORD kBuffLen = 4096;
    const std::size_t split = data[1] % (size - 1);
    data += 2;
    size -= 2;

    BucketDecoder decoder(kBuffLen);
    decoder.setPeerProtocolNumber(peerProtocolNumber);
    std::vector<BYTE> buffer(kBuffLen);
    DWORD length = 0;
    auto feed = [&](const uint8_t* bytes, std::size_t n) {
        while (n > 0) {
            const std::size_t take = std::min<std::size_t>(n, kBuffLen - length);
            std::memcpy(buffer.data() + length, bytes, take);
            length += static_cast<DWORD>(take);
            bytes += take;
            n -= take;
            ParseCursor cursor;
            cursor.dataLength = length;
            while (decoder.getBucket(buffer.data(), kBuffLen, cursor)) {
                const DecodedBucket& b = decoder.current();
                if (b.BucketLen + 6 > kBuffLen || b.Payload[b.BucketLen] != 0 || !isValidBucketKind(b.kind())) {
                    __builtin_trap();
                }
                (void)b.checksumMatches();
            }
            if (cursor.remaining > kBuffLen) {
                __builtin_trap();
            }
            length = cursor.remaining;
            if (length == kBuffLen) {
                __builtin_trap();  // a full buffer that can never be cut
            }
        }
    };
    feed(data, split);
    feed(data + split, size - split);

    // Round trip of the input as a payload.
    std::vector<BYTE> wire(size + 64);
    const DWORD n = buildBucket(wire, kVideoBucket10, data, static_cast<DWORD>(size), peerProtocolNumber,
                                static_cast<WORD>(size), kBuffLen);
    if (n != 0) {
        BucketDecoder again(kBuffLen);
        again.setPeerProtocolNumber(peerProtocolNumber);
        ParseCursor cursor;
        cursor.dataLength = n;
        if (!again.getBucket(wire.data(), static_cast<DWORD>(wire.size()), cursor) ||
            again.current().BucketLen != size || std::memcmp(again.current().Payload, data, size) != 0 ||
            !again.current().checksumMatches()) {
            __builtin_trap();
        }
    }
    return 0;
}
