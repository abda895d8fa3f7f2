#pragma once
// The CPUID instruction behind a function of its own, so that every reader
// of processor facts can be tested with register values of any processor.
// cpuid_win32.cpp executes the instruction; the native tests link a fake.

#include <cstdint>

namespace tavsn {

struct CpuidRegisters {
  std::uint32_t eax, ebx, ecx, edx;
};

// CPUID with `leaf` in EAX and `subleaf` in ECX.
CpuidRegisters ExecuteCpuid(std::uint32_t leaf, std::uint32_t subleaf) noexcept;

}  // namespace tavsn
