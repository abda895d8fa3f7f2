#include "tests/fakes/fake_probe_platform.h"

#include "tests/fakes/fake_base.h"
#include "tests/fakes/fake_cpuid_platform.h"

#include <cstdio>
#include <cstring>

namespace tavsn {
namespace fakeprobe {

State& state() {
  static State the_state;
  return the_state;
}

namespace {

void Note(const char* what) { state().journal.emplace_back(what); }

// The highest basic leaf of the worked examples' processor, and the highest
// extended leaf without brand leaves and with them.
constexpr std::uint32_t kHighestBasicLeaf = 0x16;
constexpr std::uint32_t kHighestLeafWithoutBrand = 0x80000001;
constexpr std::uint32_t kHighestLeafWithBrand = 0x80000008;

}  // namespace

void SetVendor(std::uint32_t highest_leaf, const char (&vendor)[13]) {
  using fakecpuid::kRegisterBytes;
  state().cpuid[0] = {highest_leaf, fakecpuid::RegisterFromText(vendor),
                      fakecpuid::RegisterFromText(vendor + 2 * kRegisterBytes),
                      fakecpuid::RegisterFromText(vendor + kRegisterBytes)};
}

void SetBrand(const std::string& text) {
  state().cpuid[fakecpuid::kExtendedRangeLeaf] = {kHighestLeafWithBrand, 0, 0, 0};
  CpuidRegisters leaves[fakecpuid::kBrandLeafCount];
  fakecpuid::BrandLeaves(text, leaves);
  for (std::uint32_t part = 0; part < fakecpuid::kBrandLeafCount; ++part) {
    state().cpuid[fakecpuid::kFirstBrandLeaf + part] = leaves[part];
  }
}

// The fingerprint's own view of CPUID: its leaves and a journal entry per
// execution, answered through the one CPUID fake.
CpuidRegisters AnswerCpuid(std::uint32_t leaf) {
  char entry[32];
  std::snprintf(entry, sizeof entry, "cpuid %X", static_cast<unsigned>(leaf));
  state().journal.emplace_back(entry);
  auto found = state().cpuid.find(leaf);
  return found == state().cpuid.end() ? CpuidRegisters{0, 0, 0, 0} : found->second;
}

void Reset() {
  state() = State{};
  fakecpuid::Reset();
  fakecpuid::state().answer = AnswerCpuid;
  SetVendor(kHighestBasicLeaf, "GenuineIntel");
  state().cpuid[fakecpuid::kExtendedRangeLeaf] = {kHighestLeafWithoutBrand, 0, 0, 0};
}

}  // namespace fakeprobe

namespace probeos {

using fakeprobe::state;

struct FakeProbeKey : fakebase::FakeResource {
  void Release() override {
    fakeprobe::Note("close key");
    --state().keys_open;
    delete this;
  }
};

struct FakeDisk : fakebase::FakeResource {
  void Release() override {
    fakeprobe::Note("close disk");
    --state().disks_open;
    delete this;
  }
};

Status OpenMachineKey(const char16_t* path, RegistryKey& key) noexcept {
  fakeprobe::Note("open key");
  state().opened_key_path = path;
  if (state().clock_key_status != kSuccess) return state().clock_key_status;
  ++state().keys_open;
  key.reset(fakebase::HandleOf<HKEY__*>(new FakeProbeKey));
  return kSuccess;
}

Status QueryNumberValue(const RegistryKey& key, const char16_t* name, std::uint32_t& value) noexcept {
  fakeprobe::Note(key.is_valid() ? "query value" : "query value on a closed key");
  state().queried_value_name = name;
  if (state().clock_value_status != kSuccess) return state().clock_value_status;
  value = state().clock_mhz;
  return kSuccess;
}

bool TotalPhysicalMemory(std::uint64_t& bytes) noexcept {
  fakeprobe::Note("memory status");
  if (!state().memory_answers) return false;
  bytes = state().total_physical_bytes;
  return true;
}

bool OpenDiskForReadWrite(const char16_t* path, FileHandle& disk) noexcept {
  fakeprobe::Note("open disk");
  state().opened_disk_path = path;
  if (!state().disk_opens) return false;
  ++state().disks_open;
  disk.reset(fakebase::HandleOf<FileObject*>(new FakeDisk));
  return true;
}

bool QueryDiskLength(const FileHandle& disk, std::int64_t& length) noexcept {
  fakeprobe::Note(disk.is_valid() ? "disk length" : "disk length on a closed disk");
  if (!state().disk_answers) return false;
  length = state().disk_length;
  return true;
}

Status FirstAdapterAddress(std::uint8_t (&address)[6]) noexcept {
  fakeprobe::Note("adapter list");
  if (state().adapter_status != kSuccess) return state().adapter_status;
  std::memcpy(address, state().adapter_address, sizeof address);
  return kSuccess;
}

void WriteStandardOutput(const char* text) noexcept {
  fakeprobe::Note("standard output");
  state().standard_output += text;
}

}  // namespace probeos
}  // namespace tavsn
