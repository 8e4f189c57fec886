#pragma once
// The network stream server component (in-process COM class ZOTCPServer,
// interface IZoNet): serves a stream of records to viewers on TCP and takes
// records from them. Shared by the server and its clients.
//
// Use: Open; FifoInit(queue bytes); SetMaxBitRate(bits per second);
// Connect(0, "[host:]port") starts serving; while GetState says 3 (a viewer
// is connected) each Write queues one record for every viewer, sent within
// the bit-rate limit; Read takes whole records that viewers sent.
//
// On the wire each record is an 8-byte header (ZoNetRecordHeader: "ZNET" and
// the payload length, little-endian) and its payload; a viewer that sends
// anything else is dropped.

#include "platform/com/oleauto.h"
#include "platform/types.h"

// {C4E7A2D1-5B93-4F08-A6D2-3E1B9C7F5A40}
inline constexpr CLSID CLSID_ZOTCPServer = {0xC4E7A2D1, 0x5B93, 0x4F08, {0xA6, 0xD2, 0x3E, 0x1B, 0x9C, 0x7F, 0x5A, 0x40}};
// {8B2F6E93-1A4C-4D75-B0E8-7C3D5A9F2E16}
inline constexpr IID IID_IZoNet = {0x8B2F6E93, 0x1A4C, 0x4D75, {0xB0, 0xE8, 0x7C, 0x3D, 0x5A, 0x9F, 0x2E, 0x16}};

// GetState values.
enum ZoNetState : LONG {
    ZONET_STATE_CLOSED = 0,     // not opened
    ZONET_STATE_OPEN = 1,       // opened, not serving
    ZONET_STATE_LISTENING = 2,  // serving, no viewer
    ZONET_STATE_CONNECTED = 3,  // at least one viewer
};

// Failures, besides E_POINTER and E_INVALIDARG.
inline constexpr HRESULT ZONET_E_NOT_OPEN = hresult(0x80040301);       // Open first
inline constexpr HRESULT ZONET_E_STATE = hresult(0x80040302);          // already serving
inline constexpr HRESULT ZONET_E_ADDRESS = hresult(0x80040303);        // not "[host:]port"
inline constexpr HRESULT ZONET_E_LISTEN = hresult(0x80040304);         // the port cannot be taken
inline constexpr HRESULT ZONET_E_NO_FIFO = hresult(0x80040305);        // FifoInit first
inline constexpr HRESULT ZONET_E_FIFO_FULL = hresult(0x80040306);      // the record does not fit the queue
inline constexpr HRESULT ZONET_E_NOT_CONNECTED = hresult(0x80040307);  // no viewer takes it
inline constexpr HRESULT ZONET_E_ROOM = hresult(0x80040308);           // the next record passes the capacity

// Bounds: the largest record either way, the queue, and the viewers served.
inline constexpr DWORD kZoNetMaxRecordBytes = 1u << 20;
inline constexpr DWORD kZoNetMaxFifoBytes = 64u << 20;
inline constexpr int kZoNetMaxClients = 16;

#pragma pack(push, 1)
struct ZoNetRecordHeader {
    char magic[4];  // "ZNET"
    DWORD length;   // payload bytes that follow, at most kZoNetMaxRecordBytes
};
#pragma pack(pop)
static_assert(sizeof(ZoNetRecordHeader) == 8);

struct IZoNet : IDispatch {
    static constexpr IID iid = IID_IZoNet;
    using Base = IDispatch;
    virtual HRESULT Open(LONG reserved) = 0;
    virtual HRESULT Close() = 0;
    // Serves at "[host:]port" (host: a dotted address; none: every address;
    // port 0: any free one, see GetLocalPort).
    virtual HRESULT Connect(LONG reserved, BSTR address) = 0;
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT GetLocalPort(LONG* port) = 0;
    virtual HRESULT GetFifoUsed(LONG* bytes) = 0;
    // Whole records received from viewers, concatenated, as many as fit. On
    // ZONET_E_ROOM *length is the size of the next record: the room to read
    // it with (it stays first until read).
    virtual HRESULT Read(BYTE* buffer, LONG capacity, LONG* length) = 0;
    // Queues one record for the viewers; *queued the bytes waiting afterwards.
    virtual HRESULT Write(BYTE* data, LONG length, LONG* queued) = 0;
    virtual HRESULT GetState(LONG* state) = 0;
    virtual HRESULT FifoInit(LONG size) = 0;
    virtual HRESULT GetMaxBitRate(LONG* rate) = 0;
    virtual HRESULT FifoFree() = 0;
    virtual HRESULT CleanBuf(LONG reserved) = 0;
    virtual HRESULT SetMaxBitRate(LONG rate) = 0;
    virtual HRESULT GetClientCount(LONG* count) = 0;

protected:
    ~IZoNet() = default;
};
