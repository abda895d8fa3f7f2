// GetPhysicalMac over whole registries: which adapters are skipped, when
// the SetupAPI read is tried, the outcome of each adapter, the ascending
// and distinct list, and the log lines of whole calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "netadapter/cgetmac_test_peer.h"
#include "tests/fakes/fake_log_platform.h"
#include "tests/fakes/fake_net_platform.h"

namespace tavsn {
namespace {

constexpr std::uint32_t kEthernet = 6;
constexpr std::uint32_t kPhysical = 0x84;  // NCF_PHYSICAL | NCF_HAS_UI

struct TestAdapter {
  std::string subkey;
  std::string desc;
  std::string net_cfg;
  std::string pnp;
  std::string Path() const { return fakenet::DevicePathOf(net_cfg, pnp); }
};

TestAdapter Adapter(int n, const std::string& desc) {
  const std::string digits = std::to_string(n);
  return {std::string(4 - digits.size(), '0') + digits, desc, "{0000000" + digits + "-0000-0000-0000-000000000000}",
          "PCI\\VEN_8086&DEV_10D3\\3&1&0&C" + digits};
}

TestAdapter Install(int n, const std::string& desc, std::uint32_t if_type = kEthernet,
                    std::uint32_t characteristics = kPhysical) {
  TestAdapter adapter = Adapter(n, desc);
  fakenet::AddAdapter(adapter.subkey, if_type, characteristics, desc, adapter.net_cfg, adapter.pnp);
  return adapter;
}

// An installed adapter whose driver answers with `address`.
TestAdapter InstallAnswering(int n, const std::string& desc, std::vector<std::uint8_t> address) {
  TestAdapter adapter = Install(n, desc);
  fakenet::AddDevice(adapter.Path(), address);
  return adapter;
}

NetAdapterRecord RecordOf(const TestAdapter& adapter, std::uint32_t if_type = kEthernet,
                          std::uint32_t characteristics = kPhysical) {
  NetAdapterRecord record;
  record.if_type = if_type;
  record.characteristics = characteristics;
  adapter.desc.copy(record.driver_desc, sizeof record.driver_desc - 1);
  adapter.net_cfg.copy(record.net_cfg_instance_id, sizeof record.net_cfg_instance_id - 1);
  adapter.pnp.copy(record.pnp_instance_id, sizeof record.pnp_instance_id - 1);
  return record;
}

std::string FailLine(int index, const TestAdapter& adapter, int code) {
  return "NdisCmd Fail Index [" + std::to_string(index) + "] Desc [" + adapter.desc + "] DevicePath [" +
         adapter.Path() + "] ErrorCode [" + std::to_string(code) + "].\n";
}

std::string CreateFailLine(const std::string& path, int code) {
  return "NdisCmd CreatFile Fail [" + path + "] ErrorCode [" + std::to_string(code) + "].\n";
}

std::string ReadLine(int index, const TestAdapter& adapter, const std::string& mac) {
  return "SetApi Index [" + std::to_string(index) + "] Desc [" + adapter.desc + "] Mac [" + mac + "].\n";
}

class PhysicalMac : public AdapterFakesTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(fakenet::state().keys_open, 0);
    EXPECT_EQ(fakenet::state().devices_open, 0);
    EXPECT_EQ(fakenet::state().sets_destroyed, fakenet::state().sets_opened);
    for (const auto& interface : fakenet::state().interfaces) EXPECT_FALSE(interface.enabled_here);
  }

  int Run() { return CGetMac().GetPhysicalMac(macs_); }

  MacList macs_ = MacListOf({"stale entry"});
};

TEST_F(PhysicalMac, NoAdaptersClearsTheListAndSaysSo) {
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(macs_.size(), 0);
  EXPECT_EQ(fakelog::ProcessLogLines(), "GetPhysicalMac\nEnumNetAdapters Count = 0.\n");
  EXPECT_EQ(fakenet::state().admin_checks, 0);
}

TEST_F(PhysicalMac, ListsDistinctAddressesInAscendingOrder) {
  const auto a = InstallAnswering(0, "Realtek PCIe GbE Family Controller", {0x00, 0xE0, 0x4C, 0, 0, 1});
  const auto b = InstallAnswering(1, "Intel(R) 82574L", {0x00, 0x1B, 0x21, 0, 0, 2});
  const auto c = InstallAnswering(2, "Teamed twin", {0x00, 0xE0, 0x4C, 0, 0, 1});
  EXPECT_EQ(Run(), 2);
  EXPECT_EQ(Texts(macs_), (MacTexts{"001B21000002", "00E04C000001"}));
  EXPECT_EQ(fakelog::ProcessLogLines(), "GetPhysicalMac\n" + ReadLine(0, a, "00E04C000001") +
                                            ReadLine(1, b, "001B21000002") + ReadLine(2, c, "00E04C000001"));
  EXPECT_EQ(fakenet::state().admin_checks, 1) << "asked once per call";
}

TEST_F(PhysicalMac, SkippedAdaptersEndWithNoAddressCount) {
  Install(0, "WAN Miniport (PPP)", 23);
  Install(1, "Serial line", 28);
  Install(2, "Loopback with the physical flag", 24, kPhysical);
  Install(3, "Virtual adapter", kEthernet, 0x1);
  Install(4, "No Characteristics value");
  fakenet::AddKey(fakenet::AdapterKeyPath("0004")).values.erase("CHARACTERISTICS");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(macs_.size(), 0);
  EXPECT_EQ(fakelog::ProcessLogLines(),
            "GetPhysicalMac\n"
            "IF.TYPE No Support Index [0] Desc [WAN Miniport (PPP)] Type [23].\n"
            "IF.TYPE No Support Index [1] Desc [Serial line] Type [28].\n"
            "IF.TYPE No Support Index [2] Desc [Loopback with the physical flag] Type [24].\n"
            "IF.Characteristics No Support Index [3] Desc [Virtual adapter] Value [1].\n"
            "IF.Characteristics No Support Index [4] Desc [No Characteristics value] Value [0].\n"
            "SetApi Mac Count = 0.\n");
  EXPECT_TRUE(fakenet::state().opened_paths.empty());
}

TEST_F(PhysicalMac, IndexCountsKeptRecordsOnly) {
  Install(0, "Dropped");
  fakenet::AddKey(fakenet::AdapterKeyPath("0000")).values.erase("NETCFGINSTANCEID");
  const auto b = InstallAnswering(1, "Kept", {0x00, 0x1B, 0x21, 0, 0, 2});
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(fakelog::ProcessLogLines(), "GetPhysicalMac\n" + ReadLine(0, b, "001B21000002"));
}

TEST_F(PhysicalMac, AllZeroAddressIsLoggedButNotListed) {
  const auto a = InstallAnswering(0, "Blank EEPROM", {0, 0, 0, 0, 0, 0});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(macs_.size(), 0);
  EXPECT_EQ(fakelog::ProcessLogLines(),
            "GetPhysicalMac\n" + ReadLine(0, a, "000000000000") + "SetApi Mac Count = 0.\n");
}

TEST_F(PhysicalMac, WithoutAdministratorRightsADisabledAdapterIsNotEnabled) {
  fakenet::state().is_admin = false;
  const auto a = Install(0, "Disabled");
  fakenet::FakeInterface interface;
  interface.path = a.Path();
  fakenet::state().interfaces.push_back(interface);
  fakenet::AddDevice(a.Path(), {0x00, 0xE0, 0x4C, 0, 0, 1}).interface_index = 0;
  const auto b = InstallAnswering(1, "Enabled", {0x00, 0x1B, 0x21, 0, 0, 2});

  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Texts(macs_), (MacTexts{"001B21000002"}));
  EXPECT_EQ(fakelog::ProcessLogLines(),
            "GetPhysicalMac\n" + CreateFailLine(a.Path(), 3) + FailLine(0, a, 3) + ReadLine(1, b, "001B21000002"));
  EXPECT_EQ(fakenet::state().sets_opened, 0);
}

TEST_F(PhysicalMac, DisabledAdapterIsReadThroughSetupApiWithAdministratorRights) {
  const auto a = Install(0, "Disabled");
  fakenet::FakeInterface interface;
  interface.path = a.Path();
  fakenet::state().interfaces.push_back(interface);
  fakenet::AddDevice(a.Path(), {0x00, 0xE0, 0x4C, 0, 0, 1}).interface_index = 0;

  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Texts(macs_), (MacTexts{"00E04C000001"}));
  EXPECT_EQ(fakelog::ProcessLogLines(),
            "GetPhysicalMac\n" + CreateFailLine(a.Path(), 3) + FailLine(0, a, 3) + ReadLine(0, a, "00E04C000001"));
  EXPECT_EQ(fakenet::state().state_changes.size(), 2u);
}

TEST_F(PhysicalMac, FailedSetupApiReadReportsTheDirectQuerysCode) {
  const auto a = Install(0, "Broken driver");
  fakenet::AddDevice(a.Path(), {}).ioctl_error = netos::kErrorGenFailure;
  // SetupAPI lists no interface for it.
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(fakelog::ProcessLogLines(), "GetPhysicalMac\nNdisCmd IoCtrl Fail [" + a.Path() + "] ErrorCode [31].\n" +
                                            FailLine(0, a, 31) +
                                            "SetApi Fail Index [0] Desc [Broken driver] DevicePath [" + a.Path() +
                                            "] ErrorCode [31].\nSetApi Mac Count = 0.\n");
  EXPECT_EQ(fakenet::state().sets_opened, 1);
}

TEST_F(PhysicalMac, OtherErrorsAreNotFollowedBySetupApi) {
  const auto a = Install(0, "Not found");
  const auto b = Install(1, "Denied");
  fakenet::AddDevice(b.Path(), {}).open_error = netos::kErrorAccessDenied;
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(fakelog::ProcessLogLines(), "GetPhysicalMac\n" + CreateFailLine(a.Path(), 2) + FailLine(0, a, 2) +
                                            CreateFailLine(b.Path(), 5) + FailLine(1, b, 5) +
                                            "SetApi Mac Count = 0.\n");
  EXPECT_EQ(fakenet::state().sets_opened, 0);
}

class AdapterOutcome : public PhysicalMac {
 protected:
  std::int32_t OutcomeOf(NetAdapterRecord record, bool is_admin) {
    CGetMacTestPeer::ReadAdapterAddress(record, 0, is_admin);
    last_mac_ = record.mac_text;
    return record.outcome;
  }
  std::string last_mac_;
};

TEST_F(AdapterOutcome, EachWayAnAdapterCanEnd) {
  const auto answering = InstallAnswering(0, "Answering", {0x00, 0x1B, 0x21, 0, 0, 2});
  EXPECT_EQ(OutcomeOf(RecordOf(answering), true), kOutcomeRead);
  EXPECT_EQ(last_mac_, "001B21000002");
  EXPECT_EQ(OutcomeOf(RecordOf(answering, 24), true), kOutcomeTypeNotSupported);
  EXPECT_EQ(OutcomeOf(RecordOf(answering, kEthernet, 0), true), kOutcomeNotPhysical);

  const auto missing = Adapter(1, "Missing");  // open fails with 2
  EXPECT_EQ(OutcomeOf(RecordOf(missing), true), kOutcomeQueryFailed);
  EXPECT_EQ(OutcomeOf(RecordOf(missing), false), kOutcomeNotAdmin);

  const auto gone = Adapter(2, "Path not found");
  fakenet::AddDevice(gone.Path(), {}).open_error = netos::kErrorPathNotFound;
  EXPECT_EQ(OutcomeOf(RecordOf(gone), true), kOutcomeSetupApiFailed);
  EXPECT_EQ(OutcomeOf(RecordOf(gone), false), kOutcomeNotAdmin);
  EXPECT_EQ(last_mac_, "");
}

}  // namespace
}  // namespace tavsn
