#pragma once
// Comparing two identifiers of one kind that a licence server received at
// different times: which fields and which components of the machine changed,
// and whether, under a policy, it is still the same machine.

#include <string>
#include <vector>

#include "server/identifier.h"

namespace tavsn::server {

// Bits of a component set.
enum Component : unsigned {
  kComponentMac = 1u << 0,        // the addresses (and, for TQ11, their count)
  kComponentProcessor = 1u << 1,  // processor text length, checksum or kind
  kComponentFirmware = 1u << 2,   // firmware text length, checksum or kind (GetPCSN only)
  kComponentMacSource = 1u << 3,  // adapter versus fallback source
};
constexpr unsigned kAllComponents = 0xFu;

const char* ComponentName(Component component);

// "Same machine" when at most `max_changed` components changed and none of
// `must_keep` did. The default tolerates any one change, so a machine whose
// network card was replaced (or whose firmware read failed once) stays the
// same machine; two changes make it another machine.
struct ComparePolicy {
  unsigned max_changed = 1;
  unsigned must_keep = 0;
};

enum class CompareStatus {
  kOk,
  kMalformed,         // one of the texts does not parse
  kDifferentKinds,    // a TQ11 against a TQ12
  kDifferentExports,  // a GetPCSN identifier against a GetPCSNEx one
};

struct FieldChange {
  std::string field;
  std::string before;
  std::string after;
  Component component;
};

struct Comparison {
  CompareStatus status = CompareStatus::kMalformed;
  IdentifierKind kind = IdentifierKind::kMac;
  std::vector<FieldChange> changes;  // only the fields that differ
  unsigned changed = 0;              // component set
  bool same_machine = false;
};

Comparison Compare(const ParsedIdentifier& before, const ParsedIdentifier& after,
                   const ComparePolicy& policy = {});

// Number of components in a set.
unsigned ComponentCount(unsigned components);

}  // namespace tavsn::server
