// The renderer's quad batch: the emitters of quad_emit.h over its locked vertex buffer.
#pragma once

#include "common/status.h"
#include "display/quad_emit.h"

namespace tarnevox {

class Renderer;

// Draws the pending vertices and locks the whole buffer afresh (discarding it): 0 when it
// drew and the new lock held, 1 when nothing was pending, E_FAIL when the lock failed.
Status flushBatch(Renderer* renderer);

// Locks the whole buffer for a new frame; the address goes into lockedVertices.
Status lockBatch(Renderer* renderer);

// Ends the frame's batch: draws what is pending like flushBatch, but leaves the buffer
// unlocked for the next frame's own lock. 0 when it drew, 1 when nothing was pending.
Status finishBatch(Renderer* renderer);

}  // namespace tarnevox
