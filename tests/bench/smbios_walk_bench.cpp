// Times whole walks of the 64000-byte structure table: a typical firmware
// table followed by zeros, a table of zero bytes only (32000 structures of
// type 0 and length 0), and a table without any double zero, where every
// structure's string-set scan would run to the end of the table. Each is
// walked by find_structure and by a plain walk that rescans for every
// structure, as the walk did before its scans were remembered.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/process_heap.h"
#include "sysinfo/smbios_info.h"

namespace {

using tavsn::SmbiosInfo;
using Clock = std::chrono::steady_clock;

// The type searched for occurs nowhere, so every walk covers the table.
constexpr int kAbsentType = 250;

void AddStructure(std::vector<std::uint8_t>& table, std::uint8_t type, std::uint8_t length,
                  const std::vector<const char*>& strings) {
  table.push_back(type);
  table.push_back(length);
  table.push_back(static_cast<std::uint8_t>(table.size()));
  table.push_back(0);
  for (std::uint8_t i = 4; i < length; ++i) table.push_back(i % 3 == 0 ? 1 : 0x41);
  for (const char* s : strings) table.insert(table.end(), s, s + std::strlen(s) + 1);
  if (strings.empty()) table.push_back(0);
  table.push_back(0);
}

std::vector<std::uint8_t> TypicalTable() {
  std::vector<std::uint8_t> table;
  AddStructure(table, 0, 0x1A, {"American Megatrends Inc.", "F.50", "03/18/2019"});
  AddStructure(table, 1, 0x1B, {"Contoso", "Desktop 9000", "1.0", "CZC1234XYZ", "SKU1", "Family"});
  AddStructure(table, 2, 0x0F, {"Contoso", "Board", "1.0", "BSN0001"});
  AddStructure(table, 3, 0x16, {"Contoso", "Chassis"});
  for (int cpu = 0; cpu < 2; ++cpu) AddStructure(table, 4, 0x30, {"CPU0", "Intel", "Core i5"});
  for (int slot = 0; slot < 8; ++slot) AddStructure(table, 17, 0x28, {"DIMM0", "BANK 0", "Vendor", "SN", "PN"});
  for (int port = 0; port < 20; ++port) AddStructure(table, 8, 0x09, {"USB", "Rear"});
  AddStructure(table, 127, 4, {});
  return table;
}

// What find_structure computes, by the plain rule: each structure's scan for
// its double zero starts afresh.
std::uint32_t RescanningWalk(const SmbiosInfo& info) {
  std::uint32_t cursor = 0, steps = 0;
  while (cursor < SmbiosInfo::kTableCapacity - 1) {
    const std::uint32_t total = info.structure_formatted_length(cursor) + info.structure_strings_length(cursor);
    ++steps;
    if (info.table_data[cursor] == kAbsentType || total == 0) break;
    cursor += total;
  }
  return steps;
}

double MillisecondsPerWalk(SmbiosInfo& info, bool rescanning, int walks) {
  static std::uint8_t destination[SmbiosInfo::kTableCapacity];
  const auto start = Clock::now();
  for (int i = 0; i < walks; ++i) {
    if (rescanning) {
      if (RescanningWalk(info) == 0) std::abort();
    } else {
      std::uint32_t size = sizeof destination;
      if (info.find_structure(kAbsentType, destination, size, true)) std::abort();
    }
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / walks;
}

void Report(const char* name, const std::vector<std::uint8_t>& table, int walks, int rescanning_walks) {
  const tavsn::HeapPointer<SmbiosInfo> owner(tavsn::AllocateSmbiosInfo());
  SmbiosInfo* info = owner.get();
  if (info == nullptr) std::abort();
  std::memcpy(info->table_data, table.data(), table.size());
  const double remembered = MillisecondsPerWalk(*info, false, walks);
  const double rescanning = MillisecondsPerWalk(*info, true, rescanning_walks);
  std::printf("%-44s %10.3f ms  (rescanning each structure: %10.3f ms)\n", name, remembered, rescanning);
}

}  // namespace

int main() {
  std::vector<std::uint8_t> typical = TypicalTable();
  std::printf("one whole walk of the %u-byte table\n", SmbiosInfo::kTableCapacity);
  char name[64];
  std::snprintf(name, sizeof name, "typical table (%zu bytes), zeros after", typical.size());
  Report(name, typical, 200, 200);
  Report("all zero: 32000 type-0/length-0 structures", std::vector<std::uint8_t>(SmbiosInfo::kTableCapacity, 0), 200,
         200);
  // Bytes of 2: structures of length 2 whose scans for a double zero find
  // none, 32000 of them.
  Report("no double zero: 32000 structures of length 2", std::vector<std::uint8_t>(SmbiosInfo::kTableCapacity, 2), 200,
         2);
  return 0;
}
