#include "server/support_warnings.h"

#include "server/identifier.h"
#include "server/match.h"
#include "tavsn.h"

namespace tavsn::server {
namespace {

void FallbackWarning(const char* export_name, const std::optional<int>& result, std::vector<SupportWarning>& out) {
  if (!result || (*result != TAVSN_MAC_FROM_IP_HELPER && *result != TAVSN_MAC_FROM_UUID)) return;
  out.push_back(
      {"mac_fallback", std::string(export_name) + " took the MAC address from " +
                           (*result == TAVSN_MAC_FROM_IP_HELPER ? "the IP Helper list" : "a sequential UUID's node") +
                           " (return code " + std::to_string(*result) +
                           "): no physical adapter's driver answered, so the identifier may change when adapters do"});
}

}  // namespace

std::vector<SupportWarning> SupportWarnings(const SupportFacts& facts) {
  std::vector<SupportWarning> out;
  // Only the text GetPCSN actually takes decides whether its identifier is shared.
  const bool serial_used = facts.firmware_serial && SerialNumberUsable(*facts.firmware_serial);
  const std::optional<std::string>& used = serial_used ? facts.firmware_serial : facts.firmware_uuid_text;
  if (used && IsPlaceholderFirmwareText(*used)) {
    out.push_back({"firmware_placeholder", std::string("the firmware ") + (serial_used ? "serial number" : "UUID") +
                                               " \"" + *used +
                                               "\" is a placeholder shared by many machines: GetPCSN "
                                               "identifiers of such machines differ only by MAC and processor"});
  }
  FallbackWarning("GetPCSN", facts.pcsn_result, out);
  FallbackWarning("GetPCSNEx", facts.pcsnex_result, out);
  if (facts.mac_identifier) {
    const ParsedIdentifier parsed = ParseIdentifier(*facts.mac_identifier);
    if (parsed.ok() && parsed.kind == IdentifierKind::kMac && parsed.record[0] == MacSnRecord::kSourceUuid) {
      out.push_back({"mac_fallback", "GetMacSN took the MAC address from a sequential UUID's node"});
    }
  }
  if (facts.machine_identifier) {
    const ParsedIdentifier parsed = ParseIdentifier(*facts.machine_identifier);
    if (parsed.ok() && Decode(parsed).machine.made_by == MachineExport::kGetPcsnNoFirmware) {
      out.push_back(
          {"firmware_not_read", "GetPCSN could not read the firmware: its identifier has zero system fields"});
    }
  }
  if (facts.wow64.value_or(false)) {
    out.push_back({"wow64",
                   "this 32-bit process runs on 64-bit Windows: the system refuses to enable a disabled "
                   "adapter, so such an adapter's address is missing"});
  }
  if (facts.single_threaded_apartment.value_or(false)) {
    out.push_back({"single_threaded_apartment",
                   "the calling thread is a single-threaded COM apartment: GetPCSN "
                   "cannot read the firmware there and writes zero system fields"});
  }
  return out;
}

}  // namespace tavsn::server
