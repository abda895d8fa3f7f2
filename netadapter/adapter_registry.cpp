// The network adapters as the registry lists them under the adapter device
// class, each with its network configuration and Plug and Play identifiers.
#include <cstring>

#include "base/bounded_text.h"
#include "netadapter/cgetmac.h"

namespace tavsn {
namespace {

constexpr char16_t kAdapterClassKeyPath[] =
    u"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr char kNetworkClassKeyPath[] =
    "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\";
constexpr char kConnectionSubkey[] = "\\Connection";
constexpr std::uint32_t kSubkeyNameCapacity = 260;
constexpr std::size_t kConnectionKeyPathCapacity = 260;
constexpr std::uint32_t kAdapterSubkeyNameLength = 4;

bool IsAsciiLetterOrDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// Adapter instances sit under four-character subkeys ("0000", "0001", ...);
// the class key's other subkeys ("Properties" and the like) are no adapters.
bool IsAdapterSubkeyName(const char16_t* name, std::uint32_t length) {
  if (length != kAdapterSubkeyNameLength) return false;
  for (std::uint32_t i = 0; i < kAdapterSubkeyNameLength; ++i) {
    if (!IsAsciiLetterOrDigit(name[i])) return false;
  }
  return true;
}

// The value's registry type is not checked: drivers store these numbers
// under varying types.
// A value that reads with fewer than four bytes changes only those bytes of
// the number, as a read straight into the field would.
bool ReadNumberW(const RegistryKey& key, const char16_t* name, std::uint32_t& value) {
  std::uint32_t data = value;
  std::uint32_t size = sizeof data;
  if (netos::QueryValueW(key, name, &data, size) != netos::kSuccess) return false;
  value = data;
  return true;
}

bool ReadNumberA(const RegistryKey& key, const char* name, std::uint32_t& value) {
  std::uint32_t data = value;
  std::uint32_t size = sizeof data;
  if (netos::QueryValueA(key, name, &data, size) != netos::kSuccess) return false;
  value = data;
  return true;
}

// Registry text need not end with a zero byte. A value that fills the whole
// buffer without one is treated like a value too long for it, so that no
// reader ever runs past the buffer; a shorter one is terminated after the
// bytes returned. On failure the destination is left empty, whatever the
// query may have written into it.
bool ReadTextValue(const RegistryKey& key, const char* name, char* destination, std::uint32_t capacity) {
  if (capacity == 0) return false;
  std::uint32_t size = capacity;
  const bool stored = netos::QueryValueA(key, name, destination, size) == netos::kSuccess && size <= capacity &&
                      (size < capacity || std::memchr(destination, '\0', capacity) != nullptr);
  if (!stored) {
    destination[0] = '\0';
    return false;
  }
  if (size < capacity) destination[size] = '\0';
  return true;
}

}  // namespace

int CGetMac::EnumNetAdapters(HeapArray<NetAdapterRecord>& adapters) {
  adapters.clear();
  RegistryKey class_key;
  if (netos::OpenKeyW(nullptr, kAdapterClassKeyPath, class_key) != netos::kSuccess) return 0;
  std::uint32_t subkey_count = 0;
  if (netos::QuerySubkeyCount(class_key, subkey_count) != netos::kSuccess) return 0;
  // Reserved up front, so that keeping a record never allocates.
  if (!adapters.reserve(subkey_count)) return 0;

  for (std::uint32_t index = 0; index < subkey_count; ++index) {
    char16_t name[kSubkeyNameCapacity] = {};
    std::uint32_t length = 0;
    if (netos::EnumSubkey(class_key, index, name, kSubkeyNameCapacity, length) != netos::kSuccess) {
      continue;
    }
    if (!IsAdapterSubkeyName(name, length)) continue;
    NetAdapterRecord record;
    if (ReadAdapterValues(class_key, name, record)) adapters.push_back(record);
  }
  return static_cast<int>(adapters.size());
}

bool CGetMac::ReadAdapterValues(const RegistryKey& class_key, const char16_t* subkey_name, NetAdapterRecord& record) {
  RegistryKey adapter_key;
  if (netos::OpenKeyW(&class_key, subkey_name, adapter_key) != netos::kSuccess) return false;
  ReadNumberW(adapter_key, u"*IfType", record.if_type);
  ReadNumberA(adapter_key, "Characteristics", record.characteristics);
  ReadTextValue(adapter_key, "DriverDesc", record.driver_desc, sizeof record.driver_desc);
  const bool has_net_cfg_instance_id =
      ReadTextValue(adapter_key, "NetCfgInstanceId", record.net_cfg_instance_id, sizeof record.net_cfg_instance_id);
  adapter_key.reset();
  if (!has_net_cfg_instance_id) return false;
  return ReadPnpInstanceId(record.net_cfg_instance_id, record.pnp_instance_id, sizeof record.pnp_instance_id);
}

bool CGetMac::ReadPnpInstanceId(const char* net_cfg_instance_id, char* destination, std::uint32_t capacity) {
  char path[kConnectionKeyPathCapacity] = {};
  AppendBounded(path, sizeof path, kNetworkClassKeyPath);
  AppendBounded(path, sizeof path, net_cfg_instance_id);
  AppendBounded(path, sizeof path, kConnectionSubkey);
  RegistryKey connection_key;
  if (netos::OpenKeyA(nullptr, path, connection_key) != netos::kSuccess) return false;
  return ReadTextValue(connection_key, "PnpInstanceID", destination, capacity);
}

}  // namespace tavsn
