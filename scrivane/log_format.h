#pragma once
// The activity log file: eight header lines, separator lines, then entry lines
// of a fixed width (121 characters and CR LF), so an entry can be overwritten in
// place when the log cycles. Shared by the writer and the reader; no state.

#include "platform/types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace scrivane {

inline constexpr std::size_t kEntryTextChars = 121;            // the line without its end
inline constexpr std::size_t kEntryLineBytes = kEntryTextChars + 2;  // with CR LF on disk
inline constexpr std::size_t kHeaderLines = 8;
inline constexpr std::size_t kUserChars = 30;
inline constexpr std::size_t kInfoChars = 50;
inline constexpr std::size_t kLastIdMaxChars = 10;
inline constexpr int kEventNameCount = 47;
inline constexpr std::size_t kEventNameChars = 99;

inline constexpr const char* kLogStamp = "VLM";
inline constexpr const char* kLogVersion = "1.0.0";
inline constexpr const char* kMutexName = "zoLogWrite_Mutex";

// One line of the file: where it starts, where the next one starts, and its text
// without the line end (CR LF or a bare LF).
struct LogLine {
    off_t start = 0;
    off_t next = 0;
    std::string text;
};

// Reads lines from an open file, starting at an offset, through a buffer that
// grows by `blockBytes` a read (small for a few lines near the start, large for
// a walk over the whole file). Lines longer than kMaxLineBytes are cut in the
// text (their extent stays right).
class LogLineReader {
public:
    static constexpr std::size_t kMaxLineBytes = 4096;
    static constexpr std::size_t kWalkBlockBytes = 64 * 1024;
    static constexpr std::size_t kHeadBlockBytes = 512;

    LogLineReader(int fd, off_t start, std::size_t blockBytes = kWalkBlockBytes)
        : m_fd(fd), m_position(start), m_bufferStart(start), m_blockBytes(blockBytes) {}
    // False at the end of the file (a last line without a line end still counts)
    // or on a read error (then failed() is true).
    bool next(LogLine& line);
    bool failed() const { return m_failed; }
    off_t position() const { return m_position; }

private:
    bool fill();

    int m_fd;
    off_t m_position;
    off_t m_bufferStart;
    std::size_t m_blockBytes;
    std::string m_buffer;
    std::size_t m_used = 0;
    bool m_eof = false;
    bool m_failed = false;
};

// What the eight header lines say, after their checks.
struct LogHeader {
    std::array<std::string, kHeaderLines> lines;
    DWORD lastEntryId = 0;
    LONG cycleParam = 0;
    SHORT cycleType = 0;
    SHORT logType = 0;
    off_t afterHeader = 0;  // just after line 8
};

// Reads and checks the header through a reader standing at the file's start,
// which then stands just after it (so the lines that follow come from the same
// read); returns a TAG_LE_ERRORS code (LEERR_LOGFILE_READ_FAIL when eight lines
// cannot be read, LEERR_SYSTEM with errno kept on an I/O error).
int readLogHeader(LogLineReader& reader, LogHeader& header);

// The eight header lines as written at creation and by the rewrite, each with
// CR LF; the last entry id in decimal, without padding.
std::string headerText(const LogHeader& header);
// The size of headerText(header) with `lastEntryId` as its last entry id,
// without building it.
std::size_t headerTextBytes(const LogHeader& header, DWORD lastEntryId);

// The index of an entry line: the text before its first comma with every blank
// removed, as an unsigned decimal. False when there is no comma or no number.
bool lineIndex(std::string_view line, DWORD& index);

// The fields of one entry as the writer puts them in the line.
struct EntryFields {
    DWORD index = 0;
    SHORT eventId = 0;
    SHORT flags = 0;
    SHORT status = 0;
    SYSTEMTIME localTime{};
    std::string user;
    std::string info;
};

// Checks that numbers fit their fields (event id and status 4 characters, flags
// one digit 0 to 9).
bool entryFieldsFit(const EntryFields& fields);
// The entry line: the joined fields padded with blanks to 121 characters, then
// CR LF. User and info are cut to 30 and 50 characters; a line break, other
// control character or comma in the user, and a control character in the info,
// becomes a blank, so the line keeps its width and its eight fields.
std::string entryLine(const EntryFields& fields);

// One entry as the reader parses it from a line.
struct ParsedEntry {
    std::string index, eventId, date, time, status, flags, user, info;
};
// False when the line is no entry (fewer than seven commas, a field too long).
bool parseEntryLine(std::string_view line, ParsedEntry& entry);

// The default display texts of the event ids 0 to 46.
extern const std::array<const char*, kEventNameCount> kDefaultEventNames;

// The display names from section [LogNames] of log.ini in the program folder,
// keyed by the default texts; keys that are missing are written with their
// default, so the file lists every key.
std::array<std::string, kEventNameCount> loadEventNames();

// A path as a client gives it: backslashes are folder separators.
std::string localLogPath(std::string_view path);

}  // namespace scrivane
