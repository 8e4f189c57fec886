#pragma once
// Typed access to the settings database's registry values under the instance's
// product key, for the settings database's own sources.

#include "common/kc_reg.h"
#include "platform/types.h"

#include <cstddef>
#include <cstring>
#include <span>
#include <string>

namespace settings_store {

// How a read treats a value that is missing (or of another type).
enum class Missing {
    UseDefault,        // the field takes its default; nothing is written
    WriteDefault,      // the default is also written, so the value exists afterwards
};

// One field of a packed settings record kept as one registry value. Numbers are
// 16- or 32-bit fields stored as REG_DWORD (widened on writing, cut on reading);
// texts are fixed fields of `bytes` holding at most `maxChars` characters. A
// field of an array (`stride` > 0) is element `index` of it. The default is the
// same field of a defaults record when the table is read with one, else `number`
// or `text`. Fields are reached by offset, never by reference: the records are
// packed.
template <class Record>
struct Field {
    enum class Kind { Number, Text };
    const char* name;
    Kind kind;
    std::size_t offset;
    std::size_t bytes;
    std::size_t stride = 0;
    DWORD number = 0;
    const char* text = nullptr;
    std::size_t maxChars = 0;
};

// A number field, its default when the table is read without a defaults record.
#define SETTINGS_NUMBER(Record, member, valueName, def)                                                    \
    settings_store::Field<Record> {                                                                    \
        valueName, settings_store::Field<Record>::Kind::Number, offsetof(Record, member), sizeof(Record::member), 0, \
            static_cast<DWORD>(def)                                                                    \
    }
// A number field of an array member: element `index` of the read or write.
#define SETTINGS_NUMBER_AT(Record, member, valueName)                                                      \
    settings_store::Field<Record> {                                                                    \
        valueName, settings_store::Field<Record>::Kind::Number, offsetof(Record, member),               \
            sizeof(Record::member[0]), sizeof(Record::member[0])                                      \
    }
// A text field of at most `maxChars` characters.
#define SETTINGS_TEXT(Record, member, valueName, maxChars, def)                                            \
    settings_store::Field<Record> {                                                                    \
        valueName, settings_store::Field<Record>::Kind::Text, offsetof(Record, member), sizeof(Record::member), 0, 0, \
            def, maxChars                                                                             \
    }

// One group of reads and writes under the instance's product key
// (common/product_registry.h); the instance id is taken when the object is built. Failures are
// traced by the settings class and leave the caller's default.
class Store {
public:
    Store();

    // The stored number, or `def` when it cannot be read; nothing is written.
    DWORD readDword(const std::string& section, const char* name, DWORD def);
    // The stored number, or `def` written in its place when it cannot be read,
    // so the value exists afterwards.
    DWORD readDwordBack(const std::string& section, const char* name, DWORD def);
    void writeDword(const std::string& section, const char* name, DWORD value);
    // Reads a text into a field of `fieldBytes` holding at most `maxChars`
    // characters (zero-filled behind the text). A longer stored text is cut; a
    // missing one gives `def`, cut the same way.
    void readText(const std::string& section, const char* name, char* field, std::size_t fieldBytes,
                  std::size_t maxChars, const char* def);
    // Writes at most `maxChars` characters of a field.
    void writeText(const std::string& section, const char* name, const char* field, std::size_t maxChars);
    bool readBinary(const std::string& section, const char* name, void* data, DWORD size);
    void writeBinary(const std::string& section, const char* name, const void* data, DWORD size);
    // Opens the section's key, creating it when missing.
    void createKey(const std::string& section);

    // Reads every field of a table into `record`, in the table's order; the
    // defaults come from `defaults` when given (see Field). `missing` applies to
    // numbers; a missing text takes its default and is not written. `index`
    // picks the element of array fields.
    template <class Record>
    void readFields(const std::string& section, std::span<const Field<Record>> fields, Record& record,
                    const Record* defaults, Missing missing, std::size_t index = 0);
    // Writes every field of a table from `record`, in the table's order.
    template <class Record>
    void writeFields(const std::string& section, std::span<const Field<Record>> fields, const Record& record,
                     std::size_t index = 0);

private:
    std::string m_instanceId;
    CKcReg m_reg;
};

// "<base>\<index>".
std::string sub(const std::string& base, int index);

// Copies the table's fields (only those) from one record to another.
template <class Record>
void copyFields(std::span<const Field<Record>> fields, const Record& from, Record& to, std::size_t index = 0) {
    for (const auto& f : fields) {
        const std::size_t at = f.offset + index * f.stride;
        std::memcpy(reinterpret_cast<BYTE*>(&to) + at, reinterpret_cast<const BYTE*>(&from) + at, f.bytes);
    }
}

namespace detail {

inline DWORD getNumber(const void* record, std::size_t at, std::size_t bytes) {
    const BYTE* p = static_cast<const BYTE*>(record) + at;
    if (bytes == sizeof(WORD)) {
        WORD w;
        std::memcpy(&w, p, sizeof w);
        return w;
    }
    DWORD d;
    std::memcpy(&d, p, sizeof d);
    return d;
}

inline void setNumber(void* record, std::size_t at, std::size_t bytes, DWORD value) {
    BYTE* p = static_cast<BYTE*>(record) + at;
    if (bytes == sizeof(WORD)) {
        const WORD w = static_cast<WORD>(value);
        std::memcpy(p, &w, sizeof w);
    } else {
        std::memcpy(p, &value, sizeof value);
    }
}

}  // namespace detail

template <class Record>
void Store::readFields(const std::string& section, std::span<const Field<Record>> fields, Record& record,
                       const Record* defaults, Missing missing, std::size_t index) {
    using Kind = typename Field<Record>::Kind;
    for (const auto& f : fields) {
        const std::size_t at = f.offset + index * f.stride;
        BYTE* field = reinterpret_cast<BYTE*>(&record) + at;
        if (f.kind == Kind::Number) {
            const DWORD def = defaults != nullptr ? detail::getNumber(defaults, at, f.bytes) : f.number;
            const DWORD value =
                missing == Missing::WriteDefault ? readDwordBack(section, f.name, def) : readDword(section, f.name, def);
            detail::setNumber(&record, at, f.bytes, value);
        } else {
            // A default field may fill its room without a terminator.
            std::string def;
            if (defaults != nullptr) {
                const char* text = reinterpret_cast<const char*>(defaults) + at;
                def.assign(text, ::strnlen(text, f.bytes));
            } else if (f.text != nullptr) {
                def = f.text;
            }
            readText(section, f.name, reinterpret_cast<char*>(field), f.bytes, f.maxChars, def.c_str());
        }
    }
}

template <class Record>
void Store::writeFields(const std::string& section, std::span<const Field<Record>> fields, const Record& record,
                        std::size_t index) {
    using Kind = typename Field<Record>::Kind;
    for (const auto& f : fields) {
        const std::size_t at = f.offset + index * f.stride;
        if (f.kind == Kind::Number) {
            writeDword(section, f.name, detail::getNumber(&record, at, f.bytes));
        } else {
            writeText(section, f.name, reinterpret_cast<const char*>(&record) + at, f.maxChars);
        }
    }
}

}  // namespace settings_store
