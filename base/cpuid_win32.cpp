#include <cpuid.h>

#include "base/cpuid.h"

namespace tavsn {

CpuidRegisters ExecuteCpuid(std::uint32_t leaf, std::uint32_t subleaf) noexcept {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid_count(leaf, subleaf, eax, ebx, ecx, edx);
  return {eax, ebx, ecx, edx};
}

}  // namespace tavsn
