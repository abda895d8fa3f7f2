#include "tavsn_server.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace {

constexpr char kTwoMacs[] = "TQ1101020011263744550B3B2B5B4B7B";
constexpr char kMachineEx[] = "TQ1221000A1B7B480E00B8FF26006C9C";
constexpr char kMachineEx2[] = "TQ1221000A1B7B480E0068882400BF13";

TEST(CApiTest, DecodeResultsAndErrorDetail) {
  struct Case {
    std::string text;
    int result;
    std::size_t detail;
  } cases[] = {
      {.text = kTwoMacs, .result = TAVSN_SERVER_OK, .detail = 0},
      {.text = std::string(kTwoMacs, 31), .result = TAVSN_SERVER_ERROR_LENGTH, .detail = 31},
      {.text = "TQ14" + std::string(kTwoMacs + 4), .result = TAVSN_SERVER_ERROR_TAG, .detail = 3},
      {.text = std::string(kTwoMacs, 30) + "bB", .result = TAVSN_SERVER_ERROR_CHARACTER, .detail = 30},
  };
  for (const Case& c : cases) {
    // Exactly the text's bytes, no terminating zero.
    std::unique_ptr<char[]> copy(new char[c.text.size()]);
    std::memcpy(copy.get(), c.text.data(), c.text.size());
    tavsn_decoded d;
    EXPECT_EQ(tavsn_decode(copy.get(), c.text.size(), &d), c.result) << c.text;
    EXPECT_EQ(d.error_detail, c.detail) << c.text;
    EXPECT_STRNE(tavsn_server_error_text(c.result), "unknown result code");
  }
  EXPECT_EQ(tavsn_decode(kTwoMacs, 32, nullptr), TAVSN_SERVER_ERROR_NULL);
  tavsn_decoded d;
  EXPECT_EQ(tavsn_decode(nullptr, 32, &d), TAVSN_SERVER_ERROR_NULL);
}

TEST(CApiTest, DecodesBothKinds) {
  tavsn_decoded d;
  ASSERT_EQ(tavsn_decode(kTwoMacs, 32, &d), TAVSN_SERVER_OK);
  EXPECT_EQ(d.kind, TAVSN_KIND_MAC);
  EXPECT_EQ(d.mac_source, 1);
  EXPECT_EQ(d.mac_count, 2);
  const unsigned char second[6] = {0x0B, 0x3B, 0x2B, 0x5B, 0x4B, 0x7B};
  EXPECT_EQ(std::memcmp(d.second_mac_masked, second, 6), 0);
  EXPECT_EQ(d.anomaly_count, 0u);

  ASSERT_EQ(tavsn_decode(kMachineEx, 32, &d), TAVSN_SERVER_OK);
  EXPECT_EQ(d.kind, TAVSN_KIND_MACHINE);
  EXPECT_EQ(d.source_flags, 0x0021);
  EXPECT_EQ(d.mac_checksum, 0x487B);
  EXPECT_EQ(d.processor_length, 38);
  EXPECT_EQ(d.made_by, TAVSN_MADE_BY_GETPCSNEX);
  EXPECT_EQ(d.self_checksum_verifies, 1);
}

TEST(CApiTest, Matchers) {
  const char* macs[] = {"10-20-30-40-50-60", "0a1b2c3d4e5f"};
  int verdict = -1;
  EXPECT_EQ(tavsn_match_mac(kTwoMacs, 32, macs, 2, 1, -1, &verdict), TAVSN_SERVER_OK);
  EXPECT_EQ(verdict, TAVSN_VERDICT_MATCH);
  EXPECT_EQ(tavsn_match_mac(kTwoMacs, 32, macs, 2, 0, -1, &verdict), TAVSN_SERVER_OK);
  EXPECT_EQ(verdict, TAVSN_VERDICT_MISMATCH);
  EXPECT_EQ(tavsn_match_mac(kTwoMacs, 32, macs, 2, 1, 0, &verdict), TAVSN_SERVER_OK);
  EXPECT_EQ(verdict, TAVSN_VERDICT_MISMATCH);
  const char* bad[] = {"0A1B2C3D4E5"};
  EXPECT_EQ(tavsn_match_mac(kTwoMacs, 32, bad, 1, 1, -1, &verdict), TAVSN_SERVER_ERROR_BAD_FACT);
  EXPECT_EQ(verdict, TAVSN_VERDICT_BAD_FACT);
  const char* null_entry[] = {nullptr};
  EXPECT_EQ(tavsn_match_mac(kTwoMacs, 32, null_entry, 1, 1, -1, &verdict), TAVSN_SERVER_ERROR_NULL);
  EXPECT_EQ(tavsn_match_mac(kMachineEx, 32, macs, 2, 1, -1, &verdict), TAVSN_SERVER_ERROR_WRONG_KIND);

  tavsn_machine_facts facts = {"0A1B2C3D4E5F", "Example CPU-00000000-00000006-00000094", "SN-12345678", nullptr};
  tavsn_machine_match m;
  ASSERT_EQ(tavsn_match_machine(kMachineEx, 32, &facts, &m), TAVSN_SERVER_OK);
  EXPECT_EQ(m.mac, TAVSN_VERDICT_MATCH);
  EXPECT_EQ(m.processor, TAVSN_VERDICT_MATCH);
  EXPECT_EQ(m.serial_number, TAVSN_VERDICT_NOT_CHECKABLE);
  EXPECT_EQ(m.uuid_text, TAVSN_VERDICT_NOT_GIVEN);
  EXPECT_EQ(m.overall, TAVSN_VERDICT_MATCH);
  EXPECT_EQ(tavsn_match_machine(kTwoMacs, 32, &facts, &m), TAVSN_SERVER_ERROR_WRONG_KIND);
  EXPECT_EQ(tavsn_match_machine(kMachineEx, 32, nullptr, &m), TAVSN_SERVER_ERROR_NULL);
}

TEST(CApiTest, CompareWithDefaultAndGivenPolicy) {
  tavsn_comparison c;
  ASSERT_EQ(tavsn_compare(kMachineEx, 32, kMachineEx2, 32, nullptr, &c), TAVSN_SERVER_OK);
  EXPECT_EQ(c.changed_components, TAVSN_COMPONENT_PROCESSOR);
  EXPECT_EQ(c.changed_fields, 2u);
  EXPECT_EQ(c.same_machine, 1);
  const tavsn_compare_policy strict = {1, TAVSN_COMPONENT_PROCESSOR};
  ASSERT_EQ(tavsn_compare(kMachineEx, 32, kMachineEx2, 32, &strict, &c), TAVSN_SERVER_OK);
  EXPECT_EQ(c.same_machine, 0);
  EXPECT_EQ(tavsn_compare(kMachineEx, 32, kTwoMacs, 32, nullptr, &c), TAVSN_SERVER_ERROR_DIFFERENT_KINDS);
  EXPECT_EQ(tavsn_compare(kMachineEx, 31, kMachineEx2, 32, nullptr, &c), TAVSN_SERVER_ERROR_LENGTH);
  EXPECT_EQ(tavsn_compare(kMachineEx, 32, kMachineEx2, 32, nullptr, nullptr), TAVSN_SERVER_ERROR_NULL);
}

// What the tool's JSON shows beyond tavsn_decoded; the Python module and the
// tool are checked against each other on one table of pairs elsewhere.
TEST(CApiTest, DescribeAndJudge) {
  tavsn_details x;
  ASSERT_EQ(tavsn_describe(kMachineEx, 32, &x), TAVSN_SERVER_OK);
  EXPECT_EQ(x.anomaly_count, 0u);
  ASSERT_EQ(x.flag_word_count, 2u);
  EXPECT_STREQ(x.source_flag_words[1], "processor details");
  EXPECT_EQ(x.evidence[0].strength, TAVSN_STRENGTH_STRONG);
  EXPECT_EQ(x.evidence[1].strength, TAVSN_STRENGTH_WEAK);
  EXPECT_EQ(x.evidence[2].strength, TAVSN_STRENGTH_ABSENT);
  std::string forged = kMachineEx;
  forged.replace(4, 4, "A1FF");  // source flags 0xFFA1
  ASSERT_EQ(tavsn_describe(forged.data(), 32, &x), TAVSN_SERVER_OK);
  EXPECT_EQ(x.anomaly_count, 2u);  // the flags, and the record checksum over them
  EXPECT_STREQ(x.source_flag_words[x.flag_word_count - 1], "unknown bits");
  EXPECT_EQ(x.evidence[0].reason, nullptr);  // a forged record is not weighed

  tavsn_judgment j;
  ASSERT_EQ(tavsn_judge(kMachineEx, 32, kMachineEx2, 32, nullptr, &j), TAVSN_SERVER_OK);
  EXPECT_EQ(j.verdict, TAVSN_SAME_MACHINE);
  ASSERT_EQ(j.change_count, 2u);
  EXPECT_STREQ(j.changes[1].field, "processor_checksum");
  EXPECT_STREQ(j.changes[1].after, "0x13BF");
  EXPECT_EQ(j.evidence[1].changed, 1);
  EXPECT_EQ(tavsn_judge(kMachineEx, 32, forged.data(), 32, nullptr, &j), TAVSN_SERVER_ERROR_NOT_DLL_RECORD);
  EXPECT_EQ(j.error_side, 2);
  EXPECT_EQ(j.verdict, TAVSN_UNDECIDED);
  EXPECT_EQ(tavsn_judge(kMachineEx, 31, kMachineEx2, 32, nullptr, &j), TAVSN_SERVER_ERROR_LENGTH);
  EXPECT_EQ(j.error_side, 1);
  EXPECT_EQ(j.error_detail, 31u);
  const tavsn_policy bogus = {7, 1, 0};
  EXPECT_EQ(tavsn_judge(kMachineEx, 32, kMachineEx2, 32, &bogus, &j), TAVSN_SERVER_ERROR_BAD_ARGUMENT);
  tavsn_comparison c;
  EXPECT_EQ(tavsn_compare(forged.data(), 32, kMachineEx, 32, nullptr, &c), TAVSN_SERVER_ERROR_NOT_DLL_RECORD);
  int verdict = 0;
  const char* macs[] = {"0A1B2C3D4E5F"};
  EXPECT_EQ(tavsn_match_mac("TQ1102020011263744550B3B2B5B4B7B", 32, macs, 1, 1, -1, &verdict),
            TAVSN_SERVER_ERROR_NOT_DLL_RECORD);
  EXPECT_EQ(verdict, TAVSN_VERDICT_NOT_WRITTEN_BY_DLL);
}

// Every output is set on every path, and every argument out of its range
// is an error.
TEST(CApiTest, OutputsOnEveryPathAndArgumentsInRange) {
  int verdict = -1;
  EXPECT_EQ(tavsn_match_mac(kTwoMacs, 32, nullptr, 2, 1, -1, &verdict), TAVSN_SERVER_ERROR_NULL);
  EXPECT_EQ(verdict, TAVSN_VERDICT_NOT_CHECKABLE);
  const char* macs[] = {"0A1B2C3D4E5F"};
  for (int source : {-2, 2, 255}) {
    verdict = -1;
    EXPECT_EQ(tavsn_match_mac(kTwoMacs, 32, macs, 1, 1, source, &verdict), TAVSN_SERVER_ERROR_BAD_ARGUMENT);
    EXPECT_EQ(verdict, TAVSN_VERDICT_NOT_CHECKABLE) << source;
  }
  tavsn_machine_match m;
  std::memset(&m, 0x55, sizeof m);
  EXPECT_EQ(tavsn_match_machine(kMachineEx, 32, nullptr, &m), TAVSN_SERVER_ERROR_NULL);
  EXPECT_EQ(m.overall, TAVSN_VERDICT_NOT_CHECKABLE);
  EXPECT_EQ(m.mac, TAVSN_VERDICT_NOT_CHECKABLE);
  tavsn_comparison c;
  const tavsn_compare_policy out_of_range[] = {{.max_changed = 5, .must_keep = 0},
                                               {.max_changed = 1, .must_keep = 0x10},
                                               {.max_changed = 0xFFFFFFFFu, .must_keep = 0}};
  for (const tavsn_compare_policy& policy : out_of_range) {
    EXPECT_EQ(tavsn_compare(kMachineEx, 32, kMachineEx2, 32, &policy, &c), TAVSN_SERVER_ERROR_BAD_ARGUMENT);
    const tavsn_policy judged = {TAVSN_POLICY_COUNT, policy.max_changed, policy.must_keep};
    tavsn_judgment j;
    EXPECT_EQ(tavsn_judge(kMachineEx, 32, kMachineEx2, 32, &judged, &j), TAVSN_SERVER_ERROR_BAD_ARGUMENT);
  }
}

// ---- The fingerprint of tav_get_pc_id ----------------------------------------

constexpr char kFingerprint[] = "623FBDEBE453CAE4A61E315703441D1";        // the worked example
constexpr char kFingerprintNoDisk[] = "175D43E9AEC486C9209E5B71CA23CE4";  // the same, disk unreadable

tavsn_fingerprint_facts WorkedExampleFacts() {
  tavsn_fingerprint_facts facts = {};
  facts.cpu_vendor = "GenuineIntel";
  facts.highest_leaf = 0x16;
  facts.mhz = facts.memory_bytes = -1;
  facts.disk_bytes = 500107862016ll;
  facts.mac = "00-1A-2B-3C-4D-5E";
  return facts;
}

TEST(CApiTest, FingerprintParseAndCompare) {
  struct Case {
    std::string first, second;
    int result, equal, error_side;
    std::size_t detail;
  } cases[] = {
      {.first = kFingerprint,
       .second = kFingerprint + std::string(1, '\0'),
       .result = TAVSN_SERVER_OK,
       .equal = 1,
       .error_side = 0,
       .detail = 0},
      {.first = kFingerprint,
       .second = kFingerprintNoDisk,
       .result = TAVSN_SERVER_OK,
       .equal = 0,
       .error_side = 0,
       .detail = 0},
      {.first = kFingerprint,
       .second = std::string(kFingerprint, 30),
       .result = TAVSN_SERVER_ERROR_LENGTH,
       .equal = 0,
       .error_side = 2,
       .detail = 30},
      {.first = "x" + std::string(kFingerprint + 1),
       .second = kFingerprint,
       .result = TAVSN_SERVER_ERROR_CHARACTER,
       .equal = 0,
       .error_side = 1,
       .detail = 0},
  };
  for (const Case& c : cases) {
    tavsn_fingerprint_comparison out;
    std::memset(&out, 0x5A, sizeof out);
    EXPECT_EQ(tavsn_compare_fingerprints(c.first.data(), c.first.size(), c.second.data(), c.second.size(), &out),
              c.result);
    EXPECT_EQ(out.equal, c.equal);
    EXPECT_EQ(out.same_first_adapter, c.equal);
    EXPECT_EQ(out.error_side, c.error_side);
    EXPECT_EQ(out.error_detail, c.detail);
    std::size_t detail = 99;
    const bool first_bad = c.error_side == 1;
    const std::string& checked = first_bad ? c.first : c.second;
    EXPECT_EQ(tavsn_parse_fingerprint(checked.data(), checked.size(), &detail), c.result);
    EXPECT_EQ(detail, c.detail);
  }
  EXPECT_EQ(tavsn_compare_fingerprints(kFingerprint, 31, kFingerprint, 31, nullptr), TAVSN_SERVER_ERROR_NULL);
  EXPECT_EQ(tavsn_parse_fingerprint(nullptr, 31, nullptr), TAVSN_SERVER_ERROR_NULL);
}

TEST(CApiTest, FingerprintMatchSetsEveryOutput) {
  const char* others[] = {"0ABCDEF01234"};
  struct Case {
    const char* text;
    std::function<void(tavsn_fingerprint_facts&)> change;
    int result, verdict;
    unsigned first_causes;
  } cases[] = {
      {.text = kFingerprint,
       .change = [](auto&) {},
       .result = TAVSN_SERVER_OK,
       .verdict = TAVSN_VERDICT_MATCH,
       .first_causes = 0},
      {.text = kFingerprintNoDisk,
       .change = [&](auto& f) { f.other_macs = others, f.other_mac_count = 1; },
       .result = TAVSN_SERVER_OK,
       .verdict = TAVSN_VERDICT_MISMATCH,
       .first_causes = TAVSN_CAUSE_DISK_UNREADABLE},
      {.text = kFingerprint,
       .change = [](auto& f) { f.mac = "00-1A-2B"; },
       .result = TAVSN_SERVER_ERROR_BAD_FACT,
       .verdict = TAVSN_VERDICT_BAD_FACT,
       .first_causes = 0},
      {.text = kFingerprint,
       .change = [](auto& f) { f.cpu_vendor = nullptr; },
       .result = TAVSN_SERVER_OK,
       .verdict = TAVSN_VERDICT_NOT_CHECKABLE,
       .first_causes = 0},
      {.text = kFingerprint,
       .change = [](auto& f) { f.has_leaf0 = 2; },
       .result = TAVSN_SERVER_ERROR_BAD_ARGUMENT,
       .verdict = TAVSN_VERDICT_NOT_CHECKABLE,
       .first_causes = 0},
      {.text = kFingerprint,
       .change = [](auto& f) { f.highest_leaf = 0x100000000ll; },
       .result = TAVSN_SERVER_ERROR_BAD_ARGUMENT,
       .verdict = TAVSN_VERDICT_NOT_CHECKABLE,
       .first_causes = 0},
      {.text = kFingerprint,
       .change = [](auto& f) { f.disk_bytes = -2; },
       .result = TAVSN_SERVER_ERROR_BAD_ARGUMENT,
       .verdict = TAVSN_VERDICT_NOT_CHECKABLE,
       .first_causes = 0},
      {.text = kFingerprint,
       .change = [](auto& f) { f.other_mac_count = 1; },
       .result = TAVSN_SERVER_ERROR_NULL,
       .verdict = TAVSN_VERDICT_NOT_CHECKABLE,
       .first_causes = 0},
      {.text = "TQ1101020011263744550B3B2B5B4B7B",
       .change = [](auto&) {},
       .result = TAVSN_SERVER_ERROR_LENGTH,
       .verdict = TAVSN_VERDICT_NOT_CHECKABLE,
       .first_causes = 0},
  };
  for (const Case& c : cases) {
    tavsn_fingerprint_facts facts = WorkedExampleFacts();
    c.change(facts);
    tavsn_fingerprint_match out;
    std::memset(&out, 0x5A, sizeof out);
    EXPECT_EQ(tavsn_match_fingerprint(c.text, std::strlen(c.text), &facts, &out), c.result) << c.text;
    EXPECT_EQ(out.verdict, c.verdict) << c.text;
    EXPECT_STREQ(out.expected,
                 c.verdict == TAVSN_VERDICT_MATCH || c.verdict == TAVSN_VERDICT_MISMATCH ? kFingerprint : "");
    EXPECT_EQ(out.explanation_count, c.first_causes != 0 ? 1u : 0u);
    EXPECT_EQ(out.explanations[0].causes, c.first_causes);
  }
  tavsn_fingerprint_match out;
  EXPECT_EQ(tavsn_match_fingerprint(kFingerprint, 31, nullptr, &out), TAVSN_SERVER_ERROR_NULL);
  EXPECT_EQ(out.verdict, TAVSN_VERDICT_NOT_CHECKABLE);
  EXPECT_STREQ(tavsn_fingerprint_cause_text(TAVSN_CAUSE_NO_ADAPTER),
               "the MAC text was empty: no adapter was listed (none present, or a list too long for the buffer)");
  EXPECT_EQ(tavsn_fingerprint_cause_text(0x3), nullptr);
}

}  // namespace
