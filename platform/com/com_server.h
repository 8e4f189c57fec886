#pragma once
// How a server library is written. List its classes once and expand the entry
// points with the macro, in exactly one source file of the library:
//
//   const platform::com::ServerClass kClasses[] = {
//       platform::com::serverClass<CMyThing>(CLSID_MyThing, "Lib.MyThing.1", "Lib.MyThing",
//                                            "MyThing Class"),
//   };
//   VELMOOR_COM_SERVER(kClasses)
//
// The macro exports DllGetClassObject, DllCanUnloadNow, DllRegisterServer,
// DllUnregisterServer and VelmoorComClasses (the class list, so a program can
// tell whether the library is registered without asking it to register). No
// exception leaves them (platform/com/guarded.h); the server's own interface
// methods guard themselves the same way.
// Registration writes under HKEY_CLASSES_ROOT:
//   CLSID\{clsid}                      (default) = description
//   CLSID\{clsid}\InprocServer32       (default) = library path, ThreadingModel = "Apartment"
//   CLSID\{clsid}\ProgID               (default) = progId
//   CLSID\{clsid}\VersionIndependentProgID (default) = version-independent progId
//   <progId>\CLSID and <vi progId>\CLSID (default) = {clsid}, <vi progId>\CurVer = progId

#include "platform/com/com.h"
#include "platform/com/com_object.h"
#include "platform/com/guarded.h"

#include <cstddef>
#include <dlfcn.h>
#include <span>

namespace platform::com {

struct ServerClass {
    const CLSID* clsid;
    const char* progId;                   // may be null
    const char* versionIndependentProgId; // may be null
    const char* description;
    HRESULT (*getClassObject)(REFIID riid, void** object);
};

template <class T>
HRESULT classObjectOf(REFIID riid, void** object) {
    return ClassFactory<T>::createInstance(riid, object);
}

template <class T>
constexpr ServerClass serverClass(const CLSID& clsid, const char* progId,
                                  const char* versionIndependentProgId, const char* description) {
    return ServerClass{&clsid, progId, versionIndependentProgId, description, &classObjectOf<T>};
}

// Registry work shared by every server (in the platform library).
HRESULT registerClasses(const char* libraryPath, std::span<const ServerClass> classes);
HRESULT unregisterClasses(std::span<const ServerClass> classes);
HRESULT getClassObjectFrom(std::span<const ServerClass> classes, REFCLSID clsid, REFIID riid,
                           void** object);
// The path of the shared object that holds the given address (empty on failure).
std::string libraryPathOf(const void* address);

inline void noModuleStart() {}

// What VelmoorComClasses hands out: the class ids of a library.
struct ServerClassList {
    const ServerClass* classes;
    std::size_t count;
};

}  // namespace platform::com

#define VELMOOR_COM_SERVER(classTable) VELMOOR_COM_SERVER_INIT(classTable, ::platform::com::noModuleStart)

// As VELMOOR_COM_SERVER, and startModule() runs before the first class object
// is handed out (not when the library is loaded: programs load every server
// library at start to see whether it is registered). A module that keeps a
// function-local static there (its trace object) has it until it is unloaded.
#define VELMOOR_COM_SERVER_INIT(classTable, startModule)                                        \
    VELMOOR_COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {  \
        return ::platform::com::guarded("DllGetClassObject", [&] {                              \
            startModule();                                                                      \
            return ::platform::com::getClassObjectFrom(classTable, clsid, riid, object);        \
        });                                                                                     \
    }                                                                                           \
    VELMOOR_COM_EXPORT HRESULT DllCanUnloadNow() {                                              \
        return ::platform::com::moduleCanUnload() ? S_OK : S_FALSE;                             \
    }                                                                                           \
    VELMOOR_COM_EXPORT HRESULT DllRegisterServer() {                                            \
        return ::platform::com::guarded("DllRegisterServer", [] {                               \
            std::string path = ::platform::com::libraryPathOf(reinterpret_cast<const void*>(&DllCanUnloadNow)); \
            if (path.empty()) {                                                                 \
                return SELFREG_E_CLASS;                                                         \
            }                                                                                   \
            return ::platform::com::registerClasses(path.c_str(), classTable);                  \
        });                                                                                     \
    }                                                                                           \
    VELMOOR_COM_EXPORT HRESULT DllUnregisterServer() {                                          \
        return ::platform::com::guarded("DllUnregisterServer",                                  \
                                        [] { return ::platform::com::unregisterClasses(classTable); }); \
    }                                                                                           \
    VELMOOR_COM_EXPORT ::platform::com::ServerClassList VelmoorComClasses() {                   \
        return {std::data(classTable), std::size(classTable)};                                  \
    }
