// The per-user store that stands in for the registry under HKEY_CURRENT_USER:
// one SQLite database. The process keeps one connection to it, shared by its
// threads under a mutex and reopened whenever the store's path or the file at
// that path changes; no connection crosses a fork.
#include <fcntl.h>
#include <pthread.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/posix/posix_platform.h"

namespace zx::platform::posix {

namespace {

// Writers of other processes hold the database for a few milliseconds at most;
// waiting this long only matters on a machine that has stalled.
constexpr int kBusyTimeoutMs = 10000;
constexpr int kSchemaVersion = 1;

// Key paths and value names compare with NOCASE, which folds ASCII letters
// only, as the registry does for the names the library uses. Values keep
// their type and their bytes exactly as given.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS store_key ("
    "  id   INTEGER PRIMARY KEY,"
    "  path TEXT NOT NULL UNIQUE COLLATE NOCASE);"
    "CREATE TABLE IF NOT EXISTS store_value ("
    "  key_id INTEGER NOT NULL REFERENCES store_key(id),"
    "  name   TEXT NOT NULL COLLATE NOCASE,"
    "  type   INTEGER NOT NULL,"
    "  data   BLOB NOT NULL,"
    "  PRIMARY KEY (key_id, name)) WITHOUT ROWID;";

// Guards the kept connection and everything done with it.
constinit std::mutex g_mutex;
// Set (under g_mutex) when SQLite reports an error: a connection that failed
// is not kept, so the next operation opens the store afresh (and moves a
// store found broken aside).
bool g_failed = false;

int noted(int rc) {
    if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) {
        g_failed = true;
    }
    return rc;
}

class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (noted(sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr)) != SQLITE_OK) {
            stmt_ = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    explicit operator bool() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }

    bool bind(int index, std::string_view text) {
        return sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) ==
               SQLITE_OK;
    }
    bool bind(int index, sqlite3_int64 value) { return sqlite3_bind_int64(stmt_, index, value) == SQLITE_OK; }
    bool bindBlob(int index, const std::uint8_t* data, std::uint32_t size) {
        // A null pointer would bind SQL NULL; an empty value is a zero-length blob.
        if (size == 0) {
            return sqlite3_bind_zeroblob(stmt_, index, 0) == SQLITE_OK;
        }
        return sqlite3_bind_blob(stmt_, index, data, static_cast<int>(size), SQLITE_TRANSIENT) == SQLITE_OK;
    }
    int step() { return noted(sqlite3_step(stmt_)); }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

bool exec(sqlite3* db, const char* sql) { return noted(sqlite3_exec(db, sql, nullptr, nullptr, nullptr)) == SQLITE_OK; }

// Copies the log into the database file and empties it, so that between
// operations the file alone holds the store, as when no connection is open:
// a file moved or replaced while a connection is kept leaves no log of
// itself behind at the path. Tried without waiting; when another connection
// is busy the log stays until a later write.
void settle(sqlite3* db) {
    sqlite3_busy_timeout(db, 0);
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
}

// A write transaction taken at its start (BEGIN IMMEDIATE), so that it waits
// for other writers up front instead of failing half-way; rolled back unless
// committed.
class WriteTransaction {
public:
    explicit WriteTransaction(sqlite3* db) : db_(db), open_(exec(db, "BEGIN IMMEDIATE")) {}
    ~WriteTransaction() {
        if (open_) {
            exec(db_, "ROLLBACK");
        }
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    explicit operator bool() const { return open_; }
    bool commit() {
        if (!open_ || !exec(db_, "COMMIT")) {
            return false;
        }
        open_ = false;
        settle(db_);
        return true;
    }

private:
    sqlite3* db_;
    bool open_;
};

std::optional<sqlite3_int64> queryInt(sqlite3* db, const char* sql) {
    Statement st(db, sql);
    if (!st || st.step() != SQLITE_ROW) {
        return std::nullopt;
    }
    return sqlite3_column_int64(st.get(), 0);
}

// The journal mode after the pragma, or the error that stopped it.
int journalMode(sqlite3* db, const char* pragma, std::string& mode) {
    Statement st(db, pragma);
    if (!st) {
        return sqlite3_errcode(db);
    }
    const int rc = st.step();
    if (rc != SQLITE_ROW) {
        return rc;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0));
    mode = text != nullptr ? text : "";
    return SQLITE_OK;
}

bool isBusy(int rc) { return (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED; }

// WAL lets readers and the one writer work at once. The mode is kept in the
// file, so only the very first connections ever switch it; the switch needs
// the database to itself and SQLite does not wait for that through the busy
// handler, so two processes creating the store together retry here. Only a
// busy database is waited for: any other failure (not a database, read-only,
// no room) answers at once. SQLITE_OK, or the error.
int ensureWal(sqlite3* db) {
    constexpr int kPauseMs = 5;
    for (int waitedMs = 0;; waitedMs += kPauseMs) {
        std::string mode;
        int rc = journalMode(db, "PRAGMA journal_mode", mode);
        if (rc == SQLITE_OK && mode != "wal") {
            rc = journalMode(db, "PRAGMA journal_mode=WAL", mode);
        }
        if (rc == SQLITE_OK) {
            return mode == "wal" ? SQLITE_OK : SQLITE_ERROR;
        }
        if (!isBusy(rc) || waitedMs >= kBusyTimeoutMs) {
            return rc;
        }
        sqlite3_sleep(kPauseMs);
    }
}

bool ensureSchema(sqlite3* db) {
    const auto version = queryInt(db, "PRAGMA user_version");
    if (!version) {
        return false;
    }
    if (*version >= kSchemaVersion) {
        return true;
    }
    WriteTransaction tx(db);
    if (!tx || !exec(db, kSchema)) {
        return false;
    }
    const std::string setVersion = "PRAGMA user_version=" + std::to_string(kSchemaVersion);
    return exec(db, setVersion.c_str()) && tx.commit();
}

// A file that SQLite does not take for a database (or finds damaged) is kept
// for inspection under a new name, "<store>.broken-<UTC time>-<pid>", and a
// new store begins at the old name. Only the very file found broken is moved:
// another process may have done so and begun a new store already.
bool moveAside(const std::string& path, const struct stat& broken) {
    struct stat now {};
    if (::lstat(path.c_str(), &now) != 0 || now.st_dev != broken.st_dev || now.st_ino != broken.st_ino) {
        return true;  // moved aside already: the store at the name now is tried
    }
    char stamp[32] = {};
    const std::time_t t = std::time(nullptr);
    std::tm utc {};
    ::gmtime_r(&t, &utc);
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    const std::string aside = path + ".broken-" + stamp + "-" + std::to_string(::getpid());
    if (::rename(path.c_str(), aside.c_str()) != 0) {
        return false;
    }
    // The journal files belong to the broken file; a new store must not
    // take them up.
    for (const char* suffix : {"-wal", "-shm"}) {
        ::rename((path + suffix).c_str(), (aside + suffix).c_str());
    }
    return true;
}

bool isBroken(int rc) { return (rc & 0xFF) == SQLITE_NOTADB || (rc & 0xFF) == SQLITE_CORRUPT; }

// SQLITE_OK with db open on the store at path, else the error (db null); file
// receives the identity of the file opened.
int openFile(const std::string& path, sqlite3*& db, struct stat& file) {
    // Created (or tightened) here first so that the database, and the
    // journal files that SQLite gives the same mode, are the user's alone.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return SQLITE_CANTOPEN;
    }
    ::fchmod(fd, 0600);
    ::fstat(fd, &file);
    ::close(fd);
    int flags = SQLITE_OPEN_READWRITE;
#ifdef SQLITE_OPEN_NOFOLLOW
    flags |= SQLITE_OPEN_NOFOLLOW;
#endif
    int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        rc = ensureWal(db);
    }
    if (rc == SQLITE_OK && !(exec(db, "PRAGMA synchronous=FULL") && ensureSchema(db))) {
        rc = sqlite3_errcode(db);
        if (rc == SQLITE_OK) {
            rc = SQLITE_ERROR;
        }
    }
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        db = nullptr;
    }
    return rc;
}

// The connection this process keeps and the file it was opened on. Created
// at first use and never destroyed: a thread may still reach the store while
// the process exits. Only touched under g_mutex.
struct KeptStore {
    sqlite3* db = nullptr;
    std::string path;
    dev_t dev = 0;
    ino_t ino = 0;
    pid_t pid = 0;
    bool forkSafe = false;  // the fork handlers are installed
};
KeptStore* g_kept = nullptr;

void closeKept() {
    sqlite3_close_v2(g_kept->db);
    g_kept->db = nullptr;
}

// SQLite tracks its file locks per process: a child holding a copy of the
// parent's connection would believe it holds the parent's locks, and a
// connection it opened would share that belief. So none is kept across
// fork(); the parent opens the store again at its next use.
void beforeFork() {
    g_mutex.lock();
    if (g_kept != nullptr) {
        closeKept();
    }
}
void afterFork() { g_mutex.unlock(); }

// Closed when the process exits or the library is unloaded; an operation of
// a thread still running after that opens the store again.
struct CloseAtExit {
    CloseAtExit() = default;
    CloseAtExit(const CloseAtExit&) = delete;
    CloseAtExit& operator=(const CloseAtExit&) = delete;
    ~CloseAtExit() {
        std::lock_guard<std::mutex> guard(g_mutex);
        if (g_kept != nullptr && g_kept->pid == ::getpid()) {
            closeKept();
        }
    }
} g_closeAtExit;

// Whether the kept connection still serves path: the same file (device and
// inode, one lstat) is at that path, with its private mode. A store removed,
// replaced, moved aside or loosened since is opened again.
bool keptServes(const std::string& path) {
    struct stat now {};
    return g_kept->db != nullptr && g_kept->path == path && ::lstat(path.c_str(), &now) == 0 &&
           now.st_dev == g_kept->dev && now.st_ino == g_kept->ino && (now.st_mode & 07777) == 0600;
}

// Opens the store at path into g_kept. A broken store is moved aside once;
// the new one must then work.
void openKept(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || !createFolders(path.substr(0, slash))) {
        return;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        struct stat file {};
        const int rc = openFile(path, g_kept->db, file);
        if (rc == SQLITE_OK) {
            g_kept->path = path;
            g_kept->dev = file.st_dev;
            g_kept->ino = file.st_ino;
            return;
        }
        if (!isBroken(rc) || attempt > 0 || !moveAside(path, file)) {
            return;
        }
    }
}

// One operation's use of the kept connection: holds the mutex throughout,
// and no transaction outlives it.
class Connection {
public:
    Connection() : guard_(g_mutex) {
        if (g_kept == nullptr) {
            g_kept = new KeptStore;
            g_kept->forkSafe = ::pthread_atfork(beforeFork, afterFork, afterFork) == 0;
        }
        if (g_kept->pid != ::getpid()) {
            // Another process's connection (a fork the handlers did not see):
            // left untouched, never used.
            g_kept->db = nullptr;
            g_kept->pid = ::getpid();
        }
        std::string path;
        if (!storePath(path)) {
            closeKept();
            return;
        }
        if (!keptServes(path)) {
            closeKept();
            openKept(path);
        }
        g_failed = false;
    }
    ~Connection() {
        if (g_failed || !g_kept->forkSafe) {
            closeKept();
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    explicit operator bool() const { return g_kept->db != nullptr; }
    sqlite3* get() const { return g_kept->db; }

private:
    std::lock_guard<std::mutex> guard_;
};

// Creates the key and every key above it (as the registry does); its id, or
// nullopt on failure. Runs inside the caller's transaction.
std::optional<sqlite3_int64> ensureKey(sqlite3* db, const std::string& path) {
    Statement insert(db, "INSERT OR IGNORE INTO store_key(path) VALUES (?1)");
    if (!insert) {
        return std::nullopt;
    }
    std::size_t end = 0;
    do {
        end = path.find('\\', end + 1);
        sqlite3_reset(insert.get());
        if (!insert.bind(1, std::string_view(path).substr(0, end)) || insert.step() != SQLITE_DONE) {
            return std::nullopt;
        }
    } while (end != std::string::npos);

    Statement select(db, "SELECT id FROM store_key WHERE path = ?1");
    if (!select || !select.bind(1, path) || select.step() != SQLITE_ROW) {
        return std::nullopt;
    }
    return sqlite3_column_int64(select.get(), 0);
}

}  // namespace

bool storePath(std::string& out) {
    std::string config;
    if (!configFolder(config)) {
        return false;
    }
    out = config + "/zxdisplaylib/registry.db";
    return true;
}

bool PosixPlatform::storeKeyExists(const std::string& keyPath) {
    const std::string path = normaliseKeyPath(keyPath);
    if (path.empty()) {
        return true;  // the root key always exists
    }
    Connection db;
    if (!db) {
        return false;
    }
    Statement st(db.get(), "SELECT 1 FROM store_key WHERE path = ?1");
    return st && st.bind(1, path) && st.step() == SQLITE_ROW;
}

bool PosixPlatform::storeCreateKey(const std::string& keyPath) {
    Connection db;
    if (!db) {
        return false;
    }
    WriteTransaction tx(db.get());
    return tx && ensureKey(db.get(), normaliseKeyPath(keyPath)) && tx.commit();
}

StoreResult PosixPlatform::storeQuery(const std::string& keyPath, const char* name, std::uint32_t* type,
                                      std::uint8_t* data, std::uint32_t* size) {
    if (data != nullptr && size == nullptr) {
        return StoreResult::Failed;
    }
    const std::string path = normaliseKeyPath(keyPath);
    Connection db;
    if (!db) {
        return StoreResult::Failed;
    }
    // One statement, so key and value are read from one snapshot.
    Statement st(db.get(),
                 "SELECT v.key_id, v.type, v.data FROM store_key k"
                 " LEFT JOIN store_value v ON v.key_id = k.id AND v.name = ?2"
                 " WHERE k.path = ?1");
    if (!st || !st.bind(1, path) || !st.bind(2, std::string_view(name != nullptr ? name : ""))) {
        return StoreResult::Failed;
    }
    const int rc = st.step();
    if (rc == SQLITE_DONE) {
        return path.empty() ? StoreResult::ValueNotFound : StoreResult::KeyNotFound;
    }
    if (rc != SQLITE_ROW) {
        return StoreResult::Failed;
    }
    if (sqlite3_column_type(st.get(), 0) == SQLITE_NULL) {
        return StoreResult::ValueNotFound;
    }
    const auto valueType = static_cast<std::uint32_t>(sqlite3_column_int64(st.get(), 1));
    const void* blob = sqlite3_column_blob(st.get(), 2);
    const auto needed = static_cast<std::uint32_t>(sqlite3_column_bytes(st.get(), 2));
    if (type != nullptr) {
        *type = valueType;
    }
    if (size == nullptr) {
        return StoreResult::Ok;
    }
    if (data != nullptr) {
        if (*size < needed) {
            *size = needed;
            return StoreResult::BufferTooSmall;
        }
        if (needed > 0) {
            std::memcpy(data, blob, needed);
        }
    }
    *size = needed;
    return StoreResult::Ok;
}

bool PosixPlatform::storeSet(const std::string& keyPath, const char* name, std::uint32_t type,
                             const std::uint8_t* data, std::uint32_t size) {
    if (data == nullptr && size != 0) {
        return false;
    }
    Connection db;
    if (!db) {
        return false;
    }
    WriteTransaction tx(db.get());
    if (!tx) {
        return false;
    }
    const auto keyId = ensureKey(db.get(), normaliseKeyPath(keyPath));
    if (!keyId) {
        return false;
    }
    // An existing value keeps the spelling of its name.
    Statement st(db.get(),
                 "INSERT INTO store_value(key_id, name, type, data) VALUES (?1, ?2, ?3, ?4)"
                 " ON CONFLICT(key_id, name) DO UPDATE SET type = excluded.type, data = excluded.data");
    return st && st.bind(1, *keyId) && st.bind(2, std::string_view(name != nullptr ? name : "")) &&
           st.bind(3, static_cast<sqlite3_int64>(type)) && st.bindBlob(4, data, size) && st.step() == SQLITE_DONE &&
           tx.commit();
}

}  // namespace zx::platform::posix
