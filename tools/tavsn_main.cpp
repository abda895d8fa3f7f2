// tavsn: the command-line tool for tavsn identifiers. On Windows it also
// loads tavsn.dll and prints this machine's identifiers; everywhere it
// decodes, verifies and compares identifiers. `tavsn --help` says how.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli.h"
#include "tools/machine_reader.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string out;
  std::string err;
  const int code = tavsn::cli::RunCli(args, out, err, tavsn::cli::PlatformMachineReader());
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  std::fwrite(err.data(), 1, err.size(), stderr);
  return code;
}
