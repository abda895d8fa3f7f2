#pragma once
// The 14-byte identifier records and their 32-character texts. Callers store
// these texts, so every byte position, bit and the checksum's arithmetic are
// fixed for good.

#include <cstddef>
#include <cstdint>

namespace tavsn {

constexpr std::size_t kRecordSize = 14;
constexpr std::size_t kIdentifierLength = 32;      // tag + 28 digits, no zero
constexpr std::size_t kIdentifierBufferSize = 33;  // with the terminating zero
constexpr char kMacSnTag[] = "TQ11";               // GetMacSN
constexpr char kPcSnTag[] = "TQ12";                // GetPCSN, GetPCSNEx
constexpr std::size_t kTagLength = 4;

// 16-bit one's-complement style checksum over little-endian words. An odd
// last byte is not included, and the single fold drops its own carry.
std::uint16_t Checksum16(const void* bytes, std::size_t length);

// Writes `count` bytes as uppercase hex digit pairs plus a terminating zero,
// but only when `capacity` (the digits, the zero not counted) has room for
// all of them; otherwise writes nothing. `destination` holds capacity + 1.
void ToHexText(const std::uint8_t* bytes, std::size_t count, char* destination, std::size_t capacity);

// Reads six two-digit hex numbers from the start of a MAC text. A byte whose
// digits cannot be read keeps its previous value.
void ScanMacBytes(const char* mac_text, std::uint8_t (&mac)[6]);

// The MAC identifier's record: the source, the count and two MACs masked
// with bytes 0 and 1 of the first address.
struct MacSnRecord {
  std::uint8_t bytes[kRecordSize] = {};

  static constexpr std::uint8_t kSourceAdapter = 1;  // GetPhysicalMac or GetMacFromPCI
  static constexpr std::uint8_t kSourceUuid = 0;     // GetUUIDMac

  // `second` is ignored when count is at most 1: the first address is used
  // twice then.
  static MacSnRecord Build(std::uint8_t source, int count, const std::uint8_t (&first)[6],
                           const std::uint8_t (&second)[6]);
};

// The machine identifier's record, little-endian 16-bit fields.
struct PcSnRecord {
  std::uint8_t bytes[kRecordSize] = {};

  static constexpr std::uint16_t kFlagMacStep = 0x0001;
  static constexpr std::uint16_t kFlagMacFromUuid = 0x0002;
  static constexpr std::uint16_t kFlagSystemSerial = 0x0004;
  static constexpr std::uint16_t kFlagSystemUuid = 0x0008;
  static constexpr std::uint16_t kFlagProcessorSerial = 0x0010;
  static constexpr std::uint16_t kFlagProcessorDetails = 0x0020;
  static constexpr std::uint16_t kAllFlags = kFlagMacStep | kFlagMacFromUuid | kFlagSystemSerial | kFlagSystemUuid |
                                             kFlagProcessorSerial | kFlagProcessorDetails;

  static constexpr std::size_t kSourceFlagsOffset = 0;
  static constexpr std::size_t kMacPrefixOffset = 2;
  static constexpr std::size_t kMacChecksumOffset = 4;
  static constexpr std::size_t kSystemLengthOffset = 6;
  static constexpr std::size_t kSystemChecksumOffset = 8;
  static constexpr std::size_t kProcessorLengthOffset = 10;
  static constexpr std::size_t kProcessorChecksumOffset = 12;

  void SetFlag(std::uint16_t flag);
  std::uint16_t Field(std::size_t offset) const;
  void SetField(std::size_t offset, std::uint16_t value);

  void SetMac(const std::uint8_t (&mac)[6]);
  // Length and checksum of a text, at the length field's offset and after it.
  void SetTextFields(std::size_t length_offset, const char* text);
  // The record checksum that stands in for the system fields.
  void SetSelfChecksum();
};

// "TQ11"/"TQ12" followed by the record's 28 hex digits, zero-terminated.
void MacSnText(const MacSnRecord& record, char (&text)[kIdentifierBufferSize]);
void PcSnText(const PcSnRecord& record, char (&text)[kIdentifierBufferSize]);

}  // namespace tavsn
