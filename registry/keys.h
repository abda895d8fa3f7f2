#pragma once
// Index keys: what lets the registry find the stored machines an identifier
// may belong to without comparing it with every machine. Each key is one
// fact of a record, hashed with the member kind it came from, so that two
// records share a key only when they share that fact.
//
// The guarantee, checked over the fleet model by the tests: two bundles
// that the judgment (server::CompareBundles, default policy) calls the same
// machine share a global key; so do undecided ones that share any strong
// fact. Undecided pairs whose common facts are all weak (a processor text,
// a placeholder firmware text) share a scope key when they are under one
// scope; weak facts never make a key that crosses scopes, since every
// machine of a model would share it.
//
// The keys are stored: their derivation is part of the registry's schema
// version, never changed without one.

#include <cstdint>
#include <string>
#include <vector>

#include "registry/store.h"
#include "server/bundle.h"

namespace tavsn::registry {

// The facts keys are made of, each its own namespace.
enum class KeyFact : std::uint8_t {
  kExactRecord = 1,       // the whole identifier or fingerprint, byte for byte
  kAddressShape,          // GetMacSN: one address's shape (AddressShapes)
  kMachineMac,            // GetPCSN/GetPCSNEx: the first MAC's prefix and checksum
  kRealFirmware,          // GetPCSN: a firmware text that is no placeholder
  kScopeWeakFacts,        // under one scope, a bundle without a real firmware text: the processor fields
  kScopeRealFirmware,     // under one scope, with a real firmware text: processor and firmware fields
  kScopeAnyRealFirmware,  // under one scope, with a real firmware text: the processor fields alone
};

// Scope keys are asymmetric: two bundles with different real firmware texts
// are different machines by the judgment's first rule, so they must never
// find each other, while a bundle without one (a placeholder, a failed
// read, GetPCSNEx alone) must find every machine of its processor.
enum class ScopeKeyUse {
  kStore,   // what a machine is stored under
  kLookup,  // what a check-in looks up
};

// A bundle's members as the registry reads them: each text with its kind.
// Status kOk, or why the bundle cannot be checked in (the statuses of
// server::CompareBundles).
struct ReadBundle {
  server::BundleStatus status = server::BundleStatus::kEmpty;
  std::size_t position = 0;         // the member that failed, 0-based
  std::string problem;              // for people
  std::vector<MemberText> members;  // ordered by member kind
};

ReadBundle ReadBundleTexts(const std::vector<std::string>& texts);

// The keys of a bundle that may cross scopes, each once, ascending.
std::vector<LookupKey> GlobalKeys(const std::vector<MemberText>& members);
// The exact-record keys alone (a subset of GlobalKeys): what finds a
// machine whose identifiers are unchanged, the commonest check-in.
std::vector<LookupKey> ExactKeys(const std::vector<MemberText>& members);
// The keys that only find machines of the same scope.
std::vector<LookupKey> ScopeKeys(const std::string& scope, const std::vector<MemberText>& members, ScopeKeyUse use);
// Both, merged: what a machine is stored under.
std::vector<LookupKey> AllKeys(const std::string& scope, const std::vector<MemberText>& members);

// The texts of a bundle, for the judgment.
std::vector<std::string> MemberTexts(const std::vector<MemberText>& members);

}  // namespace tavsn::registry
