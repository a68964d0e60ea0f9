// Environment variables of the test process, on every platform.
#pragma once

namespace qvtest {

void setEnvironment(const char* name, const char* value);
void unsetEnvironment(const char* name);

}  // namespace qvtest
