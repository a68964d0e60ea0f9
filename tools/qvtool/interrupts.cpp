#include "interrupts.h"

#include <csignal>

#include "system.h"

namespace qvtool {

namespace {

// Written by the handler; read by the library's polling loops.
volatile sig_atomic_t g_signals = 0;
volatile int g_firstStage = 0;
volatile int g_secondStage = 0;

void onInterrupt() {
  if (g_signals < 1000) g_signals = g_signals + 1;
  g_firstStage = 1;
  if (g_signals >= 2) g_secondStage = 1;
}

}  // namespace

InterruptScope::InterruptScope() {
  g_signals = 0;
  g_firstStage = 0;
  g_secondStage = 0;
  sys::onInterrupt(onInterrupt);
}

InterruptScope::~InterruptScope() { sys::onInterrupt(nullptr); }

int* InterruptScope::firstStage() { return const_cast<int*>(&g_firstStage); }
int* InterruptScope::secondStage() { return const_cast<int*>(&g_secondStage); }
int InterruptScope::signals() const { return g_signals; }

}  // namespace qvtool
