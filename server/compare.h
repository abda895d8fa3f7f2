#pragma once
// Comparing two identifiers of one kind that a licence server received at
// different times: which fields and which components of the machine changed,
// and whether, under a policy, it is still the same machine.

#include <array>
#include <cstddef>
#include <iterator>
#include <string>

#include "server/evidence.h"
#include "server/identifier.h"

namespace tavsn::server {

enum class PolicyKind {
  // The default. Machine-bound evidence (a real firmware text) outweighs
  // movable evidence (an adapter): a real firmware text that changed is
  // another machine. After a change, same machine only when a different
  // machine would show the evidence that still matches with probability at
  // most `threshold` for every impostor class; different machine when more
  // of the machine's components changed than `max_changed` benign events
  // explain (the MAC's source, which changes with the MAC, not counted) and
  // no machine-bound evidence matches; otherwise undecided. Equal
  // identifiers are the same machine.
  kEvidence,
  // Counts changed components of any strength: same machine when at most
  // `max_changed` changed. Two machines of one model whose firmware is a
  // placeholder differ only in their MAC, so this calls them one machine;
  // only for servers that name it knowingly.
  kCount,
};

// The largest probability of a false accept the default policy takes.
constexpr double kDefaultFalseAcceptThreshold = 1e-5;

// Under either kind, a change of a component in `must_keep` makes it
// another machine.
struct ComparePolicy {
  unsigned max_changed = 1;
  unsigned must_keep = 0;
  PolicyKind kind = PolicyKind::kEvidence;
  double threshold = kDefaultFalseAcceptThreshold;
};

inline ComparePolicy CountPolicy(unsigned max_changed = 1, unsigned must_keep = 0) {
  return {max_changed, must_keep, PolicyKind::kCount};
}

// "evidence" or "count"; PolicyByName gives false for other names.
const char* PolicyName(PolicyKind kind);
bool PolicyByName(const std::string& name, PolicyKind& kind);

enum class MachineVerdict { kSame, kDifferent, kUndecided };
// "same machine", "different machine", "undecided".
const char* MachineVerdictName(MachineVerdict verdict);

enum class CompareStatus {
  kOk,
  kMalformed,         // one of the texts does not parse
  kDifferentKinds,    // a TQ11 against a TQ12
  kDifferentExports,  // a GetPCSN identifier against a GetPCSNEx one
  kNotWrittenByDll,   // a record that decode calls not the DLL's: never judged
};

struct FieldChange {
  const char* field = "";  // static, as the tool's JSON names it
  std::string before;
  std::string after;
  Component component = kComponentMac;
};

// The fields that differ, at most one entry per field a record has: no heap
// block on the judging path.
class FieldChanges {
 public:
  static constexpr std::size_t kCapacity = 9;  // a GetPCSN record's fields

  void push_back(FieldChange change) { entries_[size_++] = std::move(change); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const FieldChange& operator[](std::size_t i) const { return entries_[i]; }
  const FieldChange* begin() const { return entries_.data(); }
  const FieldChange* end() const { return entries_.data() + size_; }

 private:
  std::array<FieldChange, kCapacity> entries_{};
  std::size_t size_ = 0;
};

enum class Relation { kSame, kChanged };

// One component in both records: its evidence in each, and whether it
// changed. The reason is the weaker side's.
struct ComponentJudgment {
  Component component = kComponentMac;
  Strength before = Strength::kAbsent;
  Strength after = Strength::kAbsent;
  Relation relation = Relation::kSame;
  const char* reason = "";

  Strength weaker() const { return before < after ? before : after; }
};

struct Comparison {
  CompareStatus status = CompareStatus::kMalformed;
  // kMalformed and kNotWrittenByDll: 1 for the first text, 2 for the second,
  // 3 for both.
  unsigned refused = 0;
  IdentifierKind kind = IdentifierKind::kMac;
  FieldChanges changes;                                            // only the fields that differ
  unsigned changed = 0;                                            // component set
  std::array<ComponentJudgment, std::size(kComponents)> evidence;  // in the order of kComponents
  // Strong evidence found in both records: a TQ11 counts each address that
  // both hold (by its shape), a TQ12 its first MAC and its firmware text.
  unsigned strong_matches = 0;
  unsigned strong_changes = 0;
  MachineVerdict verdict = MachineVerdict::kUndecided;
  const char* reason = "";    // why this verdict, one static sentence
  bool same_machine = false;  // verdict == kSame
  // The benign events the changes need: one per changed component (the
  // MAC's source not counted; a dual-port card replaced is one MAC event).
  unsigned events = 0;
  // How likely a different machine of each impostor class shows all the
  // evidence that matches; for equal identifiers the moved-adapter class is
  // left out (its collision is the record's limit, published per kind).
  MatchOdds odds;
  // The largest of the classes counted: the verdict's estimated risk of a
  // false accept.
  double false_accept_probability = 1.0;
  ImpostorClass likeliest = ImpostorClass::kSibling;
  // Undecided: the static parts of the explanation below; null otherwise.
  const char* benign_explanation = nullptr;
  const char* impostor_explanation = nullptr;
  // Undecided: the competing explanations, e.g. "a replaced or added network
  // card, or a sibling of its batch whose serial checksum agrees: about 1 in
  // 200". Empty otherwise.
  std::string explanation;
};

// Whether Compare writes Comparison::explanation, a heap block: the C API
// writes the explanation into its caller's buffer instead (WriteExplanation),
// or not at all.
enum class ExplanationText { kWritten, kLeftToCaller };

Comparison Compare(const ParsedIdentifier& before, const ParsedIdentifier& after, const ComparePolicy& policy = {},
                   ExplanationText text = ExplanationText::kWritten);

// "BENIGN, or IMPOSTOR: about 1 in N" (or "... : the records cannot tell them
// apart" from one half up), cut to `capacity` - 1 characters and
// terminated, without a heap block; gives the length written.
std::size_t WriteExplanation(const char* benign, const char* impostor, double false_accept_probability, char* buffer,
                             std::size_t capacity);
// The same as a text.
std::string ExplanationOf(const char* benign, const char* impostor, double false_accept_probability);

// Who else could show the evidence that still matches, in words, e.g. "a
// sibling of its batch whose serial checksum agrees".
const char* ImpostorExplanation(ImpostorClass impostor, bool firmware_matched);

// Which relation a relation is: "same", "changed".
const char* RelationName(Relation relation);

// Number of components in a set.
unsigned ComponentCount(unsigned components);

}  // namespace tavsn::server
