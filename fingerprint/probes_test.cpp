#include "fingerprint/probes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fakes/fake_probe_platform.h"

namespace tavsn::fingerprint {
namespace {

using fakeprobe::state;

class ProbesTest : public ::testing::Test {
 protected:
  void SetUp() override { fakeprobe::Reset(); }

  // The record after a run, every byte visible.
  std::string Collect() {
    ProbeRecord record;
    std::memset(record.bytes, 0x5A, sizeof record.bytes);  // an earlier run's leftovers
    EXPECT_EQ(collect_pc_info(&record), 0);
    return std::string(record.bytes, sizeof record.bytes);
  }

  static std::string TextAt(const std::string& record, ProbeArea area) {
    return std::string(record.c_str() + SpanOf(area).offset);
  }

  static std::string Area(const std::string& record, ProbeArea area) {
    return record.substr(SpanOf(area).offset, SpanOf(area).width);
  }

  // `text` with zero bytes up to `width`.
  static std::string Padded(const std::string& text, std::size_t width) {
    std::string area = text;
    area.resize(width, '\0');
    return area;
  }
};

TEST_F(ProbesTest, WorkedExampleFillsEveryAreaAsLaidOut) {
  const std::string record = Collect();
  ASSERT_EQ(record.size(), 248u);
  const std::string expected = Padded("00000016756E65476C65746E49656E69", 32) + Padded("GenuineIntel", 64) +
                               Padded("", 64) + "00000960" + "00002000" + "000001F4" + Padded("001A2B3C4D5E", 32) +
                               Padded("", 32);
  EXPECT_EQ(record, expected);
}

TEST_F(ProbesTest, TextsRunOnIntoTheFollowingAreas) {
  const std::string record = Collect();
  EXPECT_EQ(TextAt(record, ProbeArea::kCpuid), "00000016756E65476C65746E49656E69GenuineIntel");
  EXPECT_EQ(TextAt(record, ProbeArea::kCpuid).size(), 44u);
  EXPECT_EQ(TextAt(record, ProbeArea::kVendor), "GenuineIntel");
  EXPECT_EQ(TextAt(record, ProbeArea::kBrand), "");
  EXPECT_EQ(TextAt(record, ProbeArea::kMhz), "0000096000002000000001F4001A2B3C4D5E");
  EXPECT_EQ(TextAt(record, ProbeArea::kMemory), "00002000000001F4001A2B3C4D5E");
  EXPECT_EQ(TextAt(record, ProbeArea::kDisk), "000001F4001A2B3C4D5E");
  EXPECT_EQ(TextAt(record, ProbeArea::kMac), "001A2B3C4D5E");
  EXPECT_EQ(TextAt(record, ProbeArea::kSpare), "");
}

TEST_F(ProbesTest, ProbesRunInOrderAndReleaseWhatTheyOpen) {
  Collect();
  const std::vector<std::string> expected = {"cpuid 0",     "cpuid 0",    "cpuid 80000000", "open key",
                                             "query value", "close key",  "memory status",  "open disk",
                                             "disk length", "close disk", "adapter list"};
  EXPECT_EQ(state().journal, expected);
  EXPECT_EQ(state().opened_key_path, u"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0");
  EXPECT_EQ(state().queried_value_name, u"~MHz");
  EXPECT_EQ(state().opened_disk_path, u"\\\\.\\PhysicalDrive0");
  EXPECT_EQ(state().keys_open, 0);
  EXPECT_EQ(state().disks_open, 0);
  EXPECT_EQ(state().standard_output, "");
}

TEST_F(ProbesTest, BrandStringIsTakenAsItComes) {
  fakeprobe::SetBrand("       Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz");
  std::string record = Collect();
  EXPECT_EQ(Area(record, ProbeArea::kBrand), Padded("       Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz", 64));

  // All 48 bytes used: the terminating zero is the 49th byte of the area.
  fakeprobe::SetBrand("AMD Ryzen 9 7950X 16-Core Processor             ");
  record = Collect();
  EXPECT_EQ(TextAt(record, ProbeArea::kBrand), "AMD Ryzen 9 7950X 16-Core Processor             ");
  EXPECT_EQ(Area(record, ProbeArea::kBrand).substr(48), std::string(16, '\0'));

  // An inner zero ends the text; the bytes after it are stored all the same.
  fakeprobe::SetBrand(std::string("Short\0tail-after-the-zero-is-kept-in-the-area!!!", 48));
  record = Collect();
  EXPECT_EQ(TextAt(record, ProbeArea::kBrand), "Short");
  EXPECT_EQ(Area(record, ProbeArea::kBrand).substr(0, 49),
            std::string("Short\0tail-after-the-zero-is-kept-in-the-area!!!\0", 49));
}

TEST_F(ProbesTest, BrandNeedsTheHighestExtendedLeafAtLeast0x80000004) {
  for (std::uint32_t highest : {0x00000010u, 0x7FFFFFFFu, 0x80000000u, 0x80000003u}) {
    fakeprobe::SetBrand("Some brand string that must never be read.......");
    state().cpuid[0x80000000] = {highest, 0, 0, 0};
    char area[64];
    std::memset(area, 0x5A, sizeof area);
    EXPECT_EQ(read_cpu_brand(area), 0) << std::hex << highest;
    EXPECT_EQ(std::string(area, 64), std::string(64, 0x5A)) << std::hex << highest;
  }
  fakeprobe::SetBrand("Some brand string that is read when 0x80000004..");
  state().cpuid[0x80000000] = {0x80000004, 0, 0, 0};
  char area[64];
  std::memset(area, 0x5A, sizeof area);
  EXPECT_EQ(read_cpu_brand(area), 48);
  EXPECT_EQ(std::string(area, 50), std::string("Some brand string that is read when 0x80000004..\0\x5A", 50));
}

TEST_F(ProbesTest, VendorWritesTwelveCharactersAndOneZero) {
  fakeprobe::SetVendor(0x0D, "AuthenticAMD");
  char area[20];
  std::memset(area, 0x5A, sizeof area);
  EXPECT_EQ(read_cpu_vendor(area), 12);
  EXPECT_EQ(std::string(area, 14), std::string("AuthenticAMD\0\x5A", 14));
  EXPECT_EQ(TextAt(Collect(), ProbeArea::kCpuid), "0000000D68747541444D416369746E65AuthenticAMD");
}

TEST_F(ProbesTest, NumbersAreFormattedAsEightUppercaseDigits) {
  state().clock_mhz = 0xABCDEF12;
  state().total_physical_bytes = 0x123456789ABCDEFull;  // quotient above 32 bits: low 32 bits kept
  state().disk_length = 0x7FFFFFFFFFFFFFFFll;
  const std::string record = Collect();
  EXPECT_EQ(Area(record, ProbeArea::kMhz), "ABCDEF12");
  EXPECT_EQ(Area(record, ProbeArea::kMemory), "3456789A");  // 0x123456789A MiB
  // 9223372036 decimal gigabytes, 0x225C17D04, of which the low 32 bits.
  EXPECT_EQ(Area(record, ProbeArea::kDisk), "25C17D04");

  state().total_physical_bytes = 0xFFFFF;  // under one MiB
  state().disk_length = 999999999;         // under one decimal gigabyte
  const std::string small = Collect();
  EXPECT_EQ(Area(small, ProbeArea::kMemory), "00000000");
  EXPECT_EQ(Area(small, ProbeArea::kDisk), "00000000");
}

TEST_F(ProbesTest, ClockFailuresLeaveItsAreaEmpty) {
  state().clock_key_status = 2;
  std::string record = Collect();
  EXPECT_EQ(Area(record, ProbeArea::kMhz), std::string(8, '\0'));
  EXPECT_EQ(TextAt(record, ProbeArea::kMemory), "00002000000001F4001A2B3C4D5E");
  EXPECT_EQ(std::count(state().journal.begin(), state().journal.end(), "close key"), 0)
      << "a key that did not open is not closed";

  fakeprobe::Reset();
  state().clock_value_status = 234;  // more than 4 bytes
  record = Collect();
  EXPECT_EQ(Area(record, ProbeArea::kMhz), std::string(8, '\0'));
  EXPECT_EQ(state().keys_open, 0);
  EXPECT_EQ(std::count(state().journal.begin(), state().journal.end(), "close key"), 1);
}

TEST_F(ProbesTest, MemoryFailureLeavesItsAreaEmpty) {
  state().memory_answers = false;
  const std::string record = Collect();
  EXPECT_EQ(TextAt(record, ProbeArea::kMhz), "00000960");
  EXPECT_EQ(Area(record, ProbeArea::kMemory), std::string(8, '\0'));
  EXPECT_EQ(TextAt(record, ProbeArea::kDisk), "000001F4001A2B3C4D5E");
}

TEST_F(ProbesTest, DiskFailuresLeaveItsAreaEmptyAndTheHandleClosed) {
  state().disk_opens = false;
  std::string record = Collect();
  EXPECT_EQ(Area(record, ProbeArea::kDisk), std::string(8, '\0'));
  EXPECT_EQ(TextAt(record, ProbeArea::kDisk), "");
  EXPECT_EQ(TextAt(record, ProbeArea::kMemory), "00002000");
  EXPECT_EQ(std::count(state().journal.begin(), state().journal.end(), "close disk"), 0);

  fakeprobe::Reset();
  state().disk_answers = false;
  record = Collect();
  EXPECT_EQ(TextAt(record, ProbeArea::kDisk), "");
  EXPECT_EQ(TextAt(record, ProbeArea::kMac), "001A2B3C4D5E");
  EXPECT_EQ(state().disks_open, 0);
  EXPECT_EQ(std::count(state().journal.begin(), state().journal.end(), "close disk"), 1);
}

TEST_F(ProbesTest, MacIsTheFirstAdapterAddressInUppercase) {
  const std::uint8_t address[6] = {0x0A, 0xBC, 0xDE, 0xF0, 0x12, 0x34};
  std::memcpy(state().adapter_address, address, 6);
  char text[32];
  std::memset(text, 0x5A, sizeof text);
  EXPECT_EQ(read_adapter_mac(text), 1);
  EXPECT_EQ(std::string(text, 14), std::string("0ABCDEF01234\0\x5A", 14));
  EXPECT_EQ(state().standard_output, "");
}

TEST_F(ProbesTest, NoAdapterListWritesTheMessageOnceAndLeavesTheMacEmpty) {
  for (probeos::Status status : {232u, 111u, 87u}) {  // no data, list too large, anything else
    fakeprobe::Reset();
    state().adapter_status = status;
    const std::string record = Collect();
    EXPECT_EQ(state().standard_output, "Cannot get Adapter Information Found.") << status;
    EXPECT_EQ(Area(record, ProbeArea::kMac), std::string(32, '\0')) << status;
    EXPECT_EQ(TextAt(record, ProbeArea::kDisk), "000001F4") << status;

    char text[32];
    std::memset(text, 0x5A, sizeof text);
    EXPECT_EQ(read_adapter_mac(text), 0);
    EXPECT_EQ(std::string(text, 32), std::string(32, 0x5A)) << "the target stays unchanged";
  }
}

TEST_F(ProbesTest, EveryProbeFailingLeavesOnlyTheProcessorTexts) {
  state().clock_key_status = 5;
  state().memory_answers = false;
  state().disk_opens = false;
  state().adapter_status = 232;
  const std::string record = Collect();
  const std::string expected =
      Padded("00000016756E65476C65746E49656E69", 32) + Padded("GenuineIntel", 64) + std::string(248 - 96, '\0');
  EXPECT_EQ(record, expected) << "nothing of the earlier run survives";
}

TEST_F(ProbesTest, NullTargetsWriteNothing) {
  EXPECT_EQ(collect_pc_info(nullptr), -1);
  EXPECT_EQ(read_cpu_vendor(nullptr), 0);
  fakeprobe::SetBrand("A brand that would otherwise be written.........");
  EXPECT_EQ(read_cpu_brand(nullptr), 0);
  EXPECT_EQ(read_adapter_mac(nullptr), 0);
  EXPECT_TRUE(state().journal.empty());
}

}  // namespace
}  // namespace tavsn::fingerprint
