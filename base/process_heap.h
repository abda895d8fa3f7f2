#pragma once
// Memory for the library's own containers: blocks of the process heap,
// handed out as values that may be null. Nothing here throws, and nothing
// of the C++ runtime's operator new is involved.

#include <cstddef>

#include "base/unique_resource.h"

namespace tavsn {

// Null when the heap has no block of that size.
void* HeapAllocate(std::size_t bytes) noexcept;
// Moves a block to one of `bytes`, keeping its contents; null (the old block
// untouched) when there is none.
void* HeapReallocate(void* block, std::size_t bytes) noexcept;
void HeapRelease(void* block) noexcept;

template <typename T>
struct HeapTraits {
  using Handle = T*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle block) noexcept { HeapRelease(block); }
};

// One heap block holding a T, owned.
template <typename T>
using HeapPointer = UniqueResource<HeapTraits<T>>;

}  // namespace tavsn
