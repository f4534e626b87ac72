// Random lines and segments at every magnitude from 1e-300 to 1e300, far from the origin and in
// random frames, checked against the test's own computation: directions and distances from
// hypot, nearest points by dense sampling refined by golden section (in coordinates divided by
// the magnitude, where nothing overflows), crossings substituted back into the line or plane,
// moved segments against moved points. Fixed seeds; QORV_TEST_SEED=<n> explores others.
#include <gtest/gtest.h>

#include "tests/in_order.h"
#include "tests/test_seed.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>

#include "qorv/curves/lines.h"
#include "qorv/foundation/transfo2d.h"
#include "qorv/foundation/transfo3d.h"

using namespace qorv;

namespace {

using QuickAlgebra::ERVec;
constexpr double kPi = std::numbers::pi;

struct Rng {
  explicit Rng(unsigned seed) : g(seed) {}
  double uni(double a, double b) { return std::uniform_real_distribution<double>(a, b)(g); }
  std::mt19937 g;
};

// The distance from p to the segment [a, b] (unit coordinates) by 4000 samples and golden
// section around the best.
template <class P>
double nearestOnSegment(const P& a, const P& b, const P& p, double& at) {
  auto pt = [&](double u) {
    P q = a;
    for (int i = 0; i < P::kSize; ++i) q.data()[i] = a.data()[i] + u * (b.data()[i] - a.data()[i]);
    return q;
  };
  auto d2 = [&](double u) { return distance2(pt(u), p); };
  constexpr int n = 4000;
  int bestI = 0;
  for (int i = 1; i <= n; ++i)
    if (d2(double(i) / n) < d2(double(bestI) / n)) bestI = i;
  double lo = std::max(0, bestI - 1) / double(n), hi = std::min(n, bestI + 1) / double(n);
  constexpr double g = 0.6180339887498949;
  for (int k = 0; k < 200; ++k) {
    const double x1 = hi - g * (hi - lo), x2 = lo + g * (hi - lo);
    if (d2(x1) < d2(x2))
      hi = x2;
    else
      lo = x1;
  }
  at = 0.5 * (lo + hi);
  return std::sqrt(std::min({d2(at), d2(0), d2(1)}));
}

TEST(LineProperties, PlaneLinesAndSegmentsAtEveryMagnitude) {
  QORV_SEEDED(Rng rng, 1411);
  for (int n = 0; n < 300; ++n) {
    const double k = std::pow(10.0, rng.uni(-300, 300));
    const double off = rng.uni(-1e3, 1e3);
    const ERPoint2D a1(off + rng.uni(-1, 1), off + rng.uni(-1, 1));
    ERPoint2D b1(a1.x() + rng.uni(-1, 1), a1.y() + rng.uni(-1, 1));
    const ERPoint2D p1(a1.x() + rng.uni(-2, 2), a1.y() + rng.uni(-2, 2));
    ERPoint2D a = a1, b = b1, p = p1;
    a *= k, b *= k, p *= k;
    SCOPED_TRACE("magnitude " + std::to_string(k) + " case " + std::to_string(n));

    // The line through a and b: unit direction, origin the foot from the coordinate origin.
    const ERInfLine2D line(a, b);
    const double dx = b1.x() - a1.x(), dy = b1.y() - a1.y(), len = std::hypot(dx, dy);
    // The scaled points carry their rounding: relative 1e-16 of the offset, over the length.
    const double dtol = 1e-15 + 4e-16 * (1 + std::fabs(off)) / len;
    EXPECT_NEAR(line.dirVector().x(), dx / len, dtol);
    EXPECT_NEAR(line.dirVector().y(), dy / len, dtol);
    const ERPoint2D o(line.origine().x() / k, line.origine().y() / k);
    // The direction carries the rounding of the scaled points (relative 1e-16 of the offset
    // over the length), and the foot that times the offset.
    EXPECT_NEAR((o.x() * dx + o.y() * dy) / len, 0.0,
                4e-16 * (1 + std::fabs(off)) * (1 + std::fabs(off)) / len);
    double d = 0;
    line.SignedMinimalDistance(p, d);
    const double cross = (dy * (p1.x() - a1.x()) - dx * (p1.y() - a1.y())) / len;
    EXPECT_TRUE(Near(Seq{d / k, distance(line, p) / k, distance(line.projectPt(p), p) / k},
                     Seq{cross, std::fabs(cross), std::fabs(cross)}, 1e-9));

    // The segment: nearest point, crossings, box, moved.
    const ERSegment2D seg(a, b);
    double u = 0, at = 0;
    seg.SignedMinimalDistance(p, d, u);
    const double truth = nearestOnSegment(a1, b1, p1, at);
    EXPECT_NEAR(std::fabs(d) / k, truth, 1e-9);
    ERPoint2D foot(a1.x() + u * dx, a1.y() + u * dy);
    EXPECT_NEAR(distance(foot, p1), truth, 1e-9);
    const ERMinimax2D box = seg.getBox();
    EXPECT_NEAR(box.xmin() / k, std::fmin(a1.x(), b1.x()), 1e-12 * (1 + std::fabs(off)));
    EXPECT_NEAR(box.ymax() / k, std::fmax(a1.y(), b1.y()), 1e-12 * (1 + std::fabs(off)));

    const double na = rng.uni(-kPi, kPi), t = rng.uni(0, 1);
    const ERVector2D normal(std::cos(na), std::sin(na));
    ERPoint2D on(a1.x() + t * dx, a1.y() + t * dy);
    on *= k;
    ERVec<double> params;
    seg.intersectWith(on, normal * k, params);
    ASSERT_EQ(params.length(), 1);
    const ERPoint2D hit = seg(params[0]);
    EXPECT_NEAR((normal.x() * (hit.x() - on.x()) + normal.y() * (hit.y() - on.y())) / k, 0, 1e-9);

    const double c = rng.uni(0.5, 2) * std::cos(na), s = rng.uni(0.5, 2) * std::sin(na);
    const ERTransfo2D T = n % 2 ? ERTransfo2D(c, -s, s, c, 0, 0) : ERTransfo2D(c, s, s, -c, 0, 0);
    ERSegment2D moved(seg);
    moved.transformFrom(T);
    const ERPoint2D ta = T >> a;
    EXPECT_NEAR(distance(moved.firstPt(), ta) / k, 0, 1e-12 * (1 + std::fabs(off)));
  }
}

TEST(LineProperties, SpaceSegmentsAtEveryMagnitude) {
  QORV_SEEDED(Rng rng, 1412);
  for (int n = 0; n < 300; ++n) {
    const double k = std::pow(10.0, rng.uni(-300, 300));
    const double off = rng.uni(-1e3, 1e3);
    const ERPoint3D a1(off + rng.uni(-1, 1), rng.uni(-1, 1), off + rng.uni(-1, 1));
    const ERPoint3D b1(a1.x() + rng.uni(-1, 1), a1.y() + rng.uni(-1, 1), a1.z() + rng.uni(-1, 1));
    const ERPoint3D p1(a1.x() + rng.uni(-2, 2), a1.y() + rng.uni(-2, 2), a1.z() + rng.uni(-2, 2));
    ERPoint3D a = a1, b = b1, p = p1;
    a *= k, b *= k, p *= k;
    SCOPED_TRACE("magnitude " + std::to_string(k) + " case " + std::to_string(n));

    const ERSegment3D seg(a, b);
    const ERVector3D dir = seg.dirVector();
    const double len = std::hypot(b1.x() - a1.x(), b1.y() - a1.y(), b1.z() - a1.z());
    const double dtol = 1e-15 + 4e-16 * (1 + std::fabs(off)) / len;
    EXPECT_NEAR(dir.x(), (b1.x() - a1.x()) / len, dtol);
    EXPECT_NEAR(dir.z(), (b1.z() - a1.z()) / len, dtol);
    EXPECT_NEAR(seg.arcLength(1e-9) / k, len, 1e-12 * len + 1e-13 * std::fabs(off));
    double d = 0, at = 0;
    seg.SignedMinimalDistance(p, d);
    EXPECT_NEAR(d / k, nearestOnSegment(a1, b1, p1, at), 1e-9);

    const ERInfLine3D line(ERVector3D(a, b), a);
    line.SignedMinimalDistance(p, d);
    const ERVector3D ap(a1, p1), ab(a1, b1);
    EXPECT_NEAR(d / k, (ap ^ ab).norme() / len, 1e-9);

    // The plane through a point of the segment, any normal.
    const double t = rng.uni(0, 1);
    ERPoint3D on(a1.x() + t * ab.x(), a1.y() + t * ab.y(), a1.z() + t * ab.z());
    on *= k;
    ERVector3D normal(rng.uni(-1, 1), rng.uni(-1, 1), rng.uni(-1, 1));
    if (normal.norme() < 0.1) continue;
    ERVec<double> params;
    seg.intersectWith(on, normal * k, params);
    ASSERT_EQ(params.length(), 1);
    EXPECT_NEAR(params[0], t, 1e-6 / std::fmax(1e-3, std::fabs(normal.getnormalized() * ab)));
  }
}

}  // namespace
