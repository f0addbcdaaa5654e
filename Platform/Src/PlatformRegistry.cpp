#include "PlatformRegistry.h"

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PlatformError.h"
#include "PlatformMachine.h"

namespace {

constexpr int64_t kLocalMachine = 1;
constexpr int64_t kUsers = 2;

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL, name TEXT NOT NULL,"
    " lname TEXT NOT NULL, names_stamp INTEGER NOT NULL DEFAULT 0, values_stamp INTEGER NOT NULL DEFAULT 0,"
    " UNIQUE(parent, lname));"
    "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL, name TEXT NOT NULL, lname TEXT NOT NULL,"
    " type INTEGER NOT NULL, data BLOB NOT NULL, seq INTEGER NOT NULL, PRIMARY KEY(key, lname));"
    "CREATE INDEX IF NOT EXISTS vals_order ON vals(key, seq);"
    "CREATE TABLE IF NOT EXISTS meta(k TEXT PRIMARY KEY, v INTEGER NOT NULL);"
    "INSERT OR IGNORE INTO meta(k, v) VALUES('gen', 0);"
    "INSERT OR IGNORE INTO keys(id, parent, name, lname) VALUES(1, 0, 'HKEY_LOCAL_MACHINE', 'hkey_local_machine');"
    "INSERT OR IGNORE INTO keys(id, parent, name, lname) VALUES(2, 0, 'HKEY_USERS', 'hkey_users');";

std::string Lower(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// A handle the process holds: the key's row, the store it belongs to and its full name.
struct OpenKey {
    int64_t id;
    uint64_t epoch;
    std::string name;
};

struct Watch {
    uintptr_t handle;
    int64_t id;
    uint64_t epoch;
    bool subtree;
    uint32_t filter;
    PlatHandle event;
    int64_t names;
    int64_t values;
};

struct Store {
    std::recursive_mutex lock;
    sqlite3* db = nullptr;
    std::string path;
    pid_t pid = 0;       // the process that opened db (a forked child opens its own)
    uint64_t epoch = 0;  // rises each time another store is opened, so that older handles are stale
    std::map<uintptr_t, OpenKey> handles;
    uintptr_t next = 0x1000;
    std::vector<Watch> watches;
    bool watcherRunning = false;
    std::condition_variable_any wake;
};

Store& S()
{
    static auto* s = new Store;
    return *s;
}

// One prepared statement.
class Stmt {
public:
    Stmt(sqlite3* db, const char* sql)
    {
        if (db)
            sqlite3_prepare_v2(db, sql, -1, &m_Stmt, nullptr);
    }
    ~Stmt() { sqlite3_finalize(m_Stmt); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    bool Ok() const { return m_Stmt != nullptr; }
    Stmt& Bind(int i, int64_t v)
    {
        if (m_Stmt)
            sqlite3_bind_int64(m_Stmt, i, v);
        return *this;
    }
    Stmt& Bind(int i, const std::string& v)
    {
        if (m_Stmt)
            sqlite3_bind_text(m_Stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& BindBlob(int i, const void* data, uint32_t size)
    {
        if (m_Stmt)
            sqlite3_bind_blob(m_Stmt, i, size ? data : "", static_cast<int>(size), SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int Step() { return m_Stmt ? sqlite3_step(m_Stmt) : SQLITE_ERROR; }
    int64_t Int(int col) { return sqlite3_column_int64(m_Stmt, col); }
    // Text of a column as stored (a damaged store may hold anything there).
    std::string Text(int col)
    {
        const void* p = sqlite3_column_blob(m_Stmt, col);
        const int n = sqlite3_column_bytes(m_Stmt, col);
        return p && n > 0 ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
    }
    std::vector<uint8_t> Blob(int col)
    {
        const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(m_Stmt, col));
        const int n = sqlite3_column_bytes(m_Stmt, col);
        return p && n > 0 ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
    }

private:
    sqlite3_stmt* m_Stmt = nullptr;
};

bool Exec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Opens the store of the machine in force (again when the machine folder changed). Under the lock.
bool Ensure()
{
    Store& s = S();
    const std::string folder = PlatGetMachineSubfolder("registry");
    if (folder.empty())
        return false;
    const std::string path = folder + "/registry.db";
    if (s.db && s.pid != getpid())
        s.db = nullptr;  // the parent's connection: left alone, never used in this process
    if (s.db && s.path == path)
        return true;
    if (s.db) {
        sqlite3_close_v2(s.db);
        s.db = nullptr;
    }
    s.path.clear();
    ++s.epoch;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return false;
    }
    sqlite3_busy_timeout(db, 15000);
    bool ok = Exec(db, "PRAGMA journal_mode=WAL") && Exec(db, "PRAGMA synchronous=NORMAL") &&
              Exec(db, "BEGIN IMMEDIATE");
    if (ok) {
        ok = Exec(db, kSchema);
        ok = Exec(db, ok ? "COMMIT" : "ROLLBACK") && ok;
    }
    if (!ok) {
        sqlite3_close_v2(db);
        return false;
    }
    s.db = db;
    s.path = path;
    s.pid = getpid();
    return true;
}

// A write transaction; rolled back unless committed.
class Transaction {
public:
    Transaction() { m_Open = Exec(S().db, "BEGIN IMMEDIATE"); }
    ~Transaction()
    {
        if (m_Open)
            Exec(S().db, "ROLLBACK");
    }
    bool Open() const { return m_Open; }
    // The stamp of this change: the store's generation, raised.
    int64_t Stamp()
    {
        if (m_Stamp == 0) {
            Stmt up(S().db, "UPDATE meta SET v = v + 1 WHERE k = 'gen'");
            up.Step();
            Stmt get(S().db, "SELECT v FROM meta WHERE k = 'gen'");
            m_Stamp = get.Step() == SQLITE_ROW ? get.Int(0) : 1;
        }
        return m_Stamp;
    }
    bool Commit()
    {
        if (!m_Open)
            return false;
        m_Open = false;
        if (Exec(S().db, "COMMIT"))
            return true;
        Exec(S().db, "ROLLBACK");
        return false;
    }

private:
    bool m_Open = false;
    int64_t m_Stamp = 0;
};

std::vector<std::string> SplitPath(const char* path)
{
    std::vector<std::string> parts;
    if (!path)
        return parts;
    std::string part;
    for (const char* p = path;; ++p) {
        if (*p == '\\' || *p == 0) {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
            if (*p == 0)
                break;
        } else {
            part += *p;
        }
    }
    return parts;
}

bool KeyExists(int64_t id)
{
    Stmt q(S().db, "SELECT 1 FROM keys WHERE id = ?");
    return q.Bind(1, id).Step() == SQLITE_ROW;
}

// The child of parent named part: its id, 0 when there is none, -1 on a store failure.
int64_t Child(int64_t parent, const std::string& part, std::string* storedName)
{
    Stmt q(S().db, "SELECT id, name FROM keys WHERE parent = ? AND lname = ?");
    const int rc = q.Bind(1, parent).Bind(2, Lower(part)).Step();
    if (rc == SQLITE_ROW) {
        if (storedName)
            *storedName = q.Text(1);
        return q.Int(0);
    }
    return rc == SQLITE_DONE ? 0 : -1;
}

// Walks (and with create, makes) the path below the key; fills the id and the full name.
int32_t Walk(int64_t from, const std::string& fromName, const std::vector<std::string>& parts, bool create,
             int64_t* id, std::string* name, bool* created)
{
    for (const std::string& p : parts)
        if (p.size() > PLAT_REG_MAX_KEY_NAME)
            return PLAT_ERROR_INVALID_PARAMETER;
    int64_t at = from;
    std::string full = fromName;
    size_t i = 0;
    for (; i < parts.size(); ++i) {
        std::string stored;
        const int64_t child = Child(at, parts[i], &stored);
        if (child < 0)
            return PLAT_ERROR_REGISTRY_IO_FAILED;
        if (child == 0)
            break;
        at = child;
        full += "\\" + stored;
    }
    if (created)
        *created = false;
    if (i < parts.size()) {
        if (!create)
            return PLAT_ERROR_FILE_NOT_FOUND;
        Transaction t;
        if (!t.Open())
            return PLAT_ERROR_REGISTRY_IO_FAILED;
        // Another process may have made part of the path meanwhile.
        for (; i < parts.size(); ++i) {
            std::string stored;
            int64_t child = Child(at, parts[i], &stored);
            if (child < 0)
                return PLAT_ERROR_REGISTRY_IO_FAILED;
            if (child == 0) {
                const int64_t stamp = t.Stamp();
                Stmt ins(S().db, "INSERT INTO keys(parent, name, lname, names_stamp, values_stamp) VALUES(?,?,?,?,?)");
                if (ins.Bind(1, at).Bind(2, parts[i]).Bind(3, Lower(parts[i])).Bind(4, stamp).Bind(5, stamp).Step() !=
                    SQLITE_DONE)
                    return PLAT_ERROR_REGISTRY_IO_FAILED;
                child = sqlite3_last_insert_rowid(S().db);
                Stmt up(S().db, "UPDATE keys SET names_stamp = ? WHERE id = ?");
                up.Bind(1, stamp).Bind(2, at).Step();
                stored = parts[i];
                if (created)
                    *created = true;
            }
            at = child;
            full += "\\" + stored;
        }
        if (!t.Commit())
            return PLAT_ERROR_REGISTRY_IO_FAILED;
    }
    *id = at;
    *name = full;
    return 0;
}

std::string UserSid()
{
    return "S-1-5-21-1000-1000-1000-" + std::to_string(getuid());
}

// The key of a handle (a root or one the process opened). Under the lock, with the store open.
int32_t Resolve(PlatHKEY key, int64_t* id, std::string* name)
{
    const auto v = reinterpret_cast<uintptr_t>(key);
    switch (v) {
    case 0x80000002u:
        *id = kLocalMachine;
        *name = "HKEY_LOCAL_MACHINE";
        return 0;
    case 0x80000003u:
        *id = kUsers;
        *name = "HKEY_USERS";
        return 0;
    case 0x80000000u:
        return Walk(kLocalMachine, "HKEY_LOCAL_MACHINE", {"SOFTWARE", "Classes"}, true, id, name, nullptr);
    case 0x80000001u:
        return Walk(kUsers, "HKEY_USERS", {UserSid()}, true, id, name, nullptr);
    default:
        break;
    }
    auto it = S().handles.find(v);
    if (it == S().handles.end() || it->second.epoch != S().epoch)
        return PLAT_ERROR_INVALID_HANDLE;
    if (!KeyExists(it->second.id))
        return PLAT_ERROR_KEY_DELETED;
    *id = it->second.id;
    *name = it->second.name;
    return 0;
}

PlatHKEY NewHandle(int64_t id, const std::string& name)
{
    Store& s = S();
    const uintptr_t h = s.next;
    s.next += 4;
    s.handles[h] = OpenKey{id, s.epoch, name};
    return reinterpret_cast<PlatHKEY>(h);
}

int32_t OpenOrCreate(PlatHKEY key, const char* subKey, bool create, PlatHKEY* result, uint32_t* disposition)
{
    if (!result)
        return PLAT_ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::lock_guard<std::recursive_mutex> guard(S().lock);
    if (!Ensure())
        return PLAT_ERROR_REGISTRY_IO_FAILED;
    int64_t id = 0;
    std::string name;
    int32_t rc = Resolve(key, &id, &name);
    if (rc != 0)
        return rc;
    bool created = false;
    rc = Walk(id, name, SplitPath(subKey), create, &id, &name, &created);
    if (rc != 0)
        return rc;
    if (disposition)
        *disposition = created ? PLAT_REG_CREATED_NEW_KEY : PLAT_REG_OPENED_EXISTING_KEY;
    *result = NewHandle(id, name);
    return 0;
}

// Opens the store and resolves the handle: the common start of the calls on a key.
#define REG_BEGIN(key, id, name)                                         \
    std::lock_guard<std::recursive_mutex> guard(S().lock);               \
    if (!Ensure())                                                       \
        return PLAT_ERROR_REGISTRY_IO_FAILED;                            \
    int64_t id = 0;                                                      \
    std::string name;                                                    \
    if (int32_t rc_ = Resolve(key, &id, &name); rc_ != 0)                \
        return rc_;

std::string ValueName(const char* name)
{
    return name ? std::string(name) : std::string();
}

// Copies a name into a caller's buffer (zero-terminated) as the enumerations do.
int32_t GiveName(const std::string& value, char* out, uint32_t* size)
{
    if (!size)
        return PLAT_ERROR_INVALID_PARAMETER;
    if (!out || *size < value.size() + 1) {
        *size = static_cast<uint32_t>(value.size());
        return PLAT_ERROR_MORE_DATA;
    }
    std::memcpy(out, value.data(), value.size());
    out[value.size()] = 0;
    *size = static_cast<uint32_t>(value.size());
    return 0;
}

int32_t GiveData(const std::vector<uint8_t>& value, uint32_t storedType, uint32_t* type, void* data, uint32_t* size)
{
    if (type)
        *type = storedType;
    if (!size)
        return data ? int32_t(PLAT_ERROR_INVALID_PARAMETER) : 0;
    const auto n = static_cast<uint32_t>(value.size());
    if (data && *size < n) {
        *size = n;
        return PLAT_ERROR_MORE_DATA;
    }
    if (data && n > 0)
        std::memcpy(data, value.data(), n);
    *size = n;
    return 0;
}

// Subtree rows of a key (the key itself first).
const char kSubtree[] =
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id) ";

// The key's stamps (or its subtree's highest); false when the key is gone or the store fails.
bool Stamps(int64_t id, bool subtree, int64_t* names, int64_t* values)
{
    if (subtree) {
        std::string sql = std::string(kSubtree) +
                          "SELECT MAX(names_stamp), MAX(values_stamp), COUNT(*) FROM keys WHERE id IN sub";
        Stmt q(S().db, sql.c_str());
        if (q.Bind(1, id).Step() != SQLITE_ROW || !KeyExists(id))
            return false;
        *names = q.Int(0);
        *values = q.Int(1);
        return true;
    }
    Stmt q(S().db, "SELECT names_stamp, values_stamp FROM keys WHERE id = ?");
    if (q.Bind(1, id).Step() != SQLITE_ROW)
        return false;
    *names = q.Int(0);
    *values = q.Int(1);
    return true;
}

// Sets and drops the watches whose key changed (or went). Under the lock.
void CheckWatches()
{
    Store& s = S();
    const bool open = Ensure();
    for (size_t i = 0; i < s.watches.size();) {
        Watch& w = s.watches[i];
        int64_t names = 0, values = 0;
        bool fire = !open || w.epoch != s.epoch || !Stamps(w.id, w.subtree, &names, &values);
        if (!fire) {
            fire = ((w.filter & PLAT_REG_NOTIFY_CHANGE_NAME) && names > w.names) ||
                   ((w.filter & PLAT_REG_NOTIFY_CHANGE_LAST_SET) && values > w.values);
        }
        if (fire) {
            PlatSetEvent(w.event);
            s.watches.erase(s.watches.begin() + static_cast<ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

// The process's watcher: looks at the store's generation a few times a second while requests wait.
void Watcher()
{
    Store& s = S();
    std::unique_lock<std::recursive_mutex> guard(s.lock);
    int64_t seen = -1;
    uint64_t seenEpoch = 0;
    while (!s.watches.empty()) {
        s.wake.wait_for(guard, std::chrono::milliseconds(200));
        if (s.watches.empty())
            break;
        int64_t gen = -1;
        if (Ensure()) {
            Stmt q(s.db, "SELECT v FROM meta WHERE k = 'gen'");
            if (q.Step() == SQLITE_ROW)
                gen = q.Int(0);
        }
        // Reading the generation is cheap; the watches are looked at only when it moved.
        if (gen != seen || gen < 0 || seenEpoch != s.epoch) {
            CheckWatches();
            seen = gen;
            seenEpoch = s.epoch;
        }
    }
    s.watcherRunning = false;
}

}  // namespace

int32_t PlatRegOpenKeyEx(PlatHKEY key, const char* subKey, uint32_t, uint32_t, PlatHKEY* result)
{
    return OpenOrCreate(key, subKey, false, result, nullptr);
}

int32_t PlatRegCreateKeyEx(PlatHKEY key, const char* subKey, uint32_t, uint32_t, PlatHKEY* result,
                           uint32_t* disposition)
{
    return OpenOrCreate(key, subKey, true, result, disposition);
}

int32_t PlatRegCloseKey(PlatHKEY key)
{
    const auto v = reinterpret_cast<uintptr_t>(key);
    if (v >= 0x80000000u && v <= 0x80000003u)
        return 0;
    Store& s = S();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    if (s.handles.erase(v) == 0)
        return PLAT_ERROR_INVALID_HANDLE;
    // A request on a key that is closed ends with its event set.
    for (size_t i = 0; i < s.watches.size();) {
        if (s.watches[i].handle == v) {
            PlatSetEvent(s.watches[i].event);
            s.watches.erase(s.watches.begin() + static_cast<ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    return 0;
}

int32_t PlatRegSetValueEx(PlatHKEY key, const char* name, uint32_t type, const void* data, uint32_t size)
{
    if (size > PLAT_REG_MAX_DATA || (size > 0 && !data))
        return PLAT_ERROR_INVALID_PARAMETER;
    const std::string value = ValueName(name);
    if (value.size() > PLAT_REG_MAX_VALUE_NAME)
        return PLAT_ERROR_INVALID_PARAMETER;
    REG_BEGIN(key, id, full)
    Transaction t;
    if (!t.Open())
        return PLAT_ERROR_REGISTRY_IO_FAILED;
    if (!KeyExists(id))
        return PLAT_ERROR_KEY_DELETED;
    const int64_t stamp = t.Stamp();
    // An existing value keeps its place and the case of its name.
    Stmt up(S().db, "UPDATE vals SET type = ?, data = ? WHERE key = ? AND lname = ?");
    up.Bind(1, type).BindBlob(2, data, size).Bind(3, id).Bind(4, Lower(value));
    if (up.Step() != SQLITE_DONE)
        return PLAT_ERROR_REGISTRY_IO_FAILED;
    if (sqlite3_changes(S().db) == 0) {
        Stmt ins(S().db, "INSERT INTO vals(key, name, lname, type, data, seq) VALUES(?,?,?,?,?,?)");
        ins.Bind(1, id).Bind(2, value).Bind(3, Lower(value)).Bind(4, type).BindBlob(5, data, size).Bind(6, stamp);
        if (ins.Step() != SQLITE_DONE)
            return PLAT_ERROR_REGISTRY_IO_FAILED;
    }
    Stmt mark(S().db, "UPDATE keys SET values_stamp = ? WHERE id = ?");
    mark.Bind(1, stamp).Bind(2, id).Step();
    return t.Commit() ? 0 : int32_t(PLAT_ERROR_REGISTRY_IO_FAILED);
}

int32_t PlatRegQueryValueEx(PlatHKEY key, const char* name, uint32_t* type, void* data, uint32_t* size)
{
    REG_BEGIN(key, id, full)
    Stmt q(S().db, "SELECT type, data FROM vals WHERE key = ? AND lname = ?");
    const int rc = q.Bind(1, id).Bind(2, Lower(ValueName(name))).Step();
    if (rc == SQLITE_DONE)
        return PLAT_ERROR_FILE_NOT_FOUND;
    if (rc != SQLITE_ROW)
        return PLAT_ERROR_REGISTRY_IO_FAILED;
    return GiveData(q.Blob(1), static_cast<uint32_t>(q.Int(0)), type, data, size);
}

int32_t PlatRegDeleteValue(PlatHKEY key, const char* name)
{
    REG_BEGIN(key, id, full)
    Transaction t;
    if (!t.Open())
        return PLAT_ERROR_REGISTRY_IO_FAILED;
    Stmt del(S().db, "DELETE FROM vals WHERE key = ? AND lname = ?");
    if (del.Bind(1, id).Bind(2, Lower(ValueName(name))).Step() != SQLITE_DONE)
        return PLAT_ERROR_REGISTRY_IO_FAILED;
    if (sqlite3_changes(S().db) == 0)
        return PLAT_ERROR_FILE_NOT_FOUND;
    Stmt mark(S().db, "UPDATE keys SET values_stamp = ? WHERE id = ?");
    mark.Bind(1, t.Stamp()).Bind(2, id).Step();
    return t.Commit() ? 0 : int32_t(PLAT_ERROR_REGISTRY_IO_FAILED);
}

int32_t PlatRegEnumKeyEx(PlatHKEY key, uint32_t index, char* name, uint32_t* nameSize)
{
    REG_BEGIN(key, id, full)
    Stmt q(S().db, "SELECT name FROM keys WHERE parent = ? ORDER BY id LIMIT 1 OFFSET ?");
    const int rc = q.Bind(1, id).Bind(2, index).Step();
    if (rc == SQLITE_DONE)
        return PLAT_ERROR_NO_MORE_ITEMS;
    if (rc != SQLITE_ROW)
        return PLAT_ERROR_REGISTRY_IO_FAILED;
    return GiveName(q.Text(0), name, nameSize);
}

int32_t PlatRegEnumValue(PlatHKEY key, uint32_t index, char* name, uint32_t* nameSize, uint32_t* type, void* data,
                         uint32_t* dataSize)
{
    REG_BEGIN(key, id, full)
    Stmt q(S().db, "SELECT name, type, data FROM vals WHERE key = ? ORDER BY seq, rowid LIMIT 1 OFFSET ?");
    const int rc = q.Bind(1, id).Bind(2, index).Step();
    if (rc == SQLITE_DONE)
        return PLAT_ERROR_NO_MORE_ITEMS;
    if (rc != SQLITE_ROW)
        return PLAT_ERROR_REGISTRY_IO_FAILED;
    if (int32_t r = GiveName(q.Text(0), name, nameSize); r != 0) {
        // The sizes still come back, so that one call can size both buffers.
        if (type)
            *type = static_cast<uint32_t>(q.Int(1));
        if (dataSize)
            *dataSize = static_cast<uint32_t>(q.Blob(2).size());
        return r;
    }
    return GiveData(q.Blob(2), static_cast<uint32_t>(q.Int(1)), type, data, dataSize);
}

int32_t PlatRegQueryInfoKey(PlatHKEY key, uint32_t* subKeys, uint32_t* maxSubKeyLength, uint32_t* values,
                            uint32_t* maxValueNameLength, uint32_t* maxValueLength)
{
    REG_BEGIN(key, id, full)
    Stmt k(S().db, "SELECT COUNT(*), IFNULL(MAX(LENGTH(CAST(name AS BLOB))), 0) FROM keys WHERE parent = ?");
    Stmt v(S().db,
           "SELECT COUNT(*), IFNULL(MAX(LENGTH(CAST(name AS BLOB))), 0), IFNULL(MAX(LENGTH(CAST(data AS BLOB))), 0) "
           "FROM vals WHERE key = ?");
    if (k.Bind(1, id).Step() != SQLITE_ROW || v.Bind(1, id).Step() != SQLITE_ROW)
        return PLAT_ERROR_REGISTRY_IO_FAILED;
    if (subKeys)
        *subKeys = static_cast<uint32_t>(k.Int(0));
    if (maxSubKeyLength)
        *maxSubKeyLength = static_cast<uint32_t>(k.Int(1));
    if (values)
        *values = static_cast<uint32_t>(v.Int(0));
    if (maxValueNameLength)
        *maxValueNameLength = static_cast<uint32_t>(v.Int(1));
    if (maxValueLength)
        *maxValueLength = static_cast<uint32_t>(v.Int(2));
    return 0;
}

namespace {

// Deletes the key's subtree (with keepTop, only what lies below it and its values). In a transaction.
int32_t DeleteSubtree(Transaction& t, int64_t id, bool keepTop)
{
    const int64_t stamp = t.Stamp();
    Stmt parent(S().db, "SELECT parent FROM keys WHERE id = ?");
    if (parent.Bind(1, id).Step() != SQLITE_ROW)
        return PLAT_ERROR_KEY_DELETED;
    const int64_t up = parent.Int(0);
    std::string vals = std::string(kSubtree) + "DELETE FROM vals WHERE key IN sub";
    std::string keys = std::string(kSubtree) + "DELETE FROM keys WHERE id IN sub AND id <> ?2";
    Stmt dv(S().db, vals.c_str());
    Stmt dk(S().db, keys.c_str());
    if (dv.Bind(1, id).Step() != SQLITE_DONE || dk.Bind(1, id).Bind(2, id).Step() != SQLITE_DONE)
        return PLAT_ERROR_REGISTRY_IO_FAILED;
    if (keepTop) {
        Stmt mark(S().db, "UPDATE keys SET names_stamp = ?, values_stamp = ? WHERE id = ?");
        mark.Bind(1, stamp).Bind(2, stamp).Bind(3, id).Step();
    } else {
        Stmt self(S().db, "DELETE FROM keys WHERE id = ?");
        Stmt mark(S().db, "UPDATE keys SET names_stamp = ? WHERE id = ?");
        if (self.Bind(1, id).Step() != SQLITE_DONE || mark.Bind(1, stamp).Bind(2, up).Step() != SQLITE_DONE)
            return PLAT_ERROR_REGISTRY_IO_FAILED;
    }
    return 0;
}

int32_t Delete(PlatHKEY key, const char* subKey, bool tree)
{
    REG_BEGIN(key, id, full)
    const std::vector<std::string> parts = SplitPath(subKey);
    int64_t target = 0;
    std::string name;
    if (int32_t rc = Walk(id, full, parts, false, &target, &name, nullptr); rc != 0)
        return rc;
    const bool whole = !parts.empty();
    if (!tree && !whole)
        return PLAT_ERROR_INVALID_PARAMETER;
    // The roots and the keys that stand for them stay.
    if (target == kLocalMachine || target == kUsers)
        return PLAT_ERROR_ACCESS_DENIED;
    Transaction t;
    if (!t.Open())
        return PLAT_ERROR_REGISTRY_IO_FAILED;
    if (!tree) {
        Stmt kids(S().db, "SELECT 1 FROM keys WHERE parent = ? LIMIT 1");
        const int rc = kids.Bind(1, target).Step();
        if (rc == SQLITE_ROW)
            return PLAT_ERROR_ACCESS_DENIED;
        if (rc != SQLITE_DONE)
            return PLAT_ERROR_REGISTRY_IO_FAILED;
    }
    if (int32_t rc = DeleteSubtree(t, target, !whole); rc != 0)
        return rc;
    return t.Commit() ? 0 : int32_t(PLAT_ERROR_REGISTRY_IO_FAILED);
}

}  // namespace

int32_t PlatRegDeleteKey(PlatHKEY key, const char* subKey)
{
    return Delete(key, subKey, false);
}

int32_t PlatRegDeleteTree(PlatHKEY key, const char* subKey)
{
    return Delete(key, subKey, true);
}

int32_t PlatRegNotifyChangeKeyValue(PlatHKEY key, bool watchSubtree, uint32_t filter, PlatHandle event,
                                    bool asynchronous)
{
    if ((filter & 0xF) == 0 || (asynchronous && !event))
        return PLAT_ERROR_INVALID_PARAMETER;
    PlatHandle own = nullptr;
    if (!asynchronous) {
        own = PlatCreateEvent(true, false, nullptr);
        if (!own)
            return PLAT_ERROR_NOT_ENOUGH_MEMORY;
        event = own;
    }
    {
        Store& s = S();
        std::lock_guard<std::recursive_mutex> guard(s.lock);
        if (!Ensure()) {
            if (own)
                PlatCloseHandle(own);
            return PLAT_ERROR_REGISTRY_IO_FAILED;
        }
        int64_t id = 0;
        std::string name;
        int32_t rc = Resolve(key, &id, &name);
        Watch w{reinterpret_cast<uintptr_t>(key), id, s.epoch, watchSubtree, filter, event, 0, 0};
        if (rc == 0 && !Stamps(id, watchSubtree, &w.names, &w.values))
            rc = PLAT_ERROR_KEY_DELETED;
        if (rc != 0) {
            if (own)
                PlatCloseHandle(own);
            return rc;
        }
        // A request still pending for the same key, event and kinds stands: asking again adds none, so that a
        // caller renewing its request on every look does not pile requests up.
        bool pending = false;
        for (const Watch& p : s.watches)
            pending = pending || (p.handle == w.handle && p.event == event && p.subtree == watchSubtree &&
                                  p.filter == filter && p.epoch == w.epoch);
        if (!pending)
            s.watches.push_back(w);
        if (!s.watcherRunning) {
            s.watcherRunning = true;
            std::thread(Watcher).detach();
        }
    }
    if (own) {
        PlatWaitForSingleObject(own, PLAT_INFINITE);
        PlatCloseHandle(own);
    }
    return 0;
}

std::string PlatRegKeyName(PlatHKEY key)
{
    std::lock_guard<std::recursive_mutex> guard(S().lock);
    if (!Ensure())
        return std::string();
    int64_t id = 0;
    std::string name;
    return Resolve(key, &id, &name) == 0 ? name : std::string();
}
