#include "sysinfo/cpuid_info.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

#include "tests/fakes/fake_cpuid_platform.h"

namespace tavsn {
namespace {

using fakecpuid::state;

constexpr char kBrand[] = "Intel(R) Core(TM) i5-6500 CPU @ 3.20GHz";

struct SignatureCase {
  std::uint32_t signature;
  std::uint32_t display_model, display_family, processor_type;
  bool serial_flag;
  const char* details;
};

void PrintTo(const SignatureCase& c, std::ostream* os) { *os << "signature " << std::hex << c.signature; }

class SignatureFields : public ::testing::TestWithParam<SignatureCase> {};

TEST_P(SignatureFields, GiveDisplayValuesFlagAndDetailsText) {
  const SignatureCase& c = GetParam();
  fakecpuid::Reset(c.signature);
  fakecpuid::SetBrand(kBrand);
  CpuidInfo cpu;
  cpu.read_cpuid();
  EXPECT_EQ(cpu.get_display_model(), c.display_model);
  EXPECT_EQ(cpu.get_display_family(), c.display_family);
  EXPECT_EQ(cpu.get_processor_type(), c.processor_type);
  EXPECT_EQ(cpu.has_serial_number_flag(), c.serial_flag);
  char details[kProcessorDetailsBufferSize];
  std::memset(details, 'x', sizeof details);
  const std::size_t length = format_processor_details(cpu, details);
  EXPECT_EQ(std::string(details), std::string(kBrand) + c.details);
  EXPECT_EQ(length, std::string(details).size());
  EXPECT_EQ(std::string(details + length, sizeof details - length), std::string(sizeof details - length, '\0'));
}

INSTANTIATE_TEST_SUITE_P(
    CpuidInfo, SignatureFields,
    ::testing::Values(
        // Extended model 5 has bit 18 set: the flag follows the signature.
        SignatureCase{0x000506E3, 94, 6, 0, true, "-00000000-00000006-00000094"},
        SignatureCase{0x000306C3, 60, 6, 0, false, "-00000000-00000006-00000060"},
        // The extended family is added whatever the family.
        SignatureCase{0x00800F11, 1, 23, 0, false, "-00000000-00000023-00000001"},
        SignatureCase{0x0FFF3FFF, 255, 270, 3, true, "-00000003-00000270-00000255"}));

struct SerialCase {
  cpuidos::CpuidRegisters leaf3;
  const char* text;
};

void PrintTo(const SerialCase& c, std::ostream* os) { *os << "leaf 3 " << c.text; }

class ProcessorSerialText : public ::testing::TestWithParam<SerialCase> {};

TEST_P(ProcessorSerialText, FormatsAFreshLeaf3) {
  fakecpuid::Reset(0x000506E3, /*max_basic=*/1);
  CpuidInfo cpu;
  cpu.read_cpuid();
  // Set after read_cpuid: only a fresh execution can see these values.
  state().leaves[3] = GetParam().leaf3;
  EXPECT_STREQ(cpu.get_processor_serial_text(), GetParam().text);
  EXPECT_EQ(state().executions[3], 1) << "leaf 3 is executed whatever the maximum basic leaf";
}

INSTANTIATE_TEST_SUITE_P(
    CpuidInfo, ProcessorSerialText,
    ::testing::Values(SerialCase{{0x00010203, 0x04050607, 0x08090A0B, 0xFFFFFFFF}, "0001-0203-0405-0607-0809-0a0b"},
                      SerialCase{{0, 0, 0, 0}, "0000-0000-0000-0000-0000-0000"},
                      SerialCase{{0xFFFFFFFF, 0xABCDEF01, 0x80000000, 0}, "ffff-ffff-abcd-ef01-8000-0000"}));

TEST(CpuidInfo, ExecutesEveryLeafOnceAndKeepsLeaf1AndBrand) {
  fakecpuid::Reset(0x000506E3, 0x16, 0x80000008);
  fakecpuid::SetBrand(kBrand);
  state().leaves[0x80000008] = {1, 2, 3, 4};
  CpuidInfo cpu;
  cpu.read_cpuid();
  for (std::uint32_t leaf = 0; leaf <= 0x16; ++leaf) EXPECT_EQ(state().executions[leaf], 1) << leaf;
  for (std::uint32_t leaf = 0x80000000; leaf <= 0x80000008; ++leaf) EXPECT_EQ(state().executions[leaf], 1) << leaf;
  EXPECT_EQ(state().total_executions, 0x17 + 9);
  EXPECT_FALSE(state().nonzero_subleaf_seen);
  EXPECT_EQ(cpu.max_basic_leaf, 0x16u);
  EXPECT_EQ(cpu.max_extended_leaf, 0x80000008u);
  EXPECT_EQ(cpu.leaf0_registers[1], 0x756E6547u);
  EXPECT_EQ(cpu.leaf1_registers[0], 0x000506E3u);
  EXPECT_EQ(cpu.leaf1_registers[3], 0xBFEBFBFFu);
  EXPECT_EQ(cpu.last_registers[3], 4u);
  EXPECT_STREQ(cpu.get_brand_string(), kBrand);
}

TEST(CpuidInfo, WithoutExtendedLeavesTheBrandIsEmpty) {
  fakecpuid::Reset(0x000306C3, 0x0D, /*max_extended=*/0x80000000);
  fakecpuid::SetBrand(kBrand);  // present, but never reached
  CpuidInfo cpu;
  std::memset(cpu.brand_string, 'x', sizeof cpu.brand_string);
  cpu.read_cpuid();
  EXPECT_STREQ(cpu.get_brand_string(), "");
  char details[kProcessorDetailsBufferSize];
  format_processor_details(cpu, details);
  EXPECT_STREQ(details, "-00000000-00000006-00000060");
}

TEST(CpuidInfo, ABrandOf48CharactersStaysTerminated) {
  fakecpuid::Reset();
  const std::string brand(48, 'B');
  fakecpuid::SetBrand(brand);
  CpuidInfo cpu;
  cpu.read_cpuid();
  EXPECT_EQ(cpu.get_brand_string(), brand);
}

TEST(CpuidInfo, AHugeReportedMaximumEndsAndReadsTheSameValues) {
  fakecpuid::Reset(0x000506E3, 0x16, 0x80000008);
  fakecpuid::SetBrand(kBrand);
  CpuidInfo sane;
  sane.read_cpuid();

  fakecpuid::Reset(0x000506E3, 0xFFFFFFFF, 0xFFFFFFFF);
  fakecpuid::SetBrand(kBrand);
  CpuidInfo huge;
  huge.read_cpuid();
  EXPECT_EQ(state().total_executions, 2 * (1 + 256));
  EXPECT_EQ(state().executions[256], 1);
  EXPECT_EQ(state().executions[0x80000100], 1);
  EXPECT_EQ(huge.max_basic_leaf, 0xFFFFFFFFu);
  EXPECT_EQ(huge.max_extended_leaf, 0xFFFFFFFFu);
  EXPECT_EQ(std::memcmp(huge.leaf0_registers + 1, sane.leaf0_registers + 1, 12), 0);
  EXPECT_EQ(std::memcmp(huge.leaf1_registers, sane.leaf1_registers, sizeof sane.leaf1_registers), 0);
  EXPECT_STREQ(huge.get_brand_string(), sane.get_brand_string());
  EXPECT_EQ(huge.get_display_model(), 94u);
}

}  // namespace
}  // namespace tavsn
