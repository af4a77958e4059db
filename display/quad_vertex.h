// The pre-transformed vertex that the quad batch hands to the device.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnevox {

struct QuadVertex {
  float x;               // back-buffer pixels, already shifted by -0.5
  float y;
  float z;               // always 0.5
  float rhw;             // always 1.0
  std::uint32_t colour;  // packed ARGB
  float u;
  float v;
};

// D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1
inline constexpr std::uint32_t kQuadVertexFormat = 0x004 | 0x040 | 0x100;

static_assert(sizeof(QuadVertex) == 28, "QuadVertex stride is 28 bytes");
static_assert(offsetof(QuadVertex, x) == 0 && offsetof(QuadVertex, y) == 4, "position");
static_assert(offsetof(QuadVertex, z) == 8 && offsetof(QuadVertex, rhw) == 12, "depth");
static_assert(offsetof(QuadVertex, colour) == 16, "colour");
static_assert(offsetof(QuadVertex, u) == 20 && offsetof(QuadVertex, v) == 24, "texture");

}  // namespace tarnevox
