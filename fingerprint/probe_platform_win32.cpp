#include <windows.h>
#include <iphlpapi.h>
#include <winioctl.h>

#include <cstdio>

#include "base/system_library.h"
#include "fingerprint/probe_platform.h"

namespace tavsn::probeos {
namespace {

const wchar_t* AsWide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

}  // namespace

Status OpenMachineKey(const char16_t* path, RegistryKey& key) noexcept {
  HKEY opened = nullptr;
  const LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, AsWide(path), 0, KEY_READ, &opened);
  if (status == ERROR_SUCCESS) key.reset(opened);
  return static_cast<Status>(status);
}

Status QueryNumberValue(const RegistryKey& key, const char16_t* name, std::uint32_t& value) noexcept {
  DWORD number = 0;
  DWORD size = sizeof number;
  const LONG status =
      RegQueryValueExW(key.get(), AsWide(name), nullptr, nullptr, reinterpret_cast<BYTE*>(&number), &size);
  if (status == ERROR_SUCCESS) value = number;
  return static_cast<Status>(status);
}

bool TotalPhysicalMemory(std::uint64_t& bytes) noexcept {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return false;
  bytes = status.ullTotalPhys;
  return true;
}

bool OpenDiskForReadWrite(const char16_t* path, FileHandle& disk) noexcept {
  disk.reset(
      static_cast<FileObject*>(CreateFileW(AsWide(path), GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr)));
  return disk.is_valid();
}

bool QueryDiskLength(const FileHandle& disk, std::int64_t& length) noexcept {
  GET_LENGTH_INFORMATION info = {};
  DWORD returned = 0;
  if (!DeviceIoControl(disk.get(), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &info, sizeof info, &returned, nullptr))
    return false;
  length = info.Length.QuadPart;
  return true;
}

#ifdef _WIN64
static_assert(sizeof(IP_ADAPTER_INFO) == 704);
constexpr ULONG kAdapterListBytes = kAdapterListEntries * sizeof(IP_ADAPTER_INFO);
#else
constexpr ULONG kAdapterListBytes = kAdapterListBytes32;
#endif

namespace {

// The adapter list takes over 11 KB of stack. It lives only in this frame,
// entered once IP Helper is loaded, so that the loader's own stack (the
// first call loads the library) never comes on top of it.
__attribute__((noinline)) Status ReadFirstAdapter(decltype(&::GetAdaptersInfo) get_adapters_info,
                                                  std::uint8_t (&address)[6]) noexcept {
  static_assert(kAdapterListBytes >= sizeof(IP_ADAPTER_INFO));
  static_assert(sizeof(IP_ADAPTER_INFO::Address) >= 6);
  alignas(IP_ADAPTER_INFO) unsigned char list[kAdapterListBytes];
  ULONG size = kAdapterListBytes;
  auto* first = reinterpret_cast<IP_ADAPTER_INFO*>(list);
  const DWORD status = get_adapters_info(first, &size);
  if (status == ERROR_SUCCESS) {
    for (int i = 0; i < 6; ++i) address[i] = first->Address[i];
  }
  return static_cast<Status>(status);
}

}  // namespace

Status FirstAdapterAddress(std::uint8_t (&address)[6]) noexcept {
  const auto get_adapters_info = TAVSN_SYSTEM_FUNCTION(kIpHelper, GetAdaptersInfo);
  if (get_adapters_info == nullptr) {
    const DWORD error = GetLastError();
    return static_cast<Status>(error != ERROR_SUCCESS ? error : ERROR_MOD_NOT_FOUND);
  }
  return ReadFirstAdapter(get_adapters_info, address);
}

void WriteStandardOutput(const char* text) noexcept {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

}  // namespace tavsn::probeos
