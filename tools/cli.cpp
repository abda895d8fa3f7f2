#include "tools/cli.h"

#include <string>

#include "tools/commands.h"
#include "tools/json_writer.h"

namespace tavsn::cli {
namespace {

// The help is one table per kind of entry, one entry a line, so that the man
// page made from it (help2man) lists each command, option and exit code as an
// item of its own: "Usage:" and "or:" lines are the synopsis; "  NAME  text"
// lines are items; "Options:" and "Examples:" are sections of the man page.
constexpr char kUsage[] =
    "Usage: tavsn [--json] [--trace] [DLL]\n"
    "  or:  tavsn [--json] decode ID...\n"
    "  or:  tavsn [--json] verify ID [--mac MAC]... [--list-order sorted|given] [--mac-source 0|1]"
    " [--cpu-text TEXT] [--serial TEXT] [--uuid-text TEXT]\n"
    "  or:  tavsn [--json] verify FINGERPRINT [--cpu-vendor VENDOR | --cpuid-leaf0 HEX] [--highest-leaf N]"
    " [--brand TEXT] [--mhz N] [--memory-bytes N] [--disk-bytes N] [--mac FIRST [--mac OTHER]...]\n"
    "  or:  tavsn [--json] compare ID1 ID2 [--policy evidence|count] [--max-changed N]"
    " [--must-keep COMPONENT,...] [--threshold P]\n"
    "  or:  tavsn [--json] compare --bundle ID,... --bundle ID,... [--policy evidence|count] [--max-changed N]"
    " [--must-keep COMPONENT,...] [--threshold P]\n"
    "  or:  tavsn [--json] registry check-in --db DB --scope SCOPE [--seats N] [--time T] ID...\n"
    "  or:  tavsn [--json] registry identify --db DB ID...\n"
    "  or:  tavsn [--json] registry history --db DB MACHINE\n"
    "  or:  tavsn [--json] registry audit --db DB\n"
    "  or:  tavsn registry export --db DB\n"
    "  or:  tavsn [--json] registry import --db DB FILE\n"
    "  or:  tavsn --help | --version\n";

constexpr char kHelp[] =
    "\n"
    "Decodes, verifies and compares the identifiers of tavsn.dll: TQ11 (GetMacSN)\n"
    "and TQ12 (GetPCSN, GetPCSNEx), and verifies its fingerprints (tav_get_pc_id).\n"
    "\n"
    "Commands:\n"
    "  (none)   Windows only: loads DLL (default tavsn.dll), prints GetMacSN, GetPCSN,\n"
    "           GetPCSNEx, their aliases and tav_get_pc_id with return codes, decoded,\n"
    "           and warnings for support.\n"
    "  decode   the fields of each identifier, how much each component tells about\n"
    "           one machine (strong, weak or absent evidence) and anything the DLL\n"
    "           never writes.\n"
    "  verify   whether an identifier fits a machine's facts, as the DLL computes it:\n"
    "           TQ11 against all its MAC addresses, TQ12 against the first MAC, the\n"
    "           processor text, the firmware serial number or UUID text; a\n"
    "           fingerprint (tav_get_pc_id, 31 digits) against the processor, disk\n"
    "           and adapter facts, with the ways the same machine writes another one\n"
    "           when it does not fit.\n"
    "  compare  which fields and components (mac, processor, firmware, mac_source)\n"
    "           changed between two identifiers of one kind, and the verdict.\n"
    "           --policy evidence (default): equal identifiers are the same\n"
    "           machine; a real firmware text that changed is another machine;\n"
    "           after a change, same machine only when another machine would show\n"
    "           the evidence that still matches with probability at most\n"
    "           --threshold (default 1e-05) for every impostor class (sibling,\n"
    "           model, moved_adapter); different machine when more than\n"
    "           --max-changed (default 1) components changed (mac_source not\n"
    "           counted) and no real firmware text matches; else undecided, with\n"
    "           the competing explanations. Every verdict states its estimated\n"
    "           false-accept probability. --policy count (release\n"
    "           1.0's): same machine when at most --max-changed components of\n"
    "           any strength changed, mac_source counted. Either:\n"
    "           a change of a component named by --must-keep is another machine.\n"
    "           Only records the DLL writes are judged. With two --bundle, judges\n"
    "           the identifiers one call site wrote (GetMacSN, GetPCSN, GetPCSNEx,\n"
    "           tav_get_pc_id, at most one of each) as one machine, each fact\n"
    "           counted once, under the same rules.\n"
    "  registry the machine registry of a licence server (Linux): which stored\n"
    "           machine an identifier belongs to, found through index keys.\n"
    "           check-in: the IDs of one call site under a scope (a licence or\n"
    "           account); known machine unchanged or changed, a new machine\n"
    "           activated while a seat is free, refused, or undecided with what\n"
    "           would settle it (a candidate silent for 3 days is one machine\n"
    "           after a change; one checking in within the hour, or after the\n"
    "           undecided identifiers first appeared, two machines).\n"
    "           identify: every machine in every scope that may be this one.\n"
    "           history: a machine's identifiers and changes. audit: machines\n"
    "           under several scopes that are one, identifiers passed between\n"
    "           machines. export: CSV (scope,machine,identifier,first_seen,\n"
    "           last_seen). import: CSV lines scope,identifier,time (- reads\n"
    "           standard input).\n"
    "\n"
    "Exit codes:\n"
    "  0  done: decoded, matched, same machine, identifiers printed\n"
    "  1  verify: a fact does not match; compare: different machine\n"
    "  2  bad command line (a malformed --mac included)\n"
    "  3  an identifier is malformed (length, tag or character)\n"
    "  4  well-formed, but not something the DLL writes (never verified or compared);\n"
    "     compare --bundle: members that cannot come from one machine\n"
    "  5  verify: nothing could be checked; compare: undecided, different kinds or\n"
    "     exports, bundles without a kind of member in common\n"
    "  6  the DLL could not be loaded\n"
    "  7  standard output could not be written (a full disk, a closed pipe)\n"
    "  8  verify: matched only on facts many machines share (a processor text, a\n"
    "     placeholder firmware text): not a match of this machine\n"
    "  9  registry check-in: a new machine, and every seat of the scope is taken\n"
    "  10 registry identify: no machine may be this one; history: no such machine\n"
    "  11 registry: the database stayed locked by another process (busy)\n"
    "  12 registry: the database cannot be written (read-only)\n"
    "  13 registry: the disk or the database is full\n"
    "  14 registry: not a registry, or a damaged one\n"
    "  15 registry: the connection to the database server was lost; nothing kept\n"
    "  16 registry: made by a newer tavsn\n"
    "  17 registry: no registry at that location\n"
    "  18 registry: not available in this build (Windows), or no engine for the\n"
    "     location\n"
    "  19 registry: any other database error\n"
    "\n"
    "Options:\n"
    "  --json                  one JSON document on standard output\n"
    "  --trace                 (none) runs a private copy of the DLL beside an empty\n"
    "                          tavsn.log in a scratch folder and prints that log\n"
    "  --mac MAC               verify: a MAC address of the machine, once for each;\n"
    "                          the DLL sorts its adapters' addresses and drops repeats\n"
    "  --list-order ORDER      verify: sorted (default), or given: keep the IP Helper\n"
    "                          list's order, whose first PCI adapter, else its first,\n"
    "                          the DLL takes (give that one first)\n"
    "  --mac-source 0|1        verify, TQ11: the source the identifier claims\n"
    "  --cpu-text TEXT         verify, TQ12: the processor text\n"
    "  --serial TEXT           verify, TQ12: the firmware serial number\n"
    "  --uuid-text TEXT        verify, TQ12: the firmware UUID text, four groups of 8\n"
    "                          hex digits, as the DLL writes it\n"
    "  --cpu-vendor VENDOR     verify, fingerprint: the processor's vendor text (12\n"
    "                          characters, e.g. GenuineIntel)\n"
    "  --cpuid-leaf0 HEX       verify, fingerprint: CPUID leaf 0 as 32 hex digits (EAX,\n"
    "                          EBX, ECX, EDX), in place of --cpu-vendor and\n"
    "                          --highest-leaf\n"
    "  --highest-leaf N        verify, fingerprint: CPUID's highest leaf (tried when\n"
    "                          left out)\n"
    "  --brand TEXT            verify, fingerprint: the 48-byte brand string\n"
    "  --mhz N                 verify, fingerprint: the processor's ~MHz value (never\n"
    "                          enters the fingerprint)\n"
    "  --memory-bytes N        verify, fingerprint: total physical memory (never enters\n"
    "                          the fingerprint)\n"
    "  --disk-bytes N          verify, fingerprint: the first physical disk's length\n"
    "                          in bytes\n"
    "  --mac FIRST             verify, fingerprint: the first adapter IP Helper lists;\n"
    "                          further --mac: the machine's other adapters\n"
    "  --policy NAME           compare: evidence (default), or count (release 1.0's),\n"
    "                          as described under compare above\n"
    "  --max-changed N         compare: components that may change (default 1)\n"
    "  --threshold P           compare, evidence policy: the highest false-accept\n"
    "                          probability a same-machine verdict after a change may\n"
    "                          carry (default 1e-05)\n"
    "  --must-keep COMPONENT,...  compare: a change of one of these is another machine\n"
    "  --bundle ID,...         compare: one machine's identifiers and fingerprint,\n"
    "                          comma-separated; give two, one per side\n"
    "  --db LOCATION           registry: sqlite:PATH or PATH (SQLite, made when\n"
    "                          missing), or postgresql://... (libpq's URI)\n"
    "  --scope SCOPE           registry check-in: the licence or account, any text\n"
    "  --seats N               registry check-in: the scope's seat limit, kept\n"
    "  --time T                registry check-in: seconds since 1970 or\n"
    "                          YYYY-MM-DDTHH:MM:SSZ (default: now)\n"
    "  -h, --help              this text\n"
    "  --version               the tool's version\n"
    "\n"
    "Examples:\n"
    "  $ tavsn.exe C:\\app\\tavsn.dll\n"
    "  $ tavsn.exe --trace C:\\app\\tavsn.dll\n"
    "  $ tavsn decode TQ1101020011263744550B3B2B5B4B7B TQ1221000A1B7B480E00B8FF26006C9C\n"
    "  $ tavsn verify TQ1101020011263744550B3B2B5B4B7B --mac 10-20-30-40-50-60 --mac 0a1b2c3d4e5f\n"
    "  $ tavsn verify TQ1221000A1B7B480E00B8FF26006C9C --mac 0A1B2C3D4E5F"
    " --cpu-text 'Example CPU-00000000-00000006-00000094'\n"
    "  $ tavsn --json compare TQ1221000A1B7B480E00B8FF26006C9C TQ1221000A1B7B480E0068882400BF13\n"
    "  $ tavsn registry check-in --db licences.db --scope L-1001 --seats 3"
    " TQ1221000A1B7B480E00B8FF26006C9C\n";

const char* ExitCodeName(int code) {
  switch (code) {
    case kExitOk: return "ok";
    case kExitMismatch: return "mismatch";
    case kExitUsage: return "usage";
    case kExitMalformed: return "malformed";
    case kExitAnomaly: return "not written by the DLL";
    case kExitUndecided: return "undecided";
    case kExitNoLibrary: return "library not loaded";
    case kExitOutput: return "output not written";
    case kExitWeakMatch: return "weak match";
    case kExitNoSeat: return "no seat";
    case kExitNotRegistered: return "not registered";
    case kExitRegistryBusy: return "registry busy";
    case kExitRegistryReadOnly: return "registry read-only";
    case kExitRegistryFull: return "registry full";
    case kExitRegistryDamaged: return "registry damaged";
    case kExitRegistryConnectionLost: return "registry connection lost";
    case kExitRegistryNewer: return "registry newer";
    case kExitNoRegistry: return "no registry";
    case kExitRegistryUnavailable: return "registry not available";
    case kExitRegistryError: return "registry error";
  }
  return "unknown";
}

int RunCommand(const CommandLine& line, const MachineReader& reader, std::string& out, std::string& err) {
  if (!line.error.empty()) {
    err += line.error + "\n";
    return kExitUsage;
  }
  std::string command = line.positional.empty() ? "" : line.positional[0];
  if (command == "registry" && line.positional.size() > 1) {
    const std::string& sub = line.positional[1];
    if (sub == "check-in" || sub == "identify" || sub == "history" || sub == "audit" || sub == "export" ||
        sub == "import") {
      command += " " + sub;
    }
  }
  const bool known =
      command == "decode" || command == "verify" || command == "compare" || command.rfind("registry", 0) == 0;
  if (const std::optional<std::string> foreign = ForeignOption(line, known ? command : "")) {
    err += *foreign + (known ? " does not apply to " + command : std::string(" needs its command")) + "\n";
    return kExitUsage;
  }
  if (command.rfind("registry", 0) == 0) return RegistryCommand(line, out, err);
  if (command == "decode") return DecodeCommand(line, out, err);
  if (command == "verify") return VerifyCommand(line, out, err);
  if (command == "compare") return CompareCommand(line, out, err);
  return MachineCommand(line, reader, out, err);
}

// A run's JSON document when its command wrote none: the error, in words
// and by exit code.
std::string ErrorJson(int code, const std::string& err) {
  JsonWriter json;
  json.BeginObject().Key("error").String(ExitCodeName(code));
  json.Key("message").String(err.substr(0, err.find('\n'))).Key("exit_code").Number(code).EndObject();
  return json.text() + "\n";
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::string& out, std::string& err, const MachineReader& reader) {
  const CommandLine line = Split(args);
  if (line.error.empty() && (line.help || line.version)) {
    // The release's version, so that a support report names what it ran.
    const std::string text = line.help ? std::string(kUsage) + kHelp : "tavsn " TAVSN_VERSION "\n";
    JsonWriter json;
    json.BeginObject().Key(line.help ? "help" : "version").String(line.help ? text : TAVSN_VERSION);
    json.Key("exit_code").Number(kExitOk).EndObject();
    out += line.json ? json.text() + "\n" : text;
    return kExitOk;
  }
  std::string command_err;
  const int code = RunCommand(line, reader, out, command_err);
  if (line.json && out.empty()) out += ErrorJson(code, command_err);
  err += command_err;
  if (code == kExitUsage && err.find("Usage:") == std::string::npos) err += kUsage;
  return code;
}

}  // namespace tavsn::cli
