#pragma once
// The third identifier on a licence server: the fingerprint tav_get_pc_id
// writes. It is the first 31 digits of an MD5, so nothing can be decoded
// from it; it can only be recognised, compared with another one, and
// rebuilt from a machine's facts to see whether they give it.

#include <cstddef>
#include <string>

#include "server/identifier.h"

namespace tavsn::server {

inline constexpr std::size_t kFingerprintDigits = 31;
// What the DLL writes into the host's buffer: the digits and a zero byte.
inline constexpr std::size_t kFingerprintBufferBytes = kFingerprintDigits + 1;

struct ParsedFingerprint {
  // kOk, kNullText, kBadLength or kBadCharacter (never kBadTag: a
  // fingerprint has no tag).
  ParseStatus status = ParseStatus::kNullText;
  // kBadLength: the length given. kBadCharacter: the position (0-based) of
  // the first character that is not an uppercase hexadecimal digit.
  std::size_t detail = 0;
  // The 31 digits and a terminating zero, when well-formed.
  char digits[kFingerprintBufferBytes] = {};

  bool ok() const { return status == ParseStatus::kOk; }
  std::string text() const { return ok() ? std::string(digits, kFingerprintDigits) : std::string(); }
};

// Reads at most `length` bytes of `text`: 31 uppercase hexadecimal digits,
// or the host's whole 32-byte buffer, whose last byte is the terminating
// zero. The text need not be terminated.
ParsedFingerprint ParseFingerprint(const char* text, std::size_t length);
ParsedFingerprint ParseFingerprint(const std::string& text);

// One line a person can act on (0-based byte positions, as detail).
std::string DescribeFingerprintParseError(const ParsedFingerprint& parsed);
// The same for the text that was parsed, counted in characters from 1 and
// with the wrong character shown (escaped).
std::string DescribeFingerprintParseError(const ParsedFingerprint& parsed, const std::string& text);

// True for a text of the identifiers' shape (32 characters, "TQ1"), which is
// easily given where a fingerprint was meant.
bool LooksLikeTaggedIdentifier(const std::string& text);

enum class FingerprintRelation {
  kNotComparable,  // one of the two is not a well-formed fingerprint
  kEqual,
  kDifferent,
};

const char* FingerprintRelationName(FingerprintRelation relation);

// Equal fingerprints mean equal digest inputs (two different inputs give
// the same 31 digits with a chance of about 2^-124): the same processor
// identification, the same first-disk text and the same first adapter, in
// the sense of each flag below. Different ones mean that at least one of
// those inputs differs; which one the digits cannot tell (see
// ExplainFingerprint). The processor clock and the memory never enter, so
// neither equality nor difference says anything about them.
struct FingerprintComparison {
  FingerprintRelation relation = FingerprintRelation::kNotComparable;
  // CPUID leaf 0 (highest leaf and vendor) and the 48-byte brand string, or
  // both without the brand leaves.
  bool same_processor = false;
  // The first physical disk's size in whole decimal gigabytes, or both
  // processes unable to open it for reading and writing (or to read its
  // length).
  bool same_disk_text = false;
  // The whole address (all six bytes) of the adapter IP Helper listed
  // first, or both without an adapter list.
  bool same_first_adapter = false;

  bool equal() const { return relation == FingerprintRelation::kEqual; }
};

FingerprintComparison CompareFingerprints(const ParsedFingerprint& first, const ParsedFingerprint& second);

}  // namespace tavsn::server
