#pragma once
// For tests and fuzz targets only: reaches CGetMac's private operations.
// Free of GoogleTest, so that the libFuzzer targets can use it too.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "netadapter/cgetmac.h"

namespace tavsn {

struct CGetMacTestPeer {
  // The records are copied out, so that tests can compare them freely.
  static int EnumNetAdapters(std::vector<NetAdapterRecord>& adapters) {
    HeapArray<NetAdapterRecord> records;
    const int count = CGetMac().EnumNetAdapters(records);
    adapters.assign(records.begin(), records.end());
    return count;
  }
  static char* BuildDevicePath(const NetAdapterRecord& record, char* destination, std::size_t capacity) {
    return CGetMac().BuildDevicePath(record, destination, capacity);
  }
  static bool NdisCmd(const char* device_path, char* mac_text) { return CGetMac().NdisCmd(device_path, mac_text); }
  static char* FormatMac(const std::uint8_t* address, char* destination) {
    return CGetMac().FormatMac(address, destination);
  }
  static std::uint64_t ParseMac(const char* mac_text) { return CGetMac().ParseMac(mac_text); }
  static bool IsVista() { return CGetMac().IsVista(); }
  static bool SetApiStaCha(std::uint32_t state_change, std::uint32_t member_index, const DeviceInfoSet& set) {
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
