#include "trennick/link/bucket.h"

#include "trennick/link/common_base.h"
#include "trennick/link/link_trace.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace trennick {

namespace {

WORD readU16(const BYTE* p) {
    return static_cast<WORD>(p[0] | (p[1] << 8));
}

void writeU16(BYTE* p, WORD value) {
    p[0] = static_cast<BYTE>(value & 0xFF);
    p[1] = static_cast<BYTE>(value >> 8);
}

}  // namespace

bool isValidBucketKind(BYTE kind) {
    return kind >= 2 && kind <= 11 && kind != 8;
}

bool isGuardedBucketKind(BYTE kind) {
    switch (kind) {
    case 3: case 4: case 6: case 7: case 9: case 10: case 11:
        return true;
    default:
        return false;
    }
}

DWORD bucketHeaderBytes(BYTE kind, LONG peerProtocolNumber) {
    if (!isGuardedBucketKind(kind)) {
        return 5;
    }
    return peerProtocolNumber >= 2 ? 5 + 2 + kCheckHeaderBytes : 5 + kCheckHeaderBytes;
}

LONG DecodedBucket::checkHeaderValue() const {
    char text[kCheckHeaderBytes + 1] = {};
    std::memcpy(text, CheckHeader, kCheckHeaderBytes);
    return static_cast<LONG>(std::strtol(text, nullptr, 10));
}

bool DecodedBucket::checksumMatches() const {
    if (Payload == nullptr && BucketLen != 0) {
        return false;
    }
    return checkHeaderValue() == WireChecksum({Payload, BucketLen});
}

BucketDecoder::BucketDecoder(DWORD bucketBuffLen)
    : m_bucketBuffLen(bucketBuffLen), m_payload(static_cast<std::size_t>(bucketBuffLen) + 1, 0) {
    m_current.Payload = m_payload.data();
}

void BucketDecoder::setBucketBuffLen(DWORD bucketBuffLen) {
    m_bucketBuffLen = bucketBuffLen;
    m_payload.assign(static_cast<std::size_t>(bucketBuffLen) + 1, 0);
    m_current = DecodedBucket{};
    m_current.Payload = m_payload.data();
}

void BucketDecoder::reportError(DecodeError error) {
    linkTrace(1, "CPacketConnection::PacketDecodeError ->PacketDecodeError %d", static_cast<int>(error));
    if (onDecodeError) {
        onDecodeError(error);
    }
}

bool BucketDecoder::getBucket(BYTE* buffer, DWORD capacity, ParseCursor& cursor) {
    m_current.BucketType = 0;
    m_current.BucketLen = 0;
    // The data can never exceed the buffer that holds it.
    const DWORD dataLength = std::min(cursor.dataLength, capacity);
    if (buffer == nullptr || dataLength == 0 || cursor.nextIndex > dataLength - 1) {
        cursor.remaining = 0;
        cursor.nextIndex = 0;
        return false;
    }
    // A bucket must fit both our payload buffer and the caller's buffer, or it
    // could never be completed there.
    const DWORD limit = std::min(m_bucketBuffLen, capacity);

    DWORD i = cursor.nextIndex;
    while (i < dataLength) {
        if (dataLength - i < 5) {
            std::memmove(buffer, buffer + i, dataLength - i);
            cursor.remaining = dataLength - i;
            cursor.nextIndex = 0;
            return false;
        }
        if (buffer[i] != kBucketMarker) {
            ++i;
            continue;
        }
        const WORD type = readU16(buffer + i + 1);
        const BYTE kind = static_cast<BYTE>(type & 0xFF);
        if (!isValidBucketKind(kind)) {
            linkTrace(5,
                      "CPacketConnection::GetBucket ERR PD_INVPTYPE Index = %ld EndIndex = %ld "
                      "BucketBuffLen=%ld CurrBucket.BucketType = %ld",
                      static_cast<long>(i), static_cast<long>(dataLength),
                      static_cast<long>(m_bucketBuffLen), static_cast<long>(type));
            reportError(DecodeError::InvalidType);
            linkTrace(5, "CPacketConnection::GetBucket  PD_INVPTYPE Index is %d", static_cast<int>(i));
            ++i;
            continue;
        }
        const DWORD length = readU16(buffer + i + 3);
        const DWORD headerBytes = bucketHeaderBytes(kind, m_peerProtocolNumber);
        // 64-bit so no length can wrap the end index.
        const ULONGLONG end = static_cast<ULONGLONG>(i) + headerBytes + length + 1;
        if (end - i > kMaxBucketBytes) {
            linkTrace(1, "CPacketConnection::GetBucket Error!!!! Bucket length too long #1... Illegal bucket");
            ++i;
            continue;
        }
        // Compared by the bucket's own length: a whole bucket that starts late
        // in a full buffer is moved to the front and fits there.
        if (end - i > limit) {
            linkTrace(1, "GetBucket() Error!!!! Bucket length too long #2... Illegal bucket");
            linkTrace(5,
                      "CPacketConnection::GetBucket ERR: PD_TOOLONG Index = %ld EndIndex = %ld "
                      "BucketBuffLen=%ld\n",
                      static_cast<long>(i), static_cast<long>(end), static_cast<long>(limit));
            reportError(DecodeError::TooLong);
            ++i;
            continue;
        }
        if (end > dataLength) {
            std::memmove(buffer, buffer + i, dataLength - i);
            if (buffer[0] != kBucketMarker) {
                linkTrace(1, "CPacketConnection::GetBucket() Severe ERR");
            }
            cursor.remaining = dataLength - i;
            cursor.nextIndex = 0;
            return false;
        }
        if (buffer[end - 1] != kBucketMarker) {
            // BucketNo exists only in guarded buckets of a protocol-2 peer.
            m_current.BucketNo = (headerBytes == 23) ? readU16(buffer + i + 5) : 0;
            reportError(DecodeError::EndMarker);
            linkTrace(5, "CPacketConnection::GetBucket() PD_ENDMARKER");
            ++i;
            continue;
        }

        m_current.StartMarker = kBucketMarker;
        m_current.BucketType = type;
        m_current.BucketLen = length;
        m_current.BucketNo = 0;
        std::memset(m_current.CheckHeader, 0, sizeof m_current.CheckHeader);
        DWORD at = i + 5;
        if (isGuardedBucketKind(kind)) {
            if (m_peerProtocolNumber >= 2) {
                m_current.BucketNo = readU16(buffer + at);
                at += 2;
            }
            std::memcpy(m_current.CheckHeader, buffer + at, kCheckHeaderBytes);
            at += kCheckHeaderBytes;
        }
        std::memcpy(m_payload.data(), buffer + at, length);
        m_payload[length] = 0;
        m_current.Payload = m_payload.data();
        cursor.nextIndex = static_cast<DWORD>(end);
        cursor.remaining = dataLength;
        return true;
    }
    linkTrace(5, "CPacketConnection::GetBucket() The bucket was not found");
    cursor.remaining = 0;
    cursor.nextIndex = 0;
    return false;
}

DWORD buildBucket(std::span<BYTE> out, WORD bucketType, const BYTE* payload, DWORD length,
                  LONG peerProtocolNumber, WORD bucketNo, DWORD maxBucketBytes) {
    return buildBucketWithCheck(out, bucketType, payload, length, peerProtocolNumber, bucketNo,
                                maxBucketBytes, nullptr);
}

DWORD buildBucketWithCheck(std::span<BYTE> out, WORD bucketType, const BYTE* payload, DWORD length,
                           LONG peerProtocolNumber, WORD bucketNo, DWORD maxBucketBytes,
                           const char* checkHeader) {
    const BYTE kind = static_cast<BYTE>(bucketType & 0xFF);
    const DWORD headerBytes = bucketHeaderBytes(kind, peerProtocolNumber);
    const ULONGLONG bucketBytes = static_cast<ULONGLONG>(headerBytes) + length + 1;
    if (length > 0xFFFF || (payload == nullptr && length != 0) || bucketBytes > kMaxBucketBytes ||
        bucketBytes > maxBucketBytes || bucketBytes + 1 > out.size()) {
        return 0;
    }
    BYTE* p = out.data();
    // Only the bytes of this bucket are cleared: the check header's padding
    // and the trailing 0x00 must be zero; the rest of the buffer is unused.
    std::memset(p, 0, bucketBytes + 1);
    p[0] = kBucketMarker;
    writeU16(p + 1, bucketType);
    writeU16(p + 3, static_cast<WORD>(length));
    DWORD at = 5;
    if (isGuardedBucketKind(kind)) {
        if (peerProtocolNumber >= 2) {
            writeU16(p + at, bucketNo);
            at += 2;
        }
        if (checkHeader != nullptr) {
            std::snprintf(reinterpret_cast<char*>(p + at), kCheckHeaderBytes, "%s", checkHeader);
        } else {
            std::snprintf(reinterpret_cast<char*>(p + at), kCheckHeaderBytes, "%ld",
                          static_cast<long>(WireChecksum({payload, length})));
        }
        at += kCheckHeaderBytes;
    }
    if (length != 0) {
        std::memcpy(p + at, payload, length);
    }
    p[at + length] = kBucketMarker;
    return static_cast<DWORD>(bucketBytes + 1);
}

}  // namespace trennick
