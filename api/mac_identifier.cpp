// GetMacSN: the MAC identifier, from up to two permanent adapter addresses.

#include <cstring>

#include "api/identifier_records.h"
#include "log/diag_log.h"
#include "netadapter/cgetmac.h"
#include "tavsn.h"

namespace tavsn {
namespace {

DiagLine Log() { return DiagLine(ProcessLog()); }

struct MacSource {
  int count = 0;
  std::uint8_t record_source = MacSnRecord::kSourceAdapter;
};

// The permanent addresses first; then the IP Helper list; then a UUID's node.
// A list that ran out of memory ends the search: the call then fails like a
// machine without addresses, before any byte of the buffer is written.
MacSource CollectMacs(MacList& macs) {
  CGetMac reader;
  MacSource source;
  source.count = reader.GetPhysicalMac(macs);
  if (source.count != 0 || macs.failed()) return source;
  Log() << "GetMacSN  GetPhysicalMac MacCount is 0 .";
  source.count = reader.GetMacFromPCI(macs);
  if (source.count != 0 || macs.failed()) return source;
  Log() << "GetMacSN  GetMacFromPCI MacCount is 0 .";
  source.record_source = MacSnRecord::kSourceUuid;
  source.count = reader.GetUUIDMac(macs);
  return source;
}

int MacIdentifier(char* buffer, int size) {
  OpenDiagLog();
  Log() << "GetMacSN start.";
  if (buffer == nullptr || size == 0) {
    Log() << "GetMacSN Invalid Param.";
    return TAVSN_ERROR_INVALID_PARAM;
  }
  if (size < static_cast<int>(kIdentifierLength)) {
    Log() << "GetMacSN Buffer To Small.";
    return TAVSN_ERROR_BUFFER_SMALL;
  }

  MacList macs;
  const MacSource source = CollectMacs(macs);
  if (macs.failed()) return TAVSN_ERROR_NO_MAC;
  if (source.count == 0) {
    Log() << "GetMacSN No MAC address.";
    return TAVSN_ERROR_NO_MAC;
  }
  Log() << "GetMacSN Mac Count [ " << source.count << " ]";

  std::uint8_t first[6] = {};
  ScanMacBytes(macs[0], first);
  Log() << "GetMacSN First Mac [ " << macs[0] << " ]";

  // With one address the record takes it twice; see MacSnRecord::Build.
  std::uint8_t second[6] = {};
  if (source.count > 1) {
    ScanMacBytes(macs[1], second);
    Log() << "GetMacSN Second Mac [ " << macs[1] << " ]";
  }

  char text[kIdentifierBufferSize];
  MacSnText(MacSnRecord::Build(source.record_source, source.count, first, second), text);
  std::memcpy(buffer, text, kIdentifierLength);
  Log() << "GetMacSN  [ " << text << " ]";
  return TAVSN_MAC_SN_WRITTEN;
}

}  // namespace
}  // namespace tavsn

extern "C" int TAVSN_STDCALL GetMacSN(char* buffer, int size) {
  return tavsn::MacIdentifier(buffer, size);
}
