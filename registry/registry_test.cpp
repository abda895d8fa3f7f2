// The registry's check-in outcomes, one table, run over every engine given:
// SQLite always; PostgreSQL when TAVSN_TEST_POSTGRESQL holds a location.
#include "registry/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "server/test_records.h"
#include "tests/registry/scratch_registry.h"

namespace tavsn::registry {
namespace {

using server::testing::Firmware;
using server::testing::MachineIdText;
using server::testing::MachineInputs;
using server::testing::MacIdText;

constexpr Time kStart = 1800000000;  // 2027-01-15
constexpr Time kHour = 3600, kDay = 24 * kHour;

struct TestMachine {
  const char* mac = "0A1B2C3D4E5F";
  const char* processor = "Example CPU-00000000-00000006-00000094";
  Firmware firmware = Firmware::kSerial;
  const char* system_text = "ABC123456789";
};

// The three identifiers of one call site.
std::vector<std::string> Bundle(const TestMachine& m) {
  MachineInputs in;
  in.mac = m.mac;
  in.processor = m.processor;
  in.firmware = m.firmware;
  in.system_text = m.system_text;
  MachineInputs ex = in;
  ex.firmware = Firmware::kSelfChecksum;
  return {MacIdText(1, 1, m.mac, m.mac), MachineIdText(in), MachineIdText(ex)};
}

const TestMachine kOffice = {};
const TestMachine kOfficeNewProcessor = {"0A1B2C3D4E5F", "Other CPU-00000000-00000006-00000158"};
const TestMachine kLab = {"001122334455", "Lab CPU-00000000-00000006-00000094", Firmware::kSerial, "XYZ987654321"};
const TestMachine kSpare = {"00AA22334455", "Lab CPU-00000000-00000006-00000094", Firmware::kSerial, "QQQ000111222"};
// A board whose firmware serial is a placeholder: after its only card is
// replaced, nothing strong is left in common.
const TestMachine kPlaceholder = {"001B21AABBCC", "Example CPU-00000000-00000006-00000094", Firmware::kSerial,
                                  "To be filled by O.E.M."};
const TestMachine kPlaceholderNewCard = {"3C970E112233", "Example CPU-00000000-00000006-00000094", Firmware::kSerial,
                                         "To be filled by O.E.M."};

struct Step {
  const char* scope;
  const TestMachine* machine;
  Time at;
  std::int64_t seats;
};

struct CheckInCase {
  const char* name;
  std::vector<Step> before;  // check-ins that must succeed first (activated, known unchanged or undecided)
  Step step;
  CheckInOutcome outcome;
  Evidence decided_by;
  std::size_t other_scopes = 0;
  double threshold = server::kDefaultFalseAcceptThreshold;
};

const std::vector<CheckInCase>& Cases() {
  static const std::vector<CheckInCase> cases = {
      {"first machine activated", {}, {"L1", &kOffice, kStart, 2}, CheckInOutcome::kActivated, Evidence::kJudgment},
      {"same identifiers again",
       {{"L1", &kOffice, kStart, 2}},
       {"L1", &kOffice, kStart + kDay, -1},
       CheckInOutcome::kKnownUnchanged,
       Evidence::kEqualIdentifiers},
      // A batch sibling's serial checksum agrees about 1 in 200: the default
      // threshold leaves this to history, a policy of 1% takes it.
      {"processor upgrade judged the same machine under a 1% threshold",
       {{"L1", &kOffice, kStart, 2}},
       {"L1", &kOfficeNewProcessor, kStart + kDay, -1},
       CheckInOutcome::kKnownChanged,
       Evidence::kJudgment,
       0,
       0.01},
      {"processor upgrade under the default threshold: undecided a day later",
       {{"L1", &kOffice, kStart, 2}},
       {"L1", &kOfficeNewProcessor, kStart + kDay, -1},
       CheckInOutcome::kUndecided,
       Evidence::kNone},
      {"second machine takes the second seat",
       {{"L1", &kOffice, kStart, 2}},
       {"L1", &kLab, kStart, -1},
       CheckInOutcome::kActivated,
       Evidence::kJudgment},
      {"third machine finds no seat",
       {{"L1", &kOffice, kStart, 2}, {"L1", &kLab, kStart, -1}},
       {"L1", &kSpare, kStart, -1},
       CheckInOutcome::kRefusedNoSeat,
       Evidence::kJudgment},
      {"card replaced, old identifiers silent for days: one machine",
       {{"L1", &kPlaceholder, kStart, 2}},
       {"L1", &kPlaceholderNewCard, kStart + 5 * kDay, -1},
       CheckInOutcome::kKnownChanged,
       Evidence::kSilence},
      {"old identifiers checked in minutes ago: two machines",
       {{"L1", &kPlaceholder, kStart, 2}},
       {"L1", &kPlaceholderNewCard, kStart + 10 * 60, -1},
       CheckInOutcome::kActivated,
       Evidence::kOverlap},
      {"old identifiers checked in a day ago: undecided",
       {{"L1", &kPlaceholder, kStart, 2}},
       {"L1", &kPlaceholderNewCard, kStart + kDay, -1},
       CheckInOutcome::kUndecided,
       Evidence::kNone},
      // Two machines checking in once a day, hours apart: the old one is
      // seen after the newcomer's identifiers first appeared.
      {"old identifiers seen after the undecided ones first appeared: two machines",
       {{"L1", &kPlaceholder, kStart, 2},
        {"L1", &kPlaceholderNewCard, kStart + 6 * kHour, -1},
        {"L1", &kPlaceholder, kStart + kDay, -1}},
       {"L1", &kPlaceholderNewCard, kStart + kDay + 6 * kHour, -1},
       CheckInOutcome::kActivated,
       Evidence::kOverlap},
      {"undecided at first, old identifiers silent since: one machine",
       {{"L1", &kPlaceholder, kStart, 2}, {"L1", &kPlaceholderNewCard, kStart + 6 * kHour, -1}},
       {"L1", &kPlaceholderNewCard, kStart + 4 * kDay, -1},
       CheckInOutcome::kKnownChanged,
       Evidence::kSilence},
      {"machine of another licence: activated and reported",
       {{"L1", &kOffice, kStart, 2}},
       {"L2", &kOffice, kStart + kHour, 1},
       CheckInOutcome::kActivated,
       Evidence::kJudgment,
       1},
  };
  return cases;
}

// Every engine always, so that ctest lists the PostgreSQL cases too; they
// skip where no test cluster was started.
std::vector<std::string> Engines() { return {"sqlite", "postgresql"}; }

// A registry of its own: a new SQLite file, or a new database in the test
// cluster (tests/registry/scratch_registry.h), so that no case sees
// another's machines.
class EngineRegistry {
 public:
  explicit EngineRegistry(const std::string& engine) : scratch_(engine) {}
  ~EngineRegistry() { registry_.reset(); }
  Registry& Get() {
    if (!registry_) {
      const StoreError e = Registry::Open(location(), {}, registry_);
      EXPECT_TRUE(e.ok()) << e.message;
    }
    return *registry_;
  }
  std::string Scope(const char* scope) const { return scope; }
  // Each case has a registry of its own on every engine: no other run's
  // machines are in it, so every answer can be checked exactly.
  bool shared() const { return false; }
  const std::string& location() const { return scratch_.location(); }

 private:
  testing::ScratchRegistry scratch_;
  std::unique_ptr<Registry> registry_;
};

class CheckInTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "postgresql" && testing::TestPostgresqlLocation().empty()) {
      GTEST_SKIP() << "TAVSN_TEST_POSTGRESQL names no test cluster";
    }
  }
};

TEST_P(CheckInTest, OutcomesFollowJudgmentSeatsAndHistory) {
  for (const CheckInCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    EngineRegistry engine(GetParam());
    Registry& registry = engine.Get();
    RegistryPolicy policy;
    policy.judgment.threshold = c.threshold;
    registry.set_policy(policy);
    CheckInResult result;
    for (const Step& s : c.before) {
      ASSERT_TRUE(registry.CheckIn(engine.Scope(s.scope), Bundle(*s.machine), s.at, s.seats, result).ok());
      // Undecided check-ins are history too.
      ASSERT_TRUE(result.outcome == CheckInOutcome::kActivated || result.outcome == CheckInOutcome::kKnownUnchanged ||
                  result.outcome == CheckInOutcome::kUndecided);
    }
    const StoreError e =
        registry.CheckIn(engine.Scope(c.step.scope), Bundle(*c.step.machine), c.step.at, c.step.seats, result);
    ASSERT_TRUE(e.ok()) << e.message;
    EXPECT_EQ(CheckInOutcomeName(result.outcome), std::string(CheckInOutcomeName(c.outcome))) << result.detail;
    EXPECT_EQ(EvidenceName(result.decided_by), std::string(EvidenceName(c.decided_by))) << result.detail;
    if (engine.shared()) {
      EXPECT_GE(result.other_scopes.size(), c.other_scopes);
    } else {
      EXPECT_EQ(result.other_scopes.size(), c.other_scopes);
    }
    if (c.outcome == CheckInOutcome::kUndecided) {
      EXPECT_FALSE(result.settle.empty());
      EXPECT_FALSE(result.candidates.empty());
    }
  }
}

TEST_P(CheckInTest, RefusesWhatTheDllNeverWritesAndWritesNothing) {
  EngineRegistry engine(GetParam());
  Registry& registry = engine.Get();
  CheckInResult result;
  ASSERT_TRUE(registry.CheckIn(engine.Scope("L1"), {"TQ11XYZ"}, kStart, 3, result).ok());
  EXPECT_EQ(result.outcome, CheckInOutcome::kRefusedNotDll);
  // GetMacSN of one machine with GetPCSN of another.
  ASSERT_TRUE(registry.CheckIn(engine.Scope("L1"), {Bundle(kOffice)[0], Bundle(kLab)[1]}, kStart, 3, result).ok());
  EXPECT_EQ(result.outcome, CheckInOutcome::kRefusedInconsistent);
  std::int64_t count = -1;
  ASSERT_TRUE(registry.store().Begin(TransactionKind::kRead).ok());
  ASSERT_TRUE(registry.store().CountMachines(engine.Scope("L1"), count).ok());
  registry.store().Rollback();
  EXPECT_EQ(count, 0);
}

// Scopes and identifiers are data, never SQL: texts that would break a
// query built by pasting come back byte for byte.
TEST_P(CheckInTest, HostileScopesAreStoredAsGiven) {
  EngineRegistry engine(GetParam());
  Registry& registry = engine.Get();
  const std::string hostile[] = {"'; DROP TABLE machines; --",   "\" OR 1=1 --",
                                 "scope\nwith,newline\"quote",   "\xC3\x28 not utf-8",
                                 std::string("nul\0inside", 10), "%_\\ like-patterns"};
  const TestMachine* machines[] = {&kOffice, &kLab, &kSpare, &kPlaceholder, &kPlaceholderNewCard, &kOfficeNewProcessor};
  for (std::size_t i = 0; i < std::size(hostile); ++i) {
    CheckInResult result;
    const std::string scope = engine.Scope("") + hostile[i];
    ASSERT_TRUE(registry.CheckIn(scope, Bundle(*machines[i]), kStart, 1, result).ok()) << i;
    ASSERT_EQ(result.outcome, CheckInOutcome::kActivated) << i;
    MachineRecord machine;
    bool found = false;
    ASSERT_TRUE(registry.History(result.machine, machine, found).ok());
    ASSERT_TRUE(found);
    EXPECT_EQ(machine.scope, scope);
    EXPECT_EQ(machine.history.size(), 3u);
  }
  // A hostile identifier is refused before any SQL.
  CheckInResult result;
  ASSERT_TRUE(registry.CheckIn(engine.Scope("L"), {"TQ12'); DELETE FROM scopes; --"}, kStart, 1, result).ok());
  EXPECT_EQ(result.outcome, CheckInOutcome::kRefusedNotDll);
}

TEST_P(CheckInTest, IdentifyFindsTheMachineUnderEveryScope) {
  EngineRegistry engine(GetParam());
  if (engine.shared()) GTEST_SKIP() << "identify and audit see every scope: needs a database of its own";
  Registry& registry = engine.Get();
  CheckInResult result;
  ASSERT_TRUE(registry.CheckIn(engine.Scope("A"), Bundle(kOffice), kStart, -1, result).ok());
  ASSERT_TRUE(registry.CheckIn(engine.Scope("B"), Bundle(kOffice), kStart + kHour, -1, result).ok());
  ASSERT_TRUE(registry.CheckIn(engine.Scope("B"), Bundle(kLab), kStart, -1, result).ok());
  IdentifyResult found;
  ReadBundle read;
  ASSERT_TRUE(registry.Identify(Bundle(kOffice), found, read).ok());
  ASSERT_EQ(found.candidates.size(), 2u);
  EXPECT_EQ(found.candidates[0].verdict, server::MachineVerdict::kSame);
  EXPECT_EQ(found.candidates[1].verdict, server::MachineVerdict::kSame);
  AuditResult audit;
  ASSERT_TRUE(registry.Audit(audit).ok());
  EXPECT_EQ(audit.machines, 3);
  ASSERT_EQ(audit.across_scopes.size(), 1u);
  EXPECT_EQ(audit.across_scopes[0].first.scope, engine.Scope("A"));
  EXPECT_EQ(audit.across_scopes[0].second.scope, engine.Scope("B"));
}

// An adapter passed from one machine of a scope to another and back is
// flagged; a card moved once to another machine is not.
TEST_P(CheckInTest, AuditFlagsAdaptersPassedBackAndForth) {
  EngineRegistry engine(GetParam());
  if (engine.shared()) GTEST_SKIP() << "audit sees every scope: needs a database of its own";
  Registry& registry = engine.Get();
  Store& store = registry.store();
  const std::vector<MemberText> office = ReadBundleTexts(Bundle(kOffice)).members;
  const std::vector<MemberText> lab = ReadBundleTexts(Bundle(kLab)).members;
  const MemberText& card = office[0];  // GetMacSN of the office's adapter
  ASSERT_TRUE(store.Begin(TransactionKind::kWrite).ok());
  for (const char* scope : {"passed", "moved"}) {
    ScopeRecord record;
    MachineId first = 0, second = 0;
    ASSERT_TRUE(store.LockScope(scope, record).ok());
    ASSERT_TRUE(store.AddMachine(scope, office, AllKeys(scope, office), kStart, first).ok());
    ASSERT_TRUE(store.RecordSighting(first, card, kStart).ok());
    ASSERT_TRUE(store.AddMachine(scope, lab, AllKeys(scope, lab), kStart + kDay, second).ok());
    ASSERT_TRUE(store.RecordSighting(second, card, kStart + kDay).ok());
    // Back in the first machine, or never seen there again.
    if (std::string(scope) == "passed") {
      ASSERT_TRUE(store.RecordSighting(first, card, kStart + 2 * kDay).ok());
    }
  }
  ASSERT_TRUE(store.Commit().ok());
  AuditResult audit;
  ASSERT_TRUE(registry.Audit(audit).ok());
  ASSERT_EQ(audit.alternating.size(), 1u);
  EXPECT_EQ(audit.alternating[0].scope, "passed");
  EXPECT_EQ(audit.alternating[0].identifier, card.text);
  EXPECT_EQ(audit.alternating[0].machines, (std::vector<MachineId>{1, 2}));
  EXPECT_EQ(audit.alternating[0].handovers, 2);
  EXPECT_EQ(audit.alternating[0].returns, 1);
}

TEST_P(CheckInTest, ExportThenImportGivesTheSameMachines) {
  EngineRegistry engine(GetParam());
  if (engine.shared()) GTEST_SKIP() << "export writes every scope: needs a database of its own";
  Registry& registry = engine.Get();
  CheckInResult result;
  ASSERT_TRUE(registry.CheckIn(engine.Scope("A,1"), Bundle(kOffice), kStart, -1, result).ok());
  ASSERT_TRUE(registry.CheckIn(engine.Scope("A,1"), Bundle(kLab), kStart + kHour, -1, result).ok());
  std::vector<std::string> lines;
  ASSERT_TRUE(registry.Export([&](const std::string& line) { return lines.push_back(line), true; }).ok());
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "scope,machine,identifier,first_seen,last_seen");

  EngineRegistry other(GetParam());
  std::vector<std::string> csv = {"scope,identifier,time"};
  for (std::size_t i = 1; i < lines.size(); ++i) {
    // scope,machine,identifier,first,last -> scope,identifier,first
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (char ch : lines[i]) {
      if (ch == '"') quoted = !quoted;
      if (ch == ',' && !quoted) {
        fields.push_back(field);
        field.clear();
      } else {
        field += ch;
      }
    }
    fields.push_back(field);
    csv.push_back(fields[0] + "," + fields[2] + "," + fields[3]);
  }
  std::size_t next = 0;
  ImportProgress totals;
  ASSERT_TRUE(other.Get()
                  .Import([&](std::string& line) { return next < csv.size() ? (line = csv[next++], true) : false; },
                          [](const ImportProgress&) {}, totals)
                  .ok());
  EXPECT_EQ(totals.imported, 6);
  EXPECT_EQ(totals.refused, 0);
  std::int64_t count = 0;
  ASSERT_TRUE(other.Get().store().Begin(TransactionKind::kRead).ok());
  ASSERT_TRUE(other.Get().store().CountMachines(engine.Scope("A,1"), count).ok());
  other.Get().store().Rollback();
  EXPECT_EQ(count, 2);
}

INSTANTIATE_TEST_SUITE_P(Engines, CheckInTest, ::testing::ValuesIn(Engines()));

TEST(RegistryTimeTest, ReadsAndWritesUtcTimes) {
  const struct {
    const char* text;
    Time time;
  } cases[] = {{"0", 0}, {"1970-01-01T00:00:00Z", 0}, {"2026-12-09T13:40:49Z", 1796823649}, {"1800000000", 1800000000}};
  for (const auto& c : cases) {
    Time time = -1;
    ASSERT_TRUE(ParseTime(c.text, time)) << c.text;
    EXPECT_EQ(time, c.time) << c.text;
  }
  EXPECT_EQ(TimeText(1796823649), "2026-12-09T13:40:49Z");
  Time ignored;
  for (const char* bad : {"", "-5", "2026-13-01T00:00:00Z", "2026-12-09 13:40:49", "tomorrow"}) {
    EXPECT_FALSE(ParseTime(bad, ignored)) << bad;
  }
}

}  // namespace
}  // namespace tavsn::registry
