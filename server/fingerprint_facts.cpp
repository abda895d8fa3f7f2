#include "server/fingerprint_facts.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "fingerprint/digest.h"
#include "fingerprint/probe_texts.h"
#include "server/display_text.h"

namespace tavsn::server {
namespace {

using fingerprint::ProbeAnswers;

constexpr std::size_t kVendorLength = 12;
constexpr std::uint32_t kLeavesSearched = 0x100;
// Firmware settings that limit CPUID ("Limit CPUID Maximum") report 2 or 3.
constexpr std::uint32_t kLimitedLeaves[] = {2, 3};
// Intel's older brand strings are right-aligned: blanks, then the name, then
// one zero byte within the 48.
constexpr std::size_t kRightAlignedBrandLength = fingerprint::kBrandBytes - 1;
constexpr std::size_t kMostOtherAdapters = 32;

std::uint32_t LittleEndian32(const unsigned char* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The brand leaves that give these bytes, padded with zero bytes to 48.
void BrandLeaves(const std::string& brand, CpuidRegisters (&leaves)[3]) {
  unsigned char bytes[fingerprint::kBrandBytes] = {};
  std::memcpy(bytes, brand.data(), std::min(brand.size(), sizeof bytes));
  for (int leaf = 0; leaf < 3; ++leaf) {
    const unsigned char* at = bytes + 16 * leaf;
    leaves[leaf] = {LittleEndian32(at), LittleEndian32(at + 4), LittleEndian32(at + 8), LittleEndian32(at + 12)};
  }
}

std::optional<std::array<std::uint8_t, 6>> MacBytes(const std::string& text) {
  const std::optional<std::string> digits = NormalizeMacText(text);
  if (!digits) return std::nullopt;
  std::array<std::uint8_t, 6> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(std::stoul(digits->substr(2 * i, 2), nullptr, 16));
  }
  return bytes;
}

std::string NotAnAddress(const std::string& text) {
  std::string words = "\"";
  words += EscapedForDisplay(text);
  words += "\" is not a MAC address";
  return words;
}

// One alternative of one fact, and the cause that gives it (none for the
// fact as given).
template <typename T>
struct Alternative {
  T value;
  std::optional<FingerprintCause> cause;
};

struct Choice {
  CpuidRegisters leaf0 = {};
  std::optional<std::string> brand;
  std::optional<std::uint32_t> mhz;
  std::optional<std::uint64_t> memory_bytes;
  std::optional<std::int64_t> disk_bytes;
  std::optional<std::array<std::uint8_t, 6>> mac;
};

ProbeAnswers AnswersOf(const Choice& choice) {
  ProbeAnswers answers;
  answers.leaf0 = choice.leaf0;
  if ((answers.has_brand = choice.brand.has_value())) BrandLeaves(*choice.brand, answers.brand_leaves);
  if ((answers.has_mhz = choice.mhz.has_value())) answers.mhz = *choice.mhz;
  if ((answers.has_memory = choice.memory_bytes.has_value())) answers.memory_bytes = *choice.memory_bytes;
  if ((answers.has_disk = choice.disk_bytes.has_value())) answers.disk_bytes = *choice.disk_bytes;
  if ((answers.has_mac = choice.mac.has_value())) std::memcpy(answers.mac, choice.mac->data(), 6);
  return answers;
}

// The DLL's own record and digest for these facts.
std::string FingerprintOf(const Choice& choice, std::string* digest_input = nullptr) {
  fingerprint::ProbeRecord record;
  fingerprint::fill_probe_record(record, AnswersOf(choice));
  char text[fingerprint::kPcIdBytes];
  fingerprint::write_pc_id(record, text);
  if (digest_input) {
    char input[fingerprint::kDigestInputCapacity + 1];
    const std::size_t length = fingerprint::build_digest_input(record, input);
    *digest_input = EscapedForDisplay(std::string(input, length));
  }
  return std::string(text, kFingerprintDigits);
}

// The facts checked and turned into the choice "as given"; the processor's
// highest leaf is left to the caller when unknown.
struct CheckedFacts {
  Choice given;
  bool leaf_known = false;
  std::vector<std::array<std::uint8_t, 6>> other_adapters;
};

std::optional<CheckedFacts> CheckFacts(const FingerprintFacts& facts, std::string& note) {
  CheckedFacts checked;
  if (facts.leaf0) {
    checked.given.leaf0 = *facts.leaf0;
    checked.leaf_known = true;
  }
  if (facts.cpu_vendor) {
    const std::string& vendor = *facts.cpu_vendor;
    if (vendor.size() != kVendorLength) {
      note = "the processor vendor is 12 characters (e.g. GenuineIntel), not " + std::to_string(vendor.size());
      return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(vendor.data());
    const CpuidRegisters from_vendor = {0, LittleEndian32(bytes), LittleEndian32(bytes + 8), LittleEndian32(bytes + 4)};
    if (facts.leaf0 && (facts.leaf0->ebx != from_vendor.ebx || facts.leaf0->ecx != from_vendor.ecx ||
                        facts.leaf0->edx != from_vendor.edx)) {
      note = "the processor vendor is not the one CPUID leaf 0's registers give";
      return std::nullopt;
    }
    if (!facts.leaf0) checked.given.leaf0 = from_vendor;
  }
  if (facts.highest_leaf) {
    if (facts.leaf0 && facts.leaf0->eax != *facts.highest_leaf) {
      note = "the highest leaf is not CPUID leaf 0's EAX";
      return std::nullopt;
    }
    checked.given.leaf0.eax = *facts.highest_leaf;
    checked.leaf_known = true;
  }
  if (facts.brand && facts.brand->size() > fingerprint::kBrandBytes) {
    note = "the brand string is at most 48 bytes, not " + std::to_string(facts.brand->size());
    return std::nullopt;
  }
  if (facts.disk_bytes && *facts.disk_bytes < 0) {
    note = "a disk's length is not negative";
    return std::nullopt;
  }
  checked.given.brand = facts.brand;
  checked.given.mhz = facts.mhz;
  checked.given.memory_bytes = facts.memory_bytes;
  checked.given.disk_bytes = facts.disk_bytes;
  if (facts.mac) {
    checked.given.mac = MacBytes(*facts.mac);
    if (!checked.given.mac) {
      note = NotAnAddress(*facts.mac);
      return std::nullopt;
    }
  }
  if (facts.other_macs.size() > kMostOtherAdapters) {
    note = "at most 32 other adapters are tried";
    return std::nullopt;
  }
  for (const std::string& text : facts.other_macs) {
    const auto bytes = MacBytes(text);
    if (!bytes) {
      note = NotAnAddress(text);
      return std::nullopt;
    }
    if (bytes != checked.given.mac && std::find(checked.other_adapters.begin(), checked.other_adapters.end(), *bytes) ==
                                          checked.other_adapters.end()) {
      checked.other_adapters.push_back(*bytes);
    }
  }
  return checked;
}

bool HasVendor(const FingerprintFacts& facts) { return facts.leaf0 || facts.cpu_vendor; }

std::vector<Alternative<std::uint32_t>> LeafAlternatives(const CheckedFacts& checked) {
  std::vector<Alternative<std::uint32_t>> leaves;
  if (!checked.leaf_known) {
    for (std::uint32_t leaf = 0; leaf < kLeavesSearched; ++leaf) leaves.push_back({leaf, std::nullopt});
    return leaves;
  }
  leaves.push_back({checked.given.leaf0.eax, std::nullopt});
  for (std::uint32_t limited : kLimitedLeaves) {
    if (limited < checked.given.leaf0.eax) leaves.push_back({limited, FingerprintCause::kHighestLeafLimited});
  }
  return leaves;
}

std::vector<Alternative<std::optional<std::int64_t>>> DiskAlternatives(const Choice& given) {
  std::vector<Alternative<std::optional<std::int64_t>>> disks = {{given.disk_bytes, std::nullopt}};
  if (given.disk_bytes) disks.push_back({std::nullopt, FingerprintCause::kDiskUnreadable});
  return disks;
}

std::vector<Alternative<std::optional<std::array<std::uint8_t, 6>>>> MacAlternatives(const CheckedFacts& checked) {
  std::vector<Alternative<std::optional<std::array<std::uint8_t, 6>>>> macs = {{checked.given.mac, std::nullopt}};
  for (const auto& other : checked.other_adapters) macs.push_back({other, FingerprintCause::kOtherFirstAdapter});
  if (checked.given.mac || !checked.other_adapters.empty())
    macs.push_back({std::nullopt, FingerprintCause::kNoAdapter});
  return macs;
}

std::vector<Alternative<std::optional<std::string>>> BrandAlternatives(const Choice& given) {
  std::vector<Alternative<std::optional<std::string>>> brands = {{given.brand, std::nullopt}};
  if (!given.brand) return brands;
  brands.push_back({std::nullopt, FingerprintCause::kBrandMissing});
  const std::string& brand = *given.brand;
  if (!brand.empty() && brand.front() != ' ' && brand.size() < kRightAlignedBrandLength) {
    brands.push_back(
        {std::string(kRightAlignedBrandLength - brand.size(), ' ') + brand, FingerprintCause::kBrandUnpadded});
  }
  return brands;
}

// Fewest causes first, then the likelier ones (the enumeration's order).
bool MoreLikely(const FingerprintExplanation& a, const FingerprintExplanation& b) {
  if (a.causes.size() != b.causes.size()) return a.causes.size() < b.causes.size();
  return a.causes < b.causes;
}

std::string MacDigits(const std::array<std::uint8_t, 6>& bytes) { return MacBytesText(bytes.data(), bytes.size()); }

// Every combination of the alternatives; the one without causes is the
// facts as given.
void TryCombinations(const CheckedFacts& checked, const ParsedFingerprint& parsed, FingerprintMatch& match) {
  const std::string stored = parsed.text();
  const auto leaves = LeafAlternatives(checked);
  const auto disks = DiskAlternatives(checked.given);
  const auto macs = MacAlternatives(checked);
  const auto brands = BrandAlternatives(checked.given);
  for (const auto& leaf : leaves) {
    for (const auto& disk : disks) {
      for (const auto& mac : macs) {
        for (const auto& brand : brands) {
          Choice choice = checked.given;
          choice.leaf0.eax = leaf.value;
          choice.disk_bytes = disk.value;
          choice.mac = mac.value;
          choice.brand = brand.value;
          ++match.combinations_tried;
          if (FingerprintOf(choice) != stored) continue;
          FingerprintExplanation explanation;
          for (const auto& cause : {leaf.cause, disk.cause, mac.cause, brand.cause}) {
            if (cause) explanation.causes.push_back(*cause);
          }
          std::sort(explanation.causes.begin(), explanation.causes.end());
          if (mac.cause == FingerprintCause::kOtherFirstAdapter) explanation.first_adapter = MacDigits(*mac.value);
          explanation.highest_leaf = leaf.value;
          explanation.fingerprint = stored;
          match.explanations.push_back(explanation);
        }
      }
    }
  }
  std::stable_sort(match.explanations.begin(), match.explanations.end(), MoreLikely);
}

// The facts that never enter the digest, changed one at a time: each gives
// the fingerprint of the facts as given.
void TryFactsWithoutEffect(const Choice& given, FingerprintMatch& match) {
  const std::string as_given = FingerprintOf(given);
  if (given.mhz) {
    Choice choice = given;
    choice.mhz.reset();
    if (FingerprintOf(choice) == as_given) match.without_effect.push_back(FingerprintCause::kClockUnreadable);
  }
  if (given.memory_bytes) {
    Choice choice = given;
    // Installed and usable memory differ by what firmware and graphics keep.
    choice.memory_bytes = *given.memory_bytes + 0x20000000;
    if (FingerprintOf(choice) == as_given) match.without_effect.push_back(FingerprintCause::kOtherMemoryReading);
  }
}

}  // namespace

const char* FingerprintCauseName(FingerprintCause cause) {
  switch (cause) {
    case FingerprintCause::kDiskUnreadable: return "disk_unreadable";
    case FingerprintCause::kOtherFirstAdapter: return "other_first_adapter";
    case FingerprintCause::kNoAdapter: return "no_adapter";
    case FingerprintCause::kHighestLeafLimited: return "highest_leaf_limited";
    case FingerprintCause::kBrandMissing: return "brand_missing";
    case FingerprintCause::kBrandUnpadded: return "brand_unpadded";
    case FingerprintCause::kClockUnreadable: return "clock_unreadable";
    case FingerprintCause::kOtherMemoryReading: return "other_memory_reading";
  }
  return "unknown";
}

const char* FingerprintCauseWords(FingerprintCause cause) {
  switch (cause) {
    case FingerprintCause::kDiskUnreadable:
      return "the first disk's text was empty: the host ran without administrator rights, or the first disk "
             "could not be read";
    case FingerprintCause::kOtherFirstAdapter: return "IP Helper listed another of the machine's adapters first";
    case FingerprintCause::kNoAdapter:
      return "the MAC text was empty: no adapter was listed (none present, or a list too long for the buffer)";
    case FingerprintCause::kHighestLeafLimited:
      return "the firmware limited CPUID's highest standard leaf (Limit CPUID Maximum)";
    case FingerprintCause::kBrandMissing: return "the processor's brand string was not offered (hidden brand leaves)";
    case FingerprintCause::kBrandUnpadded:
      return "the brand string has leading blanks that the inventory dropped (right-aligned in 48 bytes)";
    case FingerprintCause::kClockUnreadable: return "the clock (~MHz) does not enter the fingerprint";
    case FingerprintCause::kOtherMemoryReading: return "the memory size does not enter the fingerprint";
  }
  return "unknown";
}

std::optional<std::string> FingerprintOfFacts(const FingerprintFacts& facts, std::string* note) {
  std::string why;
  std::optional<CheckedFacts> checked = CheckFacts(facts, why);
  if (checked && !HasVendor(facts)) why = "the processor vendor (or CPUID leaf 0) is needed";
  if (!checked || !why.empty()) {
    if (note) *note = why;
    return std::nullopt;
  }
  return FingerprintOf(checked->given);
}

FingerprintMatch MatchFingerprint(const ParsedFingerprint& parsed, const FingerprintFacts& facts) {
  FingerprintMatch match;
  if (!parsed.ok()) {
    match.verdict = Verdict::kNotCheckable;
    match.note = "not a well-formed fingerprint: " + DescribeFingerprintParseError(parsed);
    return match;
  }
  const std::optional<CheckedFacts> checked = CheckFacts(facts, match.note);
  if (!checked) {
    match.verdict = Verdict::kBadFact;
    return match;
  }
  if (!HasVendor(facts)) {
    match.verdict = Verdict::kNotCheckable;
    match.note = "the processor vendor (or CPUID leaf 0) is needed";
    return match;
  }
  TryCombinations(*checked, parsed, match);
  match.highest_leaf_searched = !checked->leaf_known;
  // With the leaf searched, each value that reproduces with nothing else
  // changed is the facts as given.
  const bool as_given = !match.explanations.empty() && match.explanations.front().causes.empty();
  Choice given = checked->given;
  if (as_given) given.leaf0.eax = match.explanations.front().highest_leaf;
  if (checked->leaf_known || as_given) {
    match.expected = FingerprintOf(given, &match.digest_input);
    match.highest_leaf = given.leaf0.eax;
  }
  match.verdict = as_given ? Verdict::kMatch : Verdict::kMismatch;
  if (as_given) match.explanations.clear();
  TryFactsWithoutEffect(given, match);
  return match;
}

}  // namespace tavsn::server
