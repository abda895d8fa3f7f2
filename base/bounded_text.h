#pragma once
// Bounded copies into the fixed-size text buffers of the adapter records and
// device paths: the result is always terminated and never leaves its buffer,
// and a source buffer without a terminator is read no further than its size.

#include <cstddef>
#include <cstdint>

namespace tavsn {

// Length of `text`, looking at no more than `capacity` bytes.
inline std::size_t BoundedLength(const char* text, std::size_t capacity) {
  std::size_t length = 0;
  while (length < capacity && text[length] != '\0') ++length;
  return length;
}

// Appends as much of `text` (at most `text_capacity` bytes of it) as fits
// into `destination`, which holds `capacity` bytes and is already
// terminated. Longer results are cut, never overflowed.
inline void AppendBounded(char* destination, std::size_t capacity, const char* text,
                          std::size_t text_capacity = SIZE_MAX) {
  if (capacity == 0) return;
  std::size_t used = BoundedLength(destination, capacity - 1);
  for (std::size_t i = 0; i < text_capacity && text[i] != '\0' && used < capacity - 1; ++i) {
    destination[used++] = text[i];
  }
  destination[used] = '\0';
}

}  // namespace tavsn
