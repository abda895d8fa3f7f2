// endurance_host.exe: what a host that loads the DLL for each licence check
// does to it, with the process's handle count and committed private memory
// taken at two checkpoints, so that anything a load, a call or an unload
// leaves behind shows as a difference between them.
//
//   endurance_host.exe DLL cycles N   N times: LoadLibraryA(DLL), call every
//                                     export found once, FreeLibrary, and
//                                     check that the module is really gone;
//                                     checkpoints after cycle 10 (or N when
//                                     smaller) and after cycle N
//   endurance_host.exe DLL calls N    one load, N rounds of one call of each
//                                     export, one unload; checkpoints after
//                                     round 1 and after round N
//
// Every export of the library that exists is called with a 64-byte buffer
// and size 64; missing ones are listed, so new exports are called as they
// arrive. Lines go to standard output, each starting with "endurance:",
// and only after the work, so that the C runtime's output buffers are not
// counted between the checkpoints:
//
//   endurance: mode=cycles n=100 seconds=4.20
//   endurance: export name=_GetMacSN@8 conv=stdcall calls=100 first_result=32 differing=0
//   endurance: missing name=_GetPCSN@8
//   endurance: checkpoint at=10 handles=93 private_kib=5120
//   endurance: checkpoint at=100 handles=183 private_kib=6652
//   endurance: appeared type=Semaphore count=90
//   endurance: unload still_loaded=0 first_still_loaded=0
//
// "differing" counts calls whose result or first 32 buffer bytes differ from
// the first call's. "appeared" names the types of the handles open at the
// second checkpoint that were not at the first. Exit code 0 when the work
// was done, 2 bad arguments, 3 the DLL did not load (load_error=CODE).
//
// Wine answers GetProcessHandleCount with 0 and reports no PrivateUsage, so
// both figures are counted here directly.

#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "include/tavsn.h"
#include "tests/wine/process_figures.h"

namespace {

enum class Convention { kStdcall, kCdecl, kCdeclUnsigned };

struct Export {
  const char* name;
  Convention convention;
  FARPROC function;
  long calls;
  int first_result;
  char first_buffer[32];
  long differing;
};

// 32-bit stdcall exports carry decorated names; x64 has only plain ones.
#ifdef _WIN64
#define STDCALL_EXPORT(name) #name
#else
#define STDCALL_EXPORT(name) "_" #name "@8"
#endif

Export exports[] = {
    {STDCALL_EXPORT(GetMacSN), Convention::kStdcall, nullptr, 0, 0, {}, 0},
    {STDCALL_EXPORT(GetPCSN), Convention::kStdcall, nullptr, 0, 0, {}, 0},
    {STDCALL_EXPORT(GetPCSNEx), Convention::kStdcall, nullptr, 0, 0, {}, 0},
    {"tav_get_pc_id_ex", Convention::kCdecl, nullptr, 0, 0, {}, 0},
    {"tav_get_pc_id_info", Convention::kCdecl, nullptr, 0, 0, {}, 0},
    {"tav_get_pc_id", Convention::kCdeclUnsigned, nullptr, 0, 0, {}, 0},
};

const char* ConventionName(Convention convention) { return convention == Convention::kStdcall ? "stdcall" : "cdecl"; }

void ResolveExports(HMODULE dll) {
  for (Export& e : exports) e.function = GetProcAddress(dll, e.name);
}

void CallEachExport() {
  for (Export& e : exports) {
    if (e.function == nullptr) continue;
    char buffer[64];
    std::memset(buffer, 0xCC, sizeof buffer);
    void* function = reinterpret_cast<void*>(e.function);
    int result = 0;
    switch (e.convention) {
      case Convention::kStdcall: result = reinterpret_cast<TavsnIdentifierFn>(function)(buffer, sizeof buffer); break;
      case Convention::kCdecl: result = reinterpret_cast<TavsnAliasFn>(function)(buffer, sizeof buffer); break;
      case Convention::kCdeclUnsigned: result = reinterpret_cast<TavsnPcIdFn>(function)(buffer, sizeof buffer); break;
    }
    if (e.calls == 0) {
      e.first_result = result;
      std::memcpy(e.first_buffer, buffer, sizeof e.first_buffer);
    } else if (result != e.first_result || std::memcmp(buffer, e.first_buffer, sizeof e.first_buffer) != 0) {
      ++e.differing;
    }
    ++e.calls;
  }
}

Checkpoint first_checkpoint;
Checkpoint last_checkpoint;

void PrintCheckpoint(const Checkpoint& checkpoint) {
  std::printf("endurance: checkpoint at=%ld handles=%u private_kib=%llu\n", checkpoint.at, checkpoint.handles,
              checkpoint.private_kib);
}

HMODULE Load(const char* path) {
  HMODULE dll = LoadLibraryA(path);
  if (dll == nullptr) {
    std::printf("endurance: load_error=%lu\n", GetLastError());
    std::exit(3);
  }
  ResolveExports(dll);
  return dll;
}

// The system DLLs the library imports stay loaded for the whole run, as they
// do in any real host: otherwise every cycle loads and unloads them too, and
// what Wine's own shell32 keeps of each load (a dozen registry keys under
// wine64, the control DLL shows the same) would be counted against the
// library.
void PinSystemDlls() {
  static const char* const kImported[] = {"advapi32.dll", "iphlpapi.dll", "ole32.dll", "oleaut32.dll",
                                          "setupapi.dll", "shell32.dll",  "winmm.dll"};
  for (const char* name : kImported) LoadLibraryA(name);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[2], "cycles") != 0 && std::strcmp(argv[2], "calls") != 0)) {
    std::fprintf(stderr, "usage: endurance_host DLL cycles|calls N\n");
    return 2;
  }
  const char* path = argv[1];
  const bool cycles = std::strcmp(argv[2], "cycles") == 0;
  const long n = std::strtol(argv[3], nullptr, 10);
  if (n < 1) return 2;

  PinSystemDlls();
  LARGE_INTEGER start, end, frequency;
  QueryPerformanceCounter(&start);
  long still_loaded = 0, first_still_loaded = 0;
  if (cycles) {
    const long first_at = n < 10 ? n : 10;
    for (long cycle = 1; cycle <= n; ++cycle) {
      HMODULE dll = Load(path);
      CallEachExport();
      FreeLibrary(dll);
      if (GetModuleHandleA(path) != nullptr) {
        ++still_loaded;
        if (first_still_loaded == 0) first_still_loaded = cycle;
      }
      if (cycle == first_at) Measure(cycle, first_checkpoint);
    }
    Measure(n, last_checkpoint);
  } else {
    HMODULE dll = Load(path);
    for (long round = 1; round <= n; ++round) {
      CallEachExport();
      if (round == 1) Measure(round, first_checkpoint);
    }
    Measure(n, last_checkpoint);
    FreeLibrary(dll);
    if (GetModuleHandleA(path) != nullptr) still_loaded = first_still_loaded = 1;
  }
  QueryPerformanceCounter(&end);
  QueryPerformanceFrequency(&frequency);

  std::printf("endurance: mode=%s n=%ld seconds=%.2f\n", argv[2], n,
              static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
  for (const Export& e : exports) {
    if (e.calls == 0) {
      std::printf("endurance: missing name=%s\n", e.name);
    } else {
      std::printf("endurance: export name=%s conv=%s calls=%ld first_result=%d differing=%ld\n", e.name,
                  ConventionName(e.convention), e.calls, e.first_result, e.differing);
    }
  }
  PrintCheckpoint(first_checkpoint);
  PrintCheckpoint(last_checkpoint);
  PrintAppearedHandleTypes(first_checkpoint, last_checkpoint, stdout, "endurance: ");
  std::printf("endurance: unload still_loaded=%ld first_still_loaded=%ld\n", still_loaded, first_still_loaded);
  return 0;
}
