// Colour and point types shared by the analysis, engine and display code.
#pragma once

namespace tarnevox {

// Channels from 0 to 1, in the order alpha, red, green, blue.
struct ColorF {
  float alpha;
  float red;
  float green;
  float blue;
};

// A corner, centre or texture-coordinate pair (then x is u and y is v).
struct PointF {
  float x;
  float y;
};

static_assert(sizeof(ColorF) == 16, "ColorF is four packed floats");
static_assert(sizeof(PointF) == 8, "PointF is two packed floats");

}  // namespace tarnevox
