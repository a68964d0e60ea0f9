// What differs between compilers: printf format checks and overflow-checked
// arithmetic. GCC and Clang have builtins for both; others (MSVC) get plain
// C++.
#pragma once

#include <cstdint>

#if defined(__GNUC__) || defined(__clang__)
#define QV_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define QV_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

namespace qv::platform {

// a * b into aiProduct; false (aiProduct unspecified) when it overflows.
inline bool multiplyChecked(int64_t a, int64_t b, int64_t& aiProduct) {
#if defined(__GNUC__) || defined(__clang__)
  return !__builtin_mul_overflow(a, b, &aiProduct);
#else
  if (a > 0 ? (b > 0 ? a > INT64_MAX / b : b < INT64_MIN / a)
            : (b > 0 ? a < INT64_MIN / b : a != 0 && b < INT64_MAX / a))
    return false;
  aiProduct = a * b;
  return true;
#endif
}

}  // namespace qv::platform
