#include "platform/registry_store.h"

#include "platform/folders.h"

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <pthread.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {
namespace {

// Counts the forks of the process as each child sees them: a connection must
// not be used across fork, and this is asked at every call (a getpid would be
// a system call each time).
std::atomic<unsigned> g_forks{0};
void countFork() { g_forks.fetch_add(1, std::memory_order_relaxed); }

// Where the last damaged database found at open was kept, until someone asks.
std::mutex g_noticeMutex;
std::string g_damagedRegistry;

// Checks the database file before it is used. A file that cannot be read as a
// database, or that the quick check finds damaged, is moved aside under a dated
// name (with its write-ahead log), so that a fresh registry starts from the
// defaults instead of the program running on settings it cannot read. Returns
// the name it was kept under; empty when the file is sound, absent, or busy.
std::string setAsideIfDamaged(const std::string& file) {
    if (::access(file.c_str(), F_OK) != 0) {
        return {};
    }
    bool damaged = false;
    {
        sqlite3* raw = nullptr;
        int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
        std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close_v2);
        if (rc != SQLITE_OK) {
            return {};  // not ours to judge: the open after this one reports it
        }
        sqlite3_busy_timeout(db.get(), 2000);
        sqlite3_stmt* check = nullptr;
        rc = sqlite3_prepare_v2(db.get(), "PRAGMA quick_check(1)", -1, &check, nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(check);
            if (rc == SQLITE_ROW) {
                const auto* answer = sqlite3_column_text(check, 0);
                damaged = answer == nullptr || std::strcmp(reinterpret_cast<const char*>(answer), "ok") != 0;
            }
        }
        sqlite3_finalize(check);
        const int primary = rc & 0xFF;
        damaged = damaged || primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
    }
    if (!damaged) {
        return {};
    }
    char stamp[32] = {};
    std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string kept = file + ".damaged-" + stamp;
    for (int n = 2; ::access(kept.c_str(), F_OK) == 0; ++n) {
        kept = file + ".damaged-" + stamp + "-" + std::to_string(n);
    }
    if (::rename(file.c_str(), kept.c_str()) != 0) {
        return {};
    }
    ::rename((file + "-wal").c_str(), (kept + "-wal").c_str());
    ::unlink((file + "-shm").c_str());
    return kept;
}

struct DbClose {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, DbClose>;
struct StmtFree {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StmtFree>;

using KeyId = sqlite3_int64;

// The roots are fixed rows of the key table.
constexpr KeyId kClassesRootId = 1;
constexpr KeyId kCurrentUserId = 2;
constexpr KeyId kLocalMachineId = 3;

// Limits of the names, as the system's callers know them.
constexpr std::size_t kMaxKeyNameChars = 255;
constexpr std::size_t kMaxValueNameChars = 16383;

// How long a write keeps retrying while other processes hold the database.
constexpr auto kBusyDeadline = std::chrono::seconds(60);
constexpr int kBusyTimeoutMs = 10000;
// The write-ahead log is moved into the database every 100 pages (400 KB) and
// cut back to 512 KB afterwards; at the program's end it is emptied, waiting
// that long at most for other processes.
constexpr int kLogTruncateWaitMs = 200;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  UNIQUE(parent, name));"
    "INSERT OR IGNORE INTO keys(id, parent, name) VALUES"
    "  (1, NULL, 'HKEY_CLASSES_ROOT'), (2, NULL, 'HKEY_CURRENT_USER'),"
    "  (3, NULL, 'HKEY_LOCAL_MACHINE');"
    "CREATE TABLE IF NOT EXISTS vals("
    "  key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, name));"
    // A key's values in the order they were written, so that a walk through
    // them seeks to the next one instead of counting from the first.
    "CREATE INDEX IF NOT EXISTS vals_in_order ON vals(key);";

enum Sql : std::size_t {
    kBegin,
    kBeginRead,
    kCommit,
    kRollback,
    kFindChild,
    kInsertKey,
    kKeyExists,
    kQueryValue,
    kUpsertValue,
    kDeleteValue,
    kDeleteKey,
    kEnumKey,
    kEnumKeyAfter,
    kEnumValue,
    kEnumValueAfter,
    kDataVersion,
    kSavepoint,
    kRelease,
    kRollbackTo,
    kSqlCount
};

constexpr const char* kSqlText[kSqlCount] = {
    "BEGIN IMMEDIATE",
    "BEGIN",
    "COMMIT",
    "ROLLBACK",
    "SELECT id, name FROM keys WHERE parent = ?1 AND name = ?2",
    "INSERT INTO keys(parent, name) VALUES(?1, ?2)",
    "SELECT 1 FROM keys WHERE id = ?1",
    "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2",
    // Rewriting a value with the same type and bytes changes no page, so the
    // write-back of unchanged settings costs no log write.
    "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
    "ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data "
    "WHERE type IS NOT excluded.type OR data IS NOT excluded.data",
    "DELETE FROM vals WHERE key = ?1 AND name = ?2",
    "DELETE FROM keys WHERE id = ?1",
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY name LIMIT 1 OFFSET ?2",
    "SELECT name FROM keys WHERE parent = ?1 AND name > ?2 ORDER BY name LIMIT 1",
    "SELECT name, type, data, rowid FROM vals WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2",
    "SELECT name, type, data, rowid FROM vals WHERE key = ?1 AND rowid > ?2 ORDER BY rowid LIMIT 1",
    "PRAGMA data_version",
    "SAVEPOINT step",
    "RELEASE step",
    "ROLLBACK TO step",
};

bool isBusy(int rc) {
    int primary = rc & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// Resets a statement when the step that used it is done.
class ResetOnExit {
public:
    explicit ResetOnExit(sqlite3_stmt* s) : m_stmt(s) {}
    ~ResetOnExit() {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    ResetOnExit(const ResetOnExit&) = delete;
    ResetOnExit& operator=(const ResetOnExit&) = delete;

private:
    sqlite3_stmt* m_stmt;
};

void pauseBeforeRetry(int attempt) {
    // Spread the retries of competing processes a little.
    int ms = 1 + (attempt % 7) + static_cast<int>(::getpid() % 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A step that retries while another process holds a lock the busy handler could
// not wait for (a stale snapshot, a log being recovered). The clock is read
// only once a step found the database busy.
int stepRetrying(sqlite3_stmt* s) {
    int rc = sqlite3_step(s);
    if (!isBusy(rc)) {
        return rc;
    }
    const auto deadline = std::chrono::steady_clock::now() + kBusyDeadline;
    for (int attempt = 0;; ++attempt) {
        sqlite3_reset(s);
        pauseBeforeRetry(attempt);
        rc = sqlite3_step(s);
        if (!isBusy(rc) || std::chrono::steady_clock::now() >= deadline) {
            return rc;
        }
    }
}

LONG codeForWrite(int rc) {
    if ((rc & 0xFF) == SQLITE_NOMEM) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    if (rc == SQLITE_CONSTRAINT_FOREIGNKEY) {
        return ERROR_KEY_DELETED;
    }
    return ERROR_CANTWRITE;
}

LONG codeForRead(int rc) {
    return (rc & 0xFF) == SQLITE_NOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_CANTREAD;
}

bool validName(std::string_view name, std::size_t maxChars) {
    return name.size() <= maxChars && name.find('\0') == std::string_view::npos;
}

// Splits a backslash-separated key path. A trailing backslash is ignored; a
// leading one or an empty component makes the path invalid.
bool splitPath(std::string_view path, std::vector<std::string_view>& parts) {
    parts.clear();
    if (!path.empty() && path.back() == '\\') {
        path.remove_suffix(1);
        if (path.empty()) {
            return false;
        }
    }
    if (path.empty()) {
        return true;
    }
    std::size_t start = 0;
    for (;;) {
        std::size_t end = path.find('\\', start);
        std::string_view part = path.substr(start, end == std::string_view::npos ? end : end - start);
        if (part.empty() || !validName(part, kMaxKeyNameChars)) {
            return false;
        }
        parts.push_back(part);
        if (end == std::string_view::npos) {
            return true;
        }
        start = end + 1;
    }
}

// The one registry connection of the process and its open-key handles. Every call
// takes the one mutex, so any thread may call; the statements are prepared once.
class SqliteRegistry final : public RegistryStore {
public:
    // Moves the write-ahead log into the database and empties it, so that a
    // closed program leaves the store at its real size. Skipped while another
    // thread or an open batch holds the database, and in a forked child.
    void truncateLog() {
        std::unique_lock lock(m_mutex, std::try_to_lock);
        if (!lock.owns_lock() || !m_db || m_forks != g_forks.load(std::memory_order_relaxed) || inBatch()) {
            return;
        }
        // Another process reading now only makes this one leave the log as it is.
        sqlite3_busy_timeout(m_db.get(), kLogTruncateWaitMs);
        sqlite3_wal_checkpoint_v2(m_db.get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
        sqlite3_busy_timeout(m_db.get(), kBusyTimeoutMs);
    }

    LONG open(HKEY parent, std::string_view path, REGSAM access, bool create, HKEY* result,
              DWORD* disposition) override {
        std::vector<std::string_view> parts;
        if (!splitPath(path, parts)) {
            return ERROR_INVALID_PARAMETER;
        }
        std::lock_guard lock(m_mutex);
        if (LONG rc = ensureOpen(); rc != ERROR_SUCCESS) {
            return rc;
        }
        KeyId id = 0;
        REGSAM parentAccess = 0;
        if (LONG rc = resolve(parent, 0, id, &parentAccess); rc != ERROR_SUCCESS) {
            return rc;
        }
        // A path resolved before, while no other connection has changed the
        // database, still leads to the same key.
        const std::string cacheKey = pathCacheKey(id, path);
        if (!parts.empty() && pathCacheValid()) {
            if (auto hit = m_pathCache.find(cacheKey); hit != m_pathCache.end()) {
                return addHandle(hit->second, access, result, disposition, REG_OPENED_EXISTING_KEY);
            }
        }
        // Walk down reading only, in one snapshot; most opens find every key there.
        ReadScope snapshot(*this);
        std::size_t found = 0;
        if (int rc = walkDown(id, parts, found); rc != SQLITE_ROW && rc != SQLITE_DONE) {
            return codeForRead(rc);
        }
        DWORD outcome = REG_OPENED_EXISTING_KEY;
        if (found == 0 && !keyExists(id)) {
            return ERROR_KEY_DELETED;
        }
        snapshot.end();
        if (found < parts.size()) {
            if (!create) {
                return ERROR_FILE_NOT_FOUND;
            }
            if ((parentAccess & KEY_CREATE_SUB_KEY) == 0) {
                return ERROR_ACCESS_DENIED;
            }
            KeyId start = id;
            LONG rc = writeTransaction([&]() -> int {
                id = start;
                for (std::size_t i = found; i < parts.size(); ++i) {
                    KeyId child = 0;
                    int step = findChild(id, parts[i], child);
                    if (step == SQLITE_ROW) {
                        id = child;
                        continue;
                    }
                    if (step != SQLITE_DONE) {
                        return step;
                    }
                    if (step = insertKey(id, parts[i], child); step != SQLITE_DONE) {
                        return step;
                    }
                    id = child;
                    outcome = REG_CREATED_NEW_KEY;
                }
                return SQLITE_DONE;
            });
            if (rc != ERROR_SUCCESS) {
                return rc;
            }
        }
        if (!parts.empty()) {
            rememberPath(cacheKey, id);
        }
        return addHandle(id, access, result, disposition, outcome);
    }

    // Groups every call until endBatch into one write transaction (nested
    // batches join the outer one).
    LONG beginBatch() override {
        std::lock_guard lock(m_mutex);
        if (LONG rc = ensureOpen(); rc != ERROR_SUCCESS) {
            return rc;
        }
        if (m_batchDepth > 0) {
            ++m_batchDepth;
            return ERROR_SUCCESS;
        }
        auto deadline = std::chrono::steady_clock::now() + kBusyDeadline;
        for (int attempt = 0;; ++attempt) {
            int rc = SQLITE_ERROR;
            if (sqlite3_stmt* begin = statement(kBegin); begin != nullptr) {
                ResetOnExit reset(begin);
                rc = sqlite3_step(begin);
            }
            if (rc == SQLITE_DONE) {
                // Paths cached before the batch are checked once against what
                // other connections committed; inside it nobody else writes.
                pathCacheValid();
                m_batchDepth = 1;
                m_batchEpoch = m_epoch;
                return ERROR_SUCCESS;
            }
            if (!isBusy(rc) || std::chrono::steady_clock::now() >= deadline) {
                return codeForWrite(rc);
            }
            pauseBeforeRetry(attempt);
        }
    }

    LONG endBatch() override {
        std::lock_guard lock(m_mutex);
        if (m_batchDepth == 0 || --m_batchDepth > 0) {
            return ERROR_SUCCESS;
        }
        // A reopened database (another home) has no transaction of ours.
        if (m_batchEpoch != m_epoch || !m_db || sqlite3_get_autocommit(m_db.get())) {
            return ERROR_SUCCESS;
        }
        auto deadline = std::chrono::steady_clock::now() + kBusyDeadline;
        for (int attempt = 0;; ++attempt) {
            int rc = SQLITE_ERROR;
            if (sqlite3_stmt* commit = statement(kCommit); commit != nullptr) {
                ResetOnExit reset(commit);
                rc = sqlite3_step(commit);
            }
            if (rc == SQLITE_DONE) {
                return ERROR_SUCCESS;
            }
            if (!isBusy(rc) || std::chrono::steady_clock::now() >= deadline) {
                stepSimple(kRollback);
                return codeForWrite(rc);
            }
            pauseBeforeRetry(attempt);
        }
    }

    LONG close(HKEY handle) override {
        if (isRoot(handle)) {
            return ERROR_SUCCESS;
        }
        std::lock_guard lock(m_mutex);
        m_enumPlaces.erase(handle);
        return m_handles.erase(handle) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    }

    LONG query(HKEY handle, std::string_view name, DWORD* type, BYTE* data, DWORD* size) override {
        if (data != nullptr && size == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        if (!validName(name, kMaxValueNameChars)) {
            return ERROR_INVALID_PARAMETER;
        }
        return readRow(
            handle, KEY_QUERY_VALUE, kQueryValue, ERROR_FILE_NOT_FOUND,
            [&](sqlite3_stmt* s) { bindText(s, 2, name); },
            [&](sqlite3_stmt* s) -> LONG {
                DWORD storedType = static_cast<DWORD>(sqlite3_column_int64(s, 0));
                const void* bytes = sqlite3_column_blob(s, 1);
                DWORD stored = static_cast<DWORD>(sqlite3_column_bytes(s, 1));
                if (type != nullptr) {
                    *type = storedType;
                }
                if (data == nullptr) {
                    if (size != nullptr) {
                        *size = stored;
                    }
                    return ERROR_SUCCESS;
                }
                if (stored > *size) {
                    *size = stored;
                    return ERROR_MORE_DATA;
                }
                placeValue(storedType, bytes, stored, data, *size);
                *size = stored;
                return ERROR_SUCCESS;
            });
    }

    LONG read(HKEY handle, std::string_view name, RegistryValue& out) override {
        if (!validName(name, kMaxValueNameChars)) {
            return ERROR_INVALID_PARAMETER;
        }
        return readRow(
            handle, KEY_QUERY_VALUE, kQueryValue, ERROR_FILE_NOT_FOUND,
            [&](sqlite3_stmt* s) { bindText(s, 2, name); },
            [&](sqlite3_stmt* s) -> LONG {
                out.type = static_cast<DWORD>(sqlite3_column_int64(s, 0));
                copyBlob(s, 1, out.data);
                return ERROR_SUCCESS;
            });
    }

    LONG set(HKEY handle, std::string_view name, DWORD type, const BYTE* data, DWORD size) override {
        if ((data == nullptr && size != 0) || !validName(name, kMaxValueNameChars)) {
            return ERROR_INVALID_PARAMETER;
        }
        return writeRow(
            handle, KEY_SET_VALUE, kUpsertValue,
            [&](sqlite3_stmt* s) {
                bindText(s, 2, name);
                sqlite3_bind_int64(s, 3, type);
                // A non-null pointer keeps an empty value an empty blob, not NULL.
                static const BYTE kNothing = 0;
                sqlite3_bind_blob(s, 4, size != 0 ? data : &kNothing, static_cast<int>(size),
                                  SQLITE_STATIC);
            },
            [](KeyId, int) { return ERROR_SUCCESS; });
    }

    LONG deleteValue(HKEY handle, std::string_view name) override {
        if (!validName(name, kMaxValueNameChars)) {
            return ERROR_INVALID_PARAMETER;
        }
        return writeRow(
            handle, KEY_SET_VALUE, kDeleteValue, [&](sqlite3_stmt* s) { bindText(s, 2, name); },
            [&](KeyId id, int removed) -> LONG {
                if (removed == 0) {
                    return keyExists(id) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
                }
                return ERROR_SUCCESS;
            });
    }

    LONG deleteKey(HKEY handle, std::string_view path) override {
        std::vector<std::string_view> parts;
        if (!splitPath(path, parts) || parts.empty()) {
            return ERROR_INVALID_PARAMETER;
        }
        std::lock_guard lock(m_mutex);
        KeyId id = 0;
        if (LONG rc = openedKey(handle, 0, id); rc != ERROR_SUCCESS) {
            return rc;
        }
        KeyId start = id;
        bool missing = false;
        // Paths below the deleted key lead nowhere now.
        m_pathCache.clear();
        LONG rc = writeTransaction([&]() -> int {
            id = start;
            std::size_t found = 0;
            int step = walkDown(id, parts, found);
            missing = step == SQLITE_DONE;
            if (step != SQLITE_ROW) {
                return step;
            }
            sqlite3_stmt* s = statement(kDeleteKey);
            if (s == nullptr) {
                return SQLITE_ERROR;
            }
            ResetOnExit reset(s);
            sqlite3_bind_int64(s, 1, id);
            return sqlite3_step(s);
        });
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        return missing ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
    }

    LONG subKeyName(HKEY handle, std::string_view name, std::string& stored) override {
        if (name.empty() || !validName(name, kMaxKeyNameChars) || name.find('\\') != std::string_view::npos) {
            return ERROR_INVALID_PARAMETER;
        }
        return readRow(
            handle, KEY_ENUMERATE_SUB_KEYS, kFindChild, ERROR_FILE_NOT_FOUND,
            [&](sqlite3_stmt* s) { bindText(s, 2, name); },
            [&](sqlite3_stmt* s) -> LONG {
                copyText(s, 1, stored);
                return ERROR_SUCCESS;
            });
    }

    LONG enumKey(HKEY handle, DWORD index, std::string& name) override {
        return enumerate(handle, KEY_ENUMERATE_SUB_KEYS, index, EnumWalk::kSubKeys,
                         [&](sqlite3_stmt* s) { copyText(s, 0, name); });
    }

    LONG enumValue(HKEY handle, DWORD index, std::string& name, RegistryValue* value) override {
        return enumerate(handle, KEY_QUERY_VALUE, index, EnumWalk::kValues, [&](sqlite3_stmt* s) {
            copyText(s, 0, name);
            if (value != nullptr) {
                value->type = static_cast<DWORD>(sqlite3_column_int64(s, 1));
                copyBlob(s, 2, value->data);
            }
        });
    }

private:
    // Groups the reads of one call into one read transaction, so the call takes
    // the database's read lock once rather than once per statement.
    class ReadScope {
    public:
        explicit ReadScope(SqliteRegistry& registry)
            : m_registry(registry), m_active(!registry.inBatch() && registry.stepSimple(kBeginRead)) {}
        ~ReadScope() { end(); }
        ReadScope(const ReadScope&) = delete;
        ReadScope& operator=(const ReadScope&) = delete;
        void end() {
            if (m_active && !sqlite3_get_autocommit(m_registry.m_db.get())) {
                m_registry.stepSimple(kCommit);
            }
            m_active = false;
        }

    private:
        SqliteRegistry& m_registry;
        bool m_active;
    };

    struct OpenKey {
        KeyId id;
        REGSAM access;
        std::uint64_t epoch;
    };

    enum class EnumWalk { kSubKeys, kValues };

    // Where a walk by index through a key's subkeys or values stands: the item
    // found last, so that the next index seeks past it instead of counting from
    // the first. It holds only while the database is as it was then: nothing
    // written by this connection, nothing committed by another.
    struct EnumPlace {
        KeyId key = 0;
        DWORD index = 0;
        std::string name;        // subkeys come in name order
        sqlite3_int64 row = 0;   // values come in the order they were written
        sqlite3_int64 ownChanges = -1;
        sqlite3_int64 version = -1;
    };

    struct EnumPlaces {
        EnumPlace subKeys;
        EnumPlace values;
    };

    // Finds item `index` below the key behind `handle` and hands its row to
    // `take`; the next index continues from there when nothing has changed.
    template <class Take>
    LONG enumerate(HKEY handle, REGSAM needed, DWORD index, EnumWalk walk, Take&& take) {
        std::lock_guard lock(m_mutex);
        KeyId id = 0;
        if (LONG rc = openedKey(handle, needed, id); rc != ERROR_SUCCESS) {
            return rc;
        }
        const bool values = walk == EnumWalk::kValues;
        EnumPlace& place = values ? m_enumPlaces[handle].values : m_enumPlaces[handle].subKeys;
        // The version and the row are read in one snapshot.
        ReadScope snapshot(*this);
        const sqlite3_int64 version = dataVersion();
        const sqlite3_int64 ownChanges = sqlite3_total_changes64(m_db.get());
        const bool next = version >= 0 && place.key == id && place.index + 1 == index &&
                          place.version == version && place.ownChanges == ownChanges;
        const EnumPlace last = std::exchange(place, EnumPlace{});
        sqlite3_stmt* s = statement(values ? (next ? kEnumValueAfter : kEnumValue) : (next ? kEnumKeyAfter : kEnumKey));
        if (s == nullptr) {
            return ERROR_CANTREAD;
        }
        ResetOnExit reset(s);
        sqlite3_bind_int64(s, 1, id);
        if (!next) {
            sqlite3_bind_int64(s, 2, index);
        } else if (values) {
            sqlite3_bind_int64(s, 2, last.row);
        } else {
            bindText(s, 2, last.name);
        }
        const int rc = stepRetrying(s);
        if (rc == SQLITE_DONE) {
            return keyExists(id) ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
        }
        if (rc != SQLITE_ROW) {
            return codeForRead(rc);
        }
        place = EnumPlace{id, index, {}, 0, ownChanges, version};
        if (values) {
            place.row = sqlite3_column_int64(s, 3);
        } else {
            copyText(s, 0, place.name);
        }
        take(s);
        return ERROR_SUCCESS;
    }

    // Counts the commits of other connections; -1 when it cannot be read.
    sqlite3_int64 dataVersion() {
        sqlite3_stmt* s = statement(kDataVersion);
        if (s == nullptr) {
            return -1;
        }
        ResetOnExit reset(s);
        return stepRetrying(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
    }

    static bool isRoot(HKEY handle) {
        return handle == HKEY_CLASSES_ROOT || handle == HKEY_CURRENT_USER ||
               handle == HKEY_LOCAL_MACHINE;
    }

    static void bindText(sqlite3_stmt* s, int index, std::string_view text) {
        sqlite3_bind_text(s, index, text.empty() ? "" : text.data(), static_cast<int>(text.size()),
                          SQLITE_STATIC);
    }

    static void copyText(sqlite3_stmt* s, int column, std::string& out) {
        const unsigned char* text = sqlite3_column_text(s, column);
        int bytes = sqlite3_column_bytes(s, column);
        out.assign(text != nullptr ? reinterpret_cast<const char*>(text) : "",
                   text != nullptr ? static_cast<std::size_t>(bytes) : 0);
    }

    static void copyBlob(sqlite3_stmt* s, int column, std::vector<BYTE>& out) {
        const BYTE* bytes = static_cast<const BYTE*>(sqlite3_column_blob(s, column));
        int count = sqlite3_column_bytes(s, column);
        out.assign(bytes, bytes != nullptr ? bytes + count : bytes);
    }

    bool inBatch() const { return m_batchDepth > 0 && m_batchEpoch == m_epoch; }

    LONG addHandle(KeyId id, REGSAM access, HKEY* result, DWORD* disposition, DWORD outcome) {
        HKEY handle = m_nextHandle++;
        m_handles.emplace(handle, OpenKey{id, access, m_epoch});
        *result = handle;
        if (disposition != nullptr) {
            *disposition = outcome;
        }
        return ERROR_SUCCESS;
    }

    // The parent's id and the path with ASCII letters folded, as names compare.
    static std::string pathCacheKey(KeyId parent, std::string_view path) {
        std::string key = std::to_string(parent);
        key += ':';
        for (char c : path) {
            key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        if (key.back() == '\\') {
            key.pop_back();  // a trailing backslash names the same key
        }
        return key;
    }

    // True while no other connection has committed since the cache was filled
    // (our own changes keep it right: key deletions clear it). Inside a batch
    // no other connection can write at all.
    bool pathCacheValid() {
        if (inBatch()) {
            return true;
        }
        const sqlite3_int64 version = dataVersion();
        if (version < 0) {
            return false;
        }
        if (version != m_pathCacheVersion) {
            m_pathCache.clear();
            m_pathCacheVersion = version;
        }
        return true;
    }

    void rememberPath(const std::string& key, KeyId id) {
        // Bounded: a program opens a few hundred distinct keys at most.
        if (m_pathCache.size() >= kPathCacheLimit) {
            m_pathCache.clear();
        }
        m_pathCache[key] = id;
    }

    // The environment that decides the home folder; compared at each call so that a
    // changed home opens its own database. The first of these that is set and not
    // empty decides the home: the ones after it are neither kept nor compared.
    static constexpr const char* kHomeVariables[] = {"VELMOOR_HOME", "XDG_DATA_HOME", "HOME"};

    static std::string homeEnvironment() {
        std::string key;
        for (const char* name : kHomeVariables) {
            const char* value = std::getenv(name);
            key += value != nullptr ? value : "";
            key += '\n';
            if (value != nullptr && *value != '\0') break;
        }
        return key;
    }

    // Compares without building the text: this runs at every call.
    bool sameEnvironment() const {
        std::string_view kept = m_environment;
        for (const char* name : kHomeVariables) {
            const char* value = std::getenv(name);
            std::string_view now = value != nullptr ? value : "";
            if (kept.size() < now.size() + 1 || kept.substr(0, now.size()) != now || kept[now.size()] != '\n') {
                return false;
            }
            kept.remove_prefix(now.size() + 1);
            if (!now.empty()) break;
        }
        return kept.empty();
    }

    LONG ensureOpen() {
        const unsigned forks = g_forks.load(std::memory_order_relaxed);
        // A batch keeps the database it began on until it ends: its open
        // transaction holds the batch's changes, which closing the database
        // for another home would throw away.
        if (m_db && forks == m_forks && (inBatch() || sameEnvironment())) {
            return ERROR_SUCCESS;
        }
        if (m_db && forks != m_forks) {
            // A connection must not be used across fork: abandon the parent's.
            for (auto& s : m_statements) {
                (void)s.release();
            }
            (void)m_db.release();
        }
        for (auto& s : m_statements) {
            s.reset();
        }
        m_db.reset();
        m_handles.clear();
        m_enumPlaces.clear();
        m_pathCache.clear();
        m_pathCacheVersion = -1;
        ++m_epoch;
        m_forks = forks;
        m_environment = homeEnvironment();

        std::string file = (homeFolder() / "registry.db").string();
        if (std::string keptAs = setAsideIfDamaged(file); !keptAs.empty()) {
            std::lock_guard noticeLock(g_noticeMutex);
            g_damagedRegistry = keptAs;
        }
        sqlite3* raw = nullptr;
        int rc = sqlite3_open_v2(file.c_str(), &raw,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
        Database db(raw);
        if (rc != SQLITE_OK) {
            return ERROR_CANTOPEN;
        }
        sqlite3_extended_result_codes(db.get(), 1);
        sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
        // synchronous=NORMAL in WAL mode: a commit is safe against a process crash
        // and never corrupts on power loss, without a flush to the disk per value.
        for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", "PRAGMA foreign_keys=ON",
                                   "PRAGMA wal_autocheckpoint=100", "PRAGMA journal_size_limit=524288"}) {
            if (!execRetrying(db.get(), pragma)) {
                return ERROR_CANTOPEN;
            }
        }
        if (!execRetrying(db.get(), "BEGIN IMMEDIATE")) {
            return ERROR_CANTOPEN;
        }
        if (sqlite3_exec(db.get(), kSchema, nullptr, nullptr, nullptr) != SQLITE_OK ||
            !execRetrying(db.get(), "COMMIT")) {
            sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
            return ERROR_CANTOPEN;
        }
        m_db = std::move(db);
        return ERROR_SUCCESS;
    }

    static bool execRetrying(sqlite3* db, const char* sql) {
        auto deadline = std::chrono::steady_clock::now() + kBusyDeadline;
        for (int attempt = 0;; ++attempt) {
            int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
            if (rc == SQLITE_OK) {
                return true;
            }
            if (!isBusy(rc) || std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            pauseBeforeRetry(attempt);
        }
    }

    sqlite3_stmt* statement(Sql which) {
        Statement& s = m_statements[which];
        if (!s) {
            sqlite3_stmt* raw = nullptr;
            if (sqlite3_prepare_v3(m_db.get(), kSqlText[which], -1, SQLITE_PREPARE_PERSISTENT,
                                   &raw, nullptr) != SQLITE_OK) {
                return nullptr;
            }
            s.reset(raw);
        }
        return s.get();
    }

    // The key behind a handle, checked for the access the operation needs.
    LONG resolve(HKEY handle, REGSAM needed, KeyId& id, REGSAM* access = nullptr) {
        REGSAM granted = KEY_ALL_ACCESS;
        switch (handle) {
            case HKEY_CLASSES_ROOT: id = kClassesRootId; break;
            case HKEY_CURRENT_USER: id = kCurrentUserId; break;
            case HKEY_LOCAL_MACHINE: id = kLocalMachineId; break;
            default: {
                auto found = m_handles.find(handle);
                if (found == m_handles.end() || found->second.epoch != m_epoch) {
                    return ERROR_INVALID_HANDLE;
                }
                id = found->second.id;
                granted = found->second.access;
            }
        }
        if ((granted & needed) != needed) {
            return ERROR_ACCESS_DENIED;
        }
        if (access != nullptr) {
            *access = granted;
        }
        return ERROR_SUCCESS;
    }

    LONG openedKey(HKEY handle, REGSAM needed, KeyId& id) {
        if (LONG rc = ensureOpen(); rc != ERROR_SUCCESS) {
            return rc;
        }
        return resolve(handle, needed, id);
    }

    // Runs the read `which` for the key behind `handle` (checked for `needed`):
    // the key id is bound first, `bind` binds the rest, and the row found goes
    // to `take`, whose code is returned. No row gives `missing` while the key
    // still exists, ERROR_KEY_DELETED once it is gone.
    template <class Bind, class Take>
    LONG readRow(HKEY handle, REGSAM needed, Sql which, LONG missing, Bind&& bind, Take&& take) {
        std::lock_guard lock(m_mutex);
        KeyId id = 0;
        if (LONG rc = openedKey(handle, needed, id); rc != ERROR_SUCCESS) {
            return rc;
        }
        sqlite3_stmt* s = statement(which);
        if (s == nullptr) {
            return ERROR_CANTREAD;
        }
        ResetOnExit reset(s);
        sqlite3_bind_int64(s, 1, id);
        bind(s);
        int rc = stepRetrying(s);
        if (rc == SQLITE_DONE) {
            return keyExists(id) ? missing : ERROR_KEY_DELETED;
        }
        if (rc != SQLITE_ROW) {
            return codeForRead(rc);
        }
        return take(s);
    }

    // Runs the write `which`, one statement, on the key behind `handle` (checked
    // for `needed`): the key id is bound first, `bind` binds the rest. The
    // statement commits on its own (inside a batch it joins the batch), and a
    // step that finds the database busy beyond the busy handler (or its snapshot
    // stale) is simply run again. `done` gets the key id and the count of rows
    // changed and gives the call's code. The writes of keys, several statements
    // each, run in writeTransaction instead.
    template <class Bind, class Done>
    LONG writeRow(HKEY handle, REGSAM needed, Sql which, Bind&& bind, Done&& done) {
        std::lock_guard lock(m_mutex);
        KeyId id = 0;
        if (LONG rc = openedKey(handle, needed, id); rc != ERROR_SUCCESS) {
            return rc;
        }
        sqlite3_stmt* s = statement(which);
        if (s == nullptr) {
            return ERROR_CANTWRITE;
        }
        ResetOnExit reset(s);
        sqlite3_bind_int64(s, 1, id);
        bind(s);
        if (int rc = stepRetrying(s); rc != SQLITE_DONE) {
            return codeForWrite(rc);
        }
        return done(id, sqlite3_changes(m_db.get()));
    }

    // Follows `parts` down from `id` as far as the keys exist: `id` ends on the
    // deepest key found and `found` counts the parts followed. SQLITE_ROW when
    // every key exists, SQLITE_DONE when one is missing, else the error.
    int walkDown(KeyId& id, const std::vector<std::string_view>& parts, std::size_t& found) {
        for (found = 0; found < parts.size(); ++found) {
            KeyId child = 0;
            int rc = findChild(id, parts[found], child);
            if (rc != SQLITE_ROW) {
                return rc;
            }
            id = child;
        }
        return SQLITE_ROW;
    }

    int findChild(KeyId parent, std::string_view name, KeyId& child) {
        sqlite3_stmt* s = statement(kFindChild);
        if (s == nullptr) {
            return SQLITE_ERROR;
        }
        ResetOnExit reset(s);
        sqlite3_bind_int64(s, 1, parent);
        bindText(s, 2, name);
        int rc = stepRetrying(s);
        if (rc == SQLITE_ROW) {
            child = sqlite3_column_int64(s, 0);
        }
        return rc;
    }

    int insertKey(KeyId parent, std::string_view name, KeyId& child) {
        sqlite3_stmt* s = statement(kInsertKey);
        if (s == nullptr) {
            return SQLITE_ERROR;
        }
        ResetOnExit reset(s);
        sqlite3_bind_int64(s, 1, parent);
        bindText(s, 2, name);
        int rc = sqlite3_step(s);
        if (rc == SQLITE_DONE) {
            child = sqlite3_last_insert_rowid(m_db.get());
        }
        return rc;
    }

    bool keyExists(KeyId id) {
        sqlite3_stmt* s = statement(kKeyExists);
        if (s == nullptr) {
            return true;
        }
        ResetOnExit reset(s);
        sqlite3_bind_int64(s, 1, id);
        return stepRetrying(s) != SQLITE_DONE;
    }

    bool stepSimple(Sql which) {
        sqlite3_stmt* s = statement(which);
        if (s == nullptr) {
            return false;
        }
        ResetOnExit reset(s);
        return sqlite3_step(s) == SQLITE_DONE;
    }

    // Runs `body` (which returns the SQLite code of its last step, SQLITE_DONE when
    // all went well) inside one write transaction. When another process holds the
    // database longer than the busy handler waits, or our snapshot went stale, the
    // whole transaction is rolled back and run again.
    template <class Body>
    LONG writeTransaction(Body&& body) {
        if (inBatch()) {
            // The batch holds the write lock already; a savepoint undoes a
            // failed body without losing the rest of the batch.
            if (!stepSimple(kSavepoint)) {
                return ERROR_CANTWRITE;
            }
            int rc = body();
            if (rc == SQLITE_DONE) {
                return stepSimple(kRelease) ? ERROR_SUCCESS : ERROR_CANTWRITE;
            }
            stepSimple(kRollbackTo);
            stepSimple(kRelease);
            return codeForWrite(rc);
        }
        auto deadline = std::chrono::steady_clock::now() + kBusyDeadline;
        for (int attempt = 0;; ++attempt) {
            sqlite3_stmt* begin = statement(kBegin);
            if (begin == nullptr) {
                return ERROR_CANTWRITE;
            }
            int rc;
            {
                ResetOnExit reset(begin);
                rc = sqlite3_step(begin);
            }
            if (rc == SQLITE_DONE) {
                rc = body();
                if (rc == SQLITE_DONE) {
                    sqlite3_stmt* commit = statement(kCommit);
                    if (commit == nullptr) {
                        rc = SQLITE_ERROR;
                    } else {
                        ResetOnExit reset(commit);
                        rc = sqlite3_step(commit);
                    }
                    if (rc == SQLITE_DONE) {
                        return ERROR_SUCCESS;
                    }
                }
                if (!sqlite3_get_autocommit(m_db.get())) {
                    stepSimple(kRollback);
                }
            }
            if (!isBusy(rc) || std::chrono::steady_clock::now() >= deadline) {
                return codeForWrite(rc);
            }
            pauseBeforeRetry(attempt);
        }
    }

    std::mutex m_mutex;
    Database m_db;
    Statement m_statements[kSqlCount];
    std::string m_environment;
    unsigned m_forks = 0;
    std::uint64_t m_epoch = 0;
    std::unordered_map<HKEY, OpenKey> m_handles;
    std::unordered_map<HKEY, EnumPlaces> m_enumPlaces;
    static constexpr std::size_t kPathCacheLimit = 4096;
    std::unordered_map<std::string, KeyId> m_pathCache;
    sqlite3_int64 m_pathCacheVersion = -1;
    int m_batchDepth = 0;
    std::uint64_t m_batchEpoch = 0;
    // Handles of opened keys count up from here, far below the roots.
    HKEY m_nextHandle = 0x1000;
};

}  // namespace

RegistryStore& RegistryStore::instance() {
    // Never destroyed, so keys closed by static destructors still find it.
    static SqliteRegistry* store = [] {
        ::pthread_atfork(nullptr, nullptr, countFork);
        std::atexit([] { static_cast<SqliteRegistry&>(instance()).truncateLog(); });
        return new SqliteRegistry;
    }();
    return *store;
}

std::string RegistryStore::takeDamagedNotice() {
    std::lock_guard lock(g_noticeMutex);
    return std::exchange(g_damagedRegistry, std::string());
}

void RegistryStore::placeValue(DWORD type, const void* bytes, DWORD stored, BYTE* data, DWORD room) {
    if (stored > 0) {
        std::memcpy(data, bytes, stored);
    }
    if (type == REG_SZ && stored < room && (stored == 0 || data[stored - 1] != 0)) {
        data[stored] = 0;
    }
}

}  // namespace platform
