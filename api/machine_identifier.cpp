// GetPCSN and GetPCSNEx: the machine identifier, from the first MAC address,
// the processor and, for GetPCSN, the firmware's system serial number or
// UUID. Both write their log lines as "GetPCSNEx" where a caller's log has
// always shown that name, whichever of the two ran.
#include <cstring>

#include "api/identifier_records.h"
#include "api/mac_search.h"
#include "log/diag_log.h"
#include "sysinfo/cpuid_info.h"
#include "sysinfo/smbios_info.h"
#include "tavsn.h"

namespace tavsn {
namespace {

DiagLine Log() { return DiagLine(ProcessLog()); }

// Opens the log and checks the caller's buffer: 0, or -2 / -3.
int CheckPcSnArgs(const char* buffer, int size) {
  OpenDiagLog();
  Log() << "GetPCSNEx start.";
  if (buffer == nullptr || size == 0) {
    Log() << "GetPCSN Invalid Param.";
    return TAVSN_ERROR_INVALID_PARAM;
  }
  if (size < static_cast<int>(kIdentifierLength)) {
    Log() << "GetPCSN Buffer To Small.";
    return TAVSN_ERROR_BUFFER_SMALL;
  }
  return 0;
}

// The first MAC address and its checksum: returns where it came from (0
// driver, 1 IP Helper, 2 UUID), or -1 when there is none.
int FillPcSnMac(PcSnRecord& record) {
  MacList macs;
  // Set whatever the physical read found: a MAC from the IP Helper list
  // gives the same flags as one from a driver.
  record.SetFlag(PcSnRecord::kFlagMacStep);
  const MacSearch search = CollectMacs(macs);
  if (search.step == MacStep::kUuid) record.SetFlag(PcSnRecord::kFlagMacFromUuid);
  // A list that lost an address for want of memory makes no identifier.
  if (macs.failed()) return TAVSN_ERROR_NO_MAC;
  if (search.count == 0) {
    Log() << "GetMacSN No MAC address.";
    return TAVSN_ERROR_NO_MAC;
  }
  Log() << "GetPCSN Mac Count [ " << search.count << " ]";
  std::uint8_t mac[6] = {};
  ScanMacBytes(macs[0], mac);
  Log() << "GetPCSN First Mac [ " << macs[0] << " ]";
  record.SetMac(mac);
  return static_cast<int>(search.step);
}

// The processor serial text or the processor details text.
void FillPcSnProcessor(PcSnRecord& record) {
  CpuidInfo cpuid;
  cpuid.read_cpuid();
  char details[kProcessorDetailsBufferSize];
  const char* text = nullptr;
  if (cpuid.has_serial_number_flag()) {
    record.SetFlag(PcSnRecord::kFlagProcessorSerial);
    text = cpuid.get_processor_serial_text();
    Log() << "GetPCSNEx CPU SN [ " << text << " ]";
  } else {
    record.SetFlag(PcSnRecord::kFlagProcessorDetails);
    format_processor_details(cpuid, details);
    text = details;
    Log() << "GetPCSNEx CPU Details [ " << text << " ]";
  }
  record.SetTextFields(PcSnRecord::kProcessorLengthOffset, text);
}

// The firmware's serial number or UUID text. True also when the firmware
// cannot be read (the system fields stay zero then); false when there is no
// memory for the firmware record.
bool FillPcSnSystem(PcSnRecord& record) {
  // The firmware record and its work buffer take over 130 KB: far too much
  // for the stack of a host thread.
  const SmbiosInfoHold info(AcquireSmbiosInfo());
  if (!info) return false;
  if (!info.get()->init_system_information()) {
    Log() << "GetPCSN init_system_information failed. ";
    return true;
  }
  const char* text = nullptr;
  if (info.get()->serial_number_usable()) {
    record.SetFlag(PcSnRecord::kFlagSystemSerial);
    text = info.get()->get_serial_number();
    Log() << "GetPCSN Motherboard SN [ " << text << " ]";
  } else {
    record.SetFlag(PcSnRecord::kFlagSystemUuid);
    text = info.get()->get_uuid_text();
    Log() << "GetPCSN Motherboard UUID [ " << text << " ]";
  }
  record.SetTextFields(PcSnRecord::kSystemLengthOffset, text);
  return true;
}

// Encodes the record and copies its 32 characters into `buffer`.
void WritePcSnText(const PcSnRecord& record, char* buffer) {
  char text[kIdentifierBufferSize];
  PcSnText(record, text);
  std::memcpy(buffer, text, kIdentifierLength);
  Log() << "GetPCSNEx  [ " << text << " ]";
}

// What both exports do first: the arguments, the MAC and the processor.
// Returns the MAC source index or a negative result.
int StartPcSnRecord(char* buffer, int size, PcSnRecord& record) {
  const int checked = CheckPcSnArgs(buffer, size);
  if (checked < 0) return checked;
  const int source = FillPcSnMac(record);
  if (source < 0) return source;
  FillPcSnProcessor(record);
  return source;
}

int MachineIdentifier(char* buffer, int size) {
  PcSnRecord record;
  const int source = StartPcSnRecord(buffer, size, record);
  if (source < 0) return source;
  if (!FillPcSnSystem(record)) return TAVSN_ERROR_NO_MAC;
  WritePcSnText(record, buffer);
  return source;
}

int MachineIdentifierWithSelfChecksum(char* buffer, int size) {
  PcSnRecord record;
  const int source = StartPcSnRecord(buffer, size, record);
  if (source < 0) return source;
  record.SetSelfChecksum();
  WritePcSnText(record, buffer);
  return source;
}

}  // namespace
}  // namespace tavsn

extern "C" int TAVSN_STDCALL GetPCSN(char* buffer, int size) { return tavsn::MachineIdentifier(buffer, size); }

extern "C" int TAVSN_STDCALL GetPCSNEx(char* buffer, int size) {
  return tavsn::MachineIdentifierWithSelfChecksum(buffer, size);
}

extern "C" int TAVSN_CDECL tav_get_pc_id_ex(char* buffer, int size) { return GetPCSN(buffer, size); }

extern "C" int TAVSN_CDECL tav_get_pc_id_info(char* buffer, int size) { return GetPCSNEx(buffer, size); }
