#include "sysinfo/smbios_info.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <type_traits>

#include "base/process_heap.h"
#include "base/spin_lock.h"
#include "log/diag_log.h"

namespace tavsn {

// The library's own record: zero pages of the loaded image, built in place
// by each request that takes the lock. Nothing of one request is left for
// the next: AcquireSmbiosInfo zeroes it all again. A common symbol, because
// with -fdata-sections MinGW's compiler stores a zero-initialised variable
// as 134 KB of zeros in the DLL's file; a common one takes no file space.
// Not static for the same reason: only a symbol the linker sees may be common.
// Clang, which builds the fuzz targets, has no common symbols in C++; its
// builds make no DLL, so an ordinary zero-initialised array serves there.
#if defined(__clang__)
#define TAVSN_COMMON_SYMBOL
#else
#define TAVSN_COMMON_SYMBOL __attribute__((common))
#endif
alignas(SmbiosInfo) TAVSN_COMMON_SYMBOL std::uint8_t g_smbios_info_storage[sizeof(SmbiosInfo)];
#undef TAVSN_COMMON_SYMBOL

namespace {

SpinLock g_own_record_lock;

// Offsets in the System Information structure.
constexpr std::size_t kManufacturerOffset = 0x04;
constexpr std::size_t kProductNameOffset = 0x05;
constexpr std::size_t kVersionOffset = 0x06;
constexpr std::size_t kSerialNumberOffset = 0x07;
constexpr std::size_t kUuidOffset = 0x08;
constexpr std::size_t kWakeupTypeOffset = 0x18;
constexpr std::size_t kSkuNumberOffset = 0x19;
constexpr std::size_t kFamilyOffset = 0x1A;

// Pairs for the double zero start no later than the table's second-to-last
// byte, so that both bytes of a pair lie inside it.
constexpr std::uint32_t kLastPairStart = SmbiosInfo::kTableCapacity - 2;

// The first index at or after `from` where two zero bytes follow each other,
// or `none` when there is no such pair in the table.
std::uint32_t FindDoubleZero(const std::uint8_t* table, std::uint32_t from, std::uint32_t none) {
  for (std::uint32_t i = from; i <= kLastPairStart; ++i) {
    if (table[i] == 0 && table[i + 1] == 0) return i;
  }
  return none;
}

}  // namespace

bool SmbiosInfo::init_system_information() noexcept {
  if (!init_raw_smbios_data()) return false;
  return parse_system_information();
}

bool SmbiosInfo::store_raw_table(const std::uint8_t* bytes, std::uint32_t length) noexcept {
  std::memset(table_data, 0, sizeof table_data);
  scan_from_ = kNoDoubleZero;  // what the walk remembers was about the old table
  table_length = length;
  if (length >= kTableCapacity) return false;
  if (length != 0) std::memcpy(table_data, bytes, length);
  return true;
}

bool SmbiosInfo::parse_system_information() noexcept {
  std::memset(work_buffer_, 0, sizeof work_buffer_);
  std::uint32_t size = sizeof work_buffer_;
  if (!find_structure(kSystemInformationType, work_buffer_, size, true)) {
    DiagLine(ProcessLog()) << "An error occurred retrieving this data from the bios. No information available.";
    return false;
  }
  std::memset(system_header, 0, sizeof system_header);
  std::memset(manufacturer, 0, sizeof manufacturer);
  std::memset(product_name, 0, sizeof product_name);
  std::memset(version, 0, sizeof version);
  std::memset(serial_number, 0, sizeof serial_number);
  std::memset(uuid, 0, sizeof uuid);
  wakeup_type = 0;
  std::memset(sku_number, 0, sizeof sku_number);
  std::memset(family, 0, sizeof family);

  // The fields are read at their fixed offsets whatever the structure's
  // length byte says: identifiers already stored were made that way. Past
  // the copied structure the work buffer is zero, so a short structure
  // gives zero bytes and empty strings there.
  const std::uint8_t* found = work_buffer_;
  std::memcpy(system_header, found, sizeof system_header);
  get_structure_string(found[kManufacturerOffset], found, size, manufacturer, sizeof manufacturer);
  get_structure_string(found[kProductNameOffset], found, size, product_name, sizeof product_name);
  get_structure_string(found[kVersionOffset], found, size, version, sizeof version);
  get_structure_string(found[kSerialNumberOffset], found, size, serial_number, sizeof serial_number);
  std::memcpy(uuid, found + kUuidOffset, sizeof uuid);
  wakeup_type = found[kWakeupTypeOffset];
  get_structure_string(found[kSkuNumberOffset], found, size, sku_number, sizeof sku_number);
  get_structure_string(found[kFamilyOffset], found, size, family, sizeof family);
  return true;
}

std::uint32_t SmbiosInfo::structure_formatted_length(std::uint32_t position) const noexcept {
  return position + 1 < kTableCapacity ? table_data[position + 1] : 0;
}

std::uint32_t SmbiosInfo::structure_strings_length(std::uint32_t position) const noexcept {
  const std::uint32_t start = position + structure_formatted_length(position);
  const std::uint32_t pair = FindDoubleZero(table_data, start, kNoDoubleZero);
  return pair == kNoDoubleZero ? 0 : pair + 2 - start;
}

std::uint32_t SmbiosInfo::walk_strings_length(std::uint32_t position) noexcept {
  const std::uint32_t start = position + structure_formatted_length(position);
  // No pair between scan_from_ and scan_found_ qualified, so any start in
  // that stretch finds the same pair (or, after a scan that found none, no
  // pair at all).
  const bool known =
      scan_from_ != kNoDoubleZero && start >= scan_from_ && (scan_found_ == kNoDoubleZero || start <= scan_found_);
  if (!known) {
    scan_from_ = start;
    scan_found_ = FindDoubleZero(table_data, start, kNoDoubleZero);
  }
  return scan_found_ == kNoDoubleZero ? 0 : scan_found_ + 2 - start;
}

bool SmbiosInfo::find_structure(int type, std::uint8_t* destination, std::uint32_t& size, bool restart) noexcept {
  if (restart) {
    search_cursor = 0;
    scan_from_ = kNoDoubleZero;
  }
  const std::uint32_t capacity = size;
  size = 0;
  for (;;) {
    const std::uint32_t cursor = search_cursor;
    // A structure on the table's last byte has no length byte inside it.
    if (cursor >= kTableCapacity - 1) return false;
    const std::uint32_t total = structure_formatted_length(cursor) + walk_strings_length(cursor);
    if (table_data[cursor] == type) {
      if (total >= capacity) return false;
      // Without a double zero after it, a structure is only its formatted
      // area, which may claim more bytes than the table has left.
      if (total > kTableCapacity - cursor) return false;
      std::memcpy(destination, table_data + cursor, total);
      size = total;
      search_cursor = cursor + total;
      return true;
    }
    search_cursor = cursor + total;
    if (total == 0 || search_cursor >= kTableCapacity) return false;
  }
}

void SmbiosInfo::get_structure_string(std::uint8_t number, const std::uint8_t* structure, std::uint32_t structure_size,
                                      char* destination, std::size_t destination_size) noexcept {
  if (destination_size == 0) return;
  destination[0] = '\0';
  auto byte = [&](std::uint32_t i) -> std::uint8_t { return i < structure_size ? structure[i] : 0; };
  std::uint32_t at = byte(1);
  for (std::uint32_t index = 1; index <= number; ++index) {
    if (byte(at) == 0 && byte(at + 1) == 0) return;
    if (index == number) {
      std::size_t limit = destination_size - 1;
      if (limit > kTextCapacity - 1) limit = kTextCapacity - 1;
      std::size_t length = 0;
      while (length < limit && byte(at) != 0) destination[length++] = static_cast<char>(structure[at++]);
      destination[length] = '\0';
      return;
    }
    while (byte(at) != 0) ++at;
    ++at;  // past the string's zero
  }
}

const char* SmbiosInfo::get_uuid_text() noexcept {
  FormatUuidText(uuid, uuid_text);
  return uuid_text;
}

// Given back with HeapRelease alone, so it must need no destructor.
static_assert(std::is_trivially_destructible_v<SmbiosInfo>);

SmbiosInfo* AllocateSmbiosInfo() noexcept {
  void* memory = HeapAllocate(sizeof(SmbiosInfo));
  return memory == nullptr ? nullptr : ::new (memory) SmbiosInfo();
}

SmbiosInfo* AcquireSmbiosInfo() noexcept {
  if (!g_own_record_lock.try_lock()) return AllocateSmbiosInfo();
  return ::new (g_smbios_info_storage) SmbiosInfo();
}

void SmbiosInfoTraits::Release(SmbiosInfo* info) noexcept {
  if (static_cast<void*>(info) == g_smbios_info_storage) {
    g_own_record_lock.unlock();
  } else {
    HeapRelease(info);
  }
}

}  // namespace tavsn
