// tavsn: the command-line tool for tavsn identifiers. On Windows it also
// loads tavsn.dll and prints this machine's identifiers; everywhere it
// decodes, verifies and compares identifiers. `tavsn --help` says how.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/cli.h"
#include "tools/machine_reader.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string out;
  std::string err;
  const int code = tavsn::cli::RunCli(args, out, err, tavsn::cli::PlatformMachineReader());
  // A report that did not reach its reader is no success: a full disk or a
  // closed standard output fails the run.
  const bool written = std::fwrite(out.data(), 1, out.size(), stdout) == out.size() && std::fflush(stdout) == 0;
  const int write_error = errno;
  std::fwrite(err.data(), 1, err.size(), stderr);
  if (written) return code;
  std::fprintf(stderr, "tavsn: standard output could not be written: %s\n", std::strerror(write_error));
  return tavsn::cli::kExitOutput;
}
