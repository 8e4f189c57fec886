#pragma once
// Private-profile (ini) files: sections of "key=value" lines, read and written
// with the rules the system's settings code relies on.
//
// - Section names and keys compare case-insensitively (ASCII); a key or section
//   written for the first time keeps the spelling the caller gave, an existing
//   one keeps the spelling it has in the file.
// - Spaces and tabs around section names, keys and values are not part of them.
//   A value read with iniReadString/iniReadValue loses one pair of matching
//   surrounding quotes ('...' or "...").
// - A name without '/' or '\' is a file of the Windows folder; '\' in a name is
//   a folder separator.
// - A missing or unreadable file reads as empty. A UTF-8 byte-order mark at
//   the start is skipped, and kept when the file is rewritten.
// - Comment lines (';'), blank lines and lines the reader does not understand
//   are kept as they are when the file is rewritten.
// - Every write re-reads the file and replaces it whole (temporary file in the
//   same folder, then rename), under an exclusive flock on a hidden lock file
//   beside it (".<name>.lock"), so concurrent writers in any process never lose
//   each other's keys and readers never see half a file.
//
// All functions may be called from any thread. Nothing is cached: each read
// parses the file again, so a change by another process is seen at once.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct IniEntry {
    std::string key;
    std::string value;
};

// The file an ini name stands for: bare names lie in the Windows folder.
std::filesystem::path resolveIniPath(std::string_view file);

// Copies the value of `key` (or `defaultValue` when the key is missing, with its
// trailing blanks dropped) into `out`: at most out.size() - 1 characters, always
// terminated. Returns the number of characters copied (0 when out is empty).
std::size_t iniReadString(std::string_view file, std::string_view section, std::string_view key,
                          std::string_view defaultValue, std::span<char> out);

// The value of `key`, or nothing when the section or key is missing.
std::optional<std::string> iniReadValue(std::string_view file, std::string_view section,
                                        std::string_view key);

// Writes `key`=`value` into `section`, creating the file, the section or the key
// as needed. A null `value` removes the key, a null `key` removes the whole
// section (all its lines). Returns false when the file cannot be written or when
// the text would break the file's structure (a line break in any part, '=' or a
// leading '[' or ';' in a key, ']' in a section name, an empty section name).
// Removing from a missing file succeeds without creating it.
bool iniWriteString(std::string_view file, std::string_view section, const char* key,
                    const char* value);

// Every entry of the section, in file order (an unknown section gives none).
std::vector<IniEntry> iniReadSection(std::string_view file, std::string_view section);

// The section as "key=value\0key=value\0\0" in `out`. Returns the characters
// written, not counting the final terminator: 0 for a missing or empty section,
// out.size() - 2 when the section did not fit (the list is then cut, still
// double-terminated). Nothing is written when out has fewer than 2 characters.
std::size_t iniReadSectionText(std::string_view file, std::string_view section,
                               std::span<char> out);

// The section names of the file in file order, each once.
std::vector<std::string> iniSectionNames(std::string_view file);

struct IniSection {
    std::string name;
    std::vector<IniEntry> entries;  // values as iniReadValue gives them
};

// Every section of the file with its entries, in file order, read in one
// pass (a section that appears twice appears twice).
std::vector<IniSection> iniReadFile(std::string_view file);

// Replaces the whole file with the given sections in one write (temporary
// file, then rename), so the old file stays whole when writing fails. False
// when the file cannot be written or a name or value would break its
// structure (the rules of iniWriteString); the file is then unchanged.
bool iniWriteFile(std::string_view file, const std::vector<IniSection>& sections);

// Writes cached profile data of the file. Writes here go to the file at once,
// so there is nothing to write; kept for callers that flush before they copy
// or delete a file. Returns true.
bool iniFlush(std::string_view file);

}  // namespace platform
