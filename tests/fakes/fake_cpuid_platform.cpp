#include "tests/fakes/fake_cpuid_platform.h"

#include <cstdio>
#include <cstdlib>

namespace tavsn {
namespace fakecpuid {

State& state() {
  static State the_state;
  return the_state;
}

std::uint32_t RegisterFromText(const char* bytes) {
  std::uint32_t value = 0;
  for (int i = static_cast<int>(kRegisterBytes) - 1; i >= 0; --i) {
    value = value << 8 | static_cast<std::uint8_t>(bytes[i]);
  }
  return value;
}

void BrandLeaves(const std::string& text, CpuidRegisters (&leaves)[kBrandLeafCount]) {
  std::string brand = text.substr(0, kBrandBytes);
  brand.resize(kBrandBytes, '\0');
  for (std::uint32_t part = 0; part < kBrandLeafCount; ++part) {
    const char* bytes = brand.data() + kBrandBytesPerLeaf * part;
    leaves[part] = {RegisterFromText(bytes), RegisterFromText(bytes + kRegisterBytes),
                    RegisterFromText(bytes + 2 * kRegisterBytes), RegisterFromText(bytes + 3 * kRegisterBytes)};
  }
}

void Reset(std::uint32_t signature, std::uint32_t max_basic, std::uint32_t max_extended) {
  state() = State{};
  state().leaves[0] = {max_basic, 0x756E6547, 0x6C65746E, 0x49656E69};  // GenuineIntel
  state().leaves[1] = {signature, 0x00100800, 0x7FFAFBBF, 0xBFEBFBFF};
  state().leaves[kExtendedRangeLeaf] = {max_extended, 0, 0, 0};
}

void SetBrand(const std::string& text) {
  CpuidRegisters leaves[kBrandLeafCount];
  BrandLeaves(text, leaves);
  for (std::uint32_t part = 0; part < kBrandLeafCount; ++part) state().leaves[kFirstBrandLeaf + part] = leaves[part];
}

}  // namespace fakecpuid

CpuidRegisters ExecuteCpuid(std::uint32_t leaf, std::uint32_t subleaf) noexcept {
  auto& state = fakecpuid::state();
  if (++state.total_executions > fakecpuid::kRunawayExecutions) {
    std::fprintf(stderr, "CPUID executed more than %d times: the leaf loop does not end\n",
                 fakecpuid::kRunawayExecutions);
    std::abort();
  }
  ++state.executions[leaf];
  if (subleaf != 0) state.nonzero_subleaf_seen = true;
  if (state.answer) return state.answer(leaf);
  auto found = state.leaves.find(leaf);
  return found == state.leaves.end() ? CpuidRegisters{0, 0, 0, 0} : found->second;
}

}  // namespace tavsn
