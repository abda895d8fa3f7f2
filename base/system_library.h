#pragma once
// The system DLLs that are not KnownDLLs (IP Helper, SetupAPI, the
// multimedia timer): Windows would look for them in the host program's
// folder first, where anyone who may write there could plant one. They are
// therefore never imported: each is loaded at run time by its full path in
// the system folder, once, and its functions are looked up by name.
//
// Each loaded library has one owner, this table; it is given back when
// tavsn.dll is unloaded (ReleaseSystemLibraries). Windows-only.
//
// Each call site looks its function up once per load of tavsn.dll and keeps
// the address (TAVSN_SYSTEM_FUNCTION); otherwise every call of such a
// function would first take the table's lock and search the library's
// exports by name, and an adapter search through SetupAPI makes dozens.

#include <atomic>

namespace tavsn {

enum class SystemLibrary { kIpHelper, kSetupApi, kMultimedia };
constexpr int kSystemLibraryCount = 3;

// The function `name` of `library`, loading the library from the system
// folder the first time; null when the folder, the load or the look-up
// fails, with the thread's last error saying why (as the call's own
// failure would).
void* SystemProcedure(SystemLibrary library, const char* name) noexcept;

// SystemProcedure, kept in `found` by the first look-up that succeeds: later
// calls read it without a lock. A failed look-up is not kept, so the next
// call tries again and sets the last error as the first did. Threads that
// look up at once all store the same address. The address stays valid as
// long as `found` does: both belong to the loaded tavsn.dll, and the
// libraries are freed only when it is unloaded.
inline void* KeptSystemProcedure(SystemLibrary library, const char* name, std::atomic<void*>& found) noexcept {
  void* known = found.load(std::memory_order_acquire);
  if (known != nullptr) return known;
  known = SystemProcedure(library, name);
  if (known != nullptr) found.store(known, std::memory_order_release);
  return known;
}

template <typename Function>
Function SystemFunction(SystemLibrary library, const char* name, std::atomic<void*>& found) noexcept {
  return reinterpret_cast<Function>(KeptSystemProcedure(library, name, found));
}

// `function(arguments...)`, or `failure` when the function could not be had
// (the last error then says why).
template <typename Function, typename Result, typename... Arguments>
auto CallOrFail(Function function, Result failure, Arguments... arguments) noexcept {
  using Returned = decltype(function(arguments...));
  return function != nullptr ? function(arguments...) : static_cast<Returned>(failure);
}

// SetupDiDestroyDeviceInfoList, found when SetupAPI was loaded (so that
// giving a set back never depends on a look-up that could fail); null
// while SetupAPI is not loaded, and then no set can be open.
void* SetupApiDestroyDeviceInfoList() noexcept;

// Frees every library loaded. Called when tavsn.dll is unloaded, not when
// the process is ending.
void ReleaseSystemLibraries() noexcept;

}  // namespace tavsn

// The function `name` as declared by Windows' headers, from `library`,
// looked up once per call site (the lambda's static is the site's own).
#define TAVSN_SYSTEM_FUNCTION(library, name)                                                          \
  ([]() noexcept {                                                                                    \
    static constinit std::atomic<void*> found{nullptr};                                               \
    return ::tavsn::SystemFunction<decltype(&::name)>(::tavsn::SystemLibrary::library, #name, found); \
  }())

// Calls `name` of `library` with the arguments, or gives `failure`.
#define TAVSN_CALL_SYSTEM(library, name, failure, ...) \
  ::tavsn::CallOrFail(TAVSN_SYSTEM_FUNCTION(library, name), failure, __VA_ARGS__)
