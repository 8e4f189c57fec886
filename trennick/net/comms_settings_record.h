#pragma once
// CommsSettingsRecord: the connection settings record. The main frame owns it
// (its Comms settings group) and hands it to the link with SetCommsSettings;
// the transports read their switches from it and write the connect rate back.
// Only the fields the transports use are here. One thread: the main frame's.

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
};
