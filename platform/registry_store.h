#pragma once
// The registry's store: the one SQLite database of the process behind every
// registry call, with its open-key handles. `registry.h` is the surface the
// callers use (RegistryKey, RegistryBatch, the Reg* functions); it turns what the
// store may throw (only allocation) into codes. Nobody else includes this header.
//
// Every call takes the store's one lock, so any thread may call. The codes are the
// ones `registry.h` lists.

#include "platform/registry.h"

#include <string>
#include <string_view>

namespace platform {

class RegistryStore {
public:
    // The process's store; the database opens at the first call (and again when
    // the home folder changes or after a fork).
    static RegistryStore& instance();

    // Opens (with `create`, creating on the way) the key `path` below `parent`.
    virtual LONG open(HKEY parent, std::string_view path, REGSAM access, bool create,
                      HKEY* result, DWORD* disposition) = 0;
    // Groups every call until endBatch into one write transaction (nested
    // batches join the outer one).
    virtual LONG beginBatch() = 0;
    virtual LONG endBatch() = 0;
    virtual LONG close(HKEY handle) = 0;

    virtual LONG query(HKEY handle, std::string_view name, DWORD* type, BYTE* data,
                       DWORD* size) = 0;
    virtual LONG read(HKEY handle, std::string_view name, RegistryValue& out) = 0;
    virtual LONG set(HKEY handle, std::string_view name, DWORD type, const BYTE* data,
                     DWORD size) = 0;
    virtual LONG deleteValue(HKEY handle, std::string_view name) = 0;
    virtual LONG deleteKey(HKEY handle, std::string_view path) = 0;
    virtual LONG subKeyName(HKEY handle, std::string_view name, std::string& stored) = 0;
    virtual LONG enumKey(HKEY handle, DWORD index, std::string& name) = 0;
    virtual LONG enumValue(HKEY handle, DWORD index, std::string& name,
                           RegistryValue* value) = 0;

    // Where a damaged database found at open was kept, once; empty otherwise.
    static std::string takeDamagedNotice();

    // Copies a value's bytes into room known to hold them; a REG_SZ stored without
    // its terminator gets one after it when the room allows (not counted in its size).
    static void placeValue(DWORD type, const void* bytes, DWORD stored, BYTE* data, DWORD room);

protected:
    RegistryStore() = default;
    ~RegistryStore() = default;
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;
};

}  // namespace platform
