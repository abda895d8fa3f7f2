// The C face of the server library: plain structs and error codes over the
// C++ API, with every exception stopped here.
#include <cstring>
#include <iterator>

#include "server/bundle.h"
#include "server/c_api_guard.h"
#include "server/compare.h"
#include "server/fingerprint.h"
#include "server/fingerprint_facts.h"
#include "server/identifier.h"
#include "server/match.h"
#include "tavsn_server.h"

namespace tavsn::server {
namespace {

int ParseCode(const ParsedIdentifier& parsed) {
  switch (parsed.status) {
    case ParseStatus::kOk: return TAVSN_SERVER_OK;
    case ParseStatus::kNullText: return TAVSN_SERVER_ERROR_NULL;
    case ParseStatus::kBadLength: return TAVSN_SERVER_ERROR_LENGTH;
    case ParseStatus::kBadTag: return TAVSN_SERVER_ERROR_TAG;
    case ParseStatus::kBadCharacter: return TAVSN_SERVER_ERROR_CHARACTER;
  }
  return TAVSN_SERVER_ERROR_INTERNAL;
}

int VerdictCode(Verdict verdict) {
  switch (verdict) {
    case Verdict::kNotGiven: return TAVSN_VERDICT_NOT_GIVEN;
    case Verdict::kMatch: return TAVSN_VERDICT_MATCH;
    case Verdict::kMismatch: return TAVSN_VERDICT_MISMATCH;
    case Verdict::kNotCheckable: return TAVSN_VERDICT_NOT_CHECKABLE;
    case Verdict::kBadFact: return TAVSN_VERDICT_BAD_FACT;
    case Verdict::kNotWrittenByDll: return TAVSN_VERDICT_NOT_WRITTEN_BY_DLL;
    case Verdict::kWeakMatch: return TAVSN_VERDICT_WEAK_MATCH;
  }
  return TAVSN_VERDICT_NOT_CHECKABLE;
}

int MadeByCode(MachineExport made_by) {
  switch (made_by) {
    case MachineExport::kGetPcsnSerial: return TAVSN_MADE_BY_GETPCSN_SERIAL;
    case MachineExport::kGetPcsnUuid: return TAVSN_MADE_BY_GETPCSN_UUID;
    case MachineExport::kGetPcsnNoFirmware: return TAVSN_MADE_BY_GETPCSN_NO_FIRMWARE;
    case MachineExport::kGetPcsnEx: return TAVSN_MADE_BY_GETPCSNEX;
    case MachineExport::kUnknown: break;
  }
  return TAVSN_MADE_BY_UNKNOWN;
}

std::optional<std::string> Fact(const char* text) {
  return text == nullptr ? std::nullopt : std::optional<std::string>(text);
}

void FillDecoded(const ParsedIdentifier& parsed, tavsn_decoded& out) {
  const DecodedIdentifier decoded = Decode(parsed);
  out.kind = parsed.kind == IdentifierKind::kMac ? TAVSN_KIND_MAC : TAVSN_KIND_MACHINE;
  out.anomaly_count = static_cast<unsigned>(decoded.anomalies.size());
  const MacIdentifierFields& mac = decoded.mac;
  out.mac_source = mac.source;
  out.mac_count = mac.mac_count;
  std::memcpy(out.first_mac_masked, mac.first_masked, 6);
  std::memcpy(out.second_mac_masked, mac.second_masked, 6);
  std::memcpy(out.mac_address_xor, mac.address_xor, 6);
  const MachineIdentifierFields& m = decoded.machine;
  out.source_flags = m.source_flags;
  std::memcpy(out.mac_prefix, m.mac_prefix, 2);
  out.mac_checksum = m.mac_checksum;
  out.system_length = m.system_length;
  out.system_checksum = m.system_checksum;
  out.processor_length = m.processor_length;
  out.processor_checksum = m.processor_checksum;
  out.made_by = MadeByCode(m.made_by);
  out.self_checksum_verifies = m.self_checksum_verifies ? 1 : 0;
}

int StrengthCode(Strength strength) {
  switch (strength) {
    case Strength::kAbsent: return TAVSN_STRENGTH_ABSENT;
    case Strength::kWeak: return TAVSN_STRENGTH_WEAK;
    case Strength::kStrong: return TAVSN_STRENGTH_STRONG;
  }
  return TAVSN_STRENGTH_ABSENT;
}

int MachineVerdictCode(MachineVerdict verdict) {
  switch (verdict) {
    case MachineVerdict::kSame: return TAVSN_SAME_MACHINE;
    case MachineVerdict::kDifferent: return TAVSN_DIFFERENT_MACHINE;
    case MachineVerdict::kUndecided: return TAVSN_UNDECIDED;
  }
  return TAVSN_UNDECIDED;
}

// Copies a short value text; every value the comparison writes fits.
template <std::size_t N>
void CopyText(const std::string& text, char (&destination)[N]) {
  const std::size_t length = text.size() < N ? text.size() : N - 1;
  std::memcpy(destination, text.data(), length);
  destination[length] = '\0';
}

void FillDetails(const ParsedIdentifier& parsed, tavsn_details& out) {
  const DecodedIdentifier decoded = Decode(parsed);
  out.anomaly_count = static_cast<unsigned>(decoded.anomalies.size());
  for (std::size_t i = 0; i < decoded.anomalies.size() && i < TAVSN_MAX_ANOMALIES; ++i) {
    out.anomalies[i] = decoded.anomalies[i];
  }
  if (parsed.kind == IdentifierKind::kMachine) {
    for (std::uint16_t bit = 1; bit != 0 && out.flag_word_count < TAVSN_MAX_FLAG_WORDS;
         bit = static_cast<std::uint16_t>(bit << 1)) {
      if ((decoded.machine.source_flags & bit) == 0) continue;
      const char* words = SourceFlagWords(bit);
      if (words != nullptr) out.source_flag_words[out.flag_word_count++] = words;
    }
    if (decoded.machine.source_flags & ~PcSnRecord::kAllFlags) {
      out.source_flag_words[out.flag_word_count++] = "unknown bits";
    }
    CopyText(RecognisedPlaceholder(decoded.machine), out.firmware_placeholder);
  } else {
    out.address_count = static_cast<unsigned>(AddressShapes(decoded.mac).size());
  }
  if (!decoded.written_by_dll()) return;
  const auto evidence = Evidence(decoded);
  for (std::size_t i = 0; i < evidence.size(); ++i) {
    out.evidence[i] = {evidence[i].component, StrengthCode(evidence[i].strength), evidence[i].reason};
  }
}

void FillJudgment(const Comparison& comparison, tavsn_judgment& out) {
  out.verdict = MachineVerdictCode(comparison.verdict);
  out.reason = comparison.reason;
  out.changed_components = comparison.changed;
  out.strong_matches = comparison.strong_matches;
  out.strong_changes = comparison.strong_changes;
  for (const FieldChange& change : comparison.changes) {
    if (out.change_count == TAVSN_MAX_FIELD_CHANGES) break;
    tavsn_field_change& c = out.changes[out.change_count++];
    c.field = change.field;
    CopyText(change.before, c.before);
    CopyText(change.after, c.after);
    c.component = change.component;
  }
  for (std::size_t i = 0; i < comparison.evidence.size() && i < 4; ++i) {
    const ComponentJudgment& j = comparison.evidence[i];
    out.evidence[i] = {j.component, StrengthCode(j.before), StrengthCode(j.after),
                       j.relation == Relation::kChanged ? 1 : 0, j.reason};
  }
}

// A policy's numbers: at most every component may change, and only known
// components can be kept.
bool PolicyInRange(unsigned max_changed, unsigned must_keep) {
  return max_changed <= ComponentCount(kAllComponents) && (must_keep & ~kAllComponents) == 0;
}

// The comparison of two texts, or the error code that stops it; `side` and
// `detail` tell which text was refused and why.
int CompareCode(const char* before, size_t before_length, const char* after, size_t after_length,
                const ComparePolicy& policy, Comparison& comparison, int& side, size_t& detail) {
  const ParsedIdentifier a = ParseIdentifier(before, before_length);
  const ParsedIdentifier b = ParseIdentifier(after, after_length);
  for (const ParsedIdentifier* parsed : {&a, &b}) {
    if (parsed->ok()) continue;
    side = parsed == &a ? 1 : 2;
    detail = parsed->detail;
    return ParseCode(*parsed);
  }
  comparison = Compare(a, b, policy, ExplanationText::kLeftToCaller);
  switch (comparison.status) {
    case CompareStatus::kOk: return TAVSN_SERVER_OK;
    case CompareStatus::kDifferentKinds: return TAVSN_SERVER_ERROR_DIFFERENT_KINDS;
    case CompareStatus::kDifferentExports: return TAVSN_SERVER_ERROR_DIFFERENT_EXPORTS;
    case CompareStatus::kNotWrittenByDll:
      side = static_cast<int>(comparison.refused);
      return TAVSN_SERVER_ERROR_NOT_DLL_RECORD;
    case CompareStatus::kMalformed: break;
  }
  return TAVSN_SERVER_ERROR_INTERNAL;
}

}  // namespace
}  // namespace tavsn::server

using namespace tavsn::server;

extern "C" int tavsn_decode(const char* text, size_t length, tavsn_decoded* out) {
  if (out == nullptr) return TAVSN_SERVER_ERROR_NULL;
  std::memset(out, 0, sizeof *out);
  return Guarded([&] {
    const ParsedIdentifier parsed = ParseIdentifier(text, length);
    if (!parsed.ok()) {
      out->error_detail = parsed.detail;
      return ParseCode(parsed);
    }
    FillDecoded(parsed, *out);
    return TAVSN_SERVER_OK;
  });
}

extern "C" int tavsn_match_mac(const char* text, size_t length, const char* const* macs, size_t mac_count,
                               int sorted_distinct, int source, int* verdict) {
  if (verdict == nullptr) return TAVSN_SERVER_ERROR_NULL;
  *verdict = TAVSN_VERDICT_NOT_CHECKABLE;
  if (macs == nullptr && mac_count != 0) return TAVSN_SERVER_ERROR_NULL;
  if (source < -1 || source > 1) return TAVSN_SERVER_ERROR_BAD_ARGUMENT;
  return Guarded([&] {
    const ParsedIdentifier parsed = ParseIdentifier(text, length);
    if (!parsed.ok()) return ParseCode(parsed);
    if (parsed.kind != IdentifierKind::kMac) return TAVSN_SERVER_ERROR_WRONG_KIND;
    MacFacts facts;
    for (size_t i = 0; i < mac_count; ++i) {
      if (macs[i] == nullptr) return TAVSN_SERVER_ERROR_NULL;
      facts.macs.emplace_back(macs[i]);
    }
    facts.order = sorted_distinct ? MacListOrder::kSortedDistinct : MacListOrder::kAsGiven;
    if (source == 0 || source == 1) facts.source = static_cast<std::uint8_t>(source);
    const MacMatch match = MatchMacIdentifier(parsed, facts);
    *verdict = VerdictCode(match.verdict);
    if (match.verdict == Verdict::kNotWrittenByDll) return TAVSN_SERVER_ERROR_NOT_DLL_RECORD;
    return match.verdict == Verdict::kBadFact ? TAVSN_SERVER_ERROR_BAD_FACT : TAVSN_SERVER_OK;
  });
}

extern "C" int tavsn_match_machine(const char* text, size_t length, const tavsn_machine_facts* facts,
                                   tavsn_machine_match* out) {
  if (out == nullptr) return TAVSN_SERVER_ERROR_NULL;
  // Every error leaves every verdict "not checkable".
  out->mac = out->processor = out->serial_number = out->uuid_text = out->overall = TAVSN_VERDICT_NOT_CHECKABLE;
  if (facts == nullptr) return TAVSN_SERVER_ERROR_NULL;
  return Guarded([&] {
    const ParsedIdentifier parsed = ParseIdentifier(text, length);
    if (!parsed.ok()) return ParseCode(parsed);
    if (parsed.kind != IdentifierKind::kMachine) return TAVSN_SERVER_ERROR_WRONG_KIND;
    MachineFacts cpp_facts;
    cpp_facts.mac = Fact(facts->mac);
    cpp_facts.processor_text = Fact(facts->processor_text);
    cpp_facts.serial_number = Fact(facts->serial_number);
    cpp_facts.uuid_text = Fact(facts->uuid_text);
    const MachineMatch match = MatchMachineIdentifier(parsed, cpp_facts);
    out->mac = VerdictCode(match.mac);
    out->processor = VerdictCode(match.processor);
    out->serial_number = VerdictCode(match.serial_number);
    out->uuid_text = VerdictCode(match.uuid_text);
    out->overall = VerdictCode(match.Overall());
    return match.Overall() == Verdict::kNotWrittenByDll ? TAVSN_SERVER_ERROR_NOT_DLL_RECORD : TAVSN_SERVER_OK;
  });
}

extern "C" int tavsn_compare(const char* before, size_t before_length, const char* after, size_t after_length,
                             const tavsn_compare_policy* policy, tavsn_comparison* out) {
  if (out == nullptr) return TAVSN_SERVER_ERROR_NULL;
  std::memset(out, 0, sizeof *out);
  return Guarded([&] {
    // The numbers alone never select the count policy: {1, 0} looks like
    // the default and must act like it.
    ComparePolicy cpp_policy;
    if (policy != nullptr) {
      if (!PolicyInRange(policy->max_changed, policy->must_keep)) return TAVSN_SERVER_ERROR_BAD_ARGUMENT;
      cpp_policy.max_changed = policy->max_changed;
      cpp_policy.must_keep = policy->must_keep;
    }
    Comparison comparison;
    int side = 0;
    size_t detail = 0;
    const int code = CompareCode(before, before_length, after, after_length, cpp_policy, comparison, side, detail);
    if (code != TAVSN_SERVER_OK) return code;
    out->changed_components = comparison.changed;
    out->changed_fields = static_cast<unsigned>(comparison.changes.size());
    out->same_machine = comparison.same_machine ? 1 : 0;
    return TAVSN_SERVER_OK;
  });
}

extern "C" int tavsn_describe(const char* text, size_t length, tavsn_details* out) {
  if (out == nullptr) return TAVSN_SERVER_ERROR_NULL;
  std::memset(out, 0, sizeof *out);
  return Guarded([&] {
    const ParsedIdentifier parsed = ParseIdentifier(text, length);
    if (!parsed.ok()) return ParseCode(parsed);
    FillDetails(parsed, *out);
    return TAVSN_SERVER_OK;
  });
}

namespace {

// The C policy as the C++ one; false when out of range.
bool PolicyFromC(const tavsn_policy* policy, double threshold, ComparePolicy& out) {
  if (!(threshold >= 0.0 && threshold <= 1.0)) return false;  // NaN too
  if (threshold > 0.0) out.threshold = threshold;
  if (policy == nullptr) return true;
  if ((policy->kind != TAVSN_POLICY_EVIDENCE && policy->kind != TAVSN_POLICY_COUNT) ||
      !PolicyInRange(policy->max_changed, policy->must_keep)) {
    return false;
  }
  out.max_changed = policy->max_changed;
  out.must_keep = policy->must_keep;
  out.kind = policy->kind == TAVSN_POLICY_COUNT ? PolicyKind::kCount : PolicyKind::kEvidence;
  return true;
}

void ClearJudgment(tavsn_judgment& out) {
  std::memset(&out, 0, sizeof out);
  out.verdict = TAVSN_UNDECIDED;
  out.reason = "";
}

void FillRisk(const Comparison& comparison, tavsn_risk& out) {
  out.verdict = MachineVerdictCode(comparison.verdict);
  out.false_accept_probability = comparison.false_accept_probability;
  for (std::size_t i = 0; i < kImpostorClassCount; ++i) out.by_class[i] = comparison.odds.by_class[i];
  out.likeliest = static_cast<int>(comparison.likeliest);
  out.events = comparison.events;
  if (comparison.benign_explanation == nullptr) return;
  WriteExplanation(comparison.benign_explanation, comparison.impostor_explanation, comparison.false_accept_probability,
                   out.explanation, sizeof out.explanation);
}

}  // namespace

extern "C" int tavsn_judge(const char* before, size_t before_length, const char* after, size_t after_length,
                           const tavsn_policy* policy, tavsn_judgment* out) {
  if (out == nullptr) return TAVSN_SERVER_ERROR_NULL;
  ClearJudgment(*out);
  return Guarded([&] {
    ComparePolicy cpp_policy;
    if (!PolicyFromC(policy, 0.0, cpp_policy)) return TAVSN_SERVER_ERROR_BAD_ARGUMENT;
    Comparison comparison;
    const int code = CompareCode(before, before_length, after, after_length, cpp_policy, comparison, out->error_side,
                                 out->error_detail);
    if (code == TAVSN_SERVER_OK) FillJudgment(comparison, *out);
    return code;
  });
}

extern "C" int tavsn_judge_risk(const char* before, size_t before_length, const char* after, size_t after_length,
                                const tavsn_policy* policy, double threshold, tavsn_judgment* judgment,
                                tavsn_risk* out) {
  if (out == nullptr) return TAVSN_SERVER_ERROR_NULL;
  std::memset(out, 0, sizeof *out);
  out->verdict = TAVSN_UNDECIDED;
  out->false_accept_probability = 1.0;
  tavsn_judgment scratch;
  tavsn_judgment& full = judgment != nullptr ? *judgment : scratch;
  ClearJudgment(full);
  return Guarded([&] {
    ComparePolicy cpp_policy;
    if (!PolicyFromC(policy, threshold, cpp_policy)) return TAVSN_SERVER_ERROR_BAD_ARGUMENT;
    Comparison comparison;
    const int code = CompareCode(before, before_length, after, after_length, cpp_policy, comparison, full.error_side,
                                 full.error_detail);
    if (code != TAVSN_SERVER_OK) return code;
    FillJudgment(comparison, full);
    FillRisk(comparison, *out);
    return code;
  });
}

extern "C" const char* tavsn_server_error_text(int code) {
  switch (code) {
    case TAVSN_SERVER_OK: return "ok";
    case TAVSN_SERVER_ERROR_NULL: return "a required pointer is null";
    case TAVSN_SERVER_ERROR_LENGTH: return "an identifier has exactly 32 characters, a fingerprint 31";
    case TAVSN_SERVER_ERROR_TAG: return "an identifier begins with TQ11 or TQ12";
    case TAVSN_SERVER_ERROR_CHARACTER:
      return "an identifier has 28 uppercase hexadecimal digits after its tag, a fingerprint 31 in all";
    case TAVSN_SERVER_ERROR_WRONG_KIND: return "the identifier is of the other kind";
    case TAVSN_SERVER_ERROR_DIFFERENT_KINDS: return "a MAC identifier cannot be compared with a machine identifier";
    case TAVSN_SERVER_ERROR_DIFFERENT_EXPORTS: return "a GetPCSN identifier cannot be compared with a GetPCSNEx one";
    case TAVSN_SERVER_ERROR_BAD_FACT: return "a MAC address is not 12 hexadecimal digits";
    case TAVSN_SERVER_ERROR_INTERNAL: return "out of memory";
    case TAVSN_SERVER_ERROR_NOT_DLL_RECORD: return "the identifier is well-formed but no record the DLL writes";
    case TAVSN_SERVER_ERROR_BAD_ARGUMENT: return "an argument is out of its range";
    case TAVSN_SERVER_ERROR_INCONSISTENT_BUNDLE: return "a bundle's members cannot come from one machine";
    default: return "unknown result code";
  }
}

// ---- The fingerprint of tav_get_pc_id --------------------------------------

namespace tavsn::server {
namespace {

int FingerprintParseCode(const ParsedFingerprint& parsed) {
  switch (parsed.status) {
    case ParseStatus::kOk: return TAVSN_SERVER_OK;
    case ParseStatus::kNullText: return TAVSN_SERVER_ERROR_NULL;
    case ParseStatus::kBadLength: return TAVSN_SERVER_ERROR_LENGTH;
    case ParseStatus::kBadCharacter: return TAVSN_SERVER_ERROR_CHARACTER;
    case ParseStatus::kBadTag: break;
  }
  return TAVSN_SERVER_ERROR_INTERNAL;
}

constexpr FingerprintCause kCauseBits[] = {
    FingerprintCause::kDiskUnreadable,     FingerprintCause::kOtherFirstAdapter,  FingerprintCause::kNoAdapter,
    FingerprintCause::kHighestLeafLimited, FingerprintCause::kBrandMissing,       FingerprintCause::kBrandUnpadded,
    FingerprintCause::kClockUnreadable,    FingerprintCause::kOtherMemoryReading,
};

unsigned CauseBit(FingerprintCause cause) {
  for (unsigned i = 0; i < std::size(kCauseBits); ++i) {
    if (kCauseBits[i] == cause) return 1u << i;
  }
  return 0;
}

unsigned CauseBits(const std::vector<FingerprintCause>& causes) {
  unsigned bits = 0;
  for (FingerprintCause cause : causes) bits |= CauseBit(cause);
  return bits;
}

// -1 for "not given"; otherwise a value from 0 to `highest`.
bool NumberInRange(long long value, unsigned long long highest) {
  return value == -1 || (value >= 0 && static_cast<unsigned long long>(value) <= highest);
}

bool FingerprintFactsInRange(const tavsn_fingerprint_facts& facts) {
  constexpr unsigned long long k32 = 0xFFFFFFFFull, k63 = 0x7FFFFFFFFFFFFFFFull;
  return (facts.has_leaf0 == 0 || facts.has_leaf0 == 1) && NumberInRange(facts.highest_leaf, k32) &&
         NumberInRange(facts.mhz, k32) && NumberInRange(facts.memory_bytes, k63) &&
         NumberInRange(facts.disk_bytes, k63) && facts.other_mac_count <= 32;
}

FingerprintFacts CppFingerprintFacts(const tavsn_fingerprint_facts& facts) {
  FingerprintFacts cpp;
  if (facts.has_leaf0) cpp.leaf0 = CpuidRegisters{facts.leaf0[0], facts.leaf0[1], facts.leaf0[2], facts.leaf0[3]};
  cpp.cpu_vendor = Fact(facts.cpu_vendor);
  if (facts.highest_leaf >= 0) cpp.highest_leaf = static_cast<std::uint32_t>(facts.highest_leaf);
  cpp.brand = Fact(facts.brand);
  if (facts.mhz >= 0) cpp.mhz = static_cast<std::uint32_t>(facts.mhz);
  if (facts.memory_bytes >= 0) cpp.memory_bytes = static_cast<std::uint64_t>(facts.memory_bytes);
  if (facts.disk_bytes >= 0) cpp.disk_bytes = facts.disk_bytes;
  cpp.mac = Fact(facts.mac);
  for (size_t i = 0; i < facts.other_mac_count; ++i) cpp.other_macs.emplace_back(facts.other_macs[i]);
  return cpp;
}

void FillFingerprintMatch(const FingerprintMatch& match, tavsn_fingerprint_match& out) {
  out.verdict = VerdictCode(match.verdict);
  CopyText(match.expected, out.expected);
  out.highest_leaf = match.highest_leaf;
  out.highest_leaf_searched = match.highest_leaf_searched ? 1 : 0;
  for (const FingerprintExplanation& e : match.explanations) {
    if (out.explanation_count == TAVSN_MAX_FINGERPRINT_EXPLANATIONS) break;
    tavsn_fingerprint_explanation& slot = out.explanations[out.explanation_count++];
    slot.causes = CauseBits(e.causes);
    CopyText(e.first_adapter, slot.first_adapter);
    slot.highest_leaf = e.highest_leaf;
  }
  out.without_effect = CauseBits(match.without_effect);
}

}  // namespace
}  // namespace tavsn::server

extern "C" int tavsn_parse_fingerprint(const char* text, size_t length, size_t* error_detail) {
  if (error_detail != nullptr) *error_detail = 0;
  const ParsedFingerprint parsed = ParseFingerprint(text, length);
  if (parsed.ok()) return TAVSN_SERVER_OK;
  if (error_detail != nullptr) *error_detail = parsed.detail;
  return FingerprintParseCode(parsed);
}

extern "C" int tavsn_compare_fingerprints(const char* first, size_t first_length, const char* second,
                                          size_t second_length, tavsn_fingerprint_comparison* out) {
  if (out == nullptr) return TAVSN_SERVER_ERROR_NULL;
  std::memset(out, 0, sizeof *out);
  const ParsedFingerprint a = ParseFingerprint(first, first_length);
  const ParsedFingerprint b = ParseFingerprint(second, second_length);
  for (const ParsedFingerprint* parsed : {&a, &b}) {
    if (parsed->ok()) continue;
    out->error_side = parsed == &a ? 1 : 2;
    out->error_detail = parsed->detail;
    return FingerprintParseCode(*parsed);
  }
  const FingerprintComparison comparison = CompareFingerprints(a, b);
  out->equal = comparison.equal() ? 1 : 0;
  out->same_processor = comparison.same_processor ? 1 : 0;
  out->same_disk_text = comparison.same_disk_text ? 1 : 0;
  out->same_first_adapter = comparison.same_first_adapter ? 1 : 0;
  return TAVSN_SERVER_OK;
}

extern "C" int tavsn_match_fingerprint(const char* text, size_t length, const tavsn_fingerprint_facts* facts,
                                       tavsn_fingerprint_match* out) {
  if (out == nullptr) return TAVSN_SERVER_ERROR_NULL;
  std::memset(out, 0, sizeof *out);
  out->verdict = TAVSN_VERDICT_NOT_CHECKABLE;
  if (facts == nullptr) return TAVSN_SERVER_ERROR_NULL;
  if (facts->other_macs == nullptr && facts->other_mac_count != 0) return TAVSN_SERVER_ERROR_NULL;
  if (!FingerprintFactsInRange(*facts)) return TAVSN_SERVER_ERROR_BAD_ARGUMENT;
  for (size_t i = 0; i < facts->other_mac_count; ++i) {
    if (facts->other_macs[i] == nullptr) return TAVSN_SERVER_ERROR_NULL;
  }
  return Guarded([&] {
    const ParsedFingerprint parsed = ParseFingerprint(text, length);
    if (!parsed.ok()) return FingerprintParseCode(parsed);
    const FingerprintMatch match = MatchFingerprint(parsed, CppFingerprintFacts(*facts));
    FillFingerprintMatch(match, *out);
    return match.verdict == Verdict::kBadFact ? TAVSN_SERVER_ERROR_BAD_FACT : TAVSN_SERVER_OK;
  });
}

extern "C" const char* tavsn_fingerprint_cause_text(unsigned cause) {
  for (unsigned i = 0; i < std::size(kCauseBits); ++i) {
    if (cause == 1u << i) return FingerprintCauseWords(kCauseBits[i]);
  }
  return nullptr;
}

// ---- Bundles: a machine's identifiers judged together -----------------------

namespace tavsn::server {
namespace {

// The texts of a bundle, or an error code (the side and member named).
int BundleTexts(const tavsn_bundle* bundle, int side, std::vector<std::string>& texts, tavsn_bundle_judgment& out) {
  if (bundle == nullptr) return TAVSN_SERVER_ERROR_NULL;
  out.error_side = side;
  if (bundle->count == 0 || bundle->count > TAVSN_BUNDLE_MAX_MEMBERS) return TAVSN_SERVER_ERROR_BAD_ARGUMENT;
  for (size_t i = 0; i < bundle->count; ++i) {
    out.error_member = i;
    if (bundle->lengths[i] == 0) return TAVSN_SERVER_ERROR_BAD_ARGUMENT;
    if (bundle->texts[i] == nullptr) return TAVSN_SERVER_ERROR_NULL;
    texts.emplace_back(bundle->texts[i], bundle->lengths[i]);
  }
  out.error_side = 0;
  out.error_member = 0;
  return TAVSN_SERVER_OK;
}

int MemberParseCode(const std::string& text) {
  if (ReadAsIdentifier(text)) return ParseCode(ParseIdentifier(text));
  return FingerprintParseCode(ParseFingerprint(text));
}

int BundleCode(const BundleComparison& comparison, const std::vector<std::string>* sides[2],
               tavsn_bundle_judgment& out) {
  if (comparison.status == BundleStatus::kOk) return TAVSN_SERVER_OK;
  out.error_side = static_cast<int>(comparison.side);
  out.error_member = comparison.position;
  switch (comparison.status) {
    case BundleStatus::kMalformed:
      out.error_detail = comparison.detail;
      return MemberParseCode((*sides[comparison.side - 1])[comparison.position]);
    case BundleStatus::kNotWrittenByDll: return TAVSN_SERVER_ERROR_NOT_DLL_RECORD;
    case BundleStatus::kInconsistent:
      out.inconsistency = comparison.problem;
      return TAVSN_SERVER_ERROR_INCONSISTENT_BUNDLE;
    case BundleStatus::kNothingInCommon: return TAVSN_SERVER_ERROR_DIFFERENT_KINDS;
    case BundleStatus::kEmpty: return TAVSN_SERVER_ERROR_BAD_ARGUMENT;
    case BundleStatus::kOk: break;
  }
  return TAVSN_SERVER_ERROR_INTERNAL;
}

void FillBundleJudgment(const BundleComparison& comparison, tavsn_bundle_judgment& out) {
  tavsn_risk& risk = out.risk;
  risk.verdict = MachineVerdictCode(comparison.verdict);
  risk.false_accept_probability = comparison.false_accept_probability;
  for (std::size_t i = 0; i < kImpostorClassCount; ++i) risk.by_class[i] = comparison.odds.by_class[i];
  risk.likeliest = static_cast<int>(comparison.likeliest);
  risk.events = comparison.events;
  CopyText(comparison.explanation, risk.explanation);
  out.reason = comparison.reason;
  out.changed_components = comparison.changed;
  for (const MemberJudgment& member : comparison.members) {
    const auto index = static_cast<std::size_t>(member.member);
    out.member_changed[index] = member.changed ? 1 : 0;
    if (member.member != BundleMember::kFingerprint) {
      out.member_verdict[index] = MachineVerdictCode(member.comparison.verdict);
    }
  }
}

}  // namespace
}  // namespace tavsn::server

extern "C" int tavsn_judge_bundles(const tavsn_bundle* before, const tavsn_bundle* after, const tavsn_policy* policy,
                                   double threshold, tavsn_bundle_judgment* out) {
  if (out == nullptr) return TAVSN_SERVER_ERROR_NULL;
  std::memset(out, 0, sizeof *out);
  out->risk.verdict = TAVSN_UNDECIDED;
  out->risk.false_accept_probability = 1.0;
  out->reason = "";
  out->inconsistency = "";
  for (int& changed : out->member_changed) changed = -1;
  return Guarded([&] {
    ComparePolicy cpp_policy;
    if (!PolicyFromC(policy, threshold, cpp_policy)) return TAVSN_SERVER_ERROR_BAD_ARGUMENT;
    std::vector<std::string> texts[2];
    for (int side = 0; side < 2; ++side) {
      const int code = BundleTexts(side == 0 ? before : after, side + 1, texts[side], *out);
      if (code != TAVSN_SERVER_OK) return code;
    }
    const BundleComparison comparison = CompareBundles(texts[0], texts[1], cpp_policy);
    const std::vector<std::string>* sides[2] = {&texts[0], &texts[1]};
    const int code = BundleCode(comparison, sides, *out);
    if (code != TAVSN_SERVER_OK) return code;
    FillBundleJudgment(comparison, *out);
    return code;
  });
}
