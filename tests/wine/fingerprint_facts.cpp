// fingerprint_facts.exe: prints the platform facts behind the fingerprint,
// read here with the plain Win32 calls and without the library's code, then
// the library's own probe record, so that the Wine tests can rebuild the
// expected fingerprint on their own and compare.
//
// Lines, one fact each: "name=value". The record comes last, on a line of
// its own, as "record=" and 496 hexadecimal digits.

#include <windows.h>
#include <cpuid.h>
#include <iphlpapi.h>
#include <winioctl.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "fingerprint/probes.h"

namespace {

void PrintCpuid(const char* name, unsigned leaf) {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid_count(leaf, 0, eax, ebx, ecx, edx);
  std::printf("%s=%08X %08X %08X %08X\n", name, eax, ebx, ecx, edx);
}

void PrintClock() {
  HKEY key = nullptr;
  LONG status =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0, KEY_READ, &key);
  std::printf("clock_key_status=%ld\n", status);
  if (status != ERROR_SUCCESS) return;
  DWORD type = 0, value = 0, size = sizeof value;
  status = RegQueryValueExW(key, L"~MHz", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  std::printf("clock_value_status=%ld\nclock_mhz=%lu\n", status, value);
}

void PrintMemory() {
  MEMORYSTATUSEX memory = {};
  memory.dwLength = sizeof memory;
  const BOOL ok = GlobalMemoryStatusEx(&memory);
  std::printf("memory_ok=%d\nmemory_total=%llu\n", ok ? 1 : 0, ok ? memory.ullTotalPhys : 0ull);
}

void PrintDisk() {
  HANDLE disk = CreateFileW(L"\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (disk == INVALID_HANDLE_VALUE) {
    std::printf("disk_open=0\ndisk_open_error=%lu\n", GetLastError());
    return;
  }
  GET_LENGTH_INFORMATION length = {};
  DWORD returned = 0;
  const BOOL ok =
      DeviceIoControl(disk, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned, nullptr);
  const DWORD error = ok ? 0 : GetLastError();
  CloseHandle(disk);
  std::printf("disk_open=1\ndisk_query_ok=%d\ndisk_query_error=%lu\ndisk_length=%lld\n", ok ? 1 : 0, error,
              ok ? length.Length.QuadPart : 0ll);
}

void PrintFirstAdapter() {
  ULONG size = 0;
  DWORD status = GetAdaptersInfo(nullptr, &size);
  std::vector<std::uint8_t> list;
  if (status == ERROR_BUFFER_OVERFLOW) {
    list.resize(size);
    status = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(list.data()), &size);
  }
  std::printf("adapters_status=%lu\n", status);
  if (status != ERROR_SUCCESS) return;
  const auto* first = reinterpret_cast<const IP_ADAPTER_INFO*>(list.data());
  std::printf("first_adapter=%s\nfirst_address=", first->Description);
  for (int i = 0; i < 6; ++i) std::printf("%02X", first->Address[i]);
  std::printf("\n");
}

void PrintRecord() {
  tavsn::fingerprint::ProbeRecord record;
  std::fflush(stdout);
  tavsn::fingerprint::collect_pc_info(&record);
  std::printf("\nrecord=");
  for (char byte : record.bytes) std::printf("%02X", static_cast<unsigned char>(byte));
  std::printf("\n");
}

}  // namespace

int main() {
  PrintCpuid("leaf0", 0);
  PrintCpuid("leaf80000000", 0x80000000);
  PrintCpuid("leaf80000002", 0x80000002);
  PrintCpuid("leaf80000003", 0x80000003);
  PrintCpuid("leaf80000004", 0x80000004);
  PrintClock();
  PrintMemory();
  PrintDisk();
  PrintFirstAdapter();
  PrintRecord();
  return 0;
}
