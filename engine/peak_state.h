// One spectrum peak marker.
#pragma once

namespace tarnevox {

struct PeakState {
  float value;     // level, in spectrum level units
  float velocity;  // level units per sixtieth of a second
  float hold;      // sixtieths of a second left before the marker may fall
};

static_assert(sizeof(PeakState) == 12, "PeakState is three packed floats");

}  // namespace tarnevox
