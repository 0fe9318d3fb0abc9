#include "platform/backend/local_datastore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "platform/log.h"
#include "platform/shared_library.h"

namespace hw {

namespace {

constexpr std::string_view kLog = "LocalDatastore";

// SQLite is opened with the first datastore rather than with the program: the
// first window needs none.
struct Sqlite {
    decltype(&sqlite3_prepare_v2) prepare_v2 = nullptr;
    decltype(&sqlite3_finalize) finalize = nullptr;
    decltype(&sqlite3_bind_text) bind_text = nullptr;
    decltype(&sqlite3_bind_blob) bind_blob = nullptr;
    decltype(&sqlite3_step) step = nullptr;
    decltype(&sqlite3_column_text) column_text = nullptr;
    decltype(&sqlite3_column_bytes) column_bytes = nullptr;
    decltype(&sqlite3_column_blob) column_blob = nullptr;
    decltype(&sqlite3_open_v2) open_v2 = nullptr;
    decltype(&sqlite3_errmsg) errmsg = nullptr;
    decltype(&sqlite3_close) close = nullptr;
    decltype(&sqlite3_busy_timeout) busy_timeout = nullptr;
    decltype(&sqlite3_errcode) errcode = nullptr;
    decltype(&sqlite3_exec) exec = nullptr;
    decltype(&sqlite3_free) free = nullptr;
    decltype(&sqlite3_stmt_status) stmt_status = nullptr;
};

// Nothing, with the reason, when the library cannot be used; tried once.
const Sqlite* loadSqlite(std::string* why) {
    static std::string failure;
    static const Sqlite* loaded = [] () -> const Sqlite* {
        SharedLibrary library("libsqlite3.so.0");
        static Sqlite l;
        library.bind(l.prepare_v2, "sqlite3_prepare_v2");
        library.bind(l.finalize, "sqlite3_finalize");
        library.bind(l.bind_text, "sqlite3_bind_text");
        library.bind(l.bind_blob, "sqlite3_bind_blob");
        library.bind(l.step, "sqlite3_step");
        library.bind(l.column_text, "sqlite3_column_text");
        library.bind(l.column_bytes, "sqlite3_column_bytes");
        library.bind(l.column_blob, "sqlite3_column_blob");
        library.bind(l.open_v2, "sqlite3_open_v2");
        library.bind(l.errmsg, "sqlite3_errmsg");
        library.bind(l.close, "sqlite3_close");
        library.bind(l.busy_timeout, "sqlite3_busy_timeout");
        library.bind(l.errcode, "sqlite3_errcode");
        library.bind(l.exec, "sqlite3_exec");
        library.bind(l.free, "sqlite3_free");
        library.bind(l.stmt_status, "sqlite3_stmt_status");
        failure = library.failure();
        return library.ok() ? &l : nullptr;
    }();
    if (!loaded && why) *why = failure;
    return loaded;
}

// Only reached through a datastore, which exists only once the library loaded.
const Sqlite& api() { return *loadSqlite(nullptr); }

// A prepared statement that finalises itself.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { ok_ = api().prepare_v2(db, sql, -1, &stmt_, nullptr) == SQLITE_OK; }
    ~Statement() { api().finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool ok() const { return ok_; }
    Statement& text(int i, const std::string& s) {
        api().bind_text(stmt_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& blob(int i, const Bytes& b) {
        api().bind_blob(stmt_, i, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
        return *this;
    }
    int step() { return api().step(stmt_); }
    std::int64_t vmSteps() const { return api().stmt_status(stmt_, SQLITE_STMTSTATUS_VM_STEP, 0); }
    std::string column(int i) const {
        auto* p = reinterpret_cast<const char*>(api().column_text(stmt_, i));
        return p ? std::string(p, static_cast<std::size_t>(api().column_bytes(stmt_, i))) : std::string();
    }
    Bytes columnBlob(int i) const {
        auto* p = static_cast<const std::uint8_t*>(api().column_blob(stmt_, i));
        return p ? Bytes(p, p + api().column_bytes(stmt_, i)) : Bytes();
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
    bool ok_ = false;
};

constexpr const char* kSchema =
    "PRAGMA journal_mode=DELETE;"
    "CREATE TABLE IF NOT EXISTS objects(class TEXT NOT NULL, id TEXT NOT NULL, json TEXT NOT NULL,"
    " PRIMARY KEY(class, id));"
    "CREATE TABLE IF NOT EXISTS pins(pin TEXT NOT NULL, class TEXT NOT NULL, id TEXT NOT NULL,"
    " seq INTEGER PRIMARY KEY AUTOINCREMENT, UNIQUE(pin, class, id));"
    // Whether an object is still pinned is asked by object, not by pin.
    "CREATE INDEX IF NOT EXISTS pins_object ON pins(class, id);"
    "CREATE TEMP TABLE IF NOT EXISTS released(class TEXT NOT NULL, id TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS kv(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS files(url TEXT PRIMARY KEY, data BLOB NOT NULL);";

}  // namespace

namespace {

sqlite3* openFile(const std::string& path) {
    // Create the file private before SQLite opens it; its journal takes the same mode.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        log::error(kLog, "cannot create " + path);
        return nullptr;
    }
    ::fchmod(fd, 0600);
    ::close(fd);
    sqlite3* db = nullptr;
    if (api().open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        log::error(kLog, "cannot open " + path + ": " + (db ? api().errmsg(db) : "out of memory"));
        api().close(db);
        return nullptr;
    }
    api().busy_timeout(db, 2000);
    return db;
}

}  // namespace

std::unique_ptr<LocalDatastore> LocalDatastore::open(const std::string& path) {
    if (std::string why; !loadSqlite(&why)) {
        log::error(kLog, "no datastore: " + why);
        return nullptr;
    }
    std::error_code ec;
    const auto folder = std::filesystem::path(path).parent_path();
    if (!folder.empty() && !std::filesystem::exists(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        ::chmod(folder.c_str(), 0700);
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        sqlite3* db = openFile(path);
        if (!db) return nullptr;
        std::unique_ptr<LocalDatastore> store(new LocalDatastore(db));
        if (store->exec(kSchema)) return store;
        const int why = api().errcode(db);
        store.reset();
        // Only a cache: a damaged file is started afresh rather than left disabled for good
        // (a busy or unreadable one is left alone).
        if (why != SQLITE_NOTADB && why != SQLITE_CORRUPT) return nullptr;
        log::warning(kLog, "the datastore is damaged; starting a new one");
        std::filesystem::remove(path, ec);
        std::filesystem::remove(path + "-journal", ec);
    }
    return nullptr;
}

LocalDatastore::~LocalDatastore() { api().close(db_); }

bool LocalDatastore::exec(const char* sql) const {
    char* message = nullptr;
    if (api().exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    log::error(kLog, std::string("statement failed: ") + (message ? message : "?"));
    api().free(message);
    return false;
}

bool LocalDatastore::store(const std::string& pin, const std::vector<StoredObject>& objects, bool replace) {
    std::lock_guard lock(mutex_);
    lastWriteSteps_ = 0;
    auto run = [this](Statement& s) {
        const bool done = s.ok() && s.step() == SQLITE_DONE;
        lastWriteSteps_ += s.vmSteps();
        return done;
    };
    if (!exec("BEGIN IMMEDIATE")) return false;
    // Only objects the pin held before can lose their last pin: the cleanup
    // looks at those, not at the whole table.
    bool ok = !replace || exec("DELETE FROM temp.released");
    if (ok && replace) {
        Statement keep(db_, "INSERT INTO temp.released(class, id) SELECT class, id FROM pins WHERE pin = ?1");
        Statement drop(db_, "DELETE FROM pins WHERE pin = ?1");
        ok = keep.ok() && drop.ok() && run(keep.text(1, pin)) && run(drop.text(1, pin));
    }
    for (const auto& o : objects) {
        if (!ok) break;
        Statement put(db_, "INSERT OR REPLACE INTO objects(class, id, json) VALUES(?1, ?2, ?3)");
        Statement link(db_, "INSERT OR IGNORE INTO pins(pin, class, id) VALUES(?1, ?2, ?3)");
        ok = put.ok() && link.ok() && run(put.text(1, o.className).text(2, o.objectId).text(3, o.json)) &&
             run(link.text(1, pin).text(2, o.className).text(3, o.objectId));
    }
    if (ok && replace) {
        Statement orphans(db_, "DELETE FROM objects WHERE rowid IN (SELECT o.rowid FROM temp.released r"
                               " JOIN objects o ON o.class = r.class AND o.id = r.id WHERE NOT EXISTS"
                               " (SELECT 1 FROM pins p WHERE p.class = o.class AND p.id = o.id))");
        ok = run(orphans);
    }
    exec(ok ? "COMMIT" : "ROLLBACK");
    return ok;
}

bool LocalDatastore::replacePin(const std::string& pin, const std::vector<StoredObject>& objects) {
    return store(pin, objects, true);
}

bool LocalDatastore::addToPin(const std::string& pin, const std::vector<StoredObject>& objects) {
    return store(pin, objects, false);
}

bool LocalDatastore::unpin(const std::string& pin) { return store(pin, {}, true); }

std::vector<LocalDatastore::StoredObject> LocalDatastore::pinned(const std::string& className,
                                                                 const std::string& pin) const {
    std::lock_guard lock(mutex_);
    std::vector<StoredObject> out;
    // One pin: its unique index gives the rows in order. Any pin: an object once.
    Statement q(db_, pin.empty()
                         ? "SELECT o.class, o.id, o.json FROM objects o JOIN pins p ON o.class = p.class AND o.id = p.id"
                           " WHERE p.class = ?1 AND ?2 = '' GROUP BY o.class, o.id ORDER BY MIN(p.seq)"
                         : "SELECT o.class, o.id, o.json FROM pins p JOIN objects o ON o.class = p.class AND o.id = p.id"
                           " WHERE p.pin = ?2 AND p.class = ?1 ORDER BY p.seq");
    if (!q.ok()) return out;
    q.text(1, className).text(2, pin);
    while (q.step() == SQLITE_ROW) out.push_back({q.column(0), q.column(1), q.column(2)});
    return out;
}

bool LocalDatastore::putValue(const std::string& key, const std::string& value) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "INSERT OR REPLACE INTO kv(key, value) VALUES(?1, ?2)");
    return s.ok() && s.text(1, key).text(2, value).step() == SQLITE_DONE;
}

std::optional<std::string> LocalDatastore::value(const std::string& key) const {
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT value FROM kv WHERE key = ?1");
    if (!q.ok() || q.text(1, key).step() != SQLITE_ROW) return std::nullopt;
    return q.column(0);
}

bool LocalDatastore::putFile(const std::string& url, const Bytes& data) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "INSERT OR REPLACE INTO files(url, data) VALUES(?1, ?2)");
    return s.ok() && s.text(1, url).blob(2, data).step() == SQLITE_DONE;
}

std::optional<Bytes> LocalDatastore::file(const std::string& url) const {
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT data FROM files WHERE url = ?1");
    if (!q.ok() || q.text(1, url).step() != SQLITE_ROW) return std::nullopt;
    return q.columnBlob(0);
}

bool LocalDatastore::hasFile(const std::string& url) const {
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT 1 FROM files WHERE url = ?1");
    return q.ok() && q.text(1, url).step() == SQLITE_ROW;
}

}  // namespace hw
