// A quad batch over plain memory for the emitter and frame tests: every flush is
// recorded and hands out the next of a few fresh buffers, as a discarding lock may.
#pragma once

#include <cstdint>
#include <vector>

#include "common/status.h"
#include "display/quad_emit.h"
#include "display/quad_vertex.h"

namespace tarnevox::test_support {

struct MemoryBatch {
  // Buffer 0 is locked at the start; each flush moves on to the next one.
  explicit MemoryBatch(int bufferCount = 2)
      : buffers(bufferCount, std::vector<QuadVertex>(kVertexBufferVertices, poison())) {
    lockedVertices = buffers[0].data();
  }

  // Never a value the emitters write, so an overwritten vertex is always noticed.
  static QuadVertex poison() {
    return QuadVertex{-7.0f, -7.0f, -7.0f, -7.0f, 0xDEADBEEFu, -7.0f, -7.0f};
  }
  bool untouched(int buffer, std::uint32_t index) const {
    const QuadVertex& v = buffers[buffer][index];
    return v.colour == 0xDEADBEEFu && v.x == -7.0f;
  }

  QuadVertex* lockedVertices = nullptr;
  std::uint32_t vertexCount = 0;
  const void* texture = nullptr;

  std::vector<std::vector<QuadVertex>> buffers;
  int current = 0;
  std::vector<std::uint32_t> flushedCounts;  // vertexCount seen by each flush
  bool relockFails = false;                  // the flush reports failure
  bool relockGivesStorage = true;            // ...and still hands out a buffer
};

// Same contract as the device batch: nothing pending means nothing done; otherwise the
// pending vertices count as drawn and the buffer is locked afresh.
inline Status flushBatch(MemoryBatch* batch) {
  if (batch->vertexCount == 0) return kStatusNothingDone;
  batch->flushedCounts.push_back(batch->vertexCount);
  batch->vertexCount = 0;
  batch->texture = nullptr;
  batch->lockedVertices = nullptr;
  if (batch->relockFails && !batch->relockGivesStorage) return kStatusFail;
  batch->current = (batch->current + 1) % static_cast<int>(batch->buffers.size());
  batch->lockedVertices = batch->buffers[batch->current].data();
  return batch->relockFails ? kStatusFail : kStatusOk;
}

// The edges of one emitted quad, with the half-pixel shift undone.
struct QuadEdges {
  double left, right, top, bottom;
  double centreX() const { return (left + right) * 0.5; }
  double centreY() const { return (top + bottom) * 0.5; }
  double width() const { return right - left; }
  double height() const { return bottom - top; }
};

inline QuadEdges edgesOf(const QuadVertex* quad) {
  return QuadEdges{quad[0].x + 0.5, quad[1].x + 0.5, quad[0].y + 0.5, quad[2].y + 0.5};
}

// Twice the signed area of the triangle a-b-c; positive is clockwise with y downwards.
inline double screenWinding(const QuadVertex& a, const QuadVertex& b, const QuadVertex& c) {
  return (static_cast<double>(b.x) - a.x) * (static_cast<double>(c.y) - a.y) -
         (static_cast<double>(b.y) - a.y) * (static_cast<double>(c.x) - a.x);
}

}  // namespace tarnevox::test_support
