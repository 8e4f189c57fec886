#include "trennick/record/video_recorder.h"

#include "common/fixed_text.h"
#include "common/lumo_deb.h"
#include "tavicore/db_lumo.h"
#include "tavicore/event_file.h"
#include "tavicore/log_write.h"
#include "trennick/link/link_host.h"
#include "trennick/record/remote_quad.h"
#include "trennick/record/tmn_frame.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace trennick {

namespace {

constexpr DWORD kNewInputTimeoutMs = 5000;
constexpr DWORD kKindNoVideo = 10;
constexpr DWORD kKindSplitPage = 11;

void logEntry(short eventId, const std::string& info) {
    if (logWrite != nullptr) logWrite->AddEntryEx(nullptr, eventId, 0, "", 0, info.c_str());
}

std::string cameraText(unsigned camera) { return "Camera " + std::to_string(camera); }

}  // namespace

std::string CameraName(CDBLumo* database, WORD adapter, WORD camera) {
    if (database == nullptr || adapter >= kMaxAdapters || camera >= kCamerasPerAdapter) return {};
    auto profile = std::make_unique<tagHWProfile>();
    if (database->GetHWProfiles(profile.get()) == 0) return {};
    const char* name = profile->adapters[adapter].cameras[camera].name;
    return fixed_text::Read(name, kSettingsNameBytes);
}

DWORD VideoRecorderHost::nowMs() {
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// One open recording file and, for an H.263 stream, the picture being
// assembled from that camera's chunks (its pending picture): each picture goes
// into the file of the camera whose chunks made it, with the kind of the
// chunks that made it.
struct CVideoRecorder::Slot {
    std::unique_ptr<CEventFile> file;
    CTMNFrame builder;
    DWORD lastKind = 0;
};

CVideoRecorder::CVideoRecorder(VideoRecorderHost& host) : m_host(host) {}

CVideoRecorder::~CVideoRecorder() {
    // Files are completed and closed without notification or log entry.
    if (m_files != nullptr) {
        for (auto& slot : *m_files) {
            if (slot != nullptr) closeSlot(*slot, CloseNote::None);
        }
        m_files.reset();
    }
}

void CVideoRecorder::Attach(CDBLumo* database) {
    m_database = database;
    if (m_pRQ == nullptr) m_pRQ = std::make_unique<CRemoteQuad>(database);
}

std::string CVideoRecorder::OpenFileName(WORD adapter, WORD camera) const {
    if (m_files == nullptr || adapter >= kRecordAdapters || camera >= kRecordCameras) return {};
    const auto& slot = (*m_files)[std::size_t(adapter) * kRecordCameras + camera];
    if (slot == nullptr || slot->file == nullptr) return {};
    char name[MAX_PATH] = {};
    slot->file->evGetLastFileName(name, sizeof name);
    return name;
}

BOOL CVideoRecorder::OnVideoFrame(const BYTE* data, DWORD length, DWORD frameCamera, DWORD kind) {
    // A frame of a split page is recorded in a slot of its own, behind the
    // adapter's cameras.
    WORD camera = static_cast<WORD>(frameCamera & 0xFFFF);
    WORD splitFlag = 0;
    if (kind == kKindSplitPage && m_database != nullptr) {
        WORD adapter = 0;
        m_database->GetCurrentAdapter(&adapter);
        auto profile = std::make_unique<tagHWProfile>();
        if (adapter < kMaxAdapters && m_database->GetHWProfiles(profile.get()) != 0) {
            const tagAdapterBlock& block = profile->adapters[adapter];
            tagAdapterDeviceData device{};
            std::memcpy(&device, block.deviceData, sizeof device);
            if (device.pageSelected != 0) {
                camera = static_cast<WORD>(device.selectedPage + block.camerasNumber);
                splitFlag = static_cast<WORD>(device.selectedPage + 1);
            }
        }
    }
    return (m_host.recordingStatusWord() & 1) != 0 && recordFrame(data, length, kind, camera, splitFlag);
}

void CVideoRecorder::OnFrameHandled(BOOL shown) {
    // Only a picture of the new input ends the wait for it: a frame that
    // decodes to nothing leaves the cycle waiting (at most the time-out).
    if (shown) m_inputChanged = false;
    SwitchTheInputInQuad();
}

BOOL CVideoRecorder::recordFrame(const BYTE* data, DWORD length, DWORD kind, WORD camera, WORD splitFlag) {
    // A failed open was reported once; this recording writes nothing more
    // until the status changes (the main frame switches it off).
    if (m_openFailureReported) return FALSE;
    if (!SetEventFileByAdapterAndCamera(camera, splitFlag)) {
        m_openFailureReported = true;
        m_host.postToMainWindow(kMsgTokenRefused, kCmdRecordStart, 0);
        m_host.postToMainWindow(kMsgCommand, kCmdRecordFinish, 0);
        return FALSE;
    }
    const WORD word = m_host.recordingStatusWord();
    BOOL failed = FALSE;
    const std::size_t slot = std::size_t(m_currentAdapter) * kRecordCameras + m_currentCamera;
    if (HandleAddFrameToFile(slot, data, length, &failed, kind)) {
        m_host.setRecordingValues(TRUE, TRUE, word);
        m_host.snapshotWritten();
        return TRUE;
    }
    m_host.setRecordingValues(FALSE, TRUE, word);
    if (failed) {
        m_host.postToMainWindow(kMsgDataLamp, 0, 1);
    }
    return FALSE;
}

BOOL CVideoRecorder::SetEventFileByAdapterAndCamera(WORD camera, WORD splitFlag) {
    WORD adapter = 0;
    if (m_database != nullptr) m_database->GetCurrentAdapter(&adapter);
    // The table has 6 adapters of 18 cameras; a number from the site outside
    // it has no file.
    if (adapter >= kRecordAdapters || camera >= kRecordCameras) {
        LUMO_TRACE(1, "CVideoRecorder::SetEventFileByAdapterAndCamera adapter %u camera %u outside the recording table",
                   unsigned(adapter), unsigned(camera));
        return FALSE;
    }
    m_currentAdapter = adapter;
    m_currentCamera = camera;
    if (m_files == nullptr) {
        LUMO_TRACE(3, "[I] Create EventFiles list");
        m_files = std::make_unique<std::array<std::unique_ptr<Slot>, kRecordSlots>>();
        m_openAdapter = adapter;
        m_openCamera = camera;
        return OpenEventFile(std::size_t(adapter) * kRecordCameras + camera, splitFlag);
    }
    if (adapter == m_openAdapter && camera == m_openCamera) {
        auto& slot = (*m_files)[std::size_t(adapter) * kRecordCameras + camera];
        if (slot != nullptr) return TRUE;
    } else if (!IsSplitOrAutoSwitchMode()) {
        // Single view: the previous camera's file ends here. In split view
        // every camera of the cycle keeps its own file open.
        auto& previous = (*m_files)[std::size_t(m_openAdapter) * kRecordCameras + m_openCamera];
        if (previous != nullptr) {
            LUMO_TRACE(3, "CVideoRecorder::SetEventFileByAdapterAndCamera input is changed, close event file and open event file ");
            closeSlot(*previous, CloseNote::Notify);
            previous.reset();
        }
    }
    m_openAdapter = adapter;
    m_openCamera = camera;
    const std::size_t index = std::size_t(adapter) * kRecordCameras + camera;
    if ((*m_files)[index] != nullptr) return TRUE;
    return OpenEventFile(index, splitFlag);
}

BOOL CVideoRecorder::OpenEventFile(std::size_t slot, WORD splitFlag) {
    if (m_files == nullptr || slot >= kRecordSlots) return FALSE;
    const WORD adapter = static_cast<WORD>(slot / kRecordCameras);
    const WORD camera = static_cast<WORD>(slot % kRecordCameras);
    const std::string station = m_host.storageStation();
    tagEventHeader header{};
    header.wAdapter = adapter;
    header.wCamera = camera;
    header.dwType = m_streamVersion == 2 ? EVENT_TYPE_MOVIE_256 : EVENT_TYPE_MOVIE;
    DWORD width = 0, height = 0;
    m_host.receivedPictureSize(width, height);
    header.dwWidth = width;
    header.dwHeight = height;
    // Each recording gets the next event number of its folder, so a second
    // recording of the camera never writes over the first.
    DWORD latest = 0;
    if (CEventFile::evGetLatestEventIndex(station.empty() ? nullptr : station.c_str(), &header, &latest)) {
        header.dwEventNumber = latest + 1;
    }
    auto entry = std::make_unique<Slot>();
    entry->file = std::make_unique<CEventFile>(1, &header, static_cast<char*>(nullptr), station.empty() ? nullptr : station.c_str());
    WORD error = 0;
    entry->file->GetLastError(&error);
    if (error != 0) {
        LUMO_TRACE(1, "CVideoRecorder::OpenEventFile OpenEventFile() Failed!!!! dwErr=%ld", long(error));
        (*m_files)[slot].reset();
        return FALSE;
    }
    char name[MAX_PATH] = {};
    entry->file->evGetLastFileName(name, sizeof name);
    m_host.recordFileOpened(name);
    logEntry(kLogRecordFileOpened, splitFlag != 0 ? std::string("Instant Quad camera") : cameraText(camera + 1u));
    (*m_files)[slot] = std::move(entry);
    return TRUE;
}

BOOL CVideoRecorder::writeSnapshot(CEventFile& file, const BYTE* data, DWORD length, DWORD kind) {
    tagEventSnapshot snapshot{};
    if (kind == kKindNoVideo) std::memcpy(snapshot.chMagic, "NVID", 4);
    snapshot.dwSize = length;
    return file.AddSnapShot(&snapshot, nullptr, const_cast<BYTE*>(data), 0) != 0;
}

BOOL CVideoRecorder::HandleAddFrameToFile(std::size_t slotIndex, const BYTE* data, DWORD length, BOOL* failed,
                                     DWORD kind) {
    Slot* slot = m_files != nullptr && slotIndex < kRecordSlots ? (*m_files)[slotIndex].get() : nullptr;
    if (slot == nullptr || slot->file == nullptr) {
        LUMO_TRACE(1, "CVideoRecorder::HandleAddFrameToFile Failed pEventFile = NULL");
        return FALSE;
    }
    if (failed != nullptr) *failed = TRUE;
    if (m_streamVersion == 1) {
        if (writeSnapshot(*slot->file, data, length, kind)) return TRUE;
        LUMO_TRACE(1, "CVideoRecorder::HandleAddFrameToFile Add frame to event file failed");
        return FALSE;
    }
    if (m_streamVersion == 2) {
        // The picture this chunk completed is the camera's previous one; it
        // keeps the kind of the chunks that made it.
        const DWORD pictureKind = slot->lastKind;
        if (!slot->builder.BuildFrame(data, length)) {
            if (slot->builder.Collected() != 0) slot->lastKind = kind;
            if (failed != nullptr) *failed = FALSE;
            return FALSE;
        }
        slot->lastKind = kind;
        if (writeSnapshot(*slot->file, slot->builder.Frame(), slot->builder.FrameSize(), pictureKind)) return TRUE;
        LUMO_TRACE(1, "HandleAddFrameToFile Add frame to event file failed");
        return FALSE;
    }
    return FALSE;
}

CVideoRecorder::Slot* CVideoRecorder::openSlot() const {
    if (m_files == nullptr || m_openAdapter >= kRecordAdapters || m_openCamera >= kRecordCameras) return nullptr;
    Slot* slot = (*m_files)[std::size_t(m_openAdapter) * kRecordCameras + m_openCamera].get();
    return slot != nullptr && slot->file != nullptr ? slot : nullptr;
}

DWORD CVideoRecorder::PendingLength() const {
    const Slot* slot = openSlot();
    return slot != nullptr ? slot->builder.Collected() : 0;
}

BOOL CVideoRecorder::writePending(Slot& slot) {
    if (m_streamVersion != 2 || slot.file == nullptr || !slot.builder.Flush()) return FALSE;
    if (!writeSnapshot(*slot.file, slot.builder.Frame(), slot.builder.FrameSize(), slot.lastKind)) {
        LUMO_TRACE(1, "Add frame to event file failed");
        return FALSE;
    }
    return TRUE;
}

BOOL CVideoRecorder::WritePendingFrame() {
    Slot* slot = openSlot();
    if (slot == nullptr || !writePending(*slot)) return FALSE;
    m_host.snapshotWritten();
    return TRUE;
}

// Completes one file: its pending picture is its last snapshot.
void CVideoRecorder::closeSlot(Slot& slot, CloseNote note) {
    if (slot.file == nullptr) return;
    // The host hears of the last picture only while it is told of the close
    // (not from the destructor, when it may be going itself).
    if (writePending(slot) && note != CloseNote::None) m_host.snapshotWritten();
    char name[MAX_PATH] = {};
    slot.file->evGetLastFileName(name, sizeof name);
    tagEventHeader header{};
    slot.file->GetEventHeader(&header);
    slot.file.reset();
    if (note == CloseNote::None) return;
    m_host.recordFileClosed(name);
    if (note == CloseNote::NotifyAndLog) logEntry(kLogRecordFileClosed, cameraText(header.wCamera + 1u));
}

void CVideoRecorder::CloseAllEventFiles() {
    m_openFailureReported = false;
    if (m_files == nullptr) return;
    for (auto& slot : *m_files) {
        if (slot != nullptr) closeSlot(*slot, CloseNote::NotifyAndLog);
    }
    m_files.reset();
}

void CVideoRecorder::SwitchTheInputInQuad() {
    if (m_pRQ == nullptr || !IsSplitOrAutoSwitchMode() || m_pRQ->rqIsSwitchSuspended()) return;
    const DWORD now = m_host.nowMs();
    if ((m_waitingForNewInput || m_inputChanged) && now - m_lastSwitchMs > kNewInputTimeoutMs) {
        LUMO_TRACE(5,
                   "CVideoRecorder::SwitchTheInputInQuad() TIMEOUT !!!! m_bWaitingForVideoFrameFromNewInput = %ld Call "
                   "SetCurrentVideoInput(%ld)",
                   long(m_waitingForNewInput), long(m_currentCamera));
        SetCurrentVideoInput(m_currentCamera);
        m_waitingForNewInput = false;
        m_inputChanged = false;
    }
    if (!m_pRQ->rqIsTimeToSwitch(now) || m_waitingForNewInput || m_inputChanged) return;
    const WORD next = m_pRQ->rqGetNextCamera();
    WORD adapter = 0;
    if (m_database != nullptr) m_database->GetCurrentAdapter(&adapter);
    m_host.selectVideoInput(adapter, next, 0);
    m_lastSwitchMs = now;
    m_waitingForNewInput = true;
    LUMO_TRACE(5, "CVideoRecorder::SwitchTheInputInQuad() Time to switch to %ld!!!!", long(next));
}

void CVideoRecorder::SetCurrentVideoInput(WORD camera) {
    if (camera != m_currentCamera) {
        // The previous camera's stream ends here: its pending picture is
        // whole and goes into its own file now, not into the next camera's.
        // (The same camera again keeps it: more of its pieces may follow.)
        WritePendingFrame();
        m_inputChanged = true;
    }
    m_waitingForNewInput = false;
    m_currentCamera = camera;
    LUMO_TRACE(5, "CVideoRecorder::SetCurrentVideoInput(%ld)", long(camera));
    if (IsSplitOrAutoSwitchMode()) {
        if (m_pRQ->rqSetCurrentCamera(camera, m_host.nowMs())) {
            WORD adapter = 0;
            if (m_database != nullptr) m_database->GetCurrentAdapter(&adapter);
            // The video window paints every pane with its camera's name.
            RECT pane{};
            if (m_pRQ->rqFindPaneOfCamera(adapter, camera, pane)) {
                LUMO_TRACE(5, "CVideoRecorder::SetCurrentVideoInput(%ld) QUAD rect = %ld, %ld, %ld, %ld\n", long(camera),
                           long(pane.left), long(pane.top), long(pane.right), long(pane.bottom));
            }
        } else {
            LUMO_TRACE(5, "CVideoRecorder::SetCurrentVideoInput(%ld) Failed!!! m_pRQ->rqSetActiveInput(%ld) Failed!!!",
                       long(camera), long(camera));
        }
    }
}

BOOL CVideoRecorder::SetStreamVersion(WORD version) {
    m_streamVersion = version;
    return TRUE;
}

BOOL CVideoRecorder::SetStreamKind(WORD kind) {
    m_streamKind = kind;
    return TRUE;
}

void CVideoRecorder::SetSplitMode(BOOL on) {
    if (m_pRQ == nullptr) return;
    m_pRQ->rqSetSplitOrAutoSwitchMode(on);
    m_host.splitModeChanged();
}

BOOL CVideoRecorder::IsSplitOrAutoSwitchMode() const { return m_pRQ != nullptr && m_pRQ->rqIsSplitOrAutoSwitchMode(); }

BOOL CVideoRecorder::HasSeveralInputs() const {
    if (m_pRQ == nullptr) return FALSE;
    return m_pRQ->rqCountCamerasInCycle() > 1;
}

}  // namespace trennick
