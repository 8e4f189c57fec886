#pragma once
// Typed settings in one section of one private-profile (ini) file.

#include "platform/types.h"

// CKcIni reads and writes the keys of one section of one ini file; it is built
// on the stack for one group of reads or writes. A bare file name lies in the
// Windows folder. Every read first puts the default in the caller's output, so a
// missing file, section or key gives the default; write failures are returned,
// never thrown. One object belongs to one thread; the file itself may be used by
// any number of objects, threads and processes at once.
class CKcIni {
public:
    CKcIni() = default;
    CKcIni(const char* file, const char* section) { Open(file, section); }
    virtual ~CKcIni() = default;

    // Keeps the file, changes the section.
    virtual void SetSection(const char* section);
    // Takes the file name (at most 259 characters kept) and the section.
    virtual void Open(const char* file, const char* section);

    // The first character of the value; the default when the value is missing or
    // empty. Returns the character read, 0 when the default was used.
    virtual int GetChar(const char* key, char* out, char defaultValue);
    // The value as a number (atol of at most 127 characters), also returned;
    // missing or empty: the default, result 0.
    virtual int GetInt(const char* key, int* out, int defaultValue);
    // Copies the default (or "" when none) into the buffer, then the value, cut
    // to size - 1 characters and terminated. Returns the characters copied.
    virtual int GetString(const char* key, char* buffer, int size, const char* defaultValue);
    // The value (at most 31 characters) read as hexadecimal digits up to the
    // first other character; missing or empty: the default. Returns the number
    // read, 0 when the default was used.
    virtual int GetHex(const char* key, int* out, int defaultValue);
    // "true", "yes", "1" give 1 and "false", "no", "0" give 0, in any case; any
    // other text keeps the default. Returns the value, 0 when it was missing.
    virtual int GetBool(const char* key, int* out, int defaultValue);

    // The writes return whether the file was written.
    virtual BOOL WriteInt(const char* key, int value);
    // A null text removes the key, a null key removes the section.
    virtual BOOL WriteString(const char* key, const char* text);
    virtual BOOL WriteHex(const char* key, int value);
    virtual BOOL WriteBool(const char* key, int value);

    // Read, then write back what was read, so a missing key appears with its
    // default. Each returns what its read returned.
    virtual int ReadWriteInt(const char* key, int* out, int defaultValue);
    virtual int ReadWriteString(const char* key, char* buffer, int size, const char* defaultValue);
    virtual int ReadWriteHex(const char* key, int* out, int defaultValue);
    virtual int ReadWriteBool(const char* key, int* out, int defaultValue);

    // Removes the key; a null key does nothing and fails.
    virtual BOOL DeleteKey(const char* key);
    virtual BOOL DeleteSection();
    // Deletes the file; returns whether it was deleted.
    virtual BOOL DeleteFile();
    virtual BOOL Flush();
    // Copies the file name into a buffer of at least 260 characters.
    virtual void GetFileName(char* buffer);
    // The characters of the named section's "key=value" list read into 256
    // bytes: 0 when the section is missing or has no keys.
    virtual int HasSection(const char* section);

private:
    char m_fileName[MAX_PATH] = {};
    char m_section[MAX_PATH] = {};
};
