// libFuzzer target for the server library's identifier parser, decoder and
// comparison.
//
// Input: the bytes are split at the first newline into two texts (the whole
// input when there is none); each is parsed from its own exact-size heap
// block, so a read past the given length is reported by AddressSanitizer.
//
// Checked beyond what the sanitizers see:
// - a text that parses is re-encoded with the DLL's own encoder and must
//   give the same 32 characters back; one that does not parse names a
//   position inside the text, or the length for a length error;
// - decoding a parsed record never throws, and its made_by agrees with the
//   record checksum for GetPCSNEx;
// - only records the DLL writes are compared; such a record against itself
//   has no change and is the same machine; a change set's fields belong to
//   its components; two records that differ are never one machine at a risk
//   above the policy's threshold, and the count policy agrees with the
//   number of changed components;
// - each text is parsed as a fingerprint too: one that parses is the 31
//   digits given (from 31 bytes, or 32 ending in a zero byte), one that does
//   not names a position inside the text, or the length; two fingerprints
//   compare equal exactly when their digits are equal.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "api/identifier_records.h"
#include "server/compare.h"
#include "server/fingerprint.h"
#include "server/identifier.h"

namespace {

using namespace tavsn;
using namespace tavsn::server;

void Fail(const char* what) {
  std::fprintf(stderr, "identifier fuzzer: %s\n", what);
  std::abort();
}

ParsedIdentifier ParseCopy(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<char[]> copy(new char[size == 0 ? 1 : size]);
  if (size != 0) std::memcpy(copy.get(), data, size);
  const ParsedIdentifier parsed = ParseIdentifier(size == 0 ? nullptr : copy.get(), size);
  if (parsed.ok()) {
    char text[kIdentifierBufferSize];
    if (parsed.kind == IdentifierKind::kMac) {
      MacSnRecord record;
      std::memcpy(record.bytes, parsed.record, kRecordSize);
      MacSnText(record, text);
    } else {
      PcSnRecord record;
      std::memcpy(record.bytes, parsed.record, kRecordSize);
      PcSnText(record, text);
    }
    if (size != kIdentifierLength || std::memcmp(text, copy.get(), kIdentifierLength) != 0) {
      Fail("a parsed text does not encode back to itself");
    }
  } else if (parsed.status == ParseStatus::kBadLength) {
    if (parsed.detail != size || size == kIdentifierLength) Fail("a length error with the wrong length");
  } else if (parsed.detail >= size) {
    Fail("an error position outside the text");
  }
  if (!parsed.ok() && DescribeParseError(parsed).empty()) Fail("an error without words");
  return parsed;
}

void CheckDecode(const ParsedIdentifier& parsed) {
  if (!parsed.ok()) return;
  const DecodedIdentifier d = Decode(parsed);
  if (d.kind != parsed.kind) Fail("decode changed the kind");
  if (d.kind == IdentifierKind::kMachine && d.machine.made_by == MachineExport::kGetPcsnEx &&
      !d.machine.self_checksum_verifies) {
    Fail("GetPCSNEx without a verifying record checksum");
  }
}

// The evidence policy's promises: equal records are one machine, two
// records that differ are never called one machine at a risk above the
// threshold, and a different machine always rests on a change.
void CheckVerdict(const Comparison& c, bool equal_records) {
  if (c.same_machine != (c.verdict == MachineVerdict::kSame)) Fail("same_machine against the verdict");
  if (!(c.false_accept_probability >= 0.0 && c.false_accept_probability <= 1.0)) Fail("a risk outside 0 to 1");
  if (equal_records && c.verdict != MachineVerdict::kSame) Fail("equal records not called one machine");
  const bool above_threshold = c.false_accept_probability > ComparePolicy{}.threshold;
  if (!equal_records && c.verdict == MachineVerdict::kSame && above_threshold) {
    Fail("same machine after a change at a risk above the threshold");
  }
}

void CheckCompare(const ParsedIdentifier& a, const ParsedIdentifier& b) {
  if (!a.ok() || !b.ok()) return;
  const Comparison self = Compare(a, a);
  const bool dll_record = Decode(a).written_by_dll();
  if (self.status != (dll_record ? CompareStatus::kOk : CompareStatus::kNotWrittenByDll))
    Fail("judged a forged record");
  if (!dll_record) return;
  if (self.changed != 0 || self.verdict != MachineVerdict::kSame) Fail("a text differs from itself");
  CheckVerdict(self, true);
  const Comparison c = Compare(a, b);
  if (c.status != CompareStatus::kOk) return;
  unsigned seen = 0;
  for (const FieldChange& change : c.changes) seen |= change.component;
  if (seen != c.changed) Fail("changed components and changed fields disagree");
  CheckVerdict(c, std::memcmp(a.record, b.record, sizeof a.record) == 0);
  const bool count_same = Compare(a, b, CountPolicy()).same_machine;
  if (count_same != (ComponentCount(c.changed) <= 1)) Fail("the count policy decided otherwise");
}

ParsedFingerprint ParseFingerprintCopy(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<char[]> copy(new char[size == 0 ? 1 : size]);
  if (size != 0) std::memcpy(copy.get(), data, size);
  const ParsedFingerprint parsed = ParseFingerprint(size == 0 ? nullptr : copy.get(), size);
  if (parsed.ok()) {
    const bool whole_buffer = size == kFingerprintBufferBytes && copy[kFingerprintDigits] == '\0';
    if ((size != kFingerprintDigits && !whole_buffer) || parsed.text() != std::string(copy.get(), kFingerprintDigits))
      Fail("a parsed fingerprint is not the digits given");
  } else if (parsed.status == ParseStatus::kBadLength) {
    if (parsed.detail != size || size == kFingerprintDigits) Fail("a fingerprint length error with the wrong length");
  } else if (parsed.status != ParseStatus::kBadCharacter || parsed.detail >= size) {
    Fail("a fingerprint error position outside the text");
  }
  if (!parsed.ok() && DescribeFingerprintParseError(parsed).empty()) Fail("a fingerprint error without words");
  return parsed;
}

void CheckFingerprints(const ParsedFingerprint& a, const ParsedFingerprint& b) {
  const FingerprintComparison c = CompareFingerprints(a, b);
  if (!a.ok() || !b.ok()) {
    if (c.relation != FingerprintRelation::kNotComparable) Fail("compared a malformed fingerprint");
    return;
  }
  if (c.equal() != (a.text() == b.text()) || c.same_first_adapter != c.equal()) Fail("fingerprints compared wrongly");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto* newline = static_cast<const std::uint8_t*>(std::memchr(data, '\n', size));
  const std::size_t first_size = newline == nullptr ? size : static_cast<std::size_t>(newline - data);
  const ParsedIdentifier first = ParseCopy(data, first_size);
  CheckDecode(first);
  const ParsedFingerprint first_fingerprint = ParseFingerprintCopy(data, first_size);
  if (newline == nullptr) return 0;
  const ParsedIdentifier second = ParseCopy(newline + 1, size - first_size - 1);
  CheckDecode(second);
  CheckCompare(first, second);
  CheckFingerprints(first_fingerprint, ParseFingerprintCopy(newline + 1, size - first_size - 1));
  return 0;
}
