// The DLL's entry point: the unload work runs at process detach.
#include <windows.h>

#include "lifecycle/lifecycle.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_DETACH) qv::lifecycle::processDetach();
  return TRUE;
}
