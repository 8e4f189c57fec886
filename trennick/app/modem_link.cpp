#include "trennick/app/modem_link.h"

#include "trennick/serial/modem_connection.h"

#include <cstring>
#include <string>

namespace trennick {

namespace {

template <std::size_t N>
void copyField(char (&to)[N], const char* from, std::size_t fromSize) {
    const std::size_t length = strnlen(from, fromSize);
    const std::size_t n = length < N - 1 ? length : N - 1;
    std::memcpy(to, from, n);
    std::memset(to + n, 0, N - n);
}

template <std::size_t N>
std::string fieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

}  // namespace

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
    copyField(record.PhoneBookName, comms.PhoneBookName, sizeof comms.PhoneBookName);
    record.InetStartSpeed = comms.InetStartSpeed;
    copyField(record.ModemFile, comms.ModemFile, sizeof comms.ModemFile);
    copyField(record.PortName, comms.PortName, sizeof comms.PortName);
    copyField(record.Outsidelineprefix, comms.Outsidelineprefix, sizeof comms.Outsidelineprefix);
    record.BaudRate = comms.BaudRate;
    record.ByteSize = comms.ByteSize;
    record.Parity = comms.Parity;
    record.StopBits = comms.StopBits;
    record.RingsCount = comms.RingsCount;
    record.SpeakerOff = comms.SpeakerOff;
    record.UseSVD = comms.UseSVD;
    copyField(record.TapiLine, comms.TapiLine, sizeof comms.TapiLine);
    record.AutoAnswer = comms.AutoAnswer;
    record.AutoListen = comms.AutoListen;
    record.DirectLine = comms.DirectLine;
}

bool ApplyModemSettings(CPacketConnection& link, const CommsSettingsRecord& record) {
    auto* modem = dynamic_cast<CModemConnection*>(&link);
    if (modem == nullptr) return false;
    ModemLineSettings line = modem->LineSettings();
    line.ModemFile = fieldText(record.ModemFile);
    if (record.PortName[0] != '\0') line.PortName = fieldText(record.PortName);
    line.Outsidelineprefix = fieldText(record.Outsidelineprefix);
    line.BaudRate = record.BaudRate;
    line.ByteSize = static_cast<BYTE>(record.ByteSize);
    line.Parity = static_cast<BYTE>(record.Parity);
    line.StopBits = static_cast<BYTE>(record.StopBits);
    line.RingsCount = record.RingsCount;
    line.SpeakerOff = record.SpeakerOff != 0;
    line.UseSVD = record.UseSVD != 0;
    line.TapiLine = fieldText(record.TapiLine);
    line.AutoAnswer = record.AutoAnswer != 0;
    line.AutoListen = record.AutoListen != 0;
    line.DirectLine = record.DirectLine != 0;
    line.ListenAfterDisconnect = record.ListenAfterDisconnect != 0;
    modem->SetModemLineSettings(line);
    return true;
}

}  // namespace trennick
