#include "trennick/audio/aud_comp.h"

#include "common/fixed_text.h"
#include "common/lumo_deb.h"
#include "platform/com/com.h"
#include "tavicore/product_key.h"
#include "trennick/audio/audio_net.h"
#include "trennick/link/packet_connection.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>

namespace trennick {

namespace {

DWORD tickMs() {
    return DWORD(std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now().time_since_epoch())
                     .count());
}

void readDword(CKcReg& reg, const char* name, DWORD& value) { reg.GetDwordDefault(nullptr, name, &value); }

void readText(CKcReg& reg, const char* name, std::string& value) {
    char text[CKcReg::kTextBytes] = {};
    std::memcpy(text, value.data(), std::min(value.size(), sizeof text - 1));
    DWORD size = sizeof text;
    reg.SetDefault(value);
    if (reg.GetStringDefault(nullptr, name, text, &size)) {
        value = fixed_text::Read(text, sizeof text);
    }
}

// "[host:]port" for the network input: a port alone listens on NetInAddress.
std::string netInAddress(const AudioSettings& s) {
    if (s.NetInPort.find(':') != std::string::npos) return s.NetInPort;
    return s.NetInAddress + ":" + s.NetInPort;
}

}  // namespace

DWORD WholeSpeechFrameBytes(const BYTE* data, DWORD length) {
    static constexpr DWORD kSizes[4] = {24, 20, 4, 0};
    DWORD at = 0;
    while (data != nullptr && at < length) {
        const DWORD size = kSizes[data[at] & 3];
        if (size == 0 || size > length - at) break;
        at += size;
    }
    return at;
}

CAudComp::CAudComp(CPacketConnection& link, AudioHost& host) : m_link(link), m_host(host) {
    readSettings();
    if (m_settings.NetOut != 0) m_netOut = std::make_unique<CAudioOutNet>(m_settings.NetOutPort.c_str());
    if (m_settings.NetIn != 0) m_netIn = std::make_unique<CAudioInNet>(netInAddress(m_settings).c_str());
    m_frame.assign(m_settings.FramesPerCycle * 24 + kAudioFrameOverheadBytes, 0);
    if (FAILED(CoCreateInstance(CLSID_Ambrel, nullptr, CLSCTX_INPROC_SERVER, IID_IAmbrel, m_codec.putVoid()))) {
        m_codec.reset();
        LUMO_TRACE(1, "CAudComp::CAudComp No Audio Support");
    } else {
        LUMO_TRACE(3, "CAudComp::CAudComp Audio support enabled");
    }
}

CAudComp::~CAudComp() {
    StopAudioRecording(0);
    StopVoiceCompressProcess();
    CKcReg reg = ProductKey("Audio");
    reg.SetDword(nullptr, "DisableAudio", &m_settings.DisableAudio);
    reg.SetDword(nullptr, "FlushOnInputSelection", &m_settings.FlushOnInputSelection);
    reg.SetDword(nullptr, "DontSend", &m_settings.DontSend);
    reg.SetDword(nullptr, "FramesPerCycle", &m_settings.FramesPerCycle);
    reg.SetDword(nullptr, "RecordFormat", &m_settings.RecordFormat);
    reg.SetDword(nullptr, "Recording", &m_settings.Recording);
    m_netOut.reset();
    m_netIn.reset();
    m_codec.reset();
}

void CAudComp::readSettings() {
    CKcReg reg = ProductKey("Audio");
    AudioSettings& s = m_settings;
    readDword(reg, "DisableAudio", s.DisableAudio);
    readDword(reg, "FramesPerCycle", s.FramesPerCycle);
    readDword(reg, "FlushOnInputSelection", s.FlushOnInputSelection);
    readDword(reg, "DontSend", s.DontSend);
    readDword(reg, "DontPlay", s.DontPlay);
    readDword(reg, "Recording", s.Recording);
    readDword(reg, "RecordFormat", s.RecordFormat);
    readDword(reg, "NetIn", s.NetIn);
    readText(reg, "NetInPort", s.NetInPort);
    readText(reg, "NetInAddress", s.NetInAddress);
    readDword(reg, "NetOut", s.NetOut);
    readText(reg, "NetOutPort", s.NetOutPort);
    // The network settings stand in the registry after the first start.
    reg.SetDword(nullptr, "NetIn", &s.NetIn);
    reg.SetString(nullptr, "NetInPort", s.NetInPort.c_str());
    reg.SetString(nullptr, "NetInAddress", s.NetInAddress.c_str());
    reg.SetDword(nullptr, "NetOut", &s.NetOut);
    reg.SetString(nullptr, "NetOutPort", s.NetOutPort.c_str());
    // A bucket carries at least one frame and no more than a receiver takes.
    s.FramesPerCycle = std::clamp<DWORD>(s.FramesPerCycle, 1, kMaxFramesPerCycle);
    if (s.DontSend != 0) {
        LUMO_TRACE(3, "Audio will not be sent, forced");
    }
}

int CAudComp::StartVoiceCompressProcess() {
    if (!m_codec) {
        LUMO_TRACE(1, "CAudComp::StartVoiceCompressProcess() failed m_pIAmbrel = NULL");
        m_captureActive = m_playbackActive = false;
        return 0;
    }
    m_captureActive = m_playbackActive = true;
    LONG ok = 0;
    if (FAILED(m_codec->RecordOpen(LONG(m_settings.RecordFormat), &ok)) || ok == 0) {
        m_captureActive = false;
    } else if (ok = 0; FAILED(m_codec->RecordStart(&ok)) || ok == 0) {
        m_codec->RecordClose(&ok);
        m_captureActive = false;
    }
    // A paused sender keeps its capture stopped until it resumes.
    if (m_captureActive && m_sendPaused) {
        m_codec->RecordStop(&ok);
    }
    ok = 0;
    if (FAILED(m_codec->PlaybackOpen(&ok)) || ok == 0) {
        m_playbackActive = false;
    }
    return 1;
}

int CAudComp::StopVoiceCompressProcess() {
    if (!m_codec) {
        LUMO_TRACE(1, "CAudComp::StopVoiceCompressProcess() m_pIAmbrel = NULL");
        return 1;
    }
    LONG ok = 0;
    m_codec->RecordStop(&ok);
    m_codec->RecordClose(&ok);
    m_codec->PlaybackClose(&ok);
    m_captureActive = m_playbackActive = false;
    return 1;
}

int CAudComp::StopSendAudio(int pause) {
    m_sendPaused = pause != 0;
    if (!m_codec) {
        return 0;
    }
    LONG ok = 0;
    if (m_sendPaused) {
        if (FAILED(m_codec->RecordStop(&ok)) || ok == 0) {
            LUMO_TRACE(1, "CAudComp::StopSendAudio RecordStop failed");
            return 0;
        }
    } else if (m_captureActive) {
        if (FAILED(m_codec->RecordStart(&ok)) || ok == 0) {
            LUMO_TRACE(1, "CAudComp::StopSendAudio RecordStart failed");
            return 0;
        }
    }
    return 1;
}

void CAudComp::sendFrame(DWORD length) {
    AudioFrameHeader header{WORD(m_settings.RecordFormat), tickMs(), 0, WORD(length)};
    std::memcpy(m_frame.data(), &header, sizeof header);
    m_frame[sizeof header + length] = 0;
    if (m_link.SendAudioFrame(m_frame.data(), length + kAudioFrameOverheadBytes)) {
        ++m_framesSent;
    }
}

// The sending side with the network audio input: what other programs hand in.
void CAudComp::processNetVoice() {
    if (!m_netIn->IsConnected()) return;
    BYTE* payload = m_frame.data() + sizeof(AudioFrameHeader);
    DWORD length = 0;
    if (!m_netIn->Read(payload, PayloadCapacity(), length) || length == 0) return;
    // Only whole frames go on: the peer decodes nothing else.
    const DWORD whole = WholeSpeechFrameBytes(payload, length);
    if (whole != length) {
        LUMO_TRACE(1, "CAudComp::ProcessVoice %lu bytes from the network input, %lu of them whole frames",
                   (unsigned long)length, (unsigned long)whole);
    }
    if (whole == 0) return;
    BOOL remote = FALSE;
    if (!m_link.IsAudioEnabled(remote)) {
        LUMO_TRACE(1, "CAudComp::ProcessVoice() m_Comms->GetRemoteAudioState Failed");
        remote = FALSE;
    }
    if (m_settings.DontSend != 0 || m_sendPaused) return;
    if (m_link.IsLinkUp() && m_link.IsConnected() && remote != 0) sendFrame(whole);
}

void CAudComp::ProcessVoice() {
    if (m_netIn != nullptr) {
        processNetVoice();
        return;
    }
    BYTE* payload = m_frame.data() + sizeof(AudioFrameHeader);
    if (!m_captureActive || m_sendPaused || m_settings.DontSend != 0 || !m_link.IsLinkUp() ||
        !m_link.IsConnected() || !m_codec) {
        return;
    }
    BSTR data = reinterpret_cast<BSTR>(payload);
    LONG bytes = 0, ok = 0;
    if (FAILED(m_codec->RecordGetFrame(&data, LONG(PayloadCapacity()), &bytes, &ok)) || ok == 0 || bytes <= 0 ||
        DWORD(bytes) > PayloadCapacity()) {
        return;
    }
    sendFrame(DWORD(bytes));
}

void CAudComp::ProcessRemoteAudio(const BYTE* bytes, DWORD length) {
    try {
        AudioFrameHeader header{};
        if (bytes == nullptr || length < sizeof header) {
            LUMO_TRACE(1, "CAudComp::ProcessRemoteAudio frame of %lu bytes has no header", (unsigned long)length);
            return;
        }
        std::memcpy(&header, bytes, sizeof header);
        // The length is the peer's: it must lie inside the bucket and cover whole frames.
        const BYTE* payload = bytes + sizeof header;
        if (header.length > length - sizeof header) {
            LUMO_TRACE(1, "CAudComp::ProcessRemoteAudio length %u beyond the %lu bytes received", header.length,
                       (unsigned long)length);
            return;
        }
        const DWORD whole = WholeSpeechFrameBytes(payload, header.length);
        if (whole != header.length) {
            LUMO_TRACE(1, "CAudComp::ProcessRemoteAudio %u bytes of frames, %lu of them whole", header.length,
                       (unsigned long)whole);
        }
        if (whole == 0) {
            return;
        }
        if (m_netOut != nullptr) {
            if (m_netOut->IsConnected() && !m_netOut->Write(payload, whole)) {
                LUMO_TRACE(1, "CPacketConnection::StoreAudioFrame():pAudioOutNet->Write");
            }
            if (m_netOut->OnNewClientConnect()) {
                LUMO_TRACE(3, "CAudComp::ProcessRemoteAudio a  new client connected");
            } else if (m_netOut->OnClientDisconnect()) {
                LUMO_TRACE(3, "CAudComp::ProcessRemoteAudio client connected");
            }
        }
        if (m_settings.Recording != 0) {
            HandleAudioRecording(payload, whole);
        }
        if (m_playbackActive) {
            LONG ok = 0;
            if (!m_codec) {
                LUMO_TRACE(1, "CAudComp::ProcessRemoteAudio(LPITEMPTR pFrame) Failed");
            } else if (FAILED(m_codec->PlaybackPutFrame(const_cast<BYTE*>(payload), LONG(whole), &ok)) || ok == 0) {
                LUMO_TRACE(1, "CAudComp::ProcessRemoteAudio m_pIAmbrel->PlaybackPutFrame failed");
            }
        }
    } catch (const std::exception& e) {
        LUMO_TRACE(1, "CAudComp::ProcessRemoteAudio exception %s", e.what());
    }
}

int CAudComp::HandleAudioRecording(const BYTE* payload, DWORD length) {
    if (m_writer == nullptr) {
        return 0;
    }
    if (!m_writer->AddChunk(payload, length)) {
        LUMO_TRACE(1, "CAudComp::HandleAudioRecording m_pAudFileWriter->AddChunk Failed");
        m_host.dataLamp();
        return 0;
    }
    return 1;
}

int CAudComp::StartAudioRecording(int adapter, int camera) {
    DWORD remote = 0;
    if (m_settings.Recording == 0 || !m_host.hasMainWindow() || !m_host.remoteAudioState(remote) || remote == 0) {
        return 0;
    }
    const std::string station = m_host.stationId();
    CAudFilesMgr files;
    std::string path;
    if (!files.Open(station.c_str(), WORD(adapter), WORD(camera))) {
        LUMO_TRACE(1, "AudioFilesMgr.Open Failed");
    }
    if (!files.GetFileName(path)) {
        LUMO_TRACE(1, "AudioFilesMgr.GetFileName Failed");
    }
    StopAudioRecording(0);
    m_host.notifyRecordStart(path);
    m_writer = std::make_unique<CAudFileWriter>();
    if (path.empty() || !m_writer->Open(path, WORD(adapter), WORD(camera))) {
        m_host.dataLamp();
        StopAudioRecording(0);
    }
    return 1;
}

int CAudComp::StopAudioRecording(int flag) {
    if (m_writer == nullptr) {
        return 1;
    }
    const std::string name = m_writer->GetFileName();
    m_writer->Close();
    m_writer.reset();
    m_host.notifyRecordFinish(name, DWORD(flag));
    return 1;
}

}  // namespace trennick
