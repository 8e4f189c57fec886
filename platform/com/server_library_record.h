#pragma once
// What the registration at start remembers of each library beside the program
// it looked into: the file as it was (path, size, change time, inode) and the
// classes it registered, in HKEY_CLASSES_ROOT\ServerLibraries\<file name>. A
// library whose file is unchanged and whose classes are still registered to it
// is not loaded again just to be checked.

#include "platform/com/com.h"

#include <span>
#include <string>

namespace platform::com {

struct ServerClass;

class ServerLibraryRecord {
public:
    // `path` is the library's canonical path.
    explicit ServerLibraryRecord(std::string path);

    // True when the record was made for this very file, unchanged since, and
    // every class it names is still registered to it.
    bool current() const;
    // Remembers the file with the classes now registered to it (none for a
    // library that is no server).
    void remember(std::span<const ServerClass> classes) const;

private:
    std::string m_path;
    std::string m_key;
    std::string m_file;  // size, change time and inode; empty when the file cannot be read
};

}  // namespace platform::com
