#include "server/compare.h"

#include <algorithm>
#include <bitset>
#include <cmath>
#include <cstring>

namespace tavsn::server {
namespace {

constexpr std::uint16_t kProcessorFlags = PcSnRecord::kFlagProcessorSerial | PcSnRecord::kFlagProcessorDetails;
constexpr std::uint16_t kFirmwareFlags = PcSnRecord::kFlagSystemSerial | PcSnRecord::kFlagSystemUuid;

// Values are compared as numbers and bytes; only those that differ are
// written out as text.
class ChangeList {
 public:
  explicit ChangeList(Comparison& out) : out_(out) {}

  void Add(const char* field, unsigned before, unsigned after, Component component) {
    if (before != after) Record(field, std::to_string(before), std::to_string(after), component);
  }
  void AddHex(const char* field, std::uint16_t before, std::uint16_t after, Component component) {
    if (before != after) Record(field, Hex16Text(before), Hex16Text(after), component);
  }
  void AddBytes(const char* field, const std::uint8_t* before, const std::uint8_t* after, std::size_t count,
                Component component) {
    if (std::memcmp(before, after, count) != 0) {
      Record(field, MacBytesText(before, count), MacBytesText(after, count), component);
    }
  }

 private:
  void Record(const char* field, std::string before, std::string after, Component component) {
    out_.changes.push_back({field, std::move(before), std::move(after), component});
    out_.changed |= component;
  }

  Comparison& out_;
};

void CompareMac(const MacIdentifierFields& a, const MacIdentifierFields& b, ChangeList& changes) {
  changes.Add("source", a.source, b.source, kComponentMacSource);
  changes.Add("mac_count", a.mac_count, b.mac_count, kComponentMac);
  changes.AddBytes("first_mac_masked", a.first_masked, b.first_masked, 6, kComponentMac);
  changes.AddBytes("second_mac_masked", a.second_masked, b.second_masked, 6, kComponentMac);
}

bool CarriesFirmware(const MachineIdentifierFields& f) {
  return f.made_by == MachineExport::kGetPcsnSerial || f.made_by == MachineExport::kGetPcsnUuid;
}

// A firmware text that tells this board from others: machine-bound.
bool RealFirmware(const MachineIdentifierFields& f) { return CarriesFirmware(f) && !HoldsPlaceholder(f); }

void CompareMachine(const MachineIdentifierFields& a, const MachineIdentifierFields& b, bool with_firmware,
                    ChangeList& changes) {
  const auto flags = [](const MachineIdentifierFields& f, std::uint16_t mask) {
    return static_cast<std::uint16_t>(f.source_flags & mask);
  };
  changes.AddHex("mac_source_flags", flags(a, PcSnRecord::kFlagMacFromUuid), flags(b, PcSnRecord::kFlagMacFromUuid),
                 kComponentMacSource);
  changes.AddBytes("mac_prefix", a.mac_prefix, b.mac_prefix, 2, kComponentMac);
  changes.AddHex("mac_checksum", a.mac_checksum, b.mac_checksum, kComponentMac);
  changes.AddHex("processor_flags", flags(a, kProcessorFlags), flags(b, kProcessorFlags), kComponentProcessor);
  changes.Add("processor_length", a.processor_length, b.processor_length, kComponentProcessor);
  changes.AddHex("processor_checksum", a.processor_checksum, b.processor_checksum, kComponentProcessor);
  if (!with_firmware) return;  // GetPCSNEx: the system fields hold the record's own checksum
  // A firmware read that failed on one side (every call from a
  // single-threaded apartment fails it) is no change: nothing to compare.
  if (!CarriesFirmware(a) || !CarriesFirmware(b)) return;
  changes.AddHex("firmware_flags", flags(a, kFirmwareFlags), flags(b, kFirmwareFlags), kComponentFirmware);
  changes.Add("system_length", a.system_length, b.system_length, kComponentFirmware);
  changes.AddHex("system_checksum", a.system_checksum, b.system_checksum, kComponentFirmware);
}

// The strong evidence of a component found in both records, as matches and
// changes. A TQ11 record knows each of its one or two addresses by its shape,
// so an address that moved from first to second place still matches; one
// benign event (a card replaced or added) keeps at least one of the lowest
// two addresses, so two records that share none differ by two changes.
void CountStrongEvidence(const AddressShapeSet* shapes, const ComponentJudgment& judgment, Comparison& out) {
  if (judgment.weaker() != Strength::kStrong) return;
  if (judgment.component == kComponentMac && shapes != nullptr) {
    const unsigned common = SharedShapeCount(shapes[0], shapes[1]);
    out.strong_matches += common;
    out.strong_changes += static_cast<unsigned>(std::max(shapes[0].count, shapes[1].count)) - common;
    return;
  }
  (judgment.relation == Relation::kSame ? out.strong_matches : out.strong_changes) += 1;
}

// `shapes`: both TQ11 records' address shapes, null for TQ12 records.
void JudgeEvidence(const DecodedIdentifier& a, const DecodedIdentifier& b, const AddressShapeSet* shapes,
                   Comparison& out) {
  const auto before = Evidence(a), after = Evidence(b);
  for (std::size_t i = 0; i < before.size(); ++i) {
    ComponentJudgment& judgment = out.evidence[i];
    judgment.component = before[i].component;
    judgment.before = before[i].strength;
    judgment.after = after[i].strength;
    judgment.relation = (out.changed & judgment.component) ? Relation::kChanged : Relation::kSame;
    judgment.reason = after[i].strength < before[i].strength ? after[i].reason : before[i].reason;
    CountStrongEvidence(shapes, judgment, out);
  }
}

// The odds of the evidence both records hold alike. A TQ11 counts each
// address shape both hold; a TQ12 each component that did not change and
// that both records carry, and what each change rules out.
MatchOdds MatchingOdds(const DecodedIdentifier& a, const DecodedIdentifier& b, const AddressShapeSet* shapes,
                       const Comparison& out) {
  MatchOdds odds;
  if (shapes != nullptr) {
    const unsigned shared = SharedShapeCount(shapes[0], shapes[1]);
    for (unsigned i = 0; i < shared; ++i) odds *= AddressShapeMatchOdds(a.mac);
    return odds;
  }
  for (Component component : kComponents) {
    if (out.changed & component) {
      odds *= ComponentChangeOdds(component, a.machine, b.machine);
      continue;
    }
    if (component == kComponentFirmware && (!CarriesFirmware(a.machine) || !CarriesFirmware(b.machine))) continue;
    odds *= ComponentMatchOdds(component, a);
  }
  return odds;
}

void SetRisk(const MatchOdds& odds, bool count_moved_adapter, Comparison& out) {
  out.odds = odds;
  out.false_accept_probability = 0.0;
  for (ImpostorClass impostor : kImpostorClasses) {
    if (impostor == ImpostorClass::kMovedAdapter && !count_moved_adapter) continue;
    if (odds.of(impostor) > out.false_accept_probability || out.false_accept_probability == 0.0) {
      out.false_accept_probability = odds.of(impostor);
      out.likeliest = impostor;
    }
  }
}

const char* BenignExplanation(const Comparison& out) {
  if (out.kind == IdentifierKind::kMac) {
    return out.strong_matches > 0 ? "a network card replaced or added, a moved adapter or a dock"
                                  : "a dual-port card replaced, a dock detached or the only card replaced";
  }
  const unsigned changed = out.changed & ~kComponentMacSource;
  if (changed == 0) return "a firmware read that failed on one side (a single-threaded apartment)";
  if (changed == kComponentMac) return "a network card replaced, a moved adapter or a dock";
  if (changed == kComponentProcessor) return "a processor upgrade";
  if (changed == kComponentFirmware) return "a firmware update that filled or cleared its text";
  return "two or more events at once";
}

void Explain(Comparison& out) {
  const bool firmware_matched = out.kind == IdentifierKind::kMachine && out.odds.of(ImpostorClass::kSibling) < 1.0;
  out.benign_explanation = BenignExplanation(out);
  out.impostor_explanation = ImpostorExplanation(out.likeliest, firmware_matched);
}

void Conclude(MachineVerdict verdict, const char* reason, Comparison& out) {
  out.verdict = verdict;
  out.reason = reason;
  out.same_machine = verdict == MachineVerdict::kSame;
  if (verdict == MachineVerdict::kUndecided) Explain(out);
}

// Appends `text` to the buffer as far as it fits, keeping room for the end.
void Append(const char* text, char* buffer, std::size_t capacity, std::size_t& length) {
  while (*text != '\0' && length + 1 < capacity) buffer[length++] = *text++;
}

void Decide(const DecodedIdentifier& a, const DecodedIdentifier& b, const AddressShapeSet* shapes,
            const ComparePolicy& policy, Comparison& out) {
  out.events = ComponentCount(out.changed & ~kComponentMacSource);
  // A firmware text missing on one side is no change, but the records are
  // not equal: what still matches is weighed like any change.
  const bool unchanged =
      out.changed == 0 && (a.kind == IdentifierKind::kMac || CarriesFirmware(a.machine) == CarriesFirmware(b.machine));
  SetRisk(MatchingOdds(a, b, shapes, out), !unchanged, out);
  const bool tq12 = a.kind == IdentifierKind::kMachine;
  const bool firmware_changed = out.changed & kComponentFirmware;
  const bool real_firmware_both = tq12 && RealFirmware(a.machine) && RealFirmware(b.machine);
  if (out.changed & policy.must_keep) {
    return Conclude(MachineVerdict::kDifferent, "a component that the policy must keep changed", out);
  }
  if (policy.kind == PolicyKind::kCount) {
    const bool within = ComponentCount(out.changed) <= policy.max_changed;
    return Conclude(within ? MachineVerdict::kSame : MachineVerdict::kDifferent,
                    within ? "no more components changed than the count policy allows"
                           : "more components changed than the count policy allows",
                    out);
  }
  if (real_firmware_both && firmware_changed) {
    return Conclude(MachineVerdict::kDifferent, "a real firmware text changed: the board is another one", out);
  }
  if (unchanged) {
    return Conclude(MachineVerdict::kSame, "the identifiers are equal: the risk is the kind's collision risk", out);
  }
  if (out.events > policy.max_changed) {
    if (real_firmware_both) {
      return Conclude(MachineVerdict::kUndecided,
                      "more changed than the policy's benign events, but the real firmware text matches", out);
    }
    return Conclude(MachineVerdict::kDifferent,
                    "more of the machine's components changed than the policy's benign events explain", out);
  }
  if (out.false_accept_probability <= policy.threshold) {
    return Conclude(MachineVerdict::kSame,
                    "a different machine would show the evidence that still matches no more often than the "
                    "policy's threshold",
                    out);
  }
  Conclude(MachineVerdict::kUndecided,
           "a different machine could show the evidence that still matches more often than the policy's threshold",
           out);
}

}  // namespace

const char* ImpostorExplanation(ImpostorClass impostor, bool firmware_matched) {
  switch (impostor) {
    case ImpostorClass::kSibling:
      return firmware_matched ? "a sibling of its batch whose serial checksum agrees" : "a sibling of its batch";
    case ImpostorClass::kModel: return "another machine of its model whose checksums agree";
    case ImpostorClass::kMovedAdapter: return "another machine that received its adapter";
  }
  return "another machine";
}

std::size_t WriteExplanation(const char* benign, const char* impostor, double false_accept_probability, char* buffer,
                             std::size_t capacity) {
  if (capacity == 0) return 0;
  std::size_t length = 0;
  Append(benign, buffer, capacity, length);
  Append(", or ", buffer, capacity, length);
  Append(impostor, buffer, capacity, length);
  if (false_accept_probability >= 0.5) {
    Append(": the records cannot tell them apart", buffer, capacity, length);
  } else {
    Append(": about 1 in ", buffer, capacity, length);
    char digits[24];
    std::size_t count = 0;
    for (auto n = static_cast<unsigned long long>(std::llround(1.0 / false_accept_probability)); count == 0 || n > 0;
         n /= 10) {
      digits[count++] = static_cast<char>('0' + n % 10);
    }
    while (count > 0 && length + 1 < capacity) buffer[length++] = digits[--count];
  }
  buffer[length] = '\0';
  return length;
}

std::string ExplanationOf(const char* benign, const char* impostor, double false_accept_probability) {
  char text[256];
  return std::string(text, WriteExplanation(benign, impostor, false_accept_probability, text, sizeof text));
}

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

Comparison Compare(const ParsedIdentifier& before, const ParsedIdentifier& after, const ComparePolicy& policy,
                   ExplanationText text) {
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
  AddressShapeSet shape_sets[2];
  const AddressShapeSet* shapes = nullptr;
  if (out.kind == IdentifierKind::kMac) {
    shape_sets[0] = AddressShapeBytes(a.mac);
    shape_sets[1] = AddressShapeBytes(b.mac);
    shapes = shape_sets;
  }
  JudgeEvidence(a, b, shapes, out);
  Decide(a, b, shapes, policy, out);
  if (text == ExplanationText::kWritten && out.benign_explanation != nullptr) {
    out.explanation = ExplanationOf(out.benign_explanation, out.impostor_explanation, out.false_accept_probability);
  }
  return out;
}

}  // namespace tavsn::server
