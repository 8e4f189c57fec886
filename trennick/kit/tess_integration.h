#pragma once
// CTessIntegration: the recorder's end of the kit channel. The automation kit's
// clients (other processes) find this hidden window by its title, register,
// send requests ("Corvasta TESS OUT") and take locks; the recorder tells every
// registered client what happens ("Corvasta TESS IN"). Each message carries a
// fresh 1032-byte shared-memory block passed by descriptor over the local bus.
//
// Threads: the window, its requests, the purge and the owner locks belong to
// the thread that called Create() (the user-interface thread). Notifications may
// be raised from any thread: the client list sits behind one mutex, and each
// asynchronous send runs on a short thread of its own that holds one count of
// its client's semaphore, so one client never has more than
// GetClientSemaphoreCount() sends under way.
// Failure: a block that cannot be mapped or that fails its checks is answered
// kTessBlockRefused and not handled; a notification that cannot be delivered
// counts a missed send; nothing throws.
//
// The recorder's subclass overrides the request handlers (the OL... members),
// FillClientInfo and OnClientsChanged. The handlers receive the block's payload
// of kTessPayloadBytes bytes and must check any index, name or length they read
// from it: it comes from another process.

#include "platform/message_window.h"
#include "platform/types.h"
#include "trennick/kit/tess_block.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace trennick {

class CTessIntegration : public platform::MessageWindow {
public:
    explicit CTessIntegration(std::string_view instanceId);
    ~CTessIntegration() override;

    // Creates the window titled "TESS integration module" + instance id and
    // makes it findable by other processes. False when the window cannot be
    // made. The purge timer runs while a client is registered or a lock held.
    bool Create();

    // The purge period (500 ms unless set); restarts the timer when running.
    void SetPurgePeriod(UINT periodMs);
    // Whether the purge timer runs (tests).
    bool PurgeTimerRunning() const { return m_timerRunning; }

    // The window title the kit looks for.
    const std::string& WindowTitle() const { return m_title; }
    // The registered message numbers of this process.
    static UINT OutMessage();
    static UINT InMessage();

    // State readers (owner thread).
    std::vector<DWORD> ClientIds() const;
    DWORD MissedSends(DWORD clientId) const;
    DWORD FirstOwnerLock() const { return m_ownerLock; }
    DWORD SecondOwnerLock() const { return m_secondOwnerLock; }
    // The recorder information sent with registration, announcement and goodbye.
    BYTE* RecorderInfo() { return m_info; }
    WORD CurrentMode() const;
    void SetCurrentMode(WORD mode);
    void SetInfoValue(DWORD value) { m_infoValue = value; }

    // Waits until every asynchronous send has ended (tests, shut-down).
    void WaitForSends();

    // ---- notifications (any thread) ----
    virtual void NotifyAlarmDetected(WORD a, WORD b, WORD c, const char* text);            // 4
    virtual void NotifyBeforeModeChanged(WORD oldMode, WORD newMode);                     // 2, synchronous
    virtual void NotifyAuthorizationError(DWORD clientId, WORD value, const char* text);  // 3, synchronous
    virtual void NotifyAfterConnect(DWORD value);                                         // 5
    virtual void NotifyAfterDisconnect(WORD value);                                       // 6
    virtual void NotifyBeforeDialOnAlarm(WORD a, WORD b);                                 // 7
    virtual void NotifyVideoIsStreaming();                                                // 9
    virtual void NotifyFileAccepted(WORD value, const char* text);                        // 10
    virtual void NotifyFileStarted();                                                     // 11
    virtual void NotifyRecordStart(const char* text, DWORD a, DWORD b);                   // 12
    virtual void NotifyRecordFinish(const char* text, DWORD a, DWORD b);                  // 13
    virtual void NotifyFullEvents();                                                      // 14
    virtual void NotifyEventModeChanged(WORD mode);                                       // 15
    virtual void NotifyMemoryFree();                                                      // 16
    virtual void NotifySetSerialOutConfigAck(WORD a, WORD b);                             // 17
    virtual void NotifyGetSerialOutConfigAck(WORD a, WORD b, WORD c, DWORD d, WORD e, WORD f, WORD g,
                                             WORD h, const char* text, WORD i);           // 18
    virtual void NotifySerialOutDataWriteAck(WORD a, WORD b, WORD c);                     // 19
    virtual void NotifySerialOutDataRead(WORD a, const char* text, WORD b, WORD c);       // 20
    virtual void NotifyTermSerialOutAck(WORD a, WORD b);                                  // 21
    virtual void NotifySerialOutDataReadAck(WORD a, WORD b);                              // 23
    virtual void NotifySerialOutError(WORD a, WORD b, WORD c);                            // 22
    virtual void NotifySetActiveProtocol(WORD a, const char* text, WORD b);               // 24
    virtual void NotifyListDownloadStarted();                                             // 25
    virtual void NotifyListDownloadFinished(DWORD value);                                 // 26
    virtual void NotifyEventDownloadStarted();                                            // 27
    virtual void NotifyEventDownloadFinished(const char* text, DWORD a, DWORD b, DWORD c);  // 28
    virtual void NotifyLineConnected(DWORD value, const char* text);                      // 29
    virtual void NotifyLineDisconnected(DWORD value, const char* text);                   // 30
    virtual void NotifyLineRing(DWORD value, const char* text);                           // 31
    virtual void NotifyGetProfileDone(const char* text, WORD value);                      // 32
    virtual void NotifySetProfileDone(const char* text, WORD value);                      // 33
    void NotifyCode8();                                                                   // 8

    // ---- channel operations ----
    virtual LONG Reserved94() { return 0; }
    virtual void PurgeClients();
    // Handles one request block received from process `senderPid` (fd: the
    // block's descriptor, still the caller's). Returns the answer.
    virtual LRESULT DispatchRequest(DWORD senderPid, int fd);
    virtual void OnTimer();
    virtual void OnClientsChanged() {}
    virtual UINT GetAnswerTimeout() { return 5000; }
    virtual UINT GetSendTimeout() { return 30000; }
    virtual DWORD GetMaxMissedSends() { return 10; }
    virtual LONG GetClientSemaphoreCount() { return 10; }
    virtual void SayGoodbye();
    virtual int RemoveClient(DWORD clientId);
    virtual LONG SetOwnerLock(DWORD clientId, DWORD set);
    virtual LONG SetSecondOwnerLock(DWORD clientId, DWORD set);
    // Writes the recorder information (kTessInfoBytes, and at most a further
    // word behind it) into the buffer.
    virtual LONG FillClientInfo(BYTE* buffer) { (void)buffer; return 0; }
    virtual LONG OnChangeMode(DWORD clientId, BYTE* payload);

    // ---- request handlers: the base answers 0 ----
    virtual LONG OLModeRequest(DWORD clientId, BYTE* payload);             // 10
    virtual LONG OLGetProperty(DWORD clientId, BYTE* payload);             // 2
    virtual LONG OLSetProperty(DWORD clientId, BYTE* payload);             // 3
    virtual LONG OLSetGroupProperty(DWORD clientId, BYTE* payload);        // 5
    virtual LONG OLGetGroupProperty(DWORD clientId, BYTE* payload);        // 4
    virtual LONG OLGetCameraInformation(DWORD clientId, BYTE* payload);    // 6
    virtual LONG OLSetCameraInformation(DWORD clientId, BYTE* payload);    // 7
    virtual LONG OLDetectVideoStandard(DWORD clientId, BYTE* payload);     // 12
    virtual LONG OLRecordEvent(DWORD clientId, WORD group);                // 13
    virtual LONG OLGetRelayInformation(DWORD clientId, BYTE* payload);     // 14
    virtual LONG OLSetRelayInformation(DWORD clientId, BYTE* payload);     // 15
    virtual LONG OLActivateAlarm(DWORD clientId, BYTE* payload);           // 16
    virtual LONG OLGetDayProperty(DWORD clientId, BYTE* payload);          // 17
    virtual LONG OLSetDayProperty(DWORD clientId, BYTE* payload);          // 18
    virtual LONG OLGetNightProperty(DWORD clientId, BYTE* payload);        // 21
    virtual LONG OLSetNightProperty(DWORD clientId, BYTE* payload);        // 22
    virtual LONG OLShowVideoSource(DWORD clientId, BYTE* payload);         // 20
    virtual LONG OLGetPhoneProperty(DWORD clientId, BYTE* payload);        // 23
    virtual LONG OLSetPhoneProperty(DWORD clientId, BYTE* payload);        // 24
    virtual LONG OLNightAction(DWORD clientId, BYTE* payload);             // 25
    virtual LONG OLViewCamera(DWORD clientId, BYTE* payload);              // 19
    virtual LONG OLGetRemoteProperty(DWORD clientId, BYTE* payload);       // 26
    virtual LONG OLSetRemoteProperty(DWORD clientId, BYTE* payload);       // 27
    virtual LONG OLIsDeviceConnected(DWORD clientId, BYTE* payload);       // 32
    virtual LONG OLGetFileStatus(DWORD clientId, BYTE* payload);           // 33
    virtual LONG OLGetFileInformation(DWORD clientId, BYTE* payload);      // 34
    virtual LONG OLCancelFileReceiving(DWORD clientId);                    // 35
    virtual LONG OLGetDeviceStatus(BYTE* payload);                         // 36
    virtual LONG OLIsSysArm(BYTE* payload);                                // 39
    virtual LONG OLArmSys();                                               // 37
    virtual LONG OLDisarmSys();                                            // 38
    virtual LONG OLRemoteAction(DWORD clientId, BYTE* payload);            // 28
    virtual LONG OLGetGroupWindow(DWORD clientId, BYTE* payload);          // 29
    virtual LONG OLSetGroupWindow(DWORD clientId, BYTE* payload);          // 30
    virtual LONG OLShowGroupToolbar(DWORD clientId, BYTE* payload);        // 31
    virtual LONG OLUnreachable144(DWORD clientId, BYTE* payload);          // reached by no code
    // text: payload byte kTessReceiverIdOffset, with kTessPayloadBytes - 555 bytes of room.
    virtual LONG OLGetReceiverID(DWORD clientId, char* text);              // 40
    virtual LONG OLReserved41(DWORD clientId, BYTE* payload);              // 41
    virtual LONG OLSequenceMode(DWORD clientId, BYTE* payload);            // 42
    virtual LONG OLEventExpOpen(DWORD clientId, BYTE* payload);            // 43
    virtual LONG OLSetSerialOutConfig(DWORD clientId, BYTE* payload);      // 47
    virtual LONG OLGetSerialOutConfig(DWORD clientId, BYTE* payload);      // 48
    virtual LONG OLSerialOutWrite(DWORD clientId, BYTE* payload);          // 49
    virtual LONG OLSerialOutDataWrite(DWORD clientId, BYTE* payload);      // 50
    virtual LONG OLSerialOutDataRead(DWORD clientId, BYTE* payload);       // 51
    virtual LONG OLTermSerialOut(DWORD clientId, BYTE* payload);           // 52
    virtual LONG OLGetActiveProtocol(DWORD clientId, BYTE* payload);       // 53
    virtual LONG OLSetEventMode(DWORD clientId, BYTE* payload);            // 45
    virtual LONG OLGetEventMode(DWORD clientId, BYTE* payload);            // 44
    virtual LONG OLFreeEvents(DWORD clientId);                             // 46
    virtual LONG OLActivateTask(DWORD clientId, BYTE* payload);            // 54
    virtual LONG OLEventExpOpenList(DWORD clientId, BYTE* payload);        // 55
    virtual LONG OLDownloadEventList(DWORD clientId);                      // 56
    virtual LONG OLEventExpClose(DWORD clientId);                          // 57
    virtual LONG OLFindFirstEvent(DWORD clientId, BYTE* payload);          // 59
    virtual LONG OLFindNextEvent(DWORD clientId, BYTE* payload);           // 60
    virtual LONG OLFindClose(DWORD clientId);                              // 61
    virtual LONG OLGetEvent(DWORD clientId, BYTE* payload);                // 58
    virtual LONG OLGetEventInfo(DWORD clientId, BYTE* payload);            // 63
    virtual LONG OLEventExpCancel(DWORD clientId, BYTE* payload);          // 64
    virtual LONG OLGetDownloadState(DWORD clientId, BYTE* payload);        // 65
    virtual LONG OLGetAudioState(DWORD clientId, BYTE* payload);           // 66
    virtual LONG OLGetProfile(DWORD clientId, BYTE* payload);              // 67
    virtual LONG OLSetProfile(DWORD clientId, BYTE* payload);              // 68
    virtual LONG OLGetProfileState(DWORD clientId, BYTE* payload);         // 69
    virtual LONG OLCancelProfile(DWORD clientId, BYTE* payload);           // 70

    // Posts the announcement (code 0) to `window` (a window, or HWND_BROADCAST);
    // id 0 stands for this window.
    virtual void Announce(platform::HWND window, DWORD id);

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

    // For the subclass's use: initial and maximum count 1.
    std::binary_semaphore m_semaphore{1};

private:
    struct Client;
    struct SendRecord;
    struct Sender;

    LRESULT handleRequest(DWORD senderPid, TessBlock& block);
    LRESULT handleCode(WORD code, DWORD clientId, BYTE* payload);
    void registerClient(DWORD clientId, BYTE* payload);
    std::shared_ptr<Client> findClient(DWORD clientId) const;
    std::vector<std::shared_ptr<Client>> clientsSnapshot() const;
    bool purgeHasWork() const;
    // Starts the purge timer when there is something to purge, stops it when not.
    void updatePurgeTimer();
    // Builds the block of a notification with the payload bytes already set.
    TessBlock notificationBlock(WORD code) const;
    void notifyAll(const TessBlock& block);
    void sendSynchronous(const std::shared_ptr<Client>& client, const TessBlock& block);
    void DoBeginAsyncSendThread(const std::shared_ptr<Client>& client, const TessBlock& block);
    static void SendTESSINAsyncProc(std::unique_ptr<SendRecord> record);
    void reapSenders(bool all);
    void fillInfoPayload(TessBlock& block);

    std::string m_instanceId;
    std::string m_title;
    mutable std::mutex m_clientsMutex;
    std::list<std::shared_ptr<Client>> m_clients;  // newest first
    std::atomic<platform::HWND> m_ownWindow{0};
    DWORD m_ownerLock = 0;
    DWORD m_secondOwnerLock = 0;
    UINT m_lastSendTimeoutMs = 0;
    UINT m_goodbyeAnswerTimeoutMs = 0;
    // FillClientInfo may write a build word behind the information; in the
    // announcement the value word takes its place.
    BYTE m_info[kTessInfoBytes + sizeof(DWORD)] = {};
    DWORD m_infoValue = 0;
    UINT m_purgePeriodMs = 500;
    bool m_timerRunning = false;
    std::mutex m_sendersMutex;
    std::list<Sender> m_senders;
};

}  // namespace trennick
