// tavsn_fleet_bench: how often the licence server's verdicts err on a
// modelled fleet, under the count policy and the evidence policy side by
// side, and how often two machines of a fleet write the same identifier text
// (the limit no policy can beat). Figures, not a pass/fail test; the same
// seed gives the same numbers on every run.
//
// The model, printed again at the start of the output:
// - Vendor prefixes come from /usr/share/ieee-data/oui.csv (Debian's
//   ieee-data, MA-L entries): a model's onboard adapters use one OUI of the
//   PC and NIC makers found there by organization name; USB adapters any OUI.
// - Processor texts are the DLL's details form of ~20 common models.
// - Firmware: 62% a real serial (10-12 of A-Z0-9), 30% a usable placeholder
//   serial, 5% a placeholder UUID with an unusable serial, 3% unreadable.
// - Adapters per machine: 1 (60%), 2 (30%), 3 (10%), consecutive addresses
//   under the model's OUI; the next machine of a batch starts 0-3 addresses
//   after the last one of the previous machine.
// - Siblings: two machines of one batch (2-40 machines) of one model whose
//   firmware is a placeholder or unreadable. Random pairs: two machines of
//   independent models. Fleets: batches of 1-40 machines of one model.
// - Events: card replaced (one adapter's address is now that of an add-in
//   card of a PC/NIC maker), card added (likewise, one more), USB adapter
//   (one more, any OUI), processor upgrade (another text of the list),
//   firmware read failed once (GetPCSN writes zero system fields), firmware
//   update keeping the serial (the same record).
// - The identifiers are built with the DLL's own encoder in the order its
//   exports fill the records.
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
#include <utility>
#include <vector>

#include "api/identifier_records.h"
#include "server/compare.h"
#include "server/evidence.h"
#include "server/identifier.h"
#include "server/match.h"

namespace {

using namespace tavsn;
using namespace tavsn::server;

constexpr std::uint64_t kSeed = 0x7A5F1EE7B0A7D5ULL;
constexpr int kRandomPairs = 200000, kSiblingPairs = 100000, kEventMachines = 20000;
constexpr int kSmallFleet = 1000, kLargeFleet = 100000;
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
};

struct Machine {
  std::vector<std::uint64_t> macs;
  int processor = 0;
  bool firmware_readable = true;
  std::string serial, uuid;
};

enum Kind { kTq11, kGetPcsn, kGetPcsnEx, kKindCount };
constexpr const char* kKindNames[] = {"TQ11 (GetMacSN)", "TQ12 GetPCSN", "TQ12 GetPCSNEx"};

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

std::vector<std::string> Placeholders(bool usable) {
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < kPlaceholderSerialCount; ++i) {
    if (SerialNumberUsable(kPlaceholderSerials[i].text) == usable) texts.push_back(kPlaceholderSerials[i].text);
  }
  return texts;
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
    model.uuid = PlaceholderUuidText(kPlaceholderUuids[rng.Below(kPlaceholderUuidCount)]);
  }
  return model;
}

std::string RealSerial(Rng& rng) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string serial(10 + rng.Below(3), ' ');
  for (char& c : serial) c = kChars[rng.Below(36)];
  return serial;
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
  machine.serial = model.firmware == Firmware::kRealSerial ? RealSerial(rng) : model.serial;
  machine.uuid = model.uuid;
  return machine;
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
  return Tq12Text(machine, list[0], kind == kGetPcsnEx, firmware_read);
}

// ---- Verdicts ------------------------------------------------------------

enum PolicyIndex { kCount, kEvidence, kPolicyCount };

struct Tally {
  std::uint64_t pairs = 0;
  std::uint64_t verdicts[kPolicyCount][3] = {};  // by MachineVerdict
  std::string example[kPolicyCount];             // the first pair judged wrongly
};

struct Row {
  const char* name;
  MachineVerdict error;  // kSame for pairs of two machines, kDifferent for events
  Tally tally[kKindCount];
};

void Judge(const std::string& before, const std::string& after, MachineVerdict error, Tally& tally) {
  const ParsedIdentifier a = ParseIdentifier(before), b = ParseIdentifier(after);
  const ComparePolicy policies[kPolicyCount] = {CountPolicy(), ComparePolicy{}};
  ++tally.pairs;
  for (int p = 0; p < kPolicyCount; ++p) {
    const Comparison c = Compare(a, b, policies[p]);
    if (c.status != CompareStatus::kOk) {
      std::fprintf(stderr, "the model built a pair the library refuses: %s %s\n", before.c_str(), after.c_str());
      std::exit(1);
    }
    ++tally.verdicts[p][static_cast<int>(c.verdict)];
    if (c.verdict == error && tally.example[p].empty()) tally.example[p] = before + " " + after;
  }
}

void JudgeMachines(const Machine& before, const Machine& after, Row& row, bool firmware_read_after = true) {
  for (int kind = 0; kind < kKindCount; ++kind) {
    Judge(IdentifierText(before, kind), IdentifierText(after, kind, firmware_read_after), row.error, row.tally[kind]);
  }
}

void MeasureRandomPairs(Rng& rng, const Ouis& ouis, Row& row) {
  for (int i = 0; i < kRandomPairs; ++i) {
    const Machine a = RandomMachine(rng, ouis);
    JudgeMachines(a, RandomMachine(rng, ouis), row);
  }
}

void MeasureSiblingPairs(Rng& rng, const Ouis& ouis, Row& row) {
  for (int i = 0; i < kSiblingPairs; ++i) {
    Model model = DrawModel(rng, ouis, true);
    std::vector<Machine> batch(2 + rng.Below(39));
    for (Machine& machine : batch) machine = NextMachine(rng, model);
    const std::uint64_t first = rng.Below(batch.size());
    const std::uint64_t second = (first + 1 + rng.Below(batch.size() - 1)) % batch.size();
    JudgeMachines(batch[first], batch[second], row);
  }
}

enum class Event { kCardReplaced, kCardAdded, kUsbAdapter, kProcessorUpgrade, kFirmwareReadFailed, kFirmwareUpdate };

// The machine after the event; `firmware_read` false when GetPCSN's read fails.
Machine Apply(Event event, Machine machine, Rng& rng, const Ouis& ouis, bool& firmware_read) {
  firmware_read = true;
  switch (event) {
    case Event::kCardReplaced: machine.macs[rng.Below(machine.macs.size())] = CardAddress(rng, ouis.onboard); break;
    case Event::kCardAdded: machine.macs.push_back(CardAddress(rng, ouis.onboard)); break;
    case Event::kUsbAdapter: machine.macs.push_back(CardAddress(rng, ouis.all)); break;
    case Event::kProcessorUpgrade:
      machine.processor = static_cast<int>((machine.processor + 1 + rng.Below(kProcessorCount - 1)) % kProcessorCount);
      break;
    case Event::kFirmwareReadFailed: firmware_read = false; break;
    case Event::kFirmwareUpdate: break;
  }
  return machine;
}

void MeasureEvent(Event event, Rng& rng, const Ouis& ouis, Row& row) {
  for (int i = 0; i < kEventMachines; ++i) {
    const Machine before = RandomMachine(rng, ouis);
    bool firmware_read = true;
    const Machine after = Apply(event, before, rng, ouis, firmware_read);
    JudgeMachines(before, after, row, firmware_read);
  }
}

// ---- Collisions ----------------------------------------------------------

std::vector<Machine> Fleet(Rng& rng, const Ouis& ouis, int size) {
  std::vector<Machine> fleet;
  fleet.reserve(size);
  while (static_cast<int>(fleet.size()) < size) {
    Model model = DrawModel(rng, ouis, false);
    for (std::uint64_t n = 1 + rng.Below(40); n > 0 && static_cast<int>(fleet.size()) < size; --n) {
      fleet.push_back(NextMachine(rng, model));
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
      "  firmware: 62%% real serial (10-12 of A-Z0-9), 30%% usable placeholder serial (%zu texts),\n"
      "            5%% placeholder UUID (%zu) with an unusable serial, 3%% unreadable (no system fields)\n"
      "  adapters: 1 (60%%), 2 (30%%), 3 (10%%), consecutive under the model's OUI; next machine\n"
      "            of a batch starts 0-3 addresses after the previous one's last\n"
      "  random pairs: %d pairs of machines of independent models\n"
      "  siblings: %d pairs from one batch (2-40) of a model with placeholder or unreadable firmware\n"
      "  events, %d machines each: card replaced / added = an address under a PC/NIC maker's OUI,\n"
      "            USB adapter = one more address under any OUI, processor upgrade = another text,\n"
      "            firmware read failed once = GetPCSN without system fields, firmware update = same record\n"
      "  fleets: batches of 1-40 machines of one model; 1,000 and 100,000 machines\n\n",
      static_cast<unsigned long long>(kSeed), ouis.all.size(), kOuiPath, ouis.onboard.size(), kProcessorCount,
      "Intel(R) Core(TM) i5-8500 CPU @ 3.00GHz-00000000-00000006-00000158", kUsablePlaceholders.size(),
      kPlaceholderUuidCount, kRandomPairs, kSiblingPairs, kEventMachines);
}

double Percent(std::uint64_t part, std::uint64_t whole) { return whole ? 100.0 * part / whole : 0.0; }

void PrintTable(const std::vector<Row>& rows, const std::uint64_t (&collisions)[kKindCount][2]) {
  std::printf(
      "%% of pairs judged: same = false accept for two machines, different = false reject for events;\n"
      "collisions: %% (number) of a fleet's machines whose identifier text another machine also has\n");
  for (int kind = 0; kind < kKindCount; ++kind) {
    std::printf("\n%-30s %7s | %-19s | %-30s\n", kKindNames[kind], "pairs", "count policy", "evidence policy");
    std::printf("%-30s %7s | %9s %9s | %9s %9s %9s\n", "", "", "same", "diff", "same", "diff", "undecided");
    for (const Row& row : rows) {
      const Tally& t = row.tally[kind];
      const auto pct = [&](int p, MachineVerdict v) { return Percent(t.verdicts[p][static_cast<int>(v)], t.pairs); };
      std::printf("%-30s %7llu | %9.4f %9.4f | %9.4f %9.4f %9.4f\n", row.name, static_cast<unsigned long long>(t.pairs),
                  pct(kCount, MachineVerdict::kSame), pct(kCount, MachineVerdict::kDifferent),
                  pct(kEvidence, MachineVerdict::kSame), pct(kEvidence, MachineVerdict::kDifferent),
                  pct(kEvidence, MachineVerdict::kUndecided));
    }
    std::printf("%-30s %7s   collisions: fleet of 1,000 %.4f%% (%llu), of 100,000 %.4f%% (%llu)\n", "", "",
                Percent(collisions[kind][0], kSmallFleet), static_cast<unsigned long long>(collisions[kind][0]),
                Percent(collisions[kind][1], kLargeFleet), static_cast<unsigned long long>(collisions[kind][1]));
  }
}

void PrintExamples(const std::vector<Row>& rows) {
  std::printf("\nfirst pair judged wrongly (before after), per cell with errors:\n");
  for (const Row& row : rows) {
    for (int kind = 0; kind < kKindCount; ++kind) {
      for (int p = 0; p < kPolicyCount; ++p) {
        if (row.tally[kind].example[p].empty()) continue;
        std::printf("  %-15s %-8s %-28s %s\n", kKindNames[kind], p == kCount ? "count" : "evidence", row.name,
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
  std::vector<Row> rows = {{"random pairs", MachineVerdict::kSame, {}}, {"sibling pairs", MachineVerdict::kSame, {}}};
  MeasureRandomPairs(rng, ouis, rows[0]);
  MeasureSiblingPairs(rng, ouis, rows[1]);
  const std::pair<Event, const char*> events[] = {{Event::kCardReplaced, "event: card replaced"},
                                                  {Event::kCardAdded, "event: card added"},
                                                  {Event::kUsbAdapter, "event: USB adapter"},
                                                  {Event::kProcessorUpgrade, "event: processor upgrade"},
                                                  {Event::kFirmwareReadFailed, "event: firmware read failed"},
                                                  {Event::kFirmwareUpdate, "event: firmware update"}};
  for (const auto& [event, name] : events) {
    rows.push_back({name, MachineVerdict::kDifferent, {}});
    MeasureEvent(event, rng, ouis, rows.back());
  }
  std::uint64_t collisions[kKindCount][2];
  const std::vector<Machine> fleets[2] = {Fleet(rng, ouis, kSmallFleet), Fleet(rng, ouis, kLargeFleet)};
  for (int kind = 0; kind < kKindCount; ++kind) {
    for (int f = 0; f < 2; ++f) collisions[kind][f] = CollidingMachines(fleets[f], kind);
  }
  PrintTable(rows, collisions);
  PrintExamples(rows);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::fprintf(stderr, "run time %.1f s\n", elapsed.count());
  return 0;
}
