#include "api/identifier_records.h"

#include <cstring>

namespace tavsn {
namespace {

constexpr std::size_t kDigitCapacity = 28;

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void IdentifierText(const char* tag, const std::uint8_t* record, char (&text)[kIdentifierBufferSize]) {
  std::memset(text, 0, sizeof text);
  std::memcpy(text, tag, kTagLength);
  ToHexText(record, kRecordSize, text + kTagLength, kDigitCapacity);
}

}  // namespace

std::uint16_t Checksum16(const void* bytes, std::size_t length) {
  const auto* data = static_cast<const std::uint8_t*>(bytes);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < length; i += 2) {
    sum += static_cast<std::uint32_t>(data[i]) + 256u * data[i + 1];
  }
  auto folded = static_cast<std::uint16_t>((sum >> 16) + (sum & 0xFFFFu));
  return static_cast<std::uint16_t>(0xFFFFu - folded);
}

void ToHexText(const std::uint8_t* bytes, std::size_t count, char* destination, std::size_t capacity) {
  if (capacity == 0 || capacity / 2 < count) return;
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < count; ++i) {
    destination[2 * i] = kDigits[bytes[i] >> 4];
    destination[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  destination[2 * count] = '\0';
}

void ScanMacBytes(const char* mac_text, std::uint8_t (&mac)[6]) {
  const char* cursor = mac_text;
  for (std::uint8_t& byte : mac) {
    int high = HexDigitValue(cursor[0]);
    if (high < 0) return;  // the scan stops; this byte and the rest keep their values
    int low = HexDigitValue(cursor[1]);
    if (low < 0) {
      byte = static_cast<std::uint8_t>(high);
      return;
    }
    byte = static_cast<std::uint8_t>(high * 16 + low);
    cursor += 2;
  }
}

MacSnRecord MacSnRecord::Build(std::uint8_t source, int count, const std::uint8_t (&first)[6],
                               const std::uint8_t (&second)[6]) {
  const std::uint8_t(&second_mac)[6] = count > 1 ? second : first;
  // Both keys are taken from the first address before anything is masked.
  const std::uint8_t key1 = first[0];
  const std::uint8_t key2 = first[1];
  MacSnRecord record;
  record.bytes[0] = source;
  record.bytes[1] = static_cast<std::uint8_t>(static_cast<unsigned>(count) & 0xFFu);
  for (int i = 0; i < 6; ++i) {
    record.bytes[2 + i] = first[i] ^ key1;
    record.bytes[8 + i] = second_mac[i] ^ key2;
  }
  return record;
}

void PcSnRecord::SetFlag(std::uint16_t flag) {
  SetField(kSourceFlagsOffset, static_cast<std::uint16_t>(Field(kSourceFlagsOffset) | flag));
}

std::uint16_t PcSnRecord::Field(std::size_t offset) const {
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

void PcSnRecord::SetField(std::size_t offset, std::uint16_t value) {
  bytes[offset] = static_cast<std::uint8_t>(value & 0xFF);
  bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void PcSnRecord::SetMac(const std::uint8_t (&mac)[6]) {
  // The prefix is two single bytes in address order, not a number.
  bytes[kMacPrefixOffset] = mac[0];
  bytes[kMacPrefixOffset + 1] = mac[1];
  SetField(kMacChecksumOffset, Checksum16(mac, sizeof mac));
}

void PcSnRecord::SetTextFields(std::size_t length_offset, const char* text) {
  std::size_t length = std::strlen(text);
  SetField(length_offset, static_cast<std::uint16_t>(length));
  SetField(length_offset + 2, Checksum16(text, length));
}

void PcSnRecord::SetSelfChecksum() {
  SetField(kSystemLengthOffset, kRecordSize);
  SetField(kSystemChecksumOffset, 0);
  SetField(kSystemChecksumOffset, Checksum16(bytes, sizeof bytes));
}

void MacSnText(const MacSnRecord& record, char (&text)[kIdentifierBufferSize]) {
  IdentifierText(kMacSnTag, record.bytes, text);
}

void PcSnText(const PcSnRecord& record, char (&text)[kIdentifierBufferSize]) {
  IdentifierText(kPcSnTag, record.bytes, text);
}

}  // namespace tavsn
