// Giving each kind of resource back to Windows. The thread's last error is
// kept across every release: see resources.h.
#include <windows.h>
#include <setupapi.h>
#include <unknwn.h>

#include "base/process_heap.h"
#include "base/resources.h"

namespace tavsn {
namespace {

class LastErrorKeeper {
 public:
  LastErrorKeeper() : saved_(::GetLastError()) {}
  ~LastErrorKeeper() { ::SetLastError(saved_); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  DWORD saved_;
};

}  // namespace

void CloseRegistryKey(void* key) noexcept {
  LastErrorKeeper keep;
  ::RegCloseKey(static_cast<HKEY>(key));
}

void CloseKernelHandle(void* handle) noexcept {
  LastErrorKeeper keep;
  ::CloseHandle(static_cast<HANDLE>(handle));
}

void ReleaseHeldMutex(void* mutex) noexcept {
  LastErrorKeeper keep;
  ::ReleaseMutex(static_cast<HANDLE>(mutex));
}

void DestroyDeviceInfoSet(void* set) noexcept {
  LastErrorKeeper keep;
  ::SetupDiDestroyDeviceInfoList(static_cast<HDEVINFO>(set));
}

void FreeLoadedLibrary(void* module) noexcept {
  LastErrorKeeper keep;
  ::FreeLibrary(static_cast<HMODULE>(module));
}

void ReleaseComInterface(void* unknown) noexcept {
  LastErrorKeeper keep;
  static_cast<IUnknown*>(unknown)->Release();
}

void FreeGlobalMemory(void* memory) noexcept {
  LastErrorKeeper keep;
  ::GlobalFree(memory);
}

void* HeapAllocate(std::size_t bytes) noexcept { return ::HeapAlloc(::GetProcessHeap(), 0, bytes); }

void* HeapReallocate(void* block, std::size_t bytes) noexcept {
  if (block == nullptr) return HeapAllocate(bytes);
  return ::HeapReAlloc(::GetProcessHeap(), 0, block, bytes);
}

void HeapRelease(void* block) noexcept {
  if (block == nullptr) return;
  LastErrorKeeper keep;
  ::HeapFree(::GetProcessHeap(), 0, block);
}

}  // namespace tavsn
