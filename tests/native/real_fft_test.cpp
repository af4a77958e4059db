#include "analysis/real_fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace tarnevox {
namespace {

constexpr int kN = 512;
const long double kPiL = 3.141592653589793238462643383279502884L;

// The packed result straight from the definition, in extended precision.
std::vector<double> referenceTransform(const double* x) {
  std::vector<double> out(kN);
  for (int k = 0; k <= 256; ++k) {
    long double re = 0, im = 0;
    for (int j = 0; j < kN; ++j) {
      const long double angle = 2 * kPiL * ((static_cast<long>(j) * k) % kN) / kN;
      re += x[j] * std::cos(angle);
      im += x[j] * std::sin(angle);
    }
    if (k == 0) out[0] = static_cast<double>(re);
    else if (k == 256) out[1] = static_cast<double>(re);
    else {
      out[2 * k] = static_cast<double>(re);
      out[2 * k + 1] = static_cast<double>(im);
    }
  }
  return out;
}

void expectMatchesReference(const std::vector<double>& input, double tolerance) {
  std::vector<double> data = input;
  FftWorkArea area{};
  realFft512(data.data(), area);
  const std::vector<double> expected = referenceTransform(input.data());
  for (int i = 0; i < kN; ++i) {
    ASSERT_NEAR(data[i], expected[i], tolerance) << "entry " << i;
  }
}

std::vector<double> signal(double (*f)(int)) {
  std::vector<double> x(kN);
  for (int j = 0; j < kN; ++j) x[j] = f(j);
  return x;
}

TEST(RealFft, ImpulsesAndConstantsGiveTheirClosedForms) {
  std::vector<double> x(kN, 0.0);
  x[0] = 1;
  expectMatchesReference(x, 1e-14);
  {
    std::vector<double> data = x;
    FftWorkArea area{};
    realFft512(data.data(), area);
    for (int i = 0; i < kN; ++i) EXPECT_NEAR(data[i], i < 2 || i % 2 == 0 ? 1.0 : 0.0, 1e-14);
  }
  x[0] = 0;
  x[1] = 1;
  {
    std::vector<double> data = x;
    FftWorkArea area{};
    realFft512(data.data(), area);
    EXPECT_NEAR(data[0], 1, 1e-14);
    EXPECT_NEAR(data[1], -1, 1e-14);
    // The sine carries the plus sign.
    EXPECT_NEAR(data[3], std::sin(2 * M_PI / kN), 1e-14);
    EXPECT_GT(data[3], 0.0122);
    for (int k = 1; k < 256; ++k) {
      EXPECT_NEAR(data[2 * k], std::cos(2 * M_PI * k / kN), 1e-14);
      EXPECT_NEAR(data[2 * k + 1], std::sin(2 * M_PI * k / kN), 1e-14);
    }
  }
  std::vector<double> ones(kN, 1.0);
  std::vector<double> alternating(kN);
  for (int j = 0; j < kN; ++j) alternating[j] = j % 2 == 0 ? 1 : -1;
  for (auto* input : {&ones, &alternating}) {
    std::vector<double> data = *input;
    FftWorkArea area{};
    realFft512(data.data(), area);
    const int peak = input == &ones ? 0 : 1;
    for (int i = 0; i < kN; ++i) EXPECT_NEAR(data[i], i == peak ? 512.0 : 0.0, 1e-11) << i;
  }
}

TEST(RealFft, PureTonesLandInTheirBinWithThePlusSign) {
  struct Tone {
    int bin;
    bool sine;
    int entry;
  };
  for (const Tone tone : {Tone{5, false, 10}, Tone{5, true, 11}, Tone{255, false, 510},
                          Tone{1, true, 3}, Tone{128, false, 256}}) {
    std::vector<double> data(kN);
    for (int j = 0; j < kN; ++j) {
      const double angle = 2 * M_PI * tone.bin * j / kN;
      data[j] = tone.sine ? std::sin(angle) : std::cos(angle);
    }
    FftWorkArea area{};
    realFft512(data.data(), area);
    for (int i = 0; i < kN; ++i) {
      EXPECT_NEAR(data[i], i == tone.entry ? 256.0 : 0.0, 1e-10)
          << "bin " << tone.bin << " entry " << i;
    }
  }
}

// Errors relative to the input's scale, the sum of its magnitudes, which bounds every
// output entry.
TEST(RealFft, MatchesTheDefinitionOnSeededRandomInputs) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> byte(-128, 127);
  std::normal_distribution<double> gaussian(0.0, 1.0);
  double worst = 0;
  for (int round = 0; round < 24; ++round) {
    std::vector<double> x(kN);
    for (double& v : x) v = round % 2 == 0 ? byte(random) * 512.0 : gaussian(random) * (round + 1);
    double scale = 0;
    for (double v : x) scale += std::fabs(v);
    std::vector<double> data = x;
    FftWorkArea area{};
    realFft512(data.data(), area);
    const std::vector<double> expected = referenceTransform(x.data());
    for (int i = 0; i < kN; ++i) worst = std::max(worst, std::fabs(data[i] - expected[i]) / scale);
  }
  EXPECT_LT(worst, 1e-12);
}

TEST(RealFft, BuildsItsTablesOnceAndRepeatsBitForBit) {
  FftWorkArea area{};
  std::vector<double> x(kN);
  for (int j = 0; j < kN; ++j) x[j] = std::sin(j * 0.37) * 1000 + (j % 7);
  std::vector<double> first = x;
  realFft512(first.data(), area);

  const std::int32_t expectedIndex[18] = {128, 128, 0, 16, 0, 64, 32, 96};
  for (int i = 0; i < 18; ++i) EXPECT_EQ(area.indexTable[i], expectedIndex[i]) << i;

  const double d = std::atan(1.0) / 64;
  const double* t = area.trigTable;
  EXPECT_EQ(t[0], 1.0);
  EXPECT_EQ(t[1], std::cos(64 * d));
  EXPECT_EQ(t[2], 0.5 / std::cos(2 * d));
  EXPECT_EQ(t[8], std::cos(8 * d));
  EXPECT_EQ(t[11], -std::sin(24 * d));
  EXPECT_EQ(t[66], 0.5 / t[4]);
  EXPECT_EQ(t[72], t[16]);
  EXPECT_EQ(t[98], 0.5 / t[68]);
  EXPECT_EQ(t[119], t[107]);
  EXPECT_EQ(t[122], t[116]);
  EXPECT_EQ(t[125], t[1]);
  EXPECT_EQ(t[126], 0.0);
  EXPECT_EQ(t[127], 0.0);
  const double* c = area.trigTable + 128;
  EXPECT_EQ(c[0], std::cos(64 * d));
  EXPECT_EQ(c[64], 0.5 * c[0]);
  EXPECT_EQ(c[1], 0.5 * std::cos(d));
  EXPECT_EQ(c[127], 0.5 * std::sin(d));

  // The second call gives the same bits and builds nothing: a marked twiddle entry,
  // which a build would overwrite, survives it.
  FftWorkArea before = area;
  area.trigTable[5] = 42.0;
  std::vector<double> second = x;
  realFft512(second.data(), area);
  EXPECT_EQ(area.trigTable[5], 42.0);
  area.trigTable[5] = before.trigTable[5];
  EXPECT_EQ(std::memcmp(&before, &area, sizeof area), 0);
  EXPECT_EQ(std::memcmp(first.data(), second.data(), kN * sizeof(double)), 0);

  // One work area serves any data array, and a half-built one gets its cosines back.
  area.indexTable[1] = 0;
  for (int i = 128; i < 256; ++i) area.trigTable[i] = 0;
  std::vector<double> third = x;
  realFft512(third.data(), area);
  EXPECT_EQ(std::memcmp(&before, &area, sizeof area), 0);
  EXPECT_EQ(std::memcmp(first.data(), third.data(), kN * sizeof(double)), 0);
}

}  // namespace
}  // namespace tarnevox
