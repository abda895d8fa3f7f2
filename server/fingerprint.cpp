#include "server/fingerprint.h"

#include "server/display_text.h"

namespace tavsn::server {
namespace {

bool IsUpperHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

constexpr char kShapeWords[] = "a fingerprint has 31 uppercase hexadecimal digits (0-9, A-F)";

}  // namespace

ParsedFingerprint ParseFingerprint(const char* text, std::size_t length) {
  ParsedFingerprint parsed;
  if (text == nullptr && length != 0) return parsed;
  // The host's buffer as the DLL left it: the digits and their terminator.
  const bool whole_buffer = length == kFingerprintBufferBytes && text[kFingerprintDigits] == '\0';
  if (length != kFingerprintDigits && !whole_buffer) {
    parsed.status = ParseStatus::kBadLength;
    parsed.detail = length;
    return parsed;
  }
  for (std::size_t i = 0; i < kFingerprintDigits; ++i) {
    if (!IsUpperHexDigit(text[i])) {
      parsed.status = ParseStatus::kBadCharacter;
      parsed.detail = i;
      return parsed;
    }
    parsed.digits[i] = text[i];
  }
  parsed.digits[kFingerprintDigits] = '\0';
  parsed.status = ParseStatus::kOk;
  return parsed;
}

ParsedFingerprint ParseFingerprint(const std::string& text) { return ParseFingerprint(text.data(), text.size()); }

std::string DescribeFingerprintParseError(const ParsedFingerprint& parsed) {
  switch (parsed.status) {
    case ParseStatus::kOk: return "well-formed";
    case ParseStatus::kNullText: return "no text (null pointer)";
    case ParseStatus::kBadLength: return "bad length: " + std::to_string(parsed.detail) + " characters, " + kShapeWords;
    case ParseStatus::kBadCharacter:
      return "bad character at position " + std::to_string(parsed.detail) +
             ": expected an uppercase hexadecimal digit (0-9, A-F)";
    case ParseStatus::kBadTag: break;
  }
  return "unknown error";
}

std::string DescribeFingerprintParseError(const ParsedFingerprint& parsed, const std::string& text) {
  switch (parsed.status) {
    case ParseStatus::kBadLength: {
      const std::size_t characters = CharacterCount(text);
      std::string words = "bad length: " + std::to_string(characters) + " characters";
      if (characters != text.size()) words += " (" + std::to_string(text.size()) + " bytes, not all ASCII)";
      words += std::string(", ") + kShapeWords;
      if (LooksLikeTaggedIdentifier(text)) words += " (this looks like a TQ11 or TQ12 identifier)";
      return words;
    }
    case ParseStatus::kBadCharacter:
      return "bad character '" + CharacterAt(text, parsed.detail) + "' at character " +
             std::to_string(CharacterIndex(text, parsed.detail) + 1) +
             " (counted from 1): expected an uppercase hexadecimal digit (0-9, A-F)";
    default: return DescribeFingerprintParseError(parsed);
  }
}

bool LooksLikeTaggedIdentifier(const std::string& text) { return text.size() == 32 && text.compare(0, 3, "TQ1") == 0; }

const char* FingerprintRelationName(FingerprintRelation relation) {
  switch (relation) {
    case FingerprintRelation::kNotComparable: return "not_comparable";
    case FingerprintRelation::kEqual: return "equal";
    case FingerprintRelation::kDifferent: return "different";
  }
  return "unknown";
}

FingerprintComparison CompareFingerprints(const ParsedFingerprint& first, const ParsedFingerprint& second) {
  FingerprintComparison comparison;
  if (!first.ok() || !second.ok()) return comparison;
  if (first.text() != second.text()) {
    comparison.relation = FingerprintRelation::kDifferent;
    return comparison;
  }
  comparison.relation = FingerprintRelation::kEqual;
  comparison.same_processor = true;
  comparison.same_disk_text = true;
  comparison.same_first_adapter = true;
  return comparison;
}

}  // namespace tavsn::server
