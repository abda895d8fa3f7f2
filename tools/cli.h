#pragma once
// The tavsn command-line tool: argument handling, the decode, verify and
// compare commands and the report of this machine's identifiers, as text or
// JSON. Portable; the Windows layer only supplies the MachineReader.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "server/support_warnings.h"

namespace tavsn::cli {

// Exit codes scripts can rely on.
enum ExitCode {
  kExitOk = 0,         // decoded / matched / same machine / identifiers printed
  kExitMismatch = 1,   // verify: a fact does not match; compare: another machine
  kExitUsage = 2,      // bad command line, including a malformed --mac
  kExitMalformed = 3,  // an identifier text is malformed
  kExitAnomaly = 4,    // well-formed, but not something the DLL writes: never judged
  kExitUndecided = 5,  // verify: nothing checkable; compare: undecided, different kinds or exports
  kExitNoLibrary = 6,  // the DLL (or its private traced copy) could not be loaded
  kExitOutput = 7,     // standard output could not be written (a full disk, a closed pipe)
  kExitWeakMatch = 8,  // verify: matched only on facts many machines share (a processor text, a placeholder)
  // The machine registry (tavsn registry).
  kExitNoSeat = 9,                   // check-in: a new machine, and every seat of the scope is taken
  kExitNotRegistered = 10,           // identify: no machine may be this one; history: no such machine
  kExitRegistryBusy = 11,            // the database stayed locked by another process past the busy timeout
  kExitRegistryReadOnly = 12,        // the database or its folder cannot be written
  kExitRegistryFull = 13,            // the disk or the database is full
  kExitRegistryDamaged = 14,         // not a registry, or a damaged one
  kExitRegistryConnectionLost = 15,  // the database server went away: nothing of this call was kept
  kExitRegistryNewer = 16,           // made by a newer tavsn
  kExitNoRegistry = 17,              // no registry at that location
  kExitRegistryUnavailable = 18,     // this build has no registry, or no engine for the location
  kExitRegistryError = 19,           // any other database error
};

// One export called on this machine.
struct ExportCall {
  std::string label;  // "GetMacSN", ...
  bool exported = false;
  int result = 0;
  std::string text;  // the identifier when result >= 0
};

struct MachineReport {
  std::string dll_path;
  std::vector<ExportCall> calls;
  // Firmware texts, process and thread facts from the platform; the tool
  // adds what the calls themselves show.
  server::SupportFacts facts;
  std::optional<std::string> trace_log;  // --trace: the DLL's log of these calls
};

struct MachineOptions {
  std::string dll_path;
  bool trace = false;
};

// Loads the DLL and calls its exports. False, with a message, when the DLL
// cannot be loaded; unset on systems without one.
using MachineReader = std::function<bool(const MachineOptions&, MachineReport&, std::string& error)>;

// argv without the program name. Writes what goes to standard output and
// standard error into `out` and `err`, returns the exit code.
int RunCli(const std::vector<std::string>& args, std::string& out, std::string& err, const MachineReader& reader);

// The report of this machine: identifiers, their return codes and decode,
// warnings and the trace log.
std::string FormatMachineReport(MachineReport report, bool json);

}  // namespace tavsn::cli
