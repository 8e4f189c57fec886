#pragma once
// ZoCodecBinding: the decoder server's binding of the standard H.263 decoder
// library zocodec, bound at run time through the platform's library loader.
// It decodes whole pictures (cut out of the stream by CPictureCollector) into
// 24-bit pixels. One thread at a time. Failures: without the library every
// call fails quietly (0); an exception out of the library is caught and traced.

#include "platform/library.h"
#include "platform/types.h"
#include "zocodec/zocodec.h"

class ZoCodecBinding {
public:
    // Binds "zocodec.dll" by the ordinary library search.
    ZoCodecBinding();
    // Binds zocodec.dll in the folder.
    explicit ZoCodecBinding(const char* folder);
    ~ZoCodecBinding();
    ZoCodecBinding(const ZoCodecBinding&) = delete;
    ZoCodecBinding& operator=(const ZoCodecBinding&) = delete;

    // Decodes one whole picture into 24-bit pixels; 0 on failure (also
    // without the library).
    int ExpandBuffer(const BYTE* picture, int length, BYTE* output);
    // 3 for 352 x 288, else 2; 0 without the library.
    int SetFormat(int width, int height);
    bool bound() const { return m_api != nullptr; }

private:
    void bind(const char* file);

    IZoCodecApi* m_api = nullptr;
    HMODULE m_module = nullptr;
};
