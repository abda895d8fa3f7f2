// tavsn_fleet_bench: how often the licence server's verdicts err on a
// modelled fleet, under the count policy and the evidence policy side by
// side, and how often two machines of one model write the same identifier
// text (the limit no policy can beat). Figures, not a pass/fail test; the
// same seed gives the same numbers on every run.
//
// The model, printed again at the start of the output:
// - Vendor prefixes come from /usr/share/ieee-data/oui.csv (Debian's
//   ieee-data, MA-L entries): a model's onboard adapters use one OUI of the
//   PC and NIC makers found there by organization name; USB adapters any OUI.
// - Processor texts are the DLL's details form of ~20 common models.
// - Firmware: 62% a real serial (a model's prefix and a 6-digit number
//   counted up along the batch), 30% a usable placeholder serial, 5% a
//   placeholder UUID with an unusable serial, 3% unreadable. The placeholder
//   texts are the bench's own, spelled as boards ship them, never the
//   library's recognition table: adding a recognised text moves no figure
//   but the ones it should.
// - Adapters per machine: 1 (60%), 2 (30%), 3 (10%), consecutive addresses
//   under the model's OUI; the next machine of a batch starts 0-3 addresses
//   after the last one of the previous machine.
// - Impostors: random pairs; siblings of batches of 200-1,000 machines;
//   two machines of one model anywhere in its OUI; a USB adapter or a dock
//   whose address sorts lowest, moved to another machine; a dual-port card
//   moved; an adversary choosing the best of K machines of the model.
// - Events on one machine: card replaced / added, USB adapter, processor
//   upgrade, firmware read failed once (GetPCSN writes zero system fields,
//   as from a single-threaded apartment), firmware update, dual-port card
//   replaced, dock attached and detached, an STA caller beside a card
//   replaced, two events at once.
// - The identifiers are built with the DLL's own encoder in the order its
//   exports fill the records; each is judged alone, and the three of one
//   call site together as a bundle.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "api/identifier_records.h"
#include "server/bundle.h"
#include "server/compare.h"
#include "server/evidence.h"
#include "server/identifier.h"
#include "server/match.h"
#include "sysinfo/smbios_info.h"

namespace {

using namespace tavsn;
using namespace tavsn::server;

constexpr std::uint64_t kSeed = 0x7A5F1EE7B0A7D5ULL;
constexpr int kRandomPairs = 200000, kSiblingPairs = 100000, kEventMachines = 20000;
constexpr int kModelPairs = 200000, kMovedPairs = 50000, kAdversaryTargets = 2000, kAdversaryChoices = 100;
constexpr int kFleetSizes[] = {1000, 10000, 100000};
constexpr int kFleetSizeCount = static_cast<int>(std::size(kFleetSizes));
constexpr const char* kOuiPath = "/usr/share/ieee-data/oui.csv";
constexpr const char* kOnboardMakers[] = {"intel corporate", "realtek",   "dell",       "hewlett packard", "lenovo",
                                          "asustek",         "giga-byte", "micro-star", "asrock",          "broadcom"};

struct Processor {
  const char* brand;
  int family, model;  // display family and model; processor type 0
};
const Processor kProcessors[] = {
    {"Intel(R) Core(TM) i5-8500 CPU @ 3.00GHz", 6, 158},
    {"Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz", 6, 158},
    {"Intel(R) Core(TM) i3-8100 CPU @ 3.60GHz", 6, 158},
    {"Intel(R) Core(TM) i5-7500 CPU @ 3.40GHz", 6, 158},
    {"Intel(R) Core(TM) i5-6500 CPU @ 3.20GHz", 6, 94},
    {"Intel(R) Core(TM) i5-4590 CPU @ 3.30GHz", 6, 60},
    {"Intel(R) Core(TM) i7-4790 CPU @ 3.60GHz", 6, 60},
    {"Intel(R) Core(TM) i5-10500 CPU @ 3.10GHz", 6, 165},
    {"Intel(R) Core(TM) i7-10700 CPU @ 2.90GHz", 6, 165},
    {"11th Gen Intel(R) Core(TM) i5-11500 @ 2.70GHz", 6, 167},
    {"12th Gen Intel(R) Core(TM) i5-12500", 6, 151},
    {"12th Gen Intel(R) Core(TM) i7-12700", 6, 151},
    {"13th Gen Intel(R) Core(TM) i5-13500", 6, 191},
    {"Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz", 6, 142},
    {"11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz", 6, 140},
    {"Intel(R) Pentium(R) Gold G5400 CPU @ 3.70GHz", 6, 158},
    {"Intel(R) Xeon(R) CPU E5-2620 v4 @ 2.10GHz", 6, 79},
    {"AMD Ryzen 5 3600 6-Core Processor", 23, 113},
    {"AMD Ryzen 5 PRO 4650G with Radeon Graphics", 23, 96},
    {"AMD Ryzen 5 5600X 6-Core Processor", 25, 33},
    {"AMD Ryzen 7 5800X 8-Core Processor", 25, 33},
};
constexpr int kProcessorCount = static_cast<int>(std::size(kProcessors));

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : engine_(seed) {}
  std::uint64_t Bits() { return engine_(); }
  std::uint64_t Below(std::uint64_t n) { return engine_() % n; }  // portable, unlike std's distributions
  bool Chance(double p) { return static_cast<double>(engine_() >> 11) * 0x1p-53 < p; }

 private:
  std::mt19937_64 engine_;
};

struct Ouis {
  std::vector<std::uint32_t> all, onboard;
};

enum class Firmware { kRealSerial, kPlaceholderSerial, kPlaceholderUuid, kUnreadable };

struct Model {
  std::uint32_t oui = 0;
  int processor = 0;
  Firmware firmware = Firmware::kRealSerial;
  std::string serial, uuid;  // the placeholders the model ships
  std::uint32_t nic_cursor = 0;
  std::string serial_prefix;  // real serials: the prefix and a number counted up
  std::uint32_t serial_number = 0;
};

struct Machine {
  std::vector<std::uint64_t> macs;
  int processor = 0;
  bool firmware_readable = true;
  std::string serial, uuid;
};

// kBundle: the three identifiers of one call site judged together.
enum Kind { kTq11, kGetPcsn, kGetPcsnEx, kBundle, kKindCount };
constexpr const char* kKindNames[] = {"TQ11 (GetMacSN)", "TQ12 GetPCSN", "TQ12 GetPCSNEx", "bundle (all three)"};

// ---- OUIs ----------------------------------------------------------------

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsOnboardMaker(const std::string& organization) {
  const std::string lower = Lower(organization);
  return std::any_of(std::begin(kOnboardMakers), std::end(kOnboardMakers),
                     [&](const char* maker) { return lower.find(maker) != std::string::npos; });
}

// "MA-L,XXXXXX,Organization,...": lines of other shapes (continuations of a
// quoted address) are skipped.
bool LoadOuis(const char* path, Ouis& ouis) {
  std::ifstream file(path);
  if (!file) return false;
  std::string line;
  while (std::getline(file, line)) {
    if (line.size() < 13 || line.compare(0, 5, "MA-L,") != 0 || line[11] != ',') continue;
    const std::string hex = line.substr(5, 6);
    if (hex.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos) continue;
    const auto oui = static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16));
    const bool quoted = line[12] == '"';
    const std::size_t begin = quoted ? 13 : 12;
    const std::string organization = line.substr(begin, line.find(quoted ? '"' : ',', begin) - begin);
    ouis.all.push_back(oui);
    if (IsOnboardMaker(organization)) ouis.onboard.push_back(oui);
  }
  for (auto* list : {&ouis.all, &ouis.onboard}) {
    std::sort(list->begin(), list->end());
    list->erase(std::unique(list->begin(), list->end()), list->end());
  }
  if (ouis.onboard.empty()) ouis.onboard = ouis.all;
  return !ouis.all.empty();
}

std::uint64_t Address(std::uint32_t oui, std::uint32_t nic) {
  return static_cast<std::uint64_t>(oui) << 24 | (nic & 0xFFFFFFu);
}

std::uint64_t CardAddress(Rng& rng, const std::vector<std::uint32_t>& ouis) {
  return Address(ouis[rng.Below(ouis.size())], static_cast<std::uint32_t>(rng.Bits()));
}

// ---- Machines ------------------------------------------------------------

// Serial numbers that boards really ship unfilled, with their spellings
// (case, a trailing blank), as firmware test suites and inventories show
// them. The bench's own list: the library's recognition table is what is
// measured, not what the model draws from.
const char* const kFleetPlaceholderSerials[] = {
    "To be filled by O.E.M.",
    "To Be Filled By O.E.M.",
    "TO BE FILLED BY O.E.M.",
    "To be filled by O.E.M. ",
    "Default string",
    "Default String",
    "DEFAULT STRING",
    "System Serial Number",
    "Chassis Serial Number",
    "Not Specified",
    "Not Applicable",
    "0123456789",
    "1234567890",
    "123456789",
    "12345678",
    "XXXXXXXXXX",
    "0000000000",
    "00000000000000000000",
    "Base Board Serial Number",
    "Not Available",
    "None",
    "OEM",
    "O.E.M.",
    "Default",
    "INVALID",
    "N/A",
    " ",
    "0",
};
// Placeholder UUIDs as table bytes.
const std::uint8_t kFleetPlaceholderUuids[][16] = {
    {},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    {0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00, 0x06, 0x00, 0x07, 0x00, 0x08, 0x00, 0x09},
};

std::vector<std::string> Placeholders(bool usable) {
  std::vector<std::string> texts;
  for (const char* text : kFleetPlaceholderSerials) {
    if (SerialNumberUsable(text) == usable) texts.push_back(text);
  }
  return texts;
}

std::string FleetPlaceholderUuid(Rng& rng) {
  char text[kUuidTextCapacity];
  FormatUuidText(kFleetPlaceholderUuids[rng.Below(std::size(kFleetPlaceholderUuids))], text);
  return text;
}
const std::vector<std::string> kUsablePlaceholders = Placeholders(true);
const std::vector<std::string> kUnusablePlaceholders = Placeholders(false);

// Shares of 1000: real serial 620, placeholder serial 300, placeholder UUID
// 50, unreadable 30. Sibling models are drawn from the last three alone.
Firmware DrawFirmware(Rng& rng, bool hard_only) {
  const std::uint64_t draw = hard_only ? 620 + rng.Below(380) : rng.Below(1000);
  if (draw < 620) return Firmware::kRealSerial;
  if (draw < 920) return Firmware::kPlaceholderSerial;
  return draw < 970 ? Firmware::kPlaceholderUuid : Firmware::kUnreadable;
}

Model DrawModel(Rng& rng, const Ouis& ouis, bool hard_only) {
  Model model;
  model.oui = ouis.onboard[rng.Below(ouis.onboard.size())];
  model.processor = static_cast<int>(rng.Below(kProcessorCount));
  model.firmware = DrawFirmware(rng, hard_only);
  model.nic_cursor = static_cast<std::uint32_t>(rng.Bits());
  if (model.firmware == Firmware::kPlaceholderSerial) {
    model.serial = kUsablePlaceholders[rng.Below(kUsablePlaceholders.size())];
  } else if (model.firmware == Firmware::kPlaceholderUuid) {
    model.serial = kUnusablePlaceholders[rng.Below(kUnusablePlaceholders.size())];
    model.uuid = FleetPlaceholderUuid(rng);
  }
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  model.serial_prefix.assign(3 + rng.Below(4), ' ');
  for (char& c : model.serial_prefix) c = kChars[rng.Below(36)];
  model.serial_number = static_cast<std::uint32_t>(rng.Below(900000));
  return model;
}

// The model's next serial: its prefix and a 6-digit number counted up.
std::string RealSerial(Model& model) {
  char number[16];
  std::snprintf(number, sizeof number, "%06u", model.serial_number++ % 1000000u);
  return model.serial_prefix + number;
}

int DrawAdapterCount(Rng& rng) {
  const std::uint64_t draw = rng.Below(10);
  return draw < 6 ? 1 : draw < 9 ? 2 : 3;
}

// The model's next machine off the line: its adapters take the next
// addresses of the model's block.
Machine NextMachine(Rng& rng, Model& model) {
  Machine machine;
  const int adapters = DrawAdapterCount(rng);
  for (int i = 0; i < adapters; ++i) machine.macs.push_back(Address(model.oui, model.nic_cursor + i));
  model.nic_cursor += static_cast<std::uint32_t>(adapters + rng.Below(4));
  machine.processor = model.processor;
  machine.firmware_readable = model.firmware != Firmware::kUnreadable;
  machine.serial = model.firmware == Firmware::kRealSerial ? RealSerial(model) : model.serial;
  machine.uuid = model.uuid;
  return machine;
}

// A machine of the model from another batch: anywhere in the OUI, its
// serial from anywhere in the model's numbering.
Machine ScatteredMachine(Rng& rng, Model& model) {
  model.nic_cursor = static_cast<std::uint32_t>(rng.Bits());
  model.serial_number = static_cast<std::uint32_t>(rng.Below(1000000));
  return NextMachine(rng, model);
}

Machine RandomMachine(Rng& rng, const Ouis& ouis) {
  Model model = DrawModel(rng, ouis, false);
  return NextMachine(rng, model);
}

// ---- Identifiers, as the DLL writes them ---------------------------------

void AddressBytes(std::uint64_t value, std::uint8_t (&bytes)[6]) {
  for (int i = 0; i < 6; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * (5 - i)));
}

std::vector<std::uint64_t> DllList(const Machine& machine) {
  std::vector<std::uint64_t> list = machine.macs;
  std::sort(list.begin(), list.end());
  list.erase(std::unique(list.begin(), list.end()), list.end());
  return list;
}

std::string Tq11Text(const std::vector<std::uint64_t>& list) {
  std::uint8_t first[6], second[6];
  AddressBytes(list[0], first);
  AddressBytes(list.size() > 1 ? list[1] : list[0], second);
  char text[kIdentifierBufferSize];
  MacSnText(MacSnRecord::Build(MacSnRecord::kSourceAdapter, static_cast<int>(list.size()), first, second), text);
  return text;
}

std::string Tq12Text(const Machine& machine, std::uint64_t first_mac, bool self_checksum, bool firmware_read) {
  PcSnRecord record;
  record.SetFlag(PcSnRecord::kFlagMacStep);
  std::uint8_t mac[6];
  AddressBytes(first_mac, mac);
  record.SetMac(mac);
  const Processor& p = kProcessors[machine.processor];
  char details[128];
  std::snprintf(details, sizeof details, "%s-%08d-%08d-%08d", p.brand, 0, p.family, p.model);
  record.SetFlag(PcSnRecord::kFlagProcessorDetails);
  record.SetTextFields(PcSnRecord::kProcessorLengthOffset, details);
  if (self_checksum) {
    record.SetSelfChecksum();
  } else if (firmware_read && machine.firmware_readable) {
    const bool serial = SerialNumberUsable(machine.serial);
    record.SetFlag(serial ? PcSnRecord::kFlagSystemSerial : PcSnRecord::kFlagSystemUuid);
    record.SetTextFields(PcSnRecord::kSystemLengthOffset, (serial ? machine.serial : machine.uuid).c_str());
  }
  char text[kIdentifierBufferSize];
  PcSnText(record, text);
  return text;
}

std::string IdentifierText(const Machine& machine, int kind, bool firmware_read = true) {
  const std::vector<std::uint64_t> list = DllList(machine);
  if (kind == kTq11) return Tq11Text(list);
  if (kind == kBundle) {
    return Tq11Text(list) + "," + Tq12Text(machine, list[0], false, firmware_read) + "," +
           Tq12Text(machine, list[0], true, firmware_read);
  }
  return Tq12Text(machine, list[0], kind == kGetPcsnEx, firmware_read);
}

std::vector<std::string> BundleMembers(const std::string& texts) {
  std::vector<std::string> members;
  for (std::size_t start = 0; start < texts.size(); start += kIdentifierLength + 1) {
    members.push_back(texts.substr(start, kIdentifierLength));
  }
  return members;
}

// The verdict on two texts of a kind; false when the library refuses them.
bool Verdict(const std::string& before, const std::string& after, int kind, const ComparePolicy& policy,
             MachineVerdict& verdict) {
  if (kind == kBundle) {
    const BundleComparison c = CompareBundles(BundleMembers(before), BundleMembers(after), policy);
    verdict = c.verdict;
    return c.status == BundleStatus::kOk;
  }
  const Comparison c = Compare(ParseIdentifier(before), ParseIdentifier(after), policy);
  verdict = c.verdict;
  return c.status == CompareStatus::kOk;
}

// ---- Verdicts ------------------------------------------------------------

enum PolicyIndex { kCount, kEvidence, kPolicyCount };

struct Tally {
  std::uint64_t pairs = 0;
  std::uint64_t verdicts[kPolicyCount][3] = {};  // by MachineVerdict
  std::uint64_t same_after_change = 0;           // evidence policy: same machine on texts that differ
  std::string example[kPolicyCount];             // the first pair judged wrongly
};

struct Row {
  const char* name;
  MachineVerdict error;  // kSame for pairs of two machines, kDifferent for events
  Tally tally[kKindCount];
};

void Judge(const std::string& before, const std::string& after, int kind, MachineVerdict error, Tally& tally) {
  const ComparePolicy policies[kPolicyCount] = {CountPolicy(), ComparePolicy{}};
  ++tally.pairs;
  for (int p = 0; p < kPolicyCount; ++p) {
    MachineVerdict verdict;
    if (!Verdict(before, after, kind, policies[p], verdict)) {
      std::fprintf(stderr, "the model built a pair the library refuses: %s %s\n", before.c_str(), after.c_str());
      std::exit(1);
    }
    ++tally.verdicts[p][static_cast<int>(verdict)];
    if (p == kEvidence && verdict == MachineVerdict::kSame && before != after) ++tally.same_after_change;
    if (verdict == error && tally.example[p].empty()) tally.example[p] = before + " " + after;
  }
}

void JudgeMachines(const Machine& before, const Machine& after, Row& row, bool firmware_read_after = true) {
  for (int kind = 0; kind < kKindCount; ++kind) {
    Judge(IdentifierText(before, kind), IdentifierText(after, kind, firmware_read_after), kind, row.error,
          row.tally[kind]);
  }
}

void MeasureRandomPairs(Rng& rng, const Ouis& ouis, Row& row) {
  for (int i = 0; i < kRandomPairs; ++i) {
    const Machine a = RandomMachine(rng, ouis);
    JudgeMachines(a, RandomMachine(rng, ouis), row);
  }
}

// Two machines of one batch of 200 to 1,000: sequential serials, nearby
// addresses. Each batch gives 500 pairs.
void MeasureSiblingPairs(Rng& rng, const Ouis& ouis, Row& row) {
  for (int done = 0; done < kSiblingPairs;) {
    Model model = DrawModel(rng, ouis, false);
    std::vector<Machine> batch(200 + rng.Below(801));
    for (Machine& machine : batch) machine = NextMachine(rng, model);
    for (int i = 0; i < 500 && done < kSiblingPairs; ++i, ++done) {
      const std::uint64_t first = rng.Below(batch.size());
      const std::uint64_t second = (first + 1 + rng.Below(batch.size() - 1)) % batch.size();
      JudgeMachines(batch[first], batch[second], row);
    }
  }
}

// Two machines of one model from different batches, anywhere in its OUI.
void MeasureModelPairs(Rng& rng, const Ouis& ouis, Row& row) {
  for (int i = 0; i < kModelPairs; ++i) {
    Model model = DrawModel(rng, ouis, false);
    const Machine a = ScatteredMachine(rng, model);
    JudgeMachines(a, ScatteredMachine(rng, model), row);
  }
}

std::uint64_t LowestAddress(const Machine& machine) {
  return *std::min_element(machine.macs.begin(), machine.macs.end());
}

// An address below every address of both machines: a USB adapter, dock or
// card that the DLL lists first on either.
std::uint64_t AddressSortingFirst(Rng& rng, const Machine& a, const Machine& b) {
  const std::uint64_t below = std::max<std::uint64_t>(std::min(LowestAddress(a), LowestAddress(b)), 8);
  return 2 + rng.Below(below - 4);
}

enum class Moved { kUsbLowest, kDock, kDualPort };

// An adapter (or a dual-port card) carried from one machine to another: half
// the time to a machine of the same model, half to any machine.
void MeasureMoved(Moved moved, Rng& rng, const Ouis& ouis, Row& row) {
  for (int i = 0; i < kMovedPairs; ++i) {
    Model model = DrawModel(rng, ouis, false);
    Machine a = ScatteredMachine(rng, model);
    Machine b = rng.Chance(0.5) ? ScatteredMachine(rng, model) : RandomMachine(rng, ouis);
    std::vector<std::uint64_t> carried;
    switch (moved) {
      case Moved::kUsbLowest: carried = {AddressSortingFirst(rng, a, b)}; break;
      case Moved::kDock: carried = {CardAddress(rng, ouis.all)}; break;
      case Moved::kDualPort: {
        const std::uint64_t first = AddressSortingFirst(rng, a, b) & ~1ull;
        carried = {first, first + 1};
        break;
      }
    }
    a.macs.insert(a.macs.end(), carried.begin(), carried.end());
    b.macs.insert(b.macs.end(), carried.begin(), carried.end());
    JudgeMachines(a, b, row);
  }
}

// An adversary holding K machines of a target's model tries each and keeps
// the best verdict: a false accept when any is judged the same machine.
void MeasureAdversary(Rng& rng, const Ouis& ouis, Row& row) {
  const ComparePolicy policies[kPolicyCount] = {CountPolicy(), ComparePolicy{}};
  for (int t = 0; t < kAdversaryTargets; ++t) {
    Model model = DrawModel(rng, ouis, false);
    const Machine target = ScatteredMachine(rng, model);
    std::vector<Machine> choices(kAdversaryChoices);
    for (Machine& choice : choices) choice = ScatteredMachine(rng, model);
    for (int kind = 0; kind < kKindCount; ++kind) {
      const std::string bound = IdentifierText(target, kind);
      Tally& tally = row.tally[kind];
      ++tally.pairs;
      for (int p = 0; p < kPolicyCount; ++p) {
        MachineVerdict best = MachineVerdict::kDifferent;
        std::string best_text;
        for (const Machine& choice : choices) {
          const std::string text = IdentifierText(choice, kind);
          MachineVerdict v = MachineVerdict::kDifferent;
          Verdict(bound, text, kind, policies[p], v);
          if (v == MachineVerdict::kSame || (v == MachineVerdict::kUndecided && best == MachineVerdict::kDifferent)) {
            best = v;
            best_text = text;
          }
          if (best == MachineVerdict::kSame) break;
        }
        ++tally.verdicts[p][static_cast<int>(best)];
        if (p == kEvidence && best == MachineVerdict::kSame && best_text != bound) ++tally.same_after_change;
        if (best == MachineVerdict::kSame && tally.example[p].empty()) tally.example[p] = bound + " " + best_text;
      }
    }
  }
}

enum class Event {
  kCardReplaced,
  kCardAdded,
  kUsbAdapter,
  kProcessorUpgrade,
  kFirmwareReadFailed,
  kFirmwareUpdate,
  kDualPortReplaced,
  kDockCycle,
  kStaBesideCardReplaced,
  kTwoEvents,
};

void ReplaceCard(Machine& machine, Rng& rng, const Ouis& ouis) {
  machine.macs[rng.Below(machine.macs.size())] = CardAddress(rng, ouis.onboard);
}

void UpgradeProcessor(Machine& machine, Rng& rng) {
  machine.processor = static_cast<int>((machine.processor + 1 + rng.Below(kProcessorCount - 1)) % kProcessorCount);
}

// The machine before and after the event; `firmware_read` false when
// GetPCSN's read fails after it.
std::pair<Machine, Machine> Apply(Event event, Machine machine, Rng& rng, const Ouis& ouis, bool& firmware_read) {
  firmware_read = true;
  Machine before = machine;
  switch (event) {
    case Event::kCardReplaced: ReplaceCard(machine, rng, ouis); break;
    case Event::kCardAdded: machine.macs.push_back(CardAddress(rng, ouis.onboard)); break;
    case Event::kUsbAdapter: machine.macs.push_back(CardAddress(rng, ouis.all)); break;
    case Event::kProcessorUpgrade: UpgradeProcessor(machine, rng); break;
    case Event::kFirmwareReadFailed: firmware_read = false; break;
    case Event::kFirmwareUpdate: break;
    case Event::kDualPortReplaced: {
      // A dual-port card whose addresses sort first, replaced by another.
      const std::uint64_t old_card = AddressSortingFirst(rng, machine, machine) & ~1ull;
      const std::uint64_t new_card = AddressSortingFirst(rng, machine, machine) & ~1ull;
      before.macs.insert(before.macs.end(), {old_card, old_card + 1});
      machine.macs.insert(machine.macs.end(), {new_card, new_card + 1});
      break;
    }
    case Event::kDockCycle: {
      const std::uint64_t dock = CardAddress(rng, ouis.all);
      (rng.Chance(0.5) ? before : machine).macs.push_back(dock);
      break;
    }
    case Event::kStaBesideCardReplaced:
      ReplaceCard(machine, rng, ouis);
      firmware_read = false;
      break;
    case Event::kTwoEvents:
      ReplaceCard(machine, rng, ouis);
      UpgradeProcessor(machine, rng);
      break;
  }
  return {before, machine};
}

void MeasureEvent(Event event, Rng& rng, const Ouis& ouis, Row& row) {
  for (int i = 0; i < kEventMachines; ++i) {
    bool firmware_read = true;
    const auto [before, after] = Apply(event, RandomMachine(rng, ouis), rng, ouis, firmware_read);
    JudgeMachines(before, after, row, firmware_read);
  }
}

// ---- Collisions ----------------------------------------------------------

// A fleet of one model spread over its OUI: batches of 1-40 machines, each
// batch anywhere in the OUI and in the model's serial numbering.
// Addresses and serial numbers are unique in a real fleet: a machine that
// would repeat one is drawn again.
std::vector<Machine> OneModelFleet(Rng& rng, const Ouis& ouis, int size) {
  std::vector<Machine> fleet;
  fleet.reserve(size);
  std::unordered_set<std::uint64_t> addresses;
  std::unordered_set<std::string> serials;
  const auto unique = [&](const Machine& machine) {
    if (serials.count(machine.serial)) return false;
    for (std::uint64_t mac : machine.macs) {
      if (addresses.count(mac)) return false;
    }
    serials.insert(machine.serial);
    addresses.insert(machine.macs.begin(), machine.macs.end());
    return true;
  };
  Model model = DrawModel(rng, ouis, false);
  model.firmware = Firmware::kRealSerial;
  while (static_cast<int>(fleet.size()) < size) {
    Machine first = ScatteredMachine(rng, model);
    if (!unique(first)) continue;
    fleet.push_back(first);
    for (std::uint64_t n = rng.Below(40); n > 0 && static_cast<int>(fleet.size()) < size; --n) {
      Machine next = NextMachine(rng, model);
      if (!unique(next)) break;
      fleet.push_back(next);
    }
  }
  return fleet;
}

// The machines whose identifier text another machine also writes.
std::uint64_t CollidingMachines(const std::vector<Machine>& fleet, int kind) {
  std::unordered_map<std::string, unsigned> seen;
  seen.reserve(fleet.size() * 2);
  for (const Machine& machine : fleet) ++seen[IdentifierText(machine, kind)];
  std::uint64_t shared = 0;
  for (const auto& [text, count] : seen) shared += count > 1 ? count : 0;
  return shared;
}

// ---- Output --------------------------------------------------------------

void PrintAssumptions(const Ouis& ouis) {
  std::printf(
      "tavsn fleet bench, seed 0x%llX\n"
      "model:\n"
      "  OUIs: %zu MA-L entries of %s; onboard adapters use the %zu of PC/NIC makers\n"
      "        (Intel, Realtek, Dell, HP, Lenovo, ASUS, Gigabyte, MSI, ASRock, Broadcom), USB adapters any\n"
      "  processors: %d details texts (brand-type-family-model), e.g. %s\n"
      "  firmware: 62%% real serial (model prefix of 3-6 and a 6-digit number counted up along a batch),\n"
      "            30%% usable placeholder serial (%zu spellings), 5%% placeholder UUID (%zu) with an\n"
      "            unusable serial, 3%% unreadable (no system fields)\n"
      "  adapters: 1 (60%%), 2 (30%%), 3 (10%%), consecutive under the model's OUI; next machine\n"
      "            of a batch starts 0-3 addresses after the previous one's last\n"
      "impostors (two machines; 'same' is a false accept):\n"
      "  random pairs: %d pairs of machines of independent models\n"
      "  siblings: %d pairs from batches of 200-1,000 machines of one model\n"
      "  same model anywhere: %d pairs of one model, each anywhere in the OUI and its serial numbering\n"
      "  moved USB adapter / dock / dual-port card: %d pairs each; the adapter (USB, dual-port: sorting\n"
      "            first; dock: any address) on two machines, half of one model, half any\n"
      "  adversary: %d targets, each tried with the best of %d machines of its model\n"
      "events on one machine (%d machines each; 'different' is a false reject):\n"
      "  card replaced / added = an address under a PC/NIC maker's OUI, USB adapter = one more under\n"
      "            any OUI, processor upgrade = another text, firmware read failed once = GetPCSN\n"
      "            without system fields (an STA caller), firmware update = same record, dual-port card\n"
      "            (sorting first) replaced, dock attached or detached, STA caller beside a card replaced,\n"
      "            two events at once = card replaced and processor upgrade\n"
      "collisions: one model with real serials spread over its OUI in batches of 1-40\n\n",
      static_cast<unsigned long long>(kSeed), ouis.all.size(), kOuiPath, ouis.onboard.size(), kProcessorCount,
      "Intel(R) Core(TM) i5-8500 CPU @ 3.00GHz-00000000-00000006-00000158", kUsablePlaceholders.size(),
      std::size(kFleetPlaceholderUuids), kRandomPairs, kSiblingPairs, kModelPairs, kMovedPairs, kAdversaryTargets,
      kAdversaryChoices, kEventMachines);
}

double Percent(std::uint64_t part, std::uint64_t whole) { return whole ? 100.0 * part / whole : 0.0; }

void PrintTable(const std::vector<Row>& rows, const std::uint64_t (&collisions)[kKindCount][kFleetSizeCount]) {
  std::printf(
      "%% of pairs judged: same = false accept for two machines, different = false reject for events;\n"
      "changed = the evidence policy's same machine on two texts that differ (equal texts are the\n"
      "record's collision, no policy can tell them);\n"
      "collisions: %% (number) of a one-model fleet's machines whose identifier text another also has\n");
  for (int kind = 0; kind < kKindCount; ++kind) {
    std::printf("\n%-30s %7s | %-19s | %-40s\n", kKindNames[kind], "pairs", "count policy", "evidence policy");
    std::printf("%-30s %7s | %9s %9s | %9s %9s %9s %9s\n", "", "", "same", "diff", "same", "changed", "diff",
                "undecided");
    for (const Row& row : rows) {
      const Tally& t = row.tally[kind];
      const auto pct = [&](int p, MachineVerdict v) { return Percent(t.verdicts[p][static_cast<int>(v)], t.pairs); };
      std::printf("%-30s %7llu | %9.4f %9.4f | %9.4f %9.4f %9.4f %9.4f\n", row.name,
                  static_cast<unsigned long long>(t.pairs), pct(kCount, MachineVerdict::kSame),
                  pct(kCount, MachineVerdict::kDifferent), pct(kEvidence, MachineVerdict::kSame),
                  Percent(t.same_after_change, t.pairs), pct(kEvidence, MachineVerdict::kDifferent),
                  pct(kEvidence, MachineVerdict::kUndecided));
    }
    std::printf("%-30s %7s   collisions:", "", "");
    for (int f = 0; f < kFleetSizeCount; ++f) {
      std::printf(" %d machines %.4f%% (%llu)%s", kFleetSizes[f], Percent(collisions[kind][f], kFleetSizes[f]),
                  static_cast<unsigned long long>(collisions[kind][f]), f + 1 < kFleetSizeCount ? "," : "\n");
    }
  }
}

void PrintExamples(const std::vector<Row>& rows) {
  std::printf("\nfirst pair judged wrongly (before after), per cell with errors:\n");
  for (const Row& row : rows) {
    for (int kind = 0; kind < kKindCount; ++kind) {
      for (int p = 0; p < kPolicyCount; ++p) {
        if (row.tally[kind].example[p].empty()) continue;
        std::printf("  %-15s %-8s %-32s %s\n", kKindNames[kind], p == kCount ? "count" : "evidence", row.name,
                    row.tally[kind].example[p].c_str());
      }
    }
  }
}

}  // namespace

int main() {
  const auto start = std::chrono::steady_clock::now();
  Ouis ouis;
  if (!LoadOuis(kOuiPath, ouis)) {
    std::fprintf(stderr, "%s is missing or holds no MA-L entries: install Debian's ieee-data\n", kOuiPath);
    return 2;
  }
  PrintAssumptions(ouis);
  Rng rng(kSeed);
  std::vector<Row> rows;
  const auto impostor = [&](const char* name) -> Row& {
    rows.push_back({name, MachineVerdict::kSame, {}});
    return rows.back();
  };
  MeasureRandomPairs(rng, ouis, impostor("random pairs"));
  MeasureSiblingPairs(rng, ouis, impostor("siblings (batch 200-1,000)"));
  MeasureModelPairs(rng, ouis, impostor("same model anywhere in OUI"));
  MeasureMoved(Moved::kUsbLowest, rng, ouis, impostor("moved USB adapter"));
  MeasureMoved(Moved::kDock, rng, ouis, impostor("shared dock"));
  MeasureMoved(Moved::kDualPort, rng, ouis, impostor("moved dual-port card"));
  MeasureAdversary(rng, ouis, impostor("adversary, best of 100"));
  const std::pair<Event, const char*> events[] = {
      {Event::kCardReplaced, "event: card replaced"},
      {Event::kCardAdded, "event: card added"},
      {Event::kUsbAdapter, "event: USB adapter"},
      {Event::kProcessorUpgrade, "event: processor upgrade"},
      {Event::kFirmwareReadFailed, "event: firmware read failed"},
      {Event::kFirmwareUpdate, "event: firmware update"},
      {Event::kDualPortReplaced, "event: dual-port card replaced"},
      {Event::kDockCycle, "event: dock attached/detached"},
      {Event::kStaBesideCardReplaced, "event: STA caller + card"},
      {Event::kTwoEvents, "two events: card + processor"},
  };
  for (const auto& [event, name] : events) {
    rows.push_back({name, MachineVerdict::kDifferent, {}});
    MeasureEvent(event, rng, ouis, rows.back());
  }
  std::uint64_t collisions[kKindCount][kFleetSizeCount];
  for (int f = 0; f < kFleetSizeCount; ++f) {
    const std::vector<Machine> fleet = OneModelFleet(rng, ouis, kFleetSizes[f]);
    for (int kind = 0; kind < kKindCount; ++kind) collisions[kind][f] = CollidingMachines(fleet, kind);
  }
  PrintTable(rows, collisions);
  PrintExamples(rows);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::fprintf(stderr, "run time %.1f s\n", elapsed.count());
  return 0;
}
