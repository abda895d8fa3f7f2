// One licence-server process for the registry's concurrency and crash tests
// (tests/registry/test_registry_processes.py starts several at once and
// kills some):
//
//   registry_worker check-in LOCATION SCOPE SEATS FIRST COUNT
//       checks machines FIRST .. FIRST+COUNT-1 in under SCOPE through the
//       registry (SEATS < 0: the stored limit), one transaction each, and
//       prints "activated N" or "refused N" once each has committed,
//       flushed, so that whoever kills the process knows what was committed
//       before it died
//   registry_worker csv SCOPE FIRST COUNT
//       prints machines FIRST .. FIRST+COUNT-1 as `tavsn registry import`
//       reads them ("scope,identifier,time", one line per identifier)
//   registry_worker verify LOCATION
//       checks that every machine is whole (its two identifiers, their
//       sightings) and that identify finds it through its keys, and prints
//       "machines N", or the first fault and exits with 1
//
// Machine N shows the two identifiers of a call site (GetMacSN and
// GetPCSN) of an adapter address and a firmware serial of its own.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "registry/registry.h"
#include "server/test_records.h"

namespace tavsn::registry {
namespace {

constexpr Time kStart = 1800000000;

std::vector<std::string> BundleOf(std::int64_t n) {
  // Addresses spread over the space, as unrelated machines' are: adjacent
  // ones would look like the ports of one card (splitmix64's mixing).
  std::uint64_t mixed = static_cast<std::uint64_t>(n) + 0x9E3779B97F4A7C15ull;
  mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9ull;
  mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBull;
  mixed ^= mixed >> 31;
  char mac[13];
  std::snprintf(mac, sizeof mac, "00%010llX", static_cast<unsigned long long>(mixed >> 24));
  char serial[16];
  std::snprintf(serial, sizeof serial, "SN%010lld", static_cast<long long>(n));
  // A processor of its own too: two machines alike in it and unalike in
  // the rest could be one after a change of board and card.
  char processor[48];
  std::snprintf(processor, sizeof processor, "Example CPU-00000000-%08lld-%08lld", static_cast<long long>(n / 1000),
                static_cast<long long>(n % 1000));
  server::testing::MachineInputs in;
  in.mac = mac;
  in.processor = processor;
  in.firmware = server::testing::Firmware::kSerial;
  in.system_text = serial;
  return {server::testing::MacIdText(1, 1, mac, mac), server::testing::MachineIdText(in)};
}

int Fail(const char* doing, const StoreError& error) {
  std::fprintf(stderr, "registry_worker: %s: %s: %s\n", doing, StoreErrorKindName(error.kind), error.message.c_str());
  return 2;
}

int RunCheckIns(const std::string& location, const std::string& scope, std::int64_t seats, std::int64_t first,
                std::int64_t count) {
  std::unique_ptr<Registry> registry;
  if (StoreError error = Registry::Open(location, {}, registry)) return Fail("opening", error);
  for (std::int64_t n = first; n < first + count; ++n) {
    CheckInResult result;
    // A second apart, as a busy licence server sees them: machines alike
    // in a few facts that check in together are two machines, while one
    // that fell silent long before could be the same after a change.
    const Time at = kStart + (n - first);
    StoreError error = registry->CheckIn(scope, BundleOf(n), at, seats, result);
    // Busy is the one failure another process causes; the check-in is
    // tried again rather than counted as refused.
    for (int attempt = 0; error.kind == StoreErrorKind::kBusy && attempt < 20; ++attempt) {
      error = registry->CheckIn(scope, BundleOf(n), at, seats, result);
    }
    if (error) return Fail("checking in", error);
    if (result.outcome != CheckInOutcome::kActivated && result.outcome != CheckInOutcome::kRefusedNoSeat) {
      std::fprintf(stderr, "registry_worker: machine %lld: %s: %s\n", static_cast<long long>(n),
                   CheckInOutcomeName(result.outcome), result.detail.c_str());
      return 3;
    }
    std::printf("%s %lld\n", result.outcome == CheckInOutcome::kActivated ? "activated" : "refused",
                static_cast<long long>(n));
    std::fflush(stdout);
  }
  return 0;
}

std::string FaultOf(Registry& registry, const MachineRecord& machine) {
  const std::string name = "machine " + std::to_string(machine.id);
  if (machine.current.size() != 2) return name + " has " + std::to_string(machine.current.size()) + " identifiers";
  if (machine.history.size() != 2) return name + " has " + std::to_string(machine.history.size()) + " sightings";
  std::vector<std::string> texts;
  for (const MemberText& member : machine.current) texts.push_back(member.text);
  IdentifyResult found;
  ReadBundle read;
  if (StoreError error = registry.Identify(texts, found, read)) return name + ": identify: " + error.message;
  for (const Candidate& candidate : found.candidates) {
    if (candidate.machine == machine.id) return "";
  }
  return name + " is not found through its keys";
}

int PrintCsv(const std::string& scope, std::int64_t first, std::int64_t count) {
  std::printf("scope,identifier,time\n");
  for (std::int64_t n = first; n < first + count; ++n) {
    for (const std::string& text : BundleOf(n)) {
      std::printf("%s,%s,%lld\n", scope.c_str(), text.c_str(), static_cast<long long>(kStart + (n - first)));
    }
  }
  return 0;
}

int Verify(const std::string& location) {
  std::unique_ptr<Registry> registry;
  if (StoreError error = Registry::Open(location, {.create = false, .read_only = true}, registry)) {
    return Fail("opening", error);
  }
  std::vector<MachineRecord> machines;
  Store& store = registry->store();
  if (StoreError error = store.Begin(TransactionKind::kRead)) return Fail("reading", error);
  StoreError error = store.ForEachMachine([&](const MachineRecord& machine) {
    machines.push_back(machine);
    return true;
  });
  store.Rollback();
  if (error) return Fail("reading", error);
  for (const MachineRecord& machine : machines) {
    const std::string fault = FaultOf(*registry, machine);
    if (!fault.empty()) {
      std::fprintf(stderr, "registry_worker: %s\n", fault.c_str());
      return 1;
    }
  }
  std::printf("machines %zu\n", machines.size());
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
  if (args.size() == 4 && args[0] == "csv") {
    return tavsn::registry::PrintCsv(args[1], std::atoll(args[2].c_str()), std::atoll(args[3].c_str()));
  }
  if (args.size() == 2 && args[0] == "verify") return tavsn::registry::Verify(args[1]);
  std::fprintf(stderr,
               "usage: registry_worker check-in LOCATION SCOPE SEATS FIRST COUNT\n"
               "       registry_worker csv SCOPE FIRST COUNT\n"
               "       registry_worker verify LOCATION\n");
  return 2;
}
