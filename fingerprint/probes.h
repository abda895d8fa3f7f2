#pragma once
// The fingerprint probes: each reads one hardware fact afresh and leaves it
// in the ProbeRecord as a short text, or leaves its area empty when the
// platform does not answer. Nothing is logged and nothing is kept.

#include "fingerprint/probe_record.h"

namespace tavsn::fingerprint {

// Zeroes the whole record, then runs every probe in order. Gives 0 whatever
// the probes found, -1 for a null record (nothing written).
int collect_pc_info(ProbeRecord* record) noexcept;

// The 12 vendor characters of CPUID leaf 0 and a zero byte at `area`.
// Gives 12, or 0 for a null area.
int read_cpu_vendor(char* area) noexcept;

// The 48 brand bytes of CPUID leaves 0x80000002..4, taken as they come, and a
// zero byte at `area`. Gives 48, or 0 for a null area or a processor without
// those leaves (nothing written then).
int read_cpu_brand(char* area) noexcept;

// The first listed adapter's MAC as 12 uppercase digits and a zero byte at
// `text` (room for 32 bytes). Gives 1 when written; otherwise writes
// "Cannot get Adapter Information Found." to standard output and gives 0.
int read_adapter_mac(char* text) noexcept;

}  // namespace tavsn::fingerprint
