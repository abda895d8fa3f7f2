#include "fingerprint/probes.h"

#include <cstdint>
#include <cstring>

#include "base/cpuid.h"
#include "fingerprint/probe_platform.h"
#include "fingerprint/probe_texts.h"

namespace tavsn::fingerprint {
namespace {

constexpr char16_t kProcessorKey[] = u"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
constexpr char16_t kClockValue[] = u"~MHz";
constexpr char16_t kFirstDisk[] = u"\\\\.\\PhysicalDrive0";
constexpr char kNoAdapterMessage[] = "Cannot get Adapter Information Found.";

constexpr std::uint32_t kHighestExtendedLeaf = 0x80000000;
constexpr std::uint32_t kFirstBrandLeaf = 0x80000002;
constexpr std::uint32_t kLastBrandLeaf = 0x80000004;

void WriteClockText(ProbeRecord& record) noexcept {
  RegistryKey key;
  if (probeos::OpenMachineKey(kProcessorKey, key) != probeos::kSuccess) return;
  std::uint32_t megahertz = 0;
  if (probeos::QueryNumberValue(key, kClockValue, megahertz) == probeos::kSuccess) write_mhz_text(record, megahertz);
}

void WriteMemoryText(ProbeRecord& record) noexcept {
  std::uint64_t total_bytes = 0;
  if (probeos::TotalPhysicalMemory(total_bytes)) write_memory_text(record, total_bytes);
}

void WriteDiskText(ProbeRecord& record) noexcept {
  FileHandle disk;
  if (!probeos::OpenDiskForReadWrite(kFirstDisk, disk)) return;
  std::int64_t length = 0;
  if (probeos::QueryDiskLength(disk, length)) write_disk_text(record, length);
}

}  // namespace

int read_cpu_vendor(char* area) noexcept {
  if (area == nullptr) return 0;
  write_vendor_text(area, ExecuteCpuid(0, 0));
  return 12;
}

int read_cpu_brand(char* area) noexcept {
  if (area == nullptr) return 0;
  if (ExecuteCpuid(kHighestExtendedLeaf, 0).eax < kLastBrandLeaf) return 0;
  CpuidRegisters leaves[3];
  for (std::uint32_t leaf = kFirstBrandLeaf; leaf <= kLastBrandLeaf; ++leaf) {
    leaves[leaf - kFirstBrandLeaf] = ExecuteCpuid(leaf, 0);
  }
  write_brand_text(area, leaves);
  return static_cast<int>(kBrandBytes);
}

int read_adapter_mac(char* text) noexcept {
  if (text == nullptr) return 0;
  std::uint8_t address[kMacAddressBytes] = {};
  if (probeos::FirstAdapterAddress(address) != probeos::kSuccess) {
    probeos::WriteStandardOutput(kNoAdapterMessage);
    return 0;
  }
  write_mac_text(text, address);
  return 1;
}

int collect_pc_info(ProbeRecord* record) noexcept {
  if (record == nullptr) return -1;
  std::memset(record->bytes, 0, sizeof record->bytes);
  write_cpuid_text(*record, ExecuteCpuid(0, 0));
  read_cpu_vendor(record->vendor_text());
  read_cpu_brand(record->brand_text());
  WriteClockText(*record);
  WriteMemoryText(*record);
  WriteDiskText(*record);
  read_adapter_mac(record->mac_text());
  return 0;
}

}  // namespace tavsn::fingerprint
