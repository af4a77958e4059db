#include "display/quad_emit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "tests/native/memory_batch.h"

namespace tarnevox {
namespace {

using test_support::MemoryBatch;
using test_support::screenWinding;

constexpr PointF kUvTopLeft{0.0f, 0.0f};
constexpr PointF kUvBottomRight{1.0f, 1.0f};
constexpr ColorF kWhite{1.0f, 1.0f, 1.0f, 1.0f};

struct Expected {
  float x, y, u, v;
};

void expectVertices(const QuadVertex* out, const Expected (&expected)[6], std::uint32_t colour) {
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(out[i].x, expected[i].x);
    EXPECT_EQ(out[i].y, expected[i].y);
    EXPECT_EQ(out[i].u, expected[i].u);
    EXPECT_EQ(out[i].v, expected[i].v);
    EXPECT_EQ(out[i].z, 0.5f);
    EXPECT_EQ(out[i].rhw, 1.0f);
    EXPECT_EQ(out[i].colour, colour);
  }
}

Status emitSmallRect(MemoryBatch& batch) {
  return emitRect(&batch, PointF{100.0f, 200.0f}, 10.0f, 20.0f, kUvTopLeft, kUvBottomRight,
                  kWhite);
}

TEST(PackColor, TruncatesEachChannelTimes255IntoArgb) {
  EXPECT_EQ(packColor({1.0f, 1.0f, 1.0f, 1.0f}), 0xFFFFFFFFu);
  EXPECT_EQ(packColor({1.0f, 0.0f, 0.0f, 0.0f}), 0xFF000000u);
  EXPECT_EQ(packColor({0.25f, 0.0f, 0.0f, 0.0f}), 0x3F000000u);
  EXPECT_EQ(packColor({1.0f, 0.5f, 0.0f, 1.0f}), 0xFF7F00FFu);
  EXPECT_EQ(packColor({0.0f, 0.0f, 0.0f, 0.0f}), 0u);
  EXPECT_EQ(packColor({1 / 255.0f, 2 / 255.0f, 3 / 255.0f, 4 / 255.0f}), 0x01020304u);
  EXPECT_EQ(packColor({0.0f, 0.0f, 0.0f, std::nextafter(1.0f, 0.0f)}), 0xFEu);  // not rounded
}

TEST(PackColor, EightBitQuotientsPackBackExactlyInEveryChannel) {
  for (std::uint32_t c = 0; c <= 255; ++c) {
    const float f = static_cast<float>(c) / 255.0f;
    ASSERT_EQ(packColor({f, 0.0f, 0.0f, 0.0f}), c << 24) << c;
    ASSERT_EQ(packColor({0.0f, f, 0.0f, 0.0f}), c << 16) << c;
    ASSERT_EQ(packColor({0.0f, 0.0f, f, 0.0f}), c << 8) << c;
    ASSERT_EQ(packColor({0.0f, 0.0f, 0.0f, f}), c) << c;
  }
}

TEST(PackColor, OutOfRangeChannelsKeepTheirLowBitsAndStayInTheirLane) {
  EXPECT_EQ(packColor({0.0f, 2.0f, 0.0f, 0.0f}), 0x00FE0000u);   // 510
  EXPECT_EQ(packColor({0.0f, 0.0f, -1.0f, 0.0f}), 0x00000100u);  // -255
  EXPECT_EQ(packColor({1.0f, 1.0f, 1.0f, -0.5f}), 0xFFFFFF81u);  // -127
  // Products no integer holds, and non-finite channels, give 0 in that channel only.
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (float wild : {1e30f, -1e30f, inf, -inf, nan}) {
    EXPECT_EQ(packColor({wild, 1.0f, 1.0f, 1.0f}), 0x00FFFFFFu) << wild;
    EXPECT_EQ(packColor({1.0f, wild, 1.0f, 1.0f}), 0xFF00FFFFu) << wild;
    EXPECT_EQ(packColor({1.0f, 1.0f, wild, 1.0f}), 0xFFFF00FFu) << wild;
    EXPECT_EQ(packColor({1.0f, 1.0f, 1.0f, wild}), 0xFFFFFF00u) << wild;
  }
}

TEST(Emitters, WriteTheTwoClockwiseTrianglesWithShiftedPositionsAndCornerUvs) {
  MemoryBatch batch;
  ASSERT_EQ(emitSmallRect(batch), kStatusOk);
  expectVertices(batch.buffers[0].data(),
                 {{89.5f, 179.5f, 0, 0}, {109.5f, 179.5f, 1, 0}, {109.5f, 219.5f, 1, 1},
                  {109.5f, 219.5f, 1, 1}, {89.5f, 219.5f, 0, 1}, {89.5f, 179.5f, 0, 0}},
                 0xFFFFFFFFu);

  const ColorF teal{0.5f, 0.0f, 0.5f, 0.5f};
  ASSERT_EQ(emitQuad(&batch, PointF{0, 0}, PointF{1024, 0}, PointF{1024, 1024}, PointF{0, 1024},
                     PointF{0.125f, 0.25f}, PointF{0.75f, 0.875f}, teal),
            kStatusOk);
  expectVertices(batch.buffers[0].data() + 6,
                 {{-0.5f, -0.5f, 0.125f, 0.25f}, {1023.5f, -0.5f, 0.75f, 0.25f},
                  {1023.5f, 1023.5f, 0.75f, 0.875f}, {1023.5f, 1023.5f, 0.75f, 0.875f},
                  {-0.5f, 1023.5f, 0.125f, 0.875f}, {-0.5f, -0.5f, 0.125f, 0.25f}},
                 packColor(teal));

  // The rectangle's uv pair goes to its top-left and bottom-right corners as well.
  ASSERT_EQ(emitRect(&batch, PointF{0, 0}, 1.0f, 2.0f, PointF{0.125f, 0.25f},
                     PointF{0.75f, 0.875f}, kWhite),
            kStatusOk);
  expectVertices(batch.buffers[0].data() + 12,
                 {{-1.5f, -2.5f, 0.125f, 0.25f}, {0.5f, -2.5f, 0.75f, 0.25f},
                  {0.5f, 1.5f, 0.75f, 0.875f}, {0.5f, 1.5f, 0.75f, 0.875f},
                  {-1.5f, 1.5f, 0.125f, 0.875f}, {-1.5f, -2.5f, 0.125f, 0.25f}},
                 0xFFFFFFFFu);
  EXPECT_EQ(batch.vertexCount, 18u);
  EXPECT_TRUE(batch.untouched(0, 18));
  EXPECT_TRUE(batch.flushedCounts.empty());

  // Both triangles of every quad run clockwise on screen, whatever its size and place.
  MemoryBatch many;
  for (int i = 0; i < 50; ++i) {
    const float f = static_cast<float>(i);
    emitRect(&many, PointF{f * 37.0f - 300.0f, 1000.0f - f * f}, 0.01f + f, 0.002f + 3.0f * f,
             kUvTopLeft, kUvBottomRight, kWhite);
  }
  emitQuad(&many, PointF{0, 0}, PointF{800, 0}, PointF{800, 600}, PointF{0, 600}, kUvTopLeft,
           kUvBottomRight, kWhite);
  ASSERT_EQ(many.vertexCount, 51u * 6u);
  for (std::uint32_t v = 0; v < many.vertexCount; v += 3) {
    const QuadVertex* t = many.buffers[0].data() + v;
    EXPECT_GT(screenWinding(t[0], t[1], t[2]), 0.0) << "triangle at vertex " << v;
  }
}

TEST(Emitters, RoundEachRectangleEdgeOnceFromTheExactSum) {
  // 1 + 2^-24 - 0.5 is a float; rounding the sum to float first would lose the 2^-24.
  MemoryBatch batch;
  const float tiny = std::ldexp(1.0f, -24);
  emitRect(&batch, PointF{1.0f, 1.0f}, tiny, tiny, kUvTopLeft, kUvBottomRight, kWhite);
  const QuadVertex* out = batch.buffers[0].data();
  EXPECT_EQ(out[1].x, 0.5f + tiny);
  EXPECT_EQ(out[2].y, 0.5f + tiny);
  EXPECT_EQ(out[0].x, 0.5f - tiny);
  EXPECT_EQ(out[0].y, 0.5f - tiny);
}

TEST(Emitters, FlushFirstOnlyWhenTheBatchWouldPassItsLimit) {
  MemoryBatch batch;
  batch.vertexCount = 32760;
  ASSERT_EQ(emitSmallRect(batch), kStatusOk);
  EXPECT_EQ(batch.vertexCount, 32766u);
  EXPECT_TRUE(batch.flushedCounts.empty());
  EXPECT_EQ(batch.buffers[0][32760].x, 89.5f);
  EXPECT_EQ(batch.buffers[0][32765].y, 179.5f);
  EXPECT_TRUE(batch.untouched(0, 32766));

  ASSERT_EQ(emitSmallRect(batch), kStatusOk);
  ASSERT_EQ(batch.flushedCounts.size(), 1u);
  EXPECT_EQ(batch.flushedCounts[0], 32766u);
  EXPECT_EQ(batch.vertexCount, 6u);
  EXPECT_EQ(batch.lockedVertices, batch.buffers[1].data());
  EXPECT_EQ(batch.buffers[1][0].x, 89.5f);
  EXPECT_EQ(batch.buffers[1][5].y, 179.5f);
  EXPECT_TRUE(batch.untouched(1, 6));
  EXPECT_TRUE(batch.untouched(0, 32766));
}

TEST(Emitters, PendingTextureFlushesOnlyWhenVerticesArePending) {
  static const int someTexture = 0;
  MemoryBatch batch;
  batch.texture = &someTexture;
  ASSERT_EQ(emitSmallRect(batch), kStatusOk);  // nothing pending: no flush
  EXPECT_TRUE(batch.flushedCounts.empty());
  EXPECT_EQ(batch.texture, nullptr);  // an emit leaves no texture pending

  // Without a texture, pending vertices never flush by themselves.
  for (int i = 0; i < 100; ++i) emitSmallRect(batch);
  EXPECT_TRUE(batch.flushedCounts.empty());
  EXPECT_EQ(batch.vertexCount, 606u);

  batch.texture = &someTexture;
  ASSERT_EQ(emitSmallRect(batch), kStatusOk);
  ASSERT_EQ(batch.flushedCounts.size(), 1u);
  EXPECT_EQ(batch.flushedCounts[0], 606u);
  EXPECT_EQ(batch.vertexCount, 6u);
  EXPECT_EQ(batch.buffers[1][0].x, 89.5f);
}

TEST(Emitters, FailWithoutWritingWhenTheFlushFailsOrNoStorageIsLocked) {
  for (bool storageAfterFailure : {true, false}) {
    SCOPED_TRACE(storageAfterFailure);
    MemoryBatch batch;
    batch.vertexCount = 32766;
    batch.relockFails = true;
    batch.relockGivesStorage = storageAfterFailure;
    EXPECT_EQ(emitSmallRect(batch), kStatusFail);
    EXPECT_EQ(batch.flushedCounts.size(), 1u);
    EXPECT_EQ(batch.vertexCount, 0u);
    EXPECT_TRUE(batch.untouched(1, 0));
    EXPECT_TRUE(batch.untouched(0, 32766));
  }

  // No locked storage: every emit fails, nothing is written and nothing is flushed.
  MemoryBatch unlocked;
  unlocked.lockedVertices = nullptr;
  EXPECT_EQ(emitSmallRect(unlocked), kStatusFail);
  EXPECT_EQ(emitQuad(&unlocked, PointF{0, 0}, PointF{1, 0}, PointF{1, 1}, PointF{0, 1},
                     kUvTopLeft, kUvBottomRight, kWhite),
            kStatusFail);
  EXPECT_EQ(unlocked.vertexCount, 0u);
  EXPECT_TRUE(unlocked.flushedCounts.empty());
  EXPECT_TRUE(unlocked.untouched(0, 0));
}

}  // namespace
}  // namespace tarnevox
