// tavsn.exe: loads tavsn.dll by path and prints each identifier it offers,
// with the return code, decoding the MAC and machine identifiers for a
// person.
//
//   tavsn.exe [path\to\tavsn.dll]
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "tavsn.h"

namespace {

struct Export {
  const char* name;
  const char* label;
  enum Kind { kIdentifier, kAlias, kPcId } kind;
};

constexpr Export kExports[] = {
    {"_GetMacSN@8", "GetMacSN", Export::kIdentifier},
    {"_GetPCSN@8", "GetPCSN", Export::kIdentifier},
    {"_GetPCSNEx@8", "GetPCSNEx", Export::kIdentifier},
    {"tav_get_pc_id_ex", "tav_get_pc_id_ex", Export::kAlias},
    {"tav_get_pc_id_info", "tav_get_pc_id_info", Export::kAlias},
    {"tav_get_pc_id", "tav_get_pc_id", Export::kPcId},
};

int HexByte(const char* two_digits) {
  unsigned value = 0;
  return std::sscanf(two_digits, "%2x", &value) == 1 ? static_cast<int>(value) : -1;
}

// The MAC identifier's record: source, count, and the two masked addresses.
void DescribeMacIdentifier(const char* text) {
  if (std::strncmp(text, "TQ11", 4) != 0) return;
  const char* digits = text + 4;
  int source = HexByte(digits);
  std::printf("  source: %d (%s)\n", source,
              source == 1 ? "adapter: driver's permanent address or IP Helper"
                          : "node of a sequential UUID");
  std::printf("  address count: %d\n", HexByte(digits + 2));
  std::printf("  first address, masked with its byte 0:  %.12s\n", digits + 4);
  std::printf("  second address, masked with byte 1 of the first: %.12s\n", digits + 16);
}

// A little-endian 16-bit field of the record, from its text.
int RecordField(const char* digits, int offset) {
  const int low = HexByte(digits + 2 * offset);
  const int high = HexByte(digits + 2 * offset + 2);
  return low < 0 || high < 0 ? -1 : low | (high << 8);
}

// The identifier's own 16-bit checksum over the record's bytes, with the
// field at `skip_offset` counted as zero.
unsigned RecordChecksum(const char* digits, int skip_offset) {
  unsigned sum = 0;
  for (int offset = 0; offset < 14; offset += 2) {
    if (offset == skip_offset) continue;
    sum += static_cast<unsigned>(RecordField(digits, offset));
  }
  const unsigned folded = ((sum >> 16) + (sum & 0xFFFF)) & 0xFFFF;
  return 0xFFFF - folded;
}

void DescribeFlags(int flags) {
  std::printf("  source flags: 0x%04X", flags);
  static const struct {
    int bit;
    const char* words;
  } kFlags[] = {{0x0001, "MAC step ran"},
                {0x0002, "MAC from a sequential UUID's node"},
                {0x0004, "firmware serial number"},
                {0x0008, "firmware UUID"},
                {0x0010, "processor serial"},
                {0x0020, "processor details"}};
  const char* separator = " (";
  for (const auto& flag : kFlags) {
    if ((flags & flag.bit) == 0) continue;
    std::printf("%s%s", separator, flag.words);
    separator = ", ";
  }
  std::printf("%s\n", separator[0] == ',' ? ")" : "");
  if ((flags & 0x000C) == 0) std::printf("  no firmware text (GetPCSNEx, or the firmware could not be read)\n");
}

// The machine identifier's record: flags, the MAC's first two bytes and
// checksum, and the lengths and checksums of the firmware and processor
// texts, or the record's own checksum in place of the firmware's.
void DescribeMachineIdentifier(const char* text, bool with_self_checksum) {
  if (std::strncmp(text, "TQ12", 4) != 0) return;
  const char* digits = text + 4;
  DescribeFlags(RecordField(digits, 0));
  std::printf("  MAC begins %.2s-%.2s, MAC checksum 0x%04X\n", digits + 4, digits + 6,
              RecordField(digits, 4));
  if (with_self_checksum) {
    const unsigned expected = RecordChecksum(digits, 8);
    const int stored = RecordField(digits, 8);
    std::printf("  record checksum 0x%04X: %s\n", stored,
                static_cast<unsigned>(stored) == expected ? "verifies" : "DOES NOT VERIFY");
  } else {
    std::printf("  firmware text: %d characters, checksum 0x%04X\n", RecordField(digits, 6),
                RecordField(digits, 8));
  }
  std::printf("  processor text: %d characters, checksum 0x%04X\n", RecordField(digits, 10),
              RecordField(digits, 12));
}

void CallExport(HMODULE dll, const Export& e) {
  FARPROC proc = GetProcAddress(dll, e.name);
  if (proc == nullptr) {
    std::printf("%-20s not exported by this library\n", e.label);
    return;
  }
  // GetProcAddress's generic pointer goes through void* to the real type.
  void* address = reinterpret_cast<void*>(proc);
  char buffer[64] = {};
  int result = 0;
  switch (e.kind) {
    case Export::kIdentifier:
      result = reinterpret_cast<TavsnIdentifierFn>(address)(buffer, sizeof buffer);
      break;
    case Export::kAlias:
      result = reinterpret_cast<TavsnAliasFn>(address)(buffer, sizeof buffer);
      break;
    case Export::kPcId:
      result = reinterpret_cast<TavsnPcIdFn>(address)(buffer, sizeof buffer);
      break;
  }
  std::printf("%-20s %-34s (return code %d)\n", e.label, result >= 0 ? buffer : "-", result);
  if (result < 0) return;
  if (e.kind != Export::kPcId && std::strcmp(e.label, "GetMacSN") != 0) {
    static const char* const kMacSources[] = {"a physical adapter's driver", "the IP Helper list",
                                              "a sequential UUID's node"};
    if (result <= 2) std::printf("  MAC address from %s\n", kMacSources[result]);
  }
  if (std::strcmp(e.label, "GetMacSN") == 0) DescribeMacIdentifier(buffer);
  if (std::strcmp(e.label, "GetPCSN") == 0) DescribeMachineIdentifier(buffer, false);
  if (std::strcmp(e.label, "GetPCSNEx") == 0) DescribeMachineIdentifier(buffer, true);
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "tavsn.dll";
  HMODULE dll = LoadLibraryA(path);
  if (dll == nullptr) {
    std::fprintf(stderr, "cannot load %s: error %lu\n", path, GetLastError());
    return 1;
  }
  for (const Export& e : kExports) CallExport(dll, e);
  FreeLibrary(dll);
  return 0;
}
