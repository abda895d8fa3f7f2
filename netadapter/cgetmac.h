#pragma once
// CGetMac lists the machine's MAC addresses: the permanent (factory)
// addresses of the physical adapters, read from their drivers, and two
// weaker sources for machines where none can be read. It has no state: every
// call reads the registry and the drivers afresh.

#include <cstdint>

#include "base/heap_array.h"
#include "netadapter/net_platform.h"

namespace tavsn {

// 12 uppercase hexadecimal digits, address order, and a terminating zero.
struct MacText {
  char digits[13];
};

// The MAC texts a CGetMac operation found, in its order. An entry that could
// not be stored for want of memory marks the list as failed: the caller then
// has no trustworthy list at all.
class MacList {
 public:
  int size() const { return static_cast<int>(texts_.size()); }
  const char* operator[](int index) const { return texts_[static_cast<std::size_t>(index)].digits; }
  bool failed() const { return failed_; }

  void clear() {
    texts_.clear();
    failed_ = false;
  }
  // Copies at most 12 characters of `text`.
  void Append(const char* text) {
    MacText entry{};
    for (std::size_t i = 0; i + 1 < sizeof entry.digits && text[i] != '\0'; ++i) {
      entry.digits[i] = text[i];
    }
    if (!texts_.push_back(entry)) failed_ = true;
  }
  void MarkFailed() { failed_ = true; }

 private:
  HeapArray<MacText> texts_;
  bool failed_ = false;
};

// One adapter as the registry lists it.
struct NetAdapterRecord {
  std::int32_t outcome = 0;           // kOutcome* below
  std::uint32_t if_type = 1;          // "*IfType"; 1 when it cannot be read
  std::uint32_t characteristics = 0;  // "Characteristics"; bit 0x4 is NCF_PHYSICAL
  char pnp_instance_id[200] = {};
  char net_cfg_instance_id[64] = {};
  char driver_desc[64] = {};
  char mac_text[16] = {};
};

// What became of one adapter during GetPhysicalMac.
constexpr std::int32_t kOutcomeRead = 0;
constexpr std::int32_t kOutcomeTypeNotSupported = -1;
constexpr std::int32_t kOutcomeNotPhysical = -2;
constexpr std::int32_t kOutcomeSetupApiUnderWay = 1;
constexpr std::int32_t kOutcomeQueryFailed = 2;
constexpr std::int32_t kOutcomeSetupApiFailed = 3;
constexpr std::int32_t kOutcomeNotAdmin = 4;

class CGetMac {
 public:
  // Each clears `macs` first and returns the number of entries at the end.
  int GetPhysicalMac(MacList& macs);
  int GetMacFromPCI(MacList& macs);
  int GetUUIDMac(MacList& macs);

 private:
  friend struct CGetMacTestPeer;

  // Registry enumeration.
  int EnumNetAdapters(HeapArray<NetAdapterRecord>& adapters);
  bool ReadAdapterValues(const RegistryKey& class_key, const char16_t* subkey_name, NetAdapterRecord& record);
  bool ReadPnpInstanceId(const char* net_cfg_instance_id, char* destination, std::uint32_t capacity);

  // Permanent-address query.
  char* BuildDevicePath(const NetAdapterRecord& record, char* destination, std::size_t capacity);
  bool NdisCmd(const char* device_path, char* mac_text);
  char* FormatMac(const std::uint8_t* address, char* destination);
  std::uint64_t ParseMac(const char* mac_text);

  // SetupAPI device control.
  bool IsVista();
  bool SetApiStaCha(std::uint32_t state_change, std::uint32_t member_index, const DeviceInfoSet& set);
  bool SetApiGetAdrr(const char* device_path, char* mac_text);
  // The enable, read, disable sequence for the interface at `member_index`
  // whose path SetupAPI gave as `interface_path`.
  bool ReadThroughInterface(const DeviceInfoSet& set, std::uint32_t member_index, const char* interface_path,
                            char* mac_text);

  // One adapter's turn in GetPhysicalMac: sets its outcome and MAC text.
  void ReadAdapterAddress(NetAdapterRecord& record, int index, bool is_admin);
};

}  // namespace tavsn
