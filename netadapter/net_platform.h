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
#include <string>
#include <vector>

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

// An open registry key, closed when it goes out of scope.
class RegKey {
 public:
  constexpr RegKey() = default;
  RegKey(RegKey&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  RegKey& operator=(RegKey&& other) noexcept;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey();

  bool is_open() const { return handle_ != nullptr; }
  void* get() const { return handle_; }
  void reset(void* handle = nullptr);

 private:
  void* handle_ = nullptr;
};
void CloseRegKey(void* handle);

// RegOpenKeyExW / RegOpenKeyExA with options 0 and KEY_READ. A null parent
// stands for HKEY_LOCAL_MACHINE.
Status OpenKeyW(const RegKey* parent, const char16_t* path, RegKey& key);
Status OpenKeyA(const RegKey* parent, const char* path, RegKey& key);

// RegQueryInfoKeyW: the number of subkeys.
Status QuerySubkeyCount(const RegKey& key, std::uint32_t& count);

// RegEnumKeyExW at `index` into `name` (capacity in characters, terminator
// included); `length` receives the name's length without the terminator.
Status EnumSubkey(const RegKey& key, std::uint32_t index, char16_t* name, std::uint32_t capacity,
                  std::uint32_t& length);

// RegQueryValueExW / RegQueryValueExA into `data` of `size` bytes; on
// success `size` holds the bytes stored. The value's type is not asked for.
Status QueryValueW(const RegKey& key, const char16_t* name, void* data, std::uint32_t& size);
Status QueryValueA(const RegKey& key, const char* name, void* data, std::uint32_t& size);

// --- Device control (NDIS query) ----------------------------------------

// An open device handle, closed when it goes out of scope.
class DeviceHandle {
 public:
  constexpr DeviceHandle() = default;
  DeviceHandle(DeviceHandle&& other) noexcept : handle_(other.handle_), open_(other.open_) {
    other.open_ = false;
  }
  DeviceHandle& operator=(DeviceHandle&&) = delete;
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;
  ~DeviceHandle();

  bool is_open() const { return open_; }
  void* get() const { return handle_; }
  void reset(void* handle, bool open);

 private:
  void* handle_ = nullptr;
  bool open_ = false;
};
void CloseDevice(void* handle);

// CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, null,
// OPEN_EXISTING, 0, null); false on failure (see LastError).
bool OpenDeviceForQuery(const char* path, DeviceHandle& device);

// DeviceIoControl(IOCTL_NDIS_QUERY_GLOBAL_STATS) with the 4-byte
// OID_802_3_PERMANENT_ADDRESS as input and the 8-byte `address` as output;
// false on failure (see LastError).
bool QueryPermanentAddress(const DeviceHandle& device, std::uint8_t (&address)[8]);

// --- SetupAPI and the configuration manager -------------------------------

// A device information set, destroyed when it goes out of scope.
class DevInfoSet {
 public:
  constexpr DevInfoSet() = default;
  DevInfoSet(DevInfoSet&& other) noexcept : handle_(other.handle_), open_(other.open_) {
    other.open_ = false;
  }
  DevInfoSet& operator=(DevInfoSet&&) = delete;
  DevInfoSet(const DevInfoSet&) = delete;
  DevInfoSet& operator=(const DevInfoSet&) = delete;
  ~DevInfoSet();

  bool is_open() const { return open_; }
  void* get() const { return handle_; }
  void reset(void* handle, bool open);

 private:
  void* handle_ = nullptr;
  bool open_ = false;
};
void DestroyDevInfoSet(void* handle);

// SP_DEVINFO_DATA, kept opaque here; the Win32 layer owns its layout.
struct DeviceInfoData {
  alignas(8) unsigned char bytes[32];
};

// SetupDiGetClassDevsW(GUID_NDIS_LAN_CLASS, null, null,
// DIGCF_DEVICEINTERFACE); false on failure (see LastError).
bool OpenNdisInterfaceSet(DevInfoSet& set);

enum class InterfaceLookup {
  kEnded,         // SetupDiEnumDeviceInterfaces failed: no interface at index
  kDetailFailed,  // the detail could not be had; `error` says why
  kFound,         // `path` holds the interface's device path
};

// SetupDiEnumDeviceInterfaces at `index`, then the size-only and the real
// SetupDiGetDeviceInterfaceDetailA. A detail buffer that cannot be
// allocated is reported as kDetailFailed with ERROR_NOT_ENOUGH_MEMORY.
InterfaceLookup GetInterfacePath(const DevInfoSet& set, std::uint32_t index, std::string& path,
                                 std::uint32_t& error);

// SetupDiEnumDeviceInfo at `index`, the data's size member set and all else
// zero; false on failure (see LastError).
bool EnumDeviceInfo(const DevInfoSet& set, std::uint32_t index, DeviceInfoData& device);

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
bool SetPropertyChangeParams(const DevInfoSet& set, DeviceInfoData& device,
                             std::uint32_t state_change, std::uint32_t scope);

// SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, device).
bool CallPropertyChangeInstaller(const DevInfoSet& set, DeviceInfoData& device);

// SetupDiChangeState(set, device).
bool ChangeDeviceState(const DevInfoSet& set, DeviceInfoData& device);

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
  std::string description;
  std::uint8_t address[6];  // the first six bytes, whatever the recorded length
};

// GetAdaptersInfo asked for its size (no buffer, size 0), accepting success
// or ERROR_BUFFER_OVERFLOW, a GlobalAlloc(GMEM_ZEROINIT) buffer of that size,
// GetAdaptersInfo again into it, and the records in list order. False when
// any of these fails; the buffer is always freed.
bool ListIpAdapters(std::vector<IpAdapterEntry>& adapters);

// --- rpcrt4, loaded at run time ----------------------------------------------

// A loaded library, freed when it goes out of scope.
class LoadedLibrary {
 public:
  constexpr LoadedLibrary() = default;
  LoadedLibrary(LoadedLibrary&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  LoadedLibrary& operator=(LoadedLibrary&&) = delete;
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;
  ~LoadedLibrary();

  bool is_loaded() const { return handle_ != nullptr; }
  void* get() const { return handle_; }
  void reset(void* handle = nullptr);

 private:
  void* handle_ = nullptr;
};
void FreeLoadedLibrary(void* handle);

// LoadLibraryW(L"rpcrt4.dll"); false on failure (see LastError).
bool LoadRpcRuntime(LoadedLibrary& library);

// GetProcAddress; null when missing (see LastError).
void* FindProcedure(const LoadedLibrary& library, const char* name);

// Calls a UuidCreateSequential or UuidCreate found with FindProcedure and
// returns its RPC_STATUS; `uuid` receives the UUID in storage order.
std::int32_t CallUuidCreate(void* procedure, std::uint8_t (&uuid)[16]);

}  // namespace tavsn::netos
