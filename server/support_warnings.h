#pragma once
// Warnings a support person needs when the tool runs on a customer's
// machine. The identifiers stay exactly as the DLL made them; these say why
// one may be shared with other machines or may change. The facts are
// gathered by the platform layer of the tool; the decisions live here.

#include <optional>
#include <string>
#include <vector>

#include "server/evidence.h"

namespace tavsn::server {

struct SupportFacts {
  // The firmware texts GetPCSN chooses between (serial number first, when
  // usable, else the UUID text); unset when they could not be read.
  std::optional<std::string> firmware_serial = std::nullopt;
  std::optional<std::string> firmware_uuid_text = std::nullopt;
  // Return codes of GetPCSN and GetPCSNEx: 1 and 2 mean a fallback source.
  std::optional<int> pcsn_result = std::nullopt;
  std::optional<int> pcsnex_result = std::nullopt;
  std::optional<std::string> mac_identifier = std::nullopt;      // GetMacSN's text
  std::optional<std::string> machine_identifier = std::nullopt;  // GetPCSN's text
  std::optional<bool> wow64 = std::nullopt;                      // 32-bit process on 64-bit Windows
  std::optional<bool> single_threaded_apartment = std::nullopt;  // the calling thread's COM apartment
};

struct SupportWarning {
  std::string code;  // stable, for scripts
  std::string message;
};

std::vector<SupportWarning> SupportWarnings(const SupportFacts& facts);

}  // namespace tavsn::server
