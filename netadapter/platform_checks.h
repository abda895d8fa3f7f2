#pragma once
// What the platform layer must judge of the system's answers before it
// turns them into values: whether a linked list stays inside the buffer it
// was written to, and what a size query that gave too little means. The
// thin Windows layer calls these over the bytes it holds; the decisions stay
// portable and are tested natively.

#include <cstddef>
#include <cstdint>

#include "netadapter/net_platform.h"

namespace tavsn::netos {

constexpr Status kErrorInvalidData = 13;
constexpr Status kErrorInsufficientBuffer = 122;

// A record of the IP Helper list, `record_offset` bytes into the buffer the
// system filled (`buffer_size` bytes), whose first `readable_part` bytes are
// read: true when all of those lie inside the buffer. `record_offset` is
// the record's address minus the buffer's, wrapped as unsigned: a record
// before the buffer wraps to a huge offset and lies outside it too.
bool RecordLiesInBuffer(std::uintptr_t record_offset, std::size_t buffer_size, std::size_t readable_part);

// The most records of `readable_part` bytes that `buffer_size` bytes can
// hold: a longer chain of links must loop or leave the buffer.
std::size_t MostRecordsIn(std::size_t buffer_size, std::size_t readable_part);

// The error to report for a device-interface detail size query whose size
// is too small for the structure's fixed part: its last error, unless that
// is none or only "the buffer is too small", which cannot explain a size
// that holds no path.
Status DetailSizeFailure(Status last_error);

}  // namespace tavsn::netos
