#pragma once
// What the station link needs of the program around it: the owner window it
// notifies by private messages, the main frame's data and services, the users
// manager's scrambling and this station's identity, the remote view, the audio
// client and the chat and video windows.
//
// Threads: the owner window is reached by post, from any thread; nothing the
// link does waits for it (SendCommMessage, a transport's own call, aside). Every other interface here (host, identity,
// remote view, chat, video and audio clients, serial-out sink) is called on
// the thread that runs the link's read pass and CheckTimeOuts, with the
// bucket lock held: in the program that is the main frame's thread, so those
// implementations touch the frame's data directly, and none of them may open a
// modal box or wait (what a user must see is posted). The keep-alive worker
// only sends line syncs, which call none of them.

#include "platform/message_window.h"
#include "platform/types.h"
#include "tavicore/event_file.h"
#include "tavicore/settings_records.h"
#include "trennick/link/station_info.h"

#include <algorithm>
#include <array>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace trennick {

// Messages and commands the link posts to the owner window.
inline constexpr UINT kMsgCommand = 0x0111;            // WM_COMMAND: wParam the command id
inline constexpr UINT kMsgCommMessage = 0x040A;        // SendCommMessage
inline constexpr UINT kMsgBytesWritten = 0x8017;       // (0, 1)
inline constexpr UINT kMsgTokenRefused = 0x8018;       // (token id, 0)
inline constexpr UINT kMsgTokenDone = 0x8019;          // (token id, 0)
inline constexpr UINT kMsgFileRequest = 0x803E;        // (token id, 0)
inline constexpr UINT kMsgFileReceivedKind1 = 0x8037;
inline constexpr UINT kMsgFileReceivedKind2 = 0x803B;
inline constexpr UINT kMsgFileReceivedKind3 = 0x8045;
inline constexpr UINT kMsgFileReceivedKind4 = 0x8046;
inline constexpr UINT kMsgRecModeCyclic = 0x8074;      // (95, 0)
inline constexpr UINT kMsgRecordModeFixed = 0x8075;    // (96, 0)
// The site's control panel: enabled, disabled, armed, disarmed.
inline constexpr UINT kMsgCpEnabled = 0x806E;
inline constexpr UINT kMsgCpDisabled = 0x806F;
inline constexpr UINT kMsgCpArmed = 0x8070;
inline constexpr UINT kMsgCpDisarmed = 0x8071;
inline constexpr UINT kMsgMemoryFull = 0x8076;         // (98, 0)
inline constexpr UINT kMsgMemoryFree = 0x8077;         // (99, 0)
inline constexpr UINT kMsgLoginRefused = 0x807E;       // (0, 0 or 61416 for a wrong password)
inline constexpr UINT kMsgDataLamp = 0x8082;           // (0, 1): the data lamp for 3000 ms
// The data lamp through the host: held briefly after each dispatched bucket,
// longer after a bucket that failed its checksum.
inline constexpr DWORD kActivityLampMs = 200;
inline constexpr DWORD kErrorLampMs = 3000;
inline constexpr UINT kMsgAttendTimeout = 0x5A23;
inline constexpr UINT kMsgAttendTimeoutReject = 0x5A25;
inline constexpr LPARAM kWrongPasswordStringId = 61416;
// Notices of the link's services (file transfer, profiles, requests, cards).
inline constexpr UINT kMsgRemoteProfiles = 0x5980;     // (adapters detected, 0)
inline constexpr UINT kMsgProfilesWeCalled = 0x5A31;   // posted when we placed the call
inline constexpr UINT kMsgTriggerNotified = 0x8015;    // to the remote view
inline constexpr UINT kMsgTrigger = 0x8013;            // (adapter, camera)
inline constexpr UINT kMsgRpcDone = 0x801D;            // to the remote view: (result code, 0)
// These carry posted data (LinkWindow::postOwned), taken with
// platform::TakePostedData of the type named.
inline constexpr UINT kMsgEventListRequest = 0x8039;   // EventListRequestBlock
inline constexpr UINT kMsgEventFileRequest = 0x803D;   // tagEventHeader
inline constexpr UINT kMsgSettingsError = 0x8048;      // (length, SettingsReport)
inline constexpr UINT kMsgTransferEnded = 0x80F7;      // (0, LinkTransferResult): once per transfer
inline constexpr UINT kMsgSettingsError2 = 0x8083;     // (length, SettingsReport)
inline constexpr UINT kMsgFinishUpgrade = 0x8049;
// Not 0x806B: the main window takes that one as the automation kit's hang-up,
// and a peer's notice must not end the call.
inline constexpr UINT kMsgNotificationShown = 0x80F4;
// A notice for the user, shown without waiting (one at a time, a new one
// replacing the one shown): (string id, std::string text). Whatever the link
// must tell its user while it reads goes this way, never through a box.
inline constexpr UINT kMsgUserNotice = 0x80E0;
// The peer asked about our own video: (token id, 0) for "<CloseYourVideo>",
// "<VIDEORPAUSE>", "<VIDEORRESUME>" and "<VIDEOPALETTE>". The link has
// already obeyed a close, a pause or a resume (GetLocalVideoStatus).
inline constexpr UINT kMsgPeerVideoRequest = 0x80E1;
inline constexpr WPARAM kCmdProfilesTheyCalled = 32891;
inline constexpr WPARAM kCmdOpenChat = 32804;           // chat text waits in the link for the window
// lParam of kCmdOpenChat when the peer's chat text asks for the window.
inline constexpr LPARAM kOpenChatForPeerText = 1;

inline constexpr WPARAM kCmdGetMonkey = 29129;
inline constexpr WPARAM kCmdRecordEvent = 32104;
inline constexpr WPARAM kCmdRecordFinish = 32889;  // the operator's recording off (0x8079)
inline constexpr WPARAM kCmdRecordStart = 32891;   // and on (0x807B)
inline constexpr WPARAM kCmdCallRefused = 1057;

// User messages (string resources) shown through CCommon::ShowMessage.
inline constexpr UINT kStrStopSending = 5000;
inline constexpr UINT kStrDoNotSend = 5010;
inline constexpr UINT kStrReceiveTimedOut = 5090;
inline constexpr UINT kStrFileNotFound = 4050;         // bad path or file not found
inline constexpr UINT kStrFileReadFailed = 4060;       // with the file's path
inline constexpr UINT kStrFileAccessDenied = 4070;
inline constexpr UINT kStrDiskFull = 4080;
inline constexpr UINT kStrTooManyOpenFiles = 4110;
inline constexpr UINT kStrReceiverSilent = 5030;
inline constexpr UINT kStrFileCheckFailed = 5050;      // with the file's name
// Notices a peer's notification request shows (type 1, codes 1-3).
inline constexpr UINT kStrNotice1 = 65259;
inline constexpr UINT kStrNotice2 = 65260;
inline constexpr UINT kStrNotice3 = 65263;
// String resources the hello reads: the program title and its version.
inline constexpr UINT kStrProgramTitle = 10000;
inline constexpr UINT kStrProgramVersion = 501;

// The data of the messages above.
using EventListRequestBlock = std::array<BYTE, kEventDirListRecordSize>;  // an event list record
using SettingsReport = std::vector<BYTE>;

// The owner (main) window. The platform layer's message window implements it
// with PostMessage and SendMessage.
class LinkWindow {
public:
    virtual ~LinkWindow() = default;
    virtual void postMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    virtual LRESULT sendMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // Posts a message that owns its data (see platform::PostMessageData):
    // whatever the receiver does not take is freed with the message.
    virtual void postData(UINT message, WPARAM wParam, std::unique_ptr<platform::PostedData> data) = 0;
    template <class T>
    void postOwned(UINT message, WPARAM wParam, std::unique_ptr<T> value) {
        postData(message, wParam, std::make_unique<platform::PostedBlock<T>>(std::move(value)));
    }
};

using UserRecord = std::array<BYTE, kUserRecordBytes>;

// An edit of this station's hardware profile; true: write it back.
using LocalProfileEdit = std::function<bool(tagHWProfile&)>;

// The main frame's data and services as the link uses them.
class LinkHost {
public:
    virtual ~LinkHost() = default;
    // The logged-in user's 208-byte record (plain name at 0, password at 90).
    virtual UserRecord loggedInUserRecord() { return {}; }
    // The 876-byte station data block and the station byte sent in the hello.
    virtual void localStationData(BYTE (&data)[kStationDataBytes], BYTE& stationByte) {
        std::fill(std::begin(data), std::end(data), BYTE{0});
        stationByte = 0;
    }
    // Capability bits this station sets besides layout and audio: 0x04 (copied
    // into the peer's main frame) and 0x01 (takes no station-to-station calls).
    virtual WORD localCapabilityFlags() { return 0; }
    // False: this station speaks the first protocol (the older hello layout,
    // block-transform video) instead of the second.
    virtual bool localNewLayout() { return true; }
    // The peer's station data from its hello, and its capability bit 0x04.
    virtual void setRemoteStationData(const BYTE (&/*data*/)[kStationDataBytes], BYTE /*stationByte*/,
                                      bool /*capabilityFlag*/) {}
    // A valid site info of the peer (texts terminated within their fields).
    virtual void recordRemoteSite(const SiteInfoBlock& /*site*/) {}
    // The status panel's data lamp (ShowDataLamp).
    virtual void showDataLamp(int /*on*/, DWORD /*durationMs*/) {}
    // Activity-log entry of a received "<Attend TIMEOUT>".
    virtual void logAttendTimeout() {}
    // The site information the main frame holds for the connected station;
    // false when it holds none.
    virtual bool remoteSiteInfo(SiteInfoBlock& /*site*/) { return false; }
    // Stores the peer's hardware profile in the remote station's settings database.
    virtual void storeRemoteHWProfile(const tagHWProfile& /*profile*/) {}
    // Runs `edit` on this station's hardware profile under the settings
    // database's lock and writes the profile back when `edit` returns true,
    // now or later on the host's own thread (the edit holds its values, not
    // references), so the pass that asks never waits. False when there is
    // no settings database.
    virtual bool editLocalHWProfile(const LocalProfileEdit& /*edit*/) { return false; }
    // Shows a string resource in the main frame's timed message box (empty
    // caption, kind 10); false when there is no main window.
    virtual bool showTimedNotice(UINT /*stringId*/) { return false; }
    // The main frame's video settings as a video opening sends them: the
    // 52-byte record, the remote window's frame rate and the default quality.
    // False when there are none (a zero record, rate and quality are sent).
    virtual bool mainVideoSettings(std::array<BYTE, 52>& /*record*/, int& /*frameRate*/, WORD& /*quality*/) { return false; }
};

// The users manager's scrambling and this station's identity.
class LinkIdentity {
public:
    virtual ~LinkIdentity() = default;
    // The users manager's Encrypt: the scrambled bytes of a name or password.
    virtual std::string encrypt(std::string_view text) = 0;
    // This station's GUID (created and stored when none exists yet), site name
    // and phone; false when the identity cannot be read.
    virtual bool thisSiteInfo(SiteInfoBlock& site) = 0;
};

// The remote view, when one exists.
class RemoteViewSink {
public:
    virtual ~RemoteViewSink() = default;
    virtual void holdChanged(int side, bool on) = 0;          // side 1 local, 2 remote
    virtual void protocolVersionKnown(int protocolVersion) = 0; // 1 or 2
    virtual void postMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // The peer's hardware profiles arrived: `adapters` were detected.
    virtual void hwProfilesReceived(int /*adapters*/) {}
};

// The link's figures over one period of about a second, for the link
// profile window.
struct LinkFigures {
    DWORD charsPerSecond = 0;             // bytes both ways
    DWORD framesPerSecondHundredths = 0;  // video frames received
    DWORD bucketsReceived = 0;            // in the period
    DWORD bucketsSent = 0;                // since the call came up
    DWORD sendRetries = 0;                // file blocks sent again
    DWORD receiveErrors = 0;              // file blocks that failed their check
};

// Where the link hands its figures: called from the thread that reads the
// link, under the link's lock, once a period has passed and a read pass ends;
// the sink only posts them on to its own thread.
class LinkFiguresSink {
public:
    virtual ~LinkFiguresSink() = default;
    virtual void linkFigures(const LinkFigures& figures) = 0;
};

// The kit channel object that drives the serial-out device with the messages
// received over the link.
class LinkSerialOutSink {
public:
    virtual ~LinkSerialOutSink() = default;
    virtual void serialOutMessage(const BYTE* message, DWORD length) = 0;
};

// The audio codec client (CAudComp) as the link uses it.
class LinkAudioClient {
public:
    virtual ~LinkAudioClient() = default;
    // The client's own audio flag: refuses audio with peers of versions 2.5 to 2.81.
    virtual bool audioFlag() const = 0;
    virtual void ProcessRemoteAudio(const BYTE* bytes, DWORD length) = 0;
};

// The chat window.
class LinkChatWindow {
public:
    virtual ~LinkChatWindow() = default;
    virtual void chatText(std::string_view text) = 0;
    virtual void UpdateTitle(std::string_view name) = 0;
};

// The remote video window.
class LinkVideoWindow {
public:
    virtual ~LinkVideoWindow() = default;
    virtual int UpdateVideoMgr() = 0;
    // The peer's video settings: its video state and three 32-bit values.
    virtual void OnNewVideoSettings(WORD /*remoteVideoState*/, DWORD /*a*/, DWORD /*b*/, DWORD /*c*/) {}
    // Frame rate 1 to 100 when the peer placed the call.
    virtual void SetFrameRate(int /*rate*/) {}
};

}  // namespace trennick
