#pragma once
// The registry's answers in JSON, one text whether they come from the
// tool's --json or from the C API (tavsn_registry_history, _audit): each
// function writes its keys into an object the caller has opened, so that
// the tool can add its exit code.

#include "registry/registry.h"
#include "server/json_writer.h"

namespace tavsn::registry {

// A whole object: machine, scope, last check-in, verdict, risk, reason.
void WriteCandidateJson(const Candidate& candidate, server::JsonWriter& json);
void WriteHistoryJson(const MachineRecord& machine, server::JsonWriter& json);
void WriteAuditJson(const AuditResult& audit, server::JsonWriter& json);
void WriteImportJson(const ImportProgress& totals, server::JsonWriter& json);

}  // namespace tavsn::registry
