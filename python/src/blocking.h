// Long library calls (grab, load, save) from Python: without the GIL, so
// that other Python threads run, and interruptible with Ctrl-C.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>

namespace qvpy {

namespace py = pybind11;

// Runs call on a thread of its own while the calling thread waits without
// the GIL. Every 20 ms the caller takes the GIL back: pending signal
// handlers run (Ctrl-C raises KeyboardInterrupt on the main thread), and
// `progress_callback` (None or a callable) gets the new value of *progress.
// An exception from either stores 1 into *interrupt (the call then stops at
// its next check), waits for the call to end and is raised; so is an
// exception of the call itself. interrupt and progress may be null.
void runBlocking(const std::function<void()>& call, int* interrupt, double* progress,
                 const py::object& progress_callback);

}  // namespace qvpy
