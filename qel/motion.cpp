// Motion detection and delta messages on the DCT coefficients of baseline JPEG
// frames, without decoding them to pixels.
//
// Sending side: each opened frame is entropy-decoded into its coefficient
// arrays once; the luminance blocks' first `depth` dequantised coefficients go
// into the current history entry and are compared with the previous entry, MCU
// by MCU, stopping at each changed MCU. A delta message carries the changed
// MCUs as an abbreviated JPEG stream with a restart interval of one MCU: each
// MCU is flushed to a byte boundary and stands on its own, so the message is
// complete after every step and the receiver never needs bits that were not
// written.
//
// Receiving side: the key frame is decoded in buffered-image mode; a delta's
// MCUs replace the key frame's coefficients and the picture is rendered again.

#include "qel/jpeg_glue.h"
#include "qel/qel.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

namespace {

using qel::ErrorHook;
using qel::MemoryDestination;
using qel::MemorySource;
using qel::PastEnd;

constexpr int kMaxBlocksInMcu = 10;
constexpr int kMaxHistory = 4096;
// Frames are held whole as coefficients: refuse sizes no camera gives, so a
// forged header cannot make the library ask for gigabytes.
constexpr JDIMENSION kMaxFrameSide = 4096;
constexpr long kMaxCodecMemory = 256L * 1024 * 1024;

struct MotionState {
    ErrorHook hook{};
    char text[JMSG_LENGTH_MAX] = {};

    jpeg_decompress_struct key{};
    bool keyCreated = false;
    MemorySource keySource{};
    std::vector<uint8_t> keyData;

    jpeg_compress_struct encoder{};
    bool encoderCreated = false;
    MemoryDestination destination{};

    int32_t statistics[8] = {};
    JCOEF mcuBuffer[kMaxBlocksInMcu * DCTSIZE2] = {};
    int bufferMcu = -1;  // the MCU whose coefficients the buffer holds

    // MCU layout of the open frame.
    int components = 0;
    int mcuWide[MAX_COMPONENTS] = {};  // blocks of each component per MCU
    int mcuHigh[MAX_COMPONENTS] = {};
    int blocksInMcu = 0;
    int lumaBlocksInMcu = 0;

    std::vector<std::vector<int16_t>> history;
    std::size_t entrySize = 0;
    int current = 0;
    int previous = 0;

    bool restart = false;
    int resumeMcu = 0;

    std::vector<uint8_t> blockMask;
    std::vector<uint8_t> region;
    bool regionChanged = true;

    jvirt_barray_ptr* keyArrays = nullptr;  // the open frame's coefficients
    JSAMPARRAY renderRow = nullptr;

    // The delta being built.
    bool deltaStarted = false;
    int encodedMcus = 0;
    int lastEncodedMcu = -1;
};

MotionState* stateOf(QelMotionContext* context) {
    if (context == nullptr || !context->libraryOpen) {
        return nullptr;
    }
    return static_cast<MotionState*>(context->state);
}

int32_t saturate32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

void addSaturated(int32_t& word, int64_t amount) { word = saturate32(int64_t{word} + amount); }

int depthOf(const QelMotionContext* context) {
    return std::clamp(context->depth, 1, DCTSIZE2);
}

std::size_t lumaBlockCount(const QelMotionContext* context, const MotionState* state) {
    return std::size_t(std::max(context->mcuCount, 0)) * std::size_t(state->lumaBlocksInMcu);
}

void resetPassStatistics(MotionState* state) {
    state->statistics[3] = 0;
    state->statistics[4] = INT32_MIN;
    state->statistics[5] = INT32_MAX;
    state->statistics[6] = 0;
    state->statistics[7] = 0;
}

void advanceIndices(QelMotionContext* context, MotionState* state) {
    state->previous = state->current;
    state->current = context->historySize > 0 ? (state->current + 1) % context->historySize : 0;
}

bool entriesReady(const MotionState* state) {
    return state->entrySize > 0 && state->current < int(state->history.size()) &&
           state->previous < int(state->history.size()) &&
           state->history[state->current].size() == state->entrySize &&
           state->history[state->previous].size() == state->entrySize;
}

void rebuildBlockMask(QelMotionContext* /*context*/, MotionState* state) {
    const auto& luma = state->key.comp_info[0];
    const std::size_t length = std::size_t(luma.width_in_blocks) * luma.height_in_blocks;
    if (length == state->blockMask.size() && !state->regionChanged) {
        return;
    }
    state->regionChanged = false;
    try {
        state->blockMask.assign(length, 1);
    } catch (const std::bad_alloc&) {
        state->blockMask.clear();
        return;
    }
    const std::size_t bits = std::min(state->region.size() * 8, length);
    for (std::size_t k = 0; k < bits; ++k) {
        state->blockMask[k] = (state->region[k / 8] >> (k % 8)) & 1;
    }
}

void destroyCodecs(MotionState* state) {
    if (state->keyCreated) {
        jpeg_destroy_decompress(&state->key);
        state->keyCreated = false;
    }
    if (state->encoderCreated) {
        jpeg_destroy_compress(&state->encoder);
        state->encoderCreated = false;
    }
    state->keyArrays = nullptr;
    state->renderRow = nullptr;
    state->deltaStarted = false;
    state->bufferMcu = -1;
}

// ---- guarded steps (no object with a destructor lives in them)

bool openKeyStep(void* p) {
    auto* state = static_cast<MotionState*>(p);
    jpeg_decompress_struct* key = &state->key;
    key->err = &state->hook.pub;
    jpeg_create_decompress(key);
    state->keyCreated = true;
    key->mem->max_memory_to_use = kMaxCodecMemory;
    qel::attachMemorySource(key, state->keySource, state->keyData.data(), state->keyData.size(),
                            PastEnd::Fail);
    if (jpeg_read_header(key, FALSE) != JPEG_HEADER_OK) {
        return false;  // tables only, no picture
    }
    if (key->image_width > kMaxFrameSide || key->image_height > kMaxFrameSide ||
        key->progressive_mode || key->arith_code || key->num_components < 1 ||
        key->num_components > MAX_COMPONENTS) {
        return false;
    }
    qel::installStandardTables(key, false);
    state->components = key->num_components;
    state->blocksInMcu = 0;
    for (int c = 0; c < key->num_components; ++c) {
        const bool single = key->num_components == 1;
        state->mcuWide[c] = single ? 1 : key->comp_info[c].h_samp_factor;
        state->mcuHigh[c] = single ? 1 : key->comp_info[c].v_samp_factor;
        state->blocksInMcu += state->mcuWide[c] * state->mcuHigh[c];
    }
    state->lumaBlocksInMcu = state->mcuWide[0] * state->mcuHigh[0];
    return state->blocksInMcu <= kMaxBlocksInMcu;
}

bool openEncoderStep(void* p) {
    auto* state = static_cast<MotionState*>(p);
    jpeg_compress_struct* encoder = &state->encoder;
    const jpeg_decompress_struct* key = &state->key;
    encoder->err = &state->hook.pub;
    jpeg_create_compress(encoder);
    state->encoderCreated = true;
    encoder->image_width = key->image_width;
    encoder->image_height = key->image_height;
    if (key->num_components == 3 && key->jpeg_color_space == JCS_YCbCr) {
        encoder->input_components = 3;
        encoder->in_color_space = JCS_RGB;
        jpeg_set_defaults(encoder);
        jpeg_set_colorspace(encoder, JCS_YCbCr);
    } else if (key->num_components == 1) {
        encoder->input_components = 1;
        encoder->in_color_space = JCS_GRAYSCALE;
        jpeg_set_defaults(encoder);
        jpeg_set_colorspace(encoder, JCS_GRAYSCALE);
    } else {
        return false;
    }
    // The delta codes the MCUs with the frame's own layout.
    for (int c = 0; c < key->num_components; ++c) {
        encoder->comp_info[c].h_samp_factor = key->comp_info[c].h_samp_factor;
        encoder->comp_info[c].v_samp_factor = key->comp_info[c].v_samp_factor;
    }
    encoder->restart_interval = 1;
    encoder->optimize_coding = FALSE;
    jpeg_suppress_tables(encoder, TRUE);
    return true;
}

bool readCoefficientsStep(void* p) {
    auto* state = static_cast<MotionState*>(p);
    state->keyArrays = jpeg_read_coefficients(&state->key);
    if (state->keyArrays == nullptr) {
        return false;
    }
    for (int c = 0; c < state->components; ++c) {
        if (state->key.comp_info[c].quant_table == nullptr) {
            return false;
        }
    }
    return true;
}

// Pointer to block (i, j) of component c inside MCU `mcu` of the open frame.
JCOEF* frameBlock(MotionState* state, jvirt_barray_ptr* arrays, j_decompress_ptr cinfo, int mcu,
                  int mcuColumns, int c, int j, int i, boolean writable) {
    const int row = mcu / mcuColumns;
    const int column = mcu % mcuColumns;
    JBLOCKARRAY blocks = (*cinfo->mem->access_virt_barray)(
        reinterpret_cast<j_common_ptr>(cinfo), arrays[c],
        JDIMENSION(row * state->mcuHigh[c] + j), 1, writable);
    return blocks[0][column * state->mcuWide[c] + i];
}

struct PassJob {
    QelMotionContext* context;
    MotionState* state;
    bool compare;  // false: store only
    int found;     // changed MCU, -1 when none
};

JCOEF clampCoefficient(int value) { return JCOEF(std::clamp(value, -1023, 1023)); }

void fillMcuBuffer(PassJob* job, int mcu) {
    MotionState* state = job->state;
    JCOEF* out = state->mcuBuffer;
    for (int c = 0; c < state->components; ++c) {
        const UINT16* steps = state->key.comp_info[c].quant_table->quantval;
        for (int j = 0; j < state->mcuHigh[c]; ++j) {
            for (int i = 0; i < state->mcuWide[c]; ++i) {
                const JCOEF* block = frameBlock(state, state->keyArrays, &state->key, mcu,
                                                job->context->mcuColumns, c, j, i, FALSE);
                for (int n = 0; n < DCTSIZE2; ++n) {
                    out[n] = clampCoefficient(int(block[n]) * int(steps[n]));
                }
                out += DCTSIZE2;
            }
        }
    }
    state->bufferMcu = mcu;
}

bool passStep(void* p) {
    auto* job = static_cast<PassJob*>(p);
    QelMotionContext* context = job->context;
    MotionState* state = job->state;
    const int depth = depthOf(context);
    const UINT16* steps = state->key.comp_info[0].quant_table->quantval;
    int16_t* current = state->history[state->current].data();
    const int16_t* previous = state->history[state->previous].data();
    int32_t* stats = state->statistics;
    job->found = -1;
    for (int mcu = state->resumeMcu; mcu < context->mcuCount; ++mcu) {
        bool changed = false;
        int b = 0;
        for (int j = 0; j < state->mcuHigh[0]; ++j) {
            for (int i = 0; i < state->mcuWide[0]; ++i, ++b) {
                const std::size_t k = std::size_t(mcu) * state->lumaBlocksInMcu + b;
                const std::size_t at = k * std::size_t(depth);
                const JCOEF* block = frameBlock(state, state->keyArrays, &state->key, mcu,
                                                context->mcuColumns, 0, j, i, FALSE);
                for (int n = 0; n < depth; ++n) {
                    const int value = int(block[n]) * int(steps[n]);
                    current[at + n] = int16_t(std::clamp(value, -32768, 32767));
                }
                if (!job->compare) {
                    continue;
                }
                const int dc = current[at];
                stats[4] = std::max(stats[4], dc);
                stats[5] = std::min(stats[5], dc);
                addSaturated(stats[6], int64_t(dc) * dc);
                addSaturated(stats[7], dc);
                if (k < state->blockMask.size() && state->blockMask[k] == 0) {
                    continue;
                }
                for (int n = 0; n < depth; ++n) {
                    const int difference = std::abs(int(current[at + n]) - int(previous[at + n]));
                    addSaturated(stats[3], difference);
                    if (difference >= int(steps[n]) && difference > context->deltaThreshold) {
                        changed = true;
                    }
                }
            }
        }
        if (changed) {
            addSaturated(stats[1], 1);
            addSaturated(stats[2], 1);
            state->resumeMcu = mcu + 1;
            fillMcuBuffer(job, mcu);
            job->found = mcu;
            return true;
        }
    }
    state->resumeMcu = context->mcuCount;
    return true;
}

struct RemainingJob {
    QelMotionContext* context;
    MotionState* state;
};

bool remainingStep(void* p) {
    auto* job = static_cast<RemainingJob*>(p);
    PassJob pass{job->context, job->state, false, -1};
    for (int mcu = job->state->resumeMcu; mcu < job->context->mcuCount; ++mcu) {
        fillMcuBuffer(&pass, mcu);
    }
    job->state->resumeMcu = job->context->mcuCount;
    return true;
}

void putByte(j_compress_ptr cinfo, JOCTET byte) {
    if (cinfo->dest->free_in_buffer == 0) {
        (*cinfo->dest->empty_output_buffer)(cinfo);
    }
    *cinfo->dest->next_output_byte++ = byte;
    --cinfo->dest->free_in_buffer;
}

struct DeltaStartJob {
    MotionState* state;
    int quality;
};

bool deltaStartStep(void* p) {
    auto* job = static_cast<DeltaStartJob*>(p);
    jpeg_compress_struct* encoder = &job->state->encoder;
    if (encoder->global_state != CSTATE_START) {
        jpeg_abort_compress(encoder);
    }
    if (job->quality >= 0 && job->quality <= 100) {
        jpeg_set_quality(encoder, job->quality, TRUE);
    }
    jpeg_start_compress(encoder, FALSE);
    (*encoder->marker->write_frame_header)(encoder);
    (*encoder->marker->write_scan_header)(encoder);
    return true;
}

bool deltaMcuStep(void* p) {
    auto* state = static_cast<MotionState*>(p);
    jpeg_compress_struct* encoder = &state->encoder;
    if (encoder->global_state != CSTATE_SCANNING || encoder->blocks_in_MCU != state->blocksInMcu) {
        return false;
    }
    if (state->encodedMcus > 0) {
        putByte(encoder, 0xFF);
        putByte(encoder, JOCTET(JPEG_RST0 + ((state->encodedMcus - 1) & 7)));
    }
    JBLOCKROW blocks[C_MAX_BLOCKS_IN_MCU];
    for (int b = 0; b < state->blocksInMcu; ++b) {
        blocks[b] = reinterpret_cast<JBLOCKROW>(state->mcuBuffer + b * DCTSIZE2);
    }
    // Each MCU is one restart interval: fresh DC predictions, flushed bits.
    (*encoder->entropy->start_pass)(encoder, FALSE);
    if (!(*encoder->entropy->encode_mcu)(encoder, blocks)) {
        return false;
    }
    (*encoder->entropy->finish_pass)(encoder);
    return true;
}

struct StartScanJob {
    MotionState* state;
};

bool startScanStep(void* p) {
    auto* state = static_cast<StartScanJob*>(p)->state;
    jpeg_decompress_struct* key = &state->key;
    if (key->global_state != DSTATE_READY) {
        return false;
    }
    key->buffered_image = TRUE;
    if (!jpeg_start_decompress(key)) {
        return false;
    }
    for (;;) {
        const int result = jpeg_consume_input(key);
        if (result == JPEG_REACHED_EOI) {
            break;
        }
        if (result == JPEG_SUSPENDED) {
            return false;
        }
    }
    state->keyArrays = key->coef->coef_arrays;
    state->renderRow = (*key->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(key), JPOOL_IMAGE,
                                                 key->output_width * key->out_color_components, 1);
    for (int c = 0; c < state->components; ++c) {
        if (key->comp_info[c].quant_table == nullptr) {
            return false;
        }
    }
    return state->keyArrays != nullptr;
}

struct ScanJob {
    QelMotionContext* context;
    MotionState* state;
};

bool scanStep(void* p) {
    auto* job = static_cast<ScanJob*>(p);
    jpeg_decompress_struct* key = &job->state->key;
    if (!jpeg_start_output(key, key->input_scan_number)) {
        return false;
    }
    const int height = int(key->output_height);
    while (key->output_scanline < key->output_height) {
        const int row = int(key->output_scanline);
        if (jpeg_read_scanlines(key, job->state->renderRow, 1) != 1) {
            return false;
        }
        if (job->context->drawLine != nullptr) {
            job->context->drawLine(job->state->renderRow[0], int(key->output_width), height - row);
        }
    }
    return jpeg_finish_output(key) != FALSE;
}

struct DecodeJob {
    QelMotionContext* context;
    MotionState* state;
    const BYTE* bitmap;
    const BYTE* stream;
    std::size_t streamBytes;
    jpeg_decompress_struct reader;
    MemorySource source;
    bool created;
};

bool decodeStep(void* p) {
    auto* job = static_cast<DecodeJob*>(p);
    MotionState* state = job->state;
    jpeg_decompress_struct* key = &state->key;
    jpeg_decompress_struct* reader = &job->reader;
    reader->err = &state->hook.pub;
    jpeg_create_decompress(reader);
    job->created = true;
    reader->mem->max_memory_to_use = kMaxCodecMemory;
    // The sender writes no end-of-image marker: the end of the message ends it.
    qel::attachMemorySource(reader, job->source, job->stream, job->streamBytes, PastEnd::FakeEoi);
    if (jpeg_read_header(reader, FALSE) != JPEG_HEADER_OK) {
        return false;
    }
    if (reader->image_width != key->image_width || reader->image_height != key->image_height ||
        reader->num_components != key->num_components || reader->progressive_mode ||
        reader->arith_code) {
        return false;
    }
    for (int c = 0; c < reader->num_components; ++c) {
        if (reader->comp_info[c].h_samp_factor != key->comp_info[c].h_samp_factor ||
            reader->comp_info[c].v_samp_factor != key->comp_info[c].v_samp_factor) {
            return false;
        }
    }
    qel::installStandardTables(reader, false);
    for (int t = 0; t < NUM_QUANT_TBLS; ++t) {
        if (reader->quant_tbl_ptrs[t] == nullptr && key->quant_tbl_ptrs[t] != nullptr) {
            reader->quant_tbl_ptrs[t] = jpeg_alloc_quant_table(reinterpret_cast<j_common_ptr>(reader));
            std::memcpy(reader->quant_tbl_ptrs[t]->quantval, key->quant_tbl_ptrs[t]->quantval,
                        sizeof reader->quant_tbl_ptrs[t]->quantval);
        }
    }
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(reader);
    if (arrays == nullptr) {
        return false;
    }
    const int columns = job->context->mcuColumns;
    int carried = 0;  // MCUs of the stream used so far
    for (int k = 0; k < job->context->mcuCount; ++k) {
        if (((job->bitmap[k / 8] >> (k % 8)) & 1) == 0) {
            continue;
        }
        for (int c = 0; c < state->components; ++c) {
            const UINT16* steps = key->comp_info[c].quant_table->quantval;
            for (int j = 0; j < state->mcuHigh[c]; ++j) {
                for (int i = 0; i < state->mcuWide[c]; ++i) {
                    const JCOEF* from =
                        frameBlock(state, arrays, reader, carried, columns, c, j, i, FALSE);
                    JCOEF* to = frameBlock(state, state->keyArrays, key, k, columns, c, j, i, TRUE);
                    for (int n = 0; n < DCTSIZE2; ++n) {
                        to[n] = steps[n] != 0 ? JCOEF(from[n] / int(steps[n])) : 0;
                    }
                }
            }
        }
        ++carried;
    }
    return true;
}

bool runStep(MotionState* state, qel::GuardedStep step, void* job) {
    return qel::runGuarded(state->hook, step, job);
}

// Starts a comparison pass: moves to the newest image when asked, makes sure its
// coefficients are read, and clears the pass's counts. False when the history
// is not ready or the coefficients cannot be read.
bool beginPass(QelMotionContext* context, MotionState* state, bool advance) {
    if (advance) {
        advanceIndices(context, state);
    }
    if (!entriesReady(state)) {
        return false;
    }
    if (state->keyArrays == nullptr && !runStep(state, readCoefficientsStep, state)) {
        return false;
    }
    resetPassStatistics(state);
    return true;
}

void writeWord(BYTE* at, uint32_t value) {
    at[0] = BYTE(value);
    at[1] = BYTE(value >> 8);
    at[2] = BYTE(value >> 16);
    at[3] = BYTE(value >> 24);
}

uint32_t readWord(const BYTE* at) {
    return uint32_t(at[0]) | (uint32_t(at[1]) << 8) | (uint32_t(at[2]) << 16) |
           (uint32_t(at[3]) << 24);
}

DWORD bitmapBytes(const QelMotionContext* context) {
    return DWORD(std::max(context->mcuCount, 0) + 8) / 8;
}

}  // namespace

QEL_EXPORT int QEL_open_lib(QelMotionContext* context) {
    if (context == nullptr) {
        return 0;
    }
    if (context->libraryOpen) {
        QEL_close_lib(context);
    }
    auto* state = new (std::nothrow) MotionState();
    if (state == nullptr) {
        return 0;
    }
    qel::installErrorHook(state->hook, state->text, sizeof state->text);
    const int32_t mode = context->mode;
    std::memset(context, 0, sizeof *context);
    context->mode = mode;
    context->state = state;
    context->statistics = state->statistics;
    context->libraryOpen = 1;
    return 1;
}

QEL_EXPORT int QEL_close_lib(QelMotionContext* context) {
    MotionState* state = stateOf(context);
    if (state == nullptr) {
        return 0;
    }
    if (context->imageOpen) {
        QEL_close_image(context);
    }
    destroyCodecs(state);
    delete state;
    context->state = nullptr;
    context->statistics = nullptr;
    context->libraryOpen = 0;
    return 1;
}

QEL_EXPORT int QEL_open_image(QelMotionContext* context, const BYTE* data, DWORD length) {
    MotionState* state = stateOf(context);
    if (state == nullptr || context->imageOpen || data == nullptr || length == 0) {
        return 0;
    }
    try {
        state->keyData.assign(data, data + length);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    destroyCodecs(state);
    if (!runStep(state, openKeyStep, state)) {
        destroyCodecs(state);
        return 0;
    }
    const jpeg_decompress_struct& key = state->key;
    context->imageWidth = int32_t(key.image_width);
    context->imageHeight = int32_t(key.image_height);
    context->blocksWide = int32_t(key.comp_info[0].width_in_blocks);
    context->blocksHigh = int32_t(key.comp_info[0].height_in_blocks);
    if (key.num_components == 1) {
        context->mcuColumns = context->blocksWide;
        context->mcuRows = context->blocksHigh;
    } else {
        context->mcuColumns =
            int32_t(jdiv_round_up(key.image_width, long(DCTSIZE) * key.max_h_samp_factor));
        context->mcuRows =
            int32_t(jdiv_round_up(key.image_height, long(DCTSIZE) * key.max_v_samp_factor));
    }
    context->mcuCount = context->mcuColumns * context->mcuRows;
    if (context->mode == 0 && !runStep(state, openEncoderStep, state)) {
        destroyCodecs(state);
        return 0;
    }
    context->imageOpen = 1;
    QEL_set_depth(context, context->depth);
    addSaturated(state->statistics[0], 1);
    state->statistics[2] = 0;
    state->restart = true;
    state->resumeMcu = 0;
    rebuildBlockMask(context, state);
    return 1;
}

QEL_EXPORT int QEL_close_image(QelMotionContext* context) {
    MotionState* state = stateOf(context);
    if (state == nullptr || !context->imageOpen) {
        return 0;
    }
    destroyCodecs(state);
    context->imageOpen = 0;
    return 1;
}

QEL_EXPORT int QEL_is_image_open(QelMotionContext* context) {
    return context != nullptr ? context->imageOpen : 0;
}

QEL_EXPORT int QEL_set_depth(QelMotionContext* context, int depth) {
    MotionState* state = stateOf(context);
    if (state == nullptr) {
        return 0;
    }
    context->depth = depth;
    // Room for every luminance block the frame codes, `depth` values each.
    std::size_t size = 0;
    if (context->imageOpen && !state->history.empty()) {
        size = lumaBlockCount(context, state) * std::size_t(depthOf(context));
    }
    if (size == state->entrySize) {
        return 1;
    }
    for (auto& entry : state->history) {
        std::vector<int16_t>().swap(entry);
    }
    state->entrySize = 0;
    if (size != 0) {
        try {
            for (auto& entry : state->history) {
                entry.assign(size, 0);
            }
            state->entrySize = size;
        } catch (const std::bad_alloc&) {
            for (auto& entry : state->history) {
                std::vector<int16_t>().swap(entry);
            }
        }
    }
    return 1;
}

QEL_EXPORT QelMotionContext* QEL_set_delta(QelMotionContext* context, int threshold) {
    if (stateOf(context) == nullptr) {
        return nullptr;
    }
    context->deltaThreshold = threshold;
    return context;
}

QEL_EXPORT int QEL_set_history(QelMotionContext* context, int count) {
    MotionState* state = stateOf(context);
    if (state == nullptr || count < 0 || count > kMaxHistory) {
        return 0;
    }
    try {
        std::vector<std::vector<int16_t>>(std::size_t(count)).swap(state->history);
    } catch (const std::bad_alloc&) {
        state->history.clear();
        count = 0;
    }
    context->historySize = count;
    state->entrySize = 0;
    state->current = 0;
    state->previous = 0;
    return QEL_set_depth(context, context->depth);
}

QEL_EXPORT int QEL_set_roi(QelMotionContext* context, const BYTE* bitmap, int lengthBytes) {
    MotionState* state = stateOf(context);
    if (state == nullptr) {
        return 0;
    }
    try {
        if (bitmap == nullptr || lengthBytes <= 0) {
            state->region.clear();
        } else {
            state->region.assign(bitmap, bitmap + lengthBytes);
        }
    } catch (const std::bad_alloc&) {
        state->region.clear();
    }
    state->regionChanged = true;
    return 1;
}

QEL_EXPORT int QEL_compare(QelMotionContext* context, int* mcuNumber, int advance) {
    MotionState* state = stateOf(context);
    if (state == nullptr || mcuNumber == nullptr) {
        return 0;
    }
    *mcuNumber = -1;
    if (!context->imageOpen || context->historySize <= 0) {
        return 0;
    }
    if (state->restart) {
        if (!beginPass(context, state, advance != 0)) {
            return 0;
        }
        state->resumeMcu = 0;
        state->restart = false;
    }
    if (!entriesReady(state) || state->keyArrays == nullptr) {
        return 0;
    }
    PassJob job{context, state, true, -1};
    if (!runStep(state, passStep, &job)) {
        return 0;
    }
    *mcuNumber = job.found;
    return 1;
}

QEL_EXPORT int QEL_get_block_coef(QelMotionContext*, int, int, int) { return 0; }

QEL_EXPORT int QEL_start_coef(QelMotionContext* context) {
    MotionState* state = stateOf(context);
    if (state == nullptr || !context->imageOpen || context->historySize <= 0) {
        return 0;
    }
    if (!beginPass(context, state, true)) {
        return 0;
    }
    const int resume = state->resumeMcu;
    state->resumeMcu = 0;
    PassJob job{context, state, false, -1};
    const bool ok = runStep(state, passStep, &job);
    state->resumeMcu = resume;
    return ok ? 1 : 0;
}

QEL_EXPORT int QEL_DecompressMRU(QelMotionContext* context, int* mcuNumber) {
    MotionState* state = stateOf(context);
    if (state == nullptr || mcuNumber == nullptr) {
        return 0;
    }
    *mcuNumber = -1;
    if (!context->imageOpen || context->historySize <= 0) {
        return 0;
    }
    if (state->keyArrays == nullptr && !runStep(state, readCoefficientsStep, state)) {
        return 0;
    }
    RemainingJob job{context, state};
    return runStep(state, remainingStep, &job) ? 1 : 0;
}

QEL_EXPORT int QEL_build_message(QelMotionContext* context, int type, int bit, BYTE* message,
                                 DWORD* length, DWORD capacity, int quality) {
    MotionState* state = stateOf(context);
    if (state == nullptr || message == nullptr || length == nullptr ||
        capacity < kQelMessageHeaderBytes) {
        return 0;
    }
    writeWord(message + 8, uint32_t(type));
    if (type == kQelKeyFrame) {
        *length = kQelMessageHeaderBytes;
        if (!context->imageOpen || state->keyData.size() > capacity - kQelMessageHeaderBytes) {
            return 0;
        }
        ++context->sequence;
        writeWord(message, context->sequence);
        writeWord(message + 4, kQelMessageHeaderBytes);
        writeWord(message + 12, 0);
        std::memcpy(message + kQelMessageHeaderBytes, state->keyData.data(), state->keyData.size());
        *length = DWORD(kQelMessageHeaderBytes + state->keyData.size());
        return 1;
    }
    if (type != kQelDelta) {
        return 1;
    }
    if (!context->imageOpen || context->mode != 0 || !state->encoderCreated) {
        return 0;
    }
    const DWORD jpegOffset = kQelMessageHeaderBytes + bitmapBytes(context);
    if (bit == -1) {
        state->deltaStarted = false;
        if (capacity < jpegOffset) {
            return 0;
        }
        std::memset(message + kQelMessageHeaderBytes, 0, jpegOffset - kQelMessageHeaderBytes);
        writeWord(message, context->sequence);
        writeWord(message + 4, jpegOffset);
        writeWord(message + 12, 0);
        *length = jpegOffset;
        qel::attachMemoryDestination(&state->encoder, state->destination, message + jpegOffset,
                                     capacity - jpegOffset);
        DeltaStartJob job{state, quality};
        if (!runStep(state, deltaStartStep, &job) || qel::overflowed(state->destination)) {
            return 0;
        }
        *length += DWORD(qel::bytesWritten(state->destination));
        state->deltaStarted = true;
        state->encodedMcus = 0;
        state->lastEncodedMcu = -1;
        return 1;
    }
    // An MCU: only the one whose coefficients the last comparison left, in
    // ascending order, so the receiver can pair stream MCUs with bitmap bits.
    if (!state->deltaStarted || bit < 0 || bit >= context->mcuCount || bit != state->bufferMcu ||
        bit <= state->lastEncodedMcu || *length < jpegOffset || *length > capacity) {
        return 0;
    }
    qel::attachMemoryDestination(&state->encoder, state->destination, message + *length,
                                 capacity - *length);
    if (!runStep(state, deltaMcuStep, state) || qel::overflowed(state->destination)) {
        return 0;  // the message stays as it was before this step
    }
    *length += DWORD(qel::bytesWritten(state->destination));
    message[kQelMessageHeaderBytes + bit / 8] |= BYTE(1u << (bit % 8));
    ++state->encodedMcus;
    state->lastEncodedMcu = bit;
    return 1;
}

QEL_EXPORT int QEL_start_scan_image(QelMotionContext* context) {
    MotionState* state = stateOf(context);
    if (state == nullptr || !context->imageOpen || !state->keyCreated) {
        return 0;
    }
    StartScanJob job{state};
    if (!runStep(state, startScanStep, &job)) {
        state->keyArrays = nullptr;
        return 0;
    }
    return 1;
}

QEL_EXPORT int QEL_set_DrawLine(QelMotionContext* context, QelDrawLine callback) {
    if (stateOf(context) == nullptr) {
        return 0;
    }
    context->drawLine = callback;
    return 1;
}

QEL_EXPORT int QEL_scan_image(QelMotionContext* context) {
    MotionState* state = stateOf(context);
    if (state == nullptr || !context->imageOpen || state->renderRow == nullptr ||
        state->key.global_state != DSTATE_BUFIMAGE) {
        return 0;
    }
    ScanJob job{context, state};
    return runStep(state, scanStep, &job) ? 1 : 0;
}

QEL_EXPORT int QEL_decode_message(QelMotionContext* context, const BYTE* message, DWORD length) {
    MotionState* state = stateOf(context);
    if (state == nullptr || message == nullptr || length < kQelMessageHeaderBytes ||
        !context->imageOpen) {
        return 0;
    }
    const uint32_t offset = readWord(message + 4);
    if (readWord(message + 8) != uint32_t(kQelDelta) ||
        offset != kQelMessageHeaderBytes + bitmapBytes(context) || offset > length) {
        return 0;
    }
    if (offset == length) {
        return 1;
    }
    if (state->renderRow == nullptr || state->key.global_state != DSTATE_BUFIMAGE) {
        return 0;  // the key frame was not started
    }
    auto* job = new (std::nothrow) DecodeJob{};
    if (job == nullptr) {
        return 0;
    }
    job->context = context;
    job->state = state;
    job->bitmap = message + kQelMessageHeaderBytes;
    job->stream = message + offset;
    job->streamBytes = length - offset;
    const bool ok = runStep(state, decodeStep, job);
    if (job->created) {
        jpeg_destroy_decompress(&job->reader);
    }
    delete job;
    return ok ? 1 : 0;
}

QEL_EXPORT int QEL_set_quality(QelMotionContext* context, int quality) {
    MotionState* state = stateOf(context);
    if (state == nullptr || quality < 0 || quality > 100 || !state->encoderCreated) {
        return 0;
    }
    // A new quality restarts the compressor: a delta being built cannot go on.
    state->deltaStarted = false;
    DeltaStartJob job{state, quality};
    return runStep(state,
                   [](void* p) -> bool {
                       auto* j = static_cast<DeltaStartJob*>(p);
                       jpeg_compress_struct* encoder = &j->state->encoder;
                       if (encoder->global_state != CSTATE_START) {
                           jpeg_abort_compress(encoder);
                       }
                       jpeg_set_quality(encoder, j->quality, TRUE);
                       return true;
                   },
                   &job)
               ? 1
               : 0;
}
