// What every engine of registry/store.h must do alike, run on each real
// engine, and what only PostgreSQL's connection can do wrong.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "registry/store.h"
#include "tests/registry/scratch_registry.h"

namespace tavsn::registry {
namespace {

using testing::RunAdminStatement;
using testing::ScratchRegistry;

std::unique_ptr<Store> Open(const std::string& location, StoreOptions options = {}) {
  std::unique_ptr<Store> store;
  const StoreError error = OpenStore(location, options, store);
  EXPECT_TRUE(error.ok()) << StoreErrorKindName(error.kind) << ": " << error.message;
  return store;
}

// One machine checked in by hand, in its own transaction.
MachineId AddOne(Store& store, const std::string& scope, const std::vector<MemberText>& current,
                 const std::vector<LookupKey>& keys, Time at) {
  MachineId id = 0;
  ScopeRecord record;
  EXPECT_TRUE(store.Begin(TransactionKind::kWrite).ok());
  EXPECT_TRUE(store.LockScope(scope, record).ok());
  EXPECT_TRUE(store.AddMachine(scope, current, keys, at, id).ok());
  for (const MemberText& member : current) EXPECT_TRUE(store.RecordSighting(id, member, at).ok());
  EXPECT_TRUE(store.Commit().ok());
  return id;
}

std::int64_t Count(Store& store, const std::string& scope) {
  std::int64_t count = -1;
  EXPECT_TRUE(store.Begin(TransactionKind::kRead).ok());
  EXPECT_TRUE(store.CountMachines(scope, count).ok());
  EXPECT_TRUE(store.Commit().ok());
  return count;
}

class StoreEngineTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (registry_.location().empty()) GTEST_SKIP() << registry_.skip_reason();
    store_ = Open(registry_.location());
    ASSERT_TRUE(store_);
  }

  ScratchRegistry registry_{GetParam()};
  std::unique_ptr<Store> store_;
};

// Two writers under one scope: the second counts the scope's machines only
// after the first has committed, so both never see the last free seat.
TEST_P(StoreEngineTest, ScopeLockHoldsTheSecondWriterUntilTheFirstCommits) {
  AddOne(*store_, "licence", {{0, "first"}}, {1}, 100);
  std::unique_ptr<Store> other = Open(registry_.location());
  ASSERT_TRUE(other);

  ScopeRecord record;
  ASSERT_TRUE(store_->Begin(TransactionKind::kWrite).ok());
  ASSERT_TRUE(store_->LockScope("licence", record).ok());
  MachineId id = 0;
  ASSERT_TRUE(store_->AddMachine("licence", {{0, "second"}}, {2}, 200, id).ok());

  auto second = std::async(std::launch::async, [&] {
    ScopeRecord seen;
    std::int64_t count = -1;
    if (other->Begin(TransactionKind::kWrite) || other->LockScope("licence", seen) ||
        other->CountMachines("licence", count)) {
      return std::int64_t{-1};
    }
    other->Rollback();
    return count;
  });
  EXPECT_EQ(second.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
      << "the second writer went past the scope's lock while the first held it";
  ASSERT_TRUE(store_->Commit().ok());
  EXPECT_EQ(second.get(), 2);
}

TEST_P(StoreEngineTest, SizeIsReadInsideOrOutsideATransaction) {
  AddOne(*store_, "licence", {{0, "first"}}, {1}, 100);
  std::int64_t outside = 0, inside = 0;
  ASSERT_TRUE(store_->SizeInBytes(outside).ok());
  ASSERT_TRUE(store_->Begin(TransactionKind::kRead).ok());
  ASSERT_TRUE(store_->SizeInBytes(inside).ok());
  store_->Rollback();
  EXPECT_GT(outside, 0);
  EXPECT_EQ(inside, outside);
}

TEST_P(StoreEngineTest, AnOpenTransactionIsRolledBackWhenTheStoreCloses) {
  ScopeRecord record;
  MachineId id = 0;
  ASSERT_TRUE(store_->Begin(TransactionKind::kWrite).ok());
  ASSERT_TRUE(store_->LockScope("licence", record).ok());
  ASSERT_TRUE(store_->AddMachine("licence", {{0, "never committed"}}, {5}, 100, id).ok());
  store_.reset();
  store_ = Open(registry_.location());
  EXPECT_EQ(Count(*store_, "licence"), 0);
}

// A check-in's batch load answers what one load per machine answers: the
// machines found, in the order asked, numbers no machine has left out.
TEST_P(StoreEngineTest, LoadingSeveralMachinesAnswersAsLoadingEachOne) {
  const MachineId a = AddOne(*store_, "licence", {{1, "a-pcsn"}, {0, "a-mac"}}, {1, 2}, 100);
  const MachineId b = AddOne(*store_, "other", {{2, "b-pcsnex"}}, {2}, 200);
  const MachineId none = b + 1000;
  const struct {
    std::vector<MachineId> asked;
    std::vector<MachineId> found;
  } cases[] = {
      {{}, {}}, {{a}, {a}}, {{b, a}, {b, a}}, {{none}, {}}, {{a, none, b}, {a, b}},
  };
  ASSERT_TRUE(store_->Begin(TransactionKind::kRead).ok());
  for (const auto& c : cases) {
    std::vector<MachineRecord> machines;
    ASSERT_TRUE(store_->LoadCurrents(c.asked, machines).ok());
    ASSERT_EQ(machines.size(), c.found.size());
    for (std::size_t i = 0; i < machines.size(); ++i) {
      MachineRecord one;
      bool found = false;
      ASSERT_TRUE(store_->LoadCurrent(c.found[i], one, found).ok());
      ASSERT_TRUE(found);
      EXPECT_EQ(machines[i].id, c.found[i]);
      EXPECT_EQ(machines[i].scope, one.scope);
      EXPECT_EQ(machines[i].activated, one.activated);
      EXPECT_EQ(machines[i].last_check_in, one.last_check_in);
      ASSERT_EQ(machines[i].current.size(), one.current.size());
      for (std::size_t m = 0; m < one.current.size(); ++m) {
        EXPECT_EQ(machines[i].current[m].member, one.current[m].member);
        EXPECT_EQ(machines[i].current[m].text, one.current[m].text);
      }
      EXPECT_TRUE(machines[i].history.empty());
    }
  }
  store_->Rollback();
}

// One check-in's sightings at once: new ones added, known ones widened,
// and the machine's last check-in moved forward only.
TEST_P(StoreEngineTest, RecordingSightingsTogetherWidensThemAndMovesTheCheckInForward) {
  const MachineId id = AddOne(*store_, "licence", {{1, "pcsn"}}, {1}, 500);
  const struct {
    Time at;
    Time last_check_in;
    Time pcsn_first, pcsn_last;
  } cases[] = {{700, 700, 500, 700}, {300, 700, 300, 700}, {800, 800, 300, 800}};
  for (const auto& c : cases) {
    ASSERT_TRUE(store_->Begin(TransactionKind::kWrite).ok());
    ASSERT_TRUE(store_->RecordSightings(id, {{1, "pcsn"}, {0, "mac"}}, c.at).ok());
    ASSERT_TRUE(store_->Commit().ok());
    MachineRecord machine;
    bool found = false;
    ASSERT_TRUE(store_->Begin(TransactionKind::kRead).ok());
    ASSERT_TRUE(store_->LoadMachine(id, machine, found).ok());
    store_->Rollback();
    ASSERT_TRUE(found);
    EXPECT_EQ(machine.last_check_in, c.last_check_in) << c.at;
    ASSERT_EQ(machine.history.size(), 2u);
    for (const Sighting& s : machine.history) {
      if (s.text == "pcsn") {
        EXPECT_EQ(s.first_seen, c.pcsn_first) << c.at;
        EXPECT_EQ(s.last_seen, c.pcsn_last) << c.at;
      }
    }
  }
}

// A registry of schema version 1 (before undecided check-ins were kept) is
// read as it is, and upgraded, keeping its machines, when opened for
// writing.
TEST_P(StoreEngineTest, AnOlderRegistryIsReadAsItIsAndUpgradedForWriting) {
  AddOne(*store_, "licence", {{0, "kept"}}, {5}, 100);
  store_.reset();
  ASSERT_EQ(
      RunAdminStatement(registry_.location(), "DROP TABLE undecided_check_ins; UPDATE schema_version SET version = 1"),
      "");
  std::unique_ptr<Store> reader = Open(registry_.location(), {.read_only = true});
  ASSERT_TRUE(reader);
  EXPECT_EQ(Count(*reader, "licence"), 1);
  reader.reset();

  store_ = Open(registry_.location());
  ASSERT_TRUE(store_);
  EXPECT_EQ(Count(*store_, "licence"), 1);
  ScopeRecord record;
  Time first_seen = 0;
  bool found = true;
  ASSERT_TRUE(store_->Begin(TransactionKind::kWrite).ok());
  ASSERT_TRUE(store_->LockScope("licence", record).ok());
  ASSERT_TRUE(store_->RecordUndecided("licence", "TQ11 TQ12", 300).ok());
  ASSERT_TRUE(store_->RecordUndecided("licence", "TQ11 TQ12", 200).ok());
  ASSERT_TRUE(store_->FindUndecided("licence", "TQ11 TQ12", first_seen, found).ok());
  EXPECT_TRUE(found);
  EXPECT_EQ(first_seen, 200);
  ASSERT_TRUE(store_->ForgetUndecided("licence", "TQ11 TQ12").ok());
  ASSERT_TRUE(store_->FindUndecided("licence", "TQ11 TQ12", first_seen, found).ok());
  EXPECT_FALSE(found);
  ASSERT_TRUE(store_->Commit().ok());
  store_.reset();
  // Upgraded once: had the version stayed 1, the upgrade would run again
  // and fail on the table it made.
  EXPECT_TRUE(Open(registry_.location()));
}

INSTANTIATE_TEST_SUITE_P(Engines, StoreEngineTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return std::string(info.param); });

class PostgresqlStoreTest : public StoreEngineTest {
 protected:
  // Ends the registry's sessions on this test's database, as an
  // administrator or a server restart would.
  void EndSessions() {
    ASSERT_EQ(RunAdminStatement("", "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
                                        registry_.name() + "' AND pid <> pg_backend_pid()"),
              "");
  }
};

TEST_P(PostgresqlStoreTest, AConnectionEndedMidTransactionRollsBackAndIsReportedAsLost) {
  ScopeRecord record;
  MachineId id = 0;
  ASSERT_TRUE(store_->Begin(TransactionKind::kWrite).ok());
  ASSERT_TRUE(store_->LockScope("licence", record).ok());
  ASSERT_TRUE(store_->AddMachine("licence", {{0, "half written"}}, {5}, 100, id).ok());
  EndSessions();
  const StoreError lost = store_->RecordSighting(id, {0, "half written"}, 100);
  EXPECT_EQ(lost.kind, StoreErrorKind::kConnectionLost) << lost.message;
  EXPECT_EQ(store_->Commit().kind, StoreErrorKind::kConnectionLost);
  store_->Rollback();
  // The next transaction connects again, and nothing of the lost one is there.
  EXPECT_EQ(Count(*store_, "licence"), 0);
  AddOne(*store_, "licence", {{0, "after"}}, {6}, 200);
  EXPECT_EQ(Count(*store_, "licence"), 1);
}

TEST_P(PostgresqlStoreTest, AConnectionEndedBetweenTransactionsIsMadeAgainOnce) {
  AddOne(*store_, "licence", {{0, "before"}}, {5}, 100);
  EndSessions();
  EXPECT_EQ(Count(*store_, "licence"), 1);
}

TEST_P(PostgresqlStoreTest, AFailedStatementNeverCommits) {
  ScopeRecord record;
  MachineId id = 0;
  ASSERT_TRUE(store_->Begin(TransactionKind::kWrite).ok());
  ASSERT_TRUE(store_->LockScope("licence", record).ok());
  // Two identifiers for one member kind: the table's key refuses it.
  EXPECT_FALSE(store_->AddMachine("licence", {{0, "a"}, {0, "b"}}, {5}, 100, id).ok());
  EXPECT_FALSE(store_->Commit().ok());
  EXPECT_EQ(Count(*store_, "licence"), 0);
}

struct OpenFailure {
  const char* name;
  const char* statement;  // run on the test's registry first; null: none
  std::string location;   // "" the test's registry
  StoreOptions options;
  StoreErrorKind kind;
};

TEST_P(PostgresqlStoreTest, EachOpeningFailureHasItsKind) {
  const std::string cluster = testing::TestPostgresqlLocation();
  const std::string missing = cluster.substr(0, cluster.find('?')) + "_missing" + cluster.substr(cluster.find('?'));
  const std::vector<OpenFailure> cases = {
      {"no such database", nullptr, missing, {}, StoreErrorKind::kNotFound},
      {"no server", nullptr, "postgresql:///tavsn?host=/nonexistent", {}, StoreErrorKind::kConnectionLost},
      {"a registry of a newer tavsn", "UPDATE schema_version SET version = 99", "", {}, StoreErrorKind::kNewerSchema},
      {"a registry table dropped",
       "UPDATE schema_version SET version = 1; DROP TABLE undecided_check_ins; DROP TABLE changes",
       "",
       {},
       StoreErrorKind::kDamaged},
  };
  for (const OpenFailure& failure : cases) {
    SCOPED_TRACE(failure.name);
    const std::string location = failure.location.empty() ? registry_.location() : failure.location;
    if (failure.statement) {
      ASSERT_EQ(RunAdminStatement(registry_.location(), failure.statement), "");
    }
    std::unique_ptr<Store> store;
    const StoreError error = OpenStore(location, failure.options, store);
    EXPECT_EQ(error.kind, failure.kind) << error.message;
    EXPECT_FALSE(store);
  }
}

TEST_P(PostgresqlStoreTest, AReadOnlyOpeningNeitherMakesNorWrites) {
  ScratchRegistry empty("postgresql");
  std::unique_ptr<Store> store;
  EXPECT_EQ(OpenStore(empty.location(), {.read_only = true}, store).kind, StoreErrorKind::kNotFound);
  store = Open(registry_.location(), {.read_only = true});
  ASSERT_TRUE(store);
  EXPECT_EQ(store->Begin(TransactionKind::kWrite).kind, StoreErrorKind::kReadOnly);
  EXPECT_EQ(Count(*store, "licence"), 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, PostgresqlStoreTest, ::testing::Values("postgresql"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace tavsn::registry
