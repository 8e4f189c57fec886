#include "qel/jpeg_glue.h"

#include <algorithm>
#include <cstring>

namespace qel {
namespace {

// libjpeg requires the fatal error exit not to return: format the message into
// the codec's text and jump back to the guarded call.
[[noreturn]] void errorExit(j_common_ptr cinfo) {
    auto* hook = reinterpret_cast<ErrorHook*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, hook->text);
    std::longjmp(hook->jump, 1);
}

// Warnings and trace lines land in the text too, never on the console.
void outputMessage(j_common_ptr cinfo) {
    auto* hook = reinterpret_cast<ErrorHook*>(cinfo->err);
    char line[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, line);
    std::snprintf(hook->text, hook->textBytes, "%s", line);
}

const JOCTET kEmptyStream[4] = {0xFF, 0xD8, 0xFF, 0xD9};
const JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};

void sourceNothing(j_decompress_ptr) {}

boolean sourceFill(j_decompress_ptr cinfo) {
    // Never hand libjpeg an empty buffer: it would read past it.
    auto* source = reinterpret_cast<MemorySource*>(cinfo->src);
    if (source->pastEnd == PastEnd::Fail) {
        ERREXIT(cinfo, JERR_INPUT_EOF);
    }
    WARNMS(cinfo, JWRN_JPEG_EOF);
    source->pub.next_input_byte = kFakeEoi;
    source->pub.bytes_in_buffer = sizeof kFakeEoi;
    return TRUE;
}

void sourceSkip(j_decompress_ptr cinfo, long count) {
    if (count <= 0) {
        return;
    }
    auto* source = cinfo->src;
    while (static_cast<std::size_t>(count) > source->bytes_in_buffer) {
        count -= static_cast<long>(source->bytes_in_buffer);
        source->bytes_in_buffer = 0;
        (*source->fill_input_buffer)(cinfo);
    }
    source->next_input_byte += count;
    source->bytes_in_buffer -= static_cast<std::size_t>(count);
}

void destinationNothing(j_compress_ptr) {}

// The encoder calls this when the room is used up: count what follows in a
// scratch area instead of writing past the caller's buffer.
boolean destinationEmpty(j_compress_ptr cinfo) {
    auto* destination = reinterpret_cast<MemoryDestination*>(cinfo->dest);
    if (destination->spilled) {
        destination->overflowBytes += sizeof destination->scratch - destination->pub.free_in_buffer;
    }
    destination->spilled = true;
    destination->pub.next_output_byte = destination->scratch;
    destination->pub.free_in_buffer = sizeof destination->scratch;
    return TRUE;
}


// The values of the four standard tables (T.81 Annex K.3).
const uint8_t kDcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const uint8_t kAcLuminanceValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
    0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
    0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
    0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
    0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
const uint8_t kAcChrominanceValues[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
    0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
    0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
    0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
    0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
    0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
    0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
    0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
    0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
    0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

const StandardTable kStandardTables[4] = {
    {0x00, {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0}, kDcValues, 12},
    {0x01, {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0}, kDcValues, 12},
    {0x10, {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d}, kAcLuminanceValues, 162},
    {0x11, {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77}, kAcChrominanceValues, 162},
};

void fillTable(j_decompress_ptr cinfo, JHUFF_TBL*& slot, const StandardTable& table) {
    if (slot == nullptr) {
        slot = jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(cinfo));
    }
    slot->bits[0] = 0;
    std::memcpy(&slot->bits[1], table.counts, 16);
    std::memset(slot->huffval, 0, sizeof slot->huffval);
    std::memcpy(slot->huffval, table.values, table.valueCount);
    slot->sent_table = FALSE;
}

}  // namespace

jpeg_error_mgr* installErrorHook(ErrorHook& hook, char* text, std::size_t textBytes) {
    jpeg_std_error(&hook.pub);
    hook.pub.error_exit = errorExit;
    hook.pub.output_message = outputMessage;
    hook.text = text;
    hook.textBytes = textBytes;
    return &hook.pub;
}

bool runGuarded(ErrorHook& hook, GuardedStep step, void* state) {
    if (setjmp(hook.jump) != 0) {
        return false;
    }
    return step(state);
}

void attachMemorySource(j_decompress_ptr cinfo, MemorySource& source, const uint8_t* data,
                        std::size_t length, PastEnd pastEnd) {
    std::memset(&source, 0, sizeof source);
    source.pub.init_source = sourceNothing;
    source.pub.fill_input_buffer = sourceFill;
    source.pub.skip_input_data = sourceSkip;
    source.pub.resync_to_restart = jpeg_resync_to_restart;
    source.pub.term_source = sourceNothing;
    if (length == 0 || data == nullptr) {
        source.pub.next_input_byte = kEmptyStream;
        source.pub.bytes_in_buffer = sizeof kEmptyStream;
    } else {
        source.pub.next_input_byte = data;
        source.pub.bytes_in_buffer = length;
    }
    source.pastEnd = pastEnd;
    cinfo->src = &source.pub;
}

void attachMemoryDestination(j_compress_ptr cinfo, MemoryDestination& destination,
                             uint8_t* buffer, std::size_t capacity) {
    destination.pub.init_destination = destinationNothing;
    destination.pub.empty_output_buffer = destinationEmpty;
    destination.pub.term_destination = destinationNothing;
    destination.buffer = buffer;
    destination.capacity = buffer == nullptr ? 0 : capacity;
    destination.overflowBytes = 0;
    destination.spilled = destination.capacity == 0;
    if (destination.spilled) {
        destination.pub.next_output_byte = destination.scratch;
        destination.pub.free_in_buffer = sizeof destination.scratch;
    } else {
        destination.pub.next_output_byte = buffer;
        destination.pub.free_in_buffer = capacity;
    }
    cinfo->dest = &destination.pub;
}

std::size_t bytesWritten(const MemoryDestination& destination) {
    if (destination.spilled) {
        return destination.capacity;
    }
    return destination.capacity - destination.pub.free_in_buffer;
}

std::size_t bytesNeeded(const MemoryDestination& destination) {
    if (destination.spilled) {
        return destination.capacity + destination.overflowBytes +
               (sizeof destination.scratch - destination.pub.free_in_buffer);
    }
    return bytesWritten(destination);
}

bool overflowed(const MemoryDestination& destination) {
    return bytesNeeded(destination) > destination.capacity;
}

const StandardTable& standardTable(int index) { return kStandardTables[index & 3]; }

void installStandardTables(j_decompress_ptr cinfo, bool overwrite) {
    for (int slot = 0; slot < 2; ++slot) {
        if (overwrite || cinfo->dc_huff_tbl_ptrs[slot] == nullptr) {
            fillTable(cinfo, cinfo->dc_huff_tbl_ptrs[slot], kStandardTables[slot]);
        }
        if (overwrite || cinfo->ac_huff_tbl_ptrs[slot] == nullptr) {
            fillTable(cinfo, cinfo->ac_huff_tbl_ptrs[slot], kStandardTables[2 + slot]);
        }
    }
}

}  // namespace qel
