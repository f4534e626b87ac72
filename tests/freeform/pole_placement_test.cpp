// Pole curves moved by the transformation operators, carried between the plane and space,
// asked for their discontinuities, approximated by polylines.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <type_traits>
#include "qorv/freeform/pole_curves.h"
#include "tests/freeform/pole_test_curves.h"
#include "tests/in_order.h"
#include "tests/test_seed.h"

using namespace qorv;
using namespace qorv_test::poles;

using QuickAlgebra::ERVec;

namespace {

TEST(PolePlacement, OperatorsAndDimensionChanges) {
  QORV_SEEDED(std::mt19937_64 rng, 1861);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int rep = 0; rep < 100; ++rep) {
    SCOPED_TRACE(rep);
    const RandomCurve c2 = randomCurve(rng, 2, false, rep % 3 == 2);
    ERCpoleNURBS2D a = nurbsOf<ERCpoleNURBS2D, ERPole2DH>(c2);
    const double lo = c2.U[c2.p], hi = c2.U[c2.U.size() - c2.p - 1];
    a.setBound(ERLimites(lo + 0.1 * (hi - lo), hi));
    const double big = std::pow(10.0, int(rng() % 7) - 3);
    // Turned, mirrored and sheared maps.
    const double ang = 3 * u(rng), k = 0.5 + std::fabs(u(rng)), m = rep % 2 ? -1.0 : 1.0;
    const ERTransfo2D T = ERTransfo2D(k * std::cos(ang), -k * m * std::sin(ang), k * std::sin(ang),
                                      k * m * std::cos(ang), big * u(rng), big * u(rng)) *
                          ERTransfo2D(1, rep % 3 ? u(rng) : 0, 0, 1, 0, 0);
    const ERCpoleNURBS2D moved = T >> a, back = T << moved;
    EXPECT_EQ(moved.getBound(), a.getBound());
    const double tol = 1e-12 * (c2.size + big) * 8;
    for (int j = 0; j <= 100; ++j) {
      const double t = a.udeb() + (a.ufin() - a.udeb()) * j / 100.0;
      ASSERT_LE(qorv::distance(moved(t), T >> a(t)), tol) << t;
      ASSERT_LE(qorv::distance(back(t), a(t)), 1e3 * tol) << t;
    }

    // Into space through a frame, and seen again in it: the same points, the same class.
    const ERPmIsometrie3D F =
        ERChgRepere3D(ERVector3D(u(rng), u(rng), u(rng)), ERVector3D(u(rng), u(rng), u(rng)),
                      ERPoint3D(big * u(rng), big * u(rng), big * u(rng)));
    const t_SmartPtr<EREntity3DWF> up = a.get3DEquiv(F);
    const ERCpoleNURBS3D* n3 = ERCpoleNURBS3D::castdown(up.get());
    ASSERT_NE(n3, nullptr);
    EXPECT_EQ(n3->getBound(), a.getBound());
    const t_SmartPtr<EREntity2DWF> down = n3->get2DEntProjectedOn(F);
    const ERCpoleNURBS2D* n2 = ERCpoleNURBS2D::castdown(down.get());
    ASSERT_NE(n2, nullptr);
    for (int j = 0; j <= 100; ++j) {
      const double t = lo + (hi - lo) * j / 100.0;
      ASSERT_LE(qorv::distance((*n3)(t), F >> a(t).castToPoint3D(Coord3D::Z, 0.0)), tol) << t;
      ASSERT_LE(qorv::distance((*n2)(t), a(t)), tol) << t;
    }
    // A space curve seen in a frame: the points expressed in it, the normal coordinate gone.
    const RandomCurve c3 = randomCurve(rng, 3, true, false);
    const ERCpoleBezier3DR b3(polesOf<ERPole3DH>(c3), ERLimites(c3.U.front(), c3.U.back()));
    const t_SmartPtr<EREntity2DWF> flat = b3.get2DEntProjectedOn(F);
    const ERCpoleBezier2DR* b2 = ERCpoleBezier2DR::castdown(flat.get());
    ASSERT_NE(b2, nullptr);
    const ERCpoleBezier3DR turned = F << b3, placed = F >> b3;
    for (int j = 0; j <= 50; ++j) {
      const double t = c3.U.front() + (c3.U.back() - c3.U.front()) * j / 50.0;
      const ERPoint3D q = F << b3(t);
      const double tol3 = 1e-12 * (c3.size + big) * 8;
      ASSERT_LE(qorv::distance((*b2)(t), q.castToPoint2D(Coord3D::Z)), tol3) << t;
      ASSERT_LE(qorv::distance(turned(t), q), tol3) << t;
      ASSERT_LE(qorv::distance(placed(t), F >> b3(t)), tol3) << t;
    }
  }
  // Cartesian Bezier curves keep their kind.
  ERVec<ERPoint2D> pts;
  pts.append(ERPoint2D(0, 0)), pts.append(ERPoint2D(1, 2)), pts.append(ERPoint2D(2, 0));
  const ERCpoleBezier2D bz(pts, ERLimites(0, 1));
  const t_SmartPtr<EREntity3DWF> b3 = bz.get3DEquiv(ERPmIsometrie3D());
  ASSERT_NE(ERCpoleBezier3D::castdown(b3.get()), nullptr);
  EXPECT_EQ((*ERCpoleBezier3D::castdown(b3.get()))(0.5), ERPoint3D(1, 1, 0));
}

TEST(PolePlacement, DiscontinuitiesComeFromTheKnots) {
  ERVec<ERPole2DH> h;
  for (int i = 0; i < 10; ++i) h.append(ERPole2DH(i, (i * 3) % 4, 1.0));
  const double U[] = {0, 0, 0, 0, 0.3, 0.5, 0.5, 0.7, 0.7, 0.7, 1, 1, 1, 1};
  ERCpoleNURBS2D n(h, ERKnotVector(3, U, 14));
  ERVec<double> d;
  ASSERT_EQ(n.GetDiscontinuities(0, d), 1);
  EXPECT_EQ((Seq{d.length(), n.IsContinuous(0)}), (Seq{0, 1}));
  n.GetDiscontinuities(1, d);
  ASSERT_EQ(d.length(), 1);
  EXPECT_EQ((Seq{d[0], n.IsContinuous(1)}), (Seq{0.7, 0}));
  n.GetDiscontinuities(3, d);
  ASSERT_EQ(d.length(), 3);
  EXPECT_EQ((Seq{d[0], d[1], d[2]}), (Seq{0.3, 0.5, 0.7}));
  // Only inside the trim bounds; the ends are no discontinuity.
  n.setBound(ERLimites(0.3, 0.7));
  n.GetDiscontinuities(3, d);
  ASSERT_EQ(d.length(), 1);
  EXPECT_EQ(d[0], 0.5);
  n.setBound(ERLimites(0.0, 0.29));
  EXPECT_EQ(n.IsContinuous(5), 1);
}

TEST(PolePlacement, PolylinesKeepTheCornersAndFollowTheCurve) {
  QORV_SEEDED(std::mt19937_64 rng, 1862);
  for (int rep = 0; rep < 60; ++rep) {
    SCOPED_TRACE(rep);
    const RandomCurve c = randomCurve(rng, 2, false, false);
    const ERCpoleNURBS2D n = nurbsOf<ERCpoleNURBS2D, ERPole2DH>(c);
    const double lo = n.udeb(), hi = n.ufin();
    const bool backwards = rep % 2 == 1;
    const ERLimites range = backwards ? ERLimites(hi, lo) : ERLimites(lo, hi);
    const double tol = 1e-3 * n.getBox().DiametreBoule();
    const ERVec<ERPoint2D> poly = n.approxime(range, tol);
    ASSERT_GE(poly.length(), 2);
    EXPECT_EQ((Seq{poly[0], poly[poly.length() - 1]}), (Seq{n(range.start()), n(range.end())}));
    // Every C0 corner is a vertex.
    for (std::size_t i = c.p + 1; i + c.p + 1 < c.U.size(); ++i) {
      int s = 0;
      for (double v : c.U) s += v == c.U[i];
      if (s < c.p) continue;
      const ERPoint2D corner = n(c.U[i]);
      bool found = false;
      for (int j = 0; j < poly.length() && !found; ++j) found = poly[j] == corner;
      EXPECT_TRUE(found) << c.U[i];
    }
    // Every vertex on the curve: the nearest point is the vertex itself.
    for (int j = 0; j < poly.length(); ++j) {
      double t = 0;
      EXPECT_LE(n.nearest(poly[j], t), 1e-12 * c.size);
    }
  }
}

template <class Curve, class Pole>
void checkCrossings(int dim, unsigned fixed) {
  QORV_SEEDED(std::mt19937_64 rng, fixed);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  const int axis = dim == 2 ? 0 : 2;
  for (int rep = 0; rep < 200; ++rep) {
    SCOPED_TRACE(rep);
    const RandomCurve c = randomCurve(rng, dim, rep % 4 == 0, rep % 3 == 2);
    Curve n = nurbsOf<Curve, Pole>(c);
    const double lo = n.udeb(), hi = n.ufin();
    if (rep % 2) n.setBound(ERLimites(lo + 0.2 * (hi - lo), hi - 0.1 * (hi - lo)));
    const double a = n.udeb(), b = n.ufin();
    // A value taken at a random point, so that the curve crosses it.
    const double value = n(a + (b - a) * u01(rng)).data()[axis];
    ERVec<double> params;
    params.append(-12345.0);  // kept: the crossings are appended
    int count = 0;
    if constexpr (std::is_same_v<Curve, ERCpoleNURBS3D>)
      count = n.intersectWithPlanZ(value, params);
    else
      count = n.intersectWithAxeY(value, params);
    ERVec<double> got;
    ASSERT_GE(params.length(), 2);
    EXPECT_EQ((Seq{count, params[0]}), (Seq{params.length(), -12345.0}));
    for (int k = 1; k < params.length(); ++k) {
      got.append(params[k]);
      ASSERT_GE(params[k], a);
      ASSERT_LE(params[k], b);
      if (k > 1) {
        ASSERT_GT(params[k], params[k - 1]);
      }
      // No parameter can do better than the coordinate's change over one unit of its last place
      // (knots far from 0 around a short span).
      const double t = params[k];
      const double ulp = std::nextafter(std::fabs(t), INFINITY) - std::fabs(t);
      const double slope = std::fabs(n.PtCur(t).tangente().data()[axis]);
      ASSERT_LE(std::fabs(n(t).data()[axis] - value), 1e-9 * c.size + 4 * slope * ulp) << t;
    }
    // Every sign change of a dense sampling holds a crossing.
    const int N = 2000;
    double prev = n(a).data()[axis] - value;
    for (int k = 1; k <= N; ++k) {
      const double t0 = a + (b - a) * (k - 1) / N, t1 = k == N ? b : a + (b - a) * k / N;
      const double cur = n(t1).data()[axis] - value;
      if ((prev < 0) != (cur < 0) && prev != 0 && cur != 0) {
        bool hit = false;
        for (int j = 0; j < got.length() && !hit; ++j) hit = got[j] >= t0 && got[j] <= t1;
        ASSERT_TRUE(hit) << "crossing in [" << t0 << ", " << t1 << "] missed";
      }
      prev = cur;
    }
  }
}

TEST(PolePlacement, CrossingsWithAnAxisLineOrPlane) {
  checkCrossings<ERCpoleNURBS2D, ERPole2DH>(2, 1863);
  checkCrossings<ERCpoleNURBS3D, ERPole3DH>(3, 1864);
  // The parabola y = 4s - 4s^2, x = 2s meets x = 1 once, at s = 0.5; a line lying on x = 0
  // gives its two ends.
  ERVec<ERPoint2D> pts;
  pts.append(ERPoint2D(0, 0)), pts.append(ERPoint2D(1, 2)), pts.append(ERPoint2D(2, 0));
  ERVec<double> params;
  EXPECT_EQ(ERCpoleBezier2D(pts, ERLimites(0, 1)).intersectWithAxeY(1.0, params), 1);
  EXPECT_NEAR(params[0], 0.5, 1e-15);
  ERVec<ERPoint2D> line;
  line.append(ERPoint2D(0, 0)), line.append(ERPoint2D(0, 3));
  params = ERVec<double>();
  EXPECT_EQ(ERCpoleBezier2D(line, ERLimites(2, 4)).intersectWithAxeY(0.0, params), 2);
  EXPECT_EQ((Seq{params[0], params[1]}), (Seq{2.0, 4.0}));
  params = ERVec<double>();
  EXPECT_EQ(ERCpoleBezier2D(line, ERLimites(2, 4)).intersectWithAxeY(std::nan(""), params), 0);
  EXPECT_EQ(ERCpoleNURBS2D().intersectWithAxeY(0.0, params), 0);
}

}  // namespace
