// Shortening of long paths for fixed-size name fields: keeps the start of the
// path up to its third directory level and its last two components, because
// those tell a reader where a file came from.
#include <cstring>

#include "runtime/text.h"

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// Up to and including the third separator (or the second, or the first);
// -1 when the name holds none.
long headThroughSeparators(const char* asName, size_t n) {
  long lLastHit = -1;
  size_t uiFrom = 0;
  for (int iHit = 0; iHit < 3 && uiFrom < n; ++iHit) {
    size_t i = uiFrom;
    while (i < n && !isSeparator(asName[i])) ++i;
    if (i >= n) break;
    lLastHit = static_cast<long>(i);
    uiFrom = i + 1;  // searching on needs at least one character after the hit
  }
  return lLastHit < 0 ? -1 : lLastHit + 1;
}

// From the second-to-last separator (or the last one) to the end; a separator
// in the last position does not count. -1 when the name holds none.
long tailFromSeparators(const char* asName, size_t n) {
  if (n < 2) return -1;
  long lFound = -1;
  int iHits = 0;
  for (long i = static_cast<long>(n) - 2; i >= 0 && iHits < 2; --i) {
    if (isSeparator(asName[i])) {
      lFound = i;
      ++iHits;
    }
  }
  return lFound < 0 ? -1 : static_cast<long>(n) - lFound;
}

}  // namespace

bool _internal_shortenPath(const char* name, char* buffer, size_t size) {
  if (buffer == nullptr || size < 5 || name == nullptr) return false;
  const size_t n = std::strlen(name);
  if (n < size) {
    std::memcpy(buffer, name, n + 1);
    return true;
  }
  const long lRoom = static_cast<long>(size) - 1;  // characters that fit
  long lHead = headThroughSeparators(name, n);
  if (lHead < 0) lHead = lRoom / 2 - 2;
  long lTail = tailFromSeparators(name, n);
  if (lTail < 0) lTail = lRoom / 2 - 1;

  if (lHead + lTail + 3 > lRoom) {
    lHead = (static_cast<long>(size) - 4) / 2;
    lTail = static_cast<long>(size) - 4 - lHead;
  } else {
    // Widen both pieces towards the cut, tail first, until the room is used.
    bool bTailNext = true;
    while (lHead + lTail + 3 < lRoom) {
      if (bTailNext)
        ++lTail;
      else
        ++lHead;
      bTailNext = !bTailNext;
    }
  }
  std::memcpy(buffer, name, static_cast<size_t>(lHead));
  std::memcpy(buffer + lHead, "...", 3);
  std::memcpy(buffer + lHead + 3, name + n - lTail, static_cast<size_t>(lTail));
  buffer[lHead + 3 + lTail] = '\0';
  return true;
}
