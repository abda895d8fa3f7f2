#pragma once
// The Windows services behind the fingerprint probes, each turned into a
// value or an error code: what to format and what an empty area means is
// decided in probes.cpp. probe_platform_win32.cpp implements these; the
// native tests link a fake.

#include <cstddef>
#include <cstdint>

#include "base/resources.h"

namespace tavsn::probeos {

using Status = std::uint32_t;
constexpr Status kSuccess = 0;

// --- Registry -----------------------------------------------------------------

// RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ).
Status OpenMachineKey(const char16_t* path, RegistryKey& key) noexcept;

// RegQueryValueExW into a 4-byte number, data size 4, type not asked for.
Status QueryNumberValue(const RegistryKey& key, const char16_t* name, std::uint32_t& value) noexcept;

// --- Memory -------------------------------------------------------------------

// GlobalMemoryStatusEx: ullTotalPhys; false when the call fails.
bool TotalPhysicalMemory(std::uint64_t& bytes) noexcept;

// --- Disk ---------------------------------------------------------------------

// CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ |
// FILE_SHARE_WRITE, null, OPEN_EXISTING, 0, null); false on failure.
bool OpenDiskForReadWrite(const char16_t* path, FileHandle& disk) noexcept;

// DeviceIoControl(IOCTL_DISK_GET_LENGTH_INFO): the length in bytes; false
// on failure.
bool QueryDiskLength(const FileHandle& disk, std::int64_t& length) noexcept;

// --- Adapter list -------------------------------------------------------------

// The list buffer holds 16 entries. A 32-bit process's buffer is 10,368
// bytes, 16 of the 648-byte IP_ADAPTER_INFO of Microsoft's headers,
// whatever size the toolchain's headers give the structure; a 64-bit
// process's entries are larger, and its buffer is 16 of them, so that both
// builds take the same adapter lists and fail on the same longer ones.
constexpr std::uint32_t kAdapterListEntries = 16;
constexpr std::uint32_t kAdapterListBytes32 = 10368;

// One GetAdaptersInfo call into the list buffer on the stack;
// on success `address` receives the first six hardware address bytes of the
// first entry, whatever its type or recorded address length.
Status FirstAdapterAddress(std::uint8_t (&address)[6]) noexcept;

// --- Standard output ------------------------------------------------------------

// Writes `text` to the C runtime's standard output and flushes it.
void WriteStandardOutput(const char* text) noexcept;

}  // namespace tavsn::probeos
