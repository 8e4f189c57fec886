#include "trennick/app/frame_remote_views.h"

#include "common/fixed_text.h"
#include "common/lumo_deb.h"
#include "platform/message_window.h"
#include "tavicore/db_lumo.h"
#include "tavicore/event_file.h"
#include "tavicore/settings_records.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/image/snapshot_wnd.h"
#include "trennick/panels/profile_wnd.h"
#include "trennick/panels/remote_quad_dlg.h"
#include "trennick/record/remote_quad.h"
#include "trennick/video/lumora_remote.h"
#include "trennick/video/remote_wnd.h"
#include "trennick/video/video_main.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace trennick {

namespace {

// The local date and time as the system's short forms.
void dateAndTime(std::string& date, std::string& time) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char d[64] = {}, t[64] = {};
    std::strftime(d, sizeof d, "%x", &local);
    std::strftime(t, sizeof t, "%X", &local);
    date = d;
    time = t;
}

// The tuning values of the link profile window in the video settings.
ProfileTuning tuningOf(const VideoRecord& v) {
    ProfileTuning t;
    t.flag = v.EnablePerfectCompression;
    t.word1 = v.DefaultRateOnDOA;
    t.word2 = v.Background;
    t.packetLength = v.CompressPacketLength;
    t.a = v.slowContrast;
    t.b = v.fastContrast;
    t.c = v.slowTracking;
    t.d = v.fastTracking;
    t.first = LONG(v.KeyFrameContrast);
    t.second = LONG(v.KeyFrameTracking);
    t.blockBytes = v.BytesPerFrame;
    return t;
}

void storeTuning(VideoRecord& v, const ProfileTuning& t) {
    v.EnablePerfectCompression = t.flag;
    v.DefaultRateOnDOA = t.word1;
    v.Background = t.word2;
    v.CompressPacketLength = std::min<DWORD>(t.packetLength, kMaxCompressPacketLength);
    v.slowContrast = t.a;
    v.fastContrast = t.b;
    v.slowTracking = t.c;
    v.fastTracking = t.d;
    v.KeyFrameContrast = DWORD(std::max<LONG>(t.first, 0));
    v.KeyFrameTracking = DWORD(std::max<LONG>(t.second, 0));
    v.BytesPerFrame = t.blockBytes;
}

}  // namespace

CFrameRemoteViews::CFrameRemoteViews(CMainFrame& frame) : m_frame(frame) {}

CFrameRemoteViews::~CFrameRemoteViews() = default;

bool CFrameRemoteViews::OnCommand(WPARAM id) {
    switch (id) {
    case ID_REQUEST_SNAPSHOT:
    case ID_SNAPSHOT_DIALOG:
        OnRequestSnapshot();
        return true;
    case ID_SNAPSHOT_STORED:
        TakeSnapshot(ReadSnapshotChoice());
        return true;
    case ID_START_PROFILE:
        onStartProfile();
        return true;
    case ID_END_PROFILE:
        if (m_profile != nullptr) m_profile->close();
        return true;
    case ID_QUAD_SETTINGS:
        onQuadSettings();
        return true;
    case ID_SEQUENCE_ON:
    case ID_SEQUENCE_SECOND:
        onSequence(id);
        return true;
    default:
        return false;
    }
}

void CFrameRemoteViews::report(const std::string& message) {
    LUMO_TRACE(1, "CMainFrame: %s", message.c_str());
    m_frame.App().Ui().ShowMessage(message, m_frame.App().Title(), kMsgKindError);
}

// ---- snapshots ----

DWORD CFrameRemoteViews::snapshotMode() const {
    CPacketConnection* link = m_frame.Connection();
    if (link == nullptr || link->GetProtocolVersion() != 2) return 0;
    auto profile = std::make_unique<tagHWProfile>();
    bool capable = false;
    if (m_frame.RemoteDB() != nullptr && m_frame.RemoteDB()->GetHWProfiles(profile.get(), 0) != 0 &&
        profile->currentAdapter < kMaxAdapters) {
        tagAdapterDeviceData device{};
        std::memcpy(&device, profile->adapters[profile->currentAdapter].deviceData, sizeof device);
        capable = device.swCapability != 0;
    }
    return capable ? kSnapshotModeCompressOnly : kSnapshotModeCompressOnly | kSnapshotModeNoLarge;
}

void CFrameRemoteViews::OnRequestSnapshot() {
    if (m_snapshotDialog != nullptr) {
        m_snapshotDialog->raise();
        return;
    }
    m_snapshotDialog = std::make_unique<CReceiveSnapshot>(&m_frame, snapshotMode());
    m_snapshotDialog->setWindowModality(Qt::WindowModal);
    QObject::connect(m_snapshotDialog.get(), &QDialog::finished, &m_frame, [this](int result) {
        const SnapshotChoice choice = m_snapshotDialog->Choice();
        // Deleted once its own signal has returned.
        m_snapshotDialog.release()->deleteLater();
        if (result == QDialog::Accepted) TakeSnapshot(choice);
    });
    m_snapshotDialog->open();
}

void CFrameRemoteViews::TakeSnapshot(const SnapshotChoice& choice) {
    if (choice.fast != 0) {
        takeFastSnapshot();
        return;
    }
    CPacketConnection* link = m_frame.Connection();
    if (link == nullptr || !link->IsLinkUp() || !link->IsConnected()) {
        LUMO_TRACE(3, "CMainFrame::TakeSnapshot no connected site to ask");
        return;
    }
    ++m_snapshotsRequested;
    link->SendGetSnapshot(choice.resolution, choice.compression, choice.quality);
}

void CFrameRemoteViews::takeFastSnapshot() {
    CVideoMain* video = m_frame.VideoMain();
    HDIB picture = video != nullptr ? video->VideoMgr().GetPicture() : nullptr;
    if (picture == nullptr) {
        LUMO_TRACE(3, "CMainFrame: fast snapshot: no picture is shown");
        return;
    }
    std::string why;
    if (!SaveReceivedSnapshot(picture, why)) report("The snapshot was not stored: " + why);
    const std::filesystem::path folder = std::filesystem::path(m_frame.Settings().general.HomeDir) / "Snapshots";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::string file = (folder / "QbSnap.BMP").string();
    if (!SaveDIB(file.c_str(), picture)) {
        report("The snapshot could not be written to " + file);
        return;
    }
    ShowReceivedSnapshot(file);
}

BOOL CFrameRemoteViews::ShowReceivedSnapshot(const std::string& bitmapFile) {
    if (m_snapshotWindow == nullptr) {
        m_snapshotWindow = std::make_unique<CSnapshotWnd>(&m_frame);
        m_snapshotWindow->SetFailureReporter([this](const std::string& why) { report(why); });
    }
    std::string date, time;
    dateAndTime(date, time);
    std::string site, camera;
    auto profile = std::make_unique<tagHWProfile>();
    if (m_frame.RemoteDB() != nullptr && m_frame.RemoteDB()->GetHWProfiles(profile.get(), 0) != 0) {
        site = fixed_text::Read(profile->siteName, sizeof profile->siteName);
        const WORD adapter = profile->currentAdapter;
        if (adapter < kMaxAdapters) {
            const WORD input = profile->adapters[adapter].selectedInput;
            if (input < kCamerasPerAdapter) {
                camera = fixed_text::Read(profile->adapters[adapter].cameras[input].name, kSettingsNameBytes);
            }
        }
    }
    return m_snapshotWindow->ShowSnapshot(bitmapFile, site + " - " + camera + " " + date + " " + time,
                                          "  " + date + "  " + time + " ");
}

bool CFrameRemoteViews::SaveReceivedSnapshot(HDIB image, std::string& why) {
    const auto* info = reinterpret_cast<const BITMAPINFOHEADER*>(image);
    if (image == nullptr || info->biSize != sizeof(BITMAPINFOHEADER) || info->biBitCount != 24 ||
        DIBTotalBytes(image) == 0) {
        why = "the picture is not a 24-bit bitmap";
        return false;
    }
    BYTE site[kSiteInfoBytes] = {};
    m_frame.GetSiteInfo(site);
    const std::string station = fixed_text::Read(reinterpret_cast<const char*>(site) + 256, 256);
    tagEventHeader header{};
    header.dwType = EVENT_TYPE_MANUAL;
    auto profile = std::make_unique<tagHWProfile>();
    if (m_frame.RemoteDB() != nullptr && m_frame.RemoteDB()->GetHWProfiles(profile.get(), 0) != 0 &&
        profile->currentAdapter < kMaxAdapters) {
        header.wAdapter = profile->currentAdapter;
        header.wCamera = std::min<WORD>(profile->adapters[header.wAdapter].selectedInput, kCamerasPerAdapter - 1);
    }
    DWORD latest = 0;
    if (!CEventFile::evGetLatestEventIndex(station.c_str(), &header, &latest)) latest = 0;
    header.dwEventNumber = latest + 1;
    BITMAPINFOHEADER bitmap = *info;
    bitmap.biSizeImage = DWORD(DIBRowBytes(bitmap.biWidth, 24) * std::size_t(std::abs(bitmap.biHeight)));
    CEventFile file(1, &header, static_cast<char*>(nullptr), station.c_str());
    WORD error = 0;
    if (file.GetLastError(&error) == 0 || error != 0) {
        why = "the event file for " + station + " could not be opened (error " + std::to_string(error) + ")";
        return false;
    }
    tagEventSnapshot snapshot{};
    snapshot.dwSize = bitmap.biSizeImage;
    if (!file.AddSnapShot(&snapshot, &bitmap, FindDIBBits(image), 0)) {
        file.GetLastError(&error);
        why = "the picture could not be written to the event file (error " + std::to_string(error) + ")";
        return false;
    }
    return true;
}

// ---- link profile ----

void CFrameRemoteViews::onStartProfile() {
    // One window at most: a second command leaves the open one as it is.
    if (m_profile != nullptr) return;
    m_profile = std::make_unique<CProfile>(nullptr, [this] { return m_frame.App().Now(); });
    m_profile->SetData(m_frame.Connection(), tuningOf(m_frame.Settings().video),
                       [this](const ProfileTuning& t) { storeTuning(m_frame.Settings().video, t); });
    CProfile* window = m_profile.get();
    m_profile->SetClosedHandler([this, window] {
        const LPARAM handle = LPARAM(reinterpret_cast<std::uintptr_t>(window) & 0xFFFF);
        platform::PostMessage(m_frame.Hwnd(), kMsgChildClosed, 2, LPARAM(kChildProfile << 16) | handle);
    });
    m_profile->show();
}

void CFrameRemoteViews::OnChildClosed(LPARAM lParam) {
    if (((DWORD(lParam) >> 16) & 0xFFFF) != kChildProfile || m_profile == nullptr) return;
    m_profile.release()->deleteLater();
}

// ---- camera sequence ----

CRemoteQuad* CFrameRemoteViews::SplitView() const {
    CReceivedVideo* video = m_frame.ReceivedVideo();
    return video != nullptr ? video->Recorder().SplitView() : nullptr;
}

void CFrameRemoteViews::onSequence(WPARAM id) {
    LUMO_TRACE(5, "ENTER %s", "CMainFrame::OnSequence");
    CReceivedVideo* video = m_frame.ReceivedVideo();
    // The second quad view needs quad inputs at the site; the sequence runs
    // over the cameras of the cycle.
    if (id == ID_SEQUENCE_ON && video != nullptr && SplitView() != nullptr &&
        !video->Recorder().IsSplitOrAutoSwitchMode()) {
        video->Recorder().SetSplitMode(TRUE);
    }
    LUMO_TRACE(5, "LEAVE %s", "CMainFrame::OnSequence");
}

void CFrameRemoteViews::onQuadSettings() {
    CRemoteQuad* quad = SplitView();
    if (quad == nullptr || m_quadDialog != nullptr) return;
    QuadDialogValues values;
    auto profile = std::make_unique<tagHWProfile>();
    int cameras = kQuadCameras;
    if (m_frame.RemoteDB() != nullptr && m_frame.RemoteDB()->GetHWProfiles(profile.get(), 0) != 0 &&
        profile->currentAdapter < kMaxAdapters) {
        const tagAdapterBlock& adapter = profile->adapters[profile->currentAdapter];
        cameras = std::clamp<int>(adapter.camerasNumber, 1, kQuadCameras);
        for (int c = 0; c < cameras; ++c) {
            values.cameras.push_back(fixed_text::Read(adapter.cameras[c].name, kSettingsNameBytes));
        }
    } else {
        for (int c = 0; c < cameras; ++c) values.cameras.push_back("Camera #" + std::to_string(c + 1));
    }
    for (int c = 0; c < cameras; ++c) values.inCycle.push_back(quad->rqIsCameraInCycle(WORD(c)) != FALSE);
    values.delaySeconds = quad->SplitDelayMs() / 1000;
    values.minSeconds = std::max<DWORD>(quad->MinSplitDelayMs() / 1000, 1);
    values.maxSeconds = std::max<DWORD>(quad->MaxSplitDelayMs() / 1000, values.minSeconds);
    m_quadDialog = std::make_unique<CRemoteQuadDlg>(&m_frame, values);
    m_quadDialog->setWindowModality(Qt::WindowModal);
    QObject::connect(m_quadDialog.get(), &QDialog::finished, &m_frame, [this](int result) {
        const QuadDialogValues chosen = m_quadDialog->Values();
        m_quadDialog.release()->deleteLater();
        CRemoteQuad* q = SplitView();
        CReceivedVideo* video = m_frame.ReceivedVideo();
        if (result != QDialog::Accepted || q == nullptr || video == nullptr) return;
        int ticked = 0;
        for (std::size_t c = 0; c < chosen.inCycle.size(); ++c) {
            q->SetCameraInSequence(WORD(c), chosen.inCycle[c] ? TRUE : FALSE);
            if (chosen.inCycle[c]) ++ticked;
        }
        q->SetSplitDelayMs(chosen.delaySeconds * 1000);
        q->AssignPanes();
        video->Recorder().SetSplitMode(ticked > 1 ? TRUE : FALSE);
        if (ticked <= 1) {
            // One camera or none: the site shows camera 0.
            WORD adapter = 0;
            if (m_frame.RemoteDB() != nullptr) m_frame.RemoteDB()->GetCurrentAdapter(&adapter);
            if (CLumoraRemote* capture = m_frame.RemoteCapture()) capture->SetVideoInput(adapter, 0, 0);
        }
    });
    m_quadDialog->open();
}

}  // namespace trennick
