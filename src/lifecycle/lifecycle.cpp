#include "lifecycle/lifecycle.h"

#include "tine/bringup.h"

namespace qv::lifecycle {

void processDetach() noexcept {
  // Nothing of the runtime is held open between calls; only TINE, if a grab
  // started it, has to be stopped. The unload hook must not throw: should
  // stopping fail so, the process ends without it.
  try {
    _internal_StopTineIfAlreadyStarted();
  } catch (...) {
  }
}

}  // namespace qv::lifecycle
