#pragma once
// The H.263 client of the video pipeline: CTMNExpand, the client of the H.263 decoder
// component (H263Tmn) that turns the received pieces of a standard H.263
// stream into pictures. (The pieces of one picture are joined again for
// recording by CTMNFrame, trennick/record/tmn_frame.h.)
//
// Threads: the user-interface thread only. Failures: a missing component
// leaves the client without a decoder, and every operation then fails quietly
// (FALSE or 0); a decoder that does not open is reported once until the next
// open or close. Nothing throws.

#include "h263tmn/h263tmn_lib.h"
#include "platform/com/com_ptr.h"
#include "platform/types.h"


class CTMNExpand {
public:
    CTMNExpand();
    ~CTMNExpand();
    CTMNExpand(const CTMNExpand&) = delete;
    CTMNExpand& operator=(const CTMNExpand&) = delete;

    BOOL Open();
    BOOL Close();
    // Starts a new stream in the decoder (the size is the decoder's own business).
    BOOL SetAttribute(int width = 0, int height = 0);
    // Hands the decoder one received piece, then asks for a picture: 1 when
    // one was written into `picture` (a packed 24-bit bitmap of at most
    // `pictureBytes`), 0 otherwise.
    SHORT ExpandBuffer(const BYTE* data, DWORD length, BYTE* picture, DWORD pictureBytes);

    bool HasDecoder() const { return static_cast<bool>(m_pIDecoder); }
    bool IsOpen() const { return m_open; }

private:
    void createDecoder();

    platform::com::ComPtr<IH263Tmn> m_pIDecoder;
    bool m_open = false;
    bool m_openFailureReported = false;
};
