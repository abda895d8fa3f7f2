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

#include "server/bundle.h"
#include "tests/bench/registry_fleet.h"

namespace tavsn::registry {
namespace {

using namespace tavsn::registry_fleet;

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
  // b checks in while a is stored: a's stored keys against b's lookup.
  const bool scoped =
      Share(ScopeKeys("L", ra.members, ScopeKeyUse::kStore), ScopeKeys("L", rb.members, ScopeKeyUse::kLookup)) &&
      Share(ScopeKeys("L", rb.members, ScopeKeyUse::kStore), ScopeKeys("L", ra.members, ScopeKeyUse::kLookup));
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
  EXPECT_TRUE(Share(ScopeKeys("L", ra.members, ScopeKeyUse::kStore), ScopeKeys("L", rb.members, ScopeKeyUse::kLookup)));
  EXPECT_FALSE(
      Share(ScopeKeys("L", ra.members, ScopeKeyUse::kStore), ScopeKeys("M", rb.members, ScopeKeyUse::kLookup)));
}

TEST(KeysTest, DifferentRealFirmwareNeverMeetsInAScope) {
  Fleet fleet(11);
  Model model = fleet.NewModel();
  model.firmware = 0;  // real serials
  const Machine a = fleet.Next(model);
  Machine b = fleet.Next(model);
  b.serial = "ZZ" + b.serial;  // another length: its checksum cannot agree
  Machine unread = b;
  unread.firmware = 3;
  const ReadBundle ra = ReadBundleTexts(Bundle(a)), rb = ReadBundleTexts(Bundle(b));
  const ReadBundle ru = ReadBundleTexts(Bundle(unread));
  EXPECT_FALSE(
      Share(ScopeKeys("L", ra.members, ScopeKeyUse::kStore), ScopeKeys("L", rb.members, ScopeKeyUse::kLookup)));
  // A failed firmware read tells nothing: it finds machines with any text.
  EXPECT_TRUE(Share(ScopeKeys("L", ra.members, ScopeKeyUse::kStore), ScopeKeys("L", ru.members, ScopeKeyUse::kLookup)));
  EXPECT_TRUE(Share(ScopeKeys("L", ru.members, ScopeKeyUse::kStore), ScopeKeys("L", ra.members, ScopeKeyUse::kLookup)));
}

}  // namespace
}  // namespace tavsn::registry
