// export_bench.exe DLL [N]: for every identifier export, times N calls
// through the DLL against N runs of only the platform calls that export must
// make (its floor), made here with plain Win32 calls, and prints per export
// the time per call, the time per floor run and their ratio; the ratio less
// one is what the library's own work adds. Also prints the DLL's size. A
// measurement, not a test: it checks nothing but that the floor reached the
// same sources the export did.
//
// The floors assume the machine the runner (bench.py) sets up: tavsn.log
// absent beside the DLL, adapters in the registry whose device paths open,
// and a WMI provider that serves a table.

#include <windows.h>
#include <cpuid.h>
#include <iphlpapi.h>
#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>
#include <wbemcli.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The 32-bit build exports the identifier functions as stdcall with
// decorated names; x64 has one convention and plain names.
using IdentifierFunction = int(__stdcall*)(char*, int);
using PcIdFunction = int(__cdecl*)(char*, unsigned int);

#ifdef _WIN64
constexpr const char* kGetMacSN = "GetMacSN";
constexpr const char* kGetPCSN = "GetPCSN";
constexpr const char* kGetPCSNEx = "GetPCSNEx";
#else
constexpr const char* kGetMacSN = "_GetMacSN@8";
constexpr const char* kGetPCSN = "_GetPCSN@8";
constexpr const char* kGetPCSNEx = "_GetPCSNEx@8";
#endif

volatile std::uintptr_t sink;

double Seconds(LARGE_INTEGER start, LARGE_INTEGER end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Registers {
  unsigned eax, ebx, ecx, edx;
};

Registers Cpuid(unsigned leaf) {
  Registers r;
  __cpuid_count(leaf, 0, r.eax, r.ebx, r.ecx, r.edx);
  sink = sink + r.eax + r.ebx + r.ecx + r.edx;
  return r;
}

// What the last floor run found, so the report can show that the floor
// reached what the exports reach.
struct FloorFacts {
  int adapters = 0;
  int queried = 0;
  int addresses = 0;
  bool firmware = false;
  unsigned table_bytes = 0;
} facts;

// --- tav_get_pc_id: CPUID texts, the processor speed, memory, the first
// disk's size and the IP Helper adapter list, nothing formatted or digested.
void FingerprintFloor() {
  Cpuid(0);
  Cpuid(0);
  Cpuid(0x80000000);
  Cpuid(0x80000002);
  Cpuid(0x80000003);
  Cpuid(0x80000004);

  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    DWORD value = 0, size = sizeof value;
    RegQueryValueExW(key, L"~MHz", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    sink = sink + value;
  }

  MEMORYSTATUSEX memory = {};
  memory.dwLength = sizeof memory;
  GlobalMemoryStatusEx(&memory);

  HANDLE disk = CreateFileW(L"\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
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

// --- The log's lookup, which every identifier call repeats while the file
// is absent: the library's own path, then an existence test beside it. The
// log path is made once here: making it is the library's work, not a call.
HMODULE library;
char log_path[MAX_PATH];

void LogLookupFloor() {
  char path[MAX_PATH];
  sink = sink + GetModuleFileNameA(library, path, sizeof path);
  sink = sink + GetFileAttributesA(log_path);
}

// --- The adapter reader: the class key's adapter subkeys with their values
// and Connection key, the administrator test, and for each physical adapter
// the open of its device path and the permanent-address query.
constexpr wchar_t kAdapterClassKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr char kNetworkClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\";
constexpr char kNdisLanClassSuffix[] = "#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\";
constexpr DWORD kIoctlNdisQueryGlobalStats = 0x00170002;
constexpr DWORD kOid8023PermanentAddress = 0x01010101;
constexpr int kMostAdapters = 16;

struct Adapter {
  DWORD if_type;
  DWORD characteristics;
  char driver_desc[64];
  char net_cfg_instance_id[64];
  char pnp_instance_id[200];
};

void Append(char* destination, std::size_t capacity, const char* text) {
  const std::size_t used = std::strlen(destination);
  std::size_t length = std::strlen(text);
  if (used + length >= capacity) length = capacity - used - 1;
  std::memcpy(destination + used, text, length);
  destination[used + length] = '\0';
}

bool ReadAdapter(HKEY class_key, const wchar_t* name, Adapter& adapter) {
  adapter = Adapter{};
  adapter.if_type = 1;
  HKEY key = nullptr;
  if (RegOpenKeyExW(class_key, name, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD size = sizeof adapter.if_type;
  RegQueryValueExW(key, L"*IfType", nullptr, nullptr, reinterpret_cast<BYTE*>(&adapter.if_type), &size);
  size = sizeof adapter.characteristics;
  RegQueryValueExA(key, "Characteristics", nullptr, nullptr, reinterpret_cast<BYTE*>(&adapter.characteristics), &size);
  size = sizeof adapter.driver_desc - 1;
  RegQueryValueExA(key, "DriverDesc", nullptr, nullptr, reinterpret_cast<BYTE*>(adapter.driver_desc), &size);
  size = sizeof adapter.net_cfg_instance_id - 1;
  const bool has_id = RegQueryValueExA(key, "NetCfgInstanceId", nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(adapter.net_cfg_instance_id), &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  if (!has_id) return false;

  char path[260] = {};
  Append(path, sizeof path, kNetworkClassKey);
  Append(path, sizeof path, adapter.net_cfg_instance_id);
  Append(path, sizeof path, "\\Connection");
  HKEY connection = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &connection) != ERROR_SUCCESS) return false;
  size = sizeof adapter.pnp_instance_id - 1;
  const bool has_pnp = RegQueryValueExA(connection, "PnpInstanceID", nullptr, nullptr,
                                        reinterpret_cast<BYTE*>(adapter.pnp_instance_id), &size) == ERROR_SUCCESS;
  RegCloseKey(connection);
  return has_pnp;
}

bool QueryPermanentAddress(const Adapter& adapter) {
  char path[513] = "\\\\?\\";
  Append(path, sizeof path, adapter.pnp_instance_id);
  for (char* c = path + 4; *c != '\0'; ++c) {
    if (*c == '\\') *c = '#';
  }
  Append(path, sizeof path, kNdisLanClassSuffix);
  Append(path, sizeof path, adapter.net_cfg_instance_id);
  HANDLE device = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) return false;
  DWORD oid = kOid8023PermanentAddress;
  unsigned char address[8] = {};
  DWORD returned = 0;
  const bool answered = DeviceIoControl(device, kIoctlNdisQueryGlobalStats, &oid, sizeof oid, address, sizeof address,
                                        &returned, nullptr) != FALSE;
  CloseHandle(device);
  return answered;
}

void AdapterFloor() {
  Adapter adapters[kMostAdapters];
  int count = 0;
  HKEY class_key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAdapterClassKey, 0, KEY_READ, &class_key) != ERROR_SUCCESS) return;
  DWORD subkeys = 0;
  RegQueryInfoKeyW(class_key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  for (DWORD i = 0; i < subkeys && count < kMostAdapters; ++i) {
    wchar_t name[260];
    DWORD length = 260;
    if (RegEnumKeyExW(class_key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
    if (length != 4) continue;  // "0000" and the like; other subkeys are no adapters
    if (ReadAdapter(class_key, name, adapters[count])) ++count;
  }
  RegCloseKey(class_key);
  facts.adapters = count;
  facts.queried = facts.addresses = 0;
  if (count == 0) return;

  sink = sink + IsUserAnAdmin();
  for (int i = 0; i < count; ++i) {
    const DWORD type = adapters[i].if_type;
    if (type == 23 || type == 24 || type == 28) continue;    // PPP, loopback, SLIP
    if ((adapters[i].characteristics & 0x4) == 0) continue;  // NCF_PHYSICAL
    ++facts.queried;
    if (QueryPermanentAddress(adapters[i])) ++facts.addresses;
  }
}

// --- The processor: every basic and extended leaf, and leaf 3 when the
// signature's bit 18 asks for the serial text.
void CpuidFloor() {
  const unsigned last_basic = Cpuid(0).eax;
  unsigned signature = 0;
  for (unsigned leaf = 1; leaf <= last_basic; ++leaf) {
    const Registers r = Cpuid(leaf);
    if (leaf == 1) signature = r.eax;
  }
  const unsigned last_extended = Cpuid(0x80000000).eax;
  for (unsigned leaf = 0x80000001; leaf <= last_extended; ++leaf) Cpuid(leaf);
  if (signature & (1u << 18)) Cpuid(3);
}

// --- The firmware table through WMI: the whole COM sequence of one read.
constexpr CLSID kWbemLocatorClass = {0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
constexpr IID kWbemLocatorInterface = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

// The namespace and class as BSTRs, laid out as the library lays out its
// own (a byte length before the text): a plain wide literal has no length,
// and a marshalling WMI would read whatever lies before it. Constants, as
// in the library, so that the floor allocates no string either.
template <std::size_t N>
struct BstrConstant {
  std::uint32_t byte_length;
  wchar_t text[N];
};

template <std::size_t N>
constexpr BstrConstant<N> MakeBstrConstant(const wchar_t (&text)[N]) {
  BstrConstant<N> constant{};
  constant.byte_length = static_cast<std::uint32_t>((N - 1) * sizeof(wchar_t));
  for (std::size_t i = 0; i < N; ++i) constant.text[i] = text[i];
  return constant;
}

constexpr auto kWmiNamespace = MakeBstrConstant(L"ROOT\\WMI");
constexpr auto kRawSmbiosClass = MakeBstrConstant(L"MSSMBios_RawSMBiosTables");

void GetProperty(IWbemClassObject* object, const wchar_t* name) {
  VARIANT value;
  VariantInit(&value);
  CIMTYPE type = 0;
  if (SUCCEEDED(object->Get(name, 0, &value, &type, nullptr))) {
    if (value.vt == (VT_ARRAY | VT_UI1) && value.parray != nullptr) {
      void* bytes = nullptr;
      if (SUCCEEDED(SafeArrayAccessData(value.parray, &bytes))) {
        facts.table_bytes = value.parray->rgsabound[0].cElements;
        SafeArrayUnaccessData(value.parray);
      }
    }
    sink = sink + value.bVal;
  }
  VariantClear(&value);
}

void FirmwareFloor() {
  facts.firmware = false;
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return;
  IWbemLocator* locator = nullptr;
  if (SUCCEEDED(CoCreateInstance(kWbemLocatorClass, nullptr, CLSCTX_INPROC_SERVER, kWbemLocatorInterface,
                                 reinterpret_cast<void**>(&locator)))) {
    IWbemServices* services = nullptr;
    if (SUCCEEDED(locator->ConnectServer(const_cast<BSTR>(kWmiNamespace.text), nullptr, nullptr, nullptr, 0, nullptr,
                                         nullptr, &services))) {
      IEnumWbemClassObject* enumerator = nullptr;
      if (SUCCEEDED(CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                                      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE)) &&
          SUCCEEDED(services->CreateInstanceEnum(const_cast<BSTR>(kRawSmbiosClass.text), 0, nullptr, &enumerator))) {
        IWbemClassObject* object = nullptr;
        ULONG returned = 0;
        if (SUCCEEDED(enumerator->Next(static_cast<LONG>(WBEM_INFINITE), 1, &object, &returned)) && returned == 1 &&
            object != nullptr) {
          GetProperty(object, L"SmbiosMajorVersion");
          GetProperty(object, L"SmbiosMinorVersion");
          GetProperty(object, L"SMBiosData");
          object->Release();
          facts.firmware = true;
        }
        enumerator->Release();
      }
      services->Release();
    }
    locator->Release();
  }
  CoUninitialize();
}

// --- Each export and its floor.
IdentifierFunction get_mac_sn, get_pc_sn, get_pc_sn_ex;
PcIdFunction pc_id;

int CallGetMacSN(char* buffer) { return get_mac_sn(buffer, 32); }
int CallGetPCSN(char* buffer) { return get_pc_sn(buffer, 32); }
int CallGetPCSNEx(char* buffer) { return get_pc_sn_ex(buffer, 32); }
int CallPcId(char* buffer) { return pc_id(buffer, 32); }

void GetMacSNFloor() {
  LogLookupFloor();
  AdapterFloor();
}

void GetPCSNExFloor() {
  LogLookupFloor();
  AdapterFloor();
  CpuidFloor();
}

void GetPCSNFloor() {
  LogLookupFloor();
  AdapterFloor();
  CpuidFloor();
  FirmwareFloor();
}

struct Measured {
  const char* name;
  int (*call)(char*);
  void (*floor)();
  double export_seconds = 0;
  double floor_seconds = 0;
  static constexpr int kMostRounds = 10000;
  double round_ratios[kMostRounds] = {};
  int result = 0;
  char text[33] = {};
};

// The floor's parts one by one, to show where an export's time goes.
struct Part {
  const char* name;
  void (*run)();
};

double Median(double* values, long count) {
  std::sort(values, values + count);
  if (count == 0) return 0;
  return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

template <typename Body>
double Time(long runs, Body body) {
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  for (long i = 0; i < runs; ++i) body();
  QueryPerformanceCounter(&end);
  return Seconds(start, end);
}

long long FileSize(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

template <typename Function>
Function Find(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: export_bench DLL [N]\n");
    return 2;
  }
  const long calls = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 300;
  library = LoadLibraryA(argv[1]);
  if (library == nullptr) {
    std::fprintf(stderr, "load_error=%lu\n", GetLastError());
    return 3;
  }
  get_mac_sn = Find<IdentifierFunction>(kGetMacSN);
  get_pc_sn = Find<IdentifierFunction>(kGetPCSN);
  get_pc_sn_ex = Find<IdentifierFunction>(kGetPCSNEx);
  pc_id = Find<PcIdFunction>("tav_get_pc_id");
  if (!get_mac_sn || !get_pc_sn || !get_pc_sn_ex || !pc_id) {
    std::fprintf(stderr, "an export is missing\n");
    FreeLibrary(library);
    return 4;
  }
  GetModuleFileNameA(library, log_path, sizeof log_path);
  char* slash = std::strrchr(log_path, '\\');
  if (slash == nullptr) slash = log_path - 1;
  slash[1] = '\0';
  Append(log_path, sizeof log_path, "tavsn.log");

  static Measured measured[] = {
      {"GetMacSN", CallGetMacSN, GetMacSNFloor},
      {"GetPCSN", CallGetPCSN, GetPCSNFloor},
      {"GetPCSNEx", CallGetPCSNEx, GetPCSNExFloor},
      {"tav_get_pc_id", CallPcId, FingerprintFloor},
  };

  // Warm-up: the first use of the registry, the drivers, COM and the WMI
  // provider costs far more than any later one, on both sides alike.
  for (Measured& m : measured) {
    for (int i = 0; i < 2; ++i) {
      char buffer[33] = {};
      m.result = m.call(buffer);
      std::memcpy(m.text, buffer, 32);
      m.floor();
    }
  }

  // Interleaved rounds of one call and one floor run, each side first in
  // every other round, so that the other processes of a shared machine, and
  // whatever one side leaves warm for the other, burden both sides alike.
  // A call lasts milliseconds under Wine: the clock's own cost is lost in it.
  constexpr long kRound = 1;
  long rounds = (calls + kRound - 1) / kRound;
  if (rounds > Measured::kMostRounds) rounds = Measured::kMostRounds;
  for (long round = 0; round < rounds; ++round) {
    for (Measured& m : measured) {
      char buffer[33];
      auto call = [&] { sink = sink + m.call(buffer); };
      double floor_seconds, export_seconds;
      if (round % 2 == 0) {
        floor_seconds = Time(kRound, m.floor);
        export_seconds = Time(kRound, call);
      } else {
        export_seconds = Time(kRound, call);
        floor_seconds = Time(kRound, m.floor);
      }
      m.floor_seconds += floor_seconds;
      m.export_seconds += export_seconds;
      m.round_ratios[round] = export_seconds / floor_seconds;
    }
  }
  const long made = rounds * kRound;

  const Part parts[] = {{"log_lookup", LogLookupFloor},
                        {"adapters", AdapterFloor},
                        {"cpuid", CpuidFloor},
                        {"firmware", FirmwareFloor},
                        {"fingerprint", FingerprintFloor}};
  double part_us[sizeof parts / sizeof parts[0]];
  for (std::size_t i = 0; i < sizeof parts / sizeof parts[0]; ++i) {
    part_us[i] = Time(made, parts[i].run) * 1e6 / static_cast<double>(made);
  }

  std::printf("calls=%ld\n", made);
  std::printf("dll_bytes=%lld\n", FileSize(argv[1]));
  std::printf("floor adapters=%d queried=%d addresses=%d firmware=%s table_bytes=%u\n", facts.adapters, facts.queried,
              facts.addresses, facts.firmware ? "read" : "failed", facts.table_bytes);
  for (std::size_t i = 0; i < sizeof parts / sizeof parts[0]; ++i) {
    std::printf("floor_part=%s us_per_run=%.1f\n", parts[i].name, part_us[i]);
  }
  // ratio is that of the totals; median_round_ratio, the median of the
  // rounds' own ratios, is less moved by a few rounds that met a busy
  // machine on one side only.
  for (Measured& m : measured) {
    const double export_us = m.export_seconds * 1e6 / static_cast<double>(made);
    const double floor_us = m.floor_seconds * 1e6 / static_cast<double>(made);
    const double median = Median(m.round_ratios, rounds);
    std::printf(
        "export=%s result=%d text=%s us_per_call=%.1f floor_us_per_run=%.1f ratio=%.3f "
        "median_round_ratio=%.3f own_work_percent=%.1f\n",
        m.name, m.result, m.text, export_us, floor_us, export_us / floor_us, median,
        (export_us / floor_us - 1.0) * 100.0);
  }
  FreeLibrary(library);
  return 0;
}
