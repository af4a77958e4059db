// The quads of one frame: the fading background, the waveform columns, the spectrum
// bars and their peak markers, in back-buffer pixels (origin top left, y downwards).
// Works on any batch that the emitters of quad_emit.h accept.
#pragma once

#include <cmath>
#include <cstdint>

#include "common/color.h"
#include "common/sizes.h"
#include "display/quad_emit.h"
#include "engine/peak_state.h"

namespace tarnevox {

inline constexpr PointF kUv0{0.0f, 0.0f};
inline constexpr PointF kUv1{1.0f, 1.0f};

// Half a pixel: a rectangle at least twice this tall (or wide) covers a pixel centre
// wherever it lies, so a marker or bar that thin still shows in a small frame. (Bar 0 is
// centred on the left edge at every size; in frames 72 pixels wide or less the half of it
// inside the frame covers no pixel centre.)
inline constexpr float kLeastHalfExtent = 0.5f;

// Sizes derived from the back buffer, each computed in double and rounded once.
struct WaveformLayout {
  float step;        // W / 576
  float halfWidth;   // step / 2
  float shift;       // halfWidth / 2
  float scale;       // H / 256 pixels per level unit
  float centreY;     // H / 2
};

struct SpectrumLayout {
  float barStep;         // W / 64
  float barHalfWidth;    // barStep / 2.28f, at least half a pixel
  float scale;           // H / 256 pixels per level unit
  float peakHalfHeight;  // H / 384, at least half a pixel
  float bottom;          // H
};

inline WaveformLayout waveformLayout(std::uint32_t width, std::uint32_t height) {
  const double w = static_cast<float>(width);
  const double h = static_cast<float>(height);
  WaveformLayout layout;
  layout.step = static_cast<float>(w / kWaveColumnCount);
  layout.halfWidth = static_cast<float>(static_cast<double>(layout.step) * 0.5);
  layout.shift = static_cast<float>(static_cast<double>(layout.halfWidth) * 0.5);
  layout.scale = static_cast<float>(h * 0.00390625);
  layout.centreY = static_cast<float>(h * 0.5);
  return layout;
}

inline SpectrumLayout spectrumLayout(std::uint32_t width, std::uint32_t height) {
  const double w = static_cast<float>(width);
  const double h = static_cast<float>(height);
  SpectrumLayout layout;
  layout.barStep = static_cast<float>(w * 0.015625);
  layout.barHalfWidth = static_cast<float>(static_cast<double>(layout.barStep) / 2.28f);
  if (layout.barHalfWidth < kLeastHalfExtent) layout.barHalfWidth = kLeastHalfExtent;
  layout.scale = static_cast<float>(h * 0.00390625);
  layout.peakHalfHeight = static_cast<float>(h / 384.0);
  if (layout.peakHalfHeight < kLeastHalfExtent) layout.peakHalfHeight = kLeastHalfExtent;
  layout.bottom = static_cast<float>(h);
  return layout;
}

// Opacity of the background quad: a quarter per sixtieth of a second, within 0 to 1.
inline float backgroundAlpha(double frameDelta) {
  double alpha = frameDelta * 0.25;
  if (alpha < 0.0) alpha = 0.0;
  if (alpha > 1.0) alpha = 1.0;
  return static_cast<float>(alpha);
}

template <class Batch>
Status emitBackground(Batch* batch, double frameDelta, const ColorF& background,
                      std::uint32_t width, std::uint32_t height) {
  const float w = static_cast<float>(width);
  const float h = static_cast<float>(height);
  const ColorF colour{backgroundAlpha(frameDelta), background.red, background.green,
                      background.blue};
  return emitQuad(batch, PointF{0.0f, 0.0f}, PointF{w, 0.0f}, PointF{w, h}, PointF{0.0f, h},
                  kUv0, kUv1, colour);
}

// 576 columns, each symmetric about the centre line and shownWave[i] x H / 128 tall.
// Neighbours share an edge only in exact arithmetic; each edge is rounded on its own, and
// a pixel centre (an integer in vertex coordinates) can fall into the sliver between two
// of them, which neither draws. Such a column starts where its neighbour ends instead.
template <class Batch>
void emitWaveformColumns(Batch* batch, const float* shownWave, std::uint32_t width,
                         std::uint32_t height, const ColorF& foreground) {
  const WaveformLayout layout = waveformLayout(width, height);
  float previousRight = 0.0f;
  for (int i = 0; i < kWaveColumnCount; ++i) {
    const PointF centre{
        static_cast<float>(static_cast<double>(i) * layout.step - layout.shift), layout.centreY};
    const float halfHeight =
        static_cast<float>(static_cast<double>(shownWave[i]) * layout.scale);
    ShiftedEdges edges = rectEdges(centre, layout.halfWidth, halfHeight);
    if (i > 0 && std::ceil(static_cast<double>(previousRight)) < edges.left) {
      edges.left = previousRight;
    }
    previousRight = edges.right;
    emitEdges(batch, edges, kUv0, kUv1, foreground);
  }
}

// 64 bars standing on the bottom edge, then 64 peak markers centred on their levels, so
// that each marker lies over its bar. In a small frame both stay at least a pixel wide
// and a marker at least a pixel tall, centred where it would be.
template <class Batch>
void emitSpectrumBars(Batch* batch, const float* shownSpectrum, const PeakState* peaks,
                      std::uint32_t width, std::uint32_t height, const ColorF& foreground) {
  const SpectrumLayout layout = spectrumLayout(width, height);
  for (int i = 0; i < kBandCount; ++i) {
    const double half = static_cast<double>(layout.scale) * shownSpectrum[i] * 0.5;
    const PointF centre{static_cast<float>(static_cast<double>(i) * layout.barStep),
                        static_cast<float>(layout.bottom - half)};
    emitRect(batch, centre, layout.barHalfWidth, static_cast<float>(half), kUv0, kUv1,
             foreground);
  }
  for (int i = 0; i < kBandCount; ++i) {
    const PointF centre{
        static_cast<float>(static_cast<double>(i) * layout.barStep),
        static_cast<float>(layout.bottom - static_cast<double>(layout.scale) * peaks[i].value)};
    emitRect(batch, centre, layout.barHalfWidth, layout.peakHalfHeight, kUv0, kUv1, foreground);
  }
}

}  // namespace tarnevox
