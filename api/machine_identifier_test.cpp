#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "sysinfo/smbios_info.h"
#include "tavsn.h"
#include "tests/fakes/fake_base.h"
#include "tests/fakes/fake_cpuid_platform.h"
#include "tests/fakes/fake_log_platform.h"
#include "tests/fakes/fake_net_platform.h"
#include "tests/fakes/fake_wmi_platform.h"

namespace tavsn {
namespace {

constexpr char kCanary = '\x5A';
const std::vector<std::uint8_t> kMac = {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F};
constexpr char kDetails[] = "Example CPU-00000000-00000006-00000060";
constexpr char kCpuSerial[] = "0001-0203-0405-0607-0809-0a0b";

// A firmware table whose system structure names `serial` and carries the
// UUID bytes 00 11 .. FF.
std::vector<std::uint8_t> FirmwareTable(const std::string& serial) {
  std::vector<std::uint8_t> table = {1, 0x1B, 0x01, 0x00, 1, 2, 3, 4};
  for (int i = 0; i < 16; ++i) table.push_back(static_cast<std::uint8_t>(i * 0x11));
  table.insert(table.end(), {6, 0, 0});  // wake-up type, no SKU, no family
  for (const std::string& text : {std::string("Maker"), std::string("Model"), std::string("1.0"), serial}) {
    table.insert(table.end(), text.begin(), text.end());
    table.push_back(0);
  }
  table.push_back(0);
  table.insert(table.end(), {127, 4, 0x02, 0x00, 0, 0});
  return table;
}

// Processors of both kinds: the first gives the details text, the second
// (bit 18 of its signature set) the serial text.
void ProcessorWithDetails() {
  fakecpuid::Reset(0x000306C3);
  fakecpuid::SetBrand("Example CPU");
}
void ProcessorWithSerial() {
  fakecpuid::Reset(0x000506E3);
  fakecpuid::state().leaves[3] = {0x00010203, 0x04050607, 0x08090A0B, 0xFFFFFFFF};
}

void PhysicalAdapter() { fakenet::AddPhysicalAdapter(0, kMac); }
void IpHelperAdapter() {
  netos::IpAdapterEntry entry{"PCI Ethernet", {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}};
  fakenet::state().ip_adapters = {entry};
}
void UuidOnly() {
  fakenet::state().ip_list_fails = true;
  const std::uint8_t uuid[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0x00, 0x1B, 0x21, 0x0A, 0x4C, 0x7F};
  std::memcpy(fakenet::state().rpc.sequential_uuid, uuid, sizeof uuid);
}

// Another request holding the library's firmware record, until TearDown.
SmbiosInfoHold& HeldRecord() {
  static SmbiosInfoHold held;
  return held;
}
void FirmwareRecordHeldElsewhere() { HeldRecord().reset(AcquireSmbiosInfo()); }

using Export = int (*)(char*, int);

struct MachineCase {
  const char* name;
  Export call;
  std::function<void()> arrange;
  int result;
  std::string text;                       // empty: nothing written
  std::vector<std::string> log_contains;  // these lines, in this order
};

class MachineIdentifierTest : public ::testing::TestWithParam<MachineCase> {
 protected:
  void SetUp() override {
    fakelog::Reset();
    fakenet::Reset();
    fakewmi::Reset();
    fakebase::ResetHeap();
    ProcessorWithDetails();
    fakewmi::state().table = FirmwareTable("SN12345678");
    fakelog::EnableProcessLog();
  }
  void TearDown() override {
    HeldRecord().reset();
    fakebase::ResetHeap();
    fakelog::Reset();
  }
};

int CallGetPCSN(char* buffer, int size) { return GetPCSN(buffer, size); }
int CallGetPCSNEx(char* buffer, int size) { return GetPCSNEx(buffer, size); }

void PrintTo(const MachineCase& c, std::ostream* os) { *os << c.name; }

// Each row from substituted sources: the result, exactly 32 bytes written
// or none, and the log lines that say where each part came from. The
// aliases give what their targets give.
TEST_P(MachineIdentifierTest, BuildsTheIdentifierFromItsSources) {
  const MachineCase& c = GetParam();
  c.arrange();
  const long live_blocks = fakebase::heap().live_blocks;
  std::vector<char> buffer(64, kCanary);
  EXPECT_EQ(c.call(buffer.data(), 33), c.result);
  EXPECT_EQ(fakebase::heap().live_blocks, live_blocks) << "every heap block given back";
  const std::string written(buffer.data(), 32);
  if (c.text.empty()) {
    EXPECT_EQ(written, std::string(32, kCanary));
  } else {
    EXPECT_EQ(written, c.text);
  }
  EXPECT_EQ(std::string(buffer.begin() + 32, buffer.end()), std::string(32, kCanary));

  const std::string lines = fakelog::ProcessLogLines();
  std::size_t from = 0;
  for (const std::string& line : c.log_contains) {
    const std::size_t at = lines.find(line + "\n", from);
    ASSERT_NE(at, std::string::npos) << "missing or out of order: " << line << "\n" << lines;
    from = at + line.size();
  }

  // The same sources through the alias give the same bytes and result.
  const Export alias = c.call == CallGetPCSN ? tav_get_pc_id_ex : tav_get_pc_id_info;
  std::vector<char> again(64, kCanary);
  EXPECT_EQ(alias(again.data(), 33), c.result);
  EXPECT_EQ(again, buffer);
}

const char kSerialText[] = "TQ1225000A1B7B480A00DBDC26006FA0";

INSTANTIATE_TEST_SUITE_P(
    Sources, MachineIdentifierTest,
    ::testing::Values(
        MachineCase{.name = "SerialNumber",
                    .call = CallGetPCSN,
                    .arrange = PhysicalAdapter,
                    .result = TAVSN_MAC_FROM_ADAPTER,
                    .text = kSerialText,
                    .log_contains = {"GetPCSNEx start.", "GetPhysicalMac", "GetPCSN Mac Count [ 1 ]",
                                     "GetPCSN First Mac [ 0A1B2C3D4E5F ]",
                                     std::string("GetPCSNEx CPU Details [ ") + kDetails + " ]",
                                     "GetPCSN Motherboard SN [ SN12345678 ]",
                                     std::string("GetPCSNEx  [ ") + kSerialText + " ]"}},
        MachineCase{.name = "ShortSerialGivesTheUuid",
                    .call = CallGetPCSN,
                    .arrange =
                        [] {
                          PhysicalAdapter();
                          fakewmi::state().table = FirmwareTable("1234567");
                        },
                    .result = TAVSN_MAC_FROM_ADAPTER,
                    .text = "TQ1229000A1B7B482300A26C26006FA0",
                    .log_contains = {"GetPCSN Motherboard UUID [ 33221100-77665544-bbaa9988-ffeeddcc ]"}},
        MachineCase{.name = "FirmwareUnreadable",
                    .call = CallGetPCSN,
                    .arrange =
                        [] {
                          PhysicalAdapter();
                          ProcessorWithSerial();
                          fakewmi::state().initialize = fakewmi::kChangedMode;
                        },
                    .result = TAVSN_MAC_FROM_ADAPTER,
                    .text = "TQ1211000A1B7B48000000001D002348",
                    .log_contains = {std::string("GetPCSNEx CPU SN [ ") + kCpuSerial + " ]",
                                     "init_raw_smbios_data CoInitializeEx hResult [-2147417850].",
                                     "GetPCSN init_system_information failed. "}},
        MachineCase{.name = "IpHelperKeepsTheAdapterFlags",
                    .call = CallGetPCSN,
                    .arrange = IpHelperAdapter,
                    .result = TAVSN_MAC_FROM_IP_HELPER,
                    .text = kSerialText,
                    .log_contains = {"GetMacSN  GetPhysicalMac MacCount is 0 .", "GetPCSN Mac Count [ 1 ]"}},
        MachineCase{.name = "UuidNode",
                    .call = CallGetPCSN,
                    .arrange = UuidOnly,
                    .result = TAVSN_MAC_FROM_UUID,
                    .text = "TQ122700001B925B0A00DBDC26006FA0",
                    .log_contains = {"GetMacSN  GetPhysicalMac MacCount is 0 .",
                                     "GetMacSN  GetMacFromPCI MacCount is 0 .", "GetPCSN First Mac [ 001B210A4C7F ]"}},
        MachineCase{.name = "NoMacWritesNothing",
                    .call = CallGetPCSN,
                    .arrange =
                        [] {
                          UuidOnly();
                          fakenet::state().rpc.load_error = fakenet::kErrorModNotFound;
                        },
                    .result = TAVSN_ERROR_NO_MAC,
                    .text = "",
                    .log_contains = {"GetMacSN No MAC address."}},
        MachineCase{.name = "FirmwareRecordNeedsNoMemory",
                    .call = CallGetPCSN,
                    .arrange =
                        [] {
                          PhysicalAdapter();
                          // The MAC searches of the call and of its alias's.
                          fakebase::heap().allocations_left = 2 * (2 + 1);
                        },
                    .result = TAVSN_MAC_FROM_ADAPTER,
                    .text = kSerialText,
                    .log_contains = {"GetPCSN Motherboard SN [ SN12345678 ]"}},
        MachineCase{.name = "FirmwareRecordFromTheHeapWhileHeld",
                    .call = CallGetPCSN,
                    .arrange =
                        [] {
                          PhysicalAdapter();
                          FirmwareRecordHeldElsewhere();
                        },
                    .result = TAVSN_MAC_FROM_ADAPTER,
                    .text = kSerialText,
                    .log_contains = {"GetPCSN Motherboard SN [ SN12345678 ]"}},
        MachineCase{.name = "NoMemoryForTheFirmwareRecord",
                    .call = CallGetPCSN,
                    .arrange =
                        [] {
                          PhysicalAdapter();
                          FirmwareRecordHeldElsewhere();
                          fakebase::heap().allocations_left = 2 + 1;
                        },
                    .result = TAVSN_ERROR_NO_MAC,
                    .text = "",
                    .log_contains = {"GetPCSN First Mac [ 0A1B2C3D4E5F ]"}},
        MachineCase{.name = "ExSelfChecksum",
                    .call = CallGetPCSNEx,
                    .arrange = PhysicalAdapter,
                    .result = TAVSN_MAC_FROM_ADAPTER,
                    .text = "TQ1221000A1B7B480E00B5FB26006FA0",
                    .log_contains = {std::string("GetPCSNEx CPU Details [ ") + kDetails + " ]",
                                     "GetPCSNEx  [ TQ1221000A1B7B480E00B5FB26006FA0 ]"}},
        MachineCase{.name = "ExSerialAndUuidNode",
                    .call = CallGetPCSNEx,
                    .arrange =
                        [] {
                          UuidOnly();
                          ProcessorWithSerial();
                        },
                    .result = TAVSN_MAC_FROM_UUID,
                    .text = "TQ121300001B925B0E000C411D002348",
                    .log_contains = {std::string("GetPCSNEx CPU SN [ ") + kCpuSerial + " ]"}},
        MachineCase{.name = "ExNoMacWritesNothing",
                    .call = CallGetPCSNEx,
                    .arrange =
                        [] {
                          UuidOnly();
                          fakenet::state().rpc.load_error = fakenet::kErrorModNotFound;
                        },
                    .result = TAVSN_ERROR_NO_MAC,
                    .text = "",
                    .log_contains = {"GetMacSN No MAC address."}}),
    [](const ::testing::TestParamInfo<MachineCase>& info) { return std::string(info.param.name); });

// A brand or a firmware serial with line breaks (a virtual machine's owner
// sets both) writes no line of its own; the identifier keeps its bytes.
TEST_F(MachineIdentifierTest, LineBreakInAMachineTextWritesNoExtraLine) {
  fakecpuid::SetBrand("Example\r\n    1234: forged");
  fakewmi::state().table = FirmwareTable("SN\r\n1234: x");
  std::vector<char> buffer(33, kCanary);
  EXPECT_GE(GetPCSN(buffer.data(), 33), 0);
  const std::string lines = fakelog::ProcessLogLines();
  EXPECT_NE(lines.find("GetPCSNEx CPU Details [ Example      1234: forged-"), std::string::npos) << lines;
  EXPECT_NE(lines.find("GetPCSN Motherboard SN [ SN  1234: x ]\n"), std::string::npos) << lines;
  const std::string text = fakelog::ProcessLogText();
  EXPECT_EQ(text.find("\r\n    1234"), std::string::npos) << text;
  EXPECT_EQ(text.find("\r\n1234"), std::string::npos) << text;
}

TEST(MachineIdentifierArgumentsTest, BadBuffersWriteNothingAndReadNoSource) {
  fakelog::Reset();
  fakenet::Reset();
  fakewmi::Reset();
  fakecpuid::Reset();
  fakelog::EnableProcessLog();
  fakenet::AddPhysicalAdapter(0, kMac);
  std::vector<char> buffer(64, kCanary);
  for (Export call : {CallGetPCSN, CallGetPCSNEx}) {
    EXPECT_EQ(call(nullptr, 100), TAVSN_ERROR_INVALID_PARAM);
    EXPECT_EQ(call(nullptr, 5), TAVSN_ERROR_INVALID_PARAM);
    EXPECT_EQ(call(buffer.data(), 0), TAVSN_ERROR_INVALID_PARAM);
    EXPECT_EQ(call(buffer.data(), 31), TAVSN_ERROR_BUFFER_SMALL);
    EXPECT_EQ(call(buffer.data(), -5), TAVSN_ERROR_BUFFER_SMALL);
  }
  EXPECT_EQ(buffer, std::vector<char>(64, kCanary));
  EXPECT_TRUE(fakenet::state().value_queries.empty());
  EXPECT_EQ(fakecpuid::state().total_executions, 0);
  EXPECT_TRUE(fakewmi::state().journal.empty());
  const std::string one_export =
      "GetPCSNEx start.\nGetPCSN Invalid Param.\nGetPCSNEx start.\nGetPCSN Invalid Param.\n"
      "GetPCSNEx start.\nGetPCSN Invalid Param.\nGetPCSNEx start.\nGetPCSN Buffer To Small.\n"
      "GetPCSNEx start.\nGetPCSN Buffer To Small.\n";
  EXPECT_EQ(fakelog::ProcessLogLines(), one_export + one_export);
  fakelog::Reset();
}

// GetPCSNEx makes no firmware query and writes no firmware line.
TEST(MachineIdentifierArgumentsTest, ExAsksNoFirmware) {
  fakelog::Reset();
  fakenet::Reset();
  fakewmi::Reset();
  ProcessorWithDetails();
  fakelog::EnableProcessLog();
  fakenet::AddPhysicalAdapter(0, kMac);
  char buffer[32];
  EXPECT_EQ(GetPCSNEx(buffer, 32), TAVSN_MAC_FROM_ADAPTER);
  EXPECT_TRUE(fakewmi::state().journal.empty());
  EXPECT_EQ(fakelog::ProcessLogLines().find("Motherboard"), std::string::npos);
  fakelog::Reset();
}

}  // namespace
}  // namespace tavsn
