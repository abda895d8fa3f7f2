#include "server/fingerprint.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace tavsn::server {
namespace {

// The DLL's fingerprint of a known digest input (GenuineIntel, leaf 0 EAX
// 0x16, no brand, a 500 GB disk, 00-1A-2B-3C-4D-5E first).
constexpr char kKnown[] = "623FBDEBE453CAE4A61E315703441D1";

// The bytes in a heap block of exactly their length, so that AddressSanitizer
// catches any read past them.
ParsedFingerprint ParseExact(const std::string& bytes) {
  std::unique_ptr<char[]> copy(new char[bytes.size()]);
  std::memcpy(copy.get(), bytes.data(), bytes.size());
  return ParseFingerprint(copy.get(), bytes.size());
}

TEST(ParseFingerprintTest, AcceptsTheDigitsAloneOrTheHostsWholeBuffer) {
  const std::string good = kKnown;
  struct Case {
    std::string bytes;
    ParseStatus status;
    std::size_t detail;
  } cases[] = {
      {.bytes = good, .status = ParseStatus::kOk, .detail = 0},
      {.bytes = good + std::string(1, '\0'), .status = ParseStatus::kOk, .detail = 0},
      {.bytes = "", .status = ParseStatus::kBadLength, .detail = 0},
      {.bytes = good.substr(0, 30), .status = ParseStatus::kBadLength, .detail = 30},
      {.bytes = good + "0", .status = ParseStatus::kBadLength, .detail = 32},
      {.bytes = good + "\n", .status = ParseStatus::kBadLength, .detail = 32},
      {.bytes = good + std::string(2, '\0'), .status = ParseStatus::kBadLength, .detail = 33},
      {.bytes = "TQ1101020011263744550B3B2B5B4B7B", .status = ParseStatus::kBadLength, .detail = 32},
      {.bytes = "a" + good.substr(1), .status = ParseStatus::kBadCharacter, .detail = 0},
      {.bytes = good.substr(0, 30) + "G", .status = ParseStatus::kBadCharacter, .detail = 30},
      {.bytes = good.substr(0, 30) + "G" + std::string(1, '\0'), .status = ParseStatus::kBadCharacter, .detail = 30},
      {.bytes = good.substr(0, 12) + std::string(1, '\0') + good.substr(13),
       .status = ParseStatus::kBadCharacter,
       .detail = 12},
      {.bytes = good.substr(0, 9) + "\xC3" + good.substr(10), .status = ParseStatus::kBadCharacter, .detail = 9},
  };
  for (const Case& c : cases) {
    const ParsedFingerprint parsed = ParseExact(c.bytes);
    EXPECT_EQ(parsed.status, c.status) << c.bytes;
    EXPECT_EQ(parsed.detail, c.detail) << c.bytes;
    EXPECT_EQ(parsed.text(), c.status == ParseStatus::kOk ? good : "") << c.bytes;
    if (c.status != ParseStatus::kOk) {
      EXPECT_NE(DescribeFingerprintParseError(parsed).find(std::to_string(c.detail)), std::string::npos) << c.bytes;
    }
  }
  EXPECT_EQ(ParseFingerprint(nullptr, 31).status, ParseStatus::kNullText);
  EXPECT_EQ(ParseFingerprint(nullptr, 0).status, ParseStatus::kBadLength);
  EXPECT_NE(DescribeFingerprintParseError(ParseFingerprint("TQ1101020011263744550B3B2B5B4B7B"),
                                          "TQ1101020011263744550B3B2B5B4B7B")
                .find("TQ11 or TQ12"),
            std::string::npos);
  EXPECT_NE(DescribeFingerprintParseError(ParseFingerprint("\xC3\xA9" + good.substr(1)), "\xC3\xA9" + good.substr(1))
                .find("31 characters (32 bytes, not all ASCII)"),
            std::string::npos);
}

TEST(CompareFingerprintsTest, EqualityMeansEveryInputEqual) {
  const ParsedFingerprint known = ParseFingerprint(kKnown);
  const ParsedFingerprint buffer = ParseFingerprint(std::string(kKnown) + std::string(1, '\0'));
  const ParsedFingerprint other = ParseFingerprint("175D43E9AEC486C9209E5B71CA23CE4");
  const ParsedFingerprint bad = ParseFingerprint("175D43E9AEC486C9209E5B71CA23CE");
  struct Case {
    const ParsedFingerprint& first;
    const ParsedFingerprint& second;
    FingerprintRelation relation;
  } cases[] = {
      {.first = known, .second = buffer, .relation = FingerprintRelation::kEqual},
      {.first = known, .second = other, .relation = FingerprintRelation::kDifferent},
      {.first = known, .second = bad, .relation = FingerprintRelation::kNotComparable},
      {.first = bad, .second = bad, .relation = FingerprintRelation::kNotComparable},
  };
  for (const Case& c : cases) {
    const FingerprintComparison comparison = CompareFingerprints(c.first, c.second);
    EXPECT_EQ(comparison.relation, c.relation) << FingerprintRelationName(c.relation);
    const bool equal = c.relation == FingerprintRelation::kEqual;
    EXPECT_EQ(comparison.equal(), equal);
    EXPECT_EQ(comparison.same_processor, equal);
    EXPECT_EQ(comparison.same_disk_text, equal);
    EXPECT_EQ(comparison.same_first_adapter, equal);
  }
}

}  // namespace
}  // namespace tavsn::server
