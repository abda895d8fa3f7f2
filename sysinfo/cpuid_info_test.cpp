#include "sysinfo/cpuid_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/fakes/fake_cpuid_platform.h"

namespace tavsn {
namespace {

using fakecpuid::state;

TEST(CpuidInfo, SignatureFieldsFlagAndDetailsText) {
  const struct {
    std::uint32_t signature, max_extended, display_model, display_family, type;
    bool serial_flag;
    const char* details;
  } cases[] = {
      // Extended model 5 has bit 18 set: the flag follows the signature.
      {.signature = 0x000506E3,
       .max_extended = 0x80000008,
       .display_model = 94,
       .display_family = 6,
       .type = 0,
       .serial_flag = true,
       .details = "Brand-00000000-00000006-00000094"},
      {.signature = 0x000306C3,
       .max_extended = 0x80000008,
       .display_model = 60,
       .display_family = 6,
       .type = 0,
       .serial_flag = false,
       .details = "Brand-00000000-00000006-00000060"},
      // The extended family is added whatever the family.
      {.signature = 0x00800F11,
       .max_extended = 0x80000008,
       .display_model = 1,
       .display_family = 23,
       .type = 0,
       .serial_flag = false,
       .details = "Brand-00000000-00000023-00000001"},
      {.signature = 0x0FFF3FFF,
       .max_extended = 0x80000008,
       .display_model = 255,
       .display_family = 270,
       .type = 3,
       .serial_flag = true,
       .details = "Brand-00000003-00000270-00000255"},
      // Brand leaves present but beyond the reported maximum.
      {.signature = 0x000306C3,
       .max_extended = 0x80000000,
       .display_model = 60,
       .display_family = 6,
       .type = 0,
       .serial_flag = false,
       .details = "-00000000-00000006-00000060"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.details);
    fakecpuid::Reset(c.signature, 0x16, c.max_extended);
    fakecpuid::SetBrand("Brand");
    CpuidInfo cpu;
    std::memset(cpu.brand_string, 'x', sizeof cpu.brand_string);
    cpu.read_cpuid();
    EXPECT_EQ(cpu.get_display_model(), c.display_model);
    EXPECT_EQ(cpu.get_display_family(), c.display_family);
    EXPECT_EQ(cpu.get_processor_type(), c.type);
    EXPECT_EQ(cpu.has_serial_number_flag(), c.serial_flag);
    char details[kProcessorDetailsBufferSize];
    std::memset(details, 'x', sizeof details);
    const std::size_t length = format_processor_details(cpu, details);
    EXPECT_STREQ(details, c.details);
    EXPECT_EQ(length, std::strlen(c.details));
    EXPECT_EQ(std::string(details + length, sizeof details - length), std::string(sizeof details - length, '\0'));
  }
}

TEST(CpuidInfo, ProcessorSerialTextFromAFreshLeaf3) {
  const struct {
    CpuidRegisters leaf3;
    const char* text;
  } cases[] = {{.leaf3 = {0x00010203, 0x04050607, 0x08090A0B, 0xFFFFFFFF}, .text = "0001-0203-0405-0607-0809-0a0b"},
               {.leaf3 = {0, 0, 0, 0}, .text = "0000-0000-0000-0000-0000-0000"},
               {.leaf3 = {0xFFFFFFFF, 0xABCDEF01, 0x80000000, 0}, .text = "ffff-ffff-abcd-ef01-8000-0000"}};
  for (const auto& c : cases) {
    fakecpuid::Reset(0x000506E3, /*max_basic=*/1);
    CpuidInfo cpu;
    cpu.read_cpuid();
    state().leaves[3] = c.leaf3;  // only a fresh execution sees it
    EXPECT_STREQ(cpu.get_processor_serial_text(), c.text);
    EXPECT_EQ(state().executions[3], 1) << "whatever the maximum basic leaf";
  }
}

TEST(CpuidInfo, ExecutesEveryLeafOnceAndKeepsLeaf1AndBrand) {
  fakecpuid::Reset(0x000506E3, 0x16, 0x80000008);
  const std::string brand(48, 'B');  // fills all three leaves
  fakecpuid::SetBrand(brand);
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
  EXPECT_EQ(cpu.get_brand_string(), brand);
}

TEST(CpuidInfo, AHugeReportedMaximumEndsAndReadsTheSameValues) {
  fakecpuid::Reset(0x000506E3, 0x16, 0x80000008);
  fakecpuid::SetBrand("Intel(R) Core(TM) i5-6500 CPU @ 3.20GHz");
  CpuidInfo sane;
  sane.read_cpuid();
  state().leaves[0].eax = state().leaves[0x80000000].eax = 0xFFFFFFFF;
  state().total_executions = 0;
  CpuidInfo huge;
  huge.read_cpuid();  // the fake aborts a run-away loop
  EXPECT_EQ(state().total_executions, 2 * (1 + 256));
  EXPECT_EQ(huge.max_basic_leaf, 0xFFFFFFFFu);
  EXPECT_EQ(huge.max_extended_leaf, 0xFFFFFFFFu);
  EXPECT_EQ(std::memcmp(huge.leaf1_registers, sane.leaf1_registers, sizeof sane.leaf1_registers), 0);
  EXPECT_STREQ(huge.get_brand_string(), sane.get_brand_string());
}

}  // namespace
}  // namespace tavsn
