#pragma once
// The machine fingerprint: the first 31 digits, in uppercase, of the MD5 of
// texts read from the probe record.

#include "fingerprint/digest.h"
#include "fingerprint/probe_record.h"

// tav_get_pc_id is declared in the public header, with TAVSN_CDECL.
#include "tavsn.h"

namespace tavsn::fingerprint {

// Gives a record from the process heap (HeapAllocate), not yet zeroed, or
// null when there is no storage.
using ProbeRecordAllocator = ProbeRecord* (*)() noexcept;
ProbeRecord* AllocateProbeRecord() noexcept;

// tav_get_pc_id with the record's storage obtained from `allocate`.
int get_pc_id(char* data, unsigned int len, ProbeRecordAllocator allocate) noexcept;

}  // namespace tavsn::fingerprint
