#pragma once
// For tests only: reaches CGetMac's private operations.
#include "netadapter/cgetmac.h"

namespace tavsn {

struct CGetMacTestPeer {
  static int EnumNetAdapters(std::vector<NetAdapterRecord>& adapters) {
    return CGetMac().EnumNetAdapters(adapters);
  }
  static char* BuildDevicePath(const NetAdapterRecord& record, char* destination,
                               std::size_t capacity) {
    return CGetMac().BuildDevicePath(record, destination, capacity);
  }
  static bool NdisCmd(const char* device_path, char* mac_text) {
    return CGetMac().NdisCmd(device_path, mac_text);
  }
  static char* FormatMac(const std::uint8_t* address, char* destination) {
    return CGetMac().FormatMac(address, destination);
  }
  static std::uint64_t ParseMac(const char* mac_text) { return CGetMac().ParseMac(mac_text); }
  static bool IsVista() { return CGetMac().IsVista(); }
  static bool SetApiStaCha(std::uint32_t state_change, std::uint32_t member_index,
                           const netos::DevInfoSet& set) {
    return CGetMac().SetApiStaCha(state_change, member_index, set);
  }
  static bool SetApiGetAdrr(const char* device_path, char* mac_text) {
    return CGetMac().SetApiGetAdrr(device_path, mac_text);
  }
  static void ReadAdapterAddress(NetAdapterRecord& record, int index, bool is_admin) {
    CGetMac().ReadAdapterAddress(record, index, is_admin);
  }
};

}  // namespace tavsn
