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
// - comparing two parsed texts of one kind reports no change for a text
//   against itself, and a change set whose fields belong to its components.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "api/identifier_records.h"
#include "server/compare.h"
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

void CheckCompare(const ParsedIdentifier& a, const ParsedIdentifier& b) {
  if (!a.ok() || !b.ok()) return;
  const Comparison self = Compare(a, a);
  if (self.status != CompareStatus::kOk || self.changed != 0 || !self.same_machine) Fail("a text differs from itself");
  const Comparison c = Compare(a, b);
  if (c.status != CompareStatus::kOk) return;
  unsigned seen = 0;
  for (const FieldChange& change : c.changes) seen |= change.component;
  if (seen != c.changed) Fail("changed components and changed fields disagree");
  if (c.same_machine != (ComponentCount(c.changed) <= 1)) Fail("the default policy decided otherwise");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto* newline = static_cast<const std::uint8_t*>(std::memchr(data, '\n', size));
  const std::size_t first_size = newline == nullptr ? size : static_cast<std::size_t>(newline - data);
  const ParsedIdentifier first = ParseCopy(data, first_size);
  CheckDecode(first);
  if (newline == nullptr) return 0;
  const ParsedIdentifier second = ParseCopy(newline + 1, size - first_size - 1);
  CheckDecode(second);
  CheckCompare(first, second);
  return 0;
}
