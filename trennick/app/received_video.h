#pragma once
// CReceivedVideo: the recording side of the site's video inside the main
// frame. The video pipeline hands it each received frame after the key-frame
// wait, in arrival order, before the frame is decoded; it passes them to the recorder, which records them
// while the operator's recording is on. It keeps the recording status that
// the frame's record commands switch and tells the recorder the stream version
// of the connection.
//
// Thread: the user-interface thread (the link is read in the loop pass, and
// the pipeline goes on with each frame as it arrives).
// Failure: nothing throws.

#include "platform/types.h"
#include "trennick/record/video_recorder.h"
#include "trennick/video/pipeline/video_frame.h"
#include "trennick/video/video_mgr.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace trennick {

class CMainFrame;
class CPacketConnection;

class CReceivedVideo : public VideoFrameSink, public VideoRecorderHost {
public:
    explicit CReceivedVideo(CMainFrame& frame);
    ~CReceivedVideo() override;

    // Gives the recorder the remote station's database (once); its split-view
    // object exists from then on.
    void Attach();
    // One loop pass: the recorder's database and the stream version.
    void Step(CPacketConnection& link);
    // VideoFrameSink: one frame on its way to the video window, and back.
    void OnVideoFrame(const VideoFrame& frame) override;
    void OnFrameHandled(BOOL shown) override { m_mgr->OnFrameHandled(shown); }

    // The operator's recording: requested on or off under the mask (bit 0);
    // "EnableRecord" 0 keeps it off. Every call closes the open files.
    void SetRecordingStatus(BOOL requested, WORD mask);
    BOOL RecordingOn() const { return m_statusWord != 0; }
    // The last write succeeded, recording on, the status word.
    void GetRecordingStatus(BOOL& writeOk, BOOL& recording, WORD& word) const;

    CVideoRecorder& Recorder() { return *m_mgr; }
    // Frames taken and snapshots written since the program started.
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
    // Each snapshot written to an event file blinks the remote window's recording mark.
    void snapshotWritten() override;
    void selectVideoInput(WORD adapter, WORD camera, WORD page) override;
    // The program's clock (the split cycle's timing follows it).
    DWORD nowMs() override;
    void splitModeChanged() override;

private:
    CMainFrame& m_frame;
    std::unique_ptr<CVideoRecorder> m_mgr;
    bool m_attached = false;
    DWORD m_framesTaken = 0;
    DWORD m_framesWritten = 0;
    std::deque<std::string> m_recordedFiles;
    bool m_enableRecord = true;
    BOOL m_lastWriteOk = FALSE;
    BOOL m_recording = FALSE;
    WORD m_statusWord = 0;
    // The picture size the last frame that told one gave (QCIF until then).
    DWORD m_pictureWidth = 176;
    DWORD m_pictureHeight = 144;
};

}  // namespace trennick
