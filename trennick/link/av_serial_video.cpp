#include "trennick/link/av_serial_video.h"

#include "trennick/link/link_trace.h"
#include "trennick/link/prot_list.h"

#include <cstring>

namespace trennick {

bool startsH263Picture(const BYTE* piece, DWORD length) {
    return piece != nullptr && length >= 3 && piece[0] == 0 && piece[1] == 0 && piece[2] >= 0x80 &&
           piece[2] <= 0x83;
}

H263PictureAssembler::H263PictureAssembler() : m_buffer(kH263PictureBufferBytes) {}

void H263PictureAssembler::add(const BYTE* piece, DWORD length,
                               const std::function<void(const BYTE*, DWORD)>& complete) {
    if (piece == nullptr || length == 0) {
        return;
    }
    if (startsH263Picture(piece, length) && m_fill > 0) {
        complete(m_buffer.data(), m_fill);
        m_fill = 0;
    }
    if (length > kH263PictureBufferBytes - m_fill) {
        // Never write past the buffer: the picture in it cannot be finished.
        linkTrace(3, "AssembleH263Picture() piece of %lu bytes does not fit behind %lu: picture dropped",
                  static_cast<unsigned long>(length), static_cast<unsigned long>(m_fill));
        m_fill = 0;
        return;
    }
    std::memcpy(m_buffer.data() + m_fill, piece, length);
    m_fill += length;
}

void SerialVideoOutput::AddSerialVideoFrame(const BYTE* frame, DWORD length, bool formatChanged,
                                            bool cameraChanged) {
    if (m_port == nullptr || m_link.protocolVersion() == 1) {
        return;
    }
    if ((formatChanged || cameraChanged) && m_common.IsKeyFrameH263(frame, length)) {
        m_link.sendToken(ID_DSVD_ERRORKVFRAME);
    }
    m_assembler.add(frame, length, [this](const BYTE* picture, DWORD bytes) { m_port->AddBuffer(picture, bytes); });
}

}  // namespace trennick
