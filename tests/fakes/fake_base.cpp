#include "tests/fakes/fake_base.h"

#include <sched.h>

#include <cstdlib>

#include "base/process_heap.h"
#include "base/resources.h"
#include "base/spin_lock.h"

namespace tavsn {
namespace fakebase {

HeapState& heap() {
  static HeapState state;
  return state;
}

void ResetHeap() {
  const long live = heap().live_blocks;
  heap() = HeapState{};
  heap().live_blocks = live;
}

namespace {

bool MayAllocate() {
  HeapState& state = heap();
  if (state.allocations_left == 0) {
    ++state.failed_allocations;
    return false;
  }
  if (state.allocations_left > 0) --state.allocations_left;
  return true;
}

void ReleaseFake(const void* handle) { FakeOf<FakeResource>(handle)->Release(); }

}  // namespace
}  // namespace fakebase

void CloseRegistryKey(HKEY__* key) noexcept { fakebase::ReleaseFake(key); }
void CloseFile(FileObject* file) noexcept { fakebase::ReleaseFake(file); }
void CloseKernelHandle(KernelObject* handle) noexcept { fakebase::ReleaseFake(handle); }
void DestroyDeviceInfoSet(DeviceInfoSetObject* set) noexcept { fakebase::ReleaseFake(set); }
void ReleaseHeldMutex(KernelObject* mutex) noexcept { fakebase::ReleaseFake(mutex); }
void FreeLoadedLibrary(HINSTANCE__* module) noexcept { fakebase::ReleaseFake(module); }
void ReleaseComInterface(IUnknown* unknown) noexcept { fakebase::ReleaseFake(unknown); }
void FreeGlobalMemory(GlobalBlock* memory) noexcept { fakebase::ReleaseFake(memory); }

void* HeapAllocate(std::size_t bytes) noexcept {
  if (!fakebase::MayAllocate()) return nullptr;
  void* block = std::malloc(bytes == 0 ? 1 : bytes);
  if (block != nullptr) ++fakebase::heap().live_blocks;
  return block;
}

void* HeapReallocate(void* block, std::size_t bytes) noexcept {
  if (block == nullptr) return HeapAllocate(bytes);
  if (!fakebase::MayAllocate()) return nullptr;
  return std::realloc(block, bytes == 0 ? 1 : bytes);
}

void HeapRelease(void* block) noexcept {
  if (block == nullptr) return;
  --fakebase::heap().live_blocks;
  std::free(block);
}

void SpinLock::lock() noexcept {
  while (__atomic_exchange_n(&state_, 1L, __ATOMIC_ACQUIRE) != 0) sched_yield();
}

bool SpinLock::try_lock() noexcept { return __atomic_exchange_n(&state_, 1L, __ATOMIC_ACQUIRE) == 0; }

void SpinLock::unlock() noexcept { __atomic_store_n(&state_, 0L, __ATOMIC_RELEASE); }

}  // namespace tavsn
