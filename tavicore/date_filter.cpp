// The date filter of the event lists and the date of the oldest recorded event,
// both kept in the registry as "day/month/year hour:minute:second" texts.

#include "tavicore/event_file.h"

#include "common/kc_reg.h"
#include "platform/time_convert.h"
#include "tavicore/event_file_internal.h"
#include "tavicore/product_key.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace eventfile;

namespace {

constexpr const char* kFilterSection = "Filter";
constexpr const char* kDateSection = "Filter\\DateFilter";

CKcReg settings(const char* section) { return ProductKey(section); }

// Parses "%ld/%ld/%ld %ld:%ld:%ld" (day, month, year, hour, minute, second);
// every field must be there and be a number.
bool parseDate(const char* text, SYSTEMTIME* out) {
    long fields[6] = {};
    const char* p = text;
    for (int i = 0; i < 6; ++i) {
        while (*p == ' ' || *p == '/' || *p == ':') {
            if (i == 0) {
                return false;
            }
            ++p;
        }
        char* end = nullptr;
        fields[i] = std::strtol(p, &end, 10);
        if (end == p || fields[i] < 0 || fields[i] > 0xFFFF) {
            return false;
        }
        p = end;
        if (i < 5 && *p != '/' && *p != ' ' && *p != ':') {
            return false;
        }
    }
    SYSTEMTIME st{};
    st.wDay = WORD(fields[0]);
    st.wMonth = WORD(fields[1]);
    st.wYear = WORD(fields[2]);
    st.wHour = WORD(fields[3]);
    st.wMinute = WORD(fields[4]);
    st.wSecond = WORD(fields[5]);
    std::uint64_t check = 0;
    if (!systemTimeToTicks(st, &check)) {
        return false;
    }
    ticksToSystemTime(check, out);
    return true;
}

bool validDate(const SYSTEMTIME& st) {
    std::uint64_t ignored = 0;
    return systemTimeToTicks(st, &ignored);
}

}  // namespace

int CEventFile::evFilterRead(const char* valueName, SYSTEMTIME& out) {
    SYSTEMTIME now{};
    ticksToSystemTime(localNowTicks(), &now);
    now.wMilliseconds = 0;
    out = now;
    if (valueName == nullptr) {
        return 0;
    }
    char text[CKcReg::kTextBytes] = {};
    DWORD size = sizeof text;
    CKcReg reg = settings(kDateSection);
    if (!reg.GetString(kDateSection, valueName, text, &size)) {
        return 1;  // not stored: the current local time stands for it
    }
    SYSTEMTIME parsed{};
    if (!parseDate(text, &parsed)) {
        trace(5, "CEventFile::evFilterRead() %s holds no date: \"%s\"", valueName, text);
        return 0;
    }
    out = parsed;
    return 1;
}

int CEventFile::evFilterSet() {
    m_filterType = 0;
    m_filterFrom = FILETIME{};
    m_filterTo = FILETIME{};
    DWORD type = 0;
    CKcReg reg = settings(kFilterSection);
    if (!reg.GetDword(kFilterSection, "Filter Type", &type)) {
        type = 0;
    }
    SYSTEMTIME from{}, to{};
    bool ok = evFilterRead("From Date", from) != 0;
    ok = evFilterRead("To Date", to) != 0 && ok;
    std::uint64_t fromTicks = 0, toTicks = 0;
    if (!systemTimeToTicks(from, &fromTicks) || !systemTimeToTicks(to, &toTicks)) {
        ok = false;
    }
    m_filterFrom = fileTime(fromTicks);
    m_filterTo = fileTime(toTicks);
    // A date range whose dates cannot be read would hide every event for no
    // visible reason: it is reported and the filter stays off.
    m_filterType = ok || type != 1 ? type : 0;
    return ok ? 1 : 0;
}

int CEventFile::evFilter(const tagEventHeader* header) {
    if (m_filterType != 1) {
        return 1;
    }
    if (header == nullptr) {
        return 0;
    }
    std::uint64_t start = ticks(header->ftStartTime);
    start -= start % platform::kFileTicksPerSecond;  // milliseconds do not count
    if (start >= ticks(m_filterFrom) && start <= ticks(m_filterTo)) {
        trace(5, "CEventFile::evFilter() File is in the Filter range");
        return 1;
    }
    trace(5, "CEventFile::evFilte() File is out of Filter range");
    return 0;
}

void CEventFile::evFindearliest(const tagEventHeader& header) {
    std::uint64_t kept = 0;
    std::uint64_t start = ticks(header.ftStartTime);
    if (!systemTimeToTicks(m_earliestDate, &kept) || kept > start) {
        SYSTEMTIME st{};
        if (ticksToSystemTime(start, &st)) {
            m_earliestDate = st;
        }
    }
}

int CEventFile::evWriteEarliest() {
    if (!validDate(m_earliestDate)) {
        return 0;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%ld/%ld/%ld %ld:%ld:%ld", long(m_earliestDate.wDay),
                  long(m_earliestDate.wMonth), long(m_earliestDate.wYear),
                  long(m_earliestDate.wHour), long(m_earliestDate.wMinute),
                  long(m_earliestDate.wSecond));
    CKcReg reg = settings(kDateSection);
    return reg.SetString(kDateSection, "First Event Date", text) ? 1 : 0;
}
