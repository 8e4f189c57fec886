#pragma once
// CAviClip: a silent AVI clip read whole from its file, its frames decoded
// into images: uncompressed frames of 8, 24 or 32 bits and 8-bit run-length
// frames (drawn over the frame before, as the format allows), the two kinds a
// system animation control plays. Every size and count in the file is checked
// against the file and against limits before it is used; a file that is not
// such a clip, or is cut or damaged, is refused whole with the reason.
//
// Thread: any, one at a time. Failure: Open returns false; nothing throws.

#include "platform/types.h"

#include <QImage>

#include <string>
#include <vector>

class CAviClip {
public:
    // Limits: a larger clip is refused.
    static constexpr DWORD kMaxFileBytes = 32u * 1024 * 1024;
    static constexpr int kMaxSide = 1024;
    static constexpr int kMaxFrames = 2000;
    static constexpr std::size_t kMaxPixels = 32u * 1024 * 1024;  // all frames together

    bool Open(const std::string& path, std::string* why = nullptr);
    // Reads a clip from bytes already in memory.
    bool Load(const std::vector<BYTE>& file, std::string* why = nullptr);
    void Close();

    bool IsOpen() const { return !m_frames.empty(); }
    int FrameCount() const { return int(m_frames.size()); }
    // The time between frames the clip gives (at least 10 ms).
    DWORD FramePeriodMs() const { return m_periodMs; }
    QSize Size() const { return m_size; }
    // Frame `index`; a null image outside the clip.
    QImage Frame(int index) const;

private:
    std::vector<QImage> m_frames;
    DWORD m_periodMs = 100;
    QSize m_size;
};
