#include "qorv/foundation/entity.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <string>
#include "qorv/foundation/finite_entity.h"
#include "qorv/foundation/info_points.h"
#include "qorv/persistence/file.h"
#include "tests/in_order.h"
#include "tests/object_images.h"

using namespace qorv;

namespace {

using qorv_test::Bytes, qorv_test::doubles, qorv_test::imageOf, qorv_test::printed;
using qorv_test::restoreFrom;

using QuickAlgebra::ERVec;
constexpr double kPi = std::numbers::pi;

// The unit circle about c, parameter the polar angle, over an angle pair.
class TestArc : public ERFiniteEntity2DWFBoundedWithAngle {
 public:
  TestArc(double start, double end, ERPoint2D c = ERPoint2D())
      : ERFiniteEntity2DWFBoundedWithAngle(start, end), c_(c) {}
  ERInfoPoint2D PtCur(double u) const override {
    const ERVector2D r(std::cos(u), std::sin(u));
    return ERInfoPoint2D(u, 1, c_ + r, ERVector2D(-r.y(), r.x()), ERVector2D(r.y(), -r.x()));
  }
  ERMinimax2D getBox() const override { return ERMinimax2D(); }
  double arcLength(const ERLimites& l, double) const override { return std::fabs(l.amplitude()); }
  double arcLength(double) const override { return std::fabs(ufin() - udeb()); }
  int splitAt(t_SmartPtr<ERFiniteEntity2DWF>&, t_SmartPtr<ERFiniteEntity2DWF>&,
              double) const override {
    return 0;
  }
  void scale(double) override {}
  void translate(const ERPoint2D& v) override { c_ += v; }
  void transformFrom(const ERTransfo2D& T) override { turn_(T, true); }
  void transformTo(const ERTransfo2D& T) override { turn_(T, false); }
  ERObject* getCopy() const override { return new TestArc(*this); }

 private:
  // Rigid maps only: the centre moves, the angles turn by the map's angle.
  void turn_(const ERTransfo2D& T, bool from) {
    const double a = from ? T.angle() : -T.angle();
    c_ = from ? T >> c_ : T << c_;
    setLimites(startAngle() + a, endAngle() + a);
  }
  ERPoint2D c_;
};

// A helix placed by a similitude: local (cos u, sin u, u) over [0, 7].
class TestHelix : public ERFiniteEntity3DWF {
 public:
  double ufin() const override { return 7.0; }
  ERLimites getBound() const override { return ERLimites(0.0, 7.0); }
  ERInfoPoint3DWF PtCur(double u) const override {
    return ERInfoPoint3DWF(u, 1, frame_ >> ERPoint3D(std::cos(u), std::sin(u), u),
                           frame_ >> ERVector3D(-std::sin(u), std::cos(u), 1.0), ERVector3D());
  }
  ERMinimax3D getBox() const override { return ERMinimax3D(); }
  double arcLength(const ERLimites&, double) const override { return 0.0; }
  double arcLength(double) const override { return 7.0; }
  int splitAt(t_SmartPtr<ERFiniteEntity3DWF>&, t_SmartPtr<ERFiniteEntity3DWF>&,
              double) const override {
    return 0;
  }
  void scale(double) override {}
  void translate(const ERPoint3D&) override {}
  void transformFrom(const ERPmSimilitude3D& T) override { frame_ = T * frame_; }
  void transformTo(const ERPmSimilitude3D& T) override { frame_ = ~T * frame_; }
  void reverse() override {}
  ERObject* getCopy() const override { return new TestHelix(*this); }
  void printOn(std::ostream&) const override {}

 private:
  ERPmSimilitude3D frame_;
};

class TestTrimmed : public ERTrimmedEntity2DWF {
 public:
  using ERTrimmedEntity2DWF::ERTrimmedEntity2DWF;
  ERInfoPoint2D PtCur(double u) const override {
    return ERInfoPoint2D(u, 1, ERPoint2D(u, 0), ERVector2D(1, 0), ERVector2D());
  }
  ERMinimax2D getBox() const override { return ERMinimax2D(); }
  double arcLength(const ERLimites&, double) const override { return 0.0; }
  double arcLength(double) const override { return 0.0; }
  int splitAt(t_SmartPtr<ERFiniteEntity2DWF>&, t_SmartPtr<ERFiniteEntity2DWF>&,
              double) const override {
    return 0;
  }
  void scale(double) override {}
  void translate(const ERPoint2D&) override {}
  void transformFrom(const ERTransfo2D&) override {}
  void transformTo(const ERTransfo2D&) override {}
  ERObject* getCopy() const override { return new TestTrimmed(*this); }
};

class TestPlanar : public ERPlanarEntity3DWF {
 public:
  using ERPlanarEntity3DWF::ERPlanarEntity3DWF, ERPlanarEntity3DWF::transformFrom;
  using ERPlanarEntity3DWF::transformTo;
  void scale(double) override {}
  void translate(const ERPoint3D&) override {}
  void transformFrom(const ERPmSimilitude3D&) override {}
  void transformTo(const ERPmSimilitude3D&) override {}
  void reverse() override {}
  ERObject* getCopy() const override { return new TestPlanar(*this); }
  void printOn(std::ostream&) const override {}
};

TEST(EntityRegistry, AbstractClassesWithTheirBases) {
  struct Expect {
    const char* name;
    const char* base;
  };
  for (const Expect& e :
       {Expect{"EREntity", "ERObject"}, Expect{"EREntity2D", "EREntity"},
        Expect{"EREntity3DWF", "EREntity3D"}, Expect{"ERFiniteEntity2DWF", "EREntity2DWF"},
        Expect{"ERLimitedEntity3DWF", "ERFiniteEntity3DWF"},
        Expect{"ERTrimmedEntity2DWF", "ERLimitedEntity2DWF"},
        Expect{"ERFiniteEntity3DWFBoundedWithAngle", "ERFiniteEntity3DWF"},
        Expect{"ERPlanarEntity3DWF", "EREntity3DWF"}}) {
    const ERClassRegistration* r = ERClassRegistration::findClassRegistration(e.name);
    ASSERT_NE(r, nullptr) << e.name;
    EXPECT_EQ(r->creator(), nullptr) << e.name;
    ASSERT_NE(r->bases()[0], nullptr);
    EXPECT_STREQ(r->bases()[0]->getName(), e.base);
    EXPECT_EQ(r->bases()[1], nullptr);
  }
  // One ERObject through the virtual wireframe base; castdown finds each level.
  TestArc arc(0, 1);
  ERObject* o = &arc;
  EXPECT_EQ((Seq{ERFiniteEntity2DWFBoundedWithAngle::castdown(o), EREntity2DWF::castdown(o),
                 ERLimitedEntity2DWF::castdown(o), bool(arc.isKindOf(EREntity::desc()))}),
            (Seq{&arc, static_cast<EREntity2DWF*>(&arc), nullptr, true}));
}

TEST(InfoPoints, RadiusNormalAndSingularities) {
  const ERInfoPoint2D straight(0, 1, ERPoint2D(), ERVector2D(2, 0), ERVector2D());
  EXPECT_EQ(straight.radius(), 1.7976931348623157e308);
  EXPECT_EQ(straight.normale(), ERVector2D(0, 1));
  // Radius 3 traversed at speed 3: T = 3 (-s, c), A the quarter turn clockwise.
  const double t = 0.7;
  const ERVector2D T(-3 * std::sin(t), 3 * std::cos(t));
  const ERInfoPoint2D circ(t, 1, ERPoint2D(), T, ERVector2D(T.y(), -T.x()));
  EXPECT_NEAR(circ.radius(), 3.0, 1e-14);

  const ERInfoPoint3DWF helix(0, 1, ERPoint3D(1, 0, 0), ERVector3D(0, 1, 1), ERVector3D(-1, 0, 0));
  EXPECT_NEAR(helix.radius(), 2.0, 1e-14);  // a helix of radius 1 and pitch 2 pi
  const ERVector3D n = helix.normale();
  EXPECT_TRUE(Near(Seq{n.x(), n * helix.tangente()}, Seq{-1.0, 0.0}, 1e-15));
  EXPECT_EQ((Seq{helix.isTgteSingular(), helix.isNormSingular()}), (Seq{false, false}));
  const ERInfoPoint3DWF parallel(0, 1, ERPoint3D(), ERVector3D(1, 0, 0), ERVector3D(2, 0, 0));
  EXPECT_TRUE(parallel.isNormSingular());
  EXPECT_EQ((Seq{parallel.normale(), parallel.radius()}), (Seq{ERVector3D(), DBL_MAX}));
  EXPECT_TRUE(ERInfoPoint3DWF().isTgteSingular());
  EXPECT_EQ(ERInfoPoint3DWF().Sens(), 1);
}

TEST(InfoPoints, LiftedThroughAFrame) {
  const ERInfoPoint2D info(0.25, -1, ERPoint2D(1, 2), ERVector2D(3, 4), ERVector2D(5, 6));
  const ERPmIsometrie3D frame = ERChgRepere3D(ERVector3D(0, 0, 1), ERPoint3D(10, 20, 30));
  const ERInfoPoint3DWF lifted(info, frame, Coord3D::X, 7.0);
  EXPECT_EQ((Seq{lifted.parameter(), lifted.Sens()}), (Seq{0.25, -1}));
  const ERPoint3D want = frame >> ERPoint3D(7, 1, 2);
  EXPECT_TRUE(isEqual(lifted.point(), want, 1e-12));
  EXPECT_TRUE(isEqual(lifted.tangente(), frame >> ERVector3D(0, 3, 4), 1e-12));
  EXPECT_TRUE(isEqual(lifted.secondOrder(), frame >> ERVector3D(0, 5, 6), 1e-12));
}

TEST(InfoPoints, PrintForms) {
  EXPECT_EQ(printed(ERInfoPoint2D(0.5, 1, ERPoint2D(1, 2), ERVector2D(0, 2), ERVector2D())),
            "- Parametre     : 0.5\n- Sens          : 1\n- Point courant : [1,2]\n"
            "- Tangente      : [0,2]\n- Normale       : [-1,0]\n"
            "- courbure      : 1.79769e+308\n");
  EXPECT_EQ(printed(ERInfoPoint3DWF(2, -1, ERPoint3D(1, 0, 0), ERVector3D(0, 1, 0),
                                    ERVector3D(-1, 0, 0))),
            "- Parametre         :  u = 2\n- Sens              :  s = -1\n"
            "- Point courant     :  P = [1,0,0]\n- Tangente          :  T = [0,1,0]\n"
            "- Normale           :  N = [-1,0,0]\n- Rayon de courbure :  R = 1\n");
}

TEST(FiniteCurve, ApproximationRefinesByHalvingToTheTolerance) {
  const TestArc half(0, kPi);
  const double tol = 0.01;
  const ERVec<ERPoint2D> pts = half.approxime(half.getBound(), tol);
  // Sagitta 1 - cos(step / 2) <= 0.01 first holds at step pi / 16.
  ASSERT_EQ(pts.length(), 17);
  for (int i = 0; i + 1 < pts.length(); ++i) {
    const double a = std::atan2(pts[i].y(), pts[i].x()),
                 b = std::atan2(pts[i + 1].y(), pts[i + 1].x());
    EXPECT_NEAR(b - a, kPi / 16, 1e-12);
    const ERPoint2D m = half((a + b) / 2);
    const ERVector2D chord(pts[i], pts[i + 1]);
    EXPECT_LE(std::fabs(chord ^ ERVector2D(pts[i], m)) / chord.norme(), tol);
  }
  EXPECT_EQ((Seq{pts[0], pts.last()}), (Seq{half(0), half(kPi)}));
}

TEST(FiniteCurve, ApproximationAlwaysEnds) {
  const TestArc arc(0, 2 * kPi);
  // NaN tolerance: the two ends. A full circle's ends coincide: measured from the point.
  EXPECT_EQ(arc.approxime(ERLimites(0, 1), std::nan("")).length(), 2);
  EXPECT_GT(arc.approxime(ERLimites(0, 2 * kPi), 0.5).length(), 2);
  // Tolerance 0 stops at the 1e-7 parameter floor: 1e-6 halved four times.
  EXPECT_EQ(arc.approxime(ERLimites(0, 1e-6), 0.0).length(), 17);
  EXPECT_EQ(arc.approxime(ERLimites(0, 1e-8), 0.0).length(), 2);
  // Infinite and NaN ranges end too.
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(arc.approxime(ERLimites(0, inf), 0.0).length(), 2);
  EXPECT_EQ(arc.approxime(ERLimites(-inf, inf), 0.0).length(), 2);
  EXPECT_EQ(arc.approxime(ERLimites(std::nan(""), 1), 0.0).length(), 2);
  // Equal steps.
  const ERVec<ERPoint2D> five = TestArc(0, kPi).approxime(5);
  ASSERT_EQ(five.length(), 5);
  EXPECT_TRUE(isEqual(five[2], ERPoint2D(0, 1), 1e-15));
  EXPECT_EQ(TestArc(0, kPi).approxime(-3).length(), 2);
}

TEST(FiniteCurve, AngleBoundsAndRandomPoints) {
  const TestArc arc(3 * kPi / 2, kPi / 2);
  EXPECT_EQ((Seq{arc.udeb(), arc.ufin(), arc.getBound()}),
            (Seq{3 * kPi / 2, kPi / 2, ERLimites(kPi / 2, 3 * kPi / 2)}));
  EXPECT_EQ((Seq{arc.isClosed(1.0), TestArc(0, 2 * kPi).isClosed(0.0)}), (Seq{false, true}));
  EXPECT_TRUE(TestArc(2 * kPi, 0).isClosed(0.0));
  EXPECT_FALSE(TestArc(0, 2 * kPi - 1e-15).isClosed(1.0));  // exact, tol ignored
  EXPECT_EQ(arc.firstPt(), arc(3 * kPi / 2));

  const unsigned seed = 20240611u;
  std::srand(seed);
  SCOPED_TRACE("srand seed " + std::to_string(seed));
  for (const TestArc& a : {arc, TestArc(-1, 1), TestArc(5, 5)}) {
    for (int i = 0; i < 200; ++i) {
      const double u = a.randomPoint().parameter();
      EXPECT_GE(u, a.getBound().start());
      EXPECT_LE(u, a.getBound().end());
    }
  }
  TestArc r(1, 2);
  r.reverse();
  EXPECT_EQ((Seq{r.udeb(), r.ufin()}), (Seq{2.0, 1.0}));
}

TEST(FiniteCurve, CrossingsAndLineIntersection) {
  const TestArc half(0, kPi);
  ERVec<double> params;
  EXPECT_EQ(half.intersectWithAxeY(0.5, params), 1);
  EXPECT_NEAR(params[0], kPi / 3, 1e-14);
  // The line x = 0.5 seen from (0.5, 7) along its normal (2, 0): a translated copy, so the
  // arc keeps its parameters.
  params.clear();
  EXPECT_EQ(half.intersectWith(ERPoint2D(0.5, 7), ERVector2D(2, 0), params), 1);
  EXPECT_NEAR(params[0], kPi / 3, 1e-14);
  params.clear();
  EXPECT_EQ(half.intersectWithAxeY(0.5, params), 1);
  // Appends: the count is the length of params.
  EXPECT_EQ(half.intersectWithAxeY(0.0, params), 2);
  EXPECT_NEAR(params[1], kPi / 2, 1e-14);

  const TestHelix helix;
  ERVec<double> z;
  EXPECT_EQ(helix.intersectWithPlanZ(2.5, z), 1);
  EXPECT_NEAR(z[0], 2.5, 1e-14);
  z.clear();
  EXPECT_EQ(helix.intersectWith(ERPoint3D(0, 0, 1), ERVector3D(0, 0, 3), z), 1);
  EXPECT_NEAR(z[0], 1.0, 1e-12);
  z.clear();
  // The plane x = 0 (normal X): cos u = 0 at pi / 2 and 3 pi / 2.
  EXPECT_EQ(helix.intersectWith(ERPoint3D(0, 5, 0), ERVector3D(1, 0, 0), z), 2);
  EXPECT_TRUE(Near(Seq{z[0], z[1]}, Seq{kPi / 2, 3 * kPi / 2}, 1e-12));
}

TEST(FiniteCurve, DefaultSignedDistanceAndInterfaceDefaults) {
  const TestArc half(0, kPi);
  double d = 0, u = 0;
  // Travelling counter-clockwise, the outside is on the right: positive.
  EXPECT_EQ(half.SignedMinimalDistance(ERPoint2D(1, 1), d, u), EREntity::DISTMIN_NORMAL);
  EXPECT_NEAR(d, std::sqrt(2.0) - 1, 1e-9);
  EXPECT_NEAR(u, kPi / 4, 1e-7);
  EXPECT_EQ(half.SignedMinimalDistance(ERPoint2D(0, 0.25), d), EREntity::DISTMIN_NORMAL);
  EXPECT_NEAR(d, -0.75, 1e-9);
  EXPECT_EQ(half.SignedMinimalDistance(ERPoint2D(3, -1), d, u), EREntity::DISTMIN_END_POINT);
  EXPECT_EQ(u, 0.0);
  EXPECT_NEAR(std::fabs(d), std::sqrt(5.0), 1e-12);

  ERVec<double> params(3);
  EXPECT_EQ(half.ProjectPoint(ERPoint2D(1, 1), params, 0.1), 0);
  EXPECT_EQ((Seq{params.length(), half.GetDiscontinuities(2, params)}), (Seq{3, 1}));
  EXPECT_TRUE(params.isEmpty());
  EXPECT_EQ((Seq{half.IsContinuous(5), half.upperEstimate()}), (Seq{1, kPi}));
  EXPECT_TRUE(isEqual(half.normal(0.0), ERVector2D(-1, 0), 1e-15));
  double dEntity = 7;
  EXPECT_EQ(TestPlanar().SignedMinimalDistance(ERPoint3D(), dEntity), EREntity::DISTMIN_NONE);
  EXPECT_EQ(dEntity, 7.0);
}

TEST(TrimmedCurve, BoundsAdjustReparametrizeReverse) {
  TestTrimmed c(ERLimites(0, 10));
  EXPECT_EQ((Seq{bool(c.isTrimmed()), c.setBound(ERLimites(2, 4)), bool(c.isTrimmed())}),
            (Seq{false, ERLimites(0, 10), true}));
  EXPECT_EQ((Seq{c.udeb(), c.Nfin(), c.lastPt()}), (Seq{2.0, 10.0, ERPoint2D(4, 0)}));
  c.reverse();
  EXPECT_EQ(c.getBound(), ERLimites(6, 8));
  c.reparametrize(ERLimites(0, 1));
  EXPECT_EQ(c.domain(), ERLimites(0, 1));
  EXPECT_TRUE(Near(Seq{c.udeb(), c.ufin()}, Seq{0.6, 0.8}, 1e-15));
  c.adjust();
  EXPECT_FALSE(c.isTrimmed());
  c.redefineDomain(ERLimites(0.7, 0.75));
  EXPECT_EQ((Seq{c.domain(), bool(c.isTrimmed())}), (Seq{ERLimites(0.7, 0.75), false}));
}

TEST(BoundedCurves, StoredImages) {
  TestTrimmed c(ERLimites(-1, 3), ERLimites(0.5, 2));
  EXPECT_EQ((Seq{imageOf(c), c.binaryStoreSize()}), (Seq{doubles({-1, 3, 0.5, 2}), 32u}));
  TestTrimmed back;
  restoreFrom(back, doubles({-1, 3, 0.5, 2}));
  EXPECT_EQ((Seq{back.domain(), back.getBound()}), (Seq{ERLimites(-1, 3), ERLimites(0.5, 2)}));
  Bytes shortImage = doubles({7, 8, 9});
  shortImage.pop_back();
  restoreFrom(back, shortImage);
  EXPECT_EQ(back.domain(), ERLimites(7, 8));
  EXPECT_EQ(back.getBound(), ERLimites(0.5, 2));  // the short half kept its value

  const TestArc arc(0.25, -4);
  EXPECT_EQ((Seq{imageOf(arc), arc.binaryStoreSize()}), (Seq{doubles({0.25, -4}), 16u}));
  EXPECT_EQ(printed(arc), "Angle de Debut:0.25 (14.3239)\nAngle de Fin  :-4 (-229.183)\n");

  const TestPlanar planar(ERChgRepere3D(ERVector3D(0, 1, 0), ERPoint3D(1, 2, 3)));
  const Bytes image = imageOf(planar);
  EXPECT_EQ((Seq{image.size(), planar.binaryStoreSize()}), (Seq{116u, 116u}));
  TestPlanar restored;
  restoreFrom(restored, image);
  EXPECT_TRUE(isEqual(restored.normale(), ERVector3D(0, 1, 0), 1e-15));
  EXPECT_TRUE(isEqual(restored.getRepere().origine(), ERPoint3D(1, 2, 3), 1e-15));
}

TEST(PlanarEntity, IsometriesComposeTheFrame) {
  TestPlanar p(ERChgRepere3D(ERVector3D(0, 0, 1), ERPoint3D(1, 0, 0)));
  const ERPmIsometrie3D turn = ERChgRepere3D(ERVector3D(1, 0, 0), ERPoint3D(0, 0, 5));
  p.transformFrom(turn);
  EXPECT_TRUE(isEqual(p.normale(), turn >> ERVector3D(0, 0, 1), 1e-15));
  EXPECT_TRUE(isEqual(p.getRepere().origine(), turn >> ERPoint3D(1, 0, 0), 1e-15));
  p.transformTo(turn);
  EXPECT_TRUE(isEqual(p.normale(), ERVector3D(0, 0, 1), 1e-15));
  EXPECT_TRUE(isEqual(p.getRepere().origine(), ERPoint3D(1, 0, 0), 1e-15));
}

}  // namespace
