#pragma once
// The PTZ engine's class and interface as its clients compile against them:
// coclass zo_Tiltwork, dual interface Izo_Tiltwork (dispatch ids 1-56 in slot
// order). The main program's PTZ client uses only the protocol enumeration and
// the serial parameters of a protocol; the rest is declared so that the slots
// line up with the engine's.

#include "platform/com/oleauto.h"
#include "platform/types.h"

// {5B7D2C61-9E04-4F3A-8C1D-27A0E6F4B901}
inline constexpr CLSID CLSID_zo_Tiltwork = {0x5B7D2C61, 0x9E04, 0x4F3A, {0x8C, 0x1D, 0x27, 0xA0, 0xE6, 0xF4, 0xB9, 0x01}};
// {5B7D2C62-9E04-4F3A-8C1D-27A0E6F4B901}
inline constexpr IID IID_Izo_Tiltwork = {0x5B7D2C62, 0x9E04, 0x4F3A, {0x8C, 0x1D, 0x27, 0xA0, 0xE6, 0xF4, 0xB9, 0x01}};

struct Izo_Tiltwork : IDispatch {
    static constexpr IID iid = IID_Izo_Tiltwork;
    using Base = IDispatch;
    virtual HRESULT GetFirstEnumPtz(BSTR* pszPtzName) = 0;                        // 1
    virtual HRESULT GetNextEnumPtz(BSTR* pszPtzName) = 0;                         // 2
    virtual HRESULT SetActivePtz(BSTR* pszPtzName) = 0;                           // 3
    virtual HRESULT GetActivePtz(BSTR* pszPtzName) = 0;                           // 4
    virtual HRESULT SetCamera(SHORT nCamIdx) = 0;                                 // 5
    virtual HRESULT GetCamera(SHORT* nCamIdx) = 0;                                // 6
    virtual HRESULT GetEngLastError(LONG* nLastError) = 0;                        // 7
    virtual HRESULT GetLastErrDescript(LONG nErrID, BSTR* pszError) = 0;          // 8
    virtual HRESULT GetBufferMaxSize(SHORT* pnBufMaxSize) = 0;                    // 9
    virtual HRESULT SendPtzCmd(SHORT nCmdID, SHORT nCamID, SHORT nParam1, SHORT nParam2) = 0;  // 10
    virtual HRESULT GetMaxPresetIdx(SHORT* pnMaxPresetIdx) = 0;                   // 11
    virtual HRESULT GetMaxTourIdx(SHORT* pnMaxTourIdx) = 0;                       // 12
    virtual HRESULT SetZoomIn(LONG nActive, SHORT nSpeed) = 0;                    // 13
    virtual HRESULT SetZoomOut(LONG nActive, SHORT nSpeed) = 0;                   // 14
    virtual HRESULT SetAutoFocus(LONG nActive) = 0;                               // 15
    virtual HRESULT SetFocusNear(LONG nActive, SHORT nSpeed) = 0;                 // 16
    virtual HRESULT SetFocusFar(LONG nActive, SHORT nSpeed) = 0;                  // 17
    virtual HRESULT SetAutoIris(LONG nActive) = 0;                                // 18
    virtual HRESULT SetIrisOpen(LONG nActive, SHORT nSpeed) = 0;                  // 19
    virtual HRESULT SetIrisClose(LONG nActive, SHORT nSpeed) = 0;                 // 20
    virtual HRESULT SetAux(LONG nActive) = 0;                                     // 21
    virtual HRESULT SetWash(LONG nActive, SHORT nSpeed) = 0;                      // 22
    virtual HRESULT SetWipe(LONG nActive, SHORT nSpeed) = 0;                      // 23
    virtual HRESULT SetLamps(LONG nActive) = 0;                                   // 24
    virtual HRESULT SetPwrReset() = 0;                                            // 25
    virtual HRESULT ClearAll() = 0;                                               // 26
    virtual HRESULT SetVirtSpeedRange(SHORT nMin, SHORT nMax) = 0;                // 27
    virtual HRESULT MoveLeft(LONG nActive, SHORT nSpeed) = 0;                     // 28
    virtual HRESULT MoveRight(LONG nActive, SHORT nSpeed) = 0;                    // 29
    virtual HRESULT MoveUp(LONG nActive, SHORT nSpeed) = 0;                       // 30
    virtual HRESULT MoveDown(LONG nActive, SHORT nSpeed) = 0;                     // 31
    virtual HRESULT SetGlobalMode(LONG nActive) = 0;                              // 32
    virtual HRESULT ProgramPreset(SHORT nPresetID) = 0;                           // 33
    virtual HRESULT MoveToPreset(SHORT nPresetID) = 0;                            // 34
    virtual HRESULT DeletePreset(SHORT nPresetID) = 0;                            // 35
    virtual HRESULT SetPatrol(SHORT nPresetID, SHORT nSpeed) = 0;                 // 36
    virtual HRESULT ProgramBookmark(SHORT nBMarkID) = 0;                          // 37
    virtual HRESULT MoveToBookmark(SHORT nBMarkID, SHORT nSpeed) = 0;             // 38
    virtual HRESULT ProgramTour(LONG nActive, SHORT nTourID) = 0;                 // 39
    virtual HRESULT AddPresetToTour(SHORT nTourID, SHORT nPresetID, SHORT nDwellSec, SHORT nSpeed) = 0;  // 40
    virtual HRESULT DeleteTour(SHORT nTourID) = 0;                                // 41
    virtual HRESULT MoveCamPan180(SHORT nSpeed) = 0;                              // 42
    virtual HRESULT GetLastPtzCmd(BSTR* pszCmd) = 0;                              // 43
    virtual HRESULT InitPtz() = 0;                                                // 44
    virtual HRESULT GetPtzParam_Baudrate(BSTR* pszProtocol, LONG* value) = 0;     // 45
    virtual HRESULT GetPtzParam_DataBits(BSTR* pszProtocol, LONG* value) = 0;     // 46
    virtual HRESULT GetPtzParam_ParityBit(BSTR* pszProtocol, LONG* value) = 0;    // 47
    virtual HRESULT GetPtzParam_StopBits(BSTR* pszProtocol, LONG* value) = 0;     // 48
    virtual HRESULT GetPtzParam_SerialType(BSTR* pszProtocol, LONG* value) = 0;   // 49
    virtual HRESULT GetPtzParam_DuplexMode(BSTR* pszProtocol, LONG* value) = 0;   // 50
    virtual HRESULT IsVirtActivePtz(SHORT* pnResult) = 0;                         // 51
    virtual HRESULT IsTiltworkError(LONG nErrID, SHORT* pnResult) = 0;            // 52
    virtual HRESULT ActivateTour(LONG nActive, SHORT nTourID) = 0;                // 53
    virtual HRESULT SetInit() = 0;                                                // 54
    virtual HRESULT SetTerm() = 0;                                                // 55
    virtual HRESULT LinkReceiverInstanceID(BSTR sReceiverID) = 0;                 // 56

protected:
    ~Izo_Tiltwork() = default;
};
