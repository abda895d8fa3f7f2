// The library's entry point. The process log is a static object: the C
// runtime constructs it before this runs at load and destroys it, closing
// the file, after this runs at unload.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  // No thread ever needs the library's attention.
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
  return TRUE;
}
