#include "qorv/siblings/surface_kernel/ellipse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tests/in_order.h"

using namespace qorv::siblings;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const long double kPiL = 3.141592653589793238462643383279502884L;

struct Answer {
  int code = ZRK_NOT_COMPUTED;
  zrkCurvePointList2 list;
};

Answer closest(double b, double a, double x, double y) {
  Answer r;
  const int returned = zrkEllipse2(b, a).global_closest_point(giPoint2(x, y), r.list, r.code);
  EXPECT_EQ(returned, r.code);
  return r;
}

long double distanceL(long double px, long double py, double qx, double qy) {
  return std::hypot(px - static_cast<long double>(qx), py - static_cast<long double>(qy));
}

// Reference: the ellipse sampled uniformly in the parameter and uniformly in the normal's
// angle (dense at the sharp vertices of a flat ellipse), every sampled local minimum refined
// by bracketed Newton on g(t) = d/dt |P(t) - q|^2 / 2, in long double.
long double referenceDistance(double a, double b, double qx, double qy) {
  const long double A = a, B = b, X = qx, Y = qy;
  const auto g = [&](long double t) {
    return (B * B - A * A) * std::sin(t) * std::cos(t) + A * X * std::sin(t) - B * Y * std::cos(t);
  };
  const auto dg = [&](long double t) {
    return (B * B - A * A) * std::cos(2 * t) + A * X * std::cos(t) + B * Y * std::sin(t);
  };
  const auto dist = [&](long double t) {
    return distanceL(A * std::cos(t), B * std::sin(t), qx, qy);
  };
  constexpr int kSamples = 1024;
  std::vector<long double> ts;
  ts.reserve(2 * kSamples);
  for (int i = 0; i < kSamples; ++i) {
    const long double th = 2 * kPiL * i / kSamples;
    ts.push_back(th);
    long double t = std::atan2(B * std::sin(th), A * std::cos(th));
    if (t < 0) t += 2 * kPiL;
    ts.push_back(t);
  }
  std::sort(ts.begin(), ts.end());
  const int n = static_cast<int>(ts.size());
  std::vector<long double> d(n);
  long double best = kInf;
  for (int i = 0; i < n; ++i) best = std::min(best, d[i] = dist(ts[i]));
  for (int i = 0; i < n; ++i) {
    const int l = (i + n - 1) % n, r = (i + 1) % n;
    if (d[i] > d[l] || d[i] > d[r]) continue;
    long double lo = ts[l], hi = ts[r];
    if (hi < lo) hi += 2 * kPiL;  // wrapped
    if (!(g(lo) <= 0 && g(hi) >= 0)) continue;
    long double t = ts[i] < lo ? ts[i] + 2 * kPiL : ts[i];
    for (int it = 0; it < 200; ++it) {
      const long double gt = g(t);
      if (gt == 0) break;
      (gt < 0 ? lo : hi) = t;
      long double next = t - gt / dg(t);
      if (!(next > lo && next < hi)) next = 0.5L * (lo + hi);
      if (next == t) break;
      t = next;
    }
    best = std::min(best, dist(t));
  }
  return best;
}

// Entry 0 must be a point of the ellipse, and no point of it may be nearer to q.
void expectGlobal(double b, double a, double x, double y) {
  SCOPED_TRACE(testing::Message() << std::hexfloat << "b " << b << " a " << a << " q (" << x << ", "
                                  << y << ")");
  const Answer r = closest(b, a, x, y);
  ASSERT_TRUE(zrk_solution_ok(r.code));
  ASSERT_GE(r.list.size(), 1);
  const giPoint2 p = r.list[0];
  const double u = p.x / a, v = p.y / b;
  EXPECT_NEAR(u * u + v * v, 1.0, 1e-14);
  const long double ours = distanceL(p.x, p.y, x, y);
  const long double ref = referenceDistance(a, b, x, y);
  const long double floor = 4 * DBL_EPSILON * (std::max(a, b) + std::hypot(x, y));
  EXPECT_LE(ours, ref * (1 + 1e-12L) + floor)
      << "ours " << static_cast<double>(ours) << " ref " << static_cast<double>(ref);
  // Several nearest points: mirror images in the major axis, equally near.
  if (r.code == ZRK_SEVERAL && r.list.size() == 2) {
    const giPoint2 m = r.list[1];
    if (a >= b) {
      EXPECT_EQ((Seq{m.x, m.y}), (Seq{p.x, -p.y}));
    } else {
      EXPECT_EQ((Seq{m.x, m.y}), (Seq{-p.x, p.y}));
    }
  }
}

TEST(EllipseClosestPoint, GlobalOnSeededRandomPointsOfEveryKind) {
  constexpr unsigned kSeed = 20240917u;
  SCOPED_TRACE(testing::Message() << "seed " << kSeed);
  std::mt19937_64 rng(kSeed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const auto logUniform = [&](double lo, double hi) {
    return std::exp(std::log(lo) + unit(rng) * (std::log(hi) - std::log(lo)));
  };
  const auto sign = [&] { return unit(rng) < 0.5 ? -1.0 : 1.0; };
  for (int i = 0; i < 4000; ++i) {
    const double big = logUniform(1e-3, 1e3);
    double small = big * (i % 10 == 0 ? 1.0 : logUniform(1e-6, 1.0));
    if (i % 10 == 1) small = big * (1.0 - 1e-15 * (1 + i % 7));  // all but a circle
    const bool tall = unit(rng) < 0.5;
    const double a = tall ? small : big, b = tall ? big : small;
    double x = 0, y = 0;
    switch (i % 8) {
      case 0:
      case 1:  // anywhere near the ellipse
        x = (2 * unit(rng) - 1) * 3 * big;
        y = (2 * unit(rng) - 1) * 3 * big;
        break;
      case 2: {  // near the curve, off along the normal by 1e-12 to 1e-1 of the size
        const double t = 2 * M_PI * unit(rng);
        const double nx = b * std::cos(t), ny = a * std::sin(t), nn = std::hypot(nx, ny);
        const double off = sign() * logUniform(1e-12, 1e-1) * big;
        x = a * std::cos(t) + off * nx / nn;
        y = b * std::sin(t) + off * ny / nn;
        break;
      }
      case 3:  // on an axis
        (unit(rng) < 0.5 ? x : y) = (2 * unit(rng) - 1) * 2 * big;
        break;
      case 4: {  // within a hair of the major axis, mostly inside the evolute
        const double along = (2 * unit(rng) - 1) * big;
        const double across = sign() * logUniform(1e-300, 1e-3) * big;
        x = tall ? across : along;
        y = tall ? along : across;
        break;
      }
      case 5: {  // far away
        const double r = logUniform(1e3, 1e15) * big, t = 2 * M_PI * unit(rng);
        x = r * std::cos(t);
        y = r * std::sin(t);
        break;
      }
      case 6:  // near the centre
        x = sign() * logUniform(1e-12, 1e-3) * big;
        y = sign() * logUniform(1e-12, 1e-3) * big;
        break;
      case 7: {  // inside, at a random fraction of the way to the curve
        const double t = 2 * M_PI * unit(rng), f = unit(rng);
        x = f * a * std::cos(t);
        y = f * b * std::sin(t);
        break;
      }
    }
    expectGlobal(b, a, x, y);
    if (HasFatalFailure() || ::testing::Test::HasFailure()) break;
  }
}

TEST(EllipseClosestPoint, ClosedFormsAtTheCentreOnTheAxesAndFarOff) {
  const double r = 2 * std::sqrt(1 - 0.36), d = std::sqrt(13.0);
  const struct Row {
    double b, a, x, y;
    int code;  // -1: any
    std::vector<giPoint2> feet;
    double tol = 0;  // exact unless the feet are computed
  } rows[] = {
      // The centre: the ends of the minor axis, the positive one first; a circle's: one answer.
      {2, 3, 0, 0, ZRK_SEVERAL, {{0, 2}, {0, -2}}},
      {3, 2, 0, -0.0, ZRK_SEVERAL, {{2, 0}, {-2, 0}}},
      {5, 5, 0, 0, ZRK_SEVERAL, {{5, 0}}},
      // The major axis inside the evolute, |x| < (a^2 - b^2)/a = 5/3: x0 = a^2 x / (a^2 - b^2);
      // a hair off it, the one foot on q's side.
      {2, 3, -1, 0, ZRK_SEVERAL, {{-1.8, r}, {-1.8, -r}}, 1e-15},
      {2, 3, -1, -1e-200, ZRK_UNIQUE, {{-1.8, -r}}, 1e-15},
      // At and past the cusp, and on the curve: the vertex.
      {2, 3, 5.0 / 3.0, 0, ZRK_UNIQUE, {{3, 0}}},
      {2, 3, 2, 0, ZRK_UNIQUE, {{3, 0}}},
      {2, 3, 7, 0, ZRK_UNIQUE, {{3, 0}}},
      {2, 3, -3, 0, ZRK_ON_CURVE, {{-3, 0}}},
      // The minor axis: its end on q's side, unique except at the centre.
      {2, 3, 0, -1e-3, ZRK_UNIQUE, {{0, -2}}},
      {2, 3, 0, 50, -1, {{0, 2}}},
      // Huge and infinite points: the limit; along a diagonal, the foot whose normal is the
      // diagonal, (a^2, b^2)/|(a, b)|.
      {2, 3, kInf, 5, -1, {{3, 0}}},
      {2, 3, DBL_MAX, 0, -1, {{3, 0}}},
      {2, 3, -kInf, -1e300, -1, {{-3, 0}}},
      {2, 3, 7, kInf, -1, {{0, 2}}},
      {2, 3, 0, -DBL_MAX, -1, {{0, -2}}},
      {2, 3, -kInf, kInf, ZRK_UNIQUE, {{-9 / d, 4 / d}}, 1e-15},
      {2, 3, -DBL_MAX, DBL_MAX, ZRK_UNIQUE, {{-9 / d, 4 / d}}, 1e-15},
      {2, 3, -1e200, 1e200, ZRK_UNIQUE, {{-9 / d, 4 / d}}, 1e-15},
      // A zero semi-axis: the segment of the major axis; both zero: the origin.
      {0, 2, 0.5, -3, ZRK_UNIQUE, {{0.5, 0}}},
      {0, 2, -5, 1, -1, {{-2, 0}}},
      {2, 0, 1, 1.5, -1, {{0, 1.5}}},
      {0, 2, 1, 0, ZRK_ON_CURVE, {{1, 0}}},
      {0, 0, 3, 4, ZRK_UNIQUE, {{0, 0}}},
      {0, 0, 0, 0, ZRK_ON_CURVE, {{0, 0}}},
      {1e-200, 1, 0.6, 0, ZRK_ON_CURVE, {{0.6, 0}}, 1e-15},
  };
  for (const Row& w : rows) {
    SCOPED_TRACE(testing::Message()
                 << "b " << w.b << " a " << w.a << " q (" << w.x << ", " << w.y << ")");
    const Answer got = closest(w.b, w.a, w.x, w.y);
    if (w.code != -1) {
      EXPECT_EQ(got.code, w.code);
    }
    ASSERT_EQ(got.list.size(), static_cast<int>(w.feet.size()));
    for (int k = 0; k < got.list.size(); ++k)
      EXPECT_TRUE(Near(Seq{got.list[k].x, got.list[k].y}, Seq{w.feet[k].x, w.feet[k].y}, w.tol));
  }
  // Finite far points agree with the exact root: the limit takes over seamlessly.
  const Answer near = closest(1e-3, 1, 0x1p399 * 0.3, 0x1p399);
  const Answer far = closest(1e-3, 1, 0x1p401 * 0.3, 0x1p401);
  EXPECT_TRUE(Near(Seq{near.list[0].x, near.list[0].y}, Seq{far.list[0].x, far.list[0].y}, 1e-15));
  // Flatter than any double ratio can square: within b of the exact distance.
  const Answer flat = closest(1e-200, 1, 0.6, 1);
  EXPECT_EQ(flat.code, ZRK_UNIQUE);
  EXPECT_NEAR(flat.list[0].x, 0.6, 1e-15);
  EXPECT_NEAR(flat.list[0].y, 0.8e-200, 1e-215);

  // About the evolute's cusp (a^2 - b^2)/a the foot is ill-conditioned, the distance is not.
  for (const auto& [b, a] : {std::pair(2.0, 3.0), std::pair(1e-6, 1.0), std::pair(3.0, 1.5)}) {
    const double cusp = std::fabs(a * a - b * b) / std::max(a, b);
    for (double f : {1.0, 1 - 1e-12, 1 + 1e-12, 1 - 1e-6}) {
      for (double off : {1e-3, -1e-100, 1e-280}) {
        if (a > b) expectGlobal(b, a, f * cusp, off);
        if (b > a) expectGlobal(b, a, off, -f * cusp);
      }
    }
  }
}

TEST(EllipseClosestPoint, PointsOfTheCurveAreOnIt) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> angle(0.0, 2 * M_PI);
  for (double ratio : {1.0, 0.5, 1e-3, 1e-6, 2.0, 1e6}) {
    for (int i = 0; i < 200; ++i) {
      const double t = angle(rng), a = 1.5, b = 1.5 * ratio;
      const double x = a * std::cos(t), y = b * std::sin(t);
      const Answer r = closest(b, a, x, y);
      EXPECT_EQ(r.code, ZRK_ON_CURVE) << ratio << " " << t;
      EXPECT_LE(std::hypot(r.list[0].x - x, r.list[0].y - y), 1e-15 * std::max(a, b));
    }
  }
}

TEST(EllipseClosestPoint, BadInputFails) {
  const std::array<double, 4> bad[] = {{1, 2, kNaN, 0}, {1, 2, 0, kNaN}, {kNaN, 2, 0, 0},
                                       {1, kNaN, 0, 0}, {-1, 2, 0, 0},   {1, -2, 0, 0},
                                       {1, kInf, 0, 0}, {kInf, 1, 0, 0}};
  for (const auto& [b, a, x, y] : bad) {
    zrkCurvePointList2 list;
    list.append(giPoint2(9, 9));
    int code = ZRK_NOT_COMPUTED;
    EXPECT_EQ(zrkEllipse2(b, a).global_closest_point(giPoint2(x, y), list, code), ZRK_BAD_INPUT);
    EXPECT_EQ(code, ZRK_BAD_INPUT);
    EXPECT_EQ((Seq{zrk_solution_ok(code), list.empty()}), (Seq{false, true}));
  }
}

TEST(EllipseClosestPoint, ExactUnderPowerOfTwoScalingMirrorsAndAxisSwap) {
  std::mt19937_64 rng(99);
  std::uniform_real_distribution<double> u(-3.0, 3.0), s(1e-4, 1.0);
  for (int i = 0; i < 500; ++i) {
    const double a = 2.0, b = 2.0 * s(rng), x = u(rng), y = u(rng);
    const giPoint2 p = closest(b, a, x, y).list[0];
    for (int e : {-1000, -37, 1, 600}) {
      const giPoint2 q =
          closest(std::ldexp(b, e), std::ldexp(a, e), std::ldexp(x, e), std::ldexp(y, e)).list[0];
      EXPECT_EQ(q, giPoint2(std::ldexp(p.x, e), std::ldexp(p.y, e))) << i << " " << e;
    }
    EXPECT_EQ(closest(b, a, -x, y).list[0], giPoint2(-p.x, p.y));
    EXPECT_EQ(closest(b, a, x, -y).list[0], giPoint2(p.x, -p.y));
    EXPECT_EQ(closest(a, b, y, x).list[0], giPoint2(p.y, p.x));
  }
}

TEST(EllipseClosestPoint, PointListHoldsFourAndRefusesMore) {
  zrkCurvePointList2 list;
  for (int i = 0; i < zrkCurvePointList2::kCapacity; ++i) EXPECT_TRUE(list.append({1.0 * i, 0}));
  EXPECT_FALSE(list.append({9, 9}));
  EXPECT_EQ((Seq{list.size(), list[3]}), (Seq{zrkCurvePointList2::kCapacity, giPoint2(3, 0)}));
  EXPECT_EQ(std::distance(list.begin(), list.end()), 4);
}

}  // namespace
