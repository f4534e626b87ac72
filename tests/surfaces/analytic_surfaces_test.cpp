#include "qorv/surfaces/analytic_surfaces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "qorv/foundation/transfo3d_kinds.h"
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/surfaces/surface_draws.h"
#include "tests/test_seed.h"

using namespace qorv;

namespace {

using qorv_test::Bytes, qorv_test::doubles, qorv_test::imageOf, qorv_test::printed;
using qorv_test::restoreFrom;

using qorv_test::Draw, qorv_test::maxAbs;

double len(const ERVector3D& v) { return v.norme(); }

// ---------------------------------------------------------------------------------------------
TEST(Plane, CoefficientsAccessorsAndOrientation) {
  ERPlane p(0, 0, 2, -4);
  double a, b, c, d;
  p.getCoefficients(a, b, c, d);
  EXPECT_EQ((Seq{a, b, c, d, p.origine().z(), p.distancePt(ERPoint3D(0, 0, 5))}),
            (Seq{0, 0, 1, -2, 2, 3}));
  EXPECT_TRUE(p.getreversed() == ERPlane(0, 0, -1, 2));
  p.reverse();
  EXPECT_TRUE(p == ERPlane(0, 0, -1, 2));
  EXPECT_FALSE(p == ERPlane(0, 0, -1, 2 + 2e-11));
  // Normal along v1 x v2, at any magnitude of the vectors.
  const ERPlane q(ERPoint3D(1, 1, 3), ERVector3D(1e200, 0, 0), ERVector3D(1e200, 1e200, 0));
  EXPECT_TRUE(q == ERPlane(0, 0, 1, -3));
  EXPECT_TRUE(ERPlane(ERChgRepere3D(ERVector3D(0, 1, 0), ERPoint3D(0, 5, 0)), Coord3D::Z) ==
              ERPlane(0, 1, 0, -5));
  // Offsets lower d, scale multiplies it, translation moves the plane along itself or across.
  EXPECT_TRUE(ERPlane(0, 0, 1, -2).getOffset(0.5) == ERPlane(0, 0, 1, -2.5));
  ERPlane m(0, 0, 1, -2);
  m.scale(3), m.translate(ERPoint3D(7, 8, 1)), m.offset(1);
  EXPECT_TRUE(m == ERPlane(0, 0, 1, -8));
  const ERVector3D v = ERPlane(0, 0, 1, 0).project(ERVector3D(1, 2, 3));
  EXPECT_EQ((Seq{v.x(), v.y(), v.z()}), (Seq{1, 2, 0}));
  const ERInfLine3D l =
      ERPlane(0, 0, 1, -1).project(ERInfLine3D(ERVector3D(1, 0, 1), ERPoint3D(0, 4, 9)));
  EXPECT_TRUE(Near(Seq{l.dirVector().x(), l.origine().z(), l.origine().y()}, Seq{1, 1, 4}, 1e-15));
  EXPECT_TRUE(
      ERPlane(0, 0, 1, 0).is_perpendicular(ERInfLine3D(ERVector3D(0, 0, -1), ERPoint3D()), 1e-9));
  EXPECT_FALSE(
      ERPlane(0, 0, 1, 0).is_perpendicular(ERInfLine3D(ERVector3D(0, 1, 1), ERPoint3D()), 1e-9));
}

TEST(Plane, UndefinedNormalIsKeptPrintedAndProjectsNothing) {
  const ERPlane planes[] = {
      ERPlane(0, 0, 0, 5), ERPlane(ERPoint3D(1, 2, 3), ERVector3D(1, 1, 0), ERVector3D(-2, -2, 0)),
      ERPlane(ERPoint3D(1, 2, 3), ERVector3D(0, 0, 0)), ERPlane(std::nan(""), 0, 1, 0),
      ERPlane(std::numeric_limits<double>::infinity(), 0, 1, 0)};
  for (const ERPlane& p : planes) {
    SCOPED_TRACE(printed(p));
    ERPoint3D foot(7, 7, 7);
    ERVector3D normal(7, 7, 7);
    EXPECT_EQ(p.ProjectionNormale(ERPoint3D(1, 2, 3), foot, normal), 0);
    EXPECT_EQ((Seq{foot.x(), normal.z()}), (Seq{7, 7}));
    const ERPoint3D q = p.project(ERPoint3D(1, 2, 3));
    EXPECT_EQ((Seq{q.x(), q.z()}), (Seq{1, 3}));
  }
  EXPECT_EQ(printed(planes[0]), "Plane : Indefini\n");
  EXPECT_EQ(printed(planes[1]), "Plane : Indefini\n");
  double a, b, c, d;
  planes[0].getCoefficients(a, b, c, d);
  EXPECT_EQ(d, 5);  // kept, not divided by zero
  // A non-finite point projects nothing either.
  ERPoint3D foot;
  ERVector3D normal;
  EXPECT_EQ(ERPlane().ProjectionNormale(ERPoint3D(std::nan(""), 0, 0), foot, normal), 0);
}

TEST(Plane, PrintFormAndStoredImage) {
  const ERPlane p(0, 0, 2, -4);
  EXPECT_EQ(printed(p), "Plane (1)0,0,1,-2\n");
  const ERPlane q(3, 0, 4, 10);
  EXPECT_EQ((Seq{printed(q), imageOf(q), q.binaryStoreSize()}),
            (Seq{"Plane (1)0.6,0,0.8,2\n", doubles({0.6, 0.0, 0.8, 2.0}), imageOf(q).size()}));
  // A stored non-unit normal prints divided by its length.
  ERPlane r;
  restoreFrom(r, doubles({0, 0, 2, -4}));
  EXPECT_EQ(printed(r), "Plane (2)0,0,1,-2\n");
  // A short record changes nothing.
  Bytes shortImage = doubles({5, 6, 7});
  restoreFrom(r, shortImage);
  EXPECT_EQ(imageOf(r), doubles({0, 0, 2, -4}));
}

// Planes built in random frames: the foot of T >> (x, y, z) on T's XY plane is T >> (x, y, 0).
TEST(Plane, ProjectionAgainstTheFootInTheFrame) {
  QORV_SEEDED(Draw draw, 1901);
  for (int i = 0; i < 4000; ++i) {
    const double s = draw.magnitude();
    const ERPmIsometrie3D T = draw.frame(s);
    const bool flip = i % 2;  // both orientations
    ERPlane plane;
    if (flip) plane.reverse();
    plane.transformFrom(T);
    const ERPoint3D local(draw.uniform(-3, 3) * s, draw.uniform(-3, 3) * s,
                          draw.uniform(-3, 3) * s);
    const ERPoint3D p = T >> local;
    const ERPoint3D expected = T >> ERPoint3D(local.x(), local.y(), 0.0);
    const double tol = 1e-12 * std::max(maxAbs(p), maxAbs(T >> ERPoint3D()));
    ERPoint3D foot;
    ERVector3D normal;
    ASSERT_EQ(plane.ProjectionNormale(p, foot, normal), 1) << i;
    EXPECT_LE(distance(foot, expected), tol) << i;
    EXPECT_LE(std::fabs(plane.distancePt(foot)), tol) << i;
    EXPECT_NEAR(len(normal), 1.0, 1e-15);
    EXPECT_LE(len((p - foot) ^ normal), tol) << i;
    // The signed distance is the local height, positive on the normal's side.
    double dist = 0;
    EXPECT_EQ(plane.SignedMinimalDistance(p, dist), EREntity::DISTMIN_NORMAL);
    EXPECT_NEAR(dist, flip ? -local.z() : local.z(), tol) << i;
    // The same plane from a point and a normal, and brought back into the frame.
    ERPlane direct(T >> ERPoint3D(), T >> ERVector3D(0, 0, flip ? -1.0 : 1.0));
    EXPECT_LE(distance(direct.project(p), expected), tol) << i;
    direct.transformTo(T);
    EXPECT_NEAR(std::fabs(direct.normalVector().z()), 1.0, 1e-14);
    EXPECT_LE(std::fabs(direct.distanceOrg()), 1e-12 * s * 4) << i;
  }
}

// ---------------------------------------------------------------------------------------------
TEST(Cylinder, AxisIsDegenerateOnBothSidesOfTheThreshold) {
  const ERCylinder c(ERInfLine3D(ERVector3D(0, 0, 1), ERPoint3D()), 2);
  ERPoint3D foot(9, 9, 9);
  ERVector3D normal(9, 9, 9);
  for (const ERPoint3D& p : {ERPoint3D(0, 0, 5), ERPoint3D(1e-11, -1e-11, 5)}) {
    EXPECT_EQ(c.ProjectionNormale(p, foot, normal), 0);
    double dist = 0;
    EXPECT_EQ(c.SignedMinimalDistance(p, dist), EREntity::DISTMIN_DEGENERATE);
    EXPECT_NEAR(dist, -2, 2e-11);
  }
  EXPECT_EQ((Seq{foot.x(), normal.x()}), (Seq{9, 9}));
  ASSERT_EQ(c.ProjectionNormale(ERPoint3D(2e-11, 0, 5), foot, normal), 1);
  EXPECT_EQ((Seq{foot.x(), foot.z(), normal.x()}), (Seq{2, 5, 1}));
  // Zero radius: the axis foot, normal towards P; negative radius: the formula's circle.
  ASSERT_EQ(ERCylinder::ProjectionNormaleCylinder(ERPoint3D(0, 3, 1), c.axe(), 0, foot, normal), 1);
  EXPECT_EQ((Seq{foot.y(), normal.y()}), (Seq{0, 1}));
  ASSERT_EQ(ERCylinder::ProjectionNormaleCylinder(ERPoint3D(0, 3, 1), c.axe(), -2, foot, normal),
            1);
  EXPECT_EQ((Seq{foot.y(), normal.y()}), (Seq{2, 1}));
  // Zero axis direction and non-finite input write nothing.
  foot = ERPoint3D(9, 9, 9);
  EXPECT_EQ((Seq{ERCylinder(ERInfLine3D(ERVector3D(0, 0, 0), ERPoint3D()), 1)
                     .ProjectionNormale(ERPoint3D(1, 2, 3), foot, normal),
                 c.ProjectionNormale(ERPoint3D(INFINITY, 0, 0), foot, normal), foot.x()}),
            (Seq{0, 0, 9}));
}

TEST(Cylinder, MovesPrintFormAndStoredImage) {
  const ERInfLine3D axis(ERVector3D(0, 0, 1), ERPoint3D(1, 2, 0));
  ERCylinder c(axis, 3);
  EXPECT_EQ(printed(c), "Cylindre :   Segment =" + printed(axis) + "\n         :   Radius  =3\n");
  EXPECT_EQ(imageOf(c), doubles({0, 0, 1, 1, 2, 0, 3}));
  EXPECT_EQ(c.binaryStoreSize(), imageOf(c).size());
  ERCylinder r;
  restoreFrom(r, doubles({0, 1, 0, 4, 0, 5, 6}));
  EXPECT_EQ(imageOf(r), doubles({0, 1, 0, 4, 0, 5, 6}));
  restoreFrom(r, doubles({1, 0, 0, 0, 0, 0}));  // no radius: nothing changes
  EXPECT_EQ(imageOf(r), doubles({0, 1, 0, 4, 0, 5, 6}));
  restoreFrom(r, doubles({1, 0}));
  EXPECT_EQ(imageOf(r), doubles({0, 1, 0, 4, 0, 5, 6}));
  c.scale(2);
  c.translate(ERPoint3D(0, 0, 7));
  c.offset(1);
  c.reverse();
  EXPECT_EQ(imageOf(c), doubles({0, 0, 1, 2, 4, 7, 7}));  // the line moves its origin as is
  c.reverse_axis();
  EXPECT_EQ(c.axe().dirVector().z(), -1);
  // A similitude gives the image cylinder: unit axis, radius times the factor.
  const ERPmSimilitude3D k3{_ERScaling3D(3)};
  c.transformFrom(k3);
  EXPECT_EQ(c.radius(), 21);
  EXPECT_NEAR(c.axe().dirVector().norme(), 1, 1e-15);
  double dist = 0;
  c.SignedMinimalDistance(ERPoint3D(6, 12, 100), dist);
  EXPECT_NEAR(dist, -21, 1e-13);
  c.transformTo(k3);
  EXPECT_EQ(c.radius(), 7);
}

// Cylinders about the Z axis of random frames: the foot of T >> (rho cos t, rho sin t, z) is
// T >> (r cos t, r sin t, z), and no sampled point of the cylinder is nearer. The axis test is
// absolute (1e-11), so magnitudes start at 1e-6 here.
TEST(Cylinder, ProjectionAgainstTheFootInTheFrame) {
  QORV_SEEDED(Draw draw, 1903);
  for (int i = 0; i < 4000; ++i) {
    double s = draw.magnitude();
    if (s < 1e-6) s = std::pow(10.0, draw.uniform(-6, 0));
    const ERPmIsometrie3D T = draw.frame(s);
    const double r = s * draw.uniform(0.01, 2);
    ERCylinder cyl;
    cyl.radius(r);
    if (i % 2) cyl.reverse_axis();
    cyl.transformFrom(T);
    const double t = draw.uniform(-M_PI, M_PI), rho = r * draw.uniform(0.01, 3);
    const double z = s * draw.uniform(-3, 3);
    const ERPoint3D p = T >> ERPoint3D(rho * std::cos(t), rho * std::sin(t), z);
    const ERPoint3D expected = T >> ERPoint3D(r * std::cos(t), r * std::sin(t), z);
    const double tol = 1e-12 * std::max({maxAbs(p), maxAbs(T >> ERPoint3D()), r});
    ERPoint3D foot;
    ERVector3D normal;
    ASSERT_EQ(cyl.ProjectionNormale(p, foot, normal), 1) << i;
    EXPECT_LE(distance(foot, expected), tol) << i;
    EXPECT_LE(std::fabs(distance(foot, cyl.axe().projectPt(foot)) - r), tol) << i;
    EXPECT_NEAR(len(normal), 1.0, 1e-15);
    EXPECT_LE(len((p - foot) ^ normal), tol) << i;
    EXPECT_LE(std::fabs(normal * cyl.axe().dirVector()), 1e-12) << i;
    double dist = 0;
    EXPECT_EQ(cyl.SignedMinimalDistance(p, dist), EREntity::DISTMIN_NORMAL);
    EXPECT_NEAR(dist, rho - r, tol) << i;
    const double best = distance(p, foot);
    for (int k = 0; k < 16; ++k) {
      const double f = t + draw.uniform(-0.5, 0.5);
      const ERPoint3D q =
          T >> ERPoint3D(r * std::cos(f), r * std::sin(f), z + draw.uniform(-1, 1) * r);
      EXPECT_GE(distance(p, q), best - tol) << i;
    }
  }
}

// ---------------------------------------------------------------------------------------------
TEST(Sphere, CentreFailsOnlyOnAnExactHit) {
  const ERSphere s(ERPoint3D(1, 2, 3), 5);
  ERPoint3D foot(9, 9, 9);
  ERVector3D normal(9, 9, 9);
  EXPECT_EQ(s.ProjectionNormale(ERPoint3D(1, 2, 3), foot, normal), 0);
  EXPECT_EQ((Seq{s.project(ERPoint3D(1, 2, 3), foot), foot.x(), normal.x()}), (Seq{0, 9, 9}));
  double dist = 0;
  EXPECT_EQ(s.SignedMinimalDistance(ERPoint3D(1, 2, 3), dist), EREntity::DISTMIN_DEGENERATE);
  EXPECT_EQ(dist, -5);
  // 1e-12 away the foot exists, while the distance still calls the point central.
  const ERPoint3D near(1, 2, 3 + 1e-12);
  ASSERT_EQ(ERSphere::ProjectionNormaleSphere(near, s.center(), 5, foot, normal), 1);
  EXPECT_NEAR(foot.z(), 8, 1e-15);
  EXPECT_EQ(normal.z(), 1);
  EXPECT_EQ(s.SignedMinimalDistance(near, dist), EREntity::DISTMIN_DEGENERATE);
  EXPECT_EQ(s.SignedMinimalDistance(ERPoint3D(1, 2, 3 + 2e-11), dist), EREntity::DISTMIN_NORMAL);
  // Non-finite input writes nothing; opposite far-off points do not overflow.
  foot = ERPoint3D(9, 9, 9);
  EXPECT_EQ(s.ProjectionNormale(ERPoint3D(0, std::nan(""), 0), foot, normal), 0);
  EXPECT_EQ(
      ERSphere::ProjectionNormaleSphere(ERPoint3D(1, 2, 3), s.center(), INFINITY, foot, normal), 0);
  EXPECT_EQ(foot.x(), 9);
  ASSERT_EQ(ERSphere::ProjectionNormaleSphere(ERPoint3D(1.5e308, 0, 0), ERPoint3D(-1.5e308, 0, 0),
                                              1e308, foot, normal),
            1);
  EXPECT_EQ((Seq{normal.x(), foot.x()}), (Seq{1, -0.5e308}));
  // Negative radius: the formula's foot, across the centre.
  ASSERT_EQ(ERSphere::ProjectionNormaleSphere(ERPoint3D(0, 0, 2), ERPoint3D(), -1, foot, normal),
            1);
  EXPECT_EQ((Seq{foot.z(), normal.z()}), (Seq{-1, 1}));
}

TEST(Sphere, MovesPrintFormAndStoredImage) {
  ERSphere s(ERPoint3D(1, 2, 3), 4);
  EXPECT_EQ(printed(s), "\n Sphere : centre " + printed(ERPoint3D(1, 2, 3)) + " Rayon =4\n");
  EXPECT_EQ(imageOf(s), doubles({1, 2, 3, 4}));
  EXPECT_EQ(s.binaryStoreSize(), imageOf(s).size());
  ERSphere r;
  restoreFrom(r, doubles({5, 6, 7, 8}));
  EXPECT_EQ(imageOf(r), doubles({5, 6, 7, 8}));
  restoreFrom(r, doubles({1, 1, 1}));
  EXPECT_EQ(imageOf(r), doubles({5, 6, 7, 8}));
  s.scale(2), s.translate(ERPoint3D(1, 1, 1)), s.offset(0.5), s.reverse();
  EXPECT_EQ(imageOf(s), doubles({3, 5, 7, 8.5}));
}

// Spheres placed by random frames against the radial foot in the frame, and no sampled point
// of the sphere nearer than the foot.
TEST(Sphere, ProjectionAgainstTheFootInTheFrame) {
  QORV_SEEDED(Draw draw, 1902);
  for (int i = 0; i < 4000; ++i) {
    const double s = draw.magnitude();
    const ERPmIsometrie3D T = draw.frame(s);
    const double r = s * draw.uniform(0.01, 2);
    ERSphere sphere(ERPoint3D(), r);
    sphere.transformFrom(T);
    const ERVector3D dir = draw.direction();
    const double h = r * draw.uniform(0, 3);  // inside and outside
    const ERPoint3D local(dir * h);
    const ERPoint3D p = T >> local;
    const ERPoint3D expected = T >> ERPoint3D(dir * r);
    const double tol = 1e-12 * std::max({maxAbs(p), maxAbs(sphere.center()), r});
    ERPoint3D foot;
    ERVector3D normal;
    ASSERT_EQ(sphere.ProjectionNormale(p, foot, normal), 1) << i;
    EXPECT_LE(distance(foot, expected), tol) << i;
    EXPECT_LE(std::fabs(distance(foot, sphere.center()) - r), tol) << i;
    EXPECT_NEAR(len(normal), 1.0, 1e-15);
    EXPECT_LE(len((p - foot) ^ normal), tol) << i;
    EXPECT_GT((normal * ERVector3D(T >> dir)), 0.999) << i;
    double dist = 0;
    EXPECT_EQ(sphere.SignedMinimalDistance(p, dist),
              h <= 1e-11 ? EREntity::DISTMIN_DEGENERATE : EREntity::DISTMIN_NORMAL);
    EXPECT_NEAR(dist, h - r, tol) << i;
    const double best = distance(p, foot);
    for (int k = 0; k < 16; ++k) {
      const ERPoint3D q = sphere.center() + draw.direction() * r;
      EXPECT_GE(distance(p, q), best - tol) << i;
    }
  }
}

TEST(Sphere, SimilitudeScalesTheRadius) {
  ERSphere s(ERPoint3D(1, 0, 0), 2);
  const ERPmSimilitude3D k3{_ERScaling3D(3)};
  s.transformFrom(k3);
  EXPECT_EQ((Seq{s.radius(), s.center().x()}), (Seq{6, 3}));
  s.transformTo(k3);
  EXPECT_EQ((Seq{s.radius(), s.center().x()}), (Seq{2, 1}));
  const ERPmIsometrie3D T =
      ERChgRepere3D(ERVector3D(0, 1, 0), ERVector3D(-1, 0, 0), ERPoint3D(5, 0, 0));
  s.transformFrom(T);
  EXPECT_EQ(s.radius(), 2);
  EXPECT_NEAR(s.center().y(), 1, 1e-15);
  s.transformTo(T);
  EXPECT_NEAR(s.center().x(), 1, 1e-15);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The batch of signed distances gives each point's own answer, bit for bit, for every kind in
// tilted, mirrored and far-off frames at every magnitude; non-finite points included.
TEST(AnalyticSurfaces, BatchDistancesAreThePerPointOnes) {
  QORV_SEEDED(Draw draw, 3301);
  for (int round = 0; round < 200; ++round) {
    const double s = draw.magnitude(-290, 290);
    const qorv_test::Frame f = draw.placed(s * draw.uniform(0, 1e3));
    const ERVector3D z = f(ERVector3D(0, 0, 1)) * (round % 7 == 0 ? 1e-3 : 1.0);
    // Every other torus a ring (the batch's own loop), the others anything.
    const double R = s * draw.uniform(0, 2);
    const double r = round % 2 ? R * draw.uniform(0, 0.9) : s * draw.uniform(-1, 3);
    std::unique_ptr<ERSurface> surfaces[] = {
        std::make_unique<ERPlane>(f.origin(), f(ERVector3D(1, 0, 0)), f(ERVector3D(0, 1, 0))),
        std::make_unique<ERCylinder>(ERInfLine3D(z, f.origin()), s * draw.uniform(-1, 2)),
        std::make_unique<ERSphere>(f.origin(), s * draw.uniform(-1, 2)),
        std::make_unique<ERCone>(f.origin(), z, draw.uniform(-4, 4)),
        std::make_unique<ERTorus>(R, r, round % 11 == 0 ? ERVector3D() : z, f.origin())};
    std::vector<double> xyz;
    for (int k = 0; k < 300; ++k) {                         // more than one of the batch's blocks
      const ERPoint3D p = k < 4 ? f.origin() + z * (s * k)  // on the axis
                                : f(ERPoint3D(draw.uniform(-3, 3) * s, draw.uniform(-3, 3) * s,
                                              draw.uniform(-3, 3) * s));
      xyz.insert(xyz.end(), {p.x(), p.y(), p.z()});
    }
    xyz.insert(xyz.end(), {std::nan(""), 0.0, 1.0, HUGE_VAL, 0.0, 0.0, 1e308, -1e308, 1e308});
    const std::size_t n = xyz.size() / 3;
    for (const auto& surface : surfaces) {
      std::vector<double> batch(n);
      surface->SignedDistances(xyz.data(), n, batch.data());
      for (std::size_t i = 0; i < n; ++i) {
        double one = 0;
        surface->SignedMinimalDistance(ERPoint3D(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]), one);
        if (std::isnan(one)) {
          EXPECT_TRUE(std::isnan(batch[i])) << surface->className() << " point " << i;
        } else {
          EXPECT_EQ(batch[i], one) << surface->className() << " point " << i << " round " << round;
        }
      }
    }
  }
}
