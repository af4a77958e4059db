// One frame: device check and reset, the fading background, the mode's quads, present.
#pragma once

#include "common/status.h"

namespace tarnevox {

class Renderer;

Status drawFrame(Renderer* renderer);
void drawWaveform(Renderer* renderer);
void drawSpectrum(Renderer* renderer);

}  // namespace tarnevox
