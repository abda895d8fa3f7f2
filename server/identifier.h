#pragma once
// Reading identifier texts on a licence server: parse and validate a text
// that a host sent, and decode its record into the fields the DLL filled.
// Portable: nothing here calls the operating system.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "api/identifier_records.h"

namespace tavsn::server {

enum class IdentifierKind { kMac, kMachine };

enum class ParseStatus {
  kOk,
  kNullText,      // a null pointer with a non-zero length
  kBadLength,     // not exactly 32 characters
  kBadTag,        // neither "TQ11" nor "TQ12"
  kBadCharacter,  // a character after the tag that is not 0-9 or A-F
};

struct ParsedIdentifier {
  ParseStatus status = ParseStatus::kNullText;
  IdentifierKind kind = IdentifierKind::kMac;
  // kBadLength: the length given. kBadTag, kBadCharacter: the position (0-based)
  // of the first character that is wrong.
  std::size_t detail = 0;
  std::uint8_t record[kRecordSize] = {};

  bool ok() const { return status == ParseStatus::kOk; }
};

// Reads at most `length` bytes of `text`; the text need not be terminated.
ParsedIdentifier ParseIdentifier(const char* text, std::size_t length);
ParsedIdentifier ParseIdentifier(const std::string& text);

// One line a person can act on, e.g. "bad character at position 7"
// (0-based byte positions, as ParsedIdentifier::detail).
std::string DescribeParseError(const ParsedIdentifier& parsed);
// The same for the text that was parsed, counted in characters from 1 and
// with the wrong characters shown (escaped), e.g. "bad character 'g' at
// character 8 (counted from 1): expected an uppercase hexadecimal digit".
std::string DescribeParseError(const ParsedIdentifier& parsed, const std::string& text);

// The MAC identifier. Each address is masked with a byte of the first
// address, so neither address comes back whole: given the one unknown byte
// k = first address byte 0, first = first_masked XOR k and second =
// second_masked XOR first_masked[1] XOR k. What does come back exactly is
// the XOR of the two addresses, byte by byte (all zero for a single one).
struct MacIdentifierFields {
  std::uint8_t source = 0;     // 1: adapter driver or IP Helper; 0: a UUID's node
  std::uint8_t mac_count = 0;  // the list's length, low 8 bits
  std::uint8_t first_masked[6] = {};
  std::uint8_t second_masked[6] = {};
  std::uint8_t address_xor[6] = {};  // first address XOR second address
};

enum class MachineExport {
  kGetPcsnSerial,      // GetPCSN, firmware serial number
  kGetPcsnUuid,        // GetPCSN, firmware UUID text
  kGetPcsnNoFirmware,  // GetPCSN whose firmware read failed: zero system fields
  kGetPcsnEx,          // GetPCSNEx: system length 14 and a record checksum that verifies
  kUnknown,            // fits neither: damaged, or not made by the DLL
};

struct MachineIdentifierFields {
  std::uint16_t source_flags = 0;
  std::uint8_t mac_prefix[2] = {};
  std::uint16_t mac_checksum = 0;
  std::uint16_t system_length = 0;
  std::uint16_t system_checksum = 0;
  std::uint16_t processor_length = 0;
  std::uint16_t processor_checksum = 0;
  MachineExport made_by = MachineExport::kUnknown;
  // The record checksum GetPCSNEx would have stored for these bytes, and
  // whether system_checksum equals it.
  std::uint16_t expected_self_checksum = 0;
  bool self_checksum_verifies = false;
};

struct DecodedIdentifier {
  IdentifierKind kind = IdentifierKind::kMac;
  MacIdentifierFields mac;          // kind kMac
  MachineIdentifierFields machine;  // kind kMachine
  // What the DLL never writes: each entry is one static sentence. Empty for
  // every identifier the DLL can produce; a record with any is not the DLL's
  // and is never judged.
  std::vector<const char*> anomalies;

  bool written_by_dll() const { return anomalies.empty(); }
};

DecodedIdentifier Decode(const ParsedIdentifier& parsed);

// GetPCSNEx's record by its shape alone (no firmware flag, system length 14),
// whether or not its checksum verifies: a damaged one is still of that kind.
bool HasSelfChecksumShape(const MachineIdentifierFields& fields);

// The set source flags in words, in bit order ("MAC step ran", ...), and
// "unknown bits" for any outside them.
std::vector<std::string> DescribeSourceFlags(std::uint16_t flags);
// The words of one flag bit; null for a bit the DLL does not define.
const char* SourceFlagWords(std::uint16_t bit);

// The longest texts the DLL measures: a processor details text is the brand
// string (at most 48 characters) and 27 more; a firmware serial number is
// read into a 1000-byte field.
constexpr std::uint16_t kShortestProcessorDetails = 27;
constexpr std::uint16_t kLongestProcessorDetails = 48 + kShortestProcessorDetails;
constexpr std::uint16_t kProcessorSerialLength = 29;
constexpr std::uint16_t kUuidTextLength = 35;
constexpr std::uint16_t kLongestSerialNumber = 999;
const char* MachineExportName(MachineExport made_by);

// Two uppercase hex digits a byte, e.g. 12 for an address.
std::string MacBytesText(const std::uint8_t* bytes, std::size_t count);
// "0x" and four uppercase hex digits.
std::string Hex16Text(std::uint16_t value);

}  // namespace tavsn::server
