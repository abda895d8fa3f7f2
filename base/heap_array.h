#pragma once
// A growable array of plain records on the process heap. Growth reports
// failure as false and leaves the array as it was, so a caller that runs out
// of memory ends its call with an ordinary result instead of unwinding.

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "base/process_heap.h"

namespace tavsn {

template <typename T>
class HeapArray {
  // Elements move by byte copies.
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  HeapArray() = default;
  HeapArray(HeapArray&& other) noexcept
      : block_(std::move(other.block_)), size_(other.size_), capacity_(other.capacity_) {
    other.size_ = 0;
    other.capacity_ = 0;
  }
  HeapArray& operator=(HeapArray&& other) noexcept {
    block_ = std::move(other.block_);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    return *this;
  }
  HeapArray(const HeapArray&) = delete;
  HeapArray& operator=(const HeapArray&) = delete;

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  T* data() noexcept { return block_.get(); }
  const T* data() const noexcept { return block_.get(); }
  T& operator[](std::size_t index) noexcept { return block_.get()[index]; }
  const T& operator[](std::size_t index) const noexcept { return block_.get()[index]; }
  T* begin() noexcept { return data(); }
  T* end() noexcept { return data() + size_; }
  const T* begin() const noexcept { return data(); }
  const T* end() const noexcept { return data() + size_; }

  // Keeps the storage for the next use.
  void clear() noexcept { size_ = 0; }

  // Room for `count` elements in all, so that adding up to it cannot fail.
  bool reserve(std::size_t count) noexcept {
    if (count <= capacity_) return true;
    if (count > kMostElements) return false;
    T* grown = static_cast<T*>(HeapReallocate(block_.get(), count * sizeof(T)));
    if (grown == nullptr) return false;
    // The reallocation took the old block over: it is let go, not freed.
    static_cast<void>(block_.release());
    block_.reset(grown);
    capacity_ = count;
    return true;
  }

  bool push_back(const T& element) noexcept { return insert(size_, element); }

  // Inserts before `position` (at most size()).
  bool insert(std::size_t position, const T& element) noexcept {
    if (size_ == capacity_ && !reserve(capacity_ < 4 ? 4 : capacity_ * 2)) return false;
    T* at = data() + position;
    std::memmove(static_cast<void*>(at + 1), at, (size_ - position) * sizeof(T));
    std::memcpy(static_cast<void*>(at), &element, sizeof(T));
    ++size_;
    return true;
  }

  // Sets the size, growing with zero-filled elements.
  bool resize(std::size_t count) noexcept {
    if (!reserve(count)) return false;
    if (count > size_) std::memset(static_cast<void*>(data() + size_), 0, (count - size_) * sizeof(T));
    size_ = count;
    return true;
  }

 private:
  static constexpr std::size_t kMostElements = (std::size_t{1} << 30) / sizeof(T);

  HeapPointer<T> block_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace tavsn
