#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sysinfo/smbios_info.h"
#include "tests/fakes/fake_log_platform.h"
#include "tests/fakes/fake_wmi_platform.h"

namespace tavsn {
namespace {

using Journal = std::vector<std::string>;

const Journal kSuccessfulRead = {"CoInitializeEx",
                                 "create locator",
                                 "connect",
                                 "blanket",
                                 "enumerate",
                                 "next",
                                 "get SmbiosMajorVersion",
                                 "get SmbiosMinorVersion",
                                 "get SMBiosData",
                                 "release object",
                                 "release enumerator",
                                 "release services",
                                 "release locator",
                                 "CoUninitialize"};

// The read up to and including `last_call`, then the releases of what was
// acquired, in reverse order, and CoUninitialize.
Journal ReadEndingAt(const std::string& last_call, Journal releases) {
  Journal journal(kSuccessfulRead.begin(), std::find(kSuccessfulRead.begin(), kSuccessfulRead.end(), last_call) + 1);
  journal.insert(journal.end(), releases.begin(), releases.end());
  journal.push_back("CoUninitialize");
  return journal;
}

struct RawReadCase {
  const char* name;
  std::function<void(fakewmi::State&)> arrange;
  bool result;
  std::string log;  // the lines this read writes
  Journal journal;
  std::uint8_t major, minor;
  std::uint32_t table_length;
  bool table_copied;
};

std::vector<std::uint8_t> TableOf(std::size_t size) {
  std::vector<std::uint8_t> table(size);
  for (std::size_t i = 0; i < size; ++i) table[i] = static_cast<std::uint8_t>(i * 7 + 1);
  return table;
}

const Journal kAllReleased = {"release object", "release enumerator", "release services", "release locator"};
const Journal kUpToEnumerator = {"release enumerator", "release services", "release locator"};

class RawSmbiosTest : public ::testing::TestWithParam<RawReadCase> {
 protected:
  void SetUp() override {
    fakewmi::Reset();
    fakelog::Reset();
    fakelog::EnableProcessLog();
  }
  void TearDown() override { fakelog::Reset(); }
};

// Every failure of the read, each with its log line, the calls made, every
// interface given back once in reverse order, COM left as it was, and what
// the record keeps.
TEST_P(RawSmbiosTest, ReadsOrFailsAsTheServiceAnswers) {
  const RawReadCase& c = GetParam();
  fakewmi::state().table = TableOf(100);
  c.arrange(fakewmi::state());
  auto info = std::make_unique<SmbiosInfo>();
  info->table_data[5] = 0xEE;  // a previous call's table never survives
  EXPECT_EQ(info->init_raw_smbios_data(), c.result);
  EXPECT_EQ(fakelog::ProcessLogLines(), c.log);
  EXPECT_EQ(fakewmi::state().journal, c.journal);
  EXPECT_EQ(fakewmi::state().live_interfaces, 0);
  EXPECT_EQ(info->smbios_major_version, c.major);
  EXPECT_EQ(info->smbios_minor_version, c.minor);
  EXPECT_EQ(info->table_length, c.table_length);
  const std::vector<std::uint8_t>& served = fakewmi::state().table;
  for (std::size_t i = 0; i < sizeof info->table_data; ++i) {
    const std::uint8_t expected = c.table_copied && i < served.size() ? served[i] : 0;
    ASSERT_EQ(info->table_data[i], expected) << "byte " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RawSmbiosTest,
    ::testing::Values(
        RawReadCase{.name = "Success",
                    .arrange = [](fakewmi::State&) {},
                    .result = true,
                    .log = "",
                    .journal = kSuccessfulRead,
                    .major = 3,
                    .minor = 4,
                    .table_length = 100,
                    .table_copied = true},
        RawReadCase{.name = "AlreadyMultithreaded",
                    .arrange = [](fakewmi::State& s) { s.initialize = fakewmi::kFalse; },
                    .result = true,
                    .log = "",
                    .journal = kSuccessfulRead,
                    .major = 3,
                    .minor = 4,
                    .table_length = 100,
                    .table_copied = true},
        RawReadCase{.name = "VersionsKeepTheirLowByte",
                    .arrange =
                        [](fakewmi::State& s) {
                          s.major = 0x1203;
                          s.minor = 0xFF08;
                        },
                    .result = true,
                    .log = "",
                    .journal = kSuccessfulRead,
                    .major = 3,
                    .minor = 8,
                    .table_length = 100,
                    .table_copied = true},
        RawReadCase{.name = "SingleThreadedApartment",
                    .arrange = [](fakewmi::State& s) { s.initialize = fakewmi::kChangedMode; },
                    .result = false,
                    .log = "init_raw_smbios_data CoInitializeEx hResult [-2147417850].\n",
                    .journal = {"CoInitializeEx"},
                    .major = 0,
                    .minor = 0,
                    .table_length = 0,
                    .table_copied = false},
        RawReadCase{.name = "CreateInstanceFails",
                    .arrange = [](fakewmi::State& s) { s.create = static_cast<fakewmi::HResult>(0x80040154); },
                    .result = false,
                    .log = "init_raw_smbios_data CoCreateInstance hResult [-2147221164].\n",
                    .journal = ReadEndingAt("create locator", {}),
                    .major = 0,
                    .minor = 0,
                    .table_length = 0,
                    .table_copied = false},
        RawReadCase{.name = "ConnectServerFails",
                    .arrange = [](fakewmi::State& s) { s.connect = static_cast<fakewmi::HResult>(0x8004100E); },
                    .result = false,
                    .log = "init_raw_smbios_data ConnectServer hResult [-2147217394].\n",
                    .journal = ReadEndingAt("connect", {"release locator"}),
                    .major = 0,
                    .minor = 0,
                    .table_length = 0,
                    .table_copied = false},
        RawReadCase{.name = "ProxyBlanketFails",
                    .arrange = [](fakewmi::State& s) { s.blanket = static_cast<fakewmi::HResult>(0x80070005); },
                    .result = false,
                    .log = "init_raw_smbios_data CoSetProxyBlanket hResult [-2147024891].\n",
                    .journal = ReadEndingAt("blanket", {"release services", "release locator"}),
                    .major = 0,
                    .minor = 0,
                    .table_length = 0,
                    .table_copied = false},
        RawReadCase{.name = "CreateInstanceEnumFails",
                    .arrange = [](fakewmi::State& s) { s.enumerate = static_cast<fakewmi::HResult>(0x80041010); },
                    .result = false,
                    .log = "init_raw_smbios_data CreateInstanceEnum hResult [-2147217392].\n",
                    .journal = ReadEndingAt("enumerate", {"release services", "release locator"}),
                    .major = 0,
                    .minor = 0,
                    .table_length = 0,
                    .table_copied = false},
        RawReadCase{.name = "NextFails",
                    .arrange = [](fakewmi::State& s) { s.next = static_cast<fakewmi::HResult>(0x80041001); },
                    .result = true,
                    .log = "",
                    .journal = ReadEndingAt("next", kUpToEnumerator),
                    .major = 0,
                    .minor = 0,
                    .table_length = 0,
                    .table_copied = false},
        RawReadCase{.name = "NoInstance",
                    .arrange =
                        [](fakewmi::State& s) {
                          s.next = fakewmi::kFalse;
                          s.next_returns = 0;
                        },
                    .result = true,
                    .log = "",
                    .journal = ReadEndingAt("next", kUpToEnumerator),
                    .major = 0,
                    .minor = 0,
                    .table_length = 0,
                    .table_copied = false},
        RawReadCase{.name = "MajorVersionMissing",
                    .arrange = [](fakewmi::State& s) { s.get_major = fakewmi::kNotFound; },
                    .result = true,
                    .log = "",
                    .journal = ReadEndingAt("get SmbiosMajorVersion", kAllReleased),
                    .major = 0,
                    .minor = 0,
                    .table_length = 0,
                    .table_copied = false},
        RawReadCase{.name = "MinorVersionMissing",
                    .arrange = [](fakewmi::State& s) { s.get_minor = fakewmi::kNotFound; },
                    .result = true,
                    .log = "",
                    .journal = ReadEndingAt("get SmbiosMinorVersion", kAllReleased),
                    .major = 3,
                    .minor = 0,
                    .table_length = 0,
                    .table_copied = false},
        RawReadCase{.name = "TableMissing",
                    .arrange = [](fakewmi::State& s) { s.get_data = fakewmi::kNotFound; },
                    .result = true,
                    .log = "",
                    .journal = kSuccessfulRead,
                    .major = 3,
                    .minor = 4,
                    .table_length = 0,
                    .table_copied = false},
        RawReadCase{.name = "TableNotAByteArray",
                    .arrange = [](fakewmi::State& s) { s.data_is_byte_array = false; },
                    .result = true,
                    .log = "",
                    .journal = kSuccessfulRead,
                    .major = 3,
                    .minor = 4,
                    .table_length = 0,
                    .table_copied = false},
        RawReadCase{.name = "LargestTable",
                    .arrange = [](fakewmi::State& s) { s.table = TableOf(63999); },
                    .result = true,
                    .log = "",
                    .journal = kSuccessfulRead,
                    .major = 3,
                    .minor = 4,
                    .table_length = 63999,
                    .table_copied = true},
        RawReadCase{.name = "TableTooLarge",
                    .arrange = [](fakewmi::State& s) { s.table = TableOf(64000); },
                    .result = false,
                    .log = "init_raw_smbios_data Bios Data Overflow length [64000].\n",
                    .journal = kSuccessfulRead,
                    .major = 3,
                    .minor = 4,
                    .table_length = 64000,
                    .table_copied = false}),
    [](const ::testing::TestParamInfo<RawReadCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavsn
