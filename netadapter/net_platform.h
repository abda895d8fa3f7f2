#pragma once
// The Windows calls behind CGetMac, each turned into a value or an error
// code and nothing more: which adapters to skip, what to log and when to
// retry are decided in the portable files. net_platform_win32.cpp implements
// these; the native tests link a fake.
//
// Functions that return bool mirror a Win32 call that reports failure through
// the thread's last-error value: read it with LastError() right after.
// Functions that return Status return the Win32 error code (0 is success).

#include <cstddef>
#include <cstdint>

#include "base/heap_array.h"
#include "base/resources.h"

namespace tavsn::netos {

using Status = std::uint32_t;

constexpr Status kSuccess = 0;
constexpr Status kErrorFileNotFound = 2;
constexpr Status kErrorPathNotFound = 3;
constexpr Status kErrorAccessDenied = 5;
constexpr Status kErrorNotEnoughMemory = 8;
constexpr Status kErrorGenFailure = 31;
constexpr Status kErrorBufferOverflow = 111;
constexpr Status kErrorMoreData = 234;

// GetLastError / SetLastError of the calling thread.
std::uint32_t LastError();
void SetLastError(std::uint32_t code);

// --- Registry -------------------------------------------------------------

// RegOpenKeyExW / RegOpenKeyExA with options 0 and KEY_READ. A null parent
// stands for HKEY_LOCAL_MACHINE.
Status OpenKeyW(const RegistryKey* parent, const char16_t* path, RegistryKey& key);
Status OpenKeyA(const RegistryKey* parent, const char* path, RegistryKey& key);

// RegQueryInfoKeyW: the number of subkeys.
Status QuerySubkeyCount(const RegistryKey& key, std::uint32_t& count);

// RegEnumKeyExW at `index` into `name` (capacity in characters, terminator
// included); `length` receives the name's length without the terminator.
Status EnumSubkey(const RegistryKey& key, std::uint32_t index, char16_t* name, std::uint32_t capacity,
                  std::uint32_t& length);

// RegQueryValueExW / RegQueryValueExA into `data` of `size` bytes; on
// success `size` holds the bytes stored. The value's type is not asked for.
Status QueryValueW(const RegistryKey& key, const char16_t* name, void* data, std::uint32_t& size);
Status QueryValueA(const RegistryKey& key, const char* name, void* data, std::uint32_t& size);

// --- Device control (NDIS query) ----------------------------------------

// CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, null,
// OPEN_EXISTING, 0, null); false on failure (see LastError).
bool OpenDeviceForQuery(const char* path, FileHandle& device);

// DeviceIoControl(IOCTL_NDIS_QUERY_GLOBAL_STATS) with the 4-byte
// OID_802_3_PERMANENT_ADDRESS as input and the 8-byte `address` as output;
// false on failure (see LastError).
bool QueryPermanentAddress(const FileHandle& device, std::uint8_t (&address)[8]);

// --- SetupAPI and the configuration manager -------------------------------

// SP_DEVINFO_DATA, kept opaque here; the Win32 layer owns its layout.
struct DeviceInfoData {
  alignas(8) unsigned char bytes[32];
};

// SetupDiGetClassDevsW(GUID_NDIS_LAN_CLASS, null, null,
// DIGCF_DEVICEINTERFACE); false on failure (see LastError).
bool OpenNdisInterfaceSet(DeviceInfoSet& set);

enum class InterfaceLookup {
  kEnded,         // SetupDiEnumDeviceInterfaces failed: no interface at index
  kDetailFailed,  // the detail could not be had; `error` says why
  kFound,         // `path` holds the interface's device path
};

// SetupDiEnumDeviceInterfaces at `index`, then the size-only and the real
// SetupDiGetDeviceInterfaceDetailA. `path` receives the device path and its
// terminating zero. A buffer that cannot be allocated is reported as
// kDetailFailed with ERROR_NOT_ENOUGH_MEMORY.
InterfaceLookup GetInterfacePath(const DeviceInfoSet& set, std::uint32_t index, HeapArray<char>& path,
                                 std::uint32_t& error);

// SetupDiEnumDeviceInfo at `index`, the data's size member set and all else
// zero; false on failure (see LastError).
bool EnumDeviceInfo(const DeviceInfoSet& set, std::uint32_t index, DeviceInfoData& device);

// Device-node status bits and the problem code of a device disabled by its
// user, as CM_Get_DevNode_Status reports them.
constexpr std::uint32_t kDnDriverLoaded = 0x2;
constexpr std::uint32_t kDnStarted = 0x8;
constexpr std::uint32_t kDnHasProblem = 0x400;
constexpr std::uint32_t kDnDisableable = 0x2000;
constexpr std::uint32_t kDnNoShowInDm = 0x40000000;
constexpr std::uint32_t kCmProbDisabled = 22;

// CM_Get_DevNode_Status with flags 0; false when it does not return
// CR_SUCCESS (the configuration manager leaves LastError alone).
bool GetDevNodeStatus(const DeviceInfoData& device, std::uint32_t& status, std::uint32_t& problem);

// SetupDiSetClassInstallParamsW with SP_PROPCHANGE_PARAMS for
// DIF_PROPERTYCHANGE, the state change and scope given, hardware profile 0.
bool SetPropertyChangeParams(const DeviceInfoSet& set, DeviceInfoData& device, std::uint32_t state_change,
                             std::uint32_t scope);

// SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, device).
bool CallPropertyChangeInstaller(const DeviceInfoSet& set, DeviceInfoData& device);

// SetupDiChangeState(set, device).
bool ChangeDeviceState(const DeviceInfoSet& set, DeviceInfoData& device);

// --- Serialising device state changes ---------------------------------------

// CreateMutexW(security, FALSE, name), where the security gives SYSTEM and
// the Administrators group all access and nobody else any; false on
// failure (see LastError). When the mutex was there already and its owner
// is neither SYSTEM nor the Administrators group, someone else made it:
// `foreign` is set and `mutex` is left empty, for it must not be waited for.
bool OpenNamedMutex(const char16_t* name, KernelHandle& mutex, bool& foreign);

enum class MutexWait {
  kAcquired,  // also when its last holder ended without releasing it
  kTimedOut,
  kFailed,  // see LastError
};

// WaitForSingleObject on the mutex for at most `timeout_ms`; `held` owns
// the mutex when it was acquired.
MutexWait WaitForMutex(const KernelHandle& mutex, std::uint32_t timeout_ms, HeldMutex& held);

// --- System facts -----------------------------------------------------------

// GetVersionExW with OSVERSIONINFOW: false on failure.
bool GetMajorVersion(std::uint32_t& major);

// IsUserAnAdmin.
bool IsUserAdmin();

// GetTickCount and Sleep.
std::uint32_t TickCount();
void SleepMs(std::uint32_t milliseconds);

// --- IP Helper --------------------------------------------------------------

struct IpAdapterEntry {
  char description[132];    // as IP Helper records it, always terminated
  std::uint8_t address[6];  // the first six bytes, whatever the recorded length
};

// GetAdaptersInfo asked for its size (no buffer, size 0), accepting success
// or ERROR_BUFFER_OVERFLOW, a GlobalAlloc(GMEM_ZEROINIT) buffer of that size,
// GetAdaptersInfo again into it, and the records in list order. False when
// any of these fails; the buffer is always freed.
bool ListIpAdapters(HeapArray<IpAdapterEntry>& adapters);

// --- rpcrt4, loaded at run time ----------------------------------------------

// LoadLibraryW(L"rpcrt4.dll"); false on failure (see LastError).
bool LoadRpcRuntime(LoadedLibrary& library);

// GetProcAddress; null when missing (see LastError).
void* FindProcedure(const LoadedLibrary& library, const char* name);

// Calls a UuidCreateSequential or UuidCreate found with FindProcedure and
// returns its RPC_STATUS; `uuid` receives the UUID in storage order.
std::int32_t CallUuidCreate(void* procedure, std::uint8_t (&uuid)[16]);

}  // namespace tavsn::netos
