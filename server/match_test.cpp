#include "server/match.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "server/test_records.h"

namespace tavsn::server {
namespace {

using testing::Firmware;
using testing::MachineIdText;
using testing::MachineInputs;

constexpr char kTwoMacs[] = "TQ1101020011263744550B3B2B5B4B7B";  // 0A1B2C3D4E5F, 102030405060
constexpr char kOneMac[] = "TQ110101001126374455110037265544";   // 0A1B2C3D4E5F alone
constexpr char kForged[] = "TQ1102020011263744550B3B2B5B4B7B";   // source byte 2
constexpr char kMachineEx[] = "TQ1221000A1B7B480E00B8FF26006C9C";
constexpr char kProcessor[] = "Example CPU-00000000-00000006-00000094";
constexpr char kUuidText[] = "33221100-77665544-bbaa9988-ffeeddcc";

TEST(NormalizeMacTextTest, AcceptsInventoryFormsOnly) {
  struct Case {
    const char* text;
    const char* normalized;  // null: refused
  } cases[] = {
      {.text = "0A1B2C3D4E5F", .normalized = "0A1B2C3D4E5F"},
      {.text = "0a1b2c3d4e5f", .normalized = "0A1B2C3D4E5F"},
      {.text = "0a-1b-2c-3d-4e-5f", .normalized = "0A1B2C3D4E5F"},
      {.text = "0A:1B:2C:3D:4E:5F", .normalized = "0A1B2C3D4E5F"},
      {.text = "0A1B2C3D4E5", .normalized = nullptr},
      {.text = "0A1B2C3D4E5F0", .normalized = nullptr},
      {.text = "0A1B2C3D4E5G", .normalized = nullptr},
      {.text = "0A-1B:2C-3D-4E-5F", .normalized = nullptr},
      {.text = "0A1B-2C3D4E5F", .normalized = nullptr},
      {.text = "0A-1B-2C-3D-4E-5F-", .normalized = nullptr},
      {.text = "-0A-1B-2C-3D-4E-5F", .normalized = nullptr},
      {.text = "", .normalized = nullptr},
      {.text = "0A-1B-2C-3D-4E5F", .normalized = nullptr},
      {.text = " 0A1B2C3D4E5F", .normalized = nullptr},
  };
  for (const Case& c : cases) {
    const std::optional<std::string> n = NormalizeMacText(c.text);
    EXPECT_EQ(n.has_value(), c.normalized != nullptr) << c.text;
    if (n && c.normalized) {
      EXPECT_EQ(*n, c.normalized) << c.text;
    }
  }
}

TEST(MatchMacIdentifierTest, TheDllsListDecides) {
  struct Case {
    const char* id;
    std::vector<std::string> macs;
    MacListOrder order;
    std::optional<std::uint8_t> source;
    Verdict verdict;
    bool addresses, count, source_ok;
  } cases[] = {
      {.id = kTwoMacs,
       .macs = {"10-20-30-40-50-60", "0a1b2c3d4e5f"},
       .order = MacListOrder::kSortedDistinct,
       .source = {},
       .verdict = Verdict::kMatch,
       .addresses = true,
       .count = true,
       .source_ok = true},
      {.id = kTwoMacs,
       .macs = {"102030405060", "0A1B2C3D4E5F", "0A:1B:2C:3D:4E:5F"},
       .order = MacListOrder::kSortedDistinct,
       .source = {},
       .verdict = Verdict::kMatch,
       .addresses = true,
       .count = true,
       .source_ok = true},
      {.id = kTwoMacs,
       .macs = {"0A1B2C3D4E5F", "102030405060", "FFFFFFFFFFFF"},
       .order = MacListOrder::kSortedDistinct,
       .source = {},
       .verdict = Verdict::kMismatch,
       .addresses = true,
       .count = false,
       .source_ok = true},
      {.id = kTwoMacs,
       .macs = {"0A1B2C3D4E5F", "102030405060", "000000000001"},
       .order = MacListOrder::kSortedDistinct,
       .source = {},
       .verdict = Verdict::kMismatch,
       .addresses = false,
       .count = false,
       .source_ok = true},
      // The IP Helper list gives one address: never a two-address identifier.
      {.id = kTwoMacs,
       .macs = {"102030405060", "0A1B2C3D4E5F"},
       .order = MacListOrder::kAsGiven,
       .source = {},
       .verdict = Verdict::kMismatch,
       .addresses = false,
       .count = false,
       .source_ok = true},
      {.id = kTwoMacs,
       .macs = {"0A1B2C3D4E5F", "102030405060"},
       .order = MacListOrder::kAsGiven,
       .source = {},
       .verdict = Verdict::kMismatch,
       .addresses = false,
       .count = false,
       .source_ok = true},
      {.id = kOneMac,
       .macs = {"0A1B2C3D4E5F", "102030405060"},
       .order = MacListOrder::kAsGiven,
       .source = {},
       .verdict = Verdict::kMatch,
       .addresses = true,
       .count = true,
       .source_ok = true},
      {.id = kOneMac,
       .macs = {"102030405060", "0A1B2C3D4E5F"},
       .order = MacListOrder::kAsGiven,
       .source = {},
       .verdict = Verdict::kMismatch,
       .addresses = false,
       .count = true,
       .source_ok = true},
      // The adapters' list leaves out all-zero addresses.
      {.id = kTwoMacs,
       .macs = {"000000000000", "102030405060", "0A1B2C3D4E5F"},
       .order = MacListOrder::kSortedDistinct,
       .source = {},
       .verdict = Verdict::kMatch,
       .addresses = true,
       .count = true,
       .source_ok = true},
      {.id = kTwoMacs,
       .macs = {"00-00-00-00-00-00"},
       .order = MacListOrder::kSortedDistinct,
       .source = {},
       .verdict = Verdict::kMismatch,
       .addresses = false,
       .count = false,
       .source_ok = false},
      {.id = kForged,
       .macs = {"0A1B2C3D4E5F"},
       .order = MacListOrder::kSortedDistinct,
       .source = {},
       .verdict = Verdict::kNotWrittenByDll,
       .addresses = false,
       .count = false,
       .source_ok = false},
      {.id = kTwoMacs,
       .macs = {"0A1B2C3D4E5F", "102030405060"},
       .order = MacListOrder::kSortedDistinct,
       .source = 0,
       .verdict = Verdict::kMismatch,
       .addresses = true,
       .count = true,
       .source_ok = false},
      {.id = kTwoMacs,
       .macs = {"0A1B2C3D4E5F"},
       .order = MacListOrder::kSortedDistinct,
       .source = {},
       .verdict = Verdict::kMismatch,
       .addresses = false,
       .count = false,
       .source_ok = true},
      {.id = kOneMac,
       .macs = {"0A1B2C3D4E5F"},
       .order = MacListOrder::kSortedDistinct,
       .source = {},
       .verdict = Verdict::kMatch,
       .addresses = true,
       .count = true,
       .source_ok = true},
      {.id = kOneMac,
       .macs = {"0A1B2C3D4E5F", "0a1b2c3d4e5f"},
       .order = MacListOrder::kSortedDistinct,
       .source = {},
       .verdict = Verdict::kMatch,
       .addresses = true,
       .count = true,
       .source_ok = true},
      {.id = kOneMac,
       .macs = {"0A1B2C3D4E5F", "0a1b2c3d4e5f"},
       .order = MacListOrder::kAsGiven,
       .source = {},
       .verdict = Verdict::kMatch,
       .addresses = true,
       .count = true,
       .source_ok = true},
      {.id = kTwoMacs,
       .macs = {"0A1B2C3D4E5F", "1020304050"},
       .order = MacListOrder::kSortedDistinct,
       .source = {},
       .verdict = Verdict::kBadFact,
       .addresses = false,
       .count = false,
       .source_ok = false},
      {.id = kTwoMacs,
       .macs = {},
       .order = MacListOrder::kSortedDistinct,
       .source = {},
       .verdict = Verdict::kNotGiven,
       .addresses = false,
       .count = false,
       .source_ok = false},
      {.id = kMachineEx,
       .macs = {"0A1B2C3D4E5F"},
       .order = MacListOrder::kSortedDistinct,
       .source = {},
       .verdict = Verdict::kNotCheckable,
       .addresses = false,
       .count = false,
       .source_ok = false},
  };
  for (const Case& c : cases) {
    MacFacts facts;
    facts.macs = c.macs;
    facts.order = c.order;
    facts.source = c.source;
    const MacMatch m = MatchMacIdentifier(ParseIdentifier(c.id), facts);
    const std::string label = std::string(c.id) + " with " + std::to_string(c.macs.size()) + " addresses";
    EXPECT_EQ(m.verdict, c.verdict) << label;
    EXPECT_EQ(m.addresses_match, c.addresses) << label;
    EXPECT_EQ(m.count_match, c.count) << label;
    EXPECT_EQ(m.source_match, c.source_ok) << label;
  }
}

TEST(MatchMacIdentifierTest, RandomListsMatchTheirOwnIdentifierOnly) {
  std::mt19937 rng(21);
  for (int round = 0; round < 500; ++round) {
    std::vector<std::string> macs;
    const int count = 1 + static_cast<int>(rng() % 5);
    for (int i = 0; i < count; ++i) {
      char text[13];
      std::snprintf(text, sizeof text, "%04X%08X", static_cast<unsigned>(rng() & 0xFFFF), static_cast<unsigned>(rng()));
      macs.push_back(text);
    }
    std::vector<std::string> list = macs;
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
    const std::string id = testing::MacIdText(MacSnRecord::kSourceAdapter, static_cast<int>(list.size()),
                                              list[0].c_str(), list.size() > 1 ? list[1].c_str() : "");
    MacFacts facts;
    facts.macs = macs;
    EXPECT_EQ(MatchMacIdentifier(ParseIdentifier(id), facts).verdict, Verdict::kMatch) << id;
    // One digit of the lowest address changed: the DLL would have written another identifier.
    std::string& lowest = *std::min_element(facts.macs.begin(), facts.macs.end());
    lowest[11] = lowest[11] == '0' ? '1' : '0';
    const std::string changed = lowest;
    const bool still_distinct = std::count(facts.macs.begin(), facts.macs.end(), changed) == 1;
    if (still_distinct) {
      EXPECT_EQ(MatchMacIdentifier(ParseIdentifier(id), facts).verdict, Verdict::kMismatch) << id;
    }
  }
}

MachineMatch MatchMachine(const std::string& id, std::optional<std::string> mac, std::optional<std::string> cpu,
                          std::optional<std::string> serial, std::optional<std::string> uuid) {
  return MatchMachineIdentifier(ParseIdentifier(id), MachineFacts{mac, cpu, serial, uuid});
}

TEST(MatchMachineIdentifierTest, EachFactAgainstEachExport) {
  MachineInputs serial_in;
  serial_in.firmware = Firmware::kSerial;
  serial_in.system_text = "SN-12345678";
  const std::string by_serial = MachineIdText(serial_in);
  MachineInputs uuid_in;
  uuid_in.firmware = Firmware::kUuid;
  uuid_in.system_text = kUuidText;
  const std::string by_uuid = MachineIdText(uuid_in);
  MachineInputs no_firmware_in;
  no_firmware_in.firmware = Firmware::kNotRead;
  const std::string no_firmware = MachineIdText(no_firmware_in);

  using V = Verdict;
  struct Case {
    std::string id;
    std::optional<std::string> mac, cpu, serial, uuid;
    V mac_v, cpu_v, serial_v, uuid_v, overall;
    bool note;
  } cases[] = {
      {.id = kMachineEx,
       .mac = "0a-1b-2c-3d-4e-5f",
       .cpu = kProcessor,
       .serial = {},
       .uuid = {},
       .mac_v = V::kMatch,
       .cpu_v = V::kMatch,
       .serial_v = V::kNotGiven,
       .uuid_v = V::kNotGiven,
       .overall = V::kMatch,
       .note = false},
      {.id = kMachineEx,
       .mac = "0A1B2C3D4E60",
       .cpu = {},
       .serial = {},
       .uuid = {},
       .mac_v = V::kMismatch,
       .cpu_v = V::kNotGiven,
       .serial_v = V::kNotGiven,
       .uuid_v = V::kNotGiven,
       .overall = V::kMismatch,
       .note = false},
      {.id = kMachineEx,
       .mac = {},
       .cpu = "Example CPU-00000000-00000006-00000095",
       .serial = {},
       .uuid = {},
       .mac_v = V::kNotGiven,
       .cpu_v = V::kMismatch,
       .serial_v = V::kNotGiven,
       .uuid_v = V::kNotGiven,
       .overall = V::kMismatch,
       .note = false},
      {.id = kMachineEx,
       .mac = {},
       .cpu = {},
       .serial = "SN-12345678",
       .uuid = kUuidText,
       .mac_v = V::kNotGiven,
       .cpu_v = V::kNotGiven,
       .serial_v = V::kNotCheckable,
       .uuid_v = V::kNotCheckable,
       .overall = V::kNotCheckable,
       .note = false},
      {.id = kMachineEx,
       .mac = "0A1B2C3D4E5",
       .cpu = kProcessor,
       .serial = {},
       .uuid = {},
       .mac_v = V::kBadFact,
       .cpu_v = V::kMatch,
       .serial_v = V::kNotGiven,
       .uuid_v = V::kNotGiven,
       .overall = V::kBadFact,
       .note = false},
      {.id = kMachineEx,
       .mac = {},
       .cpu = {},
       .serial = {},
       .uuid = {},
       .mac_v = V::kNotGiven,
       .cpu_v = V::kNotGiven,
       .serial_v = V::kNotGiven,
       .uuid_v = V::kNotGiven,
       .overall = V::kNotGiven,
       .note = false},
      {.id = by_serial,
       .mac = {},
       .cpu = {},
       .serial = "SN-12345678",
       .uuid = kUuidText,
       .mac_v = V::kNotGiven,
       .cpu_v = V::kNotGiven,
       .serial_v = V::kMatch,
       .uuid_v = V::kNotCheckable,
       .overall = V::kMatch,
       .note = false},
      {.id = by_serial,
       .mac = {},
       .cpu = {},
       .serial = "SN-12345778",
       .uuid = {},
       .mac_v = V::kNotGiven,
       .cpu_v = V::kNotGiven,
       .serial_v = V::kMismatch,
       .uuid_v = V::kNotGiven,
       .overall = V::kMismatch,
       .note = false},
      // The checksum leaves out the last character of an odd-length text, so
      // the DLL itself cannot tell these apart.
      {.id = by_serial,
       .mac = {},
       .cpu = {},
       .serial = "SN-12345679",
       .uuid = {},
       .mac_v = V::kNotGiven,
       .cpu_v = V::kNotGiven,
       .serial_v = V::kMatch,
       .uuid_v = V::kNotGiven,
       .overall = V::kMatch,
       .note = false},
      {.id = by_serial,
       .mac = {},
       .cpu = {},
       .serial = "1234567",
       .uuid = {},
       .mac_v = V::kNotGiven,
       .cpu_v = V::kNotGiven,
       .serial_v = V::kMismatch,
       .uuid_v = V::kNotGiven,
       .overall = V::kMismatch,
       .note = true},
      {.id = by_uuid,
       .mac = {},
       .cpu = {},
       .serial = {},
       .uuid = kUuidText,
       .mac_v = V::kNotGiven,
       .cpu_v = V::kNotGiven,
       .serial_v = V::kNotGiven,
       .uuid_v = V::kMatch,
       .overall = V::kMatch,
       .note = false},
      {.id = by_uuid,
       .mac = {},
       .cpu = {},
       .serial = {},
       .uuid = "43221100-77665544-bbaa9988-ffeeddcc",
       .mac_v = V::kNotGiven,
       .cpu_v = V::kNotGiven,
       .serial_v = V::kNotGiven,
       .uuid_v = V::kMismatch,
       .overall = V::kMismatch,
       .note = false},
      {.id = by_uuid,
       .mac = {},
       .cpu = {},
       .serial = {},
       .uuid = "33221100-77665544-bbaa9988-ffeeddcd",
       .mac_v = V::kNotGiven,
       .cpu_v = V::kNotGiven,
       .serial_v = V::kNotGiven,
       .uuid_v = V::kMatch,
       .overall = V::kMatch,
       .note = false},
      {.id = by_uuid,
       .mac = {},
       .cpu = {},
       .serial = "To be filled by O.E.M.",
       .uuid = kUuidText,
       .mac_v = V::kNotGiven,
       .cpu_v = V::kNotGiven,
       .serial_v = V::kMismatch,
       .uuid_v = V::kMatch,
       .overall = V::kMismatch,
       .note = true},
      {.id = by_uuid,
       .mac = {},
       .cpu = {},
       .serial = " 12345678",
       .uuid = {},
       .mac_v = V::kNotGiven,
       .cpu_v = V::kNotGiven,
       .serial_v = V::kNotCheckable,
       .uuid_v = V::kNotGiven,
       .overall = V::kNotCheckable,
       .note = false},
      {.id = by_uuid,
       .mac = {},
       .cpu = {},
       .serial = "",
       .uuid = {},
       .mac_v = V::kNotGiven,
       .cpu_v = V::kNotGiven,
       .serial_v = V::kNotCheckable,
       .uuid_v = V::kNotGiven,
       .overall = V::kNotCheckable,
       .note = false},
      {.id = no_firmware,
       .mac = "0A1B2C3D4E5F",
       .cpu = {},
       .serial = "SN-12345678",
       .uuid = kUuidText,
       .mac_v = V::kMatch,
       .cpu_v = V::kNotGiven,
       .serial_v = V::kNotCheckable,
       .uuid_v = V::kNotCheckable,
       .overall = V::kMatch,
       .note = false},
      {.id = kTwoMacs,
       .mac = "0A1B2C3D4E5F",
       .cpu = {},
       .serial = {},
       .uuid = {},
       .mac_v = V::kNotCheckable,
       .cpu_v = V::kNotCheckable,
       .serial_v = V::kNotCheckable,
       .uuid_v = V::kNotCheckable,
       .overall = V::kNotCheckable,
       .note = false},
      // UUID texts: the DLL's shape in either case; the usual form is a bad fact.
      {.id = by_uuid,
       .mac = {},
       .cpu = {},
       .serial = {},
       .uuid = "33221100-77665544-BBAA9988-FFEEDDCC",
       .mac_v = V::kNotGiven,
       .cpu_v = V::kNotGiven,
       .serial_v = V::kNotGiven,
       .uuid_v = V::kMatch,
       .overall = V::kMatch,
       .note = false},
      {.id = by_uuid,
       .mac = {},
       .cpu = {},
       .serial = {},
       .uuid = "00112233-4455-6677-8899-aabbccddeeff",
       .mac_v = V::kNotGiven,
       .cpu_v = V::kNotGiven,
       .serial_v = V::kNotGiven,
       .uuid_v = V::kBadFact,
       .overall = V::kBadFact,
       .note = true},
      {.id = kMachineEx,
       .mac = {},
       .cpu = {},
       .serial = {},
       .uuid = "33221100-77665544-bbaa9988-ffeeddcg",
       .mac_v = V::kNotGiven,
       .cpu_v = V::kNotGiven,
       .serial_v = V::kNotGiven,
       .uuid_v = V::kBadFact,
       .overall = V::kBadFact,
       .note = true},
      // A record checksum zeroed: no record the DLL writes, whatever the facts.
      {.id = std::string(kMachineEx).replace(20, 4, "0000"),
       .mac = "0A1B2C3D4E5F",
       .cpu = kProcessor,
       .serial = {},
       .uuid = {},
       .mac_v = V::kNotWrittenByDll,
       .cpu_v = V::kNotWrittenByDll,
       .serial_v = V::kNotWrittenByDll,
       .uuid_v = V::kNotWrittenByDll,
       .overall = V::kNotWrittenByDll,
       .note = false},
  };
  for (const Case& c : cases) {
    const MachineMatch m = MatchMachine(c.id, c.mac, c.cpu, c.serial, c.uuid);
    const std::string label = c.id + " " + c.mac.value_or("-") + " " + c.serial.value_or("-");
    EXPECT_EQ(m.mac, c.mac_v) << label;
    EXPECT_EQ(m.processor, c.cpu_v) << label;
    EXPECT_EQ(m.serial_number, c.serial_v) << label;
    EXPECT_EQ(m.uuid_text, c.uuid_v) << label;
    EXPECT_EQ(m.Overall(), c.overall) << label;
    EXPECT_EQ(!m.note.empty(), c.note) << label;
  }
}

TEST(MatchMachineIdentifierTest, ALongSerialIsCutWhereTheFirmwareRecordCutsIt) {
  const std::string serial(1200, 'S');
  const std::string kept = serial.substr(0, 999);
  MachineInputs in;
  in.firmware = Firmware::kSerial;
  in.system_text = kept.c_str();
  EXPECT_EQ(MatchMachine(MachineIdText(in), {}, {}, serial, {}).serial_number, Verdict::kMatch);
}

TEST(SerialNumberUsableTest, TheFirmwareRecordsRule) {
  EXPECT_TRUE(SerialNumberUsable("12345678"));
  EXPECT_TRUE(SerialNumberUsable("To be filled by O.E.M."));
  EXPECT_FALSE(SerialNumberUsable("1234567"));
  EXPECT_FALSE(SerialNumberUsable(" 12345678"));
  EXPECT_FALSE(SerialNumberUsable(""));
}

}  // namespace
}  // namespace tavsn::server
