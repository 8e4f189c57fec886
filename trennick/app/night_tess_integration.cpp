#include "trennick/app/night_tess_integration.h"

#include "common/fixed_text.h"
#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "common/product_registry.h"
#include "tavicore/db_lumo.h"
#include "tavicore/product_key.h"
#include "tavicore/settings_records.h"
#include "tavicore/ui/ui_resources.h"
#include "trennick/app/debrief.h"
#include "trennick/station/station_messages.h"
#include "trennick/station/frame_settings.h"
#include "trennick/app/main_frame.h"
#include "trennick/app/received_video.h"
#include "trennick/link/hw_profile_list.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/serial_out_command.h"
#include "trennick/link/station_info.h"
#include "trennick/panels/receive_snapshot.h"
#include "trennick/record/remote_quad.h"
#include "trennick/video/lumora_remote.h"
#include "trennick/video/remote_wnd.h"
#include "trennick/video/video_main.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace trennick {

namespace {

WORD get16(const BYTE* p, std::size_t at) {
    WORD v = 0;
    std::memcpy(&v, p + at, sizeof v);
    return v;
}
DWORD get32(const BYTE* p, std::size_t at) {
    DWORD v = 0;
    std::memcpy(&v, p + at, sizeof v);
    return v;
}
void put16(BYTE* p, std::size_t at, WORD v) { std::memcpy(p + at, &v, sizeof v); }
void put32(BYTE* p, std::size_t at, DWORD v) { std::memcpy(p + at, &v, sizeof v); }

// Copies a text into a field of `room` bytes, always terminated.
void putText(BYTE* p, std::size_t at, std::string_view text, std::size_t room) {
    fixed_text::Write(reinterpret_cast<char*>(p + at), room, text);
}

// A text field of the payload, read no further than its room.
std::string getText(const BYTE* p, std::size_t at, std::size_t room) {
    return fixed_text::Read(p + at, room);
}

// The fields of the kit's records, by their payload offsets.
namespace remote {
constexpr std::size_t kSiteName = 0, kSitePhone = 50, kConnection = 100, kSiteVersion = 200, kSiteId = 300;
constexpr std::size_t kRings = 810, kAdapter = 816, kCamera = 818, kSequenceCamera = 820, kRelay = 822,
                      kRelayValue = 824, kConnected = 828, kRecording = 832, kQuality = 836, kCif = 838,
                      kProperty = 840, kSequence = 844, kSequenceDelay = 848, kInSequence = 852, kArmed = 856,
                      kAutoTrigger = 860, kQuery41 = 866;
}  // namespace remote
namespace action {
constexpr std::size_t kCode = 0, kText = 2, kUser = 52, kPassword = 82, kArgument = 112;
constexpr std::size_t kTextRoom = 50, kNameRoom = 30, kPathRoom = 110, kWindowTextRoom = 48;
}  // namespace action
namespace file {
constexpr std::size_t kStatus = 0, kTotal = 4, kDone = 8, kPercent = 12, kKind = 16, kRate = 20, kName = 24,
                      kNameRoom = 256;
}  // namespace file
namespace port {
constexpr std::size_t kId = 0, kCommandType = 2, kStyle = 4, kBaud = 8, kParity = 12, kDataBits = 14,
                      kStopBits = 16, kProtocol = 20, kProtocolRoom = 1000;
}  // namespace port
namespace write {
constexpr std::size_t kPort = 0, kType = 2, kData = 4, kDataRoom = 1000, kLength = 1004, kIndex = 1006, kAck = 1008;
}  // namespace write
namespace read {
constexpr std::size_t kPort = 0, kMax = 2, kMin = 6, kWait = 10, kRecurrence = 14, kAck = 18;
}  // namespace read

// The kit's event explorer codes.
constexpr LONG kEvtExpNoEvent = 1, kEvtExpNotFound = 2, kEvtExpListDownloadFailed = 3, kEvtExpNoConnection = 4,
               kEvtExpInvalidSite = 14, kEvtExpInvalidCamera = 15, kEvtExpInvalidKind = 16,
               kEvtExpKindNotSupported = 17;

// The receive side's transfer kinds that the kit's download types name:
// 1 the event list (kind 2), 2 an event file (kind 1).
LONG transferKindOf(DWORD downloadType) { return downloadType == 1 ? 2 : downloadType == 2 ? 1 : -1; }

}  // namespace

VideoWindowRecord ParseParentWindowText(std::string_view text) {
    text = text.substr(0, std::min(text.size(), action::kWindowTextRoom));
    text = text.substr(0, text.find('\0'));
    LONG values[5] = {};
    std::size_t at = 0;
    for (LONG& value : values) {
        if (at > text.size()) break;
        const std::size_t bar = text.find('|', at);
        const std::string field(text.substr(at, bar == std::string_view::npos ? std::string_view::npos : bar - at));
        value = static_cast<LONG>(std::strtol(field.c_str(), nullptr, 10));
        if (bar == std::string_view::npos) break;
        at = bar + 1;
    }
    return {values[0], values[1], values[2], values[3], values[4]};
}

std::string UnescapeSerialOutData(const char* text, std::size_t room) {
    std::string out;
    for (std::size_t i = 0; i < room && text[i] != '\0'; ++i) {
        if (text[i] != '\\') {
            out += text[i];
        } else if (i + 1 < room && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else {
            // The escaped character is dropped; at the room's end there is none.
            out += '\0';
            if (i + 1 < room && text[i + 1] != '\0') ++i;
        }
    }
    return out;
}

CNightTessIntegration::CNightTessIntegration(std::string_view instanceId)
    : CTessIntegration(instanceId),
      m_serialOut(std::make_unique<CSerialOutCommand>()),
      m_debrief(std::make_unique<CDebrief>()) {
    SetCurrentMode(kRecorderModeRemote);
    // A site's list may be long: its loading is traced step by step.
    m_debrief->SetLoadProgress([](std::size_t loaded, std::size_t total) {
        LUMO_TRACE(5, "CNightTessIntegration: event list %zu of %zu events loaded", loaded, total);
    });
    // The announcement carries the build number behind the information.
    BYTE info[kTessInfoBytes + sizeof(DWORD)] = {};
    FillClientInfo(info);
    SetInfoValue(get16(info, kTessInfoBytes));
}

CNightTessIntegration::~CNightTessIntegration() = default;

void CNightTessIntegration::AttachMainFrame(CMainFrame* frame, CPacketConnection* link, bool attach) {
    if (attach && frame != nullptr) {
        m_frame = frame;
        m_link = link;
        m_comms = frame->GetCommsSettings();
        m_video = frame->GetVideoSettings();
        m_remoteDB = frame->RemoteDB();
    } else {
        link = nullptr;
        m_frame = nullptr;
        m_link = nullptr;
        m_comms = nullptr;
        m_video = nullptr;
        m_remoteDB = nullptr;
    }
    m_debrief->SetConnection(link);
}

bool CNightTessIntegration::connected() const {
    return m_link != nullptr && m_link->IsTargetConnected() && m_link->IsLinkUp();
}

bool CNightTessIntegration::remoteProfile(tagHWProfile& out) const {
    if (m_remoteDB == nullptr) return false;
    if (m_remoteDB->GetHWProfiles(&out, 0) == 0) return false;
    out.adaptersNumber = capCount<WORD>(out.adaptersNumber, kMaxAdapters);
    if (out.currentAdapter >= kMaxAdapters) out.currentAdapter = 0;
    for (tagAdapterBlock& a : out.adapters) {
        a.camerasNumber = capCount<WORD>(a.camerasNumber, kCamerasPerAdapter);
        a.relaysNumber = capCount<WORD>(a.relaysNumber, kRelaysPerAdapter);
    }
    return true;
}

LONG CNightTessIntegration::FillClientInfo(BYTE* buffer) {
    // The buffer has room for the build word behind the information.
    std::memset(buffer, 0, kTessInfoBytes + sizeof(WORD));
    // The instance id is what the window title carries behind its fixed part.
    putText(buffer, 0, WindowTitle().substr(sizeof kTessWindowTitle - 1), 50);
    put16(buffer, kTessInfoModeOffset, kRecorderModeRemote);
    // The numbers of the version text, from its first digit ("Version 1.0").
    const std::string version = UiString(kStrProgramVersion);
    const std::size_t digit = version.find_first_of("0123456789");
    unsigned major = 0, minor = 0, build = 0;
    if (digit != std::string::npos && std::sscanf(version.c_str() + digit, "%u.%u.%u", &major, &minor, &build) >= 1) {
        put16(buffer, 52, static_cast<WORD>(major));
        put16(buffer, 54, static_cast<WORD>(minor));
        put16(buffer, 56, static_cast<WORD>(build));
    }
    return 0;
}

// The recorder takes no locks from the kit.
LONG CNightTessIntegration::SetOwnerLock(DWORD, DWORD) { return TESS_ERROR_METHOD_UNSUPPORTED; }
LONG CNightTessIntegration::SetSecondOwnerLock(DWORD, DWORD) { return TESS_ERROR_METHOD_UNSUPPORTED; }

LONG CNightTessIntegration::OnChangeMode(DWORD clientId, BYTE* payload) {
    if (const LONG base = CTessIntegration::OnChangeMode(clientId, payload); base != 0) return base;
    if (m_frame == nullptr || m_link == nullptr) return TESS_ERROR_SERVER_INIT;
    if (get16(payload, 2) != 0) return TESS_ERROR_CHANGE_MODE;
    // Mode 0: the recorder ends, hanging up first.
    if (connected()) platform::PostMessage(m_frame->Hwnd(), kMsgTessDisconnect, 0, 0);
    platform::PostMessage(m_frame->Hwnd(), WM_COMMAND, ID_APP_EXIT_CMD, 0);
    return 0;
}

// The snapshot settings are the operator's: the snapshot dialog keeps them,
// and the kit reads and changes the same ones.
LONG CNightTessIntegration::OLGetProperty(DWORD, BYTE* p) {
    const SnapshotChoice s = ReadSnapshotChoice();
    put16(p, 0, s.resolution);
    put32(p, 4, s.compression != 0 ? 1 : 0);
    put16(p, 8, s.quality);
    return 0;
}

LONG CNightTessIntegration::OLSetProperty(DWORD, BYTE* p) {
    SnapshotChoice s = ReadSnapshotChoice();
    s.resolution = get16(p, 0);
    s.compression = get32(p, 4) != 0 ? 1 : 0;
    s.quality = get16(p, 8);
    WriteSnapshotChoice(s);
    return 0;
}

LONG CNightTessIntegration::OLGetGroupProperty(DWORD, BYTE* p) {
    if (m_remoteDB == nullptr) return TESS_ERROR_SERVER_INIT;
    tagHWProfile profile{};
    if (!connected() || !remoteProfile(profile)) {
        put16(p, 2, 0);
        return 0;
    }
    put16(p, 2, profile.adaptersNumber);
    WORD adapter = get16(p, 0);
    if (adapter >= profile.adaptersNumber) adapter = profile.currentAdapter;
    const tagAdapterBlock& a = profile.adapters[adapter];
    put16(p, 54, a.contrast);
    put16(p, 56, a.brightness);
    put16(p, 58, a.hue);
    put16(p, 60, a.saturation);
    put16(p, 62, a.videoStandard);
    put16(p, 64, static_cast<WORD>(a.selectedInput + 1));
    return 0;
}

LONG CNightTessIntegration::OLGetCameraInformation(DWORD, BYTE* p) {
    LUMO_TRACE(3, "ENTER %s", "CNightTessIntegration::OLGetCameraInformation");
    LONG answer = cameraCount(p);
    LUMO_TRACE(3, "LEAVE %s", "CNightTessIntegration::OLGetCameraInformation");
    return answer;
}

LONG CNightTessIntegration::OLGetRelayInformation(DWORD, BYTE* p) { return cameraCount(p); }

// Requests 6 and 14 answer the camera count of an adapter.
LONG CNightTessIntegration::cameraCount(BYTE* p) {
    if (m_remoteDB == nullptr) return TESS_ERROR_SERVER_INIT;
    tagHWProfile profile{};
    if (!connected() || !remoteProfile(profile)) {
        put16(p, 4, 0);
        return 0;
    }
    const WORD adapter = get16(p, 0);
    if (adapter >= profile.adaptersNumber) return TESS_ERROR_INVALID_VALUE;
    put16(p, 4, profile.adapters[adapter].camerasNumber);
    return 0;
}

LONG CNightTessIntegration::OLGetRemoteProperty(DWORD, BYTE* p) {
    if (m_frame == nullptr || m_link == nullptr || m_remoteDB == nullptr) return TESS_ERROR_SERVER_INIT;
    const WORD property = get16(p, remote::kProperty);
    const bool up = connected();
    BYTE site[kSiteInfoBytes] = {};
    switch (property) {
    case 10:
    case 11:
    case 14: {
        tagHWProfile profile{};
        if (!up || !remoteProfile(profile)) {
            put16(p, remote::kAdapter, 0);
            put16(p, remote::kCamera, 0);
            put32(p, remote::kConnected, 0);
            return TESS_ERROR_DISCONNECTED;
        }
        const WORD adapter = profile.currentAdapter;
        const tagAdapterBlock& a = profile.adapters[adapter];
        put32(p, remote::kConnected, 1);
        put16(p, remote::kAdapter, adapter);
        put16(p, remote::kCamera, a.selectedInput);
        if (property == 14) {
            const auto relay = static_cast<SHORT>(get16(p, remote::kRelay));
            if (relay < 0 || relay >= a.relaysNumber) return TESS_ERROR_INVALID_CAMERA_INDEX;
            put32(p, remote::kRelayValue, a.relays[relay].state);
        }
        return 0;
    }
    case 12:
        put16(p, remote::kQuality, static_cast<WORD>(m_video != nullptr ? m_video->rParam_CQual : 0));
        return 0;
    case 13:
        put32(p, remote::kRecording, m_frame->IsRecording() ? 1 : 0);
        return 0;
    case 15:
    case 16:
    case 23:
        if (!up) return TESS_ERROR_DISCONNECTED;
        m_frame->GetSiteInfo(site);
        if (property == 15) putText(p, remote::kSiteName, getText(site, 256, 256), 50);
        if (property == 16) putText(p, remote::kSitePhone, getText(site, 512, 256), 50);
        if (property == 23) putText(p, remote::kSiteId, getText(site, 0, 256), 255);
        return 0;
    case 17:
        if (!up) return TESS_ERROR_DISCONNECTED;
        putText(p, remote::kConnection, m_frame->CurrentConnectionText(), 100);
        return 0;
    case 18:
        if (m_comms == nullptr) return TESS_ERROR_SERVER_INIT;
        put16(p, remote::kRings, static_cast<WORD>(m_comms->RingsCount));
        return 0;
    case 24: {
        if (!up) return TESS_ERROR_DISCONNECTED;
        const StationInfoBlock info = m_link->GetRemoteStationInfo();
        putText(p, remote::kSiteVersion, getText(reinterpret_cast<const BYTE*>(&info), 258, 256), 100);
        return 0;
    }
    case 8:
    case 9: {
        // The remote window's picture: 2 for CIF; no window shows no picture.
        const CRemoteWnd* window = remoteWindow();
        put16(p, remote::kCif, window != nullptr && window->IsCifSize() ? 2 : 0);
        return 0;
    }
    case 19: {
        CReceivedVideo* video = m_frame->ReceivedVideo();
        put32(p, remote::kSequence, video != nullptr && video->Recorder().IsSplitOrAutoSwitchMode() ? 1 : 0);
        return 0;
    }
    case 25: {
        const CRemoteWnd* window = remoteWindow();
        if (window == nullptr) return TESS_ERROR_SERVER_INIT;
        put32(p, remote::kAutoTrigger, window->AutoTriggerTracking() ? 1 : 0);
        return 0;
    }
    default:
        return TESS_ERROR_READ_PROPERTY;
    }
}

CRemoteWnd* CNightTessIntegration::remoteWindow() const {
    CVideoMain* videoMain = m_frame != nullptr ? m_frame->VideoMain() : nullptr;
    return videoMain != nullptr ? videoMain->RemoteWnd() : nullptr;
}

LONG CNightTessIntegration::OLSetRemoteProperty(DWORD, BYTE* p) {
    if (m_frame == nullptr || m_comms == nullptr || m_frame->VideoMain() == nullptr ||
        m_frame->RemoteCapture() == nullptr) {
        return TESS_ERROR_SERVER_INIT;
    }
    CLumoraRemote& capture = *m_frame->RemoteCapture();
    const WORD property = get16(p, remote::kProperty);
    const platform::HWND frame = m_frame->Hwnd();
    switch (property) {
    case 8:
    case 9:
        if (!connected()) return TESS_ERROR_DISCONNECTED;
        platform::PostMessage(frame, WM_COMMAND, property == 8 ? 133 : 134, 0);
        return 0;
    case 10:
    case 14: {
        if (!connected()) return TESS_ERROR_DISCONNECTED;
        tagHWProfile profile{};
        if (!remoteProfile(profile)) return TESS_ERROR_SERVER_INIT;
        const WORD adapter = profile.currentAdapter;
        const tagAdapterBlock& a = profile.adapters[adapter];
        if (property == 10) {
            const auto camera = static_cast<SHORT>(get16(p, remote::kCamera));
            if (camera < 0 || camera >= a.camerasNumber) return TESS_ERROR_INVALID_CAMERA_INDEX;
            if (!capture.SetVideoInput(adapter, static_cast<WORD>(camera), 0)) return TESS_ERROR_WRITE_PROPERTY;
            // One chosen camera: the split view and the automatic switching stop.
            if (CReceivedVideo* video = m_frame->ReceivedVideo()) video->Recorder().SetSplitMode(FALSE);
            return 0;
        }
        // Outputs are counted by the adapter's relays.
        const auto relay = static_cast<SHORT>(get16(p, remote::kRelay));
        if (relay < 0 || relay >= a.relaysNumber) return TESS_ERROR_INVALID_CAMERA_INDEX;
        const WORD value = get16(p, remote::kRelayValue);
        if (value > 1) return TESS_ERROR_INVALID_VALUE;
        if (!capture.SetDigitalOutput(adapter, static_cast<WORD>(relay), value)) return TESS_ERROR_WRITE_PROPERTY;
        return 0;
    }
    case 12: {
        const int value = 10 * static_cast<int>(get16(p, remote::kQuality)) - 10;
        if (!((value >= 0 && value <= 98) || value == 100)) return TESS_ERROR_INVALID_VALUE;
        return m_frame->SetQuality(static_cast<WPARAM>(value)) ? 0 : TESS_ERROR_SERVER_INIT;
    }
    case 13: {
        const bool on = get32(p, remote::kRecording) != 0;
        if (on != m_frame->IsRecording()) {
            platform::PostMessage(frame, WM_COMMAND, on ? ID_RECORD_START : ID_RECORD_STOP, 0);
        }
        return 0;
    }
    case 18: {
        const WORD rings = get16(p, remote::kRings);
        if (rings < 1 || rings > 255) return TESS_ERROR_INVALID_VALUE;
        m_comms->RingsCount = rings;
        return 0;
    }
    case 19:
        platform::PostMessage(frame, WM_COMMAND, 32077, 0);
        return 0;
    case 20:
        return m_frame->SetSequenceDelay(get32(p, remote::kSequenceDelay)) ? 0 : TESS_ERROR_SERVER_INIT;
    case 21: {
        CRemoteQuad* quad = m_frame->SplitView();
        if (quad == nullptr) return TESS_ERROR_SERVER_INIT;
        // The split view keeps the cycle of its first cameras; others are refused.
        const WORD camera = get16(p, remote::kSequenceCamera);
        if (camera >= kQuadCameras) return TESS_ERROR_INVALID_CAMERA_INDEX;
        quad->SetCameraInSequence(camera, get32(p, remote::kInSequence) != 0 ? TRUE : FALSE);
        return 0;
    }
    case 25: {
        CRemoteWnd* window = remoteWindow();
        if (window == nullptr) return TESS_ERROR_SERVER_INIT;
        // The window's own switch: it turns the tracking the other way.
        if (window->AutoTriggerTracking() != (get32(p, remote::kAutoTrigger) != 0)) window->OnCommand(ID_RW_TRACKING);
        return 0;
    }
    default:
        return TESS_ERROR_METHOD_UNSUPPORTED;
    }
}

LONG CNightTessIntegration::OLRemoteAction(DWORD, BYTE* p) {
    if (m_frame == nullptr || m_link == nullptr) return TESS_ERROR_SERVER_INIT;
    const platform::HWND frame = m_frame->Hwnd();
    const WORD code = get16(p, action::kCode);
    const bool needsConnection = code >= 2 && code <= 4;
    if (needsConnection && !connected()) return TESS_ERROR_DISCONNECTED;
    switch (code) {
    case 0:
        if (!connected()) {
            m_frame->Dial(getText(p, action::kText, action::kTextRoom), getText(p, action::kUser, action::kNameRoom),
                          getText(p, action::kPassword, action::kNameRoom));
        }
        return 0;
    case 1:
        platform::PostMessage(frame, kMsgTessDisconnect, 0, 0);
        return 0;
    case 2: {
        const SnapshotChoice s = ReadSnapshotChoice();
        m_link->SendGetSnapshot(s.resolution, s.compression != 0 ? 1 : 0, s.quality);
        return 0;
    }
    case 3: {
        const std::string path = getText(p, action::kText, action::kPathRoom);
        if (!path.empty()) m_frame->SendFile(path, "");
        return 0;
    }
    case 4: {
        const bool hold = get16(p, action::kArgument) != 0;
        // The command names the state wanted: two requests before the frame
        // serves the first do not toggle the hold twice.
        if (((m_link->GetHoldStatus() & kHoldLocal) != 0) != hold) {
            platform::PostMessage(frame, WM_COMMAND, ID_HOLD_CALL, hold ? kHoldCallWantedOn : kHoldCallWantedOff);
        }
        return 0;
    }
    case 5: {
        const VideoWindowRecord record =
            ParseParentWindowText(getText(p, action::kText, action::kWindowTextRoom));
        LUMO_TRACE(5, "CNightTessIntegration::SetRemoteHWNDAndRect() hWnd=%ld left=%ld top=%ld right=%ld bottom=%ld\n",
                   long(record.hwnd), long(record.left), long(record.top), long(record.right), long(record.bottom));
        platform::PostMessageOwned(frame, kMsgVideoWindowRecord, 0, std::make_unique<VideoWindowRecord>(record));
        return 0;
    }
    case 6:
    case 7:
        platform::PostMessage(frame, kMsgShowHideUi, code == 6 ? 0 : 1, 0);
        return 0;
    case 8:
    case 9:
        platform::PostMessage(frame, WM_COMMAND, code == 8 ? 133 : 134, 0);
        return 0;
    case 26:
        m_frame->SetAudioOutMute(get16(p, action::kArgument) != 0 ? 1 : 0);
        return 0;
    default:
        return TESS_ERROR_METHOD_UNSUPPORTED;
    }
}

LONG CNightTessIntegration::OLIsDeviceConnected(DWORD, BYTE* p) {
    if (m_link == nullptr) return TESS_ERROR_SERVER_INIT;
    put32(p, remote::kConnected, connected() ? 1 : 0);
    return 0;
}

LONG CNightTessIntegration::OLGetFileStatus(DWORD, BYTE* p) {
    if (m_frame == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    std::string name;
    LONG status = 0, kind = 0, rate = 0;
    DWORD percent = 0;
    ULONGLONG total = 0, done = 0;
    m_frame->GetFileStatus(&name, &status, &percent, &total, &done, &kind, &rate);
    put32(p, file::kStatus, static_cast<DWORD>(status));
    put32(p, file::kTotal, static_cast<DWORD>(std::min<ULONGLONG>(total, 0xFFFFFFFFu)));
    put32(p, file::kDone, static_cast<DWORD>(std::min<ULONGLONG>(done, 0xFFFFFFFFu)));
    put32(p, file::kPercent, percent);
    put32(p, file::kKind, static_cast<DWORD>(kind));
    put32(p, file::kRate, static_cast<DWORD>(rate));
    putText(p, file::kName, name, file::kNameRoom);
    return 0;
}

LONG CNightTessIntegration::OLGetFileInformation(DWORD, BYTE* p) {
    if (m_frame == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    const std::string path = getText(p, file::kName, file::kNameRoom);
    WORD adapter = 0, camera = 0;
    DWORD snapshots = 0, eventTime[2] = {}, endValues[2] = {};
    m_frame->GetFileDetails(path.c_str(), &adapter, &camera, &snapshots, eventTime, endValues);
    put16(p, 0, adapter);
    put16(p, 2, camera);
    put32(p, 4, snapshots);
    put32(p, 8, eventTime[0]);
    put32(p, 12, eventTime[1]);
    put32(p, 16, endValues[0]);
    put32(p, 20, endValues[1]);
    return 0;
}

LONG CNightTessIntegration::OLCancelFileReceiving(DWORD) {
    if (m_frame == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    platform::PostMessage(m_frame->Hwnd(), kMsgCancelFileReceive, 0, 0);
    return 0;
}

LONG CNightTessIntegration::OLGetDeviceStatus(BYTE* p) {
    if (m_link == nullptr) return TESS_ERROR_SERVER_INIT;
    put32(p, 0, static_cast<DWORD>(m_link->GetStatusCode()));
    return 0;
}

LONG CNightTessIntegration::OLIsSysArm(BYTE* p) {
    if (m_frame == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    DWORD armed = 0;
    platform::SendMessage(m_frame->Hwnd(), kMsgIsSysArm, 0, reinterpret_cast<LPARAM>(&armed));
    put32(p, remote::kArmed, armed);
    return 0;
}

LONG CNightTessIntegration::OLArmSys() {
    if (m_frame == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    platform::PostMessage(m_frame->Hwnd(), kMsgTessArm, 0, 0);
    return 0;
}

LONG CNightTessIntegration::OLDisarmSys() {
    if (m_frame == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    platform::PostMessage(m_frame->Hwnd(), kMsgTessDisarm, 0, 0);
    return 0;
}

LONG CNightTessIntegration::OLGetReceiverID(DWORD, char* text) {
    LUMO_TRACE(3, "ENTER %s", "CNightTessIntegration::OLGetReceiverID");
    char port[101] = {};
    DWORD size = sizeof port - 1;
    CKcReg reg = ProductKey("Video\\Network");
    if (!reg.GetString(nullptr, "ZoNetPort", port, &size)) port[0] = '\0';
    port[sizeof port - 1] = '\0';
    LONG answer = 0;
    char host[256] = {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (m_link == nullptr) {
        answer = TESS_ERROR_SERVER_INIT;
    } else if (::gethostname(host, sizeof host - 1) != 0 || ::getaddrinfo(host, nullptr, &hints, &found) != 0 ||
               found == nullptr) {
        answer = TESS_ERROR_GET_RECEIVERID;
    } else {
        char address[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, address,
                    sizeof address);
        std::snprintf(text, kReceiverIdRoom, "%s:%s", address, port);
    }
    if (found != nullptr) ::freeaddrinfo(found);
    LUMO_TRACE(3, "LEAVE %s", "CNightTessIntegration::OLGetReceiverID");
    return answer;
}

LONG CNightTessIntegration::OLReserved41(DWORD, BYTE* p) {
    if (m_link == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    p[remote::kQuery41] = 1;
    return 0;
}

LONG CNightTessIntegration::OLSequenceMode(DWORD, BYTE*) {
    if (m_link == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    return TESS_ERROR_METHOD_UNSUPPORTED;
}

LONG CNightTessIntegration::OLEventExpOpen(DWORD, BYTE* p) {
    if (m_link == nullptr || m_remoteDB == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    tagHWProfile profile{};
    if (!remoteProfile(profile)) return TESS_ERROR_SERVER_INIT;
    put16(p, remote::kAdapter, profile.currentAdapter);
    return 0;
}

LONG CNightTessIntegration::OLGetEventMode(DWORD, BYTE* p) {
    if (m_frame == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    switch (m_frame->RecordMode()) {
    case 1:
        put16(p, 0, 0);
        return 0;
    case 2:
        put16(p, 0, 1);
        return 0;
    default:
        return TESS_ERROR_INVALID_EVENT_MODE_VALUE;
    }
}

LONG CNightTessIntegration::OLSetEventMode(DWORD, BYTE* p) {
    if (m_link == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    const WORD flag = get16(p, 0);
    if (flag > 1) return TESS_ERROR_INVALID_EVENT_MODE_VALUE;
    // A mode the line did not take is as good as a lost connection to the kit.
    if (m_link->SendSetRecordMode(flag == 0 ? 1 : 2) == 0) return TESS_ERROR_DISCONNECTED;
    return 0;
}

LONG CNightTessIntegration::OLFreeEvents(DWORD) {
    if (m_link == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    return m_link->SendFreeEventsForRec() > 0 ? 0 : TESS_ERROR_WRITE_PROPERTY;
}

LONG CNightTessIntegration::sendSerialOut(bool built, WORD length) {
    if (!built || length == 0) return TESS_ERROR_WRITE_PROPERTY;
    return m_link->SendSerialOutCommand(m_serialOut->Message(), length) > 0 ? 0 : TESS_ERROR_WRITE_PROPERTY;
}

LONG CNightTessIntegration::OLSetSerialOutConfig(DWORD, BYTE* p) {
    if (m_serialOut == nullptr || m_link == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    WORD length = 0;
    const BOOL built = m_serialOut->BuildSetSerialOutConfig(get16(p, port::kId), get16(p, port::kStyle),
                                                            get32(p, port::kBaud), get16(p, port::kDataBits),
                                                            get16(p, port::kParity), get16(p, port::kStopBits), length);
    return sendSerialOut(built != FALSE, length);
}

LONG CNightTessIntegration::OLGetSerialOutConfig(DWORD, BYTE* p) {
    if (m_serialOut == nullptr || m_link == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    WORD length = 0;
    const BOOL built = m_serialOut->BuildGetSerialOutConfig(get16(p, port::kId), length);
    return sendSerialOut(built != FALSE, length);
}

LONG CNightTessIntegration::OLSerialOutWrite(DWORD, BYTE* p) {
    if (m_serialOut == nullptr || m_link == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    const std::string protocol = getText(p, port::kProtocol, port::kProtocolRoom);
    WORD length = 0;
    const BOOL built = m_serialOut->BuildSetSerialOutProtocol(protocol.c_str(), length);
    return sendSerialOut(built != FALSE, length);
}

LONG CNightTessIntegration::OLSerialOutDataWrite(DWORD, BYTE* p) {
    if (m_serialOut == nullptr || m_link == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    const char* command = reinterpret_cast<const char*>(p + write::kData);
    LUMO_TRACE(1, "CNightTessIntegration::OLSerialOutDataWrite Command is: %s time is %d",
               getText(p, write::kData, write::kDataRoom).c_str(), 0);
    const std::string data = UnescapeSerialOutData(command, write::kDataRoom);
    put16(p, write::kLength, static_cast<WORD>(data.size()));
    LUMO_TRACE(3, "CNightTessIntegration::OLSerialOutDataWrite Size is %d ", static_cast<int>(data.size()));
    for (std::size_t i = 0; i < data.size(); ++i) {
        LUMO_TRACE(5, "CNightTessIntegration::OLSerialOutDataWrite data[%d] = %0x", static_cast<int>(i),
                   static_cast<unsigned>(static_cast<BYTE>(data[i])));
    }
    WORD length = 0;
    const BOOL built = m_serialOut->BuildSerialOutDataWrite(
        get16(p, write::kPort), get32(p, write::kAck) != 0 ? TRUE : FALSE, get16(p, write::kType),
        get16(p, write::kIndex), reinterpret_cast<const BYTE*>(data.data()), static_cast<WORD>(data.size()), length);
    return sendSerialOut(built != FALSE, length);
}

LONG CNightTessIntegration::OLSerialOutDataRead(DWORD, BYTE* p) {
    if (m_serialOut == nullptr || m_link == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    const DWORD maximum = get32(p, read::kMax);
    WORD length = 0;
    const BOOL built = m_serialOut->BuildSerialOutDataRead(
        get16(p, read::kPort), get32(p, read::kAck) != 0 ? TRUE : FALSE, 0, get32(p, read::kWait) != 0 ? TRUE : FALSE,
        get32(p, read::kRecurrence) != 0 ? TRUE : FALSE, static_cast<WORD>(std::min<DWORD>(get32(p, read::kMin), 0xFFFF)),
        static_cast<WORD>(std::min<DWORD>(maximum, 0xFFFF)), length);
    return sendSerialOut(built != FALSE, length);
}

LONG CNightTessIntegration::OLTermSerialOut(DWORD, BYTE* p) {
    if (m_serialOut == nullptr || m_link == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    WORD length = 0;
    const BOOL built = m_serialOut->BuildTermSerialOut(get16(p, port::kId), length);
    return sendSerialOut(built != FALSE, length);
}

LONG CNightTessIntegration::activeProtocol(WORD& number, std::string& name) const {
    if (m_serialOut == nullptr || m_link == nullptr || m_remoteDB == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    tagHWProfile profile{};
    if (!remoteProfile(profile)) return TESS_ERROR_SERVER_INIT;
    const tagAdapterDeviceData data = readDeviceData(profile.adapters[profile.currentAdapter]);
    number = data.serialOut.commandType;
    name = fixed_text::Read(data.serialOut.protocolName, sizeof data.serialOut.protocolName);
    if (name.empty()) name = "None";
    return 0;
}

LONG CNightTessIntegration::OLGetActiveProtocol(DWORD, BYTE* p) {
    WORD number = 0;
    std::string name;
    const LONG answer = activeProtocol(number, name);
    if (answer != 0) return answer;
    put16(p, port::kCommandType, number);
    putText(p, port::kProtocol, name, port::kProtocolRoom);
    return 0;
}

void CNightTessIntegration::NotifyActiveProtocol() {
    WORD number = 0;
    std::string name;
    if (activeProtocol(number, name) != 0) return;
    NotifySetActiveProtocol(number, name.c_str(), 0);
}

void CNightTessIntegration::BroadcastReset() { NotifyBeforeModeChanged(0xFFFF, 0); }

namespace {

// The event list's results as the kit's event explorer codes.
LONG eventListAnswer(int result, bool handleLookup = false) {
    switch (result) {
    case kDebriefDone: return 0;
    case kDebriefNoLink: return handleLookup ? kEvtExpNotFound : kEvtExpNoConnection;
    case kDebriefNoFolder:
    case kDebriefNoListFile:
    case kDebriefNoListHead: return kEvtExpListDownloadFailed;
    case kDebriefNoEvent: return kEvtExpNoEvent;
    case kDebriefOtherStation: return kEvtExpInvalidSite;
    case kDebriefNoSuchEvent: return kEvtExpNotFound;
    case kDebriefOtherKind: return kEvtExpInvalidKind;
    case kDebriefOtherCamera: return kEvtExpInvalidCamera;
    default: return kEvtExpNotFound;
    }
}

}  // namespace

LONG CNightTessIntegration::OLEventExpOpenList(DWORD, BYTE* p) {
    if (m_frame == nullptr || m_remoteDB == nullptr || m_debrief == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    const DWORD type = get32(p, 4);
    if (m_link->GetProtocolVersion() == 2 && type != 1) return kEvtExpKindNotSupported;
    const DWORD kind = type == 2 ? 2 : type == 3 ? 0x20 : type == 4 ? 0x40 : 1;
    tagHWProfile profile{};
    if (!remoteProfile(profile)) return TESS_ERROR_SERVER_INIT;
    BYTE site[kSiteInfoBytes] = {};
    m_frame->GetSiteInfo(site);
    const std::string connectedId = getText(site, 0, 256);
    const std::string stationName = getText(site, 256, 256);
    const std::string requested = getText(p, 24, 260);
    return eventListAnswer(m_debrief->Open(connectedId.c_str(), requested.c_str(), kind, get16(p, 0),
                                           profile.currentAdapter, stationName.c_str()));
}
LONG CNightTessIntegration::OLDownloadEventList(DWORD) {
    if (m_debrief == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    return eventListAnswer(m_debrief->DownloadEventList());
}
LONG CNightTessIntegration::OLEventExpClose(DWORD clientId) {
    for (DWORD type : {1u, 2u}) {
        BYTE record[284] = {};
        put32(record, 12, type);
        OLEventExpCancel(clientId, record);
    }
    if (m_debrief == nullptr) return TESS_ERROR_SERVER_INIT;
    return eventListAnswer(m_debrief->Close());
}
LONG CNightTessIntegration::OLGetEvent(DWORD, BYTE* p) {
    if (m_debrief == nullptr) return TESS_ERROR_SERVER_INIT;
    return eventListAnswer(m_debrief->GetEvent(get32(p, 12), get32(p, 16)));
}
LONG CNightTessIntegration::OLFindFirstEvent(DWORD, BYTE* p) {
    if (m_debrief == nullptr) return TESS_ERROR_SERVER_INIT;
    DWORD handle = 0;
    const int result = m_debrief->FindFirstEvent(handle);
    if (result == kDebriefDone) put32(p, 0, handle);
    return eventListAnswer(result);
}
LONG CNightTessIntegration::OLFindNextEvent(DWORD, BYTE* p) {
    if (m_debrief == nullptr) return 1;
    DWORD handle = 0;
    const int result = m_debrief->FindNextEvent(handle);
    if (result == kDebriefDone) put32(p, 0, handle);
    return eventListAnswer(result);
}
LONG CNightTessIntegration::OLFindClose(DWORD) {
    if (m_debrief == nullptr) return TESS_ERROR_SERVER_INIT;
    return eventListAnswer(m_debrief->FindClose());
}
LONG CNightTessIntegration::OLGetEventInfo(DWORD, BYTE* p) {
    if (m_debrief == nullptr) return TESS_ERROR_SERVER_INIT;
    tagEventHeader header{};
    const int result = m_debrief->GetEventInfo(header, get32(p, 0));
    if (result != kDebriefDone) return eventListAnswer(result, true);
    BYTE bytes[sizeof header];
    std::memcpy(bytes, &header, sizeof header);
    put32(p, 4, get32(bytes, 18));
    put32(p, 8, get32(bytes, 26));
    put32(p, 12, get32(bytes, 6));
    put32(p, 16, get32(bytes, 10));
    put32(p, 20, get32(bytes, 38));
    put32(p, 24, get32(bytes, 42));
    return 0;
}

LONG CNightTessIntegration::OnEventListData(const char* stationId, DWORD kind, WORD adapter, WORD camera) {
    if (m_debrief == nullptr) return 1;
    return eventListAnswer(m_debrief->LoadEventList(stationId, kind, adapter, camera));
}

LONG CNightTessIntegration::OLEventExpCancel(DWORD, BYTE* p) {
    if (m_frame == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    LONG status = 0, kind = 0;
    m_frame->GetFileStatus(nullptr, &status, nullptr, nullptr, nullptr, &kind, nullptr);
    const DWORD type = get32(p, 12);
    const bool running = status == REC_RECEIVING;
    if (running && ((kind == 2 && type == 1) || (kind == 1 && type == 2))) {
        platform::PostMessage(m_frame->Hwnd(), kMsgCancelFileReceive, 0, 0);
        return 0;
    }
    if (running && kind == 2) return 13;
    return type == 1 ? 12 : 13;
}

LONG CNightTessIntegration::OLGetDownloadState(DWORD, BYTE* p) {
    if (m_frame == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    LONG status = 0, kind = 0;
    ULONGLONG total = 0, done = 0;
    m_frame->GetFileStatus(nullptr, &status, nullptr, &total, &done, &kind, nullptr);
    if (status != REC_RECEIVING || kind != transferKindOf(get32(p, 12))) return 10;
    put32(p, 16, static_cast<DWORD>(std::min<ULONGLONG>(total, 0xFFFFFFFFu)));
    put32(p, 20, static_cast<DWORD>(std::min<ULONGLONG>(done, 0xFFFFFFFFu)));
    return 0;
}

LONG CNightTessIntegration::OLGetAudioState(DWORD, BYTE* p) {
    if (m_frame == nullptr) return TESS_ERROR_SERVER_INIT;
    if (!connected()) return TESS_ERROR_DISCONNECTED;
    DWORD state[3] = {};
    for (int kind = 1; kind <= 3; ++kind) {
        if (m_frame->GetAudioState(kind, &state[kind - 1]) == 0) return TESS_ERROR_READ_PROPERTY;
    }
    put16(p, 0, static_cast<WORD>(state[0]));
    put16(p, 4, static_cast<WORD>(state[1]));
    put16(p, 2, static_cast<WORD>(state[2]));
    put16(p, 6, 0);
    return 0;
}

// Profiles travel through the remote settings manager: the path of the profile
// file is the payload's text; the transfer's direction is the 16-bit value at 4.
LONG CNightTessIntegration::OLGetProfile(DWORD, BYTE* p) {
    if (m_frame == nullptr || !connected()) return TESS_ERROR_DISCONNECTED;
    const std::string path = getText(p, 0, kTessPayloadBytes);
    if (path.empty()) return TESS_ERROR_OPERATION_FAILED;  // nowhere to put the site's settings
    m_frame->RemoteGetProfile(path.c_str());
    return TESS_ERROR_NONE;
}
LONG CNightTessIntegration::OLSetProfile(DWORD, BYTE* p) {
    if (m_frame == nullptr || !connected()) return TESS_ERROR_DISCONNECTED;
    if (m_frame->Station().IsSystemArmed()) return TESS_ERROR_SYS_ARMED;
    if (m_frame->RemoteSetProfile(getText(p, 0, kTessPayloadBytes).c_str()) == 0) return TESS_ERROR_OPERATION_FAILED;
    return TESS_ERROR_NONE;
}
LONG CNightTessIntegration::OLGetProfileState(DWORD, BYTE* p) {
    if (m_frame == nullptr || !connected()) return TESS_ERROR_DISCONNECTED;
    DWORD percent = 0;
    if (m_frame->RemoteGetProfileState(get16(p, 4), &percent) == 0) return TESS_ERROR_OPERATION_FAILED;
    put32(p, 0, percent);
    return TESS_ERROR_NONE;
}
LONG CNightTessIntegration::OLCancelProfile(DWORD, BYTE* p) {
    if (m_frame == nullptr || !connected()) return TESS_ERROR_DISCONNECTED;
    if (m_frame->RemoteCancelProfile(get16(p, 4)) == 0) return TESS_ERROR_OPERATION_FAILED;
    return TESS_ERROR_NONE;
}

}  // namespace trennick
