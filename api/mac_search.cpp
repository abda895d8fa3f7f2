#include "api/mac_search.h"

#include "log/diag_log.h"

namespace tavsn {

MacSearch CollectMacs(MacList& macs) {
  CGetMac reader;
  MacSearch search;
  search.count = reader.GetPhysicalMac(macs);
  if (search.count != 0 || macs.failed()) return search;
  DiagLine(ProcessLog()) << "GetMacSN  GetPhysicalMac MacCount is 0 .";
  search.step = MacStep::kIpHelper;
  search.count = reader.GetMacFromPCI(macs);
  if (search.count != 0 || macs.failed()) return search;
  DiagLine(ProcessLog()) << "GetMacSN  GetMacFromPCI MacCount is 0 .";
  search.step = MacStep::kUuid;
  search.count = reader.GetUUIDMac(macs);
  return search;
}

}  // namespace tavsn
