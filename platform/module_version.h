#pragma once
// The description and file version each module of the system carries in its
// file (an ELF note, section ".note.velmoor.version", owner "Velmoor", type 1,
// descriptor "<description>\0<version>\0"), and the file of a loaded module.
// Safe from any thread.

#include <filesystem>
#include <optional>
#include <string>

namespace platform {

struct ModuleVersion {
    std::string description;
    std::string version;
};

// Reads the version note of a module file. Nothing when the file cannot be
// read, is not a 64-bit little-endian ELF file, has no such note, or is cut
// short or damaged anywhere on the way to the note (every offset and size in the
// file is checked against the file before it is used).
std::optional<ModuleVersion> readModuleVersion(const std::filesystem::path& file);

// The file of the loaded module (program or shared library) that holds the
// given address; null stands for the program itself. Empty when no loaded
// module holds the address.
std::filesystem::path moduleFileOf(const void* addressInModule);

}  // namespace platform
