#include "tools/cli.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "server/compare.h"
#include "server/display_text.h"
#include "server/identifier.h"
#include "server/match.h"
#include "tavsn.h"
#include "tools/json_writer.h"

namespace tavsn::cli {
namespace {

using namespace tavsn::server;

constexpr char kUsage[] =
    "usage:\n"
    "  tavsn [--json] [--trace] [DLL]       (Windows) this machine's identifiers\n"
    "  tavsn [--json] decode ID...\n"
    "  tavsn [--json] verify ID [--mac MAC]... [--list-order sorted|given] [--mac-source 0|1]\n"
    "                 [--cpu-text TEXT] [--serial TEXT] [--uuid-text TEXT]\n"
    "  tavsn [--json] compare ID1 ID2 [--policy evidence|count] [--max-changed N]\n"
    "                 [--must-keep COMPONENT,...]\n"
    "  tavsn --help | --version\n";

constexpr char kHelp[] =
    "\n"
    "Decodes, verifies and compares the identifiers of tavsn.dll: TQ11 (GetMacSN)\n"
    "and TQ12 (GetPCSN, GetPCSNEx).\n"
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
    "           groups of 8 hex digits, as the DLL writes it).\n"
    "  compare  which fields and components (mac, processor, firmware, mac_source)\n"
    "           changed between two identifiers of one kind, and the verdict.\n"
    "           --policy evidence (default): same machine when strong evidence\n"
    "           matches and at most --max-changed (default 1) strong components\n"
    "           changed, different machine when more did, undecided when nothing\n"
    "           strong is left. --policy count (release 1.0's): same machine when\n"
    "           at most --max-changed components of any strength changed. Either:\n"
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

// Options that take a value, as "--mac VALUE" or "--mac=VALUE".
const char* const kValueOptions[] = {"--mac",       "--list-order", "--mac-source",  "--cpu-text", "--serial",
                                     "--uuid-text", "--policy",     "--max-changed", "--must-keep"};
const char* const kFlagOptions[] = {"--json", "--help", "--version", "--trace"};

template <std::size_t N>
bool OneOf(const std::string& option, const char* const (&options)[N]) {
  return std::find(std::begin(options), std::end(options), option) != std::end(options);
}

// The options each command takes besides --json, --help and --version.
struct CommandOptions {
  const char* command;
  std::vector<std::string> options;
};
const CommandOptions kCommandOptions[] = {
    {"decode", {}},
    {"verify", {"--mac", "--list-order", "--mac-source", "--cpu-text", "--serial", "--uuid-text"}},
    {"compare", {"--policy", "--max-changed", "--must-keep"}},
    {"", {"--trace"}},  // this machine's report
};

struct CommandLine {
  bool json = false;
  bool help = false;
  bool version = false;
  bool trace = false;
  std::vector<std::string> positional;
  std::vector<std::string> given;  // every option named, in order
  std::multimap<std::string, std::string> values;
  std::string error;
};

// GNU conventions: options anywhere, "--name=value" or "--name value",
// "--" ends the options, "-" alone is an argument, "-h" is --help.
CommandLine Split(const std::vector<std::string>& args) {
  CommandLine line;
  bool options_ended = false;
  // After an error the rest is still read for --json, so that the error
  // comes as JSON when asked; the first error is the one reported.
  const auto fail = [&](const std::string& error) {
    if (line.error.empty()) line.error = error;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_ended || a == "-" || a.empty() || a[0] != '-') {
      line.positional.push_back(a);
      continue;
    }
    if (a == "--") {
      options_ended = true;
      continue;
    }
    const std::size_t equals = a.find('=');
    const std::string name = a == "-h" ? "--help" : a.substr(0, equals);
    line.given.push_back(name);
    if (OneOf(name, kValueOptions)) {
      if (equals == std::string::npos && i + 1 == args.size()) {
        fail(name + " needs a value");
      } else {
        line.values.emplace(name, equals == std::string::npos ? args[++i] : a.substr(equals + 1));
      }
    } else if (!OneOf(name, kFlagOptions)) {
      fail("unknown option " + EscapedForDisplay(name));
    } else if (equals != std::string::npos) {
      fail(name + " takes no value");
    } else {
      (name == "--json" ? line.json : name == "--help" ? line.help : name == "--version" ? line.version : line.trace) =
          true;
    }
  }
  return line;
}

// An option given that `command` does not take, or nothing.
std::optional<std::string> ForeignOption(const CommandLine& line, const std::string& command) {
  for (const CommandOptions& entry : kCommandOptions) {
    if (entry.command != command) continue;
    for (const std::string& option : line.given) {
      if (option == "--json" || option == "--help" || option == "--version") continue;
      if (std::find(entry.options.begin(), entry.options.end(), option) == entry.options.end()) return option;
    }
  }
  return std::nullopt;
}

std::optional<std::string> Value(const CommandLine& line, const char* option) {
  const auto found = line.values.find(option);
  return found == line.values.end() ? std::nullopt : std::optional<std::string>(found->second);
}

std::vector<std::string> Values(const CommandLine& line, const char* option) {
  std::vector<std::string> values;
  const auto range = line.values.equal_range(option);
  for (auto it = range.first; it != range.second; ++it) values.push_back(it->second);
  return values;
}

const char* KindName(IdentifierKind kind) { return kind == IdentifierKind::kMac ? "mac" : "machine"; }

const char* ParseStatusName(ParseStatus status) {
  switch (status) {
    case ParseStatus::kOk: return "ok";
    case ParseStatus::kNullText: return "null";
    case ParseStatus::kBadLength: return "length";
    case ParseStatus::kBadTag: return "tag";
    case ParseStatus::kBadCharacter: return "character";
  }
  return "unknown";
}

std::string Joined(const std::vector<std::string>& words, const char* separator) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : separator) + word;
  return text;
}

// ---- decode -------------------------------------------------------------

void DescribeMac(const MacIdentifierFields& f, std::string& out) {
  out += "  source: " + std::to_string(f.source) +
         (f.source == MacSnRecord::kSourceAdapter ? " (adapter driver or IP Helper list)\n"
                                                  : " (a sequential UUID's node)\n");
  out += "  address count: " + std::to_string(f.mac_count) + "\n";
  out += "  first address, masked with its own byte 0: " + MacBytesText(f.first_masked, 6) + "\n";
  out += "  second address, masked with byte 1 of the first: " + MacBytesText(f.second_masked, 6) + "\n";
  out += "  first XOR second address: " + MacBytesText(f.address_xor, 6) +
         " (exact; each address itself is known only up to its unknown first byte)\n";
}

void DescribeMachine(const MachineIdentifierFields& f, std::string& out) {
  out += "  made by: " + std::string(MachineExportName(f.made_by)) + "\n";
  out += "  source flags: " + Hex16Text(f.source_flags) + " (" + Joined(DescribeSourceFlags(f.source_flags), ", ") +
         ")\n";
  out += "  MAC begins " + MacBytesText(f.mac_prefix, 1) + "-" + MacBytesText(f.mac_prefix + 1, 1) +
         ", MAC checksum " + Hex16Text(f.mac_checksum) + "\n";
  if (HasSelfChecksumShape(f)) {
    out += "  record checksum " + Hex16Text(f.system_checksum) +
           (f.self_checksum_verifies ? ": verifies\n" : ": DOES NOT VERIFY (expected " + Hex16Text(f.expected_self_checksum) + ")\n");
  } else {
    out += "  firmware text: " + std::to_string(f.system_length) + " characters, checksum " + Hex16Text(f.system_checksum) +
           "\n";
  }
  out += "  processor text: " + std::to_string(f.processor_length) + " characters, checksum " +
         Hex16Text(f.processor_checksum) + "\n";
}

// Text lines about one identifier, indented under a caller's heading.
std::string DescribeIdentifier(const ParsedIdentifier& parsed, const std::string& text) {
  if (!parsed.ok()) return "  malformed: " + DescribeParseError(parsed, text) + "\n";
  const DecodedIdentifier decoded = Decode(parsed);
  std::string out;
  if (decoded.kind == IdentifierKind::kMac) {
    DescribeMac(decoded.mac, out);
  } else {
    DescribeMachine(decoded.machine, out);
  }
  for (const char* anomaly : decoded.anomalies) out += std::string("  anomaly: ") + anomaly + "\n";
  if (!decoded.written_by_dll()) return out;
  for (const ComponentEvidence& e : Evidence(decoded)) {
    out += std::string("  evidence: ") + ComponentName(e.component) + " " + StrengthName(e.strength) + ": " +
           e.reason + "\n";
  }
  if (decoded.kind == IdentifierKind::kMachine) {
    const std::string placeholder = RecognisedPlaceholder(decoded.machine);
    if (!placeholder.empty()) out += "  firmware placeholder: \"" + placeholder + "\"\n";
  }
  return out;
}

std::vector<std::string> Texts(const std::vector<const char*>& sentences) {
  return std::vector<std::string>(sentences.begin(), sentences.end());
}

void EvidenceJson(const DecodedIdentifier& decoded, JsonWriter& json) {
  json.Key("evidence").BeginArray();
  if (decoded.written_by_dll()) {
    for (const ComponentEvidence& e : Evidence(decoded)) {
      json.BeginObject().Key("component").String(ComponentName(e.component));
      json.Key("strength").String(StrengthName(e.strength)).Key("reason").String(e.reason).EndObject();
    }
  }
  json.EndArray();
}

// `detail` is the C API's error_detail: the length in bytes, or the
// 0-based byte position; the message counts in characters from 1.
void DecodedJson(const ParsedIdentifier& parsed, const std::string& text, JsonWriter& json) {
  json.Key("valid").Bool(parsed.ok());
  if (!parsed.ok()) {
    json.Key("error").String(ParseStatusName(parsed.status));
    json.Key("detail").Number(static_cast<long long>(parsed.detail));
    json.Key("message").String(DescribeParseError(parsed, text));
    return;
  }
  const DecodedIdentifier decoded = Decode(parsed);
  json.Key("kind").String(KindName(decoded.kind));
  if (decoded.kind == IdentifierKind::kMac) {
    const MacIdentifierFields& f = decoded.mac;
    json.Key("source").Number(f.source);
    json.Key("mac_count").Number(f.mac_count);
    json.Key("first_mac_masked").String(MacBytesText(f.first_masked, 6));
    json.Key("second_mac_masked").String(MacBytesText(f.second_masked, 6));
    json.Key("address_xor").String(MacBytesText(f.address_xor, 6));
    json.Key("address_count").Number(static_cast<long long>(AddressShapes(f).size()));
  } else {
    const MachineIdentifierFields& f = decoded.machine;
    json.Key("made_by").String(MachineExportName(f.made_by));
    json.Key("source_flags").Number(f.source_flags);
    json.Key("source_flag_words").Strings(DescribeSourceFlags(f.source_flags));
    json.Key("mac_prefix").String(MacBytesText(f.mac_prefix, 2));
    json.Key("mac_checksum").Number(f.mac_checksum);
    json.Key("system_length").Number(f.system_length);
    json.Key("system_checksum").Number(f.system_checksum);
    json.Key("processor_length").Number(f.processor_length);
    json.Key("processor_checksum").Number(f.processor_checksum);
    json.Key("expected_self_checksum").Number(f.expected_self_checksum);
    json.Key("self_checksum_verifies").Bool(f.self_checksum_verifies);
    json.Key("firmware_placeholder").String(RecognisedPlaceholder(f));
  }
  json.Key("anomalies").Strings(Texts(decoded.anomalies));
  EvidenceJson(decoded, json);
}

int DecodeCommand(const CommandLine& line, std::string& out, std::string& err) {
  if (line.positional.size() < 2) {
    err += "decode needs at least one identifier\n";
    return kExitUsage;
  }
  int code = kExitOk;
  JsonWriter json;
  json.BeginObject().Key("identifiers").BeginArray();
  for (std::size_t i = 1; i < line.positional.size(); ++i) {
    const std::string& text = line.positional[i];
    const ParsedIdentifier parsed = ParseIdentifier(text);
    if (!parsed.ok()) {
      code = kExitMalformed;
    } else if (!Decode(parsed).written_by_dll() && code == kExitOk) {
      code = kExitAnomaly;
    }
    if (line.json) {
      json.BeginObject().Key("text").String(text);
      DecodedJson(parsed, text, json);
      json.EndObject();
    } else {
      out += EscapedForDisplay(text) + (parsed.ok() ? (parsed.kind == IdentifierKind::kMac ? ": MAC identifier (GetMacSN)\n"
                                                                         : ": machine identifier\n")
                                 : ":\n");
      out += DescribeIdentifier(parsed, text);
    }
  }
  json.EndArray().Key("exit_code").Number(code).EndObject();
  if (line.json) out += json.text() + "\n";
  return code;
}

// ---- verify -------------------------------------------------------------

struct VerifyOutcome {
  std::vector<std::pair<std::string, Verdict>> facts;
  Verdict overall = Verdict::kNotGiven;
  std::string expected_text;
  std::string note;
};

int VerdictExit(Verdict verdict) {
  switch (verdict) {
    case Verdict::kMatch: return kExitOk;
    case Verdict::kMismatch: return kExitMismatch;
    case Verdict::kBadFact: return kExitUsage;
    case Verdict::kNotWrittenByDll: return kExitAnomaly;
    default: return kExitUndecided;
  }
}

std::optional<std::string> Option(const CommandLine& line, const char* option, std::string& error) {
  if (line.values.count(option) > 1) error = std::string(option) + " may be given once";
  return Value(line, option);
}

MacListOrder ListOrder(const CommandLine& line, std::string& error) {
  const std::optional<std::string> order = Option(line, "--list-order", error);
  if (order && *order != "sorted" && *order != "given") error = "--list-order is sorted or given";
  return order == "given" ? MacListOrder::kAsGiven : MacListOrder::kSortedDistinct;
}

VerifyOutcome VerifyMac(const ParsedIdentifier& parsed, const CommandLine& line, std::string& error) {
  MacFacts facts;
  facts.macs = Values(line, "--mac");
  facts.order = ListOrder(line, error);
  const std::optional<std::string> source = Option(line, "--mac-source", error);
  if (source && *source != "0" && *source != "1") error = "--mac-source is 0 or 1";
  if (source) facts.source = static_cast<std::uint8_t>(*source == "1");
  for (const char* other : {"--cpu-text", "--serial", "--uuid-text"}) {
    if (line.values.count(other)) error = std::string(other) + " does not apply to a MAC identifier";
  }
  const MacMatch match = MatchMacIdentifier(parsed, facts);
  VerifyOutcome outcome;
  outcome.overall = match.verdict;
  outcome.expected_text = match.expected_text;
  if (match.verdict == Verdict::kMatch || match.verdict == Verdict::kMismatch) {
    const auto verdict = [](bool same) { return same ? Verdict::kMatch : Verdict::kMismatch; };
    outcome.facts = {{"addresses", verdict(match.addresses_match)},
                     {"count", verdict(match.count_match)},
                     {"source", verdict(match.source_match)}};
  } else {
    outcome.facts = {{"addresses", match.verdict}};
  }
  return outcome;
}

VerifyOutcome VerifyMachine(const ParsedIdentifier& parsed, const CommandLine& line, std::string& error) {
  MachineFacts facts;
  std::vector<std::string> macs = Values(line, "--mac");
  const MacListOrder order = ListOrder(line, error);
  if (line.values.count("--mac-source")) error = "--mac-source applies to a MAC identifier only";
  if (!macs.empty()) {
    // The DLL takes entry 0 of its list; a malformed address is passed on
    // for the matcher to report as a bad fact.
    std::string malformed;
    const std::optional<std::vector<std::string>> list = DllMacList(macs, order, &malformed);
    // With only zero addresses the adapters' list would be empty and the DLL
    // would have taken a fallback: the first address given stands for it.
    facts.mac = !list ? malformed : list->empty() ? macs.front() : list->front();
  }
  facts.processor_text = Option(line, "--cpu-text", error);
  facts.serial_number = Option(line, "--serial", error);
  facts.uuid_text = Option(line, "--uuid-text", error);
  const MachineMatch match = MatchMachineIdentifier(parsed, facts);
  VerifyOutcome outcome;
  outcome.facts = {{"mac", match.mac},
                   {"processor", match.processor},
                   {"serial_number", match.serial_number},
                   {"uuid_text", match.uuid_text}};
  outcome.overall = match.Overall();
  outcome.note = match.note;
  return outcome;
}

std::string MalformedMacMessage(const CommandLine& line) {
  for (const std::string& mac : Values(line, "--mac")) {
    if (NormalizeMacText(mac)) continue;
    return "--mac \"" + EscapedForDisplay(mac) +
           "\" is not a MAC address: 12 hex digits, or 6 pairs separated by '-' or ':'\n";
  }
  return "a --mac value is not a MAC address\n";
}

int VerifyCommand(const CommandLine& line, std::string& out, std::string& err) {
  if (line.positional.size() != 2) {
    err += "verify needs exactly one identifier\n";
    return kExitUsage;
  }
  const std::string& text = line.positional[1];
  const ParsedIdentifier parsed = ParseIdentifier(text);
  JsonWriter json;
  json.BeginObject().Key("text").String(text);
  if (!parsed.ok()) {
    DecodedJson(parsed, text, json);
    json.Key("exit_code").Number(kExitMalformed).EndObject();
    out += line.json ? json.text() + "\n" : "";
    err += EscapedForDisplay(text) + ": malformed: " + DescribeParseError(parsed, text) + "\n";
    return kExitMalformed;
  }
  std::string error;
  const VerifyOutcome outcome =
      parsed.kind == IdentifierKind::kMac ? VerifyMac(parsed, line, error) : VerifyMachine(parsed, line, error);
  if (!error.empty()) {
    err += error + "\n";
    return kExitUsage;
  }
  if (outcome.overall == Verdict::kNotWrittenByDll) {
    err += EscapedForDisplay(text) + ": not a record the DLL writes, so it is not verified (see tavsn decode)\n";
    json.Key("error").String("not written by the DLL").Key("exit_code").Number(kExitAnomaly).EndObject();
    out += line.json ? json.text() + "\n" : "";
    return kExitAnomaly;
  }
  const int code = VerdictExit(outcome.overall);
  for (const auto& [name, verdict] : outcome.facts) {
    if (verdict != Verdict::kBadFact) continue;
    err += name == "uuid_text" ? "--uuid-text: " + outcome.note + "\n" : MalformedMacMessage(line);
  }
  json.Key("kind").String(KindName(parsed.kind)).Key("verdict").String(VerdictName(outcome.overall));
  json.Key("facts").BeginObject();
  for (const auto& [name, verdict] : outcome.facts) json.Key(name).String(VerdictName(verdict));
  json.EndObject();
  if (!outcome.expected_text.empty()) json.Key("expected_text").String(outcome.expected_text);
  if (!outcome.note.empty()) json.Key("note").String(outcome.note);
  json.Key("exit_code").Number(code).EndObject();
  if (line.json) {
    out += json.text() + "\n";
    return code;
  }
  out += EscapedForDisplay(text) + ": " + VerdictName(outcome.overall) + "\n";
  for (const auto& [name, verdict] : outcome.facts) {
    if (verdict != Verdict::kNotGiven) out += "  " + name + ": " + VerdictName(verdict) + "\n";
  }
  if (!outcome.expected_text.empty()) out += "  these addresses give " + outcome.expected_text + "\n";
  if (!outcome.note.empty()) out += "  note: " + outcome.note + "\n";
  return code;
}

// ---- compare ------------------------------------------------------------

bool ParsePolicy(const CommandLine& line, ComparePolicy& policy, std::string& error) {
  if (const auto name = Option(line, "--policy", error)) {
    if (!PolicyByName(*name, policy.kind)) {
      error = "--policy is evidence or count; not \"" + EscapedForDisplay(*name) + "\"";
      return false;
    }
  }
  if (const auto max = Option(line, "--max-changed", error)) {
    if (max->size() != 1 || (*max)[0] < '0' || (*max)[0] > '4') {
      error = "--max-changed is a number of components, 0 to 4; not \"" + EscapedForDisplay(*max) + "\"";
      return false;
    }
    policy.max_changed = static_cast<unsigned>(std::stoul(*max));
  }
  if (const auto keep = Option(line, "--must-keep", error)) {
    std::size_t start = 0;
    while (start <= keep->size()) {
      const std::size_t comma = std::min(keep->find(',', start), keep->size());
      const std::string name = keep->substr(start, comma - start);
      bool known = false;
      for (unsigned bit = 1; bit <= kComponentMacSource; bit <<= 1) {
        if (name != ComponentName(static_cast<Component>(bit))) continue;
        policy.must_keep |= bit;
        known = true;
      }
      if (!known) {
        error = "--must-keep takes mac, processor, firmware, mac_source; not \"" + EscapedForDisplay(name) + "\"";
        return false;
      }
      start = comma + 1;
    }
  }
  return error.empty();
}

std::vector<std::string> ComponentNames(unsigned components) {
  std::vector<std::string> names;
  for (unsigned bit = 1; bit <= kComponentMacSource; bit <<= 1) {
    if (components & bit) names.emplace_back(ComponentName(static_cast<Component>(bit)));
  }
  return names;
}

int VerdictExitCode(MachineVerdict verdict) {
  switch (verdict) {
    case MachineVerdict::kSame: return kExitOk;
    case MachineVerdict::kDifferent: return kExitMismatch;
    case MachineVerdict::kUndecided: break;
  }
  return kExitUndecided;
}

void ComparisonJson(const Comparison& comparison, const ComparePolicy& policy, JsonWriter& json) {
  json.Key("kind").String(KindName(comparison.kind));
  json.Key("changes").BeginArray();
  for (const FieldChange& change : comparison.changes) {
    json.BeginObject().Key("field").String(change.field).Key("before").String(change.before);
    json.Key("after").String(change.after).Key("component").String(ComponentName(change.component)).EndObject();
  }
  json.EndArray().Key("changed_components").Strings(ComponentNames(comparison.changed));
  json.Key("evidence").BeginArray();
  for (const ComponentJudgment& j : comparison.evidence) {
    json.BeginObject().Key("component").String(ComponentName(j.component));
    json.Key("before").String(StrengthName(j.before)).Key("after").String(StrengthName(j.after));
    json.Key("relation").String(RelationName(j.relation)).Key("reason").String(j.reason).EndObject();
  }
  json.EndArray().Key("strong_matches").Number(comparison.strong_matches);
  json.Key("strong_changes").Number(comparison.strong_changes);
  json.Key("verdict").String(MachineVerdictName(comparison.verdict)).Key("reason").String(comparison.reason);
  json.Key("same_machine").Bool(comparison.same_machine);
  json.Key("policy").BeginObject().Key("name").String(PolicyName(policy.kind));
  json.Key("max_changed").Number(policy.max_changed);
  json.Key("must_keep").Strings(ComponentNames(policy.must_keep)).EndObject();
}

int CompareCommand(const CommandLine& line, std::string& out, std::string& err) {
  if (line.positional.size() != 3) {
    err += "compare needs exactly two identifiers\n";
    return kExitUsage;
  }
  ComparePolicy policy;
  std::string error;
  if (!ParsePolicy(line, policy, error)) {
    err += error + "\n";
    return kExitUsage;
  }
  JsonWriter json;
  json.BeginObject();
  ParsedIdentifier parsed[2];
  for (int i = 0; i < 2; ++i) {
    parsed[i] = ParseIdentifier(line.positional[1 + i]);
    if (parsed[i].ok()) continue;
    err += EscapedForDisplay(line.positional[1 + i]) + ": malformed: " +
           DescribeParseError(parsed[i], line.positional[1 + i]) + "\n";
    json.Key("text").String(line.positional[1 + i]);
    DecodedJson(parsed[i], line.positional[1 + i], json);
    json.Key("exit_code").Number(kExitMalformed).EndObject();
    out += line.json ? json.text() + "\n" : "";
    return kExitMalformed;
  }
  const Comparison comparison = Compare(parsed[0], parsed[1], policy);
  if (comparison.status == CompareStatus::kNotWrittenByDll) {
    for (int i = 0; i < 2; ++i) {
      if (comparison.refused & (1u << i)) {
        err += EscapedForDisplay(line.positional[1 + i]) +
               ": not a record the DLL writes, so it is not compared (see tavsn decode)\n";
      }
    }
    json.Key("error").String("not written by the DLL").Key("detail").Number(comparison.refused);
    json.Key("refused").BeginArray();
    for (int i = 0; i < 2; ++i) {
      if (comparison.refused & (1u << i)) json.String(line.positional[1 + i]);
    }
    json.EndArray().Key("exit_code").Number(kExitAnomaly).EndObject();
    out += line.json ? json.text() + "\n" : "";
    return kExitAnomaly;
  }
  if (comparison.status != CompareStatus::kOk) {
    const char* why = comparison.status == CompareStatus::kDifferentKinds
                          ? "a MAC identifier and a machine identifier cannot be compared"
                          : "a GetPCSN identifier and a GetPCSNEx identifier cannot be compared";
    err += std::string(why) + "\n";
    json.Key("error").String(why).Key("exit_code").Number(kExitUndecided).EndObject();
    out += line.json ? json.text() + "\n" : "";
    return kExitUndecided;
  }
  const int code = VerdictExitCode(comparison.verdict);
  ComparisonJson(comparison, policy, json);
  json.Key("exit_code").Number(code).EndObject();
  if (line.json) {
    out += json.text() + "\n";
    return code;
  }
  for (const FieldChange& change : comparison.changes) {
    out += std::string("  ") + change.field + ": " + change.before + " -> " + change.after + " (" +
           ComponentName(change.component) + ")\n";
  }
  if (comparison.changes.empty()) out += "  no field changed\n";
  for (const ComponentJudgment& j : comparison.evidence) {
    out += std::string("  evidence: ") + ComponentName(j.component) + " " + StrengthName(j.before) + " -> " +
           StrengthName(j.after) + ", " + RelationName(j.relation) + ": " + j.reason + "\n";
  }
  const std::vector<std::string> changed = ComponentNames(comparison.changed);
  out += "changed components: " + (changed.empty() ? std::string("none") : Joined(changed, ", ")) + "\n";
  out += std::string(MachineVerdictName(comparison.verdict)) + " (" + PolicyName(policy.kind) +
         " policy): " + comparison.reason + "\n";
  return code;
}

// ---- this machine -------------------------------------------------------

const char* MacSourceWords(int result) {
  switch (result) {
    case TAVSN_MAC_FROM_ADAPTER: return "a physical adapter's driver";
    case TAVSN_MAC_FROM_IP_HELPER: return "the IP Helper list";
    case TAVSN_MAC_FROM_UUID: return "a sequential UUID's node";
  }
  return "an unknown source";
}

bool IsIdentifierExport(const ExportCall& call) { return call.label != "tav_get_pc_id"; }

// What the calls themselves tell the warnings.
void AddCallFacts(MachineReport& report) {
  for (const ExportCall& call : report.calls) {
    if (!call.exported) continue;
    if (call.label == "GetPCSN") {
      report.facts.pcsn_result = call.result;
      if (call.result >= 0) report.facts.machine_identifier = call.text;
    } else if (call.label == "GetPCSNEx") {
      report.facts.pcsnex_result = call.result;
    } else if (call.label == "GetMacSN" && call.result >= 0) {
      report.facts.mac_identifier = call.text;
    }
  }
}

int MachineCommand(const CommandLine& line, const MachineReader& reader, std::string& out, std::string& err) {
  if (line.positional.size() > 1) {
    err += "unknown command \"" + EscapedForDisplay(line.positional[0]) + "\"\n";
    return kExitUsage;
  }
  if (!reader) {
    err += line.positional.empty() ? "reading this machine's identifiers needs Windows and tavsn.dll; here only "
                                     "decode, verify and compare work\n"
                                   : "unknown command \"" + EscapedForDisplay(line.positional[0]) +
                                         "\": the commands are decode, verify and compare\n";
    return kExitUsage;
  }
  MachineOptions options;
  options.dll_path = line.positional.empty() ? "tavsn.dll" : line.positional[0];
  options.trace = line.trace;
  MachineReport report;
  report.dll_path = options.dll_path;
  std::string error;
  if (!reader(options, report, error)) {
    err += error + "\n";
    return kExitNoLibrary;
  }
  out += FormatMachineReport(std::move(report), line.json);
  return kExitOk;
}

}  // namespace

std::string FormatMachineReport(MachineReport report, bool json_output) {
  AddCallFacts(report);
  const std::vector<SupportWarning> warnings = SupportWarnings(report.facts);
  JsonWriter json;
  std::string out;
  json.BeginObject().Key("dll").String(report.dll_path).Key("calls").BeginArray();
  for (const ExportCall& call : report.calls) {
    json.BeginObject().Key("export").String(call.label).Key("exported").Bool(call.exported);
    if (!call.exported) {
      json.EndObject();
      out += call.label + std::string(20 - std::min<std::size_t>(call.label.size(), 20), ' ') +
             " not exported by this library\n";
      continue;
    }
    json.Key("return_code").Number(call.result);
    if (call.result >= 0) json.Key("identifier").String(call.text);
    char line[128];
    std::snprintf(line, sizeof line, "%-20s %-34s (return code %d)\n", call.label.c_str(),
                  call.result >= 0 ? call.text.c_str() : "-", call.result);
    out += line;
    const bool decodable = call.result >= 0 && IsIdentifierExport(call);
    if (decodable && call.label != "GetMacSN") {
      out += "  MAC address from " + std::string(MacSourceWords(call.result)) + "\n";
    }
    // The aliases repeat GetPCSN and GetPCSNEx: one decode of each is enough.
    const bool alias = call.label.rfind("tav_", 0) == 0;
    if (decodable && !alias) {
      const ParsedIdentifier parsed = ParseIdentifier(call.text);
      out += DescribeIdentifier(parsed, call.text);
      json.Key("decoded").BeginObject();
      DecodedJson(parsed, call.text, json);
      json.EndObject();
    }
    json.EndObject();
  }
  json.EndArray().Key("warnings").BeginArray();
  for (const SupportWarning& warning : warnings) {
    json.BeginObject().Key("code").String(warning.code).Key("message").String(warning.message).EndObject();
    out += "warning [" + warning.code + "]: " + warning.message + "\n";
  }
  json.EndArray();
  if (report.trace_log) {
    json.Key("trace").String(*report.trace_log);
    out += "--- tavsn.log ---\n" + *report.trace_log;
    if (!report.trace_log->empty() && report.trace_log->back() != '\n') out += "\n";
  }
  json.EndObject();
  return json_output ? json.text() + "\n" : out;
}

namespace {

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
