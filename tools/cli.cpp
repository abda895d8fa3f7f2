#include "tools/cli.h"

#include <string>

#include "tools/commands.h"
#include "tools/json_writer.h"

namespace tavsn::cli {
namespace {

constexpr char kUsage[] =
    "usage:\n"
    "  tavsn [--json] [--trace] [DLL]       (Windows) this machine's identifiers\n"
    "  tavsn [--json] decode ID...\n"
    "  tavsn [--json] verify ID [--mac MAC]... [--list-order sorted|given] [--mac-source 0|1]\n"
    "                 [--cpu-text TEXT] [--serial TEXT] [--uuid-text TEXT]\n"
    "  tavsn [--json] verify FINGERPRINT [--cpu-vendor VENDOR | --cpuid-leaf0 HEX] [--highest-leaf N]\n"
    "                 [--brand TEXT] [--mhz N] [--memory-bytes N] [--disk-bytes N] [--mac FIRST [--mac OTHER]...]\n"
    "  tavsn [--json] compare ID1 ID2 [--policy evidence|count] [--max-changed N]\n"
    "                 [--must-keep COMPONENT,...]\n"
    "  tavsn --help | --version\n";

constexpr char kHelp[] =
    "\n"
    "Decodes, verifies and compares the identifiers of tavsn.dll: TQ11 (GetMacSN)\n"
    "and TQ12 (GetPCSN, GetPCSNEx), and verifies its fingerprints (tav_get_pc_id).\n"
    "\n"
    "commands:\n"
    "  (none)   Windows only: loads DLL (default tavsn.dll), prints GetMacSN, GetPCSN,\n"
    "           GetPCSNEx, their aliases and tav_get_pc_id with return codes, decoded,\n"
    "           and warnings for support. --trace runs a private copy of the DLL\n"
    "           beside an empty tavsn.log in a scratch folder and prints that log.\n"
    "  decode   the fields of each identifier, how much each component tells about\n"
    "           one machine (strong, weak or absent evidence) and anything the DLL\n"
    "           never writes.\n"
    "  verify   whether an identifier fits a machine's facts, as the DLL computes it:\n"
    "           TQ11 against all its MAC addresses (--mac for each; the DLL sorts\n"
    "           its adapters' addresses and drops repeats, --list-order given keeps\n"
    "           the IP Helper list's order, whose first PCI adapter, else its first,\n"
    "           the DLL takes: give that one first); TQ12 against the first MAC,\n"
    "           the processor text, the firmware serial number or UUID text (four\n"
    "           groups of 8 hex digits, as the DLL writes it). A fingerprint\n"
    "           (tav_get_pc_id, 31 digits) against the processor's vendor or CPUID\n"
    "           leaf 0, brand string, first disk's length and the first adapter IP\n"
    "           Helper lists (the first --mac; further --mac: other adapters); a\n"
    "           fact left out is taken as its probe failing. When it does not fit,\n"
    "           the ways the same machine writes another one are tried and those\n"
    "           that reproduce it are listed, most likely first.\n"
    "  compare  which fields and components (mac, processor, firmware, mac_source)\n"
    "           changed between two identifiers of one kind, and the verdict.\n"
    "           --policy evidence (default): same machine when strong evidence\n"
    "           matches and at most --max-changed (default 1) components changed\n"
    "           (mac_source not counted), different machine when more did,\n"
    "           undecided when nothing strong is left. --policy count (release\n"
    "           1.0's): same machine when at most --max-changed components of\n"
    "           any strength changed, mac_source counted. Either:\n"
    "           a change of a component named by --must-keep is another machine.\n"
    "           Only records the DLL writes are judged.\n"
    "\n"
    "options:\n"
    "  --json   one JSON document on standard output\n"
    "\n"
    "exit codes:\n"
    "  0 done: decoded, matched, same machine, identifiers printed\n"
    "  1 verify: a fact does not match; compare: different machine\n"
    "  2 bad command line (a malformed --mac included)\n"
    "  3 an identifier is malformed (length, tag or character)\n"
    "  4 well-formed, but not something the DLL writes (never verified or compared)\n"
    "  5 verify: nothing could be checked; compare: undecided, different kinds or\n"
    "    exports\n"
    "  6 the DLL could not be loaded\n"
    "\n"
    "examples:\n"
    "  tavsn.exe C:\\app\\tavsn.dll\n"
    "  tavsn.exe --trace C:\\app\\tavsn.dll\n"
    "  tavsn decode TQ1101020011263744550B3B2B5B4B7B TQ1221000A1B7B480E00B8FF26006C9C\n"
    "  tavsn verify TQ1101020011263744550B3B2B5B4B7B --mac 10-20-30-40-50-60 --mac 0a1b2c3d4e5f\n"
    "  tavsn verify TQ1221000A1B7B480E00B8FF26006C9C --mac 0A1B2C3D4E5F \\\n"
    "        --cpu-text 'Example CPU-00000000-00000006-00000094'\n"
    "  tavsn --json compare TQ1221000A1B7B480E00B8FF26006C9C TQ1221000A1B7B480E0068882400BF13\n";

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
  }
  return "unknown";
}

int RunCommand(const CommandLine& line, const MachineReader& reader, std::string& out, std::string& err) {
  if (!line.error.empty()) {
    err += line.error + "\n";
    return kExitUsage;
  }
  const std::string command = line.positional.empty() ? "" : line.positional[0];
  const bool known = command == "decode" || command == "verify" || command == "compare";
  if (const std::optional<std::string> foreign = ForeignOption(line, known ? command : "")) {
    err += *foreign + (known ? " does not apply to " + command : std::string(" needs its command")) + "\n";
    return kExitUsage;
  }
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
  if (code == kExitUsage && err.find("usage:") == std::string::npos) err += kUsage;
  return code;
}

}  // namespace tavsn::cli
