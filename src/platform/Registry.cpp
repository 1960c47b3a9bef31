#include "platform/Registry.h"

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "base/Text.h"

namespace tindale::reg {

namespace {

const char* kSchema = R"sql(
PRAGMA journal_mode=WAL;
PRAGMA synchronous=NORMAL;
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY, parent INTEGER NOT NULL, name TEXT NOT NULL, fold TEXT NOT NULL,
  UNIQUE(parent, fold));
CREATE TABLE IF NOT EXISTS vals(
  id INTEGER PRIMARY KEY AUTOINCREMENT, key INTEGER NOT NULL, name TEXT NOT NULL,
  fold TEXT NOT NULL, type INTEGER NOT NULL, data BLOB, UNIQUE(key, fold));
)sql";

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

std::string FoldKey(std::u16string_view name) {
    return text::ToUtf8(text::Fold(name));
}

// One connection per process, reopened when the environment names another database.
class Connection {
  public:
    std::recursive_mutex mutex;

    sqlite3* Get() {
        std::string path = DatabasePath();
        if (db_ && path == path_) return db_;
        Close();
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
        if (sqlite3_open_v2(path.c_str(), &db_,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                            nullptr) != SQLITE_OK) {
            Close();
            return nullptr;
        }
        sqlite3_busy_timeout(db_, 5000);
        if (sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
            Close();
            return nullptr;
        }
        path_ = path;
        return db_;
    }

    sqlite3_stmt* Prepare(const char* sql) {
        sqlite3* db = Get();
        if (!db) return nullptr;
        auto it = statements_.find(sql);
        if (it != statements_.end()) {
            sqlite3_reset(it->second);
            sqlite3_clear_bindings(it->second);
            return it->second;
        }
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) return nullptr;
        statements_[sql] = st;
        return st;
    }

    void Close() {
        for (auto& [sql, st] : statements_) sqlite3_finalize(st);
        statements_.clear();
        if (db_) sqlite3_close(db_);
        db_ = nullptr;
        path_.clear();
    }

    int depth = 0;

  private:
    sqlite3* db_ = nullptr;
    std::string path_;
    std::map<const char*, sqlite3_stmt*> statements_;
};

Connection& Conn() {
    static Connection c;
    return c;
}

void BindText(sqlite3_stmt* st, int i, const std::string& s) {
    sqlite3_bind_text(st, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

std::u16string ColumnText(sqlite3_stmt* st, int i) {
    auto p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
    return p ? text::ToUtf16(std::string_view(p, sqlite3_column_bytes(st, i))) : std::u16string();
}

std::optional<int64_t> FindChild(int64_t parent, std::u16string_view name) {
    sqlite3_stmt* st = Conn().Prepare("SELECT id FROM keys WHERE parent=?1 AND fold=?2");
    if (!st) return std::nullopt;
    sqlite3_bind_int64(st, 1, parent);
    BindText(st, 2, FoldKey(name));
    if (sqlite3_step(st) != SQLITE_ROW) return std::nullopt;
    return sqlite3_column_int64(st, 0);
}

std::optional<int64_t> InsertChild(int64_t parent, std::u16string_view name) {
    sqlite3_stmt* st = Conn().Prepare("INSERT INTO keys(parent, name, fold) VALUES(?1, ?2, ?3)");
    if (!st) return std::nullopt;
    sqlite3_bind_int64(st, 1, parent);
    BindText(st, 2, text::ToUtf8(name));
    BindText(st, 3, FoldKey(name));
    if (sqlite3_step(st) != SQLITE_DONE) return std::nullopt;
    return sqlite3_last_insert_rowid(Conn().Get());
}

std::u16string JoinPath(const std::vector<std::u16string>& parts) {
    std::u16string out;
    for (const auto& p : parts) {
        if (!out.empty()) out += u'\\';
        out += p;
    }
    return out;
}

std::optional<Value> ReadValueRow(sqlite3_stmt* st) {
    if (sqlite3_step(st) != SQLITE_ROW) return std::nullopt;
    Value v;
    v.name = ColumnText(st, 0);
    v.type = static_cast<uint32_t>(sqlite3_column_int64(st, 1));
    auto blob = static_cast<const uint8_t*>(sqlite3_column_blob(st, 2));
    v.data.assign(blob, blob + sqlite3_column_bytes(st, 2));
    return v;
}

bool PathFits(std::u16string_view path, const std::vector<std::u16string>& parts) {
    if (path.size() > kMaxPathUnits) return false;
    for (const auto& p : parts)
        if (p.size() > kMaxKeyNameUnits) return false;
    return true;
}

}  // namespace

std::string DatabasePath() {
    if (const char* explicitPath = std::getenv("TINDALE_REGISTRY"); explicitPath && *explicitPath)
        return explicitPath;
    std::string home = EnvOr("HOME", "/tmp");
    return EnvOr("XDG_DATA_HOME", home + "/.local/share") + "/tindale/registry.db";
}

void CloseConnection() {
    std::lock_guard lock(Conn().mutex);
    Conn().Close();
}

std::vector<std::u16string> SplitPath(std::u16string_view path) {
    std::vector<std::u16string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) end = path.size();
        if (end > start) parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::optional<Key> Key::Open(uint32_t root, std::u16string_view path) {
    if (root != kHkeyCurrentUser) return std::nullopt;
    auto parts = SplitPath(path);
    if (!PathFits(path, parts)) return std::nullopt;
    std::lock_guard lock(Conn().mutex);
    int64_t id = 0;
    for (const auto& p : parts) {
        auto child = FindChild(id, p);
        if (!child) return std::nullopt;
        id = *child;
    }
    return Key(id, JoinPath(parts));
}

std::optional<Key> Key::Create(uint32_t root, std::u16string_view path) {
    if (root != kHkeyCurrentUser) return std::nullopt;
    auto parts = SplitPath(path);
    if (!PathFits(path, parts)) return std::nullopt;
    Transaction tx;
    int64_t id = 0;
    for (const auto& p : parts) {
        auto child = FindChild(id, p);
        if (!child) child = InsertChild(id, p);
        if (!child) return std::nullopt;
        id = *child;
    }
    return Key(id, JoinPath(parts));
}

std::optional<std::u16string> Key::SubkeyName(uint32_t index) const {
    std::lock_guard lock(Conn().mutex);
    sqlite3_stmt* st =
        Conn().Prepare("SELECT name FROM keys WHERE parent=?1 ORDER BY fold LIMIT 1 OFFSET ?2");
    if (!st) return std::nullopt;
    sqlite3_bind_int64(st, 1, id_);
    sqlite3_bind_int64(st, 2, index);
    if (sqlite3_step(st) != SQLITE_ROW) return std::nullopt;
    return ColumnText(st, 0);
}

std::optional<Value> Key::ValueAt(uint32_t index) const {
    std::lock_guard lock(Conn().mutex);
    sqlite3_stmt* st = Conn().Prepare(
        "SELECT name, type, data FROM vals WHERE key=?1 ORDER BY id LIMIT 1 OFFSET ?2");
    if (!st) return std::nullopt;
    sqlite3_bind_int64(st, 1, id_);
    sqlite3_bind_int64(st, 2, index);
    return ReadValueRow(st);
}

std::optional<Value> Key::Query(std::u16string_view name) const {
    std::lock_guard lock(Conn().mutex);
    sqlite3_stmt* st = Conn().Prepare("SELECT name, type, data FROM vals WHERE key=?1 AND fold=?2");
    if (!st) return std::nullopt;
    sqlite3_bind_int64(st, 1, id_);
    BindText(st, 2, FoldKey(name));
    return ReadValueRow(st);
}

bool Key::Set(std::u16string_view name, uint32_t type, std::span<const uint8_t> data) {
    if (name.size() > kMaxValueNameUnits) return false;
    std::lock_guard lock(Conn().mutex);
    // An existing value keeps its place in the creation order and its spelling.
    sqlite3_stmt* st = Conn().Prepare(
        "INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
        "ON CONFLICT(key, fold) DO UPDATE SET type=excluded.type, data=excluded.data");
    if (!st) return false;
    sqlite3_bind_int64(st, 1, id_);
    BindText(st, 2, text::ToUtf8(name));
    BindText(st, 3, FoldKey(name));
    sqlite3_bind_int64(st, 4, type);
    sqlite3_bind_blob(st, 5, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
    return sqlite3_step(st) == SQLITE_DONE;
}

bool Key::DeleteValue(std::u16string_view name) {
    std::lock_guard lock(Conn().mutex);
    sqlite3_stmt* st = Conn().Prepare("DELETE FROM vals WHERE key=?1 AND fold=?2");
    if (!st) return false;
    sqlite3_bind_int64(st, 1, id_);
    BindText(st, 2, FoldKey(name));
    return sqlite3_step(st) == SQLITE_DONE && sqlite3_changes(Conn().Get()) > 0;
}

std::optional<std::u16string> Key::QueryString(std::u16string_view name) const {
    auto v = Query(name);
    if (!v || (v->type != kRegSz && v->type != kRegExpandSz) || v->data.size() % 2 != 0)
        return std::nullopt;
    std::u16string s;
    for (size_t i = 0; i + 1 < v->data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(v->data[i] | (v->data[i + 1] << 8));
        if (c == 0) return s;
        s += c;
    }
    return std::nullopt;  // no terminator within the data
}

bool Key::SetString(std::u16string_view name, std::u16string_view value) {
    auto bytes = text::Utf16LeBytes(value);
    bytes.push_back(0);
    bytes.push_back(0);
    return Set(name, kRegSz, bytes);
}

Transaction::Transaction() : lock_(Conn().mutex) {
    if (Conn().depth++ == 0 && Conn().Get())
        sqlite3_exec(Conn().Get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
}

Transaction::~Transaction() {
    Commit();
}

void Transaction::Abandon() {
    if (done_) return;
    done_ = true;
    ok_ = false;
    if (--Conn().depth == 0 && Conn().Get())
        sqlite3_exec(Conn().Get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

bool Transaction::Commit() {
    if (done_) return ok_;
    done_ = true;
    if (--Conn().depth == 0 && Conn().Get()) {
        ok_ = sqlite3_exec(Conn().Get(), "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
        if (!ok_) sqlite3_exec(Conn().Get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    return ok_;
}

}  // namespace tindale::reg
