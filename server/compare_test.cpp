#include "server/compare.h"

#include <gtest/gtest.h>

#include <cstring>

#include "server/match.h"
#include "server/test_records.h"

namespace tavsn::server {
namespace {

using testing::Firmware;
using testing::MachineIdText;
using testing::MachineInputs;

// A machine identifier with the components in `changed` replaced.
std::string Machine(unsigned changed, Firmware firmware) {
  MachineInputs in;
  in.firmware = firmware;
  const bool uuid = firmware == Firmware::kUuid;
  in.system_text = uuid ? "33221100-77665544-bbaa9988-ffeeddcc" : "SN-0000-1111";
  if (changed & kComponentMac) in.mac = "0A1B2C3D4E60";
  if (changed & kComponentProcessor) in.processor = "Other CPU-00000000-00000006-00000095";
  if (changed & kComponentFirmware) in.system_text = uuid ? "43221100-77665544-bbaa9988-ffeeddcc" : "SN-0000-2222";
  if (changed & kComponentMacSource) in.mac_from_uuid = true;
  return MachineIdText(in);
}

// The count policy of release 1.0 unless a test names another.
Comparison CompareTexts(const std::string& a, const std::string& b, const ComparePolicy& policy = CountPolicy()) {
  return Compare(ParseIdentifier(a), ParseIdentifier(b), policy);
}

// Index: the set of changed components (bit 0 MAC, 1 processor, 2 firmware,
// 3 MAC source). The count policy keeps the machine for none or one.
constexpr bool kDefaultSameMachine[16] = {true, true,  true,  false, true,  false, false, false,
                                          true, false, false, false, false, false, false, false};

TEST(CompareTest, CountPolicyOnEveryCombinationOfChangedComponents) {
  const std::string before = Machine(0, Firmware::kSerial);
  for (unsigned changed = 0; changed < 16; ++changed) {
    const Comparison c = CompareTexts(before, Machine(changed, Firmware::kSerial));
    ASSERT_EQ(c.status, CompareStatus::kOk);
    EXPECT_EQ(c.changed, changed) << changed;
    EXPECT_EQ(c.same_machine, kDefaultSameMachine[changed]) << changed;
    for (const FieldChange& f : c.changes) EXPECT_TRUE(changed & f.component) << f.field;
  }
}

TEST(CompareTest, GetPcsnExHasNoFirmwareComponent) {
  const std::string before = Machine(0, Firmware::kSelfChecksum);
  for (unsigned changed = 0; changed < 16; ++changed) {
    const Comparison c = CompareTexts(before, Machine(changed, Firmware::kSelfChecksum));
    ASSERT_EQ(c.status, CompareStatus::kOk);
    EXPECT_EQ(c.changed, changed & ~kComponentFirmware) << changed;
    EXPECT_EQ(c.same_machine, kDefaultSameMachine[changed & ~kComponentFirmware]) << changed;
  }
}

TEST(CompareTest, PolicyIsAParameter) {
  struct Case {
    ComparePolicy policy;
    unsigned changed;
    bool same;
  } cases[] = {
      {.policy = CountPolicy(0, 0), .changed = 0, .same = true},
      {.policy = CountPolicy(0, 0), .changed = kComponentMac, .same = false},
      {.policy = CountPolicy(1, kComponentProcessor), .changed = kComponentMac, .same = true},
      {.policy = CountPolicy(1, kComponentProcessor), .changed = kComponentProcessor, .same = false},
      {.policy = CountPolicy(2, 0), .changed = kComponentMac | kComponentMacSource, .same = true},
      {.policy = CountPolicy(2, 0), .changed = kComponentMac | kComponentMacSource | kComponentFirmware, .same = false},
      {.policy = CountPolicy(4, kComponentFirmware),
       .changed = kComponentMac | kComponentProcessor | kComponentMacSource,
       .same = true},
      {.policy = CountPolicy(4, kComponentFirmware), .changed = kComponentFirmware, .same = false},
  };
  const std::string before = Machine(0, Firmware::kUuid);
  for (const Case& c : cases) {
    const Comparison r = CompareTexts(before, Machine(c.changed, Firmware::kUuid), c.policy);
    EXPECT_EQ(r.changed, c.changed);
    EXPECT_EQ(r.same_machine, c.same) << c.policy.max_changed << "/" << c.policy.must_keep << "/" << c.changed;
  }
}

TEST(CompareTest, NamesEachChangedField) {
  const Comparison c = CompareTexts("TQ1221000A1B7B480E00B8FF26006C9C", "TQ1221000A1B7B480E0068882400BF13");
  ASSERT_EQ(c.changes.size(), 2u);
  EXPECT_STREQ(c.changes[0].field, "processor_length");
  EXPECT_EQ(c.changes[0].before, "38");
  EXPECT_EQ(c.changes[0].after, "36");
  EXPECT_STREQ(c.changes[1].field, "processor_checksum");
  EXPECT_EQ(c.changes[1].before, "0x9C6C");
  EXPECT_EQ(c.changes[1].after, "0x13BF");
  EXPECT_TRUE(c.same_machine);
}

TEST(CompareTest, MacIdentifiers) {
  const std::string two = testing::MacIdText(1, 2, "0A1B2C3D4E5F", "102030405060");
  struct Case {
    std::string after;
    unsigned changed;
    bool same;
  } cases[] = {
      {.after = two, .changed = 0, .same = true},
      {.after = testing::MacIdText(1, 2, "0A1B2C3D4E5F", "102030405061"), .changed = kComponentMac, .same = true},
      {.after = testing::MacIdText(1, 3, "0A1B2C3D4E5F", "102030405060"), .changed = kComponentMac, .same = true},
      {.after = testing::MacIdText(0, 1, "0A1B2C3D4E5F", ""),
       .changed = kComponentMac | kComponentMacSource,
       .same = false},
      {.after = testing::MacIdText(0, 1, "AABBCCDDEEFF", ""),
       .changed = kComponentMac | kComponentMacSource,
       .same = false},
  };
  for (const Case& c : cases) {
    const Comparison r = CompareTexts(two, c.after);
    EXPECT_EQ(r.status, CompareStatus::kOk);
    EXPECT_EQ(r.changed, c.changed) << c.after;
    EXPECT_EQ(r.same_machine, c.same) << c.after;
  }
}

TEST(CompareTest, RefusesWhatCannotBeCompared) {
  const std::string mac = "TQ1101020011263744550B3B2B5B4B7B";
  const std::string ex = Machine(0, Firmware::kSelfChecksum);
  std::string damaged_ex = ex;
  damaged_ex[20] = damaged_ex[20] == '0' ? '1' : '0';  // the record checksum no longer verifies
  struct Case {
    std::string a, b;
    CompareStatus status;
  } cases[] = {
      {.a = mac, .b = ex, .status = CompareStatus::kDifferentKinds},
      {.a = ex, .b = Machine(0, Firmware::kSerial), .status = CompareStatus::kDifferentExports},
      {.a = Machine(0, Firmware::kNotRead), .b = ex, .status = CompareStatus::kDifferentExports},
      {.a = ex, .b = damaged_ex, .status = CompareStatus::kNotWrittenByDll},
      {.a = ex, .b = ex.substr(1), .status = CompareStatus::kMalformed},
      {.a = "TQ13" + ex.substr(4), .b = ex, .status = CompareStatus::kMalformed},
  };
  for (const Case& c : cases) {
    const Comparison r = CompareTexts(c.a, c.b);
    EXPECT_EQ(r.status, c.status) << c.a << " " << c.b;
    EXPECT_EQ(r.same_machine, c.status == CompareStatus::kOk) << c.a << " " << c.b;
  }
  // A firmware read that failed on one side is no change, but no evidence either.
  const Comparison lost = CompareTexts(Machine(0, Firmware::kSerial), Machine(0, Firmware::kNotRead), {});
  EXPECT_EQ(lost.changed, 0u);
  EXPECT_EQ(lost.events, 0u);
  EXPECT_EQ(lost.verdict, MachineVerdict::kUndecided);
}

// ---- verdicts of the default evidence policy ------------------------------

// One machine of an office model: the same processor and, for `placeholder`,
// the board's unfilled serial number; `nic` and `serial` tell the machines apart.
std::string Office(const char* nic, const char* serial, Firmware firmware = Firmware::kSerial,
                   const char* processor = "Example CPU-00000000-00000006-00000094", bool node = false) {
  MachineInputs in;
  in.mac = nic;
  in.processor = processor;
  in.firmware = firmware;
  in.system_text = serial;
  in.mac_from_uuid = node;
  return MachineIdText(in);
}

std::string Forged(std::string text, std::size_t at, const char* digits) { return text.replace(at, 4, digits); }

// One table over the impostor classes and the benign events. Each row: the
// default policy's verdict, release 1.0's count policy, and where it is
// fixed by the record's structure the estimated false-accept probability.
TEST(VerdictTest, ImpostorClassesAndBenignEvents) {
  constexpr const char* kPlaceholder = "To be filled by O.E.M.";
  constexpr const char* kUpgrade = "Faster CPU-00000000-00000006-00000097";
  constexpr const char* kCpu = "Example CPU-00000000-00000006-00000094";
  const std::string a = Office("0A1B2C3D4E5F", "PF2ABCDE1234");
  const std::string ex_a = Office("0A1B2C3D4E5F", "", Firmware::kSelfChecksum);
  const std::string oem_a = Office("0A1B2C3D4E5F", kPlaceholder);
  const std::string mac_a = testing::MacIdText(1, 2, "0A1B2C3D4E5F", "102030405060");
  const std::string uuid_a = Office("0A1B2C3D4E5F", "33221100-77665544-bbaa9988-ffeeddcc", Firmware::kUuid);
  using V = MachineVerdict;
  constexpr double kAny = -1.0;
  struct Case {
    const char* name;
    std::string before, after;
    V verdict;
    bool count_policy_same;  // what release 1.0's policy said
    double risk = kAny;      // false_accept_probability, when the record fixes it
    ComparePolicy policy = {};
  } cases[] = {
      // Equal identifiers: the kind's collision risk (a model under one OUI).
      {.name = "unchanged",
       .before = a,
       .after = a,
       .verdict = V::kSame,
       .count_policy_same = true,
       .risk = odds::kOuiMacChecksum * odds::kBatchSerialChecksum},
      {.name = "GetPCSNEx unchanged",
       .before = ex_a,
       .after = ex_a,
       .verdict = V::kSame,
       .count_policy_same = true,
       .risk = odds::kOuiMacChecksum},
      {.name = "placeholder, unchanged",
       .before = oem_a,
       .after = oem_a,
       .verdict = V::kSame,
       .count_policy_same = true,
       .risk = odds::kOuiMacChecksum},
      {.name = "TQ11 unchanged",
       .before = mac_a,
       .after = mac_a,
       .verdict = V::kSame,
       .count_policy_same = true,
       .risk = 0.0},
      {.name = "TQ11 UUID nodes unchanged",
       .before = testing::MacIdText(0, 1, "AA0000000001", ""),
       .after = testing::MacIdText(0, 1, "AA0000000001", ""),
       .verdict = V::kSame,
       .count_policy_same = true,
       .risk = odds::kRandomNode},
      // The record's limit: addresses that differ by one byte in all six places write one text.
      {.name = "TQ11 same address under another first byte",
       .before = testing::MacIdText(1, 1, "0A1B2C3D4E5F", ""),
       .after = testing::MacIdText(1, 1, "0B1A2D3C4F5E", ""),
       .verdict = V::kSame,
       .count_policy_same = true},
      // Benign events: never "different machine"; undecided where an
      // impostor would show what still matches too often.
      {.name = "network card replaced: or a sibling whose serial checksum agrees",
       .before = a,
       .after = Office("3C9CB0000001", "PF2ABCDE1234"),
       .verdict = V::kUndecided,
       .count_policy_same = true,
       .risk = odds::kBatchSerialChecksum},
      {.name = "processor upgrade: or a machine of the model whose serial checksum agrees",
       .before = a,
       .after = Office("0A1B2C3D4E5F", "PF2ABCDE1234", Firmware::kSerial, kUpgrade),
       .verdict = V::kUndecided,
       .count_policy_same = true,
       .risk = odds::kBatchSerialChecksum},
      {.name = "processor upgrade under a looser threshold",
       .before = a,
       .after = Office("0A1B2C3D4E5F", "PF2ABCDE1234", Firmware::kSerial, kUpgrade),
       .verdict = V::kSame,
       .count_policy_same = true,
       .risk = odds::kBatchSerialChecksum,
       .policy = {.threshold = 1e-2}},
      {.name = "firmware read failed once (an STA caller): no change, but a moved adapter shows the rest",
       .before = a,
       .after = Office("0A1B2C3D4E5F", "", Firmware::kNotRead),
       .verdict = V::kUndecided,
       .count_policy_same = true,
       .risk = 1.0},
      {.name = "STA caller beside a card replaced",
       .before = a,
       .after = Office("3C9CB0000001", "", Firmware::kNotRead),
       .verdict = V::kUndecided,
       .count_policy_same = true,
       .risk = 1.0},
      {.name = "address from the UUID node once",
       .before = a,
       .after = Office("AA0000000001", "PF2ABCDE1234", Firmware::kSerial, kCpu, true),
       .verdict = V::kUndecided,
       .count_policy_same = false},
      {.name = "card and processor at once, real serial matches",
       .before = a,
       .after = Office("3C9CB0000001", "PF2ABCDE1234", Firmware::kSerial, kUpgrade),
       .verdict = V::kUndecided,
       .count_policy_same = false},
      // A sibling shows the model's processor text, never another: a changed
      // one leaves the machines of other models, here with a real UUID.
      {.name = "card and processor at once, real UUID matches: no sibling",
       .before = uuid_a,
       .after = Office("3C9CB0000001", "33221100-77665544-bbaa9988-ffeeddcc", Firmware::kUuid, kUpgrade),
       .verdict = V::kUndecided,
       .count_policy_same = false,
       .risk = odds::kChecksum},
      {.name = "GetPCSNEx processor upgrade: or a moved adapter",
       .before = ex_a,
       .after = Office("0A1B2C3D4E5F", "", Firmware::kSelfChecksum, kUpgrade),
       .verdict = V::kUndecided,
       .count_policy_same = true,
       .risk = 1.0},
      {.name = "TQ11 second card replaced: or a moved adapter",
       .before = mac_a,
       .after = testing::MacIdText(1, 2, "0A1B2C3D4E5F", "203040506070"),
       .verdict = V::kUndecided,
       .count_policy_same = true,
       .risk = 1.0},
      {.name = "TQ11 dual-port card replaced",
       .before = mac_a,
       .after = testing::MacIdText(1, 2, "0A1B2C3D4E70", "0A1B2C3D4E71"),
       .verdict = V::kUndecided,
       .count_policy_same = true},
      {.name = "TQ11 only card replaced",
       .before = testing::MacIdText(1, 1, "0A1B2C3D4E5F", ""),
       .after = testing::MacIdText(1, 1, "0A1B2C3D4E70", ""),
       .verdict = V::kUndecided,
       .count_policy_same = true},
      // Impostors: siblings of a batch, machines of the model, moved adapters.
      {.name = "sibling, serials 99 apart whose checksums agree",
       .before = Office("0A1B2C3D4E5F", "PF2A000101"),
       .after = Office("0A1B2C3D4E62", "PF2A000200"),
       .verdict = V::kUndecided,
       .count_policy_same = true,
       .risk = odds::kBatchSerialChecksum},
      {.name = "sibling, real serials",
       .before = a,
       .after = Office("0A1B2C3D4E70", "PF2ABCDE9999"),
       .verdict = V::kDifferent,
       .count_policy_same = false},
      {.name = "sibling, real UUIDs",
       .before = uuid_a,
       .after = Office("0A1B2C3D4E70", "43221100-77665544-bbaa9988-ffeeddcc", Firmware::kUuid),
       .verdict = V::kDifferent,
       .count_policy_same = false},
      {.name = "sibling, placeholder serial",
       .before = oem_a,
       .after = Office("0A1B2C3D4E70", kPlaceholder),
       .verdict = V::kUndecided,
       .count_policy_same = true,
       .risk = 1.0},
      {.name = "sibling, placeholder spelled in capitals",
       .before = Office("0A1B2C3D4E5F", "TO BE FILLED BY O.E.M."),
       .after = Office("0A1B2C3D4E70", "TO BE FILLED BY O.E.M."),
       .verdict = V::kUndecided,
       .count_policy_same = true,
       .risk = 1.0},
      {.name = "sibling, firmware unreadable",
       .before = Office("0A1B2C3D4E5F", "", Firmware::kNotRead),
       .after = Office("0A1B2C3D4E70", "", Firmware::kNotRead),
       .verdict = V::kUndecided,
       .count_policy_same = true},
      {.name = "GetPCSNEx sibling",
       .before = ex_a,
       .after = Office("0A1B2C3D4E70", "", Firmware::kSelfChecksum),
       .verdict = V::kUndecided,
       .count_policy_same = true},
      {.name = "GetPCSN moved adapter: the same first MAC, another real serial",
       .before = a,
       .after = Office("0A1B2C3D4E5F", "ZX9QWERTY77"),
       .verdict = V::kDifferent,
       .count_policy_same = true},
      {.name = "GetPCSN moved adapter to another model",
       .before = a,
       .after = Office("0A1B2C3D4E5F", "ZX9QWERTY77", Firmware::kSerial, kUpgrade),
       .verdict = V::kDifferent,
       .count_policy_same = false},
      {.name = "GetMacSN moved adapter: one address shared",
       .before = mac_a,
       .after = testing::MacIdText(1, 2, "0A1B2C3D4E5F", "3C9CB0000001"),
       .verdict = V::kUndecided,
       .count_policy_same = true,
       .risk = 1.0},
      {.name = "a firmware checksum's coincidence beside two changes",
       .before = "TQ122500ECF4511A0B0087AA4400DD4C",
       .after = "TQ1225008CECEFD30B0087AA3E00F927",
       .verdict = V::kUndecided,
       .count_policy_same = false},
      {.name = "no real firmware and two changes",
       .before = oem_a,
       .after = Office("3C9CB0000001", kPlaceholder, Firmware::kSerial, kUpgrade),
       .verdict = V::kDifferent,
       .count_policy_same = false},
      // Policies.
      {.name = "must keep the processor",
       .before = a,
       .after = Office("0A1B2C3D4E5F", "PF2ABCDE1234", Firmware::kSerial, kUpgrade),
       .verdict = V::kDifferent,
       .count_policy_same = true,
       .policy = {.must_keep = kComponentProcessor}},
      {.name = "nothing may change, no real firmware",
       .before = ex_a,
       .after = Office("0A1B2C3D4E70", "", Firmware::kSelfChecksum),
       .verdict = V::kDifferent,
       .count_policy_same = true,
       .policy = {.max_changed = 0}},
  };
  for (const Case& c : cases) {
    const Comparison r = CompareTexts(c.before, c.after, c.policy);
    ASSERT_EQ(r.status, CompareStatus::kOk) << c.name;
    EXPECT_EQ(r.verdict, c.verdict) << c.name << ": " << r.reason;
    EXPECT_EQ(r.same_machine, c.verdict == V::kSame) << c.name;
    EXPECT_EQ(CompareTexts(c.before, c.after).same_machine, c.count_policy_same) << c.name;
    if (c.risk != kAny) {
      EXPECT_DOUBLE_EQ(r.false_accept_probability, c.risk) << c.name;
    }
    // A changed identifier is the same machine only within the threshold,
    // and an undecided one names the competing explanations.
    if (r.verdict == V::kSame && !r.changes.empty()) {
      EXPECT_LE(r.false_accept_probability, c.policy.threshold) << c.name;
    }
    EXPECT_EQ(r.explanation.empty(), r.verdict != V::kUndecided) << c.name << ": " << r.explanation;
    ASSERT_EQ(r.evidence.size(), 4u) << c.name;
  }
}

TEST(VerdictTest, ExplanationNamesTheEventAndTheImpostor) {
  const Comparison r = CompareTexts(Office("0A1B2C3D4E5F", "PF2ABCDE1234"), Office("3C9CB0000001", "PF2ABCDE1234"), {});
  EXPECT_EQ(r.explanation,
            "a network card replaced, a moved adapter or a dock, or a sibling of its batch whose serial checksum "
            "agrees: about 1 in 200");
  EXPECT_EQ(r.likeliest, ImpostorClass::kSibling);
}

// The explanation written into a caller's buffer, as the C API does: cut
// to the buffer, always terminated.
TEST(VerdictTest, ExplanationFitsItsBuffer) {
  const struct {
    double probability;
    std::size_t capacity;
    const char* text;
  } cases[] = {
      {1.0 / 200.0, 64, "a processor upgrade, or a sibling of its batch: about 1 in 200"},
      {0.5, 64, "a processor upgrade, or a sibling of its batch: the records can"},
      {1.0 / 65536.0, 16, "a processor upg"},
      {1.0 / 65536.0, 1, ""},
  };
  for (const auto& c : cases) {
    char buffer[64];
    const std::size_t length =
        WriteExplanation("a processor upgrade", "a sibling of its batch", c.probability, buffer, c.capacity);
    EXPECT_STREQ(buffer, c.text);
    EXPECT_EQ(length, std::strlen(c.text));
  }
}

TEST(VerdictTest, OnlyRecordsTheDllWritesAreJudged) {
  const std::string ex = Office("0A1B2C3D4E5F", "", Firmware::kSelfChecksum);
  const std::string mac = testing::MacIdText(1, 2, "0A1B2C3D4E5F", "102030405060");
  const struct {
    std::string before, after;
    unsigned refused;
  } cases[] = {
      {.before = ex, .after = Forged(ex, 4, "A1FF"), .refused = 2},                // source flags 0xFFA1
      {.before = Forged(ex, 20, "0000"), .after = ex, .refused = 1},               // record checksum zeroed
      {.before = mac, .after = "TQ1100020011263744550B3B2B5B4B7B", .refused = 2},  // a UUID's node with two addresses
      {.before = "TQ110102001126374455110037265544", .after = mac, .refused = 1},  // two equal addresses
      {.before = Forged(ex, 4, "A1FF"), .after = Forged(ex, 20, "0000"), .refused = 3},
  };
  for (const auto& c : cases) {
    for (const ComparePolicy& policy : {ComparePolicy{}, CountPolicy()}) {
      const Comparison r = CompareTexts(c.before, c.after, policy);
      EXPECT_EQ(r.status, CompareStatus::kNotWrittenByDll) << c.before << " " << c.after;
      EXPECT_EQ(r.refused, c.refused) << c.before << " " << c.after;
      EXPECT_FALSE(r.same_machine);
    }
  }
}

// Every placeholder, written out here rather than read from the table it
// checks, so that a wrong or lost entry fails: the tool recognises each text
// (the usual UUID form too), and each one the DLL can put into a record is
// recognised there by its length and checksum and leaves siblings undecided.
// A serial number shorter than 8 characters or beginning with a blank never
// reaches a record: the DLL takes the UUID then.
TEST(VerdictTest, EachPlaceholderIsWeakEvidence) {
  const struct {
    const char* text;  // as the tool is given it
    Firmware firmware;
    const char* in_record;  // the text the DLL measures, or null when it never uses it
    // The table's spelling a record of another spelling is recognised as
    // (null: in_record itself).
    const char* recognised_as = nullptr;
  } cases[] = {
      {.text = "To be filled by O.E.M.", .firmware = Firmware::kSerial, .in_record = "To be filled by O.E.M."},
      {.text = "To Be Filled By O.E.M.", .firmware = Firmware::kSerial, .in_record = "To Be Filled By O.E.M."},
      {.text = "Default string", .firmware = Firmware::kSerial, .in_record = "Default string"},
      {.text = "System Serial Number", .firmware = Firmware::kSerial, .in_record = "System Serial Number"},
      {.text = "Chassis Serial Number", .firmware = Firmware::kSerial, .in_record = "Chassis Serial Number"},
      {.text = "Not Specified", .firmware = Firmware::kSerial, .in_record = "Not Specified"},
      {.text = "Not Applicable", .firmware = Firmware::kSerial, .in_record = "Not Applicable"},
      {.text = "0123456789", .firmware = Firmware::kSerial, .in_record = "0123456789"},
      {.text = "1234567890", .firmware = Firmware::kSerial, .in_record = "1234567890"},
      {.text = "123456789", .firmware = Firmware::kSerial, .in_record = "123456789"},
      {.text = "00000000", .firmware = Firmware::kSerial, .in_record = "00000000"},
      {.text = "000000000000", .firmware = Firmware::kSerial, .in_record = "000000000000"},
      {.text = "0000000000000000000000000000000000000000000000000000000000000000",
       .firmware = Firmware::kSerial,
       .in_record = "0000000000000000000000000000000000000000000000000000000000000000"},
      {.text = "00000000000000000000", .firmware = Firmware::kSerial, .in_record = "00000000000000000000"},
      {.text = "XXXXXXXXXX", .firmware = Firmware::kSerial, .in_record = "XXXXXXXXXX"},
      {.text = "12345678", .firmware = Firmware::kSerial, .in_record = "12345678"},
      {.text = "Default String",
       .firmware = Firmware::kSerial,
       .in_record = "Default String",
       .recognised_as = "Default string"},
      {.text = "TO BE FILLED BY O.E.M.",
       .firmware = Firmware::kSerial,
       .in_record = "TO BE FILLED BY O.E.M.",
       .recognised_as = "To be filled by O.E.M."},
      {.text = "To be filled by O.E.M. ",
       .firmware = Firmware::kSerial,
       .in_record = "To be filled by O.E.M. ",
       .recognised_as = "To be filled by O.E.M."},
      {.text = "None", .firmware = Firmware::kSerial, .in_record = nullptr},
      {.text = "OEM", .firmware = Firmware::kSerial, .in_record = nullptr},
      {.text = "O.E.M.", .firmware = Firmware::kSerial, .in_record = nullptr},
      {.text = "Default", .firmware = Firmware::kSerial, .in_record = nullptr},
      {.text = "INVALID", .firmware = Firmware::kSerial, .in_record = nullptr},
      {.text = "          ", .firmware = Firmware::kSerial, .in_record = nullptr},
      {.text = "00000000-0000-0000-0000-000000000000",
       .firmware = Firmware::kUuid,
       .in_record = "00000000-00000000-00000000-00000000"},
      {.text = "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF",
       .firmware = Firmware::kUuid,
       .in_record = "ffffffff-ffffffff-ffffffff-ffffffff"},
      {.text = "03000200-0400-0500-0006-000700080009",
       .firmware = Firmware::kUuid,
       .in_record = "03000200-05000400-07000600-09000800"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(IsPlaceholderFirmwareText(c.text)) << c.text;
    if (c.in_record == nullptr) {
      EXPECT_FALSE(SerialNumberUsable(c.text)) << c.text;
      continue;
    }
    EXPECT_TRUE(IsPlaceholderFirmwareText(c.in_record)) << c.in_record;
    const std::string one = Office("0A1B2C3D4E5F", c.in_record, c.firmware);
    EXPECT_EQ(RecognisedPlaceholder(Decode(ParseIdentifier(one)).machine),
              c.recognised_as != nullptr ? c.recognised_as : c.in_record);
    const Comparison r =
        Compare(ParseIdentifier(one), ParseIdentifier(Office("0A1B2C3D4E70", c.in_record, c.firmware)));
    EXPECT_EQ(r.verdict, MachineVerdict::kUndecided) << c.in_record;
    EXPECT_EQ(r.evidence[2].weaker(), Strength::kWeak) << c.in_record;
  }
}

}  // namespace
}  // namespace tavsn::server
