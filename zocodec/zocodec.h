#pragma once
// zocodec: the standard H.263 decoder library, bound at run time by the
// library binding convention ("zocodec.dll": DLLGetApiVer gives 1, DLLGetApi
// the interface object). The decoder server feeds it whole pictures.

#include "platform/types.h"

inline constexpr DWORD kZoCodecApiVersion = 1;

// Picture format codes of SetFormat.
inline constexpr int kZoCodecQcif = 2;  // 176 x 144
inline constexpr int kZoCodecCif = 3;   // 352 x 288

// The interface object; slots in this order.
struct IZoCodecApi {
    virtual DWORD Version() = 0;  // slot 0: not used by the server
    // Slot 1: releases the object.
    virtual void Release() = 0;
    // Slot 2: decodes one picture into 24-bit bottom-up pixels of the format
    // last set (rows of width x 3 bytes, padded to 4); not 0 when a picture
    // was decoded into the output.
    virtual SHORT Decode(const BYTE* picture, LONG length, BYTE* pixels) = 0;
    // Slot 3: sets the picture format (kZoCodecQcif or kZoCodecCif).
    virtual LONG SetFormat(LONG code) = 0;

protected:
    ~IZoCodecApi() = default;
};

#if defined(ZOCODEC_BUILDING)
#define ZOCODEC_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define ZOCODEC_EXPORT extern "C"
#endif

ZOCODEC_EXPORT DWORD DLLGetApiVer();
ZOCODEC_EXPORT IZoCodecApi* DLLGetApi();
