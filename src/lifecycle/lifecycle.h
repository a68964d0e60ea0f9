// Work done when the library is detached from the process.
#pragma once

namespace qv::lifecycle {

void processDetach() noexcept;

}  // namespace qv::lifecycle
