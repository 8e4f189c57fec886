#include "trennick/video/pipeline/key_frame_gate.h"

namespace trennick {

namespace {

// Byte 6 of a block-transform frame: 0x1F marks a key frame, 0x1E an ordinary one.
constexpr std::size_t kBlockKeyMarkAt = 6;
constexpr BYTE kBlockKeyMark = 0x1F;
constexpr BYTE kBlockFrameMark = 0x1E;

}  // namespace

bool KeyFrameGate::isKeyFrame(VideoFrame& frame, WORD streamVersion) {
    if (streamVersion == 2) return m_h263.IsKeyFrameH263(frame.data.data(), DWORD(frame.data.size()));
    if (frame.data.size() > kBlockKeyMarkAt && frame.data[kBlockKeyMarkAt] == kBlockKeyMark) {
        frame.data[kBlockKeyMarkAt] = kBlockFrameMark;
        return true;
    }
    return false;
}

bool KeyFrameGate::admit(VideoFrame& frame, WORD streamVersion) {
    if (!m_waiting) return true;
    if (!isKeyFrame(frame, streamVersion)) return false;
    m_waiting = false;
    return true;
}

}  // namespace trennick
