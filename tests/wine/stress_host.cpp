// stress_host.exe: loads tavsn.dll once, takes one single-threaded result of
// each of the six exports, then lets several threads call all six at once
// and reports, per export, how many concurrent results and identifiers were
// equal to the single-threaded ones. Made for tests/wine/test_stress.py.
//
//   stress_host.exe --dll PATH [--threads N] [--calls N] [--log-after-reference]
//
// --threads (default 8) threads each make --calls (default 100) calls,
// thread t's call i going to export (t + i) mod 6, so every thread runs all
// six in turn and every export is in use by several threads at any moment.
// All threads wait on one event and start together. --log-after-reference
// creates an empty "tavsn.log" beside the DLL after the single-threaded
// calls, so that the concurrent calls are the ones that find and open it.
//
// Every call gets a 64-byte buffer filled with 0xCC and size 64; the whole
// buffer after the call is the written identifier (with what the export
// must leave untouched). Lines, on standard error, each starting "host: ":
//
//   host: reference export=NAME result=R buffer=HEX log_end=BYTES
//   host: mismatch thread=T call=I export=NAME result=R buffer=HEX   (at most 40)
//   host: summary export=NAME calls=N equal=M
//   host: done threads=T calls=C
//
// log_end is the size of "tavsn.log" after the reference call (-1 without
// it), so the test can tell each export's own lines apart. Exit code 0 when
// every call was made, whatever it returned; 2 bad arguments, 3 the DLL did
// not load, 4 an export is missing, 5 a thread could not be started.

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tavsn.h"
#include "tests/wine/host_report.h"

namespace {

constexpr int kExports = 6;
constexpr std::size_t kBufferBytes = 64;
constexpr unsigned char kCanary = 0xCC;
constexpr int kMismatchLinesMax = 40;

enum class Kind { kIdentifier, kAlias, kPcId };

struct Export {
  const char* name;    // as the tests name it
  const char* symbol;  // as GetProcAddress finds it in this build
  Kind kind;
  void* function = nullptr;
};

#ifdef _WIN64
#define TAVSN_STDCALL_NAME(name) #name
#else
#define TAVSN_STDCALL_NAME(name) "_" #name "@8"
#endif

Export g_exports[kExports] = {
    {"GetMacSN", TAVSN_STDCALL_NAME(GetMacSN), Kind::kIdentifier},
    {"GetPCSN", TAVSN_STDCALL_NAME(GetPCSN), Kind::kIdentifier},
    {"GetPCSNEx", TAVSN_STDCALL_NAME(GetPCSNEx), Kind::kIdentifier},
    {"tav_get_pc_id_ex", "tav_get_pc_id_ex", Kind::kAlias},
    {"tav_get_pc_id_info", "tav_get_pc_id_info", Kind::kAlias},
    {"tav_get_pc_id", "tav_get_pc_id", Kind::kPcId},
};

struct Outcome {
  int result = 0;
  unsigned char buffer[kBufferBytes];
};

Outcome g_reference[kExports];
std::atomic<long> g_calls[kExports];
std::atomic<long> g_equal[kExports];
std::atomic<int> g_mismatch_lines{0};
// Taken around each report line; std::mutex needs a thread model MinGW
// builds may lack.
CRITICAL_SECTION g_report_lock;
HANDLE g_start = nullptr;
int g_calls_per_thread = 100;

// Threads report at once: each line is written whole.
void LockedReport(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LockedReport(const char* format, ...) {
  EnterCriticalSection(&g_report_lock);
  va_list args;
  va_start(args, format);
  ReportLine(format, args);
  va_end(args);
  LeaveCriticalSection(&g_report_lock);
}

Outcome Call(const Export& e) {
  Outcome outcome;
  std::memset(outcome.buffer, kCanary, sizeof outcome.buffer);
  char* buffer = reinterpret_cast<char*>(outcome.buffer);
  switch (e.kind) {
    case Kind::kIdentifier:
      outcome.result = reinterpret_cast<TavsnIdentifierFn>(e.function)(buffer, kBufferBytes);
      break;
    case Kind::kAlias: outcome.result = reinterpret_cast<TavsnAliasFn>(e.function)(buffer, kBufferBytes); break;
    case Kind::kPcId: outcome.result = reinterpret_cast<TavsnPcIdFn>(e.function)(buffer, kBufferBytes); break;
  }
  return outcome;
}

std::string LogPath(HMODULE dll) {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(dll, path, sizeof path);
  std::string text(path, length);
  const std::size_t slash = text.find_last_of('\\');
  return (slash == std::string::npos ? std::string() : text.substr(0, slash + 1)) + "tavsn.log";
}

long long FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

DWORD WINAPI Worker(void* parameter) {
  const int thread = static_cast<int>(reinterpret_cast<std::intptr_t>(parameter));
  WaitForSingleObject(g_start, INFINITE);
  for (int i = 0; i < g_calls_per_thread; ++i) {
    const int index = (thread + i) % kExports;
    const Outcome outcome = Call(g_exports[index]);
    g_calls[index].fetch_add(1);
    const Outcome& expected = g_reference[index];
    if (outcome.result == expected.result && std::memcmp(outcome.buffer, expected.buffer, kBufferBytes) == 0) {
      g_equal[index].fetch_add(1);
    } else if (g_mismatch_lines.fetch_add(1) < kMismatchLinesMax) {
      LockedReport("mismatch thread=%d call=%d export=%s result=%d buffer=%s", thread, i, g_exports[index].name,
                   outcome.result, Hex(outcome.buffer, kBufferBytes).c_str());
    }
  }
  return 0;
}

bool ParseCount(const char* text, int low, int high, int& value) {
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || number < low || number > high) return false;
  value = static_cast<int>(number);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  InitializeCriticalSection(&g_report_lock);
  std::string dll_path;
  int threads = 8;
  bool log_after_reference = false;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--log-after-reference") {
      log_after_reference = true;
    } else if (i + 1 < argc && name == "--dll") {
      dll_path = argv[++i];
    } else if (i + 1 < argc && name == "--threads" && ParseCount(argv[i + 1], 0, 64, threads)) {
      ++i;
    } else if (i + 1 < argc && name == "--calls" && ParseCount(argv[i + 1], 0, 100000, g_calls_per_thread)) {
      ++i;
    } else {
      LockedReport("usage_error=bad option %s", name.c_str());
      return 2;
    }
  }
  if (dll_path.empty()) {
    LockedReport("usage_error=--dll is required");
    return 2;
  }

  const HMODULE dll = LoadLibraryA(dll_path.c_str());
  if (dll == nullptr) {
    LockedReport("load_error=%lu", GetLastError());
    return 3;
  }
  for (Export& e : g_exports) {
    e.function = reinterpret_cast<void*>(GetProcAddress(dll, e.symbol));
    if (e.function == nullptr) {
      LockedReport("missing_export=%s error=%lu", e.symbol, GetLastError());
      return 4;
    }
  }
  const std::string log_path = LogPath(dll);

  // The single-threaded answers come first, each export on its own, so the
  // log also holds each export's lines in a block of its own.
  for (int index = 0; index < kExports; ++index) {
    g_reference[index] = Call(g_exports[index]);
    LockedReport("reference export=%s result=%d buffer=%s log_end=%lld", g_exports[index].name,
                 g_reference[index].result, Hex(g_reference[index].buffer, kBufferBytes).c_str(), FileSize(log_path));
  }
  if (log_after_reference) {
    const HANDLE file =
        CreateFileA(log_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      LockedReport("log_create_error=%lu", GetLastError());
      return 2;
    }
    CloseHandle(file);
  }

  g_start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<HANDLE> handles;
  for (int thread = 0; thread < threads; ++thread) {
    const HANDLE handle =
        CreateThread(nullptr, 0, Worker, reinterpret_cast<void*>(static_cast<std::intptr_t>(thread)), 0, nullptr);
    if (handle == nullptr) {
      LockedReport("thread_error=%lu", GetLastError());
      SetEvent(g_start);
      for (HANDLE started : handles) WaitForSingleObject(started, INFINITE);
      return 5;
    }
    handles.push_back(handle);
  }
  SetEvent(g_start);
  for (HANDLE handle : handles) {
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
  }
  CloseHandle(g_start);

  for (int index = 0; index < kExports; ++index) {
    LockedReport("summary export=%s calls=%ld equal=%ld", g_exports[index].name, g_calls[index].load(),
                 g_equal[index].load());
  }
  LockedReport("done threads=%d calls=%d", threads, g_calls_per_thread);
  FreeLibrary(dll);
  return 0;
}
