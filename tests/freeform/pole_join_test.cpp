// Joining NURBS curves end to end, and cutting one to its trim bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

#include "qorv/freeform/pole_curves.h"
#include "tests/freeform/pole_test_curves.h"
#include "tests/in_order.h"
#include "tests/test_seed.h"

using namespace qorv;
using namespace qorv_test::poles;

using QuickAlgebra::ERVec;

namespace {

template <class Curve>
bool sameData(const Curve& x, const Curve& y) {
  return x.poles() == y.poles() && x.knotVector().getVec() == y.knotVector().getVec() &&
         x.degree() == y.degree() && x.getBound() == y.getBound() && x.domain() == y.domain();
}

template <class Curve>
double sizeOf(const Curve& c) {
  const auto b = c.getBox();
  double s = 0.0;
  for (int k = 0; k < 2 * b.MinPoint().kSize; ++k) s = std::max(s, std::fabs(b.data()[k]));
  return s;
}

// A random trimmed curve.
template <class Curve, class Pole>
Curve randomTrimmed(std::mt19937_64& rng, int dim, int rep) {
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  const RandomCurve c = randomCurve(rng, dim, rep % 5 == 0, rep % 3 == 2);
  Curve curve = nurbsOf<Curve, Pole>(c);
  const double a = c.U[c.p], b = c.U[c.U.size() - c.p - 1];
  if (rep % 2 == 0)
    curve.setBound(ERLimites(a + 0.2 * (b - a) * u01(rng), b - 0.2 * (b - a) * u01(rng)));
  return curve;
}

// 'whole' over [lo, hi] against 'part' over its own bounds, mapped linearly, both ways along.
template <class Curve>
::testing::AssertionResult follows(const Curve& whole, double lo, double hi, const Curve& part,
                                   bool reversed, double tol) {
  const double a = part.udeb(), b = part.ufin();
  for (int k = 0; k <= 300; ++k) {
    const double f = k / 300.0;
    const double t = lo + (hi - lo) * f;
    const double s = reversed ? b - (b - a) * f : a + (b - a) * f;
    const double d = qorv::distance(whole(t), part(s));
    if (!(d <= tol))
      return ::testing::AssertionFailure()
             << "at " << t << " (k " << k << ") off by " << d << " tol " << tol << " part "
             << part.getBound() << " whole " << lo << " " << hi;
  }
  return ::testing::AssertionSuccess();
}

template <class Curve, class Pole, class Point>
void checkJoins(int dim, unsigned fixed) {
  QORV_SEEDED(std::mt19937_64 rng, fixed);
  for (int rep = 0; rep < 200; ++rep) {
    SCOPED_TRACE(rep);
    const Curve A = randomTrimmed<Curve, Pole>(rng, dim, rep);
    Curve B = randomTrimmed<Curve, Pole>(rng, dim, rep + 1);
    // B brought to A's size and moved so that it starts (or ends, or is reversed) where A ends or
    // starts.
    const int mode = int(rng() % 4);
    const auto bA = A.getBox(), bB = B.getBox();
    const double dA = qorv::distance(bA.MinPoint(), bA.MaxPoint());
    const double dB = qorv::distance(bB.MinPoint(), bB.MaxPoint());
    B.translate(-1.0 * bB.MinPoint());
    if (dA > 0 && dB > 0) B.scale(dA / dB);
    const Point from = mode == 0 || mode == 3 ? B.firstPt() : B.lastPt();
    const Point to = mode <= 1 ? A.lastPt() : A.firstPt();
    Point shift;
    for (int k = 0; k < dim; ++k) shift.data()[k] = to.data()[k] - from.data()[k];
    B.translate(shift);
    const double lenA = A.ufin() - A.udeb(), lenB = B.ufin() - B.udeb();
    // Shifting B's knots next to A's rounds them on the scale of the larger parameter.
    const double reach = std::max(
        {std::fabs(A.udeb()), std::fabs(A.ufin()), std::fabs(B.udeb()), std::fabs(B.ufin())});
    const double tol =
        std::max(sizeOf(A), sizeOf(B)) *
        (8e-12 + 16 * DBL_EPSILON * (2 * reach + lenA + lenB) / std::min(lenA, lenB));
    const Curve B0(B);

    // merge finds the ends that meet whatever the mode; append and prepend take their own.
    Curve m(A);
    ASSERT_EQ(m.merge(B, -1.0, 0), 1);
    EXPECT_TRUE(sameData(B, B0));
    EXPECT_EQ((Seq{m.isValid(), m.isTrimmed()}), (Seq{1, 0}));
    if (mode <= 1) {
      EXPECT_EQ((Seq{m.udeb(), bool(follows(m, A.udeb(), A.ufin(), A, false, tol)),
                     follows(m, A.ufin(), m.ufin(), B, mode == 1, tol)}),
                (Seq{A.udeb(), true, true}));
      EXPECT_NEAR(m.ufin() - m.udeb(), lenA + lenB, 1e-12 * (std::fabs(m.ufin()) + lenA + lenB));
    } else {
      EXPECT_EQ((Seq{m.ufin(), bool(follows(m, A.udeb(), A.ufin(), A, false, tol)),
                     follows(m, m.udeb(), A.udeb(), B, mode == 3, tol)}),
                (Seq{A.ufin(), true, true}));
    }
    Curve ap(A);
    const int want = mode == 0 ? 1 : 0;
    EXPECT_EQ(ap.append(B, 0.0, 0), want) << mode;
    EXPECT_TRUE(sameData(ap, want ? m : A));
    Curve pre(A);
    EXPECT_EQ(pre.prepend(B, 0.0, 1), mode == 2 ? 1 : 0) << mode;
    if (mode != 2) {
      EXPECT_TRUE(sameData(pre, A));
    }

    // Far apart: refused, nothing changed on either side.
    Curve far(A);
    Point away;
    for (int k = 0; k < dim; ++k) away.data()[k] = 10.0 * (sizeOf(A) + sizeOf(B)) + 1.0;
    Curve Bfar(B);
    Bfar.translate(away);
    const Curve Bfar0(Bfar);
    EXPECT_EQ(far.append(Bfar, 1e-3 * sizeOf(A), 0), 0);
    EXPECT_EQ((Seq{far.prepend(Bfar, 0.0, 0), far.merge(Bfar, 0.0, 1)}), (Seq{0, 0}));
    EXPECT_TRUE(sameData(far, A));
    EXPECT_TRUE(sameData(Bfar, Bfar0));
  }
}

TEST(PoleJoin, AppendPrependAndMergeKeepBothCurves) {
  checkJoins<ERCpoleNURBS2D, ERPole2DH, ERPoint2D>(2, 1841);
  checkJoins<ERCpoleNURBS3D, ERPole3DH, ERPoint3D>(3, 1842);
}

TEST(PoleJoin, JointPoleAndDegenerateInput) {
  // Two lines meeting within the tolerance: the joint is the first curve's end, or the middle.
  ERVec<ERPole2DH> a, b;
  a.append(ERPole2DH(0, 0, 1)), a.append(ERPole2DH(1, 0, 1));
  b.append(ERPole2DH(2 + 2e-6, 4e-6, 2)), b.append(ERPole2DH(2, 2, 2));  // (1 + 1e-6, 2e-6), (1, 1)
  const ERCpoleNURBS2D A(a), B(ERVec<ERPole2DH>(b), ERKnotVector(1, ERLimites(5.0, 7.0)));
  ERCpoleNURBS2D j(A);
  ASSERT_EQ((Seq{j.append(B, 1e-3, 0), j.nbPoles()}), (Seq{1, 3}));
  EXPECT_EQ(j[1], ERPoint2D(1, 0));
  EXPECT_EQ(j.poleWeight(2), 1.0);  // B's weights scaled to meet A's
  EXPECT_EQ((Seq{j.getBound(), j(3.0)}), (Seq{ERLimites(0.0, 3.0), ERPoint2D(1, 1)}));
  ERCpoleNURBS2D mid(A);
  ASSERT_EQ(mid.append(B, 1e-3, 1), 1);
  EXPECT_TRUE(Near(Seq{mid[1].x(), mid[1].y()}, Seq{1 + 0.5e-6, 1e-6}, 1e-15));
  // Beyond the tolerance: refused. A negative tolerance checks nothing.
  ERCpoleNURBS2D no(A);
  EXPECT_EQ((Seq{no.append(B, 1e-7, 0), no.append(B, -1.0, 0)}), (Seq{0, 1}));
  // Into an empty curve: the piece itself.
  ERCpoleNURBS2D e;
  ERCpoleNURBS2D trimmed(B);
  trimmed.setBound(ERLimites(5.5, 6.0));
  ASSERT_EQ(e.append(trimmed, 0.0, 0), 1);
  EXPECT_EQ((Seq{e.getBound(), e.isTrimmed()}), (Seq{ERLimites(5.5, 6.0), 0}));
  EXPECT_NEAR(qorv::distance(e(5.75), B(5.75)), 0.0, 1e-15);
  // Different degrees: the lower one is raised.
  ERVec<ERPole2DH> c;
  c.append(ERPole2DH(1, 0, 1)), c.append(ERPole2DH(2, 1, 1)), c.append(ERPole2DH(3, 0, 1));
  ERCpoleNURBS2D lift(A);
  ASSERT_EQ(lift.append(ERCpoleNURBS2D(c), 0.0, 0), 1);
  EXPECT_EQ(lift.degree(), 2);
  EXPECT_NEAR(qorv::distance(lift(0.5), ERPoint2D(0.5, 0)), 0.0, 1e-15);
  EXPECT_NEAR(qorv::distance(lift(1.5), ERCpoleNURBS2D(c)(0.5)), 0.0, 1e-15);
  // Broken curves on either side.
  ERVec<ERPole2DH> nan;
  nan.append(ERPole2DH(std::nan(""), 0, 1)), nan.append(ERPole2DH(1, 0, 1));
  ERCpoleNURBS2D bad(nan);
  const ERCpoleNURBS2D bad0(bad);
  EXPECT_EQ(bad.append(A, -1.0, 0), 0);
  EXPECT_TRUE(sameData(bad, bad0));
  ERCpoleNURBS2D good(A);
  EXPECT_EQ(good.merge(bad, -1.0, 0), 0);
  EXPECT_TRUE(sameData(good, A));
}

TEST(PoleJoin, AdjustCutsTheCurveToItsTrimBounds) {
  QORV_SEEDED(std::mt19937_64 rng, 1843);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  for (int rep = 0; rep < 200; ++rep) {
    SCOPED_TRACE(rep);
    const RandomCurve c = randomCurve(rng, 3, rep % 5 == 0, rep % 3 != 0);
    ERCpoleNURBS3D curve = nurbsOf<ERCpoleNURBS3D, ERPole3DH>(c);
    const double a = c.U[c.p], b = c.U[c.U.size() - c.p - 1];
    // Bounds anywhere, on knots, or the whole domain.
    double lo = a + (b - a) * 0.5 * u01(rng), hi = b - (b - a) * 0.5 * u01(rng);
    if (rep % 4 == 1) lo = c.U[c.p + rng() % (c.U.size() - 2 * c.p - 1)], hi = b;
    if (rep % 4 == 2) lo = a, hi = b;
    if (!(lo < hi)) continue;
    curve.setBound(ERLimites(lo, hi));
    ERCpoleNURBS3D cut(curve);
    cut.adjust();
    ASSERT_EQ(cut.isValid(), 1);
    EXPECT_EQ((Seq{cut.isTrimmed(), cut.knotVector().isUnclamped(), cut.getBound()}),
              (Seq{0, 0, ERLimites(lo, hi)}));
    for (int k = 0; k <= 500; ++k) {
      const double t = k == 500 ? hi : lo + (hi - lo) * k / 500.0;
      const std::vector<LD> r = refPoint(c, t);
      for (int d = 0; d < 3; ++d) ASSERT_NEAR(cut(t).data()[d], double(r[d]), 1e-12 * c.size) << t;
    }
  }
}

}  // namespace
