#pragma once
// The module version stamp: each program and library records at start-up which
// version of it ran and when, in the maker's ini file "Quennel.ini" (Windows
// folder): section "Version" holds <key>=<file version> ("N/A" when the module
// carries none), section "Last Access" holds <key>=<local time of the start>.
// Called on a module's starting thread; write failures are ignored.

#include "platform/types.h"

#include <cstddef>

// A module is named by any address inside it (a function or object of its own);
// null stands for the program itself.
void RecordModuleVersion(const char* key, const void* module);

// The description and file version of the module holding `module`. Returns
// FALSE when the module's file cannot be found, else as GetFileVersionStrings.
BOOL GetModuleVersionStrings(const void* module, char* description, std::size_t descriptionSize, char* version,
                             std::size_t versionSize);

// The description and file version carried by a module file, each cut to its
// buffer and terminated. Returns TRUE when both were found; otherwise FALSE,
// and the buffers keep what they held.
BOOL GetFileVersionStrings(const char* fileName, char* description, std::size_t descriptionSize, char* version,
                           std::size_t versionSize);

// Writes <key>=<version> into "Version" and <key>=<time stamp> into "Last Access".
void WriteVersionRecord(const char* key, const char* version);

// The local time as "YYYY/MM/DD - hh:mm:ss.mmmm" (milliseconds in four digits).
// The text lives in a buffer of the calling thread, overwritten by its next call.
const char* GetTimeStampString();
