// The keys' recall guarantee over a generated fleet: every pair of bundles
// the judgment calls the same machine shares a global key; so does every
// undecided pair with a strong fact in common; undecided pairs with only
// weak facts in common share a scope key. Also prints how often unrelated
// machines share a key (the cost of a lookup, not a correctness limit):
// siblings of a batch share their firmware key whenever their serials'
// checksums agree (an odd last character is not summed), which is the
// judgment's own doubt about them.
#include "registry/keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "api/identifier_records.h"
#include "server/bundle.h"

namespace tavsn::registry {
namespace {

// A small fleet model of its own, after tests/bench/fleet_bench.cpp's:
// models with one vendor prefix and processor each, firmware real (62%), a
// placeholder serial (30%), a placeholder UUID (5%) or unreadable (3%),
// one to three adapters at consecutive addresses, batches in sequence.
struct Model {
  std::uint32_t oui;
  int processor;
  int firmware;  // 0 real, 1 placeholder serial, 2 placeholder UUID, 3 unreadable
  std::uint32_t cursor;
  std::uint32_t serial;
};

struct Machine {
  std::vector<std::uint64_t> macs;
  int processor = 0;
  int firmware = 0;
  std::string serial;
};

const char* const kProcessors[] = {"Intel(R) Core(TM) i5-8500 CPU @ 3.00GHz-00000000-00000006-00000158",
                                   "Intel(R) Core(TM) i7-10700 CPU @ 2.90GHz-00000000-00000006-00000165",
                                   "AMD Ryzen 5 3600 6-Core Processor-00000000-00000023-00000113",
                                   "12th Gen Intel(R) Core(TM) i5-12500-00000000-00000006-00000151"};
const char* const kPlaceholderSerials[] = {"To be filled by O.E.M.", "Default string", "System Serial Number"};

class Fleet {
 public:
  explicit Fleet(std::uint64_t seed) : rng_(seed) {}
  std::uint64_t Below(std::uint64_t n) { return rng_() % n; }

  Model NewModel() {
    const std::uint64_t draw = Below(100);
    return {static_cast<std::uint32_t>(0x001000 + Below(4000)), static_cast<int>(Below(std::size(kProcessors))),
            draw < 62   ? 0
            : draw < 92 ? 1
            : draw < 97 ? 2
                        : 3,
            static_cast<std::uint32_t>(rng_()), static_cast<std::uint32_t>(Below(900000))};
  }
  Machine Next(Model& model) {
    Machine m;
    const std::uint64_t draw = Below(10);
    const int adapters = draw < 6 ? 1 : draw < 9 ? 2 : 3;
    for (int i = 0; i < adapters; ++i) m.macs.push_back(Address(model.oui, model.cursor + i));
    model.cursor += adapters + static_cast<std::uint32_t>(Below(4));
    m.processor = model.processor;
    m.firmware = model.firmware;
    m.serial = model.firmware == 0   ? "SN" + std::to_string(model.oui) + "-" + std::to_string(model.serial++)
               : model.firmware == 1 ? kPlaceholderSerials[model.oui % std::size(kPlaceholderSerials)]
                                     : "";
    return m;
  }
  std::uint64_t Address(std::uint32_t oui, std::uint32_t nic) {
    return static_cast<std::uint64_t>(oui) << 24 | (nic & 0xFFFFFFu);
  }
  std::uint64_t RandomCard() { return Address(static_cast<std::uint32_t>(0x001000 + Below(4000)), rng_()); }

  // One machine after one or two benign events.
  Machine AfterEvents(Machine m) {
    const int events = Below(5) == 0 ? 2 : 1;
    for (int i = 0; i < events; ++i) {
      switch (Below(5)) {
        case 0: m.macs[Below(m.macs.size())] = RandomCard(); break;  // card replaced
        case 1: m.macs.push_back(RandomCard()); break;               // card or USB adapter added
        case 2: m.processor = (m.processor + 1) % static_cast<int>(std::size(kProcessors)); break;
        case 3: m.firmware = 3; break;                   // read failed once
        default: m.macs.assign(1, RandomCard()); break;  // the only card replaced
      }
    }
    return m;
  }

 private:
  std::mt19937_64 rng_;
};

void Bytes(std::uint64_t value, std::uint8_t (&bytes)[6]) {
  for (int i = 0; i < 6; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * (5 - i)));
}

std::vector<std::string> Bundle(const Machine& m) {
  std::vector<std::uint64_t> list = m.macs;
  std::sort(list.begin(), list.end());
  list.erase(std::unique(list.begin(), list.end()), list.end());
  std::uint8_t first[6], second[6];
  Bytes(list[0], first);
  Bytes(list.size() > 1 ? list[1] : list[0], second);
  char text[kIdentifierBufferSize];
  std::vector<std::string> bundle;
  MacSnText(MacSnRecord::Build(MacSnRecord::kSourceAdapter, static_cast<int>(list.size()), first, second), text);
  bundle.push_back(text);
  for (bool ex : {false, true}) {
    PcSnRecord record;
    record.SetFlag(PcSnRecord::kFlagMacStep);
    record.SetMac(first);
    record.SetFlag(PcSnRecord::kFlagProcessorDetails);
    record.SetTextFields(PcSnRecord::kProcessorLengthOffset, kProcessors[m.processor]);
    if (ex) {
      record.SetSelfChecksum();
    } else if (m.firmware <= 1) {
      record.SetFlag(PcSnRecord::kFlagSystemSerial);
      record.SetTextFields(PcSnRecord::kSystemLengthOffset, m.serial.c_str());
    } else if (m.firmware == 2) {
      record.SetFlag(PcSnRecord::kFlagSystemUuid);
      record.SetTextFields(PcSnRecord::kSystemLengthOffset, "00000000-00000000-00000000-00000000");
    }
    PcSnText(record, text);
    bundle.push_back(text);
  }
  return bundle;
}

bool Share(const std::vector<LookupKey>& a, const std::vector<LookupKey>& b) {
  std::vector<LookupKey> common;
  std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(common));
  return !common.empty();
}

bool AnyStrongFact(const server::BundleComparison& c) {
  return std::any_of(std::begin(c.odds.by_class), std::end(c.odds.by_class), [](double p) { return p < 1.0; });
}

struct Tally {
  int same = 0, undecided_strong = 0, undecided_weak = 0, nothing_in_common = 0, different = 0;
  int missed = 0, missed_in_scope = 0, unrelated_sharing = 0, unrelated = 0;
};

void Check(const Machine& a, const Machine& b, bool one_machine, Tally& tally) {
  const ReadBundle ra = ReadBundleTexts(Bundle(a)), rb = ReadBundleTexts(Bundle(b));
  ASSERT_EQ(ra.status, server::BundleStatus::kOk);
  ASSERT_EQ(rb.status, server::BundleStatus::kOk);
  const server::BundleComparison c = server::CompareBundles(MemberTexts(ra.members), MemberTexts(rb.members));
  const bool global = Share(GlobalKeys(ra.members), GlobalKeys(rb.members));
  const bool scoped = Share(ScopeKeys("L", ra.members), ScopeKeys("L", rb.members));
  if (!one_machine) {
    ++tally.unrelated;
    tally.unrelated_sharing += global;
  }
  if (c.verdict == server::MachineVerdict::kDifferent) {
    ++tally.different;
    return;
  }
  if (c.verdict == server::MachineVerdict::kSame) {
    ++tally.same;
    EXPECT_TRUE(global) << "same machine, no key: " << ra.members[0].text << " " << rb.members[0].text;
    tally.missed += !global;
    return;
  }
  if (AnyStrongFact(c)) {
    ++tally.undecided_strong;
    EXPECT_TRUE(global) << "undecided on a strong fact, no key";
    tally.missed += !global;
  } else if (a.processor == b.processor) {
    ++tally.undecided_weak;
    EXPECT_TRUE(scoped) << "undecided on weak facts, no scope key";
    tally.missed_in_scope += !scoped;
  } else {
    ++tally.nothing_in_common;
  }
}

TEST(KeysTest, EveryPairTheJudgmentMayCallOneMachineSharesAKey) {
  Fleet fleet(0x5EEDF1EE7ULL);
  Tally events, siblings, random;
  for (int i = 0; i < 6000; ++i) {
    Model model = fleet.NewModel();
    const Machine m = fleet.Next(model);
    Check(m, fleet.AfterEvents(m), true, events);
    Check(m, m, true, events);
    const Machine sibling = fleet.Next(model);
    Check(m, sibling, false, siblings);
    Model other = fleet.NewModel();
    Check(m, fleet.Next(other), false, random);
  }
  EXPECT_EQ(events.missed + siblings.missed + random.missed, 0);
  EXPECT_EQ(events.missed_in_scope + siblings.missed_in_scope + random.missed_in_scope, 0);
  const auto print = [](const char* name, const Tally& t) {
    std::printf(
        "%-9s same %5d  undecided (strong fact) %5d  undecided (weak facts) %5d  undecided (nothing) %5d  "
        "different %5d  missed %d",
        name, t.same, t.undecided_strong, t.undecided_weak, t.nothing_in_common, t.different, t.missed);
    if (t.unrelated > 0) {
      std::printf("  unrelated pairs sharing a global key: %.4f%%", 100.0 * t.unrelated_sharing / t.unrelated);
    }
    std::printf("\n");
  };
  print("events", events);
  print("siblings", siblings);
  print("random", random);
}

TEST(KeysTest, WeakValuesMakeNoGlobalKey) {
  Fleet fleet(7);
  Model model = fleet.NewModel();
  model.firmware = 1;  // a placeholder serial
  Machine a = fleet.Next(model), b = fleet.Next(model);
  a.macs = {0x001000000001ULL};
  b.macs = {0x001000000002ULL + 0x10000};
  const ReadBundle ra = ReadBundleTexts(Bundle(a)), rb = ReadBundleTexts(Bundle(b));
  // One processor and one placeholder: nothing global in common, a scope key
  // only within one scope.
  EXPECT_FALSE(Share(GlobalKeys(ra.members), GlobalKeys(rb.members)));
  EXPECT_TRUE(Share(ScopeKeys("L", ra.members), ScopeKeys("L", rb.members)));
  EXPECT_FALSE(Share(ScopeKeys("L", ra.members), ScopeKeys("M", rb.members)));
}

}  // namespace
}  // namespace tavsn::registry
