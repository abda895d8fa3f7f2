// The stack protector's cookie and its failure, for code compiled with
// -fstack-protector-strong. libssp would bring its own, but it draws its
// cookie through CryptoAPI while the loader lock is held, at every load of
// the library: a provider load inside the host's LoadLibrary. The cookie is
// instead mixed, as Microsoft's runtime mixes its own, from values that
// differ between processes and loads.
#include <windows.h>

#include <cstdint>

#include "base/stack_protector.h"

extern "C" {

// Not zero before the first seeding either, so that a string copy can never
// write it.
std::uintptr_t __stack_chk_guard = static_cast<std::uintptr_t>(0x2B992DDFA232ULL);

// A smashed stack: the host's state can no longer be trusted, so the
// process ends at once, as Windows ends a program whose own cookie failed.
[[noreturn]] void __stack_chk_fail(void) {
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(STATUS_STACK_BUFFER_OVERRUN));
  for (;;) {
  }
}
}

namespace tavsn {

// Runs from the entry point before any protected function of the library
// has a frame; it has no protected frame of its own either.
__attribute__((no_stack_protector)) void SeedStackCookie(void* module) noexcept {
  FILETIME time{};
  ::GetSystemTimeAsFileTime(&time);
  LARGE_INTEGER counter{};
  ::QueryPerformanceCounter(&counter);
  std::uint64_t mixed = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) ^ time.dwLowDateTime;
  mixed ^= static_cast<std::uint64_t>(counter.QuadPart);
  mixed ^= static_cast<std::uint64_t>(::GetCurrentProcessId()) << 24;
  mixed ^= static_cast<std::uint64_t>(::GetCurrentThreadId()) << 8;
  mixed ^= ::GetTickCount();
  mixed ^= reinterpret_cast<std::uintptr_t>(module) ^ reinterpret_cast<std::uintptr_t>(&time);
  // A zero byte at the bottom stops string copies that run over it.
  const auto cookie = static_cast<std::uintptr_t>(mixed ^ (mixed >> 32)) & ~static_cast<std::uintptr_t>(0xFF);
  if (cookie != 0) __stack_chk_guard = cookie;
}

}  // namespace tavsn
