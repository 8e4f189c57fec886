#include "trennick/serial/modem_transport.h"

#include "platform/folders.h"
#include "platform/ini_file.h"
#include "trennick/link/comms_settings_record.h"
#include "trennick/link/link_trace.h"
#include "trennick/serial/tapi_connection.h"

#include <algorithm>
#include <cmath>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace trennick {

namespace {

constexpr const char* kMissing = "???";

// A script's time-out (whole seconds) as milliseconds; 0 for none. The script
// is a file the user may edit: a time longer than the tick counter can compare
// (about 24 days) is kept to that, so it never reads as already passed.
DWORD scriptTimeoutMs(const std::string& text) {
    if (text == kMissing) return 0;
    const long seconds = std::strtol(text.c_str(), nullptr, 10);
    if (seconds <= 0) return 0;
    constexpr long kMaxSeconds = 0x7FFFFFFF / 1000;
    return static_cast<DWORD>(std::min(seconds, kMaxSeconds)) * 1000;
}
constexpr DWORD kReceiveBytes = 1024000;
constexpr std::size_t kAnswerLimit = 8192;

// Answers that end a call attempt whatever the script expects, with the reason
// the owner window shows.
struct FinalWord {
    const char* text;
    WPARAM reason;
};
constexpr FinalWord kConnectFailures[] = {
    {"BUSY", kStrCallBusy},
    {"NO ANSWER", kStrCallNoAnswer},
    {"NO DIALTONE", kStrCallNoDialTone},
    {"NO DIAL TONE", kStrCallNoDialTone},
    {"NO CARRIER", kStrCallUnknown},
};

bool contains(const std::string& text, const std::string& what) {
    return !what.empty() && CCommon::FindStringNoCase(what, text) >= 0;
}

const char* kVoiceKeys[] = {"SetSpeaker", "SetHandset", "DTMF", "Volume", "OffHook", "VoiceDial", "Answer", "OnHook"};

}  // namespace

ModemTransport::ModemTransport(const LinkServices& services, bool withTapi)
    : SerialTransport(services), m_withTapi(withTapi), m_receive(kReceiveBytes) {}

void ModemTransport::attached() {
    // The telephony line reads the link's clock from the start.
    if (m_withTapi) m_tapi = std::make_unique<CTAPIConnection>(*this);
}

ModemTransport::~ModemTransport() {
    m_tapi.reset();
    WinUnSetupComm();
}

void ModemTransport::SetModemLineSettings(const ModemLineSettings& settings) {
    m_line = settings;
    if (m_tapi) m_tapi->SetCommsSettings(m_line);
}

std::string ModemTransport::ScriptPath() const {
    if (m_line.ModemFile.empty()) return {};
    if (m_line.ModemFile.find('/') != std::string::npos) return m_line.ModemFile;
    return (platform::programFolder() / "modems" / m_line.ModemFile).string();
}

std::string ModemTransport::readScript(const char* section, const std::string& key) const {
    const std::string path = ScriptPath();
    if (path.empty()) return kMissing;
    return platform::iniReadValue(path, section, key).value_or(kMissing);
}

bool ModemTransport::scriptHas(const char* section, const std::string& key) const {
    return readScript(section, key) != kMissing;
}

std::string ModemTransport::TranslateCommand(const std::string& text, DWORD& pauseMs) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '|') {
            out.push_back('\r');
        } else if (c == '^' && i + 1 < text.size() && text[i + 1] >= 'A' && text[i + 1] <= 'z') {
            // A letter names its control character in either case ("^m" and
            // "^M" are both a carriage return); the signs between Z and a keep
            // their own codes less 64 ("^[" is escape).
            const unsigned char next = static_cast<unsigned char>(text[i + 1]);
            out.push_back(static_cast<char>(std::isalpha(next) ? (std::toupper(next) - 64) : (next - 64)));
            ++i;
        } else if (c == '~') {
            pauseMs += 1000;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string ModemTransport::InsertPhoneNumber(const std::string& command, const std::string& prefix,
                                                const std::string& number) {
    const auto at = command.find("%PhoneNumber%");
    if (at == std::string::npos || number.empty()) return command;
    return command.substr(0, at) + prefix + number + "|";
}

void ModemTransport::sendText(const std::string& text) {
    if (text.empty()) return;
    WinWrite(reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size()), TRUE, 1);
}

ModemTransport::StepResult ModemTransport::runStep(const char* section, const char* successSection,
                                                       const char* errorSection, const char* timeoutSection,
                                                       const std::string& key, const char* busyKey,
                                                       const std::string& number) {
    std::string text = readScript(section, key);
    if (text == kMissing) return StepResult::Missing;
    if (!number.empty()) text = InsertPhoneNumber(text, m_line.Outsidelineprefix, number);
    Step step;
    step.success = readScript(successSection, key);
    if (step.success == kMissing) step.success.clear();
    if (const auto comma = step.success.find(",1"); comma != std::string::npos) {
        step.success.resize(comma);
        step.echo = true;
    }
    step.error = errorSection ? readScript(errorSection, key) : kMissing;
    if (step.error == kMissing) step.error.clear();
    if (busyKey) {
        step.busy = readScript(errorSection, busyKey);
        if (step.busy == kMissing) step.busy.clear();
    }
    const DWORD timeoutMs = scriptTimeoutMs(readScript(timeoutSection, key));
    if (timeoutMs > 0) {
        step.hasDeadline = true;
        step.deadline = now() + timeoutMs;
    } else {
        step.success.clear();
    }
    step.text = TranslateCommand(text, step.pauseMs);
    m_answers.clear();
    sendText(step.text);
    step.startMs = now();
    m_step = step;
    linkTrace(5, "CModemConnection step %s %s", section, key.c_str());
    return (!m_step.success.empty() || m_step.pauseMs > 0) ? StepResult::Waiting : StepResult::Done;
}

void ModemTransport::readModemSection() {
    const std::string type = readScript("Modem", "Type");
    m_DSVD = m_SVD = m_Voice = m_SpkPhone = m_WDHSC = m_SVCS = false;
    m_lineKind = m_line.DirectLine ? LINE_DIRECT : LINE_MODEM;
    auto flag = [this](const char* key) {
        const std::string v = readScript("Modem", key);
        return v != kMissing && std::strtol(v.c_str(), nullptr, 10) != 0;
    };
    if (CCommon::FindStringNoCase("SVD", type) == 0 && type.size() == 3) {
        m_SVD = m_Voice = m_SpkPhone = true;
    } else if (CCommon::FindStringNoCase("DSVD", type) == 0 && type.size() == 4) {
        m_DSVD = true;
    } else if (CCommon::FindStringNoCase("Serial Cable", type) == 0) {
        m_lineKind = LINE_SERIAL_CABLE;
    } else if (CCommon::FindStringNoCase("Local Dummy Modem", type) == 0) {
        m_lineKind = LINE_DUMMY;
    } else if (CCommon::FindStringNoCase("TCP/IP", type) == 0) {
        m_lineKind = LINE_TCPIP;
    } else {
        m_DSVD = flag("DSVD");
        m_SVD = flag("SVD");
        m_Voice = flag("Voice");
        m_SpkPhone = flag("SpkPhone");
        m_WDHSC = flag("WDHSC");
        m_SVCS = flag("SVCS");
    }
    if (m_SpkPhone) {
        auto number = [this](const char* key, double fallback) {
            const std::string v = readScript("SpeakerPhone Volume Settings", key);
            return v == kMissing ? fallback : std::strtod(v.c_str(), nullptr);
        };
        m_minMic = number("MinMicGain", 0);
        m_defMic = number("DefMicGain", 2);
        m_maxMic = number("MaxMicGain", 3);
        m_incMic = number("IncMicGain", 1);
        m_maxSpk = number("MaxSpkrAtten", 16);
        m_defSpk = number("DefSpkrAtten", 10);
        m_minSpk = number("MinSpkrAtten", 0);
        m_incSpk = number("IncSpkrAtten", 1);
        m_curMic = m_defMic;
        m_curSpk = m_defSpk;
    }
}

LONG ModemTransport::InitModem() {
    linkTrace(3, "> InitModem() Starts.");
    if (m_tapi && !m_line.TapiLine.empty()) return 0;
    if (m_ModemConnected == CS_NOTCONNECTED) {
        m_initialising = true;
        readModemSection();
    }
    if (m_lineKind == LINE_DUMMY) {
        m_ModemConnected = CS_CONNECTED;
        m_FuncWaitRead = MW_DUMMYCONNECT;
        m_line.Rate = 28800;
        SetLoopBack(true, m_line.Rate / 8);
        link().ResetLinkState();
        m_initialising = false;
        linkTrace(3, "> Set Dummy Modem.");
        linkTrace(3, "> InitModem() Ends (dummy modem set).");
        return 0;
    }
    if (!IsPortOpen()) {
        linkTrace(3, "> Calling WinSetupComm().");
        const LONG r = WinSetupComm(m_line.PortName.c_str(), m_line.BaudRate, m_line.ByteSize, m_line.Parity,
                                    m_line.StopBits, m_lineKind == LINE_MODEM);
        linkTrace(3, "> Called WinSetupComm().");
        if (r != 0) {
            m_initialising = false;
            m_ModemConnected = CS_NOTCONNECTED;
            linkTrace(3, "- m_ModemConnected = CS_NOTCONNECTED");
            linkTrace(3, "> InitModem() Ends (failure).");
            return r;
        }
    }
    m_initialising = false;
    m_phase = 1;
    m_index = 1;
    ProcessInitCommand();
    linkTrace(3, "> InitModem() Ends (OK).");
    return 0;
}

// An init step whose answer the script names under the step's own key
// ("<key>Success", "<key>TimeOut" in seconds): the step awaits that answer
// until the time-out, or nothing when either is missing or the time is none.
void ModemTransport::awaitInitAnswerUnder(const std::string& key) {
    m_step.success = readScript("Init Commands Success", key + "Success");
    const DWORD timeoutMs = scriptTimeoutMs(readScript("Init Commands TimeOut", key + "TimeOut"));
    if (m_step.success == kMissing || timeoutMs == 0) {
        m_step.success.clear();
    } else {
        m_step.hasDeadline = true;
        m_step.deadline = now() + timeoutMs;
    }
}

LONG ModemTransport::ProcessInitCommand() {
    linkTrace(5, "> ProcessInitCommand() Starts.");
    const bool voice = m_Target == CS_VOICE;
    const char* list = voice ? "Init Voice Commands" : "Init Commands";
    const char* success = voice ? "Init Voice Commands Success" : "Init Commands Success";
    const char* error = voice ? "Init Voice Commands Error" : "Voice Commands Error";
    const char* timeout = voice ? "Init Voice Commands TimeOut" : "Init Commands TimeOut";
    m_phase = 1;
    for (;;) {
        char key[16];
        std::snprintf(key, sizeof key, "Command%d", m_index);
        const StepResult r = runStep(list, success, error, timeout, key, nullptr, {});
        if (r == StepResult::Waiting) {
            m_FuncWaitRead = MW_INIT;
            linkTrace(5, "> ProcessInitCommand() Ends (OK).");
            return 0;
        }
        if (r == StepResult::Missing) break;
        ++m_index;
    }
    const bool dataTarget = m_Target == CS_LISTENING || m_Target == CS_CONNECTED || m_Target == CS_CONNECTING;
    if (dataTarget && m_index < 100 && m_line.SpeakerOff && scriptHas("Init Commands", "SpeakerOff")) {
        m_index = 100;
        if (runStep("Init Commands", "Init Commands Success", nullptr, "Init Commands TimeOut", "SpeakerOff", nullptr,
                    {}) == StepResult::Waiting) {
            awaitInitAnswerUnder("SpeakerOff");
        }
        m_FuncWaitRead = MW_INIT;
        linkTrace(5, "> ProcessInitCommand() Ends (disabling speaker).");
        if (m_step.success.empty() && m_step.pauseMs == 0) return ProcessInitCommand();
        return 0;
    }
    if (dataTarget && m_index <= 199 && m_line.UseSVD && scriptHas("Init Commands", "UseSVD")) {
        m_index = 200;
        runStep("Init Commands", "Init Commands Success", nullptr, "Init Commands TimeOut", "UseSVD", nullptr, {});
        awaitInitAnswerUnder("UseSVD");
        m_FuncWaitRead = MW_INIT;
        if (m_step.success.empty() && m_step.pauseMs == 0) return ProcessInitCommand();
        return 0;
    }
    if (m_ModemConnected == CS_ANSWERING) {
        linkTrace(3, "> Pickup Call.");
        m_index = m_outgoing ? 1 : 10;
        m_outgoing = false;
        ProcessConnectCommand();
        linkTrace(5, "> ProcessInitCommand() Ends (now connected).");
        return 0;
    }
    m_ModemConnected = CS_LOCAL;
    linkTrace(3, "- m_ModemConnected = CS_LOCAL");
    if (m_Target == CS_LISTENING) {
        linkTrace(3, "> StartListening().");
        startListening();
        linkTrace(5, "> ProcessInitCommand() Ends (now listening).");
    } else if (m_Target == CS_VOICE) {
        SendCommMessage(43, GetDefaultMicLevel());
        SendCommMessage(44, GetDefaultSpeakerLevel());
        SendCommMessage(45, 0);
        SendCommMessage(41, 0);
        const std::string ring = readScript("Voice Commands TimeOut", "Ring");
        m_ringDeadline = now() + (ring == kMissing ? 30000 : scriptTimeoutMs(ring));
        const char* names[4] = {"Ring", "Busy", "NoDialTone", "NoCarrier"};
        for (int i = 0; i < 4; ++i) {
            m_voiceResponses[i] = readScript("Voice Commands Response", names[i]);
            if (m_voiceResponses[i] == kMissing) m_voiceResponses[i].clear();
        }
        m_ModemConnected = CS_VOICE;
        linkTrace(3, "- m_ModemConnected = CS_VOICE");
        m_FuncWaitRead = MW_VOICEMODE;
        SendVoiceCommand(VC_SetHandset);
        linkTrace(5, "> ProcessInitCommand() Ends (now in voicemode).");
    } else {
        m_phase = 4;
        m_index = 1;
        ProcessConnectCommand();
    }
    return 0;
}

LONG ModemTransport::ProcessConnectCommand() {
    m_Target = CS_CONNECTED;
    linkTrace(3, "- m_Command.Target = CS_CONNECTED");
    SendCommMessage(56, 0);
    m_phase = 4;
    for (;;) {
        char key[16];
        std::snprintf(key, sizeof key, "Command%d", m_index);
        const StepResult r = runStep("Connect Commands", "Connect Commands Success", "Connect Commands Error",
                                     "Connect Commands TimeOut", key, "Busy", m_dialText);
        if (r == StepResult::Waiting) {
            m_FuncWaitRead = MW_CONNECT;
            return 0;
        }
        if (r == StepResult::Missing) break;
        ++m_index;
    }
    connectedNow();
    return 0;
}

void ModemTransport::connectedNow() {
    m_ModemConnected = CS_CONNECTED;
    linkTrace(3, "- m_ModemConnected = CS_CONNECTED");
    m_FuncWaitRead = MW_DONTWAIT;
    m_index = 1;
    m_Ringing = false;
    m_fill = static_cast<DWORD>(std::min<std::size_t>(m_afterConnect.size(), kReceiveBytes - 1));
    std::memcpy(m_receive.data(), m_afterConnect.data(), m_fill);
    m_afterConnect.clear();
    if (m_tapi && !m_line.TapiLine.empty()) {
        m_tapi->LogConnection(true);
    } else {
        linkTrace(3, "ModemTransport::LogConnection %s",
                  ("*** Connect    on: " + CCommon::GetDateTimeStamp(false)).c_str());
    }
    m_connectedBanner = true;
    link().ResetLinkState();
    post(kMsgLinkUp, 0, 0);
}

LONG ModemTransport::ProcessDisconnectCommand() {
    m_phase = 5;
    if (IsPortOpen() && !LoopBack()) {
        for (;;) {
            char key[16];
            std::snprintf(key, sizeof key, "Command%d", m_index);
            const StepResult r = runStep("Disconnect Commands", "Disconnect Commands Success",
                                         "Disconnect Commands Error", "Disconnect Commands TimeOut", key, nullptr, {});
            if (r == StepResult::Waiting) {
                m_FuncWaitRead = MW_DISCONNECT;
                return 0;
            }
            if (r == StepResult::Missing) break;
            ++m_index;
        }
    }
    WinUnSetupComm();
    SetLoopBack(false, 0);
    m_ModemConnected = CS_NOTCONNECTED;
    if (m_wasSpeakerphone) {
        m_wasSpeakerphone = false;
        m_FuncWaitRead = MW_DONTWAIT;
        m_Target = CS_NOTCONNECTED;
        linkTrace(3, "because ProcessDisconnectCommand() called (WasSP).");
        post(kMsgCommand, kCmdSpeakerCallDone, 0);
    } else if (m_WasListening) {
        m_FuncWaitRead = MW_DONTWAIT;
        SetListenOn(0);
    } else {
        m_FuncWaitRead = MW_DONTWAIT;
        m_Target = CS_NOTCONNECTED;
        linkTrace(3, "because ProcessDisconnectCommand() called.\n");
    }
    return 0;
}

void ModemTransport::startListening() {
    if (!scriptHas("Listen Commands", "WaitCommand")) {
        linkTrace(1, "CModemConnection: the modem script has no WaitCommand; cannot listen");
        m_Target = CS_NOTCONNECTED;
        return;
    }
    m_ringsToAnswer = m_lineKind != LINE_MODEM ? 1 : std::max<DWORD>(1, m_line.RingsCount);
    m_ringsHeard = 0;
    m_Ringing = false;
    m_WasListening = true;
    m_ModemConnected = CS_LISTENING;
    m_FuncWaitRead = MW_DETECTCON;
    m_answers.clear();
}

std::optional<std::string> formatVoiceCommand(const std::string& format, const std::vector<VoiceArg>& args) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            out.push_back(format[i]);
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < format.size() && std::strchr("-+ 0#", format[j])) ++j;
        while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j])) && j - i < 6) ++j;
        if (j >= format.size() || next >= args.size()) return std::nullopt;
        const std::string flags = format.substr(i, j - i);
        const char conversion = format[j];
        const VoiceArg& arg = args[next++];
        char piece[64];
        if (std::strchr("diux", conversion) && !arg.isText) {
            std::snprintf(piece, sizeof piece, (flags + "l" + conversion).c_str(), arg.number);
            out += piece;
        } else if (conversion == 's' && arg.isText) {
            out += arg.text;
        } else {
            return std::nullopt;
        }
        i = j;
    }
    return out;
}

LONG ModemTransport::SendVoiceCommand(int command, const std::vector<VoiceArg>& args) {
    if (!m_Voice || command < 0 || command > VC_OnHook) {
        linkTrace(3, "> SendVoiceCommand() Ends (Error).");
        return -1;
    }
    const char* key = kVoiceKeys[command];
    const std::string format = readScript("Voice Commands ", key);
    if (format == kMissing) {
        linkTrace(3, "> SendVoiceCommand() Ends (Error).");
        return -1;
    }
    const std::optional<std::string> text = formatVoiceCommand(format, args);
    if (!text) {
        linkTrace(1, "CModemConnection: voice command %s does not fit its arguments: %s", key, format.c_str());
        linkTrace(3, "> SendVoiceCommand() Ends (Error).");
        return -1;
    }
    Step step;
    step.success = readScript("Voice Commands Success", key);
    if (step.success == kMissing) step.success.clear();
    step.error = readScript("Voice Commands Error", key);
    if (step.error == kMissing) step.error.clear();
    const DWORD timeoutMs = scriptTimeoutMs(readScript("Voice Commands TimeOut", key));
    step.echo = true;
    if (timeoutMs > 0) {
        step.hasDeadline = true;
        step.deadline = now() + timeoutMs;
    } else {
        step.success.clear();
    }
    SendCommMessage(40, command);
    step.text = TranslateCommand(*text, step.pauseMs);
    m_FuncWaitRead = MW_VOICEMODE;
    m_answers.clear();
    sendText(step.text);
    step.startMs = now();
    m_step = step;
    linkTrace(3, "> SendVoiceCommand() Ends (OK).");
    return 0;
}

// ---- the answer reader ----

void ModemTransport::readAnswers() {
    if (!IsPortOpen() || LoopBack()) return;
    BYTE buffer[1024];
    const LONG n = WinReadCom(buffer, sizeof buffer);
    if (n < 0) {
        lineDropped();
        return;
    }
    if (n > 0) {
        m_answers.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
        if (m_answers.size() > kAnswerLimit) m_answers.erase(0, m_answers.size() - kAnswerLimit / 2);
    }
    const DWORD t = now();
    if (m_FuncWaitRead == MW_DETECTCON) {
        const std::string wait = readScript("Listen Commands", "WaitCommand");
        LONG at;
        while ((at = CCommon::FindStringNoCase(wait, m_answers)) >= 0) {
            m_answers.erase(0, static_cast<std::size_t>(at) + wait.size());
            ++m_ringsHeard;
            m_Ringing = true;
            linkTrace(3, "CModemConnection ring %u of %u", m_ringsHeard, m_ringsToAnswer);
            post(kMsgRing, 2, 0);
            if (m_ringsHeard >= m_ringsToAnswer) {
                if (!m_line.AutoAnswer) {
                    post(kMsgAskAnswer, 0, 0);
                    return;
                }
                m_ModemConnected = CS_ANSWERING;
                m_outgoing = false;
                m_index = 10;
                ProcessConnectCommand();
                return;
            }
        }
        return;
    }
    // A step awaits its answer, or its pause.
    if (!m_step.success.empty()) {
        std::string seen = m_answers;
        if (m_step.echo && !m_step.text.empty()) {
            // The modem may echo the command: match only behind the echo.
            const LONG echoAt = CCommon::FindStringNoCase(m_step.text, seen);
            if (echoAt >= 0) seen.erase(0, static_cast<std::size_t>(echoAt) + m_step.text.size());
        }
        if (m_phase == 4 && m_FuncWaitRead == MW_CONNECT) {
            if (contains(seen, m_step.busy)) return stepFailed(kStrCallBusy);
            for (const auto& f : kConnectFailures) {
                if (contains(seen, f.text) && !contains(f.text, m_step.success)) return stepFailed(f.reason);
            }
        }
        if (contains(seen, m_step.error)) return stepFailed(kStrCallProblem);
        if (contains(seen, m_step.success)) {
            // Keep what followed the answer's line: the peer's first bytes may
            // come in the same read as CONNECT.
            if (m_FuncWaitRead == MW_CONNECT) {
                const LONG at = CCommon::FindStringNoCase(m_step.success, m_answers);
                const auto lineEnd = m_answers.find('\n', static_cast<std::size_t>(std::max<LONG>(at, 0)));
                m_afterConnect = lineEnd == std::string::npos ? std::string() : m_answers.substr(lineEnd + 1);
            }
            m_step.success.clear();
            m_step.hasDeadline = false;
        } else if (m_step.hasDeadline && static_cast<LONG>(t - m_step.deadline) >= 0) {
            linkTrace(1, "CModemConnection: no answer \"%s\" in time", m_step.success.c_str());
            return stepFailed(m_phase == 4 ? kStrCallNoAnswer : kStrCallProblem);
        } else {
            return;
        }
    }
    if (m_step.pauseMs > 0 && t - m_step.startMs < m_step.pauseMs) return;
    stepFinished();
}

void ModemTransport::stepFinished() {
    const LONG wait = m_FuncWaitRead;
    m_FuncWaitRead = MW_DONTWAIT;
    m_step = Step{};
    switch (wait) {
    case MW_INIT:
        ++m_index;
        ProcessInitCommand();
        break;
    case MW_CONNECT:
        ++m_index;
        ProcessConnectCommand();
        break;
    case MW_DISCONNECT:
        ++m_index;
        ProcessDisconnectCommand();
        break;
    case MW_VOICEMODE:
        m_FuncWaitRead = MW_VOICEMODE;
        break;
    default:
        break;
    }
}

void ModemTransport::stepFailed(WPARAM reason) {
    linkTrace(1, "CModemConnection: step failed in phase %d, reason %u", m_phase, static_cast<unsigned>(reason));
    m_lastCallResult = reason;
    m_FuncWaitRead = MW_DONTWAIT;
    m_step = Step{};
    const bool relisten = m_WasListening && m_phase != 1;
    if (m_phase == 5) {
        // A hang-up that the modem refused: the port closes all the same.
        m_index = 200;
        ProcessDisconnectCommand();
        return;
    }
    WinUnSetupComm();
    m_ModemConnected = CS_NOTCONNECTED;
    m_Target = CS_NOTCONNECTED;
    m_Ringing = false;
    m_outgoing = false;
    post(kMsgLinkFailed, reason, 0);
    if (relisten) SetListenOn(0);
}

void ModemTransport::lineDropped() {
    linkTrace(1, "CModemConnection: the line dropped");
    m_lastCallResult = kStrCallNormal;
    post(kMsgLinkFailed, kStrCallNormal, 0);
    SetNotConnectedEx(m_line.ListenAfterDisconnect ? TRUE : FALSE, TRUE);
}

// ---- link operations ----

LONG ModemTransport::FeedReceivedBytes(const BYTE* data, DWORD length) {
    if (data == nullptr || length == 0) return 0;
    const DWORD room = kReceiveBytes - 1 - m_fill;
    const DWORD n = std::min(room, length);
    std::memcpy(m_receive.data() + m_fill, data, n);
    m_fill += n;
    if (m_ModemConnected == CS_CONNECTED) return link().FilterPollBuff(std::span<BYTE>(m_receive), m_fill);
    return 0;
}

BOOL ModemTransport::CanUseVoice() {
    return (m_DSVD || m_SVD) && ((m_Target >= 1 && m_Target <= 4) || m_ModemConnected == CS_NOTCONNECTED);
}
BOOL ModemTransport::IsUnavailable() { return m_initialising; }
BOOL ModemTransport::IsReadyToSend() { return IsPortOpen(); }
DWORD ModemTransport::GetLastActivity() { return LastWriteMs(); }
DWORD ModemTransport::GetQueueSize(int queue) { return SerialTransport::GetQueueSize(queue); }
LONG ModemTransport::ReadRaw(BYTE* buffer, DWORD length) { return WinReadCom(buffer, length); }
LONG ModemTransport::ReadPort(BYTE* buffer, DWORD length) { return WinReadCom(buffer, length); }

std::string ModemTransport::GetStatusText() {
    int index = 0;
    if (m_Target == CS_CONNECTED) {
        index = m_ModemConnected == CS_CONNECTED ? 7 : 8;
    } else if (m_Target == CS_VOICECALL) {
        index = m_ModemConnected == CS_ANSWERING ? 6 : 8;
    } else if (m_Target == CS_LISTENING) {
        if (m_ModemConnected == CS_LISTENING) index = m_Ringing ? 4 : (m_line.AutoListen ? 10 : 3);
        else index = 1;
    } else if (m_Target == CS_VOICE) {
        index = m_ModemConnected == CS_VOICE ? (m_Ringing ? 4 : 5) : 1;
    } else {
        index = m_ModemConnected != CS_NOTCONNECTED ? 9 : 0;
    }
    SendCommMessage(42, index);
    return CCommon::loadString(kStrStatusBase + static_cast<UINT>(index));
}

LONG ModemTransport::GetStatusCode() {
    if (link().IsConnected()) return 3;
    if (m_Target == CS_CONNECTED) return m_ModemConnected == CS_CONNECTED ? 1 : 2;
    if (m_Target == CS_NOTCONNECTED) return m_ModemConnected == CS_NOTCONNECTED ? 0 : 4;
    if (m_Target == CS_LISTENING) {
        if (m_ModemConnected != CS_LISTENING) return 5;
        if (m_Ringing) return 2;
        return m_line.AutoListen ? 0 : 4;
    }
    return 0;
}

LONG ModemTransport::ConnectToRemote(const char* address, const char* name) {
    if (m_tapi && !m_line.TapiLine.empty()) return m_tapi->ConnectToRemote(address, name);
    return 0;
}

LONG ModemTransport::DialNumber(const char* number) {
    m_lastCallResult = 0;
    if (m_tapi && !m_line.TapiLine.empty()) {
        // The telephony line dials only from the listening state.
        if (m_Target != CS_LISTENING) SetListenOn(0);
        return m_tapi->ConnectToRemote(number, nullptr);
    }
    if (number == nullptr) return 0;
    // Only digits and the dialling characters go into the AT command: a number
    // is typed by a user or read from a stored record.
    std::string digits;
    for (const char* p = number; *p && digits.size() < 64; ++p) {
        if ((*p >= '0' && *p <= '9') || std::strchr("*#,WwPpTt@!$", *p)) digits.push_back(*p);
    }
    if (digits.empty()) return 0;
    m_dialText = digits;
    m_outgoing = true;
    m_lastCallResult = 0;
    if (m_ModemConnected == CS_LISTENING) {
        // A listening modem is idle in command mode: dial straight away.
        m_ModemConnected = CS_LOCAL;
        m_Target = CS_CONNECTING;
        m_phase = 4;
        m_index = 1;
        ProcessConnectCommand();
        return 1;
    }
    m_Target = CS_CONNECTING;
    return InitModem() == 0 ? 1 : 0;
}

DWORD ModemTransport::TouchActivity() {
    m_lastWriteMs = now();
    return LinkTransport::TouchActivity();
}
DWORD ModemTransport::GetConnectRate() { return m_line.Rate; }
std::string ModemTransport::GetConnectInfoText() { return {}; }

LONG ModemTransport::CloseVoice() {
    linkTrace(3, "> CloseVoice() Starts.");
    if ((m_Target == CS_VOICE || m_Target == CS_VOICECALL) && m_ModemConnected != CS_CONNECTED) {
        linkTrace(3, "Because CloseVoice() called, ");
        return SetNotConnectedEx(TRUE, TRUE);
    }
    m_wasSpeakerphone = true;
    return 0;
}

LONG ModemTransport::SendModemText(const char* text) {
    if (m_tapi && !m_line.TapiLine.empty()) return m_tapi->SendModemText(text);
    if (m_ModemConnected == CS_VOICE || m_ModemConnected == CS_ANSWERING) {
        m_Target = CS_VOICECALL;
        m_dialText = text ? text : "";
        return SendVoiceCommand(VC_SetSpeaker, {std::lround(m_curMic), std::lround(m_curSpk)});
    }
    return 0;
}

BOOL ModemTransport::HasStateChanged(LONG* last) {
    const LONG state = (m_Ringing ? 1 : 0) + 2 * (m_WasListening ? 1 : 0) + 4 * m_ModemConnected + 256 * m_Target;
    if (last == nullptr) return FALSE;
    const BOOL changed = state != *last;
    *last = state;
    return changed;
}

LONG ModemTransport::DoMiddleRead() { return 0; }

double ModemTransport::micStep() const {
    const double range = std::fabs(m_maxMic - m_minMic);
    const double steps = m_incMic > 0 ? std::floor(range / m_incMic + 0.5) : 0;
    return steps > 0 ? range / steps : 1;
}
double ModemTransport::speakerStep() const {
    const double range = std::fabs(m_maxSpk - m_minSpk);
    const double steps = m_incSpk > 0 ? std::floor(range / m_incSpk + 0.5) : 0;
    return steps > 0 ? range / steps : 1;
}

// A level counts in steps from the range's first bound; when the second bound
// lies below the first (the speaker's attenuation), the value is mirrored.
LONG ModemTransport::levelOf(double value, double first, double second, double step) const {
    const double v = second < first ? first + second - value : value;
    return static_cast<LONG>(std::floor(v / step + 0.5));
}

LONG ModemTransport::GetDefaultMicLevel() { return levelOf(m_defMic, m_minMic, m_maxMic, micStep()); }
LONG ModemTransport::GetMaxMicLevel() { return levelOf(m_maxMic, m_minMic, m_maxMic, micStep()); }
LONG ModemTransport::GetMinMicLevel() { return levelOf(m_minMic, m_minMic, m_maxMic, micStep()); }
LONG ModemTransport::GetDefaultSpeakerLevel() { return levelOf(m_defSpk, m_maxSpk, m_minSpk, speakerStep()); }
LONG ModemTransport::GetMaxSpeakerLevel() { return levelOf(m_maxSpk, m_maxSpk, m_minSpk, speakerStep()); }
LONG ModemTransport::GetMinSpeakerLevel() { return levelOf(m_minSpk, m_maxSpk, m_minSpk, speakerStep()); }
DWORD ModemTransport::GetBytesPerSecond() { return m_line.Rate / 8; }

LONG ModemTransport::SelectVoiceTarget(LONG selection) {
    if (!m_Voice) return m_voiceSelection;
    m_Target = CS_VOICECALL;
    if (selection != m_voiceSelection) {
        if (selection == 0) {
            m_voiceSelection = 0;
            SendVoiceCommand(VC_SetHandset);
        } else if (selection == 6) {
            m_voiceSelection = 6;
            SendVoiceCommand(VC_SetSpeaker, {std::lround(m_curMic), std::lround(m_curSpk)});
        }
        return m_voiceSelection;
    }
    if ((selection == 0 || selection == 6) && m_ModemConnected != CS_ANSWERING) SendVoiceCommand(VC_OffHook);
    return m_voiceSelection;
}

LONG ModemTransport::GoOnHook() { return GoOnHookFor(m_Target); }

LONG ModemTransport::GoOnHookFor(LONG target) {
    linkTrace(3, "> GoOnHook() Starts.");
    if (m_Voice && target == m_Target) {
        linkTrace(3, "- m_Command.Target = CS_VOICE");
        m_handsetMute = m_speakerMute = false;
        m_Target = CS_VOICE;
        SendCommMessage(44, GetDefaultSpeakerLevel());
        SendCommMessage(45, 0);
        SendVoiceCommand(VC_OnHook);
    } else {
        linkTrace(3, "> Ignore - we're just resetting.");
    }
    m_hangUp = true;
    linkTrace(3, "> GoOnHook() Ends.");
    return 0;
}

LONG ModemTransport::InitVoice() {
    SendCommMessage(40, 0);
    m_Target = CS_VOICE;
    InitModem();
    if (m_Target == CS_NOTCONNECTED) {
        linkTrace(3, "> InitVoice() Ends (Error).");
        return -1;
    }
    linkTrace(3, "> InitVoice() Ends (OK).");
    return 0;
}

BOOL ModemTransport::IsLinkUp() { return m_ModemConnected == CS_CONNECTED; }
BOOL ModemTransport::IsLinkDown() { return m_ModemConnected == CS_NOTCONNECTED; }

static BOOL listeningFor(LONG state, bool wasListening, LONG mode) {
    switch (mode) {
    case 0: return state >= 1 && state <= 4;
    case 1: return state == 1;
    case 2: return state == 2 || ((state == 3 || state == 4) && wasListening);
    case 3: return state == 3;
    case 4: return state == 4;
    default: return FALSE;
    }
}

BOOL ModemTransport::IsListeningFor(LONG mode) { return listeningFor(m_ModemConnected, m_WasListening, mode); }
BOOL ModemTransport::IsTargetListeningFor(LONG mode) { return listeningFor(m_Target, m_WasListening, mode); }
BOOL ModemTransport::HasSpeakerphone() { return m_SpkPhone; }
BOOL ModemTransport::IsTargetConnected() { return m_Target == CS_CONNECTED; }
BOOL ModemTransport::IsTargetNotConnected() { return m_Target == CS_NOTCONNECTED; }
BOOL ModemTransport::IsConnecting() { return m_Target == CS_CONNECTING; }
BOOL ModemTransport::IsTargetReached() { return m_ModemConnected == m_Target; }
BOOL ModemTransport::IsOutgoingCall() { return m_outgoing; }
BOOL ModemTransport::IsRinging() { return m_Ringing; }

LONG ModemTransport::OnAnswer() {
    if (m_tapi && !m_line.TapiLine.empty()) return m_tapi->OnAnswer();
    // A modem that waits for the user's answer picks up now.
    if (m_ModemConnected == CS_LISTENING && m_Ringing) {
        m_ModemConnected = CS_ANSWERING;
        m_outgoing = false;
        m_index = 10;
        return ProcessConnectCommand();
    }
    return 0;
}

LONG ModemTransport::HangUpVoice() { return GoOnHookFor(m_voiceSelection); }

LONG ModemTransport::ToggleHandset() {
    m_handsetMute = !m_handsetMute;
    m_levelsChanged = true;
    return m_handsetMute ? 1 : 0;
}

LONG ModemTransport::ToggleSpeakerMute() {
    m_speakerMute = !m_speakerMute;
    m_levelsChanged = true;
    return m_speakerMute ? 1 : 0;
}

LONG ModemTransport::SetMicLevel(LONG level) {
    const double step = micStep();
    const double v = m_maxMic < m_minMic ? m_minMic + m_maxMic - level * step : level * step;
    m_curMic = std::floor(v + 0.5);
    m_levelsChanged = true;
    return 0;
}

LONG ModemTransport::SetSpeakerLevel(LONG level) {
    const double step = speakerStep();
    const double v = m_minSpk < m_maxSpk ? m_maxSpk + m_minSpk - level * step : level * step;
    m_curSpk = std::floor(v + 0.5);
    m_levelsChanged = true;
    return 0;
}

LONG ModemTransport::SpeakerKey() {
    if (m_ModemConnected == CS_VOICE) {
        m_voiceText.clear();
        return SelectVoiceTarget(6);
    }
    if (m_voiceSelection == 6) return GoOnHookFor(6);
    return SendVoiceCommand(VC_SetSpeaker, {std::lround(m_curMic), std::lround(m_curSpk)});
}

LONG ModemTransport::AppendVoiceChar(char c) {
    if (!m_Voice) return 0;
    if (m_voiceText.size() < 255) m_voiceText.push_back(c);
    return 1;
}

LONG ModemTransport::AppendVoiceText(const char* text) {
    if (!m_Voice || text == nullptr) return 0;
    for (const char* p = text; *p && m_voiceText.size() < 255; ++p) m_voiceText.push_back(*p);
    return 1;
}

LRESULT ModemTransport::SendCommMessage(WPARAM code, LPARAM value) {
    post(kMsgCommMessage, code, value);
    return 0;
}

LONG ModemTransport::SetListenOn(LONG) {
    if (m_tapi && !m_line.TapiLine.empty()) {
        const LONG r = m_tapi->SetListenOn();
        if (r > 0) link().InitializePakconnState();
        return r;
    }
    if (m_ModemConnected == CS_VOICE || m_ModemConnected == CS_ANSWERING || m_ModemConnected == CS_CONNECTED) {
        m_WasListening = true;
        return 1;
    }
    if (m_Target == CS_NOTCONNECTED || m_Target == CS_LISTENING) {
        linkTrace(3, "> SetListenOn() Starts.");
        m_Target = CS_LISTENING;
        linkTrace(3, "- m_Command.Target = CS_LISTENING");
        m_ModemConnected = CS_NOTCONNECTED;
        InitModem();
        linkTrace(3, "> SetListenOn() Ends (OK).");
        return m_Target == CS_LISTENING ? 1 : 0;
    }
    return 0;
}

LONG ModemTransport::SetCommsSettings(CommsSettingsRecord* settings) {
    m_record = settings;
    if (settings) m_line.ListenAfterDisconnect = settings->ListenAfterDisconnect != 0;
    if (m_tapi) m_tapi->SetCommsSettings(m_line);
    return 1;
}

LONG ModemTransport::SetNotConnected() { return SetNotConnectedEx(FALSE, FALSE); }

LONG ModemTransport::SetNotConnectedEx(BOOL keepListening, BOOL quiet) {
    if (m_tapi && !m_line.TapiLine.empty()) return m_tapi->SetNotConnected(keepListening, quiet);
    if (!keepListening) m_WasListening = false;
    m_Target = CS_NOTCONNECTED;
    m_Ringing = false;
    linkTrace(3, "because SetNotConnected() called.\n");
    if (m_ModemConnected == CS_NOTCONNECTED) {
        if (!m_initialising) {
            WinUnSetupComm();
            m_WasListening = false;
            m_FuncWaitRead = MW_DONTWAIT;
        }
        return 0;
    }
    if (m_lineKind == LINE_DUMMY) {
        ClearLoopBack();
        SetLoopBack(false, 0);
        m_ModemConnected = CS_NOTCONNECTED;
        m_FuncWaitRead = MW_DONTWAIT;
        return 0;
    }
    if (m_initialising) return 0;
    if (m_connectedBanner) {
        linkTrace(3, "ModemTransport::LogConnection %s",
                  ("*** Disconnect on: " + CCommon::GetDateTimeStamp(false)).c_str());
        m_connectedBanner = false;
    }
    linkTrace(3, "because SetNotConnected() continued (prob redundant).");
    FlushQueues();
    WinSetDtrRts(false, false);
    m_ModemConnected = CS_NOTCONNECTED;
    m_phase = 5;
    m_index = 1;
    return ProcessDisconnectCommand();
}

LONG ModemTransport::StopListening() {
    if (m_tapi && !m_line.TapiLine.empty()) return m_tapi->StopListening();
    if (m_ModemConnected == CS_VOICE || m_ModemConnected == CS_ANSWERING) {
        m_WasListening = false;
        return 0;
    }
    linkTrace(3, "Because StopListening() called, ");
    return SetNotConnectedEx(FALSE, TRUE);
}

LONG ModemTransport::TimeToRead() {
    HandleCableEvents();
    if (m_tapi) {
        while (m_tapi->Pump()) {
        }
    }
    // The modem's answers are read while a script step waits (or a listening
    // modem waits for its rings); the link's bytes only once the line is up.
    if (m_FuncWaitRead != MW_DONTWAIT && m_FuncWaitRead != MW_DUMMYCONNECT && m_ModemConnected != CS_CONNECTED) {
        readAnswers();
        return 0;
    }
    if (m_FuncWaitRead == MW_DISCONNECT) {
        readAnswers();
        return 0;
    }
    if ((m_ModemConnected == CS_NOTCONNECTED && m_Target == CS_NOTCONNECTED) || m_initialising) return 0;
    if (m_ModemConnected != CS_CONNECTED) return 0;
    LONG result = link().CheckTimeOuts();
    if (result == -2) {
        // The hello exchange failed or never finished: the call is of no use,
        // and a caller that holds it keeps every other station out. The line
        // is hung up here (a listening station listens again).
        m_lastCallResult = kStrCallTimedOut;
        post(kMsgLinkFailed, kStrCallTimedOut, 0);
        SetNotConnectedEx(TRUE, FALSE);
        return -5;
    }
    if (link().IsConnected()) {
        link().ProcessSending();
        link().CheckReceiveCompletion();
    }
    // The carrier going off ends a modem call.
    if (!LoopBack() && m_lineKind == LINE_MODEM && Comm().Port() != nullptr) {
        DWORD status = 0;
        if (Comm().Port()->modemStatus(status) == ERROR_SUCCESS && !(status & platform::MS_RLSD_ON)) {
            lineDropped();
            return -4;
        }
    }
    if (m_fill < kReceiveBytes - 1) {
        const LONG n = WinReadCom(m_receive.data() + m_fill, kReceiveBytes - 1 - m_fill);
        if (n < 0) {
            linkTrace(1, "ModemTransport::TimeToRead() WinReadCom=-1 Failed!!!!\n");
            lineDropped();
            return -4;
        }
        if (n == 0 && m_fill == 0) return result < 0 ? result : 0;
        m_fill += static_cast<DWORD>(n);
    }
    if (m_fill == 0) return result < 0 ? result : 0;
    if (link().FilterPollBuff(std::span<BYTE>(m_receive), m_fill) == -1) {
        linkTrace(1, "ModemTransport::TimeToRead() return -4 because FilterPollBuff returns -1 FileSendStatus = "
                     "SEND_USER_DISCONNECTING or FileRecStatus = REC_USER_DISCONNECTING %s %d",
                  "Modconn", __LINE__);
        return -4;
    }
    return result < 0 ? result : 0;
}

DWORD ModemTransport::GetMaxChunk() { return 512; }

LONG ModemTransport::StartComm_NULLModem(std::unique_ptr<platform::SerialPort> port, DWORD baudRate) {
    const LONG r = WinAttach(std::move(port), true);
    if (r != 0) return r;
    m_line.Rate = baudRate;
    m_lineKind = LINE_SERIAL_CABLE;
    m_ModemConnected = CS_CONNECTED;
    m_Target = CS_CONNECTED;
    m_FuncWaitRead = MW_DONTWAIT;
    m_fill = 0;
    link().ResetLinkState();
    post(kMsgLinkUp, 0, 0);
    return 0;
}

void ModemTransport::OnNullModemLineDropped() {
    linkTrace(1, "CModemConnection: the cable's DSR went off");
    m_lastCallResult = kStrCallNormal;
    WinUnSetupComm();
    m_ModemConnected = CS_NOTCONNECTED;
    m_Target = CS_NOTCONNECTED;
    post(kMsgLinkFailed, kStrCallNormal, 0);
}

void ModemTransport::OnNullModemCallArrived() {
    m_outgoing = false;
    post(kMsgRing, 2, 0);
}

}  // namespace trennick
