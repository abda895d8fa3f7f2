// fault_host.exe: runs the exports of tavsn.dll with every function it
// imports passed through a counting stub, and makes one chosen call of one
// chosen function fail the way that function fails on Windows. Made for
// tests/wine/test_fault_sweep.py, which writes the plan and judges the runs.
//
//   fault_host.exe --dll PATH --plan PATH [--link PNPID]... [--checkpoint-after ID]
//
// Each plan line is one run: "ID EXPORT stdcall|cdecl|pcid FAULT WMI", where
// FAULT is "-" (nothing fails) or items joined by commas, "NAME:K" (the K-th
// call of NAME fails) or "NAME:all" (every call of NAME fails), and WMI is
// "-" or a TAVSN_WMI_FAIL value for the stand-in provider (wmi_standin.py). A run
// loads the DLL, points its import address table at the stubs, calls the
// export on a worker thread with a 32-byte buffer that ends where a
// no-access page begins, and unloads the DLL; calls made while it unloads
// are counted (and failed) too. --link makes the NT link an adapter's
// interface path needs (nt_device_links.h) for the whole process.
//
// Lines on standard error, each starting "host: ":
//   host: unlisted import=NAME                 an import the table lacks
//   host: run=ID result=R buffer=HEX front=intact|changed injected=0|1 loaded=0|1
//             next_handle=N   (the value a handle made after the run gets)
//   host: counts run=ID NAME=K ...              calls of each function, when not 0,
//                                               of a run without a "NAME:K" fault
//   host: lookups run=ID names=A,B,...          the names GetProcAddress was asked
//                                               for in that run, in order
//   host: link status=HEX                       the NTSTATUS of each --link
//   host: figures at=ID handles=N private_kib=N  after run ID, and after the last
//   host: appeared type=NAME count=N            handles open at the last, not the first
//   host: crash run=ID code=HEX | host: hang run=ID   and the process ends
//
// Functions are failed as the table says: "fails" returns the failure value
// without calling the function; "releases" makes the call, so that what it
// releases is released, and then reports the failure; "cannot" is never
// failed (no failure result, or the call does not return). The failure code
// goes to GetLastError, or to errno for the C runtime. Exit code 0 when
// the plan was run; 2 bad arguments or plan, 3 the DLL did not load.

#include <windows.h>
#include <cfgmgr32.h>
#include <iphlpapi.h>
#include <mmsystem.h>
#include <objbase.h>
#include <oleauto.h>
#include <setupapi.h>
#include <shlobj.h>

#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "include/tavsn.h"
#include "tests/wine/host_report.h"
#include "tests/wine/nt_device_links.h"
#include "tests/wine/process_figures.h"

// C runtime entry points that no public header declares.
extern "C" {
void __cdecl _lock(int);
void __cdecl _unlock(int);
void __cdecl _amsg_exit(int);
void __cdecl _initterm(void(__cdecl**)(void), void(__cdecl**)(void));
}

namespace {

enum Kind { kFails, kReleases, kCannot };

struct Row {
  const char* dll;
  const char* name;
  Kind kind;
  std::intptr_t value;  // the failure result
  unsigned long code;   // GetLastError, or errno for msvcrt
  void* stub;
  void* real;
  long calls;
  bool fail_all;
};

// One row per function tavsn.dll imports (data imports are listed below),
// and per function it looks up with GetProcAddress in the system DLLs it
// loads at run time (IP Helper, SetupAPI, winmm): the stub of GetProcAddress
// hands out the row's stub in place of the function, so those calls are
// counted and failed alike.
#define IMPORTS(X)                                                                        \
  X(advapi32, AddAccessAllowedAce, kFails, FALSE, ERROR_INVALID_PARAMETER)                \
  X(advapi32, EqualSid, kCannot, 0, 0)                                                    \
  X(advapi32, GetKernelObjectSecurity, kFails, FALSE, ERROR_ACCESS_DENIED)                \
  X(advapi32, GetSecurityDescriptorOwner, kFails, FALSE, ERROR_INVALID_SECURITY_DESCR)    \
  X(advapi32, InitializeAcl, kFails, FALSE, ERROR_INSUFFICIENT_BUFFER)                    \
  X(advapi32, InitializeSecurityDescriptor, kFails, FALSE, ERROR_INVALID_PARAMETER)       \
  X(advapi32, SetSecurityDescriptorDacl, kFails, FALSE, ERROR_INVALID_SECURITY_DESCR)     \
  X(advapi32, SetSecurityDescriptorOwner, kFails, FALSE, ERROR_INVALID_SECURITY_DESCR)    \
  X(advapi32, RegCloseKey, kReleases, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE)         \
  X(advapi32, RegEnumKeyExW, kFails, ERROR_KEY_DELETED, ERROR_KEY_DELETED)                \
  X(advapi32, RegOpenKeyExA, kFails, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND)          \
  X(advapi32, RegOpenKeyExW, kFails, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND)          \
  X(advapi32, RegQueryInfoKeyW, kFails, ERROR_KEY_DELETED, ERROR_KEY_DELETED)             \
  X(advapi32, RegQueryValueExA, kFails, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND)       \
  X(advapi32, RegQueryValueExW, kFails, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND)       \
  X(iphlpapi, GetAdaptersInfo, kFails, ERROR_NOT_SUPPORTED, ERROR_NOT_SUPPORTED)          \
  X(kernel32, CloseHandle, kReleases, FALSE, ERROR_INVALID_HANDLE)                        \
  X(kernel32, CreateFileA, kFails, -1, ERROR_ACCESS_DENIED)                               \
  X(kernel32, CreateFileW, kFails, -1, ERROR_ACCESS_DENIED)                               \
  X(kernel32, CreateMutexW, kFails, 0, ERROR_ACCESS_DENIED)                               \
  X(kernel32, DeleteCriticalSection, kCannot, 0, 0)                                       \
  X(kernel32, DeviceIoControl, kFails, FALSE, ERROR_GEN_FAILURE)                          \
  X(kernel32, DisableThreadLibraryCalls, kFails, FALSE, ERROR_INVALID_PARAMETER)          \
  X(kernel32, EnterCriticalSection, kCannot, 0, 0)                                        \
  X(kernel32, FreeLibrary, kReleases, FALSE, ERROR_INVALID_HANDLE)                        \
  X(kernel32, GetFileAttributesA, kFails, INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED)   \
  X(kernel32, GetCurrentProcess, kCannot, 0, 0)                                           \
  X(kernel32, GetCurrentProcessId, kCannot, 0, 0)                                         \
  X(kernel32, GetCurrentThreadId, kCannot, 0, 0)                                          \
  X(kernel32, GetFileInformationByHandle, kFails, FALSE, ERROR_INVALID_HANDLE)            \
  X(kernel32, GetFileType, kFails, FILE_TYPE_UNKNOWN, ERROR_INVALID_HANDLE)               \
  X(kernel32, GetLastError, kCannot, 0, 0)                                                \
  X(kernel32, GetModuleFileNameA, kFails, 0, ERROR_MOD_NOT_FOUND)                         \
  X(kernel32, GetModuleFileNameW, kFails, 0, ERROR_MOD_NOT_FOUND)                         \
  X(kernel32, GetModuleHandleA, kFails, 0, ERROR_MOD_NOT_FOUND)                           \
  X(kernel32, GetModuleHandleW, kFails, 0, ERROR_MOD_NOT_FOUND)                           \
  X(kernel32, GetProcAddress, kFails, 0, ERROR_PROC_NOT_FOUND)                            \
  X(kernel32, GetProcessHeap, kCannot, 0, 0)                                              \
  X(kernel32, GetSystemDirectoryW, kFails, 0, ERROR_NOT_ENOUGH_MEMORY)                    \
  X(kernel32, GetSystemTime, kCannot, 0, 0)                                               \
  X(kernel32, GetSystemTimeAsFileTime, kCannot, 0, 0)                                     \
  X(kernel32, GetTickCount, kCannot, 0, 0)                                                \
  X(kernel32, GetVersionExW, kFails, FALSE, ERROR_INVALID_PARAMETER)                      \
  X(kernel32, GlobalAlloc, kFails, 0, ERROR_NOT_ENOUGH_MEMORY)                            \
  X(kernel32, GlobalFree, kCannot, 0, 0)                                                  \
  X(kernel32, GlobalMemoryStatusEx, kFails, FALSE, ERROR_INVALID_PARAMETER)               \
  X(kernel32, HeapAlloc, kFails, 0, ERROR_NOT_ENOUGH_MEMORY)                              \
  X(kernel32, HeapFree, kReleases, FALSE, ERROR_INVALID_PARAMETER)                        \
  X(kernel32, HeapReAlloc, kFails, 0, ERROR_NOT_ENOUGH_MEMORY)                            \
  X(kernel32, InitializeCriticalSection, kCannot, 0, 0)                                   \
  X(kernel32, IsDBCSLeadByteEx, kCannot, 0, 0)                                            \
  X(kernel32, LeaveCriticalSection, kCannot, 0, 0)                                        \
  X(kernel32, LoadLibraryA, kFails, 0, ERROR_MOD_NOT_FOUND)                               \
  X(kernel32, LoadLibraryExW, kFails, 0, ERROR_MOD_NOT_FOUND)                             \
  X(kernel32, LoadLibraryW, kFails, 0, ERROR_MOD_NOT_FOUND)                               \
  X(kernel32, MultiByteToWideChar, kFails, 0, ERROR_INSUFFICIENT_BUFFER)                  \
  X(kernel32, QueryPerformanceCounter, kCannot, 0, 0)                                     \
  X(kernel32, ReleaseMutex, kReleases, FALSE, ERROR_NOT_OWNER)                            \
  X(kernel32, SetLastError, kCannot, 0, 0)                                                \
  X(kernel32, Sleep, kCannot, 0, 0)                                                       \
  X(kernel32, TerminateProcess, kCannot, 0, 0)                                            \
  X(kernel32, TlsGetValue, kCannot, 0, 0)                                                 \
  X(kernel32, VirtualProtect, kFails, FALSE, ERROR_INVALID_ADDRESS)                       \
  X(kernel32, VirtualQuery, kFails, 0, ERROR_INVALID_PARAMETER)                           \
  X(kernel32, WaitForSingleObject, kFails, WAIT_FAILED, ERROR_INVALID_HANDLE)             \
  X(kernel32, WideCharToMultiByte, kFails, 0, ERROR_INSUFFICIENT_BUFFER)                  \
  X(kernel32, WriteFile, kFails, FALSE, ERROR_DISK_FULL)                                  \
  X(msvcrt, _amsg_exit, kCannot, 0, 0)                                                    \
  X(msvcrt, _errno, kCannot, 0, 0)                                                        \
  X(msvcrt, _initterm, kCannot, 0, 0)                                                     \
  X(msvcrt, _lock, kCannot, 0, 0)                                                         \
  X(msvcrt, _unlock, kCannot, 0, 0)                                                       \
  X(msvcrt, abort, kCannot, 0, 0)                                                         \
  X(msvcrt, atoi, kCannot, 0, 0)                                                          \
  X(msvcrt, calloc, kFails, 0, ENOMEM)                                                    \
  X(msvcrt, fflush, kFails, EOF, EIO)                                                     \
  X(msvcrt, fputc, kFails, EOF, EIO)                                                      \
  X(msvcrt, fputs, kFails, EOF, EIO)                                                      \
  X(msvcrt, free, kCannot, 0, 0)                                                          \
  X(msvcrt, fwrite, kFails, 0, EIO)                                                       \
  X(msvcrt, localeconv, kCannot, 0, 0)                                                    \
  X(msvcrt, malloc, kFails, 0, ENOMEM)                                                    \
  X(msvcrt, memchr, kCannot, 0, 0)                                                        \
  X(msvcrt, memcmp, kCannot, 0, 0)                                                        \
  X(msvcrt, memcpy, kCannot, 0, 0)                                                        \
  X(msvcrt, memmove, kCannot, 0, 0)                                                       \
  X(msvcrt, memset, kCannot, 0, 0)                                                        \
  X(msvcrt, realloc, kFails, 0, ENOMEM)                                                   \
  X(msvcrt, setlocale, kFails, 0, EINVAL)                                                 \
  X(msvcrt, strchr, kCannot, 0, 0)                                                        \
  X(msvcrt, strerror, kCannot, 0, 0)                                                      \
  X(msvcrt, strlen, kCannot, 0, 0)                                                        \
  X(msvcrt, strncmp, kCannot, 0, 0)                                                       \
  X(msvcrt, strrchr, kCannot, 0, 0)                                                       \
  X(msvcrt, strstr, kCannot, 0, 0)                                                        \
  X(msvcrt, vfprintf, kFails, -1, EIO)                                                    \
  X(msvcrt, wcslen, kCannot, 0, 0)                                                        \
  X(ole32, CoCreateInstance, kFails, REGDB_E_CLASSNOTREG, 0)                              \
  X(ole32, CoInitializeEx, kFails, E_OUTOFMEMORY, 0)                                      \
  X(ole32, CoSetProxyBlanket, kFails, E_ACCESSDENIED, 0)                                  \
  X(ole32, CoUninitialize, kCannot, 0, 0)                                                 \
  X(oleaut32, SafeArrayAccessData, kFails, E_UNEXPECTED, 0)                               \
  X(oleaut32, SafeArrayGetDim, kFails, 0, 0)                                              \
  X(oleaut32, SafeArrayUnaccessData, kReleases, E_UNEXPECTED, 0)                          \
  X(oleaut32, VariantClear, kReleases, DISP_E_BADVARTYPE, 0)                              \
  X(oleaut32, VariantInit, kCannot, 0, 0)                                                 \
  X(setupapi, CM_Get_DevNode_Status, kFails, CR_NO_SUCH_DEVNODE, 0)                       \
  X(setupapi, SetupDiCallClassInstaller, kFails, FALSE, ERROR_ACCESS_DENIED)              \
  X(setupapi, SetupDiChangeState, kFails, FALSE, ERROR_ACCESS_DENIED)                     \
  X(setupapi, SetupDiDestroyDeviceInfoList, kReleases, FALSE, ERROR_INVALID_HANDLE)       \
  X(setupapi, SetupDiEnumDeviceInfo, kFails, FALSE, ERROR_NO_MORE_ITEMS)                  \
  X(setupapi, SetupDiEnumDeviceInterfaces, kFails, FALSE, ERROR_NO_MORE_ITEMS)            \
  X(setupapi, SetupDiGetClassDevsW, kFails, -1, ERROR_NOT_ENOUGH_MEMORY)                  \
  X(setupapi, SetupDiGetDeviceInterfaceDetailA, kFails, FALSE, ERROR_INVALID_USER_BUFFER) \
  X(setupapi, SetupDiSetClassInstallParamsW, kFails, FALSE, ERROR_INVALID_PARAMETER)      \
  X(shell32, IsUserAnAdmin, kFails, FALSE, 0)                                             \
  X(winmm, timeGetTime, kCannot, 0, 0)

// The same for functions whose declaration differs between the 32-bit and
// the 64-bit headers (or is a macro), with their type.
#define TYPED_IMPORTS(T)                                                  \
  T(msvcrt, ___lc_codepage_func, kCannot, 0, 0, unsigned(__cdecl*)(void)) \
  T(msvcrt, ___mb_cur_max_func, kCannot, 0, 0, int(__cdecl*)(void))       \
  T(msvcrt, __iob_func, kCannot, 0, 0, FILE*(__cdecl*)(void))

// Imports that are data, not calls.
const char* const kDataImports[] = {"__mb_cur_max", "_iob"};

#define INDEX(dll, name, ...) k_##name,
enum : int { IMPORTS(INDEX) TYPED_IMPORTS(INDEX) kRows };

extern Row g_rows[kRows];
int g_fail_row = -1;
long g_fail_call = 0;
bool g_injected = false;

template <typename R>
R FailureValue(std::intptr_t value) {
  if constexpr (std::is_pointer_v<R>) {
    return reinterpret_cast<R>(value);
  } else {
    return static_cast<R>(value);
  }
}

template <typename R, typename Call>
R Forward(int index, Call call) {
  Row& row = g_rows[index];
  ++row.calls;
  const bool fail = row.kind != kCannot && (row.fail_all || (index == g_fail_row && row.calls == g_fail_call));
  if constexpr (std::is_void_v<R>) {
    call();
  } else {
    if (fail) {
      g_injected = true;
      if (row.kind == kReleases) call();
      if (std::strcmp(row.dll, "msvcrt") == 0) {
        errno = static_cast<int>(row.code);
      } else {
        SetLastError(row.code);
      }
      return FailureValue<R>(row.value);
    }
    return call();
  }
}

template <int I, typename F>
struct Stub;
template <int I, typename R, typename... A>
struct Stub<I, R(WINAPI*)(A...)> {
  static R WINAPI Call(A... a) {
    return Forward<R>(I, [&] { return reinterpret_cast<R(WINAPI*)(A...)>(g_rows[I].real)(a...); });
  }
};
#ifndef _WIN64
template <int I, typename R, typename... A>
struct Stub<I, R(__cdecl*)(A...)> {
  static R __cdecl Call(A... a) {
    return Forward<R>(I, [&] { return reinterpret_cast<R(__cdecl*)(A...)>(g_rows[I].real)(a...); });
  }
};
#endif

#define TYPED_ROW(dll, name, kind, value, code, type)    \
  {#dll,                                                 \
   #name,                                                \
   kind,                                                 \
   static_cast<std::intptr_t>(value),                    \
   static_cast<unsigned long>(code),                     \
   reinterpret_cast<void*>(&Stub<k_##name, type>::Call), \
   nullptr,                                              \
   0,                                                    \
   false},
#define ROW(dll, name, kind, value, code) TYPED_ROW(dll, name, kind, value, code, decltype(&::name))
Row g_rows[kRows] = {IMPORTS(ROW) TYPED_IMPORTS(TYPED_ROW)};

int RowOf(const char* name) {
  for (int i = 0; i < kRows; ++i) {
    if (std::strcmp(g_rows[i].name, name) == 0) return i;
  }
  return -1;
}

// GetProcAddress as the DLL sees it: counted and failed like any import, and
// a function of the table comes back as its stub, which then calls what the
// real look-up found.
std::string g_lookups;  // the names asked for, in order, comma-separated

FARPROC WINAPI GetProcAddressStub(HMODULE module, LPCSTR name) {
  if (!IS_INTRESOURCE(name)) g_lookups += std::string(g_lookups.empty() ? "" : ",") + name;
  const FARPROC found = Stub<k_GetProcAddress, decltype(&::GetProcAddress)>::Call(module, name);
  if (found == nullptr || IS_INTRESOURCE(name)) return found;
  const int row = RowOf(name);
  if (row < 0) return found;
  g_rows[row].real = reinterpret_cast<void*>(found);
  return reinterpret_cast<FARPROC>(g_rows[row].stub);
}

// The system DLLs that tavsn.dll loads at run time, from the system folder.
const char* const kRunTimeLoaded[] = {"iphlpapi.dll", "setupapi.dll", "winmm.dll"};

// Points every imported function's slot at its stub. The DLLs it imports,
// and those it loads at run time, are loaded once more and so stay loaded
// for the whole process, as in any real host: otherwise each run loads and
// unloads them too, and what Wine's own DLLs keep of every load (a dozen
// registry keys for shell32, as many for the run-time ones) would be
// counted as tavsn.dll's.
void Hook(HMODULE module) {
  static std::vector<std::string> reported;
  static bool pinned = false;
  if (!pinned) {
    for (const char* name : kRunTimeLoaded) LoadLibraryA(name);
  }
  auto* base = reinterpret_cast<unsigned char*>(module);
  const auto* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       directory.VirtualAddress != 0 && import->Name != 0; ++import) {
    if (!pinned) LoadLibraryA(reinterpret_cast<const char*>(base + import->Name));
    auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      const char* name = IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)
                             ? "(ordinal)"
                             : reinterpret_cast<const char*>(
                                   reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
      bool data = false;
      for (const char* data_name : kDataImports) data = data || std::strcmp(name, data_name) == 0;
      const int row = RowOf(name);
      if (data) continue;
      if (row < 0) {
        bool known = false;
        for (const std::string& seen : reported) known = known || seen == name;
        if (!known) {
          reported.emplace_back(name);
          Report("unlisted import=%s", name);
        }
        continue;
      }
      DWORD protection = 0;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
      g_rows[row].real = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(
          row == k_GetProcAddress ? reinterpret_cast<void*>(&GetProcAddressStub) : g_rows[row].stub);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
    }
  }
  pinned = true;
}

struct Run {
  std::string id, export_name, convention, fault, wmi;
};

std::string g_dll;
const Run* g_run = nullptr;
unsigned char* g_page = nullptr;  // one read-write page, then a no-access one
constexpr std::size_t kPage = 4096;
constexpr std::size_t kIdentifierBytes = 32;
constexpr unsigned char kCanary = 0xA5;
HANDLE g_start = nullptr;
HANDLE g_done = nullptr;

// Sets up the run's faults, "-" or items "NAME:K" and "NAME:all" joined by
// commas; false when the plan names no such function.
bool PrepareFaults(const std::string& fault) {
  for (Row& row : g_rows) {
    row.calls = 0;
    row.fail_all = false;
  }
  g_fail_row = -1;
  g_injected = false;
  g_lookups.clear();
  if (fault == "-") return true;
  const std::string items = fault + ",";
  for (std::size_t at = 0, comma; (comma = items.find(',', at)) != std::string::npos; at = comma + 1) {
    const std::string item = items.substr(at, comma - at);
    const std::size_t colon = item.find(':');
    const int row = colon == std::string::npos ? -1 : RowOf(item.substr(0, colon).c_str());
    if (row < 0) return false;
    if (item.compare(colon + 1, std::string::npos, "all") == 0) {
      g_rows[row].fail_all = true;
    } else {
      g_fail_row = row;
      g_fail_call = std::atol(item.c_str() + colon + 1);
      if (g_fail_call <= 0) return false;
    }
  }
  return true;
}

void RunOnce(const Run& run) {
  SetEnvironmentVariableA("TAVSN_WMI_FAIL", run.wmi == "-" ? nullptr : run.wmi.c_str());
  const HMODULE dll = LoadLibraryA(g_dll.c_str());
  if (dll == nullptr) {
    Report("load_error=%lu", GetLastError());
    std::exit(3);
  }
  Hook(dll);
  void* function = reinterpret_cast<void*>(GetProcAddress(dll, run.export_name.c_str()));
  std::memset(g_page, kCanary, kPage);
  char* buffer = reinterpret_cast<char*>(g_page + kPage - kIdentifierBytes);
  int result = -1000;
  if (function == nullptr) {
    Report("missing_export=%s", run.export_name.c_str());
  } else if (run.convention == "stdcall") {
    result = reinterpret_cast<TavsnIdentifierFn>(function)(buffer, kIdentifierBytes);
  } else if (run.convention == "cdecl") {
    result = reinterpret_cast<TavsnAliasFn>(function)(buffer, kIdentifierBytes);
  } else {
    result = reinterpret_cast<TavsnPcIdFn>(function)(buffer, kIdentifierBytes);
  }
  bool front_intact = true;
  for (std::size_t i = 0; i < kPage - kIdentifierBytes; ++i) front_intact = front_intact && g_page[i] == kCanary;
  FreeLibrary(dll);
  const bool loaded = GetModuleHandleA(g_dll.c_str()) != nullptr;
  // Wine hands out the lowest free handle value: a run that leaves a
  // handle open moves the next one up.
  const HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  CloseHandle(probe);
  Report("run=%s result=%d buffer=%s front=%s injected=%d loaded=%d next_handle=%lu", run.id.c_str(), result,
         Hex(reinterpret_cast<unsigned char*>(buffer), kIdentifierBytes).c_str(), front_intact ? "intact" : "changed",
         g_injected ? 1 : 0, loaded ? 1 : 0, static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(probe)));
  if (g_fail_row < 0) {
    std::string counts;
    for (const Row& row : g_rows) {
      if (row.calls != 0) counts += std::string(" ") + row.name + "=" + std::to_string(row.calls);
    }
    Report("counts run=%s%s", run.id.c_str(), counts.c_str());
    Report("lookups run=%s names=%s", run.id.c_str(), g_lookups.empty() ? "-" : g_lookups.c_str());
  }
}

DWORD WINAPI Worker(void*) {
  for (;;) {
    WaitForSingleObject(g_start, INFINITE);
    RunOnce(*g_run);
    SetEvent(g_done);
  }
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* exception) {
  Report("crash run=%s code=%08lX", g_run ? g_run->id.c_str() : "-",
         static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode));
  TerminateProcess(GetCurrentProcess(), 9);
  return EXCEPTION_EXECUTE_HANDLER;
}

Checkpoint g_figures[2];

// The first call measures, the second also names the handles that appeared.
void ReportFigures(const std::string& at, int which) {
  Measure(0, g_figures[which]);
  Report("figures at=%s handles=%u private_kib=%llu", at.c_str(), g_figures[which].handles,
         g_figures[which].private_kib);
  if (which == 1) PrintAppearedHandleTypes(g_figures[0], g_figures[1], stderr, "host: ");
}

}  // namespace

int main(int argc, char** argv) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  std::string plan_path, checkpoint_after;
  std::vector<std::string> links;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--dll") {
      g_dll = argv[i + 1];
    } else if (name == "--plan") {
      plan_path = argv[i + 1];
    } else if (name == "--link") {
      links.emplace_back(argv[i + 1]);
    } else if (name == "--checkpoint-after") {
      checkpoint_after = argv[i + 1];
    } else {
      Report("usage_error=bad option %s", name.c_str());
      return 2;
    }
  }
  std::vector<Run> plan;
  if (FILE* file = std::fopen(plan_path.c_str(), "r")) {
    char id[128], name[64], convention[16], fault[256], wmi[256];
    while (std::fscanf(file, "%127s %63s %15s %255s %255s", id, name, convention, fault, wmi) == 5) {
      plan.push_back(Run{id, name, convention, fault, wmi});
    }
    std::fclose(file);
  }
  if (g_dll.empty() || plan.empty()) {
    Report("usage_error=--dll and a plan are required");
    return 2;
  }
  tavsn::winetest::NdisInterfaceLinks made;
  for (const std::string& pnp : links) Report("link status=%08X", static_cast<unsigned>(made.Add(pnp.c_str())));
  g_page = static_cast<unsigned char*>(VirtualAlloc(nullptr, 2 * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD protection = 0;
  VirtualProtect(g_page + kPage, kPage, PAGE_NOACCESS, &protection);
  SetUnhandledExceptionFilter(OnCrash);
  g_start = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  g_done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  // The exports run on a thread of their own, so that a run that never
  // ends is seen; one thread for every run keeps the figures steady.
  CreateThread(nullptr, 0, Worker, nullptr, 0, nullptr);
  for (const Run& run : plan) {
    if (!PrepareFaults(run.fault)) {
      Report("usage_error=bad fault %s", run.fault.c_str());
      return 2;
    }
    g_run = &run;
    SetEvent(g_start);
    if (WaitForSingleObject(g_done, 60000) != WAIT_OBJECT_0) {
      Report("hang run=%s", run.id.c_str());
      TerminateProcess(GetCurrentProcess(), 8);
    }
    if (run.id == checkpoint_after) ReportFigures(run.id, 0);
  }
  if (!checkpoint_after.empty()) ReportFigures(plan.back().id, 1);
  return 0;
}
