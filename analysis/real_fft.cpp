// The real FFT of length 512: a 256-point complex transform of the samples taken in
// pairs, then the real post-processing that splits it into the half spectrum.
//
// The complex transform is a radix-4 self-sorting (Stockham) scheme over separate
// real and imaginary arrays: four passes, each a loop over contiguous elements with
// one twiddle per group, which compilers turn into vector code, and the output lands
// in natural order without a bit-reversal pass. Its twiddles are constants computed
// at compile time; the work area holds the tables of the published algorithm, built
// on first use, and the post-processing reads its cosine factors from there.
#include "analysis/real_fft.h"

#include <cmath>

#if !defined(TARNEVOX_NO_SIMD) && \
    (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#define TARNEVOX_FFT_SSE2 1
#include <emmintrin.h>
#endif

namespace tarnevox {
namespace {

constexpr int kComplexLength = 256;
constexpr double kPi = 3.14159265358979323846;

// Compile-time sine and cosine of 2 pi k / 256, reduced to the first octant by symmetry
// so that the series converges to full double precision.
struct SinCos {
  double c;
  double s;
};

constexpr SinCos taylorSinCos(double x) {  // |x| <= pi/4
  double term = 1.0;
  double c = 0.0;
  double s = 0.0;
  for (int n = 0; n < 30; ++n) {
    // term = x^n / n!
    if (n % 4 == 0) c += term;
    if (n % 4 == 1) s += term;
    if (n % 4 == 2) c -= term;
    if (n % 4 == 3) s -= term;
    term = term * x / (n + 1);
  }
  return {c, s};
}

constexpr SinCos unitRoot(int k) {  // e^(2 pi i k / 256)
  k &= kComplexLength - 1;
  const int octant = k / 32;
  const int r = k % 32;
  // Angle within the octant, measured so that it stays at most pi/4.
  const bool mirrored = (octant & 1) != 0;
  const SinCos base = taylorSinCos(2.0 * kPi * (mirrored ? 32 - r : r) / kComplexLength);
  // Rotate the first-octant value into place.
  double c = base.c;
  double s = base.s;
  if (mirrored) {
    const double t = c;
    c = s;
    s = t;
  }
  switch (octant >> 1) {
    case 0: return {c, s};
    case 1: return {-s, c};
    case 2: return {-c, -s};
    default: return {s, -c};
  }
}

// Twiddles of one pass of length n = 4m: W_n^(p q) for p < m, q = 1, 2, 3, with
// W_n = e^(2 pi i / n). Rows: real and imaginary part of q = 1, then of 2, then of 3,
// each contiguous in p for the vector loops.
template <int m>
struct alignas(16) PassTwiddles {
  double w[6][m];
};

template <int m>
constexpr PassTwiddles<m> makePassTwiddles() {
  PassTwiddles<m> t{};
  constexpr int scale = kComplexLength / (4 * m);
  for (int q = 1; q <= 3; ++q) {
    for (int p = 0; p < m; ++p) {
      const SinCos w = unitRoot(p * q * scale);
      t.w[2 * (q - 1)][p] = w.c;
      t.w[2 * (q - 1) + 1][p] = w.s;
    }
  }
  return t;
}

constexpr PassTwiddles<64> kPass256 = makePassTwiddles<64>();
constexpr PassTwiddles<16> kPass64 = makePassTwiddles<16>();
constexpr PassTwiddles<4> kPass16 = makePassTwiddles<4>();

struct SplitArray {
  alignas(16) double re[kComplexLength];
  alignas(16) double im[kComplexLength];
};

// One radix-4 pass over s interleaved transforms of length n = 4m:
// y[q + s(4p + k)] = W_n^(pk) * sum over r of x[q + s(p + r m)] i^(rk).
#if defined(TARNEVOX_FFT_SSE2)
struct Vec {
  __m128d v;
};
inline Vec operator+(Vec a, Vec b) { return {_mm_add_pd(a.v, b.v)}; }
inline Vec operator-(Vec a, Vec b) { return {_mm_sub_pd(a.v, b.v)}; }
inline Vec operator*(Vec a, Vec b) { return {_mm_mul_pd(a.v, b.v)}; }
inline Vec load(const double* p) { return {_mm_load_pd(p)}; }
inline void store(double* p, Vec a) { _mm_store_pd(p, a.v); }
inline Vec broadcast(double x) { return {_mm_set1_pd(x)}; }

struct VecButterfly {
  Vec r[4];
  Vec i[4];
};

// Twiddles: w1..w3, one pair of vectors each (real, imaginary); null: all 1.
inline VecButterfly butterfly(const Vec (&ar)[4], const Vec (&ai)[4], const Vec* w) {
  const Vec apcR = ar[0] + ar[2], apcI = ai[0] + ai[2];
  const Vec amcR = ar[0] - ar[2], amcI = ai[0] - ai[2];
  const Vec bpdR = ar[1] + ar[3], bpdI = ai[1] + ai[3];
  const Vec jbmdR = ai[3] - ai[1], jbmdI = ar[1] - ar[3];
  const Vec y1r = amcR + jbmdR, y1i = amcI + jbmdI;
  const Vec y2r = apcR - bpdR, y2i = apcI - bpdI;
  const Vec y3r = amcR - jbmdR, y3i = amcI - jbmdI;
  VecButterfly out;
  out.r[0] = apcR + bpdR;
  out.i[0] = apcI + bpdI;
  if (w == nullptr) {
    out.r[1] = y1r; out.i[1] = y1i;
    out.r[2] = y2r; out.i[2] = y2i;
    out.r[3] = y3r; out.i[3] = y3i;
    return out;
  }
  out.r[1] = w[0] * y1r - w[1] * y1i;
  out.i[1] = w[0] * y1i + w[1] * y1r;
  out.r[2] = w[2] * y2r - w[3] * y2i;
  out.i[2] = w[2] * y2i + w[3] * y2r;
  out.r[3] = w[4] * y3r - w[5] * y3i;
  out.i[3] = w[4] * y3i + w[5] * y3r;
  return out;
}

// The first pass (m = 64, one transform) reads the interleaved input and runs two
// neighbouring p at once; its outputs for p and p+1 lie four apart.
void firstPass(const double* data, SplitArray& y) {
  const PassTwiddles<64>& tw = kPass256;
  for (int p = 0; p < 64; p += 2) {
    Vec ar[4], ai[4];
    for (int r = 0; r < 4; ++r) {
      const double* z = data + 2 * (p + 64 * r);
      const __m128d lo = _mm_loadu_pd(z);      // re p, im p
      const __m128d hi = _mm_loadu_pd(z + 2);  // re p+1, im p+1
      ar[r].v = _mm_unpacklo_pd(lo, hi);
      ai[r].v = _mm_unpackhi_pd(lo, hi);
    }
    Vec w[6];
    for (int k = 0; k < 6; ++k) w[k] = load(&tw.w[k][p]);
    const VecButterfly b = butterfly(ar, ai, w);
    // Transpose the lanes: outputs 0 and 1 of p are neighbours, as are 2 and 3.
    for (int k = 0; k < 4; k += 2) {
      _mm_store_pd(&y.re[4 * p + k], _mm_unpacklo_pd(b.r[k].v, b.r[k + 1].v));
      _mm_store_pd(&y.re[4 * p + 4 + k], _mm_unpackhi_pd(b.r[k].v, b.r[k + 1].v));
      _mm_store_pd(&y.im[4 * p + k], _mm_unpacklo_pd(b.i[k].v, b.i[k + 1].v));
      _mm_store_pd(&y.im[4 * p + 4 + k], _mm_unpackhi_pd(b.i[k].v, b.i[k + 1].v));
    }
  }
}

// Later passes: s >= 4 transforms side by side, so lanes run along q.
template <int m, int s>
void laterPass(const SplitArray& x, SplitArray& y, const PassTwiddles<m>* tw) {
  for (int p = 0; p < m; ++p) {
    Vec w[6];
    if (tw != nullptr) {
      for (int k = 0; k < 6; ++k) w[k] = broadcast(tw->w[k][p]);
    }
    for (int q = 0; q < s; q += 2) {
      Vec ar[4], ai[4];
      for (int r = 0; r < 4; ++r) {
        ar[r] = load(&x.re[q + s * (p + r * m)]);
        ai[r] = load(&x.im[q + s * (p + r * m)]);
      }
      const VecButterfly b = butterfly(ar, ai, tw != nullptr ? w : nullptr);
      for (int k = 0; k < 4; ++k) {
        store(&y.re[q + s * (4 * p + k)], b.r[k]);
        store(&y.im[q + s * (4 * p + k)], b.i[k]);
      }
    }
  }
}

void complexTransform256(const double* data, SplitArray& out) {
  SplitArray work;
  firstPass(data, work);
  laterPass<16, 4>(work, out, &kPass64);
  laterPass<4, 16>(out, work, &kPass16);
  laterPass<1, 64>(work, out, static_cast<const PassTwiddles<1>*>(nullptr));
}
#else
// The butterfly on one lane.
struct Butterfly {
  double r[4];
  double i[4];
};

inline Butterfly butterfly(const double* ar, const double* ai, const double* w, int wStride) {
  // ar/ai: the four inputs; w: twiddles re1, im1, re2, im2, re3, im3 at wStride apart.
  const double apcR = ar[0] + ar[2], apcI = ai[0] + ai[2];
  const double amcR = ar[0] - ar[2], amcI = ai[0] - ai[2];
  const double bpdR = ar[1] + ar[3], bpdI = ai[1] + ai[3];
  const double jbmdR = ai[3] - ai[1], jbmdI = ar[1] - ar[3];  // i (b - d)
  const double y1r = amcR + jbmdR, y1i = amcI + jbmdI;
  const double y2r = apcR - bpdR, y2i = apcI - bpdI;
  const double y3r = amcR - jbmdR, y3i = amcI - jbmdI;
  Butterfly out;
  out.r[0] = apcR + bpdR;
  out.i[0] = apcI + bpdI;
  if (w == nullptr) {
    out.r[1] = y1r; out.i[1] = y1i;
    out.r[2] = y2r; out.i[2] = y2i;
    out.r[3] = y3r; out.i[3] = y3i;
    return out;
  }
  const double w1r = w[0], w1i = w[wStride], w2r = w[2 * wStride], w2i = w[3 * wStride];
  const double w3r = w[4 * wStride], w3i = w[5 * wStride];
  out.r[1] = w1r * y1r - w1i * y1i;
  out.i[1] = w1r * y1i + w1i * y1r;
  out.r[2] = w2r * y2r - w2i * y2i;
  out.i[2] = w2r * y2i + w2i * y2r;
  out.r[3] = w3r * y3r - w3i * y3i;
  out.i[3] = w3r * y3i + w3i * y3r;
  return out;
}

template <int m, int s, typename Load>
void scalarPass(const Load& load, SplitArray& y, const PassTwiddles<m>* tw) {
  for (int p = 0; p < m; ++p) {
    for (int q = 0; q < s; ++q) {
      double ar[4], ai[4];
      for (int r = 0; r < 4; ++r) load(q + s * (p + r * m), ar[r], ai[r]);
      const Butterfly b = butterfly(ar, ai, tw != nullptr ? &tw->w[0][p] : nullptr, m);
      for (int k = 0; k < 4; ++k) {
        y.re[q + s * (4 * p + k)] = b.r[k];
        y.im[q + s * (4 * p + k)] = b.i[k];
      }
    }
  }
}

void complexTransform256(const double* data, SplitArray& out) {
  SplitArray work;
  scalarPass<64, 1>([data](int i, double& r, double& im) { r = data[2 * i]; im = data[2 * i + 1]; },
                    work, &kPass256);
  auto from = [](const SplitArray& a) {
    return [&a](int i, double& r, double& im) { r = a.re[i]; im = a.im[i]; };
  };
  scalarPass<16, 4>(from(work), out, &kPass64);
  scalarPass<4, 16>(from(out), work, &kPass16);
  scalarPass<1, 64>(from(work), out, static_cast<const PassTwiddles<1>*>(nullptr));
}
#endif

// The tables of the published algorithm, built once per work area.
void buildTwiddles(FftWorkArea& area) {
  double* t = area.trigTable;
  std::int32_t* ip = area.indexTable;
  // Index workspace of the bit-reversal permutation.
  ip[2] = 0;
  ip[3] = 16;
  for (int j = 2; j <= 3; ++j) {
    ip[2 + j] = 4 * ip[j];
    ip[4 + j] = 4 * ip[j] + 32;
  }
  const double d = std::atan(1.0) / 64;
  t[0] = 1;
  t[1] = std::cos(64 * d);
  t[2] = 0.5 / std::cos(2 * d);
  t[3] = 0.5 / std::cos(6 * d);
  for (int j = 4; j <= 60; j += 4) {
    t[j] = std::cos(j * d);
    t[j + 1] = std::sin(j * d);
    t[j + 2] = std::cos(3 * j * d);
    t[j + 3] = -std::sin(3 * j * d);
  }
  // Each further level from the one before: base, entries, quarter size.
  struct Level {
    int base;
    int previous;
    int count;
  };
  constexpr Level kLevels[] = {{64, 0, 32}, {96, 64, 16}, {112, 96, 8}};
  for (const Level& level : kLevels) {
    double* u = t + level.base;
    const double* v = t + level.previous;
    u[0] = 1;
    u[1] = v[1];
    u[2] = 0.5 / v[4];
    u[3] = 0.5 / v[6];
    for (int j = 4; j < level.count; j += 4) {
      for (int i = 0; i < 4; ++i) u[j + i] = v[2 * j + i];
    }
  }
  t[120] = 1;
  t[121] = t[1];
  t[122] = t[116];
  t[123] = t[117];
  t[124] = 1;
  t[125] = t[1];
  ip[0] = 128;
  ip[1] = 1;
}

void buildCosineFactors(FftWorkArea& area) {
  area.indexTable[1] = 128;
  double* c = area.trigTable + 128;
  const double d = std::atan(1.0) / 64;
  c[0] = std::cos(64 * d);
  c[64] = 0.5 * c[0];
  for (int j = 1; j <= 63; ++j) {
    c[j] = 0.5 * std::cos(j * d);
    c[128 - j] = 0.5 * std::sin(j * d);
  }
}

}  // namespace

void realFft512(double* data, FftWorkArea& workArea) {
  if (4 * workArea.indexTable[0] < 512) buildTwiddles(workArea);
  if (4 * workArea.indexTable[1] < 512) buildCosineFactors(workArea);

  SplitArray z;
  complexTransform256(data, z);

  // Split the transform of the paired samples into the spectrum of the real input:
  // bin h and bin 256 - h are made from Z[h] and Z[256 - h] together.
  const double* c = workArea.trigTable + 128;
  auto split = [&](int h) {
    const int g = kComplexLength - h;
    const double wr = 0.5 - c[128 - h];
    const double wi = c[h];
    const double xr = z.re[h] - z.re[g];
    const double xi = z.im[h] + z.im[g];
    const double yr = wr * xr - wi * xi;
    const double yi = wr * xi + wi * xr;
    data[2 * h] = z.re[h] - yr;
    data[2 * h + 1] = z.im[h] - yi;
    data[2 * g] = z.re[g] + yr;
    data[2 * g + 1] = z.im[g] - yi;
  };
  split(1);
#if defined(TARNEVOX_FFT_SSE2)
  // Two neighbouring h at once; their partners 256 - h run backwards, hence the swaps.
  const __m128d half = _mm_set1_pd(0.5);
  for (int h = 2; h < 128; h += 2) {
    const int g = kComplexLength - h - 1;  // the lower of the two partners
    const __m128d hr = _mm_load_pd(&z.re[h]);
    const __m128d hi = _mm_load_pd(&z.im[h]);
    const __m128d gr = _mm_shuffle_pd(_mm_loadu_pd(&z.re[g]), _mm_loadu_pd(&z.re[g]), 1);
    const __m128d gi = _mm_shuffle_pd(_mm_loadu_pd(&z.im[g]), _mm_loadu_pd(&z.im[g]), 1);
    const __m128d sine = _mm_loadu_pd(&c[127 - h]);  // c[128-h] in the low lane after the swap
    const __m128d wr = _mm_sub_pd(half, _mm_shuffle_pd(sine, sine, 1));
    const __m128d wi = _mm_loadu_pd(&c[h]);
    const __m128d xr = _mm_sub_pd(hr, gr);
    const __m128d xi = _mm_add_pd(hi, gi);
    const __m128d yr = _mm_sub_pd(_mm_mul_pd(wr, xr), _mm_mul_pd(wi, xi));
    const __m128d yi = _mm_add_pd(_mm_mul_pd(wr, xi), _mm_mul_pd(wi, xr));
    const __m128d outHr = _mm_sub_pd(hr, yr);
    const __m128d outHi = _mm_sub_pd(hi, yi);
    const __m128d outGr = _mm_add_pd(gr, yr);  // lanes: bin g+1, bin g
    const __m128d outGi = _mm_sub_pd(gi, yi);
    _mm_storeu_pd(&data[2 * h], _mm_unpacklo_pd(outHr, outHi));
    _mm_storeu_pd(&data[2 * h + 2], _mm_unpackhi_pd(outHr, outHi));
    _mm_storeu_pd(&data[2 * g + 2], _mm_unpacklo_pd(outGr, outGi));
    _mm_storeu_pd(&data[2 * g], _mm_unpackhi_pd(outGr, outGi));
  }
#else
  for (int h = 2; h < 128; ++h) split(h);
#endif
  data[256] = z.re[128];
  data[257] = z.im[128];
  data[0] = z.re[0] + z.im[0];
  data[1] = z.re[0] - z.im[0];
}

}  // namespace tarnevox
