#include "tavicore/users_manager.h"

#include "common/lumo_deb.h"
#include "platform/named_lock.h"
#include "tavicore/log_write.h"
#include "tavicore/tavicore_globals.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kMutexName = "VlmUsrMgrMutex";
constexpr const char* kUsersFileTag = "MXPL";

// Which bit of a byte each scrambling position names, and its complement.
constexpr BYTE kSetMask[8] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80};
constexpr BYTE kClearMask[8] = {0xFE, 0xFD, 0xFB, 0xF7, 0xEF, 0xDF, 0xBF, 0x7F};

// A scrambled text longer than its field is drawn again; an attempt fits in all
// but rare cases, so a handful of attempts is plenty.
constexpr int kScrambleAttempts = 64;

std::mt19937& generator() {
    thread_local std::mt19937 gen{std::random_device{}()};
    return gen;
}

BYTE randomByte() { return static_cast<BYTE>(CUsersManager::PosRandNoBelow(256)); }

// The length of a text field as the users manager keeps it: up to the first zero
// byte, at most kUserTextMax characters.
std::size_t textLength(const char* text) { return text ? ::strnlen(text, kUserTextMax) : 0; }

// Cuts both texts of a record to kUserTextMax characters.
void cutTexts(_tag_user& user) {
    user.name[kUserTextMax] = '\0';
    user.name[kUserTextMax + 1] = '\0';
    user.password[kUserTextMax] = '\0';
    user.password[kUserTextMax + 1] = '\0';
}

// Names compare without regard to case, over at most kUserTextMax characters.
bool sameName(const char* a, const char* b) {
    return ::strncasecmp(a, b ? b : "", kUserTextMax) == 0;
}

// Scrambles a text so that it fits one field; false when no attempt fit.
bool scrambleInto(const char* text, char (&field)[kUserFieldBytes], WORD& length) {
    const std::string_view plain(text, textLength(text));
    for (int attempt = 0; attempt < kScrambleAttempts; ++attempt) {
        std::string scrambled = CUsersManager::Encrypt(plain);
        if (scrambled.size() <= sizeof field) {
            for (auto& b : field) {
                b = static_cast<char>(randomByte());
            }
            std::memcpy(field, scrambled.data(), scrambled.size());
            length = static_cast<WORD>(scrambled.size());
            return true;
        }
    }
    return false;
}

// Unscrambles a field of the file into a plain text of at most kUserTextMax
// characters; false when the stored length does not fit the field.
bool unscrambleFrom(char (&field)[kUserFieldBytes], WORD length) {
    if (length > sizeof field) {
        return false;
    }
    std::string plain = CUsersManager::Decrypt(std::string_view(field, length));
    std::memset(field, 0, sizeof field);
    std::memcpy(field, plain.data(), std::min<std::size_t>(plain.size(), kUserTextMax));
    return true;
}

// Holds the users file mutex for one Load or Save and releases it on every path.
class MutexHold {
public:
    explicit MutexHold(platform::NamedMutex* mutex) : m_mutex(mutex) {
        if (m_mutex != nullptr && m_mutex->isOpen()) {
            platform::LockResult r = m_mutex->wait(platform::INFINITE);
            m_held = r == platform::LockResult::Acquired || r == platform::LockResult::Abandoned;
        }
    }
    ~MutexHold() {
        if (m_held) {
            m_mutex->release();
        }
    }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;
    bool held() const { return m_held; }

private:
    platform::NamedMutex* m_mutex;
    bool m_held = false;
};

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

bool readFully(int fd, void* data, std::size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool writeFully(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// A save killed between writing its temporary file and the rename leaves that
// file: the users file's name, a dot and the six letters or digits mkstemp
// drew. With the mutex held no other save is under way, so each such regular
// file is a leftover.
void removeSaveLeftovers(const std::filesystem::path& usersFile) {
    namespace fs = std::filesystem;
    const std::string prefix = usersFile.filename().string() + ".";
    std::error_code error;
    for (fs::directory_iterator it(usersFile.parent_path(), error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0 ||
            !std::all_of(name.begin() + std::ptrdiff_t(prefix.size()), name.end(),
                         [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; })) {
            continue;
        }
        std::error_code kindError;
        if (it->symlink_status(kindError).type() != fs::file_type::regular) continue;
        if (fs::remove(it->path(), kindError)) {
            LUMO_TRACE(3, "UsersManager: %s: left by a save that never finished, removed", name.c_str());
        }
    }
}

}  // namespace

CUsersManager::CUsersManager(const char* folder, const char* productKey)
    : m_productKey(productKey ? std::string(productKey).substr(0, MAX_PATH - 1) : std::string()),
      m_folder(folder ? std::string(folder).substr(0, MAX_PATH - 1) : std::string()),
      m_mutex(std::make_unique<platform::NamedMutex>(kMutexName)) {}

CUsersManager::~CUsersManager() {
    Save();
    DiscardUserList();
}

int CUsersManager::Load() {
    LUMO_TRACE(3, "ENTER %s", "CUsersManager::Load()");
    int result;
    {
        MutexHold hold(m_mutex.get());
        LUMO_TRACE(3, "CUsersManager::Load() After try to lock by Velmoor UserManager mutex");
        result = hold.held() ? loadLocked() : E_USER_REFUSED;
    }
    LUMO_TRACE(3, "LEAVE %s", "CUsersManager::Load()");
    return result;
}

int CUsersManager::loadLocked() {
    DiscardUserList();
    m_filePath = (std::filesystem::path(m_folder) / kUsersFileName).string();
    removeSaveLeftovers(m_filePath);
    LUMO_TRACE(5, "UsersManager: opening %s\n", m_filePath.c_str());

    FdCloser file{::open(m_filePath.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) {
        LUMO_TRACE(1, "UsersManager: file does not exists, aborting...");
        return E_USER_NOFILE;
    }
    LUMO_TRACE(5, "UsersManager: File exists, loading users...");
    tagUsersFileHead head{};
    if (!readFully(file.fd, &head, sizeof head) || head.magic != kUsersFileMagic ||
        head.version != 1 || std::memcmp(head.tag, kUsersFileTag, 4) != 0) {
        LUMO_TRACE(1, "UsersManager: File corrupted or not recorgnized...");
        return E_USER_BADFILE;
    }
    // Check every record before any is taken, so a file cut short or with a
    // length that overruns its field leaves nothing behind.
    struct stat info {};
    if (::fstat(file.fd, &info) != 0 ||
        static_cast<std::size_t>(info.st_size) < sizeof head + std::size_t{head.count} * sizeof(_tag_user)) {
        LUMO_TRACE(1, "UsersManager: File corrupted or not recorgnized...");
        return E_USER_BADFILE;
    }
    std::vector<_tag_user> records(head.count);
    if (head.count > 0 && !readFully(file.fd, records.data(), records.size() * sizeof(_tag_user))) {
        LUMO_TRACE(1, "UsersManager: File corrupted or not recorgnized...");
        return E_USER_BADFILE;
    }
    for (auto& record : records) {
        if (!unscrambleFrom(record.name, record.nameLength) ||
            !unscrambleFrom(record.password, record.passwordLength)) {
            LUMO_TRACE(1, "UsersManager: File corrupted or not recorgnized...");
            return E_USER_BADFILE;
        }
    }
    for (const auto& record : records) {
        AddUser(&record);
    }
    return USER_OK;
}

int CUsersManager::Save() {
    LUMO_TRACE(3, "ENTER %s", "CUsersManager::Save()");
    int result;
    {
        MutexHold hold(m_mutex.get());
        LUMO_TRACE(3, "CUsersManager::Save() After try to lock by Velmoor UserManager mutex");
        result = hold.held() ? saveLocked() : E_USER_REFUSED;
    }
    LUMO_TRACE(3, "LEAVE %s", "CUsersManager::Save()");
    return result;
}

int CUsersManager::saveLocked() {
    if (m_users.empty() || m_filePath.empty()) {
        return USER_OK;
    }
    if (m_users.size() > 0xFFFF) {
        return E_USER_REFUSED;  // the head counts users in 16 bits
    }
    LUMO_TRACE(3, "UsersManager: Saving users...");

    // The whole file is built in memory: random bytes, then the head and the
    // records over its start. It is written under a temporary name and renamed,
    // so a reader or a crash never meets half a file.
    const std::size_t recordsEnd = sizeof(tagUsersFileHead) + m_users.size() * sizeof(_tag_user);
    std::vector<BYTE> image(std::max(kUsersFileMinBytes, recordsEnd));
    for (auto& b : image) {
        b = randomByte();
    }
    tagUsersFileHead head;
    std::memcpy(&head, image.data(), sizeof head);
    head.magic = kUsersFileMagic;
    head.version = 1;
    head.count = static_cast<WORD>(m_users.size());
    head.stamp = kUsersFileStamp;
    std::memcpy(head.tag, kUsersFileTag, 4);
    std::memcpy(image.data(), &head, sizeof head);
    BYTE* out = image.data() + sizeof head;
    for (const auto& user : m_users) {
        LUMO_TRACE(5, "UsersManager: Saved user: %.*s", kUserTextMax, user.name);
        _tag_user record = user;
        WORD nameLength = 0;
        WORD passwordLength = 0;
        if (!scrambleInto(user.name, record.name, nameLength) ||
            !scrambleInto(user.password, record.password, passwordLength)) {
            return E_USER_REFUSED;
        }
        record.nameLength = nameLength;
        record.passwordLength = passwordLength;
        std::memcpy(out, &record, sizeof record);
        out += sizeof record;
    }

    std::string temp = m_filePath + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        if (errno == EMFILE || errno == ENFILE) {
            LUMO_TRACE(1, "UsersManager: E_USER_TOOMANYOPENFILES ERROR!");
            return E_USER_TOOMANYOPENFILES;
        }
        if (errno == ENOSPC || errno == EDQUOT) {
            LUMO_TRACE(1, "UsersManager: E_USER_DISKFULL ERROR!");
            return E_USER_DISKFULL;
        }
        return E_USER_REFUSED;
    }
    bool written = writeFully(fd, image.data(), image.size()) && ::fsync(fd) == 0;
    int writeError = errno;
    written = (::close(fd) == 0) && written;
    if (!written || std::rename(temp.c_str(), m_filePath.c_str()) != 0) {
        ::unlink(temp.c_str());
        if (!written && (writeError == ENOSPC || writeError == EDQUOT)) {
            LUMO_TRACE(1, "UsersManager: E_USER_DISKFULL ERROR!");
            return E_USER_DISKFULL;
        }
        return E_USER_REFUSED;
    }
    return USER_OK;
}

std::vector<_tag_user>::iterator CUsersManager::find(const char* name) {
    return std::find_if(m_users.begin(), m_users.end(),
                        [&](const _tag_user& u) { return sameName(u.name, name); });
}

int CUsersManager::AddUser(const _tag_user* user) {
    if (user == nullptr) {
        return E_USER_REFUSED;
    }
    _tag_user copy = *user;
    cutTexts(copy);
    if (find(copy.name) != m_users.end()) {
        LUMO_TRACE(5, "UsersManager: Added user ALREADY EXISTS: %s", copy.name);
        return E_USER_EXISTS;
    }
    if (m_users.size() >= 0xFFFF) {
        return E_USER_REFUSED;
    }
    m_users.insert(m_users.begin(), copy);
    LUMO_TRACE(5, "UsersManager: Added user: %s", copy.name);
    return USER_OK;
}

int CUsersManager::RemoveUser(const char* name) {
    if (name == nullptr) {
        return E_USER_NOTFOUND;
    }
    if (sameName("admin", name)) {
        LUMO_TRACE(1, "UsersManager: Deleted user, no privileges!");
        return E_USER_REFUSED;
    }
    auto it = find(name);
    if (it == m_users.end()) {
        return E_USER_NOTFOUND;
    }
    LUMO_TRACE(5, "UsersManager: Deleted user: %.*s", kUserTextMax, it->name);
    const auto index = static_cast<std::size_t>(it - m_users.begin());
    m_users.erase(it);
    if (m_enumPos > index) {
        --m_enumPos;
    }
    Save();
    return USER_OK;
}

int CUsersManager::GetUser(const char* name, _tag_user* out) {
    auto it = find(name);
    if (it == m_users.end() || out == nullptr) {
        return E_USER_NOTFOUND;
    }
    LUMO_TRACE(5, "UsersManager: Get user found: %s\n", it->name);
    *out = *it;
    return USER_OK;
}

int CUsersManager::PutUser(const char* name, const _tag_user* in) {
    auto it = find(name);
    if (it == m_users.end() || in == nullptr) {
        return E_USER_NOTFOUND;
    }
    LUMO_TRACE(5, "UsersManager: Put user found: %s", it->name);
    *it = *in;
    cutTexts(*it);
    return USER_OK;
}

int CUsersManager::ValidateUser(const _tag_user* typed) {
    if (typed == nullptr) {
        return E_USER_NOTFOUND;
    }
    _tag_user given = *typed;
    cutTexts(given);
    auto it = find(given.name);
    if (it == m_users.end()) {
        return E_USER_NOTFOUND;
    }
    if (std::strncmp(it->password, given.password, kUserTextMax) != 0) {
        LUMO_TRACE(5, "UsersManager: Wrong password user: %s", given.name);
        return E_USER_WRONGPASSWORD;
    }
    LUMO_TRACE(5, "UsersManager: Validated OK user: %s", given.name);
    return USER_OK;
}

int CUsersManager::ReadFirstUser(_tag_user* out) {
    m_enumPos = 0;
    return ReadNextUser(out);
}

int CUsersManager::ReadNextUser(_tag_user* out) {
    if (out == nullptr || m_enumPos >= m_users.size()) {
        return 0;
    }
    *out = m_users[m_enumPos++];
    return 1;
}

void CUsersManager::StampUser(_tag_user* user) {
    if (user != nullptr) {
        user->lastLogin = static_cast<DWORD>(std::time(nullptr));
    }
}

void CUsersManager::DiscardUserList() {
    m_users.clear();
    m_enumPos = 0;
}

void CUsersManager::DoUserLogout() { m_loginUser = _tag_user{}; }

int CUsersManager::IsUserLogin() {
    return m_loginUser.name[0] != '\0' && m_loginUser.lastLogin != 0 && m_loginUser.rights != 0;
}

int CUsersManager::GetLoginUser(_tag_user* out) {
    if (!IsUserLogin() || out == nullptr) {
        return 0;
    }
    *out = m_loginUser;
    return 1;
}

int CUsersManager::AssertLoginUser(DWORD requiredRights, int) {
    if (!IsUserLogin()) {
        return 0;
    }
    const DWORD rights = m_loginUser.rights;
    const DWORD required = requiredRights & 0xFF;
    if ((required & 1) && rights == 1) {
        return 1;
    }
    if ((required & 2) && (rights == 1 || rights == 2)) {
        return 1;
    }
    if ((required & 4) && (rights == 1 || rights == 2 || rights == 4)) {
        return 1;
    }
    return 0;
}

namespace {
// The activity log's event of a login.
constexpr short kLogLogin = 43;
}  // namespace

int CUsersManager::DoLoginDialog(const char* caption) {
    DoUserLogout();
    if (m_users.empty()) {
        LUMO_TRACE(1, "UsersManager: LOGIN WITHOUT Load(), ERROR!!!");
        if (m_ui != nullptr) {
            m_ui->ShowStopMessage(kStringNoUsers);
        }
        return E_USER_REFUSED;
    }
    const bool anyPassword = std::any_of(m_users.begin(), m_users.end(),
                                         [](const _tag_user& u) { return u.password[0] != '\0'; });
    _tag_user typed{};
    if (!anyPassword) {
        LUMO_TRACE(5, "UsersManager: Silent Admin login...");
        std::strcpy(typed.name, "admin");
        if (m_ui != nullptr) {
            m_ui->RunDefaultPasswordWarning();
        }
    } else {
        LUMO_TRACE(5, "UsersManager: Not a silent login...");
        for (;;) {
            typed = _tag_user{};
            if (m_ui == nullptr || m_ui->RunLoginDialog(&typed, caption) != 1) {
                DoUserLogout();
                return E_USER_REFUSED;
            }
            if (ValidateUser(&typed) == USER_OK) {
                break;
            }
        }
    }
    if (GetUser(typed.name, &m_loginUser) != USER_OK) {
        if (m_ui != nullptr) {
            m_ui->ShowStopMessage(kStringNoUsers);
        }
        DoUserLogout();
        return E_USER_REFUSED;
    }
    StampUser(&m_loginUser);
    PutUser(m_loginUser.name, &m_loginUser);
    // Logged only now that the user is known and the password checked.
    if (logWrite != nullptr) logWrite->AddEntryEx(nullptr, kLogLogin, 0, m_loginUser.name, 0, "");
    return USER_OK;
}

int CUsersManager::DoLoginDialogIndirect(_tag_user* typed, const char* caption) {
    if (m_ui == nullptr || typed == nullptr) {
        return 0;
    }
    int result = m_ui->RunLoginDialog(typed, caption);
    if (result == 1) {
        cutTexts(*typed);
    }
    return result;
}

int CUsersManager::DoUsersDialog() { return m_ui != nullptr ? m_ui->RunUsersDialog(*this) : 0; }

int CUsersManager::PosRandNoBelow(int n) {
    if (n <= 0) {
        return 0;
    }
    return std::uniform_int_distribution<int>(0, n - 1)(generator());
}

std::string CUsersManager::Encrypt(std::string_view plain) {
    std::string out(1, static_cast<char>(randomByte()));
    int p = 0;
    auto advance = [&](int step) {
        p += step;
        if (p > 7) {
            out.push_back(static_cast<char>(randomByte()));
            p -= 8;
        }
    };
    // The start: walk the random bits until a position lands on 7 exactly.
    do {
        advance((static_cast<BYTE>(out.back()) & kSetMask[p]) ? 2 : 3);
    } while (p != 7);
    for (unsigned char c : plain) {
        for (int bit = 0; bit < 8; ++bit) {
            if (c & kSetMask[bit]) {
                out.back() = static_cast<char>(static_cast<BYTE>(out.back()) | kSetMask[p]);
                advance(2);
            } else {
                out.back() = static_cast<char>(static_cast<BYTE>(out.back()) & kClearMask[p]);
                advance(3);
            }
        }
    }
    return out;
}

std::string CUsersManager::Decrypt(std::string_view scrambled) {
    std::size_t index = 0;
    int p = 0;
    auto bitAt = [&]() { return (static_cast<BYTE>(scrambled[index]) & kSetMask[p]) != 0; };
    auto advance = [&](int step) {
        p += step;
        if (p > 7) {
            ++index;
            p -= 8;
        }
    };
    if (scrambled.empty()) {
        return {};
    }
    do {
        advance(bitAt() ? 2 : 3);
        if (index >= scrambled.size()) {
            return {};
        }
    } while (p != 7);
    std::string out;
    BYTE current = 0;
    int collected = 0;
    while (index < scrambled.size()) {
        const bool set = bitAt();
        if (set) {
            current |= kSetMask[collected];
        }
        if (++collected == 8) {
            out.push_back(static_cast<char>(current));
            current = 0;
            collected = 0;
        }
        advance(set ? 2 : 3);
    }
    return out;
}
