#pragma once
// CReceivedVideo: the road of the site's video inside the main frame until
// the video view takes it. The link queues each received frame here (its
// frame list); on each loop pass the frames wait for a key frame and then go,
// in arrival order, to the recorder, which records them while the operator's
// recording is on. It keeps the recording status that the frame's record
// commands switch, accepts the site's video opening, and tells the recorder
// the stream version of the connection.
//
// Thread: the user-interface thread (the link is read in the loop pass).
// Failure: frames beyond the queue's bound are dropped, oldest first, and
// traced; nothing throws.

#include "platform/types.h"
#include "trennick/link/av_ports.h"
#include "trennick/record/video_recorder.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace trennick {

class CMainFrame;
class CPacketConnection;

// Frames waiting for the loop pass at most.
inline constexpr std::size_t kReceivedFramesMax = 64;

class CReceivedVideo : public RemoteFrameList, public VideoRecorderHost {
public:
    explicit CReceivedVideo(CMainFrame& frame);
    ~CReceivedVideo() override;

    // RemoteFrameList: the link's frames.
    void clear() override;
    void push(WORD bucketType, const BYTE* frame, DWORD length, bool changed) override;

    // One loop pass: the opening, the stream version and every waiting frame.
    void Step(CPacketConnection& link);

    // The operator's recording: requested on or off under the mask (bit 0);
    // "EnableRecord" 0 keeps it off. Every call closes the open files.
    void SetRecordingStatus(BOOL requested, WORD mask);
    BOOL RecordingOn() const { return m_statusWord != 0; }
    // The last write succeeded, recording on, the status word.
    void GetRecordingStatus(BOOL& writeOk, BOOL& recording, WORD& word) const;

    CVideoRecorder& Recorder() { return *m_mgr; }
    // Frames taken and frames written since the program started.
    DWORD FramesTaken() const { return m_framesTaken; }
    DWORD FramesWritten() const { return m_framesWritten; }
    // The files of the recordings that ended, oldest first (the last 64).
    const std::deque<std::string>& RecordedFiles() const { return m_recordedFiles; }

    // VideoRecorderHost.
    WORD recordingStatusWord() override { return m_statusWord; }
    void setRecordingValues(BOOL writeOk, BOOL recording, WORD word) override;
    void postToMainWindow(UINT message, WPARAM wParam, LPARAM lParam) override;
    std::string storageStation() override;
    void recordFileOpened(const std::string& fileName) override;
    void recordFileClosed(const std::string& fileName) override;
    void receivedPictureSize(DWORD& width, DWORD& height) override;
    void frameRecorded() override { ++m_framesWritten; }
    void selectVideoInput(WORD adapter, WORD camera, WORD page) override;

private:
    CMainFrame& m_frame;
    CPacketConnection* m_link = nullptr;
    std::unique_ptr<CVideoRecorder> m_mgr;
    struct Queued {
        std::vector<BYTE> data;
        DWORD camera = 0;
        DWORD kind = 0;
    };
    std::deque<Queued> m_frames;
    bool m_attached = false;
    bool m_waitingForKeyFrame = true;
    DWORD m_framesTaken = 0;
    DWORD m_framesWritten = 0;
    std::deque<std::string> m_recordedFiles;
    bool m_enableRecord = true;
    BOOL m_lastWriteOk = FALSE;
    BOOL m_recording = FALSE;
    WORD m_statusWord = 0;
    int m_format = 2;  // H.263 source format of the last picture (2: QCIF)
    DWORD m_dropped = 0;
};

}  // namespace trennick
