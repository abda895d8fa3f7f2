// libFuzzer target for the SMBIOS structure walk and string extraction.
//
// Input: one control byte, then the raw structure table. Bit 0 of the
// control byte places the table at the end of the 64000-byte buffer (zeros
// before it) instead of its start, so that short inputs reach the buffer's
// last bytes; the rest of the byte names the structure type searched for.
//
// Checked beyond what the sanitizers see:
// - every find_structure result against a walk by the plain rule, which
//   rescans for each structure's double zero and never reads outside the
//   table;
// - every copy and every string lies inside its own exact-size heap block,
//   and the bytes after table_data are poisoned while the walk runs, so a
//   read past the table or the copy is reported by AddressSanitizer;
// - strings are at most 999 characters, the UUID text 35.
#include <sanitizer/asan_interface.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "sysinfo/smbios_info.h"

namespace {

using tavsn::SmbiosInfo;
constexpr std::uint32_t kCapacity = SmbiosInfo::kTableCapacity;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

struct Expected {
  bool found;
  std::uint32_t position, size;
};

// The walk as the plain rule states it, with the two reads past the table
// taken as "not found". Left out of the coverage feedback: it only repeats
// the product's comparisons, and at twice the cost.
__attribute__((no_sanitize("coverage"))) Expected PlainWalk(const SmbiosInfo& info, int type, std::uint32_t cursor,
                                                            std::uint32_t capacity) {
  for (;;) {
    if (cursor >= kCapacity - 1) return {false, cursor, 0};
    const std::uint32_t total = info.structure_formatted_length(cursor) + info.structure_strings_length(cursor);
    if (info.table_data[cursor] == type) {
      if (total >= capacity || total > kCapacity - cursor) return {false, cursor, 0};
      return {true, cursor, total};
    }
    cursor += total;
    if (total == 0 || cursor >= kCapacity) return {false, cursor, 0};
  }
}

void CheckStrings(const std::uint8_t* structure, std::uint32_t size) {
  // An exact-size copy: any read past it is a heap overflow.
  std::uint8_t* copy = static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size));
  if (size != 0) std::memcpy(copy, structure, size);
  char* text = static_cast<char*>(std::malloc(SmbiosInfo::kTextCapacity));
  for (int number = 0; number <= 255; ++number) {
    std::memset(text, 'x', SmbiosInfo::kTextCapacity);
    SmbiosInfo::get_structure_string(static_cast<std::uint8_t>(number), copy, size, text, SmbiosInfo::kTextCapacity);
    const std::size_t length = strnlen(text, SmbiosInfo::kTextCapacity);
    Require(length < SmbiosInfo::kTextCapacity, "string not terminated within 1000 bytes");
    Require(number != 0 || length == 0, "string number 0 is not empty");
  }
  std::free(text);
  std::free(copy);
}

SmbiosInfo* Info() {
  static SmbiosInfo* info = tavsn::AllocateSmbiosInfo();
  return info;
}

// The record's bytes right after table_data (system_header and the start of
// manufacturer), which no walk may read.
void GuardAfterTable(bool on) {
  std::uint8_t* after = Info()->table_data + kCapacity;
  if (on)
    ASAN_POISON_MEMORY_REGION(after, 8);
  else
    ASAN_UNPOISON_MEMORY_REGION(after, 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t control = data[0];
  const std::uint8_t* table = data + 1;
  std::size_t length = size - 1;
  if (length > kCapacity) length = kCapacity;

  SmbiosInfo* info = Info();
  Require(info != nullptr, "no memory for the record");
  info->~SmbiosInfo();
  ::new (info) SmbiosInfo();
  const std::uint32_t offset = (control & 1) ? kCapacity - static_cast<std::uint32_t>(length) : 0;
  if (length != 0) std::memcpy(info->table_data + offset, table, length);

  // The whole path of the identifier: type 1, copied into the work buffer.
  // (It writes the fields right after table_data, so no guard here; the
  // guarded walks below cover the same search.)
  const bool found_system = info->parse_system_information();
  if (found_system) {
    Require(std::strlen(info->get_uuid_text()) == 35, "uuid text is not 35 characters");
    Require(std::strlen(info->serial_number) <= 999, "serial number over 999 characters");
    info->serial_number_usable();
  }

  const int type = control >> 1;
  std::uint8_t* destination = static_cast<std::uint8_t*>(std::malloc(kCapacity));
  GuardAfterTable(true);
  std::uint32_t cursor = 0;
  // A search for type 0 finds every zero pair after the table: strings are
  // checked for the first structures found only, the walk for all of them.
  int string_checks_left = 32;
  for (bool restart = true;; restart = false) {
    const Expected expected = PlainWalk(*info, type, restart ? 0 : cursor, kCapacity);
    std::uint32_t copied = kCapacity;
    const bool found = info->find_structure(type, destination, copied, restart);
    Require(found == expected.found, "found differs from the plain walk");
    Require(copied == expected.size, "size differs from the plain walk");
    if (!found) break;
    Require(std::memcmp(destination, info->table_data + expected.position, copied) == 0, "copy differs");
    if (string_checks_left-- > 0) {
      GuardAfterTable(false);
      CheckStrings(destination, copied);
      GuardAfterTable(true);
    }
    Require(info->search_cursor == expected.position + copied, "cursor is not after the copy");
    // A matching structure of size 0 leaves the cursor where it is and
    // would be returned again and again.
    if (copied == 0) break;
    cursor = info->search_cursor;
  }
  GuardAfterTable(false);
  std::free(destination);

  // The input itself as a copied structure, however malformed.
  CheckStrings(table, static_cast<std::uint32_t>(length));
  return 0;
}
