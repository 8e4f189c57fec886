#pragma once
// CWaveOut: playback of received speech. PlaybackPutFrame decodes a run of
// G.723.1 frames into the byte queue; the playback thread takes up to 4,096
// bytes every 100 ms and plays them in one of forty buffers that the device
// gives back through its callback.
//
// Threads: Open, Close, WriteData and Volume on the client's thread; the
// playback thread (PlayBlock) and the device's callback (DonePlayBlock) share
// only the byte queue and the buffers' atomic states. Failures are traced and
// answered 0.

#include "ambrel32/ambrel_dll.h"
#include "ambrel32/audio_codec.h"
#include "ambrel32/audio_queue.h"
#include "common/kc_thread.h"
#include "platform/wave_audio.h"

#include <array>
#include <atomic>
#include <memory>
#include <vector>

class CWaveOut : public CKcThread {
public:
    static constexpr int kHeaderCount = 40;
    static constexpr DWORD kBufferBytes = 19200;
    static constexpr DWORD kPauseMs = 100;
    static constexpr DWORD kBlockBytes = 4096;
    static constexpr DWORD kMaxFrames = 100;  // decoded per call
    static constexpr DWORD kPcmFrameBytes = 480;

    CWaveOut();
    ~CWaveOut() override;

    LONG Open(UINT deviceId);
    LONG Close();
    LONG WriteData(const AmbrelFrame* frame);
    // The device's left-channel volume, 0 to 0xFFFF.
    bool Volume(DWORD& value);
    bool IsOpen() const { return m_device != nullptr; }
    DWORD QueuedBytes() { return m_queue.Size(); }

    DWORD Run() override;

private:
    enum : int { kFree = 1, kBusy = 2 };
    void PlayBlock(const BYTE* data, DWORD n);
    void DonePlayBlock(platform::WaveBuffer& buffer);

    std::unique_ptr<platform::WaveOut> m_device;
    std::vector<BYTE> m_data;  // the buffers' bytes, kHeaderCount x kBufferBytes
    std::array<platform::WaveBuffer, kHeaderCount> m_headers{};
    std::array<std::atomic<int>, kHeaderCount> m_state{};
    std::unique_ptr<CAudioCodec> m_codec;
    CAudioQue m_queue;
    std::vector<BYTE> m_pcm;                 // one call's decoded speech
    std::array<BYTE, kBlockBytes> m_block{};  // the playback thread's
};
