#pragma once
// The machine fingerprint: the first 31 digits, in uppercase, of the MD5 of
// texts read from the probe record.

#include <cstddef>
#include <cstdint>

#include "fingerprint/md5.h"
#include "fingerprint/probe_record.h"

// tav_get_pc_id is declared in the public header, with TAVSN_CDECL.
#include "tavsn.h"

namespace tavsn::fingerprint {

inline constexpr unsigned kPcIdBytes = 32;                // 31 digits and a zero byte
inline constexpr std::size_t kDigestInputCapacity = 248;  // terminator included

// The texts at cpuid_text, vendor_text, brand_text, disk_text, mac_text and
// spare_text, one after the other, zero-terminated, in `input` (zeroed
// first). Gives the number of characters.
std::size_t build_digest_input(const ProbeRecord& record, char (&input)[kDigestInputCapacity + 1]) noexcept;

// 32 lowercase hexadecimal digits, digest byte 0 first, high digit first; no
// terminating zero.
void digest_to_hex(const std::uint8_t (&digest)[kMd5DigestBytes], char (&hex)[32]) noexcept;

// The 31 uppercase digits and the zero byte, written to data[0..31], for a
// record the probes have filled.
void write_pc_id(const ProbeRecord& record, char* data) noexcept;

// Gives a record from the process heap (HeapAllocate), not yet zeroed, or
// null when there is no storage.
using ProbeRecordAllocator = ProbeRecord* (*)() noexcept;
ProbeRecord* AllocateProbeRecord() noexcept;

// tav_get_pc_id with the record's storage obtained from `allocate`.
int get_pc_id(char* data, unsigned int len, ProbeRecordAllocator allocate) noexcept;

}  // namespace tavsn::fingerprint
