#pragma once
// The serial-port server's interface, as its clients compile against it: the
// class and interface ids, the configuration block, and IZoSerial.
//
// The configuration block is the caller's; the server reads and writes only
// the fields named here (the bytes between are the clients' concern).

#include "platform/com/oleauto.h"
#include "platform/types.h"

#include <cstddef>

inline constexpr CLSID CLSID_ZoSerial = {0x3E0F5A21, 0x7C44, 0x4B1D, {0xA8, 0x52, 0x19, 0x6D, 0x40, 0xE3, 0x71, 0x0C}};
inline constexpr IID IID_IZoSerial = {0x3E0F5A22, 0x7C44, 0x4B1D, {0xA8, 0x52, 0x19, 0x6D, 0x40, 0xE3, 0x71, 0x0C}};
inline constexpr IID DIID__IZoSerialEvents = {0x3E0F5A23, 0x7C44, 0x4B1D,
                                              {0xA8, 0x52, 0x19, 0x6D, 0x40, 0xE3, 0x71, 0x0C}};
inline constexpr const char* kZoSerialProgId = "PELMO.ZoSerial.1";
inline constexpr const char* kZoSerialViProgId = "PELMO.ZoSerial";

// The failure result of every method.
inline constexpr HRESULT ZOSERIAL_E_FAIL = hresult(0x80040001);

// FIFO numbers.
inline constexpr ULONG kZoSerialReadFifo = 0;
inline constexpr ULONG kZoSerialWriteFifo = 1;

#pragma pack(push, 1)
struct ZoSerialConfig {
    DWORD portHandle;     // written by GetConfig: the open port's handle (0xFFFFFFFF when closed)
    BYTE reserved[4100];  // the clients' own fields
    BYTE port;            // 1 = COM1
    BYTE dataBits;
    BYTE parity;          // parity letter ('N', 'E', 'O', 'M', 'S'); the line always opens with 'N'
    BYTE stopBits;
    DWORD baudRate;
};
#pragma pack(pop)
static_assert(sizeof(ZoSerialConfig) == 4112);
static_assert(offsetof(ZoSerialConfig, port) == 4104);
static_assert(offsetof(ZoSerialConfig, baudRate) == 4108);

// Dispatch ids 1-16 follow the slot order.
struct IZoSerial : IDispatch {
    static constexpr IID iid = IID_IZoSerial;
    using Base = IDispatch;
    virtual HRESULT SetConfig(LONG* lpTTYInfo) = 0;
    virtual HRESULT GetConfig(LONG* lpTTYInfo) = 0;
    virtual HRESULT Connect() = 0;
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT SendData(BYTE* lpData, ULONG dwSendSize, ULONG* pdwActSend) = 0;
    virtual HRESULT ReadData(BYTE* lpData, ULONG dwSize, ULONG* pdwActRead) = 0;
    virtual HRESULT GetFIFOSize(ULONG dwFifoType, ULONG* pdwSize) = 0;
    virtual HRESULT GetFIFOSizeLeft(ULONG dwFifoType, ULONG* pdwSize) = 0;
    virtual HRESULT GetMaxFIFOSize(ULONG dwFifoType, ULONG* pdwSize) = 0;
    virtual HRESULT IsOverflow(ULONG dwFifoType, LONG* pbIsOvf) = 0;
    virtual HRESULT Clean(ULONG dwFifoType) = 0;
    virtual HRESULT GetLatestError(ULONG* pdwError) = 0;
    virtual HRESULT IsConnected(LONG* pbConnected) = 0;
    virtual HRESULT StopReading() = 0;
    virtual HRESULT ContinueReading() = 0;
    virtual HRESULT IsDSROn(LONG* pbDsrOn) = 0;

protected:
    ~IZoSerial() = default;
};
