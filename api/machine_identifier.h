#pragma once
// The steps shared by GetPCSN and GetPCSNEx, each filling part of the
// machine identifier's record.

#include "api/identifier_records.h"

namespace tavsn {

// Opens the log and checks the caller's buffer: 0, or -2 / -3.
int CheckPcSnArgs(const char* buffer, int size);

// The first MAC address and its checksum: returns where it came from (0
// driver, 1 IP Helper, 2 UUID), or -1 when there is none.
int FillPcSnMac(PcSnRecord& record);

// The processor serial text or the processor details text. Returns 0.
int FillPcSnProcessor(PcSnRecord& record);

// The firmware's serial number or UUID text. Returns 0, also when the
// firmware cannot be read (the system fields stay zero then); -1 when there
// is no memory for the firmware record.
int FillPcSnSystem(PcSnRecord& record);

// Encodes the record and copies its 32 characters into `buffer`.
void WritePcSnText(const PcSnRecord& record, char* buffer);

}  // namespace tavsn
