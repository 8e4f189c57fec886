#pragma once
// CTAPIConnection: places and answers modem calls through the telephony line
// functions (tapi_binding.h) for the modem link, and hands the port of a
// connected call to the serial layer. The four direct lines "Direct to com1"
// to "Direct to com4" need no telephony library: they run the null-modem cable
// link (CNULLModem) on that port.
//
// Threads: the modem link's thread calls everything. The telephony library's
// callbacks may come from its own thread: they are queued and carried out on
// the link's thread by Pump (the modem link pumps in TimeToRead; the waits
// pump while they wait). One lock guards the queue.
// Failures: a missing library makes every line function fail with
// LINEERR_OPERATIONUNAVAIL; the operations trace, tell the owner window and
// return 0. Nothing throws.

#include "trennick/serial/modem_transport.h"
#include "trennick/serial/null_modem.h"
#include "trennick/serial/tapi_binding.h"

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace trennick {

inline constexpr UINT kStrTapiUnavailable = 4280;
inline constexpr UINT kStrTapiUnknownLine = 4290;
inline constexpr WPARAM kCmdLineAdded = 1055;
inline constexpr WPARAM kCmdLineConfigChanged = 1062;
inline constexpr WPARAM kCmdHangUpRefused = 1064;

// One entry of the line list of the setup pages: its name and the telephony
// device id (kDirectLineDevice for the four direct lines).
inline constexpr DWORD kDirectLineDevice = 0xFFFFFFFF;
struct TapiLineEntry {
    std::string name;
    DWORD deviceId = kDirectLineDevice;
    bool operator==(const TapiLineEntry&) const = default;
};

class CTAPIConnection {
public:
    explicit CTAPIConnection(ModemTransport& owner);
    ~CTAPIConnection();
    CTAPIConnection(const CTAPIConnection&) = delete;
    CTAPIConnection& operator=(const CTAPIConnection&) = delete;

    LONG StartTAPI();
    void ShutdownTAPI();
    void StopTAPI();
    LONG ConnectToRemote(const char* number, const char* name);
    LONG SetListenOn();
    LONG OnAnswer();
    LONG HangupCall();
    LONG StopListening();
    LONG SetNotConnected(BOOL keepListening, BOOL quiet);
    LONG SetCommsSettings(const ModemLineSettings& settings);
    LONG SendModemText(const char* digits);
    void LogConnection(bool connect);
    LONG StartComm(std::unique_ptr<platform::SerialPort> port);
    LONG StartComm_NULLModem(std::unique_ptr<platform::SerialPort> port, DWORD baudRate);
    void StopComm();
    // The lines for the setup pages: the telephony lines, then the four direct lines.
    std::vector<TapiLineEntry> FillTAPILine();
    // Checks the line a setup page selected: TRUE when it can be used, else
    // shows the first warning (through the link's message presenter) and
    // answers FALSE. Choosing a telephony line lets the cable link go.
    BOOL VerifyAndWarn(const std::string& lineName);
    // The first warning about a line, empty when it is usable.
    std::string LineWarning(const std::string& lineName);
    // The line's configuration dialog over `ownerWindow` (a QWidget*): the
    // user's choice is set on the line and kept as the configuration applied
    // on connect. FALSE when the dialog could not be shown (no telephony
    // library, no one to answer it) or the line is unknown.
    BOOL PreConfigureDevice(void* ownerWindow, DWORD deviceId);
    // The dialing-properties dialog for the line; FALSE when it could not be shown.
    BOOL TranslateDialog(void* ownerWindow, DWORD deviceId);
    // Forgets the kept device configuration (the line keeps its own).
    void FreeDevConfig();
    const std::vector<BYTE>& DevConfig() const { return m_devConfig; }

    // 1 when the caller may repeat its request, else 0 after the code's action.
    LONG HandleLineErr(LONG result);
    // Carries out the queued callbacks; true when any ran.
    bool Pump();
    // "Direct to com<n>": n (1-4), else 0.
    static int DirectLineNumber(const std::string& lineName);
    // The dial pieces of a number: cut at each stop character the line cannot
    // handle itself ('$', 'W', 'w', '@', '?'), each piece but the last ending ";".
    static std::vector<std::string> DialPieces(const std::string& number, const std::string& stops);
    static std::string StopCharacters(DWORD devCapFlags);

    CNULLModem* NullModem() { return m_nullModem.get(); }
    bool Started() const { return m_started; }
    const std::string& LastStatus() const { return m_status; }

    static void LineCallbackFunc(DWORD device, DWORD message, std::uintptr_t instance, std::uintptr_t param1,
                                 std::uintptr_t param2, std::uintptr_t param3);

private:
    struct Callback {
        DWORD device, message;
        std::uintptr_t p1, p2, p3;
    };
    void dispatch(const Callback& c);
    void DoLineCallState(const Callback& c);
    void DoLineDevState(const Callback& c);
    void DoLineClose(const Callback& c);
    void OnLDSRinging(DWORD ring);
public:
    // Pumps the callbacks until the answer to `requestId` comes: its reply
    // value; 1 when the wait was aborted (a second wait entered from inside
    // this one, which itself answers 1 at once; the placed call given up; the
    // line gone); 2 after 30 s. An id <= 0 (refused at once) answers
    // LINEERR_OPERATIONFAILED without waiting.
    LONG WaitForReply(LONG requestId);
    // Pumps until the call reaches `state` (0: any change): 0; 1 when the call
    // went away; 2 after 30 s.
    LONG WaitForCallState(DWORD state);

private:
    // Calls `query` with a variable-size answer grown until it fits; the
    // answer's bytes, or the query's error (LINEERR_STRUCTURETOOSMALL when it
    // never fit or its offsets lie outside it).
    static LONG queryVar(const std::function<LONG(tapi::VarString*)>& query, std::vector<BYTE>& bytes);
    bool checkCaps(tapi::LineDevCaps& caps);
    LONG findLine(const std::string& name);
    LONG DialCallInParts(const tapi::LineDevCaps& caps, const std::string& number);
    void closeLine();
    CNULLModem& nullModem();

    ModemTransport& m_owner;
    ModemLineSettings m_settings;
    std::unique_ptr<CNULLModem> m_nullModem;
    tapi::HLINEAPP m_app = 0;
    tapi::HLINE m_line = 0;
    tapi::HCALL m_call = 0;
    DWORD m_apiVersion = 0;
    DWORD m_deviceId = 0;
    DWORD m_numLines = 0;
    LONG m_RequestedID = 0;
    LONG m_AsyncReply = tapi::LINEERR_OPERATIONFAILED;
    bool m_replied = false;
    int m_waitDepth = 0;
    bool m_waitAborted = false;
    DWORD m_callState = 0;
    bool m_TAPIInUse = false;
    bool m_StoppingCall = false;
    bool m_connectedOnce = false;
    bool m_started = false;
    DWORD m_MinTimeBetweenConnect = 1000;
    DWORD m_TapiDelay = 0;
    DWORD m_lastDisconnectMs = 0;
    std::string m_peerName;
    std::string m_status;
    std::vector<BYTE> m_devConfig;
    DWORD m_devConfigDevice = kDirectLineDevice;

    std::mutex m_queueLock;
    std::deque<Callback> m_queue;
};

}  // namespace trennick
