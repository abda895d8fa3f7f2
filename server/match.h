#pragma once
// Does an identifier belong to a machine of the inventory? Each answer is
// the one the DLL would have given on that machine: the expected record is
// built with the DLL's own encoder and compared with the identifier's.

#include <optional>
#include <string>
#include <vector>

#include "server/identifier.h"

namespace tavsn::server {

// A MAC address as an inventory writes it: 12 hex digits, either case,
// optionally in pairs separated by '-' or ':'. Gives 12 uppercase digits,
// or nothing when the text is not such an address.
std::optional<std::string> NormalizeMacText(const std::string& text);

enum class Verdict {
  kNotGiven,  // the fact was not supplied
  kMatch,
  kMismatch,
  kNotCheckable,     // this identifier does not carry the fact (e.g. a serial number
                     // against a GetPCSNEx identifier)
  kBadFact,          // the fact itself is malformed (an address that is not one)
  kNotWrittenByDll,  // the identifier is no record the DLL writes: never judged
  // Overall only: every fact that matched is one many machines share (a
  // processor text, a placeholder firmware text, a sequential UUID's node),
  // so the match does not tell this machine from others of its model.
  kWeakMatch,
};

const char* VerdictName(Verdict verdict);

// Which of the DLL's sources made the list whose entries 0 and 1 it used.
// The adapter drivers' list holds their distinct non-zero addresses,
// ascending. The IP Helper fallback gives one address, the first adapter in
// its list whose description contains "PCI", else the first adapter; the
// UUID node is one address too. For kAsGiven the facts are that list in its
// own order with the adapter the DLL takes first.
enum class MacListOrder { kSortedDistinct, kAsGiven };

// The DLL's list made of a machine's addresses: each normalized; for
// kSortedDistinct sorted with repeats and all-zero addresses dropped, for
// kAsGiven the first address alone. Nothing when one of them is not an
// address; `malformed`, when given, then receives that text. The list may
// be empty: then the DLL would have taken a fallback.
std::optional<std::vector<std::string>> DllMacList(const std::vector<std::string>& macs, MacListOrder order,
                                                   std::string* malformed = nullptr);

struct MacFacts {
  std::vector<std::string> macs;
  MacListOrder order = MacListOrder::kSortedDistinct;
  // The source byte to expect; unset: the identifier's own (0 or 1) is
  // taken, so only the addresses and their count decide.
  std::optional<std::uint8_t> source;
};

struct MacMatch {
  Verdict verdict = Verdict::kNotGiven;
  bool addresses_match = false;  // both masked address fields
  bool count_match = false;
  bool source_match = false;
  std::string expected_text;  // the identifier these facts give
};

// `parsed` must be a well-formed MAC identifier; otherwise kNotCheckable.
MacMatch MatchMacIdentifier(const ParsedIdentifier& parsed, const MacFacts& facts);

struct MachineFacts {
  std::optional<std::string> mac;  // the first address of the DLL's list
  std::optional<std::string> processor_text;
  std::optional<std::string> serial_number;
  // As the DLL writes it (FormatUuidText): four groups of 8 hex digits
  // joined by '-', e.g. 33221100-77665544-bbaa9988-ffeeddcc for the table
  // bytes 00 11 22 ... FF; either case. Any other shape is a bad fact.
  std::optional<std::string> uuid_text;
};

// The UUID text in the DLL's lowercase form, or nothing when it does not
// have the DLL's shape.
std::optional<std::string> NormalizeUuidText(const std::string& text);

struct MachineMatch {
  Verdict mac = Verdict::kNotGiven;
  Verdict processor = Verdict::kNotGiven;
  Verdict serial_number = Verdict::kNotGiven;
  Verdict uuid_text = Verdict::kNotGiven;
  // Why a fact could not be used: a serial number the DLL would not have
  // used (shorter than 8 or beginning with a space), a UUID text of another
  // shape.
  std::string note;

  // kNotWrittenByDll for a record the DLL does not write, whatever the facts;
  // kBadFact when a fact was malformed; kMismatch when any mismatched; kMatch
  // when at least one matched; otherwise kNotCheckable (or kNotGiven when no
  // fact was given).
  // A matching fact tells this machine from others of its model: an
  // adapter's address, or a firmware text that is no placeholder.
  bool strong_match = false;
  Verdict Overall() const;
};

MachineMatch MatchMachineIdentifier(const ParsedIdentifier& parsed, const MachineFacts& facts);

// True when the DLL would take this serial number rather than the UUID.
bool SerialNumberUsable(const std::string& serial_number);

}  // namespace tavsn::server
