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

// The handle types of Windows' headers that are pointers to structs of their
// own, declared as those headers declare them, and the COM interfaces the
// library holds: so portable files name them without <windows.h>.
struct HKEY__;       // HKEY
struct HINSTANCE__;  // HMODULE
struct IUnknown;
struct IWbemLocator;
struct IWbemServices;
struct IEnumWbemClassObject;
struct IWbemClassObject;

namespace tavsn {

// Kernel handles, device information sets and global memory are all void*
// in Windows' headers; here each is a pointer to a type of its own.
struct FileObject;           // CreateFile: files and devices
struct KernelObject;         // events, mutexes, threads
struct DeviceInfoSetObject;  // SetupDiGetClassDevs
struct GlobalBlock;          // GlobalAlloc

// What Windows reports as INVALID_HANDLE_VALUE: files and devices from
// CreateFile, device information sets.
template <typename Object>
Object* AllOnesHandle() noexcept {
  return reinterpret_cast<Object*>(~std::uintptr_t{0});
}

void CloseRegistryKey(HKEY__* key) noexcept;
void CloseFile(FileObject* file) noexcept;
void CloseKernelHandle(KernelObject* handle) noexcept;
void ReleaseHeldMutex(KernelObject* mutex) noexcept;
void DestroyDeviceInfoSet(DeviceInfoSetObject* set) noexcept;
void FreeLoadedLibrary(HINSTANCE__* module) noexcept;
void ReleaseComInterface(IUnknown* unknown) noexcept;
void FreeGlobalMemory(GlobalBlock* memory) noexcept;

struct RegistryKeyTraits {
  using Handle = HKEY__*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle key) noexcept { CloseRegistryKey(key); }
};

// Files and devices opened with CreateFile.
struct FileHandleTraits {
  using Handle = FileObject*;
  static Handle Invalid() noexcept { return AllOnesHandle<FileObject>(); }
  static void Release(Handle handle) noexcept { CloseFile(handle); }
};

// Kernel objects whose creation reports failure as a null handle: events,
// mutexes, threads.
struct KernelHandleTraits {
  using Handle = KernelObject*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept { CloseKernelHandle(handle); }
};

// The ownership of a mutex that a wait acquired: given back with
// ReleaseMutex, before the mutex's own handle is closed.
struct HeldMutexTraits {
  using Handle = KernelObject*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle mutex) noexcept { ReleaseHeldMutex(mutex); }
};

struct DeviceInfoSetTraits {
  using Handle = DeviceInfoSetObject*;
  static Handle Invalid() noexcept { return AllOnesHandle<DeviceInfoSetObject>(); }
  static void Release(Handle set) noexcept { DestroyDeviceInfoSet(set); }
};

struct LibraryTraits {
  using Handle = HINSTANCE__*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle module) noexcept { FreeLoadedLibrary(module); }
};

// One COM interface, released through IUnknown. Only the interfaces named
// here are held; each derives from IUnknown in Windows' headers, which is
// how ReleaseComInterface sees it.
template <typename Interface>
struct ComInterfaceTraits {
  using Handle = Interface*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle held) noexcept { ReleaseComInterface(reinterpret_cast<IUnknown*>(held)); }
};

// GlobalAlloc blocks, which some system calls want.
struct GlobalMemoryTraits {
  using Handle = GlobalBlock*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle memory) noexcept { FreeGlobalMemory(memory); }
};

using RegistryKey = UniqueResource<RegistryKeyTraits>;
using FileHandle = UniqueResource<FileHandleTraits>;
using KernelHandle = UniqueResource<KernelHandleTraits>;
using HeldMutex = UniqueResource<HeldMutexTraits>;
using DeviceInfoSet = UniqueResource<DeviceInfoSetTraits>;
using LoadedLibrary = UniqueResource<LibraryTraits>;
template <typename Interface>
using ComPtr = UniqueResource<ComInterfaceTraits<Interface>>;
using WbemLocator = ComPtr<IWbemLocator>;
using WbemServices = ComPtr<IWbemServices>;
using WbemEnumerator = ComPtr<IEnumWbemClassObject>;
using WbemObject = ComPtr<IWbemClassObject>;
using GlobalMemory = UniqueResource<GlobalMemoryTraits>;

}  // namespace tavsn
