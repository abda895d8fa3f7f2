// Reading a disabled adapter's address through SetupAPI: which devices are
// enabled, the wait for the driver on a virtual clock, the state-change
// calls on each Windows version, and that every path disables what it
// enabled and releases the device information set.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "netadapter/cgetmac_test_peer.h"
#include "tests/fakes/fake_log_platform.h"
#include "tests/fakes/fake_net_platform.h"

namespace tavsn {
namespace {

using fakenet::StateChange;

// SetupAPI spells the path in lower case; the caller's path comes from the
// registry in upper case.
constexpr char kInterfacePath[] =
    "\\\\?\\pci#ven_8086&dev_10d3#3&11583659&0&c8#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\"
    "{11111111-2222-3333-4444-555555555555}";
constexpr char kCallerPath[] =
    "\\\\?\\PCI#VEN_8086&DEV_10D3#3&11583659&0&C8#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\"
    "{11111111-2222-3333-4444-555555555555}";
constexpr char kOtherPath[] = "\\\\?\\pci#ven_10ec&dev_8168#4&1&0&e0#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\{other}";

constexpr std::uint32_t kEnable = 1;
constexpr std::uint32_t kDisable = 2;
constexpr std::uint32_t kGlobal = 1;
constexpr std::uint32_t kConfigSpecific = 2;

std::string CreateFailLine(const char* path, int code) {
  return std::string("NdisCmd CreatFile Fail [") + path + "] ErrorCode [" + std::to_string(code) + "].\n";
}

class SetupApiControl : public AdapterFakesTest {
 protected:
  // Every path releases the set and leaves no device enabled that it
  // enabled, unless disabling itself failed.
  void TearDown() override {
    EXPECT_EQ(fakenet::state().sets_destroyed, fakenet::state().sets_opened);
    EXPECT_EQ(fakenet::state().devices_open, 0);
    if (!disable_fails_) {
      for (const auto& interface : fakenet::state().interfaces) EXPECT_FALSE(interface.enabled_here);
      EXPECT_EQ(Count(kEnable), Count(kDisable));
    }
  }

  static int Count(std::uint32_t state_change) {
    int count = 0;
    for (const StateChange& change : fakenet::state().state_changes) {
      count += change.state_change == state_change ? 1 : 0;
    }
    return count;
  }

  // A disabled adapter whose driver starts at the given poll, with its
  // address behind the interface path.
  fakenet::FakeInterface& AddDisabledAdapter(const char* path, int polls_until_started,
                                             std::vector<std::uint8_t> address = {0x00, 0x1B, 0x21, 0x0A, 0x4C, 0x7F}) {
    fakenet::FakeInterface interface;
    interface.path = path;
    interface.polls_until_started = polls_until_started;
    fakenet::state().interfaces.push_back(interface);
    fakenet::AddDevice(path, address).interface_index = static_cast<int>(fakenet::state().interfaces.size() - 1);
    return fakenet::state().interfaces.back();
  }

  bool Read(const char* path = kCallerPath) { return CGetMacTestPeer::SetApiGetAdrr(path, mac_); }

  char mac_[16] = {};
  bool disable_fails_ = false;
};

TEST_F(SetupApiControl, DisabledAdapterIsEnabledReadAndDisabledAgain) {
  AddDisabledAdapter(kInterfacePath, 2);
  ASSERT_TRUE(Read());
  EXPECT_STREQ(mac_, "001B210A4C7F");

  const std::vector<StateChange> expected = {{0, kEnable, kGlobal, true}, {0, kDisable, kGlobal, true}};
  EXPECT_EQ(fakenet::state().state_changes, expected);
  EXPECT_EQ(fakenet::state().sleeps, (std::vector<std::uint32_t>{1000, 1000}));
  // The query uses SetupAPI's spelling of the path.
  EXPECT_EQ(fakenet::state().opened_paths, std::vector<std::string>{kInterfacePath});
  EXPECT_EQ(fakelog::ProcessLogLines(), "SetApiGetAdrr Dev Status [8192] Problem [0].\n");
  EXPECT_EQ(fakenet::state().sets_opened, 1);
}

TEST_F(SetupApiControl, VersionFiveChangesStateWithoutTheClassInstaller) {
  fakenet::state().major_version = 5;
  AddDisabledAdapter(kInterfacePath, 1);
  ASSERT_TRUE(Read());
  const std::vector<StateChange> expected = {{0, kEnable, kConfigSpecific, false},
                                             {0, kDisable, kConfigSpecific, false}};
  EXPECT_EQ(fakenet::state().state_changes, expected);
}

TEST_F(SetupApiControl, UnknownVersionCountsAsBeforeVista) {
  fakenet::state().version_fails = true;
  AddDisabledAdapter(kInterfacePath, 1);
  ASSERT_TRUE(Read());
  ASSERT_EQ(fakenet::state().state_changes.size(), 2u);
  EXPECT_EQ(fakenet::state().state_changes[0].scope, kConfigSpecific);
  EXPECT_FALSE(fakenet::state().state_changes[0].through_installer);
}

TEST_F(SetupApiControl, IsVistaFromMajorVersionSix) {
  fakenet::state().major_version = 5;
  EXPECT_FALSE(CGetMacTestPeer::IsVista());
  fakenet::state().major_version = 6;
  EXPECT_TRUE(CGetMacTestPeer::IsVista());
  fakenet::state().major_version = 10;
  EXPECT_TRUE(CGetMacTestPeer::IsVista());
  fakenet::state().version_fails = true;
  EXPECT_FALSE(CGetMacTestPeer::IsVista());
}

TEST_F(SetupApiControl, DriverThatNeverStartsTimesOutAfterFivePolls) {
  // Close to the tick count's wrap: the wait must still end after 5000 ms.
  fakenet::state().tick_ms = 0xFFFFF000u;
  AddDisabledAdapter(kInterfacePath, -1);
  EXPECT_FALSE(Read());
  EXPECT_EQ(fakenet::state().sleeps, std::vector<std::uint32_t>(5, 1000));
  std::string expected;
  for (int i = 0; i < 5; ++i) expected += "SetApiGetAdrr Dev Status [8192] Problem [0].\n";
  expected += "SetApiGetAdrr Loop TimeOut...\n";
  // Disabled again, then the one direct query.
  expected += CreateFailLine(kInterfacePath, 3);
  EXPECT_EQ(fakelog::ProcessLogLines(), expected);
  EXPECT_EQ(Count(kDisable), 1);
  EXPECT_EQ(fakenet::state().opened_paths.size(), 1u);
}

TEST_F(SetupApiControl, DriverStartingAtTheLastPollIsStillRead) {
  AddDisabledAdapter(kInterfacePath, 5);
  EXPECT_TRUE(Read());
  EXPECT_EQ(fakenet::state().sleeps.size(), 5u);
  std::string expected;
  for (int i = 0; i < 4; ++i) expected += "SetApiGetAdrr Dev Status [8192] Problem [0].\n";
  EXPECT_EQ(fakelog::ProcessLogLines(), expected);
}

TEST_F(SetupApiControl, FailedQueryAfterEnablingStillDisablesAndQueriesOnceMore) {
  AddDisabledAdapter(kInterfacePath, 1);
  fakenet::state().devices.begin()->second.ioctl_error = netos::kErrorGenFailure;
  EXPECT_FALSE(Read());
  EXPECT_EQ(fakelog::ProcessLogLines(), std::string("NdisCmd IoCtrl Fail [") + kInterfacePath + "] ErrorCode [31].\n" +
                                            CreateFailLine(kInterfacePath, 3));
  EXPECT_EQ(Count(kDisable), 1);
  EXPECT_EQ(fakenet::state().opened_paths.size(), 2u);
}

TEST_F(SetupApiControl, StatusReadFailingDuringTheWaitEndsIt) {
  auto& interface = AddDisabledAdapter(kInterfacePath, 3);
  interface.failing_status_reads = {2};  // read 1 is the one before enabling
  EXPECT_FALSE(Read());
  EXPECT_EQ(fakenet::state().sleeps.size(), 1u);
  EXPECT_EQ(fakelog::ProcessLogLines(), CreateFailLine(kInterfacePath, 3));
  EXPECT_EQ(Count(kDisable), 1);
}

TEST_F(SetupApiControl, DevicesNotDisabledByTheUserAreNeverTouched) {
  struct Case {
    std::uint32_t status;
    std::uint32_t problem;
  };
  const Case cases[] = {
      {.status = fakenet::kDisabledStatus, .problem = fakenet::kCmProbFailedStart},  // another problem
      {.status = fakenet::kRunningStatus, .problem = 0},                             // no problem
      {.status = fakenet::kDnHasProblem, .problem = fakenet::kCmProbDisabled},       // not disable-able
      {.status = fakenet::kDisabledStatus | fakenet::kDnNoShowInDm, .problem = fakenet::kCmProbDisabled},
      {.status = fakenet::kDnDisableable, .problem = fakenet::kCmProbDisabled},  // problem code without the flag
  };
  for (const Case& c : cases) {
    fakenet::Reset();
    fakelog::Reset();
    fakelog::EnableProcessLog();
    auto& interface = AddDisabledAdapter(kInterfacePath, 1);
    interface.status = c.status;
    interface.problem = c.problem;
    Read();
    EXPECT_TRUE(fakenet::state().state_changes.empty());
    EXPECT_TRUE(fakenet::state().sleeps.empty());
    const std::string status_line = "SetApiGetAdrr Status.No.Support Status [" + std::to_string(c.status) +
                                    "] Problem [" + std::to_string(c.problem) + "].\n";
    EXPECT_EQ(fakelog::ProcessLogLines().substr(0, status_line.size()), status_line);
    EXPECT_EQ(fakenet::state().opened_paths.size(), 1u) << "one direct query";
    EXPECT_EQ(fakenet::state().sets_destroyed, 1);
  }
}

TEST_F(SetupApiControl, RunningDeviceIsQueriedDirectly) {
  auto& interface = AddDisabledAdapter(kInterfacePath, 1);
  interface.status = fakenet::kRunningStatus;
  interface.problem = 0;
  EXPECT_TRUE(Read());
  EXPECT_STREQ(mac_, "001B210A4C7F");
  EXPECT_EQ(fakelog::ProcessLogLines(), "SetApiGetAdrr Status.No.Support Status [8202] Problem [0].\n");
}

TEST_F(SetupApiControl, DeviceThatCannotBeFetchedGetsOneDirectQuery) {
  auto& interface = AddDisabledAdapter(kInterfacePath, 1);
  interface.failing_enum_info_calls = {1};
  interface.enum_info_error = 13;
  EXPECT_FALSE(Read());
  EXPECT_EQ(fakelog::ProcessLogLines(),
            "SetApiGetAdrr SetupDiEnumDeviceInfo Fail Index [0] ErrorCode [13].\n" + CreateFailLine(kInterfacePath, 3));
  EXPECT_TRUE(fakenet::state().state_changes.empty());
}

TEST_F(SetupApiControl, StatusThatCannotBeReadLogsTheThreadsLastError) {
  auto& interface = AddDisabledAdapter(kInterfacePath, 1);
  interface.failing_status_reads = {1};
  // The configuration manager sets no last error: the line shows whatever
  // code the thread had.
  netos::SetLastError(1234);
  EXPECT_FALSE(Read());
  EXPECT_EQ(fakelog::ProcessLogLines(), "SetApiGetAdrr SetupDiEnumDeviceInfo Fail Index [0] ErrorCode [1234].\n" +
                                            CreateFailLine(kInterfacePath, 3));
  EXPECT_TRUE(fakenet::state().state_changes.empty());
}

TEST_F(SetupApiControl, EnableFailuresAreLoggedAndFollowedByOneDirectQuery) {
  struct Case {
    const char* name;
    void (*arrange)(fakenet::FakeInterface&);
    std::string state_change_line;
  };
  const Case cases[] = {
      {.name = "device fetch",
       .arrange = [](fakenet::FakeInterface& i) { i.failing_enum_info_calls = {2}; },
       .state_change_line = "SetApiStaCha SetupDiEnumDeviceInfo Error Code [259].\n"
                            "SetApiGetAdrr Enable Fail Index [0] ErrorCode [259].\n"},
      {.name = "parameters",
       .arrange = [](fakenet::FakeInterface& i) { i.set_params_errors[kEnable] = 5; },
       .state_change_line = "SetApiStaCha SetupDiSetClassInstallParams Error Code [5].\n"
                            "SetApiGetAdrr Enable Fail Index [0] ErrorCode [5].\n"},
      {.name = "installer",
       .arrange = [](fakenet::FakeInterface& i) { i.apply_errors[kEnable] = 0xE000020Bu; },
       .state_change_line = "SetApiStaCha SetupDiCallClassInstaller/SetupDiChangeState Error Code [3758096907] "
                            "Is.Vista [1].\n"
                            "SetApiGetAdrr Enable Fail Index [0] ErrorCode [3758096907].\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fakenet::Reset();
    fakelog::Reset();
    fakelog::EnableProcessLog();
    c.arrange(AddDisabledAdapter(kInterfacePath, 1));
    EXPECT_FALSE(Read());
    EXPECT_EQ(fakelog::ProcessLogLines(), c.state_change_line + CreateFailLine(kInterfacePath, 3));
    EXPECT_TRUE(fakenet::state().state_changes.empty());
    EXPECT_TRUE(fakenet::state().sleeps.empty());
  }
}

TEST_F(SetupApiControl, ChangeStateFailureNamesVersionBeforeVista) {
  fakenet::state().major_version = 5;
  AddDisabledAdapter(kInterfacePath, 1).apply_errors[kEnable] = 5;
  EXPECT_FALSE(Read());
  EXPECT_EQ(fakelog::ProcessLogLines(),
            "SetApiStaCha SetupDiCallClassInstaller/SetupDiChangeState Error Code [5] Is.Vista [0].\n"
            "SetApiGetAdrr Enable Fail Index [0] ErrorCode [5].\n" +
                CreateFailLine(kInterfacePath, 3));
}

TEST_F(SetupApiControl, FailedDisableIsLoggedAndTheAddressStillCounts) {
  disable_fails_ = true;
  AddDisabledAdapter(kInterfacePath, 1).apply_errors[kDisable] = 5;
  EXPECT_TRUE(Read());
  EXPECT_STREQ(mac_, "001B210A4C7F");
  EXPECT_EQ(fakelog::ProcessLogLines(),
            "SetApiStaCha SetupDiCallClassInstaller/SetupDiChangeState Error Code [5] Is.Vista [1].\n");
  EXPECT_EQ(Count(kDisable), 0);
}

TEST_F(SetupApiControl, UnavailableSetIsLoggedAndNothingElseHappens) {
  fakenet::state().set_open_error = 13;
  AddDisabledAdapter(kInterfacePath, 1);
  EXPECT_FALSE(Read());
  EXPECT_EQ(fakelog::ProcessLogLines(), "SetApiGetAdrr SetupDiGetClassDevs Fail ErrorCode [13].\n");
  EXPECT_TRUE(fakenet::state().opened_paths.empty());
  EXPECT_EQ(fakenet::state().sets_opened, 0);
}

TEST_F(SetupApiControl, NoMatchingInterfaceIsQuietAndFalse) {
  AddDisabledAdapter(kOtherPath, 1);
  EXPECT_FALSE(Read());
  EXPECT_EQ(fakelog::ProcessLogLines(), "");
  EXPECT_TRUE(fakenet::state().opened_paths.empty());
  EXPECT_TRUE(fakenet::state().state_changes.empty());
  EXPECT_EQ(fakenet::state().sets_destroyed, 1);

  fakenet::state().interfaces.clear();
  EXPECT_FALSE(Read());
  EXPECT_EQ(fakelog::ProcessLogLines(), "");
}

TEST_F(SetupApiControl, InterfaceWithoutDetailIsPassedOver) {
  AddDisabledAdapter(kOtherPath, 1).detail_error = netos::kErrorNotEnoughMemory;
  AddDisabledAdapter(kInterfacePath, 1);
  EXPECT_TRUE(Read());
  EXPECT_EQ(fakelog::ProcessLogLines(),
            "SetApiGetAdrr SetupDiGetDeviceInterfaceDetailA Fail Index [0] ErrorCode [8].\n");
  const std::vector<StateChange> expected = {{1, kEnable, kGlobal, true}, {1, kDisable, kGlobal, true}};
  EXPECT_EQ(fakenet::state().state_changes, expected);
}

TEST_F(SetupApiControl, OnlyTheFirstMatchingInterfaceIsHandled) {
  auto& first = AddDisabledAdapter(kInterfacePath, 1);
  first.status = fakenet::kDisabledStatus;
  first.problem = fakenet::kCmProbFailedStart;
  fakenet::FakeInterface second;
  second.path = kCallerPath;
  fakenet::state().interfaces.push_back(second);
  EXPECT_FALSE(Read());
  EXPECT_TRUE(fakenet::state().state_changes.empty());
  EXPECT_EQ(fakenet::state().interfaces[1].enum_info_calls, 0);
}

TEST_F(SetupApiControl, PathsMatchWithoutCaseAndWithoutTheirFirstFourCharacters) {
  AddDisabledAdapter(kInterfacePath, 1);
  std::string caller = kCallerPath;
  caller.replace(0, 4, "\\\\.\\");
  EXPECT_TRUE(Read(caller.c_str()));
}

TEST_F(SetupApiControl, DifferentTailsDoNotMatch) {
  AddDisabledAdapter(kInterfacePath, 1);
  std::string longer = std::string(kCallerPath) + "x";
  EXPECT_FALSE(Read(longer.c_str()));
  std::string shorter = kCallerPath;
  shorter.pop_back();
  EXPECT_FALSE(Read(shorter.c_str()));
  EXPECT_TRUE(fakenet::state().opened_paths.empty());
}

TEST_F(SetupApiControl, PathsShorterThanThePrefixMatchNothing) {
  // Neither side may be read beyond its end.
  static const char kShortCaller[] = "\\\\?";
  AddDisabledAdapter("\\\\?", 1);
  AddDisabledAdapter("", 1);
  EXPECT_FALSE(Read(kShortCaller));
  EXPECT_FALSE(Read(""));
  EXPECT_TRUE(fakenet::state().opened_paths.empty());

  // A four-character path has an empty remainder, which another such path
  // shares.
  AddDisabledAdapter("\\\\.\\", 1);
  EXPECT_TRUE(Read("\\\\?\\"));
}

TEST_F(SetupApiControl, StateChangeOnItsOwn) {
  AddDisabledAdapter(kInterfacePath, 1);
  DeviceInfoSet set;
  ASSERT_TRUE(netos::OpenNdisInterfaceSet(set));
  EXPECT_TRUE(CGetMacTestPeer::SetApiStaCha(kEnable, 0, set));
  EXPECT_TRUE(CGetMacTestPeer::SetApiStaCha(kDisable, 0, set));
  EXPECT_FALSE(CGetMacTestPeer::SetApiStaCha(kEnable, 7, set));
  EXPECT_EQ(fakelog::ProcessLogLines(), "SetApiStaCha SetupDiEnumDeviceInfo Error Code [259].\n");
  EXPECT_EQ(netos::LastError(), 259u) << "the failure's code survives the log line";
  EXPECT_EQ(fakenet::state().state_changes.size(), 2u);
}

}  // namespace
}  // namespace tavsn

namespace tavsn {
namespace {

// Two callers that read the same disabled adapter at once take turns: the
// first one's disable never cuts the second one's read short, and each
// enable is followed by its own disable before the next enable.
TEST_F(SetupApiControl, ConcurrentCallersTakeTurnsAndBothReadTheAddress) {
  AddDisabledAdapter(kInterfacePath, 2);
  fakenet::state().real_ms_per_sleep = 30;
  char first[16] = {};
  char second[16] = {};
  bool first_read = false;
  bool second_read = false;
  std::thread other([&] { second_read = CGetMacTestPeer::SetApiGetAdrr(kCallerPath, second); });
  first_read = CGetMacTestPeer::SetApiGetAdrr(kCallerPath, first);
  other.join();
  EXPECT_TRUE(first_read);
  EXPECT_TRUE(second_read);
  EXPECT_STREQ(first, "001B210A4C7F");
  EXPECT_STREQ(second, "001B210A4C7F");
  std::vector<std::uint32_t> order;
  for (const StateChange& change : fakenet::state().state_changes) order.push_back(change.state_change);
  EXPECT_EQ(order, (std::vector<std::uint32_t>{kEnable, kDisable, kEnable, kDisable}));
  EXPECT_EQ(fakenet::state().mutexes_held, 0);
  EXPECT_EQ(fakenet::state().mutex_handles_open, 0);
  EXPECT_EQ(fakenet::state().mutex_names,
            (std::vector<std::u16string>{u"Global\\tavsn-adapter-state", u"Global\\tavsn-adapter-state"}));
}

// A mutex that cannot be had leaves the read as it always was, with one line
// that says why.
TEST_F(SetupApiControl, UnavailableMutexStillReadsAndSaysWhy) {
  struct Row {
    netos::Status open_error;
    bool foreign = false;
    netos::MutexWait wait;
    const char* line;
  };
  for (const Row& row : {Row{.open_error = 0,
                        .foreign = true,
                        .wait = netos::MutexWait::kTimedOut,
                        .line = "SetApiGetAdrr Adapter State Mutex Made By Another User.\n"},
                         Row{.open_error = 5,
                         .wait = netos::MutexWait::kAcquired,
                         .line = "SetApiGetAdrr CreateMutex Fail ErrorCode [5].\n"},
                         Row{.open_error = 0,
                         .wait = netos::MutexWait::kTimedOut,
                         .line = "SetApiGetAdrr Wait Adapter State TimeOut [10000].\n"},
                         Row{.open_error = 0,
                         .wait = netos::MutexWait::kFailed,
                         .line = "SetApiGetAdrr Wait Adapter State Fail ErrorCode [6].\n"}}) {
    fakenet::Reset();
    fakelog::Reset();
    fakelog::EnableProcessLog();
    AddDisabledAdapter(kInterfacePath, 1);
    fakenet::state().mutex_open_error = row.open_error;
    fakenet::state().mutex_foreign = row.foreign;
    fakenet::state().mutex_wait = row.wait;
    fakenet::state().mutex_wait_error = 6;
    EXPECT_TRUE(Read()) << row.line;
    EXPECT_EQ(fakelog::ProcessLogLines().rfind(row.line, 0), 0u) << fakelog::ProcessLogLines();
    EXPECT_EQ(fakenet::state().mutexes_held, 0);
    EXPECT_EQ(fakenet::state().mutex_handles_open, 0);
  }
}

}  // namespace
}  // namespace tavsn
