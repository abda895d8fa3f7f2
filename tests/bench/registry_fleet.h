#pragma once
// A compact fleet for the registry's keys test and benchmark, after the
// model of tests/bench/fleet_bench.cpp (which lives inside that program):
// models with one vendor prefix and processor each, firmware real (62%), a
// placeholder serial (30%), a placeholder UUID (5%) or unreadable (3%),
// one to three adapters at consecutive addresses, batches in sequence; and
// one or two benign events on a machine.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "api/identifier_records.h"

namespace tavsn::registry_fleet {

struct Model {
  std::uint32_t oui;
  int processor;
  int firmware;  // 0 real, 1 placeholder serial, 2 placeholder UUID, 3 unreadable
  std::uint32_t cursor;
  std::uint32_t serial;
  std::string serial_prefix;  // real serials: 3 to 6 letters and digits, then a 6-digit number counted up
};

struct Machine {
  std::vector<std::uint64_t> macs;
  int processor = 0;
  int firmware = 0;
  std::string serial;
};

// The DLL's details texts of fleet_bench.cpp's processors.
const char* const kProcessors[] = {"Intel(R) Core(TM) i5-8500 CPU @ 3.00GHz-00000000-00000006-00000158",
                                   "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz-00000000-00000006-00000158",
                                   "Intel(R) Core(TM) i3-8100 CPU @ 3.60GHz-00000000-00000006-00000158",
                                   "Intel(R) Core(TM) i5-7500 CPU @ 3.40GHz-00000000-00000006-00000158",
                                   "Intel(R) Core(TM) i5-6500 CPU @ 3.20GHz-00000000-00000006-00000094",
                                   "Intel(R) Core(TM) i5-4590 CPU @ 3.30GHz-00000000-00000006-00000060",
                                   "Intel(R) Core(TM) i7-4790 CPU @ 3.60GHz-00000000-00000006-00000060",
                                   "Intel(R) Core(TM) i5-10500 CPU @ 3.10GHz-00000000-00000006-00000165",
                                   "Intel(R) Core(TM) i7-10700 CPU @ 2.90GHz-00000000-00000006-00000165",
                                   "11th Gen Intel(R) Core(TM) i5-11500 @ 2.70GHz-00000000-00000006-00000167",
                                   "12th Gen Intel(R) Core(TM) i5-12500-00000000-00000006-00000151",
                                   "12th Gen Intel(R) Core(TM) i7-12700-00000000-00000006-00000151",
                                   "13th Gen Intel(R) Core(TM) i5-13500-00000000-00000006-00000191",
                                   "Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz-00000000-00000006-00000142",
                                   "11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz-00000000-00000006-00000140",
                                   "Intel(R) Pentium(R) Gold G5400 CPU @ 3.70GHz-00000000-00000006-00000158",
                                   "Intel(R) Xeon(R) CPU E5-2620 v4 @ 2.10GHz-00000000-00000006-00000079",
                                   "AMD Ryzen 5 3600 6-Core Processor-00000000-00000023-00000113",
                                   "AMD Ryzen 5 PRO 4650G with Radeon Graphics-00000000-00000023-00000096",
                                   "AMD Ryzen 5 5600X 6-Core Processor-00000000-00000025-00000033",
                                   "AMD Ryzen 7 5800X 8-Core Processor-00000000-00000025-00000033"};
const char* const kPlaceholderSerials[] = {"To be filled by O.E.M.", "Default string", "System Serial Number"};

class Fleet {
 public:
  explicit Fleet(std::uint64_t seed) : rng_(seed) {}
  std::uint64_t Below(std::uint64_t n) { return rng_() % n; }

  Model NewModel() {
    const std::uint64_t draw = Below(100);
    Model model{Oui(),
                static_cast<int>(Below(std::size(kProcessors))),
                draw < 62   ? 0
                : draw < 92 ? 1
                : draw < 97 ? 2
                            : 3,
                static_cast<std::uint32_t>(rng_()),
                static_cast<std::uint32_t>(Below(900000)),
                std::string()};
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    model.serial_prefix.assign(3 + Below(4), ' ');
    for (char& c : model.serial_prefix) c = kChars[Below(36)];
    return model;
  }
  // Onboard adapters come from a few hundred vendor prefixes.
  std::uint32_t Oui() {
    if (ouis_.empty()) {
      for (int i = 0; i < 300; ++i) ouis_.push_back(static_cast<std::uint32_t>(rng_() & 0xFCFFFFu));  // unicast, global
    }
    return ouis_[Below(ouis_.size())];
  }
  Machine Next(Model& model) {
    Machine m;
    const std::uint64_t draw = Below(10);
    const int adapters = draw < 6 ? 1 : draw < 9 ? 2 : 3;
    for (int i = 0; i < adapters; ++i) m.macs.push_back(Address(model.oui, model.cursor + i));
    model.cursor += adapters + static_cast<std::uint32_t>(Below(4));
    m.processor = model.processor;
    m.firmware = model.firmware;
    char number[16];
    std::snprintf(number, sizeof number, "%06u", model.serial++ % 1000000u);
    m.serial = model.firmware == 0   ? model.serial_prefix + number
               : model.firmware == 1 ? kPlaceholderSerials[model.oui % std::size(kPlaceholderSerials)]
                                     : "";
    return m;
  }
  std::uint64_t Address(std::uint32_t oui, std::uint32_t nic) {
    return static_cast<std::uint64_t>(oui) << 24 | (nic & 0xFFFFFFu);
  }
  std::uint64_t RandomCard() { return Address(static_cast<std::uint32_t>(rng_() & 0xFCFFFFu), rng_()); }

  // The benign events, each a class of its own in the figures.
  enum Event { kCardReplaced, kCardAdded, kProcessorChanged, kFirmwareReadFailed, kOnlyCardReplaced, kEventCount };
  static const char* EventName(int event) {
    static const char* const kNames[] = {"card replaced", "card or USB adapter added", "processor changed",
                                         "firmware read failed once", "the only card replaced"};
    return kNames[event];
  }
  Machine AfterEvent(Machine m, int event) {
    switch (event) {
      case kCardReplaced: m.macs[Below(m.macs.size())] = RandomCard(); break;
      case kCardAdded: m.macs.push_back(RandomCard()); break;
      case kProcessorChanged: m.processor = (m.processor + 1) % static_cast<int>(std::size(kProcessors)); break;
      case kFirmwareReadFailed: m.firmware = 3; break;
      default: m.macs.assign(1, RandomCard()); break;
    }
    return m;
  }

  // One machine after one or two benign events.
  Machine AfterEvents(Machine m) {
    const int events = Below(5) == 0 ? 2 : 1;
    for (int i = 0; i < events; ++i) m = AfterEvent(m, static_cast<int>(Below(kEventCount)));
    return m;
  }

 private:
  std::mt19937_64 rng_;
  std::vector<std::uint32_t> ouis_;
};

void Bytes(std::uint64_t value, std::uint8_t (&bytes)[6]) {
  for (int i = 0; i < 6; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * (5 - i)));
}

std::vector<std::string> Bundle(const Machine& m) {
  std::vector<std::uint64_t> list = m.macs;
  std::sort(list.begin(), list.end());
  list.erase(std::unique(list.begin(), list.end()), list.end());
  std::uint8_t first[6], second[6];
  Bytes(list[0], first);
  Bytes(list.size() > 1 ? list[1] : list[0], second);
  char text[kIdentifierBufferSize];
  std::vector<std::string> bundle;
  MacSnText(MacSnRecord::Build(MacSnRecord::kSourceAdapter, static_cast<int>(list.size()), first, second), text);
  bundle.push_back(text);
  for (bool ex : {false, true}) {
    PcSnRecord record;
    record.SetFlag(PcSnRecord::kFlagMacStep);
    record.SetMac(first);
    record.SetFlag(PcSnRecord::kFlagProcessorDetails);
    record.SetTextFields(PcSnRecord::kProcessorLengthOffset, kProcessors[m.processor]);
    if (ex) {
      record.SetSelfChecksum();
    } else if (m.firmware <= 1) {
      record.SetFlag(PcSnRecord::kFlagSystemSerial);
      record.SetTextFields(PcSnRecord::kSystemLengthOffset, m.serial.c_str());
    } else if (m.firmware == 2) {
      record.SetFlag(PcSnRecord::kFlagSystemUuid);
      record.SetTextFields(PcSnRecord::kSystemLengthOffset, "00000000-00000000-00000000-00000000");
    }
    PcSnText(record, text);
    bundle.push_back(text);
  }
  return bundle;
}

}  // namespace tavsn::registry_fleet
