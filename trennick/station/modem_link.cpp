#include "trennick/station/modem_link.h"

#include "common/fixed_text.h"
#include "trennick/serial/modem_connection.h"

#include <cstring>
#include <string>

namespace trennick {

std::unique_ptr<CPacketConnection> MakeModemLink(const LinkServices& services) {
    return std::make_unique<CModemConnection>(services, true);
}

CTAPIConnection* ModemTapi(CPacketConnection& link) {
    auto* modem = dynamic_cast<CModemConnection*>(&link);
    return modem != nullptr ? modem->Tapi() : nullptr;
}

bool IsModemLink(CPacketConnection& link) { return dynamic_cast<CModemConnection*>(&link) != nullptr; }

bool SetModemReadQueueLimit(CPacketConnection& link, DWORD bytes) {
    auto* serial = dynamic_cast<CWinComms*>(&link);
    if (serial == nullptr) return false;
    serial->SetMaxReadQueueBytes(bytes);
    return true;
}

void FillLinkComms(const CommsRecord& comms, CommsSettingsRecord& record) {
    record.UseDialUp = comms.UseDialUp;
    record.UseServerIp = comms.UseServerIp;
    fixed_text::Write(record.PhoneBookName, fixed_text::Read(comms.PhoneBookName));
    record.InetStartSpeed = comms.InetStartSpeed;
    fixed_text::Write(record.ModemFile, fixed_text::Read(comms.ModemFile));
    fixed_text::Write(record.PortName, fixed_text::Read(comms.PortName));
    fixed_text::Write(record.Outsidelineprefix, fixed_text::Read(comms.Outsidelineprefix));
    record.BaudRate = comms.BaudRate;
    record.ByteSize = comms.ByteSize;
    record.Parity = comms.Parity;
    record.StopBits = comms.StopBits;
    record.RingsCount = comms.RingsCount;
    record.SpeakerOff = comms.SpeakerOff;
    record.UseSVD = comms.UseSVD;
    fixed_text::Write(record.TapiLine, fixed_text::Read(comms.TapiLine));
    record.AutoAnswer = comms.AutoAnswer;
    record.AutoListen = comms.AutoListen;
    record.DirectLine = comms.DirectLine;
}

bool ApplyModemSettings(CPacketConnection& link, const CommsSettingsRecord& record) {
    auto* modem = dynamic_cast<CModemConnection*>(&link);
    if (modem == nullptr) return false;
    ModemLineSettings line = modem->LineSettings();
    line.ModemFile = fixed_text::Read(record.ModemFile);
    if (record.PortName[0] != '\0') line.PortName = fixed_text::Read(record.PortName);
    line.Outsidelineprefix = fixed_text::Read(record.Outsidelineprefix);
    line.BaudRate = record.BaudRate;
    line.ByteSize = static_cast<BYTE>(record.ByteSize);
    line.Parity = static_cast<BYTE>(record.Parity);
    line.StopBits = static_cast<BYTE>(record.StopBits);
    line.RingsCount = record.RingsCount;
    line.SpeakerOff = record.SpeakerOff != 0;
    line.UseSVD = record.UseSVD != 0;
    line.TapiLine = fixed_text::Read(record.TapiLine);
    line.AutoAnswer = record.AutoAnswer != 0;
    line.AutoListen = record.AutoListen != 0;
    line.DirectLine = record.DirectLine != 0;
    line.ListenAfterDisconnect = record.ListenAfterDisconnect != 0;
    modem->SetModemLineSettings(line);
    return true;
}

}  // namespace trennick
