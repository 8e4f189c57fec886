#pragma once
// The library binding convention: a loadable library exports DLLGetApiVer (its
// interface version) and DLLGetApi (its interface object); callers bind it at
// run time through LoadDllInterface and release it with FreeDllInterface.

#include "platform/library.h"
#include "platform/types.h"
#include "tavicore/tavicore_api.h"

// The version that skips the version check.
inline constexpr DWORD kAnyDllApiVersion = 0xFFFFFFFF;
// Room every caller gives the error text.
inline constexpr std::size_t kDllErrorTextBytes = 260;

// Loads `file` ("qel.dll" stands for libqel.so), checks DLLGetApiVer against
// `expectedVersion` unless it is kAnyDllApiVersion, and returns what DLLGetApi
// returns. On failure the result is null, `errorText` (when given, at least
// kDllErrorTextBytes) holds the reason, and the library is freed again with
// *module null, so a failed bind never leaves a library loaded.
TAVICORE_API void* LoadDllInterface(const char* file, HMODULE* module, DWORD expectedVersion,
                                    char* errorText);

// Frees the library when the handle is not null and sets it to null. The
// caller releases the interface object first.
TAVICORE_API void FreeDllInterface(HMODULE* module);
