#include "qorv/measurement/sampling_lists.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <string>

#include "qorv/curves/circles.h"
#include "qorv/curves/lines.h"
#include "qorv/foundation/transfo3d_kinds.h"
#include "tests/in_order.h"

namespace {

using QuickAlgebra::ERVec;
constexpr double kPi = std::numbers::pi;

// A circle of radius r about the origin, parameter the polar angle (any angle); in space it is
// tilted out of the XY plane so that every coordinate moves.
ERArc2D circle2(double r = 1.0) { return ERArc2D(ERPoint2D(0, 0), r, ERRadian(-20), ERRadian(20)); }
ERArc3D circle3() {
  const ERPmIsometrie3D tilted =
      ERChgRepere3D(ERVector3D(1, 0, 0), ERVector3D(0, 0.6, 0.8), ERPoint3D(0, 0, 0));
  return ERArc3D(tilted, ERCircle2D(ERPoint2D(0, 0), 1), ERRadian(-20), ERRadian(20));
}

double lineDistance(const ERPoint2D& a, const ERPoint2D& b, const ERPoint2D& m) {
  const ERVector2D d(a, b);
  return std::fabs(d ^ ERVector2D(a, m)) / d.norme();
}
double lineDistance(const ERPoint3D& a, const ERPoint3D& b, const ERPoint3D& m) {
  const ERVector3D d(a, b);
  return (d ^ ERVector3D(a, m)).norme() / d.norme();
}

// Every chord of the list meets the tolerance at its mid parameter, or is at the floor; the
// parameters increase and the points are the curve's.
template <class List, class Curve>
void expectRefined(const List& list, const Curve& curve, double tol) {
  const auto pts = list.toVec();
  const ERVec<double> us = list.toParams();
  ASSERT_EQ((Seq{pts.length(), us.length()}), (Seq{list.entries(), list.entries()}));
  for (int i = 0; i < us.length(); ++i) {
    EXPECT_EQ(pts[i], curve(us[i]));
    if (i + 1 == us.length()) break;
    EXPECT_LT(us[i], us[i + 1]);
    const double m = (us[i] + us[i + 1]) / 2;
    if (us[i + 1] - us[i] > 1e-7) {
      EXPECT_LE(lineDistance(pts[i], pts[i + 1], curve(m)), tol) << "chord " << i;
    }
  }
}

TEST(SamplingLists, AppendKeepsOrder) {
  ERPoint12List list;
  EXPECT_EQ((Seq{list.entries(), bool(list.toVec().isEmpty())}), (Seq{0, true}));
  for (int i = 0; i < 500; ++i) list.append(ERPoint2D(i, -i), 0.5 * i);  // spans chunks
  ASSERT_EQ(list.entries(), 500);
  const ERVec<ERPoint2D> pts = list.toVec();
  EXPECT_EQ((Seq{pts[0], pts[499], list.toParams()[10]}),
            (Seq{ERPoint2D(0, 0), ERPoint2D(499, -499), 5.0}));
  int n = 0;
  for (const ERPoint12* p = list.first(); p != nullptr; p = p->next) ++n;
  EXPECT_EQ(n, 500);
}

TEST(SamplingLists, HalfCircleRefinedToTheTolerance) {
  const ERArc2D circle = circle2();
  for (double tol : {0.01, 1e-4, 1e-7}) {
    ERPoint12List list;
    list.append(circle(0), 0);
    list.append(circle(kPi), kPi);
    list.Smash(circle, tol);
    SCOPED_TRACE(tol);
    EXPECT_GT(list.entries(), 2);
    expectRefined(list, circle, tol);
  }
  // 3D: a tilted circle over three quarters of a turn, from seeded breakpoints.
  const ERArc3D c3 = circle3();
  ERPoint13List list3;
  for (double u : {0.0, 1.0, 4.0, 4.5}) list3.append(c3(u), u);
  list3.Smash(c3, 1e-3);
  expectRefined(list3, c3, 1e-3);
  EXPECT_EQ((Seq{list3.toParams()[0], list3.toParams().last()}), (Seq{0.0, 4.5}));
}

TEST(SamplingLists, StraightSegmentsAreNeverSplit) {
  const ERSegment2D exact(ERPoint2D(0, 0), ERPoint2D(10, 5));
  ERPoint12List list;
  list.append(exact(0), 0);
  list.append(exact(1), 1);
  list.Smash(exact, 0.0);
  EXPECT_EQ(list.entries(), 2);

  const unsigned seed = 99u;
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> r(-1e3, 1e3);
  SCOPED_TRACE("seed " + std::to_string(seed));
  for (int i = 0; i < 50; ++i) {
    const ERSegment3D s(ERPoint3D(r(gen), r(gen), r(gen)), ERPoint3D(r(gen), r(gen), r(gen)));
    ERPoint13List l;
    l.append(s(0), 0);
    l.append(s(1), 1);
    l.Smash(s, 1e-9);
    EXPECT_EQ(l.entries(), 2);
  }
}

TEST(SamplingLists, FloorNanAndInfinityStopTheWalk) {
  const ERArc2D big = circle2(1e6);
  // 1e-8 apart: never split; 1e-6 apart: halved down to 6.25e-8; a NaN tolerance: no split.
  const struct {
    double u1, tol;
    int entries;
  } rows[] = {{1e-8, 0.0, 2}, {1e-6, 0.0, 17}, {3, std::nan(""), 2}};
  for (const auto& r : rows) {
    ERPoint12List list;
    list.append(big(0), 0);
    list.append(big(r.u1), r.u1);
    list.Smash(big, r.tol);
    EXPECT_EQ(list.entries(), r.entries) << r.u1;
  }

  const double inf = std::numeric_limits<double>::infinity();
  ERPoint12List wild;
  wild.append(ERPoint2D(0, 0), -inf);
  wild.append(ERPoint2D(1, 0), 0);
  wild.append(ERPoint2D(2, 0), inf);
  wild.append(ERPoint2D(3, 0), std::nan(""));
  wild.append(ERPoint2D(3, 0), 5);
  wild.Smash(big, -1.0);
  EXPECT_EQ(wild.entries(), 5);
  ERPoint12List lone;
  lone.append(ERPoint2D(), 0);
  lone.Smash(big, 0.0);
  EXPECT_EQ(lone.entries(), 1);
  ERPoint12List empty;
  empty.Smash(big, 0.0);
  EXPECT_EQ(empty.entries(), 0);
}

}  // namespace
