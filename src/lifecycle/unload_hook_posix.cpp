// The shared object's unload hook: what a Windows DLL does at process detach.
#include "lifecycle/lifecycle.h"

namespace {

__attribute__((destructor)) void onUnload() { qv::lifecycle::processDetach(); }

}  // namespace
