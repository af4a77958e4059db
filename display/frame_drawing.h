// One frame: device check and reset, the fading background, the mode's quads, present.
#pragma once

#include "engine/frame_pacing.h"

namespace tarnevox {

class Renderer;

// What the frame came to and how long its Present took; it never waits itself, the render
// loop decides every wait.
FrameReport drawFrame(Renderer* renderer);
void drawWaveform(Renderer* renderer);
void drawSpectrum(Renderer* renderer);

}  // namespace tarnevox
