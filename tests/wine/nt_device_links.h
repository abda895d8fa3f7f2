#pragma once
// Test support for the Wine test bed: Wine registers no NDIS device
// interfaces, so a device-interface path opens only when the process itself
// has made the \?? link that Windows would have made for the interface.

#include <cstdint>
#include <memory>

namespace tavsn::winetest {

// The NT symbolic links this process made; each one lasts exactly as long
// as its handle, so they all vanish when this object does.
class NdisInterfaceLinks {
 public:
  NdisInterfaceLinks();
  ~NdisInterfaceLinks();
  NdisInterfaceLinks(const NdisInterfaceLinks&) = delete;
  NdisInterfaceLinks& operator=(const NdisInterfaceLinks&) = delete;

  // Links \??\<pnp id, "\" as "#">#{ad498944-762f-11d0-8dcb-00c04fc3358c}
  // to \Device and returns the NTSTATUS of NtCreateSymbolicLinkObject.
  std::uint32_t Add(const char* pnp_instance_id);

 private:
  struct Handles;
  std::unique_ptr<Handles> handles_;
};

}  // namespace tavsn::winetest
