// Pointer mapping, permissions and kernel mode. The phone's processes share one address space, and
// a pointer is made valid in another process by mapping it; on desktop each process has its own, so
// mapping changes nothing, and the permissions and kernel mode the phone grants have no meaning.
#include <windows.h>

namespace {
DWORD Permissions = 1;  // the phone's first process slot
}

extern "C" LPVOID WINAPI MapPtrToProcess(LPVOID pointer, HANDLE) {
  return pointer;
}

extern "C" DWORD WINAPI SetProcPermissions(DWORD permissions) {
  DWORD old = Permissions;
  Permissions = permissions;
  return old;
}

extern "C" DWORD WINAPI GetCurrentPermissions(void) {
  return Permissions;
}

extern "C" BOOL WINAPI SetKMode(BOOL mode) {
  static BOOL kernel = FALSE;
  BOOL old = kernel;
  kernel = mode;
  return old;
}
