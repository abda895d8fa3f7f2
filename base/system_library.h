#pragma once
// The system DLLs that are not KnownDLLs (IP Helper, SetupAPI, the
// multimedia timer): Windows would look for them in the host program's
// folder first, where anyone who may write there could plant one. They are
// therefore never imported: each is loaded at run time by its full path in
// the system folder, once, and its functions are looked up by name.
//
// Each loaded library has one owner, this table; it is given back when
// tavsn.dll is unloaded (ReleaseSystemLibraries). Windows-only.

namespace tavsn {

enum class SystemLibrary { kIpHelper, kSetupApi, kMultimedia };
constexpr int kSystemLibraryCount = 3;

// The function `name` of `library`, loading the library from the system
// folder the first time; null when the folder, the load or the look-up
// fails, with the thread's last error saying why (as the call's own
// failure would).
void* SystemProcedure(SystemLibrary library, const char* name) noexcept;

template <typename Function>
Function SystemFunction(SystemLibrary library, const char* name) noexcept {
  return reinterpret_cast<Function>(SystemProcedure(library, name));
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

// The function `name` as declared by Windows' headers, from `library`.
#define TAVSN_SYSTEM_FUNCTION(library, name) \
  ::tavsn::SystemFunction<decltype(&::name)>(::tavsn::SystemLibrary::library, #name)

// Calls `name` of `library` with the arguments, or gives `failure`.
#define TAVSN_CALL_SYSTEM(library, name, failure, ...) \
  ::tavsn::CallOrFail(TAVSN_SYSTEM_FUNCTION(library, name), failure, __VA_ARGS__)
