#include "qorv/curves/lines.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include "qorv/persistence/file.h"
#include "tests/in_order.h"
#include "tests/object_images.h"

using namespace qorv;

namespace {

using qorv_test::Bytes, qorv_test::imageOf, qorv_test::printed, qorv_test::restoreFrom;

using QuickAlgebra::ERVec;

template <class... V>
Bytes doubles(const V&... values) {
  Bytes out;
  auto put = [&](const double* v, int n) {
    for (int i = 0; i < n; ++i) {
      const auto bits = std::bit_cast<std::uint64_t>(v[i]);
      for (int k = 0; k < 8; ++k) out.push_back(static_cast<unsigned char>(bits >> (8 * k)));
    }
  };
  (put(values.data(), values.kSize), ...);
  return out;
}

// The twins with what differs between them.
struct Plane {
  using Segment = ERSegment2D;
  using Finite = ERFiniteEntity2DWF;
  using Point = ERPoint2D;
  using Vector = ERVector2D;
  static Point point(double x, double y, double) { return Point(x, y); }
  static const char* name() { return "ERSegment2D"; }
};
struct Space {
  using Segment = ERSegment3D;
  using Finite = ERFiniteEntity3DWF;
  using Point = ERPoint3D;
  using Vector = ERVector3D;
  static Point point(double x, double y, double z) { return Point(x, y, z); }
  static const char* name() { return "ERSegment3D"; }
};

template <class Dim>
class SegmentTest : public ::testing::Test {};
using Dims = ::testing::Types<Plane, Space>;
TYPED_TEST_SUITE(SegmentTest, Dims);

TYPED_TEST(SegmentTest, ParametrisationSplitAndReverse) {
  using Seg = typename TypeParam::Segment;
  using Vec = typename TypeParam::Vector;
  const auto a = TypeParam::point(1, 2, 3), b = TypeParam::point(5, -2, 7);
  const Seg s(a, b);
  EXPECT_EQ((Seq{s(0.0), s(1.0)}), (Seq{a, b}));
  EXPECT_EQ(s(2.0), TypeParam::point(9, -6, 11));  // not clamped
  EXPECT_EQ(s.getBound(), ERLimites(0, 1));
  const auto info = s.PtCur(0.25);
  EXPECT_EQ((Seq{info.parameter(), info.Sens()}), (Seq{0.25, 1}));
  EXPECT_EQ(info.point(), s(0.25));
  EXPECT_EQ((Seq{info.tangente(), info.secondOrder()}), (Seq{Vec(a, b), Vec()}));
  EXPECT_EQ((Seq{s.isClosed(1e9), Seg(a, a).isClosed(1.0)}), (Seq{false, false}));
  EXPECT_DOUBLE_EQ(s.arcLength(0.5), distance(a, b));
  EXPECT_DOUBLE_EQ(s.arcLength(ERLimites(0.75, 0.25), 0.5), distance(a, b) / 2);
  EXPECT_EQ((Seq{s.upperEstimate(), s.getBox().MinPoint(), s.getBox().MaxPoint()}),
            (Seq{s.arcLength(0.0), TypeParam::point(1, -2, 3), TypeParam::point(5, 2, 7)}));

  t_SmartPtr<typename TypeParam::Finite> first, second;
  EXPECT_EQ(s.splitAt(first, second, 1.5), 1);  // u is not checked
  ASSERT_TRUE(first && second);
  EXPECT_STREQ(first->className(), TypeParam::name());
  EXPECT_EQ((Seq{first->firstPt(), first->lastPt(), second->firstPt(), second->lastPt()}),
            (Seq{a, s(1.5), s(1.5), b}));

  Seg r(s);
  r.reverse();
  EXPECT_EQ((Seq{r.getP1(), r.getP2()}), (Seq{b, a}));
  r.scale(2);
  r.translate(TypeParam::point(1, 1, 1));
  EXPECT_EQ(r.getP1(), TypeParam::point(11, -3, 15));
}

TYPED_TEST(SegmentTest, ApproximationIsTheTwoEnds) {
  using Seg = typename TypeParam::Segment;
  const auto a = TypeParam::point(0.1, 0.7, -3), b = TypeParam::point(1e3, -0.3, 1.0 / 3);
  const Seg s(a, b);
  EXPECT_EQ((Seq{s.approxime(50).length(), s.approxime(0)[1]}), (Seq{2, b}));
  for (double tol : {1.0, 1e-300, 0.0, -1.0, std::nan("")}) {
    const auto pts = s.approxime(ERLimites(0.25, 0.5), tol);
    ASSERT_EQ(pts.length(), 2) << tol;
    EXPECT_EQ((Seq{pts[0], pts[1]}), (Seq{s(0.25), s(0.5)}));
  }
  // randomPoint stays in [0, 1] although rand() reaches 2^31 - 1.
  const unsigned seed = 77u;
  std::srand(seed);
  SCOPED_TRACE("srand seed " + std::to_string(seed));
  for (int i = 0; i < 100; ++i) {
    const double u = s.randomPoint().parameter();
    EXPECT_GE(u, 0.0);
    EXPECT_LE(u, 1.0);
  }
}

TYPED_TEST(SegmentTest, StoredImageRoundTrip) {
  using Seg = typename TypeParam::Segment;
  const auto a = TypeParam::point(1.5, -2, 1e-300), b = TypeParam::point(-0.0, 3, 7);
  const Seg s(a, b);
  const Bytes want = doubles(a, b);
  EXPECT_EQ((Seq{imageOf(s), s.binaryStoreSize()}), (Seq{want, want.size()}));
  Seg back;
  restoreFrom(back, want);
  EXPECT_EQ((Seq{back.getP1(), back.getP2()}), (Seq{a, b}));
  Seg kept(b, a);
  restoreFrom(kept, Bytes(want.begin(), want.end() - 1));
  EXPECT_EQ(kept.getP1(), b);  // a short record changes nothing
  EXPECT_EQ(kept.getP2(), a);
}

TYPED_TEST(SegmentTest, ZeroLengthIsDegenerateNotFatal) {
  using Seg = typename TypeParam::Segment;
  const auto p = TypeParam::point(1, 1, 1);
  const Seg s(p, p);
  EXPECT_EQ(s.dirVector(), typename TypeParam::Vector());
  double d = 0;
  EXPECT_EQ(s.SignedMinimalDistance(TypeParam::point(4, 5, 1), d), EREntity::DISTMIN_END_POINT);
  EXPECT_DOUBLE_EQ(std::fabs(d), 5.0);
  EXPECT_EQ(s.approxime(ERLimites(0, 1), 0.0).length(), 2);
}

TEST(Segment2D, SignedDistanceSidesKindsAndClamping) {
  const ERSegment2D s(ERPoint2D(0, 0), ERPoint2D(10, 0));
  double d = 0, u = 0;
  EXPECT_EQ(s.SignedMinimalDistance(ERPoint2D(5, 3), d, u), EREntity::DISTMIN_NORMAL);
  EXPECT_EQ(d, -3.0);  // left of the direction
  EXPECT_EQ((Seq{u, s.SignedMinimalDistance(ERPoint2D(5, -3), d, u), d}),
            (Seq{0.5, EREntity::DISTMIN_NORMAL, 3.0}));
  EXPECT_EQ(s.SignedMinimalDistance(ERPoint2D(12, 0), d, u), EREntity::DISTMIN_END_POINT);
  EXPECT_EQ(d, -2.0);  // on the supporting line: the negative sign
  EXPECT_EQ((Seq{u, s.SignedMinimalDistance(ERPoint2D(-3, -4), d, u), d, u}),
            (Seq{1.0, EREntity::DISTMIN_END_POINT, 5.0, 0.0}));
  // The band reaches 1e-7 past the ends.
  EXPECT_EQ(s.SignedMinimalDistance(ERPoint2D(10.0000005, 1), d, u), EREntity::DISTMIN_NORMAL);
  EXPECT_EQ(u, 1.0);
  EXPECT_EQ(s.SignedMinimalDistance(ERPoint2D(10.000002, 1), d), EREntity::DISTMIN_END_POINT);
  // A steep segment measures u along y.
  const ERSegment2D steep(ERPoint2D(0, 0), ERPoint2D(1, 4));
  EXPECT_EQ(steep.SignedMinimalDistance(ERPoint2D(0.5, 2), d, u), EREntity::DISTMIN_NORMAL);
  EXPECT_TRUE(Near(Seq{u, d}, Seq{0.5, 0.0}, 1e-15));
  EXPECT_TRUE(isEqual(steep.normalVector(), ERVector2D(-4, 1) / std::sqrt(17.0), 1e-15));
  EXPECT_EQ(steep.normal(42.0), steep.normalVector());
}

TEST(Segment2D, ProjectionsAndCrossings) {
  const ERSegment2D s(ERPoint2D(0, 0), ERPoint2D(10, 0));
  ERVec<double> params;
  EXPECT_EQ((Seq{s.ProjectPoint(ERPoint2D(2.5, 7), params, 0), params[0]}), (Seq{1, 0.25}));
  EXPECT_EQ(s.ProjectPoint(ERPoint2D(-1, 0), params, 0), 1);  // outside: nothing added
  EXPECT_EQ(s.ProjectPoint(ERPoint2D(10, 1), params, 0), 2);
  const ERSegment2D point(ERPoint2D(1, 1), ERPoint2D(1, 1));
  EXPECT_EQ(point.ProjectPoint(ERPoint2D(1, 1), params, 0), 2);  // NaN: not appended

  params.clear();
  EXPECT_EQ((Seq{s.intersectWithAxeY(4, params), params[0]}), (Seq{1, 0.4}));
  EXPECT_EQ(s.intersectWithAxeY(11, params), 1);
  const ERSegment2D vertical(ERPoint2D(3, 0), ERPoint2D(3, 1));
  EXPECT_EQ((Seq{vertical.intersectWithAxeY(3, params), params.length()}), (Seq{0, 1}));
  // Lines of any normal: LineProperties.PlaneLinesAndSegmentsAtEveryMagnitude.
}

TEST(Segment3D, PlaneCrossingsAndUnsignedDistance) {
  const ERSegment3D s(ERPoint3D(0, 0, 0), ERPoint3D(0, 0, 10));
  ERVec<double> params;
  EXPECT_EQ((Seq{s.intersectWithPlanZ(5, params), params[0]}), (Seq{1, 0.5}));
  EXPECT_EQ(s.intersectWithPlanZ(-1, params), 1);
  const ERSegment3D flat(ERPoint3D(0, 0, 2), ERPoint3D(1, 1, 2));
  EXPECT_EQ((Seq{flat.intersectWithPlanZ(2, params), params.length()}), (Seq{0, 1}));
  EXPECT_EQ(s.ProjectPoint(ERPoint3D(0, 0, 5), params, 0), 0);  // the finite default

  double d = -1;
  EXPECT_EQ(s.SignedMinimalDistance(ERPoint3D(3, 4, 5), d), EREntity::DISTMIN_NORMAL);
  EXPECT_EQ((Seq{d, s.SignedMinimalDistance(ERPoint3D(0, 3, 14), d), d}),
            (Seq{5.0, EREntity::DISTMIN_END_POINT, 5.0}));
  EXPECT_EQ(s.SignedMinimalDistance(ERPoint3D(0, -3, -4), d), EREntity::DISTMIN_END_POINT);
  EXPECT_EQ(d, 5.0);
}

TEST(Segments, PlacedAndProjectedThroughAFrame) {
  const ERPmIsometrie3D frame = ERChgRepere3D(ERVector3D(1, 2, 2), ERPoint3D(1, -1, 3));
  const ERSegment2D s(ERPoint2D(1, 2), ERPoint2D(-3, 0.5));
  const t_SmartPtr<EREntity3DWF> lifted = s.get3DEquiv(frame);
  const ERSegment3D* s3 = ERSegment3D::castdown(lifted.get());
  ASSERT_NE(s3, nullptr);
  EXPECT_TRUE(isEqual(s3->getP1(), frame >> ERPoint3D(1, 2, 0), 1e-15));
  const t_SmartPtr<EREntity2DWF> back = s3->get2DEntProjectedOn(frame);
  const ERSegment2D* s2 = ERSegment2D::castdown(back.get());
  ASSERT_NE(s2, nullptr);
  EXPECT_TRUE(isEqual(s2->getP1(), s.getP1(), 1e-14));
  EXPECT_TRUE(isEqual(s2->getP2(), s.getP2(), 1e-14));

  ERSegment3D moved(*s3);
  moved.transformTo(frame);  // the isometry form reaches the similitude override
  EXPECT_TRUE(isEqual(moved.getP2(), ERPoint3D(-3, 0.5, 0), 1e-14));
  moved.transformFrom(frame);
  EXPECT_TRUE(isEqual(moved.getP2(), s3->getP2(), 1e-14));
}

TEST(InfLine2D, ConstructionTakesTheFootFromTheOrigin) {
  // Through two points, and signed distances:
  // LineProperties.PlaneLinesAndSegmentsAtEveryMagnitude.
  const ERInfLine2D y5(0, 1, -5);
  EXPECT_EQ((Seq{y5.dirVector(), y5.origine()}), (Seq{ERVector2D(-1, 0), ERPoint2D(0, 5)}));
  // 3x + 4y - 10 = 0: scaled by 1/5, the foot is (1.2, 1.6).
  const ERInfLine2D l34(3, 4, -10);
  EXPECT_TRUE(isEqual(l34.dirVector(), ERVector2D(-0.8, 0.6), 1e-15));
  EXPECT_TRUE(isEqual(l34.origine(), ERPoint2D(1.2, 1.6), 1e-15));
  const ERInfLine2D x2(2, 0, -4);  // x = 2, through (2, 0)
  EXPECT_EQ(x2.origine(), ERPoint2D(2, 0));
  const ERInfLine2D none(0, 0, 3);
  EXPECT_EQ((Seq{none.dirVector(), none.origine()}), (Seq{ERVector2D(), ERPoint2D()}));
  const ERInfLine2D same(ERPoint2D(2, 3), ERPoint2D(2, 3));
  EXPECT_EQ((Seq{same.dirVector(), same.origine()}), (Seq{ERVector2D(), ERPoint2D(2, 3)}));
}

TEST(InfLine2D, OffsetsParallelsAndMoves) {
  ERInfLine2D l(ERVector2D(0, 3), ERPoint2D(2, 9));  // x = 2, going up
  EXPECT_EQ((Seq{l.origine(), l.normalVector(), l.parallele(1.5).origine(), l.origine()}),
            (Seq{ERPoint2D(2, 0), ERVector2D(-1, 0), ERPoint2D(0.5, 0), ERPoint2D(2, 0)}));
  EXPECT_EQ(l.projectPt(ERPoint2D(7, 7)), ERPoint2D(2, 7));
  // isParallelTo is the perpendicularity test; IsParallelTo in space the parallel one.
  EXPECT_TRUE(l.isParallelTo(ERInfLine2D(ERPoint2D(0, 0), ERPoint2D(1, 0)), 1e-12));
  EXPECT_FALSE(l.isParallelTo(ERInfLine2D(ERPoint2D(0, 0), ERPoint2D(0, 1)), 1e-12));
  const ERInfLine3D z;
  EXPECT_TRUE(z.IsParallelTo(ERInfLine3D(ERPoint3D(1, 1, 5), ERPoint3D(1, 1, -5)), 1e-15));
  EXPECT_FALSE(z.IsParallelTo(ERInfLine3D(ERPoint3D(), ERPoint3D(1, 0, 1)), 0.1));

  l.translate(ERPoint2D(1, 1));
  EXPECT_EQ(l.origine(), ERPoint2D(3, 1));  // not re-taken as the foot
  l.scale(2);
  EXPECT_EQ((Seq{l.origine(), l.dirVector()}), (Seq{ERPoint2D(6, 2), ERVector2D(0, 1)}));
  l.reverse();
  EXPECT_EQ(l.dirVector(), ERVector2D(-0.0, -1));
  const ERTransfo2D T(ERVector2D(0, 1), ERPoint2D(1, 1));  // quarter turn, then (1, 1)
  l.transformFrom(T);
  EXPECT_TRUE(isEqual(l.origine(), ERPoint2D(-1, 7), 1e-15));
  EXPECT_TRUE(isEqual(l.dirVector(), ERVector2D(1, 0), 1e-15));
  l.transformTo(T);
  EXPECT_TRUE(isEqual(l.origine(), ERPoint2D(6, 2), 1e-14));
  EXPECT_EQ(ERInfLine2D(ERSegment2D(ERPoint2D(1, 5), ERPoint2D(3, 5))).origine(), ERPoint2D(0, 5));
}

TEST(InfLine3D, DistancesFramesAndLifts) {
  const ERInfLine3D l(ERPoint3D(1, 2, 3), ERPoint3D(1, 2, 8));
  EXPECT_EQ((Seq{l.dirVector(), l.origine()}), (Seq{ERVector3D(0, 0, 1), ERPoint3D(1, 2, 0)}));
  double d = -1;
  EXPECT_EQ(l.SignedMinimalDistance(ERPoint3D(4, 6, -9), d), EREntity::DISTMIN_UNSIGNED);
  EXPECT_EQ((Seq{d, distance(l, ERPoint3D(1, 2, 100)), ERInfLine3D().dirVector()}),
            (Seq{5.0, 0.0, ERVector3D(0, 0, 1)}));
  EXPECT_EQ(ERInfLine3D(ERSegment3D(ERPoint3D(5, 0, 1), ERPoint3D(5, 3, 1))).origine(),
            ERPoint3D(5, 0, 1));

  const ERInfLine2D flat(ERPoint2D(0, 5), ERPoint2D(1, 5));
  const ERInfLine3D onX(flat, Coord3D::X, 2.0);  // (h, u, v)
  EXPECT_EQ((Seq{onX.dirVector(), onX.origine()}), (Seq{ERVector3D(0, 1, 0), ERPoint3D(2, 0, 5)}));

  const ERPmIsometrie3D frame = ERChgRepere3D(ERVector3D(0, 1, 1), ERPoint3D(3, 0, 0));
  const t_SmartPtr<EREntity3DWF> placed = flat.get3DEquiv(frame);
  const ERInfLine3D* l3 = ERInfLine3D::castdown(placed.get());
  ASSERT_NE(l3, nullptr);
  EXPECT_NEAR(distance(*l3, frame >> ERPoint3D(7, 5, 0)), 0.0, 1e-14);
  EXPECT_TRUE(isEqual(l3->dirVector(), frame >> ERVector3D(1, 0, 0), 1e-15));
  const t_SmartPtr<EREntity2DWF> back = l3->get2DEntProjectedOn(frame);
  const ERInfLine2D* l2 = ERInfLine2D::castdown(back.get());
  ASSERT_NE(l2, nullptr);
  EXPECT_TRUE(isEqual(l2->dirVector(), flat.dirVector(), 1e-15));
  EXPECT_TRUE(isEqual(l2->origine(), flat.origine(), 1e-14));

  ERInfLine3D m(l);
  m.transformFrom(frame);
  EXPECT_TRUE(isEqual(m.origine(), frame >> l.origine(), 1e-15));
  m.transformTo(frame);
  EXPECT_TRUE(isEqual(m.origine(), l.origine(), 1e-14));
  m.translate(ERPoint3D(1, 0, 0));
  m.scale(-1);
  m.reverse();
  EXPECT_TRUE(isEqual(m.origine(), ERPoint3D(-2, -2, 0), 1e-14));
  EXPECT_TRUE(isEqual(m.dirVector(), ERVector3D(0, 0, -1), 1e-15));
}

TEST(Lines, StoredImagesAndPrintForms) {
  const ERInfLine2D l2(ERPoint2D(1, 5), ERPoint2D(3, 5));
  EXPECT_EQ(imageOf(l2), doubles(ERVector2D(1, 0), ERPoint2D(0, 5)));
  EXPECT_EQ(l2.binaryStoreSize(), 32u);
  ERInfLine2D b2;
  restoreFrom(b2, doubles(ERVector2D(0.6, 0.8), ERPoint2D(-4, 3)));
  EXPECT_EQ((Seq{b2.dirVector(), b2.origine()}), (Seq{ERVector2D(0.6, 0.8), ERPoint2D(-4, 3)}));
  restoreFrom(b2, Bytes(31, 0));
  EXPECT_EQ(b2.origine(), ERPoint2D(-4, 3));

  const ERInfLine3D l3(ERPoint3D(1, 2, 3), ERPoint3D(1, 2, 8));
  EXPECT_EQ(imageOf(l3), doubles(ERVector3D(0, 0, 1), ERPoint3D(1, 2, 0)));
  EXPECT_EQ(l3.binaryStoreSize(), 48u);
  ERInfLine3D b3;
  restoreFrom(b3, doubles(ERVector3D(1, 0, 0), ERPoint3D(0, 7, 8)));
  EXPECT_EQ(b3.origine(), ERPoint3D(0, 7, 8));

  EXPECT_EQ(printed(l2), "InfLine2D O[    0,    5] V[    1,    0] (  0 *x + -1 *y + 5 = 0 )\n");
  EXPECT_EQ(printed(ERInfLine2D(ERVector2D(1, 1), ERPoint2D(0, 1))),
            "InfLine2D O[ -0.5,  0.5] V[0.707,0.707] (  0.707 *x + -0.707 *y + 0.707 = 0 )\n");
  std::ostringstream keep;
  keep.precision(10);
  keep << l2 << 1.0 / 3;
  EXPECT_NE(keep.str().find("0.3333333333"), std::string::npos);  // the precision comes back
  EXPECT_EQ(printed(l3), "Droite Infinie Org=[1,2,0] Vec=[0,0,1]\n");
  EXPECT_EQ(printed(ERSegment2D(ERPoint2D(0, 0), ERPoint2D(10, 0.5))),
            "Segment 2D : P1=[0,0] P2=[10,0.5]\n");
  EXPECT_EQ(printed(ERSegment3D(ERPoint3D(1, 2, 3), ERPoint3D(-1, 0, 1e-9))),
            "Segment 3D : P1=[1,2,3] P2=[-1,0,1e-09]\n");
}

}  // namespace
