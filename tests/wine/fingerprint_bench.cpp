// fingerprint_bench.exe DLL [N]: times N calls of tav_get_pc_id through the
// DLL against N runs of only the platform calls such a call must make (the
// floor), and prints both per call, the library's overhead over the floor
// and the DLL's size. A measurement, not a test.

#include <windows.h>
#include <cpuid.h>
#include <iphlpapi.h>
#include <winioctl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using PcIdFunction = int(__cdecl*)(char*, unsigned int);

double Seconds(LARGE_INTEGER start, LARGE_INTEGER end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

volatile unsigned sink;

void CpuidLeaf(unsigned leaf) {
  unsigned eax, ebx, ecx, edx;
  __cpuid_count(leaf, 0, eax, ebx, ecx, edx);
  sink = sink + eax + ebx + ecx + edx;
}

// The calls one tav_get_pc_id makes, with nothing formatted or digested.
void BarePlatformCalls() {
  CpuidLeaf(0);
  CpuidLeaf(0);
  CpuidLeaf(0x80000000);
  CpuidLeaf(0x80000002);
  CpuidLeaf(0x80000003);
  CpuidLeaf(0x80000004);

  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0, KEY_READ,
                    &key) == ERROR_SUCCESS) {
    DWORD value = 0, size = sizeof value;
    RegQueryValueExW(key, L"~MHz", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    sink = sink + value;
  }

  MEMORYSTATUSEX memory = {};
  memory.dwLength = sizeof memory;
  GlobalMemoryStatusEx(&memory);

  HANDLE disk = CreateFileW(L"\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (disk != INVALID_HANDLE_VALUE) {
    GET_LENGTH_INFORMATION length;
    DWORD returned = 0;
    DeviceIoControl(disk, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned, nullptr);
    CloseHandle(disk);
  }

  alignas(IP_ADAPTER_INFO) unsigned char list[10368];
  ULONG size = sizeof list;
  sink = sink + GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(list), &size);
}

long long FileSize(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fingerprint_bench DLL [N]\n");
    return 2;
  }
  const long calls = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 2000;
  HMODULE dll = LoadLibraryA(argv[1]);
  if (dll == nullptr) {
    std::fprintf(stderr, "load_error=%lu\n", GetLastError());
    return 3;
  }
  auto pc_id = reinterpret_cast<PcIdFunction>(reinterpret_cast<void*>(GetProcAddress(dll, "tav_get_pc_id")));
  if (pc_id == nullptr) {
    FreeLibrary(dll);
    return 4;
  }

  char id[32];
  pc_id(id, sizeof id);  // warm-up: first-use costs of the registry and IP Helper
  BarePlatformCalls();

  // Interleaved rounds, so that a machine whose load drifts during the run
  // burdens both sides alike.
  constexpr long kRound = 50;
  double floor_seconds = 0, library_seconds = 0;
  for (long done = 0; done < calls; done += kRound) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (long i = 0; i < kRound; ++i) BarePlatformCalls();
    QueryPerformanceCounter(&end);
    floor_seconds += Seconds(start, end);
    QueryPerformanceCounter(&start);
    for (long i = 0; i < kRound; ++i) pc_id(id, sizeof id);
    QueryPerformanceCounter(&end);
    library_seconds += Seconds(start, end);
  }
  const long made = (calls + kRound - 1) / kRound * kRound;
  const double floor_us = floor_seconds * 1e6 / static_cast<double>(made);
  const double library_us = library_seconds * 1e6 / static_cast<double>(made);

  std::printf("\ncalls=%ld\n", made);
  std::printf("tav_get_pc_id_us_per_call=%.2f\n", library_us);
  std::printf("bare_platform_calls_us_per_run=%.2f\n", floor_us);
  std::printf("library_overhead_percent=%.1f\n", (library_us - floor_us) * 100.0 / floor_us);
  std::printf("dll_bytes=%lld\n", FileSize(argv[1]));
  FreeLibrary(dll);
  return 0;
}
