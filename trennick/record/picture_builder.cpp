#include "trennick/record/picture_builder.h"

#include "common/lumo_deb.h"

#include <algorithm>
#include <cstring>

namespace {

// The H.263 picture start code: 00 00 and a byte 0x80 to 0x83.
bool opensPicture(const BYTE* chunk, DWORD length) {
    return length >= 3 && chunk[0] == 0 && chunk[1] == 0 && chunk[2] >= 0x80 && chunk[2] <= 0x83;
}

}  // namespace

namespace trennick {

PictureBuilder::PictureBuilder() : m_collect(kMaxPictureBytes, 0), m_frame(kMaxPictureBytes, 0) {}

BOOL PictureBuilder::Reset() {
    std::fill(m_collect.begin(), m_collect.end(), BYTE{0});
    std::fill(m_frame.begin(), m_frame.end(), BYTE{0});
    m_collected = 0;
    m_frameSize = 0;
    return TRUE;
}

BOOL PictureBuilder::Flush() {
    if (m_collected == 0) return FALSE;
    std::memcpy(m_frame.data(), m_collect.data(), m_collected);
    m_frameSize = m_collected;
    m_collected = 0;
    return TRUE;
}

BOOL PictureBuilder::BuildFrame(const BYTE* chunk, DWORD length) {
    if (chunk == nullptr || length == 0) return FALSE;
    const bool opens = opensPicture(chunk, length);
    const DWORD already = opens ? 0 : m_collected;
    if (length > kMaxPictureBytes - already) {
        LUMO_TRACE(1, "PictureBuilder::BuildFrame->ERROR m_nFramesize > kMaxPictureBytes\n");
        Reset();
        return FALSE;
    }
    BOOL completed = FALSE;
    if (opens && m_collected != 0) completed = Flush();
    std::memcpy(m_collect.data() + m_collected, chunk, length);
    m_collected += length;
    return completed;
}

}  // namespace trennick
