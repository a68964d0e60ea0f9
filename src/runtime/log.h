// The library's message function and its process-wide settings.
#pragma once

#include <cstdio>

#include "platform/compiler.h"

// printf-like; writes one message where the verbosity says. Never fails and
// never throws: it is called from destructors, clean-up paths and the TINE
// callback thread.
void _internal_log(const char* asFormat, ...) noexcept QV_PRINTF_FORMAT(1, 2);

// 1 or 2; trace lines are written only when it returns more than 1.
int _internal_getLogLevel() noexcept;

void _internal_initLogging(bool abCompose);
void _internal_logLibraryInfo(FILE* aStream, const char* asPrefix);
void _internal_logVerbosityChange(int aiOldLevel, const char* asOldFile, int aiNewLevel,
                                  const char* asNewFile, bool abAboutToBe);
