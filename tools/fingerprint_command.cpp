// verify and decode of a fingerprint (tav_get_pc_id): 31 digits of an MD5.
#include "tools/fingerprint_command.h"

#include <cerrno>
#include <cstdlib>

#include "server/display_text.h"
#include "server/fingerprint_facts.h"
#include "tools/identifier_output.h"

namespace tavsn::cli {
namespace {

using namespace tavsn::server;

constexpr const char* kFingerprintOptions[] = {"--cpu-vendor", "--cpuid-leaf0",  "--highest-leaf", "--brand",
                                               "--mhz",        "--memory-bytes", "--disk-bytes"};
constexpr char kNotDecodable[] =
    "an MD5 digest of the processor, first disk and first adapter texts: nothing can be decoded from it; "
    "tavsn verify checks it against a machine's facts";

// A whole number, decimal or with 0x in hexadecimal, at most `highest`.
std::optional<unsigned long long> WholeNumber(const std::string& text, unsigned long long highest) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return std::nullopt;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
  if (errno != 0 || *end != '\0' || end == text.c_str() + (hex ? 2 : 0) || value > highest) return std::nullopt;
  return value;
}

// CPUID leaf 0 as 32 hex digits (EAX, EBX, ECX, EDX), optionally in four
// groups of 8 separated by ':' or blanks.
std::optional<CpuidRegisters> Leaf0(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c != ':' && c != ' ') digits += c;
  }
  if (digits.size() != 32) return std::nullopt;
  std::uint32_t words[4];
  for (int i = 0; i < 4; ++i) {
    const auto word = WholeNumber("0x" + digits.substr(8 * i, 8), 0xFFFFFFFF);
    if (!word) return std::nullopt;
    words[i] = static_cast<std::uint32_t>(*word);
  }
  return CpuidRegisters{words[0], words[1], words[2], words[3]};
}

template <typename T>
void NumberOption(const CommandLine& line, const char* option, unsigned long long highest, std::optional<T>& fact,
                  std::string& error) {
  const std::optional<std::string> text = Option(line, option, error);
  if (!text) return;
  const auto value = WholeNumber(*text, highest);
  if (!value) {
    error = std::string(option) + " \"" + EscapedForDisplay(*text) + "\" is not a whole number from 0 to " +
            std::to_string(highest);
    return;
  }
  fact = static_cast<T>(*value);
}

FingerprintFacts FactsOf(const CommandLine& line, std::string& error) {
  FingerprintFacts facts;
  facts.cpu_vendor = Option(line, "--cpu-vendor", error);
  if (const auto leaf0 = Option(line, "--cpuid-leaf0", error)) {
    facts.leaf0 = Leaf0(*leaf0);
    if (!facts.leaf0) error = "--cpuid-leaf0 is 32 hex digits: EAX, EBX, ECX, EDX, each 8 (groups may be split by ':')";
  }
  NumberOption(line, "--highest-leaf", 0xFFFFFFFF, facts.highest_leaf, error);
  facts.brand = Option(line, "--brand", error);
  NumberOption(line, "--mhz", 0xFFFFFFFF, facts.mhz, error);
  NumberOption(line, "--memory-bytes", 0x7FFFFFFFFFFFFFFF, facts.memory_bytes, error);
  NumberOption(line, "--disk-bytes", 0x7FFFFFFFFFFFFFFF, facts.disk_bytes, error);
  // The first --mac is the adapter IP Helper lists first; the others are the
  // machine's other adapters.
  std::vector<std::string> macs = Values(line, "--mac");
  if (!macs.empty()) {
    facts.mac = macs.front();
    facts.other_macs.assign(macs.begin() + 1, macs.end());
  }
  for (const char* other : {"--list-order", "--mac-source", "--cpu-text", "--serial", "--uuid-text"}) {
    if (line.values.count(other)) error = std::string(other) + " does not apply to a fingerprint";
  }
  return facts;
}

int ExitOf(Verdict verdict) {
  switch (verdict) {
    case Verdict::kMatch: return kExitOk;
    case Verdict::kMismatch: return kExitMismatch;
    case Verdict::kBadFact: return kExitUsage;
    default: return kExitUndecided;
  }
}

std::string CausesText(const FingerprintExplanation& e) {
  std::string text;
  for (FingerprintCause cause : e.causes) {
    text += std::string(text.empty() ? "" : "; and ") + FingerprintCauseWords(cause);
    if (cause == FingerprintCause::kOtherFirstAdapter) text += " (" + e.first_adapter + ")";
    if (cause == FingerprintCause::kHighestLeafLimited) text += " (" + std::to_string(e.highest_leaf) + ")";
  }
  return text;
}

void MatchJson(const FingerprintMatch& match, JsonWriter& json) {
  json.Key("verdict").String(VerdictName(match.verdict));
  if (!match.expected.empty()) {
    json.Key("expected_text").String(match.expected).Key("digest_input").String(match.digest_input);
    json.Key("highest_leaf").Number(match.highest_leaf);
  }
  json.Key("highest_leaf_searched").Bool(match.highest_leaf_searched);
  json.Key("explanations").BeginArray();
  for (const FingerprintExplanation& e : match.explanations) {
    json.BeginObject().Key("causes").BeginArray();
    for (FingerprintCause cause : e.causes) json.String(FingerprintCauseName(cause));
    json.EndArray();
    if (!e.first_adapter.empty()) json.Key("first_adapter").String(e.first_adapter);
    json.Key("highest_leaf").Number(e.highest_leaf).EndObject();
  }
  json.EndArray().Key("combinations_tried").Number(static_cast<long long>(match.combinations_tried));
  json.Key("without_effect").BeginArray();
  for (FingerprintCause cause : match.without_effect) json.String(FingerprintCauseName(cause));
  json.EndArray();
  if (!match.note.empty()) json.Key("note").String(match.note);
}

std::string MatchText(const std::string& text, const FingerprintMatch& match) {
  std::string out = text + ": " + VerdictName(match.verdict) + "\n";
  if (!match.expected.empty()) {
    out += "  these facts give " + match.expected + "\n";
    out += "  digest input: " + match.digest_input + "\n";
  }
  if (match.highest_leaf_searched && !match.expected.empty()) {
    out += "  highest leaf found: " + std::to_string(match.highest_leaf) + "\n";
  }
  if (match.verdict == Verdict::kMismatch) {
    if (match.explanations.empty()) {
      out += "  no known cause reproduces it (" + std::to_string(match.combinations_tried) +
             " combinations tried): the processor, the first disk's size or the first adapter differ\n";
    } else {
      out += "  reproduced by, most likely first:\n";
      for (std::size_t i = 0; i < match.explanations.size(); ++i) {
        out += "    " + std::to_string(i + 1) + ". " + CausesText(match.explanations[i]) + "\n";
      }
    }
  }
  for (FingerprintCause cause : match.without_effect)
    out += "  no effect: " + std::string(FingerprintCauseWords(cause)) + "\n";
  if (!match.note.empty()) out += "  note: " + match.note + "\n";
  return out;
}

// The members every command writes first for a fingerprint, as for an
// identifier: valid, and the error, detail and message when it is not.
void FingerprintValidityJson(const ParsedFingerprint& parsed, const std::string& text, JsonWriter& json) {
  json.Key("valid").Bool(parsed.ok());
  if (!parsed.ok()) {
    json.Key("error").String(ParseStatusName(parsed.status));
    json.Key("detail").Number(static_cast<long long>(parsed.detail));
    json.Key("message").String(DescribeFingerprintParseError(parsed, text));
    return;
  }
  json.Key("kind").String("fingerprint");
}

}  // namespace

bool IsFingerprintText(const std::string& text) {
  // "TQ1" and 28 more is an identifier cut short, never a fingerprint, whose
  // digits hold no T.
  return text.size() == kFingerprintDigits && text.compare(0, 2, "TQ") != 0;
}

std::optional<std::string> FingerprintOnlyOption(const CommandLine& line) {
  for (const char* option : kFingerprintOptions) {
    if (line.values.count(option)) return std::string(option);
  }
  return std::nullopt;
}

int VerifyFingerprint(const std::string& text, const CommandLine& line, std::string& out, std::string& err) {
  const ParsedFingerprint parsed = ParseFingerprint(text);
  JsonWriter json;
  json.BeginObject().Key("text").String(text);
  FingerprintValidityJson(parsed, text, json);
  if (!parsed.ok()) {
    json.Key("exit_code").Number(kExitMalformed).EndObject();
    out += line.json ? json.text() + "\n" : "";
    err += EscapedForDisplay(text) + ": malformed: " + DescribeFingerprintParseError(parsed, text) + "\n";
    return kExitMalformed;
  }
  std::string error;
  const FingerprintFacts facts = FactsOf(line, error);
  if (!error.empty()) {
    err += error + "\n";
    return kExitUsage;
  }
  const FingerprintMatch match = MatchFingerprint(parsed, facts);
  const int code = ExitOf(match.verdict);
  if (match.verdict == Verdict::kBadFact) err += match.note + "\n";
  MatchJson(match, json);
  json.Key("exit_code").Number(code).EndObject();
  out += line.json ? json.text() + "\n" : MatchText(text, match);
  return code;
}

int DescribeFingerprint(const std::string& text, bool as_json, JsonWriter& json, std::string& out) {
  const ParsedFingerprint parsed = ParseFingerprint(text);
  if (as_json) {
    FingerprintValidityJson(parsed, text, json);
    if (parsed.ok()) json.Key("decodable").Bool(false).Key("note").String(kNotDecodable);
  } else if (parsed.ok()) {
    out += EscapedForDisplay(text) + ": fingerprint (tav_get_pc_id)\n  " + kNotDecodable + "\n";
  } else {
    out +=
        EscapedForDisplay(text) + ":\n  malformed fingerprint: " + DescribeFingerprintParseError(parsed, text) + "\n";
  }
  return parsed.ok() ? kExitOk : kExitMalformed;
}

}  // namespace tavsn::cli
