#include "display/frame_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "display/back_buffer_size.h"
#include "tests/native/memory_batch.h"

namespace tarnevox {
namespace {

using test_support::edgesOf;
using test_support::MemoryBatch;
using test_support::QuadEdges;

constexpr std::uint32_t kCanvas = 1024;
constexpr ColorF kForeground{1.0f, 1.0f, 0.8f, 0.0f};
constexpr ColorF kBackground{0.5f, 0.0f, 0.2f, 0.4f};

// The six vertices of quad n of the current buffer.
const QuadVertex* quad(const MemoryBatch& batch, int n) {
  return batch.buffers[batch.current].data() + 6 * n;
}

void expectQuadColour(const MemoryBatch& batch, int n, std::uint32_t colour) {
  for (int v = 0; v < 6; ++v) EXPECT_EQ(quad(batch, n)[v].colour, colour) << "quad " << n;
}

struct Frame {
  float shownWave[kWaveColumnCount] = {};
  float shownSpectrum[kBandCount] = {};
  PeakState peaks[kBandCount] = {};

  MemoryBatch waveform(double frameDelta, std::uint32_t w = kCanvas, std::uint32_t h = kCanvas) {
    MemoryBatch batch;
    EXPECT_EQ(emitBackground(&batch, frameDelta, kBackground, w, h), kStatusOk);
    emitWaveformColumns(&batch, shownWave, w, h, kForeground);
    return batch;
  }
  MemoryBatch spectrum(double frameDelta, std::uint32_t w = kCanvas, std::uint32_t h = kCanvas) {
    MemoryBatch batch;
    EXPECT_EQ(emitBackground(&batch, frameDelta, kBackground, w, h), kStatusOk);
    emitSpectrumBars(&batch, shownSpectrum, peaks, w, h, kForeground);
    return batch;
  }
};

TEST(FrameLayout, DerivedSizesAtTheFixedCanvas) {
  const WaveformLayout wave = waveformLayout(kCanvas, kCanvas);
  EXPECT_EQ(wave.step, 1.7777778f);
  EXPECT_EQ(wave.halfWidth, 0.8888889f);
  EXPECT_EQ(wave.shift, 0.44444445f);
  EXPECT_EQ(wave.scale, 4.0f);
  EXPECT_EQ(wave.centreY, 512.0f);

  const SpectrumLayout bars = spectrumLayout(kCanvas, kCanvas);
  EXPECT_EQ(bars.barStep, 16.0f);
  EXPECT_EQ(bars.barHalfWidth, static_cast<float>(16.0 / 2.2799999713897705));
  EXPECT_EQ(bars.barHalfWidth, 7.0175438f);
  EXPECT_EQ(bars.scale, 4.0f);
  EXPECT_EQ(bars.peakHalfHeight, 2.6666667f);
  EXPECT_EQ(bars.bottom, 1024.0f);
}

TEST(FrameLayout, BackgroundAlphaIsAQuarterPerSixtiethClampedToOne) {
  EXPECT_EQ(backgroundAlpha(1.0), 0.25f);
  EXPECT_EQ(backgroundAlpha(2.0), 0.5f);
  EXPECT_EQ(backgroundAlpha(3.0), 0.75f);
  EXPECT_EQ(backgroundAlpha(4.0), 1.0f);
  EXPECT_EQ(backgroundAlpha(1e9), 1.0f);
  EXPECT_EQ(backgroundAlpha(0.0), 0.0f);
  EXPECT_EQ(backgroundAlpha(-3.0), 0.0f);
  EXPECT_EQ(packColor({backgroundAlpha(1.0), 0, 0, 0}) >> 24, 0x3Fu);
  EXPECT_EQ(packColor({backgroundAlpha(2.0), 0, 0, 0}) >> 24, 0x7Fu);
  EXPECT_EQ(packColor({backgroundAlpha(5.0), 0, 0, 0}) >> 24, 0xFFu);
}

TEST(FrameQuads, BackgroundCoversTheCanvasInTheBackgroundColourWithTheFrameAlpha) {
  Frame frame;
  for (double delta : {0.0, 1.0, 2.0, 6.0}) {
    SCOPED_TRACE(delta);
    const MemoryBatch batch = frame.spectrum(delta);
    const QuadEdges e = edgesOf(quad(batch, 0));
    EXPECT_EQ(e.left, 0.0);
    EXPECT_EQ(e.top, 0.0);
    EXPECT_EQ(e.right, 1024.0);
    EXPECT_EQ(e.bottom, 1024.0);
    // Corners in the order (0, 0), (W, 0), (W, H), (0, H).
    EXPECT_EQ(quad(batch, 0)[1].x, 1023.5f);
    EXPECT_EQ(quad(batch, 0)[1].y, -0.5f);
    EXPECT_EQ(quad(batch, 0)[4].x, -0.5f);
    EXPECT_EQ(quad(batch, 0)[4].y, 1023.5f);
    const ColorF expected{backgroundAlpha(delta), kBackground.red, kBackground.green,
                          kBackground.blue};
    expectQuadColour(batch, 0, packColor(expected));
  }
}

TEST(FrameQuads, WaveformIs577QuadsWithColumnsAboutTheCentreLine) {
  Frame frame;
  for (int i = 0; i < kWaveColumnCount; ++i) frame.shownWave[i] = static_cast<float>(i % 100);
  frame.shownWave[0] = 10.0f;
  frame.shownWave[575] = 127.0f;
  const MemoryBatch batch = frame.waveform(1.0);
  ASSERT_EQ(batch.vertexCount, 3462u);
  EXPECT_TRUE(batch.flushedCounts.empty());
  EXPECT_TRUE(batch.untouched(0, 3462));
  for (int n = 1; n <= kWaveColumnCount; ++n) expectQuadColour(batch, n, packColor(kForeground));

  // Column 0 centred at -0.44444445, column 575 at 1021.7778, each a half step wide.
  const QuadEdges first = edgesOf(quad(batch, 1));
  EXPECT_NEAR(first.centreX(), -0.44444445, 1e-6);
  EXPECT_NEAR(first.width(), 1.7777778, 1e-6);
  EXPECT_EQ(quad(batch, 1)[0].x, static_cast<float>(-0.44444445f - 0.8888889 - 0.5));
  EXPECT_EQ(quad(batch, 1)[0].y, 512.0f - 40.0f - 0.5f);
  EXPECT_EQ(quad(batch, 1)[2].y, 512.0f + 40.0f - 0.5f);
  const QuadEdges last = edgesOf(quad(batch, 576));
  EXPECT_NEAR(last.centreX(), 1021.7778, 1e-4);
  EXPECT_EQ(static_cast<float>(last.centreX()),
            static_cast<float>(575.0 * 1.7777778f - 0.44444445f));
  EXPECT_EQ(last.top, 512.0 - 508.0);
  EXPECT_EQ(last.bottom, 512.0 + 508.0);

  // Every column reaches from three quarters of a step left of i x step to a quarter
  // step right of it, and is shownWave[i] x H / 128 tall, symmetric about y = 512.
  const double step = 1024.0 / 576.0;
  for (int i = 0; i < kWaveColumnCount; ++i) {
    SCOPED_TRACE(i);
    const QuadEdges e = edgesOf(quad(batch, i + 1));
    EXPECT_NEAR(e.left, (i - 0.75) * step, 2e-4);
    EXPECT_NEAR(e.right, (i + 0.25) * step, 2e-4);
    EXPECT_NEAR(e.height(), frame.shownWave[i] * 1024.0 / 128.0, 1e-4);
    EXPECT_EQ(e.centreY(), 512.0);
  }
}

TEST(FrameQuads, SpectrumIs129QuadsBarsOnTheBottomThenMarkersOnTheirLevels) {
  Frame frame;
  for (int i = 0; i < kBandCount; ++i) {
    frame.shownSpectrum[i] = static_cast<float>(3 * i);
    frame.peaks[i] = PeakState{static_cast<float>(3 * i + 10), -1.0f, 5.0f};
  }
  frame.shownSpectrum[63] = 256.0f;
  frame.peaks[63].value = 256.0f;
  const MemoryBatch batch = frame.spectrum(4.0);
  ASSERT_EQ(batch.vertexCount, 774u);
  EXPECT_TRUE(batch.untouched(0, 774));
  for (int n = 1; n <= 2 * kBandCount; ++n) expectQuadColour(batch, n, packColor(kForeground));

  const double halfWidth = 16.0 / 2.2799999713897705;
  for (int i = 0; i < kBandCount; ++i) {
    SCOPED_TRACE(i);
    const QuadEdges bar = edgesOf(quad(batch, 1 + i));
    EXPECT_NEAR(bar.centreX(), 16.0 * i, 1e-4);
    EXPECT_NEAR(bar.width(), 2 * halfWidth, 1e-4);
    EXPECT_EQ(bar.bottom, 1024.0);
    EXPECT_NEAR(bar.top, 1024.0 - 4.0 * frame.shownSpectrum[i], 1e-4);
    const QuadEdges marker = edgesOf(quad(batch, 1 + kBandCount + i));
    EXPECT_NEAR(marker.centreX(), 16.0 * i, 1e-4);
    EXPECT_NEAR(marker.width(), 2 * halfWidth, 1e-4);
    EXPECT_NEAR(marker.centreY(), 1024.0 - 4.0 * frame.peaks[i].value, 1e-4);
    EXPECT_NEAR(marker.height(), 1024.0 / 192.0, 1e-4);
  }
  // Bar 0 on the left edge, bar 63 at 1008, each 14.035 wide; a level of 256 is the
  // full canvas for a bar, and the top edge for a marker's centre.
  const QuadEdges bar0 = edgesOf(quad(batch, 1));
  EXPECT_EQ(quad(batch, 1)[0].x, static_cast<float>(0.0 - 7.0175438f - 0.5));
  EXPECT_NEAR(bar0.width(), 14.035, 1e-3);
  EXPECT_EQ(bar0.top, bar0.bottom);  // level 0: an empty bar
  const QuadEdges bar63 = edgesOf(quad(batch, 64));
  EXPECT_NEAR(bar63.centreX(), 1008.0, 1e-6);
  EXPECT_EQ(bar63.top, 0.0);
  EXPECT_EQ(edgesOf(quad(batch, 128)).centreY(), 0.0);
}

TEST(FrameQuads, SilentFrameGivesFlatColumnsAndMarkersCentredOnTheBottomEdge) {
  Frame frame;
  const MemoryBatch wave = frame.waveform(1.0);
  ASSERT_EQ(wave.vertexCount, 3462u);
  for (int n = 1; n <= kWaveColumnCount; ++n) EXPECT_EQ(edgesOf(quad(wave, n)).height(), 0.0);

  const MemoryBatch bars = frame.spectrum(1.0);
  ASSERT_EQ(bars.vertexCount, 774u);
  for (int i = 0; i < kBandCount; ++i) {
    EXPECT_EQ(edgesOf(quad(bars, 1 + i)).height(), 0.0);
    const QuadEdges marker = edgesOf(quad(bars, 1 + kBandCount + i));
    EXPECT_NEAR(marker.top, 1024.0 - 8.0 / 3.0, 1e-4);
    EXPECT_NEAR(marker.bottom, 1024.0 + 8.0 / 3.0, 1e-4);
  }
}

TEST(FrameQuads, WidthAndHeightAreReadSeparately) {
  // Not the real canvas: a width or height taken for the other would show here.
  Frame frame;
  for (int i = 0; i < kWaveColumnCount; ++i) frame.shownWave[i] = 8.0f;
  for (int i = 0; i < kBandCount; ++i) frame.shownSpectrum[i] = frame.peaks[i].value = 64.0f;
  const MemoryBatch wave = frame.waveform(1.0, 2048, 512);
  const QuadEdges background = edgesOf(quad(wave, 0));
  EXPECT_EQ(background.right, 2048.0);
  EXPECT_EQ(background.bottom, 512.0);
  const QuadEdges column = edgesOf(quad(wave, 1 + 288));
  EXPECT_NEAR(column.centreX(), 288 * 2048.0 / 576.0 - 2048.0 / 576.0 / 4.0, 1e-3);
  EXPECT_EQ(column.centreY(), 256.0);
  EXPECT_EQ(column.height(), 8.0 * 512.0 / 128.0);

  const MemoryBatch bars = frame.spectrum(1.0, 2048, 512);
  const QuadEdges bar = edgesOf(quad(bars, 1 + 10));
  EXPECT_EQ(bar.centreX(), 320.0);
  EXPECT_EQ(bar.bottom, 512.0);
  EXPECT_EQ(bar.top, 512.0 - 128.0);
  const QuadEdges marker = edgesOf(quad(bars, 1 + kBandCount + 10));
  EXPECT_EQ(marker.centreY(), 512.0 - 128.0);
  EXPECT_NEAR(marker.height(), 512.0 / 192.0, 1e-4);
}

// At the 1024 x 1024 canvas every vertex is what the table's values give, edge by edge,
// exactly: the adaptations for small frames below change nothing there.
TEST(FrameQuads, TheFixedCanvasIsDrawnExactlyByTheTable) {
  Frame frame;
  for (int i = 0; i < kWaveColumnCount; ++i) frame.shownWave[i] = 0.37f * static_cast<float>(i % 277);
  for (int i = 0; i < kBandCount; ++i) {
    frame.shownSpectrum[i] = 3.9f * static_cast<float>(i);
    frame.peaks[i].value = 4.1f * static_cast<float>(i) + 0.3f;
  }
  auto edge = [](double position) { return static_cast<float>(position - 0.5); };
  auto expectRect = [&](const QuadVertex* q, float cx, float cy, float hw, float hh) {
    EXPECT_EQ(q[0].x, edge(static_cast<double>(cx) - hw));
    EXPECT_EQ(q[1].x, edge(static_cast<double>(cx) + hw));
    EXPECT_EQ(q[0].y, edge(static_cast<double>(cy) - hh));
    EXPECT_EQ(q[2].y, edge(static_cast<double>(cy) + hh));
  };
  const MemoryBatch wave = frame.waveform(1.0);
  for (int i = 0; i < kWaveColumnCount; ++i) {
    SCOPED_TRACE(i);
    const float cx = static_cast<float>(static_cast<double>(i) * 1.7777778f - 0.44444445f);
    const float hh = static_cast<float>(static_cast<double>(frame.shownWave[i]) * 4.0f);
    expectRect(quad(wave, 1 + i), cx, 512.0f, 0.8888889f, hh);
  }
  const MemoryBatch bars = frame.spectrum(1.0);
  for (int i = 0; i < kBandCount; ++i) {
    SCOPED_TRACE(i);
    const double half = 4.0 * frame.shownSpectrum[i] * 0.5;
    expectRect(quad(bars, 1 + i), 16.0f * i, static_cast<float>(1024.0 - half), 7.0175438f,
               static_cast<float>(half));
    expectRect(quad(bars, 1 + kBandCount + i), 16.0f * i,
               static_cast<float>(1024.0 - 4.0 * frame.peaks[i].value), 7.0175438f, 2.6666667f);
  }
}

// Pixel centres lie on integers in vertex coordinates, and a pixel is drawn by the
// rectangle whose [left, right) and [top, bottom) hold its centre.
TEST(FrameQuads, InSmallFramesMarkersAndBarsStayAtLeastAPixelAndCentredAsTheFormulaSays) {
  Frame frame;
  for (int i = 0; i < kBandCount; ++i) frame.shownSpectrum[i] = frame.peaks[i].value = 100.0f;
  for (std::uint32_t h : {1u, 2u, 57u, 116u, 150u, 191u, 192u, 400u}) {
    for (std::uint32_t w : {16u, 64u, 72u, 73u, 275u}) {
      SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
      const MemoryBatch batch = frame.spectrum(1.0, w, h);
      for (int i = 0; i < kBandCount; ++i) {
        const QuadEdges bar = edgesOf(quad(batch, 1 + i));
        const QuadEdges marker = edgesOf(quad(batch, 1 + kBandCount + i));
        EXPECT_NEAR(marker.height(), std::max(h / 192.0, 1.0), 1e-4);
        EXPECT_NEAR(marker.centreY(), h - h / 256.0 * 100.0, 1e-3);
        EXPECT_NEAR(bar.width(), std::max(w / 64.0 / 1.14, 1.0), 1e-4);
        EXPECT_NEAR(bar.centreX(), w / 64.0 * i, 1e-4);
        EXPECT_EQ(marker.width(), bar.width());
      }
    }
  }
}

// The columns reach from 3/4 of a step left of the first sample position to 1/4 right of
// the last; every pixel centre in between must be drawn by a column, at any width.
TEST(FrameQuads, WaveformColumnsTileTheWidthWithoutAGapAtEveryWidth) {
  Frame frame;
  for (float& v : frame.shownWave) v = 20.0f;
  MemoryBatch batch(1);
  for (std::uint32_t w = 1; w <= kMaxBackBufferSide; ++w) {
    batch.vertexCount = 0;
    emitWaveformColumns(&batch, frame.shownWave, w, 64, kForeground);
    std::vector<bool> covered(w, false);
    for (int n = 0; n < kWaveColumnCount; ++n) {
      const QuadVertex* q = quad(batch, n);
      for (long x = std::max(0L, std::lround(std::ceil(q[0].x))); x < static_cast<long>(w) && x < q[1].x; ++x) {
        covered[x] = true;
      }
    }
    const float lastRight = quad(batch, kWaveColumnCount - 1)[1].x;
    for (std::uint32_t x = 0; x < w && x < lastRight; ++x) {
      ASSERT_TRUE(covered[x]) << "pixel column " << x << " of " << w << " is drawn by no column";
    }
  }
}

TEST(BackBufferSize, IsTheClientAreaWithinTheCapAndTheDeviceLimit) {
  EXPECT_EQ(backBufferSizeFor(275, 116, 0, 0), (BufferSize{275, 116}));
  EXPECT_EQ(backBufferSizeFor(1024, 1024, 8192, 8192), (BufferSize{1024, 1024}));
  EXPECT_EQ(backBufferSizeFor(4096, 4097, 0, 0), (BufferSize{4096, 4096}));
  EXPECT_EQ(backBufferSizeFor(9000, 300, 16384, 16384), (BufferSize{4096, 300}));
  EXPECT_EQ(backBufferSizeFor(3000, 3000, 2048, 1024), (BufferSize{2048, 1024}));
  EXPECT_EQ(backBufferSizeFor(0, -5, 0, 0), (BufferSize{1, 1}));
}

TEST(BackBufferSize, AResizeIsDueOnceTheNewSizeHasHeldAndTheIntervalHasPassed) {
  const BufferSize small{275, 116};
  const BufferSize large{600, 400};
  const std::uint32_t start = 0xFFFFFF00u;  // the tick count wraps on the way
  SizeWatch watch{small, start};
  EXPECT_FALSE(resizeDue(watch, small, small, start + 100000, start));
  // First seen now: not before it has held for the settling time.
  const std::uint32_t seen = start + 1000;
  EXPECT_FALSE(resizeDue(watch, small, large, seen, start));
  EXPECT_FALSE(resizeDue(watch, small, large, seen + kResizeSettleMs - 1, start));
  EXPECT_TRUE(resizeDue(watch, small, large, seen + kResizeSettleMs, start));
  // A size that changes again starts over.
  EXPECT_FALSE(resizeDue(watch, small, BufferSize{601, 400}, seen + kResizeSettleMs + 5, start));
  EXPECT_TRUE(resizeDue(watch, small, BufferSize{601, 400}, seen + 2 * kResizeSettleMs + 5, start));
  // However long a size has held, not sooner than the interval after the last reset.
  const std::uint32_t reset = seen + 3 * kResizeSettleMs;
  EXPECT_FALSE(resizeDue(watch, small, BufferSize{601, 400}, reset + kResizeIntervalMs - 1, reset));
  EXPECT_TRUE(resizeDue(watch, small, BufferSize{601, 400}, reset + kResizeIntervalMs, reset));
  // The buffer has the window's size: nothing to do.
  EXPECT_FALSE(resizeDue(watch, BufferSize{601, 400}, BufferSize{601, 400}, reset + 5000, reset));
}

TEST(FrameQuads, AFailedRelockLeavesTheRestOfTheFrameUnwritten) {
  // The background and the first column fill the batch to 32,766; the second column forces
  // a flush whose new lock fails, and nothing more is written in this frame.
  Frame frame;
  MemoryBatch batch;
  batch.vertexCount = 32760 - 6;
  batch.relockFails = true;
  batch.relockGivesStorage = false;
  EXPECT_EQ(emitBackground(&batch, 1.0, kBackground, kCanvas, kCanvas), kStatusOk);
  emitWaveformColumns(&batch, frame.shownWave, kCanvas, kCanvas, kForeground);
  ASSERT_EQ(batch.flushedCounts.size(), 1u);
  EXPECT_EQ(batch.flushedCounts[0], 32760u + 6u);
  EXPECT_EQ(batch.vertexCount, 0u);
  EXPECT_EQ(batch.lockedVertices, nullptr);
  EXPECT_TRUE(batch.untouched(1, 0));
  EXPECT_EQ(flushBatch(&batch), kStatusNothingDone);
}

}  // namespace
}  // namespace tarnevox
