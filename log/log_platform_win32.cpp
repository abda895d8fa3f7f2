// The diagnostic log's Windows calls.
#include <windows.h>
#include <mmsystem.h>

#include <cstring>

#include "base/system_library.h"
#include "log/log_platform.h"

// The linker's symbol for the start of the module this code is linked into:
// the library when it is a DLL, never the host program.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace tavsn::logos {

// The multimedia timer, or the tick count (the same milliseconds since
// Windows started, less finely cut) when winmm cannot be had.
std::uint32_t TickMs() {
  const auto time_get_time = TAVSN_SYSTEM_FUNCTION(kMultimedia, timeGetTime);
  return time_get_time != nullptr ? time_get_time() : GetTickCount();
}

UtcTime UtcNow() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  return UtcTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

namespace {

// The ANSI form of `wide`, only when it converts back to exactly `wide`.
std::size_t ExactAnsi(const wchar_t* wide, int wide_length, char* buffer, std::size_t capacity) {
  if (wide_length <= 0 || capacity < 2) return 0;
  const int bytes =
      WideCharToMultiByte(CP_ACP, 0, wide, wide_length, buffer, static_cast<int>(capacity - 1), nullptr, nullptr);
  if (bytes <= 0) return 0;
  buffer[bytes] = '\0';
  wchar_t back[kModulePathCapacity];
  const int back_length = MultiByteToWideChar(CP_ACP, 0, buffer, bytes, back, static_cast<int>(kModulePathCapacity));
  if (back_length != wide_length || std::memcmp(back, wide, sizeof(wchar_t) * wide_length) != 0) {
    buffer[0] = '\0';
    return 0;
  }
  return static_cast<std::size_t>(bytes);
}

}  // namespace

std::size_t LibraryFolderPath(char* buffer, std::size_t capacity) {
  if (capacity == 0) return 0;
  buffer[0] = '\0';
  auto module = reinterpret_cast<HMODULE>(&__ImageBase);
  wchar_t path[kModulePathCapacity];
  const DWORD length = GetModuleFileNameW(module, path, static_cast<DWORD>(kModulePathCapacity));
  // A cut path may name a parent folder.
  if (length == 0 || length >= kModulePathCapacity) return 0;
  DWORD folder_length = length;
  for (DWORD i = length; i > 0; --i) {
    if (path[i - 1] == L'\\') {
      folder_length = i;
      break;
    }
  }
  return ExactAnsi(path, static_cast<int>(folder_length), buffer, capacity);
}

bool PathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

namespace {

bool IsPlainDiskFile(HANDLE file) {
  if (GetFileType(file) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file, &information)) return false;
  constexpr DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  return (information.dwFileAttributes & kNotPlain) == 0 && information.nNumberOfLinks == 1;
}

}  // namespace

FileHandle OpenPlainFileForAppend(const char* path) {
  // Append access without write access makes every write land at the end of
  // the file, whatever other openers have written in the meantime. The
  // reparse point itself is opened, never its target; an anonymous
  // security quality of service lets no pipe server act as the caller.
  constexpr DWORD kFlags =
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS;
  FileHandle file(
      static_cast<FileObject*>(CreateFileA(path, GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, kFlags, nullptr)));
  if (file.is_valid() && !IsPlainDiskFile(file.get())) file.reset();
  return file;
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
