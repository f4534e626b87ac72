#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "qorv/foundation/transfo3d_kinds.h"
#include "qorv/surfaces/analytic_surfaces.h"
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/surfaces/surface_draws.h"
#include "tests/test_seed.h"

using namespace qorv;

namespace {

using qorv_test::doubles, qorv_test::Draw, qorv_test::Frame, qorv_test::imageOf, qorv_test::maxAbs;
using qorv_test::printed, qorv_test::restoreFrom;

constexpr double kDeg = M_PI / 180.0;

void expectNear(const ERPoint3D& p, double x, double y, double z, double tol = 1e-14) {
  EXPECT_TRUE(Near(Seq{p.x(), p.y(), p.z()}, Seq{x, y, z}, tol));
}
void expectNear(const ERVector3D& v, double x, double y, double z, double tol = 1e-14) {
  expectNear(ERPoint3D(v), x, y, z, tol);
}

// ---------------------------------------------------------------------------------------------
TEST(Cone, AxisApexAndTheNormalsSense) {
  const double a = 30 * kDeg;
  const ERCone cone(ERPoint3D(0, 0, 0), ERVector3D(0, 0, 2), a);
  EXPECT_EQ(cone.direction().z(), 1);
  ERPoint3D foot(9, 9, 9);
  ERVector3D normal(9, 9, 9);
  // On the axis ahead of and behind the apex, and the apex: no foot, the same distance.
  for (double t : {5.0, -5.0, 0.0}) {
    EXPECT_EQ(cone.ProjectionNormale(ERPoint3D(0, 0, t), foot, normal), 0);
    double dist = 1;
    EXPECT_EQ(cone.SignedMinimalDistance(ERPoint3D(0, 0, t), dist), EREntity::DISTMIN_NORMAL);
    EXPECT_NEAR(dist, -std::fabs(t) * std::sin(a), 1e-15);
  }
  EXPECT_EQ((Seq{foot.x(), normal.x()}), (Seq{9, 9}));
  // The axis test is an angle: 0.5e-11 rad off fails, 2e-11 rad off projects, at any distance.
  for (double far : {1e-200, 1.0, 1e200}) {
    const ERPoint3D inside(far * std::sin(0.5e-11), 0, far * std::cos(0.5e-11));
    EXPECT_EQ(cone.ProjectionNormale(inside, foot, normal), 0) << far;
    const ERPoint3D outside(far * std::sin(2e-11), 0, far * std::cos(2e-11));
    ASSERT_EQ(cone.ProjectionNormale(outside, foot, normal), 1) << far;
    EXPECT_NEAR(foot.x() / foot.z(), std::tan(a), 1e-15);
  }
  // reverse() turns the direction only: the nappe on P's side is measured either way.
  ERCone reversed(cone);
  reversed.reverse();
  EXPECT_EQ(reversed.direction().z(), -1);
  ERPoint3D foot2;
  ERVector3D normal2;
  ASSERT_EQ(cone.ProjectionNormale(ERPoint3D(0, -5, -1), foot, normal), 1);
  ASSERT_EQ(reversed.ProjectionNormale(ERPoint3D(0, -5, -1), foot2, normal2), 1);
  EXPECT_EQ(distance(foot, foot2), 0);
  EXPECT_NEAR((normal - normal2).norme(), 0, 1e-15);
}

TEST(Cone, HalfAnglesOutsideTheFirstQuadrantAndBadInput) {
  // Half-angles beyond the first quadrant are drawn by the property test below.
  const ERPoint3D p(3, 4, -2);
  const ERVector3D dir(0, 0, 1);
  // Half-angle 0 is the axis line, pi/2 the plane through the apex.
  ERPoint3D foot;
  ERVector3D normal;
  ASSERT_EQ(ERCone::ProjectionNormaleCone(dir, ERPoint3D(), 0, p, foot, normal), 1);
  expectNear(foot, 0, 0, -2);
  expectNear(normal, -0.6, -0.8, 0);
  ASSERT_EQ(ERCone::ProjectionNormaleCone(dir, ERPoint3D(), M_PI / 2, p, foot, normal), 1);
  expectNear(foot, 3, 4, 0);
  double dist = 0;
  ERCone::SignedMinimalDistanceCone(p, ERPoint3D(), dir, M_PI / 2, dist);
  EXPECT_NEAR(dist, -2, 1e-15);
  // Bad input writes nothing and never traps.
  foot = ERPoint3D(9, 9, 9);
  const double nan = std::nan("");
  EXPECT_EQ(ERCone::ProjectionNormaleCone(ERVector3D(), ERPoint3D(), 0.5, p, foot, normal), 0);
  EXPECT_EQ(ERCone::ProjectionNormaleCone(dir, ERPoint3D(), nan, p, foot, normal), 0);
  EXPECT_EQ(ERCone::ProjectionNormaleCone(dir, ERPoint3D(0, nan, 0), 0.5, p, foot, normal), 0);
  EXPECT_EQ(
      ERCone::ProjectionNormaleCone(dir, ERPoint3D(), 0.5, ERPoint3D(INFINITY, 0, 0), foot, normal),
      0);
  EXPECT_EQ(ERCone().ProjectionNormale(p, foot, normal), 0);  // the default cone has no axis
  EXPECT_EQ(foot.x(), 9);
  EXPECT_EQ(ERCone().SignedMinimalDistance(p, dist), EREntity::DISTMIN_NORMAL);
  EXPECT_NEAR(dist, std::sqrt(29.0), 1e-14);  // the distance to the apex
  // Far-off points whose difference overflows.
  const ERCone far(ERPoint3D(-1.5e308, 0, 0), ERVector3D(1, 0, 0), M_PI / 4);
  ASSERT_EQ(far.ProjectionNormale(ERPoint3D(1.5e308, 0.5e308, 0), foot, normal), 1);
  EXPECT_TRUE(Near(Seq{foot.x() / 1e308, foot.y() / 1e308}, Seq{0.25, 1.75}, 1e-14));
  EXPECT_EQ(far.SignedMinimalDistance(ERPoint3D(1.5e308, 0.5e308, 0), dist),
            EREntity::DISTMIN_NORMAL);
  EXPECT_NEAR(dist / 1e308, (0.5 - 3.0) * std::sqrt(0.5), 1e-14);
}

TEST(Cone, AccessorsMovesPrintFormAndStoredImage) {
  ERCone c(ERPoint3D(1, 2, 3), ERVector3D(0, 0, 4), 30 * kDeg);
  ERPoint3D a, b;
  double x = 7, y = 7, z = 7;
  EXPECT_EQ((Seq{c.project(ERPoint3D(), a, b, x, y, z), x}), (Seq{1, 7}));
  // The offset cone lies e outside: distances drop by e on the side of P.
  const ERPoint3D p(9, 1, 4);
  double d0 = 0, d1 = 0;
  c.SignedMinimalDistance(p, d0);
  const ERCone o = c.getOffset(0.5);
  EXPECT_NEAR(o.sommet().z(), 3 - 0.5 / std::sin(30 * kDeg), 1e-15);
  o.SignedMinimalDistance(p, d1);
  EXPECT_NEAR(d1, d0 - 0.5, 1e-14);
  ERCone line(ERPoint3D(1, 2, 3), ERVector3D(0, 0, 1), 0);
  EXPECT_EQ(imageOf(line.getOffset(2)), imageOf(line));
  line.offset(2);
  EXPECT_EQ(line.sommet().z(), 3);

  const std::string text = "Cone     :   Sommet     =" + printed(ERPoint3D(1, 2, 3)) + "\n" +
                           "         :   Axe        =" + printed(ERVector3D(0, 0, 1)) + "\n" +
                           "         :  1/2Angle    =30\n";
  ERCone printedCone(ERPoint3D(1, 2, 3), ERVector3D(0, 0, 1), 30 * 0.017453292519943295);
  EXPECT_EQ(printed(printedCone), text);
  // Stored: direction, apex, half-angle.
  EXPECT_EQ(imageOf(c), doubles({0, 0, 1, 1, 2, 3, 30 * kDeg}));
  EXPECT_EQ(c.binaryStoreSize(), imageOf(c).size());
  ERCone r;
  restoreFrom(r, doubles({0, 1, 0, 4, 5, 6, 0.25}));
  EXPECT_EQ(imageOf(r), doubles({0, 1, 0, 4, 5, 6, 0.25}));
  restoreFrom(r, doubles({1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(imageOf(r), doubles({0, 1, 0, 4, 5, 6, 0.25}));

  c.scale(2), c.translate(ERPoint3D(1, 1, 1)), c.reverse();
  EXPECT_EQ(imageOf(c),
            doubles({-0.0, -0.0, -1, 3, 5, 7, 30 * kDeg}));  // reverse negates zeros too
  c.offset(1);
  EXPECT_NEAR(c.sommet().z(), 9, 1e-14);  // back along the reversed direction
  const ERPmSimilitude3D k3{_ERScaling3D(3)};
  c.transformFrom(k3);
  EXPECT_NEAR(c.sommet().x(), 9, 1e-14);
  EXPECT_EQ(c.direction().z(), -1);  // still unit
  c.transformTo(k3);
  EXPECT_NEAR(c.sommet().x(), 3, 1e-14);
  EXPECT_EQ(c.demiAngle(), 30 * kDeg);
}

// The nearest point of the double cone worked out in the meridian plane of P: the nearest of
// the four generator rays (+-sin a, +-cos a) from the apex, in (radial, axial) coordinates.
struct ConeFoot {
  double radial, axial, dist, margin;  // margin: how much farther the runner-up ray is
};
ConeFoot nearestOnRays(double rho, double z, double a) {
  double best = INFINITY, second = INFINITY;
  ConeFoot f{};
  for (double sr : {1.0, -1.0})
    for (double sz : {1.0, -1.0}) {
      const double ux = sr * std::sin(a), uz = sz * std::cos(a);
      const double s = std::max(0.0, rho * ux + z * uz);
      const double d = std::hypot(rho - s * ux, z - s * uz);
      if (d < best) {
        second = best, best = d;
        f.radial = s * ux, f.axial = s * uz;
      } else if (d < second) {
        second = d;
      }
    }
  f.dist = best;
  f.margin = second - best;
  return f;
}

// Cones about the Z axis of random tilted, mirrored, far-off frames, both orientations, half-
// angles in every window: the foot against the nearest generator ray, on the cone, P - foot
// along the normal, no sampled point of either nappe nearer.
TEST(Cone, ProjectionAgainstTheNearestGenerator) {
  QORV_SEEDED(Draw draw, 1904);
  for (int i = 0; i < 4000; ++i) {
    const double s = draw.magnitude();
    const Frame F = draw.placed(s);
    const double a0 = draw.uniform(0.02, M_PI / 2 - 0.02);
    const double windows[] = {a0, -a0, M_PI - a0, a0 + M_PI};
    const double alpha = i % 5 < 2 ? a0 : windows[draw.integer(0, 3)];
    const bool flip = i % 2;
    ERCone cone(F(ERPoint3D()), F(ERVector3D(0, 0, flip ? -1.0 : 1.0)), alpha);
    // P at an angle from the axis between 0.01 rad and pi - 0.01 rad.
    const double phi = draw.uniform(0.01, M_PI - 0.01), theta = draw.uniform(-M_PI, M_PI);
    const double h = s * draw.uniform(0.01, 3);
    const double rho = h * std::sin(phi), z = h * std::cos(phi);
    const ERPoint3D p = F(ERPoint3D(rho * std::cos(theta), rho * std::sin(theta), z));
    const ConeFoot ref = nearestOnRays(rho, z, alpha);
    const ERPoint3D expected =
        F(ERPoint3D(ref.radial * std::cos(theta), ref.radial * std::sin(theta), ref.axial));
    const double tol = 1e-12 * std::max(maxAbs(p), maxAbs(F.origin()));
    ERPoint3D foot;
    ERVector3D normal;
    ASSERT_EQ(cone.ProjectionNormale(p, foot, normal), 1) << i;
    EXPECT_NEAR(distance(p, foot), ref.dist, tol) << i;
    if (ref.margin > 1e-6 * h) {
      EXPECT_LE(distance(foot, expected), 2 * tol) << i;
    }
    // On the cone: the angle between foot - apex and the axis is a (or pi - a).
    const ERVector3D fa = foot - cone.sommet();
    const double ca = std::fabs(std::cos(alpha));
    EXPECT_NEAR(std::fabs(fa * cone.direction()), ca * fa.norme(), tol) << i;
    EXPECT_NEAR(normal.norme(), 1.0, 1e-15);
    EXPECT_LE(((p - foot) ^ normal).norme(), tol) << i;
    // The normal points to the axis: against the foot's radial direction.
    const ERVector3D radial = fa - cone.direction() * (fa * cone.direction());
    if (radial.norme() > 1e-6 * h) {
      EXPECT_LT(normal * radial, 0) << i;
    }
    double dist = 0;
    EXPECT_EQ(cone.SignedMinimalDistance(p, dist), EREntity::DISTMIN_NORMAL);
    const bool outside = rho * ca > std::fabs(z) * std::fabs(std::sin(alpha));
    EXPECT_NEAR(dist, outside ? ref.dist : -ref.dist, tol) << i;
    EXPECT_NEAR((p - foot) * normal, -dist, tol) << i;
    // No point of the cone nearer: around the foot, and anywhere on both nappes.
    const double best = distance(p, foot);
    for (int k = 0; k < 24; ++k) {
      const double t = k < 12 ? ref.axial + draw.uniform(-0.5, 0.5) * h : draw.uniform(-3, 3) * h;
      const double f = k < 12 ? theta + draw.uniform(-0.3, 0.3) : draw.uniform(-M_PI, M_PI);
      const double r = std::fabs(t * std::tan(alpha));
      const ERPoint3D q = F(ERPoint3D(r * std::cos(f), r * std::sin(f), t));
      EXPECT_GE(distance(p, q), best - tol) << i;
    }
  }
}

// ---------------------------------------------------------------------------------------------
TEST(Torus, AxisCentreAndCoreCircle) {
  const ERTorus t(10, 2, ERVector3D(0, 0, 1), ERPoint3D(1, 1, 1));
  ERPoint3D foot(9, 9, 9);
  ERVector3D normal(9, 9, 9);
  double dist = 0;
  // On the axis at height h, and the centre (h = 0).
  for (double h : {0.0, 3.0, -7.0}) {
    const ERPoint3D p(1, 1, 1 + h);
    EXPECT_EQ(t.ProjectionNormale(p, foot, normal), 0);
    EXPECT_EQ(t.SignedMinimalDistance(p, dist), EREntity::DISTMIN_DEGENERATE);
    EXPECT_NEAR(dist, std::sqrt(h * h + 100) - 2, 1e-14);
  }
  // The core circle: no foot, distance -r reported 2; just off it a foot exists.
  const ERPoint3D core(1 + 6, 1 + 8, 1);
  EXPECT_EQ((Seq{t.ProjectionNormale(core, foot, normal), foot.x(), normal.x()}), (Seq{0, 9, 9}));
  EXPECT_EQ(t.SignedMinimalDistance(core, dist), EREntity::DISTMIN_DEGENERATE);
  EXPECT_NEAR(dist, -2, 1e-14);
  const ERPoint3D above(7, 9, 1 + 1e-9);  // 1e-10 rad off the equator
  ASSERT_EQ(t.ProjectionNormale(above, foot, normal), 1);
  expectNear(normal, 0, 0, 1, 1e-6);
  expectNear(foot, 7, 9, 3, 1e-13);
  EXPECT_EQ(t.SignedMinimalDistance(above, dist), EREntity::DISTMIN_NORMAL);
  // Just off the axis by the projection's angle test, far up: no foot, reported 2 as well.
  const ERPoint3D high(1 + 1e-6, 1, 1 + 1e6);
  EXPECT_EQ(t.ProjectionNormale(high, foot, normal), 0);
  EXPECT_EQ(t.SignedMinimalDistance(high, dist), EREntity::DISTMIN_DEGENERATE);
  EXPECT_NEAR(dist, std::hypot(1e6, 10 - 1e-6) - 2, 1e-8);
  // A zero vect projects nothing and is all axis (other lengths: the property test).
  const ERTorus flat(10, 2, ERVector3D(), ERPoint3D());
  EXPECT_EQ(flat.ProjectionNormale(ERPoint3D(3, 4, 0), foot, normal), 0);
  EXPECT_EQ(flat.SignedMinimalDistance(ERPoint3D(3, 4, 0), dist), EREntity::DISTMIN_DEGENERATE);
  EXPECT_NEAR(dist, std::hypot(5, 10) - 2, 1e-14);
  // Non-finite input writes nothing.
  foot = ERPoint3D(9, 9, 9);
  EXPECT_EQ(t.ProjectionNormale(ERPoint3D(std::nan(""), 0, 0), foot, normal), 0);
  EXPECT_EQ(ERTorus::ProjectionNormalTorus(ERPoint3D(), ERVector3D(0, 0, 1), INFINITY, 1,
                                           ERPoint3D(3, 0, 0), foot, normal),
            0);
  EXPECT_EQ(foot.x(), 9);
}

TEST(Torus, SpindleNegativeRadiiAndTheFarTube) {
  // Spindles in general: the property test. Equally near both tube circles: reported 2. P = (0,
  // 0.5, 0): the tube centres are 2 and 3 away, r = 2.5.
  const ERTorus tie(2.5, 2.5, ERVector3D(0, 0, 1), ERPoint3D());
  ERPoint3D foot;
  ERVector3D normal;
  double dist = 0;
  EXPECT_EQ(tie.SignedMinimalDistance(ERPoint3D(0, 0.5, 0), dist), EREntity::DISTMIN_DEGENERATE);
  EXPECT_EQ(dist, -0.5);
  // A negative R is the same torus; a negative r puts the foot beyond the tube centre.
  const ERTorus negR(-10, 2, ERVector3D(0, 0, 1), ERPoint3D());
  ASSERT_EQ(negR.ProjectionNormale(ERPoint3D(15, 0, 0), foot, normal), 1);
  expectNear(foot, 12, 0, 0);
  EXPECT_EQ(negR.SignedMinimalDistance(ERPoint3D(15, 0, 0), dist), EREntity::DISTMIN_NORMAL);
  EXPECT_EQ(dist, 3);
  const ERTorus negr(10, -2, ERVector3D(0, 0, 1), ERPoint3D());
  ASSERT_EQ(negr.ProjectionNormale(ERPoint3D(15, 0, 0), foot, normal), 1);
  expectNear(foot, 8, 0, 0);
  expectNear(normal, 1, 0, 0);
  negr.SignedMinimalDistance(ERPoint3D(15, 0, 0), dist);
  EXPECT_EQ(dist, 7);
  // r = 0 is the core circle itself.
  const ERTorus thin(10, 0, ERVector3D(0, 0, 1), ERPoint3D());
  ASSERT_EQ(thin.ProjectionNormale(ERPoint3D(0, 13, 4), foot, normal), 1);
  expectNear(foot, 0, 10, 0);
  expectNear(normal, 0, 0.6, 0.8);
}

TEST(Torus, AccessorsMovesPrintFormAndStoredImage) {
  ERTorus t;
  EXPECT_EQ((Seq{t.radius(), t.small_radius(), t.vect().z()}), (Seq{10, 1, 1}));
  t.radius(5), t.small_radius(0.5), t.vect(ERVector3D(0, 2, 0)), t.origin(ERPoint3D(1, 2, 3));
  const std::string text = "Tore :   Vector       =" + printed(ERVector3D(0, 2, 0)) + "\n" +
                           "     :   Origin       =" + printed(ERPoint3D(1, 2, 3)) + "\n" +
                           "     :   Radius       =5\n" + "     :   Small Radius =0.5\n";
  EXPECT_EQ(printed(t), text);
  // Stored: vect, origin, r, R.
  EXPECT_EQ(imageOf(t), doubles({0, 2, 0, 1, 2, 3, 0.5, 5}));
  EXPECT_EQ(t.binaryStoreSize(), imageOf(t).size());
  ERTorus r;
  restoreFrom(r, doubles({1, 0, 0, 4, 5, 6, 0.25, 8}));
  EXPECT_EQ((Seq{r.small_radius(), r.radius()}), (Seq{0.25, 8}));
  restoreFrom(r, doubles({1, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(imageOf(r), doubles({1, 0, 0, 4, 5, 6, 0.25, 8}));

  t.scale(2), t.translate(ERPoint3D(1, 1, 1)), t.offset(0.5), t.reverse();
  EXPECT_EQ(imageOf(t), doubles({0, 2, 0, 3, 5, 7, 1.5, 10}));
  const ERPmSimilitude3D k3{_ERScaling3D(3)};
  t.transformFrom(k3);
  EXPECT_EQ(imageOf(t), doubles({0, 6, 0, 9, 15, 21, 4.5, 30}));
  t.transformTo(k3);
  EXPECT_EQ(imageOf(t), doubles({0, 2, 0, 3, 5, 7, 1.5, 10}));
  const ERPmIsometrie3D T =
      ERChgRepere3D(ERVector3D(0, 1, 0), ERVector3D(-1, 0, 0), ERPoint3D(5, 0, 0));
  t.transformFrom(T);
  EXPECT_TRUE(Near(Seq{t.vect().x(), t.origin().x()}, Seq{-2, 0}, 1e-15));
  EXPECT_EQ(t.radius(), 10);
}

// Nearest point of the torus worked out in P's meridian plane: the nearer of the two tube
// circles, each point found by its own angle.
struct TorusFoot {
  double radial, axial, dist, margin;
};
TorusFoot nearestOnTubes(double rho, double z, double R, double r) {
  TorusFoot f{};
  double best = INFINITY, second = INFINITY;
  for (double c : {R, -R}) {
    const double ang = std::atan2(z, rho - c);
    const double x = c + r * std::cos(ang), y = r * std::sin(ang);
    const double d = std::hypot(rho - x, z - y);
    if (d < best) {
      second = best, best = d;
      f.radial = x, f.axial = y;
    } else {
      second = std::min(second, d);
    }
  }
  f.dist = best;
  f.margin = second - best;
  return f;
}

// Tori (ring and spindle) about the Z axis of random tilted, mirrored, far-off frames with a
// vect of any length: the foot against the nearer tube circle, on the torus, P - foot along the
// normal, no sampled point of the torus nearer. The core-circle test is absolute, so
// magnitudes start at 1e-6.
TEST(Torus, ProjectionAgainstTheNearerTubeCircle) {
  QORV_SEEDED(Draw draw, 1905);
  for (int i = 0; i < 4000; ++i) {
    const double s = draw.magnitude(-6, 300);
    const Frame F = draw.placed(s);
    const double R = s * draw.uniform(0.2, 2);
    const double r = R * (i % 3 == 0 ? draw.uniform(1, 2.5) : draw.uniform(0.02, 1));
    const double vl = std::pow(10.0, draw.uniform(-100, 100)) * (i % 2 ? -1 : 1);
    const ERTorus torus(R, r, F(ERVector3D(0, 0, vl)), F(ERPoint3D()));
    const double theta = draw.uniform(-M_PI, M_PI);
    const double rho = R * draw.uniform(0.01, 3), z = R * draw.uniform(-2.5, 2.5);
    const ERPoint3D p = F(ERPoint3D(rho * std::cos(theta), rho * std::sin(theta), z));
    const TorusFoot ref = nearestOnTubes(rho, z, R, r);
    const ERPoint3D expected =
        F(ERPoint3D(ref.radial * std::cos(theta), ref.radial * std::sin(theta), ref.axial));
    const double tol = 1e-12 * std::max({maxAbs(p), maxAbs(F.origin()), R + r});
    ERPoint3D foot;
    ERVector3D normal;
    ASSERT_EQ(torus.ProjectionNormale(p, foot, normal), 1) << i;
    EXPECT_NEAR(distance(p, foot), ref.dist, tol) << i;
    if (ref.margin > 1e-6 * R) {
      EXPECT_LE(distance(foot, expected), 2 * tol) << i;
    }
    // On the torus: r away from the core circle, on either side of the axis.
    const ERVector3D axis = torus.vect().getnormalized();
    const ERVector3D fo = foot - torus.origin();
    const double fz = fo * axis, fr = (fo - axis * fz).norme();
    EXPECT_LE(
        std::min(std::fabs(std::hypot(fr - R, fz) - r), std::fabs(std::hypot(fr + R, fz) - r)), tol)
        << i;
    EXPECT_NEAR(normal.norme(), 1.0, 1e-15);
    EXPECT_LE(((p - foot) ^ normal).norme(), tol) << i;
    double dist = 0;
    const auto kind = torus.SignedMinimalDistance(p, dist);
    EXPECT_TRUE(Near(Seq{std::fabs(dist), (p - foot) * normal}, Seq{ref.dist, dist}, tol)) << i;
    if (ref.margin > 1e-6 * R) {
      EXPECT_EQ(kind, EREntity::DISTMIN_NORMAL) << i;
    }
    // No point of the torus nearer: around the foot, and anywhere.
    const double best = distance(p, foot);
    const double u0 = std::atan2(ref.axial, ref.radial >= 0 ? ref.radial - R : ref.radial + R);
    for (int k = 0; k < 24; ++k) {
      const double u = k < 12 ? theta + draw.uniform(-0.2, 0.2) : draw.uniform(-M_PI, M_PI);
      const double v = k < 12 ? u0 + draw.uniform(-0.3, 0.3) : draw.uniform(-M_PI, M_PI);
      const double side = k < 12 && ref.radial < 0 ? -1.0 : 1.0;
      const double rr = side * R + r * std::cos(v);
      const ERPoint3D q = F(ERPoint3D(rr * std::cos(u), rr * std::sin(u), r * std::sin(v)));
      EXPECT_GE(distance(p, q), best - tol) << i;
    }
  }
}

}  // namespace
