// The two fallback sources: the IP Helper adapter preferred for "PCI" in its
// description, and the node field of a generated UUID.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "netadapter/cgetmac_test_peer.h"
#include "tests/fakes/fake_log_platform.h"
#include "tests/fakes/fake_net_platform.h"

namespace tavsn {
namespace {

netos::IpAdapterEntry IpAdapter(const std::string& description, std::uint8_t last_byte) {
  netos::IpAdapterEntry entry{{}, {0x00, 0x50, 0x56, 0xC0, 0x00, last_byte}};
  description.copy(entry.description, sizeof entry.description - 1);
  return entry;
}

class FallbackSources : public AdapterFakesTest {
 protected:
  void TearDown() override { EXPECT_EQ(fakenet::state().libraries_freed, fakenet::state().libraries_loaded); }

  MacList macs_ = MacListOf({"stale entry", "another"});
};

TEST_F(FallbackSources, PciAdapterIsPreferredOverEarlierOnes) {
  fakenet::state().ip_adapters = {IpAdapter("Intel(R) Wireless-AC 9560", 1),
                                  IpAdapter("Realtek PCIe GbE Family Controller", 2),
                                  IpAdapter("Another PCI adapter", 3)};
  EXPECT_EQ(CGetMac().GetMacFromPCI(macs_), 1);
  EXPECT_EQ(Texts(macs_), (MacTexts{"005056C00002"}));
  EXPECT_EQ(fakelog::ProcessLogLines(), "");
}

TEST_F(FallbackSources, WithoutPciTheFirstAdapterCounts) {
  fakenet::state().ip_adapters = {IpAdapter("eth0 pci lowercase", 0xAB), IpAdapter("Pci mixed case", 2)};
  EXPECT_EQ(CGetMac().GetMacFromPCI(macs_), 1);
  EXPECT_EQ(Texts(macs_), (MacTexts{"005056C000AB"}));
}

TEST_F(FallbackSources, NoIpAdaptersLeaveTheListEmpty) {
  EXPECT_EQ(CGetMac().GetMacFromPCI(macs_), 0);
  EXPECT_EQ(macs_.size(), 0);

  macs_ = MacListOf({"stale"});
  fakenet::state().ip_list_fails = true;
  fakenet::state().ip_adapters = {IpAdapter("PCI", 1)};
  EXPECT_EQ(CGetMac().GetMacFromPCI(macs_), 0);
  EXPECT_EQ(macs_.size(), 0);
}

TEST_F(FallbackSources, SequentialUuidNodeIsListed) {
  const std::uint8_t uuid[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0x00, 0x1B, 0x21, 0x0A, 0x4C, 0x7F};
  std::memcpy(fakenet::state().rpc.sequential_uuid, uuid, 16);
  EXPECT_EQ(CGetMac().GetUUIDMac(macs_), 1);
  EXPECT_EQ(Texts(macs_), (MacTexts{"001B210A4C7F"}));
  EXPECT_EQ(fakenet::state().procedures_called, std::vector<std::string>{"UuidCreateSequential"});
  EXPECT_EQ(fakelog::ProcessLogLines(), "CGetMac GetUUIDMac start \n");
  EXPECT_EQ(fakenet::state().libraries_loaded, 1);
}

TEST_F(FallbackSources, LocalOnlyUuidIsAccepted) {
  fakenet::state().rpc.sequential_uuid[15] = 0x42;
  fakenet::state().rpc.sequential_status = 1824;
  EXPECT_EQ(CGetMac().GetUUIDMac(macs_), 1);
  EXPECT_EQ(Texts(macs_), (MacTexts{"000000000042"}));
}

TEST_F(FallbackSources, MissingSequentialFunctionFallsBackToUuidCreate) {
  fakenet::state().rpc.has_sequential = false;
  fakenet::state().rpc.random_uuid[10] = 0xFE;
  fakenet::state().rpc.random_status = 1824;
  EXPECT_EQ(CGetMac().GetUUIDMac(macs_), 1);
  EXPECT_EQ(Texts(macs_), (MacTexts{"FE0000000000"}));
  EXPECT_EQ(fakenet::state().procedures_called, std::vector<std::string>{"UuidCreate"});
  EXPECT_EQ(fakelog::ProcessLogLines(), "CGetMac GetUUIDMac start \nGet UuidCreateSequential Fail Error Code [127].\n");
}

TEST_F(FallbackSources, NeitherFunctionPresent) {
  fakenet::state().rpc.has_sequential = false;
  fakenet::state().rpc.has_create = false;
  EXPECT_EQ(CGetMac().GetUUIDMac(macs_), 0);
  EXPECT_EQ(macs_.size(), 0);
  EXPECT_EQ(fakelog::ProcessLogLines(),
            "CGetMac GetUUIDMac start \n"
            "Get UuidCreateSequential Fail Error Code [127].\n"
            "Get UuidCreate Fail Error Code [127].\n");
  EXPECT_EQ(fakenet::state().libraries_freed, 1);
}

TEST_F(FallbackSources, LibraryThatCannotBeLoaded) {
  fakenet::state().rpc.load_error = 126;  // ERROR_MOD_NOT_FOUND
  EXPECT_EQ(CGetMac().GetUUIDMac(macs_), 0);
  EXPECT_EQ(macs_.size(), 0);
  EXPECT_EQ(fakelog::ProcessLogLines(), "CGetMac GetUUIDMac start \nLoad rpcrt4.dll Fail Error Code [126].\n");
  EXPECT_EQ(fakenet::state().libraries_loaded, 0);
}

TEST_F(FallbackSources, FailedGenerationIsLoggedWithItsStatus) {
  fakenet::state().rpc.sequential_status = 14;  // RPC_S_OUT_OF_MEMORY
  fakenet::state().rpc.sequential_uuid[12] = 0x99;
  EXPECT_EQ(CGetMac().GetUUIDMac(macs_), 0);
  EXPECT_EQ(macs_.size(), 0);
  EXPECT_EQ(fakelog::ProcessLogLines(), "CGetMac GetUUIDMac start \nCall UuidCreate Fail Error Code [14].\n");
  EXPECT_EQ(fakenet::state().libraries_freed, 1);
}

// The order the exported functions follow: each source starts from an
// empty list, so sources are never mixed.
TEST_F(FallbackSources, EachSourceStartsFromAnEmptyList) {
  fakenet::state().ip_adapters = {IpAdapter("PCI", 7)};
  CGetMac mac;
  EXPECT_EQ(mac.GetPhysicalMac(macs_), 0);
  EXPECT_EQ(mac.GetMacFromPCI(macs_), 1);
  EXPECT_EQ(mac.GetUUIDMac(macs_), 1);
  EXPECT_EQ(Texts(macs_), (MacTexts{"000000000000"}));
}

}  // namespace
}  // namespace tavsn
