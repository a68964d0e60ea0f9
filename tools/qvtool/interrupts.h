// Ctrl-C and SIGTERM while long work runs. The first signal raises the
// first-stage flag (stop acquiring, or stop a load or save); a second one
// raises the second-stage flag too (abandon the save of what was acquired).
// The library polls these flags; nothing is cut off mid-write by a signal.
#pragma once

namespace qvtool {

class InterruptScope {
 public:
  InterruptScope();   // installs the handlers, flags cleared
  ~InterruptScope();  // restores the default handlers
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

  int* firstStage();
  int* secondStage();
  // Number of signals received since the scope began.
  int signals() const;
  bool interrupted() const { return signals() > 0; }
};

}  // namespace qvtool
