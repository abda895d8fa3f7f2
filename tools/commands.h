#pragma once
// The tool's commands, one file each. Each writes what goes to standard
// output and standard error into `out` and `err` and returns the exit code;
// the decisions are the server library's.

#include <string>

#include "tools/cli.h"
#include "tools/command_line.h"

namespace tavsn::cli {

int DecodeCommand(const CommandLine& line, std::string& out, std::string& err);
int VerifyCommand(const CommandLine& line, std::string& out, std::string& err);
int CompareCommand(const CommandLine& line, std::string& out, std::string& err);
// tavsn registry SUBCOMMAND (Linux; elsewhere it says it is not available).
int RegistryCommand(const CommandLine& line, std::string& out, std::string& err);
// The report of this machine's identifiers (Windows: through `reader`).
int MachineCommand(const CommandLine& line, const MachineReader& reader, std::string& out, std::string& err);

}  // namespace tavsn::cli
