#pragma once
// A stand-in for the adapter subsystem's Windows layer: a registry tree,
// NDIS devices by path, a SetupAPI interface list whose devices can be
// enabled and disabled and whose drivers start after a number of polls, a
// virtual clock, IP Helper's adapter list and rpcrt4. Tests set it up
// through state() and read back what was done to it.
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "netadapter/net_platform.h"

namespace tavsn::fakenet {

using netos::Status;

// Win32 error codes the fake hands out beside those netos names.
constexpr Status kErrorInvalidHandle = 6;                  // ERROR_INVALID_HANDLE
constexpr Status kErrorInvalidData = 13;                   // ERROR_INVALID_DATA
constexpr Status kErrorModNotFound = 126;                  // ERROR_MOD_NOT_FOUND
constexpr Status kErrorProcNotFound = 127;                 // ERROR_PROC_NOT_FOUND
constexpr Status kErrorNoData = 232;                       // ERROR_NO_DATA
constexpr Status kErrorNoMoreItems = 259;                  // ERROR_NO_MORE_ITEMS
constexpr Status kErrorNoClassInstallParams = 0xE0000217;  // ERROR_NO_CLASSINSTALL_PARAMS

// Registry ------------------------------------------------------------------

struct FakeValue {
  std::vector<std::uint8_t> bytes;  // exactly what the query returns
  Status error = netos::kSuccess;   // a query failing for another reason
  // Whether a buffer too small for the value is filled with its first bytes
  // before ERROR_MORE_DATA, as Windows may do (Wine leaves it untouched).
  bool fills_small_buffer = false;
};

struct FakeKey {
  std::vector<std::u16string> subkeys;  // in enumeration order
  std::map<std::string, FakeValue> values;
  Status open_error = netos::kSuccess;
  Status subkey_count_error = netos::kSuccess;
  std::map<std::uint32_t, Status> enum_errors;  // by subkey index
};

// NDIS devices -----------------------------------------------------------------

// The bytes OID_802_3_PERMANENT_ADDRESS answers into (six of them the address).
constexpr std::size_t kPermanentAddressBytes = 8;

struct FakeDevice {
  Status open_error = netos::kSuccess;
  Status ioctl_error = netos::kSuccess;
  std::uint8_t answer[kPermanentAddressBytes] = {};
  // The device opens only while this SetupAPI interface's driver runs;
  // before that the open fails with `error_while_down`.
  int interface_index = -1;
  Status error_while_down = netos::kErrorPathNotFound;
};

// SetupAPI ----------------------------------------------------------------------

using netos::kCmProbDisabled;
using netos::kDnDisableable;
using netos::kDnDriverLoaded;
using netos::kDnHasProblem;
using netos::kDnNoShowInDm;
using netos::kDnStarted;
constexpr std::uint32_t kCmProbFailedStart = 10;

constexpr std::uint32_t kDisabledStatus = kDnHasProblem | kDnDisableable;
constexpr std::uint32_t kRunningStatus = kDnDriverLoaded | kDnStarted | kDnDisableable;
constexpr std::uint32_t kStartingStatus = kDnDisableable;

// The state changes and scopes of SP_PROPCHANGE_PARAMS.
constexpr std::uint32_t kDicsEnable = 1;              // DICS_ENABLE
constexpr std::uint32_t kDicsDisable = 2;             // DICS_DISABLE
constexpr std::uint32_t kDicsFlagGlobal = 1;          // DICS_FLAG_GLOBAL
constexpr std::uint32_t kDicsFlagConfigSpecific = 2;  // DICS_FLAG_CONFIGSPECIFIC

struct StateChange {
  std::uint32_t index;
  std::uint32_t state_change;  // kDicsEnable or kDicsDisable
  std::uint32_t scope;         // kDicsFlagGlobal or kDicsFlagConfigSpecific
  bool through_installer;      // SetupDiCallClassInstaller, else SetupDiChangeState
  bool operator==(const StateChange&) const = default;
};

struct FakeInterface {
  std::string path;  // the detail's device path
  Status detail_error = netos::kSuccess;
  // The device as found.
  std::uint32_t status = kDisabledStatus;
  std::uint32_t problem = kCmProbDisabled;
  // SetupDiEnumDeviceInfo calls for this index that fail (1-based count).
  std::set<int> failing_enum_info_calls;
  Status enum_info_error = kErrorNoMoreItems;
  // CM_Get_DevNode_Status reads that fail (1-based count).
  std::set<int> failing_status_reads;
  // Failures of the two state-change steps, by DICS_ENABLE / DICS_DISABLE.
  std::map<std::uint32_t, Status> set_params_errors;
  std::map<std::uint32_t, Status> apply_errors;
  // After an enable the driver reports started at the n-th status read
  // (1 = the first poll); -1 never. Until then it reports starting_*.
  int polls_until_started = 1;
  std::uint32_t starting_status = kStartingStatus;
  std::uint32_t starting_problem = 0;

  // Kept by the fake.
  bool enabled_here = false;
  int status_reads = 0;
  int enum_info_calls = 0;
  int polls_since_enable = 0;
};

// The bytes of a UUID, in storage order.
constexpr std::size_t kUuidBytes = 16;

struct RpcBehaviour {
  Status load_error = netos::kSuccess;
  bool has_sequential = true;
  bool has_create = true;
  Status lookup_error = kErrorProcNotFound;
  std::uint8_t sequential_uuid[kUuidBytes] = {};
  std::int32_t sequential_status = 0;
  std::uint8_t random_uuid[kUuidBytes] = {};
  std::int32_t random_status = 0;
};

// The value that closing a handle leaves as the thread's last error: the
// fake deliberately disturbs it, so tests see whether callers kept theirs.
constexpr std::uint32_t kErrorLeftByClose = kErrorInvalidHandle;

// What the system facts and the virtual clock start from.
constexpr std::uint32_t kVistaMajorVersion = 6;  // Windows Vista and later
constexpr std::uint32_t kStartTickMs = 100000;

struct State {
  // Registry, keyed by path without case distinction ("" is HKLM itself).
  std::map<std::u16string, FakeKey> keys;
  int keys_open = 0;
  std::vector<std::string> value_queries;  // "W *IfType", "A DriverDesc", ...

  // NDIS devices, keyed by path without case distinction.
  std::map<std::string, FakeDevice> devices;
  std::vector<std::string> opened_paths;  // every open attempt, as spelled
  int devices_open = 0;
  int device_closes = 0;

  // SetupAPI.
  std::vector<FakeInterface> interfaces;
  Status set_open_error = netos::kSuccess;
  int sets_opened = 0;
  int sets_destroyed = 0;
  std::vector<StateChange> state_changes;

  // The adapter-state mutex.
  Status mutex_open_error = netos::kSuccess;
  bool mutex_foreign = false;  // made before by someone else
  netos::MutexWait mutex_wait = netos::MutexWait::kAcquired;
  Status mutex_wait_error = netos::kSuccess;
  std::vector<std::u16string> mutex_names;
  int mutexes_held = 0;
  int mutex_handles_open = 0;

  // System facts and the virtual clock. A real pause per Sleep call lets
  // tests run callers on several threads at once.
  int real_ms_per_sleep = 0;
  std::uint32_t major_version = kVistaMajorVersion;
  bool version_fails = false;
  bool is_admin = true;
  int admin_checks = 0;
  std::uint32_t tick_ms = kStartTickMs;
  std::vector<std::uint32_t> sleeps;

  // IP Helper.
  bool ip_list_fails = false;
  int ip_list_calls = 0;
  std::vector<netos::IpAdapterEntry> ip_adapters;

  // rpcrt4.
  RpcBehaviour rpc;
  int libraries_loaded = 0;
  int libraries_freed = 0;
  std::vector<std::string> procedures_called;
};

State& state();
void Reset();

// Every call into the fake layer holds this lock, so that tests may call the
// adapter reader from several threads at once.
class FakeCall {
 public:
  FakeCall();
  ~FakeCall();
  FakeCall(const FakeCall&) = delete;
  FakeCall& operator=(const FakeCall&) = delete;
};

// Builds the key and its missing ancestors, each listed as a subkey of its
// parent in the order of creation.
FakeKey& AddKey(const std::string& path);
FakeKey& AddKey(const std::u16string& path);
void SetValue(const std::string& key_path, const std::string& name, std::vector<std::uint8_t> bytes);
void SetNumber(const std::string& key_path, const std::string& name, std::uint32_t value);
// The text with its terminating zero, as the registry normally stores it.
void SetText(const std::string& key_path, const std::string& name, const std::string& text);
// The text's bytes alone, without a terminating zero.
void SetRawText(const std::string& key_path, const std::string& name, const std::string& text);

extern const char kAdapterClassKey[];
extern const char kNetworkClassKey[];
std::string AdapterKeyPath(const std::string& subkey);
std::string ConnectionKeyPath(const std::string& net_cfg_instance_id);

// The *IfType of an Ethernet adapter and the Characteristics of a physical one.
constexpr std::uint32_t kIfTypeEthernet = 6;              // IF_TYPE_ETHERNET_CSMACD
constexpr std::uint32_t kPhysicalCharacteristics = 0x84;  // NCF_PHYSICAL | NCF_HAS_UI

// An adapter whose values are all present: its *IfType and Characteristics,
// and a DriverDesc, NetCfgInstanceId and PnpInstanceID.
void AddAdapter(const std::string& subkey, std::uint32_t if_type, std::uint32_t characteristics,
                const std::string& driver_desc, const std::string& net_cfg_instance_id,
                const std::string& pnp_instance_id);

// The NDIS device path an adapter's registry entries lead to.
std::string DevicePathOf(const std::string& net_cfg_instance_id, const std::string& pnp_instance_id);

FakeDevice& AddDevice(const std::string& path, const std::vector<std::uint8_t>& address);

// A physical Ethernet adapter under subkey "000N" whose driver answers
// `address`, described as "Ethernet N".
void AddPhysicalAdapter(int index, const std::vector<std::uint8_t>& address);

// Whether the interface's driver runs (started and loaded, no problem).
bool IsRunning(const FakeInterface& interface);

}  // namespace tavsn::fakenet
