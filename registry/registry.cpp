#include "registry/registry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <map>
#include <set>
#include <utility>

#include "registry/alternation.h"
#include "registry/keys.h"

namespace tavsn::registry {
namespace {

using server::BundleComparison;
using server::BundleMember;
using server::BundleStatus;
using server::MachineVerdict;

std::string Joined(const std::vector<MemberText>& members) {
  std::string text;
  for (const MemberText& m : members) text += (text.empty() ? "" : " ") + m.text;
  return text;
}

std::string OneIn(double probability) {
  if (probability >= 0.5) return "no bound";
  char text[32];
  std::snprintf(text, sizeof text, "about 1 in %.0f", std::round(1.0 / probability));
  return text;
}

std::string Days(Time seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f days", static_cast<double>(seconds) / 86400.0);
  return text;
}

// The new members, and the stored members of kinds the new bundle lacks,
// when together they still read as one machine's bundle; otherwise the new
// members alone.
std::vector<MemberText> MergedCurrent(const std::vector<MemberText>& stored, const std::vector<MemberText>& fresh) {
  std::vector<MemberText> merged = fresh;
  for (const MemberText& old : stored) {
    const bool sent =
        std::any_of(fresh.begin(), fresh.end(), [&](const MemberText& m) { return m.member == old.member; });
    if (!sent) merged.push_back(old);
  }
  if (merged.size() == fresh.size()) return fresh;
  const ReadBundle read = ReadBundleTexts(MemberTexts(merged));
  return read.status == BundleStatus::kOk ? read.members : fresh;
}

// Every member the new bundle holds equals the stored one of its kind.
bool SameTexts(const std::vector<MemberText>& stored, const std::vector<MemberText>& fresh) {
  for (const MemberText& m : fresh) {
    const bool equal = std::any_of(stored.begin(), stored.end(),
                                   [&](const MemberText& s) { return s.member == m.member && s.text == m.text; });
    if (!equal) return false;
  }
  return true;
}

bool Likelier(const Candidate& a, const Candidate& b) {
  if (a.verdict != b.verdict) return a.verdict == MachineVerdict::kSame;
  if (a.false_accept_probability != b.false_accept_probability) {
    return a.false_accept_probability < b.false_accept_probability;
  }
  return a.machine < b.machine;
}

}  // namespace

const char* CheckInOutcomeName(CheckInOutcome outcome) {
  switch (outcome) {
    case CheckInOutcome::kKnownUnchanged: return "known unchanged";
    case CheckInOutcome::kKnownChanged: return "known changed";
    case CheckInOutcome::kActivated: return "activated";
    case CheckInOutcome::kRefusedNoSeat: return "refused: no seat";
    case CheckInOutcome::kRefusedNotDll: return "refused: not written by the DLL";
    case CheckInOutcome::kRefusedInconsistent: return "refused: inconsistent bundle";
    case CheckInOutcome::kUndecided: return "undecided";
  }
  return "unknown";
}

const char* EvidenceName(Evidence evidence) {
  switch (evidence) {
    case Evidence::kEqualIdentifiers: return "equal identifiers";
    case Evidence::kJudgment: return "judgment";
    case Evidence::kSilence: return "history: silence";
    case Evidence::kOverlap: return "history: overlap";
    case Evidence::kNone: return "none";
  }
  return "none";
}

StoreError Registry::Open(const std::string& location, const StoreOptions& options,
                          std::unique_ptr<Registry>& registry) {
  registry.reset();
  std::unique_ptr<Store> store;
  if (StoreError e = OpenStore(location, options, store)) return e;
  registry = std::make_unique<Registry>(std::move(store));
  return {};
}

Registry::Registry(std::unique_ptr<Store> store, RegistryPolicy policy) : store_(std::move(store)), policy_(policy) {}

StoreError Registry::JudgeCandidates(const std::vector<MemberText>& members, const std::vector<LookupKey>& keys,
                                     std::vector<Candidate>& out, std::vector<MachineRecord>* loaded,
                                     std::vector<MachineId>* seen) {
  std::vector<MachineId> ids;
  if (StoreError e = store_->FindCandidates(keys, ids)) return e;
  if (seen) {
    // A machine already judged by an earlier lookup of this check-in.
    std::vector<MachineId> fresh;
    for (MachineId id : ids) {
      if (std::find(seen->begin(), seen->end(), id) == seen->end()) fresh.push_back(id);
    }
    seen->insert(seen->end(), fresh.begin(), fresh.end());
    ids.swap(fresh);
  }
  std::vector<MachineRecord> machines;
  if (StoreError e = store_->LoadCurrents(ids, machines)) return e;
  const std::vector<std::string> texts = MemberTexts(members);
  for (MachineRecord& machine : machines) {
    const MachineId id = machine.id;
    const BundleComparison c = server::CompareBundles(MemberTexts(machine.current), texts, policy_.judgment);
    // No member kind in common, or a stored bundle the judgment no longer
    // reads: nothing to weigh.
    if (c.status != BundleStatus::kOk || c.verdict == MachineVerdict::kDifferent) continue;
    Candidate candidate;
    candidate.machine = id;
    candidate.scope = machine.scope;
    candidate.last_check_in = machine.last_check_in;
    candidate.verdict = c.verdict;
    candidate.false_accept_probability = c.false_accept_probability;
    candidate.reason = c.reason;
    candidate.explanation = c.explanation;
    out.push_back(std::move(candidate));
    if (loaded) loaded->push_back(std::move(machine));
  }
  std::sort(out.begin(), out.end(), Likelier);
  return {};
}

StoreError Registry::CheckIn(const std::string& scope, const std::vector<std::string>& texts, Time at,
                             std::int64_t seats, CheckInResult& result) {
  result = CheckInResult{};
  const ReadBundle read = ReadBundleTexts(texts);
  if (read.status != BundleStatus::kOk) {
    const bool inconsistent = read.status == BundleStatus::kInconsistent;
    result.outcome = inconsistent ? CheckInOutcome::kRefusedInconsistent : CheckInOutcome::kRefusedNotDll;
    result.detail = inconsistent ? read.problem
                                 : "identifier " + std::to_string(read.position + 1) +
                                       " is no identifier or fingerprint the DLL writes";
    return {};
  }
  if (StoreError e = store_->Begin(TransactionKind::kWrite)) return e;
  ScopeRecord record;
  StoreError e = store_->LockScope(scope, record);
  if (!e && seats >= 0 && seats != record.seats) {
    e = store_->SetSeats(scope, seats);
    record.seats = seats;
  }
  if (!e) {
    result.seats = record.seats;
    e = CheckInLocked(scope, read, at, result);
  }
  if (!e) e = store_->Commit();
  if (e) store_->Rollback();
  return e;
}

StoreError Registry::CheckInLocked(const std::string& scope, const ReadBundle& read, Time at, CheckInResult& result) {
  const std::vector<MemberText>& members = read.members;
  std::vector<MachineRecord> loaded;
  std::vector<MachineId> seen;
  const auto record_of = [&](MachineId id) -> const MachineRecord& {
    return *std::find_if(loaded.begin(), loaded.end(), [&](const MachineRecord& m) { return m.id == id; });
  };
  // The cheapest keys first, so that the commonest check-ins (unchanged,
  // then changed on strong facts) never load the machines that only the
  // scope's weak facts find.
  const auto find = [&](const std::vector<LookupKey>& keys) -> StoreError {
    std::vector<Candidate> found;
    if (StoreError e = JudgeCandidates(members, keys, found, &loaded, &seen)) return e;
    for (Candidate& c : found) (c.scope == scope ? result.candidates : result.other_scopes).push_back(std::move(c));
    std::sort(result.candidates.begin(), result.candidates.end(), Likelier);
    std::sort(result.other_scopes.begin(), result.other_scopes.end(), Likelier);
    return {};
  };
  const auto equal_in_scope = [&]() -> const Candidate* {
    for (const Candidate& c : result.candidates) {
      if (SameTexts(record_of(c.machine).current, members)) return &c;
    }
    return nullptr;
  };

  const auto accept_change = [&](const Candidate& c, Evidence evidence, const std::string& why) -> StoreError {
    const MachineRecord& machine = record_of(c.machine);
    result.machine = c.machine;
    result.decided_by = evidence;
    result.detail = why;
    if (SameTexts(machine.current, members)) {
      result.outcome = CheckInOutcome::kKnownUnchanged;
      const std::vector<MemberText> merged = MergedCurrent(machine.current, members);
      if (merged.size() > machine.current.size()) {
        const ChangeRecord change{at, Joined(machine.current), Joined(merged),
                                  "a member kind reported for the first time"};
        if (StoreError e = store_->ReplaceCurrent(c.machine, merged, AllKeys(scope, merged), change)) return e;
      }
    } else {
      result.outcome = CheckInOutcome::kKnownChanged;
      const std::vector<MemberText> merged = MergedCurrent(machine.current, members);
      const ChangeRecord change{at, Joined(machine.current), Joined(merged), why};
      if (StoreError e = store_->ReplaceCurrent(c.machine, merged, AllKeys(scope, merged), change)) return e;
    }
    return store_->RecordSightings(c.machine, members, at);
  };

  // 1. Equal to a machine's current identifiers; 2. the judgment's same
  // machine, the likeliest first (the candidates are sorted so).
  const std::vector<LookupKey> exact = ExactKeys(members);
  if (StoreError e = find(exact)) return e;
  if (const Candidate* c = equal_in_scope()) {
    return accept_change(*c, Evidence::kEqualIdentifiers, "the identifiers equal the machine's current ones");
  }
  // The global keys but the exact ones, already looked up (both ascending).
  const std::vector<LookupKey> global = GlobalKeys(members);
  std::vector<LookupKey> rest;
  std::set_difference(global.begin(), global.end(), exact.begin(), exact.end(), std::back_inserter(rest));
  if (StoreError e = find(rest)) return e;
  if (const Candidate* c = equal_in_scope()) {
    return accept_change(*c, Evidence::kEqualIdentifiers, "the identifiers equal the machine's current ones");
  }
  if (!result.candidates.empty() && result.candidates.front().verdict == MachineVerdict::kSame) {
    const Candidate& c = result.candidates.front();
    return accept_change(
        c, Evidence::kJudgment,
        "the judgment: same machine (" + c.reason + "; risk " + OneIn(c.false_accept_probability) + ")");
  }

  // 3. Undecided candidates, with those only the scope's weak facts find:
  // history.
  if (StoreError e = find(ScopeKeys(scope, members, ScopeKeyUse::kLookup))) return e;
  if (!result.candidates.empty() && result.candidates.front().verdict == MachineVerdict::kSame) {
    const Candidate& c = result.candidates.front();
    return accept_change(
        c, Evidence::kJudgment,
        "the judgment: same machine (" + c.reason + "; risk " + OneIn(c.false_accept_probability) + ")");
  }
  // What history remembers of these identifiers: an earlier undecided
  // check-in, and when they first appeared.
  const std::string identifiers = Joined(members);
  Time first_seen = at;
  bool remembered = false;
  if (!result.candidates.empty()) {
    if (StoreError e = store_->FindUndecided(scope, identifiers, first_seen, remembered)) return e;
  }
  std::vector<const Candidate*> silent, alive, unsettled;
  for (const Candidate& c : result.candidates) {
    const Time quiet = at - c.last_check_in;
    // A machine that still showed its old identifiers after these first
    // appeared is alive beside them, however far apart the two check in.
    if (quiet <= policy_.overlap_window || (remembered && c.last_check_in > first_seen)) {
      alive.push_back(&c);
    } else if (quiet >= policy_.silence_window) {
      silent.push_back(&c);
    } else {
      unsettled.push_back(&c);
    }
  }
  const auto decided = [&]() -> StoreError {
    return remembered ? store_->ForgetUndecided(scope, identifiers) : StoreError{};
  };
  if (unsettled.empty() && silent.size() == 1) {
    const Candidate& c = *silent.front();
    if (StoreError e = decided()) return e;
    return accept_change(c, Evidence::kSilence,
                         "history: machine " + std::to_string(c.machine) + " fell silent " +
                             Days(at - c.last_check_in) + " before these identifiers appeared (" + c.explanation + ")");
  }
  if (!unsettled.empty() || silent.size() > 1) {
    result.outcome = CheckInOutcome::kUndecided;
    result.detail = silent.size() > 1 ? "several silent machines could each be this one after a change"
                                      : "a candidate checked in recently, but not recently enough to be beside it";
    if (remembered) result.detail += "; these identifiers first appeared " + TimeText(first_seen);
    const Candidate& c = unsettled.empty() ? *silent.front() : *unsettled.front();
    result.settle = "machine " + std::to_string(c.machine) +
                    " checking in again (it would be alive beside these identifiers: two machines), or staying "
                    "silent until " +
                    TimeText(c.last_check_in + policy_.silence_window) + " (one machine after a change)";
    return store_->RecordUndecided(scope, identifiers, at);
  }
  if (StoreError e = decided()) return e;

  // 4. A new machine: no candidate, or every candidate alive beside it.
  result.decided_by = alive.empty() ? Evidence::kJudgment : Evidence::kOverlap;
  std::int64_t used = 0;
  if (StoreError e = store_->CountMachines(scope, used)) return e;
  result.used = used;
  if (result.seats >= 0 && used >= result.seats) {
    result.outcome = CheckInOutcome::kRefusedNoSeat;
    result.detail = "a new machine, and all " + std::to_string(result.seats) + " seats are taken";
    return {};
  }
  MachineId id = 0;
  if (StoreError e = store_->AddMachine(scope, members, AllKeys(scope, members), at, id)) return e;
  result.outcome = CheckInOutcome::kActivated;
  result.machine = id;
  result.used = used + 1;
  result.detail = alive.empty() ? "no machine of the scope can be this one"
                                : "history: machine " + std::to_string(alive.front()->machine) +
                                      " checks in beside it: two machines";
  if (!alive.empty() && remembered) result.detail += " (these identifiers first appeared " + TimeText(first_seen) + ")";
  return store_->RecordSightings(id, members, at);
}

StoreError Registry::Identify(const std::vector<std::string>& texts, IdentifyResult& result, ReadBundle& read) {
  result = IdentifyResult{};
  read = ReadBundleTexts(texts);
  if (read.status != BundleStatus::kOk) return {};
  if (StoreError e = store_->Begin(TransactionKind::kRead)) return e;
  StoreError e = JudgeCandidates(read.members, GlobalKeys(read.members), result.candidates, nullptr);
  store_->Rollback();  // read only: nothing to keep
  return e;
}

StoreError Registry::History(MachineId id, MachineRecord& machine, bool& found) {
  if (StoreError e = store_->Begin(TransactionKind::kRead)) return e;
  StoreError e = store_->LoadMachine(id, machine, found);
  store_->Rollback();
  return e;
}

StoreError Registry::Audit(AuditResult& result) {
  result = AuditResult{};
  if (StoreError e = store_->Begin(TransactionKind::kRead)) return e;
  // Every machine first: an engine may stream the iteration, and the
  // lookups below are statements of their own.
  std::vector<MachineRecord> machines;
  StoreError e = store_->ForEachMachine([&](const MachineRecord& m) {
    machines.push_back(m);
    return true;
  });
  if (!e) e = store_->ForEachScope([&](const ScopeRecord&) { return ++result.scopes, true; });
  std::map<std::pair<std::string, std::string>, std::vector<Shown>> shown_by;
  for (const MachineRecord& m : machines) {
    if (e) break;
    ++result.machines;
    for (const Sighting& s : m.history) shown_by[{m.scope, s.text}].push_back({m.id, s.first_seen, s.last_seen});
    std::vector<Candidate> candidates;
    e = JudgeCandidates(m.current, GlobalKeys(m.current), candidates, nullptr);
    for (const Candidate& c : candidates) {
      if (c.machine <= m.id || c.scope == m.scope || c.verdict != MachineVerdict::kSame) continue;
      Candidate self;
      self.machine = m.id;
      self.scope = m.scope;
      self.last_check_in = m.last_check_in;
      self.verdict = MachineVerdict::kSame;
      self.false_accept_probability = c.false_accept_probability;
      result.across_scopes.push_back({self, c});
    }
  }
  store_->Rollback();
  for (const auto& [where, shown] : shown_by) {
    if (shown.size() < 2) continue;
    const Passing passing = PassingOf(shown);
    if (!Alternates(passing)) continue;
    std::set<MachineId> ids;
    for (const Shown& s : shown) ids.insert(s.machine);
    result.alternating.push_back({where.first, where.second, std::vector<MachineId>(ids.begin(), ids.end()),
                                  passing.handovers, passing.returns});
  }
  return e;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

StoreError Registry::Export(const std::function<bool(const std::string& line)>& write) {
  if (StoreError e = store_->Begin(TransactionKind::kRead)) return e;
  bool go_on = write("scope,machine,identifier,first_seen,last_seen");
  StoreError e;
  if (go_on) {
    e = store_->ForEachMachine([&](const MachineRecord& m) {
      for (const Sighting& s : m.history) {
        go_on = write(CsvField(m.scope) + "," + std::to_string(m.id) + "," + CsvField(s.text) + "," +
                      TimeText(s.first_seen) + "," + TimeText(s.last_seen));
        if (!go_on) break;
      }
      return go_on;
    });
  }
  store_->Rollback();
  return e;
}

namespace {

// The fields of one CSV line; quoted fields may hold commas and doubled
// quotes. False for an unterminated quote.
bool SplitCsv(const std::string& line, std::vector<std::string>& fields) {
  fields.assign(1, std::string());
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else if (c != '\r') {
      fields.back() += c;
    }
  }
  return !quoted;
}

}  // namespace

StoreError Registry::Import(const std::function<bool(std::string& line)>& read_line,
                            const std::function<void(const ImportProgress&)>& progress, ImportProgress& totals) {
  totals = ImportProgress{};
  std::string scope;
  Time at = 0;
  std::vector<std::string> bundle;
  std::int64_t bundle_lines = 0;
  const auto flush = [&]() -> StoreError {
    if (bundle.empty()) return {};
    CheckInResult result;
    if (StoreError e = CheckIn(scope, bundle, at, -1, result)) return e;
    const bool stored = result.outcome == CheckInOutcome::kKnownUnchanged ||
                        result.outcome == CheckInOutcome::kKnownChanged || result.outcome == CheckInOutcome::kActivated;
    (stored ? totals.imported : totals.refused) += bundle_lines;
    bundle.clear();
    bundle_lines = 0;
    return {};
  };
  std::string line;
  std::vector<std::string> fields;
  while (read_line(line)) {
    ++totals.lines;
    if (line.empty() || (totals.lines == 1 && line.rfind("scope,", 0) == 0)) continue;
    Time time = 0;
    if (!SplitCsv(line, fields) || fields.size() != 3 || !ParseTime(fields[2], time)) {
      ++totals.refused;
      continue;
    }
    if (!bundle.empty() && (fields[0] != scope || time != at)) {
      if (StoreError e = flush()) return e;
    }
    scope = fields[0];
    at = time;
    bundle.push_back(fields[1]);
    ++bundle_lines;
    if (totals.lines % 1000 == 0) progress(totals);
  }
  StoreError e = flush();
  progress(totals);
  return e;
}

namespace {

// Days since 1970-01-01 of a civil date (the proleptic Gregorian calendar).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

bool ParseTime(const std::string& text, Time& time) {
  if (text.empty()) return false;
  if (text.find_first_not_of("0123456789") == std::string::npos) {
    if (text.size() > 12) return false;
    time = std::stoll(text);
    return true;
  }
  unsigned year, month, day, hour, minute, second;
  char end = 0;
  if (text.size() != 20 ||
      std::sscanf(text.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u%c", &year, &month, &day, &hour, &minute, &second, &end) != 7 ||
      end != 'Z') {
    return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return false;
  time = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

std::string TimeText(Time time) {
  std::int64_t days = time / 86400, rest = time % 86400;
  if (rest < 0) rest += 86400, --days;
  // The inverse of DaysFromCivil.
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
  char text[40];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", static_cast<long long>(y), m, d,
                static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                static_cast<long long>(rest % 60));
  return text;
}

}  // namespace tavsn::registry
