// The owners of the probes' platform handles, the same over the real layer
// and its fake: each releases through the layer's own close function.
#include "fingerprint/probe_platform.h"

namespace tavsn::probeos {

RegistryKey::~RegistryKey() { reset(); }

void RegistryKey::reset(void* handle) noexcept {
  if (handle_ != nullptr) CloseRegistryKey(handle_);
  handle_ = handle;
}

DiskHandle::~DiskHandle() { reset(nullptr, false); }

void DiskHandle::reset(void* handle, bool open) noexcept {
  if (open_) CloseDisk(handle_);
  handle_ = handle;
  open_ = open;
}

}  // namespace tavsn::probeos
