// qorv/foundation/trig.h
//
// Sine and cosine of one angle together, for the evaluators that need both at every call
// (surfaces of revolution, arcs). Faster than the C library's pair for the angles geometry
// meets, and as exact: within one unit in the last place of the true values.
//
// Conventions a caller gets wrong:
// - Angles below 2^19 pi / 2 in magnitude are reduced here by pi / 2 in three parts (Cody and
//   Waite), with the reduced angle carried as a head and a tail; larger angles, NaN and
//   infinities go to std::sin and std::cos, so the results agree with them there bit for bit.
// - Not bit-identical to std::sin / std::cos elsewhere: both are faithfully rounded, and may
//   round the last bit differently.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace qorv {

namespace detail {

// sin(x + y) and cos(x + y) for |x + y| <= pi / 4, y a tail below half an ulp of x: minimax
// polynomials in x^2 with the tail as a first-order correction.
inline double kernelSin(double x, double y) {
  constexpr double S1 = -1.66666666666666324348e-01, S2 = 8.33333333332248946124e-03,
                   S3 = -1.98412698298579493134e-04, S4 = 2.75573137070700676789e-06,
                   S5 = -2.50507602534068634195e-08, S6 = 1.58969099521155010221e-10;
  const double z = x * x, v = z * x;
  const double r = S2 + z * (S3 + z * (S4 + z * (S5 + z * S6)));
  return x - ((z * (0.5 * y - v * r) - y) - v * S1);
}

inline double kernelCos(double x, double y) {
  constexpr double C1 = 4.16666666666666019037e-02, C2 = -1.38888888888741095749e-03,
                   C3 = 2.48015872894767294178e-05, C4 = -2.75573143513906633035e-07,
                   C5 = 2.08757232129817482790e-09, C6 = -1.13596475577881948265e-11;
  const double z = x * x, w = z * z;
  const double r = z * (C1 + z * (C2 + z * C3)) + w * w * (C4 + z * (C5 + z * C6));
  const double hz = 0.5 * z, h = 1.0 - hz;
  return h + (((1.0 - h) - hz) + (z * r - x * y));
}

inline int exponentOf(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return static_cast<int>((b >> 52) & 0x7ff);
}

}  // namespace detail

[[gnu::always_inline]] inline void sinCos(double x, double& s, double& c) {
  const double ax = std::fabs(x);
  if (!(ax < 823549.6653745964)) {  // 2^19 pi / 2; also NaN and infinities
    s = std::sin(x), c = std::cos(x);
    return;
  }
  if (ax < 0.7853981633974483) {  // pi / 4: no reduction
    s = detail::kernelSin(x, 0.0), c = detail::kernelCos(x, 0.0);
    return;
  }
  // x = n pi/2 + (y0 + y1), pi/2 in parts of 33, 33 and 53 bits: n * part is exact for n < 2^20.
  constexpr double invPio2 = 6.36619772367581382433e-01;
  constexpr double pio2_1 = 1.57079632673412561417e+00, pio2_1t = 6.07710050650619224932e-11;
  constexpr double pio2_2 = 6.07710050630396597660e-11, pio2_2t = 2.02226624879595063154e-21;
  constexpr double pio2_3 = 2.02226624871116645580e-21, pio2_3t = 8.47842766036889956997e-32;
  // Rounded to the nearest integer by adding and taking away 1.5 * 2^52.
  constexpr double magic = 6755399441055744.0;
  const double fn = (x * invPio2 + magic) - magic;
  const int n = static_cast<int>(fn);
  double r = x - fn * pio2_1, w = fn * pio2_1t, y0 = r - w;
  const int ex = detail::exponentOf(x);
  if (ex - detail::exponentOf(y0) > 16) {  // cancellation: a second part
    double t = r;
    w = fn * pio2_2;
    r = t - w;
    w = fn * pio2_2t - ((t - r) - w);
    y0 = r - w;
    if (ex - detail::exponentOf(y0) > 49) {  // and a third
      t = r;
      w = fn * pio2_3;
      r = t - w;
      w = fn * pio2_3t - ((t - r) - w);
      y0 = r - w;
    }
  }
  const double y1 = (r - y0) - w;
  const double ks = detail::kernelSin(y0, y1), kc = detail::kernelCos(y0, y1);
  // The quadrant without branches (they mispredict on random angles).
  const bool odd = n & 1;
  const double a = odd ? kc : ks, b = odd ? ks : kc;
  s = (n & 2) ? -a : a;
  c = ((n + 1) & 2) ? -b : b;
}

}  // namespace qorv
