#include "server/compare.h"

#include <gtest/gtest.h>

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
  in.system_text = "SN-0000-1111";
  if (changed & kComponentMac) in.mac = "0A1B2C3D4E60";
  if (changed & kComponentProcessor) in.processor = "Other CPU-00000000-00000006-00000095";
  if (changed & kComponentFirmware) in.system_text = "SN-0000-2222";
  if (changed & kComponentMacSource) in.mac_from_uuid = true;
  return MachineIdText(in);
}

Comparison CompareTexts(const std::string& a, const std::string& b, const ComparePolicy& policy = {}) {
  return Compare(ParseIdentifier(a), ParseIdentifier(b), policy);
}

// Index: the set of changed components (bit 0 MAC, 1 processor, 2 firmware,
// 3 MAC source). The default policy keeps the machine for none or one.
constexpr bool kDefaultSameMachine[16] = {true,  true,  true,  false, true,  false, false, false,
                                          true,  false, false, false, false, false, false, false};

TEST(CompareTest, DefaultPolicyOnEveryCombinationOfChangedComponents) {
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
      {{0, 0}, 0, true},
      {{0, 0}, kComponentMac, false},
      {{1, kComponentProcessor}, kComponentMac, true},
      {{1, kComponentProcessor}, kComponentProcessor, false},
      {{2, 0}, kComponentMac | kComponentMacSource, true},
      {{2, 0}, kComponentMac | kComponentMacSource | kComponentFirmware, false},
      {{4, kComponentFirmware}, kComponentMac | kComponentProcessor | kComponentMacSource, true},
      {{4, kComponentFirmware}, kComponentFirmware, false},
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
  EXPECT_EQ(c.changes[0].field, "processor_length");
  EXPECT_EQ(c.changes[0].before, "38");
  EXPECT_EQ(c.changes[0].after, "36");
  EXPECT_EQ(c.changes[1].field, "processor_checksum");
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
      {two, 0, true},
      {testing::MacIdText(1, 2, "0A1B2C3D4E5F", "102030405061"), kComponentMac, true},
      {testing::MacIdText(1, 3, "0A1B2C3D4E5F", "102030405060"), kComponentMac, true},
      {testing::MacIdText(0, 2, "0A1B2C3D4E5F", "102030405060"), kComponentMacSource, true},
      {testing::MacIdText(0, 1, "AABBCCDDEEFF", ""), kComponentMac | kComponentMacSource, false},
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
      {mac, ex, CompareStatus::kDifferentKinds},
      {ex, Machine(0, Firmware::kSerial), CompareStatus::kDifferentExports},
      {Machine(0, Firmware::kNotRead), ex, CompareStatus::kDifferentExports},
      {ex, damaged_ex, CompareStatus::kOk},
      {ex, ex.substr(1), CompareStatus::kMalformed},
      {"TQ13" + ex.substr(4), ex, CompareStatus::kMalformed},
  };
  for (const Case& c : cases) {
    const Comparison r = CompareTexts(c.a, c.b);
    EXPECT_EQ(r.status, c.status) << c.a << " " << c.b;
    EXPECT_EQ(r.same_machine, c.status == CompareStatus::kOk) << c.a << " " << c.b;
  }
  // A firmware read that failed once counts as a firmware change.
  const Comparison lost = CompareTexts(Machine(0, Firmware::kSerial), Machine(0, Firmware::kNotRead));
  EXPECT_EQ(lost.changed, kComponentFirmware);
  EXPECT_TRUE(lost.same_machine);
}

}  // namespace
}  // namespace tavsn::server
