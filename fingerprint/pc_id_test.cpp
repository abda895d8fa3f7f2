#include "fingerprint/pc_id.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "fingerprint/probes.h"
#include "tests/fakes/fake_probe_platform.h"

namespace tavsn::fingerprint {
namespace {

using fakeprobe::state;

constexpr char kCpuidDigits[] = "00000016756E65476C65746E49656E69";

std::string Md5LowerHex(const std::string& text) {
  std::uint8_t digest[kMd5DigestBytes];
  md5_digest(text.data(), text.size(), digest);
  char hex[32];
  digest_to_hex(digest, hex);
  return std::string(hex, 32);
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

class PcIdTest : public ::testing::Test {
 protected:
  void SetUp() override { fakeprobe::Reset(); }

  std::string DigestInput() {
    ProbeRecord record;
    collect_pc_info(&record);
    char input[kDigestInputCapacity + 1];
    std::memset(input, 0x5A, sizeof input);
    const std::size_t length = build_digest_input(record, input);
    EXPECT_EQ(length, std::strlen(input));
    EXPECT_EQ(std::string(input + length, sizeof input - length), std::string(sizeof input - length, '\0'))
        << "the buffer is zeroed before the texts are appended";
    return std::string(input, length);
  }

  // The 32 bytes tav_get_pc_id writes, as text without the zero byte.
  std::string PcId() {
    char data[40];
    std::memset(data, 0x5A, sizeof data);
    EXPECT_EQ(tav_get_pc_id(data, 32), 32);
    EXPECT_EQ(data[31], '\0');
    EXPECT_EQ(std::string(data + 32, 8), std::string(8, 0x5A));
    return std::string(data, 31);
  }
};

TEST_F(PcIdTest, DigestInputForEachOutcomeOfTheDiskAndMacProbes) {
  const std::string brand = "Intel(R) Xeon(R) CPU E5-2680 v4 @ 2.40GHz";
  fakeprobe::SetBrand(brand);
  const std::string processor = std::string(kCpuidDigits) + "GenuineIntel" + "GenuineIntel" + brand;
  struct Case {
    bool disk, mac;
    std::string input;
    std::size_t length;
  } cases[] = {
      {.disk = true,
       .mac = true,
       .input = processor + "000001F4" + "001A2B3C4D5E" + "001A2B3C4D5E",
       .length = 88 + brand.size()},
      {.disk = true, .mac = false, .input = processor + "000001F4", .length = 64 + brand.size()},
      {.disk = false, .mac = true, .input = processor + "001A2B3C4D5E", .length = 68 + brand.size()},
      {.disk = false, .mac = false, .input = processor, .length = 56 + brand.size()},
  };
  for (const Case& c : cases) {
    state().disk_opens = c.disk;
    state().adapter_status = c.mac ? 0 : 232;
    const std::string input = DigestInput();
    EXPECT_EQ(input, c.input) << "disk " << c.disk << " mac " << c.mac;
    EXPECT_EQ(input.size(), c.length) << "disk " << c.disk << " mac " << c.mac;
  }
}

TEST_F(PcIdTest, LongestDigestInputHas136Characters) {
  fakeprobe::SetBrand("0123456789abcdef0123456789abcdef0123456789abcdef");
  EXPECT_EQ(DigestInput().size(), 136u);
}

TEST_F(PcIdTest, WorkedExamples) {
  EXPECT_EQ(DigestInput(),
            "00000016756E65476C65746E49656E69GenuineIntelGenuineIntel000001F4001A2B3C4D5E"
            "001A2B3C4D5E");
  EXPECT_EQ(PcId(), "623FBDEBE453CAE4A61E315703441D1");

  state().disk_opens = false;
  EXPECT_EQ(DigestInput(), "00000016756E65476C65746E49656E69GenuineIntelGenuineIntel001A2B3C4D5E");
  EXPECT_EQ(PcId(), "175D43E9AEC486C9209E5B71CA23CE4");

  state().disk_opens = true;
  state().disk_answers = false;  // opened but not answered is the same as not opened
  EXPECT_EQ(PcId(), "175D43E9AEC486C9209E5B71CA23CE4");
}

TEST_F(PcIdTest, ResultIsTheUppercaseFirst31DigitsOfTheInputsMd5) {
  std::mt19937 random(31);
  for (int round = 0; round < 200; ++round) {
    fakeprobe::Reset();
    char vendor[13];
    for (int i = 0; i < 12; ++i) vendor[i] = static_cast<char>('A' + random() % 26);
    vendor[12] = '\0';
    fakeprobe::SetVendor(random(), reinterpret_cast<const char(&)[13]>(vendor));
    std::string brand(random() % 49, ' ');
    for (char& c : brand) c = static_cast<char>(' ' + random() % 95);
    fakeprobe::SetBrand(brand);
    state().disk_length = static_cast<std::int64_t>(random()) * 1000;
    state().disk_opens = random() % 2;
    state().adapter_status = random() % 2 ? 0 : 232;
    for (auto& byte : state().adapter_address) byte = static_cast<std::uint8_t>(random());

    const std::string input = DigestInput();
    const std::string id = PcId();
    ASSERT_EQ(id, Upper(Md5LowerHex(input).substr(0, 31))) << input;
    ASSERT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos) << id;
  }
}

TEST_F(PcIdTest, ClockAndMemoryDoNotEnterButDiskAndMacDo) {
  const std::string base = PcId();
  state().clock_mhz = 3600;
  state().total_physical_bytes *= 2;
  EXPECT_EQ(PcId(), base);
  state().clock_key_status = 2;
  state().memory_answers = false;
  EXPECT_EQ(PcId(), base);

  fakeprobe::Reset();
  state().disk_length += 1000000000;
  EXPECT_NE(PcId(), base);
  fakeprobe::Reset();
  state().disk_length += 999999;  // same whole decimal gigabytes
  EXPECT_EQ(PcId(), base);
  fakeprobe::Reset();
  state().adapter_address[5] ^= 1;
  EXPECT_NE(PcId(), base);
}

TEST_F(PcIdTest, RepeatedCallsGiveTheSameTextAndRunEveryProbeAfresh) {
  const std::string first = PcId();
  const std::size_t probes_per_call = state().journal.size();
  EXPECT_EQ(PcId(), first);
  EXPECT_EQ(state().journal.size(), 2 * probes_per_call);
}

TEST_F(PcIdTest, LengthBelow32GivesMinusOneAndTouchesNothing) {
  for (unsigned len : {0u, 1u, 31u}) {
    char data[64];
    std::memset(data, 0x5A, sizeof data);
    EXPECT_EQ(tav_get_pc_id(data, len), -1) << len;
    EXPECT_EQ(std::string(data, sizeof data), std::string(sizeof data, 0x5A)) << len;
  }
  EXPECT_TRUE(state().journal.empty()) << "no probe runs";
}

TEST_F(PcIdTest, LargeLengthsStillWriteExactly32Bytes) {
  for (unsigned len : {32u, 33u, 1000u, 0x80000000u, 0xFFFFFFFFu}) {
    char data[1000];
    std::memset(data, 0x5A, sizeof data);
    EXPECT_EQ(tav_get_pc_id(data, len), 32) << len;
    EXPECT_EQ(std::string(data, 32), std::string("623FBDEBE453CAE4A61E315703441D1\0", 32)) << len;
    EXPECT_EQ(std::string(data + 32, sizeof data - 32), std::string(sizeof data - 32, 0x5A)) << len;
  }
}

TEST_F(PcIdTest, NullDataGivesMinusOneWithoutProbing) {
  EXPECT_EQ(tav_get_pc_id(nullptr, 32), -1);
  EXPECT_EQ(tav_get_pc_id(nullptr, 1000), -1);
  EXPECT_EQ(tav_get_pc_id(nullptr, 0), -1);
  EXPECT_TRUE(state().journal.empty());
}

ProbeRecord* NoStorage() noexcept { return nullptr; }

int allocations = 0;
ProbeRecord* CountingAllocation() noexcept {
  ++allocations;
  return AllocateProbeRecord();
}

TEST_F(PcIdTest, NoStorageForTheRecordGivesMinusTwoAndTouchesNothing) {
  char data[64];
  std::memset(data, 0x5A, sizeof data);
  EXPECT_EQ(get_pc_id(data, 64, NoStorage), -2);
  EXPECT_EQ(std::string(data, sizeof data), std::string(sizeof data, 0x5A));
  EXPECT_TRUE(state().journal.empty()) << "no probe runs";

  allocations = 0;
  EXPECT_EQ(get_pc_id(data, 31, CountingAllocation), -1);
  EXPECT_EQ(get_pc_id(nullptr, 32, CountingAllocation), -1);
  EXPECT_EQ(allocations, 0) << "the arguments are checked before any storage is taken";
  EXPECT_EQ(get_pc_id(data, 32, CountingAllocation), 32);
  EXPECT_EQ(allocations, 1);
}

TEST(DigestToHex, WritesExactly32LowercaseDigitsHighDigitFirst) {
  const std::uint8_t digest[kMd5DigestBytes] = {0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD,
                                                0xEF, 0xF0, 0x0F, 0x10, 0xA5, 0x5A, 0xFF, 0x9E};
  char area[40];
  std::memset(area, 0x5A, sizeof area);
  digest_to_hex(digest, reinterpret_cast<char(&)[32]>(area));
  EXPECT_EQ(std::string(area, 40),
            "00012345"
            "6789abcd"
            "eff00f10"
            "a55aff9e"
            "ZZZZZZZZ");
}

}  // namespace
}  // namespace tavsn::fingerprint
