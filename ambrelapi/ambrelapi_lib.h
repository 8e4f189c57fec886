#pragma once
// AmbrelapiLib: the audio codec server's class, interface and enumerations,
// shared by the server and its clients (the main program's audio client, the
// setup wizard).

#include "platform/com/oleauto.h"
#include "platform/types.h"

// {C940654B-B220-42E3-80D0-618CF3642FDA}
inline constexpr CLSID CLSID_Ambrel = {0xC940654B, 0xB220, 0x42E3, {0x80, 0xD0, 0x61, 0x8C, 0xF3, 0x64, 0x2F, 0xDA}};
// {FEB7EA90-0982-4705-B6CE-4059316750F4}
inline constexpr IID IID_IAmbrel = {0xFEB7EA90, 0x0982, 0x4705, {0xB6, 0xCE, 0x40, 0x59, 0x31, 0x67, 0x50, 0xF4}};
// {0D7E04DF-4A42-4C12-8D5B-FC25A016EF7C}
inline constexpr GUID LIBID_AmbrelapiLib = {0x0D7E04DF, 0x4A42, 0x4C12,
                                            {0x8D, 0x5B, 0xFC, 0x25, 0xA0, 0x16, 0xEF, 0x7C}};

enum AB_VAD_FORMAT : LONG { AB_VAD_OFF = 0, AB_VAD_ON = 1 };
enum AB_AEC_FORMAT : LONG {
    AB_AEC_OFF = 0,
    AB_AEC_ON_SPAN20 = 1,
    AB_AEC_ON_SPAN40 = 2,
    AB_AEC_ON_SPAN60 = 3,
    AB_AEC_ON_SPAN80 = 4,
    AB_AEC_ON_SPAN100 = 5,
    AB_AEC_ON_SPAN150 = 6,
};
enum AB_AUDIO_FORMAT : LONG { AB_FORMAT_64KPBS = 0, AB_FORMAT_53KBPS = 1 };
enum AB_INPUTS : LONG {
    AB_INPUT1 = 0,
    AB_INPUT2 = 1,
    AB_INPUT3 = 2,
    AB_INPUT4 = 3,
    AB_INPUT5 = 4,
    AB_INPUT6 = 5,
    AB_MAX_INPUTS = 6,
};
enum AB_SPEAKER : LONG { AB_REMOTE_SPEAKER_OFF = 0, AB_REMOTE_SPEAKER_ON = 1 };
enum AB_AUTOGAIN : LONG {
    AB_AUTOGAIN_NONE = 0,
    AB_AUTOGAIN_ABOVE1 = 1,
    AB_AUTOGAIN_ABOVE2 = 2,
    AB_AUTOGAIN_ABOVE3 = 3,
    AB_AUTOGAIN_ABOVE4 = 4,
    AB_AUTOGAIN_ABOVE5 = 5,
    AB_AUTOGAIN_ABOVE6 = 6,
};

// The sound-card codec and mixer (class Ambrel.Ambrel). Dual interface;
// members in slot order after IDispatch's. Each returns S_OK, or S_FALSE
// without touching its out-parameters when the sound-card library could not
// be loaded; what an operation achieved comes back in its out-parameter.
// Enumerated values travel as LONG.
struct IAmbrel : IDispatch {
    static constexpr IID iid = IID_IAmbrel;
    using Base = IDispatch;
    virtual HRESULT get_Version(LONG* pVal) = 0;
    virtual HRESULT get_VAD(LONG* pVal) = 0;
    virtual HRESULT put_VAD(LONG newVal) = 0;
    virtual HRESULT get_AEC(LONG* pVal) = 0;
    virtual HRESULT put_AEC(LONG newVal) = 0;
    virtual HRESULT get_RecordFormat(LONG* pVal) = 0;
    virtual HRESULT put_RecordFormat(LONG newVal) = 0;
    virtual HRESULT get_RecordVolume(LONG* pVal) = 0;
    virtual HRESULT put_RecordVolume(LONG newVal) = 0;
    virtual HRESULT get_PlaybackVolume(LONG* pVal) = 0;
    virtual HRESULT put_PlaybackVolume(LONG newVal) = 0;
    virtual HRESULT get_RecordSignalLevel(LONG* pVal) = 0;
    virtual HRESULT RecordOpen(LONG fmt, LONG* fSuccess) = 0;
    virtual HRESULT RecordClose(LONG* fSuccess) = 0;
    virtual HRESULT RecordStop(LONG* fSuccess) = 0;
    virtual HRESULT RecordStart(LONG* fSuccess) = 0;
    virtual HRESULT RecordReset(LONG* fSuccess) = 0;
    virtual HRESULT get_RecordIsFull(LONG* pVal) = 0;
    // Fills up to dwBufferLength bytes at *lpData with one coded frame.
    virtual HRESULT RecordGetFrame(BSTR* lpData, LONG dwBufferLength, LONG* dwBytesRecorded, LONG* fSuccess) = 0;
    virtual HRESULT PlaybackOpen(LONG* fSuccess) = 0;
    virtual HRESULT PlaybackClose(LONG* fSuccess) = 0;
    virtual HRESULT PlaybackReset(LONG* fSuccess) = 0;
    virtual HRESULT PlaybackPutFrame(BYTE* lpData, LONG dwBufferLength, LONG* fSuccess) = 0;
    virtual HRESULT get_PlaybackIsFull(LONG* pVal) = 0;
    virtual HRESULT PopupConfigDialog() = 0;
    virtual HRESULT Serialize() = 0;
    virtual HRESULT DetectHardware(LONG* fDetected) = 0;
    virtual HRESULT get_MixerInputsBits(LONG* pVal) = 0;
    virtual HRESULT put_MixerInputsBits(LONG newVal) = 0;
    virtual HRESULT get_MixerInput(LONG iChannel, LONG* pVal) = 0;
    virtual HRESULT put_MixerInput(LONG iChannel, LONG newVal) = 0;
    virtual HRESULT get_RemoteSpeaker(LONG* pVal) = 0;
    virtual HRESULT put_RemoteSpeaker(LONG newVal) = 0;
    virtual HRESULT get_AutoGain(LONG* pVal) = 0;
    virtual HRESULT put_AutoGain(LONG newVal) = 0;
    virtual HRESULT get_Memory(SHORT Address, SHORT* pVal) = 0;
    virtual HRESULT put_Memory(SHORT Address, SHORT newVal) = 0;
    virtual HRESULT RefreshHardwareTree(LONG* fSuccess) = 0;
    virtual HRESULT put_Filename(BSTR newVal) = 0;
    virtual HRESULT RecordSetDeviceID(LONG lDevID) = 0;
    virtual HRESULT PlayBackSetDeviceID(LONG lDevID) = 0;

protected:
    ~IAmbrel() = default;
};
