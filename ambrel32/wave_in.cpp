#include "ambrel32/wave_in.h"

#include "common/lumo_deb.h"
#include "common/wave_device_map.h"

CWaveIn::CWaveIn() : m_data(size_t(kHeaderCount) * kBufferBytes) {
    for (int i = 0; i < kHeaderCount; ++i) {
        m_headers[i].data = m_data.data() + size_t(i) * kBufferBytes;
        m_headers[i].bufferBytes = kBufferBytes;
        m_headers[i].user = std::uintptr_t(i);
        m_state[i] = kFree;
    }
}

CWaveIn::~CWaveIn() {
    Close();
    Destroy();
}

LONG CWaveIn::Open() {
    Close();
    m_codec = std::make_unique<CAudioCodec>();
    if (!m_codec->Open()) {
        return 0;
    }
    platform::WaveResult result{};
    m_device = platform::openWaveIn(ReadWaveDevice(WaveDirection::Record, m_deviceId), platform::speechFormat(),
                                    [this](platform::WaveBuffer& b) { DoneRecordBlock(b); }, result);
    if (m_device == nullptr) {
        LUMO_TRACE(1, "CWaveIn::Open() waveInOpen Failed Err %d", int(result));
        return 0;
    }
    for (int i = 0; i < kHeaderCount; ++i) {
        m_headers[i].bufferBytes = kBufferBytes;
        m_headers[i].bytesRecorded = 0;
        m_state[i] = kFree;
    }
    return 1;
}

LONG CWaveIn::Start() {
    if (m_device == nullptr) {
        LUMO_TRACE(1, "CWaveIn::Start() failed m_hWaveIn = NULL");
        return 0;
    }
    const platform::WaveResult result = m_device->start();
    if (result != platform::WaveResult::Ok) {
        LUMO_TRACE(3, "CWaveIn::Start() waveInStart Failed Err %d", int(result));
        return 0;
    }
    return Create() ? 1 : 0;
}

DWORD CWaveIn::Run() {
    SignalEvent();
    while (m_stop == 0) {
        RecordBlock();
        WaitEvent(kPauseMs);
    }
    return 0;
}

void CWaveIn::RecordBlock() {
    if (m_device == nullptr) {
        LUMO_TRACE(1, "CWaveIn::RecordBlock() failed m_hWaveIn = NULL");
        return;
    }
    for (int i = 0; i < kHeaderCount; ++i) {
        if (m_state[i] != kFree) {
            LUMO_TRACE(3, "CWaveIn::RecordBlock() Block %d is Busy", i);
            continue;
        }
        LUMO_TRACE(3, "CWaveIn::RecordBlock() index of Block is %d", i);
        m_state[i] = kBusy;
        m_headers[i].bufferBytes = kBufferBytes;
        const platform::WaveResult result = m_device->addBuffer(m_headers[i]);
        if (result != platform::WaveResult::Ok) {
            LUMO_TRACE(1, "CWaveIn::PlayBlock() waveInWrite  failed error %d ", int(result));
            m_state[i] = kFree;
        }
        return;
    }
}

void CWaveIn::DoneRecordBlock(platform::WaveBuffer& buffer) {
    const std::uintptr_t index = buffer.user;
    if (index >= std::uintptr_t(kHeaderCount)) {
        return;
    }
    if (buffer.bytesRecorded > 0 && !m_queue.Push(buffer.data, buffer.bytesRecorded)) {
        LUMO_TRACE(1, "CWaveIn::DoneRecordBlock m_pAudioQue->Push failed Fifo size is %d ", int(m_queue.Size()));
    }
    m_state[index] = kFree;
}

LONG CWaveIn::ReadData(AmbrelFrame* frame) {
    if (m_codec == nullptr) {
        LUMO_TRACE(1, "CWaveIn::WriteData  m_pAudioCodec = NULL");
        return 0;
    }
    // The frame must have room for what one call produces.
    if (frame == nullptr || frame->lpData == nullptr || frame->dwBufferLength < kSx5363FrameBytes) {
        LUMO_TRACE(1, "CWaveIn::ReadData frame buffer too small");
        return 0;
    }
    if (m_queue.Size() < kPcmFrameBytes) {
        return 0;
    }
    if (m_queue.Pop(m_pcm.data(), kPcmFrameBytes) != kPcmFrameBytes) {
        LUMO_TRACE(1, "CWaveIn::ReadData m_pAudioQue->Pop Failed FIFO size is %d ", int(m_queue.Size()));
        return 0;
    }
    LUMO_TRACE(3, "CWaveIn::ReadData m_pAudioQue size is %d ", int(m_queue.Size()));
    DWORD produced = 0;
    if (!m_codec->Encode(m_pcm.data(), frame->lpData, produced)) {
        produced = 0;
    }
    frame->dwBytesRecorded = produced;
    return 1;
}

LONG CWaveIn::Stop() {
    if (m_device == nullptr) {
        LUMO_TRACE(1, "CWaveIn::Stop() failed m_hWaveIn = NULL");
        return 1;
    }
    Destroy();
    platform::WaveResult result = m_device->stop();
    if (result != platform::WaveResult::Ok) {
        LUMO_TRACE(3, "CWaveIn::Stop() waveInStop Failed Err %d", int(result));
    }
    result = m_device->reset();
    if (result != platform::WaveResult::Ok) {
        LUMO_TRACE(3, "CWaveIn::Stop() waveInReset Failed Err %d", int(result));
    }
    m_queue.Clear();
    return 1;
}

LONG CWaveIn::Close() {
    Stop();
    if (m_device != nullptr) {
        m_device->reset();
        m_device.reset();
    }
    m_codec.reset();
    m_queue.Clear();
    for (auto& s : m_state) s = kFree;
    return 1;
}
