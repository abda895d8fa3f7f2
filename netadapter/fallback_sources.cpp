// The two weaker sources of a MAC address, for machines where no physical
// adapter gives its permanent address: the current address of an adapter
// that IP Helper lists, and the node field of a sequential UUID.
#include <cstring>

#include "log/diag_log.h"
#include "netadapter/cgetmac.h"

namespace tavsn {
namespace {

constexpr char kPciMarker[] = "PCI";
constexpr std::int32_t kRpcSOk = 0;
constexpr std::int32_t kRpcSUuidLocalOnly = 1824;
constexpr std::size_t kUuidNodeOffset = 10;
constexpr std::size_t kMacTextSize = 13;

// An on-board or plug-in card describes itself as PCI; USB and virtual
// adapters come second.
bool IsPciAdapter(const netos::IpAdapterEntry& adapter) {
  return std::strstr(adapter.description, kPciMarker) != nullptr;
}

// A UUID made only from local information is still a UUID; its node field
// is then no adapter's address, but the best there is.
bool IsUsableUuidStatus(std::int32_t status) { return status == kRpcSOk || status == kRpcSUuidLocalOnly; }

}  // namespace

int CGetMac::GetMacFromPCI(MacList& macs) {
  macs.clear();
  HeapArray<netos::IpAdapterEntry> adapters;
  if (!netos::ListIpAdapters(adapters)) return 0;

  char mac_text[kMacTextSize] = {};
  for (const netos::IpAdapterEntry& adapter : adapters) {
    if (IsPciAdapter(adapter)) {
      FormatMac(adapter.address, mac_text);
      break;
    }
    if (mac_text[0] == '\0') FormatMac(adapter.address, mac_text);
  }
  if (mac_text[0] != '\0') macs.Append(mac_text);
  return macs.size();
}

int CGetMac::GetUUIDMac(MacList& macs) {
  DiagLine(ProcessLog()) << "CGetMac GetUUIDMac start ";
  macs.clear();

  LoadedLibrary rpc_runtime;
  if (!netos::LoadRpcRuntime(rpc_runtime)) {
    // Error codes are taken before a log line is started: writing it may
    // change the thread's last error.
    const std::uint32_t error = netos::LastError();
    DiagLine(ProcessLog()) << "Load rpcrt4.dll Fail Error Code [" << error << "].";
    return 0;
  }
  void* create_uuid = netos::FindProcedure(rpc_runtime, "UuidCreateSequential");
  if (create_uuid == nullptr) {
    const std::uint32_t error = netos::LastError();
    DiagLine(ProcessLog()) << "Get UuidCreateSequential Fail Error Code [" << error << "].";
    create_uuid = netos::FindProcedure(rpc_runtime, "UuidCreate");
    if (create_uuid == nullptr) {
      const std::uint32_t error = netos::LastError();
      DiagLine(ProcessLog()) << "Get UuidCreate Fail Error Code [" << error << "].";
      return 0;
    }
  }

  std::uint8_t uuid[16] = {};
  const std::int32_t status = netos::CallUuidCreate(create_uuid, uuid);
  if (!IsUsableUuidStatus(status)) {
    DiagLine(ProcessLog()) << "Call UuidCreate Fail Error Code [" << status << "].";
    return 0;
  }
  char mac_text[kMacTextSize] = {};
  macs.Append(FormatMac(uuid + kUuidNodeOffset, mac_text));
  return macs.size();
}

}  // namespace tavsn
