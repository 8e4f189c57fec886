#include "scrivane/log_format.h"

#include "platform/folders.h"
#include "platform/ini_file.h"
#include "scrivane/scrivane_lib.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <strings.h>
#include <unistd.h>

namespace scrivane {

const std::array<const char*, kEventNameCount> kDefaultEventNames = {
    "Setup enter",
    "Setup exit",
    "Setup change",
    "Setup-Identity cofiguration change",
    "Setup-File transfer cofiguration change",
    "Setup-Remote video cofiguration change",
    "Setup-Modem cofiguration change",
    "Setup-General cofiguration change",
    "System arm",
    "System disarm",
    "Connect",
    "Disconnect",
    "System upgrade",
    "Address Book entry add",
    "Address Book entry delete",
    "Address Book entry edit",
    "Users enter",
    "Users exit",
    "Users entry add",
    "Users entry delete",
    "Users entry change",
    "Debriefer enter",
    "Debriefer exit",
    "Debriefer event delete",
    "Debriefer camera delete",
    "Debriefer adapter delete",
    "Debriefer station delete",
    "File transfer enter",
    "File transfer exit",
    "File transfer send",
    "File transfer recieve",
    "Remote camera get snapshot",
    "Camera settings enter",
    "Camera settings exit",
    "Camera settings change",
    "Record start",
    "Record stop",
    "Dial on alarm",
    "Remote settings enter",
    "Remote settings exit",
    "Remote settings upload",
    "Remote settings download",
    "Remote settings sync date&time",
    "User login",
    "User logout",
    "Unattended DOA message",
    "Dial Reason",
};

bool LogLineReader::fill() {
    if (m_eof || m_failed) {
        return false;
    }
    // Drop what was used, then read the next block behind what is left.
    m_buffer.erase(0, m_used);
    m_bufferStart += off_t(m_used);
    m_used = 0;
    const std::size_t kBlock = m_blockBytes;
    std::size_t old = m_buffer.size();
    m_buffer.resize(old + kBlock);
    ssize_t n;
    do {
        n = ::pread(m_fd, m_buffer.data() + old, kBlock, m_bufferStart + off_t(old));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        m_buffer.resize(old);
        m_failed = true;
        return false;
    }
    m_buffer.resize(old + std::size_t(n));
    if (n == 0) {
        m_eof = true;
        return false;
    }
    return true;
}

bool LogLineReader::next(LogLine& line) {
    for (;;) {
        std::size_t end = m_buffer.find('\n', m_used);
        if (end != std::string::npos || m_eof || m_failed) {
            if (end == std::string::npos) {
                if (m_failed || m_used >= m_buffer.size()) {
                    return false;
                }
                end = m_buffer.size();  // a last line without a line end
            }
            line.start = m_bufferStart + off_t(m_used);
            std::size_t textEnd = end;
            if (textEnd > m_used && m_buffer[textEnd - 1] == '\r') {
                --textEnd;
            }
            std::size_t length = std::min(textEnd - m_used, kMaxLineBytes);
            line.text.assign(m_buffer, m_used, length);
            m_used = std::min(end + 1, m_buffer.size());
            line.next = m_bufferStart + off_t(m_used);
            m_position = line.next;
            return true;
        }
        if (m_buffer.size() - m_used > kMaxLineBytes * 256) {
            // No line end in a megabyte: not a log line; hand it out as one.
            line.start = m_bufferStart + off_t(m_used);
            line.text.assign(m_buffer, m_used, kMaxLineBytes);
            m_used = m_buffer.size();
            line.next = m_bufferStart + off_t(m_used);
            m_position = line.next;
            return true;
        }
        if (!fill() && !m_eof && m_failed) {
            return false;
        }
    }
}

int readLogHeader(LogLineReader& reader, LogHeader& header) {
    LogLine line;
    for (std::size_t i = 0; i < kHeaderLines; ++i) {
        if (!reader.next(line)) {
            return reader.failed() ? LEERR_SYSTEM : LEERR_LOGFILE_READ_FAIL;
        }
        header.lines[i] = line.text;
    }
    header.afterHeader = line.next;
    const auto& l = header.lines;
    if (l[0] != kLogStamp) return LEERR_INVALID_LOGSTAMP;
    if (l[1] != kLogVersion) return LEERR_INVALID_VERSION;
    if (l[2].size() > 30) return LEERR_INVALID_LOGNAME;
    if (l[3].size() > 1) return LEERR_INVALID_LOG_TYPE;
    if (l[4].size() > kLastIdMaxChars) return LEERR_INVALID_LAST_ENTRY_ID;
    if (l[5].size() > 10) return LEERR_INVALID_CYC_PARAM1;
    if (l[6].size() > 1 || std::atoi(l[6].c_str()) >= 4) return LEERR_INVALID_CYCTYPE;
    if (l[7].size() > 10) return LEERR_INVALID_CRC;
    header.logType = SHORT(std::atoi(l[3].c_str()));
    header.lastEntryId = DWORD(std::strtoull(l[4].c_str(), nullptr, 10));
    header.cycleParam = LONG(std::atol(l[5].c_str()));
    header.cycleType = SHORT(std::atoi(l[6].c_str()));
    return LEERR_NOERROR;
}

std::string headerText(const LogHeader& header) {
    std::string text;
    text.reserve(headerTextBytes(header, header.lastEntryId));
    for (std::size_t i = 0; i < kHeaderLines; ++i) {
        text += i == 4 ? std::to_string(header.lastEntryId) : header.lines[i];
        text += "\r\n";
    }
    return text;
}

std::size_t headerTextBytes(const LogHeader& header, DWORD lastEntryId) {
    std::size_t bytes = 2 * kHeaderLines;  // the line ends
    for (std::size_t i = 0; i < kHeaderLines; ++i) {
        if (i != 4) {
            bytes += header.lines[i].size();
        }
    }
    std::size_t digits = 1;
    for (DWORD rest = lastEntryId / 10; rest != 0; rest /= 10) {
        ++digits;
    }
    return bytes + digits;
}

bool lineIndex(std::string_view line, DWORD& index) {
    std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) {
        return false;
    }
    std::string digits;
    for (char c : line.substr(0, comma)) {
        if (c != ' ') {
            digits += c;
        }
    }
    if (digits.empty() || digits.size() > kLastIdMaxChars ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    index = DWORD(std::strtoull(digits.c_str(), nullptr, 10));
    return true;
}

bool entryFieldsFit(const EntryFields& fields) {
    auto fits4 = [](SHORT v) { return v >= -999 && v <= 9999; };
    return fits4(fields.eventId) && fits4(fields.status) && fields.flags >= 0 && fields.flags <= 9;
}

namespace {

// Appends the text up to its first NUL and at most `limit` characters, each
// control character (and comma, when asked) as a blank.
void appendCleaned(std::string& out, std::string_view text, std::size_t limit, bool commaToo) {
    for (char c : text.substr(0, std::min(limit, text.find('\0')))) {
        out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F || (commaToo && c == ',') ? ' ' : c;
    }
}

std::string withoutBlanks(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c != ' ') {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string entryLine(const EntryFields& f) {
    char head[96];
    std::snprintf(head, sizeof head, "%u,%d,%.4d%.2d%.2d,%.2d%.2d%.2d,%d,%d", unsigned(f.index), int(f.eventId),
                  int(f.localTime.wYear), int(f.localTime.wMonth), int(f.localTime.wDay), int(f.localTime.wHour),
                  int(f.localTime.wMinute), int(f.localTime.wSecond), int(f.status), int(f.flags));
    std::string line;
    line.reserve(kEntryLineBytes);
    line = head;
    line += ',';
    appendCleaned(line, f.user, kUserChars, true);
    line += ',';
    appendCleaned(line, f.info, kInfoChars, false);
    line.resize(kEntryTextChars, ' ');  // never longer: every field is inside its width
    line += "\r\n";
    return line;
}

bool parseEntryLine(std::string_view line, ParsedEntry& entry) {
    std::string_view fields[8];
    std::string_view rest = line;
    for (int i = 0; i < 7; ++i) {
        std::size_t comma = rest.find(',');
        if (comma == std::string_view::npos) {
            return false;
        }
        fields[i] = rest.substr(0, comma);
        rest.remove_prefix(comma + 1);
    }
    fields[7] = rest;
    static constexpr std::size_t kWidths[6] = {10, 4, 8, 6, 4, 1};
    std::string* targets[6] = {&entry.index, &entry.eventId, &entry.date, &entry.time, &entry.status, &entry.flags};
    for (int i = 0; i < 6; ++i) {
        *targets[i] = withoutBlanks(fields[i]);
        if (targets[i]->size() > kWidths[i]) {
            return false;
        }
    }
    if (fields[6].size() > kUserChars) {
        return false;
    }
    entry.user = std::string(fields[6]);
    std::string_view info = fields[7];
    while (!info.empty() && info.back() == ' ') {
        info.remove_suffix(1);
    }
    if (info.size() > kInfoChars) {
        return false;
    }
    entry.info = std::string(info);
    return true;
}

std::array<std::string, kEventNameCount> loadEventNames() {
    const std::string file = (platform::programFolder() / "log.ini").string();
    const auto existing = platform::iniReadSection(file, "LogNames");
    std::array<std::string, kEventNameCount> names;
    for (int id = 0; id < kEventNameCount; ++id) {
        const char* key = kDefaultEventNames[std::size_t(id)];
        auto found = std::find_if(existing.begin(), existing.end(),
                                  [&](const platform::IniEntry& e) { return ::strcasecmp(e.key.c_str(), key) == 0; });
        std::string value = found != existing.end() ? found->value : std::string(key);
        if (found == existing.end()) {
            platform::iniWriteString(file, "LogNames", key, key);
        }
        value.resize(std::min(value.size(), kEventNameChars));
        names[std::size_t(id)] = value;
    }
    return names;
}

std::string localLogPath(std::string_view path) {
    std::string local(path);
    std::replace(local.begin(), local.end(), '\\', '/');
    return local;
}

}  // namespace scrivane
