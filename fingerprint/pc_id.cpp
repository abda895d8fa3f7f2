#include "fingerprint/pc_id.h"

#include "base/process_heap.h"
#include "fingerprint/probes.h"

namespace tavsn::fingerprint {

ProbeRecord* AllocateProbeRecord() noexcept { return static_cast<ProbeRecord*>(HeapAllocate(sizeof(ProbeRecord))); }

int get_pc_id(char* data, unsigned int len, ProbeRecordAllocator allocate) noexcept {
  if (len < kPcIdBytes || data == nullptr) return TAVSN_PC_ID_BAD_BUFFER;
  const HeapPointer<ProbeRecord> record(allocate());
  if (!record) return TAVSN_PC_ID_NO_MEMORY;
  collect_pc_info(record.get());
  write_pc_id(*record.get(), data);
  return TAVSN_PC_ID_WRITTEN;
}

}  // namespace tavsn::fingerprint

extern "C" int TAVSN_CDECL tav_get_pc_id(char* data, unsigned int len) {
  return tavsn::fingerprint::get_pc_id(data, len, tavsn::fingerprint::AllocateProbeRecord);
}
