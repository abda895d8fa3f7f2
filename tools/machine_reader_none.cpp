// Systems without tavsn.dll: the tool decodes, verifies and compares only.
#include "tools/machine_reader.h"

namespace tavsn::cli {

MachineReader PlatformMachineReader() { return nullptr; }

}  // namespace tavsn::cli
