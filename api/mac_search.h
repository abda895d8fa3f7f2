#pragma once
// The search for MAC addresses that GetMacSN and GetPCSN share, with the
// log lines of its steps.

#include "netadapter/cgetmac.h"
#include "tavsn.h"

namespace tavsn {

// The step that gave the addresses, numbered as GetPCSN reports it.
enum class MacStep : int {
  kAdapter = TAVSN_MAC_FROM_ADAPTER,
  kIpHelper = TAVSN_MAC_FROM_IP_HELPER,
  kUuid = TAVSN_MAC_FROM_UUID,
};

struct MacSearch {
  int count = 0;
  MacStep step = MacStep::kAdapter;
};

// The permanent addresses first; then the IP Helper list; then a UUID's
// node. A list that ran out of memory ends the search: the call then fails
// like a machine without addresses, before any byte of the buffer is
// written.
MacSearch CollectMacs(MacList& macs);

}  // namespace tavsn
