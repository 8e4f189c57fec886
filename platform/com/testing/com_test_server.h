#pragma once
// The interfaces of the small server library that the layer's tests create.

#include "platform/com/connection_point.h"
#include "platform/com/oleauto.h"

inline constexpr CLSID CLSID_VlmTestThing = {0x6C2B8E11, 0x40A7, 0x4D2E, {0x9F, 0x31, 0x5A, 0x10, 0x77, 0xC4, 0x02, 0x11}};
inline constexpr IID IID_IVlmTestThing = {0x6C2B8E12, 0x40A7, 0x4D2E, {0x9F, 0x31, 0x5A, 0x10, 0x77, 0xC4, 0x02, 0x11}};
inline constexpr IID DIID_IVlmTestThingEvents = {0x6C2B8E13, 0x40A7, 0x4D2E, {0x9F, 0x31, 0x5A, 0x10, 0x77, 0xC4, 0x02, 0x11}};
// A class id the server lists nowhere.
inline constexpr CLSID CLSID_VlmNeverRegistered = {0x6C2B8E1F, 0x40A7, 0x4D2E, {0x9F, 0x31, 0x5A, 0x10, 0x77, 0xC4, 0x02, 0x11}};

inline constexpr const char* kVlmTestThingProgId = "VelmoorTest.Thing.1";
inline constexpr const char* kVlmTestThingViProgId = "VelmoorTest.Thing";

// Dispatch ids of IVlmTestThing.
enum : DISPID { DISPID_Add = 1, DISPID_Echo = 2, DISPID_Fail = 3, DISPID_FireTick = 4, DISPID_LiveObjects = 5,
                DISPID_Address = 6 };
// Dispatch id of the one event: Tick(long value, BSTR text).
inline constexpr DISPID DISPID_Tick = 1;

// A caller-owned record, passed by its address.
struct VlmRecord {
    LONG value;
};

struct IVlmTestThing : IDispatch {
    static constexpr IID iid = IID_IVlmTestThing;
    using Base = IDispatch;
    virtual HRESULT Add(LONG a, LONG b, LONG* sum) = 0;
    virtual HRESULT Echo(BSTR text, BSTR* copy) = 0;
    // Fails with E_FAIL and leaves an error object "the thing refused".
    virtual HRESULT Fail() = 0;
    // Fires Tick(value, "tick <value>") to every sink.
    virtual HRESULT FireTick(LONG value) = 0;
    // The number of objects of this library alive now.
    virtual HRESULT LiveObjects(LONG* count) = 0;
    // Writes value into the caller's record whose address is given as a number.
    virtual HRESULT Address(VlmRecord* target, LONG value) = 0;

protected:
    ~IVlmTestThing() = default;
};
