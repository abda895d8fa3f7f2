// The permanent addresses of the machine's physical adapters: each accepted
// adapter's driver is asked for its factory address, and with administrator
// rights a disabled adapter is enabled briefly to be asked as well.
#include "log/diag_log.h"
#include "netadapter/cgetmac.h"

namespace tavsn {
namespace {

constexpr std::uint32_t kIfTypePpp = 23;
constexpr std::uint32_t kIfTypeSoftwareLoopback = 24;
constexpr std::uint32_t kIfTypeSlip = 28;
constexpr std::uint32_t kNcfPhysical = 0x4;
constexpr std::size_t kDevicePathCapacity = 513;

// Dial-up, serial-line and loopback interfaces have no burnt-in address.
bool IsUnsupportedInterfaceType(std::uint32_t if_type) {
  return if_type == kIfTypePpp || if_type == kIfTypeSlip || if_type == kIfTypeSoftwareLoopback;
}

// The errors of an interface whose driver is not loaded: the adapter may
// be disabled, which only the SetupAPI read can get round.
bool MayBeDisabledAdapter(std::uint32_t error) {
  return error == netos::kErrorPathNotFound || error == netos::kErrorGenFailure;
}

struct FoundAddress {
  std::uint64_t value;
  const char* text;  // the adapter record's MAC text
};

// Keeps `found` ascending by value; an address two adapters report is
// listed once, for the first of them. False when there was no memory.
bool AddAddress(HeapArray<FoundAddress>& found, std::uint64_t value, const char* text) {
  std::size_t position = 0;
  while (position < found.size() && found[position].value < value) ++position;
  if (position < found.size() && found[position].value == value) return true;
  return found.insert(position, FoundAddress{value, text});
}

}  // namespace

void CGetMac::ReadAdapterAddress(NetAdapterRecord& record, int index, bool is_admin) {
  if (IsUnsupportedInterfaceType(record.if_type)) {
    DiagLine(ProcessLog()) << "IF.TYPE No Support Index [" << index << "] Desc [" << record.driver_desc << "] Type ["
                           << record.if_type << "].";
    record.outcome = kOutcomeTypeNotSupported;
    return;
  }
  if ((record.characteristics & kNcfPhysical) == 0) {
    DiagLine(ProcessLog()) << "IF.Characteristics No Support Index [" << index << "] Desc [" << record.driver_desc
                           << "] Value [" << record.characteristics << "].";
    record.outcome = kOutcomeNotPhysical;
    return;
  }

  char device_path[kDevicePathCapacity] = {};
  BuildDevicePath(record, device_path, sizeof device_path);
  if (NdisCmd(device_path, record.mac_text)) return;

  const std::uint32_t code = netos::LastError();
  DiagLine(ProcessLog()) << "NdisCmd Fail Index [" << index << "] Desc [" << record.driver_desc << "] DevicePath ["
                         << device_path << "] ErrorCode [" << code << "].";
  if (!is_admin) {
    record.outcome = kOutcomeNotAdmin;
  } else if (!MayBeDisabledAdapter(code)) {
    record.outcome = kOutcomeQueryFailed;
  } else {
    record.outcome = kOutcomeSetupApiUnderWay;
    if (SetApiGetAdrr(device_path, record.mac_text)) {
      record.outcome = kOutcomeRead;
    } else {
      record.outcome = kOutcomeSetupApiFailed;
      DiagLine(ProcessLog()) << "SetApi Fail Index [" << index << "] Desc [" << record.driver_desc << "] DevicePath ["
                             << device_path << "] ErrorCode [" << code << "].";
    }
  }
}

int CGetMac::GetPhysicalMac(MacList& macs) {
  DiagLine(ProcessLog()) << "GetPhysicalMac";
  macs.clear();

  HeapArray<NetAdapterRecord> adapters;
  if (EnumNetAdapters(adapters) == 0) {
    DiagLine(ProcessLog()) << "EnumNetAdapters Count = 0.";
    return 0;
  }
  const bool is_admin = netos::IsUserAdmin();

  HeapArray<FoundAddress> addresses;
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    NetAdapterRecord& record = adapters[i];
    const int index = static_cast<int>(i);
    ReadAdapterAddress(record, index, is_admin);
    if (record.outcome != kOutcomeRead) continue;
    const std::uint64_t value = ParseMac(record.mac_text);
    DiagLine(ProcessLog()) << "SetApi Index [" << index << "] Desc [" << record.driver_desc << "] Mac ["
                           << record.mac_text << "].";
    if (value > 0 && !AddAddress(addresses, value, record.mac_text)) {
      macs.MarkFailed();
      return 0;
    }
  }

  if (addresses.empty()) {
    DiagLine(ProcessLog()) << "SetApi Mac Count = 0.";
  } else {
    for (const FoundAddress& address : addresses) macs.Append(address.text);
  }
  return macs.size();
}

}  // namespace tavsn
