// The owners of the layer's handles. Each releases what it holds through the
// layer's own release function, so the portable code never needs to know
// what a handle is.
#include "netadapter/net_platform.h"

namespace tavsn::netos {

RegKey& RegKey::operator=(RegKey&& other) noexcept {
  if (this != &other) {
    reset(other.handle_);
    other.handle_ = nullptr;
  }
  return *this;
}

RegKey::~RegKey() { reset(); }

void RegKey::reset(void* handle) {
  if (handle_ != nullptr && handle_ != handle) CloseRegKey(handle_);
  handle_ = handle;
}

DeviceHandle::~DeviceHandle() { reset(nullptr, false); }

// A device handle can legitimately be any value but INVALID_HANDLE_VALUE, so
// openness is tracked apart from the value.
void DeviceHandle::reset(void* handle, bool open) {
  if (open_) CloseDevice(handle_);
  handle_ = handle;
  open_ = open;
}

DevInfoSet::~DevInfoSet() { reset(nullptr, false); }

void DevInfoSet::reset(void* handle, bool open) {
  if (open_) DestroyDevInfoSet(handle_);
  handle_ = handle;
  open_ = open;
}

LoadedLibrary::~LoadedLibrary() { reset(); }

void LoadedLibrary::reset(void* handle) {
  if (handle_ != nullptr && handle_ != handle) FreeLoadedLibrary(handle_);
  handle_ = handle;
}

}  // namespace tavsn::netos
