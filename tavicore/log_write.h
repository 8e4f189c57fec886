#pragma once
// CLogWrite: turns the recorder's user-visible actions into entries of the
// activity log. It holds one Scrivane.zo_LogWrite writer, creates the log when
// it is missing, prefixes each entry's user with the computer and the source,
// and writes every entry twice: into the current log and into the backup log.
// One object per process (the global logWrite), used on the user-interface
// thread. A missing writer makes every entry fail quietly (traced once); a
// failed entry is traced, never queued or retried.

#include "platform/message_window.h"
#include "scrivane/scrivane_lib.h"
#include "tavicore/tavicore_api.h"
#include "tavicore/tavicore_globals.h"

#include <memory>
#include <string>

namespace platform {
class NamedMutex;
}

class TAVICORE_API CLogWrite {
public:
    // Initialises COM for the calling thread, reads "BackUpLogName" and "MaxSize"
    // (Software\Quennel\Velmoor\Common\Log) and writes them back, and creates the
    // writer. The current log is <workDir>/<logFileName>, the backup log
    // <workDir>/<BackUpLogName>.
    CLogWrite(const char* workDir, const char* logFileName, const char* sourceName);
    ~CLogWrite();
    CLogWrite(const CLogWrite&) = delete;
    CLogWrite& operator=(const CLogWrite&) = delete;

    // Writes the entry into the given log (empty or null: the current log), then
    // into the backup log. A failure of the first write is posted to the main
    // window as message 0x8082 (wParam 0, lParam 1). Always returns 1.
    int AddEntryEx(const char* logPath, short eventId, short flags, const char* user, short status,
                   const char* info);
    // Copy the texts given at construction (at most 259 characters); return 1.
    int GetLogFileName(char* out);
    int GetLogWorkingDir(char* out);
    // The computer's name, or the dotted address its host name resolves to;
    // 0 when neither can be had. Writes at most 259 characters.
    int GetComputerID(char* out);

    // The application's main window, told of failed entries (0: none).
    static void SetMainWindow(platform::HWND window);

    static constexpr UINT kLogFailedMessage = 0x8082;

private:
    int AddEntry(const char* logPath, short eventId, short flags, const char* user, short status, const char* info);

    Izo_LogWrite* m_pLogWrite = nullptr;
    std::string m_workDir;
    std::string m_logFileName;
    std::string m_logPath;
    std::string m_sourceName;
    std::string m_backupPath;
    DWORD m_maxSize = 300;
    std::unique_ptr<platform::NamedMutex> m_createLock;
};
