// The render thread's animation pass over the renderer's shown values and peaks.
#pragma once

#include "common/status.h"

namespace tarnevox {

class Renderer;

// Always 0.
Status animate(Renderer* renderer);

}  // namespace tarnevox
