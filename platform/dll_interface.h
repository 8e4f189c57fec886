#pragma once
// The library binding convention: a loadable library exports DLLGetApiVer (its
// interface version) and DLLGetApi (its interface object); callers bind it at
// run time through LoadDllInterface and release it with FreeDllInterface.

#include "platform/library.h"
#include "platform/types.h"

// The version that skips the version check.
inline constexpr DWORD kAnyDllApiVersion = 0xFFFFFFFF;
// Room every caller gives the error text.
inline constexpr std::size_t kDllErrorTextBytes = 260;

// The engine library, the decoder servers and the programs share this one
// loader, so none of them needs another's library to bind one. Safe from any
// thread.

// Loads `file` ("qel.dll" stands for libqel.so), checks DLLGetApiVer against
// `expectedVersion` unless it is kAnyDllApiVersion, and returns what DLLGetApi
// returns. On failure the result is null, `errorText` (when given, at least
// kDllErrorTextBytes) holds the reason, and the library is freed again with
// *module null, so a failed bind never leaves a library loaded.
void* LoadDllInterface(const char* file, HMODULE* module, DWORD expectedVersion,
                                    char* errorText);

// Frees the library when the handle is not null and sets it to null. The
// caller releases the interface object first.
void FreeDllInterface(HMODULE* module);
