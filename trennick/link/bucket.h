#pragma once
// Buckets: the self-delimiting records that carry everything two stations say
// to each other. Layout (little-endian):
//   0x01 | BucketType u16 | BucketLen u16 | [BucketNo u16] [check header 16] | payload | 0x01
// BucketNo and the check header are present only in guarded buckets; BucketNo
// only when the peer's protocol number (from its hello) is 2 or more. Every
// transmitted bucket is followed by one 0x00 byte that receivers skip.

#include "platform/types.h"

#include <functional>
#include <span>
#include <vector>

namespace trennick {

inline constexpr BYTE kBucketMarker = 0x01;
inline constexpr DWORD kMaxBucketBytes = 0x20000;        // framing included
inline constexpr DWORD kNominalBucketBuffLen = 1024000;
inline constexpr DWORD kCheckHeaderBytes = 16;

// Low byte of BucketType.
enum BucketKind : BYTE {
    kTokenBucket = 2,
    kFileBlockBucket = 3,
    kVideoBucket = 4,
    kChatBucket = 5,
    kVideoKeyBucket = 6,
    kAudioBucket = 7,
    kSerialOutBucket = 9,
    kVideoBucket10 = 10,
    kVideoBucket11 = 11,
};

bool isValidBucketKind(BYTE kind);
// Guarded kinds carry a check header (3, 4, 6, 7, 9, 10, 11). Type 10 is
// guarded on both sides here, so a type-10 bucket this station sends is one it
// would accept.
bool isGuardedBucketKind(BYTE kind);
// Bytes before the payload: 5, or for guarded kinds 21 (peer protocol number
// 0 or 1) or 23 (2 or more).
DWORD bucketHeaderBytes(BYTE kind, LONG peerProtocolNumber);

// The decoded bucket (CurrBucket). Payload points into the decoder's payload
// buffer, NUL-terminated behind BucketLen bytes; valid until the next decode.
struct DecodedBucket {
    BYTE StartMarker = 0;
    DWORD BucketType = 0;
    DWORD BucketLen = 0;
    DWORD BucketNo = 0;
    char CheckHeader[kCheckHeaderBytes] = {};
    BYTE* Payload = nullptr;

    BYTE kind() const { return static_cast<BYTE>(BucketType & 0xFF); }
    // The check header's value read back as signed decimal text.
    LONG checkHeaderValue() const;
    // True when the check header matches the wire checksum of the payload.
    bool checksumMatches() const;
};

// The caller's view of its receive buffer across decode calls.
struct ParseCursor {
    DWORD dataLength = 0;  // bytes valid in the caller's buffer
    DWORD nextIndex = 0;   // where the next search starts
    DWORD remaining = 0;   // out: bytes left over at the start of the buffer
};

enum class DecodeError { InvalidType = 0, TooLong = 1, EndMarker = 2 };

// Cuts a receive buffer holding any mix of whole buckets, partial buckets and
// noise into buckets (GetBucket). Noise, invalid types, over-long lengths and
// bad end markers are traced, reported and skipped: the search resumes one
// byte behind the rejected start marker. A partial bucket is moved to the
// start of the caller's buffer for the next call.
// One thread at a time (the link object calls it under its bucket lock).
class BucketDecoder {
public:
    // bucketBuffLen: the longest bucket accepted (framing included).
    explicit BucketDecoder(DWORD bucketBuffLen);
    BucketDecoder(const BucketDecoder&) = delete;
    BucketDecoder& operator=(const BucketDecoder&) = delete;

    // Sets the longest bucket accepted and forgets the current bucket.
    void setBucketBuffLen(DWORD bucketBuffLen);

    void setPeerProtocolNumber(LONG number) { m_peerProtocolNumber = number; }
    LONG peerProtocolNumber() const { return m_peerProtocolNumber; }
    DWORD bucketBuffLen() const { return m_bucketBuffLen; }

    // Decodes the next bucket from buffer[0, cursor.dataLength). `capacity` is
    // the size of the caller's buffer: a bucket that could not fit in it is
    // rejected as too long instead of waited for. True when a bucket was found
    // (current() holds it).
    bool getBucket(BYTE* buffer, DWORD capacity, ParseCursor& cursor);

    const DecodedBucket& current() const { return m_current; }

    // Called for each decode error (PacketDecodeError); may be empty.
    std::function<void(DecodeError)> onDecodeError;

private:
    void reportError(DecodeError error);

    DWORD m_bucketBuffLen;
    LONG m_peerProtocolNumber = 0;
    std::vector<BYTE> m_payload;
    DecodedBucket m_current;
};

// Assembles one bucket into `out`: header, payload, end marker and the 0x00
// that follows every transmitted bucket. Guarded kinds get the payload's
// checksum in the check header and, for a peer protocol number of 2 or more,
// `bucketNo`. Returns the bytes to transmit (bucket length + 1), or 0 when the
// payload does not fit a bucket, `out` or `maxBucketBytes`.
DWORD buildBucket(std::span<BYTE> out, WORD bucketType, const BYTE* payload, DWORD length,
                  LONG peerProtocolNumber, WORD bucketNo, DWORD maxBucketBytes);
// The same with the caller's text in the check header of a guarded bucket (at
// most 15 characters are kept) instead of the payload's checksum: file blocks
// carry the checksum of the file bytes before escaping.
DWORD buildBucketWithCheck(std::span<BYTE> out, WORD bucketType, const BYTE* payload, DWORD length,
                           LONG peerProtocolNumber, WORD bucketNo, DWORD maxBucketBytes,
                           const char* checkHeader);

}  // namespace trennick
