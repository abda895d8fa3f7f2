#pragma once
// The Windows services the diagnostic log needs, each turned into a value.
// log_platform_win32.cpp implements them; the native tests link a fake.

#include <cstddef>
#include <cstdint>

#include "base/resources.h"

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

// Opens `path` for reading and appending, creating it if it vanished, with
// no sharing restriction towards other openers. Not valid on failure.
FileHandle OpenForAppend(const char* path);

// Writes the bytes at the end of the file and pushes them to the operating
// system; false when not all of them were written.
bool AppendBytes(const FileHandle& file, const char* data, std::size_t size);

}  // namespace tavsn::logos
