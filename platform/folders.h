#pragma once
// The folders every program of the system works in. All of them live under one
// per-user home, $VELMOOR_HOME (default $XDG_DATA_HOME/velmoor, then
// ~/.local/share/velmoor). Each call re-reads the environment, so a test that
// points VELMOOR_HOME at a fresh folder gets fresh folders. Folders are created
// on first use; a folder that cannot be created is still returned, and the
// operation that uses it reports the failure.

#include <filesystem>

namespace platform {

// The per-user home of the system's settings and data.
std::filesystem::path homeFolder();

// Where bare ini file names ("LUMODEBWIN.INI", "Quennel.ini") are resolved.
std::filesystem::path windowsFolder();

// The program's data folder: shipped defaults are copied in at first start.
std::filesystem::path programFolder();

// Locks, bus sockets and mailslots of running processes.
std::filesystem::path runtimeFolder();

// The folder that holds the running executable (where its libraries lie too).
std::filesystem::path executableFolder();

}  // namespace platform
