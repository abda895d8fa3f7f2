#include "tests/fakes/fake_log_platform.h"

#include <cstring>
#include <map>
#include <mutex>

#include "log/diag_log.h"
#include "log/diag_log_testing.h"
#include "tests/fakes/fake_base.h"

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

namespace {
constexpr char kLineEnd[] = "\r\n";
constexpr std::size_t kLineEndLength = sizeof kLineEnd - 1;
constexpr int kBannerLines = 2;      // the banner, before any caller's lines
constexpr char kPrefixEnd[] = ": ";  // ends the stamp before each line's text
}  // namespace

std::string ProcessLogLines() {
  std::string text = ProcessLogText();
  std::string out;
  std::size_t pos = 0;
  int line_number = 0;
  while (pos < text.size()) {
    std::size_t end = text.find(kLineEnd, pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + kLineEndLength;
    if (++line_number <= kBannerLines) continue;
    std::size_t colon = line.find(kPrefixEnd);
    out += (colon == std::string::npos ? line : line.substr(colon + sizeof kPrefixEnd - 1)) + "\n";
  }
  return out;
}

}  // namespace fakelog

namespace logos {

using fakelog::state;

struct FakeFile : fakebase::FakeResource {
  explicit FakeFile(std::string file_path) : path(std::move(file_path)) {}
  void Release() override {
    --state().open_handles;
    delete this;
  }
  std::string path;
};

// Lines take their stamp outside the log's lock, so threads read the clock
// at the same time.
std::uint32_t TickMs() {
  static std::mutex clock_mutex;
  std::lock_guard<std::mutex> lock(clock_mutex);
  ++state().tick_reads;
  std::uint32_t now = state().tick_ms;
  state().tick_ms += state().tick_step;
  return now;
}

UtcTime UtcNow() { return state().now; }

// The library's folder as the real layer finds it in the module path: a
// path that does not fit in kModulePathCapacity characters gives nothing.
std::size_t LibraryFolderPath(char* buffer, std::size_t capacity) {
  if (capacity == 0) return 0;
  buffer[0] = '\0';
  const std::string& path = state().library_path;
  if (state().library_path_fails || path.size() >= kModulePathCapacity) return 0;
  const std::size_t backslash = path.rfind('\\');
  const std::size_t folder = backslash == std::string::npos ? path.size() : backslash + 1;
  if (folder >= capacity) return 0;
  std::memcpy(buffer, path.data(), folder);
  buffer[folder] = '\0';
  return folder;
}

bool PathExists(const char* path) {
  ++state().path_checks;
  state().checked_paths.push_back(path);
  return state().files.count(path) || state().directories.count(path);
}

FileHandle OpenPlainFileForAppend(const char* path) {
  ++state().opens;
  if (state().during_open) state().during_open();
  if (state().directories.count(path) || state().read_only.count(path) || state().not_plain.count(path) ||
      !state().files.count(path)) {
    return FileHandle();
  }
  ++state().open_handles;
  return FileHandle(fakebase::HandleOf<FileObject*>(new FakeFile(path)));
}

bool AppendBytes(const FileHandle& file, const char* data, std::size_t size) {
  ++state().writes;
  if (state().writes_fail) return false;
  auto* fake = fakebase::FakeOf<FakeFile>(file.get());
  state().files[fake->path].append(data, size);
  return true;
}

}  // namespace logos
}  // namespace tavsn
