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

namespace qv::text {

// Letter case folded in ASCII only: the result must not depend on the
// process's locale.
inline char asciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Equal without regard to ASCII letter case; null equals only null.
bool equalIgnoringCase(const char* a, const char* b);
// The name ends in the ending, without regard to ASCII letter case.
bool endsWithIgnoringCase(const char* name, const char* ending);

// A reason text into a caller's buffer: nothing when the buffer is null or
// holds fewer than 2 bytes, else cut to size - 1 characters and terminated.
void copyReason(const std::string& reason, char* buffer, size_t size);
// The same for a fixed text; needs no memory.
void copyReason(const char* reason, char* buffer, size_t size);

}  // namespace qv::text
