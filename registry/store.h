#pragma once
// What the registry needs of a database, and nothing more: every engine
// (SQLite, PostgreSQL) implements this one narrow interface, and the
// registry's logic (registry/registry.h) never sees SQL. The store judges
// nothing: it finds, loads and writes machines inside transactions that
// the logic opens and ends.
//
// Scopes and identifiers are opaque texts that a licence server received
// from outside; an engine binds every one as a parameter, never as SQL text.
// No call throws: a failure is a StoreError value.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tavsn::registry {

// Seconds since 1970-01-01 00:00 UTC.
using Time = std::int64_t;
// A machine's number, given by the store when it is added; never reused.
using MachineId = std::int64_t;
// An index key (registry/keys.h): a plain 64-bit value, equal for records
// the judgment could call one machine.
using LookupKey = std::int64_t;

// What went wrong, by what the caller can do about it. Each kind has its own
// exit code in the tool.
enum class StoreErrorKind {
  kNone,
  kBusy,            // another process holds the database locked past the busy timeout: retry later
  kReadOnly,        // the database or its folder cannot be written
  kFull,            // the disk or the database's quota is full
  kDamaged,         // not a registry, or its file is corrupt
  kConnectionLost,  // the server went away; the transaction was rolled back
  kNewerSchema,     // made by a newer tavsn: this library does not write it
  kNotFound,        // no registry at this location (and it was not to be created)
  kNotBuilt,        // this build has no engine for the location's kind
  kBadLocation,     // the location string names no engine
  kOther,
};

// "busy", "read-only", "full", "damaged", "connection lost", "newer schema",
// "not found", "engine not built", "bad location", "other"; "" for kNone.
const char* StoreErrorKindName(StoreErrorKind kind);

struct StoreError {
  StoreErrorKind kind = StoreErrorKind::kNone;
  std::string message;  // the engine's own words, for people

  bool ok() const { return kind == StoreErrorKind::kNone; }
  explicit operator bool() const { return !ok(); }  // true when it failed
};

// One identifier of a machine, with the kind of member it is in a bundle
// (the index of server::BundleMember: 0 GetMacSN, 1 GetPCSN, 2 GetPCSNEx,
// 3 tav_get_pc_id).
struct MemberText {
  int member = 0;
  std::string text;
};

// One identifier a machine has shown, with when it was first and last seen.
struct Sighting {
  int member = 0;
  std::string text;
  Time first_seen = 0;
  Time last_seen = 0;
};

// A change of a machine's identifiers the registry accepted, with the
// evidence that decided it (one line for people).
struct ChangeRecord {
  Time at = 0;
  std::string before;  // the bundle's texts, separated by blanks
  std::string after;
  std::string evidence;
};

struct MachineRecord {
  MachineId id = 0;
  std::string scope;
  Time activated = 0;
  Time last_check_in = 0;
  std::vector<MemberText> current;  // one per member kind, by member
  std::vector<Sighting> history;    // every identifier ever seen, oldest first
  std::vector<ChangeRecord> changes;
};

struct ScopeRecord {
  std::string name;
  // The most machines the scope may activate; negative: no limit set.
  std::int64_t seats = -1;
};

enum class Durability {
  // A committed check-in survives a killed process, not necessarily a power
  // cut (SQLite: WAL with synchronous=NORMAL).
  kProcessCrash,
  // It also survives a power cut or an operating-system crash (SQLite:
  // synchronous=FULL; PostgreSQL always).
  kPowerCut,
};

struct StoreOptions {
  bool create = true;      // make the registry when there is none
  bool read_only = false;  // open for reading only (identify, audit, export)
  Durability durability = Durability::kProcessCrash;
  int busy_timeout_ms = 5000;  // how long to wait for another writer
};

enum class TransactionKind {
  kRead,   // a consistent view; writes refused
  kWrite,  // writes; serialised with other writers before the first lock
};

class Store {
 public:
  virtual ~Store() = default;

  // "sqlite" or "postgresql".
  virtual const char* engine() const = 0;

  // One transaction at a time. A check-in is Begin(kWrite), LockScope,
  // the reads and writes, Commit; any failure in between ends in Rollback,
  // which is also what destroying the store with a transaction open does.
  virtual StoreError Begin(TransactionKind kind) = 0;
  virtual StoreError Commit() = 0;
  virtual void Rollback() = 0;

  // Takes the scope's seat lock until the transaction ends, creating the
  // scope (no seat limit) if it is new, so that two processes checking in
  // under one scope never both see the last free seat. Write transactions
  // only. Returns the scope as stored.
  virtual StoreError LockScope(const std::string& scope, ScopeRecord& record) = 0;
  // Sets a scope's seat limit (negative: none). Under the scope's lock.
  virtual StoreError SetSeats(const std::string& scope, std::int64_t seats) = 0;
  virtual StoreError CountMachines(const std::string& scope, std::int64_t& count) = 0;

  // Every machine, in every scope, that holds at least one of the keys
  // (through the index, never a scan), each once, in ascending order.
  virtual StoreError FindCandidates(const std::vector<LookupKey>& keys, std::vector<MachineId>& machines) = 0;
  // Found = false when no machine has that number.
  virtual StoreError LoadMachine(MachineId id, MachineRecord& machine, bool& found) = 0;
  // The same without history and changes (left empty): what judging a
  // candidate needs, on every check-in. Added after the first interface;
  // an engine that does not override it loads the whole machine.
  virtual StoreError LoadCurrent(MachineId id, MachineRecord& machine, bool& found) {
    if (StoreError e = LoadMachine(id, machine, found)) return e;
    machine.history.clear();
    machine.changes.clear();
    return {};
  }
  // LoadCurrent of several machines at once: a new machine's check-in
  // judges every machine of its scope that shares its processor, and one
  // statement (one round trip on a server) for all of them is what keeps
  // it fast. Appends the machines found, in the order of `ids`; the
  // numbers no machine has are left out. An engine that does not override
  // it loads them one by one.
  virtual StoreError LoadCurrents(const std::vector<MachineId>& ids, std::vector<MachineRecord>& machines) {
    for (MachineId id : ids) {
      MachineRecord machine;
      bool found = false;
      if (StoreError e = LoadCurrent(id, machine, found)) return e;
      if (found) machines.push_back(std::move(machine));
    }
    return {};
  }

  // A new machine under a scope (which LockScope made), with its current
  // identifiers and their keys; activated and last checked in at `at`.
  virtual StoreError AddMachine(const std::string& scope, const std::vector<MemberText>& current,
                                const std::vector<LookupKey>& keys, Time at, MachineId& id) = 0;
  // The machine showed this identifier at `at`: a new sighting, or the
  // known one's first/last seen widened to include `at`. Also moves the
  // machine's last check-in forward to `at` when it is later.
  virtual StoreError RecordSighting(MachineId id, const MemberText& identifier, Time at) = 0;
  // RecordSighting of every member of one check-in, with fewer writes
  // where an engine can (the machine's row once, one round trip).
  virtual StoreError RecordSightings(MachineId id, const std::vector<MemberText>& identifiers, Time at) {
    for (const MemberText& identifier : identifiers) {
      if (StoreError e = RecordSighting(id, identifier, at)) return e;
    }
    return {};
  }
  // The machine's current identifiers and keys become these (a change the
  // registry accepted), with the change and its evidence recorded.
  virtual StoreError ReplaceCurrent(MachineId id, const std::vector<MemberText>& current,
                                    const std::vector<LookupKey>& keys, const ChangeRecord& change) = 0;

  // Check-ins that ended undecided, by scope and the bundle's texts joined
  // by blanks: when they were first seen (found = false: never).
  virtual StoreError FindUndecided(const std::string& scope, const std::string& identifiers, Time& first_seen,
                                   bool& found) = 0;
  // A new undecided check-in, or the known one's first/last seen widened.
  virtual StoreError RecordUndecided(const std::string& scope, const std::string& identifiers, Time at) = 0;
  // Decided at last: nothing to remember.
  virtual StoreError ForgetUndecided(const std::string& scope, const std::string& identifiers) = 0;

  // Every machine, ascending by number, loaded whole; the visitor returns
  // false to stop. Inside a transaction (kRead is enough).
  virtual StoreError ForEachMachine(const std::function<bool(const MachineRecord&)>& visit) = 0;
  virtual StoreError ForEachScope(const std::function<bool(const ScopeRecord&)>& visit) = 0;

  // The database's size in bytes (pages in use), for the benchmark's
  // bytes per machine.
  virtual StoreError SizeInBytes(std::int64_t& bytes) = 0;
};

// The schema version this library writes; a registry whose version is newer
// is refused with kNewerSchema, an older one is upgraded when it is opened
// for writing (read-only, it is read as it is). 2 added undecided_check_ins.
constexpr int kSchemaVersion = 2;

// The part of an engine's schema text that upgrades a registry of
// `version` to kSchemaVersion: from its line "-- Upgrade to version N"
// (N = version + 1) to the end; the whole text for version 0 (a new
// registry); nullptr when the text has no such line.
const char* SchemaUpgrade(const char* schema, int version);

// Opens the registry at a location: "sqlite:PATH", a bare PATH (SQLite),
// or "postgresql://..." / "postgres://..." (PostgreSQL, libpq's URI).
StoreError OpenStore(const std::string& location, const StoreOptions& options, std::unique_ptr<Store>& store);

// Each engine's opener; OpenStore picks one by the location. An engine that
// this build leaves out returns kNotBuilt.
StoreError OpenSqliteStore(const std::string& path, const StoreOptions& options, std::unique_ptr<Store>& store);
StoreError OpenPostgresqlStore(const std::string& conninfo, const StoreOptions& options, std::unique_ptr<Store>& store);

}  // namespace tavsn::registry
