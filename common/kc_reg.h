#pragma once
// Typed settings in the registry, under the product's key.

#include "platform/registry.h"
#include "platform/types.h"

#include <string>

// CKcReg reads and writes the values of one product key,
// "Software\<company>\<product>[\<version>]\<section>" under a root key (normally
// HKEY_CURRENT_USER). It is built on the stack for one group of reads or writes.
// An operation opens (for a read) or creates (for a write) its key with full
// access; the key stays open for the next operation on the same section (its
// path is looked up once) and closes with the object. A failed open,
// query or write is traced at level 1 and reported by a zero result; nothing is
// thrown. One object belongs to one thread; the registry itself may be used by any
// number of objects, threads and processes at once.
//
// Texts: a text read never writes past the buffer the caller hands over and
// always leaves it terminated. `*size` on entry is the buffer's size in bytes,
// terminator included; a stored text longer than the room is cut to size - 1
// characters (the stored value stays as it is).
//
// A null section argument means the current section (SetSection).
class CKcReg {
public:
    // A null company gives "Halvorin", a null product "Ostrel"; a null or empty
    // version leaves out the version level. An empty section is the key path itself.
    CKcReg(const char* company, const char* product, const char* version, const char* section,
           platform::HKEY rootKey = platform::HKEY_CURRENT_USER);
    virtual ~CKcReg();
    CKcReg(const CKcReg&) = delete;
    CKcReg& operator=(const CKcReg&) = delete;

    // Reads a REG_BINARY value. `*size`: the room on entry, the bytes read on
    // success. A larger stored value fails the read.
    virtual BOOL GetBinary(const char* section, const char* name, BYTE* buffer, DWORD* size);
    // Reads a REG_SZ value (see the class comment). On success `*size` becomes the
    // length of the text now in the buffer plus one.
    virtual BOOL GetString(const char* section, const char* name, char* buffer, DWORD* size);
    // Reads a REG_DWORD value of 4 bytes.
    virtual BOOL GetDword(const char* section, const char* name, DWORD* value);
    // Writes REG_SZ of the text's length, without the terminator.
    virtual BOOL SetString(const char* section, const char* name, const char* text);
    virtual BOOL SetBinary(const char* section, const char* name, const BYTE* data, DWORD size);
    virtual BOOL SetDword(const char* section, const char* name, const DWORD* value);
    // The reads with a default: the caller's text, buffer or value holds the
    // default on entry. When the read fails (missing, other type, binary larger
    // than the room) the default is written in place of the stored value and
    // left in the caller's output. They return 1 (0 only for null arguments).
    // A text default is written with its terminator; `*size` then becomes its
    // length + 1. A binary default is written with the size given on entry.
    virtual BOOL GetStringDefault(const char* section, const char* name, char* text, DWORD* size);
    virtual BOOL GetBinaryDefault(const char* section, const char* name, BYTE* buffer, DWORD* size);
    virtual BOOL GetDwordDefault(const char* section, const char* name, DWORD* value);

    virtual void SetRootKey(platform::HKEY rootKey);
    // The current section and value name, at most 127 characters each kept.
    virtual void SetSection(const char* section);
    virtual void SetValueName(const char* name);

    // The default of ReadString (at most 255 characters kept; null gives "") and of
    // ReadDword. Narrower numbers are sign- or zero-extended as their type is;
    // `long` and `unsigned long` keep their low 32 bits.
    virtual CKcReg& SetDefault(const std::string& text);
    virtual CKcReg& SetDefault(char* text);
    virtual CKcReg& SetDefault(const unsigned char* text);
    virtual CKcReg& SetDefault(unsigned char* text);
    virtual CKcReg& SetDefault(int value);
    virtual CKcReg& SetDefault(long value);
    virtual CKcReg& SetDefault(unsigned long value);
    virtual CKcReg& SetDefault(unsigned short value);
    virtual CKcReg& SetDefault(short value);
    virtual CKcReg& SetDefault(char value);
    virtual CKcReg& SetDefault(unsigned char value);
    virtual CKcReg& SetDefault(signed char value);
    virtual CKcReg& SetDefault(const char* text);
    virtual CKcReg& SetDefault(DWORD value);

    // Writes the current value of the current section: texts as REG_SZ, numbers as
    // REG_DWORD (extended and cut as SetDefault does). Returns whether it was written.
    virtual BOOL Write(const std::string& text);
    virtual BOOL Write(char* text);
    virtual BOOL Write(const unsigned char* text);
    virtual BOOL Write(int value);
    virtual BOOL Write(long value);
    virtual BOOL Write(unsigned long value);
    virtual BOOL Write(unsigned short value);
    virtual BOOL Write(short value);
    virtual BOOL Write(char value);
    virtual BOOL Write(unsigned char value);
    virtual BOOL Write(signed char value);
    virtual BOOL Write(const char* text);
    virtual BOOL Write(DWORD value);

    // The current value as a number; the default number when it cannot be read.
    // Nothing is written.
    virtual DWORD ReadDword();
    // The current value as text of at most 255 characters, in the object's read
    // buffer (valid until the next ReadString); the default text when it cannot
    // be read. Nothing is written.
    virtual const char* ReadString();

    // Conversions of the current value: numbers through ReadDword, texts through
    // ReadString.
    virtual operator int();
    virtual operator unsigned int();
    virtual operator long();
    virtual operator unsigned long();
    virtual operator short();
    virtual operator unsigned short();
    virtual operator char();
    virtual operator unsigned char();
    virtual operator const char*();
    virtual operator const unsigned char*();
    virtual operator std::string();

    static constexpr std::size_t kNameBytes = 128;
    static constexpr std::size_t kTextBytes = 256;

private:
    // "<key path>\<section>", the current section for a null one.
    std::string sectionPath(const char* section) const;
    // True when the key kept open is that of `section` under the root in force.
    bool keptKeyIs(const char* section) const;
    // The section's key, kept open while the section stays the same: opened
    // (never created) for a read, opened or created for a write. Null, traced,
    // when it cannot be opened.
    platform::RegistryKey* openKey(const char* section, bool create) const;
    // Closes the kept key when `code` says it is gone (deleted, or the registry
    // reopened); true when the caller should open it again and retry.
    bool forgetIfStale(LONG code) const;
    static void traceQueryFailure(LONG code, const char* name, DWORD type, DWORD size);
    BOOL setTyped(const char* section, const char* name, DWORD type, const BYTE* data,
                  DWORD size) const;

    std::string m_keyPath;
    char m_section[kNameBytes] = {};
    char m_valueName[kNameBytes] = {};
    platform::HKEY m_rootKey = platform::HKEY_CURRENT_USER;
    DWORD m_defaultNumber = 0;
    char m_defaultText[kTextBytes] = {};
    char m_readBuffer[kTextBytes] = {};
    // The last section's open key. A copy of the object starts without one.
    struct OpenKey {
        OpenKey() = default;
        OpenKey(const OpenKey&) {}
        OpenKey& operator=(const OpenKey&) {
            key.close();
            path.clear();
            return *this;
        }
        platform::RegistryKey key;
        std::string path;
        platform::HKEY root = 0;
    };
    mutable OpenKey m_open;
};
