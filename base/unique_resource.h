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
// held, on whatever path the owner leaves scope. Each kind has a handle type
// of its own, so that a key, a device set or a COM interface of one kind is
// never adopted by the owner of another.

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

  // Gives the handle up without releasing it: whoever takes it owns it.
  [[nodiscard]] Handle release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

  // For a call that returns a new handle through an out parameter: releases
  // what is held, then lets the call write the new one straight in.
  Handle* put() noexcept {
    reset();
    return &handle_;
  }

  // Releases what is held and takes `handle` instead.
  void reset(Handle handle = Traits::Invalid()) noexcept {
    const Handle old = std::exchange(handle_, handle);
    if (old != Traits::Invalid() && old != handle) Traits::Release(old);
  }

 private:
  Handle handle_;
};

}  // namespace tavsn
