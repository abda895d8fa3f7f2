// The device path of an adapter's NDIS interface, the permanent-address
// query with the error code it leaves, and the MAC text and value forms.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "netadapter/cgetmac_test_peer.h"
#include "tests/fakes/fake_log_platform.h"
#include "tests/fakes/fake_net_platform.h"

namespace tavsn {
namespace {

constexpr char kDevicePath[] =
    "\\\\?\\PCI#VEN_8086&DEV_10D3#3&11583659&0&C8#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\"
    "{11111111-2222-3333-4444-555555555555}";

NetAdapterRecord RecordWith(const char* pnp_instance_id, const char* net_cfg_instance_id) {
  NetAdapterRecord record;
  std::strncpy(record.pnp_instance_id, pnp_instance_id, sizeof record.pnp_instance_id - 1);
  std::strncpy(record.net_cfg_instance_id, net_cfg_instance_id, sizeof record.net_cfg_instance_id - 1);
  return record;
}

std::string PathOf(const NetAdapterRecord& record, std::size_t capacity = 513) {
  std::string buffer(capacity, '\x7F');
  char* result = CGetMacTestPeer::BuildDevicePath(record, buffer.data(), capacity);
  EXPECT_EQ(result, buffer.data());
  return buffer.c_str();
}

TEST(DevicePath, JoinsInstanceIdClassGuidAndReferenceString) {
  const auto record = RecordWith("PCI\\VEN_8086&DEV_10D3\\3&11583659&0&C8", "{11111111-2222-3333-4444-555555555555}");
  EXPECT_EQ(PathOf(record), kDevicePath);
}

TEST(DevicePath, KeepsCaseAndThePrefixBackslashes) {
  const auto record = RecordWith("usb\\Vid_0B95&pid_1790\\0002C3", "{a}");
  EXPECT_EQ(PathOf(record), "\\\\?\\usb#Vid_0B95&pid_1790#0002C3#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\{a}");
}

TEST(DevicePath, EmptyConfigurationIdentifierLeavesNoTrailingBackslash) {
  const auto record = RecordWith("ROOT\\NET\\0000", "");
  EXPECT_EQ(PathOf(record), "\\\\?\\ROOT#NET#0000#{ad498944-762f-11d0-8dcb-00c04fc3358c}");
}

TEST(DevicePath, IsCutAtTheBufferInsteadOfOverflowing) {
  const auto record = RecordWith("ROOT\\NET\\0000", "{a}");
  EXPECT_EQ(PathOf(record, 12), "\\\\?\\ROOT#NE");
  EXPECT_EQ(PathOf(record, 3), "\\\\");
  EXPECT_EQ(PathOf(record, 1), "");
}

TEST(DevicePath, FieldsWithoutTerminatorAreReadNoFurtherThanTheirSize) {
  NetAdapterRecord record;
  std::memset(record.pnp_instance_id, 'P', sizeof record.pnp_instance_id);
  std::memset(record.net_cfg_instance_id, 'N', sizeof record.net_cfg_instance_id);
  std::memset(record.driver_desc, 'D', sizeof record.driver_desc);
  const std::string path = PathOf(record);
  EXPECT_EQ(path,
            "\\\\?\\" + std::string(200, 'P') + "#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\" + std::string(64, 'N'));
}

TEST(MacText, FormatsSixBytesAsTwelveUppercaseDigits) {
  const std::uint8_t address[6] = {0x00, 0x1B, 0x21, 0x0A, 0x4C, 0x7F};
  char text[16];
  std::memset(text, '\x7F', sizeof text);
  EXPECT_EQ(CGetMacTestPeer::FormatMac(address, text), text);
  EXPECT_STREQ(text, "001B210A4C7F");
  EXPECT_EQ(text[13], '\x7F') << "FormatMac writes exactly 13 bytes";

  const std::uint8_t high[6] = {0xFF, 0xFE, 0xAB, 0xCD, 0xEF, 0x90};
  EXPECT_STREQ(CGetMacTestPeer::FormatMac(high, text), "FFFEABCDEF90");
}

TEST(MacText, ParsesToTheBigEndianValue) {
  EXPECT_EQ(CGetMacTestPeer::ParseMac("001B210A4C7F"), 0x1B210A4C7Full);
  EXPECT_EQ(CGetMacTestPeer::ParseMac("FFFFFFFFFFFF"), 0xFFFFFFFFFFFFull);
  EXPECT_EQ(CGetMacTestPeer::ParseMac("001b210a4c7f"), 0x1B210A4C7Full);
}

TEST(MacText, ZeroAddressAndMalformedTextsAreZero) {
  EXPECT_EQ(CGetMacTestPeer::ParseMac("000000000000"), 0u);
  EXPECT_EQ(CGetMacTestPeer::ParseMac(""), 0u);
  EXPECT_EQ(CGetMacTestPeer::ParseMac("001B210A4C"), 0u) << "five pairs";
  EXPECT_EQ(CGetMacTestPeer::ParseMac("001B21ZZ4C7F"), 0u);
  EXPECT_EQ(CGetMacTestPeer::ParseMac("not a mac"), 0u);
}

TEST(MacText, NumericOrderIsTextOrder) {
  const char* ascending[] = {"000000000001", "001B21000002", "00E04C000001",
                             "0A0000000000", "A00000000000", "FFFFFFFFFFFF"};
  for (std::size_t i = 1; i < std::size(ascending); ++i) {
    EXPECT_LT(CGetMacTestPeer::ParseMac(ascending[i - 1]), CGetMacTestPeer::ParseMac(ascending[i]));
  }
}

class NdisQuery : public AdapterFakesTest {
 protected:
  void TearDown() override { EXPECT_EQ(fakenet::state().devices_open, 0); }

  char mac_[16] = {};
};

TEST_F(NdisQuery, ReadsThePermanentAddress) {
  fakenet::AddDevice(kDevicePath, {0x00, 0x1B, 0x21, 0x0A, 0x4C, 0x7F, 0xEE, 0xEE});
  EXPECT_TRUE(CGetMacTestPeer::NdisCmd(kDevicePath, mac_));
  EXPECT_STREQ(mac_, "001B210A4C7F");
  EXPECT_EQ(fakenet::state().device_closes, 1);
  EXPECT_EQ(fakelog::ProcessLogLines(), "");
}

TEST_F(NdisQuery, FailedOpenLogsOnceAndLeavesItsCode) {
  fakenet::AddDevice(kDevicePath, {1, 2, 3, 4, 5, 6}).open_error = netos::kErrorGenFailure;
  EXPECT_FALSE(CGetMacTestPeer::NdisCmd(kDevicePath, mac_));
  EXPECT_EQ(netos::LastError(), netos::kErrorGenFailure);
  EXPECT_STREQ(mac_, "");
  EXPECT_EQ(fakelog::ProcessLogLines(), std::string("NdisCmd CreatFile Fail [") + kDevicePath + "] ErrorCode [31].\n");
  EXPECT_EQ(fakenet::state().device_closes, 0);
}

TEST_F(NdisQuery, FailedControlCallLogsOnceAndKeepsItsCodeAcrossTheClose) {
  fakenet::AddDevice(kDevicePath, {1, 2, 3, 4, 5, 6}).ioctl_error = 50;  // ERROR_NOT_SUPPORTED
  EXPECT_FALSE(CGetMacTestPeer::NdisCmd(kDevicePath, mac_));
  // The fake's close leaves a code of its own; the query's must win.
  EXPECT_EQ(fakenet::state().device_closes, 1);
  EXPECT_EQ(netos::LastError(), 50u);
  EXPECT_STREQ(mac_, "");
  EXPECT_EQ(fakelog::ProcessLogLines(), std::string("NdisCmd IoCtrl Fail [") + kDevicePath + "] ErrorCode [50].\n");
}

TEST_F(NdisQuery, MissingDeviceReportsTheOpensError) {
  EXPECT_FALSE(CGetMacTestPeer::NdisCmd("\\\\?\\nothing", mac_));
  EXPECT_EQ(netos::LastError(), netos::kErrorFileNotFound);
  EXPECT_EQ(fakelog::ProcessLogLines(), "NdisCmd CreatFile Fail [\\\\?\\nothing] ErrorCode [2].\n");
}

}  // namespace
}  // namespace tavsn
