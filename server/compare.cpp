#include "server/compare.h"

#include <bitset>

namespace tavsn::server {
namespace {

constexpr std::uint16_t kProcessorFlags = PcSnRecord::kFlagProcessorSerial | PcSnRecord::kFlagProcessorDetails;
constexpr std::uint16_t kFirmwareFlags = PcSnRecord::kFlagSystemSerial | PcSnRecord::kFlagSystemUuid;

class ChangeList {
 public:
  explicit ChangeList(Comparison& out) : out_(out) {}

  void Add(const char* field, const std::string& before, const std::string& after, Component component) {
    if (before == after) return;
    out_.changes.push_back({field, before, after, component});
    out_.changed |= component;
  }
  void Add(const char* field, unsigned before, unsigned after, Component component) {
    Add(field, std::to_string(before), std::to_string(after), component);
  }
  void AddHex(const char* field, std::uint16_t before, std::uint16_t after, Component component) {
    Add(field, Hex16Text(before), Hex16Text(after), component);
  }

 private:
  Comparison& out_;
};

void CompareMac(const MacIdentifierFields& a, const MacIdentifierFields& b, ChangeList& changes) {
  changes.Add("source", a.source, b.source, kComponentMacSource);
  changes.Add("mac_count", a.mac_count, b.mac_count, kComponentMac);
  changes.Add("first_mac_masked", MacBytesText(a.first_masked, 6), MacBytesText(b.first_masked, 6), kComponentMac);
  changes.Add("second_mac_masked", MacBytesText(a.second_masked, 6), MacBytesText(b.second_masked, 6),
              kComponentMac);
}

void CompareMachine(const MachineIdentifierFields& a, const MachineIdentifierFields& b, bool with_firmware,
                    ChangeList& changes) {
  const auto flags = [](const MachineIdentifierFields& f, std::uint16_t mask) {
    return static_cast<std::uint16_t>(f.source_flags & mask);
  };
  changes.AddHex("mac_source_flags", flags(a, PcSnRecord::kFlagMacFromUuid), flags(b, PcSnRecord::kFlagMacFromUuid),
                 kComponentMacSource);
  changes.Add("mac_prefix", MacBytesText(a.mac_prefix, 2), MacBytesText(b.mac_prefix, 2), kComponentMac);
  changes.AddHex("mac_checksum", a.mac_checksum, b.mac_checksum, kComponentMac);
  changes.AddHex("processor_flags", flags(a, kProcessorFlags), flags(b, kProcessorFlags), kComponentProcessor);
  changes.Add("processor_length", a.processor_length, b.processor_length, kComponentProcessor);
  changes.AddHex("processor_checksum", a.processor_checksum, b.processor_checksum, kComponentProcessor);
  if (!with_firmware) return;  // GetPCSNEx: the system fields hold the record's own checksum
  changes.AddHex("firmware_flags", flags(a, kFirmwareFlags), flags(b, kFirmwareFlags), kComponentFirmware);
  changes.Add("system_length", a.system_length, b.system_length, kComponentFirmware);
  changes.AddHex("system_checksum", a.system_checksum, b.system_checksum, kComponentFirmware);
}

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

unsigned ComponentCount(unsigned components) { return static_cast<unsigned>(std::bitset<32>(components).count()); }

Comparison Compare(const ParsedIdentifier& before, const ParsedIdentifier& after, const ComparePolicy& policy) {
  Comparison out;
  if (!before.ok() || !after.ok()) return out;
  out.kind = before.kind;
  if (before.kind != after.kind) {
    out.status = CompareStatus::kDifferentKinds;
    return out;
  }
  const DecodedIdentifier a = Decode(before);
  const DecodedIdentifier b = Decode(after);
  ChangeList changes(out);
  if (out.kind == IdentifierKind::kMac) {
    CompareMac(a.mac, b.mac, changes);
  } else {
    const bool a_ex = HasSelfChecksumShape(a.machine);
    if (a_ex != HasSelfChecksumShape(b.machine)) {
      out.status = CompareStatus::kDifferentExports;
      return out;
    }
    CompareMachine(a.machine, b.machine, !a_ex, changes);
  }
  out.status = CompareStatus::kOk;
  out.same_machine = ComponentCount(out.changed) <= policy.max_changed && (out.changed & policy.must_keep) == 0;
  return out;
}

}  // namespace tavsn::server
