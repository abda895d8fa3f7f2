#include "tools/commands.h"

#include <algorithm>
#include <cstdio>

#include "server/display_text.h"
#include "tavsn.h"
#include "tools/identifier_output.h"

namespace tavsn::cli {
namespace {

using namespace tavsn::server;

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

}  // namespace

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

}  // namespace tavsn::cli
