#include "tools/site/site_audio.h"

#include "trennick/audio/aud_comp.h"

#include <cmath>
#include <cstring>

namespace site {

namespace {

constexpr double kToneHz = 440.0;
constexpr double kSampleRate = 8000.0;
constexpr double kAmplitude = 8000.0;
constexpr DWORD kSamplesPerFrame = kSx5363PcmBytes / 2;

}  // namespace

SiteAudio::~SiteAudio() { SX5363_Close(&m_codec); }

bool SiteAudio::Open() {
    if (m_codec != nullptr) return true;
    if (SX5363_Open(&m_codec) != SX5363_OK || m_codec == nullptr) {
        m_codec = nullptr;
        return false;
    }
    return SX5363_InitEncod(m_codec) == SX5363_OK;
}

std::vector<BYTE> SiteAudio::NextFrame(DWORD tickMs) {
    if (m_codec == nullptr) return {};
    BYTE pcm[kSx5363PcmBytes];
    for (DWORD i = 0; i < kSamplesPerFrame; ++i, ++m_sample) {
        const double t = double(m_sample % 8000) / kSampleRate;  // the tone repeats whole every second
        const auto sample = static_cast<std::int16_t>(std::lround(kAmplitude * std::sin(2.0 * M_PI * kToneHz * t)));
        std::memcpy(pcm + 2 * i, &sample, sizeof sample);
    }
    BYTE coded[kSx5363FrameBytes] = {};
    DWORD produced = 0;
    if (SX63_SpeechEncode(m_codec, kSx5363Mode, pcm, coded, &produced) != SX5363_OK || produced != sizeof coded) {
        return {};
    }
    const trennick::AudioFrameHeader header{1, tickMs, 0, WORD(produced)};
    std::vector<BYTE> frame(sizeof header + produced + 1, 0);
    std::memcpy(frame.data(), &header, sizeof header);
    std::memcpy(frame.data() + sizeof header, coded, produced);
    return frame;
}

void SiteAudio::ProcessRemoteAudio(const BYTE*, DWORD length) { m_received += length; }

}  // namespace site
