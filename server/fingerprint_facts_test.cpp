#include "server/fingerprint_facts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "fingerprint/pc_id.h"
#include "tests/fakes/fake_probe_platform.h"

namespace tavsn::server {
namespace {

using fakeprobe::state;

// A machine the fakes play, and the facts an inventory holds about it.
struct Machine {
  const char* name;
  std::function<void()> set_up;  // after fakeprobe::Reset()
  FingerprintFacts facts;
};

// The fingerprint the DLL's own code writes on the faked machine.
std::string DllFingerprint() {
  char data[32];
  EXPECT_EQ(tav_get_pc_id(data, sizeof data), 32);
  return std::string(data, 31);
}

// The ways one machine writes another fingerprint, played on the fakes: the
// cause the explanation must name first, and for a first adapter the
// address taken.
struct Variant {
  FingerprintCause cause;
  std::function<void()> change;
  const char* first_adapter = "";
};

const std::uint8_t kOtherAdapter[6] = {0x0A, 0xBC, 0xDE, 0xF0, 0x12, 0x34};

const Variant kVariants[] = {
    {.cause = FingerprintCause::kDiskUnreadable, .change = [] { state().disk_opens = false; }},
    {.cause = FingerprintCause::kOtherFirstAdapter,
     .change = [] { std::memcpy(state().adapter_address, kOtherAdapter, 6); },
     .first_adapter = "0ABCDEF01234"},
    {.cause = FingerprintCause::kNoAdapter, .change = [] { state().adapter_status = 232; }},
    {.cause = FingerprintCause::kHighestLeafLimited, .change = [] { state().cpuid[0].eax = 3; }},
    {.cause = FingerprintCause::kBrandMissing, .change = [] { state().cpuid[0x80000000].eax = 0x80000001; }},
};

FingerprintFacts IntelFacts() {
  return {.cpu_vendor = "GenuineIntel",
          .highest_leaf = 0x16,
          .mhz = 2400,
          .memory_bytes = 8589934592ull,
          .disk_bytes = 500107862016ll,
          .mac = "00-1A-2B-3C-4D-5E",
          .other_macs = {"0a:bc:de:f0:12:34"}};
}

const std::string kBrand = "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz";
const std::string kOldBrand = "Intel(R) Pentium(R) 4 CPU 3.00GHz";

std::vector<Machine> Machines() {
  std::vector<Machine> machines = {
      {.name = "worked example: no brand leaves", .set_up = [] {}, .facts = IntelFacts()},
      {.name = "brand string", .set_up = [] { fakeprobe::SetBrand(kBrand); }, .facts = IntelFacts()},
      {.name = "right-aligned brand, given as stored",
       .set_up = [] { fakeprobe::SetBrand(std::string(47 - kOldBrand.size(), ' ') + kOldBrand); },
       .facts = IntelFacts()},
      {.name = "AMD, leaf 0 as registers, a 2 TB disk",
       .set_up =
           [] {
             fakeprobe::SetVendor(0x10, "AuthenticAMD");
             fakeprobe::SetBrand("AMD Ryzen 7 5800X 8-Core Processor            ");
             state().disk_length = 2000398934016ll;
           },
       .facts = {.leaf0 = CpuidRegisters{0x10, 0x68747541, 0x444D4163, 0x69746E65},
                 .disk_bytes = 2000398934016ll,
                 .mac = "001A2B3C4D5E",
                 .other_macs = {"0ABCDEF01234", "001A2B3C4D5E"}}},
      {.name = "highest leaf unknown: searched",
       .set_up = [] { fakeprobe::SetBrand(kBrand); },
       .facts = {.cpu_vendor = "GenuineIntel",
                 .disk_bytes = 500107862016ll,
                 .mac = "001A2B3C4D5E",
                 .other_macs = {"0ABCDEF01234"}}},
  };
  machines[2].facts.brand = std::string(47 - kOldBrand.size(), ' ') + kOldBrand;
  machines[1].facts.brand = machines[4].facts.brand = kBrand;
  machines[3].facts.brand = "AMD Ryzen 7 5800X 8-Core Processor            ";
  return machines;
}

TEST(MatchFingerprintTest, EachMachineVerifiesAndEachVariantIsExplained) {
  for (const Machine& machine : Machines()) {
    SCOPED_TRACE(machine.name);
    fakeprobe::Reset();
    machine.set_up();
    const std::string fingerprint = DllFingerprint();
    const FingerprintMatch match = MatchFingerprint(ParseFingerprint(fingerprint), machine.facts);
    EXPECT_EQ(match.verdict, Verdict::kMatch) << match.note;
    EXPECT_EQ(match.expected, fingerprint);
    if (machine.facts.highest_leaf || machine.facts.leaf0) {
      EXPECT_EQ(FingerprintOfFacts(machine.facts), fingerprint);
    }
    for (const Variant& variant : kVariants) {
      const bool applies = variant.cause != FingerprintCause::kBrandMissing || machine.facts.brand.has_value();
      if (!applies) continue;
      SCOPED_TRACE(FingerprintCauseName(variant.cause));
      fakeprobe::Reset();
      machine.set_up();
      variant.change();
      const std::string changed = DllFingerprint();
      ASSERT_NE(changed, fingerprint);
      const FingerprintMatch explained = MatchFingerprint(ParseFingerprint(changed), machine.facts);
      if (!machine.facts.highest_leaf && !machine.facts.leaf0 &&
          variant.cause == FingerprintCause::kHighestLeafLimited) {
        // Searched: the limited leaf is found as the leaf itself.
        EXPECT_EQ(explained.verdict, Verdict::kMatch);
        EXPECT_EQ(explained.highest_leaf, 3u);
        continue;
      }
      EXPECT_EQ(explained.verdict, Verdict::kMismatch);
      ASSERT_FALSE(explained.explanations.empty());
      const FingerprintExplanation& first = explained.explanations.front();
      EXPECT_EQ(first.causes, std::vector<FingerprintCause>{variant.cause});
      EXPECT_EQ(first.first_adapter, variant.first_adapter);
    }
  }
}

TEST(MatchFingerprintTest, ClockAndMemoryNeverChangeIt) {
  fakeprobe::Reset();
  const std::string fingerprint = DllFingerprint();
  state().clock_value_status = 2;
  state().total_physical_bytes = 17179869184ull;
  EXPECT_EQ(DllFingerprint(), fingerprint);
  const FingerprintMatch match = MatchFingerprint(ParseFingerprint(fingerprint), IntelFacts());
  EXPECT_EQ(match.verdict, Verdict::kMatch);
  EXPECT_EQ(match.without_effect,
            (std::vector<FingerprintCause>{FingerprintCause::kClockUnreadable, FingerprintCause::kOtherMemoryReading}));
}

TEST(MatchFingerprintTest, BrandWhoseLeadingBlanksTheInventoryDropped) {
  fakeprobe::Reset();
  fakeprobe::SetBrand(std::string(47 - kOldBrand.size(), ' ') + kOldBrand);
  FingerprintFacts facts = IntelFacts();
  facts.brand = kOldBrand;
  const FingerprintMatch match = MatchFingerprint(ParseFingerprint(DllFingerprint()), facts);
  EXPECT_EQ(match.verdict, Verdict::kMismatch);
  ASSERT_FALSE(match.explanations.empty());
  EXPECT_EQ(match.explanations[0].causes, std::vector<FingerprintCause>{FingerprintCause::kBrandUnpadded});
}

TEST(MatchFingerprintTest, TwoCausesAtOnceAndNoCause) {
  fakeprobe::Reset();
  state().disk_opens = false;
  state().adapter_status = 232;
  const FingerprintMatch both = MatchFingerprint(ParseFingerprint(DllFingerprint()), IntelFacts());
  ASSERT_EQ(both.explanations.size(), 1u);
  EXPECT_EQ(both.explanations[0].causes,
            (std::vector<FingerprintCause>{FingerprintCause::kDiskUnreadable, FingerprintCause::kNoAdapter}));
  fakeprobe::Reset();
  state().disk_length = 256060514304ll;  // another disk
  const FingerprintMatch none = MatchFingerprint(ParseFingerprint(DllFingerprint()), IntelFacts());
  EXPECT_EQ(none.verdict, Verdict::kMismatch);
  EXPECT_TRUE(none.explanations.empty());
  EXPECT_GT(none.combinations_tried, 1u);
}

// The worked examples, and machines the Wine suites ran the real DLL on
// (tests/wine/test_fingerprint.py prints the facts it used; Wine's disk
// never answers its length, so disk_text is empty there).
TEST(MatchFingerprintTest, KnownFingerprintsFromTheirFacts) {
  constexpr CpuidRegisters kWineLeaf0 = {0x0000000D, 0x68747541, 0x444D4163, 0x69746E65};  // AuthenticAMD
  struct Case {
    const char* fingerprint;
    FingerprintFacts facts;
    Verdict verdict;
    std::string note = "";
  } cases[] = {
      {.fingerprint = "623FBDEBE453CAE4A61E315703441D1",
       .facts =
           {.cpu_vendor = "GenuineIntel", .highest_leaf = 0x16, .disk_bytes = 500107862016ll, .mac = "001A2B3C4D5E"},
       .verdict = Verdict::kMatch},
      {.fingerprint = "175D43E9AEC486C9209E5B71CA23CE4",
       .facts = {.cpu_vendor = "GenuineIntel", .highest_leaf = 0x16, .mac = "001A2B3C4D5E"},
       .verdict = Verdict::kMatch},
      {.fingerprint = "175D43E9AEC486C9209E5B71CA23CE4",
       .facts = {.cpu_vendor = "GenuineIntel", .highest_leaf = 0x16, .mac = "001A2B3C4D5G"},
       .verdict = Verdict::kBadFact,
       .note = "\"001A2B3C4D5G\" is not a MAC address"},
      {.fingerprint = "175D43E9AEC486C9209E5B71CA23CE4",
       .facts = {.cpu_vendor = "Intel", .mac = "001A2B3C4D5E"},
       .verdict = Verdict::kBadFact,
       .note = "the processor vendor is 12 characters (e.g. GenuineIntel), not 5"},
      {.fingerprint = "175D43E9AEC486C9209E5B71CA23CE4",
       .facts = {.leaf0 = CpuidRegisters{0x16, 0x756E6547, 0x6C65746E, 0x49656E69}, .cpu_vendor = "AuthenticAMD"},
       .verdict = Verdict::kBadFact,
       .note = "the processor vendor is not the one CPUID leaf 0's registers give"},
      {.fingerprint = "175D43E9AEC486C9209E5B71CA23CE4",
       .facts = {.cpu_vendor = "GenuineIntel", .brand = std::string(49, 'x')},
       .verdict = Verdict::kBadFact,
       .note = "the brand string is at most 48 bytes, not 49"},
      // The 64-bit DLL under wine64 on this project's build machine; the
      // 32-bit DLL digests the same texts (32-bit Wine was not available to
      // print its own rows).
      {.fingerprint = "7C551B6176187905A3FC4927FED862D",
       .facts = {.leaf0 = kWineLeaf0, .brand = "AMD EPYC", .mac = "0ABCDEF01234"},
       .verdict = Verdict::kMatch},
      {.fingerprint = "5D5913213C4A0A271372673C5370F9D",
       .facts = {.leaf0 = kWineLeaf0, .brand = "AMD EPYC", .mac = "0266778899AA"},
       .verdict = Verdict::kMatch},
      {.fingerprint = "B9889F024A9B0C7B489E438B0AEA1F3",
       .facts = {.leaf0 = kWineLeaf0, .brand = "AMD EPYC"},
       .verdict = Verdict::kMatch},
      {.fingerprint = "175D43E9AEC486C9209E5B71CA23CE4",
       .facts = {.mac = "001A2B3C4D5E"},
       .verdict = Verdict::kNotCheckable,
       .note = "the processor vendor (or CPUID leaf 0) is needed"},
  };
  for (const Case& c : cases) {
    const FingerprintMatch match = MatchFingerprint(ParseFingerprint(c.fingerprint), c.facts);
    EXPECT_EQ(match.verdict, c.verdict) << c.fingerprint << " " << match.note;
    EXPECT_EQ(match.note, c.note);
    if (c.verdict == Verdict::kMatch) {
      EXPECT_EQ(match.expected, c.fingerprint);
    }
  }
}

// The Wine machine's other fingerprints, explained from the facts of its
// first: another adapter first, and no adapter at all.
TEST(MatchFingerprintTest, WineMachinesVariantsExplained) {
  const FingerprintFacts facts = {.leaf0 = CpuidRegisters{0x0000000D, 0x68747541, 0x444D4163, 0x69746E65},
                                  .brand = "AMD EPYC",
                                  .mac = "0ABCDEF01234",
                                  .other_macs = {"0266778899AA"}};
  struct Case {
    const char* fingerprint;
    FingerprintCause cause;
  } cases[] = {
      {.fingerprint = "5D5913213C4A0A271372673C5370F9D", .cause = FingerprintCause::kOtherFirstAdapter},
      {.fingerprint = "B9889F024A9B0C7B489E438B0AEA1F3", .cause = FingerprintCause::kNoAdapter},
  };
  for (const Case& c : cases) {
    const FingerprintMatch match = MatchFingerprint(ParseFingerprint(c.fingerprint), facts);
    EXPECT_EQ(match.verdict, Verdict::kMismatch);
    ASSERT_FALSE(match.explanations.empty()) << c.fingerprint;
    EXPECT_EQ(match.explanations[0].causes, std::vector<FingerprintCause>{c.cause});
  }
}

}  // namespace
}  // namespace tavsn::server
