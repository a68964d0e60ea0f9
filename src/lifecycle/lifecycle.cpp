#include "lifecycle/lifecycle.h"

#include "tine/bringup.h"

void qvLibraryProcessDetach() {
  // Nothing of the runtime is held open between calls; only TINE, if a grab
  // started it, has to be stopped.
  _internal_StopTineIfAlreadyStarted();
}
