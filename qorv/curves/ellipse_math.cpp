#include "qorv/curves/ellipse_math.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "qorv/foundation/numerics.h"

namespace EllipseMath {

namespace {

using qorv::detail::kNaN;
using qorv::detail::kTwoPi;

// pi/2 = kPio2Hi + kPio2Lo to about 1e-33.
constexpr double kPio2Hi = 1.5707963267948966;
constexpr double kPio2Lo = 6.123233995736766e-17;
// A minor semi-axis below this fraction of the major one is a segment: the missing length is
// of the order of its square.
constexpr double kSegment = 0x1p-500;

// Carlson's stopping factors (3r)^(-1/6) and (r/4)^(-1/6) for a truncation error r = 1e-17.
constexpr double kStopRF = 567.3004449747444;
constexpr double kStopRD = 858.3742189325567;

// 10-point Gauss-Legendre on [-1, 1]: the positive nodes and their weights.
constexpr double kGaussX[5] = {0.1488743389816312108848260, 0.4333953941292471907992659,
                               0.6794095682990244062343274, 0.8650633666889845107320967,
                               0.9739065285171717200779640};
constexpr double kGaussW[5] = {0.2955242247147528701738930, 0.2692667193099963550912269,
                               0.2190863625159820439955349, 0.1494513491505805931457763,
                               0.0666713443086881375935688};

// t = k pi/2 + r with r in [0, pi/2), r to its own precision (fma keeps k pi/2 exact).
void reduce(double t, double& k, double& r) {
  k = std::floor(t / kPio2Hi);
  r = std::fma(-k, kPio2Hi, t) - k * kPio2Lo;
  if (r < 0.0) {
    k -= 1.0;
    r = std::fma(-k, kPio2Hi, t) - k * kPio2Lo;
  } else if (r >= kPio2Hi) {
    k += 1.0;
    r = std::fma(-k, kPio2Hi, t) - k * kPio2Lo;
  }
  r = std::clamp(r, 0.0, kPio2Hi);
}

// (k + 1) pi/2 - t, the way to the next vertex, to its own precision (not pi/2 - r, which
// would keep the absolute error of r).
double toNext(double t, double k) {
  return std::clamp(std::fma(k + 1.0, kPio2Hi, -t) + (k + 1.0) * kPio2Lo, 0.0, kPio2Hi);
}

// One quarter of an ellipse, measured from its slow vertex: speed m there, M (>= m) at the
// other end, M in [1, 2) (the caller scales).
struct Quarter {
  double m, M;

  Quarter(double slow, double fast) : m(slow), M(fast) {}

  // The quarter's length, computed once and only when asked for.
  double whole() const {
    if (whole_ < 0.0) whole_ = lengthTo(1.0, 0.0);
    return whole_;
  }

  double speed(double x) const {
    const double c = std::cos(x), s = std::sin(x);
    return std::sqrt(m * m * c * c + M * M * s * s);
  }

  // Length from the slow vertex to the parameter angle with this sine and cosine.
  double lengthTo(double s, double c) const {
    if (m < kSegment * M) return M * (1.0 - c);  // the segment: M sin integrates to M (1 - cos)
    const double m2 = m * m, x = m2 * c * c, w = x + M * M * s * s;
    return m2 * s * (carlsonRF(x, w, m2) + (M - m) * (M + m) / 3.0 * s * s * carlsonRD(x, w, m2));
  }
  double lengthTo(double phi) const {
    if (m < kSegment * M) {
      const double h = std::sin(0.5 * phi);
      return 2.0 * M * h * h;
    }
    return lengthTo(std::sin(phi), std::cos(phi));
  }

  // The piece [u, u + h] of this quarter; toEnd: u + h is the fast vertex.
  double piece(double u, double h, bool toEnd) const {
    if (h <= 0.0) return 0.0;
    if (u >= 2.0 * h) {
      // The integrand's branch points, at the slow vertices +- i atanh(m/M), lie at least five
      // half-widths from the piece's centre: Bernstein radius >= 9.9, error below 1e-19.
      const double mid = u + 0.5 * h, half = 0.5 * h;
      double sum = 0.0;
      for (int i = 0; i < 5; ++i) {
        sum += kGaussW[i] * (speed(mid - half * kGaussX[i]) + speed(mid + half * kGaussX[i]));
      }
      return half * sum;
    }
    // u < 2h: the length before u is less than twice the piece's, so at most two bits cancel.
    const double end = toEnd ? whole() : lengthTo(u + h);
    return end - (u > 0.0 ? lengthTo(u) : 0.0);
  }

 private:
  mutable double whole_ = -1.0;
};

}  // namespace

double carlsonRF(double x, double y, double z) {
  if (!(x >= 0.0 && y >= 0.0 && z >= 0.0) || (x == 0.0) + (y == 0.0) + (z == 0.0) > 1) {
    return kNaN;
  }
  if (std::isinf(x) || std::isinf(y) || std::isinf(z)) return 0.0;
  const double a0 = (x + y + z) / 3.0;
  const double q = kStopRF * std::max({std::fabs(a0 - x), std::fabs(a0 - y), std::fabs(a0 - z)});
  const double x0 = x, y0 = y;
  double a = a0, f = 1.0;  // f = 4^-n
  while (f * q >= a) {
    const double sx = std::sqrt(x), sy = std::sqrt(y), sz = std::sqrt(z);
    const double lam = sx * sy + sy * sz + sz * sx;
    x = 0.25 * (x + lam);
    y = 0.25 * (y + lam);
    z = 0.25 * (z + lam);
    a = 0.25 * (a + lam);
    f *= 0.25;
  }
  const double X = f * (a0 - x0) / a, Y = f * (a0 - y0) / a, Z = -(X + Y);
  const double e2 = X * Y - Z * Z, e3 = X * Y * Z;
  return (1.0 - e2 / 10.0 + e3 / 14.0 + e2 * e2 / 24.0 - 3.0 * e2 * e3 / 44.0) / std::sqrt(a);
}

double carlsonRD(double x, double y, double z) {
  if (!(x >= 0.0 && y >= 0.0 && z > 0.0) || (x == 0.0 && y == 0.0)) return kNaN;
  if (std::isinf(x) || std::isinf(y) || std::isinf(z)) return 0.0;
  const double a0 = (x + y + 3.0 * z) / 5.0;
  const double q = kStopRD * std::max({std::fabs(a0 - x), std::fabs(a0 - y), std::fabs(a0 - z)});
  const double x0 = x, y0 = y;
  double a = a0, f = 1.0, sum = 0.0;
  while (f * q >= a) {
    const double sx = std::sqrt(x), sy = std::sqrt(y), sz = std::sqrt(z);
    const double lam = sx * sy + sy * sz + sz * sx;
    sum += f / (sz * (z + lam));
    x = 0.25 * (x + lam);
    y = 0.25 * (y + lam);
    z = 0.25 * (z + lam);
    a = 0.25 * (a + lam);
    f *= 0.25;
  }
  const double X = f * (a0 - x0) / a, Y = f * (a0 - y0) / a, Z = -(X + Y) / 3.0;
  const double xy = X * Y, z2 = Z * Z;
  const double e2 = xy - 6.0 * z2, e3 = (3.0 * xy - 8.0 * z2) * Z, e4 = 3.0 * (xy - z2) * z2,
               e5 = xy * z2 * Z;
  const double series = 1.0 - 3.0 * e2 / 14.0 + e3 / 6.0 + 9.0 * e2 * e2 / 88.0 - 3.0 * e4 / 22.0 -
                        9.0 * e2 * e3 / 52.0 + 3.0 * e5 / 26.0;
  return f * series / (a * std::sqrt(a)) + 3.0 * sum;
}

double arcLength(double a, double b, double t0, double t1) {
  if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(t0) || !std::isfinite(t1)) {
    return kNaN;
  }
  a = std::fabs(a);
  b = std::fabs(b);
  if (t1 < t0) std::swap(t0, t1);
  const double big = std::max(a, b);
  if (t0 == t1 || big == 0.0) return 0.0;
  if (a == b) return a * (t1 - t0);
  // A power-of-two scale: exact, and keeps every square and Carlson argument in range.
  const int e = std::ilogb(big);
  a = std::ldexp(a, -e);
  b = std::ldexp(b, -e);
  // Quarters of even index start at a vertex of speed b (the end of the X axis), odd ones at a
  // vertex of speed a. A piece is measured from the slower end.
  const Quarter even(std::min(a, b), std::max(a, b));
  const bool evenFromStart = b <= a;

  double k0, r0, k1, r1;
  reduce(t0, k0, r0);
  reduce(t1, k1, r1);
  const auto fromStart = [&](double k) { return (std::fmod(k, 2.0) == 0.0) == evenFromStart; };

  double length;
  if (k0 == k1) {
    const double h = t1 - t0;
    length = fromStart(k0) ? even.piece(r0, h, false) : even.piece(toNext(t1, k1), h, false);
  } else {
    const double first = toNext(t0, k0);
    length = fromStart(k0) ? even.piece(r0, first, true) : even.piece(0.0, first, false);
    length += fromStart(k1) ? even.piece(0.0, r1, false) : even.piece(toNext(t1, k1), r1, true);
    if (k1 - k0 > 1.0) length += (k1 - k0 - 1.0) * even.whole();
  }
  return std::ldexp(length, e);
}

double perimeter(double a, double b) {
  if (!std::isfinite(a) || !std::isfinite(b)) return kNaN;
  a = std::fabs(a);
  b = std::fabs(b);
  const double big = std::max(a, b);
  if (big == 0.0) return 0.0;
  const int e = std::ilogb(big);
  const Quarter q(std::ldexp(std::min(a, b), -e), std::ldexp(big, -e));
  return std::ldexp(4.0 * q.whole(), e);
}

double central_to_param(double theta, double bigAxe, double smallAxe) {
  if (!std::isfinite(theta)) return kNaN;
  if (theta == kTwoPi) return theta;
  const bool negative = theta < 0.0;
  // Raised a turn at a time as the definition goes (its rounding included), past a few
  // thousand turns by one exact remainder.
  if (theta < -4096.0 * kTwoPi) theta = std::fmod(theta, kTwoPi);
  while (theta < 0.0) theta += kTwoPi;
  theta = std::fmod(theta, kTwoPi);
  const double k = bigAxe / smallAxe;
  const double t = std::atan(std::tan(theta) * k);
  if (theta <= 3.14159265358979323846 / 2.0) return negative ? t - kTwoPi : t;
  const double turned =
      theta <= 3.0 * 3.14159265358979323846 / 2.0 ? t + 3.14159265358979323846 : t + kTwoPi;
  return negative ? turned - kTwoPi : turned;
}

}  // namespace EllipseMath
