#pragma once
// CNightTessIntegration: the recorder's kit window. It answers the automation
// kit's requests (codes 0 to 70) from the main frame, the station link and the
// remote settings database, and turns every effect that could take time into
// a message posted to the frame, so the kit client gets its answer at once.
//
// Answers are TESS_ERROR values: 0 done, 2 no connected site, 3 not served by
// the recorder, 49 a needed object is missing, and the others listed per
// request. Every index, number and text read from a request's payload comes
// from another process and is checked before use.
//
// Threads: the user-interface thread, as its base and the frame. Failures are
// answered, never thrown.

#include "platform/types.h"
#include "trennick/kit/tess_integration.h"
#include "trennick/link/link_host.h"

#include <memory>
#include <string>
#include <string_view>

struct tagHWProfile;
class CDBLumoRemote;

namespace trennick {

class CMainFrame;
class CPacketConnection;
class CSerialOutCommand;
class CDebrief;
class CRemoteWnd;
struct CommsRecord;
struct VideoRecord;

// Answers of the recorder's handlers besides the base's.
enum NightTessError : LONG {
    TESS_ERROR_DISCONNECTED = 2,
    TESS_ERROR_READ_PROPERTY = 5,
    TESS_ERROR_WRITE_PROPERTY = 6,
    TESS_ERROR_INVALID_CAMERA_INDEX = 34,
    TESS_ERROR_GET_RECEIVERID = 38,
    TESS_ERROR_INVALID_EVENT_MODE_VALUE = 39,
    TESS_ERROR_OPERATION_FAILED = 44,
    TESS_ERROR_INVALID_VALUE = 48,
    TESS_ERROR_SERVER_INIT = 49,
    TESS_ERROR_CHANGE_MODE = 50,
    TESS_ERROR_SYS_ARMED = 53,
};

// The recorder's mode as the kit knows it: a remote station.
inline constexpr WORD kRecorderModeRemote = 3;
// Room of the receiver id text of request 40.
inline constexpr std::size_t kReceiverIdRoom = kTessPayloadBytes - kTessReceiverIdOffset;

// The window record of SetParentHWND (remote action 5), posted to the frame.
struct VideoWindowRecord {
    LONG hwnd;
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
static_assert(sizeof(VideoWindowRecord) == 20);

// Reads "hWnd|left|top|right|bottom" (at most 48 characters, decimal numbers;
// missing ones are 0).
VideoWindowRecord ParseParentWindowText(std::string_view text);

// Turns the escapes of a serial-out data text into bytes: "\\" gives one
// backslash, a backslash before any other character gives a zero byte (that
// character is dropped), everything else is copied. The text ends at its zero
// or at the end of its room, whichever comes first.
std::string UnescapeSerialOutData(const char* text, std::size_t room);

class CNightTessIntegration : public CTessIntegration {
public:
    explicit CNightTessIntegration(std::string_view instanceId);
    ~CNightTessIntegration() override;

    // Attach: the frame and its link; detach (attach false) forgets them.
    void AttachMainFrame(CMainFrame* frame, CPacketConnection* link, bool attach);
    CMainFrame* Frame() const { return m_frame; }
    // The remote event list the kit's event explorer requests walk.
    CDebrief* EventList() const { return m_debrief.get(); }
    // A remote event list was filed for the station (its id) and this
    // kind, adapter and camera: the open browsing loads it. The answer is
    // the kit's code.
    LONG OnEventListData(const char* stationId, DWORD kind, WORD adapter, WORD camera);
    // Tells the clients the site's active serial-out protocol (its number and
    // name, "None" without one); nothing while no site is connected.
    void NotifyActiveProtocol();
    // Tells every client, waiting for each, that the recorder's mode is reset.
    void BroadcastReset();

    LONG FillClientInfo(BYTE* buffer) override;
    LONG SetOwnerLock(DWORD clientId, DWORD set) override;
    LONG SetSecondOwnerLock(DWORD clientId, DWORD set) override;
    LONG OnChangeMode(DWORD clientId, BYTE* payload) override;

    LONG OLModeRequest(DWORD, BYTE*) override { return TESS_ERROR_METHOD_UNSUPPORTED; }
    LONG OLGetProperty(DWORD clientId, BYTE* payload) override;
    LONG OLSetProperty(DWORD clientId, BYTE* payload) override;
    LONG OLGetGroupProperty(DWORD clientId, BYTE* payload) override;
    LONG OLSetGroupProperty(DWORD, BYTE*) override { return TESS_ERROR_METHOD_UNSUPPORTED; }
    LONG OLGetCameraInformation(DWORD clientId, BYTE* payload) override;
    LONG OLSetCameraInformation(DWORD, BYTE*) override { return TESS_ERROR_METHOD_UNSUPPORTED; }
    LONG OLDetectVideoStandard(DWORD, BYTE*) override { return TESS_ERROR_METHOD_UNSUPPORTED; }
    LONG OLGetRelayInformation(DWORD clientId, BYTE* payload) override;
    LONG OLSetRelayInformation(DWORD, BYTE*) override { return TESS_ERROR_METHOD_UNSUPPORTED; }
    LONG OLActivateAlarm(DWORD, BYTE*) override { return TESS_ERROR_METHOD_UNSUPPORTED; }
    LONG OLGetNightProperty(DWORD, BYTE*) override { return TESS_ERROR_METHOD_UNSUPPORTED; }
    LONG OLSetNightProperty(DWORD, BYTE*) override { return TESS_ERROR_METHOD_UNSUPPORTED; }
    LONG OLGetPhoneProperty(DWORD, BYTE*) override { return TESS_ERROR_METHOD_UNSUPPORTED; }
    LONG OLSetPhoneProperty(DWORD, BYTE*) override { return TESS_ERROR_METHOD_UNSUPPORTED; }
    LONG OLNightAction(DWORD, BYTE*) override { return TESS_ERROR_METHOD_UNSUPPORTED; }
    LONG OLGetRemoteProperty(DWORD clientId, BYTE* payload) override;
    LONG OLSetRemoteProperty(DWORD clientId, BYTE* payload) override;
    LONG OLRemoteAction(DWORD clientId, BYTE* payload) override;
    LONG OLIsDeviceConnected(DWORD clientId, BYTE* payload) override;
    LONG OLGetFileStatus(DWORD clientId, BYTE* payload) override;
    LONG OLGetFileInformation(DWORD clientId, BYTE* payload) override;
    LONG OLCancelFileReceiving(DWORD clientId) override;
    LONG OLGetDeviceStatus(BYTE* payload) override;
    LONG OLIsSysArm(BYTE* payload) override;
    LONG OLArmSys() override;
    LONG OLDisarmSys() override;
    LONG OLGetReceiverID(DWORD clientId, char* text) override;
    LONG OLReserved41(DWORD clientId, BYTE* payload) override;
    LONG OLSequenceMode(DWORD clientId, BYTE* payload) override;
    LONG OLEventExpOpen(DWORD clientId, BYTE* payload) override;
    LONG OLGetEventMode(DWORD clientId, BYTE* payload) override;
    LONG OLSetEventMode(DWORD clientId, BYTE* payload) override;
    LONG OLFreeEvents(DWORD clientId) override;
    LONG OLSetSerialOutConfig(DWORD clientId, BYTE* payload) override;
    LONG OLGetSerialOutConfig(DWORD clientId, BYTE* payload) override;
    LONG OLSerialOutWrite(DWORD clientId, BYTE* payload) override;
    LONG OLSerialOutDataWrite(DWORD clientId, BYTE* payload) override;
    LONG OLSerialOutDataRead(DWORD clientId, BYTE* payload) override;
    LONG OLTermSerialOut(DWORD clientId, BYTE* payload) override;
    LONG OLGetActiveProtocol(DWORD clientId, BYTE* payload) override;
    LONG OLEventExpOpenList(DWORD clientId, BYTE* payload) override;
    LONG OLDownloadEventList(DWORD clientId) override;
    LONG OLEventExpClose(DWORD clientId) override;
    LONG OLGetEvent(DWORD clientId, BYTE* payload) override;
    LONG OLFindFirstEvent(DWORD clientId, BYTE* payload) override;
    LONG OLFindNextEvent(DWORD clientId, BYTE* payload) override;
    LONG OLFindClose(DWORD clientId) override;
    LONG OLGetEventInfo(DWORD clientId, BYTE* payload) override;
    LONG OLEventExpCancel(DWORD clientId, BYTE* payload) override;
    LONG OLGetDownloadState(DWORD clientId, BYTE* payload) override;
    LONG OLGetAudioState(DWORD clientId, BYTE* payload) override;
    LONG OLGetProfile(DWORD clientId, BYTE* payload) override;
    LONG OLSetProfile(DWORD clientId, BYTE* payload) override;
    LONG OLGetProfileState(DWORD clientId, BYTE* payload) override;
    LONG OLCancelProfile(DWORD clientId, BYTE* payload) override;

private:
    bool connected() const;
    // The remote station window; null while it does not exist.
    CRemoteWnd* remoteWindow() const;
    // The active protocol as request 53 answers it; 0 when read.
    LONG activeProtocol(WORD& number, std::string& name) const;
    bool remoteProfile(tagHWProfile& out) const;
    LONG sendSerialOut(bool built, WORD length);
    LONG cameraCount(BYTE* payload);

    CMainFrame* m_frame = nullptr;
    CPacketConnection* m_link = nullptr;
    CommsRecord* m_comms = nullptr;
    VideoRecord* m_video = nullptr;
    CDBLumoRemote* m_remoteDB = nullptr;
    std::unique_ptr<CSerialOutCommand> m_serialOut;
    std::unique_ptr<CDebrief> m_debrief;
};

}  // namespace trennick
