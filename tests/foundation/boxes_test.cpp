#include "qorv/foundation/boxes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>
#include <sstream>
#include <vector>

#include "tests/in_order.h"
#include "tests/test_seed.h"

using namespace qorv;

namespace {

constexpr unsigned kSeed = 7031u;

TEST(BoxesEmpty, UnionInflateAndIntersection) {
  const ERMinimax2D e;
  EXPECT_TRUE(e.invalid());
  EXPECT_EQ((Seq{e.xmin(), e.ymax()}), (Seq{DBL_MAX, -DBL_MAX}));
  const ERMinimax2D b(0, 0, 2, 1);
  EXPECT_EQ((Seq{e + b, b + e}), (Seq{b, b}));
  EXPECT_EQ((Seq{Union(e, e).invalid(), intersection(e, b).invalid(), (b - e).invalid()}),
            (Seq{true, true, true}));
  ERMinimax2D u = b;
  u.Update(e);
  EXPECT_EQ(u, b);

  ERMinimax3D e3;
  e3.Inflate(5.0);
  EXPECT_EQ(e3, ERMinimax3D());
  e3 -= 1.0;
  EXPECT_EQ((Seq{bool(e3.invalid()), RelativePosition(e3, ERMinimax3D(0, 0, 0, 1, 1, 1)),
                 RelativePosition(ERMinimax3D(0, 0, 0, 1, 1, 1), e3)}),
            (Seq{true, 4, 4}));
  // The plane box inflates even when empty (the bounds move by d).
  ERMinimax2D e2;
  e2.Inflate(1e300);
  EXPECT_EQ(e2.xmin(), DBL_MAX - 1e300);
}

TEST(Boxes, RelativePositionCodesAndOperators) {
  const ERMinimax2D a(0, 0, 10, 10);
  EXPECT_EQ(RelativePosition(a, a), 1);
  EXPECT_EQ(RelativePosition(a, ERMinimax2D(1, 1, 9, 9)), 2);
  EXPECT_EQ(RelativePosition(a, ERMinimax2D(0, 1, 9, 9)), 3);  // shares a side: not strict
  EXPECT_EQ(RelativePosition(ERMinimax2D(0, 1, 9, 9), a), 1);
  EXPECT_EQ(RelativePosition(a, ERMinimax2D(11, 0, 12, 1)), 0);
  EXPECT_EQ(RelativePosition(a, ERMinimax2D(10, 0, 12, 1)), 3);  // touching is not disjoint
  EXPECT_EQ(RelativePosition(a, ERMinimax2D(5, 5, 15, 15)), 3);
  const ERMinimax3D c(0, 0, 0, 4, 4, 4), inner(1, 1, 1, 2, 2, 2);
  EXPECT_EQ((Seq{bool(c >> inner), bool(inner << c)}), (Seq{true, true}));
  EXPECT_EQ((Seq{inner<c, c> inner, c | inner, c | ERMinimax3D(5, 5, 5, 6, 6, 6)}),
            (Seq{true, true, false, true}));
  EXPECT_TRUE((c < ERMinimax3D(3, 3, 3, 6, 6, 6)) && (c > ERMinimax3D(3, 3, 3, 6, 6, 6)));
}

TEST(Boxes, IntersectionTouchingRuleIsAsymmetric) {
  const ERMinimax2D a(0, 0, 1, 1), b(1, 0, 2, 1);
  // a.xmin >= b.xmax is empty; b.xmin > a.xmax is needed the other way round.
  EXPECT_EQ((Seq{intersection(b, a).invalid(), intersection(a, b),
                 ERMinimax3D(0, 0, 0, 2, 2, 2) - ERMinimax3D(1, -1, 1, 3, 1, 5)}),
            (Seq{1, ERMinimax2D(1, 0, 1, 1), ERMinimax3D(1, 0, 1, 2, 1, 2)}));
}

TEST(Boxes, PointsCornersAndDistances) {
  ERMinimax2D b(ERPoint2D(3, -1), ERPoint2D(1, 2));  // either corner order
  EXPECT_EQ(b, ERMinimax2D(1, -1, 3, 2));
  EXPECT_EQ((Seq{b.contains(ERPoint2D(1, 0)), b.onBorder(ERPoint2D(1, 0))}), (Seq{true, true}));
  EXPECT_EQ((Seq{bool(b.stricklyContains(ERPoint2D(1, 0))),
                 bool(b.stricklyContains(ERPoint2D(2, 0))), bool(b.onBorder(ERPoint2D(2, 0)))}),
            (Seq{false, true, false}));
  EXPECT_FALSE(b.onBorder(ERPoint2D(0, -1)));  // on a side's line, outside the box
  EXPECT_TRUE(ERPoint2D(0, 0) | b);
  EXPECT_EQ((Seq{bool(ERPoint2D(3, 2) << b), b.DiametreBoule(), b.length(Coord2D::Y)}),
            (Seq{true, std::sqrt(13.0), 3.0}));

  QORV_SEEDED(std::mt19937 g, kSeed);
  std::uniform_real_distribution<double> d(-5.0, 5.0);
  for (int i = 0; i < 100; ++i) {
    ERMinimax3D box(ERPoint3D(d(g), d(g), d(g)), ERPoint3D(d(g), d(g), d(g)));
    const ERPoint3D p(2 * d(g), 2 * d(g), 2 * d(g));
    double far = 0.0;
    for (const ERPoint3D& v : box.getVertice()) {
      EXPECT_TRUE(box.onBorder(v));
      far = std::max(far, distance2(v, p));
    }
    EXPECT_DOUBLE_EQ(maximumSquaredDistance(box, p), far);
    // The nearest point is p clamped into the box.
    const ERPoint3D q(std::clamp(p.x(), box.xmin(), box.xmax()),
                      std::clamp(p.y(), box.ymin(), box.ymax()),
                      std::clamp(p.z(), box.zmin(), box.zmax()));
    EXPECT_DOUBLE_EQ(minimumSquaredDistance(box, p), distance2(p, q));
    EXPECT_NEAR(box.diagonal(), distance(box.MinPoint(), box.MaxPoint()), 0.0);
  }
}

TEST(Boxes, UpdateFromSequencesAndPoles) {
  const std::vector<ERPoint2D> pts = {{1, 5}, {-2, 3}, {4, -1}};
  EXPECT_EQ(ERMinimax2D(pts), ERMinimax2D(-2, -1, 4, 5));
  const ERPole3DH poles[2] = {ERPole3DH(2, 4, 6, 2), ERPole3DH(-1, 0, 1, 0.5)};
  EXPECT_EQ(ERMinimax3D(poles, 2), ERMinimax3D(-2, 0, 2, 1, 2, 3));  // Cartesian values
  ERMinimax3D b;
  b += ERPoint3D(1, 1, 1);
  EXPECT_EQ((Seq{b, b + 1.0}), (Seq{ERMinimax3D(1, 1, 1, 1, 1, 1), ERMinimax3D(0, 0, 0, 2, 2, 2)}));
}

// ---------------------------------------------------------------------------------------------
// Line clipping against a brute-force walk along the line.

TEST(BoxClip, SlabsAgainstSampling) {
  QORV_SEEDED(std::mt19937 g, kSeed);
  std::uniform_real_distribution<double> d(-3.0, 3.0);
  int hits = 0;
  for (int i = 0; i < 300; ++i) {
    const ERMinimax3D box(ERPoint3D(d(g), d(g), d(g)), ERPoint3D(d(g), d(g), d(g)));
    const ERPoint3D P(d(g), d(g), d(g));
    ERVector3D V(d(g), d(g), d(g));
    while (V.norme() < 0.5) V = ERVector3D(d(g), d(g), d(g));
    double t0 = 0, t1 = 0;
    const int r = box.clip(P, V, t0, t1);
    EXPECT_EQ(r, box.intersect(P, V));
    // Samples of the line inside the box.
    const double step = 1e-3;
    double first = HUGE_VAL, last = -HUGE_VAL;
    for (double t = -40.0; t <= 40.0; t += step)
      if (box.contains(P + t * V)) first = std::min(first, t), last = std::max(last, t);
    if (!r) {
      EXPECT_EQ(first, HUGE_VAL) << "a missed line has an inside sample at " << first;
      EXPECT_EQ((Seq{t0, t1}), (Seq{-DBL_MAX, DBL_MAX}));
      continue;
    }
    ++hits;
    EXPECT_LE(t0, t1);
    EXPECT_TRUE((box + 1e-9).contains(milieu(P + t0 * V, P + t1 * V)));
    if (first != HUGE_VAL) {
      EXPECT_TRUE(Near(Seq{t0, t1}, Seq{first, last}, step));
    }
  }
  EXPECT_GT(hits, 30);
}

TEST(BoxClip, ParallelSlabsBoundsAndRestore) {
  const ERMinimax3D box(0, 0, 0, 1, 1, 1);
  double t0, t1;
  // Parallel to y and z, inside their slabs: x alone narrows.
  EXPECT_TRUE(box.clip(ERPoint3D(-1, 0.5, 0.5), ERVector3D(2, 0, 0), t0, t1));
  EXPECT_EQ((Seq{t0, t1}), (Seq{0.5, 1.0}));
  // A component under 1e-9 counts as parallel, though the exact line crosses y = 1 at x = -0.8.
  const ERPoint3D above(-1, 1 + 1e-10, 0.5);
  const ERVector3D shallow(1, -0.5e-9, 0);
  EXPECT_FALSE(box.clip(above, shallow, t0, t1));
  EXPECT_TRUE(box.intersect(above, shallow));
  EXPECT_EQ((Seq{t0, t1}), (Seq{-DBL_MAX, DBL_MAX}));
  // A zero direction inside the box: every slab passes unchanged, the range stays unbounded.
  EXPECT_TRUE(box.clip(ERPoint3D(0.5, 0.5, 0.5), ERVector3D(), t0, t1));
  EXPECT_EQ((Seq{t0, t1}), (Seq{-DBL_MAX, DBL_MAX}));
  // Bounds at +-DBL_MAX are infinite: the range stays unbounded along them, in both senses.
  const ERMinimax3D slabX(-DBL_MAX, 0, 0, DBL_MAX, 1, 1);
  EXPECT_TRUE(slabX.clip(ERPoint3D(5, 0.5, 0.5), ERVector3D(-3, 0, 0), t0, t1));
  EXPECT_EQ((Seq{t0, t1}), (Seq{-DBL_MAX, DBL_MAX}));
  EXPECT_TRUE(slabX.clip(ERPoint3D(5, 0.5, 0.5), ERVector3D(1, 1, 0), t0, t1));
  EXPECT_EQ((Seq{t0, t1}), (Seq{-0.5, 0.5}));
  // Empty boxes and NaN miss.
  EXPECT_FALSE(ERMinimax3D().clip(ERPoint3D(), ERVector3D(1, 1, 1), t0, t1));
  EXPECT_FALSE(ERMinimax3D().intersect(ERPoint3D(), ERVector3D(1, 1, 1)));
  EXPECT_FALSE(box.clip(ERPoint3D(NAN, 0, 0), ERVector3D(1, 1, 1), t0, t1));
  EXPECT_FALSE(box.clip(ERPoint3D(0.5, 0.5, 0.5), ERVector3D(NAN, 1, 1), t0, t1));
  EXPECT_FALSE(ERMinimax2D(0, 0, 1, 1).intersect(ERPoint2D(2, 0), ERVector2D(0, 1)));
  EXPECT_TRUE(ERMinimax2D(0, 0, 1, 1).intersect(ERPoint2D(1, 5), ERVector2D(0, 1)));
}

// ---------------------------------------------------------------------------------------------
// Segments and polygons in the plane.

TEST(CohenSutherland, MatchesABruteForceClip) {
  QORV_SEEDED(std::mt19937 g, kSeed);
  std::uniform_real_distribution<double> d(-4.0, 4.0);
  int accepted = 0;
  for (int i = 0; i < 500; ++i) {
    const ERMinimax2D box(ERPoint2D(d(g), d(g)), ERPoint2D(d(g), d(g)));
    const ERPoint2D a(d(g), d(g)), b(d(g), d(g));
    ERPoint2D c(99, 99), e(99, 99);
    const int r = SutherCohen(a, b, box, c, e);
    EXPECT_EQ(r, box.isVisible(a, b));
    const int n = 20000;
    int first = -1, last = -1;
    for (int k = 0; k <= n; ++k)
      if (box.contains(a + (k / double(n)) * (b - a))) last = k, first = first < 0 ? k : first;
    if (!r) {
      EXPECT_EQ((Seq{first, c}), (Seq{-1, ERPoint2D(99, 99)}));
      continue;
    }
    ++accepted;
    ERMinimax2D grown = box;
    grown.Inflate(1e-12);
    EXPECT_TRUE(grown.contains(c) && grown.contains(e));
    EXPECT_NEAR((c - a) ^ (b - a), 0.0, 1e-9);  // on the segment's line
    EXPECT_NEAR((e - a) ^ (b - a), 0.0, 1e-9);
    if (first >= 0) {
      const double tol = 1.5 * distance(a, b) / n + 1e-12;
      EXPECT_NEAR(distance(c, a + (first / double(n)) * (b - a)), 0.0, tol);
      EXPECT_NEAR(distance(e, a + (last / double(n)) * (b - a)), 0.0, tol);
    }
  }
  EXPECT_GT(accepted, 50);
}

TEST(CohenSutherland, LinesAndDegenerateInput) {
  const ERMinimax2D box(0, 0, 2, 1);
  ERPoint2D c, d;
  ASSERT_TRUE(SutherCohen(ERPoint2D(5, 0.5), ERVector2D(-1, 0), box, c, d));
  EXPECT_EQ((Seq{c, d}), (Seq{ERPoint2D(2, 0.5), ERPoint2D(0, 0.5)}));
  ASSERT_TRUE(SutherCohen(ERPoint2D(1, 0), ERVector2D(1, 1), box, c, d));
  EXPECT_TRUE(isEqual(c, ERPoint2D(1, 0), 1e-12));
  EXPECT_TRUE(isEqual(d, ERPoint2D(2, 1), 1e-12));
  EXPECT_FALSE(SutherCohen(ERPoint2D(0, 3), ERVector2D(1, 0), box, c, d));
  EXPECT_FALSE(SutherCohen(ERPoint2D(0, 0), ERPoint2D(1, 1), ERMinimax2D(), c, d));
  EXPECT_FALSE(SutherCohen(ERPoint2D(NAN, 0), ERPoint2D(1, 1), box, c, d));
  // Through a corner only: accepted, a single point.
  ASSERT_TRUE(SutherCohen(ERPoint2D(1, 2), ERPoint2D(3, 0), box, c, d));
  EXPECT_TRUE(isEqual(c, ERPoint2D(2, 1), 1e-12) && isEqual(d, ERPoint2D(2, 1), 1e-12));
}

TEST(BoxPosition, SegmentCodes) {
  const ERMinimax2D box(0, 0, 4, 4);
  EXPECT_EQ(box.positionRelative(ERPoint2D(1, 1), ERPoint2D(4, 3)), ER_MINMAX_SEGMENT_INSIDE);
  EXPECT_EQ(box.positionRelative(ERPoint2D(1, 1), ERPoint2D(6, 3)), ER_MINMAX_SEGMENT_CROSSING);
  EXPECT_EQ(box.positionRelative(ERPoint2D(-1, 2), ERPoint2D(6, 2)), ER_MINMAX_SEGMENT_CROSSING);
  EXPECT_EQ(box.positionRelative(ERPoint2D(-1, 4), ERPoint2D(6, 4)), ER_MINMAX_SEGMENT_TOUCHING);
  EXPECT_EQ(box.positionRelative(ERPoint2D(3, 6), ERPoint2D(6, 3)), ER_MINMAX_SEGMENT_OUTSIDE);
  // Through the corner (4, 4) only.
  EXPECT_EQ(box.positionRelative(ERPoint2D(2, 6), ERPoint2D(6, 2)), ER_MINMAX_SEGMENT_TOUCHING);
  EXPECT_EQ(box.positionRelative(ERPoint2D(4, 4), ERPoint2D(4, 4)), ER_MINMAX_SEGMENT_INSIDE);
  EXPECT_EQ(box.positionRelative(ERPoint2D(NAN, 1), ERPoint2D(1, 1)), ER_MINMAX_SEGMENT_OUTSIDE);
}

TEST(BoxPosition, PolygonCodes) {
  const std::vector<ERPoint2D> square = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  EXPECT_EQ(ERMinimax2D(2, 2, 3, 3).positionRelative(square), ER_MINMAX_POLYGONE_INSIDE);
  EXPECT_EQ(ERMinimax2D(20, 2, 30, 3).positionRelative(square), ER_MINMAX_POLYGONE_OUTSIDE);
  EXPECT_EQ(ERMinimax2D(8, 2, 12, 3).positionRelative(square), ER_MINMAX_POLYGONE_CROSSING);
  EXPECT_EQ(ERMinimax2D(-1, -1, 11, 11).positionRelative(square), ER_MINMAX_POLYGONE_CROSSING);
  EXPECT_EQ(ERMinimax2D(10, 2, 12, 3).positionRelative(square), ER_MINMAX_POLYGONE_TOUCHING);
  EXPECT_EQ(ERMinimax2D(0, 0, 10, 10).positionRelative(square), ER_MINMAX_POLYGONE_TOUCHING);
  // A U shape: a box in the notch is outside although inside the polygon's box.
  const std::vector<ERPoint2D> u = {{0, 0}, {9, 0}, {9, 9}, {6, 9}, {6, 3}, {3, 3}, {3, 9}, {0, 9}};
  EXPECT_EQ(ERMinimax2D(4, 5, 5, 6).positionRelative(u), ER_MINMAX_POLYGONE_OUTSIDE);
  EXPECT_EQ(ERMinimax2D(1, 5, 2, 6).positionRelative(u), ER_MINMAX_POLYGONE_INSIDE);
  EXPECT_EQ(ERMinimax2D(1, 5, 2, 6).positionRelative(u.data(), 0), ER_MINMAX_POLYGONE_OUTSIDE);
  EXPECT_EQ(ERMinimax2D().positionRelative(u), ER_MINMAX_POLYGONE_OUTSIDE);
}

TEST(BoxPrint, MinimumThenMaximum) {
  std::ostringstream os;
  os << ERMinimax2D(0, 1, 2, 3.5);
  EXPECT_EQ(os.str(), "[[0,1],[2,3.5]]");
}

}  // namespace
