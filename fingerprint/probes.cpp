#include "fingerprint/probes.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/cpuid.h"
#include "fingerprint/probe_platform.h"

namespace tavsn::fingerprint {
namespace {

constexpr char16_t kProcessorKey[] = u"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
constexpr char16_t kClockValue[] = u"~MHz";
constexpr char16_t kFirstDisk[] = u"\\\\.\\PhysicalDrive0";
constexpr char kNoAdapterMessage[] = "Cannot get Adapter Information Found.";

constexpr std::uint32_t kHighestExtendedLeaf = 0x80000000;
constexpr std::uint32_t kFirstBrandLeaf = 0x80000002;
constexpr std::uint32_t kLastBrandLeaf = 0x80000004;
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

void WriteCpuidText(ProbeRecord& record) noexcept {
  const CpuidRegisters leaf0 = ExecuteCpuid(0, 0);
  std::snprintf(record.cpuid_text(), RoomFrom(ProbeArea::kCpuid), "%08X%08X%08X%08X", static_cast<unsigned>(leaf0.eax),
                static_cast<unsigned>(leaf0.ebx), static_cast<unsigned>(leaf0.ecx), static_cast<unsigned>(leaf0.edx));
}

void WriteClockText(ProbeRecord& record) noexcept {
  RegistryKey key;
  if (probeos::OpenMachineKey(kProcessorKey, key) != probeos::kSuccess) return;
  std::uint32_t megahertz = 0;
  if (probeos::QueryNumberValue(key, kClockValue, megahertz) == probeos::kSuccess)
    FormatNumber32(record, ProbeArea::kMhz, megahertz);
}

void WriteMemoryText(ProbeRecord& record) noexcept {
  std::uint64_t total_bytes = 0;
  if (!probeos::TotalPhysicalMemory(total_bytes)) return;
  FormatNumber32(record, ProbeArea::kMemory, static_cast<std::uint32_t>(total_bytes / kBytesPerMebibyte));
}

void WriteDiskText(ProbeRecord& record) noexcept {
  FileHandle disk;
  if (!probeos::OpenDiskForReadWrite(kFirstDisk, disk)) return;
  std::int64_t length = 0;
  if (!probeos::QueryDiskLength(disk, length)) return;
  const std::int64_t gigabytes = length / kBytesPerDecimalGigabyte;
  FormatNumber32(record, ProbeArea::kDisk, static_cast<std::uint32_t>(static_cast<std::uint64_t>(gigabytes)));
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

int read_cpu_vendor(char* area) noexcept {
  if (area == nullptr) return 0;
  const CpuidRegisters leaf0 = ExecuteCpuid(0, 0);
  // The vendor text lies in EBX, EDX, ECX, in that order.
  StoreLittleEndian32(leaf0.ebx, area);
  StoreLittleEndian32(leaf0.edx, area + 4);
  StoreLittleEndian32(leaf0.ecx, area + 8);
  area[12] = '\0';
  return 12;
}

int read_cpu_brand(char* area) noexcept {
  if (area == nullptr) return 0;
  if (ExecuteCpuid(kHighestExtendedLeaf, 0).eax < kLastBrandLeaf) return 0;
  char* out = area;
  for (std::uint32_t leaf = kFirstBrandLeaf; leaf <= kLastBrandLeaf; ++leaf) {
    const CpuidRegisters part = ExecuteCpuid(leaf, 0);
    const std::uint32_t in_order[4] = {part.eax, part.ebx, part.ecx, part.edx};
    for (std::uint32_t value : in_order) {
      StoreLittleEndian32(value, out);
      out += 4;
    }
  }
  area[48] = '\0';
  return 48;
}

int read_adapter_mac(char* text) noexcept {
  if (text == nullptr) return 0;
  std::uint8_t address[6] = {};
  if (probeos::FirstAdapterAddress(address) != probeos::kSuccess) {
    probeos::WriteStandardOutput(kNoAdapterMessage);
    return 0;
  }
  char digits[13];
  std::snprintf(digits, sizeof digits, "%02x%02x%02x%02x%02x%02x", address[0], address[1], address[2], address[3],
                address[4], address[5]);
  for (char& c : digits) c = AsciiUpper(c);
  static_assert(sizeof digits <= kMacTextCapacity);
  std::memcpy(text, digits, sizeof digits);
  return 1;
}

int collect_pc_info(ProbeRecord* record) noexcept {
  if (record == nullptr) return -1;
  std::memset(record->bytes, 0, sizeof record->bytes);
  WriteCpuidText(*record);
  read_cpu_vendor(record->vendor_text());
  read_cpu_brand(record->brand_text());
  WriteClockText(*record);
  WriteMemoryText(*record);
  WriteDiskText(*record);
  read_adapter_mac(record->mac_text());
  return 0;
}

}  // namespace tavsn::fingerprint
