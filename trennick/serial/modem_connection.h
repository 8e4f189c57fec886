#pragma once
// CModemConnection: the station link over a modem on a COM port, a serial
// cable, or the local dummy modem: a serial link that owns a ModemTransport,
// which runs the modem script or the telephony line. The link hands on what is
// particular to the modem (its line settings, dialling, the call's state).
//
// Threads: the link's owner thread calls everything here.
// Failures: as the transport's operations define them; nothing throws.

#include "trennick/serial/modem_transport.h"
#include "trennick/serial/win_comms.h"

namespace trennick {

class CModemConnection : public CWinComms {
public:
    // `withTapi`: create the telephony line object (it binds the telephony
    // library on first use).
    CModemConnection(const LinkServices& services, bool withTapi);

    ModemTransport& Modem() { return *m_modem; }

    void SetModemLineSettings(const ModemLineSettings& settings) { m_modem->SetModemLineSettings(settings); }
    const ModemLineSettings& LineSettings() const { return m_modem->LineSettings(); }
    LONG DialNumber(const char* number) { return m_modem->DialNumber(number); }
    LONG InitModem() { return m_modem->InitModem(); }
    LONG SendVoiceCommand(int command, const std::vector<VoiceArg>& args = {}) {
        return m_modem->SendVoiceCommand(command, args);
    }
    LONG ModemState() const { return m_modem->ModemState(); }
    LONG Target() const { return m_modem->Target(); }
    LONG FuncWaitRead() const { return m_modem->FuncWaitRead(); }
    int LineKind() const { return m_modem->LineKind(); }
    WPARAM LastCallResult() const { return m_modem->LastCallResult(); }
    CTAPIConnection* Tapi() { return m_modem->Tapi(); }
    std::string ScriptPath() const { return m_modem->ScriptPath(); }

private:
    ModemTransport* m_modem;  // the link's own transport
};

}  // namespace trennick
