#include "sysinfo/smbios_info.h"

namespace tavsn {

// Stands in until the reader of the management service's table arrives: the
// firmware publishes no table, which the parser reports in its own log line.
bool SmbiosInfo::init_raw_smbios_data() noexcept { return store_raw_table(nullptr, 0); }

}  // namespace tavsn
