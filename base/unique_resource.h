#pragma once
// The one owner of every operating-system resource the library holds:
// registry keys, kernel handles, device information sets, loaded libraries,
// COM interfaces and heap blocks. A traits type per kind says what "no
// resource" looks like and how one is given back:
//
//   struct Traits {
//     using Handle = ...;
//     static Handle Invalid() noexcept;
//     static void Release(Handle handle) noexcept;
//   };
//
// Release is called exactly once for every valid handle the owner ever
// held, on whatever path the owner leaves scope.

#include <utility>

namespace tavsn {

template <typename Traits>
class UniqueResource {
 public:
  using Handle = typename Traits::Handle;

  UniqueResource() noexcept : handle_(Traits::Invalid()) {}
  explicit UniqueResource(Handle handle) noexcept : handle_(handle) {}
  UniqueResource(UniqueResource&& other) noexcept : handle_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { reset(); }

  bool is_valid() const noexcept { return handle_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return is_valid(); }
  Handle get() const noexcept { return handle_; }

  // Gives the handle up without releasing it.
  Handle release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

  // Releases what is held and takes `handle` instead.
  void reset(Handle handle = Traits::Invalid()) noexcept {
    const Handle old = std::exchange(handle_, handle);
    if (old != Traits::Invalid() && old != handle) Traits::Release(old);
  }

 private:
  Handle handle_;
};

}  // namespace tavsn
