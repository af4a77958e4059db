// The transform and the whole analysis of one block, each beside the same work done
// with FFTW's own 512-point real transform (planned with FFTW_MEASURE).
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cstring>
#include <random>

#include "analysis/frame_analysis.h"
#include "analysis/real_fft.h"

namespace {

using tarnevox::FftWorkArea;

constexpr int kN = 512;

struct FftwTransform {
  double* in;
  fftw_complex* out;
  fftw_plan plan;
  FftwTransform() {
    in = fftw_alloc_real(kN);
    out = fftw_alloc_complex(kN / 2 + 1);
    plan = fftw_plan_dft_r2c_1d(kN, in, out, FFTW_MEASURE);
  }
  ~FftwTransform() {
    fftw_destroy_plan(plan);
    fftw_free(out);
    fftw_free(in);
  }
};

FftwTransform& fftw() {
  static FftwTransform transform;
  return transform;
}

// FFTW in the packed layout and sign that the analysis expects.
void fftwPacked(double* data, FftWorkArea&) {
  FftwTransform& t = fftw();
  std::memcpy(t.in, data, kN * sizeof(double));
  fftw_execute(t.plan);
  data[0] = t.out[0][0];
  data[1] = t.out[kN / 2][0];
  for (int k = 1; k < kN / 2; ++k) {
    data[2 * k] = t.out[k][0];
    data[2 * k + 1] = -t.out[k][1];
  }
}

void randomSamples(double* x) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(-128, 127);
  for (int i = 0; i < kN; ++i) x[i] = byte(random) * 512.0;
}

void BM_realFft512(benchmark::State& state) {
  alignas(32) double input[kN];
  alignas(32) double data[kN];
  randomSamples(input);
  FftWorkArea area{};
  for (auto _ : state) {
    std::memcpy(data, input, sizeof data);
    tarnevox::realFft512(data, area);
    benchmark::DoNotOptimize(data);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_realFft512);

void BM_fftwRealToComplex512(benchmark::State& state) {
  FftwTransform& t = fftw();
  alignas(32) double input[kN];
  randomSamples(input);
  for (auto _ : state) {
    std::memcpy(t.in, input, sizeof input);
    fftw_execute(t.plan);
    benchmark::DoNotOptimize(t.out);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_fftwRealToComplex512);

void analysisLoop(benchmark::State& state, tarnevox::RealTransform transform) {
  tarnevox::HostBlock block;
  std::mt19937 random(3);
  for (auto& channel : block) {
    for (unsigned char& b : channel) b = static_cast<unsigned char>(random());
  }
  float spectrum[tarnevox::kBandCount];
  float wave[tarnevox::kWaveColumnCount];
  tarnevox::analyseBlock(block, spectrum, wave, transform);  // builds the tables
  for (auto _ : state) {
    tarnevox::analyseBlock(block, spectrum, wave, transform);
    benchmark::DoNotOptimize(spectrum);
    benchmark::DoNotOptimize(wave);
    benchmark::ClobberMemory();
  }
}

void BM_analyseBlock(benchmark::State& state) { analysisLoop(state, tarnevox::realFft512); }
BENCHMARK(BM_analyseBlock);

void BM_analyseBlockOnFftw(benchmark::State& state) { analysisLoop(state, fftwPacked); }
BENCHMARK(BM_analyseBlockOnFftw);

}  // namespace

BENCHMARK_MAIN();
