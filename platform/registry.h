#pragma once
// The registry: a tree of keys under three separate roots, each key holding typed
// values, kept in one SQLite database ("registry.db" in the home folder) that every
// process of the user shares.
//
// - Key and value names are case-insensitive (ASCII letters) and keep the case they
//   were created with. Key paths are backslash-separated ("Software\Maker\Program").
// - A value keeps its type and its exact bytes: a REG_SZ written with or without its
//   terminator reads back with the same size.
// - Subkeys enumerate by index in case-insensitive name order; values in the order
//   they were first written (rewriting a value keeps its place).
// - Deleting a key deletes its whole subtree with all values.
// - Every call is safe from any thread and from several processes at once; each
//   change is committed before the call returns (write-ahead log, no flush to the
//   disk per value), so a crashed process loses nothing it had written and never
//   leaves the database corrupted.
//
// Two shapes over one implementation: the move-only RegistryKey, and the free
// functions RegCreateKeyEx ... RegEnumValue with the Windows calling conventions.
// Both return system codes: ERROR_SUCCESS; ERROR_FILE_NOT_FOUND for a missing key or
// value; ERROR_MORE_DATA when a buffer is too small (the size to retry with is then
// reported); ERROR_NO_MORE_ITEMS past the end of an enumeration; ERROR_INVALID_HANDLE
// for a handle that is not open; ERROR_INVALID_PARAMETER for bad arguments or a bad
// path; ERROR_ACCESS_DENIED when the handle lacks the access right; ERROR_KEY_DELETED
// when the open key has been deleted; ERROR_CANTOPEN, ERROR_CANTREAD, ERROR_CANTWRITE
// when the database cannot be opened, read or written.
//
// The database is opened at first use in each process, in the home folder of that
// moment; a later change of the home folder's environment variables is noticed at the
// next call, which then opens the new home's database (keys opened before it are then
// invalid handles). Inside a RegistryBatch it is noticed at the first call after the
// batch: the batch's calls all go to the database it began on.

#include "platform/types.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A registry handle: one of the three roots below, or a key opened by this process.
using HKEY = std::uintptr_t;
using REGSAM = DWORD;

inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

// Access rights of an open key.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Creation options and dispositions.
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// The open key was deleted (by this or another process) after it was opened.
inline constexpr LONG ERROR_KEY_DELETED = 1018;

// One value with its type and exact bytes.
struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// An open registry key, closed when the object goes away. Move-only. Any thread may
// use it, one call at a time per object. A failed call returns its code and changes
// nothing.
class RegistryKey {
public:
    RegistryKey() = default;
    // Takes over a handle opened by RegOpenKeyEx or RegCreateKeyEx (or a root).
    explicit RegistryKey(HKEY adopted) noexcept : m_handle(adopted) {}
    RegistryKey(RegistryKey&& other) noexcept;
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey();

    // Opens the existing key `path` below `parent` (a root or an open key). An
    // empty path opens `parent` itself again. A trailing backslash is ignored; a
    // leading one or an empty component ("a\\b") is ERROR_INVALID_PARAMETER.
    [[nodiscard]] static LONG open(HKEY parent, std::string_view path, REGSAM access,
                                   RegistryKey& out);
    // Opens `path` below `parent`, creating every missing key on the way.
    // `disposition` (when given) receives REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
    [[nodiscard]] static LONG create(HKEY parent, std::string_view path, REGSAM access,
                                     RegistryKey& out, DWORD* disposition = nullptr);

    bool isOpen() const { return m_handle != 0; }
    HKEY handle() const { return m_handle; }
    // Gives up ownership of the handle without closing it.
    HKEY release() noexcept;
    // Closing only forgets the handle: it fails only for a handle that is not
    // open (ERROR_INVALID_HANDLE), so a caller may let its result go.
    LONG close() noexcept;

    // Reads a value into `data` (may be null to ask only for type and size). On
    // entry `*size` is the room at `data`; on return the value's size in bytes. A
    // value larger than the room fails with ERROR_MORE_DATA and leaves `data`
    // untouched. A REG_SZ stored without its terminator gets one placed after it
    // when there is room (not counted in the size).
    [[nodiscard]] LONG queryValue(std::string_view name, DWORD* type, BYTE* data,
                                  DWORD* size) const;
    // Reads a whole value, whatever its size.
    [[nodiscard]] LONG readValue(std::string_view name, RegistryValue& out) const;
    // Writes a value with exactly `size` bytes (the empty name is the key's default value).
    [[nodiscard]] LONG setValue(std::string_view name, DWORD type, const BYTE* data, DWORD size);
    [[nodiscard]] LONG deleteValue(std::string_view name);
    // Deletes the key `path` below this one with its whole subtree.
    [[nodiscard]] LONG deleteSubKey(std::string_view path);
    // The subkey `name` (one component) as its name is stored: names compare
    // without regard to case, the stored one keeps the case it was created with.
    // ERROR_FILE_NOT_FOUND when there is no such subkey.
    [[nodiscard]] LONG subKeyName(std::string_view name, std::string& stored) const;
    // The name of the subkey at `index`; ERROR_NO_MORE_ITEMS past the last one.
    [[nodiscard]] LONG enumSubKey(DWORD index, std::string& name) const;
    // The name (and the value when `value` is given) of the value at `index`.
    [[nodiscard]] LONG enumValue(DWORD index, std::string& name,
                                 RegistryValue* value = nullptr) const;

private:
    HKEY m_handle = 0;
};

// Groups the registry calls of the process made while it lives into one write
// transaction, committed when it ends (or at commit()): a start-up pass of many
// reads and write-backs then takes the database's write lock and syncs its log
// once instead of once per value. Until then the changes are not yet committed
// (a crash loses them all, never part of one) and other processes that write
// wait for it, so keep a batch short. Batches nest; the outermost commits. A
// batch that could not begin leaves every call committing on its own.
class RegistryBatch {
public:
    RegistryBatch() noexcept;
    ~RegistryBatch();
    RegistryBatch(const RegistryBatch&) = delete;
    RegistryBatch& operator=(const RegistryBatch&) = delete;
    // Commits now; the result of the commit (or of the failed begin).
    [[nodiscard]] LONG commit() noexcept;

private:
    LONG m_result;
    bool m_done = false;
};

// The Windows-shaped functions. A null name means the empty name (the key's default
// value, or the key itself). `reserved`, the class text and security attributes are
// ignored; the last-write time of an enumerated key is reported as zero.
//
// RegQueryValueEx: with null `data`, reports type and size; with `data` but a null
// `cbData`, ERROR_INVALID_PARAMETER. RegEnumKeyEx and RegEnumValue take the name
// room `*cchName` in characters with the terminator; on success it becomes the
// name's length without the terminator, on ERROR_MORE_DATA the room needed with
// the terminator.
[[nodiscard]] LONG RegCreateKeyEx(HKEY hKey, const char* subKey, DWORD reserved, char* keyClass,
                    DWORD options, REGSAM samDesired, const void* securityAttributes,
                    HKEY* result, DWORD* disposition);
[[nodiscard]] LONG RegOpenKeyEx(HKEY hKey, const char* subKey, DWORD options, REGSAM samDesired,
                  HKEY* result);
// Closing a root is a harmless success. As RegistryKey::close, it fails only
// for a handle that is not open, so a caller may let its result go.
LONG RegCloseKey(HKEY hKey);
[[nodiscard]] LONG RegQueryValueEx(HKEY hKey, const char* valueName, DWORD* reserved, DWORD* type,
                     BYTE* data, DWORD* cbData);
[[nodiscard]] LONG RegSetValueEx(HKEY hKey, const char* valueName, DWORD reserved, DWORD type,
                   const BYTE* data, DWORD cbData);
[[nodiscard]] LONG RegDeleteValue(HKEY hKey, const char* valueName);
// Deletes the key with its whole subtree. A root cannot be deleted.
[[nodiscard]] LONG RegDeleteKey(HKEY hKey, const char* subKey);
[[nodiscard]] LONG RegEnumKeyEx(HKEY hKey, DWORD index, char* name, DWORD* cchName, DWORD* reserved,
                  char* keyClass, DWORD* cchClass, FILETIME* lastWriteTime);
[[nodiscard]] LONG RegEnumValue(HKEY hKey, DWORD index, char* valueName, DWORD* cchValueName,
                  DWORD* reserved, DWORD* type, BYTE* data, DWORD* cbData);

// When the registry's database was found damaged as it was opened, it was kept
// aside and a fresh one started from the defaults: the name it was kept under,
// once (empty otherwise). The program tells its user.
std::string TakeDamagedRegistryNotice();

}  // namespace platform
