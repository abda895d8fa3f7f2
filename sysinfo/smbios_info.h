#pragma once
// The firmware's system-information record: the raw SMBIOS structure table
// and the fields of its first System Information structure (type 1).
//
// The record with its work buffer is about 134 KB, far too large for the
// stack of a host's thread. GetPCSN takes the library's own record:
//
//   const SmbiosInfoHold info(AcquireSmbiosInfo());
//   if (info && info.get()->init_system_information()) { ... }
//
// and other callers one from the heap (AllocateSmbiosInfo, owned by a
// HeapPointer<SmbiosInfo>).

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "base/unique_resource.h"

namespace tavsn {

// Whether GetPCSN takes a firmware serial number rather than the UUID: false
// when the text begins with a space or has fewer than 8 characters; nothing
// else about its content is judged. Inline, so that the licence server
// applies the same rule without linking the firmware reader.
constexpr std::size_t kUsableSerialLength = 8;
inline bool SerialNumberTextUsable(const char* text) noexcept {
  if (text[0] == ' ') return false;
  std::size_t length = 0;
  while (length < kUsableSerialLength && text[length] != '\0') ++length;
  return length >= kUsableSerialLength;
}

// The firmware UUID's 16 table bytes as GetPCSN writes them: four groups of
// 8 lowercase hex digits, each the little-endian 32-bit value of bytes 0-3,
// 6-7 then 4-5, 11..8 and 15..12, joined by '-' (35 characters). Neither the
// table's byte order nor the usual 8-4-4-4-12 layout, but the identifiers
// already stored hold it. Inline, so that the licence server writes the
// same texts without linking the firmware reader.
constexpr std::size_t kUuidTextCapacity = 64;
inline void FormatUuidText(const std::uint8_t (&uuid)[16], char (&text)[kUuidTextCapacity]) noexcept {
  const auto le16 = [&](int at) { return static_cast<unsigned>(uuid[at] | uuid[at + 1] << 8); };
  std::snprintf(text, sizeof text, "%08x-%04x%04x-%02x%02x%02x%02x-%02x%02x%02x%02x", le16(0) | le16(2) << 16, le16(6),
                le16(4), uuid[11], uuid[10], uuid[9], uuid[8], uuid[15], uuid[14], uuid[13], uuid[12]);
}

class SmbiosInfo {
 public:
  static constexpr std::uint32_t kTableCapacity = 64000;
  static constexpr std::size_t kTextCapacity = 1000;
  static constexpr std::uint8_t kSystemInformationType = 1;

  // Reads the raw table (init_raw_smbios_data) and then the System
  // Information structure from it (parse_system_information).
  bool init_system_information() noexcept;

  // Fills smbios_*_version, table_length and table_data from the firmware.
  // False after a failure it has logged.
  bool init_raw_smbios_data() noexcept;

  // Takes `length` bytes as the raw table, zero after them. A table of
  // kTableCapacity bytes or more does not fit: table_length keeps its
  // length, table_data stays all zero and the result is false.
  bool store_raw_table(const std::uint8_t* bytes, std::uint32_t length) noexcept;

  // The part of init_system_information after the raw read: finds the first
  // type-1 structure in table_data and fills the fields from system_header to
  // family. Without one, logs and returns false, leaving those fields alone.
  bool parse_system_information() noexcept;

  // Walks table_data from search_cursor (from 0 when `restart`) to the next
  // structure of `type` and copies it, string set included, to
  // `destination`. `size` is the destination's capacity on the way in and
  // the copied size on the way out (0 when nothing was copied). A structure
  // not smaller than the capacity, or one whose bytes would lie past the end
  // of table_data, counts as not found. The walk does not stop at the
  // end-of-table structure: it runs through the zero bytes after the table
  // to the end of table_data.
  bool find_structure(int type, std::uint8_t* destination, std::uint32_t& size, bool restart) noexcept;

  // The length byte of the structure at `position`: header plus formatted
  // area. 0 when the length byte would lie past table_data.
  std::uint32_t structure_formatted_length(std::uint32_t position) const noexcept;

  // The size of the string set of the structure at `position`, up to and
  // including the first double zero byte after its formatted area; 0 when
  // there is none in table_data (only pairs starting below its last byte
  // count).
  std::uint32_t structure_strings_length(std::uint32_t position) const noexcept;

  // String `number` (1-based) of a copied structure of `structure_size`
  // bytes into `destination` of `destination_size` bytes: at most
  // kTextCapacity - 1 characters, zero-terminated. Number 0, or one past the
  // last string, gives the empty text. The set ends where a string would
  // begin with two zero bytes; bytes past the copy read as zero.
  static void get_structure_string(std::uint8_t number, const std::uint8_t* structure, std::uint32_t structure_size,
                                   char* destination, std::size_t destination_size) noexcept;

  bool serial_number_usable() const noexcept { return SerialNumberTextUsable(serial_number); }
  const char* get_serial_number() const noexcept { return serial_number; }

  // FormatUuidText of the uuid bytes, formatted anew on each call into
  // uuid_text.
  const char* get_uuid_text() noexcept;

  std::uint8_t smbios_major_version = 0;
  std::uint8_t smbios_minor_version = 0;
  std::uint32_t table_length = 0;
  std::uint8_t table_data[kTableCapacity] = {};
  std::uint8_t system_header[4] = {};
  char manufacturer[kTextCapacity] = {};
  char product_name[kTextCapacity] = {};
  char version[kTextCapacity] = {};
  char serial_number[kTextCapacity] = {};
  std::uint8_t uuid[16] = {};
  std::uint8_t wakeup_type = 0;
  char sku_number[kTextCapacity] = {};
  char family[kTextCapacity] = {};
  char uuid_text[kUuidTextCapacity] = {};
  std::uint32_t search_cursor = 0;

 private:
  // structure_strings_length for the walk of find_structure. A scan for the
  // double zero that found none, or found it at `scan_found_`, answers every
  // later scan starting between `scan_from_` and that point without looking
  // again; so a table without double zeros costs one scan, not one per
  // structure. Reset with the walk.
  std::uint32_t walk_strings_length(std::uint32_t position) noexcept;

  static constexpr std::uint32_t kNoDoubleZero = 0xFFFFFFFF;
  std::uint32_t scan_from_ = kNoDoubleZero;  // no scan yet
  std::uint32_t scan_found_ = kNoDoubleZero;

  // Where parse_system_information copies the structure it found. It lives
  // here, not on the stack, for the same reason as the record itself.
  std::uint8_t work_buffer_[kTableCapacity] = {};
};

// A zeroed SmbiosInfo from the process heap, or null when there is no
// memory. Its owner is a HeapPointer<SmbiosInfo>.
SmbiosInfo* AllocateSmbiosInfo() noexcept;

// A zeroed SmbiosInfo for one identifier request, or null when there is no
// memory. It is the library's own record, built anew, unless another thread
// holds that one: then one from the process heap. A block of this size
// freed on every call is given back to the system by the heap and committed
// and touched page by page again on the next call, which costs a call more
// than all its own work; the library's record is touched once per process.
// Its owner is a SmbiosInfoHold.
SmbiosInfo* AcquireSmbiosInfo() noexcept;

// Gives the library's record back for the next request, or a heap record
// back to the heap.
struct SmbiosInfoTraits {
  using Handle = SmbiosInfo*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle info) noexcept;
};
using SmbiosInfoHold = UniqueResource<SmbiosInfoTraits>;

}  // namespace tavsn
