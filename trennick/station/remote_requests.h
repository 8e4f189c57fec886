#pragma once
// CRemoteRequests: the station's handling of what the connected station
// asks, refuses and sends: refused requests, received event files (checked
// whole, then filed into the station's event folder), received event lists,
// requests that go to the connected station, events sent to it, the alarm time
// stamps for the kit channel, the snapshot of a received event expanded into a
// picture, and the picture of a received business card.
//
// Threads: the station's owner thread (its message window).
// Failure: each handler traces its failure and leaves the connection as it
// is. Messages that carry data are posted with it (platform::PostMessageOwned,
// LinkWindow::postOwned) and Handle takes it with platform::TakePostedData;
// data nobody takes is freed with its message.
//
// Its messages are rows it registers in the station's message table
// (RegisterRows); the parts of the program this needs (link, settings,
// windows, kit channel) come through RemoteRequestsHost, which the window
// that shows the station implements.

#include "platform/types.h"
#include "tavicore/event_file.h"
#include "trennick/link/link_host.h"
#include "trennick/station/message_table.h"

#include <functional>
#include <string>

class CDBLumo;

namespace trennick {

class CPacketConnection;

// Messages handled here, with the data they are posted with.
inline constexpr UINT kMsgAlarmToTess = 0x8013;
inline constexpr UINT kMsgInputAlarm = 0x8014;
inline constexpr UINT kMsgCmdToDispatch = 0x801C;         // (kind, std::string command)
inline constexpr UINT kMsgEventReceived = 0x8037;
inline constexpr UINT kMsgRequestEventList = 0x8038;      // EventListRequestBlock
inline constexpr UINT kMsgPeerEventListRequest = 0x8039;  // EventListRequestBlock
inline constexpr UINT kMsgEventListReceived = 0x803B;
inline constexpr UINT kMsgRequestEvent = 0x803C;          // EventFileRequest
inline constexpr UINT kMsgSendEventToRemote = 0x803D;     // tagEventHeader
inline constexpr UINT kMsgSettingsErrorReport = 0x8048;   // (length, SettingsReport)
inline constexpr UINT kMsgSettingsErrorReport2 = 0x8083;  // (length, SettingsReport)

// An event asked of the connected station: the station it is meant for and
// the event's header.
struct EventFileRequest {
    std::string station;
    tagEventHeader header{};
};
inline constexpr UINT kMsgEventFilingFailed = 0x8062;  // posted with lParam 1
// Video manager commands that announce a received event and a received list.
inline constexpr WPARAM kCmdAnnounceEvent = 32823;
inline constexpr WPARAM kCmdAnnounceEventList = 32827;

// String ids of the user messages.
inline constexpr UINT kStrNotConnected = 5370;
inline constexpr UINT kStrOtherStation = 5380;
inline constexpr UINT kStrNoEvents = 5390;
inline constexpr UINT kStrEventNotFound = 5400;
inline constexpr UINT kStrTransferRefused = 5410;
inline constexpr UINT kStrMovieNotFound = 5460;
inline constexpr UINT kStrLockRefused = 65090;

// Tokens of refused requests (the link's token numbers).
inline constexpr WPARAM kTokLockRefused = 61;
inline constexpr WPARAM kTokUnlockRefused = 62;
inline constexpr WPARAM kTokAlarmRefused = 69;
inline constexpr WPARAM kTokCantTransferFile = 74;
inline constexpr WPARAM kTokNoEvents = 75;
inline constexpr WPARAM kTokEventNotFound = 87;
inline constexpr WPARAM kTokMovieNotFound = 32891;

// Size of the request block of an event list request.
inline constexpr std::size_t kEventListRequestBlockBytes = 576;
inline constexpr std::size_t kMaxSnapshotBytes = 2000000;

// What the handlers need of the program around them. Defaults do nothing.
class RemoteRequestsHost {
public:
    virtual ~RemoteRequestsHost() = default;
    // The link; null when there is none.
    virtual CPacketConnection* link() = 0;
    // The connected station's name from its site information; empty when none.
    virtual std::string connectedStationName() = 0;
    // The peer's time kind (2: times of its events need converting).
    virtual int peerTimeKind() { return 0; }
    // The remote station's settings database.
    virtual CDBLumo* remoteSettings() { return nullptr; }
    // A user message (string resource, one text argument); the timed box.
    virtual void showMessage(UINT stringId, const std::string& argument) = 0;
    virtual void showTimedMessage(UINT stringId) = 0;
    // Posts a private message to the frame itself.
    virtual void postToFrame(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    virtual void beep() {}
    // Whether a filed event is to be shown (the frame's flag or its event check).
    virtual bool eventToBeShown(const std::string& /*path*/, const tagEventHeader& /*header*/) { return false; }
    // The video manager's announcements (commands 32823 and 32827).
    virtual void announceEvent(const tagEventHeader& /*header*/) {}
    virtual void announceEventList(const tagEventDirListCamera& /*list*/) {}
    // The link's command dispatch of a command kind and its text.
    virtual bool dispatchCommand(WPARAM /*kind*/, const std::string& /*text*/) { return false; }
    // Queues a file to the peer under a title; false when it cannot.
    virtual bool sendFile(const std::string& /*path*/, const std::string& /*title*/) { return false; }
    // This station's GUID text; false when it cannot be read.
    virtual bool thisStationGuid(std::string& /*guid*/) { return false; }
    // Whether the card display switch is clear; shows a card's picture file.
    virtual bool cardDisplayOn() { return true; }
    virtual void showCardPicture(const std::string& /*picturePath*/) {}
    // A snapshot the site sent (its picture as a bitmap file) is shown.
    virtual void showSnapshot(const std::string& /*bitmapPath*/) {}
    // Whether alarm input (adapter, input) of the remote station is enabled.
    virtual bool inputAlarmEnabled(WPARAM /*adapter*/, LPARAM /*input*/) { return false; }
    // A settings error report of the peer (0x8048, 0x8083). False: nobody
    // takes it yet.
    virtual bool settingsErrorReport(UINT /*message*/, const BYTE* /*block*/, DWORD /*length*/) { return false; }

    // The kit channel's notifications.
    virtual void kitNoEvents() {}
    virtual void kitEventNotFound() {}
    virtual void kitEventFiled(const std::string& /*newPath*/) {}
    // A filed event that is to be shown (the kit's event notification).
    virtual void kitEventReceived(const tagEventHeader& /*header*/) {}
    // A download the user stopped: an event list (kFileKindEventList) or an
    // event file (kFileKindEvent) ended without its file.
    virtual void kitDownloadStopped(LONG /*fileKind*/) {}
    // A remote event list was filed for the connected station (its name)
    // under the kind, adapter and camera of `list`.
    virtual void kitEventListReceived(const std::string& /*station*/, const tagEventDirListCamera& /*list*/) {}
    virtual void kitAlarm(WPARAM /*a*/, LPARAM /*b*/, int /*source*/, const std::string& /*time*/) {}
    virtual void kitInput(WPARAM /*adapter*/, LPARAM /*input*/) {}
};

// The result of checking a received event file before it is filed.
struct EventFileCheck {
    bool ok = false;
    tagEventHeader header{};
    std::string why;  // the reason when not ok
};

// Checks a whole event file that came from another station: a closed header
// with its checksum, a kind with a folder, adapter and camera in range, and
// every snapshot of the chain with its checksum, mark and data inside the file.
EventFileCheck CheckReceivedEventFile(const std::string& path);

class CRemoteRequests {
public:
    explicit CRemoteRequests(RemoteRequestsHost& host) : m_host(host) {}

    // Handles the message when it is one of those above; true then, with the
    // handler's result.
    bool Handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Registers a row for each of its messages; while `live` is false a
    // message is only traced (the window is going).
    void RegisterRows(MessageRows& rows, std::function<bool()> live);

    void OnUserActionRej(WPARAM token);
    void OnEventRecived();
    void OnEventListReceived();
    void OnCmdToDispatch(WPARAM kind, const std::string& command);
    void OnRequestEventList(const EventListRequestBlock& block);
    void OnRequestEvent(const EventFileRequest& request);
    void OnSendEventToRemote(const tagEventHeader& header);
    LRESULT OnAlarmToTess(WPARAM wParam, LPARAM lParam);
    LRESULT OnInputAlarm(WPARAM adapter, LPARAM input);
    // The peer asked for this station's event list of one camera (the
    // 576-byte record): the list file is sent, or "<NOEVENTSREC>" when there
    // are no such events.
    void OnPeerEventListRequest(const EventListRequestBlock& record);
    // The user stopped a file that was arriving (its kind): the kit hears
    // that the download ended.
    void OnReceiveStopped(LONG fileKind);

    // The work of the two above once the link named the received file.
    void FileReceivedEvent(std::string received);
    bool FileReceivedEventList(const std::string& path);

    // Files a received event into the event folder of the connected station.
    // newPath gets the filed copy's path (empty on failure); header its header.
    BOOL DispatchEventToFolder(const std::string& received, std::string& newPath, tagEventHeader& header);
    // Writes the first snapshot of a received event file as a picture file
    // beside it ("HDSnap"/"QbSnap", .JPG or .BMP); the path becomes ReceivedFilePath().
    BOOL ExpandTheEventRecieved(const std::string& path, BOOL* isVideo = nullptr);
    // Shows the picture of a received snapshot event (see the .cpp).
    void showIfSnapshot(const std::string& received);
    BOOL JpegFileToDIBFile(const std::string& jpegPath, const std::string& bmpPath);
    void DisplayHisCard(DWORD flags);

    const std::string& ReceivedFilePath() const { return m_receivedPath; }
    void SetReceivedFilePath(const std::string& path) { m_receivedPath = path; }

    // "%d/%d/%d %2d:%2d:%2d" of the local time now (month, day, year, ...).
    static std::string AlarmTimeStamp();

private:
    bool stationMatches(const std::string& requested, bool& connected);

    RemoteRequestsHost& m_host;
    std::string m_receivedPath;
};

}  // namespace trennick
