#pragma once
// Holds a process-wide object that is constructed at load and never
// destroyed by the C++ runtime: its owner releases what it holds at the
// right moment itself (see the library's entry point), and a process that is
// ending must not run code that could wait for a lock a killed thread held.

#include <new>
#include <utility>

namespace tavsn {

template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  explicit NoDestructor(Args&&... args) {
    new (storage_) T(std::forward<Args>(args)...);
  }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;

  T& get() noexcept { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace tavsn
