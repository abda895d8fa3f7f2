// Giving each kind of resource back to Windows. The thread's last error is
// kept across every release: see resources.h.
#include <windows.h>
#include <setupapi.h>
#include <unknwn.h>

#include "base/process_heap.h"
#include "base/resources.h"
#include "base/system_library.h"

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

void CloseRegistryKey(HKEY key) noexcept {
  LastErrorKeeper keep;
  ::RegCloseKey(key);
}

void CloseFile(FileObject* file) noexcept {
  LastErrorKeeper keep;
  ::CloseHandle(file);
}

void CloseKernelHandle(KernelObject* handle) noexcept {
  LastErrorKeeper keep;
  ::CloseHandle(handle);
}

void ReleaseHeldMutex(KernelObject* mutex) noexcept {
  LastErrorKeeper keep;
  ::ReleaseMutex(mutex);
}

void DestroyDeviceInfoSet(DeviceInfoSetObject* set) noexcept {
  LastErrorKeeper keep;
  const auto destroy = reinterpret_cast<decltype(&::SetupDiDestroyDeviceInfoList)>(SetupApiDestroyDeviceInfoList());
  if (destroy != nullptr) destroy(set);
}

void FreeLoadedLibrary(HMODULE module) noexcept {
  LastErrorKeeper keep;
  ::FreeLibrary(module);
}

void ReleaseComInterface(IUnknown* unknown) noexcept {
  LastErrorKeeper keep;
  unknown->Release();
}

void FreeGlobalMemory(GlobalBlock* memory) noexcept {
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
