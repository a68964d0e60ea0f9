// Multi-frame grab: the link callback and the process-wide admission state.
#pragma once

#include "image/frame_block.h"
#include "quivox3/quivox3.h"

namespace qv::tine {

// qvGrabFramesEx2, with a block for the frames: frames of the property's
// size go into it (see qv::image::FrameBlock), so that they lie in order.
int _internal_grabFramesInto(QVBUNCHOFIMAGES* aImages, DTYPE* aImagesDOut, const char* aTineAddress,
                             const char* aTinePropertyName, unsigned int aNumFrames,
                             int aTineTimeoutMilliseconds, int aTineMode, int* apiOutError,
                             int* apiOutTineError, int* apiInInterrupt,
                             double* apdOutPercentageFinished, qv::image::FrameBlock* apBlock);

// The TINE link callback of qvGrabFramesEx2; runs on TINE's cycle thread and
// lets no exception out.
void _internal_grabFramesCallback(int aId, int aCC, void* aRef) noexcept;

// True while a multi-frame grab admits callbacks.
bool _internal_grabCallbackAllowed();

}  // namespace qv::tine
