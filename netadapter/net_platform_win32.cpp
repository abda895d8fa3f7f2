// The Windows calls behind CGetMac. Each function turns one call (or one
// fixed sequence of calls) into a value or an error code; every decision
// about what the answer means is made in the portable files.

#include <windows.h>
#include <cfgmgr32.h>
#include <iphlpapi.h>
#include <rpc.h>
#include <setupapi.h>
#include <shlobj.h>

#include <cstddef>
#include <cstring>

#include "base/bounded_text.h"
#include "base/system_library.h"

#include "netadapter/net_platform.h"
#include "netadapter/platform_checks.h"

namespace tavsn::netos {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "registry names are UTF-16 on Windows");

// The sizes that the size members of these structures must carry: SetupAPI
// refuses any other. They differ between the 32-bit and the 64-bit system.
#ifdef _WIN64
static_assert(sizeof(SP_DEVINFO_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);
#else
static_assert(sizeof(SP_DEVINFO_DATA) == 28);
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
#endif
static_assert(sizeof(SP_DEVINFO_DATA) <= sizeof(DeviceInfoData::bytes));
static_assert(alignof(SP_DEVINFO_DATA) <= alignof(DeviceInfoData));
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) == 4);
static_assert(sizeof(SP_CLASSINSTALL_HEADER) == 8);
static_assert(sizeof(SP_PROPCHANGE_PARAMS) == 20);
static_assert(sizeof(OSVERSIONINFOW) == 276);
static_assert(sizeof(UUID) == 16);

constexpr DWORD kIoctlNdisQueryGlobalStats = 0x00170002;
constexpr DWORD kOid8023PermanentAddress = 0x01010101;

// GUID_NDIS_LAN_CLASS {ad498944-762f-11d0-8dcb-00c04fc3358c}.
constexpr GUID kNdisLanClass = {0xad498944, 0x762f, 0x11d0, {0x8d, 0xcb, 0x00, 0xc0, 0x4f, 0xc3, 0x35, 0x8c}};

HKEY ParentOrLocalMachine(const RegistryKey* parent) { return parent != nullptr ? parent->get() : HKEY_LOCAL_MACHINE; }

HKEY KeyOf(const RegistryKey& key) { return key.get(); }

HDEVINFO SetOf(const DeviceInfoSet& set) { return set.get(); }

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

SP_DEVINFO_DATA ToDevInfoData(const DeviceInfoData& device) {
  SP_DEVINFO_DATA data;
  std::memcpy(&data, device.bytes, sizeof data);
  return data;
}

void StoreDevInfoData(const SP_DEVINFO_DATA& data, DeviceInfoData& device) {
  std::memset(device.bytes, 0, sizeof device.bytes);
  std::memcpy(device.bytes, &data, sizeof data);
}

}  // namespace

std::uint32_t LastError() { return ::GetLastError(); }

void SetLastError(std::uint32_t code) { ::SetLastError(code); }

// --- Registry -------------------------------------------------------------

Status OpenKeyW(const RegistryKey* parent, const char16_t* path, RegistryKey& key) {
  HKEY opened = nullptr;
  const LSTATUS status = ::RegOpenKeyExW(ParentOrLocalMachine(parent), Wide(path), 0, KEY_READ, &opened);
  key.reset(status == ERROR_SUCCESS ? opened : nullptr);
  return static_cast<Status>(status);
}

Status OpenKeyA(const RegistryKey* parent, const char* path, RegistryKey& key) {
  HKEY opened = nullptr;
  const LSTATUS status = ::RegOpenKeyExA(ParentOrLocalMachine(parent), path, 0, KEY_READ, &opened);
  key.reset(status == ERROR_SUCCESS ? opened : nullptr);
  return static_cast<Status>(status);
}

Status QuerySubkeyCount(const RegistryKey& key, std::uint32_t& count) {
  DWORD subkeys = 0;
  const LSTATUS status = ::RegQueryInfoKeyW(KeyOf(key), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr);
  count = status == ERROR_SUCCESS ? subkeys : 0;
  return static_cast<Status>(status);
}

Status EnumSubkey(const RegistryKey& key, std::uint32_t index, char16_t* name, std::uint32_t capacity,
                  std::uint32_t& length) {
  DWORD characters = capacity;
  const LSTATUS status = ::RegEnumKeyExW(KeyOf(key), index, reinterpret_cast<wchar_t*>(name), &characters, nullptr,
                                         nullptr, nullptr, nullptr);
  length = status == ERROR_SUCCESS ? characters : 0;
  return static_cast<Status>(status);
}

Status QueryValueW(const RegistryKey& key, const char16_t* name, void* data, std::uint32_t& size) {
  DWORD bytes = size;
  const LSTATUS status = ::RegQueryValueExW(KeyOf(key), Wide(name), nullptr, nullptr, static_cast<BYTE*>(data), &bytes);
  size = bytes;
  return static_cast<Status>(status);
}

Status QueryValueA(const RegistryKey& key, const char* name, void* data, std::uint32_t& size) {
  DWORD bytes = size;
  const LSTATUS status = ::RegQueryValueExA(KeyOf(key), name, nullptr, nullptr, static_cast<BYTE*>(data), &bytes);
  size = bytes;
  return static_cast<Status>(status);
}

// --- Device control (NDIS query) ----------------------------------------

bool OpenDeviceForQuery(const char* path, FileHandle& device) {
  device.reset(static_cast<FileObject*>(
      ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr)));
  return device.is_valid();
}

bool QueryPermanentAddress(const FileHandle& device, std::uint8_t (&address)[8]) {
  DWORD oid = kOid8023PermanentAddress;
  DWORD returned = 0;
  return ::DeviceIoControl(device.get(), kIoctlNdisQueryGlobalStats, &oid, sizeof oid, address, sizeof address,
                           &returned, nullptr) != FALSE;
}

// --- SetupAPI and the configuration manager -------------------------------

bool OpenNdisInterfaceSet(DeviceInfoSet& set) {
  set.reset(static_cast<DeviceInfoSetObject*>(TAVSN_CALL_SYSTEM(
      kSetupApi, SetupDiGetClassDevsW, INVALID_HANDLE_VALUE, &kNdisLanClass, nullptr, nullptr, DIGCF_DEVICEINTERFACE)));
  return set.is_valid();
}

namespace {

// The detail of one interface lives in a buffer of the size SetupAPI asked
// for; the path is read only within that buffer, even if the terminator
// were missing.
struct InterfaceDetail {
  HeapArray<SP_DEVICE_INTERFACE_DETAIL_DATA_A> buffer;
  DWORD size = 0;

  // Enough whole elements for `size` bytes, so the buffer keeps the
  // structure's alignment.
  bool Allocate() {
    const std::size_t unit = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    return buffer.resize((size + unit - 1) / unit);
  }
  SP_DEVICE_INTERFACE_DETAIL_DATA_A* data() { return buffer.data(); }
  std::size_t path_capacity() const { return size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath); }
};

}  // namespace

InterfaceLookup GetInterfacePath(const DeviceInfoSet& set, std::uint32_t index, HeapArray<char>& path,
                                 std::uint32_t& error) {
  path.clear();
  error = ERROR_SUCCESS;
  SP_DEVICE_INTERFACE_DATA interface_data{};
  interface_data.cbSize = sizeof interface_data;
  if (!TAVSN_CALL_SYSTEM(kSetupApi, SetupDiEnumDeviceInterfaces, FALSE, SetOf(set), nullptr, &kNdisLanClass, index,
                         &interface_data)) {
    error = ::GetLastError();
    return InterfaceLookup::kEnded;
  }

  InterfaceDetail detail;
  TAVSN_CALL_SYSTEM(kSetupApi, SetupDiGetDeviceInterfaceDetailA, FALSE, SetOf(set), &interface_data, nullptr, 0,
                    &detail.size, nullptr);
  if (detail.size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    error = DetailSizeFailure(::GetLastError());
    ::SetLastError(error);
    return InterfaceLookup::kDetailFailed;
  }
  if (!detail.Allocate()) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    ::SetLastError(error);
    return InterfaceLookup::kDetailFailed;
  }
  detail.data()->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!TAVSN_CALL_SYSTEM(kSetupApi, SetupDiGetDeviceInterfaceDetailA, FALSE, SetOf(set), &interface_data, detail.data(),
                         detail.size, nullptr, nullptr)) {
    error = ::GetLastError();
    return InterfaceLookup::kDetailFailed;
  }

  const char* device_path = detail.data()->DevicePath;
  const std::size_t length = BoundedLength(device_path, detail.path_capacity());
  if (!path.resize(length + 1)) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    ::SetLastError(error);
    return InterfaceLookup::kDetailFailed;
  }
  std::memcpy(path.data(), device_path, length);
  path[length] = '\0';
  return InterfaceLookup::kFound;
}

bool EnumDeviceInfo(const DeviceInfoSet& set, std::uint32_t index, DeviceInfoData& device) {
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  const bool found = TAVSN_CALL_SYSTEM(kSetupApi, SetupDiEnumDeviceInfo, FALSE, SetOf(set), index, &data) != FALSE;
  StoreDevInfoData(data, device);
  return found;
}

bool GetDevNodeStatus(const DeviceInfoData& device, std::uint32_t& status, std::uint32_t& problem) {
  const SP_DEVINFO_DATA data = ToDevInfoData(device);
  ULONG node_status = 0;
  ULONG node_problem = 0;
  const CONFIGRET result =
      TAVSN_CALL_SYSTEM(kSetupApi, CM_Get_DevNode_Status, CR_FAILURE, &node_status, &node_problem, data.DevInst, 0);
  status = node_status;
  problem = node_problem;
  return result == CR_SUCCESS;
}

bool SetPropertyChangeParams(const DeviceInfoSet& set, DeviceInfoData& device, std::uint32_t state_change,
                             std::uint32_t scope) {
  SP_DEVINFO_DATA data = ToDevInfoData(device);
  SP_PROPCHANGE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof params.ClassInstallHeader;
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = state_change;
  params.Scope = scope;
  params.HwProfile = 0;
  const bool installed = TAVSN_CALL_SYSTEM(kSetupApi, SetupDiSetClassInstallParamsW, FALSE, SetOf(set), &data,
                                           &params.ClassInstallHeader, sizeof params) != FALSE;
  StoreDevInfoData(data, device);
  return installed;
}

bool CallPropertyChangeInstaller(const DeviceInfoSet& set, DeviceInfoData& device) {
  SP_DEVINFO_DATA data = ToDevInfoData(device);
  const bool called =
      TAVSN_CALL_SYSTEM(kSetupApi, SetupDiCallClassInstaller, FALSE, DIF_PROPERTYCHANGE, SetOf(set), &data) != FALSE;
  StoreDevInfoData(data, device);
  return called;
}

bool ChangeDeviceState(const DeviceInfoSet& set, DeviceInfoData& device) {
  SP_DEVINFO_DATA data = ToDevInfoData(device);
  const bool changed = TAVSN_CALL_SYSTEM(kSetupApi, SetupDiChangeState, FALSE, SetOf(set), &data) != FALSE;
  StoreDevInfoData(data, device);
  return changed;
}

// --- Serialising device state changes ---------------------------------------

namespace {

// A SID of the NT authority with up to two sub-authorities, laid out as
// Windows lays out a SID, so that no allocation is needed.
struct NtAuthoritySid {
  BYTE revision;
  BYTE sub_authority_count;
  SID_IDENTIFIER_AUTHORITY authority;
  DWORD sub_authorities[2];
};
NtAuthoritySid g_local_system = {SID_REVISION, 1, {SECURITY_NT_AUTHORITY}, {SECURITY_LOCAL_SYSTEM_RID, 0}};
NtAuthoritySid g_administrators = {
    SID_REVISION, 2, {SECURITY_NT_AUTHORITY}, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};

PSID SidOf(NtAuthoritySid& sid) { return reinterpret_cast<PSID>(&sid); }

// SYSTEM and the Administrators group may do anything with the mutex,
// nobody else anything; the Administrators group owns it.
struct AdministratorsOnly {
  SECURITY_DESCRIPTOR descriptor;
  alignas(DWORD) unsigned char acl[128];
  SECURITY_ATTRIBUTES attributes;

  bool Build() {
    auto* dacl = reinterpret_cast<ACL*>(acl);
    if (!::InitializeAcl(dacl, sizeof acl, ACL_REVISION) ||
        !::AddAccessAllowedAce(dacl, ACL_REVISION, MUTEX_ALL_ACCESS, SidOf(g_local_system)) ||
        !::AddAccessAllowedAce(dacl, ACL_REVISION, MUTEX_ALL_ACCESS, SidOf(g_administrators)) ||
        !::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorOwner(&descriptor, SidOf(g_administrators), FALSE) ||
        !::SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE)) {
      return false;
    }
    attributes = SECURITY_ATTRIBUTES{sizeof attributes, &descriptor, FALSE};
    return true;
  }
};

// Whether SYSTEM or the Administrators group owns the object: only they can
// have made a mutex of this name that must be waited for.
bool IsOwnedByAdministrators(HANDLE object) {
  alignas(DWORD) unsigned char buffer[256];
  DWORD needed = 0;
  if (!::GetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, buffer, sizeof buffer, &needed)) return false;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!::GetSecurityDescriptorOwner(buffer, &owner, &defaulted) || owner == nullptr) return false;
  return ::EqualSid(owner, SidOf(g_local_system)) || ::EqualSid(owner, SidOf(g_administrators));
}

}  // namespace

bool OpenNamedMutex(const char16_t* name, KernelHandle& mutex, bool& foreign) {
  foreign = false;
  AdministratorsOnly security;
  if (!security.Build()) return false;
  mutex.reset(static_cast<KernelObject*>(::CreateMutexW(&security.attributes, FALSE, Wide(name))));
  if (!mutex.is_valid()) return false;
  if (::GetLastError() == ERROR_ALREADY_EXISTS && !IsOwnedByAdministrators(mutex.get())) {
    foreign = true;
    mutex.reset();
  }
  return true;
}

MutexWait WaitForMutex(const KernelHandle& mutex, std::uint32_t timeout_ms, HeldMutex& held) {
  switch (::WaitForSingleObject(mutex.get(), timeout_ms)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: held.reset(mutex.get()); return MutexWait::kAcquired;
    case WAIT_TIMEOUT: return MutexWait::kTimedOut;
    default: return MutexWait::kFailed;
  }
}

// --- System facts -----------------------------------------------------------

bool GetMajorVersion(std::uint32_t& major) {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  const bool known = ::GetVersionExW(&version) != FALSE;
#pragma GCC diagnostic pop
  major = known ? version.dwMajorVersion : 0;
  return known;
}

bool IsUserAdmin() { return ::IsUserAnAdmin() != FALSE; }

std::uint32_t TickCount() { return ::GetTickCount(); }

void SleepMs(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

// --- IP Helper --------------------------------------------------------------

namespace {

// Only the fields up to the lease times are read; they sit at the same
// offsets whichever size of time_t the system's own layout uses.
constexpr std::size_t kReadableRecordPart = offsetof(IP_ADAPTER_INFO, LeaseObtained);

std::uintptr_t OffsetIn(const void* buffer, const IP_ADAPTER_INFO* record) {
  return reinterpret_cast<std::uintptr_t>(record) - reinterpret_cast<std::uintptr_t>(buffer);
}

IpAdapterEntry ToEntry(const IP_ADAPTER_INFO& record) {
  IpAdapterEntry entry{};
  static_assert(sizeof entry.description == sizeof record.Description);
  entry.description[0] = '\0';
  AppendBounded(entry.description, sizeof entry.description, record.Description, sizeof record.Description);
  static_assert(sizeof record.Address >= sizeof entry.address);
  std::memcpy(entry.address, record.Address, sizeof entry.address);
  return entry;
}

}  // namespace

bool ListIpAdapters(HeapArray<IpAdapterEntry>& adapters) {
  adapters.clear();
  ULONG size = 0;
  const auto get_adapters_info = TAVSN_SYSTEM_FUNCTION(kIpHelper, GetAdaptersInfo);
  if (get_adapters_info == nullptr) return false;  // the load's own error
  const DWORD size_query = get_adapters_info(nullptr, &size);
  if (size_query != ERROR_SUCCESS && size_query != ERROR_BUFFER_OVERFLOW) {
    ::SetLastError(size_query);
    return false;
  }
  const GlobalMemory buffer(static_cast<GlobalBlock*>(::GlobalAlloc(GMEM_ZEROINIT, size)));
  if (!buffer) return false;
  void* const records = buffer.get();
  const DWORD listed = get_adapters_info(static_cast<IP_ADAPTER_INFO*>(records), &size);
  if (listed != ERROR_SUCCESS) {
    ::SetLastError(listed);
    return false;
  }
  // The links come from the system; a record outside the buffer, or more
  // records than the buffer can hold, would mean a broken list.
  const std::size_t most_records = MostRecordsIn(size, kReadableRecordPart);
  for (const IP_ADAPTER_INFO* record = static_cast<const IP_ADAPTER_INFO*>(records); record != nullptr;
       record = record->Next) {
    if (!RecordLiesInBuffer(OffsetIn(records, record), size, kReadableRecordPart) || adapters.size() >= most_records) {
      adapters.clear();
      ::SetLastError(ERROR_INVALID_DATA);
      return false;
    }
    if (!adapters.push_back(ToEntry(*record))) {
      adapters.clear();
      ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
  }
  return true;
}

// --- rpcrt4, loaded at run time ----------------------------------------------

bool LoadRpcRuntime(LoadedLibrary& library) {
  const HMODULE module = ::LoadLibraryW(L"rpcrt4.dll");
  library.reset(module);
  return module != nullptr;
}

void* FindProcedure(const LoadedLibrary& library, const char* name) {
  const FARPROC procedure = ::GetProcAddress(library.get(), name);
  return reinterpret_cast<void*>(procedure);
}

std::int32_t CallUuidCreate(void* procedure, std::uint8_t (&uuid)[16]) {
  // UuidCreateSequential and UuidCreate share this signature.
  using UuidCreateFunction = RPC_STATUS(RPC_ENTRY*)(UUID*);
  const auto create = reinterpret_cast<UuidCreateFunction>(procedure);
  UUID generated{};
  const RPC_STATUS status = create(&generated);
  std::memcpy(uuid, &generated, sizeof uuid);
  return static_cast<std::int32_t>(status);
}

}  // namespace tavsn::netos
