#pragma once
// The component object layer: interfaces with reference counts, class ids, class
// factories and the creation of in-process servers found through the registry.
//
// A server is a shared library (.so) that exports DllGetClassObject,
// DllRegisterServer, DllUnregisterServer and DllCanUnloadNow (see com_server.h).
// Registration writes HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 = library path
// (and the ProgIDs) into our registry; CoCreateInstance finds the library there,
// loads it once (it stays loaded) and asks its class factory for the object.
//
// Objects are apartment-threaded: each is used on the thread that created it.
// Nothing here throws; every call returns an HRESULT.

#include "platform/types.h"

#include <cstdint>
#include <string>
#include <string_view>

using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFGUID = const GUID&;
using LCID = DWORD;
using DISPID = LONG;
using OLECHAR = char;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

// Marks the C entry points a server library exports.
#define VELMOOR_COM_EXPORT extern "C" __attribute__((visibility("default")))

// Creation contexts; only in-process servers exist here.
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_ALL = 0x17;

inline constexpr HRESULT CO_E_CLASSSTRING = hresult(0x800401F3);
inline constexpr HRESULT CO_E_DLLNOTFOUND = hresult(0x8004015F);
inline constexpr HRESULT CO_E_ERRORINDLL = hresult(0x800401F9);
inline constexpr HRESULT SELFREG_E_CLASS = hresult(0x80040201);
inline constexpr HRESULT CONNECT_E_NOCONNECTION = hresult(0x80040200);
inline constexpr HRESULT CONNECT_E_ADVISELIMIT = hresult(0x80040201);
inline constexpr HRESULT CONNECT_E_CANNOTCONNECT = hresult(0x80040202);
inline constexpr HRESULT CLASS_E_NOTLICENSED = hresult(0x80040112);
inline constexpr HRESULT RPC_E_CHANGED_MODE = hresult(0x80010106);

inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// The root of every interface. An interface struct names its own id as `iid`
// and, when it extends another interface than IUnknown, that one as `Base`.
struct IUnknown {
    static constexpr IID iid = IID_IUnknown;
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;  // objects go through Release, never delete
};

struct IClassFactory : IUnknown {
    static constexpr IID iid = IID_IClassFactory;
    using Base = IUnknown;
    // outer must be null: aggregation is not supported (CLASS_E_NOAGGREGATION).
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hexadecimal.
std::string guidToString(const GUID& guid);
// Accepts the braced form (braces optional), either case; false on anything else.
bool guidFromString(std::string_view text, GUID& guid);

// Text form of a class id into a caller buffer of at least 39 characters;
// returns the characters written with the NUL, 0 when the buffer is too small.
int StringFromGUID2(REFGUID guid, char* buffer, int size);
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
HRESULT IIDFromString(LPCOLESTR text, IID* iid);

// Per-thread initialisation, counted: each successful CoInitialize needs one
// CoUninitialize. The first call on a thread returns S_OK, further ones S_FALSE.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD model);
void CoUninitialize();
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
inline constexpr DWORD COINIT_MULTITHREADED = 0x0;

// Creates an object of a registered class. CO_E_NOTINITIALIZED before
// CoInitialize on this thread; REGDB_E_CLASSNOTREG when the class has no
// InprocServer32 entry; CO_E_DLLNOTFOUND when the library cannot be loaded;
// CO_E_ERRORINDLL when it lacks DllGetClassObject; CLASS_E_NOAGGREGATION for a
// non-null outer; E_NOINTERFACE when the object lacks the interface.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object);
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* reserved, REFIID riid, void** object);
// HKEY_CLASSES_ROOT\<progId>\CLSID; REGDB_E_CLASSNOTREG when absent,
// CO_E_CLASSSTRING when the stored text is no class id.
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
// Unloads the loaded server libraries whose DllCanUnloadNow says S_OK.
void CoFreeUnusedLibraries();

namespace platform::com {

// The library path registered for a class, empty when the class is not registered.
std::string inprocServerPath(REFCLSID clsid);

// Registers every server library (*.so exporting DllRegisterServer) beside the
// running executable whose classes are not yet registered to that very file.
// Programs call it at start, and test programs before they create servers, so
// a fresh home needs no manual step. Returns the number of libraries registered.
// Each library it looks into stays loaded until the process ends.
int ensureServersRegistered();

// Loads one server library and calls its DllRegisterServer (or
// DllUnregisterServer). The result is the entry point's HRESULT, or
// CO_E_DLLNOTFOUND / CO_E_ERRORINDLL when the library or entry point is missing.
HRESULT registerServerLibrary(const std::string& path);
HRESULT unregisterServerLibrary(const std::string& path);

// True when the file is an ELF shared object exporting DllRegisterServer;
// read from its dynamic symbols without loading it.
bool isServerLibrary(const std::string& path);

}  // namespace platform::com
