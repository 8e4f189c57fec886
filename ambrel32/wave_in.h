#pragma once
// CWaveIn: speech capture. The device fills ten 4,096-byte buffers that the
// capture thread hands it one at a time (every 150 ms); the device's callback
// queues the recorded bytes, and RecordGetFrame codes them 480 bytes at a time
// into 24-byte frames.
//
// Threads: Open, Start, Stop, Close and ReadData on the client's thread; the
// capture thread (RecordBlock) and the device's callback (DoneRecordBlock)
// share only the byte queue and the buffers' atomic states. Failures are
// traced and answered 0.

#include "ambrel32/ambrel_dll.h"
#include "ambrel32/audio_codec.h"
#include "ambrel32/audio_queue.h"
#include "common/kc_thread.h"
#include "platform/wave_audio.h"

#include <array>
#include <atomic>
#include <memory>
#include <vector>

class CWaveIn : public CKcThread {
public:
    static constexpr int kHeaderCount = 10;
    static constexpr DWORD kBufferBytes = 4096;
    static constexpr DWORD kPauseMs = 150;
    static constexpr DWORD kPcmFrameBytes = 480;

    CWaveIn();
    ~CWaveIn() override;

    void SetDeviceId(UINT id) { m_deviceId = id; }
    LONG Open();
    LONG Start();
    LONG Stop();
    LONG Close();
    // One coded frame into the caller's record; 0 while fewer than 480 bytes are queued.
    LONG ReadData(AmbrelFrame* frame);
    bool IsOpen() const { return m_device != nullptr; }
    DWORD QueuedBytes() { return m_queue.Size(); }

    DWORD Run() override;

private:
    enum : int { kFree = 1, kBusy = 2 };
    void RecordBlock();
    void DoneRecordBlock(platform::WaveBuffer& buffer);

    std::unique_ptr<platform::WaveIn> m_device;
    std::vector<BYTE> m_data;  // the buffers' bytes, kHeaderCount x kBufferBytes
    std::array<platform::WaveBuffer, kHeaderCount> m_headers{};
    std::array<std::atomic<int>, kHeaderCount> m_state{};
    UINT m_deviceId = platform::WAVE_MAPPER;
    std::unique_ptr<CAudioCodec> m_codec;
    CAudioQue m_queue;
    std::array<BYTE, kPcmFrameBytes> m_pcm{};
};
