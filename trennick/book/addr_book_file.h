#pragma once
// CAddrBookFile: the address book of sites that sent their business card,
// kept in "AddrBook.kiv": the magic "KEAB", the version "1000", then records
// with no count. A group record is 34 bytes, "0:" and the name padded with
// NUL bytes; an entry record is a view-state prefix ("1:", "2:", "3:") and
// four texts (name, phone, information, picture), each ended by byte 0x01.
// An entry belongs to the group record before it.
//
// Loading checks every record against the bytes left and cuts each text to
// its field; groups keep their order across a save and a load. A save writes
// a temporary file and renames it over the book, so a failed save leaves the
// old book whole. The book opens no window: what it tells or asks its user,
// and the dialogs it runs, go through the AddrBookUi it is given (the
// program gives it the dialogs of addr_book_dialogs.h); without one it tells
// and asks nobody, as when the program runs unattended. GUI thread only.

#include "platform/types.h"
#include "trennick/link/cards.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace trennick {

inline constexpr std::size_t kAbNameBytes = 64;
inline constexpr std::size_t kAbPhoneBytes = 32;
inline constexpr std::size_t kAbInfoBytes = 512;
inline constexpr std::size_t kAbPictureBytes = 260;
// A group's name fits the 34-byte record with its prefix and a terminator.
inline constexpr std::size_t kAbGroupNameChars = 31;
inline constexpr std::size_t kAbGroupRecordBytes = 34;
// The longest entry record the loader reads at a time.
inline constexpr std::size_t kAbRecordWindow = 897;

struct AddrBookEntry {
    void* treeItem = nullptr;  // the dialog's item while the dialog shows it
    char name[kAbNameBytes] = {};
    char phone[kAbPhoneBytes] = {};
    char info[kAbInfoBytes] = {};
    char picture[kAbPictureBytes] = {};
    BYTE viewState = 0;  // 0 plain, 1 its group is expanded, 2 the selected entry

    std::string Name() const;
    std::string Phone() const;
    std::string Info() const;
    std::string Picture() const;
    // Copies the texts, each cut to its field.
    void SetTexts(const std::string& name, const std::string& phone, const std::string& info,
                  const std::string& picture);
};

struct AddrBookGroup {
    std::string name;  // empty once the dialog deleted the group: not saved
    std::vector<std::unique_ptr<AddrBookEntry>> entries;
};

// How a load ended.
enum class AddrBookLoad { Loaded, NoFile, NotAnAddressBook, WrongVersion, Empty };

class CAddrBookFile;

// What the book asks of the people using it: its messages and its dialogs.
class AddrBookUi {
public:
    virtual ~AddrBookUi() = default;
    // Whether someone can answer a dialog now.
    virtual bool canAsk() = 0;
    // Tells message `id` (or asks it, for a question), with `argument` for
    // its text; the answer (512 yes).
    virtual int message(UINT id, int kind, const std::string& argument) = 0;
    // Runs the address book dialog over `book`: IDOK or IDCANCEL.
    virtual int runBook(CAddrBookFile& book, QWidget* parent, AddrBookEntry* select, AddrBookEntry* buffer) = 0;
    // Runs the dialog that files `card` into a group of `book`: IDOK (with
    // the group's name in `group`) or IDCANCEL.
    virtual int runAddCard(CAddrBookFile& book, QWidget* parent, const AddrBookEntry& card, std::string& group) = 0;
    // Tells, without waiting for an answer, what was done without asking.
    virtual void report(const std::string& text, const std::string& caption) = 0;
};

class CAddrBookFile {
public:
    CAddrBookFile();
    ~CAddrBookFile();
    CAddrBookFile(const CAddrBookFile&) = delete;
    CAddrBookFile& operator=(const CAddrBookFile&) = delete;

    void SetFileName(const std::string& path, DWORD owner);
    const std::string& FileName() const { return m_path; }
    // The user named in the activity-log entries of the dialogs.
    void SetLogUser(const std::string& user) { m_logUser = user; }
    const std::string& LogUser() const { return m_logUser; }
    // Who the book tells and asks (null: nobody).
    void SetUi(AddrBookUi* ui) { m_ui = ui; }

    // Replaces the book by the file's content; a missing, foreign or empty
    // file gives the default book (one group "Sites"). A wrong magic is told
    // to the user (message 4240) through the book's AddrBookUi.
    AddrBookLoad Load();
    // Writes the whole book. False when it could not be written: too many open
    // files (message 4110) and a full disk (message 4080) are told to the user
    // through the book's AddrBookUi; the book on disk stays as it was.
    bool Save();

    // The first entry of any group whose name equals the card's, without
    // regard to case; null when none.
    AddrBookEntry* FindEntry(const tagBusinessCard& card);
    AddrBookEntry* FindEntry(const std::string& name);

    // Runs the address book dialog over the book with `select` selected. OK
    // copies the selected entry into `buffer` when one is given and saves the
    // book; Cancel loads it again from the file. Returns IDOK or IDCANCEL.
    // Without anyone to answer, the book is loaded again and IDCANCEL returned.
    int ShowDialog(QWidget* parent, AddrBookEntry* select, AddrBookEntry* buffer);
    // Merges a card received from a site: a known site whose card differs is
    // updated when the user agrees, a new site is filed into a group. Without
    // anyone to answer (unattended), a new card is filed into the first group
    // and a known one is left as it was, so no card is lost.
    int AddReceivedCard(QWidget* parent, const tagBusinessCard& card);

    std::deque<AddrBookGroup>& Groups() { return m_groups; }
    const std::deque<AddrBookGroup>& Groups() const { return m_groups; }
    // The group of that name (exact), or null.
    AddrBookGroup* FindGroup(const std::string& name);
    AddrBookGroup& AddGroup(const std::string& name);
    // Files a copy of `card` into the group named `groupName` (cut to a group
    // name's length), made at the end when there is none; an empty name files
    // it into the first group with a name ("Sites" made when none has one).
    // Returns the group's name.
    std::string FileCard(const AddrBookEntry& card, const std::string& groupName);

private:
    void setDefaultBook();
    bool canAsk() const { return m_ui != nullptr && m_ui->canAsk(); }
    int message(UINT id, int kind, const std::string& argument = {});

    std::string m_path;
    DWORD m_owner = 0;
    std::string m_logUser;
    AddrBookUi* m_ui = nullptr;
    std::deque<AddrBookGroup> m_groups;
};

// The card's texts as an entry.
AddrBookEntry EntryFromCard(const tagBusinessCard& card);

}  // namespace trennick
