#include "server/compare.h"

#include <algorithm>
#include <bitset>

namespace tavsn::server {
namespace {

constexpr std::uint16_t kProcessorFlags = PcSnRecord::kFlagProcessorSerial | PcSnRecord::kFlagProcessorDetails;
constexpr std::uint16_t kFirmwareFlags = PcSnRecord::kFlagSystemSerial | PcSnRecord::kFlagSystemUuid;

class ChangeList {
 public:
  explicit ChangeList(Comparison& out) : out_(out) {}

  void Add(const char* field, const std::string& before, const std::string& after, Component component) {
    if (before == after) return;
    out_.changes.push_back({field, before, after, component});
    out_.changed |= component;
  }
  void Add(const char* field, unsigned before, unsigned after, Component component) {
    Add(field, std::to_string(before), std::to_string(after), component);
  }
  void AddHex(const char* field, std::uint16_t before, std::uint16_t after, Component component) {
    Add(field, Hex16Text(before), Hex16Text(after), component);
  }

 private:
  Comparison& out_;
};

void CompareMac(const MacIdentifierFields& a, const MacIdentifierFields& b, ChangeList& changes) {
  changes.Add("source", a.source, b.source, kComponentMacSource);
  changes.Add("mac_count", a.mac_count, b.mac_count, kComponentMac);
  changes.Add("first_mac_masked", MacBytesText(a.first_masked, 6), MacBytesText(b.first_masked, 6), kComponentMac);
  changes.Add("second_mac_masked", MacBytesText(a.second_masked, 6), MacBytesText(b.second_masked, 6), kComponentMac);
}

void CompareMachine(const MachineIdentifierFields& a, const MachineIdentifierFields& b, bool with_firmware,
                    ChangeList& changes) {
  const auto flags = [](const MachineIdentifierFields& f, std::uint16_t mask) {
    return static_cast<std::uint16_t>(f.source_flags & mask);
  };
  changes.AddHex("mac_source_flags", flags(a, PcSnRecord::kFlagMacFromUuid), flags(b, PcSnRecord::kFlagMacFromUuid),
                 kComponentMacSource);
  changes.Add("mac_prefix", MacBytesText(a.mac_prefix, 2), MacBytesText(b.mac_prefix, 2), kComponentMac);
  changes.AddHex("mac_checksum", a.mac_checksum, b.mac_checksum, kComponentMac);
  changes.AddHex("processor_flags", flags(a, kProcessorFlags), flags(b, kProcessorFlags), kComponentProcessor);
  changes.Add("processor_length", a.processor_length, b.processor_length, kComponentProcessor);
  changes.AddHex("processor_checksum", a.processor_checksum, b.processor_checksum, kComponentProcessor);
  if (!with_firmware) return;  // GetPCSNEx: the system fields hold the record's own checksum
  changes.AddHex("firmware_flags", flags(a, kFirmwareFlags), flags(b, kFirmwareFlags), kComponentFirmware);
  changes.Add("system_length", a.system_length, b.system_length, kComponentFirmware);
  changes.AddHex("system_checksum", a.system_checksum, b.system_checksum, kComponentFirmware);
}

// The strong evidence of a component found in both records, as matches and
// changes. A TQ11 record knows each of its one or two addresses by its shape,
// so an address that moved from first to second place still matches; one
// benign event (a card replaced or added) keeps at least one of the lowest
// two addresses, so two records that share none differ by two changes.
void CountStrongEvidence(const DecodedIdentifier& a, const DecodedIdentifier& b, const ComponentJudgment& judgment,
                         Comparison& out) {
  if (judgment.weaker() != Strength::kStrong) return;
  if (judgment.component == kComponentMac && a.kind == IdentifierKind::kMac) {
    const std::vector<std::string> before = AddressShapes(a.mac), after = AddressShapes(b.mac);
    unsigned common = 0;
    for (const std::string& shape : before) common += std::count(after.begin(), after.end(), shape) > 0;
    out.strong_matches += common;
    out.strong_changes += static_cast<unsigned>(std::max(before.size(), after.size())) - common;
    return;
  }
  (judgment.relation == Relation::kSame ? out.strong_matches : out.strong_changes) += 1;
}

void JudgeEvidence(const DecodedIdentifier& a, const DecodedIdentifier& b, Comparison& out) {
  const std::vector<ComponentEvidence> before = Evidence(a), after = Evidence(b);
  for (std::size_t i = 0; i < before.size(); ++i) {
    ComponentJudgment judgment;
    judgment.component = before[i].component;
    judgment.before = before[i].strength;
    judgment.after = after[i].strength;
    judgment.relation = (out.changed & judgment.component) ? Relation::kChanged : Relation::kSame;
    judgment.reason = after[i].strength < before[i].strength ? after[i].reason : before[i].reason;
    CountStrongEvidence(a, b, judgment, out);
    out.evidence.push_back(judgment);
  }
}

void Decide(const ComparePolicy& policy, Comparison& out) {
  if (out.changed & policy.must_keep) {
    out.verdict = MachineVerdict::kDifferent;
    out.reason = "a component that the policy must keep changed";
  } else if (policy.kind == PolicyKind::kCount) {
    const bool within = ComponentCount(out.changed) <= policy.max_changed;
    out.verdict = within ? MachineVerdict::kSame : MachineVerdict::kDifferent;
    out.reason = within ? "no more components changed than the count policy allows"
                        : "more components changed than the count policy allows";
  } else if (out.strong_changes > policy.max_changed) {
    out.verdict = MachineVerdict::kDifferent;
    out.reason = "more strong evidence changed than one machine's benign changes explain";
  } else if (ComponentCount(out.changed & ~kComponentMacSource) > policy.max_changed) {
    // A strong match beside as many other changes is a coincidence of
    // 16-bit checksums sooner than one machine: a replaced card and a new
    // processor at once are two events, each judged on its own.
    out.verdict = MachineVerdict::kDifferent;
    out.reason = "more of the machine's components changed than the policy allows";
  } else if (out.strong_matches > 0) {
    out.verdict = MachineVerdict::kSame;
    out.reason = "strong evidence matches, and the changes are within the policy";
  } else {
    out.verdict = MachineVerdict::kUndecided;
    out.reason =
        "nothing strong is left to decide on: the records cannot tell this machine from another of its "
        "model";
  }
  out.same_machine = out.verdict == MachineVerdict::kSame;
}

}  // namespace

const char* PolicyName(PolicyKind kind) { return kind == PolicyKind::kCount ? "count" : "evidence"; }

bool PolicyByName(const std::string& name, PolicyKind& kind) {
  if (name != "evidence" && name != "count") return false;
  kind = name == "count" ? PolicyKind::kCount : PolicyKind::kEvidence;
  return true;
}

const char* MachineVerdictName(MachineVerdict verdict) {
  switch (verdict) {
    case MachineVerdict::kSame: return "same machine";
    case MachineVerdict::kDifferent: return "different machine";
    case MachineVerdict::kUndecided: return "undecided";
  }
  return "unknown";
}

const char* RelationName(Relation relation) { return relation == Relation::kSame ? "same" : "changed"; }

unsigned ComponentCount(unsigned components) { return static_cast<unsigned>(std::bitset<32>(components).count()); }

Comparison Compare(const ParsedIdentifier& before, const ParsedIdentifier& after, const ComparePolicy& policy) {
  Comparison out;
  out.refused = (before.ok() ? 0u : 1u) | (after.ok() ? 0u : 2u);
  if (out.refused != 0) return out;
  out.kind = before.kind;
  if (before.kind != after.kind) {
    out.status = CompareStatus::kDifferentKinds;
    return out;
  }
  const DecodedIdentifier a = Decode(before);
  const DecodedIdentifier b = Decode(after);
  out.refused = (a.written_by_dll() ? 0u : 1u) | (b.written_by_dll() ? 0u : 2u);
  if (out.refused != 0) {
    out.status = CompareStatus::kNotWrittenByDll;
    return out;
  }
  ChangeList changes(out);
  if (out.kind == IdentifierKind::kMac) {
    CompareMac(a.mac, b.mac, changes);
  } else {
    const bool a_ex = HasSelfChecksumShape(a.machine);
    if (a_ex != HasSelfChecksumShape(b.machine)) {
      out.status = CompareStatus::kDifferentExports;
      return out;
    }
    CompareMachine(a.machine, b.machine, !a_ex, changes);
  }
  out.status = CompareStatus::kOk;
  JudgeEvidence(a, b, out);
  Decide(policy, out);
  return out;
}

}  // namespace tavsn::server
