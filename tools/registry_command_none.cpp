// Builds without the machine registry (Windows): the command is known, and
// says where it runs.
#include "tools/commands.h"

namespace tavsn::cli {

int RegistryCommand(const CommandLine&, std::string&, std::string& err) {
  err += "the machine registry is not available in this build: run tavsn registry on a Linux licence server\n";
  return kExitRegistryUnavailable;
}

}  // namespace tavsn::cli
