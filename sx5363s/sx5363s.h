#pragma once
// sx5363s: the G.723.1 speech codec library that the sound-card library loads
// by name ("sx5363s.dll", libsx5363s.so beside the programs). It codes 30 ms
// of 8 kHz 16-bit mono speech (240 samples, 480 bytes) into one 24-byte
// 6.3 kbit/s frame and decodes 24-byte, 20-byte (5.3 kbit/s) and 4-byte
// (silence description) frames back into 480 bytes of PCM.
//
// A handle holds one encoder and one decoder with their state between frames;
// it is used by one thread at a time. Every call returns 0 on success and a
// non-zero code on failure; nothing throws.

#include "platform/types.h"

using SX5363_HANDLE = void*;

// The constant the callers pass as the mode of encode and decode.
inline constexpr LONG kSx5363Mode = 2;
inline constexpr DWORD kSx5363PcmBytes = 480;    // one frame of speech
inline constexpr DWORD kSx5363FrameBytes = 24;   // one 6.3 kbit/s frame
inline constexpr DWORD kSx5363DecodeBytes = 500; // the room a decode writes into

// Failure codes.
enum : LONG {
    SX5363_OK = 0,
    SX5363_BAD_ARGUMENT = 1,
    SX5363_NO_CODEC = 2,      // the coder could not be set up
    SX5363_CODEC_ERROR = 3,   // the coder refused the data
    SX5363_NOT_SUPPORTED = 4, // 5.3 kbit/s encoding
    SX5363_BAD_FRAME = 5,     // a frame type that carries no speech data
};

// The G.723.1 frame size by the low two bits of its first byte: 24, 20, 4, or
// 0 for the invalid type 3.
constexpr DWORD Sx5363FrameSize(BYTE firstByte) {
    constexpr DWORD kSizes[4] = {24, 20, 4, 0};
    return kSizes[firstByte & 3];
}

#if defined(SX5363S_BUILDING)
#define SX5363S_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define SX5363S_EXPORT extern "C"
#endif

// Opens a codec into *handle (null on failure).
SX5363S_EXPORT LONG SX5363_Open(SX5363_HANDLE* handle);
// Closes the codec and clears *handle; a null handle is ignored.
SX5363S_EXPORT LONG SX5363_Close(SX5363_HANDLE* handle);
// Restart the encoder's and the decoder's state.
SX5363S_EXPORT LONG SX5363_InitEncod(SX5363_HANDLE handle);
SX5363S_EXPORT LONG SX5363_InitDecod(SX5363_HANDLE handle);
// 5.3 kbit/s encoding: not offered (SX5363_NOT_SUPPORTED).
SX5363S_EXPORT LONG SX53_SpeechEncode(SX5363_HANDLE handle, LONG mode, const BYTE* pcm, BYTE* frame,
                                      DWORD* produced);
// Encodes 480 bytes of PCM into one 24-byte frame; *produced is 24.
SX5363S_EXPORT LONG SX63_SpeechEncode(SX5363_HANDLE handle, LONG mode, const BYTE* pcm, BYTE* frame,
                                      DWORD* produced);
// Decodes the frame at `frame` (its size by its first byte; that many bytes
// must be readable) into the first 480 bytes of `pcm` (room for 500); *used is
// the frame's size.
SX5363S_EXPORT LONG SX5363_SpeechDecode(SX5363_HANDLE handle, LONG mode, const BYTE* frame, BYTE* pcm,
                                        DWORD* used);
