// The firmware's SMBIOS structure table as the management service publishes
// it: the one instance of MSSMBios_RawSMBiosTables in ROOT\WMI. Every call
// joins the thread to the multithreaded apartment, reads, gives every
// interface back and leaves the apartment again.
#include <cstring>

#include "log/diag_log.h"
#include "sysinfo/smbios_info.h"
#include "sysinfo/wmi_platform.h"

namespace tavsn {
namespace {

using wmios::Failed;
using wmios::HResult;

// The step whose failure ends the read with a log line, in call order.
enum class WmiStep { kNone, kCreateInstance, kConnectServer, kSetProxyBlanket, kCreateInstanceEnum, kTableTooLarge };

struct WmiOutcome {
  WmiStep failed_step = WmiStep::kNone;
  HResult result = wmios::kOk;
};

WmiOutcome StepFailed(WmiStep step, HResult result) { return WmiOutcome{step, result}; }

// The class object's properties. A property that cannot be read ends the
// read silently: an empty table makes the structure search fail and say so.
WmiOutcome ReadTableProperties(const WbemObject& object, SmbiosInfo& info) {
  if (Failed(wmios::GetLowByteProperty(object, u"SmbiosMajorVersion", info.smbios_major_version)) ||
      Failed(wmios::GetLowByteProperty(object, u"SmbiosMinorVersion", info.smbios_minor_version))) {
    return WmiOutcome{};
  }
  wmios::ByteArrayProperty table;
  const HResult result =
      wmios::GetByteArrayProperty(object, u"SMBiosData", info.table_data, SmbiosInfo::kTableCapacity - 1, table);
  if (Failed(result) || !table.is_byte_array) return WmiOutcome{};
  info.table_length = table.element_count;
  // The walk relies on zero bytes after the table, so a table that fills
  // the whole buffer is refused.
  if (table.element_count >= SmbiosInfo::kTableCapacity) return StepFailed(WmiStep::kTableTooLarge, result);
  return WmiOutcome{};
}

// Everything between joining and leaving the apartment. The owners give the
// interfaces back in reverse order of acquisition on every return: the class
// object, the enumerator, the services, the locator.
WmiOutcome ReadWithCom(SmbiosInfo& info) {
  WbemLocator locator;
  HResult result = wmios::CreateWbemLocator(locator);
  if (Failed(result)) return StepFailed(WmiStep::kCreateInstance, result);
  WbemServices services;
  result = wmios::ConnectToWmiNamespace(locator, services);
  if (Failed(result)) return StepFailed(WmiStep::kConnectServer, result);
  result = wmios::SetCallLevelProxyBlanket(services);
  if (Failed(result)) return StepFailed(WmiStep::kSetProxyBlanket, result);
  WbemEnumerator enumerator;
  result = wmios::EnumerateRawSmbiosTables(services, enumerator);
  if (Failed(result)) return StepFailed(WmiStep::kCreateInstanceEnum, result);

  // Only the first instance is ever read.
  WbemObject object;
  std::uint32_t returned = 0;
  result = wmios::NextClassObject(enumerator, object, returned);
  if (Failed(result) || returned == 0 || !object) return WmiOutcome{};
  return ReadTableProperties(object, info);
}

const char* LogTextOf(WmiStep step) {
  switch (step) {
    case WmiStep::kCreateInstance: return "init_raw_smbios_data CoCreateInstance hResult [";
    case WmiStep::kConnectServer: return "init_raw_smbios_data ConnectServer hResult [";
    case WmiStep::kSetProxyBlanket: return "init_raw_smbios_data CoSetProxyBlanket hResult [";
    case WmiStep::kCreateInstanceEnum: return "init_raw_smbios_data CreateInstanceEnum hResult [";
    case WmiStep::kTableTooLarge: return "init_raw_smbios_data Bios Data Overflow length [";
    case WmiStep::kNone: break;
  }
  return "";
}

}  // namespace

bool wmios::ByteArrayFits(std::uint32_t element_count, std::size_t capacity) { return element_count <= capacity; }

bool SmbiosInfo::init_raw_smbios_data() noexcept {
  std::memset(table_data, 0, sizeof table_data);
  const HResult joined = wmios::InitializeMultithreadedCom();
  if (Failed(joined)) {
    DiagLine(ProcessLog()) << "init_raw_smbios_data CoInitializeEx hResult [" << joined << "].";
    return false;
  }
  const WmiOutcome outcome = ReadWithCom(*this);
  wmios::UninitializeCom();
  if (outcome.failed_step == WmiStep::kNone) return true;
  DiagLine line(ProcessLog());
  line << LogTextOf(outcome.failed_step);
  if (outcome.failed_step == WmiStep::kTableTooLarge) {
    line << table_length;
  } else {
    line << outcome.result;
  }
  line << "].";
  return false;
}

}  // namespace tavsn
