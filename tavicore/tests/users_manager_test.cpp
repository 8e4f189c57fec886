#include "tavicore/users_manager.h"

#include "platform/folders.h"
#include "platform/named_lock.h"
#include "platform/testing/child_process.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string usersFolder() {
    fs::path folder = platform::homeFolder() / "users";
    fs::create_directories(folder);
    return folder.string();
}

fs::path usersFile() { return fs::path(usersFolder()) / kUsersFileName; }

_tag_user makeUser(const char* name, const char* password, DWORD rights) {
    _tag_user u{};
    std::strncpy(u.name, name, sizeof u.name - 1);
    std::strncpy(u.password, password, sizeof u.password - 1);
    u.rights = rights;
    return u;
}

std::vector<std::string> namesOf(CUsersManager& m) {
    std::vector<std::string> names;
    _tag_user u{};
    for (int r = m.ReadFirstUser(&u); r == 1; r = m.ReadNextUser(&u)) {
        names.emplace_back(u.name);
    }
    return names;
}

std::vector<char> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeBytes(const fs::path& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Writes a users file with the given users through a manager.
void saveUsers(const std::vector<_tag_user>& users) {
    CUsersManager m(usersFolder().c_str(), "software\\Quennel\\Velmoor\\1.000.0");
    m.Load();  // builds the path; the file may not exist yet
    m.DiscardUserList();
    for (auto it = users.rbegin(); it != users.rend(); ++it) {
        ASSERT_EQ(m.AddUser(&*it), USER_OK);
    }
    ASSERT_EQ(m.Save(), USER_OK);
}

// The dialogs of a login, scripted.
class ScriptedUi : public CUsersManagerUi {
public:
    std::vector<_tag_user> typed;  // one entry per login dialog shown; then cancel
    std::size_t shown = 0;
    int warnings = 0;
    std::vector<UINT> stopMessages;

    int RunLoginDialog(_tag_user* out, const char*) override {
        if (shown >= typed.size()) {
            ++shown;
            return 2;  // cancelled
        }
        *out = typed[shown++];
        return 1;
    }
    void RunDefaultPasswordWarning() override { ++warnings; }
    void ShowStopMessage(UINT id) override { stopMessages.push_back(id); }
    int RunUsersDialog(CUsersManager&) override { return 1; }
};

}  // namespace

TEST(UsersScrambling, RoundTripsAndDiffersEachTime) {
    const std::string k29(29, '\x80');  // the most zero bits a text can have
    const std::string texts[] = {"", "a", "admin", "Pass Word 123", k29, std::string(200, 'x')};
    for (const auto& text : texts) {
        SCOPED_TRACE(text.size());
        std::string first = CUsersManager::Encrypt(text);
        EXPECT_EQ(CUsersManager::Decrypt(first), text);
        if (!text.empty()) {
            bool differs = false;
            for (int i = 0; i < 8 && !differs; ++i) {
                differs = CUsersManager::Encrypt(text) != first;
            }
            EXPECT_TRUE(differs);
        }
    }
    EXPECT_EQ(CUsersManager::Decrypt(""), "");
}

TEST(UsersFile, LoadSaveLoadReversesOrderAndKeepsEveryField) {
    _tag_user a = makeUser("admin", "", 1);
    _tag_user b = makeUser("Bob", "Secret", 2);
    b.lastLogin = 123456;
    std::memset(b.unused, 0xA5, sizeof b.unused);
    _tag_user c = makeUser("carol", "pw", 4);
    saveUsers({a, b, c});
    const auto firstBytes = readBytes(usersFile());
    EXPECT_EQ(firstBytes.size(), kUsersFileMinBytes);

    CUsersManager m(usersFolder().c_str(), "software\\Quennel\\Velmoor\\1.000.0");
    ASSERT_EQ(m.Load(), USER_OK);
    EXPECT_EQ(namesOf(m), (std::vector<std::string>{"carol", "Bob", "admin"}));
    _tag_user got{};
    ASSERT_EQ(m.GetUser("BOB", &got), USER_OK);
    EXPECT_STREQ(got.password, "Secret");
    EXPECT_EQ(+got.rights, 2u);
    EXPECT_EQ(+got.lastLogin, 123456u);
    EXPECT_EQ(+got.unused[15], 0xA5);

    ASSERT_EQ(m.Save(), USER_OK);
    EXPECT_NE(readBytes(usersFile()), firstBytes);  // scrambled afresh each save
    ASSERT_EQ(m.Load(), USER_OK);
    EXPECT_EQ(namesOf(m), (std::vector<std::string>{"admin", "Bob", "carol"}));
    // No temporary file is left beside the users file.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(usersFolder())) {
        ++files;
    }
    EXPECT_EQ(files, 1);
}

// A save killed before its rename leaves its temporary file beside the users
// file: the next load clears it, and only such files.
TEST(UsersFile, LoadClearsWhatAKilledSaveLeft) {
    saveUsers({makeUser("admin", "", 1)});
    const std::string base = std::string(kUsersFileName) + ".";
    const std::vector<std::string> leftovers = {base + "a1B2c3", base + "ZZZZZZ", base + "000000"};
    const std::vector<std::string> kept = {base + "a1B2c",  base + "a1B2c34", base + "a1-2c3", base + "bak",
                                           std::string("XMRTPC32.DLL.a1B2c3"), std::string(kUsersFileName) + "a1B2c3"};
    for (const auto& name : leftovers) writeBytes(fs::path(usersFolder()) / name, {'x'});
    for (const auto& name : kept) writeBytes(fs::path(usersFolder()) / name, {'k'});
    fs::create_directories(fs::path(usersFolder()) / (base + "Folder"));
    fs::create_symlink(usersFile(), fs::path(usersFolder()) / (base + "link00"));

    CUsersManager m(usersFolder().c_str(), "software\\Quennel\\Velmoor\\1.000.0");
    ASSERT_EQ(m.Load(), USER_OK);
    for (const auto& name : leftovers) EXPECT_FALSE(fs::exists(fs::path(usersFolder()) / name)) << name;
    for (const auto& name : kept) EXPECT_TRUE(fs::exists(fs::path(usersFolder()) / name)) << name;
    EXPECT_TRUE(fs::is_directory(fs::path(usersFolder()) / (base + "Folder")));
    EXPECT_TRUE(fs::is_symlink(fs::path(usersFolder()) / (base + "link00")));
    EXPECT_EQ(m.GetUserCount(), 1);
}

TEST(UsersFile, SizeIsAtLeastTheRandomFillAndGrowsByRecord) {
    struct Case { int users; std::size_t bytes; };
    constexpr Case kCases[] = {{1, 12340}, {58, 12340}, {59, 12388}, {60, 12596}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.users);
        std::vector<_tag_user> users;
        for (int i = 0; i < c.users; ++i) {
            users.push_back(makeUser(("user" + std::to_string(i)).c_str(), "p", 4));
        }
        saveUsers(users);
        EXPECT_EQ(fs::file_size(usersFile()), c.bytes);
        CUsersManager m(usersFolder().c_str(), "");
        ASSERT_EQ(m.Load(), USER_OK);
        EXPECT_EQ(m.GetUserCount(), c.users);
    }
}

TEST(UsersFile, BadFilesAreRefusedWholeAndReleaseTheMutex) {
    saveUsers({makeUser("admin", "", 1), makeUser("bob", "pw", 2)});
    const auto good = readBytes(usersFile());
    struct Case { const char* what; std::size_t offset; std::vector<char> bytes; std::size_t cutTo; };
    const Case kCases[] = {
        {"version 2", 4, {2, 0}, 0},
        {"tag", 12, {'M', 'X', 'P', 'X'}, 0},
        {"magic", 0, {0x4D, 0x5A, 0x1A, 0x05}, 0},
        {"count beyond the file", 6, {0x00, 0x01}, 0},
        {"file cut in the head", 0, {}, 60},
        {"file cut in the records", 0, {}, 116 + 208 + 100},
        {"name length past its field", 116 + 180, {91, 0}, 0},
        {"password length past its field", 116 + 208 + 182, {0x7F, 0x7F}, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        auto bytes = good;
        std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + static_cast<long>(c.offset));
        if (c.cutTo != 0) {
            bytes.resize(c.cutTo);
        }
        writeBytes(usersFile(), bytes);
        {
            CUsersManager m(usersFolder().c_str(), "");
            EXPECT_EQ(m.Load(), E_USER_BADFILE);
            EXPECT_EQ(m.GetUserCount(), 0);
            _tag_user u{};
            EXPECT_EQ(m.ReadFirstUser(&u), 0);
            // Another thread can take the mutex: Load let it go.
            bool free = false;
            std::thread([&] {
                platform::NamedMutex other("VlmUsrMgrMutex");
                free = other.tryLock();
                if (free) {
                    other.release();
                }
            }).join();
            EXPECT_TRUE(free);
        }
        // The destructor saved nothing over the refused file.
        EXPECT_EQ(readBytes(usersFile()), bytes);
    }
    // Bytes 8 to 11 are not checked.
    auto stamped = good;
    stamped[8] = 0;
    writeBytes(usersFile(), stamped);
    CUsersManager m(usersFolder().c_str(), "");
    EXPECT_EQ(m.Load(), USER_OK);
    EXPECT_EQ(m.GetUserCount(), 2);
}

TEST(UsersFile, MissingFileIsMinusFive) {
    CUsersManager m(usersFolder().c_str(), "");
    EXPECT_EQ(m.Load(), E_USER_NOFILE);
    EXPECT_EQ(m.GetUserCount(), 0);
    EXPECT_EQ(m.filePath(), usersFile().string());
}

TEST(UsersList, NamesAndPasswordsAreCutTo29AndComparedSo) {
    CUsersManager m(usersFolder().c_str(), "");
    const std::string longName(40, 'n');
    const std::string longPassword = std::string(29, 'p') + "TAIL";
    _tag_user u = makeUser(longName.c_str(), longPassword.c_str(), 2);
    ASSERT_EQ(m.AddUser(&u), USER_OK);
    _tag_user got{};
    ASSERT_EQ(m.GetUser(longName.c_str(), &got), USER_OK);
    EXPECT_EQ(std::string(got.name), std::string(29, 'n'));
    EXPECT_EQ(std::string(got.password), std::string(29, 'p'));

    struct Case { std::string name, password; int result; };
    const Case kCases[] = {
        {longName, longPassword, USER_OK},
        {longName, std::string(29, 'p') + "OTHER", USER_OK},  // beyond 29 never counts
        {std::string(29, 'N'), std::string(29, 'p'), USER_OK},  // names ignore case
        {longName, std::string(29, 'P'), E_USER_WRONGPASSWORD},  // passwords do not
        {longName, std::string(28, 'p'), E_USER_WRONGPASSWORD},
        {"nobody", "x", E_USER_NOTFOUND},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name + "/" + c.password);
        _tag_user typed = makeUser(c.name.c_str(), c.password.c_str(), 0);
        EXPECT_EQ(m.ValidateUser(&typed), c.result);
    }

    // PutUser cuts too, and the cut survives a save and load.
    _tag_user put = makeUser(longName.c_str(), (std::string(60, 'q')).c_str(), 2);
    ASSERT_EQ(m.PutUser(longName.c_str(), &put), USER_OK);
    m.Load();
    ASSERT_EQ(m.AddUser(&put), USER_OK);
    ASSERT_EQ(m.Save(), USER_OK);
    CUsersManager again(usersFolder().c_str(), "");
    ASSERT_EQ(again.Load(), USER_OK);
    ASSERT_EQ(again.GetUser(longName.c_str(), &got), USER_OK);
    EXPECT_EQ(std::string(got.password), std::string(29, 'q'));
}

TEST(UsersList, UniqueNamesAndAdminCannotBeRemoved) {
    saveUsers({makeUser("Admin", "", 1), makeUser("bob", "x", 2)});
    CUsersManager m(usersFolder().c_str(), "");
    ASSERT_EQ(m.Load(), USER_OK);
    _tag_user dup = makeUser("BOB", "y", 4);
    EXPECT_EQ(m.AddUser(&dup), E_USER_EXISTS);
    for (const char* name : {"admin", "ADMIN", "aDmIn"}) {
        EXPECT_EQ(m.RemoveUser(name), E_USER_REFUSED);
    }
    EXPECT_EQ(m.RemoveUser("nobody"), E_USER_NOTFOUND);
    EXPECT_EQ(m.RemoveUser("BoB"), USER_OK);
    // Removing saves at once.
    CUsersManager other(usersFolder().c_str(), "");
    ASSERT_EQ(other.Load(), USER_OK);
    EXPECT_EQ(namesOf(other), (std::vector<std::string>{"Admin"}));
}

TEST(UsersLogin, SilentAdminWhenNoUserHasAPassword) {
    saveUsers({makeUser("admin", "", 1), makeUser("bob", "", 4)});
    CUsersManager m(usersFolder().c_str(), "");
    ASSERT_EQ(m.Load(), USER_OK);
    ScriptedUi ui;
    m.SetUi(&ui);
    ASSERT_EQ(m.DoLoginDialog("caption"), USER_OK);
    EXPECT_EQ(+ui.shown, 0u);
    EXPECT_EQ(+ui.warnings, 1);
    _tag_user who{};
    ASSERT_EQ(m.GetLoginUser(&who), 1);
    EXPECT_STREQ(who.name, "admin");
    EXPECT_NE(+who.lastLogin, 0u);
    _tag_user stored{};
    m.GetUser("admin", &stored);
    EXPECT_EQ(+stored.lastLogin, who.lastLogin);  // stamped into the list
}

TEST(UsersLogin, SilentLoginWithoutAdminFails) {
    saveUsers({makeUser("bob", "", 4)});
    CUsersManager m(usersFolder().c_str(), "");
    ASSERT_EQ(m.Load(), USER_OK);
    ScriptedUi ui;
    m.SetUi(&ui);
    EXPECT_EQ(m.DoLoginDialog(nullptr), E_USER_REFUSED);
    EXPECT_EQ(ui.stopMessages, std::vector<UINT>{kStringNoUsers});
    EXPECT_EQ(m.IsUserLogin(), 0);
}

TEST(UsersLogin, EmptyListFailsWithTheStopMessage) {
    CUsersManager m(usersFolder().c_str(), "");
    ScriptedUi ui;
    m.SetUi(&ui);
    EXPECT_EQ(m.DoLoginDialog(nullptr), E_USER_REFUSED);
    EXPECT_EQ(ui.stopMessages, std::vector<UINT>{kStringNoUsers});
}

TEST(UsersLogin, DialogRepeatsUntilValidOrCancelled) {
    saveUsers({makeUser("admin", "root", 1), makeUser("bob", "pw", 2)});
    CUsersManager m(usersFolder().c_str(), "");
    ASSERT_EQ(m.Load(), USER_OK);
    ScriptedUi ui;
    ui.typed = {makeUser("nobody", "pw", 0), makeUser("bob", "PW", 0), makeUser("BOB", "pw", 0)};
    m.SetUi(&ui);
    ASSERT_EQ(m.DoLoginDialog("Login"), USER_OK);
    EXPECT_EQ(+ui.shown, 3u);
    _tag_user who{};
    ASSERT_EQ(m.GetLoginUser(&who), 1);
    EXPECT_STREQ(who.name, "bob");
    EXPECT_EQ(m.IsUserLogin(), 1);

    // A new login logs out first; cancelling leaves nobody logged in.
    ScriptedUi cancel;
    m.SetUi(&cancel);
    EXPECT_EQ(m.DoLoginDialog("Login"), E_USER_REFUSED);
    EXPECT_EQ(m.IsUserLogin(), 0);
    EXPECT_EQ(m.GetLoginUser(&who), 0);
}

TEST(UsersLogin, RightsMeetRequirementsByLevel) {
    struct Case { DWORD rights; DWORD required; int result; };
    constexpr Case kCases[] = {
        {1, 1, 1}, {2, 1, 0}, {4, 1, 0},
        {1, 2, 1}, {2, 2, 1}, {4, 2, 0},
        {1, 4, 1}, {2, 4, 1}, {4, 4, 1},
        {4, 3, 0}, {4, 6, 1}, {2, 0x101, 0}, {2, 0x102, 1}, {8, 7, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.rights << " needs " << c.required);
        saveUsers({makeUser("admin", "pw", c.rights)});
        CUsersManager m(usersFolder().c_str(), "");
        ASSERT_EQ(m.Load(), USER_OK);
        EXPECT_EQ(m.AssertLoginUser(c.required, 0), 0);  // nobody logged in yet
        ScriptedUi ui;
        ui.typed = {makeUser("admin", "pw", 0)};
        m.SetUi(&ui);
        ASSERT_EQ(m.DoLoginDialog(nullptr), USER_OK);
        EXPECT_EQ(m.AssertLoginUser(c.required, 1), c.result);
    }
}

VELMOOR_TEST_CHILD(users_saver) {
    const std::string me = args.at(0);
    for (int i = 0; i < 30; ++i) {
        CUsersManager m(usersFolder().c_str(), "");
        if (m.Load() != USER_OK) {
            return 10;
        }
        _tag_user u = makeUser((me + std::to_string(i)).c_str(), "pw", 4);
        m.AddUser(&u);
        if (m.Save() != USER_OK) {
            return 11;
        }
    }
    return 0;
}

TEST(UsersFile, TwoProcessesSavingAtOnceLeaveAValidFile) {
    saveUsers({makeUser("admin", "", 1)});
    auto first = velmoor::testing::ChildProcess::start("users_saver", {"a"});
    auto second = velmoor::testing::ChildProcess::start("users_saver", {"b"});
    EXPECT_EQ(first.wait(std::chrono::seconds(60)), 0);
    EXPECT_EQ(second.wait(std::chrono::seconds(60)), 0);
    CUsersManager m(usersFolder().c_str(), "");
    ASSERT_EQ(m.Load(), USER_OK);
    // Load and save exclude each other one by one, so one process may save over
    // the other's last addition; the file is whole and readable all the same.
    EXPECT_GE(m.GetUserCount(), 2);
    EXPECT_LE(m.GetUserCount(), 61);
    _tag_user u{};
    EXPECT_EQ(m.GetUser("admin", &u), USER_OK);
    for (int r = m.ReadFirstUser(&u); r == 1; r = m.ReadNextUser(&u)) {
        const std::string name = u.name;
        EXPECT_TRUE(name == "admin" || ((name[0] == 'a' || name[0] == 'b') && name.size() <= 3))
            << name;
        EXPECT_STREQ(u.password, name == "admin" ? "" : "pw");
    }
}
