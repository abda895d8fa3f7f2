#pragma once
// A lock that needs no setup and no teardown: zero is unlocked, so a static
// one is ready before any constructor runs and leaves nothing behind when the
// library is unloaded. It is held only for a few memory copies and one write
// of a log line, so waiting threads simply yield.

namespace tavsn {

class SpinLock {
 public:
  constexpr SpinLock() = default;
  SpinLock(const SpinLock&) = delete;
  SpinLock& operator=(const SpinLock&) = delete;
  void lock() noexcept;
  // Takes the lock only when it is free at once; false when it is held.
  [[nodiscard]] bool try_lock() noexcept;
  void unlock() noexcept;

 private:
  volatile long state_ = 0;
};

class SpinLockGuard {
 public:
  explicit SpinLockGuard(SpinLock& lock) noexcept : lock_(lock) { lock_.lock(); }
  ~SpinLockGuard() { lock_.unlock(); }
  SpinLockGuard(const SpinLockGuard&) = delete;
  SpinLockGuard& operator=(const SpinLockGuard&) = delete;

 private:
  SpinLock& lock_;
};

}  // namespace tavsn
