#include "tools/commands.h"

#include "server/display_text.h"
#include "server/match.h"
#include "tools/fingerprint_command.h"
#include "tools/identifier_output.h"

namespace tavsn::cli {
namespace {

using namespace tavsn::server;

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

}  // namespace

int VerifyCommand(const CommandLine& line, std::string& out, std::string& err) {
  if (line.positional.size() != 2) {
    err += "verify needs exactly one identifier\n";
    return kExitUsage;
  }
  const std::string& text = line.positional[1];
  if (IsFingerprintText(text)) return VerifyFingerprint(text, line, out, err);
  if (const std::optional<std::string> option = FingerprintOnlyOption(line)) {
    err += *option + " applies to a fingerprint only\n";
    return kExitUsage;
  }
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

}  // namespace tavsn::cli
