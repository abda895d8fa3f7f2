// The library's entry point. Hosts load and unload the library around
// every licence check, so an unload gives back everything it holds: the log
// file is the only thing that outlives a call.
#include <windows.h>

#include "base/stack_protector.h"
#include "base/system_library.h"
#include "log/diag_log.h"

// No frame of its own is protected: it changes the stack cookie.
extern "C" __attribute__((no_stack_protector)) BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      tavsn::SeedStackCookie(module);
      // The C runtime gives the module a TLS directory, and for such a
      // module this call fails: thread notifications then still arrive, and
      // the cases below ignore them.
      DisableThreadLibraryCalls(module);
      break;
    case DLL_PROCESS_DETACH:
      // When the process is ending, another thread may have died holding
      // the log's lock; the system closes the file itself then.
      if (reserved == nullptr) {
        tavsn::CloseProcessLog();
        tavsn::ReleaseSystemLibraries();
      }
      break;
    case DLL_THREAD_ATTACH:
    case DLL_THREAD_DETACH:
    default: break;
  }
  return TRUE;
}
