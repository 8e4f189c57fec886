#include "ambrel32/wave_out.h"

#include "common/lumo_deb.h"
#include "common/wave_device_map.h"

#include <cstring>

CWaveOut::CWaveOut() : m_data(size_t(kHeaderCount) * kBufferBytes), m_pcm(size_t(kMaxFrames) * kPcmFrameBytes) {
    for (int i = 0; i < kHeaderCount; ++i) {
        m_headers[i].data = m_data.data() + size_t(i) * kBufferBytes;
        m_headers[i].bufferBytes = kBufferBytes;
        m_headers[i].user = std::uintptr_t(i);
        m_state[i] = kFree;
    }
}

CWaveOut::~CWaveOut() {
    Close();
    Destroy();
}

LONG CWaveOut::Open(UINT deviceId) {
    Close();
    m_codec = std::make_unique<CAudioCodec>();
    if (!m_codec->Open()) {
        return 0;
    }
    platform::WaveResult result{};
    m_device = platform::openWaveOut(ReadWaveDevice(WaveDirection::Playback, deviceId), platform::speechFormat(),
                                     [this](platform::WaveBuffer& b) { DonePlayBlock(b); }, result);
    if (m_device == nullptr) {
        LUMO_TRACE(1, "CWaveOut::Open() waveOutOpen Failed Err %d", int(result));
        return 0;
    }
    for (int i = 0; i < kHeaderCount; ++i) {
        m_headers[i].bufferBytes = kBufferBytes;
        m_state[i] = kFree;
    }
    return Create() ? 1 : 0;
}

LONG CWaveOut::WriteData(const AmbrelFrame* frame) {
    if (m_device == nullptr) {
        return 0;
    }
    if (m_codec == nullptr) {
        LUMO_TRACE(1, "CWaveOut::WriteData  m_pAudioCodec = NULL");
        return 0;
    }
    if (frame == nullptr || (frame->lpData == nullptr && frame->dwBufferLength > 0)) {
        return 0;
    }
    const BYTE* p = frame->lpData;
    DWORD left = frame->dwBufferLength;
    DWORD pcmBytes = 0;
    DWORD frames = 0;
    BYTE out[kSx5363DecodeBytes];
    while (left > 0 && frames < kMaxFrames) {
        const DWORD size = Sx5363FrameSize(p[0]);
        if (size == 0) {
            LUMO_TRACE(1, "CWaveOut::WriteData  m_pAudioCodec->Decode() Failed ");
            return 0;
        }
        // A frame cut short by the end of the data is not speech: it is dropped.
        if (size > left) {
            LUMO_TRACE(3, "CWaveOut::WriteData partial frame of %lu bytes dropped", static_cast<unsigned long>(left));
            break;
        }
        if (size == 4) {  // silence description: no speech of its own
            p += size;
            left -= size;
            continue;
        }
        std::memset(out, 0, sizeof out);
        DWORD used = 0;
        if (!m_codec->Decode(p, out, used)) {
            LUMO_TRACE(1, "CWaveOut::WriteData  m_pAudioCodec->Decode() Failed ");
            return 0;
        }
        std::memcpy(m_pcm.data() + pcmBytes, out, kPcmFrameBytes);
        pcmBytes += kPcmFrameBytes;
        ++frames;
        const DWORD step = used == 0 || used > left ? size : used;
        p += step;
        left -= step;
    }
    if (pcmBytes > 0 && !m_queue.Push(m_pcm.data(), pcmBytes)) {
        LUMO_TRACE(1, "CWaveOut::WriteData m_pAudioQue->Push failed Fifo size is %d ", int(m_queue.Size()));
        return 0;
    }
    return 1;
}

DWORD CWaveOut::Run() {
    SignalEvent();
    while (m_stop == 0) {
        const DWORD n = m_queue.Pop(m_block.data(), kBlockBytes);
        if (n > 0) {
            PlayBlock(m_block.data(), n);
        }
        WaitEvent(kPauseMs);
    }
    return 0;
}

void CWaveOut::PlayBlock(const BYTE* data, DWORD n) {
    for (int i = 0; i < kHeaderCount; ++i) {
        if (m_state[i] != kFree) {
            continue;
        }
        m_state[i] = kBusy;
        std::memcpy(m_headers[i].data, data, n);
        m_headers[i].bufferBytes = n;
        const platform::WaveResult result = m_device->write(m_headers[i]);
        if (result != platform::WaveResult::Ok) {
            LUMO_TRACE(1, "CWaveOut::PlayBlock() waveOutWrite  failed error %d ", int(result));
            m_state[i] = kFree;
        }
        return;
    }
    LUMO_TRACE(3, "CWaveOut::PlayBlock() no free block: %lu bytes dropped", static_cast<unsigned long>(n));
}

void CWaveOut::DonePlayBlock(platform::WaveBuffer& buffer) {
    if (buffer.user < std::uintptr_t(kHeaderCount)) {
        m_state[buffer.user] = kFree;
    }
}

bool CWaveOut::Volume(DWORD& value) {
    return m_device != nullptr && m_device->volume(value) == platform::WaveResult::Ok;
}

LONG CWaveOut::Close() {
    Destroy();
    if (m_device != nullptr) {
        const platform::WaveResult result = m_device->reset();
        if (result != platform::WaveResult::Ok) {
            LUMO_TRACE(3, "CWaveOut::Close() waveOutReset Failed Err %d", int(result));
        }
        m_device.reset();
    }
    m_codec.reset();
    m_queue.Clear();
    for (auto& s : m_state) s = kFree;
    return 1;
}
