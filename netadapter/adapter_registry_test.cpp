// The adapter records read from the registry: which subkeys make a record,
// the defaults of missing values and the handling of text values that do
// not fit or are not terminated.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "netadapter/cgetmac_test_peer.h"
#include "tests/fakes/fake_log_platform.h"
#include "tests/fakes/fake_net_platform.h"

namespace tavsn {
namespace {

using fakenet::AdapterKeyPath;
using fakenet::ConnectionKeyPath;

constexpr char kGuidA[] = "{11111111-2222-3333-4444-555555555555}";
constexpr char kGuidB[] = "{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}";
constexpr char kPnpA[] = "PCI\\VEN_8086&DEV_10D3&SUBSYS_8086A01F&REV_00\\3&11583659&0&C8";
constexpr char kPnpB[] = "USB\\VID_0B95&PID_1790\\000000000002C3";

class AdapterRegistry : public AdapterFakesTest {
 protected:
  void TearDown() override { EXPECT_EQ(fakenet::state().keys_open, 0) << "a registry key was left open"; }

  std::vector<NetAdapterRecord> Enumerate() {
    std::vector<NetAdapterRecord> adapters;
    const int count = CGetMacTestPeer::EnumNetAdapters(adapters);
    EXPECT_EQ(count, static_cast<int>(adapters.size()));
    return adapters;
  }
};

TEST_F(AdapterRegistry, ReadsEveryValueOfACompleteAdapter) {
  fakenet::AddAdapter("0000", 6, 0x84, "Intel(R) 82574L Gigabit Network Connection", kGuidA, kPnpA);
  const auto adapters = Enumerate();
  ASSERT_EQ(adapters.size(), 1u);
  const NetAdapterRecord& record = adapters[0];
  EXPECT_EQ(record.outcome, 0);
  EXPECT_EQ(record.if_type, 6u);
  EXPECT_EQ(record.characteristics, 0x84u);
  EXPECT_STREQ(record.driver_desc, "Intel(R) 82574L Gigabit Network Connection");
  EXPECT_STREQ(record.net_cfg_instance_id, kGuidA);
  EXPECT_STREQ(record.pnp_instance_id, kPnpA);
  EXPECT_STREQ(record.mac_text, "");
  // Enumeration only reads the registry: no log line.
  EXPECT_EQ(fakelog::ProcessLogLines(), "");
}

TEST_F(AdapterRegistry, QueriesTheValuesInTheirOrderWithTheirCharacterWidth) {
  fakenet::AddAdapter("0000", 6, 0x84, "Desc", kGuidA, kPnpA);
  Enumerate();
  const std::vector<std::string> expected = {"W *IfType", "A Characteristics", "A DriverDesc", "A NetCfgInstanceId",
                                             "A PnpInstanceID"};
  EXPECT_EQ(fakenet::state().value_queries, expected);
}

TEST_F(AdapterRegistry, MissingOrUnreadableClassKeyYieldsNoRecords) {
  EXPECT_TRUE(Enumerate().empty());

  fakenet::AddAdapter("0000", 6, 0x84, "Desc", kGuidA, kPnpA);
  fakenet::AddKey(fakenet::kAdapterClassKey).open_error = netos::kErrorAccessDenied;
  EXPECT_TRUE(Enumerate().empty());

  fakenet::AddKey(fakenet::kAdapterClassKey).open_error = netos::kSuccess;
  fakenet::AddKey(fakenet::kAdapterClassKey).subkey_count_error = netos::kErrorAccessDenied;
  EXPECT_TRUE(Enumerate().empty());
}

TEST_F(AdapterRegistry, OnlyFourLetterOrDigitSubkeysAreAdapters) {
  fakenet::AddAdapter("Properties", 6, 0x84, "Props", "{00000000-0000-0000-0000-000000000001}", "X\\1");
  fakenet::AddAdapter("00-1", 6, 0x84, "Hyphen", "{00000000-0000-0000-0000-000000000002}", "X\\2");
  fakenet::AddAdapter("00000", 6, 0x84, "Five", "{00000000-0000-0000-0000-000000000003}", "X\\3");
  fakenet::AddAdapter("001", 6, 0x84, "Three", "{00000000-0000-0000-0000-000000000004}", "X\\4");
  fakenet::AddAdapter("zZ9a", 6, 0x84, "Letters", "{00000000-0000-0000-0000-000000000005}", "X\\5");
  fakenet::AddAdapter("0001", 6, 0x84, "Digits", "{00000000-0000-0000-0000-000000000006}", "X\\6");
  // A wide letter that is no ASCII letter.
  fakenet::AddKey(
      std::u16string(u"SYSTEM\\CurrentControlSet\\Control\\Class\\"
                     u"{4D36E972-E325-11CE-BFC1-08002BE10318}\\00\u00E90"));
  const auto adapters = Enumerate();
  ASSERT_EQ(adapters.size(), 2u);
  EXPECT_STREQ(adapters[0].driver_desc, "Letters");
  EXPECT_STREQ(adapters[1].driver_desc, "Digits");
}

TEST_F(AdapterRegistry, DroppedSubkeyLeavesNoGapAndNoLeftoverText) {
  fakenet::AddAdapter("0000", 6, 0x84, "First", kGuidA, kPnpA);
  fakenet::AddAdapter("0001", 71, 0x80, "Dropped adapter with a description", "{DROPPED}", "X\\1");
  fakenet::AddKey(ConnectionKeyPath("{DROPPED}")).values.clear();
  fakenet::AddAdapter("0002", 6, 0x84, "unused", kGuidB, kPnpB);
  auto& third = fakenet::AddKey(AdapterKeyPath("0002"));
  third.values.erase("*IFTYPE");
  third.values.erase("CHARACTERISTICS");
  third.values.erase("DRIVERDESC");

  const auto adapters = Enumerate();
  ASSERT_EQ(adapters.size(), 2u);
  EXPECT_STREQ(adapters[0].driver_desc, "First");
  const NetAdapterRecord& record = adapters[1];
  EXPECT_STREQ(record.net_cfg_instance_id, kGuidB);
  EXPECT_STREQ(record.driver_desc, "");
  EXPECT_EQ(record.if_type, 1u);
  EXPECT_EQ(record.characteristics, 0u);
  EXPECT_STREQ(record.pnp_instance_id, kPnpB);
}

TEST_F(AdapterRegistry, RecordsComeInEnumerationOrderUnsorted) {
  fakenet::AddAdapter("0002", 6, 0x84, "Listed first", kGuidB, kPnpB);
  fakenet::AddAdapter("0000", 6, 0x84, "Listed second", kGuidA, kPnpA);
  const auto adapters = Enumerate();
  ASSERT_EQ(adapters.size(), 2u);
  EXPECT_STREQ(adapters[0].driver_desc, "Listed first");
  EXPECT_STREQ(adapters[1].driver_desc, "Listed second");
}

TEST_F(AdapterRegistry, SubkeysThatCannotBeEnumeratedOrOpenedAreSkipped) {
  fakenet::AddAdapter("0000", 6, 0x84, "NotEnumerated", kGuidA, kPnpA);
  fakenet::AddAdapter("0001", 6, 0x84, "NotOpenable", kGuidB, kPnpB);
  fakenet::AddAdapter("0002", 6, 0x84, "Kept", "{C}", "X\\C");
  fakenet::AddKey(fakenet::kAdapterClassKey).enum_errors[0] = netos::kErrorAccessDenied;
  fakenet::AddKey(AdapterKeyPath("0001")).open_error = netos::kErrorAccessDenied;
  const auto adapters = Enumerate();
  ASSERT_EQ(adapters.size(), 1u);
  EXPECT_STREQ(adapters[0].driver_desc, "Kept");
}

TEST_F(AdapterRegistry, MissingNumbersTakeTheirDefaults) {
  fakenet::AddAdapter("0000", 6, 0x84, "Desc", kGuidA, kPnpA);
  fakenet::AddKey(AdapterKeyPath("0000")).values.erase("*IFTYPE");
  fakenet::AddKey(AdapterKeyPath("0000")).values.erase("CHARACTERISTICS");
  const auto adapters = Enumerate();
  ASSERT_EQ(adapters.size(), 1u);
  EXPECT_EQ(adapters[0].if_type, 1u);
  EXPECT_EQ(adapters[0].characteristics, 0u);
}

TEST_F(AdapterRegistry, AdapterWithoutEitherIdentifierIsDropped) {
  fakenet::AddAdapter("0000", 6, 0x84, "NoNetCfg", kGuidA, kPnpA);
  fakenet::AddKey(AdapterKeyPath("0000")).values.erase("NETCFGINSTANCEID");
  fakenet::AddAdapter("0001", 6, 0x84, "NoPnp", kGuidB, kPnpB);
  fakenet::AddKey(ConnectionKeyPath(kGuidB)).values.clear();
  fakenet::AddAdapter("0002", 6, 0x84, "NoConnectionKey", "{C}", "X\\C");
  fakenet::state().keys.erase(
      u"SYSTEM\\CURRENTCONTROLSET\\CONTROL\\NETWORK\\"
      u"{4D36E972-E325-11CE-BFC1-08002BE10318}\\{C}\\CONNECTION");
  EXPECT_TRUE(Enumerate().empty());
}

TEST_F(AdapterRegistry, TextValuesTooLongForTheirBuffers) {
  const std::string long_desc(64, 'D');  // 65 bytes with its terminator
  fakenet::AddAdapter("0000", 6, 0x84, long_desc, kGuidA, kPnpA);
  // Windows may have put the first bytes into the buffer before failing.
  fakenet::AddKey(AdapterKeyPath("0000")).values["DRIVERDESC"].fills_small_buffer = true;
  fakenet::AddAdapter("0001", 6, 0x84, "LongNetCfg", "{" + std::string(63, 'N') + "}", "X\\1");
  fakenet::AddAdapter("0002", 6, 0x84, "LongPnp", kGuidB, std::string(200, 'P'));

  const auto adapters = Enumerate();
  ASSERT_EQ(adapters.size(), 1u);
  EXPECT_STREQ(adapters[0].driver_desc, "") << "a description that does not fit is empty";
  EXPECT_STREQ(adapters[0].net_cfg_instance_id, kGuidA);
}

TEST_F(AdapterRegistry, TextValuesThatJustFitAreKept) {
  const std::string desc(63, 'D');
  const std::string net_cfg = "{" + std::string(61, 'N') + "}";
  const std::string pnp(199, 'P');
  fakenet::AddAdapter("0000", 6, 0x84, desc, net_cfg, pnp);
  const auto adapters = Enumerate();
  ASSERT_EQ(adapters.size(), 1u);
  EXPECT_EQ(adapters[0].driver_desc, desc);
  EXPECT_EQ(adapters[0].net_cfg_instance_id, net_cfg);
  EXPECT_EQ(adapters[0].pnp_instance_id, pnp);
}

TEST_F(AdapterRegistry, UnterminatedValueFillingItsBufferCountsAsTooLong) {
  fakenet::AddAdapter("0000", 6, 0x84, "desc", kGuidA, kPnpA);
  fakenet::SetRawText(AdapterKeyPath("0000"), "DriverDesc", std::string(64, 'D'));
  fakenet::AddAdapter("0001", 6, 0x84, "NetCfg64", "{N}", "X\\1");
  fakenet::SetRawText(AdapterKeyPath("0001"), "NetCfgInstanceId", std::string(64, 'N'));
  fakenet::AddAdapter("0002", 6, 0x84, "Pnp200", kGuidB, "X\\2");
  fakenet::SetRawText(ConnectionKeyPath(kGuidB), "PnpInstanceID", std::string(200, 'P'));

  const auto adapters = Enumerate();
  ASSERT_EQ(adapters.size(), 1u);
  EXPECT_STREQ(adapters[0].driver_desc, "");
  EXPECT_STREQ(adapters[0].net_cfg_instance_id, kGuidA);
}

TEST_F(AdapterRegistry, ShorterUnterminatedValueEndsAfterItsBytes) {
  fakenet::AddAdapter("0000", 6, 0x84, "desc", kGuidA, kPnpA);
  fakenet::SetRawText(AdapterKeyPath("0000"), "DriverDesc", "Realtek PCIe GbE");
  fakenet::SetRawText(AdapterKeyPath("0000"), "NetCfgInstanceId", kGuidB);
  fakenet::SetRawText(ConnectionKeyPath(kGuidB), "PnpInstanceID", kPnpB);
  const auto adapters = Enumerate();
  ASSERT_EQ(adapters.size(), 1u);
  EXPECT_STREQ(adapters[0].driver_desc, "Realtek PCIe GbE");
  EXPECT_STREQ(adapters[0].net_cfg_instance_id, kGuidB);
  EXPECT_STREQ(adapters[0].pnp_instance_id, kPnpB);
}

TEST_F(AdapterRegistry, FullBufferWithAnEarlierZeroIsAText) {
  std::string desc = "Short";
  desc.resize(64, '\0');
  desc[40] = 'X';  // bytes after the terminator are not part of the text
  fakenet::AddAdapter("0000", 6, 0x84, "x", kGuidA, kPnpA);
  fakenet::SetRawText(AdapterKeyPath("0000"), "DriverDesc", desc);
  const auto adapters = Enumerate();
  ASSERT_EQ(adapters.size(), 1u);
  EXPECT_STREQ(adapters[0].driver_desc, "Short");
}

TEST_F(AdapterRegistry, NumbersAreTakenWhateverTheirRegistryType) {
  fakenet::AddAdapter("0000", 6, 0x84, "Desc", kGuidA, kPnpA);
  // A one-byte binary value still fills the low byte.
  fakenet::SetValue(AdapterKeyPath("0000"), "*IfType", {24});
  fakenet::SetValue(AdapterKeyPath("0000"), "Characteristics", {0x04, 0x01});
  const auto adapters = Enumerate();
  ASSERT_EQ(adapters.size(), 1u);
  EXPECT_EQ(adapters[0].if_type, 24u);
  EXPECT_EQ(adapters[0].characteristics, 0x104u);
}

TEST_F(AdapterRegistry, EmptyNumberValuesKeepTheirDefaults) {
  fakenet::AddAdapter("0000", 6, 0x84, "Desc", kGuidA, kPnpA);
  fakenet::SetValue(AdapterKeyPath("0000"), "*IfType", {});
  fakenet::SetValue(AdapterKeyPath("0000"), "Characteristics", {});
  const auto adapters = Enumerate();
  ASSERT_EQ(adapters.size(), 1u);
  EXPECT_EQ(adapters[0].if_type, 1u);
  EXPECT_EQ(adapters[0].characteristics, 0u);
}

}  // namespace
}  // namespace tavsn
