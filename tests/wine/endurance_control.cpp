// endurance_control.dll: a stand-in for tavsn.dll, built by the same
// toolchain with the same static runtime and importing the same system
// DLLs, but with no C++ exception runtime in it. The endurance test loads
// and unloads it exactly as it does tavsn.dll: whatever the process figures
// show for it is Wine's own, not the library's.

#include <windows.h>
#include <iphlpapi.h>
#include <mmsystem.h>
#include <setupapi.h>
#include <shellapi.h>

#include <cstring>

namespace {

// Imports the system DLLs tavsn.dll imports, so that each cycle loads and
// unloads the same set of them.
void* volatile imported[] = {
    reinterpret_cast<void*>(&RegCloseKey),
    reinterpret_cast<void*>(&GetNumberOfInterfaces),
    reinterpret_cast<void*>(&SetupDiDestroyDeviceInfoList),
    reinterpret_cast<void*>(&ShellExecuteA),
    reinterpret_cast<void*>(&timeGetTime),
};

int Fill(char* buffer, int size) {
  if (buffer == nullptr || size < 32) return -1;
  std::memset(buffer, 'C', 32);
  return imported[0] != nullptr ? 32 : -1;
}

}  // namespace

extern "C" int __stdcall GetMacSN(char* buffer, int size) { return Fill(buffer, size); }

extern "C" int __cdecl tav_get_pc_id(char* data, unsigned int len) {
  return Fill(data, static_cast<int>(len < 64 ? len : 64));
}
