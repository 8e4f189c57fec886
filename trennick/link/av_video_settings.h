#pragma once
// Video settings exchanged between two stations and the states of the two
// video directions: the two 52-byte settings records of this side ("my" video
// and "your" video), their sending ("<MyVideoSettings>", "<YourVideoSettings>")
// and receiving, and the state changes that tell the peer to close, pause or
// resume a video direction (SetVideoStatus).
//
// Threads: one thread at a time (under the link's bucket lock).
// Failure: a settings token with fewer bytes behind it than its form needs is
// traced and ignored; senders return 0 when nothing was written.

#include "platform/types.h"
#include "trennick/link/av_ports.h"

#include <array>
#include <optional>

namespace trennick {

inline constexpr std::size_t kVideoSettingsRecordBytes = 52;
inline constexpr std::size_t kYourVideoShortFormBytes = 16;
inline constexpr std::size_t kMyVideoShortFormBytes = 12;
using VideoSettingsRecord = std::array<BYTE, kVideoSettingsRecordBytes>;

// Video states (LVideo.Status, RVideo.Status).
inline constexpr WORD kVideoStateOpen = 2;
inline constexpr WORD kVideoStateInProcess = 3;
inline constexpr WORD kVideoStateClosed = 5;
inline constexpr WORD kVideoStatePauseRequest = 6;
inline constexpr WORD kVideoStateResume = 7;
inline constexpr WORD kVideoStatePaused = 10;

// The two video directions and their states.
class VideoStates {
public:
    // kind 0: our video towards the peer; 1: the peer's video towards us.
    void SetVideoStatus(AvLink& link, BYTE kind, WORD status);
    // "<VideoOpen>" after BeforeVideoOpen: answers "<OkVideoOpen>" when the
    // peer's video already runs, else marks it open (unless state 4).
    void OnVideoOpen(AvLink& link);
    void OnNoVideoOpen() { m_local = kVideoStateClosed; }
    void OnCloseMyVideo() { m_remote = kVideoStateClosed; }
    // The peer's requests about our video: "<CloseYourVideo>" closes it,
    // "<VIDEORPAUSE>" pauses it and "<VIDEORRESUME>" takes it back to the
    // state the pause interrupted. No frame of ours goes while it is paused or
    // closed (framesAllowed).
    void OnPeerClosesOurVideo();
    void OnPeerPausesOurVideo();
    void OnPeerResumesOurVideo();
    bool framesAllowed() const { return m_local != kVideoStatePaused && m_local != kVideoStateClosed; }

    WORD local() const { return m_local; }
    WORD remote() const { return m_remote; }
    void reset(WORD local, WORD remote);

private:
    WORD m_local = 1;
    WORD m_remote = 0;
    WORD m_remembered = 0;       // the state a pause interrupted
    WORD m_rememberedLocal = 0;  // the same for our video
};

class VideoSettingsExchange {
public:
    // GetVideoSettings: selector 0 the first record, else the second; the
    // record's value at 32 is cleared; returns the matching state.
    WORD GetVideoSettings(int selector, VideoSettingsRecord& out, const VideoStates& states);

    // SendVideoSettings: one token bucket with the token and the record (peer
    // P below 2) or the short form; never while a hold bit is set.
    LONG SendVideoSettings(AvLink& link, int selector, const BYTE* shortForm, const VideoSettingsRecord& record);
    // SendDefaultVideoQuality: "<YourVideoSettings>" with the main frame's
    // record and its short form (values at 12 and 16, the quality, 0).
    LONG SendDefaultVideoQuality(AvLink& link, const VideoSettingsRecord& frameRecord, WORD quality);

    // NewVideoSettings for "<MyVideoSettings>" (kind 0) or
    // "<YourVideoSettings>" (kind 1): `body` is what follows the token. For
    // kind 1 the window gets the peer's video state and the three values.
    void NewVideoSettings(AvLink& link, int kind, const BYTE* body, DWORD length, const VideoStates& states,
                          RemoteVideoWindow* window);

    const VideoSettingsRecord& record(int selector) const { return selector == 0 ? m_mine : m_yours; }

private:
    VideoSettingsRecord m_mine{};
    VideoSettingsRecord m_yours{};
};

// BeforeVideoOpen: empties the waiting frames; when the peer placed the call
// sets the remote window's frame rate; then sends our default video quality.
void BeforeVideoOpen(AvLink& link, VideoSettingsExchange& settings, bool outgoingCall, RemoteFrameList* frames,
                     RemoteVideoWindow* window, int frameRate, const VideoSettingsRecord& frameRecord,
                     WORD quality);

}  // namespace trennick
