// Interlocked operations and Sleep exist on every Windows version the
// library supports, unlike slim reader/writer locks (Vista and later).
#include <windows.h>

#include "base/spin_lock.h"

namespace tavsn {
namespace {

// Sleep(0) yields only to threads of the same priority; after a few tries
// Sleep(1) lets a lower-priority holder run too.
constexpr int kYieldsBeforeSleeping = 16;

}  // namespace

void SpinLock::lock() noexcept {
  for (int tries = 0; ::InterlockedCompareExchange(&state_, 1, 0) != 0; ++tries) {
    ::Sleep(tries < kYieldsBeforeSleeping ? 0 : 1);
  }
}

bool SpinLock::try_lock() noexcept { return ::InterlockedCompareExchange(&state_, 1, 0) == 0; }

void SpinLock::unlock() noexcept { ::InterlockedExchange(&state_, 0); }

}  // namespace tavsn
