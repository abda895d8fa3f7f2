// The diagnostic log's Windows calls.
#include <windows.h>
#include <mmsystem.h>

#include "log/log_platform.h"

// The linker's symbol for the start of the module this code is linked into:
// the library when it is a DLL, never the host program.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace tavsn::logos {

std::uint32_t TickMs() { return timeGetTime(); }

UtcTime UtcNow() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  return UtcTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

std::size_t LibraryModulePath(char* buffer, std::size_t capacity) {
  if (capacity == 0) return 0;
  auto module = reinterpret_cast<HMODULE>(&__ImageBase);
  DWORD length = GetModuleFileNameA(module, buffer, static_cast<DWORD>(capacity));
  // Windows XP leaves a cut path without its terminating zero.
  if (length >= capacity) buffer[capacity - 1] = '\0';
  if (length == 0) buffer[0] = '\0';
  return length < capacity ? length : capacity;
}

bool PathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

FileHandle OpenForAppend(const char* path) {
  // Append access without write access makes every write land at the end of
  // the file, whatever other openers have written in the meantime.
  HANDLE file = CreateFileA(path, GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return FileHandle(static_cast<FileObject*>(file));
}

bool AppendBytes(const FileHandle& file, const char* data, std::size_t size) {
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) || written == 0) {
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

}  // namespace tavsn::logos
