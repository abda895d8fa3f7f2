// tavsn_judge_bench: how many identifier pairs tavsn_judge and
// tavsn_judge_risk, and how many bundle pairs tavsn_judge_bundles, judge per
// second on one core. A figure, not a test: the pairs are a fixed mix of both
// kinds, changed and unchanged, built with the DLL's own encoder.
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "api/identifier_records.h"
#include "tavsn_server.h"

namespace {

using namespace tavsn;

std::string MacText(std::uint64_t first, std::uint64_t second, int count) {
  std::uint8_t a[6], b[6];
  for (int i = 0; i < 6; ++i) {
    a[i] = static_cast<std::uint8_t>(first >> (8 * (5 - i)));
    b[i] = static_cast<std::uint8_t>(second >> (8 * (5 - i)));
  }
  char text[kIdentifierBufferSize];
  MacSnText(MacSnRecord::Build(MacSnRecord::kSourceAdapter, count, a, b), text);
  return text;
}

std::string MachineText(std::uint64_t mac, const char* processor, const char* serial) {
  PcSnRecord record;
  record.SetFlag(PcSnRecord::kFlagMacStep);
  std::uint8_t bytes[6];
  for (int i = 0; i < 6; ++i) bytes[i] = static_cast<std::uint8_t>(mac >> (8 * (5 - i)));
  record.SetMac(bytes);
  record.SetFlag(PcSnRecord::kFlagProcessorDetails);
  record.SetTextFields(PcSnRecord::kProcessorLengthOffset, processor);
  if (serial == nullptr) {
    record.SetSelfChecksum();
  } else {
    record.SetFlag(PcSnRecord::kFlagSystemSerial);
    record.SetTextFields(PcSnRecord::kSystemLengthOffset, serial);
  }
  char text[kIdentifierBufferSize];
  PcSnText(record, text);
  return text;
}

double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

template <typename Judge>
double PairsPerSecond(const std::vector<std::pair<std::string, std::string>>& pairs, Judge judge) {
  constexpr int kRounds = 400000;
  // Thread CPU time, not wall time: other work on the machine slows the
  // clock on the wall, not the pairs per second of CPU the judge needs.
  const double start = ThreadSeconds();
  unsigned sink = 0;
  for (int i = 0; i < kRounds; ++i) {
    const auto& [a, b] = pairs[i % pairs.size()];
    sink += judge(a, b);
  }
  const double elapsed = ThreadSeconds() - start;
  if (sink == 0) std::printf("(no verdicts)\n");
  return kRounds / elapsed;
}

}  // namespace

int main() {
  const char* cpu = "Intel(R) Core(TM) i5-8500 CPU @ 3.00GHz-00000000-00000006-00000158";
  const char* cpu2 = "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz-00000000-00000006-00000158";
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {MacText(0x0A1B2C3D4E5F, 0x102030405060, 2), MacText(0x0A1B2C3D4E5F, 0x102030405060, 2)},
      {MacText(0x0A1B2C3D4E5F, 0x102030405060, 2), MacText(0x0A1B2C3D4E5F, 0x3C9CB0000001, 2)},
      {MachineText(0x0A1B2C3D4E5F, cpu, nullptr), MachineText(0x0A1B2C3D4E5F, cpu2, nullptr)},
      {MachineText(0x0A1B2C3D4E5F, cpu, "PF2ABC12"), MachineText(0x3C9CB0000001, cpu, "PF2ABC12")},
      {MachineText(0x0A1B2C3D4E5F, cpu, "Default string"), MachineText(0x0A1B2C3D4E60, cpu, "Default string")},
      {MachineText(0x0A1B2C3D4E5F, cpu, "PF2ABC12"), MachineText(0x0A1B2C3D4E5F, cpu2, "PF2ABC12")},
  };
  tavsn_judgment judgment;
  tavsn_risk risk;
  const double judged = PairsPerSecond(pairs, [&](const std::string& a, const std::string& b) {
    tavsn_judge(a.data(), a.size(), b.data(), b.size(), nullptr, &judgment);
    return static_cast<unsigned>(judgment.verdict);
  });
  const double risked = PairsPerSecond(pairs, [&](const std::string& a, const std::string& b) {
    tavsn_judge_risk(a.data(), a.size(), b.data(), b.size(), nullptr, 0.0, &judgment, &risk);
    return static_cast<unsigned>(risk.verdict);
  });
  // Bundles of one call site: GetMacSN, GetPCSN and GetPCSNEx, the pairs
  // of a machine before and after a card replaced, a processor upgrade and
  // a moved adapter.
  const auto bundle = [&](std::uint64_t first, std::uint64_t second, const char* processor, const char* serial) {
    return MacText(first, second, 2) + MachineText(first, processor, serial) + MachineText(first, processor, nullptr);
  };
  const std::vector<std::pair<std::string, std::string>> bundles = {
      {bundle(0x0A1B2C3D4E5F, 0x0A1B2C3D4E60, cpu, "PF2ABC12"),
       bundle(0x0A1B2C3D4E5F, 0x0A1B2C3D4E60, cpu, "PF2ABC12")},
      {bundle(0x0A1B2C3D4E5F, 0x0A1B2C3D4E60, cpu, "PF2ABC12"),
       bundle(0x0A1B2C3D4E5F, 0x3C9CB0000001, cpu, "PF2ABC12")},
      {bundle(0x0A1B2C3D4E5F, 0x0A1B2C3D4E60, cpu, "PF2ABC12"),
       bundle(0x0A1B2C3D4E5F, 0x0A1B2C3D4E60, cpu2, "PF2ABC12")},
      {bundle(0x0A1B2C3D4E5F, 0x0A1B2C3D4E60, cpu, "PF2ABC12"),
       bundle(0x0A1B2C3D4E5F, 0x102030405060, cpu, "PF2XYZ99")},
  };
  tavsn_bundle_judgment bundle_judgment;
  const double bundled = PairsPerSecond(bundles, [&](const std::string& a, const std::string& b) {
    tavsn_bundle sides[2] = {};
    for (int side = 0; side < 2; ++side) {
      const std::string& texts = side == 0 ? a : b;
      sides[side].count = 3;
      for (std::size_t i = 0; i < 3; ++i) {
        sides[side].texts[i] = texts.data() + i * kIdentifierLength;
        sides[side].lengths[i] = kIdentifierLength;
      }
    }
    tavsn_judge_bundles(&sides[0], &sides[1], nullptr, 0.0, &bundle_judgment);
    return static_cast<unsigned>(bundle_judgment.risk.verdict);
  });
  std::printf("tavsn_judge:         %.2f M pairs/s per CPU second (one core)\n", judged / 1e6);
  std::printf("tavsn_judge_risk:    %.2f M pairs/s per CPU second (one core)\n", risked / 1e6);
  std::printf("tavsn_judge_bundles: %.2f M pairs of 3-member bundles/s per CPU second (one core)\n", bundled / 1e6);
  return 0;
}
