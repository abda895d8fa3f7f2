#include "netadapter/platform_checks.h"

namespace tavsn::netos {

bool RecordLiesInBuffer(std::uintptr_t record_offset, std::size_t buffer_size, std::size_t readable_part) {
  return buffer_size >= readable_part && record_offset <= buffer_size - readable_part;
}

std::size_t MostRecordsIn(std::size_t buffer_size, std::size_t readable_part) {
  return readable_part == 0 ? 0 : buffer_size / readable_part;
}

Status DetailSizeFailure(Status last_error) {
  return last_error != kSuccess && last_error != kErrorInsufficientBuffer ? last_error : kErrorInvalidData;
}

}  // namespace tavsn::netos
