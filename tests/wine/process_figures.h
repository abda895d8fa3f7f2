// The process's open handles and committed private memory, counted directly:
// Wine answers GetProcessHandleCount with 0 and reports no PrivateUsage.
// Handle values are multiples of 4, handed out from the bottom.
#ifndef TAVSN_TESTS_WINE_PROCESS_FIGURES_H
#define TAVSN_TESTS_WINE_PROCESS_FIGURES_H

#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cstring>

constexpr unsigned kHandleLimit = 0x40000;
constexpr unsigned kHandleSlots = kHandleLimit / 4;

struct Checkpoint {
  long at;
  unsigned handles;
  unsigned long long private_kib;
  bool open[kHandleSlots];
};

inline void Measure(long at, Checkpoint& checkpoint) {
  checkpoint.at = at;
  checkpoint.handles = 0;
  for (unsigned slot = 1; slot < kHandleSlots; ++slot) {
    DWORD flags;
    checkpoint.open[slot] =
        GetHandleInformation(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(slot) * 4), &flags) != 0;
    if (checkpoint.open[slot]) ++checkpoint.handles;
  }
  unsigned long long private_bytes = 0;
  const char* address = nullptr;
  MEMORY_BASIC_INFORMATION region;
  while (VirtualQuery(address, &region, sizeof region) == sizeof region) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) private_bytes += region.RegionSize;
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= address) break;
    address = next;
  }
  checkpoint.private_kib = private_bytes / 1024;
}

// Counts by type name the handles open at the last checkpoint and not at the
// first, through NtQueryObject's type information (class 2).
inline void PrintAppearedHandleTypes(const Checkpoint& first, const Checkpoint& last, std::FILE* out,
                                     const char* prefix) {
  using QueryObject = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<QueryObject>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
  constexpr int kTypes = 16;
  char names[kTypes][64] = {};
  long counts[kTypes] = {};
  for (unsigned slot = 1; slot < kHandleSlots; ++slot) {
    if (!last.open[slot] || first.open[slot]) continue;
    char name[64] = "unknown";
    alignas(8) unsigned char info[1024];
    if (query != nullptr &&
        query(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(slot) * 4), 2, info, sizeof info, nullptr) >= 0) {
      const auto* type_name = reinterpret_cast<const UNICODE_STRING*>(info);
      WideCharToMultiByte(CP_ACP, 0, type_name->Buffer, type_name->Length / 2, name, sizeof name - 1, nullptr, nullptr);
      name[type_name->Length / 2 < sizeof name - 1 ? type_name->Length / 2 : sizeof name - 1] = '\0';
    }
    int t = 0;
    while (t < kTypes - 1 && names[t][0] != '\0' && std::strcmp(names[t], name) != 0) ++t;
    if (names[t][0] == '\0') std::strcpy(names[t], name);
    ++counts[t];
  }
  for (int t = 0; t < kTypes && names[t][0] != '\0'; ++t)
    std::fprintf(out, "%sappeared type=%s count=%ld\n", prefix, names[t], counts[t]);
}

#endif  // TAVSN_TESTS_WINE_PROCESS_FIGURES_H
