// The shared object's unload hook: what a Windows DLL does at process detach.
#include "lifecycle/lifecycle.h"

__attribute__((destructor)) static void qvOnUnload() { qvLibraryProcessDetach(); }
