#pragma once
// CMxHelp: opens the recorder's help, an HTML document: the local file
// <current folder>/<Folder>/<FileName>, or the web page when that file is
// missing or the web page is forced. Its settings (section Help of the
// instance key) are read with their defaults and written back, so they exist
// afterwards. One instance per process, made by Create and freed by Destroy.
//
// Threads: the user-interface thread. Failures: LoadHelpFile returns FALSE
// when no path can be built (the current folder is unknown or the path is
// longer than kMaxHelpPathChars) or the document cannot be opened, and traces
// the reason; nothing throws.

#include "platform/types.h"

#include <functional>
#include <string>

namespace trennick {

inline constexpr std::size_t kMaxHelpPathChars = 259;
inline constexpr char kDefaultWebHelp[] = "https://velmoor.example.org/help/";

class CMxHelp {
public:
    // Opens a path or address the desktop's way; false when that failed.
    using Opener = std::function<bool(const std::string&)>;

    // Reads the settings; `opener` empty: the desktop's opener.
    explicit CMxHelp(Opener opener = {});
    virtual ~CMxHelp() = default;

    // TRUE when help was opened or is disabled.
    BOOL LoadHelpFile();
    static BOOL FileExists(const std::string& path);
    // The document the last LoadHelpFile opened (or tried to).
    const std::string& LastOpened() const { return m_lastOpened; }

    // The one instance: Create replaces it, Destroy frees it.
    static CMxHelp* Create(Opener opener = {});
    static void Destroy();
    static CMxHelp* Instance();

private:
    DWORD m_forceWebHelp = 0;
    DWORD m_disable = 0;
    std::string m_webPath;
    std::string m_folder;
    std::string m_fileName;
    Opener m_opener;
    std::string m_lastOpened;
};

}  // namespace trennick
