// Reading the permanent address of a disabled adapter: its driver is not
// loaded, so the adapter is found among the NDIS LAN-class interfaces,
// enabled for as long as the read takes and then disabled again.
#include "base/spin_lock.h"
#include "log/diag_log.h"
#include "netadapter/cgetmac.h"

namespace tavsn {
namespace {

constexpr std::uint32_t kDicsEnable = 1;
constexpr std::uint32_t kDicsDisable = 2;
constexpr std::uint32_t kDicsFlagGlobal = 1;
constexpr std::uint32_t kDicsFlagConfigSpecific = 2;

using netos::kCmProbDisabled;
using netos::kDnDisableable;
using netos::kDnDriverLoaded;
using netos::kDnHasProblem;
using netos::kDnNoShowInDm;
using netos::kDnStarted;

constexpr std::uint32_t kFirstVistaMajorVersion = 6;
// Every process of the machine that reads adapters this way takes this
// mutex; a holder that never lets go is waited for this long at most. The
// adapters' state is the machine's, and the hosts that change it (elevated
// programs, services) run in different sessions: hence the global
// namespace. The mutex is made so that only SYSTEM and the administrators
// can open it, and one made by anyone else is never waited for.
constexpr char16_t kAdapterStateMutexName[] = u"Global\\tavsn-adapter-state";
constexpr std::uint32_t kAdapterStateWaitMs = 10000;
constexpr std::uint32_t kPollIntervalMs = 1000;
constexpr std::uint32_t kDriverWaitMs = 5000;
// Interface paths are compared without their "\\?\" prefix, which SetupAPI
// may spell differently.
constexpr std::size_t kDevicePathPrefixLength = 4;

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsLongerThanPrefix(const char* path) {
  for (std::size_t i = 0; i < kDevicePathPrefixLength; ++i) {
    if (path[i] == '\0') return false;
  }
  return true;
}

// A path too short to have the prefix names no device interface at all.
bool IsSameDevicePath(const char* a, const char* b) {
  if (!IsLongerThanPrefix(a) || !IsLongerThanPrefix(b)) return false;
  a += kDevicePathPrefixLength;
  b += kDevicePathPrefixLength;
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (AsciiLower(*a) != AsciiLower(*b)) return false;
  }
  return *a == *b;
}

bool IsReady(std::uint32_t status) {
  return (status & (kDnStarted | kDnDriverLoaded)) == (kDnStarted | kDnDriverLoaded);
}

// Only a device that a user disabled in the device manager is enabled for
// the read; any other problem is left to whoever caused it.
bool IsDisabledByUser(std::uint32_t status, std::uint32_t problem) {
  return (status & kDnHasProblem) != 0 && problem == kCmProbDisabled && (status & kDnDisableable) != 0 &&
         (status & kDnNoShowInDm) == 0;
}

// Finds the first interface whose path names `device_path`; `member_index`
// and `interface_path` then describe it. Interfaces whose detail cannot be
// had are passed over.
bool FindInterface(const DeviceInfoSet& set, const char* device_path, std::uint32_t& member_index,
                   HeapArray<char>& interface_path) {
  for (std::uint32_t index = 0;; ++index) {
    std::uint32_t error = 0;
    switch (netos::GetInterfacePath(set, index, interface_path, error)) {
      case netos::InterfaceLookup::kEnded: return false;
      case netos::InterfaceLookup::kDetailFailed:
        DiagLine(ProcessLog()) << "SetApiGetAdrr SetupDiGetDeviceInterfaceDetailA Fail Index [" << index
                               << "] ErrorCode [" << error << "].";
        break;
      case netos::InterfaceLookup::kFound:
        if (IsSameDevicePath(interface_path.data(), device_path)) {
          member_index = index;
          return true;
        }
        break;
    }
  }
}

// Polls once a second until the driver has started, gives up once the wait
// has lasted kDriverWaitMs. `status` and `problem` keep the last values the
// configuration manager gave.
void WaitForDriver(const netos::DeviceInfoData& device, std::uint32_t& status, std::uint32_t& problem) {
  const std::uint32_t start = netos::TickCount();
  for (;;) {
    netos::SleepMs(kPollIntervalMs);
    std::uint32_t polled_status = 0;
    std::uint32_t polled_problem = 0;
    if (!netos::GetDevNodeStatus(device, polled_status, polled_problem)) return;
    status = polled_status;
    problem = polled_problem;
    if (IsReady(status)) return;
    DiagLine(ProcessLog()) << "SetApiGetAdrr Dev Status [" << status << "] Problem [" << problem << "].";
    // Unsigned difference: right across the tick count's wrap as well.
    if (netos::TickCount() - start >= kDriverWaitMs) {
      DiagLine(ProcessLog()) << "SetApiGetAdrr Loop TimeOut...";
      return;
    }
  }
}

// Threads of this process take their turn here before the mutex, so the
// mutex is asked for by one thread of the process at a time.
SpinLock g_adapter_state_lock;

// While it lives, no other thread or process of the session enables,
// reads or disables an adapter: one caller's disable would otherwise cut
// another caller's read short, and that caller's identifier would silently
// lose an address. If the mutex cannot be had, or someone else made it (and
// could hold it to make every read wait), the read goes on unguarded, as it
// always could, and says so.
class AdapterStateGuard {
 public:
  AdapterStateGuard() : lock_(g_adapter_state_lock) {
    bool foreign = false;
    if (!netos::OpenNamedMutex(kAdapterStateMutexName, mutex_, foreign)) {
      const std::uint32_t error = netos::LastError();
      DiagLine(ProcessLog()) << "SetApiGetAdrr CreateMutex Fail ErrorCode [" << error << "].";
      return;
    }
    if (foreign) {
      DiagLine(ProcessLog()) << "SetApiGetAdrr Adapter State Mutex Made By Another User.";
      return;
    }
    switch (netos::WaitForMutex(mutex_, kAdapterStateWaitMs, held_)) {
      case netos::MutexWait::kAcquired: break;
      case netos::MutexWait::kTimedOut:
        DiagLine(ProcessLog()) << "SetApiGetAdrr Wait Adapter State TimeOut [" << kAdapterStateWaitMs << "].";
        break;
      case netos::MutexWait::kFailed: {
        const std::uint32_t error = netos::LastError();
        DiagLine(ProcessLog()) << "SetApiGetAdrr Wait Adapter State Fail ErrorCode [" << error << "].";
        break;
      }
    }
  }
  AdapterStateGuard(const AdapterStateGuard&) = delete;
  AdapterStateGuard& operator=(const AdapterStateGuard&) = delete;

 private:
  SpinLockGuard lock_;
  KernelHandle mutex_;
  HeldMutex held_;  // given back before the mutex's handle is closed
};

}  // namespace

bool CGetMac::IsVista() {
  std::uint32_t major = 0;
  if (!netos::GetMajorVersion(major)) return false;
  return major >= kFirstVistaMajorVersion;
}

// The failure's code is kept across the log line, for the caller's own line.
bool CGetMac::SetApiStaCha(std::uint32_t state_change, std::uint32_t member_index, const DeviceInfoSet& set) {
  const bool is_vista = IsVista();
  netos::DeviceInfoData device{};
  if (!netos::EnumDeviceInfo(set, member_index, device)) {
    const std::uint32_t code = netos::LastError();
    DiagLine(ProcessLog()) << "SetApiStaCha SetupDiEnumDeviceInfo Error Code [" << code << "].";
    netos::SetLastError(code);
    return false;
  }
  const std::uint32_t scope = is_vista ? kDicsFlagGlobal : kDicsFlagConfigSpecific;
  if (!netos::SetPropertyChangeParams(set, device, state_change, scope)) {
    const std::uint32_t code = netos::LastError();
    DiagLine(ProcessLog()) << "SetApiStaCha SetupDiSetClassInstallParams Error Code [" << code << "].";
    netos::SetLastError(code);
    return false;
  }
  const bool changed =
      is_vista ? netos::CallPropertyChangeInstaller(set, device) : netos::ChangeDeviceState(set, device);
  if (!changed) {
    const std::uint32_t code = netos::LastError();
    DiagLine(ProcessLog()) << "SetApiStaCha SetupDiCallClassInstaller/SetupDiChangeState Error Code [" << code
                           << "] Is.Vista [" << (is_vista ? 1 : 0) << "].";
    netos::SetLastError(code);
    return false;
  }
  return true;
}

bool CGetMac::SetApiGetAdrr(const char* device_path, char* mac_text) {
  DeviceInfoSet set;
  if (!netos::OpenNdisInterfaceSet(set)) {
    // Error codes are taken before a log line is started: writing it may
    // change the thread's last error.
    const std::uint32_t error = netos::LastError();
    DiagLine(ProcessLog()) << "SetApiGetAdrr SetupDiGetClassDevs Fail ErrorCode [" << error << "].";
    return false;
  }
  std::uint32_t member_index = 0;
  HeapArray<char> interface_path;
  if (!FindInterface(set, device_path, member_index, interface_path)) return false;
  return ReadThroughInterface(set, member_index, interface_path.data(), mac_text);
}

// The device is queried with the path SetupAPI spelled, not the caller's.
// Whatever happens on the way, one direct query is made if no address was
// read, and a device enabled here is always disabled again.
bool CGetMac::ReadThroughInterface(const DeviceInfoSet& set, std::uint32_t member_index, const char* interface_path,
                                   char* mac_text) {
  // From the status read to the last query: another caller's enable or
  // disable in between would change what each of them sees.
  const AdapterStateGuard guard;
  bool read = false;
  netos::DeviceInfoData device{};
  std::uint32_t status = 0;
  std::uint32_t problem = 0;
  if (!netos::EnumDeviceInfo(set, member_index, device) || !netos::GetDevNodeStatus(device, status, problem)) {
    const std::uint32_t error = netos::LastError();
    DiagLine(ProcessLog()) << "SetApiGetAdrr SetupDiEnumDeviceInfo Fail Index [" << member_index << "] ErrorCode ["
                           << error << "].";
  } else if (!IsDisabledByUser(status, problem)) {
    DiagLine(ProcessLog()) << "SetApiGetAdrr Status.No.Support Status [" << status << "] Problem [" << problem << "].";
  } else if (!SetApiStaCha(kDicsEnable, member_index, set)) {
    const std::uint32_t error = netos::LastError();
    DiagLine(ProcessLog()) << "SetApiGetAdrr Enable Fail Index [" << member_index << "] ErrorCode [" << error << "].";
  } else {
    WaitForDriver(device, status, problem);
    if (IsReady(status)) read = NdisCmd(interface_path, mac_text);
    SetApiStaCha(kDicsDisable, member_index, set);
  }
  if (!read) read = NdisCmd(interface_path, mac_text);
  return read;
}

}  // namespace tavsn
