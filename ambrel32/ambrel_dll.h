#pragma once
// ambrel32: the sound-card audio library. DLLGetAPI gives the one library
// object of the process (counted: each call adds a reference, Release drops
// one); its operations are the slots of IAmbrelDll below, in this order. The
// audio codec server is its client; it binds the library at run time.
//
// Speech is captured as 8 kHz 16-bit mono PCM and coded into 24-byte G.723.1
// frames (30 ms each) by the speech codec library sx5363s, loaded per open
// direction; received frames are decoded and played. Operations answer 1 (or
// the value named) on success and 0 on failure; nothing throws.

#include "platform/types.h"

// What slots 13 and 14 take: the data, its length (the room for slot 13),
// the bytes produced by slot 13, and five words nobody uses.
struct AmbrelFrame {
    BYTE* lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD reserved[5];
};

inline constexpr LONG kAmbrelVersion = 0x10000001;

struct IAmbrelDll {
    virtual ~IAmbrelDll() = default;                       // 0
    virtual LONG GetVersion() = 0;                         // 1
    virtual LONG Release() = 0;                            // 2
    virtual LONG RecordOpen(LONG format) = 0;              // 3
    virtual LONG RecordClose() = 0;                        // 4
    virtual LONG PlaybackOpen() = 0;                       // 5
    virtual LONG PlaybackClose() = 0;                      // 6
    virtual LONG GetRecordIsFull() = 0;                    // 7
    virtual LONG GetPlaybackIsFull() = 0;                  // 8
    virtual LONG PlaybackReset() = 0;                      // 9
    virtual LONG RecordReset() = 0;                        // 10
    virtual LONG RecordStop() = 0;                         // 11
    virtual LONG RecordStart() = 0;                        // 12
    virtual LONG RecordGetFrame(AmbrelFrame* frame) = 0;   // 13
    virtual LONG PlaybackPutFrame(AmbrelFrame* frame) = 0; // 14
    virtual LONG GetRecordSignalLevel(WORD* level) = 0;    // 15
    virtual LONG PutPlaybackVolume(LONG percent) = 0;      // 16
    virtual LONG PutRecordVolume(LONG percent) = 0;        // 17
    virtual LONG GetPlaybackVolume(WORD* percent) = 0;     // 18
    virtual LONG GetRecordVolume(WORD* percent) = 0;       // 19
    virtual LONG PopupConfigDialog() = 0;                  // 20
    virtual LONG PutRecordFormat(LONG format) = 0;         // 21
    virtual LONG PutVAD(LONG value, LONG reserved) = 0;    // 22
    virtual LONG GetVAD() = 0;                             // 23
    virtual LONG PutAEC(LONG value, LONG reserved) = 0;    // 24
    virtual LONG GetAEC() = 0;                             // 25
    virtual LONG DetectHardware() = 0;                     // 26
    virtual LONG Serialize() = 0;                          // 27
    virtual LONG RecordSetDeviceID(LONG id) = 0;           // 28
    virtual LONG PlayBackSetDeviceID(LONG id) = 0;         // 29
    virtual LONG PutMixerInput(LONG input, LONG value) = 0;// 30
    virtual LONG PutMixerInputsBits(LONG bits) = 0;        // 31
    virtual LONG GetMixerInput(LONG input, WORD* value) = 0; // 32
    virtual LONG GetMixerInputsBits(WORD* bits) = 0;       // 33
    virtual LONG PutRemoteSpeaker(LONG value) = 0;         // 34
    virtual LONG GetRemoteSpeaker(WORD* value) = 0;        // 35
    virtual LONG PutAutoGain(LONG value) = 0;              // 36
    virtual LONG GetAutoGain(WORD* value) = 0;             // 37
    virtual LONG RefreshHardwareTree() = 0;                // 38
    virtual LONG PutFilename(const char* name) = 0;        // 39
    virtual LONG Reserved40() = 0;                         // 40
    virtual LONG GetMemory(WORD* value, LONG address) = 0; // 41
    virtual LONG PutMemory(LONG value, LONG address) = 0;  // 42

protected:
    IAmbrelDll() = default;
};

#if defined(AMBREL32_BUILDING)
#define AMBREL32_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define AMBREL32_EXPORT extern "C"
#endif

using AmbrelGetApiFn = IAmbrelDll* (*)();
AMBREL32_EXPORT IAmbrelDll* DLLGetAPI();
