#include "registry/keys.h"

#include <algorithm>
#include <cstring>

#include "server/evidence.h"
#include "server/fingerprint.h"
#include "server/identifier.h"

namespace tavsn::registry {
namespace {

using server::BundleMember;

// FNV-1a, 64 bits: stable across compilers and versions, which std::hash
// is not, and keys are stored.
class KeyHash {
 public:
  KeyHash(KeyFact fact, BundleMember member) {
    Byte(static_cast<std::uint8_t>(fact));
    Byte(static_cast<std::uint8_t>(member));
  }
  KeyHash& Bytes(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) Byte(bytes[i]);
    return *this;
  }
  KeyHash& Text(const std::string& text) {
    // The length first, so that ("ab", "c") and ("a", "bc") differ.
    const std::uint64_t size = text.size();
    return Bytes(&size, sizeof size).Bytes(text.data(), text.size());
  }
  LookupKey Key() const { return static_cast<LookupKey>(value_); }

 private:
  void Byte(std::uint8_t byte) {
    value_ ^= byte;
    value_ *= 0x100000001B3ULL;
  }
  std::uint64_t value_ = 0xCBF29CE484222325ULL;
};

int MemberIndex(BundleMember member) { return static_cast<int>(member); }

BundleMember MemberOf(const server::ParsedIdentifier& parsed) {
  if (parsed.kind == server::IdentifierKind::kMac) return BundleMember::kGetMacSn;
  return server::HasSelfChecksumShape(server::Decode(parsed).machine) ? BundleMember::kGetPcSnEx
                                                                      : BundleMember::kGetPcSn;
}

bool AllZero(const std::string& shape) { return shape.find_first_not_of('0') == std::string::npos; }

void AddressShapeKeys(const server::DecodedIdentifier& decoded, std::vector<LookupKey>& keys) {
  for (const std::string& shape : server::AddressShapes(decoded.mac)) {
    // No address at all reads as zeros, which every such machine shares.
    if (AllZero(shape)) continue;
    keys.push_back(KeyHash(KeyFact::kAddressShape, BundleMember::kGetMacSn).Text(shape).Key());
  }
}

bool CarriesFirmware(const server::MachineIdentifierFields& f) {
  return f.made_by == server::MachineExport::kGetPcsnSerial || f.made_by == server::MachineExport::kGetPcsnUuid;
}

bool HasMac(const server::MachineIdentifierFields& f) {
  return (f.source_flags & PcSnRecord::kFlagMacStep) != 0 &&
         (f.mac_prefix[0] != 0 || f.mac_prefix[1] != 0 || f.mac_checksum != 0);
}

void MachineKeys(BundleMember member, const server::DecodedIdentifier& decoded, std::vector<LookupKey>& keys) {
  const server::MachineIdentifierFields& f = decoded.machine;
  if (HasMac(f)) {
    const std::uint16_t from_uuid = f.source_flags & PcSnRecord::kFlagMacFromUuid;
    keys.push_back(KeyHash(KeyFact::kMachineMac, member)
                       .Bytes(&from_uuid, sizeof from_uuid)
                       .Bytes(f.mac_prefix, 2)
                       .Bytes(&f.mac_checksum, sizeof f.mac_checksum)
                       .Key());
  }
  if (member == BundleMember::kGetPcSn && CarriesFirmware(f) && !server::HoldsPlaceholder(f)) {
    const std::uint16_t kind = f.source_flags & (PcSnRecord::kFlagSystemSerial | PcSnRecord::kFlagSystemUuid);
    keys.push_back(KeyHash(KeyFact::kRealFirmware, member)
                       .Bytes(&kind, sizeof kind)
                       .Bytes(&f.system_length, sizeof f.system_length)
                       .Bytes(&f.system_checksum, sizeof f.system_checksum)
                       .Key());
  }
}

// The weak facts of a machine identifier that survive a replaced card: its
// processor fields; with a real firmware text, that text's fields too in
// one variant.
LookupKey ScopeKey(KeyFact fact, const std::string& scope, BundleMember member,
                   const server::MachineIdentifierFields& f, const server::MachineIdentifierFields* firmware) {
  const std::uint16_t processor_kind =
      f.source_flags & (PcSnRecord::kFlagProcessorSerial | PcSnRecord::kFlagProcessorDetails);
  KeyHash hash(fact, member);
  hash.Text(scope)
      .Bytes(&processor_kind, sizeof processor_kind)
      .Bytes(&f.processor_length, sizeof f.processor_length)
      .Bytes(&f.processor_checksum, sizeof f.processor_checksum);
  if (firmware) {
    const std::uint16_t kind = firmware->source_flags & (PcSnRecord::kFlagSystemSerial | PcSnRecord::kFlagSystemUuid);
    hash.Bytes(&kind, sizeof kind)
        .Bytes(&firmware->system_length, sizeof firmware->system_length)
        .Bytes(&firmware->system_checksum, sizeof firmware->system_checksum);
  }
  return hash.Key();
}

void SortUnique(std::vector<LookupKey>& keys) {
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
}

}  // namespace

ReadBundle ReadBundleTexts(const std::vector<std::string>& texts) {
  ReadBundle out;
  // The judgment's own reading: a bundle compared with itself fails exactly
  // where it cannot be judged (malformed, not the DLL's, inconsistent).
  const server::BundleComparison self = server::CompareBundles(texts, texts);
  out.status = self.status;
  out.position = self.position;
  out.problem = self.problem;
  if (self.status != server::BundleStatus::kOk) return out;
  for (const std::string& text : texts) {
    if (server::ReadAsIdentifier(text)) {
      out.members.push_back({MemberIndex(MemberOf(server::ParseIdentifier(text))), text});
    } else {
      out.members.push_back({MemberIndex(BundleMember::kFingerprint), server::ParseFingerprint(text).text()});
    }
  }
  std::sort(out.members.begin(), out.members.end(),
            [](const MemberText& a, const MemberText& b) { return a.member < b.member; });
  return out;
}

std::vector<LookupKey> GlobalKeys(const std::vector<MemberText>& members) {
  std::vector<LookupKey> keys;
  for (const MemberText& m : members) {
    const auto member = static_cast<BundleMember>(m.member);
    keys.push_back(KeyHash(KeyFact::kExactRecord, member).Text(m.text).Key());
    if (member == BundleMember::kFingerprint) continue;  // digits tell no fact apart
    const server::ParsedIdentifier parsed = server::ParseIdentifier(m.text);
    if (!parsed.ok()) continue;
    const server::DecodedIdentifier decoded = server::Decode(parsed);
    if (member == BundleMember::kGetMacSn) {
      AddressShapeKeys(decoded, keys);
    } else {
      MachineKeys(member, decoded, keys);
    }
  }
  SortUnique(keys);
  return keys;
}

std::vector<LookupKey> ExactKeys(const std::vector<MemberText>& members) {
  std::vector<LookupKey> keys;
  for (const MemberText& m : members) {
    keys.push_back(KeyHash(KeyFact::kExactRecord, static_cast<BundleMember>(m.member)).Text(m.text).Key());
  }
  SortUnique(keys);
  return keys;
}

std::vector<LookupKey> ScopeKeys(const std::string& scope, const std::vector<MemberText>& members, ScopeKeyUse use) {
  // The bundle's real firmware text, if its GetPCSN holds one: it speaks
  // for the whole bundle, GetPCSNEx included.
  std::vector<std::pair<BundleMember, server::MachineIdentifierFields>> machine_members;
  const server::MachineIdentifierFields* firmware = nullptr;
  for (const MemberText& m : members) {
    const auto member = static_cast<BundleMember>(m.member);
    if (member != BundleMember::kGetPcSn && member != BundleMember::kGetPcSnEx) continue;
    const server::ParsedIdentifier parsed = server::ParseIdentifier(m.text);
    if (!parsed.ok()) continue;
    machine_members.emplace_back(member, server::Decode(parsed).machine);
  }
  for (const auto& [member, fields] : machine_members) {
    if (member == BundleMember::kGetPcSn && CarriesFirmware(fields) && !server::HoldsPlaceholder(fields)) {
      firmware = &fields;
    }
  }
  std::vector<LookupKey> keys;
  for (const auto& [member, fields] : machine_members) {
    if (firmware) {
      keys.push_back(ScopeKey(KeyFact::kScopeRealFirmware, scope, member, fields, firmware));
      if (use == ScopeKeyUse::kStore)
        keys.push_back(ScopeKey(KeyFact::kScopeAnyRealFirmware, scope, member, fields, nullptr));
      if (use == ScopeKeyUse::kLookup)
        keys.push_back(ScopeKey(KeyFact::kScopeWeakFacts, scope, member, fields, nullptr));
    } else {
      keys.push_back(ScopeKey(KeyFact::kScopeWeakFacts, scope, member, fields, nullptr));
      if (use == ScopeKeyUse::kLookup)
        keys.push_back(ScopeKey(KeyFact::kScopeAnyRealFirmware, scope, member, fields, nullptr));
    }
  }
  SortUnique(keys);
  return keys;
}

std::vector<LookupKey> AllKeys(const std::string& scope, const std::vector<MemberText>& members) {
  std::vector<LookupKey> keys = GlobalKeys(members);
  const std::vector<LookupKey> scoped = ScopeKeys(scope, members, ScopeKeyUse::kStore);
  keys.insert(keys.end(), scoped.begin(), scoped.end());
  SortUnique(keys);
  return keys;
}

std::vector<std::string> MemberTexts(const std::vector<MemberText>& members) {
  std::vector<std::string> texts;
  texts.reserve(members.size());
  for (const MemberText& m : members) texts.push_back(m.text);
  return texts;
}

}  // namespace tavsn::registry
