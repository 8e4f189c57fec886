#include "scrivane/log_read.h"

#include "common/lumo_deb.h"
#include "platform/com/guarded.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

using namespace scrivane;

namespace {

// A text field as a new string; false when memory runs out.
bool giveText(const std::string& text, BSTR* out) {
    if (!out) {
        return true;  // the caller does not want this field
    }
    *out = SysAllocStringLen(text.data(), UINT(text.size()));
    return *out != nullptr;
}

short numberOf(const std::string& text) { return short(std::atoi(text.c_str())); }

}  // namespace

Czo_LogRead::Czo_LogRead() { m_eventNames = loadEventNames(); }

Czo_LogRead::~Czo_LogRead() {
    m_events.unadviseAll();
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

std::span<const platform::com::DispatchMember<Czo_LogRead>> Czo_LogRead::dispatchMembers() {
    using platform::com::dispatchMethod;
    static const platform::com::DispatchMember<Czo_LogRead> table[] = {
        {"CloseLogFile", 1, &dispatchMethod<&Czo_LogRead::CloseLogFile>},
        {"OpenLogFile", 2, &dispatchMethod<&Czo_LogRead::OpenLogFile>},
        {"GetLogFormat", 3, &dispatchMethod<&Czo_LogRead::GetLogFormat>},
        {"GetLogName", 4, &dispatchMethod<&Czo_LogRead::GetLogName>},
        {"GetLogType", 5, &dispatchMethod<&Czo_LogRead::GetLogType>},
        {"GetFirstLogEntry", 6, &dispatchMethod<&Czo_LogRead::GetFirstLogEntry>},
        {"GetNextLogEntry", 7, &dispatchMethod<&Czo_LogRead::GetNextLogEntry>},
        {"GetEventName", 8, &dispatchMethod<&Czo_LogRead::GetEventName>},
    };
    return table;
}

HRESULT Czo_LogRead::fail(int code) {
    LUMO_TRACE(1, "[E] Scrivane Error(%d)", code);
    m_lastError = code;
    return logEngineError(code);
}

HRESULT Czo_LogRead::CloseLogFile() { return S_OK; }

HRESULT Czo_LogRead::OpenLogFile(BSTR szFilePath) try {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_stamp.clear();
    m_name.clear();
    m_logType = 0;
    std::string_view given = platform::com::bstrView(szFilePath);
    const std::string path = localLogPath(given.substr(0, given.find('\0')));
    m_fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        return fail(LEERR_LOGFILE_NOT_OPEN);
    }
    // The header is read but not checked; its stamp, name and type are kept
    // for GetLogFormat, GetLogName and GetLogType.
    LogLineReader reader(m_fd, 0);
    LogLine line;
    for (std::size_t i = 0; i < kHeaderLines && reader.next(line); ++i) {
        if (i == 0) m_stamp = line.text;
        if (i == 2) m_name = line.text;
        if (i == 3) m_logType = numberOf(line.text);
    }
    return S_OK;
} catch (...) {
    return platform::com::entryFault("Czo_LogRead::CloseLogFile");
}

HRESULT Czo_LogRead::GetLogFormat(BSTR* pszLogFormat) try {
    if (pszLogFormat) *pszLogFormat = SysAllocString(m_stamp.c_str());
    return S_OK;
} catch (...) {
    return platform::com::entryFault("Czo_LogRead::GetLogFormat");
}

HRESULT Czo_LogRead::GetLogName(BSTR* pszLogName) try {
    if (pszLogName) *pszLogName = SysAllocString(m_name.c_str());
    return S_OK;
} catch (...) {
    return platform::com::entryFault("Czo_LogRead::GetLogName");
}

HRESULT Czo_LogRead::GetLogType(short* nLogType) try {
    if (nLogType) *nLogType = m_logType;
    return S_OK;
} catch (...) {
    return platform::com::entryFault("Czo_LogRead::GetLogType");
}

HRESULT Czo_LogRead::give(const ParsedEntry& entry, short* nEventID, BSTR* pszDate, BSTR* pszTime, short* nFlags,
                          BSTR* pszUserName, short* nStatus, BSTR* pszInfo) {
    if (nEventID) *nEventID = numberOf(entry.eventId);
    if (nFlags) *nFlags = numberOf(entry.flags);
    if (nStatus) *nStatus = numberOf(entry.status);
    if (!giveText(entry.date, pszDate) || !giveText(entry.time, pszTime) || !giveText(entry.user, pszUserName) ||
        !giveText(entry.info, pszInfo)) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT Czo_LogRead::GetFirstLogEntry(short* nEventID, BSTR* pszDate, BSTR* pszTime, short* nFlags,
                                      BSTR* pszUserName, short* nStatus, BSTR* pszInfo) try {
    if (m_fd < 0) {
        return fail(LEERR_LOGFILE_NOT_OPEN);
    }
    m_entries.clear();
    m_cursor = 0;
    LogLineReader reader(m_fd, 0);
    LogLine line;
    DWORD index = 0;
    bool started = false;
    while (reader.next(line)) {
        if (!started) {
            started = lineIndex(line.text, index);
            if (!started) {
                continue;
            }
        }
        ParsedEntry entry;
        if (parseEntryLine(line.text, entry)) {
            m_entries.push_back(std::move(entry));
        }
    }
    if (m_entries.empty()) {
        return fail(LEERR_NO_MORE_ENTRIES);
    }
    m_cursor = 1;
    return give(m_entries.front(), nEventID, pszDate, pszTime, nFlags, pszUserName, nStatus, pszInfo);
} catch (...) {
    return platform::com::entryFault("Czo_LogRead::GetFirstLogEntry");
}

HRESULT Czo_LogRead::GetNextLogEntry(short* nEventID, BSTR* pszDate, BSTR* pszTime, short* nFlags,
                                     BSTR* pszUserName, short* nStatus, BSTR* pszInfo) try {
    if (m_cursor == 0 || m_cursor >= m_entries.size()) {
        return fail(LEERR_NO_MORE_ENTRIES);
    }
    return give(m_entries[m_cursor++], nEventID, pszDate, pszTime, nFlags, pszUserName, nStatus, pszInfo);
} catch (...) {
    return platform::com::entryFault("Czo_LogRead::GetNextLogEntry");
}

HRESULT Czo_LogRead::GetEventName(short nEventID, BSTR* szEventName) try {
    if (!szEventName) {
        return E_POINTER;
    }
    const char* text = nEventID >= 0 && nEventID < kEventNameCount ? m_eventNames[std::size_t(nEventID)].c_str()
                                                                     : "No description";
    *szEventName = SysAllocString(text);
    return S_OK;
} catch (...) {
    return platform::com::entryFault("Czo_LogRead::GetEventName");
}
