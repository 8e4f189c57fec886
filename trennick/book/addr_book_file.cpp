#include "trennick/book/addr_book_file.h"

#include "common/fixed_text.h"
#include "common/lumo_deb.h"
#include "platform/named_lock.h"
#include "platform/replace_file.h"
#include "tavicore/ui/ui_window.h"  // the dialog results, IDOK and IDCANCEL

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <strings.h>

namespace trennick {

namespace {

constexpr char kMagic[] = "KEAB";
constexpr char kVersion[] = "1000";
constexpr char kDefaultGroup[] = "Sites";
constexpr BYTE kFieldEnd = 0x01;
// A book larger than this is not one this program wrote.
constexpr std::size_t kMaxBookBytes = 64u << 20;
constexpr char kBookLockName[] = "VelmoorAddressBook";
constexpr DWORD kBookLockWaitMs = 5000;

constexpr UINT kMsgNotAnAddressBook = 4240;
constexpr UINT kMsgTooManyFiles = 4110;
constexpr UINT kMsgDiskFull = 4080;
constexpr UINT kMsgUpdateKnownSite = 5130;
constexpr int kMsgKindError = 0;
constexpr int kMsgKindQuestion = 2;
constexpr int kAnswerYes = 512;

bool equalNoCase(const std::string& a, const std::string& b) { return ::strcasecmp(a.c_str(), b.c_str()) == 0; }

BYTE viewStateOfPrefix(char digit) {
    switch (digit) {
    case '2':
        return 1;
    case '3':
        return 2;
    default:
        return 0;
    }
}

char prefixOfViewState(BYTE state) { return state == 1 ? '2' : state == 2 ? '3' : '1'; }

// A text as the book keeps it: without the field separator, which would end
// the field early in the file and shift every record after it (a peer's card
// could forge entries and swallow a group).
std::string storedText(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), static_cast<char>(kFieldEnd)), text.end());
    return text;
}

}  // namespace

std::string AddrBookEntry::Name() const { return fixed_text::Read(name, sizeof name); }
std::string AddrBookEntry::Phone() const { return fixed_text::Read(phone, sizeof phone); }
std::string AddrBookEntry::Info() const { return fixed_text::Read(info, sizeof info); }
std::string AddrBookEntry::Picture() const { return fixed_text::Read(picture, sizeof picture); }

void AddrBookEntry::SetTexts(const std::string& n, const std::string& p, const std::string& i,
                             const std::string& pic) {
    fixed_text::Write(name, storedText(n));
    fixed_text::Write(phone, storedText(p));
    fixed_text::Write(info, storedText(i));
    fixed_text::Write(picture, storedText(pic));
}

AddrBookEntry EntryFromCard(const tagBusinessCard& card) {
    AddrBookEntry entry;
    entry.SetTexts(fixed_text::Read(card.name), fixed_text::Read(card.text2),
                   fixed_text::Read(card.text3), fixed_text::Read(card.picture));
    return entry;
}

CAddrBookFile::CAddrBookFile() = default;
CAddrBookFile::~CAddrBookFile() = default;

void CAddrBookFile::SetFileName(const std::string& path, DWORD owner) {
    m_path = path;
    m_owner = owner;
}

void CAddrBookFile::setDefaultBook() {
    m_groups.clear();
    AddGroup(kDefaultGroup);
}

AddrBookGroup* CAddrBookFile::FindGroup(const std::string& name) {
    for (auto& group : m_groups) {
        if (group.name == name) return &group;
    }
    return nullptr;
}

AddrBookGroup& CAddrBookFile::AddGroup(const std::string& name) {
    m_groups.push_back(AddrBookGroup{name.substr(0, kAbGroupNameChars), {}});
    return m_groups.back();
}

std::string CAddrBookFile::FileCard(const AddrBookEntry& card, const std::string& groupName) {
    std::string name = groupName.substr(0, kAbGroupNameChars);
    AddrBookGroup* group = name.empty() ? nullptr : FindGroup(name);
    if (group == nullptr && name.empty()) {
        for (auto& g : m_groups) {
            if (!g.name.empty()) {
                group = &g;
                break;
            }
        }
        if (group == nullptr) name = kDefaultGroup;
    }
    if (group == nullptr) group = &AddGroup(name);
    group->entries.push_back(std::make_unique<AddrBookEntry>(card));
    group->entries.back()->treeItem = nullptr;
    return group->name;
}

int CAddrBookFile::message(UINT id, int kind, const std::string& argument) {
    return m_ui != nullptr ? m_ui->message(id, kind, argument) : 0;
}

AddrBookLoad CAddrBookFile::Load() {
    m_groups.clear();
    std::ifstream in(m_path, std::ios::binary);
    if (!in) {
        setDefaultBook();
        return AddrBookLoad::NoFile;
    }
    // Read whole, but never more than a book can hold.
    in.seekg(0, std::ios::end);
    const auto fileBytes = static_cast<std::size_t>(std::max<std::streamoff>(0, in.tellg()));
    in.seekg(0, std::ios::beg);
    std::string bytes(std::min(fileBytes, kMaxBookBytes + 1), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (bytes.size() < 4 || ::strncasecmp(bytes.data(), kMagic, 4) != 0) {
        message(kMsgNotAnAddressBook, kMsgKindError);
        setDefaultBook();
        return AddrBookLoad::NotAnAddressBook;
    }
    if (bytes.size() < 8 || bytes.compare(4, 4, kVersion) != 0 || bytes.size() > kMaxBookBytes) {
        setDefaultBook();
        return AddrBookLoad::WrongVersion;
    }

    bool anyRecord = false;
    AddrBookGroup* current = nullptr;
    std::size_t at = 8;
    while (at < bytes.size()) {
        const std::string_view rest(bytes.data() + at, bytes.size() - at);
        anyRecord = true;
        if (rest.substr(0, 2) == "0:") {
            // The name ends at its first NUL inside the 34-byte record.
            const std::string_view record = rest.substr(0, kAbGroupRecordBytes);
            const std::string_view name = record.substr(2, record.find('\0', 2) - 2);
            current = &AddGroup(std::string(name));
            at += record.size();
            continue;
        }
        // An entry: four texts, each ended by 0x01.
        std::size_t end = 0;
        std::string_view fields[4];
        bool whole = true;
        for (auto& field : fields) {
            const std::size_t stop = rest.find(static_cast<char>(kFieldEnd), end);
            if (stop == std::string_view::npos) {
                whole = false;
                break;
            }
            field = rest.substr(end, stop - end);
            end = stop + 1;
        }
        if (!whole) {
            LUMO_TRACE(3, "CAddrBookFile::Load() %s: a torn record at %zu ends the book", m_path.c_str(), at);
            break;
        }
        at += end;
        if (current == nullptr || end > kAbRecordWindow || fields[0].size() < 2) {
            // Before the first group, longer than any record this program
            // writes, or without its prefix: passed over by its length.
            LUMO_TRACE(3, "CAddrBookFile::Load() %s: a record of %zu bytes skipped", m_path.c_str(), end);
            continue;
        }
        auto entry = std::make_unique<AddrBookEntry>();
        entry->viewState = viewStateOfPrefix(fields[0][0]);
        entry->SetTexts(std::string(fields[0].substr(2)), std::string(fields[1]), std::string(fields[2]),
                        std::string(fields[3]));
        current->entries.push_back(std::move(entry));
    }
    if (!anyRecord || m_groups.empty()) {
        setDefaultBook();
        return AddrBookLoad::Empty;
    }
    return AddrBookLoad::Loaded;
}

bool CAddrBookFile::Save() {
    std::string out(kMagic);
    out += kVersion;
    for (const auto& group : m_groups) {
        if (group.name.empty()) continue;
        std::string record = "0:" + group.name.substr(0, kAbGroupNameChars);
        record.resize(kAbGroupRecordBytes, '\0');
        out += record;
        for (const auto& entry : group.entries) {
            out += prefixOfViewState(entry->viewState);
            out += ':';
            for (const std::string& text : {entry->Name(), entry->Phone(), entry->Info(), entry->Picture()}) {
                out += text;
                out += static_cast<char>(kFieldEnd);
            }
        }
    }
    const int error = platform::ReplaceFileContent(m_path, out);
    if (error == 0) return true;
    LUMO_TRACE(1, "CAddrBookFile::Save() %s: %s", m_path.c_str(), std::strerror(error));
    if (error == EMFILE || error == ENFILE) {
        message(kMsgTooManyFiles, kMsgKindError, m_path);
    } else if (error == ENOSPC || error == EDQUOT) {
        message(kMsgDiskFull, kMsgKindError, m_path);
    }
    return false;
}

AddrBookEntry* CAddrBookFile::FindEntry(const std::string& name) {
    for (auto& group : m_groups) {
        for (auto& entry : group.entries) {
            if (equalNoCase(entry->Name(), name)) return entry.get();
        }
    }
    return nullptr;
}

AddrBookEntry* CAddrBookFile::FindEntry(const tagBusinessCard& card) {
    // By the name as the book keeps it.
    return FindEntry(EntryFromCard(card).Name());
}

int CAddrBookFile::ShowDialog(QWidget* parent, AddrBookEntry* select, AddrBookEntry* buffer) {
    if (!canAsk()) {
        // Nobody can answer: the book stays as it is on disk.
        Load();
        return IDCANCEL;
    }
    const int result = m_ui->runBook(*this, parent, select, buffer);
    if (result == IDOK) {
        Save();
    } else {
        Load();
    }
    return result;
}

int CAddrBookFile::AddReceivedCard(QWidget* parent, const tagBusinessCard& card) {
    // Every instance of the program keeps its cards in the one book. Filed
    // without a dialog, the read, the change and the write hold the book's
    // lock, so two instances filing at once both keep their card.
    std::optional<platform::NamedMutex> bookLock;
    if (!canAsk()) {
        bookLock.emplace(kBookLockName);
        const platform::LockResult locked = bookLock->wait(kBookLockWaitMs);
        if (locked != platform::LockResult::Acquired && locked != platform::LockResult::Abandoned) {
            LUMO_TRACE(3, "CAddrBookFile::AddReceivedCard() the book stayed locked; filed without the lock");
            bookLock.reset();
        }
    }
    struct Release {
        std::optional<platform::NamedMutex>& lock;
        ~Release() {
            if (lock) lock->release();
        }
    } release{bookLock};
    Load();
    const AddrBookEntry received = EntryFromCard(card);
    if (AddrBookEntry* known = FindEntry(card)) {
        const bool same = equalNoCase(known->Phone(), received.Phone()) &&
                          equalNoCase(known->Info(), received.Info()) &&
                          equalNoCase(known->Picture(), received.Picture());
        if (!same && message(kMsgUpdateKnownSite, kMsgKindQuestion, received.Name()) == kAnswerYes) {
            known->SetTexts(known->Name(), received.Phone(), received.Info(), received.Picture());
            if (!canAsk()) return Save() ? IDOK : IDCANCEL;
        }
        return ShowDialog(parent, known, nullptr);
    }
    if (canAsk()) {
        std::string group;
        const int result = m_ui->runAddCard(*this, parent, received, group);
        return result == IDOK && !Save() ? IDCANCEL : result;
    }
    // Nobody can answer: the card goes into the group the dialog proposes.
    const std::string group = FileCard(received, std::string());
    if (!Save()) return IDCANCEL;
    const std::string text = "The card of " + received.Name() + " was filed in the address book under \"" + group + "\".";
    if (m_ui != nullptr) {
        m_ui->report(text, "Address book");
    } else {
        LUMO_TRACE(1, "Address book: %s", text.c_str());
    }
    return IDOK;
}

}  // namespace trennick
