#pragma once
// CommsSettingsRecord: the connection settings record. The main frame owns it
// (its Comms settings group) and hands it to the link with SetCommsSettings;
// the transports read their switches and the modem line from it and write the
// connect rate back. Only the fields the transports use are here. One thread:
// the main frame's.

#include "platform/types.h"

struct CommsSettingsRecord {
    DWORD UseDialUp = 0;               // dial a dial-up entry before a TCP call
    DWORD UseServerIp = 0;             // call the address the dial-up gave instead of the one typed
    DWORD DialUpPrompt = 0;            // dial type: 0 unattended, else the system may prompt
    char PhoneBookName[256] = {};      // the dial-up entry (at most 255 characters)
    DWORD ListenAfterDisconnect = 0;   // listen again once a call ends
    DWORD InetStartSpeed = 0;          // configured line rate (bits per second), 0: none
    DWORD ConnectRate = 0;             // the rate of the current call, written by the link
    char ConnectRateText[32] = {};     // the same as decimal text
    // The modem line (the modem link's ModemLineSettings).
    char ModemFile[260] = {};          // the modem script; a bare name lies in <program folder>/modems
    char PortName[64] = {};            // empty: the modem link's own default port
    char Outsidelineprefix[20] = {};   // the dial prefix
    DWORD BaudRate = 57600;
    DWORD ByteSize = 8;
    DWORD Parity = 0;
    DWORD StopBits = 0;
    DWORD RingsCount = 2;              // rings before the modem answers
    DWORD SpeakerOff = 0;
    DWORD UseSVD = 0;
    char TapiLine[128] = {};           // the telephony line; empty: the script drives the modem
    DWORD AutoAnswer = 1;              // answer when the rings are counted
    DWORD AutoListen = 0;              // listening is automatic
    DWORD DirectLine = 0;              // a direct cable line
};
