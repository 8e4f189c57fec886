#pragma once
// Mailslots: one-way message channels between processes of this machine.
//
// A server creates a mailslot by name and reads one message per read; clients
// open it by name and write one message per write. Each mailslot is a Unix
// datagram socket under runtimeFolder()/mailslot, so message boundaries are
// kept and a message arrives whole or not at all.
//
// Names: a server is created as `\\.\mailslot\<name>` (or the bare <name>);
// a client opens `\\.\mailslot\<name>`, `\\*\mailslot\<name>` or
// `\\<machine or domain>\mailslot\<name>`, and every form reaches the local
// mailslot of that name: there are no remote machines here, so a message for
// another machine or a domain is delivered locally or not at all. Names are
// case-insensitive.
//
// An object is used by one thread at a time. Failures set the calling thread's
// last error (platform/last_error.h) and are reported by result; nothing throws.

#include "platform/types.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The largest message a mailslot carries.
inline constexpr DWORD kMailslotMaxMessageBytes = 65535;

// The local name of a mailslot given in any of the forms above (lower case);
// nullopt when the text is not a mailslot name.
std::optional<std::string> mailslotLocalName(std::string_view name);

class MailslotServer {
public:
    // Creates the mailslot. maxMessageBytes 0 means kMailslotMaxMessageBytes;
    // larger messages are dropped (their writer cannot know: a datagram socket
    // does not tell). Fails (ERROR_ALREADY_EXISTS) while another server has it.
    MailslotServer(std::string_view name, DWORD maxMessageBytes);
    ~MailslotServer();
    MailslotServer(const MailslotServer&) = delete;
    MailslotServer& operator=(const MailslotServer&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    // Readable when a message waits; for a poll loop.
    int fd() const { return m_fd; }

    enum class ReadResult { Message, TimedOut, Failed };
    // Waits up to timeoutMs (0xFFFFFFFF: no limit) for the next message and
    // returns it whole in `message`.
    ReadResult read(std::vector<char>& message, DWORD timeoutMs);

private:
    int m_fd = -1;
    int m_lockFd = -1;
    DWORD m_maxMessageBytes = 0;
    std::string m_socketPath;
};

class MailslotClient {
public:
    // Opens an existing mailslot for writing; fails (ERROR_FILE_NOT_FOUND) when
    // no server has it.
    explicit MailslotClient(std::string_view name);
    ~MailslotClient();
    MailslotClient(MailslotClient&& other) noexcept;
    MailslotClient& operator=(MailslotClient&& other) noexcept;
    MailslotClient(const MailslotClient&) = delete;
    MailslotClient& operator=(const MailslotClient&) = delete;

    bool isOpen() const { return m_fd >= 0; }

    // Writes one message of `bytes` bytes (at most kMailslotMaxMessageBytes,
    // ERROR_INVALID_PARAMETER beyond). When the reader's queue is full the write
    // waits up to the write time-out, then fails with ERROR_TIMEOUT: a reader
    // that stopped reading cannot hang a writer. False when the server is gone.
    bool write(const void* data, DWORD bytes);

    void setWriteTimeoutMs(DWORD timeoutMs) { m_writeTimeoutMs = timeoutMs; }

private:
    int m_fd = -1;
    DWORD m_writeTimeoutMs = 2000;
};

}  // namespace platform
