// Environment variables of the test process, on every platform.
#pragma once

namespace qvtest {

// On Windows an empty value removes the variable: its C runtime keeps none.
void setEnvironment(const char* name, const char* value);
void unsetEnvironment(const char* name);

}  // namespace qvtest
