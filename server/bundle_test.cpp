#include "server/bundle.h"

#include <gtest/gtest.h>

#include <vector>

#include "server/test_records.h"
#include "tavsn_server.h"

namespace tavsn::server {
namespace {

using testing::Firmware;
using testing::MachineIdText;
using testing::MachineInputs;
using testing::MacIdText;

// The DLL's fingerprints of one machine, disk readable and not.
constexpr char kFingerprint[] = "623FBDEBE453CAE4A61E315703441D1";
constexpr char kFingerprintNoDisk[] = "175D43E9AEC486C9209E5B71CA23CE4";

constexpr char kFirst[] = "001A2B3C4D5E";
constexpr char kSecond[] = "001A2B3C4D60";
constexpr char kCpu[] = "Example CPU-00000000-00000006-00000094";
constexpr char kOtherCpu[] = "Example CPU-00000000-00000006-000000A5";
constexpr char kUuid[] = "33221100-77665544-bbaa9988-ffeeddcc";

std::string MacId(const char* first = kFirst, const char* second = kSecond, int count = 2) {
  return MacIdText(MacSnRecord::kSourceAdapter, count, first, second);
}
std::string PcSn(const char* mac = kFirst, const char* serial = "SN4C0A8123", const char* cpu = kCpu,
                 Firmware firmware = Firmware::kSerial) {
  return MachineIdText({.mac = mac, .processor = cpu, .firmware = firmware, .system_text = serial});
}
std::string PcSnEx(const char* mac = kFirst, const char* cpu = kCpu) {
  return MachineIdText({.mac = mac, .processor = cpu, .firmware = Firmware::kSelfChecksum});
}

struct BundleCase {
  const char* name;
  std::vector<std::string> before;
  std::vector<std::string> after;
  BundleStatus status = BundleStatus::kOk;
  MachineVerdict verdict = MachineVerdict::kUndecided;
  int c_code = TAVSN_SERVER_OK;
  unsigned side = 0;   // errors: the side refused
  double risk = -1.0;  // false_accept_probability, where the rules fix it
};

std::vector<BundleCase> Cases() {
  const std::vector<std::string> machine = {MacId(), PcSn(), PcSnEx(), kFingerprint};
  return {
      {.name = "the same bundle", .before = machine, .after = machine, .verdict = MachineVerdict::kSame},
      {.name = "in another order, disk unreadable",
       .before = machine,
       .after = {kFingerprintNoDisk, PcSnEx(), PcSn(), MacId()},
       .verdict = MachineVerdict::kSame},
      // A machine whose firmware is never read that received this one's
      // adapters writes the same.
      {.name = "firmware not read on one side (a UI thread)",
       .before = machine,
       .after = {MacId(), PcSn(kFirst, "", kCpu, Firmware::kNotRead), PcSnEx()},
       .verdict = MachineVerdict::kUndecided},
      {.name = "a processor upgrade: the firmware still matches, about 1 in 200",
       .before = machine,
       .after = {MacId(), PcSn(kFirst, "SN4C0A8123", kOtherCpu), PcSnEx(kFirst, kOtherCpu)},
       .verdict = MachineVerdict::kUndecided},
      // A sibling or a machine of the model shows the model's processor
      // text: a changed one leaves machines of other models.
      {.name = "card and processor at once, a real UUID matches: no sibling",
       .before = {MacId(), PcSn(kFirst, kUuid, kCpu, Firmware::kUuid)},
       .after = {MacId("001A2B990001", "001A2B990002"), PcSn("001A2B990001", kUuid, kOtherCpu, Firmware::kUuid)},
       .verdict = MachineVerdict::kUndecided,
       .risk = odds::kChecksum},
      {.name = "a dual-port card replaced",
       .before = machine,
       .after = {MacId("001A2B990001", "001A2B990002"), PcSn("001A2B990001"), PcSnEx("001A2B990001")},
       .verdict = MachineVerdict::kUndecided},
      {.name = "a moved adapter on another board: its serial contradicts",
       .before = machine,
       .after = {MacId(kFirst, "0090F5000007"), PcSn(kFirst, "SN4C0A8124"), PcSnEx()},
       .verdict = MachineVerdict::kDifferent},
      {.name = "a moved adapter and another processor, no firmware: two events",
       .before = {MacId(), PcSnEx()},
       .after = {MacId(kFirst, "0090F5000007"), PcSnEx(kFirst, kOtherCpu)},
       .verdict = MachineVerdict::kDifferent},
      {.name = "a sibling of the batch",
       .before = machine,
       .after = {MacId("001A2B3C4D62", "001A2B3C4D63"), PcSn("001A2B3C4D62", "SN4C0A8125"), PcSnEx("001A2B3C4D62")},
       .verdict = MachineVerdict::kDifferent},
      {.name = "fingerprints alone",
       .before = {kFingerprint},
       .after = {kFingerprint},
       .verdict = MachineVerdict::kUndecided},
      {.name = "nothing in common",
       .before = {MacId()},
       .after = {kFingerprint},
       .status = BundleStatus::kNothingInCommon,
       .c_code = TAVSN_SERVER_ERROR_DIFFERENT_KINDS},
      {.name = "two of one kind",
       .before = machine,
       .after = {MacId(), MacId()},
       .status = BundleStatus::kInconsistent,
       .c_code = TAVSN_SERVER_ERROR_INCONSISTENT_BUNDLE,
       .side = 2},
      {.name = "GetPCSN and GetPCSNEx of two processors",
       .before = {PcSn(), PcSnEx(kFirst, kOtherCpu)},
       .after = machine,
       .status = BundleStatus::kInconsistent,
       .c_code = TAVSN_SERVER_ERROR_INCONSISTENT_BUNDLE,
       .side = 1},
      {.name = "GetPCSN and GetPCSNEx of two first MACs",
       .before = {PcSn(), PcSnEx(kSecond)},
       .after = machine,
       .status = BundleStatus::kInconsistent,
       .c_code = TAVSN_SERVER_ERROR_INCONSISTENT_BUNDLE,
       .side = 1},
      {.name = "a TQ11 whose first address is not the TQ12's first MAC",
       .before = machine,
       .after = {MacId(kSecond, "001A2B3C4D70"), PcSnEx()},
       .status = BundleStatus::kInconsistent,
       .c_code = TAVSN_SERVER_ERROR_INCONSISTENT_BUNDLE,
       .side = 2},
      {.name = "a record the DLL does not write",
       .before = machine,
       .after = {MacId(), "TQ120000000000000000000000000000"},
       .status = BundleStatus::kNotWrittenByDll,
       .c_code = TAVSN_SERVER_ERROR_NOT_DLL_RECORD,
       .side = 2},
      {.name = "a malformed member",
       .before = {MacId(), "TQ11 not hex"},
       .after = machine,
       .status = BundleStatus::kMalformed,
       .c_code = TAVSN_SERVER_ERROR_LENGTH,
       .side = 1},
  };
}

tavsn_bundle CBundle(const std::vector<std::string>& texts) {
  tavsn_bundle bundle = {};
  bundle.count = texts.size();
  for (std::size_t i = 0; i < texts.size() && i < TAVSN_BUNDLE_MAX_MEMBERS; ++i) {
    bundle.texts[i] = texts[i].data();
    bundle.lengths[i] = texts[i].size();
  }
  return bundle;
}

int CVerdict(MachineVerdict verdict) {
  return verdict == MachineVerdict::kSame        ? TAVSN_SAME_MACHINE
         : verdict == MachineVerdict::kDifferent ? TAVSN_DIFFERENT_MACHINE
                                                 : TAVSN_UNDECIDED;
}

TEST(BundleTest, JudgesOneMachinesIdentifiersTogetherInCppAndC) {
  for (const BundleCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    const BundleComparison cpp = CompareBundles(c.before, c.after);
    EXPECT_EQ(cpp.status, c.status);
    const tavsn_bundle before = CBundle(c.before), after = CBundle(c.after);
    tavsn_bundle_judgment judgment;
    EXPECT_EQ(tavsn_judge_bundles(&before, &after, nullptr, 0.0, &judgment), c.c_code);
    if (c.status != BundleStatus::kOk) {
      EXPECT_EQ(cpp.side, c.side);
      EXPECT_EQ(judgment.error_side, static_cast<int>(c.side));
      EXPECT_EQ(judgment.risk.verdict, TAVSN_UNDECIDED);
      continue;
    }
    EXPECT_EQ(cpp.verdict, c.verdict) << cpp.reason;
    EXPECT_EQ(judgment.risk.verdict, CVerdict(c.verdict));
    EXPECT_EQ(judgment.risk.false_accept_probability, cpp.false_accept_probability);
    if (c.risk >= 0.0) {
      EXPECT_DOUBLE_EQ(cpp.false_accept_probability, c.risk);
    }
    // Never an accept above the threshold after a change, nor an undecided
    // verdict without its explanation.
    if (cpp.verdict == MachineVerdict::kSame && cpp.changed != 0) {
      EXPECT_LE(cpp.false_accept_probability, 1e-5);
    }
    EXPECT_EQ(cpp.explanation.empty(), cpp.verdict != MachineVerdict::kUndecided);
    // A bundle never accepts what one of its members calls another machine.
    for (const MemberJudgment& member : cpp.members) {
      if (member.member == BundleMember::kFingerprint) continue;
      if (member.comparison.verdict == MachineVerdict::kDifferent) {
        EXPECT_NE(cpp.verdict, MachineVerdict::kSame);
      }
      EXPECT_EQ(judgment.member_verdict[static_cast<int>(member.member)], CVerdict(member.comparison.verdict));
    }
  }
}

TEST(BundleTest, CRefusesBadArguments) {
  const std::vector<std::string> mac = {MacId()};
  tavsn_bundle one = CBundle(mac), empty = {}, too_many = CBundle(mac);
  too_many.count = TAVSN_BUNDLE_MAX_MEMBERS + 1;
  tavsn_bundle_judgment judgment;
  EXPECT_EQ(tavsn_judge_bundles(&one, &empty, nullptr, 0.0, &judgment), TAVSN_SERVER_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(judgment.error_side, 2);
  EXPECT_EQ(tavsn_judge_bundles(&too_many, &one, nullptr, 0.0, &judgment), TAVSN_SERVER_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(tavsn_judge_bundles(nullptr, &one, nullptr, 0.0, &judgment), TAVSN_SERVER_ERROR_NULL);
  EXPECT_EQ(tavsn_judge_bundles(&one, &one, nullptr, 2.0, &judgment), TAVSN_SERVER_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(tavsn_judge_bundles(&one, &one, nullptr, 0.0, nullptr), TAVSN_SERVER_ERROR_NULL);
  EXPECT_EQ(tavsn_judge_bundles(&one, &one, nullptr, 0.0, &judgment), TAVSN_SERVER_OK);
  EXPECT_EQ(judgment.member_changed[TAVSN_MEMBER_GETMACSN], 0);
  EXPECT_EQ(judgment.member_changed[TAVSN_MEMBER_FINGERPRINT], -1);
}

}  // namespace
}  // namespace tavsn::server
