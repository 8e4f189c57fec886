#pragma once
// SiteAudio: the stand-in site's audio over the link. It codes a steady test
// tone (440 Hz, 8 kHz 16-bit mono) with the G.723.1 codec library, 30 ms to a
// frame, and hands each coded frame to the link as the site's recorder sends
// its microphone; the operator's audio that arrives is only counted.
//
// Thread: the thread that runs the site. Failure: without the codec library
// Open returns false and nothing is sent.

#include "platform/types.h"
#include "sx5363s/sx5363s.h"
#include "trennick/link/link_host.h"

#include <vector>

namespace site {

class SiteAudio : public trennick::LinkAudioClient {
public:
    SiteAudio() = default;
    ~SiteAudio() override;
    SiteAudio(const SiteAudio&) = delete;
    SiteAudio& operator=(const SiteAudio&) = delete;

    bool Open();
    // The next 30 ms of the tone as one link audio frame (the frame header,
    // the coded speech and the closing zero); empty when coding fails.
    std::vector<BYTE> NextFrame(DWORD tickMs);

    // LinkAudioClient: the site takes audio and counts what the operator sends.
    bool audioFlag() const override { return true; }
    void ProcessRemoteAudio(const BYTE* bytes, DWORD length) override;
    DWORD BytesReceived() const { return m_received; }

private:
    SX5363_HANDLE m_codec = nullptr;
    DWORD m_sample = 0;
    DWORD m_received = 0;
};

}  // namespace site
