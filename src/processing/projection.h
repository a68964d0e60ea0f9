// Collapsing a legacy sequence into one frame (used by convert_format).
#pragma once

#include "quivox3/quivox3.h"

// 0 done; -5 depth not 8, 16 or 32; -6 out of memory (record unchanged);
// -1 a record without its frames.
int averageframes(VIDINFHDR* vinf);
int maxframes(VIDINFHDR* vinf);
