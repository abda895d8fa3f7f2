#pragma once
// How each fingerprint probe writes its answer into the record: widths,
// hexadecimal forms, truncations and the zero bytes that end each text.
// The probes call these after asking the platform, and the licence server
// calls them with a machine's inventory facts, so both build the same
// record from the same facts. Portable: nothing here calls the platform.

#include <cstdint>

#include "base/cpuid.h"
#include "fingerprint/probe_record.h"

namespace tavsn::fingerprint {

inline constexpr std::size_t kBrandBytes = 48;
inline constexpr std::size_t kMacAddressBytes = 6;

// CPUID leaf 0 as "%08X%08X%08X%08X" of EAX, EBX, ECX, EDX into cpuid_text;
// its terminator falls on the first byte of vendor_text.
void write_cpuid_text(ProbeRecord& record, const CpuidRegisters& leaf0) noexcept;

// The 12 vendor characters (EBX, EDX, ECX, each little-endian) and a zero
// byte at `area`.
void write_vendor_text(char* area, const CpuidRegisters& leaf0) noexcept;

// The 48 bytes of leaves 0x80000002..4 (EAX, EBX, ECX, EDX of each,
// little-endian), taken as they come, and a zero byte at `area`.
void write_brand_text(char* area, const CpuidRegisters (&leaves)[3]) noexcept;

// "~MHz" as 8 uppercase digits into mhz_text.
void write_mhz_text(ProbeRecord& record, std::uint32_t megahertz) noexcept;

// Total physical memory in whole MiB, low 32 bits, as 8 uppercase digits
// into memory_text.
void write_memory_text(ProbeRecord& record, std::uint64_t total_bytes) noexcept;

// The first disk's length in whole decimal gigabytes (signed division), low
// 32 bits, as 8 uppercase digits into disk_text; the terminator falls on the
// first byte of mac_text.
void write_disk_text(ProbeRecord& record, std::int64_t length_bytes) noexcept;

// The address as 12 uppercase digits, address order, and a zero byte at
// `text`.
void write_mac_text(char* text, const std::uint8_t (&address)[kMacAddressBytes]) noexcept;

// What the probes found, each fact present or not as its probe succeeded.
struct ProbeAnswers {
  CpuidRegisters leaf0 = {};
  bool has_brand = false;
  CpuidRegisters brand_leaves[3] = {};
  bool has_mhz = false;
  std::uint32_t mhz = 0;
  bool has_memory = false;
  std::uint64_t memory_bytes = 0;
  bool has_disk = false;
  std::int64_t disk_bytes = 0;
  bool has_mac = false;
  std::uint8_t mac[kMacAddressBytes] = {};
};

// The record collect_pc_info leaves for these answers: zeroed, then each
// text written in the probes' order (the order matters, since the CPUID
// text's terminator lands where the vendor text begins).
void fill_probe_record(ProbeRecord& record, const ProbeAnswers& answers) noexcept;

}  // namespace tavsn::fingerprint
