#pragma once
// CRemoteWnd: the floating "Remote Camera" window in which the operator's
// station shows the live video of the connected site. This is its video road:
// it keeps the list of frames the link receives, answers the site's video
// opening, passes each frame to the video manager, which has the video child
// window decode and draw it, keeps the frame statistics, and stops when the
// site closes its video or the link goes down.
//
// Threads: the window and ProcessRemoteVideo belong to the user-interface
// thread. The frame list and the peer's new settings may be filled from the
// thread that reads the link; they sit behind m_queueLock and are taken over
// on the next loop pass.

#include "platform/types.h"
#include "trennick/link/av_ports.h"
#include "trennick/link/link_host.h"
#include "trennick/video/video_wnd.h"

#include <QWidget>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class QLabel;

namespace trennick {

class CPacketConnection;
class CVideoMgr;

// What the window takes from the main frame's video settings.
struct RemoteVideoSettings {
    CPARAMS params;            // the requested picture size and frame rate word
    DWORD askBeforeVideo = 0;  // ask the operator before the site's video is accepted
    DWORD doubleSize = 0;      // show the picture at twice its size
    DWORD frameRate = 50;      // 0 to 100
};

// Window states.
enum class RemoteState : BYTE { NotCreated = 0, Idle = 1, Receiving = 3, Paused = 4 };

inline constexpr DWORD kStallAfterMs = 5000;

class CRemoteWnd : public QWidget, public RemoteFrameList, public LinkVideoWindow {
public:
    CRemoteWnd();
    ~CRemoteWnd() override;

    void SetConnection(CVideoMgr* videoManager, CPacketConnection* connection, RemoteVideoSettings* settings);
    // Asks the operator before the site's video is accepted: 512 yes, 16 no.
    void SetAskVideo(std::function<int()> ask) { m_askVideo = std::move(ask); }
    void CreateVideoWnd();
    void StartVideoWnd();
    void StopVideoWnd();
    // One loop pass of the video road; 0 only when the operator refused the video.
    int ProcessRemoteVideo();
    void SetHoldState(int side, BOOL on);

    // RemoteFrameList: filled by the link.
    void clear() override;
    void push(WORD bucketType, const BYTE* frame, DWORD length, bool changed) override;
    // LinkVideoWindow.
    int UpdateVideoMgr() override { return 1; }
    void OnNewVideoSettings(WORD remoteVideoState, DWORD width, DWORD height, DWORD frameRateWord) override;
    void SetFrameRate(int rate) override;

    // The frame statistics: frames decoded, bytes received, and the rate of
    // the last period (frames per second).
    DWORD FramesDecoded() const { return m_totalDecoded; }
    double FramesPerSecond() const { return m_lastRate; }
    RemoteState State() const { return m_state; }
    std::string StatisticsText() const;
    bool Stalled() const { return m_stalled; }
    QWidget* VideoArea() const { return m_videoArea; }

private:
    void applyNewSettings(DWORD width, DWORD height, DWORD frameRateWord);
    void sendVideoSettings();
    void drainQueue(bool decode);
    void restartStatistics();
    void layOut(int width, int height);
    DWORD now() const;

    CVideoMgr* m_videoMgr = nullptr;
    CPacketConnection* m_connection = nullptr;
    RemoteVideoSettings* m_settings = nullptr;
    std::function<int()> m_askVideo;
    RemoteState m_state = RemoteState::NotCreated;
    BYTE m_holdFlags = 0;
    bool m_sizeChangePending = false;
    QWidget* m_videoArea = nullptr;
    QLabel* m_statistics = nullptr;

    std::mutex m_queueLock;
    std::deque<std::unique_ptr<VideoFrame>> m_frames;
    struct NewSettings {
        DWORD width, height, frameRateWord;
    };
    std::optional<NewSettings> m_newSettings;

    DWORD m_lastFrameMs = 0;
    DWORD m_periodStartMs = 0;
    DWORD m_periodFrames = 0;
    DWORD m_periodBytes = 0;
    DWORD m_totalDecoded = 0;
    double m_lastRate = 0;
    bool m_stalled = false;
};

}  // namespace trennick
