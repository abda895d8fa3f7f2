// The SQLite engine: one file, no server. Write-ahead logging, so readers
// never wait for the writer; a check-in is a BEGIN IMMEDIATE transaction,
// which takes the database's one write lock first, so the seat count it
// reads cannot change under it. synchronous=NORMAL (the default) commits
// without waiting for the disk: a committed check-in survives a killed
// process but the last ones may be lost in a power cut; FULL waits for the
// disk on every commit and survives both.
#include <cerrno>
#include <algorithm>
#include <map>
#include <string>

#include "base/unique_resource.h"
#include "registry/sqlite_loader.h"
#include "registry/store.h"

namespace tavsn::registry {

extern const char kSqliteSchema[];

namespace {

const Sqlite* g_sqlite = nullptr;  // set by the first successful open, never cleared

struct ConnectionTraits {
  using Handle = sqlite3*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept { g_sqlite->sqlite3_close_v2(handle); }
};
using Connection = UniqueResource<ConnectionTraits>;

struct StatementTraits {
  using Handle = sqlite3_stmt*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept { g_sqlite->sqlite3_finalize(handle); }
};
using Statement = UniqueResource<StatementTraits>;

StoreErrorKind KindOf(int code) {
  switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return StoreErrorKind::kBusy;
    case SQLITE_READONLY:
    case SQLITE_PERM: return StoreErrorKind::kReadOnly;
    case SQLITE_FULL: return StoreErrorKind::kFull;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return StoreErrorKind::kDamaged;
    case SQLITE_CANTOPEN: return StoreErrorKind::kNotFound;
    default: return StoreErrorKind::kOther;
  }
}

class SqliteStore final : public Store {
 public:
  SqliteStore(Connection connection, std::string path, bool read_only)
      : db_(std::move(connection)), path_(std::move(path)), read_only_(read_only) {}
  ~SqliteStore() override {
    if (in_transaction_) Rollback();
    statements_.clear();  // finalized before the connection closes
  }

  const char* engine() const override { return "sqlite"; }

  StoreError Configure(const StoreOptions& options) {
    api().sqlite3_busy_timeout(db_.get(), options.busy_timeout_ms);
    // The default cache (2 MiB) holds a small part of a large registry's
    // key index, and every check-in reads and writes pages all over it.
    if (StoreError e = Exec("PRAGMA cache_size=-65536")) return e;
    if (options.read_only) return {};
    if (StoreError e = Exec("PRAGMA journal_mode=WAL")) return e;
    if (StoreError e = Exec("PRAGMA wal_autocheckpoint=10000")) return e;
    return Exec(options.durability == Durability::kPowerCut ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
  }

  // Makes the tables in a new database, upgrades a registry of an older
  // version opened for writing, or checks that an existing one is a
  // registry this library can read.
  StoreError CheckSchema(const StoreOptions& options) {
    std::int64_t tables = 0;
    if (StoreError e = QueryInt("SELECT count(*) FROM sqlite_master", tables)) return e;
    if (tables == 0 && options.read_only) return {StoreErrorKind::kNotFound, "the database is empty: no registry yet"};
    std::int64_t version = 0;
    if (tables > 0 && StoredVersion(version)) {
      return {StoreErrorKind::kDamaged, "not a registry: the database has no schema version"};
    }
    if (tables > 0 && version < 1) return {StoreErrorKind::kDamaged, "not a registry: its schema version is missing"};
    if (version > kSchemaVersion) {
      return {StoreErrorKind::kNewerSchema, "the registry's schema version " + std::to_string(version) +
                                                " is newer than this library's " + std::to_string(kSchemaVersion)};
    }
    if (version == kSchemaVersion || options.read_only) return {};
    if (StoreError e = Exec("BEGIN IMMEDIATE")) return e;
    // Another process may have made or upgraded it while this one waited.
    StoreError e = QueryInt("SELECT count(*) FROM sqlite_master", tables);
    if (!e && tables > 0 && StoredVersion(version)) e = {StoreErrorKind::kDamaged, "not a registry: no schema version"};
    if (!e && (tables == 0 || version < kSchemaVersion)) e = RunSchema(tables == 0 ? 0 : static_cast<int>(version));
    if (!e) e = Exec("COMMIT");
    if (e) Exec("ROLLBACK");
    return e;
  }

  StoreError RunSchema(int version) {
    const char* upgrade = SchemaUpgrade(kSqliteSchema, version);
    if (!upgrade) return {StoreErrorKind::kDamaged, "no upgrade from schema version " + std::to_string(version)};
    return Exec(upgrade);
  }

  // Fails when the database has no schema_version table.
  StoreError StoredVersion(std::int64_t& version) {
    return QueryInt("SELECT max(version) FROM schema_version", version);
  }

  StoreError Begin(TransactionKind kind) override {
    if (in_transaction_) return {StoreErrorKind::kOther, "a transaction is already open"};
    StoreError e = Exec(kind == TransactionKind::kWrite ? "BEGIN IMMEDIATE" : "BEGIN");
    in_transaction_ = e.ok();
    return e;
  }
  StoreError Commit() override {
    StoreError e = Exec("COMMIT");
    if (e) Rollback();
    in_transaction_ = false;
    return e;
  }
  void Rollback() override {
    // A statement still stepping would keep the transaction open.
    for (auto& [sql, statement] : statements_) api().sqlite3_reset(statement.get());
    if (!api().sqlite3_get_autocommit(db_.get())) Exec("ROLLBACK");
    in_transaction_ = false;
  }

  StoreError LockScope(const std::string& scope, ScopeRecord& record) override {
    // BEGIN IMMEDIATE already holds the database's write lock: the scope's
    // row only has to exist.
    if (StoreError e = Run("INSERT INTO scopes (name) VALUES (?1) ON CONFLICT (name) DO NOTHING", {}, {&scope})) {
      return e;
    }
    return LoadScope(scope, record);
  }

  StoreError SetSeats(const std::string& scope, std::int64_t seats) override {
    return Run("UPDATE scopes SET seats = ?1 WHERE name = ?2", {seats}, {&scope});
  }

  StoreError CountMachines(const std::string& scope, std::int64_t& count) override {
    sqlite3_stmt* s = nullptr;
    if (StoreError e =
            Prepare("SELECT count(*) FROM machines WHERE scope = (SELECT id FROM scopes WHERE name = ?1)", s)) {
      return e;
    }
    BindText(s, 1, scope);
    count = 0;
    return StepRows(s, [&] { count = api().sqlite3_column_int64(s, 0); });
  }

  StoreError FindCandidates(const std::vector<LookupKey>& keys, std::vector<MachineId>& machines) override {
    machines.clear();
    sqlite3_stmt* s = nullptr;
    if (StoreError e = Prepare("SELECT machine FROM lookup_keys WHERE lookup_key = ?1", s)) return e;
    for (LookupKey key : keys) {
      api().sqlite3_bind_int64(s, 1, key);
      if (StoreError e = StepRows(s, [&] { machines.push_back(api().sqlite3_column_int64(s, 0)); })) return e;
    }
    std::sort(machines.begin(), machines.end());
    machines.erase(std::unique(machines.begin(), machines.end()), machines.end());
    return {};
  }

  StoreError LoadCurrent(MachineId id, MachineRecord& machine, bool& found) override {
    machine = MachineRecord{};
    machine.id = id;
    found = false;
    sqlite3_stmt* s = nullptr;
    if (StoreError e =
            Prepare("SELECT m.activated, m.last_check_in, s.name FROM machines m JOIN scopes s ON s.id = m.scope "
                    "WHERE m.id = ?1",
                    s)) {
      return e;
    }
    api().sqlite3_bind_int64(s, 1, id);
    if (StoreError e = StepRows(s, [&] {
          found = true;
          machine.activated = api().sqlite3_column_int64(s, 0);
          machine.last_check_in = api().sqlite3_column_int64(s, 1);
          machine.scope = ColumnText(s, 2);
        })) {
      return e;
    }
    if (!found) return {};
    if (StoreError e =
            Prepare("SELECT member, identifier FROM current_identifiers WHERE machine = ?1 ORDER BY member", s)) {
      return e;
    }
    api().sqlite3_bind_int64(s, 1, id);
    return StepRows(s, [&] {
      machine.current.push_back({static_cast<int>(api().sqlite3_column_int64(s, 0)), ColumnText(s, 1)});
    });
  }

  StoreError LoadCurrents(const std::vector<MachineId>& ids, std::vector<MachineRecord>& machines) override {
    if (ids.empty()) return {};
    // The numbers travel as one JSON array: one statement whatever their
    // count, with no SQL made from them.
    std::string array = "[";
    for (MachineId id : ids) {
      if (array.size() > 1) array += ',';
      array += std::to_string(id);
    }
    array += "]";
    sqlite3_stmt* s = nullptr;
    if (StoreError e = Prepare("SELECT m.id, m.activated, m.last_check_in, s.name, c.member, c.identifier "
                               "FROM json_each(?1) AS j JOIN machines m ON m.id = j.value "
                               "JOIN scopes s ON s.id = m.scope "
                               "LEFT JOIN current_identifiers c ON c.machine = m.id ORDER BY j.key, c.member",
                               s)) {
      return e;
    }
    BindText(s, 1, array);
    return StepRows(s, [&] {
      const MachineId id = api().sqlite3_column_int64(s, 0);
      if (machines.empty() || machines.back().id != id) {
        MachineRecord& machine = machines.emplace_back();
        machine.id = id;
        machine.activated = api().sqlite3_column_int64(s, 1);
        machine.last_check_in = api().sqlite3_column_int64(s, 2);
        machine.scope = ColumnText(s, 3);
      }
      // No identifier row (the left join's NULL): a machine with none.
      if (api().sqlite3_column_text(s, 5) != nullptr) {
        machines.back().current.push_back({static_cast<int>(api().sqlite3_column_int64(s, 4)), ColumnText(s, 5)});
      }
    });
  }

  StoreError LoadMachine(MachineId id, MachineRecord& machine, bool& found) override {
    if (StoreError e = LoadCurrent(id, machine, found)) return e;
    if (!found) return {};
    sqlite3_stmt* s = nullptr;
    if (StoreError e = Prepare("SELECT member, identifier, first_seen, last_seen FROM sightings WHERE machine = ?1 "
                               "ORDER BY first_seen, member, identifier",
                               s)) {
      return e;
    }
    api().sqlite3_bind_int64(s, 1, id);
    if (StoreError e = StepRows(s, [&] {
          machine.history.push_back({static_cast<int>(api().sqlite3_column_int64(s, 0)), ColumnText(s, 1),
                                     api().sqlite3_column_int64(s, 2), api().sqlite3_column_int64(s, 3)});
        })) {
      return e;
    }
    if (StoreError e = Prepare(
            "SELECT at, old_identifiers, new_identifiers, evidence FROM changes WHERE machine = ?1 ORDER BY rowid",
            s)) {
      return e;
    }
    api().sqlite3_bind_int64(s, 1, id);
    return StepRows(s, [&] {
      machine.changes.push_back(
          {api().sqlite3_column_int64(s, 0), ColumnText(s, 1), ColumnText(s, 2), ColumnText(s, 3)});
    });
  }

  StoreError AddMachine(const std::string& scope, const std::vector<MemberText>& current,
                        const std::vector<LookupKey>& keys, Time at, MachineId& id) override {
    if (StoreError e = Run("INSERT INTO machines (scope, activated, last_check_in) "
                           "VALUES ((SELECT id FROM scopes WHERE name = ?3), ?1, ?2)",
                           {at, at}, {&scope})) {
      return e;
    }
    id = api().sqlite3_last_insert_rowid(db_.get());
    if (StoreError e = InsertCurrent(id, current)) return e;
    return InsertKeys(id, keys);
  }

  StoreError RecordSighting(MachineId id, const MemberText& identifier, Time at) override {
    if (StoreError e = AddSighting(id, identifier, at)) return e;
    return MoveLastCheckIn(id, at);
  }

  // The machine's row is written once, not once per member.
  StoreError RecordSightings(MachineId id, const std::vector<MemberText>& identifiers, Time at) override {
    for (const MemberText& identifier : identifiers) {
      if (StoreError e = AddSighting(id, identifier, at)) return e;
    }
    return MoveLastCheckIn(id, at);
  }

  StoreError ReplaceCurrent(MachineId id, const std::vector<MemberText>& current, const std::vector<LookupKey>& keys,
                            const ChangeRecord& change) override {
    if (StoreError e = Run("DELETE FROM current_identifiers WHERE machine = ?1", {id}, {})) return e;
    if (StoreError e = InsertCurrent(id, current)) return e;
    if (StoreError e = Run("DELETE FROM lookup_keys WHERE machine = ?1", {id}, {})) return e;
    if (StoreError e = InsertKeys(id, keys)) return e;
    return Run(
        "INSERT INTO changes (machine, at, old_identifiers, new_identifiers, evidence) VALUES (?1, ?2, ?3, ?4, ?5)",
        {id, change.at}, {&change.before, &change.after, &change.evidence});
  }

  StoreError FindUndecided(const std::string& scope, const std::string& identifiers, Time& first_seen,
                           bool& found) override {
    found = false;
    sqlite3_stmt* s = nullptr;
    if (StoreError e = Prepare("SELECT u.first_seen FROM undecided_check_ins u JOIN scopes s ON s.id = u.scope "
                               "WHERE s.name = ?1 AND u.identifiers = ?2",
                               s)) {
      return e;
    }
    BindText(s, 1, scope);
    BindText(s, 2, identifiers);
    return StepRows(s, [&] {
      found = true;
      first_seen = api().sqlite3_column_int64(s, 0);
    });
  }

  StoreError RecordUndecided(const std::string& scope, const std::string& identifiers, Time at) override {
    return Run(
        "INSERT INTO undecided_check_ins (scope, identifiers, first_seen, last_seen) "
        "SELECT id, ?3, ?1, ?1 FROM scopes WHERE name = ?2 ON CONFLICT (scope, identifiers) DO UPDATE SET "
        "first_seen = min(first_seen, excluded.first_seen), last_seen = max(last_seen, excluded.last_seen)",
        {at}, {&scope, &identifiers});
  }

  StoreError ForgetUndecided(const std::string& scope, const std::string& identifiers) override {
    return Run(
        "DELETE FROM undecided_check_ins WHERE scope = (SELECT id FROM scopes WHERE name = ?1) "
        "AND identifiers = ?2",
        {}, {&scope, &identifiers});
  }

  StoreError ForEachMachine(const std::function<bool(const MachineRecord&)>& visit) override {
    std::vector<MachineId> ids;
    sqlite3_stmt* s = nullptr;
    if (StoreError e = Prepare("SELECT id FROM machines ORDER BY id", s)) return e;
    if (StoreError e = StepRows(s, [&] { ids.push_back(api().sqlite3_column_int64(s, 0)); })) return e;
    for (MachineId id : ids) {
      MachineRecord machine;
      bool found = false;
      if (StoreError e = LoadMachine(id, machine, found)) return e;
      if (found && !visit(machine)) break;
    }
    return {};
  }

  StoreError ForEachScope(const std::function<bool(const ScopeRecord&)>& visit) override {
    std::vector<ScopeRecord> scopes;
    sqlite3_stmt* s = nullptr;
    if (StoreError e = Prepare("SELECT name, seats FROM scopes ORDER BY id", s)) return e;
    if (StoreError e = StepRows(s, [&] { scopes.push_back({ColumnText(s, 0), api().sqlite3_column_int64(s, 1)}); })) {
      return e;
    }
    for (const ScopeRecord& scope : scopes) {
      if (!visit(scope)) break;
    }
    return {};
  }

  StoreError SizeInBytes(std::int64_t& bytes) override {
    std::int64_t pages = 0, free_pages = 0, page_size = 0;
    if (StoreError e = QueryInt("PRAGMA page_count", pages)) return e;
    if (StoreError e = QueryInt("PRAGMA freelist_count", free_pages)) return e;
    if (StoreError e = QueryInt("PRAGMA page_size", page_size)) return e;
    bytes = (pages - free_pages) * page_size;
    return {};
  }

 private:
  StoreError AddSighting(MachineId id, const MemberText& identifier, Time at) {
    return Run(
        "INSERT INTO sightings (machine, member, identifier, first_seen, last_seen) VALUES (?1, ?2, ?4, ?3, ?3) "
        "ON CONFLICT (machine, identifier) DO UPDATE SET first_seen = min(first_seen, excluded.first_seen), "
        "last_seen = max(last_seen, excluded.last_seen)",
        {id, identifier.member, at}, {&identifier.text});
  }

  StoreError MoveLastCheckIn(MachineId id, Time at) {
    return Run("UPDATE machines SET last_check_in = max(last_check_in, ?2) WHERE id = ?1 AND last_check_in < ?2",
               {id, at}, {});
  }

  static const Sqlite& api() { return *g_sqlite; }

  // The connection's last error: the extended code tells a full disk from
  // other I/O errors.
  StoreError Error(int code) const {
    const int extended = api().sqlite3_extended_errcode(db_.get());
    return Explained({FullOr(KindOf(extended != SQLITE_OK ? extended : code)), api().sqlite3_errmsg(db_.get())});
  }

  // A registry in write-ahead-log mode is read through a shared-memory file
  // beside it, which the first reader makes when no writer is open: a
  // reader who may not write the folder cannot, and SQLite only says that
  // the database is read-only.
  StoreError Explained(StoreError e) const {
    if (e.kind == StoreErrorKind::kReadOnly && read_only_) {
      e.message +=
          " (reading a registry takes making " + path_ + "-shm beside it: read as a user who may write its folder)";
    }
    return e;
  }

  // SQLite says SQLITE_FULL only for ENOSPC met in the middle of a write. A
  // file-size limit (EFBIG), a quota (EDQUOT) or a write refused at its
  // first byte come as SQLITE_IOERR_WRITE, often with the system's error
  // number already gone: all are a disk that takes no more, to whoever must
  // make room, and the message still says what SQLite saw.
  StoreErrorKind FullOr(StoreErrorKind kind) const {
    if (kind != StoreErrorKind::kOther) return kind;
    if (api().sqlite3_extended_errcode(db_.get()) != SQLITE_IOERR_WRITE) return kind;
    const int error = api().sqlite3_system_errno(db_.get());
    return error == 0 || error == ENOSPC || error == EFBIG || error == EDQUOT ? StoreErrorKind::kFull : kind;
  }

  StoreError Exec(const char* sql) {
    char* message = nullptr;
    const int code = api().sqlite3_exec(db_.get(), sql, nullptr, nullptr, &message);
    if (code == SQLITE_OK) return {};
    StoreError e{FullOr(KindOf(code)), message ? message : api().sqlite3_errmsg(db_.get())};
    api().sqlite3_free(message);
    return Explained(std::move(e));
  }

  // A cached statement, reset and with its bindings cleared.
  StoreError Prepare(const char* sql, sqlite3_stmt*& statement) {
    auto found = statements_.find(sql);
    if (found == statements_.end()) {
      sqlite3_stmt* made = nullptr;
      const int code = api().sqlite3_prepare_v2(db_.get(), sql, -1, &made, nullptr);
      Statement owned(made);
      if (code != SQLITE_OK) return Error(code);
      found = statements_.emplace(sql, std::move(owned)).first;
    }
    statement = found->second.get();
    api().sqlite3_reset(statement);
    api().sqlite3_clear_bindings(statement);
    return {};
  }

  static void BindText(sqlite3_stmt* s, int index, const std::string& text) {
    api().sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }

  static std::string ColumnText(sqlite3_stmt* s, int column) {
    const auto* text = reinterpret_cast<const char*>(api().sqlite3_column_text(s, column));
    const int size = api().sqlite3_column_bytes(s, column);
    return text ? std::string(text, static_cast<std::size_t>(size)) : std::string();
  }

  // Steps to the end, calling `row` for each row; resets the statement.
  template <typename Row>
  StoreError StepRows(sqlite3_stmt* s, Row row) {
    for (;;) {
      const int code = api().sqlite3_step(s);
      if (code == SQLITE_ROW) {
        row();
        continue;
      }
      StoreError e = code == SQLITE_DONE ? StoreError{} : Error(code);
      api().sqlite3_reset(s);
      return e;
    }
  }

  // A statement whose numbers are bound to ?1, ?2, ... and whose texts
  // follow them.
  StoreError Run(const char* sql, std::initializer_list<std::int64_t> numbers,
                 std::initializer_list<const std::string*> texts) {
    sqlite3_stmt* s = nullptr;
    if (StoreError e = Prepare(sql, s)) return e;
    int index = 1;
    for (std::int64_t number : numbers) api().sqlite3_bind_int64(s, index++, number);
    for (const std::string* text : texts) BindText(s, index++, *text);
    return StepRows(s, [] {});
  }

  StoreError QueryInt(const char* sql, std::int64_t& value) {
    sqlite3_stmt* s = nullptr;
    if (StoreError e = Prepare(sql, s)) return e;
    return StepRows(s, [&] { value = api().sqlite3_column_int64(s, 0); });
  }

  StoreError LoadScope(const std::string& scope, ScopeRecord& record) {
    sqlite3_stmt* s = nullptr;
    if (StoreError e = Prepare("SELECT name, seats FROM scopes WHERE name = ?1", s)) return e;
    BindText(s, 1, scope);
    return StepRows(s, [&] { record = {ColumnText(s, 0), api().sqlite3_column_int64(s, 1)}; });
  }

  StoreError InsertCurrent(MachineId id, const std::vector<MemberText>& current) {
    for (const MemberText& m : current) {
      if (StoreError e = Run("INSERT INTO current_identifiers (machine, member, identifier) VALUES (?1, ?2, ?3)",
                             {id, m.member}, {&m.text})) {
        return e;
      }
    }
    return {};
  }

  StoreError InsertKeys(MachineId id, const std::vector<LookupKey>& keys) {
    for (LookupKey key : keys) {
      if (StoreError e =
              Run("INSERT OR IGNORE INTO lookup_keys (lookup_key, machine) VALUES (?1, ?2)", {key, id}, {})) {
        return e;
      }
    }
    return {};
  }

  Connection db_;
  std::string path_;
  bool read_only_ = false;
  // By the SQL text's address: every statement is a literal of this file.
  std::map<const char*, Statement> statements_;
  bool in_transaction_ = false;
};

}  // namespace

StoreError OpenSqliteStore(const std::string& path, const StoreOptions& options, std::unique_ptr<Store>& store) {
  store.reset();
  std::string error;
  const Sqlite* sqlite = LoadSqlite(error);
  if (!sqlite) return {StoreErrorKind::kNotBuilt, error};
  g_sqlite = sqlite;
  int flags = options.read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
  if (options.create && !options.read_only) flags |= SQLITE_OPEN_CREATE;
  sqlite3* handle = nullptr;
  const int code = sqlite->sqlite3_open_v2(path.c_str(), &handle, flags, nullptr);
  Connection connection(handle);  // owned even when the open failed
  if (code != SQLITE_OK) {
    StoreErrorKind kind = KindOf(code);
    if (kind == StoreErrorKind::kNotFound && options.create && !options.read_only) kind = StoreErrorKind::kReadOnly;
    return {kind,
            std::string("cannot open ") + path + ": " + (handle ? sqlite->sqlite3_errmsg(handle) : "out of memory")};
  }
  auto opened = std::make_unique<SqliteStore>(std::move(connection), path, options.read_only);
  if (StoreError e = opened->Configure(options)) return e;
  if (StoreError e = opened->CheckSchema(options)) return e;
  store = std::move(opened);
  return {};
}

}  // namespace tavsn::registry
