#include "trennick/record/tmn_frame.h"

#include "common/lumo_deb.h"

#include <algorithm>
#include <cstring>

namespace {

// The H.263 picture start code: 00 00 and a byte 0x80 to 0x83.
bool opensPicture(const BYTE* chunk, DWORD length) {
    return length >= 3 && chunk[0] == 0 && chunk[1] == 0 && chunk[2] >= 0x80 && chunk[2] <= 0x83;
}

}  // namespace

CTMNFrame::CTMNFrame() : m_collecting(MAX_TMN_FRAME_SIZE, 0), m_frame(MAX_TMN_FRAME_SIZE, 0) {}

BOOL CTMNFrame::Reset() {
    std::fill(m_collecting.begin(), m_collecting.end(), BYTE{0});
    std::fill(m_frame.begin(), m_frame.end(), BYTE{0});
    m_collected = 0;
    m_nFramesize = 0;
    return TRUE;
}

BOOL CTMNFrame::Flush() {
    if (m_collected == 0) return FALSE;
    std::memcpy(m_frame.data(), m_collecting.data(), m_collected);
    m_nFramesize = m_collected;
    m_collected = 0;
    return TRUE;
}

BOOL CTMNFrame::BuildFrame(const BYTE* chunk, DWORD length) {
    if (chunk == nullptr || length == 0) return FALSE;
    const bool opens = opensPicture(chunk, length);
    const DWORD base = opens ? 0 : m_collected;
    if (length > MAX_TMN_FRAME_SIZE - base) {
        LUMO_TRACE(1, "CTMNFrame::BuildFrame->ERROR m_nFramesize > MAX_TMN_FRAME_SIZE\n");
        Reset();
        return FALSE;
    }
    const BOOL completed = opens ? Flush() : FALSE;
    std::memcpy(m_collecting.data() + m_collected, chunk, length);
    m_collected += length;
    return completed;
}
