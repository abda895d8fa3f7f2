// log_driver.exe DLL COMMAND...: loads the log test library from DLL and runs
// the commands in order, printing one result line for each:
//   open                 logtest_open
//   call:NAME:RESULT     logtest_call
//   line:TEXT            logtest_line
//   pieces:TEXT:INT:UINT logtest_pieces
//   threads:COUNT:LINES  logtest_threads
//   create:PATH          creates an empty file (as a user would, mid-run)
//   lock:PATH            opens PATH without sharing and keeps it open
//   wait:PATH            waits up to a minute until PATH exists
//   unload               unloads the library
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using OpenFn = int (*)();
using CallFn = int (*)(const char*, int);
using LineFn = void (*)(const char*);
using PiecesFn = void (*)(const char*, int, unsigned);
using ThreadsFn = int (*)(int, int);

HMODULE g_library = nullptr;

template <typename Fn>
Fn Export(const char* name) {
  FARPROC address = g_library ? GetProcAddress(g_library, name) : nullptr;
  if (address == nullptr) {
    std::printf("missing export %s\n", name);
    std::exit(3);
  }
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
}

// The argument's fields after the command, split at ':' at most `count` - 1
// times, so that the last field may hold colons (Windows paths).
bool Fields(const std::string& argument, std::string* fields, int count) {
  std::size_t pos = argument.find(':');
  for (int i = 0; i < count; ++i) {
    if (pos == std::string::npos) return false;
    std::size_t next = i + 1 < count ? argument.find(':', pos + 1) : std::string::npos;
    fields[i] = argument.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1);
    pos = next;
  }
  return true;
}

bool Run(const std::string& command) {
  std::string f[3];
  std::string verb = command.substr(0, command.find(':'));
  if (verb == "open") {
    std::printf("open active=%d\n", Export<OpenFn>("logtest_open")());
  } else if (verb == "call" && Fields(command, f, 2)) {
    int result = Export<CallFn>("logtest_call")(f[0].c_str(), std::atoi(f[1].c_str()));
    std::printf("call %s returned %d\n", f[0].c_str(), result);
  } else if (verb == "line" && Fields(command, f, 1)) {
    Export<LineFn>("logtest_line")(f[0].c_str());
    std::printf("line done\n");
  } else if (verb == "pieces" && Fields(command, f, 3)) {
    Export<PiecesFn>("logtest_pieces")(f[0].c_str(), static_cast<int>(std::strtol(f[1].c_str(), nullptr, 10)),
                                       static_cast<unsigned>(std::strtoul(f[2].c_str(), nullptr, 10)));
    std::printf("pieces done\n");
  } else if (verb == "threads" && Fields(command, f, 2)) {
    int ran = Export<ThreadsFn>("logtest_threads")(std::atoi(f[0].c_str()), std::atoi(f[1].c_str()));
    std::printf("threads ran %d\n", ran);
  } else if (verb == "create" && Fields(command, f, 1)) {
    HANDLE file = CreateFileA(f[0].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::printf("create %s\n", file == INVALID_HANDLE_VALUE ? "failed" : "ok");
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  } else if (verb == "lock" && Fields(command, f, 1)) {
    // Held until the process ends.
    HANDLE file = CreateFileA(f[0].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      std::printf("lock failed %lu\n", GetLastError());
    } else {
      std::printf("lock ok\n");
    }
  } else if (verb == "wait" && Fields(command, f, 1)) {
    // Lets several driver processes start a step at the same moment.
    bool found = false;
    for (int waited = 0; waited < 60000 && !found; waited += 1) {
      found = GetFileAttributesA(f[0].c_str()) != INVALID_FILE_ATTRIBUTES;
      if (!found) Sleep(1);
    }
    std::printf("wait %s\n", found ? "ok" : "timed out");
  } else if (verb == "unload") {
    std::printf("unload %s\n", FreeLibrary(g_library) ? "ok" : "failed");
    g_library = nullptr;
  } else {
    std::printf("bad command %s\n", command.c_str());
    return false;
  }
  std::fflush(stdout);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: log_driver DLL COMMAND...\n");
    return 2;
  }
  g_library = LoadLibraryA(argv[1]);
  if (g_library == nullptr) {
    std::printf("load failed %lu\n", GetLastError());
    return 3;
  }
  for (int i = 2; i < argc; ++i) {
    if (!Run(argv[i])) return 2;
  }
  return 0;
}
