#pragma once
// CAudComp: the talk channel between two connected stations. It takes coded
// speech from the sound card through the audio codec server (or from the
// network audio input when one is configured) and sends it over the link in
// audio buckets, one step per pass of the main loop; it plays each received
// audio frame, passes it to the network audio output when there is one, and
// appends it to the current recording.
//
// User-interface thread only: the loop pass and the link's dispatch both run
// there. Without the codec server audio is silently absent; every failure is
// traced and answered 0.

#include "ambrelapi/ambrelapi_lib.h"
#include "platform/com/com_ptr.h"
#include "platform/types.h"
#include "trennick/audio/aud_files.h"
#include "trennick/link/link_host.h"

#include <memory>
#include <string>
#include <vector>

namespace trennick {

class CPacketConnection;
class CAudioInNet;
class CAudioOutNet;

#pragma pack(push, 1)
// The head of an audio bucket's payload; the coded frames follow, then one spare byte.
struct AudioFrameHeader {
    WORD recordFormat;
    DWORD tickMs;  // the sender's millisecond tick when the frame was taken
    WORD reserved;
    WORD length;   // bytes of coded frames that follow
};
#pragma pack(pop)
static_assert(sizeof(AudioFrameHeader) == 10);
inline constexpr DWORD kAudioFrameOverheadBytes = sizeof(AudioFrameHeader) + 1;

// The bytes of whole G.723.1 frames at the start of `data` (24, 20 or 4 bytes
// each by the low bits of the first byte); stops at an invalid or cut frame.
DWORD WholeSpeechFrameBytes(const BYTE* data, DWORD length);

// What the audio client needs of the main frame.
class AudioHost {
public:
    virtual ~AudioHost() = default;
    virtual bool hasMainWindow() = 0;
    // The remote station's audio state as the link reports it; false on failure.
    virtual bool remoteAudioState(DWORD& state) = 0;
    // The connected site's station id (its first text); empty without one.
    virtual std::string stationId() = 0;
    virtual void notifyRecordStart(const std::string& fileName) = 0;
    virtual void notifyRecordFinish(const std::string& fileName, DWORD flag) = 0;
    // Lights the data lamp (a recording file could not be written).
    virtual void dataLamp() = 0;
};

// The Audio settings (section "Audio" of the instance's key).
struct AudioSettings {
    DWORD DisableAudio = 0;
    DWORD FramesPerCycle = 4;
    DWORD FlushOnInputSelection = 1;
    DWORD DontSend = 0;
    DWORD DontPlay = 0;
    DWORD Recording = 0;
    DWORD RecordFormat = 1;
    DWORD NetIn = 0;
    std::string NetInPort = "4596";
    // The address the network input listens on, unless NetInPort names one:
    // this computer alone, as the input takes speech from whoever attaches.
    std::string NetInAddress = "127.0.0.1";
    DWORD NetOut = 0;
    std::string NetOutPort = "4597";
};

class CAudComp : public LinkAudioClient {
public:
    // A bucket carries at most this many frames: more would not fit the
    // 1,024 bytes that a receiver takes.
    static constexpr DWORD kMaxFramesPerCycle = (1024 - kAudioFrameOverheadBytes) / 24;

    CAudComp(CPacketConnection& link, AudioHost& host);
    ~CAudComp() override;
    CAudComp(const CAudComp&) = delete;
    CAudComp& operator=(const CAudComp&) = delete;

    int StartVoiceCompressProcess();
    int StopVoiceCompressProcess();
    // The audio button: pause (1) or resume (0) sending.
    int StopSendAudio(int pause);
    void ProcessVoice();
    void ProcessRemoteAudio(const BYTE* bytes, DWORD length) override;
    bool audioFlag() const override { return bool(m_codec); }
    int StartAudioRecording(int adapter, int camera);
    int StopAudioRecording(int flag);

    const AudioSettings& Settings() const { return m_settings; }
    bool HasCodec() const { return bool(m_codec); }
    bool CaptureActive() const { return m_captureActive; }
    bool PlaybackActive() const { return m_playbackActive; }
    bool SendPaused() const { return m_sendPaused; }
    bool RecordingOpen() const { return m_writer != nullptr; }
    DWORD PayloadCapacity() const { return DWORD(m_frame.size()) - kAudioFrameOverheadBytes; }
    DWORD FramesSent() const { return m_framesSent; }
    CAudioInNet* NetIn() const { return m_netIn.get(); }
    CAudioOutNet* NetOut() const { return m_netOut.get(); }

private:
    void readSettings();
    void sendFrame(DWORD length);
    void processNetVoice();
    int HandleAudioRecording(const BYTE* payload, DWORD length);

    CPacketConnection& m_link;
    AudioHost& m_host;
    AudioSettings m_settings;
    std::unique_ptr<CAudioOutNet> m_netOut;
    std::unique_ptr<CAudioInNet> m_netIn;
    std::unique_ptr<CAudFileWriter> m_writer;
    platform::com::ComPtr<IAmbrel> m_codec;
    std::vector<BYTE> m_frame;
    bool m_captureActive = false;
    bool m_playbackActive = false;
    bool m_sendPaused = false;
    DWORD m_framesSent = 0;
};

}  // namespace trennick
