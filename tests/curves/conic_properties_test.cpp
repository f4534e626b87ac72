// Random circles, arcs, ellipses and elliptic arcs in random frames (turned, mirrored, far from
// the origin, limits in every turn window, both directions), each operation checked against a
// computation of the test's own: points from the defining formulas, nearest points by dense
// sampling refined by golden section, crossings by sign changes refined by bisection, boxes
// against thousands of curve points, moved curves against moved points.
// Fixed seeds (printed on failure); QORV_TEST_SEED=<n> explores others.
#include <gtest/gtest.h>

#include "tests/in_order.h"
#include "tests/test_seed.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "qorv/curves/circles.h"
#include "qorv/curves/ellipses.h"
#include "qorv/curves/lines.h"
#include "qorv/foundation/transfo2d.h"
#include "qorv/foundation/transfo3d.h"
#include "qorv/foundation/transfo3d_kinds.h"

using namespace qorv;

namespace {

using QuickAlgebra::ERVec;
constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2.0 * kPi;
constexpr int kSamples = 3000;

using qorv_test::seedFor;

struct Rng {
  explicit Rng(unsigned seed) : g(seed) {}
  double uni(double a, double b) { return std::uniform_real_distribution<double>(a, b)(g); }
  double logUni(double lo, double hi) { return std::pow(10.0, uni(lo, hi)); }
  bool coin() { return uni(0, 1) < 0.5; }
  // Angles anywhere in four turns either side, a quarter of them on exact quarter turns.
  double angle() {
    if (uni(0, 1) < 0.25) return std::floor(uni(-16, 16)) * kPi / 2;
    return uni(-4 * kTwoPi, 4 * kTwoPi);
  }
  // A non-zero sweep either way, short of a turn (a whole turn now and then).
  double sweep() {
    const double s = uni(0, 1) < 0.1 ? kTwoPi : uni(0.02, kTwoPi - 0.02);
    return coin() ? s : -s;
  }
  ERPoint2D farPoint2() {
    const double k = logUni(-1, 5);
    return ERPoint2D(uni(-k, k), uni(-k, k));
  }
  ERPoint3D farPoint3() {
    const double k = logUni(-1, 5);
    return ERPoint3D(uni(-k, k), uni(-k, k), uni(-k, k));
  }
  ERVector3D unit3() {
    for (;;) {
      const ERVector3D v(uni(-1, 1), uni(-1, 1), uni(-1, 1));
      if (v.norme() > 0.1) return v.getnormalized();
    }
  }
  ERPmIsometrie3D frame() {
    const ERVector3D x = unit3();
    ERVector3D y = unit3();
    while ((x ^ y).norme() < 0.1) y = unit3();
    return ERChgRepere3D(x, y, farPoint3());
  }
  // k R(a), or k R(a) diag(1, -1), then a far translation.
  ERTransfo2D similitude() {
    const double k = logUni(-1, 1), a = uni(-kPi, kPi), c = k * std::cos(a), s = k * std::sin(a);
    const ERPoint2D t = farPoint2();
    if (coin()) return ERTransfo2D(c, -s, s, c, t.x(), t.y());
    return ERTransfo2D(c, s, s, -c, t.x(), t.y());
  }

  std::mt19937 g;
};

// The scale of the rounding of a curve of size r placed at p.
double roundingOf(double r, double place) { return 1e-9 * r + 1e-13 * place; }
double place2(const ERPoint2D& p) { return std::fabs(p.x()) + std::fabs(p.y()); }
double place3(const ERPoint3D& p) { return std::fabs(p.x()) + std::fabs(p.y()) + std::fabs(p.z()); }

// ---------------------------------------------------------------------------------------------
// The test's own machinery: dense sampling refined, over a parameter range of any curve given as
// a function.

// The least value of f: every local minimum of the samples is refined, since two basins of
// nearly the same depth may swap order between the samples and the truth.
template <class G>
double denseMin(const G& f, double lo, double hi) {
  auto at = [&](int i) { return lo + (hi - lo) * i / kSamples; };
  std::vector<double> v(kSamples + 1);
  for (int i = 0; i <= kSamples; ++i) v[i] = f(at(i));
  double best = std::min(v[0], v[kSamples]);
  for (int i = 0; i <= kSamples; ++i) {
    if ((i > 0 && v[i - 1] < v[i]) || (i < kSamples && v[i + 1] < v[i])) continue;
    double a = at(std::max(0, i - 1)), b = at(std::min(kSamples, i + 1));
    constexpr double g = 0.6180339887498949;
    double x1 = b - g * (b - a), x2 = a + g * (b - a), f1 = f(x1), f2 = f(x2);
    for (int k = 0; k < 200 && b - a > 1e-16 * (1 + std::fabs(a)); ++k) {
      if (f1 < f2) {
        b = x2, x2 = x1, f2 = f1, x1 = b - g * (b - a), f1 = f(x1);
      } else {
        a = x1, x1 = x2, f1 = f2, x2 = a + g * (b - a), f2 = f(x2);
      }
    }
    best = std::min({best, v[i], f1, f2});
  }
  return best;
}

template <class F, class P>
double denseNearest(const F& curve, double lo, double hi, const P& p) {
  return std::sqrt(denseMin([&](double t) { return distance2(curve(t), p); }, lo, hi));
}

// The extreme of one coordinate (sign +1 max, -1 min).
template <class F>
double extreme(const F& curve, double lo, double hi, int axis, double sign) {
  return -sign * denseMin([&](double t) { return -sign * curve(t).data()[axis]; }, lo, hi);
}

// The roots of g on [lo, hi] at its sign changes, refined by bisection.
template <class G>
std::vector<double> signChanges(const G& g, double lo, double hi) {
  std::vector<double> roots;
  double a = lo, ga = g(lo);
  for (int i = 1; i <= kSamples; ++i) {
    const double b = lo + (hi - lo) * i / kSamples, gb = g(b);
    if ((ga < 0) != (gb < 0) && ga != 0 && gb != 0) {
      double x = a, y = b, gx = ga;
      for (int k = 0; k < 200; ++k) {
        const double m = 0.5 * (x + y);
        if (!(x < m && m < y)) break;
        const double gm = g(m);
        if ((gm < 0) == (gx < 0))
          x = m, gx = gm;
        else
          y = m;
      }
      roots.push_back(0.5 * (x + y));
    }
    a = b, ga = gb;
  }
  return roots;
}

// The polyline's length with Richardson's correction from the half-density polyline (chord
// errors go as the square of the step).
template <class F>
double polylineLength(const F& curve, double lo, double hi) {
  double len = 0, half = 0;
  auto prev = curve(lo), prev2 = prev;
  for (int i = 1; i <= kSamples; ++i) {
    const auto q = curve(lo + (hi - lo) * i / kSamples);
    len += distance(prev, q);
    prev = q;
    if (i % 2 == 0) half += distance(prev2, q), prev2 = q;
  }
  return len + (len - half) / 3;
}

template <class Box, class F>
void expectBoxHolds(const Box& box, const F& curve, double lo, double hi, double tol, double) {
  constexpr int dims = Box::kSize / 2;
  for (int k = 0; k < dims; ++k) {
    EXPECT_NEAR(box.data()[k], extreme(curve, lo, hi, k, -1.0), tol) << "min " << k;
    EXPECT_NEAR(box.data()[k + dims], extreme(curve, lo, hi, k, 1.0), tol) << "max " << k;
  }
}

// The crossings a curve reports with a line (plane) against the sign changes of its side.
template <class Side>
void expectCrossings(const ERVec<double>& got, const Side& side, double lo, double hi, double tol,
                     double scale) {
  const double slack = 1e-12 * (std::fabs(lo) + std::fabs(hi) + 10);
  for (int i = 0; i < got.length(); ++i) {
    EXPECT_GE(got[i], lo - slack);
    EXPECT_LE(got[i], hi + slack);
    EXPECT_LE(std::fabs(side(got[i])), tol) << "crossing " << got[i] << " is not on the line";
    if (i > 0) {
      EXPECT_LE(got[i - 1], got[i]);
    }
  }
  for (double r : signChanges(side, lo, hi)) {
    bool found = false;
    // Near a tangency the crossing moves by the rounding over the slope there.
    const double slope = std::fabs(side(r + 1e-6) - side(r - 1e-6)) / 2e-6;
    const double near = 1e-7 + 4 * tol / slope;
    for (int i = 0; i < got.length(); ++i) found = found || std::fabs(got[i] - r) <= near;
    // A crossing within rounding of an end may fall either side of it.
    const bool nearEnd = std::fabs(side(lo)) <= tol * 10 || std::fabs(side(hi)) <= tol * 10;
    EXPECT_TRUE(found || nearEnd) << "missed crossing " << r << " scale " << scale;
  }
}

// The independent point of a central angle on an ellipse of semi-axes a >= b.
ERPoint2D ellipseAtCentral(const ERPoint2D& c, double a, double b, double phi, double theta) {
  const double rho = a * b / std::hypot(b * std::cos(theta), a * std::sin(theta));
  return ERPoint2D(c.x() + rho * std::cos(theta + phi), c.y() + rho * std::sin(theta + phi));
}

// The point of eccentric parameter t, and the parameter of a central angle found by bisection on
// the increasing map t -> central angle (each within a quarter turn of the other).
ERPoint2D ellipseAtParam(const ERPoint2D& c, double a, double b, double phi, double t) {
  const double x = a * std::cos(t), y = b * std::sin(t);
  return ERPoint2D(c.x() + x * std::cos(phi) - y * std::sin(phi),
                   c.y() + x * std::sin(phi) + y * std::cos(phi));
}
double paramOfCentral(double a, double b, double theta) {
  auto central = [&](double t) {
    return t + std::remainder(std::atan2(b * std::sin(t), a * std::cos(t)) - t, kTwoPi);
  };
  double lo = theta - kPi / 2, hi = theta + kPi / 2;
  for (int k = 0; k < 200; ++k) {
    const double m = 0.5 * (lo + hi);
    if (!(lo < m && m < hi)) break;
    (central(m) < theta ? lo : hi) = m;
  }
  return 0.5 * (lo + hi);
}

// Scaled about the global origin by a factor of either sign: the ends scale with it. Returns the
// scaled arc.
template <class Arc>
Arc expectScaledEnds(Rng& rng, const Arc& arc, double tol) {
  const double s = rng.coin() ? rng.uni(0.1, 10) : -rng.uni(0.1, 10);
  Arc scaled(arc);
  scaled.scale(s);
  auto f = arc.firstPt(), l = arc.lastPt();
  f *= s, l *= s;
  EXPECT_LE(distance(scaled.firstPt(), f), tol * 10 * std::fabs(s));
  EXPECT_LE(distance(scaled.lastPt(), l), tol * 10 * std::fabs(s));
  return scaled;
}

// What every plane arc answers alike: crossings with a line through a point of it (any normal,
// any length) and with a vertical line; its ends and length moved by a similitude (direct or
// mirror) and back, and scaled about the origin by a factor of either sign; a split inside, whose
// pieces keep the ends and the direction. `at` gives the point of a parameter of [lo, hi]; the
// tolerances are the rounding of semi-axes a >= b about c, times `slack`.
template <class Arc, class F>
void checkPlaneArcOperations(Rng& rng, const Arc& arc, const F& at, double lo, double hi,
                             const ERPoint2D& c, double a, double b, double slack) {
  const double tol = roundingOf(a, place2(c)) * slack;
  const ERPoint2D on = at(rng.uni(lo, hi));
  const double na = rng.uni(-kPi, kPi);
  const ERVector2D normal(std::cos(na), std::sin(na));
  ERVec<double> cross;
  arc.intersectWith(on, normal * rng.logUni(-3, 3), cross);
  expectCrossings(
      cross, [&](double t) { return ERVector2D(on, at(t)) * normal; }, lo, hi, tol * 10, a);
  ERVec<double> vertical;
  arc.intersectWithAxeY(on.x(), vertical);
  expectCrossings(
      vertical, [&](double t) { return at(t).x() - on.x(); }, lo, hi, tol * 10, a);

  const ERTransfo2D T = rng.similitude();
  Arc moved(arc);
  moved.transformFrom(T);
  const double k = T.factHomo(), ttol = roundingOf(a * k, place2(T >> c)) * slack;
  EXPECT_LE(distance(moved.firstPt(), T >> arc.firstPt()), ttol * 10);
  EXPECT_LE(distance(moved.lastPt(), T >> arc.lastPt()), ttol * 10);
  // A flat ellipse far out keeps its small axis to the rounding of the foci over b^2 / a.
  const double flat = 1e-16 * place2(T >> c) * a / (b * b);
  EXPECT_NEAR(moved.arcLength(1e-9), arc.arcLength(1e-9) * k, (1e-8 + 4 * flat) * a * k);
  const ERLimites mb = moved.getBound();
  const ERPoint2D mid = T >> at(0.5 * (lo + hi));
  EXPECT_LE(denseNearest([&](double t) { return moved(t); }, mb.start(), mb.end(), mid), ttol * 10);
  moved.transformTo(T);
  EXPECT_LE(distance(moved.firstPt(), arc.firstPt()), tol * 100);
  EXPECT_LE(distance(moved.lastPt(), arc.lastPt()), tol * 100);

  EXPECT_EQ(expectScaledEnds(rng, arc, tol).isValid(), 1);

  t_SmartPtr<ERFiniteEntity2DWF> p1, p2;
  const double t = rng.uni(lo, hi);
  arc.splitAt(p1, p2, t);
  EXPECT_LE(distance(p1->firstPt(), arc.firstPt()), tol * 10);
  EXPECT_LE(distance(p1->lastPt(), at(t)), tol * 10);
  EXPECT_LE(distance(p2->firstPt(), at(t)), tol * 10);
  EXPECT_LE(distance(p2->lastPt(), arc.lastPt()), tol * 10);
}

// ---------------------------------------------------------------------------------------------
// Circular arcs in the plane.

// The arc of radius r about c from s to e: its ends, length, box, every foot and nearest point.
void checkPlaneCircleArc(Rng& rng, const ERPoint2D& c, double r, double s, double e) {
  const ERArc2D arc(c, r, s, e);
  const double lo = std::fmin(s, e), hi = std::fmax(s, e), tol = roundingOf(r, place2(c));
  auto at = [&](double t) { return ERPoint2D(c.x() + r * std::cos(t), c.y() + r * std::sin(t)); };
  EXPECT_LE(distance(arc.firstPt(), at(s)), tol);
  EXPECT_LE(distance(arc.lastPt(), at(e)), tol);
  EXPECT_NEAR(arc.arcLength(1e-9), polylineLength(at, lo, hi), 1e-6 * r);
  expectBoxHolds(arc.getBox(), at, lo, hi, tol, 1e-6 * r);

  // Nearest points from anywhere around, inside and outside the circle.
  for (int k = 0; k < 6; ++k) {
    const double rho = r * rng.uni(0.05, 3), w = rng.uni(-kPi, kPi);
    const ERPoint2D p(c.x() + rho * std::cos(w), c.y() + rho * std::sin(w));
    double d = 0, u = 0;
    arc.SignedMinimalDistance(p, d, u);
    EXPECT_NEAR(std::fabs(d), denseNearest(at, lo, hi, p), tol * 10);
    EXPECT_NEAR(distance(arc(u), p), std::fabs(d), tol * 10);
    EXPECT_GE(u, lo - 1e-12 * (1 + std::fabs(lo)));
    EXPECT_LE(u, hi + 1e-12 * (1 + std::fabs(hi)));
    ERVec<double> feet;
    arc.ProjectPoint(p, feet, 1e-9);
    for (int i = 0; i < feet.length(); ++i)
      EXPECT_NEAR(std::fabs(distance(arc(feet[i]), p) - std::fabs(rho - r)), 0, tol * 10);
    // Every foot on the arc is reported.
    const double g = std::atan2(p.y() - c.y(), p.x() - c.x());
    for (double t = g - 10 * kTwoPi; t <= hi; t += kTwoPi) {
      if (t >= lo + 1e-9 && t <= hi - 1e-9) {
        bool found = false;
        for (int i = 0; i < feet.length(); ++i) found = found || std::fabs(feet[i] - t) < 1e-9;
        EXPECT_TRUE(found) << "foot " << t;
      }
    }
  }

  checkPlaneArcOperations(rng, arc, at, lo, hi, c, r, r, 1);
}

// ---------------------------------------------------------------------------------------------
// Elliptic arcs in the plane.

// The circular arc of the larger semi-axis, the elliptic arc and the whole ellipse on each draw.
TEST(ConicProperties, PlaneArcsAgreeWithDirectComputation) {
  QORV_SEEDED(Rng rng, 1402);
  for (int n = 0; n < 150; ++n) {
    const double a = rng.logUni(-2, 3), b = a * rng.uni(0.05, 1.0), phi = rng.uni(-kPi, kPi);
    const ERPoint2D c = rng.farPoint2();
    const double s = rng.angle(), e = s + rng.sweep();
    SCOPED_TRACE("arc " + std::to_string(n) + " a " + std::to_string(a) + " b " +
                 std::to_string(b) + " start " + std::to_string(s) + " end " + std::to_string(e));
    checkPlaneCircleArc(rng, c, a, s, e);
    const ERArcEllipse2D arc(a, b, phi, c, s, e);
    const double tol = roundingOf(a, place2(c)) * 10;
    const double clo = std::fmin(s, e), chi = std::fmax(s, e);
    ASSERT_EQ(arc.isValid(), 1);
    // The ends from their central angles; the arc between them by its eccentric parameter.
    auto byCentral = [&](double th) { return ellipseAtCentral(c, a, b, phi, th); };
    auto byParam = [&](double t) { return ellipseAtParam(c, a, b, phi, t); };
    const double tlo = paramOfCentral(a, b, clo), thi = paramOfCentral(a, b, chi);

    EXPECT_LE(distance(arc.firstPt(), byCentral(s)), tol);
    EXPECT_LE(distance(arc.lastPt(), byCentral(e)), tol);
    const ERVec<ERPoint2D> pts = arc.approxime(7);
    ASSERT_EQ(pts.length(), 7);
    EXPECT_LE(distance(pts[0], byCentral(s)), tol);
    EXPECT_LE(distance(pts[6], byCentral(e)), tol);
    const ERLimites r = arc.getBound();
    EXPECT_NEAR(arc.arcLength(1e-9), polylineLength(byParam, tlo, thi), 2e-8 * a);
    expectBoxHolds(arc.getBox(), byParam, tlo, thi, tol, 0);
    // The parameter window covers exactly the central window.
    EXPECT_LE(distance(arc(r.start()), byCentral(clo)), tol);
    EXPECT_LE(distance(arc(r.end()), byCentral(chi)), tol);

    for (int k = 0; k < 6; ++k) {
      const ERPoint2D p(c.x() + rng.uni(-2, 2) * a, c.y() + rng.uni(-2, 2) * a);
      double d = 0, u = 0;
      arc.SignedMinimalDistance(p, d, u);
      const double truth = denseNearest(byParam, tlo, thi, p);
      EXPECT_NEAR(std::fabs(d), truth, tol * 10 + 1e-9 * a) << "from " << p.x() << ", " << p.y();
      EXPECT_NEAR(distance(arc(u), p), std::fabs(d), tol * 10);
    }

    checkPlaneArcOperations(
        rng, arc, [&](double t) { return arc(t); }, r.start(), r.end(), c, a, b, 10);

    // The whole ellipse: past a whole turn, so that no extreme sits on the sampling's seam.
    const EREllipse2D el(a, b, phi, c);
    expectBoxHolds(el.getBox(), byParam, -1, kTwoPi + 1, tol, 0);
    for (int k = 0; k < 5; ++k) {
      const ERPoint2D p(c.x() + rng.uni(-2, 2) * a, c.y() + rng.uni(-2, 2) * a);
      const ERPoint2D q = el.get_closest(p);
      double onIt = 0, d = 0;
      EREllipse2D(el).SignedMinimalDistance(q, onIt);
      EXPECT_NEAR(onIt, 0, tol) << "closest point off the ellipse";
      EXPECT_NEAR(distance(q, p), denseNearest(byParam, -1, kTwoPi + 1, p), tol * 10);
      EREllipse2D(el).SignedMinimalDistance(p, d);
      EXPECT_NEAR(std::fabs(d), distance(q, p), tol * 10);
    }
  }
}

// Thin elliptic arcs (axis ratios 1e3, 1e6 and between) drawn anywhere and moved by a
// similitude (mirrors and negative factors too), against dense sampling of the moved points:
// points near a vertex either side of the major axis, where the arc's nearest point may be an
// interior foot close to a local maximum of the distance, and points anywhere.
TEST(EllipseProperties, ThinArcsKeepTheirInteriorFoot) {
  QORV_SEEDED(Rng rng, 1404);
  for (int n = 0; n < 90; ++n) {
    const double a = rng.logUni(-2, 3), ratio = n % 3 == 0   ? 1e3
                                                : n % 3 == 1 ? 1e6
                                                             : rng.logUni(1, 6);
    // The foci hold b only to their rounding over b^2 / a: the thinnest arcs sit near the origin.
    const double reach = ratio > 1e4 ? 3 * a : 1e5;
    const ERPoint2D c(rng.uni(-reach, reach), rng.uni(-reach, reach));
    const double s = rng.angle(), e = s + rng.sweep();
    ERArcEllipse2D arc(a, a / ratio, rng.uni(-kPi, kPi), c, s, e);
    if (n % 2) {
      const double k = rng.logUni(-1, 1) * (rng.coin() ? 1 : -1), w = rng.uni(-kPi, kPi);
      const ERPoint2D t(rng.uni(-reach, reach), rng.uni(-reach, reach));
      arc.transformFrom(ERTransfo2D(ERVector2D(t.x(), t.y())) * ERTransfo2D(k, ERPoint2D()) *
                        ERTransfo2D(ERVector2D(std::cos(w), std::sin(w)), ERPoint2D()) *
                        (rng.coin() ? ERTransfo2D(Coord2D::X) : ERTransfo2D()));
    }
    ASSERT_EQ(arc.isValid(), 1);
    // The points of the ellipse the arc holds, from its own axes and centre.
    const double A = arc.getBigAxe() / 2, B = arc.getSmallAxe() / 2;
    const ERPoint2D M = arc.center();
    const ERVector2D X = arc.getBigAxisDirection();
    const double phi = std::atan2(X.y(), X.x());
    auto byParam = [&](double t) { return ellipseAtParam(M, A, B, phi, t); };
    const ERLimites r = arc.getBound();
    const double tol = roundingOf(A, place2(M)) * 10;
    SCOPED_TRACE("arc " + std::to_string(n) + " a " + std::to_string(A) + " ratio " +
                 std::to_string(A / B));
    for (int j = 0; j < 8; ++j) {
      // Local (x, y): towards a vertex (across the evolute's cusp at a - b^2 / a too), just
      // either side of the major axis; or anywhere.
      const double x =
          j < 6 ? (rng.coin() ? 1 : -1) * A * (1 - rng.logUni(-13, -0.3)) : rng.uni(-2, 2) * A;
      const double y = j < 6 ? rng.uni(-0.5, 0.5) * B : rng.uni(-2, 2) * A;
      const ERPoint2D p = M + x * X + y * ERVector2D(-X.y(), X.x());
      double d = 0, u = 0;
      arc.SignedMinimalDistance(p, d, u);
      EXPECT_LE(std::fabs(d), denseNearest(byParam, r.start(), r.end(), p) + tol) << j;
    }
  }
}

// Foci on a coordinate axis and points exactly on the major axis: the foot is exact, the vertex
// outside the evolute, the symmetric pair inside it.
TEST(EllipseProperties, AxisAlignedFociGiveExactFeetOnTheAxis) {
  for (int vertical = 0; vertical < 2; ++vertical)
    for (double x : {7.0, -5.5, 3.0, -3.0, 2.25, 0.5, -1.0}) {
      // a = 4, b = 2 (c^2 = 12) about (3, -2); the evolute's cusps at +-(a^2 - b^2) / a = +-3.
      const ERPoint2D m(3, -2);
      const double f = std::sqrt(12.0);
      const ERVector2D axis = vertical ? ERVector2D(0, 1) : ERVector2D(1, 0);
      const EREllipse2D e(m - f * axis, m + f * axis, 8.0);
      const ERPoint2D p = m + x * axis;
      double t = 0;
      const ERPoint2D q = e.nearest(p, t);
      if (std::fabs(x) >= 3) {
        EXPECT_EQ(q, m + (x > 0 ? 4.0 : -4.0) * axis) << vertical << " " << x;
      } else {
        const double xf = 16 * x / 12, yf = 2 * std::sqrt(1 - xf * xf / 16);
        const ERVector2D across(-axis.y(), axis.x());
        const double off = std::fmin(distance(q, m + xf * axis + yf * across),
                                     distance(q, m + xf * axis - yf * across));
        EXPECT_LE(off, 1e-14) << vertical << " " << x;
      }
    }
}

// ---------------------------------------------------------------------------------------------
// Arcs placed in space, circular and elliptic.

template <class Arc>
void checkSpaceArc(Rng& rng, const Arc& arc, const std::function<ERPoint3D(double)>& byAngle,
                   double clo, double chi, double size, double tol) {
  EXPECT_LE(distance(arc.firstPt(), byAngle(arc.udeb())), tol);
  EXPECT_LE(distance(arc.lastPt(), byAngle(arc.ufin())), tol);
  expectBoxHolds(arc.getBox(), byAngle, clo, chi, tol, 1e-5 * size);
  EXPECT_NEAR(arc.arcLength(1e-9), polylineLength(byAngle, clo, chi), 1e-6 * size);
  const ERLimites r = arc.getBound();

  for (int k = 0; k < 4; ++k) {
    ERPoint3D p = byAngle(rng.uni(clo - 1, chi + 1));
    p += ERVector3D(rng.uni(-1, 1) * size, rng.uni(-1, 1) * size, rng.uni(-1, 1) * size);
    double d = 0;
    arc.SignedMinimalDistance(p, d);
    EXPECT_NEAR(d, denseNearest(byAngle, clo, chi, p), tol * 10);
  }

  const ERPoint3D on = byAngle(rng.uni(clo, chi));
  const ERVector3D normal = rng.unit3();
  ERVec<double> cross;
  arc.intersectWith(on, normal, cross);
  expectCrossings(
      cross, [&](double t) { return ERVector3D(on, arc(t)) * normal; }, r.start(), r.end(),
      tol * 10, size);
  ERVec<double> flat;
  arc.intersectWithPlanZ(on.z(), flat);
  expectCrossings(
      flat, [&](double t) { return arc(t).z() - on.z(); }, r.start(), r.end(), tol * 10, size);

  // Seen in an oblique frame: the same points, the same direction, the same sweep.
  const ERPmIsometrie3D F = rng.frame();
  const t_SmartPtr<EREntity2DWF> seen = arc.get2DEntProjectedOn(F);
  const ERFiniteEntity2DWF* flatArc = ERFiniteEntity2DWF::castdown(seen.get());
  ASSERT_NE(flatArc, nullptr);
  auto dropped = [&](double t) { return (F << byAngle(t)).castToPoint2D(Coord3D::Z); };
  // A projection seen nearly edge-on is a flat ellipse whose central angles carry the rounding
  // magnified by its flatness.
  // An ellipse stored by its foci keeps its small axis b only to the rounding of the foci over
  // b^2 / a, and an end's central angle on a flat one moves along the curve by that much of a.
  const double flatness = std::fabs(arc.normale() * F.getVector(Coord3D::Z));
  double ptol = (tol * 10 + 1e-13 * place3(F.origine())) / std::fmax(flatness, 1e-6);
  if (const ERArcEllipse2D* e = ERArcEllipse2D::castdown(seen.get())) {
    const double a = e->getBigAxe() / 2, b = e->getSmallAxe() / 2;
    ptol += 8 * a * 2.2e-16 * (place2(e->center()) + a) * a / (b * b);
  }
  EXPECT_LE(distance(flatArc->firstPt(), dropped(arc.udeb())), ptol);
  EXPECT_LE(distance(flatArc->lastPt(), dropped(arc.ufin())), ptol);
  const ERLimites fb = flatArc->getBound();
  EXPECT_LE(denseNearest([&](double t) { return (*flatArc)(t); }, fb.start(), fb.end(),
                         dropped(0.5 * (clo + chi))),
            ptol);
  EXPECT_NEAR(flatArc->arcLength(1e-9), polylineLength(dropped, clo, chi),
              1e-5 * size / std::fmax(flatness, 1e-3));

  expectScaledEnds(rng, arc, tol);

  // Moved by a similitude.
  const ERPmSimilitude3D T = ERPmSimilitude3D(_ERScaling3D(rng.logUni(-1, 1))) * rng.frame();
  Arc moved(arc);
  moved.transformFrom(T);
  EXPECT_LE(distance(moved.firstPt(), T >> arc.firstPt()),
            tol * 100 + 1e-12 * place3(moved.firstPt()));
  EXPECT_LE(distance(moved.lastPt(), T >> arc.lastPt()),
            tol * 100 + 1e-12 * place3(moved.lastPt()));
}

// A circular and an elliptic arc over the same angles about the same centre in each frame.
TEST(ConicProperties, SpaceArcsAgreeWithDirectComputation) {
  QORV_SEEDED(Rng rng, 1404);
  for (int n = 0; n < 80; ++n) {
    const ERPmIsometrie3D frame = rng.frame();
    const double a = rng.logUni(-2, 3), b = a * rng.uni(0.1, 1.0), phi = rng.uni(-kPi, kPi);
    const ERPoint2D c(rng.uni(-3, 3) * a, rng.uni(-3, 3) * a);  // away from the frame's origin
    const double s = rng.angle(), e = s + rng.sweep(), lo = std::fmin(s, e), hi = std::fmax(s, e);
    const double tol = roundingOf(a, place3(frame.origine()) + 4 * a) * 10;
    SCOPED_TRACE("space arc " + std::to_string(n) + " start " + std::to_string(s) + " end " +
                 std::to_string(e));
    auto onCircle = [&](double t) {
      return frame >> ERPoint3D(c.x() + a * std::cos(t), c.y() + a * std::sin(t), 0.0);
    };
    checkSpaceArc(rng, ERArc3D(frame, ERCircle2D(c, a), s, e), onCircle, lo, hi, a, tol);
    auto onEllipse = [&](double t) {
      const ERPoint2D q = ellipseAtCentral(c, a, b, phi, t);
      return frame >> ERPoint3D(q.x(), q.y(), 0.0);
    };
    checkSpaceArc(rng, ERArcEllipse3D(frame, EREllipse2D(a, b, phi, c), s, e), onEllipse, lo, hi, a,
                  tol);
  }
}

// ---------------------------------------------------------------------------------------------
// Cases once answered wrongly, with their right numbers.

TEST(ConicCases, ArcCrossingsWithAnyLineNormal) {
  const ERArc2D quarter(ERPoint2D(0, 0), 1, 0, kPi / 2);
  for (const ERVector2D n : {ERVector2D(1, 1), ERVector2D(-1, -1)}) {
    ERVec<double> u;
    ASSERT_EQ(quarter.intersectWith(ERPoint2D(0.6, 0.6), n, u), 2);
    EXPECT_TRUE(Near(Seq{u[0], u[1]}, Seq{0.2277993, 1.3429970}, 1e-7));
  }
}

TEST(ConicCases, SpaceArcSeenObliquelyKeepsItsSweep) {
  const ERArc3D arc(ERPmIsometrie3D(), ERCircle2D(ERPoint2D(), 1), kPi / 2, 9 * kPi / 4);
  const ERPmIsometrie3D tilted = ERChgRepere3D(ERVector3D(0, -1, 1), ERPoint3D());
  const t_SmartPtr<EREntity2DWF> seen = arc.get2DEntProjectedOn(tilted);
  const ERFiniteEntity2DWF* flat = ERFiniteEntity2DWF::castdown(seen.get());
  ASSERT_NE(flat, nullptr);
  EXPECT_NEAR(flat->arcLength(1e-9), 4.65, 0.01);
  EXPECT_TRUE(isEqual(flat->lastPt(), (tilted << arc.lastPt()).castToPoint2D(Coord3D::Z), 1e-12));
}

TEST(ConicCases, EllipticArcEndsAtItsCentralAngles) {
  const ERArcEllipse2D arc(3, 1, 0, ERPoint2D(), kPi / 6, kPi / 3);
  const ERPoint2D f = arc.firstPt(), l = arc.lastPt();
  EXPECT_NEAR(std::atan2(f.y(), f.x()), kPi / 6, 1e-15);
  EXPECT_NEAR(std::atan2(l.y(), l.x()), kPi / 3, 1e-15);
  const ERArcEllipse3D lifted(ERPmIsometrie3D(), arc.ellipse(), kPi / 6, kPi / 3);
  EXPECT_NEAR(std::atan2(lifted.firstPt().y(), lifted.firstPt().x()), kPi / 6, 1e-15);
  // Windows that cross 2pi or start a hair below 0 keep their sweep.
  EXPECT_NEAR(ERArcEllipse2D(3, 1, 0, ERPoint2D(), 7 * kPi / 4, 9 * kPi / 4).arcLength(1e-9),
              2 * ERArcEllipse2D(3, 1, 0, ERPoint2D(), 0, kPi / 4).arcLength(1e-9), 1e-12);
  const ERArc2D tiny(ERPoint2D(), 1, -1e-20, 0.617);
  EXPECT_NEAR(tiny.arcLength(1e-9), 0.617, 1e-15);
  const ERArcEllipse2D tinyEl(1, 1 - 1e-12, 0, ERPoint2D(), -1e-20, 0.617);
  EXPECT_NEAR(tinyEl.arcLength(1e-9), 0.617, 1e-9);
}

TEST(ConicCases, SpaceScalingAboutAnOffCentreCircle) {
  ERCircle3D c(ERPmIsometrie3D(), ERCircle2D(ERPoint2D(4, 0), 1));
  c.scale(2);
  EXPECT_TRUE(isEqual(c.center(), ERPoint3D(8, 0, 0), 1e-15));
  EXPECT_EQ(c.radius(), 2.0);
  ERArc3D a(ERPmIsometrie3D(), ERCircle2D(ERPoint2D(4, 0), 1), 0, 1);
  a.scale(2);
  EXPECT_TRUE(isEqual(a.center(), ERPoint3D(8, 0, 0), 1e-15));
}

TEST(ConicCases, LimitsBelowMinusPi) {
  const ERArc2D arc(ERPoint2D(), 1, -3 * kPi / 2, -kPi / 2);
  ERVec<double> u;
  EXPECT_EQ(arc.ProjectPoint(ERPoint2D(-2, 0), u, 0), 1);
  EXPECT_NEAR(u[0], -kPi, 1e-15);
  ERVec<double> v;
  EXPECT_EQ(arc.intersectWithAxeY(-0.5, v), 2);
  EXPECT_TRUE(Near(Seq{v[0], v[1]}, Seq{-4 * kPi / 3, -2 * kPi / 3}, 1e-15));
}

TEST(ConicCases, MirrorsKeepPlaneArcs) {
  const ERTransfo2D mirror(Coord2D::X);  // y -> -y
  ERArc2D arc(ERPoint2D(1, 1), 1, 0, kPi / 2);
  arc.transformFrom(mirror);
  EXPECT_TRUE(isEqual(arc.firstPt(), ERPoint2D(2, -1), 1e-15));
  EXPECT_TRUE(isEqual(arc.lastPt(), ERPoint2D(1, -2), 1e-15));
  ERArcEllipse2D el(2, 1, 0.3, ERPoint2D(1, 1), 0.2, 1.1);
  const ERPoint2D f = mirror >> el.firstPt(), l = mirror >> el.lastPt();
  el.transformFrom(mirror);
  EXPECT_TRUE(isEqual(el.firstPt(), f, 1e-14));
  EXPECT_TRUE(isEqual(el.lastPt(), l, 1e-14));
}

TEST(ConicCases, EllipseBoxClosestPointAndReversedSplit) {
  const EREllipse2D e(3, 1, kPi / 4, ERPoint2D(10, 0));
  const double h = std::sqrt(5.0);
  const ERMinimax2D b = e.getBox();
  EXPECT_TRUE(Near(Seq{b.xmin(), b.ymax()}, Seq{10 - h, h}, 1e-14));
  EXPECT_NEAR(distance(e.get_closest(ERPoint2D(10, 0)), ERPoint2D(10, 0)), 1.0, 1e-14);
  const ERArcEllipse2D reversed(3, 1, 0, ERPoint2D(), 2.0, 0.5);
  t_SmartPtr<ERFiniteEntity2DWF> a, c;
  const ERLimites rb = reversed.getBound();
  reversed.splitAt(a, c, 0.5 * (rb.start() + rb.end()));
  EXPECT_GT(a->udeb(), a->ufin());
  EXPECT_GT(c->udeb(), c->ufin());
  EXPECT_TRUE(isEqual(a->firstPt(), reversed.firstPt(), 1e-15));
  EXPECT_TRUE(isEqual(c->lastPt(), reversed.lastPt(), 1e-15));
}

// Each coordinate, size and limit of lines, segments, circles, ellipses and their arcs, in the
// plane and in space, made NaN (either sign) or infinite in turn: isValid() says 0 and the print
// form never shows "-nan". The same objects with every value finite say 1.
TEST(ConicCases, EveryNonFiniteValueIsInvalid) {
  const double nan = std::nan("");
  const double inf = HUGE_VAL;
  for (double b : {0.0, nan, -nan, inf, -inf}) {
    for (int k = 0; k < 8; ++k) {
      // Centre x, y, z, normal x, y, z, size, start angle.
      double c[8] = {0.3, -0.2, 0.1, 0.6, 0.8, 0.0, 2.0, 0.5};
      c[k] = b == 0.0 ? c[k] : b;
      const int expected = b == 0.0 ? 1 : 0;
      const ERPoint3D o(c[0], c[1], c[2]);
      const ERVector3D n(c[3], c[4], c[5]);
      const ERPoint2D o2(c[0], c[1]), q2(c[3], c[4]);
      const EREllipse2D e2(ERPoint2D(-1, 0), ERPoint2D(c[0], c[1]), 3 * c[6]);
      const ERPmIsometrie3D F = ERChgRepere3D(n, o);
      struct Case {
        const ERObject* object;
        unsigned slots;  // the values it is made of
      };
      const ERSegment2D seg2(o2, q2);
      const ERInfLine2D line2(ERVector2D(c[3], c[4]), o2);
      const ERSegment3D seg3(o, o + n);
      const ERInfLine3D line3(n, o);
      const ERCircle2D circle2(o2, c[6]);
      const ERArc2D arc2(o2, c[6], c[7], 2);
      const ERArcEllipse2D earc2(e2, c[7], 2);
      const ERCircle3D circle3(o, n, c[6]);
      const ERArc3D arc3(o, n, c[6], c[7], 2);
      const EREllipse3D ellipse3(F, e2);
      const ERArcEllipse3D earc3(F, e2, c[7], 2);
      const Case cases[] = {{&seg2, 0x1b},    {&line2, 0x1b}, {&seg3, 0x3f},     {&line3, 0x3f},
                            {&circle2, 0x43}, {&arc2, 0xc3},  {&e2, 0x43},       {&earc2, 0xc3},
                            {&circle3, 0x7f}, {&arc3, 0xff},  {&ellipse3, 0x7f}, {&earc3, 0xff}};
      for (const Case& t : cases) {
        if (!(t.slots >> k & 1)) continue;
        SCOPED_TRACE(std::string(t.object->className()) + " value " + std::to_string(k));
        EXPECT_EQ(t.object->isValid(), expected) << b;
        std::ostringstream os;
        t.object->printOn(os);
        EXPECT_EQ(os.str().find("-nan"), std::string::npos) << os.str();
      }
    }
  }
  // Finite but not a curve: a negative radius, a zero axis; a zero radius is a point-like circle.
  EXPECT_EQ((Seq{ERCircle2D(ERPoint2D(), -1).isValid(), ERCircle2D(ERPoint2D(), 0).isValid(),
                 ERCircle3D(ERPmIsometrie3D(), -2.0).isValid(), EREllipse2D().isValid()}),
            (Seq{0, 1, 0, 0}));
  const EREllipse2D across(1, 2, 0, ERPoint2D());  // the larger semi-axis across the angle
  EXPECT_EQ(across.isValid(), 1);
  EXPECT_DOUBLE_EQ(across.getBigAxe(), 4.0);
  EXPECT_DOUBLE_EQ(across.getSmallAxe(), 2.0);
  EXPECT_NEAR(across.getAngle(), kPi / 2, 1e-15);
}

TEST(ConicCases, NearestPointOfAnEllipticArcIsGlobal) {
  const ERArcEllipse2D arc(ERPoint2D(-0.75, 0), ERPoint2D(0.75, 0), 2.5, -2.5, -0.5);
  double d = 0, u = 0;
  arc.SignedMinimalDistance(ERPoint2D(0, 0), d, u);
  EXPECT_NEAR(std::fabs(d), 1.0, 1e-12);
  const ERArcEllipse3D lifted(ERChgRepere3D(ERVector3D(0, 0, 1), ERPoint3D(5, 5, 5)), arc.ellipse(),
                              -2.5, -0.5);
  lifted.SignedMinimalDistance(ERPoint3D(5, 5, 7), d);
  EXPECT_NEAR(d, std::sqrt(5.0), 1e-12);
  const t_SmartPtr<EREntity2DWF> seen = lifted.get2DEntProjectedOn(ERPmIsometrie3D());
  ASSERT_NE(ERArcEllipse2D::castdown(seen.get()), nullptr);
  EXPECT_NEAR(ERArcEllipse2D::castdown(seen.get())->arcLength(1e-9), arc.arcLength(1e-9), 1e-12);
}

TEST(ConicCases, EllipseFromConicCoefficientsAndPoints) {
  // (x - 1e4)^2 / 82.32^2 + (y + 2e4)^2 / 40^2 = 1, expanded.
  const double a = 82.32, b = 40, cx = 1e4, cy = -2e4;
  const double A = 1 / (a * a), C = 1 / (b * b);
  const EREllipse2D far(A, 0, C, -2 * A * cx, -2 * C * cy, A * cx * cx + C * cy * cy - 1);
  EXPECT_TRUE(Near(Seq{far.getBigAxe(), far.getSmallAxe()}, Seq{2 * a, 2 * b}, 1e-6));
  EXPECT_NEAR(far.center().x(), cx, 1e-8);
  for (double k : {1e-200, 1e200}) {
    const EREllipse2D scaled(k / 9, 0, k / 4, 0, 0, -k);
    EXPECT_TRUE(Near(Seq{scaled.getBigAxe(), scaled.getSmallAxe()}, Seq{6, 4}, 1e-13)) << k;
  }
  // No real point, a hyperbola, collinear points: invalid, the default ellipse.
  const EREllipse2D none[] = {
      EREllipse2D(1, 0, 1, 0, 0, 1), EREllipse2D(1, 0, -1, 0, 0, -1),
      EREllipse2D(ERPoint2D(0, 0), ERPoint2D(1, 1), ERPoint2D(2, 2), ERPoint2D(3, 3),
                  ERPoint2D(4, 4)),
      EREllipse2D(ERPoint2D(0.1, 0.3), ERPoint2D(1.1, 3.3), ERPoint2D(2.1, 6.3),
                  ERPoint2D(3.1, 9.3), ERPoint2D(7.1, 21.3))};
  for (const EREllipse2D& e : none)
    EXPECT_EQ((Seq{e.isValid(), e.getBigAxe()}), (Seq{0, 0.0})) << &e - none;
}

// Non-finite and absurd input: every operation answers (NaN, nothing, the documented result)
// without hanging or reading out of bounds.
TEST(ConicCases, BadInputNeverHangs) {
  const double nan = std::nan(""), inf = INFINITY;
  for (double bad : {nan, inf, -inf, 1e300, -1e300}) {
    SCOPED_TRACE(bad);
    const ERArc2D arcs[] = {ERArc2D(ERPoint2D(bad, 0), 1, 0, 1), ERArc2D(ERPoint2D(), bad, 0, 1),
                            ERArc2D(ERPoint2D(), 1, bad, 1), ERArc2D(ERPoint2D(), 1, 0, bad)};
    for (const ERArc2D& a : arcs) {
      ERVec<double> v;
      a.intersectWith(ERPoint2D(0.5, 0.5), ERVector2D(1, 1), v);
      a.intersectWithAxeY(0.5, v);
      a.ProjectPoint(ERPoint2D(2, 2), v, 0);
      double d = 0, u = 0;
      a.SignedMinimalDistance(ERPoint2D(2, bad), d, u);
      a.getBox();
      EXPECT_LE(v.length(), 24);
    }
    const ERArcEllipse2D els[] = {ERArcEllipse2D(3, 1, bad, ERPoint2D(), 0, 1),
                                  ERArcEllipse2D(bad, 1, 0, ERPoint2D(), 0, 1),
                                  ERArcEllipse2D(3, 1, 0, ERPoint2D(), bad, 1),
                                  ERArcEllipse2D(3, 1, 0, ERPoint2D(bad, 1), 0, 1)};
    for (const ERArcEllipse2D& e : els) {
      ERVec<double> v;
      e.intersectWith(ERPoint2D(0.5, 0.5), ERVector2D(1, 1), v);
      e.intersectWithAxeY(0.5, v);
      double d = 0, u = 0;
      e.SignedMinimalDistance(ERPoint2D(2, 2), d, u);
      e.SignedMinimalDistance(ERPoint2D(bad, 2), d, u);
      e.getBox();
      e.approxime(5);
      e.firstPt();
      EXPECT_LE(v.length(), 16);
    }
    const EREllipse2D conic(bad, 0, 1, 0, 0, -1);
    EXPECT_EQ(conic.isValid(), std::isfinite(bad) && bad > 0 ? 1 : 0);  // 1e300 x^2 + y^2 = 1
    const ERArcEllipse3D space(ERPmIsometrie3D(), EREllipse2D(3, 1, 0, ERPoint2D()), 0, bad);
    double d = 0;
    space.SignedMinimalDistance(ERPoint3D(1, bad, 2), d);
    space.get2DEntProjectedOn(ERChgRepere3D(ERVector3D(0, 1, 1), ERPoint3D()));
  }
}

// ---------------------------------------------------------------------------------------------
// Draws spread over the whole range.

TEST(CurveProperties, RandomPointsSpreadUniformly) {
  const unsigned seed = seedFor(1406);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::srand(seed);
  const ERArc2D arc(ERPoint2D(1, 2), 3, 5.0, 1.0);  // reversed
  const ERArcEllipse2D el(3, 1, 0.4, ERPoint2D(), kPi / 6, kPi / 3);
  constexpr int kBins = 10, kDraws = 20000;
  int bins[kBins] = {};
  int elBins[kBins] = {};
  const ERLimites er = el.getBound();
  for (int i = 0; i < kDraws; ++i) {
    const double u = arc.randomPoint().parameter();
    ASSERT_GE(u, 1.0);
    ASSERT_LE(u, 5.0);
    ++bins[std::min(kBins - 1, static_cast<int>((u - 1.0) / 4.0 * kBins))];
    const double t = el.randomPoint().parameter();
    ASSERT_GE(t, er.start());
    ASSERT_LE(t, er.end());
    ++elBins[std::min(kBins - 1, static_cast<int>((t - er.start()) / er.amplitude() * kBins))];
  }
  for (int b = 0; b < kBins; ++b) {
    EXPECT_NEAR(bins[b], kDraws / kBins, kDraws / kBins / 5) << "bin " << b;
    EXPECT_NEAR(elBins[b], kDraws / kBins, kDraws / kBins / 5) << "bin " << b;
  }
}

}  // namespace
