#pragma once
// The machine registry: which stored machine an identifier belongs to, for
// a licence server that activates machines under scopes (licences,
// accounts) with a seat limit each. One implementation over any engine
// (registry/store.h): candidates come from the index keys
// (registry/keys.h), the judgment from server::CompareBundles, and what a
// single pair cannot settle from the machines' history.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "registry/keys.h"
#include "registry/store.h"
#include "server/bundle.h"

namespace tavsn::registry {

struct RegistryPolicy {
  server::ComparePolicy judgment;
  // A candidate that has not checked in for this long before the new
  // identifiers appeared fell silent: one machine after a change.
  Time silence_window = 3 * 24 * 3600;
  // A candidate that checked in this recently is alive beside them: two
  // machines.
  Time overlap_window = 3600;
};

enum class CheckInOutcome {
  kKnownUnchanged,       // a machine of the scope, identifiers as stored
  kKnownChanged,         // a machine of the scope after a change, now recorded
  kActivated,            // a new machine, given a free seat
  kRefusedNoSeat,        // a new machine, and every seat taken
  kRefusedNotDll,        // a member is no record the DLL writes (or no identifier at all)
  kRefusedInconsistent,  // members that cannot come from one machine
  kUndecided,            // candidates that neither the judgment nor history settles
};
// "known unchanged", "known changed", "activated", "refused: no seat",
// "refused: not written by the DLL", "refused: inconsistent bundle",
// "undecided".
const char* CheckInOutcomeName(CheckInOutcome outcome);

// What decided an answer.
enum class Evidence {
  kEqualIdentifiers,  // the bundle equals the machine's current one
  kJudgment,          // the judgment alone: same machine, or different from every candidate
  kSilence,           // history: the candidate fell silent before the new identifiers appeared
  kOverlap,           // history: the candidate is still checking in beside them
  kNone,              // nothing decided (undecided, refused)
};
const char* EvidenceName(Evidence evidence);

// A stored machine that may be the one asked about.
struct Candidate {
  MachineId machine = 0;
  std::string scope;
  Time last_check_in = 0;
  server::MachineVerdict verdict = server::MachineVerdict::kUndecided;
  double false_accept_probability = 1.0;
  std::string reason;       // the judgment's
  std::string explanation;  // undecided: the competing explanations
};

struct CheckInResult {
  CheckInOutcome outcome = CheckInOutcome::kUndecided;
  Evidence decided_by = Evidence::kNone;
  MachineId machine = 0;  // known, changed or activated
  std::string detail;     // one line for people: why
  std::string settle;     // undecided: what would settle it
  std::int64_t seats = -1, used = 0;
  std::vector<Candidate> candidates;    // in the scope, judged same or undecided
  std::vector<Candidate> other_scopes;  // the same machine (or maybe) under other scopes
};

struct IdentifyResult {
  std::vector<Candidate> candidates;  // every scope, same or undecided, likeliest first
};

struct AuditResult {
  std::int64_t machines = 0, scopes = 0;
  // Pairs of machines under different scopes that the judgment calls one.
  struct SharedMachine {
    Candidate first, second;
  };
  std::vector<SharedMachine> across_scopes;
  // Identifiers that went from one machine of a scope to another and back
  // (registry/alternation.h): an adapter passed between them. One that
  // went across once (a card moved, a machine replaced) is no alternation.
  struct Alternation {
    std::string scope;
    std::string identifier;
    std::vector<MachineId> machines;  // every machine of the scope that showed it
    int handovers = 0;                // from one machine to another, at least
    int returns = 0;                  // of those, back to a machine that held it before
  };
  std::vector<Alternation> alternating;
};

struct ImportProgress {
  std::int64_t lines = 0, imported = 0, refused = 0;
};

class Registry {
 public:
  static StoreError Open(const std::string& location, const StoreOptions& options, std::unique_ptr<Registry>& registry);
  explicit Registry(std::unique_ptr<Store> store, RegistryPolicy policy = {});

  void set_policy(const RegistryPolicy& policy) { policy_ = policy; }
  const RegistryPolicy& policy() const { return policy_; }
  Store& store() { return *store_; }

  // One transaction. `seats` >= 0 sets the scope's limit first; negative
  // keeps the stored one.
  StoreError CheckIn(const std::string& scope, const std::vector<std::string>& texts, Time at, std::int64_t seats,
                     CheckInResult& result);
  StoreError Identify(const std::vector<std::string>& texts, IdentifyResult& result, ReadBundle& read);
  StoreError History(MachineId id, MachineRecord& machine, bool& found);
  StoreError Audit(AuditResult& result);
  // CSV with a header line: scope, machine, identifier, first seen, last seen.
  // `write` returns false to stop the export (the answer is then still
  // success: the caller knows why it stopped).
  StoreError Export(const std::function<bool(const std::string& line)>& write);
  // CSV lines "scope,identifier,time" (a header line is skipped); lines of
  // one scope and time in a row are one bundle. `progress` is called now
  // and then and at the end.
  StoreError Import(const std::function<bool(std::string& line)>& read_line,
                    const std::function<void(const ImportProgress&)>& progress, ImportProgress& totals);

 private:
  StoreError CheckInLocked(const std::string& scope, const ReadBundle& read, Time at, CheckInResult& result);
  // Loads and judges the machines the keys find, except those in `seen`
  // (which it extends), adding those judged same or undecided to `out`.
  StoreError JudgeCandidates(const std::vector<MemberText>& members, const std::vector<LookupKey>& keys,
                             std::vector<Candidate>& out, std::vector<MachineRecord>* loaded,
                             std::vector<MachineId>* seen = nullptr);

  std::unique_ptr<Store> store_;
  RegistryPolicy policy_;
};

// Times as the tool reads and writes them: seconds since 1970, or
// "YYYY-MM-DDTHH:MM:SSZ".
bool ParseTime(const std::string& text, Time& time);
std::string TimeText(Time time);

// One CSV field, quoted when it must be.
std::string CsvField(const std::string& text);

}  // namespace tavsn::registry
