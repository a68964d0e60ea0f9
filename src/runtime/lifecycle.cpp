#include "runtime/lifecycle.h"

void qvLibraryProcessDetach() {
  // Nothing of the runtime is held open between calls; the transfer
  // subsystem hooks its shutdown in here.
}
