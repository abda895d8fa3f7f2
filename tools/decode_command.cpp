#include "tools/commands.h"

#include "server/display_text.h"
#include "tools/fingerprint_command.h"
#include "tools/identifier_output.h"

namespace tavsn::cli {

using namespace tavsn::server;

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
    if (IsFingerprintText(text)) {
      if (line.json) json.BeginObject().Key("text").String(text);
      if (DescribeFingerprint(text, line.json, json, out) != kExitOk) code = kExitMalformed;
      if (line.json) json.EndObject();
      continue;
    }
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
      out += EscapedForDisplay(text) +
             (parsed.ok()
                  ? (parsed.kind == IdentifierKind::kMac ? ": MAC identifier (GetMacSN)\n" : ": machine identifier\n")
                  : ":\n");
      out += DescribeIdentifier(parsed, text);
    }
  }
  json.EndArray().Key("exit_code").Number(code).EndObject();
  if (line.json) out += json.text() + "\n";
  return code;
}

}  // namespace tavsn::cli
