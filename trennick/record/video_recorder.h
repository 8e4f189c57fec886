#pragma once
// CVideoRecorder: the recording half of the remote view's video manager.
// Every compressed video frame from the connected site reaches it once, after
// the key-frame wait and before it is shown: while recording is requested it
// goes into an event file (one file per adapter and camera, one snapshot per
// picture), and in split or auto-switch view the recorder asks the site for
// the next camera of the cycle.
//
// Thread: the user-interface thread only (the loop pass that reads the link).
// An H.263 stream arrives in pieces: each camera's pieces are joined into
// whole pictures of its own (CTMNFrame), and the picture still being joined,
// the pending one, is written when the input moves to another camera or the
// file closes.
//
// Failure: a file that cannot be opened switches recording off through the
// main frame, once per recording; a snapshot that cannot be written lights the
// main frame's data lamp and the next frame is tried again. Nothing throws.

#include "platform/message_window.h"
#include "platform/types.h"
#include "trennick/link/link_host.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

class CDBLumo;
class CEventFile;

namespace trennick {

class CRemoteQuad;

// The recording table: one slot per adapter and camera.
inline constexpr WORD kRecordAdapters = 6;
inline constexpr WORD kRecordCameras = 18;
inline constexpr std::size_t kRecordSlots = std::size_t(kRecordAdapters) * kRecordCameras;

// Activity-log events of recording files.
inline constexpr short kLogRecordFileOpened = 35;
inline constexpr short kLogRecordFileClosed = 36;

// What the recorder needs around it: the coordinator's recording status, the
// main frame, the remote station window and the video window.
class VideoRecorderHost {
public:
    virtual ~VideoRecorderHost() = default;
    // The recording status word (bit 0: recording requested).
    virtual WORD recordingStatusWord() = 0;
    // The last write's success, recording on, and the status word.
    virtual void setRecordingValues(BOOL writeOk, BOOL recording, WORD word) = 0;
    // Posts a refusal, a command or a lamp request to the main window.
    virtual void postToMainWindow(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // The station whose event tree takes the recordings (empty: this station's).
    virtual std::string storageStation() = 0;
    // The kit is told of each recording file opened and closed.
    virtual void recordFileOpened(const std::string& /*fileName*/) {}
    virtual void recordFileClosed(const std::string& /*fileName*/) {}
    // The received picture size as the remote station window reports it.
    virtual void receivedPictureSize(DWORD& width, DWORD& height) = 0;
    // A snapshot was written (a frame, or a pending picture at a switch or
    // at the close of a recording).
    virtual void snapshotWritten() {}
    // The split view's mode changed: the video window lays its panes out anew.
    virtual void splitModeChanged() {}
    // Asks the site for a camera of an adapter (the capture object's input
    // switch; a page number + 1 in `page` selects a split page instead).
    virtual void selectVideoInput(WORD /*adapter*/, WORD /*camera*/, WORD /*page*/) {}
    // Milliseconds of a monotonic clock.
    virtual DWORD nowMs();
};

// The name of a camera of an adapter as the site's hardware profile gives it;
// empty when the database or the profile has none.
std::string CameraName(CDBLumo* database, WORD adapter, WORD camera);

class CVideoRecorder {
public:
    explicit CVideoRecorder(VideoRecorderHost& host);
    ~CVideoRecorder();
    CVideoRecorder(const CVideoRecorder&) = delete;
    CVideoRecorder& operator=(const CVideoRecorder&) = delete;

    // The remote station's settings database (current adapter, hardware
    // profile). The split-view object is made on the first call.
    void Attach(CDBLumo* database);

    // One frame after the key-frame wait, with its camera (low 16 bits used)
    // and kind (10 the site has no signal on that input, 11 a split page,
    // others ordinary frames), before it is shown: recorded while recording
    // is requested. TRUE when a snapshot was written.
    BOOL OnVideoFrame(const BYTE* data, DWORD length, DWORD camera, DWORD kind);
    // The same frame after the video window had it: `shown` when it produced
    // a picture (which ends the wait for the new input); the split cycle
    // then moves on.
    void OnFrameHandled(BOOL shown);
    BOOL SetEventFileByAdapterAndCamera(WORD camera, WORD splitFlag);
    BOOL OpenEventFile(std::size_t slot, WORD splitFlag);
    // Appends one frame to the file of the slot; *failed stays set on a real
    // write failure and is cleared while a picture is still incomplete.
    BOOL HandleAddFrameToFile(std::size_t slot, const BYTE* data, DWORD length, BOOL* failed, DWORD kind);
    // Closes every open file (each file's last picture written first) and
    // frees the table; the coordinator calls it on every change of the
    // recording status.
    void CloseAllEventFiles();
    void SwitchTheInputInQuad();
    // Makes a camera current; when it differs from the current one the
    // previous camera's pending picture goes into its file first.
    void SetCurrentVideoInput(WORD camera);
    // Writes the pending picture of the camera recorded last into its file
    // (H.263 streams); TRUE when one was written.
    BOOL WritePendingFrame();
    BOOL SetStreamVersion(WORD version);
    BOOL SetStreamKind(WORD kind);
    void SetSplitMode(BOOL on);
    BOOL IsSplitOrAutoSwitchMode() const;
    BOOL HasSeveralInputs() const;

    // State, for the coordinator and tests.
    WORD StreamVersion() const { return m_streamVersion; }
    WORD StreamKind() const { return m_streamKind; }
    WORD CurrentAdapter() const { return m_currentAdapter; }
    WORD CurrentCamera() const { return m_currentCamera; }
    bool HasEventFiles() const { return m_files != nullptr; }
    bool InputChanged() const { return m_inputChanged; }
    // A switch asked of the site waits for a frame of its new input.
    bool WaitingForNewInput() const { return m_waitingForNewInput; }
    // The site answered the switch (its input is selected): nothing more to
    // wait for before the next switch.
    void ClearInputSwitchPending() { m_waitingForNewInput = false; }
    // Bytes of the pending picture of the camera recorded last.
    DWORD PendingLength() const;
    // The name of the file open in a slot; empty when none.
    std::string OpenFileName(WORD adapter, WORD camera) const;
    CRemoteQuad* SplitView() const { return m_pRQ.get(); }

private:
    struct Slot;
    // Who hears of a closed file: nobody (destruction), the kit, or the kit
    // and the activity log.
    enum class CloseNote { None, Notify, NotifyAndLog };
    void closeSlot(Slot& slot, CloseNote note);
    Slot* openSlot() const;
    BOOL writePending(Slot& slot);
    BOOL writeSnapshot(CEventFile& file, const BYTE* data, DWORD length, DWORD kind);
    BOOL recordFrame(const BYTE* data, DWORD length, DWORD kind, WORD camera, WORD splitFlag);

    VideoRecorderHost& m_host;
    CDBLumo* m_database = nullptr;
    WORD m_currentAdapter = 0;
    WORD m_currentCamera = 0;
    WORD m_openAdapter = 0;
    WORD m_openCamera = 0;
    std::unique_ptr<CRemoteQuad> m_pRQ;
    bool m_waitingForNewInput = false;
    bool m_inputChanged = false;
    DWORD m_lastSwitchMs = 0;
    std::unique_ptr<std::array<std::unique_ptr<Slot>, kRecordSlots>> m_files;
    // An open failure is reported once; the next change of the recording
    // status (which closes the table) starts a new episode.
    bool m_openFailureReported = false;
    WORD m_streamVersion = 1;
    WORD m_streamKind = 4;
};

}  // namespace trennick
