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
      {"To be filled by O.E.M.", true},
      {"To Be Filled By O.E.M.", true},
      {"  Default string ", true},
      {"System Serial Number", true},
      {"00000000-00000000-00000000-00000000", true},
      {"ffffffff-ffffffff-ffffffff-ffffffff", true},
      {"FFFFFFFF-FFFFFFFF-FFFFFFFF-FFFFFFFF", true},
      {"00000000", true},
      {"Not Specified", true},
      {"PF2ABCDE", false},
      {"33221100-77665544-bbaa9988-ffeeddcc", false},
      {"00000000-00000000-00000000-00000001", false},
      {"To be filled by O.E.M.X", false},
      {"-", false},
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
      {"nothing known", {}, {}},
      {"placeholder serial used", {.firmware_serial = "To be filled by O.E.M."}, {"firmware_placeholder"}},
      // A serial number shorter than 8 is not used: the UUID text decides.
      {"short serial, real UUID",
       {.firmware_serial = "0", .firmware_uuid_text = "33221100-77665544-bbaa9988-ffeeddcc"},
       {}},
      {"short serial, zero UUID",
       {.firmware_serial = "0", .firmware_uuid_text = "00000000-00000000-00000000-00000000"},
       {"firmware_placeholder"}},
      {"real serial, zero UUID",
       {.firmware_serial = "PF2ABCDE", .firmware_uuid_text = "00000000-00000000-00000000-00000000"},
       {}},
      {"physical adapter", {.pcsn_result = 0, .pcsnex_result = 0}, {}},
      {"IP Helper", {.pcsn_result = 1}, {"mac_fallback"}},
      {"UUID node", {.pcsn_result = 2, .pcsnex_result = 2}, {"mac_fallback", "mac_fallback"}},
      {"no MAC at all", {.pcsn_result = -1}, {}},
      {"GetMacSN from a UUID node", {.mac_identifier = testing::MacIdText(0, 1, "0A1B2C3D4E5F", "")}, {"mac_fallback"}},
      {"GetMacSN from an adapter", {.mac_identifier = testing::MacIdText(1, 1, "0A1B2C3D4E5F", "")}, {}},
      {"firmware not read", {.machine_identifier = testing::MachineIdText(no_firmware)}, {"firmware_not_read"}},
      {"WOW64", {.wow64 = true}, {"wow64"}},
      {"native 32-bit", {.wow64 = false}, {}},
      {"STA", {.single_threaded_apartment = true}, {"single_threaded_apartment"}},
      {"MTA or none", {.single_threaded_apartment = false}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Codes(c.facts), c.codes) << c.name;
}

}  // namespace
}  // namespace tavsn::server
