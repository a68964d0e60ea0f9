// Multi-frame grab: the link callback and the process-wide admission state.
#pragma once

namespace qv::tine {

// The TINE link callback of qvGrabFramesEx2; runs on TINE's cycle thread and
// lets no exception out.
void _internal_grabFramesCallback(int aId, int aCC, void* aRef) noexcept;

// True while a multi-frame grab admits callbacks.
bool _internal_grabCallbackAllowed();

}  // namespace qv::tine
