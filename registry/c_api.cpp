// The registry's C API (include/tavsn_registry.h) over registry/registry.h.
// Nothing thrown crosses it: every entry point is guarded.
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "registry/registry.h"
#include "registry/registry_json.h"
#include "server/c_api_guard.h"
#include "tavsn_registry.h"

struct tavsn_registry {
  std::unique_ptr<tavsn::registry::Registry> registry;
  std::string last_error;
};

namespace {

using namespace tavsn::registry;
using tavsn::server::Guarded;

int CodeOf(StoreErrorKind kind) {
  switch (kind) {
    case StoreErrorKind::kNone: return TAVSN_SERVER_OK;
    case StoreErrorKind::kBusy: return TAVSN_REGISTRY_ERROR_BUSY;
    case StoreErrorKind::kReadOnly: return TAVSN_REGISTRY_ERROR_READ_ONLY;
    case StoreErrorKind::kFull: return TAVSN_REGISTRY_ERROR_FULL;
    case StoreErrorKind::kDamaged: return TAVSN_REGISTRY_ERROR_DAMAGED;
    case StoreErrorKind::kConnectionLost: return TAVSN_REGISTRY_ERROR_CONNECTION_LOST;
    case StoreErrorKind::kNewerSchema: return TAVSN_REGISTRY_ERROR_NEWER;
    case StoreErrorKind::kNotFound: return TAVSN_REGISTRY_ERROR_NOT_FOUND;
    case StoreErrorKind::kNotBuilt: return TAVSN_REGISTRY_ERROR_NOT_BUILT;
    case StoreErrorKind::kBadLocation: return TAVSN_REGISTRY_ERROR_BAD_LOCATION;
    case StoreErrorKind::kOther: return TAVSN_REGISTRY_ERROR_DATABASE;
  }
  return TAVSN_REGISTRY_ERROR_DATABASE;
}

int Report(tavsn_registry* handle, const StoreError& e) {
  handle->last_error = e.message;
  return CodeOf(e.kind);
}

void CopyText(const std::string& text, char (&out)[TAVSN_REGISTRY_TEXT]) {
  const std::size_t size = text.size() < sizeof out - 1 ? text.size() : sizeof out - 1;
  std::memcpy(out, text.data(), size);
  out[size] = '\0';
}

void FillCandidates(const std::vector<Candidate>& from, tavsn_registry_candidate* out, std::size_t& count) {
  count = 0;
  for (const Candidate& c : from) {
    if (count == TAVSN_REGISTRY_MAX_CANDIDATES) break;
    tavsn_registry_candidate& to = out[count++];
    to.machine = c.machine;
    to.verdict = c.verdict == tavsn::server::MachineVerdict::kSame ? TAVSN_SAME_MACHINE : TAVSN_UNDECIDED;
    to.false_accept_probability = c.false_accept_probability;
    to.last_check_in = c.last_check_in;
    to.scope_length = c.scope.size();
    CopyText(c.scope, to.scope);
  }
}

int OutcomeCode(CheckInOutcome outcome) {
  switch (outcome) {
    case CheckInOutcome::kKnownUnchanged: return TAVSN_CHECK_IN_KNOWN_UNCHANGED;
    case CheckInOutcome::kKnownChanged: return TAVSN_CHECK_IN_KNOWN_CHANGED;
    case CheckInOutcome::kActivated: return TAVSN_CHECK_IN_ACTIVATED;
    case CheckInOutcome::kRefusedNoSeat: return TAVSN_CHECK_IN_NO_SEAT;
    case CheckInOutcome::kRefusedNotDll: return TAVSN_CHECK_IN_NOT_DLL_RECORD;
    case CheckInOutcome::kRefusedInconsistent: return TAVSN_CHECK_IN_INCONSISTENT;
    case CheckInOutcome::kUndecided: return TAVSN_CHECK_IN_UNDECIDED;
  }
  return TAVSN_CHECK_IN_UNDECIDED;
}

int EvidenceCode(Evidence evidence) {
  switch (evidence) {
    case Evidence::kEqualIdentifiers: return TAVSN_DECIDED_BY_EQUAL;
    case Evidence::kJudgment: return TAVSN_DECIDED_BY_JUDGMENT;
    case Evidence::kSilence: return TAVSN_DECIDED_BY_SILENCE;
    case Evidence::kOverlap: return TAVSN_DECIDED_BY_OVERLAP;
    case Evidence::kNone: return TAVSN_DECIDED_BY_NOTHING;
  }
  return TAVSN_DECIDED_BY_NOTHING;
}

// The texts of a bundle; false when a pointer is null.
bool Texts(const char* const* texts, const size_t* lengths, size_t count, std::vector<std::string>& out) {
  if (count > 0 && (texts == nullptr || lengths == nullptr)) return false;
  for (size_t i = 0; i < count; ++i) {
    if (texts[i] == nullptr && lengths[i] > 0) return false;
    out.emplace_back(texts[i] ? texts[i] : "", lengths[i]);
  }
  return true;
}

// A JSON answer into the caller's buffer, whole or not at all: a reader
// of a buffer too small sees "" rather than half an object.
int WriteAnswer(const tavsn::server::JsonWriter& json, char* out, size_t size, size_t* length) {
  const std::string& text = json.text();
  *length = text.size();
  if (text.size() >= size) return TAVSN_REGISTRY_ERROR_TOO_SMALL;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return TAVSN_SERVER_OK;
}

// Sets the outputs of a JSON answer before anything else can fail.
int StartAnswer(tavsn_registry* registry, char* json, size_t size, size_t* length) {
  if (length == nullptr) return TAVSN_SERVER_ERROR_NULL;
  *length = 0;
  if (json == nullptr && size > 0) return TAVSN_SERVER_ERROR_NULL;
  if (size > 0) json[0] = '\0';
  return registry == nullptr ? TAVSN_SERVER_ERROR_NULL : TAVSN_SERVER_OK;
}

void CopyTotals(const ImportProgress& from, tavsn_import_totals& to) {
  to.lines = from.lines;
  to.imported = from.imported;
  to.refused = from.refused;
}

}  // namespace

extern "C" {

int tavsn_registry_open(const char* location, unsigned flags, tavsn_registry** out) {
  if (out == nullptr) return TAVSN_SERVER_ERROR_NULL;
  *out = nullptr;
  if (location == nullptr) return TAVSN_SERVER_ERROR_NULL;
  constexpr unsigned kKnownFlags = TAVSN_REGISTRY_READ_ONLY | TAVSN_REGISTRY_NO_CREATE | TAVSN_REGISTRY_POWER_CUT_SAFE;
  if ((flags & ~kKnownFlags) != 0) return TAVSN_SERVER_ERROR_BAD_ARGUMENT;
  return Guarded([&] {
    StoreOptions options;
    options.read_only = (flags & TAVSN_REGISTRY_READ_ONLY) != 0;
    options.create = (flags & (TAVSN_REGISTRY_READ_ONLY | TAVSN_REGISTRY_NO_CREATE)) == 0;
    options.durability = (flags & TAVSN_REGISTRY_POWER_CUT_SAFE) ? Durability::kPowerCut : Durability::kProcessCrash;
    auto handle = std::make_unique<tavsn_registry>();
    if (StoreError e = Registry::Open(location, options, handle->registry)) return CodeOf(e.kind);
    *out = handle.release();
    return TAVSN_SERVER_OK;
  });
}

void tavsn_registry_close(tavsn_registry* registry) { delete registry; }

const char* tavsn_registry_last_error(const tavsn_registry* registry) {
  return registry ? registry->last_error.c_str() : "";
}

const char* tavsn_registry_error_text(int code) {
  switch (code) {
    case TAVSN_REGISTRY_ERROR_BUSY: return "the registry is locked by another process";
    case TAVSN_REGISTRY_ERROR_READ_ONLY: return "the registry cannot be written";
    case TAVSN_REGISTRY_ERROR_FULL: return "the disk or the registry is full";
    case TAVSN_REGISTRY_ERROR_DAMAGED: return "not a registry, or a damaged one";
    case TAVSN_REGISTRY_ERROR_CONNECTION_LOST: return "the connection to the database server was lost";
    case TAVSN_REGISTRY_ERROR_NEWER: return "the registry was made by a newer tavsn";
    case TAVSN_REGISTRY_ERROR_NOT_FOUND: return "no registry at that location";
    case TAVSN_REGISTRY_ERROR_NOT_BUILT: return "no engine for that location in this library";
    case TAVSN_REGISTRY_ERROR_BAD_LOCATION: return "the location names no engine";
    case TAVSN_REGISTRY_ERROR_DATABASE: return "a database error";
    case TAVSN_REGISTRY_ERROR_NO_MACHINE: return "no machine of that number in the registry";
    case TAVSN_REGISTRY_ERROR_TOO_SMALL: return "the answer does not fit the buffer";
    case TAVSN_REGISTRY_ERROR_FILE: return "the file cannot be read";
    default: return tavsn_server_error_text(code);
  }
}

int tavsn_registry_set_windows(tavsn_registry* registry, long long silence, long long overlap) {
  if (registry == nullptr) return TAVSN_SERVER_ERROR_NULL;
  if (silence < 0 || overlap < 0 || overlap > silence) return TAVSN_SERVER_ERROR_BAD_ARGUMENT;
  RegistryPolicy policy = registry->registry->policy();
  policy.silence_window = silence;
  policy.overlap_window = overlap;
  registry->registry->set_policy(policy);
  return TAVSN_SERVER_OK;
}

int tavsn_registry_check_in(tavsn_registry* registry, const char* scope, size_t scope_length, const char* const* texts,
                            const size_t* lengths, size_t count, long long time, long long seats, tavsn_check_in* out) {
  if (out == nullptr) return TAVSN_SERVER_ERROR_NULL;
  std::memset(out, 0, sizeof *out);
  out->seats = -1;
  out->decided_by = TAVSN_DECIDED_BY_NOTHING;
  if (registry == nullptr || (scope == nullptr && scope_length > 0)) return TAVSN_SERVER_ERROR_NULL;
  if (seats < -1) return TAVSN_SERVER_ERROR_BAD_ARGUMENT;
  return Guarded([&] {
    std::vector<std::string> bundle;
    if (!Texts(texts, lengths, count, bundle)) return TAVSN_SERVER_ERROR_NULL;
    CheckInResult result;
    const std::string scope_text(scope ? scope : "", scope_length);
    if (StoreError e = registry->registry->CheckIn(scope_text, bundle, time, seats, result)) {
      return Report(registry, e);
    }
    registry->last_error.clear();
    out->outcome = OutcomeCode(result.outcome);
    out->decided_by = EvidenceCode(result.decided_by);
    out->machine = result.machine;
    out->seats = result.seats;
    out->used = result.used;
    FillCandidates(result.candidates, out->candidates, out->candidate_count);
    FillCandidates(result.other_scopes, out->other_scopes, out->other_scope_count);
    CopyText(result.detail, out->detail);
    CopyText(result.settle, out->settle);
    return TAVSN_SERVER_OK;
  });
}

int tavsn_registry_identify(tavsn_registry* registry, const char* const* texts, const size_t* lengths, size_t count,
                            tavsn_identification* out) {
  if (out == nullptr) return TAVSN_SERVER_ERROR_NULL;
  std::memset(out, 0, sizeof *out);
  if (registry == nullptr) return TAVSN_SERVER_ERROR_NULL;
  return Guarded([&] {
    std::vector<std::string> bundle;
    if (!Texts(texts, lengths, count, bundle)) return TAVSN_SERVER_ERROR_NULL;
    IdentifyResult result;
    ReadBundle read;
    if (StoreError e = registry->registry->Identify(bundle, result, read)) return Report(registry, e);
    registry->last_error.clear();
    if (read.status == tavsn::server::BundleStatus::kInconsistent) return TAVSN_SERVER_ERROR_INCONSISTENT_BUNDLE;
    if (read.status != tavsn::server::BundleStatus::kOk) return TAVSN_SERVER_ERROR_NOT_DLL_RECORD;
    FillCandidates(result.candidates, out->machines, out->machine_count);
    return TAVSN_SERVER_OK;
  });
}

int tavsn_registry_history(tavsn_registry* registry, long long machine, char* json, size_t size, size_t* length) {
  if (int code = StartAnswer(registry, json, size, length)) return code;
  return Guarded([&] {
    MachineRecord record;
    bool found = false;
    if (StoreError e = registry->registry->History(machine, record, found)) return Report(registry, e);
    registry->last_error.clear();
    if (!found) return TAVSN_REGISTRY_ERROR_NO_MACHINE;
    tavsn::server::JsonWriter writer;
    writer.BeginObject();
    WriteHistoryJson(record, writer);
    writer.EndObject();
    return WriteAnswer(writer, json, size, length);
  });
}

int tavsn_registry_audit(tavsn_registry* registry, char* json, size_t size, size_t* length) {
  if (int code = StartAnswer(registry, json, size, length)) return code;
  return Guarded([&] {
    AuditResult audit;
    if (StoreError e = registry->registry->Audit(audit)) return Report(registry, e);
    registry->last_error.clear();
    tavsn::server::JsonWriter writer;
    writer.BeginObject();
    WriteAuditJson(audit, writer);
    writer.EndObject();
    return WriteAnswer(writer, json, size, length);
  });
}

int tavsn_registry_export(tavsn_registry* registry, tavsn_registry_line_writer write, void* context) {
  if (registry == nullptr || write == nullptr) return TAVSN_SERVER_ERROR_NULL;
  return Guarded([&] {
    int stopped = TAVSN_SERVER_OK;
    const StoreError e = registry->registry->Export([&](const std::string& line) {
      stopped = write(context, line.c_str(), line.size());
      return stopped == TAVSN_SERVER_OK;
    });
    if (e) return Report(registry, e);
    registry->last_error.clear();
    return stopped;
  });
}

int tavsn_registry_import(tavsn_registry* registry, const char* path, tavsn_registry_progress progress, void* context,
                          tavsn_import_totals* out) {
  if (out == nullptr) return TAVSN_SERVER_ERROR_NULL;
  std::memset(out, 0, sizeof *out);
  if (registry == nullptr || path == nullptr) return TAVSN_SERVER_ERROR_NULL;
  return Guarded([&] {
    std::ifstream file(path);
    if (!file) {
      registry->last_error = std::string("cannot read ") + path;
      return TAVSN_REGISTRY_ERROR_FILE;
    }
    ImportProgress totals;
    const StoreError e =
        registry->registry->Import([&](std::string& line) { return static_cast<bool>(std::getline(file, line)); },
                                   [&](const ImportProgress& p) {
                                     if (progress == nullptr) return;
                                     tavsn_import_totals now;
                                     CopyTotals(p, now);
                                     progress(context, &now);
                                   },
                                   totals);
    CopyTotals(totals, *out);
    if (e) return Report(registry, e);
    registry->last_error.clear();
    return TAVSN_SERVER_OK;
  });
}

}  // extern "C"
