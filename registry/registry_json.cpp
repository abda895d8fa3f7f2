#include "registry/registry_json.h"

#include "server/bundle.h"
#include "server/compare.h"

namespace tavsn::registry {

void WriteCandidateJson(const Candidate& c, server::JsonWriter& json) {
  json.BeginObject().Key("machine").Number(c.machine).Key("scope").String(c.scope);
  json.Key("last_check_in").String(TimeText(c.last_check_in));
  json.Key("verdict").String(server::MachineVerdictName(c.verdict));
  json.Key("false_accept_probability").Real(c.false_accept_probability).Key("reason").String(c.reason);
  if (!c.explanation.empty()) json.Key("explanation").String(c.explanation);
  json.EndObject();
}

void WriteHistoryJson(const MachineRecord& machine, server::JsonWriter& json) {
  json.Key("machine").Number(machine.id).Key("scope").String(machine.scope);
  json.Key("activated").String(TimeText(machine.activated));
  json.Key("last_check_in").String(TimeText(machine.last_check_in));
  json.Key("current").BeginArray();
  for (const MemberText& m : machine.current) json.String(m.text);
  json.EndArray().Key("identifiers").BeginArray();
  for (const Sighting& s : machine.history) {
    json.BeginObject().Key("identifier").String(s.text);
    json.Key("member").String(server::BundleMemberName(static_cast<server::BundleMember>(s.member)));
    json.Key("first_seen").String(TimeText(s.first_seen)).Key("last_seen").String(TimeText(s.last_seen));
    json.EndObject();
  }
  json.EndArray().Key("changes").BeginArray();
  for (const ChangeRecord& c : machine.changes) {
    json.BeginObject().Key("at").String(TimeText(c.at)).Key("before").String(c.before);
    json.Key("after").String(c.after).Key("evidence").String(c.evidence).EndObject();
  }
  json.EndArray();
}

void WriteAuditJson(const AuditResult& audit, server::JsonWriter& json) {
  json.Key("machines").Number(audit.machines).Key("scopes").Number(audit.scopes);
  json.Key("one_machine_under_several_scopes").BeginArray();
  for (const auto& shared : audit.across_scopes) {
    json.BeginArray();
    WriteCandidateJson(shared.first, json);
    WriteCandidateJson(shared.second, json);
    json.EndArray();
  }
  json.EndArray().Key("alternating").BeginArray();
  for (const auto& a : audit.alternating) {
    json.BeginObject().Key("scope").String(a.scope).Key("identifier").String(a.identifier);
    json.Key("machines").BeginArray();
    for (MachineId id : a.machines) json.Number(id);
    json.EndArray().Key("handovers").Number(a.handovers).Key("returns").Number(a.returns).EndObject();
  }
  json.EndArray();
}

void WriteImportJson(const ImportProgress& totals, server::JsonWriter& json) {
  json.Key("lines").Number(totals.lines).Key("imported").Number(totals.imported);
  json.Key("refused").Number(totals.refused);
}

}  // namespace tavsn::registry
