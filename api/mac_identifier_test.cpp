// GetMacSN end to end over the fakes of the adapter and log layers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tavsn.h"
#include "tests/fakes/fake_base.h"
#include "tests/fakes/fake_log_platform.h"
#include "tests/fakes/fake_net_platform.h"

namespace tavsn {
namespace {

constexpr char kCanary = '\x5A';

class GetMacSnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakelog::Reset();
    fakenet::Reset();
    fakelog::state().files[fakelog::kLogPath] = "";
    buffer_.assign(64, kCanary);
  }
  void TearDown() override { fakelog::Reset(); }

  void AddPhysicalAdapter(int index, const std::vector<std::uint8_t>& address) {
    fakenet::AddPhysicalAdapter(index, address);
  }

  int Call(int size) { return GetMacSN(buffer_.data(), size); }
  std::string Written() const { return std::string(buffer_.data(), 32); }
  bool Untouched() const { return buffer_ == std::vector<char>(64, kCanary); }

  std::vector<char> buffer_;
};

TEST_F(GetMacSnTest, BadArgumentsWriteNothingAndQueryNoAdapter) {
  AddPhysicalAdapter(0, {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F});
  EXPECT_EQ(GetMacSN(nullptr, 100), TAVSN_ERROR_INVALID_PARAM);
  EXPECT_EQ(GetMacSN(nullptr, 5), TAVSN_ERROR_INVALID_PARAM);  // null is tested first
  EXPECT_EQ(Call(0), TAVSN_ERROR_INVALID_PARAM);
  EXPECT_EQ(Call(31), TAVSN_ERROR_BUFFER_SMALL);
  EXPECT_EQ(Call(-5), TAVSN_ERROR_BUFFER_SMALL);
  EXPECT_TRUE(Untouched());
  EXPECT_TRUE(fakenet::state().value_queries.empty());
  EXPECT_TRUE(fakenet::state().opened_paths.empty());
  EXPECT_EQ(fakelog::ProcessLogLines(),
            "GetMacSN start.\nGetMacSN Invalid Param.\n"
            "GetMacSN start.\nGetMacSN Invalid Param.\n"
            "GetMacSN start.\nGetMacSN Invalid Param.\n"
            "GetMacSN start.\nGetMacSN Buffer To Small.\n"
            "GetMacSN start.\nGetMacSN Buffer To Small.\n");
}

TEST_F(GetMacSnTest, OnePhysicalAdapterFillsExactly32Bytes) {
  AddPhysicalAdapter(0, {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F});
  EXPECT_EQ(Call(32), TAVSN_MAC_SN_WRITTEN);
  EXPECT_EQ(Written(), "TQ110101001126374455110037265544");
  EXPECT_EQ(buffer_[32], kCanary);
  EXPECT_EQ(fakelog::ProcessLogLines(),
            "GetMacSN start.\n"
            "GetPhysicalMac\n"
            "SetApi Index [0] Desc [Ethernet 0] Mac [0A1B2C3D4E5F].\n"
            "GetMacSN Mac Count [ 1 ]\n"
            "GetMacSN First Mac [ 0A1B2C3D4E5F ]\n"
            "GetMacSN  [ TQ110101001126374455110037265544 ]\n");
}

TEST_F(GetMacSnTest, TwoAdaptersAreUsedInAscendingOrder) {
  AddPhysicalAdapter(0, {0x10, 0x20, 0x30, 0x40, 0x50, 0x60});
  AddPhysicalAdapter(1, {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F});
  EXPECT_EQ(Call(1000), TAVSN_MAC_SN_WRITTEN);
  EXPECT_EQ(Written(), "TQ1101020011263744550B3B2B5B4B7B");
  EXPECT_EQ(std::string(buffer_.begin() + 32, buffer_.end()), std::string(32, kCanary));
  const std::string lines = fakelog::ProcessLogLines();
  EXPECT_NE(lines.find("GetMacSN Mac Count [ 2 ]\n"
                       "GetMacSN First Mac [ 0A1B2C3D4E5F ]\n"
                       "GetMacSN Second Mac [ 102030405060 ]\n"
                       "GetMacSN  [ TQ1101020011263744550B3B2B5B4B7B ]\n"),
            std::string::npos)
      << lines;
}

TEST_F(GetMacSnTest, ThreeAdaptersCountThreeAndUseTheFirstTwo) {
  AddPhysicalAdapter(0, {0x30, 0, 0, 0, 0, 3});
  AddPhysicalAdapter(1, {0x10, 0, 0, 0, 0, 1});
  AddPhysicalAdapter(2, {0x20, 0, 0, 0, 0, 2});
  EXPECT_EQ(Call(32), TAVSN_MAC_SN_WRITTEN);
  // Keys 0x10 and 0x00 from 100000000001; the second entry is 200000000002
  // and the third is never used.
  EXPECT_EQ(Written(), "TQ110103001010101011200000000002");
}

TEST_F(GetMacSnTest, IpHelperFallbackKeepsSourceOne) {
  fakenet::state().ip_adapters = {{"Wireless", {0x02, 0x11, 0x22, 0x33, 0x44, 0x55}},
                                  {"PCI Ethernet", {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}}};
  EXPECT_EQ(Call(32), TAVSN_MAC_SN_WRITTEN);
  EXPECT_EQ(Written(), "TQ110101001126374455110037265544");
  EXPECT_EQ(fakelog::ProcessLogLines(),
            "GetMacSN start.\n"
            "GetPhysicalMac\n"
            "EnumNetAdapters Count = 0.\n"
            "GetMacSN  GetPhysicalMac MacCount is 0 .\n"
            "GetMacSN Mac Count [ 1 ]\n"
            "GetMacSN First Mac [ 0A1B2C3D4E5F ]\n"
            "GetMacSN  [ TQ110101001126374455110037265544 ]\n");
}

TEST_F(GetMacSnTest, UuidFallbackHasSourceZero) {
  fakenet::state().ip_list_fails = true;
  const std::uint8_t uuid[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F};
  std::memcpy(fakenet::state().rpc.sequential_uuid, uuid, sizeof uuid);
  fakenet::state().rpc.sequential_status = 1824;  // local only: still accepted
  EXPECT_EQ(Call(32), TAVSN_MAC_SN_WRITTEN);
  EXPECT_EQ(Written(), "TQ110001001126374455110037265544");
  const std::string lines = fakelog::ProcessLogLines();
  EXPECT_NE(lines.find("GetMacSN  GetPhysicalMac MacCount is 0 .\n"
                       "GetMacSN  GetMacFromPCI MacCount is 0 .\n"
                       "CGetMac GetUUIDMac start \n"),
            std::string::npos)
      << lines;
}

TEST_F(GetMacSnTest, NoAddressFromAnySourceWritesNothing) {
  fakenet::state().ip_list_fails = true;
  fakenet::state().rpc.load_error = 126;
  EXPECT_EQ(Call(32), TAVSN_ERROR_NO_MAC);
  EXPECT_TRUE(Untouched());
  const std::string lines = fakelog::ProcessLogLines();
  EXPECT_NE(lines.find("Load rpcrt4.dll Fail Error Code [126].\nGetMacSN No MAC address.\n"), std::string::npos)
      << lines;
}

// The adapter list and the sorted addresses get their blocks; the list of MAC
// texts does not. A list that lost an address must not become an identifier.
TEST_F(GetMacSnTest, OutOfMemoryForTheAddressListWritesNothing) {
  AddPhysicalAdapter(0, {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F});
  fakebase::heap().allocations_left = 2;
  EXPECT_EQ(Call(32), TAVSN_ERROR_NO_MAC);
  fakebase::ResetHeap();
  EXPECT_TRUE(Untouched());
  EXPECT_EQ(fakenet::state().ip_list_calls, 0) << "no fallback after running out of memory";
}

TEST_F(GetMacSnTest, WithoutTheLogFileNothingIsWritten) {
  fakelog::state().files.clear();
  AddPhysicalAdapter(0, {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F});
  EXPECT_EQ(Call(32), TAVSN_MAC_SN_WRITTEN);
  EXPECT_TRUE(fakelog::state().files.empty());
  EXPECT_EQ(fakelog::state().opens, 0);
}

}  // namespace
}  // namespace tavsn
