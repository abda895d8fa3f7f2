#pragma once
// A compact fleet for the registry's keys test and benchmark, after the
// model of tests/bench/fleet_bench.cpp (which lives inside that program):
// models with one vendor prefix and processor each, firmware real (62%), a
// placeholder serial (30%), a placeholder UUID (5%) or unreadable (3%),
// one to three adapters at consecutive addresses, batches in sequence; and
// one or two benign events on a machine.

#include <algorithm>
#include <cstdint>
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
};

struct Machine {
  std::vector<std::uint64_t> macs;
  int processor = 0;
  int firmware = 0;
  std::string serial;
};

const char* const kProcessors[] = {"Intel(R) Core(TM) i5-8500 CPU @ 3.00GHz-00000000-00000006-00000158",
                                   "Intel(R) Core(TM) i7-10700 CPU @ 2.90GHz-00000000-00000006-00000165",
                                   "AMD Ryzen 5 3600 6-Core Processor-00000000-00000023-00000113",
                                   "12th Gen Intel(R) Core(TM) i5-12500-00000000-00000006-00000151"};
const char* const kPlaceholderSerials[] = {"To be filled by O.E.M.", "Default string", "System Serial Number"};

class Fleet {
 public:
  explicit Fleet(std::uint64_t seed) : rng_(seed) {}
  std::uint64_t Below(std::uint64_t n) { return rng_() % n; }

  Model NewModel() {
    const std::uint64_t draw = Below(100);
    return {static_cast<std::uint32_t>(0x001000 + Below(4000)), static_cast<int>(Below(std::size(kProcessors))),
            draw < 62   ? 0
            : draw < 92 ? 1
            : draw < 97 ? 2
                        : 3,
            static_cast<std::uint32_t>(rng_()), static_cast<std::uint32_t>(Below(900000))};
  }
  Machine Next(Model& model) {
    Machine m;
    const std::uint64_t draw = Below(10);
    const int adapters = draw < 6 ? 1 : draw < 9 ? 2 : 3;
    for (int i = 0; i < adapters; ++i) m.macs.push_back(Address(model.oui, model.cursor + i));
    model.cursor += adapters + static_cast<std::uint32_t>(Below(4));
    m.processor = model.processor;
    m.firmware = model.firmware;
    m.serial = model.firmware == 0   ? "SN" + std::to_string(model.oui) + "-" + std::to_string(model.serial++)
               : model.firmware == 1 ? kPlaceholderSerials[model.oui % std::size(kPlaceholderSerials)]
                                     : "";
    return m;
  }
  std::uint64_t Address(std::uint32_t oui, std::uint32_t nic) {
    return static_cast<std::uint64_t>(oui) << 24 | (nic & 0xFFFFFFu);
  }
  std::uint64_t RandomCard() { return Address(static_cast<std::uint32_t>(0x001000 + Below(4000)), rng_()); }

  // One machine after one or two benign events.
  Machine AfterEvents(Machine m) {
    const int events = Below(5) == 0 ? 2 : 1;
    for (int i = 0; i < events; ++i) {
      switch (Below(5)) {
        case 0: m.macs[Below(m.macs.size())] = RandomCard(); break;  // card replaced
        case 1: m.macs.push_back(RandomCard()); break;               // card or USB adapter added
        case 2: m.processor = (m.processor + 1) % static_cast<int>(std::size(kProcessors)); break;
        case 3: m.firmware = 3; break;                   // read failed once
        default: m.macs.assign(1, RandomCard()); break;  // the only card replaced
      }
    }
    return m;
  }

 private:
  std::mt19937_64 rng_;
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
