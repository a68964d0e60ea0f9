// Access codes and call modes: keyword decoding, rendering, conversion, and
// the texts of TINE completion codes.
#pragma once

#include <cstddef>

namespace qv::tine {

// Plain decoders: OR of the keyword values; -1 text longer than 200
// characters, -2 no keyword, -3 unknown keyword.
int _internal_tineDecodeAccessString(const char* asText);
int _internal_tineDecodeModeString(const char* asText);
// The same, with aiDefault in place of any negative code.
int _internal_tineDecodeAccessString(const char* asText, int aiDefault);
int _internal_tineDecodeModeString(const char* asText, int aiDefault);
// Rule-based decoder (QVV3_INTERNAL_tineDecodeModeStringCMnew) with a default.
int _internal_tineDecodeModeStringCMnew(const char* asText, int aiDefault);

// Text of a completion code for warnings: cc2str text, or the number when the
// code is beyond the list. Always terminated; nothing written for size <= 1.
char* _internal_tineCodeToString(int aiCode, char* asBuffer, size_t aiBufferSize);

}  // namespace qv::tine
