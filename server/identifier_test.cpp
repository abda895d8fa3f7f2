#include "server/identifier.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>

#include "server/test_records.h"

namespace tavsn::server {
namespace {

using testing::Firmware;
using testing::MachineIdText;
using testing::MachineInputs;

// The text in a heap block of exactly its length, so that AddressSanitizer
// catches any read past it.
ParsedIdentifier ParseExact(const std::string& text) {
  std::unique_ptr<char[]> copy(new char[text.size()]);
  std::memcpy(copy.get(), text.data(), text.size());
  return ParseIdentifier(copy.get(), text.size());
}

TEST(ParseIdentifierTest, MalformedTextsNameWhatIsWrong) {
  const std::string good = "TQ1101020011263744550B3B2B5B4B7B";
  struct Case {
    std::string text;
    ParseStatus status;
    std::size_t detail;
  } cases[] = {
      {.text = "", .status = ParseStatus::kBadLength, .detail = 0},
      {.text = good.substr(0, 31), .status = ParseStatus::kBadLength, .detail = 31},
      {.text = good + "0", .status = ParseStatus::kBadLength, .detail = 33},
      {.text = good + "\n", .status = ParseStatus::kBadLength, .detail = 33},
      {.text = "TQ13" + good.substr(4), .status = ParseStatus::kBadTag, .detail = 3},
      {.text = "TQ10" + good.substr(4), .status = ParseStatus::kBadTag, .detail = 3},
      {.text = "tq11" + good.substr(4), .status = ParseStatus::kBadTag, .detail = 0},
      {.text = "TX11" + good.substr(4), .status = ParseStatus::kBadTag, .detail = 1},
      {.text = "TQ21" + good.substr(4), .status = ParseStatus::kBadTag, .detail = 2},
      {.text = "TQ11" + std::string("0") + "g" + good.substr(6), .status = ParseStatus::kBadCharacter, .detail = 5},
      {.text = "TQ11" + std::string("a") + good.substr(5), .status = ParseStatus::kBadCharacter, .detail = 4},
      {.text = good.substr(0, 31) + "G", .status = ParseStatus::kBadCharacter, .detail = 31},
      {.text = good.substr(0, 20) + " " + good.substr(21), .status = ParseStatus::kBadCharacter, .detail = 20},
      {.text = good.substr(0, 12) + std::string(1, '\0') + good.substr(13),
       .status = ParseStatus::kBadCharacter,
       .detail = 12},
      {.text = good.substr(0, 9) + "\xC3" + good.substr(10), .status = ParseStatus::kBadCharacter, .detail = 9},
  };
  for (const Case& c : cases) {
    const ParsedIdentifier parsed = ParseExact(c.text);
    EXPECT_EQ(parsed.status, c.status) << c.text;
    EXPECT_EQ(parsed.detail, c.detail) << c.text;
    EXPECT_FALSE(DescribeParseError(parsed).empty());
    EXPECT_NE(DescribeParseError(parsed).find(std::to_string(c.detail)), std::string::npos) << c.text;
  }
  EXPECT_EQ(ParseIdentifier(nullptr, 32).status, ParseStatus::kNullText);
  EXPECT_EQ(ParseIdentifier(nullptr, 0).status, ParseStatus::kBadLength);
}

TEST(DecodeTest, WorkedExamples) {
  const DecodedIdentifier two = Decode(ParseExact("TQ1101020011263744550B3B2B5B4B7B"));
  EXPECT_EQ(two.kind, IdentifierKind::kMac);
  EXPECT_EQ(two.mac.source, 1);
  EXPECT_EQ(two.mac.mac_count, 2);
  EXPECT_EQ(MacBytesText(two.mac.first_masked, 6), "001126374455");
  EXPECT_EQ(MacBytesText(two.mac.second_masked, 6), "0B3B2B5B4B7B");
  EXPECT_EQ(MacBytesText(two.mac.address_xor, 6), "1A3B1C7D1E3F");  // 0A1B2C3D4E5F ^ 102030405060
  EXPECT_TRUE(two.anomalies.empty());

  const DecodedIdentifier one = Decode(ParseExact("TQ110101001126374455110037265544"));
  EXPECT_EQ(one.mac.mac_count, 1);
  EXPECT_EQ(MacBytesText(one.mac.address_xor, 6), "000000000000");
  EXPECT_TRUE(one.anomalies.empty());

  const DecodedIdentifier ex = Decode(ParseExact("TQ1221000A1B7B480E00B8FF26006C9C"));
  EXPECT_EQ(ex.kind, IdentifierKind::kMachine);
  EXPECT_EQ(ex.machine.source_flags, 0x0021);
  EXPECT_EQ(ex.machine.mac_prefix[0], 0x0A);
  EXPECT_EQ(ex.machine.mac_prefix[1], 0x1B);
  EXPECT_EQ(ex.machine.mac_checksum, 0x487B);
  EXPECT_EQ(ex.machine.system_length, 14);
  EXPECT_EQ(ex.machine.system_checksum, 0xFFB8);
  EXPECT_EQ(ex.machine.processor_length, 38);
  EXPECT_EQ(ex.machine.processor_checksum, 0x9C6C);
  EXPECT_EQ(ex.machine.made_by, MachineExport::kGetPcsnEx);
  EXPECT_TRUE(ex.machine.self_checksum_verifies);
  EXPECT_TRUE(ex.anomalies.empty());
  EXPECT_EQ(DescribeSourceFlags(0x0021), (std::vector<std::string>{"MAC step ran", "processor details"}));
}

std::string RandomMac(std::mt19937& rng) {
  char text[13];
  std::snprintf(text, sizeof text, "%04X%08X", static_cast<unsigned>(rng() & 0xFFFF), static_cast<unsigned>(rng()));
  return text;
}

std::string RandomText(std::mt19937& rng, std::size_t length) {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) text.push_back(static_cast<char>(' ' + rng() % 95));
  return text;
}

TEST(DecodeTest, MacIdentifierKeepsWhatTheEncoderStored) {
  std::mt19937 rng(11);
  for (int round = 0; round < 2000; ++round) {
    const std::string a = RandomMac(rng), b = RandomMac(rng);
    const int count = 1 + static_cast<int>(rng() % 300);
    const std::uint8_t source = rng() % 2;
    const ParsedIdentifier parsed = ParseExact(testing::MacIdText(source, count, a.c_str(), b.c_str()));
    ASSERT_TRUE(parsed.ok());
    const DecodedIdentifier d = Decode(parsed);
    std::uint8_t m1[6], m2[6];
    testing::MacBytes(a.c_str(), m1);
    testing::MacBytes(count > 1 ? b.c_str() : a.c_str(), m2);
    EXPECT_EQ(d.mac.source, source);
    EXPECT_EQ(d.mac.mac_count, count % 256);
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(d.mac.first_masked[i] ^ m1[0], m1[i]);  // the first address up to its byte 0
      EXPECT_EQ(d.mac.address_xor[i], m1[i] ^ m2[i]);   // the addresses' XOR, exactly
      EXPECT_EQ(d.mac.second_masked[i] ^ m1[1], m2[i]);
    }
    // The adapters' list may be any length (256 stores 0, 257 stores 1
    // beside two addresses); a UUID's node is one address.
    const bool node = source == MacSnRecord::kSourceUuid;
    const unsigned impossible = (node && count % 256 != 1) + (node && count > 1);
    EXPECT_EQ(d.anomalies.size(), impossible) << count;
  }
}

TEST(DecodeTest, MachineIdentifierKeepsWhatTheEncoderStored) {
  std::mt19937 rng(12);
  for (int round = 0; round < 2000; ++round) {
    const std::string mac = RandomMac(rng);
    const bool serial_cpu = rng() % 2;
    // A details text of 27 characters has an empty brand string: only its
    // numbers vary.
    const std::size_t length = serial_cpu ? 29 : 27 + rng() % 40;
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "-%08u-%08u-%08u", static_cast<unsigned>(rng() % 4),
                  static_cast<unsigned>(rng() % 271), static_cast<unsigned>(rng() % 256));
    const std::string processor = length == 27 ? std::string(numbers) : RandomText(rng, length);
    const auto firmware = static_cast<Firmware>(rng() % 4);
    const std::string system =
        firmware == Firmware::kUuid ? RandomText(rng, 35) : "x" + RandomText(rng, 7 + rng() % 60);
    MachineInputs in;
    in.mac = mac.c_str();
    in.processor = processor.c_str();
    in.processor_serial = serial_cpu;
    in.firmware = firmware;
    in.system_text = system.c_str();
    in.mac_from_uuid = rng() % 2;
    const PcSnRecord record = testing::MachineRecord(in);
    const DecodedIdentifier d = Decode(ParseExact(MachineIdText(in)));
    const MachineIdentifierFields& f = d.machine;
    EXPECT_EQ(f.source_flags, record.Field(PcSnRecord::kSourceFlagsOffset));
    EXPECT_EQ(MacBytesText(f.mac_prefix, 2), mac.substr(0, 4));
    EXPECT_EQ(f.mac_checksum, record.Field(PcSnRecord::kMacChecksumOffset));
    EXPECT_EQ(f.processor_length, processor.size());
    EXPECT_EQ(f.processor_checksum, Checksum16(processor.data(), processor.size()));
    const MachineExport expected[] = {MachineExport::kGetPcsnSerial, MachineExport::kGetPcsnUuid,
                                      MachineExport::kGetPcsnNoFirmware, MachineExport::kGetPcsnEx};
    EXPECT_EQ(f.made_by, expected[static_cast<int>(firmware)]);
    if (firmware == Firmware::kSerial || firmware == Firmware::kUuid) {
      EXPECT_EQ(f.system_length, system.size());
      EXPECT_EQ(f.system_checksum, Checksum16(system.data(), system.size()));
    }
    EXPECT_EQ(f.self_checksum_verifies,
              firmware == Firmware::kSelfChecksum || f.expected_self_checksum == f.system_checksum);
    EXPECT_TRUE(d.anomalies.empty()) << MachineIdText(in) << ": " << d.anomalies.front();
  }
}

TEST(DecodeTest, GetPcsnWithoutFirmwareHasZeroSystemFields) {
  MachineInputs in;
  in.firmware = Firmware::kNotRead;
  const DecodedIdentifier d = Decode(ParseExact(MachineIdText(in)));
  EXPECT_EQ(d.machine.made_by, MachineExport::kGetPcsnNoFirmware);
  EXPECT_EQ(d.machine.system_length, 0);
  EXPECT_FALSE(d.machine.self_checksum_verifies);
  EXPECT_TRUE(d.anomalies.empty());
}

bool HasAnomaly(const DecodedIdentifier& d, const char* piece) {
  for (const std::string a : d.anomalies) {
    if (a.find(piece) != std::string::npos) return true;
  }
  return false;
}

// Each text changes one thing the DLL never writes, which must be reported.
TEST(DecodeTest, ReportsMacRecordsTheDllNeverWrites) {
  struct Case {
    const char* text;
    const char* anomaly;
  } cases[] = {
      {.text = "TQ1101020111263744550B3B2B5B4B7B", .anomaly = "begin with 00"},
      {.text = "TQ1102020011263744550B3B2B5B4B7B", .anomaly = "source byte"},
      {.text = "TQ110002001126374455110037265544", .anomaly = "count is not 1"},
      {.text = "TQ1100010011263744550B3B2B5B4B7B", .anomaly = "not the first address again"},
      {.text = "TQ110102001126374455110037265544", .anomaly = "two addresses are equal"},
      {.text = "TQ110100001126374455110037265544", .anomaly = "two addresses are equal"},
  };
  for (const Case& c : cases) {
    const DecodedIdentifier d = Decode(ParseExact(c.text));
    EXPECT_EQ(d.anomalies.size(), 1u) << c.text;
    EXPECT_TRUE(HasAnomaly(d, c.anomaly)) << c.text << " lacks \"" << c.anomaly << "\"";
  }
}

// Machine records changed one field at a time from one the encoder built;
// `reseal` gives the GetPCSNEx record checksum over the changed bytes.
TEST(DecodeTest, ReportsMachineRecordsTheDllNeverWrites) {
  struct Case {
    const char* name;
    Firmware firmware;
    std::size_t offset;
    std::uint16_t value;
    bool reseal;
    const char* anomaly;
    MachineExport made_by;
  } cases[] = {
      {.name = "self checksum off by one",
       .firmware = Firmware::kSelfChecksum,
       .offset = PcSnRecord::kSystemChecksumOffset,
       .value = 0xFFB9,
       .reseal = false,
       .anomaly = "does not verify",
       .made_by = MachineExport::kUnknown},
      {.name = "no MAC step flag",
       .firmware = Firmware::kSelfChecksum,
       .offset = 0,
       .value = 0x0020,
       .reseal = true,
       .anomaly = "0x0001",
       .made_by = MachineExport::kGetPcsnEx},
      {.name = "both processor flags",
       .firmware = Firmware::kSelfChecksum,
       .offset = 0,
       .value = 0x0031,
       .reseal = true,
       .anomaly = "processor flag",
       .made_by = MachineExport::kGetPcsnEx},
      {.name = "no processor flag",
       .firmware = Firmware::kSelfChecksum,
       .offset = 0,
       .value = 0x0001,
       .reseal = true,
       .anomaly = "processor flag",
       .made_by = MachineExport::kGetPcsnEx},
      {.name = "unknown flag",
       .firmware = Firmware::kSelfChecksum,
       .offset = 0,
       .value = 0x0121,
       .reseal = true,
       .anomaly = "outside 0x003F",
       .made_by = MachineExport::kGetPcsnEx},
      {.name = "serial text too long",
       .firmware = Firmware::kSelfChecksum,
       .offset = 0,
       .value = 0x0011,
       .reseal = true,
       .anomaly = "29 characters",
       .made_by = MachineExport::kGetPcsnEx},
      {.name = "details text too short",
       .firmware = Firmware::kSelfChecksum,
       .offset = PcSnRecord::kProcessorLengthOffset,
       .value = 26,
       .reseal = true,
       .anomaly = "at least 27",
       .made_by = MachineExport::kGetPcsnEx},
      {.name = "details text too long",
       .firmware = Firmware::kSelfChecksum,
       .offset = PcSnRecord::kProcessorLengthOffset,
       .value = 76,
       .reseal = true,
       .anomaly = "at most 75",
       .made_by = MachineExport::kGetPcsnEx},
      {.name = "both firmware flags",
       .firmware = Firmware::kSerial,
       .offset = 0,
       .value = 0x002D,
       .reseal = false,
       .anomaly = "both firmware flags",
       .made_by = MachineExport::kGetPcsnSerial},
      {.name = "serial too short",
       .firmware = Firmware::kSerial,
       .offset = PcSnRecord::kSystemLengthOffset,
       .value = 7,
       .reseal = false,
       .anomaly = "shorter than 8",
       .made_by = MachineExport::kGetPcsnSerial},
      {.name = "serial too long",
       .firmware = Firmware::kSerial,
       .offset = PcSnRecord::kSystemLengthOffset,
       .value = 1000,
       .reseal = false,
       .anomaly = "at most 999",
       .made_by = MachineExport::kGetPcsnSerial},
      {.name = "UUID text not 35",
       .firmware = Firmware::kUuid,
       .offset = PcSnRecord::kSystemLengthOffset,
       .value = 36,
       .reseal = false,
       .anomaly = "35 characters",
       .made_by = MachineExport::kGetPcsnUuid},
      {.name = "a checksum no 27-character details text has",
       .firmware = Firmware::kSelfChecksum,
       .offset = PcSnRecord::kProcessorLengthOffset,
       .value = 27,
       .reseal = true,
       .anomaly = "27 characters (an empty brand string)",
       .made_by = MachineExport::kGetPcsnEx},
      {.name = "system fields of neither",
       .firmware = Firmware::kNotRead,
       .offset = PcSnRecord::kSystemLengthOffset,
       .value = 9,
       .reseal = false,
       .anomaly = "fit neither",
       .made_by = MachineExport::kUnknown},
  };
  for (const Case& c : cases) {
    MachineInputs in;
    in.firmware = c.firmware;
    in.system_text = c.firmware == Firmware::kUuid ? "33221100-77665544-bbaa9988-ffeeddcc" : "SN-12345678";
    PcSnRecord record = testing::MachineRecord(in);
    record.SetField(c.offset, c.value);
    if (c.reseal) record.SetSelfChecksum();
    char text[kIdentifierBufferSize];
    PcSnText(record, text);
    const DecodedIdentifier d = Decode(ParseExact(text));
    EXPECT_EQ(d.machine.made_by, c.made_by) << c.name;
    EXPECT_EQ(d.anomalies.size(), 1u) << c.name;
    EXPECT_TRUE(HasAnomaly(d, c.anomaly)) << c.name << " lacks \"" << c.anomaly << "\"";
  }
}

}  // namespace
}  // namespace tavsn::server
