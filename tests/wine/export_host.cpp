// tavsn_host.exe: loads a DLL by path, resolves one export by its exact name
// and calls it as int f(char* buffer, int size) with the calling convention
// given, recording the stack pointer around the call so that a wrong
// convention shows. Made for the Wine tests of every export.
//
//   tavsn_host.exe --dll PATH --export NAME --conv cdecl|stdcall
//                  [--buffer-len N] [--size-arg N] [--null-buffer]
//                  [--calls N] [--canary BYTE] [--no-refill]
//                  [--apartment sta] [--stack-peak]
//
// --buffer-len  bytes of the buffer (default 64); --size-arg the size passed
// (default: the buffer length; may be negative or larger than the buffer);
// --null-buffer passes a null pointer; --calls repeats the call (default 1);
// the buffer is filled with the canary (default 0xCC) before each call
// unless --no-refill. Behind the buffer lie 64 guard bytes of the canary.
// --apartment sta makes the calling thread a single-threaded COM apartment
// first and reports afterwards whether it still is one; --stack-peak makes
// each call on a new thread whose unused stack was painted first, and
// reports the deepest byte the call changed (stack_peak=BYTES).
//
// The export may write to standard output, so the host's own lines go to
// standard error, each starting with "host:":
//
//   host: loaded dll=PATH export=NAME conv=cdecl
//   host: call=1 result=32 esp_delta=0 stack=balanced registers=preserved
//   host: buffer=<hex of every buffer byte>
//   host: guard=intact
//
// Exit code 0 when every call was made; 2 bad arguments, 3 the DLL did not
// load (host: load_error=CODE), 4 the export is missing (host:
// missing_export_error=CODE). Stack or guard faults do not change the exit
// code; the tests read the lines.

#include <windows.h>
#include <objbase.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/wine/host_report.h"

extern "C" {
// Filled by the call shim below.
std::uint32_t host_esp_before_call;
std::uint32_t host_esp_after_call;
std::uint32_t host_ebx_after_call;
std::uint32_t host_esi_after_call;
std::uint32_t host_edi_after_call;
std::uint32_t host_ebp_after_call;
std::uint32_t host_saved_ebp;

// Pushes (buffer, size) right to left, calls `function`, records ESP just
// before the call instruction and just after it returns, and then restores
// the stack from EBP whatever the callee popped. EBX, ESI and EDI hold known
// values across the call so that a callee that clobbers them is seen.
int host_call_export(void* function, void* buffer, int size);
}

constexpr std::uint32_t kEbxMark = 0x1BADB002;
constexpr std::uint32_t kEsiMark = 0x2BADB003;
constexpr std::uint32_t kEdiMark = 0x3BADB004;

#ifndef _WIN64
asm(R"(
  .text
  .globl _host_call_export
_host_call_export:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  movl %ebp, _host_saved_ebp
  movl 8(%ebp), %eax
  pushl 16(%ebp)
  pushl 12(%ebp)
  movl %esp, _host_esp_before_call
  movl $0x1BADB002, %ebx
  movl $0x2BADB003, %esi
  movl $0x3BADB004, %edi
  call *%eax
  movl %esp, _host_esp_after_call
  movl %ebx, _host_ebx_after_call
  movl %esi, _host_esi_after_call
  movl %edi, _host_edi_after_call
  movl %ebp, _host_ebp_after_call
  movl _host_saved_ebp, %ebp
  leal -12(%ebp), %esp
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret
)");
#else
// x64 has one calling convention: there is no stack for a callee to leave
// unbalanced, and the compiler keeps the callee-saved registers itself.
int host_call_export(void* function, void* buffer, int size) {
  host_ebx_after_call = kEbxMark;
  host_esi_after_call = kEsiMark;
  host_edi_after_call = kEdiMark;
  host_ebp_after_call = host_saved_ebp;
  return reinterpret_cast<int (*)(void*, int)>(function)(buffer, size);
}
#endif

namespace {

constexpr std::size_t kGuardBytes = 64;

struct Options {
  std::string dll;
  std::string export_name;
  bool stdcall = false;
  bool convention_given = false;
  long buffer_len = 64;
  long long size_arg = 0;
  bool size_given = false;
  bool null_buffer = false;
  long calls = 1;
  unsigned canary = 0xCC;
  bool refill = true;
  bool single_threaded_apartment = false;
  bool stack_peak = false;
};

bool ParseNumber(const char* text, long long& value) {
  char* end = nullptr;
  value = std::strtoll(text, &end, 0);
  return end != text && *end == '\0';
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    const bool has_value = i + 1 < argc;
    long long number = 0;
    if (name == "--null-buffer") {
      options.null_buffer = true;
    } else if (name == "--no-refill") {
      options.refill = false;
    } else if (name == "--stack-peak") {
      options.stack_peak = true;
    } else if (!has_value) {
      Report("usage_error=%s needs a value", name.c_str());
      return false;
    } else if (name == "--dll") {
      options.dll = argv[++i];
    } else if (name == "--export") {
      options.export_name = argv[++i];
    } else if (name == "--apartment") {
      if (std::string(argv[++i]) != "sta") {
        Report("usage_error=only --apartment sta is known");
        return false;
      }
      options.single_threaded_apartment = true;
    } else if (name == "--conv") {
      const std::string convention = argv[++i];
      if (convention != "cdecl" && convention != "stdcall") {
        Report("usage_error=unknown convention %s", convention.c_str());
        return false;
      }
      options.stdcall = convention == "stdcall";
      options.convention_given = true;
    } else if (ParseNumber(argv[i + 1], number)) {
      ++i;
      if (name == "--buffer-len" && number >= 0 && number <= (1 << 24)) {
        options.buffer_len = static_cast<long>(number);
      } else if (name == "--size-arg" && number >= INT32_MIN && number <= UINT32_MAX) {
        options.size_arg = number;
        options.size_given = true;
      } else if (name == "--calls" && number >= 0 && number <= 1000000) {
        options.calls = static_cast<long>(number);
      } else if (name == "--canary" && number >= 0 && number <= 255) {
        options.canary = static_cast<unsigned>(number);
      } else {
        Report("usage_error=bad option %s", name.c_str());
        return false;
      }
    } else {
      Report("usage_error=bad option %s", name.c_str());
      return false;
    }
  }
  if (options.dll.empty() || options.export_name.empty() || !options.convention_given) {
    Report("usage_error=--dll, --export and --conv are required");
    return false;
  }
  return true;
}

class LoadedDll {
 public:
  explicit LoadedDll(const char* path) : module_(LoadLibraryA(path)) {}
  LoadedDll(const LoadedDll&) = delete;
  LoadedDll& operator=(const LoadedDll&) = delete;
  ~LoadedDll() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

// The stack pointer after the call, relative to before it: 0 when the
// caller removes the arguments (cdecl), 8 when the callee pops them.
bool StackBalanced(bool stdcall, std::int32_t delta) {
#ifdef _WIN64
  (void)stdcall;
  return delta == 0;
#else
  return delta == (stdcall ? 8 : 0);
#endif
}

bool RegistersPreserved(std::uint32_t saved_ebp) {
  return host_ebx_after_call == kEbxMark && host_esi_after_call == kEsiMark && host_edi_after_call == kEdiMark &&
         host_ebp_after_call == saved_ebp;
}

// The stack a call used, measured on a thread of its own: everything below
// this function's frame is painted, the call is made, and the deepest byte
// that no longer holds the paint marks its peak. The margin left for this
// frame is counted in, so the figure errs on the high side.
constexpr std::size_t kPaintedBytes = 192 * 1024;
constexpr std::size_t kFrameMargin = 1024;
constexpr unsigned char kPaint = 0xA5;

struct PaintedCall {
  void* function;
  void* buffer;
  int size;
  int result;
  std::size_t peak;
};

__attribute__((noinline)) DWORD WINAPI CallOnPaintedStack(void* parameter) {
  PaintedCall& call = *static_cast<PaintedCall*>(parameter);
  volatile unsigned char* top = static_cast<unsigned char*>(__builtin_frame_address(0)) - kFrameMargin;
  for (std::size_t depth = 1; depth <= kPaintedBytes; ++depth) top[-static_cast<std::ptrdiff_t>(depth)] = kPaint;
  call.result = host_call_export(call.function, call.buffer, call.size);
  call.peak = 0;
  for (std::size_t depth = kPaintedBytes; depth >= 1; --depth) {
    if (top[-static_cast<std::ptrdiff_t>(depth)] != kPaint) {
      call.peak = depth + kFrameMargin;
      break;
    }
  }
  return 0;
}

int CallMeasuringStack(void* function, void* buffer, int size, std::size_t& peak) {
  PaintedCall call{function, buffer, size, 0, 0};
  HANDLE thread = CreateThread(nullptr, 1024 * 1024, CallOnPaintedStack, &call, 0, nullptr);
  if (thread == nullptr) {
    Report("stack_thread_error=%lu", GetLastError());
    std::exit(5);
  }
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  peak = call.peak;
  return call.result;
}

void RunCalls(const Options& options, void* function) {
  std::vector<std::uint8_t> storage(static_cast<std::size_t>(options.buffer_len) + kGuardBytes,
                                    static_cast<std::uint8_t>(options.canary));
  const int size = static_cast<int>(
      static_cast<std::uint32_t>(options.size_given ? options.size_arg : static_cast<long long>(options.buffer_len)));
  void* buffer = options.null_buffer ? nullptr : storage.data();
  for (long call = 1; call <= options.calls; ++call) {
    if (options.refill) std::memset(storage.data(), static_cast<int>(options.canary), storage.size());
    std::fflush(stdout);  // keep the export's own output in call order
    std::size_t peak = 0;
    const int result = options.stack_peak ? CallMeasuringStack(function, buffer, size, peak)
                                          : host_call_export(function, buffer, size);
    std::fflush(stdout);
    const std::int32_t delta = static_cast<std::int32_t>(host_esp_after_call - host_esp_before_call);
    Report("call=%ld result=%d esp_delta=%ld stack=%s registers=%s", call, result, static_cast<long>(delta),
           StackBalanced(options.stdcall, delta) ? "balanced" : "unbalanced",
           RegistersPreserved(host_saved_ebp) ? "preserved" : "clobbered");
    if (options.stack_peak) Report("stack_peak=%lu", static_cast<unsigned long>(peak));
    Report("buffer=%s", Hex(storage.data(), static_cast<std::size_t>(options.buffer_len)).c_str());
    bool guard_intact = true;
    for (std::size_t i = static_cast<std::size_t>(options.buffer_len); i < storage.size(); ++i)
      guard_intact = guard_intact && storage[i] == options.canary;
    Report("guard=%s", guard_intact ? "intact" : "overwritten");
  }
}

}  // namespace

int main(int argc, char** argv) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  Options options;
  if (!ParseOptions(argc, argv, options)) return 2;
  LoadedDll dll(options.dll.c_str());
  if (dll.get() == nullptr) {
    Report("load_error=%lu", GetLastError());
    return 3;
  }
  void* function = reinterpret_cast<void*>(GetProcAddress(dll.get(), options.export_name.c_str()));
  if (function == nullptr) {
    Report("missing_export_error=%lu", GetLastError());
    return 4;
  }
  Report("loaded dll=%s export=%s conv=%s", options.dll.c_str(), options.export_name.c_str(),
         options.stdcall ? "stdcall" : "cdecl");
  if (options.single_threaded_apartment) {
    Report("apartment_joined=%ld", static_cast<long>(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  }
  RunCalls(options, function);
  if (options.single_threaded_apartment) {
    // S_FALSE: the thread is still the single-threaded apartment it was.
    const HRESULT again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Report("apartment_after=%s", again == S_FALSE ? "sta" : "changed");
    if (SUCCEEDED(again)) CoUninitialize();
    CoUninitialize();
  }
  return 0;
}
