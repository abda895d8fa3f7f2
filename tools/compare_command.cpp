#include <cstdio>
#include <cstdlib>

#include "tools/commands.h"

#include "server/bundle.h"
#include "server/compare.h"
#include "server/display_text.h"
#include "tools/identifier_output.h"

namespace tavsn::cli {
namespace {

using namespace tavsn::server;

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
  if (const auto threshold = Option(line, "--threshold", error)) {
    char* end = nullptr;
    const double value = std::strtod(threshold->c_str(), &end);
    if (threshold->empty() || *end != '\0' || !(value > 0.0 && value <= 1.0)) {
      error = "--threshold is a probability above 0 and at most 1; not \"" + EscapedForDisplay(*threshold) + "\"";
      return false;
    }
    policy.threshold = value;
  }
  return error.empty();
}

void PolicyJson(const ComparePolicy& policy, JsonWriter& json) {
  json.Key("policy").BeginObject().Key("name").String(PolicyName(policy.kind));
  json.Key("max_changed").Number(policy.max_changed);
  json.Key("must_keep").Strings(ComponentNames(policy.must_keep)).Key("threshold").Real(policy.threshold);
  json.EndObject();
}

std::string ProbabilityText(double probability) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", probability);
  return text;
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
  json.Key("false_accept_probability").Real(comparison.false_accept_probability);
  json.Key("likeliest_impostor").String(ImpostorClassName(comparison.likeliest));
  json.Key("impostor_odds").BeginObject();
  for (ImpostorClass impostor : kImpostorClasses)
    json.Key(ImpostorClassName(impostor)).Real(comparison.odds.of(impostor));
  json.EndObject().Key("events").Number(comparison.events).Key("explanation").String(comparison.explanation);
  PolicyJson(policy, json);
}

std::vector<std::string> BundleTexts(const std::string& value) {
  std::vector<std::string> texts;
  std::size_t start = 0;
  while (start <= value.size()) {
    const std::size_t comma = std::min(value.find(',', start), value.size());
    texts.push_back(value.substr(start, comma - start));
    start = comma + 1;
  }
  return texts;
}

std::string MemberParseError(const std::string& text) {
  if (ReadAsIdentifier(text)) return DescribeParseError(ParseIdentifier(text), text);
  return DescribeFingerprintParseError(ParseFingerprint(text), text);
}

// The exit code and message of a bundle that is not judged.
int BundleError(const BundleComparison& comparison, const std::vector<std::string> (&bundles)[2],
                std::string& message) {
  const std::string text =
      comparison.side == 0 ? std::string() : EscapedForDisplay(bundles[comparison.side - 1][comparison.position]);
  const std::string where =
      "bundle " + std::to_string(comparison.side) + ", member " + std::to_string(comparison.position + 1);
  switch (comparison.status) {
    case BundleStatus::kMalformed:
      message =
          where + ": " + text + ": malformed: " + MemberParseError(bundles[comparison.side - 1][comparison.position]);
      return kExitMalformed;
    case BundleStatus::kNotWrittenByDll:
      message = where + ": " + text + ": not a record the DLL writes, so it is not compared (see tavsn decode)";
      return kExitAnomaly;
    case BundleStatus::kInconsistent:
      message = where + ": " + text + ": the bundle's members cannot come from one machine: " + comparison.problem;
      return kExitAnomaly;
    case BundleStatus::kEmpty: message = "bundle " + std::to_string(comparison.side) + " is empty"; return kExitUsage;
    case BundleStatus::kNothingInCommon:
      message = "the bundles hold no kind of member in common";
      return kExitUndecided;
    case BundleStatus::kOk: break;
  }
  return kExitOk;
}

int CompareBundlesCommand(const CommandLine& line, const ComparePolicy& policy, std::string& out, std::string& err) {
  const std::vector<std::string> values = Values(line, "--bundle");
  if (values.size() != 2 || line.positional.size() != 1) {
    err += "compare needs exactly two identifiers, or two --bundle and no identifier\n";
    return kExitUsage;
  }
  const std::vector<std::string> bundles[2] = {BundleTexts(values[0]), BundleTexts(values[1])};
  const BundleComparison comparison = CompareBundles(bundles[0], bundles[1], policy);
  JsonWriter json;
  json.BeginObject().Key("bundles").BeginArray();
  for (const std::vector<std::string>& bundle : bundles) json.Strings(bundle);
  json.EndArray();
  std::string message;
  if (const int code = BundleError(comparison, bundles, message); code != kExitOk) {
    err += message + "\n";
    json.Key("error").String(message).Key("side").Number(comparison.side);
    json.Key("member").Number(comparison.position).Key("exit_code").Number(code).EndObject();
    out += line.json ? json.text() + "\n" : "";
    return code;
  }
  const int code = VerdictExitCode(comparison.verdict);
  json.Key("members").BeginObject();
  for (const MemberJudgment& member : comparison.members) {
    json.Key(BundleMemberName(member.member)).BeginObject().Key("changed").Bool(member.changed);
    if (member.member != BundleMember::kFingerprint) {
      json.Key("verdict").String(MachineVerdictName(member.comparison.verdict));
    }
    json.EndObject();
  }
  json.EndObject().Key("changed_components").Strings(ComponentNames(comparison.changed));
  json.Key("verdict").String(MachineVerdictName(comparison.verdict)).Key("reason").String(comparison.reason);
  json.Key("same_machine").Bool(comparison.verdict == MachineVerdict::kSame);
  json.Key("false_accept_probability").Real(comparison.false_accept_probability);
  json.Key("likeliest_impostor").String(ImpostorClassName(comparison.likeliest));
  json.Key("impostor_odds").BeginObject();
  for (ImpostorClass impostor : kImpostorClasses)
    json.Key(ImpostorClassName(impostor)).Real(comparison.odds.of(impostor));
  json.EndObject().Key("events").Number(comparison.events).Key("explanation").String(comparison.explanation);
  PolicyJson(policy, json);
  json.Key("exit_code").Number(code).EndObject();
  if (line.json) {
    out += json.text() + "\n";
    return code;
  }
  for (const MemberJudgment& member : comparison.members) {
    out += std::string("  ") + BundleMemberName(member.member) + ": " + (member.changed ? "changed" : "equal");
    if (member.member != BundleMember::kFingerprint) {
      out += std::string(" (alone: ") + MachineVerdictName(member.comparison.verdict) + ")";
    }
    out += "\n";
  }
  const std::vector<std::string> changed = ComponentNames(comparison.changed);
  out += "changed components: " + (changed.empty() ? std::string("none") : Joined(changed, ", ")) + "\n";
  out += std::string(MachineVerdictName(comparison.verdict)) + " (" + PolicyName(policy.kind) +
         " policy): " + comparison.reason + "\n";
  out += "false-accept probability: " + ProbabilityText(comparison.false_accept_probability) + " (" +
         ImpostorClassName(comparison.likeliest) + ")\n";
  if (!comparison.explanation.empty()) out += "explanations: " + comparison.explanation + "\n";
  return code;
}

}  // namespace

int CompareCommand(const CommandLine& line, std::string& out, std::string& err) {
  ComparePolicy policy;
  std::string error;
  const bool bundles = line.values.count("--bundle") > 0;
  if (!bundles && line.positional.size() != 3) {
    err += "compare needs exactly two identifiers, or two --bundle and no identifier\n";
    return kExitUsage;
  }
  if (!ParsePolicy(line, policy, error)) {
    err += error + "\n";
    return kExitUsage;
  }
  if (bundles) return CompareBundlesCommand(line, policy, out, err);
  JsonWriter json;
  json.BeginObject();
  ParsedIdentifier parsed[2];
  for (int i = 0; i < 2; ++i) {
    parsed[i] = ParseIdentifier(line.positional[1 + i]);
    if (parsed[i].ok()) continue;
    err += EscapedForDisplay(line.positional[1 + i]) +
           ": malformed: " + DescribeParseError(parsed[i], line.positional[1 + i]) + "\n";
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
  out += "false-accept probability: " + ProbabilityText(comparison.false_accept_probability) + " (" +
         ImpostorClassName(comparison.likeliest) + ")\n";
  if (!comparison.explanation.empty()) out += "explanations: " + comparison.explanation + "\n";
  return code;
}

}  // namespace tavsn::cli
