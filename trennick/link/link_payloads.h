#pragma once
// Payload forms shared by several services of the link: the guarded record
// (a 32-bit wire checksum, a 16-bit length and the bytes) behind a token, and
// the bracketed decimal fields of the text requests. The parsers trust no
// length in the payload.

#include "platform/types.h"

#include <optional>
#include <string_view>
#include <vector>

namespace trennick {

// token, u32 wire checksum of the bytes, u16 length, the bytes. Empty when
// the bytes do not fit a 16-bit length.
std::vector<BYTE> buildGuardedPayload(std::string_view token, const BYTE* bytes, DWORD length);
// The token's text followed by the body.
std::vector<BYTE> buildTokenPayload(WORD tokenId, const std::vector<BYTE>& body);

enum class GuardedResult { Ok, Short, BadLength, BadChecksum };
struct GuardedRecord {
    GuardedResult result = GuardedResult::Short;
    const BYTE* bytes = nullptr;  // points into the body
    WORD length = 0;              // the length field
    LONG readChecksum = 0;
    LONG calcChecksum = 0;
};
// Reads the record behind a token. BadLength when the length field reaches
// past the body; BadChecksum when the bytes do not match their checksum.
GuardedRecord parseGuardedPayload(const BYTE* body, DWORD length);

// Reads bracketed fields one after another: "<12><PAGE3>< 4>". A field is
// the text from behind its "<" (or from the cursor when no "<" stands there)
// to the next ">".
class BracketFields {
public:
    BracketFields(const BYTE* text, DWORD length) : m_text(text), m_length(length) {}
    // The next field's text, or nullopt when it would start at or behind the
    // end or has no closing ">". `start` gets the position it would start at.
    std::optional<std::string_view> next(DWORD* start = nullptr);
    // The next field as a decimal number.
    std::optional<long> nextNumber(DWORD* start = nullptr);
    DWORD position() const { return m_at; }

private:
    const BYTE* m_text;
    DWORD m_length;
    DWORD m_at = 0;
};

WORD readLe16(const BYTE* p);
DWORD readLe32(const BYTE* p);
void appendLe16(std::vector<BYTE>& out, WORD value);
void appendLe32(std::vector<BYTE>& out, DWORD value);

}  // namespace trennick
