#pragma once
// A machine's identifiers judged together. A host often sends several
// identifiers from one call site (GetMacSN, GetPCSN, GetPCSNEx and the
// fingerprint of tav_get_pc_id); a bundle holds at most one of each, and two
// bundles are judged as two sightings of one machine: each fact of the
// machine (its addresses, its firmware text, its processor) counted once,
// however many members carry it.

#include <cstddef>
#include <iterator>
#include <string>
#include <vector>

#include "server/compare.h"
#include "server/fingerprint.h"
#include "server/identifier.h"

namespace tavsn::server {

enum class BundleMember { kGetMacSn, kGetPcSn, kGetPcSnEx, kFingerprint };
constexpr BundleMember kBundleMembers[] = {BundleMember::kGetMacSn, BundleMember::kGetPcSn, BundleMember::kGetPcSnEx,
                                           BundleMember::kFingerprint};
constexpr std::size_t kBundleMemberCount = std::size(kBundleMembers);
// "GetMacSN", "GetPCSN", "GetPCSNEx", "tav_get_pc_id".
const char* BundleMemberName(BundleMember member);

enum class BundleStatus {
  kOk,
  kEmpty,            // a side holds no member
  kMalformed,        // a member is neither an identifier nor a fingerprint
  kNotWrittenByDll,  // a member is no record the DLL writes: never judged
  kInconsistent,     // members that cannot come from one machine and one call site
  kNothingInCommon,  // no kind of member on both sides
};

// One kind of member found on both sides.
struct MemberJudgment {
  BundleMember member = BundleMember::kGetMacSn;
  bool changed = false;  // any field (identifiers) or any digit (fingerprint)
  // Identifiers: their own comparison, as if judged alone. Its explanation
  // is left unwritten (the bundle's is the one that counts); ExplanationOf
  // writes it from its parts.
  Comparison comparison;
};

struct BundleComparison {
  BundleStatus status = BundleStatus::kEmpty;
  // On an error: the side (1 the first bundle, 2 the second) and the
  // member's 0-based position in it; kMalformed also the parse detail.
  unsigned side = 0;
  std::size_t position = 0;
  std::size_t detail = 0;
  const char* problem = "";             // kInconsistent: one static sentence
  std::vector<MemberJudgment> members;  // in the order of kBundleMembers
  unsigned changed = 0;                 // components changed in any member
  unsigned events = 0;                  // benign events the changes need, each component once
  MachineVerdict verdict = MachineVerdict::kUndecided;
  const char* reason = "";
  MatchOdds odds;
  double false_accept_probability = 1.0;
  ImpostorClass likeliest = ImpostorClass::kSibling;
  std::string explanation;  // undecided only
};

// Whether a member's text is read as an identifier (a tag, whatever its
// length) rather than as a fingerprint, whose digits never begin with T.
bool ReadAsIdentifier(const std::string& text);

// Judges two bundles of texts (identifiers of 32 characters, fingerprints of
// 31 digits), each in any order, under the rules and threshold of `policy`.
BundleComparison CompareBundles(const std::vector<std::string>& before, const std::vector<std::string>& after,
                                const ComparePolicy& policy = {});

}  // namespace tavsn::server
