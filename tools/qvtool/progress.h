// A progress bar on standard error while the library works, drawn only when
// standard error is a terminal, from the progress value the library writes.
#pragma once

#include <functional>

namespace qvtool {

// Runs work(progress) on this thread while another thread draws the bar.
int withProgress(const char* label, const std::function<int(double*)>& work);

}  // namespace qvtool
