#pragma once
// The record of fingerprint probe texts. Its eight areas follow one another
// without gaps, and the digest reads texts that run on from one area into
// the next, so every offset below is part of the fingerprint itself.

#include <cstddef>

namespace tavsn::fingerprint {

enum class ProbeArea { kCpuid, kVendor, kBrand, kMhz, kMemory, kDisk, kMac, kSpare };

struct ProbeAreaSpan {
  std::size_t offset;
  std::size_t width;
};

constexpr ProbeAreaSpan SpanOf(ProbeArea area) {
  switch (area) {
    case ProbeArea::kCpuid: return {0, 32};
    case ProbeArea::kVendor: return {32, 64};
    case ProbeArea::kBrand: return {96, 64};
    case ProbeArea::kMhz: return {160, 8};
    case ProbeArea::kMemory: return {168, 8};
    case ProbeArea::kDisk: return {176, 8};
    case ProbeArea::kMac: return {184, 32};
    case ProbeArea::kSpare: return {216, 32};
  }
  return {0, 0};
}

// One flat character array rather than one member per area: a text that
// runs on into the next area then stays inside a single object.
struct ProbeRecord {
  static constexpr std::size_t kSize = 248;

  char bytes[kSize];

  char* at(ProbeArea area) { return bytes + SpanOf(area).offset; }
  const char* at(ProbeArea area) const { return bytes + SpanOf(area).offset; }

  char* cpuid_text() { return at(ProbeArea::kCpuid); }
  char* vendor_text() { return at(ProbeArea::kVendor); }
  char* brand_text() { return at(ProbeArea::kBrand); }
  char* mhz_text() { return at(ProbeArea::kMhz); }
  char* memory_text() { return at(ProbeArea::kMemory); }
  char* disk_text() { return at(ProbeArea::kDisk); }
  char* mac_text() { return at(ProbeArea::kMac); }
  char* spare_text() { return at(ProbeArea::kSpare); }
};

static_assert(sizeof(ProbeRecord) == 248);
static_assert(SpanOf(ProbeArea::kSpare).offset + SpanOf(ProbeArea::kSpare).width == ProbeRecord::kSize);
// The spare area is never written, so every text read from the record ends
// inside it at the latest.
static_assert(SpanOf(ProbeArea::kMac).offset + 13 <= SpanOf(ProbeArea::kSpare).offset);

}  // namespace tavsn::fingerprint
