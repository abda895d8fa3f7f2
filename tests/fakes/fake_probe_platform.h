#pragma once
// A stand-in for the fingerprint probes' Windows layer: CPUID leaves, the
// registry clock value, memory, disk and adapter list as tests set them, and
// a journal of the calls made.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/cpuid.h"
#include "fingerprint/probe_platform.h"

namespace tavsn::fakeprobe {

struct State {
  // Leaves not in the map answer with four zero registers.
  std::map<std::uint32_t, CpuidRegisters> cpuid;

  probeos::Status clock_key_status = probeos::kSuccess;
  probeos::Status clock_value_status = probeos::kSuccess;
  std::uint32_t clock_mhz = 2400;

  bool memory_answers = true;
  std::uint64_t total_physical_bytes = 8589934592ull;

  bool disk_opens = true;
  bool disk_answers = true;
  std::int64_t disk_length = 500107862016ll;

  probeos::Status adapter_status = probeos::kSuccess;
  std::uint8_t adapter_address[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

  // What the code did.
  std::vector<std::string> journal;  // "cpuid 80000000", "open key", ...
  std::u16string opened_key_path;
  std::u16string queried_value_name;
  std::u16string opened_disk_path;
  int keys_open = 0;
  int disks_open = 0;
  std::string standard_output;
};

State& state();

// A machine as in the worked examples: leaf 0 with EAX 0x16 and the vendor
// GenuineIntel, no brand leaves, 2400 MHz, 8 GiB, a 500 GB disk and the
// adapter 00-1A-2B-3C-4D-5E.
void Reset();

// The brand leaves 0x80000002..4 answer with these bytes, zero-filled to 48
// (inner zero bytes are kept; a longer text is cut).
void SetBrand(const std::string& brand);

// CPUID leaf 0's EBX, EDX, ECX spell `vendor`.
void SetVendor(std::uint32_t highest_leaf, const char (&vendor)[13]);

}  // namespace tavsn::fakeprobe
