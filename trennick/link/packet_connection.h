#pragma once
// CPacketConnection: the transport-independent end of a station-to-station
// link. One object exists per link; it owns the transport beneath it (TCP,
// modem, serial: a LinkTransport) and forwards the transport operations
// (slots 4-68) to it. Above the transport
// this object does the hello and its answer, the control tokens and their
// dispatch (a table from token to handler), line syncs, hold, the site info
// and the resets, on top of buckets. Its services live beside it: file
// transfer in its own class (FileTransfer, which it owns); hardware
// profiles and text requests (link_profiles.cpp), event requests and trigger
// notifications (link_events.cpp), settings reports and the station directory
// (link_settings_reports.cpp), cards, snapshot and notification requests and
// serial-out commands (link_cards.cpp); their payload formats and parsers in
// files of their own, usable without a link.
//
// Threads: the owner thread (the main frame's, in the program) runs the read
// pass (FilterPollBuff), CheckTimeOuts, the senders and the accessors; the
// keep-alive worker sends line syncs. All state sits behind the bucket lock
// (recursive: token handlers send while it is held); the transport write runs
// under the write lock, taken inside the bucket lock. What the owner window
// must learn is posted, never sent, so nothing waits on a window with the
// lock held (SendCommMessage, a transport's own explicit call, is the one
// send). The interfaces of link_host.h say who calls what on which thread.
// Failures: senders return 0 when nothing was written; bad input from the peer
// is traced and dropped; nothing throws.
//
// The link owns its transport (link_transport.h) and forwards the transport
// operations to it; its destructor sends a running transfer's farewell
// through the transport before it lets the transport go.

#include "platform/types.h"
#include "tavicore/event_file.h"
#include "tavicore/record_convert.h"
#include "tavicore/settings_records.h"
#include "trennick/link/av_audio.h"
#include "trennick/link/av_ports.h"
#include "trennick/link/av_video_receiver.h"
#include "trennick/link/av_video_settings.h"
#include "trennick/link/bucket.h"
#include "trennick/link/cards.h"
#include "trennick/link/common_base.h"
#include "trennick/link/event_requests.h"
#include "trennick/link/link_file_transfer.h"
#include "trennick/link/link_host.h"
#include "trennick/link/link_transport.h"
#include "trennick/link/prot_list.h"
#include "trennick/link/station_info.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct CommsSettingsRecord;

namespace trennick {

// Settings the link reads at construction (registry, sections "Video",
// "Video\Network" and "Comms").
struct LinkSettings {
    bool useOnlyQcif = false;        // "Use Only QCIF Mode"
    bool syncsVerification = true;   // "Syncs Verification": check for a lost line
    bool sendSyncs = true;           // "IsSendSyncs"
    bool netOut = false;             // "NetOut": received video goes on to network viewers
    std::string netOutPort = "4598"; // "NetOutPort": where the network output serves them
};
LinkSettings readLinkSettings();

// Milliseconds of a monotonic clock, wrapping at 2^32 like the system timer.
using LinkClock = std::function<DWORD()>;
DWORD systemTimerMs();

struct LinkServices {
    LinkWindow* window = nullptr;      // owner window; may be null (nothing posted)
    LinkHost* host = nullptr;          // may be null (defaults)
    LinkIdentity* identity = nullptr;  // may be null (no scrambling, no site info)
    LinkClock clock;                   // empty: systemTimerMs
    std::optional<LinkSettings> settings;  // empty: readLinkSettings()
    DWORD nominalBuffLen = kNominalBucketBuffLen;
    // Makes the network video output for an address text, when "NetOut" is
    // on; empty: none.
    std::function<std::unique_ptr<VideoOutNet>(const std::string& address)> networkVideoOutput;
};

// Video states.
inline constexpr WORD VIDEO_NONE = 0;
inline constexpr WORD VIDEO_OPEN = 2;
inline constexpr WORD VIDEO_CLOSED = 5;

// The link's video window seen as the remote window of the receiving video
// code. Calls reach the window on the link's reader thread.
class LinkVideoWindowAdapter : public RemoteVideoWindow {
public:
    void setWindow(LinkVideoWindow* window) { m_window = window; }
    LinkVideoWindow* window() const { return m_window; }
    int UpdateVideoMgr() override { return m_window != nullptr ? m_window->UpdateVideoMgr() : 1; }
    void OnNewVideoSettings(WORD remoteVideoState, DWORD a, DWORD b, DWORD c) override {
        if (m_window != nullptr) m_window->OnNewVideoSettings(remoteVideoState, a, b, c);
    }
    void SetFrameRate(int rate) override {
        if (m_window != nullptr) m_window->SetFrameRate(rate);
    }

private:
    LinkVideoWindow* m_window = nullptr;
};

// The transport write queue (1-4) every bucket goes to.
inline constexpr LONG kBucketWriteQueue = 2;

// Hold sides and bits.
// A call whose hello exchange has not finished this long after the line came
// up is dropped, on every transport (SetSessionSetupLimit replaces it).
inline constexpr DWORD kSessionSetupLimitMs = 15000;

inline constexpr int kHoldLocal = 1;
inline constexpr int kHoldRemote = 2;

class CPacketConnection : public CCommon {
    // The audio and video code's view of the link reads the link's own clock.
    friend class PacketConnectionAvLink;
    // A transport reads the link's clock and reaches its owner window.
    friend class LinkTransport;

public:
    // The link takes its transport and tells it so; `transport` may not be null.
    CPacketConnection(const LinkServices& services, std::unique_ptr<LinkTransport> transport);
    // Sends the farewell a running file transfer owes the peer, then lets
    // the transport go.
    virtual ~CPacketConnection();                                           // 0
    CPacketConnection(const CPacketConnection&) = delete;
    CPacketConnection& operator=(const CPacketConnection&) = delete;

    void ResetHelloState();                                                 // 1
    // Virtual so that a test can hold the keep-alive worker inside the link.
    [[nodiscard]] virtual LONG SendLineSync();                                            // 2
    [[nodiscard]] virtual LONG CheckSync();                                               // 3

    // ---- the transport's operations (link_transport.h), slots 4-68 ----
    LinkTransport& Transport() { return *m_transport; }
    LONG FeedReceivedBytes(const BYTE* data, DWORD length) { return m_transport->FeedReceivedBytes(data, length); }  // 4
    BOOL CanUseVoice() { return m_transport->CanUseVoice(); }  // 5
    BOOL IsUnavailable() { return m_transport->IsUnavailable(); }  // 6
    BOOL IsReadyToSend() { return m_transport->IsReadyToSend(); }  // 7
    DWORD GetLastActivity() { return m_transport->GetLastActivity(); }  // 8
    DWORD GetQueueSize(int queue) { return m_transport->GetQueueSize(queue); }  // 9
    LONG FlushQueues() { return m_transport->FlushQueues(); }  // 10
    LONG ReadRaw(BYTE* buffer, DWORD length) { return m_transport->ReadRaw(buffer, length); }  // 11
    std::string GetStatusText() { return m_transport->GetStatusText(); }  // 12
    LONG GetStatusCode() { return m_transport->GetStatusCode(); }  // 13
    LONG ConnectToRemote(const char* address, const char* name) { return m_transport->ConnectToRemote(address, name); }  // 14
    DWORD TouchActivity() { return m_transport->TouchActivity(); }  // 15
    LONG ConnectWrite(const BYTE* data, DWORD length, LONG mode, LONG queue) { return m_transport->ConnectWrite(data, length, mode, queue); }  // 16
    LONG SetModemOption(LONG option, LONG value) { return m_transport->SetModemOption(option, value); }  // 17
    LONG PassThrough(LONG value) { return m_transport->PassThrough(value); }  // 18
    DWORD GetConnectRate() { return m_transport->GetConnectRate(); }  // 19
    std::string GetConnectInfoText() { return m_transport->GetConnectInfoText(); }  // 20
    LONG CloseVoice() { return m_transport->CloseVoice(); }  // 21
    LONG SendModemText(const char* text) { return m_transport->SendModemText(text); }  // 22
    BOOL HasStateChanged(LONG* callerCopy) { return m_transport->HasStateChanged(callerCopy); }  // 23
    LONG DoMiddleRead() { return m_transport->DoMiddleRead(); }  // 24
    LONG ReadPort(BYTE* buffer, DWORD length) { return m_transport->ReadPort(buffer, length); }  // 25
    LONG GetDefaultMicLevel() { return m_transport->GetDefaultMicLevel(); }  // 26
    LONG GetDefaultSpeakerLevel() { return m_transport->GetDefaultSpeakerLevel(); }  // 27
    DWORD GetBytesPerSecond() { return m_transport->GetBytesPerSecond(); }  // 28
    LONG GetMaxMicLevel() { return m_transport->GetMaxMicLevel(); }  // 29
    LONG GetMaxSpeakerLevel() { return m_transport->GetMaxSpeakerLevel(); }  // 30
    LONG GetMinMicLevel() { return m_transport->GetMinMicLevel(); }  // 31
    LONG GetMinSpeakerLevel() { return m_transport->GetMinSpeakerLevel(); }  // 32
    LONG SelectVoiceTarget(LONG target) { return m_transport->SelectVoiceTarget(target); }  // 33
    LONG GoOnHook() { return m_transport->GoOnHook(); }  // 34
    LONG InitVoice() { return m_transport->InitVoice(); }  // 35
    BOOL IsLinkUp() { return m_transport->IsLinkUp(); }  // 36
    BOOL IsListeningFor(LONG mode) { return m_transport->IsListeningFor(mode); }  // 37
    BOOL IsLinkDown() { return m_transport->IsLinkDown(); }  // 38
    BOOL HasSpeakerphone() { return m_transport->HasSpeakerphone(); }  // 39
    BOOL IsTargetConnected() { return m_transport->IsTargetConnected(); }  // 40
    BOOL IsTargetListeningFor(LONG mode) { return m_transport->IsTargetListeningFor(mode); }  // 41
    BOOL IsTargetReached() { return m_transport->IsTargetReached(); }  // 42
    BOOL IsTargetNotConnected() { return m_transport->IsTargetNotConnected(); }  // 43
    BOOL IsOutgoingCall() { return m_transport->IsOutgoingCall(); }  // 44
    BOOL IsRinging() { return m_transport->IsRinging(); }  // 45
    BOOL IsConnecting() { return m_transport->IsConnecting(); }  // 46
    LONG OnAnswer() { return m_transport->OnAnswer(); }  // 47
    LONG HangUpVoice() { return m_transport->HangUpVoice(); }  // 48
    LONG ToggleHandset() { return m_transport->ToggleHandset(); }  // 49
    LONG SetMicLevel(LONG level) { return m_transport->SetMicLevel(level); }  // 50
    LONG ToggleSpeakerMute() { return m_transport->ToggleSpeakerMute(); }  // 51
    LONG SpeakerKey() { return m_transport->SpeakerKey(); }  // 52
    LONG SetSpeakerLevel(LONG level) { return m_transport->SetSpeakerLevel(level); }  // 53
    DWORD GetQueueSizeUnchecked(int queue) { return m_transport->GetQueueSizeUnchecked(queue); }  // 54
    LONG AppendVoiceChar(char c) { return m_transport->AppendVoiceChar(c); }  // 55
    LONG AppendVoiceText(const char* text) { return m_transport->AppendVoiceText(text); }  // 56
    LRESULT SendCommMessage(WPARAM code, LPARAM parameter) { return m_transport->SendCommMessage(code, parameter); }  // 57
    LONG SetTransportOption(LONG option, LONG value) { return m_transport->SetTransportOption(option, value); }  // 58
    LONG SetListenOn(LONG mode) { return m_transport->SetListenOn(mode); }  // 59
    LONG SetCommsSettings(CommsSettingsRecord* settings) { return m_transport->SetCommsSettings(settings); }  // 60
    LONG SetNotConnected() { return m_transport->SetNotConnected(); }  // 61
    LONG StopListening() { return m_transport->StopListening(); }  // 62
    LONG TimeToRead() { return m_transport->TimeToRead(); }  // 63
    LONG EnableReadQueue(BOOL enable) { return m_transport->EnableReadQueue(enable); }  // 66
    BOOL IsReadQueueEnabled() { return m_transport->IsReadQueueEnabled(); }  // 67
    DWORD GetMaxChunk() { return m_transport->GetMaxChunk(); }  // 68
    LONG Reserved64() { return 0; }                                         // 64
    LONG Reserved65() { return 0; }                                         // 65
    void Reserved69() {}                                                    // 69
    LONG Reserved70() { return 0; }                                         // 70
    void SetDisconnectStatus();                                             // 71
    DWORD GetDisconnectTime();                                              // 72
    void ClearDisconnectTime();                                             // 73
    [[nodiscard]] LONG ReceiveSiteInfo(const BYTE* body, DWORD length);                   // 74
    [[nodiscard]] LONG SendSiteInfo();                                                    // 75

    // ---- buckets ----
    // Cuts buffer[0, length) into buckets and dispatches each. On return
    // `length` holds the bytes of a partial bucket left at the buffer's start.
    // Returns 1, or -1 when a user disconnect was seen (the transport closes).
    [[nodiscard]] LONG FilterPollBuff(std::span<BYTE> buffer, DWORD& length);
    [[nodiscard]] bool GetBucket(BYTE* buffer, DWORD capacity, ParseCursor& cursor);
    const DecodedBucket& CurrBucket() const { return m_decoder.current(); }
    DWORD BucketBuffLen() const { return m_bucketBuffLen; }
    // A receive buffer of BucketBuffLen bytes for transports that want one.
    std::span<BYTE> ReceiveBuffer() { return m_receiveBuffer; }
    // Builds and writes one bucket; returns the transport write's count.
    [[nodiscard]] LONG SendBucket(WORD bucketType, const BYTE* payload, DWORD length, WORD bucketNo = 0);
    // The same with the caller's text in the check header of a guarded bucket.
    [[nodiscard]] LONG SendBucketWithCheck(WORD bucketType, const BYTE* payload, DWORD length, WORD bucketNo,
                             const char* checkHeader);

    // ---- tokens, hello, time-outs ----
    [[nodiscard]] LONG SendAcknowledgment(WORD tokenId, BOOL flag = TRUE);
    [[nodiscard]] LONG SendHello();
    [[nodiscard]] LONG CheckTimeOuts();
    BOOL IsConnected();
    [[nodiscard]] LONG SendDisconnect();
    [[nodiscard]] LONG SendGetMonkey();
    [[nodiscard]] LONG SendGetSettings();
    [[nodiscard]] LONG SendGetSysSettings();
    [[nodiscard]] LONG SendSetRecordMode(int mode);  // 1 cyclic, 2 fixed
    [[nodiscard]] LONG SendFreeEventsForRec();
    [[nodiscard]] LONG SendChatString(std::string_view text);
    LONG SetHoldCall(int side, bool on);  // always 1
    int GetProtocolVersion();          // from the peer's capability bit: 1 or 2
    LONG GetPeerProtocolNumber();      // "P" of the peer's hello; 0 before it
    void InitializePakconnState();
    void ResetLinkState();
    void FinishLink();

    // ---- accessors and small operations ----
    BYTE GetHoldStatus();
    LONG SetHelloRetry(DWORD periodMs, DWORD limit);
    // How long a call may take to finish its hello exchange (0: the default).
    void SetSessionSetupLimit(DWORD limitMs);
    DWORD SessionSetupLimit();
    void SetAudComp(LinkAudioClient* client);
    void SetChatWindow(LinkChatWindow* window);
    // The remote view's list of received frames; null: frames are not kept.
    void SetVideoTarget(RemoteFrameList* frameList);
    void SetVideoWindow(LinkVideoWindow* window);
    // The network video output; null: none.
    void SetNetworkVideoOutput(VideoOutNet* output);
    // The serial video output port (the process's serial-port client); null: none.
    void SetSerialVideoPort(SerialVideoPort* port);
    // The adapter's selected camera, for video buckets that carry none.
    void SetSelectedCamera(std::function<int()> camera);
    void SetRemoteView(RemoteViewSink* view);
    // Where the link's figures go each period (the link profile window); null: nowhere.
    void SetFiguresSink(LinkFiguresSink* sink);
    void UpdateVideoWindow();
    void SetReceiveFolders(const char* receiveFolder, const char* specialFolder);
    StationInfoBlock GetRemoteStationInfo();
    std::optional<OldStationInfoBlock> GetRemoteInfo();
    bool IsAdminConnected();
    bool IsAudioEnabled(BOOL& enabled);
    static bool FileExists(const std::string& path);
    // Ends a receive whose whole-file check never came; always 1 (what it
    // ended is posted as kMsgTransferEnded), so a pass may leave it unread.
    LONG CheckReceiveCompletion();

    // ---- file transfer (FileTransfer, link_file_transfer.h) ----
    // ProcessSending also sends our card again until the peer confirms it.
    // It returns the send state after the step, which a pass may leave unread:
    // the end of a send is posted once as kMsgTransferEnded.
    LONG ProcessSending();
    [[nodiscard]] LONG SetSendStatus(LONG command, LONG value, const char* text);
    [[nodiscard]] LONG SetReceiveStatus(LONG command, const char* text);
    LONG CancelSending();
    // Outputs may be null. A read changes no state: an ended transfer stays
    // as it ended until the side is made ready again, and its end is posted
    // once to the owner window (kMsgTransferEnded).
    [[nodiscard]] LONG GetSendStatus(ULONGLONG* totalBytes, ULONGLONG* sentBytes, LONG* kind, LONG* rate,
                                     std::string* name) const;
    [[nodiscard]] LONG GetReceiveStatus(ULONGLONG* totalBytes, ULONGLONG* receivedBytes, LONG* kind, LONG* rate,
                                        std::string* name) const;
    void GetTransferProgress(int which, ULONGLONG& bytes, DWORD& elapsedMs);
    // Sizes of the files going out and coming in (0 for an idle side).
    void GetTransferSizes(ULONGLONG& sentSize, ULONGLONG& receivedSize);
    void GetErrorCounts(DWORD& sendRetries, DWORD& receiveErrors);
    // The path of the last file that arrived whole; false when none did.
    [[nodiscard]] bool GetReceivedFileName(std::string& path);

    // ---- site info, hardware profiles, text requests (link_profiles.cpp) ----
    [[nodiscard]] LONG SendLumoraRPC(const char* request, WORD length);
    tagHWProfile GetRemoteHWProfile();
    WORD GetRemoteAdapterCount();
    // Writes the connected site with its adapters and cameras into the
    // station directory (the stations manager's server); false without it.
    [[nodiscard]] bool UpdateStationDataBase();

    // ---- event requests and trigger notifications ----
    [[nodiscard]] LONG SendEventDirListCameraRequest(const EventListRequest& request);
    [[nodiscard]] LONG SendEventRequest(const tagEventHeader* header);
    tagTrigger GetTriggerNotification();

    // ---- settings reports ----
    [[nodiscard]] LONG SendSettingsError(const BYTE* report, WORD length);

    // ---- cards, snapshot and notification requests ----
    // GetRemoteCard, SendMyCard and SendGetSnapshot return 1 whatever
    // happened (a card is sent again until the peer confirms it).
    WORD GetCardStatus(int which);
    LONG GetRemoteCard(tagBusinessCard& card);
    LONG SendMyCard(const tagBusinessCard* card);
    LONG SendGetSnapshot(WORD first, DWORD second, WORD third);

    // ---- live audio and video ----
    // Sends one audio frame while the peer announced audio; false when nothing was written.
    [[nodiscard]] bool SendAudioFrame(const BYTE* payload, DWORD length);
    // Sends one video frame (type word: kind low byte, camera high byte).
    [[nodiscard]] LONG SendFrame(WORD bucketType, const BYTE* frame, DWORD length);
    // kind 0: our video towards the peer; 1: the peer's video towards us.
    void SetVideoStatus(BYTE kind, WORD status);
    // The video settings record of one direction (0 ours, else the peer's); returns its state.
    WORD GetVideoSettings(int selector, VideoSettingsRecord& out);
    [[nodiscard]] LONG SendVideoSettings(int selector, const BYTE* shortForm, const VideoSettingsRecord& record);

    // ---- serial-out commands ----
    [[nodiscard]] LONG SendSerialOutCommand(const BYTE* message, WORD length);
    void SetSerialOutSink(LinkSerialOutSink* sink);

    // State readers (tests and the application's status display).
    [[nodiscard]] LONG GetFileSendStatus() const;
    [[nodiscard]] LONG GetFileReceiveStatus() const;
    WORD GetLocalVideoStatus();
    WORD GetRemoteVideoStatus();
    BYTE GetHelloReceived();
    BYTE GetHelloAccepted();
    DWORD GetFailedLogins();
    // What crossed the line in this call, both ways: every byte the
    // transport took or gave, framing and noise included, and the buckets.
    struct LinkStatistics {
        ULONGLONG bytesSent = 0;
        ULONGLONG bytesReceived = 0;
        DWORD bucketsSent = 0;
        DWORD bucketsReceived = 0;
        DWORD videoFramesReceived = 0;
        DWORD elapsedMs = 0;  // since the call came up (the last reset)
    };
    void GetLinkStatistics(LinkStatistics& out);
    const LinkSettings& Settings() const { return m_settings; }

protected:
    // The token dispatch of one token bucket (CheckAcknowledgment).
    void CheckAcknowledgment(const BYTE* payload, DWORD length);
    // Hands the figures sink the period's figures once it lasted a second
    // (the bucket lock is held).
    void reportFigures();
    // The peer's hello: the bytes behind "<HELLO V1.2>".
    void GetHello(const BYTE* body, DWORD length);

    // Told of each token handed to one of the link's services (file
    // transfer, video, events, settings, cards, profiles) just before its
    // handler runs; the link itself does nothing here. Called with the bucket
    // lock held.
    virtual void OnServiceToken(WORD /*tokenId*/) {}
    // Every token bucket of a peer past its hello, before the dispatch (which
    // follows as usual). The link itself does nothing here; a station that
    // answers tokens the link leaves to its application reads them here.
    // Called with the bucket lock held.
    virtual void OnTokenBucket(const BYTE* /*payload*/, DWORD /*length*/) {}
    // Data buckets; the link object itself only checks and traces them.
    virtual void ReceiveData(const DecodedBucket& bucket);
    virtual void StoreNewFrame(const DecodedBucket& bucket);
    virtual void StoreAudioFrame(const DecodedBucket& bucket);
    virtual void ReceiveSerialOutCommand(const DecodedBucket& bucket);
    virtual void ReceiveChatText(const DecodedBucket& bucket);

    // Service handlers of the token table.
    LONG ReceiveLumoraHWProfile(const BYTE* body, DWORD length);
    int DispatchHWProfileList(const BYTE* list, DWORD length);
    LONG ReceiveLumoraRPC(const BYTE* body, DWORD length);
    // 0 when refused, else the request's result code (1 video input, 2
    // digital output, 3 and 4 accepted, 5 page).
    int DispatchLumoraRPC(const BYTE* text, DWORD length);
    LONG ReceiveTriggerNotification(const BYTE* body, DWORD length);
    LONG DispatchEventDirListCameraRequest(const BYTE* body, DWORD length);
    LONG DispatchEventRequest(const BYTE* body, DWORD length);
    LONG ReceiveSettingsError(const BYTE* body, DWORD length);
    LONG ReceiveSettingsError2(const BYTE* body, DWORD length);
    LONG OnFinishUpgrade();
    LONG ReceiveMyCard(const BYTE* body, DWORD length);
    LONG ReceiveNotificationRPC(const BYTE* body, DWORD length);
    bool DispatchNotificationRPC(const BYTE* body, DWORD length);
    bool HandleNotificationRPC(long type, long code, long value);

    DWORD now() const { return m_clock(); }
    void post(UINT message, WPARAM wParam, LPARAM lParam);
    // Whether the lamp notice that follows a bucket sent (kMsgBytesWritten) or
    // dispatched (the data lamp) is due. The lamp stays lit 200 ms, so while
    // buckets flow one notice in kLampNoticeMs keeps it lit: a block costs no
    // posted message. Called with m_bucketLock held.
    struct LampNotice {
        bool posted = false;
        DWORD lastMs = 0;
    };
    static constexpr DWORD kLampNoticeMs = 50;
    bool lampDue(LampNotice& notice);
    // A notice for the user (string resource, one text argument).
    void notice(UINT stringId, const std::string& argument);
    // The data lamp for a bucket that failed a check (held longer than the
    // lamp of each bucket, which it replaces).
    void errorLamp();
    void resetState(bool capabilityProtocol2);

    mutable std::recursive_mutex m_bucketLock;  // const readers take it too
    std::recursive_mutex m_writeLock;

private:
    // Who acts on a token: the link's own state and notices, or one of its
    // services.
    enum class Served { ByLink, ByService };
    // One row of the token table: the token, whether a body of the peer's
    // data follows it, who serves it, and its handler (the body is what
    // follows the token).
    struct TokenRoute {
        WORD id;
        bool body;
        Served served;
        void (*handle)(CPacketConnection& link, WORD id, const BYTE* body, DWORD length);
    };
    // The tokens in dispatch order, each in exactly one row (checked at
    // compile time): the first one found in a payload decides
    // (link_tokens.cpp).
    static const TokenRoute kTokenTable[];
    static std::span<const TokenRoute> tokenTable();
    // The route of a token payload, with the bytes up to its body; null
    // when it holds no token of the table.
    static const TokenRoute* findRoute(const BYTE* payload, DWORD length, DWORD& skip);
    // Tokens acted on before the peer's hello has arrived and checked out.
    static bool partOfHelloExchange(WORD tokenId);
    class FileLink;

    bool sendToken(WORD tokenId);
    LONG receiveSettingsReport(WORD tokenId, UINT message, const BYTE* body, DWORD length);
    void resetServices();
    // The video window as the receiving video code sees it; null without one.
    RemoteVideoWindow* videoWindow();
    // Both video directions to closed, unless they were never opened.
    void closeVideoStates();
    bool peerVersionHoldsAny(std::initializer_list<const char*> versions);
    bool audioRefusedByOldPeer();

    std::unique_ptr<LinkTransport> m_transport;
    LinkWindow* m_window;
    LinkHost* m_host;
    LinkIdentity* m_identity;
    LinkClock m_clock;
    LampNotice m_sendLamp;     // under m_bucketLock
    LampNotice m_receiveLamp;  // under m_bucketLock
    LinkSettings m_settings;
    std::unique_ptr<VideoOutNet> m_netOut;  // made at construction when "NetOut" is on
    LinkHost m_defaultHost;

    DWORD m_bucketBuffLen = 0;
    std::vector<BYTE> m_sendBuffer;
    std::vector<BYTE> m_receiveBuffer;
    BucketDecoder m_decoder;

    // Hello state and the peer.
    BYTE m_helloReceived = 0;
    BYTE m_helloAccepted = 0;
    StationInfoBlock m_peerInfo{};
    std::optional<OldStationInfoBlock> m_peerInfoOld;
    LONG m_peerProtocolNumber = 0;  // "P" of the peer's hello: bucket layout, syncs
    LONG m_peerVersionNumber = 0;   // "V"
    WORD m_peerCapabilities = 0;    // bit 0x20 gives the protocol version
    BYTE m_audioEnabled = 0;
    DWORD m_failedLogins = 0;

    // Times (ms) and counters.
    DWORD m_lastSyncReceivedMs = 0;
    DWORD m_lastSyncSentMs = 0;
    DWORD m_helloStartMs = 0;
    DWORD m_helloAttempts = 0;
    DWORD m_helloRetryPeriodMs = 3000;
    DWORD m_helloRetryLimit = 20;
    DWORD m_setupStartMs = 0;       // when the line of the current call came up
    bool m_setupTimed = false;      // a call is up and its hello exchange is timed
    DWORD m_setupLimitMs = kSessionSetupLimitMs;
    DWORD m_disconnectTimeMs = 0;
    DWORD m_statsIntervalStartMs = 0;
    LinkStatistics m_stats;
    // The figures' period: its start and the counts at its start.
    LinkFiguresSink* m_figuresSink = nullptr;
    DWORD m_figuresStartMs = 0;
    LinkStatistics m_figuresBase;
    bool m_bucketFailedCheck = false;  // the bucket being dispatched lit the error lamp
    // Bytes the last read pass left at the start of the transport's buffer
    // (a partial bucket): counted when they arrived, not again.
    DWORD m_bytesAlreadyCounted = 0;

    // Peer's hardware, triggers, cards.
    tagHWProfile m_remoteHWProfile{};
    WORD m_remoteAdapters = 0;
    DWORD m_profilesReceived = 0;
    DWORD m_rpcReceived = 0;
    tagTrigger m_triggerNotification{};
    tagBusinessCard m_myCard{};
    tagBusinessCard m_peerCard{};
    WORD m_myCardStatus = 0;
    WORD m_peerCardStatus = 0;
    DWORD m_myCardSentMs = 0;
    LinkSerialOutSink* m_serialOutSink = nullptr;

    // Hold, pointers handed in.
    BYTE m_holdBits = 0;
    LinkAudioClient* m_audioClient = nullptr;
    LinkChatWindow* m_chatWindow = nullptr;
    // Chat text that arrived before the chat window was handed in.
    static constexpr std::size_t kMaxPendingChatBytes = 64 * 1024;
    std::vector<std::string> m_pendingChat;
    std::size_t m_pendingChatBytes = 0;
    LinkVideoWindowAdapter m_videoWindow;
    RemoteViewSink* m_remoteView = nullptr;
    RemoteFrameList* m_videoTarget = nullptr;
    bool m_finished = false;

    // Live audio and video: the link as they see it, the receivers, the
    // numbering sender, the two video directions and their settings.
    PacketConnectionAvLink m_av{*this};
    VideoReceiver m_videoRx{m_av};
    AudioReceiver m_audioRx;
    VideoSender m_videoTx;
    VideoStates m_videoStates;
    VideoSettingsExchange m_videoSettings;

    // File transfer and its view of this link.
    std::unique_ptr<FileLink> m_fileLink;
    FileTransfer m_files;
};

}  // namespace trennick
