#include "tests/fakes/fake_log_platform.h"

#include <cstring>

#include "log/diag_log.h"
#include "log/diag_log_testing.h"

namespace tavsn {
namespace fakelog {

State& state() {
  static State the_state;
  return the_state;
}

void Reset() {
  ResetProcessLogForTesting();
  state() = State{};
}

void EnableProcessLog() {
  state().files[kLogPath] = "";
  OpenDiagLog();
}

std::string ProcessLogText() {
  auto it = state().files.find(kLogPath);
  return it == state().files.end() ? std::string() : it->second;
}

std::string ProcessLogLines() {
  std::string text = ProcessLogText();
  std::string out;
  std::size_t pos = 0;
  int line_number = 0;
  while (pos < text.size()) {
    std::size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 2;
    // The first two lines are the banner.
    if (++line_number <= 2) continue;
    std::size_t colon = line.find(": ");
    out += (colon == std::string::npos ? line : line.substr(colon + 2)) + "\n";
  }
  return out;
}

}  // namespace fakelog

namespace logos {

using fakelog::state;

struct FakeFile {
  std::string path;
};

std::uint32_t TickMs() {
  std::uint32_t now = state().tick_ms;
  state().tick_ms += state().tick_step;
  return now;
}

UtcTime UtcNow() { return state().now; }

bool LibraryModulePath(char* buffer, std::size_t capacity) {
  if (state().library_path_fails || capacity == 0) return false;
  std::strncpy(buffer, state().library_path.c_str(), capacity - 1);
  buffer[capacity - 1] = '\0';
  return true;
}

bool PathExists(const char* path) {
  ++state().path_checks;
  return state().files.count(path) || state().directories.count(path);
}

LogFile OpenForAppend(const char* path) {
  ++state().opens;
  if (state().directories.count(path) || state().read_only.count(path)) return LogFile();
  state().files[path];  // created when missing, like the real open
  ++state().open_handles;
  return LogFile(new FakeFile{path});
}

bool AppendBytes(const LogFile& file, const char* data, std::size_t size) {
  if (state().writes_fail) return false;
  auto* fake = static_cast<FakeFile*>(file.get());
  state().files[fake->path].append(data, size);
  return true;
}

void CloseLogFile(void* handle) {
  --state().open_handles;
  delete static_cast<FakeFile*>(handle);
}

}  // namespace logos
}  // namespace tavsn
