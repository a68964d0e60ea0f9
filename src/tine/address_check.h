// Checks of the TINE address and property name every grab starts with.
#pragma once

namespace qv::tine {
// Size of the normalised-address buffer the callers hold (132 characters + NUL).
constexpr int kBeautifiedTineAddressSize = 133;
}  // namespace qv::tine

// 1 valid (buffer holds the normalised /context/server/device), 0 malformed
// (buffer empty), -4 too short or too long, -5 null argument or buffer below
// kBeautifiedTineAddressSize. Messages name asCallerName; none when !abVerbose.
int _internal_checkTineAddress(const char* asCallerName, const char* asTineAddress,
                               char* asBeautifiedTineAddress, int aiBeautifiedSize, bool abVerbose);

// True when the property name may be handed to TINE.
bool _internal_checkTinePropertyName(const char* asCallerName, const char* asTinePropertyName,
                                     bool abVerbose);
