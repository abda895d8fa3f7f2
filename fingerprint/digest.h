#pragma once
// The fingerprint of a filled probe record: the first 31 digits, in
// uppercase, of the MD5 of texts read from it. Portable: the DLL writes
// fingerprints with it, and the licence server rebuilds them from a
// machine's facts with the same code.

#include <cstddef>
#include <cstdint>

#include "fingerprint/md5.h"
#include "fingerprint/probe_record.h"

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

}  // namespace tavsn::fingerprint
