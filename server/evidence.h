#pragma once
// How much each component of an identifier tells about one machine. A
// licence server may only call two records the same machine on components
// that few machines share: a processor text is shared by every machine of
// that model, a placeholder firmware text by every board of that vendor, and
// a sequential UUID's node is random on a machine without adapters.

#include <cstdint>
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
std::vector<ComponentEvidence> Evidence(const DecodedIdentifier& decoded);

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
// case and surrounding blanks, or a run of zeros, of F digits or of blanks.
bool IsPlaceholderFirmwareText(const std::string& text);

// The placeholder whose length and checksum a GetPCSN record's firmware
// fields hold ("To be filled by O.E.M.", a run of 12 zeros, ...), or an
// empty text when they hold none.
std::string RecognisedPlaceholder(const MachineIdentifierFields& fields);

// What a TQ11 record's masked fields reveal of each address it holds: the
// address XOR its own byte 0 (byte 0 is then 0). The unknown first byte k
// cancels, so two records that share an address share its shape, and two
// different addresses share one only when they differ by one byte in all six
// places. One entry for a single address, two otherwise.
std::vector<std::string> AddressShapes(const MacIdentifierFields& fields);

}  // namespace tavsn::server
