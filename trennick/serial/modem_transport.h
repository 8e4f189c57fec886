#pragma once
// ModemTransport: the line of a station link over a modem on a COM port (data
// and voice modems), a serial cable, or the local dummy modem. A modem script (an ini
// file) lists the AT commands that initialise the modem, dial or answer, and
// hang up, each with its expected answer and time-out. With a telephony line
// selected, calls are placed and answered by CTAPIConnection instead, and this
// line only carries the bytes of the port the line hands over.
//
// Threads: the link's owner thread calls every operation; the main loop calls
// TimeToRead every pass, which also reads the modem's answers while a script
// step waits. The port's worker threads belong to SerialTransport.
// Failures: a failed step (error answer, busy, no answer, time-out) ends the
// call attempt, tells the owner window (message 22896 with the reason's string
// id) and leaves the link not connected; nothing throws.

#include "trennick/link/link_states.h"
#include "trennick/serial/serial_transport.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct CommsSettingsRecord;

namespace trennick {

class CTAPIConnection;

// What the modem link reads of the connection settings (the Comms record of
// the main frame).
struct ModemLineSettings {
    std::string ModemFile;          // the modem script; a bare name lies in <program folder>/modems
    std::string PortName = "COM1";
    std::string Outsidelineprefix;  // the dial prefix
    DWORD BaudRate = 57600;
    BYTE ByteSize = 8;
    BYTE Parity = 0;
    BYTE StopBits = 0;
    DWORD RingsCount = 2;           // rings before the modem answers
    bool SpeakerOff = false;
    bool UseSVD = false;
    bool DirectLine = false;        // the direct-line switch (line kind 1)
    bool AutoListen = false;        // listening is automatic (status texts)
    bool AutoAnswer = true;         // answer when the rings are counted
    bool ListenAfterDisconnect = false;
    std::string TapiLine;           // selected telephony line; empty: the script drives the modem
    DWORD Rate = 28800;             // the line's rate, bits per second
};

// Modem states (m_ModemConnected) and targets (m_Command.Target); listening,
// connected and connecting are the states every transport shares
// (link_states.h).
enum : LONG {
    CS_NOTCONNECTED = 0, CS_LOCAL = 1, CS_VOICE = 3, CS_ANSWERING = 4, CS_VOICECALL = 4,
};
// What answer a step awaits (m_Command.FuncWaitRead).
enum : LONG {
    MW_DONTWAIT = 0, MW_INIT = 2, MW_CONNECT = 3, MW_DETECTCON = 4, MW_DISCONNECT = 5, MW_DUMMYCONNECT = 7,
    MW_VOICEMODE = 8,
};
// Voice commands of the script's "Voice Commands " section.
enum VoiceCommand : int { VC_SetSpeaker = 0, VC_SetHandset, VC_DTMF, VC_Volume, VC_OffHook, VC_VoiceDial,
                          VC_Answer, VC_OnHook };
// An argument of a voice command: a number or a text.
struct VoiceArg {
    VoiceArg(long n) : isText(false), number(n) {}
    VoiceArg(std::string t) : isText(true), text(std::move(t)) {}
    bool isText;
    long number = 0;
    std::string text;
};
// Fills a voice command's format (from the script, which the user may edit)
// with typed arguments: "%d", "%i", "%u", "%x" (with flags and a width) take a
// number, "%s" a text, "%%" is a percent sign. A conversion of another kind,
// or one whose argument is missing or of the other type, fails the whole text.
std::optional<std::string> formatVoiceCommand(const std::string& format, const std::vector<VoiceArg>& args);

// Line kinds (the script's Type).
enum : int { LINE_MODEM = 0, LINE_DIRECT = 1, LINE_SERIAL_CABLE = 2, LINE_DUMMY = 3, LINE_TCPIP = 4 };

// Messages to the owner window.
inline constexpr UINT kMsgLinkFailed = 22896;   // (string id, 0) or (0, 0) after a hang-up
inline constexpr UINT kMsgRing = 23091;         // (2, 0) on each ring
inline constexpr UINT kMsgAskAnswer = 32844;    // the rings reached the count, answer is the user's
inline constexpr WPARAM kCmdSpeakerCallDone = 32871;
// Reasons (string ids) of a failed or ended call.
inline constexpr WPARAM kStrCallNormal = 65010;
inline constexpr WPARAM kStrCallUnknown = 65011;
inline constexpr WPARAM kStrCallBusy = 65015;
inline constexpr WPARAM kStrCallNoAnswer = 65016;
inline constexpr WPARAM kStrCallTimedOut = 65018;
inline constexpr WPARAM kStrCallNoDialTone = 65022;
inline constexpr WPARAM kStrCallProblem = 65023;
inline constexpr UINT kStrStatusBase = 61300;   // status texts; resource strings: 61300-61310

class ModemTransport : public SerialTransport {
public:
    // `withTapi`: create the telephony line object (it binds the telephony
    // library on first use).
    ModemTransport(const LinkServices& services, bool withTapi);
    ~ModemTransport() override;

    // The connection settings; handed to the telephony line too.
    void SetModemLineSettings(const ModemLineSettings& settings);
    const ModemLineSettings& LineSettings() const { return m_line; }
    // Places a call through the modem script: the number is dialled by the
    // connect list (or by the telephony line when one is selected).
    LONG DialNumber(const char* number);

    // ---- transport operations ----
    LONG FeedReceivedBytes(const BYTE* data, DWORD length) override;
    BOOL CanUseVoice() override;
    BOOL IsUnavailable() override;
    BOOL IsReadyToSend() override;
    DWORD GetLastActivity() override;
    DWORD GetQueueSize(int queue) override;
    LONG ReadRaw(BYTE* buffer, DWORD length) override;
    std::string GetStatusText() override;
    LONG GetStatusCode() override;
    LONG ConnectToRemote(const char* address, const char* name) override;
    DWORD TouchActivity() override;
    DWORD GetConnectRate() override;
    std::string GetConnectInfoText() override;
    LONG CloseVoice() override;
    LONG SendModemText(const char* text) override;
    BOOL HasStateChanged(LONG* last) override;
    LONG DoMiddleRead() override;
    LONG ReadPort(BYTE* buffer, DWORD length) override;
    LONG GetDefaultMicLevel() override;
    LONG GetDefaultSpeakerLevel() override;
    DWORD GetBytesPerSecond() override;
    LONG GetMaxMicLevel() override;
    LONG GetMaxSpeakerLevel() override;
    LONG GetMinMicLevel() override;
    LONG GetMinSpeakerLevel() override;
    LONG SelectVoiceTarget(LONG selection) override;
    LONG GoOnHook() override;
    LONG InitVoice() override;
    BOOL IsLinkUp() override;
    BOOL IsListeningFor(LONG mode) override;
    BOOL IsLinkDown() override;
    BOOL HasSpeakerphone() override;
    BOOL IsTargetConnected() override;
    BOOL IsTargetListeningFor(LONG mode) override;
    BOOL IsTargetReached() override;
    BOOL IsTargetNotConnected() override;
    BOOL IsOutgoingCall() override;
    BOOL IsRinging() override;
    BOOL IsConnecting() override;
    LONG OnAnswer() override;
    LONG HangUpVoice() override;
    LONG ToggleHandset() override;
    LONG SetMicLevel(LONG level) override;
    LONG ToggleSpeakerMute() override;
    LONG SpeakerKey() override;
    LONG SetSpeakerLevel(LONG level) override;
    LONG AppendVoiceChar(char c) override;
    LONG AppendVoiceText(const char* text) override;
    LRESULT SendCommMessage(WPARAM code, LPARAM value) override;
    LONG SetListenOn(LONG mode) override;
    LONG SetCommsSettings(CommsSettingsRecord* settings) override;
    LONG SetNotConnected() override;
    LONG StopListening() override;
    LONG TimeToRead() override;
    DWORD GetMaxChunk() override;

    // The cable link's notices (the telephony line's direct lines).
    LONG StartComm_NULLModem(std::unique_ptr<platform::SerialPort> port, DWORD baudRate) override;
    void OnNullModemLineDropped() override;
    void OnNullModemCallArrived() override;

    // ---- the script steps ----
    LONG InitModem();
    LONG ProcessInitCommand();
    LONG ProcessConnectCommand();
    LONG ProcessDisconnectCommand();
    // Sends a voice command of the script, its text filled with the arguments.
    LONG SendVoiceCommand(int command, const std::vector<VoiceArg>& args = {});
    LONG GoOnHookFor(LONG target);
    LONG SetNotConnectedEx(BOOL keepListening, BOOL quiet);

    // The command text as it goes to the modem: "|" a carriage return, "^X" a
    // control character, each "~" removed and one second of pause added.
    static std::string TranslateCommand(const std::string& text, DWORD& pauseMs);
    // The connect command with "%PhoneNumber%" (and what follows it) replaced
    // by the prefix, the number and a carriage return; unchanged without a number.
    static std::string InsertPhoneNumber(const std::string& command, const std::string& prefix,
                                         const std::string& number);

    // State for the owner and tests.
    LONG ModemState() const { return m_ModemConnected; }
    LONG Target() const { return m_Target; }
    LONG FuncWaitRead() const { return m_FuncWaitRead; }
    int LineKind() const { return m_lineKind; }
    // The string id of the last failed or ended call (0: none yet).
    WPARAM LastCallResult() const { return m_lastCallResult; }
    CTAPIConnection* Tapi() { return m_tapi.get(); }
    // The script path the settings name.
    std::string ScriptPath() const;

protected:
    friend class CTAPIConnection;

    struct Step {
        std::string text;      // as sent
        std::string success;   // empty: no answer awaited
        bool echo = false;
        std::string error;
        std::string busy;
        DWORD deadline = 0;
        bool hasDeadline = false;
        DWORD pauseMs = 0;
        DWORD startMs = 0;
    };
    enum class StepResult { Missing, Waiting, Done };

    std::string readScript(const char* section, const std::string& key) const;
    bool scriptHas(const char* section, const std::string& key) const;
    StepResult runStep(const char* section, const char* successSection, const char* errorSection,
                       const char* timeoutSection, const std::string& key, const char* busyKey,
                       const std::string& number);
    void readModemSection();
    void awaitInitAnswerUnder(const std::string& key);
    void sendText(const std::string& text);
    void startListening();
    void readAnswers();
    void stepFinished();
    void stepFailed(WPARAM reason);
    void connectedNow();
    void lineDropped();
    LONG levelOf(double value, double first, double second, double step) const;
    double micStep() const;
    double speakerStep() const;

    void attached() override;

    ModemLineSettings m_line;
    CommsSettingsRecord* m_record = nullptr;
    bool m_withTapi;
    std::unique_ptr<CTAPIConnection> m_tapi;

    LONG m_ModemConnected = CS_NOTCONNECTED;
    LONG m_Target = CS_NOTCONNECTED;
    LONG m_FuncWaitRead = MW_DONTWAIT;
    int m_phase = 0;
    BYTE m_index = 0;
    Step m_step;
    std::string m_answers;   // what the modem said since the step was sent
    std::string m_afterConnect;  // bytes behind the CONNECT line
    std::string m_voiceResponses[4];  // Ring, Busy, NoDialTone, NoCarrier
    DWORD m_ringDeadline = 0;

    bool m_Ringing = false;
    bool m_WasListening = false;
    DWORD m_ringsToAnswer = 1;
    DWORD m_ringsHeard = 0;
    bool m_initialising = false;
    bool m_wasSpeakerphone = false;
    bool m_outgoing = false;
    bool m_hangUp = false;
    std::string m_dialText;
    std::string m_voiceText;
    LONG m_voiceSelection = -1;
    WPARAM m_lastCallResult = 0;

    int m_lineKind = LINE_MODEM;
    bool m_DSVD = false, m_SVD = false, m_Voice = false, m_SpkPhone = false, m_WDHSC = false, m_SVCS = false;
    double m_minMic = 0, m_defMic = 2, m_maxMic = 3, m_incMic = 1;
    double m_maxSpk = 16, m_defSpk = 10, m_minSpk = 0, m_incSpk = 1;
    double m_curMic = 2, m_curSpk = 10;
    bool m_handsetMute = false, m_speakerMute = false, m_levelsChanged = false;

    std::vector<BYTE> m_receive;  // 1,024,000 bytes
    DWORD m_fill = 0;
    bool m_connectedBanner = false;
};

}  // namespace trennick
