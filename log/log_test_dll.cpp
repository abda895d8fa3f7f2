// tavsn_logtest.dll: the diagnostic log alone in a library of its own, so
// that the Wine tests can load it from any folder and drive it the way the
// identifier exports do.
#include <atomic>
#include <thread>
#include <vector>

#include "log/diag_log.h"

using tavsn::diag_endl;
using tavsn::OpenDiagLog;
using tavsn::ProcessLog;

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

// `threads` threads start together, each opens the log and writes `lines`
// lines of several pieces. Returns the number of threads that ran, -1 when
// they could not be started.
int logtest_threads(int threads, int lines) noexcept {
  std::atomic<bool> go{false};
  std::vector<std::thread> workers;
  try {
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&go, t, lines] {
        while (!go.load()) std::this_thread::yield();
        OpenDiagLog();
        for (int line = 0; line < lines; ++line) {
          ProcessLog() << "thread " << t << " line " << line << " of " << lines << " end"
                       << diag_endl;
        }
      });
    }
  } catch (...) {
    // The threads already started still run and are joined below.
  }
  go.store(true);
  for (auto& worker : workers) worker.join();
  return static_cast<int>(workers.size()) == threads ? threads : -1;
}

}  // extern "C"
