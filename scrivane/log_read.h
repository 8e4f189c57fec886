#pragma once
// Czo_LogRead: the activity log reader object (Scrivane.zo_LogRead).
//
// It opens a log for shared reading, takes no lock, and hands out the entries
// of the snapshot that GetFirstLogEntry reads, one by one, in file order. Lines
// that are no entry are skipped. An object is used on the thread that created
// it; failures are traced, kept as the last error and returned as 0x80040000 OR
// the code.

#include "platform/com/com_object.h"
#include "platform/com/connection_point.h"
#include "platform/com/dispatch.h"
#include "scrivane/log_format.h"
#include "scrivane/scrivane_lib.h"

#include <array>
#include <span>
#include <string>
#include <vector>

class Czo_LogRead
    : public platform::com::ComObject<Czo_LogRead, platform::com::DispatchImpl<Czo_LogRead, Izo_LogRead>,
                                      platform::com::ConnectionPointContainerImpl<Czo_LogRead>> {
public:
    Czo_LogRead();
    ~Czo_LogRead() override;

    static std::span<const platform::com::DispatchMember<Czo_LogRead>> dispatchMembers();
    std::span<platform::com::ConnectionPoint* const> connectionPoints() { return m_points; }

    HRESULT CloseLogFile() override;
    HRESULT OpenLogFile(BSTR szFilePath) override;
    HRESULT GetLogFormat(BSTR* pszLogFormat) override;
    HRESULT GetLogName(BSTR* pszLogName) override;
    HRESULT GetLogType(short* nLogType) override;
    HRESULT GetFirstLogEntry(short* nEventID, BSTR* pszDate, BSTR* pszTime, short* nFlags, BSTR* pszUserName,
                             short* nStatus, BSTR* pszInfo) override;
    HRESULT GetNextLogEntry(short* nEventID, BSTR* pszDate, BSTR* pszTime, short* nFlags, BSTR* pszUserName,
                            short* nStatus, BSTR* pszInfo) override;
    HRESULT GetEventName(short nEventID, BSTR* szEventName) override;

    int lastError() const { return m_lastError; }

private:
    HRESULT fail(int code);
    HRESULT give(const scrivane::ParsedEntry& entry, short* nEventID, BSTR* pszDate, BSTR* pszTime, short* nFlags,
                 BSTR* pszUserName, short* nStatus, BSTR* pszInfo);

    int m_fd = -1;
    int m_lastError = LEERR_NOERROR;
    std::string m_stamp;
    std::string m_name;
    short m_logType = 0;
    std::vector<scrivane::ParsedEntry> m_entries;
    std::size_t m_cursor = 0;
    std::array<std::string, scrivane::kEventNameCount> m_eventNames;

    platform::com::ConnectionPoint m_events{*this, DIID__Izo_LogReadEvents};
    std::array<platform::com::ConnectionPoint*, 1> m_points{&m_events};
};
