#pragma once
// The Windows services the diagnostic log needs, each turned into a value.
// log_platform_win32.cpp implements them; the native tests link a fake.

#include <cstddef>
#include <cstdint>

namespace tavsn::logos {

struct UtcTime {
  std::uint16_t year, month, day, hour, minute, second;
};

// timeGetTime: milliseconds since Windows started, wrapping every 49.7 days.
std::uint32_t TickMs();

// GetSystemTime: the current UTC date and time.
UtcTime UtcNow();

// GetModuleFileNameA for this library's own module (not the host program's)
// into `buffer` of `capacity` characters, always zero-terminated. Returns
// what GetModuleFileNameA returned: 0 when it failed, `capacity` when the
// path did not fit and was cut.
std::size_t LibraryModulePath(char* buffer, std::size_t capacity);

// True when anything at all exists under `path`: a file of any attributes
// or a directory.
bool PathExists(const char* path);

// A lock for the log's state: an SRW lock on Windows, which needs no
// threading runtime in the library. Zero-initialised means unlocked, so a
// static one is ready before any constructor runs.
class LogLock {
 public:
  constexpr LogLock() = default;
  LogLock(const LogLock&) = delete;
  LogLock& operator=(const LogLock&) = delete;
  void lock();
  void unlock();

 private:
  void* state_ = nullptr;
};

class LogLockGuard {
 public:
  explicit LogLockGuard(LogLock& lock) : lock_(lock) { lock_.lock(); }
  ~LogLockGuard() { lock_.unlock(); }
  LogLockGuard(const LogLockGuard&) = delete;
  LogLockGuard& operator=(const LogLockGuard&) = delete;

 private:
  LogLock& lock_;
};

// An open log file, written at its end whatever other openers do.
class LogFile {
 public:
  constexpr LogFile() = default;
  explicit LogFile(void* handle) : handle_(handle) {}
  LogFile(LogFile&& other) noexcept : handle_(other.release()) {}
  LogFile& operator=(LogFile&& other) noexcept;
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;
  ~LogFile();

  bool is_open() const { return handle_ != nullptr; }
  void* get() const { return handle_; }
  void* release() {
    void* handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void reset();

 private:
  void* handle_ = nullptr;
};

// Opens `path` for reading and appending, creating it if it vanished, with
// no sharing restriction towards other openers. Not open on failure.
LogFile OpenForAppend(const char* path);

// Writes the bytes at the end of the file and pushes them to the operating
// system; false when not all of them were written.
bool AppendBytes(const LogFile& file, const char* data, std::size_t size);

// Releases the handle; used by LogFile.
void CloseLogFile(void* handle);

}  // namespace tavsn::logos
