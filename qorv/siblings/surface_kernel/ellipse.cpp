#include "qorv/siblings/surface_kernel/ellipse.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace qorv::siblings {

namespace {

// Past 2^400 major semi-axes the limit along the direction is exact to 2^-99 of the major
// semi-axis even for an ellipse 2^300 times flatter than round (the foot moves by at most the
// largest radius of curvature, a^2/b, times the angle a/|q|); below those bounds no quantity of
// the root finder overflows.
constexpr double kFar = 0x1p400;
constexpr double kFlat = 0x1p-300;
// A minor coordinate this small is the major axis: the root would sit among subnormals.
constexpr double kAxis = 0x1p-900;
constexpr double kOnCurve = 0x1p-50;

// A foot in the first quadrant of the canonical frame (major axis along the first
// coordinate). two: (x0, -x1) is just as near.
struct Foot {
  double x0;
  double x1;
  bool two;
};

// The foot from a point on the major axis: inside the evolute two mirror feet, else the vertex.
Foot footOnMajorAxis(double ma, double mb, double y0) {
  const double c2 = (ma - mb) * (ma + mb);
  if (ma * y0 < c2) {
    const double r = ma * y0 / c2;  // the foot's x0 / ma, in [0, 1)
    return {ma * r, mb * std::sqrt((1.0 - r) * (1.0 + r)), true};
  }
  return {ma, 0.0, false};
}

// ma in [1, 2), kFlat <= mb < ma, 0 <= y0, y1 <= kFar.
Foot ellipseFoot(double ma, double mb, double y0, double y1) {
  if (y1 < kAxis) {
    Foot f = footOnMajorAxis(ma, mb, y0);
    if (y1 > 0.0) f.two = false;  // on q's side only
    return f;
  }
  if (y0 == 0.0) return {0.0, mb, false};

  const double b2 = mb * mb;
  const double c2 = (ma - mb) * (ma + mb);
  const double ay0 = ma * y0;
  const double z1 = y1 / mb;
  // u = (t + b^2)/b^2. At lo each of P = a y0 / (b^2 u + c^2) and Q = y1 / (b u) is at most 1,
  // one of them equal: N = |(P, Q)| >= 1, at or left of the root; hi has N <= 1.
  const double lo = std::max(z1, (ay0 - c2) / b2);
  const double hi = std::max(1.0, ay0 / b2 + z1);
  // u = 1 gives q itself, the best start for a point near the curve: left of the root
  // outside the ellipse; inside, right of it, and the first step lands on the left.
  double u = std::max(lo, 1.0);
  double last = 0.0;  // the previous step from the left (none: ratio infinite)
  bool climbing = false;
  for (int it = 0; it < 100; ++it) {
    const double id = 1.0 / (b2 * u + c2), iu = 1.0 / u;
    const double P = ay0 * id, Q = z1 * iu;
    const double p2 = P * P, q2 = Q * Q, n2 = p2 + q2;
    if (n2 == 1.0 || (n2 < 1.0 && climbing)) break;  // the root, within rounding
    const double n = std::sqrt(n2);
    // Newton on 1/N - 1: d(1/N)/du = (P^2 b^2/d + Q^2/u) / N^3. Concave, so a step from either
    // side lands on the left (a step from the right may cancel, which the climb repairs).
    const double step = (n - 1.0) * n2 / (p2 * b2 * id + q2 * iu);
    if (n2 < 1.0) {
      const double next = std::max(lo, u + step);
      if (!(next < u)) break;
      u = next;
      continue;
    }
    climbing = true;
    const double next = std::min(u + step, hi);
    if (!(next > u)) break;
    // Stop when the error left after this step, C step^2 with C estimated from the last two
    // steps (16 times over), is below an ulp; a linear tail stops at an ulp all the same.
    const double done = next - u;
    u = next;
    if (done <= 0x1p-50 * u) break;
    const double ratio = done / last;  // in ratio form: u may be tiny or huge
    if (16.0 * done * ratio * ratio <= 0x1p-53 * u) break;
    last = done;
  }
  const double P = ay0 / (b2 * u + c2), Q = z1 / u;
  return {ma * std::min(P, 1.0), mb * std::min(Q, 1.0), false};
}

// Along q's direction; normalised first, so that a subnormal q keeps its direction's precision.
Foot circleFoot(double r, double y0, double y1) {
  const double m = std::max(y0, y1);
  if (m == 0.0) return {r, 0.0, false};
  const double u0 = y0 / m, v0 = y1 / m;
  const double n = std::sqrt(u0 * u0 + v0 * v0);
  return {r * (u0 / n), r * (v0 / n), false};
}

// The segment [-ma, ma] thickened to the ellipse: exact on the segment, within mb elsewhere.
Foot needleFoot(double ma, double mb, double y0, double y1) {
  if (y0 >= ma) return {ma, 0.0, false};
  const double r = y0 / ma;
  const double x1 = mb * std::sqrt((1.0 - r) * (1.0 + r));
  return {y0, x1, y1 == 0.0 && x1 > 0.0};
}

// The point whose normal is the direction of (y0, y1), either of which may be infinite.
Foot limitFoot(double ma, double mb, double y0, double y1, bool needle) {
  double u0, v0;
  if (std::isinf(y0) || std::isinf(y1)) {
    u0 = std::isinf(y0) ? 1.0 : 0.0;
    v0 = std::isinf(y1) ? 1.0 : 0.0;
  } else {
    const double m = std::max(y0, y1);
    u0 = y0 / m;
    v0 = y1 / m;
  }
  if (needle) return u0 == 0.0 ? Foot{0.0, mb, false} : Foot{ma, 0.0, false};
  const double A = ma * u0, B = mb * v0;
  const double n = std::hypot(A, B);
  return {ma * (A / n), mb * (B / n), false};
}

// Multiplication by 2^-e and back, e the binary exponent of m: exact, as ldexp, but without
// its call when both powers are normal numbers.
struct Pow2 {
  int e;
  double down = 0.0, up = 0.0;
  explicit Pow2(double m) {
    const int biased = static_cast<int>(std::bit_cast<std::uint64_t>(m) >> 52) & 0x7ff;
    e = biased != 0 ? biased - 1023 : std::ilogb(m);
    if (e > -1022 && e < 1022) {
      down = std::bit_cast<double>(static_cast<std::uint64_t>(1023 - e) << 52);
      up = std::bit_cast<double>(static_cast<std::uint64_t>(1023 + e) << 52);
    }
  }
  double toUnit(double x) const { return up != 0.0 ? x * down : std::ldexp(x, -e); }
  double back(double x) const { return up != 0.0 ? x * up : std::ldexp(x, e); }
};

}  // namespace

int zrkEllipse2::global_closest_point(const giPoint2& q, zrkCurvePointList2& out, int& code) const {
  out.clear();
  if (!std::isfinite(a_) || !std::isfinite(b_) || a_ < 0.0 || b_ < 0.0 || std::isnan(q.x) ||
      std::isnan(q.y)) {
    return code = ZRK_BAD_INPUT;
  }
  // Canonical frame: first coordinate along the major axis, first quadrant.
  const bool tall = b_ > a_;
  const double ma = tall ? b_ : a_, mb = tall ? a_ : b_;
  const double p0 = tall ? q.y : q.x, p1 = tall ? q.x : q.y;
  const double s0 = p0 < 0.0 ? -1.0 : 1.0, s1 = p1 < 0.0 ? -1.0 : 1.0;
  const double y0 = std::fabs(p0), y1 = std::fabs(p1);

  Foot f{0.0, 0.0, false};
  code = ZRK_UNIQUE;
  if (ma == 0.0) {
    if (y0 == 0.0 && y1 == 0.0) code = ZRK_ON_CURVE;
  } else {
    // Scaling by a power of two is exact and puts the major semi-axis in [1, 2).
    const Pow2 scale(ma);
    const double sa = scale.toUnit(ma), sb = scale.toUnit(mb);
    const double z0 = scale.toUnit(y0), z1 = scale.toUnit(y1);  // may overflow to inf
    const bool needle = sb < kFlat;
    if (std::isinf(y0) || std::isinf(y1)) {
      f = limitFoot(sa, sb, y0, y1, needle);
    } else if (needle) {
      f = needleFoot(sa, sb, z0, z1);
    } else if (!(z0 <= kFar && z1 <= kFar)) {
      f = limitFoot(sa, sb, y0, y1, false);
    } else if (sa == sb) {
      f = circleFoot(sa, z0, z1);
      if (z0 == 0.0 && z1 == 0.0) code = ZRK_SEVERAL;  // the centre: every point is as near
    } else {
      f = ellipseFoot(sa, sb, z0, z1);
    }
    const double dx = f.x0 - z0, dy = f.x1 - z1;
    if (dx * dx + dy * dy <= kOnCurve * kOnCurve * sa * sa) {
      code = ZRK_ON_CURVE;
    } else if (f.two) {
      code = ZRK_SEVERAL;
    }
    f.x0 = scale.back(f.x0);
    f.x1 = scale.back(f.x1);
  }

  const auto emit = [&](double x0, double x1) {
    out.append(tall ? giPoint2(x1, x0) : giPoint2(x0, x1));
  };
  emit(s0 * f.x0, s1 * f.x1);
  if (code == ZRK_SEVERAL && f.two) emit(s0 * f.x0, -s1 * f.x1);
  return code;
}

}  // namespace qorv::siblings
