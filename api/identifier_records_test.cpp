#include "api/identifier_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace tavsn {
namespace {

std::string Text(const MacSnRecord& record) {
  char text[kIdentifierBufferSize];
  MacSnText(record, text);
  return std::string(text);
}

std::string Text(const PcSnRecord& record) {
  char text[kIdentifierBufferSize];
  PcSnText(record, text);
  return std::string(text);
}

void Mac(const char* text, std::uint8_t (&mac)[6]) {
  std::memset(mac, 0, sizeof mac);
  ScanMacBytes(text, mac);
}

TEST(Checksum16Test, KnownValues) {
  EXPECT_EQ(Checksum16("abc", 3), 0x9D9E);  // only the word of a and b counts
  EXPECT_EQ(Checksum16("", 0), 0xFFFF);
  const std::uint8_t carry[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00};
  EXPECT_EQ(Checksum16(carry, sizeof carry), 0xFFFF);  // the fold's carry is dropped
  EXPECT_EQ(Checksum16("abcde", 5), Checksum16("abcd", 4));
}

TEST(ToHexTextTest, WritesOnlyWhenAllDigitsFit) {
  const std::uint8_t bytes[14] = {0x00, 0x01, 0xAB, 0xFF, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0x9F};
  char text[30];
  std::memset(text, '#', sizeof text);
  ToHexText(bytes, 14, text, 27);
  EXPECT_EQ(std::string(text, sizeof text), std::string(sizeof text, '#'));
  ToHexText(bytes, 14, text, 0);
  EXPECT_EQ(std::string(text, sizeof text), std::string(sizeof text, '#'));

  ToHexText(bytes, 14, text, 28);
  EXPECT_EQ(std::string(text), "0001ABFF1020304050607080909F");
  EXPECT_EQ(text[28], '\0');
  EXPECT_EQ(text[29], '#');
}

TEST(ScanMacBytesTest, ReadsEitherCaseAndKeepsUnreadBytes) {
  std::uint8_t mac[6];
  Mac("0a1B2c3D4e5F", mac);
  const std::uint8_t expected[6] = {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F};
  EXPECT_EQ(0, std::memcmp(mac, expected, 6));

  std::uint8_t partial[6] = {1, 2, 3, 4, 5, 6};
  ScanMacBytes("AABBxx", partial);
  const std::uint8_t kept[6] = {0xAA, 0xBB, 3, 4, 5, 6};
  EXPECT_EQ(0, std::memcmp(partial, kept, 6));

  std::uint8_t single_digit[6] = {9, 9, 9, 9, 9, 9};
  ScanMacBytes("A", single_digit);
  EXPECT_EQ(single_digit[0], 0x0A);
  EXPECT_EQ(single_digit[1], 9);
}

TEST(MacSnRecordTest, WorkedExamples) {
  std::uint8_t first[6], second[6];
  Mac("0A1B2C3D4E5F", first);
  Mac("102030405060", second);
  EXPECT_EQ(Text(MacSnRecord::Build(MacSnRecord::kSourceAdapter, 2, first, second)),
            "TQ1101020011263744550B3B2B5B4B7B");
  EXPECT_EQ(Text(MacSnRecord::Build(MacSnRecord::kSourceAdapter, 1, first, second)),
            "TQ110101001126374455110037265544");
  EXPECT_EQ(Text(MacSnRecord::Build(MacSnRecord::kSourceUuid, 1, first, second)).substr(0, 6), "TQ1100");
}

TEST(MacSnRecordTest, MaskingAndCountRules) {
  std::uint8_t first[6], second[6];
  Mac("F00DCAFE1234", first);
  Mac("FFFFFFFFFFFF", second);
  const std::string one = Text(MacSnRecord::Build(1, 1, first, second));
  EXPECT_EQ(one.substr(8, 2), "00");   // the first MAC masked with its own first byte
  EXPECT_EQ(one.substr(22, 2), "00");  // count 1: the second field's second byte
  MacSnRecord record = MacSnRecord::Build(1, 1, first, second);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(record.bytes[2 + i] ^ record.bytes[8 + i], first[0] ^ first[1]);
  }
  EXPECT_EQ(MacSnRecord::Build(1, 300, first, second).bytes[1], 0x2C);
  EXPECT_EQ(MacSnRecord::Build(1, 256, first, second).bytes[1], 0x00);
  EXPECT_EQ(Text(MacSnRecord::Build(1, 3, first, second)).substr(8, 2), "00");
}

TEST(PcSnRecordTest, ExWorkedExampleAndSelfCheck) {
  std::uint8_t mac[6];
  Mac("0A1B2C3D4E5F", mac);
  PcSnRecord record;
  record.SetFlag(PcSnRecord::kFlagMacStep);
  record.SetMac(mac);
  const char* processor = "Example CPU-00000000-00000006-00000094";
  record.SetFlag(PcSnRecord::kFlagProcessorDetails);
  record.SetTextFields(PcSnRecord::kProcessorLengthOffset, processor);
  EXPECT_EQ(record.Field(PcSnRecord::kMacChecksumOffset), 0x487B);
  EXPECT_EQ(record.Field(PcSnRecord::kProcessorLengthOffset), 38);
  EXPECT_EQ(record.Field(PcSnRecord::kProcessorChecksumOffset), 0x9C6C);
  record.SetSelfChecksum();
  EXPECT_EQ(Text(record), "TQ1221000A1B7B480E00B8FF26006C9C");

  // A reader verifies the record with the checksum field zeroed.
  PcSnRecord copy = record;
  copy.SetField(PcSnRecord::kSystemChecksumOffset, 0);
  EXPECT_EQ(Checksum16(copy.bytes, sizeof copy.bytes), record.Field(PcSnRecord::kSystemChecksumOffset));
}

TEST(PcSnRecordTest, TextFieldsCountBytesBeforeTheZero) {
  PcSnRecord record;
  // An empty brand string leaves a details text of 27 characters.
  record.SetTextFields(PcSnRecord::kProcessorLengthOffset, "-00000000-00000006-00000094");
  EXPECT_EQ(record.Field(PcSnRecord::kProcessorLengthOffset), 27);
  EXPECT_EQ(Text(record).substr(0, 4), "TQ12");
  EXPECT_EQ(Text(record).size(), 32u);
}

}  // namespace
}  // namespace tavsn
