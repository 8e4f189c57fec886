#include "trennick/app/modem_link.h"

#include "trennick/serial/modem_connection.h"

namespace trennick {

std::unique_ptr<CPacketConnection> MakeModemLink(const LinkServices& services) {
    return std::make_unique<CModemConnection>(services, true);
}

bool IsModemLink(CPacketConnection& link) { return dynamic_cast<CModemConnection*>(&link) != nullptr; }

bool ApplyModemSettings(CPacketConnection& link, const CommsRecord& comms) {
    auto* modem = dynamic_cast<CModemConnection*>(&link);
    if (modem == nullptr) return false;
    ModemLineSettings line = modem->LineSettings();
    line.ModemFile = comms.ModemFile;
    if (comms.PortName[0] != '\0') line.PortName = comms.PortName;
    line.Outsidelineprefix = comms.Outsidelineprefix;
    line.BaudRate = comms.BaudRate;
    line.ByteSize = static_cast<BYTE>(comms.ByteSize);
    line.Parity = static_cast<BYTE>(comms.Parity);
    line.StopBits = static_cast<BYTE>(comms.StopBits);
    line.RingsCount = comms.RingsCount;
    line.SpeakerOff = comms.SpeakerOff != 0;
    line.UseSVD = comms.UseSVD != 0;
    modem->SetModemLineSettings(line);
    return true;
}

}  // namespace trennick
