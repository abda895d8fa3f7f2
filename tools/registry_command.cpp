// tavsn registry: the machine registry of a licence server, on the command
// line. Each subcommand opens the database, does one thing and closes it;
// the decisions are the registry library's (registry/registry.h).
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>

#include "registry/registry.h"
#include "registry/registry_json.h"
#include "server/display_text.h"
#include "tools/commands.h"
#include "tools/json_writer.h"

namespace tavsn::cli {
namespace {

using namespace tavsn::registry;
using server::EscapedForDisplay;

int ExitCodeOf(StoreErrorKind kind) {
  switch (kind) {
    case StoreErrorKind::kNone: return kExitOk;
    case StoreErrorKind::kBusy: return kExitRegistryBusy;
    case StoreErrorKind::kReadOnly: return kExitRegistryReadOnly;
    case StoreErrorKind::kFull: return kExitRegistryFull;
    case StoreErrorKind::kDamaged: return kExitRegistryDamaged;
    case StoreErrorKind::kConnectionLost: return kExitRegistryConnectionLost;
    case StoreErrorKind::kNewerSchema: return kExitRegistryNewer;
    case StoreErrorKind::kNotFound: return kExitNoRegistry;
    case StoreErrorKind::kNotBuilt: return kExitRegistryUnavailable;
    case StoreErrorKind::kBadLocation: return kExitUsage;
    case StoreErrorKind::kOther: return kExitRegistryError;
  }
  return kExitRegistryError;
}

int Failed(const StoreError& e, std::string& err) {
  err += "registry " + std::string(StoreErrorKindName(e.kind)) + ": " + EscapedForDisplay(e.message) + "\n";
  return ExitCodeOf(e.kind);
}

int OutcomeExitCode(CheckInOutcome outcome) {
  switch (outcome) {
    case CheckInOutcome::kKnownUnchanged:
    case CheckInOutcome::kKnownChanged:
    case CheckInOutcome::kActivated: return kExitOk;
    case CheckInOutcome::kRefusedNoSeat: return kExitNoSeat;
    case CheckInOutcome::kRefusedNotDll:
    case CheckInOutcome::kRefusedInconsistent: return kExitAnomaly;
    case CheckInOutcome::kUndecided: return kExitUndecided;
  }
  return kExitRegistryError;
}

void CandidatesJson(const char* key, const std::vector<Candidate>& candidates, JsonWriter& json) {
  json.Key(key).BeginArray();
  for (const Candidate& c : candidates) WriteCandidateJson(c, json);
  json.EndArray();
}

std::string CandidateText(const Candidate& c) {
  char risk[32];
  std::snprintf(risk, sizeof risk, "%.3g", c.false_accept_probability);
  std::string text = "  machine " + std::to_string(c.machine) + " of scope " + EscapedForDisplay(c.scope) + ": " +
                     server::MachineVerdictName(c.verdict) + ", false-accept probability " + risk + ", last check-in " +
                     TimeText(c.last_check_in) + "\n";
  if (!c.explanation.empty()) text += "    " + c.explanation + "\n";
  return text;
}

struct Opened {
  std::unique_ptr<Registry> registry;
  int code = kExitOk;
};

Opened OpenRegistry(const CommandLine& line, bool read_only, std::string& err) {
  Opened opened;
  std::string error;
  const std::optional<std::string> db = Option(line, "--db", error);
  if (!error.empty() || !db) {
    err += error.empty() ? "registry needs --db LOCATION (sqlite:PATH, a path, or postgresql://...)\n" : error + "\n";
    opened.code = kExitUsage;
    return opened;
  }
  StoreOptions options;
  options.read_only = read_only;
  options.create = !read_only;
  if (StoreError e = Registry::Open(*db, options, opened.registry)) opened.code = Failed(e, err);
  return opened;
}

int CheckInCommand(const CommandLine& line, std::string& out, std::string& err) {
  std::string error;
  const std::optional<std::string> scope = Option(line, "--scope", error);
  const std::optional<std::string> seats_text = Option(line, "--seats", error);
  const std::optional<std::string> time_text = Option(line, "--time", error);
  std::vector<std::string> texts(line.positional.begin() + 2, line.positional.end());
  std::int64_t seats = -1;
  Time at = static_cast<Time>(std::time(nullptr));
  if (error.empty() && !scope) error = "check-in needs --scope SCOPE";
  if (error.empty() && texts.empty()) error = "check-in needs the identifiers of one call site";
  if (error.empty() && seats_text &&
      (seats_text->empty() || seats_text->size() > 9 ||
       seats_text->find_first_not_of("0123456789") != std::string::npos)) {
    error = "--seats takes a number of machines, 0 or more";
  }
  if (error.empty() && time_text && !ParseTime(*time_text, at)) {
    error = "--time takes seconds since 1970 or YYYY-MM-DDTHH:MM:SSZ";
  }
  if (!error.empty()) {
    err += error + "\n";
    return kExitUsage;
  }
  if (seats_text) seats = std::stoll(*seats_text);
  const ReadBundle read = ReadBundleTexts(texts);
  if (read.status == server::BundleStatus::kMalformed) {
    err += "identifier " + std::to_string(read.position + 1) +
           " is malformed: " + EscapedForDisplay(texts[read.position]) + "\n";
    return kExitMalformed;
  }
  Opened opened = OpenRegistry(line, false, err);
  if (!opened.registry) return opened.code;
  CheckInResult result;
  if (StoreError e = opened.registry->CheckIn(*scope, texts, at, seats, result)) return Failed(e, err);
  const int code = OutcomeExitCode(result.outcome);
  if (line.json) {
    JsonWriter json;
    json.BeginObject().Key("outcome").String(CheckInOutcomeName(result.outcome));
    json.Key("decided_by").String(EvidenceName(result.decided_by)).Key("detail").String(result.detail);
    if (result.machine != 0) json.Key("machine").Number(result.machine);
    json.Key("scope").String(*scope).Key("time").String(TimeText(at));
    json.Key("seats").Number(result.seats).Key("used").Number(result.used);
    if (!result.settle.empty()) json.Key("settle").String(result.settle);
    CandidatesJson("candidates", result.candidates, json);
    CandidatesJson("other_scopes", result.other_scopes, json);
    json.Key("exit_code").Number(code).EndObject();
    out += json.text() + "\n";
    return code;
  }
  out += "outcome: " + std::string(CheckInOutcomeName(result.outcome)) + "\n";
  if (result.machine != 0) out += "machine: " + std::to_string(result.machine) + "\n";
  out += "decided by: " + std::string(EvidenceName(result.decided_by)) + "\n";
  out += "detail: " + EscapedForDisplay(result.detail) + "\n";
  if (result.seats >= 0 && result.used > 0) {
    out += "seats: " + std::to_string(result.used) + " of " + std::to_string(result.seats) + " used\n";
  }
  if (!result.settle.empty()) out += "would settle it: " + result.settle + "\n";
  if (!result.candidates.empty()) out += "candidates in the scope:\n";
  for (const Candidate& c : result.candidates) out += CandidateText(c);
  if (!result.other_scopes.empty()) out += "also under other scopes:\n";
  for (const Candidate& c : result.other_scopes) out += CandidateText(c);
  return code;
}

int IdentifyCommand(const CommandLine& line, std::string& out, std::string& err) {
  std::vector<std::string> texts(line.positional.begin() + 2, line.positional.end());
  if (texts.empty()) {
    err += "identify needs the identifiers of one call site\n";
    return kExitUsage;
  }
  Opened opened = OpenRegistry(line, true, err);
  if (!opened.registry) return opened.code;
  IdentifyResult result;
  ReadBundle read;
  if (StoreError e = opened.registry->Identify(texts, result, read)) return Failed(e, err);
  if (read.status != server::BundleStatus::kOk) {
    err += "identifier " + std::to_string(read.position + 1) +
           " cannot be judged: " + (read.problem.empty() ? "no record the DLL writes" : read.problem) + "\n";
    return read.status == server::BundleStatus::kMalformed ? kExitMalformed : kExitAnomaly;
  }
  int code = kExitNotRegistered;
  for (const Candidate& c : result.candidates) {
    if (c.verdict == server::MachineVerdict::kSame) code = kExitOk;
    if (c.verdict == server::MachineVerdict::kUndecided && code != kExitOk) code = kExitUndecided;
  }
  if (line.json) {
    JsonWriter json;
    json.BeginObject();
    CandidatesJson("machines", result.candidates, json);
    json.Key("exit_code").Number(code).EndObject();
    out += json.text() + "\n";
    return code;
  }
  if (result.candidates.empty()) out += "no machine in the registry may be this one\n";
  for (const Candidate& c : result.candidates) out += CandidateText(c);
  return code;
}

int HistoryCommand(const CommandLine& line, std::string& out, std::string& err) {
  if (line.positional.size() != 3 || line.positional[2].empty() || line.positional[2].size() > 18 ||
      line.positional[2].find_first_not_of("0123456789") != std::string::npos) {
    err += "history needs one machine number\n";
    return kExitUsage;
  }
  Opened opened = OpenRegistry(line, true, err);
  if (!opened.registry) return opened.code;
  MachineRecord machine;
  bool found = false;
  if (StoreError e = opened.registry->History(std::stoll(line.positional[2]), machine, found)) return Failed(e, err);
  if (!found) {
    err += "no machine " + line.positional[2] + " in the registry\n";
    return kExitNotRegistered;
  }
  if (line.json) {
    JsonWriter json;
    json.BeginObject();
    WriteHistoryJson(machine, json);
    json.Key("exit_code").Number(kExitOk).EndObject();
    out += json.text() + "\n";
    return kExitOk;
  }
  out += "machine " + std::to_string(machine.id) + " of scope " + EscapedForDisplay(machine.scope) + "\n";
  out += "activated: " + TimeText(machine.activated) + "\nlast check-in: " + TimeText(machine.last_check_in) + "\n";
  out += "identifiers:\n";
  for (const Sighting& s : machine.history) {
    out += "  " + s.text + "  " + server::BundleMemberName(static_cast<server::BundleMember>(s.member)) + "  " +
           TimeText(s.first_seen) + " to " + TimeText(s.last_seen) + "\n";
  }
  if (!machine.changes.empty()) out += "changes:\n";
  for (const ChangeRecord& c : machine.changes) {
    out += "  " + TimeText(c.at) + ": " + EscapedForDisplay(c.evidence) + "\n";
  }
  return kExitOk;
}

int AuditCommand(const CommandLine& line, std::string& out, std::string& err) {
  Opened opened = OpenRegistry(line, true, err);
  if (!opened.registry) return opened.code;
  AuditResult audit;
  if (StoreError e = opened.registry->Audit(audit)) return Failed(e, err);
  if (line.json) {
    JsonWriter json;
    json.BeginObject();
    WriteAuditJson(audit, json);
    json.Key("exit_code").Number(kExitOk).EndObject();
    out += json.text() + "\n";
    return kExitOk;
  }
  out += "machines: " + std::to_string(audit.machines) + "\nscopes: " + std::to_string(audit.scopes) + "\n";
  out += "one machine under several scopes: " + std::to_string(audit.across_scopes.size()) + "\n";
  for (const auto& shared : audit.across_scopes) {
    out += "  machine " + std::to_string(shared.first.machine) + " of " + EscapedForDisplay(shared.first.scope) +
           " and machine " + std::to_string(shared.second.machine) + " of " + EscapedForDisplay(shared.second.scope) +
           "\n";
  }
  out +=
      "identifiers passed back and forth between machines of one scope: " + std::to_string(audit.alternating.size()) +
      "\n";
  for (const auto& a : audit.alternating) {
    out += "  " + a.identifier + " in " + EscapedForDisplay(a.scope) + ": machines";
    // Appended piece by piece: GCC 12 misreads `" " + std::to_string(id)`
    // in this loop as an overlapping copy (-Wrestrict) at -O2.
    for (MachineId id : a.machines) out.append(" ").append(std::to_string(id));
    out.append(", ").append(std::to_string(a.handovers)).append(" handovers, ");
    out.append(std::to_string(a.returns)).append(" back\n");
  }
  return kExitOk;
}

int ExportCommand(const CommandLine& line, std::string& out, std::string& err) {
  if (line.json) {
    err += "export writes CSV, not JSON\n";
    return kExitUsage;
  }
  Opened opened = OpenRegistry(line, true, err);
  if (!opened.registry) return opened.code;
  if (StoreError e = opened.registry->Export([&](const std::string& csv) { return out += csv + "\n", true; })) {
    return Failed(e, err);
  }
  return kExitOk;
}

int ImportCommand(const CommandLine& line, std::string& out, std::string& err) {
  if (line.positional.size() != 3) {
    err += "import needs one CSV file (scope,identifier,time), or - for standard input\n";
    return kExitUsage;
  }
  const std::string& path = line.positional[2];
  std::ifstream file;
  if (path != "-") {
    file.open(path);
    if (!file) {
      err += "cannot read " + EscapedForDisplay(path) + "\n";
      return kExitUsage;
    }
  }
  std::istream& input = path == "-" ? std::cin : file;
  Opened opened = OpenRegistry(line, false, err);
  if (!opened.registry) return opened.code;
  // Progress only for a person watching: never into a log or a pipe.
  const bool terminal = isatty(STDERR_FILENO) == 1;
  ImportProgress totals;
  const StoreError e = opened.registry->Import(
      [&](std::string& text) { return static_cast<bool>(std::getline(input, text)); },
      [&](const ImportProgress& p) {
        if (!terminal) return;
        std::fprintf(stderr, "\rimported %lld of %lld lines, %lld refused", static_cast<long long>(p.imported),
                     static_cast<long long>(p.lines), static_cast<long long>(p.refused));
        std::fflush(stderr);
      },
      totals);
  if (terminal) std::fputc('\n', stderr);
  if (e) return Failed(e, err);
  const int code = totals.refused == 0 ? kExitOk : kExitAnomaly;
  if (line.json) {
    JsonWriter json;
    json.BeginObject();
    WriteImportJson(totals, json);
    json.Key("exit_code").Number(code).EndObject();
    out += json.text() + "\n";
  } else {
    out += "lines: " + std::to_string(totals.lines) + "\nimported: " + std::to_string(totals.imported) +
           "\nrefused: " + std::to_string(totals.refused) + "\n";
  }
  return code;
}

}  // namespace

int RegistryCommand(const CommandLine& line, std::string& out, std::string& err) {
  const std::string sub = line.positional.size() > 1 ? line.positional[1] : "";
  if (sub == "check-in") return CheckInCommand(line, out, err);
  if (sub == "identify") return IdentifyCommand(line, out, err);
  if (sub == "history") return HistoryCommand(line, out, err);
  if (sub == "audit") return AuditCommand(line, out, err);
  if (sub == "export") return ExportCommand(line, out, err);
  if (sub == "import") return ImportCommand(line, out, err);
  err += sub.empty() ? "registry needs a subcommand: check-in, identify, history, audit, export or import\n"
                     : "unknown registry subcommand \"" + EscapedForDisplay(sub) + "\"\n";
  return kExitUsage;
}

}  // namespace tavsn::cli
