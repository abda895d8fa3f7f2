#pragma once
// Does a fingerprint belong to a machine of the inventory, and if not, why
// did that machine write another one? The fingerprint is rebuilt from the
// facts with the DLL's own probe texts and digest code (fingerprint/), so
// the answer is the DLL's answer on that machine.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/cpuid.h"
#include "server/fingerprint.h"
#include "server/match.h"

namespace tavsn::server {

// A machine as an inventory knows it. A fact left unset is what the DLL's
// probe leaves when it fails (an empty text), except the processor's
// highest standard leaf, which, unset, is searched for (0 to 0xFF).
struct FingerprintFacts {
  // CPUID leaf 0 as four registers; or, instead, the vendor text (12
  // characters, e.g. GenuineIntel) with or without the highest leaf (EAX).
  std::optional<CpuidRegisters> leaf0 = std::nullopt;
  std::optional<std::string> cpu_vendor = std::nullopt;
  std::optional<std::uint32_t> highest_leaf = std::nullopt;
  // The brand string as the processor gives it: at most 48 bytes; a shorter
  // one is taken as ending in zero bytes, as the processor pads it. Unset: a
  // processor without the brand leaves.
  std::optional<std::string> brand = std::nullopt;
  // Neither enters the fingerprint; they are taken so that an inventory's
  // facts can be given whole, and shown not to matter.
  std::optional<std::uint32_t> mhz = std::nullopt;
  std::optional<std::uint64_t> memory_bytes = std::nullopt;
  // The first physical disk's length in bytes. Unset: the process could not
  // open it for reading and writing, or could not read its length.
  std::optional<std::int64_t> disk_bytes = std::nullopt;
  // The address of the adapter IP Helper lists first (any form
  // NormalizeMacText takes). Unset: no adapter list.
  std::optional<std::string> mac = std::nullopt;
  // The machine's other adapters' addresses, any order: IP Helper may list
  // any of them first.
  std::vector<std::string> other_macs = {};
};

// One way the same machine writes another fingerprint.
enum class FingerprintCause {
  kDiskUnreadable,      // no administrator rights, or no readable first disk
  kOtherFirstAdapter,   // IP Helper listed another of the machine's adapters first
  kNoAdapter,           // no adapter list: no adapter, or a list too long for the buffer
  kHighestLeafLimited,  // firmware limits CPUID's highest standard leaf (to 2 or 3)
  kBrandMissing,        // the brand leaves hidden (some virtual machines)
  kBrandUnpadded,       // the inventory dropped the brand string's leading blanks
  kClockUnreadable,     // never changes the fingerprint: the clock does not enter
  kOtherMemoryReading,  // never changes the fingerprint: the memory does not enter
};

// "disk_unreadable", ...: the names the tool's JSON and the bindings use.
const char* FingerprintCauseName(FingerprintCause cause);
// One sentence a support engineer can act on.
const char* FingerprintCauseWords(FingerprintCause cause);

// A set of causes that together give a fingerprint.
struct FingerprintExplanation {
  std::vector<FingerprintCause> causes;  // most likely first
  std::string first_adapter;             // with kOtherFirstAdapter: the address taken
  std::uint32_t highest_leaf = 0;        // the highest leaf used
  std::string fingerprint;               // what the machine writes then
};

struct FingerprintMatch {
  // kMatch: the facts as given give the fingerprint. kMismatch: they do not
  // (explanations may still account for it). kBadFact: a fact is malformed
  // (note says which). kNotCheckable: not a well-formed fingerprint, or no
  // processor vendor given.
  Verdict verdict = Verdict::kNotGiven;
  std::string note;
  // The fingerprint of the facts as given, and its digest input (printable:
  // a brand's non-printing bytes escaped). With the highest leaf unknown,
  // those of the first leaf that reproduces, else of leaf 0.
  std::string expected;
  std::string digest_input;
  std::uint32_t highest_leaf = 0;
  bool highest_leaf_searched = false;
  // kMismatch: every combination of causes that reproduces the
  // fingerprint, most likely first (fewest causes, then the likelier ones).
  // Empty when none does.
  std::vector<FingerprintExplanation> explanations;
  // How many combinations were tried, and the causes that were tried and
  // can never change a fingerprint (their facts do not enter it).
  std::size_t combinations_tried = 0;
  std::vector<FingerprintCause> without_effect;
};

FingerprintMatch MatchFingerprint(const ParsedFingerprint& parsed, const FingerprintFacts& facts);

// The fingerprint the DLL writes for these facts exactly (the highest leaf
// taken as 0 when unset), or nothing when a fact is malformed; `note` then
// says which.
std::optional<std::string> FingerprintOfFacts(const FingerprintFacts& facts, std::string* note = nullptr);

}  // namespace tavsn::server
