#pragma once
// The pieces every libjpeg codec of the library shares: the error hook that
// turns a fatal libjpeg error into a returned failure, memory sources and
// destinations that never run past their buffers, and the standard Huffman
// tables.

#include <cstddef>
#include <cstdint>
#include <csetjmp>
#include <cstdio>

#define JPEG_INTERNALS
#include <jpeglib.h>
#include <jerror.h>

namespace qel {

// libjpeg's error manager plus the jump back to the guarded call and the text
// that receives the last message. One per codec object; used on one thread.
struct ErrorHook {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char* text;              // the message buffer (never null once installed)
    std::size_t textBytes;
};

// Installs the hook into `cinfo->err` form; messages go to `text`.
jpeg_error_mgr* installErrorHook(ErrorHook& hook, char* text, std::size_t textBytes);

// Runs `step(state)` with libjpeg's fatal error exit bound to a jump back here.
// Returns false when the step failed or libjpeg reported a fatal error. The step
// must keep no object with a destructor alive across its libjpeg calls.
using GuardedStep = bool (*)(void* state);
bool runGuarded(ErrorHook& hook, GuardedStep step, void* state);

// How a memory source answers a read past its end.
enum class PastEnd {
    Fail,      // a fatal "premature end" error
    FakeEoi,   // an end-of-image marker, as libjpeg's own sources do
};

// Source over a caller's buffer, handed out whole. With length 0 it reads the
// 4-byte stream FF D8 FF D9 (kept inside the source, the caller's buffer is
// never written).
struct MemorySource {
    jpeg_source_mgr pub;
    PastEnd pastEnd;
};
void attachMemorySource(j_decompress_ptr cinfo, MemorySource& source, const uint8_t* data,
                        std::size_t length, PastEnd pastEnd);

// Destination over a caller's buffer of fixed capacity. What does not fit is
// counted, not written, so the caller learns the size it would need.
struct MemoryDestination {
    jpeg_destination_mgr pub;
    uint8_t* buffer;
    std::size_t capacity;
    std::size_t overflowBytes;  // produced beyond the capacity, scratch passes
    bool spilled;               // writing into the scratch area
    uint8_t scratch[4096];
};
void attachMemoryDestination(j_compress_ptr cinfo, MemoryDestination& destination,
                             uint8_t* buffer, std::size_t capacity);
// Bytes written into the caller's buffer so far.
std::size_t bytesWritten(const MemoryDestination& destination);
// Bytes the stream needs in all (written plus counted past the capacity).
std::size_t bytesNeeded(const MemoryDestination& destination);
// True when the stream did not fit into the caller's buffer.
bool overflowed(const MemoryDestination& destination);

// The four standard tables (T.81 Annex K.3) in define-Huffman-table body form:
// class/id byte, 16 counts, the values.
struct StandardTable {
    uint8_t classAndId;
    uint8_t counts[16];
    const uint8_t* values;
    std::size_t valueCount;
};
// DC 0, DC 1, AC 0, AC 1.
const StandardTable& standardTable(int index);

// Puts the standard table into every DC and AC slot 0 and 1 that the stream
// left empty (all of them when `overwrite`).
void installStandardTables(j_decompress_ptr cinfo, bool overwrite);

}  // namespace qel
