#include "lifecycle/lifecycle.h"

#include "tine/bringup.h"

namespace qv::lifecycle {

void processDetach() {
  // Nothing of the runtime is held open between calls; only TINE, if a grab
  // started it, has to be stopped.
  _internal_StopTineIfAlreadyStarted();
}

}  // namespace qv::lifecycle
