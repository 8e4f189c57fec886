#include "platform/registry.h"

#include "platform/folders.h"
#include "platform/testing/child_process.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace platform;

namespace {

constexpr const char* kBase = "Software\\Quennel\\Velmoor\\1.000.0";

std::vector<BYTE> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

RegistryKey createdKey(HKEY root, std::string_view path) {
    RegistryKey key;
    EXPECT_EQ(RegistryKey::create(root, path, KEY_ALL_ACCESS, key), ERROR_SUCCESS) << path;
    return key;
}

struct ValueCase {
    const char* what;
    DWORD type;
    std::vector<BYTE> data;
};

std::vector<ValueCase> valueCases() {
    std::vector<BYTE> big(5000);
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<BYTE>(i * 7);
    }
    return {
        {"text without terminator", REG_SZ, bytesOf("abc")},
        {"text with terminator", REG_SZ, bytesOf(std::string_view("abc\0", 4))},
        {"empty text", REG_SZ, {}},
        {"only a terminator", REG_SZ, {0}},
        {"dword", REG_DWORD, {0x78, 0x56, 0x34, 0x12}},
        {"binary with zeros", REG_BINARY, {0, 1, 0, 2, 0}},
        {"empty binary", REG_BINARY, {}},
        {"large binary", REG_BINARY, big},
        {"untyped", REG_NONE, {9, 9}},
    };
}

}  // namespace

TEST(Registry, ValuesKeepTypeAndExactSize) {
    RegistryKey key = createdKey(HKEY_CURRENT_USER, kBase);
    for (const auto& c : valueCases()) {
        SCOPED_TRACE(c.what);
        DWORD size = static_cast<DWORD>(c.data.size());
        ASSERT_EQ(key.setValue(c.what, c.type, c.data.data(), size), ERROR_SUCCESS);

        // Null data: type and size only.
        DWORD type = 99;
        DWORD reported = 0;
        ASSERT_EQ(key.queryValue(c.what, &type, nullptr, &reported), ERROR_SUCCESS);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(reported, size);

        // Exact room: the same bytes.
        std::vector<BYTE> out(size + 8, 0xEE);
        reported = size;
        ASSERT_EQ(key.queryValue(c.what, &type, out.data(), &reported), ERROR_SUCCESS);
        EXPECT_EQ(reported, size);
        EXPECT_TRUE(std::equal(c.data.begin(), c.data.end(), out.begin()));
        EXPECT_EQ(out[size], 0xEE) << "wrote past the room it was given";

        // One byte short: ERROR_MORE_DATA, the needed size, the buffer untouched.
        if (size > 0) {
            std::fill(out.begin(), out.end(), 0xEE);
            reported = size - 1;
            type = 99;
            EXPECT_EQ(key.queryValue(c.what, &type, out.data(), &reported), ERROR_MORE_DATA);
            EXPECT_EQ(reported, size);
            EXPECT_EQ(type, c.type);
            EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](BYTE b) { return b == 0xEE; }));
        }

        RegistryValue whole;
        ASSERT_EQ(key.readValue(c.what, whole), ERROR_SUCCESS);
        EXPECT_EQ(whole.type, c.type);
        EXPECT_EQ(whole.data, c.data);
    }
}

TEST(Registry, TextWithoutTerminatorIsTerminatedOnlyWhenThereIsRoom) {
    RegistryKey key = createdKey(HKEY_CURRENT_USER, kBase);
    ASSERT_EQ(key.setValue("Name", REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3), ERROR_SUCCESS);
    char room[8];
    std::memset(room, 'x', sizeof room);
    DWORD size = sizeof room;
    ASSERT_EQ(RegQueryValueEx(key.handle(), "Name", nullptr, nullptr,
                              reinterpret_cast<BYTE*>(room), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_STREQ(room, "abc");

    std::memset(room, 'x', sizeof room);
    size = 3;
    ASSERT_EQ(RegQueryValueEx(key.handle(), "Name", nullptr, nullptr,
                              reinterpret_cast<BYTE*>(room), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(room, 4), "abcx");
}

TEST(Registry, RewriteReplacesTypeAndSize) {
    RegistryKey key = createdKey(HKEY_CURRENT_USER, kBase);
    ASSERT_EQ(key.setValue("V", REG_SZ, reinterpret_cast<const BYTE*>("long text"), 10), ERROR_SUCCESS);
    DWORD number = 7;
    ASSERT_EQ(key.setValue("V", REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), ERROR_SUCCESS);
    RegistryValue value;
    ASSERT_EQ(key.readValue("V", value), ERROR_SUCCESS);
    EXPECT_EQ(value.type, REG_DWORD);
    EXPECT_EQ(value.data, (std::vector<BYTE>{7, 0, 0, 0}));
}

TEST(Registry, NamesAreCaseInsensitiveAndKeepTheirCase) {
    {
        RegistryKey key = createdKey(HKEY_CURRENT_USER, "Software\\Quennel\\Velmoor");
        ASSERT_EQ(key.setValue("LastAccess", REG_BINARY, bytesOf("1").data(), 1), ERROR_SUCCESS);
        ASSERT_EQ(key.setValue("LASTACCESS", REG_BINARY, bytesOf("2").data(), 1), ERROR_SUCCESS);
    }
    DWORD disposition = 0;
    RegistryKey again;
    ASSERT_EQ(RegistryKey::create(HKEY_CURRENT_USER, "SOFTWARE\\quennel\\VELMOOR", KEY_ALL_ACCESS,
                                  again, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegistryValue value;
    ASSERT_EQ(again.readValue("lastaccess", value), ERROR_SUCCESS);
    EXPECT_EQ(value.data, bytesOf("2"));

    std::string name;
    ASSERT_EQ(again.enumValue(0, name), ERROR_SUCCESS);
    EXPECT_EQ(name, "LastAccess");
    EXPECT_EQ(again.enumValue(1, name), ERROR_NO_MORE_ITEMS);

    RegistryKey software;
    ASSERT_EQ(RegistryKey::open(HKEY_CURRENT_USER, "software", KEY_READ, software), ERROR_SUCCESS);
    ASSERT_EQ(software.enumSubKey(0, name), ERROR_SUCCESS);
    EXPECT_EQ(name, "Quennel");
    RegistryKey root;
    ASSERT_EQ(RegistryKey::open(HKEY_CURRENT_USER, "", KEY_READ, root), ERROR_SUCCESS);
    ASSERT_EQ(root.enumSubKey(0, name), ERROR_SUCCESS);
    EXPECT_EQ(name, "Software");
}

TEST(Registry, EnumerationOrderIsStable) {
    RegistryKey key = createdKey(HKEY_CURRENT_USER, kBase);
    for (const char* sub : {"b", "A", "c", "B2", "a1"}) {
        RegistryKey child = createdKey(key.handle(), sub);
    }
    std::vector<std::string> keys;
    std::string name;
    for (DWORD i = 0; key.enumSubKey(i, name) == ERROR_SUCCESS; ++i) {
        keys.push_back(name);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"A", "a1", "b", "B2", "c"}));

    // Values: in the order first written; a rewrite keeps the place.
    BYTE one = 1;
    for (const char* v : {"zeta", "Alpha", "mid", "ALPHA"}) {
        ASSERT_EQ(key.setValue(v, REG_BINARY, &one, 1), ERROR_SUCCESS);
    }
    ASSERT_EQ(key.deleteValue("mid"), ERROR_SUCCESS);
    ASSERT_EQ(key.setValue("last", REG_BINARY, &one, 1), ERROR_SUCCESS);
    std::vector<std::string> values;
    for (DWORD i = 0; key.enumValue(i, name) == ERROR_SUCCESS; ++i) {
        values.push_back(name);
    }
    EXPECT_EQ(values, (std::vector<std::string>{"zeta", "Alpha", "last"}));
}

TEST(Registry, WindowsShapedEnumerationReportsRoomNeeded) {
    HKEY key = 0;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, kBase, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    HKEY child = 0;
    ASSERT_EQ(RegCreateKeyEx(key, "Adapters", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child,
                             nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(child), ERROR_SUCCESS);
    DWORD number = 42;
    ASSERT_EQ(RegSetValueEx(key, "Count", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4),
              ERROR_SUCCESS);

    char name[16];
    DWORD room = 8;  // "Adapters" needs 9 with its terminator
    EXPECT_EQ(RegEnumKeyEx(key, 0, name, &room, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(room, 9u);
    FILETIME written{1, 1};
    ASSERT_EQ(RegEnumKeyEx(key, 0, name, &room, nullptr, nullptr, nullptr, &written), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Adapters");
    EXPECT_EQ(room, 8u);
    room = sizeof name;
    EXPECT_EQ(RegEnumKeyEx(key, 1, name, &room, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    DWORD type = 0;
    DWORD value = 0;
    DWORD valueSize = 2;
    room = sizeof name;
    EXPECT_EQ(RegEnumValue(key, 0, name, &room, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                           &valueSize),
              ERROR_MORE_DATA);
    EXPECT_EQ(valueSize, 4u);
    room = sizeof name;
    ASSERT_EQ(RegEnumValue(key, 0, name, &room, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                           &valueSize),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "Count");
    EXPECT_EQ(room, 5u);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(value, 42u);
    room = sizeof name;
    EXPECT_EQ(RegEnumValue(key, 1, name, &room, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST(Registry, DeleteValueAndSubtree) {
    RegistryKey base = createdKey(HKEY_CURRENT_USER, kBase);
    RegistryKey deep = createdKey(base.handle(), "Stations\\Local Servers\\{X}\\Adapters\\0");
    DWORD n = 3;
    ASSERT_EQ(deep.setValue("NumberOfCameras", REG_DWORD, reinterpret_cast<BYTE*>(&n), 4),
              ERROR_SUCCESS);
    RegistryKey sibling = createdKey(base.handle(), "StationsOther");
    ASSERT_EQ(base.setValue("Keep", REG_DWORD, reinterpret_cast<BYTE*>(&n), 4), ERROR_SUCCESS);

    EXPECT_EQ(base.deleteValue("Missing"), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(base.deleteValue("keep"), ERROR_SUCCESS);
    EXPECT_EQ(base.queryValue("Keep", nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);

    // Deleting a key takes its whole subtree with it.
    ASSERT_EQ(base.deleteSubKey("stations\\local servers"), ERROR_SUCCESS);
    RegistryKey gone;
    EXPECT_EQ(RegistryKey::open(base.handle(), "Stations\\Local Servers\\{X}\\Adapters\\0",
                                KEY_READ, gone),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegistryKey::open(base.handle(), "Stations\\Local Servers", KEY_READ, gone),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegistryKey::open(base.handle(), "Stations", KEY_READ, gone), ERROR_SUCCESS);
    EXPECT_EQ(RegistryKey::open(base.handle(), "StationsOther", KEY_READ, gone), ERROR_SUCCESS);
    EXPECT_EQ(base.deleteSubKey("Stations\\Local Servers"), ERROR_FILE_NOT_FOUND);

    // A key still open when it is deleted reports it.
    EXPECT_EQ(deep.queryValue("NumberOfCameras", nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(deep.setValue("NumberOfCameras", REG_DWORD, reinterpret_cast<BYTE*>(&n), 4),
              ERROR_KEY_DELETED);
    std::string name;
    EXPECT_EQ(deep.enumSubKey(0, name), ERROR_KEY_DELETED);
    RegistryKey under;
    EXPECT_EQ(RegistryKey::create(deep.handle(), "More", KEY_ALL_ACCESS, under), ERROR_KEY_DELETED);

    // Re-created, the path is a fresh, empty key.
    RegistryKey again = createdKey(base.handle(), "Stations\\Local Servers\\{X}\\Adapters\\0");
    EXPECT_EQ(again.queryValue("NumberOfCameras", nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(deep.queryValue("NumberOfCameras", nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
}

TEST(Registry, RootsAreSeparate) {
    const HKEY roots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
    for (DWORD i = 0; i < 3; ++i) {
        RegistryKey key = createdKey(roots[i], "Software\\Quennel");
        ASSERT_EQ(key.setValue("Root", REG_DWORD, reinterpret_cast<BYTE*>(&i), 4), ERROR_SUCCESS);
    }
    for (DWORD i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        RegistryKey key;
        ASSERT_EQ(RegistryKey::open(roots[i], "Software\\Quennel", KEY_READ, key), ERROR_SUCCESS);
        RegistryValue value;
        ASSERT_EQ(key.readValue("Root", value), ERROR_SUCCESS);
        EXPECT_EQ(value.data, (std::vector<BYTE>{static_cast<BYTE>(i), 0, 0, 0}));
    }
    RegistryKey only = createdKey(HKEY_LOCAL_MACHINE, "Software\\Quennel\\ZOH263DEC");
    RegistryKey other;
    EXPECT_EQ(RegistryKey::open(HKEY_CURRENT_USER, "Software\\Quennel\\ZOH263DEC", KEY_READ, other),
              ERROR_FILE_NOT_FOUND);
    // Closing a root is harmless; a root cannot be deleted through an empty path.
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, ""), ERROR_INVALID_PARAMETER);
}

TEST(Registry, PathsAndDispositions) {
    struct PathCase {
        const char* path;
        LONG create;
    };
    const PathCase cases[] = {
        {"Software\\Quennel\\ZOH263DEC\\", ERROR_SUCCESS},  // trailing backslash ignored
        {"Software\\Quennel\\ZOH263DEC", ERROR_SUCCESS},
        {"\\Software", ERROR_INVALID_PARAMETER},
        {"Software\\\\Quennel", ERROR_INVALID_PARAMETER},
        {"\\", ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        HKEY key = 0;
        EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, c.path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                 &key, nullptr),
                  c.create);
        if (c.create == ERROR_SUCCESS) {
            EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        }
    }
    std::string tooLong(256, 'k');
    RegistryKey key;
    EXPECT_EQ(RegistryKey::create(HKEY_CURRENT_USER, tooLong, KEY_ALL_ACCESS, key),
              ERROR_INVALID_PARAMETER);
    tooLong.pop_back();
    DWORD disposition = 0;
    ASSERT_EQ(RegistryKey::create(HKEY_CURRENT_USER, tooLong, KEY_ALL_ACCESS, key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    ASSERT_EQ(RegistryKey::create(HKEY_CURRENT_USER, tooLong, KEY_ALL_ACCESS, key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(RegistryKey::open(HKEY_CURRENT_USER, "No\\Such\\Key", KEY_READ, key),
              ERROR_FILE_NOT_FOUND);
}

TEST(Registry, BadHandlesAndArgumentsAreRefused) {
    HKEY key = 0;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, kBase, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                             &key, nullptr),
              ERROR_SUCCESS);
    BYTE data[4] = {};
    DWORD size = 4;
    EXPECT_EQ(RegQueryValueEx(key, "X", nullptr, nullptr, data, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(key, "X", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, kBase, 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueEx(key, "X", nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueEx(key, "X", nullptr, nullptr, data, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueEx(0x1234567, "X", 0, REG_BINARY, data, 4), ERROR_INVALID_HANDLE);

    // A key opened for reading cannot be written.
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, kBase, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueEx(key, "X", 0, REG_BINARY, data, 4), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegQueryValueEx(key, "X", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    HKEY child = 0;
    EXPECT_EQ(RegCreateKeyEx(key, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
              ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST(Registry, AnotherHomeHasItsOwnRegistry) {
    RegistryKey key = createdKey(HKEY_CURRENT_USER, kBase);
    DWORD one = 1;
    ASSERT_EQ(key.setValue("Here", REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);

    std::string first = std::getenv("VELMOOR_HOME");
    std::string second = first + "/other";
    ::setenv("VELMOOR_HOME", second.c_str(), 1);
    RegistryKey there;
    EXPECT_EQ(RegistryKey::open(HKEY_CURRENT_USER, kBase, KEY_READ, there), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(second) / "registry.db"));
    // Keys opened in the earlier home are no longer valid.
    EXPECT_EQ(key.queryValue("Here", nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);

    ::setenv("VELMOOR_HOME", first.c_str(), 1);
    RegistryKey back;
    ASSERT_EQ(RegistryKey::open(HKEY_CURRENT_USER, kBase, KEY_READ, back), ERROR_SUCCESS);
    EXPECT_EQ(back.queryValue("Here", nullptr, nullptr, nullptr), ERROR_SUCCESS);
}

TEST(Registry, WithoutVelmoorHomeTheDataFolderDecidesAndHomeNoLonger) {
    const std::string velmoorHome = std::getenv("VELMOOR_HOME");
    const char* oldData = std::getenv("XDG_DATA_HOME");
    const std::string data = oldData != nullptr ? oldData : "";
    const bool hadData = oldData != nullptr;
    const char* oldUser = std::getenv("HOME");
    const std::string user = oldUser != nullptr ? oldUser : "";
    const std::string dataA = velmoorHome + "/data-a", dataB = velmoorHome + "/data-b";
    ::unsetenv("VELMOOR_HOME");
    ::setenv("XDG_DATA_HOME", dataA.c_str(), 1);
    RegistryKey key = createdKey(HKEY_CURRENT_USER, kBase);
    DWORD one = 1;
    ASSERT_EQ(key.setValue("InA", REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dataA) / "velmoor" / "registry.db"));
    // HOME comes after the data folder: changing it leaves the registry open.
    ::setenv("HOME", (velmoorHome + "/elsewhere").c_str(), 1);
    EXPECT_EQ(key.queryValue("InA", nullptr, nullptr, nullptr), ERROR_SUCCESS);
    // Another data folder is another registry.
    ::setenv("XDG_DATA_HOME", dataB.c_str(), 1);
    RegistryKey there;
    EXPECT_EQ(RegistryKey::open(HKEY_CURRENT_USER, kBase, KEY_READ, there), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key.queryValue("InA", nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
    // VELMOOR_HOME set again comes first.
    ::setenv("VELMOOR_HOME", velmoorHome.c_str(), 1);
    RegistryKey own = createdKey(HKEY_CURRENT_USER, kBase);
    EXPECT_EQ(own.queryValue("InA", nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    if (hadData) {
        ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
    if (oldUser != nullptr) ::setenv("HOME", user.c_str(), 1);
}

// ---- Several processes at once -------------------------------------------------

namespace {

constexpr int kThreadsPerWriter = 2;
constexpr int kValuesPerThread = 1500;
constexpr int kKeysShared = 40;

std::string keyPathFor(int i) { return std::string(kBase) + "\\Shared\\K" + std::to_string(i % kKeysShared); }

std::string valueNameFor(const std::string& writer, int thread, int i) {
    return writer + "-" + std::to_string(thread) + "-" + std::to_string(i);
}

// Each value goes through its own create/set/close, as the settings store does, into
// keys that every writer creates at the same time.
int writeValues(const std::string& writer) {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreadsPerWriter; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kValuesPerThread; ++i) {
                HKEY key = 0;
                if (RegCreateKeyEx(HKEY_CURRENT_USER, keyPathFor(i).c_str(), 0, nullptr, 0,
                                   KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
                    ++failures;
                    continue;
                }
                std::string name = valueNameFor(writer, t, i);
                if (RegSetValueEx(key, name.c_str(), 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(name.c_str()),
                                  static_cast<DWORD>(name.size() + 1)) != ERROR_SUCCESS) {
                    ++failures;
                }
                RegCloseKey(key);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace

VELMOOR_TEST_CHILD(registry_writer) { return writeValues(args.at(0)); }

VELMOOR_TEST_CHILD(registry_writer_killed) {
    RegistryKey key;
    if (RegistryKey::create(HKEY_CURRENT_USER, kBase, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
        return 1;
    }
    for (DWORD i = 0; i < 500; ++i) {
        std::string name = "V" + std::to_string(i);
        if (key.setValue(name, REG_DWORD, reinterpret_cast<BYTE*>(&i), 4) != ERROR_SUCCESS) {
            return 1;
        }
    }
    std::raise(SIGKILL);
    return 2;
}

TEST(Registry, TwoProcessesWritingAtOnceLoseNothing) {
    auto first = velmoor::testing::ChildProcess::start("registry_writer", {"first"});
    auto second = velmoor::testing::ChildProcess::start("registry_writer", {"second"});
    EXPECT_EQ(first.wait(std::chrono::seconds(100)), 0);
    EXPECT_EQ(second.wait(std::chrono::seconds(100)), 0);

    int found = 0;
    for (const std::string writer : {"first", "second"}) {
        for (int t = 0; t < kThreadsPerWriter; ++t) {
            for (int i = 0; i < kValuesPerThread; ++i) {
                HKEY key = 0;
                ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, keyPathFor(i).c_str(), 0, KEY_READ, &key),
                          ERROR_SUCCESS);
                std::string name = valueNameFor(writer, t, i);
                char text[64] = {};
                DWORD size = sizeof text;
                DWORD type = 0;
                if (RegQueryValueEx(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text),
                                    &size) == ERROR_SUCCESS &&
                    type == REG_SZ && size == name.size() + 1 && name == text) {
                    ++found;
                }
                RegCloseKey(key);
            }
        }
    }
    EXPECT_EQ(found, 2 * kThreadsPerWriter * kValuesPerThread);

    // Every shared key exists once, whatever the race to create it.
    RegistryKey shared;
    ASSERT_EQ(RegistryKey::open(HKEY_CURRENT_USER, std::string(kBase) + "\\Shared", KEY_READ, shared),
              ERROR_SUCCESS);
    std::string name;
    DWORD keys = 0;
    while (shared.enumSubKey(keys, name) == ERROR_SUCCESS) {
        ++keys;
    }
    EXPECT_EQ(keys, static_cast<DWORD>(kKeysShared));
}

// Writes 3000 values of 1 KB, each in its own commit, then tells how large
// the write-ahead log grew. args: the file for that size.
VELMOOR_TEST_CHILD(registry_many_commits) {
    RegistryKey key;
    if (RegistryKey::create(HKEY_CURRENT_USER, kBase, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
        return 1;
    }
    std::vector<BYTE> value(1024, 0x5A);
    std::uintmax_t largest = 0;
    const auto log = homeFolder() / "registry.db-wal";
    for (int i = 0; i < 3000; ++i) {
        if (key.setValue("V" + std::to_string(i), REG_BINARY, value.data(), DWORD(value.size())) != ERROR_SUCCESS) {
            return 2;
        }
        std::error_code error;
        largest = std::max(largest, std::filesystem::file_size(log, error));
    }
    FILE* out = std::fopen(args.at(0).c_str(), "w");
    if (out == nullptr) return 3;
    std::fprintf(out, "%ju", largest);
    std::fclose(out);
    return 0;
}

// A program's writes keep the write-ahead log small, and its end empties it:
// the store stays near its real size.
TEST(Registry, WriteAheadLogStaysSmallAndIsEmptiedAtTheEnd) {
    const std::string report = (homeFolder() / "largest-log").string();
    auto child = velmoor::testing::ChildProcess::start("registry_many_commits", {report});
    ASSERT_EQ(child.wait(std::chrono::seconds(100)), 0);
    std::uintmax_t largest = 0;
    FILE* in = std::fopen(report.c_str(), "r");
    ASSERT_NE(in, nullptr);
    ASSERT_EQ(std::fscanf(in, "%ju", &largest), 1);
    std::fclose(in);
    EXPECT_GT(largest, 0u);
    EXPECT_LT(largest, 1024u * 1024u);
    std::error_code error;
    const std::uintmax_t left = std::filesystem::file_size(homeFolder() / "registry.db-wal", error);
    EXPECT_EQ(error ? 0 : left, 0u);
    // Everything written is there.
    RegistryKey key;
    ASSERT_EQ(RegistryKey::open(HKEY_CURRENT_USER, kBase, KEY_READ, key), ERROR_SUCCESS);
    BYTE last[1024] = {};
    DWORD size = sizeof last;
    DWORD type = 0;
    ASSERT_EQ(key.queryValue("V2999", &type, last, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 1024u);
}

TEST(Registry, KilledWriterLeavesEverythingItWrote) {
    auto child = velmoor::testing::ChildProcess::start("registry_writer_killed");
    EXPECT_EQ(child.wait(std::chrono::seconds(60)), 128 + SIGKILL);

    RegistryKey key;
    ASSERT_EQ(RegistryKey::open(HKEY_CURRENT_USER, kBase, KEY_READ, key), ERROR_SUCCESS);
    for (DWORD i = 0; i < 500; ++i) {
        DWORD value = 0xFFFFFFFF;
        DWORD size = 4;
        ASSERT_EQ(key.queryValue("V" + std::to_string(i), nullptr, reinterpret_cast<BYTE*>(&value),
                                 &size),
                  ERROR_SUCCESS)
            << i;
        EXPECT_EQ(value, i);
    }

    sqlite3* db = nullptr;
    std::string file = (homeFolder() / "registry.db").string();
    ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    std::string verdict;
    sqlite3_exec(
        db, "PRAGMA integrity_check",
        [](void* out, int, char** columns, char**) {
            *static_cast<std::string*>(out) += columns[0] ? columns[0] : "";
            return 0;
        },
        &verdict, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(verdict, "ok");
}

// A damaged database is never used: at open it is kept aside under a dated
// name, a fresh registry starts from the defaults, and the notice says where
// the damaged file went (once).
TEST(Registry, DamagedDatabaseIsKeptAsideAndAFreshOneStarts) {
    namespace fs = std::filesystem;
    const std::string home = std::getenv("VELMOOR_HOME");
    struct Case {
        const char* what;
        long offset;      // where the damage goes
        std::size_t bytes;
    };
    const Case cases[] = {{"not a database at all", 0, 8192},
                          {"a table page overwritten", 4096, 4096}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string here = home + "/damaged" + std::to_string(n++);
        fs::create_directories(here);
        ::setenv("VELMOOR_HOME", here.c_str(), 1);
        {
            RegistryKey key = createdKey(HKEY_CURRENT_USER, kBase);
            for (int i = 0; i < 200; ++i) {
                DWORD v = DWORD(i);
                ASSERT_EQ(key.setValue("V" + std::to_string(i), REG_DWORD, reinterpret_cast<BYTE*>(&v), 4),
                          ERROR_SUCCESS);
            }
        }
        EXPECT_EQ(TakeDamagedRegistryNotice(), "");
        // Away and back: the database is closed (and its log folded in) meanwhile.
        ::setenv("VELMOOR_HOME", home.c_str(), 1);
        RegistryKey elsewhere = createdKey(HKEY_CURRENT_USER, kBase);
        ASSERT_FALSE(fs::exists(here + "/registry.db-wal"));
        {
            std::FILE* file = std::fopen((here + "/registry.db").c_str(), "r+b");
            ASSERT_NE(file, nullptr);
            std::fseek(file, c.offset, SEEK_SET);
            std::string junk(c.bytes, 'J');
            std::fwrite(junk.data(), 1, junk.size(), file);
            std::fclose(file);
        }
        ::setenv("VELMOOR_HOME", here.c_str(), 1);
        RegistryKey key;
        ASSERT_EQ(RegistryKey::open(HKEY_CURRENT_USER, "Software", KEY_READ, key), ERROR_FILE_NOT_FOUND);
        const std::string kept = TakeDamagedRegistryNotice();
        EXPECT_EQ(kept.rfind(here + "/registry.db.damaged-", 0), 0u) << kept;
        EXPECT_TRUE(fs::exists(kept));
        EXPECT_EQ(TakeDamagedRegistryNotice(), "");
        // The fresh one works and keeps what is written.
        RegistryKey fresh = createdKey(HKEY_CURRENT_USER, kBase);
        DWORD one = 1;
        EXPECT_EQ(fresh.setValue("Fresh", REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);
        EXPECT_EQ(fresh.queryValue("Fresh", nullptr, nullptr, nullptr), ERROR_SUCCESS);
        ::setenv("VELMOOR_HOME", home.c_str(), 1);
    }
}

namespace {

// What another process sees: "missing", "deleted key" or the value's text.
std::string valueSeenElsewhere(const std::string& path, const std::string& name) {
    RegistryKey key;
    if (RegistryKey::open(HKEY_CURRENT_USER, path, KEY_READ, key) != ERROR_SUCCESS) {
        return "no key";
    }
    RegistryValue value;
    if (key.readValue(name, value) != ERROR_SUCCESS) {
        return "missing";
    }
    return std::string(value.data.begin(), value.data.end());
}

}  // namespace

// args: key path, value name, expected; exit 0 when this process sees it so.
VELMOOR_TEST_CHILD(registry_reader) { return valueSeenElsewhere(args.at(0), args.at(1)) == args.at(2) ? 0 : 1; }

VELMOOR_TEST_CHILD(registry_deleter) { return RegDeleteKey(HKEY_CURRENT_USER, args.at(0).c_str()) == ERROR_SUCCESS ? 0 : 1; }

// Values of the registry key named `name` as another connection sees them.
int valuesSeenByAnotherConnection(const char* name) {
    sqlite3* db = nullptr;
    const std::string file = (homeFolder() / "registry.db").string();
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return -1;
    }
    sqlite3_stmt* s = nullptr;
    int count = -1;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM vals JOIN keys ON vals.key = keys.id WHERE keys.name = ?1", -1,
                           &s, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(s, 1, name, -1, SQLITE_STATIC);
        if (sqlite3_step(s) == SQLITE_ROW) count = sqlite3_column_int(s, 0);
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return count;
}

// A child made by fork never uses its parent's connection: it opens its own,
// sees what the parent committed, and the parent's goes on working after it.
TEST(Registry, ForkedChildOpensItsOwnConnection) {
    RegistryKey key = createdKey(HKEY_CURRENT_USER, std::string(kBase) + "\\Fork");
    const DWORD parentValue = 17;
    ASSERT_EQ(key.setValue("Parent", REG_DWORD, reinterpret_cast<const BYTE*>(&parentValue), 4), ERROR_SUCCESS);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Handles opened before the fork belong to the parent's connection.
        DWORD size = 4;
        DWORD seen = 0;
        const bool oldHandleRefused = key.queryValue("Parent", nullptr, reinterpret_cast<BYTE*>(&seen), &size) ==
                                      ERROR_INVALID_HANDLE;
        RegistryKey own = createdKey(HKEY_CURRENT_USER, std::string(kBase) + "\\Fork");
        size = 4;
        const bool read = own.queryValue("Parent", nullptr, reinterpret_cast<BYTE*>(&seen), &size) == ERROR_SUCCESS;
        const DWORD childValue = 23;
        const bool written = own.setValue("Child", REG_DWORD, reinterpret_cast<const BYTE*>(&childValue), 4) ==
                             ERROR_SUCCESS;
        own.release();
        ::_exit(oldHandleRefused && read && seen == parentValue && written ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    DWORD seen = 0;
    DWORD size = 4;
    EXPECT_EQ(key.queryValue("Child", nullptr, reinterpret_cast<BYTE*>(&seen), &size), ERROR_SUCCESS);
    EXPECT_EQ(seen, 23u);
}

TEST(Registry, BatchCommitsEverythingAtItsEnd) {
    const std::string path = std::string(kBase) + "\\Batch";
    {
        RegistryBatch batch;
        RegistryKey key = createdKey(HKEY_CURRENT_USER, path);
        ASSERT_EQ(key.setValue("a", REG_SZ, reinterpret_cast<const BYTE*>("one"), 3), ERROR_SUCCESS);
        {
            RegistryBatch nested;  // joins the outer one: nothing commits here
        }
        ASSERT_EQ(key.setValue("b", REG_SZ, reinterpret_cast<const BYTE*>("two"), 3), ERROR_SUCCESS);
        // This process reads its own writes; another connection sees nothing
        // before the commit.
        RegistryValue value;
        ASSERT_EQ(key.readValue("a", value), ERROR_SUCCESS);
        EXPECT_EQ(value.data, bytesOf("one"));
        EXPECT_EQ(valuesSeenByAnotherConnection("Batch"), 0);
        // A failed call inside the batch undoes only itself.
        EXPECT_EQ(key.deleteValue("never written"), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(batch.commit(), ERROR_SUCCESS);
        EXPECT_EQ(valuesSeenByAnotherConnection("Batch"), 2);
    }
    for (const auto& [name, text] : {std::pair{"a", "one"}, std::pair{"b", "two"}}) {
        EXPECT_EQ(velmoor::testing::ChildProcess::start("registry_reader", {path, name, text})
                      .wait(std::chrono::seconds(30)),
                  0)
            << name;
    }
}

// A home changed during a batch takes effect after it: every call of the batch
// goes to the database the batch began on, and its changes are committed there
// (none is lost with a database closed under the open transaction).
TEST(Registry, BatchKeepsItsDatabaseUntilItEnds) {
    const std::string path = std::string(kBase) + "\\PinnedBatch";
    const std::string first = std::getenv("VELMOOR_HOME");
    const std::string second = first + "/other";
    {
        RegistryBatch batch;
        RegistryKey key = createdKey(HKEY_CURRENT_USER, path);
        ASSERT_EQ(key.setValue("a", REG_SZ, reinterpret_cast<const BYTE*>("one"), 3), ERROR_SUCCESS);
        ::setenv("VELMOOR_HOME", second.c_str(), 1);
        EXPECT_EQ(key.setValue("b", REG_SZ, reinterpret_cast<const BYTE*>("two"), 3), ERROR_SUCCESS);
        RegistryKey again;
        EXPECT_EQ(RegistryKey::open(HKEY_CURRENT_USER, path, KEY_READ, again), ERROR_SUCCESS);
        EXPECT_EQ(batch.commit(), ERROR_SUCCESS);
        // After the batch the new home's registry is used: the key is not there.
        EXPECT_EQ(key.queryValue("a", nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
        RegistryKey there;
        EXPECT_EQ(RegistryKey::open(HKEY_CURRENT_USER, path, KEY_READ, there), ERROR_FILE_NOT_FOUND);
    }
    ::setenv("VELMOOR_HOME", first.c_str(), 1);
    RegistryKey back;
    ASSERT_EQ(RegistryKey::open(HKEY_CURRENT_USER, path, KEY_READ, back), ERROR_SUCCESS);
    for (const auto& [name, text] : {std::pair{"a", "one"}, std::pair{"b", "two"}}) {
        RegistryValue value;
        ASSERT_EQ(back.readValue(name, value), ERROR_SUCCESS) << name;
        EXPECT_EQ(value.data, bytesOf(text)) << name;
    }
}

TEST(Registry, KeyDeletedByAnotherProcessIsNotOpenedFromMemory) {
    const std::string path = std::string(kBase) + "\\Remembered\\Deep";
    {
        RegistryKey key = createdKey(HKEY_CURRENT_USER, path);
        RegistryKey again;
        ASSERT_EQ(RegistryKey::open(HKEY_CURRENT_USER, path, KEY_READ, again), ERROR_SUCCESS);
    }
    ASSERT_EQ(velmoor::testing::ChildProcess::start("registry_deleter", {std::string(kBase) + "\\Remembered"})
                  .wait(std::chrono::seconds(30)),
              0);
    RegistryKey gone;
    EXPECT_EQ(RegistryKey::open(HKEY_CURRENT_USER, path, KEY_READ, gone), ERROR_FILE_NOT_FOUND);
    // Created again, it is a new key with none of the old values.
    RegistryKey fresh = createdKey(HKEY_CURRENT_USER, path);
    std::string name;
    EXPECT_EQ(fresh.enumValue(0, name), ERROR_NO_MORE_ITEMS);
    // Deleted by this process, the same.
    ASSERT_EQ(RegDeleteKey(HKEY_CURRENT_USER, (std::string(kBase) + "\\Remembered").c_str()), ERROR_SUCCESS);
    EXPECT_EQ(RegistryKey::open(HKEY_CURRENT_USER, path, KEY_READ, gone), ERROR_FILE_NOT_FOUND);
}

namespace {

// args: key path, value name; exit 0 when this process removed the value.
VELMOOR_TEST_CHILD(registry_value_remover) {
    RegistryKey key;
    if (RegistryKey::open(HKEY_CURRENT_USER, args.at(0), KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
        return 1;
    }
    return key.deleteValue(args.at(1)) == ERROR_SUCCESS ? 0 : 1;
}

// Names found at `index` and on until the end, subkeys or values.
std::vector<std::string> walkFrom(const RegistryKey& key, bool values, DWORD index) {
    std::vector<std::string> found;
    std::string name;
    while ((values ? key.enumValue(index, name) : key.enumSubKey(index, name)) == ERROR_SUCCESS) {
        found.push_back(name);
        ++index;
    }
    return found;
}

}  // namespace

// A walk by index always finds what the key holds at the moment of each call:
// a change made between two steps, by this process or another, counts as if
// the walk had started again at that index.
TEST(Registry, WalkByIndexSeesChangesMadeDuringIt) {
    const std::string path = std::string(kBase) + "\\Walk";
    struct Case {
        const char* what;
        bool values;
        // Done after items 0 and 1 were found; the names expected from index 2 on.
        std::function<void(RegistryKey&)> change;
        std::vector<std::string> after;
    };
    BYTE one = 1;
    const std::vector<Case> cases = {
        {"values, nothing changed", true, [](RegistryKey&) {}, {"v2", "v3", "v4"}},
        {"values, first removed here", true, [](RegistryKey& k) { ASSERT_EQ(k.deleteValue("v0"), ERROR_SUCCESS); },
         {"v3", "v4"}},
        {"values, one added here", true,
         [&](RegistryKey& k) { ASSERT_EQ(k.setValue("v5", REG_BINARY, &one, 1), ERROR_SUCCESS); },
         {"v2", "v3", "v4", "v5"}},
        {"values, first removed by another process", true,
         [&](RegistryKey&) {
             ASSERT_EQ(velmoor::testing::ChildProcess::start("registry_value_remover", {path, "v0"})
                           .wait(std::chrono::seconds(30)),
                       0);
         },
         {"v3", "v4"}},
        {"subkeys, nothing changed", false, [](RegistryKey&) {}, {"k2", "k3", "k4"}},
        {"subkeys, first removed here", false, [](RegistryKey& k) { ASSERT_EQ(k.deleteSubKey("k0"), ERROR_SUCCESS); },
         {"k3", "k4"}},
        {"subkeys, one added before them here", false, [](RegistryKey& k) { createdKey(k.handle(), "a"); },
         {"k1", "k2", "k3", "k4"}},
        {"subkeys, first removed by another process", false,
         [&](RegistryKey&) {
             ASSERT_EQ(velmoor::testing::ChildProcess::start("registry_deleter", {path + "\\k0"})
                           .wait(std::chrono::seconds(30)),
                       0);
         },
         {"k3", "k4"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const LONG cleared = RegDeleteKey(HKEY_CURRENT_USER, path.c_str());
        ASSERT_TRUE(cleared == ERROR_SUCCESS || cleared == ERROR_FILE_NOT_FOUND);
        RegistryKey key = createdKey(HKEY_CURRENT_USER, path);
        for (int i = 0; i < 5; ++i) {
            const std::string n = std::to_string(i);
            ASSERT_EQ(key.setValue("v" + n, REG_BINARY, &one, 1), ERROR_SUCCESS);
            createdKey(key.handle(), "k" + n);
        }
        std::string name;
        ASSERT_EQ(c.values ? key.enumValue(0, name) : key.enumSubKey(0, name), ERROR_SUCCESS);
        ASSERT_EQ(c.values ? key.enumValue(1, name) : key.enumSubKey(1, name), ERROR_SUCCESS);
        EXPECT_EQ(name, c.values ? "v1" : "k1");
        c.change(key);
        EXPECT_EQ(walkFrom(key, c.values, 2), c.after);
    }
}

// Walks through several keys at once, as a copy of a tree does, and a walk
// that goes back, each find what they would alone.
TEST(Registry, InterleavedWalksKeepTheirOwnPlace) {
    const std::string path = std::string(kBase) + "\\Tree";
    RegistryKey top = createdKey(HKEY_CURRENT_USER, path);
    BYTE one = 1;
    for (const char* sub : {"a", "b", "c"}) {
        RegistryKey child = createdKey(top.handle(), sub);
        for (const char* v : {"x", "y", "z"}) {
            ASSERT_EQ(child.setValue(std::string(sub) + v, REG_BINARY, &one, 1), ERROR_SUCCESS);
        }
    }
    std::vector<std::string> seen;
    std::string name;
    for (DWORD i = 0; top.enumSubKey(i, name) == ERROR_SUCCESS; ++i) {
        RegistryKey child;
        ASSERT_EQ(RegistryKey::open(top.handle(), name, KEY_READ, child), ERROR_SUCCESS);
        RegistryKey same;
        ASSERT_EQ(RegistryKey::open(top.handle(), name, KEY_READ, same), ERROR_SUCCESS);
        std::string other;
        for (DWORD j = 0; child.enumValue(j, name) == ERROR_SUCCESS; ++j) {
            seen.push_back(name);
            ASSERT_EQ(same.enumValue(2 - std::min<DWORD>(j, 2), other), ERROR_SUCCESS);
            seen.push_back(other);
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"ax", "az", "ay", "ay", "az", "ax", "bx", "bz", "by", "by", "bz", "bx",
                                              "cx", "cz", "cy", "cy", "cz", "cx"}));
    EXPECT_EQ(walkFrom(top, false, 1), (std::vector<std::string>{"b", "c"}));
}

// A subkey is found by its name whatever the case, and tells the name as it
// was stored.
TEST(Registry, SubKeyNameTellsTheStoredSpelling) {
    RegistryKey parent = createdKey(HKEY_CURRENT_USER, std::string(kBase) + "\\Spelling");
    createdKey(parent.handle(), "MixedCase");
    const struct {
        const char* asked;
        LONG result;
        const char* stored;
    } cases[] = {
        {"MixedCase", ERROR_SUCCESS, "MixedCase"},
        {"mixedcase", ERROR_SUCCESS, "MixedCase"},
        {"MIXEDCASE", ERROR_SUCCESS, "MixedCase"},
        {"Mixed", ERROR_FILE_NOT_FOUND, ""},
        {"", ERROR_INVALID_PARAMETER, ""},
        {"MixedCase\\Deeper", ERROR_INVALID_PARAMETER, ""},
    };
    for (const auto& c : cases) {
        std::string stored;
        EXPECT_EQ(parent.subKeyName(c.asked, stored), c.result) << c.asked;
        EXPECT_EQ(stored, c.stored) << c.asked;
    }
    std::string stored;
    EXPECT_EQ(parent.subKeyName(std::string(300, 'x'), stored), ERROR_INVALID_PARAMETER);
    RegistryKey readOnly;
    ASSERT_EQ(RegistryKey::open(parent.handle(), "", KEY_QUERY_VALUE, readOnly), ERROR_SUCCESS);
    EXPECT_EQ(readOnly.subKeyName("MixedCase", stored), ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegDeleteKey(HKEY_CURRENT_USER, (std::string(kBase) + "\\Spelling").c_str()), ERROR_SUCCESS);
    EXPECT_EQ(parent.subKeyName("MixedCase", stored), ERROR_KEY_DELETED);
}
