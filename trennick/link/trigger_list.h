#pragma once
// CTRiggerList: turns the trigger list a site sends inside a trigger
// notification into the fixed 384-byte table of trigger states per adapter and
// input (tagTrigger). Records the decoder does not know, or whose adapter or
// input lies outside the table, are skipped; a record that claims more bytes
// than the list holds ends the walk. One thread at a time; nothing throws.

#include "platform/types.h"
#include "tavicore/record_convert.h"

namespace trennick {

#pragma pack(push, 1)
// A type-1 record of the trigger list.
struct tagTriggerListRecord {
    WORD length;   // bytes of the record, this header included
    WORD type;     // 1: a trigger
    WORD adapter;
    WORD input;
    SHORT value;
    WORD spare;
};
static_assert(sizeof(tagTriggerListRecord) == 12);
#pragma pack(pop)

inline constexpr WORD kTriggerRecordType = 1;

class CTRiggerList {
public:
    CTRiggerList();
    virtual ~CTRiggerList();
    CTRiggerList(const CTRiggerList&) = delete;
    CTRiggerList& operator=(const CTRiggerList&) = delete;

    // Walks the list; after each applied record the whole table is copied to
    // `out`, so an empty or useless list leaves `out` untouched. `flag` set
    // makes every applied trigger 1 instead of the record's value. TRUE.
    virtual BOOL DispatchTriggerList(const BYTE* list, DWORD length, tagTrigger* out, BOOL flag);
    // Both words of the record's entry := its value, or 1 with the flag. TRUE
    // (FALSE for an adapter or input outside the table, which is left alone).
    virtual BOOL OnTrigger(const tagTriggerListRecord& record, BOOL flag);

    const tagTrigger& Table() const { return m_table; }

private:
    tagTrigger m_table{};
};

}  // namespace trennick
