// The render callback's work on the host's thread: one block into the renderer's targets.
#pragma once

#include "common/status.h"
#include "plugin/host_records.h"

namespace tarnevox {

class Renderer;

// Analyses the module's block, then copies the results in under the renderer's lock, so
// the render thread sees all of one block's targets or all of the next. E_POINTER for a
// null module. The caller holds the slot lock, which guards the analysis's storage.
Status analyseFrame(Renderer* renderer, const VisModule* module);

}  // namespace tarnevox
