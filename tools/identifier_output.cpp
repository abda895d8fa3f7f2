#include "tools/identifier_output.h"

#include "server/compare.h"
#include "server/display_text.h"

namespace tavsn::cli {

using namespace tavsn::server;

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
  out +=
      "  source flags: " + Hex16Text(f.source_flags) + " (" + Joined(DescribeSourceFlags(f.source_flags), ", ") + ")\n";
  out += "  MAC begins " + MacBytesText(f.mac_prefix, 1) + "-" + MacBytesText(f.mac_prefix + 1, 1) + ", MAC checksum " +
         Hex16Text(f.mac_checksum) + "\n";
  if (HasSelfChecksumShape(f)) {
    out += "  record checksum " + Hex16Text(f.system_checksum) +
           (f.self_checksum_verifies ? ": verifies\n"
                                     : ": DOES NOT VERIFY (expected " + Hex16Text(f.expected_self_checksum) + ")\n");
  } else {
    out += "  firmware text: " + std::to_string(f.system_length) + " characters, checksum " +
           Hex16Text(f.system_checksum) + "\n";
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
    out += std::string("  evidence: ") + ComponentName(e.component) + " " + StrengthName(e.strength) + ": " + e.reason +
           "\n";
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

std::vector<std::string> ComponentNames(unsigned components) {
  std::vector<std::string> names;
  for (unsigned bit = 1; bit <= kComponentMacSource; bit <<= 1) {
    if (components & bit) names.emplace_back(ComponentName(static_cast<Component>(bit)));
  }
  return names;
}

}  // namespace tavsn::cli
