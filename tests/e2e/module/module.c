/* A stand-in for the host product's desktop module: a DLL that does nothing
 * and carries a version resource (module.rc). The tests build it with the
 * file version they need. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
