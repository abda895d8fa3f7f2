#include "server/evidence.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <unordered_map>

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
    // What firmware test suites flag as unfilled defaults.
    {"12345678"},
    {"Not Available"},
    {"Not Present"},
    {"Serial Number"},
    {"SerialNumber"},
    {"System Serial"},
    {"Base Board Serial Number"},
    {"Type1 - Serial Number"},
    {"Type1Sku0"},
    {"Unknown"},
    {"Empty"},
    {"N/A"},
    {"NA"},
    {"Chassis Serial"},
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

// Runs that boards ship as serial numbers, recognised at every length a
// record can hold up to kLongestRecognisedRun.
constexpr char kRunCharacters[] = {'0', 'X', 'x', 'F', 'f'};
constexpr char kCountingDigits[] = "1234567890";

// "1234567890123..." of a length.
std::string CountingRun(std::size_t length) {
  std::string counting;
  while (counting.size() < length) counting += kCountingDigits;
  counting.resize(length);
  return counting;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}
std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "Default String": each word's first letter upper, the rest lower.
std::string TitleCase(std::string text) {
  bool word_start = true;
  for (char& c : text) {
    const auto u = static_cast<unsigned char>(c);
    c = static_cast<char>(word_start ? std::toupper(u) : std::tolower(u));
    word_start = c == ' ' || c == '-';
  }
  return text;
}

std::uint32_t LengthAndChecksum(const std::string& text) {
  return static_cast<std::uint32_t>(text.size()) << 16 | Checksum16(text.data(), text.size());
}

// Every (length, checksum) pair a placeholder serial number's spellings give,
// with the placeholder it stands for. Built once; read-only after.
class PlaceholderSerialIndex {
 public:
  PlaceholderSerialIndex() {
    for (std::size_t i = 0; i < kPlaceholderSerialCount; ++i) {
      const std::string text = kPlaceholderSerials[i].text;
      for (const std::string& cased : {text, Upper(text), Lower(text), TitleCase(text)}) AddBlanked(cased, text);
    }
    for (std::size_t length = 1; length <= kLongestRecognisedRun; ++length) {
      for (char c : kRunCharacters) Add(std::string(length, c), std::string(length, c));
      Add(CountingRun(length), CountingRun(length));
    }
  }

  // The placeholder, or null.
  const std::string* Find(std::uint16_t length, std::uint16_t checksum) const {
    const auto found = texts_.find(static_cast<std::uint32_t>(length) << 16 | checksum);
    return found == texts_.end() ? nullptr : &found->second;
  }

 private:
  void AddBlanked(const std::string& spelling, const std::string& placeholder) {
    for (std::size_t leading = 0; leading <= 2; ++leading) {
      for (std::size_t trailing = 0; trailing <= 4; ++trailing) {
        Add(std::string(leading, ' ') + spelling + std::string(trailing, ' '), placeholder);
      }
    }
  }
  void Add(const std::string& spelling, const std::string& placeholder) {
    texts_.emplace(LengthAndChecksum(spelling), placeholder);  // the first spelling of a pair names it
  }

  std::unordered_map<std::uint32_t, std::string> texts_;
};

const PlaceholderSerialIndex& SerialIndex() {
  static const PlaceholderSerialIndex index;
  return index;
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
  if (HoldsPlaceholder(f)) {
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
  return RunOf(key, '0') || RunOf(key, 'f') || RunOf(key, 'x') || key == CountingRun(key.size());
}

namespace {

// The placeholder a record's firmware fields hold, or null; no copy, since
// every verdict asks.
const std::string* FindPlaceholder(const MachineIdentifierFields& f) {
  if (f.made_by == MachineExport::kGetPcsnUuid) {
    static const std::vector<std::string> uuids = [] {
      std::vector<std::string> texts;
      for (std::size_t i = 0; i < kPlaceholderUuidCount; ++i)
        texts.push_back(PlaceholderUuidText(kPlaceholderUuids[i]));
      return texts;
    }();
    for (const std::string& text : uuids) {
      if (FieldsHold(f, text)) return &text;
    }
    return nullptr;
  }
  if (f.made_by != MachineExport::kGetPcsnSerial) return nullptr;
  // A serial number the DLL uses never begins with a blank, so runs of
  // blanks never reach a record; the index holds what does.
  return SerialIndex().Find(f.system_length, f.system_checksum);
}

}  // namespace

bool HoldsPlaceholder(const MachineIdentifierFields& f) { return FindPlaceholder(f) != nullptr; }

std::string RecognisedPlaceholder(const MachineIdentifierFields& f) {
  const std::string* placeholder = FindPlaceholder(f);
  return placeholder == nullptr ? std::string() : *placeholder;
}

AddressShapeSet AddressShapeBytes(const MacIdentifierFields& f) {
  // first = first_masked ^ k, so first ^ first[0] is first_masked itself;
  // second = second_masked ^ first[1], so its shape is second_masked ^ second_masked[0].
  AddressShapeSet set;
  std::copy(std::begin(f.first_masked), std::end(f.first_masked), set.shapes[0].begin());
  for (int i = 0; i < 6; ++i) set.shapes[1][i] = f.second_masked[i] ^ f.second_masked[0];
  const bool one_address =
      std::all_of(std::begin(f.address_xor), std::end(f.address_xor), [](std::uint8_t b) { return b == 0; });
  set.count = one_address ? 1 : 2;
  return set;
}

unsigned SharedShapeCount(const AddressShapeSet& a, const AddressShapeSet& b) {
  unsigned shared = 0;
  for (std::size_t i = 0; i < a.count; ++i) {
    const bool held = std::find(b.shapes, b.shapes + b.count, a.shapes[i]) != b.shapes + b.count;
    shared += held ? 1 : 0;
  }
  return shared;
}

std::vector<std::string> AddressShapes(const MacIdentifierFields& f) {
  const AddressShapeSet set = AddressShapeBytes(f);
  std::vector<std::string> shapes;
  for (std::size_t i = 0; i < set.count; ++i) shapes.push_back(MacBytesText(set.shapes[i].data(), 6));
  return shapes;
}

const char* ImpostorClassName(ImpostorClass impostor) {
  switch (impostor) {
    case ImpostorClass::kSibling: return "sibling";
    case ImpostorClass::kModel: return "model";
    case ImpostorClass::kMovedAdapter: return "moved_adapter";
  }
  return "unknown";
}

namespace {

constexpr MatchOdds kTellsNothing = {{1.0, 1.0, 1.0}};

MatchOdds MachineMacOdds(const MachineIdentifierFields& f) {
  if (f.source_flags & PcSnRecord::kFlagMacFromUuid) {
    return {{odds::kRandomNode, odds::kRandomNode, odds::kRandomNode}};
  }
  // A sibling's addresses are fewer than 65,535 apart: its checksum differs.
  return {{0.0, odds::kOuiMacChecksum, 1.0}};
}

MatchOdds FirmwareOdds(const MachineIdentifierFields& f) {
  if (f.made_by != MachineExport::kGetPcsnSerial && f.made_by != MachineExport::kGetPcsnUuid) return kTellsNothing;
  if (HoldsPlaceholder(f)) return kTellsNothing;
  // A model's serial numbers share a prefix and a numbering: only the
  // digits' sums at even and at odd places vary, so any two of the model
  // (a sibling, one anywhere, one that received a moved adapter) agree
  // about 1 in 200. UUIDs of a batch may differ in a few digits alike;
  // across batches they are as good as random.
  if (f.made_by == MachineExport::kGetPcsnSerial) {
    return {{odds::kBatchSerialChecksum, odds::kBatchSerialChecksum, odds::kBatchSerialChecksum}};
  }
  return {{odds::kBatchSerialChecksum, odds::kChecksum, odds::kChecksum}};
}

}  // namespace

MatchOdds AddressShapeMatchOdds(const MacIdentifierFields& f) {
  if (f.source == MacSnRecord::kSourceUuid) return {{odds::kRandomNode, odds::kRandomNode, odds::kRandomNode}};
  // Two addresses share a shape only when they differ by one byte value in
  // all six places; under one vendor prefix bytes 0-2 agree, so only the
  // address itself has its shape. A moved adapter carries it along.
  return {{0.0, 0.0, 1.0}};
}

MatchOdds ComponentMatchOdds(Component component, const DecodedIdentifier& d) {
  if (d.kind == IdentifierKind::kMac) {
    return component == kComponentMac ? AddressShapeMatchOdds(d.mac) : kTellsNothing;
  }
  switch (component) {
    case kComponentMac: return MachineMacOdds(d.machine);
    case kComponentFirmware: return FirmwareOdds(d.machine);
    // Every machine of a model has its processor text, and a moved adapter
    // may land on one of them; the MAC's source tells nothing.
    default: return kTellsNothing;
  }
}

MatchOdds ComponentChangeOdds(Component component, const MachineIdentifierFields& before,
                              const MachineIdentifierFields& after) {
  constexpr std::uint16_t kProcessorFlags = PcSnRecord::kFlagProcessorSerial | PcSnRecord::kFlagProcessorDetails;
  const auto details = [](const MachineIdentifierFields& f) {
    return (f.source_flags & kProcessorFlags) == PcSnRecord::kFlagProcessorDetails;
  };
  if (component != kComponentProcessor || !details(before) || !details(after)) return kTellsNothing;
  return {{0.0, 0.0, 1.0}};
}

std::array<ComponentEvidence, std::size(kComponents)> Evidence(const DecodedIdentifier& d) {
  if (d.kind == IdentifierKind::kMac) {
    return {{MacEvidence(d.mac.source == MacSnRecord::kSourceUuid, false),
             {kComponentProcessor, Strength::kAbsent, "MAC identifiers carry no processor text"},
             {kComponentFirmware, Strength::kAbsent, "MAC identifiers carry no firmware text"},
             kMacSourceEvidence}};
  }
  const MachineIdentifierFields& f = d.machine;
  return {{MacEvidence(f.source_flags & PcSnRecord::kFlagMacFromUuid, true),
           {kComponentProcessor, Strength::kWeak, "every machine of this processor model has the same processor text"},
           FirmwareEvidence(f),
           kMacSourceEvidence}};
}

}  // namespace tavsn::server
