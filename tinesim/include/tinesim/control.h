// Control interface of the stand-in TINE layer: lets tests, benchmarks and
// tools set up and inspect the simulated video servers. Not part of TINE.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Number of lines passed to feclog since the last reset.
int tinesimFeclogCount(void);
// Copies the last feclog line (cut to size - 1 characters).
void tinesimLastFeclog(char* asBuffer, int aiSize);
// Back to the state at load.
void tinesimReset(void);

#ifdef __cplusplus
}
#endif
