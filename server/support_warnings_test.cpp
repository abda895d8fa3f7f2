#include "server/support_warnings.h"

#include <gtest/gtest.h>

#include "server/test_records.h"

namespace tavsn::server {
namespace {

std::vector<std::string> Codes(const SupportFacts& facts) {
  std::vector<std::string> codes;
  for (const SupportWarning& w : SupportWarnings(facts)) {
    EXPECT_FALSE(w.message.empty()) << w.code;
    codes.push_back(w.code);
  }
  return codes;
}

TEST(IsPlaceholderFirmwareTextTest, KnownPlaceholders) {
  struct Case {
    const char* text;
    bool placeholder;
  } cases[] = {
      {.text = "To be filled by O.E.M.", .placeholder = true},
      {.text = "To Be Filled By O.E.M.", .placeholder = true},
      {.text = "  Default string ", .placeholder = true},
      {.text = "System Serial Number", .placeholder = true},
      {.text = "00000000-00000000-00000000-00000000", .placeholder = true},
      {.text = "ffffffff-ffffffff-ffffffff-ffffffff", .placeholder = true},
      {.text = "FFFFFFFF-FFFFFFFF-FFFFFFFF-FFFFFFFF", .placeholder = true},
      {.text = "00000000", .placeholder = true},
      {.text = "Not Specified", .placeholder = true},
      {.text = "PF2ABCDE", .placeholder = false},
      {.text = "33221100-77665544-bbaa9988-ffeeddcc", .placeholder = false},
      {.text = "00000000-00000000-00000000-00000001", .placeholder = false},
      {.text = "To be filled by O.E.M.X", .placeholder = false},
      {.text = "-", .placeholder = false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsPlaceholderFirmwareText(c.text), c.placeholder) << c.text;
}

TEST(SupportWarningsTest, EachFactGivesItsWarning) {
  testing::MachineInputs no_firmware;
  no_firmware.firmware = testing::Firmware::kNotRead;
  struct Case {
    const char* name;
    SupportFacts facts;
    std::vector<std::string> codes;
  } cases[] = {
      {.name = "nothing known", .facts = {}, .codes = {}},
      {.name = "placeholder serial used",
       .facts = {.firmware_serial = "To be filled by O.E.M."},
       .codes = {"firmware_placeholder"}},
      // A serial number shorter than 8 is not used: the UUID text decides.
      {.name = "short serial, real UUID",
       .facts = {.firmware_serial = "0", .firmware_uuid_text = "33221100-77665544-bbaa9988-ffeeddcc"},
       .codes = {}},
      {.name = "short serial, zero UUID",
       .facts = {.firmware_serial = "0", .firmware_uuid_text = "00000000-00000000-00000000-00000000"},
       .codes = {"firmware_placeholder"}},
      {.name = "real serial, zero UUID",
       .facts = {.firmware_serial = "PF2ABCDE", .firmware_uuid_text = "00000000-00000000-00000000-00000000"},
       .codes = {}},
      {.name = "physical adapter", .facts = {.pcsn_result = 0, .pcsnex_result = 0}, .codes = {}},
      {.name = "IP Helper", .facts = {.pcsn_result = 1}, .codes = {"mac_fallback"}},
      {.name = "UUID node", .facts = {.pcsn_result = 2, .pcsnex_result = 2}, .codes = {"mac_fallback", "mac_fallback"}},
      {.name = "no MAC at all", .facts = {.pcsn_result = -1}, .codes = {}},
      {.name = "GetMacSN from a UUID node",
       .facts = {.mac_identifier = testing::MacIdText(0, 1, "0A1B2C3D4E5F", "")},
       .codes = {"mac_fallback"}},
      {.name = "GetMacSN from an adapter",
       .facts = {.mac_identifier = testing::MacIdText(1, 1, "0A1B2C3D4E5F", "")},
       .codes = {}},
      {.name = "firmware not read",
       .facts = {.machine_identifier = testing::MachineIdText(no_firmware)},
       .codes = {"firmware_not_read"}},
      {.name = "WOW64", .facts = {.wow64 = true}, .codes = {"wow64"}},
      {.name = "native 32-bit", .facts = {.wow64 = false}, .codes = {}},
      {.name = "STA", .facts = {.single_threaded_apartment = true}, .codes = {"single_threaded_apartment"}},
      {.name = "MTA or none", .facts = {.single_threaded_apartment = false}, .codes = {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Codes(c.facts), c.codes) << c.name;
}

}  // namespace
}  // namespace tavsn::server
