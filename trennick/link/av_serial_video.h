#pragma once
// The serial video output of received video: frame pieces are collected into
// whole H.263 pictures and each finished picture goes to the serial port.
//
// Threads: one thread at a time (the link's reader, under its bucket lock).
// Failure: a piece that does not fit the picture buffer drops the pending
// picture and the piece; a port that refuses a picture is traced by the port.

#include "platform/types.h"
#include "trennick/link/av_ports.h"

#include <functional>
#include <vector>

namespace trennick {

inline constexpr DWORD kH263PictureBufferBytes = 65536;

// True when the piece begins with a picture start code (00 00 80..83).
bool startsH263Picture(const BYTE* piece, DWORD length);

// AssembleH263Picture: a 65,536-byte buffer and its fill count.
class H263PictureAssembler {
public:
    H263PictureAssembler();
    // Adds one piece; calls `complete` with the picture the piece finishes.
    void add(const BYTE* piece, DWORD length, const std::function<void(const BYTE*, DWORD)>& complete);
    DWORD fill() const { return m_fill; }
    void reset() { m_fill = 0; }

private:
    std::vector<BYTE> m_buffer;
    DWORD m_fill = 0;
};

// AddSerialVideoFrame: active while a serial port is set and the peer speaks
// protocol version 2.
class SerialVideoOutput {
public:
    explicit SerialVideoOutput(AvLink& link) : m_link(link) {}
    // The process's serial-port client; null: no serial output.
    void setPort(SerialVideoPort* port) { m_port = port; }
    SerialVideoPort* port() const { return m_port; }

    void AddSerialVideoFrame(const BYTE* frame, DWORD length, bool formatChanged, bool cameraChanged);

private:
    AvLink& m_link;
    SerialVideoPort* m_port = nullptr;
    CCommon m_common;  // key-frame test
    H263PictureAssembler m_assembler;
};

}  // namespace trennick
