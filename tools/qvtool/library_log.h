// Where the library's messages go during a tool run: nowhere by default,
// standard error with -v, a file of the user's choice with --log FILE. The
// tool leaves no log file the user did not ask for.
#pragma once

#include <string>

namespace qvtool {

// Call before any other library call. Returns false with the reason when the
// log file cannot be used.
bool routeLibraryLog(bool toStandardError, const std::string& logFile, std::string& error);

}  // namespace qvtool
