#include "server/identifier.h"

#include <bitset>
#include <cstring>

#include "server/display_text.h"
#include "sysinfo/smbios_info.h"

namespace tavsn::server {
namespace {

// A serial number shorter than this is never used: the UUID is taken instead.
constexpr std::uint16_t kShortestUsableSerial = kUsableSerialLength;
constexpr std::uint16_t kKnownFlags = PcSnRecord::kAllFlags;
static_assert(kLongestSerialNumber == SmbiosInfo::kTextCapacity - 1);

int UpperHexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool AllZero(const std::uint8_t (&bytes)[6]) {
  for (std::uint8_t b : bytes) {
    if (b != 0) return false;
  }
  return true;
}

// What the DLL's MAC sources can give: the adapters' list is distinct (any
// count, stored modulo 256, so 257 adapters store 1 beside two addresses);
// IP Helper and a UUID's node give one address, and only the node stores
// source 0.
void CheckMacRecord(const MacIdentifierFields& f, std::vector<const char*>& anomalies) {
  if (f.first_masked[0] != 0) {
    anomalies.push_back("the first address field does not begin with 00, as masking with its own first byte gives");
  }
  const bool one_address = AllZero(f.address_xor);
  if (f.source > MacSnRecord::kSourceAdapter) {
    anomalies.push_back("the source byte is neither 0 nor 1");
  } else if (f.source == MacSnRecord::kSourceUuid) {
    if (f.mac_count != 1) anomalies.push_back("a sequential UUID's node is one address, but the count is not 1");
    if (!one_address) {
      anomalies.push_back(
          "a sequential UUID's node is one address, but the second address field is not the first "
          "address again");
    }
    return;
  }
  if (f.mac_count != 1 && one_address) {
    anomalies.push_back("the two addresses are equal, but the DLL's list holds distinct addresses");
  }
}

void DecodeMac(const std::uint8_t* record, DecodedIdentifier& out) {
  MacIdentifierFields& f = out.mac;
  f.source = record[0];
  f.mac_count = record[1];
  std::memcpy(f.first_masked, record + 2, 6);
  std::memcpy(f.second_masked, record + 8, 6);
  // first_masked[1] = a[1] ^ a[0] and second_masked = b ^ a[1], so the
  // unknown byte a[0] cancels out of a ^ b.
  for (int i = 0; i < 6; ++i) {
    f.address_xor[i] = f.first_masked[i] ^ f.second_masked[i] ^ f.first_masked[1];
  }
  CheckMacRecord(f, out.anomalies);
}

MachineExport MadeBy(const MachineIdentifierFields& f) {
  if (f.source_flags & PcSnRecord::kFlagSystemSerial) return MachineExport::kGetPcsnSerial;
  if (f.source_flags & PcSnRecord::kFlagSystemUuid) return MachineExport::kGetPcsnUuid;
  if (f.system_length == kRecordSize && f.self_checksum_verifies) return MachineExport::kGetPcsnEx;
  if (f.system_length == 0 && f.system_checksum == 0) return MachineExport::kGetPcsnNoFirmware;
  return MachineExport::kUnknown;
}

// The checksums a text of a fixed shape can give. A record stating that
// shape's length with another checksum is not the DLL's.
using ChecksumSet = std::bitset<65536>;

// A processor details text with an empty brand string is 27 characters:
// "-%08d-%08d-%08d" of the processor type (2 bits), the display family (at
// most 15 + 255) and the display model (8 bits): 307 checksums in all.
// The 277,504 texts are written digit by digit rather than with snprintf,
// which took a tenth of a second at the first judgment of a process.
ChecksumSet ShortestDetailsChecksums() {
  ChecksumSet reachable;
  char text[kShortestProcessorDetails];
  const auto put = [&text](std::size_t at, int value) {  // "-" and 8 digits
    text[at] = '-';
    for (std::size_t i = 8; i > 0; --i, value /= 10) text[at + i] = static_cast<char>('0' + value % 10);
  };
  for (int type = 0; type < 4; ++type) {
    put(0, type);
    for (int family = 0; family <= 15 + 255; ++family) {
      put(9, family);
      for (int model = 0; model <= 255; ++model) {
        put(18, model);
        reachable.set(Checksum16(text, kShortestProcessorDetails));
      }
    }
  }
  return reachable;
}

// Of the fixed shapes only this one is narrow: the processor serial text
// and the firmware UUID text, hex digits in every free place, reach every
// checksum through the fold.
void CheckReachableChecksums(const MachineIdentifierFields& f, std::vector<const char*>& anomalies) {
  static const ChecksumSet shortest_details = ShortestDetailsChecksums();
  const bool serial = f.source_flags & PcSnRecord::kFlagProcessorSerial;
  const bool details = f.source_flags & PcSnRecord::kFlagProcessorDetails;
  if (details && !serial && f.processor_length == kShortestProcessorDetails &&
      !shortest_details[f.processor_checksum]) {
    anomalies.push_back("no processor details text of 27 characters (an empty brand string) has this checksum");
  }
}

void CheckMachineFlags(const MachineIdentifierFields& f, std::vector<const char*>& anomalies) {
  const std::uint16_t flags = f.source_flags;
  if ((flags & PcSnRecord::kFlagMacStep) == 0) anomalies.push_back("source flag 0x0001 (MAC step) is missing");
  if (flags & ~kKnownFlags) anomalies.push_back("source flags outside 0x003F are set");
  if ((flags & PcSnRecord::kFlagSystemSerial) && (flags & PcSnRecord::kFlagSystemUuid)) {
    anomalies.push_back("both firmware flags (serial number and UUID) are set");
  }
  const bool serial = flags & PcSnRecord::kFlagProcessorSerial;
  const bool details = flags & PcSnRecord::kFlagProcessorDetails;
  if (serial == details) anomalies.push_back("not exactly one processor flag (serial or details) is set");
  if (serial && !details && f.processor_length != kProcessorSerialLength) {
    anomalies.push_back("a processor serial text is 29 characters, not another length");
  }
  if (details && !serial && f.processor_length < kShortestProcessorDetails) {
    anomalies.push_back("a processor details text is at least 27 characters");
  }
  if (details && !serial && f.processor_length > kLongestProcessorDetails) {
    anomalies.push_back("a processor details text is at most 75 characters: a brand string of 48 and 27 more");
  }
}

void CheckMachineSystem(const MachineIdentifierFields& f, std::vector<const char*>& anomalies) {
  switch (f.made_by) {
    case MachineExport::kGetPcsnSerial:
      if (f.system_length < kShortestUsableSerial) {
        anomalies.push_back("a serial number shorter than 8 characters is never used");
      }
      if (f.system_length > kLongestSerialNumber) {
        anomalies.push_back("a serial number is read into a 1000-byte field: at most 999 characters");
      }
      break;
    case MachineExport::kGetPcsnUuid:
      if (f.system_length != kUuidTextLength) {
        anomalies.push_back("a firmware UUID text is 35 characters, not another length");
      }
      break;
    case MachineExport::kUnknown:
      anomalies.push_back(f.system_length == kRecordSize ? "the record checksum does not verify"
                                                         : "the system fields fit neither GetPCSN nor GetPCSNEx");
      break;
    default: break;
  }
}

void DecodeMachine(const std::uint8_t* record, DecodedIdentifier& out) {
  PcSnRecord r;
  std::memcpy(r.bytes, record, kRecordSize);
  MachineIdentifierFields& f = out.machine;
  f.source_flags = r.Field(PcSnRecord::kSourceFlagsOffset);
  f.mac_prefix[0] = r.bytes[PcSnRecord::kMacPrefixOffset];
  f.mac_prefix[1] = r.bytes[PcSnRecord::kMacPrefixOffset + 1];
  f.mac_checksum = r.Field(PcSnRecord::kMacChecksumOffset);
  f.system_length = r.Field(PcSnRecord::kSystemLengthOffset);
  f.system_checksum = r.Field(PcSnRecord::kSystemChecksumOffset);
  f.processor_length = r.Field(PcSnRecord::kProcessorLengthOffset);
  f.processor_checksum = r.Field(PcSnRecord::kProcessorChecksumOffset);
  // What GetPCSNEx would have stored over these same other fields.
  PcSnRecord rebuilt = r;
  rebuilt.SetSelfChecksum();
  f.expected_self_checksum = rebuilt.Field(PcSnRecord::kSystemChecksumOffset);
  f.self_checksum_verifies = f.expected_self_checksum == f.system_checksum;
  f.made_by = MadeBy(f);
  CheckMachineFlags(f, out.anomalies);
  CheckMachineSystem(f, out.anomalies);
  CheckReachableChecksums(f, out.anomalies);
}

}  // namespace

ParsedIdentifier ParseIdentifier(const char* text, std::size_t length) {
  ParsedIdentifier parsed;
  if (text == nullptr && length != 0) return parsed;
  if (length != kIdentifierLength) {
    parsed.status = ParseStatus::kBadLength;
    parsed.detail = length;
    return parsed;
  }
  const bool mac = std::memcmp(text, kMacSnTag, kTagLength) == 0;
  if (!mac && std::memcmp(text, kPcSnTag, kTagLength) != 0) {
    parsed.status = ParseStatus::kBadTag;
    std::size_t i = 0;
    while (i < kTagLength && text[i] == kMacSnTag[i]) ++i;  // the tags differ only in the last place
    parsed.detail = i;
    return parsed;
  }
  parsed.kind = mac ? IdentifierKind::kMac : IdentifierKind::kMachine;
  for (std::size_t i = 0; i < kRecordSize; ++i) {
    const std::size_t at = kTagLength + 2 * i;
    const int high = UpperHexValue(text[at]);
    const int low = UpperHexValue(text[at + 1]);
    if (high < 0 || low < 0) {
      parsed.status = ParseStatus::kBadCharacter;
      parsed.detail = high < 0 ? at : at + 1;
      return parsed;
    }
    parsed.record[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  parsed.status = ParseStatus::kOk;
  return parsed;
}

ParsedIdentifier ParseIdentifier(const std::string& text) { return ParseIdentifier(text.data(), text.size()); }

std::string DescribeParseError(const ParsedIdentifier& parsed) {
  switch (parsed.status) {
    case ParseStatus::kOk: return "well-formed";
    case ParseStatus::kNullText: return "no text (null pointer)";
    case ParseStatus::kBadLength:
      return "bad length: " + std::to_string(parsed.detail) + " characters, an identifier has 32";
    case ParseStatus::kBadTag:
      return "bad tag at position " + std::to_string(parsed.detail) + ": an identifier begins with TQ11 or TQ12";
    case ParseStatus::kBadCharacter:
      return "bad character at position " + std::to_string(parsed.detail) +
             ": expected an uppercase hexadecimal digit (0-9, A-F)";
  }
  return "unknown error";
}

std::string DescribeParseError(const ParsedIdentifier& parsed, const std::string& text) {
  switch (parsed.status) {
    case ParseStatus::kBadLength: {
      const std::size_t characters = CharacterCount(text);
      std::string words = "bad length: " + std::to_string(characters) + " characters";
      if (characters != text.size()) words += " (" + std::to_string(text.size()) + " bytes, not all ASCII)";
      return words + ", an identifier has 32 ASCII characters";
    }
    case ParseStatus::kBadTag:
      return "bad tag \"" + EscapedForDisplay(text.substr(0, kTagLength)) + "\" at character " +
             std::to_string(parsed.detail + 1) + " (counted from 1): an identifier begins with TQ11 or TQ12";
    case ParseStatus::kBadCharacter:
      return "bad character '" + CharacterAt(text, parsed.detail) + "' at character " +
             std::to_string(CharacterIndex(text, parsed.detail) + 1) +
             " (counted from 1): expected an uppercase hexadecimal digit (0-9, A-F)";
    default: return DescribeParseError(parsed);
  }
}

DecodedIdentifier Decode(const ParsedIdentifier& parsed) {
  DecodedIdentifier out;
  out.kind = parsed.kind;
  if (!parsed.ok()) return out;
  if (parsed.kind == IdentifierKind::kMac) {
    DecodeMac(parsed.record, out);
  } else {
    DecodeMachine(parsed.record, out);
  }
  return out;
}

bool HasSelfChecksumShape(const MachineIdentifierFields& fields) {
  constexpr std::uint16_t kFirmwareFlags = PcSnRecord::kFlagSystemSerial | PcSnRecord::kFlagSystemUuid;
  return (fields.source_flags & kFirmwareFlags) == 0 && fields.system_length == kRecordSize;
}

const char* SourceFlagWords(std::uint16_t bit) {
  switch (bit) {
    case PcSnRecord::kFlagMacStep: return "MAC step ran";
    case PcSnRecord::kFlagMacFromUuid: return "MAC from a sequential UUID's node";
    case PcSnRecord::kFlagSystemSerial: return "firmware serial number";
    case PcSnRecord::kFlagSystemUuid: return "firmware UUID";
    case PcSnRecord::kFlagProcessorSerial: return "processor serial";
    case PcSnRecord::kFlagProcessorDetails: return "processor details";
  }
  return nullptr;
}

std::vector<std::string> DescribeSourceFlags(std::uint16_t flags) {
  std::vector<std::string> words;
  for (std::uint16_t bit = 1; bit & kKnownFlags; bit = static_cast<std::uint16_t>(bit << 1)) {
    if (flags & bit) words.emplace_back(SourceFlagWords(bit));
  }
  if (flags & ~kKnownFlags) words.emplace_back("unknown bits");
  return words;
}

const char* MachineExportName(MachineExport made_by) {
  switch (made_by) {
    case MachineExport::kGetPcsnSerial: return "GetPCSN (firmware serial number)";
    case MachineExport::kGetPcsnUuid: return "GetPCSN (firmware UUID)";
    case MachineExport::kGetPcsnNoFirmware: return "GetPCSN (firmware not read)";
    case MachineExport::kGetPcsnEx: return "GetPCSNEx";
    case MachineExport::kUnknown: break;
  }
  return "unknown";
}

std::string Hex16Text(std::uint16_t value) {
  const std::uint8_t big_endian[2] = {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
  return "0x" + MacBytesText(big_endian, 2);
}

std::string MacBytesText(const std::uint8_t* bytes, std::size_t count) {
  std::string text(2 * count + 1, '\0');
  ToHexText(bytes, count, text.data(), 2 * count);
  text.resize(2 * count);
  return text;
}

}  // namespace tavsn::server
