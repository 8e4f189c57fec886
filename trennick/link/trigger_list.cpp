#include "trennick/link/trigger_list.h"

#include "trennick/link/link_trace.h"

#include <algorithm>
#include <cstring>

namespace trennick {

namespace {
WORD readU16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
constexpr DWORD kRecordHeadBytes = 4;
// A type-1 record must reach its value field to mean anything.
constexpr DWORD kTriggerFieldsBytes = 10;
}  // namespace

CTRiggerList::CTRiggerList() = default;
CTRiggerList::~CTRiggerList() = default;

BOOL CTRiggerList::DispatchTriggerList(const BYTE* list, DWORD length, tagTrigger* out, BOOL flag) {
    if (list == nullptr) {
        return TRUE;
    }
    DWORD offset = 0;
    while (offset < length) {
        if (length - offset < kRecordHeadBytes) {
            linkTrace(1, "CTRiggerList::DispatchTriggerList->%lu bytes left, too few for a record",
                      static_cast<unsigned long>(length - offset));
            break;
        }
        const WORD recordLength = readU16(list + offset);
        const WORD type = readU16(list + offset + 2);
        if (recordLength < kRecordHeadBytes || recordLength > length - offset) {
            linkTrace(1, "CTRiggerList::DispatchTriggerList->Record of %u bytes at offset %lu does not fit the list of %lu",
                      static_cast<unsigned>(recordLength), static_cast<unsigned long>(offset),
                      static_cast<unsigned long>(length));
            break;
        }
        if (type == kTriggerRecordType) {
            if (recordLength < kTriggerFieldsBytes) {
                linkTrace(1, "CTRiggerList::DispatchTriggerList->Trigger record of %u bytes is too short",
                          static_cast<unsigned>(recordLength));
            } else {
                tagTriggerListRecord record{};
                std::memcpy(&record, list + offset, std::min<DWORD>(recordLength, sizeof record));
                if (OnTrigger(record, flag) && out != nullptr) {
                    *out = m_table;
                }
            }
        } else {
            linkTrace(5, "CTRiggerList::DispatchTriggerList->Record of Type %d not supported\n", type);
        }
        offset += recordLength;
    }
    return TRUE;
}

BOOL CTRiggerList::OnTrigger(const tagTriggerListRecord& record, BOOL flag) {
    const WORD adapter = record.adapter;
    const WORD input = record.input;
    if (adapter >= kMaxAdapters || input >= kCamerasPerAdapter) {
        linkTrace(1, "CTRiggerList::OnTrigger adapter %u input %u outside the table",
                  static_cast<unsigned>(adapter), static_cast<unsigned>(input));
        return FALSE;
    }
    const WORD value = flag ? WORD{1} : static_cast<WORD>(record.value);
    m_table.entries[adapter][input][0] = value;
    m_table.entries[adapter][input][1] = value;
    return TRUE;
}

}  // namespace trennick
