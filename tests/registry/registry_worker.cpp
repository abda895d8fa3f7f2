// One licence-server process for the registry's concurrency and crash tests
// (tests/registry/test_registry_processes.py starts several at once and
// kills some):
//
//   registry_worker check-in LOCATION SCOPE SEATS FIRST COUNT
//       checks in machines FIRST .. FIRST+COUNT-1 under SCOPE (SEATS < 0: no
//       limit), one transaction each, and prints "activated N" or "refused N"
//       once each has committed, flushed, so that whoever kills the process
//       knows what was committed before it died
//   registry_worker verify LOCATION
//       checks that every machine is whole (its identifiers, their
//       sightings, found through its keys) and prints "machines N", or the
//       first fault and exits with 1
//
// Machine N shows two identifiers, "machine N adapter" and "machine N
// board", whose keys are 2N and 2N+1.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "registry/store.h"

namespace tavsn::registry {
namespace {

std::vector<MemberText> IdentifiersOf(std::int64_t n) {
  return {{0, "machine " + std::to_string(n) + " adapter"}, {1, "machine " + std::to_string(n) + " board"}};
}
std::vector<LookupKey> KeysOf(std::int64_t n) { return {2 * n, 2 * n + 1}; }

int Fail(const char* doing, const StoreError& error) {
  std::fprintf(stderr, "registry_worker: %s: %s: %s\n", doing, StoreErrorKindName(error.kind), error.message.c_str());
  return 2;
}

// One check-in as the registry makes it: the scope's lock, its count of
// machines, the new machine and its sightings, in one transaction.
StoreError CheckIn(Store& store, const std::string& scope, std::int64_t seats, std::int64_t n, bool& activated) {
  activated = false;
  if (StoreError error = store.Begin(TransactionKind::kWrite)) return error;
  ScopeRecord record;
  StoreError error = store.LockScope(scope, record);
  if (!error && record.seats != seats) error = store.SetSeats(scope, seats);
  std::int64_t count = 0;
  if (!error) error = store.CountMachines(scope, count);
  if (!error && (seats < 0 || count < seats)) {
    MachineId id = 0;
    const std::vector<MemberText> identifiers = IdentifiersOf(n);
    error = store.AddMachine(scope, identifiers, KeysOf(n), n, id);
    for (const MemberText& identifier : identifiers) {
      if (!error) error = store.RecordSighting(id, identifier, n);
    }
    activated = !error;
  }
  if (!error) error = store.Commit();
  if (error) {
    store.Rollback();
    activated = false;
  }
  return error;
}

int RunCheckIns(const std::string& location, const std::string& scope, std::int64_t seats, std::int64_t first,
                std::int64_t count) {
  std::unique_ptr<Store> store;
  if (StoreError error = OpenStore(location, {}, store)) return Fail("opening", error);
  for (std::int64_t n = first; n < first + count; ++n) {
    bool activated = false;
    StoreError error = CheckIn(*store, scope, seats, n, activated);
    // Busy is the one failure another process causes; the check-in is
    // tried again rather than counted as refused.
    for (int attempt = 0; error.kind == StoreErrorKind::kBusy && attempt < 20; ++attempt) {
      error = CheckIn(*store, scope, seats, n, activated);
    }
    if (error) return Fail("checking in", error);
    std::printf("%s %lld\n", activated ? "activated" : "refused", static_cast<long long>(n));
    std::fflush(stdout);
  }
  return 0;
}

bool IsWhole(Store& store, const MachineRecord& machine, std::string& fault) {
  const std::string& first = machine.current.empty() ? std::string() : machine.current[0].text;
  const std::int64_t n = std::atoll(first.c_str() + std::min<std::size_t>(first.size(), 8));
  const std::vector<MemberText> expected = IdentifiersOf(n);
  if (machine.current.size() != expected.size() || machine.current[0].text != expected[0].text ||
      machine.current[1].text != expected[1].text) {
    fault = "machine " + std::to_string(machine.id) + " has not its two identifiers";
    return false;
  }
  if (machine.history.size() != expected.size()) {
    fault = "machine " + std::to_string(machine.id) + " has " + std::to_string(machine.history.size()) + " sightings";
    return false;
  }
  for (LookupKey key : KeysOf(n)) {
    std::vector<MachineId> found;
    if (store.FindCandidates({key}, found) || found != std::vector<MachineId>{machine.id}) {
      fault = "machine " + std::to_string(machine.id) + " is not found through key " + std::to_string(key);
      return false;
    }
  }
  return true;
}

int Verify(const std::string& location) {
  std::unique_ptr<Store> store;
  if (StoreError error = OpenStore(location, {.create = false, .read_only = true}, store)) {
    return Fail("opening", error);
  }
  if (StoreError error = store->Begin(TransactionKind::kRead)) return Fail("reading", error);
  std::int64_t machines = 0;
  std::string fault;
  StoreError error = store->ForEachMachine([&](const MachineRecord& machine) {
    ++machines;
    return IsWhole(*store, machine, fault);
  });
  if (error) return Fail("reading", error);
  store->Rollback();
  if (!fault.empty()) {
    std::fprintf(stderr, "registry_worker: %s\n", fault.c_str());
    return 1;
  }
  std::printf("machines %lld\n", static_cast<long long>(machines));
  return 0;
}

}  // namespace
}  // namespace tavsn::registry

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 6 && args[0] == "check-in") {
    return tavsn::registry::RunCheckIns(args[1], args[2], std::atoll(args[3].c_str()), std::atoll(args[4].c_str()),
                                        std::atoll(args[5].c_str()));
  }
  if (args.size() == 2 && args[0] == "verify") return tavsn::registry::Verify(args[1]);
  std::fprintf(stderr,
               "usage: registry_worker check-in LOCATION SCOPE SEATS FIRST COUNT\n"
               "       registry_worker verify LOCATION\n");
  return 2;
}
