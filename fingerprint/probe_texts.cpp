#include "fingerprint/probe_texts.h"

#include <cstdio>
#include <cstring>

namespace tavsn::fingerprint {
namespace {

constexpr std::uint64_t kBytesPerMebibyte = 0x100000;
constexpr std::int64_t kBytesPerDecimalGigabyte = 1000000000;
constexpr std::size_t kMacTextCapacity = 32;

void StoreLittleEndian32(std::uint32_t value, char* bytes) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The room from `area` to the end of the record: a text that fills its area
// exactly puts its terminating zero on the next area's first byte.
std::size_t RoomFrom(ProbeArea area) { return ProbeRecord::kSize - SpanOf(area).offset; }

void FormatNumber32(ProbeRecord& record, ProbeArea area, std::uint32_t value) {
  std::snprintf(record.at(area), RoomFrom(area), "%08X", static_cast<unsigned>(value));
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

void write_cpuid_text(ProbeRecord& record, const CpuidRegisters& leaf0) noexcept {
  std::snprintf(record.cpuid_text(), RoomFrom(ProbeArea::kCpuid), "%08X%08X%08X%08X", static_cast<unsigned>(leaf0.eax),
                static_cast<unsigned>(leaf0.ebx), static_cast<unsigned>(leaf0.ecx), static_cast<unsigned>(leaf0.edx));
}

void write_vendor_text(char* area, const CpuidRegisters& leaf0) noexcept {
  // The vendor text lies in EBX, EDX, ECX, in that order.
  StoreLittleEndian32(leaf0.ebx, area);
  StoreLittleEndian32(leaf0.edx, area + 4);
  StoreLittleEndian32(leaf0.ecx, area + 8);
  area[12] = '\0';
}

void write_brand_text(char* area, const CpuidRegisters (&leaves)[3]) noexcept {
  char* out = area;
  for (const CpuidRegisters& part : leaves) {
    const std::uint32_t in_order[4] = {part.eax, part.ebx, part.ecx, part.edx};
    for (std::uint32_t value : in_order) {
      StoreLittleEndian32(value, out);
      out += 4;
    }
  }
  area[kBrandBytes] = '\0';
}

void write_mhz_text(ProbeRecord& record, std::uint32_t megahertz) noexcept {
  FormatNumber32(record, ProbeArea::kMhz, megahertz);
}

void write_memory_text(ProbeRecord& record, std::uint64_t total_bytes) noexcept {
  FormatNumber32(record, ProbeArea::kMemory, static_cast<std::uint32_t>(total_bytes / kBytesPerMebibyte));
}

void write_disk_text(ProbeRecord& record, std::int64_t length_bytes) noexcept {
  const std::int64_t gigabytes = length_bytes / kBytesPerDecimalGigabyte;
  FormatNumber32(record, ProbeArea::kDisk, static_cast<std::uint32_t>(static_cast<std::uint64_t>(gigabytes)));
}

void write_mac_text(char* text, const std::uint8_t (&address)[kMacAddressBytes]) noexcept {
  char digits[13];
  std::snprintf(digits, sizeof digits, "%02x%02x%02x%02x%02x%02x", address[0], address[1], address[2], address[3],
                address[4], address[5]);
  for (char& c : digits) c = AsciiUpper(c);
  static_assert(sizeof digits <= kMacTextCapacity);
  std::memcpy(text, digits, sizeof digits);
}

void fill_probe_record(ProbeRecord& record, const ProbeAnswers& answers) noexcept {
  std::memset(record.bytes, 0, sizeof record.bytes);
  write_cpuid_text(record, answers.leaf0);
  write_vendor_text(record.vendor_text(), answers.leaf0);
  if (answers.has_brand) write_brand_text(record.brand_text(), answers.brand_leaves);
  if (answers.has_mhz) write_mhz_text(record, answers.mhz);
  if (answers.has_memory) write_memory_text(record, answers.memory_bytes);
  if (answers.has_disk) write_disk_text(record, answers.disk_bytes);
  if (answers.has_mac) write_mac_text(record.mac_text(), answers.mac);
}

}  // namespace tavsn::fingerprint
