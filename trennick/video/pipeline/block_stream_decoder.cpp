#include "trennick/video/pipeline/block_stream_decoder.h"

#include "common/lumo_deb.h"

#include <cstring>

namespace trennick {

namespace {

constexpr DWORD kChunkHeadBytes = 3;

}  // namespace

BlockStreamDecoder::~BlockStreamDecoder() { close(); }

bool BlockStreamDecoder::open() {
    if (m_context == nullptr) {
        m_context = KcExpandOpen();
        if (m_context != nullptr) KcExpandSetErrorCallback(m_context, &BlockStreamDecoder::traceError, this);
    }
    return m_context != nullptr;
}

void BlockStreamDecoder::close() {
    KcExpandClose(m_context);
    m_context = nullptr;
}

void BlockStreamDecoder::traceError(void*, std::uint32_t code, std::uint32_t detail) {
    LUMO_TRACE(5, "[%u] %u\n\r", unsigned(code), unsigned(detail));
}

void BlockStreamDecoder::describeOutput(const BYTE* picture, bool palette8) {
    if (m_context == nullptr || picture == nullptr) return;
    BITMAPINFOHEADER header;
    std::memcpy(&header, picture, sizeof header);
    const std::uint16_t colours = std::uint16_t(header.biClrUsed * 4);
    const MetaItem items[] = {
        {KCATTR_FORMAT, std::uint16_t(sizeof header + colours), reinterpret_cast<std::uintptr_t>(picture)},
        {KCATTR_PALETTE, colours, reinterpret_cast<std::uintptr_t>(picture + sizeof header)},
        {KCATTR_OUTPUT_MODE, 2, palette8 ? KCMODE_PALETTE8 : KCMODE_BGR24},
    };
    KcExpandSetAttributes(m_context, items, 3);
}

bool BlockStreamDecoder::decodeFrame(const BYTE* data, DWORD length, BYTE* bits,
                                     const FormatChanged& formatChanged) {
    if (m_context == nullptr || data == nullptr) return false;
    bool painted = false;
    for (DWORD at = 0; length - at >= kChunkHeadBytes;) {
        const DWORD n = (DWORD(data[at + 1]) << 8) | data[at + 2];
        if (n < kChunkHeadBytes || n > length - at) break;
        const std::uint32_t result = KcExpandBuffer(m_context, data + at, n, bits);
        if ((result & kKcFormatChanged) != 0 && formatChanged) formatChanged();
        if ((result & kKcNotPainted) == 0) painted = true;
        at += n;
    }
    return painted;
}

void BlockStreamDecoder::markAllChanged() { KcExpandSetNextAllChanged(m_context); }

void BlockStreamDecoder::redrawAll(BYTE* bits) {
    if (m_context == nullptr) return;
    KcExpandSetNextAllChanged(m_context);
    KcExpandRedraw(m_context, bits);
}

int BlockStreamDecoder::streamWidth() const { return int(KcExpandGetAttribute(m_context, kKcAttrWidth)); }
int BlockStreamDecoder::streamHeight() const { return int(KcExpandGetAttribute(m_context, kKcAttrHeight)); }

}  // namespace trennick
