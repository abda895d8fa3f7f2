// log_only.dll: the diagnostic log alone in a library of its own, so
// that the Wine tests can load it from any folder and drive it the way the
// identifier exports do.
#include <windows.h>

#include <vector>

#include "log/diag_log.h"

using tavsn::diag_endl;
using tavsn::OpenDiagLog;
using tavsn::ProcessLog;

// Unloading closes the log file, as tavsn.dll's own entry point does.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) tavsn::CloseProcessLog();
  return TRUE;
}

extern "C" {

// 1 when the log is open after the search.
int logtest_open() noexcept {
  OpenDiagLog();
  return ProcessLog().active() ? 1 : 0;
}

// What an identifier export does around its work: opens the log, logs, and
// returns its result, which the log must never change.
int logtest_call(const char* name, int result) noexcept {
  OpenDiagLog();
  ProcessLog() << name << " start." << diag_endl;
  ProcessLog() << name << " result [ " << result << " ]" << diag_endl;
  return result;
}

void logtest_line(const char* text) noexcept { ProcessLog() << text << diag_endl; }

void logtest_pieces(const char* text, int signed_value, unsigned unsigned_value) noexcept {
  ProcessLog() << text << signed_value << " " << unsigned_value << diag_endl;
}

namespace {

struct ThreadWork {
  HANDLE start;  // a manual-reset event that lets every thread go at once
  int thread;
  int lines;
};

DWORD WINAPI WriteLines(void* parameter) {
  const ThreadWork& work = *static_cast<const ThreadWork*>(parameter);
  WaitForSingleObject(work.start, INFINITE);
  OpenDiagLog();
  for (int line = 0; line < work.lines; ++line) {
    ProcessLog() << "thread " << work.thread << " line " << line << " of " << work.lines << " end" << diag_endl;
  }
  return 0;
}

}  // namespace

// `threads` threads start together, each opens the log and writes `lines`
// lines of several pieces. Returns the number of threads that ran, -1 when
// they could not all be started.
int logtest_threads(int threads, int lines) noexcept {
  HANDLE start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (start == nullptr) return -1;
  std::vector<ThreadWork> work;
  std::vector<HANDLE> handles;
  try {
    work.reserve(threads);
    handles.reserve(threads);
  } catch (...) {
    CloseHandle(start);
    return -1;
  }
  for (int t = 0; t < threads; ++t) {
    work.push_back(ThreadWork{start, t, lines});
    HANDLE handle = CreateThread(nullptr, 0, WriteLines, &work.back(), 0, nullptr);
    if (handle != nullptr) handles.push_back(handle);
  }
  SetEvent(start);
  for (HANDLE handle : handles) {
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
  }
  CloseHandle(start);
  return static_cast<int>(handles.size()) == threads ? threads : -1;
}

}  // extern "C"
