// The CPU cost of one frame's vertices in each mode, written into a locked-buffer stand-in
// of the real size, beside a memcpy of the same number of bytes into the same buffer.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "display/frame_geometry.h"
#include "display/quad_emit.h"

namespace {

using tarnevox::ColorF;
using tarnevox::kBandCount;
using tarnevox::kVertexBufferVertices;
using tarnevox::kWaveColumnCount;
using tarnevox::PeakState;
using tarnevox::QuadVertex;
using tarnevox::Status;

constexpr std::uint32_t kCanvas = 1024;
constexpr ColorF kForeground{1.0f, 0.9f, 0.6f, 0.1f};
constexpr ColorF kBackground{1.0f, 0.0f, 0.1f, 0.2f};

// Memory the size of the device's vertex buffer, locked for the whole run.
struct BenchBatch {
  std::vector<QuadVertex> storage = std::vector<QuadVertex>(kVertexBufferVertices);
  QuadVertex* lockedVertices = storage.data();
  std::uint32_t vertexCount = 0;
  const void* texture = nullptr;
};

// A frame never fills the batch, so this runs only as the frame's final flush.
Status flushBatch(BenchBatch* batch) {
  if (batch->vertexCount == 0) return tarnevox::kStatusNothingDone;
  batch->vertexCount = 0;
  return tarnevox::kStatusOk;
}

struct ShownValues {
  float wave[kWaveColumnCount];
  float spectrum[kBandCount];
  PeakState peaks[kBandCount];

  ShownValues() {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> level(0.0f, 128.0f);
    for (float& v : wave) v = level(random);
    for (int i = 0; i < kBandCount; ++i) {
      spectrum[i] = level(random);
      peaks[i] = PeakState{spectrum[i] + 5.0f, -0.4f, 0.0f};
    }
  }
};

void BM_waveformFrame(benchmark::State& state) {
  BenchBatch batch;
  const ShownValues shown;
  for (auto _ : state) {
    tarnevox::emitBackground(&batch, 1.0, kBackground, kCanvas, kCanvas);
    tarnevox::emitWaveformColumns(&batch, shown.wave, kCanvas, kCanvas, kForeground);
    benchmark::DoNotOptimize(batch.storage.data());
    benchmark::ClobberMemory();
    flushBatch(&batch);
  }
  state.SetBytesProcessed(state.iterations() * 3462 * static_cast<int64_t>(sizeof(QuadVertex)));
}
BENCHMARK(BM_waveformFrame);

void BM_spectrumFrame(benchmark::State& state) {
  BenchBatch batch;
  const ShownValues shown;
  for (auto _ : state) {
    tarnevox::emitBackground(&batch, 1.0, kBackground, kCanvas, kCanvas);
    tarnevox::emitSpectrumBars(&batch, shown.spectrum, shown.peaks, kCanvas, kCanvas,
                               kForeground);
    benchmark::DoNotOptimize(batch.storage.data());
    benchmark::ClobberMemory();
    flushBatch(&batch);
  }
  state.SetBytesProcessed(state.iterations() * 774 * static_cast<int64_t>(sizeof(QuadVertex)));
}
BENCHMARK(BM_spectrumFrame);

// The floor: copying a finished frame's vertices into the same buffer.
void BM_memcpyVertices(benchmark::State& state) {
  const auto vertices = static_cast<std::size_t>(state.range(0));
  BenchBatch batch;
  std::vector<QuadVertex> source(vertices, QuadVertex{1.0f, 2.0f, 0.5f, 1.0f, 0xFF00FF00u,
                                                      0.0f, 1.0f});
  for (auto _ : state) {
    std::memcpy(batch.lockedVertices, source.data(), vertices * sizeof(QuadVertex));
    benchmark::DoNotOptimize(batch.storage.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) *
                          static_cast<int64_t>(sizeof(QuadVertex)));
}
BENCHMARK(BM_memcpyVertices)->Arg(3462)->Arg(774);

}  // namespace

BENCHMARK_MAIN();
