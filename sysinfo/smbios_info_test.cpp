#include "sysinfo/smbios_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/process_heap.h"
#include "tests/fakes/fake_base.h"
#include "tests/fakes/fake_log_platform.h"

namespace tavsn {
namespace {

using Bytes = std::vector<std::uint8_t>;
// The record is too large for a test's stack too.
struct InfoDeleter {
  void operator()(SmbiosInfo* info) const { HeapRelease(info); }
};
using InfoPtr = std::unique_ptr<SmbiosInfo, InfoDeleter>;

constexpr char kNoInformationLine[] =
    "An error occurred retrieving this data from the bios. No information available.\n";
constexpr std::uint32_t kCapacity = SmbiosInfo::kTableCapacity;

InfoPtr NewInfo() { return InfoPtr(AllocateSmbiosInfo()); }

// A structure: header, `formatted` bytes after it, then the string set.
Bytes Structure(std::uint8_t type, const Bytes& formatted, const std::vector<std::string>& strings) {
  Bytes s = {type, static_cast<std::uint8_t>(4 + formatted.size()), 0x34, 0x12};
  s.insert(s.end(), formatted.begin(), formatted.end());
  for (const std::string& text : strings) s.insert(s.end(), text.c_str(), text.c_str() + text.size() + 1);
  if (strings.empty()) s.push_back(0);
  s.push_back(0);
  return s;
}

// A System Information structure of SMBIOS 2.4: string numbers for
// manufacturer, product, version and serial, UUID 00 11 .. FF, wake-up type
// 6, SKU and family numbers.
Bytes SystemInformation(std::vector<std::uint8_t> numbers, const std::vector<std::string>& strings) {
  Bytes formatted(numbers.begin(), numbers.begin() + 4);
  for (int i = 0; i < 16; ++i) formatted.push_back(static_cast<std::uint8_t>(0x11 * i));
  formatted.push_back(6);
  formatted.push_back(numbers[4]);
  formatted.push_back(numbers[5]);
  return Structure(1, formatted, strings);
}

const std::vector<std::string> kStrings = {"Contoso", "Desktop 9000", "1.0", "CZC1234XYZ", "SKU-42", "Desktops"};
const Bytes kBios = Structure(0, Bytes(0x14, 0x01), {"Vendor", "F.50"});
const Bytes kEnd = Structure(127, {}, {});
constexpr char kUuid[] = "33221100-77665544-bbaa9988-ffeeddcc";

Bytes Join(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Structures of an OEM type without strings, `count` bytes in all (6 or more).
Bytes Filler(std::size_t count) {
  Bytes all;
  while (count > 0) {
    std::size_t take = count <= 257 ? count : (count - 257 >= 6 ? 257 : count - 6);
    const Bytes one = Structure(0xC8, Bytes(take - 6, 0xEE), {});
    all.insert(all.end(), one.begin(), one.end());
    count -= take;
  }
  return all;
}

// `table` ending exactly at `end` bytes, filler first.
Bytes EndingAt(std::size_t end, const Bytes& table) { return Join({Filler(end - table.size()), table}); }

struct SearchCase {
  const char* name;
  Bytes table;
  bool stored;  // through store_raw_table; otherwise written over table_data
  bool found;
  std::string fields;  // manufacturer|product|version|serial|sku|family|wake-up|uuid
};

std::string Fields(SmbiosInfo& info) {
  return std::string(info.manufacturer) + "|" + info.product_name + "|" + info.version + "|" + info.serial_number +
         "|" + info.sku_number + "|" + info.family + "|" + std::to_string(info.wakeup_type) + "|" +
         info.get_uuid_text();
}

const std::string kFullFields = std::string("Contoso|Desktop 9000|1.0|CZC1234XYZ|SKU-42|Desktops|6|") + kUuid;
const std::string kEmptyFields = "||||||0|00000000-00000000-00000000-00000000";

std::vector<SearchCase> SearchCases() {
  const Bytes full = SystemInformation({1, 2, 3, 4, 5, 6}, kStrings);
  const Bytes two_bytes(kCapacity, 2);  // structures of length 2, no double zero anywhere
  Bytes no_double_zero = two_bytes;
  // The formatted area alone: it holds no double zero either.
  const Bytes formatted_only = SystemInformation({1, 2, 3, 4, 5, 6}, {});
  std::copy(formatted_only.begin(), formatted_only.begin() + 0x1B, no_double_zero.begin() + 4000);
  Bytes runs_past_end = two_bytes;
  std::copy_n(formatted_only.begin(), kCapacity - 63990, runs_past_end.begin() + 63990);
  Bytes at_last_byte = EndingAt(kCapacity - 1, Join({kBios, kEnd}));
  at_last_byte.push_back(1);
  const std::string long_serial(1500, 'S');
  return {
      {.name = "typical", .table = Join({kBios, full, kEnd}), .stored = true, .found = true, .fields = kFullFields},
      {.name = "types above 127 first",
       .table = Join({Structure(0x80, Bytes(0x20, 0x01), {"OEM"}), Structure(0xDD, Bytes(0xFB, 0), {}), full, kEnd}),
       .stored = true,
       .found = true,
       .fields = kFullFields},
      {.name = "first of two",
       .table = Join({kBios, full, SystemInformation({2, 1, 0, 0, 0, 0}, {"Other", "Maker"}), kEnd}),
       .stored = true,
       .found = true,
       .fields = kFullFields},
      {.name = "no strings",
       .table = Join({kBios, SystemInformation({1, 2, 3, 4, 5, 6}, {}), kEnd}),
       .stored = true,
       .found = true,
       .fields = std::string("||||||6|") + kUuid},
      {.name = "numbers 0 and past the last",
       .table = Join({SystemInformation({3, 0, 1, 0, 4, 2}, {"A", "B", "C"}), kEnd}),
       .stored = true,
       .found = true,
       .fields = std::string("C||A||"
                             "|B|6|") +
                 kUuid},
      {.name = "string over 999",
       .table = Join({SystemInformation({1, 0, 0, 2, 0, 0}, {"M", long_serial}), kEnd}),
       .stored = true,
       .found = true,
       .fields = std::string("M|||") + std::string(999, 'S') + "|||6|" + kUuid},
      {.name = "63999 bytes",
       .table = EndingAt(kCapacity - 1, Join({full, kEnd})),
       .stored = true,
       .found = true,
       .fields = kFullFields},
      {.name = "64000 bytes refused",
       .table = EndingAt(kCapacity, Join({full, kEnd})),
       .stored = true,
       .found = false,
       .fields = ""},
      {.name = "64000 bytes in place",
       .table = EndingAt(kCapacity, full),
       .stored = false,
       .found = true,
       .fields = kFullFields},
      {.name = "no type 1", .table = Join({kBios, Filler(3000), kEnd}), .stored = true, .found = false, .fields = ""},
      {.name = "empty table", .table = {}, .stored = true, .found = false, .fields = ""},
      {.name = "structure on the last byte", .table = at_last_byte, .stored = false, .found = false, .fields = ""},
      {.name = "no double zero",
       .table = no_double_zero,
       .stored = false,
       .found = true,
       .fields = std::string("||||||6|") + kUuid},
      {.name = "formatted area past the end", .table = runs_past_end, .stored = false, .found = false, .fields = ""},
      // SMBIOS 2.0: no UUID. Its bytes are taken from the string set as it
      // lies, and read as zero past the copy.
      {.name = "too short for the UUID",
       .table = Join({Structure(1, {1, 2, 3, 4}, {"A", "B", "C", "D"}), kEnd}),
       .stored = true,
       .found = true,
       .fields = "A|B|C|D|||0|00420041-00440043-00000000-00000000"},
  };
}

TEST(SmbiosInfo, SystemInformationSearch) {
  for (const SearchCase& c : SearchCases()) {
    SCOPED_TRACE(c.name);
    fakelog::Reset();
    fakelog::EnableProcessLog();
    InfoPtr info = NewInfo();
    ASSERT_TRUE(info);
    if (c.stored) {
      EXPECT_EQ(info->store_raw_table(c.table.data(), static_cast<std::uint32_t>(c.table.size())),
                c.table.size() < kCapacity);
      EXPECT_EQ(info->table_length, c.table.size());
    } else {
      ASSERT_EQ(c.table.size(), kCapacity);
      std::memcpy(info->table_data, c.table.data(), kCapacity);
    }
    EXPECT_EQ(info->parse_system_information(), c.found);
    EXPECT_EQ(fakelog::ProcessLogLines(), c.found ? "" : kNoInformationLine);
    EXPECT_EQ(Fields(*info), c.found ? c.fields : kEmptyFields);
  }
}

TEST(SmbiosInfo, WithoutAFirmwareTableInitLogsAndFails) {
  fakelog::Reset();
  fakelog::EnableProcessLog();
  InfoPtr info = NewInfo();
  EXPECT_FALSE(info->init_system_information());
  EXPECT_EQ(fakelog::ProcessLogLines(), kNoInformationLine);
}

TEST(SmbiosInfo, FindStructureContinuesAndHonoursTheCapacity) {
  InfoPtr info = NewInfo();
  const Bytes first = SystemInformation({1, 0, 0, 0, 0, 0}, {"First"});
  const Bytes second = SystemInformation({1, 0, 0, 0, 0, 0}, {"Second"});
  const Bytes table = Join({kBios, first, second, kEnd});
  info->store_raw_table(table.data(), static_cast<std::uint32_t>(table.size()));
  std::uint8_t copy[kCapacity];
  std::uint32_t size = static_cast<std::uint32_t>(first.size());
  EXPECT_FALSE(info->find_structure(1, copy, size, true)) << "a structure as large as the capacity";
  EXPECT_EQ(size, 0u);
  size = sizeof copy;
  ASSERT_TRUE(info->find_structure(1, copy, size, false)) << "the cursor stayed where the search stopped";
  EXPECT_EQ(Bytes(copy, copy + size), first);
  size = sizeof copy;
  ASSERT_TRUE(info->find_structure(1, copy, size, false));
  EXPECT_EQ(Bytes(copy, copy + size), second);
  EXPECT_FALSE(info->find_structure(1, copy, size, false));
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(info->structure_strings_length(static_cast<std::uint32_t>(kBios.size())), 7u);
}

TEST(SmbiosInfo, SerialNumberUsable) {
  const std::pair<std::string, bool> cases[] = {
      {"To be filled by O.E.M.", true}, {" CZC1234XYZ", false}, {"1234567", false}, {"12345678", true}, {"", false},
      {std::string(999, 'S'), true}};
  InfoPtr info = NewInfo();
  for (const auto& [serial, usable] : cases) {
    std::strcpy(info->serial_number, serial.c_str());
    EXPECT_EQ(info->serial_number_usable(), usable) << '"' << serial << '"';
  }
}

TEST(SmbiosInfo, UuidText) {
  const std::pair<std::uint8_t, const char*> cases[] = {// first byte; each next one is 0x11 more
                                                        {0x00, kUuid},
                                                        {0xEF, "221100ef-66554433-aa998877-eeddccbb"}};
  InfoPtr info = NewInfo();
  for (const auto& [first, text] : cases) {
    for (int i = 0; i < 16; ++i) info->uuid[i] = static_cast<std::uint8_t>(first + 0x11 * i);
    EXPECT_STREQ(info->get_uuid_text(), text);
  }
  std::memset(info->uuid, 0xFF, sizeof info->uuid);
  EXPECT_STREQ(info->get_uuid_text(), "ffffffff-ffffffff-ffffffff-ffffffff");
}

// Whether every field is as construction leaves it: zero.
bool FieldsZero(const SmbiosInfo& info) {
  const auto zero = [](const auto& field) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&field);
    return std::all_of(bytes, bytes + sizeof field, [](std::uint8_t b) { return b == 0; });
  };
  return zero(info.smbios_major_version) && zero(info.smbios_minor_version) && zero(info.table_length) &&
         zero(info.table_data) && zero(info.system_header) && zero(info.manufacturer) && zero(info.product_name) &&
         zero(info.version) && zero(info.serial_number) && zero(info.uuid) && zero(info.wakeup_type) &&
         zero(info.sku_number) && zero(info.family) && zero(info.uuid_text) && zero(info.search_cursor);
}

// GetPCSN's record: the library's own one, zeroed on every acquisition
// whatever the last request left in it; a heap one while that is held, which
// goes back to the heap; and the library's own one again once given back.
TEST(SmbiosInfo, AcquiredRecords) {
  fakebase::ResetHeap();
  const long live = fakebase::heap().live_blocks;
  SmbiosInfo* own = nullptr;
  {
    SmbiosInfoHold first(AcquireSmbiosInfo());
    ASSERT_TRUE(first);
    own = first.get();
    EXPECT_TRUE(FieldsZero(*own));
    EXPECT_EQ(fakebase::heap().live_blocks, live) << "the library's record is no heap block";
    std::memset(static_cast<void*>(own), 0xA5, sizeof *own);  // what a request leaves behind

    SmbiosInfoHold second(AcquireSmbiosInfo());
    ASSERT_TRUE(second);
    EXPECT_NE(second.get(), own);
    EXPECT_TRUE(FieldsZero(*second.get()));
    EXPECT_EQ(fakebase::heap().live_blocks, live + 1);
    second.reset();
    EXPECT_EQ(fakebase::heap().live_blocks, live);

    fakebase::heap().allocations_left = 0;
    EXPECT_FALSE(SmbiosInfoHold(AcquireSmbiosInfo())) << "held, and no memory for another";
    fakebase::ResetHeap();
  }
  SmbiosInfoHold again(AcquireSmbiosInfo());
  EXPECT_EQ(again.get(), own);
  EXPECT_TRUE(FieldsZero(*again.get()));
}

}  // namespace
}  // namespace tavsn
