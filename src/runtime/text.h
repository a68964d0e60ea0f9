// Text helpers every subsystem shares: reason texts into callers' buffers,
// comparisons without regard to letter case, and shortened paths for
// fixed-size name fields.
#pragma once

#include <cstddef>
#include <string>

// Copies name into buffer (size bytes, terminator included), cutting out the
// middle with "..." when it does not fit. False (nothing written) when buffer
// is null, name is null or size is below 5.
bool _internal_shortenPath(const char* name, char* buffer, size_t size);
