#pragma once
// Text in fixed-size character fields: the fields of records kept in files or
// sent on the wire, and buffers whose size a caller gives.

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace fixed_text {

// The text a field holds: up to its terminator, or the whole field when the
// text fills it and no terminator follows (as in a record from a peer).
inline std::string Read(const void* field, std::size_t size) {
    if (field == nullptr) return {};
    const char* text = static_cast<const char*>(field);
    return std::string(text, ::strnlen(text, size));
}

template <std::size_t N>
std::string Read(const char (&field)[N]) {
    return Read(field, N);
}

// Writes text into a field of `size` bytes, cut to leave room for the
// terminator; the rest of the field is zeroed, so no stale bytes follow it
// into a file or onto the wire.
inline void Write(char* field, std::size_t size, std::string_view text) {
    if (field == nullptr || size == 0) return;
    const std::size_t length = std::min(text.size(), size - 1);
    std::memmove(field, text.data(), length);
    std::memset(field + length, 0, size - length);
}

template <std::size_t N>
void Write(char (&field)[N], std::string_view text) {
    Write(field, N, text);
}

}  // namespace fixed_text
