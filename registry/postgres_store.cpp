// The registry on PostgreSQL, through libpq loaded at run time
// (registry/libpq_loader.h). Several licence-server processes on several
// hosts share one database: each check-in is one transaction whose seat lock
// is the scope's row, taken with SELECT ... FOR UPDATE, so two transactions
// under one scope count its machines one after the other.
//
// Every value travels as a parameter of a prepared statement, in binary
// (scope names and identifiers as bytea, numbers as big-endian integers) or,
// for arrays, as array literals of digits and hex: no text from outside is
// ever part of a statement or needs quoting.
#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <utility>

#include "base/unique_resource.h"
#include "registry/libpq_loader.h"
#include "registry/store.h"

namespace tavsn::registry {

// The schema, embedded at build time from registry/schema_postgresql.sql.
extern const char kPostgresqlSchema[];

namespace {

const Libpq& Pq() {
  // Only reached once a connection exists, so the library is loaded.
  std::string unused;
  return *LoadLibpq(unused);
}

struct ConnectionTraits {
  using Handle = PGconn*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept { Pq().PQfinish(handle); }
};
using Connection = UniqueResource<ConnectionTraits>;

struct ResultTraits {
  using Handle = PGresult*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept { Pq().PQclear(handle); }
};
using Result = UniqueResource<ResultTraits>;

// The types of the statements' parameters (PostgreSQL's built-in type
// numbers, fixed since its first releases).
constexpr Oid kInt4 = 23;
constexpr Oid kInt8 = 20;
constexpr Oid kBytea = 17;
constexpr Oid kInt4Array = 1007;
constexpr Oid kInt8Array = 1016;
constexpr Oid kByteaArray = 1001;

// Held by the transaction that makes the schema, so that processes opening a
// new database at once make it once ("tavs").
constexpr long long kSchemaLockKey = 0x74617673;

enum Statement {
  kLockScope,
  kAddScope,
  kSetSeats,
  kCountMachines,
  kFindCandidates,
  kLoadMachine,
  kAddMachine,
  kRecordSighting,
  kReplaceCurrent,
  kMachinesAfter,
  kScopesAfter,
  kSize,
  kLoadCurrents,
  kRecordSightings,
  kFindUndecided,
  kRecordUndecided,
  kForgetUndecided,
  kStatementCount,
};

struct StatementText {
  const char* sql;
  std::vector<Oid> types;
};

// Indexed by Statement; each is prepared under the name "tavsn_<index>".
const std::array<StatementText, kStatementCount>& Statements() {
  static const std::array<StatementText, kStatementCount> statements = {{
      {"SELECT id, seats FROM scopes WHERE name = $1 FOR UPDATE", {kBytea}},
      // A new scope: two processes adding it at once both go on, the second
      // after the first's transaction ends.
      {"INSERT INTO scopes (name) VALUES ($1) ON CONFLICT (name) DO NOTHING", {kBytea}},
      {"UPDATE scopes SET seats = $2 WHERE name = $1", {kBytea, kInt8}},
      {"SELECT count(*) FROM machines WHERE scope = (SELECT id FROM scopes WHERE name = $1)", {kBytea}},
      {"SELECT DISTINCT machine FROM lookup_keys WHERE lookup_key = ANY ($1) ORDER BY machine", {kInt8Array}},
      // A machine whole, in one round trip: part 0 its row, 1 its current
      // identifiers, 2 its sightings, 3 its changes, each in its order.
      // Sightings oldest first, then by member and identifier, as on SQLite.
      {"SELECT 0 AS part, m.activated AS a, m.last_check_in AS b, 0::bigint AS c, s.name AS x,"
       "   NULL::bytea AS y, NULL::bytea AS z, 0::bigint AS o1, 0::bigint AS o2, NULL::bytea AS o3"
       " FROM machines m JOIN scopes s ON s.id = m.scope WHERE m.id = $1"
       " UNION ALL SELECT 1, member, 0, 0, identifier, NULL, NULL, member, 0, NULL"
       " FROM current_identifiers WHERE machine = $1"
       " UNION ALL SELECT 2, member, first_seen, last_seen, identifier, NULL, NULL, first_seen, member, identifier"
       " FROM sightings WHERE machine = $1"
       " UNION ALL SELECT 3, at, 0, 0, old_identifiers, new_identifiers, evidence, id, 0, NULL"
       " FROM changes WHERE machine = $1"
       " ORDER BY part, o1, o2, o3",
       {kInt8}},
      {"WITH m AS (INSERT INTO machines (scope, activated, last_check_in)"
       "   SELECT id, $2, $2 FROM scopes WHERE name = $1 RETURNING id),"
       " c AS (INSERT INTO current_identifiers (machine, member, identifier)"
       "   SELECT m.id, u.member, u.identifier FROM m, unnest($3::integer[], $4::bytea[]) AS u (member, identifier)),"
       " k AS (INSERT INTO lookup_keys (lookup_key, machine)"
       "   SELECT DISTINCT u.lookup_key, m.id FROM m, unnest($5::bigint[]) AS u (lookup_key))"
       " SELECT id FROM m",
       {kBytea, kInt8, kInt4Array, kByteaArray, kInt8Array}},
      {"WITH s AS (INSERT INTO sightings (machine, member, identifier, first_seen, last_seen)"
       "   VALUES ($1, $2, $3, $4, $4) ON CONFLICT (machine, identifier) DO UPDATE SET"
       "   first_seen = LEAST(sightings.first_seen, EXCLUDED.first_seen),"
       "   last_seen = GREATEST(sightings.last_seen, EXCLUDED.last_seen))"
       " UPDATE machines SET last_check_in = GREATEST(last_check_in, $4) WHERE id = $1",
       {kInt8, kInt4, kBytea, kInt8}},
      // The rows that stay are left alone and the others replaced, so that no
      // row is both deleted and inserted by the one statement.
      {"WITH dc AS (DELETE FROM current_identifiers WHERE machine = $1 AND member <> ALL ($2::integer[])),"
       " uc AS (INSERT INTO current_identifiers (machine, member, identifier)"
       "   SELECT $1, u.member, u.identifier FROM unnest($2::integer[], $3::bytea[]) AS u (member, identifier)"
       "   ON CONFLICT (machine, member) DO UPDATE SET identifier = EXCLUDED.identifier),"
       " dk AS (DELETE FROM lookup_keys WHERE machine = $1 AND lookup_key <> ALL ($4::bigint[])),"
       " uk AS (INSERT INTO lookup_keys (lookup_key, machine)"
       "   SELECT DISTINCT u.lookup_key, $1 FROM unnest($4::bigint[]) AS u (lookup_key) ON CONFLICT DO NOTHING)"
       " INSERT INTO changes (machine, at, old_identifiers, new_identifiers, evidence)"
       " SELECT $1, $5, $6, $7, $8 FROM machines WHERE id = $1",
       {kInt8, kInt4Array, kByteaArray, kInt8Array, kInt8, kBytea, kBytea, kBytea}},
      {"SELECT id FROM machines WHERE id > $1 ORDER BY id LIMIT 256", {kInt8}},
      {"SELECT id, name, seats FROM scopes WHERE id > $1 ORDER BY id LIMIT 256", {kInt8}},
      {"SELECT COALESCE(sum(pg_total_relation_size(c.oid)), 0)::bigint FROM pg_class c"
       " WHERE c.relkind = 'r' AND c.relnamespace = current_schema()::regnamespace AND c.relname IN"
       " ('schema_version', 'scopes', 'machines', 'current_identifiers', 'sightings', 'lookup_keys', 'changes',"
       "  'undecided_check_ins')",
       {}},
      // Machines without their history, in the order of the array: the
      // candidates a check-in judges, in one round trip.
      {"SELECT m.id, m.activated, m.last_check_in, s.name, c.member, c.identifier"
       " FROM unnest($1::bigint[]) WITH ORDINALITY AS u (id, n) JOIN machines m ON m.id = u.id"
       " JOIN scopes s ON s.id = m.scope LEFT JOIN current_identifiers c ON c.machine = m.id"
       " ORDER BY u.n, c.member",
       {kInt8Array}},
      // Every member of one check-in, and the machine's row once.
      {"WITH s AS (INSERT INTO sightings (machine, member, identifier, first_seen, last_seen)"
       "   SELECT $1, u.member, u.identifier, $4, $4 FROM unnest($2::integer[], $3::bytea[]) AS u (member, identifier)"
       "   ON CONFLICT (machine, identifier) DO UPDATE SET"
       "   first_seen = LEAST(sightings.first_seen, EXCLUDED.first_seen),"
       "   last_seen = GREATEST(sightings.last_seen, EXCLUDED.last_seen))"
       " UPDATE machines SET last_check_in = $4 WHERE id = $1 AND last_check_in < $4",
       {kInt8, kInt4Array, kByteaArray, kInt8}},
      {"SELECT u.first_seen FROM undecided_check_ins u JOIN scopes s ON s.id = u.scope"
       " WHERE s.name = $1 AND u.identifiers = $2",
       {kBytea, kBytea}},
      {"INSERT INTO undecided_check_ins (scope, identifiers, first_seen, last_seen)"
       " SELECT id, $2, $3, $3 FROM scopes WHERE name = $1"
       " ON CONFLICT (scope, identifiers) DO UPDATE SET"
       " first_seen = LEAST(undecided_check_ins.first_seen, EXCLUDED.first_seen),"
       " last_seen = GREATEST(undecided_check_ins.last_seen, EXCLUDED.last_seen)",
       {kBytea, kBytea, kInt8}},
      {"DELETE FROM undecided_check_ins WHERE scope = (SELECT id FROM scopes WHERE name = $1) AND identifiers = $2",
       {kBytea, kBytea}},
  }};
  return statements;
}

std::string StatementName(int index) { return "tavsn_" + std::to_string(index); }

// One parameter: its bytes and whether they are binary or text.
struct Param {
  std::string bytes;
  bool binary = true;
};

template <typename Integer>
Param BinaryInteger(Integer value) {
  Param param;
  auto bits = static_cast<std::make_unsigned_t<Integer>>(value);
  for (int shift = (sizeof(Integer) - 1) * 8; shift >= 0; shift -= 8) {
    param.bytes.push_back(static_cast<char>((bits >> shift) & 0xFF));
  }
  return param;
}
Param Int8(std::int64_t value) { return BinaryInteger(value); }
Param Int4(std::int32_t value) { return BinaryInteger(value); }
Param Bytes(std::string_view text) { return {std::string(text), true}; }

// Array literals: digits, or "\x" and hex digits, never a byte from outside.
template <typename Range, typename Write>
Param ArrayLiteral(const Range& values, Write write) {
  Param param{"{", false};
  bool first = true;
  for (const auto& value : values) {
    if (!first) param.bytes += ',';
    first = false;
    write(param.bytes, value);
  }
  param.bytes += '}';
  return param;
}
Param KeyArray(const std::vector<LookupKey>& keys) {
  return ArrayLiteral(keys, [](std::string& out, LookupKey key) { out += std::to_string(key); });
}
Param MemberArray(const std::vector<MemberText>& members) {
  return ArrayLiteral(members, [](std::string& out, const MemberText& m) { out += std::to_string(m.member); });
}
Param TextArray(const std::vector<MemberText>& members) {
  static constexpr char kHex[] = "0123456789abcdef";
  return ArrayLiteral(members, [](std::string& out, const MemberText& m) {
    out += "\"\\\\x";  // "\\x: the array literal's escape of bytea's hex prefix
    for (unsigned char byte : m.text) {
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
    out += '"';
  });
}

// Reads the binary results.
std::int64_t ReadInteger(const PGresult* result, int row, int column) {
  const Libpq& pq = Pq();
  if (pq.PQgetisnull(result, row, column)) return 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(pq.PQgetvalue(result, row, column));
  const int length = pq.PQgetlength(result, row, column);
  std::uint64_t value = (length > 0 && (bytes[0] & 0x80)) ? ~std::uint64_t{0} : 0;
  for (int i = 0; i < length; ++i) value = (value << 8) | bytes[i];
  return static_cast<std::int64_t>(value);
}
std::string ReadBytes(const PGresult* result, int row, int column) {
  const Libpq& pq = Pq();
  return std::string(pq.PQgetvalue(result, row, column), pq.PQgetlength(result, row, column));
}

std::string Trimmed(const char* message) {
  std::string text = message ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// What the caller can do about a failure, from its SQLSTATE.
StoreErrorKind KindOfState(std::string_view state) {
  if (state.substr(0, 2) == "08" || state == "57P01" || state == "57P02" || state == "57P03") {
    return StoreErrorKind::kConnectionLost;
  }
  if (state == "53100") return StoreErrorKind::kFull;  // disk full
  if (state == "40001" || state == "40P01" || state == "55P03" || state == "57014" || state == "53300") {
    return StoreErrorKind::kBusy;  // serialisation, deadlock, lock or statement timeout, too many connections
  }
  if (state == "25006" || state == "42501") return StoreErrorKind::kReadOnly;
  if (state == "XX001" || state == "XX002" || state == "42P01" || state == "42703") {
    return StoreErrorKind::kDamaged;  // corrupt data or index, a registry table or column missing
  }
  if (state == "3D000") return StoreErrorKind::kNotFound;
  return StoreErrorKind::kOther;
}

void IgnoreNotice(void*, const char*) {}

class PostgresqlStore final : public Store {
 public:
  PostgresqlStore(std::string conninfo, const StoreOptions& options)
      : conninfo_(std::move(conninfo)), options_(options) {}
  ~PostgresqlStore() override { Rollback(); }

  const char* engine() const override { return "postgresql"; }

  // A session, then the statements, which need the registry's tables.
  StoreError Connect();
  StoreError MakeOrCheckSchema();
  StoreError Prepare();
  StoreError Reconnect() {
    if (StoreError error = Connect()) return error;
    return Prepare();
  }

  StoreError Begin(TransactionKind kind) override;
  StoreError Commit() override;
  void Rollback() override;
  StoreError LockScope(const std::string& scope, ScopeRecord& record) override;
  StoreError SetSeats(const std::string& scope, std::int64_t seats) override;
  StoreError CountMachines(const std::string& scope, std::int64_t& count) override;
  StoreError FindCandidates(const std::vector<LookupKey>& keys, std::vector<MachineId>& machines) override;
  StoreError LoadMachine(MachineId id, MachineRecord& machine, bool& found) override;
  StoreError AddMachine(const std::string& scope, const std::vector<MemberText>& current,
                        const std::vector<LookupKey>& keys, Time at, MachineId& id) override;
  StoreError LoadCurrents(const std::vector<MachineId>& ids, std::vector<MachineRecord>& machines) override;
  StoreError RecordSighting(MachineId id, const MemberText& identifier, Time at) override;
  StoreError RecordSightings(MachineId id, const std::vector<MemberText>& identifiers, Time at) override;
  StoreError ReplaceCurrent(MachineId id, const std::vector<MemberText>& current, const std::vector<LookupKey>& keys,
                            const ChangeRecord& change) override;
  StoreError FindUndecided(const std::string& scope, const std::string& identifiers, Time& first_seen,
                           bool& found) override;
  StoreError RecordUndecided(const std::string& scope, const std::string& identifiers, Time at) override;
  StoreError ForgetUndecided(const std::string& scope, const std::string& identifiers) override;
  StoreError ForEachMachine(const std::function<bool(const MachineRecord&)>& visit) override;
  StoreError ForEachScope(const std::function<bool(const ScopeRecord&)>& visit) override;
  StoreError SizeInBytes(std::int64_t& bytes) override;

 private:
  StoreError Run(Statement statement, const std::vector<Param>& params, Result& result);
  StoreError RunPlain(const char* sql, Result* result = nullptr);
  StoreError Failure(const PGresult* result, std::string_view doing);
  StoreError InTransaction(bool writing) const;
  StoreError StartTransaction(TransactionKind kind);

  std::string conninfo_;
  StoreOptions options_;
  Connection connection_;
  bool connection_lost_ = false;
  bool in_transaction_ = false;
  bool writing_ = false;
};

StoreError PostgresqlStore::Connect() {
  const Libpq& pq = Pq();
  connection_.reset(pq.PQconnectdb(conninfo_.c_str()));
  if (!connection_) return {StoreErrorKind::kOther, "out of memory making a PostgreSQL connection"};
  if (pq.PQstatus(connection_.get()) != CONNECTION_OK) {
    std::string message = Trimmed(pq.PQerrorMessage(connection_.get()));
    connection_.reset();
    connection_lost_ = true;
    // The server's words for a missing database are the one way libpq
    // tells it from an unreachable server before a session exists.
    const bool missing = message.find("does not exist") != std::string::npos;
    return {missing ? StoreErrorKind::kNotFound : StoreErrorKind::kConnectionLost,
            "cannot connect to PostgreSQL: " + message};
  }
  connection_lost_ = false;
  in_transaction_ = false;
  // CREATE ... IF NOT EXISTS and the like talk to stderr through notices;
  // the registry answers through its return values only.
  pq.PQsetNoticeProcessor(connection_.get(), IgnoreNotice, nullptr);
  const std::string session =
      "SET client_min_messages = warning; SET application_name = 'tavsn registry';"
      " SET lock_timeout = " +
      std::to_string(std::max(options_.busy_timeout_ms, 1)) +
      (options_.read_only ? "; SET default_transaction_read_only = on" : "");
  return RunPlain(session.c_str());
}

StoreError PostgresqlStore::Prepare() {
  const Libpq& pq = Pq();
  for (int i = 0; i < kStatementCount; ++i) {
    // Only check-ins use the undecided check-ins, whose table a registry of
    // schema version 1 opened for reading has not.
    const bool check_in_only = i == kFindUndecided || i == kRecordUndecided || i == kForgetUndecided;
    if (check_in_only && options_.read_only) continue;
    const StatementText& statement = Statements()[i];
    Result prepared(pq.PQprepare(connection_.get(), StatementName(i).c_str(), statement.sql,
                                 static_cast<int>(statement.types.size()), statement.types.data()));
    if (pq.PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) {
      // A registry table missing from the database fails here first.
      return Failure(prepared.get(), "preparing the registry's statements");
    }
  }
  return {};
}

StoreError PostgresqlStore::Failure(const PGresult* result, std::string_view doing) {
  const Libpq& pq = Pq();
  const char* state = result ? pq.PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  std::string message = Trimmed(result ? pq.PQresultErrorMessage(result) : pq.PQerrorMessage(connection_.get()));
  if (message.empty()) message = Trimmed(pq.PQerrorMessage(connection_.get()));
  StoreErrorKind kind = state ? KindOfState(state) : StoreErrorKind::kOther;
  if (!connection_ || pq.PQstatus(connection_.get()) == CONNECTION_BAD) kind = StoreErrorKind::kConnectionLost;
  if (kind == StoreErrorKind::kConnectionLost) {
    // The server rolls back whatever the session had open.
    connection_lost_ = true;
    in_transaction_ = false;
    return {kind,
            std::string(doing) + ": the connection to PostgreSQL was lost and the transaction rolled back: " + message};
  }
  return {kind, std::string(doing) + ": " + message};
}

StoreError PostgresqlStore::RunPlain(const char* sql, Result* result) {
  const Libpq& pq = Pq();
  Result own(pq.PQexec(connection_.get(), sql));
  const ExecStatusType status = pq.PQresultStatus(own.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) return Failure(own.get(), sql);
  if (result) *result = std::move(own);
  return {};
}

StoreError PostgresqlStore::Run(Statement statement, const std::vector<Param>& params, Result& result) {
  const Libpq& pq = Pq();
  if (connection_lost_ || !connection_) {
    return {StoreErrorKind::kConnectionLost, "the connection to PostgreSQL was lost; begin a new transaction"};
  }
  std::vector<const char*> values;
  std::vector<int> lengths;
  std::vector<int> formats;
  for (const Param& param : params) {
    values.push_back(param.bytes.data());
    lengths.push_back(static_cast<int>(param.bytes.size()));
    formats.push_back(param.binary ? 1 : 0);
  }
  result.reset(pq.PQexecPrepared(connection_.get(), StatementName(statement).c_str(), static_cast<int>(params.size()),
                                 values.data(), lengths.data(), formats.data(), /*resultFormat=*/1));
  const ExecStatusType status = pq.PQresultStatus(result.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    return Failure(result.get(), "running the registry's statement " + StatementName(statement));
  }
  return {};
}

StoreError PostgresqlStore::MakeOrCheckSchema() {
  // A registry opened for writing is made by the schema's text, or
  // upgraded from an older version by the part of it after that version.
  const bool writing = !options_.read_only;
  if (StoreError error = RunPlain(writing ? "BEGIN" : "BEGIN READ ONLY")) return error;
  auto fail = [this](StoreError error) {
    Rollback();
    return error;
  };
  in_transaction_ = true;
  Result result;
  if (writing) {
    const std::string lock = "SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLockKey) + ")";
    if (StoreError error = RunPlain(lock.c_str())) return fail(error);
  }
  if (StoreError error = RunPlain("SELECT to_regclass('schema_version') IS NOT NULL", &result)) return fail(error);
  const bool exists = std::strcmp(Pq().PQgetvalue(result.get(), 0, 0), "t") == 0;
  int version = 0;
  if (!exists) {
    if (!writing || !options_.create)
      return fail({StoreErrorKind::kNotFound, "this PostgreSQL database holds no registry"});
  } else {
    if (StoreError error = RunPlain("SELECT COALESCE(max(version), 0) FROM schema_version", &result)) {
      return fail(error);
    }
    version = std::atoi(Pq().PQgetvalue(result.get(), 0, 0));
    if (version > kSchemaVersion) {
      return fail({StoreErrorKind::kNewerSchema, "this registry has schema version " + std::to_string(version) +
                                                     ", newer than this tavsn's " + std::to_string(kSchemaVersion)});
    }
    if (version < 1) return fail({StoreErrorKind::kDamaged, "this registry's schema version is missing"});
  }
  if (writing && version < kSchemaVersion) {
    const char* upgrade = SchemaUpgrade(kPostgresqlSchema, version);
    if (!upgrade) {
      return fail({StoreErrorKind::kDamaged, "no upgrade from schema version " + std::to_string(version)});
    }
    if (StoreError error = RunPlain(upgrade)) return fail(error);
  }
  in_transaction_ = false;
  return RunPlain("COMMIT");
}

StoreError PostgresqlStore::StartTransaction(TransactionKind kind) {
  // A read sees one snapshot throughout; a write sees what others committed
  // up to each statement, so the count taken after the scope's lock includes
  // the machines the lock's previous holder added.
  return RunPlain(kind == TransactionKind::kRead ? "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"
                                                 : "BEGIN ISOLATION LEVEL READ COMMITTED");
}

StoreError PostgresqlStore::Begin(TransactionKind kind) {
  if (in_transaction_) return {StoreErrorKind::kOther, "a transaction is already open"};
  if (kind == TransactionKind::kWrite && options_.read_only) {
    return {StoreErrorKind::kReadOnly, "the registry was opened for reading only"};
  }
  // A connection lost earlier (the server restarted, the session was ended)
  // is made again once, here, where no transaction can be half done.
  bool reconnected = false;
  if (connection_lost_ || !connection_) {
    if (StoreError error = Reconnect()) return error;
    reconnected = true;
  }
  StoreError error = StartTransaction(kind);
  if (error.kind == StoreErrorKind::kConnectionLost && !reconnected) {
    // Idle connections are dropped without a word; BEGIN is the first to
    // find out.
    if (StoreError again = Reconnect()) return again;
    error = StartTransaction(kind);
  }
  if (error) return error;
  in_transaction_ = true;
  writing_ = kind == TransactionKind::kWrite;
  return {};
}

StoreError PostgresqlStore::Commit() {
  if (!in_transaction_) {
    if (connection_lost_) return {StoreErrorKind::kConnectionLost, "the connection to PostgreSQL was lost"};
    return {StoreErrorKind::kOther, "no transaction is open"};
  }
  // COMMIT of a transaction a statement failed in answers ROLLBACK without
  // an error: it must never look committed.
  if (Pq().PQtransactionStatus(connection_.get()) == PQTRANS_INERROR) {
    Rollback();
    return {StoreErrorKind::kOther, "a statement of the transaction failed; it was rolled back"};
  }
  StoreError error = RunPlain("COMMIT");
  in_transaction_ = false;
  return error;
}

void PostgresqlStore::Rollback() {
  if (!in_transaction_) return;
  in_transaction_ = false;
  if (connection_ && !connection_lost_) {
    Result ignored(Pq().PQexec(connection_.get(), "ROLLBACK"));
  }
}

StoreError PostgresqlStore::InTransaction(bool writing) const {
  if (connection_lost_) {
    return {StoreErrorKind::kConnectionLost, "the connection to PostgreSQL was lost; begin a new transaction"};
  }
  if (!in_transaction_) return {StoreErrorKind::kOther, "no transaction is open"};
  if (writing && !writing_) return {StoreErrorKind::kReadOnly, "a read transaction cannot write"};
  return {};
}

StoreError PostgresqlStore::LockScope(const std::string& scope, ScopeRecord& record) {
  if (StoreError error = InTransaction(true)) return error;
  Result result;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (StoreError error = Run(kLockScope, {Bytes(scope)}, result)) return error;
    if (Pq().PQntuples(result.get()) == 1) {
      record.name = scope;
      record.seats = ReadInteger(result.get(), 0, 1);
      return {};
    }
    if (attempt == 0) {
      if (StoreError error = Run(kAddScope, {Bytes(scope)}, result)) return error;
    }
  }
  return {StoreErrorKind::kOther, "the scope could not be added"};
}

StoreError PostgresqlStore::SetSeats(const std::string& scope, std::int64_t seats) {
  if (StoreError error = InTransaction(true)) return error;
  Result result;
  return Run(kSetSeats, {Bytes(scope), Int8(seats)}, result);
}

StoreError PostgresqlStore::CountMachines(const std::string& scope, std::int64_t& count) {
  if (StoreError error = InTransaction(false)) return error;
  Result result;
  if (StoreError error = Run(kCountMachines, {Bytes(scope)}, result)) return error;
  count = ReadInteger(result.get(), 0, 0);
  return {};
}

StoreError PostgresqlStore::FindCandidates(const std::vector<LookupKey>& keys, std::vector<MachineId>& machines) {
  machines.clear();
  if (StoreError error = InTransaction(false)) return error;
  if (keys.empty()) return {};
  Result result;
  if (StoreError error = Run(kFindCandidates, {KeyArray(keys)}, result)) return error;
  const int rows = Pq().PQntuples(result.get());
  for (int row = 0; row < rows; ++row) machines.push_back(ReadInteger(result.get(), row, 0));
  return {};
}

StoreError PostgresqlStore::LoadMachine(MachineId id, MachineRecord& machine, bool& found) {
  machine = MachineRecord{};
  found = false;
  if (StoreError error = InTransaction(false)) return error;
  Result result;
  if (StoreError error = Run(kLoadMachine, {Int8(id)}, result)) return error;
  const PGresult* rows = result.get();
  const int count = Pq().PQntuples(rows);
  for (int row = 0; row < count; ++row) {
    const auto a = ReadInteger(rows, row, 1);
    const auto b = ReadInteger(rows, row, 2);
    switch (ReadInteger(rows, row, 0)) {
      case 0:
        found = true;
        machine.id = id;
        machine.activated = a;
        machine.last_check_in = b;
        machine.scope = ReadBytes(rows, row, 4);
        break;
      case 1: machine.current.push_back({static_cast<int>(a), ReadBytes(rows, row, 4)}); break;
      case 2:
        machine.history.push_back({static_cast<int>(a), ReadBytes(rows, row, 4), b, ReadInteger(rows, row, 3)});
        break;
      default:
        machine.changes.push_back({a, ReadBytes(rows, row, 4), ReadBytes(rows, row, 5), ReadBytes(rows, row, 6)});
        break;
    }
  }
  if (!found) machine = MachineRecord{};
  return {};
}

StoreError PostgresqlStore::AddMachine(const std::string& scope, const std::vector<MemberText>& current,
                                       const std::vector<LookupKey>& keys, Time at, MachineId& id) {
  if (StoreError error = InTransaction(true)) return error;
  Result result;
  if (StoreError error = Run(
          kAddMachine, {Bytes(scope), Int8(at), MemberArray(current), TextArray(current), KeyArray(keys)}, result)) {
    return error;
  }
  if (Pq().PQntuples(result.get()) != 1) return {StoreErrorKind::kOther, "no such scope: lock it first"};
  id = ReadInteger(result.get(), 0, 0);
  return {};
}

StoreError PostgresqlStore::RecordSighting(MachineId id, const MemberText& identifier, Time at) {
  if (StoreError error = InTransaction(true)) return error;
  Result result;
  return Run(kRecordSighting, {Int8(id), Int4(identifier.member), Bytes(identifier.text), Int8(at)}, result);
}

StoreError PostgresqlStore::LoadCurrents(const std::vector<MachineId>& ids, std::vector<MachineRecord>& machines) {
  if (StoreError error = InTransaction(false)) return error;
  if (ids.empty()) return {};
  Result result;
  if (StoreError error = Run(kLoadCurrents, {KeyArray(ids)}, result)) return error;
  const PGresult* rows = result.get();
  const int count = Pq().PQntuples(rows);
  for (int row = 0; row < count; ++row) {
    const MachineId id = ReadInteger(rows, row, 0);
    if (machines.empty() || machines.back().id != id) {
      MachineRecord& machine = machines.emplace_back();
      machine.id = id;
      machine.activated = ReadInteger(rows, row, 1);
      machine.last_check_in = ReadInteger(rows, row, 2);
      machine.scope = ReadBytes(rows, row, 3);
    }
    if (!Pq().PQgetisnull(rows, row, 4)) {
      machines.back().current.push_back({static_cast<int>(ReadInteger(rows, row, 4)), ReadBytes(rows, row, 5)});
    }
  }
  return {};
}

StoreError PostgresqlStore::RecordSightings(MachineId id, const std::vector<MemberText>& identifiers, Time at) {
  if (StoreError error = InTransaction(true)) return error;
  // One statement may not update a row twice: a text sent twice is one
  // sighting.
  std::vector<MemberText> distinct;
  for (const MemberText& m : identifiers) {
    const bool repeated =
        std::any_of(distinct.begin(), distinct.end(), [&](const MemberText& d) { return d.text == m.text; });
    if (!repeated) distinct.push_back(m);
  }
  Result result;
  return Run(kRecordSightings, {Int8(id), MemberArray(distinct), TextArray(distinct), Int8(at)}, result);
}

StoreError PostgresqlStore::FindUndecided(const std::string& scope, const std::string& identifiers, Time& first_seen,
                                          bool& found) {
  found = false;
  if (StoreError error = InTransaction(false)) return error;
  Result result;
  if (StoreError error = Run(kFindUndecided, {Bytes(scope), Bytes(identifiers)}, result)) return error;
  if (Pq().PQntuples(result.get()) == 0) return {};
  found = true;
  first_seen = ReadInteger(result.get(), 0, 0);
  return {};
}

StoreError PostgresqlStore::RecordUndecided(const std::string& scope, const std::string& identifiers, Time at) {
  if (StoreError error = InTransaction(true)) return error;
  Result result;
  return Run(kRecordUndecided, {Bytes(scope), Bytes(identifiers), Int8(at)}, result);
}

StoreError PostgresqlStore::ForgetUndecided(const std::string& scope, const std::string& identifiers) {
  if (StoreError error = InTransaction(true)) return error;
  Result result;
  return Run(kForgetUndecided, {Bytes(scope), Bytes(identifiers)}, result);
}

StoreError PostgresqlStore::ReplaceCurrent(MachineId id, const std::vector<MemberText>& current,
                                           const std::vector<LookupKey>& keys, const ChangeRecord& change) {
  if (StoreError error = InTransaction(true)) return error;
  Result result;
  return Run(kReplaceCurrent,
             {Int8(id), MemberArray(current), TextArray(current), KeyArray(keys), Int8(change.at), Bytes(change.before),
              Bytes(change.after), Bytes(change.evidence)},
             result);
}

StoreError PostgresqlStore::ForEachMachine(const std::function<bool(const MachineRecord&)>& visit) {
  if (StoreError error = InTransaction(false)) return error;
  MachineId after = 0;
  for (;;) {
    Result page;
    if (StoreError error = Run(kMachinesAfter, {Int8(after)}, page)) return error;
    const int rows = Pq().PQntuples(page.get());
    if (rows == 0) return {};
    for (int row = 0; row < rows; ++row) {
      after = ReadInteger(page.get(), row, 0);
      MachineRecord machine;
      bool found = false;
      if (StoreError error = LoadMachine(after, machine, found)) return error;
      if (found && !visit(machine)) return {};
    }
  }
}

StoreError PostgresqlStore::ForEachScope(const std::function<bool(const ScopeRecord&)>& visit) {
  if (StoreError error = InTransaction(false)) return error;
  std::int64_t after = 0;
  for (;;) {
    Result page;
    if (StoreError error = Run(kScopesAfter, {Int8(after)}, page)) return error;
    const int rows = Pq().PQntuples(page.get());
    if (rows == 0) return {};
    for (int row = 0; row < rows; ++row) {
      after = ReadInteger(page.get(), row, 0);
      if (!visit(ScopeRecord{ReadBytes(page.get(), row, 1), ReadInteger(page.get(), row, 2)})) return {};
    }
  }
}

StoreError PostgresqlStore::SizeInBytes(std::int64_t& bytes) {
  // Inside a transaction or outside one, as on SQLite: one statement.
  if (in_transaction_ || connection_lost_) {
    if (StoreError error = InTransaction(false)) return error;
  } else if (!connection_) {
    if (StoreError error = Reconnect()) return error;
  }
  Result result;
  if (StoreError error = Run(kSize, {}, result)) return error;
  bytes = ReadInteger(result.get(), 0, 0);
  return {};
}

}  // namespace

StoreError OpenPostgresqlStore(const std::string& conninfo, const StoreOptions& options,
                               std::unique_ptr<Store>& store) {
  store.reset();
  std::string missing;
  if (!LoadLibpq(missing)) return {StoreErrorKind::kNotBuilt, missing};
  auto postgresql = std::make_unique<PostgresqlStore>(conninfo, options);
  if (StoreError error = postgresql->Connect()) return error;
  if (StoreError error = postgresql->MakeOrCheckSchema()) return error;
  if (StoreError error = postgresql->Prepare()) return error;
  store = std::move(postgresql);
  return {};
}

}  // namespace tavsn::registry
