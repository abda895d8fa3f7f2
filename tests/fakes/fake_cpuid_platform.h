#pragma once
// A stand-in for the CPUID instruction of the processor reader: leaves
// answer as tests set them, and every execution is counted.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "base/cpuid.h"

namespace tavsn::fakecpuid {

struct State {
  // Leaves not in the map answer with four zero registers.
  std::map<std::uint32_t, CpuidRegisters> leaves;
  std::map<std::uint32_t, int> executions;  // leaf -> how often
  int total_executions = 0;
  bool nonzero_subleaf_seen = false;
  // When set, answers every leaf instead of `leaves` (the executions are
  // still counted): lets another fake keep its own leaves and journal.
  std::function<CpuidRegisters(std::uint32_t leaf)> answer;
};

State& state();

// The leaf that reports the highest extended leaf, and the three brand leaves
// from kFirstBrandLeaf, each four registers of kBrandBytesPerLeaf text bytes.
constexpr std::uint32_t kExtendedRangeLeaf = 0x80000000;
constexpr std::uint32_t kFirstBrandLeaf = 0x80000002;
constexpr std::uint32_t kBrandLeafCount = 3;
constexpr std::size_t kBrandBytesPerLeaf = 16;
constexpr std::size_t kBrandBytes = kBrandLeafCount * kBrandBytesPerLeaf;  // 48
constexpr std::size_t kRegisterBytes = 4;

// A processor with basic leaves up to `max_basic` whose leaf 1 EAX is
// `signature`, and extended leaves up to `max_extended`.
void Reset(std::uint32_t signature = 0x000506E3, std::uint32_t max_basic = 0x16,
           std::uint32_t max_extended = 0x80000008);

// The brand leaves 0x80000002..4 answer with these bytes, zero-filled to 48.
void SetBrand(const std::string& brand);

// The registers of the brand leaves 0x80000002..4 that spell `brand`,
// zero-filled to 48 bytes; and one register from four text bytes.
void BrandLeaves(const std::string& brand, CpuidRegisters (&leaves)[kBrandLeafCount]);
std::uint32_t RegisterFromText(const char* four_bytes);

// Past this many executions the reader's leaf loop is taken to run away:
// the fake stops the test program with a message instead of hanging it.
constexpr int kRunawayExecutions = 100000;

}  // namespace tavsn::fakecpuid
