#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <vector>

#include "qorv/curves/planar_shapes.h"
#include "qorv/curves/polylines.h"
#include "qorv/foundation/transfo3d_kinds.h"
#include "qorv/freeform/pole_curves.h"
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/test_seed.h"

using qorv_test::imageOf, qorv_test::printed, qorv_test::restoreFrom, QuickAlgebra::ERVec;

namespace {

constexpr double kPi = 3.14159265358979323846;
using LD = long double;

ERVec<ERPoint2D> pts(std::initializer_list<ERPoint2D> l) { return ERVec<ERPoint2D>(l); }
using qorv::distance;

// The distance from p to the segment [a, b], in long double.
LD segDist(const ERPoint2D& p, const ERPoint2D& a, const ERPoint2D& b) {
  const LD dx = LD(b.x()) - a.x(), dy = LD(b.y()) - a.y();
  const LD px = LD(p.x()) - a.x(), py = LD(p.y()) - a.y();
  const LD l2 = dx * dx + dy * dy;
  LD s = l2 > 0 ? (px * dx + py * dy) / l2 : 0;
  s = std::max<LD>(0, std::min<LD>(1, s));
  return std::hypot(px - s * dx, py - s * dy);
}

qorv_test::Bytes withCount(std::uint32_t n, const qorv_test::Bytes& rest) {
  qorv_test::Bytes out;
  for (int k = 0; k < 4; ++k) out.push_back((n >> (8 * k)) & 0xFF);
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

TEST(Polyline, ConstructionEvaluationAndLengths) {
  EXPECT_EQ(ERPolyline2D(pts({{0, 0}, {0, 0}, {1, 0}})).length(), 2);
  EXPECT_EQ(ERPolyline2D(pts({{0, 0}, {0, 0}})).length(), 2);
  ERPolyline2D near(pts({{0, 0}, {1e-12, 0}, {1, 0}, {1, 0}, {1, 1}}));
  EXPECT_EQ(near.length(), 4);
  near.cleanUp();
  EXPECT_EQ((Seq{near.length(), near.points()[0]}), (Seq{3, ERPoint2D(0, 0)}));

  const ERPolyline2D l(pts({{0, 0}, {1, 0}, {1, 1}}));
  const ERInfoPoint2D at1 = l.PtCur(1.0);
  EXPECT_EQ((Seq{at1.point(), at1.tangente(), l.PtCur(1.5).point()}),
            (Seq{ERPoint2D(1, 0), ERVector2D(0.5, 0.5), ERPoint2D(1, 0.5)}));
  EXPECT_EQ(l.PtCur(3.0).point(), ERPoint2D(1, 2));    // the last segment extended
  EXPECT_EQ(l.PtCur(-1.0).point(), ERPoint2D(-1, 0));  // the first
  EXPECT_EQ(l.PtCur(-1.0).parameter(), -1.0);
  EXPECT_EQ((Seq{ERPolyline2D().PtCur(0.3).point(), std::isnan(l.PtCur(std::nan("")).point().x()),
                 l.getBound(), bool(l.isClosed())}),
            (Seq{ERPoint2D(0, 0), true, ERLimites(0, 2), false}));

  ERVec<double> params;
  EXPECT_EQ(l.ProjectPoint(ERPoint2D(0.5, 0.5), params, 0.1), 1);
  EXPECT_DOUBLE_EQ(params[0], 2.5);  // on the closing segment
  EXPECT_EQ(l.ProjectPoint(ERPoint2D(50, 50), params, 0.1), 0);

  const ERPolyline2D three(pts({{0, 0}, {1, 0}, {2, 0}, {3, 0}}));
  EXPECT_EQ(three.arcLength(ERLimites(0.5, 2.5), 0.0), 2.0);
  EXPECT_EQ(three.arcLength(1.0), 3.0);
  ERVec<double> disc;
  EXPECT_EQ(three.GetDiscontinuities(1, disc), 1);
  ASSERT_EQ(disc.length(), 4);
  EXPECT_EQ(disc[3], 3.0);
  EXPECT_EQ((Seq{three.IsContinuous(0), three.IsContinuous(1)}), (Seq{true, false}));

  auto nurbs = three.ConvertToNurbs();
  ASSERT_TRUE(nurbs);
  EXPECT_EQ(nurbs->getBound(), ERLimites(0, 1));
  for (int k = 0; k <= 3; ++k) EXPECT_NEAR((*nurbs)(k / 3.0).x(), k, 1e-15);
  EXPECT_FALSE(ERPolyline2D(pts({{1, 1}})).ConvertToNurbs());

  t_SmartPtr<ERFiniteEntity2DWF> a, b;
  ASSERT_EQ(three.splitAt(a, b, 1.25), 1);
  EXPECT_EQ((Seq{ERPolyline2D::castdown(a.get())->length(), a->lastPt(), b->firstPt()}),
            (Seq{3, ERPoint2D(1.25, 0), ERPoint2D(1.25, 0)}));
  EXPECT_EQ(ERPolyline2D::castdown(b.get())->length(), 3);
  ASSERT_EQ(ERPolygone2D(three.points()).splitAt(a, b, 2.0), 1);
  EXPECT_EQ((Seq{bool(ERPolygone2D::castdown(a.get())), ERPolyline2D::castdown(a.get())->length(),
                 three.splitAt(a, b, 3.0)}),
            (Seq{true, 3, 0}));

  ERPolyline2D r = three;
  r.reverse();
  EXPECT_EQ(r.points()[0], ERPoint2D(3, 0));
  EXPECT_EQ(three.points()[0], ERPoint2D(0, 0));  // copies do not share edits
}

TEST(Polyline, ProjectionFeetAgainstIndependentFeet) {
  QORV_SEEDED(std::mt19937 rng, 2202);
  auto U = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
  for (int round = 0; round < 200; ++round) {
    const double scale = std::pow(10.0, U(-6, 6)), off = U(-1, 1) * 1e3 * scale;
    ERVec<ERPoint2D> v;
    const int n = 2 + int(U(0, 8));
    for (int i = 0; i < n; ++i) v.append(ERPoint2D(off + U(-1, 1) * scale, off + U(-1, 1) * scale));
    const ERPolyline2D l(v);
    const ERPoint2D p(off + U(-2, 2) * scale, off + U(-2, 2) * scale);
    ERVec<double> params;
    const int r = l.ProjectPoint(p, params, 0.0);
    // The feet by the segments' own projection, in long double.
    std::vector<LD> want;
    for (int i = 0; i < n; ++i) {
      const ERPoint2D a = v[i], b = v[(i + 1) % n];
      const LD dx = LD(b.x()) - a.x(), dy = LD(b.y()) - a.y();
      const LD s = ((LD(p.x()) - a.x()) * dx + (LD(p.y()) - a.y()) * dy) / (dx * dx + dy * dy);
      if (s > 1e-9 && s < 1 - 1e-9) want.push_back(i + s);
      if (std::fabs(double(s)) < 1e-9 || std::fabs(double(s - 1)) < 1e-9) want.clear(), i = n;
    }
    if (want.empty() && r > 0 && params.length() != 0) continue;  // a foot at a vertex: either way
    ASSERT_EQ(r, int(want.size())) << round;
    for (int k = 0; k < r; ++k) EXPECT_NEAR(params[k], double(want[k]), 1e-9) << round;
  }
}

TEST(Polyline, StoredImageAndPrint) {
  const ERPolyline2D l(pts({{1, 2}, {3, -4}}));
  EXPECT_EQ(imageOf(l), withCount(32, qorv_test::doubles({1, 2, 3, -4})));
  EXPECT_EQ(l.binaryStoreSize(), 36u);
  std::ostringstream want;
  want << "(2)[" << ERPoint2D(1, 2) << "," << ERPoint2D(3, -4) << "]\n";
  EXPECT_EQ(printed(l), want.str());
  ERPolyline2D back;
  restoreFrom(back, imageOf(l));
  EXPECT_EQ((Seq{back.points().length(), back.points()[1]}), (Seq{2, ERPoint2D(3, -4)}));
  // Damaged: not whole points, longer than the record; the polyline stays.
  restoreFrom(back, withCount(24, qorv_test::doubles({9, 9, 9})));
  EXPECT_EQ(back.points()[1], ERPoint2D(3, -4));
  restoreFrom(back, withCount(0x7FFFFFF0, qorv_test::doubles({9, 9})));
  EXPECT_EQ(back.points().length(), 2);
  ERVec<ERPoint3D> p3;
  p3.append(ERPoint3D(1, 2, 3));
  EXPECT_EQ(imageOf(ERPolyline3D(p3)), withCount(24, qorv_test::doubles({1, 2, 3})));
}

TEST(Shapes, ProjectionIsTheNearestEdgeSignedOnTheLeft) {
  QORV_SEEDED(std::mt19937 rng, 2203);
  auto U = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
  for (int round = 0; round < 500; ++round) {
    const double scale = std::pow(10.0, U(-100, 100)), off = U(-1, 1) * 1e4 * scale;
    const double width = U(0.1, 3) * scale * (U(0, 1) < 0.5 ? -1 : 1);
    const ERRectangle2D rect(ERPoint2D(off, -off), ERVector2D(U(-1, 1), U(-1, 1)),
                             U(0.1, 3) * scale, width);
    const ERPoint2D p(off + U(-3, 3) * scale, -off + U(-3, 3) * scale);
    double d = 0;
    ASSERT_NE(rect.SignedMinimalDistance(p, d), EREntity::DISTMIN_NONE);
    LD best = 1e308L * 10;
    const ERVec<ERPoint2D>& v = rect.points();
    for (int i = 0; i < 4; ++i) best = std::min(best, segDist(p, v[i], v[(i + 1) % 4]));
    EXPECT_NEAR(std::fabs(d), double(best), 1e-12 * (scale + std::fabs(off))) << round;
    // The batch distance: the least distance to the rectangle and to a random outline (a point,
    // a segment, any turn of either orientation).
    ERVec<ERPoint2D> poly;
    LD polyBest = 1e308L * 10;
    const int n = 1 + int(U(0, 9));
    for (int i = 0; i < n; ++i)
      poly.append(ERPoint2D(off + U(-2, 2) * scale, -off + U(-2, 2) * scale));
    for (int i = 0; i < n; ++i)
      polyBest = std::min(polyBest, segDist(p, poly[i], poly[(i + 1) % n]));
    const double xy[2] = {p.x(), p.y()};
    double got[2] = {};
    qorv::Distances(rect.points(), xy, 1, got);
    qorv::Distances(poly, xy, 1, got + 1);
    EXPECT_NEAR(got[0], double(best), 1e-12 * (scale + std::fabs(off))) << round;
    EXPECT_NEAR(got[1], double(polyBest), 1e-12 * (scale + std::fabs(off))) << round;
    // Inside the rectangle (its own frame) <=> on the left of a counter-clockwise outline.
    const ERVector2D D = rect.main_direction(), N = rect.auxiliary_direction();
    const ERVector2D w = p - rect.centre();
    const bool inside = std::fabs(w * D) < rect.length() / 2 && std::fabs(w * N) < rect.width() / 2;
    if (double(best) > 1e-9 * scale) {
      EXPECT_EQ(d < 0, inside == (width > 0)) << round;
    }
  }
  // The example, a tie, a vertex reached from both edges.
  const ERRectangle2D r(ERPoint2D(0, 0), ERVector2D(1, 0), 4, 2);
  EXPECT_EQ((Seq{r.points()[0], r.points()[2]}), (Seq{ERPoint2D(-2, -1), ERPoint2D(2, 1)}));
  double d = 0;
  ERPoint2D foot;
  int edge = -1;
  EXPECT_EQ(r.SignedMinimalDistance(ERPoint2D(0, 0), d), EREntity::DISTMIN_DEGENERATE);
  EXPECT_EQ((Seq{d, r.SignedMinimalDistance(ERPoint2D(3, 0), d), d}),
            (Seq{-1.0, EREntity::DISTMIN_NORMAL, 1.0}));
  EXPECT_EQ((Seq{r.Project(ERPoint2D(3, 2), foot, d, edge), foot,
                 bool(r.ProjectPt(ERPoint2D(0, 0), foot)),
                 bool(r.Get_Entity_Number(ERPoint2D(0, -0.5), edge)), edge}),
            (Seq{EREntity::DISTMIN_NORMAL, ERPoint2D(2, 1), false, true, 0}));
  EXPECT_EQ((Seq{qorv::Projection(ERPoint2D(0, 0), ERVec<ERPoint2D>(), foot, d, edge),
                 qorv::Projection(ERPoint2D(std::nan(""), 0), r.points(), foot, d, edge)}),
            (Seq{EREntity::DISTMIN_NONE, EREntity::DISTMIN_NONE}));
  // Many points at once answer as one at a time (blocks of points inside); NaN for a point
  // that is not finite and for an empty outline.
  std::vector<double> xy(1202), many(601), one(601);
  for (std::size_t k = 0; k < xy.size(); ++k) xy[k] = std::sin(double(k)) * 3;
  xy[6] = std::nan("");
  qorv::Distances(r.points(), xy.data(), 601, many.data());
  for (std::size_t k = 0; k < 601; ++k) qorv::Distances(r.points(), &xy[2 * k], 1, &one[k]);
  EXPECT_EQ(std::memcmp(many.data(), one.data(), 601 * sizeof(double)), 0);
  qorv::Distances(ERVec<ERPoint2D>(), xy.data(), 1, &one[0]);
  EXPECT_TRUE(std::isnan(many[3]) && std::isnan(one[0]) && !std::isnan(many[2]));
}

TEST(Shapes, RectangleOutlineAndImages) {
  // PtCur itself, wrapped parameters included: the property test below.
  const ERRectangle2D r(ERPoint2D(1, 1), ERVector2D(0, 2), 4, 2);
  EXPECT_EQ(r.main_direction(), ERVector2D(0, 1));
  const ERCompCurve2D c = r.composite_curve();
  ASSERT_EQ(c.entries(), 4);
  for (int k = 0; k <= 40; ++k) EXPECT_LE(distance(c(k * 0.1), r(k * 0.1)), 1e-15) << k;
  EXPECT_EQ(ERRectangle2D().main_direction(), ERVector2D(1, 0));
  ERRectangle2D rev = r;
  rev.reverse();
  EXPECT_DOUBLE_EQ(rev.length(), 4);
  double d1 = 0, d2 = 0;
  r.SignedMinimalDistance(ERPoint2D(1, 1), d1);
  rev.SignedMinimalDistance(ERPoint2D(1, 1), d2);
  EXPECT_EQ(d1, -d2);

  const ERRectangle2D s(ERPoint2D(0, 0), ERVector2D(1, 0), 4, 2);
  EXPECT_EQ(imageOf(s), withCount(64, qorv_test::doubles({-2, -1, 2, -1, 2, 1, -2, 1})));
  std::ostringstream want;
  want << "Rectangle 2D:\n            : Corner1 " << ERPoint2D(-2, -1) << "\n            : Corner2 "
       << ERPoint2D(2, -1) << "\n            : Corner3 " << ERPoint2D(2, 1)
       << "\n            : Corner4 " << ERPoint2D(-2, 1) << "\n            : Length  " << 4.0
       << "\n            : Width   " << 2.0 << "\n";
  EXPECT_EQ(printed(s), want.str());
}

TEST(Shapes, RegularPolygons) {
  ERRegularPolygon2D sq(ERPoint2D(0, 0), ERVector2D(1, 0), 2, 4);
  EXPECT_EQ(sq.nb_side(), 4);
  EXPECT_TRUE(Near(Seq{sq.outside_circle().radius(), sq.inside_circle().radius(), sq.length_side()},
                   Seq{std::sqrt(2.0), 1.0, 2.0}, 1e-15));
  EXPECT_EQ(sq.offset(1), 1);
  EXPECT_NEAR(sq.length_side(), 4.0, 1e-14);
  // Unsigned angle: (0, -1) puts vertex 0 above the centre.
  const ERRegularPolygon2D down(ERPoint2D(5, 5), ERVector2D(0, -1), 1, 6);
  EXPECT_NEAR(down.points()[0].x(), 5, 1e-15);
  EXPECT_GT(down.points()[0].y(), 5);
  // Degenerate input: no vertices and the neutral values.
  for (const ERRegularPolygon2D& g :
       {ERRegularPolygon2D(ERPoint2D(1, 1), ERVector2D(1, 0), 1, 2),
        ERRegularPolygon2D(ERPoint2D(1, 1), ERVector2D(1, 0), 0, 5),
        ERRegularPolygon2D(ERPoint2D(1, 1), ERVector2D(1, 0), std::nan(""), 5)}) {
    EXPECT_EQ((Seq{g.nb_side(), g.barycenter(), g.outside_circle().radius()}),
              (Seq{0, ERPoint2D(0, 0), 0}));
    EXPECT_EQ(g.main_direction(), ERVector2D(1, 0));
    double d = 0;
    EXPECT_EQ(g.SignedMinimalDistance(ERPoint2D(0, 0), d), EREntity::DISTMIN_NONE);
  }
  // A failed offset leaves the polygon alone.
  ERRegularPolygon2D bent = sq;
  bent.points()[1] = ERPoint2D(100, 0);
  const qorv_test::Bytes before = imageOf(bent);
  EXPECT_EQ((Seq{bent.offset(1), imageOf(bent), sq.offset(std::nan(""))}), (Seq{0, before, 0}));
  // Every parameter in [0, n] lands on the outline; the outline curve runs as PtCur.
  const ERRegularPolygon2D h(ERPoint2D(-3, 2), ERVector2D(1, 1), 1.5, 7);
  const ERCompCurve2D c = h.composite_curve();
  ASSERT_EQ(c.entries(), 7);
  for (int k = 0; k <= 70; ++k) {
    double d = 1;
    h.SignedMinimalDistance(h(k * 0.1), d);
    EXPECT_LE(std::fabs(d), 1e-14) << k;
    EXPECT_LE(distance(c(k * 0.1), h(k * 0.1)), 1e-14) << k;
  }
  std::ostringstream want;
  want << "Regular Polygon 2D: \nBarycenter        : " << sq.barycenter()
       << "\nNumber of side    : 4\nLength of side    : " << sq.length_side() << "\n";
  EXPECT_EQ(printed(sq), want.str());
}

// Rectangles and regular polygons drawn anywhere, then turned, mirrored and scaled (negative
// factors too): PtCur at any t, whole numbers included, is the point and the side vector of the
// first side k with k <= t <= k + 1 after bringing t into [0, n], computed here from the vertices.
TEST(Shapes, OutlinePointAndTangentAtEveryParameter) {
  QORV_SEEDED(std::mt19937_64 rng, 3107);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int i = 0; i < 200; ++i) {
    const double s = std::pow(10.0, 6 * u(rng));
    const ERPoint2D c(s * u(rng) * 100, s * u(rng) * 100);
    const ERVector2D d(u(rng), u(rng));
    const ERRectangle2D rect(c, d, s * (1.1 + u(rng)), s * (1.1 + u(rng)));
    const ERRegularPolygon2D poly(c, d, s * (1.1 + u(rng)), 3 + static_cast<int>(rng() % 8));
    const double k = (rng() % 2 ? -1 : 1) * (0.5 + 2 * (u(rng) + 1));
    const ERTransfo2D T = ERTransfo2D(ERVector2D(u(rng), u(rng)), ERPoint2D(s * u(rng), 0)) *
                          ERTransfo2D(k, ERPoint2D()) *
                          (rng() % 2 ? ERTransfo2D(Coord2D::X) : ERTransfo2D());
    ERRectangle2D r2 = rect;
    ERRegularPolygon2D p2 = poly;
    if (i % 2) r2.transformFrom(T), p2.transformFrom(T);
    const ERVec<ERPoint2D>* verts[] = {&r2.points(), &p2.points()};
    for (int w = 0; w < 2; ++w) {
      const ERVec<ERPoint2D>& v = *verts[w];
      const int n = v.length();
      ASSERT_GE(n, 3);
      for (int j = 0; j < 12; ++j) {
        const double t =
            j < 6 ? static_cast<double>(static_cast<int>(rng() % 21) - 8) : 12 * u(rng) + 2;
        double tw = t;
        while (tw < 0) tw += n;
        while (tw > n) tw -= n;
        int side = 0;
        while (!(side <= tw && tw <= side + 1)) ++side;
        const ERPoint2D a = v[side], b = v[(side + 1) % n];
        const ERInfoPoint2D e = w == 0 ? r2.PtCur(t) : p2.PtCur(t);
        const double tol = 1e-13 * (std::fabs(a.x()) + std::fabs(a.y()) + distance(a, b));
        EXPECT_LE(distance(e.point(), a + (b - a) * (tw - side)), tol) << t << " " << w;
        EXPECT_LE(distance(ERPoint2D() + e.tangente(), ERPoint2D() + (b - a)), tol)
            << t << " " << w;
      }
    }
  }
}

TEST(Shapes, RoundedSlots) {
  const ERRoundedSlot2D s(ERPoint2D(0, 0), ERPoint2D(4, 0), 1);
  EXPECT_EQ(s.length(), 6);
  EXPECT_LE(distance(s(0.5), ERPoint2D(-1, 0)), 1e-15);
  EXPECT_LE(distance(s(1.5), ERPoint2D(2, -1)), 1e-15);
  EXPECT_LE(distance(s(2.5), ERPoint2D(5, 0)), 1e-15);
  EXPECT_LE(distance(s(3.5), ERPoint2D(2, 1)), 1e-15);
  EXPECT_EQ((Seq{s.PtCur(5).point(), s.PtCur(5).parameter()}), (Seq{ERPoint2D(0, 0), 5}));
  const ERCompCurve2D c = s.composite_curve();
  ASSERT_EQ(c.entries(), 4);
  for (int k = 0; k <= 40; ++k) EXPECT_LE(distance(c(k * 0.1), s(k * 0.1)), 1e-14) << k;
  // Tangents: true derivatives, continuous around the outline.
  const ERVector2D t0 = s.PtCur(1.0).tangente(), t1 = s.PtCur(1.0 + 1e-12).tangente();
  EXPECT_NEAR(t0.x() / t0.norme(), t1.x() / t1.norme(), 1e-9);
  // Signed distance against the segment distance minus r.
  std::mt19937 rng(qorv_test::seedFor(2204));
  auto U = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
  for (int k = 0; k < 300; ++k) {
    const ERRoundedSlot2D g(ERPoint2D(U(-5, 5), U(-5, 5)), ERPoint2D(U(-5, 5), U(-5, 5)),
                            U(0.1, 2));
    const ERPoint2D p(U(-8, 8), U(-8, 8));
    double d = 0;
    ERPoint2D foot;
    int edge = 0;
    g.Project(p, foot, d, edge);
    EXPECT_NEAR(d, double(segDist(p, g.center1(), g.center2())) - g.radius(), 1e-13);
    EXPECT_NEAR(distance(foot, p), std::fabs(d), 1e-13);
  }
  // Coincident centres: documented axes, no NaN.
  const ERRoundedSlot2D o(ERPoint2D(1, 1), ERPoint2D(1, 1), 2);
  EXPECT_EQ(o.main_direction(), ERVector2D(1, 0));
  EXPECT_EQ(o.auxiliary_direction(), ERVector2D(0, 1));
  for (int k = 0; k <= 8; ++k) EXPECT_FALSE(std::isnan(o(k * 0.5).x()));
  EXPECT_EQ(o.composite_curve().entries(), 4);
  double d = 0;
  EXPECT_EQ(o.SignedMinimalDistance(ERPoint2D(1, 1), d), EREntity::DISTMIN_DEGENERATE);
  EXPECT_EQ(d, -2);

  EXPECT_EQ(imageOf(s), qorv_test::doubles({0, 0, 4, 0, 1}));
  std::ostringstream want;
  want << "Rounded Slot 2D:\n               : Center1 " << ERPoint2D(0, 0)
       << "\n               : Center2 " << ERPoint2D(4, 0) << "\n               : Radius  " << 1.0
       << "\n";
  EXPECT_EQ(printed(s), want.str());
  ERRoundedSlot2D back;
  restoreFrom(back, imageOf(s));
  EXPECT_EQ(imageOf(back), imageOf(s));
}

TEST(Shapes, SpaceFormsFollowTheirFrame) {
  const ERPmIsometrie3D frame = ERChgRepere3D(ERVector3D(1, 2, -2), ERPoint3D(10, -20, 3e3));
  const ERRoundedSlot2D s(ERPoint2D(0, 0), ERPoint2D(4, 0), 1);
  const ERRoundedSlot3D s3(s, frame);
  for (int k = 0; k <= 8; ++k) {
    const ERPoint3D want = frame >> s(k * 0.5).castToPoint3D(Coord3D::Z, 0.0);
    EXPECT_LE(qorv::distance(s3(k * 0.5), want), 1e-12) << k;
    EXPECT_LE(qorv::distance(s3.composite_curve()(k * 0.5), want), 1e-12) << k;
  }
  double d = 0;
  s3.SignedMinimalDistance(frame >> ERPoint3D(2, 0, 5), d);
  EXPECT_NEAR(d, -1, 1e-12);
  const qorv_test::Bytes img = imageOf(s3);
  ASSERT_EQ(img.size(), 116u + 40u);
  EXPECT_EQ(qorv_test::Bytes(img.begin() + 116, img.end()), imageOf(s));
  EXPECT_EQ(s3.binaryStoreSize(), 156u);
  ERRoundedSlot3D back;
  restoreFrom(back, img);
  EXPECT_EQ(imageOf(back), img);
  auto flat = s3.get2DEntProjectedOn(frame);
  ASSERT_TRUE(flat);
  EXPECT_EQ(imageOf(*flat), imageOf(s));
  const ERRectangle3D r3(ERRectangle2D(ERPoint2D(0, 0), ERVector2D(1, 0), 4, 2), frame);
  EXPECT_TRUE(r3.getBox().MinPoint().x() < r3.getBox().MaxPoint().x());
  t_SmartPtr<EREntity3DWF> up =
      ERRegularPolygon2D(ERPoint2D(), ERVector2D(1, 0), 1, 5).get3DEquiv(frame);
  EXPECT_TRUE(ERRegularPolygon3D::castdown(up.get()));
}

}  // namespace
