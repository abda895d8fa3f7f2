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

void ReleaseFake(void* handle) { static_cast<FakeResource*>(handle)->Release(); }

}  // namespace
}  // namespace fakebase

void CloseRegistryKey(void* key) noexcept { fakebase::ReleaseFake(key); }
void CloseKernelHandle(void* handle) noexcept { fakebase::ReleaseFake(handle); }
void DestroyDeviceInfoSet(void* set) noexcept { fakebase::ReleaseFake(set); }
void ReleaseHeldMutex(void* mutex) noexcept { fakebase::ReleaseFake(mutex); }
void FreeLoadedLibrary(void* module) noexcept { fakebase::ReleaseFake(module); }
void ReleaseComInterface(void* unknown) noexcept { fakebase::ReleaseFake(unknown); }
void FreeGlobalMemory(void* memory) noexcept { fakebase::ReleaseFake(memory); }

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

void SpinLock::unlock() noexcept { __atomic_store_n(&state_, 0L, __ATOMIC_RELEASE); }

}  // namespace tavsn
