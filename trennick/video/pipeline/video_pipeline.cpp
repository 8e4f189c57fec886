#include "trennick/video/pipeline/video_pipeline.h"

namespace trennick {

VideoPipeline::VideoPipeline() : m_owner(std::this_thread::get_id()) {}

void VideoPipeline::clear() {
    std::lock_guard lock(m_pendingLock);
    m_pending.clear();
}

void VideoPipeline::push(WORD bucketType, const BYTE* frame, DWORD length, bool) {
    if (frame == nullptr || length == 0 || !m_decoding) return;
    // The one copy of the link's bytes: the frame owns them from here on.
    auto record = std::make_unique<VideoFrame>();
    record->data.assign(frame, frame + length);
    record->camera = (bucketType >> 8) & 0xFF;
    record->kind = bucketType & 0xFF;
    if (onOwnerThread()) {
        deliver(std::move(record), FrameEntry::Received);
        return;
    }
    std::lock_guard lock(m_pendingLock);
    m_pending.push_back(std::move(record));
}

void VideoPipeline::drain() {
    for (;;) {
        std::unique_ptr<VideoFrame> frame;
        {
            std::lock_guard lock(m_pendingLock);
            if (m_pending.empty()) return;
            frame = std::move(m_pending.front());
            m_pending.pop_front();
        }
        deliver(std::move(frame), FrameEntry::Received);
    }
}

bool VideoPipeline::deliver(std::unique_ptr<VideoFrame> frame, FrameEntry entry) {
    if (frame == nullptr) return false;
    const DWORD bytes = DWORD(frame->data.size());
    if (entry == FrameEntry::Received && (m_view == nullptr || !m_view->admitFrame(bytes))) return false;
    const DWORD started = m_view != nullptr ? m_view->nowMs() : 0;
    if (!m_keyFrameGate.admit(*frame, m_streamVersion)) return false;
    if (m_frameSink != nullptr) m_frameSink->OnVideoFrame(*frame);
    bool result = true;
    if (m_decoding) result = m_decoder != nullptr && m_decoder->decodeFrame(*frame);
    if (m_frameSink != nullptr) m_frameSink->OnFrameHandled(m_decoding && result ? TRUE : FALSE);
    if (result && m_view != nullptr) m_view->pictureReady(bytes, m_view->nowMs() - started);
    return result;
}

}  // namespace trennick
