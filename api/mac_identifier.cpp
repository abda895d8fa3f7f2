// GetMacSN: the MAC identifier, from up to two permanent adapter addresses.

#include <cstring>

#include "api/identifier_records.h"
#include "api/mac_search.h"
#include "log/diag_log.h"
#include "tavsn.h"

namespace tavsn {
namespace {

DiagLine Log() { return DiagLine(ProcessLog()); }

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
  const MacSearch search = CollectMacs(macs);
  if (macs.failed()) return TAVSN_ERROR_NO_MAC;
  if (search.count == 0) {
    Log() << "GetMacSN No MAC address.";
    return TAVSN_ERROR_NO_MAC;
  }
  Log() << "GetMacSN Mac Count [ " << search.count << " ]";

  std::uint8_t first[6] = {};
  ScanMacBytes(macs[0], first);
  Log() << "GetMacSN First Mac [ " << macs[0] << " ]";

  // With one address the record takes it twice; see MacSnRecord::Build.
  std::uint8_t second[6] = {};
  if (search.count > 1) {
    ScanMacBytes(macs[1], second);
    Log() << "GetMacSN Second Mac [ " << macs[1] << " ]";
  }

  char text[kIdentifierBufferSize];
  const std::uint8_t record_source =
      search.step == MacStep::kUuid ? MacSnRecord::kSourceUuid : MacSnRecord::kSourceAdapter;
  MacSnText(MacSnRecord::Build(record_source, search.count, first, second), text);
  std::memcpy(buffer, text, kIdentifierLength);
  Log() << "GetMacSN  [ " << text << " ]";
  return TAVSN_MAC_SN_WRITTEN;
}

}  // namespace
}  // namespace tavsn

extern "C" int TAVSN_STDCALL GetMacSN(char* buffer, int size) { return tavsn::MacIdentifier(buffer, size); }
