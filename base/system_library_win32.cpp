// Loading the system DLLs that are not KnownDLLs from the system folder.
#include <windows.h>

#include "base/no_destructor.h"
#include "base/resources.h"
#include "base/spin_lock.h"
#include "base/system_library.h"

namespace tavsn {
namespace {

constexpr const wchar_t* kFileNames[kSystemLibraryCount] = {L"iphlpapi.dll", L"setupapi.dll", L"winmm.dll"};
constexpr UINT kPathCapacity = MAX_PATH;

struct LoadedSystemLibraries {
  LoadedLibrary libraries[kSystemLibraryCount];
  // Looked up when SetupAPI is loaded, and SetupAPI counts as loaded only
  // with it: a device information set, once opened, can always be destroyed.
  void* destroy_device_info_list = nullptr;
};

NoDestructor<LoadedSystemLibraries> g_loaded;
SpinLock g_lock;

// "<system folder>\<file>"; false when it does not fit.
bool SystemPath(const wchar_t* file, wchar_t (&path)[kPathCapacity]) {
  const UINT folder = ::GetSystemDirectoryW(path, kPathCapacity);
  if (folder == 0) return false;
  UINT length = folder;
  for (const wchar_t* c = file; *c != L'\0'; ++c) length += 1;
  if (length + 2 > kPathCapacity) {
    ::SetLastError(ERROR_BUFFER_OVERFLOW);
    return false;
  }
  UINT at = folder;
  if (path[at - 1] != L'\\') path[at++] = L'\\';
  for (const wchar_t* c = file; *c != L'\0'; ++c) path[at++] = *c;
  path[at] = L'\0';
  return true;
}

// The library, loaded by its full path; what it imports itself is looked
// for beside it first, in the system folder, not beside the host program.
HMODULE Loaded(SystemLibrary library) {
  LoadedLibrary& loaded = g_loaded.get().libraries[static_cast<int>(library)];
  if (loaded.is_valid()) return loaded.get();
  wchar_t path[kPathCapacity];
  if (!SystemPath(kFileNames[static_cast<int>(library)], path)) return nullptr;
  loaded.reset(::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (loaded.is_valid() && library == SystemLibrary::kSetupApi) {
    void* destroy = reinterpret_cast<void*>(::GetProcAddress(loaded.get(), "SetupDiDestroyDeviceInfoList"));
    if (destroy == nullptr) loaded.reset();
    g_loaded.get().destroy_device_info_list = destroy;
  }
  return loaded.get();
}

}  // namespace

void* SystemProcedure(SystemLibrary library, const char* name) noexcept {
  HMODULE module = nullptr;
  {
    SpinLockGuard lock(g_lock);
    module = Loaded(library);
  }
  if (module == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(module, name));
}

void* SetupApiDestroyDeviceInfoList() noexcept {
  SpinLockGuard lock(g_lock);
  return g_loaded.get().destroy_device_info_list;
}

void ReleaseSystemLibraries() noexcept {
  SpinLockGuard lock(g_lock);
  g_loaded.get().destroy_device_info_list = nullptr;
  for (LoadedLibrary& library : g_loaded.get().libraries) library.reset();
}

}  // namespace tavsn
