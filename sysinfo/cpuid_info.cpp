#include "sysinfo/cpuid_info.h"

#include <cstdio>
#include <cstring>

#include "base/cpuid.h"

namespace tavsn {
namespace {

constexpr std::uint32_t kBasicBase = 0;
constexpr std::uint32_t kExtendedBase = 0x80000000;
constexpr std::uint32_t kFirstBrandLeaf = 0x80000002;
constexpr std::uint32_t kLastBrandLeaf = 0x80000004;
constexpr std::uint32_t kSerialLeaf = 3;
constexpr std::size_t kBrandBytesPerLeaf = 16;

void Store(const CpuidRegisters& from, std::uint32_t (&to)[4]) {
  to[0] = from.eax;
  to[1] = from.ebx;
  to[2] = from.ecx;
  to[3] = from.edx;
}

// The last leaf to execute after `base`: the reported maximum, but never so
// far that the loop counter could wrap or run for minutes.
std::uint32_t LastLeaf(std::uint32_t base, std::uint32_t reported) {
  const std::uint32_t bound = base + CpuidInfo::kMaxLeavesPastBase;
  return reported < bound ? reported : bound;
}

std::uint32_t Bits(std::uint32_t value, int low, int count) { return (value >> low) & ((1u << count) - 1); }

}  // namespace

void CpuidInfo::read_cpuid() noexcept {
  std::memset(brand_string, 0, sizeof brand_string);
  std::memset(leaf0_registers, 0, sizeof leaf0_registers);
  std::memset(leaf1_registers, 0, sizeof leaf1_registers);
  std::memset(last_registers, 0, sizeof last_registers);

  Store(ExecuteCpuid(kBasicBase, 0), leaf0_registers);
  max_basic_leaf = leaf0_registers[0];
  // Every basic leaf is executed although only leaf 1 is kept.
  const std::uint32_t last_basic = LastLeaf(kBasicBase, max_basic_leaf);
  for (std::uint32_t leaf = kBasicBase + 1; leaf <= last_basic; ++leaf) {
    Store(ExecuteCpuid(leaf, 0), last_registers);
    if (leaf == 1) std::memcpy(leaf1_registers, last_registers, sizeof leaf1_registers);
  }

  Store(ExecuteCpuid(kExtendedBase, 0), last_registers);
  max_extended_leaf = last_registers[0];
  const std::uint32_t last_extended = LastLeaf(kExtendedBase, max_extended_leaf);
  for (std::uint32_t leaf = kExtendedBase + 1; leaf <= last_extended; ++leaf) {
    Store(ExecuteCpuid(leaf, 0), last_registers);
    if (leaf >= kFirstBrandLeaf && leaf <= kLastBrandLeaf)
      std::memcpy(brand_string + kBrandBytesPerLeaf * (leaf - kFirstBrandLeaf), last_registers, kBrandBytesPerLeaf);
  }
}

std::uint32_t CpuidInfo::get_model() const noexcept { return Bits(signature(), 4, 4); }
std::uint32_t CpuidInfo::get_extended_model() const noexcept { return Bits(signature(), 16, 4); }
std::uint32_t CpuidInfo::get_display_model() const noexcept { return get_extended_model() * 16 + get_model(); }
std::uint32_t CpuidInfo::get_family() const noexcept { return Bits(signature(), 8, 4); }
std::uint32_t CpuidInfo::get_extended_family() const noexcept { return Bits(signature(), 20, 8); }
std::uint32_t CpuidInfo::get_display_family() const noexcept { return get_family() + get_extended_family(); }
std::uint32_t CpuidInfo::get_processor_type() const noexcept { return Bits(signature(), 12, 2); }

const char* CpuidInfo::get_brand_string() const noexcept { return brand_string; }

bool CpuidInfo::has_serial_number_flag() const noexcept { return Bits(signature(), 18, 1) != 0; }

const char* CpuidInfo::get_processor_serial_text() noexcept {
  const CpuidRegisters serial = ExecuteCpuid(kSerialLeaf, 0);
  const std::uint32_t words[3] = {serial.eax, serial.ebx, serial.ecx};
  unsigned bytes[12];
  for (int i = 0; i < 12; ++i) bytes[i] = Bits(words[i / 4], 8 * (3 - i % 4), 8);
  std::snprintf(serial_text, sizeof serial_text, "%.2x%.2x-%.2x%.2x-%.2x%.2x-%.2x%.2x-%.2x%.2x-%.2x%.2x", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10],
                bytes[11]);
  return serial_text;
}

std::size_t format_processor_details(const CpuidInfo& cpu, char (&text)[kProcessorDetailsBufferSize]) noexcept {
  std::memset(text, 0, sizeof text);
  // Every number is far below INT_MAX (at most 270), so %d shows it as is.
  std::snprintf(text, kProcessorDetailsMaxLength + 1, "%s-%08d-%08d-%08d", cpu.get_brand_string(),
                static_cast<int>(cpu.get_processor_type()), static_cast<int>(cpu.get_display_family()),
                static_cast<int>(cpu.get_display_model()));
  return std::strlen(text);
}

}  // namespace tavsn
