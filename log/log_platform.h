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

// The longest module path taken, in characters with its terminator.
constexpr std::size_t kModulePathCapacity = 260;  // MAX_PATH

// The folder of this library's own module (not the host program's): its
// wide path from GetModuleFileNameW up to and including the last
// backslash, or the whole path when it has none, in the ANSI code page, into
// `buffer` of `capacity` bytes, zero-terminated. Returns its length; 0 when
// the path cannot be had, does not fit in kModulePathCapacity characters,
// or does not convert to ANSI and back to exactly the same characters (a
// best-fit mapping could turn a character into a backslash or a slash and
// so name another folder).
std::size_t LibraryFolderPath(char* buffer, std::size_t capacity);

// True when anything at all exists under `path`: a file of any attributes
// or a directory.
bool PathExists(const char* path);

// Opens the existing `path` for reading and appending, with no sharing
// restriction towards other openers, and only when it is a plain file: a
// reparse point (a symbolic link or a junction) is not followed, a pipe
// server reached through the name cannot impersonate the caller, and a
// handle that is not a disk file, is a directory or a reparse point, or
// whose file has more than one name (a hard link to a file elsewhere) is
// closed again. Not valid on failure or refusal.
FileHandle OpenPlainFileForAppend(const char* path);

// Writes the bytes at the end of the file and pushes them to the operating
// system; false when not all of them were written.
bool AppendBytes(const FileHandle& file, const char* data, std::size_t size);

}  // namespace tavsn::logos
