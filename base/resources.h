#pragma once
// The kinds of resource the library holds, each a traits type for
// UniqueResource. Handles are opaque here; resources_win32.cpp gives each
// back to Windows, and the native tests link a fake that records it.
//
// Every Release keeps the calling thread's last-error value: owners release
// on the way out of the very functions whose failure the caller then reads.

#include <cstddef>
#include <cstdint>

#include "base/unique_resource.h"

namespace tavsn {

// Handles that Windows reports as INVALID_HANDLE_VALUE when there is none:
// files and devices from CreateFile, device information sets.
inline void* AllOnesHandle() noexcept { return reinterpret_cast<void*>(~std::uintptr_t{0}); }

void CloseRegistryKey(void* key) noexcept;
void CloseKernelHandle(void* handle) noexcept;
void ReleaseHeldMutex(void* mutex) noexcept;
void DestroyDeviceInfoSet(void* set) noexcept;
void FreeLoadedLibrary(void* module) noexcept;
void ReleaseComInterface(void* unknown) noexcept;
void FreeGlobalMemory(void* memory) noexcept;

struct RegistryKeyTraits {
  using Handle = void*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle key) noexcept { CloseRegistryKey(key); }
};

// Files and devices opened with CreateFile.
struct FileHandleTraits {
  using Handle = void*;
  static Handle Invalid() noexcept { return AllOnesHandle(); }
  static void Release(Handle handle) noexcept { CloseKernelHandle(handle); }
};

// Kernel objects whose creation reports failure as a null handle: events,
// mutexes, threads.
struct KernelHandleTraits {
  using Handle = void*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept { CloseKernelHandle(handle); }
};

// The ownership of a mutex that a wait acquired: given back with
// ReleaseMutex, before the mutex's own handle is closed.
struct HeldMutexTraits {
  using Handle = void*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle mutex) noexcept { ReleaseHeldMutex(mutex); }
};

struct DeviceInfoSetTraits {
  using Handle = void*;
  static Handle Invalid() noexcept { return AllOnesHandle(); }
  static void Release(Handle set) noexcept { DestroyDeviceInfoSet(set); }
};

struct LibraryTraits {
  using Handle = void*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle module) noexcept { FreeLoadedLibrary(module); }
};

// Any COM interface, released through IUnknown.
struct ComInterfaceTraits {
  using Handle = void*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle unknown) noexcept { ReleaseComInterface(unknown); }
};

// GlobalAlloc blocks, which some system calls want.
struct GlobalMemoryTraits {
  using Handle = void*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle memory) noexcept { FreeGlobalMemory(memory); }
};

using RegistryKey = UniqueResource<RegistryKeyTraits>;
using FileHandle = UniqueResource<FileHandleTraits>;
using KernelHandle = UniqueResource<KernelHandleTraits>;
using HeldMutex = UniqueResource<HeldMutexTraits>;
using DeviceInfoSet = UniqueResource<DeviceInfoSetTraits>;
using LoadedLibrary = UniqueResource<LibraryTraits>;
using ComInterface = UniqueResource<ComInterfaceTraits>;
using GlobalMemory = UniqueResource<GlobalMemoryTraits>;

}  // namespace tavsn
