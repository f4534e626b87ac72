#include "qorv/foundation/points.h"

#include <gtest/gtest.h>

#include "tests/in_order.h"
#include "tests/test_seed.h"

#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <numbers>
#include <random>
#include <sstream>
#include <string>

using namespace qorv;

namespace {

constexpr double kPi = std::numbers::pi;
constexpr unsigned kSeed = 20240611u;

using qorv_test::seedFor;

std::string printed(const auto& v, int width = 0) {
  std::ostringstream os;
  os << std::setw(width) << v;
  return os.str();
}

ERVector3D randomVector(std::mt19937& g) {
  std::uniform_real_distribution<double> d(-10.0, 10.0);
  return ERVector3D(d(g), d(g), d(g));
}

// Rodrigues: v rotated by angle about the unit axis n.
ERVector3D rotated(const ERVector3D& v, const ERVector3D& n, double angle) {
  return std::cos(angle) * v + std::sin(angle) * (n ^ v) + (1.0 - std::cos(angle)) * (n * v) * n;
}

template <class P>
P makePoint(double a, double b, double c) {
  if constexpr (P::kSize == 2)
    return P(a, b);
  else
    return P(a, b, c);
}

template <class P>
class PointTwins : public ::testing::Test {};
using Points = ::testing::Types<ERPoint2D, ERPoint3D>;
TYPED_TEST_SUITE(PointTwins, Points);

TYPED_TEST(PointTwins, EqualityIsExactAndIsEqualInclusive) {
  using P = TypeParam;
  const P a = makePoint<P>(1.0, 2.0, 3.0);
  const P b = makePoint<P>(1.0 + 1e-15, 2.0, 3.0);
  EXPECT_EQ((Seq{a == b, a != b}), (Seq{false, true}));
  EXPECT_TRUE(isEqual(a, b, 1e-11));
  // A difference of exactly the tolerance is equal; a hair more is not.
  const P zero;
  EXPECT_TRUE(isEqual(zero, makePoint<P>(0.0, 1e-11, 0.0), 1e-11));
  EXPECT_FALSE(isEqual(zero, makePoint<P>(0.0, std::nextafter(1e-11, 1.0), 0.0), 1e-11));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(isEqual(makePoint<P>(nan, 0, 0), makePoint<P>(nan, 0, 0), 1.0));
  EXPECT_EQ((Seq{makePoint<P>(0, nan, 0).invalid(), a.invalid()}), (Seq{true, false}));
}

TYPED_TEST(PointTwins, ArithmeticAgreesWithTheVectorView) {
  using P = TypeParam;
  QORV_SEEDED(std::mt19937 g, kSeed);
  std::uniform_real_distribution<double> d(-100.0, 100.0);
  for (int i = 0; i < 100; ++i) {
    const P a = makePoint<P>(d(g), d(g), d(g)), b = makePoint<P>(d(g), d(g), d(g));
    const auto v = b - a;  // a vector
    EXPECT_TRUE(isEqual(a + v, b, 1e-12));
    EXPECT_EQ((Seq{bool(isEqual(b - v, a, 1e-12)), decltype(v)(a, b)}), (Seq{true, v}));
    EXPECT_DOUBLE_EQ(distance2(a, b), v * v);
    EXPECT_DOUBLE_EQ(distance(a, b), distance(b, a));
    EXPECT_TRUE(isEqual(milieu(a, b), (a + b) / 2.0, 1e-12));
    EXPECT_NEAR(distance(a, milieu(a, b)), 0.5 * distance(a, b), 1e-13 * distance(a, b));
    P c = a;
    c += v;
    c -= v;
    c *= 2.0;
    EXPECT_EQ((Seq{bool(isEqual(c, 2.0 * a, 1e-12)), -a + a}), (Seq{true, P()}));
  }
}

TEST(Dimensions, InsertAndDropAnAxis) {
  const ERPoint2D p(1.0, 2.0);
  EXPECT_EQ(p.castToPoint3D(Coord3D::X, 9.0), ERPoint3D(9, 1, 2));
  EXPECT_EQ(p.castToPoint3D(Coord3D::Y, 9.0), ERPoint3D(1, 9, 2));
  EXPECT_EQ(p.castToPoint3D(Coord3D::Z, 9.0), ERPoint3D(1, 2, 9));
  const ERPoint3D q(1.0, 2.0, 3.0);
  EXPECT_EQ(
      (Seq{q.castToPoint2D(Coord3D::X), q.castToPoint2D(Coord3D::Y), q.castToPoint2D(Coord3D::Z)}),
      (Seq{ERPoint2D(2, 3), ERPoint2D(1, 3), ERPoint2D(1, 2)}));
  for (Coord3D axis : {Coord3D::X, Coord3D::Y, Coord3D::Z}) {
    EXPECT_EQ(p.castToPoint3D(axis, 5.0).castToPoint2D(axis), p);
    EXPECT_EQ(ERVector2D(1, 2).castToVector3D(axis, 5.0).castToVector2D(axis), ERVector2D(1, 2));
  }
  const auto bad = static_cast<Coord3D>(7);
  EXPECT_EQ((Seq{p.castToPoint3D(bad, 9.0), q.castToPoint2D(bad), ERVector3D(bad)}),
            (Seq{ERPoint3D(), ERPoint2D(), ERVector3D()}));

  // Poles keep their weight; the height goes in as a stored value.
  const ERPole2DH h(1.0, 2.0, 4.0);
  EXPECT_EQ(h.castToPole3D(Coord3D::Y, 7.0), ERPole3DH(1, 7, 2, 4));
  EXPECT_EQ(ERPole3DH(1, 2, 3, 4).castToPole2D(Coord3D::X), ERPole2DH(2, 3, 4));
  EXPECT_EQ(h.castToPole3D(bad, 7.0), ERPole3DH(0, 0, 0, 0));
}

TEST(Poles, StoredAndCartesianViews) {
  const ERPole2DH p(ERPoint2D(2.0, 6.0), 2.0);  // stored unchanged, not multiplied
  EXPECT_EQ((Seq{p[Coord2DH::X], p[Coord2DH::W], p[Coord2D::Y], p.castToPoint()}),
            (Seq{2.0, 2.0, 3.0, ERPoint2D(1.0, 3.0)}));
  EXPECT_EQ((Seq{p.isRational(), ERPoint2D().isRational()}), (Seq{1, 0}));

  ERPole3DH q(2.0, 4.0, 6.0, 2.0);
  q.translate(ERVector3D(1.0, -1.0, 0.5));  // the Cartesian point moves by the vector
  EXPECT_EQ((Seq{q.castToPoint(), q.weigth()}), (Seq{ERPoint3D(2.0, 1.0, 3.5), 2.0}));
  EXPECT_EQ(q.thePoint() / q.weigth(), q.castToPoint());

  // A zero weight gives what the division gives.
  const ERPoint2D inf = ERPole2DH(1.0, 0.0, 0.0).castToPoint();
  EXPECT_EQ((Seq{std::isinf(inf.x()), std::isnan(inf.y())}), (Seq{true, true}));
}

TEST(Vectors, NormalisationPerpendicularAndMainAxis) {
  ERVector3D zero;
  EXPECT_EQ((Seq{zero.normalize(), ERVector2D().getnormalized(),
                 ERVector3D(0, 0, 1).find_perpendicular(), ERVector3D().find_perpendicular()}),
            (Seq{ERVector3D(), ERVector2D(), ERVector3D(1, 0, 0), ERVector3D()}));
  QORV_SEEDED(std::mt19937 g, kSeed);
  for (int i = 0; i < 200; ++i) {
    const ERVector3D v = randomVector(g);
    const ERVector3D p = v.find_perpendicular();
    EXPECT_NEAR(p.norme(), 1.0, 1e-14);
    EXPECT_NEAR(p * v, 0.0, 1e-12 * v.norme());
    EXPECT_NEAR(v.getnormalized().norme(), 1.0, 1e-14);
  }
  // Strict comparisons: ties go to the later axis.
  EXPECT_EQ((Seq{ERVector3D(-3, 2, 1).axeOptimum(), ERVector3D(1, 1, 0).axeOptimum(),
                 ERVector3D(1, 1, 1).axeOptimum(), ERVector3D().axeOptimum()}),
            (Seq{Coord3D::X, Coord3D::Y, Coord3D::Z, Coord3D::Z}));
  EXPECT_EQ((Seq{ERVector2D(1, -1).axeOptimum(), ERVector3D(Coord3D::Y), ERVector2D(Coord2D::X)}),
            (Seq{Coord2D::Y, ERVector3D(0, 1, 0), ERVector2D(1, 0)}));
}

// Lengths and directions hold over the whole range, as std::hypot has them: the squares of
// 1e-160 or 1e160 leave the doubles.
TEST(Vectors, LengthsAndDirectionsFromTinyToHuge) {
  QORV_SEEDED(std::mt19937 g, kSeed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0), expo(-300.0, 300.0);
  for (int i = 0; i < 2000; ++i) {
    const double k = std::pow(10.0, expo(g));
    const double x = unit(g), y = unit(g), z = unit(g);
    const ERVector3D v(x * k, y * k, z * k);
    const double len = std::hypot(x, y, z);
    EXPECT_NEAR(v.norme() / k, len, 2e-15 * len) << k;
    const ERVector3D u = v.getnormalized();
    EXPECT_TRUE(Near(Seq{u.x(), u.y(), u.z()}, Seq{x / len, y / len, z / len}, 2e-15));
    const ERVector2D w = ERVector2D(x * k, y * k).getnormalized();
    EXPECT_NEAR(w.x(), x / std::hypot(x, y), 2e-15);
    EXPECT_NEAR(distance(ERPoint2D(0, 0), ERPoint2D(x * k, y * k)) / k, std::hypot(x, y),
                2e-15 * std::hypot(x, y));
  }
  const ERVector2D d = ERVector2D(3e-160, 4e-160).getnormalized();
  EXPECT_DOUBLE_EQ(d.x(), 0.6);
  EXPECT_DOUBLE_EQ(d.y(), 0.8);
  EXPECT_EQ(ERVector3D(0, 0, 1e-200).getnormalized(), ERVector3D(0, 0, 1));
  EXPECT_EQ(ERVector3D(0, 0, 4e-320).getnormalized(), ERVector3D(0, 0, 1));  // subnormal
  EXPECT_DOUBLE_EQ(ERVector2D(1e160, -1e160).getnormalized().x(), std::sqrt(0.5));
  EXPECT_EQ(ERVector3D(0, 3e300, 4e300).norme(), 5e300);
  EXPECT_TRUE(std::isnan(ERVector2D(std::nan(""), 1.0).norme()));
  EXPECT_TRUE(std::isinf(ERVector2D(INFINITY, std::nan("")).norme()));
}

TEST(Vectors, ComponentWiseHelpers) {
  EXPECT_EQ(
      (Seq{signes(ERVector3D(-2.0, 0.0, -0.0)), abs(ERVector3D(-2.0, 3.0, -0.5)),
           mul_idx2idx(ERVector2D(2, 3), ERVector2D(-1, 4)), ERVector2D(1, 0) ^ ERVector2D(0, 1)}),
      (Seq{ERVector3D(-1, 1, 1), ERVector3D(2, 3, 0.5), ERVector2D(-2, 12), 1.0}));
  EXPECT_EQ(ERVector3D(Coord3D::X) ^ ERVector3D(Coord3D::Y), ERVector3D(Coord3D::Z));
  // Not normalised first: a large and a small vector at 89.99 degrees are not perpendicular.
  EXPECT_FALSE(isPerpendicular(ERVector3D(1e6, 0, 0), ERVector3D(1e-6, 1, 0), 1e-11));
  EXPECT_TRUE(isPerpendicular(ERVector3D(1e6, 0, 0), ERVector3D(1e-18, 1, 0), 1e-11));
}

TEST(Angles, AgreeWithIndependentFormulas) {
  QORV_SEEDED(std::mt19937 g, kSeed);
  std::uniform_real_distribution<double> angle(0.01, 2 * kPi - 0.01);
  for (int i = 0; i < 500; ++i) {
    const ERVector3D u = randomVector(g), w = randomVector(g);
    const ERVector3D n = (u ^ w).getnormalized();
    const double a = angle(g);
    // v at a known angle from u, counter-clockwise about n, with another length.
    const ERVector3D v = 3.0 * rotated(u, n, a);
    EXPECT_TRUE(Near(Seq{angle2PI(u, v, n), angle2PI(u, v, -n)}, Seq{a, 2 * kPi - a}, 1e-10));
    const double pi = a <= kPi ? a : 2 * kPi - a;
    EXPECT_NEAR(anglePI(u, v), pi, 1e-10);
    EXPECT_NEAR(acute_angle(u, v), std::min(pi, kPi - pi), 1e-10);

    const ERVector2D u2(u.x(), u.y());
    const ERVector2D v2 = 0.5 * ERVector2D(std::cos(a) * u2.x() - std::sin(a) * u2.y(),
                                           std::sin(a) * u2.x() + std::cos(a) * u2.y());
    EXPECT_TRUE(Near(Seq{angle2PI(u2, v2), anglePI(u2, v2), anglePI(u2, v2)},
                     Seq{a, pi, std::atan2(std::fabs(u2 ^ v2), u2 * v2)}, 1e-7));
  }
  // Parallel in both senses, whatever the lengths.
  EXPECT_TRUE(isParallel(ERVector3D(1, 2, 3), ERVector3D(-2, -4, -6)));
  EXPECT_TRUE(isParallel(ERVector2D(1, 2), ERVector2D(3, 6)));
  EXPECT_FALSE(isParallel(ERVector3D(1, 2, 3), ERVector3D(1, 2, 3.001)));
  EXPECT_TRUE(isParallel(ERVector3D(1, 2, 3), ERVector3D(1, 2, 3.001), 1e-3));
  EXPECT_EQ(anglePI(ERVector3D(1, 0, 0), ERVector3D(-1, 0, 0)), kPi);
}

TEST(Angles, RatioAlongTheLargestComponent) {
  EXPECT_EQ(div_vect(ERPoint2D(0, 0), ERPoint2D(2, 1), ERPoint2D(1, 5)), 0.5);  // x
  EXPECT_EQ(div_vect(ERPoint2D(0, 0), ERPoint2D(1, 2), ERPoint2D(5, 1)), 0.5);  // y
  EXPECT_EQ(div_vect(ERPoint2D(0, 0), ERPoint2D(1, 1), ERPoint2D(9, 2)), 2.0);  // tie: y
  EXPECT_EQ(div_vect(ERPoint3D(0, 0, 0), ERPoint3D(1, 1, 1), ERPoint3D(7, 7, 3)), 3.0);
  EXPECT_EQ(div_vect(ERPoint3D(1, 1, 1), ERPoint3D(1, 5, 3), ERPoint3D(0, 2, 0)), 0.25);
}

TEST(PrintForms, CoordinatesInTheStreamWidth) {
  EXPECT_EQ((Seq{printed(ERPoint2D(1.5, -2.0)), printed(ERPoint2D(1.5, -2.0), 5),
                 printed(ERPoint3D(1, 2, 3), 2), printed(ERVector3D(0.25, 0, -1)),
                 printed(ERPole2DH(1, 2, 0.5))}),
            (Seq{"[1.5,-2]", "[  1.5,   -2]", "[ 1, 2, 3]", "[0.25,0,-1]", "[1,2,0.5]"}));
  // The width applies to one output only.
  std::ostringstream os;
  os << std::setw(4) << ERPoint2D(1, 2) << ERPoint2D(3, 4);
  EXPECT_EQ(os.str(), "[   1,   2][3,4]");
}

TEST(CoordinateRecord, ReadAsPointOrVector) {
  Coordinate c;
  EXPECT_TRUE(c == 0.0);
  c.Init(ERVector3D(1, 2, 3));
  EXPECT_EQ((Seq{c.AsPoint3D(), c == 1.0}), (Seq{ERPoint3D(1, 2, 3), false}));
  c.Init(ERPoint3D(4, 4, 4));
  EXPECT_EQ((Seq{c == 4.0, c.AsVector3D()}), (Seq{true, ERVector3D(4, 4, 4)}));
}

}  // namespace
