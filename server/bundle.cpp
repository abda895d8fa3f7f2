#include "server/bundle.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "server/evidence.h"

namespace tavsn::server {
namespace {

struct Member {
  bool present = false;
  std::size_t position = 0;
  ParsedIdentifier parsed;
  DecodedIdentifier decoded;
  ParsedFingerprint fingerprint;
};

struct Side {
  Member members[kBundleMemberCount];
  const Member& operator[](BundleMember m) const { return members[static_cast<std::size_t>(m)]; }
  Member& operator[](BundleMember m) { return members[static_cast<std::size_t>(m)]; }
};

bool Fail(BundleStatus status, unsigned side, std::size_t position, BundleComparison& out) {
  out.status = status;
  out.side = side;
  out.position = position;
  return false;
}

bool Inconsistent(const char* problem, unsigned side, std::size_t position, BundleComparison& out) {
  out.problem = problem;
  return Fail(BundleStatus::kInconsistent, side, position, out);
}

BundleMember MemberOf(const ParsedIdentifier& parsed, const DecodedIdentifier& decoded) {
  if (parsed.kind == IdentifierKind::kMac) return BundleMember::kGetMacSn;
  return HasSelfChecksumShape(decoded.machine) ? BundleMember::kGetPcSnEx : BundleMember::kGetPcSn;
}

bool MacFromUuid(const MachineIdentifierFields& f) { return (f.source_flags & PcSnRecord::kFlagMacFromUuid) != 0; }

// GetPCSN and GetPCSNEx of one call site fill their MAC and processor fields
// from the same lists and the same CPUID: only the system fields differ. A
// MAC taken from a UUID's node may be drawn anew for each call.
bool SameMachineFields(const MachineIdentifierFields& a, const MachineIdentifierFields& b) {
  constexpr std::uint16_t kShared = PcSnRecord::kFlagMacStep | PcSnRecord::kFlagMacFromUuid |
                                    PcSnRecord::kFlagProcessorSerial | PcSnRecord::kFlagProcessorDetails;
  if ((a.source_flags & kShared) != (b.source_flags & kShared)) return false;
  if (a.processor_length != b.processor_length || a.processor_checksum != b.processor_checksum) return false;
  if (MacFromUuid(a)) return true;
  return a.mac_prefix[0] == b.mac_prefix[0] && a.mac_prefix[1] == b.mac_prefix[1] && a.mac_checksum == b.mac_checksum;
}

// GetMacSN's first address is the first of the same list GetPCSN takes its
// MAC from. The TQ11 record hides byte 0 of that address; a TQ12 record
// gives it (its prefix), so the whole address comes back and must have the
// TQ12's second byte and checksum.
bool FirstAddressFits(const MacIdentifierFields& mac, const MachineIdentifierFields& machine) {
  if (mac.source != MacSnRecord::kSourceAdapter || MacFromUuid(machine)) return true;
  std::uint8_t first[6];
  for (int i = 0; i < 6; ++i) first[i] = mac.first_masked[i] ^ machine.mac_prefix[0];
  return first[1] == machine.mac_prefix[1] && Checksum16(first, 6) == machine.mac_checksum;
}

bool CheckConsistent(const Side& side, unsigned index, BundleComparison& out) {
  const Member& pcsn = side[BundleMember::kGetPcSn];
  const Member& ex = side[BundleMember::kGetPcSnEx];
  const Member& mac = side[BundleMember::kGetMacSn];
  if (pcsn.present && ex.present && !SameMachineFields(pcsn.decoded.machine, ex.decoded.machine)) {
    return Inconsistent("GetPCSN and GetPCSNEx hold different MAC or processor fields: not one machine's", index,
                        ex.position, out);
  }
  for (const Member* machine : {&pcsn, &ex}) {
    if (!mac.present || !machine->present) continue;
    if (!FirstAddressFits(mac.decoded.mac, machine->decoded.machine)) {
      return Inconsistent("GetMacSN's first address cannot be the first MAC of the machine identifier", index,
                          machine->position, out);
    }
  }
  return true;
}

bool ReadSide(const std::vector<std::string>& texts, unsigned index, Side& side, BundleComparison& out) {
  if (texts.empty()) return Fail(BundleStatus::kEmpty, index, 0, out);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    Member member;
    member.present = true;
    member.position = i;
    BundleMember kind = BundleMember::kFingerprint;
    if (ReadAsIdentifier(texts[i])) {
      member.parsed = ParseIdentifier(texts[i]);
      if (!member.parsed.ok()) {
        out.detail = member.parsed.detail;
        return Fail(BundleStatus::kMalformed, index, i, out);
      }
      member.decoded = Decode(member.parsed);
      if (!member.decoded.written_by_dll()) return Fail(BundleStatus::kNotWrittenByDll, index, i, out);
      kind = MemberOf(member.parsed, member.decoded);
    } else {
      member.fingerprint = ParseFingerprint(texts[i]);
      if (!member.fingerprint.ok()) {
        out.detail = member.fingerprint.detail;
        return Fail(BundleStatus::kMalformed, index, i, out);
      }
    }
    if (side[kind].present) return Inconsistent("two members of one kind", index, i, out);
    side[kind] = std::move(member);
  }
  return CheckConsistent(side, index, out);
}

// The strongest odds of one fact among the members that show it matching:
// members that carry the same fact are not independent witnesses.
void Strongest(std::optional<MatchOdds>& fact, const MatchOdds& odds) {
  if (!fact) {
    fact = odds;
    return;
  }
  for (std::size_t i = 0; i < kImpostorClassCount; ++i)
    fact->by_class[i] = std::min(fact->by_class[i], odds.by_class[i]);
}

bool CarriesFirmware(const MachineIdentifierFields& f) {
  return f.made_by == MachineExport::kGetPcsnSerial || f.made_by == MachineExport::kGetPcsnUuid;
}

// A firmware text that tells this board from others: machine-bound.
bool RealFirmware(const MachineIdentifierFields& f) { return CarriesFirmware(f) && !HoldsPlaceholder(f); }

struct Facts {
  std::optional<MatchOdds> address;           // an address both bundles show
  std::optional<MatchOdds> firmware;          // GetPCSN's firmware text, both read and equal
  std::optional<MatchOdds> processor_change;  // what a changed processor text rules out
  bool real_firmware_matched = false;
  bool real_firmware_changed = false;
  bool all_equal = true;  // every identifier both bundles hold is equal byte for byte
};

Facts MatchingFacts(const Side& a, const Side& b, const BundleComparison& out) {
  Facts facts;
  for (const MemberJudgment& judged : out.members) {
    if (judged.member == BundleMember::kFingerprint) continue;  // see CompareBundles
    const DecodedIdentifier& da = a[judged.member].decoded;
    const DecodedIdentifier& db = b[judged.member].decoded;
    const Comparison& c = judged.comparison;
    if (judged.member == BundleMember::kGetMacSn) {
      const unsigned shared = SharedShapeCount(AddressShapeBytes(da.mac), AddressShapeBytes(db.mac));
      MatchOdds shapes;
      for (unsigned i = 0; i < shared; ++i) shapes *= AddressShapeMatchOdds(da.mac);
      if (shared > 0) Strongest(facts.address, shapes);
      facts.all_equal &= c.changes.empty();
      continue;
    }
    if ((c.changed & kComponentMac) == 0) Strongest(facts.address, ComponentMatchOdds(kComponentMac, da));
    if (c.changed & kComponentProcessor) {
      Strongest(facts.processor_change, ComponentChangeOdds(kComponentProcessor, da.machine, db.machine));
    }
    const bool both_firmware = CarriesFirmware(da.machine) && CarriesFirmware(db.machine);
    // A firmware text missing on one side (the read failed) is no change
    // (Compare lists no field of it, so it is no event), but the bundles are
    // not equal: a machine whose firmware is never read that received this
    // one's dual-port card writes the rest byte for byte (the fleet bench:
    // 31 of 50,000 moved dual-port cards, were they taken as equal).
    facts.all_equal &= c.changes.empty() && CarriesFirmware(da.machine) == CarriesFirmware(db.machine);
    if (!both_firmware) continue;
    const bool real_both = RealFirmware(da.machine) && RealFirmware(db.machine);
    if (c.changed & kComponentFirmware) {
      facts.real_firmware_changed |= real_both;
    } else {
      Strongest(facts.firmware, ComponentMatchOdds(kComponentFirmware, da));
      facts.real_firmware_matched |= real_both;
    }
  }
  return facts;
}

void SetRisk(const MatchOdds& odds, bool count_moved_adapter, BundleComparison& out) {
  out.odds = odds;
  out.false_accept_probability = 0.0;
  bool first = true;
  for (ImpostorClass impostor : kImpostorClasses) {
    if (impostor == ImpostorClass::kMovedAdapter && !count_moved_adapter) continue;
    if (first || odds.of(impostor) > out.false_accept_probability) {
      out.false_accept_probability = odds.of(impostor);
      out.likeliest = impostor;
      first = false;
    }
  }
}

const char* BenignExplanation(unsigned changed) {
  changed &= ~kComponentMacSource;
  if (changed == 0) return "a firmware read that failed on one side (a single-threaded apartment)";
  if (changed == kComponentMac) return "a network card replaced or added, a moved adapter or a dock";
  if (changed == kComponentProcessor) return "a processor upgrade";
  if (changed == kComponentFirmware) return "a firmware update that filled or cleared its text";
  return "two or more events at once";
}

void Conclude(MachineVerdict verdict, const char* reason, bool firmware_matched, BundleComparison& out) {
  out.verdict = verdict;
  out.reason = reason;
  if (verdict != MachineVerdict::kUndecided) return;
  out.explanation = ExplanationOf(BenignExplanation(out.changed), ImpostorExplanation(out.likeliest, firmware_matched),
                                  out.false_accept_probability);
}

// The verdict, by the rules a single identifier is judged by, over the
// bundle's facts: a component changed in any member changed once; the odds
// of the facts that still match, each fact counted once.
void Decide(const Side& a, const Side& b, const ComparePolicy& policy, BundleComparison& out) {
  const Facts facts = MatchingFacts(a, b, out);
  MatchOdds odds;
  if (facts.address) odds *= *facts.address;
  if (facts.firmware) odds *= *facts.firmware;
  if (facts.processor_change) odds *= *facts.processor_change;
  const bool firmware_matched = facts.firmware && facts.firmware->of(ImpostorClass::kSibling) < 1.0;
  out.events = ComponentCount(out.changed & ~kComponentMacSource);
  // Every identifier equal, byte for byte: the collision risk of equal
  // identifiers.
  const bool unchanged = out.changed == 0 && facts.all_equal;
  SetRisk(odds, !unchanged, out);
  if (out.changed & policy.must_keep) {
    return Conclude(MachineVerdict::kDifferent, "a component that the policy must keep changed", false, out);
  }
  if (policy.kind == PolicyKind::kCount) {
    const bool within = ComponentCount(out.changed) <= policy.max_changed;
    return Conclude(within ? MachineVerdict::kSame : MachineVerdict::kDifferent,
                    within ? "no more components changed than the count policy allows"
                           : "more components changed than the count policy allows",
                    false, out);
  }
  if (facts.real_firmware_changed) {
    return Conclude(MachineVerdict::kDifferent, "a real firmware text changed: the board is another one", false, out);
  }
  if (unchanged) {
    return Conclude(MachineVerdict::kSame, "the identifiers are equal: the risk is their collision risk", false, out);
  }
  if (out.events > policy.max_changed) {
    if (facts.real_firmware_matched) {
      return Conclude(MachineVerdict::kUndecided,
                      "more changed than the policy's benign events, but the real firmware text matches",
                      firmware_matched, out);
    }
    return Conclude(MachineVerdict::kDifferent,
                    "more of the machine's components changed than the policy's benign events explain", false, out);
  }
  if (out.false_accept_probability <= policy.threshold) {
    return Conclude(MachineVerdict::kSame,
                    "a different machine would show the facts that still match no more often than the policy's "
                    "threshold",
                    false, out);
  }
  Conclude(MachineVerdict::kUndecided,
           "a different machine could show the facts that still match more often than the policy's threshold",
           firmware_matched, out);
}

}  // namespace

bool ReadAsIdentifier(const std::string& text) {
  return LooksLikeTaggedIdentifier(text) || (!text.empty() && (text[0] == 'T' || text[0] == 't'));
}

const char* BundleMemberName(BundleMember member) {
  switch (member) {
    case BundleMember::kGetMacSn: return "GetMacSN";
    case BundleMember::kGetPcSn: return "GetPCSN";
    case BundleMember::kGetPcSnEx: return "GetPCSNEx";
    case BundleMember::kFingerprint: return "tav_get_pc_id";
  }
  return "unknown";
}

BundleComparison CompareBundles(const std::vector<std::string>& before, const std::vector<std::string>& after,
                                const ComparePolicy& policy) {
  BundleComparison out;
  Side a, b;
  if (!ReadSide(before, 1, a, out) || !ReadSide(after, 2, b, out)) return out;
  out.members.reserve(kBundleMemberCount);  // each judgment is large: built in place, never moved
  for (BundleMember member : kBundleMembers) {
    if (!a[member].present || !b[member].present) continue;
    MemberJudgment& judged = out.members.emplace_back();
    judged.member = member;
    if (member == BundleMember::kFingerprint) {
      // Equal fingerprints pin the first IP Helper adapter, but that may be
      // a virtual adapter whose address many machines share, or none; and
      // the commonest cause of a different one is a host without the rights
      // to read the disk. So a fingerprint is reported, and neither weighs
      // as evidence nor counts as an event.
      judged.changed = !CompareFingerprints(a[member].fingerprint, b[member].fingerprint).equal();
    } else {
      judged.comparison = Compare(a[member].parsed, b[member].parsed, policy, ExplanationText::kLeftToCaller);
      judged.changed = !judged.comparison.changes.empty();
      out.changed |= judged.comparison.changed;
    }
  }
  const bool identifiers_in_common = std::any_of(out.members.begin(), out.members.end(), [](const MemberJudgment& m) {
    return m.member != BundleMember::kFingerprint;
  });
  if (out.members.empty()) {
    out.status = BundleStatus::kNothingInCommon;
    return out;
  }
  out.status = BundleStatus::kOk;
  if (!identifiers_in_common) {
    // Fingerprints alone: equal is the fingerprint's own collision risk,
    // which the records cannot bound; different tells nothing.
    SetRisk(MatchOdds{}, out.members.front().changed, out);
    out.verdict = MachineVerdict::kUndecided;
    out.reason = "fingerprints alone cannot tell a machine from others of its model";
    out.explanation = "a fingerprint matches every machine whose processor, disk size and first adapter agree";
    return out;
  }
  Decide(a, b, policy, out);
  return out;
}

}  // namespace tavsn::server
