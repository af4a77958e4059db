// Screen-space quads as pre-transformed vertices, written straight into locked storage.
//
// The emitters work on any batch object that has the members `lockedVertices`
// (QuadVertex*), `vertexCount` (std::uint32_t) and `texture` (a pointer) and a
// `flushBatch(batch)` found by argument-dependent lookup: the renderer in the plug-in,
// a plain memory batch in the tests and benchmarks.
#pragma once

#include <cstdint>

#include "common/color.h"
#include "common/status.h"
#include "display/quad_vertex.h"

namespace tarnevox {

inline constexpr std::uint32_t kVertexBufferVertices = 32768;
inline constexpr std::uint32_t kVertexBufferBytes = kVertexBufferVertices * sizeof(QuadVertex);
// An emit flushes first when the pending count would pass this, two short of the buffer.
inline constexpr std::uint32_t kMaxPendingVertices = 32767;
inline constexpr std::uint32_t kVerticesPerQuad = 6;

static_assert(kVertexBufferBytes == 0xE0000, "the vertex buffer is 917,504 bytes");

namespace detail {

// Low 8 bits of the product truncated towards zero. Products that no integer can hold
// (a non-finite channel) give 0 instead of undefined behaviour.
inline std::uint32_t channelByte(float channel) {
  const double product = static_cast<double>(channel) * 255.0;
  if (!(product > -9.0e18 && product < 9.0e18)) return 0;
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(product)) & 0xFFu;
}

inline float shifted(double position) { return static_cast<float>(position - 0.5); }

// Field by field, so that the compiler stores straight from registers instead of
// building the vertex on the stack and reading it back.
inline void putVertex(QuadVertex& out, float x, float y, std::uint32_t colour, float u, float v) {
  out.x = x;
  out.y = y;
  out.z = 0.5f;
  out.rhw = 1.0f;
  out.colour = colour;
  out.u = u;
  out.v = v;
}

}  // namespace detail

// ARGB, each channel truncated (not rounded) from channel x 255; no clamping.
inline std::uint32_t packColor(const ColorF& colour) {
  return (detail::channelByte(colour.alpha) << 24) | (detail::channelByte(colour.red) << 16) |
         (detail::channelByte(colour.green) << 8) | detail::channelByte(colour.blue);
}

// The two triangles p0-p1-p2 and p2-p3-p0; uv0 belongs to p0 and uv1 to p2.
inline void writeQuadVertices(QuadVertex* out, PointF p0, PointF p1, PointF p2, PointF p3,
                              PointF uv0, PointF uv1, std::uint32_t colour) {
  using detail::putVertex;
  using detail::shifted;
  const float x0 = shifted(p0.x), y0 = shifted(p0.y);
  const float x2 = shifted(p2.x), y2 = shifted(p2.y);
  putVertex(out[0], x0, y0, colour, uv0.x, uv0.y);
  putVertex(out[1], shifted(p1.x), shifted(p1.y), colour, uv1.x, uv0.y);
  putVertex(out[2], x2, y2, colour, uv1.x, uv1.y);
  putVertex(out[3], x2, y2, colour, uv1.x, uv1.y);
  putVertex(out[4], shifted(p3.x), shifted(p3.y), colour, uv0.x, uv1.y);
  putVertex(out[5], x0, y0, colour, uv0.x, uv0.y);
}

// A rectangle's edges in vertex coordinates, the half-pixel shift applied.
struct ShiftedEdges {
  float left;
  float top;
  float right;
  float bottom;
};

// Each edge is formed in double precision before the half-pixel shift, and rounded once.
inline ShiftedEdges rectEdges(PointF centre, float halfWidth, float halfHeight) {
  using detail::shifted;
  return ShiftedEdges{shifted(static_cast<double>(centre.x) - halfWidth),
                      shifted(static_cast<double>(centre.y) - halfHeight),
                      shifted(static_cast<double>(centre.x) + halfWidth),
                      shifted(static_cast<double>(centre.y) + halfHeight)};
}

// The rectangle top-left, top-right, bottom-right, bottom-left.
inline void writeEdgeVertices(QuadVertex* out, const ShiftedEdges& e, PointF uv0, PointF uv1,
                              std::uint32_t colour) {
  using detail::putVertex;
  putVertex(out[0], e.left, e.top, colour, uv0.x, uv0.y);
  putVertex(out[1], e.right, e.top, colour, uv1.x, uv0.y);
  putVertex(out[2], e.right, e.bottom, colour, uv1.x, uv1.y);
  putVertex(out[3], e.right, e.bottom, colour, uv1.x, uv1.y);
  putVertex(out[4], e.left, e.bottom, colour, uv0.x, uv1.y);
  putVertex(out[5], e.left, e.top, colour, uv0.x, uv0.y);
}

// Makes room for one quad: flushes when the batch is full or a texture is pending, and
// fails when the flush failed or no locked storage is left in this frame.
template <class Batch>
QuadVertex* reserveQuad(Batch* batch) {
  if (batch->vertexCount + kVerticesPerQuad > kMaxPendingVertices ||
      (batch->vertexCount != 0 && batch->texture != nullptr)) {
    if (failed(flushBatch(batch))) return nullptr;
  }
  if (batch->lockedVertices == nullptr) return nullptr;
  return batch->lockedVertices + batch->vertexCount;
}

template <class Batch>
void commitQuad(Batch* batch) {
  batch->vertexCount += kVerticesPerQuad;
  batch->texture = nullptr;
}

template <class Batch>
Status emitQuad(Batch* batch, PointF p0, PointF p1, PointF p2, PointF p3, PointF uv0, PointF uv1,
                const ColorF& colour) {
  QuadVertex* out = reserveQuad(batch);
  if (out == nullptr) return kStatusFail;
  writeQuadVertices(out, p0, p1, p2, p3, uv0, uv1, packColor(colour));
  commitQuad(batch);
  return kStatusOk;
}

template <class Batch>
Status emitEdges(Batch* batch, const ShiftedEdges& edges, PointF uv0, PointF uv1,
                 const ColorF& colour) {
  QuadVertex* out = reserveQuad(batch);
  if (out == nullptr) return kStatusFail;
  writeEdgeVertices(out, edges, uv0, uv1, packColor(colour));
  commitQuad(batch);
  return kStatusOk;
}

template <class Batch>
Status emitRect(Batch* batch, PointF centre, float halfWidth, float halfHeight, PointF uv0,
                PointF uv1, const ColorF& colour) {
  return emitEdges(batch, rectEdges(centre, halfWidth, halfHeight), uv0, uv1, colour);
}

}  // namespace tarnevox
