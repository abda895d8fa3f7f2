#include "server/match.h"

#include <algorithm>
#include <cstring>

#include "server/evidence.h"
#include "sysinfo/smbios_info.h"

namespace tavsn::server {
namespace {

bool SameBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t offset, std::size_t count) {
  return std::memcmp(a + offset, b + offset, count) == 0;
}

void ScanMac(const std::string& normalized, std::uint8_t (&mac)[6]) {
  std::memset(mac, 0, sizeof mac);
  ScanMacBytes(normalized.c_str(), mac);
}

// The length and checksum fields a text gives, against the identifier's.
Verdict MatchTextFields(const ParsedIdentifier& parsed, std::size_t length_offset, const std::string& text) {
  PcSnRecord expected;
  expected.SetTextFields(length_offset, text.c_str());
  return SameBytes(expected.bytes, parsed.record, length_offset, 4) ? Verdict::kMatch : Verdict::kMismatch;
}

Verdict MatchSerial(const ParsedIdentifier& parsed, MachineExport made_by, const std::string& serial,
                    std::string& note) {
  // The DLL reads at most this many characters of a firmware string.
  const std::string seen = serial.substr(0, SmbiosInfo::kTextCapacity - 1);
  const bool usable = SerialNumberUsable(seen);
  if (made_by == MachineExport::kGetPcsnSerial) {
    if (usable) return MatchTextFields(parsed, PcSnRecord::kSystemLengthOffset, seen);
    note = "the DLL would not use this serial number (shorter than 8 characters or beginning with a space)";
    return Verdict::kMismatch;
  }
  if (made_by == MachineExport::kGetPcsnUuid && usable) {
    note = "the DLL would have used this serial number, but the identifier carries the firmware UUID";
    return Verdict::kMismatch;
  }
  return Verdict::kNotCheckable;
}

Verdict MatchUuid(const ParsedIdentifier& parsed, MachineExport made_by, const std::string& uuid_text,
                  std::string& note) {
  const std::optional<std::string> normalized = NormalizeUuidText(uuid_text);
  if (!normalized) {
    note =
        "a UUID text as the DLL writes it is four groups of 8 hex digits joined by '-', e.g. "
        "33221100-77665544-bbaa9988-ffeeddcc for the table bytes 00 11 22 ... FF, not the usual "
        "8-4-4-4-12 form";
    return Verdict::kBadFact;
  }
  if (made_by != MachineExport::kGetPcsnUuid) return Verdict::kNotCheckable;
  return MatchTextFields(parsed, PcSnRecord::kSystemLengthOffset, *normalized);
}

}  // namespace

std::optional<std::string> NormalizeMacText(const std::string& text) {
  std::string digits;
  std::size_t since_separator = 0;
  char separator = 0;
  for (char c : text) {
    if (c == '-' || c == ':') {
      // Separators only between pairs, and one kind throughout.
      if (since_separator != 2 || (separator != 0 && separator != c)) return std::nullopt;
      separator = c;
      since_separator = 0;
      continue;
    }
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex || digits.size() == 12) return std::nullopt;
    digits.push_back(static_cast<char>(c >= 'a' ? c - 'a' + 'A' : c));
    ++since_separator;
  }
  if (digits.size() != 12) return std::nullopt;
  // With separators, every pair is separated.
  if (separator != 0 && (since_separator != 2 || text.size() != 17)) return std::nullopt;
  return digits;
}

const char* VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kNotGiven: return "not given";
    case Verdict::kMatch: return "match";
    case Verdict::kMismatch: return "mismatch";
    case Verdict::kNotCheckable: return "not checkable";
    case Verdict::kBadFact: return "bad fact";
    case Verdict::kNotWrittenByDll: return "not written by the DLL";
    case Verdict::kWeakMatch: return "weak match";
  }
  return "unknown";
}

std::optional<std::vector<std::string>> DllMacList(const std::vector<std::string>& macs, MacListOrder order,
                                                   std::string* malformed) {
  std::vector<std::string> list;
  for (const std::string& mac : macs) {
    std::optional<std::string> normalized = NormalizeMacText(mac);
    if (!normalized) {
      if (malformed) *malformed = mac;
      return std::nullopt;
    }
    list.push_back(*normalized);
  }
  if (order == MacListOrder::kAsGiven) {
    if (list.size() > 1) list.resize(1);
    return list;
  }
  // The DLL keys its list by the address's value and leaves out value 0.
  list.erase(std::remove(list.begin(), list.end(), std::string(12, '0')), list.end());
  std::sort(list.begin(), list.end());
  list.erase(std::unique(list.begin(), list.end()), list.end());
  return list;
}

MacMatch MatchMacIdentifier(const ParsedIdentifier& parsed, const MacFacts& facts) {
  MacMatch result;
  if (!parsed.ok() || parsed.kind != IdentifierKind::kMac) {
    result.verdict = Verdict::kNotCheckable;
    return result;
  }
  if (!Decode(parsed).written_by_dll()) {
    result.verdict = Verdict::kNotWrittenByDll;
    return result;
  }
  if (facts.macs.empty()) return result;
  const std::optional<std::vector<std::string>> dll_list = DllMacList(facts.macs, facts.order);
  if (!dll_list) {
    result.verdict = Verdict::kBadFact;
    return result;
  }
  const std::vector<std::string>& list = *dll_list;
  if (list.empty()) {
    // Only zero addresses: the adapters' list would be empty and the DLL
    // would have taken a fallback, which these facts do not describe.
    result.verdict = Verdict::kMismatch;
    return result;
  }
  std::uint8_t first[6], second[6];
  ScanMac(list[0], first);
  ScanMac(list.size() > 1 ? list[1] : list[0], second);
  const std::uint8_t source = facts.source.value_or(parsed.record[0]);
  const MacSnRecord expected = MacSnRecord::Build(source, static_cast<int>(list.size()), first, second);
  char text[kIdentifierBufferSize];
  MacSnText(expected, text);
  result.expected_text = text;
  result.source_match = SameBytes(expected.bytes, parsed.record, 0, 1);
  result.count_match = SameBytes(expected.bytes, parsed.record, 1, 1);
  result.addresses_match = SameBytes(expected.bytes, parsed.record, 2, 12);
  const bool all = result.source_match && result.count_match && result.addresses_match;
  result.verdict = all ? Verdict::kMatch : Verdict::kMismatch;
  return result;
}

Verdict MachineMatch::Overall() const {
  const Verdict all[] = {mac, processor, serial_number, uuid_text};
  const auto any = [&](Verdict v) { return std::find(std::begin(all), std::end(all), v) != std::end(all); };
  if (any(Verdict::kNotWrittenByDll)) return Verdict::kNotWrittenByDll;
  // A malformed fact is the caller's error, whatever the others say.
  if (any(Verdict::kBadFact)) return Verdict::kBadFact;
  if (any(Verdict::kMismatch)) return Verdict::kMismatch;
  if (any(Verdict::kMatch)) return strong_match ? Verdict::kMatch : Verdict::kWeakMatch;
  if (any(Verdict::kNotCheckable)) return Verdict::kNotCheckable;
  return Verdict::kNotGiven;
}

MachineMatch MatchMachineIdentifier(const ParsedIdentifier& parsed, const MachineFacts& facts) {
  MachineMatch result;
  if (!parsed.ok() || parsed.kind != IdentifierKind::kMachine) {
    result.mac = result.processor = result.serial_number = result.uuid_text = Verdict::kNotCheckable;
    return result;
  }
  const DecodedIdentifier decoded = Decode(parsed);
  if (!decoded.written_by_dll()) {
    result.mac = result.processor = result.serial_number = result.uuid_text = Verdict::kNotWrittenByDll;
    return result;
  }
  const MachineExport made_by = decoded.machine.made_by;
  if (facts.mac) {
    std::optional<std::string> normalized = NormalizeMacText(*facts.mac);
    if (!normalized) {
      result.mac = Verdict::kBadFact;
    } else {
      std::uint8_t mac[6];
      ScanMac(*normalized, mac);
      PcSnRecord expected;
      expected.SetMac(mac);
      result.mac = SameBytes(expected.bytes, parsed.record, PcSnRecord::kMacPrefixOffset, 4) ? Verdict::kMatch
                                                                                             : Verdict::kMismatch;
    }
  }
  if (facts.processor_text) {
    result.processor = MatchTextFields(parsed, PcSnRecord::kProcessorLengthOffset, *facts.processor_text);
  }
  if (facts.serial_number) {
    result.serial_number = MatchSerial(parsed, made_by, *facts.serial_number, result.note);
  }
  if (facts.uuid_text) result.uuid_text = MatchUuid(parsed, made_by, *facts.uuid_text, result.note);
  const bool adapter_mac = (decoded.machine.source_flags & PcSnRecord::kFlagMacFromUuid) == 0;
  result.strong_match = (result.mac == Verdict::kMatch && adapter_mac) ||
                        (result.serial_number == Verdict::kMatch && !IsPlaceholderFirmwareText(*facts.serial_number)) ||
                        (result.uuid_text == Verdict::kMatch && !IsPlaceholderFirmwareText(*facts.uuid_text));
  return result;
}

std::optional<std::string> NormalizeUuidText(const std::string& text) {
  if (text.size() != kUuidTextLength) return std::nullopt;
  std::string lower = text;
  for (std::size_t i = 0; i < lower.size(); ++i) {
    char& c = lower[i];
    if (i % 9 == 8) {
      if (c != '-') return std::nullopt;
      continue;
    }
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
  }
  return lower;
}

bool SerialNumberUsable(const std::string& serial_number) {
  // The firmware field is zero-terminated: a zero byte ends the text there too.
  return SerialNumberTextUsable(serial_number.c_str());
}

}  // namespace tavsn::server
