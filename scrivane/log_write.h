#pragma once
// Czo_LogWrite: the activity log writer object (Scrivane.zo_LogWrite).
//
// It creates and opens activity log files and appends entries to them. Writers
// in every process are serialised by the named mutex "zoLogWrite_Mutex"; while
// holding it, a writer reads the file's header again, so the next entry id and
// the cycling state always come from the file, never from a stale copy in one
// process (an append by path skips the read only when nobody else has held the
// mutex since its own last append and the file kept the size it left). A
// program that changes a log must hold the mutex too. An object is used on the
// thread that created it. Failures are
// traced, kept as the last error and returned as 0x80040000 OR the code.

#include "platform/com/com_object.h"
#include "platform/com/connection_point.h"
#include "platform/com/dispatch.h"
#include "platform/named_lock.h"
#include "scrivane/log_format.h"
#include "scrivane/scrivane_lib.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <sys/types.h>

class Czo_LogWrite
    : public platform::com::ComObject<Czo_LogWrite, platform::com::DispatchImpl<Czo_LogWrite, Izo_LogWrite>,
                                      platform::com::ConnectionPointContainerImpl<Czo_LogWrite>> {
public:
    Czo_LogWrite();
    ~Czo_LogWrite() override;

    static std::span<const platform::com::DispatchMember<Czo_LogWrite>> dispatchMembers();
    std::span<platform::com::ConnectionPoint* const> connectionPoints() { return m_points; }

    HRESULT CreateLogFile(BSTR szFormat, BSTR szVersion, BSTR szLogName, short nLogType, short nCycleType,
                          LONG nCycleParam1, BSTR szFilePath) override;
    HRESULT CloseLogFile() override;
    HRESULT AddLogEntry(short nEntryID, short nFlags, BSTR szUserName, short nStatus, BSTR szInfo) override;
    HRESULT OpenLogFile(BSTR szFilePath) override;
    HRESULT AddLogEntryEx(BSTR szFilePath, short nEntryID, short nFlags, BSTR szUserName, short nStatus,
                          BSTR szInfo) override;

    // For tests: the last error code and the state read from the header.
    int lastError() const { return m_lastError; }
    DWORD lastEntryId() const { return m_lastEntryId; }
    SHORT cyclicStatus() const { return m_cyclicStatus; }

private:
    enum class Caller { AddLogEntry, AddLogEntryEx };
    struct LastAppend;

    HRESULT fail(int code);
    void closeFile();
    // Hands the open file to m_kept for the next AddLogEntryEx (closing any
    // other file kept there).
    void keepFile();
    // Opens the log and reads its header; the mutex is held by the caller.
    HRESULT openLocked(const std::string& clientPath);
    // Appends one entry; the mutex is held by the caller. Returns a TAG_LE_ERRORS code;
    // on success `written` (when given) tells what the file holds now.
    int appendLocked(Caller caller, short eventId, short flags, BSTR user, short status, BSTR info,
                     LastAppend* written = nullptr);
    // Finds where the new entry goes (SetFilePos); returns a code. knownBytes
    // is the file's size when known, else -1; newest the place of the entry
    // with the header's last id when known; fileBytes becomes the size used.
    int setFilePos(const scrivane::LogHeader& header, off_t entryStart, off_t knownBytes,
                   std::optional<off_t> newest, off_t& position, off_t& fileBytes);
    // Makes room in front of the first entry when the header would grow into it.
    int ensureHeaderRoom(scrivane::LogHeader& header, off_t& entryStart);
    // Rewrites the header lines (and the separator up to the first entry).
    bool updateLogHeader(const scrivane::LogHeader& header, off_t entryStart);
    // Reads the header and finds the first entry behind it, in one read of the
    // file's head; returns a code.
    int readHead(scrivane::LogHeader& header, off_t& entryStart);
    // The place of the entry line with `id` where fixed-width lines put it;
    // nullopt when no line there carries it (the caller then walks the file).
    std::optional<off_t> placeOfEntry(DWORD id, off_t entryStart, off_t fileBytes);
    // Reads the whole entry line at `start` (121 characters and CR LF) and its index.
    bool entryLineAt(off_t start, off_t fileBytes, DWORD& index);
    void keepSystemError(int errnoValue);

    int m_fd = -1;
    // What m_fd is: the path it was opened by and the file's identity.
    std::string m_fdPath;
    dev_t m_fdDevice = 0;
    ino_t m_fdInode = 0;
    // The file's size as seen under the mutex hold still in force; -1 when
    // unknown (then it is asked for).
    off_t m_knownBytes = -1;
    // The file of the last AddLogEntryEx, kept open for the next one to the
    // same path: it is used again only while the path still names that file.
    struct KeptFile {
        std::string path;
        int fd = -1;
        dev_t device = 0;
        ino_t inode = 0;
    };
    KeptFile m_kept;
    // What this object's last AddLogEntryEx left in the kept file: the header
    // it wrote, the first entry's place, the newest entry's place and the
    // file's size, with the number of the mutex hold it was written under.
    // The next append to that file takes them in place of reading the file
    // while nobody else has held the writers' mutex since (every writer holds
    // it) and the file still has that size.
    struct LastAppend {
        std::uint64_t hold = 0;
        scrivane::LogHeader header;
        off_t entryStart = 0;
        off_t newestPlace = 0;
        off_t fileBytes = 0;
    };
    std::optional<LastAppend> m_lastAppend;
    // The newest entry's place, known from the last append, for the append
    // under the mutex hold in force.
    std::optional<off_t> m_knownNewestPlace;
    int m_lastError = LEERR_NOERROR;
    std::string m_errorText;
    LONG m_cycleParam = 0;
    SHORT m_cycleType = 3;
    SHORT m_cyclicStatus = 0;
    DWORD m_lastEntryId = 0;
    DWORD m_newEntryId = 0;
    off_t m_firstEntryPos = 0;
    scrivane::LogHeader m_header;
    // m_header and m_firstEntryPos were read under the mutex hold still in
    // force (an append may use them).
    bool m_headerCurrent = false;
    std::array<std::string, scrivane::kEventNameCount> m_eventNames;
    std::unique_ptr<platform::NamedMutex> m_mutex;  // null when it could not be created

    platform::com::ConnectionPoint m_events{*this, DIID__Izo_LogWriteEvents};
    std::array<platform::com::ConnectionPoint*, 1> m_points{&m_events};
};
