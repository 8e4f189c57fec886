#pragma once
// The recorder's users with their passwords and rights, kept in the users file
// "MXRTPC32.DLL", and the login of one user.

#include "platform/types.h"
#include "tavicore/tavicore_api.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class NamedMutex;
}

// Names and passwords keep at most this many characters, in memory, in the file
// and in every comparison.
inline constexpr int kUserTextMax = 29;
inline constexpr int kUserFieldBytes = 90;

#pragma pack(push, 1)
// One user; the same layout in memory and in the users file. In memory the name
// and password are plain zero-terminated texts; in the file they are scrambled,
// their scrambled lengths stored beside them, and the rest of each field random.
struct _tag_user {
    char name[kUserFieldBytes];
    char password[kUserFieldBytes];
    WORD nameLength;      // file only: bytes of the scrambled name
    WORD passwordLength;  // file only: bytes of the scrambled password
    DWORD rights;         // 1, 2 or 4; 1 is the highest
    DWORD lastLogin;      // seconds since 1970; 0 = never
    BYTE unused[16];      // kept and written back unchanged
};
static_assert(sizeof(_tag_user) == 208);
static_assert(offsetof(_tag_user, nameLength) == 180);
static_assert(offsetof(_tag_user, rights) == 184);

// The head of the users file.
struct tagUsersFileHead {
    DWORD magic;      // kUsersFileMagic
    WORD version;     // 1
    WORD count;       // user records that follow
    DWORD stamp;      // kUsersFileStamp; written, not checked
    char tag[4];      // "MXPL"
    BYTE random[100];
};
static_assert(sizeof(tagUsersFileHead) == 116);
#pragma pack(pop)

inline constexpr DWORD kUsersFileMagic = 0x059A5A4D;
inline constexpr DWORD kUsersFileStamp = 0x2FC565FC;
inline constexpr std::size_t kUsersFileMinBytes = 12340;
inline constexpr const char* kUsersFileName = "MXRTPC32.DLL";

// Results of the users manager.
inline constexpr int USER_OK = 1;
inline constexpr int E_USER_REFUSED = -1;
inline constexpr int E_USER_WRONGPASSWORD = -2;
inline constexpr int E_USER_NOTFOUND = -3;
inline constexpr int E_USER_EXISTS = -4;
inline constexpr int E_USER_NOFILE = -5;
inline constexpr int E_USER_BADFILE = -6;
inline constexpr int E_USER_TOOMANYOPENFILES = -7;
inline constexpr int E_USER_DISKFULL = -8;

// Resource string shown when a login is attempted without usable users.
inline constexpr UINT kStringNoUsers = 59411;

class CUsersManager;

// The dialogs of the login and of the users list, supplied by the user-interface
// layer. Without them a login that needs a dialog is cancelled.
class TAVICORE_API CUsersManagerUi {
public:
    virtual ~CUsersManagerUi() = default;
    // The login dialog: fills the typed name and password on OK; the modal result
    // (1 for OK).
    virtual int RunLoginDialog(_tag_user* typed, const char* caption) = 0;
    // The default-password warning, modal, without a parent.
    virtual void RunDefaultPasswordWarning() = 0;
    // A message box with the stop icon over the desktop, titled with the
    // application's name, showing the resource string `stringId`.
    virtual void ShowStopMessage(UINT stringId) = 0;
    // The users list dialog, modal.
    virtual int RunUsersDialog(CUsersManager& manager) = 0;
};

// Keeps the user list of one process and its login. Used on the user-interface
// thread only; Load and Save exclude other processes through the named mutex
// "VlmUsrMgrMutex". Failures are returned as the codes above, never thrown; a
// file that cannot be trusted is refused whole and leaves the list empty.
class TAVICORE_API CUsersManager {
public:
    CUsersManager(const char* folder, const char* productKey);
    ~CUsersManager();
    CUsersManager(const CUsersManager&) = delete;
    CUsersManager& operator=(const CUsersManager&) = delete;

    int Load();
    int Save();

    int AddUser(const _tag_user* user);
    int RemoveUser(const char* name);
    int GetUser(const char* name, _tag_user* out);
    int PutUser(const char* name, const _tag_user* in);
    int ValidateUser(const _tag_user* typed);
    int ReadFirstUser(_tag_user* out);
    int ReadNextUser(_tag_user* out);
    void StampUser(_tag_user* user);
    void DiscardUserList();
    int GetUserCount() const { return static_cast<int>(m_users.size()); }

    void DoUserLogout();
    int IsUserLogin();
    int GetLoginUser(_tag_user* out);
    int AssertLoginUser(DWORD requiredRights, int ask);
    int DoLoginDialog(const char* caption);
    int DoLoginDialogIndirect(_tag_user* typed, const char* caption);
    int DoUsersDialog();

    // The dialogs; not owned. Set by the user-interface layer.
    void SetUi(CUsersManagerUi* ui) { m_ui = ui; }

    // Scrambles a text into random-looking bytes, differently each time, and back.
    static std::string Encrypt(std::string_view plain);
    static std::string Decrypt(std::string_view scrambled);
    // A pseudo-random number in 0..n-1 (0 when n is not positive).
    static int PosRandNoBelow(int n);

    // The users file path that Load built (empty before).
    const std::string& filePath() const { return m_filePath; }
    const std::string& productKey() const { return m_productKey; }

private:
    std::vector<_tag_user>::iterator find(const char* name);
    int loadLocked();
    int saveLocked();

    std::string m_productKey;
    std::vector<_tag_user> m_users;  // in list order; the head is element 0
    _tag_user m_loginUser{};
    std::size_t m_enumPos = 0;
    std::string m_filePath;
    std::string m_folder;
    std::unique_ptr<platform::NamedMutex> m_mutex;
    CUsersManagerUi* m_ui = nullptr;
};
