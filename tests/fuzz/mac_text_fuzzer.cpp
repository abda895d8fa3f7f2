// libFuzzer target for the MAC text readers and writer: ScanMacBytes of the
// identifier records, and CGetMac's ParseMac and FormatMac.
//
// Input: one control byte, then the text. The control byte is the value the
// six bytes hold before ScanMacBytes runs (callers zero them; any other value
// shows which bytes it left alone).
//
// Checked beyond what the sanitizers see:
// - the text, copied into an exact-size heap block with its terminator, is
//   read as the plain rule of six fields of one or two hex digits says:
//   ScanMacBytes stores the fields that convert and keeps the other bytes,
//   ParseMac gives the six fields as a 48-bit number, or 0 when one is
//   missing;
// - both readers look at no more than the 12 characters of a MAC text:
//   given the first 12 bytes alone, unterminated, in an exact-size block,
//   they read nothing past it (AddressSanitizer) and give the same results;
// - FormatMac of six input bytes writes 12 uppercase hex digits and a zero
//   into exactly 13 bytes, and both readers give the six bytes back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "api/identifier_records.h"
#include "netadapter/cgetmac_peer.h"

namespace {

using tavsn::CGetMacTestPeer;
constexpr std::size_t kMacDigits = 12;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

int Digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

struct Fields {
  int count = 0;  // fields that converted, from the first
  std::uint8_t bytes[6] = {};
};

// The plain rule, reading at most `length` characters (the text ends
// earlier at a zero, which is no digit).
Fields PlainScan(const char* text, std::size_t length) {
  Fields fields;
  std::size_t position = 0;
  for (; fields.count < 6; ++fields.count) {
    int digits = 0;
    unsigned value = 0;
    while (digits < 2 && position < length && Digit(text[position]) >= 0) {
      value = value * 16 + static_cast<unsigned>(Digit(text[position]));
      ++digits;
      ++position;
    }
    if (digits == 0) break;
    fields.bytes[fields.count] = static_cast<std::uint8_t>(value);
  }
  return fields;
}

std::uint64_t ValueOf(const std::uint8_t (&bytes)[6]) {
  std::uint64_t value = 0;
  for (std::uint8_t byte : bytes) value = (value << 8) | byte;
  return value;
}

// Both readers on `text` against the plain rule on its first `length`
// characters.
void CheckReaders(const char* text, std::size_t length, std::uint8_t fill) {
  const Fields expected = PlainScan(text, length);

  std::uint8_t scanned[6];
  std::memset(scanned, fill, sizeof scanned);
  tavsn::ScanMacBytes(text, scanned);
  for (int i = 0; i < 6; ++i) {
    const std::uint8_t want = i < expected.count ? expected.bytes[i] : fill;
    Require(scanned[i] == want, "ScanMacBytes differs from the plain rule");
  }

  const std::uint64_t parsed = CGetMacTestPeer::ParseMac(text);
  Require(parsed == (expected.count == 6 ? ValueOf(expected.bytes) : 0), "ParseMac differs from the plain rule");

  // On a text whose six fields all convert, the two readers agree byte for
  // byte.
  if (expected.count == 6) {
    std::uint8_t zeroed[6] = {};
    tavsn::ScanMacBytes(text, zeroed);
    Require(ValueOf(zeroed) == parsed, "ScanMacBytes and ParseMac disagree");
  }
}

void CheckFormat(const std::uint8_t (&address)[6]) {
  // Exactly 13 bytes: a write past the zero is a heap overflow.
  char* text = static_cast<char*>(std::malloc(kMacDigits + 1));
  Require(CGetMacTestPeer::FormatMac(address, text) == text, "FormatMac returns another pointer");
  static constexpr char kUpperDigits[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < kMacDigits; ++i) {
    const std::uint8_t nibble = (i % 2 == 0) ? address[i / 2] >> 4 : address[i / 2] & 0x0F;
    Require(text[i] == kUpperDigits[nibble], "FormatMac digit wrong");
  }
  Require(text[kMacDigits] == '\0', "FormatMac text not terminated at 12");

  Require(CGetMacTestPeer::ParseMac(text) == ValueOf(address), "ParseMac(FormatMac) round trip");
  std::uint8_t back[6] = {};
  tavsn::ScanMacBytes(text, back);
  Require(std::memcmp(back, address, sizeof back) == 0, "ScanMacBytes(FormatMac) round trip");
  std::free(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t fill = data[0];
  const char* input = reinterpret_cast<const char*>(data + 1);
  const std::size_t length = size - 1;

  // The whole text, terminated, in a block of its exact size.
  char* terminated = static_cast<char*>(std::malloc(length + 1));
  std::memcpy(terminated, input, length);
  terminated[length] = '\0';
  CheckReaders(terminated, length + 1, fill);
  std::free(terminated);

  // The first 12 characters with no terminator after them.
  if (length >= kMacDigits) {
    char* bare = static_cast<char*>(std::malloc(kMacDigits));
    std::memcpy(bare, input, kMacDigits);
    CheckReaders(bare, kMacDigits, fill);
    std::free(bare);
  }

  std::uint8_t address[6] = {};
  std::memcpy(address, input, length < sizeof address ? length : sizeof address);
  CheckFormat(address);
  return 0;
}
