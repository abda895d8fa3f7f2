#pragma once
// How much each component of an identifier tells about one machine. A
// licence server may only call two records the same machine on components
// that few machines share: a processor text is shared by every machine of
// that model, a placeholder firmware text by every board of that vendor, and
// a sequential UUID's node is random on a machine without adapters.

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
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
constexpr Component kComponents[] = {kComponentMac, kComponentProcessor, kComponentFirmware, kComponentMacSource};

const char* ComponentName(Component component);

enum class Strength {
  kAbsent,  // the record does not carry it, or the DLL could not read it
  kWeak,    // many machines share it
  kStrong,  // it tells this machine from others of its model
};

const char* StrengthName(Strength strength);

struct ComponentEvidence {
  Component component = kComponentMac;
  Strength strength = Strength::kAbsent;
  const char* reason = "";  // one static sentence
};

// One entry per component, in the order of kComponents. `decoded` must be a
// record the DLL writes (no anomalies).
std::array<ComponentEvidence, std::size(kComponents)> Evidence(const DecodedIdentifier& decoded);

// Firmware texts that boards really ship unfilled. Serial numbers are kept as
// the firmware writes them; UUIDs as their 16 table bytes, which the DLL's
// own UUID encoder turns into the text it measures.
struct PlaceholderSerial {
  const char* text;
};
struct PlaceholderUuid {
  std::uint8_t bytes[16];
  const char* usual_form;  // as dmidecode shows it, for people
};
extern const PlaceholderSerial kPlaceholderSerials[];
extern const std::size_t kPlaceholderSerialCount;
extern const PlaceholderUuid kPlaceholderUuids[];
extern const std::size_t kPlaceholderUuidCount;

// The DLL's UUID text (FormatUuidText) of a placeholder.
std::string PlaceholderUuidText(const PlaceholderUuid& uuid);

// A firmware text that many machines share: one of the table's, ignoring
// case and surrounding blanks, or a run of zeros, X, F digits or of blanks.
bool IsPlaceholderFirmwareText(const std::string& text);

// The placeholder whose length and checksum a GetPCSN record's firmware
// fields hold ("To be filled by O.E.M.", a run of 12 zeros, ...), or an
// empty text when they hold none. Serial numbers are recognised as boards
// spell them: as in the table, all upper or all lower case, with up to two
// leading and four trailing blanks, or Each Word Capitalised; runs of 0, X, x, F or f and the digit
// sequence "123456789..." of any length the record can hold. The text given
// back is the table's spelling.
std::string RecognisedPlaceholder(const MachineIdentifierFields& fields);
// Whether it holds one, without the text.
bool HoldsPlaceholder(const MachineIdentifierFields& fields);

// ---- Evidence as a number ----
//
// Who else might show a matching value: the classes of machines a licence
// server must tell from the machine a licence belongs to.
enum class ImpostorClass {
  kSibling,       // a machine of the same batch: same model, sequential serials, nearby addresses
  kModel,         // a machine of the same model anywhere in the vendor's address prefix
  kMovedAdapter,  // another machine that received this machine's adapter (USB, dock)
};
constexpr ImpostorClass kImpostorClasses[] = {ImpostorClass::kSibling, ImpostorClass::kModel,
                                              ImpostorClass::kMovedAdapter};
constexpr std::size_t kImpostorClassCount = std::size(kImpostorClasses);
// "sibling", "model", "moved_adapter".
const char* ImpostorClassName(ImpostorClass impostor);

// For each impostor class, the probability that a different machine of that
// class shows the same value of a component. The derivations are in
// docs/verdicts.md; each constant below names its own.
struct MatchOdds {
  double by_class[kImpostorClassCount] = {1.0, 1.0, 1.0};

  double of(ImpostorClass impostor) const { return by_class[static_cast<std::size_t>(impostor)]; }
  // Both values must match: classes are independent per component.
  MatchOdds& operator*=(const MatchOdds& other) {
    for (std::size_t i = 0; i < kImpostorClassCount; ++i) by_class[i] *= other.by_class[i];
    return *this;
  }
};

namespace odds {
// One 16-bit checksum of a text whose length agrees: every value equally likely.
constexpr double kChecksum = 1.0 / 65536.0;
// Two serial numbers of one model (a prefix and a number, equal length)
// whose checksums agree: Checksum16 sums the bytes at even and at odd
// positions apart, so numbers 99, 990, 9,999 apart or with swapped
// 2-character chunks agree. Measured over batches of 200 to 1,000
// sequential serials: about 1 in 200.
constexpr double kBatchSerialChecksum = 1.0 / 200.0;
// GetPCSN/GetPCSNEx's MAC fields (2-byte prefix, checksum of the 6 bytes) of
// two addresses under one vendor prefix: the checksum depends on
// 256 * (byte 3 + byte 5) + byte 4 alone, so they agree with probability
// sum over s of (n_s / 65536)^2 / 256 = 1.0173e-5 (n_s: pairs of bytes with
// sum s); addresses of one batch, fewer than 65,535 apart, never agree.
constexpr double kOuiMacChecksum = 1.0173e-5;
// A sequential UUID's node without adapters: 47 random bits.
constexpr double kRandomNode = 1.0 / 140737488355328.0;
}  // namespace odds

// How much a component that matches tells, given the record it is read from
// (either side: the values are equal). Components absent from the record
// tell nothing (1 for every class).
MatchOdds ComponentMatchOdds(Component component, const DecodedIdentifier& decoded);
// A TQ11 address shape found in both records.
MatchOdds AddressShapeMatchOdds(const MacIdentifierFields& fields);
// What a component that changed between two TQ12 records tells: how likely
// a different machine of each class shows a change of it. A processor
// details text is the model's (ComponentMatchOdds gives it 1 for siblings and
// the model), so a sibling or a machine of the model shows the bound
// machine's text, never another: a changed details text rules both classes
// out (0). A machine that received an adapter may be of any model (1). A
// processor serial text is the chip's own, and every other change tells
// nothing: 1.
MatchOdds ComponentChangeOdds(Component component, const MachineIdentifierFields& before,
                              const MachineIdentifierFields& after);

// What a TQ11 record's masked fields reveal of each address it holds: the
// address XOR its own byte 0 (byte 0 is then 0). The unknown first byte k
// cancels, so two records that share an address share its shape, and two
// different addresses share one only when they differ by one byte in all six
// places. One entry for a single address, two otherwise.
std::vector<std::string> AddressShapes(const MacIdentifierFields& fields);

// The same shapes as bytes, for comparing without building texts.
struct AddressShapeSet {
  std::array<std::uint8_t, 6> shapes[2] = {};
  std::size_t count = 0;
};
AddressShapeSet AddressShapeBytes(const MacIdentifierFields& fields);
// How many of the shapes of `a` `b` holds too.
unsigned SharedShapeCount(const AddressShapeSet& a, const AddressShapeSet& b);

}  // namespace tavsn::server
