#include "qorv/curves/circles.h"
#include "qorv/curves/ellipses.h"
#include "qorv/curves/lines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/test_seed.h"

using namespace qorv;

namespace {

using qorv_test::Bytes, qorv_test::doubles, qorv_test::imageOf, qorv_test::printed;
using qorv_test::restoreFrom;

using QuickAlgebra::ERVec;
constexpr double kPi = std::numbers::pi;

// ---------------------------------------------------------------------------------------------
TEST(Circle2D, DistanceBoxAndTransformations) {
  ERCircle2D c(ERPoint2D(0, 0), 2);
  double d = 0;
  EXPECT_EQ(c.SignedMinimalDistance(ERPoint2D(3, 0), d), EREntity::DISTMIN_NORMAL);
  EXPECT_DOUBLE_EQ(d, 1.0);
  EXPECT_EQ(c.SignedMinimalDistance(ERPoint2D(0, 0), d), EREntity::DISTMIN_DEGENERATE);
  EXPECT_DOUBLE_EQ(d, -2.0);
  EXPECT_EQ(c.getBox(), ERMinimax2D(-2, -2, 2, 2));
  c.setDiameter(3);

  // A similitude of ratio 2 doubles the radius; its inverse brings the circle back.
  const ERTransfo2D T = ERTransfo2D(ERVector2D(5, -1)) * rotation(0.3) * Scaling(2);
  c.transformFrom(T);
  EXPECT_NEAR(c.radius(), 3.0, 1e-14);
  EXPECT_TRUE(isEqual(c.center(), ERPoint2D(5, -1), 1e-14));
  c.transformTo(T);
  EXPECT_NEAR(c.radius(), 1.5, 1e-14);
  EXPECT_TRUE(isEqual(c.center(), ERPoint2D(0, 0), 1e-14));
  c.scale(2);
  c.translate(ERPoint2D(1, 1));
  EXPECT_EQ((Seq{c.center(), c.radius()}), (Seq{ERPoint2D(1, 1), 3.0}));
}

// Feet, crossings and lengths of arcs in every window:
// ConicProperties.PlaneArcsAgreeWithDirectComputation.
TEST(Arc2D, ProjectionAndVerticalCrossings) {
  const ERArc2D a(ERPoint2D(0, 0), 1, 0, kPi / 2);
  ERVec<double> params;
  EXPECT_EQ((Seq{a.ProjectPoint(ERPoint2D(0, 0), params, 0), params.length()}), (Seq{-1, 0}));
  EXPECT_EQ((Seq{a.intersectWithAxeY(1.5, params), params.length()}), (Seq{0, 0}));
  EXPECT_DOUBLE_EQ(a.arcLength(ERLimites(1, 0.5), 0), 0.5);
}

TEST(Arc2D, EvaluationAndDistance) {
  const ERArc2D a(ERPoint2D(1, 2), 2, kPi / 4, 3 * kPi / 4);
  const ERInfoPoint2D info = a.PtCur(kPi / 2);
  EXPECT_TRUE(isEqual(info.point(), ERPoint2D(1, 4), 1e-15));
  EXPECT_TRUE(isEqual(info.tangente(), ERVector2D(-2, 0), 1e-15));
  EXPECT_TRUE(isEqual(info.secondOrder(), ERVector2D(0, 2), 1e-15));  // tangent turned clockwise
  EXPECT_NEAR(info.radius(), 2.0, 1e-14);
  EXPECT_TRUE(isEqual(a.normal(kPi / 2), ERVector2D(0, -1), 1e-15));
  // Boxes, splits and nearest points of random arcs: conic_properties_test.cpp.
  double d = 0, u = 0;
  EXPECT_EQ(a.SignedMinimalDistance(ERPoint2D(1, 5), d, u), EREntity::DISTMIN_NORMAL);
  EXPECT_TRUE(Near(Seq{d, u}, Seq{1.0, kPi / 2}, 1e-15));
  EXPECT_EQ(a.SignedMinimalDistance(ERPoint2D(1, 0), d, u), EREntity::DISTMIN_END_POINT);
  EXPECT_NEAR(std::fabs(d), distance(ERPoint2D(1, 0), a.firstPt()), 1e-15);
  EXPECT_EQ(a.SignedMinimalDistance(ERPoint2D(1, 2), d), EREntity::DISTMIN_DEGENERATE);
  EXPECT_EQ(d, -2.0);
}

TEST(Arc2D, ApproximationStaysOnTheCircleWithinTolerance) {
  QORV_SEEDED(std::mt19937 gen, 20240611);
  std::uniform_real_distribution<double> ang(-7, 7), rad(0.1, 50);
  for (int i = 0; i < 20; ++i) {
    const double s = ang(gen), e = ang(gen), r = rad(gen), tol = 1e-3 * r;
    const ERArc2D a(ERPoint2D(3, -4), r, s, e);
    const ERVec<ERPoint2D> pts = a.approxime(a.getBound(), tol);
    ASSERT_GE(pts.length(), 2);
    EXPECT_TRUE(isEqual(pts[0], a(a.getBound().start()), 0));
    EXPECT_TRUE(isEqual(pts[pts.length() - 1], a(a.getBound().end()), 0));
    for (int k = 0; k + 1 < pts.length(); ++k) {
      EXPECT_NEAR(distance(pts[k], ERPoint2D(3, -4)), r, 1e-12 * r);
      // The sagitta of each chord is within the tolerance.
      const double half = distance(pts[k], pts[k + 1]) / 2;
      EXPECT_LE(r - std::sqrt(std::fmax(r * r - half * half, 0.0)), tol * (1 + 1e-9));
    }
  }
}

TEST(Arc2D, NormalizedAndTransformationsTurnTheLimits) {
  ERArc2D a(ERPoint2D(), 1, 7, 8);
  a.normalized();
  EXPECT_DOUBLE_EQ(a.udeb(), 7 - 2 * kPi);
  EXPECT_DOUBLE_EQ(a.ufin(), 8 - 2 * kPi);
  ERArc2D kept(ERPoint2D(), 1, 0.5, 2 * kPi);
  kept.normalized();
  EXPECT_EQ(kept.udeb(), 0.5);

  ERArc2D b(ERPoint2D(1, 0), 1, 0, kPi / 2);
  const ERPoint2D end = b.lastPt();
  const ERTransfo2D T = ERTransfo2D(ERVector2D(0, 3)) * rotation(kPi / 6);
  b.transformFrom(T);
  EXPECT_NEAR(b.udeb(), kPi / 6, 1e-15);
  EXPECT_TRUE(isEqual(b.lastPt(), T >> end, 1e-14));
  b.transformTo(T);
  EXPECT_NEAR(b.ufin(), kPi / 2, 1e-15);
  b.reverse();
  EXPECT_NEAR(b.udeb(), kPi / 2, 1e-15);
  EXPECT_EQ(b.getBound().start(), 0.0);
}

TEST(Circles2D, StoredImagesAndPrintForms) {
  const ERCircle2D c(ERPoint2D(1.5, -2), 0.25);
  EXPECT_EQ((Seq{imageOf(c), c.binaryStoreSize()}), (Seq{doubles({1.5, -2, 0.25}), 24u}));
  ERCircle2D back;
  restoreFrom(back, doubles({-1, 2, 3}));
  EXPECT_EQ((Seq{back.center(), back.radius()}), (Seq{ERPoint2D(-1, 2), 3.0}));
  restoreFrom(back, Bytes(23, 0));
  EXPECT_EQ(back.radius(), 3.0);

  const ERArc2D a(c, 0.5, -1);
  EXPECT_EQ((Seq{imageOf(a), a.binaryStoreSize()}), (Seq{doubles({1.5, -2, 0.25, 0.5, -1}), 40u}));
  ERArc2D ab;
  restoreFrom(ab, doubles({1.5, -2, 0.25, 0.5, -1}));
  EXPECT_EQ(imageOf(ab), imageOf(a));
  restoreFrom(ab, Bytes(39, 1));
  EXPECT_EQ(imageOf(ab), imageOf(a));

  EXPECT_EQ(printed(c), "Cercle2D : Centre  [1.5,-2]\n         : Radius  0.25\n");
  EXPECT_EQ(printed(a),
            "Arc : Centre :[1.5,-2]\n      Rayon  :0.25\n      StartAg:0.5\n      EndAg  :-1");
}

// ---------------------------------------------------------------------------------------------
TEST(Ellipse2D, ConstructionRulesAndDerivedValues) {
  const EREllipse2D e(3, 2, 0, ERPoint2D(0, 0));
  ERPoint2D f1, f2;
  e.getFocus(f1, f2);
  EXPECT_EQ((Seq{bool(isEqual(f1, ERPoint2D(-std::sqrt(5.0), 0), 1e-15)),
                 bool(isEqual(f2, ERPoint2D(std::sqrt(5.0), 0), 1e-15)), e.getBigAxe()}),
            (Seq{true, true, 6.0}));
  EXPECT_NEAR(e.getSmallAxe(), 4.0, 1e-14);
  const ERArcEllipse2D arc(e, 0, kPi);
  EXPECT_DOUBLE_EQ(arc.central_to_param(kPi / 2), kPi / 2);
  EXPECT_DOUBLE_EQ(arc.central_to_param(kPi / 4), std::atan(1.5));

  const EREllipse2D turned(3, 2, kPi / 2, ERPoint2D(0, 0));
  turned.getFocus(f1, f2);
  EXPECT_TRUE(isEqual(f1, ERPoint2D(0, -std::sqrt(5.0)), 1e-15));
  EXPECT_TRUE(isEqual(f2, ERPoint2D(0, std::sqrt(5.0)), 1e-15));
  EXPECT_NEAR(turned.getAngle(), kPi / 2, 1e-15);
  EXPECT_NEAR(EREllipse2D(3, 2, -kPi / 2, ERPoint2D()).getAngle(), 3 * kPi / 2, 1e-15);
  EXPECT_TRUE(isEqual(turned.getSmallAxisDirection(), ERVector2D(-1, 0), 1e-15));
  EXPECT_EQ(EREllipse2D().getBigAxisDirection(), ERVector2D(1, 0));

  const EREllipse2D far(ERPoint2D(-5, 0), ERPoint2D(5, 0), 6);
  EXPECT_DOUBLE_EQ(far.getBigAxe(), std::sqrt(136.0));
  EXPECT_NEAR(far.getSmallAxe(), 6.0, 1e-14);
}

TEST(Ellipse2D, ConicAndFivePointConstructorsRecoverTheEllipse) {
  QORV_SEEDED(std::mt19937 gen, 77);
  std::uniform_real_distribution<double> len(0.5, 20), ang(-3, 3), pos(-100, 100);
  for (int i = 0; i < 20; ++i) {
    double a = len(gen), b = len(gen);
    if (a < b) std::swap(a, b);
    const EREllipse2D e(a, b, ang(gen), ERPoint2D(pos(gen), pos(gen)));
    const ERArcEllipse2D full(e, 0, 2 * kPi);
    ERPoint2D p[5];
    for (int k = 0; k < 5; ++k) p[k] = full(0.3 + 1.2 * k);
    const EREllipse2D five(p[0], p[1], p[2], p[3], p[4]);
    EXPECT_NEAR(five.getBigAxe(), e.getBigAxe(), 1e-8 * a);
    EXPECT_NEAR(five.getSmallAxe(), e.getSmallAxe(), 1e-8 * a);
    EXPECT_TRUE(isEqual(five.center(), e.center(), 1e-8 * (a + 100)));
    for (int k = 0; k < 8; ++k) {  // every point of the original lies on the rebuilt one
      double d = 1;
      five.SignedMinimalDistance(full(0.7 * k), d);
      EXPECT_NEAR(d, 0.0, 1e-7 * a);
    }
  }
  // Off-centre and scaled conics, and what is no ellipse:
  // ConicCases.EllipseFromConicCoefficientsAndPoints.
}

TEST(Ellipse2D, ClosestPointAndSignedDistance) {
  // Random points: ConicProperties.PlaneArcsAgreeWithDirectComputation.
  double d = 0;
  EREllipse2D(3, 2, kPi / 6, ERPoint2D(0, 0)).SignedMinimalDistance(ERPoint2D(0, 0), d);
  EXPECT_NEAR(d, -2.0, 1e-12);
  // get_closest answers for the ellipse where it lies, not for a copy moved to the origin.
  const EREllipse2D shifted(3, 2, 0, ERPoint2D(10, 0));
  EXPECT_TRUE(isEqual(shifted.get_closest(ERPoint2D(5, 0)), ERPoint2D(7, 0), 1e-12));
}

TEST(ArcEllipse2D, BoundEvaluationAndDistance) {
  // Ends, lengths, crossings and nearest points:
  // ConicProperties.PlaneArcsAgreeWithDirectComputation.
  const ERArcEllipse2D arc(3, 2, 0, ERPoint2D(1, 1), kPi / 4, 3 * kPi / 4);
  EXPECT_EQ(ERArcEllipse2D(EREllipse2D(), 1, 2).getBound(), ERLimites(0, 2 * kPi));
  EXPECT_EQ(ERArcEllipse2D(3, 2, 0, ERPoint2D(), 1, 1).getBound(), ERLimites(0, 2 * kPi));

  const ERInfoPoint2D info = arc.PtCur(kPi / 2);
  EXPECT_TRUE(isEqual(info.point(), ERPoint2D(1, 3), 1e-14));
  EXPECT_TRUE(isEqual(info.tangente(), ERVector2D(-3, 0), 1e-14));
  EXPECT_TRUE(isEqual(info.secondOrder(), ERVector2D(0, 3), 1e-14));

  double d = 0, u = 0;
  EXPECT_EQ(arc.SignedMinimalDistance(ERPoint2D(1, 4), d, u), EREntity::DISTMIN_NORMAL);
  EXPECT_TRUE(Near(Seq{d, u}, Seq{1, kPi / 2}, 1e-12));
  EXPECT_EQ(arc.SignedMinimalDistance(ERPoint2D(1, -3), d, u), EREntity::DISTMIN_END_POINT);
}

TEST(Ellipses2D, StoredImagesAndPrintForms) {
  const EREllipse2D e(ERPoint2D(-1, 0), ERPoint2D(1, 0), 4);
  EXPECT_EQ((Seq{imageOf(e), e.binaryStoreSize()}), (Seq{doubles({-1, 0, 1, 0, 4}), 40u}));
  const ERArcEllipse2D a(e, 0.5, 2);
  EXPECT_EQ((Seq{imageOf(a), a.binaryStoreSize()}), (Seq{doubles({-1, 0, 1, 0, 4, 0.5, 2}), 56u}));
  ERArcEllipse2D back;
  restoreFrom(back, doubles({-1, 0, 1, 0, 1, 0.5, 2}));  // as stored, even with far foci
  EXPECT_EQ(back.getBigAxe(), 1.0);
  restoreFrom(back, imageOf(a));
  EXPECT_EQ(imageOf(back), imageOf(a));
  restoreFrom(back, Bytes(55, 0));
  EXPECT_EQ(imageOf(back), imageOf(a));
  EREllipse2D eb;
  restoreFrom(eb, imageOf(e));
  EXPECT_EQ(imageOf(eb), imageOf(e));
  EXPECT_EQ(printed(e),
            "Ellipse\nfocus 1 [-1,0]\nfocus 2 [1,0]\nBig Axe 4\nSmall Axe 3.4641\n"
            "Center  [0,0]\n");
}

// ---------------------------------------------------------------------------------------------
TEST(Circle3D, ProjectionOntoFramesIsCircleSegmentOrEllipse) {
  const ERCircle3D c(ERPoint3D(1, 2, 0), ERVector3D(0, 0, 1), 2);
  const ERPmIsometrie3D xy = ERChgRepere3D(ERVector3D(1, 0, 0), ERVector3D(0, 1, 0), ERPoint3D());
  const ERPmIsometrie3D xz = ERChgRepere3D(ERVector3D(1, 0, 0), ERVector3D(0, 0, 1), ERPoint3D());
  const ERPmIsometrie3D tilted =
      ERChgRepere3D(ERVector3D(1, 0, 0), ERVector3D(0, 1, 1), ERPoint3D());
  EXPECT_EQ((Seq{c.Project2DWillBeCircle(xy), c.Project2DWillBeSegment(xz)}), (Seq{true, true}));
  EXPECT_TRUE(c.Project2DWillBeEllipse(tilted));

  t_SmartPtr<EREntity2DWF> p = c.get2DEntProjectedOn(xy);
  const ERCircle2D* pc = ERCircle2D::castdown(p.get());
  ASSERT_NE(pc, nullptr);
  EXPECT_TRUE(isEqual(pc->center(), ERPoint2D(1, 2), 1e-14));
  EXPECT_EQ(pc->radius(), 2.0);

  p = c.get2DEntProjectedOn(xz);
  const ERSegment2D* ps = ERSegment2D::castdown(p.get());
  ASSERT_NE(ps, nullptr);
  EXPECT_TRUE(Near(Seq{distance(ps->getP1(), ps->getP2()), ps->getP1().y()}, Seq{4.0, 0.0}, 1e-14));
  EXPECT_NEAR(std::fmin(ps->getP1().x(), ps->getP2().x()), -1.0, 1e-14);

  p = c.get2DEntProjectedOn(tilted);
  const EREllipse2D* pe = EREllipse2D::castdown(p.get());
  ASSERT_NE(pe, nullptr);
  EXPECT_TRUE(Near(Seq{pe->getBigAxe(), pe->getSmallAxe()}, Seq{4.0, 4.0 / std::sqrt(2.0)}, 1e-13));
  // Every point of the circle lands on the projected ellipse.
  for (int k = 0; k < 12; ++k) {
    const ERPoint3D q =
        ERPoint3D(1, 2, 0) + ERVector3D(2 * std::cos(k * 0.5), 2 * std::sin(k * 0.5), 0);
    double d = 1;
    pe->SignedMinimalDistance((tilted << q).castToPoint2D(Coord3D::Z), d);
    EXPECT_NEAR(d, 0.0, 1e-12);
  }
  ERCircle3D::SetProjectionPrecision(0.8);  // a coarse precision calls the tilt a circle
  EXPECT_TRUE(c.Project2DWillBeCircle(tilted));
  ERCircle3D::SetProjectionPrecision(1e-10);
}

TEST(Circle3D, PlacementDistanceTransformations) {
  ERCircle3D c(ERCircle2D(ERPoint2D(1, 2), 3), Coord3D::X, 5);
  EXPECT_TRUE(isEqual(c.center(), ERPoint3D(5, 1, 2), 1e-14));
  EXPECT_TRUE(isEqual(c.normale(), ERVector3D(1, 0, 0), 1e-14));
  double d = 0;
  EXPECT_EQ(c.SignedMinimalDistance(ERPoint3D(9, 1, 2), d), EREntity::DISTMIN_DEGENERATE);
  EXPECT_NEAR(d, 5.0, 1e-14);
  EXPECT_EQ(c.SignedMinimalDistance(ERPoint3D(5, 1, 7), d), EREntity::DISTMIN_NORMAL);
  EXPECT_NEAR(d, 2.0, 1e-14);
  c.setCenter(ERPoint3D(0, 0, 0));
  c.setNormale(ERVector3D(0, 1, 0));
  const ERPmIsometrie3D T = ERChgRepere3D(ERVector3D(1, 1, 0), ERPoint3D(4, 0, 0));
  c.transformFrom(T);
  EXPECT_TRUE(isEqual(c.center(), ERPoint3D(4, 0, 0), 1e-14));
  c.transformTo(T);
  EXPECT_TRUE(isEqual(c.center(), ERPoint3D(0, 0, 0), 1e-13));
  EXPECT_TRUE(isEqual(c.normale(), ERVector3D(0, 1, 0), 1e-13));
}

TEST(Arc3D, LiftedEvaluationAndProjectionBack) {
  const ERPmIsometrie3D frame = ERChgRepere3D(ERVector3D(0, 1, 1), ERPoint3D(1, 1, 1));
  const ERArc2D a2(ERPoint2D(0.5, 0), 2, -0.5, 2.5);
  t_SmartPtr<EREntity3DWF> e = a2.get3DEquiv(frame);
  const ERArc3D* a3 = ERArc3D::castdown(e.get());
  ASSERT_NE(a3, nullptr);
  for (double t : {-0.5, 0.3, 2.5}) {
    const ERInfoPoint3DWF info = a3->PtCur(t);
    EXPECT_TRUE(isEqual(info.point(), frame >> a2(t).castToPoint3D(Coord3D::Z, 0), 1e-14));
    EXPECT_NEAR(info.tangente().norme(), 2.0, 1e-14);
  }
  // Lengths, boxes and plane crossings of random space arcs: checkSpaceArc.
  // Projected back on its own frame, the arc is the plane arc.
  t_SmartPtr<EREntity2DWF> back = a3->get2DEntProjectedOn(frame);
  const ERArc2D* b = ERArc2D::castdown(back.get());
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(isEqual(b->firstPt(), a2.firstPt(), 1e-13));
  EXPECT_TRUE(isEqual(b->lastPt(), a2.lastPt(), 1e-13));
}

TEST(Ellipse3D, ClosestPointProjectionAndArcs) {
  const ERPmIsometrie3D frame = ERChgRepere3D(ERVector3D(0, 0, 1), ERPoint3D(0, 0, 4));
  const EREllipse3D e(frame, EREllipse2D(3, 2, 0, ERPoint2D()));
  const ERPoint3D q = e.get_closest(ERPoint3D(5, 0, 9));
  EXPECT_TRUE(isEqual(q, ERPoint3D(3, 0, 4), 1e-12));
  double d = 0;
  e.SignedMinimalDistance(ERPoint3D(5, 0, 4), d);
  EXPECT_NEAR(d, 2.0, 1e-12);
  const ERPmIsometrie3D xy = ERChgRepere3D(ERVector3D(1, 0, 0), ERVector3D(0, 1, 0), ERPoint3D());
  t_SmartPtr<EREntity2DWF> p = e.get2DEntProjectedOn(xy);
  const EREllipse2D* pe = EREllipse2D::castdown(p.get());
  ASSERT_NE(pe, nullptr);
  EXPECT_TRUE(Near(Seq{pe->getBigAxe(), pe->getSmallAxe()}, Seq{6, 4}, 1e-13));

  const ERArcEllipse3D arc(frame, EREllipse2D(3, 2, 0.4, ERPoint2D(1, 0)), 0.2, 2);
  const ERArcEllipse2D plane = arc.Arc2D();
  EXPECT_EQ(arc.getBound(), plane.getBound());
  EXPECT_NEAR(arc.arcLength(0), plane.arcLength(0), 1e-14);
  const double t = 1.0;
  EXPECT_TRUE(isEqual(arc(t), frame >> plane(t).castToPoint3D(Coord3D::Z, 0), 1e-14));
  t_SmartPtr<ERFiniteEntity3DWF> f1, f2;
  EXPECT_EQ(arc.splitAt(f1, f2, t), 1);
  EXPECT_TRUE(isEqual((*f1)(f1->getBound().end()), arc(t), 1e-13));
  EXPECT_NEAR(f1->arcLength(0) + f2->arcLength(0), arc.arcLength(0), 1e-12);
}

TEST(Conics3D, StoredImagesRoundTripAndPrintForms) {
  const ERPmIsometrie3D frame = ERChgRepere3D(ERVector3D(0, 1, 0), ERPoint3D(1, 2, 3));
  const ERArc3D arc(frame, ERCircle2D(ERPoint2D(0.5, -1), 2), 0.25, 1.5);
  const Bytes image = imageOf(arc);
  EXPECT_EQ((Seq{image.size(), arc.binaryStoreSize()}), (Seq{156u, 156u}));
  EXPECT_EQ(Bytes(image.end() - 40, image.end()), doubles({0.5, -1, 2, 0.25, 1.5}));
  ERArc3D back;
  restoreFrom(back, image);
  EXPECT_EQ(imageOf(back), image);
  EXPECT_TRUE(isEqual(back.center(), arc.center(), 1e-14));

  const ERArcEllipse3D ae(frame, EREllipse2D(ERPoint2D(-1, 0), ERPoint2D(1, 0), 4), 0.5, 2);
  const Bytes ei = imageOf(ae);
  EXPECT_EQ((Seq{ei.size(), ae.binaryStoreSize()}), (Seq{172u, 172u}));
  EXPECT_EQ(Bytes(ei.end() - 56, ei.end()), doubles({-1, 0, 1, 0, 4, 0.5, 2}));
  ERArcEllipse3D eb;
  restoreFrom(eb, ei);
  EXPECT_EQ(imageOf(eb), ei);

  const ERCircle3D c(ERPoint3D(1, 2, 3), ERVector3D(0, 0, 1), 2);
  EXPECT_EQ(c.binaryStoreSize(), 140u);
  EXPECT_EQ(printed(c),
            "Cercle :\n       : Normale [0,0,1]\n       : Centre  [1,2,3]\n"
            "       : Radius  2\n");
}

// Every concrete line and conic class is made by name, as a database restores it.
TEST(CurveRegistry, ConcreteClassesAreMadeByName) {
  for (const char* name : {"ERSegment2D", "ERSegment3D", "ERInfLine2D", "ERInfLine3D", "ERCircle2D",
                           "ERArc2D", "EREllipse2D", "ERArcEllipse2D", "ERCircle3D", "ERArc3D",
                           "EREllipse3D", "ERArcEllipse3D"}) {
    const auto creator = ERClassRegistration::findCreator(name);
    ASSERT_NE(creator, nullptr) << name;
    EXPECT_STREQ(t_SmartPtr<ERObject>(creator())->className(), name);
  }
  EXPECT_EQ(ERClassRegistration::findCreator("EREntity"), nullptr);
}

}  // namespace
