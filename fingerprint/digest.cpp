#include "fingerprint/digest.h"

#include <cstring>

#include "base/bounded_text.h"

namespace tavsn::fingerprint {
namespace {

// mhz_text and memory_text stay out: the clock and the memory size do not
// enter the fingerprint.
constexpr ProbeArea kDigestedAreas[] = {ProbeArea::kCpuid, ProbeArea::kVendor, ProbeArea::kBrand,
                                        ProbeArea::kDisk,  ProbeArea::kMac,    ProbeArea::kSpare};

// A text read from the record ends at the record's end at the latest, since
// the spare area is never written.
const char* TextAt(const ProbeRecord& record, ProbeArea area) { return record.at(area); }

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::size_t build_digest_input(const ProbeRecord& record, char (&input)[kDigestInputCapacity + 1]) noexcept {
  std::memset(input, 0, sizeof input);
  for (ProbeArea area : kDigestedAreas) AppendBounded(input, kDigestInputCapacity, TextAt(record, area));
  return std::strlen(input);
}

void digest_to_hex(const std::uint8_t (&digest)[kMd5DigestBytes], char (&hex)[32]) noexcept {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < kMd5DigestBytes; ++i) {
    hex[2 * i] = kDigits[digest[i] >> 4];
    hex[2 * i + 1] = kDigits[digest[i] & 0x0F];
  }
}

void write_pc_id(const ProbeRecord& record, char* data) noexcept {
  char input[kDigestInputCapacity + 1];
  const std::size_t length = build_digest_input(record, input);
  std::uint8_t digest[kMd5DigestBytes];
  md5_digest(input, length, digest);
  char hex[32];
  digest_to_hex(digest, hex);
  // Only 31 of the 32 digits are kept; the last byte carries the terminator.
  hex[31] = '\0';
  for (char& c : hex) c = AsciiUpper(c);
  std::memcpy(data, hex, kPcIdBytes);
}

}  // namespace tavsn::fingerprint
