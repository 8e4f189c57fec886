#pragma once
// LinkTransport: the line beneath a station link (TCP, modem, serial cable,
// or a test's byte queue). The link (CPacketConnection) owns its transport and
// reaches the line only through these operations; the transport drives the
// link's read pass from what arrives (CPacketConnection::FilterPollBuff) and
// tells the link when the line comes up or goes.
//
// Threads: as the link's; the link's owner thread calls every operation.
// Failures: each operation returns what the link's operation of the same name
// defines (0 or FALSE when the transport lacks the facility); nothing throws.
// A transport is told its link once, before any operation runs, and is
// destroyed by the link after the link's farewell went out through it.

#include "platform/types.h"

#include <string>

struct CommsSettingsRecord;

namespace trennick {

class CPacketConnection;

class LinkTransport {
public:
    virtual ~LinkTransport() = default;

    // The link above; set by the link when it takes the transport, which
    // also counts as the line's first activity. Then attached() runs.
    void attach(CPacketConnection& link);

    // ---- the operations, each with what a line without the facility does ----
    virtual LONG FeedReceivedBytes(const BYTE* /*data*/, DWORD /*length*/) { return 0; }
    virtual BOOL CanUseVoice() { return FALSE; }
    virtual BOOL IsUnavailable() { return FALSE; }
    virtual BOOL IsReadyToSend() { return FALSE; }
    virtual DWORD GetLastActivity() { return m_lastActivityMs; }
    virtual DWORD GetQueueSize(int /*queue*/) { return 0; }
    virtual LONG FlushQueues() { return 0; }
    virtual LONG ReadRaw(BYTE* /*buffer*/, DWORD /*length*/) { return 0; }
    virtual std::string GetStatusText() { return {}; }
    virtual LONG GetStatusCode() { return 0; }
    virtual LONG ConnectToRemote(const char* /*address*/, const char* /*name*/) { return 0; }
    virtual DWORD TouchActivity() {
        m_lastActivityMs = now();
        return m_lastActivityMs;
    }
    virtual LONG ConnectWrite(const BYTE* data, DWORD length, LONG mode, LONG queue) = 0;
    virtual LONG SetModemOption(LONG /*option*/, LONG /*value*/) { return 0; }
    virtual LONG PassThrough(LONG /*value*/) { return 0; }
    virtual DWORD GetConnectRate() { return 0; }
    virtual std::string GetConnectInfoText() { return {}; }
    virtual LONG CloseVoice() { return 0; }
    virtual LONG SendModemText(const char* /*text*/) { return 0; }
    virtual BOOL HasStateChanged(LONG* /*callerCopy*/) { return FALSE; }
    virtual LONG DoMiddleRead() { return 0; }
    virtual LONG ReadPort(BYTE* /*buffer*/, DWORD /*length*/) { return 0; }
    virtual LONG GetDefaultMicLevel() { return 0; }
    virtual LONG GetDefaultSpeakerLevel() { return 0; }
    virtual DWORD GetBytesPerSecond() { return GetConnectRate() / 8; }
    virtual LONG GetMaxMicLevel() { return 0; }
    virtual LONG GetMaxSpeakerLevel() { return 0; }
    virtual LONG GetMinMicLevel() { return 0; }
    virtual LONG GetMinSpeakerLevel() { return 0; }
    virtual LONG SelectVoiceTarget(LONG /*target*/) { return 0; }
    virtual LONG GoOnHook() { return 0; }
    virtual LONG InitVoice() { return 0; }
    virtual BOOL IsLinkUp() { return FALSE; }
    virtual BOOL IsListeningFor(LONG /*mode*/) { return FALSE; }
    virtual BOOL IsLinkDown() { return FALSE; }
    virtual BOOL HasSpeakerphone() { return FALSE; }
    virtual BOOL IsTargetConnected() { return FALSE; }
    virtual BOOL IsTargetListeningFor(LONG /*mode*/) { return FALSE; }
    virtual BOOL IsTargetReached() { return FALSE; }
    virtual BOOL IsTargetNotConnected() { return FALSE; }
    virtual BOOL IsOutgoingCall() = 0;
    virtual BOOL IsRinging() { return FALSE; }
    virtual BOOL IsConnecting() { return FALSE; }
    virtual LONG OnAnswer() { return 0; }
    virtual LONG HangUpVoice() { return 0; }
    virtual LONG ToggleHandset() { return 0; }
    virtual LONG SetMicLevel(LONG /*level*/) { return 0; }
    virtual LONG ToggleSpeakerMute() { return 0; }
    virtual LONG SpeakerKey() { return 0; }
    virtual LONG SetSpeakerLevel(LONG /*level*/) { return 0; }
    virtual DWORD GetQueueSizeUnchecked(int /*queue*/) { return 0; }
    virtual LONG AppendVoiceChar(char /*c*/) { return 0; }
    virtual LONG AppendVoiceText(const char* /*text*/) { return 0; }
    virtual LRESULT SendCommMessage(WPARAM code, LPARAM parameter) { return sendOwnerMessage(code, parameter); }
    virtual LONG SetTransportOption(LONG /*option*/, LONG /*value*/) { return 0; }
    virtual LONG SetListenOn(LONG /*mode*/) { return 0; }
    virtual LONG SetCommsSettings(CommsSettingsRecord* /*settings*/) { return 1; }
    virtual LONG SetNotConnected() { return 0; }
    virtual LONG StopListening() { return 0; }
    virtual LONG TimeToRead() { return 0; }
    virtual LONG EnableReadQueue(BOOL /*enable*/) { return 0; }
    virtual BOOL IsReadQueueEnabled() { return TRUE; }
    virtual DWORD GetMaxChunk() { return 1024; }

protected:
    // What needs the link (its clock, its owner window) is made here rather
    // than in the constructor, which runs before the transport has a link.
    virtual void attached() {}

    CPacketConnection& link() const { return *m_link; }
    // The link's clock, in milliseconds.
    DWORD now() const;
    // A notice to the link's owner window, posted (nothing when it has none).
    void post(UINT message, WPARAM wParam, LPARAM lParam) const;
    // The communications message to the owner window, sent and answered.
    LRESULT sendOwnerMessage(WPARAM code, LPARAM parameter) const;

    DWORD m_lastActivityMs = 0;

private:
    CPacketConnection* m_link = nullptr;
};

}  // namespace trennick
