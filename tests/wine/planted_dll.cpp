// A stand-in for a system DLL that someone planted beside the host program
// (copied there as winmm.dll, iphlpapi.dll or setupapi.dll): when loaded it
// writes a file named after itself with ".loaded" added, in its own folder,
// and every function it exports does nothing. tavsn.dll must never load it.
#include <windows.h>

#include <cstring>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH + 8];
  const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  std::memcpy(path + length, ".loaded", sizeof ".loaded");
  const HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  return TRUE;
}

extern "C" DWORD WINAPI planted_timeGetTime() { return 0; }
extern "C" DWORD WINAPI planted_GetAdaptersInfo(void*, ULONG*) { return ERROR_NOT_SUPPORTED; }
