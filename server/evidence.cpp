#include "server/evidence.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "sysinfo/smbios_info.h"

namespace tavsn::server {

const PlaceholderSerial kPlaceholderSerials[] = {
    {"To be filled by O.E.M."},
    {"To Be Filled By O.E.M."},
    {"Default string"},
    {"System Serial Number"},
    {"Chassis Serial Number"},
    {"Not Specified"},
    {"Not Applicable"},
    {"0123456789"},
    {"1234567890"},
    {"123456789"},
    {"None"},
    {"OEM"},
    {"O.E.M."},
    {"Default"},
    {"INVALID"},
};
const std::size_t kPlaceholderSerialCount = std::size(kPlaceholderSerials);

const PlaceholderUuid kPlaceholderUuids[] = {
    {{}, "00000000-0000-0000-0000-000000000000"},
    {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
     "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF"},
    {{0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00, 0x06, 0x00, 0x07, 0x00, 0x08, 0x00, 0x09},
     "03000200-0400-0500-0006-000700080009"},
};
const std::size_t kPlaceholderUuidCount = std::size(kPlaceholderUuids);

namespace {

// Placeholder runs are recognised up to this length in a record; longer
// ones would need a run of that very length, and no board ships one.
constexpr std::size_t kLongestRecognisedRun = 64;

std::string Trimmed(const std::string& text) {
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  const auto begin = std::find_if_not(text.begin(), text.end(), blank);
  const auto end = std::find_if_not(text.rbegin(), text.rend(), blank).base();
  return begin < end ? std::string(begin, end) : std::string();
}

bool SameIgnoringCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// A text whose characters, '-' aside, are all `digit` (either case).
bool RunOf(const std::string& text, char digit) {
  bool any = false;
  for (char c : text) {
    if (c == '-') continue;
    if (std::tolower(static_cast<unsigned char>(c)) != digit) return false;
    any = true;
  }
  return any;
}

bool FieldsHold(const MachineIdentifierFields& f, const std::string& text) {
  return f.system_length == text.size() && f.system_checksum == Checksum16(text.data(), text.size());
}

ComponentEvidence MacEvidence(bool from_uuid_node, bool machine_record) {
  if (from_uuid_node) {
    return {kComponentMac, Strength::kWeak,
            "the address is a sequential UUID's node: random on a machine without adapters"};
  }
  return {kComponentMac, Strength::kStrong,
          machine_record ? "the first address, from an adapter's driver or the IP Helper list"
                         : "addresses from the adapters' drivers or the IP Helper list"};
}

ComponentEvidence FirmwareEvidence(const MachineIdentifierFields& f) {
  switch (f.made_by) {
    case MachineExport::kGetPcsnEx:
      return {kComponentFirmware, Strength::kAbsent, "GetPCSNEx records carry no firmware text"};
    case MachineExport::kGetPcsnNoFirmware:
      return {kComponentFirmware, Strength::kAbsent, "the DLL could not read the firmware: zero system fields"};
    default: break;
  }
  const bool serial = f.made_by == MachineExport::kGetPcsnSerial;
  if (!RecognisedPlaceholder(f).empty()) {
    return {kComponentFirmware, Strength::kWeak,
            serial ? "the firmware serial number is a placeholder that many boards ship"
                   : "the firmware UUID is a placeholder that many boards ship"};
  }
  return {kComponentFirmware, Strength::kStrong,
          serial ? "a firmware serial number that is no known placeholder"
                 : "a firmware UUID that is no known placeholder"};
}

constexpr ComponentEvidence kMacSourceEvidence = {kComponentMacSource, Strength::kWeak,
                                                  "which source gave the address tells no machine from another"};

}  // namespace

const char* ComponentName(Component component) {
  switch (component) {
    case kComponentMac: return "mac";
    case kComponentProcessor: return "processor";
    case kComponentFirmware: return "firmware";
    case kComponentMacSource: return "mac_source";
  }
  return "unknown";
}

const char* StrengthName(Strength strength) {
  switch (strength) {
    case Strength::kAbsent: return "absent";
    case Strength::kWeak: return "weak";
    case Strength::kStrong: return "strong";
  }
  return "unknown";
}

std::string PlaceholderUuidText(const PlaceholderUuid& uuid) {
  char text[kUuidTextCapacity];
  FormatUuidText(uuid.bytes, text);
  return text;
}

bool IsPlaceholderFirmwareText(const std::string& text) {
  const std::string key = Trimmed(text);
  for (std::size_t i = 0; i < kPlaceholderSerialCount; ++i) {
    if (SameIgnoringCase(key, kPlaceholderSerials[i].text)) return true;
  }
  for (std::size_t i = 0; i < kPlaceholderUuidCount; ++i) {
    if (SameIgnoringCase(key, PlaceholderUuidText(kPlaceholderUuids[i]).c_str())) return true;
    if (SameIgnoringCase(key, kPlaceholderUuids[i].usual_form)) return true;
  }
  // A run of blanks trims to nothing.
  if (key.empty()) return !text.empty();
  return RunOf(key, '0') || RunOf(key, 'f');
}

std::string RecognisedPlaceholder(const MachineIdentifierFields& f) {
  if (f.made_by == MachineExport::kGetPcsnUuid) {
    for (std::size_t i = 0; i < kPlaceholderUuidCount; ++i) {
      const std::string text = PlaceholderUuidText(kPlaceholderUuids[i]);
      if (FieldsHold(f, text)) return text;
    }
    return {};
  }
  if (f.made_by != MachineExport::kGetPcsnSerial) return {};
  for (std::size_t i = 0; i < kPlaceholderSerialCount; ++i) {
    if (FieldsHold(f, kPlaceholderSerials[i].text)) return kPlaceholderSerials[i].text;
  }
  // A serial number the DLL uses never begins with a blank, so runs of
  // blanks never reach a record; runs of zeros do.
  if (f.system_length <= kLongestRecognisedRun) {
    const std::string zeros(f.system_length, '0');
    if (FieldsHold(f, zeros)) return zeros;
  }
  return {};
}

std::vector<std::string> AddressShapes(const MacIdentifierFields& f) {
  // first = first_masked ^ k, so first ^ first[0] is first_masked itself;
  // second = second_masked ^ first[1], so its shape is second_masked ^ second_masked[0].
  std::uint8_t second[6];
  for (int i = 0; i < 6; ++i) second[i] = f.second_masked[i] ^ f.second_masked[0];
  std::vector<std::string> shapes{MacBytesText(f.first_masked, 6)};
  const bool one_address =
      std::all_of(std::begin(f.address_xor), std::end(f.address_xor), [](std::uint8_t b) { return b == 0; });
  if (!one_address) shapes.push_back(MacBytesText(second, 6));
  return shapes;
}

std::vector<ComponentEvidence> Evidence(const DecodedIdentifier& d) {
  if (d.kind == IdentifierKind::kMac) {
    return {MacEvidence(d.mac.source == MacSnRecord::kSourceUuid, false),
            {kComponentProcessor, Strength::kAbsent, "MAC identifiers carry no processor text"},
            {kComponentFirmware, Strength::kAbsent, "MAC identifiers carry no firmware text"},
            kMacSourceEvidence};
  }
  const MachineIdentifierFields& f = d.machine;
  return {MacEvidence(f.source_flags & PcSnRecord::kFlagMacFromUuid, true),
          {kComponentProcessor, Strength::kWeak, "every machine of this processor model has the same processor text"},
          FirmwareEvidence(f),
          kMacSourceEvidence};
}

}  // namespace tavsn::server
