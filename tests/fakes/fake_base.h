#pragma once
// Stand-ins for the base layer: every fake resource handle points at a
// FakeResource whose Release does the owning fake's bookkeeping, and the
// heap can be told to run out.
#include <cstddef>

namespace tavsn::fakebase {

// What a fake layer hands out as a handle. The base layer's release
// functions call Release() once, which must also free the object.
struct FakeResource {
  virtual ~FakeResource() = default;
  virtual void Release() { delete this; }
};

// A fake as the handle of the kind `Handle` (a pointer type), and back: the
// handle's value is the FakeResource's address, whatever its type says.
template <typename Handle>
Handle HandleOf(FakeResource* fake) {
  return reinterpret_cast<Handle>(fake);
}
template <typename Fake>
Fake* FakeOf(const void* handle) {
  return static_cast<Fake*>(static_cast<FakeResource*>(const_cast<void*>(handle)));
}

struct HeapState {
  // Allocations (and growths) that still succeed; negative means no limit.
  long allocations_left = -1;
  long live_blocks = 0;
  long failed_allocations = 0;
};

HeapState& heap();
// No limit, and the counts start again (live blocks are kept).
void ResetHeap();

}  // namespace tavsn::fakebase
