#pragma once
// Identifier texts for the server tests, built with the DLL's own encoder in
// the order its exports fill the records.

#include <cstring>
#include <string>

#include "api/identifier_records.h"
#include "server/identifier.h"

namespace tavsn::server::testing {

inline void MacBytes(const char* text, std::uint8_t (&mac)[6]) {
  std::memset(mac, 0, sizeof mac);
  ScanMacBytes(text, mac);
}

inline std::string MacIdText(std::uint8_t source, int count, const char* first, const char* second) {
  std::uint8_t a[6], b[6];
  MacBytes(first, a);
  MacBytes(second, b);
  char text[kIdentifierBufferSize];
  MacSnText(MacSnRecord::Build(source, count, a, b), text);
  return text;
}

enum class Firmware { kSerial, kUuid, kNotRead, kSelfChecksum };

struct MachineInputs {
  const char* mac = "0A1B2C3D4E5F";
  const char* processor = "Example CPU-00000000-00000006-00000094";
  bool processor_serial = false;
  Firmware firmware = Firmware::kSelfChecksum;
  const char* system_text = "";
  bool mac_from_uuid = false;
};

inline PcSnRecord MachineRecord(const MachineInputs& in) {
  PcSnRecord record;
  record.SetFlag(PcSnRecord::kFlagMacStep);
  if (in.mac_from_uuid) record.SetFlag(PcSnRecord::kFlagMacFromUuid);
  std::uint8_t mac[6];
  MacBytes(in.mac, mac);
  record.SetMac(mac);
  record.SetFlag(in.processor_serial ? PcSnRecord::kFlagProcessorSerial : PcSnRecord::kFlagProcessorDetails);
  record.SetTextFields(PcSnRecord::kProcessorLengthOffset, in.processor);
  switch (in.firmware) {
    case Firmware::kSerial:
      record.SetFlag(PcSnRecord::kFlagSystemSerial);
      record.SetTextFields(PcSnRecord::kSystemLengthOffset, in.system_text);
      break;
    case Firmware::kUuid:
      record.SetFlag(PcSnRecord::kFlagSystemUuid);
      record.SetTextFields(PcSnRecord::kSystemLengthOffset, in.system_text);
      break;
    case Firmware::kNotRead: break;
    case Firmware::kSelfChecksum: record.SetSelfChecksum(); break;
  }
  return record;
}

inline std::string MachineIdText(const MachineInputs& in) {
  char text[kIdentifierBufferSize];
  PcSnText(MachineRecord(in), text);
  return text;
}

}  // namespace tavsn::server::testing
