// The permanent (factory) address of one adapter, asked of its NDIS driver
// through the adapter's LAN-class device interface, and the MAC text and
// value forms of an address.

#include "log/diag_log.h"
#include "base/bounded_text.h"
#include "netadapter/cgetmac.h"

namespace tavsn {
namespace {

constexpr char kDevicePathPrefix[] = "\\\\?\\";
// GUID_NDIS_LAN_CLASS, the interface class every NDIS LAN adapter exposes.
constexpr char kNdisLanClassSuffix[] = "#{ad498944-762f-11d0-8dcb-00c04fc3358c}";
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr int kMacBytes = 6;

// Device interface paths use "#" where the instance identifier has "\".
void ReplaceBackslashes(char* text) {
  for (; *text != '\0'; ++text) {
    if (*text == '\\') *text = '#';
  }
}

}  // namespace

char* CGetMac::BuildDevicePath(const NetAdapterRecord& record, char* destination, std::size_t capacity) {
  if (capacity == 0) return destination;
  destination[0] = '\0';
  AppendBounded(destination, capacity, kDevicePathPrefix);
  const std::size_t instance_start = BoundedLength(destination, capacity);
  AppendBounded(destination, capacity, record.pnp_instance_id, sizeof record.pnp_instance_id);
  ReplaceBackslashes(destination + instance_start);
  AppendBounded(destination, capacity, kNdisLanClassSuffix);
  // The configuration identifier is the interface's reference string.
  if (record.net_cfg_instance_id[0] != '\0') {
    AppendBounded(destination, capacity, "\\");
    AppendBounded(destination, capacity, record.net_cfg_instance_id, sizeof record.net_cfg_instance_id);
  }
  return destination;
}

// The caller decides on the error code, so it must survive the log line and
// the close: both are taken care of before the code is put back.
bool CGetMac::NdisCmd(const char* device_path, char* mac_text) {
  FileHandle device;
  if (!netos::OpenDeviceForQuery(device_path, device)) {
    const std::uint32_t code = netos::LastError();
    DiagLine(ProcessLog()) << "NdisCmd CreatFile Fail [" << device_path << "] ErrorCode [" << code << "].";
    netos::SetLastError(code);
    return false;
  }
  std::uint8_t answer[8] = {};
  if (!netos::QueryPermanentAddress(device, answer)) {
    const std::uint32_t code = netos::LastError();
    DiagLine(ProcessLog()) << "NdisCmd IoCtrl Fail [" << device_path << "] ErrorCode [" << code << "].";
    device.reset();
    netos::SetLastError(code);
    return false;
  }
  FormatMac(answer, mac_text);
  return true;
}

namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

char* CGetMac::FormatMac(const std::uint8_t* address, char* destination) {
  for (int i = 0; i < kMacBytes; ++i) {
    destination[2 * i] = kHexDigits[address[i] >> 4];
    destination[2 * i + 1] = kHexDigits[address[i] & 0x0F];
  }
  destination[2 * kMacBytes] = '\0';
  return destination;
}

// Six fields of one or two hex digits each, as the "%02X" scan reads them.
// Written out by hand: the C library's scanner would add tens of kilobytes
// to the library for this one call.
std::uint64_t CGetMac::ParseMac(const char* mac_text) {
  std::uint64_t value = 0;
  const char* cursor = mac_text;
  for (int field = 0; field < kMacBytes; ++field) {
    int digits = 0;
    unsigned int byte = 0;
    for (; digits < 2; ++digits, ++cursor) {
      const int digit = HexDigitValue(*cursor);
      if (digit < 0) break;
      byte = byte * 16 + static_cast<unsigned int>(digit);
    }
    if (digits == 0) return 0;
    value = (value << 8) | byte;
  }
  return value;
}

}  // namespace tavsn
