// tavsn_registry_bench: the registry's speed and size on a generated fleet,
// with a linear scan by the library's judgment beside it in the same run.
// Figures, not a pass/fail test.
//
//   tavsn_registry_bench [MACHINES] [LOCATION]
//
// MACHINES (default 100000) are checked in one transaction each under
// scopes of 100; then known machines check in again (unchanged, and after
// one or two benign events), and identify looks up machines of the fleet.
// LOCATION is a registry location (default a scratch SQLite file); a
// PostgreSQL one must be an empty database of its own.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "registry/registry.h"
#include "tests/bench/registry_fleet.h"

namespace {

using namespace tavsn::registry;
using namespace tavsn::registry_fleet;

double CpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Latencies {
  std::vector<double> micros;
  double cpu = 0, wall = 0;
  void Print(const char* name) {
    std::sort(micros.begin(), micros.end());
    const auto at = [&](double q) { return micros[static_cast<std::size_t>(q * (micros.size() - 1))]; };
    std::printf("%-34s %9zu calls  median %8.1f us  p99 %8.1f us  %9.0f per CPU-second  %9.0f per second\n", name,
                micros.size(), at(0.5), at(0.99), micros.size() / cpu, micros.size() / wall);
  }
};

template <typename Call>
void Measure(Latencies& l, Call call) {
  const double cpu = CpuSeconds(), wall = WallSeconds();
  call();
  const double took = WallSeconds() - wall;
  l.cpu += CpuSeconds() - cpu;
  l.wall += took;
  l.micros.push_back(took * 1e6);
}

void Fail(const StoreError& e) {
  std::fprintf(stderr, "registry %s: %s\n", StoreErrorKindName(e.kind), e.message.c_str());
  std::exit(1);
}

std::unique_ptr<Registry> Open(const std::string& location, Durability durability) {
  StoreOptions options;
  options.durability = durability;
  std::unique_ptr<Registry> registry;
  if (StoreError e = Registry::Open(location, options, registry)) Fail(e);
  return registry;
}

constexpr Time kStart = 1800000000;
constexpr Time kHour = 3600, kDay = 24 * kHour;

// What history settles of the pairs the judgment leaves undecided, per class
// of pair: a machine after one benign event, a batch sibling, a sibling given
// a copy of one of the machine's adapters (a USB adapter moved). The stored
// machine A is activated at day 0; the newcomer B checks in once a day, six
// hours after A's time, for a week. A machine after an event never checks in
// under its old identifiers again; a different machine A goes on checking in
// once a day. Right: B a change of A for an event, B a machine of its own for
// the others; each pair in a scope of its own.
struct SettleCounts {
  long pairs = 0, same = 0, different = 0, undecided = 0;
  long right = 0, wrong = 0, open = 0;
  long days_to_settle = 0;
};

void SettleOnePair(Registry& registry, const std::string& scope, const Machine& a, const Machine& b, bool one_machine,
                   SettleCounts& counts) {
  ++counts.pairs;
  const std::vector<std::string> before = Bundle(a), after = Bundle(b);
  const auto verdict = tavsn::server::CompareBundles(before, after).verdict;
  if (verdict == tavsn::server::MachineVerdict::kSame) ++counts.same;
  if (verdict == tavsn::server::MachineVerdict::kDifferent) ++counts.different;
  if (verdict != tavsn::server::MachineVerdict::kUndecided) return;
  ++counts.undecided;
  CheckInResult result;
  if (StoreError e = registry.CheckIn(scope, before, kStart, -1, result)) Fail(e);
  for (int day = 0; day < 7; ++day) {
    if (!one_machine && day > 0) {
      if (StoreError e = registry.CheckIn(scope, before, kStart + day * kDay, -1, result)) Fail(e);
    }
    if (StoreError e = registry.CheckIn(scope, after, kStart + day * kDay + 6 * kHour, -1, result)) Fail(e);
    if (result.outcome == CheckInOutcome::kUndecided) continue;
    const bool said_one = result.outcome == CheckInOutcome::kKnownChanged;
    (said_one == one_machine ? counts.right : counts.wrong) += 1;
    counts.days_to_settle += day;
    return;
  }
  ++counts.open;
}

void PrintSettled(const char* name, const SettleCounts& c) {
  const long settled = c.right + c.wrong;
  std::printf(
      "  %-28s %5ld pairs: judgment same %5ld, different %5ld, undecided %5ld; history settles %5ld right, "
      "%ld wrong, %ld open after a week; mean %.1f days\n",
      name, c.pairs, c.same, c.different, c.undecided, c.right, c.wrong, c.open,
      settled ? static_cast<double>(c.days_to_settle) / settled : 0.0);
}

void HistorySettles(const std::string& location, long pairs_per_class) {
  std::unique_ptr<Registry> registry = Open(location, Durability::kProcessCrash);
  Fleet fleet(0x5E771E5ULL);
  std::printf("undecided pairs that history settles (daily check-ins six hours apart, a week):\n");
  long scope = 0;
  const auto next_scope = [&] { return "pair-" + std::to_string(scope++); };
  for (int event = 0; event < Fleet::kEventCount; ++event) {
    SettleCounts counts;
    for (long i = 0; i < pairs_per_class; ++i) {
      Model model = fleet.NewModel();
      const Machine a = fleet.Next(model);
      SettleOnePair(*registry, next_scope(), a, fleet.AfterEvent(a, event), true, counts);
    }
    PrintSettled(Fleet::EventName(event), counts);
  }
  SettleCounts sibling, moved;
  for (long i = 0; i < pairs_per_class; ++i) {
    Model model = fleet.NewModel();
    const Machine a = fleet.Next(model);
    Machine b = fleet.Next(model);
    SettleOnePair(*registry, next_scope(), a, b, false, sibling);
    b.macs.push_back(a.macs.back());
    SettleOnePair(*registry, next_scope(), a, b, false, moved);
  }
  PrintSettled("batch sibling", sibling);
  PrintSettled("sibling given a moved adapter", moved);
}

}  // namespace

int main(int argc, char** argv) {
  const long machines = argc > 1 ? std::atol(argv[1]) : 100000;
  std::string location = argc > 2 ? argv[2] : "";
  std::filesystem::path scratch;
  if (location.empty()) {
    scratch = std::filesystem::temp_directory_path() / ("tavsn_registry_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(scratch);
    location = "sqlite:" + (scratch / "registry.db").string();
  }
  std::printf("registry bench: %ld machines, %s, scopes of 100, default durability (survives a killed process)\n",
              machines, location.rfind("postgres", 0) == 0 ? "PostgreSQL" : "SQLite");
  std::unique_ptr<Registry> registry = Open(location, Durability::kProcessCrash);
  Fleet fleet(0x7A5F1EE7B0A7D5ULL);
  std::vector<Machine> fleet_machines;
  std::vector<std::vector<std::string>> bundles;
  fleet_machines.reserve(machines);
  Model model = fleet.NewModel();
  for (long i = 0; i < machines; ++i) {
    if (fleet.Below(500) == 0) model = fleet.NewModel();  // batches of about 500
    fleet_machines.push_back(fleet.Next(model));
    bundles.push_back(Bundle(fleet_machines.back()));
  }
  const auto scope = [](long i) { return "licence-" + std::to_string(i / 100); };

  // A new machine whose firmware text is real finds no machine of its
  // scope through the weak facts; one of a placeholder batch judges every
  // earlier machine of the batch in its scope: both are shown apart too.
  Latencies activate, real_firmware, weak_firmware;
  CheckInResult result;
  long activated = 0;
  for (long i = 0; i < machines; ++i) {
    Latencies one;
    Measure(one, [&] {
      if (StoreError e = registry->CheckIn(scope(i), bundles[i], kStart + i, -1, result)) Fail(e);
    });
    for (Latencies* l : {&activate, fleet_machines[i].firmware == 0 ? &real_firmware : &weak_firmware}) {
      l->micros.push_back(one.micros.front());
      l->cpu += one.cpu;
      l->wall += one.wall;
    }
    activated += result.outcome == CheckInOutcome::kActivated;
  }
  activate.Print("check-in, new machine");
  real_firmware.Print("  of which real firmware text");
  weak_firmware.Print("  of which placeholder or none");
  std::printf("  activated %ld of %ld (the rest judged the same as a machine of their scope)\n", activated, machines);

  const long samples = std::min(machines, 10000L);
  Latencies known, changed, identify;
  for (long s = 0; s < samples; ++s) {
    const long i = static_cast<long>(fleet.Below(machines));
    Measure(known, [&] {
      if (StoreError e = registry->CheckIn(scope(i), bundles[i], kStart + machines + s, -1, result)) Fail(e);
    });
  }
  known.Print("check-in, known unchanged");
  for (long s = 0; s < samples; ++s) {
    const long i = static_cast<long>(fleet.Below(machines));
    const std::vector<std::string> after = Bundle(fleet.AfterEvents(fleet_machines[i]));
    // Silent for ten days: history may settle what the judgment leaves open.
    Measure(changed, [&] {
      if (StoreError e = registry->CheckIn(scope(i), after, kStart + machines + 864000 + s, -1, result)) Fail(e);
    });
  }
  changed.Print("check-in, after benign events");
  long found = 0, answers = 0, largest = 0;
  for (long s = 0; s < samples; ++s) {
    const long i = static_cast<long>(fleet.Below(machines));
    IdentifyResult answer;
    ReadBundle read;
    Measure(identify, [&] {
      if (StoreError e = registry->Identify(bundles[i], answer, read)) Fail(e);
    });
    found += !answer.candidates.empty();
    answers += static_cast<long>(answer.candidates.size());
    largest = std::max(largest, static_cast<long>(answer.candidates.size()));
  }
  identify.Print("identify");
  std::printf("  found a machine for %ld of %ld; machines per answer (same or undecided): mean %.1f, most %ld\n", found,
              samples, static_cast<double>(answers) / samples, largest);

  // The scan a registry without keys would need: the judgment against every
  // stored bundle, in memory (no database time at all).
  Latencies scan;
  const long scans = std::max(1L, std::min(50L, 20000000L / std::max(machines, 1L)));
  for (long s = 0; s < scans; ++s) {
    const long i = static_cast<long>(fleet.Below(machines));
    long same = 0;
    Measure(scan, [&] {
      for (const std::vector<std::string>& stored : bundles) {
        same += tavsn::server::CompareBundles(stored, bundles[i]).verdict == tavsn::server::MachineVerdict::kSame;
      }
    });
    if (same == 0) std::printf("  (scan found nothing)\n");
  }
  scan.Print("linear scan with the judgment");
  std::sort(identify.micros.begin(), identify.micros.end());
  std::sort(scan.micros.begin(), scan.micros.end());
  std::printf("  identify is %.0f times faster than the scan (medians)\n",
              scan.micros[scan.micros.size() / 2] / identify.micros[identify.micros.size() / 2]);

  std::int64_t bytes = 0;
  if (StoreError e = registry->store().SizeInBytes(bytes)) Fail(e);
  std::printf("database: %lld bytes, %.0f bytes per machine\n", static_cast<long long>(bytes),
              static_cast<double>(bytes) / machines);
  registry.reset();

  if (!scratch.empty()) {
    // The durability that also survives a power cut: every commit waits for
    // the disk.
    const std::string full = "sqlite:" + (scratch / "full.db").string();
    std::unique_ptr<Registry> synced = Open(full, Durability::kPowerCut);
    Latencies power_cut;
    const long count = std::min(machines, 5000L);
    for (long i = 0; i < count; ++i) {
      Measure(power_cut, [&] {
        if (StoreError e = synced->CheckIn(scope(i), bundles[i], kStart + i, -1, result)) Fail(e);
      });
    }
    power_cut.Print("check-in, new, synchronous=FULL");
    synced.reset();
    HistorySettles("sqlite:" + (scratch / "settle.db").string(), 2000);
    std::filesystem::remove_all(scratch);
  }
  return 0;
}
