// tavsn.exe: loads tavsn.dll by path and prints each identifier it offers,
// with the return code, decoding the MAC identifier for a person.
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
  if (result >= 0 && std::strcmp(e.label, "GetMacSN") == 0) DescribeMacIdentifier(buffer);
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
