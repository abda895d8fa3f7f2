#pragma once
// The platform's way to read this machine's identifiers: on Windows it
// loads tavsn.dll; elsewhere there is none.

#include "tools/cli.h"

namespace tavsn::cli {

MachineReader PlatformMachineReader();

}  // namespace tavsn::cli
